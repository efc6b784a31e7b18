// Renders the main window with a recorded day and a live image on the
// offscreen platform and saves it as a PNG (for the README). The test checks
// that the window lays out at 1920 x 1080 without scrolling.
//
// Re-baseline the README picture:
//   ctest --test-dir build-test -R shot_mainwindow && cp build-test/tests/app/mainwindow.png docs/
#include "app/mainwindow.h"

#include "link/registerimage.h"
#include "record/sampledb.h"

#include "common/datenum.h"
#include "tests/support/testenv.h"

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>
#include <cmath>

using namespace station;

class ShotMainWindow : public QObject {
    Q_OBJECT

    static void recordDay(int rows)
    {
        QVERIFY(sampledb::create(sampledb::defaultPath()));
        QSqlDatabase db = sampledb::openMainWindowConnection();
        QVERIFY(db.isOpen());
        db.transaction();
        QSqlQuery q(db);
        q.prepare("insert into pv_data values (?,?,?,?,?,?,?,?,?,?,?,?,?)");
        const QDateTime start = QDateTime::currentDateTime().addSecs(-rows);
        for (int i = 1; i <= rows; ++i) {
            const QDateTime t = start.addSecs(i);
            const double pv1 = 30 + 12 * std::sin(i / 40.0) + 3 * std::sin(i / 7.0);
            const double pv2 = 22 + 8 * std::cos(i / 55.0);
            q.addBindValue(i);
            q.addBindValue(dayNumber(t.date()));
            q.addBindValue(dayFraction(t.time()));
            const double values[10] = {pv1, pv2, 35, 25, 500, 300, 0, 0, pv1 < 35 ? 100.0 : 0.0, pv2 < 25 ? 100.0 : 0.0};
            for (double v : values)
                q.addBindValue(double(float(v)));
            QVERIFY(q.exec());
        }
        QSqlQuery(db).exec(QStringLiteral("update sl_void set sl_pointer=%1, sl_copy=%1").arg(rows));
        db.commit();
    }

private slots:
    void screenshot()
    {
        recordDay(241);
        RegisterImage &img = registerImage();
        const float live[10] = {312, 241, 350, 250, 503, 297, 1, 0, 100, 0};
        std::copy(live, live + 10, img.liveSample.begin());
        for (int i = 0; i < 8; ++i)
            img.inputWords[std::size_t(i)] = std::int32_t(live[i]);
        img.programStatus = {1, 312, 350, 241, 250, 2, 15, 47, 1};
        img.holdingWords = {350, 250, 1};
        img.discreteBits = {1, 0, 1, 0, 0, 0};
        img.alarmWords = {400, 5, 2, 300, 5, 2};
        img.paramImage[2] = 10;
        img.paramImage[10] = 5000;

        MainWindow w;
        w.resize(1920, 1040);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // Timer 1 refreshes the panel from the image.
        QTRY_COMPARE(w.findChild<QLabel *>("D_3W_4")->text(), QStringLiteral("50.3"));
        auto *scroll = w.findChild<QScrollArea *>();
        QVERIFY(scroll);
        QVERIFY2(!scroll->horizontalScrollBar()->isVisible(), "the window needs a horizontal scroll bar at 1920");
        QVERIFY2(!scroll->verticalScrollBar()->isVisible(), "the window needs a vertical scroll bar at 1080");
        const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("mainwindow.png");
        QVERIFY(w.grab().save(path));
        qInfo() << "saved" << path;
    }
};

STATION_TEST_MAIN(ShotMainWindow)
#include "shot_mainwindow.moc"
