// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/overlaysource.h"

#include <algorithm>
#include <vector>

#include "core/threadcheck.h"

namespace {
std::vector<IOverlaySource*>& Sources() {
    // Never destroyed: sources owned by globals unregister during the program's exit.
    static auto* sources = new std::vector<IOverlaySource*>;
    return *sources;
}
}  // namespace

void IOverlaySource::Register(IOverlaySource* source) {
    NV_ASSERT_GUI_THREAD();
    auto& s = Sources();
    if (source && std::find(s.begin(), s.end(), source) == s.end()) s.push_back(source);
}

void IOverlaySource::Unregister(IOverlaySource* source) {
    NV_ASSERT_GUI_THREAD();
    auto& s = Sources();
    s.erase(std::remove(s.begin(), s.end(), source), s.end());
}

void IOverlaySource::ReportAll(Listener<COverlayObject>& listener) {
    NV_ASSERT_GUI_THREAD();
    // A copy: reporting may create or destroy owners (a view opening a tool).
    const std::vector<IOverlaySource*> sources = Sources();
    for (IOverlaySource* s : sources)
        if (std::find(Sources().begin(), Sources().end(), s) != Sources().end()) s->ReportAllObjects(listener);
}
