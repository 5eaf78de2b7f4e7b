// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTemporaryDir>

#include <cstring>

#include <gtest/gtest.h>

#include "maplib/chartoutline.h"
#include "test_chartlist_support.h"

namespace {

class ChartOutlineTest : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }
    std::string Make(const std::string& name, const TestChart& t) {
        const std::string p = Path(name);
        WriteTestChart(p, t);
        return p;
    }
    QTemporaryDir dir;
};

TEST_F(ChartOutlineTest, ReadsTheFieldsTheCatalogueChoosesBy) {
    TestChart t;
    t.north = 51;
    t.west = -2;
    t.scale = 0.5;
    t.name = "Solent";
    t.type = "Nautical";
    t.flags = 0x40;
    CChartOutline o;
    ASSERT_TRUE(o.Read(Make("a.qct", t)));
    EXPECT_NEAR(o.scale, 0.5, 1e-9);
    EXPECT_EQ(o.name, "Solent");
    EXPECT_EQ(o.type, "Nautical");
    EXPECT_EQ(o.flags, 0x40u);
    EXPECT_FALSE(o.chunked);
    // No stored outline: the image corners give the box and the polygon at once.
    EXPECT_NEAR(o.lat_max, 51, 1e-9);
    EXPECT_NEAR(o.lat_min, 51 - t.Span(), 1e-9);
    EXPECT_NEAR(o.lon_min, -2, 1e-9);
    EXPECT_NEAR(o.lon_max, -2 + t.Span(), 1e-9);
    EXPECT_EQ(o.polygon.size(), 4u);
    EXPECT_TRUE(o.doesContain(t.CentreLat(), t.CentreLon()));
    EXPECT_FALSE(o.doesContain(t.CentreLat(), t.CentreLon() + t.Span()));

    // Without a name the path stands in, so lists never show a blank line.
    t.name.clear();
    ASSERT_TRUE(o.Read(Make("b.qct", t)));
    EXPECT_EQ(o.name, Path("b.qct"));
}

TEST_F(ChartOutlineTest, RefusesForeignNewerAndIncompatibleHeaders) {
    TestChart t;
    CChartOutline o;
    t.magic = 0x1423D5FE;
    EXPECT_TRUE(o.Read(Make("fe.qct", t)));
    t.magic = 0x1423D5FD;
    EXPECT_FALSE(o.Read(Make("fd.qct", t)));
    EXPECT_EQ(o.scale, 0);
    t.magic = 0x1423D5FF;
    t.version = 5;
    EXPECT_TRUE(o.Read(Make("v5.qct", t)));
    t.version = 6;
    EXPECT_FALSE(o.Read(Make("v6.qct", t)));
    t.version = 0x10000004;
    t.keep_version = true;
    EXPECT_FALSE(o.Read(Make("qc2.qct", t)));
    EXPECT_EQ(o.scale, 0);
    EXPECT_FALSE(o.Read(Path("missing.qct")));
}

TEST_F(ChartOutlineTest, DamagedFilesGetScaleZeroWithoutCrashing) {
    TestChart t;
    t.outline = {{9.9, 10.1}, {9.9, 11}, {9.2, 11}, {9.2, 10.1}};
    t.revision = "01/02/2020";
    const std::string good = ReadWholeFile(Make("good.qct", t));
    ASSERT_GT(good.size(), 17832u);

    // Every truncation, from an empty file to one byte short: refused below the smallest
    // possible chart, and never a crash when a shortened file still passes (its tail
    // holds only strings).
    CChartOutline o;
    for (size_t n = 0; n < good.size(); n += (n < 17800 ? 977 : 1)) {
        WriteWholeFile(Path("cut.qct"), good.substr(0, n));
        const bool ok = o.Read(Path("cut.qct"));
        if (n < 17832) {
            EXPECT_FALSE(ok) << n;
        }
        if (ok) o.doesContain(9.5, 10.5);
    }

    // Pointers aimed past the end of the file.
    auto patched = [&](size_t offset, uint32_t value) {
        std::string bytes = good;
        std::memcpy(&bytes[offset], &value, 4);
        WriteWholeFile(Path("patched.qct"), bytes);
        return o.Read(Path("patched.qct"));
    };
    EXPECT_FALSE(patched(0x14, 0xFFFFFF00u));    // name
    EXPECT_FALSE(patched(0x5C, 0xFFFFFF00u));    // outline
    EXPECT_FALSE(patched(0x54, 0xFFFFFF00u));    // extended data
    EXPECT_FALSE(patched(0x45A0, 0xFFFFFF00u));  // tile data
    EXPECT_FALSE(patched(0x58, 0x7FFFFFFFu));    // absurd outline count
    EXPECT_FALSE(patched(0x08, 0u));             // no tiles
    EXPECT_FALSE(patched(0x08, 0x10000u));       // tile index far beyond the file
    EXPECT_TRUE(patched(0x58, 0xFFFFFFFFu));     // negative count: the corners serve
    EXPECT_EQ(o.polygon.size(), 4u);

    // Random bytes of a plausible size.
    std::string noise(30000, '\0');
    uint32_t x = 12345;
    for (char& c : noise) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    WriteWholeFile(Path("noise.qct"), noise);
    EXPECT_FALSE(o.Read(Path("noise.qct")));
}

TEST_F(ChartOutlineTest, StoredOutlineIsReadOnlyWhenAPointTestNeedsIt) {
    TestChart t;
    t.north = 10;
    t.west = 10;
    t.scale = 1;                                          // covers 10..11.07 E, 8.93..10 N
    t.outline = {{9.9, 10.1}, {9.9, 10.5}, {9.5, 10.1}};  // a triangle in the north-west
    CChartOutline o;
    const std::string p = Make("tri.qct", t);
    ASSERT_TRUE(o.Read(p));
    EXPECT_TRUE(o.polygon.empty());
    EXPECT_NEAR(o.lon_min, 10.1, 1e-12);
    EXPECT_NEAR(o.lat_min, 9.5, 1e-12);
    EXPECT_TRUE(o.doesContain(9.8, 10.15));
    EXPECT_EQ(o.polygon.size(), 3u);
    EXPECT_FALSE(o.doesContain(9.55, 10.45));  // in the box, outside the triangle
    EXPECT_FALSE(o.doesContain(9.0, 10.9));    // on the image, outside the outline

    // A chart whose file has gone contains nothing, and does not keep retrying.
    CChartOutline gone;
    ASSERT_TRUE(gone.Read(p));
    ASSERT_EQ(std::remove(p.c_str()), 0);
    EXPECT_FALSE(gone.doesContain(9.8, 10.15));
    EXPECT_FALSE(gone.ReadPolygon());
}

TEST_F(ChartOutlineTest, OutlineAcrossTheAntimeridianContainsBothSides) {
    TestChart t;
    t.north = -16;
    t.west = 179;
    t.scale = 1.875;  // two degrees: 179 E to 181 E
    t.outline = {{-16.1, 179.2}, {-16.1, -179.2}, {-17.9, -179.2}, {-17.9, 179.2}};
    CChartOutline o;
    ASSERT_TRUE(o.Read(Make("fiji.qct", t)));
    EXPECT_NEAR(o.lon_min, 179.2, 1e-9);
    EXPECT_NEAR(o.lon_max, 180.8, 1e-9);
    EXPECT_TRUE(o.doesContain(-17, 179.5));
    EXPECT_TRUE(o.doesContain(-17, -179.5));
    EXPECT_TRUE(o.doesContain(-17, 180.5));
    EXPECT_FALSE(o.doesContain(-17, 0.5));
    EXPECT_FALSE(o.doesContain(-17, -178.5));
    EXPECT_TRUE(o.mightOverlap(CBounds(-179.9, -179.8, -17.5, -17)));
    EXPECT_FALSE(o.mightOverlap(CBounds(-170, -169, -17.5, -17)));
}

TEST_F(ChartOutlineTest, DatumShiftMovesTheStoredOutline) {
    TestChart t;
    t.outline = {{9.9, 10.1}, {9.9, 10.5}, {9.5, 10.5}, {9.5, 10.1}};
    t.datum_shift = true;
    t.shift_lat = 0.01;
    t.shift_lon = -0.02;
    CChartOutline o;
    ASSERT_TRUE(o.Read(Make("shift.qct", t)));
    EXPECT_NEAR(o.lat_max, 9.91, 1e-12);
    EXPECT_NEAR(o.lon_min, 10.08, 1e-12);
    EXPECT_TRUE(o.doesContain(9.905, 10.09));
    EXPECT_FALSE(o.doesContain(9.505, 10.49));
}

TEST_F(ChartOutlineTest, ComparisonDateComesFromRevisionThenEdition) {
    TestChart t;
    CChartOutline o;
    t.revision = "03/2021";
    t.edition = "2019-05-01";
    ASSERT_TRUE(o.Read(Make("r.qct", t)));
    EXPECT_EQ(o.date, 20210300u);
    t.revision = "Rev 7";  // no "/" fifth from the end: the edition counts
    ASSERT_TRUE(o.Read(Make("e.qct", t)));
    EXPECT_EQ(o.date, 20190501u);
    t.revision = "ab/cd";  // shaped like a date but without a year
    ASSERT_TRUE(o.Read(Make("x.qct", t)));
    EXPECT_EQ(o.date, 20190501u);

    EXPECT_EQ(CChartOutline::ParseDate("14/07/2018"), 20180714u);
    EXPECT_EQ(CChartOutline::ParseDate("Edition of Dec 2016"), 20161200u);
    EXPECT_EQ(CChartOutline::ParseDate("3 December 2016"), 20161203u);
    EXPECT_EQ(CChartOutline::ParseDate("Edition 3"), 0u);
    EXPECT_EQ(CChartOutline::ParseDate(""), 0u);
}

TEST_F(ChartOutlineTest, ChunkedChartsReportWhetherEveryChunkIsPresent) {
    TestChart t;
    t.chunked = true;
    CChartOutline o;
    ASSERT_TRUE(o.Read(Make("full.qct", t)));
    EXPECT_TRUE(o.chunked);
    EXPECT_EQ(o.fully_downloaded, 1);

    // Without any chunk store yet: nothing downloaded, and reading must not create one.
    const std::string p = Make("bare.qct", t);
    QDir(QString::fromStdString(Path("bare.qc3"))).removeRecursively();
    ASSERT_TRUE(o.Read(p));
    EXPECT_EQ(o.fully_downloaded, 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("bare.qc3"))));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(Path("bare.QC3"))));
}

TEST(ChartOutlineFolderNumber, TrailingDigitsOfThePathOrItsFolders) {
    EXPECT_EQ(CChartOutline::FolderNumber("/maps/3/chart.qct"), 3);
    EXPECT_EQ(CChartOutline::FolderNumber("/maps/set12"), 12);
    EXPECT_EQ(CChartOutline::FolderNumber("/maps/7/sub/chart.qct"), 7);
    EXPECT_EQ(CChartOutline::FolderNumber("/maps/chart.qct"), 0);
    EXPECT_EQ(CChartOutline::FolderNumber("/3"), 3);
    EXPECT_EQ(CChartOutline::FolderNumber("3"), 0);
    EXPECT_EQ(CChartOutline::FolderNumber(""), 0);
    EXPECT_EQ(CChartOutline::FolderNumber("/x/123456789012345"), 999999999);
}

}  // namespace
