#include <gtest/gtest.h>

#include <climits>

#include "TestPrinters.h"
#include "ui/Geometry.h"

namespace {

TEST(Geometry, RoundRectShapeInsetSizeAndCorner)
{
    const struct { int w; int h; int pen; RoundRectShape shape; } cases[] = {
        {258, 161, 1, {{0, 0, 258, 161}, 40}},  // the panel
        {258, 161, 0, {{0, 0, 258, 161}, 40}},
        {258, 161, 2, {{1, 1, 258, 161}, 40}},
        {258, 161, 3, {{1, 1, 257, 160}, 39}},
        {100, 300, 1, {{0, 0, 100, 300}, 25}},  // the smaller side sets the corner
        {7, 7, 1, {{0, 0, 7, 7}, 1}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ShapeRoundRect(c.w, c.h, c.pen), c.shape) << c.w << "x" << c.h << " pen " << c.pen;
}

TEST(Geometry, MulDivRoundsHalfAwayFromZero)
{
    const struct { int value; int num; int den; int result; } cases[] = {
        {-11, 120, 96, -14},  // -13.75
        {-11, 144, 96, -17},  // -16.5
        {11, 144, 96, 17},    // 16.5
        {3, 1, 2, 2},         {-3, 1, 2, -2},
        {5, 1, 4, 1},         {7, 1, 4, 2},
        {10, 1, -4, -3},      {-10, 1, -4, 3},
        {100000, 100000, 100000, 100000},  // product needs 64 bits
        {1, 1, 0, -1},                     // like MulDiv: no divisor
        {INT_MAX, 2, 1, -1},               // like MulDiv: result does not fit
    };
    for (const auto& c : cases)
        EXPECT_EQ(MulDivRound(c.value, c.num, c.den), c.result) << c.value << "*" << c.num << "/" << c.den;
}

TEST(Geometry, FontHeightFollowsDpi)
{
    const struct { int height; int dpi; int scaled; } cases[] = {
        {-11, 96, -11}, {-11, 120, -14}, {-11, 144, -17},
        {-56, 96, -56}, {-56, 120, -70}, {-56, 144, -84},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ScaleFontHeightForDpi(c.height, c.dpi), c.scaled) << c.height << " at " << c.dpi;
}

TEST(Geometry, ScaleRectRoundsEachEdgeOnItsOwn)
{
    // The panel on the window, for a "0" 16 pixels high instead of 13: the
    // width becomes 317 although 258 * 16 / 13 rounds to 318.
    const Rect scaled = ScaleRect(Rect{8, 8, 266, 169}, 16, 13);
    EXPECT_EQ(scaled, (Rect{10, 10, 327, 208}));
    EXPECT_EQ(scaled.width(), 317);
    EXPECT_EQ(scaled.height(), 198);

    EXPECT_EQ(ScaleRect(Rect{-5, -5, 5, 5}, 3, 2), (Rect{-8, -8, 8, 8}));
    EXPECT_EQ(ScaleRect(Rect{30, 22, 48, 90}, 13, 13), (Rect{30, 22, 48, 90}));
}

} // namespace
