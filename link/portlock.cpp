#include "link/portlock.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace station::link {

namespace {

constexpr int kMostHoldersNamed = 3;

QString processName(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll().trimmed());
}

// Pids holding a flock on the file with this device and inode: /proc/locks
// lines read "1: FLOCK  ADVISORY  WRITE 4242 00:1a:4 0 EOF" (major and minor
// in hex, the inode in decimal).
QList<qint64> flockHolders(const struct stat &node)
{
    QList<qint64> pids;
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return pids;
    const QByteArray file = QByteArray::number(major(node.st_dev), 16).rightJustified(2, '0') + ':'
                            + QByteArray::number(minor(node.st_dev), 16).rightJustified(2, '0') + ':'
                            + QByteArray::number(qulonglong(node.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        // f: "1:" "FLOCK" "ADVISORY" "WRITE" pid file start end ("->" lines are waiters)
        if (f.size() >= 6 && f[1] == "FLOCK" && f[5] == file)
            pids << f[4].toLongLong();
    }
    return pids;
}

// Other processes of this user with the character device rdev open.
QList<qint64> openers(dev_t rdev)
{
    QList<qint64> pids;
    const qint64 self = qint64(::getpid());
    const QStringList procs = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &name : procs) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric || pid == self)
            continue;
        const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fdDir).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
            struct stat st {};
            if (::stat(QFile::encodeName(fdDir + u'/' + fd).constData(), &st) == 0 && S_ISCHR(st.st_mode)
                && st.st_rdev == rdev) {
                pids << pid;
                break;
            }
        }
    }
    return pids;
}

} // namespace

int claimPort(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    int error = 0;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        error = EWOULDBLOCK;
#ifdef TIOCGEXCL
    int exclusive = 0;
    if (error == 0 && ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
        error = EBUSY;
#endif
    if (error != 0) {
        ::close(fd);
        return -error;
    }
    return fd;
}

void excludeOthers(int fd)
{
    ::ioctl(fd, TIOCEXCL);  // ENOTTY on a device that is not a tty: the flock holds it
}

void releasePort(int claim, int fd)
{
    if (fd >= 0)
        ::ioctl(fd, TIOCNXCL);
    if (claim >= 0)
        ::close(claim);  // the flock goes with it
}

QString portHolders(const QString &path)
{
    struct stat node {};
    if (::stat(QFile::encodeName(path).constData(), &node) != 0)
        return QString();
    // The flock's holder is the one that holds the port; the processes that
    // merely have it open (a pseudo-terminal's server keeps its other end
    // open) are named only when nobody holds the flock (a terminal program
    // that set the exclusive mode).
    QList<qint64> pids = flockHolders(node);
    if (pids.isEmpty() && S_ISCHR(node.st_mode))
        for (qint64 pid : openers(node.st_rdev))
            if (!pids.contains(pid))
                pids << pid;
    QStringList named;
    for (qint64 pid : pids) {
        if (named.size() == kMostHoldersNamed)
            break;
        const QString name = processName(pid);
        named << (name.isEmpty() ? QStringLiteral("进程 %1").arg(pid) : QStringLiteral("%1（进程 %2）").arg(name).arg(pid));
    }
    return named.join(QStringLiteral("、"));
}

} // namespace station::link
