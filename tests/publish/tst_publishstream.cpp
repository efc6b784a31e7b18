// What lx6100-publish reads and sends, without a broker: the rows after a
// position in ring order (across the wrap, after the clock was set back, after
// the ring went past the position), the journal's rows after a position (and
// before the journal exists), the JSON of a sample, an event and the status,
// and the state file. The test runs with TZ=CST-8 (UTC+8, no summer time).
#include "record/publish/eventstream.h"
#include "record/publish/payload.h"
#include "record/publish/samplestream.h"
#include "record/publish/statefile.h"

#include "common/datenum.h"

#include "tests/publish/mqttfixture.h"
#include "tests/support/testenv.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(station::journal::Value)

using namespace station;
using namespace station::publish;
using station::test::SampleDatabase;

namespace {

const QDate kDay(2024, 7, 1);
constexpr qint64 kRing = 65500;

QList<qint64> idsOf(const Batch &b)
{
    QList<qint64> ids;
    for (const Message &m : b.messages)
        ids << m.position.id;
    return ids;
}

journal::Value integer(qint64 v)
{
    journal::Value out;
    out.type = journal::Value::Type::Integer;
    out.integer = v;
    return out;
}

journal::Value text(const QByteArray &bytes, journal::Value::Type type = journal::Value::Type::Text)
{
    journal::Value out;
    out.type = type;
    out.bytes = bytes;
    return out;
}

const QByteArray kHash(64, 'a');

} // namespace

class TestPublishStream : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(QDateTime(kDay, QTime(12, 0)).offsetFromUtc(), 8 * 3600);
    }

    void ringOrder_data()
    {
        QTest::addColumn<QList<qint64>>("stored");    // ids written, in this order (the last is the pointer)
        QTest::addColumn<QList<int>>("minutes");      // each row's time, minutes after noon
        QTest::addColumn<qint64>("after");            // the position's id (0: before the oldest)
        QTest::addColumn<int>("max");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::addColumn<qint64>("lost");             // -1: no overrun

        QTest::newRow("after a row") << QList<qint64>{1, 2, 3, 4, 5} << QList<int>{0, 1, 2, 3, 4} << qint64(2)
                                     << 500 << QList<qint64>{3, 4, 5} << qint64(-1);
        QTest::newRow("caught up") << QList<qint64>{1, 2, 3} << QList<int>{0, 1, 2} << qint64(3) << 500
                                   << QList<qint64>{} << qint64(-1);
        QTest::newRow("across the wrap")
            << QList<qint64>{kRing - 2, kRing - 1, kRing, 1, 2} << QList<int>{0, 1, 2, 3, 4} << qint64(kRing - 2)
            << 500 << QList<qint64>{kRing - 1, kRing, 1, 2} << qint64(-1);
        QTest::newRow("a batch ends at max") << QList<qint64>{kRing - 1, kRing, 1, 2} << QList<int>{0, 1, 2, 3}
                                             << qint64(kRing - 1) << 2 << QList<qint64>{kRing, 1}
                                             << qint64(-1);
        // The clock went back an hour after row 2: rows 3 and 4 are older by
        // their times, newer by the ring.
        QTest::newRow("clock set back") << QList<qint64>{1, 2, 3, 4} << QList<int>{0, 1, -59, -58} << qint64(1)
                                        << 500 << QList<qint64>{2, 3, 4} << qint64(-1);
        // A full ring without a position: the oldest kept (the pointer + 1) first.
        // (Ids 3..65498 are left out: a ring with holes reads the same.)
        QTest::newRow("from the oldest kept") << QList<qint64>{kRing - 1, kRing, 1, 2} << QList<int>{0, 1, 2, 3}
                                              << qint64(0) << 500
                                              << QList<qint64>{kRing - 1, kRing, 1, 2} << qint64(-1);
        // Row 5 was published; then the recorder went round (row 8 stands for
        // the oldest of a full ring) and overwrote 1..7: rows 6 and 7 of the
        // previous lap were overwritten before they were read.
        QTest::newRow("ring went past the position")
            << QList<qint64>{1, 2, 3, 4, 5, 6, 7, 8, 8, 1, 2, 3, 4, 5, 6, 7}
            << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 61, 62, 63, 64, 65, 66, 67} << qint64(5) << 500
            << QList<qint64>{8, 1, 2, 3, 4, 5, 6, 7} << qint64(2);
        QTest::newRow("position's row gone") << QList<qint64>{1, 2, 3} << QList<int>{0, 1, 2} << qint64(9)
                                             << 500 << QList<qint64>{1, 2, 3} << qint64(0);
    }

    void ringOrder()
    {
        QFETCH(QList<qint64>, stored);
        QFETCH(QList<int>, minutes);
        QFETCH(qint64, after);
        QFETCH(int, max);
        QFETCH(QList<qint64>, expected);
        QFETCH(qint64, lost);

        const QString path = QDir(m_dir.path()).filePath(QString::fromLatin1(QTest::currentDataTag()) + ".db");
        // In the order given, each row moving the pointer, as the recorder writes.
        {
            SampleDatabase db(path, true);
            QVERIFY(db.isOpen());
            for (int i = 0; i < stored.size(); ++i)
                QVERIFY(db.write({stored[i], QDateTime(kDay, QTime(12, 0)).addSecs(minutes[i] * 60), {}, 1, {}}));
        }
        SampleStream stream(path, false);
        Position position;
        if (after != 0) {
            // The mark of the row as it was when it was published (its first writing).
            SampleRow was;
            was.id = after;
            const int i = stored.indexOf(after);
            const QDateTime t = QDateTime(kDay, QTime(12, 0)).addSecs((i < 0 ? 0 : minutes[i]) * 60);
            was.date = dayNumber(t.date());
            was.time = dayFraction(t.time());
            position = Position{after, SampleStream::markOf(was)};
        }
        const Batch b = stream.next(position, max);
        QVERIFY2(b.ok, qPrintable(b.error));
        QCOMPARE(idsOf(b), expected);
        QCOMPARE(b.overrun, lost >= 0);
        if (lost >= 0)
            QCOMPARE(b.lost, lost);
    }

    void payload_data()
    {
        QTest::addColumn<QTime>("wall");
        QTest::addColumn<QVariant>("live");   // null: not stored
        QTest::addColumn<QVariant>("utc");    // null: not stored
        QTest::addColumn<bool>("raw");
        QTest::addColumn<float>("r1");        // the retransmission outputs as stored (tenths)
        QTest::addColumn<float>("r2");
        QTest::addColumn<QByteArray>("expected");

        const auto values = [](const QByteArray &r1, const QByteArray &r2) {
            return R"("PV1":253,"PV2":-12,"SV1":250,"SV2":600,"retransmission1":)" + r1 + R"(,"retransmission2":)" + r2
                + R"(,"alarm1_kind":1,"alarm2_kind":0,"control1_output":100,"control2_output":0)";
        };
        const qint64 wallAsUtc = QDateTime(kDay, QTime(20, 0, 5), Qt::UTC).toSecsSinceEpoch();
        // The offset comes from the row where it has w_utc (here +02:00,
        // though the zone is +08:00), else from the local zone.
        QTest::newRow("older file: the local zone's offset")
            << QTime(20, 0, 5) << QVariant() << QVariant() << false << 503.0f << 1000.0f
            << "{\"time\":\"2024-07-01T20:00:05+08:00\"," + values("50.3", "100") + "}";
        QTest::newRow("raw as stored") << QTime(20, 0, 5) << QVariant() << QVariant() << true << 503.0f << 1000.0f
                                       << "{\"time\":\"2024-07-01T20:00:05+08:00\"," + values("503", "1000") + "}";
        QTest::newRow("tenths below zero and past a thousand, a stored fraction")
            << QTime(20, 0, 5) << QVariant() << QVariant() << false << -5.0f << 12345.5f
            << "{\"time\":\"2024-07-01T20:00:05+08:00\"," + values("-0.5", "1234.55") + "}";
        QTest::newRow("live, offset from w_utc")
            << QTime(20, 0, 5) << QVariant(1) << QVariant(wallAsUtc - 2 * 3600) << false << 503.0f << 1000.0f
            << "{\"time\":\"2024-07-01T20:00:05+02:00\"," + values("50.3", "100") + ",\"live\":true}";
        QTest::newRow("not live, west of UTC")
            << QTime(20, 0, 5) << QVariant(0) << QVariant(wallAsUtc + 5 * 3600 + 1800) << false << 503.0f << 1000.0f
            << "{\"time\":\"2024-07-01T20:00:05-05:30\"," + values("50.3", "100") + ",\"live\":false}";
        QTest::newRow("w_utc no offset can explain: shown in UTC")
            << QTime(20, 0, 5) << QVariant() << QVariant(wallAsUtc - 7) << false << 503.0f << 1000.0f
            << "{\"time\":\"2024-07-01T19:59:58+00:00\"," + values("50.3", "100") + "}";
    }

    void payload()
    {
        QFETCH(QTime, wall);
        QFETCH(QVariant, live);
        QFETCH(QVariant, utc);
        QFETCH(bool, raw);
        QFETCH(float, r1);
        QFETCH(float, r2);
        QFETCH(QByteArray, expected);

        const QString path = QDir(m_dir.path()).filePath(QStringLiteral("payload-%1.db").arg(m_files++));
        const bool columns = live.isValid() || utc.isValid();
        {
            SampleDatabase db(path, columns);
            QVERIFY(db.isOpen());
            SampleDatabase::Row row{7, QDateTime(kDay, wall), {253, -12, 250, 600, r1, r2, 1, 0, 100, 0}, {}, {}};
            if (live.isValid())
                row.live = live.toInt();
            if (utc.isValid())
                row.utc = utc.toLongLong();
            QVERIFY(db.write(row));
        }
        SampleStream stream(path, raw);
        const Batch b = stream.next(Position{}, 10);
        QVERIFY2(b.ok, qPrintable(b.error));
        QCOMPARE(b.messages.size(), std::size_t(1));
        QCOMPARE(b.messages.front().payload, expected);
    }

    // The journal's rows after a position, from a file the journal's own
    // append wrote: in e_seq order, a batch at a time; a position whose row
    // has another hash (another file's row of that number) or is gone starts
    // from row 1; a file without the journal has no rows and no position.
    void eventOrder_data()
    {
        QTest::addColumn<int>("events");      // rows written: 1..events (0: no table)
        QTest::addColumn<qint64>("after");    // the position's id (0: before the first)
        QTest::addColumn<bool>("sameRow");    // the position's mark is that row's hash
        QTest::addColumn<int>("max");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::addColumn<bool>("overrun");

        QTest::newRow("from the first") << 3 << qint64(0) << true << 100 << QList<qint64>{1, 2, 3} << false;
        QTest::newRow("after a row") << 5 << qint64(2) << true << 100 << QList<qint64>{3, 4, 5} << false;
        QTest::newRow("caught up") << 3 << qint64(3) << true << 100 << QList<qint64>{} << false;
        QTest::newRow("a batch") << 5 << qint64(1) << true << 2 << QList<qint64>{2, 3} << false;
        QTest::newRow("another file's row of that number")
            << 3 << qint64(2) << false << 100 << QList<qint64>{1, 2, 3} << true;
        QTest::newRow("a row past the newest") << 2 << qint64(5) << false << 100 << QList<qint64>{1, 2} << true;
        QTest::newRow("no journal yet") << 0 << qint64(0) << true << 100 << QList<qint64>{} << false;
        QTest::newRow("no journal, a position from another file")
            << 0 << qint64(4) << false << 100 << QList<qint64>{} << true;
    }

    void eventOrder()
    {
        QFETCH(int, events);
        QFETCH(qint64, after);
        QFETCH(bool, sameRow);
        QFETCH(int, max);
        QFETCH(QList<qint64>, expected);
        QFETCH(bool, overrun);

        const QString path = QDir(m_dir.path()).filePath(QStringLiteral("events-%1.db").arg(m_files++));
        {
            SampleDatabase db(path, true);
            QVERIFY(db.isOpen());
            for (int n = 1; n <= events; ++n)
                QVERIFY(db.writeEvent(QStringLiteral("write"), n));
        }
        EventStream stream(path);
        const std::optional<Position> newest = stream.newest();
        QVERIFY(newest);
        QCOMPARE(newest->id, qint64(events));
        const Batch all = stream.next(Position{}, 100);
        QVERIFY2(all.ok, qPrintable(all.error));
        Position position{after, kHash};
        for (const Message &m : all.messages) {
            QCOMPARE(m.position.mark.size(), 64);
            if (sameRow && m.position.id == after)
                position.mark = m.position.mark;
        }
        if (events > 0)
            QCOMPARE(all.messages.back().position, *newest);

        const Batch b = stream.next(position, max);
        QVERIFY2(b.ok, qPrintable(b.error));
        QCOMPARE(idsOf(b), expected);
        QCOMPARE(b.overrun, overrun);
        QCOMPARE(b.lost, qint64(0));
        for (const Message &m : b.messages) {
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            QCOMPARE(o.value(QLatin1String("seq")).toInteger(), m.position.id);
            QCOMPARE(o.value(QLatin1String("details")).toObject().value(QLatin1String("n")).toInteger(), m.position.id);
        }
    }

    // A row maps to one JSON object without interpretation: each field by its
    // storage class, details embedded as the JSON it is, byte for byte.
    void eventPayload_data()
    {
        QTest::addColumn<journal::Value>("utc");
        QTest::addColumn<journal::Value>("user");
        QTest::addColumn<journal::Value>("details");
        QTest::addColumn<QByteArray>("expected");

        const QByteArray head = R"({"seq":42,"local":"2024-07-01T20:00:05.123",)";
        const QByteArray tail = ",\"hash\":\"" + kHash + "\"}";
        QTest::newRow("as the station writes it")
            << integer(1719835205123) << text("lab") << text(R"({"control":"SV1","values":[250,-1.5]})")
            << head + R"("utc":1719835205123,"user":"lab","kind":"write","details":{"control":"SV1","values":[250,-1.5]})"
                   + tail;
        QTest::newRow("details as stored, blanks and all")
            << integer(1) << text("lab") << text(R"({ "b": 1, "a": "x" })")
            << head + R"("utc":1,"user":"lab","kind":"write","details":{ "b": 1, "a": "x" })" + tail;
        QTest::newRow("details that are not JSON, a string escaped")
            << integer(1) << text("a\"b\\c\n\xe6\xb8\xa9") << text("{not json")
            << head + "\"utc\":1,\"user\":\"a\\\"b\\\\c\\u000a\xe6\xb8\xa9\",\"kind\":\"write\",\"details\":\"{not json\"" + tail;
        journal::Value real;
        real.type = journal::Value::Type::Real;
        real.real = 1.5;
        QTest::newRow("other storage classes") << real << journal::Value{} << text("\x01\xff", journal::Value::Type::Blob)
                                               << head + R"("utc":1.5,"user":null,"kind":"write","details":"01ff")" + tail;
    }

    void eventPayload()
    {
        QFETCH(journal::Value, utc);
        QFETCH(journal::Value, user);
        QFETCH(journal::Value, details);
        QFETCH(QByteArray, expected);
        journal::Row row;
        row[journal::col::kSeq] = integer(42);
        row[journal::col::kLocal] = text("2024-07-01T20:00:05.123");
        row[journal::col::kUtc] = utc;
        row[journal::col::kUser] = user;
        row[journal::col::kKind] = text("write");
        row[journal::col::kDetails] = details;
        row[journal::col::kHash] = text(kHash);
        const QByteArray payload = publish::eventPayload(row);
        QCOMPARE(payload, expected);
        QJsonParseError error;
        QVERIFY(QJsonDocument::fromJson(payload, &error).isObject());
    }

    void status_data()
    {
        QTest::addColumn<qint64>("age");      // seconds the newest row is old; -1: no row
        QTest::addColumn<QVariant>("live");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("recording, live") << qint64(1) << QVariant(1)
                                         << QByteArray(R"({"state":"online","station":"recording","link":"live"})");
        QTest::newRow("recording, link down") << qint64(kRecordingAge) << QVariant(0)
                                              << QByteArray(R"({"state":"online","station":"recording","link":"not live"})");
        QTest::newRow("recording, older file") << qint64(0) << QVariant()
                                               << QByteArray(R"({"state":"online","station":"recording","link":"unknown"})");
        QTest::newRow("stopped") << qint64(kRecordingAge + 1) << QVariant(1)
                                 << QByteArray(R"({"state":"online","station":"stopped","link":"unknown"})");
        QTest::newRow("empty ring") << qint64(-1) << QVariant()
                                    << QByteArray(R"({"state":"online","station":"stopped","link":"unknown"})");
    }

    void status()
    {
        QFETCH(qint64, age);
        QFETCH(QVariant, live);
        QFETCH(QByteArray, expected);
        const qint64 now = QDateTime(kDay, QTime(20, 0, 5)).toSecsSinceEpoch();
        std::optional<SampleRow> newest;
        if (age >= 0) {
            const QDateTime t = QDateTime(kDay, QTime(20, 0, 5)).addSecs(-age);
            newest = SampleRow{1, dayNumber(t.date()), dayFraction(t.time()), {}, {}, {}};
            if (live.isValid())
                newest->live = live.toInt() != 0;
        }
        QCOMPARE(onlinePayload(stationStatus(newest, now)), expected);
    }

    void stateFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<qint64>("sampleId");

        QTest::newRow("as written") << stateText({{"sample", Position{65500, "2024-07-01T20:00:05"}}}) << true << qint64(65500);
        QTest::newRow("comments and blanks") << QByteArray("# x\n\nsample 3 2024-07-01T06:00:00\n") << true << qint64(3);
        QTest::newRow("before the oldest, no mark") << stateText({{"sample", Position{}}}) << true << qint64(0);
        QTest::newRow("no id") << QByteArray("sample\n") << false << qint64(0);
        QTest::newRow("id not a number") << QByteArray("sample x 1 2\n") << false << qint64(0);
        QTest::newRow("stream named twice") << QByteArray("sample 1 a\nsample 2 b\n") << false << qint64(0);
    }

    void stateFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(qint64, sampleId);
        const StateRead r = parseState(text);
        QCOMPARE(r.status == StateRead::Status::Read, valid);
        if (valid)
            QCOMPARE(r.positions.value("sample").id, sampleId);
    }

    void stateFileWritesAndReadsBack()
    {
        const QString path = QDir(m_dir.path()).filePath(QStringLiteral("publish.state"));
        const Positions written{{"sample", Position{42, "2024-07-01T20:00:05"}}, {"event", Position{}}};
        QVERIFY(writeStateFile(path, written));
        const StateRead r = readStateFile(path);
        QCOMPARE(int(r.status), int(StateRead::Status::Read));
        QCOMPARE(r.positions, written);
    }

private:
    QTemporaryDir m_dir;
    int m_files = 0;
};

STATION_TEST_MAIN_CORE(TestPublishStream)
#include "tst_publishstream.moc"

