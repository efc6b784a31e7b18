// The status panel's texts computed from a register image, without widgets.
#include "app/status/statustexts.h"
#include "tests/support/testenv.h"

#include <QSet>
#include <QTest>

using namespace station;
using namespace station::status;

namespace {

RegisterImage imageWithInput(int reg, std::int32_t value)
{
    // The poller copies input registers 1..8 into the input words and, as floats,
    // into live-sample values 0..7; the panel reads the live sample.
    RegisterImage image;
    image.inputWords[std::size_t(reg - 1)] = value;
    image.liveSample[std::size_t(reg - 1)] = float(value);
    return image;
}

} // namespace

class TestStatusTexts : public QObject {
    Q_OBJECT
private slots:
    void freshImageGivesInitialTexts();
    void processValues_data();
    void processValues();
    void runState_data();
    void runState();
    void programWords();
    void alarmKinds_data();
    void alarmKinds();
    void stateLabels_data();
    void stateLabels();
    void stateLabelsFollowOnlyTheirOwnBit();
    void parameters_data();
    void parameters();
    void unlabelledParametersStayEmpty();
    void setValuesAndAlarmWords();
    void parameterTable();
};

void TestStatusTexts::freshImageGivesInitialTexts()
{
    const StatusTexts t = statusTexts(RegisterImage{});
    QCOMPARE(t.program[0], QStringLiteral("停止  "));
    for (int i = 1; i < kProgramLabelCount; ++i)
        QCOMPARE(t.program[std::size_t(i)], QStringLiteral("0"));
    for (int i = 0; i < kProcessValueCount; ++i)
        QCOMPARE(t.process[std::size_t(i)], QStringLiteral("0"));
    QCOMPARE(t.process[6], QStringLiteral("NONE  "));
    QCOMPARE(t.process[7], QStringLiteral("NONE "));
    QCOMPARE(t.setValue[0], QStringLiteral("0"));
    QCOMPARE(t.setValue[1], QStringLiteral("0"));
    const QStringList inactive{QStringLiteral("控制1 OFF"), QStringLiteral("控制2 OFF "), QStringLiteral("ALM1 OFF"),
                               QStringLiteral("ALM2 OFF"), QStringLiteral("传感器正常 "), QStringLiteral("传感器正常 ")};
    for (int k = 0; k < kStateLabelCount; ++k) {
        QCOMPARE(t.states[std::size_t(k)].text, inactive[k]);
        QVERIFY(!t.states[std::size_t(k)].active);
    }
    for (const PanelParam &p : kPanelParams)
        QCOMPARE(t.params[std::size_t(p.index)], QStringLiteral("0"));
    for (const QString &a : t.alarms)
        QCOMPARE(a, QStringLiteral("0"));
}

void TestStatusTexts::processValues_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("raw");
    QTest::addColumn<int>("label");
    QTest::addColumn<QString>("text");
    QTest::newRow("PV1 503 stays whole") << 1 << 503 << 0 << "503";
    QTest::newRow("PV2 503 stays whole") << 2 << 503 << 1 << "503";
    QTest::newRow("SV1") << 3 << 1250 << 2 << "1250";
    QTest::newRow("SV2 negative") << 4 << -1999 << 3 << "-1999";
    QTest::newRow("PV1 negative") << 1 << -15 << 0 << "-15";
    QTest::newRow("out1 503 in tenths") << 5 << 503 << 4 << "50.3";
    QTest::newRow("out2 503 in tenths") << 6 << 503 << 5 << "50.3";
    QTest::newRow("out1 500 drops the zero") << 5 << 500 << 4 << "50";
    QTest::newRow("out1 1000") << 5 << 1000 << 4 << "100";
    QTest::newRow("out2 1 tenth") << 6 << 1 << 5 << "0.1";
    QTest::newRow("out1 negative") << 5 << -15 << 4 << "-1.5";
    QTest::newRow("out2 minus one tenth") << 6 << -1 << 5 << "-0.1";
    QTest::newRow("out1 largest word") << 5 << 32767 << 4 << "3276.7";
    QTest::newRow("out2 smallest word") << 6 << -32768 << 5 << "-3276.8";
}

void TestStatusTexts::processValues()
{
    QFETCH(int, reg);
    QFETCH(int, raw);
    QFETCH(int, label);
    QFETCH(QString, text);
    const StatusTexts t = statusTexts(imageWithInput(reg, raw));
    QCOMPARE(t.process[std::size_t(label)], text);
    // No other process label moves.
    for (int i = 0; i < kProcessValueCount; ++i)
        if (i != label)
            QCOMPARE(t.process[std::size_t(i)], QStringLiteral("0"));
}

void TestStatusTexts::runState_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("text");
    QTest::newRow("0 stopped") << 0 << "停止  ";
    QTest::newRow("1 running") << 1 << "运行";
    QTest::newRow("2 paused") << 2 << "暂停";
    QTest::newRow("3 ended") << 3 << "结束";
    QTest::newRow("4 stays a number") << 4 << "4";
    QTest::newRow("-1 stays a number") << -1 << "-1";
    QTest::newRow("100 stays a number") << 100 << "100";
}

void TestStatusTexts::runState()
{
    QFETCH(int, word);
    QFETCH(QString, text);
    RegisterImage image;
    image.programStatus[0] = word;
    QCOMPARE(statusTexts(image).program[0], text);
    QCOMPARE(runStateText(word), text);
}

void TestStatusTexts::programWords()
{
    RegisterImage image;
    image.programStatus[0] = 1;
    for (int i = 1; i < 16; ++i)
        image.programStatus[std::size_t(i)] = i * 111 - 500; // negatives and positives
    const StatusTexts t = statusTexts(image);
    QCOMPARE(t.program[0], QStringLiteral("运行"));
    for (int i = 1; i < kProgramLabelCount; ++i)
        QCOMPARE(t.program[std::size_t(i)], QString::number(i * 111 - 500));
}

void TestStatusTexts::alarmKinds_data()
{
    QTest::addColumn<int>("label");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    const QStringList kinds{QStringLiteral("上限报警"), QStringLiteral("下限报警"), QStringLiteral("上偏差报警"),
                            QStringLiteral("下偏差报警"), QStringLiteral("偏差带报警")};
    for (int label : {6, 7}) {
        QTest::addRow("label %d kind 0", label) << label << 0
                                                << (label == 6 ? QStringLiteral("NONE  ") : QStringLiteral("NONE "));
        for (int kind = 1; kind <= 5; ++kind)
            QTest::addRow("label %d kind %d", label, kind) << label << kind << kinds[kind - 1];
        QTest::addRow("label %d kind 6 stays", label) << label << 6 << "6";
        QTest::addRow("label %d kind -1 stays", label) << label << -1 << "-1";
        QTest::addRow("label %d kind 300 stays", label) << label << 300 << "300";
    }
}

void TestStatusTexts::alarmKinds()
{
    QFETCH(int, label);
    QFETCH(int, kind);
    QFETCH(QString, text);
    // Label 6 shows input 7 (alarm 1), label 7 input 8 (alarm 2).
    const StatusTexts t = statusTexts(imageWithInput(label + 1, kind));
    QCOMPARE(t.process[std::size_t(label)], text);
    const int other = label == 6 ? 7 : 6;
    QCOMPARE(t.process[std::size_t(other)], other == 6 ? QStringLiteral("NONE  ") : QStringLiteral("NONE "));
}

void TestStatusTexts::stateLabels_data()
{
    QTest::addColumn<int>("k");
    QTest::addColumn<int>("bit");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("active");
    const char *inactive[] = {"控制1 OFF", "控制2 OFF ", "ALM1 OFF", "ALM2 OFF", "传感器正常 ", "传感器正常 "};
    const char *active[] = {"控制1 ON", "控制2 ON", "ALM1报警", "ALM2 报警", "传感器1开路", "传感器2开路"};
    for (int k = 0; k < kStateLabelCount; ++k) {
        QTest::addRow("state %d off", k) << k << 0 << QString::fromUtf8(inactive[k]) << false;
        QTest::addRow("state %d on", k) << k << 1 << QString::fromUtf8(active[k]) << true;
    }
    // Any value other than 0 counts as active.
    QTest::newRow("state 2 bit 7") << 2 << 7 << QStringLiteral("ALM1报警") << true;
    QTest::newRow("state 4 bit -1") << 4 << -1 << QStringLiteral("传感器1开路") << true;
}

void TestStatusTexts::stateLabels()
{
    QFETCH(int, k);
    QFETCH(int, bit);
    QFETCH(QString, text);
    QFETCH(bool, active);
    RegisterImage image;
    image.discreteBits[std::size_t(k)] = bit;
    const StatusTexts t = statusTexts(image);
    QCOMPARE(t.states[std::size_t(k)].text, text);
    QCOMPARE(t.states[std::size_t(k)].active, active);
}

void TestStatusTexts::stateLabelsFollowOnlyTheirOwnBit()
{
    // Each bit switches exactly its own label; bits 6..15 and the coils switch none.
    for (int k = 0; k < kStateLabelCount; ++k) {
        RegisterImage image;
        image.discreteBits[std::size_t(k)] = 1;
        const StatusTexts t = statusTexts(image);
        for (int j = 0; j < kStateLabelCount; ++j)
            QCOMPARE(t.states[std::size_t(j)].active, j == k);
    }
    RegisterImage image;
    for (int b = kStateLabelCount; b < 16; ++b)
        image.discreteBits[std::size_t(b)] = 1;
    image.coilBits.fill(1);
    const StatusTexts t = statusTexts(image);
    for (const StateLabelText &s : t.states)
        QVERIFY(!s.active);
}

void TestStatusTexts::parameters_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<float>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("filter 35 in tenths") << 2 << 35.0f << "3.5";
    QTest::newRow("filter 30") << 2 << 30.0f << "3";
    QTest::newRow("filter negative") << 2 << -35.0f << "-3.5";
    QTest::newRow("filter 1") << 2 << 1.0f << "0.1";
    QTest::newRow("curve enable 1") << 0 << 1.0f << "1";
    QTest::newRow("unit 35 stays whole") << 3 << 35.0f << "35";
    QTest::newRow("input 1 upper limit") << 10 << 1300.0f << "1300";
    QTest::newRow("input 1 offset negative") << 12 << -15.0f << "-15";
    QTest::newRow("open state 27") << 27 << 2.0f << "2";
    QTest::newRow("retransmission 2 lower limit negative") << 47 << -1999.0f << "-1999";
}

void TestStatusTexts::parameters()
{
    QFETCH(int, index);
    QFETCH(float, raw);
    QFETCH(QString, text);
    RegisterImage image;
    image.paramImage[std::size_t(index)] = raw;
    const StatusTexts t = statusTexts(image);
    QCOMPARE(t.params[std::size_t(index)], text);
    QCOMPARE(paramText(index, raw), text);
}

void TestStatusTexts::unlabelledParametersStayEmpty()
{
    RegisterImage image;
    for (int i = 0; i < reg::kParamCount; ++i)
        image.paramImage[std::size_t(i)] = float(i + 1);
    const StatusTexts t = statusTexts(image);
    const QSet<int> unlabelled{4, 5, 6, 7, 13, 14, 15, 21, 22, 23};
    for (int i = 0; i < reg::kParamCount; ++i) {
        if (unlabelled.contains(i))
            QVERIFY2(t.params[std::size_t(i)].isEmpty(), qPrintable(QString::number(i)));
        else
            QCOMPARE(t.params[std::size_t(i)], paramText(i, float(i + 1)));
    }
    QCOMPARE(t.params[2], QStringLiteral("0.3"));
}

void TestStatusTexts::setValuesAndAlarmWords()
{
    RegisterImage image;
    image.holdingWords = {250, -30, 1, 7, 7, 7, 7, 7};
    image.alarmWords = {100, 2, 30, -5, 1, 0, 99, 99};
    const StatusTexts t = statusTexts(image);
    QCOMPARE(t.setValue[0], QStringLiteral("250"));
    QCOMPARE(t.setValue[1], QStringLiteral("-30"));
    const QStringList alarms{"100", "2", "30", "-5", "1", "0"};
    for (int i = 0; i < kAlarmLabelCount; ++i)
        QCOMPARE(t.alarms[std::size_t(i)], alarms[i]);
}

void TestStatusTexts::parameterTable()
{
    QCOMPARE(int(kPanelParams.size()), 38);
    QSet<int> expected;
    for (int i : {0, 1, 2, 3})
        expected.insert(i);
    for (int i = 8; i <= 12; ++i)
        expected.insert(i);
    for (int i = 16; i <= 20; ++i)
        expected.insert(i);
    for (int i = 24; i <= 47; ++i)
        expected.insert(i);
    QSet<int> seen;
    for (const PanelParam &p : kPanelParams)
        seen.insert(p.index);
    QCOMPARE(seen, expected);

    QVERIFY(panelParam(4) == nullptr);
    QVERIFY(panelParam(48) == nullptr);
    QVERIFY(panelParam(-1) == nullptr);
    QCOMPARE(panelParam(0)->caption.toString(), QStringLiteral("曲线使能"));
    QCOMPARE(panelParam(27)->caption.toString(), QStringLiteral("输人1开路状态"));
    QCOMPARE(panelParam(31)->caption.toString(), QStringLiteral("输入2开路状态"));
    QCOMPARE(panelParam(9)->caption.toString(), QStringLiteral("小数点位置"));
    QCOMPARE(panelParam(17)->caption.toString(), QStringLiteral("小数点位置"));
    QCOMPARE(panelParam(47)->caption.toString(), QStringLiteral("变送2下限"));
    // Left half of the panel's table in the first group, right half in the second.
    for (const PanelParam &p : kPanelParams)
        QCOMPARE(p.group, p.index < 28 ? 0 : 1);
}

STATION_TEST_MAIN_CORE(TestStatusTexts)
#include "tst_statustexts.moc"
