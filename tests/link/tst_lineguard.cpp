// The line guard on a virtual line at 9600 baud, in virtual time: a controller
// that takes one request at a time and answers each `late` after it took it,
// every reply naming its request. The station's side is what the libmodbus
// backend does around each exchange: wait until in step, drop what already
// arrived, send, take the first reply that comes within the time-out.
#include "link/lineguard.h"

#include "tests/support/testenv.h"

#include <QtTest>

#include <deque>
#include <optional>

using namespace station::link;
using namespace std::chrono_literals;
using std::chrono::milliseconds;

namespace {

// 9600 baud: 45 characters of a 16-register exchange take 52 ms, plus 500.
constexpr LineTimes k9600{552ms, 500ms};
constexpr milliseconds kReplyWire{42}; // 37 bytes at 1.146 ms

class VirtualLine final : public QuietLine {
public:
    explicit VirtualLine(milliseconds late)
        : m_late(late)
    {
    }

    LineClock::time_point now() const override { return m_t; }

    Result dropUntil(LineClock::time_point until) override
    {
        if (!m_wire.empty() && m_wire.front().at <= until) {
            const LineClock::time_point at = std::max(m_t, m_wire.front().at);
            m_wire.pop_front();
            m_t = at + kReplyWire; // read to its last byte
            return {Heard::Bytes, at};
        }
        m_t = std::max(m_t, until);
        return {};
    }

    // One exchange as libmodbus makes it: what already arrived is flushed, the
    // request goes out, the first reply to arrive within the time-out is the
    // answer. Returns the request that answer names.
    std::optional<int> exchange(int request, milliseconds timeout)
    {
        while (!m_wire.empty() && m_wire.front().at <= m_t)
            m_wire.pop_front();
        const LineClock::time_point taken = std::max(m_t, m_controllerFree);
        m_controllerFree = taken + m_late + kReplyWire;
        m_wire.push_back({taken + m_late, request});
        if (m_wire.front().at <= m_t + timeout) {
            const Reply r = m_wire.front();
            m_wire.pop_front();
            m_t = std::max(m_t, r.at) + kReplyWire;
            return r.request;
        }
        m_t += timeout;
        return std::nullopt;
    }

private:
    struct Reply {
        LineClock::time_point at;
        int request;
    };
    milliseconds m_late;
    LineClock::time_point m_t{};
    LineClock::time_point m_controllerFree{};
    std::deque<Reply> m_wire;
};

struct Run {
    int answered = 0;         // replies taken as answers
    int misplaced = 0;        // ... that named another request
    int firstAnswered = -1;   // the first request answered with its own reply
    int failedAfterIt = 0;    // requests failed after that one
    milliseconds spent{0};
};

Run run(LineGuard &guard, milliseconds late, int requests)
{
    VirtualLine line(late);
    Run r;
    for (int n = 0; n < requests; ++n) {
        guard.waitUntilInStep(line);
        guard.sending(line.now());
        const std::optional<int> who = line.exchange(n, guard.timeout());
        if (!who) {
            guard.timedOut(line.now());
            if (r.firstAnswered >= 0)
                ++r.failedAfterIt;
            continue;
        }
        guard.answered(line.now());
        ++r.answered;
        if (*who != n)
            ++r.misplaced;
        else if (r.firstAnswered < 0)
            r.firstAnswered = n;
    }
    r.spent = std::chrono::duration_cast<milliseconds>(line.now() - LineClock::time_point{});
    return r;
}

} // namespace

class TestLineGuard : public QObject {
    Q_OBJECT

private slots:
    void figuresAt9600()
    {
        const LineGuard guard(k9600);
        QCOMPARE(guard.timeout(), 552ms);
        QCOMPARE(guard.cap(), 2208ms);
        QCOMPARE(guard.horizon(), 3864ms);
    }

    // A controller late by the same time on every reply, twelve reads of one
    // shape. Up to the horizon no reply is taken for another request's; up to
    // the cap the reads succeed from the second on; past the cap they fail.
    void everyAnswerBelongsToItsRequest_data()
    {
        QTest::addColumn<int>("lateMs");
        QTest::addColumn<bool>("read");       // every read from the second on succeeds
        QTest::addColumn<bool>("misplaced");  // some reply lands in another request's exchange
        QTest::newRow("in time, 40 ms") << 40 << true << false;
        QTest::newRow("just after the base time-out, 600 ms") << 600 << true << false;
        QTest::newRow("1.2 s late") << 1200 << true << false;
        QTest::newRow("3 T0 late, 1656 ms") << 1656 << true << false;
        QTest::newRow("2.1 s, below the cap") << 2100 << true << false;
        QTest::newRow("3 s, past the cap") << 3000 << false << false;
        QTest::newRow("3.8 s, inside the horizon") << 3800 << false << false;
        // The comment's limit is the real one: past the horizon a reply can
        // land in the next exchange.
        QTest::newRow("4.2 s, past the horizon") << 4200 << false << true;
    }

    void everyAnswerBelongsToItsRequest()
    {
        QFETCH(int, lateMs);
        QFETCH(bool, read);
        QFETCH(bool, misplaced);
        LineGuard guard(k9600);
        const Run r = run(guard, milliseconds(lateMs), 12);
        QCOMPARE(r.misplaced > 0, misplaced);
        if (read) {
            QVERIFY2(r.firstAnswered >= 0 && r.firstAnswered <= 1, qPrintable(QString::number(r.firstAnswered)));
            QCOMPARE(r.failedAfterIt, 0);
        } else if (!misplaced) {
            QCOMPARE(r.answered, 0);
            // The reads fail, and the time-out has grown as far as it goes.
            QCOMPARE(guard.timeout(), guard.cap());
            QVERIFY(guard.lastLateness() >= guard.cap());
        }
    }

    // At 1.2 s: the first read times out, its reply comes while the line
    // waits, the time-out grows to the lateness plus the base, and the next
    // request goes out at the horizon.
    void theTimeoutFollowsTheLatenessSeen()
    {
        LineGuard guard(k9600);
        VirtualLine line(1200ms);
        guard.sending(line.now());
        QVERIFY(!line.exchange(0, guard.timeout()));
        guard.timedOut(line.now());
        QVERIFY(!guard.inStep());
        guard.waitUntilInStep(line);
        QCOMPARE(guard.lastLateness(), 1200ms);
        QCOMPARE(guard.timeout(), 1752ms);
        QCOMPARE(line.now() - LineClock::time_point{}, LineClock::duration(3864ms));
        QCOMPARE(guard.lateReplies(), std::uint64_t(1));
    }

    // Replies in time again: the time-out comes back down, slowly.
    void theTimeoutComesBackDownSlowly()
    {
        LineGuard guard(k9600);
        run(guard, 1200ms, 3);
        // Replies 1.2 s late keep it near 1.2 s + wire + margin.
        QVERIFY2(guard.timeout() >= 1742ms, qPrintable(QString::number(guard.timeout().count())));
        const Run quick = run(guard, 40ms, 6);
        QCOMPARE(quick.failedAfterIt, 0);
        QVERIFY2(guard.timeout() > 1200ms, qPrintable(QString::number(guard.timeout().count())));
        run(guard, 40ms, 80);
        QVERIFY2(guard.timeout() < 600ms, qPrintable(QString::number(guard.timeout().count())));
    }

    // A silent line: every exchange holds the line for the horizon.
    void aSilentLineCostsTheHorizonAnExchange()
    {
        LineGuard guard(k9600);
        const Run r = run(guard, 3600s, 3);
        QCOMPARE(r.answered, 0);
        // Two exchanges waited for their horizons; the third timed out after one base.
        QCOMPARE(r.spent, 2 * 3864ms + 552ms);
        QCOMPARE(guard.timeout(), 552ms);
    }
};

STATION_TEST_MAIN_CORE(TestLineGuard)
#include "tst_lineguard.moc"
