// Start-up: the splash first; when it closes, the main window (which loads as it
// is shown), then the poller and the recorder, which live until the program ends.
//
// The end. shutDown() is the one way the station ends, for "退出" and Esc and
// for SIGTERM, SIGINT and SIGHUP, in this order:
//   1  the line is held (link/linkthread.h: the exchange on it finishes,
//      nothing new goes out), and every window of the station disappears at
//      once; the main window unloads (its timers, the poller, its database
//      connection); ending() is emitted
//   2  the recorder finishes: the samples still waiting are written and the
//      WAL is folded into Rdatabj.db, so the file alone holds every row
//   3  the writes still queued get a short, bounded time on the line; none when
//      the link is lost ("通讯中断"); what is left is dropped and logged with
//      its register and value; the exchange on the line then is not waited for
//   4  the journal's end event is written (app/stationjournal.h), with the
//      writes dropped just now
//   5  the event loop ends; the process ends (lx6100-station ends it without
//      its static destructors when a thread was left in an exchange or on the
//      disk, see leftThreadsRunning())
// A signal that comes during the end ends the process at once
// (common/exitsignals.h).
//
// The time of the end, counted from the first signal (or from "退出"), in the
// worst case of each step:
//      0 ms  the line held, the windows hidden (one turn of the event loop
//            shows it on the screen)
//   1000 ms  the samples still waiting are written (a healthy disk has none
//            waiting; a disk whose syncs take 200 ms has two or three)
//   1500 ms  the WAL is folded, waiting this long for a reader to finish (an
//            export of the whole ring reads for about a second, bench/README.md)
//    500 ms  a commit begun before the samples' time ran out comes back (two
//            syncs of 200 ms)
//   ------
//   3000 ms  the recorder's end at most (kRecorderBounds)
//   1000 ms  queued writes: about 20 on a line that answers at 9600 (a write
//            and its reply are 16 characters, 18 ms on the wire, 45 ms with the
//            controller's delay), or one write on a line that has gone silent
//            just now (552 ms); never past kWritesEndBy
//    100 ms  a link thread between exchanges wakes up and returns
//            (link::LinkThread::kWakeUp); one in an exchange is left to it
//    600 ms  the journal's end event and the events since the recorder's end
//            (the writes dropped), one transaction and a checkpoint on a
//            connection of their own (three syncs of 200 ms)
//   ------
//   4700 ms  the station's end at most; the process's own end (destructors,
//            the display connection) takes a few ms more
//   4800 ms  the last resort (kLastResort): whatever still holds the process
//            (a disk that holds a sync past every bound) it ends with _exit()
// so the process is gone within 5 s of the first signal on any line.
#pragma once

#include "link/registerimage.h"
#include "record/recorder.h"

#include <QObject>
#include <QPointer>

#include "app/splash.h"
#include <chrono>
#include <memory>
#include <optional>

namespace station {

class MainWindow;
class Poller;
struct RecorderHealth;

// How the station was told to end, for the event journal.
enum class EndWay : std::uint8_t {
    Command,    // "退出" or Esc
    Terminate,  // SIGTERM (a shutdown, systemd, kill)
    Interrupt,  // SIGINT (Ctrl+C where it was started)
    HangUp,     // SIGHUP (the session ended)
};

// The way in English words ("command", "SIGTERM", ...), for logs and the journal.
const char *endWayName(EndWay way);
// The way of a signal number; Terminate for one the station does not handle.
EndWay endWayOfSignal(int signalNumber);

class Station : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    static constexpr Recorder::FinishBounds kRecorderBounds{1000, 1500, 500};
    static constexpr std::chrono::milliseconds kWritesFor{1000};
    static constexpr std::chrono::milliseconds kWritesEndBy{4000};
    static constexpr std::chrono::milliseconds kLastResort{4800};

    // What the end did.
    struct EndReport {
        EndWay way = EndWay::Command;
        Clock::time_point began{};  // the first signal, or the command
        bool walFolded = false;     // Rdatabj.db alone holds every stored row
        bool recorderEnded = true;  // false: the recorder thread is still on the disk
        bool linkEnded = true;      // false: the link thread is still in an exchange
    };

    Station();
    ~Station() override;

    // Shows the splash; the rest follows from its timers.
    void start();

    // lx6100-station --resume: once the main window is loaded these settings
    // are chosen and the link is opened, as if "打开" had been pressed.
    void setResume(const LinkSettings &settings) { m_resume = settings; }

    // The end (see above). Safe to call more than once; later calls do nothing.
    void shutDown(EndWay way = EndWay::Command);
    // When the end began: the first signal, or the command.
    Clock::time_point endBegan() const { return m_endBegan; }
    // How the station ended, once it has.
    std::optional<EndReport> endReport() const { return m_end; }
    // The end left a thread that must not meet the static destructors.
    bool leftThreadsRunning() const { return m_end && (!m_end->recorderEnded || !m_end->linkEnded); }

    // Brings the station's shown windows to the front (a second start asked).
    void raiseWindows();

    Splash *splash() const { return m_splash; }
    MainWindow *mainWindow() const { return m_main.get(); }
    Poller *poller() const { return m_poller.get(); }
    QObject *recorder() const { return m_recorder.get(); }

signals:
    // The main window is shown and loaded, the poller and recorder exist.
    void started();
    // The end has begun: the windows are gone, the recorder has not finished.
    void ending(station::EndWay way);
    // raiseWindows() brought the shown windows to the front.
    void windowsRaised();

private:
    void afterSplash();
    void onRecorderHealth(const RecorderHealth &health);
    void onLinkStateShown(const QString &text);

    bool m_shuttingDown = false;
    std::optional<LinkSettings> m_resume;
    std::optional<LinkSettings> m_saved;  // the settings last kept for --resume
    std::optional<EndReport> m_end;
    Clock::time_point m_endBegan{};
    QPointer<Splash> m_splash;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<Poller> m_poller;
    std::unique_ptr<QObject> m_recorder;
};

} // namespace station
