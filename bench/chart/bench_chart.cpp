// Timing of the trend chart's two heavy steps, each as a median of many runs:
//
//  1. A full repaint of a history window (321 slots, zoom 4, six pens, gap
//     marks): the repaint sequence drawing through the QPainter canvas of a
//     picture box, beside the same lines painted with bare QPainter calls
//     (same fills, same pen changes, same device coordinates), interleaved in
//     one run. The ratio is the cost of the drawing layer and the chart's own
//     arithmetic; aim: within 1.2.
//  2. A window load of 321 rows from a full ring of 65500 rows, in both query
//     forms (inside the ring, and wrapping past 65500); and the window's query
//     alone (run and read through), in ring order as the chart asks for it
//     beside the earlier form in date and time order with "not between" for
//     the wrapping window, interleaved in one run.
//
//   bench_chart [repaint runs] [load runs]
#include "chart/chart.h"
#include "chart/history.h"
#include "chart/render.h"
#include "chart/draw/canvas.h"
#include "chart/draw/picturebox.h"
#include "record/sampledb.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <vector>

using namespace station;
using namespace station::chart;
using SteadyClock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

template<typename F>
double timeOnce(F &&f)
{
    const auto t0 = SteadyClock::now();
    f();
    return std::chrono::duration<double, std::micro>(SteadyClock::now() - t0).count();
}

// A history window as paging leaves it: 321 slots of moving values, a gap
// mark every 40 slots.
void fillHistory(Chart &chart)
{
    Buffer &b = chart.buffer();
    for (int s = 1; s <= kHistoryWindow; ++s) {
        b[s].date = 45356;
        b[s].time = 0.5 + s / 86400.0;
        b[s].values[0] = float(std::round(30 + 20 * std::sin(s / 17.0)));
        b[s].values[1] = float(std::round(35 + 15 * std::cos(s / 23.0)));
        b[s].values[2] = 40;
        b[s].values[3] = 50;
        b[s].values[8] = (s / 25) % 2 ? 100 : 0;
        b[s].values[9] = (s / 60) % 2 ? 100 : 0;
        b[s].gapMark = s % 40 == 0 ? std::int16_t(s) : std::int16_t(0);
        b[s].filled = true;
    }
    ViewState &v = chart.view();
    v.zoomLevel = 4;
    v.windowLength = kHistoryWindow;
    v.markEnd = v.curveEnd = kHistoryWindow;
}

QPen qtPen(const draw::Pen &pen)
{
    QPen p(pen.color);
    p.setWidth(std::max(1, pen.width));
    Qt::PenStyle style = Qt::SolidLine;
    if (pen.width <= 1 && pen.style == draw::LineStyle::Dot)
        style = Qt::DotLine;
    else if (pen.width <= 1 && pen.style == draw::LineStyle::Dash)
        style = Qt::DashLine;
    p.setStyle(style);
    p.setCapStyle(Qt::FlatCap);
    return p;
}

void benchRepaint(int runs)
{
    draw::PictureBox box(QSizeF(kPlotWidth, kPlotHeight));
    box.resize(801, 501);
    Chart chart;
    chart.setCanvas(&box.canvas());
    fillHistory(chart);

    // The same picture as a list of lines, for the bare QPainter version.
    draw::RecordingCanvas recorder(QSizeF(kPlotWidth, kPlotHeight));
    chart.setCanvas(&recorder);
    chart.repaint();
    chart.setCanvas(&box.canvas());
    const QList<draw::RecordingCanvas::Line> lines = recorder.lines();
    const double sx = box.width() / kPlotWidth;
    const double sy = box.height() / kPlotHeight;

    QPixmap bare(box.size());
    const auto paintBare = [&] {
        bare.fill(kPlotBackground); // clear, then the grid's background
        bare.fill(kPlotBackground);
        QPainter p(&bare);
        draw::Pen current = lines.first().pen;
        p.setPen(qtPen(current));
        for (const auto &l : lines) {
            if (!(l.pen == current)) {
                current = l.pen;
                p.setPen(qtPen(current));
            }
            p.drawLine(QPointF(l.x1 * sx, l.y1 * sy), QPointF(l.x2 * sx, l.y2 * sy));
        }
    };
    const auto paintChart = [&] {
        chart.repaint();
        box.flush();
    };

    for (int i = 0; i < 5; ++i) { // warm-up
        paintBare();
        paintChart();
    }
    std::vector<double> layer, plain;
    for (int i = 0; i < runs; ++i) {
        if (i % 2) {
            layer.push_back(timeOnce(paintChart));
            plain.push_back(timeOnce(paintBare));
        } else {
            plain.push_back(timeOnce(paintBare));
            layer.push_back(timeOnce(paintChart));
        }
    }
    std::vector<double> texts;
    for (int i = 0; i < runs; ++i)
        texts.push_back(timeOnce([&] { (void)timeLabels(chart.buffer(), chart.view()); }));
    const double a = median(layer);
    const double b = median(plain);
    std::printf("repaint, history window (zoom 4, %lld lines, %d runs)\n", qlonglong(lines.size()), runs);
    std::printf("  chart repaint via painter canvas  median %8.1f us\n", a);
    std::printf("  bare QPainter, same lines         median %8.1f us\n", b);
    std::printf("  ratio                             %8.3f\n", a / b);
    std::printf("  of which the nine label texts     median %8.1f us\n", median(texts));
}

void benchLoad(int runs)
{
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("ring.db"));
    if (!sampledb::create(path)) {
        std::printf("cannot create %s\n", qPrintable(path));
        return;
    }
    sampledb::Connection connection(QStringLiteral("bench"), path);
    if (!connection.open()) {
        std::printf("cannot open %s\n", qPrintable(path));
        return;
    }
    QSqlDatabase db = connection.database();
    const double filling = timeOnce([&] {
        db.transaction();
        QSqlQuery q(db);
        q.prepare(QStringLiteral("INSERT INTO pv_data (w_id, w_date, w_time, v0, v1, v2, v3, v4, v5, v6, v7, v8, v9)"
                                 " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)"));
        for (int id = 1; id <= kRingSize; ++id) {
            q.bindValue(0, id);
            q.bindValue(1, 45356.0 + (id / 86400));
            q.bindValue(2, (id % 86400) / 86400.0);
            for (int j = 0; j < 10; ++j)
                q.bindValue(3 + j, double(id % 100 + j));
            q.exec();
        }
        db.commit();
    });
    std::printf("window load, full ring of %d rows (filled in %.0f ms, %d runs)\n", kRingSize, filling / 1000, runs);

    Buffer buffer{};
    const struct {
        const char *name;
        std::int32_t end;
    } cases[] = {{"inside the ring (E = 40000)", 40000}, {"wrapping (E = 100)", 100}};
    for (const auto &c : cases) {
        int rows = 0;
        for (int i = 0; i < 3; ++i)
            rows = loadWindow(db, buffer, c.end, kHistoryWindow);
        std::vector<double> t;
        for (int i = 0; i < runs; ++i)
            t.push_back(timeOnce([&] { rows = loadWindow(db, buffer, c.end, kHistoryWindow); }));
        std::printf("  %-30s %d rows  median %8.1f us\n", c.name, rows, median(t));
    }

    // The query alone: the form the chart runs now beside the one it ran
    // before the rows went in ring order.
    const struct {
        const char *name;
        std::int32_t end;
        QString before;
    } forms[] = {
        {"inside the ring (E = 40000)", 40000,
         QStringLiteral("select * from  pv_data where w_id  between 39680 and 40000 order by w_date,w_time")},
        {"wrapping (E = 100)", 100,
         QStringLiteral("select * from  pv_data where w_id not between 101 and 65279 order by w_date,w_time ")},
    };
    const auto runQuery = [&db](const QString &text) {
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.exec(text);
        int n = 0;
        while (q.next())
            n += q.value(0).toInt() > 0 ? 1 : 0;
        return n;
    };
    std::printf("window query alone, ring order / date and time order (medians, %d runs each)\n", runs);
    for (const auto &f : forms) {
        const QString now = windowQueryText(f.end, kHistoryWindow);
        std::vector<double> ring, dated;
        for (int i = 0; i < runs; ++i) {
            ring.push_back(timeOnce([&] { runQuery(now); }));
            dated.push_back(timeOnce([&] { runQuery(f.before); }));
        }
        std::printf("  %-30s %8.1f / %8.1f us  ratio %.3f\n", f.name, median(ring), median(dated),
                    median(ring) / median(dated));
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int repaintRuns = argc > 1 ? std::max(1, atoi(argv[1])) : 301;
    const int loadRuns = argc > 2 ? std::max(1, atoi(argv[2])) : 101;
    benchRepaint(repaintRuns);
    benchLoad(loadRuns);
    return 0;
}
