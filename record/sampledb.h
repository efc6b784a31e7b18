// The sample database: one SQLite file, Rdatabj.db in the data folder, with two
// tables whose column order is fixed (every reader reaches columns by position).
//
//   pv_data  one row per recorded second, a ring of kRingSize rows
//     0 w_id    INTEGER PRIMARY KEY  ring index 1..65500
//     1 w_date  REAL                 day number (whole days since 1899-12-30)
//     2 w_time  REAL                 time of day as a fraction of a day, to the second
//     3..12 v0..v9  REAL             live-sample values 0..9, each a 32-bit float
//                                    stored exactly as a double
//   sl_void  exactly one row
//     0 sl_pointer  INTEGER  w_id of the most recent row written
//     1 sl_copy     INTEGER  second copy of the pointer, written with position 0
//     2 sl_spare    INTEGER  read by the recorder, never written
//
// Durability. The file is kept in WAL mode with synchronous=FULL: every commit
// (one a second) syncs the WAL before it returns, so a row that was reported
// stored survives a power cut, not only a crash of the program. With
// synchronous=NORMAL the file would stay consistent but a power cut could take
// back the commits since the last checkpoint: a commit adds two pages to the
// WAL and a checkpoint comes every 1000 pages, so up to 500 rows, about eight
// minutes of samples. One fsync a second (0.2 to 4 ms measured on a virtual
// disk, see bench_recorder) is cheap for us. WAL also lets the main window's
// connection read while the recorder writes.
//
// Busy timeout: 200 ms. In normal use nothing else writes the file (the main
// window only reads, and WAL readers never block the writer), so a wait only
// arises from a foreign process holding the write lock. Everything runs on the
// user-interface thread, so the wait is a freeze: 200 ms is two recorder ticks,
// and after one failure the recorder touches the file at most once a second, so
// the window stalls at most 0.2 s in each second while the lock is held.
//
// Creating and replacing files. A missing file is created complete or not at
// all: the tables and the sl_void row are written into Rdatabj.db.new, which is
// renamed into place. An existing file is used as it is: its rows and tables
// are never rewritten or removed (only its journal mode is switched to WAL). Connections open with "mode=rw", so SQLite never creates an empty
// file on its own when the file vanished between the check and the open.
// Before a new file is renamed into place, -wal and -shm files left by a
// deleted one are removed: SQLite would take a stale WAL for the new file's
// own and replay it into the new file. (A connection still open on the deleted file does not touch the
// new file's -wal and -shm when it closes: SQLite sees that its file has moved
// and skips the checkpoint and the removal.)
#pragma once

#include <QSqlDatabase>
#include <QString>
#include <cstdint>

namespace station::sampledb {

inline constexpr char kFileName[] = "Rdatabj.db";
inline constexpr std::int32_t kRingSize = 65500;

// Connection names: the recorder (mscom) and the main window (ssqx).
inline constexpr char kRecorderConnection[] = "mscom";
inline constexpr char kMainWindowConnection[] = "ssqx";

// Query texts, used as they stand (two blanks after "from").
inline constexpr char kSelectControl[] = "select * from  sl_void";
inline constexpr char kSelectRowPrefix[] = "select * from  pv_data where w_id=";
// "select * from  pv_data where w_id=" followed directly by the id in decimal.
QString selectRowQuery(std::int32_t id);

// Column positions.
namespace col {
inline constexpr int kId = 0;
inline constexpr int kDate = 1;
inline constexpr int kTime = 2;
inline constexpr int kFirstValue = 3;
inline constexpr int kValueCount = 10;
inline constexpr int kRowColumns = kFirstValue + kValueCount;  // 13
inline constexpr int kPointer = 0;
inline constexpr int kPointerCopy = 1;
inline constexpr int kSpare = 2;
} // namespace col

inline constexpr int kBusyTimeoutMs = 200;

// <dataDir>/Rdatabj.db
QString defaultPath();

// Creates a new sample database at path: both tables and the sl_void row with
// pointer 0, in WAL mode. Precondition: nothing exists at path (an existing file
// or folder is never replaced; the call then fails). Creates the folder when
// missing. Returns false, with the reason on lcRecord, when the file could not
// be created; nothing is left at path then.
bool create(const QString &path);

// One named connection to the sample database. open() creates the file when it
// is missing, opens it and sets the connection up (busy timeout, WAL,
// synchronous=FULL). All failures are typed by the return value
// and logged on lcRecord; nothing is shown.
class Connection {
public:
    Connection(QString name, QString path);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool open();
    void close();
    bool isOpen() const { return m_db.isOpen(); }

    // True while the path still names the file this connection has open. False
    // when the file was deleted, replaced or renamed since open(): SQLite keeps
    // working on the old file then, so the caller should close and open again.
    bool isCurrent() const;

    QSqlDatabase database() const { return m_db; }
    const QString &name() const { return m_name; }
    const QString &path() const { return m_path; }

private:
    QString m_name;
    QString m_path;
    QSqlDatabase m_db;
    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        bool valid = false;
        bool operator==(const Identity &) const = default;
    };
    static Identity identityOf(const QString &path);
    Identity m_identity;
};

// The main window's own connection ("ssqx") to <dataDir>/Rdatabj.db. Opens it
// on first call (creating the file when missing) and opens it again when it is
// closed or the file was deleted or replaced since; returns the connection,
// which may be closed when the file is unusable. The history reader calls it
// before each load and keeps the returned handle only for that load. Closed by
// closeMainWindowConnection() (drop every copy of the handle first) or when the
// application object is destroyed.
QSqlDatabase openMainWindowConnection();
void closeMainWindowConnection();

} // namespace station::sampledb
