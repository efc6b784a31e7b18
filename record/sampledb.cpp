#include "record/sampledb.h"

#include "common/datadir.h"
#include "common/logging.h"
#include "record/connectionregistry.h"
#include "record/dbfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <memory>


namespace station::sampledb {

namespace {

const char kCreationConnection[] = "station.record.create";
const char kNewFileSuffix[] = ".new";

// The schema, in column order.
const char *const kCreateStatements[] = {
    "CREATE TABLE pv_data ("
    "w_id INTEGER PRIMARY KEY, w_date REAL, w_time REAL, "
    "v0 REAL, v1 REAL, v2 REAL, v3 REAL, v4 REAL, "
    "v5 REAL, v6 REAL, v7 REAL, v8 REAL, v9 REAL)",
    "CREATE TABLE sl_void (sl_pointer INTEGER, sl_copy INTEGER, sl_spare INTEGER)",
    "INSERT INTO sl_void (sl_pointer, sl_copy, sl_spare) VALUES (0, 0, 0)",
};

// Builds the new file at tmpPath on a connection of its own.
bool buildFile(const QString &tmpPath)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::contains(QLatin1String(kCreationConnection))
            ? QSqlDatabase::database(QLatin1String(kCreationConnection), false)
            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kCreationConnection));
        db.setConnectOptions(detail::connectOptions());
        db.setDatabaseName(detail::uriFor(tmpPath, "rwc"));
        if (!db.open()) {
            qCInfo(lcRecord) << "cannot create" << tmpPath << db.lastError().text();
        } else {
            ok = detail::exec(db, QStringLiteral("PRAGMA synchronous=FULL"))
                && detail::exec(db, QStringLiteral("BEGIN IMMEDIATE"));
            for (const char *statement : kCreateStatements)
                ok = ok && detail::exec(db, QLatin1String(statement));
            ok = ok && detail::exec(db, QStringLiteral("COMMIT"));
            // WAL mode is kept in the file header; closing checkpoints and removes
            // the WAL, so the file is complete on its own when it is renamed.
            ok = ok && detail::exec(db, QStringLiteral("PRAGMA journal_mode=WAL"));
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QLatin1String(kCreationConnection));
    return ok;
}

} // namespace

QString selectRowQuery(std::int32_t id)
{
    return QLatin1String(kSelectRowPrefix) + QString::number(id);
}

QString defaultPath()
{
    return QDir(dataDir()).filePath(QLatin1String(kFileName));
}

bool create(const QString &path)
{
    const QFileInfo target(path);
    if (target.exists() || target.isSymLink()) {
        qCInfo(lcRecord) << "not creating" << path << ": something is there";
        return false;
    }
    const QString dir = target.absolutePath();
    if (!QDir().mkpath(dir)) {
        qCInfo(lcRecord) << "cannot create folder" << dir;
        return false;
    }
    const QString tmpPath = target.absoluteFilePath() + QLatin1String(kNewFileSuffix);
    removeWithCompanions(tmpPath);  // left by a creation that was cut short
    if (!buildFile(tmpPath)) {
        removeWithCompanions(tmpPath);
        return false;
    }
    // -wal and -shm files without their database belong to a deleted file.
    QFile::remove(target.absoluteFilePath() + QLatin1String("-wal"));
    QFile::remove(target.absoluteFilePath() + QLatin1String("-shm"));
    if (!QFile::rename(tmpPath, target.absoluteFilePath())) {
        qCInfo(lcRecord) << "cannot move" << tmpPath << "to" << path;
        removeWithCompanions(tmpPath);
        return false;
    }
    syncToDisk(dir);  // the rename survives a power cut
    qCInfo(lcRecord) << "created" << path;
    return true;
}

bool hasDatabaseHeader(const QString &path)
{
    const FileState state = fileStateAt(path);
    return state != FileState::NotDatabase;
}

namespace {

std::unique_ptr<Connection> &mainWindowSlot()
{
    static std::unique_ptr<Connection> connection;
    return connection;
}

} // namespace

QSqlDatabase openMainWindowConnection()
{
    std::unique_ptr<Connection> &slot = mainWindowSlot();
    if (!slot) {
        slot = std::make_unique<Connection>(QLatin1String(kMainWindowConnection), defaultPath(),
                                            Access::ReadOnlyFallback);
        // The connection must go before the SQL module's own statics do.
        // (Closing twice is harmless, so a repeated registration is too.)
        qAddPostRoutine(closeMainWindowConnection);
    }
    detail::Registry::instance().serviceCloseRequests();
    if (!slot->isCurrent())
        slot->open();
    return slot->database();
}

void closeMainWindowConnection()
{
    mainWindowSlot().reset();
}

} // namespace station::sampledb
