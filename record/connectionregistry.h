// Every sampledb::Connection of the process, across threads. Internal to
// record/ (the Connection class uses it; nothing else should).
//
// Why a registry. SQLite names a database's -wal and -shm after the path, and
// it coordinates the connections of one process to one file in memory, keyed
// by the file's inode: two connections of ours to two different files that
// stood at the same path would share one -wal and one -shm without knowing of
// each other. So the connections of the process follow common rules about
// the file at a path (sampledb.h): they leave a replaced file, never
// checkpoint into a file that is not current and sound or that was found
// damaged, and remove the -wal and -shm an older file left behind.
//
// Threads. The recorder's connection lives on the recorder thread, the main
// window's on the GUI thread; a QSqlDatabase may only be used on the thread
// that made it. So one connection never closes another of another thread: it
// asks, and the owner closes it on its own thread (a queued call to the
// connection's context object, or serviceCloseRequests() from a thread that
// waits). Where an open must not go ahead before a peer has closed (a
// read-only view of the -shm that would make our writes fail), the opener
// waits for it, bounded by kPeerCloseWaitMs, and otherwise fails this attempt.
// What each connection shows the others (open, read-only, the identity of its
// file, SQLite's descriptor of its main file) is kept here under one mutex,
// which is held for bookkeeping only, never across an SQLite call.
#pragma once

#include "record/sampledb.h"

#include <QList>
#include <QObject>
#include <QThread>

struct sqlite3;
struct sqlite3_file;

namespace station::sampledb::detail {

// How long an open waits for a peer of another thread to close. The GUI
// thread answers a queued call within one turn of its event loop (a few
// milliseconds; 20 ms is the longest handler bench_station shows); the
// recorder thread within one commit, which a stuck disk can hold longer: then
// the attempt fails and is made again a second later.
inline constexpr int kPeerCloseWaitMs = 250;

struct PeerView {
    Connection *connection = nullptr;
    QThread *thread = nullptr;
    bool readOnly = false;
    Connection::Identity identity;
};

class Registry {
public:
    static Registry &instance();

    void add(Connection *c, QObject *context);
    void remove(Connection *c);

    // What an owner tells the others after its open and before its close.
    void published(Connection *c, bool open, bool readOnly, const Connection::Identity &identity,
                   sqlite3_file *file);

    // The other open connections to the file at path (by absolute path).
    QList<PeerView> peers(const Connection *self, const QString &path) const;

    // Closes the given peers: at once when they belong to the calling thread,
    // else by asking their owners; waits up to waitMs for those (0: no wait).
    // True when all of them are closed.
    bool closePeers(const QList<PeerView> &peers, int waitMs);

    // Closes the calling thread's connections whose close was asked for.
    void serviceCloseRequests();

    // The state of the file an open peer has open, read through that peer's
    // own descriptor; nullopt when no open peer has exactly that file.
    std::optional<FileState> stateThroughPeer(const QString &path, const Connection::Identity &identity) const;

    // A file found damaged: no connection of ours open on it checkpoints into
    // it, whichever closes last. (By the open connections, not by the file's
    // identity: an inode number comes back for a later file.)
    void markDamaged(const Connection::Identity &identity);
    bool isDamaged(const Connection *c) const;

    // What the last read-write open left beside the file at path (see
    // sampledb.cpp): recorded after the open, removed by the next open of
    // another file there.
    struct Leftover {
        Connection::Identity owner;
        Connection::Identity wal;
        Connection::Identity shm;
    };
    void recordLeftover(const QString &path, const Leftover &left);
    // Removes the -wal and -shm an older file left at path, unless the file at
    // the path now is still their owner.
    void removeStaleLeftovers(const QString &path, const Connection::Identity &current);
    // The last connection of ours to the file at path closed while that file
    // still stood there: what stands beside it is its own, and the record
    // goes (an inode number recorded now may name another file later).
    void forgetLeftover(const QString &path, const Connection::Identity &owner);

private:
    Registry() = default;
    struct Private;
    Private &d() const;
};

QString absolute(const QString &path);

// A file name as an SQLite URI, with the given open mode ("rw": the file must
// exist; "rwc": created when missing; "ro", "ro&immutable=1").
QString uriFor(const QString &path, const char *mode);
// QSQLITE's options for every connection: URIs, the station's busy timeout.
QString connectOptions();
// SQLite's handle behind a Qt connection; null when there is none.
sqlite3 *handleOf(const QSqlDatabase &db);
// Runs one statement; a failure is logged on lcRecord with the connection's name.
bool exec(QSqlDatabase &db, const QString &text);

} // namespace station::sampledb::detail
