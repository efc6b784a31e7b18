// A link backend for tests: records every call with its arguments, answers reads
// from register maps the test fills, and scripts results (for example -8888 on
// the first write). Installs itself on construction and restores the libmodbus
// backend on destruction.
//
// The calls come from the link thread. Read `calls` after settle() (or
// writes(), which settles first): it waits until the link thread has carried
// out everything queued so far. onCall runs on the link thread.
#pragma once

#include "link/backend.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace station::test {

enum class LinkOp { Open, Close, ReadInput, ReadHolding, ReadDiscrete, ReadCoils, Write };

struct LinkCall {
    LinkOp op;
    std::int32_t port = 0;
    std::int32_t station = 0;
    std::int32_t first = 0;   // open: baud code; write: register
    std::int32_t count = 0;   // open: parity code; write: value; B16 reads: 16
    bool operator==(const LinkCall &) const = default;
};

QString describe(const LinkCall &call);

// An empty register image and the link settings the expected calls of the
// fake's tests are written for: port 3, station 7, the rest at their defaults.
void resetLinkFixture();

class FakeLink final : public link::Backend {
public:
    FakeLink();
    ~FakeLink() override;

    // Register contents answered by reads (missing registers read 0).
    QMap<std::int32_t, std::int32_t> inputs;
    QMap<std::int32_t, std::int32_t> holding;
    // Byte slots answered by the B16 reads (may be outside 0..255 on purpose).
    std::int32_t discreteSlots[2] = {0, 0};
    std::int32_t coilSlots[2] = {0, 0};

    // When set, reads fail and leave their buffer untouched.
    bool readsFail = false;
    // Reads starting at one of these registers or points fail the same way.
    QSet<std::int32_t> failingReads;
    // Results of the next writes, first in first out; when empty a write returns 0.
    std::deque<std::int32_t> writeResults;
    // When true a successful write also stores the value in `holding`.
    bool writesStore = true;
    // Called after every call has been recorded (tests use it to run events inside a cycle).
    std::function<void(const LinkCall &)> onCall;
    // Called on the link thread as a call begins, before it is recorded and
    // outside the fake's lock: a test may hold the line there (a write in
    // progress on a slow line).
    std::function<void(const LinkCall &)> beforeCall;
    // What openPort returns.
    std::int32_t openResult = 0;
    // What lastFailure() reports.
    link::LinkFailure failure;

    QList<LinkCall> calls;
    // The writes among the calls, once everything queued has gone out.
    QList<LinkCall> writes() const;
    // Waits until the link thread has carried out everything queued so far.
    void settle() const;
    void clear()
    {
        settle();
        calls.clear();
    }

    std::int32_t openPort(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode) override;
    std::int32_t closePort(std::int32_t port) override;
    std::int32_t readInputRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                    std::int32_t count, std::int32_t *buffer) override;
    std::int32_t readHoldingRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                      std::int32_t count, std::int32_t *buffer) override;
    std::int32_t readDiscreteInputs16(std::int32_t port, std::int32_t station, std::int32_t first,
                                      std::int32_t *buffer) override;
    std::int32_t readCoils16(std::int32_t port, std::int32_t station, std::int32_t first,
                             std::int32_t *buffer) override;
    std::int32_t writeRegister(std::int32_t port, std::int32_t station, std::int32_t reg,
                               std::int32_t value) override;
    link::LinkFailure lastFailure() const override;

private:
    void begin(const LinkCall &call) const;
    void record(const LinkCall &call);
    mutable std::recursive_mutex m_mutex;
};

} // namespace station::test
