#include "app/station.h"

#include "app/mainwindow.h"
#include "app/splash.h"
#include "app/stationjournal.h"

#include "link/linkthread.h"
#include "link/poller.h"
#include "record/recorder.h"
#include "record/sampledb.h"

#include "common/datadir.h"
#include "common/windowfit.h"

#include <QApplication>
#include <QIcon>

namespace station {

Station::Station() = default;

Station::~Station() = default;

void Station::start()
{
    serialDir(); // where the operator links the ports
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/lx6100-station.svg")));
    m_splash = new Splash;
    connect(m_splash, &Splash::finished, this, &Station::afterSplash);
    m_splash->show();
}

void Station::afterSplash()
{
    if (m_shuttingDown)
        return;
    m_main = std::make_unique<MainWindow>();
    connect(m_main.get(), &MainWindow::exitRequested, this, &Station::shutDown);
    showFitted(m_main.get());
    m_poller = std::make_unique<Poller>();
    m_main->setPoller(m_poller.get());
    auto recorder = std::make_unique<Recorder>(); // opens the database and records at once
    startJournal(*m_main, *recorder);
    m_recorder = std::move(recorder);
    emit started();
}

void Station::shutDown()
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    if (m_splash) {
        disconnect(m_splash, &Splash::finished, this, &Station::afterSplash);
        m_splash->close();
    }
    // 1. The main window unloads as "退出" unloads it: timers and polling stop,
    //    its database connection closes. (When "退出" itself got us here, this
    //    is done already and its unload guard is down.)
    if (m_main && m_main->unloadGuard())
        m_main->exitProgram();
    // 2. The recorder stores nothing more; the WAL goes into the database file,
    //    so Rdatabj.db alone holds every stored row.
    if (m_recorder)
        static_cast<Recorder *>(m_recorder.get())->finish();
    sampledb::closeMainWindowConnection();
    // 3. Writes still queued on the link thread (a panel's, an editor's just
    //    left) go out, each bounded by its time-outs, and the thread ends.
    link::linkThread().finish(MainWindow::kExitDrain);
    // 4. The journal's end, after every write's outcome.
    if (m_recorder)
        endJournal(static_cast<Recorder &>(*m_recorder), m_main.get());
    QCoreApplication::exit(0);
}

} // namespace station
