// The station as the journal test runs it: the whole Station (splash sped up)
// over a fake link, in a process of its own so that it can run under faketime
// and be killed.
//
//   journal_station_child session   "打开"; 设定SV1 answered; the line goes dead
//                                   and the link is lost; "报警1设定值" written to
//                                   the dead line; the line comes back; "关闭";
//                                   "退出"
//   journal_station_child idle      starts, prints "ready" once a sample and the
//                                   start event are stored, then runs until a
//                                   signal ends it or it is killed
// Exits 0 when the station ended; 3 when a step did not happen in time.
#include "app/connectionpanel.h"
#include "app/mainwindow.h"
#include "app/station.h"
#include "app/stationjournal.h"
#include "app/status/statuspanel.h"

#include "common/datadir.h"
#include "common/exitsignals.h"
#include "link/linkstate.h"
#include "link/modbusrtu.h"
#include "record/recorder.h"
#include "tests/support/fakelink.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>

using namespace station;

namespace {

constexpr int kStepMs = 5000;

void fail(const char *step)
{
    std::fprintf(stderr, "journal_station_child: %s did not happen\n", step);
    std::exit(3);
}

void waitFor(const std::function<bool()> &done, const char *step)
{
    if (!QTest::qWaitFor(done, kStepMs))
        fail(step);
}

void session(Station &station, test::FakeLink &fake)
{
    MainWindow *w = station.mainWindow();
    ConnectionPanel *panel = w->connectionPanel();
    status::StatusPanel *status = w->statusPanel();
    const auto shows = [panel](link::LinkState s) { return [panel, s] { return panel->shownLinkState() == s; }; };

    panel->openButton()->click();  // 打开: port 1, 9600, no parity, address 1
    waitFor(shows(link::LinkState::Answering), "the first answer");
    status->setValueEntry(0)->setText(QStringLiteral("250"));
    status->setValueButton(0)->click();  // 设定SV1, answered
    waitFor([&fake] { return fake.writes().size() == 1; }, "the answered write");

    fake.failure = link::LinkFailure{link::LinkFault::TimedOut, 110, QStringLiteral("Connection timed out"), {}};
    fake.readsFail = true;
    waitFor(shows(link::LinkState::Lost), "the link lost");
    fake.writeResults = {link::kWriteFailed, link::kWriteFailed};
    status->alarmEntry(0)->setText(QStringLiteral("35"));
    status->alarmButton(0)->click();  // DOWNLOAD 报警1设定值, to the dead line
    waitFor([&fake] { return fake.writes().size() == 3; }, "the failed write and its retry");

    fake.readsFail = false;
    fake.failure = {};
    waitFor(shows(link::LinkState::Answering), "the link back");
    panel->closeButton()->click();  // 关闭
    w->findChild<QPushButton *>(QStringLiteral("Command1"))->click();  // 退出
}

void idle(Station &station)
{
    auto *recorder = static_cast<Recorder *>(station.recorder());
    bool stored = false;
    QObject::connect(recorder, &Recorder::stored, recorder, [&stored] { stored = true; });
    waitFor([&stored] { return stored; }, "the first sample");
    recorder->settle();  // the start event went before it
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    useStationApplicationName();
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (mode != "session" && mode != "idle")
        return 2;
    test::FakeLink fake;
    Station station;
    ExitSignals exitSignals;
    QObject::connect(&exitSignals, &ExitSignals::received, &noteExitSignal);
    QObject::connect(&exitSignals, &ExitSignals::received, &station,
                     [&station](int signalNumber) { station.shutDown(endWayOfSignal(signalNumber)); });
    QObject::connect(&station, &Station::started, &station, [&] {
        // After the slot returns: the start event is handed over by then.
        QTimer::singleShot(0, &station, [&] { mode == "session" ? session(station, fake) : idle(station); });
    });
    station.start();
    station.splash()->timer1().setInterval(1);
    return app.exec();
}
