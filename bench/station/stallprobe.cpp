#include "bench/station/stallprobe.h"

namespace station::bench {

StallProbe::StallProbe(QObject *parent)
    : QObject(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &StallProbe::onTick);
}

void StallProbe::start()
{
    m_sinceLast.start();
    m_timer.start();
}

void StallProbe::stop()
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    m_probedMs += double(m_sinceLast.nsecsElapsed()) / 1e6;
}

void StallProbe::onTick()
{
    const double gap = double(m_sinceLast.nsecsElapsed()) / 1e6;
    m_sinceLast.start();
    m_gaps.push_back(gap);
    m_probedMs += gap;
}

} // namespace station::bench
