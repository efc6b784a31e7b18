// One station per data folder.
//
// A station holds a lock on <data folder>/lx6100-station.lock for as long as
// it runs. The lock is an open file description lock (fcntl F_OFD_SETLK, a
// write lock on the whole file): the kernel lets go of it when the holder's
// last descriptor closes, so a station that was killed or lost its power
// never leaves a lock behind that blocks the next start. Unlike a POSIX
// record lock it belongs to the descriptor, not to the process: closing some
// other descriptor of the file in the same process does not drop it, and a
// second StationLock in the same process conflicts with the first (tests
// rely on that).
//
// Any program may ask whether a station holds a folder (F_OFD_GETLK) without
// taking the lock itself, so the question never stands in the way of a
// station that starts at the same moment. The holder writes its process id
// into the file, for the messages that name it.
#pragma once

#include <QString>

namespace station {

inline constexpr char kStationLockFile[] = "lx6100-station.lock";

class StationLock {
public:
    // The lock of folder (created when missing); nothing is taken yet.
    explicit StationLock(const QString &folder);
    ~StationLock();
    StationLock(const StationLock &) = delete;
    StationLock &operator=(const StationLock &) = delete;

    // Takes the lock without waiting; true when this object holds it now.
    bool tryLock();
    bool isLocked() const { return m_fd >= 0; }
    // Lets go (also done by the destructor and by the kernel at the end).
    void unlock();

    QString path() const { return m_path; }

    // Whether a station (another StationLock, in any process) holds folder's
    // lock now. Takes nothing.
    static bool isHeld(const QString &folder);
    // The process id the holder wrote into folder's lock file; 0 when none.
    static qint64 holderPid(const QString &folder);

private:
    QString m_path;
    int m_fd = -1;
};

} // namespace station
