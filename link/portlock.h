// The serial port held by one program at a time, as Linux serial programs hold
// it: an advisory lock on the device (flock, exclusive, as picocom and other
// terminal programs take it) and the tty's exclusive mode (TIOCEXCL: the
// kernel refuses every further open of the device with EBUSY until the last
// descriptor closes or the mode is cleared).
//
// Each guards against what the other misses. The exclusive mode stops a
// terminal program that takes no lock, but a process with CAP_SYS_ADMIN (root)
// is let through it; every station takes the flock, so two stations never
// share a port, whoever runs them, and asks the mode before it uses a port,
// so a station run by root leaves a terminal program's port alone too. Both
// are settled on a descriptor of their own before the open that sets the
// line's baud rate and parity: a station that finds the port held changes
// nothing on it. A station that finds either in its way does
// not use the port: the open fails as DeviceBusy (link/linkerror.h), with the
// holder named where it can be known, and the next exchange tries the open
// again, so the port is taken over once the other program lets go.
#pragma once

#include <QString>

namespace station::link {

// Claims the device at path before it is opened for use: a descriptor of its
// own (opened without waiting for the modem lines, the line's settings left
// as they are) takes the flock, and the tty's exclusive mode is asked
// (TIOCGEXCL: a process with CAP_SYS_ADMIN is let through the open itself).
// Returns that descriptor, which holds the port until releasePort(); or
// -EBUSY (another program set the exclusive mode), -EWOULDBLOCK (another
// holds the flock) or the open's -errno. A port found held is left exactly as
// it was: its baud rate and parity are the holder's.
int claimPort(const QByteArray &path);
// Once the port is opened for use on fd: the exclusive mode. A device that
// knows none (not a tty) is held by the flock alone.
void excludeOthers(int fd);
// Clears the exclusive mode on fd (-1: none) before it is closed, and lets go
// of the claim (-1: none).
void releasePort(int claim, int fd);

// Who holds the device at path, as the operator reads it: the process that
// holds its flock (any user's: /proc/locks), else the other processes of this
// user that have it open (/proc/<pid>/fd), as "minicom（进程 4242）", several
// joined by "、". Empty when nobody can be found.
QString portHolders(const QString &path);

} // namespace station::link
