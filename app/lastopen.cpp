#include "app/lastopen.h"

#include "common/datadir.h"
#include "link/libmodbusbackend.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace station {

namespace {

constexpr int kMaxPort = 255;
constexpr int kMaxStation = 247;

} // namespace

QString lastOpenPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + u'/'
           + QLatin1String(kApplicationName) + QStringLiteral("/last-open.conf");
}

std::optional<LinkSettings> loadLastOpen()
{
    const QSettings file(lastOpenPath(), QSettings::IniFormat);
    if (file.status() != QSettings::NoError)
        return std::nullopt;
    bool portOk = false;
    bool baudOk = false;
    bool addressOk = false;
    LinkSettings s;
    s.port = file.value(QStringLiteral("link/port")).toInt(&portOk);
    const int baud = file.value(QStringLiteral("link/baud")).toInt(&baudOk);
    s.station = file.value(QStringLiteral("link/address")).toInt(&addressOk);
    s.baudCode = -1;
    for (std::int32_t code = 0; code < 3; ++code)
        if (link::baudRate(code) == baud)
            s.baudCode = code;
    s.parityCode = -1;
    const QString parity = file.value(QStringLiteral("link/parity")).toString();
    for (std::int32_t code = 0; link::parityName(code); ++code)
        if (parity == QLatin1String(link::parityName(code)))
            s.parityCode = code;
    if (!portOk || !baudOk || !addressOk || s.baudCode < 0 || s.parityCode < 0 || s.port < 1 || s.port > kMaxPort
        || s.station < 1 || s.station > kMaxStation)
        return std::nullopt;
    return s;
}

bool saveLastOpen(const LinkSettings &settings)
{
    const int baud = link::baudRate(settings.baudCode);
    const char *parity = link::parityName(settings.parityCode);
    if (baud == 0 || !parity)
        return false;
    QDir().mkpath(QFileInfo(lastOpenPath()).absolutePath());
    QSettings file(lastOpenPath(), QSettings::IniFormat);
    file.setValue(QStringLiteral("link/port"), settings.port);
    file.setValue(QStringLiteral("link/baud"), baud);
    file.setValue(QStringLiteral("link/parity"), QLatin1String(parity));
    file.setValue(QStringLiteral("link/address"), settings.station);
    file.sync();
    return file.status() == QSettings::NoError;
}

} // namespace station
