// The TrendChart component: control names, geometry in twips, what the main
// window's calls show, and a screenshot of a live-looking chart for the README
// (written to STATION_CHART_SCREENSHOT, or below the build tree).
#include "chart/trendchart.h"
#include "chart/draw/picturebox.h"
#include "chart/render.h"
#include "link/registerimage.h"
#include "tests/chart/chartfixtures.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <cmath>

using namespace station;
using namespace station::chart;
using station::test::ManualClock;
using station::test::Record;
using station::test::recordAt;
using station::test::SampleFile;

namespace {

QDateTime afternoon()
{
    return QDateTime(QDate(2024, 3, 5), QTime(14, 0, 0));
}

// 241 records of a chamber warming towards its set point, with a six-minute
// pause in recording (a gap mark) and the two outputs switching.
QList<Record> chamberRecords(const QDateTime &end)
{
    QList<Record> out;
    for (int id = 1; id <= 241; ++id) {
        const int back = 241 - id + (id <= 120 ? 360 : 0);
        Record r = recordAt(id, end.addSecs(-back));
        const double t = id / 241.0;
        r.values[0] = float(std::round(22 + 18 * (1 - std::exp(-3 * t)) + 0.6 * std::sin(id / 5.0))); // PV1
        r.values[1] = float(std::round(38 + 9 * t + 1.5 * std::sin(id / 9.0)));                         // PV2
        r.values[2] = 40;                                                                                // SV1
        r.values[3] = 50;                                                                                // SV2
        r.values[8] = (id / 30) % 2 ? 100 : 0;
        r.values[9] = id > 150 ? 100 : 0;
        out.append(r);
    }
    return out;
}

QColor pixelAt(draw::PictureBox *box, double xTwips, double yTwips)
{
    box->flush();
    const QImage image = box->picture().toImage();
    return image.pixelColor(int(xTwips * box->width() / box->logicalSize().width()),
                            int(yTwips * box->height() / box->logicalSize().height()));
}

// Whether a pixel of the colour lies in column xTwips between the two heights.
bool colourInColumn(draw::PictureBox *box, double xTwips, double yFrom, double yTo, const QColor &color)
{
    box->flush();
    const QImage image = box->picture().toImage();
    const int x = int(xTwips * box->width() / box->logicalSize().width());
    for (int y = int(yFrom * box->height() / box->logicalSize().height());
         y <= int(yTo * box->height() / box->logicalSize().height()); ++y)
        if (image.pixelColor(x, y) == color)
            return true;
    return false;
}

QPoint centre(const QWidget *w)
{
    return w->geometry().center();
}

} // namespace

class TestTrendChart : public QObject {
    Q_OBJECT
private slots:
    void init();
    void controlsCarryTheirNames();
    void geometryInTwips();
    void windowLoadShowsTheNewestWindow();
    void liveAppendFollowsTheRecorderFlag();
    void screenshot();
};

void TestTrendChart::init()
{
    yRange() = YRange{};
    sampleFlags() = SampleFlags{};
    registerImage() = RegisterImage{};
}

void TestTrendChart::controlsCarryTheirNames()
{
    TrendChart chart;
    const auto named = [&chart](const QString &name) -> QWidget * {
        QWidget *w = chart.findChild<QWidget *>(name);
        return w && w->accessibleDescription() == name ? w : nullptr;
    };
    QCOMPARE(named(QStringLiteral("pt")), chart.plot());
    QCOMPARE(named(QStringLiteral("pt0")), chart.frame());
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(named(QStringLiteral("Label4_%1").arg(k)), chart.timeLabel(k));
        QCOMPARE(named(QStringLiteral("Label7_%1").arg(k)), chart.dateLabel(k));
    }
    const QStringList percent{"-10", "10", "30", "50", "70", "90", "110"};
    for (int i = 0; i < kScaleLabelCount; ++i) {
        QCOMPARE(named(QStringLiteral("Label5_%1").arg(i)), chart.leftScaleLabel(i));
        QCOMPARE(named(QStringLiteral("Label6_%1").arg(i)), chart.percentLabel(i));
        QCOMPARE(chart.percentLabel(i)->text(), percent[i]);
    }
    QCOMPARE(named(QStringLiteral("Label15")), chart.leftCaption());
    QCOMPARE(chart.leftCaption()->text(), QStringLiteral("量 程"));
    QCOMPARE(named(QStringLiteral("Label11")), chart.rightCaption());
    QCOMPARE(chart.rightCaption()->text(), QStringLiteral("量程"));
    QCOMPARE(chart.timeLabel(9), nullptr);
    QCOMPARE(chart.leftScaleLabel(-1), nullptr);
}

void TestTrendChart::geometryInTwips()
{
    TrendChart chart;
    QCOMPARE(chart.plot()->logicalSize(), QSizeF(12008, 7508));
    QCOMPARE(chart.frame()->logicalSize(), QSizeF(12010, 7510));
    QCOMPARE(chart.plot()->size(), QSize(801, 501)); // 12008 / 15 = 800.5, 7508 / 15 = 500.5
    QCOMPARE(chart.plot()->pos(), QPoint(60, 20));
    QVERIFY(chart.frame()->geometry().contains(chart.plot()->geometry()));
    QVERIFY(chart.frame()->isVisibleTo(&chart));
    // pt stands in front of pt0.
    QVERIFY(chart.children().indexOf(chart.plot()) > chart.children().indexOf(chart.frame()));
    // Time labels 1500 twips = 100 px apart, label k centred on X = 1500 k.
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(centre(chart.timeLabel(k)).x() - centre(chart.timeLabel(0)).x(), 100 * k);
        QCOMPARE(chart.dateLabel(k)->x(), chart.timeLabel(k)->x());
        QVERIFY(chart.timeLabel(k)->y() > chart.plot()->geometry().bottom());
        QVERIFY(chart.dateLabel(k)->y() >= chart.timeLabel(k)->geometry().bottom());
    }
    QVERIFY(std::abs(centre(chart.timeLabel(0)).x() - chart.plot()->x()) <= 1);
    // Both scales: 1250 twips (83.3 px) per step, 0 on the bottom edge, 6 at the top.
    for (int i = 0; i < kScaleLabelCount; ++i) {
        const double y = 20 + (7508 - 1250.0 * i) / 15;
        QVERIFY(std::abs(centre(chart.leftScaleLabel(i)).y() - y) <= 1);
        QVERIFY(std::abs(centre(chart.percentLabel(i)).y() - y) <= 1);
        QVERIFY(chart.leftScaleLabel(i)->geometry().right() < chart.plot()->x());
        QVERIFY(chart.percentLabel(i)->x() > chart.plot()->geometry().right());
    }
    QVERIFY(chart.rect().contains(chart.dateLabel(8)->geometry()));
    QVERIFY(chart.rect().contains(chart.percentLabel(6)->geometry()));
}

void TestTrendChart::windowLoadShowsTheNewestWindow()
{
    SampleFile file(QStringLiteral("widget"));
    QList<Record> rows;
    for (int id = 1; id <= 300; ++id) {
        Record r = recordAt(id, afternoon().addSecs(id - 300));
        r.values[0] = 30;
        rows.append(r);
    }
    QVERIFY(file.write(rows));
    QVERIFY(file.setPointer(300, 300));

    ManualClock clock(afternoon());
    TrendChart chart(clock);
    QSignalSpy corner(&chart, &TrendChart::windowDateTimeChanged);
    yRange().span = 10; // the load sets the start span again
    chart.loadAtWindowLoad(file.connectionName());

    QCOMPARE(chart.chart().view().windowEndId, 300);
    QCOMPARE(chart.sampleStep(), 150.0f);
    // The load announces slot first slot + 1 before the first zoom step: slot 1
    // = record 60 at 13:56:00.
    QCOMPARE(corner.size(), 1);
    QCOMPARE(corner[0][0].toString(), QStringLiteral("2024-03-05"));
    QCOMPARE(corner[0][1].toString(), QStringLiteral("13:56:00"));
    // Label k shows slot 181 + 10 k: record 240 + 10 k; 7 and 8 extrapolated.
    const QStringList times{"13:59:00", "13:59:10", "13:59:20", "13:59:30", "13:59:40",
                            "13:59:50", "14:00:00", "14:00:10", "14:00:20"};
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(chart.timeLabel(k)->text(), times[k]);
        QCOMPARE(chart.dateLabel(k)->text(), QStringLiteral("2024-03-05"));
    }
    QCOMPARE(chart.leftScaleLabel(6)->text(), QStringLiteral("60"));
    // The picture: background, and the red pen at 30 -> y = 3758 left of X = 9000.
    QCOMPARE(pixelAt(chart.plot(), 4000, 1000), kPlotBackground);
    QVERIFY(colourInColumn(chart.plot(), 4100, 3700, 3820, QColor(255, 0, 0)));
    QVERIFY(!colourInColumn(chart.plot(), 10000, 0, 7508, QColor(255, 0, 0)));
}

void TestTrendChart::liveAppendFollowsTheRecorderFlag()
{
    ManualClock clock(afternoon());
    TrendChart chart(clock);
    chart.loadAtWindowLoad(QStringLiteral("no such connection"));
    QVERIFY(!chart.liveAppend());
    QCOMPARE(chart.chart().view().curveEnd, std::int16_t(241));

    registerImage().liveSample[0] = 45;
    sampleFlags().newSample = true;
    QVERIFY(chart.liveAppend());
    QVERIFY(!sampleFlags().newSample);
    QCOMPARE(chart.chart().buffer()[242].values[0], 45.0f);
    QCOMPARE(chart.chart().buffer()[242].time, dayFraction(QTime(14, 0, 0)));
    QCOMPARE(chart.chart().view().curveEnd, std::int16_t(242));
}

void TestTrendChart::screenshot()
{
    SampleFile file(QStringLiteral("screenshot"));
    QVERIFY(file.write(chamberRecords(afternoon())));
    QVERIFY(file.setPointer(241, 241));

    ManualClock clock(afternoon());
    TrendChart chart(clock);
    chart.loadAtWindowLoad(file.connectionName());
    // The widest zoom level, then 24 seconds of live samples.
    chart.chart().view().zoomLevel = 4;
    chart.repaintChart();
    for (int n = 1; n <= 24; ++n) {
        clock.advance(1);
        RegisterImage &image = registerImage();
        image.liveSample = {40, float(47 + n % 2), 40, 50, 0, 0, 0, 0, 0, 100};
        sampleFlags().newSample = true;
        QVERIFY(chart.liveAppend());
    }
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    const QImage shot = chart.grab().toImage();
    QCOMPARE(shot.size(), chart.size());
    // The six-minute pause before record 121: a yellow mark at X = 121 x 37.5;
    // the red and blue pens run on past the live edge.
    QVERIFY(colourInColumn(chart.plot(), 4537.5, 0, 7508, kGapMarkColor));
    QVERIFY(!colourInColumn(chart.plot(), 4000, 0, 7508, kGapMarkColor));
    QVERIFY(colourInColumn(chart.plot(), 9400, 0, 7508, QColor(255, 0, 0)));
    QVERIFY(colourInColumn(chart.plot(), 9400, 0, 7508, QColor(0, 0, 192)));

    QString path = qEnvironmentVariable("STATION_CHART_SCREENSHOT");
    if (path.isEmpty())
        path = QStringLiteral(STATION_CHART_SCREENSHOT_DEFAULT);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QVERIFY2(shot.save(path), qPrintable(path));
    QVERIFY(QImage(path).size() == shot.size());
    qInfo("screenshot: %s", qPrintable(path));
}

STATION_TEST_MAIN(TestTrendChart)
#include "tst_trendchart.moc"
