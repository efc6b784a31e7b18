// The program editor against the controller simulator on a pseudo-terminal,
// with the real link and a running poller: a value written from the window
// lands in the simulator's registers and comes back in its read-back label;
// the run state the controller reports shows in the run status.
#include "program/ui/programeditor.h"

#include "link/linkthread.h"
#include "link/modbusrtu.h"
#include "link/poller.h"
#include "link/registerimage.h"
#include "sim/controllermodel.h"
#include "sim/simulator.h"

#include "tests/support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QtTest>

#include <memory>

using namespace station;
using namespace station::program;

namespace {
constexpr int kPort = 1;
constexpr int kStation = 1;
constexpr int kBaud9600 = 1;
constexpr int kNoParity = 0;
// A refresh every 600 ms reads the block in three exchanges of a few
// milliseconds each on the pty; five seconds leave room on a loaded machine.
constexpr int kDeadlineMs = 5000;
} // namespace

class TestProgramSim : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<Poller> m_poller;
    QPointer<ProgramEditor> m_editor;

    QLabel *label(const QString &name) const { return m_editor->findChild<QLabel *>(name); }

    void leave()
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }

private slots:
    void init()
    {
        registerImage() = RegisterImage{};
        m_sim = std::make_unique<sim::Simulator>(kPort, kStation);
        QVERIFY(m_sim->start());
        m_sim->setHolding(8201, 11);
        m_sim->setHolding(8194, 5);

        linkSettings() = LinkSettings{kPort, kBaud9600, kNoParity, kStation, 0};
        linkSettings().openResult = OpenPort_Modbus(kPort, kBaud9600, kNoParity);
        QCOMPARE(linkSettings().openResult, link::kOk);
        m_poller = std::make_unique<Poller>();
        m_poller->startPolling();

        m_editor = new ProgramEditor;
        m_editor->show();
        m_editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_editor));
        // What the controller holds arrives with the editor's own block read.
        QTRY_COMPARE_WITH_TIMEOUT(label("Label3_8")->text(), QStringLiteral("11"), kDeadlineMs);
        QCOMPARE(label("Label3_1")->text(), QStringLiteral("5"));
        m_sim->clearWrites();
    }

    void cleanup()
    {
        delete m_editor.data();
        if (m_poller)
            m_poller->stopPolling();
        m_poller.reset();
        ClosePort_Modbus(kPort);
        m_sim.reset();
    }

    void segmentWrittenReadsBack()
    {
        auto *box = m_editor->findChild<QLineEdit *>(QStringLiteral("TxtB_0"));
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(box, "321");
        leave();
        link::linkThread().drain(); // the write is queued on the link thread
        QCOMPARE(m_sim->holding(8201), 321);
        QCOMPARE(m_sim->writes(), (std::vector<sim::RegisterWrite>{{8201, 321}}));
        QTRY_COMPARE_WITH_TIMEOUT(label("Label3_8")->text(), QStringLiteral("321"), kDeadlineMs);
    }

    void clickIntoATabbedSegmentBoxTakesTheDigits()
    {
        auto *box = m_editor->findChild<QLineEdit *>(QStringLiteral("TxtB_4"));
        m_editor->findChild<QLineEdit *>(QStringLiteral("TxtB_2"))->setFocus(Qt::TabFocusReason);
        leave();
        QCOMPARE(QApplication::focusWidget(), box);
        // A click past the last position of the box that already has the focus.
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->width() - 3, box->height() / 2));
        QTest::keyClicks(box, "12");
        leave();
        link::linkThread().drain();
        QCOMPARE(m_sim->writes(), (std::vector<sim::RegisterWrite>{{8205, 12}}));
        QTRY_COMPARE_WITH_TIMEOUT(label("Label3_12")->text(), QStringLiteral("12"), kDeadlineMs);
    }

    void typingAndDeletingThenTabbingWritesNothing()
    {
        QWidget *first = m_editor->findChild<QComboBox *>(QStringLiteral("Combo2"));
        first->setFocus(Qt::TabFocusReason);
        QSet<QString> visited;
        for (int i = 0; i < 40; ++i) {
            QWidget *control = QApplication::focusWidget();
            visited << control->objectName();
            QTest::keyClick(control, Qt::Key_End);
            QTest::keyClicks(control, "1a");
            QTest::keyClick(control, Qt::Key_Backspace);
            QTest::keyClick(control, Qt::Key_Backspace);
            leave();
        }
        QVERIFY(visited.contains(QStringLiteral("TxtB_30")));
        QVERIFY(visited.contains(QStringLiteral("TextA_2")));
        QVERIFY(visited.contains(QStringLiteral("Combo3")));
        link::linkThread().drain(); // a write would be queued on the link thread
        QVERIFY(m_sim->writes().empty());
    }

    void lastSegmentTimeReadsBack()
    {
        auto *box = m_editor->findChild<QLineEdit *>(QStringLiteral("TxtB_30"));
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(box, "45");
        leave();
        link::linkThread().drain();
        QCOMPARE(m_sim->writes(), (std::vector<sim::RegisterWrite>{{8231, 45}}));
        QTRY_COMPARE_WITH_TIMEOUT(label("Label3_38")->text(), QStringLiteral("45"), kDeadlineMs);
    }

    void segmentCountReadsBack()
    {
        auto *combo = m_editor->findChild<QComboBox *>(QStringLiteral("Combo4"));
        combo->setFocus(Qt::TabFocusReason);
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClick(combo, Qt::Key_Down);
        leave();
        QCOMPARE(combo->currentText(), QStringLiteral("2"));
        link::linkThread().drain();
        QCOMPARE(m_sim->writes(), (std::vector<sim::RegisterWrite>{{8194, 2}}));
        QTRY_COMPARE_WITH_TIMEOUT(label("Label3_1")->text(), QStringLiteral("2"), kDeadlineMs);
    }

    void runStateReported()
    {
        m_sim->setInput(4097, 1);
        QTRY_COMPARE_WITH_TIMEOUT(label("Pro_S_0")->text(), QStringLiteral("运行"), kDeadlineMs);
        m_sim->setInput(4097, 2);
        QTRY_COMPARE_WITH_TIMEOUT(label("Pro_S_0")->text(), QStringLiteral("暂停"), kDeadlineMs);
    }

    void runCommandStartsProgram()
    {
        // The controller model acts on the run command the station writes to
        // holding 3, as the main window's program command does.
        sim::ControllerModel model(*m_sim);
        model.installDefaults(kStation);
        model.setNoise(0);
        model.step(0);
        QTRY_COMPARE_WITH_TIMEOUT(label("Pro_S_0")->text(), QStringLiteral("停止  "), kDeadlineMs);

        writeWithRetry(station::reg::kRunCommand, 1);
        link::linkThread().drain();
        QCOMPARE(m_sim->writeCount(3), 1u);
        model.step(0.1);
        QCOMPARE(model.runState(), sim::RunState::Running);
        QTRY_COMPARE_WITH_TIMEOUT(label("Pro_S_0")->text(), QStringLiteral("运行"), kDeadlineMs);
        QTRY_COMPARE_WITH_TIMEOUT(label("Pro_S_5")->text(), QStringLiteral("1"), kDeadlineMs);  // current segment
    }
};

STATION_TEST_MAIN(TestProgramSim)
#include "tst_program_sim.moc"
