// What the crash test's child writes as sample n, and how the parent checks it.
#pragma once

#include <QDateTime>
#include <array>

namespace station::test {

// Sample numbers of one child run start at run * kCrashSamplesPerRun; values
// stay exact in a float (below 2^24 for 40 runs).
inline constexpr qint64 kCrashSamplesPerRun = 20000;
// Rows one child writes at most before it waits to be killed, so that 40 runs
// on a fast disk cannot wrap the 65500-row ring.
inline constexpr qint64 kCrashRowsPerRun = 1500;

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
