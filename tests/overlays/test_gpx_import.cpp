// SPDX-License-Identifier: GPL-3.0-or-later
// GPX import: re-import by identity, route points beside stand-alone marks, the fields
// of waypoints, routes and tracks, files from other programs, hostile files, progress.

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/apppaths.h"
#include "gpx_test_support.h"
#include "overlays/gpxoutput.h"
#include "overlays/xmlnode.h"

namespace {

COverlayRoute* AddRoute(CMarkManager& m, const char* name, std::vector<std::pair<double, double>> pts) {
    auto r = std::make_unique<COverlayRoute>();
    r->setName(name);
    for (auto [lat, lon] : pts) r->AddWaypoint(lat, lon);
    return m.AddRoute(std::move(r));
}

COverlayTrack* AddTrack(CTrackManager& t, const char* name, int n, double lat0) {
    auto track = std::make_unique<COverlayTrack>();
    track->setName(name);
    for (int i = 0; i < n; ++i)
        track->addPoint(CTrackPoint(lat0 + i * 0.001, 1.0 + (i % 2) * 0.0005, 1750000000.0 + i * 10, 5.0f + i), false);
    return t.AddTrack(std::move(track));
}

}  // namespace

TEST_F(GpxTest, ReimportingAnExportUpdatesTheSameObjectsAndBringsDeletedOnesBack) {
    COverlayMark* buoy = marks->CreateNewMark(nullptr, 50.10, -1.20);
    buoy->setName("Buoy");
    buoy->SetAlarm(0, 80);
    // The route passes the buoy: its waypoint has the buoy's name and place.
    COverlayRoute* route = AddRoute(*marks, "Out", {{50.00, -1.30}, {50.10, -1.20}, {50.20, -1.10}});
    route->Waypoint(1)->setName("Buoy");
    COverlayTrack* track = AddTrack(*tracks, "Trip", 100, 50.0);
    const auto trackPoints = track->AllPoints();
    const std::string path = Path("all.gpx");
    ASSERT_TRUE(ExportAllGPX(path));

    // The user edits and deletes, is navigating along the route, then re-imports.
    buoy->setName("Edited");
    buoy->SetPosition(10, 10);
    marks->DeleteMark(buoy);
    tracks->DeleteTrack(track);
    route->DeleteWaypoint(route->Waypoint(0));
    marks->SetFollowRoute(route);
    marks->SetGoto(route->Waypoint(1));
    COverlayImportResult r;
    ASSERT_TRUE(ImportOverlayFile(path, r)) << r.error;
    EXPECT_EQ(r.updated, 3);
    EXPECT_EQ(r.Summary(), "Imported 1 mark, 1 route and 1 track. They were already here and were updated.");

    ASSERT_EQ(marks->Marks().size(), 1u);
    ASSERT_EQ(marks->Routes().size(), 1u);
    ASSERT_EQ(tracks->GetTracks().size(), 1u);
    EXPECT_EQ(marks->Marks()[0].get(), buoy);
    EXPECT_FALSE(buoy->isDeleted());
    EXPECT_TRUE(buoy->isVisible());
    EXPECT_EQ(buoy->getName(), "Buoy");
    EXPECT_DOUBLE_EQ(buoy->getLat(), 50.10);
    EXPECT_FLOAT_EQ(buoy->getAlarmRadius(), 80);
    EXPECT_FALSE(buoy->isWaypoint());
    EXPECT_EQ(marks->Routes()[0].get(), route);
    ASSERT_EQ(route->size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(route->Waypoint(i)->getRoute(), route);
        EXPECT_EQ(route->Waypoint(i)->ObjectType(), COverlayObject::OBJECT_WAYPOINT);
    }
    // The waypoint navigated to went with the old points; nothing points at it.
    EXPECT_EQ(marks->Target(), nullptr);
    EXPECT_EQ(tracks->GetTracks()[0].get(), track);
    EXPECT_FALSE(track->isDeleted());
    EXPECT_EQ(track->getTotalPoints(), trackPoints.size());

    // The file edited by another program: names and places change, nothing is doubled.
    std::string text = Read(path);
    text.replace(text.find("<name>Buoy</name>"), 17, "<name>Renamed</name>");
    Write("all.gpx", text);
    ASSERT_TRUE(ImportGPXFile(path));
    EXPECT_EQ(marks->Marks().size(), 1u);
    EXPECT_EQ(buoy->getName(), "Renamed");
    EXPECT_EQ(route->Waypoint(1)->getName(), "Buoy");
    EXPECT_EQ(marks->Routes().size(), 1u);
    EXPECT_EQ(tracks->GetTracks().size(), 1u);
    // A deleted route comes back too.
    marks->DeleteRoute(route);
    ASSERT_TRUE(ImportGPXFile(path));
    EXPECT_FALSE(route->isDeleted());
    EXPECT_TRUE(route->isVisible());

    // What was re-imported is stored.
    marks.reset();
    marks = std::make_unique<CMarkManager>();
    marks->SetDirectory(Dir());
    marks->LoadFromFile();
    ASSERT_EQ(marks->Marks().size(), 1u);
    EXPECT_EQ(marks->Marks()[0]->getName(), "Renamed");
}

TEST_F(GpxTest, ARoutePointThatIsAlsoAMarkStaysTwoObjects) {
    // Some programs copy the waypoint's identity into the route point.
    const std::string gpx = Gpx(
        "<wpt lat=\"50.1\" lon=\"-1.2\"><name>Buoy A</name><src>nvid:1F</src><sym>Buoy_can</sym></wpt>\n"
        "<rte><name>Past A</name><src>nvid:2A</src>"
        "<rtept lat=\"50.0\" lon=\"-1.3\"><name>Start</name></rtept>"
        "<rtept lat=\"50.1\" lon=\"-1.2\"><name>Buoy A</name><src>nvid:1F</src><sym>Buoy_can</sym></rtept></rte>\n");
    marks->DefaultMark().SetAlarm(0, 500);  // route points take the waypoint template instead
    for (int round = 0; round < 2; ++round) {
        const COverlayImportResult r = ImportText(gpx);
        EXPECT_EQ(r.marks, 1);
        EXPECT_EQ(r.routes, 1);
        EXPECT_EQ(r.route_points, 2);
        EXPECT_EQ(r.updated, round == 0 ? 0 : 2);
    }
    ASSERT_EQ(marks->Marks().size(), 1u);
    ASSERT_EQ(marks->Routes().size(), 1u);
    COverlayMark* mark = marks->Marks()[0].get();
    COverlayRoute* route = marks->Routes()[0].get();
    EXPECT_EQ(mark->PeekObjectID(), 0x1Fu);
    EXPECT_EQ(route->PeekObjectID(), 0x2Au);
    EXPECT_FALSE(mark->isWaypoint());
    EXPECT_NE(route->Waypoint(1), mark);
    EXPECT_EQ(route->Waypoint(1)->getIcon(), "Buoy_can");
    EXPECT_EQ(route->Waypoint(0)->getIcon(), CIconManager::kNone);  // a route point without "sym"
    EXPECT_FALSE(route->Waypoint(1)->hasAlarm());
    EXPECT_EQ(route->Waypoint(1)->getColor(), marks->WaypointTemplate().getColor());
    marks->DeleteMark(mark);
    EXPECT_EQ(route->size(), 2u);
    EXPECT_EQ(route->Waypoint(1)->getName(), "Buoy A");
}

TEST_F(GpxTest, WaypointRouteAndTrackFieldsReadAsDefined) {
    marks->DefaultMark().setCategory("Imported %yyyy%");
    const std::string gpx = Gpx(
        "<wpt lat=\"1\" lon=\"2\"><time>2004-09-23T09:15:00Z</time><name>Same</name><desc>Quay</desc><cmt>Quay</cmt>"
        "<url>http://a.example/?x=1&amp;y=2</url><sym>first aid</sym>"
        "<extensions><xstyle:fill xmlns:xstyle=\"s\"><xstyle:color>FF8000</xstyle:color></xstyle:fill>"
        "<gpxx:WaypointExtension xmlns:gpxx=\"g\"><gpxx:Proximity>50</gpxx:Proximity></gpxx:WaypointExtension>"
        "</extensions></wpt>\n"
        "<wpt lat=\"3\" lon=\"4\"><name>Both</name><desc>Steps</desc><cmt>Slippery</cmt><link href=\"http://l\"/>"
        "<type>Harbours</type><extensions><WaypointExtension><Proximity>-50</Proximity></WaypointExtension>"
        "</extensions></wpt>\n"
        "<wpt lat=\"5\" lon=\"6\"><desc>Old note Source: nvid:ABC</desc></wpt>\n"
        "<rte><number>7</number><rtept lat=\"1\" lon=\"2\"/><rtept lat=\"1.1\" lon=\"2\"/></rte>\n"
        "<trk><number>3</number><extensions><line><color>102030</color><opacity>0.5</opacity><width>3.5</width>"
        "<pattern>dashdot</pattern></line></extensions>"
        "<trkseg><trkpt lat=\"1\" lon=\"2\"><ele>12.5</ele><time>2020-01-01T00:00:00Z</time></trkpt></trkseg>"
        "<trkseg><trkpt lat=\"1.1\" lon=\"2.1\"><time>2020-01-01T00:01:00Z</time></trkpt>"
        "<trkpt lat=\"nan\" lon=\"2\"/><trkpt lat=\"1.2\" lon=\"2.0\"/></trkseg></trk>\n");
    COverlayImportResult r = ImportText(gpx);
    ASSERT_EQ(marks->Marks().size(), 3u);
    const COverlayMark& a = *marks->Marks()[0];
    EXPECT_EQ(a.getDescription(), "Quay");  // "cmt" saying the same is not repeated
    EXPECT_EQ(a.getLink(), "http://a.example/?x=1&y=2");
    EXPECT_EQ(a.getIcon(), "First_aid");
    EXPECT_EQ(a.getColor(), GraphicsColor(255, 128, 0, 255));
    EXPECT_FLOAT_EQ(a.getInnerRadius(), 0);
    EXPECT_FLOAT_EQ(a.getAlarmRadius(), 50);
    EXPECT_EQ(a.getCreatedTime(), 1095930900);
    EXPECT_EQ(a.getCategory(), "Imported 2004");  // the default, dated by the mark
    const COverlayMark& b = *marks->Marks()[1];
    EXPECT_EQ(b.getDescription(), "Steps Slippery");
    EXPECT_EQ(b.getLink(), "http://l");
    EXPECT_EQ(b.getCategory(), "Harbours");
    EXPECT_EQ(b.getIcon(), "Dot");  // no "sym": the default mark's icon
    EXPECT_FLOAT_EQ(b.getInnerRadius(), 50);  // an anchor alarm
    EXPECT_FLOAT_EQ(b.getAlarmRadius(), 1100);
    EXPECT_EQ(marks->Marks()[2]->getDescription(), "Old note");
    EXPECT_EQ(marks->Marks()[2]->PeekObjectID(), 0xABCu);  // the id from "desc"
    ASSERT_EQ(marks->Routes().size(), 1u);
    EXPECT_EQ(marks->Routes()[0]->getName(), "Route #7");
    ASSERT_EQ(tracks->GetTracks().size(), 1u);
    const COverlayTrack& t = *tracks->GetTracks()[0];
    EXPECT_EQ(t.getName(), "Track #3");
    EXPECT_EQ(t.getLineColor(), GraphicsColor(0x10, 0x20, 0x30, 128));
    EXPECT_FLOAT_EQ(t.getLineWidth(), 3.5f);
    EXPECT_EQ(t.getLineStyle(), 3);
    ASSERT_EQ(t.getTotalPoints(), 3u);  // both segments, the point without a place left out
    EXPECT_FLOAT_EQ(t.FirstPoint()->altitude, 12.5f);
    EXPECT_EQ(t.FirstPoint()->time, 1577836800);
    EXPECT_EQ(t.getCreatedTime(), 1577836800);
    EXPECT_EQ(r.track_points, 3);

    // Everything from a file can be put into one category.
    tracks->ClearAll();
    marks->ClearAll();
    ASSERT_TRUE(ImportGPXFileIntoCategory(Write("cat.gpx", gpx), "From Bob"));
    EXPECT_EQ(marks->Marks()[1]->getCategory(), "From Bob");
    EXPECT_EQ(marks->Routes()[0]->getCategory(), "From Bob");
    EXPECT_EQ(tracks->GetTracks()[0]->getCategory(), "From Bob");
    EXPECT_EQ(CImportCategoryOverride::Current(), nullptr);
}

TEST_F(GpxTest, FilesFromOtherProgramsImportWithTheRightCounts) {
    struct Expect {
        const char* file;
        int marks, routes, routePoints, tracks, trackPoints;
    };
    for (const Expect& e : {Expect{"planner_route.gpx", 3, 1, 5, 0, 0}, Expect{"handheld_tracklog.gpx", 2, 0, 0, 1, 104},
                            Expect{"gpx10_mixed.gpx", 3, 1, 3, 1, 6}, Expect{"phone_track.gpx", 0, 0, 0, 1, 4}}) {
        marks->ClearAll();
        tracks->ClearAll();
        COverlayImportResult r;
        ASSERT_TRUE(ImportOverlayFile(Data(e.file), r)) << e.file << ": " << r.error;
        EXPECT_EQ(r.marks, e.marks) << e.file;
        EXPECT_EQ(r.routes, e.routes) << e.file;
        EXPECT_EQ(r.route_points, e.routePoints) << e.file;
        EXPECT_EQ(r.tracks, e.tracks) << e.file;
        EXPECT_EQ(r.track_points, e.trackPoints) << e.file;
        EXPECT_TRUE(r.error.empty()) << e.file << ": " << r.error;
        EXPECT_TRUE(r.bounds.IsValid()) << e.file;

        if (std::string(e.file) == "planner_route.gpx") {
            const COverlayRoute& route = *marks->Routes()[0];
            EXPECT_EQ(route.getName(), "Solent to Cherbourg");
            EXPECT_EQ(route.getDescription(), "Leave on the ebb <HW Dover +5>; watch for ferries & the race");
            EXPECT_EQ(route.Waypoint(4)->getName(), "Cherbourg \xE2\x80\x93 Grande Rade");
            EXPECT_EQ(marks->Marks()[0]->getDescription(), "Visitors' pontoon & fuel");
            EXPECT_EQ(marks->Marks()[1]->getIcon(), "Buoy_white");
            EXPECT_NEAR(r.bounds.ymin, 49.6505, 1e-9);
            EXPECT_NEAR(r.bounds.xmax, -1.2985, 1e-9);
        } else if (std::string(e.file) == "handheld_tracklog.gpx") {
            const COverlayTrack& t = *tracks->GetTracks()[0];
            EXPECT_EQ(t.getName(), "ACTIVE LOG: 10 MAY 2025 09:05");
            EXPECT_EQ(t.FirstPoint()->time, parse_time("2025-05-10T09:05:17Z"));
            EXPECT_EQ(t.LastPoint()->time, parse_time("2025-05-10T11:34:45Z"));  // after two pauses
            EXPECT_NEAR(t.FirstPoint()->altitude, 347.5, 1e-4);
            EXPECT_FLOAT_EQ(marks->Marks()[0]->getAlarmRadius(), 50);
            EXPECT_EQ(marks->Marks()[1]->getIcon(), "Parking_area");
        } else if (std::string(e.file) == "gpx10_mixed.gpx") {
            EXPECT_EQ(marks->Marks()[0]->getDescription(), "Hauptbahnhof Z\xC3\xBCrich");
            EXPECT_EQ(marks->Marks()[0]->getLink(), "http://www.example.org/stations?id=8503000&lang=de");
            EXPECT_EQ(marks->Marks()[1]->getDescription(), "B\xC3\xBCrkliplatz Bellevue");
            EXPECT_EQ(marks->Routes()[0]->getName(), "Route #7");
            EXPECT_EQ(tracks->GetTracks()[0]->getName(), "Track #3");
            EXPECT_FLOAT_EQ(tracks->GetTracks()[0]->LastPoint()->altitude, 406.0f);
        } else {
            const COverlayTrack& t = *tracks->GetTracks()[0];
            EXPECT_EQ(t.getName(), "T1");  // no name, no number: named like a recorded track
            EXPECT_EQ(t.getCategory(), "running");
            EXPECT_EQ(t.FirstPoint()->time, parse_time("2025-03-09T06:30:00Z"));
            EXPECT_EQ(t.getLineColor(), GraphicsColor(0x1E, 0x90, 0xFF, 191));
            EXPECT_EQ(t.getLineStyle(), 1);
        }
    }
}

TEST_F(GpxTest, HostileFilesAreRefusedClearlyOrImportedAsFarAsTheyAreSound) {
    // A 2 GB file is refused by its size, without reading it.
    const std::string huge = Path("huge.gpx");
    {
        const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 2LL << 30), 0);
        ::close(fd);
    }
    QElapsedTimer clock;
    clock.start();
    COverlayImportResult r;
    EXPECT_FALSE(ImportOverlayFile(huge, r));
    EXPECT_EQ(r.error, "The file is too large to import (2048.0 MB); Navora imports files of up to 256 MB.");
    EXPECT_LT(clock.elapsed(), 2000);

    r = {};
    EXPECT_FALSE(ImportOverlayFile(Dir(), r));
    EXPECT_EQ(r.error, "This is not a file that can be imported.");
    r = {};
    EXPECT_FALSE(ImportOverlayFile(Path("missing.gpx"), r));
    EXPECT_EQ(r.error, "The file cannot be opened: No such file or directory.");

    std::mt19937 rng(7);
    std::string garbage(1 << 20, '\0');
    for (char& c : garbage) c = char(rng());
    r = ImportText(garbage);
    EXPECT_EQ(r.Objects(), 0);
    EXPECT_NE(r.error.find("This is not a GPX file: it has no \"gpx\" element."), std::string::npos) << r.error;
    r = ImportText(std::string(4 << 20, '<'));
    EXPECT_EQ(r.Objects(), 0);
    r = ImportText(Gpx(""));
    EXPECT_EQ(r.error, "The file holds no marks, routes or tracks.");

    const std::string good = "<gpx><wpt lat=\"1\" lon=\"2\"><name>Good</name></wpt>";
    struct Case {
        std::string text;
        int marks;
        const char* message;
    };
    std::string deep;
    for (int i = 0; i < 200000; ++i) deep += "<extensions>";
    const Case cases[] = {
        {good + "<wpt lat=\"3\" lon=\"4\"><name>" + std::string(20 << 20, 'x') + "</name></wpt></gpx>", 2, ""},
        {good + "<wpt lat=\"3\" lon=\"4\" junk=\"" + std::string(20 << 20, 'y') + "\"/></gpx>", 2, ""},
        {good + "<wpt lat=\"3\" lon", 1, "The file ends in the middle of an element; it may be cut short."},
        {good + "<wpt lat=\"3\" lon=\"4\"><desc><![CDATA[no end", 2,
         "The file ends in the middle of an element; it may be cut short."},
        {good + "<wpt lat=\"3\" lon=\"4\">" + deep, 2,
         "The file nests its elements more than 256 deep; only the part before that was read."},
        {good + "<wpt lat=\"95\" lon=\"4\"/><wpt lat=\"x\" lon=\"4\"/><trk><trkseg/></trk></gpx>", 1,
         "3 elements were left out: they had no usable position or points."},
    };
    for (const Case& c : cases) {
        marks->ClearAll();
        r = ImportText(c.text);
        EXPECT_EQ(r.marks, c.marks) << c.text.substr(0, 80);
        EXPECT_EQ(r.error, c.message) << c.text.substr(0, 80);
        ASSERT_FALSE(marks->Marks().empty());
        EXPECT_EQ(marks->Marks()[0]->getName(), "Good");
    }
}

TEST_F(GpxTest, LargeFilesImportBehindAProgressDialogThatCanCancel) {
    std::string body = "<trk><name>Long</name><trkseg>\n";
    for (int i = 0; i < 60000; ++i)
        body += "<trkpt lat=\"" + std::to_string(50 + i * 1e-4) + "\" lon=\"" + std::to_string((i % 2) * 1e-3) +
                "\"><ele>1.0</ele><time>2024-01-01T00:00:00Z</time></trkpt>\n";
    body += "</trkseg></trk>\n";
    const std::string path = Write("long.gpx", Gpx(body));
    ASSERT_GE(FileSize(path), kImportProgressBytes);

    auto cancelled = std::make_shared<CProgressDialogData>();
    cancelled->Cancel();
    COverlayImportResult r;
    EXPECT_FALSE(ImportOverlayFile(path, r, cancelled.get()));
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(tracks->GetTracks().empty());

    bool done = false;
    ImportOverlayFileInBackground(NV_HWND(), path, [&](const COverlayImportResult& res) {
        done = true;
        r = res;
    });
    ASSERT_EQ(ui.progress.size(), 1u);
    EXPECT_EQ(ui.progress[0]->Title(), "Importing long.gpx");
    QElapsedTimer clock;
    clock.start();
    while (!done && clock.elapsed() < 30000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    ASSERT_TRUE(done);
    EXPECT_TRUE(ui.progress[0]->IsDone());
    EXPECT_DOUBLE_EQ(ui.progress[0]->Progress(), 1.0);
    EXPECT_EQ(r.tracks, 1);
    EXPECT_EQ(r.track_points, 60000);
    ASSERT_EQ(tracks->GetTracks().size(), 1u);
}
