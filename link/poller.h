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
// The reads go out through the link thread (link/linkthread.h), one at a time:
// each read's reply is stored in the image on the GUI thread, then the cycle
// yields (one turn of the event loop, so pending window events run) before the
// next read is posted. That is where the cycle yielded when the exchanges ran
// on the GUI thread (after steps 2, 3, 4, after each read of step 5, after 6
// and 7): a write from a window or another timer goes out between two reads,
// never inside one, and no GUI handler waits for the line.
//
// Ticks: cycles never nest. A tick that falls due while a cycle runs is
// deferred, not dropped: the next cycle starts as soon as the running one ends,
// so on a slow line the poll period equals the cycle time. stopPolling() ends
// the cycle in progress: its reads that have not gone out are dropped and the
// reply of one on the line is not stored.
//
// A cycle whose input-register and discrete-input reads were both answered
// moves cycleStamp() on when it ends: the recorder's sign of a live sample.
//
// A failed read leaves its part of the image as it was. The parameter block is
// gathered in a scratch block that starts as the image's current values, so a
// run that fails keeps that run's previous values, and is copied into the image
// in one step after the third run: a reader always sees one pass.
#pragma once

#include "link/readchain.h"

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
    ~Poller() override;

    void startPolling();
    // Stops the timer and ends the cycle in progress.
    void stopPolling();
    bool isPolling() const { return m_timer.isActive(); }

    // What a tick does: starts a cycle, or defers the tick while one runs.
    void startCycle();
    // Starts a cycle (or defers one behind the running cycle) and waits for it
    // in a local event loop, at most deadlineMs; true when it completed. For
    // tests, benchmarks and tools: the station itself never waits for a cycle.
    bool runCycle(int deadlineMs = 60000);
    bool isCycleRunning() const { return m_running; }

    // Called on the GUI thread at every yield between two reads (tests watch
    // the cycle through it); none by default.
    void setYield(std::function<void()> atYield);

    int completedCycles() const { return m_cycles; }
    // Ticks that fell due during a cycle and started the next one at its end.
    int deferredTicks() const { return m_deferredTicks; }

signals:
    void cycleFinished();
    // A cycle ended without finishing (polling stopped).
    void cycleStopped();

private:
    void onTick();
    void beginCycle();
    void endCycle();

    QTimer m_timer;
    link::ReadChain m_chain;
    std::array<std::int32_t, 48> m_paramScratch{};
    bool m_running = false;
    bool m_deferred = false;
    int m_cycles = 0;
    int m_deferredTicks = 0;
    int m_stops = 0; // stopPolling calls
    // Reads of this cycle that feed the live sample and were answered; a cycle
    // with both counts in cycleStamp() (link/registerimage.h).
    static constexpr int kLiveReads = 2;
    int m_liveReads = 0;
};

} // namespace station
