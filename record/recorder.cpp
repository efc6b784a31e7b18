#include "record/recorder.h"

#include "common/logging.h"
#include "common/numbers.h"
#include "link/registerimage.h"
#include "record/samplestore.h"

#include <cmath>

namespace station {

namespace {

// The clock's second as one number, for the once-a-second reopen rule.
qint64 clockSecond(const QDateTime &now)
{
    return qint64(dayNumber(now.date())) * 86400 + now.time().msecsSinceStartOfDay() / 1000;
}

} // namespace

Recorder::Recorder(QObject *parent)
    : Recorder(systemClock(), sampledb::defaultPath(), parent)
{
}

Recorder::Recorder(const Clock &clock, const QString &databasePath, QObject *parent)
    : QObject(parent),
      m_clock(clock),
      m_connection(QLatin1String(sampledb::kRecorderConnection), databasePath)
{
    setObjectName(QStringLiteral("mscom"));
    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, &Recorder::tick);
    ensureOpen(clockSecond(m_clock.now()));
    start();
}

Recorder::~Recorder() = default;

void Recorder::start()
{
    m_timer.start();
}

void Recorder::stop()
{
    m_timer.stop();
}

void Recorder::setCheckpointRows(int rows)
{
    m_checkpointRows = rows;
    m_rowsSinceCheckpoint = 0;
}

void Recorder::finish()
{
    stop();
    if (m_connection.isOpen()) {
        if (m_connection.checkpoint(sampledb::Checkpoint::Truncate))
            qCDebug(lcRecord) << "the database file holds every stored row";
        m_connection.close();
    }
}

bool Recorder::ensureOpen(qint64 second)
{
    if (m_connection.isOpen()) {
        if (m_connection.isCurrent())
            return true;
        qCInfo(lcRecord) << "the database file was deleted or replaced; opening it again";
        m_connection.close();
        m_lastOpenSecond.reset();  // the cause is known: try at once
    }
    if (m_lastOpenSecond == second)
        return false;
    m_lastOpenSecond = second;
    // After a fault every connection of the station to the file opens again
    // with ours, so none keeps a stale view of it (a read-only -shm) alive.
    if (m_faulted)
        m_connection.closePeers();
    if (!m_connection.open()) {
        if (!m_faulted)
            qCInfo(lcRecord) << "recording suspended: the database cannot be opened";
        m_faulted = true;
        return false;
    }
    return true;
}

void Recorder::fault(qint64 second)
{
    if (!m_faulted)
        qCInfo(lcRecord) << "recording suspended: database step failed";
    m_faulted = true;
    m_connection.close();
    m_lastOpenSecond = second;  // the next attempt in the next clock second
}

void Recorder::tick()
{
    const QDateTime now = m_clock.now();
    const double today = dayNumber(now.date());
    const double timeOfDay = dayFraction(now.time());
    const qint64 second = clockSecond(now);

    bool usable = ensureOpen(second);
    bool readFailed = false;
    if (usable) {
        QSqlDatabase db = m_connection.database();
        const sampledb::PointerRead read = sampledb::readPointer(db);
        switch (read.status) {
        case sampledb::PointerRead::Status::Read:
            if (read.pointer)
                m_pointer = *read.pointer;
            break;
        case sampledb::PointerRead::Status::NoRow:
            m_pointer = 0;  // the save writes the row again
            break;
        case sampledb::PointerRead::Status::Failed:
            readFailed = true;  // the pointer of the previous tick stands
            break;
        }
    }
    if (m_pointer >= sampledb::kRingSize || m_pointer < 0)
        m_pointer = 0;

    // Days to seconds by 24, then 60, then 60; nearest whole second, halves to
    // even; then the absolute value, so a clock set back also writes.
    const double days = (today - m_lastDate) + (timeOfDay - m_lastTime);
    const double elapsed = std::abs(roundHalfEven(days * 24.0 * 60.0 * 60.0));
    if (elapsed < 1) {
        // A failed read in a tick that writes nothing: the connection is
        // opened again in the next clock second, before its row is written.
        if (readFailed)
            fault(second);
        return;
    }

    sampledb::Sample sample;
    sample.id = m_pointer + 1;
    sample.date = today;
    sample.time = timeOfDay;
    sample.values = registerImage().liveSample;
    m_lastDate = today;
    m_lastTime = timeOfDay;

    if (usable) {
        QSqlDatabase db = m_connection.database();
        if (sampledb::saveSample(db, sample) == sampledb::SaveResult::Saved) {
            m_pointer = sample.id;
            qCDebug(lcRecord) << "stored row" << sample.id;
            if (m_faulted)
                qCInfo(lcRecord) << "recording resumed at row" << sample.id;
            m_faulted = false;
            if (m_checkpointRows > 0 && ++m_rowsSinceCheckpoint >= m_checkpointRows) {
                m_rowsSinceCheckpoint = 0;
                m_connection.checkpoint(sampledb::Checkpoint::Passive);
            }
        } else {
            fault(second);
        }
    }

    SampleFlags &flags = sampleFlags();
    if (flags.notifyEnabled)
        flags.newSample = true;
}

} // namespace station
