// The trend chart's logic: the buffer, the view state and the sequences that
// change them (window load, history load, live append, repaint), drawing on a
// canvas and announcing label texts. No widgets: the TrendChart component puts
// the texts into its labels, tests attach a recording canvas.
//
// Every sequence runs its steps in a continue-on-error way: a step that fails
// (no database, a slot outside the buffer, a 16-bit overflow) is skipped and the
// next one runs; nothing is reported beyond the station.chart log category.
#pragma once

#include "chart/buffer.h"
#include "chart/labels.h"
#include "chart/viewstate.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <array>
#include <functional>

namespace station {
class Clock;
struct SampleFlags;
namespace draw {
class Canvas;
}
} // namespace station

namespace station::chart {

class Chart : public QObject {
    Q_OBJECT
public:
    // The clock dates appended live samples (tests pass a fake one).
    explicit Chart(const Clock &clock, QObject *parent = nullptr);
    Chart();

    Buffer &buffer() { return m_buffer; }
    const Buffer &buffer() const { return m_buffer; }
    ViewState &view() { return m_view; }
    const ViewState &view() const { return m_view; }

    // Where the chart draws (the plot `pt`); without a canvas drawing is skipped.
    void setCanvas(draw::Canvas *canvas) { m_canvas = canvas; }
    draw::Canvas *canvas() const { return m_canvas; }
    // The main window's own database connection, asked for before every read
    // (the main window passes sampledb::openMainWindowConnection, which reopens
    // a connection whose file was replaced). Without one every read fails.
    using DatabaseSource = std::function<QSqlDatabase()>;
    void setDatabase(DatabaseSource source) { m_database = std::move(source); }
    // The same with an already opened connection, by its name.
    void setConnectionName(const QString &name);
    // Whether the live sample appended now was measured (the main window asks
    // its link state: answering is live, closed or silent is not). Without a
    // source appended samples are of unknown state and draw as live ones.
    using LivenessSource = std::function<Liveness()>;
    void setLiveness(LivenessSource source) { m_liveness = std::move(source); }

    // The chart's share of the main window load, in three steps that the load
    // runs in this order (windowLoad() runs all three):
    //  initView:       Y span 60, pages back 0, at-oldest flag cleared, gap marks
    //                  of slots 1..321 cleared, zoom level 1;
    //  startLiveWindow: newest id read from the control table; window end = newest,
    //                  window length, mark end and curve end 241;
    //  loadAndRepaint: ruler mode off, window loaded, chart repainted.
    void initView();
    void startLiveWindow();
    void loadAndRepaint();
    void windowLoad();

    // Reads the newest id and its copy from the control table; a failed read
    // leaves them unchanged. Returns whether the newest id was read.
    bool readNewestId();
    // Loads the window (window end id, window length) into the buffer and
    // announces the date and time of slot first slot + 1. Returns rows read.
    int loadWindow();

    // The repaint sequence and its steps, in this order.
    void repaint();
    void clearAndDrawGrid();
    void applyZoom();
    void drawLabelsMarksPens();

    // On a tick that finds the new-sample flag raised: mark end and curve end
    // +1; in the live window (length 241), at or past the right edge (mark end
    // 241 + 20 x zoom) the newest window is reloaded and the ends go back to
    // 241; the sample goes into slot curve end, dated by the clock, with the
    // liveness of the source and its gap mark; the flag is cleared and the
    // chart repainted. Does nothing while the flag is down. Returns whether a
    // sample was appended.
    bool liveAppend(const std::array<float, kRecordedColumns> &sample, SampleFlags &flags);
    // Whether the next append reaches the right edge and reloads.
    bool appendReloads() const;

    // Texts of Label5 for the process-wide Y range.
    std::array<QString, kScaleLabelCount> leftScale() const;

signals:
    // Label4 / Label7 texts after every label step.
    void timeLabelsChanged(const station::chart::TimeLabels &labels);
    // Texts for the top-right date and time labels (Label2 9 and 10) after a load.
    void windowDateTimeChanged(const QString &date, const QString &time);
    // After every completed repaint sequence (the picture is complete).
    void repainted();

private:
    QSqlDatabase database() const;

    const Clock &m_clock;
    Buffer m_buffer{};
    ViewState m_view;
    draw::Canvas *m_canvas = nullptr;
    DatabaseSource m_database;
    LivenessSource m_liveness;
};

} // namespace station::chart
