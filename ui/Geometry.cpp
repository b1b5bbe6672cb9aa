#include "ui/Geometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>

RoundRectShape ShapeRoundRect(int width, int height, int penWidth)
{
    const int inset = penWidth / 2;
    const int w = penWidth == 0 ? width : width - penWidth + 1;
    const int h = penWidth == 0 ? height : height - penWidth + 1;
    return RoundRectShape{Rect{inset, inset, inset + w, inset + h}, std::min(w, h) / 4};
}

int MulDivRound(int value, int numerator, int denominator)
{
    if (denominator == 0)
        return -1;
    std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    const std::int64_t half = divisor / 2;
    const std::int64_t result = product >= 0 ? (product + half) / divisor : (product - half) / divisor;
    if (result > std::numeric_limits<int>::max() || result < -std::numeric_limits<int>::max())
        return -1;
    return static_cast<int>(result);
}

int ScaleFontHeightForDpi(int fontHeight, int dpi)
{
    return MulDivRound(fontHeight, dpi, 96);
}

Rect ScaleRect(const Rect& r, int numerator, int denominator)
{
    return Rect{MulDivRound(r.left, numerator, denominator), MulDivRound(r.top, numerator, denominator),
                MulDivRound(r.right, numerator, denominator), MulDivRound(r.bottom, numerator, denominator)};
}
