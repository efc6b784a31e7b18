// The main window ssqx: chart, status panel, connection groups and the command
// column. It is the only window shown at all times; the configuration window and
// the program editor hide it while they are open.
//
// Timers, all on the GUI thread:
//   PanelTimer 200 ms  label colours and status panel refresh, in every chart
//                      mode: what the controller does now is always in sight
//   Timer1 200 ms      left scale, live append on a new sample, sample step
//                      (the live timer: stopped in history view and ruler mode)
//   Timer2 1 s         chart repaint
//   Timer3 1 s         clock labels, in every chart mode
// In ruler mode the cursor's sample is shown in its own readout above the
// chart, never in the panel's labels or the clock.
//
// The title starts with the link state ("通讯中断 - 双回路控制器..."), so the
// task bar shows it as well as the indicator beside "打开".
#pragma once

#include "link/registerimage.h"

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <memory>

class QLabel;
class QPushButton;

namespace station {

namespace chart {
class Navigation;
class TrendChart;
}
namespace status {
class StatusPanel;
}
class ConnectionPanel;
class CursorReadout;
class FunctionPanel;
class NavigationView;
class Poller;

class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPanelTimerMs = 200;
    static constexpr int kTimer1Ms = 200;
    static constexpr int kTimer2Ms = 1000;
    static constexpr int kTimer3Ms = 1000;

    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The poller the open and close commands start and stop (created after the
    // splash closes, so it arrives after the window's load).
    void setPoller(Poller *poller) { m_poller = poller; }

    // Commands of the window.
    void openLink();   // "打开"
    void closeLink();  // "关闭"
    void exitProgram(); // "退出"

    bool unloadGuard() const { return m_unloadGuard; }
    // How "退出" was asked for: its button, or Esc.
    enum class ExitWay { Button, EscapeKey };
    ExitWay exitWay() const { return m_exitWay; }
    bool isLoaded() const { return m_loaded; }

    QTimer &panelTimer() { return m_panelTimer; }
    QTimer &timer1() { return m_timer1; }
    QTimer &timer2() { return m_timer2; }
    QTimer &timer3() { return m_timer3; }

    ConnectionPanel *connectionPanel() const { return m_connection; }
    FunctionPanel *functionPanel() const { return m_function; }
    status::StatusPanel *statusPanel() const { return m_status; }
    chart::TrendChart *trendChart() const { return m_chart; }
    CursorReadout *cursorReadout() const { return m_readout; }
    chart::Navigation &navigation() { return *m_navigation; }
    bool rulerMode() const;

signals:
    // Emitted by "退出" after the window has unloaded, just before the program ends.
    void exitRequested();
    // The open "打开" posted was carried out: OpenPort_Modbus's result (link::kOk: opened).
    void linkOpened(const station::LinkSettings &settings, std::int32_t result);
    // "关闭" was pressed (its close is queued).
    void linkClosed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void connectWritePanels();
    void connectNavigation();
    void onEscape();
    void load();
    void onPanelTimer();
    void onTimer1();
    void showSampleStep();
    void showLinkStateInTitle(const QString &state);
    void onTimer2();
    void onTimer3();

    ConnectionPanel *m_connection = nullptr;
    FunctionPanel *m_function = nullptr;
    status::StatusPanel *m_status = nullptr;
    chart::TrendChart *m_chart = nullptr;
    QPushButton *m_config = nullptr;      // Command21 "CONFIG"
    QPushButton *m_curve = nullptr;       // Command11 "曲线设置"
    QPushButton *m_calibrate = nullptr;   // Command23 "参数校准" (hidden)
    QPushButton *m_exit = nullptr;        // Command1 "退出"
    QLabel *m_stepLabel = nullptr;        // the chart's sample step
    CursorReadout *m_readout = nullptr;   // the ruler cursor's sample
    Poller *m_poller = nullptr;

    QTimer m_panelTimer;
    QTimer m_timer1;
    QTimer m_timer2;
    QTimer m_timer3;
    bool m_loaded = false;
    bool m_unloadGuard = false;
    ExitWay m_exitWay = ExitWay::Button;
    std::unique_ptr<NavigationView> m_navView;
    std::unique_ptr<chart::Navigation> m_navigation;
};

} // namespace station
