// What the two recorder benchmarks share: a clock that steps when told, the
// recorder's schema with every row of the ring present, a stopwatch, and the
// quantiles of its timings.
#pragma once

#include "common/datenum.h"
#include "record/sampledb.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <sqlite3.h>
#include <vector>

namespace station::bench {

// The PC clock and the monotonic clock both step by advanceSeconds() only, so
// no clock jump is ever seen.
class StepClock final : public Clock {
public:
    QDateTime now() const override { return m_now; }
    qint64 monotonicMs() const override { return m_now.toMSecsSinceEpoch(); }
    void advanceSeconds(int s) { m_now = m_now.addSecs(s); }

private:
    QDateTime m_now{QDate(2024, 6, 1), QTime(8, 0, 0), Qt::UTC};
};

inline bool execAll(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
        sqlite3_free(error);
        return false;
    }
    return true;
}

// Removes the database at path with its -wal and -shm, so a run starts on a
// new file.
inline void removeDatabase(const QString &path)
{
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
}

// A database of the recorder's schema with all 65500 rows present, the
// pointer at `pointer`.
inline bool makeFullRing(const QString &path, std::int32_t pointer)
{
    if (!sampledb::create(path))
        return false;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return false;
    const QByteArray fill = QStringLiteral(
        "BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)"
        " INSERT INTO pv_data SELECT i, 45000 + i / 86400, (i % 86400) / 86400.0,"
        " i, i, i, i, i, i, i, i, 0, 100 FROM n;"
        "UPDATE sl_void SET sl_pointer=%2, sl_copy=%2;"
        "COMMIT;")
        .arg(sampledb::kRingSize).arg(pointer).toUtf8();
    const bool ok = execAll(db, fill.constData());
    sqlite3_close(db);
    return ok;
}

// Milliseconds the work took.
inline double timed(const std::function<void()> &work)
{
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

// The value at quantile q (0 to 1, nearest rank) of timings sorted in
// ascending order; not empty.
inline double quantileOfSorted(const std::vector<double> &sorted, double q)
{
    return sorted[std::min(sorted.size() - 1, size_t(q * double(sorted.size() - 1) + 0.5))];
}

} // namespace station::bench
