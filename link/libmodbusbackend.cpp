#include "link/libmodbusbackend.h"

#include "link/modbusrtu.h"
#include "link/portlock.h"
#include "link/portpath.h"

#include "common/logging.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/select.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace station::link {

namespace {

constexpr int kBitsPerChar = 11;          // start + 8 data + parity or second stop + stop
constexpr int kLongestExchangeChars = 45; // 8-byte request + 37-byte reply of a 16-register read
constexpr int kMaxRegisters = 125;        // most registers one read may ask for

bool deviceOf(const QString &path, unsigned long long *device)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    *device = 0;
    return true;
#else
    struct stat st {};
    if (::stat(path.toLocal8Bit().constData(), &st) != 0)
        return false;
    *device = (unsigned long long)st.st_rdev;
    return true;
#endif
}

std::int32_t packByte(const std::uint8_t *bits)
{
    std::int32_t value = 0;
    for (int i = 0; i < 8; ++i)
        if (bits[i])
            value |= 1 << i;
    return value;
}

// Reads and drops what is waiting on the line without blocking; true when
// something was there.
bool discardPending(modbus_t *ctx)
{
#ifdef Q_OS_WIN
    modbus_flush(ctx);
    return false;
#else
    const int fd = modbus_get_socket(ctx);
    bool any = false;
    unsigned char scratch[256];
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv{0, 0};
        if (fd < 0 || ::select(fd + 1, &set, nullptr, nullptr, &tv) <= 0)
            break;
        if (::read(fd, scratch, sizeof scratch) <= 0)
            break;
        any = true;
    }
    return any;
#endif
}

// The serial device as the line guard sees it while it waits.
class DeviceLine final : public QuietLine {
public:
    explicit DeviceLine(modbus_t *ctx)
        : m_ctx(ctx)
    {
    }

    LineClock::time_point now() const override { return LineClock::now(); }

    Result dropUntil(LineClock::time_point until) override
    {
#ifdef Q_OS_WIN
        std::this_thread::sleep_until(until);
        modbus_flush(m_ctx);
        return {};
#else
        const int fd = modbus_get_socket(m_ctx);
        if (fd < 0)
            return {Heard::Broken, {}};
        const auto left = std::max(LineClock::duration::zero(), until - LineClock::now());
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv{time_t(us / 1000000), suseconds_t(us % 1000000)};
        const int ready = ::select(fd + 1, &set, nullptr, nullptr, &tv);
        if (ready == 0)
            return {};
        const auto at = LineClock::now();
        if (ready < 0) {
            if (errno == EINTR)
                return {};
            return {Heard::Broken, {}};
        }
        unsigned char scratch[256];
        if (::read(fd, scratch, sizeof scratch) <= 0)
            return {Heard::Broken, {}};
        discardPending(m_ctx);
        return {Heard::Bytes, at};
#endif
    }

private:
    modbus_t *m_ctx;
};

LinkFault openFault(int error)
{
    switch (error) {
    case EACCES:
    case EPERM: return LinkFault::NoPermission;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR: return LinkFault::NoDevice;
    case EBUSY:        // the tty's exclusive mode, another program's
    case EWOULDBLOCK:  // the flock, another station's
        return LinkFault::DeviceBusy;
    default: return LinkFault::Other;
    }
}

bool isDeviceError(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE
           || error == ECONNRESET;
}

} // namespace

int baudRate(std::int32_t baudCode)
{
    switch (baudCode) {
    case 0: return 4800;
    case 1: return 9600;
    case 2: return 19200;
    default: return 0;
    }
}

char parityLetter(std::int32_t parityCode)
{
    switch (parityCode) {
    case 0: return 'N';
    case 1: return 'O';
    case 2: return 'E';
    default: return 0;
    }
}

const char *parityName(std::int32_t parityCode)
{
    switch (parityCode) {
    case 0: return "none";
    case 1: return "odd";
    case 2: return "even";
    default: return nullptr;
    }
}

namespace {
std::atomic<std::chrono::milliseconds::rep> g_replyMargin{kReplyMargin.count()};
}

void setReplyMargin(std::chrono::milliseconds margin)
{
    g_replyMargin = margin.count();
}

std::chrono::milliseconds responseTimeout(std::int32_t baudCode)
{
    const int baud = baudRate(baudCode);
    if (baud == 0)
        return std::chrono::milliseconds(0);
    const int wireMs = (kLongestExchangeChars * kBitsPerChar * 1000 + baud - 1) / baud;
    return std::chrono::milliseconds(wireMs + g_replyMargin.load());
}

namespace {
LineTimes lineTimes(std::int32_t baudCode)
{
    return {responseTimeout(baudCode), std::chrono::milliseconds(g_replyMargin.load())};
}
} // namespace

std::chrono::milliseconds byteTimeout(std::int32_t baudCode)
{
    const int baud = baudRate(baudCode);
    if (baud == 0)
        return std::chrono::milliseconds(0);
    const int tenChars = (10 * kBitsPerChar * 1000 + baud - 1) / baud;
    return std::chrono::milliseconds(std::max(20, tenChars));
}

LibmodbusBackend &LibmodbusBackend::instance()
{
    static LibmodbusBackend backend;
    return backend;
}

LibmodbusBackend::~LibmodbusBackend()
{
    for (auto &[port, p] : m_ports)
        disconnect(p);
}

bool LibmodbusBackend::connect(Port &p)
{
    const int baud = baudRate(p.baudCode);
    const char parity = parityLetter(p.parityCode);
    if (baud == 0 || parity == 0) {
        fail(LinkFault::BadSettings, 0, QStringLiteral("baud code %1, parity code %2").arg(p.baudCode).arg(p.parityCode));
        return false;
    }
    const QByteArray device = p.path.toLocal8Bit();
    modbus_t *ctx = modbus_new_rtu(device.constData(), baud, parity, 8, parity == 'N' ? 2 : 1);
    if (!ctx) {
        fail(LinkFault::BadSettings, errno, QString::fromLocal8Bit(modbus_strerror(errno)));
        return false;
    }
    modbus_set_byte_timeout(ctx, 0, std::uint32_t(byteTimeout(p.baudCode).count() * 1000));
    // Held by this station alone, or not touched at all (link/portlock.h):
    // the claim comes before the open that sets the line's baud rate.
    const int claim = claimPort(device);
    const int error = claim < 0 ? -claim : modbus_connect(ctx) == 0 ? 0 : errno;
    if (error != 0) {
        fail(openFault(error), error, QString::fromLocal8Bit(modbus_strerror(error)));
        if (m_lastFailure.fault == LinkFault::DeviceBusy)
            m_lastFailure.holder = busyHolder(p.path);
        qCDebug(lcLink) << "cannot open" << p.path << m_lastFailure.words << m_lastFailure.holder;
        releasePort(claim, -1);
        modbus_free(ctx);
        return false;
    }
    excludeOthers(modbus_get_socket(ctx));
    p.claim = claim;
    if (!deviceOf(p.path, &p.device))
        p.device = 0;
    p.ctx = ctx;
    // Bytes already on the line answer nobody's request on this port: the
    // first request waits for a quiet line.
    if (discardPending(ctx)) {
        qCDebug(lcLink) << "bytes on" << p.path << "at the open; waiting for a quiet line";
        guardOf(p).noise(LineClock::now());
    }
    qCDebug(lcLink) << "opened" << p.path << baud << parity;
    return true;
}

void LibmodbusBackend::disconnect(Port &p)
{
    if (!p.ctx)
        return;
    // The claim goes last: modbus_close() puts the line's old settings back,
    // which must not meet a station that took the port meanwhile.
    releasePort(-1, modbus_get_socket(p.ctx));
    modbus_close(p.ctx);
    modbus_free(p.ctx);
    p.ctx = nullptr;
    releasePort(p.claim, -1);
    p.claim = -1;
}

std::int32_t LibmodbusBackend::openPort(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode)
{
    Port &p = m_ports[port];
    disconnect(p);
    p.baudCode = baudCode;
    p.parityCode = parityCode;
    p.path = portDevicePath(port);
    p.guard = nullptr;
    // The line keeps its guard through a close: a reply still on its way to a
    // request sent before is waited for as if the port had stayed open.
    guardOf(p).retime(lineTimes(baudCode));
    return connect(p) ? kOk : kReadFailed;
}

std::int32_t LibmodbusBackend::closePort(std::int32_t port)
{
    auto it = m_ports.find(port);
    if (it == m_ports.end())
        return kOk;
    disconnect(it->second);
    m_ports.erase(it);
    qCDebug(lcLink) << "closed port" << port;
    return kOk;
}

LineGuard &LibmodbusBackend::guardOf(Port &p)
{
    if (!p.guard) {
        auto it = m_lines.find(p.path);
        if (it == m_lines.end())
            it = m_lines.emplace(p.path, LineGuard(lineTimes(p.baudCode))).first;
        p.guard = &it->second;
    }
    return *p.guard;
}

LineTimeouts LibmodbusBackend::lineTimeouts(std::int32_t port) const
{
    auto it = m_ports.find(port);
    if (it == m_ports.end() || !it->second.guard)
        return {};
    const LineGuard &g = *it->second.guard;
    return {g.timeout(), g.base(), g.cap(), g.lastLateness()};
}

void LibmodbusBackend::fail(LinkFault fault, int number, const QString &words)
{
    m_lastFailure = {fault, number, words, {}};
}

QString LibmodbusBackend::busyHolder(const QString &path)
{
    // Every exchange on a busy port tries the open again; the holder is looked
    // up at most once a second (a walk through /proc).
    const auto now = std::chrono::steady_clock::now();
    if (path != m_holderPath || now - m_holderAt >= kHolderLookupEvery) {
        m_holder = portHolders(path);
        m_holderPath = path;
        m_holderAt = now;
    }
    return m_holder;
}

bool LibmodbusBackend::isConnected(std::int32_t port) const
{
    auto it = m_ports.find(port);
    return it != m_ports.end() && it->second.ctx;
}

modbus_t *LibmodbusBackend::ready(std::int32_t port, std::int32_t station)
{
    auto it = m_ports.find(port);
    if (it == m_ports.end()) {
        fail(LinkFault::NotOpen, 0, QStringLiteral("Port not open"));
        return nullptr; // never opened: fail quietly
    }
    Port &p = it->second;
    if (!p.ctx) {
        // The device was gone or could not be opened: try the same device again
        // (the port keeps the path it was opened with).
        if (!connect(p))
            return nullptr;
    }
    LineGuard &guard = guardOf(p);
    DeviceLine line(p.ctx);
    guard.waitUntilInStep(line);
    if (modbus_set_slave(p.ctx, station) != 0) {
        fail(LinkFault::Other, errno, QString::fromLocal8Bit(modbus_strerror(errno)));
        return nullptr;
    }
    // Drop whatever a garbled reply left in the input queue, so it cannot be
    // taken for the answer to this request.
    modbus_flush(p.ctx);
    const auto timeout = std::chrono::microseconds(guard.timeout());
    modbus_set_response_timeout(p.ctx, std::uint32_t(timeout.count() / 1000000),
                                std::uint32_t(timeout.count() % 1000000));
    guard.sending(LineClock::now());
    return p.ctx;
}

void LibmodbusBackend::answered(std::int32_t port)
{
    auto it = m_ports.find(port);
    if (it != m_ports.end())
        guardOf(it->second).answered(LineClock::now());
}

void LibmodbusBackend::afterFailure(std::int32_t port, const char *what)
{
    const int error = errno;
    const auto now = LineClock::now();
    const QString words = QString::fromLocal8Bit(modbus_strerror(error));
    qCDebug(lcLink, "%s on port %d failed: %s", what, port, modbus_strerror(error));
    auto it = m_ports.find(port);
    if (it == m_ports.end() || !it->second.ctx) {
        fail(LinkFault::Other, error, words);
        return;
    }
    Port &p = it->second;
    LineGuard &guard = guardOf(p);
    unsigned long long device = 0;
    const bool stillThere = deviceOf(p.path, &device);
    if (isDeviceError(error) || !stillThere || device != p.device) {
        qCDebug(lcLink) << "device of port" << port << "gone; reopening on the next call";
        fail(LinkFault::DeviceLost, error, words);
        disconnect(p);
        return;
    }
    if (error == ETIMEDOUT) {
        // Replies that come after the longest time-out: the reads fail and say
        // why (link/lineguard.h). A reply that began and stopped did not fit.
        const auto late = guard.lastLateness();
        const bool tooLate = late > std::chrono::milliseconds(0) && late >= guard.timeout();
        if (!guard.timedOut(now))
            fail(LinkFault::BadReply, error, words);
        else if (tooLate)
            fail(LinkFault::TooLate, int(late.count()), words);
        else
            fail(LinkFault::TimedOut, error, words);
        return;
    }
    if (error > MODBUS_ENOBASE && error <= EMBXGTAR) {
        // An exception reply is a whole answer: the line is in step.
        fail(LinkFault::Exception, error - MODBUS_ENOBASE, words);
        return;
    }
    if (error == EMBBADCRC) {
        fail(LinkFault::BadCrc, error, words);
        guard.spoilt(now);
        return;
    }
    if (error == EMBBADDATA || error == EMBBADSLAVE || error == EMBBADEXC || error == EMBUNKEXC
        || error == EMBMDATA) {
        // A reply that did not fit may be followed by more bytes of it: the
        // next request waits for a quiet line.
        fail(LinkFault::BadReply, error, words);
        guard.spoilt(now);
        return;
    }
    fail(LinkFault::Other, error, words);
}

std::int32_t LibmodbusBackend::readRegisters(bool input, std::int32_t port, std::int32_t station,
                                             std::int32_t first, std::int32_t count, std::int32_t *buffer)
{
    if (!buffer || count < 1 || count > kMaxRegisters || first < 0 || first > 0xFFFF)
        return kReadFailed;
    modbus_t *ctx = ready(port, station);
    if (!ctx)
        return kReadFailed;
    std::uint16_t words[kMaxRegisters];
    const int n = input ? modbus_read_input_registers(ctx, first, count, words)
                        : modbus_read_registers(ctx, first, count, words);
    if (n != count) {
        afterFailure(port, input ? "Get_3X_DX" : "Get_4X_DX");
        return kReadFailed;
    }
    answered(port);
    for (int i = 0; i < count; ++i)
        buffer[i] = std::int16_t(words[i]);
    return kOk;
}

std::int32_t LibmodbusBackend::readBits16(bool input, std::int32_t port, std::int32_t station,
                                          std::int32_t first, std::int32_t *buffer)
{
    if (!buffer || first < 0 || first > 0xFFFF - 15)
        return kReadFailed;
    modbus_t *ctx = ready(port, station);
    if (!ctx)
        return kReadFailed;
    std::uint8_t bits[16] = {};
    const int n = input ? modbus_read_input_bits(ctx, first, 16, bits) : modbus_read_bits(ctx, first, 16, bits);
    if (n != 16) {
        afterFailure(port, input ? "Get_1X_B16" : "Get_0X_B16");
        return kReadFailed;
    }
    answered(port);
    buffer[0] = packByte(bits);
    buffer[1] = packByte(bits + 8);
    return kOk;
}

std::int32_t LibmodbusBackend::readInputRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                                  std::int32_t count, std::int32_t *buffer)
{
    return readRegisters(true, port, station, first, count, buffer);
}

std::int32_t LibmodbusBackend::readHoldingRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                                    std::int32_t count, std::int32_t *buffer)
{
    return readRegisters(false, port, station, first, count, buffer);
}

std::int32_t LibmodbusBackend::readDiscreteInputs16(std::int32_t port, std::int32_t station, std::int32_t first,
                                                    std::int32_t *buffer)
{
    return readBits16(true, port, station, first, buffer);
}

std::int32_t LibmodbusBackend::readCoils16(std::int32_t port, std::int32_t station, std::int32_t first,
                                           std::int32_t *buffer)
{
    return readBits16(false, port, station, first, buffer);
}

std::int32_t LibmodbusBackend::writeRegister(std::int32_t port, std::int32_t station, std::int32_t reg,
                                             std::int32_t value)
{
    if (reg < 0 || reg > 0xFFFF)
        return kWriteFailed;
    modbus_t *ctx = ready(port, station);
    if (!ctx)
        return kWriteFailed;
    // The register holds 16 bits: a negative value goes as its two's complement word.
    if (modbus_write_register(ctx, reg, std::uint16_t(value)) != 1) {
        afterFailure(port, "Set_4X_D1");
        return kWriteFailed;
    }
    answered(port);
    return kOk;
}

} // namespace station::link
