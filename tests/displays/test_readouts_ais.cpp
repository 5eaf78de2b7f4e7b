// SPDX-License-Identifier: GPL-3.0-or-later
// The AIS read-outs: offered only with a target manager, then counting the targets and
// showing the closest approach to come as reports and own positions arrive.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "displays/readouts.h"
#include "fake_window.h"
#include "navdata/ais.h"
#include "navdata/ais_encode.h"
#include "navdata/gpsposition.h"
#include "navdata/nmea_sentence.h"
#include "support/recording_ui.h"
#include "units/units.h"

namespace {

using Settings = CDisplayView::CItemSettings;
using Text = CDisplayView::CItemText;

void Feed(const std::string& line) {
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back('\0');
    CNMEASentence::DispatchSentence(buf.data(), nullptr);
}

struct AisReadouts : ::testing::Test {
    RecordingUi ui;
    CUnits savedUnits = CDefaultUnits::u;
    FakePageWindow window{400, 400};
    std::vector<std::pair<std::unique_ptr<Settings>, std::unique_ptr<CDisplayView::CItem>>> shown;

    AisReadouts() {
        NReadouts::RegisterItemTypes();
        CDefaultUnits::u.set_unit_family(CUnits::e_nautical_miles);
    }
    ~AisReadouts() override {
        shown.clear();
        CDefaultUnits::u = savedUnits;
    }
    CDisplayView::CItem* Make(int id) {
        const auto* t = CDisplayView::CItemSettingsType::findType(id);
        std::unique_ptr<Settings> s(t->NewSettings());
        std::unique_ptr<CDisplayView::CItem> item(s->CreateItem(window));
        item->CreateAdaptor(window);
        shown.emplace_back(std::move(s), std::move(item));
        return shown.back().second.get();
    }
    static std::string Value(CDisplayView::CItem* item) { return static_cast<Text*>(item)->Value(); }
};

TEST_F(AisReadouts, CountAndClosestApproachFollowTheTargets) {
    const auto* count = CDisplayView::CItemSettingsType::findType(140);
    const auto* closest = CDisplayView::CItemSettingsType::findType(141);
    ASSERT_TRUE(count && closest);
    EXPECT_FALSE(count->IsOffered()) << "no AIS without a target manager";
    EXPECT_FALSE(closest->IsOffered());

    COverlayGPSPosition own;
    CAISTargetManager ais(own);
    EXPECT_TRUE(count->IsOffered() && closest->IsOffered());
    auto* n = Make(140);
    auto* cpa = Make(141);
    EXPECT_EQ(Value(n), "0");
    EXPECT_EQ(Value(cpa), "---");

    own.fix_status = FIX_GPS;
    own.set_latlon(50.5, -2.5);
    own.DispatchPositionUpdate();
    // A ship steaming north to pass 0.5 nm east; another lying still.
    const CSimpleGrid grid(50.5, -2.5);
    NAisEncode::PositionA m;
    m.mmsi = 235000001;
    m.speed = 12;
    m.course = 0;
    grid.FromGrid(926, -5000, m.lat, m.lon);
    for (const std::string& s : NAisEncode::Encode(m)) Feed(s);
    m.mmsi = 235000002;
    m.speed = 0;
    grid.FromGrid(-3000, 0, m.lat, m.lon);
    for (const std::string& s : NAisEncode::Encode(m)) Feed(s);
    EXPECT_EQ(Value(n), "2");
    EXPECT_EQ(Value(cpa), "0.50");

    // Once it has passed there is no approach to come.
    grid.FromGrid(926, 100, m.lat, m.lon);
    m.mmsi = 235000001;
    m.speed = 12;
    for (const std::string& s : NAisEncode::Encode(m)) Feed(s);
    EXPECT_EQ(Value(cpa), "---");
}

}  // namespace
