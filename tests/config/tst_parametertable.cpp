// The parameter table and its option lists: what the window and everything
// else that names a configuration parameter rely on.
#include "config/parametertable.h"

#include "tests/support/testenv.h"

#include <QSet>
#include <QTest>

using namespace station::config;

class TestParameterTable : public QObject {
    Q_OBJECT
private slots:
    void rows();
    void pages_data();
    void pages();
    void entryControls();
    void optionListsNumberedWithoutGaps();
};

void TestParameterTable::rows()
{
    const auto table = parameters();
    QCOMPARE(int(table.size()), 38);
    QList<int> elements;
    for (std::size_t k = 0; k < table.size(); ++k) {
        const Parameter &p = table[k];
        if (k > 0)
            QVERIFY2(table[k - 1].reg < p.reg, "registers unique and in order");
        QCOMPARE(parameterForRegister(p.reg), &p);
        QCOMPARE(parameterForElement(p.element()), &p);
        QVERIFY(!p.caption.isEmpty() && !p.hint.isEmpty());
        QCOMPARE(p.footHint.isEmpty(), p.reg != 4099);
        elements.append(p.element());
    }
    QList<int> expected;
    for (auto [first, last] : {std::pair{0, 3}, {8, 12}, {16, 20}, {24, 47}})
        for (int i = first; i <= last; ++i)
            expected.append(i);
    QCOMPARE(elements, expected);
    for (int unused : {4, 7, 13, 15, 21, 23, -1, 48})
        QCOMPARE(parameterForElement(unused), nullptr);
}

void TestParameterTable::pages_data()
{
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QList<int>>("registers");
    QTest::newRow("INST") << 0 << "INST" << QList<int>{4097, 4098, 4099, 4100};
    QTest::newRow("输入1") << 1 << "输入1" << QList<int>{4105, 4106, 4107, 4108, 4109};
    QTest::newRow("输入2") << 2 << "输入2" << QList<int>{4113, 4114, 4115, 4116, 4117};
    QTest::newRow("输出1") << 3 << "输出1" << QList<int>{4121, 4122, 4123, 4124};
    QTest::newRow("输出2") << 4 << "输出2" << QList<int>{4125, 4126, 4127, 4128};
    QTest::newRow("报警") << 5 << "报警" << QList<int>{4129, 4130, 4131, 4132};
    QTest::newRow("通讯") << 6 << "通讯" << QList<int>{4133, 4134, 4135, 4136};
    QTest::newRow("变送1") << 7 << "变送1" << QList<int>{4137, 4138, 4139, 4140};
    QTest::newRow("变送2") << 8 << "变送2" << QList<int>{4141, 4142, 4143, 4144};
}

void TestParameterTable::pages()
{
    QFETCH(int, page);
    QFETCH(QString, caption);
    QFETCH(QList<int>, registers);
    const Page which = kPages[std::size_t(page)];
    QCOMPARE(pageCaption(which).toString(), caption);
    QList<int> actual;
    for (const Parameter &p : parameters())
        if (p.page == which)
            actual.append(p.reg);
    QCOMPARE(actual, registers);
}

void TestParameterTable::entryControls()
{
    QSet<QString> combos;
    QList<int> textBoxes;
    for (const Parameter &p : parameters()) {
        const QString name = entryControlName(p);
        QCOMPARE(p.options != nullptr, p.isEnumerated());
        QCOMPARE(p.scale, p.reg == 4099 ? 10 : 1);
        if (p.isEnumerated()) {
            QVERIFY2(name.startsWith(u"Combo"), qPrintable(name));
            combos.insert(name);
        } else {
            QCOMPARE(name, QStringLiteral("T_3RW_%1").arg(p.element()));
            textBoxes.append(p.element());
        }
    }
    QSet<QString> expected;
    for (int n : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 27, 28, 29})
        expected.insert(QStringLiteral("Combo%1").arg(n));
    QCOMPARE(combos, expected);
    QCOMPARE(entryControlName(*parameterForRegister(4134)), QStringLiteral("Combo8"));
    QCOMPARE(textBoxes, (QList<int>{2, 10, 11, 12, 18, 19, 20, 24, 25, 26, 28, 29, 30, 36, 39, 42, 43, 46, 47}));
}

void TestParameterTable::optionListsNumberedWithoutGaps()
{
    QSet<const OptionList *> used;
    for (const Parameter &p : parameters())
        if (p.options)
            used.insert(p.options);
    QCOMPARE(used.size(), 11);
    QCOMPARE(int(optionLists().size()), 11);
    for (const OptionList *list : optionLists()) {
        QVERIFY(used.contains(list));
        for (int code = 0; code < list->size(); ++code) {
            const Option &option = list->options[std::size_t(code)];
            QVERIFY2(option.entry.startsWith(QString::number(code) + u':'), qPrintable(option.entry.toString()));
            QCOMPARE(list->optionNumber(option.entry), code);
        }
    }
    // Both channels offer the same 13 sensor types, whatever their hints say.
    QCOMPARE(kSensorTypeList.size(), 13);
    QCOMPARE(parameterForRegister(4105)->options, &kSensorTypeList);
    QCOMPARE(parameterForRegister(4113)->options, &kSensorTypeList);
}

STATION_TEST_MAIN_CORE(TestParameterTable)
#include "tst_parametertable.moc"
