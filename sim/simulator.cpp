#include "sim/simulator.h"

#include "common/datadir.h"
#include "common/logging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <modbus.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

// How the server works. The pty master is the controller's end of the line.
// A receive context reads requests from it with modbus_receive(); a second
// context whose socket is the write end of a pipe builds the reply with
// modbus_reply(), which computes the CRC. The reply bytes are then taken back
// from the pipe, spoiled or held back as the fault and the wire timing say,
// and written to the master. Neither context is ever connected or closed with
// modbus_close(): their descriptors belong to this class.
//
// The receive context waits at most kIndicationTimeout for the first byte of
// a request, so the thread notices stop() within that time; a frame already
// begun is read to its end or for at most kByteTimeout more.

namespace station::sim {

namespace {

constexpr std::chrono::milliseconds kIndicationTimeout{50};
constexpr std::chrono::milliseconds kByteTimeout{100};
// A reply the station does not read within this time is dropped rather than
// blocking the server (only possible when the pty's input queue is full).
constexpr std::chrono::milliseconds kWriteGiveUp{1000};
constexpr std::chrono::milliseconds kPollSlice{50};
constexpr std::chrono::milliseconds kErrorBackoff{10};
constexpr std::chrono::milliseconds kStationChangeWait{2000};
constexpr int kIllegalDataAddress = MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
constexpr int kMinStation = 1;
constexpr int kMaxStation = 247;
constexpr std::uint32_t kGarbageSeed = 0x6100;

// The CRC of Modbus RTU frames (polynomial 0xA001 reflected, start 0xFFFF),
// low byte sent first.
std::uint16_t crc16(const std::uint8_t *data, std::size_t length)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

modbus_t *newContext(int fd)
{
    // The device name is only stored: the context is never connected.
    modbus_t *ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    if (ctx)
        modbus_set_socket(ctx, fd);
    return ctx;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void configureReceiver(modbus_t *ctx, int station)
{
    modbus_set_slave(ctx, station);
    modbus_set_indication_timeout(ctx, 0, std::chrono::microseconds(kIndicationTimeout).count());
    modbus_set_byte_timeout(ctx, 0, std::chrono::microseconds(kByteTimeout).count());
}

bool setCloseOnExec(int fd)
{
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

} // namespace

const char *faultName(Fault fault)
{
    switch (fault) {
    case Fault::None: return "none";
    case Fault::Silent: return "silent";
    case Fault::Slow: return "slow";
    case Fault::BadCrc: return "bad CRC";
    case Fault::Exception: return "exception";
    case Fault::Garbage: return "garbage";
    }
    return "?";
}

Simulator::Simulator(int port, int station)
    : port_(port)
    , station_(station)
    , random_(kGarbageSeed)
{
    settings_.exceptionCode = kIllegalDataAddress;
}

Simulator::~Simulator()
{
    stop();
}

QString Simulator::linkPath() const
{
    return dataDir() + QStringLiteral("/serial/com") + QString::number(port_);
}

QString Simulator::foreignEntry(const QString &link)
{
    const QByteArray name = QFile::encodeName(link);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return {};  // nothing there
    if (!S_ISLNK(st.st_mode))
        return QStringLiteral("%1 is not a link; left as it is").arg(link);
    char target[PATH_MAX] = {};
    const ssize_t n = ::readlink(name.constData(), target, sizeof target - 1);
    const QString to = n > 0 ? QFile::decodeName(QByteArray(target, static_cast<int>(n))) : QString();
    if (to.startsWith(QLatin1String(kPtyFolder)))
        return {};
    return QStringLiteral("%1 links to %2, not to a simulator; left as it is").arg(link, to);
}

QString Simulator::startError() const
{
    return startError_;
}

QString Simulator::slavePath() const
{
    std::lock_guard lock(state_);
    return slavePath_;
}

bool Simulator::isRunning() const
{
    std::lock_guard lock(state_);
    return !slavePath_.isEmpty();
}

bool Simulator::start()
{
    std::lock_guard life(lifecycle_);
    if (thread_.joinable())
        return true;
    startError_.clear();

    // The link is replaced only when it is a simulator's own (to a pty, live
    // or left behind by a run that crashed): a link to a real port, or a file
    // of that name, belongs to the operator.
    const QString link = linkPath();
    if (const QString foreign = foreignEntry(link); !foreign.isEmpty()) {
        startError_ = foreign;
        qCInfo(lcSim) << foreign;
        return false;
    }

    if (!openPty() || !makeContexts()) {
        closeAll();
        return false;
    }

    // The link: <data folder>/serial/com<port> -> /dev/pts/N, replacing an old
    // link of a simulator.
    QDir().mkpath(QFileInfo(link).absolutePath());
    const QByteArray linkName = QFile::encodeName(link);
    const QByteArray target = QFile::encodeName(slavePath());
    ::unlink(linkName.constData());
    if (::symlink(target.constData(), linkName.constData()) != 0) {
        startError_ = QStringLiteral("cannot link %1 to %2: %3").arg(link, slavePath(), QString::fromLocal8Bit(std::strerror(errno)));
        qCWarning(lcSim) << startError_;
        closeAll();
        return false;
    }
    {
        std::lock_guard lock(state_);
        madeLink_ = link;
    }

    stopping_ = false;
    thread_ = std::thread(&Simulator::serve, this);
    qCInfo(lcSim) << "serving station" << station() << "on" << link << "->" << slavePath();
    return true;
}

bool Simulator::openPty()
{
    masterFd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd_ < 0 || ::grantpt(masterFd_) != 0 || ::unlockpt(masterFd_) != 0) {
        qCWarning(lcSim) << "cannot open a pty:" << std::strerror(errno);
        return false;
    }
    char name[PATH_MAX] = {};
    if (::ptsname_r(masterFd_, name, sizeof name) != 0) {
        qCWarning(lcSim) << "ptsname failed:" << std::strerror(errno);
        return false;
    }
    // The master is non-blocking so that a reply nobody reads cannot stall
    // the server (writeToLine polls instead).
    ::fcntl(masterFd_, F_SETFL, ::fcntl(masterFd_, F_GETFL) | O_NONBLOCK);
    setCloseOnExec(masterFd_);

    // Holding the slave open keeps the master readable without EIO while no
    // station has the port open, and fixes the line discipline to raw.
    slaveFd_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveFd_ < 0) {
        qCWarning(lcSim) << "cannot open" << name << ":" << std::strerror(errno);
        return false;
    }
    termios tio{};
    if (::tcgetattr(slaveFd_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(slaveFd_, TCSANOW, &tio);
    }

    if (::pipe2(pipe_, O_NONBLOCK | O_CLOEXEC) != 0) {
        qCWarning(lcSim) << "pipe failed:" << std::strerror(errno);
        return false;
    }

    std::lock_guard lock(state_);
    slavePath_ = QString::fromLocal8Bit(name);
    return true;
}

bool Simulator::makeContexts()
{
    rx_ = newContext(masterFd_);
    tx_ = newContext(pipe_[1]);
    if (!rx_ || !tx_) {
        qCWarning(lcSim) << "cannot create a libmodbus context";
        return false;
    }
    configureReceiver(rx_, station());
    std::lock_guard lock(state_);
    answering_ = station();
    return true;
}

void Simulator::resetReceiver()
{
    // After a request for another station, libmodbus expects that station's
    // reply next and would swallow our own station's next request as that
    // reply. This pty has no other station, so start again with a fresh context.
    modbus_t *fresh = newContext(masterFd_);
    if (!fresh)
        return;
    configureReceiver(fresh, modbus_get_slave(rx_));
    modbus_free(rx_);
    rx_ = fresh;
}

void Simulator::stop()
{
    std::lock_guard life(lifecycle_);
    if (thread_.joinable()) {
        {
            std::lock_guard lock(state_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    closeAll();
}

void Simulator::closeAll()
{
    QString link;
    QString slave;
    {
        std::lock_guard lock(state_);
        link = std::exchange(madeLink_, QString());
        slave = std::exchange(slavePath_, QString());
    }
    // Remove the link only while it is still ours: another simulator may have
    // replaced it since.
    if (!link.isEmpty()) {
        const QByteArray linkName = QFile::encodeName(link);
        char target[PATH_MAX] = {};
        const ssize_t n = ::readlink(linkName.constData(), target, sizeof target - 1);
        if (n > 0 && QFile::decodeName(QByteArray(target, static_cast<int>(n))) == slave) {
            ::unlink(linkName.constData());
            qCInfo(lcSim) << "removed" << link;
        }
    }

    if (rx_)
        modbus_free(rx_);
    if (tx_)
        modbus_free(tx_);
    rx_ = tx_ = nullptr;
    closeFd(pipe_[0]);
    closeFd(pipe_[1]);
    closeFd(slaveFd_);
    closeFd(masterFd_);
}

void Simulator::vanish()
{
    qCInfo(lcSim) << "vanishing from" << linkPath();
    stop();
}

bool Simulator::reappear()
{
    qCInfo(lcSim) << "reappearing on" << linkPath();
    return start();
}

void Simulator::setStation(int address)
{
    if (address < kMinStation || address > kMaxStation) {
        qCWarning(lcSim) << "station address out of range:" << address;
        return;
    }
    std::unique_lock lock(state_);
    station_ = address;
    // The server takes the address over between two requests, within the
    // indication time-out unless it is holding a reply back; wait for that so
    // the next request is judged by the new address.
    if (!slavePath_.isEmpty())
        changed_.wait_for(lock, kStationChangeWait, [&] { return answering_ == address || stopping_; });
}

void Simulator::setFault(Fault fault, int requests)
{
    std::lock_guard lock(state_);
    settings_.fault = requests == 0 ? Fault::None : fault;
    settings_.faultBudget = requests < 0 ? kForever : requests;
    qCInfo(lcSim) << "fault" << faultName(settings_.fault) << "for" << requests << "requests";
}

Fault Simulator::fault() const
{
    std::lock_guard lock(state_);
    return settings_.fault;
}

void Simulator::setSlowDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(state_);
    settings_.slowDelay = delay;
}

void Simulator::setExceptionCode(int code)
{
    std::lock_guard lock(state_);
    settings_.exceptionCode = code;
}

void Simulator::setWireTiming(bool enabled, int baud, char parity)
{
    std::lock_guard lock(state_);
    settings_.wireTiming = enabled;
    settings_.line = LineFormat{baud, parity, 0};
}

std::uint64_t Simulator::requestCount() const
{
    std::lock_guard lock(state_);
    return requests_;
}

std::uint64_t Simulator::replyCount() const
{
    std::lock_guard lock(state_);
    return replies_;
}

bool Simulator::waitForCount(const std::uint64_t &counter, std::uint64_t n, int deadlineMs) const
{
    std::unique_lock lock(state_);
    return changed_.wait_for(lock, std::chrono::milliseconds(deadlineMs), [&] { return counter >= n; });
}

bool Simulator::waitForRequests(std::uint64_t n, int deadlineMs) const
{
    return waitForCount(requests_, n, deadlineMs);
}

bool Simulator::waitForReplies(std::uint64_t n, int deadlineMs) const
{
    return waitForCount(replies_, n, deadlineMs);
}

std::vector<std::uint8_t> Simulator::lastRequest() const
{
    std::lock_guard lock(state_);
    return lastRequest_;
}

bool Simulator::waitUntil(std::chrono::steady_clock::time_point until)
{
    std::unique_lock lock(state_);
    return !changed_.wait_until(lock, until, [this] { return stopping_.load(); });
}

void Simulator::serve()
{
    std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    int answering = modbus_get_slave(rx_);
    while (!stopping_) {
        if (station() != answering) {
            answering = station();
            modbus_set_slave(rx_, answering);
            {
                std::lock_guard lock(state_);
                answering_ = answering;
            }
            changed_.notify_all();
        }
        const int length = modbus_receive(rx_, request);
        if (stopping_)
            break;
        if (length > 0) {
            handle(request, length);
            continue;
        }
        if (length == 0) {
            qCDebug(lcSim) << "ignored a request for another station";
            resetReceiver();
            continue;
        }
        const int error = errno;
        if (error == ETIMEDOUT)
            continue;  // no request within the indication time-out, or a frame cut short
        qCDebug(lcSim) << "receive failed:" << modbus_strerror(error);
        if (error != EMBBADCRC && error != EMBBADDATA)
            waitUntil(std::chrono::steady_clock::now() + kErrorBackoff);
    }
}

void Simulator::handle(const std::uint8_t *request, int length)
{
    const auto received = std::chrono::steady_clock::now();
    // The receive context learns a new address only between two requests;
    // this check covers a request read while it still had the old one.
    if (request[0] != station() && request[0] != MODBUS_BROADCAST_ADDRESS) {
        qCDebug(lcSim) << "ignored a request for station" << request[0];
        return;
    }
    Settings now;
    {
        std::lock_guard lock(state_);
        ++requests_;
        lastRequest_.assign(request, request + length);
        now = settings_;
        if (settings_.fault != Fault::None && settings_.faultBudget > 0 && --settings_.faultBudget == 0)
            settings_.fault = Fault::None;
    }
    changed_.notify_all();

    if (now.fault == Fault::Silent) {
        qCDebug(lcSim) << "silent: request of" << length << "bytes not answered";
        return;
    }
    if (now.fault == Fault::Exception)
        modbus_reply_exception(tx_, request, now.exceptionCode);
    else
        answer(tx_, request, length);

    std::vector<std::uint8_t> reply = takeReply();
    if (reply.empty())
        return;  // a broadcast, which is never answered
    const std::size_t replyLength = reply.size();

    if (now.fault == Fault::BadCrc)
        reply.back() ^= 0xFF;
    else if (now.fault == Fault::Garbage)
        reply = garbage(replyLength);

    auto due = received;
    if (now.wireTiming)
        due += exchangeTime(now.line, length, static_cast<int>(replyLength));
    if (now.fault == Fault::Slow)
        due += now.slowDelay;
    if (!waitUntil(due))
        return;

    if (writeToLine(reply)) {
        {
            std::lock_guard lock(state_);
            ++replies_;
        }
        changed_.notify_all();
    }
}

std::vector<std::uint8_t> Simulator::takeReply()
{
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        const ssize_t n = ::read(pipe_[0], chunk, sizeof chunk);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

std::vector<std::uint8_t> Simulator::garbage(std::size_t length)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(length);
    for (auto &b : bytes)
        b = static_cast<std::uint8_t>(byte(random_));
    // Make sure the noise is not by chance a well-formed frame.
    if (length >= 3) {
        const std::uint16_t crc = crc16(bytes.data(), length - 2);
        if (bytes[length - 2] == (crc & 0xFF) && bytes[length - 1] == (crc >> 8))
            bytes[length - 1] ^= 0xFF;
    }
    return bytes;
}

bool Simulator::writeToLine(const std::vector<std::uint8_t> &bytes)
{
    const auto giveUp = std::chrono::steady_clock::now() + kWriteGiveUp;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(masterFd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            qCDebug(lcSim) << "write to the line failed:" << std::strerror(errno);
            return false;
        }
        if (stopping_ || std::chrono::steady_clock::now() > giveUp) {
            qCDebug(lcSim) << "reply dropped: the line does not take it";
            return false;
        }
        pollfd pfd{masterFd_, POLLOUT, 0};
        ::poll(&pfd, 1, static_cast<int>(kPollSlice.count()));
    }
    return true;
}

} // namespace station::sim
