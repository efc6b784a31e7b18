// Keeping every answer with its own request, whatever the timing of the line.
//
// The danger. A Modbus RTU reply does not name its request. A controller (or a
// radio link, a serial gateway between) that answers request N after the
// station gave up on it and sent N + 1 puts N's reply into N + 1's exchange;
// when both have the same shape (the three 16-register parameter reads, the
// two 8-register holding reads) the station stores N's words in N + 1's
// registers and calls it a good reply.
//
// The figures, at 9600 baud. A character is 11 bits (start, 8 data, parity or
// a second stop bit, stop): 11 / 9600 s = 1.146 ms. A 16-register read is an
// 8-byte request and a 3 + 32 + 2 = 37-byte reply, 45 characters, 51.6 ms on
// the wire. The base response time-out is that wire time, rounded up, plus a
// margin of 500 ms (link/libmodbusbackend.h):
//
//   baud    base T0            cap 4 T0     horizon 7 T0
//   4800    104 + 500 = 604    2416 ms      4228 ms
//   9600     52 + 500 = 552    2208 ms      3864 ms
//   19200    26 + 500 = 526    2104 ms      3682 ms
//
// The rules, per line (one device path; the state outlives "关闭"/"打开"):
//  1. A request waits for its reply at most the time-out T, which starts at T0.
//  2. After a time-out the line is out of step: the next request goes out only
//     when the horizon, 7 T0 after the failed request went out, has passed
//     and the line has been quiet for T0 since the last byte received. Every
//     byte that arrives meanwhile is read and dropped and starts the quiet
//     anew. After a reply that came but did not fit (bad CRC, wrong length,
//     another station), or that began in time and stopped (the time-out came
//     before T had passed: the byte time-out), there is no reply left to wait
//     for: only the quiet.
//  3. The first bytes that arrive after a time-out are the late reply; its
//     lateness L (from the request to its first byte) makes the time-out grow:
//     T = min(4 T0, max(T, L + T0)). Each reply in time then takes 1/16 of
//     the excess over max(T0, its exchange time + margin) off, so T comes back
//     to T0 after about fifty quick replies (six polling cycles).
//  4. A port opened afresh whose line carries bytes nobody asked for (a reply
//     to a request sent before the open) starts out of step, quiet for T0.
//
// What that guarantees, with the station the only master on the line:
//  - A reply whose first byte comes within the horizon, 7 T0 (3864 ms at
//    9600), after its request is never taken for another request's answer:
//    the request after a time-out does not go out before it.
//  - A controller that is late by L every time is read correctly once one of
//    its late replies has been seen: with T0 to spare for L up to 3 T0 (1656
//    ms at 9600), with less up to the cap, 4 T0 (2208 ms). At 1.2 s late: the
//    first read times out after 552 ms, its reply comes at 1200 ms and is
//    dropped, T becomes 1752 ms, the next request goes out at 3864 ms, and
//    every reply from then on comes in time.
//  - From the cap to the horizon (3 s late at 9600, say) the reads fail, one
//    every 3.9 s, and the link says so (LinkFault::TooLate); their replies
//    arrive while the line waits and are dropped.
//  - A reply later than the horizon may still land in the next exchange. So
//    may a reply to a request sent before the station's process started.
//
// The cost: on a silent line every exchange holds the line for the horizon,
// 3.9 s at 9600 (a polling cycle of nine reads: 35 s; a write and its retry:
// 7.7 s), all of it on the link thread. Writes wait at most one per register
// and take turns with the reads (link/linkthread.h). A healthy line never
// waits: the rules act only after a failed exchange.
#pragma once

#include <chrono>
#include <cstdint>

namespace station::link {

using LineClock = std::chrono::steady_clock;

// What the guard needs of the line while it waits for it to be in step.
class QuietLine {
public:
    enum class Heard : std::uint8_t { Quiet, Bytes, Broken };
    struct Result {
        Heard heard = Heard::Quiet;
        LineClock::time_point at{}; // Bytes: when the first of them came
    };
    virtual ~QuietLine() = default;
    virtual LineClock::time_point now() const = 0;
    // Waits until bytes arrive or `until` passes; reads and drops whatever has
    // arrived by then.
    virtual Result dropUntil(LineClock::time_point until) = 0;
};

// The figures of one line format.
struct LineTimes {
    std::chrono::milliseconds base{0};   // T0: wire time of the longest exchange + margin
    std::chrono::milliseconds margin{0}; // the margin alone
};

class LineGuard {
public:
    static constexpr int kCapFactor = 4;
    static constexpr int kHorizonFactor = 7;
    static constexpr int kDecayShare = 16;

    explicit LineGuard(LineTimes times = {});

    // The line's format changed (another baud rate): the time-out starts at
    // the new base; whether the line is in step stays.
    void retime(LineTimes times);

    std::chrono::milliseconds timeout() const { return m_timeout; }
    std::chrono::milliseconds base() const { return m_times.base; }
    std::chrono::milliseconds cap() const { return m_times.base * kCapFactor; }
    std::chrono::milliseconds horizon() const { return m_times.base * kHorizonFactor; }
    // Lateness of the last reply that came after its time-out; 0 when none
    // since the last reply in time.
    std::chrono::milliseconds lastLateness() const { return m_lastLateness; }
    // Late replies read and dropped since the guard was made.
    std::uint64_t lateReplies() const { return m_lateReplies; }
    bool inStep() const { return !m_outOfStep; }

    // Before a request: returns once it may go out (at once on a line in step).
    void waitUntilInStep(QuietLine &line);
    // The request goes out now.
    void sending(LineClock::time_point at);
    // Its reply fitted; the exchange ended at `at`.
    void answered(LineClock::time_point at);
    // No whole reply within the time-out. False when the time-out came before
    // T had passed: a reply began and stopped, and counts as spoilt.
    bool timedOut(LineClock::time_point at);
    // A reply that did not fit its request.
    void spoilt(LineClock::time_point at);
    // Bytes nobody asked for (found when the port was opened).
    void noise(LineClock::time_point at);

private:
    void heardLate(LineClock::time_point at);

    LineTimes m_times;
    std::chrono::milliseconds m_timeout{0};
    std::chrono::milliseconds m_lastLateness{0};
    std::uint64_t m_lateReplies = 0;
    bool m_outOfStep = false;
    bool m_awaitingLate = false; // the last exchange timed out: its reply may still come
    LineClock::time_point m_sentAt{};
    LineClock::time_point m_horizonEnd{};
    LineClock::time_point m_lastNoise{};
};

} // namespace station::link
