// The samples as a stream: the rows of pv_data in the order the recorder wrote
// them, which is the order of the ring, not of the rows' times.
//
// The ring. The recorder writes row w_id = pointer + 1 (65500 wraps to 1) and
// moves the pointer in sl_void to it, both in one transaction, so the rows
// recorded after row c are c+1, c+2, ... up to the pointer P, wrapping at
// 65500. A clock set back changes the rows' times, never this order, so a
// stream that follows w_id neither reorders nor skips rows.
//
// Overwritten positions. A position is the id of the last row published and
// that row's mark, its date and time as stored, to the second
// ("2024-07-01T20:00:05", the local wall clock). The recorder overwrites the
// oldest row first; when the row at the position no longer has its mark, the
// recorder has gone once round the ring since, and every row kept is newer
// than the position: the stream then starts again from the oldest row kept
// (P+1) and says that at least (P - c) mod 65500 rows, the ones written after
// the position and overwritten before they were read, are lost. A missing row
// at the position (another database at the path) gives the same restart,
// with no count.
//
// Reading (dbfollower.h has when and how). Each call reads the pointer, the
// position's row and the next rows in one read transaction; the connection
// stays open only after a full batch.
//
// The rows' w_live and w_utc (sampledb::col::kLive, kUtc) are read when the
// record has them; an older file has 13 columns and its rows have neither.
#pragma once

#include "record/publish/dbfollower.h"
#include "record/publish/payload.h"
#include "record/publish/stream.h"
#include "record/sampledb.h"

#include <QSqlQuery>
#include <memory>
#include <utility>

namespace station::publish {

class SampleStream final : public Stream {
public:
    SampleStream(QString databasePath, bool raw);
    ~SampleStream() override;

    QByteArray name() const override { return "sample"; }
    Batch next(const Position &after, int max) override;
    bool mayHaveNewRows() override { return m_follower.mayHaveChanged(); }
    void release() override { m_follower.close(); }
    std::optional<Position> newest() override;

    // The newest row as the last call saw it (nullopt: the ring is empty or
    // was not read yet).
    const std::optional<SampleRow> &newestRow() const { return m_newest; }

    static QByteArray markOf(const SampleRow &row);

private:
    bool m_raw;
    std::unique_ptr<QSqlQuery> m_rangeQuery;  // prepared on the open connection
    DatabaseFollower m_follower;
    std::optional<SampleRow> m_newest;
};

// Where the ring continues after id (1..kRingSize wrap).
qint64 ringNext(qint64 id);
// How many ids lie after `from` up to and including `to`, in ring order.
qint64 ringDistance(qint64 from, qint64 to);

} // namespace station::publish
