// Chart navigation: zoom, paging through the recorded history, the ruler cursor
// and the Y-range edit, by button or by key. The logic works on the Chart (its
// buffer, view state and drawing sequences); the window's controls are reached
// through NavigationView, which the main window implements and tests fake.
//
// Paging. A page is 60 samples. With P pages back and newest id n the window
// ends at n - 60P, or at 65500 - (60P - n) when that passes the start of the ring
// of ids. A step back is refused when n > 60P and n - 60P <= 321 (the window
// would reach the oldest records of a ring that has not wrapped): the window
// stays, pages back keeps its new value and the at-oldest flag is set, so the
// next step forward shows the same window again.
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
    // The cursor's sample: Label2 9 and 10, D_3W 0..7 (yellow backgrounds).
    virtual void showCursorSample(const QString &date, const QString &time,
                                  const std::array<QString, 8> &values) = 0;
};

// Where a window ends after pages back p from the newest id (ring of ids 1..65500).
std::int32_t windowEndFor(std::int32_t newestId, std::int16_t pagesBack);
// Whether stepping back to pages back p is refused for that newest id.
bool stepBackRefused(std::int32_t newestId, std::int16_t pagesBack);

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

    enum class Key { F1, F2, F3, F4, F5, F6, F7 };
    // A function key pressed in the main window, with its guard; returns
    // whether the key was one of the chart's (F3 and F5 are, and do nothing).
    bool key(Key key);

private:
    void redraw();
    void loadAndRedraw();

    Chart &m_chart;
    NavigationView &m_view;
};

} // namespace station::chart
