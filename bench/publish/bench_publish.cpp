// bench_publish: lx6100-publish against a real Mosquitto broker on a free
// loopback port, measured side by side with bare libmosquitto.
//
//   delay     rows committed 300 ms apart (so they fall at every phase of the
//             publisher's 250 ms poll); delay = the message's arrival at an
//             in-process subscriber - the commit's return, both on this
//             process's steady clock. Beside it: the broker's own delay, a bare
//             client publishing the same payload.
//   backfill  a full ring (65500 rows) published with --backfill --rate 0, from
//             the process's start to the last message at the subscriber,
//             against a bare libmosquitto loop sending the same payloads (read
//             beforehand) with the same window of 100 QoS 1 messages in flight,
//             from its connect to the last message. Rounds alternate the sides.
//   scale     K publishers, each on its own database and prefix, each database
//             getting one row a second: messages delivered, delay, CPU of the
//             publishers and of the broker (utime + stime from /proc).
//   idle      one publisher, connected, its station not recording: CPU.
//
//   bench_publish [--rounds N] [--scale K,K,...] [--seconds S]
//   (defaults: 5 rounds; 1, 10, 50, 100, 200 publishers; 20 s each)
#include "bench/station/procstat.h"
#include "record/publish/publisher.h"
#include "record/publish/samplestream.h"
#include "tests/publish/mqttfixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mosquitto.h>
#include <mutex>
#include <vector>

using namespace station;
using Clock = std::chrono::steady_clock;
using station::test::Broker;
using station::test::PublishProcess;
using station::test::SampleDatabase;

namespace {

constexpr int kWindow = 100;          // as the publisher's
constexpr int kRing = 65500;
constexpr int kDelayRows = 40;
constexpr int kDelaySpacingMs = 300;

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll()).section(QLatin1Char(' '), 0, 2) : QString();
}

int pv1Of(const char *payload, int size)
{
    const QByteArray p = QByteArray::fromRawData(payload, size);
    const qsizetype at = p.indexOf("\"PV1\":");
    return at < 0 ? -1 : p.mid(at + 6, p.indexOf(',', at) - at - 6).toInt();
}

struct Stats {
    double median = 0, p95 = 0, max = 0;
};
Stats statsOf(std::vector<double> v)
{
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 95 / 100)], v.back()};
}

// An in-process subscriber on libmosquitto's own thread: for each message,
// its topic, the row it carries (PV1) and when it came.
class Listener {
public:
    struct Arrival {
        QByteArray topic;
        int row;
        Clock::time_point at;
    };

    Listener(int port, QByteArray filter, int qos) : m_filter(std::move(filter)), m_qos(qos)
    {
        m_mosq = mosquitto_new(nullptr, true, this);
        mosquitto_connect_callback_set(m_mosq, [](mosquitto *m, void *self, int) {
            auto *l = static_cast<Listener *>(self);
            mosquitto_subscribe(m, nullptr, l->m_filter.constData(), l->m_qos);
        });
        mosquitto_subscribe_callback_set(m_mosq, [](mosquitto *, void *self, int, int, const int *) {
            static_cast<Listener *>(self)->m_subscribed = true;
        });
        mosquitto_message_callback_set(m_mosq, [](mosquitto *, void *self, const mosquitto_message *msg) {
            auto *l = static_cast<Listener *>(self);
            const Arrival a{QByteArray(msg->topic), pv1Of(static_cast<const char *>(msg->payload), msg->payloadlen),
                            Clock::now()};
            std::lock_guard lock(l->m_mutex);
            l->m_arrivals.push_back(a);
            ++l->m_count;
        });
        mosquitto_connect(m_mosq, "127.0.0.1", port, 60);
        mosquitto_loop_start(m_mosq);
        const QDeadlineTimer deadline(5000);
        while (!m_subscribed && !deadline.hasExpired())
            QThread::msleep(2);
    }
    ~Listener()
    {
        mosquitto_disconnect(m_mosq);
        mosquitto_loop_stop(m_mosq, false);
        mosquitto_destroy(m_mosq);
    }
    int count() const { return m_count; }
    std::vector<Arrival> arrivals()
    {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }
    bool waitFor(int n, int timeoutMs) const
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (m_count < n && !deadline.hasExpired())
            QThread::msleep(1);
        return m_count >= n;
    }

private:
    QByteArray m_filter;
    int m_qos;
    mosquitto *m_mosq = nullptr;
    std::atomic<bool> m_subscribed{false};
    std::atomic<int> m_count{0};
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
};

std::array<double, 10> rowValues(int k)
{
    return {double(k), 601, 250, 600, 503, 1000, 1, 0, 100, 0};
}

QStringList publisherArgs(const QString &db, int port, const QString &topic, const QString &state)
{
    return {QStringLiteral("--db"), db, QStringLiteral("--broker"), QStringLiteral("mqtt://127.0.0.1:%1").arg(port),
            QStringLiteral("--topic"), topic, QStringLiteral("--state"), state};
}

// CPU time so far, from the scheduler's own count (/proc/<pid>/schedstat, in
// nanoseconds; utime + stime come in 10 ms ticks, too coarse for an idle
// publisher).
double cpuSeconds(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (f.open(QIODevice::ReadOnly))
        return f.readAll().split(' ').value(0).toDouble() / 1e9;
    const auto t = station::bench::cpuTime(pid_t(pid));
    return t ? t->seconds() : 0;
}

// A bare libmosquitto client sending payloads QoS 1 with `window` in flight,
// as fast as the PUBACKs come back. Returns when all are acknowledged.
void bareLoop(int port, const QByteArray &topic, const std::vector<QByteArray> &payloads)
{
    struct State {
        int acked = 0;
        bool connected = false;
    } state;
    mosquitto *m = mosquitto_new(nullptr, true, &state);
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(m, kWindow);
    mosquitto_connect_callback_set(m, [](mosquitto *, void *s, int rc) { static_cast<State *>(s)->connected = rc == 0; });
    mosquitto_publish_callback_set(m, [](mosquitto *, void *s, int) { ++static_cast<State *>(s)->acked; });
    mosquitto_connect(m, "127.0.0.1", port, 60);
    while (!state.connected)
        mosquitto_loop(m, 100, 1);
    int sent = 0;
    const int total = int(payloads.size());
    while (state.acked < total) {
        while (sent < total && sent - state.acked < kWindow) {
            const QByteArray &p = payloads[std::size_t(sent)];
            mosquitto_publish(m, nullptr, topic.constData(), int(p.size()), p.constData(), 1, false);
            ++sent;
        }
        mosquitto_loop(m, sent < total && sent - state.acked < kWindow ? 0 : 100, 1);
    }
    mosquitto_disconnect(m);
    mosquitto_loop(m, 100, 1);
    mosquitto_destroy(m);
}

struct Bench {
    QTemporaryDir dir;
    std::unique_ptr<Broker> broker;
    int files = 0;
    QString path(const QString &name) const { return QDir(dir.path()).filePath(name); }
    QString fresh(const QString &stem) { return path(QStringLiteral("%1-%2").arg(stem).arg(files++)); }
};

bool waitConnected(Listener &status, int publishers, int timeoutMs)
{
    return status.waitFor(publishers, timeoutMs);
}

void delay(Bench &b)
{
    SampleDatabase db(b.fresh(QStringLiteral("delay.db")), true);
    db.exec(QStringLiteral("PRAGMA synchronous=OFF"));
    Listener samples(b.broker->port(), "delay/sample", 1);
    Listener status(b.broker->port(), "delay/status", 1);
    PublishProcess publisher(publisherArgs(db.path(), b.broker->port(), QStringLiteral("delay"), b.fresh("state")));
    publisher.start();
    if (!waitConnected(status, 1, 10000)) {
        std::printf("delay: the publisher did not connect: %s\n", publisher.errors().constData());
        return;
    }
    std::map<int, Clock::time_point> committed;
    for (int k = 1; k <= kDelayRows; ++k) {
        const QDateTime now = QDateTime::currentDateTime();
        db.write({k, now, rowValues(k), 1, now.toSecsSinceEpoch()});
        committed[k] = Clock::now();
        QThread::msleep(kDelaySpacingMs);
    }
    samples.waitFor(kDelayRows, 10000);
    std::vector<double> delays;
    for (const auto &a : samples.arrivals())
        if (committed.count(a.row))
            delays.push_back(ms(a.at - committed[a.row]));
    publisher.terminate();
    publisher.waitFinished(5000);

    // The broker's own part: a bare client publishing the same kind of payload.
    Listener bare(b.broker->port(), "delay/bare", 1);
    mosquitto *m = mosquitto_new(nullptr, true, nullptr);
    mosquitto_int_option(m, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect(m, "127.0.0.1", b.broker->port(), 60);
    mosquitto_loop_start(m);
    std::map<int, Clock::time_point> sent;
    for (int k = 1; k <= kDelayRows; ++k) {
        const QByteArray p = "{\"PV1\":" + QByteArray::number(k) + ",\"PV2\":601}";
        sent[k] = Clock::now();
        mosquitto_publish(m, nullptr, "delay/bare", int(p.size()), p.constData(), 1, false);
        QThread::msleep(20);
    }
    bare.waitFor(kDelayRows, 5000);
    mosquitto_disconnect(m);
    mosquitto_loop_stop(m, false);
    mosquitto_destroy(m);
    std::vector<double> bareDelays;
    for (const auto &a : bare.arrivals())
        bareDelays.push_back(ms(a.at - sent[a.row]));

    const Stats s = statsOf(delays), sb = statsOf(bareDelays);
    std::printf("delay, row committed -> message received (%zu of %d rows): median %.1f ms, p95 %.1f ms, max %.1f ms\n",
                delays.size(), kDelayRows, s.median, s.p95, s.max);
    std::printf("delay, bare publish -> message received (the broker alone):  median %.2f ms, p95 %.2f ms, max %.2f ms\n",
                sb.median, sb.p95, sb.max);
}

void backfill(Bench &b, int rounds)
{
    const QString dbPath = b.fresh(QStringLiteral("ring.db"));
    {
        SampleDatabase db(dbPath, true);
        db.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        const QDateTime start = QDateTime::currentDateTime().addSecs(-kRing);
        for (int k = 1; k <= kRing; ++k) {
            const QDateTime t = start.addSecs(k);
            db.write({k, t, rowValues(k), 1, t.toSecsSinceEpoch()});
        }
    }
    std::vector<QByteArray> payloads;
    {
        publish::SampleStream stream(dbPath, false);
        const Clock::time_point t = Clock::now();
        publish::Position after;
        for (;;) {
            const publish::Batch batch = stream.next(after, publish::Publisher::kBatch);
            if (batch.messages.empty())
                break;
            for (const publish::Message &m : batch.messages)
                payloads.push_back(m.payload);
            after = batch.messages.back().position;
        }
        std::printf("reading the ring and making its payloads, in the publisher's batches: %.0f ms\n",
                    ms(Clock::now() - t));
    }
    std::printf("backfill of a full ring (%zu rows), %d rounds, sides alternating:\n", payloads.size(), rounds);
    std::vector<double> whole, streaming, bare;
    for (int r = 0; r < rounds; ++r) {
        for (int side = 0; side < 2; ++side) {
            const bool publisherFirst = r % 2 == 0;
            const bool publisherSide = (side == 0) == publisherFirst;
            const QByteArray topic = QByteArray(publisherSide ? "fill" : "bare") + QByteArray::number(r);
            Listener l(b.broker->port(), topic + "/sample", 0);
            const Clock::time_point t0 = Clock::now();
            if (publisherSide) {
                PublishProcess p(publisherArgs(dbPath, b.broker->port(), QString::fromLatin1(topic), b.fresh("state"))
                                 + QStringList{QStringLiteral("--backfill"), QStringLiteral("--rate"), QStringLiteral("0")});
                p.start();
                if (!l.waitFor(int(payloads.size()), 300000))
                    std::printf("  publisher: only %d messages arrived\n", l.count());
                p.terminate();
                p.waitFinished(5000);
                const auto a = l.arrivals();
                whole.push_back(ms(a.back().at - t0));
                streaming.push_back(ms(a.back().at - a.front().at));
                std::printf("  publisher: %.0f ms from its start (%.0f rows/s), %.0f ms first to last message\n",
                            whole.back(), payloads.size() / whole.back() * 1000, streaming.back());
            } else {
                bareLoop(b.broker->port(), topic + "/sample", payloads);
                l.waitFor(int(payloads.size()), 60000);
                bare.push_back(ms(l.arrivals().back().at - t0));
                std::printf("  bare:      %.0f ms from its connect (%.0f rows/s)\n", bare.back(),
                            payloads.size() / bare.back() * 1000);
            }
        }
    }
    const double w = statsOf(whole).median, st = statsOf(streaming).median, ba = statsOf(bare).median;
    std::printf("backfill rate, publisher / bare libmosquitto (medians): %.3f from the publisher's start, %.3f first to "
                "last message\n",
                ba / w, ba / st);
}

void scale(Bench &b, int publishers, int seconds, bool writes)
{
    std::vector<std::unique_ptr<SampleDatabase>> dbs;
    std::vector<std::unique_ptr<PublishProcess>> procs;
    const QString prefix = QStringLiteral("scale%1").arg(b.files++);
    Listener samples(b.broker->port(), (prefix + "/+/sample").toLatin1(), 0);
    Listener status(b.broker->port(), (prefix + "/+/status").toLatin1(), 1);
    for (int i = 0; i < publishers; ++i) {
        dbs.push_back(std::make_unique<SampleDatabase>(b.fresh(QStringLiteral("scale.db")), true));
        dbs.back()->exec(QStringLiteral("PRAGMA synchronous=OFF"));
        procs.push_back(std::make_unique<PublishProcess>(
            publisherArgs(dbs.back()->path(), b.broker->port(), QStringLiteral("%1/%2").arg(prefix).arg(i), b.fresh("state"))));
        procs.back()->start();
    }
    if (!waitConnected(status, publishers, 60000)) {
        std::printf("scale %d: only %d publishers connected\n", publishers, status.count());
        return;
    }
    QThread::msleep(1000);  // past their start-up
    std::vector<double> cpu0;
    for (auto &p : procs)
        cpu0.push_back(cpuSeconds(p->pid()));
    const double broker0 = cpuSeconds(b.broker->pid());
    const Clock::time_point t0 = Clock::now();
    std::map<std::pair<int, int>, Clock::time_point> committed;  // (publisher, row)
    for (int s = 1; s <= seconds; ++s) {
        if (writes) {
            const QDateTime now = QDateTime::currentDateTime();
            for (int i = 0; i < publishers; ++i) {
                dbs[std::size_t(i)]->write({s, now, rowValues(s), 1, now.toSecsSinceEpoch()});
                committed[{i, s}] = Clock::now();
            }
        }
        std::this_thread::sleep_until(t0 + std::chrono::seconds(s));
    }
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    double cpu = 0;
    for (std::size_t i = 0; i < procs.size(); ++i)
        cpu += cpuSeconds(procs[i]->pid()) - cpu0[i];
    const double brokerCpu = cpuSeconds(b.broker->pid()) - broker0;
    const auto mem = station::bench::memory(pid_t(procs.front()->pid()));
    samples.waitFor(int(committed.size()), 10000);
    std::vector<double> delays;
    for (const auto &a : samples.arrivals()) {
        const int i = a.topic.split('/').value(1).toInt();
        const auto it = committed.find({i, a.row});
        if (it != committed.end())
            delays.push_back(ms(a.at - it->second));
    }
    for (auto &p : procs)
        p->terminate();
    for (auto &p : procs)
        p->waitFinished(10000);
    if (!writes) {
        std::printf("idle, one publisher connected, no new row, %.0f s: CPU %.3f %% of a core; peak resident memory "
                    "%.1f MiB\n",
                    wall, cpu / wall * 100, mem ? mem->peakKiB / 1024.0 : 0.0);
        return;
    }
    const Stats d = statsOf(delays);
    std::printf("%3d publishers, 1 row/s each, %.0f s: %zu of %zu delivered; delay median %.0f ms, p95 %.0f ms, max "
                "%.0f ms; CPU per publisher %.2f %%, all publishers %.1f %%, broker %.2f %% of a core\n",
                publishers, wall, delays.size(), committed.size(), d.median, d.p95, d.max, cpu / wall * 100 / publishers,
                cpu / wall * 100, brokerCpu / wall * 100);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 5;
    int seconds = 20;
    QList<int> sizes{1, 10, 50, 100, 200};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--rounds"))
            rounds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--scale")) {
            sizes.clear();
            for (const QString &k : args[i + 1].split(QLatin1Char(',')))
                sizes << k.toInt();
        }
    }
    Bench b;
    // The publishers' default data folder (their help texts name it) stays in here.
    qputenv("XDG_DATA_HOME", QFile::encodeName(b.path(QStringLiteral("data"))));
    mosquitto_lib_init();
    std::printf("machine: %s; libmosquitto %d; load average %s\n", station::bench::machine().constData(),
                mosquitto_lib_version(nullptr, nullptr, nullptr), qPrintable(loadAverage()));
    b.broker = std::make_unique<Broker>(b.path(QStringLiteral("broker")));
    if (!b.broker->start()) {
        std::printf("mosquitto did not start: %s\n", qPrintable(b.broker->log()));
        return 1;
    }
    delay(b);
    if (rounds > 0)
        backfill(b, rounds);
    for (int k : sizes)
        scale(b, k, seconds, true);
    scale(b, 1, seconds, false);
    std::printf("load average at the end: %s\n", qPrintable(loadAverage()));
    mosquitto_lib_cleanup();
    return 0;
}
