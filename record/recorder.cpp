#include "record/recorder.h"

#include "common/logging.h"
#include "common/numbers.h"
#include "link/registerimage.h"
#include "record/connectionregistry.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QMetaObject>
#include <cmath>

namespace station {

namespace {

// The clock's second as one number, for the once-a-second open rule.
qint64 clockSecond(const QDateTime &now)
{
    return qint64(dayNumber(now.date())) * 86400 + now.time().msecsSinceStartOfDay() / 1000;
}

// How often a waiting GUI thread looks for close requests meant for it.
constexpr int kWaitSliceMs = 5;

} // namespace

Recorder::Recorder(QObject *parent)
    : Recorder(systemClock(), sampledb::defaultPath(), parent)
{
}

Recorder::Recorder(const Clock &clock, const QString &databasePath, QObject *parent)
    : QObject(parent),
      m_clock(clock)
{
    qRegisterMetaType<station::RecorderHealth>();
    setObjectName(QStringLiteral("mscom"));
    m_thread.setObjectName(QStringLiteral("mscom-writer"));
    m_writer = new record::RecordWriter(databasePath, this, m_handover);
    m_writer->moveToThread(&m_thread);
    m_thread.start();
    const std::uint64_t answered = cycleStamp().answered;
    m_answeredAt[0] = m_answeredAt[1] = answered;

    const QDateTime now = m_clock.now();
    record::RecordWriter *writer = m_writer;
    post([writer, second = clockSecond(now), now] { writer->begin(second, now); });
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &Recorder::tick);
    start();
}

Recorder::~Recorder()
{
    finish();
    if (m_thread.isRunning())
        m_thread.wait();  // a disk stuck past every bound: nothing else is safe
    delete m_writer;
}

void Recorder::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_handover.mutex);
        ++m_handover.outstanding;
    }
    record::Handover *handover = &m_handover;
    QMetaObject::invokeMethod(
        m_writer,
        [handover, job = std::move(job)] {
            job();
            {
                std::lock_guard lock(handover->mutex);
                --handover->outstanding;
            }
            handover->changed.notify_all();
        },
        Qt::QueuedConnection);
}

void Recorder::start()
{
    if (!m_finished)
        m_timer.start();
}

void Recorder::stop()
{
    m_timer.stop();
}

void Recorder::setCheckpointRows(int rows)
{
    record::RecordWriter *writer = m_writer;
    post([writer, rows] { writer->setCheckpointRows(rows); });
}

void Recorder::raiseFlag()
{
    SampleFlags &flags = sampleFlags();
    if (flags.notifyEnabled)
        flags.newSample = true;
}

void Recorder::tick()
{
    if (m_finished)
        return;
    const QDateTime now = m_clock.now();
    const double today = dayNumber(now.date());
    const double timeOfDay = dayFraction(now.time());

    // A commit that has run this long is a slow disk; told once.
    const qint64 busySince = m_handover.busySinceMs.load();
    if (!m_slowTold && busySince >= 0 && record::steadyMs() - busySince >= m_slowCommitMs) {
        m_slowTold = true;
        deliverHealth(recorderHealth(RecorderHealthKind::DiskSlow,
                                     QStringLiteral("a commit has taken %1 ms; %2 samples wait")
                                         .arg(record::steadyMs() - busySince)
                                         .arg(m_pending.size())));
    }

    // Days to seconds by 24, then 60, then 60; nearest whole second, halves to
    // even; then the absolute value, so a clock set back also writes.
    const double days = (today - m_lastDate) + (timeOfDay - m_lastTime);
    const double elapsed = std::abs(roundHalfEven(days * 24.0 * 60.0 * 60.0));
    if (elapsed < 1)
        return;
    m_lastDate = today;
    m_lastTime = timeOfDay;

    record::TakenSample taken;
    taken.sample.date = today;
    taken.sample.time = timeOfDay;
    taken.sample.values = registerImage().liveSample;
    const std::uint64_t answered = cycleStamp().answered;
    taken.sample.live = answered != m_answeredAt[1];
    m_answeredAt[1] = m_answeredAt[0];
    m_answeredAt[0] = answered;
    taken.sample.utc = now.toSecsSinceEpoch();
    taken.second = clockSecond(now);
    taken.when = now;

    // The previous sample has not come back within its second: the chart
    // advances for it now.
    if (!m_pending.empty() && !m_pending.back()) {
        m_pending.back() = true;
        raiseFlag();
    }
    if (int(m_pending.size()) >= m_queueLimit) {
        if (m_dropped++ == 0)
            deliverHealth(recorderHealth(RecorderHealthKind::SamplesDropped,
                                         QStringLiteral("%1 samples wait; the sample of %2 is not recorded")
                                             .arg(m_pending.size())
                                             .arg(now.toString(Qt::ISODate))));
        raiseFlag();
        return;
    }
    m_pending.push_back(false);
    record::RecordWriter *writer = m_writer;
    post([writer, taken] { writer->write(taken); });
}

void Recorder::deliverResult(const record::WriteResult &result)
{
    bool flagged = true;
    if (!m_pending.empty()) {
        flagged = m_pending.front();
        m_pending.pop_front();
    }
    m_pointer = result.pointer;
    m_databaseOpen = result.databaseOpen;
    if (!flagged)
        raiseFlag();
    if (result.stored)
        emit stored(result.id);
    if (m_pending.empty() && (m_slowTold || m_dropped > 0)) {
        deliverHealth(recorderHealth(RecorderHealthKind::DiskRecovered,
                                     m_dropped > 0 ? QStringLiteral("seconds not recorded: %1").arg(m_dropped)
                                                   : QStringLiteral("every waiting sample is stored")));
        m_slowTold = false;
        m_dropped = 0;
    }
}

void Recorder::deliverState(bool databaseOpen, std::int32_t pointer)
{
    m_databaseOpen = databaseOpen;
    m_pointer = pointer;
}

void Recorder::deliverHealth(const RecorderHealth &health)
{
    emit healthChanged(health);
}

bool Recorder::settle(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    bool idle = false;
    while (!idle) {
        sampledb::detail::Registry::instance().serviceCloseRequests();
        std::unique_lock lock(m_handover.mutex);
        idle = m_handover.outstanding == 0;
        if (!idle) {
            if (deadline.hasExpired())
                break;
            m_handover.changed.wait_for(lock, std::chrono::milliseconds(kWaitSliceMs));
        }
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return idle;
}

void Recorder::inspect(const std::function<void(QSqlDatabase)> &look)
{
    record::RecordWriter *writer = m_writer;
    post([writer, look] { writer->inspect(look); });
    // Blocking would keep this thread from closing a connection the recorder
    // thread may ask it to close; settling serves those requests.
    settle();
}

Recorder::FinishReport Recorder::finish()
{
    FinishBounds bounds;
    bounds.readerWaitMs = m_exitReaderWaitMs;
    return finish(bounds);
}

Recorder::FinishReport Recorder::finish(const FinishBounds &bounds)
{
    if (m_finished)
        return *m_finished;
    stop();
    m_handover.dropAfterMs = record::steadyMs() + bounds.drainMs;
    record::RecordWriter *writer = m_writer;
    const int readerWaitMs = bounds.readerWaitMs;
    post([writer, readerWaitMs] { writer->end(readerWaitMs); });

    const QDeadlineTimer deadline(bounds.drainMs + readerWaitMs + bounds.marginMs);
    FinishReport report;
    while (!(report.threadEnded = m_thread.wait(kWaitSliceMs)) && !deadline.hasExpired())
        sampledb::detail::Registry::instance().serviceCloseRequests();
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    {
        std::lock_guard lock(m_handover.mutex);
        report.walFolded = m_handover.end.ended && m_handover.end.walFolded;
        report.samplesDropped = m_handover.end.samplesDropped;
    }
    m_finished = report;
    if (!report.threadEnded || !report.walFolded || report.samplesDropped > 0) {
        QStringList what;
        if (!report.threadEnded)
            what << QStringLiteral("the recorder thread was still waiting for the disk");
        else if (!report.walFolded)
            what << QStringLiteral("rows remain in the -wal: a reader held it past %1 ms").arg(readerWaitMs);
        if (report.samplesDropped > 0)
            what << QStringLiteral("%1 waiting samples were not stored").arg(report.samplesDropped);
        deliverHealth(recorderHealth(RecorderHealthKind::ExitIncomplete, what.join(QStringLiteral("; "))));
    }
    return report;
}

} // namespace station
