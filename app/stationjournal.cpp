#include "app/stationjournal.h"

#include "app/connectionpanel.h"
#include "app/mainwindow.h"

#include "common/datadir.h"
#include "link/libmodbusbackend.h"
#include "link/linkstate.h"
#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/writeoutcome.h"
#include "link/writetag.h"
#include "record/recorder.h"
#include "record/sampledb.h"

#include <QCoreApplication>
#include <QJsonObject>

#include <chrono>
#include <csignal>

namespace station {

namespace {

using journal::Kind;
using Steady = std::chrono::steady_clock;

int g_exitSignal = 0;

// "none", "odd", "even"; an unknown code as its number.
QString parityText(std::int32_t parityCode)
{
    const char *name = link::parityName(parityCode);
    return name ? QString::fromLatin1(name) : QString::number(parityCode);
}

QString signalName(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(signalNumber);
    }
}

QString version()
{
    const QString v = QCoreApplication::applicationVersion();
    return v.isEmpty() ? QStringLiteral(STATION_VERSION) : v;
}

// Follows the window, the link and the writes for the recorder's journal.
class StationJournal : public QObject {
public:
    StationJournal(MainWindow &window, Recorder &recorder) : QObject(&recorder), m_recorder(recorder)
    {
        setObjectName(QStringLiteral("StationJournal"));
        connect(&link::writeOutcomes(), &link::WriteOutcomes::finished, this, &StationJournal::written);
        connect(&window, &MainWindow::linkOpened, this, &StationJournal::opened);
        connect(&window, &MainWindow::linkClosed, this, &StationJournal::closed);
        ConnectionPanel *panel = window.connectionPanel();
        connect(panel, &ConnectionPanel::linkStateShown, this, [this, panel] { linkStateShown(panel->shownLinkState()); });
    }

private:
    void opened(const LinkSettings &settings, std::int32_t result)
    {
        const link::LinkStatus status = link::linkThread().status();
        const bool ok = result == link::kOk;
        QJsonObject details{{QStringLiteral("port"), settings.port},
                            {QStringLiteral("device"), status.device},
                            {QStringLiteral("baud"), link::baudRate(settings.baudCode)},
                            {QStringLiteral("parity"), parityText(settings.parityCode)},
                            {QStringLiteral("address"), settings.station},
                            {QStringLiteral("opened"), ok}};
        if (!ok)
            details.insert(QStringLiteral("error"), link::failureTextWithWords(status.lastFailure));
        m_openedAt = Steady::now();
        m_down = false;
        m_recorder.journal(Kind::Open, details);
    }

    void closed()
    {
        m_down = false;
        m_recorder.journal(Kind::Close, QJsonObject{{QStringLiteral("port"), linkSettings().port}});
    }

    void linkStateShown(link::LinkState state)
    {
        const link::LinkStatus status = link::linkThread().status();
        if (state == link::LinkState::Lost && !m_down) {
            m_down = true;
            const bool answeredBefore = status.lastGoodAt != Steady::time_point{};
            m_downSince = answeredBefore ? status.lastGoodAt : m_openedAt;
            m_lostError = link::failureTextWithWords(status.lastFailure);
            m_recorder.journal(Kind::LinkLost,
                               QJsonObject{{QStringLiteral("error"), m_lostError},
                                           {QStringLiteral("device"), status.device},
                                           {QStringLiteral("last_good"), answeredBefore
                                                ? status.lastGood.toString(Qt::ISODateWithMs)
                                                : QStringLiteral("none since 打开")}});
        } else if (state == link::LinkState::Answering && m_down) {
            m_down = false;
            const auto down = std::chrono::duration_cast<std::chrono::milliseconds>(status.lastGoodAt - m_downSince);
            m_recorder.journal(Kind::LinkBack, QJsonObject{{QStringLiteral("down_ms"), qint64(down.count())},
                                                           {QStringLiteral("error"), m_lostError}});
        } else if (state == link::LinkState::Closed) {
            m_down = false;
        }
    }

    void written(const link::WriteReport &report)
    {
        QJsonObject details{{QStringLiteral("register"), report.reg},
                            {QStringLiteral("value"), report.value},
                            {QStringLiteral("port"), report.port},
                            {QStringLiteral("address"), report.station},
                            {QStringLiteral("outcome"), QLatin1String(link::outcomeName(report.outcome))}};
        switch (report.outcome) {
        case link::WriteOutcome::Failed:
            details.insert(QStringLiteral("error"), link::failureTextWithWords(report.failure));
            [[fallthrough]];
        case link::WriteOutcome::AnsweredOnRetry:
            details.insert(QStringLiteral("retry_result"), report.retryResult);
            [[fallthrough]];
        case link::WriteOutcome::Answered:
            details.insert(QStringLiteral("result"), report.result);
            break;
        case link::WriteOutcome::Refused:
        case link::WriteOutcome::Replaced:
        case link::WriteOutcome::Dropped:
            break;  // nothing went out
        }
        if (report.tag.canConvert<link::WriteTag>()) {
            const auto tag = report.tag.value<link::WriteTag>();
            details.insert(QStringLiteral("window"), tag.window);
            details.insert(QStringLiteral("control"), tag.control);
            details.insert(QStringLiteral("caption"), tag.caption);
            details.insert(QStringLiteral("entered"), tag.entered);
            if (tag.shownBefore)
                details.insert(QStringLiteral("shown_before"), *tag.shownBefore);
        }
        m_recorder.journal(Kind::Write, details);
    }

    Recorder &m_recorder;
    Steady::time_point m_openedAt{};
    Steady::time_point m_downSince{};
    QString m_lostError;
    bool m_down = false;
};

} // namespace

void startJournal(MainWindow &window, Recorder &recorder)
{
    new StationJournal(window, recorder);
    recorder.startJournal(QJsonObject{{QStringLiteral("version"), version()},
                                      {QStringLiteral("data_folder"), dataDir()},
                                      {QStringLiteral("database"), sampledb::defaultPath()}});
}

void endJournal(Recorder &recorder, const MainWindow *window)
{
    QString way = QStringLiteral("unknown");
    if (g_exitSignal != 0)
        way = signalName(g_exitSignal);
    else if (window)
        way = window->exitWay() == MainWindow::ExitWay::EscapeKey ? QStringLiteral("Esc") : QStringLiteral("退出");
    recorder.endJournal(QJsonObject{{QStringLiteral("way"), way}});
}

void noteExitSignal(int signalNumber)
{
    if (g_exitSignal == 0)
        g_exitSignal = signalNumber;
}

} // namespace station
