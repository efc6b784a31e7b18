#include "record/recorder.h"

#include "common/logging.h"
#include "common/numbers.h"
#include "link/registerimage.h"
#include "record/connectionregistry.h"
#include "record/journal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonObject>
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
      m_clock(clock),
      m_path(databasePath)
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
    writeLateEvents();
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
    if (m_journaling)
        checkClock(now);

    // A commit that has run this long is a slow disk; told once.
    const qint64 busySince = m_handover.busySinceMs.load();
    if (!m_slowTold && busySince >= 0 && record::steadyMs() - busySince >= m_slowCommitMs) {
        m_slowTold = true;
        tell(RecorderHealthKind::DiskSlow, QStringLiteral("a commit has taken %1 ms; %2 samples wait")
                                               .arg(record::steadyMs() - busySince)
                                               .arg(m_pending.size()));
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
            tell(RecorderHealthKind::SamplesDropped, QStringLiteral("%1 samples wait; the sample of %2 is not recorded")
                                                         .arg(m_pending.size())
                                                         .arg(now.toString(Qt::ISODate)));
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
        tell(RecorderHealthKind::DiskRecovered, m_dropped > 0 ? QStringLiteral("seconds not recorded: %1").arg(m_dropped)
                                                              : QStringLiteral("every waiting sample is stored"));
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

void Recorder::tell(RecorderHealthKind kind, const QString &details)
{
    const RecorderHealth health = recorderHealth(kind, details);
    journal(journal::Kind::Recorder, QJsonObject{{QStringLiteral("what"), recorderHealthName(kind)},
                                                 {QStringLiteral("text"), health.text},
                                                 {QStringLiteral("details"), details}});
    deliverHealth(health);
}

void Recorder::startJournal(const QJsonObject &details)
{
    if (m_journaling || m_finished)
        return;
    m_journaling = true;
    const QDateTime now = m_clock.now();
    checkClock(now);  // where the clock stands at the start
    record::RecordWriter *writer = m_writer;
    post([writer, start = journal::makeEvent(journal::Kind::Start, now, details)] { writer->startJournal(start); });
}

void Recorder::journal(journal::Kind kind, const QJsonObject &details)
{
    if (!m_journaling)
        return;
    journal::Event event = journal::makeEvent(kind, m_clock.now(), details);
    if (m_finished) {
        m_lateEvents.push_back(std::move(event));
        return;
    }
    // Events that come while others wait join them: one job, one transaction
    // and one sync for all, however slow the disk. A disk stuck for a long
    // time: the events past the limit are counted and told with the rest.
    {
        std::lock_guard lock(m_handover.mutex);
        if (int(m_handover.events.size()) >= kEventQueueLimit) {
            ++m_handover.eventsLost;
            return;
        }
        m_handover.events.push_back(std::move(event));
        if (std::exchange(m_handover.eventsAsked, true))
            return;
    }
    record::RecordWriter *writer = m_writer;
    post([writer] { writer->takeEvents(); });
}

void Recorder::endJournal(const QJsonObject &details)
{
    QJsonObject all = details;
    if (m_finished) {
        all.insert(QStringLiteral("wal_folded"), m_finished->walFolded);
        all.insert(QStringLiteral("samples_dropped"), m_finished->samplesDropped);
    }
    journal(journal::Kind::End, all);
    writeLateEvents();
}

void Recorder::writeLateEvents()
{
    // Only once the recorder thread has let go of the file; a disk that held
    // it past every bound would hold this thread too.
    if (m_lateEvents.empty() || !m_finished || !m_finished->threadEnded)
        return;
    std::vector<journal::Event> events;
    events.swap(m_lateEvents);
    sampledb::Connection connection(QStringLiteral("journal-end"), m_path);
    if (!connection.open()) {
        qCInfo(lcRecord) << events.size() << "journal events could not be written:" << connection.lastError();
        return;
    }
    journal::append(sampledb::detail::handleOf(connection.database()), events);
    connection.checkpoint(sampledb::Checkpoint::Truncate);
    connection.close();
}

void Recorder::checkClock(const QDateTime &now)
{
    // Each tick against the one before, 100 ms apart: the PC clock moved by
    // (utc - utc') while (monotonic - monotonic') passed. A clock that is slewed
    // by a time service drifts far less than 2 s between two ticks; a clock
    // set, or a GUI thread held up (both clocks go on then), does not fool it.
    ClockSeen seen{now.toMSecsSinceEpoch(), m_clock.monotonicMs(), now.offsetFromUtc()};
    if (m_clockSeen) {
        const qint64 utcJump = (seen.utcMs - m_clockSeen->utcMs) - (seen.monotonicMs - m_clockSeen->monotonicMs);
        const int offsetChange = seen.offsetS - m_clockSeen->offsetS;
        if (std::abs(utcJump) > kClockJumpMs || offsetChange != 0) {
            // The local time of the tick before: its UTC moved by its offset.
            const QDateTime before = QDateTime::fromMSecsSinceEpoch(
                m_clockSeen->utcMs + qint64(m_clockSeen->offsetS) * 1000, Qt::UTC);
            QJsonObject details{{QStringLiteral("jump_ms"), utcJump + qint64(offsetChange) * 1000},
                                {QStringLiteral("utc_jump_ms"), utcJump},
                                {QStringLiteral("from"), journal::localText(before)},
                                {QStringLiteral("to"), journal::localText(now)}};
            if (offsetChange != 0) {
                details.insert(QStringLiteral("utc_offset_before_s"), m_clockSeen->offsetS);
                details.insert(QStringLiteral("utc_offset_after_s"), seen.offsetS);
            }
            m_clockSeen = seen;
            journal(journal::Kind::ClockJump, details);
            return;
        }
    }
    m_clockSeen = seen;
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
        tell(RecorderHealthKind::ExitIncomplete, what.join(QStringLiteral("; ")));
    }
    return report;
}

} // namespace station
