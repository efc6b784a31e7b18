// Window geometry is laid out in twips; the station shows it at 15 twips per
// pixel (96 dpi), so the editor's client area of 19530 x 11715 twips is
// 1302 x 781 pixels. Odd sizes round halves to even, like every conversion.
#pragma once

#include "common/numbers.h"

#include <QRect>
#include <QSize>

namespace station::program::ui {

inline constexpr double kTwipsPerPixel = 15;

inline int twips(int t)
{
    return int(roundHalfEven(t / kTwipsPerPixel));
}

inline QRect twipsRect(int left, int top, int width, int height)
{
    return {twips(left), twips(top), twips(width), twips(height)};
}

inline QSize twipsSize(int width, int height)
{
    return {twips(width), twips(height)};
}

} // namespace station::program::ui
