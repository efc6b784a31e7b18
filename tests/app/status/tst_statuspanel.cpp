// The status panel's widgets, found by object name the way the main window and
// UI automation find them.
#include "app/status/panelwidgets.h"
#include "app/status/statuspanel.h"
#include "common/colors.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QVBoxLayout>

using namespace station;
using namespace station::status;

namespace {

template <typename T = QLabel>
T *named(const QWidget *root, const QString &name)
{
    const QList<T *> found = root->findChildren<T *>(name);
    return found.size() == 1 ? found.front() : nullptr;
}

QLabel *label(const QWidget *root, const char *name, int index)
{
    return named(root, QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(index));
}

QColor bg(const QWidget *widget)
{
    return widget->palette().color(QPalette::Window);
}

} // namespace

class TestStatusPanel : public QObject {
    Q_OBJECT
private slots:
    void everyControlIsNamed();
    void namesAreUnique();
    void groupCaptions();
    void captionsBesideLabels();
    void commandsSitInTheirGroups();
    void initialTextsAndDesignColours();
    void processLabels_data();
    void processLabels();
    void alarmKindLabels_data();
    void alarmKindLabels();
    void runStateLabel_data();
    void runStateLabel();
    void stateLabelsBothWays_data();
    void stateLabelsBothWays();
    void parameterLabels();
    void setValueAndAlarmLabels();
    void refreshRewritesEveryLabel();
    void liveColoursAndClock();
    void accessorsMatchNames();
    void groupsKeepWorkingInAnotherWindow();
    void groupsAreCompact();
};

void TestStatusPanel::everyControlIsNamed()
{
    StatusPanel panel;
    QStringList expected;
    auto add = [&](const char *name, std::initializer_list<int> indexes) {
        for (int i : indexes)
            expected << QStringLiteral("%1_%2").arg(QLatin1String(name)).arg(i);
    };
    add("D_3W", {0, 1, 2, 3, 4, 5, 6, 7});
    add("State", {0, 1, 2, 3, 4, 5});
    add("Pro", {0, 1, 2, 3, 4, 5, 6, 7, 8});
    add("SV", {0, 1});
    add("Alm1", {0, 1, 2, 3, 4, 5});
    add("Label2", {9, 10});
    for (const PanelParam &p : kPanelParams)
        expected << QStringLiteral("Para_%1").arg(p.index);
    for (const QString &name : expected) {
        QLabel *l = named(&panel, name);
        QVERIFY2(l, qPrintable(name));
        QCOMPARE(l->accessibleDescription(), name);
        QVERIFY2(qobject_cast<ValueLabel *>(l), qPrintable(name));
    }

    QVERIFY(named<QComboBox>(&panel, "Combo3"));
    QVERIFY(named<QPushButton>(&panel, "Command14"));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(named<QLineEdit>(&panel, QStringLiteral("Text1_%1").arg(i)));
        QVERIFY(named<QPushButton>(&panel, QStringLiteral("Command12_%1").arg(i)));
    }
    for (int i = 0; i < 6; ++i) {
        QVERIFY(named<QLineEdit>(&panel, QStringLiteral("Alm11_%1").arg(i)));
        QVERIFY(named<QPushButton>(&panel, QStringLiteral("Alm111_%1").arg(i)));
    }
    // No parameter label where the panel has none.
    for (int i : {4, 5, 6, 7, 13, 14, 15, 21, 22, 23})
        QVERIFY(!label(&panel, "Para", i));
}

void TestStatusPanel::namesAreUnique()
{
    StatusPanel panel;
    QSet<QString> seen;
    for (QWidget *w : panel.findChildren<QWidget *>()) {
        if (w->objectName().isEmpty() || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QVERIFY2(!seen.contains(w->objectName()), qPrintable(w->objectName()));
        seen.insert(w->objectName());
        QCOMPARE(w->accessibleDescription(), w->objectName());
    }
    // Every label, entry, button and group carries a name.
    for (QWidget *w : panel.findChildren<QWidget *>()) {
        if (qobject_cast<QLabel *>(w) || qobject_cast<QLineEdit *>(w) || qobject_cast<QPushButton *>(w)
            || qobject_cast<QGroupBox *>(w)) {
            if (qobject_cast<QLineEdit *>(w) && qobject_cast<QComboBox *>(w->parentWidget()))
                continue; // the combo box's own line edit
            QVERIFY2(!w->objectName().isEmpty(), w->metaObject()->className());
        }
    }
}

void TestStatusPanel::groupCaptions()
{
    StatusPanel panel;
    QCOMPARE(named<QGroupBox>(&panel, "ProgramGroup")->title(), QStringLiteral("曲线状态"));
    QCOMPARE(named<QGroupBox>(&panel, "PvGroup")->title(), QStringLiteral("PV状态"));
    QCOMPARE(named<QGroupBox>(&panel, "AlarmStateGroup")->title(), QStringLiteral("当前报警"));
    QCOMPARE(named<QGroupBox>(&panel, "ParamGroup_0")->title(), QString());
    QCOMPARE(named<QGroupBox>(&panel, "ParamGroup_1")->title(), QString());
    QCOMPARE(named<QGroupBox>(&panel, "AlarmParamGroup")->title(), QString());
}

void TestStatusPanel::captionsBesideLabels()
{
    StatusPanel panel;
    const QStringList program{"曲线状态", "PV1", "SV1", "PV2", "SV2", "当前段号", "段剩余", "总剩余", "循环次数"};
    for (int i = 0; i < 9; ++i) {
        QLabel *caption = label(&panel, "ProCap", i);
        QVERIFY(caption);
        QCOMPARE(caption->text(), program[i]);
        QCOMPARE(caption->parentWidget(), label(&panel, "Pro", i)->parentWidget());
    }
    QCOMPARE(label(&panel, "PvCap", 0)->text(), QStringLiteral("测量值PV1"));
    QCOMPARE(label(&panel, "PvCap", 1)->text(), QStringLiteral("设定值PV2"));
    QCOMPARE(label(&panel, "PctCap", 0)->text(), QStringLiteral("变送1百分比"));
    QCOMPARE(label(&panel, "PctCap", 1)->text(), QStringLiteral("变送2百分比"));
    QCOMPARE(label(&panel, "ParaCap", 0)->text(), QStringLiteral("曲线使能"));
    QCOMPARE(label(&panel, "ParaCap", 27)->text(), QStringLiteral("输人1开路状态"));
    QCOMPARE(label(&panel, "ParaCap", 31)->text(), QStringLiteral("输入2开路状态"));
    for (const PanelParam &p : kPanelParams) {
        QLabel *caption = label(&panel, "ParaCap", p.index);
        QVERIFY(caption);
        QCOMPARE(caption->text(), p.caption.toString());
        QCOMPARE(caption->parentWidget(), panel.paramGroups()[std::size_t(p.group)]);
        QCOMPARE(label(&panel, "Para", p.index)->parentWidget(), caption->parentWidget());
    }
    const QStringList alarms{"报警1设定值", "报警1动作回差", "报警1延迟时间", "报警2设定值", "报警2动作回差", "报警2延迟时间"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(label(&panel, "AlmCap", i)->text(), alarms[i]);
}

void TestStatusPanel::commandsSitInTheirGroups()
{
    StatusPanel panel;
    QCOMPARE(named<QPushButton>(&panel, "Command14")->text(), QStringLiteral("设定曲线"));
    QCOMPARE(named<QPushButton>(&panel, "Command14")->parentWidget(), panel.programGroup());
    QCOMPARE(named<QComboBox>(&panel, "Combo3")->parentWidget(), panel.programGroup());
    QVERIFY(named<QComboBox>(&panel, "Combo3")->isEditable());
    QCOMPARE(named<QComboBox>(&panel, "Combo3")->count(), 0);
    QCOMPARE(named<QPushButton>(&panel, "Command12_0")->text(), QStringLiteral("设定SV1"));
    QCOMPARE(named<QPushButton>(&panel, "Command12_1")->text(), QStringLiteral("设定SV2"));
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(named<QLineEdit>(&panel, QStringLiteral("Text1_%1").arg(i))->parentWidget(), panel.pvGroup());
        QCOMPARE(label(&panel, "SV", i)->parentWidget(), panel.pvGroup());
    }
    for (int i = 0; i < 6; ++i) {
        auto *button = named<QPushButton>(&panel, QStringLiteral("Alm111_%1").arg(i));
        QCOMPARE(button->text(), QStringLiteral("DOWNLOAD"));
        QCOMPARE(button->parentWidget(), panel.alarmParamGroup());
        QCOMPARE(named<QLineEdit>(&panel, QStringLiteral("Alm11_%1").arg(i))->parentWidget(), panel.alarmParamGroup());
        QCOMPARE(label(&panel, "Alm1", i)->parentWidget(), panel.alarmParamGroup());
    }
    for (int i = 0; i < 6; ++i)
        QCOMPARE(label(&panel, "D_3W", i)->parentWidget(), panel.pvGroup());
    for (int i = 6; i < 8; ++i)
        QCOMPARE(label(&panel, "D_3W", i)->parentWidget(), panel.alarmStateGroup());
    for (int k = 0; k < 6; ++k)
        QCOMPARE(label(&panel, "State", k)->parentWidget(), panel.alarmStateGroup());
    QCOMPARE(label(&panel, "Label2", 9)->parentWidget(), panel.clockWidget());
    QCOMPARE(label(&panel, "Label2", 10)->parentWidget(), panel.clockWidget());
}

void TestStatusPanel::initialTextsAndDesignColours()
{
    StatusPanel panel;
    QCOMPARE(label(&panel, "Pro", 0)->text(), QStringLiteral("停止  "));
    for (int i = 1; i < 9; ++i)
        QCOMPARE(label(&panel, "Pro", i)->text(), QStringLiteral("0"));
    for (int i = 0; i < 6; ++i)
        QCOMPARE(label(&panel, "D_3W", i)->text(), QStringLiteral("0"));
    QCOMPARE(label(&panel, "D_3W", 6)->text(), QStringLiteral("NONE  "));
    QCOMPARE(label(&panel, "D_3W", 7)->text(), QStringLiteral("NONE "));
    for (int k = 0; k < 6; ++k)
        QCOMPARE(bg(label(&panel, "State", k)), colors::kLightCyan);
    QCOMPARE(label(&panel, "State", 1)->text(), QStringLiteral("控制2 OFF "));
    for (const PanelParam &p : kPanelParams) {
        QCOMPARE(label(&panel, "Para", p.index)->text(), QStringLiteral("0"));
        QCOMPARE(bg(label(&panel, "Para", p.index)), colors::kLightCyan);
    }
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(label(&panel, "Alm1", i)->text(), QStringLiteral("0"));
        QCOMPARE(bg(label(&panel, "Alm1", i)), colors::kLightCyan);
    }
    for (int i = 0; i < 9; ++i)
        QCOMPARE(bg(label(&panel, "Pro", i)), colors::kLightCyan);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(bg(label(&panel, "D_3W", i)), colors::kPink);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(label(&panel, "SV", i)->text(), QStringLiteral("0"));
        QCOMPARE(bg(label(&panel, "SV", i)), colors::kPink);
    }
    QCOMPARE(bg(label(&panel, "Label2", 9)), colors::kClockGreen);
    QVERIFY(label(&panel, "Label2", 9)->autoFillBackground());
}

void TestStatusPanel::processLabels_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("raw");
    QTest::addColumn<QString>("text");
    QTest::newRow("input 1 503") << 1 << 503 << "503";
    QTest::newRow("input 2 -20") << 2 << -20 << "-20";
    QTest::newRow("input 3 800") << 3 << 800 << "800";
    QTest::newRow("input 4 -1999") << 4 << -1999 << "-1999";
    QTest::newRow("input 5 503") << 5 << 503 << "50.3";
    QTest::newRow("input 6 -7") << 6 << -7 << "-0.7";
}

void TestStatusPanel::processLabels()
{
    QFETCH(int, reg);
    QFETCH(int, raw);
    QFETCH(QString, text);
    StatusPanel panel;
    RegisterImage image;
    image.liveSample[std::size_t(reg - 1)] = float(raw);
    panel.refresh(image);
    QCOMPARE(label(&panel, "D_3W", reg - 1)->text(), text);
}

void TestStatusPanel::alarmKindLabels_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text6");
    QTest::addColumn<QString>("text7");
    QTest::newRow("0") << 0 << "NONE  " << "NONE ";
    QTest::newRow("1") << 1 << "上限报警" << "上限报警";
    QTest::newRow("2") << 2 << "下限报警" << "下限报警";
    QTest::newRow("3") << 3 << "上偏差报警" << "上偏差报警";
    QTest::newRow("4") << 4 << "下偏差报警" << "下偏差报警";
    QTest::newRow("5") << 5 << "偏差带报警" << "偏差带报警";
    QTest::newRow("6 stays a number") << 6 << "6" << "6";
}

void TestStatusPanel::alarmKindLabels()
{
    QFETCH(int, kind);
    QFETCH(QString, text6);
    QFETCH(QString, text7);
    StatusPanel panel;
    RegisterImage image;
    image.liveSample[6] = float(kind);
    panel.refresh(image);
    QCOMPARE(label(&panel, "D_3W", 6)->text(), text6);
    QCOMPARE(label(&panel, "D_3W", 7)->text(), QStringLiteral("NONE "));
    image.liveSample[6] = 0;
    image.liveSample[7] = float(kind);
    panel.refresh(image);
    QCOMPARE(label(&panel, "D_3W", 6)->text(), QStringLiteral("NONE  "));
    QCOMPARE(label(&panel, "D_3W", 7)->text(), text7);
}

void TestStatusPanel::runStateLabel_data()
{
    QTest::addColumn<int>("word");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "停止  ";
    QTest::newRow("1") << 1 << "运行";
    QTest::newRow("2") << 2 << "暂停";
    QTest::newRow("3") << 3 << "结束";
    QTest::newRow("4 stays a number") << 4 << "4";
}

void TestStatusPanel::runStateLabel()
{
    QFETCH(int, word);
    QFETCH(QString, text);
    StatusPanel panel;
    RegisterImage image;
    image.programStatus[0] = word;
    image.programStatus[5] = 3; // current segment
    panel.refresh(image);
    QCOMPARE(label(&panel, "Pro", 0)->text(), text);
    QCOMPARE(label(&panel, "Pro", 5)->text(), QStringLiteral("3"));
}

void TestStatusPanel::stateLabelsBothWays_data()
{
    QTest::addColumn<int>("k");
    QTest::addColumn<QString>("off");
    QTest::addColumn<QString>("on");
    QTest::newRow("control 1") << 0 << "控制1 OFF" << "控制1 ON";
    QTest::newRow("control 2") << 1 << "控制2 OFF " << "控制2 ON";
    QTest::newRow("alarm 1") << 2 << "ALM1 OFF" << "ALM1报警";
    QTest::newRow("alarm 2") << 3 << "ALM2 OFF" << "ALM2 报警";
    QTest::newRow("sensor 1") << 4 << "传感器正常 " << "传感器1开路";
    QTest::newRow("sensor 2") << 5 << "传感器正常 " << "传感器2开路";
}

void TestStatusPanel::stateLabelsBothWays()
{
    QFETCH(int, k);
    QFETCH(QString, off);
    QFETCH(QString, on);
    StatusPanel panel;
    QLabel *state = label(&panel, "State", k);
    RegisterImage image;
    image.discreteBits[std::size_t(k)] = 1;
    panel.refresh(image);
    QCOMPARE(state->text(), on);
    QCOMPARE(bg(state), colors::kPink);
    for (int j = 0; j < 6; ++j)
        if (j != k)
            QCOMPARE(bg(label(&panel, "State", j)), colors::kLightCyan);
    image.discreteBits[std::size_t(k)] = 0;
    panel.refresh(image);
    QCOMPARE(state->text(), off);
    QCOMPARE(bg(state), colors::kLightCyan);
}

void TestStatusPanel::parameterLabels()
{
    StatusPanel panel;
    RegisterImage image;
    image.paramImage[2] = 35;    // holding 4099, in tenths
    image.paramImage[10] = 1300;
    image.paramImage[11] = -50;
    image.paramImage[27] = 1;
    image.paramImage[47] = -1999;
    image.paramImage[4] = 77;    // no label on the panel
    panel.refresh(image);
    QCOMPARE(label(&panel, "Para", 2)->text(), QStringLiteral("3.5"));
    QCOMPARE(label(&panel, "Para", 10)->text(), QStringLiteral("1300"));
    QCOMPARE(label(&panel, "Para", 11)->text(), QStringLiteral("-50"));
    QCOMPARE(label(&panel, "Para", 27)->text(), QStringLiteral("1"));
    QCOMPARE(label(&panel, "Para", 47)->text(), QStringLiteral("-1999"));
    QCOMPARE(label(&panel, "Para", 3)->text(), QStringLiteral("0"));
    for (QLabel *l : panel.findChildren<QLabel *>())
        QVERIFY2(l->text() != QLatin1String("77"), qPrintable(l->objectName()));
}

void TestStatusPanel::setValueAndAlarmLabels()
{
    StatusPanel panel;
    RegisterImage image;
    image.holdingWords[0] = 255;
    image.holdingWords[1] = -12;
    image.holdingWords[2] = 3; // run command: not shown
    image.alarmWords = {150, 2, 10, -40, 5, 0, 4321, 4321};
    panel.refresh(image);
    QCOMPARE(label(&panel, "SV", 0)->text(), QStringLiteral("255"));
    QCOMPARE(label(&panel, "SV", 1)->text(), QStringLiteral("-12"));
    const QStringList alarms{"150", "2", "10", "-40", "5", "0"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(label(&panel, "Alm1", i)->text(), alarms[i]);
    for (QLabel *l : panel.findChildren<QLabel *>())
        QVERIFY2(l->text() != QLatin1String("4321"), qPrintable(l->objectName()));
}

void TestStatusPanel::refreshRewritesEveryLabel()
{
    // The panel has no state: after a busy image, a zero image brings back every
    // initial text and colour.
    StatusPanel fresh;
    StatusPanel panel;
    RegisterImage busy;
    busy.liveSample = {1, 2, 3, 4, 5, 6, 3, 4, 100, 0};
    busy.programStatus.fill(2);
    busy.holdingWords.fill(9);
    busy.paramImage.fill(11);
    busy.alarmWords.fill(13);
    busy.discreteBits.fill(1);
    panel.refresh(busy);
    QCOMPARE(label(&panel, "State", 3)->text(), QStringLiteral("ALM2 报警"));
    QCOMPARE(label(&panel, "D_3W", 7)->text(), QStringLiteral("下偏差报警"));
    QCOMPARE(label(&panel, "Pro", 0)->text(), QStringLiteral("暂停"));
    panel.refresh(RegisterImage{});
    const QList<ValueLabel *> labels = fresh.findChildren<ValueLabel *>();
    QVERIFY(labels.size() > 60);
    for (ValueLabel *expected : labels) {
        QLabel *actual = named(&panel, expected->objectName());
        QVERIFY(actual);
        QCOMPARE(actual->text(), expected->text());
        QCOMPARE(bg(actual), bg(expected));
    }
}

void TestStatusPanel::liveColoursAndClock()
{
    StatusPanel panel;
    const QColor cursor(255, 255, 0);
    for (int i = 0; i < 3; ++i)
        setBackground(panel.processLabel(i), cursor);
    setBackground(panel.processLabel(3), cursor);
    setBackground(panel.dateLabel(), cursor);
    setBackground(panel.timeLabel(), cursor);
    panel.showLiveColours();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(bg(label(&panel, "D_3W", i)), colors::kPink);
    QCOMPARE(bg(label(&panel, "D_3W", 3)), cursor); // only labels 0..2 are restored
    QCOMPARE(bg(label(&panel, "Label2", 9)), colors::kClockGreen);
    QCOMPARE(bg(label(&panel, "Label2", 10)), colors::kClockGreen);

    panel.showClock(QDateTime(QDate(2024, 3, 5), QTime(7, 8, 9)));
    QCOMPARE(label(&panel, "Label2", 9)->text(), QStringLiteral("03-05-2024"));
    QCOMPARE(label(&panel, "Label2", 10)->text(), QStringLiteral("07:08:09"));
    panel.showClock(QDateTime(QDate(1999, 12, 31), QTime(23, 59, 58)));
    QCOMPARE(label(&panel, "Label2", 9)->text(), QStringLiteral("12-31-1999"));
    QCOMPARE(label(&panel, "Label2", 10)->text(), QStringLiteral("23:59:58"));
}

void TestStatusPanel::accessorsMatchNames()
{
    StatusPanel panel;
    for (int i = 0; i < 9; ++i)
        QCOMPARE(panel.programLabel(i), label(&panel, "Pro", i));
    for (int i = 0; i < 8; ++i)
        QCOMPARE(panel.processLabel(i), label(&panel, "D_3W", i));
    for (int k = 0; k < 6; ++k)
        QCOMPARE(panel.stateLabel(k), label(&panel, "State", k));
    for (int i = 0; i < 48; ++i)
        QCOMPARE(panel.paramLabel(i), label(&panel, "Para", i));
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(panel.alarmLabel(i), label(&panel, "Alm1", i));
        QCOMPARE(panel.alarmEntry(i), named<QLineEdit>(&panel, QStringLiteral("Alm11_%1").arg(i)));
        QCOMPARE(panel.alarmButton(i), named<QPushButton>(&panel, QStringLiteral("Alm111_%1").arg(i)));
    }
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(panel.setValueLabel(i), label(&panel, "SV", i));
        QCOMPARE(panel.setValueEntry(i), named<QLineEdit>(&panel, QStringLiteral("Text1_%1").arg(i)));
        QCOMPARE(panel.setValueButton(i), named<QPushButton>(&panel, QStringLiteral("Command12_%1").arg(i)));
    }
    QCOMPARE(panel.runCommandBox(), named<QComboBox>(&panel, "Combo3"));
    QCOMPARE(panel.runCommandButton(), named<QPushButton>(&panel, "Command14"));
    QCOMPARE(panel.dateLabel(), label(&panel, "Label2", 9));
    QCOMPARE(panel.timeLabel(), label(&panel, "Label2", 10));
    QCOMPARE(panel.clockWidget(), named<QWidget>(&panel, "Clock"));
    QCOMPARE(panel.paramGroups()[1], named<QGroupBox>(&panel, "ParamGroup_1"));

    // Indexes the panel does not have give no control.
    QVERIFY(!panel.programLabel(9));
    QVERIFY(!panel.processLabel(-1));
    QVERIFY(!panel.processLabel(8));
    QVERIFY(!panel.stateLabel(6));
    QVERIFY(!panel.paramLabel(48));
    QVERIFY(!panel.alarmLabel(6));
    QVERIFY(!panel.alarmEntry(-1));
    QVERIFY(!panel.setValueButton(2));
}

void TestStatusPanel::groupsKeepWorkingInAnotherWindow()
{
    // The main window lays the groups out itself: moved into its layout, they are
    // still refreshed by the panel and found by name from the window.
    QWidget window;
    auto *panel = new StatusPanel(&window);
    auto *column = new QVBoxLayout(&window);
    column->addWidget(panel->clockWidget());
    column->addWidget(panel->pvGroup());
    column->addWidget(panel->alarmStateGroup());
    column->addWidget(panel->paramGroups()[0]);
    panel->hide();
    QCOMPARE(panel->pvGroup()->parentWidget(), &window);

    RegisterImage image;
    image.liveSample[4] = 503;
    image.discreteBits[2] = 1;
    image.paramImage[2] = 35;
    panel->refresh(image);
    panel->showClock(QDateTime(QDate(2023, 11, 2), QTime(14, 0, 1)));
    QCOMPARE(named(&window, "D_3W_4")->text(), QStringLiteral("50.3"));
    QCOMPARE(named(&window, "State_2")->text(), QStringLiteral("ALM1报警"));
    QCOMPARE(bg(named(&window, "State_2")), colors::kPink);
    QCOMPARE(named(&window, "Para_2")->text(), QStringLiteral("3.5"));
    QCOMPARE(named(&window, "Label2_9")->text(), QStringLiteral("11-02-2023"));
}

void TestStatusPanel::groupsAreCompact()
{
    // Budget at 1366 x 768: the chart takes about 835 x 520 pixels, leaving a
    // column of about 520 pixels beside it and a band below it. Each group has to
    // fit one of those places; the parameter groups are the tallest.
    StatusPanel panel;
    panel.refresh(RegisterImage{});
    const QList<QGroupBox *> groups{panel.programGroup(), panel.pvGroup(), panel.alarmStateGroup(),
                                    panel.paramGroups()[0], panel.paramGroups()[1], panel.alarmParamGroup()};
    for (QGroupBox *g : groups) {
        const QSize hint = g->sizeHint();
        QVERIFY2(hint.width() <= 620, qPrintable(QStringLiteral("%1 %2").arg(g->objectName()).arg(hint.width())));
        QVERIFY2(hint.height() <= 300, qPrintable(QStringLiteral("%1 %2").arg(g->objectName()).arg(hint.height())));
    }
    // Labels hold their widest texts without growing: the layout does not jump
    // when a value changes.
    const QList<QLabel *> labels{panel.programLabel(0), panel.processLabel(0), panel.processLabel(4),
                                 panel.processLabel(7), panel.stateLabel(1), panel.stateLabel(4),
                                 panel.paramLabel(2)};
    QList<QSize> before;
    for (QLabel *l : labels)
        before << l->sizeHint();
    RegisterImage image;
    image.programStatus[0] = -32768;
    image.liveSample[0] = -32768;
    image.liveSample[4] = -32768;
    image.liveSample[7] = 3;   // 上偏差报警
    image.discreteBits[4] = 1; // 传感器1开路
    image.paramImage[2] = -32768;
    panel.refresh(image);
    for (int i = 0; i < labels.size(); ++i) {
        QCOMPARE(labels[i]->sizeHint(), before[i]);
        QVERIFY(labels[i]->sizeHint().width() > labels[i]->fontMetrics().horizontalAdvance(labels[i]->text()));
    }
}

STATION_TEST_MAIN(TestStatusPanel)
#include "tst_statuspanel.moc"
