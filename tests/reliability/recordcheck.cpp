#include "tests/reliability/recordcheck.h"

#include "tests/record/dbprobe.h"

#include <cmath>

namespace station::reliability {

std::optional<QList<RecordedRow>> readRows(const QString &path)
{
    test::DbProbe db(path);
    if (!db.isOpen())
        return std::nullopt;
    const auto rows = db.rows(QStringLiteral("SELECT * FROM pv_data ORDER BY w_id"));
    if (!rows)
        return std::nullopt;
    QList<RecordedRow> result;
    for (const QVariantList &r : *rows) {
        if (r.size() < 13)
            return std::nullopt;
        RecordedRow row;
        row.id = r[0].toLongLong();
        row.second = qint64(std::llround(r[1].toDouble() * 86400.0 + r[2].toDouble() * 86400.0));
        for (int i = 0; i < 10; ++i)
            row.values[size_t(i)] = r[3 + i].toDouble();
        result << row;
    }
    return result;
}

QString secondsGap(const QList<RecordedRow> &rows)
{
    for (qsizetype k = 1; k < rows.size(); ++k) {
        const qint64 step = rows[k].second - rows[k - 1].second;
        if (step != 1)
            return QStringLiteral("row %1 follows row %2 after %3 s").arg(rows[k].id).arg(rows[k - 1].id).arg(step);
    }
    return QString();
}

std::optional<std::pair<qint64, qint64>> storedPointer(const QString &path)
{
    test::DbProbe db(path);
    const auto c = db.isOpen() ? db.control() : std::nullopt;
    if (!c || c->size() < 2)
        return std::nullopt;
    return std::make_pair(c->at(0).toLongLong(), c->at(1).toLongLong());
}

QString integrity(const QString &path)
{
    test::DbProbe db(path);
    if (!db.isOpen())
        return QStringLiteral("cannot open: ") + db.error();
    const QVariant v = db.scalar(QStringLiteral("PRAGMA integrity_check"));
    return v.isValid() ? v.toString() : QStringLiteral("integrity_check failed: ") + db.error();
}

} // namespace station::reliability
