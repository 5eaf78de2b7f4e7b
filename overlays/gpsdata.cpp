// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/gpsdata.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;

float WrapDegrees360(float d) {
    if (d >= 360.0f) d -= 360.0f;
    if (d < 0.0f) d += 360.0f;
    return d;
}
}  // namespace

int FixStatusFromGGAQuality(int quality, int current) {
    static constexpr int kTable[9] = {FIX_NONE, FIX_GPS,       FIX_DIFFERENTIAL, FIX_PPS,      FIX_RTK,
                                      FIX_RTK,  FIX_ESTIMATED, FIX_MANUAL,       FIX_SIMULATED};
    if (quality < 0 || quality > 8) return current;
    return kTable[quality];
}

void UnitVector::SetDegrees(float degrees) {
    const double r = double(degrees) * kDegToRad;
    x = float(std::sin(r));
    y = float(std::cos(r));
}

void MinMaxRange::Add(float value, double time) {
    m_samples.push_back({time, value});
    const double oldest = time - m_window;
    while (!m_samples.empty() && m_samples.front().time < oldest) m_samples.pop_front();
}

float MinMaxRange::Min() const {
    if (m_samples.empty()) return 0;
    float m = m_samples.front().value;
    for (const auto& s : m_samples) m = std::min(m, s.value);
    return m;
}

float MinMaxRange::Max() const {
    if (m_samples.empty()) return 0;
    float m = m_samples.front().value;
    for (const auto& s : m_samples) m = std::max(m, s.value);
    return m;
}

void CDataSpeedDirection::CompassDamping::Set(float new_heading, double time) {
    if (time_const < 0) {
        time_const = default_time_const;
        time_const_recip = time_const > 0 ? 1.0f / time_const : 0.0f;
    }
    const double dt = time - last_time;
    if (heading < kNoneThreshold && dt > 0 && dt <= time_const) {
        float delta = new_heading - heading;
        if (delta > 180.0f) delta -= 360.0f;
        if (delta < -180.0f) delta += 360.0f;
        heading = WrapDegrees360(heading + float(dt) * time_const_recip * delta);
    } else {
        heading = new_heading;
    }
    last_time = time;
    vec.SetDegrees(heading);
}

void CDataSpeedDirection::CompassDamping::Clear() {
    heading = kNoDirection;
    vec.Clear();
}

void CDataSpeedDirection::SetCourseSpeed(float new_course, float new_speed) {
    speed = new_speed <= 0.1f ? 0.0f : new_speed;
    course = new_course;
    course_vec.SetDegrees(new_course);
}

void CDataSpeedDirection::SetCompassHeading(float heading, double time) {
    // NaN fails every comparison: treat it as "no heading" rather than damping with it.
    if (!(heading < kNoneThreshold) || heading <= -360.0f) {
        compass.Clear();
        return;
    }
    compass.Set(WrapDegrees360(heading), time);
}

void CDataSpeedDirection::evaluate_best_direction() {
    if (speed > 0.3f) {
        best_mode = DIR_COURSE;
        best_vec = course_vec;
    } else if (compass.heading < kNoneThreshold) {
        best_mode = DIR_COMPASS;
        best_vec = compass.vec;
    } else if (avg_speed > 0.1f && use_averaged_direction) {
        best_mode = DIR_AVERAGED;
        best_vec = avg_vec;
    } else {
        invalid_direction();
    }
}

void CDataSpeedDirection::invalid_direction() {
    best_mode = DIR_NONE;
    best_vec.Clear();
}

float CDataSpeedDirection::get_speed() const {
    switch (best_mode) {
        case DIR_COURSE:
            return speed;
        case DIR_COMPASS:
        case DIR_AVERAGED:
            return avg_speed;
        default:
            return 0;
    }
}

float CDataSpeedDirection::get_heading() const {
    switch (best_mode) {
        case DIR_COURSE:
            return course;
        case DIR_COMPASS:
            return compass.heading;
        case DIR_AVERAGED:
            return avg_direction;
        default:
            return kNoDirection;
    }
}

bool CDataSpeedDirection::hasChangedCourseSpd() const {
    if (best_mode != DIR_COURSE) return false;
    if (!(avg_speed > 0.5f || speed > 1.0f)) return false;
    const double dx = double(speed) * course_vec.x - double(avg_speed) * avg_vec.x;
    const double dy = double(speed) * course_vec.y - double(avg_speed) * avg_vec.y;
    const double limit = (double(avg_speed) + double(speed) + 2.0) * 0.125;
    return dx * dx + dy * dy > limit * limit;
}

double CDataAltitude::Reciprocal(double timeConst) {
    return timeConst > 0.01 ? 1.0 / timeConst : 0.0;
}

void CDataAltitude::SetAltitudeSettings(double userOffset, mode_e newMode, double gpsTimeConst,
                                        double pressureSmoothingTime) {
    user_offset = userOffset;
    mode = newMode;
    gps_time_const = gpsTimeConst;
    gps_time_const_recip = Reciprocal(gpsTimeConst);
    pressure_smoothing_time = pressureSmoothingTime;
    pressure_smoothing_recip = Reciprocal(pressureSmoothingTime);
}

double CDataAltitude::altitudeFromPressure(double pressure, double dt) {
    if (!(pressure > 0) || !(ref_pressure > 0)) return last_baro_altitude;
    double a = 44330.0 * (1.0 - std::pow(pressure / ref_pressure, 0.1902663538687809));
    if (last_baro_altitude != 0 && dt >= 0 && dt <= pressure_smoothing_time) {
        a = last_baro_altitude + (a - last_baro_altitude) * dt * pressure_smoothing_recip;
    }
    last_baro_altitude = a;
    return a;
}

void CDataAltitude::Set(double gpsAltitude, double pressure, double time) {
    if (mode != ALT_TERRAIN) altitude = kNoAltitude;
    const bool havePressure = pressure > 0;
    if (!(ref_pressure > 0) && havePressure) {
        ref_pressure = pressure;
        filtered_offset = gpsAltitude;
    }
    const double dt = time - last_sample_time;
    // Moves the filtered value towards `target`, or jumps there when the last sample is
    // older than the time constant (or there was none).
    auto filter = [&](double target) {
        if (!(dt > 0)) return;
        if (dt > gps_time_const || gps_time_const_recip == 0)
            filtered_offset = target;
        else
            filtered_offset += dt * gps_time_const_recip * (target - filtered_offset);
    };
    switch (mode) {
        case ALT_BAROMETRIC:
            if (havePressure) altitude = altitudeFromPressure(pressure, dt) + filtered_offset + user_offset;
            break;
        case ALT_BLEND:
            if (havePressure) {
                const double baro = altitudeFromPressure(pressure, dt);
                filter(gpsAltitude - baro);
                altitude = baro + filtered_offset + user_offset;
                if (std::fabs(baro) > 100.0) {
                    // Far from the reference the barometric formula drifts: start again here.
                    ref_pressure = pressure;
                    filtered_offset = altitude - user_offset;
                    last_baro_altitude = 0;
                }
                break;
            }
            [[fallthrough]];
        case ALT_GPS:
            filter(gpsAltitude);
            altitude = filtered_offset + user_offset;
            break;
        default:
            break;
    }
    if (dt > 0) last_sample_time = time;
    last_gps_altitude = gpsAltitude;
}

bool CDataAltitude::DeclareAltitude(CSerializable::Section& s, bool hasBarometer) {
    bool ok = s.declare_value(gps_time_const);
    ok = s.declare_value(last_sample_time) && ok;
    ok = s.declare_value(filtered_offset) && ok;
    ok = s.declare_value(user_offset) && ok;
    ok = s.declare_value(mode) && ok;
    ok = s.declare_value(ref_pressure) && ok;
    ok = s.declare_value(pressure_smoothing_time) && ok;
    if (s.IsReading()) {
        gps_time_const_recip = Reciprocal(gps_time_const);
        pressure_smoothing_recip = Reciprocal(pressure_smoothing_time);
        if (!hasBarometer && (mode == ALT_BAROMETRIC || mode == ALT_BLEND)) mode = ALT_GPS;
    }
    return ok;
}

void CDataGPSPosition::SetLatLon(double newLat, double newLon) {
    lat = newLat;
    lon = newLon;
    grid.SetOrigin(newLat, newLon);
}

int CDataGPSSatelliteSignals::CountEntries() const {
    return int(std::count_if(satellites.begin(), satellites.end(), [](const Satellite& s) { return s.number != 0; }));
}
