// SPDX-License-Identifier: GPL-3.0-or-later
// Sentence dispatch on a receiver-like mix, with listeners attached and the raw
// sentences going to an output. Every heap allocation in the process is counted, so
// the steady state can be shown to allocate nothing.

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "navdata/nmea_records.h"
#include "navdata/nmea_sentence.h"

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

const char* const kMix[] = {
    "$GPRMC,094737,A,5251.0085,N,00518.8151,E,5.6,230.5,200818,1.4,W,A*09",
    "$GPGGA,094737,5251.0085,N,00518.8151,E,1,12,0.60,-4,M,46.8,M,,*4B",
    "$GPGSA,A,3,02,05,06,09,12,13,17,19,25,28,,,1.1,0.6,0.9*37",
    "$GPGSV,3,1,12,02,18,244,40,05,46,181,44,06,22,112,38,09,15,047,33*7B",
    "$GPGSV,3,2,12,12,36,292,42,13,56,058,44,17,19,082,39,19,11,133,30*7A",
    "$GPVTG,230.5,T,231.9,M,5.6,N,10.4,K,A*18",
    "$SDHDG,231.3,,,1.3,E*34",
    "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A",
};
constexpr int kMixSize = sizeof kMix / sizeof kMix[0];

// Consumers that read what a real one reads, so that nothing is optimised away.
template <class T>
struct Sum : Listener<T> {
    double total = 0;
    void OnUpdate(T& r) override { total += Read(r); }
    static double Read(CNMEA_GPS::RMC& r) { return r.latitude + r.longitude + r.speed; }
    static double Read(CNMEA_GPS::GGA& r) { return r.latitude + r.altitude; }
    static double Read(CNMEA_GPS::GSA& r) { return r.satellites[0] + r.hdop; }
    static double Read(CNMEA_GPS::GSV& r) { return r.satellites[3].snr; }
    static double Read(CNMEA_GPS::VTG& r) { return r.course; }
    static double Read(CNMEA_Instruments::HDG& r) { return r.heading; }
    static double Read(CNMEA_Raw& r) { return r.text[1]; }
};

CDataConnection* FakeConnection() {
    static char anchor;
    return reinterpret_cast<CDataConnection*>(&anchor);
}

void BM_DispatchMix(benchmark::State& state) {
    Sum<CNMEA_GPS::RMC> rmc;
    Sum<CNMEA_GPS::GGA> gga;
    Sum<CNMEA_GPS::GSA> gsa;
    Sum<CNMEA_GPS::GSV> gsv;
    Sum<CNMEA_GPS::VTG> vtg;
    Sum<CNMEA_Instruments::HDG> hdg;
    Sum<CNMEA_Raw> raw;  // the output of a connection: every line is forwarded

    size_t lengths[kMixSize];
    for (int i = 0; i < kMixSize; ++i) lengths[i] = std::strlen(kMix[i]) + 1;
    char line[256];
    // Warm up: the first sentence of each type fills its pool. A sentence that fails
    // its checksum would make the figures meaningless.
    for (int i = 0; i < kMixSize; ++i) {
        std::memcpy(line, kMix[i], lengths[i]);
        if (!CNMEASentence::check_checksum(line) || !CNMEASentence::DispatchSentence(line, FakeConnection())) {
            state.SkipWithError("a sentence of the mix was refused");
            return;
        }
    }

    const size_t before = g_allocations.load();
    int64_t sentences = 0;
    int i = 0;
    for (auto _ : state) {
        std::memcpy(line, kMix[i], lengths[i]);
        benchmark::DoNotOptimize(CNMEASentence::DispatchSentence(line, FakeConnection()));
        if (++i == kMixSize) i = 0;
        ++sentences;
    }
    const size_t allocations = g_allocations.load() - before;
    state.SetItemsProcessed(sentences);
    state.counters["allocs_per_sentence"] =
        benchmark::Counter(sentences ? static_cast<double>(allocations) / static_cast<double>(sentences) : 0.0);
    benchmark::DoNotOptimize(rmc.total + gga.total + gsa.total + gsv.total + vtg.total + hdg.total + raw.total);
}
BENCHMARK(BM_DispatchMix);

// The checksum alone, on the longest sentence of the mix.
void BM_CheckChecksum(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(CNMEASentence::check_checksum(kMix[3]));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CheckChecksum);

}  // namespace

BENCHMARK_MAIN();
