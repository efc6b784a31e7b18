// The controller's ramp/soak program as the editor sees it: the program
// register block (holding 8193..8240), its five option lists, the segment
// entries, the editor's program image and segment tables, and the two access
// rules on the block (one write with retry, the block read in three runs).
//
// Block layout, slot = register - 8193:
//   8193 time unit    8194 segment count - 1   8195 cycle count (0 unlimited)
//   8196 power-failure handling   8197 start set value   8198 end output function
//   8199, 8200        carried with the block, never written
//   8201 + 4(s-1) + k segment s (1..8): k = 0 SV1, 1 SV2, 2 TIME, 3 never written
//   8233..8240        carried with the block, never written
#pragma once

#include "link/readchain.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace station::program {

namespace reg {
inline constexpr std::int32_t kBlockFirst = 8193;  // program register block 8193..8240
inline constexpr std::int32_t kBlockCount = 48;
inline constexpr std::int32_t kBlockRun = 16;      // read as three runs of 16
inline constexpr std::int32_t kTimeUnit = 8193;
inline constexpr std::int32_t kSegmentCount = 8194;
inline constexpr std::int32_t kCycleCount = 8195;
inline constexpr std::int32_t kPowerFailure = 8196;
inline constexpr std::int32_t kStartSetValue = 8197;
inline constexpr std::int32_t kEndOutput = 8198;
inline constexpr std::int32_t kSegmentFirst = 8201;
} // namespace reg

inline constexpr int kSegments = 8;
inline constexpr int kSegmentStride = 4;            // SV1, SV2, TIME and one unused register
inline constexpr int kSegmentEntries = kSegments * kSegmentStride;  // entry numbers 0..31

// The field of a segment an entry edits; the fourth register has no entry.
enum class SegmentField { Sv1 = 0, Sv2 = 1, Time = 2 };

// Entry number of segment s (1..8), field f: 4(s-1) + f.
constexpr int segmentEntry(int segment, SegmentField field)
{
    return kSegmentStride * (segment - 1) + int(field);
}
// Entries 3, 7, ..., 31 (the fourth register of each segment) and anything
// outside 0..31 do not exist.
constexpr bool segmentEntryExists(int entry)
{
    return entry >= 0 && entry < kSegmentEntries && entry % kSegmentStride != kSegmentStride - 1;
}
// Register written by segment entry i: 8201 + i.
constexpr std::int32_t segmentEntryRegister(int entry)
{
    return reg::kSegmentFirst + entry;
}
// Register written by text entry i of the option group (only entry 2, the cycle count, exists).
inline constexpr int kCycleCountEntry = 2;
constexpr std::int32_t textEntryRegister(int entry)
{
    return reg::kBlockFirst + entry;
}

// One option edited through a combo box: its control, caption, register and
// fixed list. The value written is the 0-based position of the chosen entry.
struct ComboOption {
    QString control;   // Combo2, Combo4, ...
    QString caption;
    std::int32_t reg;
    QStringList entries;
};

// The five combo options in the order the window fills them:
// Combo2, Combo4, Combo1, Combo8, Combo3.
const std::array<ComboOption, 5> &comboOptions();

// The option number of a combo text: the position of the entry equal to text,
// or -1 when no entry matches (an edited text, or the bare number the box shows
// after a write).
int optionNumber(const QStringList &entries, const QString &text);

// The number a text entry writes: its leading number rounded to an integer,
// halves to even; nullopt when that does not fit a 32-bit signed integer (the
// write is then left out). An empty or all-prompt text reads 0.
std::optional<std::int32_t> entryValue(const QString &text);

// The editor's copy of the block: slot j holds register 8193 + j for j = 0..47,
// slots 48..60 stay 0.
inline constexpr int kImageSlots = 61;
using ProgramImage = std::array<std::int32_t, kImageSlots>;
constexpr int imageSlot(std::int32_t reg)
{
    return int(reg - reg::kBlockFirst);
}
// Slot of the read-back value of segment entry i.
constexpr int segmentEntrySlot(int entry)
{
    return imageSlot(segmentEntryRegister(entry));
}

// The program as typed in the editor's boxes, for the preview. Slots 1..8 are
// segments 1..8; slot 0 of SV1 and SV2 is the start point, slot 0 of TIME is 0.
inline constexpr int kTableSlots = 102;
struct SegmentTables {
    std::array<std::int16_t, kTableSlots> sv1{};
    std::array<std::int16_t, kTableSlots> sv2{};
    std::array<std::int32_t, kTableSlots> time{};
};

// Fills table slots 1..8 from the segment entries' texts (text(i) for entry i),
// read as entryValue() reads them: SV1 and SV2 rounded to 16 bits, TIME to 32.
// A value that does not fit leaves its slot as it was.
void fillSegmentTables(SegmentTables &tables, const std::function<QString(int entry)> &text);

// Reads the block through the link thread in three Get_4X_DX runs of 16 (8193,
// 8209, 8225) with the link settings' port and station into slots 0..15,
// 16..31, 32..47, one after another on chain, which yields between two runs
// (link/readchain.h); done runs on the GUI thread after the third run. Results
// are not tested: a failed run leaves its slots as they were, which is what the
// link leaves in a failed read's buffer. Returns false, reading nothing, while
// chain still runs. image must outlive the chain's run (the editor owns both).
bool readProgramBlock(link::ReadChain &chain, ProgramImage &image, std::function<void()> done);

// Writes one program register with the write-with-retry rule: queued on the
// link thread, which decides the retry (writeWithRetry); returns link::kQueued.
// tag comes back with the write's outcome (link/writetag.h).
std::int32_t writeProgramRegister(std::int32_t reg, std::int32_t value, const QVariant &tag = QVariant());

} // namespace station::program
