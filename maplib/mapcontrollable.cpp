// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/mapcontrollable.h"

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

IMapControllable::FindPlaceFunction& IMapControllable::findPlaceHook() {
    static FindPlaceFunction hook;
    return hook;
}
