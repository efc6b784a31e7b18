// Start-up: the splash first; when it closes, the main window (which loads as it
// is shown), then the poller and the recorder, which live until the program ends.
#pragma once

#include <QObject>
#include <QPointer>

#include "app/splash.h"
#include <memory>

namespace station {

class MainWindow;
class Poller;

class Station : public QObject {
    Q_OBJECT
public:
    Station();
    ~Station() override;

    // Shows the splash; the rest follows from its timers.
    void start();

    // The one way the station ends, for "退出" (and Esc) and for SIGTERM,
    // SIGINT and SIGHUP: the main window unloads (its timers, the poller and
    // its database connection stop), the recorder stops, copies the WAL into
    // the database file and closes, the writes still queued on the link thread
    // go out, then the event loop ends. Safe to call
    // more than once; later calls do nothing.
    void shutDown();

    Splash *splash() const { return m_splash; }
    MainWindow *mainWindow() const { return m_main.get(); }
    Poller *poller() const { return m_poller.get(); }
    QObject *recorder() const { return m_recorder.get(); }

signals:
    // The main window is shown and loaded, the poller and recorder exist.
    void started();

private:
    void afterSplash();

    bool m_shuttingDown = false;
    QPointer<Splash> m_splash;
    std::unique_ptr<MainWindow> m_main;
    std::unique_ptr<Poller> m_poller;
    std::unique_ptr<QObject> m_recorder;
};

} // namespace station
