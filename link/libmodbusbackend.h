// The link backend over libmodbus RTU.
//
// Framing: 8 data bits; 1 stop bit with parity, 2 without, so every character
// is 11 bits on the line (a receiver reads either form).
//
// Time-outs. The longest exchange of a polling cycle reads 16 registers: an
// 8-byte request and a 5 + 32 = 37-byte reply, 45 characters in all. At 9600 baud
// one character takes 11 / 9600 s = 1.146 ms, so the bytes alone need 51.6 ms.
// The controller may hold its reply back by its own communication delay
// (0..60 ms) and needs a few milliseconds to answer; 100 ms of margin covers
// both. The response time-out is therefore wire time + 100 ms: 203 ms at 4800,
// 152 ms at 9600, 126 ms at 19200. A silent controller costs one such time-out
// per exchange and never seconds. Between two bytes of a reply we wait at most
// 10 characters, and never less than 20 ms (a USB adapter delivers in bursts).
//
// A port whose device cannot be opened makes every call fail quietly. After a
// failed exchange the device path is checked again: when it vanished, or now
// names another device (a USB adapter pulled and plugged back, a simulator that
// made a new pseudo-terminal), the port is closed and the next call reopens the
// same path. The path is chosen once, when the port is opened.
//
// Staying in step. After a time-out or a reply that did not fit, a late reply
// may still be on its way: a slow controller answers request N while the station
// already waits for N + 1, and a reply of the same shape would land in the wrong
// registers. So after such a failure the port is out of step: no request goes out
// until the line has been quiet for one response time-out. Reads in that window
// fail at once without sending (the poller's cycle then costs one time-out, not
// nine); a write waits for the quiet, at most one time-out, so what the operator
// wrote is not lost.
#pragma once

#include "link/backend.h"

#include <QString>
#include <chrono>
#include <map>

typedef struct _modbus modbus_t;

namespace station::link {

// Response time-out for a baud code (see above); 0 ms for an unknown code.
std::chrono::milliseconds responseTimeout(std::int32_t baudCode);
std::chrono::milliseconds byteTimeout(std::int32_t baudCode);
int baudRate(std::int32_t baudCode);     // 0 for an unknown code
char parityLetter(std::int32_t parityCode); // 'N', 'O', 'E'; 0 for an unknown code

class LibmodbusBackend final : public Backend {
public:
    static LibmodbusBackend &instance();
    ~LibmodbusBackend() override;

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

    // True while port has an open device (tests use it).
    bool isConnected(std::int32_t port) const;

private:
    struct Port {
        std::int32_t baudCode = 0;
        std::int32_t parityCode = 0;
        QString path;
        modbus_t *ctx = nullptr;
        unsigned long long device = 0; // st_rdev of the device opened
        // After a failed exchange the line may still carry a late reply; no
        // request goes out until it has been quiet for one response time-out.
        bool outOfStep = false;
        std::chrono::steady_clock::time_point lastNoise{};
    };

    LibmodbusBackend() = default;
    // waitForQuiet: a write waits (at most one response time-out) for an out
    // of step line to fall quiet; a read fails at once instead.
    modbus_t *ready(std::int32_t port, std::int32_t station, bool waitForQuiet = false);
    bool connect(Port &p);
    void disconnect(Port &p);
    void afterFailure(std::int32_t port, const char *what);
    std::int32_t readRegisters(bool input, std::int32_t port, std::int32_t station, std::int32_t first,
                               std::int32_t count, std::int32_t *buffer);
    std::int32_t readBits16(bool input, std::int32_t port, std::int32_t station, std::int32_t first,
                            std::int32_t *buffer);

    std::map<std::int32_t, Port> m_ports;
};

} // namespace station::link
