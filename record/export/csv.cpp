#include "record/export/csv.h"

#include "common/datenum.h"
#include "common/numbers.h"
#include "common/valuecolumns.h"

#include <QDateTime>

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
    return names;
}

QString headerLine()
{
    return headerNames().join(QLatin1Char(',')) + QLatin1Char('\n');
}

QString sampleLine(const sampledb::Sample &sample, bool raw)
{
    QString line = dateFromDayNumber(sample.date).toString(Qt::ISODate) + QLatin1Char('T')
        + timeFromDayFraction(sample.time).toString(QStringLiteral("HH:mm:ss"));
    for (int j = 0; j < sampledb::col::kValueCount; ++j)
        line += QLatin1Char(',') + valueText(j, sample.values[size_t(j)], raw);
    return line + QLatin1Char('\n');
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
