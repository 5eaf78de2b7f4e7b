// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/units.h"

#include <QDateTime>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/pubsub.h"
#include "units/gridformats.h"
#include "units/wmm.h"

// The registry and its formats live in this file on purpose: the library is static, and
// anything that uses the registry pulls this object file in, formats included.
const CUnits::PositionFormatType* CUnits::PositionFormatType::head = nullptr;

namespace {

std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* fmt, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

const char kDegree[] = "\xC2\xB0";

struct UnitEntry {
    const char* name;
    float factor;
};

const UnitEntry kDistance[CUnits::kDistanceUnitCount] = {
    {"Mi", 0.000621371204f}, {"NM", 0.000539956789f}, {"km", 0.001f}, {"m", 1.0f}, {"ft", 3.281f}, {"yds", 1.0936f},
};
const UnitEntry kSpeed[CUnits::kSpeedUnitCount] = {
    {"mph", 1.15077949f}, {"kts", 1.0f}, {"km/h", 1.852f}, {"m/s", 0.514444470f}};
const UnitEntry kDepth[CUnits::kDepthUnitCount] = {{"ft", 3.281f}, {"m", 1.0f}, {"fathom", 0.546833336f}};
const char* const kFamilies[CUnits::kFamilyCount] = {"Statute", "Nautical", "Metric"};

template <size_t N>
int Clamp(int i, const UnitEntry (&)[N]) {
    return (i >= 0 && i < int(N)) ? i : 0;
}

std::string g_modelPath = ":/WMM_COF";

}  // namespace

// Registered formats, in the order the settings page lists them.
static const CUnits::PosFmtDeg s_fmtDeg;
static const CUnits::PosFmtDegMin s_fmtDegMin;
static const CUnits::PosFmtDMS s_fmtDMS;
static const CUnitsPositionUTM84 s_fmtUTM;
static const CUnitsPositionUTM84bands s_fmtUTMBands;
static const CUnitsOSGB s_fmtOSGB;
static const CUnitsIrishGrid s_fmtIrish;
static const CUnitsMGRS s_fmtMGRS;
static const CUnitsNZTM s_fmtNZTM;

const CUnits::CUnitSettingsType CUnits::settingsType;
CUnits CDefaultUnits::u{CUnits::DefaultTag{}};
CDefaultUnits::Persistant CDefaultUnits::settings;

// ---- registry

CUnits::PositionFormatType::PositionFormatType(const char* n) : name(n), next(head) {
    head = this;
}

const CUnits::PositionFormatType* CUnits::PositionFormatType::Find(const std::string& n) {
    for (const PositionFormatType* p = head; p; p = p->next) {
        if (n == p->name) return p;
    }
    return nullptr;
}

std::vector<const CUnits::PositionFormatType*> CUnits::PositionFormatType::All() {
    std::vector<const PositionFormatType*> list;
    for (const PositionFormatType* p = head; p; p = p->next) list.insert(list.begin(), p);
    return list;
}

// ---- construction

CUnits::CUnits(DefaultTag)
    : posfmt(&s_fmtDegMin),
      dist_units(e_miles),
      small_dist_units(e_feet),
      speed_units(0),
      depth_units(0),
      bearing_mode(0),
      temperature_unit(1),
      magnetic_variation(0),
      bearing_lat(999.0),
      bearing_lon(999.0),
      bearing_time(999.0) {}

CUnits::CUnits() : CUnits(DefaultTag{}) {
    const CUnits& d = CDefaultUnits::u;
    // A CUnits built during static initialisation, before the default object, keeps the
    // built-in defaults.
    if (d.posfmt) {
        posfmt = d.posfmt;
        dist_units = d.dist_units;
        small_dist_units = d.small_dist_units;
        speed_units = d.speed_units;
        depth_units = d.depth_units;
    }
}

// ---- tables

const char* CUnits::DistanceUnitName(int i) {
    return kDistance[Clamp(i, kDistance)].name;
}
float CUnits::DistanceFactor(int i) {
    return kDistance[Clamp(i, kDistance)].factor;
}
const char* CUnits::SpeedUnitName(int i) {
    return kSpeed[Clamp(i, kSpeed)].name;
}
float CUnits::SpeedFactor(int i) {
    return kSpeed[Clamp(i, kSpeed)].factor;
}
const char* CUnits::DepthUnitName(int i) {
    return kDepth[Clamp(i, kDepth)].name;
}
float CUnits::DepthFactor(int i) {
    return kDepth[Clamp(i, kDepth)].factor;
}
const char* CUnits::FamilyName(int f) {
    return (f >= 0 && f < kFamilyCount) ? kFamilies[f] : kFamilies[0];
}

CUnits::e_dist_units CUnits::SmallUnitOf(int family) {
    switch (family) {
        case e_miles:
            return e_feet;
        case e_nautical_miles:
            return e_yards;
        case e_km:
            return e_metres;
        default:
            return (family > 0 && family < kDistanceUnitCount) ? e_dist_units(family) : e_feet;
    }
}

void CUnits::set_unit_family(e_dist_units family) {
    switch (family) {
        case e_miles:
            dist_units = e_miles;
            small_dist_units = e_feet;
            speed_units = 0;
            depth_units = 0;
            temperature_unit = 1;
            break;
        case e_nautical_miles:
            dist_units = e_nautical_miles;
            small_dist_units = e_yards;
            speed_units = 1;
            break;
        case e_km:
            dist_units = e_km;
            small_dist_units = e_metres;
            speed_units = 2;
            depth_units = 1;
            temperature_unit = 0;
            break;
        default:
            if (family > 0 && family < kDistanceUnitCount) {
                dist_units = family;
                small_dist_units = family;
            }
            break;
    }
}

// ---- distances

void CUnits::FormatDistance(double metres, std::string& value, std::string& unit) const {
    int u = dist_units;
    double v = metres * DistanceFactor(u);
    if (v <= 0.1) {
        u = small_dist_units;
        v = metres * DistanceFactor(u);
    }
    value = Printf(v >= 100 ? "%.0f" : v >= 10 ? "%.1f" : "%.2f", v);
    unit = DistanceUnitName(u);
}

void CUnits::FormatDistance(double metres, std::string& text) const {
    std::string value, unit;
    FormatDistance(metres, value, unit);
    text = value + " " + unit;
}

void CUnits::FormatDistanceValue(double metres, std::string& text) const {
    const double v = metres * DistanceFactor(dist_units);
    if (v >= 1000) {
        text = Printf("%.0f", v);
    } else if (std::fabs(v) < 0.001) {
        text = "0";
    } else {
        text = Printf("%.3g", v);
    }
}

int CUnits::format_scale(double metresPerPixel, std::string& text, int maxWidth, double* barMetres) const {
    text.clear();
    if (!(metresPerPixel > 0) || !std::isfinite(metresPerPixel) || maxWidth <= 0) return 0;
    const double maxMetres = metresPerPixel * maxWidth;
    int u = dist_units;
    // Below one whole family unit the bar reads better in the small unit (500 m, not 0.5 km).
    if (maxMetres * DistanceFactor(u) < 1.0) u = small_dist_units;
    const double factor = DistanceFactor(u);
    const double maxValue = maxMetres * factor;
    if (!(maxValue > 0) || !std::isfinite(maxValue)) return 0;
    double decade = std::pow(10.0, std::floor(std::log10(maxValue)));
    double value = decade;
    // Guard against log10 rounding just below an exact power of ten.
    if (decade * 10 <= maxValue * (1 + 1e-12)) decade *= 10, value = decade;
    for (double m : {5.0, 2.0, 1.0}) {
        if (m * decade <= maxValue * (1 + 1e-12)) {
            value = m * decade;
            break;
        }
    }
    const double metres = value / factor;
    int width = int(std::lround(metres / metresPerPixel));
    if (width > maxWidth) width = maxWidth;
    if (width < 1) return 0;
    text = Printf("%g %s", value, DistanceUnitName(u));
    if (barMetres) *barMetres = metres;
    return width;
}

// ---- speeds, depths, temperatures

void CUnits::FormatSpeedValue(double knots, std::string& text) const {
    const double v = knots * SpeedFactor(speed_units);
    text = Printf(v < 1 ? "%.02f" : "%.01f", v);
}

void CUnits::FormatSpeed(double knots, std::string& text) const {
    FormatSpeedValue(knots, text);
    text += " ";
    text += SpeedUnitName(speed_units);
}

void CUnits::FormatDepthValue(double metres, std::string& text) const {
    if (metres <= -9999 || !std::isfinite(metres)) {
        text = "---";
        return;
    }
    double v = metres * DepthFactor(depth_units);
    if (std::fabs(v) <= 0.01) v = 0.0;
    text = Printf(std::fabs(v) >= 10 ? "%.0f" : "%.1f", v);
}

void CUnits::FormatDepth(double metres, std::string& text) const {
    FormatDepthValue(metres, text);
    if (text == "---") return;
    text += " ";
    text += DepthUnitName(depth_units);
}

const char* CUnits::GetTemperatureUnit() const {
    return temperature_unit == 0 ? "\xC2\xB0"
                                   "C"
                                 : "\xC2\xB0"
                                   "F";
}

void CUnits::FormatTemperatureValue(double celsius, std::string& text) const {
    text = Printf("%.1f", temperature_unit == 0 ? celsius : celsius * 1.8 + 32);
}

// ---- bearings and magnetic variation

void CUnits::FormatBearingValue(double degrees, std::string& text) const {
    text.clear();
    if (!(degrees <= 900)) return;  // unknown (also NaN)
    double v = degrees;
    if (bearing_mode == 1) v -= magnetic_variation;
    v = std::fmod(v, 360.0);
    if (v < 0) v += 360.0;
    int d = int(v + 0.4999);
    if (d >= 360) d -= 360;
    text = Printf("%03d", d);
}

void CUnits::FormatBearing(double degrees, std::string& text) const {
    FormatBearingValue(degrees, text);
    if (text.empty()) return;
    std::string unit;
    GetBearingUnit(unit);
    text += unit;
}

void CUnits::GetBearingUnit(std::string& text) const {
    text = kDegree;
    text += bearing_mode == 1 ? "M" : "T";
}

bool CUnits::SetBearingLocation(double lat, double lon, double time) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(time)) return false;
    const double dlat = lat - bearing_lat, dlon = lon - bearing_lon;
    if (dlat * dlat + dlon * dlon < 1.0) return false;
    magnetic_variation = get_magnetic_declination(g_modelPath, lat, lon, 100.0, time);
    bearing_lat = lat;
    bearing_lon = lon;
    bearing_time = time;
    if (this == &CDefaultUnits::u) CDefaultUnits::MarkChanged();
    return true;
}

void CUnits::ChangedBearingUnits() {
    const double lat = bearing_lat, lon = bearing_lon;
    bearing_lat = 999.0;
    bearing_lon = 999.0;
    if (lat != 999.0 && lon != 999.0) SetBearingLocation(lat, lon, CDataSource::Now());
}

void CUnits::SetMagneticModelPath(const std::string& path) {
    g_modelPath = path;
}
std::string CUnits::MagneticModelPath() {
    return g_modelPath;
}

// ---- positions

bool CUnits::FormatPosition(double lat, double lon, std::string& text) const {
    const PositionFormatType* f = posfmt ? posfmt : &s_fmtDegMin;
    return f->format(lat, lon, text);
}

bool CUnits::ScanPosition(const char* text, double& lat, double& lon) const {
    const PositionFormatType* f = posfmt ? posfmt : &s_fmtDegMin;
    return f->scan(text, lat, lon);
}

namespace {

void AppendAngle(std::string& text, double value, char pos, char neg, int style) {
    if (style == 3) {
        text += Printf("%8.5f", value);
        return;
    }
    const char hemi = value < 0 ? neg : pos;
    const double a = std::fabs(value);
    switch (style) {
        case 0:
            text += Printf("%8.5f%s", a, kDegree);
            break;
        case 1: {
            int deg = int(a);
            double min = (a - deg) * 60.0;
            if (min > 59.9995) {
                ++deg;
                min = 0.0;
            }
            text += Printf("%d%s%06.3f'", deg, kDegree, min);
            break;
        }
        default: {
            int deg = int(a);
            const double minutes = (a - deg) * 60.0;
            int min = int(minutes);
            double sec = (minutes - min) * 60.0;
            if (sec > 59.95) {
                sec = 0.0;
                ++min;
            }
            if (min >= 60) {
                min -= 60;
                ++deg;
            }
            text += Printf("%d%s%d'%04.1f\"", deg, kDegree, min, sec);
            break;
        }
    }
    text += hemi;
}

}  // namespace

void CUnits::appendPosition(std::string& text, double lat, double lon, int style) {
    AppendAngle(text, lat, 'N', 'S', style);
    text += ", ";
    AppendAngle(text, lon, 'E', 'W', style);
}

bool CUnits::PosFmtLatLon::format(double lat, double lon, std::string& text) const {
    if (!std::isfinite(lat) || !std::isfinite(lon)) return false;
    text.clear();
    appendPosition(text, lat, lon, style);
    return true;
}

char CUnits::scan_deg_min_sec(const char* text, double& value) {
    value = 999.0;
    if (!text) return 0;
    // 30'.5 is an old way of writing 30.5 minutes: drop the mark so the number joins up.
    std::string s;
    for (const char* p = text; *p; ++p) {
        if ((*p == '\'' || static_cast<unsigned char>(*p) == 0x92) && p[1] == '.') continue;
        if (std::strncmp(p, "\xE2\x80\x99.", 4) == 0) {
            p += 2;
            continue;
        }
        s += *p;
    }
    char letter = 0;
    double parts[3] = {0, 0, 0};
    int count = 0;
    bool negative = false;
    const char* p = s.c_str();
    while (*p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        const bool startsNumber = std::isdigit(c) || (c == '.' && std::isdigit(static_cast<unsigned char>(p[1])));
        if (startsNumber && count < 3) {
            if (count == 0 && p > s.c_str() && p[-1] == '-') negative = true;
            char* end = nullptr;
            // strtod would accept exponents and hexadecimal; read plain decimals only.
            const char* q = p;
            while (std::isdigit(static_cast<unsigned char>(*q))) ++q;
            if (*q == '.') {
                ++q;
                while (std::isdigit(static_cast<unsigned char>(*q))) ++q;
            }
            const std::string number(p, q);
            parts[count++] = std::strtod(number.c_str(), &end);
            p = q;
            continue;
        }
        if (startsNumber) {  // a fourth number: skip it
            while (std::isdigit(static_cast<unsigned char>(*p)) || *p == '.') ++p;
            continue;
        }
        if (c < 0x80 && std::isalpha(c)) letter = char(std::toupper(c));
        ++p;
    }
    if (count > 0) {
        const double v = parts[0] + parts[1] / 60.0 + parts[2] / 3600.0;
        value = negative ? -v : v;
    }
    return letter;
}

bool CUnits::PosFmtLatLon::scan(const char* text, double& lat, double& lon) const {
    if (!text) return false;
    const std::string s(text);
    size_t latEnd, lonStart;
    const size_t comma = s.find(',');
    if (comma != std::string::npos) {
        latEnd = comma;
        lonStart = comma + 1;
    } else {
        const size_t hemi = s.find_first_of("NnSs");
        if (hemi != std::string::npos) {
            latEnd = hemi + 1;
            lonStart = hemi + 1;
        } else {
            size_t i = 0;
            for (; i + 1 < s.size(); ++i) {
                if (std::isdigit(static_cast<unsigned char>(s[i])) && s[i + 1] == ' ') break;
            }
            if (i + 1 >= s.size()) return false;
            latEnd = i + 1;
            lonStart = i + 1;
        }
    }
    const std::string latText = s.substr(0, latEnd), lonText = s.substr(lonStart);
    double la, lo;
    const char latLetter = scan_deg_min_sec(latText.c_str(), la);
    const char lonLetter = scan_deg_min_sec(lonText.c_str(), lo);
    if (la == 999.0 || lo == 999.0) return false;
    if (la < -89.0 || la > 89.0) return false;
    if (lo < -360.0 || lo > 360.0) return false;
    if (latLetter == 'S') la = -la;
    if (lonLetter == 'W') lo = -lo;
    lat = la;
    lon = lo;
    return true;
}

// ---- times

std::string CUnits::FormatElapsedTime(double seconds) {
    if (!std::isfinite(seconds)) return {};
    std::string text;
    if (seconds < 0) {
        text = "Negative ";
        seconds = -seconds;
    }
    const long long total = std::llround(seconds);
    const long long days = total / 86400;
    const int h = int(total / 3600 % 24), m = int(total / 60 % 60), s = int(total % 60);
    if (days > 0) text += Printf("%lld day%s ", days, days == 1 ? "" : "s");
    text += Printf("%d:%02d:%02d", h, m, s);
    return text;
}

std::string CUnits::FormatElapsedTimeHoursMins(double seconds) {
    if (!std::isfinite(seconds)) return {};
    std::string text;
    if (seconds < 0) {
        text = "Negative ";
        seconds = -seconds;
    }
    const long long total = std::llround(seconds / 60.0);
    text += Printf("%lld:%02d", total / 60, int(total % 60));
    return text;
}

namespace {
bool LocalTime(double seconds, QDateTime& out) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) return false;
    out = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(seconds)) * 1000, Qt::LocalTime);
    return out.isValid();
}
}  // namespace

std::string CUnits::FormatTimeOfDay(double seconds) {
    QDateTime t;
    if (!LocalTime(seconds, t)) return {};
    const int h = t.time().hour();
    const int h12 = h % 12 == 0 ? 12 : h % 12;
    return Printf("%d:%02d%s", h12, t.time().minute(), h < 12 ? "am" : "pm");
}

std::string CUnits::Get24hTime(double seconds) {
    QDateTime t;
    if (!LocalTime(seconds, t)) return {};
    return Printf("%02d:%02d", t.time().hour(), t.time().minute());
}

std::string CUnits::FormatDate(double seconds) {
    static const char* const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    QDateTime t;
    if (!LocalTime(seconds, t)) return {};
    const QDate d = t.date();
    return Printf("%d %s %d", d.day(), kMonths[d.month() - 1], d.year());
}

// ---- the user's units

void CDefaultUnits::MarkChanged() {
    settings.SetChanged();
}

void CDefaultUnits::Changed() {
    MarkChanged();
    Listener<CUnits>::Publish(u);
}

void CDefaultUnits::AfterLoad() {
    if (u.dist_units < 0 || u.dist_units >= CUnits::kDistanceUnitCount) u.dist_units = CUnits::e_miles;
    u.small_dist_units = CUnits::SmallUnitOf(u.dist_units);
    if (u.speed_units < 0 || u.speed_units >= CUnits::kSpeedUnitCount) u.speed_units = 0;
    if (u.depth_units < 0 || u.depth_units >= CUnits::kDepthUnitCount) u.depth_units = 0;
    if (u.bearing_mode != 0 && u.bearing_mode != 1) u.bearing_mode = 0;
    if (u.temperature_unit != 0 && u.temperature_unit != 1) u.temperature_unit = 1;
    if (!std::isfinite(u.magnetic_variation) || std::fabs(u.magnetic_variation) > 180.0f) u.magnetic_variation = 0;
    // A location that cannot be right makes the variation be computed afresh.
    if (!(std::fabs(u.bearing_lat) <= 999.0) || !(std::fabs(u.bearing_lon) <= 999.0)) {
        u.bearing_lat = 999.0;
        u.bearing_lon = 999.0;
    }
}

void CDefaultUnits::Persistant::DeclareData() {
    int family = u.dist_units;
    Declare("units", family);
    Declare("speed", u.speed_units);
    Declare("depth", u.depth_units);
    std::string fmt = u.posfmt ? u.posfmt->name : "Deg,Min";
    Declare("posnfmt", fmt);
    Declare("bearings", u.bearing_mode);
    Declare("temperature", u.temperature_unit);
    Declare("magnetic_variation", u.magnetic_variation);
    Declare("bearing_lat", u.bearing_lat);
    Declare("bearing_lon", u.bearing_lon);
    Declare("bearing_time", u.bearing_time);
    if (!IsSaving()) {
        u.dist_units = CUnits::e_dist_units((family >= 0 && family < CUnits::kDistanceUnitCount) ? family : 0);
        if (const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find(fmt)) u.posfmt = f;
        AfterLoad();
    }
}
