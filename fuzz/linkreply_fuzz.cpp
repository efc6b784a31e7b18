// Fuzz target: the station's side of the serial line. The seven link
// operations run over the libmodbus backend on a real pseudo-terminal, and the
// fuzzer's bytes are what the "controller" answers.
//
// Set-up (once): a pseudo-terminal pair; its slave linked as
// <data folder>/serial/com1 in a temporary data folder; port 1 opened at
// 19200 baud, no parity. For each exchange a line thread waits for the
// station's request on the master side and then writes the fuzzed reply.
//
// Input: up to four exchanges, each
//   byte 0  operation: 0 Get_3X_DX, 1 Get_4X_DX, 2 Get_1X_B16, 3 Get_0X_B16,
//           4 Set_4X_D1, 5 OpenPort_Modbus, 6 ClosePort_Modbus (modulo 7)
//   byte 1  flags: 1 put the right CRC in the reply's last two bytes,
//           2 use port 2 (never opened), 4 write the reply in two parts 3 ms
//           apart, 8 first register/point beyond 0xFFFF, 16 negative,
//           32 a write value beyond 16 bits (refused unsent), 64 build the reply (below)
//   byte 2  station address (0..255)
//   byte 3-4 first register or point, high byte first
//   byte 5-6 count (byte 5) for a register read; the value for a write; baud
//           code (byte 5 % 4) and parity code (byte 6 % 4) for an open
//   byte 7  reply length n, then n reply bytes
// With flag 64 the reply is built for the request instead: the well-formed
// answer to it (station, function, byte count, the n bytes as its data, zeros
// when short, its CRC), so even a 16-register read gets a whole 37-byte reply;
// then byte 8 gives up to 4 mutations of 2 bytes each (position in the reply,
// a value xored into it), and flag 1 puts the right CRC back afterwards.
// After the input, port 1 is opened again at 19200 baud when the input left it
// otherwise.
//
// Properties of every call:
//  - it returns within a bound (a wait for the horizon and a quiet line, one
//    response time-out and one byte time-out, far below 3 s);
// The calls go through the link thread (link/linkthread.h) like every call of
// the station. The port's response time-out margin is 50 ms here, not 500
// (setReplyMargin): this controller answers at once or never, and the shorter
// waits (a base time-out of 76 ms, a horizon of 532 ms) keep the target at
// tens of inputs a second.
//  - its result is one of the documented codes;
//  - a failed read leaves the buffer untouched; a good one fills exactly its
//    slots, registers within the 16-bit signed range, point bytes 0..255;
//  - when the arguments and the port allow an exchange, the request on the
//    line is exactly the Modbus RTU frame of the call; otherwise nothing is sent;
//  - after an exchange the controller did not answer at all, the next request
//    goes out only once the horizon (7 base time-outs after the request that
//    failed, link/lineguard.h) has passed, "关闭" and "打开" in between or not,
//    so a late reply cannot be taken for its answer;
//  - when the reply was written in time (station 1..247): a read succeeds
//    exactly when the reply starts with the well-formed answer, and then
//    returns its values; a write succeeds on the echo of its request, and
//    fails on a reply with a wrong CRC, an exception or no answer at all.
#include "fuzz/fuzzcheck.h"
#include "link/libmodbusbackend.h"
#include "link/lineguard.h"
#include "link/modbusrtu.h"
#include "link/portpath.h"

#include "common/datadir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using station::fuzz::Input;
using namespace station::link;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr std::int32_t kPort = 1;
constexpr std::int32_t kNeverOpened = 2;
constexpr std::int32_t kBaudCode = 2;   // 19200
constexpr std::int32_t kParityCode = 0; // none
constexpr int kExchanges = 4;
constexpr std::size_t kRequestBytes = 8; // every request here: 6 bytes + CRC
constexpr auto kCallBound = 3s;
constexpr auto kFuzzReplyMargin = 50ms;
// A reply written later than this after the request may have missed the
// response time-out (76 ms at 19200 baud) on a loaded machine, and a split
// reply whose second part came later than kInTimeGap after the first may have
// missed the byte time-out (20 ms); such an exchange is held to the weak
// properties only.
constexpr auto kInTime = 40ms;
constexpr auto kInTimeGap = 12ms;
constexpr std::int32_t kSentinel = 0x5A5A5A5A;

enum class Op { InputRegisters, HoldingRegisters, DiscreteInputs, Coils, Write, Open, Close };

struct Line {
    int master = -1;
    int keepAlive = -1; // an open slave keeps the pair alive while the port is closed
    QString dataHome;
    QString link;
} g_line;

std::uint16_t crc16(const std::uint8_t *p, std::size_t n)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

bool crcOk(const std::uint8_t *frame, std::size_t n)
{
    if (n < 3)
        return false;
    const std::uint16_t crc = crc16(frame, n - 2);
    return frame[n - 2] == (crc & 0xFF) && frame[n - 1] == (crc >> 8);
}

std::vector<std::uint8_t> frame(std::initializer_list<int> bytes)
{
    std::vector<std::uint8_t> f;
    for (int b : bytes)
        f.push_back(std::uint8_t(b));
    const std::uint16_t crc = crc16(f.data(), f.size());
    f.push_back(std::uint8_t(crc & 0xFF));
    f.push_back(std::uint8_t(crc >> 8));
    return f;
}

void cleanUp()
{
    ClosePort_Modbus(kPort);
    QFile::remove(g_line.link);
    if (!g_line.dataHome.isEmpty())
        QDir(g_line.dataHome).removeRecursively();
}

void drainMaster()
{
    std::uint8_t scratch[512];
    pollfd p{g_line.master, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN))
        if (::read(g_line.master, scratch, sizeof scratch) <= 0)
            break;
}

struct Served {
    std::vector<std::uint8_t> request;
    bool replied = false;
    Clock::duration delay{}; // from the request's last byte to the reply's last byte
    Clock::duration gap{};   // between the two parts of a split reply
    Clock::time_point lastByte{};
    Clock::time_point requestAt{}; // when the request's last byte was read
};

// The controller's side of one exchange: wait for a whole request (or for the
// call to end without one), then answer.
void serve(const std::vector<std::uint8_t> &reply, bool split, const std::atomic<bool> &callDone, Served &out)
{
    const auto deadline = Clock::now() + kCallBound;
    std::uint8_t buf[kRequestBytes];
    while (out.request.size() < kRequestBytes && Clock::now() < deadline) {
        pollfd p{g_line.master, POLLIN, 0};
        const bool ended = callDone.load();
        const int ready = ::poll(&p, 1, ended ? 0 : 2);
        if (ready > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(g_line.master, buf, kRequestBytes - out.request.size());
            if (n <= 0)
                break;
            out.request.insert(out.request.end(), buf, buf + n);
        } else if (ended) {
            break;
        }
    }
    if (out.request.size() < kRequestBytes)
        return;
    const auto seen = Clock::now();
    out.requestAt = seen;
    std::size_t first = split ? reply.size() / 2 : reply.size();
    if (first > 0 && ::write(g_line.master, reply.data(), first) != ssize_t(first))
        return;
    if (first < reply.size()) {
        const auto firstWritten = Clock::now();
        std::this_thread::sleep_for(3ms);
        const std::size_t rest = reply.size() - first;
        if (::write(g_line.master, reply.data() + first, rest) != ssize_t(rest))
            return;
        out.gap = Clock::now() - firstWritten;
    }
    out.replied = true;
    out.lastByte = Clock::now();
    out.delay = out.lastByte - seen;
}

// What the harness knows of port 1.
struct PortModel {
    enum State { Open, Unusable, Closed } state = Open; // Unusable: opened with a bad code
    std::int32_t baudCode = kBaudCode;
    std::int32_t parityCode = kParityCode;
    // After a failed exchange the link waits before its next request ("out
    // of step", link/lineguard.h): after a time-out until the horizon of the
    // request that failed has passed, after a reply that did not fit until the
    // line has been quiet. Whether a failure sure to put it out of step came
    // last: a time-out, the controller having answered nothing to a request
    // to one station. Other failures may or may not (an exception reply does
    // not). The port's line keeps this through a close and an open.
    bool mayBeOutOfStep = false;
    bool surelyOutOfStep = false;
    Clock::time_point horizonEnd{}; // no request before it after a time-out
} g_model;

struct Exchange {
    Op op;
    std::uint8_t flags;
    std::int32_t station;
    std::int32_t first;
    std::int32_t count;
    std::int32_t value;
    std::int32_t baudCode;
    std::int32_t parityCode;
    std::int32_t port;
    std::vector<std::uint8_t> reply;
};

Exchange exchangeFrom(Input &in)
{
    Exchange e{};
    e.op = Op(in.byte() % 7);
    e.flags = in.byte();
    e.station = in.byte();
    const std::uint8_t hi = in.byte(), lo = in.byte();
    e.first = (hi << 8) | lo;
    if (e.flags & 8)
        e.first += 0x10000;
    if (e.flags & 16)
        e.first = -1 - e.first;
    const std::uint8_t p1 = in.byte(), p2 = in.byte();
    e.count = p1;
    e.value = std::int16_t(std::uint16_t((p1 << 8) | p2));
    if (e.flags & 32)
        e.value += 0x12340000;
    e.baudCode = p1 % 4;
    e.parityCode = p2 % 4;
    e.port = (e.flags & 2) ? kNeverOpened : kPort;
    std::size_t got = 0;
    const std::uint8_t *bytes = in.takeBytes(in.byte(), &got);
    e.reply.assign(bytes, bytes + got);
    if (e.flags & 64) {
        // The well-formed answer to the request, its data from the bytes.
        const bool isBits = e.op == Op::DiscreteInputs || e.op == Op::Coils;
        const int fn = e.op == Op::InputRegisters ? 0x04 : e.op == Op::HoldingRegisters ? 0x03
                       : e.op == Op::DiscreteInputs ? 0x02 : e.op == Op::Coils ? 0x01 : 0x06;
        std::vector<std::uint8_t> built{std::uint8_t(e.station), std::uint8_t(fn)};
        if (e.op == Op::Write) {
            const std::uint16_t word = std::uint16_t(e.value);
            built.insert(built.end(), {std::uint8_t((e.first >> 8) & 0xFF), std::uint8_t(e.first & 0xFF),
                                       std::uint8_t(word >> 8), std::uint8_t(word & 0xFF)});
        } else {
            const std::size_t dataBytes = isBits ? 2 : 2 * std::size_t(std::clamp(e.count, 0, 125));
            built.push_back(std::uint8_t(dataBytes));
            for (std::size_t i = 0; i < dataBytes; ++i)
                built.push_back(i < e.reply.size() ? e.reply[i] : 0);
        }
        const std::uint16_t crc = crc16(built.data(), built.size());
        built.push_back(std::uint8_t(crc & 0xFF));
        built.push_back(std::uint8_t(crc >> 8));
        const int mutations = in.byte() % 5;
        for (int m = 0; m < mutations; ++m) {
            const std::size_t at = in.byte() % built.size();
            built[at] ^= in.byte();
        }
        e.reply = std::move(built);
    }
    if ((e.flags & 1) && e.reply.size() >= 3) {
        const std::uint16_t crc = crc16(e.reply.data(), e.reply.size() - 2);
        e.reply[e.reply.size() - 2] = std::uint8_t(crc & 0xFF);
        e.reply[e.reply.size() - 1] = std::uint8_t(crc >> 8);
    }
    return e;
}

QString describe(const Exchange &e, std::int32_t result, const Served &served, const QString &what)
{
    auto hex = [](const std::vector<std::uint8_t> &bytes) {
        QString s;
        for (std::uint8_t b : bytes)
            s += QStringLiteral("%1 ").arg(b, 2, 16, QLatin1Char('0'));
        return s.trimmed();
    };
    return QStringLiteral("operation %1 port %2 station %3 first %4 count %5 value %6 -> %7; "
                          "request [%8]; reply [%9]%10: %11")
        .arg(int(e.op)).arg(e.port).arg(e.station).arg(e.first).arg(e.count).arg(e.value).arg(result)
        .arg(hex(served.request), hex(e.reply), served.replied ? QString() : QStringLiteral(" not written"), what);
}

void run(const Exchange &e)
{
    std::array<std::int32_t, 130> buffer;
    buffer.fill(kSentinel);

    const bool isRead = e.op <= Op::Coils;
    const bool isBits = e.op == Op::DiscreteInputs || e.op == Op::Coils;
    const bool argumentsOk = isBits ? (e.first >= 0 && e.first <= 0xFFFF - 15)
                             : isRead ? (e.first >= 0 && e.first <= 0xFFFF && e.count >= 1 && e.count <= 125)
                             : e.op == Op::Write ? (e.first >= 0 && e.first <= 0xFFFF && e.value >= kWriteMin
                                                    && e.value <= kWriteMax)
                                                 : true;
    const bool exchanges = (isRead || e.op == Op::Write) && argumentsOk && e.port == kPort
                           && g_model.state == PortModel::Open && e.station >= 0 && e.station <= 247;
    const bool mustWaitForHorizon = exchanges && g_model.surelyOutOfStep;
    const auto horizonEnd = g_model.horizonEnd;

    drainMaster();
    std::atomic<bool> callDone{false};
    Served served;
    std::thread line(serve, std::cref(e.reply), (e.flags & 4) != 0, std::cref(callDone), std::ref(served));
    const auto start = Clock::now();
    std::int32_t result = 0;
    switch (e.op) {
    case Op::InputRegisters: result = Get_3X_DX(e.port, e.station, e.first, e.count, buffer.data()); break;
    case Op::HoldingRegisters: result = Get_4X_DX(e.port, e.station, e.first, e.count, buffer.data()); break;
    case Op::DiscreteInputs: result = Get_1X_B16(e.port, e.station, e.first, buffer.data()); break;
    case Op::Coils: result = Get_0X_B16(e.port, e.station, e.first, buffer.data()); break;
    case Op::Write: result = Set_4X_D1(e.port, e.station, e.first, e.value); break;
    case Op::Open: result = OpenPort_Modbus(kPort, e.baudCode, e.parityCode); break;
    case Op::Close: result = ClosePort_Modbus(e.port); break;
    }
    const auto returned = Clock::now();
    const auto elapsed = returned - start;
    callDone = true;
    line.join();
    if (exchanges && !served.request.empty()) {
        // The link sent: it was in step. A failure may put it out of step.
        g_model.mayBeOutOfStep = result != kOk;
        g_model.surelyOutOfStep = result != kOk && e.station >= 1 && e.station <= 247
                                  && (!served.replied || e.reply.empty());
        // The link sent a little before this side read the request.
        g_model.horizonEnd = served.requestAt + responseTimeout(g_model.baudCode) * LineGuard::kHorizonFactor;
    }
    auto why = [&](const char *what) { return describe(e, result, served, QLatin1String(what)); };

    FUZZ_REQUIRE(elapsed < kCallBound, why("the call blocked too long"));

    if (e.op == Op::Open) {
        const bool good = e.baudCode <= 2 && e.parityCode <= 2;
        FUZZ_REQUIRE(result == (good ? kOk : kReadFailed), why("wrong open result"));
        g_model.state = good ? PortModel::Open : PortModel::Unusable;
        g_model.baudCode = e.baudCode;
        g_model.parityCode = e.parityCode;
        FUZZ_REQUIRE(served.request.empty(), why("opening sent bytes"));
        return;
    }
    if (e.op == Op::Close) {
        FUZZ_REQUIRE(result == kOk, why("wrong close result"));
        if (e.port == kPort)
            g_model.state = PortModel::Closed; // the line stays out of step, if it was
        FUZZ_REQUIRE(served.request.empty(), why("closing sent bytes"));
        return;
    }

    const std::int32_t failed = isRead ? kReadFailed : kWriteFailed;
    FUZZ_REQUIRE(result == kOk || result == failed, why("result is no documented code"));
    const std::size_t filled = isBits ? 2 : isRead ? std::size_t(std::max(e.count, 0)) : 0;
    if (result == kOk) {
        FUZZ_REQUIRE(exchanges, why("succeeded without an exchange"));
        for (std::size_t i = 0; i < filled; ++i) {
            const std::int32_t v = buffer[i];
            FUZZ_REQUIRE(isBits ? (v >= 0 && v <= 255) : (v >= -32768 && v <= 32767), why("slot out of range"));
        }
    }
    for (std::size_t i = result == kOk ? std::min(filled, buffer.size()) : 0; i < buffer.size(); ++i)
        FUZZ_REQUIRE(buffer[i] == kSentinel, why("buffer touched beyond the result"));

    if (!exchanges) {
        FUZZ_REQUIRE(result == failed, why("an impossible call did not fail"));
        FUZZ_REQUIRE(served.request.empty(), why("bytes sent for an impossible call"));
        return;
    }
    if (mustWaitForHorizon && !served.request.empty()) {
        // The horizon counts from when the link sent the failed request, a
        // little before this side read it; the slack covers that and a loaded
        // machine.
        constexpr auto kSlack = 40ms;
        FUZZ_REQUIRE(served.requestAt + kSlack >= horizonEnd,
                     why("a request went out before the horizon of the request that timed out"));
    }

    const int fn = e.op == Op::InputRegisters   ? 0x04
                   : e.op == Op::HoldingRegisters ? 0x03
                   : e.op == Op::DiscreteInputs   ? 0x02
                   : e.op == Op::Coils            ? 0x01
                                                  : 0x06;
    const int quantity = isBits ? 16 : e.count;
    const std::uint16_t word = std::uint16_t(e.op == Op::Write ? e.value : quantity);
    const std::vector<std::uint8_t> request =
        frame({e.station, fn, (e.first >> 8) & 0xFF, e.first & 0xFF, word >> 8, word & 0xFF});
    FUZZ_REQUIRE(served.request == request, why("the request is not the call's frame"));

    if (e.station == 0 || !served.replied || served.delay > kInTime || served.gap > kInTimeGap)
        return; // broadcast, or a reply that may have come late: weak properties only

    const std::vector<std::uint8_t> &reply = e.reply;
    const std::size_t expectedLength = e.op == Op::Write ? 8 : 5 + 2 * std::size_t(isBits ? 1 : e.count);
    const bool whole = reply.size() >= expectedLength;
    const bool header = whole && reply[0] == e.station && reply[1] == fn
                        && (e.op == Op::Write || reply[2] == expectedLength - 5);
    const bool crc = whole && crcOk(reply.data(), expectedLength);
    const bool exception = reply.size() >= 5 && reply[0] == e.station && reply[1] == (fn | 0x80)
                           && crcOk(reply.data(), 5);
    if (isRead) {
        const bool wellFormed = header && crc;
        FUZZ_REQUIRE((result == kOk) == wellFormed,
                     why(wellFormed ? "a well-formed reply was refused" : "a malformed reply was taken"));
        if (result == kOk)
            for (std::size_t i = 0; i < filled; ++i) {
                const std::int32_t expected = isBits ? reply[3 + i]
                                                     : std::int16_t(std::uint16_t((reply[3 + 2 * i] << 8) | reply[4 + 2 * i]));
                FUZZ_REQUIRE(buffer[i] == expected, why("a value is not the reply's"));
            }
        return;
    }
    const bool echo = whole && std::equal(request.begin(), request.end(), reply.begin());
    if (echo)
        FUZZ_REQUIRE(result == kOk, why("the echo of the write was refused"));
    if (reply.empty() || exception || (header && !crc))
        FUZZ_REQUIRE(result == kWriteFailed, why("a failed write was taken as written"));
    if (result == kOk)
        FUZZ_REQUIRE(header && crc, why("a malformed write reply was taken"));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    static int argc = 1;
    static char name[] = "fuzz_linkreply";
    static char *argv[] = {name, nullptr};
    QByteArray home = QDir::tempPath().toLocal8Bit() + "/station-fuzz-XXXXXX";
    if (!::mkdtemp(home.data()))
        station::fuzz::fail("mkdtemp", QStringLiteral("cannot make a data folder"));
    g_line.dataHome = QString::fromLocal8Bit(home);
    qputenv("XDG_DATA_HOME", home);
    new QCoreApplication(argc, argv); // lives until the process ends
    station::useStationApplicationName();

    g_line.master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (g_line.master < 0 || ::grantpt(g_line.master) != 0 || ::unlockpt(g_line.master) != 0)
        station::fuzz::fail("posix_openpt", QStringLiteral("no pseudo-terminal"));
    const QString slave = QString::fromLocal8Bit(::ptsname(g_line.master));
    g_line.keepAlive = ::open(slave.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    termios raw{};
    if (g_line.keepAlive < 0 || ::tcgetattr(g_line.keepAlive, &raw) != 0)
        station::fuzz::fail("open slave", slave);
    ::cfmakeraw(&raw);
    ::tcsetattr(g_line.keepAlive, TCSANOW, &raw);

    g_line.link = portLinkPath(kPort);
    QDir().mkpath(QFileInfo(g_line.link).path());
    if (!QFile::link(slave, g_line.link))
        station::fuzz::fail("link", g_line.link);
    setReplyMargin(kFuzzReplyMargin);
    if (OpenPort_Modbus(kPort, kBaudCode, kParityCode) != kOk)
        station::fuzz::fail("OpenPort_Modbus", g_line.link);
    // After the first call made the backend: exit handlers run in reverse, so
    // the port is closed before the backend goes.
    std::atexit(cleanUp);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(data, size);
    for (int i = 0; i < kExchanges && !in.empty(); ++i)
        run(exchangeFrom(in));
    if (g_model.state != PortModel::Open || g_model.baudCode != kBaudCode || g_model.parityCode != kParityCode) {
        OpenPort_Modbus(kPort, kBaudCode, kParityCode);
        // Reopening keeps the line's guard, and with it whether it is in step.
        const PortModel before = g_model;
        g_model = PortModel{};
        g_model.mayBeOutOfStep = before.mayBeOutOfStep;
        g_model.surelyOutOfStep = before.surelyOutOfStep;
        g_model.horizonEnd = before.horizonEnd;
    }
    return 0;
}
