// Loading the chart buffer from real SQLite sample files: the two query forms,
// the ring wrap, row order, gap marks, short and broken databases.
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
    void newDatabaseOfFiftyRecords();
    void firstRecordsJustAfterMidnight();
    void gapMarksSixMinutesNotFour();
    void rowsInDateAndTimeOrder();
    void loadClearsAllButColumnNineAndSlot322();
    void unreadableValuesKeepTheClearedSlot();

    void readNewestIdAndCopy();
    void failedControlReadKeepsTheNewestId();
    void missingDatabaseGivesFlatZeroLines();
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
                               << "select * from  pv_data where w_id  between 4760 and 5000 order by w_date,w_time";
    QTest::newRow("241, 241") << 241 << 241 << 0
                              << "select * from  pv_data where w_id  between 1 and 241 order by w_date,w_time";
    QTest::newRow("100, 241") << 100 << 241 << 65359
                              << "select * from  pv_data where w_id not between 101 and 65359 order by w_date,w_time ";
    QTest::newRow("340, 321") << 340 << 321 << 19
                              << "select * from  pv_data where w_id  between 20 and 340 order by w_date,w_time";
    QTest::newRow("65470, 321") << 65470 << 321 << 65149
                                << "select * from  pv_data where w_id  between 65150 and 65470 order by w_date,w_time";
    QTest::newRow("0, 241 (fresh ring)") << 0 << 241 << 65259
                                         << "select * from  pv_data where w_id not between 1 and 65259 order by w_date,w_time ";
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

void TestChartHistory::newDatabaseOfFiftyRecords()
{
    SampleFile file(QStringLiteral("fifty"));
    QVERIFY(file.write(run(1, 50, kMorning)));
    QVERIFY(file.setPointer(50, 50));
    Chart chart;
    chart.setConnectionName(file.connectionName());
    chart.windowLoad();
    QCOMPARE(chart.view().newestId, 50);
    QCOMPARE(chart.view().windowEndId, 50);
    const Buffer &b = chart.buffer();
    for (int i = 1; i <= 50; ++i)
        QCOMPARE(b[i].values[0], float(i));
    for (int i = 51; i <= 241; ++i) {
        QCOMPARE(b[i].values[0], 0.0f);
        QCOMPARE(b[i].time, 0.0);
    }
    // Slot 1 follows the zero slot 0; slot 51 drops from 08:00:49 to time 0.
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 51}));
    QCOMPARE(b[51].gapMark, std::int16_t(51));
}

void TestChartHistory::firstRecordsJustAfterMidnight()
{
    SampleFile file(QStringLiteral("midnight"));
    QVERIFY(file.write(run(1, 50, QDateTime(QDate(2024, 3, 5), QTime(0, 0, 0)))));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, 50, 241), 50);
    // 00:00:00 .. 00:00:49 lie within five minutes of time 0 on both sides.
    QCOMPARE(gapMarkedSlots(b), QList<int>{});
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
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 11, 14, 15}));
    QCOMPARE(b[11].gapMark, std::int16_t(11));
    QCOMPARE(b[14].gapMark, std::int16_t(14));
}

void TestChartHistory::rowsInDateAndTimeOrder()
{
    SampleFile file(QStringLiteral("order"));
    // Ids run against time: id 1 is the newest row; and two days, where the
    // date decides before the time of day.
    QList<Record> rows;
    const QDateTime lateEvening(QDate(2024, 3, 5), QTime(23, 59, 0));
    for (int id = 1; id <= 241; ++id)
        rows.append(recordAt(id, lateEvening.addSecs(241 - id)));
    QVERIFY(file.write(rows));
    Buffer b{};
    QCOMPARE(loadWindow(file.database(), b, 241, 241), 241);
    for (int i = 1; i <= 241; ++i)
        QCOMPARE(b[i].values[0], float(242 - i));
    // 23:59:00 .. 23:59:59 on the 5th come before 00:00:00 .. on the 6th.
    QCOMPARE(b[60].date, dayNumber(QDate(2024, 3, 5)));
    QCOMPARE(b[61].date, dayNumber(QDate(2024, 3, 6)));
    QCOMPARE(b[61].time, 0.0);
    // Midnight: the time of day falls back by almost a whole day.
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 61}));
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
    QCOMPARE(gapMarkedSlots(b), (QList<int>{1, 11, 322}));
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

void TestChartHistory::missingDatabaseGivesFlatZeroLines()
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

    // Flat lines at 0: the process pens on the bottom edge, the percent pens
    // at 0 %, 625 twips above it.
    QCOMPARE(canvas.lines().size(), 62 + 60 * 6);
    for (int i = 62; i < canvas.lines().size(); ++i) {
        const auto &l = canvas.lines()[i];
        const double y = (l.pen.color == QColor(128, 0, 0) || l.pen.color == QColor(0, 0, 128)) ? 6883 : 7508;
        QCOMPARE(l.y1, y);
        QCOMPARE(l.y2, y);
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
