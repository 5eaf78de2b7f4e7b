// SPDX-License-Identifier: GPL-3.0-or-later
// Captured receiver logs replayed through the dispatcher and the position feed, checked
// against the reports a reference decoder printed for the same lines. Each expectation
// file holds the sentences as received, each followed by the reports it caused. What
// was parsed is read through the records' field lists; what reaches the map is the
// published position.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "navdata/gpsposition.h"
#include "nmea_test_support.h"

namespace {

constexpr double kMetresPerSecondPerKnot = 1852.0 / 3600.0;

// The numeric fields of the latest record of each type ("MWV" split by its reference).
class Records : CNMEAFieldVisitor {
public:
    Records() {
        for (CNMEASentenceType* t = CNMEASentenceType::First(); t; t = t->Next())
            m_subscriptions.push_back(t->Subscribe([this, t](CNMEASentence& r) {
                m_current.clear();
                r.Fields(*this);
                std::string key = t->Pattern();
                if (key == "MWV") key += m_reference;
                latest[key] = m_current;
                ++published[key];
            }));
    }
    std::map<std::string, std::map<std::string, double>> latest;
    std::map<std::string, int> published;

private:
    void Field(const char* name, const CNMEAField& v) override {
        if (v.kind == CNMEAField::kText && std::string(name) == "reference") m_reference = v.Text();
        if (v.kind != CNMEAField::kText && v.kind != CNMEAField::kIdList) m_current[name] = v.number;
    }
    std::map<std::string, double> m_current;
    std::string m_reference;
    std::vector<std::unique_ptr<CNMEASentenceType::Subscription>> m_subscriptions;
};

int Replay(const char* name) {
    auto pos = std::make_unique<COverlayGPSPosition>();
    CFeedRMC_to_GPSPosition feed(*pos);
    std::vector<CDataGPSPosition> positions;
    Catch<CDataGPSPosition> catcher([&](CDataGPSPosition& p) { positions.push_back(p); });
    Records records;

    QFile file(QStringLiteral(NAVORA_TEST_DATA_DIR "/navdata/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    std::string sentence, kind;  // the line and its type when it was an RMC or a GGA
    bool parsed = false;         // whether that RMC or GGA was published
    int checks = 0;
    while (!file.atEnd()) {
        const std::string line = file.readLine().trimmed().toStdString();
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '$' || line[0] == '!') {
            sentence = line;
            kind = line.size() > 6 ? line.substr(3, 3) : "";
            if (kind != "RMC" && kind != "GGA") kind.clear();
            positions.clear();
            const int before = records.published[kind];
            Feed(line);
            parsed = !kind.empty() && records.published[kind] > before;
            continue;
        }
        SCOPED_TRACE(sentence);
        const QJsonObject report = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        auto has = [&](const char* key) { return report.contains(QLatin1String(key)); };
        auto num = [&](const char* key) { return report.value(QLatin1String(key)).toDouble(); };
        auto near = [&](double expected, double actual, double tolerance, const char* what) {
            ++checks;
            EXPECT_NEAR(actual, expected, tolerance) << what;
        };
        const QString cls = report.value(QStringLiteral("class")).toString();
        if (cls == QLatin1String("SKY")) {
            if (kind != "GGA") continue;
            const auto& gga = records.latest["GGA"];
            if (has("hdop")) near(num("hdop"), gga.at("hdop"), 1e-3, "hdop");
            if (has("uSat")) near(num("uSat"), gga.at("satellites"), 0, "satellites used");
            continue;
        }
        if (cls != QLatin1String("TPV")) continue;
        if (has("lat") && !kind.empty()) {
            EXPECT_TRUE(parsed) << "the reference decoded a position here";
            if (!parsed) continue;
            const auto& r = records.latest[kind];
            if (kind == "GGA" || r.at("valid") != 0) {
                near(num("lat"), r.at("lat"), 1e-8, "latitude");
                near(num("lon"), r.at("lon"), 1e-8, "longitude");
            }
            if (kind == "GGA" && has("altMSL")) near(num("altMSL"), r.at("altitude"), 1e-3, "altitude");
            if (kind == "RMC" && r.at("valid") != 0) {
                if (has("speed")) near(num("speed"), r.at("speed") * kMetresPerSecondPerKnot, 6e-4, "speed");
                if (has("track")) near(num("track"), r.at("course"), 1e-3, "course");
                if (has("time")) {
                    // Two-digit years are read as this century; the reference decoder put
                    // the last century's dates in the last century.
                    const QDateTime t = QDateTime::fromString(report.value(QStringLiteral("time")).toString(),
                                                              Qt::ISODateWithMs);
                    const double shift = t.date().year() < 2000 ? 36525.0 * 86400.0 : 0.0;
                    near(t.toMSecsSinceEpoch() / 1000.0 + shift, r.at("time"), 1e-3, "time");
                }
            }
            // What reaches the map: one position per sentence, the same place.
            EXPECT_LE(positions.size(), 1u) << "one sentence published twice";
            if (!positions.empty() && positions.back().HasFix()) {
                const CDataGPSPosition& p = positions.back();
                near(num("lat"), p.lat, 1e-8, "published latitude");
                near(num("lon"), p.lon, 1e-8, "published longitude");
                if (kind == "RMC" && has("speed")) {
                    const double knots = num("speed") / kMetresPerSecondPerKnot;
                    near(knots <= 0.1 ? 0.0 : knots, p.speed, 2e-3, "published speed");  // 0.1 knot is noise
                    if (p.speed > 0.3f) {
                        EXPECT_EQ(p.best_mode, CDataSpeedDirection::DIR_COURSE);
                    }
                }
            }
        }
        if (has("depth")) {
            // The two depth sentences may disagree; the report follows one of them.
            const double d = num("depth");
            bool matches = false;
            for (const char* type : {"DPT", "DBT"})
                matches |= records.latest.count(type) && std::fabs(records.latest[type]["depth"] - d) < 1e-3;
            ++checks;
            EXPECT_TRUE(matches) << "depth " << d;
        }
        if (has("wangler") && records.latest.count("MWVR")) {
            near(num("wangler"), records.latest["MWVR"]["angle"], 0.051, "apparent wind angle");
            near(num("wspeedr"), records.latest["MWVR"]["speed"] * kMetresPerSecondPerKnot, 0.051, "apparent wind");
        }
        if (has("wanglet") && records.latest.count("MWD")) {
            near(num("wanglet"), records.latest["MWD"]["direction"], 0.051, "true wind direction");
            // The reference takes the sentence's own m/s field, which this device rounds
            // on its own; knots are what is parsed here.
            near(num("wspeedt"), records.latest["MWD"]["speed"] * kMetresPerSecondPerKnot, 0.11, "true wind");
        }
    }
    return checks;
}

TEST(ReceiverLogs, ParsedAndPublishedValuesMatchTheReferenceDecodes) {
    for (const char* log : {
             "april6_2019.log.chk",        // bad date after a week rollover, then a good one
             "humminbird-M37.log.chk",     // IN talker, depth and water temperature
             "nmea-fuzzy-cases.log.chk",   // eight decimals in the minutes, GN/GP talkers
             "ch-4711.log.chk",            // GN/GL talkers
             "bundg_zeus_9_head.log.chk",  // chartplotter: wind, depth, GPS
         }) {
        SCOPED_TRACE(log);
        EXPECT_GT(Replay(log), 0);
    }
}

}  // namespace
