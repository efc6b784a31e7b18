// Drawing of the trend chart on a recording canvas: grid, pens and gap marks at
// exact logical coordinates.
#include "chart/chart.h"
#include "chart/render.h"
#include "chart/draw/canvas.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QTest>

using namespace station;
using namespace station::chart;
using draw::LineStyle;
using draw::RecordingCanvas;
using Line = RecordingCanvas::Line;

namespace {

const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 192);
const QColor kColumn8(128, 0, 0);
const QColor kColumn9(0, 0, 128);

RecordingCanvas plotCanvas()
{
    return RecordingCanvas(QSizeF(12008, 7508));
}

ViewState liveView(std::int16_t zoom)
{
    ViewState v;
    v.zoomLevel = zoom;
    applyZoomTable(v);
    v.windowLength = kLiveWindow;
    v.markEnd = v.curveEnd = kLiveWindow;
    return v;
}

ViewState historyView(std::int16_t zoom)
{
    ViewState v = liveView(zoom);
    v.windowLength = v.markEnd = v.curveEnd = kHistoryWindow;
    return v;
}

// Slots 1..322 hold samples, as after a load and appends.
void fillSlots(Buffer &b)
{
    for (int s = 1; s < kSlotCount; ++s)
        b[s].filled = true;
}

void fillColumn(Buffer &b, int column, float value)
{
    fillSlots(b);
    for (int s = 1; s < kSlotCount; ++s)
        b[s].values[column] = value;
}

QList<double> xsOf(const QList<Line> &lines)
{
    QList<double> xs;
    for (const Line &l : lines)
        xs << l.x1 << l.x2;
    return xs;
}

} // namespace

class TestChartRender : public QObject {
    Q_OBJECT
private slots:
    void gridLinesInOrder();
    void gridRowsRoundHalfToEven_data();
    void gridRowsRoundHalfToEven();

    void startRangeDrawsThirtyAt3758();
    void negativeMinimumShiftsTheScale();
    void percentScaleOfColumnsEightAndNine_data();
    void percentScaleOfColumnsEightAndNine();
    void zoomFourStartsAtSlotOne();
    void noPenToAMissingOrNotLiveSample_data();
    void noPenToAMissingOrNotLiveSample();
    void zeroSpanPutsProcessPensOnTheBottomEdge();
    void offsetOverflowKeepsThePreviousOffset();
    void penOrderWidthsAndStyle();
    void segmentCountsPerView_data();
    void segmentCountsPerView();
    void slotsBeyondTheBufferAreSkipped();

    void gapMarksAtUnroundedX();
    void gapMarksFollowMarkEnd();

    void repaintSequence();
    void outOfRangeZoomKeepsStepAndFirstSlot();
};

void TestChartRender::gridLinesInOrder()
{
    RecordingCanvas c = plotCanvas();
    drawGrid(c);
    QCOMPARE(c.backColor(), QColor(192, 255, 255));
    const QList<Line> &lines = c.lines();
    QCOMPARE(lines.size(), 62);
    const draw::Pen dotted{1, QColor(255, 128, 255), LineStyle::Dot};
    for (const Line &l : lines)
        QCOMPARE(l.pen, dotted);
    QCOMPARE(lines[0], (Line{0, 0, 12008, 0, dotted}));
    QCOMPARE(lines[1], (Line{0, 7500, 12008, 7500, dotted}));
    QCOMPARE(lines[2], (Line{0, 0, 12008, 0, dotted}));       // row 0
    QCOMPARE(lines[26], (Line{0, 7500, 12008, 7500, dotted})); // row 24
    QCOMPARE(lines[27], (Line{8, 0, 8, 7508, dotted}));
    QCOMPARE(lines[28], (Line{9000, 0, 9000, 7508, dotted}));
    QCOMPARE(lines[29], (Line{0, 0, 0, 7508, dotted}));        // column 0
    QCOMPARE(lines[30], (Line{375, 0, 375, 7508, dotted}));
    QCOMPARE(lines[61], (Line{12000, 0, 12000, 7508, dotted})); // column 32
}

void TestChartRender::gridRowsRoundHalfToEven_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<double>("y");
    const double expected[25] = {0,    312,  625,  938,  1250, 1562, 1875, 2188, 2500, 2812, 3125, 3438, 3750,
                                 4062, 4375, 4688, 5000, 5312, 5625, 5938, 6250, 6562, 6875, 7188, 7500};
    for (int i = 0; i < 25; ++i)
        QTest::addRow("row %d", i) << i << expected[i];
}

void TestChartRender::gridRowsRoundHalfToEven()
{
    QFETCH(int, row);
    QFETCH(double, y);
    RecordingCanvas c = plotCanvas();
    drawGrid(c);
    const Line &l = c.lines()[2 + row];
    QCOMPARE(l.y1, y);
    QCOMPARE(l.y2, y);
    QCOMPARE(l.x1, 0.0);
    QCOMPARE(l.x2, 12008.0);
}

void TestChartRender::startRangeDrawsThirtyAt3758()
{
    Buffer b{};
    fillColumn(b, 0, 30);
    YRange range; // span 60, minimum 0
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, liveView(1), range);
    const QList<Line> red = c.linesWithColor(kRed);
    QCOMPARE(red.size(), 60);
    QCOMPARE(red[0], (Line{0, 3758, 150, 3758, {2, kRed, LineStyle::Solid}}));
    QCOMPARE(red[59], (Line{8850, 3758, 9000, 3758, {2, kRed, LineStyle::Solid}}));
    QCOMPARE(range.offset, std::int16_t(0));
}

void TestChartRender::negativeMinimumShiftsTheScale()
{
    Buffer b{};
    fillColumn(b, 0, -20);
    fillColumn(b, 1, 100);
    YRange range;
    range.minimum = -20;
    range.span = 120;
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, liveView(1), range);
    QCOMPARE(range.offset, std::int16_t(-1250));
    // 7508 - 1250 - [62.5 x -20] = 7508
    QCOMPARE(c.linesWithColor(kRed)[5].y1, 7508.0);
    QCOMPARE(c.linesWithColor(kRed)[5].y2, 7508.0);
    // the top of the range: 7508 - 1250 - 6250 = 8
    QCOMPARE(c.linesWithColor(kBlue)[5].y2, 8.0);
}

void TestChartRender::percentScaleOfColumnsEightAndNine_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<double>("y");
    QTest::newRow("100") << 100.0f << 633.0;
    QTest::newRow("0") << 0.0f << 6883.0;
    QTest::newRow("-10 on the bottom edge") << -10.0f << 7508.0;
    QTest::newRow("110 at the top") << 110.0f << 8.0;
    QTest::newRow("just above a half") << 0.2f << 6870.0; // 62.5 x 0.2f = 12.5000002 -> 13
    QTest::newRow("exact half") << 1.0f << 6821.0;          // 62.5 -> 62
    QTest::newRow("exact half up") << 3.0f << 6695.0;       // 187.5 -> 188
}

void TestChartRender::percentScaleOfColumnsEightAndNine()
{
    QFETCH(float, value);
    QFETCH(double, y);
    Buffer b{};
    fillColumn(b, 8, value);
    fillColumn(b, 9, value);
    YRange range;
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, historyView(4), range);
    // Segment 1 would start at slot 0, which holds no sample: the first line
    // drawn joins slots 1 and 2.
    for (const QColor &color : {kColumn8, kColumn9}) {
        const Line l = c.linesWithColor(color)[0];
        QCOMPARE(l.x1, 38.0);
        QCOMPARE(l.y1, y);
        QCOMPARE(l.y2, y);
        QCOMPARE(l.pen.width, 1);
    }
}

void TestChartRender::zoomFourStartsAtSlotOne()
{
    // Zoom 4 begins its first segment at slot 0, which is never loaded: no
    // line rises from an invented 0 there.
    Buffer b{};
    fillColumn(b, 0, 50);
    YRange range;
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, liveView(4), range);
    const QList<Line> red = c.linesWithColor(kRed);
    QCOMPARE(red.size(), 239);
    const draw::Pen pen{2, kRed, LineStyle::Solid};
    QCOMPARE(red[0], (Line{38, 1258, 75, 1258, pen}));  // slot 1 at [37.5] = 38 to slot 2
    QCOMPARE(red[1], (Line{75, 1258, 112, 1258, pen})); // [112.5] = 112
    QCOMPARE(red[238].x2, 9000.0);
}

// A slot that holds no sample, or a sample that is not live, breaks every pen
// on both sides of it; a sample of unknown state (an older file) draws.
void TestChartRender::noPenToAMissingOrNotLiveSample_data()
{
    QTest::addColumn<bool>("filled");
    QTest::addColumn<int>("live");
    QTest::addColumn<int>("segments");
    QTest::newRow("missing") << false << int(Liveness::Unknown) << 58;
    QTest::newRow("not live") << true << int(Liveness::NotLive) << 58;
    QTest::newRow("live") << true << int(Liveness::Live) << 60;
    QTest::newRow("unknown") << true << int(Liveness::Unknown) << 60;
}

void TestChartRender::noPenToAMissingOrNotLiveSample()
{
    QFETCH(bool, filled);
    QFETCH(int, live);
    QFETCH(int, segments);
    Buffer b{};
    fillColumn(b, 0, 30);
    b[200].filled = filled; // zoom 1: slot 200 is drawn at x = 20 x 150 = 3000
    b[200].live = Liveness(live);
    YRange range;
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, liveView(1), range);
    for (const QColor &color : {kRed, kBlue, kColumn8, kColumn9}) {
        const QList<Line> lines = c.linesWithColor(color);
        QCOMPARE(lines.size(), segments);
        QCOMPARE(xsOf(lines).contains(3000.0), segments == 60);
        QCOMPARE(lines.last().x2, 9000.0);
    }
}

void TestChartRender::zeroSpanPutsProcessPensOnTheBottomEdge()
{
    Buffer b{};
    fillColumn(b, 0, 100);
    fillColumn(b, 1, -5000);
    fillColumn(b, 3, 32000);
    fillColumn(b, 8, 100);
    YRange range;
    range.minimum = 100;
    range.maximum = 100;
    range.span = 0;
    range.offset = 777; // whatever a previous drawing left
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, liveView(2), range);
    QCOMPARE(range.offset, std::int16_t(0));
    QCOMPARE(c.lines().size(), 120 * 6);
    for (const Line &l : c.lines()) {
        if (l.pen.color == kColumn8 || l.pen.color == kColumn9)
            continue;
        QCOMPARE(l.y1, 7508.0);
        QCOMPARE(l.y2, 7508.0);
    }
    QCOMPARE(c.linesWithColor(kColumn8)[10].y1, 633.0);
}

void TestChartRender::offsetOverflowKeepsThePreviousOffset()
{
    // Y minimum 35000 does not fit; 30000 with span 1000: 7.5 x 30000 = 225000.
    YRange range;
    range.minimum = 30000;
    range.span = 1000;
    range.offset = -1250;
    const float scale = processScale(range);
    QCOMPARE(scale, 7.5f);
    QCOMPARE(range.offset, std::int16_t(-1250));
    range.minimum = 4000; // 7.5 x 4000 = 30000 fits
    processScale(range);
    QCOMPARE(range.offset, std::int16_t(30000));
}

void TestChartRender::penOrderWidthsAndStyle()
{
    Buffer b{};
    fillSlots(b);
    RecordingCanvas c = plotCanvas();
    c.setLineStyle(LineStyle::Dash); // what the gap marks leave behind
    YRange range;
    drawCurves(c, b, historyView(3), range);
    const QList<Line> &lines = c.lines();
    QCOMPARE(lines.size(), (60 * 3 + 80) * 6);
    const QList<draw::Pen> expected{
        {2, QColor(255, 0, 0), LineStyle::Solid},     {2, QColor(0, 0, 192), LineStyle::Solid},
        {1, QColor(255, 128, 128), LineStyle::Solid}, {1, QColor(128, 128, 255), LineStyle::Solid},
        {1, QColor(128, 0, 0), LineStyle::Solid},     {1, QColor(0, 0, 128), LineStyle::Solid},
    };
    for (int k = 0; k < 3; ++k)
        for (int p = 0; p < 6; ++p)
            QCOMPARE(lines[k * 6 + p].pen, expected[p]);
    // Zoom 3: x = [k x 50]; segment 260 ends at 13000, past the plot (clipped).
    QCOMPARE(lines[6].x1, 50.0);
    QCOMPARE(lines.last().x2, 13000.0);
}

void TestChartRender::segmentCountsPerView_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("curveEnd");
    QTest::addColumn<int>("segments");
    QTest::addColumn<double>("lastX");
    QTest::newRow("live zoom 1") << 1 << 241 << 60 << 9000.0;
    QTest::newRow("live zoom 1, 19 appended") << 1 << 260 << 79 << 11850.0;
    QTest::newRow("live zoom 2, 4 appended") << 2 << 245 << 124 << 9300.0;
    QTest::newRow("history zoom 1") << 1 << 321 << 140 << 21000.0;
    // Zoom 4 starts at slot 0, which holds no sample: one segment fewer.
    QTest::newRow("history zoom 4") << 4 << 321 << 319 << 12000.0;
}

void TestChartRender::segmentCountsPerView()
{
    QFETCH(int, zoom);
    QFETCH(int, curveEnd);
    QFETCH(int, segments);
    QFETCH(double, lastX);
    Buffer b{};
    fillSlots(b);
    ViewState v = liveView(std::int16_t(zoom));
    v.curveEnd = std::int16_t(curveEnd);
    YRange range;
    RecordingCanvas c = plotCanvas();
    drawCurves(c, b, v, range);
    const QList<Line> red = c.linesWithColor(kRed);
    QCOMPARE(red.size(), segments);
    QCOMPARE(red.last().x2, lastX);
}

void TestChartRender::slotsBeyondTheBufferAreSkipped()
{
    // Mark end and curve end may pass the buffer when the zoom changes in live
    // view; segments whose slots do not exist are skipped.
    Buffer b{};
    fillSlots(b);
    b[322].values[0] = 60;
    b[322].gapMark = 322;
    ViewState v = liveView(1);
    v.curveEnd = v.markEnd = 400;
    YRange range;
    RecordingCanvas c = plotCanvas();
    drawGapMarks(c, b, v);
    QCOMPARE(c.lines().size(), 1); // slot 322 at k = 142
    QCOMPARE(c.lines()[0].x1, 142 * 150.0);
    drawCurves(c, b, v, range);
    const QList<Line> red = c.linesWithColor(kRed);
    QCOMPARE(red.size(), 142); // slots 180..322
    QCOMPARE(red.last().y2, 8.0);
}

void TestChartRender::gapMarksAtUnroundedX()
{
    Buffer b{};
    b[3].gapMark = 3;
    b[240].gapMark = 240;
    b[100].gapMark = 0;
    RecordingCanvas c = plotCanvas();
    drawGapMarks(c, b, liveView(4));
    const draw::Pen dashed{1, QColor(255, 255, 0), LineStyle::Dash};
    QCOMPARE(c.lines().size(), 2);
    QCOMPARE(c.lines()[0], (Line{112.5, 0, 112.5, 9000, dashed}));
    QCOMPARE(c.lines()[1], (Line{9000, 0, 9000, 9000, dashed}));
}

void TestChartRender::gapMarksFollowMarkEnd()
{
    Buffer b{};
    b[181].gapMark = 181; // k = 1 at zoom 1
    b[180].gapMark = 180; // first slot itself: never drawn
    b[250].gapMark = 250;
    ViewState v = liveView(1);
    RecordingCanvas c = plotCanvas();
    drawGapMarks(c, b, v);
    QCOMPARE(c.lines().size(), 1);
    QCOMPARE(c.lines()[0].x1, 150.0);
    // Marks reach slot mark end - 1 (first slot + 60 x zoom = 240).
    v.markEnd = 250;
    drawGapMarks(c, b, v);
    QCOMPARE(c.lines().size(), 2);
    v.markEnd = 251;
    drawGapMarks(c, b, v);
    QCOMPARE(c.lines().size(), 4);
    QCOMPARE(c.lines()[3].x1, 10500.0);
}

void TestChartRender::repaintSequence()
{
    yRange() = YRange{};
    Chart chart;
    RecordingCanvas c = plotCanvas();
    chart.setCanvas(&c);
    chart.view().zoomLevel = 3;
    chart.view().markEnd = chart.view().curveEnd = kLiveWindow;
    fillSlots(chart.buffer());
    chart.buffer()[61 + 10].gapMark = 71;
    int labelSteps = 0;
    connect(&chart, &Chart::timeLabelsChanged, this, [&] {
        ++labelSteps;
        QCOMPARE(c.lines().size(), 62); // labels come after the grid, before marks and pens
    });
    chart.repaint();
    QCOMPARE(c.clears(), 2); // clear, then the grid's background
    QCOMPARE(labelSteps, 1);
    QCOMPARE(chart.view().sampleStep, 50.0f);
    QCOMPARE(chart.view().firstSlot, std::int16_t(60));
    const QList<Line> &lines = c.lines();
    QCOMPARE(lines.size(), 62 + 1 + 180 * 6);
    QCOMPARE(lines[61].pen.style, LineStyle::Dot);
    QCOMPARE(lines[62], (Line{550, 0, 550, 9000, {1, QColor(255, 255, 0), LineStyle::Dash}}));
    QCOMPARE(lines[63].pen.color, kRed);
    QCOMPARE(lines[63].x2, 50.0);

    // A repaint draws the same picture again.
    const QList<Line> first = lines;
    chart.repaint();
    QCOMPARE(c.lines(), first);
}

void TestChartRender::outOfRangeZoomKeepsStepAndFirstSlot()
{
    ViewState v = liveView(2);
    v.zoomLevel = 5;
    QVERIFY(!applyZoomTable(v));
    QCOMPARE(v.sampleStep, 75.0f);
    QCOMPARE(v.firstSlot, std::int16_t(120));
    v.zoomLevel = 0;
    QVERIFY(!applyZoomTable(v));
    QCOMPARE(v.sampleStep, 75.0f);
}

STATION_TEST_MAIN(TestChartRender)
#include "tst_chartrender.moc"
