// SIGTERM, SIGINT and SIGHUP as a Qt signal. The handler does nothing but write
// the signal's number into a pipe (write() is async-signal-safe); a
// QSocketNotifier on the other end reports it on the thread of the event loop,
// where the program (the station, the publisher) ends cleanly. One instance per
// process.
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
