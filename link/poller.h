// The poller Met1: on every tick of its 100 ms timer it runs one polling cycle of
// nine reads into the register image.
//
// One cycle, every call with the link settings' port and station address:
//   1  Get_3X_DX    1, 8   -> input words
//   2  live sample from the input words and the discrete bits of the previous cycle
//   3  Get_3X_DX 4097, 16  -> program status
//   4  Get_4X_DX    1, 8   -> holding words and their float copy
//   5  Get_4X_DX 4097/4113/4129, 16 each into a zeroed scratch block -> parameter image
//   6  Get_4X_DX  257, 8   -> alarm words
//   7  Get_1X_B16   1      -> discrete bits
//   8  Get_0X_B16   1      -> coil bits
// Between exchanges (after steps 2, 3, 4, after each read of step 5, after 6 and
// 7) the cycle yields to pending window events, so a write from a window or
// another timer may run between two reads, never inside one. A tick that
// arrives while a cycle is suspended in such a yield is dropped: cycles never
// nest. When polling is stopped during a yield the rest of the cycle is left out.
#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

namespace station {

// Byte decoding of a B16 slot: bit i (weight 2^i) becomes element i.
std::array<std::int32_t, 8> decodeByte(std::int32_t byte);

// Slot values the cycle decodes. A slot outside this range (a negative value, a
// value above 255) leaves its eight bits as they were. 255, all eight points
// active, is a real state and is decoded.
inline bool isAcceptedByte(std::int32_t value)
{
    return value >= 0 && value <= 255;
}

class Poller : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 100;

    explicit Poller(QObject *parent = nullptr);

    void startPolling();
    void stopPolling();
    bool isPolling() const { return m_timer.isActive(); }

    // Runs one cycle now; does nothing while a cycle is already running.
    void runCycle();
    bool isCycleRunning() const { return m_running; }

    // What the cycle calls between exchanges; QCoreApplication::processEvents by default.
    void setYield(std::function<void()> yield) { m_yield = std::move(yield); }

    int completedCycles() const { return m_cycles; }
    int droppedTicks() const { return m_dropped; }

signals:
    void cycleFinished();

private:
    void onTick();
    bool yieldAndContinue(int stopsAtStart);

    QTimer m_timer;
    std::function<void()> m_yield;
    bool m_running = false;
    int m_cycles = 0;
    int m_dropped = 0;
    int m_stops = 0; // stopPolling calls, so a cycle notices a stop during a yield
};

} // namespace station
