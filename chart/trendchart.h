// The trend chart component of the main window: the plot `pt` in front of its
// frame `pt0`, the nine time and date labels under the plot (Label4, Label7),
// the process scale on the left (Label5, captioned Label15 "量 程") and the
// percent scale on the right (Label6, captioned Label11 "量程").
//
// The main window owns the timers and calls in:
//   window load      loadAtWindowLoad(database source), or its three steps
//                    chart().initView(), startLiveWindow(), loadAndRepaint()
//   timer 1 (200 ms) leftScaleRefresh(), then liveAppend(), then sampleStep()
//   timer 2 (1 s)    repaintChart()
// Navigation works on chart() (view state and sequence steps) and on plot()
// (the cursor line). windowDateTimeChanged() names the first visible sample
// after each load; the main window's top-right date and time labels are its
// clock and do not show it.
#pragma once

#include "chart/chart.h"

#include <QWidget>
#include <array>

class QLabel;

namespace station {
class Clock;
namespace draw {
class PictureBox;
}
} // namespace station

namespace station::chart {

class TrendChart : public QWidget {
    Q_OBJECT
public:
    explicit TrendChart(QWidget *parent = nullptr);
    TrendChart(const Clock &clock, QWidget *parent = nullptr);

    // The chart's steps of the main window load (Chart::windowLoad), reading
    // from the given database source or from a connection opened by name.
    void loadAtWindowLoad(Chart::DatabaseSource source);
    void loadAtWindowLoad(const QString &connectionName);
    // Timer 2: the repaint sequence (clear, grid, zoom, labels, marks, pens).
    // (Not named repaint(), which would hide QWidget::repaint().)
    void repaintChart();
    // Timer 1, step 2: Label5 from the process-wide Y range.
    void leftScaleRefresh();
    // Timer 1, step 3: appends the live sample of the register image when the
    // recorder's new-sample flag is raised, and clears it. Returns whether it did.
    bool liveAppend();
    // Timer 1, step 5: the current sample step, for its label.
    float sampleStep() const { return m_chart.view().sampleStep; }

    Chart &chart() { return m_chart; }
    const Chart &chart() const { return m_chart; }
    draw::PictureBox *plot() const { return m_plot; }
    draw::PictureBox *frame() const { return m_frame; }

    QLabel *timeLabel(int k) const;     // Label4_k
    QLabel *dateLabel(int k) const;     // Label7_k
    QLabel *leftScaleLabel(int i) const;    // Label5_i, 0 at the bottom
    QLabel *percentLabel(int i) const;      // Label6_i, 0 at the bottom
    QLabel *leftCaption() const { return m_leftCaption; }   // Label15
    QLabel *rightCaption() const { return m_rightCaption; } // Label11

signals:
    void windowDateTimeChanged(const QString &date, const QString &time);

private:
    void build();
    void showTimeLabels(const TimeLabels &labels);

    Chart m_chart;
    draw::PictureBox *m_frame = nullptr;
    draw::PictureBox *m_plot = nullptr;
    std::array<QLabel *, kTimeLabelCount> m_time{};
    std::array<QLabel *, kTimeLabelCount> m_date{};
    std::array<QLabel *, kScaleLabelCount> m_leftScale{};
    std::array<QLabel *, kScaleLabelCount> m_percent{};
    QLabel *m_leftCaption = nullptr;
    QLabel *m_rightCaption = nullptr;
};

// Component geometry in twips, converted at 15 twips per pixel.
namespace layout {
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kScaleColumnWidth = 900;   // Label5, left of the plot
inline constexpr int kCaptionHeight = 300;      // Label15 / Label11 above the scales
inline constexpr int kPlotLeft = kScaleColumnWidth;
inline constexpr int kPlotTop = kCaptionHeight;
inline constexpr int kLabelWidth = 1200;
inline constexpr int kLabelHeight = 255;
inline constexpr int kScaleLabelStep = 1250;    // 7500 / 6, both scales
inline constexpr int kTimeRowGap = 150;         // plot bottom to the time row
inline constexpr int kPercentColumnGap = 90;    // plot right to Label6
inline constexpr int kPercentColumnWidth = 600;

int pixels(double twips);
} // namespace layout

} // namespace station::chart
