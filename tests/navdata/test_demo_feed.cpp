// SPDX-License-Identifier: GPL-3.0-or-later
// The demo log replayed through the dispatcher and the GPS feed: an hour of fixes, all
// at sea inside the English Channel chart, at sailing speeds, with instruments alongside.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "navdata/gpsposition.h"
#include "navdata/nmea_records.h"
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
    Catch<CDataGPSSatelliteSignals> tables;
    int apparent = 0, trueWind = 0;
    Catch<CNMEA_Instruments::MWV> wind([&](CNMEA_Instruments::MWV& w) {
        (w.reference == CNMEA_Instruments::MWV::kApparent ? apparent : trueWind)++;
        EXPECT_GT(w.speed, 3.0f);
        EXPECT_LT(w.speed, 30.0f);
    });
    Catch<CNMEA_Instruments::DPT> depth([](CNMEA_Instruments::DPT& d) {
        EXPECT_GT(d.depth, 10.0f);
        EXPECT_LT(d.depth, 80.0f);
    });

    std::string line;
    int lines = 0, rejected = 0;
    while (std::getline(in, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        if (line.empty()) continue;
        ++lines;
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        if (!CNMEASentence::check_checksum(buf.data())) ++rejected;
        CNMEASentence::DispatchSentence(buf.data(), nullptr);
    }
    EXPECT_EQ(rejected, 0);
    ASSERT_GT(lines, 0);

    ASSERT_EQ(fixes.size(), 3600u) << "one fix a second for an hour";
    EXPECT_EQ(tables.count, 3600);
    EXPECT_EQ(apparent, 1800);
    EXPECT_EQ(trueWind, 1800);
    EXPECT_EQ(depth.count, 720);

    // The built-in chart spans 48.4-51.4 N, 6 W-2 E: stay well inside it.
    const double start2026 = 1767225600;  // 2026-01-01 00:00 UTC
    for (size_t i = 0; i < fixes.size(); ++i) {
        const Fix& f = fixes[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(f.status, FIX_GPS);
        ASSERT_GT(f.lat, 48.4 + 0.5);
        ASSERT_LT(f.lat, 51.4 - 0.5);
        ASSERT_GT(f.lon, -6.0 + 0.5);
        ASSERT_LT(f.lon, 2.0 - 0.5);
        ASSERT_GE(f.speed, 4.0f);
        ASSERT_LE(f.speed, 8.0f);
        ASSERT_GE(f.time, start2026);
        ASSERT_LT(f.time, start2026 + 365 * 86400.0);
        if (i > 0) {
            EXPECT_DOUBLE_EQ(f.time - fixes[i - 1].time, 1.0);
            // A fix a second at under 8 knots moves a few metres, never jumps.
            EXPECT_LT(MilesBetween(fixes[i - 1].lat, fixes[i - 1].lon, f.lat, f.lon), 8.0 / 3600 * 1.1);
        }
    }

    // At sea: clear of the Lyme Bay shore by miles.
    const struct {
        const char* name;
        double lat, lon;
    } shore[] = {
        {"Portland Bill", 50.514, -2.457}, {"Chesil Beach", 50.655, -2.600}, {"West Bay", 50.710, -2.760},
        {"Lyme Regis", 50.720, -2.940},    {"Seaton", 50.700, -3.070},       {"Sidmouth", 50.680, -3.240},
        {"Exmouth", 50.610, -3.410},       {"Teignmouth", 50.540, -3.490},   {"Berry Head", 50.400, -3.480},
    };
    for (const auto& s : shore) {
        for (const Fix& f : fixes) {
            ASSERT_GT(MilesBetween(s.lat, s.lon, f.lat, f.lon), 3.0) << s.name;
        }
    }

    // It goes somewhere: more than 2 miles from start to the farthest point.
    double farthest = 0;
    for (const Fix& f : fixes) farthest = std::max(farthest, MilesBetween(fixes[0].lat, fixes[0].lon, f.lat, f.lon));
    EXPECT_GT(farthest, 2.0);
}

}  // namespace
