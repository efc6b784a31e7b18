// How a stream follows the station's database beside a running station: when
// to read, and one read transaction at a time on a read-only connection. The
// sample stream and the event stream each have one.
//
// Looking. Between two reads the follower only looks at the database file and
// its WAL (inode, size, modification time): a commit changes the WAL, a
// checkpoint the file, a new file at the path its inode. Unchanged, nothing
// was recorded; the next read waits. A file system whose times are coarse
// could hide a commit made in the same tick as the last look, so at least
// every kForcedReadMs the rows are read regardless.
//
// Reading. Each read runs in one read transaction (one snapshot) on a
// read-only connection. The connection is closed again unless the reader asks
// to keep it (a publisher catching up reads the next batch at once; close()
// lets go of it when the broker went away meanwhile), so a caught-up or
// waiting publisher never keeps the station's WAL open (the station removes
// its WAL when it ends, which it cannot while a reader holds it). A database
// without a WAL (no station running) is read as an immutable file; if a WAL
// appears, a station started meanwhile: that read fails and is made again
// through the WAL at the next call (the station writes into the database file
// itself only at a checkpoint, a minute after it starts, so rows read before
// cannot be torn).
#pragma once

#include "record/sampledb.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace station::publish {

class DatabaseFollower {
public:
    DatabaseFollower(QString path, QString connectionName);
    ~DatabaseFollower();

    static constexpr qint64 kForcedReadMs = 5000;

    // What a read does inside its transaction: true when it read what it
    // wanted (else *error says why); *keepOpen when another read follows at
    // once.
    using Body = std::function<bool(QSqlDatabase &db, bool *keepOpen, QString *error)>;
    // Called after the connection was opened (to prepare statements; false
    // with *error fails the read) and before it is closed.
    std::function<bool(QSqlDatabase &db, QString *error)> onOpen;
    std::function<void()> onClose;

    bool read(const Body &body, QString *error);
    // False when nothing can have been recorded since the last good read.
    bool mayHaveChanged() const;
    void close();
    const QString &path() const { return m_path; }

private:
    bool open(QString *error);

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
    QString m_connectionName;
    std::unique_ptr<sampledb::Connection> m_connection;
    bool m_withoutWal = false;          // the connection reads the file alone (immutable)
    std::optional<Signature> m_readAt;  // as it was before the last good read
    QElapsedTimer m_sinceRead;
};

} // namespace station::publish
