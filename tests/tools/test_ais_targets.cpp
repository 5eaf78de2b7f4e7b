// SPDX-License-Identifier: GPL-3.0-or-later
// ais-targets end to end: a crossing at a known CPA and TCPA written here and replayed
// under different settings, the demo sail's one close-quarters ship, and the drill's man
// overboard, SART and DSC calls.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "navdata/ais_encode.h"

namespace {

struct Replay {
    int exit_code = -1;
    std::string errors;
    std::vector<QJsonObject> events;

    std::vector<QJsonObject> Of(const char* kind) const {
        std::vector<QJsonObject> out;
        for (const QJsonObject& e : events)
            if (e.value(QStringLiteral("event")).toString() == QLatin1String(kind)) out.push_back(e);
        return out;
    }
    QJsonObject Target(int mmsi) const {
        for (const QJsonObject& e : Of("target"))
            if (e.value(QStringLiteral("mmsi")).toInt() == mmsi) return e;
        return {};
    }
};

Replay AisTargets(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(NAVORA_TOOL_PATH), QStringList{QStringLiteral("ais-targets")} + args);
    Replay r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.errors = p.readAllStandardError().toStdString();
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        r.events.push_back(doc.object());
    }
    return r;
}

std::string Checksummed(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char buf[8];
    std::snprintf(buf, sizeof buf, "*%02X", sum);
    return "$" + body + buf;
}

constexpr double kOwnLat = 50.5, kOwnLon = -2.5;
constexpr double kKnot = 0.5144445;

// The own ship lies still; a ship steams north at 10 knots to pass `cpa` metres east of it
// `tcpa` seconds after the log starts at 12:00:00.
std::string CrossingLog(const QString& dir, double cpa, double tcpa, int seconds) {
    const std::string path = (dir + QStringLiteral("/crossing.nmea")).toStdString();
    std::ofstream out(path, std::ios::binary);
    const CSimpleGrid grid(kOwnLat, kOwnLon);
    for (int t = 0; t < seconds; ++t) {
        char hms[16];
        std::snprintf(hms, sizeof hms, "12%02d%02d.00", t / 60, t % 60);
        out << Checksummed(std::string("GPRMC,") + hms + ",A,5030.0000,N,00230.0000,W,0.0,0.0,140626,,,A") << "\r\n";
        if (t % 10 != 0) continue;
        NAisEncode::PositionA m;
        m.mmsi = 235000001;
        m.status = 0;
        m.speed = 10;
        m.course = 0;
        m.heading = 0;
        grid.FromGrid(cpa, -(tcpa - t) * 10 * kKnot, m.lat, m.lon);
        for (const std::string& s : NAisEncode::Encode(m)) out << s << "\r\n";
    }
    return path;
}

TEST(AisTargets, ACrossingAlarmsOrWarnsExactlyAsTheSettingsSay) {
    QTemporaryDir dir;
    const QString log = QString::fromStdString(CrossingLog(dir.path(), 200, 605, 400));

    // 200 m at 10 minutes: inside the alarm distance and time from the first report.
    // (Settings take decimals with a point and flags as 0 or 1, as in the settings file.)
    Replay r = AisTargets({log});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    std::vector<QJsonObject> notes = r.Of("notify");
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0].value(QStringLiteral("time")).toString(), QStringLiteral("2026-06-14T12:00:00Z"));
    EXPECT_EQ(notes[0].value(QStringLiteral("id")).toString(), QStringLiteral("235000001"));
    EXPECT_EQ(notes[0].value(QStringLiteral("title")).toString(), QStringLiteral("AIS collision alert, Class A"));
    EXPECT_EQ(notes[0].value(QStringLiteral("text")).toString(), QStringLiteral("Unknown name, CPA 199 m, 10 min"));
    EXPECT_EQ(notes.size(), 40u) << "repeated with each report";
    QJsonObject t = r.Target(235000001);
    EXPECT_TRUE(t.value(QStringLiteral("alerting")).toBool());
    EXPECT_EQ(t.value(QStringLiteral("colour")).toString(), QStringLiteral("#FFFF0000"));
    EXPECT_NEAR(t.value(QStringLiteral("cpa_m")).toDouble(), 200, 1);
    EXPECT_NEAR(t.value(QStringLiteral("tcpa_s")).toDouble(), 605 - 390, 1);
    EXPECT_NEAR(t.value(QStringLiteral("bearing")).toDouble(), 180 - std::atan2(200, 215 * 10 * kKnot) * 180 / 3.14159265358979323846, 0.2);
    EXPECT_EQ(t.value(QStringLiteral("kind")).toString(), QStringLiteral("Class A"));

    // A smaller alarm distance: a warning, never a notification.
    r = AisTargets({log, QStringLiteral("--set"), QStringLiteral("CAISTargetManager:alarm_distance=150.0")});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    EXPECT_TRUE(r.Of("notify").empty());
    t = r.Target(235000001);
    EXPECT_FALSE(t.value(QStringLiteral("alerting")).toBool());
    EXPECT_EQ(t.value(QStringLiteral("colour")).toString(), QStringLiteral("#FFDCDC00"));

    // A shorter alarm time: the alarm starts once the ship is 5 minutes off.
    r = AisTargets({log, QStringLiteral("--set"), QStringLiteral("CAISTargetManager:alarm_time=300.0")});
    notes = r.Of("notify");
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0].value(QStringLiteral("time")).toString(), QStringLiteral("2026-06-14T12:05:10Z"));

    // Without the beep the target still alarms (red) but nothing is shown.
    r = AisTargets({log, QStringLiteral("--set"), QStringLiteral("CAISTargetManager:alarm_beep=0")});
    EXPECT_TRUE(r.Of("notify").empty());
    EXPECT_TRUE(r.Target(235000001).value(QStringLiteral("alerting")).toBool());

    r = AisTargets({log, QStringLiteral("--set"), QStringLiteral("CAISTargets:alarm_time=300")});
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.errors.find("no settings section"), std::string::npos) << r.errors;
    EXPECT_NE(AisTargets({}).exit_code, 0);
    EXPECT_NE(AisTargets({dir.filePath(QStringLiteral("missing.nmea"))}).exit_code, 0);
}

TEST(AisTargets, TheDemoSailMeetsFourShipsABuoyAndOneCloseCrossing) {
    const Replay r = AisTargets({QStringLiteral(NAVORA_SOURCE_DIR "/data/demo/demo_sail.nmea")});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const std::vector<QJsonObject> notes = r.Of("notify");
    ASSERT_FALSE(notes.empty());
    for (const QJsonObject& n : notes) {
        EXPECT_EQ(n.value(QStringLiteral("id")).toString(), QStringLiteral("235104000")) << "only the cargo ship";
        EXPECT_TRUE(n.value(QStringLiteral("text")).toString().startsWith(QStringLiteral("NORDIC TRADER, CPA ")));
    }
    // It comes into range two and a half minutes in and passes at nine.
    const QString first = notes.front().value(QStringLiteral("time")).toString();
    EXPECT_GE(first, QStringLiteral("2026-06-14T10:02:30Z"));
    EXPECT_LE(first, QStringLiteral("2026-06-14T10:03:00Z"));
    const std::vector<QJsonObject> cancels = r.Of("cancel");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_GE(cancels[0].value(QStringLiteral("time")).toString(), QStringLiteral("2026-06-14T10:09:00Z"));

    const std::vector<QJsonObject> targets = r.Of("target");
    ASSERT_EQ(targets.size(), 5u);
    EXPECT_EQ(r.Target(235101000).value(QStringLiteral("name")).toString(), QStringLiteral("CHANNEL SPIRIT"));
    EXPECT_EQ(r.Target(235102000).value(QStringLiteral("kind")).toString(), QStringLiteral("Class B"));
    EXPECT_EQ(r.Target(235103000).value(QStringLiteral("status")).toString(), QStringLiteral("FISHING"));
    EXPECT_EQ(r.Target(992351234).value(QStringLiteral("kind")).toString(), QStringLiteral("Aid to Navigation"));
    EXPECT_EQ(r.Target(235104000).value(QStringLiteral("callsign")).toString(), QStringLiteral("MNTR9"));
    for (const QJsonObject& t : targets) EXPECT_FALSE(t.value(QStringLiteral("alerting")).toBool());
}

TEST(AisTargets, TheDrillRaisesManOverboardAndDistressWithTheirMarks) {
    const Replay r = AisTargets({QStringLiteral(NAVORA_SOURCE_DIR "/data/demo/drill.nmea")});
    ASSERT_EQ(r.exit_code, 0) << r.errors;
    const std::vector<QJsonObject> notes = r.Of("notify");
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0].value(QStringLiteral("title")).toString(), QStringLiteral("AIS Man Overboard"));
    EXPECT_EQ(notes[0].value(QStringLiteral("time")).toString(), QStringLiteral("2026-06-14T12:00:25Z"));
    const std::vector<QJsonObject> gotos = r.Of("goto");
    ASSERT_EQ(gotos.size(), 1u);
    EXPECT_EQ(gotos[0].value(QStringLiteral("target")).toString(), QStringLiteral("AIS MOB: 972351234"));

    int mobMarks = 0, distress = 0;
    bool routineMark = false;
    for (const QJsonObject& m : r.Of("mark")) {
        const QString name = m.value(QStringLiteral("name")).toString();
        mobMarks += name == QLatin1String("AIS MOB: 972351234");
        routineMark = routineMark || name == QLatin1String("DSC:235076543");
    }
    EXPECT_GT(mobMarks, 10) << "the mark follows the drifting beacon";
    EXPECT_TRUE(routineMark);
    for (const QJsonObject& n : notes) {
        if (n.value(QStringLiteral("title")).toString() != QLatin1String("DSC Distress Call")) continue;
        ++distress;
        EXPECT_EQ(n.value(QStringLiteral("id")).toString(), QStringLiteral("-235098765"));
        EXPECT_TRUE(n.value(QStringLiteral("text")).toString().startsWith(QStringLiteral("Flooding\n")));
        EXPECT_TRUE(n.value(QStringLiteral("text")).toString().endsWith(QStringLiteral(" away")));
    }
    EXPECT_EQ(distress, 1) << "the routine call raises nothing";
    EXPECT_EQ(r.Target(970351235).value(QStringLiteral("kind")).toString(),
              QStringLiteral("Search and Rescue Transponder"));
    const QJsonObject mob = r.Target(972351234);
    EXPECT_TRUE(mob.value(QStringLiteral("alerting")).toBool());
    EXPECT_LT(mob.value(QStringLiteral("range_m")).toDouble(), 30) << "the drill ends alongside";
}

}  // namespace
