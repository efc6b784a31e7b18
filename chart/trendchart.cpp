#include "chart/trendchart.h"

#include "chart/draw/picturebox.h"
#include "chart/render.h"
#include "common/datenum.h"
#include "common/naming.h"
#include "common/numbers.h"
#include "link/registerimage.h"

#include <QLabel>

#include <algorithm>

namespace station::chart {

namespace layout {
int pixels(double twips)
{
    return int(roundHalfEven(twips / kTwipsPerPixel));
}
} // namespace layout

using namespace layout;

namespace {

QLabel *makeLabel(QWidget *parent, const QString &name, int index, Qt::Alignment alignment)
{
    auto *label = new QLabel(parent);
    if (index >= 0)
        setName(label, name, index);
    else
        setName(label, name);
    label->setAlignment(alignment);
    return label;
}

// Places a label of the standard size centred on (x, y) in twips.
void centreOn(QLabel *label, double x, double y, int width = kLabelWidth)
{
    label->setGeometry(pixels(x - width / 2.0), pixels(y - kLabelHeight / 2.0), pixels(width),
                       pixels(kLabelHeight));
}

} // namespace

TrendChart::TrendChart(QWidget *parent)
    : TrendChart(systemClock(), parent)
{
}

TrendChart::TrendChart(const Clock &clock, QWidget *parent)
    : QWidget(parent)
    , m_chart(clock)
{
    build();
    connect(&m_chart, &Chart::timeLabelsChanged, this, &TrendChart::showTimeLabels);
    connect(&m_chart, &Chart::windowDateTimeChanged, this, &TrendChart::windowDateTimeChanged);
    leftScaleRefresh();
}

void TrendChart::build()
{
    // pt0 stands one pixel out of pt on every side and frames it.
    m_frame = new draw::PictureBox(QSizeF(kFrameWidth, kFrameHeight), this);
    setName(m_frame, QStringLiteral("pt0"));
    m_frame->setGeometry(pixels(kPlotLeft) - 1, pixels(kPlotTop) - 1, pixels(kPlotWidth) + 2,
                         pixels(kPlotHeight) + 2);
    m_frame->canvas().setBackColor(Qt::black);

    m_plot = new draw::PictureBox(QSizeF(kPlotWidth, kPlotHeight), this);
    setName(m_plot, QStringLiteral("pt"));
    m_plot->setGeometry(pixels(kPlotLeft), pixels(kPlotTop), pixels(kPlotWidth), pixels(kPlotHeight));
    m_plot->canvas().setBackColor(kPlotBackground);
    m_chart.setCanvas(&m_plot->canvas());

    const double plotBottom = kPlotTop + kPlotHeight;
    const double timeRow = plotBottom + kTimeRowGap + kLabelHeight / 2.0;
    for (int k = 0; k < kTimeLabelCount; ++k) {
        const double x = kPlotLeft + kTimeLabelSpacing * k;
        m_time[k] = makeLabel(this, QStringLiteral("Label4"), k, Qt::AlignCenter);
        centreOn(m_time[k], x, timeRow);
        m_date[k] = makeLabel(this, QStringLiteral("Label7"), k, Qt::AlignCenter);
        centreOn(m_date[k], x, timeRow + kLabelHeight);
    }

    const double percentLeft = kPlotLeft + kPlotWidth + kPercentColumnGap;
    for (int i = 0; i < kScaleLabelCount; ++i) {
        const double y = plotBottom - double(kScaleLabelStep) * i;
        m_leftScale[i] = makeLabel(this, QStringLiteral("Label5"), i, Qt::AlignRight | Qt::AlignVCenter);
        centreOn(m_leftScale[i], kScaleColumnWidth / 2.0 - 30, y, kScaleColumnWidth - 120);
        m_percent[i] = makeLabel(this, QStringLiteral("Label6"), i, Qt::AlignLeft | Qt::AlignVCenter);
        m_percent[i]->setText(kPercentLabels[i]);
        centreOn(m_percent[i], percentLeft + kPercentColumnWidth / 2.0, y, kPercentColumnWidth);
    }

    m_leftCaption = makeLabel(this, QStringLiteral("Label15"), -1, Qt::AlignRight | Qt::AlignVCenter);
    m_leftCaption->setText(kLeftRangeCaption);
    centreOn(m_leftCaption, kScaleColumnWidth / 2.0 - 30, kCaptionHeight / 2.0 - 30, kScaleColumnWidth - 120);
    m_rightCaption = makeLabel(this, QStringLiteral("Label11"), -1, Qt::AlignLeft | Qt::AlignVCenter);
    m_rightCaption->setText(kRightRangeCaption);
    centreOn(m_rightCaption, percentLeft + kPercentColumnWidth / 2.0, kCaptionHeight / 2.0 - 30,
             kPercentColumnWidth);

    // The last time label is centred on X = 12000 and stands half a label out
    // of the plot; the percent column is wider still.
    const int width = pixels(std::max(percentLeft + kPercentColumnWidth,
                                      kPlotLeft + kTimeLabelSpacing * (kTimeLabelCount - 1) + kLabelWidth / 2.0));
    const int height = pixels(timeRow + kLabelHeight * 1.5) + 2;
    setFixedSize(width, height);
}

void TrendChart::loadAtWindowLoad(Chart::DatabaseSource source)
{
    m_chart.setDatabase(std::move(source));
    m_chart.windowLoad();
    leftScaleRefresh();
}

void TrendChart::loadAtWindowLoad(const QString &connectionName)
{
    m_chart.setConnectionName(connectionName);
    m_chart.windowLoad();
    leftScaleRefresh();
}

void TrendChart::repaintChart()
{
    m_chart.repaint();
}

void TrendChart::leftScaleRefresh()
{
    const auto texts = m_chart.leftScale();
    for (int i = 0; i < kScaleLabelCount; ++i)
        m_leftScale[i]->setText(texts[i]);
}

bool TrendChart::liveAppend()
{
    return m_chart.liveAppend(registerImage().liveSample, sampleFlags());
}

void TrendChart::showTimeLabels(const TimeLabels &labels)
{
    for (int k = 0; k < kTimeLabelCount; ++k) {
        if (labels.time[k])
            m_time[k]->setText(*labels.time[k]);
        if (labels.date[k])
            m_date[k]->setText(*labels.date[k]);
    }
}

QLabel *TrendChart::timeLabel(int k) const
{
    return k >= 0 && k < kTimeLabelCount ? m_time[k] : nullptr;
}

QLabel *TrendChart::dateLabel(int k) const
{
    return k >= 0 && k < kTimeLabelCount ? m_date[k] : nullptr;
}

QLabel *TrendChart::leftScaleLabel(int i) const
{
    return i >= 0 && i < kScaleLabelCount ? m_leftScale[i] : nullptr;
}

QLabel *TrendChart::percentLabel(int i) const
{
    return i >= 0 && i < kScaleLabelCount ? m_percent[i] : nullptr;
}

} // namespace station::chart
