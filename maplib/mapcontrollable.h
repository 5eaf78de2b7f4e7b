// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the application asks of any item that shows a map (the 2-D chart item, and the
// 3-D view when it exists): show an area, tell where it is looking, and search places
// around it. The item types that implement it register their type ids here so that the
// application can look for "the largest map on the page" without knowing them.
//
// GUI thread only.

#include <functional>
#include <set>
#include <string>

#include "core/geometry.h"
#include "core/uiservices.h"
#include "displays/displayview.h"

class IMapControllable {
public:
    static constexpr int kMap2DTypeId = 111;
    static constexpr int kMap3DTypeId = 116;  // reserved for the 3-D view
    static constexpr double kNoLocation = 999.0;

    virtual ~IMapControllable() = default;

    // Moves the map so that the area (x = longitude, y = latitude) is in view; false
    // when the item cannot show anything.
    virtual bool ShowAreaOnTheMap(const CBounds& bounds) = 0;
    // The position at the centre of the map; 999, 999 when the map shows no position.
    virtual void GetCurrentlyViewedLocation(double& lat, double& lon) = 0;
    // Fetches the place index belonging to the shown chart and opens the place search.
    virtual void GetAssocAndFindPlace(const NV_HWND& window) = 0;

    // The item types whose live items implement this interface.
    static const std::set<int>& ControllableTypes();
    static void RegisterControllableType(int typeId);
    // The interface of a live item, or null when the item is not a map.
    static IMapControllable* FromItem(CDisplayView::CItem* item);

    // Registers a type at static initialisation.
    struct Registrar {
        explicit Registrar(int typeId) { RegisterControllableType(typeId); }
    };

    // The application's place search ("FindPlace" page): the place index file (empty
    // when there is none) and the position to search around.
    static CPageRequest FindPlaceRequest(const std::string& indexFile, double lat, double lon);
};
