#include "tests/reliability/guiprobe.h"

#include "common/datenum.h"

#include <QTest>

namespace station::reliability {

namespace {
// Event-loop slice of the waiting loops: short against the 10 ms probe.
constexpr int kSliceMs = 5;
} // namespace

GuiProbe::GuiProbe(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &GuiProbe::onTick);
}

void GuiProbe::start()
{
    m_since.start();
    m_timer.start();
}

void GuiProbe::stop()
{
    m_timer.stop();
}

void GuiProbe::onTick()
{
    const qint64 interval = m_since.restart();
    ++m_ticks;
    m_longest = std::max(m_longest, interval);
    m_overall = std::max(m_overall, interval);
    if (m_watch)
        m_watch();
}

bool waitFor(const std::function<bool()> &done, int deadlineMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() >= deadlineMs)
            return done();
        QTest::qWait(kSliceMs);
    }
    return true;
}

void holdFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QTest::qWait(kSliceMs);
}

qint64 clockSecond(const QDateTime &t)
{
    return qint64(dayNumber(t.date())) * 86400 + t.time().msecsSinceStartOfDay() / 1000;
}

qint64 clockSecondNow()
{
    return clockSecond(systemClock().now());
}

} // namespace station::reliability
