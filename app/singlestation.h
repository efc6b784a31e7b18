// One station per data folder, and what a second start does.
//
// The first station takes the folder's lock (common/stationlock.h) before it
// makes its application object, then listens on a local socket named from
// the folder. A second start on the same folder finds the lock held, connects
// to that socket and asks "raise"; the first station brings its shown window
// to the front and answers "raised <pid>", and the second start exits 0
// without opening the database or the line. The request and the answer are
// one line each.
//
//   lock free                      -> this start is the station
//   lock held, "raised" answered   -> exit 0
//   lock held, no socket to reach  -> the holder is starting (the socket comes
//                                     within a moment) or ending (the lock goes
//                                     within its 5 s): the lock is tried again,
//                                     for up to kEndingWaitMs
//   lock held, no answer in kAskMs -> the holder hangs: one line on standard
//                                     error and a non-zero exit
//
// A killed station leaves its socket file behind but never its lock: the next
// station takes the lock, removes the file and listens afresh.
//
// The socket is <runtime folder>/lx6100-station-<hash of the folder>.sock
// ($XDG_RUNTIME_DIR, else the temporary folder): a data folder's path may be
// longer than a socket's name may be.
#pragma once

#include "common/stationlock.h"

#include <QObject>
#include <QString>

class QLocalServer;

namespace station {

enum class StartClaim {
    Station,      // the lock is ours: start
    Raised,       // the running station raised its window: exit 0
    Unreachable,  // it holds the folder and does not answer: say so, exit 1
};

struct Claim {
    StartClaim kind = StartClaim::Station;
    QString message;  // Unreachable: the line for standard error
};

inline constexpr int kAskMs = 2000;
inline constexpr int kEndingWaitMs = 6000;  // the end takes 5 s at most

// The socket's path for folder.
QString raiseSocketPath(const QString &folder);

// Takes lock or asks its holder to raise its window (see above). Needs no
// application object: a second start runs it without a display.
Claim claimDataFolder(const QString &folder, StationLock &lock);

// The first station's end of the socket. Needs the application object.
class RaiseServer : public QObject {
    Q_OBJECT
public:
    explicit RaiseServer(QObject *parent = nullptr);
    ~RaiseServer() override;

    // Listens on folder's socket (with the folder's lock held: a file left
    // there is a killed station's). False when it cannot.
    bool listen(const QString &folder);
    // Stops answering (the end has begun: a second start waits for the lock).
    void close();

signals:
    // A second start asked; the windows are raised by whoever is connected.
    void raiseRequested();

private:
    void onConnection();

    QLocalServer *m_server;
};

} // namespace station
