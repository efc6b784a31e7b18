#pragma once

#include <QString>

namespace station::link {

// The device behind port number n. On Linux the link <data folder>/serial/comN
// when it exists (a symlink to a real device or to a pseudo-terminal), else
// /dev/ttyS{n-1}; on Windows \\.\COMn.
QString portDevicePath(int port);

// <data folder>/serial/comN, whether or not it exists.
QString portLinkPath(int port);

} // namespace station::link
