// SIGTERM, SIGINT and SIGHUP as a Qt signal. The handler does nothing but write
// the signal's number into a pipe (write() is async-signal-safe); a
// QSocketNotifier on the other end reports it on the thread of the event loop,
// where the station ends cleanly. One instance per process. (lx6100-publish,
// which runs no Qt event loop, has handlers of its own: record/publish/main.cpp.)
#pragma once

#include <QObject>

class QSocketNotifier;

namespace station {

class ExitSignals : public QObject {
    Q_OBJECT
public:
    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;

    // Whether the handlers are in place (false when the pipe could not be made).
    bool isInstalled() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace station
