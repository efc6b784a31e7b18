// The rows the recorder stored, read past the code under test (SQLite's C API
// on the plain "unix" layer, see tests/record/dbprobe.h), and the checks the
// reliability tests make on them.
#pragma once

#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace station::reliability {

struct RecordedRow {
    qint64 id = 0;
    qint64 second = 0;  // w_date x 86400 + w_time x 86400, as clockSecond() counts
    std::array<double, 10> values{};
};

// pv_data in id order, or nullopt when the file cannot be read.
std::optional<QList<RecordedRow>> readRows(const QString &path);

// The first place where two rows that follow each other in id order are not
// one clock second apart (a missed second, or two rows for one second); empty
// when every row follows its predecessor by exactly one second.
QString secondsGap(const QList<RecordedRow> &rows);

// sl_void positions 0 and 1, or nullopt when unreadable.
std::optional<std::pair<qint64, qint64>> storedPointer(const QString &path);

// PRAGMA integrity_check's first line ("ok" for a sound file).
QString integrity(const QString &path);

} // namespace station::reliability
