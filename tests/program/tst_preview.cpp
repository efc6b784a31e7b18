// The program preview on the recording canvas: grid, time axis, segment
// markers and ramps at exact coordinates, the vertical range and its labels,
// a range of 0, and the start point.
#include "program/preview.h"

#include "chart/draw/canvas.h"

#include "tests/support/testenv.h"

#include <QtTest>

using namespace station;
using namespace station::program;
using Line = draw::RecordingCanvas::Line;
using draw::LineStyle;
using draw::Pen;

namespace {

const QColor kGreen{0, 255, 0};
const QColor kRed{255, 0, 0};
const QColor kDarkGreen{0, 128, 0};

draw::RecordingCanvas makeCanvas()
{
    return draw::RecordingCanvas(QSizeF(15008, 9008));
}

SegmentTables tablesWith(std::array<int, 8> sv1, std::array<int, 8> sv2, std::array<int, 8> time)
{
    SegmentTables t;
    for (int k = 1; k <= 8; ++k) {
        t.sv1[std::size_t(k)] = std::int16_t(sv1[std::size_t(k - 1)]);
        t.sv2[std::size_t(k)] = std::int16_t(sv2[std::size_t(k - 1)]);
        t.time[std::size_t(k)] = time[std::size_t(k - 1)];
    }
    return t;
}

const std::array<int, 8> kSv1Ramp{100, 200, 300, 400, 500, 600, 700, 800};
const std::array<int, 8> kAll50{50, 50, 50, 50, 50, 50, 50, 50};
const std::array<int, 8> kAll0{};
const std::array<int, 8> kAll300{300, 300, 300, 300, 300, 300, 300, 300};
const std::array<int, 8> kAll1{1, 1, 1, 1, 1, 1, 1, 1};

} // namespace

class TestPreview : public QObject {
    Q_OBJECT

private slots:
    void grid()
    {
        auto canvas = makeCanvas();
        drawGrid(canvas);
        const QList<Line> &lines = canvas.lines();
        QCOMPARE(lines.size(), 46 + 1 + 15);
        const Pen dotted{1, QColor(64, 64, 0), LineStyle::Dot};
        for (int i = 0; i <= 45; ++i)
            QCOMPARE(lines[i], (Line{0, 200.0 * i, 15008, 200.0 * i, dotted}));
        QCOMPARE(lines[45].y1, 9000.0);
        QCOMPARE(lines[46], (Line{2, 0, 2, 9008, dotted}));
        for (int k = 1; k <= 15; ++k)
            QCOMPARE(lines[46 + k], (Line{1000.0 * k, 0, 1000.0 * k, 9008, dotted}));
    }

    void timeAxis_data()
    {
        QTest::addColumn<QList<int>>("times");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("step");
        QTest::newRow("empty program: labels 0..15") << QList<int>{} << 0LL << 1LL;
        QTest::newRow("10, 20: step 3") << QList<int>{10, 20} << 30LL << 3LL;
        QTest::newRow("14") << QList<int>{14} << 14LL << 1LL;
        QTest::newRow("15") << QList<int>{15} << 15LL << 2LL;
        QTest::newRow("all eight count, not the segment count") << QList<int>{1, 1, 1, 1, 1, 1, 1, 1000} << 1007LL
                                                                 << 68LL;
        QTest::newRow("largest boxes") << QList<int>{9999, 9999, 9999, 9999, 9999, 9999, 9999, 9999} << 79992LL
                                       << 5333LL;
    }
    void timeAxis()
    {
        QFETCH(QList<int>, times);
        QFETCH(qint64, total);
        QFETCH(qint64, step);
        SegmentTables t;
        for (int k = 0; k < times.size(); ++k)
            t.time[std::size_t(k + 1)] = times[k];
        const TimeAxis axis = program::timeAxis(t);
        QCOMPARE(qint64(axis.total), total);
        QCOMPARE(qint64(axis.step), step);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(qint64(axis.labels[std::size_t(i)]), i * step);
    }

    void markersAndSpansOfTwoSegments()
    {
        auto canvas = makeCanvas();
        PreviewScale scale;
        const TimeAxis axis = drawPreview(canvas, tablesWith(kAll0, kAll0, {10, 20, 0, 0, 0, 0, 0, 0}), scale);
        QCOMPARE(canvas.clears(), 1);
        QCOMPARE(qint64(axis.step), 3LL);
        QCOMPARE(qint64(axis.labels[15]), 45LL);
        QCOMPARE(scale.timeScale, float(1000.0 / 3.0));

        const QList<Line> markers = canvas.linesWithColor(kGreen);
        QCOMPARE(markers.size(), 8);
        // 333.33334 (the time scale as a 32-bit float) times the running end time.
        const double ts = double(float(1000.0 / 3.0));
        QCOMPARE(markers[0], (Line{ts * 10, 0, ts * 10, 9000, Pen{1, kGreen, LineStyle::Dash}}));
        QVERIFY(qAbs(markers[0].x1 - 3333.3333) < 0.001);
        for (int k = 1; k < 8; ++k) {
            QCOMPARE(markers[k].x1, ts * 30);
            QVERIFY(qAbs(markers[k].x1 - 10000) < 0.001);
        }

        // Vertical scale 0 after load: both curves on the bottom edge.
        const QList<Line> sv1 = canvas.linesWithColor(kRed);
        QCOMPARE(sv1.size(), 8);
        const Pen red{2, kRed, LineStyle::Solid};
        QCOMPARE(sv1[0], (Line{0, 9008, 3333, 9008, red}));
        QCOMPARE(sv1[1], (Line{3333, 9008, 10000, 9008, red}));
        for (int k = 2; k < 8; ++k)
            QCOMPARE(sv1[k], (Line{10000, 9008, 10000, 9008, red}));
        const QList<Line> sv2 = canvas.linesWithColor(kDarkGreen);
        QCOMPARE(sv2.size(), 8);
        QCOMPARE(sv2[1], (Line{3333, 9008, 10000, 9008, Pen{2, kDarkGreen, LineStyle::Solid}}));

        // Drawing order per segment: marker, SV1, SV2, after the 62 grid lines.
        QCOMPARE(canvas.lines().size(), 62 + 24);
        QCOMPARE(canvas.lines()[62].pen.color, kGreen);
        QCOMPARE(canvas.lines()[63].pen.color, kRed);
        QCOMPARE(canvas.lines()[64].pen.color, kDarkGreen);
    }

    void verticalRangeAndLabels()
    {
        PreviewScale scale;
        const VerticalLabels labels = updateVerticalRange(tablesWith(kSv1Ramp, kAll50, kAll1), scale);
        QCOMPARE(int(scale.verticalMax), 800);
        QCOMPARE(int(scale.verticalMin), 100);
        QCOMPARE(int(scale.sv2Max), 50);
        QCOMPARE(int(scale.sv2Min), 50);
        QCOMPARE(int(scale.range), 700);
        QCOMPARE(scale.labelStep, float(700 * 1.2 / 9));
        QVERIFY(qAbs(scale.labelStep - 93.3333) < 0.001);
        QCOMPARE(labels.maximum, QStringLiteral("800"));
        QCOMPARE(labels.minimum, QStringLiteral("100"));
        QCOMPARE(labels.step, QStringLiteral("93.33334"));
        const std::array<QString, 10> expected{"00100", "00193", "00287", "00380", "00473",
                                               "00567", "00660", "00753", "00847", "00940"};
        QCOMPARE(labels.values, expected);
        // The vertical scale is only recomputed when the curves are drawn.
        QCOMPARE(scale.verticalScale, 0.0f);
    }

    void sv2HigherTakesItsRange()
    {
        PreviewScale scale;
        SegmentTables t = tablesWith({10, 20, 30, 40, 50, 60, 70, 80}, {0, 500, 100, 100, 100, 100, 100, 100}, kAll1);
        t.sv1[0] = 9999;  // start points take no part
        t.sv2[0] = -999;
        updateVerticalRange(t, scale);
        QCOMPARE(int(scale.verticalMax), 500);
        QCOMPARE(int(scale.verticalMin), 0);
        QCOMPARE(int(scale.range), 500);
    }

    void curvesWithScaleOfRange700()
    {
        PreviewScale scale;
        SegmentTables t = tablesWith(kSv1Ramp, kAll50, kAll1);
        updateVerticalRange(t, scale);
        scale.timeScale = 1000;
        auto canvas = makeCanvas();
        drawCurves(canvas, t, scale);
        QCOMPARE(scale.verticalScale, float(9000 / (700 * 1.2)));
        QCOMPARE(int(scale.verticalOffset), 1071);  // 100 * 10.714286

        const Pen red{2, kRed, LineStyle::Solid};
        const QList<Line> sv1 = canvas.linesWithColor(kRed);
        QCOMPARE(sv1.size(), 8);
        QCOMPARE(sv1[0], (Line{0, 10079, 1000, 9008, red}));     // from start point 0; the minimum on the edge
        QCOMPARE(sv1[1], (Line{1000, 9008, 2000, 7936, red}));   // 200 * 10.714286 = 2142.86
        QCOMPARE(sv1[7], (Line{7000, 2579, 8000, 1508, red}));   // the maximum 7500 above the edge
        const QList<Line> sv2 = canvas.linesWithColor(kDarkGreen);
        QCOMPARE(sv2[0], (Line{0, 10079, 1000, 9543, Pen{2, kDarkGreen, LineStyle::Solid}}));
        QCOMPARE(sv2[7].y2, 9543.0);
    }

    void rangeZeroKeepsVerticalScale()
    {
        PreviewScale scale;
        SegmentTables t = tablesWith(kSv1Ramp, kAll50, kAll1);
        updateVerticalRange(t, scale);
        scale.timeScale = 1000;
        auto canvas = makeCanvas();
        drawCurves(canvas, t, scale);
        const float before = scale.verticalScale;

        t = tablesWith(kAll0, kAll300, kAll1);
        const VerticalLabels labels = updateVerticalRange(t, scale);
        QCOMPARE(int(scale.verticalMax), 300);
        QCOMPARE(int(scale.verticalMin), 300);
        QCOMPARE(int(scale.range), 0);
        QCOMPARE(scale.labelStep, 0.0f);
        QCOMPARE(labels.step, QStringLiteral("0"));
        for (const QString &v : labels.values)
            QCOMPARE(v, QStringLiteral("00300"));

        canvas.clear();
        drawCurves(canvas, t, scale);
        QCOMPARE(scale.verticalScale, before);
        QCOMPARE(int(scale.verticalOffset), 3214);  // 300 * 10.714286
        const QList<Line> sv2 = canvas.linesWithColor(kDarkGreen);
        QCOMPARE(sv2.size(), 8);
        QCOMPARE(sv2[7].y2, 9008.0);
    }

    void rangeZeroAfterLoadLeavesCurvesOnBottomEdge()
    {
        PreviewScale scale;
        SegmentTables t = tablesWith({500, 500, 500, 500, 500, 500, 500, 500}, kAll0, kAll1);
        updateVerticalRange(t, scale);
        QCOMPARE(int(scale.range), 0);
        auto canvas = makeCanvas();
        drawPreview(canvas, t, scale);
        QCOMPARE(scale.verticalScale, 0.0f);
        for (const Line &l : canvas.linesWithColor(kRed)) {
            QCOMPARE(l.y1, 9008.0);
            QCOMPARE(l.y2, 9008.0);
        }
    }

    void startPoint_data()
    {
        QTest::addColumn<int>("startSetValue");
        QTest::addColumn<int>("sv1");
        QTest::addColumn<int>("sv2");
        QTest::newRow("0: measured values") << 0 << 22 << 40;   // 21.5, 40.5 halves to even
        QTest::newRow("1: set values") << 1 << 100 << -4;       // 100.5, -3.5
        QTest::newRow("any non-zero: set values") << 7 << 100 << -4;
    }
    void startPoint()
    {
        QFETCH(int, startSetValue);
        QFETCH(int, sv1);
        QFETCH(int, sv2);
        const std::array<float, 10> live{21.5f, 40.5f, 100.5f, -3.5f, 9, 9, 9, 9, 100, 0};
        SegmentTables t;
        takeStartPoint(t, startSetValue, live);
        QCOMPARE(int(t.sv1[0]), sv1);
        QCOMPARE(int(t.sv2[0]), sv2);
        QCOMPARE(int(t.sv1[1]), 0);
    }

    void startPointOutOfRangeKeepsSlot()
    {
        SegmentTables t;
        t.sv1[0] = 12;
        t.sv2[0] = 13;
        takeStartPoint(t, 1, {0, 0, 40000.0f, -32768.0f, 0, 0, 0, 0, 0, 0});
        QCOMPARE(int(t.sv1[0]), 12);
        QCOMPARE(int(t.sv2[0]), -32768);
    }

    void firstRampStartsAtStartPoint()
    {
        PreviewScale scale;
        SegmentTables t = tablesWith(kSv1Ramp, kAll50, kAll1);
        takeStartPoint(t, 1, {0, 0, 250, 60, 0, 0, 0, 0, 0, 0});
        updateVerticalRange(t, scale);
        scale.timeScale = 1000;
        auto canvas = makeCanvas();
        drawCurves(canvas, t, scale);
        QCOMPARE(canvas.linesWithColor(kRed)[0].y1, 7400.0);        // 10079 - round(2678.57)
        QCOMPARE(canvas.linesWithColor(kDarkGreen)[0].y1, 9436.0);  // 10079 - round(642.86)
    }

    void fiveDigits_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "00000";
        QTest::newRow("193.33") << 193.33 << "00193";
        QTest::newRow("286.67") << 286.67 << "00287";
        QTest::newRow("2.5 to even") << 2.5 << "00002";
        QTest::newRow("3.5 to even") << 3.5 << "00004";
        QTest::newRow("six digits") << 123456.0 << "123456";
        QTest::newRow("negative") << -5.0 << "-00005";
    }
    void fiveDigits()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(program::fiveDigits(value), text);
    }
};

STATION_TEST_MAIN_CORE(TestPreview)
#include "tst_preview.moc"
