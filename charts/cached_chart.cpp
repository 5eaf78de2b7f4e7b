// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/cached_chart.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstring>

#include "core/threadcheck.h"
#include "online/webclient.h"

namespace {

constexpr int kChunk = qct::kChunkSide;
constexpr int kChunkedThreads = 4;
constexpr int kSingleFileThreads = 1;
// Beyond these the arithmetic of positions stops being exact; no view gets there.
constexpr int kMinZoom = -16, kMaxZoom = 16;
constexpr double kMaxZoomedCoordinate = 1e9;
// A 16K screen is about 4000 cells; anything far larger is a caller's mistake.
constexpr long long kMaxCells = 16384;

int FloorDiv(int v, int d) {
    return v >= 0 ? v / d : -((-v + d - 1) / d);
}
int FloorMod2(int v) {
    return v - 2 * FloorDiv(v, 2);
}
int FloorToInt(double v) {
    return static_cast<int>(std::floor(v));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Worker: the needed queue, the job slots and the processed list.

class CCachedQuickChart::CWorker : public CWorkerThread {
public:
    struct Job : JobData {
        CWorker* owner = nullptr;
        std::unique_ptr<DIB_square> square;  // in work; handed over under the pool mutex
        ThreadDataForRead td;

        bool GetNextJob() override {
            auto& q = owner->needed;
            if (q.empty()) return false;
            auto it = q.begin();  // smallest chunk key: chunk by chunk, top rows first
            square = std::move(it->second);
            q.erase(it);
            return true;
        }
        void ProcessJob() override {
            td.missing_data = &CWorker::MissingDataCallback;
            td.missing_context = this;
            square->outputs_seen = owner->outputs_applied.load();
            square->Read(owner->chart, td);
            {
                std::lock_guard<std::mutex> processed_lock(owner->processed_mutex);
                std::lock_guard<std::mutex> pool_lock(owner->Mutex());
                owner->processed.push_back(std::move(square));
            }
            owner->processed_cond.notify_all();
        }
    };

    CWorker(CQuickChart* c, int threads, const std::atomic<bool>* auto_dl)
        : CWorkerThread(threads, kLowPriorityClass), chart(c), auto_download(auto_dl) {
        for (int i = 0; i < threads; ++i) {
            jobs.push_back(std::make_unique<Job>());
            jobs.back()->owner = this;
        }
    }
    ~CWorker() override { Shutdown(); }

    void PutNeeded(std::vector<std::unique_ptr<DIB_square>>& squares) {
        if (squares.empty()) return;
        {
            std::lock_guard<std::mutex> lock(Mutex());
            for (auto& sq : squares) {
                const int64_t key = sq->ChunkKey();
                needed.emplace(key, std::move(sq));  // after any squares of the same key
            }
        }
        squares.clear();
        Wake(true);
    }

    bool HasProcessed() {
        std::lock_guard<std::mutex> lock(processed_mutex);
        return !processed.empty();
    }

    // Worker thread, from the chart's block reader.
    static void MissingDataCallback(void* context, CQuickChart::CChunkFile* file, int cy, int cx, int decoded,
                                    int wanted) {
        auto* job = static_cast<Job*>(context);
        CWorker* w = job->owner;
        if (w->auto_download->load()) {
            w->download_requested.store(true);
            if (job->square) job->square->refresh = 1;
            w->web.Bind(file, w->chart);
            w->web.AddRequest(cy, cx, decoded, wanted);
        } else {
            w->disabled_hit.store(true);
        }
    }

    CQuickChart* const chart;
    const std::atomic<bool>* const auto_download;
    std::multimap<int64_t, std::unique_ptr<DIB_square>> needed;  // under the pool mutex
    std::mutex processed_mutex;
    std::condition_variable processed_cond;
    std::vector<std::unique_ptr<DIB_square>> processed;  // under processed_mutex
    std::vector<std::unique_ptr<Job>> jobs;
    CWebWorker web;
    std::atomic<bool> disabled_hit{false};
    std::atomic<bool> download_requested{false};
    std::atomic<unsigned> outputs_applied{0};  // counted after the read cache was cleared for them

protected:
    JobData* GetJobForThread(int slot) override {
        return slot >= 0 && slot < static_cast<int>(jobs.size()) ? jobs[size_t(slot)].get() : nullptr;
    }
};

// ---------------------------------------------------------------------------------------
// Squares

int64_t CCachedQuickChart::DIB_square::ChunkKey() const {
    const double s = std::ldexp(1.0, zoom);
    const int64_t cx = static_cast<int64_t>(std::floor(std::floor(x * s) / kChunk));
    const int64_t cy = static_cast<int64_t>(std::floor(std::floor(y * s) / kChunk));
    // qct::ChunkKey::RowMajor(), extended to the negative rows and columns off the chart.
    return cy * (int64_t(qct::ChunkKey::kMaxIndex) + 1) + cx;
}

int CCachedQuickChart::DIB_square::Row() const {
    return FloorToInt(y / kSquare);
}
int CCachedQuickChart::DIB_square::Column() const {
    return FloorToInt(x / kSquare);
}

void CCachedQuickChart::DIB_square::Read(CQuickChart* chart, ThreadDataForRead& td) {
    constexpr size_t kPixels = size_t(kSquare) * kSquare;
    if (!pixels) {
        pixels = std::make_unique<uint32_t[]>(kPixels);
        image = QImage(reinterpret_cast<uchar*>(pixels.get()), kSquare, kSquare, kSquare * 4, QImage::Format_RGB32);
    }
    refresh = 0;
    td.largest_shortfall = 0;
    const double s = std::ldexp(1.0, zoom);
    const int px = static_cast<int>(std::floor(x * s)), py = static_cast<int>(std::floor(y * s));
    // Finer than one chart pixel per 256 output pixels, or coarser than a tile per output
    // pixel, the reader delivers nothing: show white rather than stale pixels.
    bool ok = zoom >= -8 && zoom <= 6 && chart;
    if (ok) ok = chart->ReadRectRGB(px, py, kSquare, kSquare, kSquare, zoom, pixels.get(), &td) == 0;
    if (!ok) std::fill(pixels.get(), pixels.get() + kPixels, 0xFFFFFFFFu);
    shortfall = td.largest_shortfall;
}

// ---------------------------------------------------------------------------------------
// Square map

void CCachedQuickChart::square_map::Setup(double left, double top, double width, double height, int z) {
    zoom = z;
    r0 = FloorToInt(top / kSquare);
    c0 = FloorToInt(left / kSquare);
    R = FloorToInt((top + height - 1) / kSquare) - r0 + 1;
    C = FloorToInt((left + width - 1) / kSquare) - c0 + 1;
    R = std::max(R, 0);
    C = std::max(C, 0);
    current.assign(size_t(R) * C, nullptr);
    in_progress.assign(size_t(R) * C, 0);
    cr0 = FloorDiv(r0, 2);
    cc0 = FloorDiv(c0, 2);
    CR = R ? FloorDiv(r0 + R - 1, 2) - cr0 + 1 : 0;
    CC = C ? FloorDiv(c0 + C - 1, 2) - cc0 + 1 : 0;
    coarser.assign(size_t(CR) * CC, nullptr);
    finer.assign(size_t(2 * R) * (2 * C), nullptr);
}

int CCachedQuickChart::square_map::CellAt(int row, int column) const {
    const int r = row - r0, c = column - c0;
    if (r < 0 || c < 0 || r >= R || c >= C) return -1;
    return r * C + c;
}

int CCachedQuickChart::square_map::CellOf(const DIB_square& sq) const {
    if (sq.zoom != zoom) return -1;
    return CellAt(sq.Row(), sq.Column());
}

CCachedQuickChart::DIB_square* CCachedQuickChart::square_map::Place(DIB_square* sq, bool& placed) {
    placed = false;
    if (!sq || !sq->IsValid()) return nullptr;
    if (sq->zoom == zoom) {
        const int cell = CellOf(*sq);
        if (cell < 0) return nullptr;
        DIB_square*& slot = current[size_t(cell)];
        if (!slot) {
            slot = sq;
            placed = true;
            return nullptr;
        }
        if (slot == sq) {
            placed = true;
            return nullptr;
        }
        if (sq->shortfall < slot->shortfall) {
            DIB_square* loser = slot;
            slot = sq;
            placed = true;
            return loser;
        }
        return sq;
    }
    if (sq->zoom == zoom + 1) {
        const int r = sq->Row() - cr0, c = sq->Column() - cc0;
        if (r >= 0 && c >= 0 && r < CR && c < CC) coarser[size_t(r) * CC + c] = sq;
    } else if (sq->zoom == zoom - 1) {
        const int r = sq->Row() - 2 * r0, c = sq->Column() - 2 * c0;
        if (r >= 0 && c >= 0 && r < 2 * R && c < 2 * C) finer[size_t(r) * (2 * C) + c] = sq;
    }
    return nullptr;
}

void CCachedQuickChart::square_map::get_chunk_box(int& cx0, int& cy0, int& cx1, int& cy1) const {
    const double s = std::ldexp(1.0, zoom);
    cx0 = FloorToInt(std::floor(double(c0) * kSquare * s) / kChunk);
    cy0 = FloorToInt(std::floor(double(r0) * kSquare * s) / kChunk);
    cx1 = FloorToInt((std::ceil(double(c0 + C) * kSquare * s) - 1) / kChunk);
    cy1 = FloorToInt((std::ceil(double(r0 + R) * kSquare * s) - 1) / kChunk);
}

// ---------------------------------------------------------------------------------------
// Download worker

struct CCachedQuickChart::CWebWorker::Slot {
    std::shared_ptr<CWebServer_NB_sliced> web;
    bool busy = false;
    uint32_t key = 0;  // qct::ChunkKey::ColumnMajor() of the chunk in work
};

CCachedQuickChart::CWebWorker::CWebWorker() = default;
CCachedQuickChart::CWebWorker::~CWebWorker() = default;

void CCachedQuickChart::CWebWorker::Bind(CQuickChart::CChunkFile* file, CQuickChart* chart) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_file = file;
    m_chart = chart;
}

void CCachedQuickChart::CWebWorker::AddRequest(int row, int column, int decoded, int wanted) {
    const qct::ChunkKey key{row, column};
    if (!key.Packable()) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_request_count;
    m_target = wanted;
    Needed& n = m_needed[key.ColumnMajor()];
    n.row = row;
    n.column = column;
    n.decoded = decoded;
}

bool CCachedQuickChart::CWebWorker::IsActive() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_file != nullptr;
}

bool CCachedQuickChart::CWebWorker::isBusy() const {
    for (const auto& s : m_slots)
        if (s->busy) return true;
    return false;
}

int CCachedQuickChart::CWebWorker::ErrorsInARow() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_errors;
}

bool CCachedQuickChart::CWebWorker::Stopped() const {
    return ErrorsInARow() > kMaxErrorsInARow || m_location_failed || m_header_failed;
}

bool CCachedQuickChart::CWebWorker::OutputReady() {
    NV_ASSERT_GUI_THREAD();
    Pump();
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_output.empty();
}

namespace {
long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
constexpr long long kRetryMs = 10000;
}  // namespace

void CCachedQuickChart::CWebWorker::Pump() {
    CQuickChart::CChunkFile* file;
    CQuickChart* chart;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        file = m_file;
        chart = m_chart;
        if (!file || !chart || m_errors > kMaxErrorsInARow) return;
    }
    std::weak_ptr<int> alive = m_alive;
    if (!m_location) {
        if (m_resolving || NowMs() < m_retry_at) return;
        m_resolving = true;
        chart->GetRedirectedDownloadPath([this, alive](const CChunkServerLocation& location) {
            if (alive.expired()) return;
            m_resolving = false;
            m_location_failed = !location.IsValid();
            if (m_location_failed) {
                m_retry_at = NowMs() + kRetryMs;
                return;
            }
            m_location = std::make_unique<CChunkServerLocation>(location);
            for (int i = 0; i < kSlots; ++i) {
                m_slots.push_back(std::make_unique<Slot>());
                m_slots.back()->web = std::make_shared<CWebServer_NB_sliced>(location.server, true);
            }
            Pump();
        });
        return;
    }
    if (!file->HasHeader()) {
        if (m_header_pending || NowMs() < m_retry_at) return;
        m_header_pending = true;
        file->download_header_if_needed(*m_location, chart->ChunkColumns(), chart->ChunkRows(),
                                        [this, alive](bool ok) {
                                            if (alive.expired()) return;
                                            m_header_pending = false;
                                            m_header_failed = !ok;
                                            if (!ok) {
                                                m_retry_at = NowMs() + kRetryMs;
                                                return;
                                            }
                                            // Everything read so far showed the chart as absent.
                                            if (m_chart) m_chart->invalidate_read_cache();
                                            std::lock_guard<std::mutex> lock(m_mutex);
                                            for (const auto& n : m_needed)
                                                m_output.insert(qct::ChunkKey{n.second.row, n.second.column}.RowMajor());
                                        });
        return;
    }
    for (auto& slot : m_slots)
        if (!slot->busy) TakeJob(*slot);
}

void CCachedQuickChart::CWebWorker::TakeJob(Slot& slot) {
    int row = 0, column = 0, wanted = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_errors > kMaxErrorsInARow || !m_file) return;
        auto best = m_needed.end();
        for (auto it = m_needed.begin(); it != m_needed.end();) {
            bool taken = false;
            for (const auto& s : m_slots)
                if (s->busy && s->key == it->first) taken = true;
            if (taken) {
                it = m_needed.erase(it);
                continue;
            }
            const Needed& n = it->second;
            if (n.decoded > m_target && (best == m_needed.end() || n.decoded > best->second.decoded) &&
                m_file->CanDownloadChunk(n.row, n.column))
                best = it;
            ++it;
        }
        if (best == m_needed.end()) return;
        slot.key = best->first;
        row = best->second.row;
        column = best->second.column;
        wanted = std::clamp(best->second.decoded - 1, 0, 9);
    }
    slot.busy = true;
    auto c = std::make_shared<DownloadChunk_context>();
    c->row = row;
    c->column = column;
    c->wanted = wanted;
    c->location = *m_location;
    c->web = slot.web;
    std::weak_ptr<int> alive = m_alive;
    Slot* s = &slot;
    std::weak_ptr<DownloadChunk_context> weak = c;
    c->done = [this, alive, s, weak](bool ok, int level) {
        if (alive.expired()) return;
        if (auto context = weak.lock()) {
            m_bytes += context->bytes;
            if (ok && context->fetched) ++m_fetched;
        }
        DownloadChunkCallback(*s, ok, level);
    };
    m_file->DownloadChunk(c);
}

void CCachedQuickChart::CWebWorker::DownloadChunkCallback(Slot& slot, bool ok, int level) {
    slot.busy = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!ok) {
            ++m_errors;
        } else {
            m_errors = 0;
            auto it = m_needed.find(slot.key);
            if (it != m_needed.end()) {
                // Done when the view's level is reached, or when the server had nothing finer.
                if (m_target >= level || level >= it->second.decoded)
                    m_needed.erase(it);
                else
                    it->second.decoded = level;
            }
            m_output.insert(qct::ChunkKey::FromColumnMajor(slot.key).RowMajor());
        }
    }
    TakeJob(slot);
}

std::vector<uint32_t> CCachedQuickChart::CWebWorker::TakeOutput() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<uint32_t> out(m_output.begin(), m_output.end());
    m_output.clear();
    return out;
}

void CCachedQuickChart::CWebWorker::ChunkArrived(int row, int column) {
    const qct::ChunkKey key{row, column};
    if (!key.Packable()) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_output.insert(key.RowMajor());
}

void CCachedQuickChart::CWebWorker::FilterNeeded(int zoom, int cx0, int cy0, int cx1, int cy1) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_target = std::max(zoom - 1, 0);
    for (auto it = m_needed.begin(); it != m_needed.end();) {
        const Needed& n = it->second;
        const bool inside = n.column >= cx0 && n.column <= cx1 && n.row >= cy0 && n.row <= cy1;
        if (!inside || n.decoded <= m_target)
            it = m_needed.erase(it);
        else
            ++it;
    }
}

int CCachedQuickChart::CWebWorker::TargetLevel() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_target;
}

std::vector<CCachedQuickChart::CWebWorker::Needed> CCachedQuickChart::CWebWorker::NeededChunks() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Needed> out;
    for (const auto& e : m_needed) out.push_back(e.second);
    return out;
}

long long CCachedQuickChart::CWebWorker::RequestCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_request_count;
}

// ---------------------------------------------------------------------------------------
// Renderer

CCachedQuickChart::CCachedQuickChart(NV_HWND parent) : m_parent(std::move(parent)) {}

CCachedQuickChart::~CCachedQuickChart() {
    Close();
}

void CCachedQuickChart::Open(const NV_HWND& parent, const char* path, std::function<void(bool)> callback) {
    NV_ASSERT_GUI_THREAD();
    Close();
    if (m_status_shown) ClearStatusMessage();
    m_status_shown = false;
    m_disabled_reported = false;
    m_parent = parent;
    const int generation = ++m_open_generation;
    std::weak_ptr<int> alive = m_alive;
    CQuickChart::Create(parent, path ? path : "", [this, alive, generation, callback](CQuickChart* chart, bool ok) {
        // A renderer that was destroyed or reopened meanwhile no longer wants it.
        if (alive.expired() || generation != m_open_generation) {
            if (chart) chart->Destroy();
            return;
        }
        if (chart && ok) {
            m_chart = chart;
        } else {
            if (chart) chart->Destroy();
            Close();
        }
        if (callback) callback(chart && ok);
    });
}

void CCachedQuickChart::Close() {
    NV_ASSERT_GUI_THREAD();
    DeleteWorkerAndSquares();
    if (m_chart) m_chart->Destroy();
    m_chart = nullptr;
}

void CCachedQuickChart::DeleteWorkerAndSquares() {
    SetFrame(Frame());  // Draw lets go of the squares before they go
    m_worker.reset();   // joins the threads; queued, in-work and processed squares go with it
    m_dibs.clear();
    m_square_count = 0;
    m_map = square_map();
    m_last_complete = false;
}

void CCachedQuickChart::InvalidateAllDibs() {
    NV_ASSERT_GUI_THREAD();
    DeleteWorkerAndSquares();
    if (m_chart) m_chart->invalidate_read_cache();
    m_repaint_requested = true;
}

double CCachedQuickChart::getScaleAt(double x, double y) const {
    return m_chart ? m_chart->get_scale(x, y) : 0.0;
}

double CCachedQuickChart::getQCTScaleAtCenter() const {
    if (!m_chart) return 0.0;
    return m_chart->get_scale(0.5 * m_chart->Width(), 0.5 * m_chart->Height());
}

bool CCachedQuickChart::CurrentChartDoesContain(double lat, double lon) const {
    return m_chart && m_chart->doesContain(lat, lon);
}

bool CCachedQuickChart::isLoading() const {
    return m_worker && m_worker->web.isBusy();
}

CCachedQuickChart::CWebWorker* CCachedQuickChart::WebWorker() {
    return m_worker ? &m_worker->web : nullptr;
}

void CCachedQuickChart::SetWorkerPaused(bool paused) {
    m_paused = paused;
    if (m_worker) m_worker->SetPaused(paused);
}

bool CCachedQuickChart::WaitForProcessed(int timeout_ms) {
    if (!m_worker) return false;
    std::unique_lock<std::mutex> lock(m_worker->processed_mutex);
    return m_worker->processed_cond.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                             [this] { return !m_worker->processed.empty(); });
}

std::vector<CCachedQuickChart::QueuedSquare> CCachedQuickChart::QueuedSquares() const {
    std::vector<QueuedSquare> out;
    if (!m_worker) return out;
    std::lock_guard<std::mutex> lock(m_worker->Mutex());
    for (const auto& e : m_worker->needed) out.push_back({e.second->x, e.second->y, e.second->zoom});
    return out;
}

bool CCachedQuickChart::TimerCallback() {
    NV_ASSERT_GUI_THREAD();
    PostStatusMessages();
    bool repaint = m_repaint_requested;
    m_repaint_requested = false;
    if (m_worker) repaint = m_worker->HasProcessed() || m_worker->web.OutputReady() || repaint;
    return repaint;
}

void CCachedQuickChart::PostStatusMessages() {
    if (!m_worker) return;
    // The worker threads only raise flags; the status line belongs to this thread.
    if (m_worker->download_requested.exchange(false)) {
        if (m_status_shown) ClearStatusMessage();
        m_status_shown = false;
        m_disabled_reported = false;
    }
    if (m_worker->disabled_hit.exchange(false) && !m_disabled_reported) {
        SetStatusMessage(kDownloadDisabledMessage);
        m_status_shown = true;
        m_disabled_reported = true;
    }
}

namespace {

// A view that the square arithmetic can handle: finite, not absurdly far out, not empty.
bool SaneArea(double left, double top, double width, double height) {
    return std::isfinite(left) && std::isfinite(top) && std::isfinite(width) && std::isfinite(height) &&
           std::abs(left) < kMaxZoomedCoordinate && std::abs(top) < kMaxZoomedCoordinate &&
           width < kMaxZoomedCoordinate && height < kMaxZoomedCoordinate;
}

}  // namespace

void CCachedQuickChart::Update(const FRect& rect, const FPoint& origin, int zoom) {
    NV_ASSERT_GUI_THREAD();
    if (!m_chart) {
        SetFrame(Frame());
        m_last_complete = false;
        return;
    }
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const double s = std::ldexp(1.0, -zoom);
    const double left = origin.x * s, top = origin.y * s;
    const double width = rect.Width(), height = rect.Height();
    Frame frame;
    frame.open = true;
    frame.zoom = zoom;
    m_last_complete = false;
    const bool sane = SaneArea(left, top, width, height);
    long long cells = 0;
    if (sane && width >= 1 && height >= 1) {
        const long long rows = FloorToInt((top + height - 1) / kSquare) - FloorToInt(top / kSquare) + 1;
        const long long cols = FloorToInt((left + width - 1) / kSquare) - FloorToInt(left / kSquare) + 1;
        cells = rows * cols;
    }
    if (cells < 1 || cells > kMaxCells) {
        frame.blank = sane;
        SetFrame(std::move(frame));
        return;
    }
    m_map.Setup(left, top, width, height, zoom);

    if (!m_worker) {
        const bool chunked = (m_chart->Version() >> 24) != 0;
        m_worker = std::make_unique<CWorker>(m_chart, chunked ? kChunkedThreads : kSingleFileThreads, &m_auto_download);
        m_worker->SetPaused(m_paused);
        m_worker->Start();
    }

    CollectResults();
    ApplyDownloadOutput();
    FilterDownloadRequests();
    TopUpDibList();
    PlaceSquares();
    m_last_complete = BuildFrame(frame);
    SetFrame(std::move(frame));
    RequestMissing();
    PostStatusMessages();
}

void CCachedQuickChart::SetFrame(Frame frame) {
    std::lock_guard<std::mutex> lock(m_frame_mutex);
    std::swap(m_frame, frame);
    // The old frame's pixmaps go here, on this thread, once Draw can no longer reach them.
}

int CCachedQuickChart::Draw(QPainter* painter, const FRect& rect, const FPoint& origin, int zoom, bool& flag) const {
    flag = false;
    const QRectF target(rect.left, rect.top, rect.Width(), rect.Height());
    std::lock_guard<std::mutex> lock(m_frame_mutex);
    if (!m_frame.open) {
        if (painter) painter->fillRect(target, Qt::white);
        return 0;
    }
    if (!painter) return 1;
    zoom = std::clamp(zoom, kMinZoom, kMaxZoom);
    const double s = std::ldexp(1.0, -zoom);
    const double left = origin.x * s, top = origin.y * s;
    if (!SaneArea(left, top, rect.Width(), rect.Height())) return 1;
    if (m_frame.blank) {
        painter->fillRect(target, Qt::white);
        return 1;
    }
    if (zoom != m_frame.zoom) return 1;  // nothing made for that zoom yet
    const QRectF whole(0, 0, kSquare, kSquare);
    // Squares reach past the rect's edges; the rest of the page is not ours to paint.
    painter->save();
    painter->setClipRect(target, Qt::IntersectClip);
    for (const Piece& piece : m_frame.pieces) {
        const double x = rect.left - left + piece.x, y = rect.top - top + piece.y;
        if (piece.side == kSquare && piece.source == whole) {
            painter->drawPixmap(QPointF(x, y), piece.pixmap);
        } else {
            painter->drawPixmap(QRectF(x, y, piece.side, piece.side), piece.pixmap, piece.source);
        }
    }
    painter->restore();
    return 1;
}

void CCachedQuickChart::CollectResults() {
    std::vector<std::unique_ptr<DIB_square>> done;
    {
        // Processed list first, then the pool mutex: the order the workers use too, so a
        // square is always either in a job slot or in the processed list, never in neither.
        std::lock_guard<std::mutex> processed_lock(m_worker->processed_mutex);
        done.swap(m_worker->processed);
        std::lock_guard<std::mutex> pool_lock(m_worker->Mutex());
        for (const auto& job : m_worker->jobs) {
            if (!job->square) continue;
            const int cell = m_map.CellOf(*job->square);
            if (cell >= 0) m_map.in_progress[size_t(cell)] = 1;
        }
        auto& q = m_worker->needed;
        for (auto it = q.begin(); it != q.end();) {
            const int cell = m_map.CellOf(*it->second);
            if (cell >= 0) {
                m_map.in_progress[size_t(cell)] = 1;
                ++it;
            } else {
                it->second->Invalidate();
                m_dibs.push_back(std::move(it->second));
                it = q.erase(it);
            }
        }
    }
    const unsigned outputs = m_worker->outputs_applied.load();
    for (auto& sq : done) {
        // Read while downloaded data was being applied: it may have missed it, read again.
        if (sq->refresh == 1 && sq->outputs_seen != outputs && sq->zoom == m_map.zoom) sq->refresh = 2;
        m_dibs.push_front(std::move(sq));
    }
}

namespace {

// Chart-pixel extent of a square.
void SquareExtent(const CCachedQuickChart::DIB_square& sq, double& x0, double& y0, double& x1, double& y1) {
    const double s = std::ldexp(1.0, sq.zoom);
    x0 = sq.x * s;
    y0 = sq.y * s;
    x1 = (sq.x + CCachedQuickChart::kSquare) * s;
    y1 = (sq.y + CCachedQuickChart::kSquare) * s;
}

}  // namespace

void CCachedQuickChart::ApplyDownloadOutput() {
    const std::vector<uint32_t> keys = m_worker->web.TakeOutput();
    if (keys.empty()) return;
    double bx0 = 1e300, by0 = 1e300, bx1 = -1e300, by1 = -1e300;
    for (uint32_t key : keys) {
        m_chart->invalidate_read_cache(key);
        const qct::ChunkKey chunk = qct::ChunkKey::FromRowMajor(key);
        bx0 = std::min(bx0, double(chunk.column) * kChunk);
        by0 = std::min(by0, double(chunk.row) * kChunk);
        bx1 = std::max(bx1, double(chunk.column + 1) * kChunk);
        by1 = std::max(by1, double(chunk.row + 1) * kChunk);
    }
    // Squares read from now on see the new data; those in the workers are checked when collected.
    m_worker->outputs_applied.fetch_add(1);
    for (auto it = m_dibs.begin(); it != m_dibs.end();) {
        auto next = std::next(it);
        DIB_square& sq = **it;
        if (sq.IsValid() && sq.refresh == 1) {
            double x0, y0, x1, y1;
            SquareExtent(sq, x0, y0, x1, y1);
            if (x0 < bx1 && bx0 < x1 && y0 < by1 && by0 < y1) {
                if (sq.zoom == m_map.zoom) {
                    sq.refresh = 2;
                } else {
                    sq.Invalidate();
                    m_dibs.splice(m_dibs.end(), m_dibs, it);
                }
            }
        }
        it = next;
    }
}

void CCachedQuickChart::FilterDownloadRequests() {
    CWebWorker& web = m_worker->web;
    if (!web.IsActive()) return;
    int cx0, cy0, cx1, cy1;
    m_map.get_chunk_box(cx0, cy0, cx1, cy1);
    web.FilterNeeded(m_map.zoom, cx0, cy0, cx1, cy1);
    const double bx0 = double(cx0) * kChunk, by0 = double(cy0) * kChunk;
    const double bx1 = double(cx1 + 1) * kChunk, by1 = double(cy1 + 1) * kChunk;
    // Squares still waiting for data the downloader has now dropped would wait forever.
    for (auto it = m_dibs.begin(); it != m_dibs.end();) {
        auto next = std::next(it);
        DIB_square& sq = **it;
        if (sq.IsValid() && sq.refresh == 1) {
            double x0, y0, x1, y1;
            SquareExtent(sq, x0, y0, x1, y1);
            const bool overlaps = x0 < bx1 && bx0 < x1 && y0 < by1 && by0 < y1;
            if (sq.zoom != m_map.zoom || !overlaps) {
                sq.Invalidate();
                m_dibs.splice(m_dibs.end(), m_dibs, it);
            }
        }
        it = next;
    }
}

void CCachedQuickChart::TopUpDibList() {
    const size_t wanted = size_t(3) * size_t(m_map.R) * size_t(m_map.C);
    while (m_dibs.size() < wanted) {
        m_dibs.push_back(std::make_unique<DIB_square>());
        ++m_square_count;
    }
}

void CCachedQuickChart::PlaceSquares() {
    using Iter = Dib_List::iterator;
    std::vector<Iter> cell_iter(m_map.current.size(), m_dibs.end());
    for (auto it = m_dibs.begin(); it != m_dibs.end();) {
        auto next = std::next(it);
        DIB_square* sq = it->get();
        if (sq->IsValid()) {
            bool placed = false;
            DIB_square* loser = m_map.Place(sq, placed);
            if (placed) {
                cell_iter[size_t(m_map.CellOf(*sq))] = it;
                m_dibs.splice(m_dibs.begin(), m_dibs, it);
            }
            if (loser) {
                // The loser holds nothing useful any more: make it the first to be reused.
                Iter loser_it = loser == sq ? it : m_dibs.end();
                if (loser != sq)
                    for (auto& ci : cell_iter)
                        if (ci != m_dibs.end() && ci->get() == loser) {
                            loser_it = ci;
                            ci = m_dibs.end();
                            break;
                        }
                if (placed) cell_iter[size_t(m_map.CellOf(*sq))] = it;
                loser->Invalidate();
                if (loser_it != m_dibs.end()) m_dibs.splice(m_dibs.end(), m_dibs, loser_it);
            }
        }
        it = next;
    }
}

bool CCachedQuickChart::BuildFrame(Frame& frame) {
    const square_map& m = m_map;
    const unsigned number = ++m_frame_number;
    auto show = [&](DIB_square* sq, const QRectF& source, double x, double y, double side) {
        if (!sq->pixmap_ok) {
            sq->pixmap = QPixmap::fromImage(sq->image);
            sq->pixmap_ok = true;
        }
        sq->frame = number;
        frame.pieces.push_back({sq->pixmap, source, x, y, side});
    };
    const double half = kSquare / 2.0;
    const QRectF whole(0, 0, kSquare, kSquare);
    bool complete = true;
    m_last_waiting = false;
    for (int row = 0; row < m.R; ++row) {
        for (int col = 0; col < m.C; ++col) {
            const size_t cell = size_t(row) * m.C + col;
            const int grid_row = m.r0 + row, grid_col = m.c0 + col;
            const double cx = double(grid_col) * kSquare, cy = double(grid_row) * kSquare;
            if (DIB_square* sq = m.current[cell]) {
                show(sq, whole, cx, cy, kSquare);
                if (sq->refresh == 1) m_last_waiting = true;
                if (sq->refresh == 2) {
                    m_map.current[cell] = nullptr;  // shown once more, and read again
                    complete = false;
                }
                continue;
            }
            complete = false;
            const int crow = FloorDiv(grid_row, 2) - m.cr0, ccol = FloorDiv(grid_col, 2) - m.cc0;
            if (DIB_square* q = m.coarser[size_t(crow) * m.CC + ccol]) {
                // Only the quarter of the coarser square that covers this cell, doubled, so
                // that neighbouring cells already painted sharp stay sharp.
                show(q, QRectF(FloorMod2(grid_col) * half, FloorMod2(grid_row) * half, half, half), cx, cy, kSquare);
                continue;
            }
            for (int dr = 0; dr < 2; ++dr)
                for (int dc = 0; dc < 2; ++dc) {
                    DIB_square* f = m.finer[size_t(2 * row + dr) * (2 * m.C) + (2 * col + dc)];
                    if (f) show(f, whole, cx + dc * half, cy + dr * half, half);
                }
        }
    }
    return complete;
}

void CCachedQuickChart::RequestMissing() {
    std::vector<std::unique_ptr<DIB_square>> wanted;
    for (int row = 0; row < m_map.R; ++row) {
        for (int col = 0; col < m_map.C; ++col) {
            const size_t cell = size_t(row) * m_map.C + col;
            if (m_map.current[cell] || m_map.in_progress[cell]) continue;
            // The least recently useful square that the frame does not show.
            auto spare = m_dibs.end();
            for (auto it = m_dibs.rbegin(); it != m_dibs.rend(); ++it)
                if ((*it)->frame != m_frame_number) {
                    spare = std::prev(it.base());
                    break;
                }
            if (spare == m_dibs.end()) {
                spare = m_dibs.insert(m_dibs.end(), std::make_unique<DIB_square>());
                ++m_square_count;
            }
            std::unique_ptr<DIB_square> sq = std::move(*spare);
            m_dibs.erase(spare);
            sq->Invalidate();
            sq->zoom = m_map.zoom;
            sq->x = double(m_map.c0 + col) * kSquare;
            sq->y = double(m_map.r0 + row) * kSquare;
            sq->shortfall = 0;
            m_map.in_progress[cell] = 1;
            wanted.push_back(std::move(sq));
        }
    }
    m_worker->PutNeeded(wanted);
}
