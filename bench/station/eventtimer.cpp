#include "bench/station/eventtimer.h"

#include <QEvent>
#include <QMetaEnum>
#include <QThread>
#include <QTimer>
#include <algorithm>

namespace station::bench {

EventTimer::EventTimer(int &argc, char **argv)
    : QApplication(argc, argv)
{
    m_clock.start();
}

void EventTimer::nameMembers(const QObject *object, std::size_t size, const QString &name)
{
    const char *begin = reinterpret_cast<const char *>(object);
    m_members.push_back({{begin, begin + size}, name});
}

QString EventTimer::sourceOf(const QObject *receiver, const QEvent *event) const
{
    const char *at = reinterpret_cast<const char *>(receiver);
    for (const auto &[range, name] : m_members)
        if (at >= range.first && at < range.second)
            return name;
    if (!receiver->objectName().isEmpty())
        return receiver->objectName();
    const char *type = QMetaEnum::fromType<QEvent::Type>().valueToKey(event->type());
    QString name = QString::fromLatin1(receiver->metaObject()->className()) + QLatin1Char(' ')
                   + (type ? QString::fromLatin1(type) : QString::number(int(event->type())));
    for (const QObject *up = receiver->parent(); up; up = up->parent())
        if (!up->objectName().isEmpty() && !up->objectName().startsWith(QLatin1String("qt_")))
            return name + QLatin1String(" in ") + up->objectName();
    return name;
}

bool EventTimer::notify(QObject *receiver, QEvent *event)
{
    if (!m_enabled || !receiver || QThread::currentThread() != thread())
        return QApplication::notify(receiver, event);

    const qint64 start = m_clock.nsecsElapsed();
    if (!m_stack.empty()) {
        Frame &outer = m_stack.back();
        const double stretch = double(start - outer.mark) / 1e6;
        outer.longest = std::max(outer.longest, stretch);
        outer.own += stretch;
    }
    m_stack.push_back(Frame{sourceOf(receiver, event), start, 0, 0});
    const bool result = QApplication::notify(receiver, event);

    const qint64 end = m_clock.nsecsElapsed();
    Frame frame = std::move(m_stack.back());
    m_stack.pop_back();
    const double stretch = double(end - frame.mark) / 1e6;
    frame.longest = std::max(frame.longest, stretch);
    frame.own += stretch;
    account(frame);
    if (!m_stack.empty())
        m_stack.back().mark = end;
    return result;
}

void EventTimer::account(const Frame &frame)
{
    Source &s = m_sources[frame.source];
    s.name = frame.source;
    ++s.events;
    s.longestMs = std::max(s.longestMs, frame.longest);
    s.totalMs += frame.own;
}

std::vector<EventTimer::Source> EventTimer::sources() const
{
    std::vector<Source> all(m_sources.begin(), m_sources.end());
    std::sort(all.begin(), all.end(), [](const Source &a, const Source &b) { return a.longestMs > b.longestMs; });
    return all;
}

} // namespace station::bench
