// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cmath>
#include <fstream>
#include <string>

#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "units/unitsettingsmodel.h"
#include "units/units.h"
#include "units/wmm.h"

namespace {

const std::string kCof = std::string(NAVORA_TEST_DATA_DIR) + "/units/WMM2025.COF";

// Each test starts from the documented defaults and leaves the global units as found.
class UnitsTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved = CDefaultUnits::u;
        savedPath = CUnits::MagneticModelPath();
        CUnits& u = CDefaultUnits::u;
        u.posfmt = CUnits::PositionFormatType::Find("Deg,Min");
        u.set_unit_family(CUnits::e_miles);
        u.bearing_mode = 0;
        u.temperature_unit = 1;
        u.magnetic_variation = 0;
        u.bearing_lat = u.bearing_lon = u.bearing_time = 999.0;
    }
    void TearDown() override {
        CDefaultUnits::u = saved;
        CUnits::SetMagneticModelPath(savedPath);
    }
    static std::string Dist(const CUnits& u, double m) {
        std::string t;
        u.FormatDistance(m, t);
        return t;
    }
    CUnits saved;
    std::string savedPath;
};

struct CountingListener : Listener<CUnits> {
    int count = 0;
    void OnUpdate(CUnits&) override { ++count; }
};

}  // namespace

TEST_F(UnitsTest, NewUnitsCopyTheUsersChoiceButNotBearingState) {
    CDefaultUnits::u.set_unit_family(CUnits::e_nautical_miles);
    CDefaultUnits::u.posfmt = CUnits::PositionFormatType::Find("MGRS");
    CDefaultUnits::u.bearing_mode = 1;
    CDefaultUnits::u.temperature_unit = 0;
    CDefaultUnits::u.magnetic_variation = 5;
    CUnits copy;
    EXPECT_EQ(copy.dist_units, CUnits::e_nautical_miles);
    EXPECT_EQ(copy.small_dist_units, CUnits::e_yards);
    EXPECT_EQ(copy.speed_units, 1);
    EXPECT_STREQ(copy.posfmt->name, "MGRS");
    EXPECT_EQ(copy.bearing_mode, 0);
    EXPECT_EQ(copy.temperature_unit, 1);
    EXPECT_EQ(copy.magnetic_variation, 0.0f);
    EXPECT_EQ(copy.bearing_lat, 999.0);
}

// Where each family hands over to its small unit, and the precision steps.
TEST_F(UnitsTest, DistanceSwitchPointsOfEveryFamily) {
    CUnits u;
    u.set_unit_family(CUnits::e_miles);
    EXPECT_EQ(Dist(u, 160.0), "525 ft");  // 0.0994 mi
    EXPECT_EQ(Dist(u, 170.0), "0.11 Mi");
    EXPECT_EQ(Dist(u, 20000.0), "12.4 Mi");
    EXPECT_EQ(Dist(u, 200000.0), "124 Mi");
    EXPECT_EQ(Dist(u, 2.0), "6.56 ft");

    u.set_unit_family(CUnits::e_nautical_miles);
    EXPECT_EQ(Dist(u, 0.05 * 1852), "101 yds");
    EXPECT_EQ(Dist(u, 180.0), "197 yds");
    EXPECT_EQ(Dist(u, 190.0), "0.10 NM");
    EXPECT_EQ(Dist(u, 1852.0 * 15), "15.0 NM");
    EXPECT_EQ(Dist(u, 5.0), "5.47 yds");

    u.set_unit_family(CUnits::e_km);
    EXPECT_EQ(Dist(u, 150.0), "0.15 km");
    EXPECT_EQ(Dist(u, 99.0), "99.0 m");
    EXPECT_EQ(Dist(u, 5.0), "5.00 m");
    EXPECT_EQ(Dist(u, 123456.0), "123 km");

    std::string value, unit;
    u.FormatDistance(50.0, value, unit);
    EXPECT_EQ(value, "50.0");
    EXPECT_EQ(unit, "m");

    // The bare value never switches unit.
    std::string t;
    u.FormatDistanceValue(50.0, t);
    EXPECT_EQ(t, "0.05");
    u.FormatDistanceValue(0.5, t);
    EXPECT_EQ(t, "0");
    u.FormatDistanceValue(1234567.0, t);
    EXPECT_EQ(t, "1235");
    u.FormatDistanceValue(12345.0, t);
    EXPECT_EQ(t, "12.3");
}

TEST_F(UnitsTest, FamiliesSetTheirCompanionUnits) {
    CUnits u;
    u.set_unit_family(CUnits::e_km);
    EXPECT_EQ(u.speed_units, 2);
    EXPECT_EQ(u.depth_units, 1);
    EXPECT_EQ(u.temperature_unit, 0);
    // The nautical family keeps depth and temperature as they were.
    u.set_unit_family(CUnits::e_nautical_miles);
    EXPECT_EQ(u.speed_units, 1);
    EXPECT_EQ(u.depth_units, 1);
    EXPECT_EQ(u.temperature_unit, 0);
    EXPECT_EQ(u.get_unit_family(), CUnits::e_nautical_miles);
    u.set_unit_family(CUnits::e_miles);
    EXPECT_EQ(u.speed_units, 0);
    EXPECT_EQ(u.depth_units, 0);
    EXPECT_EQ(u.temperature_unit, 1);
    EXPECT_EQ(u.small_dist_units, CUnits::e_feet);

    EXPECT_EQ(CUnits::SmallUnitOf(0), CUnits::e_feet);
    EXPECT_EQ(CUnits::SmallUnitOf(1), CUnits::e_yards);
    EXPECT_EQ(CUnits::SmallUnitOf(2), CUnits::e_metres);
    EXPECT_EQ(CUnits::SmallUnitOf(3), CUnits::e_metres);
    EXPECT_EQ(CUnits::SmallUnitOf(5), CUnits::e_yards);
}

TEST_F(UnitsTest, SpeedsDepthsAndTemperatures) {
    CUnits u;
    std::string t;
    u.speed_units = 2;
    u.FormatSpeed(0.5, t);
    EXPECT_EQ(t, "0.93 km/h");
    u.FormatSpeed(10, t);
    EXPECT_EQ(t, "18.5 km/h");
    u.speed_units = 3;
    u.FormatSpeedValue(1, t);
    EXPECT_EQ(t, "0.51");
    u.speed_units = 0;
    u.FormatSpeed(10, t);
    EXPECT_EQ(t, "11.5 mph");

    u.depth_units = 0;
    u.FormatDepth(-9999, t);
    EXPECT_EQ(t, "---");
    u.FormatDepthValue(-12000, t);
    EXPECT_EQ(t, "---");
    u.FormatDepthValue(-0.002, t);
    EXPECT_EQ(t, "0.0");  // never "-0.0"
    u.FormatDepth(2.0, t);
    EXPECT_EQ(t, "6.6 ft");
    u.FormatDepthValue(5.0, t);
    EXPECT_EQ(t, "16");
    u.depth_units = 2;
    u.FormatDepth(10.0, t);
    EXPECT_EQ(t, "5.5 fathom");
    u.depth_units = 1;
    u.FormatDepthValue(-3.0, t);
    EXPECT_EQ(t, "-3.0");

    u.temperature_unit = 1;
    u.FormatTemperatureValue(20, t);
    EXPECT_EQ(t, "68.0");
    EXPECT_STREQ(u.GetTemperatureUnit(),
                 "\xC2\xB0"
                 "F");
    u.temperature_unit = 0;
    u.FormatTemperatureValue(-3.25, t);
    EXPECT_EQ(t, "-3.2");
    EXPECT_STREQ(u.GetTemperatureUnit(),
                 "\xC2\xB0"
                 "C");
}

TEST_F(UnitsTest, BearingsTrueAndMagnetic) {
    CUnits u;
    std::string t;
    u.FormatBearing(359.6, t);
    EXPECT_EQ(t, "000\xC2\xB0T");
    u.FormatBearing(999, t);
    EXPECT_EQ(t, "");
    u.FormatBearingValue(900.5, t);
    EXPECT_EQ(t, "");
    u.FormatBearingValue(45.4998, t);
    EXPECT_EQ(t, "045");
    u.FormatBearingValue(45.5002, t);
    EXPECT_EQ(t, "046");

    u.bearing_mode = 1;
    u.magnetic_variation = 3.0f;  // east
    u.FormatBearing(1.0, t);
    EXPECT_EQ(t, "358\xC2\xB0M");
    u.magnetic_variation = -2.0f;  // west
    u.FormatBearingValue(100.0, t);
    EXPECT_EQ(t, "102");
    u.FormatBearingValue(359.0, t);
    EXPECT_EQ(t, "001");
    u.GetBearingUnit(t);
    EXPECT_EQ(t, "\xC2\xB0M");
}

TEST_F(UnitsTest, VariationFollowsTheOneDegreeRule) {
    CUnits::SetMagneticModelPath(kCof);
    CUnits& u = CDefaultUnits::u;
    const double t = 1.75e9;
    CDefaultUnits::settings.SetChanged(false);
    ASSERT_TRUE(u.SetBearingLocation(50.0, -1.0, t));
    EXPECT_FLOAT_EQ(u.magnetic_variation, get_magnetic_declination(kCof, 50.0, -1.0, 100.0, t));
    EXPECT_NE(u.magnetic_variation, 0.0f);
    EXPECT_TRUE(CDefaultUnits::settings.IsChanged());
    EXPECT_EQ(u.bearing_lat, 50.0);
    EXPECT_EQ(u.bearing_time, t);

    // Within a degree (squared distance below 1): nothing recomputed, even much later.
    const float before = u.magnetic_variation;
    EXPECT_FALSE(u.SetBearingLocation(50.6, -1.7, t + 3e8));
    EXPECT_EQ(u.magnetic_variation, before);
    EXPECT_EQ(u.bearing_lat, 50.0);
    // One degree of latitude is enough.
    EXPECT_TRUE(u.SetBearingLocation(51.0, -1.0, t));
    EXPECT_EQ(u.bearing_lat, 51.0);

    // Changing the bearing unit recomputes at the same place.
    u.magnetic_variation = 42.0f;
    u.ChangedBearingUnits();
    EXPECT_NE(u.magnetic_variation, 42.0f);
    EXPECT_EQ(u.bearing_lat, 51.0);

    // Without a model the variation is zero and true and magnetic agree.
    CUnits::SetMagneticModelPath("/nonexistent/WMM.COF");
    EXPECT_TRUE(u.SetBearingLocation(10.0, 10.0, t));
    EXPECT_EQ(u.magnetic_variation, 0.0f);
}

TEST_F(UnitsTest, ScaleBarPicksRoundDistances) {
    CUnits u;
    u.set_unit_family(CUnits::e_km);
    std::string t;
    double metres = 0;
    EXPECT_EQ(u.format_scale(10.0, t, 100, &metres), 100);
    EXPECT_EQ(t, "1 km");
    EXPECT_EQ(u.format_scale(3.0, t, 100, &metres), 67);
    EXPECT_EQ(t, "200 m");
    EXPECT_NEAR(metres, 200.0, 1e-6);
    EXPECT_EQ(u.format_scale(0.01, t, 150), 100);
    EXPECT_EQ(t, "1 m");
    EXPECT_EQ(u.format_scale(400.0, t, 150), 125);
    EXPECT_EQ(t, "50 km");

    u.set_unit_family(CUnits::e_nautical_miles);
    EXPECT_EQ(u.format_scale(50.0, t, 100), 74);
    EXPECT_EQ(t, "2 NM");
    EXPECT_EQ(u.format_scale(5.0, t, 100), 91);  // 500 m: shown in yards
    EXPECT_EQ(t, "500 yds");

    for (double bad : {0.0, -1.0, double(NAN), double(INFINITY)}) {
        EXPECT_EQ(u.format_scale(bad, t, 100), 0) << bad;
        EXPECT_EQ(t, "");
    }
    EXPECT_EQ(u.format_scale(10.0, t, 0), 0);
}

TEST_F(UnitsTest, LatLonTextInEveryStyleWithCarries) {
    std::string t;
    CUnits::appendPosition(t, 50.508333333, -1.3375, 0);
    EXPECT_EQ(t, "50.50833\xC2\xB0N,  1.33750\xC2\xB0W");
    t.clear();
    CUnits::appendPosition(t, 50.508333333, -1.3375, 1);
    EXPECT_EQ(t,
              "50\xC2\xB0"
              "30.500'N, 1\xC2\xB0"
              "20.250'W");
    t.clear();
    CUnits::appendPosition(t, -33.5, 151.25125, 2);
    EXPECT_EQ(t,
              "33\xC2\xB0"
              "30'00.0\"S, 151\xC2\xB0"
              "15'04.5\"E");
    t.clear();
    CUnits::appendPosition(t, -33.5, 151.25, 3);
    EXPECT_EQ(t, "-33.50000, 151.25000");

    // Minutes of 59.9997 carry into the degrees; 59.9994 does not.
    t.clear();
    CUnits::appendPosition(t, 50.999995, 0.0, 1);
    EXPECT_EQ(t,
              "51\xC2\xB0"
              "00.000'N, 0\xC2\xB0"
              "00.000'E");
    t.clear();
    CUnits::appendPosition(t, 50.99999, 0.0, 1);
    EXPECT_EQ(t.substr(0, 12),
              "50\xC2\xB0"
              "59.999'N");
    // 59.96 seconds carry into minutes, and 60 minutes into degrees.
    t.clear();
    CUnits::appendPosition(t, 10 + 59 / 60.0 + 59.96 / 3600, -(20 + 30 / 60.0 + 59.97 / 3600), 2);
    EXPECT_EQ(t,
              "11\xC2\xB0"
              "0'00.0\"N, 20\xC2\xB0"
              "31'00.0\"W");
    t.clear();
    CUnits::appendPosition(t, 10 + 59 / 60.0 + 59.9 / 3600, 0, 2);
    EXPECT_EQ(t.substr(0, 13),
              "10\xC2\xB0"
              "59'59.9\"N");
}

TEST_F(UnitsTest, ReadingAnglesAndPositions) {
    double v;
    EXPECT_EQ(CUnits::scan_deg_min_sec("50 30 36N", v), 'N');
    EXPECT_NEAR(v, 50.51, 1e-12);
    EXPECT_EQ(CUnits::scan_deg_min_sec("50 30'.5 s", v), 'S');
    EXPECT_NEAR(v, 50 + 30.5 / 60, 1e-12);
    EXPECT_EQ(CUnits::scan_deg_min_sec("50 30\x92.5", v), 0);  // Windows-1252 right quote
    EXPECT_NEAR(v, 50 + 30.5 / 60, 1e-12);
    EXPECT_EQ(CUnits::scan_deg_min_sec("nothing", v), 'G');
    EXPECT_EQ(v, 999.0);

    const CUnits::PosFmtLatLon& fmt =
        static_cast<const CUnits::PosFmtLatLon&>(*CUnits::PositionFormatType::Find("Deg,Min"));
    const struct {
        const char* text;
        double lat, lon;
    } good[] = {
        {"50 30.5N 1 20.25W", 50.508333333, -1.3375},
        {"50 30.5S 1 20.25W", -50.508333333, -1.3375},
        {"50 30.5n, 1 20.25e", 50.508333333, 1.3375},
        {"50\xC2\xB0"
         "30.500'N, 1\xC2\xB0"
         "20.250'W",
         50.508333333, -1.3375},
        {"50\xC2\xB0"
         "30'30.0\"N, 1\xC2\xB0"
         "20'15.0\"W",
         50.508333333, -1.3375},
        {"50.5 -1.25", 50.5, -1.25},
        {"-50.5,-1.25", -50.5, -1.25},
        {"  12.25   100.5", 12.25, 100.5},
        {"50 30'.5N 1 20'.25W", 50.508333333, -1.3375},
        {"89 0", 89.0, 0.0},
        {"-89 359.5", -89.0, 359.5},
    };
    for (const auto& g : good) {
        double lat = 0, lon = 0;
        ASSERT_TRUE(fmt.scan(g.text, lat, lon)) << g.text;
        EXPECT_NEAR(lat, g.lat, 1e-8) << g.text;
        EXPECT_NEAR(lon, g.lon, 1e-8) << g.text;
    }
    for (const char* bad : {"89.5 0", "-89.5 0", "90N 1E", "10 400", "10 -361", "50.5", "50.5N", "50.5,", "abc", "",
                            "N 50 W 1", "50.5 ,"}) {
        double lat = 1.5, lon = 2.5;
        EXPECT_FALSE(fmt.scan(bad, lat, lon)) << bad;
        EXPECT_EQ(lat, 1.5);
        EXPECT_EQ(lon, 2.5);
    }
}

TEST_F(UnitsTest, RegistryHoldsTheNineFormats) {
    const char* names[] = {
        "Degrees",    "Deg,Min", "Deg,Min,Sec", "UTM on WGS84", "UTM/WGS84 bands", "British National Grid",
        "Irish Grid", "MGRS",    "NZTM"};
    const auto all = CUnits::PositionFormatType::All();
    ASSERT_EQ(all.size(), 9u);
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_STREQ(all[i]->name, names[i]);
        EXPECT_EQ(CUnits::PositionFormatType::Find(names[i]), all[i]);
    }
    EXPECT_EQ(CUnits::PositionFormatType::Find("deg,min"), nullptr);
    EXPECT_EQ(CUnits::PositionFormatType::Find(""), nullptr);

    std::string t;
    EXPECT_FALSE(CDefaultUnits::u.FormatPosition(NAN, 0, t));
    ASSERT_TRUE(CDefaultUnits::u.FormatPosition(50.5, -1.25, t));
    EXPECT_EQ(t,
              "50\xC2\xB0"
              "30.000'N, 1\xC2\xB0"
              "15.000'W");
}

TEST_F(UnitsTest, ElapsedTimesAndClockTimes) {
    EXPECT_EQ(CUnits::FormatElapsedTime(59.6), "0:01:00");
    EXPECT_EQ(CUnits::FormatElapsedTime(3661), "1:01:01");
    EXPECT_EQ(CUnits::FormatElapsedTime(-3661), "Negative 1:01:01");
    EXPECT_EQ(CUnits::FormatElapsedTime(86400 + 3661), "1 day 1:01:01");
    EXPECT_EQ(CUnits::FormatElapsedTime(3 * 86400), "3 days 0:00:00");
    EXPECT_EQ(CUnits::FormatElapsedTimeHoursMins(27 * 3600 + 5 * 60 + 31), "27:06");
    EXPECT_EQ(CUnits::FormatElapsedTime(NAN), "");

    qputenv("TZ", "UTC");
    tzset();
    EXPECT_EQ(CUnits::FormatTimeOfDay(0), "12:00am");
    EXPECT_EQ(CUnits::FormatTimeOfDay(13 * 3600 + 5 * 60), "1:05pm");
    EXPECT_EQ(CUnits::FormatTimeOfDay(12 * 3600), "12:00pm");
    EXPECT_EQ(CUnits::Get24hTime(13 * 3600 + 5 * 60), "13:05");
    EXPECT_EQ(CUnits::FormatDate(1735689600.0), "1 Jan 2025");
    EXPECT_EQ(CUnits::FormatDate(1e300), "");
}

// The settings keys, read and written through the settings store.
TEST_F(UnitsTest, SettingsKeysReadAndWrite) {
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:posnfmt", "Irish Grid"));
    EXPECT_STREQ(CDefaultUnits::u.posfmt->name, "Irish Grid");
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:units", "1"));
    EXPECT_EQ(CDefaultUnits::u.dist_units, CUnits::e_nautical_miles);
    EXPECT_EQ(CDefaultUnits::u.small_dist_units, CUnits::e_yards);
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:units", "3"));
    EXPECT_EQ(CDefaultUnits::u.small_dist_units, CUnits::e_metres);
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:bearing_lat", "51.5"));
    EXPECT_EQ(CDefaultUnits::u.bearing_lat, 51.5);

    // Values that cannot be right fall back to defaults instead of indexing past a table.
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:units", "77"));
    EXPECT_EQ(CDefaultUnits::u.dist_units, CUnits::e_miles);
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:speed", "-4"));
    EXPECT_EQ(CDefaultUnits::u.speed_units, 0);
    ASSERT_TRUE(PersistantData::SetValue("CDefaultUnits:posnfmt", "Mercator"));
    EXPECT_STREQ(CDefaultUnits::u.posfmt->name, "Irish Grid");

    CDefaultUnits::u.posfmt = CUnits::PositionFormatType::Find("NZTM");
    CDefaultUnits::u.temperature_unit = 0;
    std::string v;
    ASSERT_TRUE(PersistantData::GetValue("CDefaultUnits:posnfmt", v));
    EXPECT_EQ(v, "NZTM");
    ASSERT_TRUE(PersistantData::GetValue("CDefaultUnits:temperature", v));
    EXPECT_EQ(v, "0x0");
    for (const char* key :
         {"units", "speed", "depth", "bearings", "magnetic_variation", "bearing_lat", "bearing_lon", "bearing_time"}) {
        EXPECT_TRUE(PersistantData::GetValue(std::string("CDefaultUnits:") + key, v)) << key;
    }
}

TEST_F(UnitsTest, SettingsPageModelChangesTheUsersUnits) {
    CUnits::SetMagneticModelPath(kCof);
    CUnitSettingsModel model;
    CountingListener listener;
    QSignalSpy spy(&model, &CUnitSettingsModel::unitsChanged);
    EXPECT_EQ(model.title(), "Units");
    EXPECT_EQ(model.positionFormatChoices().size(), 9);
    EXPECT_EQ(model.positionFormat(), "Deg,Min");
    EXPECT_EQ(model.positionFormatIndex(), 1);

    CDefaultUnits::settings.SetChanged(false);
    model.setFamily(2);
    EXPECT_EQ(CDefaultUnits::u.dist_units, CUnits::e_km);
    EXPECT_EQ(model.speed(), 2);
    EXPECT_EQ(model.temperature(), 0);
    EXPECT_TRUE(CDefaultUnits::settings.IsChanged());
    EXPECT_EQ(listener.count, 1);
    EXPECT_EQ(spy.count(), 1);

    model.setFamily(2);  // no change, no notification
    model.setSpeed(9);   // out of range
    model.setPositionFormat("No such format");
    EXPECT_EQ(listener.count, 1);

    model.setPositionFormat("MGRS");
    EXPECT_STREQ(CDefaultUnits::u.posfmt->name, "MGRS");
    model.setPositionFormatIndex(0);
    EXPECT_STREQ(CDefaultUnits::u.posfmt->name, "Degrees");
    model.setDepth(2);
    model.setTemperature(1);
    EXPECT_EQ(CDefaultUnits::u.depth_units, 2);
    EXPECT_EQ(listener.count, 5);

    // Switching to magnetic recomputes the variation where it was last computed.
    CDefaultUnits::u.SetBearingLocation(50.0, -1.0, 1.75e9);
    CDefaultUnits::u.magnetic_variation = 42.0f;
    model.setBearings(1);
    EXPECT_EQ(CDefaultUnits::u.bearing_mode, 1);
    EXPECT_NE(CDefaultUnits::u.magnetic_variation, 42.0f);
    EXPECT_EQ(spy.count(), 6);
}
