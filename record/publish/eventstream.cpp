#include "record/publish/eventstream.h"

#include "record/publish/payload.h"

#include <QMetaType>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace station::publish {

namespace {

constexpr char kConnectionName[] = "publish-events";
constexpr char kHasTable[] = "SELECT count(*) FROM sqlite_master WHERE type='table' AND name='event_log'";
constexpr char kNewest[] = "SELECT e_seq, e_hash FROM event_log ORDER BY e_seq DESC LIMIT 1";
constexpr char kHashAt[] = "SELECT e_hash FROM event_log WHERE e_seq=?";
constexpr char kRows[] = "SELECT e_seq, e_local, e_utc, e_user, e_kind, e_details, e_hash FROM event_log "
                         "WHERE e_seq>? ORDER BY e_seq LIMIT ?";

// A field as SQLite holds it, from what Qt's SQLite driver made of it: an
// INTEGER comes as a 64-bit integer, a REAL as a double, a BLOB as bytes,
// TEXT as a string, NULL as a null variant.
journal::Value valueOf(const QVariant &v)
{
    journal::Value out;
    if (v.isNull())
        return out;
    switch (v.typeId()) {
    case QMetaType::LongLong:
    case QMetaType::Int:
    case QMetaType::ULongLong:
        out.type = journal::Value::Type::Integer;
        out.integer = v.toLongLong();
        break;
    case QMetaType::Double:
        out.type = journal::Value::Type::Real;
        out.real = v.toDouble();
        break;
    case QMetaType::QByteArray:
        out.type = journal::Value::Type::Blob;
        out.bytes = v.toByteArray();
        break;
    default:
        out.type = journal::Value::Type::Text;
        out.bytes = v.toString().toUtf8();
        break;
    }
    return out;
}

bool failed(const QSqlQuery &q, const char *sql, QString *error)
{
    *error = QLatin1String(sql) + QLatin1String(": ") + q.lastError().text();
    return false;
}

} // namespace

EventStream::EventStream(QString databasePath) : m_follower(std::move(databasePath), QLatin1String(kConnectionName)) {}

QByteArray EventStream::markOf(const journal::Value &hash)
{
    QByteArray mark = journal::text(hash).toUtf8();
    for (char &c : mark)
        if (c <= ' ' || c == 0x7f)
            c = '_';
    return mark.isEmpty() ? QByteArray("-") : mark;
}

Batch EventStream::next(const Position &after, int max)
{
    Batch batch;
    std::vector<journal::Row> rows;
    batch.ok = m_follower.read(
        [&](QSqlDatabase &db, bool *keepOpen, QString *error) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            if (!q.exec(QLatin1String(kHasTable)) || !q.next())
                return failed(q, kHasTable, error);
            const bool hasTable = q.value(0).toLongLong() > 0;
            q.finish();
            m_newest = Position{};
            qint64 start = 0;
            if (!hasTable) {
                batch.overrun = after.id != 0;  // the position's file had a journal; this one has none yet
                return true;
            }
            if (!q.exec(QLatin1String(kNewest)))
                return failed(q, kNewest, error);
            if (q.next())
                m_newest = Position{q.value(0).toLongLong(), markOf(valueOf(q.value(1)))};
            q.finish();
            if (after.id != 0) {
                if (!q.prepare(QLatin1String(kHashAt)))
                    return failed(q, kHashAt, error);
                q.bindValue(0, after.id);
                if (!q.exec())
                    return failed(q, kHashAt, error);
                if (q.next() && markOf(valueOf(q.value(0))) == after.mark)
                    start = after.id;
                else
                    batch.overrun = true;
                q.finish();
            }
            if (max <= 0)
                return true;
            if (!q.prepare(QLatin1String(kRows)))
                return failed(q, kRows, error);
            q.bindValue(0, start);
            q.bindValue(1, max);
            if (!q.exec())
                return failed(q, kRows, error);
            while (q.next()) {
                journal::Row row;
                for (int i = 0; i < journal::col::kCount; ++i)
                    row[std::size_t(i)] = valueOf(q.value(i));
                rows.push_back(std::move(row));
            }
            if (q.lastError().isValid())
                return failed(q, kRows, error);
            *keepOpen = int(rows.size()) == max;
            return true;
        },
        &batch.error);
    if (!batch.ok) {
        batch.overrun = false;
        return batch;
    }
    batch.messages.reserve(rows.size());
    for (const journal::Row &row : rows) {
        const journal::Value &seq = row[journal::col::kSeq];
        batch.messages.push_back(Message{Position{seq.integer, markOf(row[journal::col::kHash])}, eventPayload(row)});
    }
    return batch;
}

std::optional<Position> EventStream::newest()
{
    if (!next(Position{}, 0).ok)
        return std::nullopt;
    return m_newest;
}

} // namespace station::publish
