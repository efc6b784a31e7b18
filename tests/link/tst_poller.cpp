// The polling cycle against a fake link on the link thread: the exact calls and
// their order, the yields between them, the image it fills, the byte decoding
// rules, the deferred tick, the stop, and writes between two reads.
#include "link/linkthread.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "link/writeoutcome.h"

#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QtTest>

using namespace station;
using station::test::FakeLink;
using station::test::LinkCall;
using station::test::LinkOp;

Q_DECLARE_METATYPE(station::link::WriteOutcome)

class TestPoller : public QObject {
    Q_OBJECT

private slots:
    void init() { test::resetLinkFixture(); }

    void oneCycleIssuesTheNineReadsInOrder()
    {
        FakeLink fake;
        Poller poller;
        QList<int> callsAtYield;
        // At a yield the cycle's read has come back and the next is not posted.
        poller.setYield([&] { callsAtYield.append(int(fake.calls.size())); });
        QVERIFY(poller.runCycle());

        const QList<LinkCall> expected = {
            {LinkOp::ReadInput, 3, 7, 1, 8},       {LinkOp::ReadInput, 3, 7, 4097, 16},
            {LinkOp::ReadHolding, 3, 7, 1, 8},     {LinkOp::ReadHolding, 3, 7, 4097, 16},
            {LinkOp::ReadHolding, 3, 7, 4113, 16}, {LinkOp::ReadHolding, 3, 7, 4129, 16},
            {LinkOp::ReadHolding, 3, 7, 257, 8},   {LinkOp::ReadDiscrete, 3, 7, 1, 16},
            {LinkOp::ReadCoils, 3, 7, 1, 16},
        };
        QCOMPARE(fake.calls.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QVERIFY2(fake.calls[i] == expected[i], qPrintable(test::describe(fake.calls[i])));
        // Yields between exchanges: after the live sample (1 call made), after
        // steps 3 and 4, after each parameter run, after the alarms and the inputs.
        QCOMPARE(callsAtYield, (QList<int>{1, 2, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(poller.completedCycles(), 1);
    }

    void cycleFillsTheImageRaw()
    {
        FakeLink fake;
        for (int i = 0; i < 8; ++i)
            fake.inputs[1 + i] = 100 * (i + 1);
        fake.inputs[5] = 503;
        fake.inputs[2] = -250;
        for (int i = 0; i < 16; ++i)
            fake.inputs[4097 + i] = i + 1;
        for (int i = 0; i < 8; ++i)
            fake.holding[1 + i] = -(i + 1);
        for (int i = 0; i < 48; ++i)
            fake.holding[4097 + i] = 1000 + i;
        for (int i = 0; i < 8; ++i)
            fake.holding[257 + i] = 20 * i;
        fake.discreteSlots[0] = 0b00100101;
        fake.discreteSlots[1] = 0b10000000;
        fake.coilSlots[0] = 255;
        fake.coilSlots[1] = 1;
        Poller poller;
        poller.runCycle();

        const RegisterImage &img = registerImage();
        QCOMPARE(img.inputWords[0], 100);
        QCOMPARE(img.inputWords[1], -250);
        QCOMPARE(img.inputWords[4], 503);
        QCOMPARE(img.liveSample[4], 503.0f); // no scaling in the image
        QCOMPARE(img.liveSample[1], -250.0f);
        QCOMPARE(img.programStatus[15], 16);
        QCOMPARE(img.holdingWords[2], -3);
        QCOMPARE(img.holdingFloat[2], -3.0f);
        QCOMPARE(img.paramImage[0], 1000.0f);
        QCOMPARE(img.paramImage[47], 1047.0f);
        QCOMPARE(img.alarmWords[7], 140);
        QCOMPARE(img.discreteBits, (std::array<std::int32_t, 16>{1, 0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
        // 255, all eight points active, is decoded.
        QCOMPARE(img.coilBits, (std::array<std::int32_t, 16>{1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}));
    }

    void liveSampleTakesTheDiscreteBitsOfThePreviousCycle()
    {
        FakeLink fake;
        Poller poller;
        poller.setYield({});
        fake.discreteSlots[0] = 0b11; // control outputs 1 and 2 become active
        poller.runCycle();
        QCOMPARE(registerImage().discreteBits[0], 1);
        QCOMPARE(registerImage().liveSample[8], 0.0f);
        QCOMPARE(registerImage().liveSample[9], 0.0f);
        poller.runCycle();
        QCOMPARE(registerImage().liveSample[8], 100.0f);
        QCOMPARE(registerImage().liveSample[9], 100.0f);
        fake.discreteSlots[0] = 0b10;
        poller.runCycle();
        QCOMPARE(registerImage().liveSample[8], 100.0f);
        poller.runCycle();
        QCOMPARE(registerImage().liveSample[8], 0.0f);
        QCOMPARE(registerImage().liveSample[9], 100.0f);
    }

    void slotsOutsideTheByteRangeLeaveTheirBits_data()
    {
        QTest::addColumn<int>("slot0");
        QTest::addColumn<int>("slot1");
        QTest::addColumn<bool>("low");
        QTest::addColumn<bool>("high");
        QTest::newRow("both in range") << 0 << 0 << true << true;
        QTest::newRow("negative low slot") << -1 << 0 << false << true;
        QTest::newRow("256 in the high slot") << 0 << 256 << true << false;
        QTest::newRow("both out") << 1000 << -32768 << false << false;
        QTest::newRow("255 is decoded") << 255 << 255 << true << true;
    }

    void slotsOutsideTheByteRangeLeaveTheirBits()
    {
        QFETCH(int, slot0);
        QFETCH(int, slot1);
        QFETCH(bool, low);
        QFETCH(bool, high);
        FakeLink fake;
        Poller poller;
        poller.setYield({});
        fake.discreteSlots[0] = 0b01010101;
        fake.discreteSlots[1] = 0b10101010;
        poller.runCycle();
        const auto before = registerImage().discreteBits;

        fake.discreteSlots[0] = slot0;
        fake.discreteSlots[1] = slot1;
        poller.runCycle();
        const auto &bits = registerImage().discreteBits;
        for (int i = 0; i < 8; ++i) {
            const int expectLow = low ? decodeByte(slot0)[std::size_t(i)] : before[std::size_t(i)];
            const int expectHigh = high ? decodeByte(slot1)[std::size_t(i)] : before[std::size_t(8 + i)];
            QCOMPARE(bits[std::size_t(i)], expectLow);
            QCOMPARE(bits[std::size_t(8 + i)], expectHigh);
        }
    }

    void failedReadsKeepTheImage()
    {
        FakeLink fake;
        fake.inputs[1] = 42;
        fake.holding[4097] = 9;
        fake.discreteSlots[0] = 4;
        Poller poller;
        poller.runCycle();
        fake.readsFail = true;
        fake.inputs[1] = 43;
        fake.holding[4097] = 10;
        poller.runCycle();
        QCOMPARE(registerImage().inputWords[0], 42);       // buffer left untouched
        QCOMPARE(registerImage().discreteBits[2], 1);      // bits unchanged
        QCOMPARE(registerImage().paramImage[0], 9.0f);     // the parameter block too
    }

    // One bad exchange in the parameter block: the failed run keeps its
    // previous values (not zeros), the other two take the new ones.
    void aFailedParameterRunKeepsItsValues_data()
    {
        QTest::addColumn<int>("failingRun");
        QTest::newRow("4097..4112") << 4097;
        QTest::newRow("4113..4128") << 4113;
        QTest::newRow("4129..4144") << 4129;
    }

    void aFailedParameterRunKeepsItsValues()
    {
        QFETCH(int, failingRun);
        FakeLink fake;
        for (int i = 0; i < 48; ++i)
            fake.holding[4097 + i] = 5000 + i;
        Poller poller;
        poller.runCycle();
        for (int i = 0; i < 48; ++i)
            fake.holding[4097 + i] = 6000 + i;
        fake.failingReads = {failingRun};
        poller.runCycle();
        for (int i = 0; i < 48; ++i) {
            const bool failed = 4097 + i >= failingRun && 4097 + i < failingRun + 16;
            QCOMPARE(registerImage().paramImage[std::size_t(i)], float(failed ? 5000 + i : 6000 + i));
        }
    }

    // A tick that falls due while a cycle runs is deferred: the next cycle
    // starts as soon as this one ends, and cycles never interleave.
    void aTickDuringACycleIsDeferredNotNested()
    {
        FakeLink fake;
        Poller poller;
        int ticks = 0;
        poller.setYield([&] {
            if (poller.completedCycles() == 0) {
                ++ticks;
                poller.startCycle(); // what a timer tick during the cycle does
            }
        });
        QVERIFY(poller.runCycle());
        QVERIFY(poller.runCycle()); // the deferred one, which has started by itself
        QCOMPARE(poller.completedCycles(), 2);
        fake.settle();
        QCOMPARE(fake.calls.size(), 18);
        for (int i = 0; i < 9; ++i)
            QVERIFY2(fake.calls[9 + i] == fake.calls[i], qPrintable(test::describe(fake.calls[9 + i])));
        QCOMPARE(poller.deferredTicks(), 1); // however many ticks fell due
        QCOMPARE(ticks, 8);
        QVERIFY(!poller.isCycleRunning());
    }

    void realTimerTicksDuringYieldsDoNotNest()
    {
        FakeLink fake;
        Poller poller; // driven by its own 100 ms timer
        bool inside = false;
        bool nested = false;
        fake.onCall = [&](const LinkCall &c) {
            if (c.op == LinkOp::ReadInput && c.first == 1) {
                nested = nested || inside;
                inside = true;
            }
            if (c.op == LinkOp::ReadCoils)
                inside = false;
            // Make each exchange long enough that the next tick falls inside the cycle.
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 15) {
            }
        };
        poller.startPolling();
        QTRY_VERIFY_WITH_TIMEOUT(poller.completedCycles() >= 3, 5000);
        poller.stopPolling();
        // Qt never fires a timer again while its own slot runs, and the cycle's
        // guard covers every other way in: no cycle ever starts inside another.
        QVERIFY(!nested);
    }

    void stoppingDuringAYieldEndsTheCycle()
    {
        FakeLink fake;
        Poller poller;
        poller.startPolling();
        poller.setYield([&] { poller.stopPolling(); });
        QVERIFY(!poller.runCycle());
        fake.settle();
        QCOMPARE(fake.calls.size(), 1);
        QVERIFY(!poller.isCycleRunning());
        QCOMPARE(poller.completedCycles(), 0);
    }

    // A window's write made while a cycle runs (here, an event pending when
    // the third read completes) goes out between two reads: after the read it
    // followed, before the next one.
    void aWriteDuringACycleGoesOutBetweenTwoReads()
    {
        FakeLink fake;
        Poller poller;
        int yields = 0;
        poller.setYield([&] {
            if (++yields == 3)
                QMetaObject::invokeMethod(
                    &poller, [] { writeWithRetry(257, -5); }, Qt::QueuedConnection);
        });
        QVERIFY(poller.runCycle());
        fake.settle();
        QCOMPARE(fake.calls.size(), 10);
        QCOMPARE(fake.calls[2], (LinkCall{LinkOp::ReadHolding, 3, 7, 1, 8}));
        QCOMPARE(fake.calls[3], (LinkCall{LinkOp::Write, 3, 7, 257, -5}));
        QCOMPARE(fake.calls[4], (LinkCall{LinkOp::ReadHolding, 3, 7, 4097, 16}));
    }

    // Stopping ends the cycle on the link thread's queue too: the read that has
    // not gone out is dropped, the writes queued before the stop still go out.
    void stoppingDropsTheCyclesQueuedReadButNotWrites()
    {
        FakeLink fake;
        Poller poller;
        poller.setYield([&] {
            writeWithRetry(1, 11);
            poller.stopPolling();
            writeWithRetry(2, 22);
        });
        QVERIFY(!poller.runCycle());
        const auto writes = fake.writes();
        QCOMPARE(fake.calls.size(), 3);
        QCOMPARE(fake.calls[0].op, LinkOp::ReadInput);
        QCOMPARE(writes, (QList<LinkCall>{{LinkOp::Write, 3, 7, 1, 11}, {LinkOp::Write, 3, 7, 2, 22}}));
    }

    void writeWithRetryIssuesExactlyOneMoreCallAfterFailure_data()
    {
        QTest::addColumn<int>("firstResult");
        QTest::addColumn<int>("retryResult");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("calls");
        QTest::addColumn<int>("failedExchanges");
        QTest::addColumn<link::WriteOutcome>("outcome");
        using O = link::WriteOutcome;
        QTest::newRow("-8888 retried once") << -8888 << -8888 << -5 << 2 << 2 << O::Failed;
        QTest::newRow("-8888, the retry taken") << -8888 << 0 << -5 << 2 << 1 << O::AnsweredOnRetry;
        QTest::newRow("0 not retried") << 0 << -8888 << -5 << 1 << 0 << O::Answered;
        QTest::newRow("-1 counts as success") << -1 << -8888 << -5 << 1 << 0 << O::Answered;
        QTest::newRow("-8887 counts as success") << -8887 << -8888 << -5 << 1 << 0 << O::Answered;
        // A value no 16-bit word holds fails before the line, both times: no
        // exchange, so none is counted as failed.
        QTest::newRow("70000 never sent") << 0 << -8888 << 70000 << 0 << 0 << O::Refused;
        QTest::newRow("65536 never sent") << 0 << -8888 << 65536 << 0 << 0 << O::Refused;
        QTest::newRow("-32769 never sent") << 0 << -8888 << -32769 << 0 << 0 << O::Refused;
        QTest::newRow("65535 sent as it is") << 0 << -8888 << 65535 << 1 << 0 << O::Answered;
        QTest::newRow("32768 sent as it is") << 0 << -8888 << 32768 << 1 << 0 << O::Answered;
        QTest::newRow("-32768 sent as it is") << 0 << -8888 << -32768 << 1 << 0 << O::Answered;
    }

    // The retry is decided on the link thread: the caller gets kQueued at once,
    // the outcome comes later on the GUI thread.
    void writeWithRetryIssuesExactlyOneMoreCallAfterFailure()
    {
        QFETCH(int, firstResult);
        QFETCH(int, retryResult);
        QFETCH(int, value);
        QFETCH(int, calls);
        QFETCH(int, failedExchanges);
        QFETCH(link::WriteOutcome, outcome);
        FakeLink fake;
        fake.writeResults = {firstResult, retryResult, -8888};
        // Outcomes of earlier tests' writes are delivered first, to nobody.
        link::linkThread().drain();
        link::writeOutcomes().deliver();
        QList<link::WriteReport> reports;
        QObject receiver;
        connect(&link::writeOutcomes(), &link::WriteOutcomes::finished, &receiver,
                [&reports](const link::WriteReport &r) { reports.append(r); });
        const auto before = link::linkThread().status();
        QCOMPARE(writeWithRetry(257, value), link::kQueued);
        const auto writes = fake.writes();
        const auto after = link::linkThread().status();
        QCOMPARE(int(after.failed - before.failed), failedExchanges);
        QCOMPARE(writes.size(), calls);
        for (const LinkCall &w : writes)
            QVERIFY(w == (LinkCall{LinkOp::Write, 3, 7, 257, value}));
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 2000);
        QCOMPARE(reports[0].outcome, outcome);
        QCOMPARE(reports[0].reg, 257);
        QCOMPARE(reports[0].value, value);
    }
};

STATION_TEST_MAIN(TestPoller)
#include "tst_poller.moc"
