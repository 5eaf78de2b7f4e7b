// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QColor>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cstring>
#include <string>
#include <vector>

#include "charts/codec.h"
#include "charts/qct.h"
#include "charts/qct_writer.h"
#include "test_codec_support.h"

using namespace codec_test;

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray b = f.readAll();
    return std::vector<uint8_t>(b.begin(), b.end());
}
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
int64_t I64(const std::vector<uint8_t>& b, size_t at) {
    int64_t v;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}
double F64(const std::vector<uint8_t>& b, size_t at) {
    double v;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}
std::string Str(const std::vector<uint8_t>& b, uint32_t ptr) {
    if (ptr == 0) return {};
    return std::string(reinterpret_cast<const char*>(b.data() + ptr));
}
double Cubic(const double* c, double a, double b) {
    return c[0] + c[1] * a + c[2] * b + c[3] * a * a + c[4] * a * b + c[5] * b * b + c[6] * a * a * a +
           c[7] * a * a * b + c[8] * a * b * b + c[9] * b * b * b;
}

class WriterTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string Path(const char* name) { return (dir.path() + QLatin1Char('/') + QLatin1String(name)).toStdString(); }
};

}  // namespace

TEST_F(WriterTest, SingleFileHeaderAndTilesReadBack) {
    // 150 x 70 pixels: padded to 3 x 2 tiles by repeating the last column and row.
    const int w = 150, h = 70;
    auto img = ChartLike(w, h, 21, 20);
    CQctWriter wr;
    std::vector<uint32_t> pal;
    for (int i = 0; i < 20; ++i) pal.push_back(0x010203u * static_cast<uint32_t>(i * 10));
    ASSERT_TRUE(wr.SetIndexedImage(w, h, img, pal));
    ASSERT_TRUE(wr.SetGeorefFromCorners(51.0, 50.0, -2.0, -1.0));
    QctMetadata& m = wr.Meta();
    m.title = QStringLiteral("Title");
    m.name = QStringLiteral("Nom d\u00e9pos\u00e9");
    m.identifier = QStringLiteral("ID7");
    m.edition = QStringLiteral("3");
    m.copyright = QStringLiteral("(c) us");
    m.map_type = QStringLiteral("Marine chart");
    m.depth_units = QStringLiteral("Metres");
    m.flags = 0x40;
    m.extra_text = QStringLiteral("plus24");
    m.online_url = QStringLiteral("http://example.invalid/c");
    m.outline = {{51.0, -2.0}, {51.0, -1.0}, {50.0, -1.5}};
    m.has_datum_shift = true;
    m.datum_shift_lat = 0.001;
    m.datum_shift_lon = -0.002;
    std::string err;
    const std::string path = Path("a.qct");
    ASSERT_TRUE(wr.WriteSingleFile(path, &err)) << err;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path + ".tmp")));

    const auto f = ReadAll(path);
    ASSERT_GT(f.size(), 0x45A0u + 24);
    EXPECT_EQ(U32(f, 0), 0x1423D5FFu);
    EXPECT_EQ(U32(f, 4), 0x00000004u);
    EXPECT_EQ(U32(f, 8), 3u);
    EXPECT_EQ(U32(f, 12), 2u);
    EXPECT_EQ(Str(f, U32(f, 0x10)), "Title");
    EXPECT_EQ(Str(f, U32(f, 0x14)), "Nom d\xe9pos\xe9");  // Latin-1 on disk
    EXPECT_EQ(Str(f, U32(f, 0x18)), "ID7");
    EXPECT_EQ(U32(f, 0x20), 0u);  // empty texts are absent
    EXPECT_EQ(Str(f, U32(f, 0x34)), "Metres");
    EXPECT_EQ(U32(f, 0x40), 0x40u);
    const uint32_t ext = U32(f, 0x54);
    ASSERT_NE(ext, 0u);
    EXPECT_EQ(Str(f, U32(f, ext)), "Marine chart");
    EXPECT_DOUBLE_EQ(F64(f, U32(f, ext + 4)), 0.001);
    EXPECT_DOUBLE_EQ(F64(f, U32(f, ext + 4) + 8), -0.002);
    EXPECT_EQ(Str(f, U32(f, ext + 24)), "plus24");
    const uint32_t online = U32(f, ext + 28);
    EXPECT_EQ(U32(f, online), 8u);
    EXPECT_EQ(Str(f, U32(f, online + 4)), "http://example.invalid/c");
    EXPECT_EQ(static_cast<int32_t>(U32(f, 0x58)), 3);
    EXPECT_DOUBLE_EQ(F64(f, U32(f, 0x5C) + 32), 50.0);
    EXPECT_DOUBLE_EQ(F64(f, U32(f, 0x5C) + 40), -1.5);
    EXPECT_EQ(U32(f, 0x1A0 + 4 * 3), 0x010203u * 30);
    EXPECT_EQ(f[0x5A0 + 5 * 128 + 5], 5);

    // Georeferencing: corners land on the image corners, and the two blocks invert each other.
    double c[40];
    for (int i = 0; i < 40; ++i) c[i] = F64(f, 0x60 + 8 * i);
    EXPECT_NEAR(Cubic(c, 51.0, -2.0), 0.0, 1e-9);
    EXPECT_NEAR(Cubic(c, 50.0, -1.0), w, 1e-9);
    EXPECT_NEAR(Cubic(c + 10, 50.0, -1.0), h, 1e-9);
    for (double x : {0.0, 37.5, 149.0})
        for (double y : {0.0, 12.25, 69.0}) {
            const double lat = Cubic(c + 20, x, y), lon = Cubic(c + 30, x, y);
            EXPECT_NEAR(Cubic(c, lat, lon), x, 1e-9);
            EXPECT_NEAR(Cubic(c + 10, lat, lon), y, 1e-9);
        }

    // The image is padded by repeating its last column and row (the tiles themselves are
    // checked through the reader); the file ends with room for the bit reader.
    const auto& padded = wr.Indices();
    ASSERT_EQ(padded.size(), 192u * 128u);
    EXPECT_EQ(padded[69 * 192 + 170], img[69 * 150 + 149]);
    EXPECT_EQ(padded[127 * 192 + 10], img[69 * 150 + 10]);
    uint32_t last = 0;
    for (int t = 0; t < 6; ++t) last = std::max(last, U32(f, 0x45A0 + 4 * t));
    EXPECT_GE(f.size() - last, 8u);
}

TEST_F(WriterTest, ForcedEncodingsAndRawTiles) {
    std::vector<uint8_t> img(128 * 64, 4);
    for (int i = 0; i < 64 * 64; i += 3) img[(i / 64) * 128 + 64 + i % 64] = 6;
    for (TileEncoding enc : {TileEncoding::Huffman, TileEncoding::RunLength, TileEncoding::PixelPacked}) {
        CQctWriter wr;
        ASSERT_TRUE(wr.SetIndexedImage(128, 64, img, {0, 0x111111, 0x222222, 0x333333, 0x444444, 0x555555, 0x666666}));
        wr.ForceEncoding(enc);
        wr.SetRawTile(0, 0, {128, 0, 0, 3});
        ASSERT_TRUE(wr.WriteSingleFile(Path("forced.qct")));
        const auto f = ReadAll(Path("forced.qct"));
        EXPECT_EQ(f[U32(f, 0x45A0)], 128);
        const int b0 = f[U32(f, 0x45A4)];
        const int expected = enc == TileEncoding::Huffman ? 0 : enc == TileEncoding::RunLength ? 2 : 254;
        EXPECT_EQ(b0, expected);
    }
    // Refused-version files are possible on purpose.
    CQctWriter wr;
    ASSERT_TRUE(wr.SetIndexedImage(1, 1, {0}, {0xFFFFFF}));
    wr.Meta().version = 0x10000000;
    wr.Meta().keep_version_high_byte = true;
    ASSERT_TRUE(wr.WriteSingleFile(Path("qc2.qct")));
    EXPECT_EQ(U32(ReadAll(Path("qc2.qct")), 4), 0x10000000u);
    wr.Meta().zero_tile_index = true;
    ASSERT_TRUE(wr.WriteSingleFile(Path("catalog.qct")));
    const auto cat = ReadAll(Path("catalog.qct"));
    EXPECT_EQ(U32(cat, 0x45A0), 0u);
}

TEST_F(WriterTest, ChunkedChartWithEveryChunkKind) {
    // 17 x 20 tiles -> 2 x 2 chunks, the right and bottom ones only partly covered by the image.
    const int w = 17 * 64, h = 20 * 64;
    const auto img = ChartLike(w, h, 4, 16);
    CQctWriter wr;
    std::vector<uint32_t> pal(16, 0x808080);
    ASSERT_TRUE(wr.SetIndexedImage(w, h, img, pal));
    wr.SetChunkPlan([](int cx, int cy) {
        ChunkPlan s;
        if (cx == 1 && cy == 0) s.kind = ChunkPlan::Blank;
        if (cx == 0 && cy == 1) s.kind = ChunkPlan::Absent;
        if (cx == 1 && cy == 1) {
            s.kind = ChunkPlan::Partial;
            s.finest_level = 3;
        }
        return s;
    });
    std::string err;
    ASSERT_TRUE(wr.WriteChunked(Path("c.qct"), &err)) << err;
    const auto q = ReadAll(Path("c.qct"));
    EXPECT_EQ(U32(q, 4) >> 24, 0x01u);
    EXPECT_EQ(U32(q, 8), 17u);
    const auto s = ReadAll(Path("c.qc3/0"));
    ASSERT_GE(s.size(), 40u + 32u);
    EXPECT_EQ(U32(s, 0), 0x484DF282u);
    EXPECT_EQ(U32(s, 12), 2u);
    EXPECT_EQ(U32(s, 16), 2u);
    EXPECT_EQ(I64(s, 40 + 8 * 1), -1);
    EXPECT_EQ(I64(s, 40 + 8 * 2), 0);

    for (int n : {0, 3}) {
        const int64_t at = I64(s, 40 + 8 * n);
        ASSERT_GT(at, 0);
        int32_t size[10];
        std::memcpy(size, s.data() + at, 40);
        const int32_t present = static_cast<int32_t>(U32(s, at + 40));
        const uint32_t* words = reinterpret_cast<const uint32_t*>(s.data() + at + 76);
        EXPECT_EQ(present, n == 0 ? size[0] : size[3]);
        CQuickChart::CChunkFile::ChunkHeader header;
        std::memcpy(&header, s.data() + at, sizeof header);
        const int cx = n % 2, cy = n / 2;
        std::vector<uint8_t> chunk(1024 * 1024, 0);
        for (int r = 0; r < 1024 && cy * 1024 + r < h; ++r)
            for (int x = 0; x < 1024 && cx * 1024 + x < w; ++x)
                chunk[r * 1024 + x] = img[(cy * 1024 + r) * w + cx * 1024 + x];
        const auto stored = ToStored(chunk.data(), 1024, 10);
        std::vector<uint8_t> out(1024 * 1024);
        for (int level = 0; level < 10; ++level) {
            if (level > 0) {
                EXPECT_LE(size[level], size[level - 1]);
            }
            if (present < size[level]) continue;
            EXPECT_TRUE(CQuickChart::CChunkFile::CheckChecksum(header, level, words)) << level;
            const int px = 0x100000 >> level;
            ASSERT_NE(CHuffmanEncoding::decode_run(words, size[level], out.data(), px), nullptr);
            ASSERT_TRUE(std::equal(out.begin(), out.begin() + px, stored.begin())) << n << " level " << level;
        }
        if (n == 3) {
            EXPECT_LT(present, size[2]);
        }
    }
}

TEST_F(WriterTest, QuantisesRgbImagesAndBuildsMixMatrix) {
    // Few colours: kept exactly.
    QImage small(100, 30, QImage::Format_RGB32);
    small.fill(QColor(10, 20, 30));
    for (int x = 0; x < 100; x += 2) small.setPixel(x, 5, qRgb(250, 0, 0));
    CQctWriter wr;
    ASSERT_TRUE(wr.SetImage(small));
    ASSERT_EQ(wr.Palette().size(), 2u);
    const uint32_t red = 0xFA0000;
    const uint8_t ri = wr.Palette()[0] == red ? 0 : 1;
    EXPECT_EQ(wr.Indices()[5 * 128 + 2], ri);
    EXPECT_EQ(wr.Indices()[5 * 128 + 1], 1 - ri);

    // A gradient with thousands of colours: at most 127, each pixel close to its colour.
    QImage grad(256, 64, QImage::Format_RGB32);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) grad.setPixel(x, y, qRgb(x, y * 4, 255 - x));
    ASSERT_TRUE(wr.SetImage(grad));
    ASSERT_LE(wr.Palette().size(), 127u);
    ASSERT_GE(wr.Palette().size(), 64u);
    int worst = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x) {
            const uint32_t p = wr.Palette()[wr.Indices()[y * 256 + x]];
            const QRgb c = grad.pixel(x, y);
            worst = std::max({worst, std::abs(static_cast<int>(p >> 16) - qRed(c)),
                              std::abs(static_cast<int>((p >> 8) & 255) - qGreen(c)),
                              std::abs(static_cast<int>(p & 255) - qBlue(c))});
        }
    EXPECT_LT(worst, 40);

    // Black, white, grey: the mix of black and white is grey; a colour mixed with itself is itself.
    const auto m = CQctWriter::BuildInterpolationMatrix({0x000000, 0xFFFFFF, 0x808080, 0xFF0000});
    EXPECT_EQ(m[0 * 128 + 1], 2);
    EXPECT_EQ(m[1 * 128 + 0], 2);
    EXPECT_EQ(m[3 * 128 + 3], 3);
    EXPECT_EQ(m.size(), 16384u);
}

TEST_F(WriterTest, BadInputIsRefusedWithAnError) {
    CQctWriter wr;
    std::string err;
    EXPECT_FALSE(wr.WriteSingleFile(Path("none.qct"), &err));
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(wr.SetIndexedImage(2, 2, {0, 1, 2}, {0, 1, 2}));
    EXPECT_FALSE(wr.SetIndexedImage(1, 1, {200}, {0}));
    EXPECT_FALSE(wr.SetIndexedImage(0, 5, {}, {0}));
    EXPECT_FALSE(wr.SetImage(QImage()));
    ASSERT_TRUE(wr.SetIndexedImage(1, 1, {0}, {0}));
    EXPECT_FALSE(wr.SetGeorefFromCorners(50, 51, 0, 1));
    EXPECT_TRUE(wr.SetGeorefFromCorners(10, 0, 179, -179));  // crosses the 180 degree meridian
    EXPECT_NEAR(wr.Georef()[31], 2.0, 1e-12);
    err.clear();
    EXPECT_FALSE(wr.WriteSingleFile(Path("missing/dir/x.qct"), &err));
    EXPECT_NE(err.find("Cannot create"), std::string::npos) << err;
    EXPECT_FALSE(wr.WriteChunked(Path("missing/dir/x.qct"), &err));
}
