// How each queued write ended, for whoever wants to know (the event journal).
//
// Every write posted to the link thread (writeWithRetry) ends in exactly one
// WriteOutcome, reported once through writeOutcomes().finished on the GUI
// thread, in the order the outcomes were decided:
//
//   Answered         the controller took it (any result but -8888)
//   AnsweredOnRetry  the first call answered -8888, the retry was taken
//   Failed           -8888, and -8888 again on the retry (or no retry asked)
//   Refused          a value no 16-bit register word holds; nothing was sent
//   Replaced         a newer write to the same register came before it went out
//   Dropped          still waiting when the link thread gave up its queue at exit
//
// The writer may attach a tag (the window, control or caption); it comes back
// unchanged. The link thread decides an outcome, keeps it in a list and asks the
// GUI thread to deliver the list; LinkThread::finish() delivers what is left
// before it returns, so the outcomes of the last writes are not lost at exit.
#pragma once

#include "link/linkerror.h"

#include <QMetaType>
#include <QObject>
#include <QVariant>

#include <cstdint>
#include <deque>
#include <mutex>

namespace station::link {

enum class WriteOutcome : std::uint8_t { Answered, AnsweredOnRetry, Failed, Refused, Replaced, Dropped };

struct WriteReport {
    std::int32_t port = 0;
    std::int32_t station = 0;
    std::int32_t reg = 0;
    std::int32_t value = 0;
    WriteOutcome outcome = WriteOutcome::Answered;
    std::int32_t result = 0;      // the first call's result (0 when nothing was called)
    std::int32_t retryResult = 0; // the retry's result (0 when there was none)
    LinkFailure failure;          // why the last call failed (Failed)
    QVariant tag;                 // the writer's, unchanged
};

// The outcome in English words, for logs and test messages.
const char *outcomeName(WriteOutcome outcome);

class WriteOutcomes : public QObject {
    Q_OBJECT
public:
    // The process-wide instance; it lives on the application's thread.
    static WriteOutcomes &instance();

    // Any thread: keeps the report and has it delivered on the GUI thread.
    void report(WriteReport report);
    // Delivers every report kept so far; on the object's thread only.
    void deliver();

signals:
    void finished(const station::link::WriteReport &report);

private:
    WriteOutcomes() = default;

    std::mutex m_mutex;
    std::deque<WriteReport> m_kept;
    bool m_deliveryAsked = false;
};

inline WriteOutcomes &writeOutcomes()
{
    return WriteOutcomes::instance();
}

} // namespace station::link

Q_DECLARE_METATYPE(station::link::WriteReport)
