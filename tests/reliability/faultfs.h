// A fault-injecting SQLite file layer for the whole-station database tests.
// Installed as SQLite's default, it passes every call to the "unix" layer and,
// for files below one folder (the station's data folder), on request fails the
// way a real machine does:
//  - read-only: what a file system remounted read-only answers. An open for
//    writing falls back to read-only, as the unix layer does when open(O_RDWR)
//    is refused, and a file that does not exist cannot be created; writes and
//    truncations through handles that are already open fail with
//    SQLITE_IOERR_WRITE / _TRUNCATE, the unix layer's answer to EROFS. (The
//    test runs as root, whom clearing the mode bits does not stop.) The -shm
//    index is opened and mapped by the unix layer itself and stays writable.
//  - disk full: what ENOSPC does. A write that would make a file longer than it
//    is fails with SQLITE_FULL, as does a truncation that grows it; writes
//    inside a file's present length still succeed (blocks already allocated).
// Every refused write is counted, so a test can tell that a fault really hit.
#pragma once

#include <QString>

namespace station::reliability {

struct DiskFaults {
    bool readOnly = false;
    bool diskFull = false;
};

// Registers the layer as SQLite's default; faults apply to files whose path
// begins with folder. Call before the first connection is opened; later calls
// only change the folder.
void installFaultLayer(const QString &folder);

DiskFaults &diskFaults();

// Writes, truncations, creations and deletions the layer refused since start.
int refusedWrites();

} // namespace station::reliability
