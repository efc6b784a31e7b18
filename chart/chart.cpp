#include "chart/chart.h"

#include "chart/history.h"
#include "chart/render.h"
#include "chart/draw/canvas.h"
#include "common/datenum.h"
#include "link/registerimage.h"

#include <QSqlDatabase>
#include <limits>

namespace station::chart {

namespace {

// Mark end and curve end are 16-bit: an increment that would overflow fails and
// leaves the value.
void increment(std::int16_t &value)
{
    if (value < std::numeric_limits<std::int16_t>::max())
        ++value;
}

// Right edge of the live view: 20 x zoom samples after slot 241 reach X = 12000.
int rightEdgeEnd(const ViewState &view)
{
    return kLiveWindow + 20 * int(view.zoomLevel);
}

} // namespace

Chart::Chart(const Clock &clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
{
}

Chart::Chart()
    : Chart(systemClock())
{
}

void Chart::setConnectionName(const QString &name)
{
    m_database = [name] { return QSqlDatabase::database(name, false); };
}

QSqlDatabase Chart::database() const
{
    return m_database ? m_database() : QSqlDatabase();
}

void Chart::initView()
{
    yRange().span = kStartYSpan;
    m_view.pagesBack = 0;
    m_view.atOldest = false;
    for (int s = 1; s <= kHistoryWindow; ++s)
        m_buffer[s].gapMark = 0;
    m_view.zoomLevel = kMinZoom;
}

void Chart::startLiveWindow()
{
    readNewestId();
    m_view.windowEndId = m_view.newestId;
    m_view.windowLength = kLiveWindow;
    m_view.markEnd = kLiveWindow;
    m_view.curveEnd = kLiveWindow;
}

void Chart::loadAndRepaint()
{
    m_view.rulerMode = false;
    loadWindow();
    repaint();
}

void Chart::windowLoad()
{
    initView();
    startLiveWindow();
    loadAndRepaint();
}

bool Chart::readNewestId()
{
    const QSqlDatabase db = database();
    const ControlRow row = readControl(db);
    if (row.copy)
        m_view.controlCopy = *row.copy;
    if (!row.newestId)
        return false;
    m_view.newestId = *row.newestId;
    // Read at the same moment as the newest id, which paging measures from:
    // rows the recorder adds later must not make a young ring look full.
    if (const auto full = ringWrapped(db, m_view.newestId))
        m_view.ringFull = *full;
    return true;
}

int Chart::loadWindow()
{
    const int rows = chart::loadWindow(database(), m_buffer,
                                       m_view.windowEndId, m_view.windowLength);
    if (const auto texts = windowStartTexts(m_buffer, m_view))
        emit windowDateTimeChanged(texts->date, texts->time);
    return rows;
}

void Chart::repaint()
{
    clearAndDrawGrid();
    applyZoom();
    drawLabelsMarksPens();
}

void Chart::clearAndDrawGrid()
{
    if (!m_canvas)
        return;
    m_canvas->clear();
    drawGrid(*m_canvas);
}

void Chart::applyZoom()
{
    applyZoomTable(m_view);
}

void Chart::drawLabelsMarksPens()
{
    emit timeLabelsChanged(timeLabels(m_buffer, m_view));
    if (!m_canvas)
        return;
    drawGapMarks(*m_canvas, m_buffer, m_view);
    drawCurves(*m_canvas, m_buffer, m_view, yRange());
    emit repainted();
}

bool Chart::appendReloads() const
{
    return m_view.windowLength == kLiveWindow && int(m_view.markEnd) + 1 >= rightEdgeEnd(m_view);
}

bool Chart::liveAppend(const std::array<float, kRecordedColumns> &sample, SampleFlags &flags)
{
    if (!flags.newSample)
        return false;
    increment(m_view.markEnd);
    increment(m_view.curveEnd);
    // At or past the right edge: past it when the operator zoomed in after the
    // pens had grown beyond the new level's edge; waiting for equality there
    // would never reload and the live pens would run off the plot. Only the live
    // window reloads: a history window (321, mark end 321 and beyond) is never
    // replaced by the newest one while the live timer runs over it.
    if (m_view.windowLength == kLiveWindow && int(m_view.markEnd) >= rightEdgeEnd(m_view)) {
        readNewestId();
        m_view.windowEndId = m_view.newestId;
        m_view.windowLength = kLiveWindow;
        loadWindow();
        m_view.markEnd = kLiveWindow;
        m_view.curveEnd = kLiveWindow;
        repaint();
    }
    const int s = m_view.curveEnd;
    if (validSlot(s)) {
        const QDateTime now = m_clock.now();
        Slot &slot = m_buffer[s];
        for (int j = 0; j < kRecordedColumns; ++j)
            slot.values[j] = sample[j];
        slot.date = dayNumber(now.date());
        slot.time = dayFraction(now.time());
        slot.filled = true;
        slot.live = m_liveness ? m_liveness() : Liveness::Unknown;
        markGap(m_buffer, s);
    }
    flags.newSample = false;
    repaint();
    return true;
}

std::array<QString, kScaleLabelCount> Chart::leftScale() const
{
    return leftScaleTexts(yRange());
}

} // namespace station::chart
