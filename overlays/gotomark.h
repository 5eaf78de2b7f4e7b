// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The navigation values towards the current target mark, published to
// Listener<CDataGotoMark> by the goto logic on every change (GUI thread). Consumers are
// the navigation read-outs and the autopilot output. Plain data: the target is named by
// its identity rather than by a pointer, so a consumer never holds on to a mark that may
// be deleted after the publication.

#include <cstdint>
#include <string>

struct CDataGotoMark {
    // Identity of the target mark (its sync identity or any other stable key); 0 when
    // there is no target.
    uint64_t target_id = 0;
    std::string name;  // the mark's name as the user sees it

    double latitude = 0;   // of the target, decimal degrees
    double longitude = 0;  // of the target, decimal degrees

    double range = 0;    // metres from the GPS position to the target
    double bearing = 0;  // degrees true from the GPS position to the target
    // Metres off the leg being followed, signed by the way back: negative when the boat
    // must steer left to regain the leg (it is right of it), positive to steer right.
    double cross_track_error = 0;
    // Unit vector from the GPS position towards the target: x east, y north.
    double unit_x = 0;
    double unit_y = 0;

    // Identity of the route being followed, 0 when going straight to a single mark.
    uint64_t route_id = 0;
    int route_leg = -1;  // index of the target in the route, -1 without a route

    bool HasTarget() const { return target_id != 0; }
};
