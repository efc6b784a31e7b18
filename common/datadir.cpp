#include "common/datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

namespace station {

void useStationApplicationName()
{
    QCoreApplication::setOrganizationName(QString());
    QCoreApplication::setOrganizationDomain(QString());
    QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationName));
}

QString dataDir()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(dir);
    return dir;
}

QString serialDir()
{
    const QString dir = dataDir() + QStringLiteral("/serial");
    QDir().mkpath(dir);
    return dir;
}

} // namespace station
