// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The catalogue of every chart the application can show: the QCT files found in the map
// folders, ordered by scale, and the questions the map view asks of them (best chart for
// a place and scale, the next more or less detailed chart, the charts under a point).
//
// GUI thread only. Listeners of Listener<CChartList> are told after every refresh and
// every deletion, inside the call that changed the catalogue.

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/persistantdata.h"
#include "core/uiservices.h"
#include "maplib/chartfetch.h"
#include "maplib/chartoutline.h"

// The chart types the user wants to see, and where downloads go.
class CSelectMapTypes : public PersistantData {
public:
    CSelectMapTypes();
    void DeclareData() override;
    static CSelectMapTypes& Settings();
    static std::set<std::string> DefaultTypes() { return {"Topo", "4WD", "Basemap"}; }

    std::set<std::string> show;
    bool types_hint = false;
    int KVS_storage_option = 0;
    std::string KVS_external_folder;
};

class CChartList {
public:
    struct ScaleLess {
        using is_transparent = void;
        bool operator()(const CChartOutline& a, const CChartOutline& b) const { return a.scale < b.scale; }
        bool operator()(const CChartOutline& a, double s) const { return a.scale < s; }
        bool operator()(double s, const CChartOutline& b) const { return s < b.scale; }
    };
    using Outlines = std::multiset<CChartOutline, ScaleLess>;
    using iterator = Outlines::const_iterator;

    // One map folder and what RefreshIfNeeded compares: the latest modification time of
    // the charts under it and how many there are (so a deletion or a copy that keeps an
    // old time is noticed too).
    struct CFolderAndTime {
        std::string path;
        long long time = 0;  // nanoseconds since the epoch
        long long count = 0;
        bool operator==(const CFolderAndTime& o) const { return time == o.time && count == o.count; }
    };

    // Where associated files and package updates come from; the online services unless a
    // test puts in its own (not owned; null restores the online services).
    static void SetFetcher(IChartFetcher* fetcher);
    static IChartFetcher& Fetcher();

    // The standard folders: application directory, external download folder, the
    // non-volatile directory and the lines of "map_folders.txt", plus the built-in charts.
    CChartList();
    // Only `folders` and `bundle_dir` (tools, tests).
    CChartList(const std::vector<std::string>& folders, const std::string& bundle_dir);
    ~CChartList();
    CChartList(const CChartList&) = delete;
    CChartList& operator=(const CChartList&) = delete;

    void init();
    void Refresh();
    // True when a folder changed and the catalogue was rebuilt.
    bool RefreshIfNeeded();
    // False when `path` is no directory or was already searched.
    bool AddSearchFolder(const std::string& path);

    size_t size() const { return m_outlines.size(); }
    iterator begin() const { return m_outlines.begin(); }
    iterator end() const { return m_outlines.end(); }
    const Outlines& outlines() const { return m_outlines; }
    const std::map<uint64_t, CFolderAndTime>& folders() const { return m_folders; }
    const CChartOutline* BuiltinChart() const { return m_builtin; }

    // Scale 0 asks for the most detailed chart; a latitude beyond +-90 means "no position".
    const CChartOutline* FindBestChart(double lat, double lon, double scale, bool any_type = false) const;
    // The next more (less) detailed chart of a selected type covering the point, ignoring
    // those within 3 % of `scale`.
    const CChartOutline* ScaleIn(double lat, double lon, double scale) const;
    const CChartOutline* ScaleOut(double lat, double lon, double scale) const;
    // Advances `it` to the next chart containing the point, starting over from the first
    // when `it` is end(). False at the end.
    bool NextHit(double lat, double lon, iterator& it) const;
    void ChartsAt(double lat, double lon, std::vector<const CChartOutline*>& list) const;

    // The outline of a file, read and added when not yet known; null for unusable files.
    const CChartOutline* FindFile(const std::string& path);
    const CChartOutline* FindFileUsingHint(const std::string& path, double scale);

    // The chart at `path` failed to open: it stays in the catalogue, shown as unreadable,
    // and is left out of every choice until the file changes on disk (this run only).
    void MarkUnreadable(const std::string& path);
    bool IsUnreadable(const std::string& path) const;

    // Deletes the file and its chunk store and drops the outline. False (and nothing
    // dropped) when the file could not be removed.
    bool DeleteChart(const CChartOutline* outline);
    // The same, with open charts closed around it.
    bool RemoveAndDeleteChart(const CChartOutline* outline);
    // Keeps the newest of every set of files with one name; returns how many were deleted.
    int DeleteDuplicates();

    bool AddQctToSelectedTypes(const std::string& path);

    // Associated files of a chart (e.g. "nvi", the place-name index). `done` gets
    // success and the file to use.
    void getAssocFile(const NV_HWND& window, const std::string& type, const std::string& chart_path,
                      std::function<void(bool, const std::string&)> done);
    // Without fetching: the file the redirections name for the chart, else the type's
    // default; empty when there is none.
    std::string getAssocFileForQct(const std::string& type, const std::string& chart_path) const;
    static std::string getDefaultAssocFile(const std::string& type);
    static bool writeDefaultAssoc(const std::string& type, const std::string& path);
    // The redirection file of one chart and type.
    static std::string AssocRedirectFile(const std::string& type, const std::string& chart_path);

    const std::vector<std::string>& FindPackageFiles();
    void CheckForPackageUpdates(const NV_HWND& window, std::function<void()> done);
    int PackagesExamined() const { return m_packages_checked; }

    // The download folder, "KVS" in the application directory; fixed at first use.
    static const std::string& getKVSfolder();

private:
    using NodeId = std::pair<dev_t, ino_t>;
    struct WalkState;

    bool AddFolder(const std::string& path);
    void Walk(const std::string& dir, bool read, WalkState& state, int depth);
    CFolderAndTime Scan(const std::string& path, bool read);
    void Insert(CChartOutline&& outline, const CChartOutline** first_inserted = nullptr);
    iterator Locate(const CChartOutline* outline) const;
    void NotifyChanged();
    void update_next_package(const NV_HWND& window, std::function<void()> done);

    // A flat copy of the boxes in scale order: the point search over thousands of charts
    // runs through contiguous memory and touches an outline only when its box matches.
    struct IndexEntry {
        double lat_min, lat_max, lon_min, lon_max, scale;
        const CChartOutline* outline;
        bool MightContain(double lat, double lon) const;
    };
    const std::vector<IndexEntry>& Index() const;

    // Size and modification time (ns) of a refused file, to notice when it changes.
    struct FileStamp {
        long long size = -1;
        long long mtime = 0;
        bool operator==(const FileStamp& o) const { return size == o.size && mtime == o.mtime; }
    };
    static FileStamp StampOf(const std::string& path);
    void ApplyUnreadable(const CChartOutline& outline);

    Outlines m_outlines;
    std::map<std::string, FileStamp> m_unreadable;
    mutable std::vector<IndexEntry> m_index;
    mutable bool m_index_valid = false;
    std::vector<std::string> m_package_files;
    int m_packages_checked = 0;
    size_t m_next_package = 0;
    const CChartOutline* m_builtin = nullptr;
    std::map<uint64_t, CFolderAndTime> m_folders;
    std::set<NodeId> m_searched;
    bool m_standard_folders = true;
    std::vector<std::string> m_given_folders;
    std::string m_bundle_dir;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

// The one catalogue, created at start-up.
extern CChartList* p_chart_list;
