#include "settings/Placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

bool Overlaps(const Rect& a, const Rect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

// Squared distance between two rectangles; 0 when they touch or overlap.
std::int64_t GapSquared(const Rect& a, const Rect& b)
{
    const std::int64_t dx = std::max<std::int64_t>({0, std::int64_t{b.left} - a.right, std::int64_t{a.left} - b.right});
    const std::int64_t dy = std::max<std::int64_t>({0, std::int64_t{b.top} - a.bottom, std::int64_t{a.top} - b.bottom});
    return dx * dx + dy * dy;
}

// The start of a span of `size` within [low, high); low wins when it does not fit.
int ClampSpan(int start, int size, int low, int high)
{
    if (start > high - size)
        start = high - size;
    if (start < low)
        start = low;
    return start;
}

} // namespace

Point PlaceOnSomeMonitor(const Rect& window, const std::vector<MonitorArea>& monitors)
{
    const Point stored{window.left, window.top};
    if (monitors.empty())
        return stored;

    // A window without area is judged by its top-left pixel.
    Rect probe = window;
    probe.right = std::max(probe.right, probe.left + 1);
    probe.bottom = std::max(probe.bottom, probe.top + 1);

    const MonitorArea* nearest = nullptr;
    std::int64_t nearestGap = std::numeric_limits<std::int64_t>::max();
    for (const MonitorArea& area : monitors) {
        if (Overlaps(probe, area.monitor))
            return stored;
        const std::int64_t gap = GapSquared(probe, area.monitor);
        if (gap < nearestGap) {
            nearestGap = gap;
            nearest = &area;
        }
    }

    const Rect& work = nearest->work;
    return Point{ClampSpan(window.left, window.width(), work.left, work.right),
                 ClampSpan(window.top, window.height(), work.top, work.bottom)};
}
