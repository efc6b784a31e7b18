// The simulated controller's register map: the blocks it answers and the
// registers its model gives a meaning to. Register and point numbers are the
// numbers on the wire (holding 4097 travels as address 0x1001).
#pragma once

#include <array>

namespace station::sim {

enum class Table { Coil, Discrete, Input, Holding };

struct Block {
    Table table;
    int first;
    int count;
    constexpr int last() const { return first + count - 1; }
    constexpr bool contains(int reg, int n = 1) const { return reg >= first && reg + n - 1 <= last(); }
};

// Every address outside these blocks answers "illegal data address".
inline constexpr std::array kBlocks{
    Block{Table::Coil, 1, 16},        // coils 1..16: read and kept, no meaning
    Block{Table::Discrete, 1, 16},    // discrete 1..16: outputs, alarms, sensor breaks
    Block{Table::Input, 1, 8},        // PV1, PV2, SV1, SV2, retransmission 1, 2, alarm kinds
    Block{Table::Input, 4097, 16},    // program run status
    Block{Table::Holding, 1, 8},      // SV1, SV2, run command
    Block{Table::Holding, 257, 8},    // alarm settings
    Block{Table::Holding, 4097, 48},  // configuration parameters
    Block{Table::Holding, 8193, 48},  // program register block
};

// One past the highest number of each table, the size of its storage.
constexpr int tableEnd(Table t)
{
    int end = 0;
    for (const Block &b : kBlocks)
        if (b.table == t && b.last() + 1 > end)
            end = b.last() + 1;
    return end;
}

// True when reg..reg+n-1 lies inside one block of table t.
constexpr bool inBlocks(Table t, int reg, int n = 1)
{
    for (const Block &b : kBlocks)
        if (b.table == t && b.contains(reg, n))
            return true;
    return false;
}

namespace reg {
// Input registers
inline constexpr int kPv1 = 1;
inline constexpr int kPv2 = 2;
inline constexpr int kSvInEffect1 = 3;
inline constexpr int kSvInEffect2 = 4;
inline constexpr int kRetransmission1 = 5;  // tenths of a percent, 0..1000
inline constexpr int kRetransmission2 = 6;
inline constexpr int kAlarmKind1 = 7;       // 0 none, 1 high, 2 low, 3 high dev., 4 low dev., 5 band
inline constexpr int kAlarmKind2 = 8;
inline constexpr int kRunState = 4097;      // 0 stopped, 1 running, 2 paused, 3 ended
inline constexpr int kStatusPv1 = 4098;
inline constexpr int kStatusSv1 = 4099;
inline constexpr int kStatusPv2 = 4100;
inline constexpr int kStatusSv2 = 4101;
inline constexpr int kStatusSegment = 4102;
inline constexpr int kStatusSegmentLeft = 4103;  // in the program's time unit
inline constexpr int kStatusTotalLeft = 4104;
inline constexpr int kStatusCycles = 4105;       // program cycles completed

// Holding registers
inline constexpr int kSv1 = 1;
inline constexpr int kSv2 = 2;
inline constexpr int kRunCommand = 3;       // 0 stop, 1 run, 2 pause, 3 end
inline constexpr int kAlarm1Value = 257;
inline constexpr int kAlarm1Hysteresis = 258;
inline constexpr int kAlarm1Delay = 259;    // seconds
inline constexpr int kAlarm2Value = 260;
inline constexpr int kAlarm2Hysteresis = 261;
inline constexpr int kAlarm2Delay = 262;

inline constexpr int kProgramEnable = 4097;
inline constexpr int kDigitalFilter = 4099;     // tenths of a second
inline constexpr int kInput1High = 4107;
inline constexpr int kInput1Low = 4108;
inline constexpr int kInput2High = 4115;
inline constexpr int kInput2Low = 4116;
inline constexpr int kOutput1Hysteresis = 4121;
inline constexpr int kOutput2Hysteresis = 4125;
inline constexpr int kAlarm1Mode = 4129;
inline constexpr int kAlarm2Mode = 4130;
inline constexpr int kAlarm1Channel = 4131;     // 0 loop 1, 1 loop 2
inline constexpr int kAlarm2Channel = 4132;
inline constexpr int kAddress = 4133;
inline constexpr int kBaudCode = 4134;
inline constexpr int kParityCode = 4135;
inline constexpr int kRetrans1Source = 4138;   // 0 none, 1 loop 1, 2 loop 2
inline constexpr int kRetrans1High = 4139;
inline constexpr int kRetrans1Low = 4140;
inline constexpr int kRetrans2Source = 4142;
inline constexpr int kRetrans2High = 4143;
inline constexpr int kRetrans2Low = 4144;

inline constexpr int kTimeUnit = 8193;          // 0 hours, 1 minutes, 2 seconds
inline constexpr int kSegmentCount = 8194;      // number of segments less one
inline constexpr int kCycleCount = 8195;        // 0 unlimited
inline constexpr int kPowerFailure = 8196;
inline constexpr int kStartFrom = 8197;         // 0 measured value, 1 set value
inline constexpr int kEndOutput = 8198;         // 0 outputs off, 1 keep the last SV
inline constexpr int kSegmentFirst = 8201;      // segment s: SV1, SV2, TIME at 8201 + 4(s-1)
inline constexpr int kSegmentStride = 4;
inline constexpr int kSegmentMax = 8;
constexpr int segmentSv1(int s) { return kSegmentFirst + kSegmentStride * (s - 1); }
constexpr int segmentSv2(int s) { return segmentSv1(s) + 1; }
constexpr int segmentTime(int s) { return segmentSv1(s) + 2; }

// Discrete inputs
inline constexpr int kOutput1 = 1;
inline constexpr int kOutput2 = 2;
inline constexpr int kAlarm1 = 3;
inline constexpr int kAlarm2 = 4;
inline constexpr int kSensor1Open = 5;
inline constexpr int kSensor2Open = 6;
} // namespace reg

} // namespace station::sim
