// Reading stored samples back in the order they were recorded, for readers
// beside the station (the export tool). The ring order comes from the pointer:
// the row after it is the oldest of a full ring, the row it names the newest,
// so a clock set back (a repeated hour) never reorders the rows. Columns are
// reached by position, as everywhere; w_live and w_utc (positions 13, 14) are
// read when the file has them, else every row's are unknown.
#pragma once

#include "record/samplestore.h"

#include <QSqlDatabase>
#include <functional>
#include <optional>

namespace station::sampledb {

// A moment as the database keeps it: day number plus fraction of a day.
struct Moment {
    double date = 0;
    double time = 0;
    double value() const { return date + time; }
};

struct RecordedRow {
    Sample sample;
    // The row's place in recording order: 1 for the oldest row the file holds.
    // It numbers the rows of one reading; a row's number falls by one with
    // each row the ring overwrites.
    qint64 sequence = 0;
};

// The rows whose local date and time lie between from and to (both
// inclusive, to the second; an absent bound is open), in recording order,
// inside one read transaction so that a recorder writing meanwhile never shows
// half a ring. Calls row() for each; a false return stops the reading. Returns
// false when the query failed (the reason is on lcRecord and in *error).
bool readSamples(const QSqlDatabase &db, std::optional<Moment> from, std::optional<Moment> to,
                 const std::function<bool(const RecordedRow &)> &row, QString *error = nullptr);

// The text of the ordered query, with its bound values in order: the first is
// the id after the pointer. For the tests of the ordering.
QString ringOrderQuery(bool from, bool to);

} // namespace station::sampledb
