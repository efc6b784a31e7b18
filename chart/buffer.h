// The chart buffer: an in-memory window of recorded samples the trend chart
// draws from. Slots 1..N hold the loaded window (N = 241 in live view, 321 in
// history view) in the order the rows were recorded; live samples are appended
// after slot 241. A slot that no stored row (or live sample) filled holds no
// sample: no pen is drawn to it and no time label names it. Slot 0 is never
// loaded, so no segment starts there.
#pragma once

#include <array>
#include <cstdint>

namespace station::chart {

inline constexpr int kSlotCount = 323;        // slots 0..322
inline constexpr int kLastSlot = kSlotCount - 1;
inline constexpr int kValueColumns = 25;      // only 0..9 are ever filled
inline constexpr int kRecordedColumns = 10;   // live-sample elements 0..9

// Whether a sample was measured: the recorder stores a row as live when its
// values came from a polling cycle that answered, not live when they are the
// image's zeros before "打开" or last values repeated while the line is silent.
// Rows of older files, without that column, are of unknown state and draw as
// live ones.
enum class Liveness : std::int8_t { Unknown, Live, NotLive };

struct Slot {
    double date = 0;      // day number (whole days since 30 December 1899)
    double time = 0;      // time of day as a fraction of a day, 0 <= t < 1
    std::array<float, kValueColumns> values{};
    std::int16_t gapMark = 0; // 0, or the slot's own number after a recording gap
    bool filled = false;      // a stored row or a live sample is in the slot
    Liveness live = Liveness::Unknown;
};

// Whether the pens may run through the slot: it holds a sample that is not
// known to be stale.
inline constexpr bool drawable(const Slot &slot)
{
    return slot.filled && slot.live != Liveness::NotLive;
}

using Buffer = std::array<Slot, kSlotCount>;

inline constexpr bool validSlot(int s)
{
    return s >= 0 && s <= kLastSlot;
}

} // namespace station::chart
