// How long the GUI thread goes without processing events: a precise 10 ms timer
// on that thread, whose ticks arrive late by however long the thread was busy
// (a database commit, a repaint, a handler) and never early. The gap between
// two ticks is kept; a gap of 10 ms means the thread was free. The exchanges
// run on the link thread; only storing their replies shows here.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

namespace station::bench {

class StallProbe : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 10;

    explicit StallProbe(QObject *parent = nullptr);

    // Starts a stretch of probing; the first gap is counted from here.
    void start();
    void stop();
    bool isActive() const { return m_timer.isActive(); }

    // Gaps between consecutive ticks, in milliseconds, over every stretch.
    const std::vector<double> &gaps() const { return m_gaps; }
    double probedSeconds() const { return m_probedMs / 1000.0; }

private:
    void onTick();

    QTimer m_timer;
    QElapsedTimer m_sinceLast;
    std::vector<double> m_gaps;
    double m_probedMs = 0;
};

} // namespace station::bench
