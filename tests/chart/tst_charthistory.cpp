// Loading the chart buffer from real SQLite sample files: the two query forms,
// the ring wrap, ring order, gap marks, live and not-live rows, short and
// broken databases.
#include "chart/chart.h"
#include "chart/history.h"
#include "chart/render.h"
#include "chart/draw/canvas.h"
#include "common/datadir.h"
#include "record/sampledb.h"
#include "tests/chart/chartfixtures.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

using namespace station;
using namespace station::chart;
using station::test::recordAt;
using station::test::Record;
using station::test::SampleFile;

namespace {

const QDateTime kMorning(QDate(2024, 3, 5), QTime(8, 0, 0));

// Records first..last, one second apart from `start` in id order.
QList<Record> run(std::int32_t first, std::int32_t last, const QDateTime &start)
{
    QList<Record> out;
    for (std::int32_t id = first; id <= last; ++id)
        out.append(recordAt(id, start.addSecs(id - first)));
    return out;
}

QList<int> gapMarkedSlots(const Buffer &b)
{
    QList<int> out;
    for (int s = 0; s < kSlotCount; ++s)
        if (b[s].gapMark != 0)
            out.append(s);
    return out;
}

} // namespace

class TestChartHistory : public QObject {
    Q_OBJECT
private slots:
    void init();

    void windowStartAndQueryText_data();
    void windowStartAndQueryText();

    void windowInsideTheRing_data();
    void windowInsideTheRing();
    void windowWrapsPastTheTopOfTheRing();
    void historyLengthWindow();
    void aYoungRingKeepsItsNewestRowsAtTheRightEnd();
    void midnightMarksTheFirstSampleOfTheDay();
    void gapMarksSixMinutesNotFour();
    void rowsInRingOrderWhateverTheirTimes();
    void aClockSetBackKeepsTheNewestRowsAtTheLiveEdge();
    void notLiveRowsDrawNoPen();
    void loadClearsAllButColumnNineAndSlot322();
    void unreadableValuesKeepTheClearedSlot();

    void readNewestIdAndCopy();
    void failedControlReadKeepsTheNewestId();
    void missingDatabaseDrawsNoPen();
    void failingQueriesGiveFlatZeroLines_data();
    void failingQueriesGiveFlatZeroLines();
};

void TestChartHistory::init()
{
    yRange() = YRange{};
}

void TestChartHistory::windowStartAndQueryText_data()
{
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("text");
    QTest::newRow("5000, 241") << 5000 << 241 << 4759
                               << "select * from  pv_data where w_id  between 4760 and 5000 order by w_id";
    QTest::newRow("241, 241") << 241 << 241 << 0
                              << "select * from  pv_data where w_id  between 1 and 241 order by w_id";
    QTest::newRow("100, 241") << 100 << 241 << 65359
                              << "select * from  pv_data where w_id > 65359 or w_id <= 100 order by w_id <= 100, w_id";
    QTest::newRow("340, 321") << 340 << 321 << 19
                              << "select * from  pv_data where w_id  between 20 and 340 order by w_id";
    QTest::newRow("65470, 321") << 65470 << 321 << 65149
                                << "select * from  pv_data where w_id  between 65150 and 65470 order by w_id";
    QTest::newRow("0, 241 (fresh ring)") << 0 << 241 << 65259
                                         << "select * from  pv_data where w_id > 65259 or w_id <= 0 order by w_id <= 0, w_id";
}

void TestChartHistory::windowStartAndQueryText()
{
    QFETCH(int, end);
    QFETCH(int, length);
    QFETCH(int, start);
    QFETCH(QString, text);
    QCOMPARE(windowStart(end, length), start);
    QCOMPARE(windowQueryText(end, length), text);
}

void TestChartHistory::windowInsideTheRing_data()
{
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("firstId");
    QTest::newRow("E = 5000") << 5000 << 4760;
    QTest::newRow("E = 241") << 241 << 1;
}

void TestChartHistory::windowInsideTheRing()
{
    QFETCH(int, end);
    QFETCH(int, firstId);
    SampleFile file(QStringLiteral("inside"));
    // Rows on both sides of the window, which must stay out of it.
    QVERIFY(file.write(run(std::max(1, firstId - 40), end + 40, kMorning)));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, end, 241), 241);
    for (int i = 1; i <= 241; ++i)
        QCOMPARE(b[i].values[0], float(firstId + i - 1));
    QCOMPARE(b[242].values[0], 0.0f);
    QCOMPARE(b[0].values[0], 0.0f);
    QCOMPARE(b[1].date, dayNumber(kMorning.date()));
}

void TestChartHistory::windowWrapsPastTheTopOfTheRing()
{
    SampleFile file(QStringLiteral("wrap"));
    // The previous lap: 65300..65500, then the recorder went on at 1..120.
    QList<Record> rows = run(65300, 65500, kMorning);
    rows += run(1, 120, kMorning.addSecs(201));
    QVERIFY(file.write(rows));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, 100, 241), 241);
    // Slots 1..141 hold 65360..65500, slots 142..241 hold 1..100.
    QCOMPARE(b[1].values[0], 65360.0f);
    QCOMPARE(b[141].values[0], 65500.0f);
    QCOMPARE(b[142].values[0], 1.0f);
    QCOMPARE(b[241].values[0], 100.0f);
    for (int i = 2; i <= 241; ++i)
        QCOMPARE(qRound((b[i].time - b[i - 1].time) * kSecondsPerDay), 1);
    // One second apart throughout: only slot 1 (after the zero slot 0) is marked.
    QCOMPARE(gapMarkedSlots(b), QList<int>{1});
}

void TestChartHistory::historyLengthWindow()
{
    SampleFile file(QStringLiteral("history"));
    QVERIFY(file.write(run(1, 1000, kMorning)));
    Buffer b{};
    b[322].values[0] = 99; // slot 322 is never loaded
    QCOMPARE(loadWindow(file.database(), b, 940, 321), 321);
    QCOMPARE(b[1].values[0], 620.0f);
    QCOMPARE(b[321].values[0], 940.0f);
    QCOMPARE(b[322].values[0], 99.0f);
}

void TestChartHistory::aYoungRingKeepsItsNewestRowsAtTheRightEnd()
{
    // A new database holding 50 records: they stand in the slots of their ids,
    // 192..241, so the live view shows them up to its edge at their true
    // times; slots 1..191 hold no sample (ids 65310..65500 were never written).
    SampleFile file(QStringLiteral("fifty"));
    QVERIFY(file.write(run(1, 50, kMorning)));
    QVERIFY(file.setPointer(50, 50));
    Chart chart;
    chart.setConnectionName(file.connectionName());
    chart.windowLoad();
    QCOMPARE(chart.view().newestId, 50);
    QCOMPARE(chart.view().windowEndId, 50);
    const Buffer &b = chart.buffer();
    for (int i = 1; i <= 191; ++i)
        QVERIFY(!b[i].filled);
    for (int i = 192; i <= 241; ++i) {
        QVERIFY(b[i].filled);
        QCOMPARE(b[i].values[0], float(i - 191));
    }
    QCOMPARE(b[241].time, dayFraction(kMorning.time().addSecs(49)));
    // The first recorded row follows no sample: it is marked.
    QCOMPARE(gapMarkedSlots(b), QList<int>{192});
}

void TestChartHistory::midnightMarksTheFirstSampleOfTheDay()
{
    // Only the time of day is compared: 23:59:59 -> 00:00:00 looks like a jump
    // back by almost a day. Slot 1 follows slot 0, which holds no sample.
    SampleFile file(QStringLiteral("midnight"));
    QVERIFY(file.write(run(1, 241, QDateTime(QDate(2024, 3, 5), QTime(23, 58, 0)))));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, 241, 241), 241);
    QCOMPARE(b[121].time, 0.0);
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 121}));
}

void TestChartHistory::gapMarksSixMinutesNotFour()
{
    SampleFile file(QStringLiteral("gaps"));
    QList<Record> rows = run(1, 10, kMorning);
    const QDateTime afterSix = kMorning.addSecs(9 + 6 * 60);
    rows.append(recordAt(11, afterSix));
    rows.append(recordAt(12, afterSix.addSecs(4 * 60)));
    rows.append(recordAt(13, afterSix.addSecs(4 * 60 + 299)));
    // Exactly five minutes is more than the threshold of 299.9998 s.
    rows.append(recordAt(14, afterSix.addSecs(4 * 60 + 299 + 300)));
    QVERIFY(file.write(rows));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, 241, 241), 14);
    // Slot 15 holds no sample and carries no mark.
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 11, 14}));
    QCOMPARE(b[11].gapMark, std::int16_t(11));
    QCOMPARE(b[14].gapMark, std::int16_t(14));
}

void TestChartHistory::rowsInRingOrderWhateverTheirTimes()
{
    SampleFile file(QStringLiteral("order"));
    // Ids run against time (id 1 is the latest time), across midnight: the
    // slots follow the ids, never the dates and times.
    QList<Record> rows;
    const QDateTime lateEvening(QDate(2024, 3, 5), QTime(23, 59, 0));
    for (int id = 1; id <= 241; ++id)
        rows.append(recordAt(id, lateEvening.addSecs(241 - id)));
    QVERIFY(file.write(rows));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, 241, 241), 241);
    for (int i = 1; i <= 241; ++i)
        QCOMPARE(b[i].values[0], float(i));
    QCOMPARE(b[181].date, dayNumber(QDate(2024, 3, 6)));
    QCOMPARE(b[181].time, 0.0);
    QCOMPARE(b[182].date, dayNumber(QDate(2024, 3, 5)));
    // Each row lies a second before the one ahead of it in the ring: no gap,
    // except where the time of day jumps from 00:00:00 back to 23:59:59.
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 182}));
}

void TestChartHistory::aClockSetBackKeepsTheNewestRowsAtTheLiveEdge()
{
    // One run recorded ids 1..200 from 10:00:00; the next run, with the PC
    // clock set back an hour, recorded ids 201..300 from 09:05:00. The live
    // view still ends with id 300 at its edge, labelled with its stored time,
    // and the jump back is marked where it happened.
    SampleFile file(QStringLiteral("clockback"));
    const QDateTime firstRun(QDate(2024, 10, 27), QTime(10, 0, 0));
    const QDateTime secondRun(QDate(2024, 10, 27), QTime(9, 5, 0));
    QList<Record> rows = run(1, 200, firstRun);
    rows += run(201, 300, secondRun);
    for (Record &r : rows)
        r.values[0] = float(r.id % 47);
    QVERIFY(file.write(rows));
    QVERIFY(file.setPointer(300, 300));
    Chart chart;
    draw::RecordingCanvas canvas(QSizeF(12008, 7508));
    chart.setCanvas(&canvas);
    QSignalSpy labels(&chart, &Chart::timeLabelsChanged);
    chart.setConnectionName(file.connectionName());
    chart.windowLoad();
    const Buffer &b = chart.buffer();
    QCOMPARE(b[241].values[0], float(300 % 47));
    QCOMPARE(b[241].time, dayFraction(QTime(9, 6, 39)));
    QCOMPARE(b[142].values[0], float(201 % 47)); // the first row of the second run
    QCOMPARE(b[142].gapMark, std::int16_t(142));
    // The pens run on to X = 9000, ending (one slot behind, as always in the
    // live view) on id 299, the second run's row before the newest.
    const auto red = canvas.linesWithColor(QColor(255, 0, 0));
    QCOMPARE(red.size(), 60);
    QCOMPARE(red.last().x2, 9000.0);
    QCOMPARE(red.last().y2, 7508.0 - 125 * (299 % 47));
    // Label 6 names slot 241: id 300 at its stored time.
    QCOMPARE(labels.size(), 1);
    const auto texts = labels.last().at(0).value<TimeLabels>();
    QCOMPARE(texts.time[6].value(), QStringLiteral("09:06:39"));
    QCOMPARE(texts.time[0].value(), QStringLiteral("09:05:39")); // slot 181, id 240
}

void TestChartHistory::notLiveRowsDrawNoPen()
{
    // A history window (ids 620..940 in slots 1..321) whose ids 700..759 were
    // stored as not live (zeros before "打开", frozen values while the line was
    // silent) and ids 620..650 in an older form, of unknown state. At zoom 4
    // slot s is drawn at x = 37.5 s: no pen touches slots 81..140, the
    // unknown rows draw as live ones, and the first live row after the break
    // carries a gap mark.
    SampleFile file(QStringLiteral("notlive"));
    QList<Record> rows = run(1, 1000, kMorning);
    for (Record &r : rows) {
        r.values[0] = 30;
        if (r.id >= 700 && r.id <= 759)
            r.live = false;
        else if (r.id > 650)
            r.live = true;
    }
    QVERIFY(file.write(rows));
    Chart chart;
    draw::RecordingCanvas canvas(QSizeF(12008, 7508));
    chart.setCanvas(&canvas);
    chart.setConnectionName(file.connectionName());
    chart.view().zoomLevel = 4;
    chart.view().windowEndId = 940;
    chart.view().windowLength = kHistoryWindow;
    chart.view().markEnd = chart.view().curveEnd = kHistoryWindow;
    QCOMPARE(chart.loadWindow(), 321);
    chart.repaint();
    const Buffer &b = chart.buffer();
    QCOMPARE(b[81].live, Liveness::NotLive);
    QCOMPARE(b[80].live, Liveness::Live);
    QCOMPARE(b[1].live, Liveness::Unknown);

    // Segments k = 2..80 and 142..320 (k = 1 starts at slot 0).
    const auto red = canvas.linesWithColor(QColor(255, 0, 0));
    QCOMPARE(red.size(), 79 + 179);
    for (const auto &l : red) {
        QVERIFY2(l.x2 <= 3000 || l.x1 >= 5288, qPrintable(QStringLiteral("%1..%2").arg(l.x1).arg(l.x2)));
        QCOMPARE(l.y1, 3758.0);
    }
    QCOMPARE(red[0].x1, 38.0); // slot 1, unknown, draws
    const auto marks = canvas.linesWithColor(QColor(255, 255, 0));
    QCOMPARE(marks.size(), 2); // slot 1 and slot 141
    QCOMPARE(marks[1].x1, 141 * 37.5);
}

void TestChartHistory::loadClearsAllButColumnNineAndSlot322()
{
    SampleFile file(QStringLiteral("clear"));
    QList<Record> rows = run(1, 10, kMorning);
    for (Record &r : rows) {
        r.values[8] = 100;
        r.values[9] = 100;
    }
    QVERIFY(file.write(rows));
    Buffer b{};
    for (Slot &s : b) {
        s.date = 45000;
        s.time = 0.5;
        s.values.fill(7);
        s.gapMark = 5;
    }
    QCOMPARE(loadWindow(file.database(), b, 241, 241), 10);
    QCOMPARE(b[5].values[9], 100.0f);
    for (int s = 11; s <= 321; ++s) {
        QCOMPARE(b[s].date, 0.0);
        QCOMPARE(b[s].time, 0.0);
        for (int j = 0; j < 9; ++j)
            QCOMPARE(b[s].values[j], 0.0f);
        QCOMPARE(b[s].values[9], 7.0f);   // column 9 keeps what it held
        QCOMPARE(b[s].values[10], 7.0f);  // columns past 9 are never touched
    }
    QCOMPARE(b[0].values[9], 7.0f);
    QCOMPARE(b[0].values[0], 0.0f);
    QCOMPARE(b[322].time, 0.5);
    QCOMPARE(b[322].gapMark, std::int16_t(5));
    QVERIFY(b[10].filled);
    QVERIFY(!b[11].filled);
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 322}));
}

void TestChartHistory::unreadableValuesKeepTheClearedSlot()
{
    SampleFile file(QStringLiteral("nulls"));
    QVERIFY(file.write(run(1, 3, kMorning)));
    QVERIFY(file.exec(QStringLiteral("UPDATE pv_data SET v0 = NULL, v9 = NULL, v1 = 'abc', v2 = 1e300 WHERE w_id = 2")));
    QVERIFY(file.exec(QStringLiteral("UPDATE pv_data SET v3 = 12.5, v9 = 100 WHERE w_id = 3")));
    Buffer b{};
    b[2].values[9] = 55;
    QCOMPARE(loadWindow(file.database(), b, 241, 241), 3);
    QCOMPARE(b[2].values[0], 0.0f);
    QCOMPARE(b[2].values[1], 0.0f);
    QCOMPARE(b[2].values[2], 0.0f);
    QCOMPARE(b[2].values[9], 55.0f);
    QCOMPARE(b[2].time, dayFraction(QTime(8, 0, 1)));
    QCOMPARE(b[3].values[3], 12.5f);
    QCOMPARE(b[3].values[9], 100.0f);
}

void TestChartHistory::readNewestIdAndCopy()
{
    SampleFile file(QStringLiteral("control"));
    QVERIFY(file.setPointer(4321, 4320));
    const ControlRow row = readControl(file.database());
    QCOMPARE(row.newestId.value(), 4321);
    QCOMPARE(row.copy.value(), 4320);
    Chart chart;
    chart.setConnectionName(file.connectionName());
    QVERIFY(chart.readNewestId());
    QCOMPARE(chart.view().newestId, 4321);
    QCOMPARE(chart.view().controlCopy, 4320);
}

void TestChartHistory::failedControlReadKeepsTheNewestId()
{
    SampleFile file(QStringLiteral("nocontrol"));
    Chart chart;
    chart.setConnectionName(file.connectionName());
    chart.view().newestId = 777;
    QVERIFY(file.exec(QStringLiteral("UPDATE sl_void SET sl_pointer = NULL")));
    QVERIFY(!chart.readNewestId());
    QCOMPARE(chart.view().newestId, 777);
    QVERIFY(file.exec(QStringLiteral("DROP TABLE sl_void")));
    QVERIFY(!chart.readNewestId());
    QCOMPARE(chart.view().newestId, 777);
    chart.setConnectionName(QStringLiteral("no such connection"));
    QVERIFY(!chart.readNewestId());
    QCOMPARE(chart.view().newestId, 777);
}

void TestChartHistory::missingDatabaseDrawsNoPen()
{
    // The main window's connection on a file that cannot be opened: a folder
    // stands where the file should be.
    const QString path = test::missingFilePath(QStringLiteral("missing.db"));
    QVERIFY(QDir().mkpath(path));
    sampledb::Connection connection(QStringLiteral("missing"), path);
    QVERIFY(!connection.open());

    Chart chart;
    draw::RecordingCanvas canvas(QSizeF(12008, 7508));
    chart.setCanvas(&canvas);
    chart.setDatabase([&connection] { return connection.database(); });
    chart.view().newestId = 1234;
    chart.buffer()[100].values[0] = 42;
    QSignalSpy labels(&chart, &Chart::timeLabelsChanged);
    chart.windowLoad();
    QCOMPARE(chart.view().newestId, 1234);
    QCOMPARE(chart.view().windowEndId, 1234);
    QCOMPARE(labels.size(), 1);
    QCOMPARE(chart.buffer()[100].values[0], 0.0f);
    QCOMPARE(gapMarkedSlots(chart.buffer()), QList<int>{});

    // No row, no sample: the grid alone, and no time under it.
    QCOMPARE(canvas.lines().size(), 62);
    const auto texts = labels.last().at(0).value<TimeLabels>();
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(texts.time[k].value(), QString());
        QCOMPARE(texts.date[k].value(), QString());
    }
}

void TestChartHistory::failingQueriesGiveFlatZeroLines_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<int>("rows");
    QTest::newRow("no pv_data") << "DROP TABLE pv_data" << 0;
    QTest::newRow("pv_data without value columns")
        << "DROP TABLE pv_data; CREATE TABLE pv_data (w_id INTEGER, w_date REAL, w_time REAL);"
           "INSERT INTO pv_data VALUES (1, 45356, 0.5)"
        << 1;
}

void TestChartHistory::failingQueriesGiveFlatZeroLines()
{
    QFETCH(QString, damage);
    QFETCH(int, rows);
    SampleFile file(QStringLiteral("damaged"));
    QVERIFY(file.write(run(1, 241, kMorning)));
    for (const QString &statement : damage.split(u';'))
        QVERIFY(file.exec(statement));
    Buffer b{};
    b[7].values[3] = 5;
    QCOMPARE(loadWindow(file.database(), b, 241, 241), rows);
    for (int i = 1; i <= 241; ++i)
        for (int j = 0; j < 10; ++j)
            QCOMPARE(b[i].values[j], 0.0f);
    QCOMPARE(b[1].time, rows ? 0.5 : 0.0);
}

STATION_TEST_MAIN(TestChartHistory)
#include "tst_charthistory.moc"
