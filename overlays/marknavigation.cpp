// SPDX-License-Identifier: GPL-3.0-or-later
// Going to a mark and following a route: the leg, the target, range and bearing, the
// cross-track error and the speeds made good, published as CDataGotoMark.
#include <GeographicLib/Geodesic.hpp>

#include <algorithm>
#include <cmath>

#include "core/heartbeat.h"
#include "overlays/markmanager.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kKnotsPerMetrePerSecond = 1.94384449;

// Range (metres) and initial bearing (degrees 0..360) on the WGS84 ellipsoid.
void RangeBearing(double lat1, double lon1, double lat2, double lon2, double& range, double& bearing) {
    double azi1 = 0, azi2 = 0;
    GeographicLib::Geodesic::WGS84().Inverse(lat1, lon1, lat2, lon2, range, azi1, azi2);
    if (!std::isfinite(range)) range = 0;
    bearing = std::isfinite(azi1) ? std::fmod(azi1 + 360.0, 360.0) : 0;
}

// The difference of two directions folded into 0..180.
double AngleBetween(double a, double b) {
    double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180 ? 360 - d : d;
}

}  // namespace

void CMarkManager::OnUpdate(CDataGPSPosition& p) {
    const bool valid = p.HasPosition() && p.HasFix() && std::isfinite(p.lat) && std::isfinite(p.lon);
    if (!valid) {
        m_fix.valid = false;
        return;
    }
    Fix f;
    f.valid = true;
    f.lat = p.lat;
    f.lon = p.lon;
    f.speed = std::isfinite(p.speed) && p.speed > 0 ? p.speed : 0;
    // Standing still, a receiver's course is noise.
    if (f.speed > 0 && p.course < CDataSpeedDirection::kNoneThreshold && std::isfinite(p.course)) {
        f.course = p.course;
        const double len = std::hypot(p.course_vec.x, p.course_vec.y);
        if (len > 0) {
            f.vx = p.course_vec.x / len;
            f.vy = p.course_vec.y / len;
        } else {
            f.vx = std::sin(p.course * kPi / 180);
            f.vy = std::cos(p.course * kPi / 180);
        }
    }
    f.time = p.fix_time;
    m_fix = f;
    m_lastFixTime = CHeartbeat::Timestamp();
    if (m_gpsLostActive) {
        m_gpsLostActive = false;
        Clear(kGpsLostId, "The GPS fix is back");
    }
    Navigate();
    CheckAlarms();
}

void CMarkManager::SetGoto(COverlayMark* mark) {
    CancelNavigation();
    if (!mark || mark->isDeleted() || !mark->HasPosition()) return;
    ChangeTarget(mark);
    if (m_fix.valid) ComputeAndPublish();
}

void CMarkManager::SetFollowRoute(COverlayRoute* route) {
    CancelNavigation();
    if (!route || route->isDeleted() || route->size() == 0) return;
    m_follow = route;
    route->setFollow(true);
    route->ClearSegments();
    m_minTarget = 0;
    route->COverlayObject::Dispatch(COverlayObject::UPDATE_MOVED);
    SetRoutesChanged();
    if (m_fix.valid) Navigate();
}

void CMarkManager::CancelNavigation() {
    const bool had = m_target || m_follow;
    if (m_target) {
        COverlayMark* t = m_target;
        m_target = nullptr;
        t->setNavTarget(false);
        if (t->isWaypoint())
            SetRoutesChanged();
        else
            SetMarksChanged();
        t->Dispatch(COverlayObject::UPDATE_MOVED);
    }
    if (m_follow) {
        COverlayRoute* r = m_follow;
        m_follow = nullptr;
        r->setFollow(false);
        SetRoutesChanged();
        r->COverlayObject::Dispatch(COverlayObject::UPDATE_MOVED);
    }
    m_legLength = m_legX = m_legY = m_normX = m_normY = 0;
    m_minTarget = 0;
    if (m_xteAlarmActive) {
        m_xteAlarmActive = false;
        Clear(kCrossTrackId, "navigation ended");
    }
    if (had) PublishCancelled();
}

void CMarkManager::PublishCancelled() {
    m_goto = CDataGotoMark();
    m_goto.time = m_fix.time;
    Listener<CDataGotoMark>::Publish(m_goto);
}

void CMarkManager::ChangeTarget(COverlayMark* mark) {
    if (m_target == mark) return;
    if (m_target) {
        COverlayMark* old = m_target;
        m_target = nullptr;
        old->setNavTarget(false);
        old->Dispatch(COverlayObject::UPDATE_MOVED);
    }
    m_target = mark;
    mark->setNavTarget(true);
    m_navGrid.SetOrigin(mark->getLat(), mark->getLon());
    m_legLength = m_legX = m_legY = m_normX = m_normY = 0;
    if (mark->isWaypoint())
        SetRoutesChanged();
    else
        SetMarksChanged();
    mark->Dispatch(COverlayObject::UPDATE_MOVED);
    if (m_follow) m_follow->COverlayObject::Dispatch(COverlayObject::UPDATE_MOVED);  // the active leg moved
}

void CMarkManager::NavigateFrom(double lat, double lon) {
    m_navGrid.ToGrid(lat, lon, m_legX, m_legY);
    m_legLength = std::hypot(m_legX, m_legY);
    if (m_legLength > COverlayRoute::kMinLegMetres) {
        m_normX = -m_legY / m_legLength;
        m_normY = m_legX / m_legLength;
    } else {
        m_normX = m_normY = 0;
    }
}

void CMarkManager::Navigate() {
    if (!m_fix.valid) return;
    if (m_follow) {
        COverlayRoute* route = m_follow;
        if (route->isDeleted() || route->size() == 0) {
            CancelNavigation();
            return;
        }
        // Heading away from the end of the route, close to it: sail it back.
        if (settings.auto_reverse && m_target && route->size() >= 2 && m_target == route->Waypoint(route->size() - 1) &&
            m_fix.course < CDataGotoMark::kNoDirection && m_legLength > COverlayRoute::kMinLegMetres) {
            double range, bearing;
            RangeBearing(m_fix.lat, m_fix.lon, m_target->getLat(), m_target->getLon(), range, bearing);
            if (range < 0.2 * m_legLength && AngleBetween(bearing, m_fix.course) > 135) {
                route->ReverseWaypoints();
                m_minTarget = 0;
                SetRoutesChanged();
                route->Dispatch(COverlayObject::UPDATE_MOVED);
            }
        }
        auto leg = route->FindNearestLeg(m_fix.lat, m_fix.lon, m_fix.vx, m_fix.vy, m_minTarget);
        if (leg.to && leg.to != m_target) {
            ChangeTarget(leg.to);
            if (leg.from)
                NavigateFrom(leg.from->getLat(), leg.from->getLon());
            else
                NavigateFrom(m_fix.lat, m_fix.lon);
        }
        // Within the arrival radius of a waypoint the next leg starts at once.
        if (settings.arrival_radius > 0 && m_target) {
            const int k = route->IndexOf(m_target);
            if (k >= 0 && size_t(k) + 1 < route->size()) {
                double range, bearing;
                RangeBearing(m_fix.lat, m_fix.lon, m_target->getLat(), m_target->getLon(), range, bearing);
                if (range < settings.arrival_radius) {
                    COverlayMark* reached = m_target;
                    m_minTarget = k + 1;
                    ChangeTarget(route->Waypoint(size_t(k) + 1));
                    NavigateFrom(reached->getLat(), reached->getLon());
                }
            }
        }
    }
    if (m_target) ComputeAndPublish();
}

void CMarkManager::ComputeAndPublish() {
    if (!m_target || !m_fix.valid || !m_target->HasPosition()) return;
    double x, y;
    m_navGrid.ToGrid(m_fix.lat, m_fix.lon, x, y);
    double range, bearing;
    RangeBearing(m_fix.lat, m_fix.lon, m_target->getLat(), m_target->getLon(), range, bearing);
    CDataGotoMark& g = m_goto;
    const bool newTarget = g.target_id != m_target->OrderKey();
    g.range = range;
    if (range > COverlayRoute::kMinLegMetres || newTarget) {
        g.bearing = bearing;
        g.unit_x = std::sin(bearing * kPi / 180);
        g.unit_y = std::cos(bearing * kPi / 180);
        if (m_legLength <= COverlayRoute::kMinLegMetres) NavigateFrom(m_fix.lat, m_fix.lon);
        g.cross_track_error = x * m_normX + y * m_normY;
    }
    g.target_id = m_target->OrderKey();
    g.name = m_target->getName();
    g.latitude = m_target->getLat();
    g.longitude = m_target->getLon();
    g.leg_x = -m_legX;
    g.leg_y = -m_legY;
    g.leg_length = m_legLength > COverlayRoute::kMinLegMetres ? m_legLength : 0;

    g.speed = m_fix.speed;
    g.course = m_fix.course;
    g.time = m_fix.time;
    g.vmg_mark = m_fix.speed * (m_fix.vx * g.unit_x + m_fix.vy * g.unit_y);
    if (g.leg_length > 0)
        g.vmg_leg = m_fix.speed * (m_fix.vx * g.leg_x + m_fix.vy * g.leg_y) / g.leg_length;
    else
        g.vmg_leg = g.vmg_mark;
    g.time_to_next = g.vmg_leg < 0.1 ? 0 : range / (g.vmg_leg / kKnotsPerMetrePerSecond);

    g.route_id = 0;
    g.route_leg = -1;
    g.route_points = 0;
    g.route_remaining = 0;
    g.route_length = 0;
    g.next_name.clear();
    g.next_leg_bearing = CDataGotoMark::kNoDirection;
    COverlayRoute* route = m_follow && m_target->getRoute() == m_follow ? m_follow : nullptr;
    if (route) {
        const int k = route->IndexOf(m_target);
        g.route_id = route->OrderKey();
        g.route_leg = k;
        g.route_points = int(route->size());
        g.route_remaining = route->getRemainingAfter(k);
        g.route_length = route->getTotalLengthMeters();
        if (const COverlayMark* next = route->Waypoint(size_t(k) + 1)) {
            g.next_name = next->getName();
            double r2, b2;
            RangeBearing(m_target->getLat(), m_target->getLon(), next->getLat(), next->getLon(), r2, b2);
            g.next_leg_bearing = b2;
        }
    }
    Listener<CDataGotoMark>::Publish(g);
}
