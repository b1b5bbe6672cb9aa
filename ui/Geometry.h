#pragma once

// Integer geometry of the window: the panel's rounded rectangle and the
// arithmetic of rescaling for screen density. Right and bottom edges are
// exclusive, as in Win32 RECTs.

struct Point {
    int x;
    int y;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int left;
    int top;
    int right;
    int bottom;
    int width() const { return right - left; }
    int height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

struct RoundRectShape {
    Rect rect;    // in the shape's own coordinates
    int ellipse;  // width and height of the corner ellipse
    friend bool operator==(const RoundRectShape&, const RoundRectShape&) = default;
};

// A rounded-rectangle shape of width x height drawn with a pen of penWidth:
// inset penWidth/2, size W-p+1 by H-p+1 (W by H for p = 0), corner ellipse a
// quarter of the smaller side.
RoundRectShape ShapeRoundRect(int width, int height, int penWidth);

// value * numerator / denominator with a 64-bit product, rounded half away
// from zero, as Win32 MulDiv; -1 when denominator is 0 or the result does not
// fit in an int.
int MulDivRound(int value, int numerator, int denominator);

// A font height (negative: character height) scaled from 96 dpi to dpi.
int ScaleFontHeightForDpi(int fontHeight, int dpi);

// Each edge scaled and rounded on its own, so a size may change by one pixel
// more or less than the scaled size.
Rect ScaleRect(const Rect& r, int numerator, int denominator);
