// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/qct_writer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "charts/codec.h"
#include "charts/qct_format.h"
#include "core/apppaths.h"

namespace {

namespace hdr = qct::header;
namespace cf = qct::chunkfile;
constexpr int kTile = qct::kTileSide;
constexpr int kChunk = qct::kChunkSide;

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}
void PutDouble(std::vector<uint8_t>& b, size_t at, double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    Put64(b, at, v);
}
void Append32(std::vector<uint8_t>& b, uint32_t v) {
    b.resize(b.size() + 4);
    Put32(b, b.size() - 4, v);
}
void AppendDouble(std::vector<uint8_t>& b, double d) {
    b.resize(b.size() + 8);
    PutDouble(b, b.size() - 8, d);
}

// Writes `bytes` to "<path>.tmp" and renames it over `path`.
bool WriteFileAtomically(const std::string& path, const std::vector<const std::vector<uint8_t>*>& parts,
                         std::string& error) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        error = "Cannot create \"" + tmp + "\"";
        return false;
    }
    bool ok = true;
    for (const auto* p : parts)
        if (!p->empty() && std::fwrite(p->data(), 1, p->size(), f) != p->size()) ok = false;
    if (std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::remove(tmp.c_str());
        error = "Cannot write \"" + tmp + "\"";
        return false;
    }
    if (!ReplaceFile(tmp, path)) {
        std::remove(tmp.c_str());
        error = "Cannot replace \"" + path + "\"";
        return false;
    }
    return true;
}

int ColourDistance(uint32_t a, uint32_t b) {
    const int dr = static_cast<int>((a >> 16) & 255) - static_cast<int>((b >> 16) & 255);
    const int dg = static_cast<int>((a >> 8) & 255) - static_cast<int>((b >> 8) & 255);
    const int db = static_cast<int>(a & 255) - static_cast<int>(b & 255);
    return dr * dr + dg * dg + db * db;
}

int Nearest(const std::vector<uint32_t>& palette, uint32_t c) {
    int best = 0, best_d = INT32_MAX;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int d = ColourDistance(palette[i], c);
        if (d < best_d) {
            best_d = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

struct ColourCount {
    uint32_t rgb;
    uint64_t count;
};

// Median cut over the distinct colours of the image, weighted by how often they occur.
std::vector<uint32_t> MedianCut(std::vector<ColourCount> colours, int max_colours) {
    struct Box {
        size_t begin, end;
    };
    auto channel = [](uint32_t c, int ch) { return static_cast<int>((c >> (16 - 8 * ch)) & 255); };
    auto widest = [&](const Box& b, int& range) {
        int best = 0;
        range = -1;
        for (int ch = 0; ch < 3; ++ch) {
            int lo = 255, hi = 0;
            for (size_t i = b.begin; i < b.end; ++i) {
                lo = std::min(lo, channel(colours[i].rgb, ch));
                hi = std::max(hi, channel(colours[i].rgb, ch));
            }
            if (hi - lo > range) {
                range = hi - lo;
                best = ch;
            }
        }
        return best;
    };
    std::vector<Box> boxes{{0, colours.size()}};
    while (static_cast<int>(boxes.size()) < max_colours) {
        // Split the box with the widest channel range (ties: the most populous).
        int pick = -1, pick_range = 0, pick_ch = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin < 2) continue;
            int range = 0;
            const int ch = widest(boxes[i], range);
            if (range > pick_range) {
                pick = static_cast<int>(i);
                pick_range = range;
                pick_ch = ch;
            }
        }
        if (pick < 0) break;
        Box b = boxes[static_cast<size_t>(pick)];
        std::sort(colours.begin() + static_cast<std::ptrdiff_t>(b.begin),
                  colours.begin() + static_cast<std::ptrdiff_t>(b.end),
                  [&](const ColourCount& x, const ColourCount& y) {
                      return channel(x.rgb, pick_ch) < channel(y.rgb, pick_ch);
                  });
        uint64_t total = 0;
        for (size_t i = b.begin; i < b.end; ++i) total += colours[i].count;
        uint64_t acc = 0;
        size_t mid = b.begin + 1;
        for (size_t i = b.begin; i < b.end - 1; ++i) {
            acc += colours[i].count;
            mid = i + 1;
            if (2 * acc >= total) break;
        }
        boxes[static_cast<size_t>(pick)] = {b.begin, mid};
        boxes.push_back({mid, b.end});
    }
    std::vector<uint32_t> palette;
    for (const Box& b : boxes) {
        double r = 0, g = 0, bl = 0, n = 0;
        for (size_t i = b.begin; i < b.end; ++i) {
            const double w = static_cast<double>(colours[i].count);
            r += w * channel(colours[i].rgb, 0);
            g += w * channel(colours[i].rgb, 1);
            bl += w * channel(colours[i].rgb, 2);
            n += w;
        }
        if (n <= 0) continue;
        const auto q = [&](double v) { return static_cast<uint32_t>(std::clamp(std::lround(v / n), 0L, 255L)); };
        palette.push_back(q(r) << 16 | q(g) << 8 | q(bl));
    }
    return palette;
}

}  // namespace

CQctWriter::CQctWriter() {
    m_palette = {0xFFFFFF, 0x000000};
    m_matrix = BuildInterpolationMatrix(m_palette);
}

bool CQctWriter::Fail(std::string* error, const std::string& text) {
    m_error = text;
    if (error) *error = text;
    return false;
}

std::vector<uint8_t> CQctWriter::BuildInterpolationMatrix(const std::vector<uint32_t>& palette) {
    std::vector<uint8_t> m(128 * 128, 0);
    const int n = static_cast<int>(std::min<size_t>(palette.size(), 128));
    for (int i = 0; i < 128; ++i) {
        for (int j = 0; j < 128; ++j) {
            uint8_t v;
            if (i >= n || j >= n) {
                v = static_cast<uint8_t>(i < n ? i : (j < n ? j : 0));
            } else if (i == j) {
                v = static_cast<uint8_t>(i);
            } else if (j < i) {
                v = m[static_cast<size_t>(j * 128 + i)];  // symmetric
            } else {
                const uint32_t a = palette[static_cast<size_t>(i)], b = palette[static_cast<size_t>(j)];
                uint32_t mix = 0;
                for (int sh = 0; sh <= 16; sh += 8) mix |= ((((a >> sh) & 255) + ((b >> sh) & 255) + 1) / 2) << sh;
                v = static_cast<uint8_t>(Nearest(std::vector<uint32_t>(palette.begin(), palette.begin() + n), mix));
            }
            m[static_cast<size_t>(i * 128 + j)] = v;
        }
    }
    return m;
}

void CQctWriter::PadImage(int width, int height, const std::vector<uint8_t>& src) {
    m_tw = (width + kTile - 1) / kTile;
    m_th = (height + kTile - 1) / kTile;
    const int pw = kTile * m_tw, ph = kTile * m_th;
    m_indices.assign(static_cast<size_t>(pw) * static_cast<size_t>(ph), 0);
    for (int y = 0; y < ph; ++y) {
        const int sy = std::min(y, height - 1);
        const uint8_t* row = src.data() + static_cast<size_t>(sy) * static_cast<size_t>(width);
        uint8_t* dst = m_indices.data() + static_cast<size_t>(y) * static_cast<size_t>(pw);
        std::memcpy(dst, row, static_cast<size_t>(width));
        std::memset(dst + width, row[width - 1], static_cast<size_t>(pw - width));
    }
}

bool CQctWriter::SetIndexedImage(int width, int height, std::vector<uint8_t> indices, std::vector<uint32_t> palette) {
    if (width <= 0 || height <= 0 || width > (1 << 20) || height > (1 << 20))
        return Fail(nullptr, "Image size " + std::to_string(width) + "x" + std::to_string(height) + " is not usable");
    if (indices.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
        return Fail(nullptr, "Index count does not match the image size");
    if (palette.empty() || palette.size() > 128) return Fail(nullptr, "A palette needs 1 to 128 colours");
    for (uint8_t v : indices)
        if (v >= 128) return Fail(nullptr, "Palette index " + std::to_string(v) + " is above 127");
    for (uint32_t& c : palette) c &= 0xFFFFFF;
    m_palette = std::move(palette);
    m_matrix = BuildInterpolationMatrix(m_palette);
    PadImage(width, height, indices);
    m_width = width;
    m_height = height;
    return true;
}

bool CQctWriter::SetImage(const QImage& image, int max_colours) {
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) return Fail(nullptr, "The image is empty");
    max_colours = std::clamp(max_colours, 1, 127);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    QHash<uint32_t, uint64_t> counts;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) ++counts[row[x] & 0xFFFFFF];
    }
    std::vector<ColourCount> colours;
    colours.reserve(static_cast<size_t>(counts.size()));
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) colours.push_back({it.key(), it.value()});
    std::sort(colours.begin(), colours.end(), [](const ColourCount& a, const ColourCount& b) { return a.rgb < b.rgb; });
    std::vector<uint32_t> palette;
    if (static_cast<int>(colours.size()) <= max_colours) {
        for (const ColourCount& c : colours) palette.push_back(c.rgb);
    } else {
        palette = MedianCut(std::move(colours), max_colours);
    }
    QHash<uint32_t, uint8_t> lookup;
    std::vector<uint8_t> indices(static_cast<size_t>(rgb.width()) * static_cast<size_t>(rgb.height()));
    size_t k = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const uint32_t c = row[x] & 0xFFFFFF;
            auto it = lookup.constFind(c);
            if (it == lookup.constEnd()) it = lookup.insert(c, static_cast<uint8_t>(Nearest(palette, c)));
            indices[k++] = it.value();
        }
    }
    return SetIndexedImage(rgb.width(), rgb.height(), std::move(indices), std::move(palette));
}

void CQctWriter::SetInterpolationMatrix(std::vector<uint8_t> matrix) {
    if (matrix.size() == 128 * 128) m_matrix = std::move(matrix);
}

bool CQctWriter::SetGeorefFromCorners(double north, double south, double west, double east) {
    if (!std::isfinite(north) || !std::isfinite(south) || !std::isfinite(west) || !std::isfinite(east))
        return Fail(nullptr, "Corner coordinates must be numbers");
    if (north <= south || north > 90 || south < -90) return Fail(nullptr, "North must lie above south, within +-90");
    if (east <= west) east += 360;  // the chart crosses the 180 degree meridian
    if (east <= west || east - west > 360) return Fail(nullptr, "East and west do not make a chart");
    if (m_width <= 0 || m_height <= 0) return Fail(nullptr, "Set the image before the corners");
    const double w = m_width, h = m_height;
    m_coeffs.fill(0.0);
    // x = (lon - west) * w / (east - west); y = (north - lat) * h / (north - south)
    m_coeffs[0] = -west * w / (east - west);
    m_coeffs[2] = w / (east - west);
    m_coeffs[10] = north * h / (north - south);
    m_coeffs[11] = -h / (north - south);
    // lat = north - y * (north - south) / h; lon = west + x * (east - west) / w
    m_coeffs[20] = north;
    m_coeffs[22] = -(north - south) / h;
    m_coeffs[30] = west;
    m_coeffs[31] = (east - west) / w;
    return true;
}

void CQctWriter::SetRawTile(int tx, int ty, std::vector<uint8_t> bytes) {
    m_raw_tiles.emplace_back(RawTileKey(tx, ty), std::move(bytes));
}

uint8_t CQctWriter::ChunkChecksum(const uint32_t* words, int n) {
    uint32_t s = 0;
    for (int i = 0; i < n; ++i) s += words[i];
    const uint32_t t = s + (s >> 8) + (s >> 16) + (s >> 24);
    return static_cast<uint8_t>(t & 0xFF);
}

std::vector<uint8_t> CQctWriter::EncodeTile(const uint8_t* tile, TileEncoding enc) {
    uint8_t stored[qct::kTileBytes];
    for (int s = 0; s < kTile; ++s)
        std::memcpy(stored + kTile * s, tile + kTile * BitReverse(static_cast<unsigned>(s), qct::kTileShift), kTile);
    bool used[128] = {};
    for (uint8_t v : stored) used[v & 127] = true;
    std::vector<uint8_t> sub;
    int slot[128] = {};
    for (int i = 0; i < 128; ++i)
        if (used[i]) {
            slot[i] = static_cast<int>(sub.size());
            sub.push_back(static_cast<uint8_t>(i));
        }
    const int n = static_cast<int>(sub.size());

    auto solid = [&]() { return std::vector<uint8_t>{255, sub[0]}; };
    auto run_length = [&]() {
        std::vector<uint8_t> r;
        r.reserve(1 + sub.size() + 4096);
        r.push_back(static_cast<uint8_t>(n));
        for (uint8_t c : sub) r.push_back(c);
        int k = 0;
        while ((1 << k) < n) ++k;
        const int max_len = 255 >> k;
        int i = 0;
        while (i < 4096) {
            const uint8_t c = stored[i] & 127;
            int j = i + 1;
            while (j < 4096 && (stored[j] & 127) == c && j - i < max_len) ++j;
            r.push_back(static_cast<uint8_t>(((j - i) << k) | slot[c]));
            i = j;
        }
        return r;
    };
    auto packed = [&]() {
        std::vector<uint8_t> pal = sub;
        if (pal.size() < 2) pal.push_back(pal[0]);  // one colour still needs two slots here
        const int np = static_cast<int>(pal.size());
        int k = 0;
        while ((1 << k) < np) ++k;
        const int per = 32 / k;
        std::vector<uint8_t> r;
        r.reserve(1 + pal.size() + 4 * 1024);
        r.push_back(static_cast<uint8_t>(256 - np));
        for (uint8_t c : pal) r.push_back(c);
        for (int i = 0; i < 4096; i += per) {
            uint32_t w = 0;
            for (int j = 0; j < per && i + j < 4096; ++j)
                w |= static_cast<uint32_t>(slot[stored[i + j] & 127]) << (j * k);
            for (int b = 0; b < 4; ++b) r.push_back(static_cast<uint8_t>(w >> (8 * b)));
        }
        return r;
    };
    auto huffman = [&]() {
        std::vector<uint8_t> r(1 + CHuffmanEncoding::encode_bound(4096));
        r[0] = 0;
        uint8_t* end = CHuffmanEncoding::encode(stored, 4096, r.data() + 1);
        r.resize(static_cast<size_t>(end - r.data()));
        return r;
    };

    switch (enc) {
        case TileEncoding::Solid:
            if (n == 1) return solid();
            break;
        case TileEncoding::RunLength:
            if (n <= 127) return run_length();
            return huffman();
        case TileEncoding::PixelPacked:
            if (n <= 127) return packed();
            return huffman();
        case TileEncoding::Huffman:
            return huffman();
        case TileEncoding::Auto:
            break;
    }
    if (n == 1) return solid();
    std::vector<uint8_t> best = huffman();
    if (n <= 127) {
        std::vector<uint8_t> rl = run_length();
        if (rl.size() < best.size()) best = std::move(rl);
        std::vector<uint8_t> pp = packed();
        if (pp.size() < best.size()) best = std::move(pp);
    }
    return best;
}

EncodedChunk CQctWriter::EncodeChunk(const uint8_t* chunk) {
    std::vector<uint8_t> stored(qct::kChunkBytes);
    for (int s = 0; s < kChunk; ++s)
        std::memcpy(stored.data() + kChunk * s, chunk + kChunk * BitReverse(static_cast<unsigned>(s), qct::kChunkShift),
                    kChunk);
    EncodedChunk ec;
    // Huffman on run symbols never needs more than ~33 bits per pixel even for the worst
    // input; chart chunks use a small fraction of that.
    int capacity = 1 + 512 + qct::kChunkBytes;
    ec.words.resize(static_cast<size_t>(capacity));
    int marks[cf::kLevels];
    for (int l = 0; l < cf::kLevels; ++l) marks[l] = qct::kChunkBytes >> l;
    int mark_words[cf::kLevels];
    int n = CHuffmanEncoding::encode_run(stored.data(), qct::kChunkBytes, ec.words.data(), capacity, marks, cf::kLevels,
                                         mark_words);
    if (n < 0) {
        capacity = 1 + 512 + 2 * qct::kChunkBytes;
        ec.words.resize(static_cast<size_t>(capacity));
        n = CHuffmanEncoding::encode_run(stored.data(), qct::kChunkBytes, ec.words.data(), capacity, marks, cf::kLevels,
                                         mark_words);
    }
    ec.words.resize(static_cast<size_t>(std::max(n, 0)));
    for (int l = 0; l < cf::kLevels; ++l) {
        ec.size[static_cast<size_t>(l)] = mark_words[l];
        ec.check[static_cast<size_t>(l)] = ChunkChecksum(ec.words.data(), mark_words[l]);
    }
    return ec;
}

std::vector<uint8_t> CQctWriter::BuildHeader(uint32_t variant_high_byte, uint32_t tile_index_bytes,
                                             std::vector<uint8_t>& tail, uint32_t tail_base) const {
    std::vector<uint8_t> h(hdr::kSize + tile_index_bytes, 0);
    auto pointer = [&]() { return tail_base + static_cast<uint32_t>(tail.size()); };
    auto string = [&](const QString& s) -> uint32_t {
        if (s.isEmpty()) return 0;
        const uint32_t at = pointer();
        const QByteArray latin = s.toLatin1();
        tail.insert(tail.end(), latin.begin(), latin.end());
        tail.push_back(0);
        return at;
    };
    Put32(h, hdr::kMagic, m_meta.magic);
    uint32_t version = m_meta.version;
    if (!m_meta.keep_version_high_byte) version = (version & 0xFFFFFF) | (variant_high_byte << 24);
    Put32(h, hdr::kVersion, version);
    Put32(h, hdr::kTilesWide, static_cast<uint32_t>(m_tw));
    Put32(h, hdr::kTilesHigh, static_cast<uint32_t>(m_th));
    Put32(h, hdr::kTitle, string(m_meta.title));
    Put32(h, hdr::kName, string(m_meta.name));
    Put32(h, hdr::kIdentifier, string(m_meta.identifier));
    Put32(h, hdr::kEdition, string(m_meta.edition));
    Put32(h, hdr::kRevision, string(m_meta.revision));
    Put32(h, hdr::kCopyright, string(m_meta.copyright));
    Put32(h, hdr::kScaleText, string(m_meta.scale_text));
    Put32(h, hdr::kDepthUnits, string(m_meta.depth_units));
    Put32(h, hdr::kHeightUnits, string(m_meta.height_units));
    Put32(h, hdr::kFlags, m_meta.flags);
    Put32(h, hdr::kSourceFile, string(m_meta.source_file));

    const bool has_ext = !m_meta.map_type.isEmpty() || m_meta.has_datum_shift || !m_meta.extra_text.isEmpty() ||
                         !m_meta.online_url.isEmpty();
    if (has_ext) {
        const uint32_t map_type = string(m_meta.map_type);
        const uint32_t extra = string(m_meta.extra_text);
        uint32_t datum = 0;
        if (m_meta.has_datum_shift) {
            datum = pointer();
            AppendDouble(tail, m_meta.datum_shift_lat);
            AppendDouble(tail, m_meta.datum_shift_lon);
        }
        uint32_t online = 0;
        if (!m_meta.online_url.isEmpty()) {
            const uint32_t url = string(m_meta.online_url);
            online = pointer();
            Append32(tail, 8);
            Append32(tail, url);
        }
        const uint32_t ext = pointer();
        tail.resize(tail.size() + qct::extended::kSize, 0);
        const size_t at = ext - tail_base;
        Put32(tail, at + qct::extended::kMapType, map_type);
        Put32(tail, at + qct::extended::kDatumShift, datum);
        Put32(tail, at + qct::extended::kExtraText, extra);
        Put32(tail, at + qct::extended::kOnlineData, online);
        Put32(h, hdr::kExtendedData, ext);
    }
    if (!m_meta.outline.empty()) {
        Put32(h, hdr::kOutlineCount, static_cast<uint32_t>(m_meta.outline.size()));
        Put32(h, hdr::kOutline, pointer());
        for (const auto& p : m_meta.outline) {
            AppendDouble(tail, p.first);
            AppendDouble(tail, p.second);
        }
    }
    for (size_t i = 0; i < 40; ++i) PutDouble(h, hdr::kGeoref + 8 * i, m_coeffs[i]);
    for (size_t i = 0; i < m_palette.size() && i < size_t(qct::kPaletteEntries); ++i)
        Put32(h, hdr::kPalette + 4 * i, m_palette[i] & 0xFFFFFF);
    std::memcpy(h.data() + hdr::kMatrix, m_matrix.data(), qct::kMatrixBytes);
    return h;
}

bool CQctWriter::WriteSingleFile(const std::string& path, std::string* error) {
    if (m_tw <= 0 || m_th <= 0) return Fail(error, "No image to write");
    const uint64_t index_bytes = 4ull * static_cast<uint64_t>(m_tw) * static_cast<uint64_t>(m_th);
    if (index_bytes > 0x40000000ull) return Fail(error, "The image is too large for a chart");
    std::vector<uint8_t> tail;
    std::vector<uint8_t> header = BuildHeader(0x00, static_cast<uint32_t>(index_bytes), tail,
                                              hdr::kTileIndex + static_cast<uint32_t>(index_bytes));
    const uint64_t tiles_base = hdr::kTileIndex + index_bytes + tail.size();
    std::vector<uint8_t> tiles;
    const size_t pw = static_cast<size_t>(m_tw) * kTile;
    uint8_t tile[qct::kTileBytes];
    for (int ty = 0; ty < m_th; ++ty) {
        for (int tx = 0; tx < m_tw; ++tx) {
            const uint64_t offset = tiles_base + tiles.size();
            if (offset > 0xFFFFFFF0ull) return Fail(error, "The chart data passes 4 GiB");
            Put32(header,
                  hdr::kTileIndex + 4 * (static_cast<size_t>(ty) * static_cast<size_t>(m_tw) + static_cast<size_t>(tx)),
                  static_cast<uint32_t>(offset));
            const auto raw = std::find_if(m_raw_tiles.begin(), m_raw_tiles.end(),
                                          [&](const auto& r) { return r.first == RawTileKey(tx, ty); });
            if (raw != m_raw_tiles.end()) {
                tiles.insert(tiles.end(), raw->second.begin(), raw->second.end());
                continue;
            }
            for (int r = 0; r < kTile; ++r)
                std::memcpy(tile + kTile * r,
                            m_indices.data() + (static_cast<size_t>(ty) * kTile + static_cast<size_t>(r)) * pw +
                                static_cast<size_t>(tx) * kTile,
                            kTile);
            const std::vector<uint8_t> rec = EncodeTile(tile, m_encoding);
            tiles.insert(tiles.end(), rec.begin(), rec.end());
        }
    }
    if (m_meta.zero_tile_index) {
        std::fill(header.begin() + hdr::kTileIndex, header.end(), 0);
        tiles.clear();
    }
    tiles.resize(tiles.size() + 8, 0);  // the Huffman reader may fetch a few bytes past the last tile
    std::string err;
    if (!WriteFileAtomically(path, {&header, &tail, &tiles}, err)) return Fail(error, err);
    return true;
}

bool CQctWriter::WriteChunked(const std::string& path, std::string* error) {
    if (m_tw <= 0 || m_th <= 0) return Fail(error, "No image to write");
    const QFileInfo qi(QString::fromStdString(path));
    const QString dir = qi.path() + QLatin1Char('/') + qi.completeBaseName() + QStringLiteral(".qc3");
    if (QFileInfo(dir).exists() && !QFileInfo(dir).isDir())
        return Fail(error, "\"" + dir.toStdString() + "\" exists and is not a directory");
    if (!QFileInfo(dir).isDir() && !QDir().mkdir(dir))
        return Fail(error, "Cannot create \"" + dir.toStdString() + "\"");

    constexpr int kPerChunk = qct::kTilesPerChunkSide;
    const int cx_count = (m_tw + kPerChunk - 1) / kPerChunk, cy_count = (m_th + kPerChunk - 1) / kPerChunk;
    const size_t table_bytes = cf::kOffsetEntryBytes * static_cast<size_t>(cx_count) * static_cast<size_t>(cy_count);
    std::vector<uint8_t> head(cf::kHeaderBytes + table_bytes, 0);
    Put32(head, 0, cf::kMagic);
    Put32(head, cf::kColumns, static_cast<uint32_t>(cx_count));
    Put32(head, cf::kRows, static_cast<uint32_t>(cy_count));
    std::vector<uint8_t> body;
    std::vector<uint8_t> chunk(qct::kChunkBytes);
    const size_t pw = static_cast<size_t>(m_tw) * kTile, ph = static_cast<size_t>(m_th) * kTile;
    for (int cy = 0; cy < cy_count; ++cy) {
        for (int cx = 0; cx < cx_count; ++cx) {
            const ChunkPlan plan = m_chunk_plan ? m_chunk_plan(cx, cy) : ChunkPlan{};
            const size_t entry =
                cf::kOffsetTable + cf::kOffsetEntryBytes * (static_cast<size_t>(cy) * static_cast<size_t>(cx_count) +
                                                            static_cast<size_t>(cx));
            if (plan.kind == ChunkPlan::Absent) continue;
            if (plan.kind == ChunkPlan::Blank) {
                Put64(head, entry, ~0ull);
                continue;
            }
            // Pixels of the chunk beyond the tile grid are never shown; they are left 0.
            std::fill(chunk.begin(), chunk.end(), 0);
            for (size_t r = 0; r < size_t(kChunk); ++r) {
                const size_t y = static_cast<size_t>(cy) * kChunk + r;
                const size_t x0 = static_cast<size_t>(cx) * kChunk;
                if (y >= ph) break;
                std::memcpy(chunk.data() + r * kChunk, m_indices.data() + y * pw + x0,
                            std::min<size_t>(kChunk, pw - x0));
            }
            const EncodedChunk ec = EncodeChunk(chunk.data());
            if (ec.words.empty() || ec.size[0] > 0xFFFFF)
                return Fail(error, "Chunk " + std::to_string(cx) + "," + std::to_string(cy) + " does not fit");
            int present = static_cast<int>(ec.words.size());
            if (plan.kind == ChunkPlan::Partial)
                present = ec.size[static_cast<size_t>(std::clamp(plan.finest_level, 0, cf::kLevels - 1))];
            if (plan.present_words >= 0) present = plan.present_words;
            const size_t stored = std::min<size_t>(static_cast<size_t>(present), ec.words.size());
            const uint64_t at = head.size() + body.size();
            if (at + cf::kChunkHeaderBytes + 4 * ec.words.size() > 0xFFFFFFFFull)
                return Fail(error, "The chunk file passes 4 GiB");
            Put64(head, entry, at);
            std::vector<uint8_t> ch(cf::kChunkHeaderBytes, 0);
            for (size_t l = 0; l < size_t(cf::kLevels); ++l) {
                Put32(ch, 4 * l, static_cast<uint32_t>(ec.size[l]));
                ch[cf::kChunkChecks + l] = static_cast<uint8_t>(ec.check[l] ^ (plan.corrupt_check ? 0x5A : 0));
            }
            Put32(ch, cf::kChunkPresent, static_cast<uint32_t>(present));
            body.insert(body.end(), ch.begin(), ch.end());
            for (size_t i = 0; i < stored; ++i)
                for (int b = 0; b < 4; ++b) body.push_back(static_cast<uint8_t>(ec.words[i] >> (8 * b)));
            // A partly stored chunk keeps room for the rest, as a download leaves it, so
            // that fetching the finer levels writes in place.
            body.resize(body.size() + 4 * (ec.words.size() - stored), 0);
        }
    }
    // The chunk file first: a chart file never appears without its image data.
    std::string err;
    if (!WriteFileAtomically((dir + QStringLiteral("/0")).toStdString(), {&head, &body}, err)) return Fail(error, err);
    std::vector<uint8_t> tail;
    std::vector<uint8_t> header = BuildHeader(0x01, 0, tail, hdr::kSize);
    tail.resize(tail.size() + 8, 0);
    if (!WriteFileAtomically(path, {&header, &tail}, err)) return Fail(error, err);
    return true;
}
