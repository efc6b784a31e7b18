// Port numbers to devices, and the time-outs chosen from the baud rate.
#include "link/libmodbusbackend.h"
#include "link/modbusrtu.h"
#include "link/portpath.h"

#include "common/datadir.h"
#include "tests/support/testenv.h"

#include <QFile>
#include <QtTest>

using namespace station;

class TestPortPath : public QObject {
    Q_OBJECT

private slots:
    void withoutALinkThePortIsTheSerialDevice()
    {
        QCOMPARE(link::portDevicePath(1), QStringLiteral("/dev/ttyS0"));
        QCOMPARE(link::portDevicePath(20), QStringLiteral("/dev/ttyS19"));
    }

    void aLinkInTheDataFolderWins()
    {
        QDir().mkpath(dataDir() + "/serial");
        const QString link = dataDir() + "/serial/com4";
        QVERIFY(QFile::link("/dev/null", link));
        QCOMPARE(link::portDevicePath(4), link);
        QCOMPARE(link::portDevicePath(5), QStringLiteral("/dev/ttyS4"));
        // A dangling link still names the port: the device may come back.
        QFile::remove(link);
        QVERIFY(QFile::link(dataDir() + "/nowhere", link));
        QCOMPARE(link::portDevicePath(4), link);
        QFile::remove(link);
    }

    void timeoutsFollowTheBaudRate()
    {
        // 45 characters of 11 bits plus 500 ms.
        QCOMPARE(link::responseTimeout(0).count(), 104 + 500);
        QCOMPARE(link::responseTimeout(1).count(), 52 + 500);
        QCOMPARE(link::responseTimeout(2).count(), 26 + 500);
        QCOMPARE(link::responseTimeout(3).count(), 0);
        QVERIFY(link::byteTimeout(2).count() >= 20);
    }

    void aPortThatCannotBeOpenedFailsQuietly()
    {
        const QString link = dataDir() + "/serial/com9";
        QDir().mkpath(dataDir() + "/serial");
        QVERIFY(QFile::link(dataDir() + "/missing-device", link));
        OpenPort_Modbus(9, 1, 0);
        std::int32_t buffer[8] = {5, 5, 5, 5, 5, 5, 5, 5};
        QCOMPARE(Get_3X_DX(9, 1, 1, 8, buffer), link::kReadFailed);
        QCOMPARE(buffer[0], 5);
        std::int32_t bits[2] = {-1, -1};
        QCOMPARE(Get_1X_B16(9, 1, 1, bits), link::kReadFailed);
        QCOMPARE(bits[0], -1);
        QCOMPARE(Set_4X_D1(9, 1, 1, 10), link::kWriteFailed);
        QCOMPARE(Set_4X_D1(0, 1, 1, 10), link::kWriteFailed); // never opened
        ClosePort_Modbus(9);
        QFile::remove(link);
    }
};

STATION_TEST_MAIN_CORE(TestPortPath)
#include "tst_portpath.moc"
