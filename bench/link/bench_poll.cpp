// One polling cycle (Poller::runCycle, nine reads through the link library)
// against the controller simulator on a pseudo-terminal, beside the same nine
// reads issued straight through libmodbus on the same line, in one run.
//
//   bench_poll [--long]
//
// Three lines are measured, each with the two sides taking turns cycle by cycle
// (the order swaps every pair, so neither side always follows the other):
//   pty      the simulator answers at once: what the link layer costs over
//            bare libmodbus (aim: poller / bare within 1.1);
//   9600 8E1 the simulator holds every reply back as long as a real line of
//   19200 8E1 that format needs (sim/wiretiming.h): cycle time over the wire
//            bound below (aim 1.15) and over the bare loop (aim 1.05).
// The default run takes well under a minute; --long takes ten times the cycles.
//
// The wire bound. Every character is 11 bits (start, 8 data, parity, stop).
// An exchange puts its request and its reply on the line and each frame is
// followed by a 3.5-character silence before the next frame may start, so an
// exchange costs request + reply + 7 characters. The nine exchanges of a cycle:
//
//   exchange                 request  reply           characters
//   input 1, 8 registers         8    3 + 16 + 2 = 21    29 + 7 = 36
//   input 4097, 16 registers     8    3 + 32 + 2 = 37    45 + 7 = 52
//   holding 1, 8                 8    21                 36
//   holding 4097, 16             8    37                 52
//   holding 4113, 16             8    37                 52
//   holding 4129, 16             8    37                 52
//   holding 257, 8               8    21                 36
//   discrete 1, 16 points        8    3 + 2 + 2 = 7      15 + 7 = 22
//   coils 1, 16 points           8    7                  22
//                                                 total 360 characters
//
//   9600 baud:  360 x 11 bits / 9600 bit/s  = 412.50 ms
//   19200 baud: 360 x 11 bits / 19200 bit/s = 206.25 ms
//
// The bound leaves out the controller's own turnaround; the simulator has none
// beyond what the pty and its thread add, which is the overhead measured here.
#include "common/datadir.h"
#include "link/libmodbusbackend.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/portpath.h"
#include "link/registerimage.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <modbus.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPort = 1;
constexpr int kStation = 1;
constexpr int kBitsPerChar = 11;
constexpr double kGapChars = 3.5;
constexpr int kLongFactor = 10;

struct Exchange {
    int first;
    int count;
    int requestBytes;
    int replyBytes;
};

// The nine exchanges of one cycle, in the poller's order (link/poller.h).
enum class Kind { Input, Holding, Discrete, Coil };
struct Read {
    Kind kind;
    Exchange exchange;
};
constexpr int kRequestBytes = 8;  // address, function, first (2), count (2), CRC (2)
constexpr int registerReply(int count) { return 3 + 2 * count + 2; }
constexpr int bitReply(int points) { return 3 + (points + 7) / 8 + 2; }

constexpr std::array<Read, 9> kCycle{{
    {Kind::Input, {station::reg::kInputFirst, 8, kRequestBytes, registerReply(8)}},
    {Kind::Input, {station::reg::kProgramStatusFirst, 16, kRequestBytes, registerReply(16)}},
    {Kind::Holding, {station::reg::kHoldingFirst, 8, kRequestBytes, registerReply(8)}},
    {Kind::Holding, {station::reg::kParamFirst, 16, kRequestBytes, registerReply(16)}},
    {Kind::Holding, {station::reg::kParamFirst + 16, 16, kRequestBytes, registerReply(16)}},
    {Kind::Holding, {station::reg::kParamFirst + 32, 16, kRequestBytes, registerReply(16)}},
    {Kind::Holding, {station::reg::kAlarmFirst, 8, kRequestBytes, registerReply(8)}},
    {Kind::Discrete, {station::reg::kPointFirst, 16, kRequestBytes, bitReply(16)}},
    {Kind::Coil, {station::reg::kPointFirst, 16, kRequestBytes, bitReply(16)}},
}};

constexpr int cycleCharacters()
{
    int chars = 0;
    for (const Read &r : kCycle)
        chars += r.exchange.requestBytes + r.exchange.replyBytes;
    return chars;
}
static_assert(cycleCharacters() == 297, "see the table at the top");

double wireBoundMs(int baud)
{
    const double chars = cycleCharacters() + 2 * kGapChars * double(kCycle.size());
    return chars * kBitsPerChar * 1000.0 / baud;
}

// The same nine reads through libmodbus alone: one context on the port's path,
// the station's time-outs, no widening, packing or flushing.
//
// Framing: a pty has no parity bit. The kernel drops PARENB and glibc's
// tcsetattr() reports that as EINVAL unless something else changed, so a
// second context asking for even parity on a pty the station already set up
// cannot connect. The bare side therefore always opens 8N2; the client code of
// libmodbus does not depend on the framing, and the time a reply takes is the
// simulator's, which emulates the line format it is given.
class BareLoop {
public:
    ~BareLoop() { close(); }

    bool open(const QString &path, int baudCode)
    {
        close();
        m_ctx = modbus_new_rtu(QFile::encodeName(path).constData(), station::link::baudRate(baudCode), 'N', 8, 2);
        if (!m_ctx)
            return false;
        modbus_set_slave(m_ctx, kStation);
        modbus_set_response_timeout(m_ctx, 0, std::uint32_t(station::link::responseTimeout(baudCode).count() * 1000));
        modbus_set_byte_timeout(m_ctx, 0, std::uint32_t(station::link::byteTimeout(baudCode).count() * 1000));
        if (modbus_connect(m_ctx) != 0) {
            std::fprintf(stderr, "libmodbus: %s\n", modbus_strerror(errno));
            modbus_free(m_ctx);
            m_ctx = nullptr;
            return false;
        }
        return true;
    }

    void close()
    {
        if (!m_ctx)
            return;
        modbus_close(m_ctx);
        modbus_free(m_ctx);
        m_ctx = nullptr;
    }

    // Returns the number of reads that failed.
    int cycle()
    {
        int failed = 0;
        for (const Read &r : kCycle) {
            const Exchange &e = r.exchange;
            int n = -1;
            switch (r.kind) {
            case Kind::Input: n = modbus_read_input_registers(m_ctx, e.first, e.count, m_words); break;
            case Kind::Holding: n = modbus_read_registers(m_ctx, e.first, e.count, m_words); break;
            case Kind::Discrete: n = modbus_read_input_bits(m_ctx, e.first, e.count, m_bits); break;
            case Kind::Coil: n = modbus_read_bits(m_ctx, e.first, e.count, m_bits); break;
            }
            if (n != e.count)
                ++failed;
        }
        return failed;
    }

    std::uint16_t firstWord() const { return m_words[0]; }

private:
    modbus_t *m_ctx = nullptr;
    std::uint16_t m_words[16] = {};
    std::uint8_t m_bits[16] = {};
};

struct Stats {
    double median = 0;
    double p99 = 0;
    double max = 0;
};

Stats statsOf(std::vector<double> ms)
{
    if (ms.empty())
        return {};
    std::sort(ms.begin(), ms.end());
    const auto at = [&ms](double q) { return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size() - 1) + 0.5))]; };
    return {at(0.5), at(0.99), ms.back()};
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Line {
    const char *name;
    bool wireTiming;
    int baudCode;
    int parityCode;
    int pairs;
    int warmUp;
};

struct Result {
    Stats poller;
    Stats bare;
    int pairs = 0;
    int bareFailures = 0;
    std::uint64_t replies = 0;
};

bool imageMatches(const station::sim::Simulator &sim)
{
    const station::RegisterImage &img = station::registerImage();
    for (int i = 0; i < station::reg::kInputCount; ++i)
        if (img.inputWords[std::size_t(i)] != sim.input(station::reg::kInputFirst + i))
            return false;
    for (int i = 0; i < station::reg::kParamCount; ++i)
        if (img.paramImage[std::size_t(i)] != float(sim.holding(station::reg::kParamFirst + i)))
            return false;
    return img.discreteBits[2] == 1 && img.coilBits[15] == 1;
}

bool measure(station::sim::Simulator &sim, const Line &line, Result &result)
{
    const int baud = station::link::baudRate(line.baudCode);
    sim.setWireTiming(line.wireTiming, baud, station::link::parityLetter(line.parityCode));

    station::linkSettings() = station::LinkSettings{kPort, line.baudCode, line.parityCode, kStation, 0};
    station::linkSettings().openResult = OpenPort_Modbus(kPort, line.baudCode, line.parityCode);
    BareLoop bare;
    if (station::linkSettings().openResult != station::link::kOk
        || !bare.open(station::link::portDevicePath(kPort), line.baudCode)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(station::link::portDevicePath(kPort)));
        return false;
    }

    station::Poller poller;
    poller.setYield([] {});
    station::registerImage() = station::RegisterImage{};

    for (int i = 0; i < line.warmUp; ++i) {
        poller.runCycle();
        bare.cycle();
    }
    const std::uint64_t repliesBefore = sim.replyCount();
    const int cyclesBefore = poller.completedCycles();

    std::vector<double> pollerMs, bareMs;
    pollerMs.reserve(std::size_t(line.pairs));
    bareMs.reserve(std::size_t(line.pairs));
    for (int i = 0; i < line.pairs; ++i) {
        for (int side = 0; side < 2; ++side) {
            const bool pollerTurn = (side == 0) == (i % 2 == 0);
            const auto start = Clock::now();
            if (pollerTurn) {
                poller.runCycle();
                pollerMs.push_back(msSince(start));
            } else {
                result.bareFailures += bare.cycle();
                bareMs.push_back(msSince(start));
            }
        }
    }
    result.replies = sim.replyCount() - repliesBefore;
    result.pairs = poller.completedCycles() - cyclesBefore;
    result.poller = statsOf(pollerMs);
    result.bare = statsOf(bareMs);

    const bool sameImage = imageMatches(sim);
    bare.close();
    ClosePort_Modbus(kPort);
    if (!sameImage)
        std::fprintf(stderr, "%s: the register image differs from the simulator's registers\n", line.name);
    return sameImage;
}

void printStats(const char *side, const Stats &s)
{
    std::printf("  %-22s median %8.3f ms   p99 %8.3f ms   max %8.3f ms\n", side, s.median, s.p99, s.max);
}

QByteArray cpuModel()
{
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray &l : f.readAll().split('\n'))
            if (l.startsWith("model name"))
                return l.mid(l.indexOf(':') + 1).trimmed();
    return "?";
}

} // namespace

int main(int argc, char **argv)
{
    // The simulator links <data folder>/serial/com1: keep it away from the
    // operator's folder.
    QTemporaryDir dataHome;
    if (!dataHome.isValid())
        return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome.path()));

    QCoreApplication app(argc, argv);
    station::useStationApplicationName();
    const bool longRun = app.arguments().contains(QStringLiteral("--long"));
    const int factor = longRun ? kLongFactor : 1;

    station::sim::Simulator sim(kPort, kStation);
    for (int i = 0; i < station::reg::kInputCount; ++i)
        sim.setInput(station::reg::kInputFirst + i, std::int16_t(-100 + 37 * i));
    for (int i = 0; i < station::reg::kParamCount; ++i)
        sim.setHolding(station::reg::kParamFirst + i, std::int16_t(i * 3 - 20));
    sim.setDiscrete(3, true);
    sim.setCoil(16, true);
    if (!sim.start()) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }

    constexpr int k9600 = 1, k19200 = 2, kNone = 0, kEven = 2;
    const std::array<Line, 3> lines{{
        {"pty, no wire timing (opened as 9600 8N2)", false, k9600, kNone, 2000 * factor, 50},
        {"9600 8E1, wire timing", true, k9600, kEven, 24 * factor, 2},
        {"19200 8E1, wire timing", true, k19200, kEven, 40 * factor, 2},
    }};

    std::printf("bench_poll: one polling cycle (9 reads) against the simulator on a pty,\n"
                "beside the same 9 reads through bare libmodbus, interleaved cycle by cycle\n");
    std::printf("machine: %d cores, %s; libmodbus %s\n", QThread::idealThreadCount(), cpuModel().constData(),
                LIBMODBUS_VERSION_STRING);

    bool ok = true;
    for (const Line &line : lines) {
        Result r;
        const auto start = Clock::now();
        if (!measure(sim, line, r)) {
            ok = false;
            continue;
        }
        const double ratio = r.poller.median / r.bare.median;
        std::printf("\n%s: %d cycles per side, %.1f s\n", line.name, r.pairs, msSince(start) / 1000);
        printStats("Poller::runCycle", r.poller);
        printStats("bare libmodbus loop", r.bare);
        const bool allAnswered = r.bareFailures == 0 && r.replies == std::uint64_t(2 * kCycle.size() * r.pairs);
        if (!allAnswered) {
            std::printf("  incomplete: %d bare reads failed, %llu of %llu replies\n", r.bareFailures,
                        (unsigned long long)r.replies, (unsigned long long)(2 * kCycle.size() * r.pairs));
            ok = false;
        }
        if (!line.wireTiming) {
            std::printf("  poller / bare (medians)  %6.3f   aim <= 1.10\n", ratio);
            std::printf("  poller - bare (medians)  %6.3f ms per cycle\n", r.poller.median - r.bare.median);
        } else {
            const int baud = station::link::baudRate(line.baudCode);
            const double bound = wireBoundMs(baud);
            std::printf("  wire bound               %8.3f ms (360 chars x 11 bits / %d)\n", bound, baud);
            std::printf("  poller / wire bound      %6.3f   aim <= 1.15\n", r.poller.median / bound);
            std::printf("  bare / wire bound        %6.3f\n", r.bare.median / bound);
            std::printf("  poller / bare (medians)  %6.3f   aim <= 1.05\n", ratio);
        }
    }
    sim.stop();
    return ok ? 0 : 1;
}
