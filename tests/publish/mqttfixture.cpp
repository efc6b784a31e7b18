#include "tests/publish/mqttfixture.h"

#include "common/datenum.h"
#include "record/journal.h"
#include "record/sampledb.h"
#include "tests/record/dbprobe.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QThread>

#include <sqlite3.h>

#include <arpa/inet.h>
#include <pwd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace station::test {

namespace {

constexpr int kStartMs = 5000;
constexpr int kStopMs = 5000;

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// Waits for cond, turning the event loop, until the deadline.
template <typename Cond>
bool waitFor(Cond cond, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

} // namespace

int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool canConnect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(port);
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

Broker::Broker(QString folder, QStringList extra)
    : m_folder(std::move(folder)), m_extra(std::move(extra)), m_port(freeLoopbackPort())
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardOutputFile(QDir(m_folder).filePath(QStringLiteral("broker.log")), QIODevice::Append);
}

Broker::~Broker()
{
    stop();
}

bool Broker::start()
{
    QDir().mkpath(m_folder);
    const QDir dir(m_folder);
    // Started as root, mosquitto would drop to its own user, who cannot read
    // the test's files; as anyone else the line changes nothing.
    const passwd *me = ::getpwuid(::getuid());
    QStringList lines{
        QStringLiteral("user %1").arg(QString::fromLocal8Bit(me ? me->pw_name : "root")),
        QStringLiteral("persistence true"),
        QStringLiteral("persistence_location %1/").arg(dir.absolutePath()),
        QStringLiteral("listener %1 127.0.0.1").arg(m_port),
    };
    bool anonymous = true;
    for (const QString &l : m_extra)
        anonymous = anonymous && !l.startsWith(QLatin1String("password_file"));
    lines << QStringLiteral("allow_anonymous %1").arg(anonymous ? QStringLiteral("true") : QStringLiteral("false"));
    lines << m_extra;
    QFile conf(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!conf.open(QIODevice::WriteOnly) || conf.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n') < 0)
        return false;
    conf.close();
    m_process.start(QStringLiteral("mosquitto"), {QStringLiteral("-c"), conf.fileName()});
    if (!m_process.waitForStarted(kStartMs))
        return false;
    return waitFor([this] { return canConnect(m_port) || m_process.state() != QProcess::Running; }, kStartMs)
        && m_process.state() == QProcess::Running;
}

bool Broker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return true;
    m_process.terminate();
    if (m_process.waitForFinished(kStopMs))
        return true;
    m_process.kill();
    m_process.waitForFinished(kStopMs);
    return false;
}

QString Broker::log() const
{
    QFile f(QDir(m_folder).filePath(QStringLiteral("broker.log")));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

Subscriber::Subscriber(int port, QString filter, QStringList extraArgs)
    : m_port(port), m_filter(std::move(filter)), m_extra(std::move(extraArgs))
{
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { read(); });
    m_clock.start();
}

Subscriber::~Subscriber()
{
    m_process.kill();
    m_process.waitForFinished(kStopMs);
}

bool Subscriber::start(const QStringList &pubArgs)
{
    const QString id = QStringLiteral("test-sub-%1").arg(m_port);
    m_process.start(QStringLiteral("mosquitto_sub"),
                    QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                QString::number(m_port), QStringLiteral("-q"), QStringLiteral("1"),
                                QStringLiteral("-c"), QStringLiteral("-i"), id, QStringLiteral("-v"),
                                QStringLiteral("-t"), m_filter, QStringLiteral("-t"), QStringLiteral("probe/%1").arg(id)}
                        + m_extra);
    if (!m_process.waitForStarted(kStartMs))
        return false;
    // Published until it comes back: the subscription is then in place.
    const QByteArray probe = QStringLiteral("probe/%1").arg(id).toUtf8();
    QDeadlineTimer deadline(kStartMs);
    while (!deadline.hasExpired()) {
        QProcess::execute(QStringLiteral("mosquitto_pub"),
                          QStringList{QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                                      QString::number(m_port), QStringLiteral("-t"), QString::fromUtf8(probe),
                                      QStringLiteral("-m"), QStringLiteral("ready")}
                              + pubArgs);
        if (waitFor([&] { return !linesOn(probe).isEmpty(); }, 200))
            return true;
    }
    return false;
}

void Subscriber::read()
{
    m_partial += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_partial.indexOf('\n')) >= 0) {
        const QByteArray line = m_partial.left(end);
        m_partial.remove(0, end + 1);
        const qsizetype space = line.indexOf(' ');
        m_lines << Line{line.left(space), space < 0 ? QByteArray() : line.mid(space + 1), m_clock.elapsed()};
    }
}

QList<Subscriber::Line> Subscriber::linesOn(const QByteArray &topic) const
{
    QList<Line> out;
    for (const Line &l : m_lines)
        if (l.topic == topic)
            out << l;
    return out;
}

QList<QByteArray> Subscriber::payloadsOn(const QByteArray &topic) const
{
    QList<QByteArray> out;
    for (const Line &l : linesOn(topic))
        out << l.payload;
    return out;
}

SampleDatabase::SampleDatabase(QString path, bool liveAndUtc) : m_path(std::move(path)), m_liveAndUtc(liveAndUtc)
{
    if (!sampledb::create(m_path))
        return;
    m_probe = std::make_unique<DbProbe>(m_path);
    if (liveAndUtc
        && !(m_probe->exec(QStringLiteral("ALTER TABLE pv_data ADD COLUMN w_live INTEGER"))
             && m_probe->exec(QStringLiteral("ALTER TABLE pv_data ADD COLUMN w_utc INTEGER"))))
        m_probe.reset();
}

SampleDatabase::~SampleDatabase() = default;

bool SampleDatabase::isOpen() const
{
    return m_probe && m_probe->isOpen();
}

bool SampleDatabase::write(const Row &row)
{
    if (!isOpen())
        return false;
    QStringList columns{QString::number(row.id), QString::number(dayNumber(row.local.date()), 'g', 17),
                        QString::number(dayFraction(row.local.time()), 'g', 17)};
    for (double v : row.values)
        columns << QString::number(v, 'g', 17);
    if (m_liveAndUtc) {
        columns << (row.live ? QString::number(*row.live) : QStringLiteral("NULL"));
        columns << (row.utc ? QString::number(*row.utc) : QStringLiteral("NULL"));
    }
    return m_probe->exec(QStringLiteral("BEGIN IMMEDIATE"))
        && m_probe->exec(QStringLiteral("INSERT OR REPLACE INTO pv_data VALUES (%1)").arg(columns.join(QLatin1Char(','))))
        && m_probe->exec(QStringLiteral("UPDATE sl_void SET sl_pointer=%1, sl_copy=%1").arg(row.id))
        && m_probe->exec(QStringLiteral("COMMIT"));
}

bool SampleDatabase::writeNow(qint64 id, const std::array<double, 10> &values)
{
    const QDateTime now = QDateTime::currentDateTime();
    return write(Row{id, now, values, 1, now.toSecsSinceEpoch()});
}

void SampleDatabase::close()
{
    m_probe.reset();
}

bool walGoesWithTheLastClose(const QString &path)
{
    {
        DbProbe probe(path);
        if (!probe.isOpen() || !probe.scalar(QStringLiteral("SELECT count(*) FROM sl_void")).isValid())
            return false;
    }
    return !QFile::exists(path + QLatin1String("-wal"));
}

bool SampleDatabase::exec(const QString &sql)
{
    return isOpen() && m_probe->exec(sql);
}

bool SampleDatabase::writeEvent(const QString &kind, int n, const QDateTime &when)
{
    if (!isOpen())
        return false;
    // A connection of its own, as the recorder's append is one transaction on
    // the station's connection.
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(QFile::encodeName(m_path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, kStartMs);
        journal::Event e = journal::makeEvent(journal::Kind::Write, when, QJsonObject{{QStringLiteral("n"), n}});
        e.kind = kind;
        ok = journal::append(db, {e}) > 0;
    }
    sqlite3_close(db);
    return ok;
}

PublishProcess::PublishProcess(QStringList args, QStringList env) : m_args(std::move(args)), m_env(std::move(env)) {}

PublishProcess::~PublishProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
    }
}

bool PublishProcess::start()
{
    m_errors.clear();
    QStringList env = QProcess::systemEnvironment();
    env << m_env;
    m_process.setEnvironment(env);
    m_process.start(QStringLiteral(PUBLISH_BINARY), m_args);
    return m_process.waitForStarted(kStartMs);
}

void PublishProcess::terminate()
{
    m_process.terminate();
}

void PublishProcess::kill()
{
    m_process.kill();
}

bool PublishProcess::waitFinished(int ms)
{
    return waitFor([this] { return m_process.state() == QProcess::NotRunning; }, ms);
}

QByteArray PublishProcess::errors()
{
    m_errors += m_process.readAllStandardError();
    return m_errors;
}

} // namespace station::test
