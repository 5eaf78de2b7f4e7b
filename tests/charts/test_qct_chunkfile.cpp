// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "charts/qct.h"
#include "charts/qct_writer.h"
#include "support/recording_ui.h"
#include "test_qct_helpers.h"

using namespace qcttest;
using ChunkHeader = CQuickChart::CChunkFile::ChunkHeader;

namespace {

ChunkHeader Sizes(std::initializer_list<int> sizes, int present) {
    ChunkHeader h;
    std::vector<int> v(sizes);
    for (size_t i = 0; i < 10; ++i) h.size[i] = i < v.size() ? v[i] : v.back();
    h.present = present;
    return h;
}

TEST(ChunkHeaderRules, GoodnessLevelsAndChecksums) {
    const ChunkHeader h = Sizes({100, 100, 80, 60, 40, 30, 20, 10, 5, 2}, 90);
    EXPECT_TRUE(h.is_good());
    EXPECT_EQ(h.level_present(), 2);
    EXPECT_FALSE(h.is_fully_downloaded());
    EXPECT_EQ(Sizes({100, 100, 80, 60, 40, 30, 20, 10, 5, 2}, 1).level_present(), -1);
    EXPECT_FALSE(Sizes({10, 20}, 0).is_good());
    EXPECT_FALSE(Sizes({0x100000}, 0).is_good());
    EXPECT_TRUE(Sizes({0xFFFFF}, 0).is_good());

    // Worked by hand: the low byte of the folded sum is the sum of its four bytes. Both
    // words give 0x01020403 (03 + 04 + 02 + 01 = 0x0A); the first alone 0x01020304, also
    // 0x0A; and 0x01FF00FF folds to FF + 00 + FF + 01 = 0x1FF, low byte 0xFF.
    const uint32_t words[2] = {0x01020304, 0xFF};
    const uint32_t carry[1] = {0x01FF00FF};
    ChunkHeader c = Sizes({2, 1, 0}, 2);
    c.check[0] = 0x0A;
    c.check[1] = 0x0A;
    ChunkHeader k = Sizes({1}, 1);
    k.check[0] = 0xFF;
    EXPECT_TRUE(CQuickChart::CChunkFile::CheckChecksum(k, 0, carry));
    EXPECT_TRUE(CQuickChart::CChunkFile::CheckChecksum(c, 0, words));
    EXPECT_TRUE(CQuickChart::CChunkFile::CheckChecksum(c, 1, words));
    EXPECT_TRUE(CQuickChart::CChunkFile::CheckChecksum(c, 2, words));  // empty level, check 0
    c.check[2] = 1;
    EXPECT_FALSE(CQuickChart::CChunkFile::CheckChecksum(c, 2, words));
    c.check[0] ^= 1;
    EXPECT_FALSE(CQuickChart::CChunkFile::CheckChecksum(c, 0, words));
    // The writer's check bytes are the ones a download verifies.
    EXPECT_EQ(CQctWriter::ChunkChecksum(words, 2), 0x0A);
}

class ChunkFile : public ::testing::Test {
protected:
    std::string Path(const std::string& n) { return dir.path().toStdString() + "/" + n; }
    // A chunked header-only chart of 20 x 3 tiles (2 x 1 chunks).
    std::string MakeChart(const std::string& name) {
        const std::string p = Path(name);
        EXPECT_TRUE(WriteBytes(p, MakeSolidChart(20, 3, 0x01000004)));
        return p;
    }
    QTemporaryDir dir;
    RecordingUi ui;
};

TEST_F(ChunkFile, CompanionFileIsFoundOrCreatedAndChecked) {
    // Nothing there: a ".qc3" directory with an empty slice 0 is made; no header yet.
    {
        Opened o;
        OpenChart(MakeChart("a.qct"), o);
        ASSERT_TRUE(o.ok);
        auto* c3 = dynamic_cast<CQuickChart3*>(o.chart);
        ASSERT_NE(c3, nullptr);
        EXPECT_TRUE(QDir(QString::fromStdString(Path("a.qc3"))).exists());
        EXPECT_FALSE(c3->ChunkFile()->HasHeader());
        EXPECT_TRUE(c3->is_writable());
        EXPECT_FALSE(c3->appearsFullyDownloadedWithin(CBounds(-2, -1, 50, 51)));
        unsigned char tile[4096];
        EXPECT_EQ(c3->ReadBlock(0, 0, 0, tile, nullptr), 0);  // absent: framed index-1 tile
        EXPECT_EQ(tile[64 * 1 + 1], 1);

        CQuickChart::CChunkFile::FileHeader fh;
        fh.cx = 2;
        fh.cy = 1;
        ASSERT_TRUE(c3->ChunkFile()->WriteHeader(fh));
        EXPECT_EQ(QFileInfo(QString::fromStdString(Path("a.qc3/0"))).size(), 40 + 16);
        EXPECT_TRUE(c3->ChunkFile()->IsBlank(0, 1));
        EXPECT_FALSE(c3->ChunkFile()->ChunkIsFullyDownloaded(0, 1));
        ASSERT_TRUE(c3->ChunkFile()->WriteOffset(0, 0, -1));
        ASSERT_TRUE(c3->ChunkFile()->WriteOffset(0, 1, -1));
        EXPECT_TRUE(c3->ChunkFile()->appearsFullyDownloaded());
    }
    // ".QC3" wins over ".qc3"; a plain file is used as such; a short one stays open.
    const std::string b = MakeChart("b.qct");
    ASSERT_TRUE(WriteBytes(Path("b.QC3"), {1, 2, 3}));
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(Path("b.qc3"))));
    {
        Opened o;
        OpenChart(b, o);
        ASSERT_TRUE(o.ok);
        auto* c3 = dynamic_cast<CQuickChart3*>(o.chart);
        EXPECT_EQ(c3->ChunkFile()->FilePath(), Path("b.QC3"));
        EXPECT_TRUE(c3->ChunkFile()->File().IsSingleFile());
    }
    // A wrong magic closes the companion and the chart does not open.
    std::vector<uint8_t> junk(40, 0);
    Put32(junk, 0, 0x12345678);
    ASSERT_TRUE(WriteBytes(Path("b.QC3"), junk));
    Opened o;
    OpenChart(b, o);
    EXPECT_FALSE(o.ok);
    // Size on disk counts the companion.
    EXPECT_EQ(CQuickChart::getQctFileSize(b), QFileInfo(QString::fromStdString(b)).size() + 40);
    EXPECT_EQ(CQuickChart::getQctFileSize(Path("a.qct")), QFileInfo(QString::fromStdString(Path("a.qct"))).size() + 56);
}

TEST_F(ChunkFile, CorruptChunksAreMarkedAbsentAndBadHeadersRefused) {
    CQctWriter w;
    std::vector<uint8_t> px(1024 * 1024);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint8_t((i / 7 + i / 1024 / 3) % 50);
    w.SetIndexedImage(1024, 1024, px, std::vector<uint32_t>(64, 0x123456));
    w.SetGeorefFromCorners(1, 0, 0, 1);
    const std::string p = Path("c.qct");
    ASSERT_TRUE(w.WriteChunked(p));
    // Damage the data words of the only chunk (after its 76-byte header at offset 48).
    const std::string slice = Path("c.qc3/0");
    FILE* f = std::fopen(slice.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 48 + 76, SEEK_SET);
    const uint32_t bad[2] = {0x7FFFFFFF, 0xFFFFFFFF};  // tree start far past the data
    std::fwrite(bad, 4, 2, f);
    std::fclose(f);
    Opened o;
    OpenChart(p, o);
    ASSERT_TRUE(o.ok);
    auto* c3 = dynamic_cast<CQuickChart3*>(o.chart);
    ThreadDataForRead td;
    unsigned char tile[4096];
    ASSERT_EQ(c3->ReadBlock(3, 3, 0, tile, &td), 0);
    EXPECT_EQ(tile[0], 0);
    EXPECT_EQ(c3->ChunkFile()->ReadOffset(0, 0), 0);  // fetched again next time
    EXPECT_EQ(td.largest_shortfall, 10);

    // Headers whose sizes grow, or whose data runs past the end of the file: not available.
    for (int variant = 0; variant < 2; ++variant) {
        ASSERT_TRUE(w.WriteChunked(p));
        f = std::fopen(slice.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, 48 + 4 * (variant == 0 ? 5 : 0), SEEK_SET);
        const int32_t v = variant == 0 ? 0xFFFFF : 0xFFFF0;
        std::fwrite(&v, 4, 1, f);
        if (variant == 1) {
            std::fseek(f, 48 + 40, SEEK_SET);
            std::fwrite(&v, 4, 1, f);  // claims all words present
        }
        std::fclose(f);
        Opened again;
        OpenChart(p, again);
        ASSERT_TRUE(again.ok);
        c3 = dynamic_cast<CQuickChart3*>(again.chart);
        int decoded = -1;
        std::vector<unsigned char> out(1 << 20);
        EXPECT_FALSE(c3->ChunkFile()->ReadChunk(0, 0, 0, out.data(), 0, decoded, td)) << variant;
        EXPECT_EQ(c3->ChunkFile()->ReadOffset(0, 0), 48) << variant;  // not decoding failures
        EXPECT_FALSE(c3->ChunkFile()->ReadChunk(1, 0, 0, out.data(), 0, decoded, td));  // outside the grid
    }
}

}  // namespace
