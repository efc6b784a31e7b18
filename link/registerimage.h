// Process-wide link settings and register image. Filled by the poller, read by
// every window's refresh; raw controller values, zero at start, never cleared.
#pragma once

#include <array>
#include <cstdint>

class QVariant;

namespace station {

struct LinkSettings {
    std::int32_t port = 0;        // serial port number 1..20
    std::int32_t baudCode = 0;    // 0 = 4800, 1 = 9600, 2 = 19200
    std::int32_t parityCode = 0;  // 0 none, 1 odd, 2 even
    std::int32_t station = 0;     // controller address 1..16
    std::int32_t openResult = 0;  // last OpenPort_Modbus result, kept, not interpreted
};

// Register map, as far as the station interprets it.
namespace reg {
inline constexpr std::int32_t kInputFirst = 1;            // inputs 1..8: PV1, PV2, SV1, SV2, out1, out2, alarm kinds
inline constexpr std::int32_t kInputCount = 8;
inline constexpr std::int32_t kProgramStatusFirst = 4097; // inputs 4097..4112: program run status
inline constexpr std::int32_t kProgramStatusCount = 16;
inline constexpr std::int32_t kHoldingFirst = 1;          // holding 1..8: SV1, SV2, run command, ...
inline constexpr std::int32_t kHoldingCount = 8;
inline constexpr std::int32_t kSetValue1 = 1;
inline constexpr std::int32_t kSetValue2 = 2;
inline constexpr std::int32_t kRunCommand = 3;
inline constexpr std::int32_t kParamFirst = 4097;         // holding 4097..4144: configuration parameters
inline constexpr std::int32_t kParamCount = 48;
inline constexpr std::int32_t kParamRun = 16;             // the parameter block is read in three runs of 16
inline constexpr std::int32_t kAlarmFirst = 257;          // holding 257..264: alarm settings
inline constexpr std::int32_t kAlarmCount = 8;
inline constexpr std::int32_t kPointFirst = 1;            // discrete inputs and coils 1..16
inline constexpr std::int32_t kPointCount = 16;
inline constexpr std::int32_t kProgramFirst = 8193;       // holding 8193..8240: program register block
inline constexpr std::int32_t kProgramCount = 48;
} // namespace reg

struct RegisterImage {
    std::array<std::int32_t, 8> inputWords{};      // input registers 1..8
    std::array<float, 10> liveSample{};            // 0..7 inputs 1..8; 8, 9 = 100 when discrete bit 0 / 1 is set
    std::array<std::int32_t, 16> programStatus{};  // input registers 4097..4112
    std::array<std::int32_t, 8> holdingWords{};    // holding registers 1..8
    std::array<float, 8> holdingFloat{};           // float copy of the holding words
    std::array<float, 48> paramImage{};            // holding registers 4097..4144
    std::array<std::int32_t, 8> alarmWords{};      // holding registers 257..264
    std::array<std::int32_t, 16> discreteBits{};   // discrete inputs 1..16 as 0/1
    std::array<std::int32_t, 16> coilBits{};       // coils 1..16 as 0/1
};

// The two flags between recorder and main window.
struct SampleFlags {
    bool notifyEnabled = false;  // set by the main window's load, cleared by its unload
    bool newSample = false;      // raised by the recorder after each stored sample
};

// Polling cycles in which both reads that feed the live sample (input
// registers 1..8 and the discrete inputs) were answered. The poller counts;
// the recorder compares the count from row to row to tell a row taken from
// fresh values from one that repeats a frozen image.
struct CycleStamp {
    std::uint64_t answered = 0;
};

LinkSettings &linkSettings();
RegisterImage &registerImage();
SampleFlags &sampleFlags();
CycleStamp &cycleStamp();

// Write-with-retry, the windows' one way to write: queues one Set_4X_D1 with the
// link settings' port and station on the link thread and returns at once
// (link::kQueued). There, when the call answers -8888, the identical call is
// issued once more and its result ignored; both results are logged and counted
// in the link status. The write goes out after the requests queued before it,
// between two reads of a polling cycle, and before a close or exit that
// follows it. A newer write to the same register replaces it while it waits;
// its outcome is reported on the GUI thread (link/writeoutcome.h), with tag.
std::int32_t writeWithRetry(std::int32_t reg, std::int32_t value);
std::int32_t writeWithRetry(std::int32_t reg, std::int32_t value, const QVariant &tag);

} // namespace station
