// SPDX-License-Identifier: GPL-3.0-or-later
#include <benchmark/benchmark.h>

#include <string>

#include "units/units.h"
#include "units/wmm.h"

namespace {

// Lists and overlays format a position per visible row, so each format's cost matters.
void BM_FormatPosition(benchmark::State& state, const char* format, double lat, double lon) {
    const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find(format);
    std::string text;
    for (auto _ : state) {
        f->format(lat, lon, text);
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK_CAPTURE(BM_FormatPosition, DegMin, "Deg,Min", 50.5, -1.25);
BENCHMARK_CAPTURE(BM_FormatPosition, BritishGrid, "British National Grid", 51.5, -0.12);
BENCHMARK_CAPTURE(BM_FormatPosition, MGRS, "MGRS", 51.5, -0.12);

void BM_ScanBritishGrid(benchmark::State& state) {
    const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find("British National Grid");
    double lat, lon;
    for (auto _ : state) benchmark::DoNotOptimize(f->scan("TQ 30270 79641", lat, lon));
}
BENCHMARK(BM_ScanBritishGrid);

// One declaration: the model is read from the embedded file every time.
void BM_MagneticDeclination(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(get_magnetic_declination(CUnits::MagneticModelPath(), 50.0, -1.0, 100.0, 1.75e9));
    }
}
BENCHMARK(BM_MagneticDeclination);

}  // namespace

BENCHMARK_MAIN();
