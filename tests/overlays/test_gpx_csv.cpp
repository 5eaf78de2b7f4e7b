// SPDX-License-Identifier: GPL-3.0-or-later
// Legacy CSV overlay files: the waypoint columns, the icon table and icon records, the
// alarm radius rule, tracks and routes with their point lines, and broken records.

#include "gpx_test_support.h"
#include "overlays/csvimport.h"

TEST(GpxCsv, FieldsSplitAtCommasOutsideQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(break_string_csv("WP1,50.5,-1"), (V{"WP1", "50.5", "-1"}));
    EXPECT_EQ(break_string_csv("a,\"b, c\",,\"say \"\"hi\"\"\","), (V{"a", "b, c", "", "say \"hi\"", ""}));
    EXPECT_EQ(break_string_csv("\"never closed,x"), (V{"never closed,x"}));
    EXPECT_EQ(break_string_csv(""), (V{""}));
}

TEST_F(GpxTest, LegacyCsvFileImportsItsColumnsIconsAndAlarms) {
    COverlayImportResult r;
    ASSERT_TRUE(ImportOverlayFile(Data("legacy_overlays.csv"), r)) << r.error;
    EXPECT_EQ(r.marks, 7);
    EXPECT_EQ(r.routes, 1);
    EXPECT_EQ(r.route_points, 3);
    EXPECT_EQ(r.tracks, 1);
    EXPECT_EQ(r.track_points, 4);
    EXPECT_EQ(r.error, "2 records were left out: they had no usable position or too few points.");
    EXPECT_NEAR(r.bounds.ymax, 50.17, 1e-9);

    const auto& m = marks->Marks();
    ASSERT_EQ(m.size(), 7u);
    const COverlayMark& helford = *m[0];
    EXPECT_EQ(helford.getName(), "Helford anchorage");
    EXPECT_DOUBLE_EQ(helford.getLat(), 50.1);
    EXPECT_DOUBLE_EQ(helford.getLon(), -5.05);
    EXPECT_EQ(helford.getIcon(), "Anchor");  // icon 6
    EXPECT_EQ(helford.getDescription(), "Good holding in sand, 4m");
    EXPECT_EQ(helford.getCategory(), "Anchorages");
    EXPECT_FLOAT_EQ(helford.getInnerRadius(), 30);  // kind 3: an anchor alarm, 1000 + 10 r
    EXPECT_FLOAT_EQ(helford.getAlarmRadius(), 1300);
    const COverlayMark& rock = *m[1];
    EXPECT_EQ(rock.getName(), "Black Rock, east side");
    EXPECT_EQ(rock.getIcon(), "Buoy_conical");  // icon 21
    EXPECT_EQ(rock.getDescription(), "Keep clear");
    EXPECT_EQ(rock.getLink(), "http://example.org/rock?a=1&b=2");
    EXPECT_FLOAT_EQ(rock.getInnerRadius(), 0);  // kind 2: proximity
    EXPECT_FLOAT_EQ(rock.getAlarmRadius(), 100);
    EXPECT_TRUE(rock.isLocked());
    EXPECT_TRUE(rock.isVisibleFlag());
    const COverlayMark& pots = *m[2];
    EXPECT_EQ(pots.getIcon(), "Lobster_pot");  // icon 32, named by an icon record
    EXPECT_EQ(pots.getDescription(), "Caf\xC3\xA9 pots");  // written in Windows-1252
    EXPECT_FALSE(pots.isVisibleFlag());
    EXPECT_FALSE(pots.hasAlarm());  // kind 0
    EXPECT_EQ(pots.getColor(), GraphicsColor(255, 0, 0, 255));  // the colour record after it
    EXPECT_EQ(m[3]->getName(), "");  // only the place given: everything else as the default mark
    EXPECT_EQ(m[3]->getIcon(), "Dot");
    EXPECT_EQ(m[4]->getIcon(), "Notes");
    EXPECT_EQ(m[4]->getDescription(), "Fuel berth closes at 18:00");
    EXPECT_EQ(m[5]->getName(), "Later point");
    EXPECT_EQ(m[6]->getName(), "After broken route");  // read after the route that stopped early

    ASSERT_EQ(marks->Routes().size(), 1u);
    const COverlayRoute& route = *marks->Routes()[0];
    EXPECT_EQ(route.getName(), "Round the rock");
    ASSERT_EQ(route.size(), 3u);
    EXPECT_EQ(route.Waypoint(1)->getName(), "Black Rock, east side");
    EXPECT_EQ(route.Waypoint(1)->getAlarmRadius(), 100);
    EXPECT_EQ(route.Waypoint(2)->getName(), "Later point");  // named before its record
    EXPECT_TRUE(route.Waypoint(2)->isWaypoint());

    ASSERT_EQ(tracks->GetTracks().size(), 1u);
    const COverlayTrack& t = *tracks->GetTracks()[0];
    EXPECT_EQ(t.getName(), "Sunday sail");
    EXPECT_EQ(t.getCategory(), "Trips");
    EXPECT_EQ(t.getLineColor(), GraphicsColor(0, 0, 255, 255));
    const auto pts = t.AllPoints();
    ASSERT_EQ(pts.size(), 4u);
    EXPECT_EQ(pts[0].time, 1720000000);
    EXPECT_FALSE(pts[0].HasAltitude());
    EXPECT_FLOAT_EQ(pts[1].altitude, 2.5f);
    EXPECT_EQ(pts[3].time, 1720000180);
}

TEST_F(GpxTest, CsvRecordsThatCannotStandAreLeftOut) {
    const std::string csv =
        "WP1,90,0,0,On the pole\n"          // latitude must be strictly inside
        "WP2,10,-370,0,Too far west\n"
        "WPx,10,10,0,No number\n"
        "WP3,10,369.5,99,Unknown icon,%zz+text\n"
        "TK,Short,,1,0,1\nTP,1,1\n"           // fewer than two points declared
        "TK,Big,,1,0,1000000\n"
        "TK,Cut,,1,0,5\nTP,1,1\nTP,1.1,1.1\nTP,bad,1\nTP,1.2\nWP4,11,11,1,After\n"
        "RT,Few fields,,1,0\nRP,WP3\nRP,WP4\n"
        "TP,5,5\n";
    COverlayImportResult r;
    ASSERT_TRUE(ImportOverlayFile(Write("edge.csv", csv), r)) << r.error;
    ASSERT_EQ(marks->Marks().size(), 2u);
    EXPECT_DOUBLE_EQ(marks->Marks()[0]->getLon(), 369.5);
    EXPECT_EQ(marks->Marks()[0]->getIcon(), "Dot");  // no such icon number: the default
    EXPECT_EQ(marks->Marks()[0]->getDescription(), "%zz text");
    EXPECT_EQ(marks->Marks()[1]->getName(), "After");
    EXPECT_TRUE(marks->Routes().empty());
    // The cut track keeps the two good points before the line that is not a point.
    ASSERT_EQ(tracks->GetTracks().size(), 1u);
    EXPECT_EQ(tracks->GetTracks()[0]->getName(), "Cut");
    EXPECT_EQ(tracks->GetTracks()[0]->getTotalPoints(), 2u);
    EXPECT_EQ(r.error, "6 records were left out: they had no usable position or too few points.");
}
