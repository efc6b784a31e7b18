#include "common/stationlock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace station {

namespace {

QString lockPathOf(const QString &folder)
{
    return QDir(folder).filePath(QLatin1String(kStationLockFile));
}

struct flock wholeFile(short type)
{
    struct flock l {};
    l.l_type = type;
    l.l_whence = SEEK_SET;
    l.l_start = 0;
    l.l_len = 0;  // to the end, however long
    l.l_pid = 0;  // F_OFD_* want 0
    return l;
}

} // namespace

StationLock::StationLock(const QString &folder)
    : m_path(lockPathOf(folder))
{
}

StationLock::~StationLock()
{
    unlock();
}

bool StationLock::tryLock()
{
    if (m_fd >= 0)
        return true;
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    struct flock l = wholeFile(F_WRLCK);
    if (::fcntl(fd, F_OFD_SETLK, &l) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    // For the messages that name the holder; the lock works without it.
    [[maybe_unused]] const bool named
        = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.constData(), size_t(pid.size()), 0) == pid.size();
    return true;
}

void StationLock::unlock()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
}

bool StationLock::isHeld(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(lockPathOf(folder)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;  // no file: nobody ever held it
    struct flock l = wholeFile(F_WRLCK);
    const bool held = ::fcntl(fd, F_OFD_GETLK, &l) == 0 && l.l_type != F_UNLCK;
    ::close(fd);
    return held;
}

qint64 StationLock::holderPid(const QString &folder)
{
    QFile f(lockPathOf(folder));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    return f.readLine(32).trimmed().toLongLong();
}

} // namespace station
