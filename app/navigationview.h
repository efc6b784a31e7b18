// The main window's side of the chart navigation: the function buttons, the
// slider hc, the cursor line Line1, the live timer, the readout of the cursor's
// sample above the chart, the sample-step label Label12 and the chart's left
// scale.
#pragma once

#include "chart/navigation.h"

class QLabel;
class QTimer;

namespace station {

class CursorReadout;
class FunctionPanel;
namespace chart {
class TrendChart;
}

class NavigationView final : public chart::NavigationView {
public:
    NavigationView(FunctionPanel &function, CursorReadout &readout, chart::TrendChart &chart, QTimer &liveTimer,
                   QLabel &stepLabel)
        : m_function(function), m_readout(readout), m_chart(chart), m_liveTimer(liveTimer), m_stepLabel(stepLabel)
    {
    }

    void setZoomInEnabled(bool on) override;
    void setZoomOutEnabled(bool on) override;
    void setPageForwardEnabled(bool on) override;
    void setPageBackEnabled(bool on) override;
    bool pageBackEnabled() const override;
    void setLiveTimerRunning(bool on) override;
    void setSliderValue(int value) override;
    void setSliderSteps(int step) override;
    void setSliderEnabled(bool on) override;
    void setSliderTabStop(bool on) override;
    void focusSlider() override;
    void focusRulerButton() override;
    void setRulerCaption(const QString &caption) override;
    void showCursorLine(const QLineF &line, const draw::Pen &pen) override;
    void showCursorSample(const QString &date, const QString &time, const std::array<QString, 8> &values) override;
    void hideCursorSample() override;
    void showSampleStep(float step) override;
    void refreshLeftScale() override;

private:
    FunctionPanel &m_function;
    CursorReadout &m_readout;
    chart::TrendChart &m_chart;
    QTimer &m_liveTimer;
    QLabel &m_stepLabel;
};

} // namespace station
