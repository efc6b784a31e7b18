// The samples as a stream: the rows of pv_data in the order the recorder wrote
// them, which is the order of the ring, not of the rows' times.
//
// The ring. The recorder writes row w_id = pointer + 1 (65500 wraps to 1) and
// moves the pointer in sl_void to it, both in one transaction, so the rows
// recorded after row c are c+1, c+2, ... up to the pointer P, wrapping at
// 65500. A clock set back changes the rows' times, never this order, so a
// stream that follows w_id neither reorders nor skips rows.
//
// Overwritten positions. A position is the id of the last row published and
// that row's mark, its date and time as stored, to the second
// ("2024-07-01T20:00:05", the local wall clock). The recorder overwrites the
// oldest row first; when the row at the position no longer has its mark, the
// recorder has gone once round the ring since, and every row kept is newer
// than the position: the stream then starts again from the oldest row kept
// (P+1) and says that at least (P - c) mod 65500 rows, the ones written after
// the position and overwritten before they were read, are lost. A missing row
// at the position (another database at the path) gives the same restart,
// with no count.
//
// Looking. Between two reads the stream only looks at the database file and
// its WAL (inode, size, modification time): a commit changes the WAL, a
// checkpoint the file, a new file at the path its inode. Unchanged, nothing
// was recorded; the next read waits. A file system whose times are coarse
// could hide a commit made in the same tick as the last look, so at least
// every kForcedReadMs the rows are read regardless.
//
// Reading. Each call reads the pointer, the position's row and the next rows
// in one read transaction (one snapshot) on a read-only connection. The
// connection is closed again unless the batch was full (a publisher catching
// up reads the next batch at once; release() closes it when the broker went
// away meanwhile), so a caught-up or waiting publisher never keeps the
// station's WAL open (the station removes its WAL when it ends, which it
// cannot while a reader holds it). A database without a WAL (no station
// running) is read as an immutable file; if a WAL appears, a station started
// meanwhile: the rows of that read are dropped and read again through the WAL
// at the next call (the station writes into the database file itself only at
// a checkpoint, a minute after it starts, so rows read before cannot be
// torn).
//
// The rows' positions 13 (w_live) and 14 (w_utc) are read when the record has
// them; an older file has 13 columns and its rows have neither.
#pragma once

#include "record/publish/payload.h"
#include "record/publish/stream.h"
#include "record/sampledb.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <memory>
#include <utility>

namespace station::publish {

class SampleStream final : public Stream {
public:
    SampleStream(QString databasePath, bool raw);
    ~SampleStream() override;

    QByteArray name() const override { return "sample"; }
    Batch next(const Position &after, int max) override;
    bool mayHaveNewRows() override;
    void release() override { close(); }
    std::optional<Position> newest() override;

    static constexpr qint64 kForcedReadMs = 5000;

    // The newest row as the last call saw it (nullopt: the ring is empty or
    // was not read yet).
    const std::optional<SampleRow> &newestRow() const { return m_newest; }

    static QByteArray markOf(const SampleRow &row);

private:
    bool open(QString *error);
    void close();

    struct FileState {
        quint64 inode = 0, size = 0;
        qint64 mtimeNs = 0;
        bool exists = false;
        bool operator==(const FileState &) const = default;
    };
    static FileState fileState(const QString &path);
    using Signature = std::pair<FileState, FileState>;  // the file, its WAL
    Signature signature() const;

    QString m_path;
    bool m_raw;
    std::optional<Signature> m_readAt;   // as it was before the last good read
    QElapsedTimer m_sinceRead;
    std::unique_ptr<sampledb::Connection> m_connection;
    bool m_withoutWal = false;           // the connection reads the file alone (immutable)
    std::unique_ptr<QSqlQuery> m_rangeQuery;  // prepared on the open connection
    std::optional<SampleRow> m_newest;
};

// Where the ring continues after id (1..kRingSize wrap).
qint64 ringNext(qint64 id);
// How many ids lie after `from` up to and including `to`, in ring order.
qint64 ringDistance(qint64 from, qint64 to);

} // namespace station::publish
