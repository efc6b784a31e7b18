// Live append: each new record grows the pens by one segment; at the right edge
// the newest window is reloaded. Also end to end with the recorder writing the
// same file, one record per clock second.
#include "chart/chart.h"
#include "chart/render.h"
#include "chart/draw/canvas.h"
#include "common/datadir.h"
#include "link/registerimage.h"
#include "record/recorder.h"
#include "record/sampledb.h"
#include "tests/chart/chartfixtures.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

using namespace station;
using namespace station::chart;
using station::test::ManualClock;
using station::test::Record;
using station::test::recordAt;
using station::test::SampleFile;

namespace {

const QColor kRed(255, 0, 0);

QDateTime morning()
{
    return QDateTime(QDate(2024, 3, 5), QTime(8, 0, 0));
}

// Records first..last one second apart, value column 0 = id mod 50.
QList<Record> records(std::int32_t first, std::int32_t last, const QDateTime &start)
{
    QList<Record> out;
    for (std::int32_t id = first; id <= last; ++id) {
        Record r = recordAt(id, start.addSecs(id - first));
        r.values[0] = float(id % 50);
        out.append(r);
    }
    return out;
}

std::array<float, kRecordedColumns> sample(float pv1)
{
    std::array<float, kRecordedColumns> s{};
    s[0] = pv1;
    s[1] = 45;
    s[8] = 100;
    return s;
}

struct LiveChart {
    explicit LiveChart(const QString &connection, const QDateTime &now = morning())
        : clock(now)
        , chart(clock)
        , canvas(QSizeF(12008, 7508))
    {
        chart.setCanvas(&canvas);
        chart.setConnectionName(connection);
    }
    int redSegments() const { return int(canvas.linesWithColor(kRed).size()); }

    ManualClock clock;
    Chart chart;
    draw::RecordingCanvas canvas;
};

} // namespace

class TestChartLive : public QObject {
    Q_OBJECT
private slots:
    void init();
    void nothingWhileTheFlagIsDown();
    void appendStoresTheSampleInSlotCurveEnd();
    void pensGrowOneSegmentPerAppend();
    void reloadAtTheRightEdge_data();
    void reloadAtTheRightEdge();
    void endsBeyondTheRightEdgeReload();
    void samplesAppendedWhileTheLineIsSilentDrawNoPen();
    void endToEndWithTheRecorder();
};

void TestChartLive::init()
{
    yRange() = YRange{};
    sampleFlags() = SampleFlags{};
    registerImage() = RegisterImage{};
}

void TestChartLive::nothingWhileTheFlagIsDown()
{
    LiveChart live(QStringLiteral("none"));
    SampleFlags flags;
    const int clears = live.canvas.clears();
    QVERIFY(!live.chart.liveAppend(sample(20), flags));
    QCOMPARE(live.chart.view().markEnd, std::int16_t(241));
    QCOMPARE(live.chart.view().curveEnd, std::int16_t(241));
    QCOMPARE(live.canvas.clears(), clears);
    QCOMPARE(live.chart.buffer()[242].values[0], 0.0f);
}

void TestChartLive::appendStoresTheSampleInSlotCurveEnd()
{
    SampleFile file(QStringLiteral("append"));
    QVERIFY(file.write(records(1, 300, morning())));
    QVERIFY(file.setPointer(300, 300));
    LiveChart live(file.connectionName(), QDateTime(QDate(2024, 3, 5), QTime(8, 5, 0)));
    live.chart.windowLoad();
    QCOMPARE(live.chart.buffer()[241].values[0], float(300 % 50));

    SampleFlags flags;
    flags.newSample = true;
    const int clears = live.canvas.clears();
    QVERIFY(live.chart.liveAppend(sample(21.5f), flags));
    QVERIFY(!flags.newSample);
    QCOMPARE(live.chart.view().markEnd, std::int16_t(242));
    QCOMPARE(live.chart.view().curveEnd, std::int16_t(242));
    const Slot &slot = live.chart.buffer()[242];
    QCOMPARE(slot.values[0], 21.5f);
    QCOMPARE(slot.values[1], 45.0f);
    QCOMPARE(slot.values[8], 100.0f);
    QCOMPARE(slot.date, dayNumber(QDate(2024, 3, 5)));
    QCOMPARE(slot.time, dayFraction(QTime(8, 5, 0)));
    QCOMPARE(live.canvas.clears(), clears + 2); // one repaint
    // The pens now reach slot 241, one segment more than after the load.
    const auto red = live.canvas.linesWithColor(kRed);
    QCOMPARE(red.size(), 61);
    QCOMPARE(red.last().x2, 9150.0);
    QCOMPARE(red.last().y2, 7508.0 - 125 * 0); // record 300: value 300 mod 50 = 0
}

void TestChartLive::pensGrowOneSegmentPerAppend()
{
    SampleFile file(QStringLiteral("grow"));
    QVERIFY(file.write(records(1, 300, morning())));
    QVERIFY(file.setPointer(300, 300));
    LiveChart live(file.connectionName(), morning().addSecs(300));
    live.chart.windowLoad();
    live.chart.view().zoomLevel = 2;
    live.chart.repaint();
    QCOMPARE(live.redSegments(), 120);
    SampleFlags flags;
    for (int n = 1; n < 40; ++n) {
        flags.newSample = true;
        QVERIFY(!live.chart.appendReloads());
        QVERIFY(live.chart.liveAppend(sample(float(n)), flags));
        QCOMPARE(live.redSegments(), 120 + n);
        // The segment drawn last ends at the sample appended before this one.
        QCOMPARE(live.canvas.linesWithColor(kRed).last().y2, 7508.0 - 125 * (n - 1));
    }
    QVERIFY(live.chart.appendReloads());
}

void TestChartLive::reloadAtTheRightEdge_data()
{
    QTest::addColumn<int>("zoom");
    QTest::newRow("zoom 1: 20 appends") << 1;
    QTest::newRow("zoom 4: 80 appends") << 4;
}

void TestChartLive::reloadAtTheRightEdge()
{
    QFETCH(int, zoom);
    SampleFile file(QStringLiteral("edge"));
    QVERIFY(file.write(records(1, 300, morning())));
    QVERIFY(file.setPointer(300, 300));
    LiveChart live(file.connectionName(), morning().addSecs(300));
    live.chart.windowLoad();
    live.chart.view().zoomLevel = std::int16_t(zoom);
    QSignalSpy loads(&live.chart, &Chart::windowDateTimeChanged);

    SampleFlags flags;
    const int appends = 20 * zoom;
    for (int n = 1; n <= appends; ++n) {
        // The recorder stores record 300 + n, then raises the flag.
        QVERIFY(file.write(records(300 + n, 300 + n, morning().addSecs(299 + n))));
        QVERIFY(file.setPointer(300 + n, 300 + n));
        live.clock.advance(1);
        flags.newSample = true;
        QVERIFY(live.chart.liveAppend(sample(float(n % 60)), flags));
        if (n < appends) {
            QCOMPARE(loads.size(), 0);
            QCOMPARE(live.chart.view().markEnd, std::int16_t(241 + n));
        }
    }
    QCOMPARE(loads.size(), 1);
    const ViewState &v = live.chart.view();
    QCOMPARE(v.newestId, 300 + appends);
    QCOMPARE(v.windowEndId, 300 + appends);
    QCOMPARE(v.windowLength, 241);
    QCOMPARE(v.markEnd, std::int16_t(241));
    QCOMPARE(v.curveEnd, std::int16_t(241));
    const Buffer &b = live.chart.buffer();
    // Slots 1..240 hold the records before the newest; slot 241 the live sample.
    QCOMPARE(b[1].values[0], float((60 + appends) % 50));
    QCOMPARE(b[240].values[0], float((299 + appends) % 50));
    QCOMPARE(b[241].values[0], float(appends % 60));
    QCOMPARE(b[241].time, dayFraction(morning().addSecs(300 + appends).time()));
    QCOMPARE(b[242].values[0], 0.0f);
    // Back at the live edge: 60 x zoom segments ending at X = 9000 (at zoom 4
    // the first would start at slot 0, which holds no sample).
    QCOMPARE(live.redSegments(), 60 * zoom - (zoom == 4 ? 1 : 0));
    QCOMPARE(live.canvas.linesWithColor(kRed).last().x2, 9000.0);
}

void TestChartLive::endsBeyondTheRightEdgeReload()
{
    // Mark end can outgrow the right edge when the zoom level falls in live
    // view; the next append reloads the live window instead of letting the
    // ends run on to the 16-bit limit with the pens off the plot.
    LiveChart live(QStringLiteral("none"));
    live.chart.view().markEnd = live.chart.view().curveEnd = 32767;
    SampleFlags flags;
    flags.newSample = true;
    QVERIFY(live.chart.liveAppend(sample(30), flags));
    QVERIFY(!flags.newSample);
    QCOMPARE(live.chart.view().markEnd, std::int16_t(241));
    QCOMPARE(live.chart.view().curveEnd, std::int16_t(241));
    QCOMPARE(live.chart.buffer()[241].values[0], 30.0f);
}

void TestChartLive::samplesAppendedWhileTheLineIsSilentDrawNoPen()
{
    SampleFile file(QStringLiteral("silent"));
    QVERIFY(file.write(records(1, 300, morning())));
    QVERIFY(file.setPointer(300, 300));
    LiveChart live(file.connectionName(), morning().addSecs(300));
    live.chart.windowLoad();
    // Appends 2..4 come while the controller is silent.
    int append = 0;
    live.chart.setLiveness([&append] { return append >= 2 && append <= 4 ? Liveness::NotLive : Liveness::Live; });
    SampleFlags flags;
    for (append = 1; append <= 6; ++append) {
        live.clock.advance(1);
        flags.newSample = true;
        QVERIFY(live.chart.liveAppend(sample(20), flags));
    }
    const Buffer &b = live.chart.buffer();
    QCOMPARE(b[243].live, Liveness::NotLive);
    QCOMPARE(b[246].live, Liveness::Live);
    // The pens reach slot 246: the loaded window's 60 segments, then those to
    // slots 241 and 242 (X = 9300), none through the stale slots 243..245;
    // slot 246 follows them and is marked.
    QCOMPARE(live.redSegments(), 62);
    QCOMPARE(live.canvas.linesWithColor(kRed).last().x2, 9300.0);
    QCOMPARE(b[246].gapMark, std::int16_t(246));
    QCOMPARE(b[242].gapMark, std::int16_t(0));
}

void TestChartLive::endToEndWithTheRecorder()
{
    const QString path = QDir(dataDir()).filePath(QStringLiteral("endtoend.db"));
    ManualClock clock(morning());
    Recorder recorder(clock, path);
    recorder.stop(); // the test ticks it
    QVERIFY(recorder.settle());
    sampledb::Connection mainWindow(QStringLiteral("endtoend-ssqx"), path);
    QVERIFY(mainWindow.open());

    Chart chart(clock);
    draw::RecordingCanvas canvas(QSizeF(12008, 7508));
    chart.setCanvas(&canvas);
    chart.setDatabase([&mainWindow] { return mainWindow.database(); });
    sampleFlags().notifyEnabled = true;
    chart.windowLoad();
    QCOMPARE(canvas.linesWithColor(kRed).size(), 0); // nothing recorded yet: no pen

    for (int second = 1; second <= 25; ++second) {
        clock.advance(1);
        registerImage().liveSample[0] = float(second);
        ++cycleStamp().answered; // the controller answered this second: the row is live
        recorder.tick();
        recorder.tick(); // a second tick in the same clock second stores nothing
        QVERIFY(recorder.settle()); // the commit comes back from the recorder thread
        QVERIFY(sampleFlags().newSample);
        QVERIFY(chart.liveAppend(registerImage().liveSample, sampleFlags()));
        QVERIFY(!sampleFlags().newSample);
        const int segments = int(canvas.linesWithColor(kRed).size());
        // The pens reach slot curve end - 1 and join only samples: the first
        // segment joins the first two appended ones. The 20th record reloads
        // the window, whose records 1..20 stand in slots 222..241.
        QCOMPARE(segments, second < 20 ? std::max(0, second - 2) : 18 + second - 20);
    }
    QCOMPARE(recorder.pointer(), 25);
    QCOMPARE(chart.view().newestId, 20);
    // The reload read records 1..20 (young ring: they end at slot 241).
    for (int s = 1; s <= 221; ++s)
        QVERIFY(!chart.buffer()[s].filled);
    for (int s = 222; s <= 241; ++s)
        QCOMPARE(chart.buffer()[s].values[0], float(s - 221));
    // After the reload, records 21..25 went live into slots 242..246, and slot
    // 241 holds the live copy of record 20.
    QCOMPARE(chart.buffer()[241].values[0], 20.0f);
    for (int s = 242; s <= 246; ++s)
        QCOMPARE(chart.buffer()[s].values[0], float(s - 221));
}

STATION_TEST_MAIN(TestChartLive)
#include "tst_chartlive.moc"
