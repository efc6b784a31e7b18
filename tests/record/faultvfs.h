// A fault-injecting SQLite file layer for tests. Installed as the default VFS,
// it passes every call to the "unix" layer and, on request, fails the way a
// real machine does:
//  - disk full: every write returns SQLITE_FULL, what the unix layer answers
//    for ENOSPC;
//  - read-only: a database file opened for writing is opened read-only instead,
//    as the unix layer does when the file is write-protected (the test runs as
//    root, who is not stopped by mode bits).
// It also counts the opens of one database file, to check how often the code
// under test retries.
#pragma once

#include <QString>

namespace station::test {

struct FileFaults {
    bool diskFull = false;
    bool readOnly = false;
};

// Registers the layer as SQLite's default (once; later calls do nothing).
// Call before the first connection is opened.
void installFaultVfs();

FileFaults &fileFaults();

// Opens of path as a main database file since the last reset.
void watchOpens(const QString &path);
int watchedOpens();

} // namespace station::test
