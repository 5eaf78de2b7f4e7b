// SPDX-License-Identifier: GPL-3.0-or-later
// GPX export: every object kind and style survives a round trip; what is written is
// valid GPX 1.1 with our extensions (xmllint) and reads back the same in gpsbabel; a
// failed export never touches the file that was there.

#include <QDir>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>

#include "core/apppaths.h"
#include "gpx_test_support.h"
#include "overlays/gpxoutput.h"
#include "overlays/xmlnode.h"

namespace {

// Every kind of object with every style the writers carry, and texts that need care.
void FillStore(CMarkManager& marks, CTrackManager& tracks) {
    COverlayMark* a = marks.CreateNewMark(nullptr, 50.1234567891, -1.9876543219);
    a->setName("Fish & <Chips>");
    a->setDescription("two\nlines ]]> and \"quotes\"");
    a->setLink("http://example.org/?a=1&b=\"2\"");
    a->SetIcon("Dot", GraphicsColor(0x12, 0x34, 0x56, 255));
    a->SetAlarm(50, 300);  // anchor
    a->setCategory("Harbours/South");
    COverlayMark* b = marks.CreateNewMark(nullptr, -33.5, 190.25);  // east of the date line
    b->setName("Proximity \x01 caf\xE9");
    b->SetIcon("Anchor", GraphicsColor(0, 0, 0, 0));
    b->SetAlarm(0, 100);
    COverlayMark* c = marks.CreateNewMark(nullptr, 0, 0);
    c->setName("No icon");
    c->SetIcon(CIconManager::kNone, GraphicsColor(0, 0, 0, 0));
    c->setDoNotSync(true);

    auto route = std::make_unique<COverlayRoute>();
    route->setName("Route & more");
    route->setDescription("desc");
    route->setCategory("Plans");
    route->SetLineStyle(GraphicsColor(10, 20, 30, 128), 3.5f, 3);
    route->AddWaypoint(50.0, -1.0)->setName("R1");
    route->AddWaypoint(50.1, -1.1)->SetIcon("Flag", GraphicsColor(200, 0, 0, 255));
    route->AddWaypoint(50.2, -1.0)->setLink("http://w");
    marks.AddRoute(std::move(route));

    auto track = std::make_unique<COverlayTrack>();
    track->setName("Track");
    track->setDescription("Out & back");
    track->setCategory("Trips");
    track->SetLineStyle(GraphicsColor(0xAA, 0xBB, 0xCC, 64), 4.0f, 2);
    for (int i = 0; i < 150; ++i)
        track->addPoint(CTrackPoint(49.0 + i * 1e-3, -2.0 + (i % 2) * 1e-3, 1750000000.0 + i * 7,
                                    i == 3 ? 0.0f : float(i) * 1.5f - 20.0f),
                        false);
    tracks.AddTrack(std::move(track));
}

bool Have(const char* program) {
    return !QStandardPaths::findExecutable(QString::fromLatin1(program)).isEmpty();
}

int RunProgram(const QString& program, const QStringList& args, QByteArray* output = nullptr) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) return -1;
    if (output) *output = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// The points of a GPX file in order: kind, latitude, longitude, name, time.
struct Point {
    std::string kind;
    double lat, lon;
    std::string name, time;
};
std::vector<Point> PointsOf(const std::string& path) {
    std::vector<Point> out;
    const auto root = CXMLnode::ParseFile(path);
    if (!root) return out;
    root->StartFindRecursive();
    for (const char* kind : {"wpt", "rtept", "trkpt"}) {
        root->StartFindRecursive();
        while (const CXMLnode* n = root->FindNextRecursive(kind)) {
            Point p{kind, n->FindAttributeDbl("lat", 999), n->FindAttributeDbl("lon", 999), {}, {}};
            n->FindChildGetContents("name", p.name);
            n->FindChildGetContents("time", p.time);
            out.push_back(p);
        }
    }
    return out;
}

}  // namespace

TEST_F(GpxTest, EveryObjectKindAndStyleComesBackFromItsExport) {
    FillStore(*marks, *tracks);
    const std::string path = Path("out.gpx");
    ASSERT_TRUE(ExportAllGPX(path));
    const auto& m0 = marks->Marks();
    std::vector<uint64_t> ids = {m0[0]->PeekObjectID(), m0[1]->PeekObjectID(), marks->Routes()[0]->PeekObjectID(),
                                 tracks->GetTracks()[0]->PeekObjectID()};
    const std::vector<CTrackPoint> points = tracks->GetTracks()[0]->AllPoints();
    const double created = m0[2]->getCreatedTime();

    // Into an empty store, as on another device.
    tracks.reset();
    marks.reset();
    tracks = std::make_unique<CTrackManager>();
    tracks->SetDirectory(Path("other"));
    marks = std::make_unique<CMarkManager>();
    marks->SetDirectory(Path("other"));
    COverlayImportResult r;
    ASSERT_TRUE(ImportOverlayFile(path, r)) << r.error;
    EXPECT_TRUE(r.error.empty()) << r.error;
    ASSERT_EQ(marks->Marks().size(), 3u);
    const COverlayMark& a = *marks->Marks()[0];
    EXPECT_EQ(a.PeekObjectID(), ids[0]);
    EXPECT_NEAR(a.getLat(), 50.1234567891, 1e-10);
    EXPECT_NEAR(a.getLon(), -1.9876543219, 1e-10);
    EXPECT_EQ(a.getName(), "Fish & <Chips>");
    EXPECT_EQ(a.getDescription(), "two\nlines ]]> and \"quotes\"");
    EXPECT_EQ(a.getLink(), "http://example.org/?a=1&b=\"2\"");
    EXPECT_EQ(a.getIcon(), "Dot");
    EXPECT_EQ(a.getColor(), GraphicsColor(0x12, 0x34, 0x56, 255));
    EXPECT_FLOAT_EQ(a.getInnerRadius(), 50);  // an anchor alarm comes back as 2 r + 1000
    EXPECT_FLOAT_EQ(a.getAlarmRadius(), 1100);
    EXPECT_EQ(a.getCategory(), "Harbours/South");
    const COverlayMark& b = *marks->Marks()[1];
    EXPECT_EQ(b.PeekObjectID(), ids[1]);
    EXPECT_NEAR(b.getLon(), -169.75, 1e-10);
    EXPECT_EQ(b.getName(), "Proximity  caf\xEF\xBF\xBD");
    EXPECT_EQ(b.getIcon(), "Anchor");
    EXPECT_FLOAT_EQ(b.getInnerRadius(), 0);
    EXPECT_FLOAT_EQ(b.getAlarmRadius(), 100);
    const COverlayMark& c = *marks->Marks()[2];
    EXPECT_EQ(c.PeekObjectID(), 0u);  // do-not-sync objects carry no id
    EXPECT_EQ(c.getIcon(), "Dot");    // no "sym" written, so the importer's default
    EXPECT_EQ(c.getCreatedTime(), std::floor(created));  // times travel in whole seconds

    ASSERT_EQ(marks->Routes().size(), 1u);
    const COverlayRoute& route = *marks->Routes()[0];
    EXPECT_EQ(route.PeekObjectID(), ids[2]);
    EXPECT_EQ(route.getName(), "Route & more");
    EXPECT_EQ(route.getDescription(), "desc");
    EXPECT_EQ(route.getCategory(), "Plans");
    EXPECT_EQ(route.getLineColor(), GraphicsColor(10, 20, 30, 128));
    EXPECT_FLOAT_EQ(route.getLineWidth(), 3.5f);
    EXPECT_EQ(route.getLinePattern(), 3);
    ASSERT_EQ(route.size(), 3u);
    EXPECT_EQ(route.Waypoint(0)->getName(), "R1");
    EXPECT_EQ(route.Waypoint(1)->getIcon(), "Flag");
    EXPECT_EQ(route.Waypoint(1)->getColor(), GraphicsColor(200, 0, 0, 255));
    EXPECT_EQ(route.Waypoint(2)->getLink(), "http://w");

    ASSERT_EQ(tracks->GetTracks().size(), 1u);
    const COverlayTrack& t = *tracks->GetTracks()[0];
    EXPECT_EQ(t.PeekObjectID(), ids[3]);
    EXPECT_EQ(t.getName(), "Track");
    EXPECT_EQ(t.getDescription(), "Out & back");
    EXPECT_EQ(t.getCategory(), "Trips");
    EXPECT_EQ(t.getLineColor(), GraphicsColor(0xAA, 0xBB, 0xCC, 64));
    EXPECT_FLOAT_EQ(t.getLineWidth(), 4.0f);
    EXPECT_EQ(t.getLineStyle(), 2);
    const std::vector<CTrackPoint> back = t.AllPoints();
    ASSERT_EQ(back.size(), points.size());
    for (size_t i = 0; i < back.size(); ++i) {
        EXPECT_NEAR(back[i].lat, points[i].lat, 1e-10);
        EXPECT_NEAR(back[i].lon, points[i].lon, 1e-10);
        EXPECT_EQ(back[i].time, points[i].time);
        if (points[i].HasAltitude())
            EXPECT_NEAR(back[i].altitude, points[i].altitude, 0.05);
        else
            EXPECT_FALSE(back[i].HasAltitude()) << i;
    }
}

TEST_F(GpxTest, WrittenFilesAreValidGpxAndReadBackTheSameInGpsbabel) {
    FillStore(*marks, *tracks);
    const std::string path = Path("out.gpx");
    ASSERT_TRUE(ExportAllGPX(path));
    // A single object, as the overlay list exports it, is a whole file too.
    ASSERT_TRUE(marks->Routes()[0]->WriteGPXFile(Path("route.gpx")));

    if (!Have("xmllint")) GTEST_SKIP() << "xmllint is not installed (scripts/setup.sh installs it)";
    const QString schema = QString::fromLatin1(NAVORA_TEST_DATA_DIR "/gpx/schema/navora_gpx.xsd");
    for (const std::string& file : {path, Path("route.gpx")}) {
        QByteArray out;
        EXPECT_EQ(RunProgram("xmllint", {"--noout", "--nonet", "--schema", schema, QString::fromStdString(file)}, &out), 0)
            << out.constData();
    }
    // The check itself catches a broken file: an element out of the schema's order.
    std::string bad = Read(path);
    const size_t sym = bad.find("<sym>Dot</sym>\n");
    bad.erase(sym, 15);
    bad.insert(bad.find("<name>", bad.rfind("<wpt", sym)), "<sym>Dot</sym>\n");
    EXPECT_NE(RunProgram("xmllint", {"--noout", "--nonet", "--schema", schema, QString::fromStdString(Write("bad.gpx", bad))}),
              0);

    if (!Have("gpsbabel")) GTEST_SKIP() << "gpsbabel is not installed (scripts/setup.sh installs it)";
    const std::string again = Path("gpsbabel.gpx");
    QByteArray out;
    ASSERT_EQ(RunProgram("gpsbabel", {"-i", "gpx", "-f", QString::fromStdString(path), "-o", "gpx", "-F",
                               QString::fromStdString(again)},
                  &out),
              0)
        << out.constData();
    const std::vector<Point> ours = PointsOf(path), theirs = PointsOf(again);
    ASSERT_EQ(ours.size(), 3u + 3u + 150u);
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(theirs[i].kind, ours[i].kind) << i;
        EXPECT_NEAR(theirs[i].lat, ours[i].lat, 1e-8) << i;
        EXPECT_NEAR(theirs[i].lon, ours[i].lon, 1e-8) << i;
        EXPECT_EQ(theirs[i].name, ours[i].name) << i;
        EXPECT_EQ(parse_time(theirs[i].time), parse_time(ours[i].time)) << i;
    }
}

TEST_F(GpxTest, ExportWritesKindsInGpxOrderAndNeverHarmsTheFileThere) {
    FillStore(*marks, *tracks);
    COverlayRoute* route = marks->Routes()[0].get();
    COverlayTrack* track = tracks->GetTracks()[0].get();
    COverlayMark* gone = marks->Marks()[2].get();
    marks->DeleteMark(gone);
    // A selection in list order: track section, route, waypoint, deleted mark, mark.
    std::vector<const CSyncable*> selection = {ExportableObjectOf(track->getSections()[1].get()), route,
                                               ExportableObjectOf(route->Waypoint(0)), gone,
                                               ExportableObjectOf(marks->Marks()[0].get())};
    const std::string path = Path("sel.gpx");
    ASSERT_TRUE(ExportGPX(path, selection));
    const std::string text = Read(path);
    const size_t wpt = text.find("<wpt"), rte = text.find("<rte>"), trk = text.find("<trk>");
    EXPECT_LT(wpt, rte);
    EXPECT_LT(rte, trk);
    EXPECT_EQ(text.find("No icon"), std::string::npos);
    EXPECT_NE(text.find("<name>R1</name>\n<sym>Waypoint</sym>"), std::string::npos);  // the waypoint alone
    EXPECT_EQ(text.find("<trk>", trk + 1), std::string::npos);
    EXPECT_FALSE(FileExists(path + ".tmp"));

    // A file the export cannot finish is left as it was, and the reason given.
    const std::string before = Read(path);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(path + ".tmp")));
    std::string error;
    EXPECT_FALSE(ExportGPX(path, selection, &error));
    EXPECT_EQ(error.rfind("The file cannot be created: " + path, 0), 0u) << error;
    EXPECT_EQ(Read(path), before);
    EXPECT_FALSE(ExportAllGPX(Path("no/such/dir/x.gpx"), &error));
}
