// SPDX-License-Identifier: GPL-3.0-or-later
// Off-screen frames from a folder of charts: the chart the app would choose, fully drawn
// (what they look like is in the golden images), and the requests that are refused.

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

    QTemporaryDir dir;
    RenderViewRequest request;
    RecordingUi ui;
};

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
