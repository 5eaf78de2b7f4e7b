// SPDX-License-Identifier: GPL-3.0-or-later
// Input reaching the chart view through a real window: mouse drags and clicks, the wheel
// and the touchpad, touches, keys, and the toolbar buttons over a map.
#include <QGuiApplication>
#include <QPointingDevice>
#include <QStyleHints>
#include <QPainter>
#include <QSignalSpy>

#include "tests/maplib/quick/mapitem_fixture.h"
#include "tests/support/recording_ui.h"

using maptest::MapItemFixture;

namespace {

class MapInput : public MapItemFixture {
protected:
    void SetUp() override {
        MapItemFixture::SetUp();
        map = MapShowingCoastal();
        ASSERT_TRUE(map);
        v = map->View();
        win = map->QuickWindow();
        // The component, not the bare fallback item, must have been made.
        ASSERT_TRUE(win->findChild<QObject*>(QStringLiteral("mapsButton")));
    }
    // Two presses in quick succession would be a double click.
    static void PauseBetweenGestures() { QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50); }
    double OffsetX() const { return v->ViewParams().offset_x; }
    double OffsetY() const { return v->ViewParams().offset_y; }

    CDisplayViewQuickChart* map = nullptr;
    CQuickChartView* v = nullptr;
    CDVI_QuickChart_Window* win = nullptr;
};

}  // namespace

TEST_F(MapInput, MouseDragPansByTheDistanceAndAClickDoesNot) {
    // A click on the chart leaves the map where it is.
    const double x0 = OffsetX(), y0 = OffsetY(), scale = v->ViewParams().scale;
    Drag({400, 300}, {400, 300}, 1);
    EXPECT_DOUBLE_EQ(OffsetX(), x0);
    EXPECT_DOUBLE_EQ(OffsetY(), y0);
    PauseBetweenGestures();

    Drag({400, 300}, {300, 250});
    EXPECT_NEAR((OffsetX() - x0) * scale, 100, 2.0 * std::max(1.0, scale));
    EXPECT_NEAR((OffsetY() - y0) * scale, 50, 2.0 * std::max(1.0, scale));
    EXPECT_FALSE(v->IsPressed());
}

// A pan as the user makes it: a press, moves with a frame shown after each, a release;
// then what the window shows is exactly the view's own frame. Under the threaded render
// loop the frames are painted on the scene graph's thread while input arrives.
TEST_F(MapInput, AScriptedPanShowsTheViewsOwnFrames) {
    cvtest::TestMark mark(50.0, 0.0);  // an overlay drawn in the same paint
    mark.Dispatch(COverlayObject::UPDATE_CHANGED);
    v->ZoomToLevel(0, 398, 298);  // chart pixels one to one: the grid lines show a pixel out of place
    const double x0 = OffsetX(), scale = v->ViewParams().scale;
    // The scene graph's thread announces its frames; the count is kept on this thread.
    int frames = 0;
    QObject counter;
    QObject::connect(window.get(), &QQuickWindow::frameSwapped, &counter, [&frames] { ++frames; },
                     Qt::QueuedConnection);
    Mouse(QEvent::MouseButtonPress, {400, 300}, Qt::LeftButton, Qt::LeftButton);
    for (int step = 1; step <= 24; ++step) {
        Mouse(QEvent::MouseMove, {400.0 - 7 * step, 300.0 - 3 * step}, Qt::NoButton, Qt::LeftButton);
        const int seen = frames;
        window->requestUpdate();
        ASSERT_TRUE(QTest::qWaitFor([&] { return frames > seen; }, 5000)) << "step " << step;
    }
    Mouse(QEvent::MouseButtonRelease, {232, 228}, Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR((OffsetX() - x0) * scale, 168, 2.0 * std::max(1.0, scale));

    ASSERT_TRUE(cvtest::WaitFor([&] {
        map->OnHeartbeat();
        return v->LastFrameComplete();
    }));
    const QImage shown = window->grabWindow();
    const QPointF at = win->mapToScene(QPointF(0, 0));
    const QSize size(int(win->width()), int(win->height()));
    QImage own(size, QImage::Format_RGB32);
    own.fill(Qt::white);
    {
        QPainter p(&own);
        v->onDraw(&p, 0, 0, size.width(), size.height());
    }
    const QImage part = shown.copy(QRect(at.toPoint(), size)).convertToFormat(QImage::Format_RGB32);
    // The buttons down the left edge and the scale bar at the bottom are drawn over the map.
    int differ = 0;
    for (int y = 0; y < size.height() - 48; ++y)
        for (int x = 64; x < size.width(); ++x) differ += part.pixel(x, y) != own.pixel(x, y);
    EXPECT_EQ(differ, 0);
}

TEST_F(MapInput, ClickTapsTheObjectUnderItAndADragDoesNot) {
    double lat, lon;
    ASSERT_TRUE(v->ScreenTolatlong(398, 298, lat, lon));  // window (400, 300) is item (398, 298)
    cvtest::TestMark mark(lat, lon);
    mark.Dispatch(COverlayObject::UPDATE_CHANGED);
    Drag({400, 300}, {400, 300}, 1);
    EXPECT_EQ(mark.taps, 1);
    PauseBetweenGestures();
    Drag({400, 300}, {300, 300});
    EXPECT_EQ(mark.taps, 1);
}

TEST_F(MapInput, WheelNotchZoomsOneLevelAtThePointerAndHalfANotchNothing) {
    const int z = v->ZoomLevel();
    ASSERT_GE(z, 1);
    Wheel({200, 150}, {0, 60});
    EXPECT_EQ(v->ZoomLevel(), z);
    Wheel({200, 150}, {0, 120});
    EXPECT_EQ(v->ZoomLevel(), z - 1);
    EXPECT_DOUBLE_EQ(v->ZoomPoint().x, 198);
    EXPECT_DOUBLE_EQ(v->ZoomPoint().y, 148);
    Wheel({200, 150}, {0, -120});
    EXPECT_EQ(v->ZoomLevel(), z);
}

TEST_F(MapInput, TouchpadScrollPansAndInvertedScrollPansTheOtherWay) {
    const double x0 = OffsetX(), scale = v->ViewParams().scale;
    Wheel({400, 300}, {0, 0}, {40, 0});
    const double moved = (OffsetX() - x0) * scale;
    EXPECT_NEAR(moved, 40, 2.0 * std::max(1.0, scale));
    const double x1 = OffsetX();
    Wheel({400, 300}, {0, 0}, {40, 0}, true);
    EXPECT_NEAR((OffsetX() - x1) * scale, -40, 2.0 * std::max(1.0, scale));
}

TEST_F(MapInput, TouchPansAndATouchTapTaps) {
    std::unique_ptr<QPointingDevice> touch(QTest::createTouchDevice());
    double lat, lon;
    ASSERT_TRUE(v->ScreenTolatlong(398, 298, lat, lon));
    cvtest::TestMark mark(lat, lon);
    mark.Dispatch(COverlayObject::UPDATE_CHANGED);

    QTest::touchEvent(window.get(), touch.get()).press(0, {400, 300});
    QTest::touchEvent(window.get(), touch.get()).release(0, {400, 300});
    EXPECT_EQ(mark.taps, 1);
    PauseBetweenGestures();

    const double x0 = OffsetX(), scale = v->ViewParams().scale;
    QTest::touchEvent(window.get(), touch.get()).press(0, {400, 300});
    // The window may hold touch moves back until its next frame; the release delivers them.
    for (int x = 380; x >= 300; x -= 20) QTest::touchEvent(window.get(), touch.get()).move(0, {x, 300});
    QTest::touchEvent(window.get(), touch.get()).release(0, {300, 300});
    EXPECT_NEAR((OffsetX() - x0) * scale, 100, 3.0 * std::max(1.0, scale));
    EXPECT_EQ(mark.taps, 1);
}

TEST_F(MapInput, HandlersWorkInDevicePixelsAndPinchDistancesPassUnchanged) {
    graphicsResolution = 2.0;
    win->onMouseWheel(0.9f, 100, 50);  // truncates to no zoom, yet sets the zoom point
    EXPECT_DOUBLE_EQ(v->ZoomPoint().x, 200);
    EXPECT_DOUBLE_EQ(v->ZoomPoint().y, 100);

    const int z = v->ZoomLevel();
    ASSERT_GE(z, 2);
    win->onPinchBegin(100, 100, 10000);
    win->onPinchMove(100, 100, 40000);  // four times the distance squared: twice as far apart
    EXPECT_EQ(v->ZoomLevel(), z - 1);
    win->onPinchEnd();
    EXPECT_FALSE(v->IsPinching());
    EXPECT_FALSE(v->IsPressed());
}

TEST_F(MapInput, KeysScrollZoomAndRunDoneButNotWhileArranging) {
    Drag({400, 300}, {400, 300}, 1);  // a click gives the map the keyboard
    ASSERT_TRUE(win->hasActiveFocus());
    const double scale = v->ViewParams().scale;

    double x0 = OffsetX();
    Key(Qt::Key_Left);
    EXPECT_NEAR((OffsetX() - x0) * scale, -100, std::max(1.0, scale));
    const double y0 = OffsetY();
    Key(Qt::Key_Down);
    EXPECT_NEAR((OffsetY() - y0) * scale, 100, std::max(1.0, scale));

    const int z = v->ZoomLevel();
    Key(Qt::Key_Plus);
    EXPECT_EQ(v->ZoomLevel(), z - 1);
    Key(Qt::Key_Minus);
    EXPECT_EQ(v->ZoomLevel(), z);

    // Escape belongs to whoever set the Done action; without one it is not ours.
    EXPECT_FALSE(win->onKeyPressed(Qt::Key_Escape));
    int done = 0;
    SetDoneButtonCallback([&done] { ++done; });
    Key(Qt::Key_Escape);
    EXPECT_EQ(done, 1);
    EXPECT_FALSE(DoneButtonIsActive());

    EXPECT_FALSE(win->onKeyPressed(Qt::Key_F7));

    page->SetArranging(true);
    x0 = OffsetX();
    EXPECT_FALSE(win->onKeyPressed(Qt::Key_Left));
    EXPECT_FALSE(win->onKeyPressed(Qt::Key_Plus));
    Key(Qt::Key_Right);
    EXPECT_DOUBLE_EQ(OffsetX(), x0);
    EXPECT_EQ(v->ZoomLevel(), z);
    page->SetArranging(false);
    EXPECT_TRUE(win->onKeyPressed(Qt::Key_Right));
    EXPECT_NE(OffsetX(), x0);
}

TEST_F(MapInput, LockButtonAndHomeKeyFollowTheGpsAndPanningReleasesIt) {
    QSignalSpy spy(win, &CDVI_QuickChart_Window::gpsLockedOnChanged);
    win->onClickedLockGPS();
    EXPECT_TRUE(v->IsGPSLocked());
    EXPECT_TRUE(win->gpsLockedOn());
    EXPECT_GE(spy.count(), 1);

    v->DoScroll(5000, 0);  // the lock point leaves the screen
    ASSERT_FALSE(v->IsGPSLocked());
    spy.clear();
    map->OnHeartbeat();
    EXPECT_FALSE(win->gpsLockedOn());
    EXPECT_EQ(spy.count(), 1);

    EXPECT_TRUE(win->onKeyPressed(Qt::Key_G));
    EXPECT_TRUE(v->IsGPSLocked());
    EXPECT_TRUE(win->gpsLockedOn());
}

// ---- toolbar buttons ----

namespace {
CDisplayView::CItemButton* ButtonOf(CDisplayView* page, CDisplayView::CItemSettings* s) {
    return dynamic_cast<CDisplayView::CItemButton*>(page->Arrangement().FindItem(s));
}
}  // namespace

TEST_F(MapItemFixture, ToolbarButtonsActOnTheMapBeneathThem) {
    for (int id : {123, 124, 125, 126, 127, 129, 135, 136, 138}) {
        const auto* type = CDisplayView::CItemSettingsType::findType(id);
        ASSERT_TRUE(type);
        EXPECT_FALSE(type->IsPlaceholder()) << id;
    }
    auto* leftSettings = AddMap(page, 0, 0, 25, 25);
    auto* rightSettings = AddMap(page, 0, 26, 25, 25);
    auto* zoomIn = page->AddItem(CDisplayView::CItemSettingsType::findType(123), 2, 30, 3, 5);
    auto* scaleIn = page->AddItem(CDisplayView::CItemSettingsType::findType(135), 8, 30, 3, 5);
    auto* zoomOutNowhere = page->AddItem(CDisplayView::CItemSettingsType::findType(124), 20, 25, 3, 1);
    auto* lock = page->AddItem(CDisplayView::CItemSettingsType::findType(129), 14, 30, 3, 5);
    Attach(page);
    CDisplayViewQuickChart* left = MapOf(page, leftSettings);
    CDisplayViewQuickChart* right = MapOf(page, rightSettings);
    ASSERT_TRUE(left && right);
    ASSERT_TRUE(ShowChart(left, 1));
    ASSERT_TRUE(ShowChart(right, 1));
    const int zl = left->View()->ZoomLevel(), zr = right->View()->ZoomLevel();

    ButtonOf(page, zoomIn)->onClicked();
    EXPECT_EQ(right->View()->ZoomLevel(), zr - 1);
    EXPECT_EQ(left->View()->ZoomLevel(), zl);

    ButtonOf(page, zoomOutNowhere)->onClicked();  // over the gap between the maps
    EXPECT_EQ(left->View()->ZoomLevel(), zl);
    EXPECT_EQ(right->View()->ZoomLevel(), zr - 1);

    // Scale In: the more detailed chart of the catalogue.
    ButtonOf(page, scaleIn)->onClicked();
    CQuickChartView* rv = right->View();
    ASSERT_TRUE(cvtest::WaitFor([rv] { return rv->IsOpen() && !rv->IsOpening(); }));
    EXPECT_EQ(Name(rv->CurrentPath()), "harbour.qct");
    EXPECT_EQ(Name(left->View()->CurrentPath()), "coastal.qct");

    RecordingUi ui;
    ButtonOf(page, lock)->onClicked();
    EXPECT_EQ(ui.locks, 1);
}
