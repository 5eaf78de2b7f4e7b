// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Passage readiness: before leaving harbour, fetch every chart's chunks along a route's
// corridor at full detail, then say per chart what is on the device and what is still
// missing, and where along the route no offline chart covers the water at all.
//
// GUI thread: it opens the charts through the shared-open table and runs their bulk
// route downloads one chart after the other.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "charts/qct_download.h"
#include "core/geometry.h"
#include "core/uiservices.h"

// A corridor of `width_nm` (full width) along a latitude/longitude route (x = longitude),
// in the chart's pixels: the route, and how near a chunk centre must lie to it for some
// part of the chunk to lie in the corridor. False when the route misses the chart's
// projection or the chart has no scale.
bool CorridorPixels(const CQuickChart* chart, const CPolyline& route, double width_nm, CPolyline& px, double& d_px);

// One chart that the corridor touches.
struct CPassageChartReport {
    std::string path;
    std::string title;
    bool chunked = false;
    // Chunks of the corridor (for single-file charts all of them count as present).
    int needed = 0;
    int present = 0;
    int missing = 0;
    CChunkDownloadReport download;  // what the download did (chunked charts)
    // Chunk grid of the corridor's box, row by row from (r0, c0): 0 outside the corridor,
    // 1 on the device, 2 missing. For colouring a map of the corridor.
    int r0 = 0, c0 = 0, rows = 0, cols = 0;
    std::vector<uint8_t> cells;
    // Latitude/longitude outlines of the missing chunks, neighbours in a row merged.
    std::vector<CPolygon> missing_areas;
};

struct CPassageReport {
    std::vector<CPassageChartReport> charts;
    int needed = 0, present = 0, missing = 0;
    // Points along the route (about one per tenth of the corridor width) and whether a
    // chart on the device shows each at full detail.
    int route_samples = 0;
    int route_samples_offline = 0;
    // Stretches of the route no chart covers at all, each as (latitude, longitude) ends.
    std::vector<std::pair<DblPoint, DblPoint>> uncovered;
    bool ready = false;  // every corridor chunk is here and the route is covered throughout
    bool cancelled = false;
    std::string summary;  // one or two plain sentences for the user
};

class CPassagePreparer {
public:
    using Done = std::function<void(const CPassageReport&)>;

    // `route`: latitude/longitude vertices (x = longitude); `width_nm`: the corridor's
    // full width. `download` false only reports what is there.
    CPassagePreparer(std::vector<std::string> chart_paths, CPolyline route, double width_nm,
                     std::shared_ptr<CProgressDialogData> progress, bool download = true);
    ~CPassagePreparer();
    CPassagePreparer(const CPassagePreparer&) = delete;
    CPassagePreparer& operator=(const CPassagePreparer&) = delete;

    void Start(Done done);

private:
    void NextChart();
    void OnChartOpen(CQuickChart* chart, bool ok);
    void OnDownloaded(const CChunkDownloadReport& report);
    void Measure(CQuickChart* chart, CPassageChartReport& r);
    void Finish();

    std::vector<std::string> m_paths;
    size_t m_next = 0;
    CPolyline m_route;
    double m_width_nm;
    std::shared_ptr<CProgressDialogData> m_progress;
    bool m_download;
    Done m_done;
    CQuickChart* m_open = nullptr;  // the chart being worked on (one reference held)
    CPassageChartReport m_current;
    CPassageReport m_report;
    std::vector<CQuickChart*> m_covering;  // every chart seen, for the route check; references held
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};
