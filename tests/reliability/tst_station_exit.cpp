// The station ends cleanly on SIGTERM, SIGINT and SIGHUP: a child process runs
// the whole station, records for a few seconds and gets the signal. It must end
// normally, and Rdatabj.db alone, copied without its -wal, must hold every row
// that was stored: the WAL went into the file before the end.
#include "record/sampledb.h"

#include "tests/record/dbprobe.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using station::test::DbProbe;

class TestStationExit : public QObject {
    Q_OBJECT

private slots:
    void signalEndsTheStationCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void signalEndsTheStationCleanly()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        QProcess station;
        station.setProcessEnvironment(env);
        station.setProcessChannelMode(QProcess::ForwardedChannels);
        station.start(QStringLiteral(STATION_BINARY), {});
        QVERIFY(station.waitForStarted(10000));

        // Recording: at least three rows, so some live only in the WAL.
        const QString path = QDir(home.path()).filePath("lx6100-station/Rdatabj.db");
        const auto pointer = [&path] {
            if (!QFile::exists(path))
                return qint64(-1);
            DbProbe db(path);
            return db.pointer();
        };
        QTRY_VERIFY_WITH_TIMEOUT(pointer() >= 3, 30000);
        QVERIFY(QFileInfo(path + "-wal").size() > 0);

        QCOMPARE(::kill(pid_t(station.processId()), signalNumber), 0);
        QVERIFY(station.waitForFinished(20000));
        QCOMPARE(station.exitStatus(), QProcess::NormalExit);
        QCOMPARE(station.exitCode(), 0);

        // The database file alone, as an operator copies it to a stick.
        const QString copy = QDir(home.path()).filePath("copy.db");
        QVERIFY(QFile::copy(path, copy));
        qint64 storedPointer = 0;
        qint64 storedRows = 0;
        {
            DbProbe all(path);  // with whatever -wal is left
            storedPointer = all.pointer();
            storedRows = all.rowCount();
        }
        QVERIFY(storedPointer >= 3);
        DbProbe alone(copy);
        QCOMPARE(alone.integrity(), QString("ok"));
        QCOMPARE(alone.pointer(), storedPointer);
        QCOMPARE(alone.rowCount(), storedRows);
    }
};

STATION_TEST_MAIN_CORE(TestStationExit)
#include "tst_station_exit.moc"
