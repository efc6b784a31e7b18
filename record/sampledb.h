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
// are never rewritten or removed (only its journal mode is switched to WAL).
// Connections open with "mode=rw", so SQLite never creates an empty file on its
// own when the file vanished between the check and the open.
//
// One WAL for whatever file stands at the path. SQLite names the -wal and -shm
// files after the path, not after the file: a connection still open on a file
// that was deleted or replaced (mv, rsync, a restore) shares them with every
// connection to the new file at the path. So:
//  - SQLite never checkpoints on close by itself here. The station checkpoints
//    only through a connection whose file is the one at the path and carries
//    SQLite's header; a file replaced under us, or overwritten with garbage, is
//    never written again. (The last close of a current, sound file still lets
//    SQLite checkpoint and remove the -wal, so a clean exit leaves one file.)
//  - Before any connection of the station opens the file at the path, every
//    connection of the station still open on an older file there is closed.
//    The -wal and -shm that older file leaves behind (we know them by inode)
//    are removed before the new file is opened: SQLite would replay a foreign
//    WAL into the new file. The rows of the old file still in its WAL (at most
//    one checkpoint period, see recorder.h) go with the file that was replaced.
//  - A file that is not an SQLite database (a garbage header) is not opened.
//
// Read-only files and folders. The recorder opens read-write or not at all and
// tries again once a second. The main window's connection falls back to a
// read-only open when the read-write one fails, so the history can still be
// paged: with the -wal of an unclean stop it reads through it; without one, in
// a folder where no -wal can be made, it reads the file alone ("immutable").
// A read-write open first closes every read-only connection of the station to
// the file: SQLite shares one -shm mapping between the connections of a process
// to one file, and a read-only mapping would make every later write fail.
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

// How a connection may use the file.
enum class Access {
    ReadWrite,          // the recorder: read-write or not at all; creates a missing file
    ReadOnlyFallback,   // the main window: read-write, else read-only; creates a missing file
    ReadOnly,           // readers beside the station (the export tool): never writes, never creates
};

enum class Checkpoint { Passive, Truncate };

// One named connection to the sample database. open() creates the file when it
// is missing (unless read-only), opens it and sets the connection up (busy
// timeout, WAL, synchronous=FULL, no checkpoint on close). All failures are
// typed by the return value and logged on lcRecord; nothing is shown. Every
// connection of the process takes part in the rules above; all run on one
// thread.
class Connection {
public:
    Connection(QString name, QString path, Access access = Access::ReadWrite);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool open();
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    // Closes every other connection of the process to this path, so that all
    // of them open again afresh: after a failed write, a connection that
    // stayed open would keep SQLite's view of the -shm (a read-only mapping,
    // say) alive for the next open.
    void closePeers() const;
    // Open, but only for reading (read-only access, or the fallback taken).
    bool isReadOnly() const { return m_db.isOpen() && m_readOnly; }

    // True while the path still names the file this connection has open. False
    // when the file was deleted, replaced or renamed since open(): SQLite keeps
    // working on the old file then, so the caller should close and open again.
    bool isCurrent() const;

    // Copies the WAL into the database file, PASSIVE (never waits, copies what
    // no reader still needs) or TRUNCATE (waits up to the busy timeout for
    // readers, then empties the WAL). Only through a read-write connection to
    // the current file that carries SQLite's header; returns whether the whole
    // WAL was copied.
    bool checkpoint(Checkpoint mode);

    QSqlDatabase database() const { return m_db; }
    // Why the last open() failed, as SQLite said it.
    const QString &lastError() const { return m_lastError; }
    const QString &name() const { return m_name; }
    const QString &path() const { return m_path; }

    struct Identity {
        quint64 device = 0;
        quint64 inode = 0;
        bool valid = false;
        bool operator==(const Identity &) const = default;
    };
    static Identity identityOf(const QString &path);

private:
    bool openWith(const char *mode, bool setUp);
    void leaveOlderFiles() const;
    void closeReadOnlyPeers() const;

    QString m_name;
    QString m_path;
    Access m_access;
    QSqlDatabase m_db;
    Identity m_identity;
    bool m_readOnly = false;
    QString m_lastError;
};

// Whether the file starts with SQLite's header. An empty file counts as sound
// (SQLite takes it for an empty database); a file that cannot be read too (the
// open then says why). It opens and closes a descriptor of its own: never call
// it on a file that a connection of this process has open (closing that
// descriptor drops SQLite's POSIX locks on the file).
bool hasDatabaseHeader(const QString &path);

// The main window's own connection ("ssqx") to <dataDir>/Rdatabj.db. Opens it
// on first call (creating the file when missing) and opens it again when it is
// closed or the file was deleted or replaced since; returns the connection,
// which may be closed when the file is unusable and is read-only when the file
// or its folder is. The history reader calls it
// before each load and keeps the returned handle only for that load. Closed by
// closeMainWindowConnection() (drop every copy of the handle first) or when the
// application object is destroyed.
QSqlDatabase openMainWindowConnection();
void closeMainWindowConnection();

} // namespace station::sampledb
