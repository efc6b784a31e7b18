#include "app/navigationview.h"

#include "app/functionpanel.h"
#include "app/status/panelwidgets.h"
#include "app/status/statuspanel.h"
#include "app/status/statustables.h"

#include "chart/draw/picturebox.h"
#include "chart/trendchart.h"
#include "common/colors.h"

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
    m_status.dateLabel()->setText(date);
    m_status.timeLabel()->setText(time);
    status::setBackground(m_status.dateLabel(), colors::kCursorYellow);
    status::setBackground(m_status.timeLabel(), colors::kCursorYellow);
    for (int j = 0; j < int(values.size()); ++j)
        if (QLabel *label = m_status.processLabel(j)) {
            label->setText(values[std::size_t(j)]);
            status::setBackground(label, colors::kCursorYellow);
        }
}

void NavigationView::hideCursorSample()
{
    // All eight value labels: the cursor coloured every one of them, and the
    // live timer gives back only the first three.
    m_status.showLiveColours();
    for (int j = 0; j < status::kProcessLabelCount; ++j)
        if (QLabel *label = m_status.processLabel(j))
            status::setBackground(label, colors::kPink);
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
