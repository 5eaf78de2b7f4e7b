// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <limits>
#include <string>

#include "overlays/gpsdata.h"

namespace {

using SD = CDataSpeedDirection;

// Restores the settings-bound statics so tests do not leak into each other.
class GpsData : public ::testing::Test {
protected:
    void SetUp() override {
        savedAveraged = SD::use_averaged_direction;
        savedDamping = SD::CompassDamping::default_time_const;
    }
    void TearDown() override {
        SD::use_averaged_direction = savedAveraged;
        SD::CompassDamping::default_time_const = savedDamping;
    }
    bool savedAveraged = false;
    float savedDamping = 0;
};

TEST(FixStatus, GgaQualityTable) {
    const int expected[9] = {0, 1, 2, 6, 5, 5, 4, 7, 3};
    for (int q = 0; q <= 8; ++q) EXPECT_EQ(FixStatusFromGGAQuality(q, 1), expected[q]) << q;
    EXPECT_EQ(FixStatusFromGGAQuality(9, FIX_DIFFERENTIAL), FIX_DIFFERENTIAL);
    EXPECT_EQ(FixStatusFromGGAQuality(-1, FIX_RTK), FIX_RTK);
}

TEST_F(GpsData, CompassDampingTakesTheShortWayRound) {
    SD::CompassDamping::default_time_const = 2.0f;
    SD d;
    d.SetCompassHeading(359, 100.0);  // first heading: taken as it is
    EXPECT_FLOAT_EQ(d.compass.heading, 359);
    d.SetCompassHeading(1, 101.0);
    EXPECT_NEAR(d.compass.heading, 0.0, 1e-4);  // not 180
    EXPECT_NEAR(d.compass.vec.y, 1.0, 1e-6);

    // Headings outside 0..360 by one turn are brought back in.
    d.SetCompassHeading(-90, 110.0);  // dt beyond the time constant: jumps
    EXPECT_FLOAT_EQ(d.compass.heading, 270);
    EXPECT_NEAR(d.compass.vec.x, -1.0, 1e-6);
    d.SetCompassHeading(450, 120.0);
    EXPECT_FLOAT_EQ(d.compass.heading, 90);

    // The same time again (dt = 0) replaces rather than dividing by nothing.
    d.SetCompassHeading(100, 120.0);
    EXPECT_FLOAT_EQ(d.compass.heading, 100);

    // 900 and above, or garbage, means no heading.
    d.SetCompassHeading(999, 121.0);
    EXPECT_GE(d.compass.heading, SD::kNoneThreshold);
    EXPECT_EQ(d.compass.vec.x, 0);
    d.SetCompassHeading(50, 122.0);
    d.SetCompassHeading(std::numeric_limits<float>::quiet_NaN(), 122.5);
    EXPECT_GE(d.compass.heading, SD::kNoneThreshold);

    // A time constant latched once: changing the setting later does not affect it.
    SD::CompassDamping::default_time_const = 0;
    d.SetCompassHeading(0, 130.0);
    d.SetCompassHeading(90, 131.0);
    EXPECT_FLOAT_EQ(d.compass.heading, 45);
}

TEST_F(GpsData, CompassDampingOffWhenSettingNotPositive) {
    SD::CompassDamping::default_time_const = 0;
    SD d;
    d.SetCompassHeading(10, 1.0);
    d.SetCompassHeading(80, 1.05);
    EXPECT_FLOAT_EQ(d.compass.heading, 80);
}

TEST_F(GpsData, BestDirectionByMode) {
    SD::use_averaged_direction = false;
    SD d;
    d.SetCourseSpeed(45, 0.1f);
    EXPECT_EQ(d.speed, 0);  // noise
    d.evaluate_best_direction();
    EXPECT_EQ(d.best_mode, SD::DIR_NONE);
    EXPECT_EQ(d.get_heading(), 999);
    EXPECT_EQ(d.get_speed(), 0);

    d.avg_speed = 0.5f;
    d.avg_direction = 200;
    d.avg_vec.SetDegrees(200);
    d.evaluate_best_direction();
    EXPECT_EQ(d.best_mode, SD::DIR_NONE);  // averaged direction not wanted
    SD::use_averaged_direction = true;
    d.evaluate_best_direction();
    EXPECT_EQ(d.best_mode, SD::DIR_AVERAGED);
    EXPECT_EQ(d.get_heading(), 200);
    EXPECT_FLOAT_EQ(d.get_speed(), 0.5f);

    d.SetCompassHeading(123, 5.0);
    d.evaluate_best_direction();
    EXPECT_EQ(d.best_mode, SD::DIR_COMPASS);  // a compass beats averaging
    EXPECT_FLOAT_EQ(d.get_heading(), 123);
    EXPECT_FLOAT_EQ(d.get_speed(), 0.5f);

    d.SetCourseSpeed(45, 0.31f);
    d.evaluate_best_direction();
    EXPECT_EQ(d.best_mode, SD::DIR_COURSE);  // moving: course over ground wins
    EXPECT_FLOAT_EQ(d.get_heading(), 45);
    EXPECT_FLOAT_EQ(d.get_speed(), 0.31f);
    EXPECT_NEAR(d.best_vec.x, std::sqrt(0.5), 1e-6);

    d.invalid_direction();
    EXPECT_EQ(d.get_heading(), 999);
    EXPECT_EQ(d.best_vec.x, 0);
}

TEST(SpeedDirection, ChangeOfCourseOrSpeed) {
    SD d;
    d.SetCourseSpeed(90, 6);
    d.avg_speed = 6;
    d.avg_vec.SetDegrees(90);
    d.evaluate_best_direction();
    EXPECT_FALSE(d.hasChangedCourseSpd());  // steady

    d.avg_vec.SetDegrees(80);  // a 10 degree turn at 6 knots: about 1.05 kn apart, limit 1.75
    EXPECT_FALSE(d.hasChangedCourseSpd());
    d.avg_vec.SetDegrees(60);  // 30 degrees: about 3.1 kn apart
    EXPECT_TRUE(d.hasChangedCourseSpd());
    d.avg_vec.SetDegrees(90);
    d.avg_speed = 3;  // slowed down to half
    EXPECT_TRUE(d.hasChangedCourseSpd());

    // Only meaningful while moving on course over ground.
    d.SetCourseSpeed(90, 0.2f);
    d.avg_speed = 0.4f;
    d.evaluate_best_direction();
    EXPECT_FALSE(d.hasChangedCourseSpd());
}

TEST(SpeedRange, KeepsTheWindowOnly) {
    MinMaxRange r(300);
    EXPECT_EQ(r.Min(), 0);
    EXPECT_EQ(r.Max(), 0);
    r.Add(5, 0);
    r.Add(9, 100);
    r.Add(2, 200);
    EXPECT_EQ(r.Min(), 2);
    EXPECT_EQ(r.Max(), 9);
    r.Add(4, 301);  // the sample at 0 leaves the window
    EXPECT_EQ(r.Count(), 3u);
    r.Add(3, 401);  // and the 9 at 100
    EXPECT_EQ(r.Max(), 4);
    r.Reset();
    EXPECT_TRUE(r.IsEmpty());
}

TEST(Altitude, GpsOnlyFiltersTowardsTheFix) {
    CDataAltitude a;
    a.SetAltitudeSettings(2.0, CDataAltitude::ALT_GPS, 10.0, 5.0);
    a.Set(100, 0, 1000);  // first sample: jumps
    EXPECT_DOUBLE_EQ(a.altitude, 102);
    a.Set(110, 0, 1001);  // a tenth of the way
    EXPECT_DOUBLE_EQ(a.altitude, 103);
    a.Set(200, 0, 1001);  // same time: no filtering step, value kept
    EXPECT_DOUBLE_EQ(a.altitude, 103);
    EXPECT_DOUBLE_EQ(a.last_gps_altitude, 200);
    a.Set(50, 0, 1020);  // gap longer than the time constant: jumps
    EXPECT_DOUBLE_EQ(a.altitude, 52);
    EXPECT_DOUBLE_EQ(a.last_sample_time, 1020);

    a.mode = 9;  // unknown mode: no altitude
    a.Set(50, 0, 1021);
    EXPECT_FALSE(a.HasAltitude());
}

TEST(Altitude, BarometricAndBlend) {
    CDataAltitude a;
    a.SetAltitudeSettings(0, CDataAltitude::ALT_BAROMETRIC, 10.0, 0.0);
    a.Set(30, 0, 1);
    EXPECT_FALSE(a.HasAltitude());  // no pressure yet
    a.Set(30, 1013.25, 2);          // reference taken here, at the GPS altitude
    EXPECT_DOUBLE_EQ(a.ref_pressure, 1013.25);
    EXPECT_NEAR(a.altitude, 30, 1e-9);
    a.Set(999, 1001.3, 3);  // about 100 m higher by pressure; GPS ignored
    EXPECT_NEAR(a.altitude, 130, 2);

    // Blend: far from the reference the pressure is taken as the new reference, and the
    // altitude carries on without a jump.
    CDataAltitude b;
    b.SetAltitudeSettings(5, CDataAltitude::ALT_BLEND, 10.0, 0.0);
    b.Set(20, 1013.25, 1);
    EXPECT_NEAR(b.altitude, 25, 1e-9);
    b.Set(20, 990.0, 2);  // about 195 m by pressure
    const double before = b.altitude;
    EXPECT_GT(before, 150);
    EXPECT_DOUBLE_EQ(b.ref_pressure, 990.0);
    b.Set(20, 990.0, 2);  // same instant at the new reference
    EXPECT_NEAR(b.altitude, before, 1e-6);

    // Blend without a pressure behaves as GPS only.
    CDataAltitude c;
    c.SetAltitudeSettings(0, CDataAltitude::ALT_BLEND, 10.0, 0.0);
    c.Set(42, 0, 1000);
    EXPECT_DOUBLE_EQ(c.altitude, 42);
}

TEST(Altitude, TerrainValueIsNotOverwrittenBySamples) {
    CDataAltitude a;
    a.mode = CDataAltitude::ALT_TERRAIN;
    a.altitude = 321;
    a.Set(5, 1000, 1);
    EXPECT_DOUBLE_EQ(a.altitude, 321);
}

TEST(Altitude, BarometricSmoothing) {
    CDataAltitude a;
    a.SetAltitudeSettings(0, CDataAltitude::ALT_BAROMETRIC, 10, 4);
    a.ref_pressure = 1000;
    const double raw = 44330.0 * (1.0 - std::pow(990.0 / 1000.0, 0.1902663538687809));
    EXPECT_NEAR(a.altitudeFromPressure(990, 1), raw, 1e-9);  // no previous value
    EXPECT_NEAR(a.altitudeFromPressure(1000, 1), raw * 0.75, 1e-9);
    EXPECT_NEAR(a.altitudeFromPressure(1000, 10), 0, 1e-9);  // gap beyond smoothing time
}

TEST(Altitude, StoredFieldsAndFallbackWithoutBarometer) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("pos.nv").toStdString();
    struct Holder : CSerializable {
        CDataAltitude alt;
        bool barometer = true;
        bool Serialize(IOStream& s) override {
            Section sec(s);
            return alt.DeclareAltitude(sec, barometer);
        }
    };
    Holder w;
    w.alt.SetAltitudeSettings(3.5, CDataAltitude::ALT_BLEND, 0.005, 8);
    w.alt.last_sample_time = 77;
    w.alt.filtered_offset = -12;
    w.alt.ref_pressure = 1010;
    ASSERT_TRUE(w.WriteFile(path));

    Holder r;
    r.barometer = false;
    ASSERT_TRUE(r.ReadFile(path));
    EXPECT_EQ(r.alt.mode, CDataAltitude::ALT_GPS);
    EXPECT_DOUBLE_EQ(r.alt.user_offset, 3.5);
    EXPECT_DOUBLE_EQ(r.alt.gps_time_const, 0.005);
    EXPECT_DOUBLE_EQ(r.alt.gps_time_const_recip, 0);  // too small to use
    EXPECT_DOUBLE_EQ(r.alt.pressure_smoothing_recip, 0.125);
    EXPECT_DOUBLE_EQ(r.alt.last_sample_time, 77);
    EXPECT_DOUBLE_EQ(r.alt.filtered_offset, -12);
    EXPECT_DOUBLE_EQ(r.alt.ref_pressure, 1010);

    Holder withBaro;
    ASSERT_TRUE(withBaro.ReadFile(path));
    EXPECT_EQ(withBaro.alt.mode, CDataAltitude::ALT_BLEND);
}

TEST(Position, PlainDataHelpers) {
    CDataGPSPosition p;
    EXPECT_FALSE(p.HasPosition());
    EXPECT_FALSE(p.HasFix());
    p.SetLatLon(50.5, -1.25);
    EXPECT_TRUE(p.HasPosition());
    EXPECT_EQ(p.grid.OriginLat(), 50.5);
    EXPECT_EQ(p.grid.OriginLon(), -1.25);
    p.fix_status = FIX_SIMULATED;
    EXPECT_TRUE(p.HasFix());

    CDataGPSSatelliteSignals s;
    s.satellites[3].number = 12;
    s.satellites[23].number = 30;
    EXPECT_EQ(s.CountEntries(), 2);
    s.ClearSatellites();
    EXPECT_EQ(s.CountEntries(), 0);
}

}  // namespace
