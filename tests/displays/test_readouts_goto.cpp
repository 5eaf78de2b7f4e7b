// SPDX-License-Identifier: GPL-3.0-or-later
// The navigation read-outs, fed by real sentences through the GPS feed and the mark
// manager, and the Drop Mark button.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "displays/readouts.h"
#include "displays/readouts_goto.h"
#include "fake_window.h"
#include "navdata/gpsposition.h"
#include "navdata/nmea_sentence.h"
#include "overlays/markmanager.h"
#include "support/recording_ui.h"

namespace {

using Settings = CDisplayView::CItemSettings;
using Text = CDisplayView::CItemText;

bool Feed(const std::string& body) {
    std::vector<char> buf(body.size() + 8, '\0');
    buf[0] = '$';
    std::copy(body.begin(), body.end(), buf.begin() + 1);
    CNMEASentence::compute_checksum(buf.data());
    return CNMEASentence::DispatchSentence(buf.data(), nullptr);
}

struct GotoReadouts : ::testing::Test {
    QTemporaryDir dir;
    RecordingUi ui;
    std::unique_ptr<COverlayGPSPosition> pos = std::make_unique<COverlayGPSPosition>();
    std::unique_ptr<CFeedRMC_to_GPSPosition> feed = std::make_unique<CFeedRMC_to_GPSPosition>(*pos);
    std::unique_ptr<CMarkManager> manager = std::make_unique<CMarkManager>();
    CUnits savedUnits = CDefaultUnits::u;
    FakePageWindow window{400, 400};
    std::vector<std::pair<std::unique_ptr<Settings>, std::unique_ptr<CDisplayView::CItem>>> shown;

    GotoReadouts() {
        NReadouts::RegisterItemTypes();
        NReadouts::SetGpsSource(pos.get());
        manager->SetDirectory(dir.path().toStdString());
        CDefaultUnits::u.set_unit_family(CUnits::e_nautical_miles);
        CDefaultUnits::u.speed_units = 1;  // knots
        CDefaultUnits::u.bearing_mode = 0;
    }
    ~GotoReadouts() override {
        shown.clear();
        manager.reset();
        NReadouts::SetGpsSource(nullptr);
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
    static std::string Units(CDisplayView::CItem* item) { return static_cast<Text*>(item)->Units(); }
};

TEST_F(GotoReadouts, ValuesFollowTheRouteBeingSailed) {
    auto* distance = Make(NReadouts::kGotoDistance);
    auto* name = Make(NReadouts::kGotoWaypointName);
    auto* xte = Make(NReadouts::kGotoCrossTrack);
    auto* along = Make(NReadouts::kGotoPercentAlong);
    auto* coming = Make(NReadouts::kGotoComingUp);
    auto* vmg = Make(NReadouts::kGotoVmgLeg);
    auto* ttg = Make(NReadouts::kGotoTimeToNext);
    auto* turn = Make(NReadouts::kGotoTurnAfterMark);
    EXPECT_EQ(Value(distance), "---");
    EXPECT_EQ(Value(name), "---");

    // Two legs of 1 nm: north, then east.
    auto route = std::make_unique<COverlayRoute>();
    route->setName("Run");
    route->AddWaypoint(50.0, -1.0);
    route->AddWaypoint(50.0 + 1852.0 / 111229.0, -1.0);  // one minute of latitude, near enough
    route->AddWaypoint(50.0 + 1852.0 / 111229.0, -1.0 + 1852.0 / 71696.0);
    COverlayRoute* r = manager->AddRoute(std::move(route));
    manager->SetFollowRoute(r);
    // Half way up the first leg, 0.05' (about 60 m) east of it, 6 knots due north.
    ASSERT_TRUE(Feed("GPRMC,120000,A,5000.5000,N,00059.9533,W,6.0,0.0,010624,,,A"));
    EXPECT_EQ(Value(name), "RunP2");
    EXPECT_EQ(Units(name), "2 of 3");
    EXPECT_EQ(Value(distance), "0.50");
    EXPECT_EQ(Units(distance), "NM");
    EXPECT_EQ(Units(xte), "yds R");  // right of the leg
    EXPECT_EQ(Value(along), "25");
    EXPECT_EQ(Value(coming), "RunP3");
    EXPECT_EQ(Value(vmg), "6.0");
    EXPECT_EQ(Value(ttg), "0:05:00");
    EXPECT_EQ(Value(turn), "90");
    EXPECT_EQ(Units(turn), "\u00B0 stbd");

    // The receiver goes quiet: values that need the boat blank, the names stay.
    for (int i = 0; i < COverlayGPSPosition::kStaleTicks; ++i) CHeartbeat::Pulse();
    EXPECT_EQ(Value(distance), "---");
    EXPECT_EQ(Value(name), "RunP2");
}

TEST_F(GotoReadouts, TheDropMarkButtonMarksTheBoatsPosition) {
    auto* button = dynamic_cast<CDisplayView::CItemButton*>(Make(103));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->Label(), "Drop Mark");
    EXPECT_FALSE(button->Enabled());
    ASSERT_TRUE(Feed("GPRMC,120000,A,5030.0000,N,00200.0000,W,0.0,0.0,010624,,,A"));
    EXPECT_TRUE(button->Enabled());
    button->onClicked();
    ASSERT_EQ(manager->Marks().size(), 1u);
    EXPECT_EQ(manager->Marks()[0]->getName(), "P1");
    EXPECT_DOUBLE_EQ(manager->Marks()[0]->getLat(), 50.5);
    EXPECT_DOUBLE_EQ(manager->Marks()[0]->getLon(), -2.0);
    EXPECT_FALSE(manager->MarksChanged());  // saved at once: a dropped mark must survive a crash

    // Without a mark manager the navigation items are neither offered nor shown.
    const auto* type = CDisplayView::CItemSettingsType::findType(NReadouts::kGotoDistance);
    EXPECT_TRUE(type->FeatureAvailable());
    manager.reset();
    EXPECT_FALSE(type->FeatureAvailable());
    EXPECT_FALSE(CDisplayView::CItemSettingsType::findType(103)->IsOffered());
}

}  // namespace
