// SPDX-License-Identifier: GPL-3.0-or-later
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/apppaths.h"
#include "core/attributes.h"
#include "core/persistantdata.h"
#include "core/serializable.h"

namespace {

std::string BenchDir() {
    static const std::string dir = [] {
        std::string d = "/tmp/navora_bench_persistence";
        createDirectory(d);
        setAppDirectoryForTesting(d);
        return d;
    }();
    return dir;
}

// A settings object declaring 5,000 keys of mixed types.
struct ManySettings : PersistantData {
    ManySettings() : PersistantData("CBenchSettings"), ints(2000, 1), doubles(1500, 0.5), strings(1500, "value") {
        for (size_t i = 0; i < ints.size(); ++i) names.push_back("int" + std::to_string(i));
        for (size_t i = 0; i < doubles.size(); ++i) names.push_back("dbl" + std::to_string(i));
        for (size_t i = 0; i < strings.size(); ++i) names.push_back("str" + std::to_string(i));
    }
    void DeclareData() override {
        size_t n = 0;
        for (int& v : ints) Declare(names[n++].c_str(), v);
        for (double& v : doubles) Declare(names[n++].c_str(), v);
        for (std::string& v : strings) Declare(names[n++].c_str(), v);
    }
    std::vector<int> ints;
    std::vector<double> doubles;
    std::vector<std::string> strings;
    std::vector<std::string> names;
};
ManySettings g_many;

void BM_SettingsLoad5000Keys(benchmark::State& state) {
    BenchDir();
    const std::string app = "BenchSettings";
    g_many.SetChanged();
    PersistantData::LoadAll(app);  // sets the application name
    g_many.SetChanged();
    PersistantData::SaveAll();
    for (auto _ : state) {
        PersistantData::LoadAll(app);
        benchmark::DoNotOptimize(g_many.ints.data());
    }
    state.SetItemsProcessed(state.iterations() * 5000);
}
BENCHMARK(BM_SettingsLoad5000Keys)->Unit(benchmark::kMillisecond);

struct SmallRecord : CSerializable {
    int id = 0;
    double lat = 0, lon = 0;
    std::string name;
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return sec.declare_value(id) && sec.declare_value(lat) && sec.declare_value(lon) && sec.declare(name);
    }
};

struct RecordFile : CSerializable {
    std::vector<std::unique_ptr<SmallRecord>> records;
    bool Serialize(IOStream& s) override {
        Section sec(s);
        return CSerializableDeclareStatic(sec, records);
    }
};

void BM_ObjectFileRead10000Records(benchmark::State& state) {
    const std::string path = BenchDir() + "/records.dat";
    {
        RecordFile out;
        for (int i = 0; i < 10000; ++i) {
            auto r = std::make_unique<SmallRecord>();
            r->id = i;
            r->lat = 50 + i * 1e-4;
            r->lon = -1 - i * 1e-4;
            r->name = "Mark " + std::to_string(i);
            out.records.push_back(std::move(r));
        }
        if (!out.WriteFile(path, {}, 0x1234)) state.SkipWithError("cannot write the records file");
    }
    for (auto _ : state) {
        RecordFile in;
        if (!in.ReadFile(path, {}, 0x1234) || in.records.size() != 10000) state.SkipWithError("read failed");
        benchmark::DoNotOptimize(in.records.data());
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_ObjectFileRead10000Records)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
