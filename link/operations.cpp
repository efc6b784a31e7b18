// The seven link operations: each logs its call on station.link.wire and hands
// it to the installed backend.
#include "link/backend.h"
#include "link/libmodbusbackend.h"
#include "link/linkthread.h"
#include "link/modbusrtu.h"

#include "common/logging.h"

#include <atomic>

namespace station::link {

namespace {
std::atomic<Backend *> g_backend{nullptr};
}

void setBackend(Backend *backend)
{
    // The link thread may be carrying out a request on the old backend: let it
    // finish first.
    LinkThread::instance().drain();
    g_backend = backend;
}

Backend &backend()
{
    if (Backend *b = g_backend.load())
        return *b;
    return LibmodbusBackend::instance();
}

} // namespace station::link

using station::link::backend;
using station::link::LinkThread;

// Each operation runs on the link thread: called from any other thread it is
// handed over there and waited for, so the backend is only ever entered from
// that one thread.
#define STATION_ON_LINK_THREAD(expr, ifDropped)                                                          \
    do {                                                                                                 \
        if (!LinkThread::onLinkThread())                                                                 \
            return LinkThread::instance().call([&] { return expr; }, ifDropped);                         \
    } while (false)

namespace {

// The words a read delivered, as 16-bit hex, for the wire log.
QByteArray words(const std::int32_t *buffer, std::int32_t count, std::int32_t result)
{
    if (result != station::link::kOk || !buffer || count <= 0)
        return QByteArrayLiteral("-");
    QByteArray out;
    for (std::int32_t i = 0; i < count; ++i) {
        if (i)
            out += ' ';
        out += QByteArray::number(std::uint16_t(buffer[i]), 16).rightJustified(4, '0');
    }
    return out;
}

} // namespace

std::int32_t OpenPort_Modbus(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode)
{
    STATION_ON_LINK_THREAD(OpenPort_Modbus(port, baudCode, parityCode), station::link::kReadFailed);
    const std::int32_t r = backend().openPort(port, baudCode, parityCode);
    qCDebug(lcWire, "OpenPort_Modbus(%d, %d, %d) = %d", port, baudCode, parityCode, r);
    return r;
}

std::int32_t ClosePort_Modbus(std::int32_t port)
{
    STATION_ON_LINK_THREAD(ClosePort_Modbus(port), station::link::kReadFailed);
    const std::int32_t r = backend().closePort(port);
    qCDebug(lcWire, "ClosePort_Modbus(%d) = %d", port, r);
    return r;
}

std::int32_t Get_3X_DX(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t count,
                       std::int32_t *buffer)
{
    STATION_ON_LINK_THREAD(Get_3X_DX(port, station, first, count, buffer), station::link::kReadFailed);
    const std::int32_t r = backend().readInputRegisters(port, station, first, count, buffer);
    qCDebug(lcWire, "Get_3X_DX(%d, %d, %d, %d) = %d [%s]", port, station, first, count, r,
            words(buffer, count, r).constData());
    return r;
}

std::int32_t Get_4X_DX(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t count,
                       std::int32_t *buffer)
{
    STATION_ON_LINK_THREAD(Get_4X_DX(port, station, first, count, buffer), station::link::kReadFailed);
    const std::int32_t r = backend().readHoldingRegisters(port, station, first, count, buffer);
    qCDebug(lcWire, "Get_4X_DX(%d, %d, %d, %d) = %d [%s]", port, station, first, count, r,
            words(buffer, count, r).constData());
    return r;
}

std::int32_t Get_1X_B16(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t *buffer)
{
    STATION_ON_LINK_THREAD(Get_1X_B16(port, station, first, buffer), station::link::kReadFailed);
    const std::int32_t r = backend().readDiscreteInputs16(port, station, first, buffer);
    qCDebug(lcWire, "Get_1X_B16(%d, %d, %d) = %d [%s]", port, station, first, r, words(buffer, 2, r).constData());
    return r;
}

std::int32_t Get_0X_B16(std::int32_t port, std::int32_t station, std::int32_t first, std::int32_t *buffer)
{
    STATION_ON_LINK_THREAD(Get_0X_B16(port, station, first, buffer), station::link::kReadFailed);
    const std::int32_t r = backend().readCoils16(port, station, first, buffer);
    qCDebug(lcWire, "Get_0X_B16(%d, %d, %d) = %d [%s]", port, station, first, r, words(buffer, 2, r).constData());
    return r;
}

std::int32_t Set_4X_D1(std::int32_t port, std::int32_t station, std::int32_t reg, std::int32_t value)
{
    STATION_ON_LINK_THREAD(Set_4X_D1(port, station, reg, value), station::link::kWriteFailed);
    // A register holds 16 bits, read signed or unsigned: a value neither reading
    // can give (70000 would go out as 4464) is refused before the line is touched.
    if (!station::link::isRegisterWord(value)) {
        qCDebug(lcWire, "Set_4X_D1(%d, %d, %d, %d) = %d, refused: no 16-bit word", port, station, reg, value,
                station::link::kWriteFailed);
        return station::link::kWriteFailed;
    }
    const std::int32_t r = backend().writeRegister(port, station, reg, value);
    qCDebug(lcWire, "Set_4X_D1(%d, %d, %d, %d) = %d", port, station, reg, value, r);
    return r;
}
