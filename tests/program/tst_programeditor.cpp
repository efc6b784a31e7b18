// The program editor window Tech against a fake link: its controls and their
// geometry, the writes on leaving an edited control (and none on mere focus
// traversal), the return button, the refused close box and the refresh.
#include "program/ui/programeditor.h"
#include "program/runstatus.h"

#include "chart/draw/canvas.h"
#include "common/colors.h"
#include "link/registerimage.h"

#include "tests/support/fakelink.h"
#include "tests/support/operatorinput.h"
#include "tests/support/outcomelog.h"
#include "tests/support/testenv.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
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

LinkCall write(std::int32_t reg, std::int32_t value)
{
    return {LinkOp::Write, 1, 1, reg, value};
}

} // namespace

class TestProgramEditor : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeLink> m_fake;
    std::unique_ptr<ProgramEditor> m_editor;

    template <typename T> T *child(const QString &name) const
    {
        T *w = m_editor->findChild<T *>(name);
        if (!w)
            qWarning("no control %s", qPrintable(name));
        return w;
    }
    QLineEdit *box(int entry) const { return child<QLineEdit>(QStringLiteral("TxtB_%1").arg(entry)); }
    QLabel *label(const QString &name) const { return child<QLabel>(name); }

    // Shows the editor active, with its timer stopped so refreshes run only
    // when the test asks for one.
    bool showEditor()
    {
        m_editor->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
        m_editor->show();
        m_editor->activateWindow();
        return QTest::qWaitForWindowActive(m_editor.get());
    }

    // Focuses a control as the Tab key would.
    static void focus(QWidget *w)
    {
        w->setFocus(Qt::TabFocusReason);
        QVERIFY(w->hasFocus());
    }
    // One whole refresh: its block read goes through the link thread.
    bool refreshNow()
    {
        QSignalSpy refreshed(m_editor.get(), &ProgramEditor::refreshed);
        m_editor->refresh();
        return refreshed.wait(5000);
    }
    static void tab()
    {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }

private slots:
    void init()
    {
        registerImage() = RegisterImage{};
        linkSettings() = LinkSettings{1, 1, 0, 1, 0};
        m_fake = std::make_unique<FakeLink>();
        m_editor = std::make_unique<ProgramEditor>();
        m_editor->setYield([] {});
    }
    void cleanup()
    {
        m_editor.reset();
        m_fake.reset();
    }

    void windowAndNames()
    {
        QCOMPARE(m_editor->objectName(), QStringLiteral("Tech"));
        QCOMPARE(m_editor->accessibleDescription(), QStringLiteral("Tech"));
        QCOMPARE(m_editor->windowTitle(), QStringLiteral("工艺曲线设定"));
        QCOMPARE(m_editor->size(), QSize(1302, 781));

        QStringList names{"Frame9", "Frame2", "Combo2", "Combo4", "Combo1", "Combo8", "Combo3", "TextA_2", "pt1",
                          "Command11", "Label7_0", "Label7_1", "Label5", "Label10", "Label11"};
        for (int i = 0; i < 9; ++i)
            names << QStringLiteral("Label16_%1").arg(i) << QStringLiteral("Pro_S_%1").arg(i);
        for (int n = 0; n < 8; ++n)
            names << QStringLiteral("Frame1_%1").arg(n);
        for (int i = 0; i < 10; ++i)
            names << QStringLiteral("Label6_%1").arg(i);
        for (int i = 0; i < 16; ++i)
            names << QStringLiteral("Label8_%1").arg(i);
        for (const QString &name : names) {
            auto *w = m_editor->findChild<QWidget *>(name);
            QVERIFY2(w, qPrintable(name));
            QCOMPARE(w->accessibleDescription(), name);
        }
        QCOMPARE(m_editor->findChild<QTimer *>(QStringLiteral("Timer1"))->interval(), 600);
        QVERIFY(m_editor->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
    }

    void groupsAndGeometryFromTwips_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Frame9") << "Frame9" << QRect(6, 10, 523, 103) << "曲线状态";
        QTest::newRow("Frame2") << "Frame2" << QRect(548, 4, 525, 113) << "功能设定";
        QTest::newRow("Frame1_0") << "Frame1_0" << QRect(1078, 4, 219, 89) << "SEG1 设定";
        QTest::newRow("Frame1_7") << "Frame1_7" << QRect(1078, 648, 219, 89) << "SEG8 设定";
    }
    void groupsAndGeometryFromTwips()
    {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        auto *group = child<QGroupBox>(name);
        QVERIFY(group);
        QCOMPARE(group->geometry(), geometry);
        QCOMPARE(group->title(), caption);
    }

    void previewAndReturnButton()
    {
        QCOMPARE(child<QWidget>("pt1")->geometry(), QRect(72, 120, 1001, 601));
        auto *button = child<QPushButton>("Command11");
        QCOMPARE(button->geometry(), QRect(1000, 752, 102, 27));
        QCOMPARE(button->text(), QStringLiteral(" Esc 返回"));
        QVERIFY(!button->isDefault());
        QVERIFY(button->shortcut().isEmpty());
        QCOMPARE(label("Label7_0")->text(), QStringLiteral("温度  ℃ "));
        QCOMPARE(label("Label7_0")->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(label("Label8_3")->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QCOMPARE(label("Label6_9")->text(), QStringLiteral("36000"));
        // The load drew the empty time axis: 0..15.
        QCOMPARE(label("Label8_15")->text(), QStringLiteral("15"));
        m_fake->settle(); // the link thread has carried out what was queued
        QCOMPARE(m_fake->calls.size(), 0);  // nothing read or written at load
    }

    void combosFilledWithFirstEntry()
    {
        for (const ComboOption &o : comboOptions()) {
            auto *combo = child<QComboBox>(o.control);
            QVERIFY(combo);
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->count(), o.entries.size());
            for (int i = 0; i < combo->count(); ++i)
                QCOMPARE(combo->itemText(i), o.entries[i]);
            QCOMPARE(combo->currentText(), o.entries[0]);
        }
        QCOMPARE(child<QLineEdit>("TextA_2")->maxLength(), 64);
        QVERIFY(child<QLineEdit>("TextA_2")->inputMask().isEmpty());
        QVERIFY(child<QLineEdit>("TextA_2")->text().isEmpty());
    }

    void segmentBoxesAndReadBackLabels()
    {
        for (int i = -1; i <= 32; ++i) {
            QLineEdit *b = m_editor->findChild<QLineEdit *>(QStringLiteral("TxtB_%1").arg(i));
            QCOMPARE(b != nullptr, segmentEntryExists(i));
            if (!b)
                continue;
            QCOMPARE(b->displayText(), QStringLiteral("____"));
            QVERIFY(b->text().isEmpty());
            QCOMPARE(b->maxLength(), 4);
        }
        QCOMPARE(box(0)->geometry(), QRect(78, 12, 60, 21));   // top 180 in its group
        QCOMPARE(box(2)->geometry().top(), 62);                  // top 930
        for (int j = 0; j <= 41; ++j) {
            QLabel *l = m_editor->findChild<QLabel *>(QStringLiteral("Label3_%1").arg(j));
            QCOMPARE(l != nullptr, j < 41 && readBackLabelExists(j));
            if (l) {
                QVERIFY(l->autoFillBackground());
                QCOMPARE(l->palette().color(QPalette::Window), QColor(255, 224, 192));
            }
        }
        QCOMPARE(box(4)->parentWidget()->objectName(), QStringLiteral("Frame1_1"));
        QCOMPARE(label("Label3_12")->parentWidget()->objectName(), QStringLiteral("Frame1_1"));
    }

    void chosenEntryWritesItsNumber_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<int>("downs");
        QTest::addColumn<int>("ups");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::newRow("3:3段 writes 2") << "Combo4" << 2 << 0 << 8194 << 2;
        // Back on "1:1段 " with the keyboard: that entry is chosen, 0 is written.
        QTest::newRow("down and back up writes 0") << "Combo4" << 1 << 1 << 8194 << 0;
        QTest::newRow("8:8段 writes 7") << "Combo4" << 7 << 0 << 8194 << 7;
        QTest::newRow("time unit seconds") << "Combo2" << 2 << 0 << 8193 << 2;
        QTest::newRow("power failure pause") << "Combo1" << 4 << 0 << 8196 << 4;
        QTest::newRow("start from set value") << "Combo8" << 1 << 0 << 8197 << 1;
        QTest::newRow("end output keep SV") << "Combo3" << 1 << 0 << 8198 << 1;
    }
    void chosenEntryWritesItsNumber()
    {
        QFETCH(QString, combo);
        QFETCH(int, downs);
        QFETCH(int, ups);
        QFETCH(int, reg);
        QFETCH(int, value);
        QVERIFY(showEditor());
        auto *c = child<QComboBox>(combo);
        focus(c);
        for (int i = 0; i < downs; ++i)
            QTest::keyClick(c, Qt::Key_Down);
        for (int i = 0; i < ups; ++i)
            QTest::keyClick(c, Qt::Key_Up);
        QCOMPARE(m_fake->writes().size(), 0);  // nothing until the box is left
        const QString shown = c->currentText();
        tab();
        QVERIFY(!c->hasFocus());
        if (value < 0) {  // the entry it held when entered: no change
            QCOMPARE(m_fake->writes().size(), 0);
            QCOMPARE(c->currentText(), shown);
            return;
        }
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(reg, value)}));
        QCOMPARE(c->currentText(), QString::number(value));
    }

    // Every list opens on its first entry; choosing that entry from the list,
    // with the keyboard or the mouse, writes 0 ("1:1段 " writes 0 to 8194).
    void pickingTheEntryShownWritesIt_data()
    {
        QTest::addColumn<QString>("combo");
        QTest::addColumn<int>("reg");
        QTest::addColumn<bool>("mouse");
        for (const ComboOption &o : comboOptions())
            QTest::newRow(qPrintable(o.control)) << o.control << int(o.reg) << false;
        QTest::newRow("Combo4 by mouse") << "Combo4" << 8194 << true;
    }
    void pickingTheEntryShownWritesIt()
    {
        QFETCH(QString, combo);
        QFETCH(int, reg);
        QFETCH(bool, mouse);
        QVERIFY(showEditor());
        auto *c = child<QComboBox>(combo);
        focus(c);
        c->showPopup();
        QAbstractItemView *list = c->view();
        QTRY_VERIFY(list->isVisible());
        const QModelIndex first = c->model()->index(0, 0);
        if (mouse) {
            const QPoint at = list->visualRect(first).center();
            QTest::mouseMove(list->viewport(), at);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        } else {
            QTest::keyClick(list, Qt::Key_Return);
        }
        QTRY_VERIFY(!list->isVisible());
        QCOMPARE(m_fake->writes().size(), 0); // nothing until the box is left
        tab();
        QVERIFY(!c->hasFocus());
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(reg, 0)}));
        QCOMPARE(c->currentText(), QStringLiteral("0"));
    }

    void unmatchedComboTextWritesNothing()
    {
        QVERIFY(showEditor());
        auto *c = child<QComboBox>("Combo2");
        focus(c);
        c->lineEdit()->selectAll();
        QTest::keyClicks(c, "abc");
        QCOMPARE(c->currentText(), QStringLiteral("abc"));
        tab();
        QVERIFY(!c->hasFocus());
        QCOMPARE(m_fake->writes().size(), 0);
        QCOMPARE(c->currentText(), QStringLiteral("abc"));
    }

    void typedSegmentValueWritesItsRegister_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("caption");  // the journal's name for the box
        QTest::newRow("12 in the first SV1 box") << 0 << "12" << 8201 << 12 << "SEG1 设定值SV1";
        QTest::newRow("segment 1 TIME") << 2 << "9999" << 8203 << 9999 << "SEG1 设定值TIME";
        QTest::newRow("segment 3 SV2") << 9 << "0450" << 8210 << 450 << "SEG3 设定值SV2";
        QTest::newRow("entry 30, segment 8 TIME") << 30 << "7" << 8231 << 7 << "SEG8 设定值TIME";
        QTest::newRow("full-width digits") << 4 << "１２" << 8205 << 12 << "SEG2 设定值SV1";
        // Keys that leave the box as it was write nothing (value -1), nor does
        // a box holding only its prompt characters.
        QTest::newRow("letters are refused by the mask") << 4 << "ab" << 8205 << -1 << "";
        QTest::newRow("sign and point are refused") << 4 << "-." << 8205 << -1 << "";
        QTest::newRow("Backspace in an empty box") << 4 << "\b" << 8205 << -1 << "";
        QTest::newRow("1 then Backspace") << 4 << "1\b" << 8205 << -1 << "";
    }
    void typedSegmentValueWritesItsRegister()
    {
        QFETCH(int, entry);
        QFETCH(QString, typed);
        QFETCH(int, reg);
        QFETCH(int, value);
        QFETCH(QString, caption);
        QVERIFY(showEditor());
        m_fake->holding[reg] = 321;  // what the read-back label beside it shows
        QVERIFY(refreshNow());
        test::OutcomeLog outcomes;
        focus(box(entry));
        test::typeText(box(entry), typed);
        tab();
        QList<LinkCall> expected;
        if (value >= 0)
            expected << write(reg, value);
        QCOMPARE(m_fake->writes(), expected);
        if (value < 0)
            return;
        const link::WriteTag tag = outcomes.tag(0);
        QCOMPARE(tag.window, QStringLiteral("Tech"));
        QCOMPARE(tag.control, box(entry)->objectName());
        QCOMPARE(tag.caption, caption);
        QCOMPARE(tag.shownBefore, std::optional<QString>(QStringLiteral("321")));
    }

    void clickIntoASegmentBoxThenType_data()
    {
        // held: digits in the box; tabbed: the box has the focus from Tab before
        // the click; at: where the click lands ("end" past the last position,
        // "digit 1" on the second digit, "double" a double-click).
        QTest::addColumn<QString>("held");
        QTest::addColumn<bool>("tabbed");
        QTest::addColumn<QString>("at");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("left");
        QTest::newRow("Tab, then a click past the end") << "" << true << "end" << "12" << "12";
        QTest::newRow("a click past the last digit") << "5" << true << "end" << "12" << "512";
        QTest::newRow("a click past a full box") << "1234" << true << "end" << "9" << "9";
        QTest::newRow("a click on a digit corrects it") << "1234" << true << "digit 1" << "5" << "1534";
        QTest::newRow("a double-click selects all four") << "1234" << true << "double" << "7" << "7";
        QTest::newRow("a click giving the focus selects all four") << "1234" << false << "digit 1" << "7" << "7";
    }
    void clickIntoASegmentBoxThenType()
    {
        QFETCH(QString, held);
        QFETCH(bool, tabbed);
        QFETCH(QString, at);
        QFETCH(QString, typed);
        QFETCH(QString, left);
        QVERIFY(showEditor());
        QLineEdit *b = box(4);
        b->setText(held);
        // The left half of the second digit: the last point that still places
        // the caret before it.
        QPoint onDigit(0, b->height() / 2);
        while (onDigit.x() < b->width() && b->cursorPositionAt(onDigit + QPoint(1, 0)) < 2)
            onDigit.rx()++;
        QCOMPARE(b->cursorPositionAt(onDigit), 1);
        const QPoint pastEnd(b->width() - 3, b->height() / 2);
        if (tabbed)
            focus(b);
        else
            focus(box(0));
        if (at == QLatin1String("double")) {
            QTest::mouseClick(b, Qt::LeftButton, {}, onDigit);
            QTest::mouseDClick(b, Qt::LeftButton, {}, onDigit);
            QTest::mouseRelease(b, Qt::LeftButton, {}, onDigit);
        } else {
            QTest::mouseClick(b, Qt::LeftButton, {}, at == QLatin1String("end") ? pastEnd : onDigit);
        }
        QVERIFY(b->hasFocus());
        test::typeText(b, typed);
        QCOMPARE(b->text(), left);
        tab();
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8205, left.toInt())}));
    }

    void cycleCount_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QList<int>>("written");
        QTest::newRow("2.5 writes 2") << "2.5" << QList<int>{2};
        QTest::newRow("3.5 writes 4") << "3.5" << QList<int>{4};
        QTest::newRow("letters write 0") << "abc" << QList<int>{0};
        QTest::newRow("leading blanks") << "  7" << QList<int>{7};
        QTest::newRow("beyond 32 bits writes nothing") << "99999999999" << QList<int>{};
        QTest::newRow("beyond a register word writes nothing") << "70000" << QList<int>{};
        QTest::newRow("full-width digits") << "１２" << QList<int>{12};
        QTest::newRow("full-width minus") << "－５" << QList<int>{-5};
        QTest::newRow("D is no exponent") << "1d2" << QList<int>{1};
        QTest::newRow("only blanks write nothing") << "  " << QList<int>{};
        QTest::newRow("1 then Backspace writes nothing") << "1\b" << QList<int>{};
    }
    void cycleCount()
    {
        QFETCH(QString, typed);
        QFETCH(QList<int>, written);
        QVERIFY(showEditor());
        auto *text = child<QLineEdit>("TextA_2");
        focus(text);
        test::typeText(text, typed);
        tab();
        QList<LinkCall> expected;
        for (int v : written)
            expected << write(8195, v);
        QCOMPARE(m_fake->writes(), expected);
    }

    void writeRetriedOnceOnFailure()
    {
        QVERIFY(showEditor());
        m_fake->writeResults = {-8888, -8888};
        focus(box(1));
        QTest::keyClicks(box(1), "5");
        tab();
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8202, 5), write(8202, 5)}));
    }

    void focusSelectsAllFourDigits()
    {
        QVERIFY(showEditor());
        focus(box(0));
        QTest::keyClicks(box(0), "1234");
        tab();
        // Carried out before the next edit, or the link would replace it with the newer value.
        m_fake->settle();
        focus(box(0));
        QCOMPARE(box(0)->selectionStart(), 0);
        QCOMPARE(box(0)->selectedText(), QStringLiteral("1234"));
        QTest::keyClicks(box(0), "5");
        QCOMPARE(box(0)->text(), QStringLiteral("5"));
        tab();
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8201, 1234), write(8201, 5)}));

        // A mouse click places the cursor, then the selection covers the digits again.
        QTest::mouseClick(box(0), Qt::LeftButton, {}, QPoint(5, 5));
        QVERIFY(box(0)->hasFocus());
        QCOMPARE(box(0)->selectionStart(), 0);
        QCOMPARE(box(0)->selectionLength(), 4);
        QCOMPARE(box(0)->selectedText(), QStringLiteral("5___"));  // with the prompt characters
        QTest::keyClicks(box(0), "86");
        QCOMPARE(box(0)->text(), QStringLiteral("86"));
    }

    void tabbingThroughUntouchedControlsWritesNothing()
    {
        QVERIFY(showEditor());
        focus(child<QComboBox>("Combo2"));
        QSet<QString> visited;
        for (int i = 0; i < 40; ++i) {
            visited << QApplication::focusWidget()->objectName();
            tab();
        }
        QVERIFY(visited.contains("TxtB_30"));
        QVERIFY(visited.contains("TextA_2"));
        QVERIFY(visited.contains("Combo3"));
        QCOMPARE(m_fake->writes().size(), 0);

        // Once written, leaving the control again without an edit writes nothing more.
        focus(box(0));
        QTest::keyClicks(box(0), "3");
        tab();
        focus(box(0));
        tab();
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8201, 3)}));
    }

    void wheelLeavesUnfocusedCombosAlone()
    {
        QVERIFY(showEditor());
        const QList<QComboBox *> combos = m_editor->findChildren<QComboBox *>();
        QCOMPARE(combos.size(), 5);
        for (QComboBox *c : combos) {
            focus(box(0));
            test::wheel(c, -1);
            QVERIFY2(!c->hasFocus(), qPrintable(c->objectName()));
            QVERIFY2(c->currentIndex() == 0, qPrintable(c->objectName()));
            tab();
        }
        QCOMPARE(m_fake->writes().size(), 0);
        // With the focus the wheel picks the next entry.
        focus(child<QComboBox>("Combo1"));
        test::wheel(child<QComboBox>("Combo1"), -1);
        QCOMPARE(child<QComboBox>("Combo1")->currentIndex(), 1);
        tab();
        QCOMPARE(m_fake->writes(), (QList<LinkCall>{write(8196, 1)}));
    }

    void unusedRegistersNeverWritten()
    {
        QVERIFY(showEditor());
        for (const ComboOption &o : comboOptions()) {
            auto *c = child<QComboBox>(o.control);
            focus(c);
            QTest::keyClick(c, Qt::Key_Down);
            tab();
        }
        focus(child<QLineEdit>("TextA_2"));
        QTest::keyClicks(QApplication::focusWidget(), "3");
        tab();
        for (int i = 0; i < kSegmentEntries; ++i) {
            if (!segmentEntryExists(i))
                continue;
            focus(box(i));
            QTest::keyClicks(box(i), QString::number(i + 1));
            tab();
        }
        QSet<int> written;
        for (const LinkCall &c : m_fake->writes())
            written << c.first;
        QSet<int> expected{8193, 8194, 8195, 8196, 8197, 8198};
        for (int i = 0; i < kSegmentEntries; ++i)
            if (segmentEntryExists(i))
                expected << 8201 + i;
        QCOMPARE(written, expected);
        for (int reg : {8199, 8200, 8204, 8208, 8212, 8216, 8220, 8224, 8228, 8232, 8233, 8236, 8240})
            QVERIFY(!written.contains(reg));
    }

    void closeBoxRefused()
    {
        QVERIFY(showEditor());
        QVERIFY(!m_editor->close());
        QVERIFY(m_editor->isVisible());
        QVERIFY(!m_editor->closeAllowed());
        // The Esc in the return button's caption is not bound.
        QTest::keyClick(m_editor.get(), Qt::Key_Escape);
        focus(box(0));
        QTest::keyClick(box(0), Qt::Key_Escape);
        QVERIFY(m_editor->isVisible());
        m_fake->settle(); // the link thread has carried out what was queued
        QCOMPARE(m_fake->calls.size(), 0);
    }

    void runStatus_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("text");
        QTest::newRow("2 paused") << 2 << "暂停";
        QTest::newRow("7 keeps the number") << 7 << "7";
        QTest::newRow("0 stopped") << 0 << "停止  ";
    }
    void runStatus()
    {
        QFETCH(int, state);
        QFETCH(QString, text);
        auto &status = registerImage().programStatus;
        for (int i = 0; i < 16; ++i)
            status[std::size_t(i)] = 10 * i;
        status[0] = state;
        QVERIFY(refreshNow());
        QCOMPARE(label("Pro_S_0")->text(), text);
        QCOMPARE(label("Pro_S_5")->text(), QStringLiteral("50"));
        QCOMPARE(label("Pro_S_8")->text(), QStringLiteral("80"));
    }

    void refreshReadsBlockAndShowsReadBack()
    {
        m_fake->holding = {{8193, 1}, {8194, 2}, {8195, 0}, {8196, 4}, {8197, 1}, {8198, 0}, {8201, 100},
                           {8231, 25}, {8232, 99}};
        QVERIFY(refreshNow());
        const QList<LinkCall> reads{{LinkOp::ReadHolding, 1, 1, 8193, 16},
                                    {LinkOp::ReadHolding, 1, 1, 8209, 16},
                                    {LinkOp::ReadHolding, 1, 1, 8225, 16}};
        QCOMPARE(m_fake->calls, reads);
        QCOMPARE(label("Label7_1")->text(), QStringLiteral("时间单位：分钟"));
        QCOMPARE(label("Label3_0")->text(), QStringLiteral("M"));
        QCOMPARE(label("Label3_1")->text(), QStringLiteral("2"));
        QCOMPARE(label("Label3_2")->text(), QStringLiteral("无限"));
        QCOMPARE(label("Label3_3")->text(), QStringLiteral("进入暂停 "));
        QCOMPARE(label("Label3_4")->text(), QStringLiteral("设定值"));
        QCOMPARE(label("Label3_5")->text(), QStringLiteral("输出为零"));
        QCOMPARE(label("Label3_8")->text(), QStringLiteral("100"));
        QCOMPARE(label("Label3_38")->text(), QStringLiteral("25"));
        QCOMPARE(m_editor->image()[39], 99);  // read, shown nowhere
        // The entries are never filled from the controller.
        QVERIFY(box(0)->text().isEmpty());
        QCOMPARE(child<QComboBox>("Combo2")->currentText(), QStringLiteral("0:小时 "));

        // An unknown time unit keeps the title and shows the number.
        m_fake->holding[8193] = 5;
        QVERIFY(refreshNow());
        QCOMPARE(label("Label7_1")->text(), QStringLiteral("时间单位：分钟"));
        QCOMPARE(label("Label3_0")->text(), QStringLiteral("5"));
    }

    void previewTimeAxisFromBoxes()
    {
        draw::RecordingCanvas canvas(QSizeF(15008, 9008));
        m_editor->setCanvas(&canvas);
        box(2)->setText("10");
        box(6)->setText("20");
        QVERIFY(refreshNow());
        for (int i = 0; i < 16; ++i)
            QCOMPARE(label(QStringLiteral("Label8_%1").arg(i))->text(), QString::number(3 * i));
        QCOMPARE(canvas.clears(), 1);
        const auto markers = canvas.linesWithColor(QColor(0, 255, 0));
        QCOMPARE(markers.size(), 8);
        QVERIFY(qAbs(markers[0].x1 - 3333.3333) < 0.001);
        QVERIFY(qAbs(markers[1].x1 - 10000) < 0.001);
        const auto sv1 = canvas.linesWithColor(QColor(255, 0, 0));
        QCOMPARE(sv1[0].x1, 0.0);
        QCOMPARE(sv1[0].x2, 3333.0);
        QCOMPARE(sv1[1].x2, 10000.0);
    }

    void previewUsesScaleOfPreviousRefresh()
    {
        draw::RecordingCanvas canvas(QSizeF(15008, 9008));
        m_editor->setCanvas(&canvas);
        for (int k = 1; k <= 8; ++k) {
            box(segmentEntry(k, SegmentField::Sv1))->setText(QString::number(100 * k));
            box(segmentEntry(k, SegmentField::Sv2))->setText("50");
            box(segmentEntry(k, SegmentField::Time))->setText("1");
        }
        m_fake->holding[8197] = 1;  // start from the set values
        registerImage().liveSample = {10, 20, 250, 60, 0, 0, 0, 0, 0, 0};

        QVERIFY(refreshNow());
        // Drawn with the scale values of load: every curve on the bottom edge.
        for (const auto &l : canvas.linesWithColor(QColor(255, 0, 0)))
            QCOMPARE(l.y2, 9008.0);
        // Then the new vertical range.
        const QStringList expected{"00100", "00193", "00287", "00380", "00473",
                                   "00567", "00660", "00753", "00847", "00940"};
        for (int i = 0; i < 10; ++i)
            QCOMPARE(label(QStringLiteral("Label6_%1").arg(i))->text(), expected[i]);
        QCOMPARE(label("Label5")->text(), QStringLiteral("800"));
        QCOMPARE(label("Label10")->text(), QStringLiteral("100"));
        QCOMPARE(label("Label11")->text(), QStringLiteral("93.33334"));
        QCOMPARE(int(m_editor->tables().sv1[0]), 250);

        QVERIFY(refreshNow());
        const auto sv1 = canvas.linesWithColor(QColor(255, 0, 0));
        QCOMPARE(sv1[0].y1, 7400.0);  // from the live SV1 250
        QCOMPARE(sv1[0].y2, 9008.0);  // the minimum on the bottom edge
        QCOMPARE(sv1[7].y2, 1508.0);  // the maximum 7500 above it

        // Start from the measured values.
        m_fake->holding[8197] = 0;
        registerImage().liveSample[0] = 150;
        QVERIFY(refreshNow());  // takes PV1 150 after drawing
        QVERIFY(refreshNow());
        QCOMPARE(canvas.linesWithColor(QColor(255, 0, 0))[0].y1, 8472.0);  // 10079 - round(1607.14)
    }

    void verticalRangeZeroKeepsScale()
    {
        draw::RecordingCanvas canvas(QSizeF(15008, 9008));
        m_editor->setCanvas(&canvas);
        for (int k = 1; k <= 8; ++k) {
            box(segmentEntry(k, SegmentField::Sv1))->setText(QString::number(100 * k));
            box(segmentEntry(k, SegmentField::Sv2))->setText("50");
        }
        QVERIFY(refreshNow());
        QVERIFY(refreshNow());
        const float scale = m_editor->scale().verticalScale;
        QCOMPARE(scale, float(9000 / (700 * 1.2)));
        for (int k = 1; k <= 8; ++k) {
            box(segmentEntry(k, SegmentField::Sv1))->setText("0");
            box(segmentEntry(k, SegmentField::Sv2))->setText("300");
        }
        QVERIFY(refreshNow());
        QVERIFY(refreshNow());
        QCOMPARE(int(m_editor->scale().range), 0);
        QCOMPARE(m_editor->scale().verticalScale, scale);
        QCOMPARE(label("Label5")->text(), QStringLiteral("300"));
        QCOMPARE(label("Label10")->text(), QStringLiteral("300"));
        QCOMPARE(label("Label6_9")->text(), QStringLiteral("00300"));
    }

    void writeDuringBlockRead()
    {
        QVERIFY(showEditor());
        focus(box(0));
        QTest::keyClicks(box(0), "77");
        // The operator leaves the box while the refresh waits between two reads.
        bool first = true;
        m_editor->setYield([&] {
            if (std::exchange(first, false))
                tab();
        });
        QVERIFY(refreshNow());
        m_fake->settle();
        QCOMPARE(m_fake->calls.size(), 4);
        QCOMPARE(m_fake->calls[0].first, 8193);
        QCOMPARE(m_fake->calls[1], write(8201, 77));
        QCOMPARE(m_fake->calls[2].first, 8209);
        QCOMPARE(m_fake->calls[3].first, 8225);
    }

    void timerRefreshes()
    {
        registerImage().programStatus[0] = 1;
        QSignalSpy refreshed(m_editor.get(), &ProgramEditor::refreshed);
        m_editor->findChild<QTimer *>(QStringLiteral("Timer1"))->start();
        QTRY_COMPARE_WITH_TIMEOUT(label("Pro_S_0")->text(), QStringLiteral("运行"), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(refreshed.count() >= 1, 3000); // its block read came back
        m_fake->settle();
        QVERIFY(m_fake->calls.size() >= 3);
    }
};

STATION_TEST_MAIN(TestProgramEditor)
#include "tst_programeditor.moc"
