#include "record/publish/options.h"

#include "common/datadir.h"
#include "record/sampledb.h"

#include <QCommandLineParser>
#include <QDir>
#include <QSysInfo>
#include <QUrl>

namespace station::publish {

namespace {

constexpr int kLeastKeepAlive = 5;        // libmosquitto refuses less
constexpr int kMostKeepAlive = 65535;     // the field is 16 bits

// <dataDir>/publish-<host>-<port>.state: one position per broker.
QString defaultStatePath(const QString &host, int port)
{
    QString name = QStringLiteral("publish-%1-%2.state").arg(host).arg(port);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    return QDir(dataDir()).filePath(name);
}

ParsedOptions usage(const QString &text)
{
    return ParsedOptions{ParsedOptions::Status::Usage, text, {}};
}

// A topic prefix: not empty, no wildcard, no NUL, no trailing '/'.
bool validPrefix(const QString &prefix)
{
    return !prefix.isEmpty() && !prefix.endsWith(QLatin1Char('/')) && !prefix.contains(QLatin1Char('+'))
        && !prefix.contains(QLatin1Char('#')) && !prefix.contains(QChar(0));
}

} // namespace

ParsedOptions parseOptions(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Publishes the LX6100 station's samples to an MQTT broker: <topic>/sample, one JSON object per stored\n"
        "row (QoS 1), and <topic>/status (retained; \"offline\" as the last will). Reads the database only.\n"
        "Keeps the last row the broker acknowledged in the state file and, after the broker or the publisher\n"
        "was away, publishes every row recorded meanwhile, in order."));
    parser.addHelpOption();
    const QCommandLineOption db(QStringLiteral("db"), QStringLiteral("The sample database (default: %1).")
                                    .arg(sampledb::defaultPath()), QStringLiteral("file"));
    const QCommandLineOption broker(QStringLiteral("broker"),
        QStringLiteral("mqtt://host[:port] or mqtts://host[:port] (default: mqtt://localhost; ports 1883, 8883)."),
        QStringLiteral("url"), QStringLiteral("mqtt://localhost"));
    const QCommandLineOption topic(QStringLiteral("topic"), QStringLiteral("Topic prefix (default: lx6100/<host name>)."),
                                   QStringLiteral("prefix"));
    const QCommandLineOption raw(QStringLiteral("raw"), QStringLiteral("Values as stored, not scaled as the station shows them."));
    const QCommandLineOption username(QStringLiteral("username"), QStringLiteral("User name at the broker."), QStringLiteral("name"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
        QStringLiteral("File whose first line is the password (never on the command line)."), QStringLiteral("file"));
    const QCommandLineOption caFile(QStringLiteral("cafile"),
        QStringLiteral("CA certificates (PEM) the broker's certificate must chain to, with mqtts:// (default: the system's)."),
        QStringLiteral("file"));
    const QCommandLineOption cert(QStringLiteral("cert"), QStringLiteral("Client certificate (PEM), with --key."), QStringLiteral("file"));
    const QCommandLineOption key(QStringLiteral("key"), QStringLiteral("Client certificate's private key (PEM, unencrypted)."), QStringLiteral("file"));
    const QCommandLineOption state(QStringLiteral("state"),
        QStringLiteral("The position file (default: publish-<host>-<port>.state in %1). One per broker and\n"
                       "database: give one with --db.").arg(dataDir()), QStringLiteral("file"));
    const QCommandLineOption backfill(QStringLiteral("backfill"),
        QStringLiteral("With no position yet, publish every row kept first (default: start after the newest)."));
    const QCommandLineOption rate(QStringLiteral("rate"),
        QStringLiteral("Rows a second at most while catching up (default: %1; 0: no bound).").arg(kDefaultRate),
        QStringLiteral("n"), QString::number(kDefaultRate));
    const QCommandLineOption keepAlive(QStringLiteral("keepalive"),
        QStringLiteral("Keep-alive in seconds (default: %1).").arg(kDefaultKeepAlive), QStringLiteral("s"),
        QString::number(kDefaultKeepAlive));
    parser.addOptions({db, broker, topic, raw, username, passwordFile, caFile, cert, key, state, backfill, rate, keepAlive});

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        return ParsedOptions{ParsedOptions::Status::Help, parser.helpText(), {}};
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    Options o;
    o.database = parser.isSet(db) ? parser.value(db) : sampledb::defaultPath();
    o.broker = parser.value(broker);
    const QUrl url(o.broker, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || url.host().isEmpty()
        || !url.userInfo().isEmpty() || !(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery()
        || url.hasFragment())
        return usage(QStringLiteral("--broker wants mqtt://host[:port] or mqtts://host[:port], not %1").arg(o.broker));
    o.tls = scheme == QLatin1String("mqtts");
    o.host = url.host();
    o.port = url.port(o.tls ? kDefaultMqttsPort : kDefaultMqttPort);
    if (o.port <= 0)
        return usage(QStringLiteral("--broker: no port in %1").arg(o.broker));

    o.topic = parser.isSet(topic) ? parser.value(topic)
                                  : QStringLiteral("lx6100/%1").arg(QSysInfo::machineHostName());
    if (!validPrefix(o.topic))
        return usage(QStringLiteral("--topic wants a prefix without +, # or a trailing /, not \"%1\"").arg(o.topic));
    o.raw = parser.isSet(raw);
    o.username = parser.value(username);
    o.passwordFile = parser.value(passwordFile);
    if (!o.passwordFile.isEmpty() && o.username.isEmpty())
        return usage(QStringLiteral("--password-file needs --username"));
    o.caFile = parser.value(caFile);
    o.certFile = parser.value(cert);
    o.keyFile = parser.value(key);
    if (!o.tls && (!o.caFile.isEmpty() || !o.certFile.isEmpty() || !o.keyFile.isEmpty()))
        return usage(QStringLiteral("--cafile, --cert and --key need an mqtts:// broker"));
    if (o.certFile.isEmpty() != o.keyFile.isEmpty())
        return usage(QStringLiteral("--cert and --key go together"));
    o.statePath = parser.isSet(state) ? parser.value(state) : defaultStatePath(o.host, o.port);
    o.backfill = parser.isSet(backfill);
    bool ok = false;
    o.rate = parser.value(rate).toDouble(&ok);
    if (!ok || !(o.rate >= 0))
        return usage(QStringLiteral("--rate wants a number of rows a second, 0 or more, not %1").arg(parser.value(rate)));
    o.keepAlive = parser.value(keepAlive).toInt(&ok);
    if (!ok || o.keepAlive < kLeastKeepAlive || o.keepAlive > kMostKeepAlive)
        return usage(QStringLiteral("--keepalive wants %1 to %2 seconds, not %3")
                         .arg(kLeastKeepAlive).arg(kMostKeepAlive).arg(parser.value(keepAlive)));
    return ParsedOptions{ParsedOptions::Status::Run, {}, o};
}

} // namespace station::publish
