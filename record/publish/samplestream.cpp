#include "record/publish/samplestream.h"

#include "record/samplestore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>


namespace station::publish {

namespace {

constexpr char kConnectionName[] = "publish";

double number(const QVariant &v)
{
    bool ok = false;
    const double d = v.toDouble(&ok);
    return ok ? d : 0.0;
}

SampleRow rowOf(const QSqlQuery &q, int columns)
{
    SampleRow r;
    r.id = q.value(sampledb::col::kId).toLongLong();
    r.date = number(q.value(sampledb::col::kDate));
    r.time = number(q.value(sampledb::col::kTime));
    for (int j = 0; j < valuecol::kCount; ++j)
        r.values[std::size_t(j)] = float(number(q.value(sampledb::col::kFirstValue + j)));
    // w_live: 1 live, 0 not live, NULL unknown; w_utc: Unix seconds, NULL unknown.
    if (columns > sampledb::col::kLive) {
        const QVariant live = q.value(sampledb::col::kLive);
        if (!live.isNull())
            r.live = live.toLongLong() != 0;
    }
    if (columns > sampledb::col::kUtc) {
        const QVariant utc = q.value(sampledb::col::kUtc);
        bool ok = false;
        const qint64 seconds = utc.toLongLong(&ok);
        if (!utc.isNull() && ok)
            r.utc = seconds;
    }
    return r;
}

// The newest row's id for a pointer as sl_void holds it: the recorder writes
// pointer + 1 next and treats a pointer outside 1..65500 as 0, so its newest
// row is then the ring's last.
qint64 newestId(const sampledb::PointerRead &read)
{
    const qint64 p = read.pointer.value_or(0);
    return p >= 1 && p <= sampledb::kRingSize ? p : sampledb::kRingSize;
}

// Rows by id. The one statement is prepared once per connection: a
// catching-up publisher runs it hundreds of times a second.
constexpr char kRangeQuery[] = "select * from  pv_data where w_id>=? and w_id<=? order by w_id limit ?";

struct Snapshot {
    QSqlQuery &rangeQuery;
    QString &error;
    bool fail(const QSqlQuery &q, const QString &what)
    {
        error = what + QLatin1String(": ") + q.lastError().text();
        return false;
    }
    // Rows first..last (ids, first <= last), at most max, oldest first.
    bool range(qint64 first, qint64 last, int max, std::vector<SampleRow> &out)
    {
        QSqlQuery &q = rangeQuery;
        q.bindValue(0, first);
        q.bindValue(1, last);
        q.bindValue(2, max);
        if (!q.exec() || q.record().count() < sampledb::col::kRowColumns)
            return fail(q, QLatin1String(kRangeQuery));
        const int columns = q.record().count();
        while (q.next())
            out.push_back(rowOf(q, columns));
        const bool ok = !q.lastError().isValid() || fail(q, QLatin1String(kRangeQuery));
        q.finish();
        return ok;
    }
    // The row at id, or nullopt (none, or the query failed: ok false).
    std::optional<SampleRow> row(qint64 id, bool *ok)
    {
        std::vector<SampleRow> one;
        *ok = range(id, id, 1, one);
        return one.empty() ? std::nullopt : std::optional<SampleRow>(one.front());
    }
};

} // namespace

qint64 ringNext(qint64 id)
{
    return id >= sampledb::kRingSize ? 1 : id + 1;
}

qint64 ringDistance(qint64 from, qint64 to)
{
    const qint64 d = (to - from) % sampledb::kRingSize;
    return d < 0 ? d + sampledb::kRingSize : d;
}

SampleStream::SampleStream(QString databasePath, bool raw)
    : m_raw(raw), m_follower(std::move(databasePath), QLatin1String(kConnectionName))
{
    // The one statement is prepared with each connection and given up before
    // the connection closes.
    m_follower.onOpen = [this](QSqlDatabase &db, QString *error) {
        m_rangeQuery = std::make_unique<QSqlQuery>(db);
        m_rangeQuery->setForwardOnly(true);
        if (m_rangeQuery->prepare(QLatin1String(kRangeQuery)))
            return true;
        *error = QStringLiteral("cannot read %1: %2").arg(m_follower.path(), m_rangeQuery->lastError().text());
        return false;
    };
    m_follower.onClose = [this] { m_rangeQuery.reset(); };
}

SampleStream::~SampleStream()
{
    m_follower.close();
}

QByteArray SampleStream::markOf(const SampleRow &row)
{
    return wallTime(row);
}

Batch SampleStream::next(const Position &after, int max)
{
    Batch batch;
    std::vector<SampleRow> rows;
    batch.ok = m_follower.read(
        [&](QSqlDatabase &db, bool *keepOpen, QString *error) {
            Snapshot s{*m_rangeQuery, *error};
            const sampledb::PointerRead pointer = sampledb::readPointer(db);
            if (pointer.status == sampledb::PointerRead::Status::Failed) {
                *error = QStringLiteral("cannot read the pointer in sl_void");
                return false;
            }
            const qint64 last = newestId(pointer);
            bool read = false;
            m_newest = s.row(last, &read);
            if (!read)
                return false;

            // The ids after `start`, `count` of them in ring order.
            qint64 start = last;
            qint64 count = sampledb::kRingSize;
            if (after.id != 0) {
                const std::optional<SampleRow> at = s.row(after.id, &read);
                if (!read)
                    return false;
                if (at && markOf(*at) == after.mark) {
                    start = after.id;
                    count = ringDistance(after.id, last);
                } else {
                    batch.overrun = true;
                    batch.lost = at ? ringDistance(after.id, last) : 0;
                }
            }
            qint64 first = ringNext(start);
            while (count > 0 && int(rows.size()) < max) {
                const qint64 span = std::min(count, sampledb::kRingSize - first + 1);  // up to the wrap
                if (!s.range(first, first + span - 1, max - int(rows.size()), rows))
                    return false;
                count -= span;
                first = ringNext(first + span - 1);
            }
            // Kept open only while a full batch says more rows are waiting.
            *keepOpen = max > 0 && int(rows.size()) == max;
            return true;
        },
        &batch.error);
    if (!batch.ok) {
        batch.overrun = false;
        batch.lost = 0;
        return batch;
    }
    batch.messages.reserve(rows.size());
    for (const SampleRow &r : rows) {
        Message m{Position{r.id, {}}, {}};
        m.payload = samplePayload(r, m_raw, &m.position.mark);
        batch.messages.push_back(std::move(m));
    }
    return batch;
}

std::optional<Position> SampleStream::newest()
{
    if (!next(Position{}, 0).ok)
        return std::nullopt;
    return m_newest ? Position{m_newest->id, markOf(*m_newest)} : Position{};
}

} // namespace station::publish
