#pragma once

// Readable failure output for the core's small structs.

#include <ostream>

#include "ui/Geometry.h"

inline void PrintTo(const Point& p, std::ostream* os)
{
    *os << "(" << p.x << ", " << p.y << ")";
}

inline void PrintTo(const Rect& r, std::ostream* os)
{
    *os << "(" << r.left << ", " << r.top << ")-(" << r.right << ", " << r.bottom << ")";
}

inline void PrintTo(const RoundRectShape& s, std::ostream* os)
{
    PrintTo(s.rect, os);
    *os << " ellipse " << s.ellipse;
}
