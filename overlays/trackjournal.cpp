// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/trackjournal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/apppaths.h"
#include "core/uiservices.h"

namespace {

// A journal this large is not ours (years of recording between two saves).
constexpr long long kMaxJournalBytes = 1LL << 30;
constexpr size_t kRecordOverhead = 12;  // tag, length, check

std::array<uint32_t, 256> MakeCrcTable() {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
    }
    return t;
}

void PutU32(std::vector<char>& b, uint32_t v) {
    char c[4];
    std::memcpy(c, &v, 4);
    b.insert(b.end(), c, c + 4);
}

template <class T>
void Put(std::vector<char>& b, const T& v) {
    const char* c = reinterpret_cast<const char*>(&v);
    b.insert(b.end(), c, c + sizeof(T));
}

// Appends tag, length, payload and check.
void PutRecord(std::vector<char>& b, uint32_t tag, const std::vector<char>& payload) {
    const size_t start = b.size();
    PutU32(b, tag);
    PutU32(b, uint32_t(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    PutU32(b, CTrackJournal::Crc32(b.data() + start, b.size() - start));
}

template <class T>
bool Get(const char*& p, const char* end, T& v) {
    if (end - p < long(sizeof(T))) return false;
    std::memcpy(&v, p, sizeof(T));
    p += sizeof(T);
    return true;
}

bool DecodeTrack(const char* p, const char* end, CTrackJournal::TrackInfo& t) {
    uint32_t argb = 0, nameLen = 0;
    if (!Get(p, end, t.id) || !Get(p, end, t.created) || !Get(p, end, argb) || !Get(p, end, t.width) ||
        !Get(p, end, t.style) || !Get(p, end, nameLen))
        return false;
    if (nameLen > CTrackJournal::kMaxName || end - p != long(nameLen)) return false;
    t.name.assign(p, nameLen);
    t.color = GraphicsColor(int(argb >> 16 & 0xFF), int(argb >> 8 & 0xFF), int(argb & 0xFF), int(argb >> 24));
    if (!std::isfinite(t.created)) t.created = 0;
    return true;
}

}  // namespace

uint32_t CTrackJournal::Crc32(const void* data, size_t n, uint32_t crc) {
    static const std::array<uint32_t, 256> table = MakeCrcTable();
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

CTrackJournal::CTrackJournal() : CHeartbeat::Counter(10) {}

CTrackJournal::~CTrackJournal() {
    Close();
}

void CTrackJournal::SetPath(const std::string& path) {
    if (path == m_path) return;
    Close();
    m_path = path;
}

void CTrackJournal::Close() {
    if (m_fd < 0) return;
    if (m_dirty) Sync();
    ::close(m_fd);
    m_fd = -1;
    m_haveCurrent = false;
}

bool CTrackJournal::Read(const std::string& path, Contents& out) {
    out = Contents();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    const long long size = std::min<long long>(st.st_size, kMaxJournalBytes);
    std::vector<char> data(size_t(std::max<long long>(size, 0)));
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += size_t(n);
    }
    ::close(fd);
    data.resize(got);
    out.fileBytes = st.st_size;
    const char* p = data.data();
    const char* end = p + data.size();
    uint32_t magic = 0, version = 0;
    if (!Get(p, end, magic) || !Get(p, end, version) || magic != kMagic || version != kVersion) {
        out.damagedTail = !data.empty();
        return false;
    }
    out.validBytes = 8;
    Run* run = nullptr;
    while (p < end) {
        const char* rec = p;
        uint32_t tag = 0, length = 0;
        if (!Get(p, end, tag) || !Get(p, end, length) || length > kMaxName + 64 ||
            end - p < long(length) + 4)
            break;
        const char* payload = p;
        p += length;
        uint32_t check = 0;
        Get(p, end, check);
        if (check != Crc32(rec, size_t(p - 4 - rec))) break;
        if (tag == kTrackTag) {
            TrackInfo info;
            if (!DecodeTrack(payload, payload + length, info)) break;
            out.runs.push_back({info, {}});
            run = &out.runs.back();
        } else if (tag == kPointTag) {
            CTrackPoint pt;
            if (length != sizeof(CTrackPoint) || !run) break;
            std::memcpy(&pt, payload, sizeof pt);
            if (!std::isfinite(pt.lat) || !std::isfinite(pt.lon) || std::fabs(pt.lat) > 90 || std::fabs(pt.lon) > 360)
                break;
            if (!std::isfinite(pt.time) || pt.time < 0) pt.time = 0;
            if (!std::isfinite(pt.altitude)) pt.altitude = CTrackPoint::kNoAltitude;
            run->points.push_back(pt);
        } else {
            break;
        }
        out.validBytes = p - data.data();
    }
    out.damagedTail = out.validBytes < out.fileBytes;
    return true;
}

bool CTrackJournal::Open(Contents* replay) {
    if (m_path.empty()) return false;
    Close();
    Contents found;
    const bool ours = Read(m_path, found);
    if (!ours && found.fileBytes > 0) {
        // Not a journal we can read at all: keep it for whoever wants to look, start anew.
        const std::string aside = m_path + ".damaged";
        std::rename(m_path.c_str(), aside.c_str());
        found = Contents();
    }
    createPath(m_path);
    m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        ReportError("open", errno);
        return false;
    }
    // A torn last record would hide everything appended after it.
    if (::ftruncate(m_fd, found.validBytes) != 0 || ::lseek(m_fd, found.validBytes, SEEK_SET) < 0) {
        ReportError("prepare", errno);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_size = found.validBytes;
    m_haveCurrent = !found.runs.empty();
    m_current = m_haveCurrent ? found.runs.back().track.id : 0;
    m_dirty = false;
    if (replay) *replay = std::move(found);
    return true;
}

bool CTrackJournal::WriteAll(const char* data, size_t n) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::write(m_fd, data + done, n - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            const int error = w < 0 ? errno : ENOSPC;
            // Leave no half record behind: later ones must stay readable.
            if (::ftruncate(m_fd, m_size) != 0 || ::lseek(m_fd, m_size, SEEK_SET) < 0) {
                ::close(m_fd);
                m_fd = -1;
            }
            ReportError("write", error);
            return false;
        }
        done += size_t(w);
    }
    m_size += (long long)n;
    return true;
}

bool CTrackJournal::Append(const TrackInfo& track, const CTrackPoint& point, bool sync) {
    if (m_path.empty()) return false;
    if (m_fd < 0 && !Open()) return false;
    m_buffer.clear();
    if (m_size == 0) {
        PutU32(m_buffer, kMagic);
        PutU32(m_buffer, kVersion);
    }
    if (!m_haveCurrent || m_current != track.id) {
        std::vector<char> payload;
        Put(payload, track.id);
        Put(payload, track.created);
        Put(payload, track.color.ToArgb());
        Put(payload, track.width);
        Put(payload, track.style);
        const std::string name = track.name.substr(0, kMaxName);
        Put(payload, uint32_t(name.size()));
        payload.insert(payload.end(), name.begin(), name.end());
        PutRecord(m_buffer, kTrackTag, payload);
    }
    // The point record is built in place: it is what every recorded position costs.
    const size_t start = m_buffer.size();
    PutU32(m_buffer, kPointTag);
    PutU32(m_buffer, uint32_t(sizeof(CTrackPoint)));
    Put(m_buffer, point);
    PutU32(m_buffer, Crc32(m_buffer.data() + start, kRecordOverhead - 4 + sizeof(CTrackPoint)));
    if (!WriteAll(m_buffer.data(), m_buffer.size())) return false;
    m_current = track.id;
    m_haveCurrent = true;
    const auto now = std::chrono::steady_clock::now();
    if (!m_dirty) {
        m_dirty = true;
        m_dirtySince = now;
    }
    if (sync || std::chrono::duration<double>(now - m_dirtySince).count() >= kSyncSeconds) return Sync();
    return true;
}

bool CTrackJournal::Truncate() {
    if (m_path.empty()) return false;
    if (m_fd < 0) {
        if (!FileExists(m_path)) return true;
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CLOEXEC);
        if (m_fd < 0) return false;
    }
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) < 0) {
        ReportError("empty", errno);
        return false;
    }
    m_size = 0;
    m_haveCurrent = false;
    m_dirty = false;
    return true;
}

bool CTrackJournal::Sync() {
    if (m_fd < 0) return false;
    m_dirty = false;
    if (!m_syncing) return true;
    ++m_syncs;
    return ::fdatasync(m_fd) == 0;
}

void CTrackJournal::OnHeartbeat() {
    if (m_dirty && std::chrono::duration<double>(std::chrono::steady_clock::now() - m_dirtySince).count() >= kSyncSeconds)
        Sync();
}

void CTrackJournal::ReportError(const char* what, int error) {
    if (m_reported) return;
    m_reported = true;
    MessageBoxOK(NV_HWND(), "Problem",
                 std::string("Recorded track points cannot be kept safe in ") + m_path + " (" + what + ": " +
                     std::strerror(error) +
                     ").\nRecording goes on; the points are written with the tracks when they are saved.");
}
