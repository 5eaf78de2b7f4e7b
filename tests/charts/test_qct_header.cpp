// SPDX-License-Identifier: GPL-3.0-or-later
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "charts/qct.h"
#include "support/recording_ui.h"
#include "test_qct_helpers.h"

using namespace qcttest;

namespace {

class QctHeader : public ::testing::Test {
protected:
    std::string Path(const std::string& name) { return dir.path().toStdString() + "/" + name; }
    // Writes, opens, and returns whether it opened; the only message (if any) in `message`.
    bool TryOpen(const std::vector<uint8_t>& bytes, std::string* message = nullptr, const std::string& name = "c.qct") {
        const std::string p = Path(name);
        EXPECT_TRUE(WriteBytes(p, bytes));
        ui.Clear();
        Opened o;
        OpenChart(p, o);
        EXPECT_TRUE(o.called);
        if (message) *message = ui.messages.empty() ? std::string() : ui.messages.back().text;
        for (const auto& m : ui.messages) EXPECT_EQ(m.title, "Problem");
        return o.ok;
    }
    QTemporaryDir dir;
    RecordingUi ui;
};

TEST_F(QctHeader, MagicAndVersionRefusals) {
    std::string msg;
    EXPECT_TRUE(TryOpen(MakeSolidChart(2, 2, 5, 0x1423D5FE), &msg));
    EXPECT_TRUE(msg.empty());
    EXPECT_TRUE(TryOpen(MakeSolidChart(2, 2, 0, 0x1423D5FF)));

    EXPECT_FALSE(TryOpen(MakeSolidChart(2, 2, 4, 0x1423D5FD), &msg));
    EXPECT_EQ(msg, "Not a QuickChart: \"" + Path("c.qct") + "\"");

    EXPECT_FALSE(TryOpen(MakeSolidChart(2, 2, 6), &msg));
    EXPECT_EQ(msg, "To open this map you need a newer version of your software.\n\n" + Path("c.qct") +
                       " is version 6.");
    EXPECT_FALSE(TryOpen(MakeSolidChart(2, 2, 0x00ABCDEF), &msg));
    EXPECT_NE(msg.find("is version abcdef."), std::string::npos);

    EXPECT_FALSE(TryOpen(MakeSolidChart(2, 2, 0x10000000), &msg));
    EXPECT_EQ(msg, "This QC2 map is not compatible");

    // An unknown variant is simply not opened, without bothering the user.
    EXPECT_FALSE(TryOpen(MakeSolidChart(2, 2, 0x02000000), &msg));
    EXPECT_TRUE(msg.empty());
    EXPECT_TRUE(ui.messages.empty());

    auto catalog = MakeSolidChart(2, 2);
    Put32(catalog, qct::header::kTileIndex, 0);
    EXPECT_FALSE(TryOpen(catalog, &msg));
    EXPECT_EQ(msg, "This map is a catalog header and has not been completely converted.");
}

TEST_F(QctHeader, TruncatedAndImpossibleFilesAreRefusedCleanly) {
    std::string msg;
    const auto good = MakeSolidChart(3, 2);
    const std::string damaged = "The map \"" + Path("c.qct") + "\" is damaged or incomplete.";
    // Cut inside the header, inside the tile index.
    for (size_t cut : {size_t(100), size_t(0x1A0), size_t(0x45A0 - 1), size_t(0x45A0 + 10)}) {
        std::vector<uint8_t> b(good.begin(), good.begin() + cut);
        EXPECT_FALSE(TryOpen(b, &msg)) << cut;
        EXPECT_EQ(msg, damaged) << cut;
    }
    // Too short to hold a version word: no chart, no message.
    EXPECT_FALSE(TryOpen(std::vector<uint8_t>(good.begin(), good.begin() + 6), &msg));
    EXPECT_TRUE(msg.empty());

    for (uint32_t bad : {0u, 70000u, 0xFFFFFFFFu}) {
        auto b = good;
        Put32(b, 8, bad);
        EXPECT_FALSE(TryOpen(b, &msg));
        EXPECT_EQ(msg, damaged);
    }
    // A tile index far larger than the file.
    auto b = good;
    Put32(b, 8, 60000);
    Put32(b, 12, 60000);
    EXPECT_FALSE(TryOpen(b, &msg));
    EXPECT_EQ(msg, damaged);

    // Missing file: no chart at all.
    bool called = false;
    CQuickChart::Create(NV_HWND(), Path("missing.qct"), [&](CQuickChart* c, bool ok) {
        called = true;
        EXPECT_EQ(c, nullptr);
        EXPECT_FALSE(ok);
    });
    EXPECT_TRUE(called);
}

TEST_F(QctHeader, HostilePointersReadAsEmptyOrAreIgnored) {
    auto b = MakeSolidChart(2, 2);
    const uint32_t end = uint32_t(b.size());
    Put32(b, 0x10, end + 1000);  // title past the end
    Put32(b, 0x14, 0xFFFFFFF0);  // name far past the end
    Put32(b, 0x54, end - 8);     // extended block runs off the end
    Put32(b, 0x58, 0x7FFFFFFF);  // absurd outline count
    Put32(b, 0x5C, 20);
    b.push_back('A');
    b.push_back('B');  // identifier: unterminated text at the very end
    Put32(b, 0x18, uint32_t(b.size() - 2));
    const std::string p = Path("hostile.qct");
    ASSERT_TRUE(WriteBytes(p, b));
    Opened o;
    OpenChart(p, o);
    ASSERT_TRUE(o.ok);
    EXPECT_EQ(o.chart->GetTitle(), "AB");
    EXPECT_EQ(o.chart->GetHeaderStringField(0x10), "");
    CPolygon poly;
    o.chart->getBoundaryPolygon(poly);
    EXPECT_EQ(poly.size(), 4u);  // falls back to the image corners
    o.chart->GetMapType();      // whatever the partial block holds, reading it stays in bounds
}

TEST_F(QctHeader, TitleRuleAndLatin1Texts) {
    auto base = MakeSolidChart(1, 1);
    auto with = [&](std::vector<uint8_t> b, std::initializer_list<std::pair<uint32_t, std::string>> strings) {
        for (const auto& s : strings) Put32(b, s.first, AppendString(b, s.second));
        return b;
    };
    auto title_of = [&](const std::vector<uint8_t>& b, const std::string& name) {
        const std::string p = Path(name);
        EXPECT_TRUE(WriteBytes(p, b));
        Opened o;
        OpenChart(p, o);
        EXPECT_TRUE(o.ok);
        return o.ok ? o.chart->GetTitle() : std::string("<not open>");
    };
    EXPECT_EQ(title_of(with(base, {{0x10, "Title"}, {0x14, "Name"}, {0x18, "Id"}}), "a.qct"), "Name");
    EXPECT_EQ(title_of(with(base, {{0x10, "Title"}, {0x14, ""}, {0x18, "Id"}}), "a.qct"), "Title");
    EXPECT_EQ(title_of(with(base, {{0x18, "Id"}}), "a.qct"), "Id");
    EXPECT_EQ(title_of(base, "Plain name.qct"), "Plain name.qct");
    EXPECT_EQ(title_of(with(base, {{0x14, "Z\xFCrich \xB0"}}), "a.qct"), "Z\xC3\xBCrich \xC2\xB0");

    // Soundings are mentioned only for sea charts that name their depth units.
    auto marine = with(base, {{0x14, "Solent"}, {0x34, "Metres"}});
    std::vector<uint8_t> ext(32, 0);
    auto with_type = [&](std::vector<uint8_t> b, const std::string& type) {
        const uint32_t t = AppendString(b, type);
        const uint32_t e = Append(b, ext.data(), ext.size());
        Put32(b, e, t);
        Put32(b, 0x54, e);
        return b;
    };
    EXPECT_EQ(title_of(with_type(marine, "Admiralty Marine"), "a.qct"), "Solent. Soundings in Metres");
    EXPECT_EQ(title_of(with_type(marine, "Hydrographic"), "a.qct"), "Solent. Soundings in Metres");
    EXPECT_EQ(title_of(with_type(marine, "Topographic"), "a.qct"), "Solent");
    EXPECT_EQ(title_of(with_type(with(base, {{0x14, "Solent"}}), "Nautical"), "a.qct"), "Solent");
}

TEST_F(QctHeader, OutlineCornersWrapAndDatumShift) {
    // No outline: corners clockwise from the top left, without datum shift.
    auto b = MakeSolidChart(4, 2);  // 256 x 128 px over lon -2..-1, lat 51..50
    std::string p = Path("corners.qct");
    ASSERT_TRUE(WriteBytes(p, b));
    {
        Opened o;
        OpenChart(p, o);
        ASSERT_TRUE(o.ok);
        CPolygon poly;
        ASSERT_TRUE(o.chart->getBoundaryPolygon(poly));
        ASSERT_EQ(poly.size(), 4u);
        EXPECT_NEAR(poly[0].x, -2, 1e-12);
        EXPECT_NEAR(poly[0].y, 51, 1e-12);
        EXPECT_NEAR(poly[1].x, -1, 1e-12);
        EXPECT_NEAR(poly[2].y, 50, 1e-12);
        EXPECT_NEAR(poly[3].x, -2, 1e-12);
        EXPECT_TRUE(o.chart->doesContain(50.5, -1.5));
        EXPECT_FALSE(o.chart->doesContain(50.5, -0.5));
    }
    // A chart across 180 degrees (centre 179.5 E) with an outline stored in -180..180 terms
    // and a datum shift.
    b = MakeSolidChart(4, 2);
    PutLinearGeoref(b, 256, 128, -16, -17, 179, 180);
    const double pts[4][2] = {{-16, 179}, {-16, -179.9}, {-17, -179.9}, {-17, 179}};
    const uint32_t at = Append(b, pts, sizeof pts);
    Put32(b, 0x58, 4);
    Put32(b, 0x5C, at);
    const double shift[2] = {0.001, -0.002};
    std::vector<uint8_t> ext(32, 0);
    Put32(ext, 4, Append(b, shift, sizeof shift));
    Put32(b, 0x54, Append(b, ext.data(), ext.size()));
    p = Path("wrap.qct");
    ASSERT_TRUE(WriteBytes(p, b));
    Opened o;
    OpenChart(p, o);
    ASSERT_TRUE(o.ok);
    ASSERT_TRUE(o.chart->HasDatumShift());
    CPolygon poly;
    o.chart->getBoundaryPolygon(poly);
    ASSERT_EQ(poly.size(), 4u);
    EXPECT_NEAR(poly[0].x, 179 - 0.002, 1e-12);
    EXPECT_NEAR(poly[1].x, 180.1 - 0.002, 1e-9);
    EXPECT_NEAR(poly[1].y, -16 + 0.001, 1e-12);
    EXPECT_TRUE(o.chart->doesContain(-16.5, 179.99));
    EXPECT_TRUE(o.chart->doesContain(-16.5, 180.05));
    // Every pixel is reported shifted; and shifted positions map back to the same pixel.
    double lat, lon;
    o.chart->xy_to_latlong(0, 0, lat, lon);
    EXPECT_NEAR(lat, -16 + 0.001, 1e-12);
    EXPECT_NEAR(lon, 179 - 0.002, 1e-12);
    double x, y;
    o.chart->latlong_to_xy(-16.5 + 0.001, -179.5 - 0.002, x, y);  // 180.5 E
    EXPECT_NEAR(x, 256 * 1.5, 1e-6);
    EXPECT_NEAR(y, 64, 1e-6);
}

TEST_F(QctHeader, SharedOpenGivesOneObjectUntilTheLastDestroy) {
    const std::string p = Path("shared.qct");
    ASSERT_TRUE(WriteBytes(p, MakeSolidChart(17, 3)));
    CQuickChart* first = nullptr;
    CQuickChart* second = nullptr;
    CQuickChart::Create(NV_HWND(), p, [&](CQuickChart* c, bool ok) {
        EXPECT_TRUE(ok);
        first = c;
    });
    CQuickChart::Create(NV_HWND(), p, [&](CQuickChart* c, bool ok) {
        EXPECT_TRUE(ok);
        second = c;
    });
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_EQ(CQuickChart::sharedQCTs().at(p).refs, 2);
    // Chunk numbering on a 17 x 3 tile grid: two chunk columns, one row.
    EXPECT_EQ(first->ChunkColumns(), 2);
    EXPECT_EQ(first->get_end_key_num(), 2);
    int cx, cy;
    first->get_chunk_xy(first->get_chunk_index(1, 0), cx, cy);
    EXPECT_EQ(cx, 1);
    EXPECT_EQ(cy, 0);
    first->Destroy();
    ASSERT_EQ(CQuickChart::sharedQCTs().count(p), 1u);
    EXPECT_TRUE(second->IsOpen());
    second->Destroy();
    EXPECT_EQ(CQuickChart::sharedQCTs().count(p), 0u);

    // A refused file gives the chart object (closed) to every caller.
    const std::string bad = Path("bad.qct");
    ASSERT_TRUE(WriteBytes(bad, MakeSolidChart(2, 2, 7)));
    CQuickChart* got = nullptr;
    CQuickChart::Create(NV_HWND(), bad, [&](CQuickChart* c, bool ok) {
        EXPECT_FALSE(ok);
        got = c;
    });
    ASSERT_NE(got, nullptr);
    EXPECT_FALSE(got->IsOpen());
    got->Close();  // harmless when repeated
    got->Destroy();
    EXPECT_EQ(CQuickChart::sharedQCTs().count(bad), 0u);
}

}  // namespace
