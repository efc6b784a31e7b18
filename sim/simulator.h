// A simulated controller on a pseudo-terminal: a Modbus RTU slave served by
// libmodbus from a RegisterBank, reachable through the link
// <data folder>/serial/com<port> that the station opens like a serial device.
//
// Threads: start() spawns one server thread that owns the pty master and the
// two libmodbus contexts. Every public member may be called from any thread;
// start(), stop(), vanish() and reappear() are serialised among themselves.
#pragma once

#include "sim/registerbank.h"
#include "sim/wiretiming.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace station::sim {

// What the simulator does with a request addressed to it.
enum class Fault {
    None,       // answers normally
    Silent,     // reads the request and never answers
    Slow,       // answers late (setSlowDelay, 700 ms by default), after the station's response time-out (552 ms at 9600)
    BadCrc,     // answers with a corrupted CRC
    Exception,  // answers with exceptionCode() (illegal data address by default)
    Garbage,    // answers with random bytes of the reply's length and a wrong CRC
};

const char *faultName(Fault fault);

class Simulator : public RegisterBank {
public:
    static constexpr int kForever = -1;
    static constexpr std::chrono::milliseconds kDefaultSlowDelay{700};

    explicit Simulator(int port = 1, int station = 1);
    ~Simulator();

    // Opens a pty pair, makes the link to its slave side and starts serving.
    // A link already there is replaced only when it points to a pty (a
    // simulator's, perhaps left by a run that crashed); a link to anything
    // else or a file of that name is the operator's and is left alone.
    // Returns false, with nothing left open and nothing changed on disk, when
    // the link is foreign or the pty or the link cannot be made (startError()
    // says why). True when already running.
    bool start();
    // Why the last start() failed, one line naming the link; empty after a
    // start that succeeded. For the thread that called start().
    QString startError() const;
    // The pty folder a simulator's links point into.
    static constexpr char kPtyFolder[] = "/dev/pts/";
    // Empty when a simulator may make its link at `link` (nothing there, or a
    // link into kPtyFolder); otherwise the one-line reason it may not.
    static QString foreignEntry(const QString &link);
    // Stops serving, closes the pty and removes the link (if it still points to
    // this simulator's pty). Returns once the server thread has ended.
    void stop();
    bool isRunning() const;

    // The USB adapter pulled out: the pty is closed, so a station that has it
    // open gets errors, and the link disappears.
    void vanish();
    // Plugged in again: a new pty and the link to it.
    bool reappear();

    int port() const { return port_; }
    // <data folder>/serial/com<port>.
    QString linkPath() const;
    // The pty's slave device, empty while not running.
    QString slavePath() const;

    // The address answered, 1..247; requests for other addresses are ignored.
    // Returns once the server answers the new address (within 50 ms unless a
    // reply is being held back).
    void setStation(int address);
    int station() const { return station_.load(); }

    // Applies fault to the next `requests` requests addressed to this
    // simulator (kForever: until the next setFault), then answers normally
    // again. Writes take effect under every fault but Silent and Exception:
    // the request arrived, only the reply is lost or spoiled.
    void setFault(Fault fault, int requests = kForever);
    Fault fault() const;
    void setSlowDelay(std::chrono::milliseconds delay);
    void setExceptionCode(int code);

    // When enabled, every reply leaves only after the time its exchange needs
    // on a real line of that format (wiretiming.h).
    void setWireTiming(bool enabled, int baud = 9600, char parity = 'N');

    // Requests addressed to this simulator, and replies written to the line,
    // since construction.
    std::uint64_t requestCount() const;
    std::uint64_t replyCount() const;
    // Wait until the count reaches n; false when the deadline passes first.
    bool waitForRequests(std::uint64_t n, int deadlineMs) const;
    bool waitForReplies(std::uint64_t n, int deadlineMs) const;
    // The last request frame received, CRC included.
    std::vector<std::uint8_t> lastRequest() const;

private:
    struct Settings {
        Fault fault = Fault::None;
        int faultBudget = kForever;
        std::chrono::milliseconds slowDelay = kDefaultSlowDelay;
        int exceptionCode = 0;
        bool wireTiming = false;
        LineFormat line;
    };

    bool openPty();
    bool makeContexts();
    void closeAll();
    void serve();
    void resetReceiver();
    void handle(const std::uint8_t *request, int length);
    std::vector<std::uint8_t> takeReply();
    std::vector<std::uint8_t> garbage(std::size_t length);
    bool writeToLine(const std::vector<std::uint8_t> &bytes);
    // Sleeps until `until`; false when stop() interrupted the wait.
    bool waitUntil(std::chrono::steady_clock::time_point until);
    bool waitForCount(const std::uint64_t &counter, std::uint64_t n, int deadlineMs) const;

    const int port_;
    std::atomic<int> station_;

    std::mutex lifecycle_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    int masterFd_ = -1;
    int slaveFd_ = -1;
    int pipe_[2] = {-1, -1};
    modbus_t *rx_ = nullptr;
    modbus_t *tx_ = nullptr;
    std::mt19937 random_;

    mutable std::mutex state_;
    mutable std::condition_variable changed_;
    Settings settings_;
    QString slavePath_;
    QString madeLink_;
    QString startError_;  // for the thread that calls start()
    int answering_ = 0;  // the address the server thread has taken over
    std::uint64_t requests_ = 0;
    std::uint64_t replies_ = 0;
    std::vector<std::uint8_t> lastRequest_;
};

} // namespace station::sim
