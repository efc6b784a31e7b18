#include "record/recordwriter.h"

#include "common/datenum.h"
#include "common/logging.h"
#include "record/connectionregistry.h"
#include "record/dbfile.h"
#include "record/recorder.h"

#include <QJsonObject>
#include <QMetaObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <chrono>
#include <sqlite3.h>

namespace station::record {

namespace {

const char kSetAsideTag[] = "bad";

bool isDamageCode(int code)
{
    return code == SQLITE_CORRUPT || code == SQLITE_NOTADB;
}

QString stateText(sampledb::FileState state)
{
    switch (state) {
    case sampledb::FileState::Empty: return QStringLiteral("the file is empty");
    case sampledb::FileState::NotDatabase: return QStringLiteral("the file is not an SQLite database");
    case sampledb::FileState::Truncated: return QStringLiteral("the file is shorter than its header says");
    case sampledb::FileState::Unreadable: return QStringLiteral("the file cannot be read");
    case sampledb::FileState::Sound: break;
    }
    return QString();
}

} // namespace

qint64 steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

RecordWriter::RecordWriter(QString path, Recorder *recorder, Handover &handover)
    : m_path(std::move(path)), m_recorder(recorder), m_handover(handover)
{
}

RecordWriter::~RecordWriter() = default;

void RecordWriter::begin(qint64 second, const QDateTime &when)
{
    m_jobTime = when;
    m_connection = std::make_unique<sampledb::Connection>(QLatin1String(sampledb::kRecorderConnection), m_path);
    if (ensureOpen(second, when)) {
        nextPointer();
        m_sampleBeforeRun = newestSampleTime();
    }
    Recorder *recorder = m_recorder;
    QMetaObject::invokeMethod(
        recorder, [recorder, open = m_connection->isOpen(), pointer = m_pointer] { recorder->deliverState(open, pointer); },
        Qt::QueuedConnection);
}

void RecordWriter::setCheckpointRows(int rows)
{
    m_checkpointRows = rows;
    m_rowsSinceCheckpoint = 0;
}

void RecordWriter::inspect(const std::function<void(QSqlDatabase)> &look)
{
    look(m_connection ? m_connection->database() : QSqlDatabase());
}

void RecordWriter::report(RecorderHealthKind kind, const QString &details, QJsonObject fields)
{
    qCInfo(lcRecord) << "recorder:" << recorderHealthText(kind) << "-" << details;
    // A file set aside starts the fresh file's journal.
    journalOwn(recorderHealthName(kind), recorderHealthText(kind), details, std::move(fields),
               kind == RecorderHealthKind::FileSetAside);
    const RecorderHealth health = recorderHealth(kind, details);
    Recorder *recorder = m_recorder;
    QMetaObject::invokeMethod(
        recorder, [recorder, health] { recorder->deliverHealth(health); }, Qt::QueuedConnection);
}

void RecordWriter::deliver(const WriteResult &result)
{
    Recorder *recorder = m_recorder;
    QMetaObject::invokeMethod(
        recorder, [recorder, result] { recorder->deliverResult(result); }, Qt::QueuedConnection);
}

void RecordWriter::suspend(const QString &why)
{
    if (!m_suspended)
        report(RecorderHealthKind::Suspended, why);
    m_suspended = true;
    m_faulted = true;
}

void RecordWriter::fault(qint64 second, const QString &why)
{
    suspend(why);
    // No connection of ours folds the WAL into the file after a write failed:
    // on a full disk the fold would write the file's first page and fail on
    // the pages that grow it, leaving a file shorter than its header says,
    // which is then set aside. The rows wait in the -wal for the next fold.
    m_connection->markDamaged();
    m_connection->close();
    m_lastOpenSecond = second;  // the next attempt with the next clock second
}

bool RecordWriter::ensureOpen(qint64 second, const QDateTime &when)
{
    if (m_connection->isOpen()) {
        if (m_connection->isCurrent())
            return true;
        qCInfo(lcRecord) << "the database file was deleted or replaced; opening it again";
        journalOwn(QStringLiteral("file-replaced"), QString(),
                   QStringLiteral("%1 was deleted or replaced under the recorder; it is opened again").arg(m_path));
        m_connection->close();
        m_lastOpenSecond.reset();  // the cause is known: try at once
    }
    if (m_lastOpenSecond == second)
        return false;
    m_lastOpenSecond = second;
    // After a fault every connection of the station to the file opens again
    // with ours, so none keeps a stale view of it (a read-only -shm) alive.
    if (m_faulted)
        m_connection->closePeers();
    return openAndCheck(when);
}

bool RecordWriter::openAndCheck(const QDateTime &when)
{
    bool opened = m_connection->open();
    if (!opened && m_connection->status() == sampledb::OpenStatus::ReadOnly) {
        // A -shm SQLite made read-only, with the mode a read-only file had
        // then, outlives the fault. Ours closed, it is replaced when no other
        // process uses it.
        if (m_connection->closePeers() && sampledb::replaceReadOnlyIndex(m_path)) {
            report(RecorderHealthKind::IndexReplaced, QStringLiteral("%1-shm could not be written").arg(m_path));
            opened = m_connection->open();
        }
    }
    if (!opened) {
        if (m_connection->status() == sampledb::OpenStatus::Damaged)
            return startAfresh(m_connection->lastError(), when);
        suspend(QStringLiteral("%1: %2").arg(m_path, m_connection->lastError()));
        return false;
    }

    QSqlDatabase db = m_connection->database();
    bool damaged = false;
    if (const auto fault = wholeFileFault(&damaged)) {
        if (damaged)
            return startAfresh(*fault, when);
        suspend(QStringLiteral("%1: %2").arg(m_path, *fault));
        m_connection->close();
        return false;
    }
    switch (sampledb::upgradeSchema(db)) {
    case sampledb::Schema::NoTables:
        return startAfresh(QStringLiteral("no pv_data or sl_void table"), when);
    case sampledb::Schema::Failed:
        qCInfo(lcRecord) << "the live state and UTC time cannot be added; rows are written without them";
        break;
    case sampledb::Schema::Complete:
    case sampledb::Schema::Upgraded:
    case sampledb::Schema::Kept:
        break;
    }
    if (m_connection->identity() != m_fileIdentity) {
        m_fileIdentity = m_connection->identity();
        m_writtenPointer.reset();
    }
    m_knownHeader = m_connection->fileHeader();
    return true;
}

std::optional<QString> RecordWriter::wholeFileFault(bool *damaged)
{
    // SQLite's quick check reads every page once: a full ring, about 6 MB,
    // takes tens of milliseconds, here on the recorder thread, at an open or
    // when the file changed behind our back.
    *damaged = false;
    QSqlQuery check(m_connection->database());
    if (!check.exec(QStringLiteral("PRAGMA quick_check")) || !check.next()) {
        *damaged = isDamageCode(check.lastError().nativeErrorCode().toInt() & 0xff);
        return check.lastError().text();
    }
    const QString verdict = check.value(0).toString();
    if (verdict == QLatin1String("ok"))
        return std::nullopt;
    *damaged = true;
    return QStringLiteral("quick check: ") + verdict;
}

bool RecordWriter::startAfresh(const QString &why, const QDateTime &when)
{
    // No connection of ours checkpoints into that file any more, whatever
    // order they close in; then the set goes aside as it is.
    sampledb::detail::Registry::instance().markDamaged(sampledb::Connection::identityOf(m_path));
    m_connection->close();
    m_connection->closePeers();
    const QString aside = sampledb::setAside(m_path, QLatin1String(kSetAsideTag), when);
    if (aside.isEmpty()) {
        suspend(QStringLiteral("%1 cannot be used (%2) nor set aside").arg(m_path, why));
        return false;
    }
    report(RecorderHealthKind::FileSetAside, QStringLiteral("%1 set aside as %2: %3").arg(m_path, aside, why),
           QJsonObject{{QStringLiteral("file"), m_path}, {QStringLiteral("aside"), aside}, {QStringLiteral("why"), why}});
    m_writtenPointer.reset();
    m_pointer = 0;
    if (!m_connection->open()) {
        suspend(QStringLiteral("%1: %2").arg(m_path, m_connection->lastError()));
        return false;
    }
    m_fileIdentity = m_connection->identity();
    m_knownHeader = m_connection->fileHeader();
    return true;
}

std::int32_t RecordWriter::nextPointer()
{
    QSqlDatabase db = m_connection->database();
    const sampledb::PointerRead read = sampledb::readPointer(db);
    switch (read.status) {
    case sampledb::PointerRead::Status::Read:
        if (read.pointer)
            m_pointer = *read.pointer;
        break;
    case sampledb::PointerRead::Status::NoRow:
        // The pointer row vanished: the ring goes on after the last row we
        // stored in this file; a file we have not written starts at 1.
        m_pointer = m_writtenPointer.value_or(0);
        if (m_writtenPointer) {
            qCInfo(lcRecord) << "sl_void lost its row; the ring goes on after" << *m_writtenPointer;
            journalOwn(QStringLiteral("pointer-row-restored"), QString(),
                       QStringLiteral("sl_void lost its row; the ring goes on after row %1").arg(*m_writtenPointer));
        }
        break;
    case sampledb::PointerRead::Status::Failed:
        break;  // the pointer of the previous row stands
    }
    if (m_pointer >= sampledb::kRingSize || m_pointer < 0)
        m_pointer = 0;
    return m_pointer;
}

bool RecordWriter::save(sampledb::Sample &sample, const QDateTime &when)
{
    // At most twice: the second time into a fresh ring, after the file was
    // found damaged and set aside.
    for (int attempt = 0; attempt < 2; ++attempt) {
        sampledb::FileState state = m_connection->fileState();
        // Another database copied over the file in place keeps a sound header,
        // but not ours: SQLite would then read half that file and half our
        // -wal, and its page cache hides the change from a check on this
        // connection. Closed without a checkpoint and opened again, the file
        // is checked whole (openAndCheck), and set aside when it is a mix.
        if (state == sampledb::FileState::Sound && m_connection->fileHeader() != m_knownHeader) {
            qCInfo(lcRecord) << "the header of" << m_path << "changed behind us; checking the file";
            journalOwn(QStringLiteral("file-changed"), QString(),
                       QStringLiteral("%1 was overwritten in place; the file is checked whole").arg(m_path));
            m_connection->markDamaged();
            m_connection->close();
            if (!openAndCheck(when))
                return false;
            state = m_connection->fileState();
        }
        sample.id = nextPointer() + 1;
        int code = 0;
        if (state == sampledb::FileState::Sound) {
            QSqlDatabase db = m_connection->database();
            if (sampledb::saveSample(db, sample, &code) == sampledb::SaveResult::Saved) {
                m_pointer = sample.id;
                m_writtenPointer = sample.id;
                return true;
            }
            if (!isDamageCode(code) && m_connection->fileState() == sampledb::FileState::Sound)
                return false;
        }
        const QString why = state != sampledb::FileState::Sound ? stateText(state)
                                                                : QStringLiteral("SQLite finds it malformed");
        if (attempt > 0 || !startAfresh(why, when))
            return false;
    }
    return false;
}

void RecordWriter::write(const TakenSample &taken)
{
    if (steadyMs() > m_handover.dropAfterMs.load()) {
        // The end of recording came and its time for the waiting samples is up.
        {
            std::lock_guard lock(m_handover.mutex);
            ++m_handover.end.samplesDropped;
        }
        deliver(WriteResult{0, false, m_pointer, m_connection->isOpen()});
        return;
    }
    m_handover.busySinceMs = steadyMs();
    m_jobTime = taken.when;
    sampledb::Sample sample = taken.sample;
    bool stored = false;
    if (ensureOpen(taken.second, taken.when)) {
        stored = save(sample, taken.when);
        if (!stored && m_connection->isOpen())
            fault(taken.second, QStringLiteral("%1: the row could not be saved").arg(m_path));
    } else {
        sample.id = m_pointer + 1;
    }
    if (stored) {
        qCDebug(lcRecord) << "stored row" << sample.id;
        if (m_suspended)
            report(RecorderHealthKind::Resumed, QStringLiteral("row %1 stored in %2").arg(sample.id).arg(m_path));
        m_suspended = false;
        m_faulted = false;
        if (m_checkpointRows > 0 && ++m_rowsSinceCheckpoint >= m_checkpointRows) {
            m_rowsSinceCheckpoint = 0;
            m_connection->checkpoint(sampledb::Checkpoint::Passive);
            m_knownHeader = m_connection->fileHeader();
        }
        flushEvents();  // events that waited for a usable file
    }
    m_handover.busySinceMs = -1;
    deliver(WriteResult{sample.id, stored, m_pointer, m_connection->isOpen()});
}

void RecordWriter::end(int readerWaitMs)
{
    EndReport report;
    report.ended = true;
    flushEvents();
    if (!m_events.empty())
        qCInfo(lcRecord) << m_events.size() << "journal events could not be written";
    if (m_connection && m_connection->isOpen()) {
        report.walFolded = m_connection->checkpoint(sampledb::Checkpoint::Truncate, readerWaitMs);
        if (report.walFolded)
            qCDebug(lcRecord) << "the database file holds every stored row";
        else
            qCInfo(lcRecord) << "the WAL could not be folded into" << m_path << "within" << readerWaitMs << "ms";
        m_connection->close();
    } else {
        report.walFolded = true;  // nothing open, nothing to fold
    }
    m_connection.reset();
    {
        std::lock_guard lock(m_handover.mutex);
        report.samplesDropped = m_handover.end.samplesDropped;
        m_handover.end = report;
    }
    QThread::currentThread()->quit();
}

void RecordWriter::journalOwn(const QString &what, const QString &text, const QString &details, QJsonObject fields,
                              bool first)
{
    fields.insert(QStringLiteral("what"), what);
    if (!text.isEmpty())
        fields.insert(QStringLiteral("text"), text);
    fields.insert(QStringLiteral("details"), details);
    const QDateTime when = m_jobTime.isValid() ? m_jobTime : QDateTime::currentDateTime();
    keepEvent(journal::makeEvent(journal::Kind::Recorder, when, std::move(fields)), first);
}

void RecordWriter::keepEvent(journal::Event event, bool first)
{
    // Before the journal starts (and in recorders that never start one) the
    // recorder's own events wait too: a file set aside at the first open
    // still begins the fresh file's journal.
    if (int(m_events.size()) >= kPendingEventLimit) {
        m_events.pop_front();
        ++m_eventsDropped;
    }
    if (first)
        m_events.push_front(std::move(event));
    else
        m_events.push_back(std::move(event));
}

void RecordWriter::flushEvents()
{
    if (!m_journaling || m_events.empty() || !m_connection || !m_connection->isOpen() || !m_connection->isCurrent()
        || m_connection->fileState() != sampledb::FileState::Sound || m_connection->fileHeader() != m_knownHeader)
        return;  // the next stored sample opens or repairs the file, then they go
    std::vector<journal::Event> batch(m_events.begin(), m_events.end());
    if (m_eventsDropped > 0) {
        journal::Event lost = batch.front();
        lost.kind = journal::kindName(journal::Kind::EventsLost);
        lost.details = QJsonObject{{QStringLiteral("lost"), m_eventsDropped},
                                   {QStringLiteral("why"), QStringLiteral("no usable database file")}};
        batch.insert(batch.begin(), lost);
    }
    if (journal::append(m_connection->handle(), batch) > 0) {
        m_events.clear();
        m_eventsDropped = 0;
    }
}

void RecordWriter::startJournal(const journal::Event &start)
{
    m_journaling = true;
    // What the run before left, read from the file as the recorder found it.
    sqlite3 *db = m_connection && m_connection->isOpen() ? m_connection->handle() : nullptr;
    if (db) {
        const auto newest = journal::newestEvent(db);
        const auto mark = journal::lastRunMark(db);
        if (mark && mark->kind == journal::kindName(journal::Kind::Start)) {
            journal::Event unclean = start;
            unclean.kind = journal::kindName(journal::Kind::UncleanEnd);
            unclean.details = QJsonObject{{QStringLiteral("last_sample"), m_sampleBeforeRun},
                                          {QStringLiteral("last_event"), newest ? newest->seq : 0},
                                          {QStringLiteral("last_event_time"), newest ? newest->local : QString()},
                                          {QStringLiteral("run_started"), mark->local}};
            keepEvent(std::move(unclean));
        }
        if (newest && newest->utcMs > start.utcMs) {
            journal::Event behind = start;
            behind.kind = journal::kindName(journal::Kind::ClockJump);
            behind.details = QJsonObject{{QStringLiteral("between_runs"), true},
                                         {QStringLiteral("jump_ms"), start.utcMs - newest->utcMs},
                                         {QStringLiteral("from"), newest->local},
                                         {QStringLiteral("to"), start.local}};
            keepEvent(std::move(behind));
        }
    }
    keepEvent(start);
    flushEvents();
}

void RecordWriter::takeEvents()
{
    std::vector<journal::Event> events;
    int lost = 0;
    {
        std::lock_guard lock(m_handover.mutex);
        events.swap(m_handover.events);
        lost = std::exchange(m_handover.eventsLost, 0);
        m_handover.eventsAsked = false;
    }
    if (lost > 0 && !events.empty()) {
        journal::Event told = events.back();
        told.kind = journal::kindName(journal::Kind::EventsLost);
        told.details = QJsonObject{{QStringLiteral("lost"), lost},
                                   {QStringLiteral("why"), QStringLiteral("too many events waited for the disk")}};
        events.push_back(std::move(told));
    }
    for (journal::Event &e : events)
        keepEvent(std::move(e));
    flushEvents();
}

QString RecordWriter::newestSampleTime()
{
    if (m_pointer <= 0)
        return QString();
    QSqlQuery q(m_connection->database());
    if (!q.exec(sampledb::selectRowQuery(m_pointer)) || !q.next())
        return QString();
    const QDate date = dateFromDayNumber(q.value(sampledb::col::kDate).toDouble());
    const QTime time = timeFromDayFraction(q.value(sampledb::col::kTime).toDouble());
    return QDateTime(date, time).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
}

} // namespace station::record
