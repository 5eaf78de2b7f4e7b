// SPDX-License-Identifier: GPL-3.0-or-later
// The cached renderer at full-HD: wall time from a Draw on an empty renderer until a frame
// comes out complete (single-file and chunked charts), the same after a zoom change by one
// level, and Draw alone when every square is ready (placing and painting only).
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>

#include "charts/cached_chart.h"
#include "charts/qct_writer.h"

namespace {

constexpr int kFrameW = 1920, kFrameH = 1080;

// A chart with the look of a real one: depth bands, a coast, grid lines and soundings.
std::string WriteChart(const QTemporaryDir& dir, bool chunked) {
    const int w = 4096, h = 3072;
    std::vector<uint8_t> px(size_t(w) * h);
    uint32_t seed = 1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245 + 12345;
            uint8_t c = (x * x / 9000 + y < 2600) ? uint8_t(2 + (y / 41) % 6) : uint8_t(10 + (x / 97) % 5);
            if ((x % 211) < 2 || (y % 173) < 2) c = 20;
            if ((seed >> 16) % 61 == 0) c = uint8_t(30 + (seed >> 8) % 20);
            px[size_t(y) * w + x] = c;
        }
    std::vector<uint32_t> pal(64);
    for (int i = 0; i < 64; ++i) pal[i] = uint32_t(i * 4) << 16 | uint32_t(200 - i) << 8 | uint32_t(i * 3);
    CQctWriter wr;
    wr.SetIndexedImage(w, h, px, pal);
    wr.SetGeorefFromCorners(51, 50, -2, -1);
    const std::string path = dir.path().toStdString() + (chunked ? "/chunked.qct" : "/single.qct");
    const bool ok = chunked ? wr.WriteChunked(path) : wr.WriteSingleFile(path);
    return ok ? path : std::string();
}

struct Charts {
    QTemporaryDir dir;
    std::string single, chunked;
    Charts() : single(WriteChart(dir, false)), chunked(WriteChart(dir, true)) {}
};

Charts& TheCharts() {
    static Charts c;
    return c;
}

struct Frame {
    QImage image{kFrameW, kFrameH, QImage::Format_RGB32};
    FRect rect{0, 0, double(kFrameW), double(kFrameH)};

    void Draw(CCachedQuickChart& r, FPoint origin, int zoom) {
        r.Update(rect, origin, zoom);
        QPainter p(&image);
        bool flag = false;
        r.Draw(&p, rect, origin, zoom, flag);
    }
    // Draws and waits for the workers until a frame comes out complete, as the owner
    // would through TimerCallback; false after 10 s.
    bool DrawUntilComplete(CCachedQuickChart& r, FPoint origin, int zoom) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            Draw(r, origin, zoom);
            if (r.LastFrameComplete()) return true;
            do {
                if (std::chrono::steady_clock::now() > end) return false;
                r.WaitForProcessed(5);
            } while (!r.TimerCallback());
        }
    }
};

bool OpenRenderer(CCachedQuickChart& r, const std::string& path) {
    bool ok = false;
    if (!path.empty()) r.Open(NV_HWND(), path.c_str(), [&ok](bool result) { ok = result; });
    return ok;
}

const std::string& PathFor(int chunked) {
    return chunked ? TheCharts().chunked : TheCharts().single;
}

// arg: 0 single-file, 1 chunked.
void BM_FirstFrame(benchmark::State& state) {
    CCachedQuickChart r;
    if (!OpenRenderer(r, PathFor(int(state.range(0))))) return state.SkipWithError("no chart");
    Frame f;
    const FPoint origin(1000, 900);
    for (auto _ : state) {
        r.InvalidateAllDibs();  // no squares, no threads, no decoded chunks
        const auto t0 = std::chrono::steady_clock::now();
        if (!f.DrawUntilComplete(r, origin, 0)) return state.SkipWithError("frame never completed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
BENCHMARK(BM_FirstFrame)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// From a complete frame at zoom 0 to a complete frame at zoom `to` (arg: variant).
void ZoomOneLevel(benchmark::State& state, int to) {
    CCachedQuickChart r;
    if (!OpenRenderer(r, PathFor(int(state.range(0))))) return state.SkipWithError("no chart");
    Frame f;
    const FPoint origin(1000, 900);
    for (auto _ : state) {
        r.InvalidateAllDibs();
        if (!f.DrawUntilComplete(r, origin, 0)) return state.SkipWithError("frame never completed");
        const auto t0 = std::chrono::steady_clock::now();
        if (!f.DrawUntilComplete(r, origin, to)) return state.SkipWithError("frame never completed");
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    }
}
void BM_ZoomOutOneLevel(benchmark::State& state) {
    ZoomOneLevel(state, 1);
}
void BM_ZoomInOneLevel(benchmark::State& state) {
    ZoomOneLevel(state, -1);
}
BENCHMARK(BM_ZoomOutOneLevel)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomInOneLevel)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// Draw with every square ready: place and paint a full-HD frame.
void BM_DrawReadySquares(benchmark::State& state) {
    CCachedQuickChart r;
    if (!OpenRenderer(r, PathFor(0))) return state.SkipWithError("no chart");
    Frame f;
    const FPoint origin(1000, 900);
    if (!f.DrawUntilComplete(r, origin, 0)) return state.SkipWithError("frame never completed");
    for (auto _ : state) {
        f.Draw(r, origin, 0);
        benchmark::DoNotOptimize(f.image.constBits());
    }
    if (!r.LastFrameComplete()) state.SkipWithError("frame incomplete");
    state.SetItemsProcessed(state.iterations() * kFrameW * kFrameH);
}
BENCHMARK(BM_DrawReadySquares)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // pixmaps need a GUI application
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
