// lx6100-publish: follows the station's sample database beside a running
// station and publishes every stored row and every event of its journal to an
// MQTT broker (publisher.h has the design; samplestream.h how the ring is
// followed, eventstream.h the journal).
//
//   lx6100-publish [--db FILE] [--broker mqtt[s]://host[:port]] [--topic PREFIX] [--raw]
//                  [--username NAME --password-file FILE] [--cafile FILE] [--cert FILE --key FILE]
//                  [--state FILE] [--backfill] [--rate N] [--keepalive S]
//
// Exit codes: 0 after SIGTERM, SIGINT or SIGHUP; 1 for a database, state file,
// password or certificate file that cannot be read, or a broker that refuses
// the credentials or the certificate; 2 for a wrong command line. A broker
// that is down or unreachable is waited for, never an error.
#include "record/publish/eventstream.h"
#include "record/publish/mqttclient.h"
#include "record/publish/options.h"
#include "record/publish/publisher.h"
#include "record/publish/samplestream.h"
#include "record/publish/statefile.h"
#include "record/sampledb.h"

#include "common/datadir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <csignal>
#include <cstdio>

using namespace station;
using namespace station::publish;

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

// Without SA_RESTART, so a wait in poll() or connect() ends at once.
void installSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &action, nullptr);
    // A broker gone mid-write must not end the program.
    std::signal(SIGPIPE, SIG_IGN);
}

int fail(int code, const QString &message)
{
    printLine(message);
    return code;
}

// The file's first line, or nullopt when it cannot be read.
std::optional<QByteArray> firstLine(const QString &path, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = f.errorString();
        return std::nullopt;
    }
    QByteArray line = f.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<QString> unreadable(const QStringList &paths)
{
    for (const QString &path : paths) {
        QFile f(path);
        if (!path.isEmpty() && !f.open(QIODevice::ReadOnly))
            return QStringLiteral("cannot read %1: %2").arg(path, f.errorString());
    }
    return std::nullopt;
}

// The longest spacing of connection attempts: kLastRetry, or what
// LX6100_PUBLISH_LAST_RETRY_MS says within kFirstRetry..kLastRetry. Only the
// tests set it (a broker stopped for ten seconds is met again at once instead
// of after the next 8-second wait); it is not an operator's setting.
std::chrono::milliseconds lastRetry()
{
    bool ok = false;
    const qint64 ms = qEnvironmentVariableIntValue("LX6100_PUBLISH_LAST_RETRY_MS", &ok);
    if (!ok)
        return kLastRetry;
    return std::clamp(std::chrono::milliseconds(ms), kFirstRetry, kLastRetry);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    useStationApplicationName();

    const ParsedOptions parsed = parseOptions(app.arguments());
    if (parsed.status == ParsedOptions::Status::Help) {
        std::fputs(qPrintable(parsed.text), stdout);
        return 0;
    }
    if (parsed.status == ParsedOptions::Status::Usage)
        return fail(kUsage, parsed.text);
    const Options &o = parsed.options;

    if (!QFileInfo(o.database).isFile())
        return fail(kFailed, QStringLiteral("no database file %1").arg(o.database));
    if (const auto why = unreadable({o.database}))
        return fail(kFailed, *why);
    if (!sampledb::hasDatabaseHeader(o.database))
        return fail(kFailed, QStringLiteral("%1 is not an SQLite database").arg(o.database));
    if (const auto why = unreadable({o.caFile, o.certFile, o.keyFile}))
        return fail(kFailed, *why);

    BrokerSettings broker;
    broker.host = o.host;
    broker.port = o.port;
    broker.tls = o.tls;
    broker.caFile = o.caFile;
    broker.certFile = o.certFile;
    broker.keyFile = o.keyFile;
    broker.username = o.username;
    if (!o.passwordFile.isEmpty()) {
        QString error;
        const auto password = firstLine(o.passwordFile, &error);
        if (!password)
            return fail(kFailed, QStringLiteral("cannot read %1: %2").arg(o.passwordFile, error));
        broker.password = *password;
    }
    broker.keepAliveSeconds = o.keepAlive;
    broker.clientId = "lx6100-publish/" + o.topic.toUtf8();
    broker.willTopic = o.topic.toUtf8() + "/status";
    broker.willPayload = offlinePayload();
    broker.maxInFlight = Publisher::kWindow;

    SampleStream samples(o.database, o.raw);
    // The database must be one of the station's now; later read failures
    // (the file replaced, say) are waited out.
    const Batch probe = samples.next(Position{}, 0);
    if (!probe.ok)
        return fail(kFailed, probe.error);

    const StateRead state = readStateFile(o.statePath);
    if (state.status == StateRead::Status::Unreadable || state.status == StateRead::Status::Malformed)
        return fail(kFailed, QStringLiteral("cannot read the state file %1: %2").arg(o.statePath, state.error));

    PublisherSettings settings;
    settings.broker = o.broker;
    settings.prefix = o.topic.toUtf8();
    settings.statePath = o.statePath;
    settings.rate = o.rate;
    settings.lastRetry = lastRetry();

    MqttClient client(broker);
    // The streams, in the order they are served, each with its line in the
    // state file.
    EventStream events(o.database);
    std::vector<Stream *> streams{&samples, &events};
    Publisher publisher(settings, client, streams, state.positions, o.backfill, [&samples] {
        return stationStatus(samples.newestRow(), QDateTime::currentSecsSinceEpoch());
    });
    installSignals();
    return publisher.run(g_stop);
}
