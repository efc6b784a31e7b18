// A clock the test moves by hand. Times are UTC so that no daylight-saving
// change moves them behind the test's back. advanceMs() is time that passes
// (the monotonic clock moves with it); set() and setTime() set the PC clock,
// which the monotonic clock does not follow.
#pragma once

#include "common/datenum.h"

#include <QDateTime>

namespace station::test {

class ManualClock final : public Clock {
public:
    explicit ManualClock(const QDateTime &start) : m_now(start) {}
    ManualClock(const QDate &date, const QTime &time) : m_now(date, time, Qt::UTC) {}

    QDateTime now() const override { return m_now; }
    qint64 monotonicMs() const override { return m_monotonicMs; }
    void set(const QDateTime &t) { m_now = t; }
    void setTime(const QTime &t) { m_now = QDateTime(m_now.date(), t, Qt::UTC); }
    void advanceMs(qint64 ms)
    {
        m_now = m_now.addMSecs(ms);
        m_monotonicMs += ms;
    }

private:
    QDateTime m_now;
    qint64 m_monotonicMs = 0;
};

} // namespace station::test
