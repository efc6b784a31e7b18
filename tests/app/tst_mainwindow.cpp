// The main window's life cycle: what it holds after its load, the open and close
// commands, the refused close box, exit, and the start-up sequence.
#include "app/connectionpanel.h"
#include "app/mainwindow.h"
#include "app/splash.h"
#include "app/station.h"

#include "common/datadir.h"
#include "common/taborder.h"
#include "link/poller.h"
#include "link/registerimage.h"

#include "tests/support/fakelink.h"
#include "tests/support/operatorinput.h"
#include "tests/support/testenv.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>

using namespace station;
using test::FakeLink;
using test::LinkCall;
using test::LinkOp;

namespace {

template <typename T>
T *child(QWidget *w, const QString &name)
{
    T *c = w->findChild<T *>(name);
    if (!c)
        qWarning() << "no control" << name;
    return c;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        linkSettings() = LinkSettings{};
        sampleFlags() = SampleFlags{};
    }

    void loadFillsTheConnectionControls()
    {
        MainWindow w;
        QVERIFY(!w.isLoaded());
        w.show();
        QVERIFY(w.isLoaded());
        QCOMPARE(w.objectName(), QStringLiteral("ssqx"));
        QCOMPARE(w.accessibleDescription(), QStringLiteral("ssqx"));
        // The caption after the link state, which the task bar shows too.
        QCOMPARE(w.windowTitle(), QStringLiteral("未连接 - 双回路控制器（温湿度控制） LX6100S "));

        auto *port = child<QComboBox>(&w, "Port");
        QVERIFY(port);
        QCOMPARE(port->count(), 20);
        QCOMPARE(port->itemText(0), QStringLiteral("1 "));
        QCOMPARE(port->itemText(19), QStringLiteral("20 "));
        QCOMPARE(port->currentText(), QStringLiteral("1 "));
        auto *address = child<QComboBox>(&w, "Address");
        QVERIFY(address);
        QCOMPARE(address->count(), 16);
        QCOMPARE(address->itemText(15), QStringLiteral("16 "));
        QCOMPARE(address->currentText(), QStringLiteral("1 "));

        QButtonGroup *baud = w.connectionPanel()->baudButtons();
        QCOMPARE(baud->checkedButton()->text(), QStringLiteral("9600"));
        QCOMPARE(baud->button(0)->text(), QStringLiteral("4800"));
        QCOMPARE(baud->button(2)->text(), QStringLiteral("19200"));
        QButtonGroup *parity = w.connectionPanel()->parityButtons();
        QCOMPARE(parity->checkedButton()->text(), QStringLiteral("无校验"));
        QCOMPARE(parity->button(1)->text(), QStringLiteral("奇校验"));
        QCOMPARE(parity->button(2)->text(), QStringLiteral("偶校验"));

        QVERIFY(w.unloadGuard());
        QVERIFY(sampleFlags().notifyEnabled);
        QVERIFY(w.timer1().isActive());
        QCOMPARE(w.timer1().interval(), 200);
        QVERIFY(w.timer2().isActive());
        QVERIFY(w.timer3().isActive());

        auto *config = child<QPushButton>(&w, "Command21");
        QVERIFY(config && !config->isEnabled());
        QCOMPARE(config->text(), QStringLiteral("CONFIG"));
        auto *calibrate = child<QPushButton>(&w, "Command23");
        QVERIFY(calibrate && !calibrate->isVisible() && !calibrate->isEnabled());
        QCOMPARE(child<QPushButton>(&w, "Command1")->text(), QStringLiteral("退出"));
        QCOMPARE(child<QPushButton>(&w, "Command11")->text(), QStringLiteral("曲线设置"));
    }

    void clockLabelsShowTheDateAndTime()
    {
        MainWindow w;
        w.show();
        auto *date = child<QLabel>(&w, "Label2_9");
        auto *time = child<QLabel>(&w, "Label2_10");
        QVERIFY(date && time);
        QVERIFY(QRegularExpression("^\\d\\d-\\d\\d-\\d{4}$").match(date->text()).hasMatch());
        QVERIFY(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(time->text()).hasMatch());
        QCOMPARE(date->text(), QDate::currentDate().toString("MM-dd-yyyy"));
    }

    void openAndCloseTheLink()
    {
        FakeLink fake;
        MainWindow w;
        Poller poller;
        w.setPoller(&poller);
        w.show();
        w.connectionPanel()->portList()->setCurrentIndex(6);     // "7 "
        w.connectionPanel()->addressList()->setCurrentIndex(2);  // "3 "
        w.connectionPanel()->baudButtons()->button(2)->setChecked(true);
        w.connectionPanel()->parityButtons()->button(2)->setChecked(true);

        child<QPushButton>(&w, "Command9")->click(); // 打开
        fake.settle();
        QCOMPARE(fake.calls.size(), 1);
        QVERIFY(fake.calls[0] == (LinkCall{LinkOp::Open, 7, 0, 2, 2}));
        QCOMPARE(linkSettings().port, 7);
        QCOMPARE(linkSettings().station, 3);
        QVERIFY(poller.isPolling());
        QVERIFY(child<QPushButton>(&w, "Command21")->isEnabled());
        QVERIFY(child<QPushButton>(&w, "Command23")->isEnabled());

        // Polling reaches the controller with the chosen port and address.
        QTRY_VERIFY_WITH_TIMEOUT(poller.completedCycles() >= 1, 3000);
        fake.settle();
        QVERIFY(fake.calls[1] == (LinkCall{LinkOp::ReadInput, 7, 3, 1, 8}));

        QTRY_COMPARE(w.windowTitle(), QStringLiteral("通讯正常 - 双回路控制器（温湿度控制） LX6100S "));

        child<QPushButton>(&w, "Command10")->click(); // 关闭
        fake.settle();
        QVERIFY(fake.calls.last() == (LinkCall{LinkOp::Close, 7, 0, 0, 0}));
        QCOMPARE(w.windowTitle(), QStringLiteral("未连接 - 双回路控制器（温湿度控制） LX6100S "));
        QVERIFY(!poller.isPolling());
        QVERIFY(!child<QPushButton>(&w, "Command21")->isEnabled());
        QVERIFY(!child<QPushButton>(&w, "Command23")->isEnabled());
    }

    void aNonNumericPortTextGivesPortZero()
    {
        FakeLink fake;
        MainWindow w;
        w.show();
        w.connectionPanel()->portList()->setEditText(QStringLiteral("COM"));
        w.openLink();
        fake.settle();
        QVERIFY(fake.calls[0] == (LinkCall{LinkOp::Open, 0, 0, 1, 0}));
    }

    void closeBeforeOpenUsesTheLastPort()
    {
        FakeLink fake;
        MainWindow w;
        w.show();
        w.closeLink();
        fake.settle();
        QVERIFY(fake.calls[0] == (LinkCall{LinkOp::Close, 0, 0, 0, 0}));
    }

    // Writes queued when "关闭" is pressed in the middle of a cycle go out
    // before the close; the cycle's next read never goes out.
    void closeLetsQueuedWritesOutFirst()
    {
        FakeLink fake;
        fake.onCall = [](const LinkCall &) { QThread::msleep(10); }; // a slow line
        MainWindow w;
        Poller poller;
        w.setPoller(&poller);
        w.show();
        child<QPushButton>(&w, "Command9")->click();
        QTRY_VERIFY_WITH_TIMEOUT(poller.isCycleRunning(), 3000);
        writeWithRetry(1, 250);
        writeWithRetry(2, 300);
        child<QPushButton>(&w, "Command10")->click();
        fake.settle();
        const qsizetype n = fake.calls.size();
        QVERIFY(n >= 5);
        QCOMPARE(fake.calls[n - 1], (LinkCall{LinkOp::Close, 1, 0, 0, 0}));
        QCOMPARE(fake.calls[n - 2], (LinkCall{LinkOp::Write, 1, 1, 2, 300}));
        QCOMPARE(fake.calls[n - 3], (LinkCall{LinkOp::Write, 1, 1, 1, 250}));
        QVERIFY(fake.calls[n - 4].op != LinkOp::Write); // the read on the line when they were queued
        QVERIFY(!poller.isCycleRunning());
    }

    // "退出" waits for the writes queued before it: they are on the line when
    // the program is told to end.
    void theWheelScrollsPastUnfocusedLists()
    {
        MainWindow w;
        w.resize(1800, 300);  // every list within the width, the page taller than the window
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        // The port list holds the focus when the window opens; the lists under
        // test must all be without it.
        w.connectionPanel()->openButton()->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), w.connectionPanel()->openButton());
        auto *scroll = w.findChild<QScrollArea *>();
        QScrollBar *bar = scroll->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        const QList<QComboBox *> lists = w.findChildren<QComboBox *>();
        QCOMPARE(lists.size(), 3);  // run command, port, address
        for (QComboBox *list : lists) {
            const QString name = list->objectName();
            const int entry = list->currentIndex();
            scroll->ensureWidgetVisible(list);
            const int scrolled = bar->value();
            test::wheel(list, scrolled < bar->maximum() ? -1 : 1);
            QVERIFY2(list->currentIndex() == entry, qPrintable(name));
            QVERIFY2(!list->hasFocus(), qPrintable(name));
            QVERIFY2(bar->value() != scrolled, qPrintable(name));
        }
    }

    void theCloseBoxIsRefused()
    {
        MainWindow w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.close());
        QVERIFY(w.isVisible());
    }

    void exitEndsTheProgram_data()
    {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("退出") << false;
        // As the window opens the port list holds the focus, untouched: Esc is
        // not typing there yet and ends the program.
        QTest::newRow("Esc at start") << true;
    }

    void exitEndsTheProgram()
    {
        QFETCH(bool, byEscape);
        auto *w = new MainWindow;
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTRY_VERIFY(QApplication::focusWidget());
        QSignalSpy exited(w, &MainWindow::exitRequested);
        QTimer::singleShot(0, w, [w, byEscape] {
            if (byEscape)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
            else
                w->findChild<QPushButton *>("Command1")->click();
        });
        // exec() returns only when the program is told to end.
        QTimer failsafe;
        failsafe.setSingleShot(true);
        bool timedOut = false;
        connect(&failsafe, &QTimer::timeout, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        failsafe.start(5000);
        const int code = QCoreApplication::exec();
        QVERIFY(!timedOut);
        QCOMPARE(code, 0);
        QCOMPARE(exited.count(), 1);
        QVERIFY(!w->isVisible());
        QVERIFY(!w->unloadGuard());
        QVERIFY(!sampleFlags().notifyEnabled);
        delete w;
    }

    void keyboardStartsInTheConnectionGroup()
    {
        MainWindow w;
        w.show();
        QApplication::setActiveWindow(&w);
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QComboBox *port = w.connectionPanel()->portList();
        QTRY_COMPARE(QApplication::focusWidget(), port);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.connectionPanel()->addressList());

        // Then the layout: the connection group and the commands, the left
        // column (function keys, Y range, alarm settings), the right column.
        QList<QWidget *> stops = tabStops(&w, port);
        stops.prepend(port);
        QCOMPARE(stops.last(), child<QWidget>(&w, "Command12_1")); // the round closes at the port list
        const auto firstIn = [&](const QString &name) {
            auto *part = w.findChild<QWidget *>(name);
            for (qsizetype i = 0; i < stops.size(); ++i)
                if (part && (stops[i] == part || part->isAncestorOf(stops[i])))
                    return i;
            return qsizetype(-1);
        };
        const QStringList parts{"Address", "Command9", "Command21", "Command1", "Frame_Function", "YKD",
                                "Alm11_0", "Combo3", "Text1_0", "Text1_1"};
        qsizetype previous = 0;
        for (const QString &name : parts) {
            const qsizetype at = firstIn(name);
            QVERIFY2(at > previous, qPrintable(name));
            previous = at;
        }
    }

    void entriesAreNamedForScreenReaders_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("name");
        QTest::newRow("Y max") << "YKD" << "Y轴最大";
        QTest::newRow("Y min") << "YKD1" << "Y轴最小";
        QTest::newRow("SV1") << "Text1_0" << "SV1 新设定值";
        QTest::newRow("SV2") << "Text1_1" << "SV2 新设定值";
        QTest::newRow("alarm 1 value") << "Alm11_0" << "报警1设定值";
        QTest::newRow("alarm 2 delay") << "Alm11_5" << "报警2延迟时间";
    }

    void entriesAreNamedForScreenReaders()
    {
        QFETCH(QString, entry);
        QFETCH(QString, name);
        MainWindow w;
        auto *e = child<QWidget>(&w, entry);
        QVERIFY(e);
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(e);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), name);
    }

    void valueColumnsSayWhatTheyShow()
    {
        MainWindow w;
        // Measured, in effect, written: one tip per column, the same on both rows.
        const QStringList columns[] = {{"D_3W_0", "D_3W_1"}, {"D_3W_2", "D_3W_3"}, {"SV_0", "SV_1"}};
        QStringList tips;
        for (const QStringList &column : columns) {
            const QString tip = child<QLabel>(&w, column[0])->toolTip();
            QVERIFY(!tip.isEmpty());
            QCOMPARE(child<QLabel>(&w, column[1])->toolTip(), tip);
            QVERIFY(!tips.contains(tip));
            tips << tip;
        }
    }

    void startUpShowsTheSplashThenTheMainWindow()
    {
        Station station;
        QElapsedTimer clock;
        clock.start();
        QSignalSpy started(&station, &Station::started);
        station.start();
        QVERIFY(station.splash());
        QCOMPARE(station.splash()->objectName(), QStringLiteral("frmSplash"));
        QVERIFY(station.splash()->isVisible());
        QVERIFY(station.splash()->findChild<QLabel *>("Label1"));
        QCOMPARE(station.splash()->findChild<QLabel *>("Label1")->text(),
                 QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"));
        QVERIFY(!station.mainWindow());
        QVERIFY(started.wait(5000));
        // Seven 200 ms ticks and one 100 ms tick (coarse timers may fire 5% early).
        QVERIFY2(clock.elapsed() >= 1400, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(station.mainWindow() && station.mainWindow()->isVisible());
        QVERIFY(station.mainWindow()->isLoaded());
        // The folder of the port links is there for the operator's first link.
        QVERIFY(QFileInfo(dataDir() + QStringLiteral("/serial")).isDir());
        QVERIFY(station.poller());
        QCOMPARE(station.poller()->objectName(), QStringLiteral("Met1"));
        QVERIFY(!station.poller()->isPolling()); // polling waits for 打开
        QTRY_VERIFY(!station.splash());          // closed and deleted
    }
};

STATION_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
