// SPDX-License-Identifier: GPL-3.0-or-later
// Pixel assembly at every zoom, both variants, against a slow reference built here from
// the tile decoder and plain arithmetic; plus the chunk cache's partial, blank, absent
// and corrupt chunks, and reads from several threads.
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include "charts/codec.h"
#include "charts/qct.h"
#include "charts/qct_writer.h"
#include "support/recording_ui.h"
#include "test_qct_helpers.h"

using namespace qcttest;

namespace {

// Chart-like content with enough noise that a misplaced or stale pixel shows.
std::vector<uint8_t> Picture(int w, int h) {
    return qcttest::NoisyPicture(w, h, {12345, 37, 10, 53, 8, 97, 30, 9});
}

std::vector<uint32_t> Palette() {
    return qcttest::Palette128();
}

class ReadRect : public ::testing::Test {
protected:
    static constexpr int kW = 5 * 64 + 10, kH = 3 * 64 + 5;  // padded to 6 x 4 tiles
    void SetUp() override {
        writer.SetIndexedImage(kW, kH, Picture(kW, kH), Palette());
        writer.SetGeorefFromCorners(51, 50, -2, -1);
    }
    std::string Path(const std::string& n) { return dir.path().toStdString() + "/" + n; }
    CQuickChart* OpenPath(const std::string& p) {
        charts.emplace_back(new Opened);
        OpenChart(p, *charts.back());
        EXPECT_TRUE(charts.back()->ok) << p;
        return charts.back()->ok ? charts.back()->chart : nullptr;
    }
    CQuickChart* Single(TileEncoding enc = TileEncoding::Auto) {
        writer.ForceEncoding(enc);
        const std::string p = Path("single.qct");
        EXPECT_TRUE(writer.WriteSingleFile(p));
        return OpenPath(p);
    }
    CQuickChart* Chunked(const std::string& name = "chunked.qct") {
        const std::string p = Path(name);
        EXPECT_TRUE(writer.WriteChunked(p));
        return OpenPath(p);
    }

    // Image index at (x, y): the writer's padded image, index 1 outside the grid.
    int Index(int x, int y) const {
        const int pw = writer.TilesWide() * 64, ph = writer.TilesHigh() * 64;
        if (x < 0 || y < 0 || x >= pw || y >= ph) return 1;
        return writer.Indices()[size_t(y) * pw + x];
    }
    // The slow reference of one output pixel.
    uint32_t Expected(int x, int y, int zoom, int i, int j) const {
        const auto& pal = writer.Palette();
        auto colour = [&](int idx) { return 0xFF000000u | (pal[size_t(idx & 127)] & 0xFFFFFF); };
        if (zoom <= 0) {
            const int m = 1 << -zoom;
            return colour(Index(x + i / m, y + j / m));
        }
        const int s = 1 << zoom, half = s / 2;
        const int sx = x + i * s, sy = y + j * s;
        const auto& M = writer.InterpolationMatrix();
        auto mix = [&](int p, int q) { return int(M[size_t((p * 128 + q) & 0x3FFF)]); };
        const int a = Index(sx, sy), b = Index(sx + half, sy), d = Index(sx, sy + half), e = Index(sx + half, sy + half);
        return colour(mix(mix(a, e), mix(d, b)));
    }
    void CheckRect(CQuickChart* c, int x, int y, int w, int h, int zoom) {
        std::vector<uint32_t> out(size_t(w) * h, 0xDEADBEEF);
        ThreadDataForRead td;
        ASSERT_EQ(c->ReadRectRGB(x, y, w, h, w, zoom, out.data(), &td), 0);
        // Magnified reads cover whole source pixels only; the rest is left as it was.
        const int m = zoom < 0 ? 1 << -zoom : 1;
        const int cw = w / m * m, ch = h / m * m;
        int bad = 0;
        for (int j = 0; j < h && bad < 5; ++j)
            for (int i = 0; i < w && bad < 5; ++i)
                if (out[size_t(j) * w + i] != (i < cw && j < ch ? Expected(x, y, zoom, i, j) : 0xDEADBEEF)) {
                    ++bad;
                    ADD_FAILURE() << "zoom " << zoom << " at (" << x << "," << y << ") pixel " << i << "," << j;
                }
    }

    QTemporaryDir dir;
    RecordingUi ui;
    CQctWriter writer;
    std::vector<std::unique_ptr<Opened>> charts;
};

TEST_F(ReadRect, EveryZoomMatchesTheReferenceForEveryEncoding) {
    for (TileEncoding enc : {TileEncoding::Auto, TileEncoding::RunLength, TileEncoding::PixelPacked,
                             TileEncoding::Huffman}) {
        CQuickChart* c = Single(enc);
        ASSERT_NE(c, nullptr);
        CheckRect(c, 0, 0, 384, 256, 0);
        CheckRect(c, 64, 128, 128, 128, 0);
        CheckRect(c, 0, 0, 192, 128, 1);
        CheckRect(c, 0, 0, 96, 64, 2);
        CheckRect(c, 0, 0, 48, 32, 3);
        CheckRect(c, 5, 7, 100, 60, -1);   // inside one tile
        CheckRect(c, 64, 64, 256, 256, -2);
        CheckRect(c, 0, 0, 123, 77, -2);
    }
}

TEST_F(ReadRect, ChunkedChartGivesTheSamePixels) {
    CQuickChart* c = Chunked();
    ASSERT_NE(c, nullptr);
    for (int z = -2; z <= 3; ++z) {
        const int m = z < 0 ? 1 : 1 << z;
        const int w = z < 0 ? 128 : 384 / m, h = z < 0 ? 128 : 256 / m;
        CheckRect(c, z < 0 ? 192 : 0, z < 0 ? 64 : 0, w, h, z);
    }
}

TEST_F(ReadRect, EdgesAndDegenerateRequests) {
    CQuickChart* c = Single();
    ASSERT_NE(c, nullptr);
    std::vector<uint32_t> out(64 * 64, 7);
    EXPECT_EQ(c->ReadRectRGB(0, 0, 64, 32, 64, 0, out.data(), nullptr), 0);
    EXPECT_EQ(out[0], 7u);  // h < 64 at z = 0 draws nothing
    EXPECT_EQ(c->ReadRectRGB(0, 0, 64, 3, 64, 4, out.data(), nullptr), 0);
    EXPECT_EQ(out[0], 7u);
    // Past the right and bottom edges, and before the top-left corner: index 1.
    CheckRect(c, 320, 192, 128, 128, 0);
    CheckRect(c, -64, -64, 128, 128, 0);
    CheckRect(c, 256, 128, 128, 128, 1);
    CheckRect(c, -10, -3, 40, 40, -1);
}

TEST_F(ReadRect, CorruptTilesStayInsideTheirBuffers) {
    // A Huffman tile whose tree runs off the end of the file, a run-length tile with no runs,
    // a packed tile cut short, a reserved type.
    writer.SetRawTile(5, 3, {0, 0x81, 0x81, 0x81});
    writer.SetRawTile(0, 0, {3, 1, 2, 3});
    writer.SetRawTile(1, 0, {253, 4, 5, 6, 0xFF});
    writer.SetRawTile(2, 0, {128, 0, 0, 9});
    CQuickChart* c = Single();
    ASSERT_NE(c, nullptr);
    std::vector<uint32_t> out(384 * 256);
    for (int z = -2; z <= 3; ++z) {
        const int m = z < 0 ? 1 : 1 << z;
        EXPECT_EQ(c->ReadRectRGB(0, 0, 384 / m, 256 / m, 384, z, out.data(), nullptr), 0);
    }
    unsigned char tile[4096];
    c->ReadBlock(2, 0, 0, tile, nullptr);
    EXPECT_EQ(tile[100], 9);
}

TEST_F(ReadRect, PartialBlankAbsentAndCorruptChunks) {
    // A 2 x 2 chunk grid: complete, partial to level 3, blank, absent.
    writer.SetIndexedImage(2048, 2048, Picture(2048, 2048), Palette());
    writer.SetGeorefFromCorners(51, 50, -2, -1);
    writer.SetChunkPlan([](int cx, int cy) {
        ChunkPlan s;
        if (cx == 1 && cy == 0) {
            s.kind = ChunkPlan::Partial;
            s.finest_level = 3;
        }
        if (cx == 0 && cy == 1) s.kind = ChunkPlan::Blank;
        if (cx == 1 && cy == 1) s.kind = ChunkPlan::Absent;
        return s;
    });
    auto* c = dynamic_cast<CQuickChart3*>(Chunked());
    ASSERT_NE(c, nullptr);
    // Only the corner and middle chunks of an area are looked at: the complete one alone,
    // or the partial one among them.
    EXPECT_FALSE(c->ChunkFile()->appearsFullyDownloaded());
    EXPECT_TRUE(c->appearsFullyDownloadedWithin(CBounds(-1.99, -1.6, 50.6, 50.99)));
    EXPECT_FALSE(c->appearsFullyDownloadedWithin(CBounds(-1.99, -1.01, 50.01, 50.99)));

    struct Seen {
        int calls = 0, cy = -1, cx = -1, decoded = -1, loaded = -1;
    } seen;
    ThreadDataForRead td;
    td.missing_context = &seen;
    td.missing_data = [](void* ctx, CQuickChart::CChunkFile*, int cy, int cx, int decoded, int loaded) {
        auto* s = static_cast<Seen*>(ctx);
        ++s->calls;
        s->cy = cy;
        s->cx = cx;
        s->decoded = decoded;
        s->loaded = loaded;
    };
    unsigned char tile[4096];
    // Partial chunk (1, 0): level 3 decoded, each decoded row widened over the 8 rows below it.
    ASSERT_EQ(c->ReadBlock(16 + 2, 5, 0, tile, &td), 0);
    EXPECT_EQ(td.largest_shortfall, 3);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.cx, 1);
    EXPECT_EQ(seen.cy, 0);
    EXPECT_EQ(seen.decoded, 3);
    EXPECT_EQ(seen.loaded, 0);
    for (int r = 0; r < 64; ++r) {
        const int src_row = 5 * 64 + (r & ~7);  // nearest decoded row above
        for (int col = 0; col < 64; col += 9)
            EXPECT_EQ(tile[64 * BitReverse(unsigned(r), 6) + col], Index(1024 + 128 + col, src_row)) << r;
    }
    // Blank chunk: all index 1, delivered at the level asked for.
    td.largest_shortfall = 0;
    seen.calls = 0;
    ASSERT_EQ(c->ReadBlock(3, 16 + 4, 1, tile, &td), 0);
    EXPECT_EQ(seen.calls, 0);
    for (int i = 0; i < 2048; ++i) ASSERT_EQ(tile[i], 1);
    // Absent chunk: index 1 framed with index 0 on its top row and left column; shortfall 10.
    ASSERT_EQ(c->ReadBlock(16, 16, 0, tile, &td), 0);
    EXPECT_EQ(td.largest_shortfall, 10);
    EXPECT_EQ(seen.decoded, 10);
    EXPECT_EQ(tile[0 * 64 + 5], 0);   // stored row 0 = image row 0
    EXPECT_EQ(tile[1 * 64 + 0], 0);   // left column
    EXPECT_EQ(tile[1 * 64 + 5], 1);
    ASSERT_EQ(c->ReadBlock(17, 17, 0, tile, &td), 0);
    EXPECT_EQ(tile[0], 1);  // a tile inside the chunk, away from the frame
}

}  // namespace

namespace {

TEST_F(ReadRect, FourThreadsSeeWhatOneThreadSees) {
    writer.SetIndexedImage(2048, 1024, Picture(2048, 1024), Palette());
    writer.SetGeorefFromCorners(51, 50, -2, -1);
    for (CQuickChart* c : {Single(), Chunked()}) {
        ASSERT_NE(c, nullptr);
        std::vector<uint32_t> ref(512 * 256);
        ASSERT_EQ(c->ReadRectRGB(0, 0, 512, 256, 512, 2, ref.data(), nullptr), 0);
        c->invalidate_read_cache();
        std::vector<std::vector<uint32_t>> got(4, std::vector<uint32_t>(ref.size()));
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t)
            threads.emplace_back([&, t] {
                ThreadDataForRead td;
                // Different orders and levels so that threads meet on the same chunks.
                for (int z = (t & 1) ? 3 : 0; z >= 0 && z <= 3; z += (t & 1) ? -1 : 1) {
                    const int m = 1 << z;
                    std::vector<uint32_t> tmp(size_t(2048 / m) * (1024 / m));
                    c->ReadRectRGB(0, 0, 2048 / m, 1024 / m, 2048 / m, z, tmp.data(), &td);
                }
                c->ReadRectRGB(0, 0, 512, 256, 512, 2, got[t].data(), &td);
            });
        for (auto& th : threads) th.join();
        for (int t = 0; t < 4; ++t) EXPECT_EQ(got[t], ref) << t;
    }
}

TEST_F(ReadRect, TilesBeyond32MiBComeThroughTheMovableWindow) {
    // Two solid tiles: one starting just below 32 MiB (its bytes run past it, read through
    // the first mapping), one beyond (read through the window), in a sparse file.
    auto b = MakeSolidChart(3, 1);
    const std::string p = Path("big.qct");
    ASSERT_TRUE(WriteBytes(p, b));
    const uint32_t below = 0x1FFFFFE, beyond = 0x2000010;
    Put32(b, qct::header::kTileIndex + 4, below);
    Put32(b, qct::header::kTileIndex + 8, beyond);
    ASSERT_TRUE(WriteBytes(p, b));
    const int fd = ::open(p.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const uint8_t t1[2] = {255, 77}, t2[2] = {255, 88};
    ASSERT_EQ(::pwrite(fd, t1, 2, below), 2);
    ASSERT_EQ(::pwrite(fd, t2, 2, beyond), 2);
    ASSERT_EQ(::ftruncate(fd, 0x2004000), 0);
    ::close(fd);
    CQuickChart* c = OpenPath(p);
    ASSERT_NE(c, nullptr);
    unsigned char tile[4096];
    c->ReadBlock(1, 0, 0, tile, nullptr);
    EXPECT_EQ(tile[4095], 77);
    EXPECT_EQ(c->SecondaryWindowBase(), -1);
    c->ReadBlock(2, 0, 0, tile, nullptr);
    EXPECT_EQ(tile[0], 88);
    EXPECT_EQ(c->SecondaryWindowBase(), 0x2000000);
    EXPECT_EQ(c->SecondaryWindowLength(), 0x4000u);
    c->ReadBlock(0, 0, 0, tile, nullptr);
    EXPECT_EQ(tile[0], 2);
    // A tile pointer past the end of the file reads as index 0.
    Put32(b, qct::header::kTileIndex + 8, 0x7FFFFFF0);
    const std::string p2 = Path("pastend.qct");
    ASSERT_TRUE(WriteBytes(p2, b));
    c = OpenPath(p2);
    ASSERT_NE(c, nullptr);
    c->ReadBlock(2, 0, 0, tile, nullptr);
    EXPECT_EQ(tile[0], 0);
    EXPECT_EQ(c->SecondaryWindowBase(), -1);
}

}  // namespace
