// The sample database file: its creation, the connection settings, noticing a
// deleted or replaced file, and the main window's connection beside the
// recorder's.
#include "record/recorder.h"
#include "record/sampledb.h"

#include "common/datadir.h"
#include "link/registerimage.h"
#include "tests/record/dbprobe.h"
#include "tests/record/manualclock.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <cstdio>

using namespace station;
using station::test::DbProbe;

namespace {

QByteArray garbage(int size)
{
    QByteArray bytes(size, '\0');
    quint32 x = 0x2545F491;
    for (char &c : bytes) {  // xorshift: the same bytes on every run
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x & 0xff);
    }
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSampleDb : public QObject {
    Q_OBJECT

private:
    QString m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_dir = QDir(dataDir()).filePath(QString::fromLatin1(QTest::currentTestFunction()));
        QDir(m_dir).removeRecursively();
        QVERIFY(QDir().mkpath(m_dir));
        m_path = QDir(m_dir).filePath(sampledb::kFileName);
    }

    void createWritesSchemaAndControlRow()
    {
        QVERIFY(sampledb::create(m_path));
        QCOMPARE(QDir(m_dir).entryList(QDir::Files), QStringList{"Rdatabj.db"});  // nothing left beside it
        DbProbe db(m_path);
        QCOMPARE(db.scalar("PRAGMA journal_mode").toString(), QString("wal"));
        const auto pv = db.rows("SELECT name, type, pk FROM pragma_table_info('pv_data') ORDER BY cid");
        QVERIFY(pv);
        QList<QVariantList> expected{{"w_id", "INTEGER", 1}, {"w_date", "REAL", 0}, {"w_time", "REAL", 0}};
        for (int i = 0; i < 10; ++i)
            expected.append(QVariantList{QString("v%1").arg(i), "REAL", 0});
        QCOMPARE(*pv, expected);
        const auto sl = db.rows("SELECT name, type FROM pragma_table_info('sl_void') ORDER BY cid");
        QVERIFY(sl);
        QCOMPARE(sl->size(), 3);
        QCOMPARE(sl->at(0).at(1).toString(), QString("INTEGER"));
        QCOMPARE(sl->at(1).at(1).toString(), QString("INTEGER"));
        QCOMPARE(*db.rows("SELECT * FROM sl_void"), QList<QVariantList>{QVariantList({0, 0, 0})});
        QCOMPARE(db.rowCount(), 0);
        QCOMPARE(db.integrity(), QString("ok"));
    }

    void createNeverReplacesWhatIsThere_data()
    {
        QTest::addColumn<bool>("directory");
        QTest::newRow("a file") << false;
        QTest::newRow("a folder") << true;
    }
    void createNeverReplacesWhatIsThere()
    {
        QFETCH(bool, directory);
        const QByteArray content = garbage(3000);
        if (directory)
            QVERIFY(QDir().mkdir(m_path));
        else
            QVERIFY(writeFile(m_path, content));
        QVERIFY(!sampledb::create(m_path));
        if (directory)
            QVERIFY(QFileInfo(m_path).isDir());
        else
            QCOMPARE(readFile(m_path), content);
    }

    void createMakesTheFolder()
    {
        const QString path = QDir(m_dir).filePath("a/b/Rdatabj.db");
        QVERIFY(sampledb::create(path));
        DbProbe db(path);
        QCOMPARE(db.pointer(), 0);
    }

    void createLeavesNothingWhenItFails()
    {
        QVERIFY(writeFile(QDir(m_dir).filePath("blocked"), "x"));
        const QString path = QDir(m_dir).filePath("blocked/Rdatabj.db");
        QVERIFY(!sampledb::create(path));
        QCOMPARE(QDir(m_dir).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot), QStringList{"blocked"});
    }

    void createReplacesAnUnfinishedNewFile()
    {
        // A creation cut short leaves Rdatabj.db.new; the next one starts over.
        QVERIFY(writeFile(m_path + ".new", garbage(5000)));
        QVERIFY(sampledb::create(m_path));
        QVERIFY(!QFile::exists(m_path + ".new"));
        DbProbe db(m_path);
        QCOMPARE(db.integrity(), QString("ok"));
        QCOMPARE(db.pointer(), 0);
    }

    void connectionSettings()
    {
        {
            sampledb::Connection c("settings", m_path);
            QVERIFY(c.open());  // creates the missing file
            QSqlQuery q(c.database());
            QVERIFY(q.exec("PRAGMA journal_mode") && q.next());
            QCOMPARE(q.value(0).toString(), QString("wal"));
            QVERIFY(q.exec("PRAGMA synchronous") && q.next());
            QCOMPARE(q.value(0).toInt(), 2);  // FULL
            QVERIFY(q.exec("PRAGMA busy_timeout") && q.next());
            QCOMPARE(q.value(0).toInt(), sampledb::kBusyTimeoutMs);
            QVERIFY(q.exec("UPDATE sl_void SET sl_spare=5"));
        }
        DbProbe db(m_path);
        QCOMPARE(db.control(), QVariantList({0, 0, 5}));
    }

    void connectionOnAnAwkwardPath()
    {
        // The connection names its file as a URI: blanks, '#', '?', '%' and
        // non-ASCII letters in the folder must still reach the right file.
        const QString dir = QDir(m_dir).filePath(QString::fromUtf8("数据 #1 ?a=b %20"));
        const QString path = QDir(dir).filePath(sampledb::kFileName);
        sampledb::Connection c("awkward", path);
        QVERIFY(c.open());
        QVERIFY(c.isCurrent());
        QSqlQuery q(c.database());
        QVERIFY(q.exec("UPDATE sl_void SET sl_pointer=9"));
        q = QSqlQuery();
        c.close();
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{"Rdatabj.db"});
        DbProbe db(path);
        QCOMPARE(db.pointer(), 9);
    }

    void connectionOnGarbageFailsAndLeavesIt()
    {
        const QByteArray content = garbage(8192);
        QVERIFY(writeFile(m_path, content));
        sampledb::Connection c("garbage", m_path);
        QVERIFY(!c.open());
        QVERIFY(!c.isOpen());
        QCOMPARE(readFile(m_path), content);
    }

    void connectionNoticesDeletedOrReplacedFile()
    {
        sampledb::Connection c("identity", m_path);
        QVERIFY(c.open());
        QVERIFY(c.isCurrent());

        QVERIFY(test::writeDatabase(m_path + ".other", 42));
        QCOMPARE(std::rename(qPrintable(m_path + ".other"), qPrintable(m_path)), 0);
        QVERIFY(!c.isCurrent());
        QVERIFY(c.open());
        QVERIFY(c.isCurrent());
        QSqlQuery q(c.database());
        QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
        QCOMPARE(q.value(0).toInt(), 42);
        q = QSqlQuery();

        QVERIFY(QFile::remove(m_path));
        QVERIFY(!c.isCurrent());
        c.close();
        QVERIFY(!c.isCurrent());
    }

    void staleWalOfADeletedFileIsNotReplayed()
    {
        QVERIFY(sampledb::create(m_path));
        {
            // Rows that live only in the WAL, then the database file goes away
            // while that connection is still open.
            DbProbe old(m_path);
            QVERIFY(old.exec("PRAGMA wal_autocheckpoint=0"));
            QVERIFY(old.exec("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<500)"
                             " INSERT INTO pv_data SELECT i, 1, 0.5, 1,2,3,4,5,6,7,8,9,10 FROM n;"
                             "UPDATE sl_void SET sl_pointer=500, sl_copy=500"));
            QVERIFY(QFile::exists(m_path + "-wal"));
            QVERIFY(QFile::remove(m_path));

            sampledb::Connection c("fresh", m_path);
            QVERIFY(c.open());  // a new file
            QSqlQuery q(c.database());
            QVERIFY(q.exec("PRAGMA integrity_check") && q.next());
            QCOMPARE(q.value(0).toString(), QString("ok"));
            QVERIFY(q.exec(sampledb::kSelectControl) && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
            QVERIFY(q.exec("SELECT count(*) FROM pv_data") && q.next());
            QCOMPARE(q.value(0).toInt(), 0);
        }
    }

    void mainWindowConnectionBesideTheRecorder()
    {
        // The main window's connection is opened first at start-up, and creates
        // the file; the recorder's comes second.
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(sampledb::defaultPath() + QLatin1String(suffix));
        QSqlDatabase mw = sampledb::openMainWindowConnection();
        QVERIFY(mw.isOpen());
        QCOMPARE(mw.connectionName(), QString("ssqx"));
        test::ManualClock clock(QDate(2024, 5, 1), QTime(10, 0, 0));
        Recorder rec(clock, sampledb::defaultPath());
        rec.stop();
        QVERIFY(rec.settle());
        QVERIFY(QSqlDatabase::connectionNames().contains("mscom"));
        QVERIFY(QSqlDatabase::connectionNames().contains("ssqx"));

        for (int i = 0; i < 5; ++i) {
            rec.tick();
            QVERIFY(rec.settle());
            clock.advanceMs(1000);
        }
        {
            QSqlQuery q(mw);
            QVERIFY(q.exec("select * from  sl_void") && q.next());
            QCOMPARE(q.value(0).toInt(), 5);
            QCOMPARE(q.value(1).toInt(), 5);

            // A history read in progress does not stop the recorder.
            QSqlQuery history(mw);
            QVERIFY(history.exec("select * from  pv_data order by w_date,w_time"));
            QVERIFY(history.next());
            rec.tick();
            QVERIFY(rec.settle());
            QCOMPARE(rec.pointer(), 6);
            QVERIFY(history.next());
        }
        QCOMPARE(sampledb::openMainWindowConnection().connectionName(), QString("ssqx"));
        mw = QSqlDatabase();
        sampledb::closeMainWindowConnection();
        QVERIFY(!QSqlDatabase::contains("ssqx"));
        QVERIFY(QSqlDatabase::contains("mscom"));
    }
};

STATION_TEST_MAIN_CORE(TestSampleDb)
#include "tst_sampledb.moc"
