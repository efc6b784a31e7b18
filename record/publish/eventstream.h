// The event journal as a stream: the rows of event_log in the order of e_seq,
// the journal's own order (record/journal.h has the table).
//
// The journal only grows, and a station that sets an unusable file aside
// starts a fresh journal at row 1 in the fresh file. A position is the id of
// the last row published (its e_seq) and that row's mark, its e_hash: the
// chain makes it differ between two files' rows of one number. When the row at
// the position is gone or has another hash, the position belongs to another
// file, and the stream starts again from the new journal's first row (the
// rows of the old file went with it; none of them are counted as lost).
//
// An older file has no event_log: the stream then has no rows, its newest
// position is id 0, and the rows arrive from row 1 on as soon as the station
// creates the table (the follower notices the commit like any other).
#pragma once

#include "record/journal.h"
#include "record/publish/dbfollower.h"
#include "record/publish/stream.h"

namespace station::publish {

class EventStream final : public Stream {
public:
    explicit EventStream(QString databasePath);

    QByteArray name() const override { return "event"; }
    Batch next(const Position &after, int max) override;
    bool mayHaveNewRows() override { return m_follower.mayHaveChanged(); }
    void release() override { m_follower.close(); }
    std::optional<Position> newest() override;

    // The row's e_hash as text, with anything that could break the state
    // file's line (blanks, line ends) replaced by '_'; "-" when empty.
    static QByteArray markOf(const journal::Value &hash);

private:
    DatabaseFollower m_follower;
    Position m_newest;  // as the last read saw it; id 0: no row, or no table
};

} // namespace station::publish
