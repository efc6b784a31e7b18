#include "app/station.h"

#include "app/connectionpanel.h"
#include "app/lastopen.h"
#include "app/mainwindow.h"
#include "app/splash.h"
#include "app/stationjournal.h"

#include "link/linkthread.h"
#include "link/poller.h"
#include "record/recorder.h"
#include "record/recorderhealth.h"
#include "record/sampledb.h"

#include "common/datadir.h"
#include "common/exitsignals.h"
#include "common/logging.h"
#include "common/windowfit.h"

#include <QApplication>
#include <QIcon>

#include <csignal>

namespace station {

namespace {

struct WayRow {
    EndWay way;
    int signalNumber;  // 0: none
    const char *name;
};

constexpr WayRow kWays[] = {
    {EndWay::Command, 0, "command"},
    {EndWay::Terminate, SIGTERM, "SIGTERM"},
    {EndWay::Interrupt, SIGINT, "SIGINT"},
    {EndWay::HangUp, SIGHUP, "SIGHUP"},
};

} // namespace

const char *endWayName(EndWay way)
{
    for (const WayRow &row : kWays)
        if (row.way == way)
            return row.name;
    return "?";
}

EndWay endWayOfSignal(int signalNumber)
{
    for (const WayRow &row : kWays)
        if (row.signalNumber != 0 && row.signalNumber == signalNumber)
            return row.way;
    return EndWay::Terminate;
}

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
    connect(m_main.get(), &MainWindow::exitRequested, this, [this] { shutDown(EndWay::Command); });
    connect(m_main->connectionPanel(), &ConnectionPanel::linkStateShown, this, &Station::onLinkStateShown);
    showFitted(m_main.get());
    m_poller = std::make_unique<Poller>();
    m_main->setPoller(m_poller.get());
    auto recorder = std::make_unique<Recorder>(); // opens the database and records at once
    connect(recorder.get(), &Recorder::healthChanged, this, &Station::onRecorderHealth);
    startJournal(*m_main, *recorder);
    m_recorder = std::move(recorder);
    if (m_resume) {
        m_main->connectionPanel()->choose(*m_resume);
        m_main->openLink();
    }
    emit started();
}

void Station::onRecorderHealth(const RecorderHealth &health)
{
    // The latest word of the recorder stays under the link state's tooltip:
    // a trouble until the recorder says it is over, a recovery until the next.
    if (m_main)
        m_main->connectionPanel()->setNote(health.text);
}

void Station::onLinkStateShown(const QString &text)
{
    // The controller answered: these settings are proven, for --resume.
    if (text != link::linkStateText(link::LinkState::Answering))
        return;
    LinkSettings now = linkSettings();
    now.openResult = 0;
    if (m_saved && m_saved->port == now.port && m_saved->baudCode == now.baudCode
        && m_saved->parityCode == now.parityCode && m_saved->station == now.station)
        return;
    if (saveLastOpen(now))
        m_saved = now;
    else
        qCInfo(lcLink) << "cannot keep the link settings in" << lastOpenPath();
}

void Station::raiseWindows()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || !w->isWindow() || w->windowType() == Qt::ToolTip || w->windowType() == Qt::Popup)
            continue;
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        w->raise();
        w->activateWindow();
    }
    emit windowsRaised();
}

void Station::shutDown(EndWay way)
{
    if (m_shuttingDown)
        return;
    m_shuttingDown = true;
    ExitSignals::beginEnd();
    const Clock::time_point now = Clock::now();
    const Clock::time_point signalled = ExitSignals::signalledAt();
    EndReport end;
    end.way = way;
    end.began = way != EndWay::Command && signalled != Clock::time_point{} && signalled <= now ? signalled : now;
    m_endBegan = end.began;
    qCInfo(lcRecord) << "the station ends:" << endWayName(way);

    // 1. Nothing new goes out on the line while the recorder saves; every
    //    window disappears, and the display is told before anything waits.
    link::linkThread().hold();
    if (m_splash) {
        disconnect(m_splash, &Splash::finished, this, &Station::afterSplash);
        m_splash->close();
    }
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->isVisible())
            w->hide();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    //    The main window unloads as "退出" unloads it: timers and polling stop,
    //    its database connection closes. (When "退出" itself got us here, this
    //    is done already and its unload guard is down.)
    if (m_main && m_main->unloadGuard())
        m_main->exitProgram();
    emit ending(way);

    // 2. The recorder stores nothing more; the WAL goes into the database file,
    //    so Rdatabj.db alone holds every stored row.
    if (auto *recorder = static_cast<Recorder *>(m_recorder.get())) {
        const Recorder::FinishReport report = recorder->finish(kRecorderBounds);
        end.walFolded = report.walFolded;
        end.recorderEnded = report.threadEnded;
    } else {
        end.walFolded = true;
    }
    sampledb::closeMainWindowConnection();

    // 3. Writes still queued (a panel's, an editor's just left) go out for a
    //    short time; none on a lost link. The rest are dropped and logged.
    bool lost = false;
    if (m_main) {
        m_main->connectionPanel()->refreshLinkState();
        lost = m_main->connectionPanel()->shownLinkState() == link::LinkState::Lost;
    }
    const Clock::time_point writesStart = Clock::now();
    const Clock::time_point queueUntil
        = lost ? writesStart : std::min(writesStart + kWritesFor, end.began + kWritesEndBy);
    end.linkEnded = link::linkThread().finishBy(queueUntil);
    if (!end.walFolded || !end.recorderEnded || !end.linkEnded)
        qCWarning(lcRecord, "the station's end: WAL folded %s, recorder thread ended %s, link thread ended %s",
                  end.walFolded ? "yes" : "no", end.recorderEnded ? "yes" : "no", end.linkEnded ? "yes" : "no");

    // 4. The journal's end, after every write's outcome (those dropped just
    //    now among them), on a connection of its own.
    if (m_recorder)
        endJournal(static_cast<Recorder &>(*m_recorder), m_main.get());
    m_end = end;

    // 5. The event loop ends.
    QCoreApplication::exit(0);
}

} // namespace station
