// Opening and leaving the program editor: the main window hidden and shown
// again, the edited control written before it reappears, a fresh window on
// every opening.
#include "program/ui/programeditor.h"

#include "link/registerimage.h"

#include "tests/support/fakelink.h"
#include "tests/support/testenv.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace station;
using namespace station::program;
using station::test::FakeLink;
using station::test::LinkCall;
using station::test::LinkOp;

namespace {

// Records how many writes the link had seen when the watched widget was shown.
class ShowProbe : public QObject {
public:
    ShowProbe(QWidget *watched, const FakeLink &fake) : m_fake(fake) { watched->installEventFilter(this); }
    int writesAtShow = -1;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            writesAtShow = int(m_fake.writes().size());
        return false;
    }

private:
    const FakeLink &m_fake;
};

LinkCall write(std::int32_t reg, std::int32_t value)
{
    return {LinkOp::Write, 1, 1, reg, value};
}

} // namespace

// The life cycle through openProgramEditor, with a window standing in for the main window.
class TestProgramEditorReturn : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeLink> m_fake;
    std::unique_ptr<QWidget> m_main;

private slots:
    void init()
    {
        linkSettings() = LinkSettings{1, 1, 0, 1, 0};
        m_fake = std::make_unique<FakeLink>();
        m_main = std::make_unique<QWidget>();
        m_main->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
    }
    void cleanup()
    {
        m_main.reset();
        m_fake.reset();
    }

    void openHidesMainWindow()
    {
        QPointer<ProgramEditor> editor = openProgramEditor(m_main.get());
        QVERIFY(editor);
        QVERIFY(!m_main->isVisible());
        QVERIFY(editor->isVisible());
        QVERIFY(!editor->close());
        QVERIFY(!m_main->isVisible());
        editor->returnToMain();
        QVERIFY(m_main->isVisible());
        QTRY_VERIFY(editor.isNull());
        QCOMPARE(m_fake->writes().size(), 0);
    }

    void returnClickWritesFocusedBoxBeforeMainReappears()
    {
        QPointer<ProgramEditor> editor = openProgramEditor(m_main.get());
        editor->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        ShowProbe probe(m_main.get(), *m_fake);
        auto *box = editor->findChild<QLineEdit *>(QStringLiteral("TxtB_4"));
        box->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(box, "42");
        QTest::mouseClick(editor->findChild<QPushButton *>(QStringLiteral("Command11")), Qt::LeftButton);
        QCOMPARE(probe.writesAtShow, 1);
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8205, 42)}));
        QVERIFY(m_main->isVisible());
        QTRY_VERIFY(editor.isNull());
    }

    void returnWithoutFocusChangeStillWritesFocusedControl()
    {
        // click() emits the button's signal without moving the focus, as a
        // keyboard activation does: the return itself writes the edited box.
        QPointer<ProgramEditor> editor = openProgramEditor(m_main.get());
        editor->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        editor->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(editor));
        ShowProbe probe(m_main.get(), *m_fake);
        auto *combo = editor->findChild<QComboBox *>(QStringLiteral("Combo4"));
        combo->setFocus(Qt::TabFocusReason);
        QTest::keyClick(combo, Qt::Key_Down);
        editor->findChild<QPushButton *>(QStringLiteral("Command11"))->click();
        QCOMPARE(probe.writesAtShow, 1);
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8194, 1)}));
        QTRY_VERIFY(editor.isNull());
    }

    // A return during the block read ends the read: the run on the line is not
    // stored, the others never go out, the rest of the refresh is left out.
    void returnDuringBlockReadEndsIt()
    {
        QPointer<ProgramEditor> editor = openProgramEditor(m_main.get());
        editor->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        int yields = 0;
        bool refreshed = false;
        connect(editor, &ProgramEditor::refreshed, this, [&] { refreshed = true; });
        editor->setYield([&] {
            if (++yields == 1)
                editor->findChild<QPushButton *>(QStringLiteral("Command11"))->click();
        });
        editor->refresh();
        QTRY_VERIFY(editor.isNull());
        QVERIFY(m_main->isVisible());
        m_fake->settle();
        QCOMPARE(yields, 1);
        QCOMPARE(m_fake->calls.size(), 1);
        QVERIFY(!refreshed);
    }

    void freshWindowOnEveryOpening()
    {
        QPointer<ProgramEditor> first = openProgramEditor(m_main.get());
        first->findChild<QLineEdit *>(QStringLiteral("TxtB_0"))->setText("12");
        first->returnToMain();
        QTRY_VERIFY(first.isNull());
        QPointer<ProgramEditor> second = openProgramEditor(m_main.get());
        QVERIFY(second->findChild<QLineEdit *>(QStringLiteral("TxtB_0"))->text().isEmpty());
        second->returnToMain();
        QTRY_VERIFY(second.isNull());
    }
};

STATION_TEST_MAIN(TestProgramEditorReturn)
#include "tst_programeditor_return.moc"
