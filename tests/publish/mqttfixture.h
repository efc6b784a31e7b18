// The real things lx6100-publish meets, for its tests and benchmarks: a
// Mosquitto broker started on a free loopback port with a configuration file
// of its own, mosquitto_sub as a subscriber that prints every message it gets,
// and a sample database written the way the recorder writes it (the row and
// the pointer in one transaction).
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>

namespace station::test {

class DbProbe;

// Opens the database and closes it again: when no other connection holds it,
// SQLite then copies the WAL into the file and removes it. Whether it did.
bool walGoesWithTheLastClose(const QString &path);

// A port on 127.0.0.1 that nothing listens on now.
int freeLoopbackPort();
// Whether a TCP connection to 127.0.0.1:port is accepted.
bool canConnect(int port);

class Broker {
public:
    // folder: where the configuration, the log and the persistence file go.
    // extra: more lines for the configuration file (listeners, TLS, passwords);
    // the first listener is always 127.0.0.1:port(), anonymous unless extra
    // says otherwise.
    explicit Broker(QString folder, QStringList extra = {});
    ~Broker();
    bool start();   // and wait until it accepts connections
    bool stop();    // SIGTERM; waits until it has ended (and saved its sessions)
    int port() const { return m_port; }
    qint64 pid() const { return m_process.processId(); }
    QString log() const;

private:
    QString m_folder;
    QStringList m_extra;
    int m_port;
    QProcess m_process;
};

// mosquitto_sub -v on <topic filter>, QoS 1, with a session the broker keeps
// (so messages queued while it is away reach it when it is back).
class Subscriber {
public:
    struct Line {
        QByteArray topic;
        QByteArray payload;
        qint64 receivedMs = 0;  // on the subscriber's clock()
    };

    Subscriber(int port, QString filter, QStringList extraArgs = {});
    ~Subscriber();
    // Starts it and waits until it is subscribed (a probe message comes back).
    bool start(const QStringList &pubArgs = {});

    const QList<Line> &lines() const { return m_lines; }
    QList<Line> linesOn(const QByteArray &topic) const;
    QList<QByteArray> payloadsOn(const QByteArray &topic) const;
    const QElapsedTimer &clock() const { return m_clock; }

private:
    void read();

    int m_port;
    QString m_filter;
    QStringList m_extra;
    QProcess m_process;
    QByteArray m_partial;
    QList<Line> m_lines;
    QElapsedTimer m_clock;
};

// A sample database as the station makes it, with the columns w_live and
// w_utc or without them (an older file), and the event journal once an event
// was written.
class SampleDatabase {
public:
    SampleDatabase(QString path, bool liveAndUtc);
    ~SampleDatabase();
    bool isOpen() const;
    const QString &path() const { return m_path; }

    struct Row {
        qint64 id = 0;
        QDateTime local;                    // wall clock of the sample (local time)
        std::array<double, 10> values{};
        std::optional<int> live;            // w_live, written when the file has it
        std::optional<qint64> utc;          // w_utc likewise
    };
    // The row and the pointer, in one transaction.
    bool write(const Row &row);
    // Row id with `values`, now, live, and the UTC second of now.
    bool writeNow(qint64 id, const std::array<double, 10> &values);
    // Any statement (a pragma for a benchmark's writer).
    bool exec(const QString &sql);
    // Appends one event to the journal as the station does (the table made
    // with the first), at `when`, kind `kind`, details {"n":n}.
    bool writeEvent(const QString &kind, int n, const QDateTime &when = QDateTime::currentDateTime());
    // Closes the writer's connection, as a station does when it ends.
    void close();

private:
    QString m_path;
    bool m_liveAndUtc;
    std::unique_ptr<DbProbe> m_probe;
};

// A run of lx6100-publish.
class PublishProcess {
public:
    explicit PublishProcess(QStringList args, QStringList env = {});
    ~PublishProcess();
    bool start();
    void terminate();             // SIGTERM
    void kill();                  // SIGKILL
    bool waitFinished(int ms);
    int exitCode() const { return m_process.exitCode(); }
    bool running() const { return m_process.state() == QProcess::Running; }
    qint64 pid() const { return m_process.processId(); }
    // Standard error so far.
    QByteArray errors();

private:
    QStringList m_args;
    QStringList m_env;
    QProcess m_process;
    QByteArray m_errors;
};

} // namespace station::test
