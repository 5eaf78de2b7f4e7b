// SPDX-License-Identifier: GPL-3.0-or-later
// AIS: decoding and target updates against Debian's gpsdecode on the same log (a busy
// sea area of 2,000 stations, made with our own encoder), heap allocations per message
// once every station is known, collision checks of 2,000 targets per own position, and
// drawing 2,000 targets on a full-HD picture.
//
// The ratio of the two decoders is printed after the run.

#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include <sys/resource.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "charts/georef.h"
#include "core/uiservices.h"
#include "navdata/ais.h"
#include "navdata/ais_encode.h"
#include "navdata/gpsposition.h"

namespace {
std::atomic<size_t> g_allocations{0};
}

void* operator new(size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}

namespace {

constexpr double kOwnLat = 50.5, kOwnLon = -1.5;
constexpr int kStations = 2000;
constexpr int kSentences = 300000;

// Nobody to show alerts to: they are counted, not printed.
class QuietUi : public IUiServices {
public:
    void ShowMessage(const NV_HWND&, const std::string&, const std::string&, const std::vector<std::string>&,
                     std::function<void(int)>) override {}
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string&, const std::string&, const std::string&) override { ++shown; }
    void CancelSystemNotification(const std::string&) override {}
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData>) override {}
    size_t shown = 0;
};

uint32_t Next(uint32_t& seed) {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
}
double Uniform(uint32_t& seed) {
    return double(Next(seed) & 0xFFFFFF) / double(0x1000000);
}

// A busy sea area: 2,000 stations within 20 miles, in the mix a coastal receiver hears.
// Class A positions (types 1 and 3) most of the time, class B (18), static data (two-part
// type 5, type 24 parts A and B) and aids to navigation (21) now and then.
const std::vector<std::string>& Log() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> out;
        out.reserve(kSentences + 4);
        uint32_t seed = 20260614;
        const CSimpleGrid grid(kOwnLat, kOwnLon);
        struct Station {
            uint32_t mmsi;
            double x, y, knots, course;
            bool classB;
        };
        std::vector<Station> stations;
        for (int i = 0; i < kStations; ++i) {
            Station s{};
            s.mmsi = 235000000u + uint32_t(i) * 7u;
            s.x = (Uniform(seed) * 2 - 1) * 37000;
            s.y = (Uniform(seed) * 2 - 1) * 37000;
            s.knots = Uniform(seed) < 0.2 ? 0 : 2 + Uniform(seed) * 20;
            s.course = Uniform(seed) * 360;
            s.classB = i % 6 == 0;
            stations.push_back(s);
        }
        int sequence = 0;
        while (int(out.size()) < kSentences) {
            Station& s = stations[Next(seed) % stations.size()];
            const uint32_t kind = Next(seed) % 100;
            double lat = 0, lon = 0;
            grid.FromGrid(s.x, s.y, lat, lon);
            std::vector<std::string> msg;
            if (kind < 6 && !s.classB) {
                NAisEncode::StaticA a;
                a.mmsi = s.mmsi;
                a.name = "VESSEL " + std::to_string(s.mmsi % 100000);
                a.callsign = "M" + std::to_string(s.mmsi % 1000000);
                a.ship_type = 70;
                a.to_bow = 60;
                a.to_stern = 20;
                a.destination = "SOUTHAMPTON";
                msg = NAisEncode::Encode(a, 'A', sequence++ % 10);
            } else if (kind < 9 && s.classB) {
                NAisEncode::StaticB b;
                b.mmsi = s.mmsi;
                b.part = int(kind % 2);
                b.name = "YACHT " + std::to_string(s.mmsi % 1000);
                b.ship_type = 36;
                b.callsign = "2AB" + std::to_string(s.mmsi % 1000);
                b.to_bow = 9;
                b.to_stern = 3;
                msg = NAisEncode::Encode(b, 'B');
            } else if (kind < 10) {
                NAisEncode::AidToNavigation n;
                n.mmsi = 992350000u + s.mmsi % 1000u;
                n.aid_type = 20;
                n.name = "BUOY";
                n.lat = lat;
                n.lon = lon;
                msg = NAisEncode::Encode(n, 'A');
            } else if (s.classB) {
                NAisEncode::PositionB b;
                b.mmsi = s.mmsi;
                b.speed = s.knots;
                b.course = s.course;
                b.lat = lat;
                b.lon = lon;
                msg = NAisEncode::Encode(b, 'B');
            } else {
                NAisEncode::PositionA a;
                a.type = kind % 5 == 0 ? 3 : 1;
                a.mmsi = s.mmsi;
                a.status = s.knots > 0 ? 0 : 1;
                a.rot_raw = 0;
                a.speed = s.knots;
                a.course = s.course;
                a.heading = int(s.course);
                a.lat = lat;
                a.lon = lon;
                msg = NAisEncode::Encode(a, kind % 2 ? 'A' : 'B');
                // Ships move between their reports.
                s.x += s.knots * 0.5144 * 10 * std::sin(s.course * 3.14159265358979 / 180);
                s.y += s.knots * 0.5144 * 10 * std::cos(s.course * 3.14159265358979 / 180);
            }
            for (std::string& line : msg) out.push_back(std::move(line));
        }
        return out;
    }();
    return lines;
}

bool g_logWritten = false;

std::string LogFile() {
    static const std::string path = [] {
        g_logWritten = true;
        const char* tmp = std::getenv("TMPDIR");
        std::string p = std::string(tmp && *tmp ? tmp : "/tmp") + "/navora_bench_ais.aivdm";
        std::ofstream f(p, std::ios::binary);
        for (const std::string& line : Log()) f << line << "\r\n";
        return p;
    }();
    return path;
}

// The own ship, known and moving, so that every report is checked for collision.
void PublishOwnShip(COverlayGPSPosition& own, double lat = kOwnLat) {
    own.fix_status = FIX_GPS;
    own.set_latlon(lat, kOwnLon);
    own.set_course(45, 6);
    Listener<CDataGPSPosition>::Publish(own);
}

void BM_AisDecodeAndUpdate(benchmark::State& state) {
    QuietUi ui;
    SetUiServices(&ui);
    const std::vector<std::string>& log = Log();
    COverlayGPSPosition own;
    CAISTargetManager ais(own);
    PublishOwnShip(own);
    std::vector<char> line(256);
    auto feed = [&](const std::string& s) {
        std::memcpy(line.data(), s.c_str(), s.size() + 1);
        return CNMEASentence::DispatchSentence(line.data(), nullptr);
    };
    // Once through: every station becomes a target, every pool and string its size.
    for (const std::string& s : log) feed(s);
    for (const std::string& s : log) feed(s);

    const size_t before = g_allocations.load();
    int64_t sentences = 0;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(feed(log[i]));
        if (++i == log.size()) i = 0;
        ++sentences;
    }
    const size_t allocations = g_allocations.load() - before;
    state.SetItemsProcessed(sentences);
    state.counters["allocs_per_sentence"] = benchmark::Counter(double(allocations) / double(std::max<int64_t>(1, sentences)));
    state.counters["targets"] = benchmark::Counter(double(ais.Count()));
    state.counters["alerts_shown"] = benchmark::Counter(double(ui.shown));
    SetUiServices(nullptr);
}
BENCHMARK(BM_AisDecodeAndUpdate);

// The same file through gpsdecode (JSON out, as it runs by default).
void BM_GpsdecodeSameLog(benchmark::State& state) {
    const std::string command = "gpsdecode < " + LogFile() + " > /dev/null 2>&1";
    if (std::system("command -v gpsdecode > /dev/null 2>&1") != 0) {
        state.SkipWithError("gpsdecode is not installed (Debian package gpsd-clients)");
        return;
    }
    // Its processor time (user and system) is what counts, as for ours: a busy machine
    // slows both down by the clock but not by that.
    auto childSeconds = [] {
        rusage u{};
        getrusage(RUSAGE_CHILDREN, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + 1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
    };
    for (auto _ : state) {
        const double start = childSeconds();
        const int rc = std::system(command.c_str());
        const double end = childSeconds();
        if (rc != 0) {
            state.SkipWithError("gpsdecode failed");
            return;
        }
        state.SetIterationTime(end - start);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(Log().size()));
}
BENCHMARK(BM_GpsdecodeSameLog)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

// 2,000 moving targets within 10 miles; each own position checks all of them.
struct Fleet {
    QuietUi ui;
    COverlayGPSPosition own;
    CAISTargetManager ais{own};

    Fleet() {
        SetUiServices(&ui);
        PublishOwnShip(own);
        uint32_t seed = 7;
        const CSimpleGrid grid(kOwnLat, kOwnLon);
        std::vector<char> line(256);
        for (int i = 0; i < kStations; ++i) {
            NAisEncode::PositionA a;
            a.mmsi = 235000000u + uint32_t(i);
            a.status = 0;
            a.speed = 2 + Uniform(seed) * 20;
            a.course = Uniform(seed) * 360;
            a.heading = i % 3 ? int(a.course) : 511;
            grid.FromGrid((Uniform(seed) * 2 - 1) * 18000, (Uniform(seed) * 2 - 1) * 18000, a.lat, a.lon);
            for (const std::string& s : NAisEncode::Encode(a)) {
                std::memcpy(line.data(), s.c_str(), s.size() + 1);
                CNMEASentence::DispatchSentence(line.data(), nullptr);
            }
        }
    }
    ~Fleet() { SetUiServices(nullptr); }
};

void BM_CollisionChecks2000(benchmark::State& state) {
    Fleet fleet;
    if (fleet.ais.Count() != size_t(kStations)) {
        state.SkipWithError("the fleet did not form");
        return;
    }
    int n = 0;
    for (auto _ : state) {
        // The own ship moves a little with every fix.
        PublishOwnShip(fleet.own, kOwnLat + 1e-5 * (n++ % 100));
    }
    state.SetItemsProcessed(state.iterations() * kStations);
    state.counters["alerting"] = benchmark::Counter([&] {
        int alerting = 0;
        for (const auto& e : fleet.ais.Targets()) alerting += e.second->alerting;
        return double(alerting);
    }());
}
BENCHMARK(BM_CollisionChecks2000)->Unit(benchmark::kMicrosecond);

// A chart of 20,000 x 20,000 pixels over the area, north up.
CPolynomialProjection Chart() {
    const double ppd = 20000 / 0.8;  // pixels per degree
    double fwd[2][10] = {}, inv[2][10] = {};
    fwd[0][0] = (0.4 - kOwnLon) * ppd;  // x = ppd (lon - (kOwnLon - 0.4))
    fwd[0][2] = ppd;
    fwd[1][0] = (kOwnLat + 0.4) * ppd;  // y = ppd ((kOwnLat + 0.4) - lat)
    fwd[1][1] = -ppd;
    inv[0][0] = kOwnLat + 0.4;
    inv[0][2] = -1 / ppd;
    inv[1][0] = kOwnLon - 0.4;
    inv[1][1] = 1 / ppd;
    CPolynomialProjection p;
    p.init(fwd, inv, 20000, 20000, 0, 0);
    return p;
}

void BM_MapAndDraw2000FullHD(benchmark::State& state) {
    Fleet fleet;
    const CPolynomialProjection chart = Chart();
    std::vector<COverlayObject::CMapping> mappings;
    for (const auto& e : fleet.ais.Targets()) {
        mappings.emplace_back(e.second.get());
        e.second->Map(mappings.back(), chart);
    }
    // The view: the whole fleet on 1920 x 1080 pixels.
    COverlayObject::CViewParams view;
    view.scale = 1920.0 / 20000.0 * 1.6;
    view.offset_x = 10000 - 960 / view.scale;
    view.offset_y = 10000 - 540 / view.scale;
    view.visible = view.ScreenToImage(FRect(0, 0, 1920, 1080));
    QImage image(1920, 1080, QImage::Format_ARGB32_Premultiplied);
    const bool drawOnly = state.range(0) != 0;
    int shown = 0;
    for (auto _ : state) {
        QPainter painter(&image);
        shown = 0;
        for (COverlayObject::CMapping& m : mappings) {
            if (!drawOnly) m.object->Map(m, chart);
            if (!m.map_to_screen(view)) continue;
            m.object->Draw(&painter, m);
            ++shown;
        }
    }
    state.counters["drawn"] = benchmark::Counter(shown);
}
BENCHMARK(BM_MapAndDraw2000FullHD)->Arg(1)->ArgName("draw_only")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MapAndDraw2000FullHD)->Arg(0)->ArgName("draw_only")->Unit(benchmark::kMillisecond);

// Keeps the rate of the two decoders to print their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            auto it = r.counters.find("items_per_second");
            if (it == r.counters.end()) continue;
            if (r.benchmark_name().rfind("BM_AisDecodeAndUpdate", 0) == 0) ours = it->second;
            if (r.benchmark_name().rfind("BM_GpsdecodeSameLog", 0) == 0) theirs = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double ours = 0, theirs = 0;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (reporter.ours > 0 && reporter.theirs > 0)
        std::printf("\nAIS sentences per second: Navora %.0f, gpsdecode %.0f: %.1f times as fast\n", reporter.ours,
                    reporter.theirs, reporter.ours / reporter.theirs);
    benchmark::Shutdown();
    if (g_logWritten) std::remove(LogFile().c_str());
    return 0;
}
