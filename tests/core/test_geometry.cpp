// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include "core/geometry.h"

TEST(Geometry, RectHitTestIsHalfOpen) {
    FRect r(10, 20, 30, 40);
    EXPECT_TRUE(r.HitTest(10, 20));
    EXPECT_FALSE(r.HitTest(30, 25));
    EXPECT_FALSE(r.HitTest(15, 40));
    EXPECT_TRUE(r.HitTest(29.999, 39.999));
}

TEST(Geometry, BoundsEmptyAndValid) {
    CBounds b;
    EXPECT_FALSE(b.IsValid());
    EXPECT_EQ(b.xmin, 1e300);
    EXPECT_EQ(b.xmax, -1e300);
    b.Add(5, 6);
    EXPECT_TRUE(b.IsValid());  // a single point is a valid, zero-sized area
    EXPECT_EQ(b.Width(), 0);
    b.Add(CBounds());  // adding an empty box changes nothing
    EXPECT_EQ(b.xmin, 5);
    CBounds other(6, 7, 6, 7);
    EXPECT_FALSE(b.Intersects(other));
    b.Add(other);
    EXPECT_TRUE(b.Intersects(other));
}

TEST(Geometry, PolylineContainmentNeedsThreeVerticesAndHandlesConcaveShapes) {
    CPolyline two({{0, 0}, {10, 10}});
    EXPECT_FALSE(two.doesContain(5, 5));

    // A "U": the notch is outside.
    CPolygon u({{0, 0}, {30, 0}, {30, 30}, {20, 30}, {20, 10}, {10, 10}, {10, 30}, {0, 30}});
    EXPECT_TRUE(u.doesContain(5, 20));
    EXPECT_TRUE(u.doesContain(25, 20));
    EXPECT_FALSE(u.doesContain(15, 20));
    EXPECT_TRUE(u.doesContain(15, 5));
    EXPECT_FALSE(u.doesContain(-1, 5));
    // Winding direction does not matter.
    CPolygon rev(std::vector<Vertex>(u.vertices.rbegin(), u.vertices.rend()));
    EXPECT_TRUE(rev.doesContain(5, 20));
    EXPECT_FALSE(rev.doesContain(15, 20));
}

TEST(Geometry, PolygonOverlapAndEnclosure) {
    const CPolygon square({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    const CPolygon inner({{2, 2}, {4, 2}, {4, 4}});
    const CPolygon crossing({{5, 5}, {15, 5}, {15, 15}, {5, 15}});
    const CPolygon apart({{20, 20}, {30, 20}, {30, 30}});
    const CPolygon around({{-5, -5}, {15, -5}, {15, 15}, {-5, 15}});

    EXPECT_TRUE(square.Overlaps(inner));
    EXPECT_TRUE(inner.Overlaps(square));
    EXPECT_TRUE(square.Overlaps(crossing));
    EXPECT_FALSE(square.Overlaps(apart));
    EXPECT_TRUE(square.Overlaps(around));  // no edge crosses, but one lies inside the other

    EXPECT_TRUE(square.Encloses(inner));
    EXPECT_FALSE(square.Encloses(crossing));
    EXPECT_FALSE(square.Encloses(around));
    EXPECT_TRUE(around.Encloses(square));

    // A concave polygon whose vertices all lie inside but whose edge leaves it.
    const CPolygon u({{0, 0}, {30, 0}, {30, 30}, {20, 30}, {20, 10}, {10, 10}, {10, 30}, {0, 30}});
    const CPolygon bridge({{5, 20}, {25, 20}, {25, 25}, {5, 25}});
    EXPECT_FALSE(u.Encloses(bridge));
    EXPECT_TRUE(u.Overlaps(bridge));

    EXPECT_TRUE(square.Encloses(CBounds(1, 2, 1, 2)));
    EXPECT_FALSE(square.Overlaps(CBounds()));
}

TEST(Geometry, SimpleGridDistancesAndInverse) {
    CSimpleGrid g(50.0, -1.0);
    // A degree of latitude is about 111.2 km at 50°N, a degree of longitude about 71.7 km.
    EXPECT_NEAR(g.MetresPerDegreeLat(), 111229, 20);
    EXPECT_NEAR(g.MetresPerDegreeLon(), 71696, 20);
    EXPECT_NEAR(CSimpleGrid::MetresPerDegreeLonAt(0), 111319.5, 1);
    EXPECT_NEAR(CSimpleGrid::MetresPerDegreeLonAt(90), 0, 1e-6);

    double x, y, lat, lon;
    g.ToGrid(50.01, -0.99, x, y);
    g.FromGrid(x, y, lat, lon);
    EXPECT_NEAR(lat, 50.01, 1e-12);
    EXPECT_NEAR(lon, -0.99, 1e-12);
    EXPECT_NEAR(g.Distance(50, -1, 50.01, -1), 1112.3, 0.5);

    // Across the antimeridian the short way round is taken.
    CSimpleGrid p(0, 179.9);
    p.ToGrid(0, -179.9, x, y);
    EXPECT_NEAR(x, 0.2 * 111319.5, 5);
}

TEST(Geometry, ColourTextForms) {
    GraphicsColor c(0x12, 0xAB, 0x0F, 0x80);
    EXPECT_EQ(c.ToString(), "#8012AB0F");
    GraphicsColor d;
    ASSERT_TRUE(d.FromString("#8012ab0f"));
    EXPECT_EQ(d, c);
    ASSERT_TRUE(d.FromString("#F00"));
    EXPECT_EQ(d, GraphicsColor(240, 0, 0, 255));
    ASSERT_TRUE(d.FromString("#8F00"));
    EXPECT_EQ(d, GraphicsColor(240, 0, 0, 128));
    ASSERT_TRUE(d.FromString("#102030"));
    EXPECT_EQ(d, GraphicsColor(0x10, 0x20, 0x30, 255));
    // Other lengths and non-hex digits leave the colour alone.
    for (const char* bad : {"#12345", "#", "102030", "#GG0000", "#1234567890"}) {
        EXPECT_FALSE(d.FromString(bad)) << bad;
        EXPECT_EQ(d, GraphicsColor(0x10, 0x20, 0x30, 255)) << bad;
    }
    float r, g, b, a;
    c.GetFloats(r, g, b, a);
    GraphicsColor e;
    e.SetFloats(r, g, b, a);
    EXPECT_EQ(e, c);
    e.SetFloats(-1, 2, std::nanf(""), 0.5f);
    EXPECT_EQ(e, GraphicsColor(0, 255, 0, 128));
}
