// SPDX-License-Identifier: GPL-3.0-or-later
// The chart view's per-frame and per-tap work with many overlays on screen.

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "charts/qct_writer.h"
#include "maplib/chartview.h"

namespace {

class Dot : public COverlayObject {
public:
    Dot(double lat, double lon) : COverlayObject(LAYER_MARK, OBJECT_MARK), m_lat(lat), m_lon(lon) {}
    ~Dot() override { Dispatch(UPDATE_DESTROYED); }
    void Map(CMapping& m, const CPolynomialProjection& p) const override {
        FPoint px;
        if (!p.latlong_to_xy(m_lat, m_lon, px)) return;
        m.points.assign(1, DblPoint(px.x, px.y));
        m.kind = CMapping::HIT_POINTS;
        m.count = 1;
    }
    void Draw(QPainter* painter, CMapping& m) const override {
        if (!m.screen.empty()) painter->drawPoint(QPointF(m.screen[0].x, m.screen[0].y));
    }

private:
    double m_lat, m_lon;
};

struct Scene {
    QTemporaryDir dir;
    std::unique_ptr<CQuickChartView> view;
    std::vector<std::unique_ptr<Dot>> dots;

    explicit Scene(int count) {
        std::vector<uint8_t> idx(1024 * 1024);
        for (size_t i = 0; i < idx.size(); ++i) idx[i] = uint8_t((i / 64 + i / (64 * 1024)) % 2);
        CQctWriter w;
        w.SetIndexedImage(1024, 1024, idx, {0x3366CC, 0xDDDDDD});
        w.SetGeorefFromCorners(51, 49, -1.5, 1.5);
        const std::string path = dir.path().toStdString() + "/bench.qct";
        w.WriteSingleFile(path);
        view = std::make_unique<CQuickChartView>();
        view->setScreenRect(0, 0, 1024, 768);
        bool done = false;
        view->onOpen(NV_HWND(), path, false, [&](bool) { done = true; });
        while (!done) QCoreApplication::processEvents();
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> lat(49.3, 50.7), lon(-1.2, 1.2);
        for (int i = 0; i < count; ++i) {
            dots.push_back(std::make_unique<Dot>(lat(rng), lon(rng)));
            dots.back()->Dispatch(COverlayObject::UPDATE_CHANGED);
        }
        // Let the renderer finish so that frames measure placing, not decoding.
        QImage img(1024, 768, QImage::Format_RGB32);
        for (int i = 0; i < 5000; ++i) {
            QPainter p(&img);
            if (view->onDraw(&p, 0, 0, 1024, 768)) break;
            p.end();
            QThread::msleep(1);
            view->onTimer();
        }
    }
};

void BM_FrameWhilePanning(benchmark::State& state) {
    Scene scene(int(state.range(0)));
    QImage img(1024, 768, QImage::Format_RGB32);
    double dir = 1;
    for (auto _ : state) {
        scene.view->DoScroll(dir, 0);
        dir = -dir;
        scene.view->PrepareFrame();
        QPainter p(&img);
        benchmark::DoNotOptimize(scene.view->onDraw(&p, 0, 0, 1024, 768));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FrameWhilePanning)->Arg(100)->Arg(2000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_TapOnEmptyChart(benchmark::State& state) {
    Scene scene(int(state.range(0)));
    for (auto _ : state) {
        // Every object is tested and none is hit: the worst case of a tap.
        benchmark::DoNotOptimize(scene.view->onTap(-500, -500, 225));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_TapOnEmptyChart)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
