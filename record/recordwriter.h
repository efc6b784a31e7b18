// The recorder's half on the recorder thread: it owns the recorder's database
// connection and commits the samples the GUI thread hands over, in order. The
// design (threads, the road of a sample, the queue, the end) is written out
// in recorder.h; this is the part that talks to SQLite.
#pragma once

#include "record/journal.h"
#include "record/recorderhealth.h"
#include "record/sampledb.h"
#include "record/samplestore.h"

#include <QDateTime>
#include <QObject>
#include <QSqlDatabase>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace station {

class Recorder;

namespace record {

// Stored rows between two passive checkpoints: one minute of rows (recorder.h).
inline constexpr int kCheckpointRows = 60;

// One sample as the GUI thread took it; the recorder thread gives it its id.
struct TakenSample {
    sampledb::Sample sample;
    qint64 second = 0;   // the clock second it belongs to (one open attempt each)
    QDateTime when;      // the clock's time, for the name of a set-aside file
};

// What the recorder thread did with one sample.
struct WriteResult {
    std::int32_t id = 0;        // the id it was given (0 when dropped at the end)
    bool stored = false;
    std::int32_t pointer = 0;   // the recorder thread's pointer afterwards
    bool databaseOpen = false;
};

// What the end of recording did.
struct EndReport {
    bool walFolded = false;      // Rdatabj.db alone holds every stored row
    int samplesDropped = 0;      // waiting samples given up at the end
    bool ended = false;          // the recorder thread ran the end
};

// The state the two threads share, under one mutex.
struct Handover {
    std::mutex mutex;
    std::condition_variable changed;
    int outstanding = 0;                 // jobs posted and not yet done
    EndReport end;
    // Set by the GUI thread at the end: samples not begun by then are dropped.
    std::atomic<qint64> dropAfterMs{std::numeric_limits<qint64>::max()};
    // When the running commit began (steady clock, ms); -1 when none runs.
    std::atomic<qint64> busySinceMs{-1};
    // Journal events handed over and not yet taken up (one job takes all
    // that wait, in one transaction), and those the GUI thread gave up
    // because too many waited (told with the next ones taken up).
    std::vector<journal::Event> events;
    bool eventsAsked = false;  // a job to take them is posted
    int eventsLost = 0;
};

// Events the recorder thread keeps while no file takes them (journal.h).
inline constexpr int kPendingEventLimit = 1000;

// Milliseconds of a steady clock shared by the two threads.
qint64 steadyMs();

class RecordWriter : public QObject {
    Q_OBJECT
public:
    RecordWriter(QString path, Recorder *recorder, Handover &handover);
    ~RecordWriter() override;

    // Jobs, each run on the recorder thread.
    void begin(qint64 second, const QDateTime &when);  // the first open
    void write(const TakenSample &taken);
    void end(int readerWaitMs);
    // The journal: its first event of a run (with what the run before left),
    // then every other, each written at once when the file takes it.
    void startJournal(const journal::Event &start);
    void takeEvents();
    void setCheckpointRows(int rows);
    void inspect(const std::function<void(QSqlDatabase)> &look);

private:
    enum class Repair { None, SetAside, IndexReplaced };

    bool ensureOpen(qint64 second, const QDateTime &when);
    // Why the open file is not whole (SQLite's quick check), or nullopt;
    // *damaged tells a damaged file from one that could not be read now.
    std::optional<QString> wholeFileFault(bool *damaged);
    bool openAndCheck(const QDateTime &when);
    // Sets the set at the path aside and opens a fresh ring there.
    bool startAfresh(const QString &why, const QDateTime &when);
    void suspend(const QString &why);
    void fault(qint64 second, const QString &why);
    std::int32_t nextPointer();
    bool save(sampledb::Sample &sample, const QDateTime &when);
    void report(RecorderHealthKind kind, const QString &details, QJsonObject fields = {});
    void deliver(const WriteResult &result);
    // An event of the recorder thread's own (a fault, a repair), at the time
    // of the job that met it; first: ahead of the events still waiting.
    void journalOwn(const QString &what, const QString &text, const QString &details, QJsonObject fields = {},
                    bool first = false);
    void keepEvent(journal::Event event, bool first = false);
    // Writes the events kept, when journaling and the file is the one we
    // opened, sound and ours.
    void flushEvents();
    QString newestSampleTime();

    QString m_path;
    Recorder *m_recorder;
    Handover &m_handover;
    std::unique_ptr<sampledb::Connection> m_connection;
    std::int32_t m_pointer = 0;
    // The last pointer stored into the file open now: a pointer row that
    // vanishes mid-run continues from it; a file opened afresh starts unset.
    std::optional<std::int32_t> m_writtenPointer;
    sampledb::Connection::Identity m_fileIdentity;
    // The file's header as it stood after our open or our last checkpoint: only
    // a checkpoint writes it, so a change means another hand wrote the file.
    QByteArray m_knownHeader;
    std::optional<qint64> m_lastOpenSecond;
    int m_checkpointRows = kCheckpointRows;
    int m_rowsSinceCheckpoint = 0;
    bool m_faulted = false;    // a fault since the last stored row
    bool m_suspended = false;  // told as Suspended, not yet as Resumed
    // The journal: on from the start event; events wait here, in order,
    // until the file takes them.
    bool m_journaling = false;
    std::deque<journal::Event> m_events;
    int m_eventsDropped = 0;
    QDateTime m_jobTime;               // when the running job's sample or event was taken
    QString m_sampleBeforeRun;         // the newest sample's time when the recorder began
};

} // namespace record
} // namespace station
