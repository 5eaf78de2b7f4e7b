// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Draws the open chart at any power-of-two zoom without decoding on the GUI thread.
//
// The view is cut into 256 x 256 squares of output pixels. Background threads decode
// each square into its own 32-bit image. While a square is still being decoded its cell
// is filled from squares of the next coarser or next finer zoom that are still in
// memory, so panning and zooming always show something and sharpen as the work completes.
//
// A frame is made in two steps. Update() runs on the GUI thread: it collects the squares
// the workers finished, applies download results, places the squares of the view in
// their cells, decides what fills the gaps (the frame) and asks for the squares still
// missing. Draw() only paints the frame, under the lock that guards it, so it may run
// wherever the owner paints: with QtQuick's threaded render loop that is the scene
// graph's thread.
//
// Threads: everything public except Draw() runs on the GUI thread. Worker threads touch
// only the squares they were handed (through the needed queue) and give them back
// through the processed list; the owner polls TimerCallback() at the heartbeat, calls
// Update() and repaints. A square in the frame is never handed to a worker, so its pixels
// stay still while Draw() paints them.

#include <QImage>
#include <QPixmap>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "charts/qct.h"
#include "charts/qct_download.h"
#include "core/geometry.h"
#include "core/uiservices.h"
#include "core/workerthread.h"

class QPainter;

class CCachedQuickChart {
public:
    static constexpr int kSquare = 256;  // output pixels per square side
    static constexpr int kInvalidZoom = -999;
    static constexpr const char* kDownloadDisabledMessage =
        "Automatic download of map data is disabled in the Map Settings";

    // One decoded square of output pixels.
    struct DIB_square {
        double x = 0, y = 0;  // top-left corner in zoomed pixels (multiples of 256)
        int zoom = kInvalidZoom;
        // 0 normal; 1 decoding met missing chunk data and a download was asked for;
        // 2 that data has arrived: draw once more, then read again.
        int refresh = 0;
        int shortfall = 0;                   // largest (decoded level - wanted level) met while decoding
        std::unique_ptr<uint32_t[]> pixels;  // 256 x 256, 0xFFRRGGBB
        QImage image;                        // RGB32 over `pixels`
        QPixmap pixmap;                      // made from `image` the first time a frame shows it after a read
        bool pixmap_ok = false;
        unsigned frame = 0;  // the number of the last frame that shows it
        // How many batches of downloaded chunks had been applied when the read began: a
        // square that waits for data and was read before the latest batch may show what
        // the batch replaced.
        unsigned outputs_seen = 0;

        bool IsValid() const { return zoom != kInvalidZoom; }
        void Invalidate() {
            zoom = kInvalidZoom;
            refresh = 0;
            pixmap_ok = false;
        }
        // The chunk in which the square starts, ordered top chunk rows first.
        int64_t ChunkKey() const;
        // Decodes the square from the chart (worker thread).
        void Read(CQuickChart* chart, ThreadDataForRead& td);
        // Row/column of the square in the grid of its own zoom.
        int Row() const;
        int Column() const;
    };

    // Owns every square the GUI thread holds, most recently useful first; the least
    // recently useful square at the back is the next to be reused.
    using Dib_List = std::list<std::unique_ptr<DIB_square>>;

    // Where squares go for one Draw: the current grid and the coarser and finer grids
    // that fill its gaps.
    struct square_map {
        int zoom = 0;
        int r0 = 0, c0 = 0, R = 0, C = 0;
        std::vector<DIB_square*> current;
        std::vector<uint8_t> in_progress;
        int cr0 = 0, cc0 = 0, CR = 0, CC = 0;  // coarser grid (zoom + 1)
        std::vector<DIB_square*> coarser;
        std::vector<DIB_square*> finer;  // 2R x 2C cells of zoom - 1, from (2 r0, 2 c0)

        // The area left .. left + width - 1, top .. top + height - 1 in zoomed pixels.
        void Setup(double left, double top, double width, double height, int z);
        // Index of the current-grid cell of a zoom-z square, -1 outside.
        int CellOf(const DIB_square& sq) const;
        int CellAt(int row, int column) const;  // absolute grid row/column, -1 outside
        // Places a square of zoom z, z + 1 or z - 1. Returns the square that lost its cell
        // to another of the same zoom (the one with the larger shortfall; the newcomer on
        // a tie), null when nothing lost. `placed` says whether `sq` went into the current
        // grid.
        DIB_square* Place(DIB_square* sq, bool& placed);
        // Chunk columns/rows (qct::kChunkSide chart pixels each) covered by the current grid.
        void get_chunk_box(int& cx0, int& cy0, int& cx1, int& cy1) const;
    };

    // The chunk download worker. Renderer threads report chunks they could only show
    // coarser than wanted (AddRequest); on the GUI thread, driven by TimerCallback, up to
    // 8 job slots, each with its own web client, fetch them one level finer at a time,
    // coarsest first, until the view's level is reached. Finished chunks come back
    // through TakeOutput, and the squares over them are read again. More than 3 failures
    // in a row stop it until the chart is reopened or the squares are invalidated.
    class CWebWorker {
    public:
        static constexpr int kSlots = 8;
        static constexpr int kMaxErrorsInARow = 3;
        struct Needed {
            int row = 0, column = 0, decoded = 0;
        };

        CWebWorker();
        ~CWebWorker();
        CWebWorker(const CWebWorker&) = delete;
        CWebWorker& operator=(const CWebWorker&) = delete;

        // Worker threads.
        void Bind(CQuickChart::CChunkFile* file, CQuickChart* chart);
        void AddRequest(int row, int column, int decoded, int wanted);

        // GUI thread.
        bool IsActive() const;
        // Starts the slots and gives idle ones work. True when output is waiting.
        bool OutputReady();
        bool isBusy() const;
        // Chunks that finished since the last call (qct::ChunkKey::RowMajor()).
        std::vector<uint32_t> TakeOutput();
        void ChunkArrived(int row, int column);
        // Keeps only chunks inside the box that still need a finer level than max(z - 1, 0).
        void FilterNeeded(int zoom, int cx0, int cy0, int cx1, int cy1);
        int TargetLevel() const;
        std::vector<Needed> NeededChunks() const;  // in download order
        long long RequestCount() const;            // requests received since made
        int ErrorsInARow() const;
        // It fetches nothing more: too many failures in a row, or the server or its
        // chunk-file header could not be had (asked again after a while).
        bool Stopped() const;
        long long BytesReceived() const { return m_bytes; }
        int ChunksFetched() const { return m_fetched; }

    private:
        struct Slot;
        void Pump();
        void TakeJob(Slot& slot);
        void DownloadChunkCallback(Slot& slot, bool ok, int level);

        mutable std::mutex m_mutex;
        CQuickChart::CChunkFile* m_file = nullptr;
        CQuickChart* m_chart = nullptr;
        int m_target = 0;
        std::map<uint32_t, Needed> m_needed;  // by qct::ChunkKey::ColumnMajor(): the download order
        long long m_request_count = 0;
        std::set<uint32_t> m_output;
        int m_errors = 0;

        // GUI thread.
        std::vector<std::unique_ptr<Slot>> m_slots;
        std::unique_ptr<CChunkServerLocation> m_location;
        bool m_resolving = false;
        bool m_header_pending = false;
        bool m_location_failed = false;
        bool m_header_failed = false;
        long long m_retry_at = 0;  // ms since the epoch: when a failed location or header is asked again
        long long m_bytes = 0;
        int m_fetched = 0;
        std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    };

    class CWorker;

    explicit CCachedQuickChart(NV_HWND parent = NV_HWND());
    ~CCachedQuickChart();
    CCachedQuickChart(const CCachedQuickChart&) = delete;
    CCachedQuickChart& operator=(const CCachedQuickChart&) = delete;

    void Open(const NV_HWND& parent, const char* path, std::function<void(bool)> callback);
    void Close();
    bool IsOpen() const { return m_chart != nullptr; }
    CQuickChart* Chart() const { return m_chart; }

    // GUI thread. Makes the frame that shows chart pixel `origin` at the top-left corner of
    // `rect`, at zoom z, from the squares ready now, and asks for the ones missing.
    void Update(const FRect& rect, const FPoint& origin, int zoom);
    // Any thread. Paints the frame of the last Update so that chart pixel `origin` lies at
    // the top-left corner of `rect`, at zoom z: normally the arguments of that Update
    // (another origin moves the same squares; at another zoom nothing is painted). 1 after
    // drawing; 0 without a chart (the rect is then filled white). `flag` is always false.
    int Draw(QPainter* painter, const FRect& rect, const FPoint& origin, int zoom, bool& flag) const;
    // True when there is something new to show: call Update and repaint.
    bool TimerCallback();
    bool isLoading() const;
    void InvalidateAllDibs();

    double getScaleAt(double x, double y) const;
    double getQCTScaleAtCenter() const;
    bool CurrentChartDoesContain(double lat, double lon) const;

    // Whether squares over missing chunk data ask for a download (set by the chart view
    // from its settings). Off by default.
    void SetAutomaticDownload(bool enabled) { m_auto_download.store(enabled); }
    bool AutomaticDownload() const { return m_auto_download.load(); }

    // --- Inspection, for tools, tests and benchmarks (GUI thread) ---
    // True when the last Update filled every cell from a square of its own zoom.
    bool LastFrameComplete() const { return m_last_complete; }
    // The last frame shows squares whose chunk data was asked for and has not come.
    bool LastFrameWaitsForData() const { return m_last_waiting; }
    // Squares in existence: the list plus those queued, in work or processed.
    int SquareCount() const { return m_square_count; }
    int DibListSize() const { return static_cast<int>(m_dibs.size()); }
    const square_map& Map() const { return m_map; }
    struct QueuedSquare {
        double x, y;
        int zoom;
    };
    std::vector<QueuedSquare> QueuedSquares() const;
    CWebWorker* WebWorker();
    // Holds the worker threads (already running jobs finish); applies to workers made later.
    void SetWorkerPaused(bool paused);
    // Blocks until a processed square is waiting or `timeout_ms` passes (never in the GUI).
    bool WaitForProcessed(int timeout_ms);

private:
    // One pixmap of the frame: `source` (square pixels) goes to the square of side `side`
    // at (x, y), in zoomed pixels of the frame's zoom.
    struct Piece {
        QPixmap pixmap;
        QRectF source;
        double x, y, side;
    };
    // What Draw paints; written by Update, read by Draw, under m_frame_mutex.
    struct Frame {
        bool open = false;   // a chart is open: without one Draw paints white
        bool blank = false;  // nothing of the chart can be shown there: Draw paints white
        int zoom = 0;
        std::vector<Piece> pieces;
    };

    void CollectResults();
    void ApplyDownloadOutput();
    void FilterDownloadRequests();
    void TopUpDibList();
    void PlaceSquares();
    // Chooses what each cell shows; false when some cell lacks a square of its own zoom.
    bool BuildFrame(Frame& frame);
    void SetFrame(Frame frame);
    void RequestMissing();
    void PostStatusMessages();
    void DeleteWorkerAndSquares();

    NV_HWND m_parent;
    CQuickChart* m_chart = nullptr;
    std::unique_ptr<CWorker> m_worker;
    Dib_List m_dibs;
    square_map m_map;
    mutable std::mutex m_frame_mutex;
    Frame m_frame;  // under m_frame_mutex
    unsigned m_frame_number = 0;
    int m_square_count = 0;
    bool m_last_complete = false;
    bool m_last_waiting = false;
    bool m_repaint_requested = false;
    bool m_paused = false;
    bool m_status_shown = false;       // the download-disabled message is on the status line
    bool m_disabled_reported = false;  // ... and is not to be shown again until reset
    int m_open_generation = 0;
    std::atomic<bool> m_auto_download{false};
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    friend class CWorker;
};
