// A stream of rows the publisher sends to the broker, one message a row, in
// the order the station recorded them: the samples (`sample`,
// samplestream.h) and the event journal (`event`, eventstream.h).
//
// A stream knows how to find the rows recorded after a position and how to
// tell that a position no longer names the row it named (the row was
// overwritten). The publisher knows nothing of tables: it keeps one position
// per stream in the state file, asks each stream for its next rows, publishes
// them under <prefix>/<name>, and moves the position when the broker has
// acknowledged them.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace station::publish {

// Where a stream stands: the id of a row and a mark that tells whether the row
// at that id is still the same row (for a ring that wraps, its recording time).
// Both are kept in the state file as text; the mark never contains a line end.
// Id 0 stands before the oldest row kept: the stream starts there.
struct Position {
    qint64 id = 0;
    QByteArray mark;
    bool operator==(const Position &) const = default;
};

struct Message {
    Position position;   // of the row it carries
    QByteArray payload;
};

struct Batch {
    bool ok = false;               // false: the rows could not be read now (error says why)
    QString error;
    std::vector<Message> messages; // in recording order, oldest first
    // The position no longer names its row: the rows after it were read from
    // the oldest row still kept, and at least `lost` rows recorded after the
    // position were overwritten before they were published.
    bool overrun = false;
    qint64 lost = 0;
};

class Stream {
public:
    virtual ~Stream() = default;
    // Topic suffix and key in the state file: [a-z]+.
    virtual QByteArray name() const = 0;
    // Up to max rows recorded after `after`, oldest first.
    virtual Batch next(const Position &after, int max) = 0;
    // False when nothing can have been recorded since the last next() (a
    // cheap look, so a stream that is caught up costs little to follow).
    virtual bool mayHaveNewRows() { return true; }
    // No read will come for a while (the broker is away): let go of whatever
    // the stream holds open.
    virtual void release() {}
    // The newest row's position: where a stream without a position starts
    // following when the publisher is not told to publish what is kept.
    // Id 0 when the stream holds no row; nullopt when it cannot be read.
    virtual std::optional<Position> newest() = 0;
};

} // namespace station::publish
