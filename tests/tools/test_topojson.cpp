// SPDX-License-Identifier: GPL-3.0-or-later
// The TopoJSON reader: quantised, delta-encoded arcs; reversed arcs in rings; holes;
// collections; the borders mesh; rings across the 180 degree meridian and round a pole;
// and hostile input.
#include <gtest/gtest.h>

#include "tools/topojson.h"

namespace {

// Two squares side by side sharing the edge x = 10: "west" (0..10) with a hole, and
// "east" (10..20), both 0..10 in latitude. Quantised with scale 0.5 and translate (0, 0),
// so integers are doubled and every arc is delta-encoded.
//   arc 0: the shared edge (10,0) -> (10,10)
//   arc 1: west's outer remainder (10,10) -> (0,10) -> (0,0) -> (10,0)
//   arc 2: east's remainder (10,0) -> (20,0) -> (20,10) -> (10,10)
//   arc 3: the hole (4,4) -> (6,4) -> (6,6) -> (4,6) -> (4,4)
const char* kTwoSquares = R"({
  "type": "Topology",
  "transform": {"scale": [0.5, 0.5], "translate": [0, 0]},
  "arcs": [
    [[20, 0], [0, 20]],
    [[20, 20], [-20, 0], [0, -20], [20, 0]],
    [[20, 0], [20, 0], [0, 20], [-20, 0]],
    [[8, 8], [4, 0], [0, 4], [-4, 0], [0, -4]]
  ],
  "objects": {
    "countries": {"type": "GeometryCollection", "geometries": [
      {"type": "Polygon", "id": 7, "properties": {"name": "West"}, "arcs": [[1, 0], [3]]},
      {"type": "MultiPolygon", "id": "E", "properties": {"name": "East"}, "arcs": [[[2, -1]]]},
      {"type": "GeometryCollection", "geometries": [{"type": "LineString", "arcs": [0]}, {"type": null}]}
    ]}
  }
})";

std::vector<QPointF> Pts(std::initializer_list<std::pair<double, double>> xy) {
    std::vector<QPointF> v;
    for (const auto& p : xy) v.emplace_back(p.first, p.second);
    return v;
}

TEST(TopoJson, DecodesQuantisedArcsRingsHolesAndCollections) {
    CTopoJson t;
    QString error;
    ASSERT_TRUE(t.Parse(kTwoSquares, &error)) << error.toStdString();
    ASSERT_EQ(t.ArcCount(), 4);
    EXPECT_EQ(t.Arc(1), Pts({{10, 10}, {0, 10}, {0, 0}, {10, 0}}));
    EXPECT_EQ(t.Arc(3), Pts({{4, 4}, {6, 4}, {6, 6}, {4, 6}, {4, 4}}));

    std::vector<CTopoJson::Feature> f;
    ASSERT_TRUE(t.Features(QStringLiteral("countries"), f, &error)) << error.toStdString();
    ASSERT_EQ(f.size(), 4u);  // the nested collection's members count one by one
    EXPECT_EQ(f[0].name, QStringLiteral("West"));
    EXPECT_EQ(f[0].id, QStringLiteral("7"));
    EXPECT_EQ(f[1].id, QStringLiteral("E"));

    // Arcs join at their shared point, which appears once; the hole is the second ring.
    ASSERT_EQ(f[0].polygons.size(), 1u);
    const auto& west = f[0].polygons[0];
    ASSERT_EQ(west.rings.size(), 2u);
    EXPECT_EQ(west.rings[0], Pts({{10, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 10}}));
    EXPECT_EQ(west.rings[1], Pts({{4, 4}, {6, 4}, {6, 6}, {4, 6}, {4, 4}}));
    EXPECT_EQ(west.bounds, QRectF(0, 0, 10, 10));

    // ~0 walks the shared edge backwards: east closes from (10,10) down to (10,0).
    ASSERT_EQ(f[1].polygons.size(), 1u);
    EXPECT_EQ(f[1].polygons[0].rings[0], Pts({{10, 0}, {20, 0}, {20, 10}, {10, 10}, {10, 0}}));
    EXPECT_EQ(f[1].arcs, (std::vector<int>{2, 0}));  // reversed indices are reported as the arc itself

    ASSERT_EQ(f[2].lines.size(), 1u);
    EXPECT_EQ(f[2].lines[0], Pts({{10, 0}, {10, 10}}));
    EXPECT_TRUE(f[3].polygons.empty() && f[3].lines.empty());  // null geometry
}

TEST(TopoJson, InteriorMeshKeepsOnlyEdgesBetweenDifferentFeatures) {
    // The line feature reuses arc 0 as well: an arc counts once per feature, so arc 0 is
    // used by three features, arcs 1-3 by one each.
    CTopoJson t;
    ASSERT_TRUE(t.Parse(kTwoSquares, nullptr));
    std::vector<CTopoJson::Ring> mesh;
    ASSERT_TRUE(t.InteriorMesh(QStringLiteral("countries"), mesh, nullptr));
    ASSERT_EQ(mesh.size(), 1u);
    EXPECT_EQ(mesh[0], Pts({{10, 0}, {10, 10}}));

    // A ring that uses the same arc twice (a spur) is still one feature: no border.
    const char* spur = R"({"type":"Topology","arcs":[[[0,0],[1,0]],[[1,0],[1,1],[0,0]]],
        "objects":{"o":{"type":"Polygon","arcs":[[0,1],[0]]}}})";
    ASSERT_TRUE(t.Parse(spur, nullptr));
    ASSERT_TRUE(t.InteriorMesh(QStringLiteral("o"), mesh, nullptr));
    EXPECT_TRUE(mesh.empty());
}

TEST(TopoJson, UnquantisedPositionsAreAbsolute) {
    const char* plain = R"({"type":"Topology","arcs":[[[-10.5,40.25],[-10,40.25],[-10,41],[-10.5,40.25]]],
        "objects":{"land":{"type":"Polygon","arcs":[[0]]}}})";
    CTopoJson t;
    ASSERT_TRUE(t.Parse(plain, nullptr));
    EXPECT_EQ(t.Arc(0), Pts({{-10.5, 40.25}, {-10, 40.25}, {-10, 41}, {-10.5, 40.25}}));
    EXPECT_EQ(t.ObjectNames(), QStringList{QStringLiteral("land")});
}

TEST(TopoJson, RingsAcrossTheDateLineAndRoundAPoleBecomePlanar) {
    // An island across 180 degrees continues past 180 rather than jumping back to -180.
    CTopoJson::Ring island = Pts({{179, 10}, {-179, 10}, {-179, 12}, {179, 12}, {179, 10}});
    CTopoJson::MakePlanar(island, true);
    EXPECT_EQ(island, Pts({{179, 10}, {181, 10}, {181, 12}, {179, 12}, {179, 10}}));

    // A ring once round the south pole is closed along the pole, so that filling it
    // covers the polar cap and not the rest of the world.
    CTopoJson::Ring cap = Pts({{-180, -70}, {-60, -65}, {60, -70}, {180, -70}});
    CTopoJson::MakePlanar(cap, true);
    EXPECT_EQ(cap, Pts({{-180, -70}, {-60, -65}, {60, -70}, {180, -70}, {180, -90}, {-180, -90}, {-180, -70}}));
    // The same round the north pole, walked westwards.
    CTopoJson::Ring north = Pts({{170, 80}, {50, 85}, {-70, 80}, {170, 80}});
    CTopoJson::MakePlanar(north, true);
    ASSERT_EQ(north.size(), 7u);
    EXPECT_EQ(north[3], QPointF(-190, 80));
    EXPECT_EQ(north[4], QPointF(-190, 90));
    EXPECT_EQ(north[5], QPointF(170, 90));

    // Lines are unwrapped but never closed.
    CTopoJson::Ring line = Pts({{170, 0}, {-170, 0}, {-150, 0}});
    CTopoJson::MakePlanar(line, false);
    EXPECT_EQ(line, Pts({{170, 0}, {190, 0}, {210, 0}}));

    // And the decoder applies it: a polygon from the file comes out unwrapped.
    const char* across = R"({"type":"Topology","arcs":[[[179,10],[-179,10],[-179,12],[179,12],[179,10]]],
        "objects":{"land":{"type":"Polygon","arcs":[[0]]}}})";
    CTopoJson t;
    ASSERT_TRUE(t.Parse(across, nullptr));
    std::vector<CTopoJson::Feature> f;
    ASSERT_TRUE(t.Features(QStringLiteral("land"), f, nullptr));
    EXPECT_EQ(f[0].polygons[0].bounds, QRectF(QPointF(179, 10), QPointF(181, 12)));
}

TEST(TopoJson, HostileInputGivesAnErrorNotACrash) {
    const std::string deep = [] {
        std::string s = R"({"type":"Topology","arcs":[],"objects":{"o":)";
        for (int i = 0; i < 40; ++i) s += R"({"type":"GeometryCollection","geometries":[)";
        for (int i = 0; i < 40; ++i) s += "]}";
        return s + "}}";
    }();
    const struct {
        const char* what;
        std::string json;
    } cases[] = {
        {"not JSON", "{\"type\": \"Topology\", \"arcs\": ["},
        {"empty", ""},
        {"a GeoJSON file", R"({"type":"FeatureCollection","features":[]})"},
        {"no arcs", R"({"type":"Topology","objects":{}})"},
        {"no objects", R"({"type":"Topology","arcs":[]})"},
        {"empty arc", R"({"type":"Topology","arcs":[[]],"objects":{}})"},
        {"one-number position", R"({"type":"Topology","arcs":[[[1]]],"objects":{}})"},
        {"text position", R"({"type":"Topology","arcs":[[["a","b"]]],"objects":{}})"},
        {"bad transform", R"({"type":"Topology","transform":{"scale":[1]},"arcs":[],"objects":{}})"},
        {"huge number", R"({"type":"Topology","arcs":[[[1e999,0]]],"objects":{}})"},
    };
    for (const auto& c : cases) {
        CTopoJson t;
        QString error;
        EXPECT_FALSE(t.Parse(QByteArray::fromStdString(c.json), &error)) << c.what;
        EXPECT_FALSE(error.isEmpty()) << c.what;
    }

    // Structure that parses but cannot be assembled fails when the object is asked for.
    const char* arcs = R"({"type":"Topology","arcs":[[[0,0],[1,1]]],"objects":{"o":)";
    const struct {
        const char* what;
        std::string geometry;
    } geometries[] = {
        {"arc index past the end", R"({"type":"Polygon","arcs":[[1]]})"},
        {"reversed index past the end", R"({"type":"Polygon","arcs":[[-2]]})"},
        {"fractional index", R"({"type":"Polygon","arcs":[[0.5]]})"},
        {"huge index", R"({"type":"LineString","arcs":[4294967296]})"},
        {"ring not a list", R"({"type":"Polygon","arcs":[0]})"},
        {"polygon not a list", R"({"type":"MultiPolygon","arcs":7})"},
        {"collection without members", R"({"type":"GeometryCollection"})"},
        {"member not an object", R"({"type":"GeometryCollection","geometries":[3]})"},
        {"unknown type", R"({"type":"Circle","arcs":[[0]]})"},
    };
    for (const auto& g : geometries) {
        CTopoJson t;
        ASSERT_TRUE(t.Parse(QByteArray::fromStdString(arcs + g.geometry + "}}"), nullptr)) << g.what;
        std::vector<CTopoJson::Feature> f;
        QString error;
        EXPECT_FALSE(t.Features(QStringLiteral("o"), f, &error)) << g.what;
        EXPECT_FALSE(error.isEmpty()) << g.what;
    }

    CTopoJson t;
    QString error;
    ASSERT_TRUE(t.Parse(QByteArray::fromStdString(deep), &error)) << error.toStdString();
    std::vector<CTopoJson::Feature> f;
    EXPECT_FALSE(t.Features(QStringLiteral("o"), f, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("nested"))) << error.toStdString();
    EXPECT_FALSE(t.Features(QStringLiteral("missing"), f, &error));
    EXPECT_FALSE(t.Load(QStringLiteral("/no/such/file.json"), &error));
}

}  // namespace
