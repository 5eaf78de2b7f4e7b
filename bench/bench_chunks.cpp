// SPDX-License-Identifier: GPL-3.0-or-later
// Chunked charts from a real nginx on loopback: a 20 x 10 chunk chart of noisy image data
// (about 150 MB on the server) downloaded whole into an empty chunk store by the bulk
// downloader, and the map's paint while the view's chunks arrive level by level.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QThread>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "charts/qct.h"
#include "charts/qct_download.h"
#include "charts/qct_format.h"
#include "charts/qct_writer.h"
#include "maplib/chartview.h"
#include "online/onlinesettings.h"
#include "support/nginx_fixture.h"

namespace {

constexpr int kCols = 20, kRows = 10;
namespace cf = qct::chunkfile;

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<NginxServer> server;
    QString chart;  // the device's chart: <dir>/local/Bench.qct
    long long server_bytes = 0;
    std::string error;
};

std::vector<uint32_t> Palette() {
    std::vector<uint32_t> pal(128);
    for (uint32_t i = 0; i < 128; ++i) pal[i] = (i * 2) << 16 | (255 - i) << 8 | (i * 37 % 256);
    return pal;
}

// The device's chart with no chunk data, and the server's chunk file: a few distinct
// noisy chunks repeated over the grid (what is fetched is what counts, not its look).
bool Build(Fixture& f) {
    const QString local = f.dir.path() + "/local", server = f.dir.path() + "/server/mapchunks";
    QDir().mkpath(local);
    QDir().mkpath(server);
    f.chart = local + "/Bench.qct";
    CQctWriter w;
    w.SetIndexedImage(kCols * qct::kChunkSide, kRows * qct::kChunkSide,
                      std::vector<uint8_t>(size_t(kCols) * kRows * qct::kChunkSide * qct::kChunkSide, 1), Palette());
    w.SetGeorefFromCorners(51, 50, -2, -1);
    w.SetChunkPlan([](int, int) { return ChunkPlan{ChunkPlan::Absent}; });
    if (!w.WriteChunked(f.chart.toStdString(), &f.error)) return false;
    QFile head(local + "/Bench.qc3/0");
    if (!head.open(QIODevice::ReadOnly)) return false;
    QByteArray file = head.read(cf::kOffsetTable);
    head.close();
    QDir(local + "/Bench.qc3").removeRecursively();

    std::mt19937 rng(7);
    std::vector<QByteArray> chunks;
    for (int v = 0; v < 4; ++v) {
        std::vector<uint8_t> px(size_t(qct::kChunkBytes));
        for (uint8_t& p : px) p = uint8_t(rng() % 40);
        const EncodedChunk e = CQctWriter::EncodeChunk(px.data());
        QByteArray c(cf::kChunkHeaderBytes, 0);
        for (int l = 0; l < cf::kLevels; ++l) {
            std::memcpy(c.data() + 4 * l, &e.size[size_t(l)], 4);
            c[int(cf::kChunkChecks) + l] = char(e.check[size_t(l)]);
        }
        const int32_t present = int32_t(e.words.size());
        std::memcpy(c.data() + cf::kChunkPresent, &present, 4);
        c.append(reinterpret_cast<const char*>(e.words.data()), qsizetype(e.words.size() * 4));
        chunks.push_back(c);
    }
    QByteArray table(8 * kCols * kRows, 0);
    int64_t at = cf::kOffsetTable + table.size();
    QByteArray body;
    for (int i = 0; i < kCols * kRows; ++i) {
        std::memcpy(table.data() + 8 * i, &at, 8);
        body += chunks[size_t(i % 4)];
        at += chunks[size_t(i % 4)].size();
    }
    file += table + body;
    f.server_bytes = file.size();
    QFile out(server + "/Bench.qc3");
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size()) return false;
    out.close();
    f.server = std::make_unique<NginxServer>(f.dir.path() + "/server");
    if (!f.server->Running()) {
        f.error = f.server->Error().toStdString();
        return false;
    }
    COnlineSettings::SetServer(COnlineSettings::kChartServer, CServerAddress{false, "127.0.0.1", f.server->Port()});
    return true;
}

Fixture& Shared() {
    static Fixture f;
    static const bool built = [] {
        if (!Build(f) && f.error.empty()) f.error = "cannot write the test chart";
        return true;
    }();
    (void)built;
    return f;
}

template <class Flag>
void RunUntil(const Flag& done) {
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
}

void BM_WholeChartDownload(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.error.empty()) return state.SkipWithError(f.error.c_str());
    long long bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        QDir(f.dir.path() + "/local/Bench.qc3").removeRecursively();
        state.ResumeTiming();
        CQuickChart* chart = nullptr;
        bool opened = false;
        CQuickChart::Create(NV_HWND(), f.chart.toStdString(), [&](CQuickChart* c, bool) {
            chart = c;
            opened = true;
        });
        RunUntil(opened);
        auto* c3 = dynamic_cast<CQuickChart3*>(chart);
        if (!c3) return state.SkipWithError("the chart does not open");
        CChunkDownloadReport report;
        bool done = false;
        c3->DownloadWholeMap(nullptr, [&](const CChunkDownloadReport& r) {
            report = r;
            done = true;
        });
        RunUntil(done);
        chart->Destroy();
        if (!report.complete || report.downloaded != kCols * kRows)
            return state.SkipWithError(("incomplete: " + report.message).c_str());
        bytes += report.bytes;
    }
    state.SetBytesProcessed(bytes);
    state.counters["server_MB"] = double(f.server_bytes) / 1e6;
}
BENCHMARK(BM_WholeChartDownload)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// One paint (the heartbeat, the frame's preparation and the drawing) of a 1024 x 768 view
// over an empty chunk store with automatic download on; between paints the event loop runs
// for a moment so that replies and decoded squares come in.
void BM_PaintWhileChunksArrive(benchmark::State& state) {
    Fixture& f = Shared();
    if (!f.error.empty()) return state.SkipWithError(f.error.c_str());
    QDir(f.dir.path() + "/local/Bench.qc3").removeRecursively();
    CQuickChartView::settings().automatic_download = true;
    CQuickChartView::AutomaticDownloadChanged();
    CQuickChartView view;
    view.setScreenRect(0, 0, 1024, 768);
    bool opened = false, ok = false;
    view.onOpen(NV_HWND(), f.chart.toStdString(), false, [&](bool success) {
        ok = success;
        opened = true;
    });
    RunUntil(opened);
    if (!ok) return state.SkipWithError("the chart does not open");
    const FPoint c = view.ScreenCentre();
    view.ZoomToLevel(int(state.range(0)), c.x, c.y);
    QImage img(1024, 768, QImage::Format_RGB32);
    int loading_frames = 0;
    for (auto _ : state) {
        view.onTimer();
        view.PrepareFrame();
        QPainter p(&img);
        benchmark::DoNotOptimize(view.onDraw(&p, 0, 0, 1024, 768));
        p.end();
        state.PauseTiming();
        if (view.isLoading()) ++loading_frames;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        QThread::msleep(2);
        state.ResumeTiming();
    }
    const auto* web = view.WebWorker();
    state.counters["loading_frames"] = loading_frames;
    state.counters["chunks_fetched"] = web ? web->ChunksFetched() : 0;
    state.counters["MB_fetched"] = web ? double(web->BytesReceived()) / 1e6 : 0;
}
BENCHMARK(BM_PaintWhileChunksArrive)->Arg(0)->Arg(2)->Iterations(300)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
