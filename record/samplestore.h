// Reading the recording pointer and saving one sample, on an open connection to
// the sample database. Columns are reached by position: the statements take the
// column names from the records of the two fixed queries, so a file whose
// columns are named differently is written at the same positions.
#pragma once

#include "record/sampledb.h"

#include <QSqlDatabase>
#include <array>
#include <cstdint>
#include <optional>

namespace station::sampledb {

struct PointerRead {
    enum class Status {
        Read,    // the query ran and returned the row
        NoRow,   // the table is empty: the ring starts at pointer 0
        Failed,  // the query failed
    };
    Status status = Status::Failed;
    std::optional<std::int32_t> pointer;  // position 0, when it holds a number
};

// "select * from  sl_void": position 0 as the pointer (nearest integer, halves to
// even), position 2 read and dropped.
PointerRead readPointer(QSqlDatabase &db);

struct Sample {
    std::int32_t id = 0;  // ring index 1..kRingSize
    double date = 0;      // day number
    double time = 0;      // fraction of a day
    std::array<float, col::kValueCount> values{};
    std::optional<bool> live;        // w_live; nullopt: unknown
    std::optional<qint64> utc;       // w_utc, Unix seconds; nullopt: unknown
};

enum class SaveResult {
    Saved,
    Failed,  // nothing changed: the previous row and pointer are as they were
};

// Writes the row for sample.id (overwritten in place when
// "select * from  pv_data where w_id=<id>" finds it, appended otherwise) and
// sets positions 0 and 1 of sl_void to sample.id, in one transaction. An empty
// sl_void first gets its one row (pointer 0, spare 0) in that transaction.
// Positions 13 and 14 get the sample's live state and UTC time when the table
// has them (NULL for an unknown one). *sqliteCode gets SQLite's primary result
// code of a failure (0 when saved).
SaveResult saveSample(QSqlDatabase &db, const Sample &sample, int *sqliteCode = nullptr);

// The schema as the recorder finds it on open.
enum class Schema {
    Complete,    // both tables; pv_data has w_live and w_utc at positions 13 and 14
    Upgraded,    // the two columns were added just now
    Kept,        // both tables, but pv_data has other columns past position 12:
                 // left as it is, rows are written without a live state
    NoTables,    // pv_data or sl_void is missing: not a sample database
    Failed,      // the file could not be read or changed (the reason is on lcRecord)
};
// Adds w_live and w_utc to a pv_data of 13 (or w_live alone of 14) columns.
Schema upgradeSchema(QSqlDatabase &db);

} // namespace station::sampledb
