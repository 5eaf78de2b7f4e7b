// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One position that every map marks at once: a point picked on a profile or in a list
// is shown on all maps. Published through Listener<CGlobalLatLongHighlight>; a latitude
// below -90 means that nothing is highlighted. GUI thread only.

#include "core/pubsub.h"

struct CGlobalLatLongHighlight {
    static constexpr double kNone = -999.0;

    double lat = kNone;
    double lon = 0;

    bool IsActive() const { return lat >= -90.0 && lat <= 90.0; }

    // The current highlight, as last published.
    static CGlobalLatLongHighlight& Current() {
        static CGlobalLatLongHighlight current;
        return current;
    }
    static void Show(double lat, double lon) {
        Current().lat = lat;
        Current().lon = lon;
        Listener<CGlobalLatLongHighlight>::Publish(Current());
    }
    static void Clear() { Show(kNone, 0); }
};
