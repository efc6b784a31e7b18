// The link-state indicator says only what the link saw: the state from the
// link thread's status, the tooltip's words and cures, and the connection
// panel's label after "打开" on a silent line and on a missing device.
#include "app/connectionpanel.h"

#include "link/libmodbusbackend.h"
#include "link/linkstate.h"
#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/portpath.h"
#include "link/registerimage.h"

#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QtTest>

using namespace station;
using namespace std::chrono_literals;
using link::LinkState;
using Clock = std::chrono::steady_clock;

Q_DECLARE_METATYPE(station::link::LinkState)
Q_DECLARE_METATYPE(station::link::LinkFault)

namespace {

// Posts the open as "打开" does and marks it in the panel.
void pressOpen(ConnectionPanel &panel, std::int32_t port)
{
    linkSettings().port = port;
    linkSettings().station = 1;
    link::Request open;
    open.op = link::Op::Open;
    open.port = port;
    open.first = 1;
    link::linkThread().post(open);
    panel.setLinkOpen(true);
}

} // namespace

class TestLinkState : public QObject {
    Q_OBJECT

private slots:
    void stateFromWhatTheLinkSaw_data()
    {
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("opensCarriedOut"); // of the ticket 5
        QTest::addColumn<bool>("openFailed");
        QTest::addColumn<int>("sinceOpenMs");
        QTest::addColumn<int>("lastGoodAgoMs"); // -1: no good reply since the open
        QTest::addColumn<LinkState>("state");
        QTest::newRow("closed") << false << 5 << false << 100 << 50 << LinkState::Closed;
        QTest::newRow("open queued") << true << 4 << false << 300 << -1 << LinkState::Opening;
        // A good reply in the status of the open before is not this open's.
        QTest::newRow("open queued, the last open's reply") << true << 4 << false << 300 << 50 << LinkState::Opening;
        QTest::newRow("open queued for over a second") << true << 4 << false << 1300 << -1 << LinkState::Lost;
        QTest::newRow("opened, no reply yet") << true << 5 << false << 300 << -1 << LinkState::Opening;
        QTest::newRow("opened, no reply for a second") << true << 5 << false << 1100 << -1 << LinkState::Lost;
        QTest::newRow("open failed, at once") << true << 5 << true << 10 << -1 << LinkState::Lost;
        QTest::newRow("answering") << true << 5 << false << 300 << 100 << LinkState::Answering;
        QTest::newRow("answering after a failed open") << true << 5 << true << 3000 << 100 << LinkState::Answering;
        QTest::newRow("no good reply for a second") << true << 5 << false << 5000 << 1200 << LinkState::Lost;
        QTest::newRow("a later open carried out") << true << 6 << false << 300 << 100 << LinkState::Answering;
    }

    void stateFromWhatTheLinkSaw()
    {
        QFETCH(bool, open);
        QFETCH(int, opensCarriedOut);
        QFETCH(bool, openFailed);
        QFETCH(int, sinceOpenMs);
        QFETCH(int, lastGoodAgoMs);
        QFETCH(LinkState, state);
        const Clock::time_point now = Clock::time_point{} + 100s;
        const link::OpenMark mark{open, now - std::chrono::milliseconds(sinceOpenMs), 5};
        link::LinkStatus status;
        status.opens = std::uint64_t(opensCarriedOut);
        status.openFailed = openFailed;
        if (lastGoodAgoMs >= 0)
            status.lastGoodAt = now - std::chrono::milliseconds(lastGoodAgoMs);
        QCOMPARE(link::linkState(mark, status, now), state);
    }

    void texts()
    {
        QCOMPARE(link::linkStateText(LinkState::Closed), QStringLiteral("未连接"));
        QCOMPARE(link::linkStateText(LinkState::Opening), QStringLiteral("未连接"));
        QCOMPARE(link::linkStateText(LinkState::Answering), QStringLiteral("通讯正常"));
        QCOMPARE(link::linkStateText(LinkState::Lost), QStringLiteral("通讯中断"));
    }

    // The last error in Chinese with its cure, the system's words kept.
    void theTooltipSaysWhatToDo_data()
    {
        QTest::addColumn<link::LinkFault>("fault");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("cure");
        QTest::newRow("permission") << link::LinkFault::NoPermission << 13 << "Permission denied"
                                    << "最后错误：无权打开串口设备 [Permission denied]" << "dialout 组";
        QTest::newRow("no device") << link::LinkFault::NoDevice << 2 << "No such file or directory"
                                   << "最后错误：串口设备不存在" << "/dev/serial/by-id/";
        QTest::newRow("time-out") << link::LinkFault::TimedOut << 110 << "Connection timed out"
                                  << "最后错误：控制器无应答（超时）" << "模块地址、波特率、校验方式和接线";
        QTest::newRow("too late") << link::LinkFault::TooLate << 3000 << "Connection timed out"
                                  << "最后错误：控制器应答过迟（约 3000 毫秒）" << "网关或无线链路";
        QTest::newRow("exception") << link::LinkFault::Exception << 2 << "Illegal data address"
                                   << "最后错误：控制器拒绝请求：非法数据地址（异常码 2）" << "";
        QTest::newRow("bad crc") << link::LinkFault::BadCrc << 0 << "Invalid CRC"
                                 << "最后错误：应答校验错误（CRC） [Invalid CRC]" << "波特率、校验方式";
    }

    void theTooltipSaysWhatToDo()
    {
        QFETCH(link::LinkFault, fault);
        QFETCH(int, number);
        QFETCH(QString, words);
        QFETCH(QString, error);
        QFETCH(QString, cure);
        link::LinkStatus status;
        status.lastFailure = {fault, number, words, {}};
        const QString tip = link::linkStateToolTip(LinkState::Lost, status);
        QVERIFY2(tip.contains(error), qPrintable(tip));
        QVERIFY2(tip.contains(words), qPrintable(tip));
        QCOMPARE(tip.contains(QStringLiteral("处理：")), !cure.isEmpty());
        QVERIFY2(tip.contains(cure), qPrintable(tip));
        QVERIFY2(!tip.contains(QStringLiteral("应答超时")), qPrintable(tip));
        QVERIFY2(!tip.contains(QStringLiteral("等待发送")), qPrintable(tip));
    }

    void theTooltipShowsAGrownTimeoutAndTheWritesWaiting()
    {
        link::LinkStatus status;
        status.line = {1752ms, 552ms, 2208ms, 1200ms};
        status.writesWaiting = 2;
        const QString tip = link::linkStateToolTip(LinkState::Answering, status);
        QVERIFY2(tip.contains(QStringLiteral("应答超时：1752 毫秒（正常 552 毫秒，最长 2208 毫秒）")), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("等待发送的写入：2 个")), qPrintable(tip));
    }

    // "打开" on a line that never answers: the label goes from "未连接" to
    // "通讯中断" and never reads "通讯正常"; a note goes under the tooltip.
    void aSilentLineNeverReadsAnswering()
    {
        test::FakeLink fake;
        fake.readsFail = true;
        fake.failure = {link::LinkFault::TimedOut, 110, QStringLiteral("Connection timed out"), {}};
        ConnectionPanel panel;
        Poller poller;
        pressOpen(panel, 3);
        poller.startPolling();
        QLabel *label = panel.linkStateLabel();
        QStringList seen;
        const QDeadlineTimer deadline(1500);
        while (!deadline.hasExpired()) {
            panel.refreshLinkState();
            if (seen.isEmpty() || seen.last() != label->text())
                seen << label->text();
            QTest::qWait(20);
        }
        poller.stopPolling();
        QCOMPARE(seen, (QStringList{QStringLiteral("未连接"), QStringLiteral("通讯中断")}));
        panel.setNote(QStringLiteral("记录：磁盘慢"));
        QVERIFY2(label->toolTip().contains(QStringLiteral("控制器无应答")), qPrintable(label->toolTip()));
        QVERIFY2(label->toolTip().endsWith(QStringLiteral("\n记录：磁盘慢")), qPrintable(label->toolTip()));
        fake.settle();
    }

    // "打开" on a port whose device does not exist: "通讯中断" as soon as the
    // open has been tried, with the cure.
    void aMissingDeviceReadsLostAtOnce()
    {
        constexpr int kPort = 9;
        const QString link = link::portLinkPath(kPort);
        QDir().mkpath(QFileInfo(link).path());
        QFile::remove(link);
        QVERIFY(QFile::link(QStringLiteral("/nonexistent/ttyUSB9"), link));
        ConnectionPanel panel;
        QElapsedTimer sinceOpen;
        sinceOpen.start();
        pressOpen(panel, kPort);
        QLabel *label = panel.linkStateLabel();
        QVERIFY(label->text() != QStringLiteral("通讯正常"));
        QTRY_COMPARE_WITH_TIMEOUT(label->text(), QStringLiteral("通讯中断"), 900);
        QVERIFY2(sinceOpen.elapsed() < 900, qPrintable(QString::number(sinceOpen.elapsed())));
        QVERIFY2(label->toolTip().contains(QStringLiteral("串口设备不存在")), qPrintable(label->toolTip()));
        QVERIFY2(label->toolTip().contains(QStringLiteral("/dev/serial/by-id/")), qPrintable(label->toolTip()));
        link::linkThread().drain();
        ClosePort_Modbus(kPort);
        QFile::remove(link);
    }
};

STATION_TEST_MAIN(TestLinkState)
#include "tst_linkstate.moc"
