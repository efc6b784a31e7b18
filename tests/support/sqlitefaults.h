// A fault-injecting SQLite file layer for tests. Installed as SQLite's
// default, it passes every call to the "unix" layer and, on request, fails the
// way a real machine does, for the files in its scope: every file, or only
// those below one folder (the station's data folder, say).
//  - read-only: what a file system remounted read-only answers. An open for
//    writing falls back to read-only, as the unix layer does when open(O_RDWR)
//    is refused, and a file that does not exist cannot be created; writes,
//    truncations and deletions through the layer fail with SQLITE_IOERR_WRITE,
//    _TRUNCATE and _DELETE, the unix layer's answers to EROFS. (The tests run
//    as root, whom clearing the mode bits does not stop.) The -shm index is
//    opened and mapped by the unix layer itself and stays writable, unless
//  - read-only index: the unix layer's own open of a -shm file for writing
//    fails with EROFS, so it maps the index read-only, as on a read-only mount.
//    This reaches every connection in the process on the "unix" layer, the
//    probes of tests/record/dbprobe.h too.
//  - mode bits: the unix layer's own opens for writing (of the database, its
//    -wal and -shm) fail with EACCES when the file exists and its owner-write
//    bit is clear, as for a user who is not root; a new file is made with the
//    mode asked for, as ever.
//  - slow sync: every sync of a file in scope takes this many milliseconds
//    more, as on an SD card or a USB stick.
//  - disk full: what ENOSPC does. A write that would make a file longer than it
//    is fails with SQLITE_FULL, as does a truncation that grows it; writes
//    inside a file's present length still succeed (blocks already allocated).
// Every refused write is counted, so a test can tell that a fault really hit,
// and the opens of one database file can be counted, to check how often the
// code under test retries.
#pragma once

#include <QString>

namespace station::test {

struct SqliteFaults {
    bool readOnly = false;
    bool diskFull = false;
    bool readOnlyIndex = false;
    bool modeBits = false;
    int slowSyncMs = 0;
};

// Registers the layer as SQLite's default. Faults apply to the files whose
// path begins with folder, or to every file (SQLite's nameless temporary files
// too) when folder is empty. Call before the first connection is opened; later
// calls only change the scope.
void installSqliteFaults(const QString &folder = QString());

// The faults in force; assign SqliteFaults{} to clear them all.
SqliteFaults &sqliteFaults();

// Writes, truncations, creations and deletions the layer refused since it was
// installed.
int refusedWrites();

// Counts the opens of path as a main database file from now on (whether or not
// the open succeeds); watchedOpens() is the count so far.
void watchOpens(const QString &path);
int watchedOpens();

} // namespace station::test
