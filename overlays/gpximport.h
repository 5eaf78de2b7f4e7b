// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Importing overlay files: GPX 1.0 and 1.1 from any program, and the legacy CSV files
// (csvimport.h). Imported marks, routes and tracks go to the mark and track managers,
// are dispatched as changed and counted; the area they cover is returned so the map can
// show it.
//
// Re-importing a file that Navora wrote updates the same objects instead of doubling
// them: every "wpt", "rte" and "trk" carries its object id in "src" ("nvid:..."; or in
// "desc" when a program dropped "src"), and an object of that kind with that id that is
// already here (even deleted) is brought back, emptied and filled from the file.
//
// Reading and parsing the file may run on a worker thread; everything that touches the
// managers runs on the GUI thread.

#include <functional>
#include <memory>
#include <string>

#include "core/geometry.h"
#include "core/uiservices.h"

class CXMLnode;
class COverlayMark;
class COverlayRoute;
class COverlayTrack;

// What one import brought in.
struct COverlayImportResult {
    int marks = 0;
    int routes = 0;
    int route_points = 0;
    int tracks = 0;
    int track_points = 0;  // after the imported tracks were compacted
    int updated = 0;       // objects that were already here (same id) and were updated
    CBounds bounds;        // the area of everything imported (longitude, latitude)
    // Why nothing could be imported, or (when something was) what was left out.
    std::string error;
    bool cancelled = false;

    int Objects() const { return marks + routes + tracks; }
    // One sentence for the user: "Imported 2 marks, 1 route and 1 track." and, when it
    // applies, how many of them were updated.
    std::string Summary() const;
};

// The GPX importer.
bool ImportGPXFile(const std::string& path, CBounds& bounds);
bool ImportGPXFile(const std::string& path);
// Every object imported gets `category` instead of the one in the file.
bool ImportGPXFileIntoCategory(const std::string& path, const std::string& category);
// The same with everything the user interface needs to know. With `progress`, reading
// and parsing report their progress and stop when it is cancelled. The managers are saved
// afterwards. True when at least one object was imported.
bool ImportGPXFile(const std::string& path, COverlayImportResult& result, CProgressDialogData* progress = nullptr);
// The objects of a parsed document, added to the managers (not saved). GUI thread.
bool ImportGPXTree(const CXMLnode& root, COverlayImportResult& result);

// One "wpt" or "rtept" into `mark`. A route point without "sym" gets no icon.
void read_wpt(const CXMLnode& node, COverlayMark& mark, bool routePoint);
// A "rte" into `route` (its waypoints are appended) and a "trk" into `track` (its points
// are appended; the track is not compacted here).
void read_rte(const CXMLnode& node, COverlayRoute& route);
void read_trk(const CXMLnode& node, COverlayTrack& track);

// While one exists, every object imported from GPX gets this category.
class CImportCategoryOverride {
public:
    explicit CImportCategoryOverride(std::string category);
    ~CImportCategoryOverride();
    CImportCategoryOverride(const CImportCategoryOverride&) = delete;
    CImportCategoryOverride& operator=(const CImportCategoryOverride&) = delete;
    // The category in force, or null.
    static const std::string* Current();

private:
    std::string m_category;
    const std::string* m_previous;
};

// A GPX ("gpx", "xml") or CSV ("csv") file by its extension, saved afterwards.
bool ImportOverlayFile(const std::string& path, COverlayImportResult& result, CProgressDialogData* progress = nullptr);
// The same without holding up the user interface: the file is read and parsed on a
// worker thread while a progress dialog (for files of a few megabytes and more) shows how
// far it got and lets the user cancel; the objects are then added on the GUI thread and
// `done` runs there. Without an event loop it all happens before returning.
void ImportOverlayFileInBackground(const NV_HWND& parent, const std::string& path,
                                   std::function<void(const COverlayImportResult&)> done);
// Files from this size on get the progress dialog.
constexpr long long kImportProgressBytes = 4LL << 20;
