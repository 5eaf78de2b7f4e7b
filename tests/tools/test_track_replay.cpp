// SPDX-License-Identifier: GPL-3.0-or-later
// track-replay end to end: statistics of a log written here against a computation made
// here, and the journal under SIGKILL: a real program recording a feed at 10 Hz is killed
// at random moments, and every point it had reported recording is there when the folder
// is loaded again, the track going on from it.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kKnot = 1852.0 / 3600.0;

struct Fix {
    double lat, lon;
    double t;  // seconds after 00:00 UTC, 14 June 2026
    double knots, course;
};

std::string Rmc(const Fix& f) {
    auto angle = [](double v, bool lat) {
        const double a = std::fabs(v);
        const int deg = int(a);
        char buf[40];
        std::snprintf(buf, sizeof buf, lat ? "%02d%09.6f,%c" : "%03d%09.6f,%c", deg, (a - deg) * 60,
                      lat ? (v < 0 ? 'S' : 'N') : (v < 0 ? 'W' : 'E'));
        return std::string(buf);
    };
    const int s = int(f.t);
    char head[64], tail[64];
    std::snprintf(head, sizeof head, "GPRMC,%02d%02d%02d.00,A,", s / 3600, s / 60 % 60, s % 60);
    std::snprintf(tail, sizeof tail, ",%.2f,%.1f,140626,,,A", f.knots, f.course);
    const std::string body = head + angle(f.lat, true) + "," + angle(f.lon, false) + tail;
    unsigned sum = 0;
    for (char c : body) sum ^= static_cast<unsigned char>(c);
    char cs[8];
    std::snprintf(cs, sizeof cs, "*%02X", sum);
    return "$" + body + cs + "\r\n";
}

// Metres north and east on the ellipsoid, from its radii of curvature at `lat`.
void Radii(double lat, double& north, double& east) {
    const double a = 6378137.0, e2 = 6.69437999014e-3, s = std::sin(lat * kPi / 180);
    const double w = 1 - e2 * s * s;
    north = a * (1 - e2) / (w * std::sqrt(w)) * kPi / 180;
    east = a / std::sqrt(w) * std::cos(lat * kPi / 180) * kPi / 180;
}

Fix Move(const Fix& f, double dt, double metresPerSecond, double course) {
    double n, e;
    Radii(f.lat, n, e);
    const double d = metresPerSecond * dt, c = course * kPi / 180;
    return {f.lat + d * std::cos(c) / n, f.lon + d * std::sin(c) / e, f.t + dt, metresPerSecond / kKnot, course};
}

double StepMetres(const QJsonArray& a, const QJsonArray& b) {
    double n, e;
    Radii((a[0].toDouble() + b[0].toDouble()) / 2, n, e);
    return std::hypot((b[0].toDouble() - a[0].toDouble()) * n, (b[1].toDouble() - a[1].toDouble()) * e);
}

void WriteLog(const QString& path, const std::vector<Fix>& fixes, size_t from = 0, size_t to = SIZE_MAX) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    for (size_t i = from; i < std::min(to, fixes.size()); ++i) f.write(Rmc(fixes[i]).c_str());
}

struct ToolRun {
    int exitCode = -1;
    std::vector<QJsonObject> lines;
    QString errors;
};

ToolRun Tool(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(NAVORA_TOOL_PATH), args);
    ToolRun r;
    if (!p.waitForFinished(60000)) return r;
    r.exitCode = p.exitCode();
    r.errors = QString::fromUtf8(p.readAllStandardError());
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty()) r.lines.push_back(QJsonDocument::fromJson(line).object());
    return r;
}

std::vector<QJsonObject> Tracks(const ToolRun& r) {
    std::vector<QJsonObject> out;
    for (const QJsonObject& o : r.lines)
        if (!o.contains("event")) out.push_back(o);
    return out;
}

}  // namespace

TEST(TrackReplay, StatisticsOfALogAgreeWithASumMadeHere) {
    // North at 3 m/s, fixes every 5 s; a 4-minute stop; one fix thrown 1.5 km east.
    std::vector<Fix> fixes{{50.2, -4.1, 36000, 0, 0}};
    for (int i = 1; i < 400; ++i) {
        const bool stopped = i >= 150 && i < 198;
        Fix next = Move(fixes.back(), 5, stopped ? 0 : 3, i % 20 < 10 ? 10 : 350);
        fixes.push_back(next);
    }
    const Fix jumped = Move(fixes[300], 0, 1500, 90);
    fixes[300].lat = jumped.lat;
    fixes[300].lon = jumped.lon;
    QTemporaryDir dir;
    const QString log = dir.filePath("north.nmea");
    WriteLog(log, fixes);
    const QString saved = dir.filePath("profile");
    const ToolRun r = Tool({"track-replay", log, "--points", "--save", saved});
    ASSERT_EQ(r.exitCode, 0) << r.errors.toStdString();
    const std::vector<QJsonObject> tracks = Tracks(r);
    ASSERT_EQ(tracks.size(), 1u);
    const QJsonObject& t = tracks[0];
    const QJsonArray pts = t["list"].toArray();
    ASSERT_EQ(t["points"].toInt(), pts.size());
    double distance = 0, moving = 0;
    for (int i = 1; i < pts.size(); ++i) {
        const QJsonArray a = pts[i - 1].toArray(), b = pts[i].toArray();
        const double d = StepMetres(a, b), dt = b[2].toDouble() - a[2].toDouble();
        distance += d;
        if (d / dt > 0.447) moving += dt;
    }
    EXPECT_NEAR(t["distance_m"].toDouble(), distance, distance * 1e-5);
    EXPECT_NEAR(t["moving_s"].toDouble(), moving, 0.01);
    const double t0 = pts.first().toArray()[2].toDouble(), t1 = pts.last().toArray()[2].toDouble();
    EXPECT_NEAR(t["stopped_s"].toDouble(), t1 - t0 - moving, 0.01);
    EXPECT_GT(t["stopped_s"].toDouble(), 200);  // the stop, less the step that ends it
    // The jump shows in the distance, never in the maximum speed.
    EXPECT_NEAR(t["max_speed_ms"].toDouble(), 3.0, 0.05);
    EXPECT_EQ(t["start"].toString(), "2026-06-14T10:00:00Z");
    EXPECT_EQ(t0, QDateTime::fromString("2026-06-14T10:00:00Z", Qt::ISODate).toSecsSinceEpoch());
    EXPECT_EQ(t["end"].toString(),
              QDateTime::fromSecsSinceEpoch(qint64(t1), Qt::UTC).toString(Qt::ISODate));
    EXPECT_GE(t1 - t0, 399 * 5 - 20);

    // The folder written holds the same track.
    const ToolRun listed = Tool({"track-list", saved});
    ASSERT_EQ(listed.exitCode, 0);
    ASSERT_EQ(Tracks(listed).size(), 1u);
    QJsonObject without = t;
    without.remove("list");
    EXPECT_EQ(Tracks(listed)[0], without);
}

TEST(TrackReplay, AKilledRecordingLosesNoPointItHadRecorded) {
    // A zigzag at 6 m/s with a fix every 20 s: every fix is a point. The first part is
    // recorded and saved; the second is recorded live at 10 sentences a second and
    // killed; what the folder then holds must be everything recorded, in order.
    std::vector<Fix> fixes{{50.6, -1.3, 36000, 0, 0}};
    for (int i = 1; i < 200; ++i) fixes.push_back(Move(fixes.back(), 20, 6, (i / 5) % 2 ? 60 : 300));
    const size_t firstPart = 58;  // the 64-point section fills 6 points into the live part
    QTemporaryDir work;
    const QString whole = work.filePath("whole.nmea"), first = work.filePath("first.nmea"),
                  live = work.filePath("live.nmea");
    WriteLog(whole, fixes);
    WriteLog(first, fixes, 0, firstPart);
    WriteLog(live, fixes, firstPart);
    const QString refDir = work.filePath("ref");
    ASSERT_TRUE(QDir().mkpath(refDir));
    ASSERT_EQ(Tool({"track-replay", whole, "--journal-dir", refDir}).exitCode, 0);
    const ToolRun refList = Tool({"track-list", refDir, "--points"});
    ASSERT_EQ(Tracks(refList).size(), 1u);
    const QJsonArray all = Tracks(refList)[0]["list"].toArray();
    ASSERT_EQ(all.size(), 200);

    const char* env = std::getenv("NAVORA_TRACK_KILL_ROUNDS");
    const int rounds = env ? std::max(1, std::atoi(env)) : 10;
    std::mt19937 rng(std::random_device{}());
    std::uniform_int_distribution<int> killAfterMs(150, 2200);
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const QString dir = work.filePath(QString("round%1").arg(round));
        ASSERT_TRUE(QDir().mkpath(dir));
        ASSERT_EQ(Tool({"track-replay", first, "--journal-dir", dir}).exitCode, 0);

        QProcess p;
        p.start(QStringLiteral(NAVORA_TOOL_PATH), {"track-replay", live, "--journal-dir", dir, "--rate", "10"});
        ASSERT_TRUE(p.waitForStarted());
        const int wait = killAfterMs(rng);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
        int reported = 0;
        auto take = [&]() {
            while (p.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(p.readLine()).object();
                if (o["event"].toString() == "point") reported = std::max(reported, o["points"].toInt());
            }
        };
        while (std::chrono::steady_clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            p.waitForReadyRead(int(std::max<long long>(1, left.count())));
            take();
        }
        p.kill();  // SIGKILL
        ASSERT_TRUE(p.waitForFinished(10000));
        ASSERT_EQ(p.exitStatus(), QProcess::CrashExit);
        take();  // lines written before the kill are still in the pipe

        const ToolRun after = Tool({"track-list", dir, "--points"});
        ASSERT_EQ(after.exitCode, 0);
        ASSERT_EQ(Tracks(after).size(), 1u) << "the live part goes on in the saved track";
        const QJsonArray got = Tracks(after)[0]["list"].toArray();
        EXPECT_GE(got.size(), std::max<int>(reported, int(firstPart))) << "killed after " << wait << " ms";
        ASSERT_LE(got.size(), all.size());
        for (int i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], all[i]) << "point " << i;

        // Started again, recording goes on in the same track from where the boat is.
        const QString rest = work.filePath(QString("rest%1.nmea").arg(round));
        WriteLog(rest, fixes, size_t(got.size()));
        if (got.size() < all.size()) {
            const ToolRun resumed = Tool({"track-replay", rest, "--journal-dir", dir});
            ASSERT_EQ(resumed.exitCode, 0) << resumed.errors.toStdString();
            ASSERT_EQ(Tracks(resumed).size(), 1u);
            EXPECT_EQ(Tracks(resumed)[0]["points"].toInt(), all.size());
        }
    }
}
