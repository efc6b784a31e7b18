// A plausible two-loop controller behind the simulator's registers: measured
// values that settle on the set values with some noise, on/off control
// outputs, two alarms, retransmission outputs, and the eight-segment ramp/soak
// program driven by the run command register.
//
// The model advances only in step(), by the time it is given, so tests drive
// it deterministically; the demo executable steps it every 100 ms.
#pragma once

#include "sim/registerbank.h"

#include <array>
#include <cstdint>
#include <random>

namespace station::sim {

enum class RunState : std::int16_t { Stopped = 0, Running = 1, Paused = 2, Ended = 3 };
enum class RunCommand : std::int16_t { Stop = 0, Run = 1, Pause = 2, End = 3 };

class ControllerModel {
public:
    static constexpr int kLoops = 2;

    explicit ControllerModel(RegisterBank &bank, std::uint32_t seed = 1);

    // The controller's power-on memory: set values, alarm settings, the
    // configuration block and a four-segment demo program.
    void installDefaults(int stationAddress = 1);

    // Advances the controller by `seconds`: acts on a run command the station
    // wrote since the last step, moves the program, the measured values, the
    // outputs and the alarms, and publishes them in the input registers and
    // discrete inputs.
    void step(double seconds);

    // Peak noise of each reading of the measured values, in raw units (0 for
    // exact tests). Default 2.
    void setNoise(double amplitude) { noise_ = amplitude; }
    // Time constant of the loops' approach to their set value. Default 30 s.
    void setTimeConstant(double seconds) { tau_ = seconds; }
    // Puts a loop's process value where a test or the demo wants it (loop 1 or 2).
    void setPv(int loop, double value);

    double pv(int loop) const { return pv_[index(loop)]; }
    double svInEffect(int loop) const { return sv_[index(loop)]; }
    RunState runState() const { return state_; }
    int segment() const { return segment_; }
    int cyclesDone() const { return cycles_; }

private:
    static int index(int loop) { return loop == 2 ? 1 : 0; }

    void takeCommand();
    void beginRun();
    void advanceProgram(double seconds);
    double segmentSeconds(int s) const;
    double unitSeconds() const;
    int segmentCount() const;
    double programRemaining() const;
    void updateSetValues();
    void updateLoops(double seconds);
    void updateAlarms(double seconds);
    void publish();
    bool outputsForcedOff() const;

    RegisterBank &bank_;
    std::mt19937 random_;
    double noise_ = 2.0;
    double tau_ = 30.0;

    std::array<double, kLoops> process_{};  // the true temperature / humidity
    std::array<double, kLoops> pv_{};       // as measured, with the sensor's noise
    std::array<double, kLoops> sv_{};
    std::array<bool, kLoops> output_{};
    std::array<bool, kLoops> alarm_{};
    std::array<int, kLoops> alarmKind_{};
    std::array<double, kLoops> alarmPending_{};  // seconds the trip condition has held

    std::uint64_t commandsSeen_ = 0;
    RunState state_ = RunState::Stopped;
    int segment_ = 0;              // 1-based while a program runs, 0 when stopped
    double segmentElapsed_ = 0.0;  // seconds into the current segment
    int cycles_ = 0;               // program passes completed
    std::array<double, kLoops> rampFrom_{};
    std::array<double, kLoops> programSv_{};
};

} // namespace station::sim
