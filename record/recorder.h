// The recorder mscom: a hidden object created at start-up that stores the live
// sample once per clock second into the sample database and raises the
// new-sample flag for the main window. It runs until the program ends, whether
// or not the link is open.
//
// Every tick of its 100 ms timer:
//   1  "select * from  sl_void": position 0 is the pointer (position 2 is read too)
//   2  a pointer outside 0..65499 restarts the ring at 0
//   3  elapsed = |round((today - last date) + (time now - last time)) in seconds|,
//      halves to even; below 1 the tick ends here
//   4  id = pointer + 1; the clock's date and time become the last date and time
//   5  row id gets the date, the time and the ten live-sample values as they
//      stand in the image, and sl_void positions 0 and 1 get id, in one
//      transaction (see samplestore.h)
//   6  when notify enabled is set, the new-sample flag is raised
// The clock has one-second resolution and the timer runs ten times a second, so
// one row is written in the first tick after each change of the clock's second.
// A clock set back by an hour gives |-3600| s and writes at once.
//
// The pointer, the row and the copy are committed together: a save that fails
// (or a crash in the middle of it) leaves the previous row and pointer as they
// were, and the next second's save tries the same id again.
//
// Pointer reads. An empty sl_void starts the ring at pointer 0 and gets its
// row again with the first save. A pointer read that fails keeps the pointer of
// the previous tick: in the tick that writes, the row and the pointer are still
// saved (one transaction); in any other tick the connection is closed and
// opened again in the next clock second, like any failed step.
//
// Checkpoints. The WAL is copied into the database file after every
// kCheckpointRows stored rows (a passive checkpoint, which never waits for a
// reader), so the file alone lags the stored rows by about a minute at most,
// and by nothing after finish(). Each row adds two pages to the WAL, so it
// stays near 120 pages (about 0.5 MB) instead of SQLite's 1000-page automatic
// checkpoint (eight minutes of rows). bench_recorder measures the cost.
//
// Faults are never shown. A database step that fails closes the connection; a
// closed connection is opened again at most once a clock second, so a locked
// or broken file costs at most one attempt (and one busy timeout) a second on
// the user-interface thread. A file that was deleted or replaced under the open
// connection is noticed on the next tick and opened again (created again when
// missing). While no database is usable, the flag is still raised each second.
#pragma once

#include "common/datenum.h"
#include "record/sampledb.h"

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <optional>

namespace station {

class Recorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 100;
    static constexpr int kCheckpointRows = 60;  // one minute of rows

    // The recorder of the station: system clock, <dataDir>/Rdatabj.db.
    explicit Recorder(QObject *parent = nullptr);
    // Opens the database at databasePath and starts the timer.
    Recorder(const Clock &clock, const QString &databasePath, QObject *parent = nullptr);
    ~Recorder() override;

    void start();
    void stop();
    // The end of recording: stops the timer, copies the WAL into the database
    // file and closes the connection. Nothing is recorded afterwards.
    void finish();
    bool isRunning() const { return m_timer.isActive(); }
    int interval() const { return m_timer.interval(); }

    // One timer tick.
    void tick();

    // Stored rows between two checkpoints; 0 leaves them to SQLite's own
    // automatic checkpoint (bench_recorder measures the two side by side).
    void setCheckpointRows(int rows);

    // The pointer as last read from sl_void or stored.
    std::int32_t pointer() const { return m_pointer; }
    bool isDatabaseOpen() const { return m_connection.isOpen(); }

private:
    // Opens the connection when it is closed and no attempt was made in this
    // clock second; closes it first when its file was deleted or replaced.
    bool ensureOpen(qint64 second);
    void fault(qint64 second);

    const Clock &m_clock;
    sampledb::Connection m_connection;
    QTimer m_timer;
    std::int32_t m_pointer = 0;
    double m_lastDate = 0;  // last-record date, as w_date
    double m_lastTime = 0;  // last-record time, as w_time
    std::optional<qint64> m_lastOpenSecond;
    int m_checkpointRows = kCheckpointRows;
    int m_rowsSinceCheckpoint = 0;
    bool m_faulted = false;  // a fault since the last stored row; for the log only
};

} // namespace station
