#include "app/station.h"

#include "app/mainwindow.h"
#include "app/splash.h"

#include "link/poller.h"
#include "record/recorder.h"

namespace station {

Station::Station() = default;

Station::~Station() = default;

void Station::start()
{
    m_splash = new Splash;
    connect(m_splash, &Splash::finished, this, &Station::afterSplash);
    m_splash->show();
}

void Station::afterSplash()
{
    m_main = std::make_unique<MainWindow>();
    m_main->show();
    m_poller = std::make_unique<Poller>();
    m_main->setPoller(m_poller.get());
    m_recorder = std::make_unique<Recorder>(); // opens the database and records at once
    emit started();
}

} // namespace station
