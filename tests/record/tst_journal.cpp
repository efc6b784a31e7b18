// The event journal on its own: what --verify names in a file changed after
// the fact (the chain and the sample table's pointer), the clock's jumps as the
// recorder sees them on its ticks, and the events that come after the recorder
// thread has ended.
#include "record/journal.h"
#include "record/journalcheck.h"
#include "record/recorder.h"
#include "record/samplestore.h"

#include "tests/record/dbprobe.h"
#include "tests/record/manualclock.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTest>
#include <sqlite3.h>

using namespace station;
using test::DbProbe;
using test::ManualClock;

namespace {

const QDateTime kStart(QDate(2024, 7, 2), QTime(9, 0, 0), Qt::UTC);

// A sample database of three rows (pointer 3) and five events.
bool buildFile(const QString &path)
{
    if (!test::writeDatabase(path, 3, 1, 3, 1))
        return false;
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(path).constData(), &db) != SQLITE_OK)
        return false;
    std::vector<journal::Event> events;
    for (int i = 0; i < 5; ++i)
        events.push_back(journal::makeEvent(journal::Kind::Write, kStart.addSecs(i),
                                            QJsonObject{{"register", 1}, {"value", i}}));
    const bool ok = journal::append(db, events) == 5;
    sqlite3_close(db);
    return ok;
}

// Rewrites row 3 with a changed value and its hash computed anew, as someone
// who knows the format would.
void rewriteRowThreeWithItsHash(DbProbe &db)
{
    const auto two = db.scalar("SELECT e_hash FROM event_log WHERE e_seq = 2").toString();
    const auto r = db.rows("SELECT e_seq, e_local, e_utc, e_user, e_kind, e_details FROM event_log WHERE e_seq = 3");
    journal::Row row;
    const auto integer = [](qint64 n) { journal::Value v; v.type = journal::Value::Type::Integer; v.integer = n; return v; };
    const auto text = [](const QString &t) { journal::Value v; v.type = journal::Value::Type::Text; v.bytes = t.toUtf8(); return v; };
    const QString details = QStringLiteral("{\"register\":1,\"value\":99}");
    row[0] = integer(3);
    row[1] = text(r->at(0).at(1).toString());
    row[2] = integer(r->at(0).at(2).toLongLong());
    row[3] = text(r->at(0).at(3).toString());
    row[4] = text(r->at(0).at(4).toString());
    row[5] = text(details);
    const QByteArray hash = journal::rowHash(journal::chainLink(text(two)), row);
    db.exec(QStringLiteral("UPDATE event_log SET e_details = '%1', e_hash = '%2' WHERE e_seq = 3")
                .arg(details, QString::fromLatin1(hash)));
}

journal::CheckResult check(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    const journal::CheckResult result = journal::checkDatabase(db);
    sqlite3_close(db);
    return result;
}

QList<QJsonObject> eventsOf(const QString &path, const QString &kind)
{
    DbProbe db(path);
    QList<QJsonObject> out;
    const auto r = db.rows(QStringLiteral("SELECT e_details FROM event_log WHERE e_kind = '%1' ORDER BY e_seq").arg(kind));
    for (const QVariantList &row : r.value_or(QList<QVariantList>{}))
        out << QJsonDocument::fromJson(row.at(0).toByteArray()).object();
    return out;
}

} // namespace

class TestJournal : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = QDir(m_dir.path()).filePath(QStringLiteral("%1.db").arg(QTest::currentDataTag()).replace(' ', '_'));
    }

    void verifyNamesTheFirstRowThatDoesNotFit_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("rehash");  // row 3 changed with its hash computed anew
        QTest::addColumn<QString>("line");
        QTest::newRow("as written") << "" << false << "journal: rows 1 to 5 chained";
        QTest::newRow("the first row deleted") << "DELETE FROM event_log WHERE e_seq = 1" << false
                                               << "event_log row 1 is missing: the journal starts at row 2";
        QTest::newRow("two rows deleted") << "DELETE FROM event_log WHERE e_seq IN (2, 3)" << false
                                          << "event_log rows 2 to 3 are missing: row 4 follows row 1";
        QTest::newRow("a row put before the first")
            << "INSERT INTO event_log SELECT 0, e_local, e_utc, e_user, e_kind, e_details, e_hash FROM event_log "
               "WHERE e_seq = 1" << false << "event_log row 0 does not belong";
        QTest::newRow("a row added after the newest")
            << "INSERT INTO event_log SELECT 6, e_local, e_utc, e_user, e_kind, e_details, e_hash FROM event_log "
               "WHERE e_seq = 5" << false << "event_log row 6 does not fit";
        QTest::newRow("the user changed") << "UPDATE event_log SET e_user = 'other' WHERE e_seq = 2" << false
                                          << "event_log row 2 does not fit";
        // The same bytes as another storage class are another value.
        QTest::newRow("a kind made a blob") << "UPDATE event_log SET e_kind = CAST(e_kind AS BLOB) WHERE e_seq = 4"
                                            << false << "event_log row 4 does not fit";
        QTest::newRow("a change with its hash computed anew") << "" << true << "event_log row 4 does not fit";
        QTest::newRow("the pointer's copy differs") << "UPDATE sl_void SET sl_copy = 2" << false
                                                    << "sl_void: the pointer 3 and its copy 2 differ";
        QTest::newRow("a pointer outside the ring") << "UPDATE sl_void SET sl_pointer = 70000, sl_copy = 70000"
                                                    << false << "sl_void: the pointer 70000 lies outside the ring";
        QTest::newRow("a pointer that names no row") << "DELETE FROM pv_data WHERE w_id = 3" << false
                                                     << "sl_void: the pointer 3 names no row of pv_data";
        QTest::newRow("a second pointer row") << "INSERT INTO sl_void VALUES (3, 3, 0)" << false
                                              << "sl_void holds 2 rows, not one";
        QTest::newRow("a row outside the ring") << "INSERT INTO pv_data (w_id) VALUES (65501)" << false
                                                << "pv_data row 65501 lies outside the ring";
    }
    void verifyNamesTheFirstRowThatDoesNotFit()
    {
        QFETCH(QString, sql);
        QFETCH(bool, rehash);
        QFETCH(QString, line);
        QVERIFY(buildFile(m_path));
        {
            DbProbe db(m_path);
            if (!sql.isEmpty())
                QVERIFY2(db.exec(sql), qPrintable(db.error()));
            if (rehash)
                rewriteRowThreeWithItsHash(db);
        }
        const journal::CheckResult result = check(m_path);
        QVERIFY2(result.line.startsWith(line), qPrintable(result.line));
        QCOMPARE(result.fits, sql.isEmpty() && !rehash);
    }

    // The recorder holds the PC clock against the monotonic clock on each tick.
    void clockJumpsAreJournaled_data()
    {
        QTest::addColumn<qint64>("passMs");     // time that passes
        QTest::addColumn<qint64>("setMs");      // the clock set by this much
        QTest::addColumn<int>("offsetS");       // the UTC offset becomes this
        QTest::addColumn<qint64>("jumpMs");     // journaled; 0: nothing
        QTest::newRow("a tick") << qint64(100) << qint64(0) << 0 << qint64(0);
        QTest::newRow("a GUI thread held up 30 s") << qint64(30000) << qint64(0) << 0 << qint64(0);
        QTest::newRow("set 2 s forward") << qint64(100) << qint64(2000) << 0 << qint64(0);
        QTest::newRow("set 2.1 s forward") << qint64(100) << qint64(2100) << 0 << qint64(2100);
        QTest::newRow("set an hour back") << qint64(100) << qint64(-3600000) << 0 << qint64(-3600000);
        QTest::newRow("daylight saving begins") << qint64(100) << qint64(0) << 3600 << qint64(3600000);
    }
    void clockJumpsAreJournaled()
    {
        QFETCH(qint64, passMs);
        QFETCH(qint64, setMs);
        QFETCH(int, offsetS);
        QFETCH(qint64, jumpMs);
        ManualClock clock(kStart.toOffsetFromUtc(0));
        const QDateTime from = clock.now();
        {
            Recorder rec(clock, m_path);
            rec.stop();
            rec.startJournal({});
            rec.tick();
            clock.advanceMs(passMs);
            clock.set(clock.now().addMSecs(setMs).toOffsetFromUtc(offsetS));
            rec.tick();
            QVERIFY(rec.settle());
        }
        const QList<QJsonObject> jumps = eventsOf(m_path, QStringLiteral("clock-jump"));
        QCOMPARE(jumps.size(), jumpMs == 0 ? 0 : 1);
        if (jumpMs == 0)
            return;
        QCOMPARE(jumps[0]["jump_ms"].toInteger(), jumpMs);
        QCOMPARE(jumps[0]["utc_jump_ms"].toInteger(), setMs);
        QCOMPARE(jumps[0]["utc_offset_after_s"].toInt(), offsetS);
        QCOMPARE(jumps[0]["from"].toString(), journal::localText(from));
        QCOMPARE(jumps[0]["to"].toString(), journal::localText(clock.now()));
    }

    // At the end the recorder thread is gone before the last writes' outcomes
    // and the end come: they go into the file, in order, chained, and the file
    // alone holds them.
    void eventsAfterTheRecorderThreadAreWrittenAtTheEnd()
    {
        ManualClock clock(kStart);
        Recorder rec(clock, m_path);
        rec.stop();
        rec.startJournal({});
        rec.tick();
        QVERIFY(rec.finish().walFolded);
        rec.journal(journal::Kind::Write, QJsonObject{{"outcome", "dropped"}});
        rec.endJournal(QJsonObject{{"way", "SIGTERM"}});
        QVERIFY(!QFile::exists(m_path + "-wal"));
        DbProbe db(m_path);
        const auto kinds = db.rows("SELECT e_kind FROM event_log ORDER BY e_seq");
        QCOMPARE(kinds->size(), 3);
        QCOMPARE(kinds->at(1).at(0).toString(), QStringLiteral("write"));
        QCOMPARE(kinds->at(2).at(0).toString(), QStringLiteral("end"));
        QVERIFY(check(m_path).fits);
    }
};

STATION_TEST_MAIN_CORE(TestJournal)
#include "tst_journal.moc"
