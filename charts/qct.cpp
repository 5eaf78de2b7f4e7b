// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/qct.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>

#include "charts/codec.h"
#include "charts/qct_download.h"
#include "core/apppaths.h"

namespace {

constexpr char kProblem[] = "Problem";
constexpr size_t kMaxStringBytes = 65536;  // header texts are short; anything longer is garbage
constexpr int kMaxOutlinePoints = 1000000;

uint32_t LoadU32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

double LoadDouble(const unsigned char* p) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
}

std::string Latin1ToUtf8(const unsigned char* p, size_t n) {
    std::string s;
    s.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            s.push_back(static_cast<char>(c));
        } else {
            s.push_back(static_cast<char>(0xC0 | (c >> 6)));
            s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return s;
}

std::string Format(const char* fmt, const std::string& a) {
    const int n = std::snprintf(nullptr, 0, fmt, a.c_str());
    std::string s(static_cast<size_t>(std::max(n, 0)), '\0');
    std::snprintf(s.data(), s.size() + 1, fmt, a.c_str());
    return s;
}

std::string ReplaceExtension(const std::string& path, const std::string& ext) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + ext;
    return path.substr(0, dot) + ext;
}

long long SizeOfFileOrDirectory(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    if (!S_ISDIR(st.st_mode)) return st.st_size;
    long long total = 0;
    const QFileInfoList entries =
        QDir(QString::fromStdString(path)).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QFileInfo& fi : entries) total += fi.size();
    return total;
}

constexpr int kTile = qct::kTileSide;
constexpr unsigned kColourMask = qct::kPaletteColours - 1;

// Stored row of image row v of a tile (rows are kept in bit-reversed order).
inline unsigned Rev6(unsigned v) {
    static const struct Table {
        uint8_t t[kTile];
        Table() {
            for (unsigned i = 0; i < kTile; ++i) t[i] = static_cast<uint8_t>(BitReverse(i, qct::kTileShift));
        }
    } table;
    return table.t[v & (kTile - 1)];
}


// Floor division for tile numbers of possibly negative pixel coordinates.
inline int FloorDivTile(int v) { return v >= 0 ? v / kTile : -((-v + kTile - 1) / kTile); }

}  // namespace

// ---------------------------------------------------------------------------------------
// Shared open table

std::map<std::string, CQuickChart::sharedQCT>& CQuickChart::sharedQCTs() {
    static std::map<std::string, sharedQCT> table;
    return table;
}

void CQuickChart::Create(const NV_HWND& parent, const std::string& path,
                         std::function<void(CQuickChart*, bool)> callback) {
    if (!FileExists(path)) {
        if (callback) callback(nullptr, false);
        return;
    }
    auto& table = sharedQCTs();
    sharedQCT& entry = table[path];
    ++entry.refs;
    if (entry.chart) {
        if (callback) callback(entry.chart, entry.chart->IsOpen());
        return;
    }
    entry.waiting.push_back(std::move(callback));
    if (entry.waiting.size() > 1) return;  // an open is already under way
    CreateNew(parent, path, [path](CQuickChart* chart, bool ok) {
        auto& t = sharedQCTs();
        auto it = t.find(path);
        if (it == t.end()) {
            delete chart;
            return;
        }
        it->second.chart = chart;
        std::vector<std::function<void(CQuickChart*, bool)>> waiting;
        waiting.swap(it->second.waiting);
        if (!chart) {
            // Nobody can release an object they never got: forget the entry.
            it->second.refs -= static_cast<int>(waiting.size());
            if (it->second.refs <= 0) t.erase(it);
        }
        for (auto& cb : waiting)
            if (cb) cb(chart, ok);
    });
}

void CQuickChart::CreateNew(const NV_HWND& parent, const std::string& path,
                            std::function<void(CQuickChart*, bool)> callback) {
    unsigned char first[8] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t n = -1;
    if (fd >= 0) {
        n = ::pread(fd, first, sizeof first, 0);
        ::close(fd);
    }
    if (n != static_cast<ssize_t>(sizeof first)) {
        if (callback) callback(nullptr, false);
        return;
    }
    const uint32_t high = LoadU32(first + 4) >> 24;
    CQuickChart* chart = nullptr;
    if (high == 0x00 || high == 0x10) {
        // The older layout is refused by Open with its own message.
        chart = new CQuickChart1();
    } else if (high == 0x01 || high == 0x20) {
        chart = new CQuickChart3();
    } else {
        if (callback) callback(nullptr, false);
        return;
    }
    chart->Open(parent, path.c_str(), [chart, callback](bool ok) {
        if (callback) callback(chart, ok);
    });
}

void CQuickChart::Destroy() {
    auto& table = sharedQCTs();
    auto it = table.find(m_path);
    if (it == table.end() || it->second.chart != this) {
        delete this;
        return;
    }
    if (--it->second.refs <= 0) {
        table.erase(it);
        delete this;
    }
}

CQuickChart::~CQuickChart() { Close(); }

// ---------------------------------------------------------------------------------------
// Open and close

bool CQuickChart::MapPrimary(size_t length) {
    if (m_primary) {
        ::munmap(m_primary, m_primary_len);
        m_primary = nullptr;
        m_primary_len = 0;
        m_header = nullptr;
    }
    if (length == 0) return false;
    void* p = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE, m_fd, 0);
    if (p == MAP_FAILED) return false;
    m_primary = static_cast<unsigned char*>(p);
    m_primary_len = length;
    m_header = m_primary;
    return true;
}

void CQuickChart::Refuse(const NV_HWND& parent, const std::string& text) {
    MessageBoxOK(parent, kProblem, text);
    Close();
}

uint32_t CQuickChart::HeaderU32(uint32_t offset) const {
    if (!m_header || static_cast<size_t>(offset) + 4 > m_primary_len) return 0;
    return LoadU32(m_header + offset);
}

void CQuickChart::Open(const NV_HWND& parent, const char* path, std::function<void(bool)> callback) {
    auto done = [&callback](bool ok) {
        if (callback) callback(ok);
    };
    Close();
    m_path = path ? path : "";
    m_file_size = static_cast<uint64_t>(std::max(0LL, FileSize(m_path)));
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) return done(false);
    struct stat st {};
    if (::fstat(m_fd, &st) == 0) m_file_size = static_cast<uint64_t>(st.st_size);

    if (!MapPrimary(static_cast<size_t>(std::min<uint64_t>(m_file_size, kMappingLength)))) {
        Refuse(parent, Format("Failed to open map: \"%s\"\nTry rebooting...", m_path));
        return done(false);
    }

    if (m_primary_len < 8 || (HeaderU32(qct::header::kMagic) | 1u) != 0x1423D5FFu) {
        Refuse(parent, Format("Not a QuickChart: \"%s\"", m_path));
        return done(false);
    }
    m_version = HeaderU32(qct::header::kVersion);
    if ((m_version & 0xFFFFFF) > 5) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%x", m_version);
        Refuse(parent, Format("To open this map you need a newer version of your software.\n\n%s is version ", m_path) +
                           buf + ".");
        return done(false);
    }
    const uint32_t high = m_version >> 24;
    if (high == 0x10) {
        Refuse(parent, "This QC2 map is not compatible");
        return done(false);
    }
    const bool single = dynamic_cast<CQuickChart1*>(this) != nullptr;
    const std::string damaged = Format("The map \"%s\" is damaged or incomplete.", m_path);
    if (m_primary_len < qct::header::kSize) {
        Refuse(parent, damaged);
        return done(false);
    }
    m_tiles_w = HeaderU32(qct::header::kTilesWide);
    m_tiles_h = HeaderU32(qct::header::kTilesHigh);
    if (m_tiles_w < 1 || m_tiles_h < 1 || m_tiles_w > kMaxTiles || m_tiles_h > kMaxTiles) {
        Refuse(parent, damaged);
        return done(false);
    }

    if (single) {
        const uint64_t index_end = qct::header::kTileIndex + 4ull * m_tiles_w * m_tiles_h;
        if (index_end > m_file_size) {
            Refuse(parent, damaged);
            return done(false);
        }
        // The index plus a little slack; never past the end of the file, where touching the
        // mapping would fault.
        const uint64_t wanted = std::min<uint64_t>(index_end + 8, m_file_size);
        if (m_primary_len < wanted && !MapPrimary(static_cast<size_t>(wanted))) {
            Refuse(parent, Format("Failed to open map: \"%s\"\n. Try Rebooting...", m_path));
            return done(false);
        }
    }

    m_flags = HeaderU32(qct::header::kFlags);
    std::memset(m_ext, 0, sizeof m_ext);
    std::memset(m_online, 0, sizeof m_online);
    if (const uint32_t ext = HeaderU32(qct::header::kExtendedData)) {
        if (const MappedView block = get_addr(ext))
            std::memcpy(m_ext, block.data(), std::min(block.size(), sizeof m_ext));
        if (const uint32_t online = LoadU32(m_ext + qct::extended::kOnlineData)) {
            const MappedView block = get_addr(online);
            if (block.size() >= 4) {
                const uint32_t len = LoadU32(block.data());
                std::memcpy(m_online, block.data(), std::min<size_t>({block.size(), sizeof m_online, len}));
            }
        }
    }
    m_width = static_cast<int>(m_tiles_w * qct::kTileSide);
    m_height = static_cast<int>(m_tiles_h * qct::kTileSide);
    GetHeaderString(LoadU32(m_ext + qct::extended::kExtraText), m_extra_text);
    GetHeaderString(HeaderU32(qct::header::kSourceFile), m_source_file);
    for (int i = 0; i < qct::kPaletteColours; ++i)
        m_palette[i] = LoadU32(m_header + qct::header::kPalette + 4 * i) | 0xFF000000u;
    std::memcpy(m_matrix, m_header + qct::header::kMatrix, sizeof m_matrix);
    m_coeffs.LoadFromBytes(m_header + qct::header::kGeoref);

    if (single && HeaderU32(qct::header::kTileIndex) == 0) {
        Refuse(parent, "This map is a catalog header and has not been completely converted.");
        return done(false);
    }

    m_has_shift = false;
    m_shift_lat = m_shift_lon = 0;
    if (const uint32_t shift = LoadU32(m_ext + qct::extended::kDatumShift)) {
        const MappedView pair = get_addr(shift);
        if (pair.size() >= 16) {
            m_shift_lat = LoadDouble(pair.data());
            m_shift_lon = LoadDouble(pair.data() + 8);
            m_has_shift = true;
        }
    }
    double lat;
    m_centre_lon = 0;
    xy_to_latlong(m_width / 2, m_height / 2, lat, m_centre_lon);

    m_open = true;
    if (OnOpen()) return done(true);
    Close();
    done(false);
}

void CQuickChart::Close() {
    std::lock_guard<std::mutex> lock(m_map_mutex);
    m_open = false;
    if (m_secondary) ::munmap(m_secondary, m_secondary_len);
    m_secondary = nullptr;
    m_secondary_base = -1;
    m_secondary_len = 0;
    if (m_primary) ::munmap(m_primary, m_primary_len);
    m_primary = nullptr;
    m_primary_len = 0;
    m_header = nullptr;
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
    m_location.reset();
}

// ---------------------------------------------------------------------------------------
// Mapping

CQuickChart::MappedView CQuickChart::get_addr(uint64_t offset) {
    MappedView view(m_map_mutex);
    if (!m_primary) return view;
    if (offset < (uint64_t(1) << kWindowShift)) {
        if (offset >= m_primary_len) return view;
        view.m_data = m_primary + offset;
        view.m_size = m_primary_len - offset;
        return view;
    }
    const int64_t base = static_cast<int64_t>(offset & ~((uint64_t(1) << kWindowShift) - 1));
    if (base != m_secondary_base || !m_secondary) {
        if (m_secondary) ::munmap(m_secondary, m_secondary_len);
        m_secondary = nullptr;
        m_secondary_len = 0;
        m_secondary_base = -1;
        if (static_cast<uint64_t>(base) >= m_file_size) return view;
        const size_t len = static_cast<size_t>(std::min<uint64_t>(kMappingLength, m_file_size - base));
        void* p = ::mmap(nullptr, len, PROT_READ, MAP_PRIVATE, m_fd, static_cast<off_t>(base));
        if (p == MAP_FAILED) return view;
        m_secondary = static_cast<unsigned char*>(p);
        m_secondary_len = len;
        m_secondary_base = base;
    }
    const size_t delta = static_cast<size_t>(offset - static_cast<uint64_t>(base));
    if (delta >= m_secondary_len) return view;
    view.m_data = m_secondary + delta;
    view.m_size = m_secondary_len - delta;
    return view;
}

int64_t CQuickChart::SecondaryWindowBase() {
    std::lock_guard<std::mutex> lock(m_map_mutex);
    return m_secondary_base;
}

size_t CQuickChart::SecondaryWindowLength() {
    std::lock_guard<std::mutex> lock(m_map_mutex);
    return m_secondary_len;
}

void CQuickChart::UnpackBlock(const unsigned char* data, size_t available, unsigned char* out, int rows) {
    ::UnpackBlock(data, available, out, rows);
}

void CQuickChart::ReadBlock_bitmap(const unsigned char* data, size_t available, int rows, unsigned char* out) {
    ::ReadBlock_bitmap(data, available, rows, out);
}

// ---------------------------------------------------------------------------------------
// Metadata

bool CQuickChart::GetHeaderString(uint32_t pointer, std::string& out) {
    out.clear();
    if (!m_open && !m_header) return false;
    if (pointer == 0) return false;
    const MappedView text = get_addr(pointer);
    if (!text) return false;
    const size_t limit = std::min(text.size(), kMaxStringBytes);
    const void* nul = std::memchr(text.data(), 0, limit);
    const size_t n = nul ? static_cast<size_t>(static_cast<const unsigned char*>(nul) - text.data()) : limit;
    out = Latin1ToUtf8(text.data(), n);
    return true;
}

bool CQuickChart::GetString(int fd, uint32_t pointer, std::string& out) {
    out.clear();
    if (fd < 0 || pointer == 0) return false;
    unsigned char buf[1024];
    const ssize_t n = ::pread(fd, buf, 1023, static_cast<off_t>(pointer));
    if (n < 0) return false;
    buf[n] = 0;
    out = Latin1ToUtf8(buf, std::strlen(reinterpret_cast<const char*>(buf)));
    return true;
}

std::string CQuickChart::GetHeaderStringField(uint32_t header_offset) {
    std::string s;
    if (m_header) GetHeaderString(HeaderU32(header_offset), s);
    return s;
}

std::string CQuickChart::GetCopyright() { return GetHeaderStringField(qct::header::kCopyright); }

std::string CQuickChart::GetMapType() {
    std::string s;
    if (m_header) GetHeaderString(LoadU32(m_ext + qct::extended::kMapType), s);
    return s;
}

std::string CQuickChart::GetOnlineUrl() {
    std::string s;
    if (m_header && LoadU32(m_online) >= 8) GetHeaderString(LoadU32(m_online + 4), s);
    return s;
}

std::string CQuickChart::GetTitle() {
    if (!m_header) return {};
    std::string title = GetHeaderStringField(qct::header::kName);
    if (title.empty()) title = GetHeaderStringField(qct::header::kTitle);
    if (title.empty()) title = GetHeaderStringField(qct::header::kIdentifier);
    if (title.empty()) title = FileNameOf(m_path);
    const std::string type = GetMapType();
    const uint32_t depth_ptr = HeaderU32(qct::header::kDepthUnits);
    if (depth_ptr != 0 && (type.find("Nautical") != std::string::npos || type.find("Marine") != std::string::npos ||
                           type.find("Hydro") != std::string::npos)) {
        std::string depth;
        GetHeaderString(depth_ptr, depth);
        title += ". Soundings in " + depth;
    }
    return title;
}

bool CQuickChart::getBoundaryPolygon(CPolygon& polygon) {
    if (!m_header) return false;
    const int32_t count = static_cast<int32_t>(HeaderU32(qct::header::kOutlineCount));
    const uint32_t pointer = HeaderU32(qct::header::kOutline);
    std::vector<double> points;
    if (count >= 1 && count <= kMaxOutlinePoints && pointer != 0) {
        const MappedView outline = get_addr(pointer);
        const size_t bytes = static_cast<size_t>(count) * 16;
        if (outline.size() >= bytes) {
            points.resize(static_cast<size_t>(count) * 2);
            std::memcpy(points.data(), outline.data(), bytes);
        }
    }
    if (points.empty()) {
        // No usable outline: the image corners, clockwise from the top left.
        const double corners[4][2] = {
            {0, 0}, {double(m_width), 0}, {double(m_width), double(m_height)}, {0, double(m_height)}};
        for (const auto& c : corners) {
            double lat, lon;
            m_coeffs.xy_to_latlong(c[0], c[1], lat, lon);
            polygon.Add(lon, lat);
        }
        return true;
    }
    double lat_c, lon_c;
    xy_to_latlong(0.5 * m_width, 0.5 * m_height, lat_c, lon_c);
    for (size_t i = 0; i + 1 < points.size(); i += 2) {
        double lat = points[i], lon = points[i + 1];
        if (lon - lon_c < -180) lon += 360;
        else if (lon - lon_c > 180) lon -= 360;
        if (m_has_shift) {
            lat += m_shift_lat;
            lon += m_shift_lon;
        }
        polygon.Add(lon, lat);
    }
    return true;
}

bool CQuickChart::doesContain(double lat, double lon) {
    std::lock_guard<std::mutex> lock(m_coverage_mutex);
    if (!m_coverage_built) {
        m_coverage.Clear();
        getBoundaryPolygon(m_coverage);
        m_coverage_built = true;
    }
    return m_coverage.doesContain(lon, lat);
}

long long CQuickChart::getQctFileSize(const std::string& path) {
    long long total = std::max(0LL, FileSize(path));
    long long companion = SizeOfFileOrDirectory(ReplaceExtension(path, ".QC3"));
    if (companion == 0) companion = SizeOfFileOrDirectory(ReplaceExtension(path, ".qc3"));
    return total + companion;
}

// ---------------------------------------------------------------------------------------
// Georeferencing

void CQuickChart::xy_to_latlong(int x, int y, double& lat, double& lon) const {
    xy_to_latlong(static_cast<double>(x), static_cast<double>(y), lat, lon);
}

void CQuickChart::xy_to_latlong(double x, double y, double& lat, double& lon) const {
    m_coeffs.xy_to_latlong(x, y, lat, lon);
    if (m_has_shift) {
        lat += m_shift_lat;
        lon += m_shift_lon;
    }
}

void CQuickChart::latlong_to_xy(double lat, double lon, double& x, double& y) const {
    if (m_has_shift) {
        lat -= m_shift_lat;
        lon -= m_shift_lon;
    }
    m_coeffs.latlong_to_xy(lat, lon, x, y, m_centre_lon);
}

bool CQuickChart::latlong_to_xy(double lat, double lon, POINT& p) const {
    double x, y;
    latlong_to_xy(lat, lon, x, y);
    return PixelToPOINT(x, y, p);
}

CPolynomialProjection CQuickChart::GetProjection() const {
    CPolynomialProjection proj;
    proj.init(m_coeffs.forward, m_coeffs.inverse, m_width, m_height, m_has_shift ? m_shift_lat : 0,
              m_has_shift ? m_shift_lon : 0);
    return proj;
}

// ---------------------------------------------------------------------------------------
// Pixel assembly

int CQuickChart::ReadRectRGB(int x, int y, int w, int h, int stride, int zoom, unsigned int* out,
                             ThreadDataForRead* td) {
    if (w <= 0 || h <= 0 || !out || stride < w) return 0;
    ThreadDataForRead local;
    unsigned char* tile = td ? td->tile : local.tile;
    const uint32_t* pal = m_palette;

    if (zoom > 0) {
        if (zoom > 6) return 0;  // a tile would give less than one output pixel
        const int m = 1 << zoom;
        const int64_t src_w = int64_t(w) * m, src_h = int64_t(h) * m;
        if (src_h < kTile) return 0;
        const int out_tile = kTile >> zoom;
        const int half = m / 2;
        const int tiles_x = static_cast<int>((src_w + kTile - 1) / kTile);
        const int tiles_y = static_cast<int>((src_h + kTile - 1) / kTile);
        const int tx0 = FloorDivTile(x), ty0 = FloorDivTile(y);
        for (int ty = 0; ty < tiles_y; ++ty) {
            const int oy = ty * out_tile;
            const int rows = std::min(out_tile, h - oy);
            if (rows <= 0) break;
            for (int tx = 0; tx < tiles_x; ++tx) {
                const int ox = tx * out_tile;
                const int cols = std::min(out_tile, w - ox);
                if (cols <= 0) break;
                if (ReadBlock(tx0 + tx, ty0 + ty, zoom - 1, tile, td) != 0) return 1;
                for (int j = 0; j < rows; ++j) {
                    const unsigned char* r0 = tile + kTile * Rev6(unsigned(j * m));
                    const unsigned char* r1 = tile + kTile * Rev6(unsigned(j * m + half));
                    unsigned int* dst = out + size_t(oy + j) * size_t(stride) + ox;
                    for (int i = 0; i < cols; ++i) {
                        const int c = i * m;
                        const unsigned a = r0[c], b = r0[c + half], d = r1[c], e = r1[c + half];
                        const unsigned ae = m_matrix[((a << 7) + e) & 0x3FFF];
                        const unsigned db = m_matrix[((d << 7) + b) & 0x3FFF];
                        dst[i] = pal[m_matrix[((ae << 7) + db) & 0x3FFF] & kColourMask];
                    }
                }
            }
        }
        return 0;
    }

    if (zoom == 0 && h < kTile) return 0;
    if (zoom == 0 && (x % kTile) == 0 && (y % kTile) == 0 && (w % kTile) == 0 && (h % kTile) == 0) {
        const int tx0 = x / kTile, ty0 = y / kTile;
        for (int ty = 0; ty < h / kTile; ++ty) {
            for (int tx = 0; tx < w / kTile; ++tx) {
                if (ReadBlock(tx0 + tx, ty0 + ty, 0, tile, td) != 0) return 1;
                for (int r = 0; r < kTile; ++r) {
                    const unsigned char* src = tile + kTile * Rev6(unsigned(r));
                    unsigned int* dst = out + size_t(ty * kTile + r) * size_t(stride) + tx * kTile;
                    for (int i = 0; i < kTile; ++i) dst[i] = pal[src[i] & kColourMask];
                }
            }
        }
        return 0;
    }

    // Magnified (or unaligned unit) reads: each source pixel becomes an m x m block.
    const int shift = zoom < 0 ? std::min(-zoom, 16) : 0;
    const int m = 1 << shift;
    const int sw = w / m, sh = h / m;
    if (sw <= 0 || sh <= 0) return 0;
    const int tx_first = FloorDivTile(x), ty_first = FloorDivTile(y);
    const int tx_last = FloorDivTile(x + sw - 1), ty_last = FloorDivTile(y + sh - 1);
    for (int ty = ty_first; ty <= ty_last; ++ty) {
        for (int tx = tx_first; tx <= tx_last; ++tx) {
            if (ReadBlock(tx, ty, 0, tile, td) != 0) return 1;
            const int sx0 = std::max(x, tx * kTile), sx1 = std::min(x + sw, tx * kTile + kTile);
            const int sy0 = std::max(y, ty * kTile), sy1 = std::min(y + sh, ty * kTile + kTile);
            for (int sy = sy0; sy < sy1; ++sy) {
                const unsigned char* src = tile + kTile * Rev6(unsigned(sy - ty * kTile));
                for (int k = 0; k < m; ++k) {
                    unsigned int* dst = out + size_t((sy - y) * m + k) * size_t(stride);
                    for (int sx = sx0; sx < sx1; ++sx) {
                        const unsigned int c = pal[src[sx - tx * kTile] & kColourMask];
                        unsigned int* p = dst + (sx - x) * m;
                        for (int q = 0; q < m; ++q) p[q] = c;
                    }
                }
            }
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Single-file variant

uint32_t CQuickChart1::TileOffset(int x, int y) const {
    if (x < 0 || y < 0 || uint32_t(x) >= m_tiles_w || uint32_t(y) >= m_tiles_h) return 0;
    return HeaderU32(qct::header::kTileIndex + 4 * (uint32_t(x) + uint32_t(y) * m_tiles_w));
}

int CQuickChart1::ReadBlock(int x, int y, int level, unsigned char* out, ThreadDataForRead* /*td*/) {
    level = std::clamp(level, 0, 6);
    const int rows = kTile >> level;
    if (x < 0 || y < 0 || uint32_t(x) >= m_tiles_w || uint32_t(y) >= m_tiles_h ||
        HeaderU32(qct::header::kTileIndex) == 0) {
        std::memset(out, 1, size_t(rows) * kTile);
        return 0;
    }
    if (const uint32_t offset = TileOffset(x, y)) {
        if (const MappedView tile = get_addr(offset)) {
            UnpackBlock(tile.data(), tile.size(), out, rows);
            return 0;
        }
    }
    std::memset(out, 0, size_t(rows) * kTile);
    return 0;
}
