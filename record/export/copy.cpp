#include "record/export/copy.h"

#include "record/dbfile.h"
#include "record/sampledb.h"

#include "common/stationlock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QVariant>
#include <sqlite3.h>


namespace station::exporttool {

namespace {

const char kRestoreTag[] = "old";
const char kRestoreConnection[] = "restore";

QString sqliteError(sqlite3 *db, int rc)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString::fromUtf8(sqlite3_errstr(rc));
}

} // namespace

bool isDatabaseFile(const QString &target, const QString &database)
{
    const QFileInfo db(QFileInfo(database).canonicalFilePath());
    const QFileInfo out(target);
    const auto outId = sampledb::Connection::identityOf(target);
    for (const char *suffix : {"", "-wal", "-shm", "-journal"}) {
        const QString file = db.filePath() + QLatin1String(suffix);
        if (outId.valid && outId == sampledb::Connection::identityOf(file))
            return true;
        if (out.fileName() == db.fileName() + QLatin1String(suffix)
            && out.absoluteDir().canonicalPath() == db.absolutePath())
            return true;
    }
    return false;
}

bool hasCompanions(const QString &target)
{
    for (const char *suffix : {"-wal", "-shm"}) {
        const QFileInfo f(target + QLatin1String(suffix));
        if (f.exists() || f.isSymLink())
            return true;
    }
    return false;
}

QString copyDatabase(sqlite3 *from, const QString &target, bool walMode)
{
    const QString part = target + QLatin1String(".part");
    sampledb::removeWithCompanions(part);
    sqlite3 *to = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(part).constData(), &to,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    QString error;
    if (rc == SQLITE_OK) {
        sqlite3_backup *b = sqlite3_backup_init(to, "main", from, "main");
        if (!b) {
            rc = sqlite3_errcode(to);
        } else {
            // All pages in one step: one read transaction, one snapshot.
            rc = sqlite3_backup_step(b, -1);
            const int finished = sqlite3_backup_finish(b);
            if (rc == SQLITE_DONE)
                rc = finished;
        }
        // The copy keeps the source's journal mode unless told; closing the
        // only connection folds its -wal into it and removes it.
        if (rc == SQLITE_OK && walMode)
            rc = sqlite3_exec(to, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            error = sqliteError(to, rc);
    } else {
        error = sqliteError(to, rc);
    }
    const int closed = sqlite3_close(to);
    if (rc == SQLITE_OK && closed != SQLITE_OK) {
        rc = closed;
        error = QString::fromUtf8(sqlite3_errstr(closed));
    }
    if (rc != SQLITE_OK) {
        sampledb::removeWithCompanions(part);
        return error;
    }
    sampledb::syncToDisk(part);
    QFile::remove(target);
    if (!QFile::rename(part, target)) {
        sampledb::removeWithCompanions(part);
        return QStringLiteral("cannot move %1 to %2").arg(part, target);
    }
    sampledb::syncToDisk(QFileInfo(target).absolutePath());
    return QString();
}

Outcome restore(const QString &backupPath, const QString &databasePath)
{
    const auto failed = [](const QString &message) { return Outcome{1, message}; };
    if (!QFileInfo(backupPath).isFile())
        return failed(QStringLiteral("no backup file %1").arg(backupPath));
    if (QFileInfo::exists(databasePath) && isDatabaseFile(backupPath, databasePath))
        return failed(QStringLiteral("%1 is the database itself or one of its -wal, -shm, -journal files").arg(backupPath));
    if (sampledb::inUseByAnotherProcess(databasePath))
        return failed(QStringLiteral("%1 is in use (a station runs on it, or another program reads it): "
                                     "end it first").arg(databasePath));
    if (sampledb::fileStateAt(backupPath) != sampledb::FileState::Sound)
        return failed(QStringLiteral("%1 is not a whole SQLite database").arg(backupPath));

    const QString staged = databasePath + QLatin1String(".restore");
    QString error;
    {
        sampledb::Connection source(QLatin1String(kRestoreConnection), backupPath, sampledb::Access::ReadOnly);
        if (!source.open())
            return failed(QStringLiteral("cannot open %1: %2").arg(backupPath, source.lastError()));
        QSqlQuery q(source.database());
        if (!q.exec(QStringLiteral("PRAGMA quick_check")) || !q.next() || q.value(0).toString() != QLatin1String("ok"))
            return failed(QStringLiteral("%1 fails SQLite's quick check").arg(backupPath));
        if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN ('pv_data','sl_void')"))
            || !q.next() || q.value(0).toInt() != 2)
            return failed(QStringLiteral("%1 is not a sample database: no pv_data or sl_void").arg(backupPath));
        q = QSqlQuery();
        if (!QDir().mkpath(QFileInfo(databasePath).absolutePath()))
            return failed(QStringLiteral("cannot create the folder of %1").arg(databasePath));
        error = copyDatabase(source.handle(), staged, true);
    }
    if (!error.isEmpty())
        return failed(QStringLiteral("cannot write %1: %2").arg(staged, error));

    // Checked again: a station that started meanwhile keeps its file. From
    // here the folder's lock is ours, so a station that starts now waits for
    // the swap (app/singlestation.h). (Asked first: the question sees a lock
    // of this process as another's.)
    StationLock folderLock(QFileInfo(databasePath).absolutePath());
    if (sampledb::inUseByAnotherProcess(databasePath) || !folderLock.tryLock()) {
        sampledb::removeWithCompanions(staged);
        return failed(QStringLiteral("%1 came into use meanwhile: end the station first").arg(databasePath));
    }
    QString aside;
    const bool present = QFileInfo::exists(databasePath) || hasCompanions(databasePath);
    if (present) {
        aside = sampledb::setAside(databasePath, QLatin1String(kRestoreTag), QDateTime::currentDateTime());
        if (aside.isEmpty()) {
            sampledb::removeWithCompanions(staged);
            return failed(QStringLiteral("cannot set %1 aside").arg(databasePath));
        }
    }
    if (!QFile::rename(staged, databasePath)) {
        sampledb::removeWithCompanions(staged);
        return failed(QStringLiteral("cannot move %1 to %2; the previous database is %3").arg(staged, databasePath, aside));
    }
    sampledb::syncToDisk(QFileInfo(databasePath).absolutePath());
    return Outcome{0, aside.isEmpty()
                          ? QStringLiteral("restored %1 as %2").arg(backupPath, databasePath)
                          : QStringLiteral("restored %1 as %2; the previous database is kept as %3")
                                .arg(backupPath, databasePath, aside)};
}

} // namespace station::exporttool
