// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/ais_demo_traffic.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "core/geometry.h"
#include "navdata/ais_encode.h"

namespace NDemoTraffic {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;
constexpr double kKnot = 1852.0 / 3600.0;  // metres a second


std::string Lines(const std::vector<std::string>& sentences) {
    std::string out;
    for (const std::string& s : sentences) out += s + "\r\n";
    return out;
}

// "$" + body + "*hh\r\n".
std::string Sentence(const std::string& body) {
    unsigned char sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    return "$" + body + Format("*%02X\r\n", sum);
}

// The position `metres` along `course` from (lat, lon).
void Move(double& lat, double& lon, double course, double metres) {
    const CSimpleGrid grid(lat, lon);
    grid.FromGrid(metres * std::sin(course * kDeg), metres * std::cos(course * kDeg), lat, lon);
}

// A ship that holds its course and speed: where it is at second t.
struct Straight {
    double lat0, lon0;  // at second 0
    double knots, course;
    void At(int t, double& lat, double& lon) const {
        lat = lat0;
        lon = lon0;
        Move(lat, lon, course, knots * kKnot * t);
    }
};

// Transmissions are spread over the seconds so that no second carries many.
bool Every(int t, int period, int phase) {
    return t >= 0 && t % period == phase;
}

char Channel(int t) {
    return (t / 7) % 2 ? 'B' : 'A';
}

// ---- the demo sail's neighbours

const Straight kFerry{50.515, -3.08, 21.0, 100.0};
const Straight kYacht{50.585, -2.86, 5.2, 280.0};
constexpr double kShipKnots = 14.0;
constexpr double kShipCourse = 170.0;
constexpr int kShipAppears = 150;

NAisEncode::StaticA FerryStatic() {
    NAisEncode::StaticA s;
    s.mmsi = 235101000;
    s.imo = 9701234;
    s.callsign = "MCSP4";
    s.name = "CHANNEL SPIRIT";
    s.ship_type = 60;
    s.to_bow = 70;
    s.to_stern = 25;
    s.to_port = 10;
    s.to_starboard = 10;
    s.eta_month = 6;
    s.eta_day = 14;
    s.eta_hour = 13;
    s.eta_minute = 30;
    s.draught = 3.8;
    s.destination = "ST PETER PORT";
    return s;
}

NAisEncode::StaticA FishingStatic() {
    NAisEncode::StaticA s;
    s.mmsi = 235103000;
    s.callsign = "MGHP2";
    s.name = "GOOD HOPE";
    s.ship_type = 30;
    s.to_bow = 18;
    s.to_stern = 5;
    s.to_port = 3;
    s.to_starboard = 3;
    s.draught = 2.5;
    s.destination = "BRIXHAM";
    return s;
}

NAisEncode::StaticA ShipStatic() {
    NAisEncode::StaticA s;
    s.mmsi = 235104000;
    s.imo = 9512345;
    s.callsign = "MNTR9";
    s.name = "NORDIC TRADER";
    s.ship_type = 70;
    s.to_bow = 80;
    s.to_stern = 20;
    s.to_port = 8;
    s.to_starboard = 8;
    s.eta_month = 6;
    s.eta_day = 14;
    s.eta_hour = 16;
    s.eta_minute = 0;
    s.draught = 6.2;
    s.destination = "PORTLAND";
    return s;
}

// The trawler tows to the north-east for a quarter of an hour, then back.
void FishingAt(int t, double& lat, double& lon, double& course) {
    lat = 50.605;
    lon = -2.80;
    const int leg = t / 900;
    const double metresPerLeg = 3.0 * kKnot * 900;
    if (leg % 2 == 0) {
        course = 45;
        Move(lat, lon, 45, 3.0 * kKnot * (t % 900));
    } else {
        course = 225;
        Move(lat, lon, 45, metresPerLeg);
        Move(lat, lon, 225, 3.0 * kKnot * (t % 900));
    }
}

// The cargo ship's track: it passes kCrossingMetres from the boat at kCrossingSecond,
// ahead of it, whatever the wind made of the sail until then.
void ShipAt(int t, const std::vector<BoatState>& boat, double& lat, double& lon) {
    const BoatState& b = boat[size_t(kCrossingSecond)];
    const double bx = b.sog * kKnot * std::sin(b.cog * kDeg), by = b.sog * kKnot * std::cos(b.cog * kDeg);
    const double sx = kShipKnots * kKnot * std::sin(kShipCourse * kDeg);
    const double sy = kShipKnots * kKnot * std::cos(kShipCourse * kDeg);
    // At the closest point the two are apart across their relative motion.
    const double vx = sx - bx, vy = sy - by;
    const double v = std::hypot(vx, vy);
    double nx = -vy / v, ny = vx / v;
    if (nx * bx + ny * by < 0) {
        nx = -nx;
        ny = -ny;
    }
    const double dt = t - kCrossingSecond;
    const CSimpleGrid grid(b.lat, b.lon);
    grid.FromGrid(nx * kCrossingMetres + sx * dt, ny * kCrossingMetres + sy * dt, lat, lon);
}

NAisEncode::PositionA Report(uint32_t mmsi, int status, double lat, double lon, double knots, double course,
                             int t) {
    NAisEncode::PositionA m;
    m.mmsi = mmsi;
    m.status = status;
    m.rot_raw = 0;
    m.speed = knots;
    m.lat = lat;
    m.lon = lon;
    m.course = course;
    m.heading = int(std::lround(course)) % 360;
    m.second = t % 60;
    return m;
}

}  // namespace

std::string DemoAisTraffic(int t, const std::vector<BoatState>& boat) {
    std::string out;
    double lat = 0, lon = 0;
    const char ch = Channel(t);
    const int sequence = (t / 60) % 10;
    // A fast ferry crossing south of the boat towards Guernsey.
    if (Every(t, 10, 3)) {
        kFerry.At(t, lat, lon);
        out += Lines(NAisEncode::Encode(Report(235101000, 0, lat, lon, kFerry.knots, kFerry.course, t), ch));
    }
    if (Every(t, 360, 7)) out += Lines(NAisEncode::Encode(FerryStatic(), ch, sequence));
    // A class B yacht sailing west a mile and a half to the north.
    if (Every(t, 30, 12)) {
        kYacht.At(t, lat, lon);
        NAisEncode::PositionB m;
        m.mmsi = 235102000;
        m.speed = kYacht.knots;
        m.lat = lat;
        m.lon = lon;
        m.course = kYacht.course;
        m.second = t % 60;
        out += Lines(NAisEncode::Encode(m, ch));
    }
    if (Every(t, 360, 21) || Every(t, 360, 22)) {
        NAisEncode::StaticB s;
        s.mmsi = 235102000;
        s.part = t % 360 == 21 ? 0 : 1;
        s.name = "KESTREL";
        s.ship_type = 36;
        s.vendor = "NAVORA1";
        s.callsign = "2KES7";
        s.to_bow = 9;
        s.to_stern = 2;
        s.to_port = 2;
        s.to_starboard = 2;
        out += Lines(NAisEncode::Encode(s, ch));
    }
    // A trawler at work to the north-east.
    if (Every(t, 10, 5)) {
        double course = 0;
        FishingAt(t, lat, lon, course);
        out += Lines(NAisEncode::Encode(Report(235103000, 7, lat, lon, 3.0, course, t), ch));
    }
    if (Every(t, 360, 33)) out += Lines(NAisEncode::Encode(FishingStatic(), ch, sequence));
    // A special-mark buoy of the firing range to the south-east.
    if (Every(t, 180, 17)) {
        NAisEncode::AidToNavigation a;
        a.mmsi = 992351234;
        a.aid_type = 30;
        a.name = "DZ BUOY E";
        a.lat = 50.535;
        a.lon = -2.815;
        a.to_bow = a.to_stern = a.to_port = a.to_starboard = 1;
        out += Lines(NAisEncode::Encode(a, ch));
    }
    // The cargo ship comes into range a few minutes in, on a course that crosses close
    // ahead of the boat.
    if (t >= kShipAppears) {
        if (Every(t, 10, 8)) {
            ShipAt(t, boat, lat, lon);
            out += Lines(NAisEncode::Encode(Report(235104000, 0, lat, lon, kShipKnots, kShipCourse, t), ch));
        }
        if (Every(t - kShipAppears, 360, 1)) out += Lines(NAisEncode::Encode(ShipStatic(), ch, sequence));
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The drill

namespace {

// 14 June 2026 from 12:00:00 UTC, in the middle of Lyme Bay.
constexpr int kDrillStartHour = 12;
constexpr int kDrillSeconds = 900;
constexpr double kDrillLat = 50.62;
constexpr double kDrillLon = -2.70;

std::string Angle(double value, int degreeDigits, char positive, char negative) {
    const long long units = std::llround(std::fabs(value) * 60.0 * 10000.0);
    return Format("%0*lld%02lld.%04lld,%c", degreeDigits, units / 600000, units % 600000 / 10000, units % 10000,
                  value < 0 ? negative : positive);
}

// A DSC position: quadrant, degrees and whole minutes ("qddmmdddmm"), and the tenths of
// thousandths of the minutes that a DSE expansion adds.
std::string DscPosition(double lat, double lon, std::string* expansion) {
    const int quadrant = (lat < 0 ? 2 : 0) + (lon < 0 ? 1 : 0);
    const double alat = std::fabs(lat) * 60.0, alon = std::fabs(lon) * 60.0;
    const int latMin = int(alat), lonMin = int(alon);
    if (expansion)
        *expansion = Format("%04d%04d", int(std::lround((alat - latMin) * 10000)) % 10000,
                            int(std::lround((alon - lonMin) * 10000)) % 10000);
    return Format("%d%02d%02d%03d%02d", quadrant, latMin / 60, latMin % 60, lonMin / 60, lonMin % 60);
}

}  // namespace

std::string DrillLog() {
    std::string out;
    double lat = kDrillLat, lon = kDrillLon;
    double course = 270, speed = 5.0;
    // The beacon of the crew member who goes over the side at second 15.
    double mobLat = 0, mobLon = 0;
    constexpr double kDriftKnots = 0.4, kDriftCourse = 60;
    // A liferaft's transponder 2.5 nautical miles to the south-west, drifting north-east.
    double raftLat = kDrillLat, raftLon = kDrillLon;
    Move(raftLat, raftLon, 225, 2.5 * 1852);
    // The vessel in distress 3 nautical miles to the north-east; a routine caller to the west.
    double distressLat = kDrillLat, distressLon = kDrillLon;
    Move(distressLat, distressLon, 40, 3.0 * 1852);
    double callerLat = kDrillLat, callerLon = kDrillLon;
    Move(callerLat, callerLon, 275, 1.5 * 1852);

    for (int t = 0; t < kDrillSeconds; ++t) {
        const int clock = kDrillStartHour * 3600 + t;
        const std::string hms = Format("%02d%02d%02d", clock / 3600 % 24, clock / 60 % 60, clock % 60);
        const std::string position = Angle(lat, 2, 'N', 'S') + "," + Angle(lon, 3, 'E', 'W');
        out += Sentence("GPRMC," + hms + ".00,A," + position + Format(",%.2f,%.1f,", speed, course) +
                        "140626,1.2,W,A");
        out += Sentence("GPGGA," + hms + ".00," + position + ",1,09,0.8,2.0,M,49.9,M,,");

        if (t == 15) {
            mobLat = lat;
            mobLon = lon;
        }
        if (t > 15) Move(mobLat, mobLon, kDriftCourse, kDriftKnots * kKnot);
        // The beacon switches on 10 s after the fall and sends every 10 s (a real one
        // sends bursts of eight a minute).
        if (t >= 25 && Every(t, 10, 5)) {
            NAisEncode::PositionA m = Report(972351234, 14, mobLat, mobLon, kDriftKnots, kDriftCourse, t);
            m.heading = 511;
            out += Lines(NAisEncode::Encode(m, Channel(t)));
        }
        Move(raftLat, raftLon, 45, 0.5 * kKnot);
        if (t >= 300 && Every(t, 60, 30)) {
            NAisEncode::PositionA m = Report(970351235, 14, raftLat, raftLon, 0.5, 45, t);
            m.heading = 511;
            out += Lines(NAisEncode::Encode(m, Channel(t)));
        }
        if (t == 420) {
            std::string expansion;
            const std::string pos = DscPosition(distressLat, distressLon, &expansion);
            out += Sentence("CDDSC,12,2350987650,12,01,00," + pos + "," + hms.substr(0, 4) + ",,,S,E");
            out += Sentence("CDDSE,1,1,A,2350987650,00," + expansion);
        }
        if (t == 600) {
            out += Sentence("CDDSC,20,2350765430,00,21,26," + DscPosition(callerLat, callerLon, nullptr) + "," +
                            hms.substr(0, 4) + ",,,B,");
        }

        // The helm: carry on for a minute, turn back through 180 degrees, then steer for
        // the beacon and lie alongside it.
        if (t < 75) {
            course = 270;
            speed = 5.0;
        } else if (t < 135) {
            course = std::fmod(270 + 3.0 * (t - 75), 360.0);
            speed = 4.0;
        } else {
            const CSimpleGrid grid(lat, lon);
            double x = 0, y = 0;
            grid.ToGrid(mobLat, mobLon, x, y);
            const double distance = std::hypot(x, y);
            if (distance < 15) {
                course = kDriftCourse;
                speed = kDriftKnots;
            } else {
                course = std::fmod(std::atan2(x, y) / kDeg + 360.0, 360.0);
                speed = std::min(4.0, std::max(1.0, distance / 40.0));
            }
        }
        Move(lat, lon, course, speed * kKnot);
    }
    return out;
}

std::string Format(const char* format, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

}  // namespace NDemoTraffic

