// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing, switching, reopening and restoring charts; following the GPS; stored state.

#include <cmath>
#include <fstream>

#include "core/apppaths.h"
#include "overlays/markmanager.h"
#include "test_chartview_support.h"
#include "tests/support/recording_ui.h"

using namespace cvtest;

namespace {

class ChartViewCharts : public ChartViewFixture {
protected:
    void SetUp() override {
        ChartViewFixture::SetUp();
        MakeCharts(NestedCharts());
        view = MakeView();
    }
    // Position under a screen point.
    void LatLonAt(double x, double y, double& lat, double& lon) const {
        ASSERT_TRUE(view->ScreenTolatlong(x, y, lat, lon));
    }
    std::string Current() const { return Name(view->CurrentPath()); }

    RecordingUi ui;
};

TEST_F(ChartViewCharts, BestMapForPlaceAndScale) {
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0));
    EXPECT_EQ(Current(), "harbour.qct");
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.9));
    EXPECT_EQ(Current(), "overview.qct");
    EXPECT_EQ(view->ZoomLevel(), 0);
    // Outside the detailed charts only the overview is left, whatever the scale.
    ASSERT_TRUE(GotoBest(*view, 53.0, 4.0, 0.01));
    EXPECT_EQ(Current(), "overview.qct");
    double lat, lon;
    LatLonAt(400, 300, lat, lon);
    EXPECT_NEAR(lat, 53.0, 0.02);
    EXPECT_NEAR(lon, 4.0, 0.03);

    // Places out of range, and the null island, are ignored without a word.
    for (auto p : {std::pair<double, double>{95, 0}, {10, 500}, {0, 0}, {NAN, 1}}) {
        bool called = false, result = true;
        view->GotoBestMap(NV_HWND(), p.first, p.second, 0, [&](bool ok) {
            called = true;
            result = ok;
        });
        EXPECT_TRUE(called && !result);
    }
    EXPECT_EQ(Current(), "overview.qct");
    // Nothing covers the place and nothing can be downloaded yet: a plain failure.
    EXPECT_FALSE(GotoBest(*view, -30.0, 100.0, 0));
}

TEST_F(ChartViewCharts, ZoomingPastAChartsEndsSwitchesToTheNeighbour) {
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.2, 0.234));
    ASSERT_EQ(Current(), "coastal.qct");
    ASSERT_EQ(view->ZoomLevel(), 0);

    // In: one level on the same chart, then the next more detailed chart at the same place and scale.
    view->SmoothZoomAtPoint(-1, 380, 280);
    ASSERT_EQ(Current(), "coastal.qct");
    ASSERT_EQ(view->ZoomLevel(), -1);
    double lat0, lon0;
    LatLonAt(380, 280, lat0, lon0);
    const double scale0 = view->getDisplayedScale() * view->DrawScale();
    view->SmoothZoomAtPoint(-1, 380, 280);
    ASSERT_EQ(Current(), "harbour.qct");
    double lat1, lon1;
    LatLonAt(380, 280, lat1, lon1);
    EXPECT_NEAR(lat1, lat0, 0.001);
    EXPECT_NEAR(lon1, lon0, 0.002);
    EXPECT_EQ(view->ZoomLevel(), 1);
    EXPECT_NEAR(view->getDisplayedScale(), scale0, scale0 * 0.01);

    // Out: up the levels of this chart, then back to the coastal and on to the overview.
    std::vector<std::string> seen;
    for (int i = 0; i < 12; ++i) {
        view->SmoothZoomAtPoint(1, 380, 280);
        if (seen.empty() || seen.back() != Current()) seen.push_back(Current());
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"harbour.qct", "coastal.qct", "overview.qct"}));
    EXPECT_EQ(view->ZoomLevel(), view->MaxZoomLevel());
    // Each level and chart keeps the place under the cursor to within a screen pixel.
    double x, y;
    ASSERT_TRUE(view->LatLongToScreen(lat0, lon0, x, y));
    EXPECT_NEAR(x, 380, 1.5);
    EXPECT_NEAR(y, 280, 1.5);
}

TEST_F(ChartViewCharts, ChangeMapScaleAndTheSettingThatTurnsSwitchingOff) {
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.234));
    EXPECT_FALSE(view->ChangeMapScale(0));
    EXPECT_TRUE(view->ChangeMapScale(-1));
    EXPECT_EQ(Current(), "harbour.qct");
    EXPECT_FALSE(view->ChangeMapScale(-1));  // nothing more detailed
    EXPECT_TRUE(view->ChangeMapScale(1));
    EXPECT_EQ(Current(), "coastal.qct");

    CQuickChartView::settings().change_scale_by_zooming = false;
    for (int i = 0; i < 6; ++i) view->SmoothZoomAtPoint(-1, 400, 300);
    EXPECT_EQ(Current(), "coastal.qct");
    EXPECT_EQ(view->ZoomLevel(), -2);
    for (int i = 0; i < 8; ++i) view->SmoothZoomAtPoint(1, 400, 300);
    EXPECT_EQ(Current(), "coastal.qct");
    EXPECT_EQ(view->ZoomLevel(), 3);
}

TEST_F(ChartViewCharts, OneChartCatalogueHintsAtMostOnceInTwoDays) {
    MakeCharts({NestedCharts()[1]});
    view = MakeView();
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0));
    view->ZoomToLevel(-2, 400, 300);
    view->SmoothZoomAtPoint(-1, 400, 300);
    view->SmoothZoomAtPoint(-1, 400, 300);
    EXPECT_EQ(view->ZoomLevel(), -2);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Hint");
    EXPECT_EQ(ui.messages[0].text,
              "To view additional maps, tap the Maps button, then \"Kartova Store\".\n\n"
              "Sign-in or Create an Account when prompted.");
    EXPECT_EQ(CQuickChartView::settings().timeOfLastZoomHint, now);
    now += 172800 - 1;
    view->SmoothZoomAtPoint(-1, 400, 300);
    EXPECT_EQ(ui.messages.size(), 1u);
    now += 2;
    view->SmoothZoomAtPoint(-1, 400, 300);
    EXPECT_EQ(ui.messages.size(), 2u);
    // Zooming out from there is an ordinary level change.
    view->SmoothZoomAtPoint(1, 400, 300);
    EXPECT_EQ(view->ZoomLevel(), -1);
}

TEST_F(ChartViewCharts, ReopeningRestoresPositionAndLevel) {
    ASSERT_TRUE(GotoBest(*view, 50.1, -0.3, 0.234));
    view->ZoomToLevel(1, 400, 300);
    view->DoScroll(-37, 21);
    double lat0, lon0;
    ASSERT_TRUE(view->GetCenterLatLon(lat0, lon0));
    const double scale0 = view->getDisplayedScale();
    view->CloseAndReOpenCurrentMap();
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
    double lat1, lon1;
    ASSERT_TRUE(view->GetCenterLatLon(lat1, lon1));
    EXPECT_EQ(view->ZoomLevel(), 1);
    EXPECT_NEAR(lat1, lat0, 0.005);
    EXPECT_NEAR(lon1, lon0, 0.01);
    EXPECT_NEAR(view->getDisplayedScale(), scale0, scale0 * 1e-3);

    // Closed altogether, the view comes back through the catalogue.
    view->Close();
    EXPECT_FALSE(view->IsOpen());
    EXPECT_EQ(view->getDisplayedScale(), 0);
    view->RestoreCurrentMapView();
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen(); }));
    EXPECT_EQ(Current(), "coastal.qct");
}

TEST_F(ChartViewCharts, FailedOpenFallsBackToTheLastGoodChart) {
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.234));
    double lat0, lon0;
    ASSERT_TRUE(view->GetCenterLatLon(lat0, lon0));
    const std::string bad = Dir() + "/broken.qct";
    {
        std::ofstream f(bad, std::ios::binary);
        f << std::string(20000, 'x');
    }
    EXPECT_FALSE(Open(*view, bad));
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
    EXPECT_EQ(Current(), "coastal.qct");
    double lat1, lon1;
    ASSERT_TRUE(view->GetCenterLatLon(lat1, lon1));
    EXPECT_NEAR(lat1, lat0, 0.005);
    EXPECT_NEAR(lon1, lon0, 0.01);

    // With nothing to fall back on the view is left empty, without a crash.
    auto fresh = MakeView();
    EXPECT_FALSE(Open(*fresh, bad));
    EXPECT_FALSE(fresh->IsOpen());
    EXPECT_FALSE(fresh->IsOpening());
    double lat, lon;
    EXPECT_FALSE(fresh->GetCenterLatLon(lat, lon));
    EXPECT_TRUE(FileExists(bad));  // never in the catalogue, so never deleted
}

TEST_F(ChartViewCharts, GotoAreaFitsTheWholeAreaOnScreen) {
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0));
    const CBounds areas[] = {
        CBounds(-0.2, 0.2, 49.9, 50.1),  // x = longitude, y = latitude
        CBounds(-1.0, 1.2, 49.5, 50.6), CBounds(-4.0, 5.0, 47.0, 53.0),
        CBounds(0.05, 0.06, 50.0, 50.3),  // tall and narrow
    };
    for (const CBounds& b : areas) {
        view->GotoLocation(b);
        ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
        const FRect& s = view->ScreenRect();
        double minx = 1e9, maxx = -1e9, miny = 1e9, maxy = -1e9;
        for (double lon : {b.xmin, b.xmax}) {
            for (double lat : {b.ymin, b.ymax}) {
                double x, y;
                ASSERT_TRUE(view->LatLongToScreen(lat, lon, x, y));
                EXPECT_TRUE(x >= s.left && x <= s.right && y >= s.top && y <= s.bottom)
                    << view->CurrentPath() << " corner " << lat << "," << lon << " at " << x << "," << y;
                minx = std::min(minx, x), maxx = std::max(maxx, x), miny = std::min(miny, y), maxy = std::max(maxy, y);
            }
        }
        // ... and not lost in the middle of it either.
        EXPECT_TRUE(maxx - minx > s.Width() / 4 || maxy - miny > s.Height() / 4) << view->CurrentPath();
        double clat, clon;
        ASSERT_TRUE(view->GetCenterLatLon(clat, clon));
        EXPECT_NEAR(clat, (b.ymin + b.ymax) / 2, (b.ymax - b.ymin) / 20 + 0.002);
        EXPECT_NEAR(clon, (b.xmin + b.xmax) / 2, (b.xmax - b.xmin) / 20 + 0.004);
    }
}

TEST_F(ChartViewCharts, FirstFixOpensTheBestChartAndLockFollows) {
    CDataGPSPosition pos;
    pos.SetLatLon(50.05, 0.1);
    Listener<CDataGPSPosition>::Publish(pos);
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen(); }));
    EXPECT_EQ(Current(), "harbour.qct");
    view->LockOnToGPS(NV_HWND(), true);
    EXPECT_TRUE(view->IsGPSLocked());
    double x, y;
    ASSERT_TRUE(view->LatLongToScreen(50.05, 0.1, x, y));
    EXPECT_NEAR(x, 400, 1.0);
    EXPECT_NEAR(y, 300, 1.0);

    pos.SetLatLon(50.1, 0.2);
    Listener<CDataGPSPosition>::Publish(pos);
    ASSERT_TRUE(view->LatLongToScreen(50.1, 0.2, x, y));
    EXPECT_NEAR(x, 400, 1.0);
    EXPECT_NEAR(y, 300, 1.0);
    EXPECT_EQ(Current(), "harbour.qct");

    // Leaving the harbour chart switches to one that holds the boat, still locked on.
    pos.SetLatLon(50.6, 0.9);
    Listener<CDataGPSPosition>::Publish(pos);
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
    EXPECT_EQ(Current(), "coastal.qct");
    EXPECT_TRUE(view->IsGPSLocked());
    ASSERT_TRUE(view->LatLongToScreen(50.6, 0.9, x, y));
    EXPECT_NEAR(x, 400, 2.0);
    EXPECT_NEAR(y, 300, 2.0);

    // Centring on a place lets go of the boat.
    view->GotoLocation(NV_HWND(), true, 50.3, 0.5);
    EXPECT_FALSE(view->IsGPSLocked());
    EXPECT_EQ(view->ZoomLevel(), 0);
    ASSERT_TRUE(view->LatLongToScreen(50.3, 0.5, x, y));
    EXPECT_NEAR(x, 400, 1.0);
    EXPECT_NEAR(y, 300, 1.0);
}

TEST_F(ChartViewCharts, NewMarkGoesToTheBoatOrTheCentre) {
    QTemporaryDir markDir;
    CMarkManager manager;
    manager.SetDirectory(markDir.path().toStdString());
    ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.234));
    CDataGPSPosition pos;
    pos.SetLatLon(50.2, 0.3);
    Listener<CDataGPSPosition>::Publish(pos);
    view->LockOnToGPS(NV_HWND(), true);
    view->CreateNewMark();
    view->LockOnToGPS(NV_HWND(), false);
    view->DoScroll(100, 0);
    view->CreateNewMark();
    ASSERT_EQ(manager.Marks().size(), 2u);
    EXPECT_DOUBLE_EQ(manager.Marks()[0]->getLat(), 50.2);
    EXPECT_DOUBLE_EQ(manager.Marks()[0]->getLon(), 0.3);
    EXPECT_NEAR(manager.Marks()[1]->getLat(), 50.2, 0.01);
    EXPECT_LT(manager.Marks()[1]->getLon(), 0.3 - 0.1);
}

TEST_F(ChartViewCharts, StoredStateRoundTrips) {
    ASSERT_TRUE(GotoBest(*view, 50.1, -0.3, 0.234));
    view->ZoomToLevel(1, 400, 300);
    view->DoScroll(55, -20);
    view->SetSecondFileName("profile.dat");
    double lat0, lon0;
    ASSERT_TRUE(view->GetCenterLatLon(lat0, lon0));
    const std::string state = Dir() + "/0.dvqc";
    ASSERT_TRUE(view->WriteFile(state));
    EXPECT_FALSE(FileExists(state + ".tmp"));

    auto again = MakeView();
    again->setScreenRect(0, 0, 2, 2);
    ASSERT_TRUE(again->ReadFile(state));
    ASSERT_TRUE(WaitFor([&] { return again->IsOpen() && !again->IsOpening(); }));
    EXPECT_EQ(again->CurrentPath(), view->CurrentPath());
    EXPECT_EQ(again->SecondFileName(), "profile.dat");
    EXPECT_EQ(again->ScreenRect().right, 800);
    EXPECT_EQ(again->ScreenRect().bottom, 600);
    EXPECT_EQ(again->ZoomLevel(), 1);
    double lat1, lon1;
    ASSERT_TRUE(again->GetCenterLatLon(lat1, lon1));
    EXPECT_NEAR(lat1, lat0, 0.005);
    EXPECT_NEAR(lon1, lon0, 0.01);

    // A stored chart that has gone: the catalogue supplies the best one for the place.
    std::remove(view->CurrentPath().c_str());
    list->Refresh();
    auto third = MakeView();
    ASSERT_TRUE(third->ReadFile(state));
    ASSERT_TRUE(WaitFor([&] { return third->IsOpen() && !third->IsOpening(); }));
    EXPECT_NE(Name(third->CurrentPath()), "coastal.qct");
    double lat2, lon2;
    ASSERT_TRUE(third->GetCenterLatLon(lat2, lon2));
    EXPECT_NEAR(lat2, lat0, 0.02);

    // Truncated or foreign files are refused and leave the view as it was.
    const long long size = FileSize(state);
    for (long long cut : {0LL, 5LL, 9LL, size / 2, size - 1}) {
        const std::string t = Dir() + "/cut.dvqc";
        {
            std::ifstream in(state, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), {});
            std::ofstream out(t, std::ios::binary | std::ios::trunc);
            out << bytes.substr(0, size_t(cut));
        }
        auto v = MakeView();
        EXPECT_FALSE(v->ReadFile(t)) << cut;
        EXPECT_FALSE(v->IsOpen() || v->IsOpening()) << cut;
        EXPECT_EQ(v->ScreenRect().right, 800) << cut;
    }
}

TEST_F(ChartViewCharts, SettingsUseTheirStoredKeys) {
    auto& s = CQuickChartView::settings();
    EXPECT_EQ(s.Name(), "CQuickChartView");
    std::string v;
    ASSERT_TRUE(PersistantData::SetValue("CQuickChartView:app_default_lat", "12.5"));
    EXPECT_EQ(s.app_default_lat, 12.5);
    ASSERT_TRUE(PersistantData::SetValue("CQuickChartView:scale_bar_color", "#A0FFBB33"));
    EXPECT_EQ(s.scale_bar_color, GraphicsColor(0xFF, 0xBB, 0x33, 0xA0));
    ASSERT_TRUE(PersistantData::GetValue("CQuickChartView:change_scale_by_zooming", v));
    // The default position is read but never written back.
    EXPECT_FALSE(PersistantData::GetValue("CQuickChartView:app_default_lon", v));
    s.app_default_lat = 43.04144;
}

}  // namespace
