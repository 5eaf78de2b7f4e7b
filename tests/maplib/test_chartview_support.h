// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Charts, overlays and a stand-in overlay tool for the chart view tests.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "charts/qct.h"
#include "core/apppaths.h"
#include "charts/qct_writer.h"
#include "maplib/chartlist.h"
#include "maplib/chartview.h"

namespace cvtest {

// The network as the tests want it; by default it is unreachable.
struct FakeFetcher : IChartFetcher {
    std::function<void(const std::string& type, const std::string& key, const std::string& target,
                       const FetchDone& done)>
        fetch;
    std::function<void(const std::string& server_path, std::function<void(bool)> done)> update;

    void FetchAssocFile(const NV_HWND&, const std::string& type, const std::string& key, const std::string& target,
                        FetchDone done) override {
        if (fetch)
            fetch(type, key, target, done);
        else
            done(false, "", "offline");
    }
    void UpdatePackage(const NV_HWND&, const std::string& server_path, const std::string&,
                       std::function<void(bool)> done) override {
        if (update)
            update(server_path, std::move(done));
        else
            done(false);
    }
};

struct TestChart {
    std::string name;
    double north, south, west, east;
    int width = 512, height = 512;
    uint32_t colour = 0x3366CC;
    uint32_t flags = 0;
    std::string type = "Topo";
};

// A chart of one colour with a darker grid every 64 pixels, so that squares are not all alike.
inline std::string WriteChart(const std::string& dir, const TestChart& c) {
    std::vector<uint8_t> idx(size_t(c.width) * size_t(c.height), 0);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            if (x % 64 == 0 || y % 64 == 0) idx[size_t(y) * size_t(c.width) + size_t(x)] = 1;
    CQctWriter w;
    EXPECT_TRUE(w.SetIndexedImage(c.width, c.height, idx, {c.colour, 0x202020}));
    EXPECT_TRUE(w.SetGeorefFromCorners(c.north, c.south, c.west, c.east));
    w.Meta().name = QString::fromStdString(c.name);
    w.Meta().title = QString::fromStdString(c.name);
    w.Meta().map_type = QString::fromStdString(c.type);
    w.Meta().flags = c.flags;
    const std::string path = dir + "/" + c.name + ".qct";
    std::string err;
    EXPECT_TRUE(w.WriteSingleFile(path, &err)) << err;
    return path;
}

// Three nested charts around 50N 0E, each four times as detailed as the one before.
inline std::vector<TestChart> NestedCharts() {
    return {
        {"overview", 54, 46, -6, 6, 512, 512, 0x3366CC},
        {"coastal", 51, 49, -1.5, 1.5, 512, 512, 0x33CC66},
        {"harbour", 50.25, 49.75, -0.375, 0.375, 512, 512, 0xCC6633},
    };
}

template <class Pred>
bool WaitFor(Pred pred, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// A mark: one point, hit within the radius, drawn as a dot.
class TestMark : public COverlayObject {
public:
    TestMark(double lat, double lon, unsigned layer = LAYER_MARK)
        : COverlayObject(layer, OBJECT_MARK), m_lat(lat), m_lon(lon) {}
    ~TestMark() override { Dispatch(UPDATE_DESTROYED); }

    void Map(CMapping& m, const CPolynomialProjection& p) const override {
        FPoint px;
        if (!p.latlong_to_xy(m_lat, m_lon, px)) return;
        m.points.assign(1, DblPoint(px.x, px.y));
        m.kind = CMapping::HIT_POINTS;
        m.count = 1;
    }
    void Draw(QPainter* painter, CMapping& m) const override {
        if (m.screen.empty()) return;
        painter->fillRect(QRectF(m.screen[0].x - 2, m.screen[0].y - 2, 4, 4), Qt::red);
        drawOrder().push_back(this);
    }
    bool isVisible() const override { return visible; }
    bool onTap(CQuickChartView*, const FPoint&, const DblPoint&) override;
    bool onMouseDown(CQuickChartView*, const FPoint&, const DblPoint&) override { return acceptPress; }
    void onMouseUp(CQuickChartView*) override { ++releases; }

    static std::vector<const TestMark*>& drawOrder() {
        static std::vector<const TestMark*> v;
        return v;
    }

    bool visible = true;
    bool acceptTap = true;
    bool acceptPress = false;
    int taps = 0;
    int releases = 0;

private:
    double m_lat, m_lon;
};

// The editing tool as far as the view needs it: a tapped mark becomes selected.
class TestTool : public CQuickChartView::IOverlayTool {
public:
    TestTool() { CQuickChartView::SetOverlayTool(this); }
    ~TestTool() override { CQuickChartView::SetOverlayTool(nullptr); }
    bool isUsingView(const CQuickChartView* v) const override { return v == view; }
    void UsingView(CQuickChartView* v) override {
        if (v != view) selected = nullptr;
        view = v;
    }
    COverlayObject* GetSelectedObject() const override { return selected; }
    void Deselect() override { selected = nullptr; }
    void MoveCentre(double dx, double dy) override {
        moved.x += dx;
        moved.y += dy;
    }
    void onDraw(QPainter*, COverlayObject::CMapping&) override { ++decorations; }

    CQuickChartView* view = nullptr;
    COverlayObject* selected = nullptr;
    FPoint moved;
    int decorations = 0;
};

inline TestTool*& CurrentTool() {
    static TestTool* t = nullptr;
    return t;
}

inline bool TestMark::onTap(CQuickChartView* v, const FPoint&, const DblPoint&) {
    ++taps;
    if (!acceptTap) return false;
    if (TestTool* t = CurrentTool()) {
        t->UsingView(v);
        t->selected = this;
    }
    return true;
}

// A folder of charts, its catalogue and a view on it, 800 x 600 pixels.
class ChartViewFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        CSelectMapTypes::Settings().show = {"Topo"};
        CQuickChartView::settings().change_scale_by_zooming = true;
        CQuickChartView::settings().timeOfLastZoomHint = 0;
    }
    void TearDown() override {
        view.reset();
        list.reset();
    }

    void MakeCharts(const std::vector<TestChart>& recipes) {
        // Each catalogue gets a folder of its own.
        const std::string folder = Dir() + "/charts" + std::to_string(++folders);
        ASSERT_TRUE(createDirectory(folder));
        paths.clear();
        for (const TestChart& s : recipes) paths.push_back(WriteChart(folder, s));
        view.reset();
        list = std::make_unique<CChartList>(std::vector<std::string>{folder}, std::string());
        ASSERT_EQ(list->size(), recipes.size());
    }
    std::unique_ptr<CQuickChartView> MakeView() {
        auto v = std::make_unique<CQuickChartView>();
        v->SetChartList(list.get());
        v->SetClock([this] { return now; });
        v->setScreenRect(0, 0, 800, 600);
        return v;
    }
    // Opens `path` with the view position at (lat, lon) and scale, as a chart switch would.
    bool Open(CQuickChartView& v, const std::string& path) {
        bool done = false, ok = false;
        v.onOpen(NV_HWND(), path, false, [&](bool r) {
            done = true;
            ok = r;
        });
        return WaitFor([&] { return done; }) && ok;
    }
    bool GotoBest(CQuickChartView& v, double lat, double lon, double scale) {
        bool done = false, ok = false;
        v.GotoBestMap(NV_HWND(), lat, lon, scale, [&](bool r) {
            done = true;
            ok = r;
        });
        return WaitFor([&] { return done; }) && ok;
    }
    std::string Dir() const { return dir.path().toStdString(); }
    static std::string Name(const std::string& path) {
        const size_t s = path.find_last_of('/');
        return path.substr(s + 1);
    }

    QTemporaryDir dir;
    std::vector<std::string> paths;
    std::unique_ptr<CChartList> list;
    std::unique_ptr<CQuickChartView> view;
    double now = 1.0e9;
    int folders = 0;
};

}  // namespace cvtest
