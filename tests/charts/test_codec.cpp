// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "charts/codec.h"
#include "charts/qct_writer.h"
#include "test_codec_support.h"

using namespace codec_test;

namespace {

std::vector<uint8_t> Decode(const std::vector<uint8_t>& rec, int rows, size_t avail = SIZE_MAX) {
    // One sentinel byte past the wanted pixels shows any write beyond 64*rows.
    std::vector<uint8_t> out(64 * rows + 1, 0xEE);
    UnpackBlock(rec.data(), std::min(avail, rec.size()), out.data(), rows);
    EXPECT_EQ(out.back(), 0xEE) << "decoder wrote past 64*rows";
    out.pop_back();
    return out;
}

std::vector<uint32_t> Words(std::initializer_list<uint32_t> w) {
    return std::vector<uint32_t>(w);
}

uint32_t Entries(int16_t lo, int16_t hi) {
    return static_cast<uint16_t>(lo) | static_cast<uint32_t>(static_cast<uint16_t>(hi)) << 16;
}

}  // namespace

TEST(TileCodec, RunLengthRecords) {
    // One colour, k = 0: every byte is a whole run length of sub-palette[0].
    std::vector<uint8_t> rec{1, 7};
    for (int i = 0; i < 64; ++i) rec.push_back(64);
    EXPECT_EQ(Decode(rec, 64), std::vector<uint8_t>(4096, 7));

    // Three colours, k = 2: 0x0D = run of 3 of slot 1; zero-length bytes are skipped.
    std::vector<uint8_t> three{3, 10, 11, 12, 0x0D, 0x00, 0x02, 0x0E};
    three.push_back(0xFC);                               // 63 of slot 0 ...
    for (int i = 0; i < 80; ++i) three.push_back(0xFE);  // ... and long runs of slot 2, cut at the end
    const auto out = Decode(three, 64);
    EXPECT_EQ((std::vector<uint8_t>(out.begin(), out.begin() + 7)), (std::vector<uint8_t>{11, 11, 11, 12, 12, 12, 10}));
    EXPECT_EQ(out[6 + 63], 12);
    EXPECT_EQ(out.back(), 12);

    // Runs end early: the rest of the tile is index 0; a slot beyond b0 reads the record.
    const auto short_tile = Decode({2, 20, 21, 0x0B}, 64);  // 5 px of slot 1
    EXPECT_EQ(short_tile[4], 21);
    EXPECT_EQ(short_tile[5], 0);
    const auto over = Decode({3, 20, 21, 22, 0x07}, 1);  // slot 3 -> byte 4 of the record itself
    EXPECT_EQ(over[0], 0x07);
}

TEST(TileCodec, PackedSolidAndReservedRecords) {
    // b0 = 253: 3 colours, k = 2, 16 pixels per word; 256 words for a full tile.
    std::vector<uint8_t> rec{253, 4, 5, 6};
    for (int w = 0; w < 256; ++w) {
        const uint32_t v =
            w == 255 ? 0x80000000u : 0x00000009u;  // pixels 0,1 = slots 1,2; last word: last pixel slot 2
        for (int b = 0; b < 4; ++b) rec.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    auto out = Decode(rec, 64);
    EXPECT_EQ(out[0], 5);
    EXPECT_EQ(out[1], 6);
    EXPECT_EQ(out[2], 4);
    EXPECT_EQ(out[4095], 6);
    // Truncating the last word drops its byte: missing bytes decode as slot 0.
    out = Decode(rec, 64, rec.size() - 1);
    EXPECT_EQ(out[4095], 4);

    // b0 = 248: 8 colours, k = 3, 10 pixels per word: 410 words, last 4 pixels of the last word dropped.
    std::vector<uint8_t> eight{248, 0, 1, 2, 3, 4, 5, 6, 7};
    for (int w = 0; w < 410; ++w) {
        uint32_t v = 0;
        for (int j = 0; j < 10; ++j) v |= static_cast<uint32_t>((w * 10 + j) & 7) << (3 * j);
        for (int b = 0; b < 4; ++b) eight.push_back(static_cast<uint8_t>(v >> (8 * b)));
    }
    out = Decode(eight, 64);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(out[i], i & 7) << i;

    EXPECT_EQ(Decode({255, 9}, 64), std::vector<uint8_t>(4096, 9));
    EXPECT_EQ(Decode({255, 9}, 8), std::vector<uint8_t>(512, 9));
    EXPECT_EQ(Decode({128, 1, 2, 42, 7}, 64), std::vector<uint8_t>(4096, 42));
    EXPECT_EQ(Decode({255}, 4), std::vector<uint8_t>(256, 0));
}

TEST(TileCodec, LevelsDecodeStoredRowPrefix) {
    // An image whose every row has its own colour: at level 2 the 16 stored rows must be
    // image rows 0, 32, 16, 48, 8, ... i.e. 4*rev4(k).
    std::vector<uint8_t> img(4096);
    for (int r = 0; r < 64; ++r) std::fill(img.begin() + 64 * r, img.begin() + 64 * r + 64, static_cast<uint8_t>(r));
    for (TileEncoding enc : {TileEncoding::RunLength, TileEncoding::Huffman, TileEncoding::PixelPacked}) {
        const auto rec = CQctWriter::EncodeTile(img.data(), enc);
        const auto out = Decode(rec, 16);
        for (int k = 0; k < 16; ++k) ASSERT_EQ(out[64 * k + 5], 4 * Rev(k, 4)) << "row " << k;
    }
}

TEST(HuffmanTile, HandBuiltTrees) {
    // A lone leaf: one colour, no bits consumed.
    std::vector<uint8_t> leaf{0, 33};
    EXPECT_EQ(Decode(leaf, 64), std::vector<uint8_t>(4096, 33));
    EXPECT_EQ(CHuffmanEncoding::decode(leaf.data() + 1, 1, std::vector<uint8_t>(10).data(), 10), leaf.data() + 2);

    // Near branch: 0 -> 5, 1 -> 9. Bits LSB first: 1,0,1,0,0,...
    std::vector<uint8_t> two{0, 255, 5, 9, 0x05, 0x00};
    const auto out = Decode(two, 1);
    EXPECT_EQ((std::vector<uint8_t>(out.begin(), out.begin() + 4)), (std::vector<uint8_t>{9, 5, 9, 5}));
    uint8_t px[16];
    EXPECT_EQ(CHuffmanEncoding::decode(two.data() + 1, two.size() - 1, px, 16), two.data() + 6);

    // Far branch whose 1-subtree lies beyond any table window: 0 -> 7, 1 -> 8 at byte 2003.
    std::vector<uint8_t> far(2010, 0);
    far[0] = 0;
    far[1] = 128;
    far[2] = static_cast<uint8_t>(-2000 & 0xFF);
    far[3] = static_cast<uint8_t>((-2000 >> 8) & 0xFF);
    far[4] = 7;
    far[1 + 2003] = 8;
    far[1 + 2004] = 0x06;  // bits 0,1,1,0,...
    const auto fo = Decode(far, 1);
    EXPECT_EQ((std::vector<uint8_t>(fo.begin(), fo.begin() + 4)), (std::vector<uint8_t>{7, 8, 8, 7}));
}

TEST(HuffmanTile, CorruptTreesAreRefusedWithoutOverruns) {
    uint8_t out[4096];
    // Tree running off the data, a far branch pointing backwards, a truncated far branch.
    const std::vector<std::vector<uint8_t>> bad{{200}, {255, 5}, {128, 0x05, 0x00, 1, 2}, {128, 0xFF}};
    for (const auto& b : bad) {
        std::fill(out, out + 4096, 0xEE);
        EXPECT_EQ(CHuffmanEncoding::decode(b.data(), b.size(), out, 4096), nullptr);
        EXPECT_EQ(out[0], 0);  // pixels of a refused tile are index 0
    }
    // Bits missing at the end: pixels come out (zero bits), but the call reports it.
    const std::vector<uint8_t> cut{255, 5, 9, 0xFF};
    EXPECT_EQ(CHuffmanEncoding::decode(cut.data(), cut.size(), out, 64), nullptr);
    EXPECT_EQ(out[7], 9);
    EXPECT_EQ(out[8], 5);
}

TEST(HuffmanTile, FarBranchSerialisation) {
    // A comb of 100 near branches as the 0-subtree: 201 bytes, so the root needs a far branch.
    CHuffmanEncoding::Tree tree;
    auto add = [&](int sym, int zero, int one) {
        CHuffmanEncoding::Node n;
        n.symbol = sym;
        n.zero = zero;
        n.one = one;
        tree.nodes.push_back(n);
        return static_cast<int>(tree.nodes.size()) - 1;
    };
    int comb = add(100, -1, -1);
    for (int i = 0; i < 100; ++i) comb = add(-1, add(i, -1, -1), comb);
    const int last = add(101, -1, -1);
    tree.root = add(-1, comb, last);
    std::vector<uint8_t> bytes;
    CHuffmanEncoding::encode_output_tree(tree, tree.root, bytes);
    ASSERT_EQ(bytes.size(), 3u + 201u + 1u);
    EXPECT_EQ(bytes[0], 128);
    EXPECT_EQ(static_cast<int16_t>(bytes[1] | bytes[2] << 8), -201);
    EXPECT_EQ(bytes.back(), 101);

    // The comb is deeper than 64 levels: no code words for it, but the decoder still walks it.
    std::vector<uint64_t> codes;
    std::vector<uint8_t> lengths;
    EXPECT_FALSE(CHuffmanEncoding::build_codes(tree, codes, lengths));
    std::vector<uint8_t> rec{0};
    rec.insert(rec.end(), bytes.begin(), bytes.end());
    rec.push_back(0x11);  // bits 1 | 0,0 | 0,1,0 -> symbols 101, 99, 98 (the comb was built upwards)
    rec.push_back(0x00);
    const auto out = Decode(rec, 1);
    EXPECT_EQ((std::vector<uint8_t>(out.begin(), out.begin() + 3)), (std::vector<uint8_t>{101, 99, 98}));
}

TEST(HuffmanEncoder, RunSymbols) {
    const std::array<std::array<int, 4>, 8> cases{{{1, 0x005, 0, 0},
                                                   {2, 0x105, 2, 0},
                                                   {5, 0x105, 2, 3},
                                                   {6, 0x205, 4, 0},
                                                   {21, 0x205, 4, 15},
                                                   {22, 0x305, 8, 0},
                                                   {277, 0x305, 8, 255},
                                                   {100, 0x305, 8, 78}}};
    for (const auto& c : cases) {
        const auto s = CHuffmanEncoding::get_symbol(5, c[0]);
        EXPECT_EQ(s.symbol, c[1]) << c[0];
        EXPECT_EQ(s.extra_bits, c[2]) << c[0];
        EXPECT_EQ(s.extra, c[3]) << c[0];
    }
    // 600 pixels of one colour: runs of 277, 277, 46; a colour change starts a new run.
    std::vector<uint8_t> px(600, 3);
    px.push_back(4);
    const auto runs = CHuffmanEncoding::run_length_encode(px.data(), static_cast<int>(px.size()));
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].length, 277);
    EXPECT_EQ(runs[2].length, 46);
    EXPECT_EQ(runs[3].symbol, 4);

    // Word 0 = 1 + ceil(entries / 2): three symbols -> five entries -> 4.
    std::vector<uint8_t> three{1, 2, 2, 3, 3, 3, 3, 3, 3};
    uint32_t words[64];
    const int n = CHuffmanEncoding::encode_run(three.data(), 9, words, 64);
    EXPECT_EQ(words[0], 4u);
    EXPECT_GT(n, 4);
    EXPECT_EQ(CHuffmanEncoding::encode_run(three.data(), 9, words, 3), -1);
}

TEST(DecodeRun, HandBuiltWords) {
    uint8_t out[600];
    // Lone leaf: class 3, colour 5; extra bits all ones -> 277 pixels.
    auto w = Words({2, Entries(0x305, 0), 0x000000FF});
    EXPECT_EQ(CHuffmanEncoding::decode_run(w.data(), 3, out, 277), w.data() + 3);
    EXPECT_EQ(out[276], 5);
    // Wanting fewer pixels cuts the run; wanting more reads the next run (8 zero bits -> 22).
    EXPECT_NE(CHuffmanEncoding::decode_run(w.data(), 3, out, 100), nullptr);
    EXPECT_NE(CHuffmanEncoding::decode_run(w.data(), 3, out, 280), nullptr);
    // Four runs of 8 bits fit in the word; more pixels run off the data.
    EXPECT_EQ(CHuffmanEncoding::decode_run(w.data(), 3, out, 277 + 3 * 22 + 1), nullptr);

    // Class 1 leaf with extra bits read 1 then 0: e = 0b10 -> run of 4. Branch 0 -> class 1
    // colour 9, branch 1 -> colour 2 single pixel. Bits: 0, 1,0, 1, 0, 0,1 ...
    auto b = Words({3, Entries(-1, 0x109), Entries(2, 0), 0x4A});
    const uint32_t* end = CHuffmanEncoding::decode_run(b.data(), 4, out, 7);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(end, b.data() + 4);
    EXPECT_EQ((std::vector<uint8_t>(out, out + 7)), (std::vector<uint8_t>{9, 9, 9, 9, 2, 9, 9}));
}

TEST(DecodeRun, FailureCases) {
    uint8_t out[64];
    auto w = Words({2, Entries(0x305, 0), 0xFF});
    EXPECT_EQ(CHuffmanEncoding::decode_run(w.data(), 0, out, 10), nullptr);         // count < 1
    EXPECT_EQ(CHuffmanEncoding::decode_run(w.data(), 3, out, 0), nullptr);          // no pixels
    EXPECT_EQ(CHuffmanEncoding::decode_run(w.data(), 2, out, 10), nullptr);         // T >= count
    EXPECT_EQ(CHuffmanEncoding::decode_run(w.data(), 10000001, out, 10), nullptr);  // absurd count
    auto self = Words({1, 0, 0});
    EXPECT_EQ(CHuffmanEncoding::decode_run(self.data(), 3, out, 10), nullptr);  // no tree at all
    // Branch whose 1-subtree lies outside the tree: only failing when the walk takes it.
    auto jump = Words({2, Entries(-5, 0x001), 0});
    EXPECT_NE(CHuffmanEncoding::decode_run(jump.data(), 3, out, 8), nullptr);
    jump[2] = 0x10;
    EXPECT_EQ(CHuffmanEncoding::decode_run(jump.data(), 3, out, 8), nullptr);
}

TEST(CodecRoundTrip, TilesAtEveryLevelAndEncoding) {
    std::vector<std::vector<uint8_t>> tiles;
    const auto chart = ChartLike(256, 256, 7);
    for (int t = 0; t < 16; ++t) {
        std::vector<uint8_t> tile(4096);
        for (int r = 0; r < 64; ++r) std::memcpy(&tile[64 * r], &chart[(64 * (t / 4) + r) * 256 + 64 * (t % 4)], 64);
        tiles.push_back(tile);
    }
    for (int colours : {2, 3, 17, 127}) tiles.push_back(RandomPixels(4096, colours, colours));
    tiles.push_back(std::vector<uint8_t>(4096, 77));
    for (const auto& tile : tiles) {
        const auto stored = ToStored(tile.data(), 64, 6);
        for (TileEncoding enc : {TileEncoding::Auto, TileEncoding::Solid, TileEncoding::RunLength,
                                 TileEncoding::PixelPacked, TileEncoding::Huffman}) {
            const auto rec = CQctWriter::EncodeTile(tile.data(), enc);
            if (enc == TileEncoding::Huffman) {
                ASSERT_EQ(rec[0], 0);
            } else if (enc == TileEncoding::RunLength) {
                ASSERT_TRUE(rec[0] >= 1 && rec[0] <= 127);
            } else if (enc == TileEncoding::PixelPacked) {
                ASSERT_GE(rec[0], 129);
            }
            for (int level = 0; level <= 6; ++level) {
                const int rows = 64 >> level;
                const auto out = Decode(rec, rows);
                ASSERT_TRUE(std::equal(out.begin(), out.end(), stored.begin()))
                    << "encoding " << static_cast<int>(enc) << " level " << level;
                std::vector<uint8_t> ref(64 * rows);
                RefUnpack(rec.data(), rec.size(), ref.data(), rows);
                ASSERT_EQ(out, ref);
            }
        }
        // Auto picks the smallest record.
        const size_t best = CQctWriter::EncodeTile(tile.data(), TileEncoding::Auto).size();
        for (TileEncoding enc : {TileEncoding::RunLength, TileEncoding::PixelPacked, TileEncoding::Huffman})
            EXPECT_LE(best, CQctWriter::EncodeTile(tile.data(), enc).size());
    }
}

TEST(CodecRoundTrip, ChunksAtEveryLevel) {
    const auto chart = ChartLike(1024, 1024, 3, 30);
    auto noisy = RandomPixels(1024 * 1024, 5, 4);
    for (size_t i = 0; i < noisy.size(); ++i)
        if (i % 1024 < 700) noisy[i] = chart[i];  // long runs next to short ones
    for (const std::vector<uint8_t>* img : std::vector<const std::vector<uint8_t>*>{&chart, &noisy}) {
        const EncodedChunk ec = CQctWriter::EncodeChunk(img->data());
        const auto stored = ToStored(img->data(), 1024, 10);
        std::vector<uint8_t> out(1024 * 1024 + 1);
        for (int level = 0; level <= 9; ++level) {
            const int px = 0x100000 >> level;
            const int n = ec.size[level];
            if (level > 0) {
                EXPECT_LE(n, ec.size[level - 1]);
            }
            out[px] = 0xEE;
            const uint32_t* end = CHuffmanEncoding::decode_run(ec.words.data(), n, out.data(), px);
            ASSERT_NE(end, nullptr) << level;
            EXPECT_EQ(end, ec.words.data() + n) << "size of level " << level << " is not the exact prefix";
            EXPECT_EQ(out[px], 0xEE);
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + px, stored.begin())) << level;
            // One word fewer is never enough.
            EXPECT_EQ(CHuffmanEncoding::decode_run(ec.words.data(), n - 1, out.data(), px), nullptr);
        }
        std::vector<uint8_t> ref(1024 * 1024);
        EXPECT_EQ(RefDecodeRun(ec.words.data(), ec.size[0], ref.data(), 0x100000), ec.size[0]);
        EXPECT_EQ(ref, stored);
    }
}

TEST(CodecRobustness, FastDecodersMatchReferenceOnGarbage) {
    std::mt19937 rng(11);
    std::vector<uint8_t> fast(4096), ref(4096);
    for (int iter = 0; iter < 3000; ++iter) {
        // Run-length and packed records: random bodies, random truncation.
        std::vector<uint8_t> rec(1 + rng() % 3000);
        for (auto& b : rec) b = static_cast<uint8_t>(rng());
        rec[0] = static_cast<uint8_t>(iter % 2 ? 1 + rng() % 127 : 129 + rng() % 127);
        const int rows = 64 >> (rng() % 7);
        UnpackBlock(rec.data(), rec.size(), fast.data(), rows);
        RefUnpack(rec.data(), rec.size(), ref.data(), rows);
        ASSERT_TRUE(std::equal(fast.begin(), fast.begin() + 64 * rows, ref.begin())) << iter;
    }
    // Chunk words: valid data with flipped bits and cut counts; the fast decoder must agree
    // with the literal walk on success, failure and pixels.
    const auto chart = ChartLike(1024, 64, 9, 40);
    std::vector<uint32_t> words(100000);
    const int n = CHuffmanEncoding::encode_run(chart.data(), 65536, words.data(), 100000);
    ASSERT_GT(n, 0);
    std::vector<uint8_t> f(65536), r(65536);
    for (int iter = 0; iter < 300; ++iter) {
        std::vector<uint32_t> w(words.begin(), words.begin() + n);
        for (int k = 0; k < 3; ++k) w[rng() % n] ^= 1u << (rng() % 32);
        const int count = iter % 3 ? n : 1 + static_cast<int>(rng() % n);
        const uint32_t* end = CHuffmanEncoding::decode_run(w.data(), count, f.data(), 65536);
        const long used = RefDecodeRun(w.data(), count, r.data(), 65536);
        ASSERT_EQ(end != nullptr, used >= 0) << iter;
        if (end) {
            ASSERT_EQ(end - w.data(), used);
            ASSERT_EQ(f, r);
        }
    }
}

TEST(CodecRobustness, HuffmanTilesMatchReferenceOnValidTrees) {
    std::mt19937 rng(5);
    for (int iter = 0; iter < 500; ++iter) {
        const int colours = 2 + static_cast<int>(rng() % 126);
        const auto px = RandomPixels(4096, static_cast<uint32_t>(iter), colours);
        std::vector<uint8_t> body(CHuffmanEncoding::encode_bound(4096) + 8);
        const uint8_t* end = CHuffmanEncoding::encode(px.data(), 4096, body.data());
        const size_t len = static_cast<size_t>(end - body.data());
        // Garble the bit data after the tree and cut the record at random: pixels must still
        // match the reference walk (missing bytes read as zero).
        for (size_t i = len / 2; i < len; i += 1 + rng() % 50) body[i] ^= static_cast<uint8_t>(rng());
        const size_t avail = iter % 2 ? len : len / 2 + rng() % (len / 2);
        std::vector<uint8_t> fast(4096), ref(4096);
        CHuffmanEncoding::decode(body.data(), avail, fast.data(), 4096);
        RefHuffmanTile(body.data(), avail, ref.data(), 4096);
        ASSERT_EQ(fast, ref) << iter;
    }
}
