#include "sim/controllermodel.h"

#include "common/logging.h"
#include "sim/registermap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace station::sim {

namespace {

struct Default {
    int reg;
    std::int16_t value;
};

// Power-on holding registers. Temperatures and humidities are in tenths
// (decimal point position 1): 250 is 25.0 degC, 600 is 60.0 %RH.
constexpr Default kDefaults[] = {
    {reg::kSv1, 250},               // loop 1 (temperature) set value
    {reg::kSv2, 600},               // loop 2 (humidity) set value
    {reg::kRunCommand, 0},
    {reg::kAlarm1Value, 350},       // high limit 35.0 degC on loop 1
    {reg::kAlarm1Hysteresis, 5},
    {reg::kAlarm1Delay, 0},
    {reg::kAlarm2Value, 800},       // high limit 80.0 %RH on loop 2
    {reg::kAlarm2Hysteresis, 5},
    {reg::kAlarm2Delay, 0},

    {reg::kProgramEnable, 1},
    {4098, 0},                      // power-on alarm suppression off
    {reg::kDigitalFilter, 10},      // 1.0 s
    {4100, 0},                      // degrees Celsius
    {4105, 12},                     // input 1: temperature/humidity sensor
    {4106, 1},                      // one decimal
    {reg::kInput1High, 5000},
    {reg::kInput1Low, 0},
    {4109, 0},                      // shift correction
    {4113, 12},                     // input 2: temperature/humidity sensor
    {4114, 1},
    {reg::kInput2High, 1000},
    {reg::kInput2Low, 0},
    {4117, 0},
    {reg::kOutput1Hysteresis, 2},
    {4122, 0},                      // switching delay
    {4123, 1},                      // re-operation protection time
    {4124, 0},                      // open input: output open
    {reg::kOutput2Hysteresis, 2},
    {4126, 0},
    {4127, 1},
    {4128, 0},
    {reg::kAlarm1Mode, 1},          // high limit
    {reg::kAlarm2Mode, 1},
    {reg::kAlarm1Channel, 0},
    {reg::kAlarm2Channel, 1},
    {reg::kAddress, 1},
    {reg::kBaudCode, 1},            // 9600
    {reg::kParityCode, 0},          // none
    {4136, 0},                      // reply delay, ms
    {4137, 0},                      // 4..20 mA
    {reg::kRetrans1Source, 1},      // retransmission 1 follows loop 1
    {reg::kRetrans1High, 500},
    {reg::kRetrans1Low, 0},
    {4141, 0},
    {reg::kRetrans2Source, 2},      // retransmission 2 follows loop 2
    {reg::kRetrans2High, 1000},
    {reg::kRetrans2Low, 0},

    {reg::kTimeUnit, 1},            // minutes
    {reg::kSegmentCount, 3},        // four segments
    {reg::kCycleCount, 1},
    {reg::kPowerFailure, 0},
    {reg::kStartFrom, 0},           // ramp from the measured value
    {reg::kEndOutput, 1},           // keep controlling at the last SV
    {reg::segmentSv1(1), 300}, {reg::segmentSv2(1), 650}, {reg::segmentTime(1), 5},
    {reg::segmentSv1(2), 300}, {reg::segmentSv2(2), 650}, {reg::segmentTime(2), 10},
    {reg::segmentSv1(3), 400}, {reg::segmentSv2(3), 700}, {reg::segmentTime(3), 5},
    {reg::segmentSv1(4), 250}, {reg::segmentSv2(4), 600}, {reg::segmentTime(4), 10},
};

// Room conditions the loops drift to with their outputs off.
constexpr std::array<double, ControllerModel::kLoops> kAmbient{200.0, 450.0};

constexpr int kRetransmissionFull = 1000;  // tenths of a percent
constexpr int kHours = 0;
constexpr int kMinutes = 1;
constexpr int kSeconds = 2;
// A program whose segments all last 0 would loop forever with unlimited
// cycles; one step moves through at most this many segments.
constexpr int kMaxSegmentsPerStep = 64;

enum AlarmMode { None = 0, HighLimit = 1, LowLimit = 2, HighDeviation = 3, LowDeviation = 4, Band = 5 };

std::int16_t toRegister(double v)
{
    const double limited = std::clamp(v, double(std::numeric_limits<std::int16_t>::min()),
                                      double(std::numeric_limits<std::int16_t>::max()));
    return static_cast<std::int16_t>(std::lrint(limited));  // nearest, ties to even
}

std::int16_t unitsLeft(double seconds, double unit)
{
    if (seconds <= 0.0)
        return 0;
    // Rounded up: a segment with 0.2 min left still shows 1.
    return toRegister(std::ceil(seconds / unit - 1e-9));
}

} // namespace

ControllerModel::ControllerModel(RegisterBank &bank, std::uint32_t seed)
    : bank_(bank)
    , random_(seed)
    , process_(kAmbient)
    , pv_(kAmbient)
    , commandsSeen_(bank.writeCount(reg::kRunCommand))
{
}

void ControllerModel::installDefaults(int stationAddress)
{
    for (const Default &d : kDefaults)
        bank_.setHolding(d.reg, d.value);
    bank_.setHolding(reg::kAddress, static_cast<std::int16_t>(stationAddress));
    updateSetValues();
    publish();
}

void ControllerModel::setPv(int loop, double value)
{
    process_[index(loop)] = value;
    pv_[index(loop)] = value;
}

void ControllerModel::step(double seconds)
{
    seconds = std::max(0.0, seconds);
    takeCommand();
    if (state_ == RunState::Running)
        advanceProgram(seconds);
    updateSetValues();
    updateLoops(seconds);
    updateAlarms(seconds);
    publish();
}

void ControllerModel::takeCommand()
{
    // The station may write the same command twice (run, end, run again), so
    // the model reacts to every write, not to a changed value.
    const std::uint64_t writes = bank_.writeCount(reg::kRunCommand);
    if (writes == commandsSeen_)
        return;
    commandsSeen_ = writes;

    const auto command = static_cast<RunCommand>(bank_.holding(reg::kRunCommand));
    switch (command) {
    case RunCommand::Stop:
        state_ = RunState::Stopped;
        segment_ = 0;
        segmentElapsed_ = 0.0;
        break;
    case RunCommand::Run:
        if (state_ == RunState::Paused) {
            state_ = RunState::Running;
        } else if (state_ != RunState::Running) {
            if (bank_.holding(reg::kProgramEnable) == 0) {
                qCInfo(lcSim) << "run command ignored: program curve disabled";
                return;
            }
            beginRun();
        }
        break;
    case RunCommand::Pause:
        if (state_ == RunState::Running)
            state_ = RunState::Paused;
        break;
    case RunCommand::End:
        if (state_ == RunState::Running || state_ == RunState::Paused)
            state_ = RunState::Ended;
        break;
    default:
        qCInfo(lcSim) << "unknown run command" << static_cast<int>(command);
        return;
    }
    qCInfo(lcSim) << "run command" << static_cast<int>(command) << "-> state" << static_cast<int>(state_);
}

void ControllerModel::beginRun()
{
    state_ = RunState::Running;
    segment_ = 1;
    segmentElapsed_ = 0.0;
    cycles_ = 0;
    const bool fromSetValue = bank_.holding(reg::kStartFrom) == 1;
    rampFrom_[0] = fromSetValue ? bank_.holding(reg::kSv1) : pv_[0];
    rampFrom_[1] = fromSetValue ? bank_.holding(reg::kSv2) : pv_[1];
    programSv_ = rampFrom_;
}

double ControllerModel::unitSeconds() const
{
    switch (bank_.holding(reg::kTimeUnit)) {
    case kHours: return 3600.0;
    case kSeconds: return 1.0;
    case kMinutes:
    default: return 60.0;
    }
}

int ControllerModel::segmentCount() const
{
    return std::clamp(bank_.holding(reg::kSegmentCount) + 1, 1, reg::kSegmentMax);
}

double ControllerModel::segmentSeconds(int s) const
{
    return std::max<int>(0, bank_.holding(reg::segmentTime(s))) * unitSeconds();
}

void ControllerModel::advanceProgram(double seconds)
{
    const int count = segmentCount();
    const int cyclesWanted = bank_.holding(reg::kCycleCount);  // 0: unlimited
    for (int moved = 0; moved < kMaxSegmentsPerStep; ++moved) {
        const double length = segmentSeconds(segment_);
        const double left = length - segmentElapsed_;
        if (seconds < left) {
            segmentElapsed_ += seconds;
            break;
        }
        // The segment is done: the next one ramps from its targets.
        seconds -= std::max(0.0, left);
        rampFrom_ = {double(bank_.holding(reg::segmentSv1(segment_))),
                     double(bank_.holding(reg::segmentSv2(segment_)))};
        segmentElapsed_ = 0.0;
        if (++segment_ <= count)
            continue;
        ++cycles_;
        if (cyclesWanted > 0 && cycles_ >= cyclesWanted) {
            state_ = RunState::Ended;
            segment_ = count;
            segmentElapsed_ = segmentSeconds(count);
            qCInfo(lcSim) << "program ended after" << cycles_ << "cycles";
            break;
        }
        segment_ = 1;
    }
    if (state_ != RunState::Ended) {
        const double length = segmentSeconds(segment_);
        const double f = length > 0.0 ? segmentElapsed_ / length : 1.0;
        const double to1 = bank_.holding(reg::segmentSv1(segment_));
        const double to2 = bank_.holding(reg::segmentSv2(segment_));
        programSv_ = {rampFrom_[0] + (to1 - rampFrom_[0]) * f, rampFrom_[1] + (to2 - rampFrom_[1]) * f};
    } else {
        programSv_ = rampFrom_;
    }
}

double ControllerModel::programRemaining() const
{
    if (state_ != RunState::Running && state_ != RunState::Paused)
        return 0.0;
    const int count = segmentCount();
    double pass = 0.0;
    for (int s = 1; s <= count; ++s)
        pass += segmentSeconds(s);
    double left = segmentSeconds(segment_) - segmentElapsed_;
    for (int s = segment_ + 1; s <= count; ++s)
        left += segmentSeconds(s);
    const int cyclesWanted = bank_.holding(reg::kCycleCount);
    if (cyclesWanted > 0)
        left += std::max(0, cyclesWanted - cycles_ - 1) * pass;
    return left;
}

void ControllerModel::updateSetValues()
{
    if (state_ == RunState::Stopped)
        sv_ = {double(bank_.holding(reg::kSv1)), double(bank_.holding(reg::kSv2))};
    else
        sv_ = programSv_;
}

bool ControllerModel::outputsForcedOff() const
{
    return state_ == RunState::Ended && bank_.holding(reg::kEndOutput) == 0;
}

void ControllerModel::updateLoops(double seconds)
{
    const bool off = outputsForcedOff();
    const double approach = tau_ > 0.0 ? 1.0 - std::exp(-seconds / tau_) : 1.0;
    std::uniform_real_distribution<double> jitter(-1.0, 1.0);
    const std::array<int, kLoops> hysteresisReg{reg::kOutput1Hysteresis, reg::kOutput2Hysteresis};
    for (int i = 0; i < kLoops; ++i) {
        const double target = off ? kAmbient[i] : sv_[i];
        process_[i] += (target - process_[i]) * approach;
        // Noise is the sensor's, on each reading; it does not add up in the process.
        pv_[i] = process_[i];
        if (noise_ > 0.0 && seconds > 0.0)
            pv_[i] += noise_ * jitter(random_);

        // On/off control: on below SV less the hysteresis, off at SV, unchanged between.
        const double hysteresis = std::max<int>(0, bank_.holding(hysteresisReg[i]));
        if (off || pv_[i] >= sv_[i])
            output_[i] = false;
        else if (pv_[i] < sv_[i] - hysteresis)
            output_[i] = true;
    }
}

void ControllerModel::updateAlarms(double seconds)
{
    struct AlarmRegs {
        int value, hysteresis, delay, mode, channel;
    };
    constexpr std::array<AlarmRegs, kLoops> regs{
        AlarmRegs{reg::kAlarm1Value, reg::kAlarm1Hysteresis, reg::kAlarm1Delay, reg::kAlarm1Mode, reg::kAlarm1Channel},
        AlarmRegs{reg::kAlarm2Value, reg::kAlarm2Hysteresis, reg::kAlarm2Delay, reg::kAlarm2Mode, reg::kAlarm2Channel},
    };
    for (int a = 0; a < kLoops; ++a) {
        const AlarmRegs &r = regs[a];
        const int mode = bank_.holding(r.mode);
        const int loop = bank_.holding(r.channel) == 1 ? 1 : 0;
        const double value = bank_.holding(r.value);
        const double hysteresis = std::max<int>(0, bank_.holding(r.hysteresis));
        const double delay = std::max<int>(0, bank_.holding(r.delay));
        const double pv = pv_[loop];
        const double deviation = pv - sv_[loop];

        // How far past its set value the alarm's quantity is: trips above 0
        // (after the delay), clears at or below minus the hysteresis.
        double excess = 0.0;
        switch (mode) {
        case HighLimit: excess = pv - value; break;
        case LowLimit: excess = value - pv; break;
        case HighDeviation: excess = deviation - value; break;
        case LowDeviation: excess = -deviation - value; break;
        case Band: excess = std::abs(deviation) - value; break;
        default:
            alarm_[a] = false;
            alarmPending_[a] = 0.0;
            alarmKind_[a] = None;
            continue;
        }

        if (excess > 0.0) {
            alarmPending_[a] += seconds;
            if (alarmPending_[a] >= delay)
                alarm_[a] = true;
        } else {
            alarmPending_[a] = 0.0;
            if (excess <= -hysteresis)
                alarm_[a] = false;
        }
        alarmKind_[a] = alarm_[a] ? mode : None;
    }
}

void ControllerModel::publish()
{
    const std::array<int, kLoops> high{bank_.holding(reg::kRetrans1High), bank_.holding(reg::kRetrans2High)};
    const std::array<int, kLoops> low{bank_.holding(reg::kRetrans1Low), bank_.holding(reg::kRetrans2Low)};
    const std::array<int, kLoops> source{bank_.holding(reg::kRetrans1Source), bank_.holding(reg::kRetrans2Source)};
    std::array<std::int16_t, kLoops> retrans{};
    for (int i = 0; i < kLoops; ++i) {
        if (source[i] < 1 || source[i] > kLoops || high[i] <= low[i])
            continue;
        const double pv = pv_[source[i] - 1];
        const double share = (pv - low[i]) / double(high[i] - low[i]);
        retrans[i] = toRegister(std::clamp(share, 0.0, 1.0) * kRetransmissionFull);
    }

    bank_.setInput(reg::kPv1, toRegister(pv_[0]));
    bank_.setInput(reg::kPv2, toRegister(pv_[1]));
    bank_.setInput(reg::kSvInEffect1, toRegister(sv_[0]));
    bank_.setInput(reg::kSvInEffect2, toRegister(sv_[1]));
    bank_.setInput(reg::kRetransmission1, retrans[0]);
    bank_.setInput(reg::kRetransmission2, retrans[1]);
    bank_.setInput(reg::kAlarmKind1, static_cast<std::int16_t>(alarmKind_[0]));
    bank_.setInput(reg::kAlarmKind2, static_cast<std::int16_t>(alarmKind_[1]));

    const double unit = unitSeconds();
    const bool inProgram = state_ != RunState::Stopped;
    bank_.setInput(reg::kRunState, static_cast<std::int16_t>(state_));
    bank_.setInput(reg::kStatusPv1, toRegister(pv_[0]));
    bank_.setInput(reg::kStatusSv1, toRegister(sv_[0]));
    bank_.setInput(reg::kStatusPv2, toRegister(pv_[1]));
    bank_.setInput(reg::kStatusSv2, toRegister(sv_[1]));
    bank_.setInput(reg::kStatusSegment, static_cast<std::int16_t>(inProgram ? segment_ : 0));
    bank_.setInput(reg::kStatusSegmentLeft,
                   state_ == RunState::Running || state_ == RunState::Paused
                       ? unitsLeft(segmentSeconds(segment_) - segmentElapsed_, unit)
                       : std::int16_t(0));
    bank_.setInput(reg::kStatusTotalLeft, unitsLeft(programRemaining(), unit));
    bank_.setInput(reg::kStatusCycles, static_cast<std::int16_t>(cycles_));

    bank_.setDiscrete(reg::kOutput1, output_[0]);
    bank_.setDiscrete(reg::kOutput2, output_[1]);
    bank_.setDiscrete(reg::kAlarm1, alarm_[0]);
    bank_.setDiscrete(reg::kAlarm2, alarm_[1]);
}

} // namespace station::sim
