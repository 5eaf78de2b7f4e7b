// SPDX-License-Identifier: GPL-3.0-or-later
// The demo log shipped with the program, replayed through the dispatcher and the GPS
// feed: every fix at sea inside the built-in Channel chart, at sailing speeds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "navdata/gpsposition.h"
#include "nmea_test_support.h"

namespace {

struct Fix {
    double lat, lon, time;
    float speed;
    int status;
};

double MilesBetween(double lat1, double lon1, double lat2, double lon2) {
    const double k = std::cos((lat1 + lat2) / 2 * 3.14159265358979323846 / 180.0);
    return std::hypot((lat2 - lat1) * 60.0, (lon2 - lon1) * 60.0 * k);
}

TEST(DemoFeed, ReplayedLogSailsInsideTheChannelChartAtSailingSpeeds) {
    std::ifstream in(NAVORA_SOURCE_DIR "/data/demo/demo_sail.nmea", std::ios::binary);
    ASSERT_TRUE(in) << "data/demo/demo_sail.nmea is missing";
    COverlayGPSPosition pos;
    CFeedRMC_to_GPSPosition feed(pos);
    std::vector<Fix> fixes;
    Catch<CDataGPSPosition> positions([&](CDataGPSPosition& p) {
        fixes.push_back({p.lat, p.lon, p.fix_time, p.speed, p.fix_status});
    });
    int rejected = 0;
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty()) continue;
        if (!CNMEASentence::check_checksum(line.c_str())) ++rejected;
        Feed(line);
    }
    EXPECT_EQ(rejected, 0);
    ASSERT_FALSE(fixes.empty());

    // The built-in chart spans 48.4-51.4 N, 6 W-2 E: stay well inside it, clear of the
    // Lyme Bay shore by miles, a fix a second that never jumps.
    const struct {
        double lat, lon;
    } shore[] = {{50.514, -2.457}, {50.655, -2.600}, {50.710, -2.760}, {50.720, -2.940}, {50.700, -3.070},
                 {50.680, -3.240}, {50.610, -3.410}, {50.540, -3.490}, {50.400, -3.480}};
    double farthest = 0;
    for (size_t i = 0; i < fixes.size(); ++i) {
        const Fix& f = fixes[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(f.status, FIX_GPS);
        ASSERT_TRUE(f.lat > 48.9 && f.lat < 50.9 && f.lon > -5.5 && f.lon < 1.5);
        ASSERT_TRUE(f.speed >= 4.0f && f.speed <= 8.0f);
        for (const auto& s : shore) ASSERT_GT(MilesBetween(s.lat, s.lon, f.lat, f.lon), 3.0);
        if (i > 0) {
            ASSERT_DOUBLE_EQ(f.time - fixes[i - 1].time, 1.0);
            ASSERT_LT(MilesBetween(fixes[i - 1].lat, fixes[i - 1].lon, f.lat, f.lon), 8.0 / 3600 * 1.1);
        }
        farthest = std::max(farthest, MilesBetween(fixes[0].lat, fixes[0].lon, f.lat, f.lon));
    }
    EXPECT_GT(farthest, 2.0) << "it goes somewhere";
}

}  // namespace
