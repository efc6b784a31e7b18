// The publisher's loop: follows the streams, sends their rows to the broker,
// keeps the positions, reconnects.
//
// One row, from commit to position. The recorder commits row 1234 and moves
// the pointer in sl_void. Within one poll period the loop asks the sample
// stream for the rows after its cursor (the last row it read); the stream
// returns row 1234 as a message, which is published QoS 1 on
// <prefix>/sample and put on the stream's in-flight list with its message
// id; the cursor moves to 1234. The broker answers PUBACK; libmosquitto calls
// back inside MqttClient::run(), and the loop marks the entry acknowledged. The
// acknowledged position moves over the acknowledged entries at the head of the
// list, in sending order (so a PUBACK that overtakes an earlier one never
// moves the position past an unacknowledged row), and the state file is
// written: at once when nothing else is in flight, else at most once a
// second.
//
// The connection lost. Everything read but not acknowledged is forgotten; the
// cursor goes back to the acknowledged position, and after the next CONNACK
// the rows after it are read and published again, in order. A row whose PUBACK
// was lost with the connection is sent twice: delivery is at least once. The
// same holds when the publisher itself is killed: it starts from the position
// in the state file, which may lag the broker by the rows acknowledged in the
// last second (or by the window in flight).
//
// Flow. At most kWindow messages of a stream are in flight; a stream that is
// behind (after an outage, or at a first start told to publish the whole
// ring) is read kBatch rows at a time and sent at most `rate` rows a second (a
// token bucket holding a tenth of a second's rows), so one station catching up
// does not flood a broker that others share. Live rows, one a second, never
// wait for the bucket.
//
// Reconnection. Attempts are spaced 0.5 s, 1 s, 2 s ... up to 30 s apart, and
// the spacing starts again at 0.5 s after a connection was made. A broker that
// refuses the credentials or the certificate ends the program (exit 1): trying
// again would only repeat the refusal.
//
// The event journal is a second Stream in the list given to the constructor,
// with its own window, cursor and position in the state file. The token
// bucket is shared, so the rate bounds both together, and the streams take
// turns at going first, so events are not held back behind a long backfill of
// samples.
#pragma once

#include "record/publish/mqttclient.h"
#include "record/publish/payload.h"
#include "record/publish/statefile.h"
#include "record/publish/stream.h"

#include <chrono>
#include <csignal>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

namespace station::publish {

// One line on standard error, "lx6100-publish: <line>".
void printLine(const QString &line);

// The first and the longest spacing of connection attempts; each failed
// attempt doubles the spacing up to the longest.
inline constexpr std::chrono::milliseconds kFirstRetry{500};
inline constexpr std::chrono::milliseconds kLastRetry{30000};

struct PublisherSettings {
    QString broker;              // as the operator wrote it, for messages
    QByteArray prefix;           // topic prefix, without a trailing '/'
    QString statePath;
    double rate = 500;           // rows a second while catching up; 0: as fast as the broker takes them
    int pollMs = 250;            // how often the database is looked at when nothing is pending
    // The longest spacing of connection attempts (the tests shorten it so that
    // a broker back after a long outage is met soon).
    std::chrono::milliseconds lastRetry = kLastRetry;
};

class Publisher {
public:
    using Clock = std::chrono::steady_clock;

    // The streams are published in the order given; positions holds what the
    // state file held (a stream it does not name starts at its newest row, or
    // at the oldest with backfill).
    Publisher(PublisherSettings settings, MqttClient &client, std::vector<Stream *> streams, Positions positions,
              bool backfill, std::function<StationStatus()> status);

    // Runs until stop becomes non-zero (a signal) or the broker refuses us.
    // Returns the exit code: 0 after a stop, 1 after a refusal.
    int run(const volatile std::sig_atomic_t &stop);

    static constexpr int kWindow = 100;
    static constexpr int kBatch = 100;
    static constexpr std::chrono::milliseconds kSaveEvery{1000};
    static constexpr std::chrono::milliseconds kGoodbye{2000};  // to see the last PUBACKs at a stop
    static constexpr std::chrono::milliseconds kConnackWait{10000};  // a broker that takes TCP but never answers

private:
    struct InFlight {
        int mid = 0;
        Position position;
        bool acknowledged = false;
    };
    struct StreamState {
        Stream *stream = nullptr;
        QByteArray topic;
        std::optional<Position> acknowledged;  // nullopt: not started yet
        Position cursor;
        std::deque<Message> pending;           // read, not yet sent
        std::deque<InFlight> inFlight;
        bool more = true;                      // the last read was a full batch
        QString readError;                     // the last read's failure, said once
    };

    bool start(StreamState &s);
    void pump(Clock::time_point now, bool pollDue);
    bool fill(StreamState &s, bool pollDue);
    void rewind();
    int timeoutMs(Clock::time_point now) const;
    void goodbye();
    void acknowledge(int mid);
    void connected();
    void lost(const Failure &f);
    void waitForBroker(const QString &reason);
    void publishStatus(bool force);
    bool busy() const;
    bool takeToken(Clock::time_point now);
    std::chrono::milliseconds untilToken(Clock::time_point now) const;
    void save(bool force);

    PublisherSettings m_settings;
    MqttClient &m_client;
    std::vector<StreamState> m_streams;
    std::size_t m_firstStream = 0;  // the stream pump() serves first this time
    bool m_backfill = false;
    std::function<StationStatus()> m_status;

    QByteArray m_statusTopic;
    std::optional<StationStatus> m_published;  // on this connection
    int m_statusMid = -1;
    bool m_statusAcknowledged = true;

    double m_tokens = 0;
    Clock::time_point m_tokensAt;
    Clock::time_point m_nextPoll;
    Clock::time_point m_nextAttempt;
    Clock::time_point m_connectingSince;
    std::chrono::milliseconds m_retry = kFirstRetry;
    Clock::time_point m_savedAt;
    bool m_dirty = false;
    QString m_waitingFor;   // the reason last said, so it is said once
    QString m_saveError;
};

} // namespace station::publish
