// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/gpximport.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <cmath>
#include <cstring>
#include <unordered_map>

#include "core/apppaths.h"
#include "overlays/csvimport.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/overlaymark.h"
#include "overlays/overlayroute.h"
#include "overlays/track.h"
#include "overlays/trackmanager.h"
#include "overlays/xmlnode.h"

namespace {

const std::string* s_categoryOverride = nullptr;

// Tracks come in with points every second or so; straight stretches keep their ends.
constexpr double kCompactTolerance = 2.0;

std::string Plural(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

bool SoundPosition(double lat, double lon) {
    return std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90 && std::fabs(lon) <= 360;
}

// An element's place: a missing coordinate reads as 0; one that is there but is no
// number, or is out of range, makes the element unusable.
bool PositionOf(const CXMLnode& node, double& lat, double& lon) {
    lat = lon = 0;
    const std::string* a = node.FindAttribute("lat");
    const std::string* b = node.FindAttribute("lon");
    if (a && !ParseXmlNumber(*a, lat)) return false;
    if (b && !ParseXmlNumber(*b, lon)) return false;
    return SoundPosition(lat, lon);
}

// The id from "src" ("nvid:..."), or from "desc" when there is no "src"; 0 for none.
uint64_t ObjectIdOf(const CXMLnode& node) {
    std::string text;
    if (node.FindChildGetContents("src", text)) return CSyncable::ParseObjectID(text);
    if (node.FindChildGetContents("desc", text)) return CSyncable::ParseObjectID(text);
    return 0;
}

// "desc", then "cmt" when it says something else; never the id some writers append.
std::string DescriptionOf(const CXMLnode& node) {
    std::string desc, cmt;
    node.FindChildGetContents("desc", desc);
    if (node.FindChildGetContents("cmt", cmt) && cmt != desc) {
        if (!desc.empty() && !cmt.empty()) desc += ' ';
        desc += cmt;
    }
    const size_t cut = desc.find("Source: nvid:");
    if (cut != std::string::npos) {
        desc.erase(cut);
        while (!desc.empty() && (desc.back() == ' ' || desc.back() == '\n' || desc.back() == '\r' || desc.back() == '\t'))
            desc.pop_back();
    }
    return desc;
}

std::string CategoryOf(const CXMLnode& node) {
    if (s_categoryOverride) return *s_categoryOverride;
    std::string type;
    node.FindChildGetContents("type", type);
    return type;
}

// "rrggbb" (a "#" before it is tolerated); false when it is not a colour.
bool ParseHexColor(std::string text, GraphicsColor& color) {
    if (!text.empty() && text[0] == '#') text.erase(0, 1);
    if (text.size() < 6) return false;
    int v[3];
    for (int i = 0; i < 3; ++i) {
        int c = 0;
        for (int k = 0; k < 2; ++k) {
            const char h = text[size_t(i * 2 + k)];
            int d;
            if (h >= '0' && h <= '9')
                d = h - '0';
            else if (h >= 'a' && h <= 'f')
                d = h - 'a' + 10;
            else if (h >= 'A' && h <= 'F')
                d = h - 'A' + 10;
            else
                return false;
            c = c * 16 + d;
        }
        v[i] = c;
    }
    color = GraphicsColor(uint8_t(v[0]), uint8_t(v[1]), uint8_t(v[2]), 255);
    return true;
}

// The name, or "<prefix>#<number>" when only a number is given; empty for neither.
std::string NameOf(const CXMLnode& node, const char* numberedPrefix) {
    std::string name;
    if (node.FindChildGetContents("name", name)) return name;
    std::string number;
    if (node.FindChildGetContents("number", number)) return numberedPrefix + number;
    return {};
}

// extensions/line: colour, opacity, width and pattern, each only when given.
void ReadLineStyle(const CXMLnode& node, GraphicsColor& color, float& width, int& pattern) {
    const CXMLnode* ext = node.FindChild("extensions");
    const CXMLnode* line = ext ? ext->FindChild("line") : nullptr;
    if (!line) return;
    std::string text;
    if (line->FindChildGetContents("color", text)) {
        GraphicsColor c;
        if (ParseHexColor(text, c)) color = c;
    }
    float opacity = -1;
    if (line->FindChildGetContents("opacity", opacity) && opacity >= 0 && opacity <= 1)
        color.a = uint8_t(std::lround(opacity * 255));
    float w = -1;
    if (line->FindChildGetContents("width", w) && w > 0) width = std::min(std::max(w, 0.5f), 50.0f);
    if (line->FindChildGetContents("pattern", text)) {
        const int p = COverlayRoute::PatternFromName(text);
        if (p >= 0) pattern = p;
    }
}

// An object without a category takes the default mark's, dated by the object.
void DefaultCategory(CSyncable& object) {
    if (!object.getCategory().empty() || !g_mark_manager) return;
    const std::string& tmpl = g_mark_manager->DefaultMark().getCategory();
    if (tmpl.empty()) return;
    object.setCategory(CMarkManager::ExpandDateFields(tmpl, object.getCreatedTime()));
}

class CGpxImporter {
public:
    explicit CGpxImporter(COverlayImportResult& result) : m_result(result) {
        if (g_mark_manager) {
            for (const auto& m : g_mark_manager->Marks())
                if (m->PeekObjectID()) m_marks.emplace(m->PeekObjectID(), m.get());
            for (const auto& r : g_mark_manager->Routes())
                if (r->PeekObjectID()) m_routes.emplace(r->PeekObjectID(), r.get());
        }
        if (g_track_manager) {
            for (const auto& t : g_track_manager->GetTracks())
                if (t->PeekObjectID()) m_tracks.emplace(t->PeekObjectID(), t.get());
        }
    }

    void Mark(const CXMLnode& node) {
        if (!g_mark_manager) return;
        double lat, lon;
        if (!PositionOf(node, lat, lon)) {
            ++m_skipped;
            return;
        }
        const uint64_t id = ObjectIdOf(node);
        COverlayMark* mark = id ? Find(m_marks, id) : nullptr;
        if (mark) {
            if (mark->isDeleted()) g_mark_manager->UndeleteMark(mark);
            const bool target = mark->isNavigatingToMark();
            mark->ClearData();
            mark->setNavTarget(target);
            read_wpt(node, *mark, false);
            DefaultCategory(*mark);
            mark->SetModifiedNow();
            mark->Dispatch(COverlayObject::UPDATE_CHANGED);
            g_mark_manager->SetMarksChanged();
            ++m_result.updated;
        } else {
            auto fresh = std::make_unique<COverlayMark>();
            fresh->SetObjectID(id);
            read_wpt(node, *fresh, false);
            DefaultCategory(*fresh);
            mark = g_mark_manager->AddMark(std::move(fresh));
            if (id) m_marks[id] = mark;
        }
        mark->getLonLatBounds(m_result.bounds);
        ++m_result.marks;
    }

    void Route(const CXMLnode& node) {
        if (!g_mark_manager) return;
        const uint64_t id = ObjectIdOf(node);
        COverlayRoute* route = id ? Find(m_routes, id) : nullptr;
        if (route) {
            if (route->isDeleted()) g_mark_manager->UndeleteRoute(route);
            // Navigation lets go of each waypoint as it goes.
            while (route->size() > 0) route->DeleteWaypoint(route->Waypoint(route->size() - 1));
            const COverlayRoute& d = g_mark_manager->DefaultRoute();
            route->SetLineStyle(d.getLineColor(), d.getLineWidth(), d.getLinePattern());
            route->setName({});
            route->setDescription({});
            route->setCategory({});
            read_rte(node, *route);
            if (route->getName().empty()) route->setName(g_mark_manager->DefaultRouteName());
            DefaultCategory(*route);
            route->SetModifiedNow();
            route->Dispatch(COverlayObject::UPDATE_CHANGED);
            g_mark_manager->SetRoutesChanged();
            ++m_result.updated;
        } else {
            auto fresh = std::make_unique<COverlayRoute>();
            fresh->SetObjectID(id);
            read_rte(node, *fresh);
            if (fresh->size() == 0) {
                ++m_skipped;
                return;
            }
            if (fresh->getName().empty()) fresh->setName(g_mark_manager->DefaultRouteName());
            DefaultCategory(*fresh);
            route = g_mark_manager->AddRoute(std::move(fresh));
            if (id) m_routes[id] = route;
        }
        route->getLonLatBounds(m_result.bounds);
        ++m_result.routes;
        m_result.route_points += int(route->size());
    }

    void Track(const CXMLnode& node) {
        if (!g_track_manager) return;
        const uint64_t id = ObjectIdOf(node);
        COverlayTrack* track = id ? Find(m_tracks, id) : nullptr;
        if (track) {
            if (track->isDeleted()) g_track_manager->UndeleteTrack(track);
            track->ClearPoints();
            const COverlayTrack& d = g_track_manager->DefaultTrack();
            track->SetLineStyle(d.getLineColor(), d.getLineWidth(), d.getLineStyle());
            track->setName({});
            track->setDescription({});
            track->setCategory({});
            read_trk(node, *track);
            Finish(*track);
            g_track_manager->TrackChanged(track);
            ++m_result.updated;
        } else {
            auto fresh = std::make_unique<COverlayTrack>();
            const COverlayTrack& d = g_track_manager->DefaultTrack();
            fresh->SetLineStyle(d.getLineColor(), d.getLineWidth(), d.getLineStyle());
            fresh->SetObjectID(id);
            read_trk(node, *fresh);
            if (fresh->getTotalPoints() == 0) {
                ++m_skipped;
                return;
            }
            Finish(*fresh);
            // A finished trip: recording never continues into an imported track.
            fresh->setClosed(true);
            track = g_track_manager->AddTrack(std::move(fresh));
            if (id) m_tracks[id] = track;
        }
        track->getLonLatBounds(m_result.bounds);
        ++m_result.tracks;
        m_result.track_points += int(track->getTotalPoints());
    }

    int Skipped() const { return m_skipped; }

private:
    template <class T>
    static T* Find(const std::unordered_map<uint64_t, T*>& map, uint64_t id) {
        auto it = map.find(id);
        return it == map.end() ? nullptr : it->second;
    }

    void Finish(COverlayTrack& track) {
        track.CompactData(kCompactTolerance);
        if (const CTrackPoint* first = track.FirstPoint(); first && first->time > 0) track.setCreatedTime(first->time);
        if (track.getName().empty()) track.setName(g_track_manager->DefaultName());
        DefaultCategory(track);
    }

    COverlayImportResult& m_result;
    std::unordered_map<uint64_t, COverlayMark*> m_marks;
    std::unordered_map<uint64_t, COverlayRoute*> m_routes;
    std::unordered_map<uint64_t, COverlayTrack*> m_tracks;
    int m_skipped = 0;
};

void SaveManagers() {
    if (g_mark_manager) g_mark_manager->SaveIfNeeded();
    if (g_track_manager) g_track_manager->SaveIfNeeded();
}

}  // namespace

// ---- reading elements

void read_wpt(const CXMLnode& node, COverlayMark& mark, bool routePoint) {
    mark.SetPosition(node.FindAttributeDbl("lat", 0), node.FindAttributeDbl("lon", 0));
    std::string text;
    if (node.FindChildGetContents("time", text)) {
        const double t = parse_time(text);
        if (t > 0) mark.setCreatedTime(t);
    }
    if (node.FindChildGetContents("name", text)) mark.setName(text);
    mark.setDescription(DescriptionOf(node));
    if (node.FindChildGetContents("url", text)) {
        mark.setLink(text);
    } else if (const CXMLnode* link = node.FindChild("link")) {
        if (const std::string* href = link->FindAttribute("href")) mark.setLink(*href);
    }
    const std::string category = CategoryOf(node);
    if (!category.empty()) mark.setCategory(category);

    GraphicsColor color = mark.getColor();
    const CXMLnode* ext = node.FindChild("extensions");
    if (ext) {
        const CXMLnode* fill = ext->FindChild("fill");
        if (fill && fill->FindChildGetContents("color", text)) ParseHexColor(text, color);
        const CXMLnode* garmin = ext->FindChild("WaypointExtension");
        double p = 0;
        if (garmin && garmin->FindChildGetContents("Proximity", p) && p != 0) {
            // A negative distance is an anchor alarm: the anchor may swing within it.
            if (p > 0)
                mark.SetAlarm(0, float(p));
            else
                mark.SetAlarm(float(-p), float(2 * -p + 1000));
        }
    }
    std::string icon = mark.getIcon();
    if (node.FindChildGetContents("sym", text))
        icon = CIconManager::to_file_name(text);
    else if (routePoint)
        icon = CIconManager::kNone;
    mark.SetIcon(icon, color);
}

void read_rte(const CXMLnode& node, COverlayRoute& route) {
    const std::string name = NameOf(node, "Route #");
    if (!name.empty()) route.setName(name);
    route.setDescription(DescriptionOf(node));
    const std::string category = CategoryOf(node);
    if (!category.empty()) route.setCategory(category);
    GraphicsColor color = route.getLineColor();
    float width = route.getLineWidth();
    int pattern = route.getLinePattern();
    ReadLineStyle(node, color, width, pattern);
    route.SetLineStyle(color, width, pattern);

    COverlayMark* last = route.size() ? route.Waypoint(route.size() - 1) : nullptr;
    size_t it = 0;
    while (const CXMLnode* pt = node.FindChild("rtept", it)) {
        double lat, lon;
        if (!PositionOf(*pt, lat, lon)) continue;
        std::unique_ptr<COverlayMark> wp;
        {
            COverlayMark::WaypointScope scope;  // waypoints take the waypoint template
            wp = std::make_unique<COverlayMark>();
        }
        read_wpt(*pt, *wp, true);
        if (wp->getCreatedTime() < route.getCreatedTime()) route.setCreatedTime(wp->getCreatedTime());
        last = route.InsertWPAfter(std::move(wp), last);
    }
}

void read_trk(const CXMLnode& node, COverlayTrack& track) {
    const std::string name = NameOf(node, "Track #");
    if (!name.empty()) track.setName(name);
    track.setDescription(DescriptionOf(node));
    const std::string category = CategoryOf(node);
    if (!category.empty()) track.setCategory(category);
    GraphicsColor color = track.getLineColor();
    float width = track.getLineWidth();
    int pattern = track.getLineStyle();
    ReadLineStyle(node, color, width, pattern);
    track.SetLineStyle(color, width, pattern);

    std::string text;
    size_t segIt = 0;
    while (const CXMLnode* seg = node.FindChild("trkseg", segIt)) {
        size_t it = 0;
        while (const CXMLnode* pt = seg->FindChild("trkpt", it)) {
            CTrackPoint p;
            if (!PositionOf(*pt, p.lat, p.lon)) continue;
            if (pt->FindChildGetContents("time", text)) p.time = parse_time(text);
            pt->FindChildGetContents("ele", p.altitude);
            track.addPoint(p, false);
        }
    }
}

// ---- whole files

CImportCategoryOverride::CImportCategoryOverride(std::string category)
    : m_category(std::move(category)), m_previous(s_categoryOverride) {
    s_categoryOverride = &m_category;
}

CImportCategoryOverride::~CImportCategoryOverride() {
    s_categoryOverride = m_previous;
}

const std::string* CImportCategoryOverride::Current() {
    return s_categoryOverride;
}

std::string COverlayImportResult::Summary() const {
    if (Objects() == 0) return error.empty() ? std::string("Nothing was imported.") : error;
    std::vector<std::string> parts;
    if (marks) parts.push_back(Plural(marks, "mark", "marks"));
    if (routes) parts.push_back(Plural(routes, "route", "routes"));
    if (tracks) parts.push_back(Plural(tracks, "track", "tracks"));
    std::string text = "Imported ";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) text += i + 1 == parts.size() ? " and " : ", ";
        text += parts[i];
    }
    text += ".";
    if (updated > 0)
        text += updated == Objects() ? " They were already here and were updated."
                                     : " " + std::to_string(updated) + " of them were already here and were updated.";
    if (!error.empty()) text += " " + error;
    return text;
}

bool ImportGPXTree(const CXMLnode& root, COverlayImportResult& result) {
    root.StartFindRecursive();
    const CXMLnode* gpx = root.FindNextRecursive("gpx");
    if (!gpx) {
        result.error = "This is not a GPX file: it has no \"gpx\" element.";
        return false;
    }
    CGpxImporter importer(result);
    for (const auto& child : gpx->Children()) {
        if (child->Is("wpt"))
            importer.Mark(*child);
        else if (child->Is("rte"))
            importer.Route(*child);
        else if (child->Is("trk"))
            importer.Track(*child);
    }
    if (importer.Skipped() > 0) {
        const std::string note = importer.Skipped() == 1
                                     ? std::string("1 element was left out: it had no usable position or points.")
                                     : std::to_string(importer.Skipped()) +
                                           " elements were left out: they had no usable position or points.";
        result.error = result.error.empty() ? note : result.error + " " + note;
    }
    if (result.Objects() == 0 && result.error.empty()) result.error = "The file holds no marks, routes or tracks.";
    return result.Objects() > 0;
}

namespace {

// The part of an import that may run on any thread: reading and parsing.
struct ParsedFile {
    bool csv = false;
    std::unique_ptr<CXMLnode> tree;
    CXMLnode::Status status;
    std::string csvData;
};

ParsedFile ParseOverlayFile(const std::string& path, CProgressDialogData* progress) {
    ParsedFile parsed;
    parsed.csv = FileExtension(path) == "csv";
    if (parsed.csv)
        ReadCSVData(path, parsed.csvData, parsed.status.error, progress);
    else
        parsed.tree = CXMLnode::ParseFile(path, &parsed.status, progress);
    return parsed;
}

// The part that touches the managers: GUI thread.
bool ApplyParsed(const ParsedFile& parsed, COverlayImportResult& result, CProgressDialogData* progress) {
    if (!parsed.status.error.empty()) {
        result.error = parsed.status.error;
        result.cancelled = progress && progress->IsCancelled();
        return false;
    }
    if (progress) progress->SetProgress(0.9);
    bool ok;
    if (parsed.csv) {
        ok = ImportCSVText(parsed.csvData.data(), parsed.csvData.size(), result);
    } else {
        ok = parsed.tree && ImportGPXTree(*parsed.tree, result);
        // What a cut-short file still held is imported, and the user is told it was cut.
        if (!parsed.status.warning.empty())
            result.error = result.error.empty() ? parsed.status.warning : parsed.status.warning + " " + result.error;
    }
    if (ok) SaveManagers();
    if (progress) progress->SetProgress(1.0);
    return ok;
}

}  // namespace

bool ImportGPXFile(const std::string& path, COverlayImportResult& result, CProgressDialogData* progress) {
    ParsedFile parsed;
    parsed.tree = CXMLnode::ParseFile(path, &parsed.status, progress);
    return ApplyParsed(parsed, result, progress);
}

bool ImportGPXFile(const std::string& path, CBounds& bounds) {
    COverlayImportResult result;
    const bool ok = ImportGPXFile(path, result);
    bounds.Add(result.bounds);
    return ok;
}

bool ImportGPXFile(const std::string& path) {
    CBounds bounds;
    return ImportGPXFile(path, bounds);
}

bool ImportGPXFileIntoCategory(const std::string& path, const std::string& category) {
    CImportCategoryOverride scope(category);
    return ImportGPXFile(path);
}

bool ImportOverlayFile(const std::string& path, COverlayImportResult& result, CProgressDialogData* progress) {
    const ParsedFile parsed = ParseOverlayFile(path, progress);
    return ApplyParsed(parsed, result, progress);
}

void ImportOverlayFileInBackground(const NV_HWND& parent, const std::string& path,
                                   std::function<void(const COverlayImportResult&)> done) {
    auto progress = std::make_shared<CProgressDialogData>("Importing " + FileNameOf(path));
    const bool large = FileSize(path) >= kImportProgressBytes;
    QCoreApplication* app = QCoreApplication::instance();
    if (!large || !app) {
        COverlayImportResult result;
        ImportOverlayFile(path, result, progress.get());
        progress->SetDone();
        if (done) done(result);
        return;
    }
    ShowProgressDialog(parent, progress);
    // The category in force now is the one this import was asked for.
    std::shared_ptr<std::string> category;
    if (const std::string* c = CImportCategoryOverride::Current()) category = std::make_shared<std::string>(*c);
    QThreadPool::globalInstance()->start([path, progress, done, category, app] {
        auto parsed = std::make_shared<ParsedFile>(ParseOverlayFile(path, progress.get()));
        QMetaObject::invokeMethod(
            app,
            [parsed, progress, done, category] {
                std::unique_ptr<CImportCategoryOverride> scope;
                if (category) scope = std::make_unique<CImportCategoryOverride>(*category);
                COverlayImportResult result;
                ApplyParsed(*parsed, result, progress.get());
                progress->SetDone();
                if (done) done(result);
            },
            Qt::QueuedConnection);
    });
}
