// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/chartlist.h"

#include "online/mappackage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "core/apppaths.h"
#include "core/pubsub.h"
#include "core/threadcheck.h"

CChartList* p_chart_list = nullptr;

namespace {

constexpr int kMaxFolderDepth = 32;

bool HasExtension(const std::string& name, const char* ext) {
    const size_t n = std::strlen(ext);
    if (name.size() <= n || name[name.size() - n - 1] != '.') return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(name[name.size() - n + i])) != ext[i]) return false;
    return true;
}

bool IsDirectory(const std::string& path, struct stat* st = nullptr) {
    struct stat s;
    if (::stat(path.c_str(), &s) != 0 || !S_ISDIR(s.st_mode)) return false;
    if (st) *st = s;
    return true;
}

std::string Trim(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// A chunk store is a plain file or a directory of slice files; both go.
void RemoveChunkStore(const std::string& store) {
    struct stat st;
    if (::lstat(store.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* d = ::opendir(store.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") continue;
                ::unlink((store + "/" + name).c_str());
            }
            ::closedir(d);
        }
        ::rmdir(store.c_str());
    } else {
        ::unlink(store.c_str());
    }
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    return Trim(line);
}

// Written through ".tmp" so that a failed write leaves the old redirection in place.
bool WriteTextFile(const std::string& path, const std::string& text) {
    if (!createPath(path)) return false;
    const std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << text << '\n';
        out.flush();
        if (!out) {
            out.close();
            std::remove(tmp.c_str());
            return false;
        }
    }
    if (!ReplaceFile(tmp, path)) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

// Redirections store paths in the download folder relative to it, so that the folder
// can move with the profile.
std::string RelativeToKVS(const std::string& path) {
    const std::string& kvs = CChartList::getKVSfolder();
    if (path.size() > kvs.size() + 1 && path.compare(0, kvs.size(), kvs) == 0 && path[kvs.size()] == '/')
        return path.substr(kvs.size() + 1);
    return path;
}

std::string ResolveFromKVS(const std::string& stored) {
    if (stored.empty() || stored[0] == '/') return stored;
    return CChartList::getKVSfolder() + "/" + stored;
}

std::string ChartKey(const std::string& chart_path) {
    std::string name = FileNameOf(chart_path);
    const size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    for (char& c : name)
        if (c == '/' || c == '\\' || c == ':') c = '_';
    return name;
}

bool Gunzip(const std::string& from, const std::string& to) {
    gzFile in = gzopen(from.c_str(), "rb");
    if (!in) return false;
    // zlib passes plain files through unchanged; a download that should have been
    // compressed and is not is an error page or a damaged file.
    if (gzdirect(in)) {
        gzclose(in);
        return false;
    }
    const std::string tmp = to + ".tmp";
    FILE* out = std::fopen(tmp.c_str(), "wb");
    bool ok = out != nullptr;
    char buf[65536];
    while (ok) {
        const int n = gzread(in, buf, sizeof buf);
        if (n < 0) ok = false;
        if (n <= 0) break;
        ok = std::fwrite(buf, 1, size_t(n), out) == size_t(n);
    }
    gzclose(in);
    if (out && std::fclose(out) != 0) ok = false;
    if (ok) ok = ReplaceFile(tmp, to);
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Selected map types

CSelectMapTypes::CSelectMapTypes() : PersistantData("CSelectMapTypes"), show(DefaultTypes()) {}

void CSelectMapTypes::DeclareData() {
    Declare("show", show);
    Declare("types_hint", types_hint);
    Declare("KVS_storage_option", KVS_storage_option);
    Declare("KVS_external_folder", KVS_external_folder);
    // A saved empty selection would show nothing at all after the next start.
    if (!IsSaving() && show.empty()) show = DefaultTypes();
}

CSelectMapTypes& CSelectMapTypes::Settings() {
    static CSelectMapTypes s;
    return s;
}

namespace {
// Registered before start-up loads the settings.
const CSelectMapTypes& g_select_registration = CSelectMapTypes::Settings();
}  // namespace

// ---------------------------------------------------------------------------------------
// Folders and refresh

struct CChartList::WalkState {
    std::set<NodeId> visited;  // this walk only, so that a link back up ends
    CFolderAndTime result;
    const CChartOutline** first_read = nullptr;
};

namespace {
IChartFetcher* g_fetcher = nullptr;
}

void CChartList::SetFetcher(IChartFetcher* fetcher) {
    g_fetcher = fetcher;
}

IChartFetcher& CChartList::Fetcher() {
    return g_fetcher ? *g_fetcher : OnlineChartFetcher();
}

const std::string& CChartList::getKVSfolder() {
    static const std::string folder = getAppDirectory("KVS");
    return folder;
}

CChartList::CChartList() {
    init();
}

CChartList::CChartList(const std::vector<std::string>& folders, const std::string& bundle_dir)
    : m_standard_folders(false), m_given_folders(folders), m_bundle_dir(bundle_dir) {
    init();
}

CChartList::~CChartList() {
    if (p_chart_list == this) p_chart_list = nullptr;
}

bool CChartList::AddFolder(const std::string& path) {
    struct stat st;
    if (path.empty() || !IsDirectory(path, &st)) return false;
    CFolderAndTime& f = m_folders[static_cast<uint64_t>(st.st_ino)];
    if (!f.path.empty()) return false;
    f.path = path;
    return true;
}

void CChartList::init() {
    NV_ASSERT_GUI_THREAD();
    m_folders.clear();
    if (m_standard_folders) {
        const std::string app = getAppDirectory();
        getKVSfolder();
        CChartOutline::SetMapsRoot(app);
        m_bundle_dir = getBuiltinChartsDirectory();
        AddFolder(app);
        AddFolder(CSelectMapTypes::Settings().KVS_external_folder);
        AddFolder(app + "/no_such_directory");
        std::ifstream list(app + "/map_folders.txt");
        std::string line;
        while (std::getline(list, line)) {
            line = Trim(line);
            if (line.empty() || line[0] == '#') continue;
            AddFolder(line);
        }
    } else {
        for (const std::string& f : m_given_folders) AddFolder(f);
    }
    Refresh();
}

void CChartList::Insert(CChartOutline&& outline, const CChartOutline** first_inserted) {
    // Equal scales go after the ones already there, so reading order decides among them.
    const auto it = m_outlines.insert(std::move(outline));
    m_index_valid = false;
    ApplyUnreadable(*it);
    if (first_inserted && !*first_inserted) *first_inserted = &*it;
}

void CChartList::Walk(const std::string& dir, bool read, WalkState& state, int depth) {
    struct stat st;
    if (depth > kMaxFolderDepth || !IsDirectory(dir, &st)) return;
    const NodeId node{st.st_dev, st.st_ino};
    if (!state.visited.insert(node).second) return;
    // A folder reached from two map folders (or twice through a link) is read once per
    // refresh, but counted in every folder's time so that each notices its own changes.
    const bool read_here = read && m_searched.insert(node).second;

    std::vector<std::pair<std::string, unsigned char>> entries;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0))) continue;
            entries.emplace_back(e->d_name, e->d_type);
        }
        ::closedir(d);
    }
    // Directory order is arbitrary; charts of equal scale must come out the same each time.
    std::sort(entries.begin(), entries.end());

    std::vector<std::string> subfolders;
    for (const auto& [name, dtype] : entries) {
        const std::string full = dir + "/" + name;
        const bool chart = HasExtension(name, "qct");
        if (dtype == DT_REG && !chart) continue;
        struct stat fs;
        if (::stat(full.c_str(), &fs) != 0) continue;
        if (S_ISDIR(fs.st_mode)) {
            // Chunk stores hold nothing but slices that downloads rewrite all the time.
            if (!HasExtension(name, "qc3")) subfolders.push_back(full);
            continue;
        }
        if (!chart || !S_ISREG(fs.st_mode)) continue;
        const long long t = static_cast<long long>(fs.st_mtim.tv_sec) * 1000000000LL + fs.st_mtim.tv_nsec;
        state.result.time = std::max(state.result.time, t);
        ++state.result.count;
        if (read_here) {
            CChartOutline outline;
            if (outline.Read(full)) Insert(std::move(outline), state.first_read);
        }
    }
    for (const std::string& sub : subfolders) Walk(sub, read, state, depth + 1);
}

CChartList::CFolderAndTime CChartList::Scan(const std::string& path, bool read) {
    WalkState state;
    Walk(path, read, state, 0);
    state.result.path = path;
    return state.result;
}

void CChartList::Refresh() {
    NV_ASSERT_GUI_THREAD();
    const std::string builtin_path = m_builtin ? m_builtin->path : std::string();
    m_builtin = nullptr;
    m_searched.clear();
    m_outlines.clear();
    m_index_valid = false;
    for (auto& [node, folder] : m_folders) folder = Scan(folder.path, true);
    if (!m_bundle_dir.empty()) {
        WalkState state;
        state.first_read = &m_builtin;
        Walk(m_bundle_dir, true, state, 0);
    }
    if (!builtin_path.empty() && FileExists(builtin_path)) m_builtin = FindFile(builtin_path);
    NotifyChanged();
}

bool CChartList::RefreshIfNeeded() {
    NV_ASSERT_GUI_THREAD();
    for (const auto& [node, folder] : m_folders) {
        if (Scan(folder.path, false) == folder) continue;
        Refresh();
        return true;
    }
    return false;
}

bool CChartList::AddSearchFolder(const std::string& path) {
    NV_ASSERT_GUI_THREAD();
    struct stat st;
    if (!IsDirectory(path, &st)) return false;
    if (m_searched.count({st.st_dev, st.st_ino})) return false;
    if (!AddFolder(path)) return false;
    m_folders[static_cast<uint64_t>(st.st_ino)] = Scan(path, true);
    NotifyChanged();
    return true;
}

void CChartList::NotifyChanged() {
    Listener<CChartList>::Publish(*this);
}

// ---------------------------------------------------------------------------------------
// Queries

bool CChartList::IndexEntry::MightContain(double lat, double lon) const {
    if (lat < lat_min || lat > lat_max) return false;
    // Coverage across the antimeridian runs beyond 180 (or below -180).
    return (lon >= lon_min && lon <= lon_max) || (lon + 360 >= lon_min && lon + 360 <= lon_max) ||
           (lon - 360 >= lon_min && lon - 360 <= lon_max);
}

const std::vector<CChartList::IndexEntry>& CChartList::Index() const {
    if (!m_index_valid) {
        m_index.clear();
        m_index.reserve(m_outlines.size());
        for (const CChartOutline& o : m_outlines)
            if (!o.unreadable) m_index.push_back({o.lat_min, o.lat_max, o.lon_min, o.lon_max, o.scale, &o});
        m_index_valid = true;
    }
    return m_index;
}

const CChartOutline* CChartList::FindBestChart(double lat, double lon, double scale, bool any_type) const {
    NV_ASSERT_GUI_THREAD();
    const double wanted = scale == 0 ? 1e-8 : scale;
    const CChartOutline* best = nullptr;
    double best_closeness = -1;
    auto consider = [&](const IndexEntry& e) {
        double c = wanted / e.scale;
        if (c > 1) c = 1 / c;
        if (c > best_closeness) best_closeness = c, best = e.outline;
    };
    if (!(lat >= -90 && lat <= 90)) {  // also NaN: no position
        for (const IndexEntry& e : Index())
            if (e.scale > 0) consider(e);
        return best;
    }
    for (const IndexEntry& e : Index()) {
        if (e.scale <= 0 || !e.MightContain(lat, lon)) continue;
        if (!any_type && !e.outline->typeIsSelected()) continue;
        if (!e.outline->doesContain(lat, lon)) continue;
        consider(e);
    }
    if (!best && !any_type) return FindBestChart(lat, lon, scale, true);
    return best;
}

const CChartOutline* CChartList::ScaleIn(double lat, double lon, double scale) const {
    NV_ASSERT_GUI_THREAD();
    for (auto it = m_outlines.lower_bound(0.97 * scale); it != m_outlines.begin();) {
        --it;
        if (!it->unreadable && it->doesContain(lat, lon) && it->typeIsSelected()) return &*it;
    }
    return nullptr;
}

const CChartOutline* CChartList::ScaleOut(double lat, double lon, double scale) const {
    NV_ASSERT_GUI_THREAD();
    for (auto it = m_outlines.upper_bound(1.03 * scale); it != m_outlines.end(); ++it)
        if (!it->unreadable && it->doesContain(lat, lon) && it->typeIsSelected()) return &*it;
    return nullptr;
}

bool CChartList::NextHit(double lat, double lon, iterator& it) const {
    NV_ASSERT_GUI_THREAD();
    it = it == m_outlines.end() ? m_outlines.begin() : std::next(it);
    while (it != m_outlines.end() && (it->unreadable || !it->doesContain(lat, lon))) ++it;
    return it != m_outlines.end();
}

void CChartList::ChartsAt(double lat, double lon, std::vector<const CChartOutline*>& list) const {
    NV_ASSERT_GUI_THREAD();
    iterator it = m_outlines.end();
    while (NextHit(lat, lon, it)) list.push_back(&*it);
}

const CChartOutline* CChartList::FindFile(const std::string& path) {
    NV_ASSERT_GUI_THREAD();
    for (const CChartOutline& o : m_outlines)
        if (o.path == path) return &o;
    CChartOutline outline;
    if (!outline.Read(path)) return nullptr;
    m_index_valid = false;
    const auto it = m_outlines.insert(std::move(outline));
    ApplyUnreadable(*it);
    return &*it;
}

CChartList::FileStamp CChartList::StampOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return {};
    return {static_cast<long long>(st.st_size), st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

void CChartList::ApplyUnreadable(const CChartOutline& outline) {
    const auto it = m_unreadable.find(outline.path);
    if (it == m_unreadable.end()) return;
    if (it->second == StampOf(outline.path)) {
        outline.unreadable = true;
    } else {
        // Changed on disk (repaired, replaced by a new download): worth another try.
        m_unreadable.erase(it);
        outline.unreadable = false;
    }
}

void CChartList::MarkUnreadable(const std::string& path) {
    if (path.empty()) return;
    m_unreadable[path] = StampOf(path);
    for (const CChartOutline& o : m_outlines)
        if (o.path == path) o.unreadable = true;
    m_index_valid = false;
    NotifyChanged();
}

bool CChartList::IsUnreadable(const std::string& path) const {
    return m_unreadable.count(path) != 0;
}

const CChartOutline* CChartList::FindFileUsingHint(const std::string& path, double scale) {
    NV_ASSERT_GUI_THREAD();
    for (auto it = m_outlines.lower_bound(scale); it != m_outlines.end(); ++it)
        if (it->path == path) return &*it;
    return FindFile(path);
}

CChartList::iterator CChartList::Locate(const CChartOutline* outline) const {
    if (!outline) return m_outlines.end();
    auto range = m_outlines.equal_range(outline->scale);
    for (auto it = range.first; it != range.second; ++it)
        if (&*it == outline) return it;
    return m_outlines.end();
}

// ---------------------------------------------------------------------------------------
// Deleting

bool CChartList::DeleteChart(const CChartOutline* outline) {
    NV_ASSERT_GUI_THREAD();
    const iterator it = Locate(outline);
    if (it == m_outlines.end()) return false;
    const std::string path = it->path;
    if (::unlink(path.c_str()) != 0 && FileExists(path)) return false;
    const std::string stem = path.substr(0, path.size() - FileExtension(path).size());
    RemoveChunkStore(stem + "qc3");
    RemoveChunkStore(stem + "QC3");
    if (m_builtin == outline) m_builtin = nullptr;
    m_outlines.erase(it);
    m_index_valid = false;
    NotifyChanged();
    return true;
}

bool CChartList::RemoveAndDeleteChart(const CChartOutline* outline) {
    NV_ASSERT_GUI_THREAD();
    IChartReopener* maps = GetChartReopener();
    if (maps) maps->CloseAllCharts();
    const bool ok = DeleteChart(outline);
    if (maps) maps->ReopenAllCharts();
    return ok;
}

int CChartList::DeleteDuplicates() {
    NV_ASSERT_GUI_THREAD();
    std::vector<std::pair<std::string, const CChartOutline*>> by_name;
    by_name.reserve(m_outlines.size());
    for (const CChartOutline& o : m_outlines) by_name.emplace_back(FileNameOf(o.path), &o);
    std::stable_sort(by_name.begin(), by_name.end(), [](const auto& a, const auto& b) { return a.first < b.first; });

    IChartReopener* maps = GetChartReopener();
    if (maps) maps->CloseAllCharts();
    int deleted = 0;
    for (size_t i = 0; i < by_name.size();) {
        size_t j = i + 1;
        const CChartOutline* survivor = by_name[i].second;
        for (; j < by_name.size() && by_name[j].first == by_name[i].first; ++j) {
            const CChartOutline* other = by_name[j].second;
            const bool other_wins = other->is_newer_than(*survivor);
            const CChartOutline* loser = other_wins ? survivor : other;
            if (DeleteChart(loser)) {
                ++deleted;
                if (other_wins) survivor = other;
            } else if (other_wins) {
                // The older copy could not be removed (read-only medium); the newer one
                // still has to win against the rest.
                survivor = other;
            }
        }
        i = j;
    }
    if (maps) maps->ReopenAllCharts();
    return deleted;
}

bool CChartList::AddQctToSelectedTypes(const std::string& path) {
    NV_ASSERT_GUI_THREAD();
    CChartOutline outline;
    if (!outline.Read(path) || outline.type.empty()) return false;
    CSelectMapTypes& s = CSelectMapTypes::Settings();
    if (s.show.insert(outline.type).second) {
        s.SetChanged();
        PersistantData::SaveAll();
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Associated files

std::string CChartList::AssocRedirectFile(const std::string& type, const std::string& chart_path) {
    return getKVSfolder() + "/redir/" + type + "_" + ChartKey(chart_path) + ".txt";
}

std::string CChartList::getDefaultAssocFile(const std::string& type) {
    const std::string stored = ReadFirstLine(getKVSfolder() + "/redir/" + type + ".default.txt");
    if (stored.empty() || stored == "none") return {};
    const std::string path = ResolveFromKVS(stored);
    return FileExists(path) ? path : std::string();
}

bool CChartList::writeDefaultAssoc(const std::string& type, const std::string& path) {
    return WriteTextFile(getKVSfolder() + "/redir/" + type + ".default.txt", RelativeToKVS(path));
}

std::string CChartList::getAssocFileForQct(const std::string& type, const std::string& chart_path) const {
    NV_ASSERT_GUI_THREAD();
    const std::string stored = ReadFirstLine(AssocRedirectFile(type, chart_path));
    if (stored == "none") return {};
    if (!stored.empty()) {
        const std::string path = ResolveFromKVS(stored);
        if (FileExists(path)) return path;
    }
    return getDefaultAssocFile(type);
}

void CChartList::getAssocFile(const NV_HWND& window, const std::string& type, const std::string& chart_path,
                              std::function<void(bool, const std::string&)> done) {
    NV_ASSERT_GUI_THREAD();
    const std::string redirect = AssocRedirectFile(type, chart_path);
    const std::string stored = ReadFirstLine(redirect);
    if (stored == "none") return done(false, {});
    if (!stored.empty()) {
        const std::string path = ResolveFromKVS(stored);
        if (FileExists(path)) return done(true, path);
    }
    auto fall_back = [type, done]() {
        const std::string d = getDefaultAssocFile(type);
        done(!d.empty(), d);
    };
    const std::string target = getKVSfolder() + "/" + ChartKey(chart_path) + "." + type;
    auto adopt = [type, redirect, target]() {
        WriteTextFile(redirect, RelativeToKVS(target));
        if (getDefaultAssocFile(type).empty()) writeDefaultAssoc(type, target);
    };
    if (FileExists(target)) {
        adopt();
        return done(true, target);
    }
    Fetcher().FetchAssocFile(
        window, type, ChartKey(chart_path), target,
        [window, target, adopt, fall_back, done](bool ok, const std::string& downloaded, const std::string& message) {
            std::string problem = message;
            if (ok && !downloaded.empty() && FileNameOf(downloaded) != FileNameOf(target)) {
                ok = Gunzip(downloaded, target);
                std::remove(downloaded.c_str());
                if (!ok) problem = "The downloaded file is damaged.";
            }
            if (ok && FileExists(target)) {
                adopt();
                return done(true, target);
            }
            MessageBoxOK(window, "Download failed", problem, fall_back);
        });
}

// ---------------------------------------------------------------------------------------
// Packages

const std::vector<std::string>& CChartList::FindPackageFiles() {
    NV_ASSERT_GUI_THREAD();
    m_package_files.clear();
    const std::string& kvs = getKVSfolder();
    if (DIR* d = ::opendir(kvs.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (HasExtension(name, "nvpkg") && FileExists(kvs + "/" + name))
                m_package_files.push_back(kvs + "/" + name);
        }
        ::closedir(d);
    }
    std::sort(m_package_files.begin(), m_package_files.end());
    return m_package_files;
}

void CChartList::CheckForPackageUpdates(const NV_HWND& window, std::function<void()> done) {
    NV_ASSERT_GUI_THREAD();
    m_packages_checked = 0;
    m_next_package = 0;
    if (FindPackageFiles().empty()) {
        MessageBoxOK(window, "No Packages to Check", "Check for Map Updates only works with KVS Packages",
                     std::move(done));
        return;
    }
    update_next_package(window, std::move(done));
}

void CChartList::update_next_package(const NV_HWND& window, std::function<void()> done) {
    if (m_next_package >= m_package_files.size()) {
        char text[80];
        std::snprintf(text, sizeof text, "%d Packages are up-to-date", m_packages_checked);
        MessageBoxOK(window, "Check for Updates", text, std::move(done));
        return;
    }
    const std::string local = m_package_files[m_next_package];
    std::weak_ptr<bool> alive = m_alive;
    Fetcher().UpdatePackage(window, "/KVS/" + FileNameOf(local), local, [this, alive, window, done](bool ok) {
        if (alive.expired()) return;  // the catalogue went away while the server answered
        if (ok) ++m_packages_checked;
        ++m_next_package;
        update_next_package(window, done);
    });
}
