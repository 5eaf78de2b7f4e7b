// SPDX-License-Identifier: GPL-3.0-or-later
// The chart catalogue over 2,000 small charts spread over 20 folders: a full refresh
// (file cache warm after the first pass), the check that finds nothing changed, and the
// choice of the best chart for a place and scale. Half the charts carry a stored outline,
// read lazily the first time a point test needs it; the choice is measured after that.
#include <QDir>
#include <QTemporaryDir>

#include <array>
#include <cmath>
#include <memory>
#include <random>

#include <benchmark/benchmark.h>

#include "charts/qct_writer.h"
#include "maplib/chartlist.h"

namespace {

constexpr int kCharts = 2000;

std::array<double, 40> Linear(double north, double west, double k) {
    std::array<double, 40> c{};
    c[0] = -west / k;
    c[2] = 1 / k;
    c[10] = north / k;
    c[11] = -1 / k;
    c[20] = north;
    c[22] = -k;
    c[30] = west;
    c[31] = k;
    return c;
}

struct Fixture {
    QTemporaryDir dir;
    std::string root;
    std::unique_ptr<CChartList> list;
    std::vector<std::array<double, 3>> queries;  // lat, lon, scale
    bool ok = true;

    Fixture() : root(dir.path().toStdString() + "/maps") {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> lat(40, 60), lon(-10, 10), unit(0, 1);
        std::vector<uint8_t> px(64 * 64 * 4);
        for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i / 64 + i) % 3);
        const char* types[] = {"Topo", "Nautical", "4WD", "Basemap"};
        for (int i = 0; i < kCharts && ok; ++i) {
            const std::string folder = root + "/set" + std::to_string(i % 20);
            QDir().mkpath(QString::fromStdString(folder));
            // Scales from 0.01 to 10 nautical miles per pixel, logarithmically spread.
            const double scale = 0.01 * std::pow(1000.0, unit(rng));
            const double k = scale / 60;
            const double north = lat(rng), west = lon(rng);
            CQctWriter w;
            w.SetIndexedImage(128, 128, px, {0x000000, 0x808080, 0xFFFFFF});
            w.SetGeoref(Linear(north, west, k / 2));
            w.Meta().name = QStringLiteral("Chart %1").arg(i);
            w.Meta().map_type = QString::fromLatin1(types[i % 4]);
            w.Meta().revision = QStringLiteral("01/2020");
            if (i % 2) {
                const double s = 128 * k / 2;
                w.Meta().outline = {{north - 0.1 * s, west + 0.1 * s},
                                    {north - 0.1 * s, west + 0.9 * s},
                                    {north - 0.5 * s, west + s},
                                    {north - 0.9 * s, west + 0.9 * s},
                                    {north - 0.9 * s, west + 0.1 * s}};
            }
            ok = w.WriteSingleFile(folder + "/chart" + std::to_string(i) + ".qct");
        }
        for (int i = 0; i < 1000; ++i) queries.push_back({lat(rng), lon(rng), 0.01 * std::pow(1000.0, unit(rng))});
        list = std::make_unique<CChartList>(std::vector<std::string>{root}, std::string());
        if (list->size() != size_t(kCharts)) ok = false;
        // Every lazily read outline that the queries touch.
        for (const auto& q : queries) list->FindBestChart(q[0], q[1], q[2]);
    }
};

Fixture& F() {
    static Fixture f;
    return f;
}

void BM_Refresh(benchmark::State& state) {
    Fixture& f = F();
    if (!f.ok) return state.SkipWithError("charts could not be made");
    for (auto _ : state) {
        f.list->Refresh();
        benchmark::DoNotOptimize(f.list->size());
    }
    state.counters["charts"] = double(f.list->size());
    // Leave the outlines read for the other benchmarks.
    for (const auto& q : f.queries) f.list->FindBestChart(q[0], q[1], q[2]);
}
BENCHMARK(BM_Refresh)->Unit(benchmark::kMillisecond);

void BM_RefreshIfNeededUnchanged(benchmark::State& state) {
    Fixture& f = F();
    if (!f.ok) return state.SkipWithError("charts could not be made");
    for (auto _ : state) benchmark::DoNotOptimize(f.list->RefreshIfNeeded());
}
BENCHMARK(BM_RefreshIfNeededUnchanged)->Unit(benchmark::kMillisecond);

void BM_FindBestChart(benchmark::State& state) {
    Fixture& f = F();
    if (!f.ok) return state.SkipWithError("charts could not be made");
    size_t i = 0, found = 0;
    for (auto _ : state) {
        const auto& q = f.queries[i++ % f.queries.size()];
        const CChartOutline* best = f.list->FindBestChart(q[0], q[1], q[2]);
        found += best != nullptr;
        benchmark::DoNotOptimize(best);
    }
    state.counters["found"] = benchmark::Counter(double(found) / double(state.iterations()));
}
BENCHMARK(BM_FindBestChart)->Unit(benchmark::kMicrosecond);

void BM_FindBestChartNoPosition(benchmark::State& state) {
    Fixture& f = F();
    if (!f.ok) return state.SkipWithError("charts could not be made");
    for (auto _ : state) benchmark::DoNotOptimize(f.list->FindBestChart(999, 0, 1.0));
}
BENCHMARK(BM_FindBestChartNoPosition)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
