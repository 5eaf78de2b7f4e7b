// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/gridformats.h"

#include <GeographicLib/MGRS.hpp>
#include <GeographicLib/UTMUPS.hpp>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstdarg>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>

namespace {

constexpr double kWgsA = 6378137.0;
constexpr double kWgsB = 6356752.3141;
constexpr double kAiryA = 6377563.396;
constexpr double kAiryB = 6356256.91;
constexpr double kAiryModA = 6377340.189;
constexpr double kAiryModB = 6356034.447938534;

// Letters of a 5 x 5 grid of 100 km squares, row by row from the north-west.
constexpr char kSquareLetters[] = "ABCDEFGHJKLMNOPQRSTUVWXYZ";
// Irish letters by row from the south, four columns each.
constexpr char kIrishLetters[] = "VWXYQRSTLMNOFGHJABCD";
constexpr char kBands[] = "CDEFGHJKLMNPQRSTUVWX";

int SquareIndex(char c) {
    const char* p = std::strchr(kSquareLetters, std::toupper(static_cast<unsigned char>(c)));
    return (p && *p) ? int(p - kSquareLetters) : -1;
}

std::string Printf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* fmt, ...) {
    char buf[128];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

// Reads the digits of a grid reference after its letters: up to 10, an even number of
// at least 6, blanks and punctuation between them ignored. Gives metres within the
// 100 km square.
bool ReadSquareDigits(const char* p, double& e, double& n) {
    char digits[11];
    int count = 0;
    for (; *p; ++p) {
        if (std::isdigit(static_cast<unsigned char>(*p))) {
            if (count == 10) return false;
            digits[count++] = *p;
        } else if (std::isalpha(static_cast<unsigned char>(*p))) {
            return false;  // a second reference or stray letters: not a grid reference
        }
    }
    if (count < 6 || count % 2 != 0) return false;
    const int half = count / 2;
    long ev = 0, nv = 0;
    for (int i = 0; i < half; ++i) {
        ev = ev * 10 + (digits[i] - '0');
        nv = nv * 10 + (digits[half + i] - '0');
    }
    double scale = 1;
    for (int i = half; i < 5; ++i) scale *= 10;
    e = ev * scale;
    n = nv * scale;
    return true;
}

const char* SkipBlanks(const char* p) {
    while (*p == ' ' || *p == '\t') ++p;
    return p;
}

// Reads an optionally signed decimal integer after optional white space, as %d would,
// but refuses values that do not fit.
bool ReadLong(const char*& p, long& value) {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtol(start, &end, 10);
    if (errno == ERANGE || value > 100000000L || value < -100000000L) return false;
    p = end;
    return true;
}

double NormaliseLon(double lon) {
    double l = std::fmod(lon + 180.0, 360.0);
    if (l < 0) l += 360.0;
    return l - 180.0;
}

}  // namespace

// ---- UTM

int CUnitsPositionUTM84::ZoneOf(double lon) {
    const double l = NormaliseLon(lon) + 180.0;
    const int zone = int(std::floor(l / 6.0)) + 1;
    return zone < 1 ? 1 : zone > 60 ? 60 : zone;
}

char CUnitsPositionUTM84::BandOf(double lat) {
    int i = int(std::floor((lat + 80.0) / 8.0));
    if (i < 0) i = 0;
    if (i > 19) i = 19;
    return kBands[i];
}

bool CUnitsPositionUTM84::ToUTM(double lat, double lon, int& zone, bool& north, double& E, double& N) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || lat < -80.0 || lat > 84.0) return false;
    zone = ZoneOf(lon);
    north = lat >= 0;
    utm_proj p;
    p.init_WGS84();
    p.set_zone(zone);
    if (!north) p.N0 = 10000000.0;
    // Longitudes near the antimeridian are measured from the zone's own side.
    double l = NormaliseLon(lon);
    if (zone == 1 && l > 0) l -= 360.0;
    p.lat_lon_to_E_N(lat, l, E, N);
    return std::isfinite(E) && std::isfinite(N);
}

bool CUnitsPositionUTM84::FromUTM(int zone, bool north, double E, double N, double& lat, double& lon) {
    if (zone < 1 || zone > 60) return false;
    if (!(E > 0 && E < 1000000.0 && N >= 0 && N <= 10000000.0)) return false;
    utm_proj p;
    p.init_WGS84();
    p.set_zone(zone);
    if (!north) p.N0 = 10000000.0;
    double la, lo;
    if (!p.E_N_to_lat_lon(E, N, la, lo)) return false;
    if (la < -80.5 || la > 84.5) return false;
    lat = la;
    lon = NormaliseLon(lo);
    return true;
}

bool CUnitsPositionUTM84::format(double lat, double lon, std::string& text) const {
    int zone;
    bool north;
    double E, N;
    if (!ToUTM(lat, lon, zone, north, E, N)) return false;
    const char letter = m_bands ? BandOf(lat) : (north ? 'N' : 'S');
    text = Printf("%d%c %06.0fE %06.0fN", zone, letter, E, N);
    return true;
}

bool CUnitsPositionUTM84::scan(const char* text, double& lat, double& lon) const {
    if (!text) return false;
    // "zone letter easting E northing"; numbers are read with range checks because
    // scanf's %d has no defined result for out-of-range input.
    const char* p = text;
    long zone = 0, e = 0, n = 0;
    if (!ReadLong(p, zone) || !*p) return false;
    const char c = *p++;
    if (!ReadLong(p, e)) return false;
    p = SkipBlanks(p);
    if (*p++ != 'E') return false;
    if (!ReadLong(p, n)) return false;
    if (zone < 1 || zone > 60) return false;
    const char letter = char(std::toupper(static_cast<unsigned char>(c)));
    bool north;
    if (m_bands) {
        if (!std::strchr(kBands, letter) || letter == 0) return false;
        north = letter >= 'N';
    } else {
        if (letter != 'N' && letter != 'S') return false;
        north = letter == 'N';
    }
    return FromUTM(zone, north, e, n, lat, lon);
}

// ---- British National Grid

bool CUnitsOSGB::ToGrid(double lat, double lon, double& E, double& N) {
    if (!std::isfinite(lat) || !std::isfinite(lon)) return false;
    // Far from Britain the series expansion is meaningless; refuse before projecting.
    if (lat < 45.0 || lat > 65.0 || lon < -15.0 || lon > 8.0) return false;
    ellipsoid wgs, airy;
    wgs.init(kWgsA, kWgsB);
    airy.init(kAiryA, kAiryB);
    Helmert h;
    h.init_WGS84_to_OSGB36();
    double la, lo;
    ConvertDatum(wgs, h, airy, lat, lon, la, lo);
    utm_proj p;
    p.init_OSGB();
    p.lat_lon_to_E_N(la, lo, E, N);
    return E >= 0 && E <= 700000.0 && N >= 0 && N <= 1300000.0;
}

bool CUnitsOSGB::FromGrid(double E, double N, double& lat, double& lon) {
    if (!(E >= 0 && E <= 700000.0 && N >= 0 && N <= 1300000.0)) return false;
    utm_proj p;
    p.init_OSGB();
    double la, lo;
    if (!p.E_N_to_lat_lon(E, N, la, lo)) return false;
    ellipsoid wgs, airy;
    wgs.init(kWgsA, kWgsB);
    airy.init(kAiryA, kAiryB);
    Helmert h;
    h.init_OSGB36_to_WGS84();
    ConvertDatum(airy, h, wgs, la, lo, lat, lon);
    return std::isfinite(lat) && std::isfinite(lon);
}

bool CUnitsOSGB::format(double lat, double lon, std::string& text) const {
    double E, N;
    if (!ToGrid(lat, lon, E, N)) return false;
    const long e = std::lround(E), n = std::lround(N);
    static const char kFirst[3][2] = {{'S', 'T'}, {'N', 'O'}, {'H', 'J'}};
    const int e500 = int(e / 500000), n500 = int(n / 500000);
    if (e500 > 1 || n500 > 2) return false;
    const int e100 = int((e % 500000) / 100000), n100 = int((n % 500000) / 100000);
    const char letters[3] = {kFirst[n500][e500], kSquareLetters[(4 - n100) * 5 + e100], 0};
    text = Printf("%s %05d %05d", letters, int(e % 100000), int(n % 100000));
    return true;
}

bool CUnitsOSGB::ParseReference(const char* text, double& E, double& N) {
    if (!text) return false;
    const char* p = SkipBlanks(text);
    if (!p[0] || !p[1]) return false;
    int e500, n500;
    switch (std::toupper(static_cast<unsigned char>(p[0]))) {
        case 'S':
            e500 = 0, n500 = 0;
            break;
        case 'T':
            e500 = 1, n500 = 0;
            break;
        case 'N':
            e500 = 0, n500 = 1;
            break;
        case 'O':
            e500 = 1, n500 = 1;
            break;
        case 'H':
            e500 = 0, n500 = 2;
            break;
        case 'J':
            e500 = 1, n500 = 2;
            break;
        default:
            return false;
    }
    const int idx = SquareIndex(p[1]);
    if (idx < 0) return false;
    double e, n;
    if (!ReadSquareDigits(p + 2, e, n)) return false;
    E = e500 * 500000.0 + (idx % 5) * 100000.0 + e;
    N = n500 * 500000.0 + (4 - idx / 5) * 100000.0 + n;
    return true;
}

bool CUnitsOSGB::scan(const char* text, double& lat, double& lon) const {
    double E, N, la, lo;
    if (!ParseReference(text, E, N) || !FromGrid(E, N, la, lo)) return false;
    lat = la;
    lon = lo;
    return true;
}

// ---- Irish Grid

namespace {
utm_proj IrishProjection() {
    utm_proj p;
    p.init_Irish();
    return p;
}
}  // namespace

bool CUnitsIrishGrid::ToGrid(double lat, double lon, double& E, double& N) {
    if (!std::isfinite(lat) || !std::isfinite(lon)) return false;
    if (lat < 49.0 || lat > 57.0 || lon < -13.0 || lon > -3.0) return false;
    ellipsoid wgs, airy;
    wgs.init(kWgsA, kWgsB);
    airy.init(kAiryModA, kAiryModB);
    Helmert h;
    h.init_WGS84_to_Irish();
    double la, lo;
    ConvertDatum(wgs, h, airy, lat, lon, la, lo);
    IrishProjection().lat_lon_to_E_N(la, lo, E, N);
    return std::isfinite(E) && std::isfinite(N);
}

bool CUnitsIrishGrid::FromGrid(double E, double N, double& lat, double& lon) {
    if (!(E >= 0 && E <= 500000.0 && N >= 0 && N <= 500000.0)) return false;
    double la, lo;
    if (!IrishProjection().E_N_to_lat_lon(E, N, la, lo)) return false;
    ellipsoid wgs, airy;
    wgs.init(kWgsA, kWgsB);
    airy.init(kAiryModA, kAiryModB);
    Helmert h;
    h.init_Irish_to_WGS84();
    ConvertDatum(airy, h, wgs, la, lo, lat, lon);
    return std::isfinite(lat) && std::isfinite(lon);
}

bool CUnitsIrishGrid::format(double lat, double lon, std::string& text) const {
    double E, N;
    if (!ToGrid(lat, lon, E, N)) return false;
    const long e = std::lround(E), n = std::lround(N);
    if (e < 0 || n < 0 || e >= 400000 || n >= 500000) return false;
    const char letter = kIrishLetters[(n / 100000) * 4 + e / 100000];
    text = Printf("%c %05d %05d", letter, int(e % 100000), int(n % 100000));
    return true;
}

bool CUnitsIrishGrid::ParseReference(const char* text, double& E, double& N) {
    if (!text) return false;
    const char* p = SkipBlanks(text);
    const int idx = SquareIndex(p[0]);
    if (!p[0] || idx < 0) return false;
    double e, n;
    if (!ReadSquareDigits(p + 1, e, n)) return false;
    E = (idx % 5) * 100000.0 + e;
    N = (4 - idx / 5) * 100000.0 + n;
    return true;
}

bool CUnitsIrishGrid::scan(const char* text, double& lat, double& lon) const {
    double E, N, la, lo;
    if (!ParseReference(text, E, N) || !FromGrid(E, N, la, lo)) return false;
    lat = la;
    lon = lo;
    return true;
}

// ---- MGRS

bool CUnitsMGRS::format(double lat, double lon, std::string& text) const {
    if (!std::isfinite(lat) || !std::isfinite(lon) || lat < -90.0 || lat > 90.0) return false;
    try {
        int zone;
        bool northp;
        double x, y;
        GeographicLib::UTMUPS::Forward(lat, NormaliseLon(lon), zone, northp, x, y);
        std::string mgrs;
        GeographicLib::MGRS::Forward(zone, northp, x, y, lat, 5, mgrs);
        text = mgrs;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CUnitsMGRS::scan(const char* text, double& lat, double& lon) const {
    if (!text) return false;
    std::string compact;
    for (const char* p = text; *p; ++p) {
        if (!std::isspace(static_cast<unsigned char>(*p))) compact += *p;
    }
    if (compact.empty() || compact.size() > 64) return false;
    try {
        int zone, prec;
        bool northp;
        double x, y;
        GeographicLib::MGRS::Reverse(compact, zone, northp, x, y, prec, true);
        if (zone < 0) return false;
        double la, lo;
        GeographicLib::UTMUPS::Reverse(zone, northp, x, y, la, lo);
        lat = la;
        lon = lo;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// ---- NZTM

namespace {
// Mainland New Zealand and its near-shore waters.
bool InNewZealand(double lat, double lon) {
    double l = std::fmod(lon, 360.0);
    if (l < 0) l += 360.0;
    return lat >= -48.0 && lat <= -33.0 && l >= 165.0 && l <= 180.0;
}
}  // namespace

bool CUnitsNZTM::ToGrid(double lat, double lon, double& E, double& N) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || !InNewZealand(lat, lon)) return false;
    utm_proj p;
    p.init_NZTM();
    double l = std::fmod(lon, 360.0);
    if (l < 0) l += 360.0;
    p.lat_lon_to_E_N(lat, l, E, N);
    return true;
}

bool CUnitsNZTM::FromGrid(double E, double N, double& lat, double& lon) {
    if (!std::isfinite(E) || !std::isfinite(N) || std::fabs(E - 1600000.0) > 2000000.0 || N < 0 || N > 20000000.0) {
        return false;
    }
    utm_proj p;
    p.init_NZTM();
    double la, lo;
    if (!p.E_N_to_lat_lon(E, N, la, lo) || !InNewZealand(la, lo)) return false;
    lat = la;
    lon = NormaliseLon(lo);
    return true;
}

bool CUnitsNZTM::format(double lat, double lon, std::string& text) const {
    double E, N;
    if (!ToGrid(lat, lon, E, N)) return false;
    text = Printf("%06.0f %06.0f", E, N);
    return true;
}

bool CUnitsNZTM::scan(const char* text, double& lat, double& lon) const {
    if (!text) return false;
    double E, N;
    if (std::sscanf(text, " %lf %lf", &E, &N) != 2) return false;
    return FromGrid(E, N, lat, lon);
}
