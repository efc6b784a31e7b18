// What the editor's refresh shows as text: the program run status (input
// registers 4097..4105 from the register image) and the read-back labels of
// the program image with the options decoded into words.
#pragma once

#include "program/programregisters.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace station::program {

// Run state of input 4097.
enum class RunState : std::int32_t { Stopped = 0, Running = 1, Paused = 2, Ended = 3 };

// "停止  ", "运行", "暂停", "结束" for states 0..3; any other state as its number.
QString runStateText(std::int32_t state);

// Texts of the value labels Pro_S 0..8 from program status slots 0..8: each
// slot as a plain decimal, slot 0 replaced by its state word.
inline constexpr int kStatusLabels = 9;
std::array<QString, kStatusLabels> runStatusTexts(const std::array<std::int32_t, 16> &status);

// Read-back label Label3 j shows image slot j. Labels 0..5 stand beside the
// options and 8 + i beside segment entry i; 6, 7 and the slots of the fourth
// register of each segment (11, 15, ..., 39) have no label, nor has 40.
inline constexpr int kReadBackLabels = 41;  // j = 0..40 are visited
constexpr bool readBackLabelExists(int j)
{
    return (j >= 0 && j <= imageSlot(reg::kEndOutput))
        || segmentEntryExists(j - imageSlot(reg::kSegmentFirst));
}

struct ReadBack {
    // Text of Label3 j, or nullopt when that label does not exist.
    std::array<std::optional<QString>, kReadBackLabels> labels;
    // New caption of the time axis title, when slot 0 holds a known time unit.
    std::optional<QString> timeAxisTitle;
};

// Slots as decimals, then the options decoded:
//   slot 0 time unit      0 "H" (axis "时间单位：小时"), 1 "M" ("时间单位：分钟"), 2 "S" ("时间单位：秒")
//   slot 2 cycle count    0 "无限"
//   slot 3 power failure  "来电继续", "来电停止", "第一段运行", "有偏差停", "进入暂停 "
//   slot 4 start value    "测量值", "设定值"
//   slot 5 end output     "输出为零", "最后SV控制"
// Any other value keeps its number (and the time axis title stays as it was).
ReadBack readBackTexts(const ProgramImage &image);

} // namespace station::program
