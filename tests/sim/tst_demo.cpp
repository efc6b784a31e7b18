// scripts/demo.sh keeps to a data folder of its own. It runs here against an
// operator's data folder that holds a port link to a real device and a sample
// database, with the real simulated controller and, in the station's place, a
// stand-in that notes what the station would find.
#include "common/datenum.h"
#include "record/sampledb.h"

#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kHistorySeconds = 60;

// The station's stand-in: notes its data folder, where port 1 leads, and a
// copy of the database it would open.
constexpr char kStandIn[] = R"(#!/bin/sh
set -e
echo "$XDG_DATA_HOME" > "$PROBE_OUT/data_home"
readlink "$XDG_DATA_HOME/lx6100-station/serial/com1" > "$PROBE_OUT/link"
cp "$XDG_DATA_HOME/lx6100-station/"Rdatabj.db* "$PROBE_OUT/"
)";

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestDemo : public QObject {
    Q_OBJECT

private slots:
    void theDemoLeavesTheOperatorsDataAlone()
    {
        QTemporaryDir home;
        QVERIFY(home.isValid());
        const QDir root(home.path());
        // The operator's data folder: com1 on a USB adapter and a database.
        const QString operatorData = root.filePath("share/lx6100-station");
        QVERIFY(QDir().mkpath(operatorData + "/serial"));
        QVERIFY(QFile::link("/dev/ttyUSB0", operatorData + "/serial/com1"));
        const QByteArray operatorRows = "the operator's recorded samples";
        {
            QFile db(operatorData + "/Rdatabj.db");
            QVERIFY(db.open(QIODevice::WriteOnly));
            db.write(operatorRows);
        }
        // The programs: the real simulator and the stand-in station.
        QVERIFY(QDir().mkpath(root.filePath("bin")));
        QVERIFY(QFile::link(QStringLiteral(STATION_SIM_EXECUTABLE), root.filePath("bin/lx6100-sim")));
        {
            QFile standIn(root.filePath("bin/lx6100-station-demo"));
            QVERIFY(standIn.open(QIODevice::WriteOnly));
            standIn.write(kStandIn);
            standIn.setPermissions(standIn.permissions() | QFile::ExeOwner);
        }
        QVERIFY(QDir().mkpath(root.filePath("probe")));
        QVERIFY(QDir().mkpath(root.filePath("tmp")));

        QProcess demo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        env.insert("XDG_DATA_HOME", root.filePath("share"));
        env.insert("TMPDIR", root.filePath("tmp"));
        env.insert("STATION_BIN_DIR", root.filePath("bin"));
        env.insert("PROBE_OUT", root.filePath("probe"));
        env.insert("DEMO_HISTORY", QString::number(kHistorySeconds));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.remove("DISPLAY");
        demo.setProcessEnvironment(env);
        demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QDateTime started = QDateTime::currentDateTime();
        demo.start("bash", {QStringLiteral(STATION_SOURCE_DIR "/scripts/demo.sh")});
        QVERIFY(demo.waitForFinished(90000));
        const QString out = QString::fromLocal8Bit(demo.readAllStandardOutput());
        QVERIFY2(demo.exitStatus() == QProcess::NormalExit && demo.exitCode() == 0, qPrintable(out));

        // It said where its data folder is: below TMPDIR, not the operator's.
        const QRegularExpressionMatch said =
            QRegularExpression("Demo data folder: (\\S+)/lx6100-station").match(out);
        QVERIFY2(said.hasMatch(), qPrintable(out));
        const QString demoHome = said.captured(1);
        QVERIFY(demoHome.startsWith(root.filePath("tmp") + "/"));
        QCOMPARE(QString::fromLocal8Bit(readAll(root.filePath("probe/data_home"))).trimmed(), demoHome);

        // The station found port 1 on the simulator's pty and a database with
        // the simulated past, ending now.
        QVERIFY(readAll(root.filePath("probe/link")).startsWith("/dev/pts/"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "demo");
            db.setDatabaseName(root.filePath("probe/Rdatabj.db"));
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(q.exec("select count(*), max(w_date + w_time), min(v0), max(v0) from pv_data"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), kHistorySeconds);
            const double last = q.value(1).toDouble();
            const double now = station::dayNumber(started.date()) + station::dayFraction(started.time());
            QVERIFY(std::abs(last - now) * station::kSecondsPerDay < 30);
            QVERIFY(q.value(2).toDouble() > 0);                            // measured values, not zeros
            QVERIFY(q.value(3).toDouble() > q.value(2).toDouble());        // that move
            QVERIFY(q.exec("select sl_pointer from sl_void"));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toInt(), kHistorySeconds);
        }
        QSqlDatabase::removeDatabase("demo");

        // The operator's link and database are as they were; the demo's folder is gone.
        QCOMPARE(QFileInfo(operatorData + "/serial/com1").symLinkTarget(), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(readAll(operatorData + "/Rdatabj.db"), operatorRows);
        QCOMPARE(QDir(operatorData).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System),
                 QStringList({"Rdatabj.db", "serial"}));
        QVERIFY(!QFileInfo::exists(demoHome));
    }
};

STATION_TEST_MAIN_CORE(TestDemo)
#include "tst_demo.moc"
