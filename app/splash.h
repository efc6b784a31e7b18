// The splash frmSplash: shown first, for about 1.5 s. Its 200 ms timer counts
// seven ticks (about 1.4 s), then hands over to its 100 ms timer, whose first
// tick closes the splash and reports finished(): the station then shows the main
// window and creates the poller and the recorder.
#pragma once

#include <QTimer>
#include <QWidget>

namespace station {

class Splash : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTimer1Ms = 200;
    static constexpr int kTimer2Ms = 100;
    static constexpr int kTicksShown = 6; // the 7th tick (counter above 6) moves on

    explicit Splash(QWidget *parent = nullptr);

    // The splash picture, drawn by the station itself.
    static QPixmap picture(QSize size);

    QTimer &timer1() { return m_timer1; }
    QTimer &timer2() { return m_timer2; }
    int tickCount() const { return m_ticks; }

signals:
    void finished();

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onTimer1();
    void onTimer2();

    QTimer m_timer1;
    QTimer m_timer2;
    int m_ticks = 0;
    bool m_started = false;
};

} // namespace station
