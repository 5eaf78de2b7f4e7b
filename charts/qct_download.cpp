// SPDX-License-Identifier: GPL-3.0-or-later
// Chunk data from the chunk server: where the server copy is, its header and offset
// table, single chunks fetched and extended level by level, and bulk downloads.
#include "charts/qct_download.h"

#include <QTimer>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "core/apppaths.h"
#include "core/threadcheck.h"
#include "online/webclient.h"

namespace {

using ChunkHeader = CQuickChart::CChunkFile::ChunkHeader;
constexpr int kHeaderWords = qct::chunkfile::kChunkHeaderBytes / 4;
static_assert(qct::chunkfile::kChunkHeaderBytes % 4 == 0, "chunk data follows its header word-aligned");
constexpr int kChunk = qct::kChunkSide;

// A good header whose sizes are usable as counts.
bool Usable(const ChunkHeader& h) {
    return h.is_good() && h.size[9] >= 0;
}

uint32_t LoadU32(const char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Locations

bool qct_download::HasForbiddenCharacter(const std::string& text) {
    return text.find_first_of(kForbiddenCharacters, 0, std::strlen(kForbiddenCharacters)) != std::string::npos;
}

bool qct_download::LocationFromUrl(const std::string& url, const std::string& chart_path,
                                   const CServerAddress& fallback, CChunkServerLocation& out, bool& url_gave_host) {
    std::string scheme, rest = url;
    const size_t sep = url.find("://");
    if (sep != std::string::npos) {
        scheme = url.substr(0, sep);
        rest = url.substr(sep + 3);
    }
    std::string host, path;
    const size_t slash = rest.find('/');
    if (sep == std::string::npos && slash == 0) {
        path = rest;  // a path alone
    } else {
        host = rest.substr(0, slash);
        if (slash != std::string::npos) path = rest.substr(slash);
    }
    if (path.empty() || path == "/") {
        std::string name = FileNameOf(chart_path);
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos) name.resize(dot);
        path = "/mapchunks/" + name + ".qc3";
    }
    url_gave_host = !host.empty();
    if (url_gave_host) {
        out.server = CServerAddress();
        out.server.secure = scheme == "https";
        out.server.host = host;
        out.server.port = 0;
    } else {
        out.server = fallback;
    }
    out.path = path;
    return !HasForbiddenCharacter(out.server.host) && !HasForbiddenCharacter(out.path);
}

std::string qct_download::ParseRedirect(const char* data, int length) {
    std::string text(data, size_t(std::clamp(length, 0, 200)));
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    while (!text.empty() && space(text.back())) text.pop_back();
    size_t start = 0;
    while (start < text.size() && space(text[start])) ++start;
    text.erase(0, start);
    if (text.empty()) return {};
    for (unsigned char c : text)
        if (!std::isalnum(c) && c != '-' && c != '.') return {};
    return text;
}

void qct_download::FetchRange(const CServerAddress& server, const std::string& path, long long offset, int length,
                              std::function<void(int, std::vector<char>&, const std::string&)> done) {
    auto* web = new CWebServer_NB_sliced(server, true);
    auto buffer = std::make_shared<std::vector<char>>(size_t(std::max(length, 0)));
    web->ReadSlices(path, offset, length, buffer->data(), [web, buffer, done](int n) {
        const std::string error = web->ErrorText();
        web->deleteLater();  // not here: this callback is stored inside it
        done(n, *buffer, error);
    });
}

void CQuickChart::GetServerRedirect(const CServerAddress& server, const std::string& path,
                                    std::function<void(const std::string&)> done) {
    qct_download::FetchRange(server, path + ".redir.txt", 0, 200,
                             [done](int n, std::vector<char>& data, const std::string&) {
                                 done(n > 0 ? qct_download::ParseRedirect(data.data(), n) : std::string());
                             });
}

void CQuickChart::CheckDownloadMagic(const CServerAddress& server, const std::string& path,
                                     std::function<void(bool)> done) {
    qct_download::FetchRange(server, path, 0, 4, [done](int n, std::vector<char>& data, const std::string&) {
        done(n == 4 && LoadU32(data.data()) == qct::chunkfile::kMagic);
    });
}

void CQuickChart::GetRedirectedDownloadPath(LocationCallback done) {
    NV_ASSERT_GUI_THREAD();
    if (!m_location) m_location = std::make_unique<CChunkLocationResolver>(this);
    m_location->Resolve(std::move(done));
}

void CChunkLocationResolver::Resolve(Callback done) {
    if (m_location.IsValid()) return done(m_location);
    m_waiting.push_back(std::move(done));
    if (m_resolving) return;
    m_resolving = true;

    const CServerAddress fallback = COnlineSettings::GetServer(COnlineSettings::kChartServer);
    CChunkServerLocation named;
    bool gave_host = false;
    if (!qct_download::LocationFromUrl(m_chart->GetOnlineUrl(), m_chart->Path(), fallback, named, gave_host))
        return Finish({});
    std::weak_ptr<int> alive = m_alive;
    const std::string path = named.path;
    // The default server itself, once its magic proves it holds the file.
    auto try_default = [this, alive, fallback, path]() {
        CQuickChart::CheckDownloadMagic(fallback, path, [this, alive, fallback, path](bool ok) {
            if (alive.expired()) return;
            CChunkServerLocation found;
            if (ok) found = {fallback, path};
            Finish(found);
        });
    };
    // The host the default server's redirect file names, else the default server.
    auto via_redirect = [this, alive, fallback, path, try_default]() {
        CQuickChart::GetServerRedirect(fallback, path, [this, alive, fallback, path, try_default](const std::string& host) {
            if (alive.expired()) return;
            if (host.empty()) return try_default();
            CServerAddress redirected = fallback;  // same scheme and port, another host
            redirected.host = host;
            CQuickChart::CheckDownloadMagic(redirected, path, [this, alive, redirected, path, try_default](bool ok) {
                if (alive.expired()) return;
                if (ok) return Finish({redirected, path});
                try_default();
            });
        });
    };
    if (!gave_host) return via_redirect();
    CQuickChart::CheckDownloadMagic(named.server, path, [this, alive, named, via_redirect](bool ok) {
        if (alive.expired()) return;
        if (ok) return Finish(named);
        via_redirect();
    });
}

void CChunkLocationResolver::Finish(const CChunkServerLocation& found) {
    m_resolving = false;
    if (found.IsValid()) m_location = found;  // a failure is asked again next time
    std::vector<Callback> waiting;
    waiting.swap(m_waiting);
    std::weak_ptr<int> alive = m_alive;
    for (auto& cb : waiting) {
        cb(found);
        if (alive.expired()) return;
    }
}

// ---------------------------------------------------------------------------------------
// Server offset table

void CQuickChart::CChunkFile::CCacheServerChunkOffset::Purge() {
    m_blocks.clear();
}

bool CQuickChart::CChunkFile::CCacheServerChunkOffset::Lookup(int64_t pos, int64_t& entry) const {
    auto it = m_blocks.find(pos >> 9);
    if (it == m_blocks.end()) return false;
    const int at = int(pos & 511);
    if (at + 8 > it->second.valid) return false;
    std::memcpy(&entry, it->second.bytes + at, 8);
    return true;
}

void CQuickChart::CChunkFile::CCacheServerChunkOffset::fetch(int64_t pos, const CChunkServerLocation& location,
                                                             Callback done) {
    if (pos < 0) return done(qct_download::kServerEntryError);
    int64_t entry = 0;
    if (Lookup(pos, entry)) return done(entry);
    const int64_t block = pos >> 9;
    const bool pending = m_waiting.count(block) > 0;
    m_waiting.emplace(block, [pos, done, this](int64_t) {
        int64_t e = qct_download::kServerEntryError;
        Lookup(pos, e);
        done(e);
    });
    if (pending) return;
    if (m_blocks.size() >= kPurgeAt && m_waiting.size() == 1) m_blocks.clear();
    m_blocks.erase(block);  // a block that arrived short is asked for again
    std::weak_ptr<int> alive = m_alive;
    qct_download::FetchRange(location.server, location.path, block << 9, kBlockBytes,
                             [this, alive, block](int n, std::vector<char>& data, const std::string&) {
                                 if (alive.expired()) return;
                                 if (n > 0) {
                                     Block& b = m_blocks[block];
                                     std::memcpy(b.bytes, data.data(), size_t(std::min(n, kBlockBytes)));
                                     b.valid = std::min(n, kBlockBytes);
                                 }
                                 std::vector<Callback> waiting;
                                 auto range = m_waiting.equal_range(block);
                                 for (auto it = range.first; it != range.second; ++it) waiting.push_back(std::move(it->second));
                                 m_waiting.erase(range.first, range.second);
                                 for (auto& cb : waiting) {
                                     cb(0);
                                     if (alive.expired()) return;
                                 }
                             });
}

// ---------------------------------------------------------------------------------------
// Chunk file: header and chunks

CQuickChart::CChunkFile::CChunkFile()
    : m_server_offsets(std::make_unique<CCacheServerChunkOffset>()),
      m_request_estimate(qct_download::kInitialRequestEstimate) {}

CQuickChart::CChunkFile::~CChunkFile() = default;

void CQuickChart::CChunkFile::PurgeServerTEOCache() {
    m_server_offsets->Purge();
}

bool CQuickChart::CChunkFile::CanDownloadChunk(int cy, int cx) const {
    if (!HasHeader()) return false;
    const int64_t pos = kOffsetTable + kOffsetEntryBytes * (int64_t(cy) * Columns() + cx);
    return !m_server_offsets->IsPending(pos);
}

void CQuickChart::CChunkFile::download_header_if_needed(const CChunkServerLocation& location, int columns, int rows,
                                                        std::function<void(bool)> done) {
    if (HasHeader()) return done(true);
    if (!IsWritable() || !location.IsValid()) return done(false);
    m_header_waiting.push_back(std::move(done));
    if (m_header_fetching) return;
    m_header_fetching = true;
    std::weak_ptr<int> alive = m_alive;
    DownloadHeader(location, columns, rows, [this, alive](bool ok) {
        if (alive.expired()) return;
        m_header_fetching = false;
        std::vector<std::function<void(bool)>> waiting;
        waiting.swap(m_header_waiting);
        for (auto& cb : waiting) {
            cb(ok);
            if (alive.expired()) return;
        }
    });
}

void CQuickChart::CChunkFile::DownloadHeader(const CChunkServerLocation& location, int columns, int rows,
                                             std::function<void(bool)> done) {
    std::weak_ptr<int> alive = m_alive;
    qct_download::FetchRange(location.server, location.path, 0, int(sizeof(FileHeader)),
                             [this, alive, columns, rows, done](int n, std::vector<char>& data, const std::string&) {
                                 if (alive.expired()) return;
                                 FileHeader h;
                                 bool ok = n == int(sizeof h);
                                 if (ok) std::memcpy(static_cast<void*>(&h), data.data(), sizeof h);
                                 // A server grid other than the chart's would put chunks in the wrong places.
                                 ok = ok && h.magic == kMagic && int64_t(h.cx) == columns && int64_t(h.cy) == rows;
                                 done(ok && WriteHeader(h));
                             });
}

void DownloadChunk_context::Callback(bool ok, int level) {
    if (!done) return;
    Done d = std::move(done);
    done = nullptr;
    d(ok, level);
}

void DownloadChunk_context::CallbackLater(bool ok, int level) {
    Done d = std::move(done);
    done = nullptr;
    if (d) QTimer::singleShot(0, [d, ok, level] { d(ok, level); });
}

void CQuickChart::CChunkFile::DownloadChunk(std::shared_ptr<DownloadChunk_context> c) {
    NV_ASSERT_GUI_THREAD();
    const int cols = Columns(), rows = Rows();
    if (!IsWritable() || !HasHeader() || c->row < 0 || c->column < 0 || c->row >= rows || c->column >= cols ||
        c->wanted < 0 || c->wanted > 9) {
        c->error = "The chunk cannot be stored.";
        return c->Callback(false, -1);
    }
    c->entry_pos = kOffsetTable + kOffsetEntryBytes * (int64_t(c->row) * cols + c->column);
    c->local = 0;
    const int64_t v = ReadOffset(c->row, c->column);
    if (v == -1) return c->CallbackLater(true, 0);
    if (v != 0) {
        ChunkHeader h;
        if (ReadChunkHeader(v, h) && Usable(h)) {
            if (h.present >= h.size[c->wanted]) return c->CallbackLater(true, h.level_present());
            c->local = v;
            c->header = h;
        }
    }
    int64_t entry = 0;
    if (m_server_offsets->Lookup(c->entry_pos, entry) && entry != 0) return OnServerEntry(c, entry);
    std::weak_ptr<int> alive = m_alive;
    m_server_offsets->fetch(c->entry_pos, c->location, [this, alive, c](int64_t e) {
        if (alive.expired()) return;
        OnServerEntry(c, e);
    });
}

void CQuickChart::CChunkFile::OnServerEntry(const std::shared_ptr<DownloadChunk_context>& c, int64_t entry) {
    if (entry == qct_download::kServerBlank) {
        c->blank = true;
        if (!WriteOffset(c->row, c->column, -1)) {
            c->error = "The chunk cannot be stored.";
            return c->Callback(false, -1);
        }
        return c->CallbackLater(true, 0);
    }
    if (entry <= 0 || entry >= qct_download::kServerOffsetLimit) {
        c->error = entry == qct_download::kServerEntryError ? "The server's chunk table cannot be read."
                                                            : "The server does not have this part of the chart.";
        return c->Callback(false, -1);
    }
    c->server_offset = entry;
    if (c->local) return DownloadChunk_Extension(c);
    auto web = c->web.lock();
    if (!web) return c->Callback(false, -1);
    c->estimate = std::clamp(m_request_estimate, 0, qct_download::kMaxRequestEstimate);
    c->words.assign(size_t(kHeaderWords + c->estimate), 0);
    std::weak_ptr<int> alive = m_alive;
    web->ReadSlices(c->location.path, entry, 4 * (kHeaderWords + c->estimate), c->words.data(),
                    [this, alive, c](int n) {
                        if (alive.expired()) return;
                        OnFirstReply(c, n);
                    });
}

void CQuickChart::CChunkFile::OnFirstReply(const std::shared_ptr<DownloadChunk_context>& c, int n) {
    auto fail = [&c](const std::string& why) {
        c->error = why;
        c->Callback(false, -1);
    };
    if (n > 0) {
        c->bytes += n;
        c->fetched = true;
    }
    if (n < 0) {
        auto web = c->web.lock();
        return fail(web && !web->ErrorText().empty() ? web->ErrorText() : "No answer from the server.");
    }
    if (n <= int(sizeof(ChunkHeader)) - 1) return fail("The server's answer was too short.");
    ChunkHeader h;
    std::memcpy(static_cast<void*>(&h), c->words.data(), sizeof h);
    if (!Usable(h)) return fail("The server sent a damaged chunk.");
    const int words = (n - int(sizeof h)) / 4;
    h.present = std::min(h.size[0], words);
    const uint32_t* data = c->words.data() + kHeaderWords;
    const int level = h.level_present();
    if (level >= 0 && !CheckChecksum(h, level, data)) return fail("The server sent a damaged chunk.");
    const int64_t at = m_file.AllocAtEnd2(int64_t(sizeof h) + 4 * int64_t(h.size[0]), 4);
    if (at <= 0 || !m_file.LockedWrite2(at, &h, sizeof h, data, size_t(h.present) * 4) ||
        !WriteOffset(c->row, c->column, at))
        return fail("The chunk cannot be stored.");
    c->local = at;
    c->header = h;
    // Ask for about the right amount with the next chunk's header.
    const int64_t wanted = h.size[c->wanted];
    if (wanted > m_request_estimate)
        m_request_estimate = int(std::min<int64_t>(wanted * 1126 / 1024, qct_download::kMaxRequestEstimate));
    else if (m_request_estimate > int64_t(h.size[0]) * 1126 / 1024)
        m_request_estimate = int(int64_t(h.size[0]) * 1126 / 1024);
    DownloadChunk_Extension(c);
}

void CQuickChart::CChunkFile::DownloadChunk_Extension(std::shared_ptr<DownloadChunk_context> c) {
    ChunkHeader& h = c->header;
    int need = h.size[c->wanted] - h.present;
    if (need <= 0) return c->Callback(true, h.level_present());
    // Small steps cost a request each: take the finer levels along while they are cheap.
    for (int level = c->wanted; need < qct_download::kMinExtensionWords && level > 0;) {
        --level;
        need = h.size[level] - h.present;
    }
    auto web = c->web.lock();
    if (!web) return c->Callback(false, -1);
    c->words.assign(size_t(need), 0);
    const int from = h.present;
    std::weak_ptr<int> alive = m_alive;
    web->ReadSlices(c->location.path, c->server_offset + int64_t(sizeof h) + 4 * int64_t(from), 4 * need,
                    c->words.data(), [this, alive, c, from](int n) {
                        if (alive.expired()) return;
                        OnExtensionReply(c, n, from);
                    });
}

void CQuickChart::CChunkFile::OnExtensionReply(const std::shared_ptr<DownloadChunk_context>& c, int n, int from) {
    auto fail = [&c](const std::string& why) {
        c->error = why;
        c->Callback(false, -1);
    };
    if (n > 0) {
        c->bytes += n;
        c->fetched = true;
    }
    if (n <= 0) {
        auto web = c->web.lock();
        return fail(web && !web->ErrorText().empty() ? web->ErrorText() : "No answer from the server.");
    }
    ChunkHeader h = c->header;
    const int present = std::min(h.size[0], from + n / 4);
    if (present < h.size[c->wanted]) return fail("The server's answer was too short.");
    const int64_t data_at = c->local + int64_t(sizeof h);
    // The new words lie beyond `present`, where no reader looks until the header says so.
    if (!m_file.LockedWrite(data_at + 4 * int64_t(from), c->words.data(), size_t(present - from) * 4))
        return fail("The chunk cannot be stored.");
    h.present = present;
    const int level = h.level_present();
    std::vector<uint32_t> check(size_t(std::max(h.size[level], 0)));
    const long long bytes = static_cast<long long>(check.size()) * 4;
    if (m_file.LockedRead(data_at, check.data(), size_t(bytes)) != bytes || !CheckChecksum(h, level, check.data())) {
        // Whatever is stored of it cannot be trusted: fetch it afresh next time.
        WriteOffset(c->row, c->column, 0);
        return fail("The server sent a damaged chunk.");
    }
    if (!m_file.LockedWrite(c->local, &h, sizeof h)) return fail("The chunk cannot be stored.");
    c->header = h;
    c->Callback(true, level);
}

// ---------------------------------------------------------------------------------------
// Bulk downloads

struct CQC3Downloader::Job {
    std::shared_ptr<CWebServer_NB_sliced> web;
    std::shared_ptr<DownloadChunk_context> context;
    int row = -1, column = -1;
    int failures = 0;
    bool busy = false;
};

CQC3Downloader::CQC3Downloader(CQuickChart3* chart, std::shared_ptr<CProgressDialogData> progress, Done done)
    : m_chart(chart), m_progress(std::move(progress)), m_done(std::move(done)) {
    if (!m_progress) m_progress = std::make_shared<CProgressDialogData>();
    m_cancel_poll.setInterval(100);
    QObject::connect(&m_cancel_poll, &QTimer::timeout, [this] { CheckCancel(); });
}

void CQC3Downloader::CheckCancel() {
    if (!m_running || m_stopping || !m_progress->IsCancelled()) return;
    m_stopping = true;
    m_report.cancelled = true;
    for (auto& j : m_jobs)
        if (j->busy) j->web->Cancel();  // each calls back, and the last one finishes
}

void CQC3Downloader::Abandon() {
    if (!m_running) return;
    m_running = false;
    m_jobs.clear();  // no callbacks come from clients that are gone
    m_report.cancelled = true;
    m_report.complete = false;
    m_progress->SetDone();
    if (m_done) {
        Done done = m_done;
        const CChunkDownloadReport report = m_report;
        QTimer::singleShot(0, [done, report] { done(report); });
    }
}

CQC3Downloader::~CQC3Downloader() = default;

void CQC3Downloader::Start() {
    NV_ASSERT_GUI_THREAD();
    m_running = true;
    m_cancel_poll.start();
    // Clamp the box to the grid once; the subclass set it from its geometry.
    const int cols = m_chart->ChunkColumns(), rows = m_chart->ChunkRows();
    m_c0 = std::max(m_c0, 0);
    m_r0 = std::max(m_r0, 0);
    m_c1 = std::min(m_c1, cols - 1);
    m_r1 = std::min(m_r1, rows - 1);
    m_next_row = m_r0;
    m_next_column = m_c0;
    std::weak_ptr<int> alive = m_alive;
    m_chart->GetRedirectedDownloadPath([this, alive](const CChunkServerLocation& location) {
        if (alive.expired()) return;
        OnLocation(location);
    });
}

void CQC3Downloader::OnLocation(const CChunkServerLocation& location) {
    if (!location.IsValid()) return Stop("Failed to download chunkfile header");
    m_location = location;
    std::weak_ptr<int> alive = m_alive;
    m_chart->ChunkFile()->download_header_if_needed(location, m_chart->ChunkColumns(), m_chart->ChunkRows(),
                                                    [this, alive](bool ok) {
                                                        if (alive.expired()) return;
                                                        OnHeader(ok);
                                                    });
}

void CQC3Downloader::OnHeader(bool ok) {
    if (!ok) return Stop("Failed to download chunkfile header");
    for (int r = m_r0; r <= m_r1; ++r)
        for (int c = m_c0; c <= m_c1; ++c)
            if (chunk_needs_download(r, c)) ++m_report.chunks;
    PublishProgress();
    for (int i = 0; i < kJobs; ++i) {
        auto job = std::make_unique<Job>();
        job->web = std::make_shared<CWebServer_NB_sliced>(m_location.server, true);
        m_jobs.push_back(std::move(job));
    }
    std::weak_ptr<int> alive = m_alive;
    for (auto& job : m_jobs) {
        RunJob(*job);
        if (alive.expired() || !m_running) return;
    }
}

bool CQC3Downloader::find_next_download_chunk(int& row, int& column) {
    CQuickChart::CChunkFile* file = m_chart->ChunkFile();
    while (m_next_row <= m_r1) {
        const int r = m_next_row, c = m_next_column;
        if (++m_next_column > m_c1) {
            m_next_column = m_c0;
            ++m_next_row;
        }
        if (c > m_c1 || !chunk_needs_download(r, c)) continue;
        if (file->ChunkIsFullyDownloaded(r, c)) {
            ++m_report.present;
            ++m_done_chunks;
            continue;
        }
        row = r;
        column = c;
        return true;
    }
    return false;
}

void CQC3Downloader::RunJob(Job& job) {
    job.busy = false;
    CheckCancel();
    if (!m_stopping && job.row < 0 && !find_next_download_chunk(job.row, job.column)) job.row = -1;
    if (m_stopping || job.row < 0) {
        PublishProgress();
        for (auto& j : m_jobs)
            if (j->busy) return;
        return Finish();
    }
    auto c = std::make_shared<DownloadChunk_context>();
    c->row = job.row;
    c->column = job.column;
    c->wanted = 0;
    c->location = m_location;
    c->web = job.web;
    std::weak_ptr<int> alive = m_alive;
    Job* j = &job;
    c->done = [this, alive, j](bool ok, int) {
        if (alive.expired()) return;
        OnChunkDone(*j, ok);
    };
    job.context = c;
    job.busy = true;
    m_chart->ChunkFile()->DownloadChunk(c);
}

void CQC3Downloader::OnChunkDone(Job& job, bool ok) {
    std::shared_ptr<DownloadChunk_context> c = std::move(job.context);
    m_report.bytes += c->bytes;
    if (ok) {
        if (c->blank)
            ++m_report.blank;
        else if (c->fetched)
            ++m_report.downloaded;
        else
            ++m_report.present;
        ++m_done_chunks;
        job.row = -1;
    } else if (!m_stopping && !m_progress->IsCancelled() && ++job.failures > kMaxJobFailures) {
        // The same chunk is tried again until the job has failed too often.
        job.busy = false;
        Stop("Download failed. " + c->error);
        return;
    }
    PublishProgress();
    RunJob(job);
}

void CQC3Downloader::PublishProgress() {
    m_progress->SetBytes(m_report.bytes, 0);
    m_progress->SetProgress(m_report.chunks > 0 ? double(m_done_chunks) / m_report.chunks : 0.0);
}

void CQC3Downloader::Stop(const std::string& message) {
    if (!m_running) return;
    if (!m_stopping) {
        m_stopping = true;
        m_report.message = message;
        MessageBoxOK(NV_HWND(), "Problem", message);
    }
    bool busy = false;
    for (auto& j : m_jobs)
        if (j->busy) {
            busy = true;
            j->web->Cancel();  // calls back later; the job then ends
        }
    if (!busy) Finish();
}

void CQC3Downloader::Finish() {
    if (!m_running) return;
    m_running = false;
    m_cancel_poll.stop();
    // What is on the device now decides; chunks fetched by the map meanwhile count too.
    int needed = 0, complete = 0;
    if (CQuickChart::CChunkFile* file = m_chart->ChunkFile(); file && file->HasHeader()) {
        for (int r = m_r0; r <= m_r1; ++r)
            for (int c = m_c0; c <= m_c1; ++c)
                if (chunk_needs_download(r, c)) {
                    ++needed;
                    if (file->ChunkIsFullyDownloaded(r, c)) ++complete;
                }
        m_report.chunks = needed;
        m_report.failed = needed - complete;
        m_report.complete = complete == needed && m_report.message.empty();
    }
    m_progress->SetProgress(1.0);
    m_progress->SetDone();
    if (m_done) {
        // From the event loop: the receiver may well start the next download.
        Done done = m_done;
        const CChunkDownloadReport report = m_report;
        QTimer::singleShot(0, [done, report] { done(report); });
    }
}

CPolygonDownloader::CPolygonDownloader(CQuickChart3* chart, CPolygon pixels,
                                       std::shared_ptr<CProgressDialogData> progress, Done done)
    : CQC3Downloader(chart, std::move(progress), std::move(done)), m_pixels(std::move(pixels)) {
    const CBounds b = m_pixels.GetBounds();
    if (!b.IsValid()) return;
    m_c0 = int(std::floor(std::max(b.xmin, -1.0) / kChunk));
    m_r0 = int(std::floor(std::max(b.ymin, -1.0) / kChunk));
    m_c1 = int(std::floor(std::min(b.xmax, 1e9) / kChunk));
    m_r1 = int(std::floor(std::min(b.ymax, 1e9) / kChunk));
}

bool CPolygonDownloader::chunk_needs_download(int row, int column) const {
    const double x = double(column) * kChunk, y = double(row) * kChunk;
    return m_pixels.Overlaps(CBounds(x, x + kChunk, y, y + kChunk));
}

CRouteDownloader::CRouteDownloader(CQuickChart3* chart, CPolyline pixels, double distance,
                                   std::shared_ptr<CProgressDialogData> progress, Done done)
    : CQC3Downloader(chart, std::move(progress), std::move(done)), m_pixels(std::move(pixels)), m_distance(distance) {
    const CBounds b = m_pixels.GetBounds();
    if (!b.IsValid() || !(m_distance >= 0) || !std::isfinite(m_distance)) return;
    m_c0 = int(std::floor(std::max(b.xmin - m_distance, -1.0) / kChunk));
    m_r0 = int(std::floor(std::max(b.ymin - m_distance, -1.0) / kChunk));
    m_c1 = int(std::floor(std::min(b.xmax + m_distance, 1e9) / kChunk));
    m_r1 = int(std::floor(std::min(b.ymax + m_distance, 1e9) / kChunk));
}

bool CRouteDownloader::chunk_needs_download(int row, int column) const {
    return DistanceToPolyline(m_pixels, double(column) * kChunk + kChunk / 2, double(row) * kChunk + kChunk / 2) <
           m_distance;
}

double DistanceToPolyline(const CPolyline& line, double x, double y) {
    const size_t n = line.size();
    if (n == 0) return INFINITY;
    double best = std::hypot(x - line[0].x, y - line[0].y);
    for (size_t i = 1; i < n; ++i) {
        const double ax = line[i - 1].x, ay = line[i - 1].y, dx = line[i].x - ax, dy = line[i].y - ay;
        const double len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? ((x - ax) * dx + (y - ay) * dy) / len2 : 0.0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, std::hypot(x - (ax + t * dx), y - (ay + t * dy)));
    }
    return best;
}

// ---------------------------------------------------------------------------------------
// Bulk downloads of a chart

std::vector<Vertex> CQuickChart3::ToPixels(const std::vector<Vertex>& lonlat) const {
    std::vector<Vertex> out;
    out.reserve(lonlat.size());
    for (const Vertex& v : lonlat) {
        double x = 0, y = 0;
        latlong_to_xy(v.y, v.x, x, y);
        if (std::isfinite(x) && std::isfinite(y)) out.emplace_back(x, y);
    }
    return out;
}

void CQuickChart3::StartBulk(std::unique_ptr<CQC3Downloader> downloader, const BulkDone& done) {
    NV_ASSERT_GUI_THREAD();
    CancelDownload();
    if (!m_chunkfile || !m_chunkfile->IsOpen()) {
        CChunkDownloadReport report;
        report.message = "This chart keeps no downloaded data.";
        if (done) QTimer::singleShot(0, [done, report] { done(report); });
        return;
    }
    m_downloader = std::move(downloader);
    m_downloader->Start();
}

void CQuickChart3::DownloadPolygon(const CPolygon& area, std::shared_ptr<CProgressDialogData> progress, BulkDone done) {
    CPolygon pixels(ToPixels(area.vertices));
    StartBulk(std::make_unique<CPolygonDownloader>(this, std::move(pixels), std::move(progress), done), done);
}

void CQuickChart3::DownloadRoute(const CPolyline& route, double distance_nm,
                                 std::shared_ptr<CProgressDialogData> progress, BulkDone done) {
    CPolyline pixels(ToPixels(route.vertices));
    // Nautical miles to pixels where the pixels are smallest, so the corridor is never narrower.
    double scale = 0;
    for (const Vertex& v : pixels.vertices) {
        const double s = get_scale(v.x, v.y);
        if (s > 0 && (scale == 0 || s < scale)) scale = s;
    }
    const double distance = scale > 0 && distance_nm >= 0 ? distance_nm / scale : 0;
    DownloadRouteInPixels(pixels, distance, std::move(progress), std::move(done));
}

void CQuickChart3::DownloadRouteInPixels(const CPolyline& pixels, double distance,
                                         std::shared_ptr<CProgressDialogData> progress, BulkDone done) {
    StartBulk(std::make_unique<CRouteDownloader>(this, pixels, distance, std::move(progress), done), done);
}

void CQuickChart3::DownloadWholeMap(std::shared_ptr<CProgressDialogData> progress, BulkDone done) {
    if (m_flags & 0x40) {
        CChunkDownloadReport report;
        report.message = "This chart is not offered for download as a whole.";
        if (done) QTimer::singleShot(0, [done, report] { done(report); });
        return;
    }
    const double w = double(m_tiles_w) * qct::kTileSide, h = double(m_tiles_h) * qct::kTileSide;
    CPolygon corners({{0, 0}, {w, 0}, {w, h}, {0, h}});
    StartBulk(std::make_unique<CPolygonDownloader>(this, std::move(corners), std::move(progress), done), done);
}

bool CQuickChart3::IsDownloading() const {
    return m_downloader && m_downloader->IsRunning();
}

void CQuickChart3::CancelDownload() {
    if (!m_downloader) return;
    m_downloader->Abandon();
    m_downloader.reset();
}

void CQuickChart3::CountFullyDownloaded(int r0, int c0, int r1, int c1, int& complete, int& total) {
    complete = total = 0;
    if (!m_chunkfile || !m_chunkfile->HasHeader()) return;
    r0 = std::max(r0, 0);
    c0 = std::max(c0, 0);
    r1 = std::min(r1, m_chunkfile->Rows() - 1);
    c1 = std::min(c1, m_chunkfile->Columns() - 1);
    for (int r = r0; r <= r1; ++r)
        for (int c = c0; c <= c1; ++c) {
            ++total;
            if (m_chunkfile->ChunkIsFullyDownloaded(r, c)) ++complete;
        }
}

namespace {

// Samples chunk headers on the server one after the other and scales their sizes up to
// the whole grid.
struct SizeEstimate : std::enable_shared_from_this<SizeEstimate> {
    static constexpr int kSamples = 16;
    CChunkServerLocation location;
    int cols = 0, rows = 0;
    std::vector<std::pair<int, int>> samples;  // row, column
    size_t next = 0;
    long long bytes = 0;
    int counted = 0;
    std::function<void(long long)> done;

    void Step() {
        if (next >= samples.size()) {
            if (counted == 0) return done(-1);
            const double per_chunk = double(bytes) / counted;
            return done(static_cast<long long>(per_chunk * cols * rows + 40.0 + 8.0 * cols * rows));
        }
        const auto [r, c] = samples[next++];
        const int64_t pos = qct::chunkfile::kOffsetTable + qct::chunkfile::kOffsetEntryBytes * (int64_t(r) * cols + c);
        auto self = shared_from_this();
        qct_download::FetchRange(location.server, location.path, pos, 8,
                                 [self](int n, std::vector<char>& data, const std::string&) {
                                     if (n != 8) return self->Step();
                                     int64_t entry;
                                     std::memcpy(&entry, data.data(), 8);
                                     if (entry == -1 || entry == 0) {
                                         ++self->counted;  // nothing to bring for it
                                         return self->Step();
                                     }
                                     if (entry < 0 || entry >= qct_download::kServerOffsetLimit) return self->Step();
                                     qct_download::FetchRange(
                                         self->location.server, self->location.path, entry, int(sizeof(ChunkHeader)),
                                         [self](int m, std::vector<char>& head, const std::string&) {
                                             ChunkHeader h;
                                             if (m == int(sizeof h)) {
                                                 std::memcpy(static_cast<void*>(&h), head.data(), sizeof h);
                                                 if (Usable(h)) {
                                                     self->bytes += int64_t(sizeof h) + 4 * int64_t(h.size[0]);
                                                     ++self->counted;
                                                 }
                                             }
                                             self->Step();
                                         });
                                 });
    }
};

}  // namespace

void CQuickChart3::estimate_whole_map_size(std::function<void(long long)> done) {
    NV_ASSERT_GUI_THREAD();
    const int cols = ChunkColumns(), rows = ChunkRows();
    if (cols <= 0 || rows <= 0) return QTimer::singleShot(0, [done] { done(-1); });
    auto est = std::make_shared<SizeEstimate>();
    est->cols = cols;
    est->rows = rows;
    est->done = std::move(done);
    const int n = std::min(SizeEstimate::kSamples, cols * rows);
    for (int i = 0; i < n; ++i) {
        const int64_t k = (int64_t(2 * i + 1) * cols * rows) / (2 * n);
        est->samples.emplace_back(int(k / cols), int(k % cols));
    }
    GetRedirectedDownloadPath([est](const CChunkServerLocation& location) {
        if (!location.IsValid()) return est->done(-1);
        est->location = location;
        est->Step();
    });
}
