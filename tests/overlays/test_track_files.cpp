// SPDX-License-Identifier: GPL-3.0-or-later
// tracks.nvtf and its journal: round trips, damaged files, and recording across a crash.

#include <QFile>

#include <cstring>

#include "core/apppaths.h"
#include "test_track_support.h"

namespace {

QByteArray ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const std::string& path, const QByteArray& bytes) {
    QFile f(QString::fromStdString(path));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

bool SamePoints(const std::vector<CTrackPoint>& a, const std::vector<CTrackPoint>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(CTrackPoint)) == 0;
}

}  // namespace

TEST_F(TrackTest, TracksSurviveASaveAndALoadWhole) {
    SailNorth(150, 20, 3, false);
    COverlayTrack* a = Active();
    a->SetLineStyle(GraphicsColor(10, 200, 30, 128), 4.5f, 3);
    a->setDescription("Round the island");
    a->setCategory("Trips/2026");
    a->setLocked(true);
    manager->stopTrackRecording();  // saves
    manager->startTrackRecording();
    SailNorth(10, 20, 3, false, kT0 + 1000, kLat + 0.1);
    COverlayTrack* doomed = Active();
    const uint64_t doomedId = doomed->GetObjectID();
    manager->DeleteTrack(doomed);
    const std::vector<CTrackPoint> points = a->AllPoints();
    const uint64_t id = a->GetObjectID();
    manager->DefaultTrack().SetLineStyle(GraphicsColor(1, 2, 3), 3.0f, 1);

    Restart(true);
    ASSERT_EQ(manager->GetTracks().size(), 2u);
    COverlayTrack& b = *manager->GetTracks()[0];
    EXPECT_EQ(b.getName(), "T1");
    EXPECT_EQ(b.getDescription(), "Round the island");
    EXPECT_EQ(b.getCategory(), "Trips/2026");
    EXPECT_EQ(b.GetObjectID(), id);
    EXPECT_TRUE(b.isLocked());
    EXPECT_EQ(b.getLineColor(), GraphicsColor(10, 200, 30, 128));
    EXPECT_FLOAT_EQ(b.getLineWidth(), 4.5f);
    EXPECT_EQ(b.getLineStyle(), 3);
    EXPECT_EQ(b.getSectionCount(), 3u);
    EXPECT_TRUE(SamePoints(b.AllPoints(), points));
    EXPECT_EQ(b.getCreatedTime(), kT0);  // the first point's time
    // The deleted track stays as a tombstone for the online account, hidden.
    const COverlayTrack& t = *manager->GetTracks()[1];
    EXPECT_TRUE(t.isDeleted());
    EXPECT_EQ(t.PeekObjectID(), doomedId);
    EXPECT_FALSE(t.getSections()[0]->isVisible());
    EXPECT_EQ(manager->DefaultTrack().getLineColor(), GraphicsColor(1, 2, 3));
    EXPECT_EQ(manager->DefaultTrack().getName(), "T#");
    EXPECT_FALSE(manager->IsChanged());
}

TEST_F(TrackTest, ASectionOfMoreThan64PointsIsSkippedAndADamagedFileKept) {
    SailNorth(130, 20, 3, false);
    ASSERT_TRUE(manager->SaveIfNeeded());
    const std::string path = manager->FilePath();
    QByteArray bytes = ReadAll(path);
    // The second section's count (64, then the element size 32) made 65.
    const QByteArray full("\x40\0\0\0\x20\0\0\0", 8);
    const int second = bytes.indexOf(full, bytes.indexOf(full) + 1);
    ASSERT_GT(second, 0);
    bytes[second] = 65;
    WriteAll(path, bytes);
    Restart(false);
    ASSERT_EQ(manager->GetTracks().size(), 1u);
    EXPECT_EQ(manager->GetTracks()[0]->getSectionCount(), 2u);
    EXPECT_FALSE(manager->HasDamagedFile());
    EXPECT_TRUE(ui.messages.empty());

    // A file cut short: what can be read is shown, the user is told, and the file stays
    // as it is until the user lets it go.
    const QByteArray cut = bytes.left(bytes.size() * 2 / 3);
    WriteAll(path, cut);
    Restart(false);
    EXPECT_TRUE(manager->HasDamagedFile());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Problem");
    EXPECT_NE(ui.messages[0].text.find(path), std::string::npos);
    double lat, lon;
    Offset(kLat, kLon, 5000, 0, lat, lon);
    Feed(lat, lon, kT0 + 2000);
    EXPECT_FALSE(manager->SaveIfNeeded());
    EXPECT_EQ(ReadAll(path), cut);
    ASSERT_TRUE(manager->ReplaceDamagedFile());
    EXPECT_TRUE(manager->SaveIfNeeded());
    EXPECT_EQ(ReadAll(path + ".damaged"), cut);
}

TEST_F(TrackTest, ACrashLosesNoRecordedPoint) {
    // Saved part, then more points, then a crash: nothing is written on the way out.
    SailNorth(100, 20, 3, false);
    ASSERT_TRUE(manager->SaveIfNeeded());
    EXPECT_EQ(manager->Journal().Size(), 0);
    SailNorth(60, 20, 3, false, kT0 + 300, kLat + 0.03);
    const std::vector<CTrackPoint> before = Active()->AllPoints();
    const uint64_t id = Active()->GetObjectID();
    ASSERT_EQ(before.size(), 160u);
    // A full section was synced before the next began.
    EXPECT_GE(manager->Journal().SyncCount(), 1u);

    Restart(false);
    EXPECT_EQ(manager->ReplayedPoints(), 60u);
    ASSERT_EQ(manager->GetTracks().size(), 1u);
    EXPECT_EQ(Active()->GetObjectID(), id);
    EXPECT_TRUE(SamePoints(Active()->AllPoints(), before));
    EXPECT_TRUE(manager->IsChanged());
    // Recording goes on into the same track ("doRecordTrack" survives).
    double lat, lon;
    Offset(kLat + 0.03, kLon, 60 * 20 + 50, 0, lat, lon);
    Feed(lat, lon, kT0 + 300 + 200);
    EXPECT_EQ(manager->GetTracks().size(), 1u);
    EXPECT_EQ(Points(), 161u);

    // Saved, but killed before the journal was emptied: nothing is counted twice.
    const QByteArray journal = ReadAll(manager->JournalPath());
    ASSERT_TRUE(manager->SaveIfNeeded());
    EXPECT_EQ(ReadAll(manager->JournalPath()).size(), 0);
    WriteAll(manager->JournalPath(), journal);
    Restart(false);
    EXPECT_EQ(Points(), 161u);
}

TEST_F(TrackTest, AJournalCutShortLosesOnlyTheTornPoint) {
    manager->startTrackRecording();
    SailNorth(20, 20, 3, false);
    manager->startTrackRecording();  // a second track, never saved
    SailNorth(20, 20, 3, false, kT0 + 500, kLat + 0.05);
    const std::string name = Active()->getName();
    const std::string jpath = manager->JournalPath();
    manager.reset();
    QByteArray bytes = ReadAll(jpath);
    WriteAll(jpath, bytes.left(bytes.size() - 10));
    manager = std::make_unique<CTrackManager>();
    manager->SetDirectory(Dir());
    manager->LoadFromFile();
    ASSERT_EQ(manager->GetTracks().size(), 2u);
    EXPECT_EQ(manager->GetTracks()[0]->getTotalPoints(), 20u);
    EXPECT_EQ(Active()->getName(), name);
    EXPECT_EQ(Active()->getTotalPoints(), 19u);
    // What is recorded after the torn record is readable at the next start.
    SailNorth(5, 20, 3, false, kT0 + 800, kLat + 0.08);
    Restart(false);
    EXPECT_EQ(Points(), 24u);
    // Garbage instead of a journal is put aside, not replayed, and recording goes on.
    Restart(true);
    manager.reset();
    WriteAll(jpath, QByteArray(100, 'x'));
    manager = std::make_unique<CTrackManager>();
    manager->SetDirectory(Dir());
    manager->LoadFromFile();
    EXPECT_TRUE(FileExists(jpath + ".damaged"));
    SailNorth(3, 20, 3, false, kT0 + 900, kLat + 0.09);
    Restart(false);
    EXPECT_EQ(Points(), 27u);
}

TEST_F(TrackTest, TracksWriteTheirGpxForm) {
    std::vector<CTrackPoint> pts;
    for (int i = 0; i < 70; ++i) pts.emplace_back(kLat + i * 1e-4, kLon, i == 0 ? 0 : kT0 + i, i < 2 ? 0.0f : 12.5f);
    COverlayTrack t;
    t.setName("Out & back");
    t.setCreatedTime(kT0 - 60);
    t.SetPoints(pts);
    const std::string path = Dir() + "/t.gpx";
    ASSERT_TRUE(t.WriteGPXFile(path));
    const QByteArray gpx = ReadAll(path);
    EXPECT_EQ(gpx.count("<trkpt "), 70);  // the second section's copy of a point is left out
    EXPECT_EQ(gpx.count("<trkseg>"), 1);
    EXPECT_EQ(gpx.count("<ele>12.5</ele>"), 68);  // 0 is no height
    EXPECT_TRUE(gpx.contains("<name><![CDATA[Out & back]]></name>"));
    EXPECT_TRUE(gpx.contains("<time>2026-06-14T09:59:00Z</time>"));  // no time: the created time
    EXPECT_TRUE(gpx.contains("<xstyle:pattern>Solid</xstyle:pattern>"));
}
