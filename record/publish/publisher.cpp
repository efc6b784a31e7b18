#include "record/publish/publisher.h"

#include "common/logging.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>
#include <poll.h>

namespace station::publish {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

namespace {

// Sleeps, and wakes early for a signal (the handlers are installed without
// SA_RESTART).
void pause(milliseconds span)
{
    if (span.count() > 0)
        ::poll(nullptr, 0, int(span.count()));
}

} // namespace

void printLine(const QString &line)
{
    std::fprintf(stderr, "lx6100-publish: %s\n", qPrintable(line));
    std::fflush(stderr);
}

Publisher::Publisher(PublisherSettings settings, MqttClient &client, std::vector<Stream *> streams,
                     Positions positions, bool backfill, std::function<StationStatus()> status)
    : m_settings(std::move(settings)), m_client(client), m_backfill(backfill), m_status(std::move(status))
{
    for (Stream *stream : streams) {
        StreamState s;
        s.stream = stream;
        s.topic = m_settings.prefix + '/' + stream->name();
        if (positions.contains(stream->name())) {
            s.acknowledged = positions.value(stream->name());
            s.cursor = *s.acknowledged;
        }
        m_streams.push_back(std::move(s));
    }
    m_statusTopic = m_settings.prefix + "/status";
    m_tokens = std::max(1.0, m_settings.rate / 10);
    m_tokensAt = Clock::now();
}

bool Publisher::start(StreamState &s)
{
    if (s.acknowledged)
        return true;
    if (m_backfill) {
        s.acknowledged = Position{};
    } else {
        s.acknowledged = s.stream->newest();
        if (!s.acknowledged)
            return false;
    }
    s.cursor = *s.acknowledged;
    m_dirty = true;
    qCInfo(lcPublish) << s.stream->name() << "starts after row" << s.acknowledged->id;
    return true;
}

int Publisher::run(const volatile std::sig_atomic_t &stop)
{
    m_client.onConnected = [this] { connected(); };
    m_client.onAcknowledged = [this](int mid) { acknowledge(mid); };
    for (StreamState &s : m_streams)
        start(s);
    save(true);

    while (!stop) {
        const Clock::time_point now = Clock::now();
        if (m_client.state() == MqttClient::State::Disconnected) {
            if (now < m_nextAttempt) {
                pause(std::min(duration_cast<milliseconds>(m_nextAttempt - now), milliseconds(m_settings.pollMs)));
                continue;
            }
            const Failure f = m_client.connect();
            if (f.kind == Failure::Kind::Refused) {
                printLine(f.reason);
                save(true);
                return 1;
            }
            if (f) {
                waitForBroker(f.reason);
                continue;
            }
            m_connectingSince = Clock::now();
            continue;
        }
        if (m_client.state() == MqttClient::State::Connecting && now - m_connectingSince > kConnackWait) {
            m_client.disconnect();
            waitForBroker(QStringLiteral("no answer to CONNECT"));
            continue;
        }
        const Failure f = m_client.run(timeoutMs(now));
        if (f.kind == Failure::Kind::Refused) {
            printLine(f.reason);
            save(true);
            return 1;
        }
        if (f) {
            rewind();
            waitForBroker(f.reason);
            continue;
        }
        if (m_client.state() == MqttClient::State::Connected) {
            const Clock::time_point after = Clock::now();
            const bool pollDue = after >= m_nextPoll;
            if (pollDue)
                m_nextPoll = after + milliseconds(m_settings.pollMs);
            pump(after, pollDue);
        }
        save(false);
    }
    goodbye();
    save(true);
    return 0;
}

void Publisher::goodbye()
{
    if (m_client.state() != MqttClient::State::Connected) {
        m_client.disconnect();
        return;
    }
    // A stop is not a failure: say "offline" ourselves (the broker sends the
    // last will only when the connection breaks), and give the PUBACKs of
    // what is in flight a moment, so the state file ends as far on as it can.
    const int mid = m_client.publish(m_statusTopic, offlinePayload(), true);
    if (mid >= 0) {
        m_statusMid = mid;
        m_statusAcknowledged = false;
    }
    const Clock::time_point deadline = Clock::now() + kGoodbye;
    while (Clock::now() < deadline && (!m_statusAcknowledged || busy())) {
        if (m_client.run(50))
            break;
    }
    m_client.disconnect();
}

void Publisher::connected()
{
    printLine(QStringLiteral("connected to %1").arg(m_settings.broker));
    m_waitingFor.clear();
    m_retry = kFirstRetry;
    rewind();
    m_published.reset();
    m_statusMid = -1;
    m_statusAcknowledged = true;
    m_nextPoll = Clock::now();  // read and say the status at once
}

void Publisher::rewind()
{
    for (StreamState &s : m_streams) {
        s.stream->release();
        s.pending.clear();
        s.inFlight.clear();
        if (s.acknowledged)
            s.cursor = *s.acknowledged;
        s.more = true;
    }
}

void Publisher::waitForBroker(const QString &reason)
{
    if (reason != m_waitingFor)
        printLine(QStringLiteral("waiting for the broker at %1: %2").arg(m_settings.broker, reason));
    m_waitingFor = reason;
    qCInfo(lcPublish) << "attempt failed:" << reason << "- next in" << m_retry.count() << "ms";
    m_nextAttempt = Clock::now() + m_retry;
    m_retry = std::min(m_retry * 2, m_settings.lastRetry);
}

bool Publisher::fill(StreamState &s, bool pollDue)
{
    if (!s.more && (!pollDue || !s.stream->mayHaveNewRows()))
        return false;
    Batch b = s.stream->next(s.cursor, kBatch);
    if (!b.ok) {
        // Said once: a failure each stream meets alike (the file gone) is said
        // by the first.
        const bool said = std::any_of(m_streams.begin(), m_streams.end(),
                                      [&b](const StreamState &o) { return o.readError == b.error; });
        if (!said)
            printLine(b.error);
        s.readError = b.error;
        s.more = false;
        return false;
    }
    s.readError.clear();
    if (b.overrun) {
        const QString what = QString::fromLatin1(s.stream->name());
        printLine(b.lost > 0
                      ? QStringLiteral("the ring went past the last %1 published: at least %2 rows were overwritten "
                                       "before they could be published; going on from the oldest row kept")
                            .arg(what)
                            .arg(b.lost)
                      : QStringLiteral("the row of the last %1 published is gone (another database?); going on "
                                       "from the oldest row kept")
                            .arg(what));
        if (b.messages.empty())
            s.cursor = Position{};
    }
    s.more = int(b.messages.size()) == kBatch;
    if (!b.messages.empty())
        s.cursor = b.messages.back().position;
    for (Message &m : b.messages)
        s.pending.push_back(std::move(m));
    return !s.pending.empty();
}

void Publisher::pump(Clock::time_point now, bool pollDue)
{
    // The streams take turns at going first: the bucket's tokens are shared,
    // and a stream far behind (the samples after a long outage) would
    // otherwise take them all until it had caught up.
    const std::size_t count = m_streams.size();
    const std::size_t first = m_firstStream;
    m_firstStream = count == 0 ? 0 : (m_firstStream + 1) % count;
    for (std::size_t i = 0; i < count; ++i) {
        StreamState &s = m_streams[(first + i) % count];
        if (!start(s))
            continue;
        while (int(s.inFlight.size()) < kWindow) {
            if (s.pending.empty() && !fill(s, pollDue))
                break;
            if (!takeToken(now))
                break;
            const int mid = m_client.publish(s.topic, s.pending.front().payload, false);
            if (mid < 0)
                return;  // the connection is going; run() says so next
            s.inFlight.push_back(InFlight{mid, s.pending.front().position, false});
            s.pending.pop_front();
        }
    }
    if (pollDue)
        publishStatus(false);
}

void Publisher::publishStatus(bool force)
{
    const StationStatus status = m_status();
    if (!force && m_published && *m_published == status)
        return;
    const int mid = m_client.publish(m_statusTopic, onlinePayload(status), true);
    if (mid < 0)
        return;
    m_published = status;
    m_statusMid = mid;
    m_statusAcknowledged = false;
}

void Publisher::acknowledge(int mid)
{
    if (mid == m_statusMid) {
        m_statusAcknowledged = true;
        m_statusMid = -1;
        return;
    }
    for (StreamState &s : m_streams) {
        const auto it = std::find_if(s.inFlight.begin(), s.inFlight.end(),
                                     [mid](const InFlight &f) { return f.mid == mid; });
        if (it == s.inFlight.end())
            continue;
        it->acknowledged = true;
        while (!s.inFlight.empty() && s.inFlight.front().acknowledged) {
            s.acknowledged = s.inFlight.front().position;
            s.inFlight.pop_front();
            m_dirty = true;
        }
        return;
    }
}

bool Publisher::busy() const
{
    return std::any_of(m_streams.begin(), m_streams.end(), [](const StreamState &s) { return !s.inFlight.empty(); });
}

bool Publisher::takeToken(Clock::time_point now)
{
    if (m_settings.rate <= 0)
        return true;
    const double capacity = std::max(1.0, m_settings.rate / 10);
    const double elapsed = std::chrono::duration<double>(now - m_tokensAt).count();
    m_tokens = std::min(capacity, m_tokens + elapsed * m_settings.rate);
    m_tokensAt = now;
    if (m_tokens < 1)
        return false;
    m_tokens -= 1;
    return true;
}

milliseconds Publisher::untilToken(Clock::time_point now) const
{
    if (m_settings.rate <= 0)
        return milliseconds(0);
    const double elapsed = std::chrono::duration<double>(now - m_tokensAt).count();
    const double missing = 1 - (m_tokens + elapsed * m_settings.rate);
    return missing <= 0 ? milliseconds(0) : milliseconds(qint64(missing / m_settings.rate * 1000) + 1);
}

int Publisher::timeoutMs(Clock::time_point now) const
{
    const milliseconds poll(m_settings.pollMs);
    if (m_client.state() != MqttClient::State::Connected)
        return int(poll.count());
    milliseconds wait = std::max(milliseconds(0), duration_cast<milliseconds>(m_nextPoll - now));
    for (const StreamState &s : m_streams) {
        if (int(s.inFlight.size()) < kWindow && (!s.pending.empty() || s.more))
            wait = std::min(wait, untilToken(now));
    }
    return int(std::clamp(wait, milliseconds(0), poll).count());
}

void Publisher::save(bool force)
{
    if (!m_dirty && !force)
        return;
    const Clock::time_point now = Clock::now();
    if (!force && busy() && now - m_savedAt < kSaveEvery)
        return;
    Positions positions;
    for (const StreamState &s : m_streams)
        if (s.acknowledged)
            positions.insert(s.stream->name(), *s.acknowledged);
    QString error;
    if (!writeStateFile(m_settings.statePath, positions, &error)) {
        if (error != m_saveError)
            printLine(QStringLiteral("cannot write %1: %2").arg(m_settings.statePath, error));
        m_saveError = error;
    } else {
        m_saveError.clear();
    }
    m_dirty = false;
    m_savedAt = now;
}

} // namespace station::publish
