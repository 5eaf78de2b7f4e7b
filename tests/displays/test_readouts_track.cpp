// SPDX-License-Identifier: GPL-3.0-or-later
// The track read-outs and recording buttons, fed with positions through a track manager.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "displays/readouts.h"
#include "fake_window.h"
#include "overlays/trackmanager.h"
#include "support/recording_ui.h"

namespace {

using Settings = CDisplayView::CItemSettings;
using Text = CDisplayView::CItemText;
using Button = CDisplayView::CItemButton;

struct TrackReadouts : ::testing::Test {
    QTemporaryDir dir;
    RecordingUi ui;
    std::unique_ptr<CTrackManager> manager = std::make_unique<CTrackManager>();
    CUnits savedUnits = CDefaultUnits::u;
    FakePageWindow window{400, 400};
    std::vector<std::pair<std::unique_ptr<Settings>, std::unique_ptr<CDisplayView::CItem>>> shown;

    TrackReadouts() {
        NReadouts::RegisterItemTypes();
        manager->SetDirectory(dir.path().toStdString());
        CTrackManager::settings.doRecordTrack = false;
        CDefaultUnits::u.set_unit_family(CUnits::e_km);
        CDefaultUnits::u.speed_units = 1;  // knots
    }
    ~TrackReadouts() override {
        shown.clear();
        manager.reset();
        CTrackManager::settings.doRecordTrack = false;
        CDefaultUnits::u = savedUnits;
    }
    CDisplayView::CItem* Make(int id) {
        const auto* t = CDisplayView::CItemSettingsType::findType(id);
        EXPECT_TRUE(t && !t->IsPlaceholder()) << id;
        std::unique_ptr<Settings> s(t->NewSettings());
        std::unique_ptr<CDisplayView::CItem> item(s->CreateItem(window));
        item->CreateAdaptor(window);
        shown.emplace_back(std::move(s), std::move(item));
        return shown.back().second.get();
    }
    static std::string Value(CDisplayView::CItem* item) { return static_cast<Text*>(item)->Value(); }

    // North along the meridian: `metres` further at `t`, 2 m higher each time.
    void Fix(double metres, double t, double knots = 10) {
        CDataGPSPosition p;
        p.SetLatLon(50.0 + metres / 111229.0, -3.0);
        p.fix_time = 1781431200.0 + t;
        p.fix_status = FIX_GPS;
        p.SetCourseSpeed(0, float(knots));
        p.altitude = 10 + metres / 50;
        Listener<CDataGPSPosition>::Publish(p);
    }
};

}  // namespace

TEST_F(TrackReadouts, StatisticsOfTheActiveTrackAsItIsRecorded) {
    auto* distance = Make(51);
    auto* moving = Make(52);
    auto* elapsed = Make(53);
    auto* stopped = Make(54);
    auto* avgMoving = Make(55);
    auto* maxSpeed = Make(56);
    auto* avgAll = Make(128);
    auto* ascent = Make(130);
    auto* descent = Make(131);
    for (auto* i : {distance, moving, elapsed, stopped, avgMoving, maxSpeed, avgAll, ascent, descent})
        EXPECT_EQ(Value(i), "---") << static_cast<Text*>(i)->Title();

    // 2 km at 10 m/s in steps of 200 m, then two minutes at anchor.
    manager->startTrackRecording();
    for (int i = 0; i <= 10; ++i) Fix(i * 200.0, i * 20.0, 19.4);
    for (int i = 1; i <= 12; ++i) Fix(2000.0, 200.0 + i * 10.0, 0);
    EXPECT_EQ(Value(distance), "2.00");
    EXPECT_EQ(static_cast<Text*>(distance)->Units(), "km");
    EXPECT_EQ(Value(moving), "0:03:20");
    EXPECT_EQ(Value(elapsed), "0:05:20");  // the anchor time counts, though no point was recorded
    EXPECT_EQ(Value(stopped), "0:02:00");
    EXPECT_EQ(Value(avgMoving), "19.4");  // 10 m/s in knots
    EXPECT_EQ(Value(maxSpeed), "19.4");
    EXPECT_EQ(Value(avgAll), "12.1");
    EXPECT_EQ(Value(ascent), "40");
    EXPECT_EQ(Value(descent), "0");
    // A read-out that opens later starts from the same values.
    EXPECT_EQ(Value(Make(51)), "2.00");
}

TEST_F(TrackReadouts, ButtonsStartStopPauseAndResumeRecording) {
    auto* record = static_cast<Button*>(Make(50));
    auto* resume = static_cast<Button*>(Make(117));
    EXPECT_EQ(record->Label(), "Record Track");
    EXPECT_EQ(record->Icon(), "record.svg");
    EXPECT_FALSE(resume->Enabled());  // nothing to resume yet

    record->onClicked();
    EXPECT_TRUE(manager->IsRecording());
    EXPECT_EQ(record->Label(), "Stop recording");
    EXPECT_EQ(record->Icon(), "stop_recording.svg");
    for (int i = 0; i < 5; ++i) Fix(i * 200.0, i * 20.0);
    EXPECT_EQ(resume->Label(), "Pause");

    resume->onClicked();
    EXPECT_FALSE(manager->IsRecording());
    EXPECT_EQ(resume->Label(), "Resume");
    EXPECT_EQ(record->Label(), "Record Track");
    Fix(1000, 100);  // not recorded while paused
    resume->onClicked();  // the same track goes on from here
    EXPECT_TRUE(manager->IsRecording());
    ASSERT_EQ(manager->GetTracks().size(), 1u);
    EXPECT_EQ(manager->GetTracks()[0]->getTotalPoints(), 6u);
}
