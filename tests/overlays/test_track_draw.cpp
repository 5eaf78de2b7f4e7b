// SPDX-License-Identifier: GPL-3.0-or-later
// Tracks on the chart: what the views are told, mapping, hit testing and drawing.

#include <QImage>
#include <QPainter>

#include <map>

#include "charts/georef.h"
#include "test_track_support.h"

namespace {

// A chart of 1000 pixels per degree either way, north up, its corner at (51, -3).
CPolynomialProjection LinearChart() {
    const double k = 1000.0;
    const double fwd[2][10] = {{k * 3.0, 0, k}, {k * 51.0, -k, 0}};
    const double inv[2][10] = {{51.0, 0, -1 / k}, {-3.0, 1 / k, 0}};
    CPolynomialProjection p;
    p.init(fwd, inv, 2000, 2000, 0, 0);
    return p;
}

// What a view keeps: the last action per live section.
struct View : Listener<COverlayObject> {
    void OnUpdate(COverlayObject& o) override {
        if (o.ObjectType() != COverlayObject::OBJECT_TRACK_SECTION) return;
        if (o.UpdateState() == COverlayObject::UPDATE_DESTROYED || !o.isVisible())
            shown.erase(&o);
        else
            shown[&o] = o.UpdateState();
        ++updates;
    }
    std::map<COverlayObject*, int> shown;
    int updates = 0;
};

}  // namespace

TEST_F(TrackTest, ViewsFollowTheActiveTrackAsItGrowsAndGoes) {
    View view;
    SailNorth(2, 30, 5, false);
    EXPECT_EQ(view.shown.size(), 1u);  // a line from the second point on
    const int before = view.updates;
    SailNorth(70, 30, 5, false, kT0 + 10, kLat + 0.001);
    EXPECT_EQ(view.shown.size(), 2u);
    EXPECT_GE(view.updates - before, 70);  // every point redraws its section

    // A view that opens later is told about every section at once.
    View late;
    manager->GetUpdatesForAll(COverlayObject::UPDATE_CHANGED, late);
    EXPECT_EQ(late.shown.size(), 2u);

    Active()->SetVisible(false);
    EXPECT_TRUE(view.shown.empty());
    Active()->SetVisible(true);
    EXPECT_EQ(view.shown.size(), 2u);
    manager->DeleteTrack(Active());
    EXPECT_TRUE(view.shown.empty());
    Restart(true);
    View after;
    manager->GetUpdatesForAll(COverlayObject::UPDATE_CHANGED, after);
    EXPECT_TRUE(after.shown.empty());
}

TEST_F(TrackTest, SectionsMapHitAndDrawInTheirStyle) {
    // A line from (50.5, -2.9) north-east in steps of 7 pixels on this chart.
    std::vector<CTrackPoint> pts;
    for (int i = 0; i < 100; ++i) pts.emplace_back(50.5 + i * 0.005, -2.9 + i * 0.005, kT0 + i * 10);
    manager->ClearAll();
    auto owned = std::make_unique<COverlayTrack>();
    owned->setName("Harbour run");
    owned->SetPoints(pts);
    COverlayTrack* t = manager->AddTrack(std::move(owned));
    t->SetLineStyle(GraphicsColor(0, 0, 255), 3.0f, 0);

    const CPolynomialProjection chart = LinearChart();
    COverlayObject::CViewParams vp;
    vp.scale = 1.0;
    vp.offset_x = 0;
    vp.offset_y = 0;
    vp.visible = FRect(0, 0, 800, 800);
    QImage image(800, 800, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    std::vector<COverlayObject::CMapping> maps;
    for (const auto& sec : t->getSections()) {
        maps.emplace_back(sec.get());
        sec->Map(maps.back(), chart);
        ASSERT_TRUE(maps.back().map_to_screen(vp));
        sec->Draw(&painter, maps.back());
    }
    painter.end();
    // The first point is at pixel (100, 500), the 64th at (415, 185).
    ASSERT_EQ(maps[0].points.size(), 64u);
    EXPECT_NEAR(maps[0].screen[0].x, 100, 1e-3);
    EXPECT_NEAR(maps[0].screen[0].y, 500, 1e-3);
    // On the line, in the track's colour; beside it, untouched.
    const QColor on = image.pixelColor(150, 450), off = image.pixelColor(150, 440);
    EXPECT_GT(on.blue(), 200);
    EXPECT_LT(on.red(), 60);
    EXPECT_EQ(off, QColor(Qt::white));
    // Hit within the radius of the line, not beyond; each section answers for its part.
    EXPECT_TRUE(maps[0].HitTest_mapped(153, 450, 16));
    EXPECT_FALSE(maps[0].HitTest_mapped(160, 450, 16));
    EXPECT_FALSE(maps[1].HitTest_mapped(150, 450, 16));
    EXPECT_TRUE(maps[1].HitTest_mapped(500, 100, 16));
    // A section off the view is not moved to the screen, nor drawn.
    vp.visible = FRect(1000, 1000, 1800, 1800);
    EXPECT_FALSE(maps[0].map_to_screen(vp));

    // Zoomed far out the steps are under a pixel: the line is still drawn, thinner.
    vp.scale = 0.1;
    vp.visible = FRect(0, 0, 8000, 8000);
    image.fill(Qt::white);
    QPainter far(&image);
    far.setRenderHint(QPainter::Antialiasing);
    for (auto& m : maps) {
        ASSERT_TRUE(m.map_to_screen(vp));
        m.object->Draw(&far, m);
    }
    far.end();
    int inked = 0;
    for (int x = 10; x < 59; ++x)
        for (int y = 0; y < 60; ++y) inked += image.pixelColor(x, y).red() < 128 ? 1 : 0;
    EXPECT_GT(inked, 45);  // along the 50-pixel diagonal x + y = 60
    EXPECT_LT(inked, 200);

    // A tap without a user interface shows the track's summary.
    EXPECT_TRUE(t->getSections()[0]->onTap(nullptr, FPoint(150, 450), DblPoint(150, 450)));
    ASSERT_FALSE(ui.status.empty());
    EXPECT_EQ(ui.status.back().rfind("Track: Harbour run", 0), 0u);
}
