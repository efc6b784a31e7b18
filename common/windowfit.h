// The first show of a window on the screen it opens on.
//
// Layout windows (the main window, the configuration window) open at the size
// their content asks for when it fits the screen's available area. A window
// whose content does not fit is scaled as a whole first, as the program editor
// is: fonts, the sizes set by hand and the widgets placed by hand shrink by one
// factor, so the layout keeps its proportions and every control stays where
// the operator expects it. The main window's content (about 1500 x 925 px)
// needs (768 - 34) / 925 = 0.79 on a 1366 x 768 screen and (800 - 34) / 925 =
// 0.83 on 1280 x 800; its 9 pt text becomes 7.1 and 7.5 pt. Frames, arrows and
// the style's own margins do not shrink with it, so the factor is applied in up
// to three steps until the content fits. Only a content that does not fit even
// at kMinScale opens maximized, with its scroll area.
//
// Windows laid out in twips at 96 dpi (the program editor, 1302 x 781 px) are
// scaled as a whole when the screen is too small for them: every child keeps
// its place in twips, only the pixels per twip shrink. On a 1366 x 768 screen
// with a title bar of about 30 px the editor needs (768 - 30 - 4) / 781 = 0.94,
// on 1280 x 800 (1280 - 8) / 1302 = 0.98. Below kMinScale text gets too small
// to read; the window is then shown at that scale and may reach past the
// screen's edge.
#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>

class QScreen;
class QWidget;

namespace station {

// Room kept around a window for the window manager's frame before the first
// show, when the real frame is not known yet: a title bar of up to 30 px and
// borders of up to 4 px.
inline constexpr QMargins kFrameAllowance{4, 30, 4, 4};
inline constexpr double kMinScale = 0.6;

// Where a layout window wanting `content` pixels (client area) opens inside
// `available`: the client size, or maximized when it does not fit.
struct LayoutFit {
    QSize size;
    bool maximized = false;
};
LayoutFit fitLayoutWindow(QSize content, const QRect &available);

// The scale, at most 1 and at least kMinScale, at which a fixed client area of
// `client` pixels fits inside `available` with its frame.
double fitScale(QSize client, const QRect &available);

// The client area a window's content asks for: the window's size hint, with a
// scroll area inside it counted at the full size hint of the widget it scrolls.
QSize contentSizeHint(const QWidget *window);

// Scales a window laid out with layouts as a whole by factor: every font, every
// fixed size and every minimum or maximum size set by hand, the geometry of
// every child placed by hand, and the margins and spacing of every layout.
void scaleLayoutTree(QWidget *root, double factor);

// Scales a layout window (scaleLayoutTree) until contentSizeHint() fits inside
// available, not below kMinScale in all. Returns the factor applied in all.
double scaleLayoutToFit(QWidget *window, const QRect &available);

// Shows a layout window at contentSizeHint() on its screen, scaled to fit when
// it does not (scaleLayoutToFit), centred there, or maximized when it does not
// fit even so.
void showFitted(QWidget *window, QScreen *screen = nullptr);

// Multiplies the geometry of every child of root placed by hand (not by a
// layout), every fixed size and every font by factor, and fixes root at its
// scaled size. root must have a fixed size.
void scaleWidgetTree(QWidget *root, double factor);

// Shows a fixed-size window laid out by hand, scaled by fitScale() for its
// screen and centred there.
void showScaledToFit(QWidget *window, QScreen *screen = nullptr);

} // namespace station
