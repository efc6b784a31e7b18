// Colours the windows share.
#pragma once

#include <QColor>

namespace station::colors {

inline const QColor kLightCyan{192, 255, 255};   // inactive state labels, value labels, plot background
inline const QColor kPink{255, 192, 255};        // active state labels, process values
inline const QColor kClockGreen{128, 255, 128};  // date and time labels in live view
inline const QColor kCursorYellow{255, 255, 0};  // labels showing the ruler cursor's sample
inline const QColor kReadBack{255, 224, 192};    // program editor read-back labels
inline const QColor kLinkLost{255, 0, 0};        // the link-state label while the line is silent

} // namespace station::colors
