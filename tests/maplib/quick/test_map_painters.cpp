// SPDX-License-Identifier: GPL-3.0-or-later
// The chart and overlay painters used outside the pages.
#include <QImage>
#include <QPainter>
#include <QSignalSpy>

#include <fstream>
#include <iterator>

#include "maplib/quick/mappainters.h"
#include "tests/maplib/quick/mapitem_fixture.h"

namespace {

class Painters : public cvtest::ChartViewFixture {
protected:
    void SetUp() override {
        cvtest::ChartViewFixture::SetUp();
        graphicsResolution = 1.0;
        MakeCharts(cvtest::NestedCharts());
        previous = p_chart_list;
        p_chart_list = list.get();
    }
    void TearDown() override {
        p_chart_list = previous;
        graphicsResolution = 1.0;
        cvtest::ChartViewFixture::TearDown();
    }
    bool Open(MapImagePainter2& p, int chart) {
        bool done = false, ok = false;
        p.openMap(paths[size_t(chart)], [&](bool r) {
            done = true;
            ok = r;
        });
        return cvtest::WaitFor([&] { return done; }) && ok;
    }
    CChartList* previous = nullptr;
};

}  // namespace

TEST_F(Painters, ChartPainterSnapsItsOriginToTheZoomFactor) {
    MapImagePainter p;
    p.setZoomLevel(2);
    EXPECT_DOUBLE_EQ(p.zoomFactor(), 4.0);
    p.setOffset(QPointF(13.5, -6));
    EXPECT_DOUBLE_EQ(p.DrawOrigin().x, 12);
    EXPECT_DOUBLE_EQ(p.DrawOrigin().y, -8);
    p.setZoomLevel(-1);
    EXPECT_DOUBLE_EQ(p.DrawOrigin().x, 13.5);
    p.setZoomLevel(99);
    EXPECT_EQ(p.zoomLevel(), MapImagePainter::kMaxLevel);
    p.setOffset(QPointF(std::nan(""), 1e300));
    EXPECT_TRUE(std::isfinite(p.DrawOrigin().x) && std::isfinite(p.DrawOrigin().y));

    bool opened = false, result = false;
    p.openMap(paths[0], [&](bool ok) {
        opened = true;
        result = ok;
    });
    ASSERT_TRUE(cvtest::WaitFor([&] { return opened; }));
    EXPECT_TRUE(result && p.isOpen());
    p.closeMap();
    EXPECT_FALSE(p.isOpen());
    opened = false;
    p.openMap(Dir() + "/missing.qct", [&](bool ok) {
        opened = true;
        result = ok;
    });
    ASSERT_TRUE(cvtest::WaitFor([&] { return opened; }));
    EXPECT_FALSE(result);
}

TEST_F(Painters, PlacedPainterZoomsAndPansAboutThePointer) {
    MapImagePainter2 p;
    p.setWidth(300);
    p.setHeight(200);
    QSignalSpy proj(&p, &MapImagePainter2::projChanged);
    ASSERT_TRUE(Open(p, 1));
    EXPECT_EQ(proj.count(), 1);
    ASSERT_TRUE(p.Projection().valid);

    // The chart point under the pointer stays there.
    graphicsResolution = 2.0;
    const QPointF at(50, 40);
    auto under = [&] { return p.offset() + at * 2.0 * p.factor(); };
    const QPointF before = under();
    p.increaseZoomLevel(at);
    EXPECT_DOUBLE_EQ(p.factor(), 2.0);
    EXPECT_EQ(p.zoomLevel(), 1);
    EXPECT_NEAR(under().x(), before.x(), 1e-9);
    EXPECT_NEAR(under().y(), before.y(), 1e-9);
    p.decreaseZoomLevel(at);
    p.decreaseZoomLevel(at);
    EXPECT_DOUBLE_EQ(p.factor(), 0.5);
    EXPECT_NEAR(under().x(), before.x(), 1e-9);
    for (int i = 0; i < 20; ++i) p.decreaseZoomLevel(at);
    EXPECT_DOUBLE_EQ(p.factor(), MapImagePainter2::kMinFactor);

    const double x0 = p.offset().x();
    p.DoScroll(QPointF(10, 0));
    EXPECT_DOUBLE_EQ(p.offset().x(), x0 - 10 * 2.0 * p.factor());

    // A position put at the item's origin is what the painter records.
    p.moveToLatLong(50.2, 0.5, QPointF(0, 0));
    p.GetCurrentMapView();
    EXPECT_NEAR(p.latitude(), 50.2, 1e-6);
    EXPECT_NEAR(p.longitude(), 0.5, 1e-6);
    EXPECT_EQ(Name(p.chartPath().toStdString()), "coastal.qct");
}

TEST_F(Painters, PlacedPainterStateRoundTripsAndRefusesDamage) {
    const std::string state = Dir() + "/painter.state";
    {
        MapImagePainter2 p;
        p.setWidth(300);
        p.setHeight(200);
        ASSERT_TRUE(Open(p, 2));
        p.increaseZoomLevel(QPointF(0, 0));
        p.moveToLatLong(50.1, -0.2, QPointF(0, 0));
        ASSERT_TRUE(p.WriteFile(state));
    }
    MapImagePainter2 again;
    again.setWidth(300);
    again.setHeight(200);
    ASSERT_TRUE(again.ReadFile(state));
    EXPECT_NEAR(again.latitude(), 50.1, 1e-6);
    EXPECT_NEAR(again.longitude(), -0.2, 1e-6);
    EXPECT_EQ(Name(again.chartPath().toStdString()), "harbour.qct");

    // The catalogue's best chart for that place and scale, at the same zoom.
    QSignalSpy opened(&again, &MapImagePainter2::opened);
    again.OpenBestMap();
    ASSERT_TRUE(cvtest::WaitFor([&] { return opened.count() > 0; }));
    EXPECT_TRUE(opened.at(0).at(0).toBool());
    EXPECT_EQ(Name(again.chartPath().toStdString()), "harbour.qct");
    EXPECT_DOUBLE_EQ(again.factor(), 2.0);
    again.GetCurrentMapView();
    EXPECT_NEAR(again.latitude(), 50.1, 1e-3);

    std::ifstream in(state, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    for (size_t cut : {size_t(0), size_t(6), bytes.size() / 2, bytes.size() - 1}) {
        const std::string t = Dir() + "/cut.state";
        std::ofstream(t, std::ios::binary | std::ios::trunc) << bytes.substr(0, cut);
        MapImagePainter2 p;
        EXPECT_FALSE(p.ReadFile(t)) << cut;
        EXPECT_EQ(p.latitude(), MapImagePainter2::kNoPosition) << cut;
    }
    std::string foreign = bytes;
    const size_t magicAt = foreign.find(std::string("\xCB\x72\x57\x7E", 4));
    ASSERT_NE(magicAt, std::string::npos);
    foreign[magicAt] = char(foreign[magicAt] ^ 0x55);
    const std::string t = Dir() + "/foreign.state";
    std::ofstream(t, std::ios::binary | std::ios::trunc) << foreign;
    MapImagePainter2 p;
    EXPECT_FALSE(p.ReadFile(t));
}

TEST_F(Painters, OverlayPainterKeepsMarksRoutesAndTracksAndDrawsThroughTheTransform) {
    MapImagePainter2 base;
    ASSERT_TRUE(Open(base, 1));
    const CPolynomialProjection proj = base.Projection();

    OverlayPainter painter;
    painter.setWidth(200);
    painter.setHeight(200);
    painter.setProj(proj);
    cvtest::TestMark mark(50.0, 0.0);
    mark.Dispatch(COverlayObject::UPDATE_CHANGED);
    cvtest::TestMark hidden(50.5, 1.0);
    hidden.visible = false;
    hidden.Dispatch(COverlayObject::UPDATE_CHANGED);
    {
        cvtest::TestMark gone(49.5, -1.0);
        gone.Dispatch(COverlayObject::UPDATE_CHANGED);
        EXPECT_EQ(painter.MappingCount(), 3u);
    }
    EXPECT_EQ(painter.MappingCount(), 2u);

    // AIS targets and the GPS position are not this painter's business.
    class Target : public COverlayObject {
    public:
        Target() : COverlayObject(LAYER_AIS_TARGET, OBJECT_AIS_TARGET) {}
        void Map(CMapping&, const CPolynomialProjection&) const override {}
        void Draw(QPainter*, CMapping&) const override {}
    } target;
    target.Dispatch(COverlayObject::UPDATE_CHANGED);
    EXPECT_EQ(painter.MappingCount(), 2u);

    // Half size, shifted: the mark's chart pixel lands where the transform puts it.
    FPoint px;
    ASSERT_TRUE(proj.latlong_to_xy(50.0, 0.0, px));
    QTransform t;
    t.translate(100 - px.x * 0.5, 100 - px.y * 0.5);
    t.scale(0.5, 0.5);
    painter.setTransform(t);
    QImage img(200, 200, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        painter.paint(&p);
    }
    EXPECT_EQ(painter.LastDrawn(), 1);
    EXPECT_EQ(img.pixelColor(100, 100), QColor(Qt::red));

    // Outside the image bounds given: not drawn.
    painter.setBounds(CBounds(0, 10, 0, 10));
    {
        QPainter p(&img);
        painter.paint(&p);
    }
    EXPECT_EQ(painter.LastDrawn(), 0);
}
