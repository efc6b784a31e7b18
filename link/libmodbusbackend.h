// The link backend over libmodbus RTU.
//
// Framing: 8 data bits; 1 stop bit with parity, 2 without, so every character
// is 11 bits on the line (a receiver reads either form).
//
// Time-outs. The longest exchange of a polling cycle reads 16 registers: an
// 8-byte request and a 5 + 32 = 37-byte reply, 45 characters in all, 495 bits.
// The response time-out is that wire time, rounded up to the millisecond, plus
// 500 ms, libmodbus's own default margin: room for the controller's own
// communication delay (0..60 ms), a USB adapter's latency and buffering, or a
// serial gateway in between, which may answer 160 ms or later at 9600.
//
//   baud    wire time of 45 characters    response time-out
//   4800    495 / 4800 s  = 103.1 ms      104 + 500 = 604 ms
//   9600    495 / 9600 s  =  51.6 ms       52 + 500 = 552 ms
//   19200   495 / 19200 s =  25.8 ms       26 + 500 = 526 ms
//
// These waits are the link thread's (link/linkthread.h); no window waits for
// them. Between two bytes of a reply we wait at most 10 characters, and never
// less than 20 ms (a USB adapter delivers in bursts).
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
// registers. So after such a failure the port is out of step: the next request,
// read or write, first waits until the line has been quiet for one response
// time-out (reading and dropping whatever arrives meanwhile), then goes out.
// A line that keeps babbling is waited for at most one more time-out. A silent
// controller therefore costs two time-outs an exchange, on the link thread.
//
// lastError() keeps the last failure in words: strerror's text when the device
// cannot be opened ("Permission denied", "No such file or directory"),
// libmodbus's for a failed exchange ("Connection timed out", "Invalid CRC",
// "Illegal data address" for an exception reply).
#pragma once

#include "link/backend.h"

#include <QString>
#include <chrono>
#include <map>

typedef struct _modbus modbus_t;

namespace station::link {

// The margin of the response time-out over the wire time (see above).
inline constexpr std::chrono::milliseconds kReplyMargin{500};
// Response time-out for a baud code (see above); 0 ms for an unknown code.
std::chrono::milliseconds responseTimeout(std::int32_t baudCode);
// Another margin, for ports opened afterwards: the fuzz target, whose
// controller answers at once or never, keeps its pace with a short one. The
// station never calls it.
void setReplyMargin(std::chrono::milliseconds margin);
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

    QString lastError() const override { return m_lastError; }

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
    // The context for an exchange with station on port; an out-of-step line is
    // waited for until it has been quiet for a response time-out.
    modbus_t *ready(std::int32_t port, std::int32_t station);
    bool connect(Port &p);
    void disconnect(Port &p);
    void afterFailure(std::int32_t port, const char *what);
    std::int32_t readRegisters(bool input, std::int32_t port, std::int32_t station, std::int32_t first,
                               std::int32_t count, std::int32_t *buffer);
    std::int32_t readBits16(bool input, std::int32_t port, std::int32_t station, std::int32_t first,
                            std::int32_t *buffer);

    std::map<std::int32_t, Port> m_ports;
    QString m_lastError;
};

} // namespace station::link
