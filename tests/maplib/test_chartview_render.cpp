// SPDX-License-Identifier: GPL-3.0-or-later
// Off-screen frames from a folder of charts: the chart the app would choose, fully drawn.

#include <algorithm>
#include <map>

#include "maplib/chartview_render.h"
#include "test_chartview_support.h"
#include "tests/support/recording_ui.h"

using namespace cvtest;

namespace {

class RenderView : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        CSelectMapTypes::Settings().show = {"Topo"};
        for (const TestChart& s : NestedCharts()) WriteChart(dir.path().toStdString(), s);
        request.chartsDir = dir.path().toStdString();
        request.width = 320;
        request.height = 240;
    }
    static std::string Name(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }
    // The colour of most pixels: the chart's own, grid lines and margins aside.
    static uint32_t MainColour(const QImage& img) {
        std::map<uint32_t, int> counts;
        for (int y = 0; y < img.height(); y += 3)
            for (int x = 0; x < img.width(); x += 3) ++counts[img.pixel(x, y) & 0xFFFFFF];
        return std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })
            ->first;
    }

    QTemporaryDir dir;
    RenderViewRequest request;
    RecordingUi ui;
};

TEST_F(RenderView, ChoosesTheChartForPlaceAndScale) {
    struct Case {
        double lat, lon, scale;
        const char* chart;
        uint32_t colour;
    } cases[] = {
        {50.0, 0.0, 0, "harbour.qct", 0xCC6633},        // most detailed at the place
        {50.0, 0.0, 0.25, "coastal.qct", 0x33CC66},     // nearest scale
        {50.0, 0.0, 2.0, "overview.qct", 0x3366CC},     // coarser than anything: the overview
        {50.6, -1.2, 0.05, "coastal.qct", 0x33CC66},    // off the harbour chart
        {47.0, -5.0, 0.001, "overview.qct", 0x3366CC},  // only the overview covers it
    };
    for (const Case& c : cases) {
        request.lat = c.lat;
        request.lon = c.lon;
        request.scale = c.scale;
        RenderViewResult r;
        std::string error;
        ASSERT_TRUE(RenderChartView(request, r, error)) << error;
        EXPECT_EQ(Name(r.chartPath), c.chart) << c.lat << "," << c.lon << " @" << c.scale;
        EXPECT_TRUE(r.complete);
        EXPECT_EQ(r.image.size(), QSize(320, 240));
        EXPECT_EQ(MainColour(r.image), c.colour) << c.chart;
    }
}

TEST_F(RenderView, ZoomLevelAndRefusals) {
    request.lat = 50.0;
    request.lon = 0.0;
    request.hasZoom = true;
    request.zoom = 3;
    RenderViewResult r;
    std::string error;
    ASSERT_TRUE(RenderChartView(request, r, error)) << error;
    EXPECT_EQ(Name(r.chartPath), "harbour.qct");
    EXPECT_EQ(r.zoom, 3);
    // At an eighth of its size the 512-pixel chart is 64 pixels across, in the middle.
    EXPECT_EQ(r.image.pixel(160 + 10, 120 + 10) & 0xFFFFFF, 0xCC6633u);
    EXPECT_NE(r.image.pixel(160 + 40, 120) & 0xFFFFFF, 0xCC6633u);

    request.hasZoom = false;
    request.lat = -40;
    EXPECT_FALSE(RenderChartView(request, r, error));
    EXPECT_NE(error.find("covers"), std::string::npos);
    request.lat = 50;
    request.width = 0;
    EXPECT_FALSE(RenderChartView(request, r, error));
    request.width = 100;
    request.chartsDir += "/nothing-here";
    EXPECT_FALSE(RenderChartView(request, r, error));
}

}  // namespace
