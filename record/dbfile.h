// The sample database as files on disk, apart from SQLite: whether a file can
// be a sample database at all, setting a file set aside, replacing a read-only
// -shm, and telling whether a station or another process has the database open.
//
// The set of a database is the file and the two files SQLite keeps beside it
// under the same name: <file>-wal (committed rows not yet copied into the
// file) and <file>-shm (an index of the -wal for the processes that read it;
// rebuilt from the -wal when missing).
//
// Setting aside. A set the station cannot use is renamed, never deleted:
//   Rdatabj.db      -> Rdatabj.db.bad-20240701-203015
//   Rdatabj.db-wal  -> Rdatabj.db.bad-20240701-203015-wal
//   Rdatabj.db-shm  -> Rdatabj.db.bad-20240701-203015-shm
// so SQLite opens the set as it was (the -wal belongs to the file beside it).
// The -wal and -shm go first and the file last: a crash in between leaves the
// file at the path, which the next start checks (and sets aside) again, never
// a -wal without its file, which a new database would take for its own.
// A name already taken gets "-2", "-3" and so on. The folder is synced.
//
// POSIX locks belong to the process, not to a descriptor: closing any
// descriptor of a file drops every lock this process holds on it, SQLite's
// too. The functions here that open a file of their own say so; call them
// only while no connection of this process has that file open.
#pragma once

#include <QDateTime>
#include <QString>

struct sqlite3_file;

namespace station::sampledb {

enum class FileState {
    Sound,        // SQLite's header, and at least as long as the header says
    Empty,        // no bytes at all (a database the station made never is)
    NotDatabase,  // no SQLite header (garbage, another kind of file)
    Truncated,    // shorter than the pages its header counts
    Unreadable,   // cannot be opened or read: the open says why
};

// The state of the file at path, read through a descriptor of its own
// (see above: no connection of this process may have the file open).
FileState fileStateAt(const QString &path);
// The same, read through SQLite's own descriptor of an open connection's main
// file (no lock is touched). Safe from any thread while that connection stays
// open.
FileState fileStateThrough(sqlite3_file *file);

// Renames the set at path aside as <path>.<tag>-<yyyyMMdd-HHmmss> (local time
// of `when`), its -wal and -shm with it. Returns the name the set now has
// (the file's new name), empty when there was nothing to move or a rename
// failed: then everything is as it was, and the reason is on lcRecord.
QString setAside(const QString &path, const QString &tag, const QDateTime &when);

// A -shm this process cannot open for writing (SQLite made it with the mode
// of a file that was read-only then) maps read-only and refuses every write.
// When the file itself can be written and no other process holds a lock on
// the -shm, the -shm is removed so that SQLite builds a new one from the -wal.
// Opens both files itself: call only while no connection of this process has
// the database open. True when one was removed.
bool replaceReadOnlyIndex(const QString &path);

// Whether a station or another program has the database open: a station holds
// the lock of the folder the file is in (common/stationlock.h) for as long as it
// runs, whether or not its connection is open at the moment; any other program
// (an export, the publisher) holds a lock on the -shm while its connection is
// open (every connection in WAL mode does). Opens the -shm itself (see above).
bool inUseByAnotherProcess(const QString &path);

// Removes a database file with its -journal, -wal and -shm.
void removeWithCompanions(const QString &path);

// Flushes a file, or a folder's entries (so that a rename in it survives a
// power cut), to the disk. Does nothing where the system has no such call.
void syncToDisk(const QString &path);

} // namespace station::sampledb
