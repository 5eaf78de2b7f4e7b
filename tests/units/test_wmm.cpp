// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "units/units.h"
#include "units/wmm.h"

namespace {

const std::string kDataDir = std::string(NAVORA_TEST_DATA_DIR) + "/units/";

struct TestPoint {
    double year, heightKm, lat, lon, decl, incl, H, X, Y, Z, F;
};

std::vector<TestPoint> ReadTestValues() {
    std::vector<TestPoint> points;
    std::ifstream in(kDataDir + "WMM2025_TestValues.txt");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        TestPoint p;
        if (s >> p.year >> p.heightKm >> p.lat >> p.lon >> p.decl >> p.incl >> p.H >> p.X >> p.Y >> p.Z >> p.F) {
            points.push_back(p);
        }
    }
    return points;
}

std::string WriteTemp(const std::string& name, const std::string& content) {
    const std::string path = getTempDirectory() + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

}  // namespace

// The published test table of the model: every point at its own decimal year and height.
TEST(MagneticModel, MatchesOfficialTestValues) {
    const auto points = ReadTestValues();
    ASSERT_EQ(points.size(), 100u);
    for (const TestPoint& p : points) {
        WMM_GeoMagneticElements el;
        ASSERT_TRUE(WMM_ComputeElements(kDataDir + "WMM2025.COF", p.lat, p.lon, p.heightKm * 1000.0, p.year, el));
        SCOPED_TRACE(testing::Message() << p.year << " " << p.heightKm << " " << p.lat << " " << p.lon);
        EXPECT_NEAR(el.decl, p.decl, 0.01);
        EXPECT_NEAR(el.incl, p.incl, 0.01);
        EXPECT_NEAR(el.X, p.X, 1.0);
        EXPECT_NEAR(el.Y, p.Y, 1.0);
        EXPECT_NEAR(el.Z, p.Z, 1.0);
        EXPECT_NEAR(el.F, p.F, 1.0);
    }
}

// The model report's table, which also gives the grid variation in polar regions.
TEST(MagneticModel, MatchesTheReportTable) {
    std::ifstream in(kDataDir + "WMM2025_report_table.txt");
    std::string line;
    int rows = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream s(line);
        double year, h, lat, lon, X, Y, Z, H, F, I, D;
        std::string gv;
        ASSERT_TRUE(s >> year >> h >> lat >> lon >> X >> Y >> Z >> H >> F >> I >> D >> gv) << line;
        WMM_GeoMagneticElements el;
        ASSERT_TRUE(WMM_ComputeElements(kDataDir + "WMM2025.COF", lat, lon, h * 1000.0, year, el));
        SCOPED_TRACE(line);
        EXPECT_NEAR(el.X, X, 0.1);
        EXPECT_NEAR(el.Y, Y, 0.1);
        EXPECT_NEAR(el.Z, Z, 0.1);
        EXPECT_NEAR(el.F, F, 0.1);
        EXPECT_NEAR(el.incl, I, 0.01);
        EXPECT_NEAR(el.decl, D, 0.01);
        if (gv != "NaN") {
            EXPECT_NEAR(el.gv, std::stod(gv), 0.01);
        }
        ++rows;
    }
    EXPECT_EQ(rows, 12);
}

// The shipped model is the one the tests check, and it is found inside the program.
TEST(MagneticModel, EmbeddedCoefficientsAreTheCurrentModel) {
    WMM_MagneticModel model;
    std::string error;
    ASSERT_TRUE(WMM_readMagneticModel(CUnits::MagneticModelPath(), model, &error)) << error;
    EXPECT_DOUBLE_EQ(model.epoch, 2025.0);
    EXPECT_EQ(model.modelName, "WMM-2025");
    EXPECT_DOUBLE_EQ(model.mainG[1], -29351.8);  // g(1,0)
    EXPECT_DOUBLE_EQ(model.secVarH[2], -21.5);   // h-dot(1,1)
    EXPECT_DOUBLE_EQ(model.mainH[90], 0.2);      // h(12,12)
}

TEST(MagneticModel, TimeToDecimalYearUsesTheModelsOwnYearLength) {
    EXPECT_DOUBLE_EQ(WMM_TimeToDecimalYear(0), 1970.0);
    EXPECT_DOUBLE_EQ(WMM_TimeToDecimalYear(31471200.0), 1971.0);
    // 2025-01-01T00:00:00Z is not 2025.0 by this conversion; it runs ahead of the calendar.
    const double t2025 = 1735689600.0;
    EXPECT_NEAR(WMM_TimeToDecimalYear(t2025), 1970.0 + t2025 / 31471200.0, 1e-9);
    EXPECT_GT(WMM_TimeToDecimalYear(t2025), 2025.1);

    // The declination from a time equals the declination at the converted year.
    const std::string cof = kDataDir + "WMM2025.COF";
    const double t = 1700000000.0;
    WMM_GeoMagneticElements el;
    ASSERT_TRUE(WMM_ComputeElements(cof, 50.0, -1.0, 100.0, WMM_TimeToDecimalYear(t), el));
    EXPECT_FLOAT_EQ(get_magnetic_declination(cof, 50.0, -1.0, 100.0, t), float(el.decl));
}

TEST(MagneticModel, ExtrapolatesBeforeTheEpochWithoutClamping) {
    const std::string cof = kDataDir + "WMM2025.COF";
    WMM_GeoMagneticElements at2025, at2015, at2005;
    ASSERT_TRUE(WMM_ComputeElements(cof, 50.0, -1.0, 0, 2025.0, at2025));
    ASSERT_TRUE(WMM_ComputeElements(cof, 50.0, -1.0, 0, 2015.0, at2015));
    ASSERT_TRUE(WMM_ComputeElements(cof, 50.0, -1.0, 0, 2005.0, at2005));
    EXPECT_GT(std::fabs(at2015.decl - at2025.decl), 0.5);
    EXPECT_GT(std::fabs(at2005.decl - at2015.decl), 0.5);
}

// A model that cannot be read gives no variation rather than a wrong one.
TEST(MagneticModel, UnreadableFilesGiveZero) {
    EXPECT_EQ(get_magnetic_declination("/nonexistent/WMM.COF", 50.0, -1.0, 100.0, 1.7e9), 0.0f);
    const char* bad[] = {
        "",
        "not a model\n",
        "2025.0 WMM-2025 11/13/2024\n",  // no coefficients
        "2025.0 WMM-2025 11/13/2024\n  1  0  -29351.8\n",
        "2025.0 WMM-2025 11/13/2024\n 13  0  1.0 0.0 0.0 0.0\n",
        "2025.0 WMM-2025 11/13/2024\n  2  3  1.0 0.0 0.0 0.0\n",
        "2025.0 WMM-2025 11/13/2024\n -1  0  1.0 0.0 0.0 0.0\n",
        "2025.0 WMM-2025 11/13/2024\n 1.5  0  1.0 0.0 0.0 0.0\n",
        "2025.0 WMM-2025 11/13/2024\n 99999999999999999999 0 1.0 0.0 0.0 0.0\n",
        "2025.0 WMM-2025 11/13/2024\n  1  0  nan 0.0 0.0 0.0\n",
        "inf WMM-2025\n  1  0  1.0 0.0 0.0 0.0\n",
    };
    int i = 0;
    for (const char* content : bad) {
        const std::string path = WriteTemp("bad" + std::to_string(i++) + ".COF", content);
        EXPECT_EQ(get_magnetic_declination(path, 50.0, -1.0, 100.0, 1.7e9), 0.0f) << content;
    }
    // An overlong line is read in pieces and rejected, not overflowed.
    const std::string longLine = "2025.0 WMM-2025\n  1  0 " + std::string(5000, '7') + "\n";
    EXPECT_EQ(get_magnetic_declination(WriteTemp("long.COF", longLine), 50, -1, 100, 1.7e9), 0.0f);
}

TEST(MagneticModel, HeaderSpacingAndPolesAreHandled) {
    QFile f(QString::fromStdString(kDataDir + "WMM2025.COF"));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    std::string content = f.readAll().toStdString();
    content.replace(0, content.find('\n'), "2025.0 WMM-2025 11/13/2024");
    const std::string path = WriteTemp("respaced.COF", content);
    WMM_GeoMagneticElements a, b;
    ASSERT_TRUE(WMM_ComputeElements(path, 10.0, 20.0, 0, 2026.0, a));
    ASSERT_TRUE(WMM_ComputeElements(kDataDir + "WMM2025.COF", 10.0, 20.0, 0, 2026.0, b));
    EXPECT_DOUBLE_EQ(a.decl, b.decl);

    // Exactly at a pole the east component comes from the special summation: finite,
    // and the field is continuous with a point just off the pole.
    WMM_GeoMagneticElements pole, near;
    ASSERT_TRUE(WMM_ComputeElements(path, 90.0, 0.0, 0, 2026.0, pole));
    ASSERT_TRUE(WMM_ComputeElements(path, 89.9999, 0.0, 0, 2026.0, near));
    EXPECT_TRUE(std::isfinite(pole.decl));
    EXPECT_NEAR(pole.Y, near.Y, 5.0);
    EXPECT_NEAR(pole.Z, near.Z, 5.0);
}
