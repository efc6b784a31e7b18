// Watching the GUI thread of a running station from inside it.
//
// GuiProbe: a precise 10 ms timer on the GUI thread. The longest interval
// between two of its ticks is how long the thread went without processing
// events (a database commit, a repaint, a handler). The register image changes
// only on the GUI thread, one read's reply at a time, so a watch run on every
// tick sees the image between two stores.
#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>

namespace station::reliability {

class GuiProbe : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 10;

    explicit GuiProbe(QObject *parent = nullptr);

    void start();
    void stop();

    // Longest interval between two ticks since start or the last reset.
    qint64 longestIntervalMs() const { return m_longest; }
    // Longest interval since start, never reset.
    qint64 longestOverallMs() const { return m_overall; }
    void resetLongest() { m_longest = 0; }
    qint64 ticks() const { return m_ticks; }

    // Runs on every tick (after the interval is measured); empty for none.
    void setWatch(std::function<void()> watch) { m_watch = std::move(watch); }

private:
    void onTick();

    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    qint64 m_overall = 0;
    qint64 m_ticks = 0;
    std::function<void()> m_watch;
};

// Runs the event loop until done() holds or deadlineMs pass; returns done().
bool waitFor(const std::function<bool()> &done, int deadlineMs);

// Runs the event loop for ms: a fault is held for that long while watches
// check what must stay true. Nothing is awaited.
void holdFor(int ms);

// The clock's second as one number, as the recorder stamps its rows
// (day number x 86400 + second of the day).
qint64 clockSecond(const QDateTime &t);
qint64 clockSecondNow();

} // namespace station::reliability
