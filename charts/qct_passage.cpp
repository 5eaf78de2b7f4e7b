// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/qct_passage.h"

#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/threadcheck.h"

namespace {

constexpr int kChunk = qct::kChunkSide;
// From a chunk's centre to its corner: a chunk any part of which lies in the corridor
// has its centre no further than this outside it.
constexpr double kChunkHalfDiagonal = 725.0;
constexpr int kMaxRouteSamples = 5000;

double DistanceNm(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRad = M_PI / 180.0;
    const double dlat = (lat2 - lat1) * kRad, dlon = (lon2 - lon1) * kRad;
    const double a = std::sin(dlat / 2) * std::sin(dlat / 2) +
                     std::cos(lat1 * kRad) * std::cos(lat2 * kRad) * std::sin(dlon / 2) * std::sin(dlon / 2);
    return 2 * std::asin(std::min(1.0, std::sqrt(a))) * 180.0 / M_PI * 60.0;
}

}  // namespace

bool CorridorPixels(const CQuickChart* chart, const CPolyline& route, double width_nm, CPolyline& px, double& d_px) {
    px.Clear();
    double scale = 0;
    for (const Vertex& v : route.vertices) {
        double x = 0, y = 0;
        chart->latlong_to_xy(v.y, v.x, x, y);
        if (!std::isfinite(x) || !std::isfinite(y)) continue;
        px.Add(x, y);
        const double s = chart->get_scale(x, y);
        if (s > 0 && (scale == 0 || s < scale)) scale = s;
    }
    if (px.empty() || !(scale > 0)) return false;
    d_px = width_nm / 2.0 / scale + kChunkHalfDiagonal;
    return std::isfinite(d_px);
}

CPassagePreparer::CPassagePreparer(std::vector<std::string> chart_paths, CPolyline route, double width_nm,
                                   std::shared_ptr<CProgressDialogData> progress, bool download)
    : m_paths(std::move(chart_paths)),
      m_route(std::move(route)),
      m_width_nm(std::isfinite(width_nm) ? std::max(width_nm, 0.0) : 0.0),
      m_progress(progress ? std::move(progress) : std::make_shared<CProgressDialogData>()),
      m_download(download) {}

CPassagePreparer::~CPassagePreparer() {
    // A download in flight belongs to its chart and ends when the last reference goes.
    if (m_open) {
        if (auto* c3 = dynamic_cast<CQuickChart3*>(m_open)) c3->CancelDownload();
        m_open->Destroy();
    }
    for (CQuickChart* c : m_covering) c->Destroy();
}

void CPassagePreparer::Start(Done done) {
    NV_ASSERT_GUI_THREAD();
    m_done = std::move(done);
    m_next = 0;
    NextChart();
}

void CPassagePreparer::NextChart() {
    if (m_next >= m_paths.size() || m_progress->IsCancelled()) return Finish();
    const std::string path = m_paths[m_next++];
    std::weak_ptr<int> alive = m_alive;
    CQuickChart::Create(NV_HWND(), path, [this, alive](CQuickChart* chart, bool ok) {
        if (alive.expired()) {
            if (chart) chart->Destroy();
            return;
        }
        // From the event loop: the open may have reported before Create returned.
        QTimer::singleShot(0, [this, alive, chart, ok] {
            if (alive.expired()) {
                if (chart) chart->Destroy();
                return;
            }
            OnChartOpen(chart, ok);
        });
    });
}

void CPassagePreparer::OnChartOpen(CQuickChart* chart, bool ok) {
    if (!chart || !ok) {
        if (chart) chart->Destroy();
        return NextChart();
    }
    CPolyline px;
    double d_px = 0;
    CPassageChartReport r;
    r.path = chart->Path();
    r.title = chart->GetTitle();
    r.chunked = (chart->Version() >> 24) != 0;
    bool touches = false;
    if (CorridorPixels(chart, m_route, m_width_nm, px, d_px)) {
        const int cols = chart->ChunkColumns(), rows = chart->ChunkRows();
        for (int row = 0; row < rows && !touches; ++row)
            for (int col = 0; col < cols && !touches; ++col)
                touches = DistanceToPolyline(px, col * double(kChunk) + kChunk / 2, row * double(kChunk) + kChunk / 2) <
                          d_px;
    }
    if (!touches) {
        chart->Destroy();
        return NextChart();
    }
    m_open = chart;
    m_current = r;
    auto* c3 = dynamic_cast<CQuickChart3*>(chart);
    if (!c3 || !m_download) {
        CChunkDownloadReport nothing;
        return OnDownloaded(nothing);
    }
    std::weak_ptr<int> alive = m_alive;
    c3->DownloadRouteInPixels(px, d_px, m_progress, [this, alive](const CChunkDownloadReport& report) {
        if (alive.expired()) return;
        OnDownloaded(report);
    });
}

void CPassagePreparer::OnDownloaded(const CChunkDownloadReport& report) {
    CQuickChart* chart = m_open;
    m_open = nullptr;
    m_current.download = report;
    if (report.cancelled) m_report.cancelled = true;
    Measure(chart, m_current);
    m_report.needed += m_current.needed;
    m_report.present += m_current.present;
    m_report.missing += m_current.missing;
    m_report.charts.push_back(std::move(m_current));
    m_current = CPassageChartReport();
    m_covering.push_back(chart);  // kept open for the route check at the end
    if (m_report.cancelled) return Finish();
    NextChart();
}

void CPassagePreparer::Measure(CQuickChart* chart, CPassageChartReport& r) {
    CPolyline px;
    double d_px = 0;
    if (!CorridorPixels(chart, m_route, m_width_nm, px, d_px)) return;
    const CBounds b = px.GetBounds();
    const int cols = chart->ChunkColumns(), rows = chart->ChunkRows();
    r.c0 = std::clamp(int(std::floor((b.xmin - d_px) / kChunk)), 0, std::max(cols - 1, 0));
    r.r0 = std::clamp(int(std::floor((b.ymin - d_px) / kChunk)), 0, std::max(rows - 1, 0));
    const int c1 = std::clamp(int(std::floor((b.xmax + d_px) / kChunk)), 0, std::max(cols - 1, 0));
    const int r1 = std::clamp(int(std::floor((b.ymax + d_px) / kChunk)), 0, std::max(rows - 1, 0));
    r.cols = c1 - r.c0 + 1;
    r.rows = r1 - r.r0 + 1;
    r.cells.assign(size_t(r.rows) * size_t(r.cols), 0);
    auto* c3 = dynamic_cast<CQuickChart3*>(chart);
    CQuickChart::CChunkFile* file = c3 ? c3->ChunkFile() : nullptr;
    for (int row = r.r0; row <= r1; ++row) {
        int run_start = -1;
        auto close_run = [&](int end_col) {
            if (run_start < 0) return;
            CPolygon area;
            const double x0 = run_start * double(kChunk), x1 = (end_col + 1) * double(kChunk);
            const double y0 = row * double(kChunk), y1 = (row + 1) * double(kChunk);
            for (const auto& [x, y] : {std::pair{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}) {
                double lat = 0, lon = 0;
                chart->xy_to_latlong(x, y, lat, lon);
                area.Add(lon, lat);
            }
            r.missing_areas.push_back(std::move(area));
            run_start = -1;
        };
        for (int col = r.c0; col <= c1; ++col) {
            const bool in = DistanceToPolyline(px, col * double(kChunk) + kChunk / 2,
                                               row * double(kChunk) + kChunk / 2) < d_px;
            uint8_t cell = 0;
            if (in) {
                ++r.needed;
                const bool here = !r.chunked || (file && file->ChunkIsFullyDownloaded(row, col));
                cell = here ? 1 : 2;
                if (here)
                    ++r.present;
                else
                    ++r.missing;
            }
            r.cells[size_t(row - r.r0) * size_t(r.cols) + size_t(col - r.c0)] = cell;
            if (cell == 2) {
                if (run_start < 0) run_start = col;
            } else {
                close_run(col - 1);
            }
        }
        close_run(c1);
    }
}

void CPassagePreparer::Finish() {
    // Walk the route and see what shows each point offline.
    const double step = std::max(m_width_nm / 10.0, 0.01);
    std::vector<DblPoint> samples;
    for (size_t i = 0; i < m_route.size(); ++i) {
        const Vertex& a = m_route[i];
        if (i + 1 == m_route.size()) {
            samples.emplace_back(a.x, a.y);
            break;
        }
        const Vertex& b = m_route[i + 1];
        const double len = DistanceNm(a.y, a.x, b.y, b.x);
        const int n = std::clamp(int(std::ceil(len / step)), 1, kMaxRouteSamples);
        for (int k = 0; k < n && samples.size() < size_t(kMaxRouteSamples); ++k) {
            const double t = double(k) / n;
            samples.emplace_back(a.x + t * (b.x - a.x), a.y + t * (b.y - a.y));
        }
    }
    m_report.route_samples = int(samples.size());
    int gap_start = -1;
    for (size_t i = 0; i <= samples.size(); ++i) {
        bool covered = false, offline = false;
        if (i < samples.size()) {
            const DblPoint& p = samples[i];
            for (CQuickChart* chart : m_covering) {
                if (!chart->doesContain(p.y, p.x)) continue;
                covered = true;
                auto* c3 = dynamic_cast<CQuickChart3*>(chart);
                if (!c3) {
                    offline = true;
                    break;
                }
                double x = 0, y = 0;
                chart->latlong_to_xy(p.y, p.x, x, y);
                if (c3->ChunkFile() && c3->ChunkFile()->ChunkIsFullyDownloaded(int(y) / kChunk, int(x) / kChunk)) {
                    offline = true;
                    break;
                }
            }
            if (offline) ++m_report.route_samples_offline;
        }
        if (!covered && i < samples.size()) {
            if (gap_start < 0) gap_start = int(i);
        } else if (gap_start >= 0) {
            m_report.uncovered.emplace_back(samples[size_t(gap_start)], samples[i - 1]);
            gap_start = -1;
        }
    }
    m_report.ready = !m_report.cancelled && m_report.missing == 0 && m_report.uncovered.empty() &&
                     !m_report.charts.empty() && m_report.route_samples_offline == m_report.route_samples;

    char text[512];
    if (m_report.cancelled) {
        std::snprintf(text, sizeof text, "Preparation was cancelled: %d of %d chart sections along the route are on this device.",
                      m_report.present, m_report.needed);
    } else if (m_report.charts.empty()) {
        std::snprintf(text, sizeof text, "No chart on this device covers the route.");
    } else if (m_report.ready) {
        std::snprintf(text, sizeof text, "Ready: all %d chart sections along the route are on this device (%zu charts).",
                      m_report.needed, m_report.charts.size());
    } else {
        std::string s;
        if (m_report.missing > 0) {
            s = std::to_string(m_report.missing) + " of " + std::to_string(m_report.needed) +
                " chart sections along the route are still missing";
            std::string which;
            for (const auto& c : m_report.charts)
                if (c.missing > 0) which += (which.empty() ? "" : ", ") + c.title + " (" + std::to_string(c.missing) + ")";
            s += ": " + which + ".";
        }
        if (!m_report.uncovered.empty()) {
            double nm = 0;
            for (const auto& [a, b] : m_report.uncovered) nm += DistanceNm(a.y, a.x, b.y, b.x) + step;
            char gap[160];
            std::snprintf(gap, sizeof gap, "%sAbout %.1f nm of the route (%zu stretches) is covered by no chart.",
                          s.empty() ? "" : " ", nm, m_report.uncovered.size());
            s += gap;
        }
        if (s.empty()) s = "Parts of the route are not shown in full detail offline.";
        std::snprintf(text, sizeof text, "%s", s.c_str());
    }
    m_report.summary = text;
    m_progress->SetDone();
    if (m_done) {
        Done done = m_done;
        const CPassageReport report = m_report;
        QTimer::singleShot(0, [done, report] { done(report); });
    }
}
