// SPDX-License-Identifier: GPL-3.0-or-later
// marks.nvtf and routes.nvtf: what survives a round trip, the rules applied after
// reading, tombstones, and a damaged file that must never be written over.

#include <QFile>

#include "core/apppaths.h"
#include "mark_test_support.h"

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

TEST_F(MarkTest, MarksAndRoutesSurviveARoundTripWithTheirIdentityAndFlags) {
    COverlayMark* a = Mark("Anchorage", 50.5, -2.5, 30, 130);
    a->setDescription("sand, 6 m");
    a->setLink("https://example.org/a?b&c");
    a->setCategory("Trips/2024");
    a->SetIcon("anchor", GraphicsColor(10, 20, 30, 255));
    a->setCreatedTime(1000);
    a->setModifiedTime(5000);
    const uint64_t id = a->GetObjectID();
    COverlayMark* gone = Mark("Gone", 50.6, -2.6);
    gone->GetObjectID();  // known to the account: its deletion must be kept to be sent
    manager->DeleteMark(gone);

    COverlayRoute* r = Route("Passage", {{50, -1}, {50.01, -1.01}, {50.02, -1}});
    r->SetLineStyle(GraphicsColor(200, 0, 0, 128), 4.5f, 3);
    r->SetAreaAlarms(false, true);
    r->Waypoint(0)->setCreatedTime(500);
    const uint64_t routeId = r->GetObjectID();
    manager->DefaultMark().setLink("default-link");
    manager->SetGoto(a);
    ASSERT_TRUE(manager->SaveIfNeeded());
    EXPECT_FALSE(FileExists(manager->MarksPath() + ".tmp"));

    CMarkManager::settings.notifications = false;
    CMarkManager loaded;
    loaded.SetDirectory(Dir());
    ASSERT_TRUE(loaded.LoadFromFile());
    ASSERT_EQ(loaded.Marks().size(), 2u);
    const COverlayMark& m = *loaded.Marks()[0];
    EXPECT_EQ(m.getName(), "Anchorage");
    EXPECT_EQ(m.getDescription(), "sand, 6 m");
    EXPECT_EQ(m.getLink(), "https://example.org/a?b&c");
    EXPECT_EQ(m.getCategory(), "Trips/2024");
    EXPECT_EQ(m.getIcon(), "Anchor");
    EXPECT_EQ(m.getColor(), GraphicsColor(10, 20, 30, 255));
    EXPECT_EQ(m.getInnerRadius(), 30.0f);
    EXPECT_EQ(m.getAlarmRadius(), 130.0f);
    EXPECT_EQ(m.PeekObjectID(), id);
    EXPECT_EQ(m.getCreatedTime(), 1000.0);
    EXPECT_TRUE(loaded.Marks()[1]->isDeleted());
    EXPECT_FALSE(loaded.Marks()[1]->isVisible());
    EXPECT_EQ(loaded.DefaultMark().getLink(), "default-link");
    // The target flag brings navigation back, and the alarm switches notifications on.
    EXPECT_EQ(loaded.Target(), loaded.Marks()[0].get());
    EXPECT_TRUE(CMarkManager::settings.notifications);

    ASSERT_EQ(loaded.Routes().size(), 1u);
    COverlayRoute& lr = *loaded.Routes()[0];
    EXPECT_EQ(lr.PeekObjectID(), routeId);
    EXPECT_EQ(lr.getLineColor(), GraphicsColor(200, 0, 0, 128));
    EXPECT_EQ(lr.getLineWidth(), 4.5f);
    EXPECT_EQ(lr.getLinePattern(), 3);
    EXPECT_TRUE(lr.isExclusionZone());
    ASSERT_EQ(lr.size(), 3u);
    EXPECT_EQ(lr.Waypoint(1)->getName(), "PassageP2");
    EXPECT_EQ(lr.Waypoint(1)->getRoute(), &lr);
    EXPECT_EQ(lr.Waypoint(1)->ObjectType(), COverlayObject::OBJECT_WAYPOINT);
    EXPECT_EQ(lr.Waypoint(1)->PeekObjectID(), 0u);  // waypoints carry no identity of their own
    EXPECT_EQ(lr.getCreatedTime(), 500.0);           // the route is as old as its first point
}

TEST_F(MarkTest, AFollowedRouteResumesAndStoredIconNamesAreNormalised) {
    COverlayRoute* r = Route("Home run", {{50, -1}, {50.05, -1}});
    r->Waypoint(1)->setCreatedTime(0);  // unknown: reading keeps the time the point is made
    manager->SetFollowRoute(r);
    Mark("Aid", 51, -1)->SetIcon("First_aid", GraphicsColor());
    ASSERT_TRUE(manager->SaveIfNeeded());
    // Another writer may store the icon name as the user typed it.
    QByteArray bytes = ReadAll(manager->MarksPath());
    ASSERT_TRUE(bytes.contains("First_aid"));
    WriteAll(manager->MarksPath(), bytes.replace("First_aid", "first aid"));

    const double before = CDataSource::Now();
    CMarkManager reader;
    reader.SetDirectory(Dir());
    ASSERT_TRUE(reader.LoadFromFile());
    EXPECT_EQ(reader.FollowedRoute(), reader.Routes()[0].get());
    EXPECT_TRUE(reader.Routes()[0]->isFollowed());
    EXPECT_EQ(reader.Marks()[0]->getIcon(), "First_aid");
    EXPECT_GE(reader.Routes()[0]->Waypoint(1)->getCreatedTime(), before);
    // Nothing changed by reading: nothing to write.
    EXPECT_FALSE(reader.MarksChanged());
    EXPECT_FALSE(reader.RoutesChanged());
}

TEST_F(MarkTest, TombstonesArePurgedUnlessTheAccountMustHearOfThem) {
    COverlayMark* never = Mark("Never synced", 50, -1);
    COverlayMark* known = Mark("Known", 50, -1.1);
    known->GetObjectID();
    manager->DeleteMark(never);
    manager->DeleteMark(known);
    EXPECT_TRUE(never->isDoNotSync());
    ASSERT_TRUE(manager->SaveIfNeeded());
    ASSERT_EQ(manager->Marks().size(), 1u);
    EXPECT_EQ(manager->Marks()[0]->getName(), "Known");
    // Undo of the last delete brings it back, visible.
    manager->UndeleteMark(manager->Marks()[0].get());
    EXPECT_TRUE(manager->Marks()[0]->isVisible());
}

TEST_F(MarkTest, ADamagedMarksFileIsReportedAndNeverWrittenOver) {
    Mark("One", 50, -1);
    Mark("Two", 50.1, -1);
    Mark("Three", 50.2, -1);
    ASSERT_TRUE(manager->SaveIfNeeded());
    const QByteArray good = ReadAll(manager->MarksPath());
    const QByteArray damaged = good.left(good.size() * 2 / 3);
    WriteAll(manager->MarksPath(), damaged);

    ui.Clear();
    CMarkManager reader;
    reader.SetDirectory(Dir());
    EXPECT_FALSE(reader.LoadFromFile());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Problem");
    EXPECT_NE(ui.messages[0].text.find("marks file is damaged"), std::string::npos) << ui.messages[0].text;
    EXPECT_NE(ui.messages[0].text.find(reader.MarksPath()), std::string::npos);
    EXPECT_TRUE(reader.HasDamagedFile());

    // A new mark is not worth the old file: saving refuses and leaves it byte for byte.
    reader.CreateNewMark(nullptr, 51, -1);
    EXPECT_FALSE(reader.SaveIfNeeded());
    EXPECT_EQ(ReadAll(reader.MarksPath()), damaged);
    EXPECT_TRUE(reader.MarksChanged());

    // When the user chooses to start afresh, the damaged file is kept beside.
    ASSERT_TRUE(reader.ReplaceDamagedFiles());
    EXPECT_EQ(ReadAll(reader.MarksPath() + ".damaged"), damaged);
    EXPECT_TRUE(reader.SaveIfNeeded());
    CMarkManager again;
    again.SetDirectory(Dir());
    again.LoadFromFile();  // there is no routes file
    EXPECT_FALSE(again.HasDamagedFile());
    EXPECT_EQ(again.Marks().size(), reader.Marks().size());
}

TEST_F(MarkTest, FilesOfTheWrongKindOrWithHostileNumbersAreRefused) {
    // A routes file where marks belong, and a file of noise.
    Route("R", {{50, -1}, {50.1, -1}});
    ASSERT_TRUE(manager->SaveIfNeeded());
    ASSERT_TRUE(CopyFile(manager->RoutesPath(), manager->MarksPath()));
    CMarkManager a;
    a.SetDirectory(Dir());
    EXPECT_FALSE(a.LoadFromFile());
    EXPECT_TRUE(a.Marks().empty());
    EXPECT_EQ(a.Routes().size(), 1u);

    QByteArray noise(4096, '\xBE');
    WriteAll(manager->RoutesPath(), noise);
    CMarkManager b;
    b.SetDirectory(Dir());
    EXPECT_FALSE(b.LoadFromFile());
    EXPECT_TRUE(b.Routes().empty());
}

}  // namespace
