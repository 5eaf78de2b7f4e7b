// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The catalogue's short description of one chart file: enough to choose a chart for a
// place and scale without opening it. Read from the first 416 header bytes plus a few
// pointed-to items; the coverage polygon is read only when a point test needs it.
//
// GUI thread only (the lazy polygon is filled on first use without a lock).

#include <cstdint>
#include <string>
#include <vector>

#include "core/geometry.h"

class CChartOutline {
public:
    // Fields in the order the catalogue documents them.
    double scale = 0;  // nautical miles per chart pixel at the centre; 0 = unusable file
    std::string name;  // header name, the path when that is empty
    std::string path;
    std::string type;   // map type from the extended data block
    uint32_t date = 0;  // comparison date as yyyymmdd, 0 when unknown
    bool chunked = false;
    uint32_t flags = 0;
    int fully_downloaded = 0;  // chunked charts: 1 when every chunk is present
    double lon_min = 1e300, lon_max = -1e300, lat_min = 1e300, lat_max = -1e300;
    // Coverage as (longitude, latitude); filled lazily for charts with a stored outline.
    mutable std::vector<Vertex> polygon;
    // The chart reader refused this file when it was opened. The catalogue keeps it (so the
    // map list can offer to delete it) but never chooses it again until the file changes.
    mutable bool unreadable = false;

    CChartOutline() = default;
    explicit CChartOutline(double s) : scale(s) {}

    // Reads the outline of `file`. Anything unreadable, truncated or foreign leaves scale
    // at 0; `error` (optional) then says why.
    bool Read(const std::string& file, std::string* error = nullptr);
    // Loads the stored outline points (longitude unwrapped around the chart centre, datum
    // shift added). False when the file no longer gives them.
    bool ReadPolygon() const;

    // Inside the bounding box (inclusive) and the coverage polygon.
    bool doesContain(double lat, double lon) const;
    bool mightOverlap(const CBounds& bounds) const;
    CBounds Bounds() const { return CBounds(lon_min, lon_max, lat_min, lat_max); }

    // Which of two copies of one chart to keep: later date, then the higher folder number
    // below the maps folder, then the later modification time.
    bool is_newer_than(const CChartOutline& other) const;
    bool typeIsSelected() const;
    bool inKVSFolder() const;

    // Outlines order by scale only, so equal scales keep their insertion order in a multiset.
    bool operator<(const CChartOutline& o) const { return scale < o.scale; }

    // The number formed by a path's trailing digits; a path not ending in a digit takes its
    // parent folder's number; paths shorter than two characters give 0.
    static int FolderNumber(const std::string& path);
    // "12/2019", "1/12/2019", "2019-12-01", "Dec 2019"... as yyyymmdd; 0 without a year.
    static uint32_t ParseDate(const std::string& text);

    // The folder below which folder numbers are taken (the application directory); set by
    // the catalogue. Paths outside it are numbered as they are.
    static void SetMapsRoot(const std::string& root);

    // Sort order of chart lists shown to the user, persisted as "sort_by" / "reverse_sort".
    class CSortedPointer {
    public:
        enum SortBy { kByName = 0, kByScale = 1, kByNearness = 2 };
        static int SortOrder();
        static bool Reversed();
        static void SetSortOrder(int sort_by, bool reverse);
        // Sorts by the persisted order. `reference` (latitude y, longitude x) is the point
        // for nearness; without it nearness sorts by scale.
        static void Sort(std::vector<const CChartOutline*>& list, const DblPoint* reference = nullptr);
        static void Sort(std::vector<const CChartOutline*>& list, int sort_by, bool reverse, const DblPoint* reference);
    };

private:
    mutable bool m_polygon_failed = false;
    long long m_outline_ptr = 0;
    int m_outline_count = 0;
    double m_centre_lon = 0;    // of the image, around which stored points are unwrapped
    double m_query_centre = 0;  // of the coverage, around which queried points are unwrapped
    double m_shift_lat = 0, m_shift_lon = 0;
};
