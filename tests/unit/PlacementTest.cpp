#include <gtest/gtest.h>

#include <vector>

#include "TestPrinters.h"
#include "settings/Placement.h"

namespace {

constexpr int kW = 274;  // the clock window
constexpr int kH = 178;

Rect ClockAt(int left, int top) { return Rect{left, top, left + kW, top + kH}; }

// Primary 1920x1080 with a bottom taskbar; a 1280x1024 monitor to its left
// with its own bottom bar.
const std::vector<MonitorArea> kTwoMonitors = {
    {Rect{0, 0, 1920, 1080}, Rect{0, 0, 1920, 1040}},
    {Rect{-1280, 0, 0, 1024}, Rect{-1280, 0, 0, 984}},
};

TEST(Placement, TwoMonitorDesktop)
{
    const struct { const char* what; Rect window; Point placed; } cases[] = {
        {"fully on the primary", ClockAt(100, 100), {100, 100}},
        {"fully on the left monitor", ClockAt(-900, 300), {-900, 300}},
        {"partly off the right edge", ClockAt(1800, 500), {1800, 500}},
        {"partly above the left monitor", ClockAt(-500, -100), {-500, -100}},
        {"over the taskbar only", ClockAt(500, 1050), {500, 1050}},
        {"one pixel on, bottom-right corner", ClockAt(1919, 1079), {1919, 1079}},
        {"wholly off to the left", ClockAt(-3000, 100), {-1280, 100}},
        {"off to the left and below", ClockAt(-3000, 2000), {-1280, 984 - kH}},
        {"off below the primary", ClockAt(500, 2000), {500, 1040 - kH}},
        {"off to the right", ClockAt(5000, 300), {1920 - kW, 300}},
        {"off above, hanging past the right", ClockAt(1800, -500), {1920 - kW, 0}},
        {"just beyond the right edge", ClockAt(1920, 100), {1920 - kW, 100}},
        {"larger than any work area", Rect{5000, 5000, 7000, 6200}, {0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlaceOnSomeMonitor(c.window, kTwoMonitors), c.placed) << c.what;
}

TEST(Placement, NearestIsByStraightLineDistance)
{
    // Window 100x100 at (1070,1070): 70 right of and 70 below A (about 99 away),
    // 120 above B. Summing the gaps would pick B.
    const Rect window{1070, 1070, 1170, 1170};
    const std::vector<MonitorArea> monitors = {
        {Rect{1070, 1290, 2070, 2290}, Rect{1070, 1290, 2070, 2290}},
        {Rect{0, 0, 1000, 1000}, Rect{0, 0, 1000, 1000}},
    };
    EXPECT_EQ(PlaceOnSomeMonitor(window, monitors), (Point{900, 900}));
}

TEST(Placement, EqualDistanceGoesToFirstListedMonitor)
{
    const Rect window{1050, 100, 1150, 200};  // 50 from each
    const MonitorArea a{Rect{0, 0, 1000, 1000}, Rect{0, 0, 1000, 1000}};
    const MonitorArea b{Rect{1200, 0, 2200, 1000}, Rect{1200, 0, 2200, 1000}};
    EXPECT_EQ(PlaceOnSomeMonitor(window, {a, b}), (Point{900, 100}));
    EXPECT_EQ(PlaceOnSomeMonitor(window, {b, a}), (Point{1200, 100}));
}

TEST(Placement, NoMonitorsKeepsPosition)
{
    EXPECT_EQ(PlaceOnSomeMonitor(ClockAt(-30000, 40000), {}), (Point{-30000, 40000}));
}

} // namespace
