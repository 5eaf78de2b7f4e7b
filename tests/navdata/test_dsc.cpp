// SPDX-License-Identifier: GPL-3.0-or-later
// Digital selective calls through the dispatcher: a call with and without its expansion,
// the marks they make, the distress notification and its distance, the goto when close.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>
#include <string>

#include "navdata/dsc.h"
#include "navdata/gpsposition.h"
#include "nmea_test_support.h"
#include "overlays/markmanager.h"
#include "support/recording_ui.h"
#include "units/units.h"

namespace {

class Dsc : public ::testing::Test {
protected:
    void SetUp() override {
        marks = std::make_unique<CMarkManager>();
        marks->SetDirectory(dir.path().toStdString());
        own = std::make_unique<COverlayGPSPosition>();
        toMark = std::make_unique<CDSC_to_Mark>(own.get());
    }

    QTemporaryDir dir;
    RecordingUi ui;
    std::unique_ptr<CMarkManager> marks;
    std::unique_ptr<COverlayGPSPosition> own;
    CDSCTargetManager calls;
    std::unique_ptr<CDSC_to_Mark> toMark;
};

TEST_F(Dsc, DistressWaitsForItsExpansionThenMarksTheFinerPosition) {
    own->set_latlon(42.55, -83.25);
    Catch<CDSCTarget> published;
    // Ten digits ending in 0 are a nine-digit MMSI; quadrant 1 is north-west.
    Feed(Sentence("CDDSC,12,3380400790,12,06,00,1423108312,2019,,,S,E"));
    EXPECT_EQ(published.count, 0) << "an announced expansion is waited for";
    EXPECT_EQ(calls.Pending(), 1);
    EXPECT_EQ(marks->FindMark("DSC:338040079"), nullptr);
    // An expansion for a station that never called is ignored.
    Feed(Sentence("CDDSE,1,1,A,2110000000,00,45894494"));
    Feed(Sentence("CDDSE,1,1,A,3380400790,00,45894494"));
    ASSERT_EQ(published.count, 1);
    EXPECT_EQ(calls.Pending(), 0);
    const CDSCTarget& t = calls.Targets().at(338040079);
    EXPECT_NEAR(t.lat, 42 + 31 / 60.0 + 4589 / 600000.0, 1e-9);
    EXPECT_NEAR(t.lon, -(83 + 12 / 60.0 + 4494 / 600000.0), 1e-9) << "west: the minutes go further west";
    EXPECT_EQ(t.nature, 6);

    COverlayMark* mark = marks->FindMark("DSC:338040079");
    ASSERT_TRUE(mark);
    EXPECT_NEAR(mark->getLat(), t.lat, 1e-12);
    EXPECT_EQ(mark->getIcon(), "X");
    const double distance = CSimpleGrid(own->lat, own->lon).Distance(own->lat, own->lon, t.lat, t.lon);
    std::string away;
    CDefaultUnits::u.FormatDistance(distance, away);
    EXPECT_EQ(mark->getDescription(), "Disabled\n" + away + " away");
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].title, "-338040079");
    EXPECT_EQ(ui.notifications[0].buttons[0], "DSC Distress Call");
    EXPECT_EQ(ui.notifications[0].text, mark->getDescription());
    EXPECT_EQ(marks->Target(), nullptr) << "miles away: no goto";

    // The same expansion again (a radio repeating it) must not move the caller twice.
    Feed(Sentence("CDDSE,1,1,A,3380400790,00,45894494"));
    EXPECT_EQ(published.count, 1);
    EXPECT_NEAR(calls.Targets().at(338040079).lat, t.lat, 1e-12);
}

TEST_F(Dsc, CallsWithoutExpansionMarkAtOnceAndARepeatedCallMovesTheSameMark) {
    // Quadrant 1, 51°30'N 000°10'W; a routine call: green, no notification.
    Feed(Sentence("CDDSC,20,2320001230,00,21,26,1513000010,1200,,,S,"));
    COverlayMark* mark = marks->FindMark("DSC:232000123");
    ASSERT_TRUE(mark);
    EXPECT_NEAR(mark->getLat(), 51.5, 1e-12);
    EXPECT_NEAR(mark->getLon(), -0.16666666666, 1e-9);
    EXPECT_TRUE(mark->getColor() == GraphicsColor(0, 255, 0));
    EXPECT_TRUE(ui.notifications.empty());

    // The same station calls again from elsewhere, now in distress with no position of
    // ours known: the mark moves, and the text has no distance.
    Feed(Sentence("CDDSC,12,2320001230,12,10,00,1513100011,1201,,,S,"));
    EXPECT_EQ(marks->Marks().size(), 1u);
    EXPECT_NEAR(mark->getLat(), 51 + 31 / 60.0, 1e-12);
    ASSERT_EQ(ui.notifications.size(), 1u);
    EXPECT_EQ(ui.notifications[0].text, "Man overboard");
}

TEST_F(Dsc, EveryNatureOfDistressHasItsTextAndACloseCallerBecomesTheGotoTarget) {
    const char* const natures[] = {"Fire",    "Flooding", "Collision",       "Grounding", "Listing",      "Sinking",
                                   "Disabled", "Distress", "Abandoning ship", "Piracy",    "Man overboard"};
    for (int i = 0; i < 11; ++i) EXPECT_EQ(CDSCTarget::NatureText(i), natures[i]);
    EXPECT_EQ(CDSCTarget::NatureText(12), "Distress code 12");

    // A minute of latitude south of us is 1852 m; with 0.8' more from the expansion the
    // caller is 370 m away.
    own->set_latlon(50.5, -2.5);
    Feed(Sentence("CDDSC,12,2350000010,12,01,00,1502900230,1200,,,S,"));
    EXPECT_EQ(marks->Target(), nullptr);
    Feed(Sentence("CDDSC,12,2350000020,12,01,00,1502900230,1200,,,S,E"));
    Feed(Sentence("CDDSE,1,1,A,2350000020,00,80000000"));
    COverlayMark* close = marks->FindMark("DSC:235000002");
    ASSERT_TRUE(close);
    EXPECT_NEAR(close->getLat(), 50 + 29.8 / 60, 1e-9);
    EXPECT_EQ(marks->Target(), close);
}

}  // namespace
