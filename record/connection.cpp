// sampledb::Connection: one named connection to the sample database, and the
// rules every connection of the process follows about the file at its path
// (sampledb.h, connectionregistry.h).
#include "record/sampledb.h"

#include "common/logging.h"
#include "record/connectionregistry.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>
#include <mutex>
#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace station::sampledb {

using detail::Registry;

namespace detail {

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

sqlite3 *handleOf(const QSqlDatabase &db)
{
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(v.constData());
}

bool exec(QSqlDatabase &db, const QString &text)
{
    QSqlQuery q(db);
    if (q.exec(text))
        return true;
    qCInfo(lcRecord) << db.connectionName() << text << "failed:" << q.lastError().text();
    return false;
}

} // namespace detail

namespace {

// Opens of the process go one at a time, from the check of the file to the
// moment the open connection is known to the others: a check that reads the
// file through a descriptor of its own must never meet a connection of ours
// that has just opened the file (dbfile.h). An open waits for another at
// most one busy timeout, and otherwise fails this attempt.
std::timed_mutex &openGate()
{
    static std::timed_mutex gate;
    return gate;
}

// With the flag set, closing the last connection to a file does not
// checkpoint it (and so leaves the -wal and -shm in place).
void setCheckpointOnClose(const QSqlDatabase &db, bool checkpoint)
{
    if (sqlite3 *h = detail::handleOf(db))
        sqlite3_db_config(h, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, checkpoint ? 0 : 1, nullptr);
}

int primaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

} // namespace

Connection::Connection(QString name, QString path, Access access)
    : m_name(std::move(name)), m_path(std::move(path)), m_access(access), m_context(std::make_unique<QObject>())
{
    Registry::instance().add(this, m_context.get());
}

Connection::~Connection()
{
    close();
    m_db = QSqlDatabase();
    if (QSqlDatabase::contains(m_name))
        QSqlDatabase::removeDatabase(m_name);
    Registry::instance().remove(this);
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

sqlite3_file *Connection::mainFile() const
{
    sqlite3 *h = detail::handleOf(m_db);
    sqlite3_file *file = nullptr;
    if (!h || sqlite3_file_control(h, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK)
        return nullptr;
    return file;
}

void Connection::publish() const
{
    const bool open = m_db.isOpen();
    Registry::instance().published(const_cast<Connection *>(this), open, open && m_readOnly, m_identity,
                                   open ? mainFile() : nullptr);
}

void Connection::leaveOlderFiles() const
{
    // Ours are closed at once; those of another thread are asked to and need
    // not have gone before we open: what they hold of the older file (its
    // -wal and -shm by descriptor) is removed from the path below.
    QList<detail::PeerView> older;
    const Identity now = identityOf(m_path);
    for (const detail::PeerView &p : Registry::instance().peers(this, m_path)) {
        if (p.identity != now) {
            qCInfo(lcRecord) << p.connection->name() << "leaves the file that was replaced at" << m_path;
            older.push_back(p);
        }
    }
    Registry::instance().closePeers(older, 0);
}

bool Connection::closeReadOnlyPeers() const
{
    QList<detail::PeerView> readOnly;
    for (const detail::PeerView &p : Registry::instance().peers(this, m_path))
        if (p.readOnly)
            readOnly.push_back(p);
    if (readOnly.isEmpty())
        return true;
    qCDebug(lcRecord) << m_name << "asks the read-only views to close for a read-write open";
    return Registry::instance().closePeers(readOnly, detail::kPeerCloseWaitMs);
}

bool Connection::closePeers() const
{
    return Registry::instance().closePeers(Registry::instance().peers(this, m_path), detail::kPeerCloseWaitMs);
}

bool Connection::openWith(const char *mode, bool setUp)
{
    if (!m_db.isValid()) {
        m_db = QSqlDatabase::contains(m_name)
            ? QSqlDatabase::database(m_name, false)
            : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    }
    m_db.setConnectOptions(detail::connectOptions());
    m_db.setDatabaseName(detail::uriFor(m_path, mode));
    if (!m_db.open()) {
        m_lastError = m_db.lastError().text();
        qCInfo(lcRecord) << m_name << "cannot open" << m_path << mode << m_lastError;
        return false;
    }
    // Whatever happens next, closing never checkpoints on its own.
    setCheckpointOnClose(m_db, false);
    // The first statement reads the header, and the -wal through it: a damaged
    // file, or one with another file's -wal beside it, fails here.
    QSqlQuery first(m_db);
    const QString text = setUp ? QStringLiteral("PRAGMA journal_mode=WAL")
                               : QStringLiteral("SELECT count(*) FROM sqlite_master");
    if (!first.exec(text) || !first.next()) {
        m_lastError = first.lastError().text();
        const int code = primaryCode(first.lastError());
        if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB)
            m_status = OpenStatus::Damaged;
        else if (code == SQLITE_READONLY && setUp)
            m_status = OpenStatus::ReadOnly;
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
    if (setUp && (!detail::exec(m_db, QStringLiteral("PRAGMA synchronous=FULL"))
                  || !detail::exec(m_db, QStringLiteral("PRAGMA wal_autocheckpoint=0")))) {
        m_db.close();
        return false;
    }
    if (!setUp) {
        detail::exec(m_db, QStringLiteral("PRAGMA query_only=1"));
        return true;
    }
    // A file, -wal or -shm that cannot be written lets the pragmas above pass
    // (nothing had to change) and fails the first write; the write lock, taken
    // and given back at once, tells now. A lock held by another writer is no
    // reason to give up: that one is waited for at each save.
    QSqlQuery lock(m_db);
    if (!lock.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        const int code = primaryCode(lock.lastError());
        if (code == SQLITE_READONLY || code == SQLITE_CANTOPEN || code == SQLITE_IOERR) {
            m_lastError = lock.lastError().text();
            if (code == SQLITE_READONLY)
                m_status = OpenStatus::ReadOnly;
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
    m_status = OpenStatus::Failed;
    std::unique_lock gate(openGate(), std::defer_lock);
    if (!gate.try_lock_for(std::chrono::milliseconds(kBusyTimeoutMs))) {
        m_lastError = QStringLiteral("another open of the process takes long");
        qCInfo(lcRecord) << m_name << m_lastError;
        return false;
    }
    return openFile();
}

bool Connection::openFile()
{
    Registry &registry = Registry::instance();
    // Every connection of ours leaves an older file at this path first.
    leaveOlderFiles();
    const bool exists = QFileInfo::exists(m_path) || QFileInfo(m_path).isSymLink();
    if (!exists) {
        if (m_access == Access::ReadOnly) {
            m_status = OpenStatus::Missing;
            return false;
        }
        if (!create(m_path))
            return false;
    }
    const Identity identity = identityOf(m_path);
    // Read through a connection of ours that has this very file open, else
    // through a descriptor of our own (no connection of ours has it open, and
    // none opens it meanwhile: we hold the gate).
    const std::optional<FileState> throughPeer = registry.stateThroughPeer(m_path, identity);
    const FileState state = throughPeer ? *throughPeer
        : identity.valid                ? fileStateAt(m_path)
                                        : FileState::Unreadable;
    if (state == FileState::Empty || state == FileState::NotDatabase || state == FileState::Truncated) {
        m_status = OpenStatus::Damaged;
        m_lastError = state == FileState::Empty ? QStringLiteral("an empty file")
            : state == FileState::Truncated    ? QStringLiteral("shorter than its header says")
                                               : QStringLiteral("not an SQLite database");
        qCInfo(lcRecord) << m_name << m_path << "is" << m_lastError << "; not opened";
        return false;
    }
    registry.removeStaleLeftovers(m_path, identity);

    bool opened = false;
    if (m_access != Access::ReadOnly) {
        if (!closeReadOnlyPeers()) {
            m_lastError = QStringLiteral("a read-only view of the file is still open");
            return false;
        }
        opened = openWith("rw", true);
        m_readOnly = false;
    }
    if (!opened && m_access != Access::ReadWrite && m_status != OpenStatus::Damaged) {
        // A read-only file or folder, or a reader beside the station. With a
        // -wal beside the file SQLite reads through it (and the station, while
        // it runs, always has one). Without one nobody is writing: the file is
        // read alone, and no -wal or -shm is made beside it.
        const bool hasWal = QFileInfo::exists(m_path + QLatin1String("-wal"));
        opened = hasWal ? openWith("ro", false) : openWith("ro&immutable=1", false);
        m_readOnly = true;
    }
    if (!opened) {
        m_readOnly = false;
        return false;
    }
    m_status = OpenStatus::Opened;
    m_identity = identity.valid ? identity : identityOf(m_path);
    if (!m_readOnly) {
        const QString key = detail::absolute(m_path);
        registry.recordLeftover(m_path, {m_identity, identityOf(key + QLatin1String("-wal")),
                                         identityOf(key + QLatin1String("-shm"))});
    }
    publish();
    qCDebug(lcRecord) << m_name << "opened" << m_path << (m_readOnly ? "read-only" : "");
    return true;
}

void Connection::close()
{
    if (m_db.isOpen()) {
        // SQLite checkpoints at the last close only into the file at the path,
        // and only when that file is still a sound database not found damaged.
        const bool current = isCurrent();
        const bool sound = !m_readOnly && current && fileState() == FileState::Sound
            && !Registry::instance().isDamaged(this);
        setCheckpointOnClose(m_db, sound);
        // The others stop reading through our descriptor before it goes, and
        // learn that we are closed only once SQLite has let go of the file
        // (and of its -shm mapping, which a new open would otherwise share).
        Registry::instance().published(this, true, m_readOnly, m_identity, nullptr);
        m_db.close();
        Registry::instance().published(this, false, false, Identity(), nullptr);
        if (current)
            Registry::instance().forgetLeftover(m_path, m_identity);
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

FileState Connection::fileState() const
{
    return m_db.isOpen() ? fileStateThrough(mainFile()) : FileState::Unreadable;
}

QByteArray Connection::fileHeader() const
{
    constexpr int kHeaderBytes = 100;
    sqlite3_file *file = m_db.isOpen() ? mainFile() : nullptr;
    if (!file || !file->pMethods)
        return {};
    QByteArray head(kHeaderBytes, '\0');
    const int rc = file->pMethods->xRead(file, head.data(), kHeaderBytes, 0);
    return rc == SQLITE_OK || rc == SQLITE_IOERR_SHORT_READ ? head : QByteArray();
}

void Connection::markDamaged()
{
    Registry::instance().markDamaged(m_identity);
}

bool Connection::checkpoint(Checkpoint mode, int readerWaitMs)
{
    if (!isOpen() || m_readOnly || !isCurrent() || fileState() != FileState::Sound
        || Registry::instance().isDamaged(this))
        return false;
    sqlite3 *h = detail::handleOf(m_db);
    if (h && readerWaitMs != kBusyTimeoutMs)
        sqlite3_busy_timeout(h, readerWaitMs);
    QSqlQuery q(m_db);
    const QString text = mode == Checkpoint::Truncate ? QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")
                                                      : QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)");
    const bool ran = q.exec(text) && q.next();
    if (h && readerWaitMs != kBusyTimeoutMs)
        sqlite3_busy_timeout(h, kBusyTimeoutMs);
    if (!ran) {
        qCInfo(lcRecord) << m_name << text << "failed:" << q.lastError().text();
        return false;
    }
    // busy, frames in the WAL, frames copied
    const bool complete = q.value(0).toInt() == 0 && q.value(1).toInt() == q.value(2).toInt();
    qCDebug(lcRecord) << m_name << text << q.value(0) << q.value(1) << q.value(2);
    return complete;
}

sqlite3 *Connection::handle() const
{
    return detail::handleOf(m_db);
}

} // namespace station::sampledb
