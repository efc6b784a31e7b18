// The sample database: one SQLite file, Rdatabj.db in the data folder, with two
// tables whose column order is fixed (every reader reaches columns by position).
//
//   pv_data  one row per recorded second, a ring of kRingSize rows
//     0 w_id    INTEGER PRIMARY KEY  ring index 1..65500
//     1 w_date  REAL                 day number (whole days since 1899-12-30)
//     2 w_time  REAL                 time of day as a fraction of a day, to the second
//     3..12 v0..v9  REAL             live-sample values 0..9, each a 32-bit float
//                                    stored exactly as a double
//     13 w_live  INTEGER             1: the values come from a polling cycle
//                                    answered since the row before the previous
//                                    one; 0: they repeat an image the controller
//                                    no longer feeds (before "打开", a silent
//                                    line); NULL: unknown (rows of older files)
//     14 w_utc   INTEGER             the sample's time in Unix seconds (UTC);
//                                    NULL: unknown
//   sl_void  exactly one row
//     0 sl_pointer  INTEGER  w_id of the most recent row written
//     1 sl_copy     INTEGER  second copy of the pointer, written with position 0
//     2 sl_spare    INTEGER  read by the recorder, never written
//
// Positions 0..12 are the format every reader knows. Positions 13 and 14 are
// added to a file that lacks them (ALTER TABLE ... ADD COLUMN) when the
// recorder opens it; readers take them by position from a "select *" record
// when it has them, and a file of 13 columns (an older file, a read-only copy)
// has every row unknown. Readers draw and export an unknown row as a row of
// 13 columns always was.
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
// arises from a foreign process holding the write lock. The recorder waits on
// its own thread (recorder.h); the main window's reads on the GUI thread never
// wait for a writer in WAL mode, and for a lock at most this long.
//
// Threads. Each connection is used on the thread that made it (Qt's rule for
// a QSqlDatabase, and ours): the recorder's on the recorder thread, the main
// window's on the GUI thread. What the connections of the process must agree
// on about the file (below) goes through connectionregistry.h, which asks a
// connection of another thread to close rather than closing it itself.
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
//    connection of the station still open on an older file there leaves it
//    (closed at once on its own thread, asked to on another). The -wal and
//    -shm that older file leaves behind (we know them by inode, recorded while
//    it was open and forgotten once our last connection left it at the path)
//    are removed before the new file is opened: SQLite would replay a foreign
//    WAL into the new file. A connection of ours still on the older file keeps
//    them by descriptor and reads on undisturbed until it leaves. The rows of
//    the old file still in its WAL (at most one checkpoint period, see
//    recorder.h) go with the file that was replaced.
//  - Another database copied over the file in place keeps a sound header, but
//    a changed one: the recorder compares the header with the one it saw after
//    its open or its last checkpoint, and on a change checks the file whole
//    on a fresh connection (recordwriter.cpp).
//  - A file that is not an SQLite database (a garbage header), an empty file
//    and one shorter than its header says (truncated) are not opened, and never
//    checkpointed into: open() says Damaged, and the recorder sets the set
//    aside (dbfile.h). So is a file whose first read SQLite finds malformed
//    (a -wal of another file replayed into it) or, for the recorder, one that
//    fails SQLite's quick check or lacks the two tables.
//
// Read-only files and folders. The recorder opens read-write or not at all and
// tries again once a second. The main window's connection falls back to a
// read-only open when the read-write one fails, so the history can still be
// paged: with the -wal of an unclean stop it reads through it; without one, in
// a folder where no -wal can be made, it reads the file alone ("immutable").
// A read-write open first closes every read-only connection of the station to
// the file: SQLite shares one -shm mapping between the connections of a process
// to one file, and a read-only mapping would make every later write fail. A
// -shm left read-only (made by SQLite with the mode of a file that was
// read-only then) is replaced by the recorder when no other process uses it.
#pragma once

#include "record/dbfile.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <cstdint>
#include <memory>

struct sqlite3;
struct sqlite3_file;

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
inline constexpr int kLive = 13;
inline constexpr int kUtc = 14;
inline constexpr int kAllColumns = 15;
inline constexpr int kPointer = 0;
inline constexpr int kPointerCopy = 1;
inline constexpr int kSpare = 2;
} // namespace col

inline constexpr int kBusyTimeoutMs = 200;

// <dataDir>/Rdatabj.db
QString defaultPath();

// Creates a new sample database at path: both tables (pv_data with the 13
// columns every reader knows; the recorder adds the other two when it opens
// the file) and the sl_void row with pointer 0, in WAL mode. Precondition: nothing exists at path
// (an existing file or folder is never replaced; the call then fails). Creates
// the folder when missing. Returns false, with the reason on lcRecord, when
// the file could not be created; nothing is left at path then.
bool create(const QString &path);

// How a connection may use the file.
enum class Access {
    ReadWrite,          // the recorder: read-write or not at all; creates a missing file
    ReadOnlyFallback,   // the main window: read-write, else read-only; creates a missing file
    ReadOnly,           // readers beside the station (the export tool): never writes, never creates
};

// What the last open() found.
enum class OpenStatus {
    Opened,
    Missing,    // no file, and this connection does not create one
    Damaged,    // the file cannot be a sample database: see "not opened" above
    ReadOnly,   // the file, its folder, -wal or -shm refuse writes (read-write access only)
    Failed,     // anything else: a folder at the path, a lock, an I/O error
};

enum class Checkpoint { Passive, Truncate };

// One named connection to the sample database. open() creates the file when it
// is missing (unless read-only), opens it and sets the connection up (busy
// timeout, WAL, synchronous=FULL, no checkpoint on close). All failures are
// typed by the return value and status() and logged on lcRecord; nothing is
// shown. Every connection of the process takes part in the rules above. A
// Connection is made, used and destroyed on one thread.
class Connection {
public:
    Connection(QString name, QString path, Access access = Access::ReadWrite);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool open();
    OpenStatus status() const { return m_status; }
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    // Closes every other connection of the process to this path, so that all
    // of them open again afresh: after a failed write, a connection that
    // stayed open would keep SQLite's view of the -shm (a read-only mapping,
    // say) alive for the next open. Those of another thread are asked, and
    // waited for a bounded time; false when one is still open.
    bool closePeers() const;
    // Open, but only for reading (read-only access, or the fallback taken).
    bool isReadOnly() const { return m_db.isOpen() && m_readOnly; }

    // True while the path still names the file this connection has open. False
    // when the file was deleted, replaced or renamed since open(): SQLite keeps
    // working on the old file then, so the caller should close and open again.
    bool isCurrent() const;
    // The state of the open file, read through SQLite's own descriptor.
    FileState fileState() const;
    // The first 100 bytes of the open file (SQLite's header) as they stand
    // on disk, read the same way; empty when closed or unreadable.
    QByteArray fileHeader() const;
    // Marks the open file damaged: no connection of the process checkpoints
    // into it any more (see above).
    void markDamaged();

    // Copies the WAL into the database file, PASSIVE (never waits, copies what
    // no reader still needs) or TRUNCATE (waits up to readerWaitMs, the busy
    // timeout by default, for readers, then empties the WAL). Only through a
    // read-write connection to the current, sound file that was not found
    // damaged; returns whether the whole WAL was copied.
    bool checkpoint(Checkpoint mode, int readerWaitMs = kBusyTimeoutMs);

    QSqlDatabase database() const { return m_db; }
    // SQLite's handle behind the connection, for the C API; null when closed.
    sqlite3 *handle() const;
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
    // The file this connection has open (invalid when closed).
    const Identity &identity() const { return m_identity; }

private:
    bool openWith(const char *mode, bool setUp);
    bool openFile();
    void leaveOlderFiles() const;
    bool closeReadOnlyPeers() const;
    sqlite3_file *mainFile() const;
    void publish() const;

    QString m_name;
    QString m_path;
    Access m_access;
    QSqlDatabase m_db;
    Identity m_identity;
    bool m_readOnly = false;
    OpenStatus m_status = OpenStatus::Failed;
    QString m_lastError;
    // Lives on the owner's thread: other threads' requests to close arrive here.
    std::unique_ptr<QObject> m_context;
};

// Whether the file starts with SQLite's header, or is empty (what SQLite
// takes for an empty database); a file that cannot be read counts too (the
// open then says why). Reads the file through a descriptor of its own: never
// call it on a file that a connection of this process has open (dbfile.h).
bool hasDatabaseHeader(const QString &path);

// The main window's own connection ("ssqx") to <dataDir>/Rdatabj.db. Opens it
// on first call (creating the file when missing) and opens it again when it is
// closed or the file was deleted or replaced since; returns the connection,
// which may be closed when the file is unusable and is read-only when the file
// or its folder is. The history reader calls it
// before each load and keeps the returned handle only for that load. Closed by
// closeMainWindowConnection() (drop every copy of the handle first) or when the
// application object is destroyed. GUI thread only.
QSqlDatabase openMainWindowConnection();
void closeMainWindowConnection();

} // namespace station::sampledb
