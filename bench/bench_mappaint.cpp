// SPDX-License-Identifier: GPL-3.0-or-later
// What the map item's paint costs while the user pans a full-HD map: 300 frames of a
// scripted pan across a chart-like chart, each frame the work the QtQuick item does
// (the view's heartbeat tick, then drawing chart and overlays into a 1920 x 1080 image).
// Squares that come into view are decoded by the renderer's workers meanwhile, as in the
// app, so frames show coarser fill-ins until they arrive.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "charts/qct_writer.h"
#include "maplib/chartview.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 300;

// A 6144 x 6144 chart with sea, "land" blobs and a graticule, so tiles compress like a
// real chart's rather than like a flat colour.
std::string MakeChart(const QTemporaryDir& dir, bool chunked) {
    constexpr int n = 6144;
    std::vector<uint8_t> idx(size_t(n) * n);
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const double v = std::sin(x * 0.004) * std::cos(y * 0.005) + 0.4 * std::sin((x + y) * 0.013);
            uint8_t c = v > 0.55 ? 2 : (v > 0.45 ? 1 : 0);
            if (x % 512 < 2 || y % 512 < 2) c = 3;
            idx[size_t(y) * n + x] = c;
        }
    }
    CQctWriter w;
    w.SetIndexedImage(n, n, idx, {0xCFE6F5, 0xB4D7F0, 0xF3E3AE, 0x6C8CAE});
    w.SetGeorefFromCorners(52, 48, -4, 2);
    const std::string path = dir.path().toStdString() + (chunked ? "/pan_chunked.qct" : "/pan.qct");
    if (chunked)
        w.WriteChunked(path);
    else
        w.WriteSingleFile(path);
    return path;
}

void BM_PanFullHd(benchmark::State& state) {
    static QTemporaryDir dir;
    const bool chunked = state.range(0) != 0;
    const std::string path = MakeChart(dir, chunked);
    for (auto _ : state) {
        state.PauseTiming();
        CQuickChartView view;
        view.setScreenRect(0, 0, kWidth, kHeight);
        bool opened = false;
        view.onOpen(NV_HWND(), path, false, [&](bool) { opened = true; });
        while (!opened) QCoreApplication::processEvents();
        // Chart pixels one to one, in the middle of the chart.
        view.GotoLocation(NV_HWND(), true, 50.0, -1.0);
        QImage img(kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
        // Start from a settled screen, as when the user puts a finger down.
        for (int i = 0; i < 2000; ++i) {
            QPainter p(&img);
            if (view.onDraw(&p, 0, 0, kWidth, kHeight)) break;
            p.end();
            QCoreApplication::processEvents();
            view.onTimer();
        }
        std::vector<double> frames;
        frames.reserve(kFrames);
        state.ResumeTiming();
        QElapsedTimer total;
        total.start();
        for (int f = 0; f < kFrames; ++f) {
            QElapsedTimer t;
            t.start();
            view.DoScroll(f < kFrames / 2 ? -9 : 9, f < kFrames / 2 ? -5 : 4);
            view.onTimer();
            QPainter p(&img);
            benchmark::DoNotOptimize(view.onDraw(&p, 0, 0, kWidth, kHeight));
            p.end();
            frames.push_back(double(t.nsecsElapsed()) / 1e6);
            // Between frames the event loop delivers the workers' finished squares.
            state.PauseTiming();
            QCoreApplication::processEvents();
            state.ResumeTiming();
        }
        std::sort(frames.begin(), frames.end());
        state.counters["ms_per_frame"] = double(total.nsecsElapsed()) / 1e6 / kFrames;
        state.counters["p95_ms"] = frames[size_t(kFrames * 0.95)];
        state.counters["max_ms"] = frames.back();
    }
}
BENCHMARK(BM_PanFullHd)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
