// Filling the chart buffer from the sample database.
//
// The database is a ring of record ids 1..65500: after 65500 the recorder goes
// on at 1, so the id before 1 is 65500. A window of N records ending at id E
// starts after S = E - N, or after S = 65500 - (N - E) when it wraps, and holds
// the ids S + 1 .. E (through 65500 and 1 when wrapping):
//
//   E = 5000, N = 241:  S = 4759,   ids 4760..5000
//   E = 241,  N = 241:  S = 0,      ids 1..241
//   E = 100,  N = 241:  S = 65359,  ids 1..100 and 65360..65500
//
// Each row goes into the slot of its place in the ring, not of its date and
// time: slot 1 + ((id - S - 1) mod 65500), so slot N holds id E. The ring order
// is the order the rows were recorded, so a clock set back (the end of summer
// time, a wrong time step) never moves the newest rows out of the live view;
// the time labels show the times as stored. A window the ring has not yet
// filled (a young ring: only ids 1..E exist) keeps its newest rows at the right
// end and leaves the slots of missing ids empty.
//
// Gap marks follow the ring order: a sample is marked when the one before it in
// the ring is missing or not live (the pens stop there), or when its time of
// day lies more than 0.00347222 of a day (five minutes) from its predecessor's,
// earlier or later. So the first row after a pause of the station, after a
// stretch of not-live rows, and after the clock was set back or forward by more
// than five minutes are marked; rows one second apart are not. Only the time of
// day is compared: a sample one day after its predecessor is not marked, one
// just past midnight always is. Slot 1 follows slot 0, which holds no sample,
// and is always marked.
//
// Columns are read by position: pv_data is w_id, w_date, w_time, the ten value
// columns and, in files the recorder has upgraded, w_live (1 live, 0 not live,
// NULL unknown) and w_utc; sl_void's first row holds the newest id and its copy.
#pragma once

#include "chart/buffer.h"
#include "record/sampledb.h"

#include <QString>
#include <cstdint>
#include <optional>

class QSqlDatabase;

namespace station::chart {

inline constexpr std::int32_t kRingSize = sampledb::kRingSize;
inline constexpr double kGapThreshold = 0.00347222; // of a day: 299.9998 s

// S for a window (E, N).
std::int32_t windowStart(std::int32_t endId, std::int32_t length);

// The query selecting exactly the ids S + 1 .. E, in ring order:
//   E >= N: "select * from  pv_data where w_id  between S+1 and E order by w_id"
//   E < N:  "select * from  pv_data where w_id > S or w_id <= E order by w_id <= E, w_id"
// (the ids above S before those up to E). The smaller bound comes first:
// SQLite reads "between 5000 and 4760" as empty. Both forms search the primary
// key; the wrapping one as two ranges (bench/chart: a quarter of the time of
// "w_id not between E+1 and S", which scans all 65500 rows).
QString windowQueryText(std::int32_t endId, std::int32_t length);

// The slot of id in the window (E, N): 1 + ((id - S - 1) mod 65500), or 0 when
// the id lies outside the window or outside the ring of ids 1..65500.
int slotOfId(std::int32_t id, std::int32_t endId, std::int32_t length);

// The gap mark of slot s from the slot before it (see above); slots that hold
// no drawable sample carry none.
void markGap(Buffer &buffer, int s);

// The two values of the control table's first row; a value that could not be
// read is nullopt. Both are nullopt when the table cannot be read at all.
struct ControlRow {
    std::optional<std::int32_t> newestId;
    std::optional<std::int32_t> copy;
};
ControlRow readControl(const QSqlDatabase &db);

// Whether the ring has wrapped: a row with an id above the newest id exists
// (the recorder adds rows in id order, so before the first wrap there is none).
// nullopt when the table cannot be read.
std::optional<bool> ringWrapped(const QSqlDatabase &db, std::int32_t newestId);

// Clears what a load replaces: date, time, value columns 0..8 and the sample
// itself (filled, live) of slots 0..321, then the gap marks of slots 0..321.
// Value column 9 and slot 322 keep what they hold.
void clearForLoad(Buffer &buffer);

// Loads the window (E, N) into slots 1..N and marks the gaps. Steps that fail
// (no connection, a failed query, a row without an id, a value that is not a
// number) are skipped: those slots keep their cleared values and, without a
// row, hold no sample. Returns the number of rows read.
int loadWindow(const QSqlDatabase &db, Buffer &buffer, std::int32_t endId, std::int32_t length);

} // namespace station::chart
