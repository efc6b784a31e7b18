// Reading stored samples back in time order, for readers beside the station
// (the export tool). Rows are taken by the order of w_date, w_time, whatever
// their place in the ring; columns are reached by position, as everywhere.
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

// The rows whose date and time lie between from and to (both inclusive, to the
// second; an absent bound is open), oldest first, inside one read transaction
// so that a recorder writing meanwhile never shows half a ring. Calls row() for
// each; a false return stops the reading. Returns false when the query failed
// (the reason is on lcRecord and in *error).
bool readSamples(const QSqlDatabase &db, std::optional<Moment> from, std::optional<Moment> to,
                 const std::function<bool(const Sample &)> &row, QString *error = nullptr);

} // namespace station::sampledb
