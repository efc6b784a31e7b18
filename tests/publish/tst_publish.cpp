// lx6100-publish as the operator runs it, against a real Mosquitto broker on a
// free loopback port, with mosquitto_sub as the subscriber: a sample arrives
// soon after its commit with the panel's values; samples and events recorded
// while the broker was away for ten seconds arrive once, in order; a killed
// publisher leaves "offline" and resumes from its positions; wrong credentials, an unknown host, TLS with
// a test CA; the command line's errors. The test runs with TZ=CST-8 (UTC+8).
#include "tests/publish/mqttfixture.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace station;
using namespace station::test;

namespace {

constexpr int kArrivalMs = 2000;   // a committed row is on the broker within this
constexpr int kWaitMs = 10000;     // deadline for anything that should happen much sooner
constexpr qint64 kAwayMs = 10000;  // how long the broker is stopped

const QByteArray kOnlineRecording = R"({"state":"online","station":"recording","link":"live"})";
const QByteArray kOffline = R"({"state":"offline"})";

// Row k's values: PV1 = 250 + k tells the rows apart; retransmission 1 is
// stored in tenths (503 shows 50.3).
std::array<double, 10> valuesOf(int k)
{
    return {250.0 + k, 601, 250, 600, 503, 1000, 1, 0, 100, 0};
}

// The sample as the panel shows row k, by hand.
QByteArray expectedSample(int k, const QDateTime &local, bool withLive)
{
    return "{\"time\":\"" + local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + "+08:00\",\"PV1\":"
        + QByteArray::number(250 + k)
        + R"(,"PV2":601,"SV1":250,"SV2":600,"retransmission1":50.3,"retransmission2":100,)"
          R"("alarm1_kind":1,"alarm2_kind":0,"control1_output":100,"control2_output":0)"
        + (withLive ? ",\"live\":true}" : "}");
}

// PV1 - 250 of every sample received: which rows arrived, in which order.
QList<int> rowsOf(const QList<QByteArray> &payloads)
{
    QList<int> rows;
    for (const QByteArray &p : payloads) {
        const qsizetype at = p.indexOf("\"PV1\":");
        rows << (at < 0 ? -1 : p.mid(at + 6, p.indexOf(',', at) - at - 6).toInt() - 250);
    }
    return rows;
}

// details.n of every event received (the fixture's events carry {"n":n}).
QList<int> eventsOf(const QList<QByteArray> &payloads)
{
    QList<int> events;
    for (const QByteArray &p : payloads) {
        const qsizetype at = p.indexOf("\"details\":{\"n\":");
        events << (at < 0 ? -1 : p.mid(at + 15, p.indexOf('}', at) - at - 15).toInt());
    }
    return events;
}

QList<int> upTo(int last)
{
    QList<int> all;
    for (int k = 1; k <= last; ++k)
        all << k;
    return all;
}

// Runs a helper program; what it says is shown only when it fails.
bool run(const QString &program, const QStringList &args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ok = p.waitForFinished(kWaitMs) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!ok)
        qWarning().noquote() << program << args.join(QLatin1Char(' ')) << p.readAll();
    return ok;
}

// A sample database, a broker and a subscriber, named `name` in folder.
struct Scene {
    Scene(const QString &folder, const QString &name, bool liveAndUtc, const QString &filter,
          const QStringList &brokerLines = {})
        : db(QDir(folder).filePath(name + ".db"), liveAndUtc),
          broker(QDir(folder).filePath(name + "-broker"), brokerLines),
          sub(broker.port(), filter),
          state(QDir(folder).filePath(name + ".state"))
    {
    }
    // Empty when all three are ready; else what went wrong.
    QString start()
    {
        if (!db.isOpen())
            return QStringLiteral("no database");
        if (!broker.start())
            return broker.log();
        return sub.start() ? QString() : QStringLiteral("the subscriber did not subscribe");
    }
    // The publisher's command line for this scene, prefix "t".
    QStringList args() const
    {
        return {QStringLiteral("--db"), db.path(), QStringLiteral("--broker"),
                QStringLiteral("mqtt://127.0.0.1:%1").arg(broker.port()), QStringLiteral("--topic"), QStringLiteral("t"),
                QStringLiteral("--state"), state};
    }

    SampleDatabase db;
    Broker broker;
    Subscriber sub;
    QString state;
};

} // namespace

class TestPublish : public QObject {
    Q_OBJECT

private:
    QString path(const QString &name) const { return QDir(m_dir.path()).filePath(name); }

    // The id of the stream's row in the state file; -1 when it names none.
    qint64 statePosition(const QString &file, const QByteArray &stream = "sample") const
    {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith(stream + ' '))
                return line.split(' ').value(1).toLongLong();
        return -1;
    }

    // The certificate files of a test CA, made once: ca, a server certificate
    // for localhost signed by it, a client certificate signed by it, and a
    // second CA that signed nothing here.
    bool makeCertificates()
    {
        const QString openssl = QStringLiteral("openssl");
        const QString ext = path(QStringLiteral("server.ext"));
        QFile f(ext);
        if (!f.open(QIODevice::WriteOnly) || f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n") < 0)
            return false;
        f.close();
        const auto key = [&](const QString &name) {
            return QStringList{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                               QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
                               QStringLiteral("-keyout"), path(name + ".key")};
        };
        const auto selfSigned = [&](const QString &name) {
            return run(openssl, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + key(name)
                                    + QStringList{QStringLiteral("-out"), path(name + ".pem"), QStringLiteral("-days"),
                                                  QStringLiteral("36500"), QStringLiteral("-subj"), "/CN=" + name});
        };
        const auto signedBy = [&](const QString &name, const QString &cn, const QStringList &extra) {
            return run(openssl, QStringList{QStringLiteral("req")} + key(name)
                                    + QStringList{QStringLiteral("-out"), path(name + ".csr"), QStringLiteral("-subj"),
                                                  "/CN=" + cn})
                && run(openssl, QStringList{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                                            path(name + ".csr"), QStringLiteral("-CA"), path("ca.pem"),
                                            QStringLiteral("-CAkey"), path("ca.key"), QStringLiteral("-CAcreateserial"),
                                            QStringLiteral("-days"), QStringLiteral("36500"), QStringLiteral("-out"),
                                            path(name + ".pem")} + extra);
        };
        return selfSigned(QStringLiteral("ca")) && selfSigned(QStringLiteral("otherca"))
            && signedBy(QStringLiteral("server"), QStringLiteral("localhost"), {QStringLiteral("-extfile"), ext})
            && signedBy(QStringLiteral("client"), QStringLiteral("station"), {});
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        for (const char *program : {"mosquitto", "mosquitto_sub", "mosquitto_pub", "mosquitto_passwd", "openssl"})
            QVERIFY2(!QStandardPaths::findExecutable(QLatin1String(program), {"/usr/sbin", "/usr/bin", "/sbin", "/bin"}).isEmpty()
                         || !QStandardPaths::findExecutable(QLatin1String(program)).isEmpty(),
                     program);
        QCOMPARE(QDateTime(QDate(2024, 7, 1), QTime(12, 0)).offsetFromUtc(), 8 * 3600);
    }

    void sampleArrivesSoonWithThePanelsValues_data()
    {
        QTest::addColumn<bool>("liveAndUtc");
        QTest::newRow("file with w_live and w_utc") << true;
        QTest::newRow("older file") << false;
    }

    void sampleArrivesSoonWithThePanelsValues()
    {
        QFETCH(bool, liveAndUtc);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
        Scene scene(m_dir.path(), tag, liveAndUtc, QStringLiteral("t/#"));
        const QString ready = scene.start();
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        auto &[db, broker, sub, state] = scene;
        QVERIFY(db.writeNow(1, valuesOf(1)));  // before the start: not published
        PublishProcess publisher(scene.args());
        QVERIFY(publisher.start());
        const QByteArray online = liveAndUtc ? kOnlineRecording
                                             : QByteArray(R"({"state":"online","station":"recording","link":"unknown"})");
        QTRY_VERIFY2_WITH_TIMEOUT(sub.payloadsOn("t/status").contains(online), publisher.errors(), kWaitMs);

        const QDateTime now = QDateTime::currentDateTime();
        QVERIFY(db.write({2, now, valuesOf(2), 1, now.toSecsSinceEpoch()}));
        const qint64 committed = sub.clock().elapsed();
        QTRY_VERIFY_WITH_TIMEOUT(!sub.linesOn("t/sample").isEmpty(), kWaitMs);
        const auto samples = sub.linesOn("t/sample");
        QCOMPARE(samples.size(), 1);
        QCOMPARE(samples.first().payload, expectedSample(2, now, liveAndUtc));
        QVERIFY2(samples.first().receivedMs - committed < kArrivalMs,
                 qPrintable(QString::number(samples.first().receivedMs - committed)));
        // Caught up, it holds no connection between its reads: the station's
        // last close still takes the WAL away.
        db.close();
        QTRY_VERIFY_WITH_TIMEOUT(walGoesWithTheLastClose(db.path()), kWaitMs);
        QVERIFY(publisher.running());
    }

    // The broker stopped for ten seconds and started again: the samples and
    // the events recorded meanwhile, one of each a second, arrive once, in
    // recording order. The file has no journal when the publisher starts: the
    // event stream begins with the table the first event makes. The
    // publisher's back-off is capped at 1 s here, so the broker is met again
    // within a second of its return (at the shipped 30 s cap the next attempt
    // would come 15.5 s after the loss); the subscriber's session is kept
    // across the restart.
    void rowsRecordedWhileTheBrokerWasAwayArriveOnceInOrder()
    {
        Scene scene(m_dir.path(), QStringLiteral("away"), true, QStringLiteral("t/#"));
        const QString ready = scene.start();
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        auto &[db, broker, sub, state] = scene;
        PublishProcess publisher(scene.args(), {QStringLiteral("QT_LOGGING_RULES=station.publish.info=true"),
                                                QStringLiteral("LX6100_PUBLISH_LAST_RETRY_MS=1000")});
        QVERIFY(publisher.start());
        // Started (it writes its positions at once): row 1 and event 1 are
        // after them.
        QTRY_COMPARE_WITH_TIMEOUT(statePosition(state, "event"), qint64(0), kWaitMs);
        QVERIFY(db.writeNow(1, valuesOf(1)));
        QVERIFY(db.writeEvent(QStringLiteral("write"), 1));
        QTRY_COMPARE_WITH_TIMEOUT(statePosition(state), qint64(1), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(statePosition(state, "event"), qint64(1), kWaitMs);

        QVERIFY(broker.stop());
        QElapsedTimer away;
        away.start();
        int k = 1;
        while (!away.hasExpired(kAwayMs)) {
            ++k;
            QVERIFY(db.writeNow(k, valuesOf(k)));
            QVERIFY(db.writeEvent(QStringLiteral("write"), k));
            // The outage itself is what is tested: its length is waited out.
            const qint64 until = std::min<qint64>(1000 * (k - 1), kAwayMs);
            QTest::qWait(int(std::max<qint64>(0, until - away.elapsed())));
        }
        // It kept trying all along, and nothing reached the subscriber.
        QVERIFY2(publisher.errors().count("attempt failed") >= 8, publisher.errors());
        QCOMPARE(rowsOf(sub.payloadsOn("t/sample")), QList<int>{1});
        QVERIFY2(broker.start(), qPrintable(broker.log()));
        QTRY_COMPARE_WITH_TIMEOUT(rowsOf(sub.payloadsOn("t/sample")).size(), k, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(eventsOf(sub.payloadsOn("t/event")).size(), k, kWaitMs);
        // One more of each after them: anything sent twice would come before it.
        ++k;
        QVERIFY(db.writeNow(k, valuesOf(k)));
        QVERIFY(db.writeEvent(QStringLiteral("write"), k));
        QTRY_VERIFY_WITH_TIMEOUT(rowsOf(sub.payloadsOn("t/sample")).contains(k), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(eventsOf(sub.payloadsOn("t/event")).contains(k), kWaitMs);
        QVERIFY2(k >= 11, qPrintable(QString::number(k)));
        QCOMPARE(rowsOf(sub.payloadsOn("t/sample")), upTo(k));
        QCOMPARE(eventsOf(sub.payloadsOn("t/event")), upTo(k));
        QVERIFY(publisher.errors().contains("waiting for the broker"));
    }

    // Killed, the publisher leaves its last will; started again, it goes on
    // after the row its state file names.
    void killedPublisherSaysOfflineAndResumesFromItsPosition()
    {
        Scene scene(m_dir.path(), QStringLiteral("kill"), true, QStringLiteral("t/#"));
        const QString ready = scene.start();
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        auto &[db, broker, sub, state] = scene;
        const QStringList args = scene.args();
        {
            PublishProcess first(args);
            QVERIFY(first.start());
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(state), kWaitMs);
            for (int k = 1; k <= 3; ++k) {
                QVERIFY(db.writeNow(k, valuesOf(k)));
                QVERIFY(db.writeEvent(QStringLiteral("write"), k));
            }
            QTRY_COMPARE_WITH_TIMEOUT(statePosition(state), qint64(3), kWaitMs);
            QTRY_COMPARE_WITH_TIMEOUT(statePosition(state, "event"), qint64(3), kWaitMs);
            first.kill();
            QVERIFY(first.waitFinished(kWaitMs));
        }
        QTRY_COMPARE_WITH_TIMEOUT(sub.payloadsOn("t/status").value(sub.payloadsOn("t/status").size() - 1), kOffline,
                                  kWaitMs);
        for (int k = 4; k <= 5; ++k) {
            QVERIFY(db.writeNow(k, valuesOf(k)));
            QVERIFY(db.writeEvent(QStringLiteral("write"), k));
        }

        PublishProcess second(args);
        QVERIFY(second.start());
        QTRY_COMPARE_WITH_TIMEOUT(rowsOf(sub.payloadsOn("t/sample")), (QList<int>{1, 2, 3, 4, 5}), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(eventsOf(sub.payloadsOn("t/event")), (QList<int>{1, 2, 3, 4, 5}), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(statePosition(state), qint64(5), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(statePosition(state, "event"), qint64(5), kWaitMs);
        // Stopped, it says "offline" itself and ends well.
        second.terminate();
        QVERIFY(second.waitFinished(kWaitMs));
        QCOMPARE(second.exitCode(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(sub.payloadsOn("t/status").value(sub.payloadsOn("t/status").size() - 1), kOffline,
                                  kWaitMs);
        QCOMPARE(rowsOf(sub.payloadsOn("t/sample")), (QList<int>{1, 2, 3, 4, 5}));
        QCOMPARE(eventsOf(sub.payloadsOn("t/event")), (QList<int>{1, 2, 3, 4, 5}));
    }

    // Told to publish what is kept, a first start sends the ring from its
    // oldest row, in ring order across the wrap, no faster than --rate: 60
    // rows at 50 a second with a bucket of 5 are sent over 1.1 s at least
    // (received over 1 s at least, whatever the first one's delay; unbounded,
    // a few milliseconds). The whole journal goes with it, under the same
    // bound and not held back until the samples are through.
    void backfillSendsTheRingInOrderAtTheBoundedRate()
    {
        Scene scene(m_dir.path(), QStringLiteral("backfill"), true, QStringLiteral("t/#"));
        const QString ready = scene.start();
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        auto &[db, broker, sub, state] = scene;
        const QDateTime start = QDateTime::currentDateTime().addSecs(-60);
        QList<int> expected;
        for (int k = 0; k < 60; ++k) {
            const int id = (65490 + k - 1) % 65500 + 1;  // 65490..65500, then 1..49
            QVERIFY(db.write({id, start.addSecs(k), valuesOf(k), 1, start.addSecs(k).toSecsSinceEpoch()}));
            expected << k;
        }
        for (int n = 1; n <= 10; ++n)
            QVERIFY(db.writeEvent(QStringLiteral("write"), n, start.addSecs(n)));
        PublishProcess publisher(scene.args() + QStringList{QStringLiteral("--backfill"), QStringLiteral("--rate"), QStringLiteral("50")});
        QVERIFY(publisher.start());
        QTRY_COMPARE_WITH_TIMEOUT(rowsOf(sub.payloadsOn("t/sample")), expected, kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(eventsOf(sub.payloadsOn("t/event")), upTo(10), kWaitMs);
        // In arrival order: the first event came before the last sample.
        QList<QByteArray> topics;
        for (const auto &line : sub.lines())
            topics << line.topic;
        QVERIFY(topics.indexOf("t/event") < topics.lastIndexOf("t/sample"));
        const auto lines = sub.linesOn("t/sample");
        QVERIFY2(lines.last().receivedMs - lines.first().receivedMs >= 1000,
                 qPrintable(QString::number(lines.last().receivedMs - lines.first().receivedMs)));
    }

    void refusedOrWaitedFor_data()
    {
        QTest::addColumn<QString>("broker");        // %1: the port of a broker that wants a password
        QTest::addColumn<QString>("password");      // what the password file holds; empty: no user
        QTest::addColumn<int>("exitCode");          // -1: still running, waiting
        QTest::addColumn<QByteArray>("says");

        QTest::newRow("wrong password") << QStringLiteral("mqtt://127.0.0.1:%1") << QStringLiteral("wrong") << 1
                                        << QByteArray("the broker refused the connection");
        QTest::newRow("unknown host") << QStringLiteral("mqtt://nonexistent.invalid:%1") << QString() << -1
                                      << QByteArray("cannot resolve the host name nonexistent.invalid");
        QTest::newRow("nothing listens") << QStringLiteral("mqtt://127.0.0.1:%1") << QString() << -1
                                         << QByteArray("Connection refused");
    }

    void refusedOrWaitedFor()
    {
        QFETCH(QString, broker);
        QFETCH(QString, password);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));

        SampleDatabase db(path(tag + ".db"), true);
        QVERIFY(db.isOpen());
        // A broker that wants a user and a password, for the rows that reach it.
        const QString passwords = path(tag + ".passwords");
        QVERIFY(run(QStringLiteral("mosquitto_passwd"),
                    {QStringLiteral("-b"), QStringLiteral("-c"), passwords, QStringLiteral("station"), QStringLiteral("secret")}));
        Broker real(path(tag + "-broker"), {QStringLiteral("password_file %1").arg(passwords)});
        if (exitCode >= 0)
            QVERIFY2(real.start(), qPrintable(real.log()));

        QStringList args{QStringLiteral("--db"), db.path(), QStringLiteral("--broker"), broker.arg(real.port()),
                         QStringLiteral("--state"), path(tag + ".state")};
        if (!password.isEmpty()) {
            QFile f(path(tag + ".password"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(password.toUtf8() + '\n');
            f.close();
            args << QStringLiteral("--username") << QStringLiteral("station") << QStringLiteral("--password-file")
                 << f.fileName();
        }
        // Waiting, each attempt is logged. A resolver whose name server does
        // not answer waits 1 s a lookup, not its default 5 s per try.
        PublishProcess publisher(args, exitCode < 0 ? QStringList{QStringLiteral("QT_LOGGING_RULES=station.publish.info=true"),
                                                                  QStringLiteral("RES_OPTIONS=timeout:1 attempts:1")}
                                                    : QStringList{});
        QVERIFY(publisher.start());
        if (exitCode >= 0) {
            QVERIFY(publisher.waitFinished(kWaitMs));
            QCOMPARE(publisher.exitCode(), exitCode);
            QVERIFY2(publisher.errors().contains(says), publisher.errors());
            QCOMPARE(publisher.errors().count('\n'), 1);
            return;
        }
        // Waited for: the reason said once, the attempts going on.
        QTRY_VERIFY2_WITH_TIMEOUT(publisher.errors().count("attempt failed") >= 2, publisher.errors(), kWaitMs);
        QVERIFY2(publisher.errors().contains(says), publisher.errors());
        QCOMPARE(publisher.errors().count("waiting for the broker"), 1);
        publisher.terminate();
        QVERIFY(publisher.waitFinished(kWaitMs));
        QCOMPARE(publisher.exitCode(), 0);
    }

    void tlsWithATestCa_data()
    {
        QTest::addColumn<QString>("ca");
        QTest::addColumn<bool>("clientCertificate");
        QTest::addColumn<bool>("connects");

        QTest::newRow("broker's CA, client certificate") << QStringLiteral("ca") << true << true;
        QTest::newRow("another CA") << QStringLiteral("otherca") << true << false;
        QTest::newRow("no client certificate") << QStringLiteral("ca") << false << false;
    }

    void tlsWithATestCa()
    {
        QFETCH(QString, ca);
        QFETCH(bool, clientCertificate);
        QFETCH(bool, connects);
        if (!QFile::exists(path("ca.pem")))
            QVERIFY(makeCertificates());
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));

        const int tlsPort = freeLoopbackPort();
        Scene scene(m_dir.path(), tag, true, QStringLiteral("t/sample"),
                    {QStringLiteral("listener %1 127.0.0.1").arg(tlsPort), "cafile " + path("ca.pem"),
                     "certfile " + path("server.pem"), "keyfile " + path("server.key"),
                     QStringLiteral("require_certificate true")});
        const QString ready = scene.start();
        QVERIFY2(ready.isEmpty(), qPrintable(ready));
        auto &[db, broker, sub, state] = scene;
        QStringList args = scene.args();
        args[args.indexOf(QStringLiteral("--broker")) + 1] = QStringLiteral("mqtts://localhost:%1").arg(tlsPort);
        args << QStringLiteral("--cafile") << path(ca + ".pem");
        if (clientCertificate)
            args << QStringLiteral("--cert") << path("client.pem") << QStringLiteral("--key") << path("client.key");
        PublishProcess publisher(args);
        QVERIFY(publisher.start());
        if (!connects) {
            QVERIFY(publisher.waitFinished(kWaitMs));
            QCOMPARE(publisher.exitCode(), 1);
            QVERIFY2(publisher.errors().contains("TLS failed"), publisher.errors());
            return;
        }
        QTRY_VERIFY2_WITH_TIMEOUT(publisher.errors().contains("connected to"), publisher.errors(), kWaitMs);
        QVERIFY(db.writeNow(1, valuesOf(1)));
        QTRY_COMPARE_WITH_TIMEOUT(rowsOf(sub.payloadsOn("t/sample")), QList<int>{1}, kWaitMs);
    }

    void commandLineAndFileErrors_data()
    {
        QTest::addColumn<QStringList>("args");      // %db: a sound database; %file: a file of garbage
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("says");

        QTest::newRow("a password on the command line") << QStringList{"--password", "x"} << 2 << QByteArray("password");
        QTest::newRow("a password file without a user")
            << QStringList{"--password-file", "%file"} << 2 << QByteArray("--password-file needs --username");
        QTest::newRow("not an MQTT address") << QStringList{"--broker", "http://h"} << 2 << QByteArray("--broker");
        QTest::newRow("a CA file without TLS")
            << QStringList{"--cafile", "%file"} << 2 << QByteArray("need an mqtts:// broker");
        QTest::newRow("a wildcard in the topic") << QStringList{"--topic", "a/#"} << 2 << QByteArray("--topic");
        QTest::newRow("no database") << QStringList{"--db", "%missing"} << 1 << QByteArray("no database file");
        QTest::newRow("not a database") << QStringList{"--db", "%file"} << 1 << QByteArray("is not an SQLite database");
        QTest::newRow("state file unreadable as positions")
            << QStringList{"--state", "%file"} << 1 << QByteArray("cannot read the state file");
        QTest::newRow("password file missing")
            << QStringList{"--username", "u", "--password-file", "%missing"} << 1 << QByteArray("cannot read");
    }

    void commandLineAndFileErrors()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, says);
        const QString db = path("arguments.db");
        if (!QFile::exists(db))
            QVERIFY(SampleDatabase(db, true).isOpen());
        const QString garbage = path("garbage");
        QFile f(garbage);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("no SQLite here\nsample\n");
        f.close();
        QStringList full{QStringLiteral("--db"), db, QStringLiteral("--broker"),
                         QStringLiteral("mqtt://127.0.0.1:%1").arg(freeLoopbackPort())};
        for (const QString &a : args)
            full << (a == QLatin1String("%file") ? garbage : a == QLatin1String("%missing") ? path("missing") : a);
        PublishProcess publisher(full);
        QVERIFY(publisher.start());
        QVERIFY(publisher.waitFinished(kWaitMs));
        QCOMPARE(publisher.exitCode(), exitCode);
        QVERIFY2(publisher.errors().contains(says), publisher.errors());
        QCOMPARE(publisher.errors().count('\n'), 1);
    }

private:
    QTemporaryDir m_dir;
};

STATION_TEST_MAIN_CORE(TestPublish)
#include "tst_publish.moc"
