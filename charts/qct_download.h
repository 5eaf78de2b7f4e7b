// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Chunk data of a chunked chart fetched from a chunk server. The server keeps a copy of
// the chunk file with the local layout, so everything is a byte range of that copy: its
// 40-byte header, 512-byte blocks of its offset table, and per chunk the 76-byte chunk
// header followed by as many words as the wanted detail level needs. Chunk data runs
// coarse to fine, so a chunk can be fetched a level at a time by extending it.
//
// Every request and every completion runs on the GUI thread; local writes go through the
// chunk file's own mutex, so renderer threads keep reading while chunks arrive. A chunk
// becomes reachable (offset entry, or a larger `present` in its header) only after the
// words of the finest level it then offers passed their checksum.

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "charts/qct.h"
#include "core/geometry.h"
#include "core/uiservices.h"
#include "online/onlinesettings.h"

class CWebServer_NB_sliced;

// Where the server copy of a chart's chunk file lives.
struct CChunkServerLocation {
    CServerAddress server;
    std::string path;  // request path of the server file, starting with "/"
    bool IsValid() const { return !server.host.empty() && !path.empty(); }
};

namespace qct_download {

// Characters that may appear neither in the host nor in the path of a chunk location.
inline constexpr const char* kForbiddenCharacters = " <>{}()#%\t\n;,[]`:?\\*@^|!$&~";
bool HasForbiddenCharacter(const std::string& text);

// The location a chart names (or implies) before any server is asked: the online-data
// URL split into scheme, host and path; no host means `fallback` (the configured chunk
// server); no path means "/mapchunks/<file name without extension>.qc3". False when the
// host or path holds a forbidden character.
bool LocationFromUrl(const std::string& url, const std::string& chart_path, const CServerAddress& fallback,
                     CChunkServerLocation& out, bool& url_gave_host);

// The host name a redirect file names, or "" when it names none: the first 200 bytes,
// trimmed of white space, made only of letters, digits, "-" and ".".
std::string ParseRedirect(const char* data, int length);

// Offset-table entry meanings on the server.
inline constexpr int64_t kServerBlank = -1;
inline constexpr int64_t kServerAbsent = 0;
inline constexpr int64_t kServerOffsetLimit = int64_t(1) << 40;
inline constexpr int64_t kServerEntryError = INT64_MIN;  // the block could not be fetched

inline constexpr int kInitialRequestEstimate = 4096;  // words asked for with a chunk's header
inline constexpr int kMaxRequestEstimate = 20480;
inline constexpr int kMinExtensionWords = 2000;

// Reads bytes offset … offset+length-1 of a server file (stored in 2^31-byte slices) with
// a client of its own. `done` gets the bytes received (-1 on failure), the buffer and the
// client's error text. The client lives until the answer, also when nobody waits for it
// any more: callers guard their callback.
void FetchRange(const CServerAddress& server, const std::string& path, long long offset, int length,
                std::function<void(int n, std::vector<char>& data, const std::string& error)> done);

}  // namespace qct_download

// Resolves (once per open chart) and keeps the chart's chunk location; callers that ask
// while it is being resolved wait for the same answer.
class CChunkLocationResolver {
public:
    using Callback = std::function<void(const CChunkServerLocation&)>;
    explicit CChunkLocationResolver(CQuickChart* chart) : m_chart(chart) {}
    void Resolve(Callback done);
    const CChunkServerLocation& Resolved() const { return m_location; }

private:
    void Finish(const CChunkServerLocation& found);

    CQuickChart* m_chart;
    CChunkServerLocation m_location;
    bool m_resolving = false;
    std::vector<Callback> m_waiting;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// What one chunk download needs from start to end (GUI thread).
struct DownloadChunk_context {
    using Done = std::function<void(bool ok, int level)>;

    int row = 0, column = 0;
    int wanted = 0;            // detail level wanted, 0 … 9
    int64_t local = 0;         // slice address of the local chunk header; 0 = not stored
    int64_t entry_pos = 0;     // position of the offset-table entry
    int64_t server_offset = 0;
    CQuickChart::CChunkFile::ChunkHeader header;
    std::vector<uint32_t> words;
    int estimate = 0;  // words asked for with the header
    CChunkServerLocation location;
    std::weak_ptr<CWebServer_NB_sliced> web;  // the caller's client; when it goes, so does the download
    Done done;
    // Filled in on the way, for progress and messages.
    long long bytes = 0;
    bool blank = false;       // the server says the chunk is blank
    bool fetched = false;     // something came over the network
    std::string error;        // why it failed

    // Reports now / from the event loop.
    void Callback(bool ok, int level);
    void CallbackLater(bool ok, int level);
};

// 512-byte blocks of the server's offset table, and the callbacks waiting for blocks
// still on their way.
class CQuickChart::CChunkFile::CCacheServerChunkOffset {
public:
    static constexpr int kBlockBytes = 512;
    static constexpr size_t kPurgeAt = 5001;
    using Callback = std::function<void(int64_t entry)>;

    CCacheServerChunkOffset() = default;
    CCacheServerChunkOffset(const CCacheServerChunkOffset&) = delete;
    CCacheServerChunkOffset& operator=(const CCacheServerChunkOffset&) = delete;

    // The server entry at byte position `pos` of the offset table, from the cache or
    // fetched; kServerEntryError when the block cannot be had.
    void fetch(int64_t pos, const CChunkServerLocation& location, Callback done);
    // True (with the entry) when the block is cached.
    bool Lookup(int64_t pos, int64_t& entry) const;
    bool IsPending(int64_t pos) const { return m_waiting.count(pos >> 9) > 0; }
    size_t CachedBlocks() const { return m_blocks.size(); }
    void Purge();

private:
    struct Block {
        unsigned char bytes[kBlockBytes] = {};
        int valid = 0;  // bytes that arrived
    };
    std::map<int64_t, Block> m_blocks;
    std::multimap<int64_t, Callback> m_waiting;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// What a bulk download did, for the progress dialog, the tool and the passage report.
struct CChunkDownloadReport {
    int chunks = 0;      // chunks the area, route or chart needs
    int present = 0;     // already complete on the device
    int downloaded = 0;  // fetched now
    int blank = 0;       // blank on the server
    int failed = 0;      // still missing when it ended
    long long bytes = 0;
    bool complete = false;  // every needed chunk is on the device now
    bool cancelled = false;
    std::string message;  // shown to the user when the download stopped early
};

// Bulk download of the chunks a geometry needs, 6 jobs at a time, each with its own
// web client. Owned by the chart it downloads for; the progress data is polled for
// cancel and fed with chunks and bytes.
class CQC3Downloader {
public:
    using Done = std::function<void(const CChunkDownloadReport&)>;
    static constexpr int kJobs = 6;
    static constexpr int kMaxJobFailures = 4;

    CQC3Downloader(CQuickChart3* chart, std::shared_ptr<CProgressDialogData> progress, Done done);
    virtual ~CQC3Downloader();
    CQC3Downloader(const CQC3Downloader&) = delete;
    CQC3Downloader& operator=(const CQC3Downloader&) = delete;

    // Resolves the server, fetches the chunk-file header when needed and runs the jobs.
    void Start();
    bool IsRunning() const { return m_running; }
    const CChunkDownloadReport& Report() const { return m_report; }
    // Ends it at once (before it is destroyed): the receiver hears it was cancelled.
    void Abandon();

    // Which chunks the geometry needs (chart pixels; the grid is known by then).
    virtual bool chunk_needs_download(int row, int column) const = 0;

protected:
    // The smallest box of chunks that holds everything the geometry needs.
    int m_r0 = 0, m_r1 = -1, m_c0 = 0, m_c1 = -1;
    CQuickChart3* m_chart;

private:
    struct Job;
    void OnLocation(const CChunkServerLocation& location);
    void OnHeader(bool ok);
    bool find_next_download_chunk(int& row, int& column);
    void RunJob(Job& job);
    void OnChunkDone(Job& job, bool ok);
    void Stop(const std::string& message);
    void Finish();
    void PublishProgress();
    void CheckCancel();

    std::shared_ptr<CProgressDialogData> m_progress;
    Done m_done;
    CChunkServerLocation m_location;
    std::vector<std::unique_ptr<Job>> m_jobs;
    int m_next_row = 0, m_next_column = 0;
    bool m_running = false;
    bool m_stopping = false;
    CChunkDownloadReport m_report;
    int m_done_chunks = 0;
    QTimer m_cancel_poll;  // the progress dialog's cancel, also while transfers run
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

// Chunks whose 1024 x 1024 square overlaps a polygon (chart pixels).
class CPolygonDownloader : public CQC3Downloader {
public:
    CPolygonDownloader(CQuickChart3* chart, CPolygon pixels, std::shared_ptr<CProgressDialogData> progress, Done done);
    bool chunk_needs_download(int row, int column) const override;

private:
    CPolygon m_pixels;
};

// Chunks whose centre lies nearer to a route than a distance (chart pixels).
class CRouteDownloader : public CQC3Downloader {
public:
    CRouteDownloader(CQuickChart3* chart, CPolyline pixels, double distance, std::shared_ptr<CProgressDialogData> progress,
                     Done done);
    bool chunk_needs_download(int row, int column) const override;

private:
    CPolyline m_pixels;
    double m_distance;
};

// Distance from a point to a polyline (one vertex: to that point), in its own units.
double DistanceToPolyline(const CPolyline& line, double x, double y);
