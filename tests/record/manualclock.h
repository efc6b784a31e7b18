// A clock the test moves by hand. Times are UTC so that no daylight-saving
// change moves them behind the test's back.
#pragma once

#include "common/datenum.h"

#include <QDateTime>

namespace station::test {

class ManualClock final : public Clock {
public:
    explicit ManualClock(const QDateTime &start) : m_now(start) {}
    ManualClock(const QDate &date, const QTime &time) : m_now(date, time, Qt::UTC) {}

    QDateTime now() const override { return m_now; }
    void set(const QDateTime &t) { m_now = t; }
    void setTime(const QTime &t) { m_now = QDateTime(m_now.date(), t, Qt::UTC); }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};

} // namespace station::test
