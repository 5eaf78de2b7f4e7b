// SPDX-License-Identifier: GPL-3.0-or-later
// Overlays in the view: hit testing, tap cycling through stacks, presses, drawing order.

#include <QImage>

#include <cmath>

#include "core/display_metrics.h"
#include "test_chartview_support.h"
#include "tests/support/recording_ui.h"

using namespace cvtest;

namespace {

class ChartViewOverlays : public ChartViewFixture {
protected:
    void SetUp() override {
        ChartViewFixture::SetUp();
        CurrentTool() = &tool;
        MakeCharts({NestedCharts()[0], NestedCharts()[1]});
        view = MakeView();
        ASSERT_TRUE(GotoBest(*view, 50.0, 0.0, 0.234));
        ASSERT_EQ(Name(view->CurrentPath()), "coastal.qct");
        TestMark::drawOrder().clear();
    }
    void TearDown() override {
        SetGraphicsResolution(1.0);
        marks.clear();
        ChartViewFixture::TearDown();
        CurrentTool() = nullptr;
    }
    TestMark* AddMark(double lat, double lon, unsigned layer = COverlayObject::LAYER_MARK) {
        marks.push_back(std::make_unique<TestMark>(lat, lon, layer));
        marks.back()->Dispatch(COverlayObject::UPDATE_CHANGED);
        return marks.back().get();
    }
    FPoint ScreenOf(double lat, double lon) {
        double x = 0, y = 0;
        EXPECT_TRUE(view->LatLongToScreen(lat, lon, x, y));
        return FPoint(x, y);
    }

    RecordingUi ui;
    TestTool tool;
    std::vector<std::unique_ptr<TestMark>> marks;
};

TEST_F(ChartViewOverlays, RepeatedTapsCycleDownThroughAStack) {
    TestMark* a = AddMark(50.0, 0.0);
    TestMark* b = AddMark(50.0, 0.0);
    TestMark* c = AddMark(50.0, 0.0);  // newest: on top
    const FPoint p = ScreenOf(50.0, 0.0);
    std::vector<COverlayObject*> picked;
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(view->onTap(p.x + 3, p.y - 2, graphicsTouchPrecisionSq));
        picked.push_back(tool.selected);
    }
    EXPECT_EQ(picked, (std::vector<COverlayObject*>{c, b, a, c, b, a, c}));

    // A tap on empty chart deselects.
    EXPECT_FALSE(view->onTap(p.x + 100, p.y, graphicsTouchPrecisionSq));
    EXPECT_EQ(tool.selected, nullptr);

    // Objects that decline are passed over; a higher layer is tried first.
    b->acceptTap = false;
    TestMark* ais = AddMark(50.0, 0.0, COverlayObject::LAYER_AIS_TARGET);
    view->onTap(p.x, p.y, graphicsTouchPrecisionSq);
    EXPECT_EQ(tool.selected, ais);
    view->onTap(p.x, p.y, graphicsTouchPrecisionSq);
    EXPECT_EQ(tool.selected, c);
    view->onTap(p.x, p.y, graphicsTouchPrecisionSq);
    EXPECT_EQ(tool.selected, a);
    EXPECT_GE(b->taps, 2);
}

TEST_F(ChartViewOverlays, HitRadiusAndVisibility) {
    TestMark* m = AddMark(50.1, 0.1);
    const FPoint p = ScreenOf(50.1, 0.1);
    EXPECT_FALSE(view->onTap(p.x + 15, p.y, 225));  // the radius itself does not count
    EXPECT_EQ(m->taps, 0);
    EXPECT_TRUE(view->onTap(p.x + 14, p.y, 225));
    m->visible = false;
    m->Dispatch(COverlayObject::UPDATE_CHANGED);
    EXPECT_EQ(view->MappingOf(m), nullptr);
    EXPECT_FALSE(view->onTap(p.x, p.y, 225));
    m->visible = true;
    m->Dispatch(COverlayObject::UPDATE_CHANGED);
    ASSERT_NE(view->MappingOf(m), nullptr);

    // Gone objects are forgotten, also as the press target.
    m->acceptPress = true;
    view->onMouseDown(p.x, p.y);
    EXPECT_EQ(view->PressTarget(), m);
    marks.clear();
    EXPECT_EQ(view->PressTarget(), nullptr);
    EXPECT_EQ(view->MappingCount(), 0u);
    view->onMouseUp();
}

TEST_F(ChartViewOverlays, PressGoesToTheObjectOrStartsAPan) {
    TestMark* m = AddMark(50.1, 0.1);
    m->acceptPress = true;
    const FPoint p = ScreenOf(50.1, 0.1);
    view->onMouseDown(p.x + 2, p.y + 2);
    EXPECT_EQ(view->PressTarget(), m);
    EXPECT_FALSE(view->IsAnimating());  // no pan started
    view->onMouseUp();
    EXPECT_EQ(m->releases, 1);
    EXPECT_EQ(view->PressTarget(), nullptr);

    m->acceptPress = false;
    const double x0 = view->ViewParams().offset_x;
    view->onMouseDown(p.x, p.y);
    EXPECT_EQ(view->PressTarget(), nullptr);
    view->onSingleTouchMove(p.x + 30, p.y);
    EXPECT_EQ(view->ViewParams().offset_x, x0 - 30);
    EXPECT_EQ(tool.moved.x, 30);  // the tool's centre follows the pan
    view->onMouseUp();
    EXPECT_EQ(m->releases, 1);

    // On a screen of two device pixels per point the radii are twice as long, for a
    // press as for a tap, and a touch must move twice as far to count as moved.
    m->acceptPress = true;
    const FPoint q = ScreenOf(50.1, 0.1);  // the pan moved it
    view->onMouseDown(q.x + 12, q.y);
    EXPECT_EQ(view->PressTarget(), nullptr);
    view->onMouseUp();
    SetGraphicsResolution(2.0);
    view->onMouseDown(q.x + 12, q.y);
    EXPECT_EQ(view->PressTarget(), m);
    view->onMouseUp();
    EXPECT_TRUE(view->onTap(q.x + 25, q.y, graphicsTouchPrecisionSq));
    view->onSingleTouchDown(q.x, q.y);
    view->onSingleTouchMove(q.x + 20, q.y);
    EXPECT_FALSE(view->HasMoved());
    view->onSingleTouchMove(q.x + 31, q.y);
    EXPECT_TRUE(view->HasMoved());
    view->onMouseUp();
}

TEST_F(ChartViewOverlays, DrawsChartThenOverlaysByLayer) {
    TestMark* top = AddMark(50.0, 0.0, COverlayObject::LAYER_GPS_POSITION);
    TestMark* route = AddMark(50.0, 0.05, COverlayObject::LAYER_ROUTE);
    TestMark* far = AddMark(48.0, 0.0);  // far off screen: not drawn
    TestMark* mark = AddMark(50.01, 0.0);
    (void)far;
    QImage img(800, 600, QImage::Format_RGB32);
    bool complete = false;
    for (int i = 0; i < 2000 && !complete; ++i) {
        img.fill(Qt::black);
        QPainter painter(&img);
        TestMark::drawOrder().clear();
        complete = view->onDraw(&painter, 0, 0, 800, 600);
        painter.end();
        if (!complete) {
            QThread::msleep(2);
            view->onTimer();
        }
    }
    ASSERT_TRUE(complete);
    EXPECT_EQ(TestMark::drawOrder(), (std::vector<const TestMark*>{route, mark, top}));
    // The chart's own colour between its grid lines, the grid's on them.
    const DblPoint origin = view->ViewParams().ScreenToImage(0, 0);
    const int gx = int(64 - std::fmod(origin.x, 64.0)) % 64, gy = int(64 - std::fmod(origin.y, 64.0)) % 64;
    EXPECT_EQ(img.pixel(gx + 212, gy + 212) & 0xFFFFFF, 0x33CC66u);
    EXPECT_EQ(img.pixel(gx + 192, gy + 212) & 0xFFFFFF, 0x202020u);
    const FPoint p = ScreenOf(50.0, 0.0);
    EXPECT_EQ(img.pixel(int(p.x), int(p.y)) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(ChartViewOverlays, RightClickListsTheChartsUnderTheCursor) {
    RecordingUi ui;
    ui.chooser = [](const std::string&, const std::vector<std::string>&) { return 1; };
    view->rightMouseDown(400, 300);
    ASSERT_EQ(ui.lists.size(), 1u);
    EXPECT_EQ(ui.lists[0].title, "Maps at cursor");
    const std::vector<std::string>& offered = ui.lists[0].buttons;
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].rfind("coastal", 0), 0u);
    EXPECT_EQ(offered[1].rfind("overview", 0), 0u);
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
    EXPECT_EQ(Name(view->CurrentPath()), "overview.qct");
}

TEST_F(ChartViewOverlays, TapOffTheChartOpensOneThatCoversIt) {
    // Zoomed far out, the coastal chart leaves room around it; a tap there is on the overview.
    view->ZoomToLevel(3, 400, 300);
    double lat, lon;
    ASSERT_TRUE(view->ScreenTolatlong(300, 250, lat, lon));
    ASSERT_FALSE(view->CurrentChartDoesContain(lat, lon));
    EXPECT_TRUE(view->onTap(300, 250, 225));
    ASSERT_TRUE(WaitFor([&] { return view->IsOpen() && !view->IsOpening(); }));
    EXPECT_EQ(Name(view->CurrentPath()), "overview.qct");
    // On the chart itself nothing happens.
    EXPECT_FALSE(view->onTap(400, 300, 225));
}

}  // namespace
