// SIGTERM, SIGINT and SIGHUP as a Qt signal. The handler does nothing but note
// the time and write the signal's number into a pipe (both async-signal-safe);
// a QSocketNotifier on the other end reports it on the thread of the event
// loop, where the station ends cleanly. One instance per process.
// (lx6100-publish, which runs no Qt event loop, has handlers of its own:
// record/publish/main.cpp.)
//
// The end in progress. The first signal (the handler notes when it came), or
// beginEnd() for an end that did not come by a signal ("退出"), starts the end. Any of the three signals
// that comes after that ends the process at once, from the handler itself:
// the signal's default action is restored and the signal raised again, so the
// process dies by it as a program without handlers does. That is the way out
// when the clean end takes too long for whoever sent the signal, and it needs
// nothing from a GUI thread that may be waiting for the disk.
//
// The last resort. armDeadline() starts a thread that ends the process with
// _exit() at the given time unless it has ended by then: nothing the end waits
// for (a disk that holds a sync) keeps the process alive past it.
#pragma once

#include <QObject>

#include <chrono>

class QSocketNotifier;

namespace station {

class ExitSignals : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;

    // Whether the handlers are in place (false when the pipe could not be made).
    bool isInstalled() const { return m_notifier != nullptr; }

    // Marks the end as begun: a signal from now on ends the process at once.
    static void beginEnd();
    // When the first signal came; the epoch when none did.
    static Clock::time_point signalledAt();
    // Ends the process with _exit(code) at `at`, from a thread of its own,
    // unless it ended before. Once per process; later calls do nothing.
    static void armDeadline(Clock::time_point at, int code);

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace station
