// The serial port held by one program at a time, as Linux serial programs hold
// it: an advisory lock on the device (flock, exclusive, as picocom and other
// terminal programs take it) and the tty's exclusive mode (TIOCEXCL: the
// kernel refuses every further open of the device with EBUSY until the last
// descriptor closes or the mode is cleared).
//
// Each guards against what the other misses. The exclusive mode stops a
// terminal program that takes no lock, but a process with CAP_SYS_ADMIN (root)
// is let through it; every station takes the flock, so two stations never
// share a port, whoever runs them. A station that finds either in its way does
// not use the port: the open fails as DeviceBusy (link/linkerror.h), with the
// holder named where it can be known, and the next exchange tries the open
// again, so the port is taken over once the other program lets go.
#pragma once

#include <QString>

namespace station::link {

// Takes the port open on fd: the flock, then the exclusive mode. Returns 0, or
// the errno of the flock that another holds (EWOULDBLOCK); the port is then
// not to be used. A device that knows no exclusive mode (not a tty) is held by
// the flock alone.
int holdPort(int fd);
// Clears the exclusive mode before fd is closed (the flock goes with it).
void releasePort(int fd);

// Who holds the device at path, as the operator reads it: the process that
// holds its flock (any user's: /proc/locks), else the other processes of this
// user that have it open (/proc/<pid>/fd), as "minicom（进程 4242）", several
// joined by "、". Empty when nobody can be found.
QString portHolders(const QString &path);

} // namespace station::link
