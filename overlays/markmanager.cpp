// SPDX-License-Identifier: GPL-3.0-or-later
// The mark manager: files, templates and names, finding and deleting objects.
// Navigation and alarms are in marknavigation.cpp and markalarms.cpp.
#include "overlays/markmanager.h"

#include <QDateTime>
#include <QFile>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/apppaths.h"
#include "core/heartbeat.h"
#include "overlays/iconmanager.h"

CMarkManager* g_mark_manager = nullptr;
CMarkManager::Persistant CMarkManager::settings;

void CMarkManager::Persistant::DeclareData() {
    Declare("route_create_hint", route_create_hint);
    Declare("route_hint", route_hint);
    Declare("optimize_route_tip", optimize_route_tip);
    Declare("default_mark_icon", default_mark_icon);
    Declare("default_wp_icon", default_wp_icon);
    Declare("default_mark_color2", default_mark_color2);
    Declare("default_wp_color2", default_wp_color2);
    Declare("notifications", notifications);
    Declare("sync_mode", sync_mode);
    Declare("auto_reverse", auto_reverse);
    Declare("horiz_speed", horiz_speed);
    Declare("ascent_sec_per_meter", ascent_sec_per_meter);
    Declare("descent_sec_per_meter", descent_sec_per_meter);
    Declare("cross_track_alarm", cross_track_alarm);
    Declare("arrival_radius", arrival_radius);
    if (!IsSaving() && g_mark_manager) g_mark_manager->ApplySettings();
}

namespace {

// The whole marks or routes file: one section with the list, then the default object.
// Reading notices damage that the format alone would let pass: a section that claims more
// bytes than the file has, or elements that could not be read and were skipped. Such a
// file must not be replaced by what was read from it.
template <class T>
class CListFile : public CSerializable {
public:
    CListFile(std::vector<std::unique_ptr<T>>& list, T& defaultObject, long long fileSize = 0)
        : m_list(list), m_default(defaultObject), m_fileSize(fileSize) {}
    bool Serialize(IOStream& s) override {
        Section sec(s);
        uint32_t stored = 0;
        if (sec.IsReading()) {
            if (sec.End() > m_fileSize) m_incomplete = true;
            const long long at = s.Position();
            if (!sec.AtEnd() && (!s.ReadU32(stored) || !s.Seek(at))) return false;
        }
        bool ok = CSerializableDeclareStatic(sec, m_list);
        if (sec.IsReading() && m_list.size() < stored) m_incomplete = true;
        return ok && m_default.Serialize(s);
    }
    bool Incomplete() const { return m_incomplete; }

private:
    std::vector<std::unique_ptr<T>>& m_list;
    T& m_default;
    long long m_fileSize;
    bool m_incomplete = false;
};

// A name for a kept copy that does not exist yet.
std::string FreeName(const std::string& base) {
    if (!FileExists(base)) return base;
    for (int i = 1; i < 1000; ++i) {
        const std::string name = base + "." + std::to_string(i);
        if (!FileExists(name)) return name;
    }
    return {};
}

double FlatDistance(double lat, double lon, double lat2, double lon2) {
    const double mLat = CSimpleGrid::MetresPerDegreeLatAt(lat);
    const double mLon = CSimpleGrid::MetresPerDegreeLonAt(lat);
    double dlon = std::fmod(lon2 - lon, 360.0);
    if (dlon > 180) dlon -= 360;
    if (dlon < -180) dlon += 360;
    return std::hypot((lat2 - lat) * mLat, dlon * mLon);
}

}  // namespace

// ---- life

CMarkManager::CMarkManager() : CHeartbeat::Counter(10) {
    m_defaultMark = std::make_unique<COverlayMark>(COverlayMark::Bare{});
    m_defaultMark->setName("P#");
    m_wpTemplate = std::make_unique<COverlayMark>(COverlayMark::Bare{});
    m_wpTemplate->setName("%RP#");
    m_defaultRoute = std::make_unique<COverlayRoute>();
    m_defaultRoute->SetLineStyle(GraphicsColor(0, 0, 0, 255), 2.0f, 0);
    m_defaultRoute->setName("R#");
    ApplySettings();
    if (!g_mark_manager) g_mark_manager = this;
    IOverlaySource::Register(this);
}

CMarkManager::~CMarkManager() {
    IOverlaySource::Unregister(this);
    // Nothing may reach this half-destroyed manager through the publications.
    Listener<COverlayObject>::Disconnect();
    Listener<CDataGPSPosition>::Disconnect();
    m_target = nullptr;
    m_follow = nullptr;
    m_alarmMarks.clear();
    m_alarmRoutes.clear();
    m_routes.clear();
    m_marks.clear();
    if (g_mark_manager == this) g_mark_manager = nullptr;
}

void CMarkManager::SetUi(IMarkUi* ui) {
    s_ui = ui;
}

IMarkUi* CMarkManager::Ui() {
    return s_ui;
}

void CMarkManager::ApplySettings() {
    m_defaultMark->setName("P#");
    m_defaultRoute->setName("R#");
    m_defaultMark->SetIcon(settings.default_mark_icon, settings.default_mark_color2);
    m_wpTemplate->SetIcon(settings.default_wp_icon, settings.default_wp_color2);
    if (settings.cross_track_alarm > 0) settings.notifications = true;
}

// ---- files

void CMarkManager::SetDirectory(const std::string& dir) {
    m_dir = dir;
    while (m_dir.size() > 1 && m_dir.back() == '/') m_dir.pop_back();
    m_alarmLog.SetPath(m_dir + "/" + CAlarmLog::kFileName);
}

void CMarkManager::ReportDamaged(const std::string& path) {
    const bool marks = path == MarksPath();
    MessageBoxOK(NV_HWND(), "Problem",
                 std::string("The ") + (marks ? "marks" : "routes") + " file is damaged and could not be read completely:\n" +
                     path + "\nIt is kept as it is and will not be written over. " +
                     (marks ? "The marks" : "The routes") + " that could be read are shown.");
}

bool CMarkManager::ReadMarks() {
    m_marks.clear();
    m_marksDamaged = false;
    const std::string path = MarksPath();
    if (!FileExists(path)) return false;
    CListFile<COverlayMark> file(m_marks, *m_defaultMark, FileSize(path));
    if (file.ReadFile(path, NV_HWND(), int(kMarksMagic)) && !file.Incomplete()) return true;
    m_marksDamaged = true;
    ReportDamaged(path);
    return false;
}

bool CMarkManager::ReadRoutes() {
    m_routes.clear();
    m_routesDamaged = false;
    const std::string path = RoutesPath();
    if (!FileExists(path)) return false;
    CListFile<COverlayRoute> file(m_routes, *m_defaultRoute, FileSize(path));
    if (file.ReadFile(path, NV_HWND(), int(kRoutesMagic)) && !file.Incomplete()) return true;
    m_routesDamaged = true;
    ReportDamaged(path);
    return false;
}

bool CMarkManager::LoadFromFile() {
    if (m_dir.empty()) SetDirectory(getAppDirectory());
    CancelNavigation();
    CancelAllAlarms();
    ++m_quiet;
    const bool marks = ReadMarks();
    const bool routes = ReadRoutes();
    --m_quiet;
    AfterRead();
    m_marksChanged = false;
    m_routesChanged = false;
    return marks && routes;
}

void CMarkManager::AfterRead() {
    m_alarmCacheValid = false;
    COverlayMark* target = nullptr;
    for (auto& m : m_marks) {
        m->SetRoute(nullptr);
        if (m->isNavigatingToMark()) {
            m->setNavTarget(false);
            if (!target && !m->isDeleted()) target = m.get();
        }
        if (!m->isDeleted() && m->hasAlarm()) settings.notifications = true;
    }
    COverlayRoute* follow = nullptr;
    for (auto& r : m_routes) {
        for (auto& wp : r->Waypoints()) wp->setNavTarget(false);
        if (r->isFollowed()) {
            r->setFollow(false);
            if (!follow && !r->isDeleted()) follow = r.get();
        }
        if (!r->isDeleted() && r->hasAreaAlarm()) settings.notifications = true;
    }
    ++m_quiet;
    for (auto& m : m_marks)
        if (!m->isDeleted()) m->Dispatch(COverlayObject::UPDATE_CHANGED);
    for (auto& r : m_routes)
        if (!r->isDeleted()) r->Dispatch(COverlayObject::UPDATE_CHANGED);
    // Navigation resumes where it was when the files were written.
    if (target) SetGoto(target);
    if (follow) SetFollowRoute(follow);
    --m_quiet;
    // Re-attach so that this manager hears about every later change.
    Listener<COverlayObject>::Connect();
}

bool CMarkManager::SaveIfNeeded() {
    if (m_dir.empty()) SetDirectory(getAppDirectory());
    bool ok = true;
    const double now = CHeartbeat::Timestamp();
    if (m_marksChanged) {
        if (m_marksDamaged) {
            ok = false;  // never replace what we could not read with what we did
        } else {
            if (PurgeTombstones(m_marks, 0, now) > 0) m_alarmCacheValid = false;
            CListFile<COverlayMark> file(m_marks, *m_defaultMark);
            if (file.WriteFile(MarksPath(), NV_HWND(), int(kMarksMagic)))
                m_marksChanged = false;
            else
                ok = false;
        }
    }
    if (m_routesChanged) {
        if (m_routesDamaged) {
            ok = false;
        } else {
            if (PurgeTombstones(m_routes, 0, now) > 0) m_alarmCacheValid = false;
            CListFile<COverlayRoute> file(m_routes, *m_defaultRoute);
            if (file.WriteFile(RoutesPath(), NV_HWND(), int(kRoutesMagic)))
                m_routesChanged = false;
            else
                ok = false;
        }
    }
    return ok;
}

bool CMarkManager::ReplaceDamagedFiles() {
    bool ok = true;
    auto keep = [&](bool& damaged, const std::string& path, bool& changed) {
        if (!damaged) return;
        const std::string copy = FreeName(path + ".damaged");
        if (FileExists(path) && (copy.empty() || !QFile::rename(QString::fromStdString(path), QString::fromStdString(copy)))) {
            ok = false;
            return;
        }
        damaged = false;
        changed = true;
    };
    keep(m_marksDamaged, MarksPath(), m_marksChanged);
    keep(m_routesDamaged, RoutesPath(), m_routesChanged);
    return ok;
}

// ---- objects

COverlayMark* CMarkManager::AddMark(std::unique_ptr<COverlayMark> mark) {
    if (!mark) return nullptr;
    mark->SetRoute(nullptr);
    COverlayMark* raw = mark.get();
    m_marks.push_back(std::move(mark));
    m_alarmCacheValid = false;
    if (raw->hasAlarm() && !raw->isDeleted()) settings.notifications = true;
    SetMarksChanged();
    raw->Dispatch(COverlayObject::UPDATE_CHANGED);
    return raw;
}

COverlayMark* CMarkManager::CreateNewMark(CQuickChartView* view, double lat, double lon) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90 || std::fabs(lon) > 400) return nullptr;
    auto mark = std::make_unique<COverlayMark>(COverlayMark::Bare{});
    mark->CopyTemplate(*m_defaultMark);
    mark->setCategory(ExpandDateFields(m_defaultMark->getCategory(), 0));
    mark->setName(DefaultMarkName());
    mark->SetPosition(lat, lon);
    COverlayMark* raw = AddMark(std::move(mark));
    if (view) raw->onTap(view, FPoint(), DblPoint());
    return raw;
}

COverlayRoute* CMarkManager::AddRoute(std::unique_ptr<COverlayRoute> route) {
    if (!route) return nullptr;
    COverlayRoute* raw = route.get();
    for (auto& wp : raw->Waypoints()) wp->SetRoute(raw);
    m_routes.push_back(std::move(route));
    m_alarmCacheValid = false;
    if (raw->hasAreaAlarm() && !raw->isDeleted()) settings.notifications = true;
    SetRoutesChanged();
    raw->Dispatch(COverlayObject::UPDATE_CHANGED);
    return raw;
}

COverlayRoute* CMarkManager::CreateNewRoute(const NV_HWND& hwnd) {
    auto route = std::make_unique<COverlayRoute>();
    route->setName(DefaultRouteName());
    route->setCategory(ExpandDateFields(m_defaultRoute->getCategory(), 0));
    COverlayRoute* raw = AddRoute(std::move(route));
    if (s_ui) s_ui->StartRouteBuilding(hwnd, *raw);
    return raw;
}

COverlayRoute* CMarkManager::CreateRouteStartingAt(double lat, double lon, const std::string& name,
                                                   CQuickChartView* view) {
    auto route = std::make_unique<COverlayRoute>();
    route->setName(name.empty() ? DefaultRouteName() : name);
    route->setCategory(ExpandDateFields(m_defaultRoute->getCategory(), 0));
    route->AddWaypoint(lat, lon);
    COverlayRoute* raw = AddRoute(std::move(route));
    if (view && s_ui) s_ui->StartRouteBuilding(NV_HWND(), *raw);
    return raw;
}

void CMarkManager::DeleteMark(COverlayMark* mark) {
    if (!mark || mark->isDeleted()) return;
    if (COverlayRoute* route = mark->getRoute()) {
        // A waypoint has no identity of its own to keep: it goes for good.
        route->DeleteWaypoint(mark);
        SetRoutesChanged();
        route->Dispatch(COverlayObject::UPDATE_CHANGED);
        return;
    }
    if (m_target == mark) CancelNavigation();
    ClearObjectAlarm(mark);
    mark->DeleteSyncItem();
    m_alarmCacheValid = false;
    SetMarksChanged();
    mark->Dispatch(COverlayObject::UPDATE_CHANGED);
}

void CMarkManager::UndeleteMark(COverlayMark* mark) {
    if (!mark || !mark->isDeleted()) return;
    mark->UndeleteSyncItem();
    m_alarmCacheValid = false;
    if (mark->hasAlarm()) settings.notifications = true;
    SetMarksChanged();
    mark->Dispatch(COverlayObject::UPDATE_CHANGED);
}

void CMarkManager::DeleteRoute(COverlayRoute* route) {
    if (!route || route->isDeleted()) return;
    if (m_follow == route || (m_target && m_target->getRoute() == route)) CancelNavigation();
    ClearObjectAlarm(route);
    route->DeleteSyncItem();
    m_alarmCacheValid = false;
    SetRoutesChanged();
    route->Dispatch(COverlayObject::UPDATE_CHANGED);
}

void CMarkManager::UndeleteRoute(COverlayRoute* route) {
    if (!route || !route->isDeleted()) return;
    route->UndeleteSyncItem();
    m_alarmCacheValid = false;
    if (route->hasAreaAlarm()) settings.notifications = true;
    SetRoutesChanged();
    route->Dispatch(COverlayObject::UPDATE_CHANGED);
}

void CMarkManager::WaypointRemoving(COverlayMark* waypoint) {
    if (!waypoint || waypoint != m_target) return;
    if (m_follow && waypoint->getRoute() == m_follow) {
        // The next position picks the leg again.
        waypoint->setNavTarget(false);
        m_target = nullptr;
        m_legLength = 0;
        m_minTarget = 0;
        m_follow->ClearSegments();
    } else {
        CancelNavigation();
    }
}

void CMarkManager::ClearAll() {
    CancelNavigation();
    CancelAllAlarms();
    m_alarmMarks.clear();
    m_alarmRoutes.clear();
    m_alarmCacheValid = false;
    m_routes.clear();
    m_marks.clear();
    SetMarksChanged();
    SetRoutesChanged();
}

COverlayMark* CMarkManager::FindMark(const std::string& name) const {
    for (const auto& m : m_marks)
        if (!m->isDeleted() && m->getName() == name) return m.get();
    for (const auto& r : m_routes) {
        if (r->isDeleted()) continue;
        for (const auto& wp : r->Waypoints())
            if (wp->getName() == name) return wp.get();
    }
    return nullptr;
}

bool CMarkManager::alreadyHave(const COverlayMark& mark) const {
    for (const auto& m : m_marks)
        if (!m->isDeleted() && m.get() != &mark && m->sameData(mark)) return true;
    return false;
}

bool CMarkManager::alreadyHave(const COverlayRoute& route) const {
    for (const auto& r : m_routes) {
        if (r->isDeleted() || r.get() == &route || !r->sameSyncableData(route) || r->size() != route.size()) continue;
        bool same = true;
        for (size_t i = 0; i < r->size() && same; ++i) same = r->Waypoint(i)->sameData(*route.Waypoint(i));
        if (same) return true;
    }
    return false;
}

void CMarkManager::ForEachMatchingMark(const std::string& text, const std::function<bool(COverlayMark&)>& fn) const {
    for (const auto& m : m_marks) {
        if (m->isDeleted() || !m->matches_search(text)) continue;
        if (!fn(*m)) return;
    }
}

void CMarkManager::ForEachMatchingRoute(const std::string& text, const std::function<bool(COverlayRoute&)>& fn) const {
    for (const auto& r : m_routes) {
        if (r->isDeleted() || !r->matches_search(text)) continue;
        if (!fn(*r)) return;
    }
}

void CMarkManager::FindNearestVisibleMarks(double lat, double lon, size_t n, std::vector<COverlayMark*>& list) const {
    list.clear();
    if (n == 0) return;
    std::vector<std::pair<double, COverlayMark*>> all;
    auto consider = [&](COverlayMark* m) {
        if (m->isVisible() && m->HasPosition()) all.emplace_back(FlatDistance(lat, lon, m->getLat(), m->getLon()), m);
    };
    for (const auto& m : m_marks) consider(m.get());
    for (const auto& r : m_routes)
        if (r->isVisible())
            for (const auto& wp : r->Waypoints()) consider(wp.get());
    const size_t k = std::min(n, all.size());
    std::partial_sort(all.begin(), all.begin() + long(k), all.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < k; ++i) list.push_back(all[i].second);
}

void CMarkManager::FindNearestVisibleRoutes(double lat, double lon, size_t n, std::vector<COverlayRoute*>& list) const {
    list.clear();
    if (n == 0) return;
    const CSimpleGrid grid(lat, lon);
    std::vector<std::pair<double, COverlayRoute*>> all;
    for (const auto& r : m_routes) {
        if (!r->isVisible() || r->size() == 0) continue;
        // Nearest approach of the route's line to the point.
        double best = 1e300;
        double px = 0, py = 0;
        for (size_t i = 0; i < r->size(); ++i) {
            double x, y;
            grid.ToGrid(r->Waypoint(i)->getLat(), r->Waypoint(i)->getLon(), x, y);
            if (i == 0) {
                best = std::hypot(x, y);
            } else {
                const double vx = x - px, vy = y - py;
                const double len2 = vx * vx + vy * vy;
                double t = len2 > 0 ? -(px * vx + py * vy) / len2 : 0;
                t = std::clamp(t, 0.0, 1.0);
                best = std::min(best, std::hypot(px + t * vx, py + t * vy));
            }
            px = x;
            py = y;
        }
        all.emplace_back(best, r.get());
    }
    const size_t k = std::min(n, all.size());
    std::partial_sort(all.begin(), all.begin() + long(k), all.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < k; ++i) list.push_back(all[i].second);
}

COverlayRoute* CMarkManager::FindRouteStartingAt(double lat, double lon, double tolerance) const {
    for (const auto& r : m_routes) {
        if (r->isDeleted() || r->size() == 0) continue;
        const COverlayMark* wp = r->Waypoint(0);
        if (FlatDistance(lat, lon, wp->getLat(), wp->getLon()) <= tolerance) return r.get();
    }
    return nullptr;
}

COverlayRoute* CMarkManager::FindRouteEndingAt(double lat, double lon, double tolerance) const {
    for (const auto& r : m_routes) {
        if (r->isDeleted() || r->size() == 0) continue;
        const COverlayMark* wp = r->Waypoint(r->size() - 1);
        if (FlatDistance(lat, lon, wp->getLat(), wp->getLon()) <= tolerance) return r.get();
    }
    return nullptr;
}

COverlayRoute* CMarkManager::RouteOf(const COverlayObject* object) const {
    if (!object) return nullptr;
    if (object->ObjectType() == COverlayObject::OBJECT_WAYPOINT)
        return static_cast<const COverlayMark*>(object)->getRoute();
    if (object->ObjectType() != COverlayObject::OBJECT_ROUTE) return nullptr;
    for (const auto& r : m_routes)
        if (r.get() == object) return r.get();
    return nullptr;
}

bool CMarkManager::Owns(const COverlayObject* object) const {
    if (!object) return false;
    for (const auto& m : m_marks)
        if (m.get() == object) return true;
    if (object->ObjectType() == COverlayObject::OBJECT_WAYPOINT) {
        const COverlayRoute* route = static_cast<const COverlayMark*>(object)->getRoute();
        for (const auto& r : m_routes)
            if (r.get() == route) return true;
        return false;
    }
    return RouteOf(object) != nullptr;
}

// ---- names

std::string CMarkManager::ExpandDateFields(const std::string& tmpl, double time) {
    if (tmpl.find('%') == std::string::npos) return tmpl;
    if (time == 0) time = CHeartbeat::Timestamp();
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(time * 1000.0)), Qt::LocalTime);
    std::string out;
    size_t i = 0;
    while (i < tmpl.size()) {
        const char c = tmpl[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < tmpl.size() && tmpl[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        const size_t close = tmpl.find('%', i + 1);
        if (close == std::string::npos) {
            out += tmpl.substr(i);  // an unclosed "%" stays as it is
            break;
        }
        out += when.toString(QString::fromStdString(tmpl.substr(i + 1, close - i - 1))).toStdString();
        i = close + 1;
    }
    return out;
}

std::string CMarkManager::NumberedName(const std::string& tmpl, int n) {
    const std::string number = std::to_string(n);
    const size_t hash = tmpl.rfind('#');
    if (hash == std::string::npos) return tmpl + number;
    return tmpl.substr(0, hash) + number + tmpl.substr(hash + 1);
}

std::string CMarkManager::GetNameFromTemplate(const std::string& tmpl, const std::vector<const std::string*>& names,
                                              double time) {
    const std::string expanded = ExpandDateFields(tmpl, time);
    const size_t hash = expanded.rfind('#');
    if (hash == std::string::npos) return expanded;
    const std::string prefix = expanded.substr(0, hash);
    long long highest = 0;
    for (const std::string* name : names) {
        if (!name || name->compare(0, prefix.size(), prefix) != 0) continue;
        // Only the digits right after the prefix count; "Pier" after "P" counts as 0.
        long long v = 0;
        for (size_t i = prefix.size(); i < name->size() && std::isdigit((unsigned char)(*name)[i]); ++i) {
            v = v * 10 + ((*name)[i] - '0');
            if (v > 1000000000000LL) break;
        }
        highest = std::max(highest, v);
    }
    return prefix + std::to_string(highest + 1) + expanded.substr(hash + 1);
}

std::string CMarkManager::DefaultMarkName(const std::string& tmpl) const {
    std::vector<const std::string*> names;
    names.reserve(m_marks.size());
    for (const auto& m : m_marks) names.push_back(&m->getName());
    return GetNameFromTemplate(tmpl, names);
}

std::string CMarkManager::DefaultRouteName() const {
    std::vector<const std::string*> names;
    names.reserve(m_routes.size());
    for (const auto& r : m_routes) names.push_back(&r->getName());
    return GetNameFromTemplate(m_defaultRoute->getName(), names);
}

// ---- editors and views

void CMarkManager::EditDefaultMark(const NV_HWND& hwnd) {
    if (s_ui) s_ui->EditDefaultMark(hwnd);
}

void CMarkManager::EditDefaultRoute(const NV_HWND& hwnd) {
    if (s_ui) s_ui->EditDefaultRoute(hwnd);
}

void CMarkManager::GetUpdatesForAll(COverlayObject::update_action, Listener<COverlayObject>& listener) {
    for (auto& m : m_marks)
        if (!m->isDeleted()) listener.OnUpdate(*m);
    for (auto& r : m_routes) {
        if (r->isDeleted()) continue;
        listener.OnUpdate(*r);
        for (auto& wp : r->Waypoints()) listener.OnUpdate(*wp);
    }
}

void CMarkManager::OnUpdate(COverlayObject& object) {
    if (m_quiet) return;
    const auto type = object.ObjectType();
    if (type != COverlayObject::OBJECT_MARK && type != COverlayObject::OBJECT_ROUTE &&
        type != COverlayObject::OBJECT_WAYPOINT)
        return;
    m_alarmCacheValid = false;
    if (object.UpdateState() == COverlayObject::UPDATE_DESTROYED) {
        // Whoever destroys one of ours without asking must not leave us pointing at it.
        if (&object == static_cast<COverlayObject*>(m_target)) {
            m_target = nullptr;
            if (!m_follow) PublishCancelled();
        }
        if (&object == static_cast<COverlayObject*>(m_follow)) CancelNavigation();
        ClearObjectAlarm(&object);
        return;
    }
    if (type == COverlayObject::OBJECT_ROUTE) {
        auto& route = static_cast<COverlayRoute&>(object);
        route.ClearSegments();
        if (route.hasAreaAlarm() && !route.isDeleted()) settings.notifications = true;
        SetRoutesChanged();
    } else if (type == COverlayObject::OBJECT_WAYPOINT) {
        if (COverlayRoute* route = static_cast<COverlayMark&>(object).getRoute()) route->ClearSegments();
        SetRoutesChanged();
    } else {
        auto& mark = static_cast<COverlayMark&>(object);
        if (mark.hasAlarm() && !mark.isDeleted()) settings.notifications = true;
        SetMarksChanged();
    }
}

// ---- icons

std::set<std::string> CMarkManager::IconsInUse() const {
    std::set<std::string> used;
    for (const auto& m : m_marks) used.insert(m->getIcon());
    for (const auto& r : m_routes)
        for (const auto& wp : r->Waypoints()) used.insert(wp->getIcon());
    used.insert(m_defaultMark->getIcon());
    used.insert(m_wpTemplate->getIcon());
    used.insert(CIconManager::to_file_name(settings.default_mark_icon));
    used.insert(CIconManager::to_file_name(settings.default_wp_icon));
    return used;
}

int CMarkManager::deleteUnusedIcons() {
    return CIconManager::Instance().deleteUnusedIcons(IconsInUse());
}

// ---- alarm log

std::string CAlarmLog::FormatLine(double time, bool raised, const std::string& title, const std::string& text,
                                  double lat, double lon) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(qint64(std::llround(time * 1000.0)), Qt::UTC);
    std::string line = t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")).toStdString();
    line += raised ? " raised " : " cleared ";
    line += title;
    if (!text.empty()) line += ": " + text;
    char pos[64];
    if (std::fabs(lat) <= 90 && std::fabs(lon) <= 360)
        std::snprintf(pos, sizeof pos, " at %.6f, %.6f", lat, lon);
    else
        std::snprintf(pos, sizeof pos, " at an unknown position");
    line += pos;
    // One event, one line, whatever the texts hold.
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    return line;
}

bool CAlarmLog::Append(double time, bool raised, const std::string& title, const std::string& text, double lat,
                       double lon) const {
    if (m_path.empty()) return false;
    FILE* f = std::fopen(m_path.c_str(), "a");
    if (!f) return false;
    const std::string line = FormatLine(time, raised, title, text, lat, lon) + "\n";
    bool ok = std::fputs(line.c_str(), f) >= 0;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}
