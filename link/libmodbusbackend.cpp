#include "link/libmodbusbackend.h"

#include "link/modbusrtu.h"
#include "link/portpath.h"

#include "common/logging.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/select.h>
#include <sys/stat.h>
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

// Reads and drops whatever arrives until the line has been quiet for `quiet`,
// for at most `limit`. A late or garbled reply must not be taken for the answer
// to the next request.
void drainLine(modbus_t *ctx, std::chrono::milliseconds quiet, std::chrono::milliseconds limit)
{
#ifdef Q_OS_WIN
    Q_UNUSED(quiet);
    Q_UNUSED(limit);
    modbus_flush(ctx);
#else
    const int fd = modbus_get_socket(ctx);
    if (fd < 0)
        return;
    const auto end = std::chrono::steady_clock::now() + limit;
    unsigned char scratch[256];
    while (std::chrono::steady_clock::now() < end) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv{0, suseconds_t(std::chrono::microseconds(quiet).count())};
        const int ready = ::select(fd + 1, &set, nullptr, nullptr, &tv);
        if (ready <= 0)
            break; // quiet, or the device is gone
        if (::read(fd, scratch, sizeof scratch) <= 0)
            break;
    }
    modbus_flush(ctx);
#endif
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
    if (baud == 0 || parity == 0)
        return false;
    const QByteArray device = p.path.toLocal8Bit();
    modbus_t *ctx = modbus_new_rtu(device.constData(), baud, parity, 8, parity == 'N' ? 2 : 1);
    if (!ctx)
        return false;
    const auto response = responseTimeout(p.baudCode);
    const auto byte = byteTimeout(p.baudCode);
    modbus_set_response_timeout(ctx, 0, std::uint32_t(response.count() * 1000));
    modbus_set_byte_timeout(ctx, 0, std::uint32_t(byte.count() * 1000));
    if (modbus_connect(ctx) != 0) {
        m_lastError = QString::fromLocal8Bit(modbus_strerror(errno));
        qCDebug(lcLink) << "cannot open" << p.path << m_lastError;
        modbus_free(ctx);
        return false;
    }
    if (!deviceOf(p.path, &p.device))
        p.device = 0;
    p.ctx = ctx;
    qCDebug(lcLink) << "opened" << p.path << baud << parity;
    return true;
}

void LibmodbusBackend::disconnect(Port &p)
{
    if (!p.ctx)
        return;
    modbus_close(p.ctx);
    modbus_free(p.ctx);
    p.ctx = nullptr;
}

std::int32_t LibmodbusBackend::openPort(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode)
{
    Port &p = m_ports[port];
    disconnect(p);
    p.baudCode = baudCode;
    p.parityCode = parityCode;
    p.path = portDevicePath(port);
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

bool LibmodbusBackend::isConnected(std::int32_t port) const
{
    auto it = m_ports.find(port);
    return it != m_ports.end() && it->second.ctx;
}

modbus_t *LibmodbusBackend::ready(std::int32_t port, std::int32_t station)
{
    auto it = m_ports.find(port);
    if (it == m_ports.end()) {
        m_lastError = QStringLiteral("Port not open");
        return nullptr; // never opened: fail quietly
    }
    Port &p = it->second;
    if (!p.ctx) {
        // The device was gone or could not be opened: try the same device again
        // (the port keeps the path it was opened with).
        if (!connect(p))
            return nullptr;
    }
    if (p.outOfStep) {
        const auto quiet = responseTimeout(p.baudCode);
        for (;;) {
            if (discardPending(p.ctx))
                p.lastNoise = std::chrono::steady_clock::now();
            const auto left = p.lastNoise + quiet - std::chrono::steady_clock::now();
            if (left <= std::chrono::steady_clock::duration::zero())
                break;
            drainLine(p.ctx, std::chrono::duration_cast<std::chrono::milliseconds>(left) + std::chrono::milliseconds(1), quiet);
            p.lastNoise = std::chrono::steady_clock::now() - quiet; // drained until quiet (or the bound)
        }
        p.outOfStep = false;
    }
    if (modbus_set_slave(p.ctx, station) != 0) {
        m_lastError = QString::fromLocal8Bit(modbus_strerror(errno));
        return nullptr;
    }
    // Drop whatever a late or garbled reply left in the input queue, so it cannot
    // be taken for the answer to this request.
    modbus_flush(p.ctx);
    return p.ctx;
}

void LibmodbusBackend::afterFailure(std::int32_t port, const char *what)
{
    const int error = errno;
    m_lastError = QString::fromLocal8Bit(modbus_strerror(error));
    qCDebug(lcLink, "%s on port %d failed: %s", what, port, modbus_strerror(error));
    auto it = m_ports.find(port);
    if (it == m_ports.end() || !it->second.ctx)
        return;
    Port &p = it->second;
    unsigned long long device = 0;
    const bool stillThere = deviceOf(p.path, &device);
    const bool deviceError = error == EIO || error == ENXIO || error == ENODEV || error == EBADF
                             || error == EPIPE || error == ECONNRESET;
    if (deviceError || !stillThere || device != p.device) {
        qCDebug(lcLink) << "device of port" << port << "gone; reopening on the next call";
        disconnect(p);
        return;
    }
    // A reply that did not fit (wrong length, bad CRC, another function, late) may
    // be followed by more bytes of it or by replies to earlier requests: the port
    // is out of step until the line has been quiet for a time-out. Nothing blocks
    // here; the next calls find out whether the line has fallen quiet.
    if (error == EMBBADDATA || error == EMBBADCRC || error == EMBBADSLAVE || error == ETIMEDOUT) {
        p.outOfStep = true;
        p.lastNoise = std::chrono::steady_clock::now();
    }
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
    return kOk;
}

} // namespace station::link
