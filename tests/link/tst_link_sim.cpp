// The libmodbus link and the poller against the controller simulator over a
// real pseudo-terminal: values, faults on the line, and a device that vanishes.
#include "link/libmodbusbackend.h"
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

private slots:
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
        // Every exchange costs at most its response time-out, then a wait for a
        // quiet line: one more time-out, two when a late reply comes in it
        // (plus a little).
        const qint64 bound = 9 * (3 * link::responseTimeout(1).count() + 60);
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
    // until the line has been quiet for a time-out, then goes out and gets its
    // own answer (it is not failed unsent).
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
