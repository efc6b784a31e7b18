// The journal of three runs of the whole station (journal_station_child) on
// one data folder, read back with lx6100-export:
//   1  a session: "打开", a write answered, the link lost, a write to the dead
//      line, the link back, "关闭", "退出";
//   2  a run an hour behind (faketime), killed;
//   3  a run ended by SIGTERM.
// --events lists every event with its details in the journal's order, whatever
// the clock did; --verify accepts the file, and names the row an sqlite3
// session changed, deleted or inserted.
#include "tests/support/testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

struct Event {
    qint64 seq = 0;
    QString local;
    QString kind;
    QJsonObject details;
};

// The CSV's fields: quoted ones may hold commas and doubled quotes.
QStringList csvFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"')
                field += c, ++i;
            else if (c == u'"')
                quoted = false;
            else
                field += c;
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u',') {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    return fields << field;
}

} // namespace

class TestJournalStation : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_db;

    QProcessEnvironment environment(bool hourBehind) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", m_home.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        if (hourBehind) {
            env.insert("LD_PRELOAD", FAKETIME_LIBRARY);
            env.insert("FAKETIME", "-1h");
            env.insert("FAKETIME_DONT_FAKE_MONOTONIC", "1");
        }
        return env;
    }

    // A child in idle mode, once it has said "ready".
    bool startIdle(QProcess &child, bool hourBehind)
    {
        child.setProcessEnvironment(environment(hourBehind));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(CHILD_BINARY), {QStringLiteral("idle")});
        return child.waitForStarted(10000) && QTest::qWaitFor([&child] {
            return child.canReadLine() || child.state() != QProcess::Running;
        }, 20000) && child.readLine() == "ready\n";
    }

    QProcess *exportTool(const QStringList &args, const QString &db)
    {
        auto *p = new QProcess(this);
        p->start(QStringLiteral(EXPORT_BINARY), QStringList{QStringLiteral("--db"), db} + args);
        p->waitForFinished(20000);
        return p;
    }

    QList<Event> events(const QString &db)
    {
        QProcess *p = exportTool({QStringLiteral("--events")}, db);
        const QStringList lines = QString::fromUtf8(p->readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QList<Event> result;
        for (int i = 1; i < lines.size(); ++i) {
            const QStringList f = csvFields(lines[i]);
            if (f.size() == 7)
                result.append({f[0].toLongLong(), f[1], f[4], QJsonDocument::fromJson(f[5].toUtf8()).object()});
        }
        return result;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        m_db = QDir(m_home.path()).filePath("lx6100-station/Rdatabj.db");

        QProcess session;
        session.setProcessEnvironment(environment(false));
        session.setProcessChannelMode(QProcess::ForwardedChannels);
        session.start(QStringLiteral(CHILD_BINARY), {QStringLiteral("session")});
        QVERIFY(session.waitForFinished(30000));
        QCOMPARE(session.exitCode(), 0);

        QProcess behind;
        QVERIFY(startIdle(behind, true));
        behind.kill();
        QVERIFY(behind.waitForFinished(10000));

        QProcess last;
        QVERIFY(startIdle(last, false));
        QCOMPARE(::kill(pid_t(last.processId()), SIGTERM), 0);
        QVERIFY(last.waitForFinished(20000));
        QCOMPARE(last.exitCode(), 0);
    }

    void eventsListEveryRunInTheJournalsOrder()
    {
        const QList<Event> got = events(m_db);
        QStringList kinds;
        for (const Event &e : got)
            kinds << e.kind;
        QCOMPARE(kinds, QStringList({"start", "open", "write", "link-lost", "write", "link-back", "close", "end",
                                     "clock-jump", "start",
                                     "unclean-end", "start", "end"}));
        for (int i = 0; i < got.size(); ++i)
            QCOMPARE(got[i].seq, qint64(i + 1));

        const QJsonObject open = got[1].details;
        QCOMPARE(open["opened"].toBool(), true);
        QCOMPARE(open["port"].toInt(), 1);
        QCOMPARE(open["baud"].toInt(), 9600);
        QCOMPARE(open["parity"].toString(), QString("none"));
        QCOMPARE(open["address"].toInt(), 1);

        const QJsonObject answered = got[2].details;
        QCOMPARE(answered["outcome"].toString(), QString("answered"));
        QCOMPARE(answered["window"].toString(), QString("ssqx"));
        QCOMPARE(answered["control"].toString(), QString("Text1_0"));
        QCOMPARE(answered["caption"].toString(), QString("设定SV1"));
        QCOMPARE(answered["register"].toInt(), 1);
        QCOMPARE(answered["value"].toInt(), 250);
        QCOMPARE(answered["shown_before"].toString(), QString("0"));

        QVERIFY(got[3].details["error"].toString().contains("超时"));
        const QJsonObject failed = got[4].details;
        QCOMPARE(failed["outcome"].toString(), QString("failed"));
        QCOMPARE(failed["caption"].toString(), QString("报警1设定值"));
        QCOMPARE(failed["register"].toInt(), 257);
        QCOMPARE(failed["value"].toInt(), 35);
        QCOMPARE(failed["result"].toInt(), -8888);
        QCOMPARE(failed["retry_result"].toInt(), -8888);
        QVERIFY(got[5].details["down_ms"].toInteger() >= 1000);
        QCOMPARE(got[7].details["way"].toString(), QString("退出"));

        // The clock an hour behind the journal at the second start.
        const qint64 jump = got[8].details["jump_ms"].toInteger();
        QVERIFY2(jump < -3500000 && jump > -3700000, qPrintable(QString::number(jump)));
        QVERIFY(got[8].details["between_runs"].toBool());
        // The killed run: told at the next start, with its last sample,
        // which was taken on the clock an hour behind.
        const QJsonObject unclean = got[10].details;
        const QDateTime lastSample = QDateTime::fromString(unclean["last_sample"].toString(), Qt::ISODate);
        const QDateTime killedStart = QDateTime::fromString(got[9].local, Qt::ISODateWithMs);
        QVERIFY2(qAbs(killedStart.secsTo(lastSample)) <= 10, qPrintable(unclean["last_sample"].toString()));
        QCOMPARE(got[12].details["way"].toString(), QString("SIGTERM"));
    }

    void verifyAcceptsTheJournal()
    {
        QProcess *p = exportTool({QStringLiteral("--verify")}, m_db);
        QCOMPARE(p->exitCode(), 0);
        const QByteArray out = p->readAllStandardOutput();
        QCOMPARE(out.count('\n'), 1);
        QVERIFY2(out.contains("rows 1 to 13"), out.constData());
    }

    void verifyNamesTheRowChanged_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("named");
        QTest::newRow("changed") << "UPDATE event_log SET e_details = replace(e_details, '250', '25') WHERE e_seq = 3"
                                 << "event_log row 3 does not fit";
        QTest::newRow("deleted") << "DELETE FROM event_log WHERE e_seq = 5" << "event_log row 5 is missing";
        QTest::newRow("inserted")
            << "UPDATE event_log SET e_seq = -e_seq WHERE e_seq >= 6; "
               "UPDATE event_log SET e_seq = 1 - e_seq WHERE e_seq < 0; "
               "INSERT INTO event_log SELECT 6, e_local, e_utc, e_user, e_kind, e_details, e_hash "
               "FROM event_log WHERE e_seq = 3"
            << "event_log row 6 does not fit";
    }

    void verifyNamesTheRowChanged()
    {
        QFETCH(QString, sql);
        QFETCH(QString, named);
        const QString copy = QDir(m_home.path()).filePath("tampered.db");
        QFile::remove(copy);
        QVERIFY(QFile::copy(m_db, copy));
        QProcess sqlite;
        sqlite.start(QStringLiteral("sqlite3"), {copy, sql});
        QVERIFY(sqlite.waitForFinished(10000));
        QCOMPARE(sqlite.exitCode(), 0);

        QProcess *p = exportTool({QStringLiteral("--verify")}, copy);
        QCOMPARE(p->exitCode(), 1);
        const QString error = QString::fromUtf8(p->readAllStandardError());
        QVERIFY2(error.contains(named), qPrintable(error));
    }
};

STATION_TEST_MAIN_CORE(TestJournalStation)
#include "tst_journal_station.moc"
