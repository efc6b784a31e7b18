// End to end: the configuration window, the libmodbus link and the poller
// against the controller simulator on a pseudo-terminal. A value written from
// the window reaches the controller and comes back into its value display.
#include "config/configwindow.h"
#include "config/parametertable.h"

#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "sim/simulator.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTabWidget>
#include <QTest>

using namespace station;

namespace {

constexpr int kPort = 1;
constexpr int kStation = 1;
constexpr int kBaud9600 = 1;
constexpr int kNoParity = 0;
// A written value must be on show within two seconds: the write itself, at most
// one 100 ms polling cycle (nine exchanges at 9600 Bd, well under 100 ms on a
// pty) and at most one 1000 ms refresh of the window.
constexpr int kReadBackMs = 2000;
// Before anything was written: the first cycle and the first refresh.
constexpr int kFirstShowMs = 3000;

} // namespace

class TestConfigSim : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void writtenValueReadsBack_data();
    void writtenValueReadsBack();
    void typingAndDeletingThenTabbingWritesNothing();

private:
    void type(int element, const QString &text);

    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<Poller> m_poller;
    QPointer<ConfigWindow> m_window;
};

void TestConfigSim::init()
{
    registerImage() = RegisterImage{};
    m_sim = std::make_unique<sim::Simulator>(kPort, kStation);
    QVERIFY(m_sim->start());
    m_sim->setHolding(4099, 10);
    m_sim->setHolding(4109, 7);
    m_sim->setHolding(4134, 1);

    linkSettings().port = kPort;
    linkSettings().station = kStation;
    linkSettings().baudCode = kBaud9600;
    linkSettings().parityCode = kNoParity;
    linkSettings().openResult = OpenPort_Modbus(kPort, kBaud9600, kNoParity);
    QCOMPARE(linkSettings().openResult, link::kOk);
    m_poller = std::make_unique<Poller>();
    m_poller->startPolling();

    m_window = new ConfigWindow;
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    // The controller's values arrive through poller and refresh.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->display(12)->text(), QStringLiteral("7"), kFirstShowMs);
    QCOMPARE(m_window->display(2)->text(), QStringLiteral("1"));
    QCOMPARE(m_window->display(37)->text(), QStringLiteral("9600"));
    m_sim->clearWrites();
}

void TestConfigSim::cleanup()
{
    delete m_window.data();
    if (m_poller)
        m_poller->stopPolling();
    m_poller.reset();
    ClosePort_Modbus(kPort);
    m_sim.reset();
}

// Types text into the entry control of element and leaves it.
void TestConfigSim::type(int element, const QString &text)
{
    QWidget *control = m_window->entry(element);
    QVERIFY(control);
    m_window->tabs()->setCurrentWidget(control->parentWidget());
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
    QTest::keyClick(control, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(control, text);
    QTest::keyClick(control, Qt::Key_Tab);
    QTRY_VERIFY(!control->hasFocus());
}

void TestConfigSim::writtenValueReadsBack_data()
{
    QTest::addColumn<int>("element");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("negative shift") << 12 << "-100" << -100 << "-100";
    QTest::newRow("filter in seconds") << 2 << "2.5" << 25 << "2.5";
    QTest::newRow("baud rate entry") << 37 << "2:19200BPS " << 2 << "19200";
}

void TestConfigSim::writtenValueReadsBack()
{
    QFETCH(int, element);
    QFETCH(QString, typed);
    QFETCH(int, stored);
    QFETCH(QString, shown);
    const int reg = reg::kParamFirst + element;

    type(element, typed);
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    link::linkThread().drain(); // the write is queued on the link thread
    QCOMPARE(m_sim->writes(), (std::vector<sim::RegisterWrite>{{reg, std::int16_t(stored)}}));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->display(element)->text(), shown, kReadBackMs);
    QVERIFY(sinceWrite.elapsed() <= kReadBackMs);
}

void TestConfigSim::typingAndDeletingThenTabbingWritesNothing()
{
    QTabWidget *tabs = m_window->tabs();
    int visited = 0;
    for (int page = 0; page < tabs->count(); ++page) {
        QList<QWidget *> entries;
        for (const config::Parameter &p : config::parameters())
            if (p.page == config::kPages[std::size_t(page)])
                entries.append(m_window->entry(p.element()));
        tabs->setCurrentIndex(page);
        entries.first()->setFocus(Qt::TabFocusReason);
        for (QWidget *entry : entries) {
            QTRY_COMPARE(QApplication::focusWidget(), entry);
            QTest::keyClick(entry, Qt::Key_End);
            QTest::keyClicks(entry, "1a");
            QTest::keyClick(entry, Qt::Key_Backspace);
            QTest::keyClick(entry, Qt::Key_Backspace);
            QTest::keyClick(entry, Qt::Key_Tab);
            ++visited;
        }
    }
    QCOMPARE(visited, 38);
    link::linkThread().drain(); // a write would be queued on the link thread
    QVERIFY(m_sim->writes().empty());
}

STATION_TEST_MAIN(TestConfigSim)
#include "tst_config_sim.moc"
