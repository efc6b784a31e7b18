// The parameter table and its option lists: what the window, the status panel
// and the simulator rely on when they name a configuration parameter.
#include "config/parametertable.h"

#include "tests/support/testenv.h"

#include <QSet>
#include <QTest>

using namespace station::config;

namespace {

QList<int> elements(int first, int last)
{
    QList<int> out;
    for (int i = first; i <= last; ++i)
        out.append(i);
    return out;
}

} // namespace

class TestParameterTable : public QObject {
    Q_OBJECT
private slots:
    void rowsInRegisterOrder();
    void elementsInUse();
    void pages_data();
    void pages();
    void entryControls();
    void optionListsNumberedWithoutGaps();
    void optionNumberNeedsTheWholeEntry_data();
    void optionNumberNeedsTheWholeEntry();
    void pairedRowsShareLists_data();
    void pairedRowsShareLists();
    void footHintOnlyForTheFilter();
};

void TestParameterTable::rowsInRegisterOrder()
{
    const auto table = parameters();
    QCOMPARE(int(table.size()), kParameterCount);
    QCOMPARE(kParameterCount, 38);
    for (std::size_t k = 1; k < table.size(); ++k)
        QVERIFY2(table[k - 1].reg < table[k].reg, qPrintable(QString::number(table[k].reg)));
    QCOMPARE(table.front().reg, 4097);
    QCOMPARE(table.back().reg, 4144);
    for (const Parameter &p : table) {
        QCOMPARE(parameterForRegister(p.reg), &p);
        QCOMPARE(parameterForElement(p.element()), &p);
        QVERIFY(!p.caption.isEmpty());
        QVERIFY(!p.hint.isEmpty());
    }
}

void TestParameterTable::elementsInUse()
{
    const QList<int> expected = elements(0, 3) + elements(8, 12) + elements(16, 20) + elements(24, 47);
    QList<int> actual;
    for (const Parameter &p : parameters())
        actual.append(p.element());
    QCOMPARE(actual, expected);
    // Read with the block but neither shown nor written.
    for (int unused : elements(4, 7) + elements(13, 15) + elements(21, 23))
        QCOMPARE(parameterForElement(unused), nullptr);
    QCOMPARE(parameterForRegister(4096), nullptr);
    QCOMPARE(parameterForRegister(4145), nullptr);
}

void TestParameterTable::pages_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QList<int>>("registers");
    QTest::addColumn<QStringList>("captions");

    QTest::newRow("INST") << 0 << "INST" << QList<int>{4097, 4098, 4099, 4100}
                          << QStringList{"程序曲线使能", "上电报警免除", "数字滤波", "温度单位"};
    QTest::newRow("输入1") << 1 << "输入1" << QList<int>{4105, 4106, 4107, 4108, 4109}
                           << QStringList{"输入传感器类型", "小数点位置", "输入上限", "输入下限", "平移修正"};
    QTest::newRow("输入2") << 2 << "输入2" << QList<int>{4113, 4114, 4115, 4116, 4117}
                           << QStringList{"输入传感器类型", "小数点位置", "输入上限", "输入下限", "平移修正"};
    QTest::newRow("输出1") << 3 << "输出1" << QList<int>{4121, 4122, 4123, 4124}
                           << QStringList{"输出1动作回差", "输出1动作延迟", "再动作保护时间", "输入开路状态"};
    QTest::newRow("输出2") << 4 << "输出2" << QList<int>{4125, 4126, 4127, 4128}
                           << QStringList{"输出2动作回差", "输出2动作延迟", "再动作保护时间", "输入开路状态"};
    QTest::newRow("报警") << 5 << "报警" << QList<int>{4129, 4130, 4131, 4132}
                          << QStringList{"报警1方式", "报警2方式", "报警1作用通道", "报警2作用通道"};
    QTest::newRow("通讯") << 6 << "通讯" << QList<int>{4133, 4134, 4135, 4136}
                          << QStringList{"通讯地址", "通讯波特率", "校验方式", "通讯延迟时间"};
    QTest::newRow("变送1") << 7 << "变送1" << QList<int>{4137, 4138, 4139, 4140}
                           << QStringList{"变送量程选择", "变送参数选择", "变送上限选择", "变送下限选择"};
    QTest::newRow("变送2") << 8 << "变送2" << QList<int>{4141, 4142, 4143, 4144}
                           << QStringList{"变送量程选择", "变送参数选择", "变送上限选择", "变送下限选择"};
}

void TestParameterTable::pages()
{
    QFETCH(int, page);
    QFETCH(QString, caption);
    QFETCH(QList<int>, registers);
    QFETCH(QStringList, captions);

    QCOMPARE(int(kPages[std::size_t(page)]), page);
    QCOMPARE(pageCaption(kPages[std::size_t(page)]).toString(), caption);
    QList<int> actualRegisters;
    QStringList actualCaptions;
    for (const Parameter &p : parameters()) {
        if (p.page == kPages[std::size_t(page)]) {
            actualRegisters.append(p.reg);
            actualCaptions.append(p.caption.toString());
        }
    }
    QCOMPARE(actualRegisters, registers);
    QCOMPARE(actualCaptions, captions);
}

void TestParameterTable::entryControls()
{
    QSet<QString> combos;
    QList<int> textBoxes;
    QSet<QString> names;
    for (const Parameter &p : parameters()) {
        const QString name = entryControlName(p);
        QVERIFY2(!names.contains(name), qPrintable(name));
        names.insert(name);
        if (p.isEnumerated()) {
            QVERIFY2(p.options, qPrintable(name));
            QCOMPARE(p.scale, 1);
            QVERIFY2(name.startsWith(u"Combo"), qPrintable(name));
            combos.insert(name);
        } else {
            QCOMPARE(p.options, nullptr);
            QCOMPARE(name, QStringLiteral("T_3RW_%1").arg(p.element()));
            QCOMPARE(p.scale, p.reg == 4099 ? 10 : 1);
            textBoxes.append(p.element());
        }
    }
    QSet<QString> expectedCombos;
    for (int n = 1; n <= 16; ++n)
        expectedCombos.insert(QStringLiteral("Combo%1").arg(n));
    for (int n = 27; n <= 29; ++n)
        expectedCombos.insert(QStringLiteral("Combo%1").arg(n));
    QCOMPARE(combos.size(), 19);
    QCOMPARE(combos, expectedCombos);
    QCOMPARE(textBoxes, (QList<int>{2, 10, 11, 12, 18, 19, 20, 24, 25, 26, 28, 29, 30, 36, 39, 42, 43, 46, 47}));
    QCOMPARE(entryControlName(*parameterForRegister(4134)), QStringLiteral("Combo8"));
    QCOMPARE(entryControlName(*parameterForRegister(4097)), QStringLiteral("Combo14"));
}

void TestParameterTable::optionListsNumberedWithoutGaps()
{
    QSet<const OptionList *> used;
    for (const Parameter &p : parameters())
        if (p.options)
            used.insert(p.options);
    QCOMPARE(int(optionLists().size()), 11);
    QCOMPARE(used.size(), 11);
    for (const OptionList *list : optionLists()) {
        QVERIFY(used.contains(list));
        QVERIFY(list->size() >= 2);
        for (int code = 0; code < list->size(); ++code) {
            const Option &option = list->options[std::size_t(code)];
            const QString prefix = QString::number(code) + u':';
            QVERIFY2(option.entry.startsWith(prefix), qPrintable(option.entry.toString()));
            QVERIFY(!option.display.isEmpty());
            QCOMPARE(list->optionNumber(option.entry), code);
            QCOMPARE(list->displayFor(float(code))->toString(), option.display.toString());
        }
        QVERIFY(!list->displayFor(float(list->size())));
        QVERIFY(!list->displayFor(-1.0f));
        QVERIFY(!list->displayFor(0.5f));
    }
    // Both channels offer all 13 sensor types, whatever channel 2's hint says.
    QCOMPARE(kSensorTypeList.size(), 13);
    QCOMPARE(parameterForRegister(4105)->options, &kSensorTypeList);
    QCOMPARE(parameterForRegister(4113)->options, &kSensorTypeList);
}

void TestParameterTable::optionNumberNeedsTheWholeEntry_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("number");
    QTest::newRow("entry") << "2:19200BPS " << 2;
    QTest::newRow("first entry") << "0:4800BPS " << 0;
    QTest::newRow("without the trailing blank") << "2:19200BPS" << -1;
    QTest::newRow("bare code") << "2" << -1;
    QTest::newRow("display text") << "19200" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("other case") << "2:19200bps " << -1;
}

void TestParameterTable::optionNumberNeedsTheWholeEntry()
{
    QFETCH(QString, text);
    QFETCH(int, number);
    QCOMPARE(kBaudRateList.optionNumber(text), number);
}

void TestParameterTable::pairedRowsShareLists_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<bool>("sameCaption");
    QTest::addColumn<bool>("sameHint");
    QTest::newRow("sensor type") << 4105 << 4113 << true << false;  // "12种" / "11种"
    QTest::newRow("decimal point") << 4106 << 4114 << true << true;
    QTest::newRow("input upper limit") << 4107 << 4115 << true << true;
    QTest::newRow("output hysteresis") << 4121 << 4125 << false << true;  // "输出1..." / "输出2..."
    QTest::newRow("open input") << 4124 << 4128 << true << true;
    QTest::newRow("alarm mode") << 4129 << 4130 << false << true;
    QTest::newRow("alarm channel") << 4131 << 4132 << false << false;  // default 0 / 1
    QTest::newRow("retransmission range") << 4137 << 4141 << true << true;
    QTest::newRow("retransmission source") << 4138 << 4142 << true << true;
    QTest::newRow("retransmission lower limit") << 4140 << 4144 << true << true;
}

void TestParameterTable::pairedRowsShareLists()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(bool, sameCaption);
    QFETCH(bool, sameHint);
    const Parameter *a = parameterForRegister(first);
    const Parameter *b = parameterForRegister(second);
    QVERIFY(a && b);
    QCOMPARE(a->caption == b->caption, sameCaption);
    QCOMPARE(a->options, b->options);
    QCOMPARE(a->hint == b->hint, sameHint);
}

void TestParameterTable::footHintOnlyForTheFilter()
{
    for (const Parameter &p : parameters()) {
        if (p.reg == 4099)
            QCOMPARE(p.footHint.toString(), QStringLiteral("0.1-100.0S。 数值越大响应越慢。默认值：1S"));
        else
            QVERIFY2(p.footHint.isEmpty(), qPrintable(QString::number(p.reg)));
    }
    QCOMPARE(parameterForRegister(4099)->hint.toString(), QStringLiteral("0.1-100秒，默认1秒"));
}

STATION_TEST_MAIN_CORE(TestParameterTable)
#include "tst_parametertable.moc"
