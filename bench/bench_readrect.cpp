// SPDX-License-Identifier: GPL-3.0-or-later
// ReadRectRGB on a single-file chart with chart-like content, decoding included (the
// chart has no cache, so every read decodes its tiles). Items are output pixels.
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include "charts/qct.h"
#include "charts/qct_writer.h"

namespace {

struct Fixture {
    QTemporaryDir dir;
    CQuickChart* chart = nullptr;
    Fixture() {
        const int w = 2048, h = 2048;
        std::vector<uint8_t> px(size_t(w) * h);
        uint32_t seed = 1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                seed = seed * 1103515245 + 12345;
                uint8_t c = (x * x / 3000 + y < 1500) ? uint8_t(2 + (y / 41) % 6) : uint8_t(10 + (x / 97) % 5);
                if ((x % 211) < 2 || (y % 173) < 2) c = 20;         // grid lines
                if ((seed >> 16) % 61 == 0) c = uint8_t(30 + (seed >> 8) % 20);  // soundings, text
                px[size_t(y) * w + x] = c;
            }
        std::vector<uint32_t> pal(64);
        for (int i = 0; i < 64; ++i) pal[i] = uint32_t(i * 4) << 16 | uint32_t(200 - i) << 8 | uint32_t(i * 3);
        CQctWriter wr;
        wr.SetIndexedImage(w, h, px, pal);
        wr.SetGeorefFromCorners(51, 50, -2, -1);
        const std::string path = dir.path().toStdString() + "/bench.qct";
        if (!wr.WriteSingleFile(path)) return;
        CQuickChart::CreateNew(NV_HWND(), path, [this](CQuickChart* c, bool ok) { chart = ok ? c : nullptr; });
    }
    ~Fixture() { delete chart; }
};

Fixture& F() {
    static Fixture f;
    return f;
}

void BM_ReadRect(benchmark::State& state) {
    const int zoom = static_cast<int>(state.range(0));
    CQuickChart* c = F().chart;
    if (!c) {
        state.SkipWithError("no chart");
        return;
    }
    const int w = 256, h = 256;
    std::vector<unsigned int> out(size_t(w) * h);
    ThreadDataForRead td;
    int i = 0;
    for (auto _ : state) {
        const int span = 256 << zoom;
        const int x = (i * span) % 2048, y = ((i * span) / 2048 * span) % 2048;
        c->ReadRectRGB(x, y, w, h, w, zoom, out.data(), &td);
        benchmark::DoNotOptimize(out.data());
        ++i;
    }
    state.SetItemsProcessed(state.iterations() * w * h);
}
BENCHMARK(BM_ReadRect)->Arg(0)->Arg(2);

}  // namespace

BENCHMARK_MAIN();
