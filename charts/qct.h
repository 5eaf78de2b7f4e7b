// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// QCT chart files: header parsing, georeferencing through the header's polynomials,
// memory-mapped access to the single-file variant, the chunk file and chunk cache of the
// chunked variant, and the assembly of 32-bit pixels at any power-of-two zoom.
//
// Thread use: opening, closing and the shared-open table belong to the GUI thread.
// ReadBlock and ReadRectRGB may run on several worker threads at once; each thread
// passes its own ThreadDataForRead.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "charts/georef.h"
#include "charts/qct_format.h"
#include "charts/slicedfile.h"
#include "core/geometry.h"
#include "core/uiservices.h"

struct ThreadDataForRead;
struct CChunkServerLocation;
struct CServerAddress;
struct CChunkDownloadReport;
struct DownloadChunk_context;
class CChunkLocationResolver;
class CQC3Downloader;

class CQuickChart {
public:
    class CChunkFile;

    static constexpr uint64_t kMappingLength = 0x2004000;  // 32 MiB + 16 KiB
    static constexpr int kWindowShift = 25;                 // windows start at multiples of 32 MiB
    static constexpr uint32_t kMaxTiles = 65535;            // per side; keeps pixel sizes far from int limits

    // One entry of the shared-open table.
    struct sharedQCT {
        CQuickChart* chart = nullptr;
        int refs = 0;
        std::vector<std::function<void(CQuickChart*, bool)>> waiting;
    };
    // Path -> entry. GUI thread only.
    static std::map<std::string, sharedQCT>& sharedQCTs();

    // Opens `path` once per process; every caller gets the same object and must release it
    // with Destroy(). The callback may run before Create returns.
    static void Create(const NV_HWND& parent, const std::string& path,
                       std::function<void(CQuickChart*, bool)> callback);
    // Makes the object of the right class for the file and opens it. Files of no known
    // variant give (nullptr, false).
    static void CreateNew(const NV_HWND& parent, const std::string& path,
                          std::function<void(CQuickChart*, bool)> callback);

    virtual ~CQuickChart();
    CQuickChart(const CQuickChart&) = delete;
    CQuickChart& operator=(const CQuickChart&) = delete;

    void Open(const NV_HWND& parent, const char* path, std::function<void(bool)> callback);
    void Close();
    // Releases one reference taken by Create; the last one deletes the chart.
    void Destroy();

    virtual void invalidate_read_cache(unsigned int /*key*/) {}
    virtual void invalidate_read_cache() {}
    virtual bool is_writable() const { return false; }
    virtual bool appearsFullyDownloadedWithin(const CBounds& /*bounds*/) { return true; }

    // --- Chunk server (chunked charts; GUI thread) ---
    using LocationCallback = std::function<void(const CChunkServerLocation&)>;
    // Where the server copy of the chunk file is; resolved once, then kept. An invalid
    // location (empty host) means failure.
    void GetRedirectedDownloadPath(LocationCallback done);
    // The host a redirect file on `server` names for `path` ("" for none).
    static void GetServerRedirect(const CServerAddress& server, const std::string& path,
                                  std::function<void(const std::string& host)> done);
    // Whether `path` on `server` starts with the chunk-file magic.
    static void CheckDownloadMagic(const CServerAddress& server, const std::string& path,
                                   std::function<void(bool ok)> done);
    // Whether the companion chunk file of the chart at `path` (left unopened) appears to
    // hold every chunk; false when it has none.
    static bool appearsFullyDownloaded(const std::string& path);
    // Writes 4096 >> level bytes: 64 >> level stored (bit-reversed) rows of 64 palette
    // indices. 0 on success, non-zero when the chart cannot deliver data at all.
    virtual int ReadBlock(int x, int y, int level, unsigned char* out, ThreadDataForRead* td) = 0;
    virtual bool OnOpen() { return true; }

    // A w x h block of 0xAARRGGBB pixels whose top-left corner is image pixel (x, y), at
    // zoom z (z < 0 magnifies by 2^-z, z > 0 reduces by 2^z). 0 on success, 1 when a tile
    // could not be delivered.
    int ReadRectRGB(int x, int y, int w, int h, int stride, int zoom, unsigned int* out, ThreadDataForRead* td);

    // The mapped bytes from a file offset on, held still: while the view lives it holds the
    // mapping mutex, since the next get_addr may move the window. Empty (null data, size
    // 0) when the offset cannot be mapped. Keep it no longer than the bytes are read.
    class MappedView {
    public:
        const unsigned char* data() const { return m_data; }
        size_t size() const { return m_size; }  // bytes mapped from data() on
        explicit operator bool() const { return m_data != nullptr; }

    private:
        friend class CQuickChart;
        explicit MappedView(std::mutex& mutex) : m_lock(mutex) {}
        std::unique_lock<std::mutex> m_lock;
        const unsigned char* m_data = nullptr;
        size_t m_size = 0;
    };
    MappedView get_addr(uint64_t offset);

    static void UnpackBlock(const unsigned char* data, size_t available, unsigned char* out, int rows);
    static void ReadBlock_bitmap(const unsigned char* data, size_t available, int rows, unsigned char* out);

    // Metadata (empty when not open or absent), UTF-8.
    bool GetHeaderString(uint32_t pointer, std::string& out);
    // Reads through a plain descriptor, at most 1023 bytes (for the catalogue).
    static bool GetString(int fd, uint32_t pointer, std::string& out);
    std::string GetTitle();
    std::string GetCopyright();
    std::string GetMapType();
    std::string GetHeaderStringField(uint32_t header_offset);  // string whose pointer is at that header offset
    std::string GetExtraText() const { return m_extra_text; }
    std::string GetSourceFile() const { return m_source_file; }
    std::string GetOnlineUrl();

    bool getBoundaryPolygon(CPolygon& polygon);
    bool doesContain(double lat, double lon);

    void xy_to_latlong(int x, int y, double& lat, double& lon) const;
    void xy_to_latlong(double x, double y, double& lat, double& lon) const;
    void latlong_to_xy(double lat, double lon, double& x, double& y) const;
    bool latlong_to_xy(double lat, double lon, POINT& p) const;
    double get_scale(double x, double y) const { return m_coeffs.get_scale(x, y); }
    CPolynomialProjection GetProjection() const;

    int get_chunk_index(int cx, int cy) const { return cy * ChunkColumns() + cx; }
    void get_chunk_xy(int n, int& cx, int& cy) const {
        cx = n % ChunkColumns();
        cy = n / ChunkColumns();
    }
    int get_end_key_num() const { return ChunkColumns() * ChunkRows(); }
    int ChunkColumns() const { return TilesToChunks(m_tiles_w); }
    int ChunkRows() const { return TilesToChunks(m_tiles_h); }

    static long long getQctFileSize(const std::string& path);

    bool IsOpen() const { return m_open; }
    const std::string& Path() const { return m_path; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int TilesWide() const { return static_cast<int>(m_tiles_w); }
    int TilesHigh() const { return static_cast<int>(m_tiles_h); }
    uint32_t Version() const { return m_version; }
    uint32_t Flags() const { return m_flags; }
    bool HasDatumShift() const { return m_has_shift; }
    double DatumShiftLat() const { return m_shift_lat; }
    double DatumShiftLon() const { return m_shift_lon; }
    double CentreLon() const { return m_centre_lon; }
    const Geo_ref_coeff_t& Coeffs() const { return m_coeffs; }
    const uint32_t* Palette() const { return m_palette; }
    const uint8_t* InterpolationMatrix() const { return m_matrix; }
    long long FileSizeOnOpen() const { return static_cast<long long>(m_file_size); }
    // Base of the movable window, -1 when none (for diagnostics and tests).
    int64_t SecondaryWindowBase();
    size_t SecondaryWindowLength();

protected:
    CQuickChart() = default;
    static int TilesToChunks(uint32_t tiles) {
        return static_cast<int>((tiles + qct::kTilesPerChunkSide - 1) / qct::kTilesPerChunkSide);
    }
    uint32_t HeaderU32(uint32_t offset) const;

    bool m_open = false;
    int m_width = 0;
    int m_height = 0;
    uint32_t m_tiles_w = 0;
    uint32_t m_tiles_h = 0;
    uint32_t m_version = 0;
    uint32_t m_flags = 0;
    uint32_t m_palette[qct::kPaletteColours] = {};
    uint8_t m_matrix[qct::kMatrixBytes] = {};
    Geo_ref_coeff_t m_coeffs;
    double m_shift_lat = 0;
    double m_shift_lon = 0;
    bool m_has_shift = false;
    std::string m_extra_text;
    std::string m_source_file;
    std::string m_path;
    int m_fd = -1;
    unsigned char* m_primary = nullptr;
    size_t m_primary_len = 0;
    unsigned char* m_secondary = nullptr;
    int64_t m_secondary_base = -1;
    size_t m_secondary_len = 0;
    uint64_t m_file_size = 0;
    double m_centre_lon = 0;
    const unsigned char* m_header = nullptr;
    uint8_t m_ext[qct::extended::kSize] = {};
    uint8_t m_online[8] = {};
    std::mutex m_map_mutex;
    std::mutex m_coverage_mutex;
    CPolygon m_coverage;
    bool m_coverage_built = false;
    std::unique_ptr<CChunkLocationResolver> m_location;

private:
    bool MapPrimary(size_t length);
    void Refuse(const NV_HWND& parent, const std::string& text);
};

// Single-file variant: a tile index in the header and the tiles in the same file.
class CQuickChart1 : public CQuickChart {
public:
    CQuickChart1() = default;
    int ReadBlock(int x, int y, int level, unsigned char* out, ThreadDataForRead* td) override;
    // File offset of a tile's data, 0 outside the grid.
    uint32_t TileOffset(int x, int y) const;
};

// The companion chunk file of a chunked chart: a 40-byte header, a table of chunk
// offsets and the chunks, each a 76-byte header and run-length Huffman words.
class CQuickChart::CChunkFile {
public:
    static constexpr uint32_t kMagic = qct::chunkfile::kMagic;

    struct FileHeader {
        uint32_t magic = kMagic;
        uint32_t word1 = 0;
        uint32_t word2 = 0;
        uint32_t cx = 0;  // chunk columns
        uint32_t cy = 0;  // chunk rows
        uint32_t rest[5] = {};
    };
    static_assert(sizeof(FileHeader) == qct::chunkfile::kHeaderBytes, "chunk file header is 40 bytes");
    static_assert(offsetof(FileHeader, cx) == qct::chunkfile::kColumns &&
                  offsetof(FileHeader, cy) == qct::chunkfile::kRows);
    static constexpr int64_t kOffsetTable = qct::chunkfile::kOffsetTable;
    static constexpr int64_t kOffsetEntryBytes = qct::chunkfile::kOffsetEntryBytes;

    struct ChunkHeader {
        int32_t size[10] = {};  // words needed for level 0..9, non-increasing
        int32_t present = 0;    // words stored
        uint8_t check[10] = {};
        uint8_t reserved[22] = {};

        bool is_good() const;
        // Finest level decodable from the stored words, -1 when none.
        int level_present() const;
        bool is_fully_downloaded() const { return present >= size[0]; }
    };
    static_assert(sizeof(ChunkHeader) == qct::chunkfile::kChunkHeaderBytes, "chunk header is 76 bytes");
    static_assert(offsetof(ChunkHeader, present) == qct::chunkfile::kChunkPresent &&
                  offsetof(ChunkHeader, check) == qct::chunkfile::kChunkChecks);

    // Stored row s of a decoded chunk holds chunk pixel row chunk_bitrev[s].
    static const uint16_t* chunk_bitrev();

    class CCacheServerChunkOffset;

    CChunkFile();
    ~CChunkFile();
    CChunkFile(const CChunkFile&) = delete;
    CChunkFile& operator=(const CChunkFile&) = delete;

    // Opens "<path without extension>.QC3", else ".qc3" (created when missing). False
    // when it ends up closed (e.g. wrong magic).
    bool Open(const std::string& qct_path);
    bool IsOpen() const { return m_file.IsOpen(); }
    bool IsWritable() const { return m_file.IsWritable(); }
    const std::string& FilePath() const { return m_file_path; }
    CMultiThreadedSlicedFile& File() { return m_file; }

    bool HasHeader() const;
    FileHeader Header() const;
    int Columns() const;
    int Rows() const;
    int get_chunk_index(int cx, int cy) const { return cy * Columns() + cx; }

    // Offset table entry: 0 absent, -1 blank, otherwise the chunk header's slice address.
    // Entries that cannot be read count as absent.
    int64_t ReadOffset(int cy, int cx);
    bool WriteOffset(int cy, int cx, int64_t value);
    bool ReadChunkHeader(int64_t address, ChunkHeader& header);

    static bool CheckChecksum(const ChunkHeader& header, int level, const uint32_t* words);
    bool IsBlank(int cy, int cx);
    bool ChunkIsFullyDownloaded(int cy, int cx);
    bool appearsFullyDownloaded();
    bool WriteHeader(const FileHeader& header);

    // Fills (qct::kChunkSide >> level) stored rows of qct::kChunkSide indices. `decoded` is the level actually
    // decoded (10 = nothing). False when `out` holds nothing usable.
    bool ReadChunk(int cy, int cx, int level, unsigned char* out, int n, int& decoded, ThreadDataForRead& td);

    static void FillAbsent(unsigned char* out, int level);

    // --- Download (GUI thread) ---
    // Fetches the file header from the server when there is none yet. The server's grid
    // must be `columns` x `rows`, the chart's own.
    void download_header_if_needed(const CChunkServerLocation& location, int columns, int rows,
                                   std::function<void(bool)> done);
    void DownloadHeader(const CChunkServerLocation& location, int columns, int rows, std::function<void(bool)> done);
    // Brings one chunk to `context->wanted` or finer; see DownloadChunk_context.
    void DownloadChunk(std::shared_ptr<DownloadChunk_context> context);
    void DownloadChunk_Extension(std::shared_ptr<DownloadChunk_context> context);
    // A header is there and the chunk's server offset block is not on its way.
    bool CanDownloadChunk(int cy, int cx) const;
    CCacheServerChunkOffset& ServerOffsets() { return *m_server_offsets; }
    void PurgeServerTEOCache();
    // Words asked for together with a chunk's header (adapts to the chunks seen).
    int RequestEstimate() const { return m_request_estimate; }
    void SetRequestEstimate(int words) { m_request_estimate = words; }

private:
    void OnServerEntry(const std::shared_ptr<DownloadChunk_context>& context, int64_t entry);
    void OnFirstReply(const std::shared_ptr<DownloadChunk_context>& context, int n);
    void OnExtensionReply(const std::shared_ptr<DownloadChunk_context>& context, int n, int from_present);

    std::unique_ptr<CCacheServerChunkOffset> m_server_offsets;
    int m_request_estimate;
    bool m_header_fetching = false;
    std::vector<std::function<void(bool)>> m_header_waiting;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);

    CMultiThreadedSlicedFile m_file;
    std::string m_file_path;
    mutable std::mutex m_header_mutex;
    bool m_has_header = false;
    FileHeader m_header;
};

// Called when a chunk could only be shown coarser than wanted (or not at all, decoded 10),
// on the reading thread.
using MissingDataCallback = void (*)(void* context, CQuickChart::CChunkFile* file, int cy, int cx, int decoded,
                                     int loaded);

struct ThreadDataForRead {
    MissingDataCallback missing_data = nullptr;
    void* missing_context = nullptr;
    int largest_shortfall = 0;
    std::vector<uint32_t> words;  // chunk data being decoded
    alignas(64) unsigned char tile[qct::kTileBytes];
};

// Chunked variant: image data in the companion chunk file, decoded a chunk at a time
// into a small cache shared by all reading threads.
class CQuickChart3 : public CQuickChart {
public:
    static constexpr int kCacheLimit = 64;

    CQuickChart3() = default;
    ~CQuickChart3() override;

    int ReadBlock(int x, int y, int level, unsigned char* out, ThreadDataForRead* td) override;
    bool OnOpen() override;
    void invalidate_read_cache(unsigned int key) override;
    void invalidate_read_cache() override;
    bool is_writable() const override;
    bool appearsFullyDownloadedWithin(const CBounds& bounds) override;

    CChunkFile* ChunkFile() { return m_chunkfile.get(); }

    // --- Bulk downloads (GUI thread) ---
    // Each fetches every chunk its geometry needs at full detail, with progress and
    // cancel through `progress`, and reports when it ends. One runs at a time per chart:
    // a new one replaces the one running (which reports as cancelled); closing the chart
    // ends it without a report. Problems are shown to the user as well as reported.
    using BulkDone = std::function<void(const CChunkDownloadReport&)>;
    // `area`: latitude/longitude vertices (x = longitude).
    void DownloadPolygon(const CPolygon& area, std::shared_ptr<CProgressDialogData> progress, BulkDone done);
    // `route`: latitude/longitude vertices; chunks whose centre lies within `distance_nm`
    // nautical miles of it.
    void DownloadRoute(const CPolyline& route, double distance_nm, std::shared_ptr<CProgressDialogData> progress,
                       BulkDone done);
    // The same in chart pixels: chunks whose centre lies nearer than `distance` pixels.
    void DownloadRouteInPixels(const CPolyline& pixels, double distance, std::shared_ptr<CProgressDialogData> progress,
                               BulkDone done);
    void DownloadWholeMap(std::shared_ptr<CProgressDialogData> progress, BulkDone done);
    bool IsDownloading() const;
    void CancelDownload();
    // Bytes a whole-chart download would bring (an estimate from the server's chunk
    // headers of a sample of chunks); -1 when the server cannot be asked.
    void estimate_whole_map_size(std::function<void(long long bytes)> done);
    // Chunks inside the chart-pixel box (inclusive chunk rows/columns) that are fully
    // downloaded, and the number looked at.
    void CountFullyDownloaded(int r0, int c0, int r1, int c1, int& complete, int& total);

    struct CachedChunk {
        static constexpr uint32_t kNoKey = 0xFFFFFFFFu;
        std::atomic<uint32_t> key{kNoKey};  // qct::ChunkKey::RowMajor()
        std::atomic<int> wanted{999};       // finest level any reader asked for
        std::atomic<int> loaded{999};       // 999 = nothing loaded
        std::atomic<int> decoded{10};       // what the chunk file delivered; 10 = nothing
        std::shared_mutex lock;
        std::unique_ptr<unsigned char[]> buffer;  // qct::kChunkBytes indices, stored-row order
        std::list<CachedChunk*>::iterator mru;
    };

private:
    CachedChunk* FindOrRecycle(uint32_t key, int level);

    void StartBulk(std::unique_ptr<CQC3Downloader> downloader, const BulkDone& done);
    // Chart pixels of a latitude/longitude vertex list.
    std::vector<Vertex> ToPixels(const std::vector<Vertex>& lonlat) const;

    std::unique_ptr<CChunkFile> m_chunkfile;
    std::unique_ptr<CQC3Downloader> m_downloader;  // before the chunk file goes
    std::mutex m_cache_mutex;
    std::map<uint32_t, CachedChunk*> m_cache;
    std::list<CachedChunk*> m_mru;  // front = most recent
    std::vector<std::unique_ptr<CachedChunk>> m_entries;
};
