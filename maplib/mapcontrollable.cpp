// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/mapcontrollable.h"

#include <cstdio>

namespace {
// Function-local so that registrations from other translation units' static
// initialisers never meet an unconstructed set.
std::set<int>& Types() {
    static std::set<int> types;
    return types;
}
}  // namespace

const std::set<int>& IMapControllable::ControllableTypes() {
    return Types();
}

void IMapControllable::RegisterControllableType(int typeId) {
    Types().insert(typeId);
}

IMapControllable* IMapControllable::FromItem(CDisplayView::CItem* item) {
    return dynamic_cast<IMapControllable*>(item);
}

CPageRequest IMapControllable::FindPlaceRequest(const std::string& indexFile, double lat, double lon) {
    char la[32], lo[32];
    std::snprintf(la, sizeof la, "%.9f", lat);
    std::snprintf(lo, sizeof lo, "%.9f", lon);
    return {"FindPlace", {{"index", indexFile}, {"lat", la}, {"lon", lo}}};
}
