// Line timing: characters, frame gaps and whole exchanges at the station's
// three baud rates, against figures worked out by hand.
#include "sim/wiretiming.h"

#include "tests/support/testenv.h"

#include <QtTest>

using namespace station::sim;
using namespace std::chrono;

Q_DECLARE_METATYPE(LineFormat)

class TestWireTiming : public QObject {
    Q_OBJECT

private slots:
    void characterTime_data()
    {
        QTest::addColumn<LineFormat>("format");
        QTest::addColumn<int>("bits");
        QTest::addColumn<qint64>("nanoseconds");
        // 11 bits whatever the parity: none uses two stop bits.
        QTest::newRow("9600 N") << LineFormat{9600, 'N', 0} << 11 << qint64(1'145'833);
        QTest::newRow("9600 E") << LineFormat{9600, 'E', 0} << 11 << qint64(1'145'833);
        QTest::newRow("4800 O") << LineFormat{4800, 'O', 0} << 11 << qint64(2'291'666);
        QTest::newRow("19200 N") << LineFormat{19200, 'N', 0} << 11 << qint64(572'916);
        // Explicit framings: 8N1 is 10 bits, 8E2 is 12.
        QTest::newRow("9600 8N1") << LineFormat{9600, 'N', 1} << 10 << qint64(1'041'666);
        QTest::newRow("9600 8E2") << LineFormat{9600, 'E', 2} << 12 << qint64(1'250'000);
    }

    void characterTime()
    {
        QFETCH(LineFormat, format);
        QFETCH(int, bits);
        QFETCH(qint64, nanoseconds);
        QCOMPARE(bitsPerCharacter(format), bits);
        QCOMPARE(qint64(station::sim::characterTime(format).count()), nanoseconds);
    }

    void frameGapIsThreeAndAHalfCharactersUpTo19200()
    {
        // 3.5 * 1.145833 ms = 4.010 ms at 9600; 2.005 ms at 19200.
        QCOMPARE(qint64(frameGap({9600, 'N', 0}).count()), qint64(4'010'415));
        QCOMPARE(qint64(frameGap({19200, 'E', 0}).count()), qint64(2'005'206));
        // Faster lines use the fixed 1.75 ms.
        QCOMPARE(frameGap({38400, 'N', 0}), nanoseconds(microseconds(1750)));
        QCOMPARE(frameGap({115200, 'N', 0}), nanoseconds(microseconds(1750)));
    }

    void exchangeTime_data()
    {
        QTest::addColumn<LineFormat>("format");
        QTest::addColumn<int>("requestBytes");
        QTest::addColumn<int>("replyBytes");
        QTest::addColumn<double>("milliseconds");
        // A read of 16 registers: 8-byte request, 37-byte reply (42.40 ms at
        // 9600), a gap after each: (8 + 37 + 7) * 1.145833 = 59.58 ms.
        QTest::newRow("16 registers at 9600") << LineFormat{9600, 'E', 0} << 8 << 37 << 59.583;
        QTest::newRow("16 registers at 4800") << LineFormat{4800, 'N', 0} << 8 << 37 << 119.167;
        QTest::newRow("16 registers at 19200") << LineFormat{19200, 'O', 0} << 8 << 37 << 29.792;
        // A single write: 8 bytes each way, (8 + 8 + 7) * 1.145833 = 26.35 ms.
        QTest::newRow("write at 9600") << LineFormat{9600, 'N', 0} << 8 << 8 << 26.354;
    }

    void exchangeTime()
    {
        QFETCH(LineFormat, format);
        QFETCH(int, requestBytes);
        QFETCH(int, replyBytes);
        QFETCH(double, milliseconds);
        const double got = station::sim::exchangeTime(format, requestBytes, replyBytes).count() / 1e6;
        QVERIFY2(qAbs(got - milliseconds) < 0.001, qPrintable(QString::number(got, 'f', 4)));
    }

    void theReplyAloneTakesWhatItsBytesNeed()
    {
        // The 37-byte reply of a 16-register read at 9600 baud: 42.40 ms.
        const LineFormat line{9600, 'N', 0};
        QCOMPARE(qRound(37 * station::sim::characterTime(line).count() / 1e4), 4240);
    }
};

STATION_TEST_MAIN_CORE(TestWireTiming)
#include "tst_wiretiming.moc"
