// Who keeps the GUI thread busy: an application whose notify() times every
// event it delivers, so the stall probe's longest gaps can be put down to a
// handler without any hook in the station.
//
// For each delivered event the longest stretch run without delivering another
// (nested) event is kept: for the poller's tick, whose cycle yields between
// exchanges, that is the longest exchange with its bookkeeping, not the whole
// cycle. An event a handler sends itself also ends a stretch, so a repaint
// shows up as the paint events of its widgets. Stretches are grouped by a source name: a named object's name, the
// poll timer and the recorder timer (unnamed members, told apart by their
// address inside the Poller and Recorder objects), else class and event type.
// Only the GUI thread's events are timed: notify() also runs on the link and
// recorder threads, whose events pass through untouched (the stack of frames
// is the GUI thread's alone).
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <utility>
#include <vector>

namespace station::bench {

class EventTimer : public QApplication {
public:
    struct Source {
        QString name;
        long long events = 0;
        double longestMs = 0;  // longest stretch without a nested event
        double totalMs = 0;    // time in this source's handlers, nested events left out
    };

    EventTimer(int &argc, char **argv);

    // Objects whose member timers are to be named (the timer lies inside [object, object + size)).
    void nameMembers(const QObject *object, std::size_t size, const QString &name);
    void setEnabled(bool on) { m_enabled = on; }

    // Sources by their longest stretch, longest first.
    std::vector<Source> sources() const;

    bool notify(QObject *receiver, QEvent *event) override;

private:
    struct Frame {
        QString source;
        qint64 mark = 0;      // start, or the end of the last nested event
        double longest = 0;
        double own = 0;
    };
    QString sourceOf(const QObject *receiver, const QEvent *event) const;
    void account(const Frame &frame);

    bool m_enabled = false;
    QElapsedTimer m_clock;
    std::vector<Frame> m_stack;
    std::vector<std::pair<std::pair<const char *, const char *>, QString>> m_members;
    QHash<QString, Source> m_sources;
};

} // namespace station::bench
