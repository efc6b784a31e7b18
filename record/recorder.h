// The recorder mscom: a hidden object created at start-up that stores the live
// sample once per clock second into the sample database and raises the
// new-sample flag for the main window. It runs until the program ends, whether
// or not the link is open.
//
// Two threads. The GUI thread takes the samples, exactly when it always did;
// the recorder thread (recordwriter.h) commits them, so a slow disk never
// holds up a window. The recorder thread is the only one that uses the
// recorder's database connection (made there, as Qt wants); the GUI thread
// never touches the database for the recorder.
//
// Every tick of the 100 ms timer, on the GUI thread:
//   1  elapsed = |round((today - last date) + (time now - last time)) in seconds|,
//      halves to even; below 1 the tick ends here
//   2  the clock's date and time become the last date and time, and the sample
//      is taken: that date and time, the ten live-sample values as they stand
//      in the image, whether it is live, and the time in UTC
//   3  the sample is handed to the recorder thread (a queued call)
// The clock has one-second resolution and the timer runs ten times a second, so
// one sample is taken in the first tick after each change of the clock's second.
// A clock set back by an hour gives |-3600| s and takes one at once.
//
// A sample's road, on the recorder thread, in the order they were taken:
//   4  "select * from  sl_void": position 0 is the pointer (position 2 is read
//      too); a pointer outside 0..65499 restarts the ring at 0
//   5  row pointer + 1 gets the sample, and sl_void positions 0 and 1 get its
//      id, in one transaction with synchronous=FULL (see samplestore.h)
//   6  the result goes back to the GUI thread (a queued call), which keeps the
//      pointer and, when notify enabled is set, raises the new-sample flag.
// So the flag says "committed"; as before a save that fails raises it too, so
// the live chart advances each second whether or not anything was stored. A
// sample whose commit has not come back when the next one is taken raises
// the flag then: a slow disk delays the flag by a second at most.
//
// Live. A row is live when a polling cycle whose live-sample reads were
// answered (cycleStamp(), link/registerimage.h) completed since the row before
// the previous one: within the last two rows, the last two seconds at one row
// a second, so a slow line whose cycle takes more than a second stays live.
// Rows before the first "打开", after "关闭" and while the controller is silent
// are stored not live once two rows have gone by without an answered cycle.
//
// The queue. Samples wait in the recorder thread's event queue in the order
// they were taken; none is skipped or merged, however slow a commit. It is
// bounded: kQueueLimit samples (ten minutes, under 200 KB) may wait; a sample
// taken while that many wait is dropped, counted and told (SamplesDropped):
// past that point the disk is not slow but stuck. A commit running for
// kSlowCommitMs is told as DiskSlow, and DiskRecovered once nothing waits.
// Every such event comes as healthChanged() with a typed kind, a Chinese text
// for the link-state tooltip and details for the journal.
//
// Pointer reads. An empty sl_void at the start (or in a file the recorder has
// not written) starts the ring at pointer 0 and gets its row again with the
// first save; when the row vanishes from a file the recorder has written, the
// ring goes on after the last pointer it stored there. A pointer read that
// fails keeps the previous pointer; the row and the pointer are still saved.
// Row and pointer are committed together: a save that fails (or a crash in
// the middle of it) leaves the previous row and pointer as they were, and the
// next second's save tries the same id again.
//
// Checkpoints. The WAL is copied into the database file after every
// kCheckpointRows stored rows (a passive checkpoint, which never waits for a
// reader), so the file alone lags the stored rows by about a minute at most,
// and by nothing after finish(). Each row adds two pages to the WAL, so it
// stays near 120 pages (about 0.5 MB) instead of SQLite's 1000-page automatic
// checkpoint (eight minutes of rows). bench_recorder measures the cost.
//
// Faults are never shown as errors; they are told through healthChanged(). A
// database step that fails closes the connection; a closed connection is
// opened again at most once per sample (a clock second). A file that was
// deleted or replaced under the open connection is noticed with the next
// sample and opened again (created again when missing). A file that cannot
// be a sample database (malformed, another file's -wal replayed into it,
// empty, truncated, not a database) is set aside with its -wal and -shm
// (dbfile.h: Rdatabj.db.bad-<time>, never deleted) and a fresh ring starts at
// once, with the same sample. A read-only -shm that only we use is replaced.
// While no database is usable, the flag is still raised each second.
//
// The end. finish() (Station::shutDown) stops the timer, lets the samples
// still waiting be written for at most kExitDrainMs (the rest are dropped and
// counted), then folds the WAL into the file with a TRUNCATE checkpoint that
// waits up to kExitReaderWaitMs for readers (an export reading the whole
// ring takes about a second; see the figure in bench/README.md), closes, and
// ends the thread. What could not be done (rows left in the -wal, samples
// dropped) is returned and told as ExitIncomplete. The GUI thread waits for
// all of it: the window is gone by then.
//
// The journal (journal.h) goes the samples' road. startJournal() turns it on;
// from then on journal() stamps an event on the GUI thread (the clock's time,
// the user) and hands it to the recorder thread, which appends it between two
// samples in a transaction of its own (synchronous=FULL): the GUI thread never
// waits for it. Events that come while others still wait for the recorder
// thread join them, so a burst of writes on a slow disk costs one commit, not
// one each; at most kEventQueueLimit wait, and those given up past it are
// counted and told with the rest. Events that cannot be written (no usable
// file) wait on the recorder thread, at most kPendingEventLimit, and go into
// the file once a sample is stored again. The recorder thread journals its own faults and repairs (a file
// set aside goes first into the fresh file's journal). After finish() there
// is no recorder thread: the events that come then (the writes dropped at the
// end, ExitIncomplete, the end itself) are kept and written by endJournal()
// or the destructor on the calling thread, on a connection of their own, in
// one transaction. On each tick the PC clock is held against the monotonic
// clock: a jump of more than kClockJumpMs, or a change of the UTC offset
// (daylight saving, a time zone), is journaled with its size.
#pragma once

#include "common/datenum.h"
#include "record/journal.h"
#include "record/recorderhealth.h"
#include "record/recordwriter.h"

#include <QObject>
#include <QSqlDatabase>
#include <QThread>
#include <QTimer>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

namespace station {

class Recorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;
    static constexpr int kCheckpointRows = record::kCheckpointRows;  // one minute of rows
    static constexpr int kQueueLimit = 600;     // ten minutes of samples
    static constexpr int kSlowCommitMs = 2000;  // two samples wait behind it
    static constexpr int kExitDrainMs = 3000;
    static constexpr int kExitReaderWaitMs = 5000;
    // Beyond the two bounds of the end, the time a last commit on a slow disk
    // (two syncs of 200 ms each) needs to come back.
    static constexpr int kExitMarginMs = 2000;
    static constexpr int kEventQueueLimit = 1000;  // journal events waiting for the disk
    static constexpr qint64 kClockJumpMs = 2000;

    // The recorder of the station: system clock, <dataDir>/Rdatabj.db.
    explicit Recorder(QObject *parent = nullptr);
    // Starts the recorder thread, which opens the database at databasePath,
    // and starts the timer.
    Recorder(const Clock &clock, const QString &databasePath, QObject *parent = nullptr);
    ~Recorder() override;

    void start();
    void stop();

    struct FinishReport {
        bool walFolded = false;   // Rdatabj.db alone holds every stored row
        int samplesDropped = 0;   // samples that waited and were given up
        bool threadEnded = false; // false: the disk held the recorder thread past every bound
    };
    // The bounds of finish(): samples still waiting are written for drainMs,
    // the WAL is folded waiting readerWaitMs for readers, and the GUI thread
    // waits marginMs more for a commit in progress; so finish() returns within
    // their sum.
    struct FinishBounds {
        int drainMs = kExitDrainMs;
        int readerWaitMs = kExitReaderWaitMs;
        int marginMs = kExitMarginMs;
    };
    // The end of recording (see above). Nothing is recorded afterwards; later
    // calls return the first report.
    FinishReport finish();
    FinishReport finish(const FinishBounds &bounds);
    bool isRunning() const { return m_timer.isActive(); }
    int interval() const { return m_timer.interval(); }

    // One timer tick.
    void tick();

    // Stored rows between two checkpoints; 0 leaves them to SQLite's own
    // automatic checkpoint (bench_recorder measures the two side by side).
    void setCheckpointRows(int rows);
    // How long finish() waits for readers before it gives up folding the WAL.
    void setExitReaderWaitMs(int ms) { m_exitReaderWaitMs = ms; }
    // For tests: the commit time told as a slow disk, and the samples that
    // may wait (kSlowCommitMs and kQueueLimit otherwise).
    void setSlowCommitMs(int ms) { m_slowCommitMs = ms; }
    void setQueueLimit(int samples) { m_queueLimit = samples; }

    // The pointer as the recorder thread last reported it: the id of the
    // newest row it stored (or the one it read, before the first).
    std::int32_t pointer() const { return m_pointer; }
    bool isDatabaseOpen() const { return m_databaseOpen; }
    // Samples handed over whose result has not come back.
    int waiting() const { return int(m_pending.size()); }

    // For tests, benchmarks and tools: waits (at most timeoutMs) until the
    // recorder thread has dealt with everything handed over so far, then takes
    // its results and health reports in. True when it has. The station itself
    // never waits for the recorder.
    bool settle(int timeoutMs = 10000);
    // Runs look on the recorder thread with the recorder's connection and
    // waits for it (tests and benchmarks look into the connection this way).
    void inspect(const std::function<void(QSqlDatabase)> &look);

    // The journal (see above). startJournal() writes the start event, after
    // what the run before left (an unclean end, a clock set back since);
    // before it nothing is journaled.
    void startJournal(const QJsonObject &details);
    bool isJournaling() const { return m_journaling; }
    void journal(journal::Kind kind, const QJsonObject &details);
    // The last event of a run. After finish() it is written here, with the
    // events that came since, before the call returns.
    void endJournal(const QJsonObject &details);

signals:
    // A row was committed.
    void stored(std::int32_t id);
    void healthChanged(const station::RecorderHealth &health);

private:
    friend class record::RecordWriter;
    void deliverResult(const record::WriteResult &result);
    void deliverHealth(const RecorderHealth &health);
    void deliverState(bool databaseOpen, std::int32_t pointer);
    void post(std::function<void()> job);
    void raiseFlag();
    // A health report of the GUI thread's own: told and journaled.
    void tell(RecorderHealthKind kind, const QString &details);
    void checkClock(const QDateTime &now);
    void writeLateEvents();

    const Clock &m_clock;
    QTimer m_timer;
    record::Handover m_handover;
    QThread m_thread;
    record::RecordWriter *m_writer = nullptr;  // lives on m_thread
    std::int32_t m_pointer = 0;
    bool m_databaseOpen = false;
    double m_lastDate = 0;  // last-record date, as w_date
    double m_lastTime = 0;  // last-record time, as w_time
    // Answered cycles at the previous two rows: [0] the previous, [1] the one before.
    std::uint64_t m_answeredAt[2] = {0, 0};
    // Samples handed over, oldest first: whether the flag was raised for it.
    std::deque<bool> m_pending;
    int m_dropped = 0;          // taken while the queue was full, since the last report
    bool m_slowTold = false;
    int m_exitReaderWaitMs = kExitReaderWaitMs;
    int m_slowCommitMs = kSlowCommitMs;
    int m_queueLimit = kQueueLimit;
    std::optional<FinishReport> m_finished;
    QString m_path;
    bool m_journaling = false;
    std::vector<journal::Event> m_lateEvents;  // after finish(): for endJournal()
    // The clock at the previous tick: UTC and monotonic ms, UTC offset.
    struct ClockSeen {
        qint64 utcMs = 0;
        qint64 monotonicMs = 0;
        int offsetS = 0;
    };
    std::optional<ClockSeen> m_clockSeen;
};

} // namespace station
