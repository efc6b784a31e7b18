#include "record/connectionregistry.h"

#include "common/logging.h"
#include "record/dbfile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMetaObject>
#include <QSet>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace station::sampledb::detail {

namespace {

struct Entry {
    Connection *connection = nullptr;
    QObject *context = nullptr;  // lives on the owner's thread
    QThread *thread = nullptr;
    QString key;                 // absolute path
    bool open = false;
    bool readOnly = false;
    bool closeRequested = false;
    bool damaged = false;        // its file was found damaged: it never checkpoints
    Connection::Identity identity;
    sqlite3_file *file = nullptr;  // SQLite's descriptor of the main file while open
};

} // namespace

struct Registry::Private {
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Entry> entries;
    QHash<QString, Leftover> leftovers;

    Entry *find(const Connection *c) const
    {
        for (const Entry &e : entries)
            if (e.connection == c)
                return const_cast<Entry *>(&e);
        return nullptr;
    }
};

QString absolute(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

Registry &Registry::instance()
{
    static Registry r;
    return r;
}

Registry::Private &Registry::d() const
{
    static Private p;
    return p;
}

void Registry::add(Connection *c, QObject *context)
{
    Private &p = d();
    std::lock_guard lock(p.mutex);
    Entry e;
    e.connection = c;
    e.context = context;
    e.thread = QThread::currentThread();
    e.key = absolute(c->path());
    p.entries.push_back(e);
}

void Registry::remove(Connection *c)
{
    Private &p = d();
    {
        std::lock_guard lock(p.mutex);
        std::erase_if(p.entries, [c](const Entry &e) { return e.connection == c; });
    }
    p.changed.notify_all();
}

void Registry::published(Connection *c, bool open, bool readOnly, const Connection::Identity &identity,
                         sqlite3_file *file)
{
    Private &p = d();
    {
        std::lock_guard lock(p.mutex);
        if (Entry *e = p.find(c)) {
            if (open && !(e->open && e->identity == identity))
                e->damaged = false;  // a file opened afresh
            e->open = open;
            e->readOnly = readOnly;
            e->identity = identity;
            e->file = open ? file : nullptr;
            if (!open)
                e->closeRequested = false;
        }
    }
    p.changed.notify_all();
}

QList<PeerView> Registry::peers(const Connection *self, const QString &path) const
{
    Private &p = d();
    const QString key = absolute(path);
    std::lock_guard lock(p.mutex);
    QList<PeerView> result;
    for (const Entry &e : p.entries) {
        if (e.connection != self && e.open && e.key == key)
            result.push_back(PeerView{e.connection, e.thread, e.readOnly, e.identity});
    }
    return result;
}

bool Registry::closePeers(const QList<PeerView> &peers, int waitMs)
{
    Private &p = d();
    QList<Connection *> ours;
    QList<Connection *> asked;
    {
        std::lock_guard lock(p.mutex);
        for (const PeerView &v : peers) {
            Entry *e = p.find(v.connection);
            if (!e || !e->open)
                continue;
            if (e->thread == QThread::currentThread()) {
                ours.push_back(e->connection);
                continue;
            }
            asked.push_back(e->connection);
            if (e->closeRequested)
                continue;
            e->closeRequested = true;
            // Runs on the owner's thread; dropped with the context when the
            // connection goes first.
            QMetaObject::invokeMethod(
                e->context, [this] { serviceCloseRequests(); }, Qt::QueuedConnection);
        }
    }
    for (Connection *c : ours)
        c->close();
    if (asked.isEmpty())
        return true;
    std::unique_lock lock(p.mutex);
    const auto allClosed = [&] {
        for (Connection *c : asked) {
            const Entry *e = p.find(c);
            if (e && e->open)
                return false;
        }
        return true;
    };
    if (waitMs > 0)
        p.changed.wait_for(lock, std::chrono::milliseconds(waitMs), allClosed);
    const bool closed = allClosed();
    if (!closed)
        qCInfo(lcRecord) << "a connection of another thread has not closed yet";
    return closed;
}

void Registry::serviceCloseRequests()
{
    Private &p = d();
    QList<Connection *> due;
    {
        std::lock_guard lock(p.mutex);
        for (const Entry &e : p.entries)
            if (e.closeRequested && e.thread == QThread::currentThread())
                due.push_back(e.connection);
    }
    for (Connection *c : due) {
        qCDebug(lcRecord) << c->name() << "closes as another connection asked";
        c->close();
    }
}

std::optional<FileState> Registry::stateThroughPeer(const QString &path, const Connection::Identity &identity) const
{
    Private &p = d();
    const QString key = absolute(path);
    // Held across the read: the owner cannot close (and so free the
    // descriptor) before it has published its close.
    std::lock_guard lock(p.mutex);
    for (const Entry &e : p.entries) {
        if (e.open && e.file && e.key == key && e.identity.valid && e.identity == identity)
            return fileStateThrough(e.file);
    }
    return std::nullopt;
}

void Registry::markDamaged(const Connection::Identity &identity)
{
    if (!identity.valid)
        return;
    Private &p = d();
    std::lock_guard lock(p.mutex);
    for (Entry &e : p.entries)
        if (e.open && e.identity == identity)
            e.damaged = true;
}

bool Registry::isDamaged(const Connection *c) const
{
    Private &p = d();
    std::lock_guard lock(p.mutex);
    const Entry *e = p.find(c);
    return e && e->damaged;
}

void Registry::recordLeftover(const QString &path, const Leftover &left)
{
    Private &p = d();
    std::lock_guard lock(p.mutex);
    p.leftovers.insert(absolute(path), left);
}

void Registry::forgetLeftover(const QString &path, const Connection::Identity &owner)
{
    Private &p = d();
    const QString key = absolute(path);
    std::lock_guard lock(p.mutex);
    for (const Entry &e : p.entries)
        if (e.open && e.key == key && e.identity == owner)
            return;
    const auto it = p.leftovers.constFind(key);
    if (it != p.leftovers.constEnd() && it->owner == owner)
        p.leftovers.remove(key);
}

void Registry::removeStaleLeftovers(const QString &path, const Connection::Identity &current)
{
    Private &p = d();
    const QString key = absolute(path);
    Leftover left;
    {
        std::lock_guard lock(p.mutex);
        const auto it = p.leftovers.constFind(key);
        if (it == p.leftovers.constEnd() || it->owner == current)
            return;
        left = *it;
        p.leftovers.remove(key);
    }
    // A connection of ours still open on the older file keeps its descriptors
    // of these two (removed names, the same files), so it reads on undisturbed
    // until it notices and leaves; the new file gets a -wal and -shm of its own.
    const QString wal = key + QLatin1String("-wal");
    const QString shm = key + QLatin1String("-shm");
    if (left.wal.valid && Connection::identityOf(wal) == left.wal) {
        qCInfo(lcRecord) << "removing the -wal of the file that was replaced at" << path;
        QFile::remove(wal);
    }
    if (left.shm.valid && Connection::identityOf(shm) == left.shm)
        QFile::remove(shm);
}

} // namespace station::sampledb::detail
