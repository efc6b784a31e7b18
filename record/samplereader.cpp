#include "record/samplereader.h"

#include "common/datenum.h"
#include "common/logging.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
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

bool readSamples(const QSqlDatabase &db, std::optional<Moment> from, std::optional<Moment> to,
                 const std::function<bool(const Sample &)> &row, QString *error)
{
    const auto fail = [&](const QSqlQuery &q, const QString &what) {
        const QString text = what + QLatin1String(": ") + q.lastError().text();
        qCInfo(lcRecord) << db.connectionName() << text;
        if (error)
            *error = text;
        return false;
    };
    // One read transaction: the rows are one snapshot of the ring.
    QSqlQuery begin(db);
    if (!begin.exec(QStringLiteral("BEGIN")))
        return fail(begin, QStringLiteral("BEGIN"));

    QString text = QStringLiteral("select * from  pv_data");
    QStringList conditions;
    if (from)
        conditions << QStringLiteral("w_date + w_time >= ?");
    if (to)
        conditions << QStringLiteral("w_date + w_time <= ?");
    if (!conditions.isEmpty())
        text += QLatin1String(" where ") + conditions.join(QLatin1String(" and "));
    text += QLatin1String(" order by w_date,w_time");

    bool ok = true;
    {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(text);
        if (from)
            q.addBindValue(from->value() - kHalfSecond);
        if (to)
            q.addBindValue(to->value() + kHalfSecond);
        if (!q.exec() || q.record().count() < col::kRowColumns) {
            ok = fail(q, text);
        } else {
            while (q.next()) {
                Sample s;
                s.id = q.value(col::kId).toInt();
                s.date = number(q.value(col::kDate));
                s.time = number(q.value(col::kTime));
                for (int j = 0; j < col::kValueCount; ++j)
                    s.values[size_t(j)] = float(number(q.value(col::kFirstValue + j)));
                if (!row(s))
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
