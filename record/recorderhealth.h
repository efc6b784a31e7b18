// What the recorder tells about its own state, for the link-state indicator's
// tooltip (the Chinese text) and for the event journal (the details). Each
// kind comes with its fixed text; the details say what happened in this case
// (the file set aside, how many seconds were lost, SQLite's words).
#pragma once

#include <QMetaType>
#include <QString>

namespace station {

enum class RecorderHealthKind {
    DiskSlow,        // a commit has been running for kSlowCommitMs: samples wait in order
    DiskRecovered,   // every sample that waited is stored (or was dropped, see below)
    SamplesDropped,  // the queue was full: these seconds were not recorded
    FileSetAside,    // the file could not be used: kept aside, a fresh ring started
    IndexReplaced,   // a read-only -shm was replaced; recording goes on
    Suspended,       // the file cannot be opened or written: nothing is stored
    Resumed,         // rows are stored again
    ExitIncomplete,  // the end left rows in the -wal, or samples were dropped at the end
};

struct RecorderHealth {
    RecorderHealthKind kind = RecorderHealthKind::Resumed;
    QString text;     // the operator's words: recorderHealthText(kind)
    QString details;  // for the journal: files, counts, SQLite's message
};

// The fixed Chinese text of each kind.
QString recorderHealthText(RecorderHealthKind kind);
// The kind's name in the journal ("file-set-aside").
QString recorderHealthName(RecorderHealthKind kind);
// Whether the kind says recording is impaired (the tooltip keeps showing it
// until a kind that is not comes).
bool isRecorderTrouble(RecorderHealthKind kind);

RecorderHealth recorderHealth(RecorderHealthKind kind, const QString &details);

} // namespace station

Q_DECLARE_METATYPE(station::RecorderHealth)
