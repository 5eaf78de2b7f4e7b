// SPDX-License-Identifier: GPL-3.0-or-later
// The main buttons and links act on the largest map on screen.
#include <QDebug>

#include <set>

#include "app/appmodel.h"
#include "displays/displayview.h"
#include "maplib/chartview.h"
#include "maplib/mapcontrollable.h"
#include "maplib/quick/mapitem.h"

namespace {
std::set<int> MapTypes() {
    return {CDisplayViewQuickChart::kTypeId};
}
}  // namespace

// The zoom and follow buttons stay on pages without a map as long as some page of the set
// has one: they act on it, switching to its page.
bool CNavoraAppModel::hasMapItem() const {
    const CDisplayViewPageSet* set = m_layout ? m_layout->getPageSet() : nullptr;
    if (!set) return false;
    for (const auto& p : set->pages)
        if (p->FindLargestSettingsOfTypes(MapTypes())) return true;
    return false;
}

bool CNavoraAppModel::canAddMarks() const {
    return CQuickChartView::CanCreateMarks();
}

CDisplayView::CItem* CNavoraAppModel::FindLargestItemOfTypes(const std::set<int>& types, bool switchPage) {
    auto onCurrentPage = [&]() -> CDisplayView::CItem* {
        CDisplayView* page = m_layout->getCurrentPage();
        if (!page || !page->Window()) return nullptr;
        int area = 0;
        return page->FindLargestItemOfTypes(types, area);
    };
    if (CDisplayView::CItem* item = onCurrentPage()) return item;
    CDisplayViewPageSet* set = m_layout->getPageSet();
    if (!switchPage || !set) return nullptr;
    // The last page of the set that has one, as the user would find it going forward.
    CDisplayView* withItem = nullptr;
    for (const auto& p : set->pages)
        if (p->FindLargestSettingsOfTypes(types)) withItem = p.get();
    if (!withItem) return nullptr;
    transitionToPage(withItem);
    return onCurrentPage();
}

CDisplayViewQuickChart* CNavoraAppModel::FindLargestMapItem(bool switchPage) {
    return CDisplayViewQuickChart::FromItem(FindLargestItemOfTypes(MapTypes(), switchPage));
}

namespace {
template <class Fn>
void WithView(CDisplayViewQuickChart* item, Fn fn) {
    if (!item) return;
    if (CQuickChartView* view = item->View()) fn(*view, *item);
}
}  // namespace

void CNavoraAppModel::onPressPlusButton() {
    WithView(FindLargestMapItem(true), [](CQuickChartView& v, auto&) { v.SmoothZoom(-1); });
}
void CNavoraAppModel::onPressMinusButton() {
    WithView(FindLargestMapItem(true), [](CQuickChartView& v, auto&) { v.SmoothZoom(1); });
}
void CNavoraAppModel::onLongPressPlusButton() {
    WithView(FindLargestMapItem(true), [](CQuickChartView& v, auto&) { v.ChangeMapScale(-1); });
}
void CNavoraAppModel::onLongPressMinusButton() {
    WithView(FindLargestMapItem(true), [](CQuickChartView& v, auto&) { v.ChangeMapScale(1); });
}
void CNavoraAppModel::onPressUserButton() {
    WithView(FindLargestMapItem(true),
             [](CQuickChartView& v, CDisplayViewQuickChart& item) { v.LockOnToGPS(item.Hwnd(), true); });
}
void CNavoraAppModel::onLongPressUserButton() {
    WithView(FindLargestMapItem(false), [](CQuickChartView& v, auto&) { v.CreateNewMark(); });
}

bool CNavoraAppModel::ShowAreaOnTheMap(const CBounds& bounds) {
    if (!bounds.IsValid()) return false;
    // Any kind of map can show an area, not only the chart.
    IMapControllable* map =
        IMapControllable::FromItem(FindLargestItemOfTypes(IMapControllable::ControllableTypes(), true));
    return map && map->ShowAreaOnTheMap(bounds);
}

bool CNavoraAppModel::OpenChartInLargestMap(const std::string& path) {
    CDisplayViewQuickChart* item = FindLargestMapItem(true);
    if (!item) return false;
    item->openMapFile(path);
    return true;
}

bool CNavoraAppModel::GotoBestMapInLargestMap(double lat, double lon, double scale) {
    CDisplayViewQuickChart* item = FindLargestMapItem(true);
    CQuickChartView* view = item ? item->View() : nullptr;
    if (!view) return false;
    view->GotoBestMap(item->Hwnd(), lat, lon, scale, [](bool) {});
    return true;
}
