// The whole station against the controller simulator over a pseudo-terminal:
// after "打开" the panel shows the controller's values, the recorder stores
// them, and the live chart grows one sample per stored row.
#include "app/mainwindow.h"
#include "app/status/statuspanel.h"

#include "chart/trendchart.h"
#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "record/recorder.h"
#include "record/sampledb.h"

#include "sim/controllermodel.h"
#include "sim/simulator.h"

#include "tests/support/testenv.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace station;

Q_DECLARE_METATYPE(station::sim::Fault)

class TestStationSim : public QObject {
    Q_OBJECT

private slots:
    void liveValuesReachThePanelTheDatabaseAndTheChart()
    {
        registerImage() = RegisterImage{};
        sim::Simulator controller(1, 1);
        QVERIFY(controller.start());
        controller.setInput(1, 287);   // PV1
        controller.setInput(2, -35);   // PV2
        controller.setInput(5, 503);   // retransmission 1, tenths of a percent
        controller.setInput(4097, 1);  // program running
        controller.setHolding(257, 420);
        controller.setDiscrete(3, true);

        MainWindow w;
        Poller poller;
        w.setPoller(&poller);
        w.show();
        Recorder recorder;

        QElapsedTimer sinceOpen;
        w.findChild<QPushButton *>("Command9")->click(); // 打开 with port 1, 9600, no parity
        sinceOpen.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel *>("D_3W_0")->text(), QStringLiteral("287"), 2000);
        // Within half a second of pressing 打开 (a poll, then the next 200 ms refresh).
        QVERIFY2(sinceOpen.elapsed() <= 500, qPrintable(QString::number(sinceOpen.elapsed())));
        QCOMPARE(w.findChild<QLabel *>("D_3W_1")->text(), QStringLiteral("-35"));
        QCOMPARE(w.findChild<QLabel *>("D_3W_4")->text(), QStringLiteral("50.3"));
        QCOMPARE(w.findChild<QLabel *>("Pro_0")->text(), QStringLiteral("运行"));
        // The alarm settings and states come from later reads of the same cycle.
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel *>("Alm1_0")->text(), QStringLiteral("420"), 2000);
        QTRY_COMPARE_WITH_TIMEOUT(w.findChild<QLabel *>("State_2")->text(), QStringLiteral("ALM1报警"), 2000);

        // The recorder stores the polled values, unscaled.
        QSqlDatabase db = sampledb::openMainWindowConnection();
        const auto storedPv1 = [&db] {
            QSqlQuery q(db);
            q.exec(QStringLiteral("select v0, v1, v4 from pv_data where w_id = (select sl_pointer from sl_void)"));
            return q.next() ? QStringLiteral("%1 %2 %3").arg(q.value(0).toDouble()).arg(q.value(1).toDouble()).arg(q.value(2).toDouble())
                            : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(storedPv1(), QStringLiteral("287 -35 503"), 3000);

        // Every stored row appends one live sample to the chart.
        chart::Chart &chart = w.trendChart()->chart();
        const int curveEnd = chart.view().curveEnd;
        QTRY_VERIFY_WITH_TIMEOUT(chart.view().curveEnd >= curveEnd + 2, 4000);
        const int slot = chart.view().curveEnd;
        QCOMPARE(chart.buffer()[std::size_t(slot)].values[0], 287.0f);

        w.findChild<QPushButton *>("Command10")->click(); // 关闭
        ClosePort_Modbus(1);
    }

    void setValueAndRunCommandReachTheController()
    {
        registerImage() = RegisterImage{};
        sim::Simulator controller(1, 1);
        QVERIFY(controller.start());
        sim::ControllerModel model(controller);
        model.installDefaults(1);
        // A two-segment program in seconds, so a run command has something to run.
        controller.setHolding(8193, 2); // time unit: seconds
        controller.setHolding(8194, 1); // two segments
        controller.setHolding(8201, 500);
        controller.setHolding(8202, 400);
        controller.setHolding(8203, 60);
        controller.setHolding(8205, 600);
        controller.setHolding(8206, 450);
        controller.setHolding(8207, 60);
        // The model runs as the controller's own clock, here on the GUI thread.
        QTimer modelTimer;
        connect(&modelTimer, &QTimer::timeout, [&model] { model.step(0.1); });
        modelTimer.start(100);

        MainWindow w;
        Poller poller;
        w.setPoller(&poller);
        w.show();
        w.findChild<QPushButton *>("Command9")->click(); // 打开

        status::StatusPanel *panel = w.statusPanel();
        panel->setValueEntry(0)->setText(QStringLiteral("365"));
        panel->setValueButton(0)->click(); // 设定SV1, queued on the link thread
        QTRY_COMPARE_WITH_TIMEOUT(controller.holding(1), std::int16_t(365), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(panel->setValueLabel(0)->text(), QStringLiteral("365"), 3000);

        QComboBox *runCommand = panel->runCommandBox();
        runCommand->setCurrentIndex(1); // "1:运行 "
        panel->runCommandButton()->click(); // 设定曲线
        QTRY_COMPARE_WITH_TIMEOUT(controller.holding(3), std::int16_t(1), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(panel->programLabel(0)->text(), QStringLiteral("运行"), 3000);

        w.findChild<QPushButton *>("Command10")->click(); // 关闭
    }

    // The indicator beside 打开/关闭: "未连接" while closed, "通讯正常" while the
    // controller answers, "通讯中断" in red once no good reply came for a
    // second; the tooltip names the device and the last error.
    void theLinkStateFollowsTheLine_data()
    {
        QTest::addColumn<sim::Fault>("fault");
        QTest::addColumn<QString>("error");
        QTest::newRow("silent") << sim::Fault::Silent << QStringLiteral("Connection timed out");
        QTest::newRow("bad crc") << sim::Fault::BadCrc << QStringLiteral("Invalid CRC");
        QTest::newRow("exception") << sim::Fault::Exception << QStringLiteral("Illegal data address");
    }

    void theLinkStateFollowsTheLine()
    {
        QFETCH(sim::Fault, fault);
        QFETCH(QString, error);
        sim::Simulator controller(1, 1);
        QVERIFY(controller.start());
        MainWindow w;
        Poller poller;
        w.setPoller(&poller);
        w.show();
        auto *state = w.findChild<QLabel *>("LinkState");
        QVERIFY(state);
        QCOMPARE(state->accessibleDescription(), QStringLiteral("LinkState"));
        QCOMPARE(state->text(), QStringLiteral("未连接"));

        w.findChild<QPushButton *>("Command9")->click(); // 打开
        QTRY_VERIFY_WITH_TIMEOUT(link::linkThread().status().good > 0, 2000);
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("通讯正常"), 1000);
        QVERIFY2(state->toolTip().contains(controller.linkPath()), qPrintable(state->toolTip()));

        controller.setFault(fault);
        QElapsedTimer sinceFault;
        sinceFault.start();
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("通讯中断"), 5000);
        // One second without a good reply, then at most one refresh (250 ms),
        // plus the exchange that was on the line and room for a loaded machine.
        QVERIFY2(sinceFault.elapsed() <= 2500, qPrintable(QString::number(sinceFault.elapsed())));
        QCOMPARE(state->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QTRY_VERIFY2_WITH_TIMEOUT(state->toolTip().contains(error), qPrintable(state->toolTip()), 3000);
        QVERIFY(link::linkThread().status().failed > 0);

        controller.setFault(sim::Fault::None);
        // After a time-out the next request waits for the horizon, 3.9 s at
        // 9600 (link/lineguard.h), then a refresh.
        QTRY_COMPARE_WITH_TIMEOUT(state->text(), QStringLiteral("通讯正常"), 8000);
        QVERIFY(state->palette().color(QPalette::WindowText) != QColor(255, 0, 0));

        w.findChild<QPushButton *>("Command10")->click(); // 关闭
        QCOMPARE(state->text(), QStringLiteral("未连接"));
        link::linkThread().drain();
    }
};

STATION_TEST_MAIN(TestStationSim)
#include "tst_station_sim.moc"
