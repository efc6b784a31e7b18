#include "app/singlestation.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <unistd.h>

namespace station {

namespace {

constexpr int kRetryMs = 50;
const QByteArray kRaise = "raise\n";
const QByteArray kRaised = "raised";

enum class Asked { Raised, NoSocket, NoAnswer };

Asked askToRaise(const QString &folder)
{
    QLocalSocket socket;
    socket.connectToServer(raiseSocketPath(folder));
    if (!socket.waitForConnected(kAskMs))
        return Asked::NoSocket;
    const QDeadlineTimer deadline(kAskMs);
    socket.write(kRaise);
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return Asked::NoAnswer;
    while (!socket.canReadLine()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return socket.state() == QLocalSocket::UnconnectedState ? Asked::NoSocket : Asked::NoAnswer;
    }
    return socket.readLine().startsWith(kRaised) ? Asked::Raised : Asked::NoAnswer;
}

QString holderText(const QString &folder)
{
    const qint64 pid = StationLock::holderPid(folder);
    return pid > 0 ? QStringLiteral(" (process %1)").arg(pid) : QString();
}

} // namespace

QString raiseSocketPath(const QString &folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    const QByteArray hash = QCryptographicHash::hash((canonical.isEmpty() ? folder : canonical).toUtf8(),
                                                     QCryptographicHash::Sha1)
                                .toHex()
                                .left(16);
    QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty() || !QFileInfo(runtime).isDir())
        runtime = QDir::tempPath();
    return QDir(runtime).filePath(QStringLiteral("lx6100-station-%1.sock").arg(QLatin1String(hash)));
}

Claim claimDataFolder(const QString &folder, StationLock &lock)
{
    const QDeadlineTimer deadline(kEndingWaitMs);
    for (;;) {
        if (lock.tryLock())
            return {StartClaim::Station, {}};
        switch (askToRaise(folder)) {
        case Asked::Raised:
            return {StartClaim::Raised, {}};
        case Asked::NoAnswer:
            return {StartClaim::Unreachable,
                    QStringLiteral("a station already runs on %1%2 and does not answer; nothing started")
                        .arg(folder, holderText(folder))};
        case Asked::NoSocket:
            break;  // starting or ending: try the lock again
        }
        if (deadline.hasExpired())
            return {StartClaim::Unreachable,
                    QStringLiteral("a station holds %1%2 and cannot be reached; nothing started")
                        .arg(folder, holderText(folder))};
        QThread::msleep(kRetryMs);
    }
}

RaiseServer::RaiseServer(QObject *parent)
    : QObject(parent),
      m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &RaiseServer::onConnection);
}

RaiseServer::~RaiseServer() = default;

bool RaiseServer::listen(const QString &folder)
{
    const QString path = raiseSocketPath(folder);
    QLocalServer::removeServer(path);
    return m_server->listen(path);
}

void RaiseServer::close()
{
    m_server->close();
}

void RaiseServer::onConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() == kRaise) {
                emit raiseRequested();
                socket->write(kRaised + ' ' + QByteArray::number(qint64(::getpid())) + '\n');
            }
            socket->disconnectFromServer();
        });
    }
}

} // namespace station
