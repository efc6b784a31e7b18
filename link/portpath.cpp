#include "link/portpath.h"

#include "common/datadir.h"

#include <QFileInfo>

namespace station::link {

QString portLinkPath(int port)
{
    return dataDir() + QStringLiteral("/serial/com") + QString::number(port);
}

QString portDevicePath(int port)
{
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM") + QString::number(port);
#else
    const QString link = portLinkPath(port);
    if (QFileInfo(link).isSymLink() || QFileInfo::exists(link))
        return link;
    return QStringLiteral("/dev/ttyS") + QString::number(port - 1);
#endif
}

} // namespace station::link
