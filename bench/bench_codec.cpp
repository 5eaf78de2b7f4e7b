// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding speed of tile records and chunk data on chart-like content.
// Items processed = decoded pixels, so the rate reads as pixels per second.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "charts/codec.h"
#include "charts/qct_writer.h"

namespace {

// Large flat areas split by a wavy coastline, grid lines, and dense text-like specks.
std::vector<uint8_t> ChartImage(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> img(static_cast<size_t>(w) * static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) {
        const int coast = w / 2 + static_cast<int>(w / 5.0 * std::sin(y * 0.013));
        const int shoal = coast - 40 + static_cast<int>(10 * std::sin(y * 0.05));
        for (int x = 0; x < w; ++x)
            img[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(x < shoal ? 1 : x < coast ? 2 : 3);
    }
    for (int y = 0; y < h; y += 113)
        for (int x = 0; x < w; ++x) img[static_cast<size_t>(y) * w + x] = 4;
    for (int x = 0; x < w; x += 151)
        for (int y = 0; y < h; ++y) img[static_cast<size_t>(y) * w + x] = 4;
    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1), col(5, 20);
    for (int b = 0; b < w * h / 3000; ++b) {
        const int x0 = px(rng), y0 = py(rng), c = col(rng);
        for (int y = y0; y < std::min(h, y0 + 9); ++y)
            for (int x = x0; x < std::min(w, x0 + 30); ++x)
                if ((rng() % 3) == 0) img[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(c);
    }
    return img;
}

// The tiles of a 1024 x 1024 chart area, each encoded as asked.
struct TileSet {
    std::vector<std::vector<uint8_t>> records;
};

TileSet MakeTiles(TileEncoding enc) {
    const auto img = ChartImage(1024, 1024, 1);
    TileSet set;
    uint8_t tile[4096];
    for (int ty = 0; ty < 16; ++ty)
        for (int tx = 0; tx < 16; ++tx) {
            for (int r = 0; r < 64; ++r) std::memcpy(tile + 64 * r, &img[(64 * ty + r) * 1024 + 64 * tx], 64);
            auto rec = CQctWriter::EncodeTile(tile, enc);
            rec.resize(rec.size() + 4, 0);
            set.records.push_back(std::move(rec));
        }
    return set;
}

void DecodeTiles(benchmark::State& state, TileEncoding enc) {
    const TileSet set = MakeTiles(enc);
    const int level = static_cast<int>(state.range(0));
    const int rows = 64 >> level;
    uint8_t out[4096];
    for (auto _ : state) {
        for (const auto& rec : set.records) {
            UnpackBlock(rec.data(), rec.size(), out, rows);
            benchmark::DoNotOptimize(out);
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(set.records.size()) * 64 * rows);
}

void BM_HuffmanTiles(benchmark::State& state) {
    DecodeTiles(state, TileEncoding::Huffman);
}
void BM_RunLengthTiles(benchmark::State& state) {
    DecodeTiles(state, TileEncoding::RunLength);
}
void BM_PixelPackedTiles(benchmark::State& state) {
    DecodeTiles(state, TileEncoding::PixelPacked);
}
void BM_AutoTiles(benchmark::State& state) {
    DecodeTiles(state, TileEncoding::Auto);
}

void BM_DecodeRunChunk(benchmark::State& state) {
    const auto img = ChartImage(1024, 1024, 2);
    const EncodedChunk ec = CQctWriter::EncodeChunk(img.data());
    const int level = static_cast<int>(state.range(0));
    const int pixels = 0x100000 >> level;
    std::vector<uint8_t> out(static_cast<size_t>(pixels));
    for (auto _ : state) {
        const uint32_t* end = CHuffmanEncoding::decode_run(ec.words.data(), ec.size[level], out.data(), pixels);
        benchmark::DoNotOptimize(end);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * pixels);
}

void BM_EncodeChunk(benchmark::State& state) {
    const auto img = ChartImage(1024, 1024, 3);
    for (auto _ : state) {
        EncodedChunk ec = CQctWriter::EncodeChunk(img.data());
        benchmark::DoNotOptimize(ec.words.data());
    }
    state.SetItemsProcessed(state.iterations() * 0x100000);
}

}  // namespace

BENCHMARK(BM_HuffmanTiles)->Arg(0)->Arg(2)->Arg(4);
BENCHMARK(BM_RunLengthTiles)->Arg(0)->Arg(2)->Arg(4);
BENCHMARK(BM_PixelPackedTiles)->Arg(0)->Arg(2)->Arg(4);
BENCHMARK(BM_AutoTiles)->Arg(0);
BENCHMARK(BM_DecodeRunChunk)->Arg(0)->Arg(2)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_EncodeChunk)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
