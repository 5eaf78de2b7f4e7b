// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "units/geodesy.h"
#include "units/gridformats.h"
#include "units/units.h"

namespace {

const std::string kDataDir = std::string(NAVORA_TEST_DATA_DIR) + "/units/";

struct RefRow {
    std::string system, name;
    double lat, lon;
    std::vector<std::string> cols;  // col5 onwards
};

std::vector<RefRow> ReadReference() {
    std::vector<RefRow> rows;
    std::ifstream in(kDataDir + "grid_reference_points.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line.rfind("system", 0) == 0) continue;
        std::vector<std::string> f;
        std::stringstream s(line);
        std::string cell;
        while (std::getline(s, cell, '\t')) f.push_back(cell);
        if (f.size() < 8) continue;
        RefRow r{f[0], f[1], std::stod(f[2]), std::stod(f[3]), {f.begin() + 4, f.end()}};
        rows.push_back(r);
    }
    return rows;
}

const CUnits::PositionFormatType& Fmt(const char* name) {
    const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find(name);
    EXPECT_NE(f, nullptr) << name;
    return *f;
}

// Metres between two nearby WGS84 positions.
double GroundDistance(double lat1, double lon1, double lat2, double lon2) {
    const double k = 6371000.0 * kDegToRad;
    double dlon = lon2 - lon1;
    if (dlon > 180) dlon -= 360;
    if (dlon < -180) dlon += 360;
    return std::hypot((lat2 - lat1) * k, dlon * k * std::cos(lat1 * kDegToRad));
}

}  // namespace

TEST(Geodesy, ProjectionPresetsAndWorkedExample) {
    utm_proj p;
    p.init_OSGB();
    double E, N;
    p.lat_lon_to_E_N(49.0, -2.0, E, N);
    EXPECT_DOUBLE_EQ(E, 400000.0);
    EXPECT_DOUBLE_EQ(N, -100000.0);

    // Ordnance Survey's worked example of the projection alone, to the millimetre.
    const double lat = 52 + 39 / 60.0 + 27.2531 / 3600.0, lon = 1 + 43 / 60.0 + 4.5177 / 3600.0;
    p.lat_lon_to_E_N(lat, lon, E, N);
    EXPECT_NEAR(E, 651409.903, 0.001);
    EXPECT_NEAR(N, 313177.270, 0.001);
    double la, lo;
    ASSERT_TRUE(p.E_N_to_lat_lon(651409.903, 313177.270, la, lo));
    EXPECT_NEAR(la, 52.6575703026, 1e-8);
    EXPECT_NEAR(lo, 1.7179215844, 1e-8);

    // LINZ's NZTM check points (inverse).
    utm_proj nz;
    nz.init_NZTM();
    const double pts[][4] = {{1576041.15, 6188574.24, -34.444065991, 172.739193967},
                             {1576542.01, 5515331.05, -40.512408980, 172.723105968},
                             {1307103.22, 4826464.86, -46.651295012, 169.172062008}};
    for (const auto& pt : pts) {
        ASSERT_TRUE(nz.E_N_to_lat_lon(pt[0], pt[1], la, lo));
        EXPECT_NEAR(la, pt[2], 1e-7);
        EXPECT_NEAR(lo, pt[3], 1e-7);
    }
    EXPECT_FALSE(nz.E_N_to_lat_lon(NAN, 1.0, la, lo));
}

TEST(Geodesy, HelmertPairsUndoEachOther) {
    ellipsoid wgs, airy;
    wgs.init(6378137.0, 6356752.3141);
    airy.init(6377563.396, 6356256.91);
    Helmert to, from;
    to.init_WGS84_to_OSGB36();
    from.init_OSGB36_to_WGS84();
    double la, lo, lat, lon;
    ConvertDatum(wgs, to, airy, 55.0, -3.0, la, lo);
    // The datum shift in Britain is of the order of 100 m, i.e. about 0.001 degrees.
    EXPECT_GT(GroundDistance(55.0, -3.0, la, lo), 50.0);
    ConvertDatum(airy, from, wgs, la, lo, lat, lon);
    EXPECT_LT(GroundDistance(55.0, -3.0, lat, lon), 0.05);
}

// Independent values from PROJ and GeographicLib for every grid.
TEST(GridFormats, AgreeWithIndependentReferenceValues) {
    const auto rows = ReadReference();
    ASSERT_GT(rows.size(), 40u);
    for (const RefRow& r : rows) {
        SCOPED_TRACE(r.system + " " + r.name);
        std::string text;
        if (r.system == "BNG" || r.system == "IRISH" || r.system == "NZTM") {
            double E = 0, N = 0;
            bool ok = false;
            if (r.system == "BNG") ok = CUnitsOSGB::ToGrid(r.lat, r.lon, E, N);
            if (r.system == "IRISH") ok = CUnitsIrishGrid::ToGrid(r.lat, r.lon, E, N);
            if (r.system == "NZTM") ok = CUnitsNZTM::ToGrid(r.lat, r.lon, E, N);
            ASSERT_TRUE(ok);
            // Same parameters, different arithmetic: agreement well inside a metre.
            EXPECT_NEAR(E, std::stod(r.cols[2]), 0.2);
            EXPECT_NEAR(N, std::stod(r.cols[3]), 0.2);
            const char* name = r.system == "BNG"     ? "British National Grid"
                               : r.system == "IRISH" ? "Irish Grid"
                                                     : "NZTM";
            ASSERT_TRUE(Fmt(name).format(r.lat, r.lon, text));
            EXPECT_EQ(text, r.cols[4]);
        } else {
            // MGRS is GeographicLib's own answer, so it must match exactly.
            ASSERT_TRUE(Fmt("MGRS").format(r.lat, r.lon, text));
            EXPECT_EQ(text, r.cols[3]);
            // Plain 6-degree zones: col6 is "zone+hemisphere E N".
            std::istringstream z(r.cols[1]);
            std::string zh;
            double E, N;
            z >> zh >> E >> N;
            int zone;
            bool north;
            double e, n;
            if (r.lat < -80 || r.lat > 84) {
                EXPECT_FALSE(CUnitsPositionUTM84::ToUTM(r.lat, r.lon, zone, north, e, n));
                EXPECT_FALSE(Fmt("UTM on WGS84").format(r.lat, r.lon, text));
                continue;
            }
            ASSERT_TRUE(CUnitsPositionUTM84::ToUTM(r.lat, r.lon, zone, north, e, n));
            EXPECT_EQ(zone, std::stoi(zh));
            EXPECT_EQ(north, zh.back() == 'n');
            // The series expansion is good to millimetres within a zone.
            EXPECT_NEAR(e, E, 0.01);
            EXPECT_NEAR(n, N, 0.01);
            EXPECT_EQ(CUnitsPositionUTM84::BandOf(r.lat), r.cols[2][0]);
        }
    }
}

TEST(GridFormats, TextLayoutOfEachFormat) {
    std::string t;
    ASSERT_TRUE(Fmt("UTM on WGS84").format(51.5007, -0.1246, t));
    EXPECT_EQ(t, "30N 699568E 5709428N");
    ASSERT_TRUE(Fmt("UTM/WGS84 bands").format(51.5007, -0.1246, t));
    EXPECT_EQ(t, "30U 699568E 5709428N");
    ASSERT_TRUE(Fmt("UTM on WGS84").format(-33.8688, 151.2093, t));
    EXPECT_EQ(t, "56S 334369E 6250948N");
    ASSERT_TRUE(Fmt("UTM/WGS84 bands").format(-33.8688, 151.2093, t));
    EXPECT_EQ(t, "56H 334369E 6250948N");
    // Small eastings keep six digits.
    ASSERT_TRUE(Fmt("UTM on WGS84").format(0.5, -179.9999, t));
    EXPECT_EQ(t, "1N 166045E 055341N");
}

TEST(GridFormats, ReadingGridReferences) {
    double E, N;
    ASSERT_TRUE(CUnitsOSGB::ParseReference("TQ 123 456", E, N));
    EXPECT_EQ(E, 512300);
    EXPECT_EQ(N, 145600);
    ASSERT_TRUE(CUnitsOSGB::ParseReference("  TQ 1234 5678", E, N));
    EXPECT_EQ(E, 512340);
    EXPECT_EQ(N, 156780);
    ASSERT_TRUE(CUnitsOSGB::ParseReference("TQ1234556789", E, N));
    EXPECT_EQ(E, 512345);
    EXPECT_EQ(N, 156789);
    ASSERT_TRUE(CUnitsOSGB::ParseReference("HU 47324-41428", E, N));  // top square, punctuation
    EXPECT_EQ(E, 447324);
    EXPECT_EQ(N, 1141428);
    ASSERT_TRUE(CUnitsOSGB::ParseReference("SV 000 000", E, N));
    EXPECT_EQ(E, 0);
    EXPECT_EQ(N, 0);
    for (const char* bad : {"", "T", "TQ", "TQ 12 34", "TQ 1234 567", "TQ 123456 789012", "AQ 123 456", "TI 123 456",
                            "Q 123 456", "TQ 123 456 TQ", "12 123 456"}) {
        EXPECT_FALSE(CUnitsOSGB::ParseReference(bad, E, N)) << bad;
    }

    ASSERT_TRUE(CUnitsIrishGrid::ParseReference("O 159 346", E, N));
    EXPECT_EQ(E, 315900);
    EXPECT_EQ(N, 234600);
    ASSERT_TRUE(CUnitsIrishGrid::ParseReference("V 7376 2341", E, N));
    EXPECT_EQ(E, 73760);
    EXPECT_EQ(N, 23410);
    ASSERT_TRUE(CUnitsIrishGrid::ParseReference("C4195758528", E, N));
    EXPECT_EQ(E, 241957);
    EXPECT_EQ(N, 458528);
    for (const char* bad : {"I 123 456", "O 12 34", "O 12345 6789", "", "1 123 456"}) {
        EXPECT_FALSE(CUnitsIrishGrid::ParseReference(bad, E, N)) << bad;
    }

    // A parsed reference lands where the reference data puts it.
    double lat = 0, lon = 0;
    ASSERT_TRUE(Fmt("British National Grid").scan("TQ 30270 79641", lat, lon));
    EXPECT_LT(GroundDistance(lat, lon, 51.5007, -0.1246), 1.0);
    ASSERT_TRUE(Fmt("Irish Grid").scan("O 15901 34671", lat, lon));
    EXPECT_LT(GroundDistance(lat, lon, 53.3498, -6.2603), 1.0);
    ASSERT_TRUE(Fmt("MGRS").scan("30U XC 99567 09427", lat, lon));
    EXPECT_LT(GroundDistance(lat, lon, 51.5007, -0.1246), 1.0);
    ASSERT_TRUE(Fmt("NZTM").scan("1748736 5427916", lat, lon));
    EXPECT_LT(GroundDistance(lat, lon, -41.2865, 174.7762), 1.0);
    ASSERT_TRUE(Fmt("UTM/WGS84 bands").scan("56H 334369E 6250948N", lat, lon));
    EXPECT_LT(GroundDistance(lat, lon, -33.8688, 151.2093), 1.0);
    ASSERT_TRUE(Fmt("UTM/WGS84 bands").scan("30U 699568E 5709428N", lat, lon));
    EXPECT_LT(GroundDistance(lat, lon, 51.5007, -0.1246), 1.0);

    // Failures leave the caller's position alone.
    lat = 12.5, lon = 34.5;
    for (const char* name :
         {"UTM on WGS84", "UTM/WGS84 bands", "British National Grid", "Irish Grid", "MGRS", "NZTM"}) {
        for (const char* bad : {"", "garbage", "61N 500000E 5000000N", "0N 500000E 100N", "30Z 500000E 5000000N",
                                "1e308 1e308", "ZZZ", "30U XC 99567 0942"}) {
            EXPECT_FALSE(Fmt(name).scan(bad, lat, lon)) << name << ": " << bad;
        }
        EXPECT_FALSE(Fmt(name).scan(nullptr, lat, lon));
    }
    EXPECT_EQ(lat, 12.5);
    EXPECT_EQ(lon, 34.5);
}

// Thousands of random positions per grid: what is written reads back to the metre, and
// positions outside each grid are refused.
TEST(GridFormats, RandomRoundTripsAndAreaLimits) {
    struct Area {
        const char* format;
        double lat0, lat1, lon0, lon1;
    };
    const Area inside[] = {
        {"British National Grid", 50.2, 58.5, -5.5, 1.5},
        {"Irish Grid", 51.6, 55.2, -10.0, -6.2},
        {"NZTM", -46.5, -34.5, 167.0, 178.5},
        {"UTM on WGS84", -79.9, 83.9, -180.0, 180.0},
        {"UTM/WGS84 bands", -79.9, 83.9, -180.0, 180.0},
        {"MGRS", -89.9, 89.9, -180.0, 180.0},
        {"Degrees", -89.0, 89.0, -180.0, 180.0},
        {"Deg,Min", -89.0, 89.0, -180.0, 180.0},
        {"Deg,Min,Sec", -89.0, 89.0, -180.0, 180.0},
    };
    std::mt19937 rng(20250101);
    for (const Area& a : inside) {
        std::uniform_real_distribution<double> dlat(a.lat0, a.lat1), dlon(a.lon0, a.lon1);
        const auto& fmt = Fmt(a.format);
        int formatted = 0;
        for (int i = 0; i < 3000; ++i) {
            const double lat = dlat(rng), lon = dlon(rng);
            std::string text;
            if (!fmt.format(lat, lon, text)) continue;  // sea areas off the grid's square edges
            ++formatted;
            double la = 0, lo = 0;
            ASSERT_TRUE(fmt.scan(text.c_str(), la, lo)) << a.format << ": " << text;
            // Grids print whole metres; the angle styles are limited by their last digit
            // (1e-5 degree, 0.001 minute, 0.1 second: half a step on each axis).
            const std::string f = a.format;
            const double limit = f == "Deg,Min" ? 1.4 : f == "Deg,Min,Sec" ? 2.2 : 1.0;
            ASSERT_LT(GroundDistance(lat, lon, la, lo), limit) << a.format << ": " << text;
        }
        EXPECT_GT(formatted, 2500) << a.format;
    }

    const struct {
        const char* format;
        double lat, lon;
    } outside[] = {
        {"British National Grid", 40.0, -3.0},
        {"British National Grid", 52.0, 10.0},
        {"British National Grid", 48.5, -8.0},
        {"British National Grid", -52.0, -1.0},
        {"British National Grid", 0.0, 0.0},
        {"Irish Grid", 51.0, 0.0},
        {"Irish Grid", 53.5, -2.0},
        {"Irish Grid", -53.5, -8.0},
        {"Irish Grid", 53.0, -4.2},
        {"NZTM", 41.0, 174.0},
        {"NZTM", -41.0, 150.0},
        {"NZTM", -20.0, 174.0},
        {"UTM on WGS84", 84.5, 0.0},
        {"UTM/WGS84 bands", -80.5, 0.0},
        {"MGRS", 91.0, 0.0},
        {"UTM on WGS84", NAN, 0.0},
    };
    for (const auto& o : outside) {
        std::string text = "unchanged";
        EXPECT_FALSE(Fmt(o.format).format(o.lat, o.lon, text)) << o.format << " " << o.lat << "," << o.lon;
    }
}

// Typed text is hostile input: random bytes and near-misses must be refused or read,
// never crash or hang, in every format.
TEST(GridFormats, ArbitraryTextNeverBreaksAReader) {
    std::mt19937 rng(7);
    const std::string alphabet = "0123456789 .,-'\"NSEWTQOHJVXYZmgrs\xC2\xB0\x92";
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1), len(0, 40);
    std::uniform_int_distribution<int> byte(1, 255);
    for (const CUnits::PositionFormatType* f : CUnits::PositionFormatType::All()) {
        for (int i = 0; i < 2000; ++i) {
            std::string text;
            const size_t n = len(rng);
            for (size_t k = 0; k < n; ++k) text += (i % 2) ? alphabet[pick(rng)] : char(byte(rng));
            double lat = 0, lon = 0;
            if (f->scan(text.c_str(), lat, lon)) {
                EXPECT_TRUE(std::isfinite(lat) && std::isfinite(lon)) << f->name << ": " << text;
                EXPECT_LE(std::fabs(lat), 90.0) << f->name << ": " << text;
            }
        }
        double lat, lon;
        const std::string huge(100000, '9');
        EXPECT_FALSE(f->scan(huge.c_str(), lat, lon)) << f->name;
    }
}
