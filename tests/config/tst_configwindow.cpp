// The configuration window against a fake link: its rows, the one-second
// refresh from the parameter image, the writes on leaving a changed control,
// the refused close box and the way back to the main window.
#include "config/configwindow.h"
#include "config/parametertable.h"

#include "link/registerimage.h"
#include "tests/support/fakelink.h"
#include "tests/support/operatorinput.h"
#include "tests/support/outcomelog.h"
#include "tests/support/testenv.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

using station::ConfigWindow;
using station::test::FakeLink;
namespace config = station::config;

namespace {

constexpr int kPort = 3;
constexpr int kStation = 7;

// Set_4X_D1 calls as text, "4134=2 4134=2", for readable comparisons.
QString writes(const FakeLink &link)
{
    QStringList out;
    for (const auto &call : link.writes()) {
        if (call.port != kPort || call.station != kStation)
            out.append(station::test::describe(call));
        else
            out.append(QStringLiteral("%1=%2").arg(call.first).arg(call.count));
    }
    return out.join(u' ');
}

} // namespace

class TestConfigWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void rowsBuiltFromTable();
    void firstRefreshFromZeroImage();
    void refreshKeepsUnknownCodesAndEntries();
    void comboPickWritesCode();
    void pickingTheEntryShownWritesIt_data();
    void pickingTheEntryShownWritesIt();
    void comboTextMatchingNoEntryWritesNothing_data();
    void comboTextMatchingNoEntryWritesNothing();
    void textBoxWrites_data();
    void textBoxWrites();
    void writeOnlyAfterAChange();
    void retryOnlyOnWriteFailure_data();
    void retryOnlyOnWriteFailure();
    void tabbingWritesNothing();
    void wheelLeavesUnfocusedCombosAlone();
    void closeBoxRefusedAndReturn();

private:
    void open();
    void focus(QWidget *control);
    void leave(QWidget *control);
    void type(QWidget *control, const QString &text);

    std::unique_ptr<FakeLink> m_link;
    QPointer<ConfigWindow> m_window;
};

void TestConfigWindow::init()
{
    station::registerImage().paramImage.fill(0.0f);
    station::linkSettings().port = kPort;
    station::linkSettings().station = kStation;
    m_link = std::make_unique<FakeLink>();
}

void TestConfigWindow::cleanup()
{
    delete m_window.data();
    m_link.reset();
}

void TestConfigWindow::open()
{
    m_window = new ConfigWindow;
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

// Gives control the focus as the Tab key would, on its own page.
void TestConfigWindow::focus(QWidget *control)
{
    QVERIFY(control);
    m_window->tabs()->setCurrentWidget(control->parentWidget());
    control->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(control->hasFocus());
}

void TestConfigWindow::leave(QWidget *control)
{
    QTest::keyClick(control, Qt::Key_Tab);
    QTRY_VERIFY(!control->hasFocus());
}

// Focuses control, replaces its text by typing, and leaves it.
void TestConfigWindow::type(QWidget *control, const QString &text)
{
    focus(control);
    const auto before = m_link->writes().size();
    QTest::keyClick(control, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(control, Qt::Key_Delete);
    station::test::typeText(control, text);
    QCOMPARE(m_link->writes().size(), before);
    leave(control);
}

void TestConfigWindow::rowsBuiltFromTable()
{
    open();
    QCOMPARE(m_window->objectName(), QStringLiteral("CONFIG1"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("LX6100 配置 "));
    QTabWidget *tabs = m_window->findChild<QTabWidget *>("SSTab1");
    QVERIFY(tabs && tabs == m_window->tabs());
    QCOMPARE(qobject_cast<QGroupBox *>(tabs->parentWidget())->title(), QStringLiteral("CONFIG"));
    QStringList captions;
    for (int k = 0; k < tabs->count(); ++k)
        captions.append(tabs->tabText(k));
    QCOMPARE(captions, (QStringList{"INST", "输入1", "输入2", "输出1", "输出2", "报警", "通讯", "变送1", "变送2"}));
    QCOMPARE(tabs->tabText(tabs->currentIndex()), QStringLiteral("输入1"));
    auto *timer = m_window->findChild<QTimer *>("Timer1");
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 1000);
    auto *back = m_window->findChild<QPushButton *>("Command11");
    QVERIFY(back && back->shortcut().isEmpty());
    QCOMPARE(back->text(), QStringLiteral(" Esc 返回"));

    // Each row, left to right: caption Label1_k, display D_4W_i, entry, hint Label2_k.
    for (const config::Parameter &p : config::parameters()) {
        const QString name = config::entryControlName(p);
        auto *display = m_window->findChild<QLabel *>(QStringLiteral("D_4W_%1").arg(p.element()));
        QWidget *entry = m_window->findChild<QWidget *>(name);
        QVERIFY2(display && entry, qPrintable(name));
        QCOMPARE(entry->accessibleDescription(), name);
        QCOMPARE(m_window->display(p.element()), display);
        QCOMPARE(m_window->entry(p.element()), entry);
        QCOMPARE(tabs->tabText(tabs->indexOf(entry->parentWidget())), config::pageCaption(p.page).toString());
        auto *grid = qobject_cast<QGridLayout *>(entry->parentWidget()->layout());
        int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
        grid->getItemPosition(grid->indexOf(display), &row, &column, &rowSpan, &columnSpan);
        auto *caption = qobject_cast<QLabel *>(grid->itemAtPosition(row, 0)->widget());
        auto *hint = qobject_cast<QLabel *>(grid->itemAtPosition(row, 3)->widget());
        QCOMPARE(column, 1);
        QCOMPARE(grid->itemAtPosition(row, 2)->widget(), entry);
        QCOMPARE(caption->text(), p.caption.toString());
        QCOMPARE(hint->text(), p.hint.toString());
        QVERIFY(caption->objectName().startsWith(u"Label1_") && hint->objectName().startsWith(u"Label2_"));
        QCOMPARE(display->text(), QString());
        if (auto *combo = qobject_cast<QComboBox *>(entry)) {
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->count(), p.options->size());
            QCOMPARE(combo->itemText(combo->count() - 1), p.options->options.back().entry.toString());
            QCOMPARE(combo->currentText(), p.options->options[0].entry.toString());
        } else {
            QCOMPARE(qobject_cast<QLineEdit *>(entry)->text(), QString());
        }
        if (!p.footHint.isEmpty()) {
            // The last line of the page, below all its rows.
            QLabel *last = nullptr;
            for (int r = row + 1; r < grid->rowCount(); ++r)
                if (QLayoutItem *item = grid->itemAtPosition(r, 0))
                    last = qobject_cast<QLabel *>(item->widget());
            QVERIFY(last);
            QCOMPARE(last->text(), p.footHint.toString());
            QVERIFY(last->objectName().startsWith(u"Label2_"));
        }
    }
    QCOMPARE(m_window->findChildren<QComboBox *>().size(), 19);
}

void TestConfigWindow::firstRefreshFromZeroImage()
{
    open();
    const QString expected[48] = {
        "禁止", "禁止", "0", "摄氏度", {}, {}, {}, {},
        "0V5", "8888", "0", "0", "0", {}, {}, {},
        "0V5", "8888", "0", "0", "0", {}, {}, {},
        "0", "0", "0", "断开", "0", "0", "0", "断开",
        "禁止", "禁止", "通道一报警", "通道一报警", "0", "4800", "无校验", "0",
        "4MA20", "不变送", "0", "0", "4MA20", "不变送", "0", "0",
    };
    // Timer1 fires one interval after loading; until then the displays are empty.
    QCOMPARE(m_window->display(0)->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(m_window->display(0)->text(), expected[0], 3000);
    for (const config::Parameter &p : config::parameters())
        QCOMPARE(m_window->display(p.element())->text(), expected[p.element()]);
    m_link->settle(); // the link thread has carried out what was queued
    QVERIFY(m_link->calls.isEmpty());
}

void TestConfigWindow::refreshKeepsUnknownCodesAndEntries()
{
    open();
    auto &image = station::registerImage().paramImage;
    image[2] = 15;
    image[8] = 4;
    image[32] = 1;
    m_window->refresh();
    QCOMPARE(m_window->display(2)->text(), QStringLiteral("1.5"));
    QCOMPARE(m_window->display(8)->text(), QStringLiteral("0MA10)"));
    QCOMPARE(m_window->display(32)->text(), QStringLiteral("上限"));

    // An alarm mode of 6 is no code: the display keeps its text. What the
    // operator is typing stays as it is.
    image[32] = 6;
    auto *box = qobject_cast<QLineEdit *>(m_window->entry(10));
    focus(box);
    QTest::keyClicks(box, "77");
    m_window->refresh();
    QCOMPARE(m_window->display(32)->text(), QStringLiteral("上限"));
    QCOMPARE(box->text(), QStringLiteral("77"));
    QVERIFY(box->hasFocus());
    m_link->settle(); // the link thread has carried out what was queued
    QVERIFY(m_link->calls.isEmpty());
}

void TestConfigWindow::comboPickWritesCode()
{
    open();
    m_window->refresh();
    station::test::OutcomeLog outcomes;
    auto *combo = m_window->findChild<QComboBox *>("Combo8");
    focus(combo);
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    list->setCurrentIndex(combo->model()->index(2, 0));
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(combo->currentText(), QStringLiteral("2:19200BPS "));

    // Opening the drop-down list again does not leave the box.
    combo->showPopup();
    QTRY_VERIFY(list->isVisible());
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(combo->hasFocus());
    QCOMPARE(writes(*m_link), QString());

    leave(combo);
    QCOMPARE(writes(*m_link), QStringLiteral("4134=2"));
    QCOMPARE(combo->currentText(), QStringLiteral("2"));
    // For the journal: the window, the box, its caption, the entry chosen and
    // what the value display showed.
    const station::link::WriteTag tag = outcomes.tag(0);
    QCOMPARE(tag.window, QStringLiteral("CONFIG1"));
    QCOMPARE(tag.control, QStringLiteral("Combo8"));
    QCOMPARE(tag.caption, QStringLiteral("通讯波特率"));
    QCOMPARE(tag.entered, QStringLiteral("2:19200BPS "));
    QCOMPARE(tag.shownBefore, std::optional<QString>(QStringLiteral("4800")));
}

// Every list opens on its first entry: choosing that entry from the list is a
// write of code 0 (an alarm off, 4800 baud, ...), the only way to send it.
void TestConfigWindow::pickingTheEntryShownWritesIt_data()
{
    QTest::addColumn<int>("element");
    QTest::addColumn<int>("reg");
    for (const config::Parameter &p : config::parameters())
        if (p.isEnumerated())
            QTest::newRow(qPrintable(config::entryControlName(p))) << p.element() << int(p.reg);
}

void TestConfigWindow::pickingTheEntryShownWritesIt()
{
    QFETCH(int, element);
    QFETCH(int, reg);
    open();
    auto *combo = qobject_cast<QComboBox *>(m_window->entry(element));
    QVERIFY(combo);
    focus(combo);
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    QCOMPARE(list->currentIndex().row(), 0);
    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!list->isVisible());
    leave(combo);
    QCOMPARE(writes(*m_link), QStringLiteral("%1=0").arg(reg));
    QCOMPARE(combo->currentText(), QStringLiteral("0"));
}

void TestConfigWindow::comboTextMatchingNoEntryWritesNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::addColumn<QString>("left");
    QTest::newRow("whole entry") << "1:9600BPS " << "4134=1" << "1";
    QTest::newRow("bare code") << "1" << "" << "1";
    QTest::newRow("display text") << "9600" << "" << "9600";
    QTest::newRow("entry without its blank") << "1:9600BPS" << "" << "1:9600BPS";
    QTest::newRow("emptied") << "" << "" << "";
}

void TestConfigWindow::comboTextMatchingNoEntryWritesNothing()
{
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QString, left);
    open();
    auto *combo = m_window->findChild<QComboBox *>("Combo8");
    type(combo, typed);
    QCOMPARE(writes(*m_link), written);
    QCOMPARE(combo->currentText(), left);
}

void TestConfigWindow::textBoxWrites_data()
{
    // held: the box's text when the operator enters it; typed: after selecting
    // and deleting it ('\b' is Backspace).
    QTest::addColumn<int>("element");
    QTest::addColumn<QString>("held");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("written");
    QTest::newRow("filter 1.5") << 2 << "" << "1.5" << "4099=15";
    QTest::newRow("shift -100") << 12 << "" << "-100" << "4109=-100";
    QTest::newRow("address beyond its hint") << 36 << "" << "600" << "4133=600";
    QTest::newRow("letters after the number") << 10 << "" << "12abc" << "4107=12";
    QTest::newRow("letters only") << 47 << "" << "abc" << "4144=0";
    QTest::newRow("beyond 32 bits") << 46 << "" << "5000000000" << "";
    // Only a changed text is an edit; an empty one writes nothing, not 0.
    QTest::newRow("only a blank") << 47 << "" << " " << "";
    QTest::newRow("emptied") << 36 << "5" << "" << "";
    QTest::newRow("the same text again") << 36 << "5" << "5" << "";
    QTest::newRow("1 then Backspace") << 36 << "" << "1\b" << "";
    QTest::newRow("Backspace in an empty box") << 36 << "" << "\b" << "";
    QTest::newRow("a changed text") << 36 << "5" << "6" << "4133=6";
    // Full-width characters of a Chinese input method; D is no exponent.
    QTest::newRow("full-width digits") << 10 << "" << "１２" << "4107=12";
    QTest::newRow("full-width minus") << 12 << "" << "－５" << "4109=-5";
    QTest::newRow("full-width digit, point") << 2 << "" << "１.５" << "4099=15";
    QTest::newRow("1d2 reads 1") << 10 << "" << "1d2" << "4107=1";
    // No register word holds 70000: refused before the line.
    QTest::newRow("beyond a register word") << 10 << "" << "70000" << "";
    QTest::newRow("unsigned word") << 10 << "" << "65535" << "4107=65535";
}

void TestConfigWindow::textBoxWrites()
{
    QFETCH(int, element);
    QFETCH(QString, held);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    open();
    station::registerImage().paramImage[std::size_t(element)] = 7.0f;
    m_window->refresh();
    station::test::OutcomeLog outcomes;
    auto *box = qobject_cast<QLineEdit *>(m_window->entry(element));
    box->setText(held);
    type(box, typed);
    QCOMPARE(writes(*m_link), written);
    QString left;
    for (QChar c : typed) {
        if (c == u'\b')
            left.chop(1);
        else
            left.append(c);
    }
    QCOMPARE(box->text(), left);
    if (!written.isEmpty()) {
        const station::link::WriteTag tag = outcomes.tag(0);
        QCOMPARE(tag.control, box->objectName());
        QCOMPARE(tag.caption, config::parameterForElement(element)->caption.toString());
        QCOMPARE(tag.entered, left);
        QCOMPARE(tag.shownBefore, std::optional<QString>(m_window->display(element)->text()));
    }
}

void TestConfigWindow::writeOnlyAfterAChange()
{
    open();
    QWidget *box = m_window->entry(39);
    type(box, "5");
    QCOMPARE(writes(*m_link), QStringLiteral("4136=5"));
    // Passing through again sends nothing, nor does typing the same number
    // again: only a text that differs from what the box held is an edit.
    focus(box);
    leave(box);
    type(box, "5");
    QCOMPARE(writes(*m_link), QStringLiteral("4136=5"));
    type(box, "6");
    QCOMPARE(writes(*m_link), QStringLiteral("4136=5 4136=6"));

    // Going to another entry and back to the one shown with the arrow keys
    // chooses that entry: it is written.
    m_link->clear();
    auto *combo = m_window->findChild<QComboBox *>("Combo9");
    focus(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_Up);
    leave(combo);
    QCOMPARE(writes(*m_link), QStringLiteral("4135=0"));
    // Passing through it again is no choice.
    focus(combo);
    leave(combo);
    QCOMPARE(writes(*m_link), QStringLiteral("4135=0"));
}

void TestConfigWindow::retryOnlyOnWriteFailure_data()
{
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QString>("written");
    QTest::newRow("-8888") << QList<int>{-8888} << "4109=-100 4109=-100";
    QTest::newRow("-8888 twice") << QList<int>{-8888, -8888} << "4109=-100 4109=-100";
    QTest::newRow("success") << QList<int>{0} << "4109=-100";
    QTest::newRow("other failure") << QList<int>{-1} << "4109=-100";
}

void TestConfigWindow::retryOnlyOnWriteFailure()
{
    QFETCH(QList<int>, results);
    QFETCH(QString, written);
    open();
    m_link->writeResults.assign(results.cbegin(), results.cend());
    type(m_window->entry(12), "-100");
    QCOMPARE(writes(*m_link), written);
}

void TestConfigWindow::tabbingWritesNothing()
{
    open();
    QTabWidget *tabs = m_window->tabs();
    int visited = 0;
    for (int page = 0; page < tabs->count(); ++page) {
        QList<QWidget *> entries;
        for (const config::Parameter &p : config::parameters())
            if (p.page == config::kPages[std::size_t(page)])
                entries.append(m_window->entry(p.element()));
        focus(entries.first());
        // The Tab key walks the rows top to bottom.
        for (QWidget *entry : entries) {
            QCOMPARE(QApplication::focusWidget(), entry);
            leave(entry);
            ++visited;
        }
    }
    QCOMPARE(visited, 38);
    m_link->settle(); // the link thread has carried out what was queued
    QVERIFY(m_link->calls.isEmpty());
}

void TestConfigWindow::wheelLeavesUnfocusedCombosAlone()
{
    open();
    const QList<QComboBox *> combos = m_window->findChildren<QComboBox *>();
    QCOMPARE(combos.size(), 19);
    for (QComboBox *combo : combos) {
        const QString name = combo->objectName();
        m_window->returnButton()->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(m_window->returnButton()->hasFocus());
        m_window->tabs()->setCurrentWidget(combo->parentWidget());
        QVERIFY2(combo->isVisible(), qPrintable(name));
        station::test::wheel(combo, -1);
        QVERIFY2(!combo->hasFocus(), qPrintable(name));
        QVERIFY2(combo->currentIndex() == 0, qPrintable(name));
    }
    m_link->settle(); // the link thread has carried out what was queued
    QVERIFY(m_link->calls.isEmpty());

    // With the focus the wheel picks the next entry, which counts as a change.
    auto *combo = m_window->findChild<QComboBox *>("Combo2");
    focus(combo);
    station::test::wheel(combo, -1);
    QCOMPARE(combo->currentIndex(), 1);
    leave(combo);
    QCOMPARE(writes(*m_link), QStringLiteral("4114=1"));
}

void TestConfigWindow::closeBoxRefusedAndReturn()
{
    QWidget mainWindow;
    mainWindow.show();
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    m_window = station::openConfigWindow(&mainWindow);
    QVERIFY(m_window && m_window->isVisible());
    QVERIFY(!mainWindow.isVisible());
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    QSignalSpy returned(m_window.data(), &ConfigWindow::returned);

    QVERIFY(!m_window->close());
    QVERIFY(!m_window->windowHandle()->close());
    QTest::keyClick(m_window->entry(8), Qt::Key_Escape);  // Esc is not bound
    QVERIFY(m_window->isVisible());

    // A pending change is written as the button takes the focus.
    QWidget *box = m_window->entry(11);
    focus(box);
    QTest::keyClicks(box, "-5");
    QTest::mouseClick(m_window->returnButton(), Qt::LeftButton);
    QCOMPARE(writes(*m_link), QStringLiteral("4108=-5"));
    QCOMPARE(returned.count(), 1);
    QTRY_VERIFY(m_window.isNull());
    QVERIFY(mainWindow.isVisible());

    // Returning never ends the program, although no window is visible for a
    // moment; the application only notices that inside its event loop.
    m_window = station::openConfigWindow(&mainWindow);
    QTimer::singleShot(0, m_window->returnButton(), &QPushButton::click);
    QTimer::singleShot(0, qApp, [] { QMetaObject::invokeMethod(qApp, [] { qApp->exit(7); }, Qt::QueuedConnection); });
    QCOMPARE(qApp->exec(), 7);
    QCOMPARE(lastClosed.count(), 0);
    QTRY_VERIFY(m_window.isNull());
    QVERIFY(mainWindow.isVisible());

    // The next opening starts afresh.
    m_window = station::openConfigWindow(&mainWindow);
    QCOMPARE(qobject_cast<QLineEdit *>(m_window->entry(11))->text(), QString());
    QCOMPARE(m_window->tabs()->currentIndex(), ConfigWindow::kOpeningPage);
    m_window->returnButton()->click();
    QTRY_VERIFY(m_window.isNull());
    QVERIFY(mainWindow.isVisible());
}

STATION_TEST_MAIN(TestConfigWindow)
#include "tst_configwindow.moc"
