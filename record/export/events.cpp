#include "record/export/events.h"

#include "record/export/csv.h"

#include "common/datenum.h"

#include <QDateTime>
#include <QStringList>
#include <QTimeZone>

#include <cmath>

namespace station::exporttool {

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n'))
        && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// e_local as written, read as if it were UTC, so that no time zone moves it.
QDateTime asStoredUtc(const QString &local)
{
    QDateTime t = QDateTime::fromString(local, Qt::ISODateWithMs);
    t.setTimeZone(QTimeZone::utc());
    return t;
}

} // namespace

QString eventHeaderLine()
{
    return QStringLiteral("seq,local,utc,user,kind,details,hash\n");
}

QString eventLine(const journal::Row &row, std::optional<sampledb::Moment> from, std::optional<sampledb::Moment> to)
{
    using journal::col::kDetails;
    const QString local = journal::text(row[journal::col::kLocal]);
    const QDateTime stored = asStoredUtc(local);
    if ((from || to) && stored.isValid()) {
        const double at = dayNumber(stored.date()) + dayFraction(stored.time());
        if ((from && at < from->value() - 1e-9) || (to && at > to->value() + 1e-9))
            return QString();
    }
    const journal::Value &utcValue = row[journal::col::kUtc];
    QString localField = local;
    QString utcField = journal::text(utcValue);
    if (utcValue.type == journal::Value::Type::Integer) {
        const QDateTime utc = QDateTime::fromMSecsSinceEpoch(utcValue.integer, Qt::UTC);
        utcField = utc.toString(Qt::ISODateWithMs);
        if (stored.isValid())
            localField += offsetText(std::llround(double(utc.msecsTo(stored)) / 60000.0));
    }
    const QStringList fields{journal::text(row[journal::col::kSeq]), localField, utcField,
                             journal::text(row[journal::col::kUser]), journal::text(row[journal::col::kKind]),
                             journal::text(row[kDetails]), journal::text(row[journal::col::kHash])};
    QStringList quoted;
    for (const QString &f : fields)
        quoted << csvField(f);
    return quoted.join(QLatin1Char(',')) + QLatin1Char('\n');
}

} // namespace station::exporttool
