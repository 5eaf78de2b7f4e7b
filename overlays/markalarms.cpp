// SPDX-License-Identifier: GPL-3.0-or-later
// The alarms of marks and routes: proximity and anchor circles, geofence and exclusion
// areas, the cross-track limit, and the loss of the GPS fix while at anchor.
#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>
#include <string>

#include "core/heartbeat.h"
#include "core/uiservices.h"
#include "overlays/markmanager.h"
#include "units/units.h"

namespace {

double Distance(double lat1, double lon1, double lat2, double lon2) {
    double s = 0;
    GeographicLib::Geodesic::WGS84().Inverse(lat1, lon1, lat2, lon2, s);
    return std::isfinite(s) ? s : 1e300;
}

std::string IdOf(const COverlayObject* object) {
    return std::to_string(object->OrderKey());
}

std::string FormatDistance(double metres) {
    std::string text;
    CDefaultUnits::u.FormatDistance(metres, text);
    return text;
}

}  // namespace

void CMarkManager::Raise(const std::string& id, const std::string& title, const std::string& text) {
    m_activeAlarms[id] = title;
    ShowSystemNotification(id, title, text);
    m_alarmLog.Append(CHeartbeat::Timestamp(), true, title, text, m_fix.valid ? m_fix.lat : 999.0,
                      m_fix.valid ? m_fix.lon : 999.0);
}

void CMarkManager::Clear(const std::string& id, const std::string& text) {
    auto it = m_activeAlarms.find(id);
    if (it == m_activeAlarms.end()) return;
    const std::string title = it->second;
    m_activeAlarms.erase(it);
    CancelSystemNotification(id);
    m_alarmLog.Append(CHeartbeat::Timestamp(), false, title, text, m_fix.valid ? m_fix.lat : 999.0,
                      m_fix.valid ? m_fix.lon : 999.0);
}

void CMarkManager::ClearObjectAlarm(COverlayObject* object) {
    if (!object) return;
    if (object->UpdateState() != COverlayObject::UPDATE_DESTROYED) {
        if (object->ObjectType() == COverlayObject::OBJECT_MARK)
            static_cast<COverlayMark*>(object)->setAlarmActive(false);
        else if (object->ObjectType() == COverlayObject::OBJECT_ROUTE)
            static_cast<COverlayRoute*>(object)->setAreaAlarmActive(false);
    }
    Clear(IdOf(object), "removed");
}

void CMarkManager::CancelAllAlarms() {
    for (auto& m : m_marks) m->setAlarmActive(false);
    for (auto& r : m_routes) r->setAreaAlarmActive(false);
    m_xteAlarmActive = false;
    m_gpsLostActive = false;
    while (!m_activeAlarms.empty()) Clear(m_activeAlarms.begin()->first, "alarms switched off");
}

void CMarkManager::RebuildAlarmCache() {
    m_alarmMarks.clear();
    m_alarmRoutes.clear();
    for (auto& m : m_marks)
        if (!m->isDeleted() && m->hasAlarm() && m->HasPosition()) m_alarmMarks.push_back(m.get());
    for (auto& r : m_routes)
        if (!r->isDeleted() && r->hasAreaAlarm() && r->size() >= 3) m_alarmRoutes.push_back(r.get());
    m_alarmCacheValid = true;
}

bool CMarkManager::AnchorArmed() {
    if (!m_alarmCacheValid) RebuildAlarmCache();
    for (const COverlayMark* m : m_alarmMarks)
        if (m->isAnchorAlarm()) return true;
    return false;
}

void CMarkManager::CheckAlarms() {
    if (!settings.notifications) {
        if (!m_activeAlarms.empty()) CancelAllAlarms();
        return;
    }
    if (!m_alarmCacheValid) RebuildAlarmCache();
    if (m_alarmMarks.empty() && m_alarmRoutes.empty() && !(settings.cross_track_alarm > 0)) {
        // Nothing to watch: stop looking until an alarm is set again.
        settings.notifications = false;
        settings.SetChanged();
        CancelAllAlarms();
        return;
    }
    const double lat = m_fix.lat, lon = m_fix.lon;
    const double mLat = CSimpleGrid::MetresPerDegreeLatAt(lat);
    const double mLon = CSimpleGrid::MetresPerDegreeLonAt(lat);

    // Marks: inner radius <= d < alarm radius. A flat estimate settles the clear cases;
    // the ellipsoid decides near the circles.
    for (COverlayMark* m : m_alarmMarks) {
        const double radius = m->getAlarmRadius();
        const double inner = m->getInnerRadius();
        double dlon = std::fmod(m->getLon() - lon, 360.0);
        if (dlon > 180) dlon -= 360;
        if (dlon < -180) dlon += 360;
        const double estimate = std::hypot((m->getLat() - lat) * mLat, dlon * mLon);
        bool inside;
        double d = estimate;
        if (estimate > radius * 1.05 + 50) {
            inside = false;
        } else if (inner > 0 && estimate < inner * 0.95 - 50) {
            inside = false;
        } else {
            d = Distance(lat, lon, m->getLat(), m->getLon());
            inside = inner <= d && d < radius;
        }
        if (inside == m->isAlarmActive()) continue;
        m->setAlarmActive(inside);
        const std::string text = m->getName() + " is " + FormatDistance(d) + " away";
        if (inside)
            Raise(IdOf(m), inner > 0 ? "Anchor alarm" : "Proximity alarm", text);
        else
            Clear(IdOf(m), text);
        // The circle shows the state; a redraw is no edit to save.
        ++m_quiet;
        m->COverlayObject::Dispatch(COverlayObject::UPDATE_MOVED);
        --m_quiet;
    }

    // Route areas.
    for (COverlayRoute* r : m_alarmRoutes) {
        const bool in = r->Contains(lat, lon);
        const bool outsideFence = r->isGeofence() && !in;
        const bool insideZone = r->isExclusionZone() && in;
        const bool alarm = outsideFence || insideZone;
        if (alarm == r->isAreaAlarmActive()) continue;
        r->setAreaAlarmActive(alarm);
        if (alarm) {
            if (outsideFence)
                Raise(IdOf(r), "Geofence Alarm", "You are outside " + r->getName());
            else
                Raise(IdOf(r), "Exclusion Zone Alarm", "You are in " + r->getName());
        } else {
            Clear(IdOf(r), (r->isGeofence() ? "You are inside " : "You are out of ") + r->getName());
        }
        ++m_quiet;
        r->COverlayObject::Dispatch(COverlayObject::UPDATE_MOVED);
        --m_quiet;
    }

    // Cross track.
    const double limit = settings.cross_track_alarm;
    const bool off = limit > 0 && m_target && m_goto.HasRange() && std::fabs(m_goto.cross_track_error) > limit;
    if (off != m_xteAlarmActive) {
        m_xteAlarmActive = off;
        const std::string text = "You are " + FormatDistance(std::fabs(m_goto.cross_track_error)) + " off course";
        if (off)
            Raise(kCrossTrackId, "CrossTrack Alarm", text);
        else
            Clear(kCrossTrackId, text);
    }
}

void CMarkManager::OnHeartbeat() {
    const bool armed = settings.notifications && AnchorArmed();
    const double now = CHeartbeat::Timestamp();
    if (!armed) {
        m_anchorArmedSince = 0;
        if (m_gpsLostActive) {
            m_gpsLostActive = false;
            Clear(kGpsLostId, "anchor alarm off");
        }
        return;
    }
    if (m_anchorArmedSince == 0) m_anchorArmedSince = now;
    const double since = std::max(m_lastFixTime, m_anchorArmedSince);
    if (!m_gpsLostActive && now - since > kGpsLostSeconds) {
        m_gpsLostActive = true;
        Raise(kGpsLostId, "GPS lost",
              "No GPS fix for more than 30 seconds: the anchor alarm cannot tell where the boat is");
    }
}
