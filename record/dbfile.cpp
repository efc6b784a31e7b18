#include "record/dbfile.h"

#include "common/logging.h"
#include "common/stationlock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <array>
#include <cerrno>
#include <cstring>
#include <sqlite3.h>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace station::sampledb {

namespace {

// The first 100 bytes of an SQLite file (the "database header").
constexpr int kHeaderSize = 100;
const char kMagic[] = "SQLite format 3";  // 16 bytes with its NUL
constexpr int kPageSizeAt = 16;           // 2 bytes, big-endian; 1 means 65536
constexpr int kChangeCounterAt = 24;      // 4 bytes
constexpr int kPageCountAt = 28;          // 4 bytes: the database size in pages
constexpr int kValidForAt = 92;           // 4 bytes: the page count is valid when it equals the change counter

// SQLite's locks on the -shm: eight slots from byte 120 and the "dead man
// switch" at 128, which every connection holds shared while it has the
// -shm mapped (unixLockSharedMemory in SQLite's os_unix.c).
constexpr off_t kShmLocksAt = 120;
constexpr off_t kShmLockBytes = 9;

quint32 bigEndian(const unsigned char *p, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | p[i];
    return v;
}

FileState stateOf(const std::array<unsigned char, kHeaderSize> &head, qint64 bytesRead, qint64 fileSize)
{
    if (fileSize == 0)
        return FileState::Empty;
    if (bytesRead < qint64(sizeof kMagic) || std::memcmp(head.data(), kMagic, sizeof kMagic) != 0)
        return FileState::NotDatabase;
    if (bytesRead < kHeaderSize)
        return FileState::Truncated;
    quint32 pageSize = bigEndian(head.data() + kPageSizeAt, 2);
    if (pageSize == 1)
        pageSize = 65536;
    const quint32 pages = bigEndian(head.data() + kPageCountAt, 4);
    const bool countValid = pages != 0
        && bigEndian(head.data() + kChangeCounterAt, 4) == bigEndian(head.data() + kValidForAt, 4);
    if (countValid && fileSize < qint64(pages) * pageSize)
        return FileState::Truncated;
    return FileState::Sound;
}

QString suffixed(const QString &base, const char *suffix)
{
    return base + QLatin1String(suffix);
}

void syncFolderOf(const QString &path)
{
    syncToDisk(QFileInfo(path).absolutePath());
}

#ifdef Q_OS_UNIX
// Whether a process other than this one holds a lock on the -shm's lock bytes.
// An error counts as held: the caller then leaves the file alone.
bool shmLockedByOthers(const QByteArray &shm)
{
    const int fd = ::open(shm.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno != ENOENT;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kShmLocksAt;
    lock.l_len = kShmLockBytes;
    const bool held = ::fcntl(fd, F_GETLK, &lock) != 0 || lock.l_type != F_UNLCK;
    ::close(fd);
    return held;
}
#endif

} // namespace

FileState fileStateAt(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return FileState::Unreadable;
    std::array<unsigned char, kHeaderSize> head{};
    const qint64 n = f.read(reinterpret_cast<char *>(head.data()), kHeaderSize);
    if (n < 0)
        return FileState::Unreadable;
    return stateOf(head, n, f.size());
}

FileState fileStateThrough(sqlite3_file *file)
{
    if (!file || !file->pMethods)
        return FileState::Unreadable;
    sqlite3_int64 size = 0;
    if (file->pMethods->xFileSize(file, &size) != SQLITE_OK)
        return FileState::Unreadable;
    std::array<unsigned char, kHeaderSize> head{};
    const int rc = file->pMethods->xRead(file, head.data(), kHeaderSize, 0);
    if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ)
        return FileState::Unreadable;
    // A short read fills the rest with zeros; the size says how much is real.
    return stateOf(head, std::min<qint64>(size, kHeaderSize), size);
}

QString setAside(const QString &path, const QString &tag, const QDateTime &when)
{
    const QString stem = path + QLatin1Char('.') + tag + QLatin1Char('-')
        + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString base = stem;
    const auto taken = [](const QString &b) {
        for (const char *suffix : {"", "-wal", "-shm"})
            if (QFileInfo::exists(suffixed(b, suffix)) || QFileInfo(suffixed(b, suffix)).isSymLink())
                return true;
        return false;
    };
    for (int n = 2; taken(base); ++n)
        base = stem + QLatin1Char('-') + QString::number(n);

    // The companions first, the file last; on any failure what was moved goes
    // back, so a set is never split.
    QStringList movedFrom;
    QStringList movedTo;
    const auto undo = [&] {
        for (qsizetype i = movedFrom.size() - 1; i >= 0; --i)
            std::rename(QFile::encodeName(movedTo[i]).constData(), QFile::encodeName(movedFrom[i]).constData());
    };
    for (const char *suffix : {"-wal", "-shm", ""}) {
        const QString from = suffixed(path, suffix);
        if (!QFileInfo::exists(from) && !QFileInfo(from).isSymLink())
            continue;
        const QString to = suffixed(base, suffix);
        if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
            qCInfo(lcRecord) << "cannot set" << from << "aside as" << to << ":" << std::strerror(errno);
            undo();
            return QString();
        }
        movedFrom << from;
        movedTo << to;
    }
    if (movedFrom.isEmpty())
        return QString();
    syncFolderOf(path);
    qCInfo(lcRecord) << "set" << path << "aside as" << base;
    return base;
}

bool replaceReadOnlyIndex(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray shm = QFile::encodeName(path + QLatin1String("-shm"));
    struct stat st {};
    if (::lstat(shm.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Opened as SQLite opens it, through the "unix" layer's own open call
    // (which a test may replace to refuse writes as a non-root user is refused).
    using OpenCall = int (*)(const char *, int, int);
    sqlite3_vfs *unixVfs = sqlite3_vfs_find("unix");
    const auto open = unixVfs && unixVfs->xGetSystemCall
        ? reinterpret_cast<OpenCall>(unixVfs->xGetSystemCall(unixVfs, "open"))
        : nullptr;
    const auto writable = [open](const QByteArray &file, int *error) {
        const int fd = open ? open(file.constData(), O_RDWR | O_CLOEXEC, 0) : ::open(file.constData(), O_RDWR | O_CLOEXEC);
        *error = errno;
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    };
    int error = 0;
    // Only when the file itself can be written is the -shm what stands in the way.
    if (!writable(QFile::encodeName(path), &error) || writable(shm, &error))
        return false;
    if (error != EACCES && error != EPERM)
        return false;  // a read-only mount, say: nothing to replace
    if (shmLockedByOthers(shm)) {
        qCInfo(lcRecord) << "the read-only -shm of" << path << "is in use by another process; left as it is";
        return false;
    }
    if (::unlink(shm.constData()) != 0) {
        qCInfo(lcRecord) << "cannot remove the read-only -shm of" << path << ":" << std::strerror(errno);
        return false;
    }
    qCInfo(lcRecord) << "removed the read-only -shm of" << path << "; SQLite builds it again";
    return true;
#else
    Q_UNUSED(path);
    return false;
#endif
}

bool inUseByAnotherProcess(const QString &path)
{
    if (StationLock::isHeld(QFileInfo(path).absolutePath()))
        return true;
#ifdef Q_OS_UNIX
    const QString shm = path + QLatin1String("-shm");
    if (QFileInfo::exists(shm) && shmLockedByOthers(QFile::encodeName(shm)))
        return true;
#endif
    return false;
}

void removeWithCompanions(const QString &path)
{
    for (const char *suffix : {"", "-journal", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

void syncToDisk(const QString &path)
{
#ifdef Q_OS_UNIX
    const bool folder = QFileInfo(path).isDir();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

} // namespace station::sampledb
