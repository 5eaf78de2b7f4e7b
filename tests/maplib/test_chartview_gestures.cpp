// SPDX-License-Identifier: GPL-3.0-or-later
// Panning, flinging, zooming and pinching: what the user feels under the finger.

#include <cmath>
#include <limits>

#include <QImage>

#include "test_chartview_support.h"
#include "tests/support/recording_ui.h"

using namespace cvtest;

namespace {

class ChartViewGestures : public ChartViewFixture {
protected:
    void SetUp() override {
        ChartViewFixture::SetUp();
        MakeCharts({NestedCharts()[1]});
        view = MakeView();
        ASSERT_TRUE(Open(*view, paths[0]));
    }
    // The image point under a screen point.
    DblPoint ImageAt(double x, double y) const { return view->ViewParams().ScreenToImage(x, y); }

    RecordingUi ui;
};

bool IsWhole(double v) {
    return std::fabs(v - std::round(v)) < 1e-9;
}

TEST_F(ChartViewGestures, ZoomLevelLimits) {
    view->ZoomToLevel(-5, 400, 300);
    EXPECT_EQ(view->ZoomLevel(), -2);
    EXPECT_DOUBLE_EQ(view->ViewParams().scale, 4.0);
    EXPECT_FALSE(view->DoZoom(-1));
    view->ZoomToLevel(9, 400, 300);
    EXPECT_EQ(view->ZoomLevel(), view->MaxZoomLevel());
    EXPECT_EQ(view->MaxZoomLevel(), 3);
    EXPECT_FALSE(view->DoZoom(1));
    EXPECT_DOUBLE_EQ(view->ViewParams().scale, 0.125);
}

TEST_F(ChartViewGestures, PanningMovesByWholePixelsOfTheRightKind) {
    // Zoomed out, the chart moves by whole screen pixels; zoomed in, by whole chart pixels.
    const double deltas[][2] = {{3.3, -2.7}, {0.4, 0.6}, {-7.5, 7.5}, {11.2, 0.49}};
    for (int z = -2; z <= 3; ++z) {
        view->ZoomToLevel(z, 400, 300);
        ASSERT_EQ(view->ZoomLevel(), z);
        const double f = view->ViewParams().scale;
        for (const auto& d : deltas) {
            const FPoint applied = view->DoScroll(d[0], d[1]);
            const auto& vp = view->ViewParams();
            if (z >= 1) {
                EXPECT_TRUE(IsWhole(vp.offset_x * f) && IsWhole(vp.offset_y * f)) << "z=" << z;
                EXPECT_TRUE(IsWhole(applied.x) && IsWhole(applied.y)) << "z=" << z;
            } else {
                EXPECT_TRUE(IsWhole(vp.offset_x) && IsWhole(vp.offset_y)) << "z=" << z;
                EXPECT_TRUE(IsWhole(applied.x / f) && IsWhole(applied.y / f)) << "z=" << z;
            }
            // Never more than half a step from what was asked.
            EXPECT_LE(std::fabs(applied.x - d[0]), std::max(f, 1.0) / 2 + 1e-9);
            EXPECT_LE(std::fabs(applied.y - d[1]), std::max(f, 1.0) / 2 + 1e-9);
        }
    }
}

TEST_F(ChartViewGestures, ZoomKeepsThePointUnderTheCursor) {
    view->ZoomToLevel(0, 400, 300);
    const DblPoint before = ImageAt(250, 170);
    view->SmoothZoomAtPoint(-1, 250, 170);
    EXPECT_EQ(view->ZoomLevel(), -1);
    EXPECT_DOUBLE_EQ(view->DrawScale(), 0.75);  // grows back to full size on the timer
    const DblPoint after = ImageAt(250, 170);
    EXPECT_NEAR(after.x, before.x, 0.5);
    EXPECT_NEAR(after.y, before.y, 0.5);
    view->SmoothZoomAtPoint(1, 250, 170);
    view->SmoothZoomAtPoint(1, 250, 170);
    EXPECT_EQ(view->ZoomLevel(), 1);
    const DblPoint out = ImageAt(250, 170);
    EXPECT_NEAR(out.x, before.x, 2.0);
    EXPECT_NEAR(out.y, before.y, 2.0);
    for (int i = 0; i < 10 && view->IsAnimating(); ++i) view->onTimer();
    EXPECT_FALSE(view->IsAnimating());
    EXPECT_EQ(view->DrawScale(), 1.0);
}

// Drags from the centre by `dx` over 0.2 s, lets go and records the offset at every tick.
std::vector<double> Fling(ChartViewFixture& f, CQuickChartView& v, double& now, double dx) {
    const double x0 = v.ViewParams().offset_x;
    v.onSingleTouchDown(400, 300);
    now += 0.05;
    v.onSingleTouchMove(400 + dx / 4, 300);
    now += 0.15;
    v.onSingleTouchMove(400 + dx, 300);
    v.ClearPressed();
    std::vector<double> track;
    for (int i = 0; i < 200 && v.IsAnimating(); ++i) {
        v.onTimer();
        track.push_back(v.ViewParams().offset_x - x0);
    }
    (void)f;
    return track;
}

TEST_F(ChartViewGestures, FlingLeftAndRightGlideAlike) {
    for (int z : {0, 1, -1}) {
        for (double d : {25.0, 50.0, 37.0}) {
            view->ZoomToLevel(z, 400, 300);
            const std::vector<double> right = Fling(*this, *view, now, d);
            const std::vector<double> left = Fling(*this, *view, now, -d);
            ASSERT_FALSE(right.empty());
            ASSERT_EQ(right.size(), left.size()) << "z=" << z << " d=" << d;
            for (size_t i = 0; i < right.size(); ++i) EXPECT_EQ(right[i], -left[i]) << "tick " << i;
            // Moving the finger right drags the chart right: the offset falls, and keeps
            // falling after release, ever more slowly.
            EXPECT_LT(right.back(), -1.0);
            EXPECT_FALSE(view->IsAnimating());
        }
    }
}

TEST_F(ChartViewGestures, SlowDragStillMovesAndPressMarksMovedOnlyBeyondPrecision) {
    view->ZoomToLevel(0, 400, 300);
    const double x0 = view->ViewParams().offset_x;
    view->onSingleTouchDown(400, 300);
    for (int i = 1; i <= 10; ++i) {
        now += 0.016;
        view->onSingleTouchMove(400 + 0.4 * i, 300);
    }
    // Ten moves of 0.4 pixel add up to 4 pixels although each alone rounds to nothing.
    EXPECT_EQ(view->ViewParams().offset_x, x0 - 4);
    EXPECT_FALSE(view->HasMoved());
    view->onSingleTouchMove(420, 300);
    EXPECT_TRUE(view->HasMoved());
}

TEST_F(ChartViewGestures, PinchToFourTimesEndsTwoLevelsIn) {
    view->ZoomToLevel(0, 400, 300);
    const DblPoint centre = ImageAt(300, 200);
    // Distances arrive squared: a spread to four times the finger distance is 16x.
    view->onPinchBegin(300, 200, 100);
    for (double d : {150.0, 400.0, 900.0, 1600.0}) view->onPinchMove(300, 200, d);
    EXPECT_EQ(view->ZoomLevel(), -2);
    view->onPinchEnd();
    EXPECT_FALSE(view->IsPinching());
    for (int i = 0; i < 20 && view->IsAnimating(); ++i) view->onTimer();
    EXPECT_EQ(view->ZoomLevel(), -2);
    EXPECT_EQ(view->DrawScale(), 1.0);
    EXPECT_FALSE(view->IsAnimating());
    const DblPoint after = ImageAt(300, 200);
    EXPECT_NEAR(after.x, centre.x, 1.0);
    EXPECT_NEAR(after.y, centre.y, 1.0);
}

TEST_F(ChartViewGestures, PinchThatStopsHalfwaySettlesOnAWholeLevel) {
    view->ZoomToLevel(1, 400, 300);
    view->onPinchBegin(400, 300, 400);
    view->onPinchMove(400, 300, 144);  // fingers closer: the picture shrinks to 0.6
    EXPECT_NEAR(view->DrawScale(), 0.6, 1e-9);
    view->onPinchEnd();
    EXPECT_EQ(view->ZoomLevel(), 2);
    for (int i = 0; i < 20 && view->IsAnimating(); ++i) view->onTimer();
    EXPECT_EQ(view->DrawScale(), 1.0);
}

TEST_F(ChartViewGestures, ResizeKeepsCentreOrRelativeLockPoint) {
    view->ZoomToLevel(0, 400, 300);
    const DblPoint centre = ImageAt(400, 300);
    view->setScreenRect(0, 0, 1000, 500);
    const DblPoint moved = ImageAt(500, 250);
    EXPECT_NEAR(moved.x, centre.x, 0.5);
    EXPECT_NEAR(moved.y, centre.y, 0.5);

    // Locked on the GPS with the boat a quarter across and three quarters down.
    CDataGPSPosition pos;
    pos.SetLatLon(50.0, 0.1);
    Listener<CDataGPSPosition>::Publish(pos);
    view->LockOnToGPS(NV_HWND(), true);
    view->DoScroll(-250, 125);
    ASSERT_TRUE(view->IsGPSLocked());
    EXPECT_EQ(view->LockPoint(), FPoint(250, 375));
    view->setScreenRect(0, 0, 600, 800);
    EXPECT_EQ(view->LockPoint(), FPoint(150, 600));
    double sx, sy;
    ASSERT_TRUE(view->LatLongToScreen(50.0, 0.1, sx, sy));
    EXPECT_NEAR(sx, 150, 1.0);
    EXPECT_NEAR(sy, 600, 1.0);

    // Panning the boat off screen lets go of it.
    view->DoScroll(-500, 0);
    EXPECT_FALSE(view->IsGPSLocked());
}

TEST_F(ChartViewGestures, AbsurdInputLeavesTheViewUsable) {
    view->ZoomToLevel(-2, 400, 300);
    const auto before = view->ViewParams();
    view->DoScroll(1e300, -1e300);
    view->DoScroll(NAN, 5);
    view->DoScroll(std::numeric_limits<double>::infinity(), 0);
    EXPECT_EQ(view->ViewParams().offset_x, before.offset_x);
    EXPECT_EQ(view->ViewParams().offset_y, before.offset_y);
    for (int i = 0; i < 100; ++i) view->DoScroll(-4e6, 0);  // a long way, but not off into nowhere
    EXPECT_LE(std::fabs(view->ViewParams().offset_x), CQuickChartView::kMaxOffset);
    view->onPinchBegin(10, 10, NAN);
    view->onPinchMove(10, 10, -5);
    view->onPinchMove(10, 10, 1e308);
    view->onPinchEnd();
    EXPECT_GE(view->ZoomLevel(), CQuickChartView::kMinZoom);
    QImage img(64, 64, QImage::Format_RGB32);
    QPainter painter(&img);
    EXPECT_FALSE(view->onDraw(&painter, 0, 0, 1e12, 1e12));
    view->onDraw(&painter, 0, 0, 64, 64);
    view->onTap(NAN, NAN, 225);  // lands nowhere, harmlessly
}

}  // namespace
