// SPDX-License-Identifier: GPL-3.0-or-later
// The chunked variant: its companion chunk file and the chunk cache.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "charts/codec.h"
#include "charts/qct.h"
#include "charts/qct_download.h"
#include "core/apppaths.h"

namespace {

std::string WithExtension(const std::string& path, const char* ext) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

constexpr int kNoLevel = 10;
constexpr uint32_t kMaxGrid = qct::ChunkKey::kMaxIndex + 1;  // chunk keys hold 16-bit rows and columns
constexpr int kChunk = qct::kChunkSide;

// Clamps a pixel coordinate to a chunk column/row in 0..limit-1; NaN goes to 0.
int PixelToChunk(double v, int limit) {
    if (!(v >= 0)) return 0;
    if (v >= double(limit) * kChunk) return limit - 1;
    return std::min(limit - 1, static_cast<int>(v) >> qct::kChunkShift);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Chunk headers

bool CQuickChart::CChunkFile::ChunkHeader::is_good() const {
    if (size[0] > 0xFFFFF) return false;
    for (int i = 1; i < 10; ++i)
        if (size[i] > size[i - 1]) return false;
    return true;
}

int CQuickChart::CChunkFile::ChunkHeader::level_present() const {
    for (int level = 0; level < 10; ++level)
        if (present >= size[level]) return level;
    return -1;
}

const uint16_t* CQuickChart::CChunkFile::chunk_bitrev() {
    static const struct Table {
        uint16_t t[kChunk];
        Table() {
            for (unsigned i = 0; i < kChunk; ++i) t[i] = static_cast<uint16_t>(BitReverse(i, qct::kChunkShift));
        }
    } table;
    return table.t;
}

bool CQuickChart::CChunkFile::CheckChecksum(const ChunkHeader& header, int level, const uint32_t* words) {
    if (level < 0 || level > 9) return false;
    const int n = header.size[level];
    if (n <= 0) return n == 0 && header.check[level] == 0;
    uint32_t s = 0;
    for (int i = 0; i < n; ++i) s += words[i];
    const uint32_t t = s + (s >> 8) + (s >> 16) + (s >> 24);
    return (t & 0xFF) == header.check[level];
}

// ---------------------------------------------------------------------------------------
// Chunk file

bool CQuickChart::CChunkFile::Open(const std::string& qct_path) {
    std::string path = WithExtension(qct_path, ".QC3");
    if (!FileExists(path) && !DirectoryExists(path)) path = WithExtension(qct_path, ".qc3");
    m_file_path = path;
    // Prefer a writable handle so that downloads can fill the file; a read-only medium
    // still lets the chart be shown.
    if (!m_file.ReOpen(path, CFile64::modeReadWrite) && !m_file.ReOpen(path, CFile64::modeRead)) return false;
    FileHeader header;
    const long long n = m_file.LockedRead(0, &header, sizeof header);
    std::lock_guard<std::mutex> lock(m_header_mutex);
    m_has_header = false;
    if (n < static_cast<long long>(sizeof header)) return true;  // the header is still to be fetched
    if (header.magic != kMagic || header.cx == 0 || header.cy == 0 || header.cx > kMaxGrid || header.cy > kMaxGrid) {
        m_file.Close();
        return false;
    }
    m_header = header;
    m_has_header = true;
    return true;
}

bool CQuickChart::CChunkFile::HasHeader() const {
    std::lock_guard<std::mutex> lock(m_header_mutex);
    return m_has_header;
}

CQuickChart::CChunkFile::FileHeader CQuickChart::CChunkFile::Header() const {
    std::lock_guard<std::mutex> lock(m_header_mutex);
    return m_header;
}

int CQuickChart::CChunkFile::Columns() const {
    std::lock_guard<std::mutex> lock(m_header_mutex);
    return m_has_header ? static_cast<int>(m_header.cx) : 0;
}

int CQuickChart::CChunkFile::Rows() const {
    std::lock_guard<std::mutex> lock(m_header_mutex);
    return m_has_header ? static_cast<int>(m_header.cy) : 0;
}

int64_t CQuickChart::CChunkFile::ReadOffset(int cy, int cx) {
    const int cols = Columns(), rows = Rows();
    if (cx < 0 || cy < 0 || cx >= cols || cy >= rows) return 0;
    int64_t value = 0;
    const int64_t at = kOffsetTable + kOffsetEntryBytes * (int64_t(cy) * cols + cx);
    if (m_file.LockedRead(at, &value, sizeof value) != static_cast<long long>(sizeof value)) return 0;
    return value;
}

bool CQuickChart::CChunkFile::WriteOffset(int cy, int cx, int64_t value) {
    const int cols = Columns(), rows = Rows();
    if (cx < 0 || cy < 0 || cx >= cols || cy >= rows || !m_file.IsWritable()) return false;
    const int64_t at = kOffsetTable + kOffsetEntryBytes * (int64_t(cy) * cols + cx);
    return m_file.LockedWrite(at, &value, sizeof value);
}

bool CQuickChart::CChunkFile::ReadChunkHeader(int64_t address, ChunkHeader& header) {
    if (address <= 0) return false;
    return m_file.LockedRead(address, &header, sizeof header) == static_cast<long long>(sizeof header);
}

bool CQuickChart::CChunkFile::IsBlank(int cy, int cx) {
    const int64_t v = ReadOffset(cy, cx);
    return v == 0 || v == -1;
}

bool CQuickChart::CChunkFile::ChunkIsFullyDownloaded(int cy, int cx) {
    const int64_t v = ReadOffset(cy, cx);
    if (v == -1) return true;
    if (v == 0) return false;
    ChunkHeader h;
    return ReadChunkHeader(v, h) && h.is_good() && h.is_fully_downloaded();
}

bool CQuickChart::CChunkFile::appearsFullyDownloaded() {
    if (!HasHeader()) return false;
    // A sample, so that a catalogue of many large charts is refreshed quickly: every
    // s-th chunk row away from the edges, and in it the entries away from the edges.
    // Only entries never filled count against it.
    const int cols = Columns(), rows = Rows();
    const int m = (cols + rows) / 32;
    if (m >= rows) return true;
    const int step = rows / 16 + 1;
    if (cols - 2 * m <= 0) return true;
    std::vector<int64_t> entries(size_t(cols - 2 * m));
    const long long bytes = static_cast<long long>(entries.size()) * kOffsetEntryBytes;
    for (int cy = m; cy < rows; cy += step) {
        const int64_t at = kOffsetTable + kOffsetEntryBytes * (int64_t(cy) * cols + m);
        if (m_file.LockedRead(at, entries.data(), size_t(bytes)) != bytes) return false;
        for (int64_t e : entries)
            if (e == 0) return false;
    }
    return true;
}

bool CQuickChart::appearsFullyDownloaded(const std::string& path) {
    for (const char* ext : {".QC3", ".qc3"}) {
        const std::string store = WithExtension(path, ext);
        if (!FileExists(store) && !DirectoryExists(store)) continue;
        CChunkFile chunks;
        return chunks.Open(path) && chunks.appearsFullyDownloaded();
    }
    return false;
}

bool CQuickChart::CChunkFile::WriteHeader(const FileHeader& header) {
    if (!m_file.IsWritable()) return false;
    if (header.cx == 0 || header.cy == 0 || header.cx > kMaxGrid || header.cy > kMaxGrid) return false;
    const int error_before = m_file.LastError();
    if (!m_file.LockedWrite(0, &header, sizeof header)) {
        m_file.Close();
        return false;
    }
    bool ok = true;
    const std::vector<int64_t> row(header.cx, 0);
    for (uint32_t cy = 0; cy < header.cy && ok; ++cy)
        ok = m_file.LockedWrite(kOffsetTable + int64_t(cy) * header.cx * kOffsetEntryBytes, row.data(),
                                row.size() * kOffsetEntryBytes);
    if (!ok || m_file.LastError() != error_before) return false;
    std::lock_guard<std::mutex> lock(m_header_mutex);
    m_header = header;
    m_has_header = true;
    return true;
}

void CQuickChart::CChunkFile::FillAbsent(unsigned char* out, int level) {
    const int rows = kChunk >> level;
    std::memset(out, 1, size_t(rows) * kChunk);
    // A frame on the top and left edges marks each missing chunk.
    std::memset(out, 0, kChunk);
    for (int r = 0; r < rows; ++r) out[size_t(r) * kChunk] = 0;
}

bool CQuickChart::CChunkFile::ReadChunk(int cy, int cx, int level, unsigned char* out, int /*n*/, int& decoded,
                                        ThreadDataForRead& td) {
    level = std::clamp(level, 0, 9);
    decoded = kNoLevel;
    if (!HasHeader()) {
        // Nothing known about the chunks yet: they all still have to be fetched.
        FillAbsent(out, level);
        return true;
    }
    if (cx < 0 || cy < 0 || cx >= Columns() || cy >= Rows()) return false;
    const int64_t offset = ReadOffset(cy, cx);
    if (offset == -1) {
        std::memset(out, 1, size_t(kChunk >> level) * kChunk);
        decoded = level;
        return true;
    }
    if (offset == 0) {
        FillAbsent(out, level);
        return true;
    }
    ChunkHeader h;
    if (!ReadChunkHeader(offset, h)) return false;
    int lev = level;
    while (lev <= 9 && h.present < h.size[lev]) ++lev;
    if (lev > 9) {
        FillAbsent(out, level);
        return true;
    }
    if (!h.is_good() || h.size[lev] < 1) return false;
    const size_t words = static_cast<size_t>(h.size[lev]);
    if (td.words.size() < words) td.words.resize((words + 1023) / 1024 * 1024);
    const long long bytes = static_cast<long long>(words) * 4;
    if (m_file.LockedRead(offset + int64_t(sizeof h), td.words.data(), size_t(bytes)) != bytes) return false;
    if (!CHuffmanEncoding::decode_run(td.words.data(), h.size[lev], out, qct::kChunkBytes >> lev)) {
        // Bad data: forget the chunk so that it is fetched again.
        WriteOffset(cy, cx, 0);
        return false;
    }
    for (int l = lev; l > level; --l) {
        const size_t half = size_t(qct::kChunkBytes) >> l;
        std::memcpy(out + half, out, half);
    }
    decoded = lev;
    return true;
}

// ---------------------------------------------------------------------------------------
// Chunked chart

CQuickChart3::~CQuickChart3() { Close(); }

bool CQuickChart3::OnOpen() {
    m_downloader.reset();
    auto file = std::make_unique<CChunkFile>();
    if (!file->Open(m_path)) {
        m_chunkfile.reset();
        return false;
    }
    m_chunkfile = std::move(file);
    return true;
}

bool CQuickChart3::is_writable() const { return m_chunkfile && m_chunkfile->IsWritable(); }

bool CQuickChart3::appearsFullyDownloadedWithin(const CBounds& b) {
    if (!m_chunkfile || !m_chunkfile->HasHeader()) return false;
    double xmin = 1e300, xmax = -1e300, ymin = 1e300, ymax = -1e300;
    const double corners[4][2] = {{b.ymin, b.xmin}, {b.ymin, b.xmax}, {b.ymax, b.xmax}, {b.ymax, b.xmin}};
    for (const auto& c : corners) {
        double x, y;
        latlong_to_xy(c[0], c[1], x, y);
        xmin = std::min(xmin, x);
        xmax = std::max(xmax, x);
        ymin = std::min(ymin, y);
        ymax = std::max(ymax, y);
    }
    const int cols = m_chunkfile->Columns(), rows = m_chunkfile->Rows();
    const int cx0 = PixelToChunk(xmin, cols), cx1 = PixelToChunk(xmax, cols);
    const int cy0 = PixelToChunk(ymin, rows), cy1 = PixelToChunk(ymax, rows);
    const int probes[5][2] = {{cx0, cy0}, {cx1, cy0}, {cx1, cy1}, {cx0, cy1}, {(cx0 + cx1) / 2, (cy0 + cy1) / 2}};
    for (const auto& p : probes)
        if (!m_chunkfile->ChunkIsFullyDownloaded(p[1], p[0])) return false;
    return true;
}

CQuickChart3::CachedChunk* CQuickChart3::FindOrRecycle(uint32_t key, int level) {
    std::lock_guard<std::mutex> lock(m_cache_mutex);
    auto it = m_cache.find(key);
    if (it != m_cache.end()) {
        CachedChunk* e = it->second;
        m_mru.splice(m_mru.begin(), m_mru, e->mru);
        return e;
    }
    CachedChunk* e = nullptr;
    const bool back_is_free = !m_mru.empty() && m_mru.back()->key.load() == CachedChunk::kNoKey;
    if (!back_is_free && static_cast<int>(m_entries.size()) < kCacheLimit) {
        m_entries.push_back(std::make_unique<CachedChunk>());
        e = m_entries.back().get();
        m_mru.push_front(e);
        e->mru = m_mru.begin();
    } else {
        e = m_mru.back();
        m_mru.splice(m_mru.begin(), m_mru, e->mru);
    }
    std::unique_lock<std::shared_mutex> wl(e->lock);
    const uint32_t old = e->key.load();
    if (old != CachedChunk::kNoKey) m_cache.erase(old);
    e->key = key;
    e->wanted = level;
    e->loaded = 999;
    e->decoded = kNoLevel;
    m_cache[key] = e;
    return e;
}

int CQuickChart3::ReadBlock(int x, int y, int level, unsigned char* out, ThreadDataForRead* td) {
    if (!m_chunkfile) return 1;
    level = std::clamp(level, 0, 6);
    constexpr int kTile = qct::kTileSide, kPerChunk = qct::kTilesPerChunkSide;
    const int rows = kTile >> level;
    if (x < 0 || y < 0 || uint32_t(x) >= m_tiles_w || uint32_t(y) >= m_tiles_h) {
        std::memset(out, 1, size_t(rows) * kTile);
        return 0;
    }
    ThreadDataForRead local_td;
    ThreadDataForRead& t = td ? *td : local_td;
    const int cx = x / kPerChunk, cy = y / kPerChunk;
    const uint32_t key = qct::ChunkKey{cy, cx}.RowMajor();
    for (;;) {
        CachedChunk* e = FindOrRecycle(key, level);
        int wanted = e->wanted.load();
        while (level < wanted && !e->wanted.compare_exchange_weak(wanted, level)) {
        }
        if (e->loaded.load() > e->wanted.load()) {
            std::unique_lock<std::shared_mutex> wl(e->lock);
            if (e->key.load() != key) continue;
            const int want = e->wanted.load();
            if (e->loaded.load() > want) {
                if (!e->buffer) e->buffer = std::make_unique<unsigned char[]>(qct::kChunkBytes);
                int decoded = kNoLevel;
                if (!m_chunkfile->ReadChunk(cy, cx, want, e->buffer.get(), get_chunk_index(cx, cy), decoded, t)) {
                    std::memset(e->buffer.get(), 0, qct::kChunkBytes);
                    // Only a chunk that was just marked absent is worth asking for again.
                    if (decoded != kNoLevel || m_chunkfile->ReadOffset(cy, cx) != 0) decoded = want;
                }
                e->decoded = decoded;
                e->loaded = want;
            }
        }
        std::shared_lock<std::shared_mutex> rl(e->lock);
        if (e->key.load() != key || e->loaded.load() > level || !e->buffer) continue;
        const int loaded = e->loaded.load(), decoded = e->decoded.load();
        if (decoded > loaded) {
            if (decoded - loaded > t.largest_shortfall) t.largest_shortfall = decoded - loaded;
            if (t.missing_data) t.missing_data(t.missing_context, m_chunkfile.get(), cy, cx, decoded, loaded);
        }
        // Tile row t of the chunk starts at stored row rev4(t); its rows follow every 16th.
        const unsigned base_row = BitReverse(unsigned(y % kPerChunk), qct::kChunkShift - qct::kTileShift);
        const unsigned char* src = e->buffer.get() + kTile * (x % kPerChunk);
        for (int k = 0; k < rows; ++k)
            std::memcpy(out + kTile * k, src + size_t(base_row + kPerChunk * k) * kChunk, kTile);
        return 0;
    }
}

void CQuickChart3::invalidate_read_cache(unsigned int key) {
    std::lock_guard<std::mutex> lock(m_cache_mutex);
    auto it = m_cache.find(key);
    if (it == m_cache.end()) return;
    CachedChunk* e = it->second;
    std::unique_lock<std::shared_mutex> wl(e->lock);
    e->wanted = 999;
    e->loaded = 999;
    e->decoded = kNoLevel;
}

void CQuickChart3::invalidate_read_cache() {
    // Entries stay allocated (a reader may hold a pointer it has not locked yet) but give
    // up their keys and buffers; readers notice the key change and look again.
    std::lock_guard<std::mutex> lock(m_cache_mutex);
    for (auto& e : m_entries) {
        std::unique_lock<std::shared_mutex> wl(e->lock);
        e->key = CachedChunk::kNoKey;
        e->wanted = 999;
        e->loaded = 999;
        e->decoded = kNoLevel;
        e->buffer.reset();
        m_mru.splice(m_mru.end(), m_mru, e->mru);
    }
    m_cache.clear();
}

