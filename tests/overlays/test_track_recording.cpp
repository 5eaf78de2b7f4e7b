// SPDX-License-Identifier: GPL-3.0-or-later
// Recording: which positions become points, when tracks begin and end, the sections and
// the running and stored statistics.

#include <random>

#include "test_track_support.h"

namespace {

// The metres that make `m` of grid distance north of kLat, a hair either side.
constexpr double kJustUnder = 2.89, kJustOver = 2.91;

}  // namespace

TEST_F(TrackTest, PositionsBecomePointsOnlyPastTheDistanceAndTimeThresholds) {
    // A turning boat: only the 2.9 m / 1.9 s rule holds points back.
    double lat, lon;
    Feed(kLat, kLon, kT0);
    ASSERT_EQ(Points(), 1u);
    Offset(kLat, kLon, 30, 0, lat, lon);
    Feed(lat, lon, kT0 + 1.0);  // 1 s later: never, however far
    Offset(kLat, kLon, kJustUnder, 0, lat, lon);
    Feed(lat, lon, kT0 + 2.0);  // 2 s later but not far enough
    Offset(kLat, kLon, 40, 0, lat, lon);
    Feed(lat, lon, kT0 + 1.89);
    EXPECT_EQ(Points(), 1u);
    Offset(kLat, kLon, kJustOver, 0, lat, lon);
    Feed(lat, lon, kT0 + 1.91);
    EXPECT_EQ(Points(), 2u);

    // Steady travel waits for both 20 s and 20 m: 0.51 m/s every 10 s is 20 m only after
    // 40 s, 6 m/s every 2 s is 20 s only after 120 m.
    manager->ClearAll();
    SailNorth(13, 5.1, 10, true);
    EXPECT_EQ(Points(), 4u);  // 0, 40, 80, 120 s
    manager->ClearAll();
    SailNorth(31, 12, 2, true);
    EXPECT_EQ(Points(), 4u);  // 0, 20, 40, 60 s
    // The same boat turning at every fix records every fix.
    manager->ClearAll();
    SailNorth(31, 12, 2, false);
    EXPECT_EQ(Points(), 31u);

    // Without a fix, or with recording off, nothing is recorded.
    manager->ClearAll();
    CDataGPSPosition lost = MakeFix(kLat, kLon, kT0, 5, 0, false);
    lost.fix_status = FIX_NONE;
    Listener<CDataGPSPosition>::Publish(lost);
    EXPECT_EQ(Active(), nullptr);
    manager->stopTrackRecording();
    SailNorth(5, 30, 5, false);
    EXPECT_EQ(Active(), nullptr);
}

TEST_F(TrackTest, GapsOfSixHoursAndClocksGoingBackStartNewTracks) {
    SailNorth(3, 30, 5, false);
    double lat, lon;
    Offset(kLat, kLon, 500, 0, lat, lon);
    Feed(lat, lon, kT0 + 10 + 21600.0);  // exactly 6 h after the last point: same trip
    ASSERT_EQ(manager->GetTracks().size(), 1u);
    EXPECT_EQ(Points(), 4u);
    Feed(lat + 0.01, lon, kT0 + 10 + 21600.0 + 7 * 3600.0);  // 7 h later
    ASSERT_EQ(manager->GetTracks().size(), 2u);
    EXPECT_TRUE(manager->GetTracks()[0]->isClosed());
    EXPECT_EQ(manager->GetTracks()[0]->getTotalPoints(), 4u);
    EXPECT_EQ(Points(), 1u);
    EXPECT_EQ(manager->GetTracks()[0]->getName(), "T1");
    EXPECT_EQ(Active()->getName(), "T2");
    // A log replayed from its start must not be sewn onto the boat's track; T2, a single
    // point, was no track and goes.
    Feed(kLat, kLon, kT0);
    ASSERT_EQ(manager->GetTracks().size(), 2u);
    EXPECT_EQ(manager->GetTracks()[0]->getTotalPoints(), 4u);
    EXPECT_EQ(Active()->getTotalPoints(), 1u);
    EXPECT_EQ(Active()->FirstPoint()->time, kT0);
}

TEST_F(TrackTest, SectionsHold64PointsAndShareTheirEnds) {
    SailNorth(200, 10, 3, false);
    const COverlayTrack& t = *Active();
    ASSERT_EQ(t.getTotalPoints(), 200u);
    // 64 + 63 + 63 + 10 new points.
    ASSERT_EQ(t.getSectionCount(), 4u);
    const auto& s = t.getSections();
    EXPECT_EQ(s[0]->size(), 64);
    EXPECT_EQ(s[1]->size(), 64);
    EXPECT_EQ(s[3]->size(), 11);
    for (size_t i = 1; i < s.size(); ++i) {
        EXPECT_TRUE(s[i]->Point(0).SamePlaceAndTime(s[i - 1]->Last())) << "section " << i;
        EXPECT_EQ(s[i]->Track(), &t);
    }
    // The 65th point is the one that opened the second section, after a copy of the 64th.
    const std::vector<CTrackPoint> all = t.AllPoints();
    EXPECT_TRUE(s[1]->Point(0).SamePlaceAndTime(all[63]));
    EXPECT_TRUE(s[1]->Point(1).SamePlaceAndTime(all[64]));
    // Points are unique and in time order.
    for (size_t i = 1; i < all.size(); ++i) EXPECT_GT(all[i].time, all[i - 1].time);
}

TEST_F(TrackTest, StatisticsAgreeWithAnIndependentSumOverThePoints) {
    // A wandering boat that stops now and then, fixes every 2-9 s, far from the grid's
    // origin by the end (the east-west scale changes with latitude).
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> turn(-40, 40), step(2, 9), speed(1.0, 4.0);
    double lat = 49.0, lon = -3.0, course = 20, t = kT0;
    for (int i = 0; i < 3000; ++i) {
        const bool stopped = (i / 150) % 4 == 3;
        const double dt = step(rng), v = stopped ? 0 : speed(rng);
        course = std::fmod(course + turn(rng) + 360, 360);
        double nlat, nlon;
        Offset(lat, lon, v * dt * std::cos(course * M_PI / 180), v * dt * std::sin(course * M_PI / 180), nlat, nlon);
        lat = nlat;
        lon = nlon;
        t += dt;
        Feed(lat, lon, t, v / CTrackManager::kMsPerKnot, course, false);
    }
    COverlayTrack& track = *Active();
    const std::vector<CTrackPoint> pts = track.AllPoints();
    ASSERT_GT(pts.size(), 1000u);
    double distance = 0, moving = 0, elapsed = pts.back().time - pts.front().time;
    for (size_t i = 1; i < pts.size(); ++i) {
        const double d = Geodesic(pts[i - 1], pts[i]), dt = pts[i].time - pts[i - 1].time;
        distance += d;
        if (d / dt > COverlayTrack::kMovingSpeed) moving += dt;
    }
    const CTrackStats st = track.StoredStats();
    EXPECT_NEAR(st.distance, distance, distance * 1e-4);
    EXPECT_NEAR(st.moving, moving, 1e-6);
    EXPECT_NEAR(track.getElapsedTime(), elapsed, 1e-6);
    EXPECT_NEAR(track.getStoppedTime(), elapsed - track.getMovingTime(), 1e-6);
    EXPECT_GT(track.getStoppedTime(), 0.1 * elapsed);
    // The running distance grows by the same steps as the stored one.
    EXPECT_NEAR(track.getTotalDistance(), st.distance, 1e-6 * distance);
    EXPECT_LE(st.maxSpeed, 4.0 * 1.001);
    EXPECT_GT(st.maxSpeed, 3.0);
}

TEST_F(TrackTest, AJumpOfTheFixDoesNotBecomeTheMaximumSpeed) {
    // 3 m/s steadily north, one fix 2 km off to the east, then back on course.
    for (int i = 0; i < 40; ++i) {
        double lat, lon;
        Offset(kLat, kLon, i * 30.0, i == 20 ? 2000.0 : 0.0, lat, lon);
        Feed(lat, lon, kT0 + i * 10.0, 3 / CTrackManager::kMsPerKnot);
    }
    COverlayTrack& t = *Active();
    ASSERT_EQ(t.getTotalPoints(), 40u);
    const CTrackStats st = t.StoredStats();
    EXPECT_NEAR(st.maxSpeed, 3.0, 0.05);
    // The jump does count for distance: it was sailed as far as the points tell.
    EXPECT_GT(st.distance, 39 * 30.0 + 3900);
}

TEST_F(TrackTest, CompactionKeepsTheShapeWithinItsTolerance) {
    // A meandering line sampled every 3 m with half a metre of noise.
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0, 0.5);
    std::vector<CTrackPoint> pts;
    for (int i = 0; i < 1500; ++i) {
        double lat, lon;
        const double n = i * 3.0;
        Offset(kLat, kLon, n, 40 * std::sin(n / 150.0) + noise(rng), lat, lon);
        pts.emplace_back(lat, lon, kT0 + i);
    }
    COverlayTrack t;
    t.SetPoints(pts);
    const CSimpleGrid grid = t.Grid();
    t.CompactData(2.0);
    const std::vector<CTrackPoint> kept = t.AllPoints();
    EXPECT_LT(kept.size(), pts.size() / 4);
    EXPECT_TRUE(kept.front().SamePlaceAndTime(pts.front()));
    EXPECT_TRUE(kept.back().SamePlaceAndTime(pts.back()));
    // Every original point lies within the tolerance of the compacted line.
    std::vector<std::pair<double, double>> line;
    for (const CTrackPoint& p : kept) {
        double x, y;
        grid.ToGrid(p.lat, p.lon, x, y);
        line.emplace_back(x, y);
    }
    double worst = 0;
    for (const CTrackPoint& p : pts) {
        double x, y, best = 1e18;
        grid.ToGrid(p.lat, p.lon, x, y);
        for (size_t i = 1; i < line.size(); ++i) {
            const double vx = line[i].first - line[i - 1].first, vy = line[i].second - line[i - 1].second;
            double u = ((x - line[i - 1].first) * vx + (y - line[i - 1].second) * vy) / (vx * vx + vy * vy);
            u = std::clamp(u, 0.0, 1.0);
            best = std::min(best, std::hypot(x - line[i - 1].first - u * vx, y - line[i - 1].second - u * vy));
        }
        worst = std::max(worst, best);
    }
    EXPECT_LE(worst, 2.0 + 1e-6);
    // Repacked into full sections that still share their ends.
    const auto& s = t.getSections();
    for (size_t i = 0; i + 1 < s.size(); ++i) EXPECT_EQ(s[i]->size(), CTrackSection::kMaxPoints);
    for (size_t i = 1; i < s.size(); ++i) EXPECT_TRUE(s[i]->Point(0).SamePlaceAndTime(s[i - 1]->Last()));
}

TEST_F(TrackTest, StartingStoppingResumingAndSimulations) {
    // A stop right after the start leaves no one-point track behind.
    Feed(kLat, kLon, kT0);
    manager->stopTrackRecording();
    EXPECT_TRUE(manager->GetTracks().empty());
    EXPECT_FALSE(CTrackManager::settings.doRecordTrack);

    manager->startTrackRecording();
    SailNorth(5, 30, 5, false);
    COverlayTrack* first = Active();
    manager->ResumeOrPauseRecording();  // pause
    EXPECT_FALSE(manager->IsRecording());
    double lat, lon;
    Offset(kLat, kLon, 1000, 0, lat, lon);
    Feed(lat, lon, kT0 + 100);  // not recorded, but remembered
    EXPECT_EQ(first->getTotalPoints(), 5u);
    manager->ResumeOrPauseRecording();  // the same track goes on from where the boat is
    EXPECT_EQ(Active(), first);
    EXPECT_EQ(first->getTotalPoints(), 6u);
    EXPECT_TRUE(first->isRecording());

    // A simulation records into tracks of its own, one per pass of the log.
    manager->StartSimulation();
    SailNorth(4, 30, 5, false, kT0 + 200);
    ASSERT_EQ(manager->GetTracks().size(), 2u);
    EXPECT_EQ(Active()->getName(), "Simulation");
    EXPECT_EQ(Active()->getTotalPoints(), 4u);
    manager->StartSimulation();  // the log starts again
    SailNorth(3, 30, 5, false, kT0 + 200);
    EXPECT_EQ(manager->GetTracks().size(), 3u);
    manager->EndSimulation();
    SailNorth(2, 30, 5, false, kT0 + 400, kLat + 0.1);
    ASSERT_EQ(manager->GetTracks().size(), 4u);
    EXPECT_EQ(Active()->getName(), "T2");

    // Deleting the track being recorded: the next position starts another.
    manager->DeleteTrack(Active());
    EXPECT_EQ(Active(), nullptr);
    SailNorth(2, 30, 5, false, kT0 + 600, kLat + 0.2);
    ASSERT_NE(Active(), nullptr);
    EXPECT_EQ(Active()->getTotalPoints(), 2u);
}

TEST_F(TrackTest, SplittingAtAPointAndJoiningAgainKeepsEveryPoint) {
    SailNorth(150, 20, 3, false);
    COverlayTrack* whole = Active();
    const std::vector<CTrackPoint> before = whole->AllPoints();
    // The closest point to a place beside the 100th point is the 100th point.
    double lat, lon;
    Offset(kLat, kLon, 99 * 20 + 4, 3, lat, lon);
    const CTrackSection* sec = nullptr;
    int index = -1;
    EXPECT_NEAR(whole->FindClosestPoint(lat, lon, sec, index), 5.0, 0.1);
    ASSERT_EQ(sec, whole->getSections()[1].get());
    ASSERT_EQ(index, 99 - 63);

    COverlayTrack* rest = manager->SplitTrack(whole, sec, index);
    ASSERT_NE(rest, nullptr);
    ASSERT_EQ(manager->GetTracks().size(), 2u);
    EXPECT_EQ(whole->getTotalPoints(), 100u);
    EXPECT_EQ(rest->getTotalPoints(), 51u);  // the cut point is in both
    EXPECT_TRUE(rest->FirstPoint()->SamePlaceAndTime(before[99]));
    EXPECT_TRUE(whole->LastPoint()->SamePlaceAndTime(before[99]));
    // The recording goes on in the second part, which is now the last track.
    EXPECT_EQ(Active(), rest);
    EXPECT_TRUE(rest->isRecording());
    // Nothing to cut at either end.
    EXPECT_EQ(manager->SplitTrack(rest, rest->getSections()[0].get(), 0), nullptr);
    EXPECT_EQ(manager->SplitTrack(whole, whole->getSections().back().get(), whole->getSections().back()->size() - 1),
              nullptr);

    whole->JoinTrack(*rest);
    EXPECT_EQ(rest->getTotalPoints(), 0u);
    const std::vector<CTrackPoint> after = whole->AllPoints();
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) EXPECT_TRUE(after[i].SamePlaceAndTime(before[i])) << i;
    CBounds b;
    ASSERT_TRUE(whole->getLonLatBounds(b));
    EXPECT_NEAR(b.ymax, before.back().lat, 1e-12);
}
