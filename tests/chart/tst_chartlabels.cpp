// Texts around the plot: time and date labels in live and history view, the
// live extrapolation of labels 7 and 8, the left scale and the percent scale.
#include "chart/labels.h"
#include "common/datenum.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QTest>

using namespace station;
using namespace station::chart;

namespace {

double march5()
{
    return dayNumber(QDate(2024, 3, 5));
}

double at(int h, int m, int s)
{
    return dayFraction(QTime(h, m, s));
}

ViewState view(std::int16_t zoom, std::int32_t length)
{
    ViewState v;
    v.zoomLevel = zoom;
    applyZoomTable(v);
    v.windowLength = length;
    return v;
}

// Slot s at 12:00:00 + s seconds on 5 March 2024.
Buffer secondsBuffer()
{
    Buffer b{};
    for (int s = 1; s < kSlotCount; ++s) {
        b[s].date = march5();
        b[s].time = at(12, 0, 0) + s / kSecondsPerDay;
        b[s].filled = true;
    }
    return b;
}

// The live label step as the chart computes it: rounded to float first.
double liveStep(int zoom)
{
    return double(float(zoom * 0.00347222 / 30));
}

} // namespace

class TestChartLabels : public QObject {
    Q_OBJECT
private slots:
    void labelSlotsPerZoom_data();
    void labelSlotsPerZoom();
    void historyLabelsComeFromTheBuffer();
    void liveLabelsSevenAndEightAreExtrapolated_data();
    void liveLabelsSevenAndEightAreExtrapolated();
    void extrapolationPastMidnightRollsTheDate();
    void exactlyOneDoesNotRollOver();
    void windowLengthThreshold();
    void slotsWithoutASampleShowNoTime_data();
    void slotsWithoutASampleShowNoTime();
    void leftScale_data();
    void leftScale();
    void percentScaleAndCaptions();
    void windowStartTexts();
};

void TestChartLabels::labelSlotsPerZoom_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("1") << 1 << QList<int>{181, 191, 201, 211, 221, 231, 241, 251, 261};
    QTest::newRow("2") << 2 << QList<int>{121, 141, 161, 181, 201, 221, 241, 261, 281};
    QTest::newRow("3") << 3 << QList<int>{61, 91, 121, 151, 181, 211, 241, 271, 301};
    QTest::newRow("4") << 4 << QList<int>{1, 41, 81, 121, 161, 201, 241, 281, 321};
}

void TestChartLabels::labelSlotsPerZoom()
{
    QFETCH(int, zoom);
    QFETCH(QList<int>, expected);
    const ViewState v = view(std::int16_t(zoom), kHistoryWindow);
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(labelSlot(v, k), expected[k]);
        // label k names the sample drawn at X = 1500 k + sample step
        QCOMPARE((labelSlot(v, k) - v.firstSlot) * double(v.sampleStep), 1500.0 * k + v.sampleStep);
    }
}

void TestChartLabels::historyLabelsComeFromTheBuffer()
{
    Buffer b = secondsBuffer();
    b[321].date = march5() + 1;
    const TimeLabels labels = timeLabels(b, view(4, kHistoryWindow));
    const QStringList times{"12:00:01", "12:00:41", "12:01:21", "12:02:01", "12:02:41",
                            "12:03:21", "12:04:01", "12:04:41", "12:05:21"};
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(labels.time[k].value(), times[k]);
        QCOMPARE(labels.date[k].value(), k == 8 ? QStringLiteral("2024-03-06") : QStringLiteral("2024-03-05"));
    }
}

void TestChartLabels::liveLabelsSevenAndEightAreExtrapolated_data()
{
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QString>("label7");
    QTest::addColumn<QString>("label8");
    QTest::newRow("zoom 1: 10 s apart") << 1 << "10:00:10" << "10:00:20";
    QTest::newRow("zoom 2") << 2 << "10:00:20" << "10:00:40";
    QTest::newRow("zoom 3") << 3 << "10:00:30" << "10:01:00";
    QTest::newRow("zoom 4") << 4 << "10:00:40" << "10:01:20";
}

void TestChartLabels::liveLabelsSevenAndEightAreExtrapolated()
{
    QFETCH(int, zoom);
    QFETCH(QString, label7);
    QFETCH(QString, label8);
    Buffer b = secondsBuffer();
    b[241].time = at(10, 0, 0);
    b[251].time = b[261].time = b[281].time = b[321].time = at(23, 0, 0); // not shown in live view
    const TimeLabels labels = timeLabels(b, view(std::int16_t(zoom), kLiveWindow));
    QCOMPARE(labels.time[6].value(), QStringLiteral("10:00:00"));
    QCOMPARE(labels.time[7].value(), label7);
    QCOMPARE(labels.time[8].value(), label8);
    QCOMPARE(labels.date[7].value(), QStringLiteral("2024-03-05"));
    QCOMPARE(labels.date[8].value(), QStringLiteral("2024-03-05"));
}

void TestChartLabels::extrapolationPastMidnightRollsTheDate()
{
    Buffer b = secondsBuffer();
    b[241].time = at(23, 59, 55);
    const TimeLabels labels = timeLabels(b, view(1, kLiveWindow));
    QCOMPARE(labels.time[6].value(), QStringLiteral("23:59:55"));
    QCOMPARE(labels.date[6].value(), QStringLiteral("2024-03-05"));
    QCOMPARE(labels.time[7].value(), QStringLiteral("00:00:05"));
    QCOMPARE(labels.date[7].value(), QStringLiteral("2024-03-06"));
    QCOMPARE(labels.time[8].value(), QStringLiteral("00:00:15"));
    QCOMPARE(labels.date[8].value(), QStringLiteral("2024-03-06"));

    const DateTime t = extrapolatedLabel(b[241], 1, 1);
    QCOMPARE(t.date, march5() + 1);
    QCOMPARE(t.time, b[241].time + liveStep(1) - 1);
}

void TestChartLabels::exactlyOneDoesNotRollOver()
{
    // A newest sample one step before midnight: label 7 lands on exactly 1.0.
    Slot newest;
    newest.filled = true;
    newest.date = march5();
    newest.time = 1.0 - liveStep(1);
    QCOMPARE(newest.time + liveStep(1), 1.0); // the precondition of this test

    const DateTime seven = extrapolatedLabel(newest, 1, 1);
    QCOMPARE(seven.time, 1.0);
    QCOMPARE(seven.date, march5());
    const DateTime eight = extrapolatedLabel(newest, 1, 2);
    QCOMPARE(eight.date, march5() + 1);
    QCOMPARE(eight.time, newest.time + 2 * liveStep(1) - 1);

    Buffer b{};
    b[241] = newest;
    const TimeLabels labels = timeLabels(b, view(1, kLiveWindow));
    QCOMPARE(labels.time[7].value(), QStringLiteral("00:00:00"));
    QCOMPARE(labels.date[7].value(), QStringLiteral("2024-03-05"));
    QCOMPARE(labels.time[8].value(), QStringLiteral("00:00:10"));
    QCOMPARE(labels.date[8].value(), QStringLiteral("2024-03-06"));
}

void TestChartLabels::windowLengthThreshold()
{
    Buffer b = secondsBuffer();
    b[241].time = at(10, 0, 0);
    // 319 counts as live, 320 as history.
    QCOMPARE(timeLabels(b, view(4, 319)).time[7].value(), QStringLiteral("10:00:40"));
    QCOMPARE(timeLabels(b, view(4, 320)).time[7].value(), QStringLiteral("12:04:41"));
}

// A label whose slot holds no sample is blank (not "00:00:00 1899-12-30"), and
// so are the live view's extrapolated labels when slot 241 holds none.
void TestChartLabels::slotsWithoutASampleShowNoTime_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("filledFrom"); // slots filledFrom..322 hold samples
    QTest::addColumn<QString>("shown");  // '1' where label k shows a time
    QTest::newRow("history, none") << int(kHistoryWindow) << 400 << "000000000";
    QTest::newRow("live, none") << int(kLiveWindow) << 400 << "000000000";
    QTest::newRow("history, from slot 201") << int(kHistoryWindow) << 201 << "000011111";
    QTest::newRow("live, from slot 201") << int(kLiveWindow) << 201 << "000011111";
    QTest::newRow("live, slots past 241") << int(kLiveWindow) << 242 << "000000000";
}

void TestChartLabels::slotsWithoutASampleShowNoTime()
{
    QFETCH(int, length);
    QFETCH(int, filledFrom);
    QFETCH(QString, shown);
    Buffer b = secondsBuffer();
    for (int s = 0; s < std::min(filledFrom, kSlotCount); ++s)
        b[s].filled = false;
    const TimeLabels labels = timeLabels(b, view(2, length));
    for (int k = 0; k < kTimeLabelCount; ++k) {
        QCOMPARE(labels.time[k].value().isEmpty(), shown[k] == u'0');
        QCOMPARE(labels.date[k].value().isEmpty(), shown[k] == u'0');
        QVERIFY(labels.date[k].value() != QStringLiteral("1899-12-30"));
    }
}

void TestChartLabels::leftScale_data()
{
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("start range") << 60 << 0 << QStringList{"0", "10", "20", "30", "40", "50", "60"};
    QTest::newRow("-20..100") << 120 << -20 << QStringList{"-20", "0", "20", "40", "60", "80", "100"};
    QTest::newRow("thirds") << 100 << 0 << QStringList{"0", "17", "33", "50", "67", "83", "100"};
    // 3 / 6 = 0.5: halves go to the even neighbour.
    QTest::newRow("halves") << 3 << 10 << QStringList{"10", "10", "11", "12", "12", "12", "13"};
    // 7 / 6 in float is 1.16666663; times 3 it rounds (in float) to 3.5,
    // which goes to 4 (a double product, 3.4999999, would give 3).
    QTest::newRow("float product") << 7 << 0 << QStringList{"0", "1", "2", "4", "5", "6", "7"};
    QTest::newRow("span 0") << 0 << 100 << QStringList{"100", "100", "100", "100", "100", "100", "100"};
    QTest::newRow("wide") << 32767 << -12000 << QStringList{"-12000", "-6539", "-1078", "4384", "9845", "15306", "20767"};
}

void TestChartLabels::leftScale()
{
    QFETCH(int, span);
    QFETCH(int, minimum);
    QFETCH(QStringList, texts);
    YRange range;
    range.span = std::int16_t(span);
    range.minimum = std::int16_t(minimum);
    const auto out = leftScaleTexts(range);
    for (int i = 0; i < kScaleLabelCount; ++i)
        QCOMPARE(out[i], texts[i]);
}

void TestChartLabels::percentScaleAndCaptions()
{
    const QStringList expected{"-10", "10", "30", "50", "70", "90", "110"};
    for (int i = 0; i < kScaleLabelCount; ++i)
        QCOMPARE(kPercentLabels[i], expected[i]);
    QCOMPARE(kLeftRangeCaption, QStringLiteral("量 程"));
    QCOMPARE(kRightRangeCaption, QStringLiteral("量程"));
}

void TestChartLabels::windowStartTexts()
{
    const Buffer b = secondsBuffer();
    QCOMPARE(chart::windowStartTexts(b, view(1, kLiveWindow)).value(),
             (DateTimeTexts{QStringLiteral("2024-03-05"), QStringLiteral("12:03:01")}));
    QCOMPARE(chart::windowStartTexts(b, view(4, kLiveWindow)).value().time, QStringLiteral("12:00:01"));
    ViewState broken = view(1, kLiveWindow);
    broken.firstSlot = 400;
    QVERIFY(!chart::windowStartTexts(b, broken));
    Buffer empty{};
    QVERIFY(!chart::windowStartTexts(empty, view(1, kLiveWindow)));
}

STATION_TEST_MAIN(TestChartLabels)
#include "tst_chartlabels.moc"
