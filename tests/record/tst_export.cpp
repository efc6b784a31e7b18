// lx6100-export as the operator runs it, a child process beside the database:
// the CSV of a wrapped ring in time order, scaled or raw, between two times;
// its error cases, each one line and a non-zero exit that leaves the database
// as it was; and a consistent backup while the recorder writes.
#include "record/recorder.h"
#include "record/sampledb.h"

#include "common/datadir.h"
#include "common/datenum.h"
#include "record/export/csv.h"
#include "link/registerimage.h"
#include "tests/record/dbprobe.h"
#include "tests/record/manualclock.h"
#include "tests/support/testenv.h"
#include "tests/support/testfiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace station;
using station::test::DbProbe;

namespace {

const QDate kDay(2024, 7, 1);

struct Run {
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Run runExport(const QStringList &args, const QString &stdoutFile = QString())
{
    QProcess p;
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(QStringLiteral(EXPORT_BINARY), args);
    Run r;
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.code = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// A device that answers every write with ENOSPC, as a full disk does: the
// kernel's "full" device (1, 7), made in folder, or /dev/full itself.
QString fullDevice(const QString &folder)
{
    const QString node = QDir(folder).filePath("full");
    struct stat st {};
    if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0
        || (::stat(QFile::encodeName(node).constData(), &st) == 0 && S_ISCHR(st.st_mode)))
        return node;
    if (::stat("/dev/full", &st) == 0 && S_ISCHR(st.st_mode))
        return QStringLiteral("/dev/full");
    return QString();
}

} // namespace

class TestExport : public QObject {
    Q_OBJECT

private:
    QString m_path;

    // A wrapped ring: ids 65496..65500 are the older rows (10:00:00 to
    // 10:00:04), ids 1..3 the newer (10:10:00 to 10:10:02, after a gap of
    // ten minutes in which nothing was recorded). Value j of a row is
    // 100 * (j + 1) + its second, so the second retransmission output shows
// 60 to 60.4; the first is 503 and shows 50.3.
    void writeWrappedRing()
    {
        QVERIFY(sampledb::create(m_path));
        DbProbe db(m_path);
        const double day = dayNumber(kDay);
        QString sql = QStringLiteral("BEGIN;");
        const auto row = [&](int id, const QTime &t) {
            QStringList v;
            for (int j = 0; j < 10; ++j)
                v << QString::number(j == 4 ? 503 : 100 * (j + 1) + t.second());
            sql += QStringLiteral("INSERT INTO pv_data VALUES (%1, %2, %3, %4);")
                       .arg(id).arg(day, 0, 'f', 1).arg(dayFraction(t), 0, 'g', 17).arg(v.join(','));
        };
        for (int i = 0; i < 3; ++i)
            row(1 + i, QTime(10, 10, i));
        for (int i = 0; i < 5; ++i)
            row(65496 + i, QTime(10, 0, i));
        sql += QStringLiteral("UPDATE sl_void SET sl_pointer=3, sl_copy=3; COMMIT;");
        QVERIFY(db.exec(sql));
    }

private slots:
    void init()
    {
        m_path = QDir(dataDir()).filePath("export/Rdatabj.db");
        QDir(QFileInfo(m_path).absolutePath()).removeRecursively();
        QVERIFY(QDir().mkpath(QFileInfo(m_path).absolutePath()));
    }

    void wrappedRingInTimeOrder()
    {
        writeWrappedRing();
        const Run r = runExport({"--db", m_path});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.err, QByteArray());
        const QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.size(), 1 + 8 + 1);  // header, eight rows, nothing after the last line end
        QCOMPARE(lines[0], QByteArray("time,PV1,PV2,SV1,SV2,retransmission1,retransmission2,"
                                      "alarm1_kind,alarm2_kind,control1_output,control2_output,live,seq"));
        // Rows of unknown live state and UTC time (as in older files): no
        // offset, an empty live column.
        QCOMPARE(lines[1], QByteArray("2024-07-01T10:00:00,100,200,300,400,50.3,60,700,800,900,1000,,1"));
        QCOMPARE(lines[5], QByteArray("2024-07-01T10:00:04,104,204,304,404,50.3,60.4,704,804,904,1004,,5"));
        // The gap stays a gap: the next line is the first row after it.
        QCOMPARE(lines[6], QByteArray("2024-07-01T10:10:00,100,200,300,400,50.3,60,700,800,900,1000,,6"));
        QCOMPARE(lines[8], QByteArray("2024-07-01T10:10:02,102,202,302,402,50.3,60.2,702,802,902,1002,,8"));
        QCOMPARE(lines[9], QByteArray());
    }

    void rangeAndRaw_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArrayList>("expected");  // the lines after the header
        QTest::newRow("raw") << QStringList{"--raw", "--to", "2024-07-01T10:00:00"}
                             << QByteArrayList{"2024-07-01T10:00:00,100,200,300,400,503,600,700,800,900,1000,,1"};
        QTest::newRow("from and to, both inclusive")
            << QStringList{"--from", "2024-07-01 10:00:03", "--to", "2024-07-01T10:10:00"}
            << QByteArrayList{"2024-07-01T10:00:03,103,203,303,403,50.3,60.3,703,803,903,1003,,4",
                              "2024-07-01T10:00:04,104,204,304,404,50.3,60.4,704,804,904,1004,,5",
                              "2024-07-01T10:10:00,100,200,300,400,50.3,60,700,800,900,1000,,6"};
        QTest::newRow("inside the gap") << QStringList{"--from", "2024-07-01 10:05", "--to", "2024-07-01 10:09"}
                                        << QByteArrayList{};
        QTest::newRow("a date alone is the whole day, to its last second")
            << QStringList{"--from", "2024-07-01T10:10:02", "--to", "2024-07-01"}
            << QByteArrayList{"2024-07-01T10:10:02,102,202,302,402,50.3,60.2,702,802,902,1002,,8"};
    }
    void rangeAndRaw()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArrayList, expected);
        writeWrappedRing();
        const QString csv = QFileInfo(m_path).absolutePath() + "/out.csv";
        const Run r = runExport(QStringList{"--db", m_path, "--output", csv} + args);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray());
        QList<QByteArray> lines = test::readFileBytes(csv).split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QVERIFY(lines.takeFirst().startsWith("time,PV1,"));
        QCOMPARE(lines, expected);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::newRow("missing file") << "missing" << QStringList{} << 1;
        QTest::newRow("unreadable file: a folder") << "folder" << QStringList{} << 1;
        QTest::newRow("garbage file") << "garbage" << QStringList{} << 1;
        QTest::newRow("bad time") << "ring" << QStringList{"--from", "2024-13-01"} << 2;
        QTest::newRow("time with text") << "ring" << QStringList{"--to", "yesterday"} << 2;
        QTest::newRow("from after to") << "ring" << QStringList{"--from", "2024-07-02", "--to", "2024-07-01"} << 2;
        QTest::newRow("unknown option") << "ring" << QStringList{"--everything"} << 2;
        QTest::newRow("full disk, file") << "ring" << QStringList{"--output-full"} << 1;
        QTest::newRow("full disk, standard output") << "ring" << QStringList{"--stdout-full"} << 1;
        QTest::newRow("backup onto the database") << "ring" << QStringList{"--backup-self"} << 1;
        QTest::newRow("backup onto the database's -wal") << "ring" << QStringList{"--backup-wal"} << 1;
        QTest::newRow("CSV onto the database") << "ring" << QStringList{"--output-self"} << 1;
        QTest::newRow("CSV onto the database's -wal") << "ring" << QStringList{"--output-wal"} << 1;
        QTest::newRow("backup into a missing folder") << "ring" << QStringList{"--backup", "/nonexistent/x.db"} << 1;
        QTest::newRow("backup onto a file with a -wal beside it") << "ring" << QStringList{"--backup-stale"} << 1;
        QTest::newRow("restore with other options") << "ring" << QStringList{"--restore", "x.db", "--raw"} << 2;
    }
    void errors()
    {
        QFETCH(QString, what);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        if (what == "ring") {
            writeWrappedRing();
        } else if (what == "folder") {
            QVERIFY(QDir().mkpath(m_path));
        } else if (what == "garbage") {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QVERIFY(f.write(test::garbageBytes(4096)) == 4096);
        }
        const QByteArray before = QFileInfo(m_path).isFile() ? test::readFileBytes(m_path) : QByteArray();
        QString stdoutFile;
        if (args == QStringList{"--stdout-full"} || args == QStringList{"--output-full"}) {
            const QString full = fullDevice(QFileInfo(m_path).absolutePath());
            if (full.isEmpty())
                QSKIP("no device that answers ENOSPC (mknod refused, no /dev/full)");
            if (args == QStringList{"--stdout-full"})
                stdoutFile = full;
            args = args == QStringList{"--stdout-full"} ? QStringList{} : QStringList{"--output", full};
        }
        if (args == QStringList{"--backup-self"})
            args = QStringList{"--backup", m_path};
        else if (args == QStringList{"--backup-wal"})
            args = QStringList{"--backup", m_path + "-wal"};
        else if (args == QStringList{"--output-self"})
            args = QStringList{"--output", m_path};
        else if (args == QStringList{"--output-wal"})
            args = QStringList{"--output", m_path + "-wal"};
        const QString stale = QFileInfo(m_path).absolutePath() + "/stale.db";
        if (args == QStringList{"--backup-stale"}) {
            QFile wal(stale + "-wal");
            QVERIFY(wal.open(QIODevice::WriteOnly) && wal.write("frames of another file") > 0);
            args = QStringList{"--backup", stale};
        }

        const Run r = runExport(QStringList{"--db", m_path} + args, stdoutFile);
        QCOMPARE(r.code, code);
        QVERIFY2(r.err.startsWith("lx6100-export: ") && r.err.endsWith('\n') && r.err.count('\n') == 1,
                 r.err.constData());
        // Nothing was changed, nothing was made.
        if (QFileInfo(m_path).isFile())
            QCOMPARE(test::readFileBytes(m_path), before);
        else
            QVERIFY(what != "missing" || !QFileInfo::exists(m_path));
        QVERIFY(!QFileInfo::exists(m_path + "-journal"));
        QVERIFY(!QFileInfo::exists(m_path + "-wal"));
        QVERIFY(!QFileInfo::exists(stale));
    }

    // The live state, the UTC offset and the order of recording: a ring across
    // the end of daylight saving time, where the local hour 02:00 comes twice.
    // Rows 65499 and 65500 were taken at 02:59:58 and 02:59:59 summer time
    // (+02:00), rows 1 and 2 an hour later in UTC, at 02:00:00 and 02:00:01
    // winter time (+01:00).
    void liveOffsetAndRecordingOrder_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArrayList>("expected");
        const QByteArray values = ",0,0,0,0,0,0,0,0,0,0,";
        QTest::newRow("the whole ring") << QStringList{}
            << QByteArrayList{"2024-10-27T02:59:58+02:00" + values + "1,1", "2024-10-27T02:59:59+02:00" + values + "0,2",
                              "2024-10-27T02:00:00+01:00" + values + ",3", "2024-10-27T02:00:01+01:00" + values + "1,4"};
        QTest::newRow("the repeated hour, by local time")
            << QStringList{"--from", "2024-10-27T02:00:00", "--to", "2024-10-27T02:00:01"}
            << QByteArrayList{"2024-10-27T02:00:00+01:00" + values + ",3", "2024-10-27T02:00:01+01:00" + values + "1,4"};
    }
    void liveOffsetAndRecordingOrder()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArrayList, expected);
        QVERIFY(sampledb::create(m_path));
        {
            DbProbe db(m_path);
            const double day = dayNumber(QDate(2024, 10, 27));
            const qint64 summerUtc = QDateTime(QDate(2024, 10, 27), QTime(0, 59, 58), Qt::UTC).toSecsSinceEpoch();
            // The two columns the recorder adds when it opens a file.
            QString sql = QStringLiteral("ALTER TABLE pv_data ADD COLUMN w_live INTEGER;"
                                         "ALTER TABLE pv_data ADD COLUMN w_utc INTEGER; BEGIN;");
            const auto row = [&](int id, const QTime &local, const char *live, qint64 utc) {
                sql += QStringLiteral("INSERT INTO pv_data VALUES (%1, %2, %3, 0,0,0,0,0,0,0,0,0,0, %4, %5);")
                           .arg(id).arg(day, 0, 'f', 1).arg(dayFraction(local), 0, 'g', 17)
                           .arg(QLatin1String(live)).arg(utc);
            };
            row(65499, QTime(2, 59, 58), "1", summerUtc);
            row(65500, QTime(2, 59, 59), "0", summerUtc + 1);
            row(1, QTime(2, 0, 0), "NULL", summerUtc + 2);
            row(2, QTime(2, 0, 1), "1", summerUtc + 3);
            sql += QStringLiteral("UPDATE sl_void SET sl_pointer=2, sl_copy=2; COMMIT;");
            QVERIFY(db.exec(sql));
        }
        const Run r = runExport(QStringList{"--db", m_path} + args);
        QCOMPARE(r.code, 0);
        QList<QByteArray> lines = r.out.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QVERIFY(lines.takeFirst().endsWith(",live,seq"));
        QCOMPARE(lines, expected);
    }

    void emptyDatabaseGivesTheHeader_data()
    {
        QTest::addColumn<bool>("emptyFile");
        QTest::newRow("an empty file") << true;
        QTest::newRow("a database without rows") << false;
    }
    void emptyDatabaseGivesTheHeader()
    {
        QFETCH(bool, emptyFile);
        if (emptyFile) {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else {
            QVERIFY(sampledb::create(m_path));
        }
        const Run r = runExport({"--db", m_path});
        QCOMPARE(r.err, QByteArray());
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, exporttool::headerLine().toUtf8());
    }

    // --restore puts a backup back in place of the station's database: never
    // while a station records there; after an unclean stop the old set, its
    // -wal with it, is kept aside, and the backup stands alone.
    void restore_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<int>("code");
        QTest::newRow("beside a killed run's -wal") << "killed" << 0;
        QTest::newRow("while a station records") << "recording" << 1;
        QTest::newRow("a backup that is not a database") << "garbage" << 1;
    }
    void restore()
    {
        QFETCH(QString, situation);
        QFETCH(int, code);
        const QString backup = QFileInfo(m_path).absolutePath() + "/backup.db";
        if (situation == "garbage") {
            QFile f(backup);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(test::garbageBytes(4096)) == 4096);
        } else {
            QVERIFY(test::writeDatabase(backup, 42, 1, 42, 3));
        }
        QByteArray killedWal;
        std::unique_ptr<test::ManualClock> clock;
        std::unique_ptr<Recorder> rec;
        if (situation == "recording") {
            clock = std::make_unique<test::ManualClock>(kDay, QTime(12, 0, 0));
            rec = std::make_unique<Recorder>(*clock, m_path);
            rec->stop();
            for (int s = 0; s < 3; ++s) {
                rec->tick();
                QVERIFY(rec->settle());
                clock->advanceMs(1000);
            }
            // Not by a recent write: by the station's hold on the -shm.
            QFile wal(m_path + "-wal");
            QVERIFY(wal.open(QIODevice::ReadWrite)
                    && wal.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        } else {
            // A run killed with five rows in its -wal: the files as the kill left them.
            QVERIFY(sampledb::create(m_path));
            {
                DbProbe run(m_path);
                QVERIFY(run.exec("PRAGMA wal_autocheckpoint=0; INSERT INTO pv_data (w_id, w_date, w_time) "
                                 "VALUES (1, 45000, 0.5); UPDATE sl_void SET sl_pointer=1, sl_copy=1"));
                QVERIFY(run.endAsKilled(false));
            }
            killedWal = test::readFileBytes(m_path + "-wal");
            // The stop was an hour ago.
            QFile wal(m_path + "-wal");
            QVERIFY(wal.open(QIODevice::ReadWrite)
                    && wal.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        }
        const QByteArray before = test::readFileBytes(m_path);

        const Run r = runExport({"--db", m_path, "--restore", backup});
        QCOMPARE(r.code, code);
        const QStringList aside = QDir(QFileInfo(m_path).absolutePath()).entryList({"Rdatabj.db.old-*"}, QDir::Files);
        if (code != 0) {
            QVERIFY2(r.err.startsWith("lx6100-export: ") && r.err.count('\n') == 1, r.err.constData());
            QVERIFY(aside.isEmpty());
            QCOMPARE(test::readFileBytes(m_path), before);
            if (rec) {
                rec->tick();  // the station records on, undisturbed
                QVERIFY(rec->settle());
                QCOMPARE(rec->pointer(), 4);
            }
            return;
        }
        QVERIFY2(r.out.contains("Rdatabj.db.old-"), r.out.constData());
        QVERIFY(!QFileInfo::exists(m_path + "-wal"));
        QVERIFY(!QFileInfo::exists(m_path + "-shm"));
        QCOMPARE(aside.size(), 2);  // the file and its -wal
        const QString asideFile = QFileInfo(m_path).absolutePath() + "/" + aside.first();
        QCOMPARE(test::readFileBytes(asideFile), before);
        QCOMPARE(test::readFileBytes(asideFile + "-wal"), killedWal);
        DbProbe db(m_path);
        QCOMPARE(db.integrity(), QString("ok"));
        QCOMPARE(db.pointer(), 42);
        QCOMPARE(db.rowCount(), 42);
    }

    void backupWhileRecording()
    {
        // A full ring, and the recorder writing on while the copy is made.
        QVERIFY(test::writeDatabase(m_path, 20000, 1, sampledb::kRingSize, 7));
        test::ManualClock clock(kDay, QTime(12, 0, 0));
        Recorder rec(clock, m_path);
        rec.stop();
        QVERIFY(rec.settle());
        const QString copy = QFileInfo(m_path).absolutePath() + "/backup.db";

        QProcess p;
        p.start(QStringLiteral(EXPORT_BINARY), {"--db", m_path, "--backup", copy});
        QVERIFY(p.waitForStarted(10000));
        int seconds = 0;
        QDeadlineTimer deadline(60000);
        while (p.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            rec.tick();
            QVERIFY(rec.settle());
            ++seconds;
            QCOMPARE(rec.pointer(), 20000 + seconds);  // no save failed
            clock.advanceMs(1000);
            p.waitForFinished(5);
        }
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(p.readAllStandardError(), QByteArray());

        // One snapshot: the pointer and the row it names agree.
        DbProbe b(copy);
        QCOMPARE(b.integrity(), QString("ok"));
        QCOMPARE(b.rowCount(), qint64(sampledb::kRingSize));
        const qint64 pointer = b.pointer();
        QVERIFY(pointer >= 20000 && pointer <= 20000 + seconds);
        QCOMPARE(b.control()->at(1).toLongLong(), pointer);
        if (pointer > 20000)
            QCOMPARE(b.row(pointer)->date, dayNumber(kDay));
        QCOMPARE(b.row(pointer + 1)->values[0], 7.0);  // not yet overwritten in the copy
        QVERIFY(!QFileInfo::exists(copy + ".part"));
    }
};

STATION_TEST_MAIN_CORE(TestExport)
#include "tst_export.moc"
