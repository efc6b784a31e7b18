#include "record/publish/dbfollower.h"

#include "common/logging.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>

#include <sys/stat.h>

namespace station::publish {

DatabaseFollower::DatabaseFollower(QString path, QString connectionName)
    : m_path(std::move(path)), m_connectionName(std::move(connectionName))
{
}

DatabaseFollower::~DatabaseFollower()
{
    close();
}

DatabaseFollower::FileState DatabaseFollower::fileState(const QString &path)
{
    FileState f;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return f;
    f.exists = true;
    f.inode = quint64(st.st_ino);
    f.size = quint64(st.st_size);
    f.mtimeNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return f;
}

DatabaseFollower::Signature DatabaseFollower::signature() const
{
    return {fileState(m_path), fileState(m_path + QLatin1String("-wal"))};
}

bool DatabaseFollower::mayHaveChanged() const
{
    return !m_readAt || *m_readAt != signature() || m_sinceRead.hasExpired(kForcedReadMs);
}

bool DatabaseFollower::open(QString *error)
{
    if (!m_connection)
        m_connection = std::make_unique<sampledb::Connection>(m_connectionName, m_path, sampledb::Access::ReadOnly);
    if (m_connection->open()) {
        QSqlDatabase db = m_connection->database();
        if (!onOpen || onOpen(db, error))
            return true;
        close();
        return false;
    }
    *error = QFileInfo::exists(m_path) ? QStringLiteral("cannot open %1: %2").arg(m_path, m_connection->lastError())
                                       : QStringLiteral("no database file %1").arg(m_path);
    return false;
}

void DatabaseFollower::close()
{
    if (m_connection && m_connection->isOpen()) {
        if (onClose)
            onClose();
        m_connection->close();
    }
}

bool DatabaseFollower::read(const Body &body, QString *error)
{
    const Signature before = signature();
    // A connection kept from the last read is given up when the file was
    // replaced, or when it reads the file alone and a WAL has appeared.
    if (m_connection && m_connection->isOpen()
        && (!m_connection->isCurrent() || (m_withoutWal && before.second.exists)))
        close();
    if (!(m_connection && m_connection->isOpen())) {
        m_withoutWal = !before.second.exists;
        if (!open(error))
            return false;
    }
    QSqlDatabase db = m_connection->database();
    bool keepOpen = false;
    bool ok = false;
    {
        QSqlQuery begin(db);
        if (begin.exec(QStringLiteral("BEGIN")))
            ok = body(db, &keepOpen, error);
        else
            *error = QStringLiteral("BEGIN: ") + begin.lastError().text();
    }
    QSqlQuery(db).exec(QStringLiteral("COMMIT"));
    if (!ok) {
        qCInfo(lcPublish) << *error;
        close();
        return false;
    }
    if (m_withoutWal && QFileInfo::exists(m_path + QLatin1String("-wal"))) {
        close();
        *error = QStringLiteral("a station started while the database was read; reading again");
        return false;
    }
    if (!keepOpen)
        close();
    m_readAt = before;
    m_sinceRead.start();
    return true;
}

} // namespace station::publish
