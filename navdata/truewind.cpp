// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/truewind.h"

#include <cmath>

#include "core/heartbeat.h"

namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

float Wrap180(double a) {
    a = std::fmod(a, 360.0);
    if (a > 180.0) a -= 360.0;
    if (a <= -180.0) a += 360.0;
    return float(a);
}

float Wrap360(double a) {
    a = std::fmod(a, 360.0);
    if (a < 0) a += 360.0;
    return float(a);
}

}  // namespace

std::shared_ptr<CFeedTrueWind> CFeedTrueWind::Acquire() {
    static std::weak_ptr<CFeedTrueWind> s_feed;
    std::shared_ptr<CFeedTrueWind> feed = s_feed.lock();
    if (!feed) {
        feed = std::make_shared<CFeedTrueWind>();
        s_feed = feed;
    }
    return feed;
}

CDataTrueWind CFeedTrueWind::FromApparent(double angle, double speed, double boatSpeed) {
    // In the boat's frame, x ahead and y to starboard, the true wind is the apparent wind
    // less the wind the boat's own motion makes.
    const double x = speed * std::cos(angle * kDegToRad) - boatSpeed;
    const double y = speed * std::sin(angle * kDegToRad);
    CDataTrueWind wind;
    wind.speed = float(std::hypot(x, y));
    wind.angle = wind.speed > 1e-4f ? Wrap180(std::atan2(y, x) / kDegToRad) : 0.0f;
    return wind;
}

bool CFeedTrueWind::Fresh(unsigned long long pulse) const {
    return CHeartbeat::PulseCount() - pulse < kFreshPulses;
}

float CFeedTrueWind::Heading() const {
    if (m_hasCompass && Fresh(m_compassPulse)) return m_compass;
    if (m_fix && Fresh(m_positionPulse) && m_sog > kMinSpeedForCourse) return m_cog;
    return CDataTrueWind::kNone;
}

void CFeedTrueWind::Publish(CDataTrueWind& wind) {
    if (!std::isfinite(wind.speed) || wind.speed < 0) return;
    Listener<CDataTrueWind>::Publish(wind);
}

void CFeedTrueWind::OnUpdate(CNMEA_Instruments::MWV& mwv) {
    if (!std::isfinite(mwv.angle) || !std::isfinite(mwv.speed)) return;
    const float heading = Heading();
    CDataTrueWind wind;
    if (mwv.reference == CNMEA_Instruments::MWV::kTrue) {
        m_measuredPulse = CHeartbeat::PulseCount();
        m_hasMeasured = true;
        wind.angle = Wrap180(mwv.angle);
        wind.speed = mwv.speed;
    } else {
        // An instrument that sends the true wind knows better (it may correct for heel
        // and leeway): compute only without it.
        if (m_hasMeasured && Fresh(m_measuredPulse)) return;
        if (m_hasStw && Fresh(m_stwPulse)) {
            wind = FromApparent(mwv.angle, mwv.speed, m_stw);
            wind.origin = CDataTrueWind::kFromWaterSpeed;
        } else if (m_fix && Fresh(m_positionPulse)) {
            wind = FromApparent(mwv.angle, mwv.speed, m_sog);
            wind.origin = CDataTrueWind::kFromGroundSpeed;
        } else {
            return;  // no speed of the boat: the true wind is unknown
        }
    }
    if (heading < CDataTrueWind::kNone) wind.direction = Wrap360(double(heading) + wind.angle);
    Publish(wind);
}

void CFeedTrueWind::OnUpdate(CNMEA_Instruments::MWD& mwd) {
    if (!std::isfinite(mwd.direction) || !std::isfinite(mwd.speed)) return;
    m_measuredPulse = CHeartbeat::PulseCount();
    m_hasMeasured = true;
    CDataTrueWind wind;
    wind.direction = Wrap360(mwd.direction);
    wind.speed = mwd.speed;
    const float heading = Heading();
    if (heading < CDataTrueWind::kNone) wind.angle = Wrap180(double(wind.direction) - heading);
    Publish(wind);
}

void CFeedTrueWind::OnUpdate(CNMEA_Instruments::VHW& vhw) {
    if (!vhw.speed_valid || !std::isfinite(vhw.speed) || vhw.speed < 0) return;
    m_stw = vhw.speed;
    m_stwPulse = CHeartbeat::PulseCount();
    m_hasStw = true;
}

void CFeedTrueWind::OnUpdate(CDataSpeedDirection& d) {
    const float h = d.compass.heading;
    if (!(h < CDataSpeedDirection::kNoneThreshold) || !std::isfinite(h)) {
        m_hasCompass = false;
        return;
    }
    // Positions publish the direction too, with an old heading: only a new one is fresh.
    if (!m_hasCompass || d.compass.last_time != m_compassTime) m_compassPulse = CHeartbeat::PulseCount();
    m_compass = h;
    m_compassTime = d.compass.last_time;
    m_hasCompass = true;
}

void CFeedTrueWind::OnUpdate(CDataGPSPosition& p) {
    m_fix = p.HasFix();
    m_sog = p.speed;
    m_cog = p.course;
    m_positionPulse = CHeartbeat::PulseCount();
}
