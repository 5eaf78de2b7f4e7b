// SPDX-License-Identifier: GPL-3.0-or-later
// Map package installation from a real nginx on loopback: a 500 MiB package fetched
// whole (six 1 MiB range requests in flight), the check of a complete package (one local
// read and checksum per block, no request), and the block checksum alone.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "online/mappackage.h"
#include "online/packagemanifest.h"
#include "support/nginx_fixture.h"

namespace {

constexpr int kFiles = 5;
constexpr long long kFileBytes = 100LL << 20;

struct Package {
    QTemporaryDir root, dest;
    std::unique_ptr<NginxServer> server;
    std::string manifest;
    std::string error;
};

bool WriteNoise(const QString& path, long long bytes, uint64_t seed) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
    std::vector<uint64_t> block(1 << 17);
    uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (long long done = 0; done < bytes; done += static_cast<long long>(block.size() * 8)) {
        for (uint64_t& v : block) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            v = x;
        }
        if (f.write(reinterpret_cast<const char*>(block.data()), static_cast<qint64>(block.size() * 8)) < 0) return false;
    }
    return true;
}

Package& Shared() {
    static Package p = [] {
        Package s;
        QDir().mkpath(s.root.path() + "/pkg");
        std::vector<CPackageSource> files;
        for (int i = 0; i < kFiles; ++i) {
            const QString name = QStringLiteral("chart%1.bin").arg(i);
            if (!WriteNoise(s.root.path() + "/pkg/" + name, kFileBytes, uint64_t(i) + 1)) s.error = "cannot write data";
            files.push_back({name.toStdString(), (s.root.path() + "/pkg/" + name).toStdString()});
        }
        s.server = std::make_unique<NginxServer>(s.root.path());
        if (!s.server->Running()) s.error = s.server->Error().toStdString();
        s.manifest = (s.dest.path() + "/bench.nvpkg").toStdString();
        if (s.error.empty() &&
            !WritePackageManifest(s.manifest, s.server->BaseUrl().toStdString(), "pkg", "Bench", files, nullptr, &s.error))
            s.error = "manifest: " + s.error;
        return s;
    }();
    return p;
}

CPackageInstallResult Install(const std::string& manifest) {
    CPackageInstallResult result;
    bool done = false;
    auto* download = new CMapPackageDownload(manifest, nullptr, [&](const CPackageInstallResult& r) {
        result = r;
        done = true;
    });
    download->Start();
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();  // let the download delete itself
    return result;
}

void RemoveInstalledFiles(const Package& p) {
    for (int i = 0; i < kFiles; ++i) QFile::remove(p.dest.path() + QStringLiteral("/chart%1.bin").arg(i));
}

void BM_PackageInstall(benchmark::State& state) {
    Package& p = Shared();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    for (auto _ : state) {
        state.PauseTiming();
        RemoveInstalledFiles(p);
        state.ResumeTiming();
        const CPackageInstallResult r = Install(p.manifest);
        if (!r.ok || r.fetched != r.blocks) return state.SkipWithError(("install failed: " + r.errors).c_str());
    }
    state.SetBytesProcessed(state.iterations() * kFiles * kFileBytes);
}
BENCHMARK(BM_PackageInstall)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PackageCheckComplete(benchmark::State& state) {
    Package& p = Shared();
    if (!p.error.empty()) return state.SkipWithError(p.error.c_str());
    if (!Install(p.manifest).ok) return state.SkipWithError("install failed");
    for (auto _ : state) {
        const CPackageInstallResult r = Install(p.manifest);
        if (!r.ok || r.fetched != 0) return state.SkipWithError("the complete package fetched blocks");
    }
    state.SetBytesProcessed(state.iterations() * kFiles * kFileBytes);
}
BENCHMARK(BM_PackageCheckComplete)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BlockChecksum(benchmark::State& state) {
    std::vector<unsigned char> block(static_cast<size_t>(kPackageBlockSize));
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 131 + (i >> 9));
    for (auto _ : state) benchmark::DoNotOptimize(PackageBlockChecksum(block.data(), block.size()));
    state.SetBytesProcessed(state.iterations() * kPackageBlockSize);
}
BENCHMARK(BM_BlockChecksum);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
