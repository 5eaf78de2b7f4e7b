// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Test helpers for the codec tests: image generators and slow reference decoders that
// follow the bit-by-bit walk literally, so the table-driven decoders can be checked
// pixel for pixel against them.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace codec_test {

// A chart-like image: large flat areas (sea, land), a few colours, thin lines and small
// text-like blobs. Width and height in pixels, indices below `colours` (>= 4).
inline std::vector<uint8_t> ChartLike(int w, int h, uint32_t seed, int colours = 12) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> img(static_cast<size_t>(w) * static_cast<size_t>(h));
    // A coastline as a wavy boundary between two flat colours.
    for (int y = 0; y < h; ++y) {
        const int coast = w / 2 + static_cast<int>(w / 6.0 * std::sin(y * 0.01 + seed));
        for (int x = 0; x < w; ++x) img[static_cast<size_t>(y) * w + x] = x < coast ? 1 : 2;
    }
    std::uniform_int_distribution<int> px(0, w - 1), py(0, h - 1), col(3, colours - 1);
    // Grid lines.
    for (int y = 0; y < h; y += 97)
        for (int x = 0; x < w; ++x) img[static_cast<size_t>(y) * w + x] = 3;
    for (int x = 0; x < w; x += 131)
        for (int y = 0; y < h; ++y) img[static_cast<size_t>(y) * w + x] = 3;
    // Text-like blobs: small rectangles of mixed pixels.
    const int blobs = w * h / 4000 + 4;
    for (int b = 0; b < blobs; ++b) {
        const int x0 = px(rng), y0 = py(rng), c = col(rng);
        for (int y = y0; y < std::min(h, y0 + 7); ++y)
            for (int x = x0; x < std::min(w, x0 + 20); ++x)
                if ((rng() & 3) == 0) img[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(c);
    }
    return img;
}

inline std::vector<uint8_t> RandomPixels(size_t n, uint32_t seed, int colours) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& p : v) p = static_cast<uint8_t>(rng() % static_cast<unsigned>(colours));
    return v;
}

inline int Rev(int v, int bits) {
    int r = 0;
    for (int i = 0; i < bits; ++i) r = (r << 1) | ((v >> i) & 1);
    return r;
}

// Rows of an image-order tile/chunk (side x side) in stored order.
inline std::vector<uint8_t> ToStored(const uint8_t* img, int side, int bits) {
    std::vector<uint8_t> s(static_cast<size_t>(side) * side);
    for (int r = 0; r < side; ++r) std::memcpy(&s[static_cast<size_t>(r) * side], img + Rev(r, bits) * side, side);
    return s;
}

// --- Reference decoders: one bit at a time, every byte access checked. ---

struct RefBits {
    const uint8_t* d;
    size_t n;
    size_t bit = 0;
    int Next() {
        const size_t byte = bit >> 3;
        const int v = byte < n ? (d[byte] >> (bit & 7)) & 1 : 0;
        ++bit;
        return v;
    }
};

inline uint8_t At(const uint8_t* d, size_t n, size_t i) {
    return i < n ? d[i] : 0;
}

// Type-0 body on a well-formed tree (every node inside `n`); returns bytes used.
inline size_t RefHuffmanTile(const uint8_t* d, size_t n, uint8_t* out, int pixels) {
    auto ones = [&](size_t p) -> size_t {
        const uint8_t b = d[p];
        if (b > 128) return p + 1 + (256 - b);
        const int16_t v = static_cast<int16_t>(d[p + 1] | (d[p + 2] << 8));
        return p + 3 - v;
    };
    size_t end = 0;
    while (d[end] >= 128) end = ones(end);
    RefBits bits{d + end + 1, n - end - 1};
    for (int i = 0; i < pixels; ++i) {
        size_t p = 0;
        while (d[p] >= 128) p = bits.Next() ? ones(p) : p + (d[p] == 128 ? 3 : 1);
        out[i] = d[p];
    }
    return end + 1 + (bits.bit + 7) / 8;
}

inline void RefUnpack(const uint8_t* d, size_t n, uint8_t* out, int rows) {
    const int npix = 64 * rows;
    const int b0 = At(d, n, 0);
    if (b0 == 0) {
        RefHuffmanTile(d + 1, n - 1, out, npix);
    } else if (b0 < 128) {
        int k = 0;
        while ((1 << k) < b0) ++k;
        int done = 0;
        size_t pos = 1 + b0;
        std::memset(out, 0, npix);
        while (done < npix && pos < n) {
            const int c = d[pos++];
            const int len = c >> k;
            for (int i = 0; i < len && done < npix; ++i) out[done++] = At(d, n, 1 + (c & ((1 << k) - 1)));
        }
    } else if (b0 == 128) {
        std::memset(out, At(d, n, 3), npix);
    } else if (b0 == 255) {
        std::memset(out, At(d, n, 1), npix);
    } else {
        const int cols = 256 - b0;
        int k = 0;
        while ((1 << k) < cols) ++k;
        const int per = 32 / k;
        size_t pos = 1 + cols;
        for (int i = 0; i < npix; pos += 4) {
            const uint32_t w = At(d, n, pos) | At(d, n, pos + 1) << 8 | At(d, n, pos + 2) << 16 |
                               static_cast<uint32_t>(At(d, n, pos + 3)) << 24;
            for (int j = 0; j < per && i < npix; ++j, ++i) out[i] = At(d, n, 1 + ((w >> (j * k)) & ((1u << k) - 1)));
        }
    }
}

// decode_run, literally: returns words used, or -1 on failure.
inline long RefDecodeRun(const uint32_t* w, int count, uint8_t* out, int pixels) {
    if (count < 1 || pixels < 1) return -1;
    const uint32_t t = w[0];
    if (t >= static_cast<uint32_t>(count)) return -1;
    std::vector<int16_t> e(2 * static_cast<size_t>(count));
    std::memcpy(e.data(), w, 4 * static_cast<size_t>(count));
    const long end = 2L * t;
    size_t bit = static_cast<size_t>(t) * 32;
    const size_t limit = static_cast<size_t>(count) * 32;
    auto next = [&](int& v) {
        if (bit >= limit) return false;
        v = (w[bit >> 5] >> (bit & 31)) & 1;
        ++bit;
        return true;
    };
    static const int base[4] = {1, 2, 6, 22}, extra[4] = {0, 2, 4, 8};
    int done = 0;
    while (done < pixels) {
        long p = 2;
        if (p >= end) return -1;
        while (e[p] < 0) {
            int b;
            if (!next(b)) return -1;
            p = b ? p + 1 - e[p] : p + 1;
            if (p < 2 || p >= end) return -1;
        }
        const int cls = (e[p] >> 8) & 3;
        int ext = 0;
        for (int i = 0; i < extra[cls]; ++i) {
            int b;
            if (!next(b)) return -1;
            ext = ext << 1 | b;
        }
        const int len = base[cls] + ext;
        for (int i = 0; i < len && done < pixels; ++i) out[done++] = static_cast<uint8_t>(e[p] & 127);
    }
    return static_cast<long>((bit + 31) / 32);
}

}  // namespace codec_test
