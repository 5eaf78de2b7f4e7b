// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/chartoutline.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "charts/georef.h"
#include "charts/qct.h"
#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "maplib/chartlist.h"

namespace {

constexpr long long kMinChartFileSize = 17832;  // header, one tile-index entry and a little more
constexpr uint32_t kCatalogHeaderBytes = qct::header::kCatalogBytes;
constexpr int kMaxOutlinePoints = 1000000;

uint32_t U32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

double F64(const unsigned char* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    double d;
    std::memcpy(&d, &v, sizeof d);
    return d;
}

// Owns a read-only descriptor for the length of one read.
class ReadFd {
public:
    explicit ReadFd(const std::string& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~ReadFd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    ReadFd(const ReadFd&) = delete;
    ReadFd& operator=(const ReadFd&) = delete;
    int get() const { return m_fd; }
    bool ReadAt(long long offset, void* buf, size_t n) const {
        if (m_fd < 0 || offset < 0) return false;
        size_t done = 0;
        while (done < n) {
            const ssize_t r = ::pread(m_fd, static_cast<char*>(buf) + done, n - done, offset + done);
            if (r <= 0) return false;
            done += size_t(r);
        }
        return true;
    }

private:
    int m_fd;
};

double Unwrap(double lon, double centre) {
    if (lon - centre < -180) return lon + 360;
    if (lon - centre > 180) return lon - 360;
    return lon;
}

// Reads `count` (latitude, longitude) pairs at `pointer`, unwrapped and shifted, as
// (longitude, latitude) vertices. Points that are not finite numbers are dropped.
bool ReadOutlinePoints(const ReadFd& fd, long long pointer, int count, double centre, double dlat, double dlon,
                       std::vector<Vertex>& out) {
    std::vector<unsigned char> raw(size_t(count) * 16);
    if (!fd.ReadAt(pointer, raw.data(), raw.size())) return false;
    out.clear();
    out.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const double lat = F64(&raw[size_t(i) * 16]);
        const double lon = F64(&raw[size_t(i) * 16 + 8]);
        if (!std::isfinite(lat) || !std::isfinite(lon)) continue;
        out.emplace_back(Unwrap(lon, centre) + dlon, lat + dlat);
    }
    return out.size() >= 3;
}

std::string& MapsRoot() {
    static std::string root;
    return root;
}

long long ModificationTimeNs(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return 0;
    return static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}

class SortSettings : public PersistantData {
public:
    SortSettings() : PersistantData("CChartOutline::CSortedPointer") {}
    void DeclareData() override {
        Declare("sort_by", sort_by);
        Declare("reverse_sort", reverse_sort);
    }
    int sort_by = CChartOutline::CSortedPointer::kByName;
    bool reverse_sort = false;
};

SortSettings& SortPersistant() {
    static SortSettings s;
    return s;
}
// Registered at start-up like every settings object, so LoadAll sees it.
const SortSettings& g_sort_registration = SortPersistant();

}  // namespace

bool CChartOutline::Read(const std::string& file, std::string* error) {
    auto fail = [&](const char* why) {
        scale = 0;
        if (error) *error = why;
        return false;
    };
    scale = 0;
    path = file;
    polygon.clear();
    m_polygon_failed = false;

    ReadFd fd(file);
    if (fd.get() < 0) return fail("cannot be opened");
    struct stat st;
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return fail("not a regular file");
    const long long size = st.st_size;
    if (size < kMinChartFileSize) return fail("too short for a chart");

    unsigned char h[kCatalogHeaderBytes];
    if (!fd.ReadAt(0, h, sizeof h)) return fail("header cannot be read");
    namespace hdr = qct::header;
    const uint32_t magic = U32(h + hdr::kMagic);
    const uint32_t version = U32(h + hdr::kVersion);
    if ((magic | 1u) != 0x1423D5FFu) return fail("not a chart");
    const uint32_t kind = version >> 24;
    if ((version & 0xFFFFFF) >= 6 || (kind != 0x00 && kind != 0x01 && kind != 0x20))
        return fail("unsupported chart version");
    const uint32_t name_ptr = U32(h + hdr::kName);
    const uint32_t outline_ptr = U32(h + hdr::kOutline);
    if (name_ptr >= size || outline_ptr >= size) return fail("header pointer outside the file");

    const uint32_t tiles_w = U32(h + hdr::kTilesWide), tiles_h = U32(h + hdr::kTilesHigh);
    if (tiles_w == 0 || tiles_h == 0 || tiles_w > CQuickChart::kMaxTiles || tiles_h > CQuickChart::kMaxTiles)
        return fail("impossible image size");

    uint32_t type_ptr = 0, shift_ptr = 0;
    if (const uint32_t ext = U32(h + hdr::kExtendedData)) {
        unsigned char e[qct::extended::kSize];
        if (!fd.ReadAt(ext, e, sizeof e)) return fail("extended data cannot be read");
        type_ptr = U32(e + qct::extended::kMapType);
        shift_ptr = U32(e + qct::extended::kDatumShift);
        if (type_ptr >= size || shift_ptr >= size) return fail("extended data pointer outside the file");
    }

    chunked = (version >> 24) != 0;
    if (chunked) {
        fully_downloaded = 0;
        // Opening a missing chunk file would create it; only look at one that exists.
        const std::string stem = file.substr(0, file.size() - FileExtension(file).size());
        for (const char* ext : {"QC3", "qc3"}) {
            const std::string store = stem + ext;
            if (!FileExists(store) && !DirectoryExists(store)) continue;
            CQuickChart::CChunkFile chunks;
            // The reader refuses a chart whose chunk store is foreign or damaged.
            if (!chunks.Open(file)) return fail("chunk file is damaged");
            fully_downloaded = chunks.appearsFullyDownloaded() ? 1 : 0;
            break;
        }
    } else {
        const long long last_entry = hdr::kTileIndex + 4LL * (static_cast<long long>(tiles_w) * tiles_h - 1);
        unsigned char w[4];
        if (last_entry + 4 > size || !fd.ReadAt(last_entry, w, 4)) return fail("tile index runs past the end");
        if (U32(w) >= size) return fail("tile data runs past the end");
        // A catalogue header (no tile data yet) is refused by the reader too.
        if (!fd.ReadAt(0x45A0LL, w, 4) || U32(w) == 0) return fail("catalogue header without tile data");
    }

    CQuickChart::GetString(fd.get(), name_ptr, name);
    if (name.empty()) name = file;
    type.clear();
    CQuickChart::GetString(fd.get(), type_ptr, type);
    flags = U32(h + hdr::kFlags);

    Geo_ref_coeff_t coeffs;
    coeffs.LoadFromBytes(h + hdr::kGeoref);
    const double width = double(qct::kTileSide) * tiles_w, height = double(qct::kTileSide) * tiles_h;
    const double chart_scale = coeffs.get_scale(width / 2, height / 2);

    m_shift_lat = m_shift_lon = 0;
    if (shift_ptr) {
        unsigned char s[16];
        if (!fd.ReadAt(shift_ptr, s, sizeof s)) return fail("datum shift cannot be read");
        m_shift_lat = F64(s);
        m_shift_lon = F64(s + 8);
        if (!std::isfinite(m_shift_lat) || !std::isfinite(m_shift_lon)) return fail("impossible datum shift");
    }
    double centre_lat;
    coeffs.xy_to_latlong(width / 2, height / 2, centre_lat, m_centre_lon);
    if (!std::isfinite(m_centre_lon)) return fail("impossible georeferencing");

    const int32_t count = static_cast<int32_t>(U32(h + hdr::kOutlineCount));
    std::vector<Vertex> points;
    if (count <= 0) {
        const double corners[4][2] = {{0, 0}, {width, 0}, {width, height}, {0, height}};
        for (const auto& c : corners) {
            double lat, lon;
            coeffs.xy_to_latlong(c[0], c[1], lat, lon);
            points.emplace_back(lon, lat);
        }
        m_outline_ptr = 0;
        m_outline_count = 0;
    } else {
        if (count > kMaxOutlinePoints || outline_ptr == 0 || outline_ptr + 16LL * count > size)
            return fail("outline runs past the end");
        if (!ReadOutlinePoints(fd, outline_ptr, count, m_centre_lon, m_shift_lat, m_shift_lon, points))
            return fail("outline cannot be read");
        m_outline_ptr = outline_ptr;
        m_outline_count = count;
    }
    lon_min = lat_min = 1e300;
    lon_max = lat_max = -1e300;
    for (const Vertex& v : points) {
        if (!std::isfinite(v.x) || !std::isfinite(v.y)) return fail("impossible coverage");
        lon_min = std::min(lon_min, v.x);
        lon_max = std::max(lon_max, v.x);
        lat_min = std::min(lat_min, v.y);
        lat_max = std::max(lat_max, v.y);
    }
    // The stored outline is kept on disk until a point test needs it: thousands of
    // charts, most never looked at.
    if (count <= 0) polygon = std::move(points);
    // Queries arrive in -180..180; the coverage may extend beyond that across the
    // antimeridian, so they are unwrapped around the coverage's own centre.
    m_query_centre = (lon_min + lon_max) / 2;

    std::string revision, edition;
    CQuickChart::GetString(fd.get(), U32(h + hdr::kRevision), revision);
    date = 0;
    if (revision.size() >= 5 && revision[revision.size() - 5] == '/') date = ParseDate(revision);
    if (date == 0) {
        CQuickChart::GetString(fd.get(), U32(h + hdr::kEdition), edition);
        date = ParseDate(edition);
    }

    if (!std::isfinite(chart_scale) || chart_scale <= 0) return fail("no usable scale");
    scale = chart_scale;
    if (error) error->clear();
    return true;
}

bool CChartOutline::ReadPolygon() const {
    if (!polygon.empty()) return true;
    if (m_polygon_failed || m_outline_count <= 0) return false;
    ReadFd fd(path);
    std::vector<Vertex> points;
    if (fd.get() < 0 ||
        !ReadOutlinePoints(fd, m_outline_ptr, m_outline_count, m_centre_lon, m_shift_lat, m_shift_lon, points)) {
        m_polygon_failed = true;
        return false;
    }
    polygon = std::move(points);
    return true;
}

bool CChartOutline::doesContain(double lat, double lon) const {
    if (!std::isfinite(lat) || !std::isfinite(lon)) return false;
    lon = Unwrap(lon, m_query_centre);
    if (lat < lat_min || lat > lat_max || lon < lon_min || lon > lon_max) return false;
    if (polygon.empty() && !ReadPolygon()) return false;
    return CPolyline(polygon).doesContain(lon, lat);
}

bool CChartOutline::mightOverlap(const CBounds& b) const {
    if (!b.IsValid() || lat_max < lat_min) return false;
    if (b.ymin > lat_max || b.ymax < lat_min) return false;
    for (double shift : {0.0, 360.0, -360.0})
        if (b.xmin + shift <= lon_max && b.xmax + shift >= lon_min) return true;
    return false;
}

int CChartOutline::FolderNumber(const std::string& p) {
    std::string s = p;
    while (s.size() >= 2) {
        if (std::isdigit(static_cast<unsigned char>(s.back()))) {
            size_t start = s.size();
            while (start > 0 && std::isdigit(static_cast<unsigned char>(s[start - 1]))) --start;
            // Long digit runs (dates, serial numbers) are capped rather than overflowed.
            const std::string digits = s.substr(start);
            if (digits.size() > 9) return 999999999;
            return std::stoi(digits);
        }
        const size_t slash = s.find_last_of('/');
        if (slash == std::string::npos) return 0;
        s.erase(slash);
    }
    return 0;
}

void CChartOutline::SetMapsRoot(const std::string& root) {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    MapsRoot() = r;
}

bool CChartOutline::is_newer_than(const CChartOutline& other) const {
    if (date != other.date) return date > other.date;
    // Numbered only by the part below the maps folder, so that digits in the
    // application's own path (a profile called "boat2") do not count.
    auto below_root = [](const std::string& p) {
        const std::string& root = MapsRoot();
        if (!root.empty() && p.size() > root.size() && p.compare(0, root.size(), root) == 0 && p[root.size()] == '/')
            return p.substr(root.size());
        return p;
    };
    const int mine = FolderNumber(below_root(path));
    const int theirs = FolderNumber(below_root(other.path));
    if (theirs > 0 && mine != theirs && mine >= 1) return mine > theirs;
    return ModificationTimeNs(path) > ModificationTimeNs(other.path);
}

bool CChartOutline::typeIsSelected() const {
    const auto& show = CSelectMapTypes::Settings().show;
    return show.count(type) != 0;
}

bool CChartOutline::inKVSFolder() const {
    const std::string& kvs = CChartList::getKVSfolder();
    return path.size() > kvs.size() && path.compare(0, kvs.size(), kvs) == 0 && path[kvs.size()] == '/';
}

uint32_t CChartOutline::ParseDate(const std::string& text) {
    static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    std::vector<std::pair<long, size_t>> numbers;  // value, digit count
    int month_name = 0;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (std::isdigit(c)) {
            size_t j = i;
            long v = 0;
            while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
                if (v < 100000000) v = v * 10 + (text[j] - '0');
                ++j;
            }
            numbers.emplace_back(v, j - i);
            i = j;
        } else if (std::isalpha(c)) {
            size_t j = i;
            while (j < text.size() && std::isalpha(static_cast<unsigned char>(text[j]))) ++j;
            if (j - i >= 3 && month_name == 0) {
                std::string word = text.substr(i, 3);
                for (char& ch : word) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                for (int m = 0; m < 12; ++m)
                    if (word == kMonths[m]) month_name = m + 1;
            }
            i = j;
        } else {
            ++i;
        }
    }
    // The year is the four-digit number; a leading year reads year-month-day, a trailing
    // one day/month/year or month/year.
    int year_at = -1;
    for (size_t k = 0; k < numbers.size(); ++k)
        if (numbers[k].second == 4) {
            year_at = int(k);
            if (k == 0) break;
        }
    if (year_at < 0) return 0;
    const long year = numbers[size_t(year_at)].first;
    long month = month_name, day = 0;
    if (year_at == 0) {
        if (numbers.size() > 1 && month == 0) month = numbers[1].first;
        if (numbers.size() > 2) day = numbers[2].first;
    } else {
        if (month == 0)
            month = numbers[size_t(year_at) - 1].first;
        else
            day = numbers[size_t(year_at) - 1].first;
        if (year_at >= 2 && month_name == 0) day = numbers[size_t(year_at) - 2].first;
    }
    if (month < 0 || month > 12) month = 0;
    if (day < 0 || day > 31) day = 0;
    return static_cast<uint32_t>(year * 10000 + month * 100 + day);
}

// ---------------------------------------------------------------------------------------
// Sort order of chart lists

int CChartOutline::CSortedPointer::SortOrder() {
    return SortPersistant().sort_by;
}
bool CChartOutline::CSortedPointer::Reversed() {
    return SortPersistant().reverse_sort;
}

void CChartOutline::CSortedPointer::SetSortOrder(int sort_by, bool reverse) {
    SortSettings& s = SortPersistant();
    if (s.sort_by == sort_by && s.reverse_sort == reverse) return;
    s.sort_by = sort_by;
    s.reverse_sort = reverse;
    s.SetChanged();
    PersistantData::SaveAll();
}

void CChartOutline::CSortedPointer::Sort(std::vector<const CChartOutline*>& list, const DblPoint* reference) {
    Sort(list, SortOrder(), Reversed(), reference);
}

void CChartOutline::CSortedPointer::Sort(std::vector<const CChartOutline*>& list, int sort_by, bool reverse,
                                         const DblPoint* reference) {
    if (sort_by == kByNearness && !reference) sort_by = kByScale;
    auto by_scale = [](const CChartOutline* a, const CChartOutline* b) { return a->scale < b->scale; };
    if (sort_by == kByName) {
        // std::string compares bytes as char; names are UTF-8, so compare them unsigned.
        std::stable_sort(list.begin(), list.end(), [](const CChartOutline* a, const CChartOutline* b) {
            return std::lexicographical_compare(
                a->name.begin(), a->name.end(), b->name.begin(), b->name.end(),
                [](char x, char y) { return static_cast<unsigned char>(x) < static_cast<unsigned char>(y); });
        });
    } else if (sort_by == kByNearness) {
        const double lat = reference->y, lon = reference->x;
        const double coslat = std::cos(std::max(-89.0, std::min(89.0, lat)) * M_PI / 180);
        struct Keyed {
            const CChartOutline* o;
            bool inside;
            double distance;
        };
        std::vector<Keyed> keyed;
        keyed.reserve(list.size());
        for (const CChartOutline* o : list) {
            const double clat = (o->lat_min + o->lat_max) / 2;
            double dlon = std::fabs((o->lon_min + o->lon_max) / 2 - lon);
            dlon = std::fmod(dlon, 360.0);
            if (dlon > 180) dlon = 360 - dlon;
            const double dx = dlon * coslat, dy = clat - lat;
            keyed.push_back({o, o->doesContain(lat, lon), dx * dx + dy * dy});
        }
        std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
            if (a.inside != b.inside) return a.inside;
            if (a.inside) return a.o->scale < b.o->scale;
            return a.distance < b.distance;
        });
        for (size_t i = 0; i < list.size(); ++i) list[i] = keyed[i].o;
    } else {
        std::stable_sort(list.begin(), list.end(), by_scale);
    }
    if (reverse) std::reverse(list.begin(), list.end());
}
