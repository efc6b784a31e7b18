#include "record/publish/mqttclient.h"

#include "common/logging.h"

#include <QFile>
#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <vector>

namespace station::publish {

namespace {

constexpr int kDisconnectTurns = 3;      // loop turns to let DISCONNECT out
constexpr int kDisconnectTurnMs = 100;

void initLibrary()
{
    static const int once = [] {
        mosquitto_lib_init();
        return 0;
    }();
    Q_UNUSED(once);
}

// The broker's CONNACK codes that trying again will not change.
bool refusalStays(int code)
{
    switch (code) {
    case 1:   // unacceptable protocol version
    case 2:   // identifier rejected
    case 4:   // bad user name or password
    case 5:   // not authorised
        return true;
    default:  // 3: server unavailable, and anything newer
        return false;
    }
}

QByteArray local(const QString &path)
{
    return QFile::encodeName(path);
}

// Events from inside mosquitto_loop, delivered after it returned.
struct Pending {
    bool connected = false;
    std::vector<int> acknowledged;
};
thread_local Pending *t_pending = nullptr;

} // namespace

MqttClient::MqttClient(BrokerSettings settings) : m_settings(std::move(settings))
{
    initLibrary();
}

MqttClient::~MqttClient()
{
    drop();
}

QString MqttClient::libraryVersion()
{
    int major = 0, minor = 0, revision = 0;
    mosquitto_lib_version(&major, &minor, &revision);
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

void MqttClient::drop()
{
    if (m_mosq)
        mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    m_state = State::Disconnected;
    m_connackCode = -1;
}

Failure MqttClient::failed(int rc, int error)
{
    Failure f{Failure::Kind::Transient, {}};
    // A broker that does not accept our certificate (or wants one) ends the
    // TLS session with an alert after the handshake looked complete to us:
    // libmosquitto then reports EPROTO or the lost connection, and logs
    // OpenSSL's reason when it still has it. Before CONNACK that is a refusal.
    if (m_settings.tls && m_state != State::Connected
        && ((rc == MOSQ_ERR_ERRNO && error == EPROTO) || m_lastLibraryError.contains(QLatin1String("OpenSSL"))))
        rc = MOSQ_ERR_TLS;
    switch (rc) {
    case MOSQ_ERR_CONN_REFUSED:
        f.reason = QStringLiteral("the broker refused the connection: %1")
                       .arg(QString::fromUtf8(mosquitto_connack_string(m_connackCode)));
        if (refusalStays(m_connackCode))
            f.kind = Failure::Kind::Refused;
        break;
    case MOSQ_ERR_TLS:
    case MOSQ_ERR_TLS_HANDSHAKE:
        // A certificate that does not verify, or a broker that speaks no TLS.
        f.kind = Failure::Kind::Refused;
        f.reason = QStringLiteral("TLS failed: %1")
                       .arg(m_lastLibraryError.isEmpty()
                                ? QStringLiteral("the broker ended the session before it accepted the connection "
                                                 "(does it want a client certificate, or another one?)")
                                : m_lastLibraryError);
        break;
    case MOSQ_ERR_EAI:
        f.reason = QStringLiteral("cannot resolve the host name %1").arg(m_settings.host);
        break;
    case MOSQ_ERR_ERRNO:
        f.reason = QString::fromLocal8Bit(std::strerror(error));
        break;
    case MOSQ_ERR_KEEPALIVE:
        f.reason = QStringLiteral("the broker stopped answering");
        break;
    default:
        f.reason = QString::fromUtf8(mosquitto_strerror(rc));
        break;
    }
    qCInfo(lcPublish) << "connection ended:" << rc << f.reason;
    drop();
    return f;
}

Failure MqttClient::connect()
{
    drop();
    m_lastLibraryError.clear();
    const BrokerSettings &s = m_settings;
    m_mosq = mosquitto_new(s.clientId.constData(), true, this);
    if (!m_mosq)
        return Failure{Failure::Kind::Transient, QStringLiteral("out of memory")};
    mosquitto_int_option(m_mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // Each sample goes out at once; Nagle's algorithm would hold a small
    // message back until the previous one is acknowledged by TCP.
    mosquitto_int_option(m_mosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(m_mosq, unsigned(s.maxInFlight));
    mosquitto_connect_callback_set(m_mosq, &MqttClient::connectCallback);
    mosquitto_publish_callback_set(m_mosq, &MqttClient::publishCallback);
    // Until CONNACK: the OpenSSL reason of a refused TLS session is only logged.
    mosquitto_log_callback_set(m_mosq, &MqttClient::logCallback);

    int rc = MOSQ_ERR_SUCCESS;
    if (!s.willTopic.isEmpty())
        rc = mosquitto_will_set(m_mosq, s.willTopic.constData(), int(s.willPayload.size()),
                                s.willPayload.constData(), 1, true);
    if (rc == MOSQ_ERR_SUCCESS && !s.username.isEmpty())
        rc = mosquitto_username_pw_set(m_mosq, s.username.toUtf8().constData(),
                                       s.password.isNull() ? nullptr : s.password.constData());
    if (rc == MOSQ_ERR_SUCCESS && s.tls) {
        if (s.caFile.isEmpty())
            rc = mosquitto_int_option(m_mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        if (rc == MOSQ_ERR_SUCCESS && (!s.caFile.isEmpty() || !s.certFile.isEmpty())) {
            const QByteArray ca = local(s.caFile), cert = local(s.certFile), key = local(s.keyFile);
            rc = mosquitto_tls_set(m_mosq, s.caFile.isEmpty() ? nullptr : ca.constData(), nullptr,
                                   s.certFile.isEmpty() ? nullptr : cert.constData(),
                                   s.keyFile.isEmpty() ? nullptr : key.constData(), nullptr);
        }
        if (rc != MOSQ_ERR_SUCCESS) {
            drop();
            return Failure{Failure::Kind::Refused, QStringLiteral("cannot use the TLS files: %1")
                                                       .arg(QString::fromUtf8(mosquitto_strerror(rc)))};
        }
    }
    if (rc == MOSQ_ERR_SUCCESS)
        rc = mosquitto_connect(m_mosq, s.host.toUtf8().constData(), s.port, s.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS)
        return failed(rc, errno);
    m_state = State::Connecting;
    qCDebug(lcPublish) << "connecting to" << s.host << s.port;
    return {};
}

Failure MqttClient::run(int timeoutMs)
{
    if (!m_mosq)
        return Failure{Failure::Kind::Transient, QStringLiteral("not connected")};
    Pending pending;
    t_pending = &pending;
    const int rc = mosquitto_loop(m_mosq, timeoutMs, 1);
    const int error = errno;
    t_pending = nullptr;
    if (pending.connected) {
        m_state = State::Connected;
        // libmosquitto formats a log line for every packet while a log callback
        // is set; past CONNACK only the maintainer's log needs them.
        if (!lcPublish().isDebugEnabled())
            mosquitto_log_callback_set(m_mosq, nullptr);
        if (onConnected)
            onConnected();
    }
    if (onAcknowledged)
        for (int mid : pending.acknowledged)
            onAcknowledged(mid);
    if (rc != MOSQ_ERR_SUCCESS)
        return failed(rc, error);
    return {};
}

int MqttClient::publish(const QByteArray &topic, const QByteArray &payload, bool retain)
{
    if (m_state != State::Connected)
        return -1;
    int mid = -1;
    const int rc = mosquitto_publish(m_mosq, &mid, topic.constData(), int(payload.size()), payload.constData(), 1, retain);
    if (rc != MOSQ_ERR_SUCCESS) {
        qCInfo(lcPublish) << "publish failed:" << mosquitto_strerror(rc);
        return -1;
    }
    return mid;
}

void MqttClient::disconnect()
{
    if (m_mosq && m_state == State::Connected) {
        mosquitto_disconnect(m_mosq);
        for (int i = 0; i < kDisconnectTurns && mosquitto_loop(m_mosq, kDisconnectTurnMs, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
    }
    drop();
}

void MqttClient::connectCallback(mosquitto *, void *self, int code)
{
    auto *client = static_cast<MqttClient *>(self);
    client->m_connackCode = code;
    qCDebug(lcPublish) << "CONNACK" << code;
    if (code == 0 && t_pending)
        t_pending->connected = true;
}

void MqttClient::publishCallback(mosquitto *, void *, int mid)
{
    if (t_pending)
        t_pending->acknowledged.push_back(mid);
}

void MqttClient::logCallback(mosquitto *, void *self, int level, const char *text)
{
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING))
        static_cast<MqttClient *>(self)->m_lastLibraryError = QString::fromUtf8(text);
    qCDebug(lcPublish) << "libmosquitto:" << text;
}

} // namespace station::publish
