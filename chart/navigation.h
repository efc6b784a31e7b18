// Chart navigation: zoom, paging through the recorded history, the ruler cursor
// and the Y-range edit, by button or by key. The logic works on the Chart (its
// buffer, view state and drawing sequences); the window's controls are reached
// through NavigationView, which the main window implements and tests fake.
//
// Paging. A page is 60 samples. With P pages back and newest id n the window
// ends at n - 60P, or at 65500 - (60P - n) when that passes the start of the ring
// of ids (60P is computed in 32 bits: the whole ring is about 1092 pages). The
// 321-sample window then reaches 60P + 320 rows behind the newest. The rows
// stored are ids 1..n until the ring wraps, and all 65500 once it has (a row
// with an id above n exists). A step back is refused when 60P + 321 reaches the
// number of rows stored: the window would run past the oldest stored row, into
// ids that hold nothing or, in a full ring, over the newest rows again.
//
//   young ring, n = 1000:  P = 11 ends at 340; P = 12 (720 + 321 >= 1000) refused
//   young ring, n = 50:    P = 1 refused at once
//   full ring,  n = 1000:  P = 12 ends at 280 (ids 65460..65500 and 1..280),
//                          P = 17 at 65480, P = 1086 at 1340 (ids 1020..1340,
//                          the oldest window); P = 1087 refused
//
// Every step back first reads the newest id afresh (a full ring overwrites its
// oldest rows while the operator pages); steps forward measure from the id read
// last.
//
// On a refusal the window stays, pages back keeps its new value and the
// at-oldest flag is set, so the next step forward shows the same window again.
// Every return to the live view clears the flag and enables the step back, as
// the ring may have grown since. A step forward passes over windows that would
// now run past the oldest row (after a refusal from the live view left pages
// back ahead again), so no window holding missing rows is ever loaded.
#pragma once

#include "chart/draw/canvas.h"

#include <QLineF>
#include <QString>
#include <array>
#include <cstdint>

namespace station::chart {

class Chart;

// What the navigation changes in the window.
class NavigationView {
public:
    virtual ~NavigationView() = default;
    virtual void setZoomInEnabled(bool on) = 0;      // Command3 "F2 放大"
    virtual void setZoomOutEnabled(bool on) = 0;     // Command4 "F1 缩小"
    virtual void setPageForwardEnabled(bool on) = 0; // Command7 "F6 左移"
    virtual void setPageBackEnabled(bool on) = 0;    // Command8 "F7 右移"
    virtual bool pageBackEnabled() const = 0;
    virtual void setLiveTimerRunning(bool on) = 0;   // timer 1
    virtual void setSliderValue(int value) = 0;      // hc
    virtual void setSliderSteps(int step) = 0;       // small and large change
    virtual void setSliderEnabled(bool on) = 0;
    virtual void setSliderTabStop(bool on) = 0;
    virtual void focusSlider() = 0;
    virtual void focusRulerButton() = 0;
    virtual void setRulerCaption(const QString &caption) = 0; // Command5
    virtual void showCursorLine(const QLineF &line, const draw::Pen &pen) = 0; // Line1
    // The cursor's sample: its date, time and value columns 0..7 (empty texts
    // where the slot holds no sample or no live values).
    virtual void showCursorSample(const QString &date, const QString &time,
                                  const std::array<QString, 8> &values) = 0;
    // Ruler mode ended: the cursor's sample is shown no more.
    virtual void hideCursorSample() = 0;
    virtual void showSampleStep(float step) = 0;     // Label12
    virtual void refreshLeftScale() = 0;             // Label5 0..6 from the Y range
};

// Where a window ends after pages back p from the newest id (ring of ids 1..65500).
std::int32_t windowEndFor(std::int32_t newestId, std::int32_t pagesBack);
// Whether the window of pages back p would run past the oldest stored row (or
// end outside the ring of ids), for that newest id and whether the ring is full.
bool stepBackRefused(std::int32_t newestId, std::int32_t pagesBack, bool ringFull);

// The Y-range edit: the leading numbers of the Y maximum and Y minimum texts.
// Returns false (and changes nothing) when refused.
bool applyYRange(const QString &maximumText, const QString &minimumText);

class Navigation {
public:
    static constexpr int kSliderLeftEnd = -1;
    static constexpr int kSliderRightEnd = 12001;
    static constexpr double kCursorTop = 0;
    static constexpr double kCursorBottom = 7500;
    static constexpr double kCursorParkedBottom = 330;

    Navigation(Chart &chart, NavigationView &view) : m_chart(chart), m_view(view) {}

    void zoomIn();       // "F2 放大"
    void zoomOut();      // "F1 缩小"
    void pageBack();     // "F7 右移"
    void pageForward();  // "F6 左移"
    void toggleRuler();  // "F4 标尺" / "F4 复原"
    void rulerOn();
    void rulerOff();
    // A change of the slider to x (-1..12001).
    void cursorMoved(int x);
    // "修改Y": the Y-range edit, then the left scale at once, in every view.
    void changeYRange(const QString &maximumText, const QString &minimumText);

    enum class Key { F1, F2, F3, F4, F5, F6, F7 };
    // A function key pressed in the main window, with its guard; returns
    // whether the key was one of the chart's (F3 and F5 are, and do nothing).
    bool key(Key key);

private:
    void redraw();
    void loadAndRedraw();
    void enablePageBack();

    Chart &m_chart;
    NavigationView &m_view;
};

} // namespace station::chart
