// The CSV form of stored samples, as lx6100-export writes it: one header row,
// then one row per sample in recording order: its local time in ISO 8601 (with
// its UTC offset when the row knows its UTC time), then the ten values, scaled
// as the status panel shows them (the retransmission outputs divided by ten)
// or, raw, as stored; then whether it is live (1, 0, empty when unknown) and
// its place in recording order (seq). The two last columns came later: they
// follow the columns readers already take by position.
#pragma once

#include "record/samplereader.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace station::exporttool {

// time, PV1, PV2, SV1, SV2, the two retransmission outputs, the two alarm kinds
// and the two control outputs, in the order of the value columns, then live
// and seq.
QStringList headerNames();
QString headerLine();  // with its line end

QString sampleLine(const sampledb::RecordedRow &row, bool raw);  // with its line end

// "2024-07-01T20:00:05", with "+08:00" (the offset of the local time from
// UTC, to the minute) when the sample knows its UTC time.
QString timeText(const sampledb::Sample &sample);

// An offset from UTC in minutes as ISO 8601 writes it: "+08:00", "-03:30".
QString offsetText(qint64 minutes);

// A local time as the operator types it: "2024-07-01T20:00:05",
// "2024-07-01 20:00:05", "2024-07-01 20:00" or "2024-07-01". A date alone is
// the start of that day, or its last second when endOfDay is set. nullopt for
// anything else.
std::optional<sampledb::Moment> parseLocalTime(const QString &text, bool endOfDay);

} // namespace station::exporttool
