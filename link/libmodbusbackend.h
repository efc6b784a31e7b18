// The link backend over libmodbus RTU.
//
// Framing: 8 data bits; 1 stop bit with parity, 2 without, so every character
// is 11 bits on the line (a receiver reads either form).
//
// Time-outs. The longest exchange of a polling cycle reads 16 registers: an
// 8-byte request and a 5 + 32 = 37-byte reply, 45 characters in all, 495 bits.
// The base response time-out is that wire time, rounded up to the millisecond,
// plus 500 ms, libmodbus's own default margin (it grows after late replies,
// link/lineguard.h): room for the controller's own
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
// The port is held by this station alone while it is open (link/portlock.h);
// a port another program holds is not used. A port whose device cannot be
// opened, or is held, makes every call fail quietly. After a
// failed exchange the device path is checked again: when it vanished, or now
// names another device (a USB adapter pulled and plugged back, a simulator that
// made a new pseudo-terminal), the port is closed and the next call reopens the
// same path. The path is chosen once, when the port is opened.
//
// Staying in step. A late reply is never taken for the answer to another
// request: after a time-out the next request waits for the line as
// link/lineguard.h says (the horizon, a quiet line, a time-out that grows with
// the lateness seen). Each device path keeps its LineGuard for the whole run,
// through "关闭" and "打开", so a reopen does not forget a reply still on its
// way; a port opened on a line that carries bytes nobody asked for starts with
// a quiet wait.
//
// lastFailure() keeps the last failure, typed (link/linkerror.h), with
// strerror's words when the device cannot be opened ("Permission denied", "No
// such file or directory") and libmodbus's for a failed exchange ("Connection
// timed out", "Invalid CRC", "Illegal data address" for an exception reply).
#pragma once

#include "link/backend.h"
#include "link/lineguard.h"

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
const char *parityName(std::int32_t parityCode); // "none", "odd", "even"; nullptr for an unknown code

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

    LinkFailure lastFailure() const override { return m_lastFailure; }
    LineTimeouts lineTimeouts(std::int32_t port) const override;

    // True while port has an open device (tests use it).
    bool isConnected(std::int32_t port) const;

private:
    struct Port {
        std::int32_t baudCode = 0;
        std::int32_t parityCode = 0;
        QString path;
        modbus_t *ctx = nullptr;
        int claim = -1;                // holds the port (link/portlock.h)
        unsigned long long device = 0; // st_rdev of the device opened
        LineGuard *guard = nullptr;    // the path's, in m_lines
    };

    LibmodbusBackend() = default;
    // The context for an exchange with station on port, once its line is in
    // step (link/lineguard.h); nullptr when the port cannot be used.
    modbus_t *ready(std::int32_t port, std::int32_t station);
    bool connect(Port &p);
    void disconnect(Port &p);
    LineGuard &guardOf(Port &p);
    void fail(LinkFault fault, int number, const QString &words);
    QString busyHolder(const QString &path);
    // Books the exchange's end on port's line: in time, or how it failed.
    void answered(std::int32_t port);
    void afterFailure(std::int32_t port, const char *what);
    std::int32_t readRegisters(bool input, std::int32_t port, std::int32_t station, std::int32_t first,
                               std::int32_t count, std::int32_t *buffer);
    std::int32_t readBits16(bool input, std::int32_t port, std::int32_t station, std::int32_t first,
                            std::int32_t *buffer);

    std::map<std::int32_t, Port> m_ports;
    std::map<QString, LineGuard> m_lines; // by device path, for the whole run
    LinkFailure m_lastFailure;
    // Who held a busy port, and when that was looked up.
    static constexpr std::chrono::seconds kHolderLookupEvery{1};
    QString m_holderPath;
    QString m_holder;
    std::chrono::steady_clock::time_point m_holderAt{};
};

} // namespace station::link
