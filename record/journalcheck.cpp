#include "record/journalcheck.h"

#include "record/journal.h"
#include "record/sampledb.h"

#include <sqlite3.h>

#include <optional>

namespace station::journal {

namespace {

struct Fault {
    QString line;
};

// The chain, row by row in e_seq order; the first row that does not fit.
std::optional<Fault> checkChain(sqlite3 *db, qint64 *rows, QString *head)
{
    *rows = 0;
    if (!hasTable(db))
        return std::nullopt;
    std::optional<Fault> fault;
    qint64 expected = 1;
    QByteArray previous = chainLink(Value{});
    QString readError;
    const bool read = readRows(db, [&](const Row &row) {
        const Value &seq = row[col::kSeq];
        const qint64 n = seq.integer;
        if (seq.type != Value::Type::Integer || n < 1) {
            fault = Fault{QStringLiteral("event_log row %1 does not belong: the journal's rows are numbered from 1")
                              .arg(text(seq))};
            return false;
        }
        if (n != expected) {
            const QString missing = expected + 1 == n ? QStringLiteral("event_log row %1 is missing").arg(expected)
                                                       : QStringLiteral("event_log rows %1 to %2 are missing")
                                                             .arg(expected).arg(n - 1);
            const QString where = expected == 1 ? QStringLiteral("the journal starts at row %1").arg(n)
                                                : QStringLiteral("row %1 follows row %2").arg(n).arg(expected - 1);
            fault = Fault{missing + QStringLiteral(": ") + where};
            return false;
        }
        const Value &stored = row[col::kHash];
        if (stored.type != Value::Type::Text || stored.bytes != rowHash(previous, row)) {
            fault = Fault{QStringLiteral("event_log row %1 does not fit: its hash is not the hash of its fields "
                                         "and of row %2's hash").arg(n).arg(n - 1)};
            return false;
        }
        previous = chainLink(stored);
        *head = QString::fromLatin1(stored.bytes);
        *rows = n;
        ++expected;
        return true;
    }, &readError);
    if (!read)
        return Fault{QStringLiteral("event_log cannot be read: %1").arg(readError)};
    return fault;
}

std::optional<qint64> single(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *q = nullptr;
    std::optional<qint64> value;
    if (sqlite3_prepare_v2(db, sql, -1, &q, nullptr) == SQLITE_OK && sqlite3_step(q) == SQLITE_ROW
        && sqlite3_column_type(q, 0) == SQLITE_INTEGER)
        value = sqlite3_column_int64(q, 0);
    sqlite3_finalize(q);
    return value;
}

// The sample table's pointer; fills *pointer when it fits.
std::optional<Fault> checkPointer(sqlite3 *db, qint64 *pointer)
{
    sqlite3_stmt *q = nullptr;
    if (sqlite3_prepare_v2(db, sampledb::kSelectControl, -1, &q, nullptr) != SQLITE_OK) {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        return Fault{QStringLiteral("sl_void cannot be read: %1").arg(why)};
    }
    int rows = 0;
    std::optional<qint64> first;
    std::optional<qint64> copy;
    int step = SQLITE_ROW;
    while ((step = sqlite3_step(q)) == SQLITE_ROW) {
        if (rows++ == 0 && sqlite3_column_count(q) > sampledb::col::kPointerCopy) {
            if (sqlite3_column_type(q, sampledb::col::kPointer) == SQLITE_INTEGER)
                first = sqlite3_column_int64(q, sampledb::col::kPointer);
            if (sqlite3_column_type(q, sampledb::col::kPointerCopy) == SQLITE_INTEGER)
                copy = sqlite3_column_int64(q, sampledb::col::kPointerCopy);
        }
    }
    sqlite3_finalize(q);
    if (step != SQLITE_DONE)
        return Fault{QStringLiteral("sl_void cannot be read: %1").arg(QString::fromUtf8(sqlite3_errmsg(db)))};
    if (rows != 1)
        return Fault{QStringLiteral("sl_void holds %1 rows, not one").arg(rows)};
    if (!first)
        return Fault{QStringLiteral("sl_void: the pointer is not a whole number")};
    if (copy != first)
        return Fault{QStringLiteral("sl_void: the pointer %1 and its copy %2 differ")
                         .arg(*first).arg(copy ? QString::number(*copy) : QStringLiteral("(none)"))};
    if (*first < 0 || *first > sampledb::kRingSize)
        return Fault{QStringLiteral("sl_void: the pointer %1 lies outside the ring 0..%2").arg(*first).arg(sampledb::kRingSize)};
    const QByteArray outsideRing = "SELECT min(w_id) FROM pv_data WHERE w_id < 1 OR w_id > "
        + QByteArray::number(sampledb::kRingSize);
    const auto outside = single(db, outsideRing.constData());
    if (outside)
        return Fault{QStringLiteral("pv_data row %1 lies outside the ring 1..%2").arg(*outside).arg(sampledb::kRingSize)};
    if (*first > 0) {
        const QByteArray sql = sampledb::selectRowQuery(std::int32_t(*first)).toLatin1();
        sqlite3_stmt *row = nullptr;
        const bool found = sqlite3_prepare_v2(db, sql.constData(), -1, &row, nullptr) == SQLITE_OK
            && sqlite3_step(row) == SQLITE_ROW;
        sqlite3_finalize(row);
        if (!found)
            return Fault{QStringLiteral("sl_void: the pointer %1 names no row of pv_data").arg(*first)};
    }
    *pointer = *first;
    return std::nullopt;
}

} // namespace

CheckResult checkDatabase(sqlite3 *db)
{
    CheckResult result;
    // Both read in one transaction: one snapshot, whatever the recorder does.
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    qint64 rows = 0;
    QString head;
    qint64 pointer = 0;
    std::optional<Fault> fault = checkChain(db, &rows, &head);
    if (!fault)
        fault = checkPointer(db, &pointer);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (fault) {
        result.line = fault->line;
        return result;
    }
    result.fits = true;
    const QString journal = rows == 0 ? QStringLiteral("journal: no events")
                                      : QStringLiteral("journal: rows 1 to %1 chained, newest hash %2")
                                            .arg(rows).arg(head.left(16));
    const QString ring = pointer == 0 ? QStringLiteral("pointer 0 (an empty ring)")
                                      : QStringLiteral("pointer %1 names a stored row").arg(pointer);
    result.line = QStringLiteral("%1; %2").arg(journal, ring);
    return result;
}

} // namespace station::journal
