// One connection to the broker through libmosquitto, driven from the
// publisher's own loop on one thread (mosquitto_connect, then mosquitto_loop):
// no thread of libmosquitto's, so every callback runs inside run(), on the
// caller's thread, between two of its statements.
//
// Each connection attempt starts from a new libmosquitto client, so nothing
// the library kept from a lost connection (messages it would send again on
// its own) survives it: after a reconnection the publisher alone decides what
// is sent again, from its acknowledged positions. The client publishes only,
// QoS 1, with a clean session; it subscribes to nothing.
#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

struct mosquitto;

namespace station::publish {

struct BrokerSettings {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile;    // empty with tls: the system's CA certificates
    QString certFile;  // client certificate, with keyFile; both or neither
    QString keyFile;
    QString username;  // empty: none
    QByteArray password;
    int keepAliveSeconds = 30;
    QByteArray clientId;
    QByteArray willTopic;    // retained, QoS 1
    QByteArray willPayload;
    int maxInFlight = 100;   // unacknowledged messages libmosquitto may have out
};

// Why a connection attempt failed or a connection ended.
struct Failure {
    enum class Kind {
        None,
        Transient,  // the broker is away, unreachable or unknown: try again later
        Refused,    // the broker refused us (credentials, certificate): trying again will not help
    };
    Kind kind = Kind::None;
    QString reason;
    explicit operator bool() const { return kind != Kind::None; }
};

class MqttClient {
public:
    explicit MqttClient(BrokerSettings settings);
    ~MqttClient();
    MqttClient(const MqttClient &) = delete;
    MqttClient &operator=(const MqttClient &) = delete;

    enum class State { Disconnected, Connecting, Connected };
    State state() const { return m_state; }

    // Opens the network connection and sends CONNECT. Blocks for the name
    // lookup and the TCP connection (a signal ends the wait); the TLS
    // handshake and the broker's answer come in run().
    Failure connect();
    // Does the network's work for at most timeoutMs: reads and handles what
    // came (onConnected, onAcknowledged), writes what is queued, keeps the
    // connection alive. A failure means the connection has ended (state is
    // Disconnected).
    Failure run(int timeoutMs);
    // QoS 1. Returns the message id, or -1 when not connected.
    int publish(const QByteArray &topic, const QByteArray &payload, bool retain);
    // A clean DISCONNECT (the broker does not send the last will), then closes.
    void disconnect();

    std::function<void()> onConnected;
    std::function<void(int mid)> onAcknowledged;

    // The version of libmosquitto in use, "2.0.11".
    static QString libraryVersion();

private:
    static void connectCallback(mosquitto *, void *self, int code);
    static void publishCallback(mosquitto *, void *self, int mid);
    static void logCallback(mosquitto *, void *self, int level, const char *text);
    Failure failed(int rc, int error);  // error: errno right after the call
    void drop();

    BrokerSettings m_settings;
    mosquitto *m_mosq = nullptr;
    State m_state = State::Disconnected;
    int m_connackCode = -1;   // the broker's answer to CONNECT on this connection
    QString m_lastLibraryError;
};

} // namespace station::publish
