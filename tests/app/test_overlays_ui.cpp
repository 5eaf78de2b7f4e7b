// SPDX-License-Identifier: GPL-3.0-or-later
// The overlay list, the object menus, the editors and route building, driven the way the
// user drives them, with the answers given through the recording UI services.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>

#include "app/alarm_sound.h"
#include "app/overlay_list_model.h"
#include "app/overlays_ui.h"
#include "core/apppaths.h"
#include "displays/displayview.h"
#include "maplib/chartview.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"
#include "tests/support/recording_ui.h"

namespace {

class OverlaysUiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        marks = std::make_unique<CMarkManager>();
        marks->SetDirectory(dir.path().toStdString());
        tracks = std::make_unique<CTrackManager>();
        tracks->SetDirectory(dir.path().toStdString());
        tracks->SetJournalEnabled(false);
        ui = std::make_unique<COverlaysUi>();
    }
    void TearDown() override {
        ClearDoneButtonCallback();
        ui.reset();
        tracks.reset();
        marks.reset();
    }

    COverlayTrack* MakeTrack(const std::string& name) {
        auto t = std::make_unique<COverlayTrack>();
        t->setName(name);
        std::vector<CTrackPoint> pts;
        for (int i = 0; i < 10; ++i) pts.emplace_back(50.0 + i * 0.001, -1.0, 1.7e9 + i * 60.0);
        t->SetPoints(pts);
        return tracks->AddTrack(std::move(t));
    }
    // Picks the entry with this text from the next list shown.
    void Choose(const std::string& entry) {
        rec.chooser = [entry](const std::string&, const std::vector<std::string>& entries) {
            auto it = std::find(entries.begin(), entries.end(), entry);
            return it == entries.end() ? -1 : int(it - entries.begin());
        };
    }

    QTemporaryDir dir;
    RecordingUi rec;
    std::unique_ptr<CMarkManager> marks;
    std::unique_ptr<CTrackManager> tracks;
    std::unique_ptr<COverlaysUi> ui;
};

TEST_F(OverlaysUiTest, ListShowsEverySectionAndHidesAndDeletesOnlyWhenTheUserSaysYes) {
    COverlayMark* p1 = marks->CreateNewMark(nullptr, 50.0, -1.0);
    marks->CreateNewMark(nullptr, 50.01, -1.0);
    COverlayRoute* route = marks->CreateNewRoute(NV_HWND());
    route->AddWaypoint(50.0, -1.0);
    route->AddWaypoint(50.01, -1.0);
    ClearDoneButtonCallback();
    MakeTrack("T1");

    COverlayListModel list;
    const auto& rows = list.Rows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].section, "Marks");
    EXPECT_EQ(rows[0].name, "P1");
    EXPECT_EQ(rows[1].name, "P2");
    EXPECT_EQ(rows[2].section, "Routes");
    EXPECT_NE(rows[2].detail.find("2 points"), std::string::npos) << rows[2].detail;
    EXPECT_EQ(rows[3].section, "Tracks");
    EXPECT_FALSE(rows[3].detail.empty());
    EXPECT_FALSE(rows[0].icon.empty()) << "marks show their icon";

    // Hiding is kept in the file and shown in the list.
    list.setVisible(0, false);
    EXPECT_FALSE(p1->isVisibleFlag());
    EXPECT_TRUE(marks->MarksChanged());
    EXPECT_FALSE(list.Rows()[0].visible);
    list.setVisible(3, false);
    EXPECT_FALSE(tracks->GetTracks()[0]->isVisibleFlag());
    list.setVisible(99, true);  // no such row: nothing happens

    // Delete from the row's menu: "No" keeps it, "Yes" deletes it (and the save that
    // follows frees it, so it is only looked for, never touched).
    const COverlayRef p1Ref = COverlayRef::Of(*p1);
    Choose("Delete");
    rec.answer = 1;
    list.showMenu(0);
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].title, "Delete");
    EXPECT_EQ(rec.messages[0].text, "Delete the mark \"P1\"?");
    EXPECT_TRUE(p1Ref.Alive());
    rec.answer = 0;
    list.showMenu(0);
    EXPECT_FALSE(p1Ref.Alive());
    list.refresh();
    ASSERT_EQ(list.Rows().size(), 3u);
    EXPECT_EQ(list.Rows()[0].name, "P2");
    EXPECT_TRUE(FileExists(marks->MarksPath())) << "a delete is saved at once";

    // A track deleted the same way.
    rec.answer = 0;
    list.showMenu(2);
    EXPECT_EQ(rec.messages.back().text, "Delete the track \"T1\"?");
    list.refresh();
    EXPECT_EQ(list.Rows().size(), 2u);
}

TEST_F(OverlaysUiTest, MenusFollowTheNavigationStateAndExportWritesGpx) {
    COverlayMark* mark = marks->CreateNewMark(nullptr, 50.0, -1.0);
    COverlayRoute* route = marks->CreateNewRoute(NV_HWND());
    ClearDoneButtonCallback();
    route->AddWaypoint(50.0, -1.0);
    route->AddWaypoint(50.02, -1.0);
    const std::string first = route->Waypoint(0)->getName();

    auto texts = [](const std::vector<NOverlayActions::Entry>& entries) {
        std::vector<std::string> t;
        for (const auto& e : entries) t.push_back(e.text);
        return t;
    };
    const COverlayRef markRef = COverlayRef::Of(*mark);
    auto entries = NOverlayActions::MenuFor(NV_HWND(), markRef);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.front().text, "Go To");
    entries.front().action();
    EXPECT_EQ(marks->Target(), mark);
    EXPECT_EQ(texts(NOverlayActions::MenuFor(NV_HWND(), markRef)).front(), "Stop navigation");

    Choose("Reverse and Follow");
    NOverlayActions::ShowMenu(NV_HWND(), COverlayRef::Of(*route));
    EXPECT_EQ(marks->FollowedRoute(), route);
    EXPECT_EQ(route->Waypoint(1)->getName(), first) << "reversed before following";
    EXPECT_NE(marks->Target(), mark) << "following a route ends the go-to";
    EXPECT_EQ(texts(NOverlayActions::MenuFor(NV_HWND(), COverlayRef::Of(*route))).front(), "Stop navigation");
    EXPECT_EQ(texts(NOverlayActions::MenuFor(NV_HWND(), markRef)).front(), "Go To");

    // Export writes a real GPX file and hands it to the user to keep.
    ASSERT_TRUE(NOverlayActions::ExportGpx(NV_HWND(), {markRef, COverlayRef::Of(*route)}));
    ASSERT_EQ(rec.offered.size(), 1u);
    QFile gpx(QString::fromStdString(rec.offered[0]));
    ASSERT_TRUE(gpx.open(QIODevice::ReadOnly));
    const QByteArray text = gpx.readAll();
    EXPECT_TRUE(text.contains("<wpt")) << text.constData();
    EXPECT_TRUE(text.contains("<rte>"));

    // A page may hold the Overlays button; it is offered while this user interface is in.
    const auto* type = CDisplayView::CItemSettingsType::findType(122);
    ASSERT_NE(type, nullptr);
    EXPECT_TRUE(type->IsOffered());

    // A deleted object has no menu and cannot be exported.
    marks->DeleteMark(mark);
    EXPECT_TRUE(NOverlayActions::MenuFor(NV_HWND(), markRef).empty());
    EXPECT_FALSE(NOverlayActions::ExportGpx(NV_HWND(), {markRef}));
}

TEST_F(OverlaysUiTest, RouteIsBuiltByTapsAndDoneEndsIt) {
    CQuickChartView view;
    COverlayRoute* route = marks->CreateNewRoute(NV_HWND());
    ASSERT_TRUE(ui->IsBuildingRoute());
    EXPECT_EQ(CQuickChartView::TapCapture(), ui.get());
    EXPECT_TRUE(DoneButtonIsActive());
    EXPECT_TRUE(ui->MapTapped(view, 50.0, -1.0));
    EXPECT_TRUE(ui->MapTapped(view, 50.01, -1.0));
    EXPECT_TRUE(ui->MapTapped(view, 50.01, -1.02));
    ASSERT_EQ(route->size(), 3u);
    EXPECT_EQ(route->Waypoint(2)->getName(), route->getName() + "P3");
    EXPECT_TRUE(route->Waypoint(0)->isWaypoint());
    InvokeDoneButtonCallback();
    EXPECT_FALSE(ui->IsBuildingRoute());
    EXPECT_EQ(CQuickChartView::TapCapture(), nullptr) << "taps go back to the map";
    EXPECT_FALSE(route->isDeleted());
    EXPECT_TRUE(FileExists(marks->RoutesPath()));

    // One point is no route: it is dropped at Done, and the user is told why.
    const COverlayRef single = COverlayRef::Of(*marks->CreateNewRoute(NV_HWND()));
    ui->MapTapped(view, 50.0, -1.0);
    InvokeDoneButtonCallback();
    EXPECT_FALSE(single.Alive());
    EXPECT_NE(rec.status.back().find("at least two points"), std::string::npos);

    // Starting a second route while one is built finishes the first.
    COverlayRoute* a = marks->CreateNewRoute(NV_HWND());
    ui->MapTapped(view, 50.0, -1.0);
    ui->MapTapped(view, 50.1, -1.0);
    COverlayRoute* b = marks->CreateNewRoute(NV_HWND());
    EXPECT_FALSE(a->isDeleted());
    EXPECT_EQ(ui->RouteBeingBuilt(), b);
    ui->MapTapped(view, 51.0, -1.0);
    EXPECT_EQ(a->size(), 2u);
    EXPECT_EQ(b->size(), 1u);

    // The route deleted under the builder: taps go back to the map.
    marks->DeleteRoute(b);
    EXPECT_FALSE(ui->MapTapped(view, 51.0, -1.0));
    EXPECT_EQ(CQuickChartView::TapCapture(), nullptr);
}

TEST_F(OverlaysUiTest, EditorsWriteBackAndKeepValuesSane) {
    COverlayMark* mark = marks->CreateNewMark(nullptr, 50.0, -1.0);
    {
        COverlayEditModel edit(COverlayRef::Of(*mark));
        EXPECT_EQ(edit.kind(), "mark");
        EXPECT_FALSE(edit.icons().isEmpty());
        edit.setProperty("name", QStringLiteral("  Anchorage  "));
        edit.setProperty("alarmType", int(COverlayEditModel::kAnchor));
        edit.setProperty("alarmRadius", 50.0);
        edit.setProperty("notes", QStringLiteral("sand"));
        ASSERT_TRUE(edit.apply());
    }
    EXPECT_EQ(mark->getName(), "Anchorage");
    EXPECT_EQ(mark->getDescription(), "sand");
    EXPECT_TRUE(mark->isAnchorAlarm());
    EXPECT_FLOAT_EQ(mark->getInnerRadius(), 50.0f);
    EXPECT_GT(mark->getAlarmRadius(), 50.0f);
    {
        COverlayEditModel edit(COverlayRef::Of(*mark));
        EXPECT_EQ(edit.property("alarmType").toInt(), int(COverlayEditModel::kAnchor));
        EXPECT_DOUBLE_EQ(edit.property("alarmRadius").toDouble(), 50.0);
        edit.setProperty("name", QStringLiteral("   "));  // an empty name keeps the old one
        edit.setProperty("alarmType", int(COverlayEditModel::kProximity));
        edit.setProperty("alarmRadius", -5.0);
        ASSERT_TRUE(edit.apply());
    }
    EXPECT_EQ(mark->getName(), "Anchorage");
    EXPECT_FALSE(mark->hasAlarm()) << "a negative radius is no alarm";

    COverlayTrack* track = MakeTrack("T1");
    COverlayEditModel trackEdit(COverlayRef::Of(*track));
    QStringList labels;
    for (const QVariant& v : trackEdit.statistics()) labels << v.toMap().value("label").toString();
    for (const char* l : {"Distance", "Moving time", "Elapsed time", "Average speed (moving)"})
        EXPECT_TRUE(labels.contains(QString::fromLatin1(l))) << l;
    trackEdit.setProperty("lineWidth", 1000.0);
    trackEdit.setProperty("pattern", 77);
    ASSERT_TRUE(trackEdit.apply());
    EXPECT_LE(track->getLineWidth(), 20.0f);
    EXPECT_LT(track->getLineStyle(), COverlayTrack::kPatternCount);
    tracks->DeleteTrack(track);
    EXPECT_FALSE(trackEdit.apply()) << "the object went while the editor was open";
}

TEST_F(OverlaysUiTest, DamagedFileIsPutAsideOnlyWhenTheUserAgreesAndTheAlarmLogReadsNewestFirst) {
    const std::string path = marks->MarksPath();
    {
        std::ofstream out(path, std::ios::binary);
        out << "this is not a marks file at all, just words";
    }
    marks->LoadFromFile();
    ASSERT_TRUE(marks->HasDamagedFile());
    rec.Clear();
    rec.answer = 1;  // No
    COverlaysUi::AskAboutDamagedFiles();
    ASSERT_EQ(rec.messages.size(), 1u);
    EXPECT_EQ(rec.messages[0].title, "Damaged file");
    EXPECT_FALSE(FileExists(path + ".damaged"));
    EXPECT_TRUE(marks->HasDamagedFile());
    rec.answer = 0;  // Yes
    COverlaysUi::AskAboutDamagedFiles();
    EXPECT_TRUE(FileExists(path + ".damaged"));
    EXPECT_TRUE(FileExists(path)) << "what could be read is in a new file";
    EXPECT_FALSE(marks->HasDamagedFile());
    rec.Clear();
    COverlaysUi::AskAboutDamagedFiles();
    EXPECT_TRUE(rec.messages.empty()) << "nothing left to ask about";

    const std::string log = dir.path().toStdString() + "/alarms.log";
    EXPECT_EQ(COverlaysUi::AlarmLogText(log), "No alarm has been raised yet.");
    {
        std::ofstream out(log);
        for (int i = 0; i < 10; ++i) out << "line " << i << "\n";
    }
    EXPECT_EQ(COverlaysUi::AlarmLogText(log, 3), "line 9\nline 8\nline 7\n");

    // The alarm sound is a WAV file whose sizes agree with its length, or players refuse it.
    const QByteArray wav = CAlarmSound::MakeWav();
    auto le32 = [&](int at) {
        return uint32_t(uint8_t(wav[at])) | uint32_t(uint8_t(wav[at + 1])) << 8 | uint32_t(uint8_t(wav[at + 2])) << 16 |
               uint32_t(uint8_t(wav[at + 3])) << 24;
    };
    ASSERT_GT(wav.size(), 44);
    EXPECT_TRUE(wav.startsWith("RIFF"));
    EXPECT_EQ(wav.mid(8, 8), QByteArray("WAVEfmt "));
    EXPECT_EQ(le32(4), uint32_t(wav.size() - 8));
    EXPECT_EQ(wav.mid(36, 4), QByteArray("data"));
    EXPECT_EQ(le32(40), uint32_t(wav.size() - 44));
}

}  // namespace
