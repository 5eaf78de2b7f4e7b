// SPDX-License-Identifier: GPL-3.0-or-later
// Real AIS logs replayed through the dispatcher, every decoded field compared with what
// an independent decoder made of the same messages (tests/data/ais/*.gpsdecode-3.22.tsv:
// first line, last line and the JSON decode of each message, or NONE).
//
// Where the two read a field differently on purpose the comparison says so: speeds of
// 102.3 knots and more are "not available" here (0); a turn beyond 720 degrees a minute is
// invalid; a turn is compared without its sign (the other decoder drops it); an aid to
// navigation keeps one size; type 24 static data is compared part by
// part (the other decoder merges both parts of a station).

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "navdata/nmea_records.h"
#include "nmea_test_support.h"

namespace {

struct Decode {
    int type = 0;
    uint32_t mmsi = 0;
    int status = 0, heading = 0, second = 0, altitude = 0, part = 0, aid_type = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
    int eta_month = 0, eta_day = 0, eta_hour = 0, eta_minute = 0, ship_type = 0;
    uint32_t imo = 0;
    double lat = 0, lon = 0, speed = 0, course = 0, turn = 0, draught = 0;
    bool turn_valid = false;
    std::string name, callsign, destination;
};

Decode Take(const CNEMA_AIS::CAIS_Sentence& r) {
    Decode d;
    d.type = r.message_type;
    d.mmsi = r.mmsi;
    d.status = r.nav_status;
    d.heading = r.heading;
    d.second = r.second;
    d.altitude = r.altitude;
    d.part = r.part_number;
    d.aid_type = r.aid_type;
    d.year = r.year, d.month = r.month, d.day = r.day, d.hour = r.hour, d.minute = r.minute;
    d.to_bow = r.to_bow, d.to_stern = r.to_stern, d.to_port = r.to_port, d.to_starboard = r.to_starboard;
    d.eta_month = r.eta_month, d.eta_day = r.eta_day, d.eta_hour = r.eta_hour, d.eta_minute = r.eta_minute;
    d.ship_type = r.ship_type;
    d.imo = r.imo;
    d.lat = r.latitude, d.lon = r.longitude, d.speed = r.speed, d.course = r.course, d.turn = r.rate_of_turn;
    d.draught = r.draught;
    d.turn_valid = r.rate_of_turn_valid;
    d.name = r.name, d.callsign = r.callsign, d.destination = r.destination;
    return d;
}

// Feeds the log and returns what completed at each line (1-based).
std::map<int, Decode> Replay(const std::string& path) {
    QFile f(QString::fromStdString(path));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << path;
    std::map<int, Decode> out;
    int line = 0;
    auto take = [&](CNEMA_AIS::CAIS_Sentence& r) {
        if (r.message_type != 0) out[line] = Take(r);
    };
    Catch<CNEMA_AIS::VDM> vdm(take);
    Catch<CNEMA_AIS::VDO> vdo(take);
    for (const QByteArray& raw : f.readAll().split('\n')) {
        ++line;
        QByteArray text = raw;
        while (text.endsWith('\r')) text.chop(1);
        // One log writes its line ends out as text.
        if (text.endsWith("\\x0d\\x0a")) text.chop(8);
        if (text.startsWith('#') || text.isEmpty()) continue;
        Feed(text.toStdString());
    }
    return out;
}

class Comparison {
public:
    Comparison(const std::string& where, const QJsonObject& json) : m_where(where), m_json(json) {}

    void Number(const char* key, double ours, double tolerance = 0) {
        if (!m_json.contains(QLatin1String(key))) return;
        const double theirs = m_json.value(QLatin1String(key)).toDouble();
        ++compared;
        EXPECT_LE(std::fabs(theirs - ours), tolerance) << m_where << " " << key << ": expected " << theirs
                                                       << ", decoded " << ours;
    }
    void Text(const char* key, const std::string& ours, bool prefix = false) {
        if (!m_json.contains(QLatin1String(key))) return;
        const std::string theirs = m_json.value(QLatin1String(key)).toString().toStdString();
        ++compared;
        if (prefix)
            EXPECT_EQ(theirs.substr(0, ours.size()), ours) << m_where << " " << key;
        else
            EXPECT_EQ(theirs, ours) << m_where << " " << key;
    }
    const QJsonObject& Json() const { return m_json; }
    int compared = 0;

private:
    std::string m_where;
    QJsonObject m_json;
};

// The decoder's scaled position has six decimals.
constexpr double kDegrees = 1.5e-6;

void CompareMessage(Comparison& c, const Decode& d, std::map<uint32_t, std::string>& namesB) {
    const QJsonObject& j = c.Json();
    c.Number("type", d.type);
    c.Number("mmsi", d.mmsi);
    // Speeds beyond 102.2 knots are "not available" here.
    auto speedTenths = [&](double ours) {
        if (!j.contains(QLatin1String("speed"))) return;
        const double theirs = j.value(QLatin1String("speed")).toDouble();
        if (theirs > 100) {
            EXPECT_EQ(ours, 0.0) << "speed not available";
        } else {
            c.Number("speed", ours, 0.051);
        }
    };
    auto position = [&]() {
        c.Number("lat", d.lat, kDegrees);
        c.Number("lon", d.lon, kDegrees);
    };
    switch (d.type) {
        case 1:
        case 2:
        case 3: {
            c.Number("status", d.status);
            speedTenths(d.speed);
            position();
            c.Number("course", d.course, 0.051);
            c.Number("heading", d.heading);
            c.Number("second", d.second);
            const QJsonValue turn = j.value(QLatin1String("turn"));
            if (turn.isDouble()) {
                // That decoder prints the rate rounded to whole degrees and without its
                // sign (a raw -8, turning to port, prints as 3).
                EXPECT_TRUE(d.turn_valid);
                EXPECT_NEAR(std::fabs(d.turn), turn.toDouble(), 0.5);
            } else {
                // "nan", "fastleft", "fastright": beyond what a turn indicator can say.
                EXPECT_FALSE(d.turn_valid) << "turn " << turn.toString().toStdString();
            }
            break;
        }
        case 4:
        case 11: {
            position();
            int y = 0, mo = 0, da = 0, h = 0, mi = 0, s = 0;
            const std::string ts = j.value(QLatin1String("timestamp")).toString().toStdString();
            ASSERT_EQ(std::sscanf(ts.c_str(), "%d-%d-%dT%d:%d:%dZ", &y, &mo, &da, &h, &mi, &s), 6) << ts;
            EXPECT_EQ(d.year * 10000 + d.month * 100 + d.day, y * 10000 + mo * 100 + da);
            EXPECT_EQ(d.hour * 10000 + d.minute * 100 + d.second, h * 10000 + mi * 100 + s);
            c.compared += 2;
            break;
        }
        case 5: {
            c.Number("imo", d.imo);
            c.Text("callsign", d.callsign);
            c.Text("shipname", d.name);
            c.Number("shiptype", d.ship_type);
            c.Number("to_bow", d.to_bow);
            c.Number("to_stern", d.to_stern);
            c.Number("to_port", d.to_port);
            c.Number("to_starboard", d.to_starboard);
            c.Number("draught", d.draught, 0.051);
            c.Text("destination", d.destination);
            int mo = 0, da = 0, h = 0, mi = 0;
            const std::string eta = j.value(QLatin1String("eta")).toString().toStdString();
            ASSERT_EQ(std::sscanf(eta.c_str(), "%d-%dT%d:%dZ", &mo, &da, &h, &mi), 4) << eta;
            EXPECT_EQ(d.eta_month * 1000000 + d.eta_day * 10000 + d.eta_hour * 100 + d.eta_minute,
                      mo * 1000000 + da * 10000 + h * 100 + mi);
            ++c.compared;
            break;
        }
        case 9:
            c.Number("alt", d.altitude);
            c.Number("speed", d.speed);
            position();
            c.Number("course", d.course, 0.051);
            c.Number("second", d.second);
            break;
        case 18:
        case 19:
            speedTenths(d.speed);
            position();
            c.Number("course", d.course, 0.051);
            c.Number("heading", d.heading);
            c.Number("second", d.second);
            if (d.type == 19) {
                c.Text("shipname", d.name);
                c.Number("shiptype", d.ship_type);
                c.Number("to_bow", d.to_bow);
                c.Number("to_stern", d.to_stern);
            }
            break;
        case 21:
            c.Number("aid_type", d.aid_type);
            position();
            // The name extension that follows the 20 characters is not read.
            c.Text("name", d.name, true);
            // The one size kept is the field after the distance to the bow.
            c.Number("to_stern", d.to_bow);
            break;
        case 24:
            if (d.part == 0) {
                namesB[d.mmsi] = d.name;
                c.Text("shipname", d.name);
            } else {
                c.Number("shiptype", d.ship_type);
                c.Text("callsign", d.callsign);
                if (!j.contains(QLatin1String("mothership_mmsi"))) {
                    c.Number("to_bow", d.to_bow);
                    c.Number("to_stern", d.to_stern);
                    c.Number("to_port", d.to_port);
                    c.Number("to_starboard", d.to_starboard);
                }
                auto it = namesB.find(d.mmsi);
                if (it != namesB.end()) c.Text("shipname", it->second);
            }
            break;
        default:
            break;  // no fields beyond the header are read
    }
}

struct Summary {
    int messages = 0;
    int fields = 0;
    int missed = 0;  // messages the other decoder decoded and we did not
};

Summary CompareLog(const std::string& name) {
    const std::string dir = NAVORA_TEST_DATA_DIR "/ais/";
    const std::map<int, Decode> ours = Replay(dir + name);
    QFile tsv(QString::fromStdString(dir + name + ".gpsdecode-3.22.tsv"));
    EXPECT_TRUE(tsv.open(QIODevice::ReadOnly));
    Summary s;
    std::map<uint32_t, std::string> namesB;
    for (const QByteArray& row : tsv.readAll().split('\n')) {
        if (row.isEmpty() || row.startsWith('#')) continue;
        const QList<QByteArray> cols = row.split('\t');
        if (cols.size() < 3 || cols[2].trimmed() == "NONE") continue;
        const int last = cols[1].toInt();
        const QJsonObject json = QJsonDocument::fromJson(cols[2]).object();
        const std::string where = name + ":" + std::to_string(last);
        auto it = ours.find(last);
        if (it == ours.end()) {
            ++s.missed;
            ADD_FAILURE() << where << ": not decoded; expected " << cols[2].toStdString();
            continue;
        }
        Comparison c(where, json);
        CompareMessage(c, it->second, namesB);
        ++s.messages;
        s.fields += c.compared;
    }
    return s;
}

TEST(AisLogs, EveryMessageDecodesAsTheIndependentDecoderSays) {
    // Messages, and fields compared in them, so that a decoder that reads nothing fails.
    const struct {
        const char* log;
        int messages;
    } logs[] = {{"sample.aivdm", 97}, {"ais-raw-messages.log", 108}, {"ais-18-27.log", 138}};
    for (const auto& l : logs) {
        SCOPED_TRACE(l.log);
        const Summary s = CompareLog(l.log);
        EXPECT_EQ(s.missed, 0);
        EXPECT_EQ(s.messages, l.messages);
        EXPECT_GT(s.fields, s.messages * 3);
    }
}

}  // namespace
