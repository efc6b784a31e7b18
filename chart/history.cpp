#include "chart/history.h"

#include "common/logging.h"
#include "common/numbers.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace station::chart {

namespace {

constexpr int kClearedValueColumns = 9; // 0..8; column 9 survives a load
constexpr int kClearedSlots = 322;      // 0..321; slot 322 survives a load
// w_live, the recorder's trailing column after the thirteen of pv_data.
constexpr int kLiveColumn = sampledb::col::kRowColumns;

// Reads stop at a column the result does not have, as a read past the record's
// fields fails.
std::optional<double> numberAt(const QSqlQuery &query, int columns, int column)
{
    if (column >= columns)
        return std::nullopt;
    const QVariant v = query.value(column);
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return d;
}

std::optional<float> floatAt(const QSqlQuery &query, int columns, int column)
{
    const auto d = numberAt(query, columns, column);
    if (!d || (std::isfinite(*d) && std::fabs(*d) > double(std::numeric_limits<float>::max())))
        return std::nullopt; // too large for a 32-bit float: the assignment fails
    return float(*d);
}

Liveness livenessAt(const QSqlQuery &query, int columns)
{
    const auto v = numberAt(query, columns, kLiveColumn);
    if (!v)
        return Liveness::Unknown; // an older file, or a row stored before the column
    return *v != 0 ? Liveness::Live : Liveness::NotLive;
}

void readRow(const QSqlQuery &query, int columns, Slot &slot)
{
    if (const auto d = numberAt(query, columns, sampledb::col::kDate))
        slot.date = *d;
    if (const auto t = numberAt(query, columns, sampledb::col::kTime))
        slot.time = *t;
    for (int j = 0; j < kRecordedColumns; ++j)
        if (const auto v = floatAt(query, columns, sampledb::col::kFirstValue + j))
            slot.values[j] = *v;
    slot.filled = true;
    slot.live = livenessAt(query, columns);
}

} // namespace

std::int32_t windowStart(std::int32_t endId, std::int32_t length)
{
    return endId >= length ? endId - length : kRingSize - (length - endId);
}

QString windowQueryText(std::int32_t endId, std::int32_t length)
{
    const std::int32_t start = windowStart(endId, length);
    if (endId >= length)
        return QStringLiteral("select * from  pv_data where w_id  between ") + QString::number(start + 1)
            + QStringLiteral(" and ") + QString::number(endId) + QStringLiteral(" order by w_id");
    // Two ranges of the primary key, not "not between", which scans the table.
    return QStringLiteral("select * from  pv_data where w_id > ") + QString::number(start)
        + QStringLiteral(" or w_id <= ") + QString::number(endId) + QStringLiteral(" order by w_id <= ")
        + QString::number(endId) + QStringLiteral(", w_id");
}

int slotOfId(std::int32_t id, std::int32_t endId, std::int32_t length)
{
    if (id < 1 || id > kRingSize)
        return 0; // no id of the ring (the second query form also matches 0)
    const std::int64_t offset = std::int64_t(id) - windowStart(endId, length) - 1;
    const std::int64_t place = ((offset % kRingSize) + kRingSize) % kRingSize;
    return place < length ? int(place) + 1 : 0;
}

void markGap(Buffer &buffer, int s)
{
    if (s < 1 || s > kLastSlot)
        return;
    const Slot &slot = buffer[s];
    const Slot &before = buffer[s - 1];
    const bool gap = drawable(slot)
        && (!drawable(before) || std::fabs(slot.time - before.time) > kGapThreshold);
    buffer[s].gapMark = gap ? std::int16_t(s) : std::int16_t(0);
}

ControlRow readControl(const QSqlDatabase &db)
{
    ControlRow row;
    if (!db.isOpen()) {
        qCDebug(lcChart) << "control table: no open connection";
        return row;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QLatin1String(sampledb::kSelectControl)) || !query.next()) {
        qCDebug(lcChart) << "control table unreadable:" << query.lastError().text();
        return row;
    }
    const int columns = query.record().count();
    if (const auto v = numberAt(query, columns, sampledb::col::kPointer))
        row.newestId = toInt32(*v);
    if (const auto v = numberAt(query, columns, sampledb::col::kPointerCopy))
        row.copy = toInt32(*v);
    return row;
}

std::optional<bool> ringWrapped(const QSqlDatabase &db, std::int32_t newestId)
{
    if (!db.isOpen())
        return std::nullopt;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("select exists (select 1 from pv_data where w_id > ?)"));
    query.addBindValue(newestId);
    if (!query.exec() || !query.next()) {
        qCDebug(lcChart) << "ring fill unreadable:" << query.lastError().text();
        return std::nullopt;
    }
    return query.value(0).toBool();
}

void clearForLoad(Buffer &buffer)
{
    for (int s = 0; s < kClearedSlots; ++s) {
        Slot &slot = buffer[s];
        slot.date = 0;
        slot.time = 0;
        for (int j = 0; j < kClearedValueColumns; ++j)
            slot.values[j] = 0;
        slot.filled = false;
        slot.live = Liveness::Unknown;
    }
    for (int s = 0; s < kClearedSlots; ++s)
        buffer[s].gapMark = 0;
}

int loadWindow(const QSqlDatabase &db, Buffer &buffer, std::int32_t endId, std::int32_t length)
{
    clearForLoad(buffer);
    const QString text = windowQueryText(endId, length);

    // A query on a connection that is not open would fall back to the default
    // connection, so none is made.
    std::optional<QSqlQuery> query;
    int columns = 0;
    bool onRow = false;
    if (!db.isOpen()) {
        qCDebug(lcChart) << "window load: no open connection";
    } else {
        query.emplace(db);
        query->setForwardOnly(true);
        if (query->exec(text)) {
            columns = query->record().count();
            onRow = query->next();
        } else {
            qCDebug(lcChart) << "window load failed:" << text << query->lastError().text();
        }
    }

    // Each row goes to the slot of its id, whatever order the rows come in.
    const int filledUpTo = std::min<std::int32_t>(length, kLastSlot);
    int rows = 0;
    while (onRow) {
        const auto number = numberAt(*query, columns, sampledb::col::kId);
        const auto id = number ? toInt32(*number) : std::nullopt;
        const int s = id ? slotOfId(*id, endId, length) : 0;
        if (s >= 1 && s <= filledUpTo) {
            readRow(*query, columns, buffer[s]);
            ++rows;
        }
        onRow = query->next();
    }
    for (int i = 1; i <= filledUpTo; ++i)
        markGap(buffer, i);
    qCDebug(lcChart) << "window load" << text << "rows" << rows;
    return rows;
}

} // namespace station::chart
