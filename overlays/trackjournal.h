// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The journal of recorded points: a small append-only file beside tracks.nvtf that holds
// every point recorded since tracks.nvtf was last written. Each point is written to the
// file the moment it is recorded (so a killed program loses nothing the kernel was given)
// and the file is synced to the disk at every new section and whenever a point has been
// waiting for 4 s, so a power cut loses at most the last few seconds. Writing
// tracks.nvtf empties the journal; at start a journal left over is replayed into the
// tracks before anything else.
//
// Layout (little-endian): "NVTJ", a 32-bit version, then records of a 32-bit tag, a
// 32-bit payload length, the payload and a CRC-32 of the three. A track record (the
// track's id, created time, colour, width, pattern and name) names the track the point
// records after it belong to. Reading stops at the first record that is cut short or
// fails its check: a write torn by a crash or a power cut costs that record only.
//
// GUI thread only.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "core/heartbeat.h"
#include "overlays/track.h"

class CTrackJournal : public CHeartbeat::Counter {
public:
    static constexpr const char* kFileName = "tracks.journal";
    // Unsynced points older than this are synced at the next chance; the heartbeat gives
    // one every second, so no point waits 5 s.
    static constexpr double kSyncSeconds = 4.0;
    static constexpr uint32_t kMagic = 0x4A54564E;  // "NVTJ"
    static constexpr uint32_t kVersion = 1;
    static constexpr uint32_t kTrackTag = 0x4A560001;
    static constexpr uint32_t kPointTag = 0x4A560002;
    static constexpr uint32_t kMaxName = 4096;

    struct TrackInfo {
        uint64_t id = 0;
        double created = 0;
        GraphicsColor color;
        float width = 2.0f;
        int32_t style = 0;
        std::string name;
    };
    // The points of one track, in the order recorded.
    struct Run {
        TrackInfo track;
        std::vector<CTrackPoint> points;
    };
    struct Contents {
        std::vector<Run> runs;
        long long validBytes = 0;  // up to the end of the last good record
        long long fileBytes = 0;
        bool damagedTail = false;  // something after the last good record
    };

    CTrackJournal();
    ~CTrackJournal() override;
    CTrackJournal(const CTrackJournal&) = delete;
    CTrackJournal& operator=(const CTrackJournal&) = delete;

    // Where the journal lives; empty switches journalling off. Closes any open file.
    void SetPath(const std::string& path);
    const std::string& Path() const { return m_path; }
    bool Enabled() const { return !m_path.empty(); }

    // Reads a journal; false when there is none or it is not one.
    static bool Read(const std::string& path, Contents& out);
    // Opens the journal for appending, after reading what it holds (into `replay` when
    // given). A damaged tail is cut off so that later records stay readable.
    bool Open(Contents* replay = nullptr);
    void Close();
    bool IsOpen() const { return m_fd >= 0; }

    // Writes one point of `track` (after a track record when the journal's last one named
    // another track) and, with `sync` or when points have waited kSyncSeconds, syncs.
    bool Append(const TrackInfo& track, const CTrackPoint& point, bool sync);
    // Empties the journal (its points are in tracks.nvtf now).
    bool Truncate();
    bool Sync();
    // With syncing off, points are only handed to the kernel: they survive a killed
    // program but not a power cut. For measuring what a point costs apart from the disk.
    void SetSyncing(bool on) { m_syncing = on; }

    void OnHeartbeat() override;

    // For tests and benchmarks.
    long long Size() const { return m_size; }
    unsigned long long SyncCount() const { return m_syncs; }
    bool HasUnsynced() const { return m_dirty; }
    static uint32_t Crc32(const void* data, size_t n, uint32_t crc = 0);

private:
    bool WriteAll(const char* data, size_t n);
    void ReportError(const char* what, int error);

    std::string m_path;
    int m_fd = -1;
    long long m_size = 0;
    uint64_t m_current = 0;  // the track the last track record named
    bool m_haveCurrent = false;
    bool m_dirty = false;
    std::chrono::steady_clock::time_point m_dirtySince;
    unsigned long long m_syncs = 0;
    bool m_reported = false;
    bool m_syncing = true;
    std::vector<char> m_buffer;
};
