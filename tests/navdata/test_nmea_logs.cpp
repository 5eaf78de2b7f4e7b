// SPDX-License-Identifier: GPL-3.0-or-later
// Replays captured receiver logs through the dispatcher and compares what was parsed
// with the reports a reference decoder printed for the same lines. Each expectation
// file holds the sentences as received, each followed by the reports it caused.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <string>

#include "navdata/nmea_records.h"
#include "nmea_test_support.h"

namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;

struct Replay {
    // What the last dispatched line produced.
    enum Kind { kNone, kRmc, kGga } last = kNone;
    bool rmcValid = false;
    double lat = 0, lon = 0, time = 0;
    float speed = 0, course = 0, altitude = 0, hdop = 0;
    int satellites = 0;
    // Latest instrument values, which the reports carry at the end of a cycle.
    bool haveDpt = false, haveDbt = false, haveApparent = false, haveMwd = false;
    float dptDepth = 0, dbtDepth = 0, apparentAngle = 0, apparentSpeed = 0, mwdDirection = 0, mwdSpeed = 0;
    std::string timeOfDayRmc, timeOfDayGga;
    int checks = 0;
};

void Near(Replay& r, double expected, double actual, double tolerance, const char* what, const std::string& line) {
    ++r.checks;
    EXPECT_NEAR(actual, expected, tolerance) << what << " after " << line;
}

Replay RunLog(const char* name) {
    Replay r;
    Catch<CNMEA_GPS::RMC> rmc([&](CNMEA_GPS::RMC& v) {
        r.last = Replay::kRmc;
        r.rmcValid = v.valid;
        r.lat = v.latitude;
        r.lon = v.longitude;
        r.time = v.time;
        r.speed = v.speed;
        r.course = v.course;
    });
    Catch<CNMEA_GPS::GGA> gga([&](CNMEA_GPS::GGA& v) {
        r.last = Replay::kGga;
        r.lat = v.latitude;
        r.lon = v.longitude;
        r.altitude = v.altitude;
        r.hdop = v.hdop;
        r.satellites = v.satellites;
    });
    Catch<CNMEA_Instruments::DPT> dpt([&](CNMEA_Instruments::DPT& v) {
        r.haveDpt = true;
        r.dptDepth = v.depth;
    });
    Catch<CNMEA_Instruments::DBT> dbt([&](CNMEA_Instruments::DBT& v) {
        r.haveDbt = true;
        r.dbtDepth = v.depth;
    });
    Catch<CNMEA_Instruments::MWV> mwv([&](CNMEA_Instruments::MWV& v) {
        if (v.reference != CNMEA_Instruments::MWV::kApparent) return;
        r.haveApparent = true;
        r.apparentAngle = v.angle;
        r.apparentSpeed = v.speed;
    });
    Catch<CNMEA_Instruments::MWD> mwd([&](CNMEA_Instruments::MWD& v) {
        r.haveMwd = true;
        r.mwdDirection = v.direction;
        r.mwdSpeed = v.speed;
    });

    QFile file(QStringLiteral(NAVORA_TEST_DATA_DIR "/navdata/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    std::string sentence;
    while (!file.atEnd()) {
        std::string line = file.readLine().trimmed().toStdString();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '$' || line[0] == '!') {
            sentence = line;
            r.last = Replay::kNone;
            Feed(line);
            continue;
        }
        const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const QString cls = report.value(QStringLiteral("class")).toString();
        auto has = [&](const char* key) { return report.contains(QLatin1String(key)); };
        auto num = [&](const char* key) { return report.value(QLatin1String(key)).toDouble(); };
        if (cls == QLatin1String("TPV")) {
            if (r.last == Replay::kRmc && r.rmcValid && has("lat")) {
                Near(r, num("lat"), r.lat, 1e-8, "latitude", sentence);
                Near(r, num("lon"), r.lon, 1e-8, "longitude", sentence);
                if (has("speed")) Near(r, num("speed"), r.speed * kMetresPerSecondPerKnot, 6e-4, "speed", sentence);
                if (has("track")) Near(r, num("track"), r.course, 1e-3, "course", sentence);
                if (has("time")) {
                    const QDateTime t =
                        QDateTime::fromString(report.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
                    // Two-digit years are read as this century; the reference decoder put
                    // the last century's dates in the last century.
                    double expected = t.toMSecsSinceEpoch() / 1000.0;
                    if (t.date().year() < 2000) expected += 36525.0 * 86400.0;
                    Near(r, expected, r.time, 1e-3, "time", sentence);
                }
            }
            if (r.last == Replay::kGga && has("lat")) {
                Near(r, num("lat"), r.lat, 1e-8, "latitude", sentence);
                Near(r, num("lon"), r.lon, 1e-8, "longitude", sentence);
                if (has("altMSL")) Near(r, num("altMSL"), r.altitude, 1e-3, "altitude", sentence);
            }
            if (has("depth") && (r.haveDpt || r.haveDbt)) {
                // The two depth sentences may disagree; the report follows one of them.
                const double d = num("depth");
                const bool matches =
                    (r.haveDpt && std::fabs(r.dptDepth - d) < 1e-3) || (r.haveDbt && std::fabs(r.dbtDepth - d) < 1e-3);
                ++r.checks;
                EXPECT_TRUE(matches) << "depth " << d << " vs DPT " << r.dptDepth << " DBT " << r.dbtDepth;
            }
            if (has("wangler") && r.haveApparent) {
                Near(r, num("wangler"), r.apparentAngle, 0.051, "apparent wind angle", sentence);
                Near(r, num("wspeedr"), r.apparentSpeed * kMetresPerSecondPerKnot, 0.051, "apparent wind", sentence);
            }
            if (has("wanglet") && r.haveMwd) {
                Near(r, num("wanglet"), r.mwdDirection, 0.051, "true wind direction", sentence);
                // The reference takes the sentence's own m/s field, which this device
                // rounds on its own; knots are what is parsed here.
                Near(r, num("wspeedt"), r.mwdSpeed * kMetresPerSecondPerKnot, 0.11, "true wind", sentence);
            }
        } else if (cls == QLatin1String("SKY") && r.last == Replay::kGga) {
            if (has("hdop")) Near(r, num("hdop"), r.hdop, 1e-3, "hdop", sentence);
            if (has("uSat")) Near(r, num("uSat"), r.satellites, 0, "satellites used", sentence);
        }
    }
    return r;
}

TEST(NmeaLogs, ReceiverLogsMatchReferenceDecodes) {
    // Minimum counts keep a broken replay from passing by checking nothing.
    const struct {
        const char* file;
        int minChecks;
    } logs[] = {
        {"april6_2019.log.chk", 6},          // bad date after a week rollover, then a good one
        {"humminbird-M37.log.chk", 60},      // IN talker, depth and water temperature
        {"nmea-fuzzy-cases.log.chk", 20},    // eight decimals in the minutes, GN/GP talkers
        {"ch-4711.log.chk", 20},             // GN/GL talkers
        {"bundg_zeus_9_head.log.chk", 150},  // chartplotter: wind, depth, GPS
    };
    for (const auto& log : logs) {
        SCOPED_TRACE(log.file);
        const Replay r = RunLog(log.file);
        EXPECT_GE(r.checks, log.minChecks);
    }
}

}  // namespace
