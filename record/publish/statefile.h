// The publisher's state file: for each stream, the last row the broker has
// acknowledged. One line per stream, text, so an operator can read it:
//
//   # lx6100-publish: the last row of each stream the broker acknowledged
//   event 57 9c1e...(the row's e_hash, 64 hex digits)
//   sample 1234 2024-07-01T20:00:05
//
// name, id and the stream's mark (for samples the row's local time as stored,
// for events the row's hash; "event 0 " before the journal's first row, also
// while the file has no journal). Lines starting
// with '#' and blank lines are skipped; a stream the file does not name has no
// position yet. The file is replaced as a whole (written beside it, synced,
// renamed over it), so after a crash or a power cut it holds either the old or
// the new positions, never a mixture.
#pragma once

#include "record/publish/stream.h"

#include <QByteArray>
#include <QMap>
#include <QString>

namespace station::publish {

using Positions = QMap<QByteArray, Position>;

struct StateRead {
    enum class Status { Read, Missing, Unreadable, Malformed };
    Status status = Status::Missing;
    QString error;  // for Unreadable and Malformed: what and where
    Positions positions;
};

StateRead readStateFile(const QString &path);
// Replaces the file; false with the reason in *error when it could not.
bool writeStateFile(const QString &path, const Positions &positions, QString *error = nullptr);

// The file's text, and its reading, without the file.
QByteArray stateText(const Positions &positions);
StateRead parseState(const QByteArray &text);

} // namespace station::publish
