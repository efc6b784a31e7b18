// The CSV form of the event journal, as lx6100-export --events writes it: one
// header row, then one row per event in the journal's order (e_seq), never the
// clock's, so events on both sides of a clock set back stay in the order they
// happened.
//
//   seq      the row's number in the journal
//   local    the PC clock's local time as stored, with its offset from UTC
//            ("2024-07-01T20:00:05.120+08:00")
//   utc      the same moment in UTC ("2024-07-01T12:00:05.120Z")
//   user     the operating-system user that ran the station
//   kind     start, end, unclean-end, open, close, link-lost, link-back,
//            write, clock-jump, recorder, events-lost
//   details  the event's JSON object as stored
//   hash     the row's link in the chain (record/journal.h)
// A field with a comma, a double quote or a line end is quoted, with its
// double quotes doubled.
#pragma once

#include "record/journal.h"
#include "record/samplereader.h"

#include <QString>
#include <optional>

namespace station::exporttool {

QString eventHeaderLine();  // with its line end

// The row's line (with its line end), or an empty string when its local time
// lies outside from..to (both inclusive, to the second; an absent bound is
// open).
QString eventLine(const journal::Row &row, std::optional<sampledb::Moment> from, std::optional<sampledb::Moment> to);

} // namespace station::exporttool
