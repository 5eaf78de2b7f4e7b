// SPDX-License-Identifier: GPL-3.0-or-later
// GPX import and export of a 200,000-point track, measured beside gpsbabel reading and
// writing the same file (gpsbabel -i gpx -f IN -o gpx -F OUT) in the same run; the end
// of the run prints how many times faster each side of Navora is.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <clocale>
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "core/apppaths.h"
#include "overlays/gpximport.h"
#include "overlays/gpxoutput.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"

namespace {

constexpr int kPoints = 200000;

// A store in a folder of its own and the track file, written once.
struct Fixture {
    QTemporaryDir dir;
    std::string in, out, babelOut;
    std::unique_ptr<CMarkManager> marks;
    std::unique_ptr<CTrackManager> tracks;

    Fixture() {
        const std::string d = dir.path().toStdString();
        setAppDirectoryForTesting(d);
        CIconManager::setIconFolderForTesting(d + "/Icons");
        marks = std::make_unique<CMarkManager>();
        marks->SetDirectory(d);
        tracks = std::make_unique<CTrackManager>();
        tracks->SetDirectory(d);
        tracks->SetJournalEnabled(false);
        in = d + "/track.gpx";
        out = d + "/export.gpx";
        babelOut = d + "/gpsbabel.gpx";
        // A walk with a little sideways wander at every point, as a receiver logs it once
        // a second: nothing for compaction to drop.
        FILE* f = std::fopen(in.c_str(), "w");
        std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<gpx version=\"1.1\" creator=\"bench\" "
                   "xmlns=\"http://www.topografix.com/GPX/1/1\">\n<trk><name>Long walk</name><trkseg>\n",
                   f);
        for (int i = 0; i < kPoints; ++i) {
            const int s = i % 86400;
            std::fprintf(f,
                         "<trkpt lat=\"%.7f\" lon=\"%.7f\"><ele>%.1f</ele>"
                         "<time>2025-06-%02dT%02d:%02d:%02dZ</time></trkpt>\n",
                         50.0 + i * 1e-5, -1.0 + i * 2e-6 + (i % 2) * 1e-4, 10.0 + (i % 100) * 0.1, 1 + i / 86400,
                         s / 3600, s / 60 % 60, s % 60);
        }
        std::fputs("</trkseg></trk>\n</gpx>\n", f);
        std::fclose(f);
    }
    static Fixture& Get() {
        static Fixture f;
        return f;
    }
};

std::map<std::string, double> g_seconds;  // real time per iteration of each benchmark

void BM_GpxImport200kTrack(benchmark::State& state) {
    Fixture& fx = Fixture::Get();
    size_t points = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fx.tracks->ClearAll();
        fx.tracks->SaveIfNeeded();
        state.ResumeTiming();
        COverlayImportResult r;
        if (!ImportOverlayFile(fx.in, r)) state.SkipWithError(r.error.c_str());
        points = size_t(r.track_points);
    }
    state.counters["points"] = double(points);
    state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void BM_GpxExport200kTrack(benchmark::State& state) {
    Fixture& fx = Fixture::Get();
    fx.tracks->ClearAll();
    COverlayImportResult r;
    ImportOverlayFile(fx.in, r);
    for (auto _ : state) {
        std::string error;
        if (!ExportAllGPX(fx.out, &error)) state.SkipWithError(error.c_str());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

void BM_GpsbabelReadWrite200kTrack(benchmark::State& state) {
    Fixture& fx = Fixture::Get();
    if (QStandardPaths::findExecutable(QStringLiteral("gpsbabel")).isEmpty()) {
        state.SkipWithError("gpsbabel is not installed");
        return;
    }
    for (auto _ : state) {
        QProcess p;
        p.start(QStringLiteral("gpsbabel"),
                {"-i", "gpx", "-f", QString::fromStdString(fx.in), "-o", "gpx", "-F", QString::fromStdString(fx.babelOut)});
        if (!p.waitForFinished(600000) || p.exitCode() != 0) state.SkipWithError("gpsbabel failed");
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kPoints);
}

BENCHMARK(BM_GpxImport200kTrack)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_GpxExport200kTrack)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_GpsbabelReadWrite200kTrack)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Prints as usual and remembers each benchmark's time for the comparison.
class Recorder : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (!r.error_occurred && r.iterations > 0)
                g_seconds[r.run_name.function_name] = r.real_accumulated_time / double(r.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");  // the test file is written with printf
    benchmark::Initialize(&argc, argv);
    Recorder reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double imp = g_seconds["BM_GpxImport200kTrack"];
    const double exp = g_seconds["BM_GpxExport200kTrack"];
    const double babel = g_seconds["BM_GpsbabelReadWrite200kTrack"];
    if (imp > 0 && exp > 0 && babel > 0) {
        std::printf("\ngpsbabel -i gpx -f IN -o gpx -F OUT on the same %d-point file: %.0f ms\n", kPoints, babel * 1e3);
        std::printf("import %.0f ms: %.1fx faster; export %.0f ms: %.1fx faster\n", imp * 1e3, babel / imp, exp * 1e3,
                    babel / exp);
    }
    benchmark::Shutdown();
    return 0;
}
