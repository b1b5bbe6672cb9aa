#pragma once

#include <vector>

#include "ui/Geometry.h"

struct MonitorArea {
    Rect monitor;  // the whole monitor
    Rect work;     // the monitor less the taskbar and docked bars
};

// Where to put a window whose stored position is `window` (left, top and
// size). A window that overlaps any monitor, even partly, stays where it was
// stored. One that would lie on no monitor at all is moved onto the work area
// of the nearest monitor (smallest distance between the window and monitor
// rectangles; the first listed wins a tie) and clamped to lie inside it, the
// left and top edges winning when the window is larger than the work area.
// With no monitors the position is kept.
Point PlaceOnSomeMonitor(const Rect& window, const std::vector<MonitorArea>& monitors);
