// Whole-database copies for lx6100-export: --backup (a consistent copy of the
// database beside a running station) and --restore (a backup put back in
// place of the station's database while no station runs).
#pragma once

#include <QString>

struct sqlite3;

namespace station::exporttool {

// Whether writing target would overwrite the database or one of the files
// SQLite keeps beside it (-wal, -shm, -journal): the same file under another
// name or link, or the companion's name, which may not exist yet.
bool isDatabaseFile(const QString &target, const QString &database);

// Whether a -wal or -shm stands beside target: SQLite would take it for the
// new file's own and replay it into the copy.
bool hasCompanions(const QString &target);

// A consistent copy (one read transaction, SQLite's online backup) of the
// database open on `from` into target: written as <target>.part and renamed
// over target when complete, so a failure leaves target as it was. With
// walMode the copy is switched to WAL, as the station keeps its file. Returns
// the reason of a failure, empty on success.
QString copyDatabase(sqlite3 *from, const QString &target, bool walMode);

struct Outcome {
    int code = 0;     // 0, or 1 for a file problem
    QString message;  // the one line the tool prints (on success: what was done)
};

// Puts the backup at backupPath in place of the database at databasePath:
// refuses while a station holds the folder (common/stationlock.h) or another
// program has the database open, and holds the folder's lock itself while it
// swaps the files; checks that the backup is a whole sample database,
// copies it beside the database, sets the current set aside
// (<database>.old-<time> with its -wal and -shm, never deleted) and moves the
// copy into place alone.
Outcome restore(const QString &backupPath, const QString &databasePath);

} // namespace station::exporttool
