// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The owners of overlay objects (marks and routes, tracks, AIS targets) register here, so
// that a map that starts listening to overlay changes can be told about every object that
// exists already. GUI thread only.

#include "core/pubsub.h"
#include "overlays/overlayobject.h"

class IOverlaySource {
public:
    virtual ~IOverlaySource() = default;
    // Calls listener.OnUpdate for every live object of this owner.
    virtual void ReportAllObjects(Listener<COverlayObject>& listener) = 0;

    // Not owned; an owner unregisters itself before it goes.
    static void Register(IOverlaySource* source);
    static void Unregister(IOverlaySource* source);
    // Every registered owner reports to `listener`, in the order they registered.
    static void ReportAll(Listener<COverlayObject>& listener);
};
