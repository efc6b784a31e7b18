// What the crash test's child writes as sample n, and how the parent checks it.
#pragma once

#include <QDateTime>
#include <array>

namespace station::test {

// Sample numbers of one child run start at run * kCrashSamplesPerRun; values
// stay exact in a float (below 2^24 for 60 runs).
inline constexpr qint64 kCrashSamplesPerRun = 20000;
// Rows one child writes at most before it waits to be killed, so that 60 runs
// cannot wrap the 65500-row ring.
inline constexpr qint64 kCrashRowsPerRun = 1000;
// Every sync of the child's files takes this long: a commit (one sync of the
// -wal) about as long, so a kill most often lands while one is under way.
inline constexpr int kCrashSyncMs = 15;

inline QDateTime crashSampleTime(qint64 n)
{
    return QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(n);
}

inline std::array<float, 10> crashSampleValues(qint64 n)
{
    std::array<float, 10> v{};
    for (int k = 0; k < 10; ++k)
        v[size_t(k)] = float(n * 10 + k);
    return v;
}

} // namespace station::test
