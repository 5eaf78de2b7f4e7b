// SPDX-License-Identifier: GPL-3.0-or-later
// Tracks: what one GPS position costs the recorder (with the journal), the statistics of
// a long track, and drawing a long track over a full-HD view.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <QTemporaryDir>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "charts/georef.h"
#include "core/pubsub.h"
#include "overlays/trackmanager.h"

namespace {

constexpr double kT0 = 1781431200.0;
constexpr int kBatch = 10000;  // positions before the track starts afresh (keeps it small)

// A recorder in a folder of its own; every position published turns and moves 20 m, so
// each becomes a point (or, with `drop`, moves 1 m and none does).
struct Recorder {
    QTemporaryDir dir;
    std::unique_ptr<CTrackManager> manager;
    CDataGPSPosition pos;
    int n = 0;

    Recorder(bool journal, bool syncing) {
        CTrackManager::settings.doRecordTrack = true;
        manager = std::make_unique<CTrackManager>();
        manager->SetDirectory(dir.path().toStdString());
        manager->SetJournalEnabled(journal);
        manager->Journal().SetSyncing(syncing);
        pos.fix_status = FIX_GPS;
        pos.best_mode = CDataSpeedDirection::DIR_COURSE;
        pos.SetCourseSpeed(0, 19.4f);
        pos.avg_speed = 19.4f;
        pos.avg_vec.SetDegrees(90);  // turning: every step counts
    }
    ~Recorder() { CTrackManager::settings.doRecordTrack = false; }

    void Next(double metres) {
        pos.SetLatLon(50.0 + n * metres / 111229.0, -3.0);
        pos.fix_time = kT0 + 2.0 * n;
        ++n;
        Listener<CDataGPSPosition>::Publish(pos);
    }
    void Reset() {
        manager->ClearAll();
        manager->Journal().Truncate();
        n = 0;
    }
};

void RecordPositions(benchmark::State& state, bool journal, bool syncing, double metres) {
    Recorder r(journal, syncing);
    for (auto _ : state) {
        if (r.n == kBatch) {
            state.PauseTiming();
            r.Reset();
            state.ResumeTiming();
        }
        r.Next(metres);
    }
    state.counters["syncs"] = double(r.manager->Journal().SyncCount());
}

// The figure to hold to: a recorded point, journal write included, no disk sync.
void BM_RecordPoint_JournalNoSync(benchmark::State& state) {
    RecordPositions(state, true, false, 20);
}
BENCHMARK(BM_RecordPoint_JournalNoSync);

// The same with the syncs at every new section and every 4 s, spread over the points.
void BM_RecordPoint_JournalSynced(benchmark::State& state) {
    RecordPositions(state, true, true, 20);
}
BENCHMARK(BM_RecordPoint_JournalSynced);

// Without any journal: the difference to the above is what the journal costs.
void BM_RecordPoint_NoJournal(benchmark::State& state) {
    RecordPositions(state, false, false, 20);
}
BENCHMARK(BM_RecordPoint_NoJournal);

// Most positions (1 m apart) are not points.
void BM_PositionDropped(benchmark::State& state) {
    RecordPositions(state, true, false, 0);
}
BENCHMARK(BM_PositionDropped);

// 100,000 points: a passage of some 2,000 km with a point every 20 m (`tangle` false),
// or two days of wandering about one bay with a point every 6 m (`tangle` true, the
// worst case: 600 km of line packed into a few kilometres).
std::unique_ptr<COverlayTrack> LongTrack(bool tangle = true) {
    std::mt19937 rng(11);
    const double maxTurn = tangle ? 25 : 2, step = tangle ? 6 : 20;
    std::uniform_real_distribution<double> turn(-maxTurn, maxTurn);
    std::vector<CTrackPoint> pts;
    pts.reserve(100000);
    double lat = 50.0, lon = -3.0, course = 45;
    for (int i = 0; i < 100000; ++i) {
        course += turn(rng);
        const double c = course * M_PI / 180;
        lat += step * std::cos(c) / 111229.0;
        lon += step * std::sin(c) / 71696.0;
        pts.emplace_back(lat, lon, kT0 + 2.0 * i, float(10 + i % 50));
    }
    auto t = std::make_unique<COverlayTrack>();
    t->SetPoints(pts);
    return t;
}

void BM_Statistics100k(benchmark::State& state) {
    auto t = LongTrack();
    for (auto _ : state) {
        // Nothing cached: as after loading, or after compaction.
        for (const auto& sec : t->getSections()) sec->InvalidateStats();
        benchmark::DoNotOptimize(t->StoredStats());
    }
    state.counters["points"] = double(t->getTotalPoints());
}
BENCHMARK(BM_Statistics100k)->Unit(benchmark::kMillisecond);

// The whole track fitted into a 1920 x 1080 view, drawn through the overlay interface
// as the chart view does: each section moved to the screen and drawn, antialiased.
void BM_Draw100kFullHd(benchmark::State& state) {
    auto t = LongTrack(state.range(1) != 0);
    CBounds b;
    t->getLonLatBounds(b);
    const double k = std::min(1900.0 / b.Width(), 1060.0 / b.Height());
    // x = k (lon - lon0), y = k (lat1 - lat): a plain chart around the track.
    const double fwd[2][10] = {{-k * b.xmin, 0, k}, {k * b.ymax, -k, 0}};
    const double inv[2][10] = {{b.ymax, 0, -1 / k}, {b.xmin, 1 / k, 0}};
    CPolynomialProjection chart;
    chart.init(fwd, inv, 1920, 1080, 0, 0);
    std::vector<COverlayObject::CMapping> maps;
    maps.reserve(t->getSectionCount());
    for (const auto& sec : t->getSections()) {
        maps.emplace_back(sec.get());
        sec->Map(maps.back(), chart);
    }
    COverlayObject::CViewParams vp;
    vp.scale = 1.0;
    vp.visible = FRect(-10, -10, 1930, 1090);
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    t->SetLineStyle(GraphicsColor(200, 0, 0), 2.0f, 0);
    for (auto _ : state) {
        state.PauseTiming();
        image.fill(Qt::white);
        state.ResumeTiming();
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing, state.range(0) != 0);
        for (auto& m : maps) {
            if (!m.map_to_screen(vp)) continue;
            m.object->Draw(&p, m);
        }
    }
    state.counters["sections"] = double(maps.size());
}
// Arguments: antialiased (as the map draws), tangle.
BENCHMARK(BM_Draw100kFullHd)->ArgNames({"aa", "tangle"})->Args({1, 0})->Args({1, 1})->Args({0, 1})->Unit(benchmark::kMillisecond);



}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
