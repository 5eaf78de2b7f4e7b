// SPDX-License-Identifier: GPL-3.0-or-later
// nav-replay end to end: a log written here, marks and routes on the command line, and
// the notifications, autopilot sentences and target changes checked against a
// computation made here; and nmea-replay showing what a client sends back.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QDateTime>
#include <QFile>

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

void Haversine(double lat1, double lon1, double lat2, double lon2, double& range, double& bearing) {
    const double r = 6371008.8, d = kPi / 180;
    const double p1 = lat1 * d, p2 = lat2 * d, dp = (lat2 - lat1) * d, dl = (lon2 - lon1) * d;
    const double a =
        std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    range = 2 * r * std::asin(std::sqrt(a));
    bearing = std::fmod(
        std::atan2(std::sin(dl) * std::cos(p2), std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl)) /
                d +
            360,
        360);
}

std::string Checksummed(const std::string& body) {
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char buf[8];
    std::snprintf(buf, sizeof buf, "*%02X", sum);
    return "$" + body + buf;
}

std::string NmeaAngle(double v, bool lat) {
    const double a = std::fabs(v);
    const int deg = int(a);
    char buf[32];
    std::snprintf(buf, sizeof buf, lat ? "%02d%07.4f,%c" : "%03d%07.4f,%c", deg, (a - deg) * 60,
                  lat ? (v < 0 ? 'S' : 'N') : (v < 0 ? 'W' : 'E'));
    return buf;
}

struct Fix {
    double lat, lon;
    int second;  // since 12:00:00
};

// One RMC and one GGA a second, east along a parallel at 6 knots from `lon0`; fixes
// listed in `fixes`. Seconds listed in `silent` have no sentences at all.
std::string WriteLog(const QString& path, double lat, double lon0, int seconds, std::vector<Fix>& fixes,
                     double course = 90, int silentFrom = -1, int silentTo = -1) {
    std::string text = "# written by the test\n";
    const double metresPerSecond = 6 * 1852.0 / 3600;
    const double mPerDegLon = kPi / 180 * 6378137.0 * std::cos(lat * kPi / 180);
    for (int s = 0; s <= seconds; ++s) {
        if (s >= silentFrom && s < silentTo) continue;
        const double lon = lon0 + s * metresPerSecond / mPerDegLon;
        fixes.push_back({lat, lon, s});
        char hms[16];
        std::snprintf(hms, sizeof hms, "%02d%02d%02d.00", 12 + s / 3600, s / 60 % 60, s % 60);
        char rest[64];
        std::snprintf(rest, sizeof rest, ",6.0,%.1f,140626,,,A", course);
        text += Checksummed(std::string("GPRMC,") + hms + ",A," + NmeaAngle(lat, true) + "," + NmeaAngle(lon, false) +
                            rest) +
                "\r\n";
        text += Checksummed(std::string("GPGGA,") + hms + "," + NmeaAngle(lat, true) + "," + NmeaAngle(lon, false) +
                            ",1,08,0.9,5.0,M,47.0,M,,") +
                "\r\n";
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return {};
    f.write(text.c_str());
    return text;
}

struct ToolRun {
    int exit = -1;
    std::vector<QJsonObject> events;
    QString err;
};

ToolRun Tool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(NAVORA_TOOL_PATH), args);
    ToolRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromUtf8(p.readAllStandardError());
    for (const QByteArray& line : p.readAllStandardOutput().split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        EXPECT_TRUE(doc.isObject()) << line.toStdString();
        r.events.push_back(doc.object());
    }
    return r;
}

std::vector<QJsonObject> Of(const ToolRun& r, const char* event) {
    std::vector<QJsonObject> out;
    for (const auto& e : r.events)
        if (e.value("event").toString() == QLatin1String(event)) out.push_back(e);
    return out;
}

QString TimeOf(int second) {
    return QStringLiteral("2026-06-14T%1:%2:%3Z")
        .arg(12 + second / 3600, 2, 10, QLatin1Char('0'))
        .arg(second / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(second % 60, 2, 10, QLatin1Char('0'));
}

TEST(NavReplay, GotoAMarkGivesTheAlarmAndAutopilotSentencesAnIndependentComputationExpects) {
    QTemporaryDir dir;
    const QString log = dir.filePath("east.nmea");
    std::vector<Fix> fixes;
    ASSERT_FALSE(WriteLog(log, 50.0, -1.02, 600, fixes).empty());
    const double mLat = 50.0006, mLon = -1.0;
    const ToolRun r = Tool({"nav-replay", log, "--mark", "Buoy 7@50.0006,-1.0,radius=100", "--goto", "Buoy 7"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();

    // The alarm: the first fix closer than 100 m, and the first after it that is not.
    int in = -1, out = -1;
    for (const Fix& f : fixes) {
        double d, b;
        Haversine(f.lat, f.lon, mLat, mLon, d, b);
        if (in < 0 && d < 100) in = f.second;
        if (in >= 0 && out < 0 && d >= 100) out = f.second;
    }
    ASSERT_GT(in, 0);
    ASSERT_GT(out, in);
    const auto notes = Of(r, "notify");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].value("title").toString(), "Proximity alarm");
    EXPECT_TRUE(notes[0].value("text").toString().startsWith("Buoy 7 is ")) << notes[0].value("text").toString().toStdString();
    const QString noteTime = notes[0].value("time").toString();
    EXPECT_TRUE(noteTime == TimeOf(in) || noteTime == TimeOf(in - 1) || noteTime == TimeOf(in + 1)) << noteTime.toStdString();
    const auto cancels = Of(r, "cancel");
    ASSERT_EQ(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].value("id"), notes[0].value("id"));
    EXPECT_LE(std::abs(QDateTime::fromString(cancels[0].value("time").toString(), Qt::ISODate)
                           .secsTo(QDateTime::fromString(TimeOf(out), Qt::ISODate))),
              1);

    const auto gotos = Of(r, "goto");
    ASSERT_EQ(gotos.size(), 1u);
    EXPECT_EQ(gotos[0].value("target").toString(), "Buoy 7");
    EXPECT_EQ(gotos[0].value("time").toString(), TimeOf(0));

    // One autopilot sentence per fix, each against the great circle from that fix.
    const auto nmea = Of(r, "nmea");
    ASSERT_EQ(nmea.size(), fixes.size());
    for (size_t i : {size_t(0), size_t(100), size_t(250), size_t(599)}) {
        const QString s = nmea[i].value("sentence").toString();
        ASSERT_TRUE(s.startsWith("$ECRMB,A,")) << s.toStdString();
        const QStringList f = s.left(s.indexOf('*')).split(',');
        ASSERT_EQ(f.size(), 15) << s.toStdString();
        EXPECT_EQ(f[4], "X");
        EXPECT_EQ(f[5], "BUOY7");
        EXPECT_EQ(f[6], "50.0006000");
        EXPECT_EQ(f[7], "N");
        EXPECT_EQ(f[8], "1.0000000");
        EXPECT_EQ(f[9], "W");
        double range, bearing;
        Haversine(fixes[i].lat, fixes[i].lon, mLat, mLon, range, bearing);
        EXPECT_NEAR(f[10].toDouble(), range / 1852, range / 1852 * 0.005 + 0.00002) << i;
        if (range > 20) {
            EXPECT_NEAR(f[11].toDouble(), bearing, 0.3) << i;
        }
        // Closing speed: 6 knots along the course east, towards the mark's bearing.
        EXPECT_NEAR(f[12].toDouble(), 6 * std::sin(bearing * kPi / 180), 0.02) << i;
        EXPECT_EQ(f[13], "V");
        EXPECT_EQ(f[14], "A");
        // The leg runs from the first fix to the mark, slightly north of east: the boat,
        // holding its parallel, falls to the right of it.
        if (i > 0) {
            EXPECT_EQ(f[3], "R") << s.toStdString();
        }
    }
    const QJsonObject summary = r.events.back();
    EXPECT_EQ(summary.value("event").toString(), "summary");
    EXPECT_EQ(summary.value("notifications").toInt(), 1);
    EXPECT_EQ(summary.value("nmea").toInt(), int(fixes.size()));
    EXPECT_EQ(summary.value("target").toString(), "Buoy 7");
}

TEST(NavReplay, FollowingARouteAnnouncesEachLegAndTheAnchorWatchSeesTheFixGo) {
    QTemporaryDir dir;
    const QString log = dir.filePath("legs.nmea");
    std::vector<Fix> fixes;
    // Sentences stop for 40 s in the middle.
    ASSERT_FALSE(WriteLog(log, 50.0, -1.02, 900, fixes, 90, 400, 440).empty());
    const ToolRun r = Tool({"nav-replay", log, "--route", "Leg@50.0,-1.02;50.0,-1.005;50.0,-0.99", "--follow", "Leg",
                        "--mark", "Hook@50.001,-1.01,radius=5000,inner=1", "--set", "CMarkManager:cross_track_alarm=5000"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    const auto gotos = Of(r, "goto");
    ASSERT_EQ(gotos.size(), 3u);
    EXPECT_EQ(gotos[0].value("target").toString(), "LegP1");
    EXPECT_EQ(gotos[1].value("target").toString(), "LegP2");
    EXPECT_EQ(gotos[2].value("target").toString(), "LegP3");
    // The second leg starts where the boat passes the middle waypoint.
    double passed = 0;
    for (const Fix& f : fixes)
        if (f.lon >= -1.005) {
            passed = f.second;
            break;
        }
    const QDateTime switched = QDateTime::fromString(gotos[2].value("time").toString(), Qt::ISODate);
    EXPECT_LE(std::abs(QDateTime::fromString(TimeOf(int(passed)), Qt::ISODate).secsTo(switched)), 1);
    // The leg change is announced to the autopilot once.
    int arrivals = 0;
    for (const auto& e : Of(r, "nmea"))
        if (e.value("sentence").toString().contains(",A,A*")) ++arrivals;
    EXPECT_EQ(arrivals, 2);

    // At anchor (the boat inside the 5 km circle, never within 1 m of the anchor), 30 s
    // without a fix raise "GPS lost"; the next fix clears it.
    const auto notes = Of(r, "notify");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].value("title").toString(), "Anchor alarm");
    EXPECT_EQ(notes[1].value("title").toString(), "GPS lost");
    const QDateTime lost = QDateTime::fromString(notes[1].value("time").toString(), Qt::ISODate);
    const qint64 silence = QDateTime::fromString(TimeOf(399), Qt::ISODate).msecsTo(lost);
    EXPECT_GT(silence, 30000);
    EXPECT_LE(silence, 31000);
    const auto cancels = Of(r, "cancel");
    ASSERT_GE(cancels.size(), 1u);
    EXPECT_EQ(cancels[0].value("id"), notes[1].value("id"));
    EXPECT_EQ(cancels[0].value("time").toString(), TimeOf(440));
}

TEST(NavReplay, RefusesWhatItCannotDo) {
    QTemporaryDir dir;
    const QString log = dir.filePath("one.nmea");
    std::vector<Fix> fixes;
    ASSERT_FALSE(WriteLog(log, 50.0, -1.0, 2, fixes).empty());
    for (const QStringList& args : std::vector<QStringList>{
             {"nav-replay"},
             {"nav-replay", dir.filePath("missing.nmea")},
             {"nav-replay", log, "--mark", "NoPosition"},
             {"nav-replay", log, "--mark", "A@95,0"},
             {"nav-replay", log, "--mark", "A@50,0,inner=50"},
             {"nav-replay", log, "--route", "R@50,0"},
             {"nav-replay", log, "--goto", "Nobody"},
             {"nav-replay", log, "--set", "CMarkManager.cross_track_alarm=5"},
             {"nav-replay", log, "--set", "NoSuchThing:x=1"},
         }) {
        const ToolRun r = Tool(args);
        EXPECT_EQ(r.exit, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.startsWith("navora-tool nav-replay: ")) << r.err.toStdString();
    }
}

TEST(NmeaReplay, PrintsWhatAClientSendsBack) {
    QTemporaryDir dir;
    const QString log = dir.filePath("one.nmea");
    std::vector<Fix> fixes;
    ASSERT_FALSE(WriteLog(log, 50.0, -1.0, 20, fixes).empty());
    QProcess server;
    server.start(QStringLiteral(NAVORA_TOOL_PATH), {"nmea-replay", log, "--tcp-listen", "0", "--rate", "5"});
    ASSERT_TRUE(server.waitForStarted());
    QString banner;
    for (int i = 0; i < 100 && !banner.contains('\n'); ++i) {
        server.waitForReadyRead(100);
        banner += QString::fromUtf8(server.readAllStandardError());
    }
    const QRegularExpression portRe(QStringLiteral(":(\\d+)\\s*$"), QRegularExpression::MultilineOption);
    const auto m = portRe.match(banner);
    ASSERT_TRUE(m.hasMatch()) << banner.toStdString();
    QTcpSocket client;
    client.connectToHost(QStringLiteral("127.0.0.1"), quint16(m.captured(1).toUInt()));
    ASSERT_TRUE(client.waitForConnected(5000));
    client.write("$ECRMB,A,0.00000,R,X,BUOY,50.0000000,N,1.0000000,W,0.10000,90.0,6.00,V,A*58\r\n$PART");
    client.write("IAL,1\r\n");
    client.flush();
    client.waitForBytesWritten(2000);
    QString out;
    for (int i = 0; i < 50 && out.count('\n') < 2; ++i) {
        server.waitForReadyRead(100);
        out += QString::fromUtf8(server.readAllStandardOutput());
    }
    server.kill();
    server.waitForFinished();
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << out.toStdString();
    const QJsonObject first = QJsonDocument::fromJson(lines[0].toUtf8()).object();
    EXPECT_EQ(first.value("event").toString(), "received");
    EXPECT_EQ(first.value("client").toInt(), 1);
    EXPECT_TRUE(first.value("line").toString().startsWith("$ECRMB,A,0.00000,R,X,BUOY,"));
    EXPECT_EQ(QJsonDocument::fromJson(lines[1].toUtf8()).object().value("line").toString(), "$PARTIAL,1");
}

}  // namespace
