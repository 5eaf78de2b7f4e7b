// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <Qt>

#include "core/geometry.h"

// How routes and tracks draw their lines: the five patterns a user picks from, in the
// order the files store them.
inline Qt::PenStyle PenStyleOf(int pattern) {
    switch (pattern) {
        case 1:
            return Qt::DashLine;
        case 2:
            return Qt::DotLine;
        case 3:
            return Qt::DashDotLine;
        case 4:
            return Qt::DashDotDotLine;
        default:
            return Qt::SolidLine;
    }
}

// A point not yet projected onto the map (the projection leaves it at the origin).
inline bool IsPlaceholder(const DblPoint& p) {
    return p.x == 0 && p.y == 0;
}
