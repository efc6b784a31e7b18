// The link thread: the one thread that talks to the serial line.
//
// Threads and ownership
//   Every exchange with the controller runs on one thread of its own, started
//   on first use and ended at exit. It is the only thread that calls the
//   backend (link/backend.h), so the libmodbus contexts, the port table and the
//   out-of-step state of LibmodbusBackend are touched by this thread alone and
//   libmodbus is never entered from two threads. The GUI thread never waits
//   for the line: it hands requests over and gets the results back as queued
//   events.
//
// How a request travels
//   1. A window, the poller or the program editor posts a Request (operation,
//      port, station, register, count or value) with post(), from the GUI
//      thread. Port and station are copied from the link settings at that
//      moment. post() takes a lock, appends to a FIFO queue and returns.
//   2. The link thread takes requests in order, one at a time, and carries each
//      out through the seven operations (link/modbusrtu.h), which call the
//      backend directly on this thread. A write with the retry flag issues one
//      more identical Set_4X_D1 when the first answers -8888; the retry is
//      decided here, so nobody waits for a result only to decide on a retry.
//      Set_4X_D1 stays the single gate every write passes through.
//   3. The result (and the words a read returned) goes back as a queued call
//      on the requester's context object: it runs on the GUI thread, in the GUI
//      thread's own time, and never runs once that object is gone.
//   The seven operations keep their synchronous form for callers that want it
//   (tests, benchmarks, tools): called on any other thread, an operation posts
//   itself to the link thread and waits for it there (call()). The station's
//   windows never use that form.
//
// Why the wire order is what it was
//   The queue is FIFO and the poller (link/poller.h) and the program editor's
//   block read post their next read only once the previous one has come back
//   and been stored on the GUI thread, and only after one more turn of the
//   event loop (a queued hop): window events that were pending when a read
//   completed run before the next read is posted. So the reads of a cycle go
//   out in their fixed order; a write made by a window during a cycle is queued
//   between two reads and goes out between them, never inside an exchange;
//   each read still updates its part of the register image on the GUI thread,
//   where every window reads it without a lock. A request is never taken off
//   the line half done: cancel() drops only requests that have not started.
//
// Writes that wait
//   On a slow or dead line writes could pile up behind one another while the
//   image grows old. Two rules keep them few and the reads flowing:
//   - A write replaces the queued write to the same register (same port and
//     station) that has not started, unless an open, a close or a synchronous
//     call lies between them: the operator's latest value wins and goes out
//     where the newer write was queued. A write in progress finishes. So the
//     queue holds at most one write per register.
//   - Writes and reads take turns: after a write, a read waiting behind more
//     writes goes first (never past an open, a close or a synchronous call).
//     The reads of a chain keep their order, each write still goes out whole,
//     retry included, between two reads.
//   Every write ends in one typed outcome, reported on the GUI thread
//   (link/writeoutcome.h).
//
// Close and exit
//   "关闭" stops the poller, which cancels the reads of its cycle that have
//   not gone out yet, then posts the close: writes queued before it still go
//   out (FIFO), bounded by their time-outs, and no read of the cycle goes out
//   after the close. At the station's end (app/station.h) hold() first keeps
//   the queue from the line while the recorder saves (the exchange on the line
//   finishes, nothing new starts); then finishBy() lets the queue go out until
//   a time and ends the thread: writes queued by "退出" or by an editor window
//   that was just left reach the line before the process ends. What is still
//   queued then is dropped: its writes are reported Dropped and logged with
//   their register and value (on by default: a write the operator made that
//   never went out leaves a trace), and a synchronous call waiting there
//   returns its failure result. The exchange on the line then is not waited
//   for: the line guard may hold one exchange for seconds on a silent line
//   (link/lineguard.h). finishBy() says whether the thread ended; when it did
//   not, the process must end without its static destructors (the backend is
//   still in use), and a write on the line is logged as such.
//
// Link state
//   The link thread counts the exchanges since the last open (good, failed),
//   keeps the last failure (typed, link/linkerror.h), whether the open failed,
//   the device path, the line's time-outs and the time of the last good reply;
//   status() hands a copy to the GUI thread with the writes waiting
//   (link/linkstate.h).
#pragma once

#include "link/backend.h"
#include "link/linkerror.h"
#include "link/writeoutcome.h"

#include <QDateTime>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

namespace station::link {

// What writeWithRetry() returns: the write is queued; its results are the link
// thread's business (logged and counted in the status).
inline constexpr std::int32_t kQueued = 1;

enum class Op : std::uint8_t { Open, Close, ReadInput, ReadHolding, ReadDiscrete, ReadCoils, Write };

struct Request {
    Op op = Op::ReadInput;
    std::int32_t port = 0;
    std::int32_t station = 0;
    std::int32_t first = 0;  // register or point; open: baud code
    std::int32_t count = 0;  // registers of a read; open: parity code
    std::int32_t value = 0;  // a write's value
    bool retry = false;      // write-with-retry: once more after -8888
};

struct Reply {
    std::int32_t result = 0;          // the result of the (first) call
    std::vector<std::int32_t> words;  // a good read's slots; empty after a failed one
};

// What the link thread knows of the line, for the link-state indicator.
struct LinkStatus {
    QString device;           // device path of the port opened last
    LinkFailure lastFailure;  // the last failure; None when none since the open
    bool openFailed = false;  // the last open could not open the device
    std::uint64_t good = 0;   // exchanges answered since the last open
    std::uint64_t failed = 0; // exchanges failed since the last open
    std::uint64_t opens = 0;  // opens carried out since start
    QDateTime lastGood;       // wall time of the last good reply; invalid when none
    std::chrono::steady_clock::time_point lastGoodAt{}; // the same, monotonic
    LineTimeouts line;        // the time-outs of the line used last
    int writesWaiting = 0;    // writes queued or in progress
};

class LinkThread {
public:
    using Done = std::function<void(const Reply &)>;

    static LinkThread &instance();
    ~LinkThread();

    // Queues a request. done, when given, runs on context's thread with the
    // reply, as a queued call, unless context is gone by then. owner marks the
    // request as one of owner's (cancel()). A write's tag comes back in its
    // outcome (link/writeoutcome.h); a write without done and owner replaces
    // the queued write to its register (see above).
    void post(const Request &request, QObject *context = nullptr, Done done = {},
              const void *owner = nullptr, const QVariant &tag = {});
    // Drops owner's requests that have not started; returns how many.
    int cancel(const void *owner);
    // Waits until every request queued so far has been carried out, at most
    // bound; true when the queue ran dry.
    bool drain(std::chrono::milliseconds bound = std::chrono::seconds(30));
    // Runs work on the link thread and waits for its result (the synchronous
    // form of the operations). On the link thread it runs at once. Returns
    // ifDropped when finish() gives up the queue before work ran.
    std::int32_t call(const std::function<std::int32_t()> &work, std::int32_t ifDropped);
    // Lets the queue run dry (at most bound) and ends the thread; the next
    // post() or call() starts it again.
    void finish(std::chrono::milliseconds bound = std::chrono::seconds(30));
    // Keeps queued requests from the line until finishBy(): the one in
    // progress finishes.
    void hold();
    // The end (see above): queued requests go out until queueUntil, the rest
    // are dropped; the thread is waited for until queueUntil and no longer.
    // True when it ended; false leaves it on the exchange it is in.
    bool finishBy(std::chrono::steady_clock::time_point queueUntil);
    // How long finishBy() waits past its time for a thread that is in no
    // exchange to return.
    static constexpr std::chrono::milliseconds kWakeUp{100};

    static bool onLinkThread();
    LinkStatus status() const;
    // Requests waiting or running.
    int pending() const;
    // Opens posted since start; the link state knows from it which open the
    // status it reads belongs to.
    std::uint64_t opensPosted() const;

    // Carries a request out on the calling thread and counts its exchanges in
    // the link status: the link thread's own work. A write's outcome goes into
    // written when given.
    Reply execute(const Request &request, WriteReport *written = nullptr);

private:
    struct Job {
        Request request;
        std::function<std::int32_t()> work; // a synchronous call instead of a request
        std::int32_t *workResult = nullptr;
        bool *workDone = nullptr;
        std::int32_t workIfDropped = 0;
        QPointer<QObject> context;
        bool hasContext = false;
        Done done;
        const void *owner = nullptr;
        QVariant tag;

        bool isWrite() const { return !work && request.op == Op::Write; }
        bool isRead() const;
        // Nothing is taken past an open, a close or a synchronous call.
        bool isBarrier() const { return work || request.op == Op::Open || request.op == Op::Close; }
    };

    LinkThread();
    void ensureRunning();
    void run();
    // The next job to carry out (m_mutex held, queue not empty).
    Job takeNext();
    // Lets go of jobs that will never run: writes are reported Dropped,
    // synchronous calls return their failure (m_mutex held).
    void dropJobs(std::deque<Job> &jobs, bool atExit = false);
    void note(std::int32_t result, bool good, std::int32_t port);

    static WriteReport reportOf(const Job &job, WriteOutcome outcome);

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    bool m_busy = false;
    bool m_busyWriting = false;
    bool m_lastWasWrite = false;
    bool m_stopping = false;
    bool m_held = false;
    bool m_ended = false;       // run() has returned
    Request m_current;          // the request in progress (m_busy)
    std::uint64_t m_opensPosted = 0;
    std::thread m_thread;
    LinkStatus m_status;
};

// The process-wide link thread.
inline LinkThread &linkThread()
{
    return LinkThread::instance();
}

} // namespace station::link
