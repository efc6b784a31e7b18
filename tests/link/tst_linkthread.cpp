// The link thread's queue on a fake link: writes that wait do not pile up
// (the newest value of a register replaces the queued one), writes and reads
// take turns, every write ends in one outcome, and a synchronous call returns
// when the thread gives its queue up.
#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "link/writeoutcome.h"

#include "tests/support/fakelink.h"
#include "tests/support/outcomelog.h"
#include "tests/support/testenv.h"

#include <QDeadlineTimer>
#include <QtTest>

#include <atomic>
#include <thread>

using namespace station;
using station::test::FakeLink;
using station::test::LinkCall;
using station::test::LinkOp;

namespace {

// Holds a call on the link thread until released: a write in progress on a
// dead or slow line.
class Gate {
public:
    void hold(const std::function<bool()> &until = {})
    {
        m_entered = true;
        const QDeadlineTimer deadline(5000);
        while (!m_open && !(until && until()) && !deadline.hasExpired())
            std::this_thread::yield();
    }
    void open() { m_open = true; }
    bool entered() const { return m_entered; }

private:
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_entered{false};
};

} // namespace

class TestLinkThread : public QObject {
    Q_OBJECT

private slots:
    void init() { test::resetLinkFixture(); }

    // Twenty presses of one write on a dead line, then it answers again: the
    // write in progress finishes (with its retry), then only the last value
    // goes out; every other press is reported replaced, with its tag.
    void aNewerWriteReplacesTheQueuedOne()
    {
        FakeLink fake;
        fake.writeResults = {link::kWriteFailed, link::kWriteFailed};
        Gate dead;
        fake.beforeCall = [&](const LinkCall &c) {
            if (c.op == LinkOp::Write && c.count == 1)
                dead.hold();
        };
        test::OutcomeLog outcomes;
        writeWithRetry(1, 1, QStringLiteral("press 1"));
        QTRY_VERIFY_WITH_TIMEOUT(dead.entered(), 2000);
        for (int v = 2; v <= 20; ++v)
            writeWithRetry(1, v, QStringLiteral("press %1").arg(v));
        writeWithRetry(2, 7); // another register keeps its own write
        QCOMPARE(link::linkThread().status().writesWaiting, 3);
        dead.open();
        QCOMPARE(fake.writes(), (QList<LinkCall>{{LinkOp::Write, 3, 7, 1, 1},
                                                  {LinkOp::Write, 3, 7, 1, 1},
                                                  {LinkOp::Write, 3, 7, 1, 20},
                                                  {LinkOp::Write, 3, 7, 2, 7}}));
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.reports.size(), 21, 2000);
        QList<link::WriteOutcome> expected{link::WriteOutcome::Failed};
        for (int v = 2; v < 20; ++v)
            expected.append(link::WriteOutcome::Replaced);
        expected.append(link::WriteOutcome::Answered);
        QList<link::WriteOutcome> byValue;
        for (int v = 1; v <= 20; ++v)
            for (const auto &r : outcomes.reports)
                if (r.reg == 1 && r.value == v) {
                    byValue.append(r.outcome);
                    QCOMPARE(r.tag.toString(), QStringLiteral("press %1").arg(v));
                }
        QCOMPARE(byValue, expected);
        QCOMPARE(outcomes.of(2), QList<link::WriteOutcome>{link::WriteOutcome::Answered});
    }

    // A close between two writes to one register keeps both: the first goes
    // out on the port as it was open.
    void aWriteIsNotReplacedAcrossAClose()
    {
        FakeLink fake;
        Gate busy;
        fake.beforeCall = [&](const LinkCall &c) {
            if (c.op == LinkOp::ReadInput)
                busy.hold();
        };
        link::Request read;
        read.op = link::Op::ReadInput;
        read.first = 1;
        read.count = 1;
        link::linkThread().post(read);
        QTRY_VERIFY_WITH_TIMEOUT(busy.entered(), 2000);
        writeWithRetry(1, 10);
        link::Request close;
        close.op = link::Op::Close;
        close.port = 3;
        link::linkThread().post(close);
        writeWithRetry(1, 11);
        busy.open();
        QCOMPARE(fake.writes(), (QList<LinkCall>{{LinkOp::Write, 3, 7, 1, 10}, {LinkOp::Write, 3, 7, 1, 11}}));
    }

    // Writes wait behind a write in progress while a cycle runs: each write is
    // followed by the cycle's next read, not by the other writes.
    void writesAndReadsTakeTurns()
    {
        FakeLink fake;
        // A write takes as long as it takes the GUI thread to post the next read.
        fake.beforeCall = [](const LinkCall &c) {
            if (c.op != LinkOp::Write)
                return;
            const QDeadlineTimer deadline(2000);
            while (link::linkThread().pending() - link::linkThread().status().writesWaiting < 1
                   && !deadline.hasExpired())
                std::this_thread::yield();
        };
        Poller poller;
        int yields = 0;
        poller.setYield([&] {
            if (++yields == 1)
                for (int reg = 257; reg <= 260; ++reg)
                    writeWithRetry(reg, reg);
        });
        QVERIFY(poller.runCycle());
        fake.settle();
        QStringList order;
        for (const LinkCall &c : fake.calls)
            order << (c.op == LinkOp::Write ? QStringLiteral("W%1").arg(c.first) : QStringLiteral("R"));
        QCOMPARE(order.join(u' '), QStringLiteral("R W257 R W258 R W259 R W260 R R R R R"));
    }

    // "退出" with a write in progress on a dead line and the bound spent: the
    // queue is given up, a synchronous call waiting in it returns a failure,
    // and the write behind it is reported dropped.
    void aSynchronousCallReturnsWhenTheQueueIsGivenUp()
    {
        FakeLink fake;
        Gate dead;
        fake.beforeCall = [&](const LinkCall &c) {
            if (c.op == LinkOp::Write && c.first == 1)
                dead.hold();
        };
        test::OutcomeLog outcomes;
        writeWithRetry(1, 5);
        QTRY_VERIFY_WITH_TIMEOUT(dead.entered(), 2000);
        std::atomic<bool> returned{false};
        std::atomic<std::int32_t> result{0};
        std::thread tool([&] {
            std::int32_t words[8] = {};
            result = Get_3X_DX(3, 7, 1, 8, words);
            returned = true;
        });
        QTRY_COMPARE_WITH_TIMEOUT(link::linkThread().pending(), 2, 2000);
        writeWithRetry(2, 6);
        std::thread exiting([] { link::linkThread().finish(std::chrono::milliseconds(50)); });
        QTRY_VERIFY_WITH_TIMEOUT(returned.load(), 2000);
        QCOMPARE(result.load(), link::kReadFailed);
        dead.open();
        exiting.join();
        tool.join();
        QTRY_COMPARE_WITH_TIMEOUT(outcomes.reports.size(), 2, 2000);
        QCOMPARE(outcomes.of(1), QList<link::WriteOutcome>{link::WriteOutcome::Answered});
        QCOMPARE(outcomes.of(2), QList<link::WriteOutcome>{link::WriteOutcome::Dropped});
    }
};

STATION_TEST_MAIN(TestLinkThread)
#include "tst_linkthread.moc"
