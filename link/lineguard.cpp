#include "link/lineguard.h"

#include <algorithm>

namespace station::link {

using std::chrono::milliseconds;

namespace {
milliseconds wholeMs(LineClock::duration d)
{
    return std::chrono::duration_cast<milliseconds>(d);
}
} // namespace

LineGuard::LineGuard(LineTimes times)
    : m_times(times)
    , m_timeout(times.base)
{
}

void LineGuard::retime(LineTimes times)
{
    if (times.base == m_times.base && times.margin == m_times.margin)
        return;
    m_times = times;
    m_timeout = times.base;
    m_lastLateness = milliseconds(0);
}

void LineGuard::waitUntilInStep(QuietLine &line)
{
    if (!m_outOfStep)
        return;
    // A line that keeps babbling is waited for at most one base time-out past
    // the horizon or the quiet the failure asked for.
    const LineClock::time_point limit = std::max(m_horizonEnd, m_lastNoise + m_times.base) + m_times.base;
    for (;;) {
        const LineClock::time_point due = std::max(m_horizonEnd, m_lastNoise + m_times.base);
        const LineClock::time_point now = line.now();
        if (now >= due || now >= limit)
            break;
        const QuietLine::Result heard = line.dropUntil(std::min(due, limit));
        if (heard.heard == QuietLine::Heard::Broken)
            return; // the device is gone: the exchange fails and the port reopens; the wait is kept
        if (heard.heard == QuietLine::Heard::Bytes) {
            heardLate(heard.at);
            m_lastNoise = std::max(m_lastNoise, line.now()); // the quiet starts after what was read
        }
    }
    m_outOfStep = false;
    m_awaitingLate = false;
}

void LineGuard::heardLate(LineClock::time_point at)
{
    if (!m_awaitingLate)
        return;
    // The first bytes after a time-out: the reply to the request that timed out.
    m_awaitingLate = false;
    ++m_lateReplies;
    m_lastLateness = std::max(milliseconds(0), wholeMs(at - m_sentAt));
    m_timeout = std::min(cap(), std::max(m_timeout, m_lastLateness + m_times.base));
}

void LineGuard::sending(LineClock::time_point at)
{
    m_sentAt = at;
}

void LineGuard::answered(LineClock::time_point at)
{
    m_lastLateness = milliseconds(0);
    const milliseconds target = std::max(m_times.base, wholeMs(at - m_sentAt) + m_times.margin);
    if (m_timeout > target)
        m_timeout -= std::max(milliseconds(1), (m_timeout - target) / kDecayShare);
}

bool LineGuard::timedOut(LineClock::time_point at)
{
    if (at - m_sentAt < m_timeout) {
        spoilt(at);
        return false;
    }
    m_outOfStep = true;
    m_awaitingLate = true;
    m_horizonEnd = m_sentAt + horizon();
    m_lastNoise = at;
    return true;
}

void LineGuard::spoilt(LineClock::time_point at)
{
    m_outOfStep = true;
    m_awaitingLate = false;
    m_horizonEnd = std::max(m_horizonEnd, at);
    m_lastNoise = at;
}

void LineGuard::noise(LineClock::time_point at)
{
    m_outOfStep = true;
    m_horizonEnd = std::max(m_horizonEnd, at);
    m_lastNoise = std::max(m_lastNoise, at);
}

} // namespace station::link
