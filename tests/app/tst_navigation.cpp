// Chart navigation through the main window: zoom limits, paging back and
// forward through the ring of ids, the ruler cursor, the Y-range edit and the
// function keys.
#include "app/cursorreadout.h"
#include "app/functionpanel.h"
#include "app/mainwindow.h"
#include "app/status/statuspanel.h"

#include "chart/navigation.h"
#include "chart/trendchart.h"
#include "chart/draw/picturebox.h"
#include "record/sampledb.h"

#include "common/datenum.h"
#include "link/registerimage.h"
#include "tests/support/testenv.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace station;
using chart::Navigation;

class TestNavigation : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> m_window;

    static void setNewestId(int id)
    {
        QSqlDatabase db = sampledb::openMainWindowConnection();
        QVERIFY(db.isOpen());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("update sl_void set sl_pointer=%1, sl_copy=%1").arg(id)));
    }

    // Rows dated one second apart, the newest id at 2026-12-08 00:16:39, so ids
    // 1..newest fall on that day and the rows above it (the older end of a full
    // ring) on the day before. Value column 0 holds the id.
    static QDateTime momentOf(int id, int newest)
    {
        const int age = id <= newest ? newest - id : newest + sampledb::kRingSize - id;
        return QDateTime(QDate(2026, 12, 8), QTime(0, 16, 39)).addSecs(-age);
    }

    static void seedRows(int first, int last, int newest)
    {
        QSqlDatabase db = sampledb::openMainWindowConnection();
        QVERIFY(db.transaction());
        QSqlQuery q(db);
        QVERIFY(q.prepare(QStringLiteral("insert or replace into pv_data (w_id, w_date, w_time, v0, v1, v2, v3, v4, v5,"
                                         " v6, v7, v8, v9) values (?,?,?,?,0,0,0,0,0,0,0,0,0)")));
        for (int id = first; id <= last; ++id) {
            const QDateTime at = momentOf(id, newest);
            q.bindValue(0, id);
            q.bindValue(1, dayNumber(at.date()));
            q.bindValue(2, dayFraction(at.time()));
            q.bindValue(3, id);
            QVERIFY(q.exec());
        }
        QVERIFY(db.commit());
    }

    chart::ViewState &view() { return m_window->trendChart()->chart().view(); }
    QLabel *stepLabel() { return m_window->findChild<QLabel *>(QStringLiteral("Label12")); }
    FunctionPanel *f() { return m_window->functionPanel(); }

    void openWindow(int newestId)
    {
        setNewestId(newestId);
        m_window = std::make_unique<MainWindow>();
        m_window->show();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        QCOMPARE(view().newestId, newestId);
    }

    void press(Qt::Key key) { QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : m_window.get(), key); }

private slots:
    void init()
    {
        sampledb::closeMainWindowConnection();
        QFile::remove(sampledb::defaultPath());
        chart::yRange() = chart::YRange{};
        registerImage() = RegisterImage{};
    }

    void cleanup()
    {
        m_window.reset();
    }

    void zoomStopsAtBothEnds()
    {
        openWindow(1000);
        QCOMPARE(view().zoomLevel, 1);
        QVERIFY(!f()->zoomIn()->isEnabled());
        press(Qt::Key_F2); // level 1: nothing
        QCOMPARE(view().zoomLevel, 1);
        const int steps[] = {75, 50, 38};
        for (int level = 2; level <= 4; ++level) {
            press(Qt::Key_F1);
            QCOMPARE(view().zoomLevel, level);
            QVERIFY(f()->zoomIn()->isEnabled());
            QCOMPARE(f()->slider()->singleStep(), steps[level - 2]);
            QCOMPARE(f()->slider()->pageStep(), steps[level - 2]);
        }
        QVERIFY(!f()->zoomOut()->isEnabled());
        press(Qt::Key_F1); // level 4: nothing
        QCOMPARE(view().zoomLevel, 4);
        f()->zoomIn()->click();
        QCOMPARE(view().zoomLevel, 3);
        QVERIFY(f()->zoomOut()->isEnabled());
        QCOMPARE(view().sampleStep, 50.0f);
    }

    void zoomingInPastTheRightEdgeStillReloadsTheLiveWindow()
    {
        openWindow(1000);
        for (int i = 0; i < 3; ++i)
            press(Qt::Key_F1);
        QCOMPARE(view().zoomLevel, 4);
        chart::TrendChart *chart = m_window->trendChart();
        m_window->timer1().stop();
        for (int i = 0; i < 30; ++i) {
            sampleFlags().newSample = true;
            QVERIFY(chart->liveAppend());
        }
        QCOMPARE(view().markEnd, 271); // the edge of level 4 is at 321
        for (int i = 0; i < 3; ++i)
            press(Qt::Key_F2);
        QCOMPARE(view().zoomLevel, 1); // its edge, 261, is behind the pens now
        sampleFlags().newSample = true;
        QVERIFY(chart->liveAppend());
        QCOMPARE(view().markEnd, 241);
        QCOMPARE(view().curveEnd, 241);
    }

    void aLiveAppendNeverReplacesAHistoryWindow()
    {
        openWindow(1000);
        press(Qt::Key_F7);
        press(Qt::Key_F7);
        press(Qt::Key_F4);
        setNewestId(1003);
        press(Qt::Key_F4); // ruler off: the live window, pages back still 2
        QCOMPARE(view().pagesBack, 2);
        QCOMPARE(view().windowEndId, 1003);
        press(Qt::Key_F6);
        QCOMPARE(view().windowEndId, 943);
        QCOMPARE(view().windowLength, 321);
        // The live timer, restarted by ruler off, finds a new sample.
        m_window->timer1().stop();
        sampleFlags().newSample = true;
        QVERIFY(m_window->trendChart()->liveAppend());
        QCOMPARE(view().windowEndId, 943);
        QCOMPARE(view().windowLength, 321);
        QCOMPARE(view().pagesBack, 1);
    }

    void pagingBackFromNewestId1000()
    {
        openWindow(1000);
        QVERIFY(m_window->timer1().isActive());
        for (int page = 1; page <= 11; ++page) {
            press(Qt::Key_F7);
            QCOMPARE(view().pagesBack, page);
            QCOMPARE(view().windowEndId, 1000 - 60 * page);
            QCOMPARE(view().windowLength, 321);
            QCOMPARE(view().curveEnd, 321);
        }
        QCOMPARE(view().windowEndId, 340);
        QVERIFY(!m_window->timer1().isActive());
        QVERIFY(f()->pageForward()->isEnabled());
        press(Qt::Key_F1); // the live timer is stopped: the zoom itself shows the step
        QCOMPARE(stepLabel()->text(), QStringLiteral("75"));
        press(Qt::Key_F2);
        QCOMPARE(stepLabel()->text(), QStringLiteral("150"));

        press(Qt::Key_F7); // 1000 - 720 = 280 <= 321: refused
        QCOMPARE(view().pagesBack, 12);
        QVERIFY(view().atOldest);
        QVERIFY(!f()->pageBack()->isEnabled());
        QCOMPARE(view().windowEndId, 340);
        press(Qt::Key_F7); // the at-oldest flag guards the key
        QCOMPARE(view().pagesBack, 12);

        press(Qt::Key_F6);
        QCOMPARE(view().pagesBack, 11);
        QCOMPARE(view().windowEndId, 340);
        QVERIFY(f()->pageBack()->isEnabled());
        QVERIFY(!view().atOldest);
        press(Qt::Key_F6);
        QCOMPARE(view().windowEndId, 400);

        // Refused again, then ruler on and off: back in the live view the step
        // back is offered again; refused once more, the step forward passes over
        // the window of pages back 12, which would run past id 1.
        press(Qt::Key_F7);
        press(Qt::Key_F7);
        QVERIFY(view().atOldest);
        press(Qt::Key_F4);
        press(Qt::Key_F4);
        QVERIFY(!view().atOldest);
        QVERIFY(f()->pageBack()->isEnabled());
        QCOMPARE(view().pagesBack, 12);
        press(Qt::Key_F7);
        QCOMPARE(view().pagesBack, 13);
        QVERIFY(view().atOldest);
        press(Qt::Key_F6);
        QCOMPARE(view().pagesBack, 11);
        QCOMPARE(view().windowEndId, 340);
    }

    void aRefusalFromTheLiveViewIsUndoneByPagingForward()
    {
        openWindow(300);
        press(Qt::Key_F7); // 300 - 60 = 240 <= 321
        QCOMPARE(view().pagesBack, 1);
        QVERIFY(view().atOldest);
        QVERIFY(!m_window->timer1().isActive());
        QVERIFY(f()->pageForward()->isEnabled());
        QCOMPARE(view().windowLength, 321);
        QCOMPARE(view().windowEndId, 300); // the live window stays on screen
        setNewestId(1000);                   // the ring grows meanwhile
        press(Qt::Key_F6);
        QCOMPARE(view().pagesBack, 0);
        QCOMPARE(view().windowLength, 241);
        QCOMPARE(view().curveEnd, 241);
        QVERIFY(m_window->timer1().isActive());
        QVERIFY(!f()->pageForward()->isEnabled());
        press(Qt::Key_F6); // live view: the guard holds
        QCOMPARE(view().pagesBack, 0);
        // Back in the live view the step back is offered again.
        QVERIFY(!view().atOldest);
        QVERIFY(f()->pageBack()->isEnabled());
        press(Qt::Key_F7);
        QCOMPARE(view().windowEndId, 940);
    }

    void pagingWrapsThroughTheTopOfTheIdRing()
    {
        seedRows(65500, 65500, 30); // just after the ids wrapped
        openWindow(30);
        QVERIFY(view().ringFull);
        press(Qt::Key_F7);
        QCOMPARE(view().windowEndId, 65470);
        press(Qt::Key_F7);
        QCOMPARE(view().windowEndId, 65410);
    }

    void pagingRule_data()
    {
        QTest::addColumn<int>("newest");
        QTest::addColumn<bool>("full");
        QTest::addColumn<int>("pagesBack");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<int>("windowEnd");
        QTest::newRow("young 1000, page 11") << 1000 << false << 11 << false << 340;
        QTest::newRow("young 1000, page 12") << 1000 << false << 12 << true << 0;
        QTest::newRow("young 300, page 1") << 300 << false << 1 << true << 0;
        QTest::newRow("young 50, page 1") << 50 << false << 1 << true << 0;
        QTest::newRow("young 0, page 1") << 0 << false << 1 << true << 0;
        QTest::newRow("full 30, page 3") << 30 << true << 3 << false << 65350;
        QTest::newRow("full 1000, page 12 across id 1") << 1000 << true << 12 << false << 280;
        QTest::newRow("full 1000, page 17") << 1000 << true << 17 << false << 65480;
        QTest::newRow("full 1000, page 1086 oldest") << 1000 << true << 1086 << false << 1340;
        QTest::newRow("full 1000, page 1087") << 1000 << true << 1087 << true << 0;
        QTest::newRow("full 65500, page 547") << 65500 << true << 547 << false << 32680;
        QTest::newRow("pointer above the ring") << 70000 << true << 1 << true << 0;
    }

    void pagingRule()
    {
        QFETCH(int, newest);
        QFETCH(bool, full);
        QFETCH(int, pagesBack);
        QFETCH(bool, refused);
        QFETCH(int, windowEnd);
        QCOMPARE(chart::stepBackRefused(newest, pagesBack, full), refused);
        if (!refused)
            QCOMPARE(chart::windowEndFor(newest, pagesBack), windowEnd);
    }

    void aFullRingPagesAcrossIdOneToItsOldestRow()
    {
        seedRows(1, sampledb::kRingSize, 1000);
        openWindow(1000);
        QVERIFY(view().ringFull);
        const chart::Buffer &buffer = m_window->trendChart()->chart().buffer();
        auto checkSlot = [&](int slot, int id) {
            QCOMPARE(buffer[slot].values[0], float(id));
            QCOMPARE(buffer[slot].date, dayNumber(momentOf(id, 1000).date()));
            QCOMPARE(buffer[slot].time, dayFraction(momentOf(id, 1000).time()));
        };
        for (int page = 1; page <= 12; ++page)
            press(Qt::Key_F7);
        // Ids 65460..65500 of the day before, then 1..280.
        QCOMPARE(view().windowEndId, 280);
        checkSlot(1, 65460);
        checkSlot(40, 65499);
        checkSlot(41, 65500);
        checkSlot(42, 1);
        checkSlot(321, 280);
        for (int i = 0; i < 3; ++i)
            press(Qt::Key_F1); // zoom 4: label k names slot 40k + 1
        chart::TrendChart *tc = m_window->trendChart();
        QCOMPARE(tc->dateLabel(1)->text(), QStringLiteral("2026-12-07"));
        QCOMPARE(tc->timeLabel(1)->text(), QStringLiteral("23:59:59")); // id 65500
        QCOMPARE(tc->dateLabel(2)->text(), QStringLiteral("2026-12-08"));
        QCOMPARE(tc->timeLabel(2)->text(), QStringLiteral("00:00:39")); // id 40
        for (int page = 13; page <= 17; ++page)
            press(Qt::Key_F7);
        QCOMPARE(view().windowEndId, 65480);
        checkSlot(1, 65160);
        checkSlot(321, 65480);
        QCOMPARE(tc->dateLabel(8)->text(), QStringLiteral("2026-12-07"));
        QCOMPARE(tc->timeLabel(8)->text(), QStringLiteral("23:59:39")); // id 65480, slot 321

        // The oldest window holds ids 1020..1340; one page more would run over
        // the newest rows.
        view().pagesBack = 1085;
        press(Qt::Key_F7);
        QCOMPARE(view().windowEndId, 1340);
        checkSlot(1, 1020);
        checkSlot(321, 1340);
        QVERIFY(!view().atOldest);
        press(Qt::Key_F7);
        QCOMPARE(view().pagesBack, 1087);
        QVERIFY(view().atOldest);
        QVERIFY(!f()->pageBack()->isEnabled());
        QCOMPARE(view().windowEndId, 1340);
        press(Qt::Key_F6);
        QCOMPARE(view().pagesBack, 1086);
        QCOMPARE(view().windowEndId, 1340);
        QVERIFY(f()->pageBack()->isEnabled());

        // Ten minutes of recording while the operator pages: ids 1001..1600
        // overwrite the oldest rows. The deepest page is measured from the
        // newest id as it is now and still shows the oldest rows, 1620..1940,
        // not the ten minutes just recorded.
        seedRows(1001, 1600, 1600);
        setNewestId(1600);
        view().pagesBack = 1085;
        press(Qt::Key_F7);
        QCOMPARE(view().newestId, 1600);
        QCOMPARE(view().windowEndId, 1940);
        QCOMPARE(buffer[1].values[0], 1620.0f);
        QCOMPARE(buffer[321].values[0], 1940.0f);
        QCOMPARE(buffer[321].date, dayNumber(momentOf(1940, 1000).date()));
        press(Qt::Key_F7);
        QVERIFY(view().atOldest);
    }

    void theSliderEndsPageOncePerArrival()
    {
        openWindow(5000);
        press(Qt::Key_F4);
        QVERIFY(view().rulerMode);
        QCOMPARE(f()->ruler()->text(), QStringLiteral("F4 复原"));
        QVERIFY(f()->slider()->isEnabled());
        QVERIFY(!m_window->timer1().isActive());

        QSlider *hc = f()->slider();
        hc->setValue(-1);
        QCOMPARE(view().pagesBack, 1);
        hc->setValue(-1); // staying at the end is no new arrival
        QCOMPARE(view().pagesBack, 1);
        hc->setValue(100);
        hc->setValue(-1);
        QCOMPARE(view().pagesBack, 2);
        hc->setValue(12001);
        QCOMPARE(view().pagesBack, 1);
        hc->setValue(12001);
        QCOMPARE(view().pagesBack, 1);
        hc->setValue(6000);
        hc->setValue(12001);
        QCOMPARE(view().pagesBack, 0);
        hc->setValue(6000);
        hc->setValue(12001); // live view: nothing to page forward to
        QCOMPARE(view().pagesBack, 0);
    }

    void theCursorReadsTheSlotUnderIt()
    {
        openWindow(1000);
        chart::Buffer &buffer = m_window->trendChart()->chart().buffer();
        // Zoom 1: step 150, first slot 180; x = 1500 stands on slot 190.
        buffer[190].filled = true;
        buffer[190].date = dayNumber(QDate(2026, 12, 1));
        buffer[190].time = (3600.0 * 13 + 60 * 5 + 9) / 86400.0;
        buffer[190].values = {};
        buffer[190].values[0] = 287;
        buffer[190].values[4] = 503;
        buffer[190].values[7] = 1.5f;
        CursorReadout *readout = m_window->cursorReadout();
        QVERIFY(!readout->isVisible());
        press(Qt::Key_F4);
        f()->slider()->setValue(1500);
        QVERIFY(readout->isVisible());
        QCOMPARE(readout->dateLabel()->text(), QStringLiteral("2026-12-01"));
        QCOMPARE(readout->timeLabel()->text(), QStringLiteral("13:05:09"));
        QCOMPARE(readout->valueLabel(0)->text(), QStringLiteral("287"));
        QCOMPARE(readout->valueLabel(4)->text(), QStringLiteral("503")); // raw, no scaling
        QCOMPARE(readout->valueLabel(7)->text(), QStringLiteral("1.5"));
        QCOMPARE(readout->valueLabel(0)->palette().color(QPalette::Window), QColor(255, 255, 0));
        // The panel and the clock are not the cursor's.
        status::StatusPanel *panel = m_window->statusPanel();
        QVERIFY(panel->processLabel(0)->text() != QStringLiteral("287"));
        QCOMPARE(panel->dateLabel()->text(), QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")));
        draw::PictureBox *pt = m_window->trendChart()->plot();
        QVERIFY(pt->hasOverlayLine());
        QCOMPARE(pt->overlayLine(), QLineF(1500, 0, 1500, 7500));
        QCOMPARE(pt->overlayPen().color, QColor(192, 0, 192));
        // x = 1574 rounds to 10.49 -> slot 190 as well; 1575 is 10.5 -> 10 (to even).
        buffer[191].filled = true;
        buffer[191].values[0] = 999;
        f()->slider()->setValue(1575);
        QCOMPARE(readout->valueLabel(0)->text(), QStringLiteral("287"));
        f()->slider()->setValue(1576);
        QCOMPARE(readout->valueLabel(0)->text(), QStringLiteral("999"));
        // A sample stored as not live shows when it was stored, not its values;
        // a slot without a sample shows nothing.
        buffer[191].live = chart::Liveness::NotLive;
        f()->slider()->setValue(1500);
        f()->slider()->setValue(1576);
        QCOMPARE(readout->valueLabel(0)->text(), QString());
        QCOMPARE(readout->dateLabel()->text(), QStringLiteral("1899-12-30"));
        f()->slider()->setValue(1800); // slot 192, empty
        QCOMPARE(readout->dateLabel()->text(), QString());
        QCOMPARE(readout->timeLabel()->text(), QString());
        press(Qt::Key_F4);
        QVERIFY(!view().rulerMode);
        QCOMPARE(f()->ruler()->text(), QStringLiteral("F4 标尺"));
        QVERIFY(!f()->slider()->isEnabled());
        QVERIFY(m_window->timer1().isActive());
        QCOMPARE(pt->overlayLine(), QLineF(0, 0, 0, 330));
        QVERIFY(!readout->isVisible());
    }

    // The status panel, its colours and the clock follow the controller in
    // every chart mode; only the chart's live append stops.
    void thePanelStaysLive_data()
    {
        QTest::addColumn<int>("newest");
        QTest::addColumn<QString>("keys");
        QTest::newRow("history view") << 1000 << "77";
        QTest::newRow("ruler mode") << 1000 << "4";
        QTest::newRow("ruler in history view") << 1000 << "74";
        QTest::newRow("refused step back") << 300 << "7";
    }

    void thePanelStaysLive()
    {
        QFETCH(int, newest);
        QFETCH(QString, keys);
        openWindow(newest);
        for (QChar k : keys)
            press(k == u'7' ? Qt::Key_F7 : Qt::Key_F4);
        QVERIFY(!m_window->timer1().isActive());
        if (view().rulerMode)
            f()->slider()->setValue(1500); // the cursor shows a sample meanwhile
        status::StatusPanel *panel = m_window->statusPanel();
        registerImage().liveSample[0] = 4321;
        registerImage().discreteBits[2] = 1;
        QTRY_COMPARE_WITH_TIMEOUT(panel->processLabel(0)->text(), QStringLiteral("4321"), 2000);
        QCOMPARE(panel->stateLabel(2)->text(), QStringLiteral("ALM1报警"));
        QCOMPARE(panel->processLabel(0)->palette().color(QPalette::Window), QColor(255, 192, 255));
        QVERIFY(m_window->timer3().isActive());
        QCOMPARE(panel->dateLabel()->text(), QDate::currentDate().toString(QStringLiteral("MM-dd-yyyy")));
        QCOMPARE(panel->dateLabel()->palette().color(QPalette::Window), QColor(128, 255, 128));
    }

    // An empty database: the chart shows no invented sample, no time label
    // reads "00:00:00 1899-12-30".
    void anEmptyDatabaseShowsNoTimeLabel()
    {
        openWindow(0);
        chart::TrendChart *tc = m_window->trendChart();
        for (int k = 0; k < chart::kTimeLabelCount; ++k) {
            QCOMPARE(tc->timeLabel(k)->text(), QString());
            QCOMPARE(tc->dateLabel(k)->text(), QString());
        }
    }

    void yRangeEdit_data()
    {
        QTest::addColumn<QString>("maximum");
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("span");
        QTest::addColumn<int>("min");
        QTest::addColumn<QString>("top"); // Label5_6 right after the edit
        QTest::newRow("100 / 100") << "100" << "100" << true << 0 << 100 << "100";
        QTest::newRow("101 over 100") << "100" << "101" << false << 60 << 0 << "60";
        QTest::newRow("50abc") << "50abc" << "10" << true << 40 << 10 << "50";
        QTest::newRow("empty minimum") << "80" << "" << true << 80 << 0 << "80";
        QTest::newRow("maximum above 36000") << "36001" << "0" << false << 60 << 0 << "60";
        QTest::newRow("maximum below -12000") << "-12001" << "-13000" << false << 60 << 0 << "60";
        QTest::newRow("minimum below -12000") << "100" << "-12001" << false << 60 << 0 << "60";
        QTest::newRow("span 48000 does not fit") << "36000" << "-12000" << true << 60 << -12000 << "-11940";
        QTest::newRow("halves to even") << "60.5" << "-0.5" << true << 61 << 0 << "61";
    }

    void yRangeEdit()
    {
        QFETCH(QString, maximum);
        QFETCH(QString, minimum);
        QFETCH(bool, accepted);
        QFETCH(int, span);
        QFETCH(int, min);
        QFETCH(QString, top);
        openWindow(1000);
        press(Qt::Key_F7); // history view: the live timer no longer refreshes the scale
        QCOMPARE(f()->yMaximum()->text(), QStringLiteral("60"));
        QVERIFY(f()->yMinimum()->text().isEmpty());
        f()->yMaximum()->setText(maximum);
        f()->yMinimum()->setText(minimum);
        f()->applyY()->click();
        QCOMPARE(chart::yRange().span, span);
        QCOMPARE(chart::yRange().minimum, min);
        QCOMPARE(m_window->trendChart()->leftScaleLabel(6)->text(), top);
        QCOMPARE(chart::applyYRange(maximum, minimum), accepted);
    }

    void printAndSelectDoNothing()
    {
        openWindow(1000);
        QVERIFY(!f()->print()->isEnabled());
        QVERIFY(!f()->select()->isEnabled());
        const chart::ViewState before = view();
        press(Qt::Key_F3);
        press(Qt::Key_F5);
        QCOMPARE(view().zoomLevel, before.zoomLevel);
        QCOMPARE(view().pagesBack, before.pagesBack);
        QCOMPARE(view().rulerMode, before.rulerMode);
        QVERIFY(m_window->timer1().isActive());
        QVERIFY(m_window->isVisible());
    }

    void escapeIsIgnoredWhileTypingAValue_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::newRow("set value 1") << "Text1_0";
        QTest::newRow("Y maximum") << "YKD";
        // The editable lists are text entries too.
        QTest::newRow("run command list") << "Combo3";
        QTest::newRow("port list") << "Port";
        QTest::newRow("address list") << "Address";
    }

    // Esc closes an open drop-down list, as on every desktop, and nothing else.
    void escapeClosesAnOpenListOnly_data()
    {
        QTest::addColumn<QString>("list");
        QTest::newRow("port list") << "Port";
        QTest::newRow("address list") << "Address";
        QTest::newRow("run command list") << "Combo3";
    }

    void escapeClosesAnOpenListOnly()
    {
        QFETCH(QString, list);
        openWindow(1000);
        auto *combo = m_window->findChild<QComboBox *>(list);
        QVERIFY(combo);
        combo->setFocus();
        QTRY_VERIFY(combo->hasFocus());
        combo->showPopup();
        QTRY_VERIFY(combo->view()->isVisible());
        QSignalSpy exited(m_window.get(), &MainWindow::exitRequested);
        QTest::keyClick(combo->view(), Qt::Key_Escape);
        QTRY_VERIFY(!combo->view()->isVisible());
        QCOMPARE(exited.count(), 0);
        QVERIFY(m_window->isVisible());
        QVERIFY(m_window->unloadGuard());
    }

    void escapeIsIgnoredWhileTypingAValue()
    {
        QFETCH(QString, entry);
        openWindow(1000);
        auto *control = m_window->findChild<QWidget *>(entry);
        QVERIFY(control);
        control->setFocus();
        QTRY_VERIFY(control->hasFocus());
        QTest::keyClicks(control, "1");
        QTest::keyClick(control, Qt::Key_Escape);
        QVERIFY(m_window->isVisible());
        QVERIFY(m_window->unloadGuard());
        // The function keys still work from the entry.
        QTest::keyClick(control, Qt::Key_F1);
        QCOMPARE(view().zoomLevel, 2);
    }
};

STATION_TEST_MAIN(TestNavigation)
#include "tst_navigation.moc"
