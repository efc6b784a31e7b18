// The main window's commands: the set-value, alarm and run-command panels, and
// the buttons that lead to the configuration window and the program editor.
#include "app/commands.h"
#include "app/mainwindow.h"
#include "app/status/statuspanel.h"

#include "link/registerimage.h"

#include "tests/support/fakelink.h"
#include "tests/support/outcomelog.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace station;
using test::FakeLink;
using test::LinkCall;
using test::LinkOp;

class TestCommands : public QObject {
    Q_OBJECT

    MainWindow *m_window = nullptr;

    QList<LinkCall> writesAfter(const std::function<void()> &action, FakeLink &fake)
    {
        fake.clear();
        action();
        return fake.writes();
    }

private slots:
    void init()
    {
        linkSettings() = LinkSettings{};
        linkSettings().port = 2;
        linkSettings().station = 5;
        m_window = new MainWindow;
        m_window->show();
    }

    void cleanup()
    {
        delete m_window;
        m_window = nullptr;
    }

    void numericPanels_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("written");
        QTest::addColumn<int>("value");
        QTest::newRow("9999") << "9999" << true << 9999;
        QTest::newRow("10000 ignored") << "10000" << false << 0;
        QTest::newRow("-2000 ignored") << "-2000" << false << 0;
        QTest::newRow("-1999") << "-1999" << true << -1999;
        QTest::newRow("12.5 to even") << "12.5" << true << 12;
        QTest::newRow("13.5 to even") << "13.5" << true << 14;
        QTest::newRow("empty reads 0") << "" << true << 0;
        QTest::newRow("leading number") << "  42abc" << true << 42;
        QTest::newRow("9999.4 above the range") << "9999.4" << false << 0;
    }

    void numericPanels()
    {
        QFETCH(QString, text);
        QFETCH(bool, written);
        QFETCH(int, value);
        FakeLink fake;
        status::StatusPanel *panel = m_window->statusPanel();
        struct Panel {
            QLineEdit *entry;
            QPushButton *button;
            int reg;
            QString caption;  // the journal's name for it
            QLabel *shown;    // its read-back label
        };
        QList<Panel> panels = {{panel->setValueEntry(0), panel->setValueButton(0), 1, "设定SV1", panel->setValueLabel(0)},
                               {panel->setValueEntry(1), panel->setValueButton(1), 2, "设定SV2", panel->setValueLabel(1)}};
        const QStringList alarms{"报警1设定值", "报警1动作回差", "报警1延迟时间", "报警2设定值", "报警2动作回差", "报警2延迟时间"};
        for (int i = 0; i < 6; ++i)
            panels.append({panel->alarmEntry(i), panel->alarmButton(i), 257 + i, alarms[i], panel->alarmLabel(i)});
        for (const Panel &p : panels) {
            QVERIFY(p.entry && p.button);
            p.entry->setText(text);
            p.shown->setText(QStringLiteral("17"));
            test::OutcomeLog outcomes;
            const auto writes = writesAfter([&] { p.button->click(); }, fake);
            if (!written) {
                QVERIFY(writes.isEmpty());
                continue;
            }
            QCOMPARE(writes.size(), 1);
            QVERIFY2(writes[0] == (LinkCall{LinkOp::Write, 2, 5, p.reg, value}), qPrintable(test::describe(writes[0])));
            const link::WriteTag tag = outcomes.tag(0);
            QCOMPARE(tag.window, QStringLiteral("ssqx"));
            QCOMPARE(tag.control, p.entry->objectName());
            QCOMPARE(tag.caption, p.caption);
            QCOMPARE(tag.entered, text);
            QCOMPARE(tag.shownBefore, std::optional<QString>(QStringLiteral("17")));
        }
    }

    void aFailedWriteIsRetriedOnce_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("calls");
        QTest::newRow("-8888") << -8888 << 2;
        QTest::newRow("0") << 0 << 1;
        QTest::newRow("5") << 5 << 1;
    }

    void aFailedWriteIsRetriedOnce()
    {
        QFETCH(int, first);
        QFETCH(int, calls);
        FakeLink fake;
        fake.writeResults = {first, -8888};
        m_window->statusPanel()->setValueEntry(0)->setText("350");
        m_window->statusPanel()->setValueButton(0)->click();
        const auto writes = fake.writes();
        QCOMPARE(writes.size(), calls);
        for (const LinkCall &w : writes)
            QVERIFY(w == (LinkCall{LinkOp::Write, 2, 5, 1, 350}));
    }

    void runCommand_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<int>("value");
        QTest::newRow("0:停止 ") << 0 << 0;
        QTest::newRow("1:运行 ") << 1 << 1;
        QTest::newRow("2:暂停 ") << 2 << 2;
        QTest::newRow("4:结束 ") << 3 << 3;
    }

    void runCommand()
    {
        QFETCH(int, entry);
        QFETCH(int, value);
        FakeLink fake;
        QComboBox *box = m_window->statusPanel()->runCommandBox();
        QCOMPARE(box->count(), 4);
        QCOMPARE(box->itemText(3), QStringLiteral("4:结束 "));
        box->setCurrentIndex(entry);
        const QString chosen = box->currentText();
        test::OutcomeLog outcomes;
        m_window->statusPanel()->runCommandButton()->click();
        QCOMPARE(fake.writes().size(), 1);
        QVERIFY(fake.writes()[0] == (LinkCall{LinkOp::Write, 2, 5, 3, value}));
        QCOMPARE(box->currentText(), QString::number(value));
        const link::WriteTag tag = outcomes.tag(0);
        QCOMPARE(tag.control, QStringLiteral("Combo3"));
        QCOMPARE(tag.caption, QStringLiteral("设定曲线"));
        QCOMPARE(tag.entered, chosen);
        // Pressing again sends the same command, the box still showing the number.
        m_window->statusPanel()->runCommandButton()->click();
        QCOMPARE(fake.writes().size(), 2);
        QVERIFY(fake.writes()[1] == fake.writes()[0]);
    }

    void aTypedRunCommandThatNamesNoEntryWritesNothing()
    {
        FakeLink fake;
        QComboBox *box = m_window->statusPanel()->runCommandBox();
        box->setCurrentIndex(1);
        box->setEditText(QStringLiteral("run"));
        m_window->statusPanel()->runCommandButton()->click();
        QVERIFY(fake.writes().isEmpty());
    }

    void configAndCurveSettingsHideTheMainWindow_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("window");
        QTest::newRow("CONFIG") << "Command21" << "CONFIG1";
        QTest::newRow("曲线设置") << "Command11" << "Tech";
    }

    void configAndCurveSettingsHideTheMainWindow()
    {
        QFETCH(QString, button);
        QFETCH(QString, window);
        FakeLink fake;
        m_window->openLink(); // enables CONFIG
        auto *b = m_window->findChild<QPushButton *>(button);
        QVERIFY(b && b->isEnabled());
        b->click();
        QVERIFY(!m_window->isVisible());
        QWidget *other = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == window && w->isVisible())
                other = w;
        QVERIFY(other);
        QVERIFY(!other->isModal());
        // Its return button shows the main window again.
        auto *back = other->findChild<QPushButton *>("Command11");
        QVERIFY(back);
        QCOMPARE(back->text(), QStringLiteral(" Esc 返回"));
        back->click();
        QTRY_VERIFY(m_window->isVisible());
        QVERIFY(!other->isVisible());
    }
};

STATION_TEST_MAIN(TestCommands)
#include "tst_commands.moc"
