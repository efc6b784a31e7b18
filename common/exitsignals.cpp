#include "common/exitsignals.h"

#include "common/logging.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace station {

namespace {

int g_fds[2] = {-1, -1};  // [0] read by the notifier, [1] written by the handler
constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Lock-free atomics may be used from a signal handler.
std::atomic<bool> g_ending{false};
std::atomic<long long> g_endBeganNs{0};  // the first signal, CLOCK_MONOTONIC (the steady clock's)
std::atomic<bool> g_deadlineArmed{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<long long>::is_always_lock_free);

long long monotonicNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);  // async-signal-safe
    return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

void onSignal(int signalNumber)
{
    if (g_ending.exchange(true)) {
        // A signal while the end runs: the process ends now, by this signal.
        ::signal(signalNumber, SIG_DFL);
        ::raise(signalNumber);
        return;
    }
    const int saved = errno;
    g_endBeganNs = monotonicNs();
    const char byte = char(signalNumber);
    // Non-blocking: a full pipe (signals faster than the GUI thread reads)
    // loses a byte, never hangs the handler; one byte is enough to end.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[1], &byte, 1);
    errno = saved;
}

} // namespace

ExitSignals::ExitSignals(QObject *parent) : QObject(parent)
{
    Q_ASSERT(g_fds[0] < 0);
    g_ending = false;
    g_endBeganNs = 0;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_fds) != 0) {
        qCInfo(lcRecord) << "no exit signal pipe:" << strerror(errno);
        g_fds[0] = g_fds[1] = -1;
        return;
    }
    m_notifier = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::drain);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
}

ExitSignals::~ExitSignals()
{
    if (!m_notifier)
        return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals)
        ::sigaction(s, &action, nullptr);
    delete m_notifier;
    m_notifier = nullptr;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void ExitSignals::beginEnd()
{
    g_ending = true;
}

ExitSignals::Clock::time_point ExitSignals::signalledAt()
{
    return Clock::time_point(std::chrono::nanoseconds(g_endBeganNs.load()));
}

void ExitSignals::armDeadline(Clock::time_point at, int code)
{
    if (g_deadlineArmed.exchange(true))
        return;
    std::thread([at, code] {
        std::this_thread::sleep_until(at);
        static const char line[] = "lx6100-station: the end ran past its time; ending now\n";
        [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, line, sizeof line - 1);
        ::_exit(code);
    }).detach();
}

void ExitSignals::drain()
{
    char bytes[16];
    ssize_t n;
    while ((n = ::read(g_fds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < n; ++i)
            emit received(int(bytes[i]));
    }
}

} // namespace station
