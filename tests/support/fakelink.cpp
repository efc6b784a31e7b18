#include "tests/support/fakelink.h"

#include "link/linkthread.h"
#include "link/registerimage.h"

namespace station::test {

QString describe(const LinkCall &c)
{
    static const char *const names[] = {"Open", "Close", "Get_3X_DX", "Get_4X_DX", "Get_1X_B16", "Get_0X_B16",
                                        "Set_4X_D1"};
    return QStringLiteral("%1(%2,%3,%4,%5)")
        .arg(QString::fromLatin1(names[int(c.op)]))
        .arg(c.port)
        .arg(c.station)
        .arg(c.first)
        .arg(c.count);
}

void resetLinkFixture()
{
    registerImage() = RegisterImage{};
    linkSettings() = LinkSettings{};
    linkSettings().port = 3;
    linkSettings().station = 7;
}

FakeLink::FakeLink()
{
    link::setBackend(this);
}

FakeLink::~FakeLink()
{
    link::setBackend(nullptr);
}

void FakeLink::settle() const
{
    link::linkThread().drain();
}

QList<LinkCall> FakeLink::writes() const
{
    settle();
    std::lock_guard lock(m_mutex);
    QList<LinkCall> out;
    for (const LinkCall &c : calls)
        if (c.op == LinkOp::Write)
            out.append(c);
    return out;
}

void FakeLink::begin(const LinkCall &call) const
{
    if (beforeCall)
        beforeCall(call);
}

link::LinkFailure FakeLink::lastFailure() const
{
    std::lock_guard lock(m_mutex);
    return failure;
}

void FakeLink::record(const LinkCall &call)
{
    std::lock_guard lock(m_mutex);
    calls.append(call);
    if (onCall)
        onCall(call);
}

std::int32_t FakeLink::openPort(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode)
{
    begin({LinkOp::Open, port, 0, baudCode, parityCode});
    std::lock_guard lock(m_mutex);
    record({LinkOp::Open, port, 0, baudCode, parityCode});
    return openResult;
}

std::int32_t FakeLink::closePort(std::int32_t port)
{
    begin({LinkOp::Close, port, 0, 0, 0});
    std::lock_guard lock(m_mutex);
    record({LinkOp::Close, port, 0, 0, 0});
    return 0;
}

std::int32_t FakeLink::readInputRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                          std::int32_t count, std::int32_t *buffer)
{
    begin({LinkOp::ReadInput, port, station, first, count});
    std::lock_guard lock(m_mutex);
    const bool fail = readsFail || failingReads.contains(first);
    if (!fail)
        for (int i = 0; i < count; ++i)
            buffer[i] = inputs.value(first + i, 0);
    record({LinkOp::ReadInput, port, station, first, count});
    return fail ? -1 : 0;
}

std::int32_t FakeLink::readHoldingRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                            std::int32_t count, std::int32_t *buffer)
{
    begin({LinkOp::ReadHolding, port, station, first, count});
    std::lock_guard lock(m_mutex);
    const bool fail = readsFail || failingReads.contains(first);
    if (!fail)
        for (int i = 0; i < count; ++i)
            buffer[i] = holding.value(first + i, 0);
    record({LinkOp::ReadHolding, port, station, first, count});
    return fail ? -1 : 0;
}

std::int32_t FakeLink::readDiscreteInputs16(std::int32_t port, std::int32_t station, std::int32_t first,
                                            std::int32_t *buffer)
{
    begin({LinkOp::ReadDiscrete, port, station, first, 16});
    std::lock_guard lock(m_mutex);
    const bool fail = readsFail || failingReads.contains(first);
    if (!fail) {
        buffer[0] = discreteSlots[0];
        buffer[1] = discreteSlots[1];
    }
    record({LinkOp::ReadDiscrete, port, station, first, 16});
    return fail ? -1 : 0;
}

std::int32_t FakeLink::readCoils16(std::int32_t port, std::int32_t station, std::int32_t first,
                                   std::int32_t *buffer)
{
    begin({LinkOp::ReadCoils, port, station, first, 16});
    std::lock_guard lock(m_mutex);
    const bool fail = readsFail || failingReads.contains(first);
    if (!fail) {
        buffer[0] = coilSlots[0];
        buffer[1] = coilSlots[1];
    }
    record({LinkOp::ReadCoils, port, station, first, 16});
    return fail ? -1 : 0;
}

std::int32_t FakeLink::writeRegister(std::int32_t port, std::int32_t station, std::int32_t reg,
                                     std::int32_t value)
{
    begin({LinkOp::Write, port, station, reg, value});
    std::lock_guard lock(m_mutex);
    std::int32_t result = 0;
    if (!writeResults.empty()) {
        result = writeResults.front();
        writeResults.pop_front();
    }
    if (writesStore && result != -8888)
        holding[reg] = value;
    record({LinkOp::Write, port, station, reg, value});
    return result;
}

} // namespace station::test
