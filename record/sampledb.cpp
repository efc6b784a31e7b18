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
#include <QHash>
#include <QSqlDriver>
#include <algorithm>
#include <memory>
#include <sqlite3.h>
#include <vector>

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

namespace {

const char kDatabaseHeader[] = "SQLite format 3";  // 16 bytes with its NUL

// Every connection of the process, open or not, and what the last open of a
// file at a path left beside it: SQLite keeps the -wal and -shm of a file it
// does not checkpoint on close.
struct Leftover {
    Connection::Identity owner;  // the database file they belong to
    Connection::Identity wal;
    Connection::Identity shm;
};
struct Registry {
    std::vector<Connection *> connections;
    QHash<QString, Leftover> leftovers;  // by absolute path
};
Registry &registry()
{
    static Registry r;
    return r;
}

QString absolute(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(v.constData());
}

// With the flag set, closing the last connection to a file does not
// checkpoint it (and so leaves the -wal and -shm in place).
void setCheckpointOnClose(const QSqlDatabase &db, bool checkpoint)
{
    if (sqlite3 *h = handleOf(db))
        sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, checkpoint ? 0 : 1, nullptr);
}

// Removes the -wal and -shm that an older file at path left behind, once no
// connection of ours has that file open any more.
void removeStaleLeftovers(const QString &path, const Connection::Identity &current)
{
    Registry &r = registry();
    const QString key = absolute(path);
    const auto it = r.leftovers.constFind(key);
    if (it == r.leftovers.constEnd() || it->owner == current)
        return;
    const Leftover left = *it;
    for (const Connection *c : r.connections) {
        if (c->isOpen() && absolute(c->path()) == key)
            return;  // still in use; the last one to leave is not us
    }
    r.leftovers.remove(key);
    const QString wal = key + QLatin1String("-wal");
    const QString shm = key + QLatin1String("-shm");
    if (left.wal.valid && Connection::identityOf(wal) == left.wal) {
        qCInfo(lcRecord) << "removing the -wal of the file that was replaced at" << path;
        QFile::remove(wal);
    }
    if (left.shm.valid && Connection::identityOf(shm) == left.shm)
        QFile::remove(shm);
}

} // namespace

bool hasDatabaseHeader(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return true;
    const QByteArray head = f.read(sizeof kDatabaseHeader);
    return head.isEmpty() || head == QByteArray(kDatabaseHeader, sizeof kDatabaseHeader);
}

namespace {

// The header as the file holds it, read through SQLite's own descriptor of an
// open connection. Never through a descriptor of our own while SQLite has the
// file open in this process: closing it would drop every POSIX lock SQLite
// holds on the file, and another process could then checkpoint and delete the
// WAL under us.
bool headerThrough(const QSqlDatabase &db)
{
    sqlite3 *h = handleOf(db);
    sqlite3_file *file = nullptr;
    if (!h || sqlite3_file_control(h, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK || !file
        || !file->pMethods)
        return true;  // cannot tell; SQLite's own checks still stand
    char head[sizeof kDatabaseHeader] = {};
    const int rc = file->pMethods->xRead(file, head, int(sizeof head), 0);
    if (rc == SQLITE_IOERR_SHORT_READ)
        return std::all_of(std::begin(head), std::end(head), [](char c) { return c == 0; });  // empty file
    return rc == SQLITE_OK && std::equal(std::begin(head), std::end(head), kDatabaseHeader);
}

// The header of the file at path, for an open(): through a connection of ours
// that has that very file open, else by reading the file (no connection of
// ours has it open, so SQLite holds no lock on it to lose).
bool soundBeforeOpen(const QString &path, const Connection::Identity &identity)
{
    const QString key = absolute(path);
    for (const Connection *c : registry().connections) {
        if (c->isOpen() && absolute(c->path()) == key && c->isCurrent()
            && Connection::identityOf(path) == identity)
            return headerThrough(c->database());
    }
    return hasDatabaseHeader(path);
}

} // namespace

Connection::Connection(QString name, QString path, Access access)
    : m_name(std::move(name)), m_path(std::move(path)), m_access(access)
{
    registry().connections.push_back(this);
}

Connection::~Connection()
{
    close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    auto &all = registry().connections;
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
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

void Connection::leaveOlderFiles() const
{
    const QString key = absolute(m_path);
    for (Connection *c : registry().connections) {
        if (c != this && c->isOpen() && absolute(c->m_path) == key && !c->isCurrent()) {
            qCInfo(lcRecord) << c->m_name << "leaves the file that was replaced at" << m_path;
            c->close();
        }
    }
}

void Connection::closeReadOnlyPeers() const
{
    const QString key = absolute(m_path);
    for (Connection *c : registry().connections) {
        if (c != this && c->isReadOnly() && absolute(c->m_path) == key) {
            qCDebug(lcRecord) << c->m_name << "closes its read-only view for a read-write open";
            c->close();
        }
    }
}

void Connection::closePeers() const
{
    const QString key = absolute(m_path);
    for (Connection *c : registry().connections) {
        if (c != this && c->isOpen() && absolute(c->m_path) == key)
            c->close();
    }
}

bool Connection::openWith(const char *mode, bool setUp)
{
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::contains(m_name)
            ? QSqlDatabase::database(m_name, false)
            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    }
    m_db.setConnectOptions(connectOptions());
    m_db.setDatabaseName(uriFor(m_path, mode));
    if (!m_db.open()) {
        m_lastError = m_db.lastError().text();
        qCInfo(lcRecord) << m_name << "cannot open" << m_path << mode << m_lastError;
        return false;
    }
    // Whatever happens next, closing never checkpoints on its own.
    setCheckpointOnClose(m_db, false);
    // The first statement reads the header: a damaged file fails here.
    QSqlQuery first(m_db);
    const QString text = setUp ? QStringLiteral("PRAGMA journal_mode=WAL")
                               : QStringLiteral("SELECT count(*) FROM sqlite_master");
    if (!first.exec(text) || !first.next()) {
        m_lastError = first.lastError().text();
        qCInfo(lcRecord) << m_name << "unusable" << m_path << mode << m_lastError;
        first = QSqlQuery();
        m_db.close();
        return false;
    }
    if (setUp && first.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0)
        qCInfo(lcRecord) << m_name << "journal mode stays" << first.value(0).toString();
    first = QSqlQuery();
    // The recorder checkpoints itself, through a connection it has checked
    // (see recorder.h), never SQLite after a commit.
    if (setUp && (!exec(m_db, QStringLiteral("PRAGMA synchronous=FULL"))
                  || !exec(m_db, QStringLiteral("PRAGMA wal_autocheckpoint=0")))) {
        m_db.close();
        return false;
    }
    if (!setUp) {
        exec(m_db, QStringLiteral("PRAGMA query_only=1"));
        return true;
    }
    // A file, -wal or -shm that cannot be written lets the pragmas above pass
    // (nothing had to change) and fails the first write; the write lock, taken
    // and given back at once, tells now. A lock held by another writer is no
    // reason to give up: that one is waited for at each save.
    QSqlQuery lock(m_db);
    if (!lock.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        const int code = lock.lastError().nativeErrorCode().toInt();
        if ((code & 0xff) == SQLITE_READONLY || (code & 0xff) == SQLITE_CANTOPEN || (code & 0xff) == SQLITE_IOERR) {
            m_lastError = lock.lastError().text();
            qCInfo(lcRecord) << m_name << "cannot write" << m_path << m_lastError;
            lock = QSqlQuery();
            m_db.close();
            return false;
        }
    } else {
        lock.exec(QStringLiteral("ROLLBACK"));
    }
    return true;
}

bool Connection::open()
{
    close();
    // Every connection of ours leaves an older file at this path first.
    leaveOlderFiles();
    const bool exists = QFileInfo::exists(m_path) || QFileInfo(m_path).isSymLink();
    if (!exists && (m_access == Access::ReadOnly || !create(m_path)))
        return false;
    if (!soundBeforeOpen(m_path, identityOf(m_path))) {
        m_lastError = QStringLiteral("not an SQLite database");
        qCInfo(lcRecord) << m_name << m_path << "is not an SQLite database; left as it is";
        return false;
    }
    const Identity identity = identityOf(m_path);
    removeStaleLeftovers(m_path, identity);

    bool opened = false;
    if (m_access != Access::ReadOnly) {
        closeReadOnlyPeers();
        opened = openWith("rw", true);
        m_readOnly = false;
    }
    if (!opened && m_access != Access::ReadWrite) {
        // A read-only file or folder, or a reader beside the station. With a
        // -wal beside the file SQLite reads through it (and the station, while
        // it runs, always has one). Without one nobody is writing: the file is
        // read alone, and no -wal or -shm is made beside it.
        const bool hasWal = QFileInfo::exists(m_path + QLatin1String("-wal"));
        opened = hasWal ? openWith("ro", false) : openWith("ro&immutable=1", false);
        m_readOnly = true;
    }
    if (!opened)
        return false;
    m_identity = identity.valid ? identity : identityOf(m_path);
    if (!m_readOnly) {
        const QString key = absolute(m_path);
        registry().leftovers.insert(key, Leftover{m_identity, identityOf(key + QLatin1String("-wal")),
                                                  identityOf(key + QLatin1String("-shm"))});
    }
    qCDebug(lcRecord) << m_name << "opened" << m_path << (m_readOnly ? "read-only" : "");
    return true;
}

void Connection::close()
{
    if (m_db.isOpen()) {
        // SQLite checkpoints at the last close only into the file at the path,
        // and only when that file is still a database.
        const bool sound = !m_readOnly && isCurrent() && headerThrough(m_db);
        setCheckpointOnClose(m_db, sound);
        m_db.close();
    }
    m_identity = Identity();
    m_readOnly = false;
}

bool Connection::isCurrent() const
{
    if (!m_db.isOpen() || !m_identity.valid)
        return false;
    return identityOf(m_path) == m_identity;
}

bool Connection::checkpoint(Checkpoint mode)
{
    if (!isOpen() || m_readOnly || !isCurrent() || !headerThrough(m_db))
        return false;
    QSqlQuery q(m_db);
    const QString text = mode == Checkpoint::Truncate ? QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")
                                                      : QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)");
    if (!q.exec(text) || !q.next()) {
        qCInfo(lcRecord) << m_name << text << "failed:" << q.lastError().text();
        return false;
    }
    // busy, frames in the WAL, frames copied
    const bool complete = q.value(0).toInt() == 0 && q.value(1).toInt() == q.value(2).toInt();
    qCDebug(lcRecord) << m_name << text << q.value(0) << q.value(1) << q.value(2);
    return complete;
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
    if (!slot->isCurrent())
        slot->open();
    return slot->database();
}

void closeMainWindowConnection()
{
    mainWindowSlot().reset();
}

} // namespace station::sampledb
