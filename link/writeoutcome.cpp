#include "link/writeoutcome.h"

#include <QCoreApplication>
#include <QThread>

namespace station::link {

const char *outcomeName(WriteOutcome outcome)
{
    switch (outcome) {
    case WriteOutcome::Answered: return "answered";
    case WriteOutcome::AnsweredOnRetry: return "answered on retry";
    case WriteOutcome::Failed: return "failed";
    case WriteOutcome::Refused: return "refused";
    case WriteOutcome::Replaced: return "replaced";
    case WriteOutcome::Dropped: return "dropped";
    }
    return "?";
}

WriteOutcomes &WriteOutcomes::instance()
{
    static WriteOutcomes *outcomes = [] {
        qRegisterMetaType<station::link::WriteReport>();
        auto *o = new WriteOutcomes; // lives until the process ends
        if (QCoreApplication *app = QCoreApplication::instance())
            o->moveToThread(app->thread());
        return o;
    }();
    return *outcomes;
}

void WriteOutcomes::report(WriteReport report)
{
    {
        std::lock_guard lock(m_mutex);
        m_kept.push_back(std::move(report));
        if (m_deliveryAsked)
            return;
        m_deliveryAsked = true;
    }
    QMetaObject::invokeMethod(this, &WriteOutcomes::deliver, Qt::QueuedConnection);
}

void WriteOutcomes::deliver()
{
    if (QThread::currentThread() != thread())
        return;
    for (;;) {
        WriteReport next;
        {
            std::lock_guard lock(m_mutex);
            if (m_kept.empty()) {
                m_deliveryAsked = false;
                return;
            }
            next = std::move(m_kept.front());
            m_kept.pop_front();
        }
        emit finished(next);
    }
}

} // namespace station::link
