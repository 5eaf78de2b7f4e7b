// SPDX-License-Identifier: GPL-3.0-or-later
// The AIS target table: updates from decoded messages, the own ship from its transponder,
// closest points of approach with their alarms, man-overboard marks, and expiry.

#include "navdata/ais.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/uiservices.h"
#include "navdata/dataconnection.h"
#include "overlays/markmanager.h"
#include "units/units.h"

CAISTargetManager* the_CAISTargetManager = nullptr;
CAISTargetManager::Persistant CAISTargetManager::settings;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr uint32_t kRed = 0xFFFF0000;
constexpr uint32_t kWarning = 0xFFDCDC00;
constexpr uint32_t kWhite = 0xFFFFFFFF;
constexpr uint32_t kClassBColour = 0xFF64C864;
constexpr uint32_t kAircraftColour = 0xFF6464C8;
constexpr uint32_t kAidColour = 0xFFA00073;

struct StatusEntry {
    const char* text;
    uint32_t colour;
};
const StatusEntry kStatus[] = {
    {"Under way using engine", 0xFF00DC00},    {"At anchor", 0xFF808080},
    {"NOT UNDER COMMAND", 0xFFC832C8},         {"RESTRICTED MANOEVRABILITY", 0xFFC832C8},
    {"CONSTRAINED BY DRAFT", 0xFFC832C8},      {"Moored", 0xFF808080},
    {"AGROUND", 0xFFC832C8},                   {"FISHING", 0xFFC832C8},
    {"Under way sailing", 0xFF0094EA},
};

std::unique_ptr<CAISTargetManager> s_instance;

template <class T>
double DispatchTime() {
    CDataSource* src = Listener<T>::pDatasource;
    return src ? src->Timestamp() : CDataSource::Now();
}

// Latitude 91 and longitude 181 are how a transponder says it has no position.
bool UsablePosition(double lat, double lon) {
    return std::isfinite(lat) && std::isfinite(lon) && lat < 90 && lat > -90 && lon < 180 && lon >= -180;
}

template <size_t N>
void CopyText(char (&dst)[N], const char* src) {
    CNMEASentence::strncpy_to_TCHAR(dst, src ? src : "", int(N));
}

bool IsManOverboard(const CAISTarget& t) {
    return std::strncmp(t.mmsi_text, "972", 3) == 0;
}

}  // namespace

const char* CAISTarget::BeaconKind(const char* mmsiText) {
    if (std::strncmp(mmsiText, "97", 2) != 0) return nullptr;
    switch (mmsiText[2]) {
        case '2':
            return kManOverboard;
        case '4':
            return kEpirb;
        case '0':
            return kSart;
        default:
            return nullptr;
    }
}

uint32_t AisStatusColour(int status) {
    return status >= 0 && status < int(std::size(kStatus)) ? kStatus[status].colour : kStatus[0].colour;
}

const char* AisStatusText(int status) {
    return status >= 0 && status < int(std::size(kStatus)) ? kStatus[status].text : kStatus[0].text;
}

void CAISTargetManager::Persistant::DeclareData() {
    Declare("alarm_distance", alarm_distance);
    Declare("cpa_classB_distance", cpa_classB_distance);
    Declare("alarm_time", alarm_time);
    Declare("min_closing_velocity_knots", min_closing_velocity_knots);
    Declare("alarm_beep", alarm_beep);
    Declare("record_tracks", record_tracks);
    Declare("show_ais_range_ring", show_ais_range_ring);
    Declare("enable_settings", enable_settings);
}

// ---------------------------------------------------------------------------------------
// A target

CAISTarget::CAISTarget(CAISTargetManager& manager, uint32_t id)
    : COverlayMovingTarget(LAYER_AIS_TARGET, OBJECT_AIS_TARGET), mmsi(id), m_manager(manager) {
    std::snprintf(mmsi_text, sizeof mmsi_text, "%u", id);
}

CAISTarget::~CAISTarget() {
    // Listeners still see the whole target here.
    Dispatch(UPDATE_DESTROYED);
}

bool CAISTarget::isCollisionThreat() const {
    const auto& s = CAISTargetManager::settings;
    return tcpa > 0 && tcpa <= 2 * s.alarm_time && cpa < 2 * AlarmDistance();
}

double CAISTarget::AlarmDistance() const {
    const auto& s = CAISTargetManager::settings;
    return IsClassB() ? s.cpa_classB_distance : s.alarm_distance;
}

bool CAISTarget::IsSelected() const {
    return m_manager.Selected() == this;
}

void CAISTarget::OnUpdatedPosition(double time) {
    if (!(lat <= 90.0)) {
        lat = lon = kNoLatLon;
        return;
    }
    grid.FollowOrigin(lat, lon);
    if (reported_heading >= 0 && reported_heading < 360) {
        compass.heading = float(reported_heading);
        compass.vec.SetDegrees(compass.heading);
        compass.last_time = time;
    } else if (speed > 1.0f) {
        compass.Set(course, time);
    } else {
        compass.Clear();
    }
    best_mode = DIR_COURSE;
    best_vec = course_vec;
    if (CAISTargetManager::settings.record_tracks) RecordTrail();
}

void CAISTarget::RecordTrail() {
    // A point when the target has moved a boat's length or so; a moored one adds none.
    constexpr double kMinStepMetres = 25.0;
    if (!m_trail.empty()) {
        const DblPoint& last = m_trail[(m_trailHead + m_trail.size() - 1) % m_trail.size()];
        if (grid.Distance(lat, lon, last.y, last.x) < kMinStepMetres) return;
    }
    if (m_trail.size() < kTrailPoints) {
        if (m_trail.empty()) m_trail.reserve(kTrailPoints);
        m_trail.emplace_back(lon, lat);
        return;
    }
    m_trail[m_trailHead] = DblPoint(lon, lat);
    m_trailHead = (m_trailHead + 1) % kTrailPoints;
}

std::string CAISTarget::TapMessage() const {
    char buf[160];
    if (description.empty()) {
        std::snprintf(buf, sizeof buf, "MMSI:%u, %s\nSpeed:%.1f kts, %s", mmsi, kind, double(speed), status);
        return buf;
    }
    std::snprintf(buf, sizeof buf, ", Speed:%.1f kts", double(speed));
    return description + buf;
}

bool CAISTarget::onTap(CQuickChartView*, const FPoint&, const DblPoint&) {
    m_manager.Select(this);
    SetStatusMessage(TapMessage());
    return true;
}

// ---------------------------------------------------------------------------------------
// The manager

CAISTargetManager::CAISTargetManager(COverlayGPSPosition& own) : CHeartbeat::Counter(kExpiryTicks), m_own(own) {
    if (!the_CAISTargetManager) the_CAISTargetManager = this;
}

CAISTargetManager::~CAISTargetManager() {
    m_selected = nullptr;
    m_index.Clear();
    m_targets.clear();
    if (the_CAISTargetManager == this) the_CAISTargetManager = nullptr;
}

void CAISTargetManager::Start() {
    if (s_instance) return;
    s_instance = std::make_unique<CAISTargetManager>();
}

void CAISTargetManager::Stop() {
    s_instance.reset();
}

CAISTarget* CAISTargetManager::Find(uint32_t mmsi) const {
    return m_index.Find(mmsi);
}

CAISTarget& CAISTargetManager::FindOrInsert(uint32_t mmsi) {
    if (CAISTarget* t = Find(mmsi)) return *t;
    auto made = std::make_unique<CAISTarget>(*this, mmsi);
    CAISTarget* t = made.get();
    m_targets.emplace(mmsi, std::move(made));
    m_index.Insert(mmsi, t);
    return *t;
}

size_t CAISTargetManager::Count() const {
    size_t n = 0;
    for (const auto& entry : m_targets)
        if (entry.second->HasKind()) ++n;
    return n;
}

const CAISTarget* CAISTargetManager::ClosestApproach() const {
    const CAISTarget* best = nullptr;
    for (const auto& entry : m_targets) {
        const CAISTarget& t = *entry.second;
        if (t.HasKind() && t.HasPosition() && t.tcpa > 0 && t.HasCPA() && (!best || t.cpa < best->cpa)) best = &t;
    }
    return best;
}

void CAISTargetManager::Publish(CAISTarget& target, COverlayObject::update_action action) {
    Listener<CAISTarget>::Publish(target);
    target.Dispatch(action);
}

void CAISTargetManager::EnableSettings() {
    if (settings.enable_settings) return;
    settings.enable_settings = true;
    settings.SetChanged();
    PersistantData::SaveAll();
}

void CAISTargetManager::OnUpdate(CNEMA_AIS::VDM& m) {
    if (m.message_type == 0) return;  // a fragment of a longer message
    CAISTarget& t = FindOrInsert(m.mmsi);
    const double now = DispatchTime<CNEMA_AIS::VDM>();
    t.last_time = now;
    t.last_type = m.message_type;
    const bool position = UsablePosition(m.latitude, m.longitude);
    auto takePosition = [&]() {
        if (!position) return;
        t.lat = m.latitude;
        t.lon = m.longitude;
        t.fix_status = FIX_GPS;
    };
    auto takeDimensions = [&]() {
        t.to_bow = uint16_t(m.to_bow);
        t.to_stern = uint16_t(m.to_stern);
        t.to_port = uint8_t(m.to_port);
        t.to_starboard = uint8_t(m.to_starboard);
    };
    auto classBDescription = [&]() {
        char buf[160];
        std::snprintf(buf, sizeof buf, "\"%s\" Type:%s, LOA:%dm\nClass B MMSI:%u", t.name, t.ship_type,
                      t.to_bow + t.to_stern, t.mmsi);
        t.description.assign(buf);
    };
    switch (m.message_type) {
        case 1:
        case 2:
        case 3: {
            t.kind = CAISTarget::kClassA;
            takePosition();
            t.SetCourseSpeed(m.course, m.speed);
            t.reported_heading = m.heading;
            t.rate_of_turn = m.rate_of_turn;
            t.rate_of_turn_valid = m.rate_of_turn_valid;
            t.nav_status = m.nav_status;
            t.status = AisStatusText(m.nav_status);
            t.base_colour = AisStatusColour(m.nav_status);
            if (std::strncmp(t.mmsi_text, "97", 2) == 0) {
                t.base_colour = kRed;
                if (const char* beacon = CAISTarget::BeaconKind(t.mmsi_text)) t.kind = beacon;
            }
            break;
        }
        case 5: {
            if (!CAISTarget::BeaconKind(t.mmsi_text)) t.kind = CAISTarget::kClassA;
            CopyText(t.name, m.name);
            CopyText(t.callsign, m.callsign);
            CopyText(t.ship_type, m.ship_type_text);
            takeDimensions();
            char buf[256];
            std::snprintf(buf, sizeof buf, "\"%s\" Type:%s LOA:%dm\nCallsign:%s, MMSI:%u\nDest:%s, ETA:%02d:%02d %d/%d",
                          t.name, t.ship_type, t.to_bow + t.to_stern, t.callsign, t.mmsi, m.destination, m.eta_hour,
                          m.eta_minute, m.eta_day, m.eta_month);
            t.description.assign(buf);
            break;
        }
        case 9:
            t.kind = CAISTarget::kAircraft;
            takePosition();
            t.SetCourseSpeed(m.course, m.speed);
            t.reported_heading = CAISTarget::kNoHeading;
            t.altitude = m.altitude;
            t.base_colour = kAircraftColour;
            break;
        case 18:
        case 19:
            t.kind = CAISTarget::kClassB;
            t.status = "n/a";
            takePosition();
            t.SetCourseSpeed(m.course, m.speed);
            t.reported_heading = m.heading;
            t.base_colour = kClassBColour;
            if (m.message_type == 19) {
                CopyText(t.name, m.name);
                CopyText(t.ship_type, m.ship_type_text);
                takeDimensions();
                classBDescription();
            }
            break;
        case 21: {
            t.kind = CAISTarget::kAidToNavigation;
            takePosition();
            CopyText(t.name, m.name);
            t.base_colour = kAidColour;
            t.reported_heading = CAISTarget::kNoHeading;
            t.SetCourseSpeed(0, 0);
            CopyText(t.ship_type, "Aid to Navigation");
            // One size stands for the whole aid.
            const int size = std::clamp(m.to_bow, 0, 255);
            t.to_bow = t.to_stern = uint16_t(size);
            t.to_port = t.to_starboard = uint8_t(size);
            char buf[96];
            std::snprintf(buf, sizeof buf, "\"%s\" Aid to Navigation, Type:%d, MMSI:%u", t.name, m.aid_type, t.mmsi);
            t.description.assign(buf);
            break;
        }
        case 24:
            if (m.part_number == 0) {
                CopyText(t.name, m.name);
            } else if (m.part_number == 1) {
                CopyText(t.ship_type, m.ship_type_text);
                CopyText(t.callsign, m.callsign);
                takeDimensions();
            } else {
                break;
            }
            classBDescription();
            break;
        default:
            break;  // only the time of the last message
    }
    if (t.HasKind()) {
        t.colour = t.IsLost() ? kWhite : t.base_colour;
        t.OnUpdatedPosition(now);
        if (t.HasPosition() && m_ownKnown) detect_collision(t, true);
    }
    Publish(t, COverlayObject::UPDATE_CHANGED);
    EnableSettings();
}

void CAISTargetManager::OnUpdate(CNEMA_AIS::VDO& m) {
    // The own transponder stands in for a GPS, never beside one.
    if (m_own.HasFix() && m_own.position_source != this) return;
    const int type = m.message_type;
    if (!((type >= 1 && type <= 3) || type == 18)) return;
    if (!UsablePosition(m.latitude, m.longitude)) return;
    m_own.position_source = this;
    m_own.fix_status = FIX_GPS;
    m_own.set_latlon(m.latitude, m.longitude);
    m_own.set_course(m.course, m.speed);
    m_own.SetCompassHeading(m.heading < 360 ? float(m.heading) : CDataSpeedDirection::kNoDirection, 0);
    if (type <= 3) m_own.fix_time = DispatchTime<CNEMA_AIS::VDO>();
    m_own.DispatchPositionUpdate();
}

void CAISTargetManager::OnUpdate(CDataGPSPosition& p) {
    if (!p.HasFix() || !p.HasPosition()) return;
    m_grid.SetOrigin(p.lat, p.lon);
    const double v = double(p.speed) * kKnotsToMetresPerSecond;
    m_ownVx = v * p.course_vec.x;
    m_ownVy = v * p.course_vec.y;
    m_ownKnown = true;
    // Every target's approach changes as the own ship moves, reported or not.
    for (auto& entry : m_targets) {
        CAISTarget& t = *entry.second;
        if (t.HasKind() && t.HasPosition() && !t.IsLost()) detect_collision(t, false);
    }
}

void CAISTargetManager::detect_collision(CAISTarget& t, bool reported) {
    if (!t.HasPosition() || !m_ownKnown) return;
    const uint32_t colourBefore = t.colour;
    const bool alertBefore = t.alerting;
    double px = 0, py = 0;
    m_grid.ToGrid(t.lat, t.lon, px, py);
    t.range = float(std::hypot(px, py));
    double bearing = std::atan2(px, py) * 180.0 / kPi;
    if (bearing < 0) bearing += 360.0;
    t.bearing = float(bearing);
    t.colour = t.IsLost() ? kWhite : t.base_colour;

    const bool mob = IsManOverboard(t) && t.range < kManOverboardRange;
    if (!mob && t.speed < 0.1f) {
        t.tcpa = 0;
        t.cpa = CAISTarget::kNoCPA;
        CancelAlert(t);
    } else {
        const double tv = double(t.speed) * kKnotsToMetresPerSecond;
        const double vx = tv * t.course_vec.x - m_ownVx;
        const double vy = tv * t.course_vec.y - m_ownVy;
        const double v2 = vx * vx + vy * vy;
        t.tcpa = 0;
        t.cpa = CAISTarget::kNoCPA;
        if (v2 > 0.000001) {
            const double tcpa = -(px * vx + py * vy) / v2;
            t.tcpa = float(tcpa);
            if (tcpa > 0) {
                // Measured between the antennas: a long ship comes closer than that.
                double cpa = std::hypot(px + vx * tcpa, py + vy * tcpa) - (t.to_bow + t.to_stern);
                if (cpa < 0) cpa = 0.0001;
                t.cpa = float(cpa);
            }
        }
        if (mob) {
            ManOverboard(t, reported);
        } else {
            const double limit = t.AlarmDistance();
            const float alarmTime = settings.alarm_time;
            if (t.tcpa > 0 && t.HasCPA() && t.tcpa < alarmTime && t.cpa < limit &&
                std::sqrt(v2) > settings.min_closing_velocity_knots * kKnotsToMetresPerSecond) {
                t.colour = kRed;
                t.alerting = true;
                if (settings.alarm_beep && (reported || !t.m_notified)) {
                    char title[64], text[96];
                    std::snprintf(title, sizeof title, "AIS collision alert, %s", t.kind);
                    std::snprintf(text, sizeof text, "%s, CPA %d m, %d min", t.name[0] ? t.name : "Unknown name",
                                  int(t.cpa), int(t.tcpa / 60.0f));
                    t.m_alertTitle.assign(title);
                    t.m_alertText.assign(text);
                    Alert(t, reported);
                }
            } else {
                if (t.tcpa > 0 && t.HasCPA() && t.tcpa < 2 * alarmTime && t.cpa < 2 * limit) t.colour = kWarning;
                CancelAlert(t);
            }
        }
    }
    // A check of the own ship's move publishes only what changes the picture.
    if (!reported && (t.colour != colourBefore || t.alerting != alertBefore)) Publish(t, COverlayObject::UPDATE_MOVED);
}

void CAISTargetManager::Alert(CAISTarget& t, bool reported) {
    t.alerting = true;
    // Repeated with fresh figures whenever the target reports; the own ship's moves only
    // raise it the first time.
    if (t.m_notified && !reported) return;
    t.m_notified = true;
    ShowSystemNotification(t.mmsi_text, t.m_alertTitle, t.m_alertText);
}

void CAISTargetManager::CancelAlert(CAISTarget& t) {
    t.alerting = false;
    if (!t.m_notified) return;
    t.m_notified = false;
    CancelSystemNotification(t.mmsi_text);
}

void CAISTargetManager::ManOverboard(CAISTarget& t, bool reported) {
    if (reported || !t.m_notified) {
        std::string range, bearing;
        CDefaultUnits::u.FormatDistance(t.range, range);
        CDefaultUnits::u.FormatBearing(t.bearing, bearing);
        t.m_alertTitle.assign("AIS Man Overboard");
        t.m_alertText.assign(range).append(" away, bearing ").append(bearing);
    }
    Alert(t, reported);
    if (!g_mark_manager || !reported) return;
    char name[32];
    std::snprintf(name, sizeof name, "AIS MOB: %u", t.mmsi);
    COverlayMark* mark = g_mark_manager->FindMark(name);
    if (!mark) {
        auto made = std::make_unique<COverlayMark>();
        made->setName(name);
        made->SetPosition(t.lat, t.lon);
        made->SetIcon("X", made->getColor());
        made->SetModifiedNow();
        mark = g_mark_manager->AddMark(std::move(made));
    } else {
        mark->SetPosition(t.lat, t.lon);
        mark->SetIcon("X", mark->getColor());
        mark->SetModifiedNow();
        g_mark_manager->SetMarksChanged();
        mark->Dispatch(COverlayObject::UPDATE_CHANGED);
    }
    if (mark && t.range < kManOverboardGotoRange && g_mark_manager->Target() != mark) g_mark_manager->SetGoto(mark);
}

void CAISTargetManager::Remove(std::map<uint32_t, std::unique_ptr<CAISTarget>>::iterator it) {
    CAISTarget& t = *it->second;
    CancelAlert(t);
    if (m_selected == &t) m_selected = nullptr;
    m_index.Erase(it->first);
    m_targets.erase(it);
}

void CAISTargetManager::OnHeartbeat() {
    const double now = CHeartbeat::Timestamp();
    for (auto it = m_targets.begin(); it != m_targets.end();) {
        CAISTarget& t = *it->second;
        const double silent = now - t.last_time;
        if (silent > kRemoveSeconds) {
            t.last_type = CAISTarget::kTypeRemoved;
            t.fix_status = FIX_NONE;
            Listener<CAISTarget>::Publish(t);
            auto next = std::next(it);
            Remove(it);
            it = next;
            continue;
        }
        if (silent > kLostContactSeconds && !t.IsLost()) {
            t.SetCourseSpeed(t.course, 0);
            t.compass.Clear();
            t.best_vec.Clear();
            t.colour = kWhite;
            t.status = "Lost contact";
            t.last_type = CAISTarget::kTypeLostContact;
            if (t.alerting) CancelAlert(t);
            Publish(t, COverlayObject::UPDATE_CHANGED);
        }
        ++it;
    }
}

void CAISTargetManager::Select(CAISTarget* target) {
    if (m_selected == target) return;
    CAISTarget* previous = m_selected;
    m_selected = target;
    if (previous) previous->Dispatch(COverlayObject::UPDATE_MOVED);
    if (target) target->Dispatch(COverlayObject::UPDATE_MOVED);
}

void CAISTargetManager::GetUpdatesForAll(COverlayObject::update_action, Listener<COverlayObject>& listener) {
    for (auto& entry : m_targets)
        if (entry.second->HasKind()) listener.OnUpdate(*entry.second);
}
