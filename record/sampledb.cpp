#include "record/sampledb.h"

#include "common/datadir.h"
#include "common/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <memory>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

bool exec(QSqlDatabase &db, const QString &text)
{
    QSqlQuery q(db);
    if (q.exec(text))
        return true;
    qCInfo(lcRecord) << db.connectionName() << text << "failed:" << q.lastError().text();
    return false;
}

// A file name as an SQLite URI, with the given open mode ("rw": the file must
// exist; "rwc": created when missing).
QString uriFor(const QString &path, const char *mode)
{
    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=%1").arg(QLatin1String(mode)));
    return url.toString(QUrl::FullyEncoded);
}

QString connectOptions()
{
    return QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs);
}

// Makes a rename in dir survive a power cut.
void syncFolder(const QString &dir)
{
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(dir);
#endif
}

// Builds the new file at tmpPath on a connection of its own.
bool buildFile(const QString &tmpPath)
{
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::contains(QLatin1String(kCreationConnection))
            ? QSqlDatabase::database(QLatin1String(kCreationConnection), false)
            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kCreationConnection));
        db.setConnectOptions(connectOptions());
        db.setDatabaseName(uriFor(tmpPath, "rwc"));
        if (!db.open()) {
            qCInfo(lcRecord) << "cannot create" << tmpPath << db.lastError().text();
        } else {
            ok = exec(db, QStringLiteral("PRAGMA synchronous=FULL"))
                && exec(db, QStringLiteral("BEGIN IMMEDIATE"));
            for (const char *statement : kCreateStatements)
                ok = ok && exec(db, QLatin1String(statement));
            ok = ok && exec(db, QStringLiteral("COMMIT"));
            // WAL mode is kept in the file header; closing checkpoints and removes
            // the WAL, so the file is complete on its own when it is renamed.
            ok = ok && exec(db, QStringLiteral("PRAGMA journal_mode=WAL"));
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
    const auto removeTemporary = [&tmpPath] {
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QFile::remove(tmpPath + QLatin1String(suffix));
    };
    removeTemporary();  // left by a creation that was cut short
    if (!buildFile(tmpPath)) {
        removeTemporary();
        return false;
    }
    // -wal and -shm files without their database belong to a deleted file.
    QFile::remove(target.absoluteFilePath() + QLatin1String("-wal"));
    QFile::remove(target.absoluteFilePath() + QLatin1String("-shm"));
    if (!QFile::rename(tmpPath, target.absoluteFilePath())) {
        qCInfo(lcRecord) << "cannot move" << tmpPath << "to" << path;
        removeTemporary();
        return false;
    }
    syncFolder(dir);
    qCInfo(lcRecord) << "created" << path;
    return true;
}

Connection::Connection(QString name, QString path)
    : m_name(std::move(name)), m_path(std::move(path))
{
}

Connection::~Connection()
{
    close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
}

Connection::Identity Connection::identityOf(const QString &path)
{
    Identity id;
#ifdef Q_OS_UNIX
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode)) {
        id.device = quint64(st.st_dev);
        id.inode = quint64(st.st_ino);
        id.valid = true;
    }
#else
    // An open file cannot be deleted on this platform; existence is enough.
    id.valid = QFileInfo(path).isFile();
#endif
    return id;
}

bool Connection::open()
{
    close();
    if (!QFileInfo::exists(m_path) && !QFileInfo(m_path).isSymLink() && !create(m_path))
        return false;

    if (!m_db.isValid()) {
        m_db = QSqlDatabase::contains(m_name)
            ? QSqlDatabase::database(m_name, false)
            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    }
    m_db.setConnectOptions(connectOptions());
    m_db.setDatabaseName(uriFor(m_path, "rw"));
    if (!m_db.open()) {
        qCInfo(lcRecord) << m_name << "cannot open" << m_path << m_db.lastError().text();
        return false;
    }
    // The first statement reads the header: a garbage file fails here.
    QSqlQuery mode(m_db);
    if (!mode.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !mode.next()) {
        qCInfo(lcRecord) << m_name << "unusable" << m_path << mode.lastError().text();
        mode = QSqlQuery();
        close();
        return false;
    }
    if (mode.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        qCInfo(lcRecord) << m_name << "journal mode stays" << mode.value(0).toString();
    mode = QSqlQuery();
    if (!exec(m_db, QStringLiteral("PRAGMA synchronous=FULL"))) {
        close();
        return false;
    }
    m_identity = identityOf(m_path);
    qCDebug(lcRecord) << m_name << "opened" << m_path;
    return true;
}

void Connection::close()
{
    if (m_db.isOpen() && m_identity.valid && !(identityOf(m_path) == m_identity)) {
        // The file was deleted or replaced under this connection. Its -wal still
        // stands beside the path: empty it into the old file through our own
        // handles now, or a connection to the next file at this path would take
        // it for that file's own, replay foreign pages into it, and the old
        // file would lose the rows still in its WAL.
        QSqlQuery checkpoint(m_db);
        if (!checkpoint.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")))
            qCInfo(lcRecord) << m_name << "checkpoint of the replaced file failed:" << checkpoint.lastError().text();
    }
    if (m_db.isOpen())
        m_db.close();
    m_identity = Identity();
}

bool Connection::isCurrent() const
{
    if (!m_db.isOpen() || !m_identity.valid)
        return false;
    return identityOf(m_path) == m_identity;
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
        slot = std::make_unique<Connection>(QLatin1String(kMainWindowConnection), defaultPath());
        // The connection must go before the SQL module's own statics do.
        // (Closing twice is harmless, so a repeated registration is too.)
        qAddPostRoutine(closeMainWindowConnection);
    }
    if (!slot->isCurrent())
        slot->open();
    return slot->database();
}

void closeMainWindowConnection()
{
    mainWindowSlot().reset();
}

} // namespace station::sampledb
