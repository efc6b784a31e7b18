#include "link/linkthread.h"

#include "link/backend.h"
#include "link/libmodbusbackend.h"
#include "link/modbusrtu.h"
#include "link/portpath.h"

#include "common/logging.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

namespace station::link {

namespace {

thread_local bool t_onLinkThread = false;

QString failureText(std::int32_t result)
{
    const QString words = backend().lastError();
    if (!words.isEmpty())
        return words;
    return QStringLiteral("result %1").arg(result);
}

} // namespace

LinkThread &LinkThread::instance()
{
    // The libmodbus backend is made first, so that it outlives the thread that
    // uses it when statics are destroyed at exit.
    LibmodbusBackend::instance();
    static LinkThread thread;
    return thread;
}

LinkThread::LinkThread() = default;

LinkThread::~LinkThread()
{
    finish(std::chrono::seconds(5));
}

bool LinkThread::onLinkThread()
{
    return t_onLinkThread;
}

void LinkThread::ensureRunning()
{
    // With m_mutex held.
    if (!m_thread.joinable()) {
        m_stopping = false;
        m_thread = std::thread([this] { run(); });
    }
}

void LinkThread::post(const Request &request, QObject *context, Done done, const void *owner)
{
    Job job;
    job.request = request;
    job.context = context;
    job.hasContext = context != nullptr;
    job.done = std::move(done);
    job.owner = owner;
    std::lock_guard lock(m_mutex);
    ensureRunning();
    m_queue.push_back(std::move(job));
    m_wake.notify_one();
}

int LinkThread::cancel(const void *owner)
{
    if (!owner)
        return 0;
    std::lock_guard lock(m_mutex);
    const auto before = m_queue.size();
    m_queue.erase(std::remove_if(m_queue.begin(), m_queue.end(), [owner](const Job &j) { return j.owner == owner; }),
                  m_queue.end());
    const int dropped = int(before - m_queue.size());
    if (dropped)
        m_idle.notify_all();
    return dropped;
}

bool LinkThread::drain(std::chrono::milliseconds bound)
{
    if (onLinkThread())
        return m_queue.empty();
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, bound, [this] { return m_queue.empty() && !m_busy; });
}

std::int32_t LinkThread::call(const std::function<std::int32_t()> &work)
{
    if (onLinkThread())
        return work();
    std::int32_t result = 0;
    bool done = false;
    Job job;
    job.work = work;
    job.workResult = &result;
    job.workDone = &done;
    std::unique_lock lock(m_mutex);
    ensureRunning();
    m_queue.push_back(std::move(job));
    m_wake.notify_one();
    m_idle.wait(lock, [&done] { return done; });
    return result;
}

void LinkThread::finish(std::chrono::milliseconds bound)
{
    if (onLinkThread())
        return;
    const bool drained = drain(bound);
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable())
            return;
        if (!drained) {
            qCDebug(lcLink) << "link thread: dropping" << m_queue.size() << "requests at the end";
            m_queue.clear();
        }
        m_stopping = true;
        m_wake.notify_all();
    }
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_thread = std::thread();
    m_stopping = false;
}

LinkStatus LinkThread::status() const
{
    std::lock_guard lock(m_mutex);
    return m_status;
}

int LinkThread::pending() const
{
    std::lock_guard lock(m_mutex);
    return int(m_queue.size()) + (m_busy ? 1 : 0);
}

void LinkThread::run()
{
    t_onLinkThread = true;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        if (m_queue.empty())
            break; // stopping, and nothing left
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();

        if (job.work) {
            const std::int32_t result = job.work();
            lock.lock();
            *job.workResult = result;
            *job.workDone = true;
            m_busy = false;
            m_idle.notify_all();
            continue;
        }

        Reply reply = execute(job.request);
        // The reply goes back through the application object, which lives on
        // the GUI thread for the whole run; the context is looked at there,
        // where it lives, and a context that is gone gets nothing.
        if (job.done && job.hasContext) {
            if (QCoreApplication *app = QCoreApplication::instance())
                QMetaObject::invokeMethod(
                    app,
                    [context = job.context, done = std::move(job.done), reply = std::move(reply)] {
                        if (context)
                            done(reply);
                    },
                    Qt::QueuedConnection);
        }
        lock.lock();
        m_busy = false;
        m_idle.notify_all();
    }
}

void LinkThread::note(std::int32_t result, bool good)
{
    const QString error = good ? QString() : failureText(result);
    std::lock_guard lock(m_mutex);
    if (good) {
        ++m_status.good;
        m_status.lastGood = QDateTime::currentDateTime();
        m_status.lastGoodAt = std::chrono::steady_clock::now();
    } else {
        ++m_status.failed;
        m_status.lastError = error;
    }
}

Reply LinkThread::execute(const Request &r)
{
    Reply reply;
    // Room for what the call may fill, however odd the count.
    const std::size_t room = std::size_t(std::clamp(r.count, 1, 0xFFFF));
    std::vector<std::int32_t> words;
    switch (r.op) {
    case Op::Open: {
        reply.result = OpenPort_Modbus(r.port, r.first, r.count);
        const QString error = reply.result == kOk ? QString() : failureText(reply.result);
        const QString device = portDevicePath(r.port);
        std::lock_guard lock(m_mutex);
        m_status.device = device;
        m_status.lastError = error;
        m_status.good = 0;
        m_status.failed = 0;
        m_status.lastGood = QDateTime();
        m_status.lastGoodAt = {};
        ++m_status.opens;
        return reply;
    }
    case Op::Close:
        reply.result = ClosePort_Modbus(r.port);
        return reply;
    case Op::ReadInput:
    case Op::ReadHolding:
        words.assign(room, 0);
        reply.result = r.op == Op::ReadInput ? Get_3X_DX(r.port, r.station, r.first, r.count, words.data())
                                             : Get_4X_DX(r.port, r.station, r.first, r.count, words.data());
        break;
    case Op::ReadDiscrete:
    case Op::ReadCoils:
        words.assign(2, -1);
        reply.result = r.op == Op::ReadDiscrete ? Get_1X_B16(r.port, r.station, r.first, words.data())
                                                : Get_0X_B16(r.port, r.station, r.first, words.data());
        break;
    case Op::Write: {
        reply.result = Set_4X_D1(r.port, r.station, r.first, r.value);
        note(reply.result, reply.result != kWriteFailed);
        if (r.retry && reply.result == kWriteFailed) {
            const std::int32_t second = Set_4X_D1(r.port, r.station, r.first, r.value);
            note(second, second != kWriteFailed);
            qCDebug(lcLink, "write %d = %d failed, retried: %d", r.first, r.value, second);
        }
        return reply;
    }
    }
    note(reply.result, reply.result == kOk);
    if (reply.result == kOk) {
        if (r.op == Op::ReadInput || r.op == Op::ReadHolding)
            words.resize(std::size_t(std::max(r.count, 0)));
        reply.words = std::move(words);
    }
    return reply;
}

} // namespace station::link
