// SPDX-License-Identifier: GPL-3.0-or-later
// The cached renderer drawn into images, both chart variants: finished frames against the
// pixel reader, the fill-in from neighbouring zooms while squares are decoded, recycling,
// bounded memory while panning, and charts whose chunks are partly missing.
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "charts/cached_chart.h"
#include "charts/qct.h"
#include "charts/qct_writer.h"
#include "online/onlinesettings.h"
#include "test_qct_helpers.h"
#include "support/recording_ui.h"

namespace {

using namespace std::chrono_literals;
constexpr uint32_t kSentinel = 0xFF123456u;

// Chart-like content with enough noise that a misplaced or stale pixel shows.
std::vector<uint8_t> Picture(int w, int h) {
    return qcttest::NoisyPicture(w, h, {777, 29, 12, 47, 9, 41, 40, 30});
}

std::vector<uint32_t> Palette() {
    return qcttest::Palette128();
}

class CachedChart : public ::testing::TestWithParam<bool> {
protected:
    bool Chunked() const { return GetParam(); }

    std::string MakeChart(int w, int h, std::function<ChunkPlan(int, int)> plan = {}) {
        CQctWriter writer;
        writer.SetIndexedImage(w, h, Picture(w, h), Palette());
        writer.SetGeorefFromCorners(51, 50, -2, -1);
        if (plan) writer.SetChunkPlan(plan);
        const std::string path = dir.path().toStdString() + "/chart" + std::to_string(++made) + ".qct";
        const bool ok = Chunked() ? writer.WriteChunked(path) : writer.WriteSingleFile(path);
        EXPECT_TRUE(ok) << writer.Error();
        return path;
    }

    void Open(CCachedQuickChart& r, const std::string& path) {
        bool called = false, ok = false;
        r.Open(NV_HWND(), path.c_str(), [&](bool result) {
            called = true;
            ok = result;
        });
        ASSERT_TRUE(called && ok) << path;
    }

    // One frame into `img`, painted over the sentinel colour.
    void DrawFrame(CCachedQuickChart& r, QImage& img, const FRect& rect, FPoint origin, int zoom) {
        r.Update(rect, origin, zoom);
        img.fill(kSentinel);
        QPainter p(&img);
        bool flag = true;
        EXPECT_EQ(r.Draw(&p, rect, origin, zoom, flag), 1);
        EXPECT_FALSE(flag);
    }

    // Draws, and after each frame waits for the renderer to say that more is ready, until
    // a frame comes out complete.
    bool DrawUntilComplete(CCachedQuickChart& r, QImage& img, const FRect& rect, FPoint origin, int zoom) {
        const auto end = std::chrono::steady_clock::now() + 60s;
        for (;;) {
            DrawFrame(r, img, rect, origin, zoom);
            if (r.LastFrameComplete()) return true;
            while (!r.TimerCallback()) {
                if (std::chrono::steady_clock::now() > end) return false;
                std::this_thread::sleep_for(1ms);
            }
        }
    }

    // What the frame must show: the grid of squares read in one piece, then cut to the rect.
    static QImage Reference(CQuickChart* chart, QSize size, const FRect& rect, FPoint origin, int zoom) {
        const double s = std::ldexp(1.0, -zoom);
        const double left = origin.x * s, top = origin.y * s;
        const int r0 = int(std::floor(top / 256)), c0 = int(std::floor(left / 256));
        const int R = int(std::floor((top + rect.Height() - 1) / 256)) - r0 + 1;
        const int C = int(std::floor((left + rect.Width() - 1) / 256)) - c0 + 1;
        const int bw = C * 256, bh = R * 256;
        std::vector<unsigned int> big(size_t(bw) * bh);
        ThreadDataForRead td;
        const int px = zoom >= 0 ? c0 * 256 * (1 << zoom) : c0 * 256 / (1 << -zoom);
        const int py = zoom >= 0 ? r0 * 256 * (1 << zoom) : r0 * 256 / (1 << -zoom);
        EXPECT_EQ(chart->ReadRectRGB(px, py, bw, bh, bw, zoom, big.data(), &td), 0);
        QImage img(size, QImage::Format_RGB32);
        img.fill(kSentinel);
        const int ox = int(left) - c0 * 256, oy = int(top) - r0 * 256;
        for (int j = 0; j < int(rect.Height()); ++j) {
            auto* line = reinterpret_cast<uint32_t*>(img.scanLine(int(rect.top) + j)) + int(rect.left);
            for (int i = 0; i < int(rect.Width()); ++i) line[i] = 0xFF000000u | big[size_t(oy + j) * bw + ox + i];
        }
        return img;
    }

    static int DifferentPixels(const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < a.height(); ++y) {
            const auto* la = reinterpret_cast<const uint32_t*>(a.constScanLine(y));
            const auto* lb = reinterpret_cast<const uint32_t*>(b.constScanLine(y));
            for (int x = 0; x < a.width(); ++x) n += (la[x] | 0xFF000000u) != (lb[x] | 0xFF000000u);
        }
        return n;
    }

    QTemporaryDir dir;
    int made = 0;
};

INSTANTIATE_TEST_SUITE_P(Variants, CachedChart, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Chunked" : "SingleFile"; });

}  // namespace

TEST_P(CachedChart, FinishedFramesEqualThePixelReaderAtEveryZoom) {
    CCachedQuickChart r;
    Open(r, MakeChart(1500, 1150));
    QImage img(640, 420, QImage::Format_RGB32);
    const FRect rect(13, 7, 13 + 600, 7 + 400);  // not on square boundaries, inside a bigger image
    for (int zoom = -2; zoom <= 3; ++zoom) {
        // Origins whose zoomed position is whole but not square-aligned; the last zoom also
        // looks past the chart's right and bottom edges.
        const FPoint origin(zoom > 0 ? 8.0 * (37 << (zoom - 1)) : 301, zoom > 0 ? 8.0 * 29 : 173);
        ASSERT_TRUE(DrawUntilComplete(r, img, rect, origin, zoom)) << "zoom " << zoom;
        const QImage want = Reference(r.Chart(), img.size(), rect, origin, zoom);
        EXPECT_EQ(DifferentPixels(img, want), 0) << "zoom " << zoom;  // outside the rect included
        // A repaint with nothing new paints the same thing and asks for nothing.
        DrawFrame(r, img, rect, origin, zoom);
        EXPECT_TRUE(r.LastFrameComplete());
        EXPECT_EQ(DifferentPixels(img, want), 0) << "zoom " << zoom;
        EXPECT_TRUE(r.QueuedSquares().empty());
    }
}

TEST_P(CachedChart, FirstDrawQueuesTheGridAndLaterZoomsRecycleStaleRequests) {
    CCachedQuickChart r;
    Open(r, MakeChart(1200, 1000));
    r.SetWorkerPaused(true);
    QImage img(1000, 700, QImage::Format_RGB32);
    const FRect rect(0, 0, 1000, 700);
    DrawFrame(r, img, rect, FPoint(0, 0), 0);
    EXPECT_EQ(r.Map().R, 3);
    EXPECT_EQ(r.Map().C, 4);
    EXPECT_EQ(r.SquareCount(), 36);
    EXPECT_FALSE(r.LastFrameComplete());
    EXPECT_EQ(img.pixel(500, 350), kSentinel);  // nothing to paint yet
    auto queued = r.QueuedSquares();
    ASSERT_EQ(queued.size(), 12u);
    // Decoding goes chunk by chunk, so the queue is in chunk order: rows of 1024 first.
    for (const auto& q : queued) EXPECT_EQ(q.zoom, 0);
    EXPECT_EQ(queued.front().x, 0);
    EXPECT_EQ(queued.back().y, 512);

    // The same view again asks for nothing twice; the list is topped up past what is queued.
    DrawFrame(r, img, rect, FPoint(0, 0), 0);
    EXPECT_EQ(r.QueuedSquares().size(), 12u);
    EXPECT_EQ(r.SquareCount(), 48);
    EXPECT_EQ(r.DibListSize(), 36);

    // Now at zoom 2 the zoom-0 requests are useless: they come back and are reused.
    DrawFrame(r, img, rect, FPoint(0, 0), 2);
    queued = r.QueuedSquares();
    EXPECT_EQ(queued.size(), 12u);
    for (const auto& q : queued) EXPECT_EQ(q.zoom, 2);
    EXPECT_EQ(r.SquareCount(), 48);

    r.SetWorkerPaused(false);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(0, 0), 2));
    EXPECT_EQ(DifferentPixels(img, Reference(r.Chart(), img.size(), rect, FPoint(0, 0), 2)), 0);
    EXPECT_EQ(r.SquareCount(), 48);
}

// Draw paints what Update placed and nothing else: it neither collects finished squares
// nor asks for missing ones, so it may run on another thread (the scene graph's) while
// the GUI thread updates.
TEST_P(CachedChart, DrawOnlyPaintsWhatUpdatePlaced) {
    CCachedQuickChart r;
    Open(r, MakeChart(1500, 1100));
    QImage img(600, 400, QImage::Format_RGB32);
    const FRect rect(0, 0, 600, 400);
    r.Update(rect, FPoint(0, 0), 0);
    const size_t queued = r.QueuedSquares().size();
    ASSERT_GT(queued, 0u);
    ASSERT_TRUE(r.WaitForProcessed(10000));
    for (int i = 0; i < 3; ++i) {
        img.fill(kSentinel);
        QPainter p(&img);
        bool flag = false;
        r.Draw(&p, rect, FPoint(0, 0), 0, flag);
    }
    EXPECT_EQ(img.pixel(10, 10), kSentinel);  // decoded, but not collected by Draw
    EXPECT_LE(r.QueuedSquares().size(), queued);
    EXPECT_FALSE(r.LastFrameComplete());

    std::atomic<bool> stop{false};
    std::thread painter([&] {
        QImage own(600, 400, QImage::Format_RGB32);
        while (!stop.load()) {
            QPainter p(&own);
            bool flag = false;
            r.Draw(&p, rect, FPoint(0, 0), 0, flag);
        }
    });
    for (int frame = 0; frame < 200; ++frame) {
        r.Update(rect, FPoint(frame * 7 % 900, frame * 3 % 700), frame / 50 % 2);
        std::this_thread::sleep_for(1ms);
    }
    stop = true;
    painter.join();
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(300, 200), 0));
    EXPECT_EQ(DifferentPixels(img, Reference(r.Chart(), img.size(), rect, FPoint(300, 200), 0)), 0);
}

TEST_P(CachedChart, ZoomChangesKeepPaintingFromTheNeighbouringZoom) {
    CCachedQuickChart r;
    Open(r, MakeChart(1400, 1100));
    QImage img(520, 400, QImage::Format_RGB32);
    const FRect rect(0, 0, 520, 400);
    const FPoint origin(256, 256);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, origin, 0));
    const QImage z0 = img.copy();
    r.SetWorkerPaused(true);

    // Zoom in: every cell comes from a zoom-0 square doubled, which is exactly what the
    // magnified reader gives.
    DrawFrame(r, img, rect, origin, -1);
    EXPECT_FALSE(r.LastFrameComplete());
    EXPECT_EQ(DifferentPixels(img, Reference(r.Chart(), img.size(), rect, origin, -1)), 0);

    // Zoom out: the zoom-0 squares (columns 1-3, rows 1-2) now fill quarter-size areas;
    // every covered pixel is one of the 2 x 2 pixels it stands for, nothing else is painted.
    DrawFrame(r, img, rect, origin, 1);
    int covered = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const uint32_t got = img.pixel(x, y);
            if (got == kSentinel) continue;
            ++covered;
            ASSERT_TRUE(x < 384 && y < 256) << x << "," << y;
            if (x >= 260 || y >= 200) continue;  // beyond what the zoom-0 frame showed
            bool found = false;
            for (int dy = 0; dy < 2; ++dy)
                for (int dx = 0; dx < 2; ++dx) found = found || z0.pixel(2 * x + dx, 2 * y + dy) == got;
            ASSERT_TRUE(found) << x << "," << y;
        }
    EXPECT_EQ(covered, 384 * 256);

    // Zoom 1 finished, then back to zoom 0 somewhere no zoom-0 square was ever made: the
    // zoom-1 squares are shown doubled.
    r.SetWorkerPaused(false);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, origin, 1));
    r.SetWorkerPaused(true);
    QImage area(512, 512, QImage::Format_RGB32);
    const FRect area_rect(0, 0, 512, 512);
    const FPoint area_origin(1024, 768);
    DrawFrame(r, area, area_rect, area_origin, 0);
    EXPECT_FALSE(r.LastFrameComplete());
    std::vector<unsigned int> z1(256 * 256);
    ThreadDataForRead td;
    ASSERT_EQ(r.Chart()->ReadRectRGB(1024, 768, 256, 256, 256, 1, z1.data(), &td), 0);
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 512; ++x)
            ASSERT_EQ(area.pixel(x, y), 0xFF000000u | z1[size_t(y / 2) * 256 + x / 2]) << x << "," << y;
    r.SetWorkerPaused(false);
    ASSERT_TRUE(DrawUntilComplete(r, area, area_rect, area_origin, 0));
    EXPECT_EQ(DifferentPixels(area, Reference(r.Chart(), area.size(), area_rect, area_origin, 0)), 0);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, origin, 0));
    EXPECT_EQ(DifferentPixels(img, z0), 0);
}

TEST_P(CachedChart, PanningForThousandsOfFramesKeepsTheSquareCountBounded) {
    CCachedQuickChart r;
    Open(r, MakeChart(3000, 2600));
    QImage img(600, 450, QImage::Format_RGB32);
    const FRect rect(0, 0, 600, 450);
    int cells = 0, most = 0;
    for (int frame = 0; frame < 3000; ++frame) {
        // Wander over the chart and a little past its edges, zooming now and then.
        const double t = frame * 0.01;
        const FPoint origin(1200 + 1400 * std::sin(t), 1000 + 1200 * std::cos(1.3 * t));
        const int zoom = (frame / 400) % 3 - 1;
        DrawFrame(r, img, rect, origin, zoom);
        cells = std::max(cells, r.Map().R * r.Map().C);
        most = std::max(most, r.SquareCount());
        if (frame % 50 == 0) std::this_thread::sleep_for(2ms);
    }
    // The list holds three screens of squares; at most one more screen is queued, plus
    // the ones the threads hold.
    EXPECT_LE(most, 4 * cells + 8);
    const FPoint origin(700, 500);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, origin, 0));
    EXPECT_EQ(DifferentPixels(img, Reference(r.Chart(), img.size(), rect, origin, 0)), 0);
    EXPECT_LE(r.SquareCount(), 4 * cells + 8);
}

TEST_P(CachedChart, ClosingAndInvalidatingMidWorkIsSafeAndStartsAfresh) {
    RecordingUi ui;
    CCachedQuickChart r;
    QImage img(300, 300, QImage::Format_RGB32);
    const FRect rect(0, 0, 300, 300);
    bool flag = true;
    {
        // No chart: white, and 0.
        img.fill(kSentinel);
        QPainter p(&img);
        EXPECT_EQ(r.Draw(&p, rect, FPoint(0, 0), 0, flag), 0);
        EXPECT_FALSE(flag);
    }
    EXPECT_EQ(img.pixel(150, 150), 0xFFFFFFFFu);
    EXPECT_EQ(r.getQCTScaleAtCenter(), 0.0);
    EXPECT_FALSE(r.CurrentChartDoesContain(50.5, -1.5));
    EXPECT_FALSE(r.TimerCallback());

    bool result = true;
    r.Open(NV_HWND(), (dir.path() + "/missing.qct").toStdString().c_str(), [&](bool ok) { result = ok; });
    EXPECT_FALSE(result);
    EXPECT_FALSE(r.IsOpen());

    const std::string path = MakeChart(1500, 1100);
    Open(r, path);
    EXPECT_TRUE(r.CurrentChartDoesContain(50.5, -1.5));

    // Work in flight when everything is thrown away.
    DrawFrame(r, img, rect, FPoint(0, 0), 0);
    r.InvalidateAllDibs();
    EXPECT_EQ(r.SquareCount(), 0);
    EXPECT_TRUE(r.TimerCallback());  // the owner is asked to repaint
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(0, 0), 0));
    DrawFrame(r, img, rect, FPoint(600, 600), -2);
    r.Close();
    EXPECT_FALSE(r.IsOpen());
    EXPECT_EQ(r.SquareCount(), 0);
    Open(r, path);  // the same chart again, through the shared table
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(0, 0), 0));

    // Impossible views draw nothing harmful.
    QPainter p(&img);
    EXPECT_EQ(r.Draw(&p, rect, FPoint(std::nan(""), 0), 0, flag), 1);
    EXPECT_EQ(r.Draw(&p, rect, FPoint(1e300, -1e300), 0, flag), 1);
    EXPECT_EQ(r.Draw(&p, rect, FPoint(0, 0), 1000, flag), 1);
    EXPECT_EQ(r.Draw(&p, rect, FPoint(0, 0), -1000, flag), 1);
    EXPECT_EQ(r.Draw(&p, FRect(0, 0, 0, 0), FPoint(0, 0), 0, flag), 1);
    EXPECT_EQ(r.Draw(&p, FRect(0, 0, 1e7, 1e7), FPoint(0, 0), 0, flag), 1);
    EXPECT_EQ(r.Draw(nullptr, rect, FPoint(-5000, -5000), 0, flag), 1);
    p.end();
    EXPECT_TRUE(ui.messages.empty());
}

// Placement rules of one Draw, directly on the grids.
TEST(CachedChartMap, TheSmallerShortfallWinsACellAndNeighbouringZoomsFillIn) {
    using Sq = CCachedQuickChart::DIB_square;
    CCachedQuickChart::square_map m;
    m.Setup(300, 100, 1000, 700, 0);  // rows 0..3, columns 1..5
    EXPECT_EQ(m.r0, 0);
    EXPECT_EQ(m.c0, 1);
    EXPECT_EQ(m.R, 4);
    EXPECT_EQ(m.C, 5);
    auto make = [](double x, double y, int zoom, int shortfall) {
        Sq s;
        s.x = x;
        s.y = y;
        s.zoom = zoom;
        s.shortfall = shortfall;
        return s;
    };
    Sq a = make(512, 256, 0, 2), b = make(512, 256, 0, 1), c = make(512, 256, 0, 1), d = make(512, 256, 0, 3);
    bool placed = false;
    EXPECT_EQ(m.Place(&a, placed), nullptr);
    EXPECT_TRUE(placed);
    EXPECT_EQ(m.Place(&b, placed), &a);  // less missing detail: takes the cell
    EXPECT_TRUE(placed);
    EXPECT_EQ(m.Place(&c, placed), &c);  // a tie keeps the one already there
    EXPECT_FALSE(placed);
    EXPECT_EQ(m.Place(&d, placed), &d);
    EXPECT_EQ(m.current[size_t(m.CellAt(1, 2))], &b);

    Sq outside = make(256 * 9, 0, 0, 0), invalid = make(512, 512, CCachedQuickChart::kInvalidZoom, 0);
    EXPECT_EQ(m.Place(&outside, placed), nullptr);
    EXPECT_FALSE(placed);
    EXPECT_EQ(m.Place(&invalid, placed), nullptr);
    EXPECT_FALSE(placed);
    EXPECT_EQ(m.current[size_t(m.CellAt(2, 2))], nullptr);

    // Zoom 1 square (row 0, column 1) covers rows 0-1, columns 2-3; zoom -1 square (row 3,
    // column 4) is the bottom-left quarter of cell (1, 2).
    Sq coarse = make(256, 0, 1, 0), fine = make(1024, 768, -1, 0), far = make(0, 256 * 20, -1, 0);
    m.Place(&coarse, placed);
    m.Place(&fine, placed);
    m.Place(&far, placed);
    EXPECT_FALSE(placed);
    EXPECT_EQ(m.coarser[size_t(0 - m.cr0) * m.CC + (1 - m.cc0)], &coarse);
    EXPECT_EQ(m.finer[size_t(3) * (2 * m.C) + (4 - 2 * m.c0)], &fine);
    int filled = 0;
    for (auto* f : m.finer) filled += f != nullptr;
    EXPECT_EQ(filled, 1);

    // Negative positions (left of and above the chart) round down, not towards zero.
    m.Setup(-300, -10, 100, 100, 0);
    EXPECT_EQ(m.c0, -2);
    EXPECT_EQ(m.r0, -1);
    EXPECT_EQ(m.C, 2);  // -300 .. -201 reaches into column -1
    EXPECT_EQ(m.R, 2);
    EXPECT_EQ(m.cc0, -1);
    EXPECT_EQ(m.cr0, -1);
    Sq neg = make(-512, -256, 0, 0);
    EXPECT_EQ(neg.ChunkKey(), -65537);  // chunk row -1, column -1: before every real chunk
    EXPECT_EQ(make(256 * 9, 256 * 5, 0, 0).ChunkKey(), 1 << 16 | 2);
    EXPECT_EQ(make(256 * 9, 256 * 5, -2, 0).ChunkKey(), 0);
    EXPECT_EQ(make(256 * 9, 256 * 5, 2, 0).ChunkKey(), 5 << 16 | 9);
}

namespace {

// Chunked chart of 3 x 2 chunks: (0,0) complete, (1,0) only down to level 3, (2,0) absent,
// (0,1) blank, the rest complete.
std::function<ChunkPlan(int, int)> PartlyDownloaded() {
    return [](int cx, int cy) {
        ChunkPlan s;
        if (cx == 1 && cy == 0) {
            s.kind = ChunkPlan::Partial;
            s.finest_level = 3;
        } else if (cx == 2 && cy == 0) {
            s.kind = ChunkPlan::Absent;
        } else if (cx == 0 && cy == 1) {
            s.kind = ChunkPlan::Blank;
        }
        return s;
    };
}

class PartialChart : public CachedChart {
protected:
    // Requests would go nowhere but loopback, where nothing listens.
    void SetUp() override { COnlineSettings::SetServer(COnlineSettings::kChartServer, {false, "127.0.0.1", 9}); }
};
INSTANTIATE_TEST_SUITE_P(Variants, PartialChart, ::testing::Values(true));

}  // namespace

TEST_P(PartialChart, MissingChunksAreRequestedAndTheViewStillDraws) {
    RecordingUi ui;
    CCachedQuickChart r;
    r.SetAutomaticDownload(true);
    Open(r, MakeChart(3000, 2000, PartlyDownloaded()));
    QImage img(1200, 600, QImage::Format_RGB32);
    const FRect rect(0, 0, 1200, 600);
    const FPoint origin(600, 700);  // chunks (0..1, 0..1)
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, origin, 0));
    EXPECT_EQ(DifferentPixels(img, Reference(r.Chart(), img.size(), rect, origin, 0)), 0);
    EXPECT_FALSE(r.isLoading());
    auto* web = r.WebWorker();
    ASSERT_NE(web, nullptr);
    EXPECT_GT(web->RequestCount(), 0);
    auto needed = web->NeededChunks();
    ASSERT_EQ(needed.size(), 1u);  // only the partial chunk is in view
    EXPECT_EQ(needed[0].row, 0);
    EXPECT_EQ(needed[0].column, 1);
    EXPECT_EQ(needed[0].decoded, 3);
    EXPECT_EQ(web->TargetLevel(), 0);
    EXPECT_TRUE(ui.status.empty());

    // Panning over the absent chunk asks for it too; chunks that went out of view are
    // dropped from the download list.
    const FPoint east(1900, 100);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, east, 0));
    needed = web->NeededChunks();
    ASSERT_EQ(needed.size(), 2u);
    EXPECT_EQ(needed[0].column, 1);
    EXPECT_EQ(needed[1].column, 2);
    EXPECT_EQ(needed[1].decoded, 10);
    // The absent chunk shows the placeholder: a frame line on its top and left edges.
    const uint32_t line = img.pixel(2048 - 1900, 200), inside = img.pixel(2048 - 1900 + 5, 200);
    EXPECT_NE(line, inside);
    EXPECT_EQ(img.pixel(2048 - 1900 + 300, 500), inside);

    // Zoomed out to 5 (level 4 wanted) the partial chunk (level 3) is fine enough; the
    // absent one is not.
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(0, 0), 5));
    needed = web->NeededChunks();
    EXPECT_EQ(web->TargetLevel(), 4);
    ASSERT_EQ(needed.size(), 1u);
    EXPECT_EQ(needed[0].column, 2);

    // A finished download makes the squares over that chunk read again, once.
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, east, 0));
    const long long before = web->RequestCount();
    web->ChunkArrived(0, 2);
    EXPECT_TRUE(r.TimerCallback());
    DrawFrame(r, img, rect, east, 0);
    EXPECT_FALSE(r.LastFrameComplete());  // painted, and asked for again
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, east, 0));
    EXPECT_GT(web->RequestCount(), before);  // nothing was brought: still missing
    EXPECT_TRUE(ui.status.empty());
}

TEST_P(PartialChart, DisabledDownloadsSayWhyOnceUntilTheNextOpen) {
    RecordingUi ui;
    CCachedQuickChart r;
    const std::string path = MakeChart(3000, 2000, PartlyDownloaded());
    Open(r, path);
    QImage img(800, 600, QImage::Format_RGB32);
    const FRect rect(0, 0, 800, 600);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(1500, 0), 0));
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(1600, 0), 0));
    r.InvalidateAllDibs();
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(1500, 0), 0));
    r.TimerCallback();
    ASSERT_EQ(ui.status, std::vector<std::string>{CCachedQuickChart::kDownloadDisabledMessage});
    EXPECT_EQ(r.WebWorker()->RequestCount(), 0);
    EXPECT_FALSE(r.WebWorker()->IsActive());

    // Reopening clears the line, and the next view over missing data says it again.
    Open(r, path);
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(1500, 0), 0));
    r.TimerCallback();
    EXPECT_EQ(ui.status, (std::vector<std::string>{CCachedQuickChart::kDownloadDisabledMessage, "",
                                                   CCachedQuickChart::kDownloadDisabledMessage}));

    // Turning downloads on makes a request, which takes the message away.
    r.SetAutomaticDownload(true);
    r.InvalidateAllDibs();
    ASSERT_TRUE(DrawUntilComplete(r, img, rect, FPoint(1500, 0), 0));
    r.TimerCallback();
    ASSERT_EQ(ui.status.size(), 4u);
    EXPECT_EQ(ui.status.back(), "");
}
