// The seam behind the seven link operations. The station runs on the libmodbus
// backend; tests install a fake that records every call and scripts results.
#pragma once

#include "link/linkerror.h"

#include <QString>

#include <chrono>
#include <cstdint>

namespace station::link {

// How long a port's line waits for a reply now, and why (link/lineguard.h).
struct LineTimeouts {
    std::chrono::milliseconds timeout{0};      // response time-out of the next exchange
    std::chrono::milliseconds base{0};         // its value on a line that answers in time
    std::chrono::milliseconds cap{0};          // the longest it grows to
    std::chrono::milliseconds lastLateness{0}; // the last late reply's lateness; 0 when none since
    bool operator==(const LineTimeouts &) const = default;
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual std::int32_t openPort(std::int32_t port, std::int32_t baudCode, std::int32_t parityCode) = 0;
    virtual std::int32_t closePort(std::int32_t port) = 0;
    virtual std::int32_t readInputRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                            std::int32_t count, std::int32_t *buffer) = 0;
    virtual std::int32_t readHoldingRegisters(std::int32_t port, std::int32_t station, std::int32_t first,
                                              std::int32_t count, std::int32_t *buffer) = 0;
    virtual std::int32_t readDiscreteInputs16(std::int32_t port, std::int32_t station, std::int32_t first,
                                              std::int32_t *buffer) = 0;
    virtual std::int32_t readCoils16(std::int32_t port, std::int32_t station, std::int32_t first,
                                     std::int32_t *buffer) = 0;
    virtual std::int32_t writeRegister(std::int32_t port, std::int32_t station, std::int32_t reg,
                                       std::int32_t value) = 0;
    // The last failure, typed, with the system's words ("Permission denied",
    // "Connection timed out", "Invalid CRC", an exception's name); None when
    // the backend keeps none.
    virtual LinkFailure lastFailure() const { return {}; }
    // The time-outs of port's line; all zero when the backend has none.
    virtual LineTimeouts lineTimeouts(std::int32_t port) const
    {
        (void)port;
        return {};
    }
};

// The backend the seven operations use. Not owned; nullptr restores the
// libmodbus backend. Tests install their fake for the duration of a test.
void setBackend(Backend *backend);
Backend &backend();

} // namespace station::link
