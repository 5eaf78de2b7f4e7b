// SPDX-License-Identifier: GPL-3.0-or-later
// What the chart view gets from marks and routes: image points, hit tests and pictures.

#include <QImage>
#include <QPainter>

#include "charts/georef.h"
#include "mark_test_support.h"

namespace {

// A plain chart: 100,000 pixels per degree both ways, north up, (50.1 N, 1.1 W) at the origin.
CPolynomialProjection Chart() {
    double fwd[2][10] = {}, inv[2][10] = {};
    fwd[0][0] = 110000;   // x = 100000 (lon + 1.1)
    fwd[0][2] = 100000;
    fwd[1][0] = 5010000;  // y = 100000 (50.1 - lat)
    fwd[1][1] = -100000;
    inv[0][0] = 50.1;     // lat = 50.1 - y / 100000
    inv[0][2] = -1e-5;
    inv[1][0] = -1.1;     // lon = x / 100000 - 1.1
    inv[1][1] = 1e-5;
    CPolynomialProjection p;
    p.init(fwd, inv, 20000, 20000, 0, 0);
    return p;
}

QImage Paint(const COverlayObject& object, COverlayObject::CMapping& m) {
    m.screen = m.points;  // the view shows the image one to one
    QImage img(1000, 1000, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    QPainter p(&img);
    object.Draw(&p, m);
    return img;
}

bool Painted(const QImage& img, int x, int y) {
    return img.pixelColor(x, y) != QColor(Qt::white);
}

TEST_F(MarkTest, MarksAndRoutesMapHitAndDrawWhereTheyAre) {
    const CPolynomialProjection chart = Chart();
    COverlayMark* m = Mark("Buoy", 50.095, -1.095, 0, 200);
    COverlayObject::CMapping mm(m);
    m->Map(mm, chart);
    ASSERT_GE(mm.points.size(), 2u);
    EXPECT_NEAR(mm.points[0].x, 500, 1e-6);
    EXPECT_NEAR(mm.points[0].y, 500, 1e-6);
    mm.screen = mm.points;
    EXPECT_TRUE(mm.HitTest_mapped(505, 495, 100));
    EXPECT_FALSE(mm.HitTest_mapped(600, 500, 100));
    EXPECT_FALSE(mm.HitTest_mapped(mm.points[1].x, mm.points[1].y, 4));  // the alarm circle is no target
    const QImage markImg = Paint(*m, mm);
    EXPECT_TRUE(Painted(markImg, 500, 500));                                 // the icon
    EXPECT_TRUE(Painted(markImg, int(std::lround(mm.points[1].x)), 500));    // the alarm circle, 200 m east
    EXPECT_FALSE(Painted(markImg, 500, 900));

    COverlayRoute* r = Route("R", {{50.095, -1.095}, {50.095, -1.091}});
    r->SetLineStyle(GraphicsColor(0, 0, 255, 255), 4, 0);
    COverlayObject::CMapping rm(r);
    r->Map(rm, chart);
    rm.screen = rm.points;
    EXPECT_EQ(rm.kind, COverlayObject::CMapping::HIT_POLYLINE);
    EXPECT_TRUE(rm.HitTest_mapped(700, 503, 25));
    EXPECT_FALSE(rm.HitTest_mapped(700, 540, 25));
    const QImage routeImg = Paint(*r, rm);
    const QColor mid = routeImg.pixelColor(700, 500);
    EXPECT_GT(mid.blue(), 200);
    EXPECT_LT(mid.red(), 60);

    // Followed, the leg being sailed is drawn over the line.
    manager->SetFollowRoute(r);
    Fix(50.095, -1.093, 5, 90);
    ASSERT_EQ(r->ActiveTarget(), r->Waypoint(1));
    const QColor active = Paint(*r, rm).pixelColor(700, 500);
    EXPECT_GT(active.red(), 150);

    // Hidden or deleted objects are not drawn by the view.
    r->setVisible(false);
    EXPECT_FALSE(r->isVisible());
    EXPECT_FALSE(r->Waypoint(0)->isVisible());
    manager->DeleteMark(m);
    EXPECT_FALSE(m->isVisible());
}

}  // namespace
