#include "record/export/csv.h"

#include "common/datenum.h"
#include "common/numbers.h"
#include "common/valuecolumns.h"

#include <QDateTime>
#include <cmath>

namespace station::exporttool {

namespace {

static_assert(valuecol::kCount == sampledb::col::kValueCount);

QString valueText(int column, float value, bool raw)
{
    return raw ? shortestFloatText(value) : numberText(valuecol::shown(column, value));
}

} // namespace

QStringList headerNames()
{
    QStringList names{QStringLiteral("time")};
    for (const valuecol::Column &c : valuecol::kColumns)
        names << QLatin1String(c.name);
    return names << QStringLiteral("live") << QStringLiteral("seq");
}

QString headerLine()
{
    return headerNames().join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString timeText(const sampledb::Sample &sample)
{
    QString text = dateFromDayNumber(sample.date).toString(Qt::ISODate) + QLatin1Char('T')
        + timeFromDayFraction(sample.time).toString(QStringLiteral("HH:mm:ss"));
    if (!sample.utc)
        return text;
    // The stored local time less the UTC time, both to the second.
    const double unixEpochDay = dayNumber(QDate(1970, 1, 1));
    const qint64 local = qint64(std::llround((sample.date - unixEpochDay) * kSecondsPerDay + sample.time * kSecondsPerDay));
    return text + offsetText(qint64(std::llround(double(local - *sample.utc) / 60.0)));
}

QString offsetText(qint64 minutes)
{
    const qint64 magnitude = minutes < 0 ? -minutes : minutes;
    return (minutes < 0 ? QStringLiteral("-") : QStringLiteral("+"))
        + QStringLiteral("%1:%2").arg(magnitude / 60, 2, 10, QLatin1Char('0')).arg(magnitude % 60, 2, 10, QLatin1Char('0'));
}

QString sampleLine(const sampledb::RecordedRow &row, bool raw)
{
    const sampledb::Sample &sample = row.sample;
    QString line = timeText(sample);
    for (int j = 0; j < sampledb::col::kValueCount; ++j)
        line += QLatin1Char(',') + valueText(j, sample.values[size_t(j)], raw);
    line += QLatin1Char(',');
    if (sample.live)
        line += *sample.live ? QLatin1Char('1') : QLatin1Char('0');
    return line + QLatin1Char(',') + QString::number(row.sequence) + QLatin1Char('\n');
}

std::optional<sampledb::Moment> parseLocalTime(const QString &text, bool endOfDay)
{
    const QString t = text.trimmed();
    for (const char *format : {"yyyy-MM-dd'T'HH:mm:ss", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd'T'HH:mm", "yyyy-MM-dd HH:mm"}) {
        const QDateTime dt = QDateTime::fromString(t, QLatin1String(format));
        if (dt.isValid())
            return sampledb::Moment{dayNumber(dt.date()), dayFraction(dt.time())};
    }
    const QDate day = QDate::fromString(t, QStringLiteral("yyyy-MM-dd"));
    if (!day.isValid())
        return std::nullopt;
    return sampledb::Moment{dayNumber(day), endOfDay ? dayFraction(QTime(23, 59, 59)) : 0.0};
}

} // namespace station::exporttool
