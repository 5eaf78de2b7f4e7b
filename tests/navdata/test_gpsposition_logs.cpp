// SPDX-License-Identifier: GPL-3.0-or-later
// Replays captured receiver logs through the dispatcher into a GPS position and checks
// every published position against the reports a reference decoder printed for the same
// lines: what reaches the map must be what the receiver said.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <memory>
#include <string>
#include <vector>

#include "navdata/gpsposition.h"
#include "nmea_test_support.h"

namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;

int ReplayLog(const char* name) {
    auto pos = std::make_unique<COverlayGPSPosition>();
    CFeedRMC_to_GPSPosition feed(*pos);
    std::vector<CDataGPSPosition> published;
    Catch<CDataGPSPosition> catcher([&](CDataGPSPosition& p) { published.push_back(p); });

    QFile file(QStringLiteral(NAVORA_TEST_DATA_DIR "/navdata/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    std::string sentence;
    bool fromRmc = false;
    int checks = 0;
    while (!file.atEnd()) {
        const std::string line = file.readLine().trimmed().toStdString();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '$' || line[0] == '!') {
            sentence = line;
            published.clear();
            Feed(line);
            fromRmc = line.size() > 6 && line.compare(3, 3, "RMC") == 0;
            continue;
        }
        const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        if (report.value(QStringLiteral("class")).toString() != QLatin1String("TPV")) continue;
        if (published.size() > 1) ADD_FAILURE() << "one sentence published twice: " << sentence;
        if (published.empty() || !report.contains(QStringLiteral("lat"))) continue;
        const CDataGPSPosition& p = published.back();
        if (!p.HasFix()) continue;
        EXPECT_NEAR(p.lat, report.value(QStringLiteral("lat")).toDouble(), 1e-8) << sentence;
        EXPECT_NEAR(p.lon, report.value(QStringLiteral("lon")).toDouble(), 1e-8) << sentence;
        ++checks;
        if (fromRmc) {
            if (report.contains(QStringLiteral("track"))) {
                EXPECT_NEAR(p.course, report.value(QStringLiteral("track")).toDouble(), 1e-3) << sentence;
            }
            if (report.contains(QStringLiteral("speed"))) {
                const double knots = report.value(QStringLiteral("speed")).toDouble() / kMetresPerSecondPerKnot;
                // Reported speeds of 0.1 knot or less are taken as standing still.
                EXPECT_NEAR(p.speed, knots <= 0.1 ? 0.0 : knots, 2e-3) << sentence;
            }
            if (p.speed > 0.3f) {
                EXPECT_EQ(p.best_mode, CDataSpeedDirection::DIR_COURSE) << sentence;
            }
        }
    }
    return checks;
}

TEST(GpsPositionLogs, PublishedPositionsMatchReferenceDecodes) {
    // Minimum counts keep a broken replay from passing by checking nothing.
    const struct {
        const char* file;
        int minChecks;
    } logs[] = {
        {"april6_2019.log.chk", 2},       {"humminbird-M37.log.chk", 12},  // IN talker
        {"nmea-fuzzy-cases.log.chk", 5},                                   // GN and GP talkers mixed
        {"ch-4711.log.chk", 5},                                            // GN and GL talkers
        {"bundg_zeus_9_head.log.chk", 1},                                  // reports mostly come at the end of a cycle
    };
    for (const auto& log : logs) {
        SCOPED_TRACE(log.file);
        EXPECT_GE(ReplayLog(log.file), log.minChecks);
    }
}

}  // namespace
