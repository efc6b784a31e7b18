// The seam behind the seven link operations. The station runs on the libmodbus
// backend; tests install a fake that records every call and scripts results.
#pragma once

#include <QString>

#include <cstdint>

namespace station::link {

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
    // The last failure in words ("Permission denied", "Connection timed out",
    // "Invalid CRC", an exception's name); empty when the backend keeps none.
    virtual QString lastError() const { return {}; }
};

// The backend the seven operations use. Not owned; nullptr restores the
// libmodbus backend. Tests install their fake for the duration of a test.
void setBackend(Backend *backend);
Backend &backend();

} // namespace station::link
