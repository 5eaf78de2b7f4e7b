// SPDX-License-Identifier: GPL-3.0-or-later
// From TopoJSON to a chart the reader opens: navora-tool basemap-render then qct-make on a
// tiny hand-written island, and the built-in charts of the build tree when they were made.
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "charts/qct.h"
#include "support/recording_ui.h"

namespace {

// The colours the renderer paints land and open sea with.
constexpr uint32_t kLand = 0xF3E3AE;
constexpr uint32_t kSea = 0xCFE6F5;

struct ToolRun {
    int exit_code = -1;
    QString output;  // stdout and stderr
};

ToolRun RunTool(const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(NAVORA_TOOL_PATH), args);
    ToolRun r;
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished();
        r.output = QStringLiteral("navora-tool did not finish");
        return r;
    }
    r.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
}

struct ChartDeleter {
    void operator()(CQuickChart* c) const { delete c; }
};
using ChartPtr = std::unique_ptr<CQuickChart, ChartDeleter>;

ChartPtr OpenChart(const QString& path) {
    CQuickChart* chart = nullptr;
    bool ok = false;
    CQuickChart::CreateNew(NV_HWND(), path.toStdString(), [&](CQuickChart* c, bool success) {
        chart = c;
        ok = success;
    });
    ChartPtr owned(chart);
    if (!ok) owned.reset();
    return owned;
}

// The chart's colour at a position, 0xRRGGBB; 0xFFFFFFFF when it cannot be read.
uint32_t ColourAt(CQuickChart& chart, double lat, double lon) {
    double x = 0, y = 0;
    chart.latlong_to_xy(lat, lon, x, y);
    if (x < 0 || y < 0 || x >= chart.Width() || y >= chart.Height()) return 0xFFFFFFFF;
    // Reads at full size go a whole tile at a time.
    const int px = static_cast<int>(x), py = static_cast<int>(y);
    const int tx = px / 64 * 64, ty = py / 64 * 64;
    std::vector<unsigned int> tile(64 * 64, 0);
    ThreadDataForRead td;
    if (chart.ReadRectRGB(tx, ty, 64, 64, 64, 0, tile.data(), &td) != 0) return 0xFFFFFFFF;
    return tile[static_cast<size_t>((py - ty) * 64 + (px - tx))] & 0xFFFFFF;
}

// Quantisation to the chart palette may move a colour slightly.
bool Near(uint32_t a, uint32_t b) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF)) > 6) return false;
    return true;
}

::testing::AssertionResult IsColour(CQuickChart& chart, double lat, double lon, uint32_t want) {
    const uint32_t got = ColourAt(chart, lat, lon);
    if (Near(got, want)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "at " << lat << "," << lon << " colour " << std::hex << got << ", want "
                                         << want;
}

// A square island 10..20 by 10..20 degrees with a square lake 14..16 in it, and a small
// islet in the lake; plus a second island across the 180 degree meridian.
const char* kIsland = R"({
  "type": "Topology",
  "arcs": [
    [[10,10],[20,10],[20,20],[10,20],[10,10]],
    [[14,14],[14,16],[16,16],[16,14],[14,14]],
    [[14.8,14.8],[15.2,14.8],[15.2,15.2],[14.8,15.2],[14.8,14.8]],
    [[178,-10],[-178,-10],[-178,-5],[178,-5],[178,-10]]
  ],
  "objects": {"land": {"type": "GeometryCollection", "geometries": [
    {"type": "MultiPolygon", "arcs": [[[0],[1]], [[2]]]},
    {"type": "Polygon", "arcs": [[3]]}
  ]}}
})";

class BasemapTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        topo = dir.filePath(QStringLiteral("island.json"));
        QFile f(topo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(kIsland);
    }
    QTemporaryDir dir;
    QString topo;
    RecordingUi ui;
};

TEST_F(BasemapTool, RenderedAndMadeChartShowsLandLakeAndSea) {
    const QString png = dir.filePath(QStringLiteral("island.png"));
    const QString qct = dir.filePath(QStringLiteral("island.qct"));
    const QStringList corners = {QStringLiteral("--north"), QStringLiteral("30"),     QStringLiteral("--south"),
                                 QStringLiteral("0"),       QStringLiteral("--west"), QStringLiteral("0"),
                                 QStringLiteral("--east"),  QStringLiteral("30")};
    ToolRun r = RunTool(QStringList{QStringLiteral("basemap-render"), topo, QStringLiteral("-o"), png,
                                    QStringLiteral("--width"), QStringLiteral("1200"), QStringLiteral("--height"),
                                    QStringLiteral("1200"), QStringLiteral("--title"), QStringLiteral("Test island"),
                                    QStringLiteral("--layers"), QStringLiteral("land")} +
                        corners);
    ASSERT_EQ(r.exit_code, 0) << r.output.toStdString();
    r = RunTool(QStringList{QStringLiteral("qct-make"), png, QStringLiteral("-o"), qct, QStringLiteral("--map-type"),
                            QStringLiteral("Basemap")} +
                corners);
    ASSERT_EQ(r.exit_code, 0) << r.output.toStdString();

    ChartPtr chart = OpenChart(qct);
    ASSERT_TRUE(chart);
    EXPECT_EQ(chart->GetMapType(), "Basemap");
    EXPECT_TRUE(IsColour(*chart, 12.3, 17.7, kLand));
    EXPECT_TRUE(IsColour(*chart, 17.7, 12.3, kLand));
    EXPECT_TRUE(IsColour(*chart, 14.4, 15.6, kSea));   // the lake
    EXPECT_TRUE(IsColour(*chart, 15.0, 15.0, kLand));  // the islet in the lake
    EXPECT_TRUE(IsColour(*chart, 7.7, 22.3, kSea));
    EXPECT_TRUE(IsColour(*chart, 22.3, 7.7, kSea));
}

TEST_F(BasemapTool, ChartAcrossTheDateLineDrawsBothHalvesOfTheIsland) {
    const QString png = dir.filePath(QStringLiteral("pacific.png"));
    const QString qct = dir.filePath(QStringLiteral("pacific.qct"));
    const QStringList corners = {QStringLiteral("--north"), QStringLiteral("0"),      QStringLiteral("--south"),
                                 QStringLiteral("-20"),     QStringLiteral("--west"), QStringLiteral("170"),
                                 QStringLiteral("--east"),  QStringLiteral("-170")};
    ToolRun r = RunTool(QStringList{QStringLiteral("basemap-render"), topo, QStringLiteral("-o"), png,
                                    QStringLiteral("--width"), QStringLiteral("400"), QStringLiteral("--height"),
                                    QStringLiteral("400"), QStringLiteral("--layers"), QStringLiteral("land")} +
                        corners);
    ASSERT_EQ(r.exit_code, 0) << r.output.toStdString();
    r = RunTool(QStringList{QStringLiteral("qct-make"), png, QStringLiteral("-o"), qct} + corners);
    ASSERT_EQ(r.exit_code, 0) << r.output.toStdString();
    ChartPtr chart = OpenChart(qct);
    ASSERT_TRUE(chart);
    EXPECT_TRUE(IsColour(*chart, -7.5, 179, kLand));
    EXPECT_TRUE(IsColour(*chart, -7.5, -179, kLand));  // converted as 181 by the chart
    EXPECT_TRUE(IsColour(*chart, -15, 179, kSea));
    EXPECT_TRUE(IsColour(*chart, -2, -179, kSea));
}

TEST_F(BasemapTool, BadArgumentsAndBadDataFailWithAMessage) {
    const QString png = dir.filePath(QStringLiteral("x.png"));
    const QString junk = dir.filePath(QStringLiteral("junk.json"));
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(
        "{\"type\":\"Topology\",\"arcs\":[[[0,0],[1,1]]],\"objects\":{\"land\":{\"type\":\"Polygon\",\"arcs\":[[5]]}}"
        "}");
    f.close();
    const QStringList good = {QStringLiteral("-o"),      png,
                              QStringLiteral("--north"), QStringLiteral("30"),
                              QStringLiteral("--south"), QStringLiteral("0"),
                              QStringLiteral("--west"),  QStringLiteral("0"),
                              QStringLiteral("--east"),  QStringLiteral("30"),
                              QStringLiteral("--width"), QStringLiteral("100"),
                              QStringLiteral("--height")};
    const struct {
        QStringList args;
        const char* message;
    } cases[] = {
        {QStringList{junk} + good + QStringList{QStringLiteral("100")}, "arc index"},
        {QStringList{dir.filePath(QStringLiteral("none.json"))} + good + QStringList{QStringLiteral("100")},
         "cannot read"},
        {QStringList{topo} + good + QStringList{QStringLiteral("0")}, "--width and --height"},
        {QStringList{topo} + good + QStringList{QStringLiteral("100000")}, "--width and --height"},
        {QStringList{topo} + good, "needs 1 value"},
        {QStringList{topo} + good +
             QStringList{QStringLiteral("100"), QStringLiteral("--layers"), QStringLiteral("land,rivers")},
         "unknown layer"},
        {QStringList{topo, QStringLiteral("-o"), png, QStringLiteral("--north"), QStringLiteral("10"),
                     QStringLiteral("--south"), QStringLiteral("20"), QStringLiteral("--west"), QStringLiteral("0"),
                     QStringLiteral("--east"), QStringLiteral("1"), QStringLiteral("--width"), QStringLiteral("100"),
                     QStringLiteral("--height"), QStringLiteral("100")},
         "north must lie above south"},
    };
    for (const auto& c : cases) {
        const ToolRun r = RunTool(QStringList{QStringLiteral("basemap-render")} + c.args);
        EXPECT_NE(r.exit_code, 0) << c.message;
        EXPECT_TRUE(r.output.contains(QLatin1String(c.message))) << c.message << ": " << r.output.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(png));
}

// The charts the build made. Skipped when they were not made (no npm, or no network).
class BuiltinCharts : public ::testing::Test {
protected:
    QString Path(const char* name) const { return QStringLiteral(NAVORA_BINARY_DIR "/builtin/") + QLatin1String(name); }
    RecordingUi ui;
};

TEST_F(BuiltinCharts, ShowLandAndSeaWhereTheyAreAndZoomInToRegions) {
    const char* names[] = {"world_basemap.qct", "azores.qct", "english_channel.qct", "lesser_antilles.qct"};
    for (const char* n : names)
        if (!QFileInfo::exists(Path(n))) GTEST_SKIP() << "built-in chart " << n << " was not made";

    ChartPtr world = OpenChart(Path("world_basemap.qct"));
    ASSERT_TRUE(world);
    EXPECT_EQ(world->GetMapType(), "Basemap");
    EXPECT_TRUE(IsColour(*world, 23.3, 13.3, kLand));    // Sahara
    EXPECT_TRUE(IsColour(*world, -24.7, 133.3, kLand));  // central Australia
    EXPECT_TRUE(IsColour(*world, -82.3, 43.3, kLand));   // Antarctica, by the pole
    EXPECT_TRUE(IsColour(*world, 66.3, 176.7, kLand));   // Chukotka, beside the 180 degree meridian
    EXPECT_TRUE(IsColour(*world, -4.7, -137.3, kSea));   // mid Pacific
    EXPECT_TRUE(IsColour(*world, 33.3, -43.3, kSea));    // mid Atlantic
    EXPECT_TRUE(IsColour(*world, 42.3, 51.3, kSea));     // the Caspian is water too

    // The default position lies on the Azores chart, which is far more detailed.
    ChartPtr azores = OpenChart(Path("azores.qct"));
    ASSERT_TRUE(azores);
    EXPECT_TRUE(azores->doesContain(43.04144, -31.7395));
    EXPECT_TRUE(IsColour(*azores, 38.72, -27.22, kLand));  // Terceira
    EXPECT_TRUE(IsColour(*azores, 38.45, -28.35, kLand));  // Pico
    EXPECT_TRUE(IsColour(*azores, 42.6, -31.3, kSea));
    EXPECT_LT(azores->get_scale(azores->Width() / 2.0, azores->Height() / 2.0) * 5,
              world->get_scale(world->Width() / 2.0, world->Height() / 2.0));

    ChartPtr channel = OpenChart(Path("english_channel.qct"));
    ASSERT_TRUE(channel);
    EXPECT_GT(channel->get_end_key_num(), 1);              // the chunked variant
    EXPECT_TRUE(IsColour(*channel, 50.68, -1.30, kLand));  // Isle of Wight
    EXPECT_TRUE(IsColour(*channel, 50.2, -0.8, kSea));     // mid Channel
    EXPECT_TRUE(IsColour(*channel, 48.8, 1.3, kLand));     // Normandy inland

    ChartPtr antilles = OpenChart(Path("lesser_antilles.qct"));
    ASSERT_TRUE(antilles);
    EXPECT_TRUE(IsColour(*antilles, 16.15, -61.68, kLand));  // Guadeloupe (Basse-Terre)
    EXPECT_TRUE(IsColour(*antilles, 15.2, -63.3, kSea));
}

}  // namespace
