// The chart buffer: an in-memory window of recorded samples the trend chart
// draws from. Slots 1..N hold the loaded window (N = 241 in live view, 321 in
// history view), oldest first; live samples are appended after slot 241. Slot 0
// is never loaded and stays zero, so a segment that starts there rises from 0.
#pragma once

#include <array>
#include <cstdint>

namespace station::chart {

inline constexpr int kSlotCount = 323;        // slots 0..322
inline constexpr int kLastSlot = kSlotCount - 1;
inline constexpr int kValueColumns = 25;      // only 0..9 are ever filled
inline constexpr int kRecordedColumns = 10;   // live-sample elements 0..9

struct Slot {
    double date = 0;      // day number (whole days since 30 December 1899)
    double time = 0;      // time of day as a fraction of a day, 0 <= t < 1
    std::array<float, kValueColumns> values{};
    std::int16_t gapMark = 0; // 0, or the slot's own number after a recording gap
};

using Buffer = std::array<Slot, kSlotCount>;

inline constexpr bool validSlot(int s)
{
    return s >= 0 && s <= kLastSlot;
}

} // namespace station::chart
