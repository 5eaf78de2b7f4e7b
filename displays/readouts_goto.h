// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The navigation read-outs: values towards the current target and along the followed
// route, taken from CDataGotoMark publications. GUI thread only.

#include <string>

#include "overlays/gotomark.h"
#include "units/units.h"

class COverlayMark;

namespace NReadouts {

// Item type identifiers of the text read-outs.
enum GotoItemType : int {
    kGotoDistance = 22,
    kGotoBearing = 23,
    kGotoTurnAngle = 24,
    kGotoCrossTrack = 25,
    kGotoTimeToNext = 57,
    kGotoEtaNext = 58,
    kGotoDistToEnd = 59,
    kGotoTimeToEnd = 60,
    kGotoEtaEnd = 61,
    kGotoVmgLeg = 62,
    kGotoVmgMark = 63,
    kGotoTurnAfterMark = 64,
    kGotoWaypointName = 66,
    kGotoComingUp = 97,
    kGotoPercentAlong = 114,
};

// The value and units label of a read-out type for the navigation values; false when
// there is nothing to show (`units` is set all the same, so that the label stays).
bool FormatGotoValue(int type, const CUnits& u, const CDataGotoMark& g, std::string& value, std::string& units);

// What the Drop Mark button does: a new mark at the GPS position (null without one).
COverlayMark* DropMarkAtBoat();

}  // namespace NReadouts
