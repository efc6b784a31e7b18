// The libmodbus link and the poller against the controller simulator over a
// real pseudo-terminal: values, faults on the line, late replies, and a device
// that vanishes.
//
// The line's time-out margin is 100 ms here, not 500: the simulator answers at
// once or exactly as late as it is told, and the shorter base time-out keeps
// the waits of a silent line short (at 9600 the base is 152 ms and the horizon
// 1064 ms; at 19200, 126 ms and 882 ms; link/lineguard.h).
#include "link/libmodbusbackend.h"
#include "link/lineguard.h"
#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"

#include "sim/simulator.h"

#include "tests/support/testenv.h"

#include <QtTest>

using namespace station;
using sim::Fault;

class TestLinkSim : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Simulator> m_sim;

    void fillSimulator()
    {
        for (int i = 0; i < 8; ++i)
            m_sim->setInput(1 + i, std::int16_t(100 * (i + 1)));
        m_sim->setInput(2, -1234);
        m_sim->setInput(5, 503);
        for (int i = 0; i < 16; ++i)
            m_sim->setInput(4097 + i, std::int16_t(i));
        for (int i = 0; i < 8; ++i)
            m_sim->setHolding(1 + i, std::int16_t(-10 * i));
        for (int i = 0; i < 48; ++i)
            m_sim->setHolding(4097 + i, std::int16_t(i % 2 ? -i : 2000 + i));
        for (int i = 0; i < 8; ++i)
            m_sim->setHolding(257 + i, std::int16_t(300 + i));
        for (int p = 1; p <= 16; ++p) {
            m_sim->setDiscrete(p, p % 3 == 1);
            m_sim->setCoil(p, p >= 9);
        }
    }

    void verifyImageEqualsSimulator()
    {
        const RegisterImage &img = registerImage();
        for (int i = 0; i < 8; ++i)
            QCOMPARE(img.inputWords[std::size_t(i)], std::int32_t(m_sim->input(1 + i)));
        for (int i = 0; i < 16; ++i)
            QCOMPARE(img.programStatus[std::size_t(i)], std::int32_t(m_sim->input(4097 + i)));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(img.holdingWords[std::size_t(i)], std::int32_t(m_sim->holding(1 + i)));
        for (int i = 0; i < 48; ++i)
            QCOMPARE(img.paramImage[std::size_t(i)], float(m_sim->holding(4097 + i)));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(img.alarmWords[std::size_t(i)], std::int32_t(m_sim->holding(257 + i)));
        for (int p = 1; p <= 16; ++p) {
            QCOMPARE(img.discreteBits[std::size_t(p - 1)], m_sim->discrete(p) ? 1 : 0);
            QCOMPARE(img.coilBits[std::size_t(p - 1)], m_sim->coil(p) ? 1 : 0);
        }
    }

    // One cycle, timed.
    qint64 timedCycle(Poller &poller)
    {
        QElapsedTimer t;
        t.start();
        poller.runCycle();
        return t.elapsed();
    }

    // The backend's last failure, read on the link thread.
    static link::LinkFailure lastFailure()
    {
        link::LinkFailure f;
        link::linkThread().call([&f] {
            f = link::backend().lastFailure();
            return 0;
        }, 0);
        return f;
    }

private slots:
    void initTestCase()
    {
        link::setReplyMargin(std::chrono::milliseconds(100));
    }

    void cleanupTestCase()
    {
        link::setReplyMargin(link::kReplyMargin);
    }

    void init()
    {
        registerImage() = RegisterImage{};
        linkSettings() = LinkSettings{1, 1, 0, 1, 0};
        m_sim = std::make_unique<sim::Simulator>(1, 1);
        QVERIFY(m_sim->start());
        fillSimulator();
        QCOMPARE(OpenPort_Modbus(1, 1, 0), link::kOk);
    }

    void cleanup()
    {
        ClosePort_Modbus(1);
        m_sim.reset();
    }

    void aCycleCopiesTheControllerIntoTheImage()
    {
        Poller poller;
        poller.runCycle();
        verifyImageEqualsSimulator();
        QCOMPARE(registerImage().inputWords[1], -1234);
        QCOMPARE(registerImage().liveSample[1], -1234.0f);
        QCOMPARE(m_sim->requestCount(), std::uint64_t(9));
    }

    void everyLineFormatWorks_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("parity");
        for (int b = 0; b < 3; ++b)
            for (int p = 0; p < 3; ++p)
                QTest::addRow("baud %d parity %d", b, p) << b << p;
    }

    void everyLineFormatWorks()
    {
        QFETCH(int, baud);
        QFETCH(int, parity);
        QCOMPARE(OpenPort_Modbus(1, baud, parity), link::kOk);
        std::int32_t words[8] = {};
        QCOMPARE(Get_3X_DX(1, 1, 1, 8, words), link::kOk);
        QCOMPARE(words[1], -1234);
    }

    void writesReachTheControllerAsSixteenBitWords()
    {
        QCOMPARE(Set_4X_D1(1, 1, 4109, -100), link::kOk);
        QCOMPARE(m_sim->holding(4109), std::int16_t(-100));
        QCOMPARE(Set_4X_D1(1, 1, 1, 9999), link::kOk);
        QCOMPARE(m_sim->holding(1), std::int16_t(9999));
        std::int32_t back[1] = {};
        QCOMPARE(Get_4X_DX(1, 1, 4109, 1, back), link::kOk);
        QCOMPARE(back[0], -100);
        // The unsigned reading of a word goes out as that word; a value no word
        // holds is refused without a frame.
        QCOMPARE(Set_4X_D1(1, 1, 2, 65535), link::kOk);
        QCOMPARE(m_sim->holding(2), std::int16_t(-1));
        QCOMPARE(Set_4X_D1(1, 1, 1, 70000), link::kWriteFailed);
        QCOMPARE(m_sim->holding(1), std::int16_t(9999));
    }

    void anotherStationAddressIsNotAnswered()
    {
        std::int32_t words[8] = {7, 7, 7, 7, 7, 7, 7, 7};
        QCOMPARE(Get_3X_DX(1, 2, 1, 8, words), link::kReadFailed);
        QCOMPARE(words[0], 7);
        QCOMPARE(Set_4X_D1(1, 2, 1, 5), link::kWriteFailed);
    }

    void faultsLeaveTheImageStaleWithinTheTimeouts_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::newRow("silent") << Fault::Silent;
        QTest::newRow("slow") << Fault::Slow;
        QTest::newRow("bad crc") << Fault::BadCrc;
        QTest::newRow("exception") << Fault::Exception;
        QTest::newRow("garbage") << Fault::Garbage;
    }

    void faultsLeaveTheImageStaleWithinTheTimeouts()
    {
        Poller poller;
        poller.runCycle();
        const RegisterImage good = registerImage();

        QFETCH(Fault, fault);
        m_sim->setFault(fault);
        m_sim->setInput(1, 4321);
        const qint64 ms = timedCycle(poller);
        // An exchange after a time-out waits at most for the horizon and one
        // more base time-out of a babbling line (plus a little); the reply that
        // comes 700 ms late is past this line's cap (608 ms), so the reads fail.
        const auto base = link::responseTimeout(1);
        const qint64 bound = 9 * ((link::LineGuard::kHorizonFactor + 1) * base.count() + 60);
        QVERIFY2(ms <= bound, qPrintable(QStringLiteral("%1 ms > %2 ms").arg(ms).arg(bound)));
        QCOMPARE(registerImage().inputWords, good.inputWords);
        QCOMPARE(registerImage().discreteBits, good.discreteBits);
        QCOMPARE(Set_4X_D1(1, 1, 2, 55), link::kWriteFailed);

        // The line recovers by itself: once it has been quiet for a time-out (a
        // slow controller may still answer requests it was sent before) the image
        // follows again.
        m_sim->setFault(Fault::None);
        QElapsedTimer recovery;
        recovery.start();
        while (registerImage().inputWords[0] != 4321 && recovery.elapsed() < 15000) {
            poller.runCycle();
            QTest::qWait(20);
        }
        poller.runCycle();
        QCOMPARE(registerImage().inputWords[0], 4321);
        verifyImageEqualsSimulator();
    }

    // A reply that comes after the time-out is never taken for the answer to
    // the next request, even one of the same shape: the next request waits
    // for the horizon (1064 ms here) and a quiet line, then goes out and gets
    // its own answer (it is not failed unsent).
    void aLateReplyIsNeverMisread()
    {
        m_sim->setFault(Fault::Slow, 1); // the next reply comes 700 ms late
        std::int32_t alarms[8] = {};
        QCOMPARE(Get_4X_DX(1, 1, 257, 8, alarms), link::kReadFailed);
        std::int32_t holding[8] = {};
        QCOMPARE(Get_4X_DX(1, 1, 1, 8, holding), link::kOk);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(holding[i], std::int32_t(m_sim->holding(1 + i)));
    }

    // A controller that answers every request late, reads of one shape again
    // and again (the three parameter runs): no reply ever lands in another
    // request's slots. At 19200 baud the base time-out is 126 ms, the cap 504
    // ms and the horizon 882 ms: 280 ms late is what 1.2 s is at 9600 with the
    // station's margin (below 3 base), 680 ms what 3 s is (past the cap,
    // inside the horizon).
    void lateRepliesNeverLandInAnotherRequestsSlots_data()
    {
        QTest::addColumn<int>("lateMs");
        QTest::addColumn<bool>("read");
        QTest::newRow("late like 1.2 s at 9600") << 280 << true;
        QTest::newRow("past the cap, like 3 s at 9600") << 680 << false;
    }

    void lateRepliesNeverLandInAnotherRequestsSlots()
    {
        QFETCH(int, lateMs);
        QFETCH(bool, read);
        QCOMPARE(OpenPort_Modbus(1, 2, 0), link::kOk);
        m_sim->setSlowDelay(std::chrono::milliseconds(lateMs));
        m_sim->setFault(Fault::Slow);
        constexpr std::int32_t kUntouched = 0x5A5A;
        int good = 0;
        for (int i = 0; i < 4; ++i) {
            const int first = 4097 + 16 * (i % 3);
            std::int32_t words[16];
            std::fill(std::begin(words), std::end(words), kUntouched);
            const bool answered = Get_4X_DX(1, 1, first, 16, words) == link::kOk;
            good += answered ? 1 : 0;
            for (int k = 0; k < 16; ++k)
                QCOMPARE(words[k], answered ? std::int32_t(m_sim->holding(first + k)) : kUntouched);
        }
        // Read from the second on, or never; a read past the cap says why.
        QCOMPARE(good, read ? 3 : 0);
        if (!read)
            QCOMPARE(lastFailure().fault, link::LinkFault::TooLate);
    }

    // A time-out, then "关闭" and "打开" at once: the next read, of the same
    // shape, still waits for the late reply and gets its own answer.
    void aReopenKeepsWaitingForALateReply()
    {
        QCOMPARE(OpenPort_Modbus(1, 2, 0), link::kOk); // 19200: base 126 ms
        m_sim->setSlowDelay(std::chrono::milliseconds(200));
        m_sim->setFault(Fault::Slow, 1);
        std::int32_t first[16] = {};
        QCOMPARE(Get_4X_DX(1, 1, 4097, 16, first), link::kReadFailed);
        QCOMPARE(ClosePort_Modbus(1), link::kOk);
        QCOMPARE(OpenPort_Modbus(1, 2, 0), link::kOk);
        std::int32_t next[16] = {};
        QCOMPARE(Get_4X_DX(1, 1, 4113, 16, next), link::kOk);
        for (int k = 0; k < 16; ++k)
            QCOMPARE(next[k], std::int32_t(m_sim->holding(4113 + k)));
    }

    void aVanishedDeviceIsReopenedWhenItReturns()
    {
        Poller poller;
        poller.runCycle();
        QVERIFY(link::LibmodbusBackend::instance().isConnected(1));

        m_sim->vanish();
        m_sim->setInput(1, 777);
        poller.runCycle();
        QCOMPARE(registerImage().inputWords[0], 100); // stale, no crash
        QVERIFY(!link::LibmodbusBackend::instance().isConnected(1));
        QCOMPARE(Set_4X_D1(1, 1, 1, 1), link::kWriteFailed);

        QVERIFY(m_sim->reappear());
        poller.runCycle(); // no one pressed anything
        QCOMPARE(registerImage().inputWords[0], 777);
        verifyImageEqualsSimulator();
    }

    void aClosedPortFailsQuietly()
    {
        ClosePort_Modbus(1);
        std::int32_t words[8] = {3, 3, 3, 3, 3, 3, 3, 3};
        QCOMPARE(Get_3X_DX(1, 1, 1, 8, words), link::kReadFailed);
        QCOMPARE(words[0], 3);
        QCOMPARE(Set_4X_D1(1, 1, 1, 1), link::kWriteFailed);
    }
};

STATION_TEST_MAIN_CORE(TestLinkSim)
#include "tst_link_sim.moc"
