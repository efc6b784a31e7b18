#include "link/linkthread.h"

#include "link/backend.h"
#include "link/libmodbusbackend.h"
#include "link/modbusrtu.h"
#include "link/portpath.h"

#include "common/logging.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <algorithm>

namespace station::link {

namespace {

thread_local bool t_onLinkThread = false;

// The backend's last failure; a backend that keeps none gives the result.
LinkFailure failureOf(std::int32_t result)
{
    LinkFailure failure = backend().lastFailure();
    if (failure.fault == LinkFault::None)
        failure = {LinkFault::Other, result, QStringLiteral("result %1").arg(result), {}};
    return failure;
}

// The outcomes of the last writes, before the event loop may end: delivered
// at once when called on the thread they are delivered on.
void deliverLastOutcomes()
{
    WriteOutcomes &outcomes = writeOutcomes();
    if (QThread::currentThread() == outcomes.thread())
        outcomes.deliver();
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
        m_ended = false;
        m_thread = std::thread([this] { run(); });
    }
}

bool LinkThread::Job::isRead() const
{
    if (work)
        return false;
    switch (request.op) {
    case Op::ReadInput:
    case Op::ReadHolding:
    case Op::ReadDiscrete:
    case Op::ReadCoils: return true;
    default: return false;
    }
}

WriteReport LinkThread::reportOf(const Job &job, WriteOutcome outcome)
{
    WriteReport r;
    r.port = job.request.port;
    r.station = job.request.station;
    r.reg = job.request.first;
    r.value = job.request.value;
    r.outcome = outcome;
    r.tag = job.tag;
    return r;
}

void LinkThread::post(const Request &request, QObject *context, Done done, const void *owner, const QVariant &tag)
{
    Job job;
    job.request = request;
    job.context = context;
    job.hasContext = context != nullptr;
    job.done = std::move(done);
    job.owner = owner;
    job.tag = tag;
    std::vector<WriteReport> replaced;
    {
        std::lock_guard lock(m_mutex);
        ensureRunning();
        if (request.op == Op::Open)
            ++m_opensPosted;
        if (job.isWrite() && !job.done && !owner) {
            // The operator's latest value wins: the queued write to the same
            // register that has not started goes, unless a barrier lies between.
            for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
                if (it->isBarrier())
                    break;
                const Request &q = it->request;
                if (it->isWrite() && !it->done && !it->owner && q.port == request.port
                    && q.station == request.station && q.first == request.first) {
                    replaced.push_back(reportOf(*it, WriteOutcome::Replaced));
                    m_queue.erase(std::next(it).base());
                    break;
                }
            }
        }
        m_queue.push_back(std::move(job));
        m_wake.notify_one();
    }
    for (WriteReport &r : replaced) {
        qCDebug(lcLink, "write %d = %d replaced by %d before it went out", r.reg, r.value, request.value);
        writeOutcomes().report(std::move(r));
    }
}

void LinkThread::dropJobs(std::deque<Job> &jobs, bool atExit)
{
    for (Job &j : jobs) {
        if (j.work) {
            *j.workResult = j.workIfDropped;
            *j.workDone = true;
        } else if (j.isWrite()) {
            if (atExit)
                qCWarning(lcLink, "write to register %d = %d (port %d, station %d) never went out: dropped at exit",
                          j.request.first, j.request.value, j.request.port, j.request.station);
            writeOutcomes().report(reportOf(j, WriteOutcome::Dropped));
        }
    }
    jobs.clear();
    m_idle.notify_all();
}

int LinkThread::cancel(const void *owner)
{
    if (!owner)
        return 0;
    std::lock_guard lock(m_mutex);
    std::deque<Job> dropped;
    std::deque<Job> kept;
    for (Job &j : m_queue)
        (j.owner == owner ? dropped : kept).push_back(std::move(j));
    m_queue = std::move(kept);
    const int count = int(dropped.size());
    if (count)
        dropJobs(dropped);
    return count;
}

bool LinkThread::drain(std::chrono::milliseconds bound)
{
    if (onLinkThread())
        return m_queue.empty();
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, bound, [this] { return m_queue.empty() && !m_busy; });
}

std::int32_t LinkThread::call(const std::function<std::int32_t()> &work, std::int32_t ifDropped)
{
    if (onLinkThread())
        return work();
    std::int32_t result = 0;
    bool done = false;
    Job job;
    job.work = work;
    job.workResult = &result;
    job.workDone = &done;
    job.workIfDropped = ifDropped;
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
    {
        std::lock_guard lock(m_mutex);
        m_held = false;
        m_wake.notify_all();
    }
    const bool drained = drain(bound);
    {
        std::lock_guard lock(m_mutex);
        if (!m_thread.joinable())
            return;
        if (!drained) {
            qCDebug(lcLink) << "link thread: dropping" << m_queue.size() << "requests at the end";
            dropJobs(m_queue, true);
        }
        m_stopping = true;
        m_wake.notify_all();
    }
    m_thread.join();
    {
        std::lock_guard lock(m_mutex);
        m_thread = std::thread();
        m_stopping = false;
    }
    deliverLastOutcomes();
}

void LinkThread::hold()
{
    std::lock_guard lock(m_mutex);
    m_held = true;
}

bool LinkThread::finishBy(std::chrono::steady_clock::time_point queueUntil)
{
    if (onLinkThread())
        return false;
    bool ended = true;
    {
        std::unique_lock lock(m_mutex);
        if (m_thread.joinable()) {
            m_held = false;
            m_wake.notify_all();
            const bool drained
                = m_idle.wait_until(lock, queueUntil, [this] { return m_queue.empty() && !m_busy; });
            if (!drained)
                dropJobs(m_queue, true);
            m_stopping = true;
            m_wake.notify_all();
            ended = m_idle.wait_until(lock, queueUntil, [this] { return m_ended; });
            // A thread between exchanges (a lost link gives the queue no time
            // at all) only has to wake up and return: that much is waited for.
            if (!ended && !m_busy)
                ended = m_idle.wait_for(lock, kWakeUp, [this] { return m_ended; });
            if (!ended && m_busy && m_current.op == Op::Write)
                qCWarning(lcLink, "write to register %d = %d (port %d, station %d) was on the line when the station "
                                  "ended: whether it was taken is not known",
                          m_current.first, m_current.value, m_current.port, m_current.station);
        }
    }
    if (ended)
        finish(std::chrono::milliseconds(0));  // joins the thread that has returned
    deliverLastOutcomes();
    return ended;
}

LinkStatus LinkThread::status() const
{
    std::lock_guard lock(m_mutex);
    LinkStatus s = m_status;
    s.writesWaiting = int(std::count_if(m_queue.begin(), m_queue.end(), [](const Job &j) { return j.isWrite(); }))
                      + (m_busyWriting ? 1 : 0);
    return s;
}

std::uint64_t LinkThread::opensPosted() const
{
    std::lock_guard lock(m_mutex);
    return m_opensPosted;
}

LinkThread::Job LinkThread::takeNext()
{
    auto pick = m_queue.begin();
    if (m_lastWasWrite && pick->isWrite()) {
        // Writes and reads take turns: a read waiting behind more writes goes now.
        for (auto it = m_queue.begin(); it != m_queue.end(); ++it) {
            if (it->isBarrier())
                break;
            if (it->isRead()) {
                pick = it;
                break;
            }
        }
    }
    Job job = std::move(*pick);
    m_queue.erase(pick);
    m_lastWasWrite = job.isWrite();
    return job;
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
        m_wake.wait(lock, [this] { return (!m_queue.empty() && !m_held) || m_stopping; });
        if (m_queue.empty())
            break; // stopping, and nothing left
        Job job = takeNext();
        m_busy = true;
        m_busyWriting = job.isWrite();
        m_current = job.request;
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

        WriteReport written = reportOf(job, WriteOutcome::Answered);
        Reply reply = execute(job.request, job.isWrite() ? &written : nullptr);
        if (job.isWrite())
            writeOutcomes().report(std::move(written));
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
        m_busyWriting = false;
        m_idle.notify_all();
    }
    m_ended = true;
    m_idle.notify_all();
}

void LinkThread::note(std::int32_t result, bool good, std::int32_t port)
{
    const LinkFailure failure = good ? LinkFailure{} : failureOf(result);
    const LineTimeouts line = backend().lineTimeouts(port);
    std::lock_guard lock(m_mutex);
    m_status.line = line;
    if (good) {
        ++m_status.good;
        m_status.lastGood = QDateTime::currentDateTime();
        m_status.lastGoodAt = std::chrono::steady_clock::now();
    } else {
        ++m_status.failed;
        m_status.lastFailure = failure;
    }
}

Reply LinkThread::execute(const Request &r, WriteReport *written)
{
    Reply reply;
    // Room for what the call may fill, however odd the count.
    const std::size_t room = std::size_t(std::clamp(r.count, 1, 0xFFFF));
    std::vector<std::int32_t> words;
    switch (r.op) {
    case Op::Open: {
        reply.result = OpenPort_Modbus(r.port, r.first, r.count);
        const bool failed = reply.result != kOk;
        const LinkFailure failure = failed ? failureOf(reply.result) : LinkFailure{};
        const QString device = portDevicePath(r.port);
        const LineTimeouts line = backend().lineTimeouts(r.port);
        std::lock_guard lock(m_mutex);
        m_status.device = device;
        m_status.lastFailure = failure;
        m_status.openFailed = failed;
        m_status.good = 0;
        m_status.failed = 0;
        m_status.lastGood = QDateTime();
        m_status.lastGoodAt = {};
        m_status.line = line;
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
        // A value no register word holds is refused before the line, both
        // times: not an exchange, so not counted.
        const bool sent = isRegisterWord(r.value);
        reply.result = Set_4X_D1(r.port, r.station, r.first, r.value);
        if (sent)
            note(reply.result, reply.result != kWriteFailed, r.port);
        std::int32_t second = 0;
        const bool retried = r.retry && reply.result == kWriteFailed;
        if (retried) {
            second = Set_4X_D1(r.port, r.station, r.first, r.value);
            if (sent)
                note(second, second != kWriteFailed, r.port);
            qCDebug(lcLink, "write %d = %d failed, retried: %d", r.first, r.value, second);
        }
        if (written) {
            written->result = reply.result;
            written->retryResult = second;
            const std::int32_t last = retried ? second : reply.result;
            if (!sent)
                written->outcome = WriteOutcome::Refused;
            else if (last == kWriteFailed)
                written->outcome = WriteOutcome::Failed;
            else
                written->outcome = retried ? WriteOutcome::AnsweredOnRetry : WriteOutcome::Answered;
            if (written->outcome == WriteOutcome::Failed)
                written->failure = failureOf(last);
        }
        return reply;
    }
    }
    note(reply.result, reply.result == kOk, r.port);
    if (reply.result == kOk) {
        if (r.op == Op::ReadInput || r.op == Op::ReadHolding)
            words.resize(std::size_t(std::max(r.count, 0)));
        reply.words = std::move(words);
    }
    return reply;
}

} // namespace station::link
