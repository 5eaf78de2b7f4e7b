// SPDX-License-Identifier: GPL-3.0-or-later
// The map item's life: its stored view state, the scale bar, the highlight, painting and
// what the application asks of it.
#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include <fstream>
#include <iterator>

#include "overlays/highlight.h"
#include "maplib/mapcontrollable.h"
#include "tests/maplib/quick/mapitem_fixture.h"
#include "tests/support/recording_ui.h"

using maptest::MapItemFixture;

namespace {
std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}
}  // namespace

TEST_F(MapItemFixture, NegativeIndexReadsTheStateOfIndexZeroButNeverWritesIt) {
    const std::string state = getAppDirectory() + "/0.dvqc";
    auto* s = AddMap(page);
    ASSERT_EQ(s->index, 0);
    Attach(page);
    CDisplayViewQuickChart* first = MapOf(page, s);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->StateFilePath(), state);
    ASSERT_TRUE(ShowChart(first, 1));
    page->DetachFromWindow();
    ASSERT_TRUE(FileExists(state));
    const std::string stored = Bytes(state);

    otherPage = set.AddNewPage();
    auto* borrowed = AddMap(otherPage);
    borrowed->index = -1;
    Attach(otherPage);
    CDisplayViewQuickChart* second = MapOf(otherPage, borrowed);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->StateFilePath(), state);
    CQuickChartView* v = second->View();
    ASSERT_TRUE(cvtest::WaitFor([v] { return v->IsOpen() && !v->IsOpening(); }));
    EXPECT_EQ(Name(v->CurrentPath()), "coastal.qct");

    // Another chart and another place: still nothing written when it goes.
    ASSERT_TRUE(ShowChart(second, 0));
    v->DoScroll(123, 45);
    otherPage->DetachFromWindow();
    EXPECT_EQ(Bytes(state), stored);
    EXPECT_FALSE(FileExists(getAppDirectory() + "/-1.dvqc"));
}

TEST_F(MapItemFixture, StoredStateBringsTheSameChartAndPlaceBack) {
    auto* s = AddMap(page);
    Attach(page);
    CDisplayViewQuickChart* map = MapOf(page, s);
    ASSERT_TRUE(ShowChart(map, 2));
    map->View()->setScreenRect(0, 0, 796, 596);
    map->View()->DoScroll(-40, 25);
    double lat0, lon0;
    ASSERT_TRUE(map->View()->GetCenterLatLon(lat0, lon0));
    page->DetachFromWindow();

    Attach(page);
    map = MapOf(page, s);
    CQuickChartView* v = map->View();
    ASSERT_TRUE(cvtest::WaitFor([v] { return v->IsOpen() && !v->IsOpening(); }));
    EXPECT_EQ(Name(v->CurrentPath()), "harbour.qct");
    double lat1, lon1;
    ASSERT_TRUE(v->GetCenterLatLon(lat1, lon1));
    EXPECT_NEAR(lat1, lat0, 0.002);
    EXPECT_NEAR(lon1, lon0, 0.002);
}

TEST_F(MapItemFixture, ScaleBarIgnoresChangesWithinATenthOfAPercent) {
    CDisplayViewQuickChart* map = MapShowingCoastal();
    ASSERT_TRUE(map);
    CDVI_QuickChart_Window* win = map->QuickWindow();
    map->OnHeartbeat();
    const double w0 = win->scaleBarWidth();
    const QString t0 = win->scaleBarText();
    EXPECT_GT(w0, 0);
    EXPECT_LE(w0, 250);
    EXPECT_FALSE(t0.isEmpty());

    // The published scale is per device-independent pixel, so the ratio moves it exactly.
    QSignalSpy spy(win, &CDVI_QuickChart_Window::scaleBarChanged);
    graphicsResolution = 1.0009;
    win->onChangedScale();
    EXPECT_EQ(spy.count(), 0);
    graphicsResolution = 1.0 / 1.0009;
    win->onChangedScale();
    EXPECT_EQ(spy.count(), 0);
    graphicsResolution = 1.0012;
    win->onChangedScale();
    EXPECT_EQ(spy.count(), 1);
    graphicsResolution = 1.0;

    // A level further out: a different round distance or a different bar.
    map->View()->ZoomToLevel(map->View()->ZoomLevel() + 1, 398, 298);
    map->OnHeartbeat();
    EXPECT_TRUE(win->scaleBarWidth() != w0 || win->scaleBarText() != t0);

    // Switched off the bar goes; switched on it comes back at once.
    CQuickChartView::settings().show_scale_bar = false;
    map->OnHeartbeat();
    EXPECT_EQ(win->scaleBarWidth(), 0);
    EXPECT_TRUE(win->scaleBarText().isEmpty());
    CQuickChartView::settings().show_scale_bar = true;
    map->OnHeartbeat();
    EXPECT_GT(win->scaleBarWidth(), 0);

    // A narrow map gets a bar of at most 40 % of its width.
    map->QuickWindow()->setWidth(100);
    map->View()->ZoomToLevel(map->View()->ZoomLevel() - 1, 50, 50);
    map->OnHeartbeat();
    EXPECT_LE(win->scaleBarWidth(), 40);
}

TEST_F(MapItemFixture, PaintDrawsTheChartAndTheHighlightWhereThePositionIs) {
    CDisplayViewQuickChart* map = MapShowingCoastal();
    ASSERT_TRUE(map);
    CDVI_QuickChart_Window* win = map->QuickWindow();
    graphicsResolution = 2.0;
    win->setWidth(200);
    win->setHeight(150);
    // What the window shows of the item: QtQuick prepares the frame in its polish step
    // and then paints.
    QImage img;
    auto paint = [&] {
        const QPointF at = win->mapToScene(QPointF(0, 0));
        img = window->grabWindow().copy(QRectF(at, QSizeF(200, 150)).toRect());
        ASSERT_EQ(img.size(), QSize(200, 150));
    };
    paint();
    // The view saw the item in device pixels.
    EXPECT_DOUBLE_EQ(map->View()->ScreenRect().right, 400);
    EXPECT_DOUBLE_EQ(map->View()->ScreenRect().bottom, 300);

    double lat, lon;
    ASSERT_TRUE(map->View()->ScreenTolatlong(120, 100, lat, lon));
    CGlobalLatLongHighlight::Show(lat, lon);
    EXPECT_TRUE(win->HasHighlightIcon());
    paint();
    const QColor centre = img.pixelColor(60, 50);  // device (120, 100) at ratio 2
    EXPECT_GT(centre.red(), 180);
    EXPECT_LT(centre.green(), 80);
    EXPECT_GT(centre.blue(), 120);

    CGlobalLatLongHighlight::Clear();
    EXPECT_FALSE(win->HasHighlightIcon());
    paint();
    EXPECT_NE(img.pixelColor(60, 50), centre);
}

TEST_F(MapItemFixture, AnswersTheApplicationAsAMapControllable) {
    EXPECT_EQ(CDisplayViewQuickChart::FromItem(nullptr), nullptr);
    EXPECT_TRUE(IMapControllable::ControllableTypes().count(CDisplayViewQuickChart::kTypeId));
    auto* s = AddMap(page, 0, 0, 20, 51);
    auto* b = page->AddItem(CDisplayView::CItemSettingsType::findType(123), 21, 0, 3, 5);
    Attach(page);
    EXPECT_EQ(CDisplayViewQuickChart::FromItem(page->Arrangement().FindItem(b)), nullptr);
    EXPECT_EQ(IMapControllable::FromItem(page->Arrangement().FindItem(b)), nullptr);
    CDisplayViewQuickChart* map = MapOf(page, s);
    ASSERT_TRUE(map);
    EXPECT_EQ(IMapControllable::FromItem(page->Arrangement().FindItem(s)), map);

    double lat, lon;
    map->GetCurrentlyViewedLocation(lat, lon);  // nothing open yet
    EXPECT_EQ(lat, IMapControllable::kNoLocation);
    EXPECT_EQ(lon, IMapControllable::kNoLocation);

    EXPECT_FALSE(map->ShowAreaOnTheMap(CBounds()));
    // The harbour area: the view fits it and picks a chart that shows it.
    ASSERT_TRUE(map->ShowAreaOnTheMap(CBounds(-0.2, 0.2, 49.9, 50.1)));
    CQuickChartView* v = map->View();
    ASSERT_TRUE(cvtest::WaitFor([v] { return v->IsOpen() && !v->IsOpening(); }));
    map->GetCurrentlyViewedLocation(lat, lon);
    EXPECT_NEAR(lat, 50.0, 0.05);
    EXPECT_NEAR(lon, 0.0, 0.05);

    // The place search gets the position looked at.
    {
        RecordingUi ui;
        cvtest::FakeFetcher offline;
        CChartList::SetFetcher(&offline);
        map->GetAssocAndFindPlace(map->Hwnd());
        CChartList::SetFetcher(nullptr);
        ASSERT_EQ(ui.pages, std::vector<std::string>{"FindPlace"});
    }
    const CPageRequest request = IMapControllable::FindPlaceRequest("", lat, lon);
    EXPECT_NEAR(std::stod(request.Arg("lat")), 50.0, 0.05);
}
