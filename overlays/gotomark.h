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
    static constexpr double kNoRange = 999.0;      // range when navigation is cancelled
    static constexpr double kNoDirection = 999.0;  // any bearing of 900 or more means none

    // Identity of the target mark (a key that stays the same while the mark lives); 0
    // when there is no target.
    uint64_t target_id = 0;
    std::string name;  // the mark's name as the user sees it

    double latitude = 0;   // of the target, decimal degrees
    double longitude = 0;  // of the target, decimal degrees

    double range = kNoRange;  // metres from the GPS position to the target
    double bearing = 0;       // degrees true from the GPS position to the target
    // Metres off the leg being followed: positive when the boat is to the right of the
    // leg (looking along it towards the target), negative to the left. The autopilot
    // sentence writes "R" for positive values and "L" for negative ones.
    double cross_track_error = 0;
    // Unit vector from the GPS position towards the target: x east, y north.
    double unit_x = 0;
    double unit_y = 0;

    // The leg: from its start point to the target, in metres east (x) and north (y),
    // with its length (0 when there is no usable leg, 5 m or less).
    double leg_x = 0;
    double leg_y = 0;
    double leg_length = 0;

    // Velocity made good in knots: along the leg, and straight towards the target.
    double vmg_leg = 0;
    double vmg_mark = 0;
    // Seconds to the target at the speed made good along the leg; 0 when not closing.
    double time_to_next = 0;

    // Identity of the route being followed, 0 when going straight to a single mark.
    uint64_t route_id = 0;
    int route_leg = -1;  // index of the target in the route, -1 without a route
    int route_points = 0;
    // Metres of route after the target, and the whole route's length.
    double route_remaining = 0;
    double route_length = 0;
    // The waypoint after the target and the bearing of the leg to it (kNoDirection when
    // the target ends the route).
    std::string next_name;
    double next_leg_bearing = kNoDirection;

    // The boat when the values were computed: speed over ground in knots, course over
    // ground in degrees (kNoDirection when unknown), and the time (seconds since the epoch).
    double speed = 0;
    double course = kNoDirection;
    double time = 0;

    bool HasTarget() const { return target_id != 0; }
    bool HasRange() const { return HasTarget() && range != kNoRange; }
    // Metres from the boat to the end of the route (to the target without a route).
    double DistanceToEnd() const { return range + route_remaining; }
};
