// The event journal: what the station did and saw, one row per event, in the
// table event_log of Rdatabj.db, beside pv_data and sl_void (which it never
// touches). Only the station writes it, only through record/, and only ever
// appends; readers beside the station (lx6100-export --events, --verify; the
// publisher) read it.
//
// The table (created with the first event a file gets; a file without it
// opens and records as before):
//
//   event_log
//     0 e_seq      INTEGER PRIMARY KEY  1, 2, 3, ... in the order the events
//                                       were written; the journal's order, never
//                                       the clock's
//     1 e_local    TEXT     the PC clock's local time, yyyy-MM-ddTHH:mm:ss.zzz
//                           (the clock the samples' w_date and w_time come from)
//     2 e_utc      INTEGER  the same moment in Unix milliseconds, UTC
//     3 e_user     TEXT     the operating-system user running the station
//     4 e_kind     TEXT     what happened: a name of the kinds table below
//     5 e_details  TEXT     one JSON object, compact UTF-8, keys sorted
//     6 e_hash     TEXT     the chain: 64 lowercase hex digits (below)
//
// The chain. Each row's e_hash is SHA-256 over these bytes, in this order:
//   - the previous row's e_hash as 32 bytes (its hex decoded; 32 zero bytes
//     for the first row of a file, and for a previous hash that is not 64 hex
//     digits);
//   - the six fields e_seq, e_local, e_utc, e_user, e_kind, e_details, each as
//     SQLite holds it, by storage class:
//       NULL     0x00
//       INTEGER  0x01, then the value as 64-bit two's complement, big-endian
//       REAL     0x02, then the IEEE 754 double's 64 bits, big-endian
//       TEXT     0x03, then the byte count as 32-bit big-endian, then the
//                UTF-8 bytes as stored
//       BLOB     0x04, then the byte count as 32-bit big-endian, then the bytes
//     (The station writes integers into e_seq and e_utc and text into the rest;
//     the storage class is part of the bytes, so a value changed to another
//     type does not hash alike.)
// The first row of a file is row 1 and starts the chain from zeros. A file set
// aside as unusable keeps its journal; the fresh file that takes its place
// starts a fresh chain at row 1, whose first event says where the old file went.
//
// What --verify sees (journalcheck.h), walking the rows by e_seq:
//   - a row changed (any field, or its type): its hash does not fit; that row
//     is named. Whoever also rewrote that row's e_hash moves the fault to the
//     next row, whose hash covers the old one;
//   - a row deleted: the numbers jump; the missing row is named;
//   - a row inserted: it needs a number of its own, and between two rows none
//     is free, so the rows from there on are renumbered: the inserted row is
//     named, or the row after it when the inserted one's hash was computed to
//     fit. A row put before row 1 is named as not belonging; a row added after
//     the newest is named unless its hash was computed to fit (below).
// What it does not prove: anyone can compute SHA-256. Whoever rewrites the
// chain from a row onwards (every later hash recomputed), adds rows after the
// newest with their hashes computed, deletes the newest rows, or deletes the
// whole table is not detected: there is no key, no signature and no copy of
// the newest hash anywhere outside the file. The chain makes a change after
// the fact visible unless the whole chain after it is rewritten; nothing more.
//
// Threads and time: rows are appended on the recorder thread through the
// recorder's connection, between two samples, in a transaction of their own
// with synchronous=FULL (recorder.h; events that waited together share one),
// so a crash loses at most the events in flight. Each event carries the time
// it happened, taken where it happened, not when it was written.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <array>
#include <functional>
#include <optional>
#include <vector>

struct sqlite3;

namespace station::journal {

inline constexpr char kTable[] = "event_log";

// Column positions.
namespace col {
inline constexpr int kSeq = 0;
inline constexpr int kLocal = 1;
inline constexpr int kUtc = 2;
inline constexpr int kUser = 3;
inline constexpr int kKind = 4;
inline constexpr int kDetails = 5;
inline constexpr int kHash = 6;
inline constexpr int kCount = 7;
} // namespace col

// The kinds, with the name stored in e_kind.
enum class Kind {
    Start,        // the station started: version, data folder, database
    End,          // the station ended cleanly: by which way
    UncleanEnd,   // found at a start: the run before ended without its end row
    Open,         // "打开": port, device, baud rate, parity, address, whether it opened
    Close,        // "关闭"
    LinkLost,     // the controller stopped answering: the last error
    LinkBack,     // it answers again: how long it was down
    Write,        // one write and its outcome: window, control, caption, register, values
    ClockJump,    // the PC clock moved against the monotonic clock, or behind the journal
    Recorder,     // a database fault the recorder met or recovered from
    EventsLost,   // events that could not wait for a stuck disk
};

QString kindName(Kind kind);

// One event as it happened.
struct Event {
    QString local;         // e_local
    qint64 utcMs = 0;      // e_utc
    QString user;          // e_user
    QString kind;          // e_kind
    QJsonObject details;   // e_details
};

// An event at the moment `when` (its local and UTC time), by the current user.
Event makeEvent(Kind kind, const QDateTime &when, QJsonObject details = {});
// e_local for a moment.
QString localText(const QDateTime &when);
// The operating-system user running this process.
QString currentUser();

// One stored field as SQLite holds it.
struct Value {
    enum class Type { Null, Integer, Real, Text, Blob };
    Type type = Type::Null;
    qint64 integer = 0;
    double real = 0;
    QByteArray bytes;  // text (UTF-8) or blob
};
using Row = std::array<Value, col::kCount>;

// The 32 bytes a row's e_hash stands for in the next row's hash input.
QByteArray chainLink(const Value &storedHash);
// e_hash of a row: the lowercase hex SHA-256 over previous (32 bytes) and
// fields 0..5 of row, encoded as the comment above says.
QByteArray rowHash(const QByteArray &previous, const Row &row);

// Appends the events to event_log in one transaction (BEGIN IMMEDIATE, the
// table created when missing), each chained to the row before it. Returns
// the number of the last row written, 0 when nothing was written (the reason
// is on lcRecord and in *error).
qint64 append(sqlite3 *db, const std::vector<Event> &events, QString *error = nullptr);

// What ended the run before this one, for a start: the newest row of kind
// start or end. nullopt when the journal has neither (or cannot be read).
struct LastRun {
    qint64 seq = 0;
    QString kind;
    qint64 utcMs = 0;
    QString local;
};
std::optional<LastRun> lastRunMark(sqlite3 *db);
// The newest row's time: e_utc and e_local; nullopt when there is none.
std::optional<LastRun> newestEvent(sqlite3 *db);

// Whether the file has the table.
bool hasTable(sqlite3 *db);
// Reads every row in e_seq order, inside the one statement's snapshot; a
// false return from row() stops. False when the table cannot be read.
bool readRows(sqlite3 *db, const std::function<bool(const Row &)> &row, QString *error = nullptr);
QString text(const Value &value);

} // namespace station::journal
