// SPDX-License-Identifier: GPL-3.0-or-later
// Navigation towards marks and along routes, and the alarms, driven by positions as the
// GPS feed publishes them.

#include <QFile>

#include "core/heartbeat.h"
#include "mark_test_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Great-circle range and bearing on a sphere of the mean earth radius, worked out here
// independently of the code under test.
void Haversine(double lat1, double lon1, double lat2, double lon2, double& range, double& bearing) {
    const double r = 6371008.8, d = kPi / 180;
    const double p1 = lat1 * d, p2 = lat2 * d, dp = (lat2 - lat1) * d, dl = (lon2 - lon1) * d;
    const double a = std::sin(dp / 2) * std::sin(dp / 2) + std::cos(p1) * std::cos(p2) * std::sin(dl / 2) * std::sin(dl / 2);
    range = 2 * r * std::asin(std::sqrt(a));
    bearing = std::fmod(std::atan2(std::sin(dl) * std::cos(p2), std::cos(p1) * std::sin(p2) - std::sin(p1) * std::cos(p2) * std::cos(dl)) / d + 360, 360);
}

std::string Id(const COverlayObject* o) {
    return std::to_string(o->OrderKey());
}

TEST_F(MarkTest, ProximityAndAnchorAlarmsFireExactlyAtTheirRadii) {
    COverlayMark* p = Mark("Buoy", 50.5, -2.5, 0, 100);
    COverlayMark* a = Mark("Hook", 51.0, -2.0, 50, 200);
    EXPECT_TRUE(CMarkManager::settings.notifications);

    FixAt(50.5, -2.5, 90, 101);
    FixAt(51.0, -2.0, 0, 49.99);  // too close to the anchor to mean dragging
    EXPECT_TRUE(ui.notifications.empty());
    FixAt(50.5, -2.5, 90, 99);
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].title, Id(p));
    EXPECT_EQ(ui.notifications[0].buttons[0], "Proximity alarm");
    EXPECT_EQ(ui.notifications[0].text, "Buoy is 99.0 m away");
    FixAt(50.5, -2.5, 90, 60);  // still inside: shown once
    EXPECT_EQ(ui.notifications.size(), 1u);
    FixAt(50.5, -2.5, 90, 101);
    EXPECT_EQ(ui.cancelled, std::vector<std::string>{Id(p)});

    FixAt(51.0, -2.0, 180, 50.01);
    ASSERT_EQ(ui.notifications.size(), 2u);
    EXPECT_EQ(ui.notifications[1].buttons[0], "Anchor alarm");
    EXPECT_EQ(ui.notifications[1].title, Id(a));
    FixAt(51.0, -2.0, 180, 199.99);
    EXPECT_EQ(ui.notifications.size(), 2u);
    FixAt(51.0, -2.0, 180, 200.01);
    ASSERT_EQ(ui.cancelled.size(), 2u);
    EXPECT_EQ(ui.cancelled[1], Id(a));

    // Every raise and clear went to the alarm log, with its position.
    QFile log(QString::fromStdString(Dir() + "/alarms.log"));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].contains(" raised Proximity alarm: Buoy is 99.0 m away at 50.50")) << lines[0].toStdString();
    EXPECT_TRUE(lines[3].contains(" cleared Anchor alarm: Hook is ")) << lines[3].toStdString();

    // Without any alarm left, the checks switch themselves off.
    manager->DeleteMark(p);
    manager->DeleteMark(a);
    FixAt(50.5, -2.5, 90, 10);
    EXPECT_FALSE(CMarkManager::settings.notifications);
}

TEST_F(MarkTest, GeofenceAndExclusionZoneFollowAConcaveArea) {
    // A "U": the notch between its arms lies inside the bounds but outside the area.
    const std::vector<std::pair<double, double>> u = {{50.00, -1.00}, {50.00, -0.97}, {50.03, -0.97}, {50.03, -0.98},
                                                      {50.01, -0.98}, {50.01, -0.99}, {50.03, -0.99}, {50.03, -1.00}};
    COverlayRoute* fence = Route("Bay", u);
    fence->SetAreaAlarms(true, false);
    COverlayRoute* zone = Route("Range", u);
    zone->SetAreaAlarms(false, true);
    manager->AddRoute(nullptr);
    zone->Dispatch(COverlayObject::UPDATE_CHANGED);  // an edit tells the manager to watch again

    Fix(50.005, -0.985);  // in the base of the U
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].buttons[0], "Exclusion Zone Alarm");
    EXPECT_EQ(ui.notifications[0].text, "You are in Range");
    EXPECT_EQ(ui.notifications[0].title, Id(zone));

    Fix(50.02, -0.985);  // in the notch
    ASSERT_EQ(ui.notifications.size(), 2u);
    EXPECT_EQ(ui.notifications[1].buttons[0], "Geofence Alarm");
    EXPECT_EQ(ui.notifications[1].text, "You are outside Bay");
    EXPECT_EQ(ui.cancelled, std::vector<std::string>{Id(zone)});

    Fix(50.02, -0.995);  // in an arm
    EXPECT_EQ(ui.cancelled, (std::vector<std::string>{Id(zone), Id(fence)}));
    EXPECT_EQ(ui.notifications.size(), 3u);
}

TEST_F(MarkTest, CrossTrackErrorHasTheSideOfTheBoatAndRaisesItsAlarm) {
    CMarkManager::settings.cross_track_alarm = 200;
    manager->ApplySettings();
    COverlayMark* target = Mark("North", 50.1, -1.0);
    Published<CDataGotoMark> go;
    Fix(50.0, -1.0, 6, 0);
    manager->SetGoto(target);
    ASSERT_FALSE(go.values.empty());
    EXPECT_NEAR(go.values.back().cross_track_error, 0, 0.01);  // the leg starts at the boat

    FixAt(50.05, -1.0, 90, 300, 6, 0);  // right of the leg
    const CDataGotoMark right = go.values.back();
    EXPECT_NEAR(right.cross_track_error, 300, 3);
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].title, CMarkManager::kCrossTrackId);
    EXPECT_EQ(ui.notifications[0].buttons[0], "CrossTrack Alarm");
    EXPECT_EQ(ui.notifications[0].text, "You are 0.30 km off course");

    FixAt(50.05, -1.0, 270, 100, 6, 0);
    EXPECT_NEAR(go.values.back().cross_track_error, -100, 2);
    EXPECT_EQ(ui.cancelled, std::vector<std::string>{CMarkManager::kCrossTrackId});
    FixAt(50.05, -1.0, 270, 250, 6, 0);  // left of the leg
    EXPECT_NEAR(go.values.back().cross_track_error, -250, 3);
    EXPECT_EQ(ui.notifications.size(), 2u);

    // Range and bearing agree with an independent great-circle computation.
    double la, lo, range, bearing;
    Offset(50.05, -1.0, 270, 250, la, lo);
    Haversine(la, lo, 50.1, -1.0, range, bearing);
    EXPECT_NEAR(go.values.back().range, range, range * 0.004);
    EXPECT_NEAR(go.values.back().bearing, bearing, 0.3);
    EXPECT_NEAR(go.values.back().vmg_mark, 6 * std::cos(bearing * kPi / 180), 0.05);
}

TEST_F(MarkTest, FollowingARouteSwitchesLegsAtTheBisectorsAndSkipsShortLegs) {
    // North, a 3 m hop, then east.
    double hopLat, hopLon;
    Offset(50.02, -1.0, 90, 3, hopLat, hopLon);
    COverlayRoute* r = Route("L", {{50.0, -1.0}, {50.02, -1.0}, {hopLat, hopLon}, {50.02, -0.97}});
    Published<CDataGotoMark> go;
    auto target = [&] { return go.values.empty() ? std::string() : go.values.back().name; };
    manager->SetFollowRoute(r);

    Fix(49.999, -1.0, 5, 0);  // short of the start: the first waypoint
    EXPECT_EQ(target(), "LP1");
    EXPECT_EQ(go.values.back().route_leg, 0);
    Fix(50.01, -1.0, 5, 0);
    EXPECT_EQ(target(), "LP2");
    EXPECT_NEAR(go.values.back().leg_length, 2224, 5);
    EXPECT_NEAR(go.values.back().route_remaining, 3 + 2144, 10);
    EXPECT_EQ(go.values.back().next_name, "LP3");
    Fix(50.0198, -1.0, 5, 0);  // not yet at the turn
    EXPECT_EQ(target(), "LP2");
    for (double lon : {-0.9995, -0.999, -0.99}) {
        Fix(50.0201, lon, 5, 90);  // round the corner: past the bisector
        EXPECT_EQ(target(), "LP4");  // never the waypoint after the 3 m hop's start
    }
    EXPECT_EQ(r->Waypoint(3)->isNavigatingToMark(), true);
    EXPECT_EQ(r->Waypoint(1)->isNavigatingToMark(), false);
    EXPECT_EQ(r->FindNearestLeg(hopLat, hopLon + 0.00001, 1, 0).to, r->Waypoint(3));
}

TEST_F(MarkTest, TheArrivalRadiusStartsTheNextLegEarly) {
    CMarkManager::settings.arrival_radius = 150;
    COverlayRoute* r = Route("A", {{50.0, -1.0}, {50.02, -1.0}, {50.02, -0.97}});
    Published<CDataGotoMark> go;
    manager->SetFollowRoute(r);
    Fix(50.01, -1.0, 5, 0);
    EXPECT_EQ(go.values.back().name, "AP2");
    FixAt(50.02, -1.0, 180, 140, 5, 0);  // inside the circle, before the bisector
    EXPECT_EQ(go.values.back().name, "AP3");
    FixAt(50.02, -1.0, 180, 100, 5, 0);  // the finished leg is not taken again
    EXPECT_EQ(go.values.back().name, "AP3");
}

TEST_F(MarkTest, AutoReverseTurnsTheRouteOnceWhenHeadingAwayFromItsEnd) {
    CMarkManager::settings.auto_reverse = true;
    COverlayRoute* r = Route("B", {{50.0, -1.0}, {50.02, -1.0}});
    COverlayMark* first = r->Waypoint(0);
    Published<CDataGotoMark> go;
    manager->SetFollowRoute(r);
    Fix(50.01, -1.0, 5, 0);
    ASSERT_EQ(go.values.back().name, "BP2");
    Fix(50.019, -1.0, 5, 10);  // near the end, still heading for it
    EXPECT_EQ(r->Waypoint(0), first);
    Fix(50.019, -1.0, 5, 180);  // near the end, heading back
    EXPECT_EQ(r->Waypoint(1), first);
    EXPECT_EQ(go.values.back().name, "BP1");
    Fix(50.018, -1.0, 5, 180);
    Fix(50.017, -1.0, 5, 180);
    EXPECT_EQ(r->Waypoint(1), first);  // once
    EXPECT_EQ(go.values.back().name, "BP1");
}

TEST_F(MarkTest, DeletingWhatIsNavigatedToStopsCleanly) {
    COverlayMark* m = Mark("M", 50.0, -1.0, 0, 500);
    Published<CDataGotoMark> go;
    manager->SetGoto(m);
    FixAt(50.0, -1.0, 0, 100, 5, 180);
    ASSERT_EQ(ui.notifications.size(), 1u);
    manager->DeleteMark(m);
    EXPECT_EQ(manager->Target(), nullptr);
    EXPECT_FALSE(go.values.back().HasTarget());
    EXPECT_EQ(go.values.back().range, CDataGotoMark::kNoRange);
    EXPECT_EQ(ui.cancelled, std::vector<std::string>{Id(m)});
    const size_t published = go.values.size();
    FixAt(50.0, -1.0, 0, 50, 5, 180);
    EXPECT_EQ(go.values.size(), published);  // nothing to navigate to any more

    // The target waypoint of a followed route goes: the next position picks a new leg.
    COverlayRoute* r = Route("W", {{50.0, -1.0}, {50.02, -1.0}, {50.04, -1.0}});
    manager->SetFollowRoute(r);
    Fix(50.01, -1.0, 5, 0);
    ASSERT_EQ(go.values.back().name, "WP2");
    manager->DeleteMark(r->Waypoint(1));
    EXPECT_EQ(r->size(), 2u);
    Fix(50.011, -1.0, 5, 0);
    EXPECT_EQ(go.values.back().name, "WP3");
    EXPECT_EQ(manager->FollowedRoute(), r);

    manager->DeleteRoute(r);
    EXPECT_EQ(manager->FollowedRoute(), nullptr);
    EXPECT_FALSE(go.values.back().HasTarget());
    manager->UndeleteRoute(r);
    manager->SetFollowRoute(r);
    Fix(50.012, -1.0, 5, 0);
    manager->ClearAll();
    Fix(50.013, -1.0, 5, 0);
    EXPECT_EQ(manager->Target(), nullptr);
}

TEST_F(MarkTest, LosingTheFixAtAnchorRaisesGpsLostAfterThirtySeconds) {
    double t = 1700000000.0;
    CDataSource::SetReplayClock(t);
    Mark("Anchor", 50.0, -1.0, 20, 100);
    Fix(50.0, -1.0);
    auto runFor = [&](double seconds) {
        for (int i = 0; i < int(seconds * 10 + 0.5); ++i) {
            t += 0.1;
            CDataSource::SetReplayClock(t);
            CHeartbeat::Pulse();
        }
    };
    runFor(29);
    EXPECT_TRUE(ui.notifications.empty());
    runFor(3);
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].buttons[0], "GPS lost");
    EXPECT_EQ(ui.notifications[0].title, CMarkManager::kGpsLostId);
    runFor(60);
    EXPECT_EQ(ui.notifications.size(), 1u);
    Fix(50.0, -1.0);
    EXPECT_EQ(ui.cancelled, std::vector<std::string>{CMarkManager::kGpsLostId});

    // Without an anchor alarm, silence is no alarm.
    manager->ClearAll();
    runFor(60);
    EXPECT_EQ(ui.notifications.size(), 1u);
}

}  // namespace
