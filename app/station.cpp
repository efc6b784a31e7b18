#include "app/station.h"

#include "app/mainwindow.h"
#include "app/splash.h"

#include "link/poller.h"
#include "record/recorder.h"

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
    m_main = std::make_unique<MainWindow>();
    showFitted(m_main.get());
    m_poller = std::make_unique<Poller>();
    m_main->setPoller(m_poller.get());
    m_recorder = std::make_unique<Recorder>(); // opens the database and records at once
    emit started();
}

} // namespace station
