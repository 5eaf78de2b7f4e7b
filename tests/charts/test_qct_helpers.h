// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Hand-built chart files for the reader's tests: every byte placed here, so that refused,
// truncated and corrupt headers can be made exactly.

#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "charts/qct.h"

namespace qcttest {

inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    if (b.size() < at + 4) b.resize(at + 4);
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void PutDouble(std::vector<uint8_t>& b, size_t at, double d) {
    if (b.size() < at + 8) b.resize(at + 8);
    std::memcpy(b.data() + at, &d, 8);
}
// Appends bytes and returns where they start.
inline uint32_t Append(std::vector<uint8_t>& b, const void* data, size_t n) {
    const uint32_t at = uint32_t(b.size());
    b.insert(b.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
    return at;
}
inline uint32_t AppendString(std::vector<uint8_t>& b, const std::string& latin1) {
    return Append(b, latin1.c_str(), latin1.size() + 1);
}

// Linear georeferencing: pixel (0, 0) at (north, west), pixel (w, h) at (south, east).
inline void PutLinearGeoref(std::vector<uint8_t>& b, int wpx, int hpx, double north, double south, double west,
                            double east) {
    const double sx = wpx / (east - west), sy = hpx / (north - south);
    double c[40] = {};
    c[0] = -west * sx;  // x = (lon - west) * sx
    c[2] = sx;
    c[10] = north * sy;  // y = (north - lat) * sy
    c[11] = -sy;
    c[20] = north;  // lat = north - y / sy
    c[22] = -1 / sy;
    c[30] = west;  // lon = west + x / sx
    c[31] = 1 / sx;
    for (int i = 0; i < 40; ++i) PutDouble(b, 0x60 + 8 * i, c[i]);
}

// A single-file chart of w x h solid tiles; tile (tx, ty) has colour index (tx + 2 ty) % 100 + 2.
inline std::vector<uint8_t> MakeSolidChart(uint32_t w, uint32_t h, uint32_t version = 4,
                                           uint32_t magic = 0x1423D5FF) {
    std::vector<uint8_t> b(qct::header::kSize + 4 * w * h, 0);
    Put32(b, 0, magic);
    Put32(b, 4, version);
    Put32(b, 8, w);
    Put32(b, 12, h);
    PutLinearGeoref(b, int(64 * w), int(64 * h), 51, 50, -2, -1);
    for (int i = 0; i < 128; ++i) Put32(b, 0x1A0 + 4 * i, uint32_t(i * 0x010203));
    for (int i = 0; i < 128; ++i)
        for (int j = 0; j < 128; ++j) b[0x5A0 + i * 128 + j] = uint8_t((i + j) / 2);
    for (uint32_t ty = 0; ty < h; ++ty)
        for (uint32_t tx = 0; tx < w; ++tx) {
            const uint8_t tile[4] = {255, uint8_t((tx + 2 * ty) % 100 + 2), 0, 0};
            Put32(b, qct::header::kTileIndex + 4 * (tx + ty * w), Append(b, tile, sizeof tile));
        }
    return b;
}

inline bool WriteBytes(const std::string& path, const std::vector<uint8_t>& b) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}

// Opens through CreateNew (not the shared table); the chart, or null when refused.
struct Opened {
    CQuickChart* chart = nullptr;
    bool ok = false;
    bool called = false;
    ~Opened() { delete chart; }
};
inline void OpenChart(const std::string& path, Opened& o) {
    CQuickChart::CreateNew(NV_HWND(), path, [&o](CQuickChart* c, bool ok) {
        o.chart = c;
        o.ok = ok;
        o.called = true;
    });
}

// Chart-like indexed content: bands of colour above a diagonal "coast", columns below it,
// and scattered noise, so that a misplaced or stale pixel shows.
struct PictureStyle {
    uint32_t seed;
    int bandHeight, bandColours;      // above the coast: colours 2 ...
    int columnWidth, columnColours;   // below it: colours 20 ...
    uint32_t noiseOneIn;              // one pixel in this many is noise
    uint8_t noiseBase, noiseColours;  // noise colours noiseBase ...
};

inline std::vector<uint8_t> NoisyPicture(int w, int h, const PictureStyle& st) {
    std::vector<uint8_t> px(size_t(w) * h);
    uint32_t seed = st.seed;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245 + 12345;
            uint8_t c = (x + 2 * y < w) ? uint8_t(2 + (y / st.bandHeight) % st.bandColours)
                                        : uint8_t(20 + (x / st.columnWidth) % st.columnColours);
            if ((seed >> 16) % st.noiseOneIn == 0) c = uint8_t(st.noiseBase + (seed >> 8) % st.noiseColours);
            px[size_t(y) * w + x] = c;
        }
    return px;
}

// 128 distinct colours for those indices.
inline std::vector<uint32_t> Palette128() {
    std::vector<uint32_t> pal(128);
    for (int i = 0; i < 128; ++i) pal[i] = uint32_t(i * 2) << 16 | uint32_t(255 - i) << 8 | uint32_t(i * 37 % 256);
    return pal;
}

}  // namespace qcttest
