#include "chart/navigation.h"

#include "chart/chart.h"
#include "record/sampledb.h"

#include "common/datenum.h"
#include "common/logging.h"
#include "common/numbers.h"

#include <cmath>

namespace station::chart {

namespace {

constexpr std::int32_t kPageSamples = 60;
const QString kRulerOnCaption = QStringLiteral("F4 复原");
const QString kRulerOffCaption = QStringLiteral("F4 标尺");
const draw::Pen kCursorParkedOn{2, QColor(255, 255, 0), draw::LineStyle::Solid};
const draw::Pen kCursorParkedOff{2, QColor(0, 255, 0), draw::LineStyle::Solid};
const draw::Pen kCursorPen{2, QColor(192, 0, 192), draw::LineStyle::Solid};

// 60 x pages back, in 32 bits: in 16 bits the 547th page would overflow.
std::int32_t pageOffset(std::int32_t pagesBack)
{
    return kPageSamples * pagesBack;
}

// Rows at and behind the newest id: ids 1..n until the ring wraps, all after.
std::int32_t storedRows(std::int32_t newestId, bool ringFull)
{
    return ringFull ? sampledb::kRingSize : newestId;
}

} // namespace

std::int32_t windowEndFor(std::int32_t newestId, std::int32_t pagesBack)
{
    const std::int32_t offset = pageOffset(pagesBack);
    if (newestId > offset)
        return newestId - offset;
    return sampledb::kRingSize - (offset - newestId);
}

bool stepBackRefused(std::int32_t newestId, std::int32_t pagesBack, bool ringFull)
{
    if (pageOffset(pagesBack) + kHistoryWindow >= storedRows(newestId, ringFull))
        return true;
    const std::int32_t end = windowEndFor(newestId, pagesBack);
    return end < 1 || end > sampledb::kRingSize;
}

bool applyYRange(const QString &maximumText, const QString &minimumText)
{
    const double maximum = leadingNumber(maximumText);
    const double minimum = leadingNumber(minimumText);
    if (maximum > 36000 || maximum < -12000)
        return false;
    if (minimum > 35000 || minimum < -12000 || minimum > maximum)
        return false;
    YRange &y = yRange();
    // Each value goes into its 16-bit variable; one that does not fit leaves it.
    if (const auto v = toInt16(minimum))
        y.minimum = *v;
    if (const auto v = toInt16(maximum))
        y.maximum = *v;
    if (const auto v = toInt16(maximum - minimum))
        y.span = *v;
    return true;
}

void Navigation::redraw()
{
    m_chart.clearAndDrawGrid();
    m_chart.applyZoom();
    m_chart.drawLabelsMarksPens();
}

void Navigation::loadAndRedraw()
{
    m_chart.loadWindow();
    redraw();
}

void Navigation::zoomIn()
{
    ViewState &v = m_chart.view();
    m_chart.clearAndDrawGrid();
    --v.zoomLevel;
    if (v.zoomLevel <= kMinZoom)
        m_view.setZoomInEnabled(false);
    if (v.zoomLevel < kMaxZoom)
        m_view.setZoomOutEnabled(true);
    m_chart.applyZoom();
    m_view.setSliderSteps(int(roundHalfEven(v.sampleStep)));
    m_view.showSampleStep(v.sampleStep);
    m_chart.drawLabelsMarksPens();
}

void Navigation::zoomOut()
{
    ViewState &v = m_chart.view();
    m_chart.clearAndDrawGrid();
    ++v.zoomLevel;
    if (v.zoomLevel > kMinZoom)
        m_view.setZoomInEnabled(true);
    if (v.zoomLevel >= kMaxZoom)
        m_view.setZoomOutEnabled(false);
    m_chart.applyZoom();
    m_view.setSliderSteps(int(roundHalfEven(v.sampleStep)));
    m_view.showSampleStep(v.sampleStep);
    m_chart.drawLabelsMarksPens();
}

void Navigation::pageBack()
{
    ViewState &v = m_chart.view();
    // Measured from the newest id as it is now: the recorder goes on while the
    // operator pages, and in a full ring every row it adds overwrites the
    // oldest, so a newest id read minutes ago would put the "oldest" page over
    // the newest rows. A failed read keeps the last one.
    m_chart.readNewestId();
    v.pagesBack = std::int16_t(v.pagesBack + 1);
    v.windowLength = kHistoryWindow;
    if (v.pagesBack >= 1) {
        m_view.setLiveTimerRunning(false);
        m_view.setPageForwardEnabled(true);
    }
    if (stepBackRefused(v.newestId, v.pagesBack, v.ringFull)) {
        m_view.setPageBackEnabled(false);
        v.atOldest = true;
        return;
    }
    v.windowEndId = windowEndFor(v.newestId, v.pagesBack);
    v.markEnd = v.curveEnd = kHistoryWindow;
    loadAndRedraw();
}

void Navigation::pageForward()
{
    ViewState &v = m_chart.view();
    m_chart.clearAndDrawGrid();
    v.pagesBack = std::int16_t(v.pagesBack - 1);
    v.windowLength = kHistoryWindow;
    // Windows that would now run past the oldest row are passed over.
    while (v.pagesBack > 0 && stepBackRefused(v.newestId, v.pagesBack, v.ringFull))
        v.pagesBack = std::int16_t(v.pagesBack - 1);
    if (v.pagesBack == 0) {
        m_chart.readNewestId();
        v.windowEndId = v.newestId;
        v.windowLength = kLiveWindow;
        v.markEnd = v.curveEnd = kLiveWindow;
        m_chart.loadWindow();
        m_view.setPageForwardEnabled(false);
        enablePageBack();
        redraw();
        m_view.setLiveTimerRunning(true);
        return;
    }
    v.windowEndId = windowEndFor(v.newestId, v.pagesBack);
    v.markEnd = v.curveEnd = kHistoryWindow;
    loadAndRedraw();
    if (!m_view.pageBackEnabled())
        enablePageBack();
}

// Back from a refusal: the ring may have grown, or the view moved forward.
void Navigation::enablePageBack()
{
    m_view.setPageBackEnabled(true);
    m_chart.view().atOldest = false;
}

void Navigation::toggleRuler()
{
    if (m_chart.view().rulerMode)
        rulerOff();
    else
        rulerOn();
}

void Navigation::rulerOn()
{
    m_view.setSliderValue(0);
    m_view.focusSlider();
    m_view.showCursorLine(QLineF(1, kCursorTop, 1, kCursorParkedBottom), kCursorParkedOn);
    m_view.setSliderEnabled(true);
    m_chart.view().rulerMode = true;
    m_view.focusSlider();
    m_view.setLiveTimerRunning(false);
    m_view.setRulerCaption(kRulerOnCaption);
}

void Navigation::rulerOff()
{
    ViewState &v = m_chart.view();
    m_view.setSliderValue(0);
    m_view.setSliderTabStop(false);
    m_view.showCursorLine(QLineF(0, kCursorTop, 0, kCursorParkedBottom), kCursorParkedOff);
    v.rulerMode = false;
    m_view.setSliderEnabled(false);
    m_view.focusRulerButton();
    m_view.setRulerCaption(kRulerOffCaption);
    m_view.hideCursorSample();
    m_view.setLiveTimerRunning(true);
    // Back to the live window; pages back and the step forward stay as they are,
    // the step back is offered again.
    enablePageBack();
    v.windowLength = kLiveWindow;
    m_chart.readNewestId();
    v.windowEndId = v.newestId;
    m_chart.loadWindow();
    v.markEnd = v.curveEnd = kLiveWindow;
    redraw();
}

void Navigation::cursorMoved(int x)
{
    ViewState &v = m_chart.view();
    if (x == kSliderLeftEnd && !v.atOldest)
        pageBack();
    if (x == kSliderRightEnd && v.pagesBack > 0)
        pageForward();
    m_view.showCursorLine(QLineF(x, kCursorTop, x, kCursorBottom), kCursorPen);

    if (v.sampleStep == 0)
        return; // no zoom applied yet: no slot under the cursor
    const long long slot = (long long)(roundHalfEven(double(x) / double(v.sampleStep))) + v.firstSlot;
    if (slot < 0 || slot >= (long long)m_chart.buffer().size())
        return;
    // A slot without a sample shows nothing; one that is not live shows when it
    // was stored but not its stale values.
    const Slot &s = m_chart.buffer()[std::size_t(slot)];
    std::array<QString, 8> values;
    if (drawable(s))
        for (std::size_t j = 0; j < values.size(); ++j)
            values[j] = shortestFloatText(s.values[j]);
    if (!s.filled)
        m_view.showCursorSample(QString(), QString(), values);
    else
        m_view.showCursorSample(shortDateText(s.date), timeText(s.time), values);
}

void Navigation::changeYRange(const QString &maximumText, const QString &minimumText)
{
    applyYRange(maximumText, minimumText);
    // The pens take the new range at the next repaint; the scale beside them
    // must not wait for the live timer, which history and ruler views stop.
    m_view.refreshLeftScale();
}

bool Navigation::key(Key key)
{
    const ViewState &v = m_chart.view();
    switch (key) {
    case Key::F2:
        if (v.zoomLevel > kMinZoom)
            zoomIn();
        return true;
    case Key::F1:
        if (v.zoomLevel < kMaxZoom)
            zoomOut();
        return true;
    case Key::F6:
        if (v.pagesBack > 0)
            pageForward();
        return true;
    case Key::F7:
        if (!v.atOldest)
            pageBack();
        return true;
    case Key::F4:
        toggleRuler();
        return true;
    case Key::F3: // print: no action
    case Key::F5: // select: no action
        return true;
    }
    return false;
}

} // namespace station::chart
