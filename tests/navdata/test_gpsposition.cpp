// SPDX-License-Identifier: GPL-3.0-or-later
// The GPS position fed from sentences: which talkers win, RMC against GGA, a receiver
// falling silent, compass damping, averaging, the odometer, storage and drawing.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "core/heartbeat.h"
#include "navdata/gpsposition.h"
#include "nmea_test_support.h"
#include "units/units.h"

namespace {

// A fresh position with its own feed, so that no test sees another's state. Settings are
// class-wide: each test starts from the defaults it relies on.
struct Fixture : ::testing::Test {
    std::unique_ptr<COverlayGPSPosition> pos = std::make_unique<COverlayGPSPosition>();
    std::unique_ptr<CFeedRMC_to_GPSPosition> feed = std::make_unique<CFeedRMC_to_GPSPosition>(*pos);
    std::vector<CDataGPSPosition> published;
    Catch<CDataGPSPosition> catcher{[this](CDataGPSPosition& p) { published.push_back(p); }};

    Fixture() {
        auto& s = COverlayGPSPosition::settings;
        s.averaging_time = 60.0;
        s.compass_damping_time_const = 2.0f;
        s.use_averaged_direction = false;
        s.show_vector = true;
        s.show_heading = true;
        s.num_range_rings = 0;
        s.gc_color2 = GraphicsColor{0, 0, 255, 255};
    }

    // A fix at (lat, lon) at `time`, as an accepted RMC would leave it.
    void Fix(double lat, double lon, double time, float course = 0, float speed = 0) {
        pos->fix_status = FIX_GPS;
        pos->fix_time = time;
        pos->hdop = 1.0f;  // averaging waits for a usable dilution
        pos->set_latlon(lat, lon);
        pos->set_course(course, speed);
        pos->DispatchPositionUpdate();
    }
};

// "ddmm.mmmm,N" from degrees.
std::string LatField(double lat) {
    char buf[32];
    const double a = std::fabs(lat);
    std::snprintf(buf, sizeof buf, "%02d%07.4f,%c", int(a), (a - int(a)) * 60.0, lat < 0 ? 'S' : 'N');
    return buf;
}
std::string LonField(double lon) {
    char buf[32];
    const double a = std::fabs(lon);
    std::snprintf(buf, sizeof buf, "%03d%07.4f,%c", int(a), (a - int(a)) * 60.0, lon < 0 ? 'W' : 'E');
    return buf;
}

std::string Rmc(const char* talker, bool valid, double lat, double lon, const char* hms = "120000.00",
                const char* speed = "5.0", const char* course = "90.0") {
    return Sentence(std::string(talker) + "RMC," + hms + "," + (valid ? "A," : "V,") + LatField(lat) + "," +
                    LonField(lon) + "," + speed + "," + course + ",010624,,," + (valid ? "A" : "N"));
}

std::string Gga(const char* talker, int quality, double lat, double lon, const char* alt = "12.5",
                const char* hdop = "0.9", const char* sats = "08") {
    return Sentence(std::string(talker) + "GGA,120000.00," + LatField(lat) + "," + LonField(lon) + "," +
                    std::to_string(quality) + "," + sats + "," + hdop + "," + alt + ",M,47.0,M,,");
}

// ---------------------------------------------------------------------------------------

TEST_F(Fixture, TalkerPreferenceCombinedBeatsGpsBeatsOthers) {
    // Without a fix anything goes; a GN fix then shuts out GP and GL.
    Feed(Rmc("GL", true, 10.0, 20.0));
    EXPECT_NEAR(pos->lat, 10.0, 1e-6);
    Feed(Rmc("GN", true, 11.0, 21.0));
    EXPECT_NEAR(pos->lat, 11.0, 1e-6);
    EXPECT_EQ(feed->rmc_talker, 'N');
    const size_t before = published.size();
    Feed(Rmc("GP", true, 12.0, 22.0));
    Feed(Rmc("GL", true, 13.0, 23.0));
    EXPECT_NEAR(pos->lat, 11.0, 1e-6);
    EXPECT_EQ(published.size(), before) << "rejected talkers must not publish";
    Feed(Rmc("GN", true, 11.5, 21.5));
    EXPECT_NEAR(pos->lat, 11.5, 1e-6);

    // GP with a fix displaces a single other system, but never GN.
    char accepted = 'L';
    EXPECT_TRUE(feed->check_talker('P', accepted));
    EXPECT_EQ(accepted, 'P');
    EXPECT_FALSE(feed->check_talker('L', accepted));
    EXPECT_EQ(accepted, 'P');
    EXPECT_TRUE(feed->check_talker('N', accepted));
    EXPECT_FALSE(feed->check_talker('P', accepted));

    // A lost fix lets any talker in again.
    Feed(Rmc("GN", false, 11.5, 21.5));
    EXPECT_EQ(pos->fix_status, FIX_NONE);
    Feed(Rmc("GL", true, 14.0, 24.0));
    EXPECT_NEAR(pos->lat, 14.0, 1e-6);
    EXPECT_EQ(feed->rmc_talker, 'L');
}

TEST_F(Fixture, SatelliteTableKeepsGpsWhenNoCombinedTableArrives) {
    Catch<CDataGPSSatelliteSignals> tables;
    Feed(Rmc("GN", true, 10.0, 20.0));
    Feed(Sentence("GNGSA,A,3,05,12,,,,,,,,,,,1.5,0.9,1.2"));
    Feed(Sentence("GPGSV,2,1,06,05,45,120,40,12,30,200,35,14,10,300,20,17,05,010,"));
    Feed(Sentence("GPGSV,2,2,06,19,60,090,44,22,15,250,30"));
    ASSERT_EQ(tables.count, 1) << "published once the last message of the group arrived";
    EXPECT_EQ(pos->sats_in_view, 6);
    EXPECT_EQ(pos->sats_in_use, 2);
    EXPECT_EQ(pos->CountEntries(), 6);
    EXPECT_EQ(pos->satellites[0].number, 5);
    EXPECT_TRUE(pos->satellites[0].in_use);
    EXPECT_EQ(pos->satellites[0].signal, 40);
    EXPECT_EQ(pos->satellites[0].azimuth, 120);
    EXPECT_FALSE(pos->satellites[2].in_use);
    EXPECT_EQ(pos->satellites[3].signal, 0) << "empty signal field";
    EXPECT_EQ(pos->satellites[4].number, 19) << "message 2 fills from entry 4";
    // With GP accepted and a fix, a GLONASS table is not taken.
    Feed(Sentence("GLGSV,1,1,02,65,40,100,30,66,20,200,25"));
    EXPECT_EQ(tables.count, 1);
    EXPECT_EQ(pos->satellites[0].number, 5);
    // A group that claims more than 24 satellites must stay inside the table.
    Feed(Sentence("GPGSV,9,7,36,90,10,100,30,91,10,100,30,92,10,100,30,93,10,100,30"));
    Feed(Sentence("GPGSV,9,9,36,99,10,100,30"));
    EXPECT_EQ(tables.count, 2);
    EXPECT_EQ(pos->satellites[23].number, 0);
}

TEST_F(Fixture, GgaAndVtgMoveThePositionOnlyUntilAnRmcIsSeen) {
    Feed(Gga("GP", 1, 50.0, 1.0));
    EXPECT_NEAR(pos->lat, 50.0, 1e-6);
    EXPECT_EQ(pos->fix_status, FIX_GPS);
    Feed(Sentence("GPVTG,270.0,T,,M,8.0,N,14.8,K,A"));
    EXPECT_FLOAT_EQ(pos->course, 270.0f);
    EXPECT_FLOAT_EQ(pos->speed, 8.0f);
    Feed(Gga("GP", 2, 50.1, 1.1));
    EXPECT_NEAR(pos->lat, 50.1, 1e-6);
    EXPECT_EQ(pos->fix_status, FIX_DIFFERENTIAL);
    EXPECT_EQ(published.size(), 2u);
    EXPECT_NEAR(pos->fix_time, CDataSource::Now(), 5.0) << "GGA takes the dispatch time";
    // A GGA at 0, 0 is no position.
    Feed(Gga("GP", 1, 0.0, 0.0));
    EXPECT_EQ(published.size(), 2u);

    Feed(Rmc("GP", true, 51.0, 2.0));
    EXPECT_NEAR(pos->lat, 51.0, 1e-6);
    const size_t afterRmc = published.size();
    Feed(Gga("GP", 4, 52.0, 3.0, "123.0", "1.7", "11"));
    EXPECT_NEAR(pos->lat, 51.0, 1e-6) << "GGA no longer moves the position";
    EXPECT_EQ(published.size(), afterRmc);
    EXPECT_EQ(pos->fix_status, FIX_RTK);
    EXPECT_FLOAT_EQ(pos->hdop, 1.7f);
    EXPECT_EQ(pos->sats_in_use, 11);
    EXPECT_NEAR(pos->last_gps_altitude, 123.0, 1e-6);
    EXPECT_TRUE(feed->gga_seen);
    // Quality 0 loses the fix; an unknown quality keeps the status.
    Feed(Gga("GP", 0, 52.0, 3.0));
    EXPECT_EQ(pos->fix_status, FIX_NONE);
    Feed(Gga("GP", 9, 52.0, 3.0));
    EXPECT_EQ(pos->fix_status, FIX_NONE);
    // VTG is ignored once RMC gives course and speed.
    Feed(Sentence("GPVTG,270.0,T,,M,8.0,N,14.8,K,A"));
    EXPECT_FLOAT_EQ(pos->course, 90.0f);
}

TEST_F(Fixture, InvalidRmcDropsTheFixAndTheDirection) {
    Feed(Rmc("GP", true, 45.0, 7.0, "120000.00", "6.0", "45.0"));
    ASSERT_EQ(pos->fix_status, FIX_GPS);
    EXPECT_EQ(pos->best_mode, CDataSpeedDirection::DIR_COURSE);
    Feed(Rmc("GP", false, 45.001, 7.0, "120001.00", "6.0", "45.0"));
    EXPECT_EQ(pos->fix_status, FIX_NONE);
    EXPECT_EQ(pos->best_mode, CDataSpeedDirection::DIR_NONE);
    EXPECT_FLOAT_EQ(pos->get_heading(), CDataSpeedDirection::kNoDirection);
    ASSERT_FALSE(published.empty());
    EXPECT_EQ(published.back().fix_status, FIX_NONE) << "the lost fix is published";
    // A void RMC without a position changes nothing but the time.
    const size_t n = published.size();
    Feed(Sentence("GPRMC,120002.00,V,,,,,,,010624,,,N"));
    EXPECT_EQ(published.size(), n);
    // Small reported speeds are noise.
    Feed(Rmc("GP", true, 45.0, 7.0, "120003.00", "0.1", "45.0"));
    EXPECT_FLOAT_EQ(pos->speed, 0.0f);
}

TEST_F(Fixture, SilenceForFiveSecondsPublishesTheLostFixOnce) {
    Feed(Gga("GP", 1, 50.0, 1.0, "30.0"));
    ASSERT_TRUE(pos->HasFix());
    ASSERT_TRUE(pos->HasAltitude());
    published.clear();
    for (int i = 0; i < COverlayGPSPosition::kStaleTicks - 1; ++i) CHeartbeat::Pulse();
    EXPECT_TRUE(pos->HasFix());
    // A position restarts the countdown.
    Feed(Gga("GP", 1, 50.0, 1.0, "30.0"));
    published.clear();
    for (int i = 0; i < COverlayGPSPosition::kStaleTicks - 1; ++i) CHeartbeat::Pulse();
    EXPECT_TRUE(pos->HasFix());
    EXPECT_TRUE(published.empty());
    CHeartbeat::Pulse();
    EXPECT_FALSE(pos->HasFix());
    EXPECT_FALSE(pos->HasAltitude());
    EXPECT_EQ(pos->best_mode, CDataSpeedDirection::DIR_NONE);
    ASSERT_EQ(published.size(), 1u);
    EXPECT_EQ(published[0].fix_status, FIX_NONE);
    for (int i = 0; i < 3 * COverlayGPSPosition::kStaleTicks; ++i) CHeartbeat::Pulse();
    EXPECT_EQ(published.size(), 1u) << "the lost fix is told once";
}

TEST_F(Fixture, CompassDampingTakesTheShortWayRound) {
    Catch<CDataSpeedDirection> directions;
    pos->set_heading(359.0f, 1000.0);
    EXPECT_FLOAT_EQ(pos->compass.heading, 359.0f);
    pos->set_heading(1.0f, 1001.0);
    const float h = pos->compass.heading;
    EXPECT_TRUE(h < 0.01f || h > 359.99f) << h;
    EXPECT_EQ(directions.count, 2);
    EXPECT_EQ(pos->best_mode, CDataSpeedDirection::DIR_COMPASS) << "standing still, the compass leads";
    // Later than one time constant: the heading jumps.
    pos->set_heading(180.0f, 1010.0);
    EXPECT_FLOAT_EQ(pos->compass.heading, 180.0f);
    // A missing heading clears it.
    pos->set_heading(999.0f, 1011.0);
    EXPECT_FLOAT_EQ(pos->compass.heading, CDataSpeedDirection::kNoDirection);
    EXPECT_EQ(pos->best_mode, CDataSpeedDirection::DIR_NONE);
}

TEST_F(Fixture, CompassCalibrationInterpolatesAndCorrectsTheSensor) {
    CompassCalibration c;
    EXPECT_TRUE(c.FromString("10,0,0,0,0,0,0,0,0,0,0,-10"));
    EXPECT_NEAR(c.Adjust(0), 10.0, 1e-4);
    EXPECT_NEAR(c.Adjust(15), 20.0, 1e-4);    // halfway from +10 to 0
    EXPECT_NEAR(c.Adjust(345), 345.0, 1e-4);  // halfway from -10 to +10 at 360
    EXPECT_NEAR(c.Adjust(-15), 345.0, 1e-4);
    CompassCalibration d;
    EXPECT_TRUE(d.FromString(c.ToString()));
    EXPECT_NEAR(d.Adjust(330), 320.0, 1e-4);
    EXPECT_FALSE(d.FromString("1,2,3"));
    EXPECT_FALSE(d.FromString("a,b,c,d,e,f,g,h,i,j,k,l"));
    EXPECT_NEAR(d.Adjust(330), 320.0, 1e-4) << "bad text leaves the corrections";

    // The stored table corrects what the sensor says before the variation is added.
    auto& u = CDefaultUnits::u;
    const float savedVariation = u.magnetic_variation;
    const CompassCalibration saved = COverlayGPSPosition::settings.calibration;
    COverlayGPSPosition::settings.calibration = c;
    COverlayGPSPosition::settings.compass_damping_time_const = 0;  // no damping
    u.magnetic_variation = -2.0f;
    Feed(Sentence("HCHDG,15.0,,,2.0,W"));
    EXPECT_NEAR(pos->compass.heading, 15.0 + 5.0 - 2.0, 1e-3);
    Feed(Sentence("HCHDG,999.0,,,,"));
    EXPECT_FLOAT_EQ(pos->compass.heading, CDataSpeedDirection::kNoDirection);
    COverlayGPSPosition::settings.calibration = saved;
    u.magnetic_variation = savedVariation;
}

TEST_F(Fixture, AveragingRunsEverySixthOfTheWindowOverRecentSamples) {
    // 10 knots due north: one fix a second.
    const double t0 = 1.7e9;
    const double degPerSecond = 10.0 * 1852.0 / 3600.0 / CSimpleGrid::MetresPerDegreeLatAt(50.0);
    std::vector<double> averagedAt;
    for (int i = 0; i <= 30; ++i) {
        const double before = pos->next_averaging_time;
        Fix(50.0 + i * degPerSecond, 1.0, t0 + i, 0.0f, 10.0f);
        if (pos->next_averaging_time != before) averagedAt.push_back(t0 + i);
    }
    ASSERT_GE(averagedAt.size(), 4u);
    for (size_t i = 1; i < averagedAt.size(); ++i) EXPECT_GE(averagedAt[i] - averagedAt[i - 1], 6.0);
    EXPECT_NEAR(pos->avg_speed, 10.0, 0.05);
    EXPECT_NEAR(pos->avg_direction, 0.0, 0.5);
    EXPECT_GT(pos->avg_vec.y, 0.99f);

    // After a long stop, only samples of the last 90 s count: the boat is still.
    const double lat = pos->lat;
    for (int i = 1; i <= 20; ++i) Fix(lat, 1.0, t0 + 30 + i * 10.0);
    EXPECT_LT(pos->avg_speed, 0.1f);
    EXPECT_FLOAT_EQ(pos->avg_direction, CDataSpeedDirection::kNoDirection);
    EXPECT_LE(pos->history_count, COverlayGPSPosition::kHistorySize);

    // Fixes too close together are not accepted; a clock going back starts again.
    const double accepted = pos->last_accepted_time;
    Fix(lat, 1.0, accepted + 0.5);
    EXPECT_EQ(pos->last_accepted_time, accepted);
    Fix(lat, 1.0, accepted - 100);
    EXPECT_EQ(pos->last_accepted_time, 0);

    pos->reset_history();
    EXPECT_EQ(pos->history_count, 0);
    EXPECT_TRUE(pos->speed_range.IsEmpty());
}

TEST_F(Fixture, AveragedDirectionLeadsAtWalkingPaceWhenAllowed) {
    COverlayGPSPosition::settings.use_averaged_direction = true;
    COverlayGPSPosition::settings.averaging_time = 30.0;
    const double t0 = 1.7e9;
    // 0.25 knot east: below the speed that trusts course over ground.
    const double degPerSecond = 0.25 * 1852.0 / 3600.0 / CSimpleGrid::MetresPerDegreeLonAt(0.0);
    for (int i = 0; i <= 40; ++i) Fix(0.0, 10.0 + i * degPerSecond, t0 + i, 0.0f, 0.25f);
    EXPECT_EQ(pos->best_mode, CDataSpeedDirection::DIR_AVERAGED);
    EXPECT_NEAR(pos->get_heading(), 90.0, 1.0);
    EXPECT_NEAR(pos->get_speed(), 0.25, 0.01);
}

TEST_F(Fixture, OdometerAddsLegsAlongTheWay) {
    COverlayGPSPosition::settings.averaging_time = 10.0;
    const double t0 = 1.7e9;
    // 12 knots east for 10 minutes: 2 nautical miles.
    const double mps = 12.0 * 1852.0 / 3600.0;
    const double degPerSecond = mps / CSimpleGrid::MetresPerDegreeLonAt(40.0);
    for (int i = 0; i <= 600; ++i) Fix(40.0, -70.0 + i * degPerSecond, t0 + i, 90.0f, 12.0f);
    EXPECT_GT(pos->odo_total, 0.0) << "legs were closed";
    EXPECT_NEAR(pos->odo_total + pos->odo_leg, 2.0 * 1852.0, 30.0);

    // A sharp turn closes a leg early.
    const double total = pos->odo_total;
    const double lon = pos->lon;
    const double legStart = pos->leg_time;
    for (int i = 1; i <= 20; ++i) Fix(40.0 - i * mps / 111000.0, lon, t0 + 600 + i, 180.0f, 12.0f);
    EXPECT_GT(pos->leg_time, legStart);
    EXPECT_GT(pos->odo_total, total);

    // Standing still adds nothing.
    const double still = pos->odo_total + pos->odo_leg;
    for (int i = 1; i <= 300; ++i) Fix(pos->lat, pos->lon, t0 + 700 + i);
    EXPECT_NEAR(pos->odo_total + pos->odo_leg, still, 1.0);
}

TEST_F(Fixture, StoredPositionRoundTripsAndDamageIsRefused) {
    const std::string dir = getTempDirectory() + "/gpsfeed_store";
    createPath(dir);
    const std::string file = dir + COverlayGPSPosition::kFileName;
    std::remove(file.c_str());
    auto& latest = COverlayGPSPosition::theLatestPosition;
    EXPECT_TRUE(LoadLatestPosition(dir)) << "a missing file is no error";

    latest.fix_status = FIX_GPS;
    latest.set_latlon(-33.856, 151.215);
    latest.fix_time = 1.7e9 + 0.25;
    latest.odo_total = 12345.5;
    latest.SetAltitudeSettings(3.0, CDataAltitude::ALT_BLEND, 20.0, 0.005);
    latest.filtered_offset = 42.0;
    ASSERT_TRUE(SaveLatestPosition(dir));
    EXPECT_EQ(CSerializable::readMagic(file), COverlayGPSPosition::kFileMagic);

    latest.set_latlon(1, 2);
    latest.odo_total = 0;
    latest.SetAltitudeSettings(0, CDataAltitude::ALT_GPS, 10.0, 5.0);
    ASSERT_TRUE(LoadLatestPosition(dir));
    EXPECT_DOUBLE_EQ(latest.lat, -33.856);
    EXPECT_DOUBLE_EQ(latest.lon, 151.215);
    EXPECT_DOUBLE_EQ(latest.grid.OriginLat(), -33.856) << "the grid follows the loaded position";
    EXPECT_DOUBLE_EQ(latest.fix_time, 1.7e9 + 0.25);
    EXPECT_DOUBLE_EQ(latest.odo_total, 12345.5);
    EXPECT_DOUBLE_EQ(latest.user_offset, 3.0);
    EXPECT_DOUBLE_EQ(latest.filtered_offset, 42.0);
    EXPECT_DOUBLE_EQ(latest.gps_time_const_recip, 1.0 / 20.0);
    EXPECT_EQ(latest.pressure_smoothing_recip, 0.0) << "tiny time constants have no reciprocal";
    EXPECT_EQ(latest.mode, CDataAltitude::ALT_GPS) << "no barometer here";
    EXPECT_EQ(latest.fix_status, FIX_NONE) << "a remembered position is no fix";

    // Damaged files: every prefix of the good one, then garbage and a wrong class.
    std::string good;
    {
        std::ifstream in(file, std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(good.size(), 40u);
    for (size_t cut : {size_t(0), size_t(3), size_t(9), size_t(20), good.size() - 9, good.size() - 1}) {
        std::ofstream(file, std::ios::binary | std::ios::trunc).write(good.data(), std::streamsize(cut));
        latest.set_latlon(5, 6);
        EXPECT_FALSE(LoadLatestPosition(dir)) << "cut at " << cut;
        EXPECT_DOUBLE_EQ(latest.lat, 5.0) << "cut at " << cut;
    }
    std::string other = good;
    other[9] ^= 0x55;  // the class magic
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(other.data(), std::streamsize(other.size()));
    EXPECT_FALSE(LoadLatestPosition(dir));
    std::remove(file.c_str());
}

// A mapping laid out by hand: position at (50, 50), the other points as given.
COverlayObject::CMapping HandMapping(COverlayObject* obj, DblPoint vectorEnd, DblPoint ring, DblPoint heading) {
    COverlayObject::CMapping m(obj);
    m.points = {DblPoint(50, 50), vectorEnd, ring, heading};
    m.screen = m.points;
    return m;
}

TEST_F(Fixture, DrawingColoursTheIconOnlyWithAFixAndPointsTheHeading) {
    QImage img(100, 100, QImage::Format_ARGB32_Premultiplied);
    auto draw = [&](COverlayObject::CMapping m) {
        img.fill(Qt::white);
        QPainter p(&img);
        pos->Draw(&p, m);
    };
    pos->set_latlon(10, 10);
    pos->fix_status = FIX_NONE;
    draw(HandMapping(pos.get(), DblPoint(0, 0), DblPoint(0, 0), DblPoint(50, 40)));
    const QColor grey = img.pixelColor(50, 50);
    EXPECT_EQ(grey.red(), 128);
    EXPECT_EQ(grey.green(), 128);
    EXPECT_EQ(grey.blue(), 128);

    // With a fix, the icon takes its colour; the compass triangle points up (north).
    pos->fix_status = FIX_GPS;
    pos->set_heading(0.0f, 1.0);
    ASSERT_EQ(pos->best_mode, CDataSpeedDirection::DIR_COMPASS);
    draw(HandMapping(pos.get(), DblPoint(0, 0), DblPoint(0, 0), DblPoint(50, 40)));
    EXPECT_EQ(img.pixelColor(50, 50), QColor(0, 0, 255));
    EXPECT_EQ(img.pixelColor(50, 50 - 22), QColor(0, 0, 255)) << "triangle ahead of the icon";
    EXPECT_EQ(img.pixelColor(50, 50 + 26), QColor(Qt::white)) << "nothing behind";

    // Moving on course: a velocity vector to the east, and range rings.
    COverlayGPSPosition::settings.num_range_rings = 2;
    pos->set_heading(999.0f, 2.0);
    pos->set_course(90.0f, 5.0f);
    pos->evaluate_best_direction();
    draw(HandMapping(pos.get(), DblPoint(95, 50), DblPoint(60, 50), DblPoint(0, 0)));
    EXPECT_NE(img.pixelColor(85, 50), QColor(Qt::white)) << "vector drawn";
    EXPECT_NE(img.pixelColor(50, 40), QColor(Qt::white)) << "first ring";
    EXPECT_NE(img.pixelColor(50, 30), QColor(Qt::white)) << "second ring";
    EXPECT_EQ(img.pixelColor(50, 35), QColor(Qt::white)) << "between the rings";

    // Short or unmapped mappings draw nothing and do not crash.
    COverlayObject::CMapping empty(pos.get());
    img.fill(Qt::white);
    QPainter p(&img);
    pos->Draw(&p, empty);
    p.end();
    EXPECT_EQ(img.pixelColor(50, 50), QColor(Qt::white));
}

}  // namespace
