// SPDX-License-Identifier: GPL-3.0-or-later
// Marks and routes at the size of a large collection: 10,000 marks and 1,000 routes of 50
// waypoints. Per GPS update: navigation along a followed route plus every alarm check
// (each mark carries a proximity or anchor alarm, a tenth of the routes a geofence or an
// exclusion zone, and the cross-track limit is on). And loading and saving both files.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "core/apppaths.h"
#include "core/pubsub.h"
#include "core/uiservices.h"
#include "overlays/markmanager.h"

namespace {

constexpr int kMarks = 10000;
constexpr int kRoutes = 1000;
constexpr int kWaypoints = 50;

// Alarms go nowhere: the benchmark measures the checks, not a notification service.
class QuietUi : public IUiServices {
public:
    void ShowMessage(const NV_HWND&, const std::string&, const std::string&, const std::vector<std::string>&,
                     std::function<void(int)> done) override {
        if (done) done(0);
    }
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string&, const std::string&, const std::string&) override {}
    void CancelSystemNotification(const std::string&) override {}
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData>) override {}
};

struct Collection {
    QuietUi ui;
    std::string dir = "/tmp/navora_bench_marks";
    std::unique_ptr<CMarkManager> manager;

    Collection() {
        SetUiServices(&ui);
        createDirectory(dir);
        manager = std::make_unique<CMarkManager>();
        manager->SetDirectory(dir);
        manager->AlarmLog().SetPath({});
        CMarkManager::settings.cross_track_alarm = 500;
        // Marks on a grid over a degree of sea; routes wander across the same area.
        for (int i = 0; i < kMarks; ++i) {
            auto m = std::make_unique<COverlayMark>();
            m->setName("Mark " + std::to_string(i));
            m->setDescription("a mark of the benchmark collection");
            m->SetPosition(50.0 + (i / 100) * 0.01, -1.5 + (i % 100) * 0.01);
            if (i % 2)
                m->SetAlarm(0, 150);
            else
                m->SetAlarm(30, 130);
            manager->AddMark(std::move(m));
        }
        for (int r = 0; r < kRoutes; ++r) {
            auto route = std::make_unique<COverlayRoute>();
            route->setName("Route " + std::to_string(r));
            const double lat0 = 50.0 + (r % 40) * 0.025, lon0 = -1.5 + (r / 40) * 0.04;
            for (int w = 0; w < kWaypoints; ++w)
                route->AddWaypoint(lat0 + 0.02 * std::sin(w * 0.13), lon0 + w * 0.002 + 0.01 * std::cos(w * 0.3));
            if (r % 10 == 0) route->SetAreaAlarms(r % 20 == 0, r % 20 != 0);
            manager->AddRoute(std::move(route));
        }
        manager->SetFollowRoute(manager->Routes()[123].get());
        manager->SaveIfNeeded();
    }
    ~Collection() {
        manager.reset();
        SetUiServices(nullptr);
    }
};

Collection& TheCollection() {
    static Collection c;
    return c;
}

void BM_GpsUpdate(benchmark::State& state) {
    Collection& c = TheCollection();
    const COverlayRoute& route = *c.manager->Routes()[123];
    CDataGPSPosition p;
    p.fix_status = FIX_GPS;
    p.speed = 6;
    int step = 0;
    for (auto _ : state) {
        // Along the followed route, a little off its line.
        const int w = step % (kWaypoints - 1);
        const double t = (step % 10) / 10.0;
        const COverlayMark* a = route.Waypoint(size_t(w));
        const COverlayMark* b = route.Waypoint(size_t(w) + 1);
        p.SetLatLon(a->getLat() + t * (b->getLat() - a->getLat()) + 0.0002, a->getLon() + t * (b->getLon() - a->getLon()));
        p.course = float(std::fmod(std::atan2(b->getLon() - a->getLon(), b->getLat() - a->getLat()) * 57.29578 + 360, 360));
        p.course_vec.SetDegrees(p.course);
        p.fix_time += 1;
        Listener<CDataGPSPosition>::Publish(p);
        ++step;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GpsUpdate)->Unit(benchmark::kMicrosecond);

void BM_LoadFiles(benchmark::State& state) {
    Collection& c = TheCollection();
    CMarkManager reader;
    reader.SetDirectory(c.dir);
    for (auto _ : state) {
        if (!reader.LoadFromFile()) state.SkipWithError("the files did not load");
        benchmark::DoNotOptimize(reader.Routes().size());
    }
    state.counters["objects"] = double(reader.Marks().size() + reader.Routes().size() * (kWaypoints + 1));
}
BENCHMARK(BM_LoadFiles)->Unit(benchmark::kMillisecond);

void BM_SaveFiles(benchmark::State& state) {
    Collection& c = TheCollection();
    for (auto _ : state) {
        c.manager->SetMarksChanged();
        c.manager->SetRoutesChanged();
        if (!c.manager->SaveIfNeeded()) state.SkipWithError("the files were not written");
    }
    state.counters["marks_bytes"] = double(FileSize(c.manager->MarksPath()));
    state.counters["routes_bytes"] = double(FileSize(c.manager->RoutesPath()));
}
BENCHMARK(BM_SaveFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
