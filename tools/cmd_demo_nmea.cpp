// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool demo-nmea: writes the demo feed, an NMEA 0183 log of an hour's sail across
// Lyme Bay, so the application can be shown (and tested) without a boat.
//
// The sail is computed, not recorded: a west-south-westerly of about 14 knots with slow
// shifts and gusts, a boat beating to windward in long tacks and then reaching home, a
// weak flood tide setting east. Around it a ferry, a yacht, a trawler, a buoy and a cargo
// ship that crosses close ahead a few minutes in (ais_demo_traffic.cpp). Everything comes
// from sines of the elapsed time, so the same arguments give the same bytes on every run.

#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/ais_demo_traffic.h"
#include "tools/tool_command.h"

namespace {

using NDemoTraffic::Format;

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

// Start: Lyme Bay, 8 nautical miles off the Dorset coast; 2026-06-14 10:00:00 UTC.
constexpr double kStartLat = 50.5600;
constexpr double kStartLon = -2.8800;
constexpr int kStartHour = 10;
constexpr const char* kDate = "140626";
constexpr double kVariationWest = 1.2;  // degrees, magnetic variation in the bay
constexpr double kCurrentKnots = 0.3;
constexpr double kCurrentSet = 80.0;  // towards

int Fail(const std::string& message) {
    std::fprintf(stderr, "navora-tool demo-nmea: %s\n", message.c_str());
    return 1;
}

double Wrap360(double a) {
    a = std::fmod(a, 360.0);
    return a < 0 ? a + 360.0 : a;
}
double Wrap180(double a) {
    a = Wrap360(a);
    return a > 180.0 ? a - 360.0 : a;
}
double Wave(double t, double period, double phase = 0) {
    return std::sin(2 * kPi * t / period + phase);
}

// "$" + body + "*hh\r\n".
std::string Sentence(const std::string& body) {
    unsigned char sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}


// "ddmm.mmmm,N" / "dddmm.mmmm,W", rounded once so the minutes never print as 60.
std::string Angle(double value, int degreeDigits, char positive, char negative) {
    const long long units = std::llround(std::fabs(value) * 60.0 * 10000.0);
    const long long degrees = units / 600000;
    const long long minutes = units % 600000;
    return Format("%0*lld%02lld.%04lld,%c", degreeDigits, degrees, minutes / 10000, minutes % 10000,
                  value < 0 ? negative : positive);
}

// The plan: headings to steer, by elapsed second. Close-hauled is 42 degrees off the
// mean wind of 240: 282 on port tack, 198 on starboard; then a reach on 330.
double PlannedHeading(int t) {
    if (t < 600) return 282;
    if (t < 1320) return 198;
    if (t < 2100) return 282;
    if (t < 2640) return 198;
    return 330;
}

// Boat speed through the water for a true wind angle (degrees off the bow, 0..180) in
// 14 knots of wind; head to wind the boat stalls.
double Polar(double twa) {
    if (twa < 35) return 4.0;
    if (twa < 50) return 5.0 + (twa - 35) * 0.08;
    if (twa < 100) return 6.2 + (twa - 50) * 0.012;
    if (twa < 150) return 6.8 - (twa - 100) * 0.008;
    return 6.4 - (twa - 150) * 0.01;
}

struct Satellite {
    int prn;
    double elevation;  // at the start
    double azimuth;
    double snr;
};
const Satellite kSatellites[] = {
    {2, 45, 120, 42}, {5, 30, 200, 38},  {12, 62, 300, 45}, {15, 18, 10, 33},
    {19, 71, 90, 46}, {24, 25, 250, 36}, {25, 38, 44, 40},  {29, 12, 330, 30},
};

// The whole log, `minutes` long: the boat's own sentences, then what its AIS receiver
// heard in the same second.
std::string Generate(int minutes) {
    const int seconds = minutes * 60;
    // The ships' tracks depend on where the sail takes the boat, so the sail is worked
    // out first (far enough for them even in a short log).
    const int sailed = std::max(seconds, NDemoTraffic::kCrossingSecond + 1);
    std::vector<std::string> own(static_cast<size_t>(sailed));
    std::vector<NDemoTraffic::BoatState> states(static_cast<size_t>(sailed));
    double lat = kStartLat, lon = kStartLon;
    double heading = PlannedHeading(0);
    double boatSpeed = 5.4;
    for (int t = 0; t < sailed; ++t) {
        std::string& out = own[size_t(t)];
        // Wind: slow shifts and gusts around 240 degrees, 14 knots.
        const double twd = 240 + 5 * Wave(t, 600) + 2 * Wave(t, 131, 0.7);
        const double tws = 14 + 1.8 * Wave(t, 420) + 0.9 * Wave(t, 97, 1.0);

        // Helm: turn towards the plan, 6 degrees a second at most (a tack takes ~14 s).
        const double turn = Wrap180(PlannedHeading(t) - heading);
        heading = Wrap360(heading + std::fmax(-6.0, std::fmin(6.0, turn)));
        const double steered = Wrap360(heading + 1.5 * Wave(t, 23) + 0.8 * Wave(t, 7, 2.0));

        // Speed through the water follows the polar with a 25 s lag; gusts help a little.
        const double windOffBow = Wrap180(twd - steered);  // negative: wind from port
        const double twa = std::fabs(windOffBow);
        const double target = Polar(twa) * (1 + (tws - 14) * 0.02);
        boatSpeed += (target - boatSpeed) / 25.0;

        // Over the ground: leeway away from the wind, plus the tide.
        const double leeway = (twa < 60 ? 3.0 : 1.0) * (windOffBow < 0 ? 1 : -1);
        const double wx =
            boatSpeed * std::sin((steered + leeway) * kDeg) + kCurrentKnots * std::sin(kCurrentSet * kDeg);
        const double wy =
            boatSpeed * std::cos((steered + leeway) * kDeg) + kCurrentKnots * std::cos(kCurrentSet * kDeg);
        const double sog = std::hypot(wx, wy);
        const double cog = Wrap360(std::atan2(wx, wy) / kDeg);

        // The fix of this second, then the move to the next one.
        const int clock = kStartHour * 3600 + t;
        const std::string hms = Format("%02d%02d%02d.00", clock / 3600 % 24, clock / 60 % 60, clock % 60);
        const std::string position = Angle(lat, 2, 'N', 'S') + "," + Angle(lon, 3, 'E', 'W');
        states[size_t(t)] = NDemoTraffic::BoatState{lat, lon, sog, cog};
        out += Sentence("GPRMC," + hms + ",A," + position + Format(",%.2f,%.1f,", sog, cog) + kDate +
                        Format(",%.1f,W,A", kVariationWest));
        const double altitude = 1.5 + 0.6 * Wave(t, 6.3) + 0.3 * Wave(t, 17);
        const double hdop = 0.9 + 0.1 * Wave(t, 300);

        // Satellites drift slowly across the sky; those above 10 degrees are used.
        std::vector<std::string> blocks;
        std::string used;
        int inUse = 0;
        for (const Satellite& s : kSatellites) {
            const double elevation = std::fmax(1.0, s.elevation + 3600.0 * 0.0025 * Wave(t, 14400, s.prn));
            const double azimuth = Wrap360(s.azimuth + t * 0.004);
            const double snr = std::fmin(50.0, s.snr + 2.0 * Wave(t, 41, s.prn) + (elevation - s.elevation) * 0.2);
            blocks.push_back(Format("%02d,%02d,%03d,%02d", s.prn, int(elevation), int(azimuth) % 360, int(snr)));
            if (elevation > 10 && inUse < 12) {
                used += Format("%02d,", s.prn);
                ++inUse;
            }
        }
        for (int i = inUse; i < 12; ++i) used += ",";

        out +=
            Sentence("GPGGA," + hms + "," + position + Format(",1,%02d,%.1f,%.1f,M,49.9,M,,", inUse, hdop, altitude));
        out += Sentence("GPGSA,A,3," + used + Format("%.1f,%.1f,%.1f", hdop + 0.7, hdop, hdop + 0.4));
        const int count = int(std::size(kSatellites));
        const int messages = (count + 3) / 4;
        for (int m = 0; m < messages; ++m) {
            std::string body = Format("GPGSV,%d,%d,%02d", messages, m + 1, count);
            for (int j = 4 * m; j < count && j < 4 * m + 4; ++j) body += "," + blocks[size_t(j)];
            out += Sentence(body);
        }
        out += Sentence(
            Format("GPVTG,%.1f,T,%.1f,M,%.2f,N,%.2f,K,A", cog, Wrap360(cog + kVariationWest), sog, sog * 1.852));
        out += Sentence(Format("HCHDG,%.1f,0.0,E,%.1f,W", Wrap360(steered + kVariationWest), kVariationWest));

        if (t % 2 == 0) {
            // Apparent wind: the true wind plus the wind of the boat's own motion, as the
            // masthead sees it (off the bow); then the true wind as the instrument works
            // it out.
            const double fx = tws * std::sin(twd * kDeg) + sog * std::sin(cog * kDeg);
            const double fy = tws * std::cos(twd * kDeg) + sog * std::cos(cog * kDeg);
            const double awa = Wrap360(std::atan2(fx, fy) / kDeg - steered);
            out += Sentence(Format("WIMWV,%.1f,R,%.1f,N,A", awa, std::hypot(fx, fy)));
            out += Sentence(Format("WIMWV,%.1f,T,%.1f,N,A", Wrap360(windOffBow), tws));
        }
        if (t % 5 == 0) {
            // The bay shoals towards the Dorset shore.
            const double depth = 32.0 + (50.70 - lat) * 60.0 + 1.5 * Wave(t, 211);
            out += Sentence(Format("SDDPT,%.1f,0.4", depth));
        }

        lat += wy / 3600.0 / 60.0;
        lon += wx / 3600.0 / 60.0 / std::cos(lat * kDeg);
    }
    std::string out;
    out.reserve(size_t(seconds) * 560);
    for (int t = 0; t < seconds; ++t) out += own[size_t(t)] + NDemoTraffic::DemoAisTraffic(t, states);
    return out;
}

int DemoNmea(const QStringList& argv) {
    ToolArgs args(argv);
    bool haveOut = false, haveMinutes = false;
    const QString outPath = args.TakeOption(QStringLiteral("-o"), &haveOut);
    const QString minutesText = args.TakeOption(QStringLiteral("--minutes"), &haveMinutes);
    const bool drill = args.TakeFlag(QStringLiteral("--drill"));
    if (args.HasError()) return Fail(args.Error().toStdString());
    if (!args.Rest().isEmpty()) return Fail("unexpected argument '" + args.Rest()[0].toStdString() + "'");
    if (!haveOut || outPath.isEmpty()) return Fail("-o FILE is required");
    if (drill && haveMinutes) return Fail("the drill has its own length: give --drill or --minutes, not both");
    int minutes = 60;
    if (haveMinutes && (!ParseInt(minutesText, minutes) || minutes < 1 || minutes > 240))
        return Fail("--minutes must be a whole number from 1 to 240");

    const std::string text = drill ? NDemoTraffic::DrillLog() : Generate(minutes);
    const std::string path = outPath.toStdString();
    const std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return Fail("cannot write " + tmp);
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return Fail("cannot write " + path);
    }
    return 0;
}

ToolCommandRegistry::Registrar s_demoNmea(
    {"demo-nmea", "-o FILE [--minutes N | --drill]",
     "write the demo NMEA log: a sail across Lyme Bay at 1 Hz (60 minutes) among AIS traffic, one ship crossing "
     "close ahead; --drill: man overboard, SART and DSC distress traffic to practise with",
     DemoNmea});

}  // namespace
