#include "link/readchain.h"

#include <QMetaObject>

namespace station::link {

ReadChain::ReadChain(QObject *parent)
    : QObject(parent)
{
}

ReadChain::~ReadChain()
{
    linkThread().cancel(this);
}

bool ReadChain::start(std::vector<Step> steps, std::function<void()> finished)
{
    if (m_running)
        return false;
    m_steps = std::move(steps);
    m_finished = std::move(finished);
    m_next = 0;
    ++m_run;
    m_running = true;
    postStep();
    return true;
}

void ReadChain::stop()
{
    if (!m_running)
        return;
    m_running = false;
    ++m_run; // a reply still on its way belongs to no running chain
    linkThread().cancel(this);
}

void ReadChain::postStep()
{
    if (!m_running)
        return;
    if (m_next >= m_steps.size()) {
        m_running = false;
        // It may start the next chain, which replaces m_finished.
        const auto finished = std::move(m_finished);
        m_finished = {};
        if (finished)
            finished();
        return;
    }
    const quint64 run = m_run;
    linkThread().post(m_steps[m_next].request, this, [this, run](const Reply &reply) { onReply(run, reply); }, this);
}

void ReadChain::onReply(quint64 run, const Reply &reply)
{
    if (!m_running || run != m_run)
        return;
    // The step may stop this chain and start another: keep what it needs.
    const auto apply = m_steps[m_next].apply;
    ++m_next;
    if (apply)
        apply(reply);
    if (!m_running || run != m_run)
        return; // the step stopped the chain
    if (m_next >= m_steps.size()) {
        postStep(); // finished: no yield after the last read
        return;
    }
    if (m_atYield)
        m_atYield();
    if (!m_running || run != m_run)
        return;
    // One more turn of the event loop before the next read is posted: window
    // events that were pending when this read completed (a focus change and
    // its write, a timer) run first.
    QMetaObject::invokeMethod(
        this,
        [this, run] {
            if (m_running && run == m_run)
                postStep();
        },
        Qt::QueuedConnection);
}

} // namespace station::link
