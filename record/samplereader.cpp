#include "record/samplereader.h"

#include "common/datenum.h"
#include "common/logging.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace station::sampledb {

namespace {

// Half a second, as a fraction of a day: stored times are whole seconds, so
// a bound matches the row of its own second however the sum rounds.
constexpr double kHalfSecond = 0.5 / kSecondsPerDay;

double number(const QVariant &v)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok ? d : 0.0;
}

} // namespace

QString ringOrderQuery(bool from, bool to)
{
    // The ring key of a row: how many ids after the pointer's successor it
    // lies, 0 for the oldest row of a full ring, 65499 for the newest.
    QString text = QStringLiteral(
        "select * from (select *, row_number() over (order by ((w_id - ?) %% %1 + %1) %% %1) as w_seq"
        " from  pv_data)").arg(kRingSize);
    text.replace(QLatin1String("%%"), QLatin1String("%"));
    QStringList conditions;
    if (from)
        conditions << QStringLiteral("w_date + w_time >= ?");
    if (to)
        conditions << QStringLiteral("w_date + w_time <= ?");
    if (!conditions.isEmpty())
        text += QLatin1String(" where ") + conditions.join(QLatin1String(" and "));
    return text + QLatin1String(" order by w_seq");
}

bool readSamples(const QSqlDatabase &db, std::optional<Moment> from, std::optional<Moment> to,
                 const std::function<bool(const RecordedRow &)> &row, QString *error)
{
    const auto fail = [&](const QSqlQuery &q, const QString &what) {
        const QString text = what + QLatin1String(": ") + q.lastError().text();
        qCInfo(lcRecord) << db.connectionName() << text;
        if (error)
            *error = text;
        return false;
    };
    // One read transaction: the rows and the pointer are one snapshot of the ring.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN")))
        return fail(begin, QStringLiteral("BEGIN"));

    bool ok = true;
    {
        QSqlDatabase handle = db;
        const PointerRead pointer = readPointer(handle);
        std::int32_t p = pointer.pointer.value_or(0);
        if (p < 0 || p >= kRingSize)
            p = 0;
        const QString text = ringOrderQuery(bool(from), bool(to));
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(text);
        q.addBindValue(p + 1);
        if (from)
            q.addBindValue(from->value() - kHalfSecond);
        if (to)
            q.addBindValue(to->value() + kHalfSecond);
        // Every column of pv_data, then w_seq.
        const int columns = q.exec() ? q.record().count() - 1 : -1;
        if (columns < col::kRowColumns) {
            ok = fail(q, text);
        } else {
            const bool extended = columns >= col::kAllColumns;
            while (q.next()) {
                RecordedRow r;
                Sample &s = r.sample;
                s.id = q.value(col::kId).toInt();
                s.date = number(q.value(col::kDate));
                s.time = number(q.value(col::kTime));
                for (int j = 0; j < col::kValueCount; ++j)
                    s.values[size_t(j)] = float(number(q.value(col::kFirstValue + j)));
                if (extended) {
                    const QVariant live = q.value(col::kLive);
                    const QVariant utc = q.value(col::kUtc);
                    bool isNumber = false;
                    const qint64 l = live.toLongLong(&isNumber);
                    if (!live.isNull() && isNumber)
                        s.live = l != 0;
                    const qint64 u = utc.toLongLong(&isNumber);
                    if (!utc.isNull() && isNumber)
                        s.utc = u;
                }
                r.sequence = q.value(columns).toLongLong();
                if (!row(r))
                    break;
            }
            if (q.lastError().isValid())
                ok = fail(q, text);
        }
    }
    QSqlQuery end(db);
    end.exec(QStringLiteral("COMMIT"));
    return ok;
}

} // namespace station::sampledb
