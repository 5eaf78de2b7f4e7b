// SPDX-License-Identifier: GPL-3.0-or-later
// Digital selective calls: collected per station, finished by their expansion, and
// turned into marks with a notification for distress.

#include "navdata/dsc.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include "core/geometry.h"
#include "core/uiservices.h"
#include "navdata/gpsposition.h"
#include "overlays/markmanager.h"
#include "units/units.h"

namespace {

std::unique_ptr<CDSCTargetManager> s_manager;
std::unique_ptr<CDSC_to_Mark> s_marks;

template <class T>
double DispatchTime() {
    CDataSource* src = Listener<T>::pDatasource;
    return src ? src->Timestamp() : CDataSource::Now();
}

}  // namespace

std::string CDSCTarget::NatureText(int nature) {
    static const char* const kNatures[] = {"Fire",     "Flooding", "Collision",       "Grounding",
                                           "Listing",  "Sinking",  "Disabled",        "Distress",
                                           "Abandoning ship", "Piracy", "Man overboard"};
    if (nature >= 0 && nature < int(std::size(kNatures))) return kNatures[nature];
    char buf[32];
    std::snprintf(buf, sizeof buf, "Distress code %d", nature);
    return buf;
}

// ---------------------------------------------------------------------------------------
// Collecting calls

CDSCTargetManager::CDSCTargetManager() = default;
CDSCTargetManager::~CDSCTargetManager() = default;

void CDSCTargetManager::OnUpdate(CNMEA_DSC::DSC& dsc) {
    auto it = m_targets.find(dsc.mmsi);
    if (it == m_targets.end()) {
        it = m_targets.emplace(dsc.mmsi, CDSCTarget{}).first;
        ++m_pending;
    }
    CDSCTarget& t = it->second;
    t.mmsi = dsc.mmsi;
    t.lat = dsc.latitude;
    t.lon = dsc.longitude;
    t.quadrant = dsc.quadrant;
    t.course = 0;
    t.speed = 0;
    t.time = DispatchTime<CNMEA_DSC::DSC>();
    t.nature = dsc.format == 12 ? int(dsc.nature) : CDSCTarget::kNotDistress;
    m_awaiting[dsc.mmsi] = dsc.expansion;
    if (!dsc.expansion) Dispatch(dsc.mmsi);
}

void CDSCTargetManager::OnUpdate(CNMEA_DSC::DSE& dse) {
    auto it = m_targets.find(dse.mmsi);
    // An expansion belongs to the call before it: without one, or once it was applied,
    // there is nothing to refine (adding the same minutes twice would move the caller).
    auto waiting = m_awaiting.find(dse.mmsi);
    if (it == m_targets.end() || waiting == m_awaiting.end() || !waiting->second) return;
    CDSCTarget& t = it->second;
    if ((dse.flags & CNMEA_DSC::DSE::kEnhancedPosition) && t.HasPosition()) {
        const double dLat = dse.latitude_digits / 600000.0;
        const double dLon = dse.longitude_digits / 600000.0;
        t.lat += (t.quadrant & 2) ? -dLat : dLat;
        t.lon += (t.quadrant & 1) ? -dLon : dLon;
    }
    if (dse.flags & CNMEA_DSC::DSE::kCourse) t.course = dse.course;
    if (dse.flags & CNMEA_DSC::DSE::kSpeed) t.speed = dse.speed;
    if (dse.number == dse.total) {
        waiting->second = false;
        Dispatch(dse.mmsi);
    }
}

void CDSCTargetManager::Dispatch(uint32_t mmsi) {
    auto it = m_targets.find(mmsi);
    if (it == m_targets.end()) return;
    if (m_pending > 0) --m_pending;
    Listener<CDSCTarget>::Publish(it->second);
}

// ---------------------------------------------------------------------------------------
// Marks

CDSC_to_Mark::CDSC_to_Mark(const COverlayGPSPosition* own) : m_own(own) {}

void CDSC_to_Mark::Start() {
    if (!s_manager) s_manager = std::make_unique<CDSCTargetManager>();
    if (!s_marks) s_marks = std::make_unique<CDSC_to_Mark>();
}

void CDSC_to_Mark::Stop() {
    s_marks.reset();
    s_manager.reset();
}

void CDSC_to_Mark::OnUpdate(CDSCTarget& t) {
    if (!g_mark_manager) return;
    char name[32];
    std::snprintf(name, sizeof name, "DSC:%u", t.mmsi);
    COverlayMark* mark = g_mark_manager->FindMark(name);
    std::unique_ptr<COverlayMark> made;
    if (!mark) {
        made = std::make_unique<COverlayMark>();
        mark = made.get();
    }
    mark->setName(name);
    mark->SetModifiedNow();
    mark->SetIcon("X", t.IsDistress() ? mark->getColor() : GraphicsColor(0, 255, 0));
    // A call without a position still names the caller; the map does not show it.
    mark->SetPosition(t.lat, t.lon);

    std::string text;
    double distance = -1;
    if (t.IsDistress()) {
        text = CDSCTarget::NatureText(t.nature);
        const COverlayGPSPosition& own = m_own ? *m_own : COverlayGPSPosition::theLatestPosition;
        if (own.HasPosition() && t.HasPosition()) {
            distance = CSimpleGrid(own.lat, own.lon).Distance(own.lat, own.lon, t.lat, t.lon);
            std::string away;
            CDefaultUnits::u.FormatDistance(distance, away);
            text += "\n" + away + " away";
        }
        mark->setDescription(text);
    }
    if (made) {
        mark = g_mark_manager->AddMark(std::move(made));  // dispatched as it joins
    } else {
        g_mark_manager->SetMarksChanged();
        mark->Dispatch(COverlayObject::UPDATE_CHANGED);
    }
    if (!mark || !t.IsDistress()) return;
    ShowSystemNotification("-" + std::to_string(t.mmsi), "DSC Distress Call", text);
    if (distance >= 0 && distance < kGotoRange && g_mark_manager->Target() != mark) g_mark_manager->SetGoto(mark);
}
