#include "tests/support/sqlitefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sqlite3.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>

namespace station::test {

namespace {

sqlite3_vfs *g_unix = nullptr;
sqlite3_vfs g_vfs;
sqlite3_io_methods g_io;
SqliteFaults g_faults;
QByteArray g_folder;  // with a trailing '/'; empty: every file is in scope
int g_refused = 0;
QByteArray g_watched;
int g_opens = 0;

// Our file object, with the unix layer's own file right behind it.
struct FaultFile {
    sqlite3_file base;
    sqlite3_file *real;
    bool inScope;
};

FaultFile *faultOf(sqlite3_file *f)
{
    return reinterpret_cast<FaultFile *>(f);
}
sqlite3_file *realOf(sqlite3_file *f)
{
    return faultOf(f)->real;
}

// SQLite hands the layer absolute names with symbolic links resolved.
QByteArray fileSystemName(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return QFile::encodeName(QDir::cleanPath(canonical.isEmpty() ? info.absoluteFilePath() : canonical));
}

bool inScope(const char *name)
{
    if (g_folder.isEmpty())
        return true;
    return name && std::strncmp(name, g_folder.constData(), size_t(g_folder.size())) == 0;
}

// The unix layer opens the -shm through its "open" system call, not through
// a layer above it.
using OpenCall = int (*)(const char *, int, int);
sqlite3_syscall_ptr g_realOpen = nullptr;

bool isIndexFile(const char *name)
{
    const size_t n = name ? std::strlen(name) : 0;
    return n > 4 && std::strcmp(name + n - 4, "-shm") == 0;
}

int faultOpen(const char *name, int flags, int mode)
{
    if (g_faults.readOnlyIndex && (flags & O_ACCMODE) != O_RDONLY && isIndexFile(name) && inScope(name)) {
        ++g_refused;
        errno = EROFS;
        return -1;
    }
    struct stat st {};
    if (g_faults.modeBits && (flags & O_ACCMODE) != O_RDONLY && inScope(name) && ::stat(name, &st) == 0
        && (st.st_mode & S_IWUSR) == 0) {
        ++g_refused;
        errno = EACCES;
        return -1;
    }
    return reinterpret_cast<OpenCall>(g_realOpen)(name, flags, mode);
}

int refuse(int code)
{
    ++g_refused;
    return code;
}

// Whether writing up to end would make the file longer (or its size is unknown).
bool grows(sqlite3_file *f, sqlite3_int64 end)
{
    sqlite3_int64 size = 0;
    return realOf(f)->pMethods->xFileSize(realOf(f), &size) != SQLITE_OK || end > size;
}

int xClose(sqlite3_file *f)
{
    return realOf(f)->pMethods->xClose(realOf(f));
}
int xRead(sqlite3_file *f, void *buf, int amount, sqlite3_int64 offset)
{
    return realOf(f)->pMethods->xRead(realOf(f), buf, amount, offset);
}
int xWrite(sqlite3_file *f, const void *buf, int amount, sqlite3_int64 offset)
{
    if (faultOf(f)->inScope) {
        if (g_faults.readOnly)
            return refuse(SQLITE_IOERR_WRITE);
        if (g_faults.diskFull && grows(f, offset + amount))
            return refuse(SQLITE_FULL);
    }
    return realOf(f)->pMethods->xWrite(realOf(f), buf, amount, offset);
}
int xTruncate(sqlite3_file *f, sqlite3_int64 size)
{
    if (faultOf(f)->inScope) {
        if (g_faults.readOnly)
            return refuse(SQLITE_IOERR_TRUNCATE);
        sqlite3_int64 now = 0;
        if (g_faults.diskFull && realOf(f)->pMethods->xFileSize(realOf(f), &now) == SQLITE_OK && size > now)
            return refuse(SQLITE_FULL);
    }
    return realOf(f)->pMethods->xTruncate(realOf(f), size);
}
int xSync(sqlite3_file *f, int flags)
{
    if (faultOf(f)->inScope && g_faults.slowSyncMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_faults.slowSyncMs));
    return realOf(f)->pMethods->xSync(realOf(f), flags);
}
int xFileSize(sqlite3_file *f, sqlite3_int64 *size)
{
    return realOf(f)->pMethods->xFileSize(realOf(f), size);
}
int xLock(sqlite3_file *f, int level)
{
    return realOf(f)->pMethods->xLock(realOf(f), level);
}
int xUnlock(sqlite3_file *f, int level)
{
    return realOf(f)->pMethods->xUnlock(realOf(f), level);
}
int xCheckReservedLock(sqlite3_file *f, int *out)
{
    return realOf(f)->pMethods->xCheckReservedLock(realOf(f), out);
}
int xFileControl(sqlite3_file *f, int op, void *arg)
{
    return realOf(f)->pMethods->xFileControl(realOf(f), op, arg);
}
int xSectorSize(sqlite3_file *f)
{
    return realOf(f)->pMethods->xSectorSize(realOf(f));
}
int xDeviceCharacteristics(sqlite3_file *f)
{
    return realOf(f)->pMethods->xDeviceCharacteristics(realOf(f));
}
int xShmMap(sqlite3_file *f, int region, int size, int extend, void volatile **out)
{
    return realOf(f)->pMethods->xShmMap(realOf(f), region, size, extend, out);
}
int xShmLock(sqlite3_file *f, int offset, int n, int flags)
{
    return realOf(f)->pMethods->xShmLock(realOf(f), offset, n, flags);
}
void xShmBarrier(sqlite3_file *f)
{
    realOf(f)->pMethods->xShmBarrier(realOf(f));
}
int xShmUnmap(sqlite3_file *f, int deleteFlag)
{
    return realOf(f)->pMethods->xShmUnmap(realOf(f), deleteFlag);
}
int xFetch(sqlite3_file *f, sqlite3_int64 offset, int amount, void **out)
{
    return realOf(f)->pMethods->xFetch(realOf(f), offset, amount, out);
}
int xUnfetch(sqlite3_file *f, sqlite3_int64 offset, void *p)
{
    return realOf(f)->pMethods->xUnfetch(realOf(f), offset, p);
}

int xOpen(sqlite3_vfs *, sqlite3_filename name, sqlite3_file *f, int flags, int *outFlags)
{
    FaultFile *file = faultOf(f);
    file->base.pMethods = nullptr;
    file->real = reinterpret_cast<sqlite3_file *>(file + 1);
    file->inScope = inScope(name);
    if ((flags & SQLITE_OPEN_MAIN_DB) && name && !g_watched.isEmpty() && g_watched == name)
        ++g_opens;
    if (file->inScope && g_faults.readOnly && (flags & SQLITE_OPEN_READWRITE)) {
        // A nameless temporary file is always a new one.
        int exists = 0;
        if (name)
            g_unix->xAccess(g_unix, name, SQLITE_ACCESS_EXISTS, &exists);
        if (!exists)
            return refuse(SQLITE_CANTOPEN);
        flags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) | SQLITE_OPEN_READONLY;
    }
    const int rc = g_unix->xOpen(g_unix, name, file->real, flags, outFlags);
    if (file->real->pMethods)
        file->base.pMethods = &g_io;
    return rc;
}

int xDelete(sqlite3_vfs *, const char *name, int syncDir)
{
    if (inScope(name) && g_faults.readOnly)
        return refuse(SQLITE_IOERR_DELETE);
    return g_unix->xDelete(g_unix, name, syncDir);
}
int xAccess(sqlite3_vfs *, const char *name, int flags, int *out)
{
    return g_unix->xAccess(g_unix, name, flags, out);
}
int xFullPathname(sqlite3_vfs *, const char *name, int n, char *out)
{
    return g_unix->xFullPathname(g_unix, name, n, out);
}
void *xDlOpen(sqlite3_vfs *, const char *name)
{
    return g_unix->xDlOpen(g_unix, name);
}
void xDlError(sqlite3_vfs *, int n, char *msg)
{
    g_unix->xDlError(g_unix, n, msg);
}
void (*xDlSym(sqlite3_vfs *, void *handle, const char *symbol))(void)
{
    return g_unix->xDlSym(g_unix, handle, symbol);
}
void xDlClose(sqlite3_vfs *, void *handle)
{
    g_unix->xDlClose(g_unix, handle);
}
int xRandomness(sqlite3_vfs *, int n, char *out)
{
    return g_unix->xRandomness(g_unix, n, out);
}
int xSleep(sqlite3_vfs *, int us)
{
    return g_unix->xSleep(g_unix, us);
}
int xCurrentTime(sqlite3_vfs *, double *out)
{
    return g_unix->xCurrentTime(g_unix, out);
}
int xGetLastError(sqlite3_vfs *, int n, char *out)
{
    return g_unix->xGetLastError(g_unix, n, out);
}
int xCurrentTimeInt64(sqlite3_vfs *, sqlite3_int64 *out)
{
    return g_unix->xCurrentTimeInt64(g_unix, out);
}

} // namespace

void installSqliteFaults(const QString &folder)
{
    g_folder = folder.isEmpty() ? QByteArray() : fileSystemName(folder) + '/';
    if (g_unix)
        return;
    g_unix = sqlite3_vfs_find("unix");
    Q_ASSERT(g_unix && g_unix->iVersion >= 2);

    g_io = sqlite3_io_methods{};
    g_io.iVersion = 3;
    g_io.xClose = xClose;
    g_io.xRead = xRead;
    g_io.xWrite = xWrite;
    g_io.xTruncate = xTruncate;
    g_io.xSync = xSync;
    g_io.xFileSize = xFileSize;
    g_io.xLock = xLock;
    g_io.xUnlock = xUnlock;
    g_io.xCheckReservedLock = xCheckReservedLock;
    g_io.xFileControl = xFileControl;
    g_io.xSectorSize = xSectorSize;
    g_io.xDeviceCharacteristics = xDeviceCharacteristics;
    g_io.xShmMap = xShmMap;
    g_io.xShmLock = xShmLock;
    g_io.xShmBarrier = xShmBarrier;
    g_io.xShmUnmap = xShmUnmap;
    g_io.xFetch = xFetch;
    g_io.xUnfetch = xUnfetch;

    g_vfs = sqlite3_vfs{};
    g_vfs.iVersion = 2;
    g_vfs.szOsFile = int(sizeof(FaultFile)) + g_unix->szOsFile;
    g_vfs.mxPathname = g_unix->mxPathname;
    g_vfs.zName = "station-faults";
    g_vfs.xOpen = xOpen;
    g_vfs.xDelete = xDelete;
    g_vfs.xAccess = xAccess;
    g_vfs.xFullPathname = xFullPathname;
    g_vfs.xDlOpen = xDlOpen;
    g_vfs.xDlError = xDlError;
    g_vfs.xDlSym = xDlSym;
    g_vfs.xDlClose = xDlClose;
    g_vfs.xRandomness = xRandomness;
    g_vfs.xSleep = xSleep;
    g_vfs.xCurrentTime = xCurrentTime;
    g_vfs.xGetLastError = xGetLastError;
    g_vfs.xCurrentTimeInt64 = xCurrentTimeInt64;
    sqlite3_vfs_register(&g_vfs, 1);

    g_realOpen = g_unix->xGetSystemCall(g_unix, "open");
    g_unix->xSetSystemCall(g_unix, "open", reinterpret_cast<sqlite3_syscall_ptr>(faultOpen));
}

SqliteFaults &sqliteFaults()
{
    return g_faults;
}

int refusedWrites()
{
    return g_refused;
}

void watchOpens(const QString &path)
{
    g_watched = fileSystemName(path);
    g_opens = 0;
}

int watchedOpens()
{
    return g_opens;
}

} // namespace station::test
