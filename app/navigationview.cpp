#include "app/navigationview.h"

#include "app/cursorreadout.h"
#include "app/functionpanel.h"

#include "chart/draw/picturebox.h"
#include "chart/trendchart.h"

#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>

namespace station {

void NavigationView::setZoomInEnabled(bool on)
{
    m_function.zoomIn()->setEnabled(on);
}

void NavigationView::setZoomOutEnabled(bool on)
{
    m_function.zoomOut()->setEnabled(on);
}

void NavigationView::setPageForwardEnabled(bool on)
{
    m_function.pageForward()->setEnabled(on);
}

void NavigationView::setPageBackEnabled(bool on)
{
    m_function.pageBack()->setEnabled(on);
}

bool NavigationView::pageBackEnabled() const
{
    return m_function.pageBack()->isEnabled();
}

void NavigationView::setLiveTimerRunning(bool on)
{
    if (on)
        m_liveTimer.start();
    else
        m_liveTimer.stop();
}

void NavigationView::setSliderValue(int value)
{
    m_function.slider()->setValue(value);
}

void NavigationView::setSliderSteps(int step)
{
    m_function.slider()->setSingleStep(step);
    m_function.slider()->setPageStep(step);
}

void NavigationView::setSliderEnabled(bool on)
{
    m_function.slider()->setEnabled(on);
}

void NavigationView::setSliderTabStop(bool on)
{
    m_function.slider()->setFocusPolicy(on ? Qt::StrongFocus : Qt::ClickFocus);
}

void NavigationView::focusSlider()
{
    m_function.slider()->setFocus(Qt::OtherFocusReason);
}

void NavigationView::focusRulerButton()
{
    m_function.ruler()->setFocus(Qt::OtherFocusReason);
}

void NavigationView::setRulerCaption(const QString &caption)
{
    m_function.ruler()->setText(caption);
}

void NavigationView::showCursorLine(const QLineF &line, const draw::Pen &pen)
{
    m_chart.plot()->setOverlayLine(line, pen);
}

void NavigationView::showCursorSample(const QString &date, const QString &time, const std::array<QString, 8> &values)
{
    m_readout.showSample(date, time, values);
}

void NavigationView::hideCursorSample()
{
    m_readout.clear();
}

void NavigationView::showSampleStep(float step)
{
    m_stepLabel.setText(QString::number(double(step)));
}

void NavigationView::refreshLeftScale()
{
    m_chart.leftScaleRefresh();
}

} // namespace station
