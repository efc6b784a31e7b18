// The JSON texts the publisher sends.
//
//   <prefix>/sample  {"time":"2024-07-01T20:00:05+08:00","PV1":253,"PV2":601,
//                     "SV1":250,"SV2":600,"retransmission1":50.3,...,
//                     "control2_output":0,"live":true}
//   <prefix>/event   {"seq":42,"local":"2024-07-01T20:00:05.123","utc":1719835205123,
//                     "user":"lab","kind":"write","details":{"control":"SV1",...},
//                     "hash":"3f0c...e1"}
//   <prefix>/status  {"state":"online","station":"recording","link":"live"}
//                                                           (retained)
//                    {"state":"offline"}   (retained; the last will)
//
// A sample carries the row's local time with its offset from UTC, the ten
// value columns under the CSV export's names, scaled as the status panel shows
// them (or as stored with raw), and "live" only where the row says whether the
// link was live. Numbers are written as the panel writes them; a value that is
// not finite (never read from a controller) is null.
//
// An event maps one row of event_log as stored, without interpretation: the
// columns under their names without the "e_" (seq, local, utc, user, kind,
// details, hash), in the table's order, each by its storage class (INTEGER and
// REAL as numbers, TEXT as a string, BLOB as a string of hex digits, NULL as
// null); details, which the station writes as one JSON object, is embedded as
// that JSON value, byte for byte, so a subscriber can recompute the row's
// hash from what it gets. A details text that is not JSON (a file changed by
// hand) is sent as a string.
#pragma once

#include "record/journal.h"

#include "common/valuecolumns.h"

#include <QByteArray>
#include <QDate>
#include <QTime>
#include <array>
#include <optional>

namespace station::publish {

// A stored row of pv_data, as the publisher reads it.
struct SampleRow {
    qint64 id = 0;
    double date = 0;                    // day number, local
    double time = 0;                    // fraction of a day, local
    std::array<float, valuecol::kCount> values{};
    std::optional<bool> live;           // position 13 when the row has it and it is not NULL
    std::optional<qint64> utc;          // position 14 likewise: Unix seconds
};

// "yyyy-MM-ddTHH:mm:ss+hh:mm". The row's date and time are the station's local
// wall clock. With the row's UTC second the offset is the difference of the two
// (when it is whole minutes within 18 hours; otherwise the UTC second is shown
// with +00:00); without it, the offset the local time zone has at that wall
// time.
QByteArray sampleTime(const SampleRow &row);
// The row's wall clock alone, "yyyy-MM-ddTHH:mm:ss".
QByteArray wallTime(const SampleRow &row);

// The sample's JSON object; with wall, also wallTime(row) (computed once).
QByteArray samplePayload(const SampleRow &row, bool raw, QByteArray *wall = nullptr);
QByteArray sampleTime(const SampleRow &row, const QDate &date, const QTime &time);

// The event's JSON object for one row of event_log.
QByteArray eventPayload(const journal::Row &row);

// What the status message says about the station.
struct StationStatus {
    enum class Station { Recording, Stopped };
    enum class Link { Live, NotLive, Unknown };
    Station station = Station::Stopped;
    Link link = Link::Unknown;
    bool operator==(const StationStatus &) const = default;
};

// The station records when its newest row is at most kRecordingAge old (the
// recorder writes one a second; a busy disk may hold a row back a little);
// the link's state is then the newest row's `live`, else unknown.
inline constexpr qint64 kRecordingAge = 5;
StationStatus stationStatus(const std::optional<SampleRow> &newest, qint64 nowUtc);
// The Unix second a row was recorded: its w_utc, else its wall time in the
// local time zone.
qint64 sampleInstant(const SampleRow &row);

QByteArray onlinePayload(const StationStatus &status);
QByteArray offlinePayload();

} // namespace station::publish
