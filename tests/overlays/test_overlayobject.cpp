// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QTransform>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "core/pubsub.h"
#include "overlays/overlayobject.h"

namespace {

using Obj = COverlayObject;

class TestOverlay : public COverlayObject {
public:
    explicit TestOverlay(unsigned layer = LAYER_MARK, object_type type = OBJECT_MARK) : COverlayObject(layer, type) {}
    void Map(CMapping&, const CPolynomialProjection&) const override {}
    void Draw(QPainter*, CMapping&) const override {}
    void MapToScreen(CMapping&) const override { ++hookCalls; }
    mutable int hookCalls = 0;
};

// An object that announces its own destruction while it is still whole, as the concrete
// overlays do so that listeners can still look at them.
class EarlyDestroyOverlay : public TestOverlay {
public:
    ~EarlyDestroyOverlay() override { Dispatch(UPDATE_DESTROYED); }
    int payload = 42;
};

struct Recorder : Listener<COverlayObject> {
    std::vector<std::pair<uint32_t, int>> seen;
    std::vector<int> payloads;  // of EarlyDestroyOverlay objects seen being destroyed
    void OnUpdate(COverlayObject& o) override {
        seen.emplace_back(o.OrderKey(), o.UpdateState());
        if (o.UpdateState() == Obj::UPDATE_DESTROYED) {
            if (auto* e = dynamic_cast<EarlyDestroyOverlay*>(&o)) payloads.push_back(e->payload);
        }
    }
    int Count(uint32_t key, int action) const {
        return int(std::count(seen.begin(), seen.end(), std::make_pair(key, action)));
    }
};

TEST(OverlayOrderKey, LayerInTopBitsAndDrawingOrderFollowsLayers) {
    // Created in the reverse of the drawing order: the key alone must sort them.
    TestOverlay gps(Obj::LAYER_GPS_POSITION, Obj::OBJECT_GPS_POSITION);
    TestOverlay ais(Obj::LAYER_AIS_TARGET, Obj::OBJECT_AIS_TARGET);
    TestOverlay mark(Obj::LAYER_MARK, Obj::OBJECT_MARK);
    TestOverlay track(Obj::LAYER_TRACK_SECTION, Obj::OBJECT_TRACK_SECTION);
    TestOverlay route(Obj::LAYER_ROUTE, Obj::OBJECT_ROUTE);

    EXPECT_EQ(gps.OrderKey() >> 28, 12u);
    EXPECT_EQ(route.Layer(), 2u);
    EXPECT_EQ(mark.ObjectType(), Obj::OBJECT_MARK);

    std::map<uint32_t, const char*> drawOrder;
    for (auto [o, name] : {std::pair<Obj*, const char*>{&gps, "gps"},
                           {&ais, "ais"},
                           {&mark, "mark"},
                           {&track, "track"},
                           {&route, "route"}})
        drawOrder[o->OrderKey()] = name;
    std::vector<std::string> names;
    for (auto& [key, name] : drawOrder) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"route", "track", "mark", "ais", "gps"}));
}

TEST(OverlayOrderKey, UniqueAmongLiveObjectsThroughCreateAndDestroy) {
    const size_t before = Obj::LiveObjectCount();
    std::vector<std::unique_ptr<TestOverlay>> live;
    std::set<uint32_t> numbers;
    // Objects of different layers must not share a number either: the number alone names
    // an object's system notifications.
    for (int i = 0; i < 300; ++i) live.push_back(std::make_unique<TestOverlay>(i % 2 ? 6 : 10));
    for (auto& o : live) numbers.insert(o->OrderKey() & Obj::kNumberMask);
    EXPECT_EQ(numbers.size(), live.size());

    // Destroy every other one, make more; numbers stay unique among the living, and the
    // numbers just freed are not handed straight out again.
    std::set<uint32_t> freed;
    for (size_t i = 0; i < live.size(); i += 2) {
        freed.insert(live[i]->OrderKey() & Obj::kNumberMask);
        live[i].reset();
    }
    live.erase(std::remove(live.begin(), live.end(), nullptr), live.end());
    for (int i = 0; i < 150; ++i) {
        auto o = std::make_unique<TestOverlay>();
        EXPECT_EQ(freed.count(o->OrderKey() & Obj::kNumberMask), 0u);
        live.push_back(std::move(o));
    }
    numbers.clear();
    for (auto& o : live) numbers.insert(o->OrderKey() & Obj::kNumberMask);
    EXPECT_EQ(numbers.size(), live.size());
    EXPECT_EQ(Obj::LiveObjectCount(), before + live.size());
    live.clear();
    EXPECT_EQ(Obj::LiveObjectCount(), before);
}

TEST(OverlayDispatch, ListenersSeeChangesAndExactlyOneDestroy) {
    Recorder rec;
    Recorder second;
    uint32_t key;
    {
        TestOverlay o;
        key = o.OrderKey();
        EXPECT_EQ(o.UpdateState(), Obj::UPDATE_NONE);
        o.Dispatch(Obj::UPDATE_CHANGED);
        o.Dispatch(Obj::UPDATE_MOVED);
        o.Dispatch(Obj::UPDATE_LIST_ACTION);
        EXPECT_EQ(o.UpdateState(), Obj::UPDATE_LIST_ACTION);
    }
    const std::vector<std::pair<uint32_t, int>> expected = {{key, 1}, {key, 2}, {key, 4}, {key, 3}};
    EXPECT_EQ(rec.seen, expected);
    EXPECT_EQ(second.seen, expected);
}

TEST(OverlayDispatch, NothingIsSentAfterTheDestroy) {
    Recorder rec;
    uint32_t key;
    {
        EarlyDestroyOverlay o;
        key = o.OrderKey();
        o.Dispatch(Obj::UPDATE_CHANGED);
    }  // the derived destructor announces it, the base must not repeat it
    EXPECT_EQ(rec.Count(key, Obj::UPDATE_DESTROYED), 1);
    // Announced while the derived part still existed.
    EXPECT_EQ(rec.payloads, std::vector<int>{42});

    TestOverlay o;
    o.Dispatch(Obj::UPDATE_DESTROYED);
    o.Dispatch(Obj::UPDATE_CHANGED);
    EXPECT_TRUE(o.IsDestroyed());
    EXPECT_EQ(rec.Count(o.OrderKey(), Obj::UPDATE_CHANGED), 0);
    EXPECT_EQ(rec.Count(o.OrderKey(), Obj::UPDATE_DESTROYED), 1);
}

TEST(OverlayDispatch, WorksWithoutListenersAndWithListenersLeavingOnDestroy) {
    {
        TestOverlay lonely;  // nobody listens: must neither crash nor leak
        lonely.Dispatch(Obj::UPDATE_CHANGED);
    }
    // A view that drops itself when it learns an object is gone (the last listener
    // deleting the data source in the middle of the dispatch).
    struct LeavingView : Listener<COverlayObject> {
        int destroys = 0;
        void OnUpdate(COverlayObject& o) override {
            if (o.IsDestroyed()) {
                ++destroys;
                Disconnect();
            }
        }
    };
    auto view = std::make_unique<LeavingView>();
    { TestOverlay o; }
    EXPECT_EQ(view->destroys, 1);
    EXPECT_FALSE(view->IsConnected());
    { TestOverlay o; }
    EXPECT_EQ(view->destroys, 1);
}

TEST(ViewParams, TransformsAreInverseAndRectsMapBothCorners) {
    Obj::CViewParams v;
    v.scale = 2.5;
    v.offset_x = 100;
    v.offset_y = -40;
    const FPoint s = v.ImageToScreen(110, -20);
    EXPECT_DOUBLE_EQ(s.x, 25);
    EXPECT_DOUBLE_EQ(s.y, 50);
    const DblPoint i = v.ScreenToImage(s.x, s.y);
    EXPECT_DOUBLE_EQ(i.x, 110);
    EXPECT_DOUBLE_EQ(i.y, -20);
    const FRect r = v.ScreenToImage(v.ImageToScreen(FRect(100, -40, 200, 60)));
    EXPECT_DOUBLE_EQ(r.left, 100);
    EXPECT_DOUBLE_EQ(r.bottom, 60);
}

TEST(ViewParams, ApplyDeltaKeepsWholePixelsAndReportsWhatMoved) {
    // Image-pixel mode at 2x: a 3-pixel drag can only move 1 image pixel (2 screen px).
    Obj::CViewParams v;
    v.mode = 0;
    v.scale = 2;
    v.offset_x = 10;
    v.offset_y = 10;
    double dx = 3, dy = -0.4;
    v.ApplyDelta(dx, dy);
    EXPECT_DOUBLE_EQ(v.offset_x, 9);   // round(10 - 1.5) = round(8.5)
    EXPECT_DOUBLE_EQ(dx, 2);           // moved 1 image pixel = 2 screen pixels
    EXPECT_DOUBLE_EQ(v.offset_y, 10);  // too small to move
    EXPECT_DOUBLE_EQ(dy, 0);

    // Screen-pixel mode: the offset lands on whole screen pixels.
    Obj::CViewParams w;
    w.mode = 1;
    w.scale = 2;
    w.offset_x = 10;
    w.offset_y = 10;
    dx = 3;
    dy = 0.4;
    w.ApplyDelta(dx, dy);
    EXPECT_DOUBLE_EQ(w.offset_x, 8.5);
    EXPECT_DOUBLE_EQ(dx, 3);
    EXPECT_DOUBLE_EQ(dy, 0);

    // A view without a usable scale moves nothing rather than producing infinities.
    Obj::CViewParams bad;
    bad.scale = 0;
    dx = 5;
    dy = 5;
    bad.ApplyDelta(dx, dy);
    EXPECT_EQ(dx, 0);
    EXPECT_EQ(bad.offset_x, 0);
}

TEST(ViewParams, AdjustOffsetPutsImagePointUnderScreenPoint) {
    for (int mode : {0, 1}) {
        Obj::CViewParams v;
        v.mode = mode;
        v.scale = 0.75;
        v.AdjustOffset(400, 300, 1234.6, 987.2);
        const FPoint s = v.ImageToScreen(1234.6, 987.2);
        // Within the rounding the mode allows: half an image pixel, or half a screen pixel.
        const double tol = mode < 1 ? 0.5 * v.scale : 0.5;
        EXPECT_NEAR(s.x, 400, tol) << mode;
        EXPECT_NEAR(s.y, 300, tol) << mode;
        if (mode < 1)
            EXPECT_EQ(v.offset_x, std::round(v.offset_x));
        else
            EXPECT_EQ(v.offset_x * v.scale, std::round(v.offset_x * v.scale));
    }
}

Obj::CViewParams View(double l, double t, double r, double b) {
    Obj::CViewParams v;
    v.scale = 1;
    v.offset_x = l;
    v.offset_y = t;
    v.visible = FRect(l, t, r, b);
    return v;
}

TEST(Mapping, EmptyAndPlaceholderMappingsAreNeverDrawn) {
    TestOverlay o;
    Obj::CMapping m(&o);
    EXPECT_EQ(m.bounds.left, 2147483647.0);
    EXPECT_EQ(m.bounds.bottom, 2147483647.0);
    // Even a view reaching far out must not take the cleared bounds for a real object.
    EXPECT_FALSE(m.map_to_screen(View(-1e9, -1e9, 1e9, 1e9)));

    m.points = {{0, 0}, {0, 0}};
    m.kind = Obj::CMapping::HIT_POINTS;
    m.count = 2;
    m.set_bounds();
    EXPECT_FALSE(m.map_to_screen(View(-100, -100, 100, 100)));
    EXPECT_TRUE(m.screen.empty());
    EXPECT_EQ(o.hookCalls, 0);

    // Placeholders do not drag the box towards the origin.
    m.points = {{0, 0}, {500, 600}, {510, 590}};
    m.set_bounds();
    EXPECT_EQ(m.bounds.left, 500);
    EXPECT_EQ(m.bounds.top, 590);
    EXPECT_EQ(m.bounds.right, 510);
    EXPECT_EQ(m.bounds.bottom, 600);
    EXPECT_FALSE(m.map_to_screen(View(0, 0, 400, 400)));

    m.clear();
    EXPECT_TRUE(m.points.empty());
    EXPECT_EQ(m.kind, Obj::CMapping::HIT_NEVER);
    EXPECT_EQ(m.count, 0);
}

TEST(Mapping, ObjectsOnTheViewEdgeAreMappedAndStaleScreenPointsDropped) {
    TestOverlay o;
    Obj::CMapping m(&o);
    m.points = {{400, 200}};  // a single mark exactly on the right edge
    m.kind = Obj::CMapping::HIT_POINTS;
    m.count = 1;
    m.set_bounds();
    Obj::CViewParams v = View(0, 0, 400, 300);
    v.scale = 2;
    ASSERT_TRUE(m.map_to_screen(v));
    ASSERT_EQ(m.screen.size(), 1u);
    EXPECT_EQ(m.screen[0], DblPoint(800, 400));
    EXPECT_EQ(o.hookCalls, 1);

    // The view moves away: the old screen point must not remain hittable.
    EXPECT_FALSE(m.map_to_screen(View(401, 0, 800, 300)));
    EXPECT_TRUE(m.screen.empty());
    EXPECT_FALSE(m.HitTest_mapped(800, 400, 100));

    // An always-hit object is kept in play even off view.
    m.kind = Obj::CMapping::HIT_ALWAYS;
    EXPECT_TRUE(m.map_to_screen(View(401, 0, 800, 300)));
    EXPECT_EQ(o.hookCalls, 1);

    // The transform form.
    m.kind = Obj::CMapping::HIT_POINTS;
    QTransform t;
    t.translate(10, 20);
    t.scale(0.5, 0.5);
    ASSERT_TRUE(m.map_to_screen(t, FRect(0, 0, 1000, 1000)));
    EXPECT_EQ(m.screen[0], DblPoint(210, 120));
    EXPECT_EQ(o.hookCalls, 2);
    EXPECT_FALSE(m.map_to_screen(t, FRect(0, 0, 100, 100)));
}

TEST(Mapping, HitTestsByKind) {
    Obj::CMapping m;
    m.screen = {{0, 0}, {100, 0}, {100, 100}};

    m.kind = Obj::CMapping::HIT_POINTS;
    m.count = 1;
    EXPECT_TRUE(m.HitTest_mapped(3, 4, 26));    // distance^2 25
    EXPECT_FALSE(m.HitTest_mapped(3, 4, 25));   // strictly nearer only
    EXPECT_FALSE(m.HitTest_mapped(100, 1, 4));  // second point does not count
    m.count = 2;
    EXPECT_TRUE(m.HitTest_mapped(100, 1, 4));
    m.count = 50;  // more than there are points
    EXPECT_TRUE(m.HitTest_mapped(100, 99, 4));
    m.count = -1;
    EXPECT_FALSE(m.HitTest_mapped(0, 0, 4));

    m.kind = Obj::CMapping::HIT_POLYLINE;
    EXPECT_TRUE(m.HitTest_mapped(50, 3, 10));     // beside the middle of the first leg
    EXPECT_FALSE(m.HitTest_mapped(50, 50, 100));  // inside the corner, far from both legs
    EXPECT_TRUE(m.HitTest_mapped(103, 50, 10));
    EXPECT_FALSE(m.HitTest_mapped(-5, 0, 10));  // beyond the end of the line
    EXPECT_FALSE(m.HitTest_mapped(100, 104, 9));

    m.kind = Obj::CMapping::HIT_ALWAYS;
    EXPECT_TRUE(m.HitTest_mapped(1e6, 1e6, 1));
    m.kind = Obj::CMapping::HIT_NEVER;
    EXPECT_FALSE(m.HitTest_mapped(0, 0, 1e9));

    // A route whose middle point could not be projected: neither the point nor the
    // legs to it may catch taps at the screen position of the image origin.
    Obj::CMapping route;
    route.points = {{100, 100}, {0, 0}, {300, 100}, {300, 300}};
    route.kind = Obj::CMapping::HIT_POLYLINE;
    route.set_bounds();
    ASSERT_TRUE(route.map_to_screen(View(50, 50, 400, 400)));
    EXPECT_FALSE(route.HitTest_mapped(-50, -50, 4));  // where the placeholder landed
    EXPECT_FALSE(route.HitTest_mapped(25, 25, 4));    // on the leg towards it
    EXPECT_TRUE(route.HitTest_mapped(250, 150, 4));   // on the real leg
    route.kind = Obj::CMapping::HIT_POINTS;
    route.count = 4;
    EXPECT_FALSE(route.HitTest_mapped(-50, -50, 4));
    EXPECT_TRUE(route.HitTest_mapped(50, 50, 4));

    m.kind = Obj::CMapping::HIT_POLYLINE;
    m.screen.clear();
    EXPECT_FALSE(m.HitTest_mapped(0, 0, 1e9));
    m.screen = {{7, 7}};
    EXPECT_TRUE(m.HitTest_mapped(7, 8, 2));
}

}  // namespace
