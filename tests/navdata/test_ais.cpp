// SPDX-License-Identifier: GPL-3.0-or-later
// AIS: our encoder against the decoder, fragment assembly, and the target manager's
// collision alarms, man-overboard marks, own ship from its transponder, expiry, the
// instant target list and drawing, all through dispatched sentences.

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "charts/georef.h"
#include "core/heartbeat.h"
#include "navdata/ais.h"
#include "navdata/ais_encode.h"
#include "navdata/ais_models.h"
#include "nmea_test_support.h"
#include "overlays/markmanager.h"
#include "support/recording_ui.h"
#include "units/units.h"

namespace {

using namespace NAisEncode;

void FeedAll(const std::vector<std::string>& sentences) {
    for (const std::string& s : sentences) Feed(s);
}

// What the last complete message of a list of sentences decoded to.
struct Msg {
    int message_type = 0;
    uint32_t mmsi = 0, imo = 0;
    int nav_status = 0, heading = 0, altitude = 0, part_number = 0;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0, eta_month = 0, eta_day = 0;
    float rate_of_turn = 0, speed = 0, course = 0, draught = 0;
    bool rate_of_turn_valid = false;
    double latitude = 0, longitude = 0;
    std::string name, callsign, destination, ship_type;
};
struct Decoded {
    int messages = 0;
    int fragments = 0;
    Msg last;
};
Decoded Decode(const std::vector<std::string>& sentences) {
    Decoded d;
    Catch<CNEMA_AIS::VDM> vdm([&](CNEMA_AIS::VDM& r) {
        if (r.message_type == 0) {
            ++d.fragments;
            return;
        }
        ++d.messages;
        d.last = Msg{r.message_type, r.mmsi, r.imo, r.nav_status, r.heading, r.altitude, r.part_number,
                     r.to_bow, r.to_stern, r.to_port, r.to_starboard, r.eta_month, r.eta_day,
                     r.rate_of_turn, r.speed, r.course, r.draught, r.rate_of_turn_valid, r.latitude, r.longitude,
                     r.name, r.callsign, r.destination, r.ship_type_text};
    });
    FeedAll(sentences);
    return d;
}

TEST(AisCodec, EncoderAndDecoderAgreeOnEveryMessageTypeTheTargetsUse) {
    PositionA a;
    a.mmsi = 235001234;
    a.status = 7;
    a.rot_raw = -20;
    a.speed = 12.3;
    a.lat = 50.512345;
    a.lon = -2.876543;
    a.course = 287.4;
    a.heading = 285;
    Decoded d = Decode(Encode(a));
    ASSERT_EQ(d.messages, 1);
    EXPECT_EQ(d.last.message_type, 1);
    EXPECT_EQ(d.last.mmsi, 235001234u);
    EXPECT_EQ(d.last.nav_status, 7);
    EXPECT_NEAR(d.last.latitude, 50.512345, 1e-6);
    EXPECT_NEAR(d.last.longitude, -2.876543, 1e-6);
    EXPECT_NEAR(d.last.speed, 12.3, 1e-4);
    EXPECT_NEAR(d.last.course, 287.4, 1e-3);
    EXPECT_EQ(d.last.heading, 285);
    EXPECT_TRUE(d.last.rate_of_turn_valid);
    EXPECT_NEAR(d.last.rate_of_turn, -(20 / 4.733) * (20 / 4.733), 1e-3);

    // "Not available": turn -128 reads (128/4.733)^2 = 731 > 720 and is invalid, like
    // the 720 of +127; speed 1023 is no speed at all, not 102.3 knots.
    a.rot_raw = -128;
    a.speed = -1;
    d = Decode(Encode(a));
    EXPECT_FALSE(d.last.rate_of_turn_valid);
    EXPECT_EQ(d.last.rate_of_turn, 0.0f);
    EXPECT_EQ(d.last.speed, 0.0f);
    a.rot_raw = 127;
    EXPECT_FALSE(Decode(Encode(a)).last.rate_of_turn_valid);
    a.rot_raw = 126;
    EXPECT_TRUE(Decode(Encode(a)).last.rate_of_turn_valid);

    StaticA s;
    s.mmsi = 235001234;
    s.imo = 9123456;
    s.callsign = "MABC7";
    s.name = "Channel Trader";
    s.ship_type = 70;
    s.to_bow = 120;
    s.to_stern = 30;
    s.to_port = 10;
    s.to_starboard = 12;
    s.eta_month = 6;
    s.eta_day = 14;
    s.draught = 7.4;
    s.destination = "POOLE";
    const std::vector<std::string> five = Encode(s, 'B', 3);
    ASSERT_EQ(five.size(), 2u) << "a type 5 message needs two sentences";
    for (const std::string& line : five) EXPECT_LE(line.size() + 2, 82u) << line;
    d = Decode(five);
    ASSERT_EQ(d.messages, 1);
    EXPECT_EQ(d.fragments, 1);
    EXPECT_EQ(d.last.name, "CHANNEL TRADER");
    EXPECT_EQ(d.last.callsign, "MABC7");
    EXPECT_EQ(d.last.destination, "POOLE");
    EXPECT_EQ(d.last.ship_type, "Cargo ship");
    EXPECT_EQ(d.last.imo, 9123456u);
    EXPECT_EQ(d.last.to_bow + d.last.to_stern, 150);
    EXPECT_EQ(d.last.to_port + d.last.to_starboard, 22);
    EXPECT_EQ(d.last.eta_month * 100 + d.last.eta_day, 614);
    EXPECT_NEAR(d.last.draught, 7.4, 1e-4);

    PositionB b;
    b.mmsi = 235009876;
    b.speed = 5.5;
    b.lat = -33.9;
    b.lon = 151.25;
    b.course = 10;
    b.extended = true;
    b.name = "Kestrel";
    b.ship_type = 36;
    b.to_bow = 8;
    b.to_stern = 4;
    d = Decode(Encode(b));
    EXPECT_EQ(d.last.message_type, 19);
    EXPECT_NEAR(d.last.latitude, -33.9, 1e-6);
    EXPECT_NEAR(d.last.longitude, 151.25, 1e-6);
    EXPECT_EQ(d.last.name, "KESTREL");
    EXPECT_EQ(d.last.ship_type, "Sailing");
    EXPECT_EQ(d.last.to_bow, 8);

    StaticB part;
    part.mmsi = 235009876;
    part.part = 1;
    part.ship_type = 37;
    part.callsign = "2ABC3";
    part.to_bow = 9;
    d = Decode(Encode(part));
    EXPECT_EQ(d.last.part_number, 1);
    EXPECT_EQ(d.last.callsign, "2ABC3");
    EXPECT_EQ(d.last.ship_type, "Pleasure craft");

    AidToNavigation aid;
    aid.mmsi = 992351001;
    aid.aid_type = 20;
    aid.name = "Shambles";
    aid.lat = 50.52;
    aid.lon = -2.33;
    aid.to_bow = 3;
    aid.to_stern = 4;
    d = Decode(Encode(aid));
    EXPECT_EQ(d.last.message_type, 21);
    EXPECT_EQ(d.last.name, "SHAMBLES");
    EXPECT_EQ(d.last.to_bow, 4) << "the stored size of an aid is the field after the first";

    Aircraft air;
    air.mmsi = 111232511;
    air.altitude = 303;
    air.speed = 42;
    air.lat = 58.144;
    air.lon = -6.278843;
    air.course = 154.5;
    d = Decode(Encode(air));
    EXPECT_EQ(d.last.message_type, 9);
    EXPECT_EQ(d.last.altitude, 303);
    EXPECT_EQ(d.last.speed, 42.0f);
    EXPECT_NEAR(d.last.course, 154.5, 1e-3);
}

// Removing from the open-addressed index must leave every other MMSI findable, also
// where runs of slots wrap round the end of the table and while it grows.
TEST(MmsiIndex, EveryOtherTargetStaysFoundAsTargetsComeAndGo) {
    std::vector<int> values(60);  // a small table: runs often wrap round its end
    CMmsiIndex<int> index;
    std::vector<bool> present(values.size(), false);
    auto mmsi = [](size_t i) { return uint32_t(235000000u + i * 64u); };  // alike low bits
    uint32_t seed = 11;
    for (int round = 0; round < 20000; ++round) {
        seed = seed * 1664525u + 1013904223u;
        const size_t i = (seed >> 8) % values.size();
        if (present[i]) {
            index.Erase(mmsi(i));
        } else {
            index.Insert(mmsi(i), &values[i]);
        }
        present[i] = !present[i];
        if (round % 7 == 0) {
            size_t live = 0;
            for (size_t k = 0; k < values.size(); ++k) {
                live += present[k];
                ASSERT_EQ(index.Find(mmsi(k)), present[k] ? &values[k] : nullptr) << "round " << round << " k " << k;
            }
            ASSERT_EQ(index.Size(), live);
        }
    }
    EXPECT_EQ(index.Find(1), nullptr);
}

TEST(AisCodec, FragmentsAssembleInOrderPerMessage) {
    StaticA s;
    s.mmsi = 235000001;
    s.name = "FIRST";
    const std::vector<std::string> one = Encode(s, 'A', 1);
    s.mmsi = 235000002;
    s.name = "SECOND";
    const std::vector<std::string> two = Encode(s, 'B', 2);

    // Only the last fragment decodes; the second fragment alone is refused.
    Catch<CNEMA_AIS::VDM> vdm;
    EXPECT_FALSE(Feed(one[1]));
    EXPECT_EQ(vdm.count, 0);
    EXPECT_TRUE(Feed(one[0]));
    EXPECT_EQ(vdm.last->message_type, 0);
    EXPECT_TRUE(Feed(one[1]));
    EXPECT_EQ(vdm.last->message_type, 5);
    EXPECT_STREQ(vdm.last->name, "FIRST");
    EXPECT_FALSE(Feed(one[1])) << "a repeated last fragment is out of sequence";

    // Two messages interleaved on both channels each decode whole.
    std::vector<std::string> names;
    Catch<CNEMA_AIS::VDM> both([&](CNEMA_AIS::VDM& r) {
        if (r.message_type == 5) names.push_back(r.name);
    });
    FeedAll({one[0], two[0], one[1], two[1]});
    EXPECT_EQ(names, (std::vector<std::string>{"FIRST", "SECOND"}));

    // A new first fragment drops the unfinished one; a fragment out of order drops its
    // message, and its own later fragment finds nothing to add to.
    names.clear();
    FeedAll({one[0], one[0], one[1]});
    EXPECT_EQ(names, std::vector<std::string>{"FIRST"});
    names.clear();
    std::vector<std::string> longOne = Sentences(Bits(s) + Bits(s), 'A', 4);  // three fragments
    ASSERT_EQ(longOne.size(), 3u);
    FeedAll({longOne[0], longOne[2], longOne[1]});
    EXPECT_TRUE(names.empty());
}

// ---------------------------------------------------------------------------------------
// The manager

constexpr double kOwnLat = 50.5;
constexpr double kOwnLon = -2.5;
constexpr double kKnot = 0.5144445;

class Manager : public ::testing::Test {
protected:
    void SetUp() override {
        CDataSource::SetReplayClock(1.75e9);
        saved = CAISTargetManager::settings.enable_settings;
        marks = std::make_unique<CMarkManager>();
        marks->SetDirectory(dir.path().toStdString());
        own = std::make_unique<COverlayGPSPosition>();
        ais = std::make_unique<CAISTargetManager>(*own);
    }
    void TearDown() override {
        ais.reset();
        own.reset();
        marks.reset();
        auto& s = CAISTargetManager::settings;
        s.alarm_distance = 300;
        s.cpa_classB_distance = 100;
        s.alarm_time = 1200;
        s.min_closing_velocity_knots = 1;
        s.alarm_beep = true;
        s.record_tracks = false;
        s.enable_settings = saved;
        CDataSource::SetReplayClock(0);
    }

    // The own ship at kOwnLat, kOwnLon with a GPS fix, moving at `knots` along `course`.
    void OwnShip(double knots = 0, double course = 0) {
        own->position_source = this;
        own->fix_status = FIX_GPS;
        own->set_latlon(kOwnLat, kOwnLon);
        own->set_course(float(course), float(knots));
        own->fix_time = CDataSource::Now();
        own->DispatchPositionUpdate();
    }
    // A position `east`, `north` metres from the own ship.
    static void At(double east, double north, double& lat, double& lon) {
        CSimpleGrid(kOwnLat, kOwnLon).FromGrid(east, north, lat, lon);
    }
    // A class A report of a ship at (east, north) metres steering `course` at `knots`.
    static std::vector<std::string> ClassA(uint32_t mmsi, double east, double north, double knots, double course,
                                           int status = 0) {
        PositionA m;
        m.mmsi = mmsi;
        m.status = status;
        m.speed = knots;
        m.course = course;
        At(east, north, m.lat, m.lon);
        return Encode(m);
    }
    static std::vector<std::string> ClassB(uint32_t mmsi, double east, double north, double knots, double course) {
        PositionB m;
        m.mmsi = mmsi;
        m.speed = knots;
        m.course = course;
        At(east, north, m.lat, m.lon);
        return Encode(m);
    }
    void Advance(double seconds) {
        // The heartbeat's clock, pulse by pulse, as the application runs it.
        const int pulses = int(std::lround(seconds * 10));
        for (int i = 0; i < pulses; ++i) {
            CDataSource::SetReplayClock(CDataSource::Now() + 0.1);
            CHeartbeat::Pulse();
        }
    }

    QTemporaryDir dir;
    RecordingUi ui;
    bool saved = false;
    std::unique_ptr<CMarkManager> marks;
    std::unique_ptr<COverlayGPSPosition> own;
    std::unique_ptr<CAISTargetManager> ais;
};

TEST_F(Manager, ClassAAlarmsWhereClassBOnlyWarnsAtTheSameApproach) {
    OwnShip();
    // Both pass 150 m abeam in 10.5 minutes at 10 knots: inside the class A alarm distance
    // (300 m), outside class B's (100 m) but within twice it.
    const double north = -630 * 10 * kKnot;
    FeedAll(ClassA(235000001, 150.5, north, 10, 0));
    FeedAll(ClassB(235000002, -150.5, north, 10, 0));
    const CAISTarget* a = ais->Find(235000001);
    const CAISTarget* b = ais->Find(235000002);
    ASSERT_TRUE(a && b);
    EXPECT_NEAR(a->tcpa, 630, 1);
    EXPECT_NEAR(a->cpa, 150.5, 0.5);
    EXPECT_NEAR(a->bearing, 180 - std::atan2(150.5, -north) * 180 / 3.14159265358979323846, 0.1);
    EXPECT_TRUE(a->alerting);
    EXPECT_EQ(a->colour, 0xFFFF0000u);
    EXPECT_FALSE(b->alerting);
    EXPECT_EQ(b->colour, 0xFFDCDC00u);
    EXPECT_TRUE(a->isCollisionThreat() && b->isCollisionThreat());
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].title, "235000001");
    EXPECT_EQ(ui.notifications[0].buttons[0], "AIS collision alert, Class A");
    EXPECT_EQ(ui.notifications[0].text, "Unknown name, CPA 150 m, 10 min");

    // The name arrives; the next report carries it. A longer ship comes closer.
    StaticA s;
    s.mmsi = 235000001;
    s.name = "TRADER";
    s.to_bow = 60;
    s.to_stern = 20;
    FeedAll(Encode(s));
    FeedAll(ClassA(235000001, 150.5, north, 10, 0));
    EXPECT_NEAR(a->cpa, 70.5, 0.5);
    EXPECT_EQ(ui.notifications.back().text.substr(0, 12), "TRADER, CPA ");

    // Settings decide: a shorter alarm time turns the alarm into a warning and cancels
    // the notification; without the beep nothing is shown, but the target still alarms.
    CAISTargetManager::settings.alarm_time = 500;
    FeedAll(ClassA(235000001, 150.5, north, 10, 0));
    EXPECT_FALSE(a->alerting);
    EXPECT_EQ(a->colour, 0xFFDCDC00u);
    EXPECT_EQ(ui.cancelled, std::vector<std::string>{"235000001"});
    CAISTargetManager::settings.alarm_time = 1200;
    CAISTargetManager::settings.alarm_beep = false;
    const size_t shown = ui.notifications.size();
    FeedAll(ClassA(235000001, 150.5, north, 10, 0));
    EXPECT_TRUE(a->alerting);
    EXPECT_EQ(ui.notifications.size(), shown);

    // Once past, the alert ends.
    CAISTargetManager::settings.alarm_beep = true;
    FeedAll(ClassA(235000001, 150, 500, 10, 0));
    EXPECT_LT(a->tcpa, 0);
    EXPECT_FALSE(a->HasCPA());
    EXPECT_FALSE(a->alerting);
}

TEST_F(Manager, ClosingSlowerThanTheMinimumNeverAlarmsWhateverTheCPA) {
    // Overtaking at 0.8 knots straight up the own ship's wake: CPA 0.
    OwnShip(6, 0);
    FeedAll(ClassA(235000003, 0, -300, 6.8, 0));
    const CAISTarget* t = ais->Find(235000003);
    ASSERT_TRUE(t);
    EXPECT_NEAR(t->cpa, 0, 1);
    EXPECT_GT(t->tcpa, 0);
    EXPECT_FALSE(t->alerting);
    EXPECT_TRUE(ui.notifications.empty());
    // 1.2 knots faster, the same geometry alarms.
    FeedAll(ClassA(235000003, 0, -300, 7.2, 0));
    EXPECT_TRUE(t->alerting);

    // A target lying still has no CPA, even dead ahead of a moving own ship.
    FeedAll(ClassA(235000004, 0, 400, 0, 0, 1));
    const CAISTarget* anchored = ais->Find(235000004);
    EXPECT_FALSE(anchored->HasCPA());
    EXPECT_FALSE(anchored->alerting);
    EXPECT_STREQ(anchored->status, "At anchor");
    EXPECT_EQ(anchored->colour, 0xFF808080u);
}

TEST_F(Manager, TheOwnShipsMovesStartAndEndAlertsBetweenReports) {
    OwnShip(0, 0);
    // A ship crossing 1 km ahead: no threat while we lie still.
    FeedAll(ClassA(235000005, -2000, 1000, 12, 90));
    const CAISTarget* t = ais->Find(235000005);
    EXPECT_FALSE(t->alerting);
    int moved = 0;
    Catch<COverlayObject> redraws([&](COverlayObject& o) {
        if (&o == static_cast<const COverlayObject*>(t)) ++moved;
    });
    // Now we steam north into its path: the alert starts without a report, once.
    OwnShip(8, 0);
    EXPECT_TRUE(t->alerting);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(ui.notifications.size(), 1u);
    OwnShip(8, 0);
    EXPECT_EQ(ui.notifications.size(), 1u) << "only the target's reports repeat the alert";
    EXPECT_EQ(moved, 1);
    OwnShip(0, 0);
    EXPECT_FALSE(t->alerting);
    EXPECT_EQ(ui.cancelled.size(), 1u);
}

TEST_F(Manager, ManOverboardBeaconBecomesAMarkAndTheGotoTargetOnlyWhenClose) {
    OwnShip(5, 90);
    FeedAll(ClassA(972001234, 800, 0, 0, 0, 14));
    const CAISTarget* mob = ais->Find(972001234);
    ASSERT_TRUE(mob);
    EXPECT_STREQ(mob->kind, "Man Overboard");
    EXPECT_EQ(mob->colour, 0xFFFF0000u);
    EXPECT_TRUE(mob->alerting);
    COverlayMark* mark = marks->FindMark("AIS MOB: 972001234");
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->getIcon(), "X");
    EXPECT_NEAR(mark->getLat(), mob->lat, 1e-9);
    EXPECT_EQ(marks->Target(), nullptr) << "800 m away: not yet the goto target";
    ASSERT_FALSE(ui.notifications.empty());
    std::string range, bearing;
    CDefaultUnits::u.FormatDistance(mob->range, range);
    CDefaultUnits::u.FormatBearing(mob->bearing, bearing);
    EXPECT_EQ(ui.notifications.back().buttons[0], "AIS Man Overboard");
    EXPECT_EQ(ui.notifications.back().text, range + " away, bearing " + bearing);

    // The beacon drifts to 400 m: the same mark moves and becomes the target.
    FeedAll(ClassA(972001234, 400, 0, 0, 0, 14));
    EXPECT_EQ(marks->FindMark("AIS MOB: 972001234"), mark);
    EXPECT_EQ(marks->Marks().size(), 1u);
    EXPECT_NEAR(mark->getLon(), mob->lon, 1e-9);
    EXPECT_EQ(marks->Target(), mark);

    // Other beacons are told apart by their MMSI; beyond 10 km a MOB is no alert.
    FeedAll(ClassA(970123456, 0, 500, 0, 0, 14));
    FeedAll(ClassA(974123456, 0, 500, 0, 0, 14));
    FeedAll(ClassA(972009999, 0, 12000, 0, 0, 14));
    EXPECT_STREQ(ais->Find(970123456)->kind, "Search and Rescue Transponder");
    EXPECT_STREQ(ais->Find(974123456)->kind, "EPIRB");
    EXPECT_FALSE(ais->Find(972009999)->alerting);
    EXPECT_EQ(marks->FindMark("AIS MOB: 972009999"), nullptr);
}

TEST_F(Manager, OwnShipFromItsTransponderOnlyWithoutAGps) {
    Catch<CDataGPSPosition> positions;
    PositionA self;
    self.mmsi = 235999999;
    self.lat = 50.6;
    self.lon = -2.4;
    self.speed = 6;
    self.course = 45;
    self.heading = 50;
    FeedAll(Encode(self, 'A', 0, "AIVDO"));
    EXPECT_EQ(own->fix_status, FIX_GPS);
    EXPECT_NEAR(own->lat, 50.6, 1e-6);
    EXPECT_NEAR(own->speed, 6, 1e-4);
    EXPECT_NEAR(own->compass.heading, 50, 1e-4);
    EXPECT_EQ(positions.count, 1);
    EXPECT_TRUE(ais->HasOwnPosition());
    EXPECT_EQ(ais->Find(235999999), nullptr) << "the own ship is no target";
    // A class B transponder does as well, and keeps supplying.
    PositionB selfB;
    selfB.mmsi = 235999999;
    selfB.lat = 50.61;
    selfB.lon = -2.41;
    FeedAll(Encode(selfB, 'A', 0, "AIVDO"));
    EXPECT_NEAR(own->lat, 50.61, 1e-6);

    // Once a GPS gives the position, the transponder is ignored.
    OwnShip();
    FeedAll(Encode(self, 'A', 0, "AIVDO"));
    EXPECT_NEAR(own->lat, kOwnLat, 1e-9);
}

TEST_F(Manager, SilentTargetsAreLostAfter366SecondsAndRemovedAfter600CheckedEvery120) {
    OwnShip();
    FeedAll(ClassA(235000006, 1000, 1000, 10, 0));
    FeedAll(ClassA(235000007, 2000, 1000, 0, 0));
    CAISTarget* t = ais->Find(235000006);
    ASSERT_TRUE(t);
    int removedPublished = 0;
    Catch<CAISTarget> published([&](CAISTarget& x) {
        if (x.last_type == CAISTarget::kTypeRemoved) ++removedPublished;
    });
    // One period brings the check to a known phase, with the targets still fresh.
    Advance(120);
    FeedAll(ClassA(235000006, 1000, 1000, 10, 0));
    FeedAll(ClassA(235000007, 2000, 1000, 0, 0));
    // Checks run 120 s apart: the last before 366 s of silence leaves both alone.
    Advance(360);
    EXPECT_STRNE(t->status, "Lost contact");
    Advance(120);
    EXPECT_STREQ(t->status, "Lost contact");
    EXPECT_EQ(t->colour, 0xFFFFFFFFu);
    EXPECT_EQ(t->speed, 0.0f);
    EXPECT_EQ(t->last_type, CAISTarget::kTypeLostContact);
    // A lost target that reports again is back.
    FeedAll(ClassA(235000006, 1000, 1000, 10, 0));
    EXPECT_STREQ(t->status, "Under way using engine");
    EXPECT_NE(t->colour, 0xFFFFFFFFu);
    // The other stays silent: at 600 s it is still there (checks at 480 s and 600 s
    // find it not yet over), at the next check it is gone.
    Advance(120);
    EXPECT_NE(ais->Find(235000007), nullptr);
    Advance(120);
    EXPECT_EQ(ais->Find(235000007), nullptr);
    EXPECT_EQ(removedPublished, 1);
    EXPECT_NE(ais->Find(235000006), nullptr);
}

TEST_F(Manager, StatusKindsDescriptionsAndTheSettingsEntry) {
    CAISTargetManager::settings.enable_settings = false;
    PositionB b;
    b.mmsi = 235000010;
    b.lat = 50.6;
    b.lon = -2.6;
    b.speed = 4;
    b.course = 200;
    FeedAll(Encode(b));
    EXPECT_TRUE(CAISTargetManager::settings.enable_settings);
    StaticB pa;
    pa.mmsi = 235000010;
    pa.name = "Kestrel";
    FeedAll(Encode(pa));
    StaticB pb = pa;
    pb.part = 1;
    pb.ship_type = 36;
    pb.callsign = "2ABC3";
    pb.to_bow = 8;
    pb.to_stern = 3;
    FeedAll(Encode(pb));
    const CAISTarget* t = ais->Find(235000010);
    EXPECT_STREQ(t->kind, "Class B");
    EXPECT_STREQ(t->status, "n/a");
    EXPECT_STREQ(t->callsign, "2ABC3");
    EXPECT_EQ(t->colour, 0xFF64C864u);
    EXPECT_EQ(t->description, "\"KESTREL\" Type:Sailing, LOA:11m\nClass B MMSI:235000010");
    EXPECT_EQ(t->TapMessage(), t->description + ", Speed:4.0 kts");
    // Without a heading a target under way points along its course.
    EXPECT_NEAR(t->compass.heading, 200, 1e-3);

    AidToNavigation aid;
    aid.mmsi = 992351001;
    aid.aid_type = 20;
    aid.name = "Shambles";
    aid.lat = 50.52;
    aid.lon = -2.33;
    aid.to_stern = 5;
    FeedAll(Encode(aid));
    const CAISTarget* n = ais->Find(992351001);
    EXPECT_STREQ(n->kind, "Aid to Navigation");
    EXPECT_EQ(n->colour, 0xFFA00073u);
    EXPECT_EQ(n->description, "\"SHAMBLES\" Aid to Navigation, Type:20, MMSI:992351001");
    EXPECT_EQ(n->to_bow + n->to_stern + n->to_port + n->to_starboard, 20);

    PositionA a;
    a.mmsi = 235000011;
    a.lat = 50.5;
    a.lon = -2.4;
    for (int status : {2, 8, 12}) {
        a.status = status;
        FeedAll(Encode(a));
        const CAISTarget* x = ais->Find(235000011);
        EXPECT_STREQ(x->status, status == 2 ? "NOT UNDER COMMAND" : status == 8 ? "Under way sailing"
                                                                                  : "Under way using engine");
        EXPECT_EQ(x->colour, status == 2 ? 0xFFC832C8u : status == 8 ? 0xFF0094EAu : 0xFF00DC00u);
        EXPECT_EQ(x->compass.heading, CDataSpeedDirection::kNoDirection) << "not under way: no heading";
        EXPECT_EQ(x->TapMessage(), "MMSI:235000011, Class A\nSpeed:0.0 kts, " + std::string(x->status));
    }
    // A position of 91/181 is no position; messages without a decoder only refresh.
    a.lat = 91;
    a.lon = 181;
    a.mmsi = 235000012;
    FeedAll(Encode(a));
    EXPECT_FALSE(ais->Find(235000012)->HasPosition());
    EXPECT_EQ(ais->Count(), 4u);
}

TEST_F(Manager, InstantTargetListNamesShipsAndRefusesWhatIsNotOne) {
    const QString path = dir.filePath(QStringLiteral("targets.txt"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<?xml version=\"1.0\"?>\n<Watchmate>\n"
            "<Target><MMSI>235000020</MMSI><Name>SOLENT STAR</Name><CallSign>MXYZ1</CallSign>"
            "<VesselTypeString>Passenger</VesselTypeString><COG>12</COG></Target>\n"
            "<Target><MMSI>972000001</MMSI><Name>MOB</Name></Target>\n"
            "<Target><MMSI>12345678901</MMSI><Name>TOO LONG</Name></Target>\n"
            "</Watchmate>\n");
    f.close();
    std::string error;
    ASSERT_TRUE(ais->ReadInstantTargets(path.toStdString(), &error)) << error;
    const CAISTarget* t = ais->Find(235000020);
    ASSERT_TRUE(t);
    EXPECT_STREQ(t->kind, "Instant");
    EXPECT_STREQ(t->name, "SOLENT STAR");
    EXPECT_EQ(t->description, "\"SOLENT STAR\" Type:Passenger Callsign:MXYZ1, MMSI:235000020");
    EXPECT_FALSE(t->HasPosition());
    EXPECT_STREQ(ais->Find(972000001)->kind, "Man Overboard");
    EXPECT_EQ(ais->Targets().size(), 2u);
    // The next position report makes it a ship on the chart, with the name kept.
    FeedAll(ClassA(235000020, 100, 100, 5, 0));
    EXPECT_STREQ(t->kind, "Class A");
    EXPECT_STREQ(t->name, "SOLENT STAR");

    for (const char* bad : {"<html><body>Not found</body></html>", "<Watchmate><Target><MMSI>1</MMSI>", ""}) {
        QFile b(path);
        ASSERT_TRUE(b.open(QIODevice::WriteOnly | QIODevice::Truncate));
        b.write(bad);
        b.close();
        error.clear();
        EXPECT_FALSE(ais->ReadInstantTargets(path.toStdString(), &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    EXPECT_FALSE(ais->ReadInstantTargets(dir.filePath(QStringLiteral("missing")).toStdString(), &error));
}

TEST_F(Manager, DrawingPointsAlongTheHeadingOutlinesTheSelectionAndTapsSelect) {
    PositionA a;
    a.mmsi = 235000030;
    a.lat = 50.5;
    a.lon = -2.5;
    a.speed = 0;
    a.heading = 90;
    FeedAll(Encode(a));
    PositionB b;
    b.mmsi = 235000031;
    b.lat = 50.5;
    b.lon = -2.5;
    FeedAll(Encode(b));
    CAISTarget* ship = ais->Find(235000030);
    CAISTarget* yacht = ais->Find(235000031);

    // Draw each at the centre of a small image (a mapping as a view makes it).
    auto draw = [](const CAISTarget& t) {
        QImage img(80, 80, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::white);
        QPainter p(&img);
        COverlayObject::CMapping m(const_cast<CAISTarget*>(&t));
        // Heading point 10 px east when the target has a heading.
        m.points = {{40, 40}, {0, 0}, {60, 40}, {t.compass.heading < 900 ? 50.0 : 0.0, 40}};
        m.screen = m.points;
        m.kind = COverlayObject::CMapping::HIT_POINTS;
        m.count = 1;
        t.Draw(&p, m);
        p.end();
        return img;
    };
    auto filled = [](const QImage& img, int x, int y, uint32_t argb) {
        return (img.pixel(x, y) & 0xFFFFFF) == (argb & 0xFFFFFF);
    };
    const QImage img = draw(*ship);
    EXPECT_TRUE(filled(img, 50, 40, ship->colour)) << "the tip lies along the heading (east)";
    EXPECT_FALSE(filled(img, 40, 30, ship->colour)) << "not upright";
    const QImage upright = draw(*yacht);
    EXPECT_TRUE(filled(upright, 40, 38, yacht->colour)) << "upright without a heading";
    EXPECT_FALSE(filled(upright, 40, 31, yacht->colour)) << "a class B triangle is smaller";

    // A tap selects and tells; the selected target gets a wider outline.
    EXPECT_TRUE(ship->onTap(nullptr, FPoint(), DblPoint()));
    EXPECT_EQ(ais->Selected(), ship);
    EXPECT_EQ(ui.status.back(), "MMSI:235000030, Class A\nSpeed:0.0 kts, Under way using engine");
    const QImage selected = draw(*ship);
    int black = 0, blackSelected = 0;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 80; ++x) {
            black += qGray(img.pixel(x, y)) < 60;
            blackSelected += qGray(selected.pixel(x, y)) < 60;
        }
    EXPECT_GT(blackSelected, black);
    ais->ClearSelection();
    EXPECT_EQ(ais->Selected(), nullptr);
}

// A plain chart: 100,000 pixels per degree both ways, north up, (50.6 N, 2.6 W) at the origin.
CPolynomialProjection Chart() {
    double fwd[2][10] = {}, inv[2][10] = {};
    fwd[0][0] = 260000;
    fwd[0][2] = 100000;
    fwd[1][0] = 5060000;
    fwd[1][1] = -100000;
    inv[0][0] = 50.6;
    inv[0][2] = -1e-5;
    inv[1][0] = -2.6;
    inv[1][1] = 1e-5;
    CPolynomialProjection p;
    p.init(fwd, inv, 20000, 20000, 0, 0);
    return p;
}

TEST_F(Manager, MappedTargetsAreHitAtTheirPositionAndCarryTheirRecordedTrack) {
    CAISTargetManager::settings.record_tracks = true;
    PositionA a;
    a.mmsi = 235000040;
    a.speed = 12;
    a.course = 90;
    a.heading = 90;
    for (int i = 0; i < 5; ++i) {
        At(i * 62.0, 0, a.lat, a.lon);  // 62 m every 10 s
        FeedAll(Encode(a));
    }
    // A station that never says what it is stays off the chart.
    NAisEncode::Aircraft none;
    none.mmsi = 2470052;
    std::string bits = Bits(none);
    bits.replace(0, 6, "000100");  // a base station report of the same length
    FeedAll(Sentences(bits));
    ASSERT_NE(ais->Find(2470052), nullptr);
    EXPECT_FALSE(ais->Find(2470052)->isVisible());

    const CAISTarget* t = ais->Find(235000040);
    EXPECT_EQ(t->TrailSize(), 5u);
    COverlayObject::CMapping m(const_cast<CAISTarget*>(t));
    t->Map(m, Chart());
    ASSERT_EQ(m.points.size(), size_t(COverlayMovingTarget::kMappedPoints) + 5);
    COverlayObject::CViewParams view;
    view.visible = FRect(0, 0, 20000, 20000);
    ASSERT_TRUE(m.map_to_screen(view));
    const DblPoint& at = m.screen[COverlayMovingTarget::kPositionPoint];
    EXPECT_TRUE(m.HitTest_mapped(at.x + 3, at.y, 81));
    EXPECT_FALSE(m.HitTest_mapped(at.x + 30, at.y, 81)) << "only the position is hit, not the track or vector";
    // The velocity vector points east, 6 minutes of travel at 12 knots by default.
    const DblPoint& end = m.points[COverlayMovingTarget::kVectorEndPoint];
    EXPECT_NEAR(end.x - m.points[0].x, 12 * 6 * 1852.0 / 60 / (111319.488 * std::cos(50.5 * 3.14159265 / 180)) * 1e5,
                30);
    EXPECT_NEAR(end.y, m.points[0].y, 1);

    CAISTargetManager::settings.record_tracks = false;
    t->Map(m, Chart());
    EXPECT_EQ(m.points.size(), size_t(COverlayMovingTarget::kMappedPoints));
}

}  // namespace

namespace {

TEST_F(Manager, TargetListPutsTheMostDangerousFirstAndCentresOnARow) {
    OwnShip();
    const double north = -630 * 10 * kKnot;
    FeedAll(ClassA(235000051, 5000, 0, 0, 0));         // far and still
    FeedAll(ClassB(235000052, -150.5, north, 10, 0));  // a warning
    FeedAll(ClassA(235000053, 150.5, north, 10, 0));   // an alarm
    FeedAll(ClassA(235000054, 800, 0, 0, 0));          // near and still
    CAisTargetList list(ais.get());
    ASSERT_EQ(list.count(), 4);
    EXPECT_EQ(list.MmsiAt(0), 235000053u);
    EXPECT_EQ(list.MmsiAt(1), 235000052u);
    EXPECT_EQ(list.MmsiAt(2), 235000054u);
    EXPECT_EQ(list.MmsiAt(3), 235000051u);
    const QModelIndex first = list.index(0);
    EXPECT_TRUE(list.data(first, CAisTargetList::AlertingRole).toBool());
    EXPECT_EQ(list.data(first, CAisTargetList::TcpaRole).toString(), QStringLiteral("10:30"));
    EXPECT_TRUE(list.data(list.index(3), CAisTargetList::CpaRole).toString().isEmpty());

    double lat = 0, lon = 0;
    QObject::connect(&list, &CAisTargetList::centreRequested, [&](double la, double lo) {
        lat = la;
        lon = lo;
    });
    list.activate(2);
    EXPECT_EQ(ais->Selected(), ais->Find(235000054));
    EXPECT_NEAR(lat, ais->Find(235000054)->lat, 1e-12);
    EXPECT_NEAR(lon, ais->Find(235000054)->lon, 1e-12);
    list.activate(9);  // no such row: nothing happens
    EXPECT_EQ(ais->Selected(), ais->Find(235000054));

    // The settings page writes what it offers and keeps values it does not offer.
    CDlg_AIS_settings page;
    int changed = 0;
    QObject::connect(&page, &CDlg_AIS_settings::settingsChanged, [&] { ++changed; });
    CAISTargetManager::settings.alarm_distance = 320;
    EXPECT_EQ(CDlg_AIS_settings::AlarmDistances()[size_t(page.alarmDistanceIndex())], 300);
    page.setAlarmDistanceIndex(int(CDlg_AIS_settings::AlarmDistances().size()));
    EXPECT_EQ(CAISTargetManager::settings.alarm_distance, 320.0f) << "an index out of range changes nothing";
    page.setAlarmDistanceIndex(0);
    EXPECT_EQ(CAISTargetManager::settings.alarm_distance, 100.0f);
    page.setAlarmMinutes(500);
    EXPECT_EQ(CAISTargetManager::settings.alarm_time, 3600.0f);
    EXPECT_EQ(changed, 2);
}

}  // namespace
