// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/overlays_ui.h"

#include <QQmlComponent>
#include <QTimer>
#include <QQmlEngine>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <set>

#include "app/appmodel.h"
#include "app/overlay_list_model.h"
#include "charts/qct_passage.h"
#include "core/apppaths.h"
#include "displays/displayview.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/chartlist.h"
#include "maplib/quick/mapitem.h"
#include "maplib/quick/popup.h"
#include "navdata/ais.h"
#include "navdata/ais_models.h"
#include "navdata/gpsposition.h"
#include "overlays/gpxoutput.h"
#include "overlays/iconmanager.h"
#include "overlays/trackmanager.h"
#include "units/units.h"

namespace {

COverlaysUi* g_instance = nullptr;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

QColor ToQColor(const GraphicsColor& c) {
    return QColor(c.r, c.g, c.b, c.a);
}

GraphicsColor FromQColor(const QColor& c) {
    return GraphicsColor{uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue()), uint8_t(c.alpha())};
}

// Opens one of our QML popups with its model over the main window; without a window
// (tests, tools) the model is dropped and nothing shows.
void OpenPopup(const char* file, QObject* model) {
    QQmlEngine* engine = theApp ? qmlEngine(theApp) : nullptr;
    if (!engine || !theApp->window()) {
        delete model;
        return;
    }
    QQmlComponent component(engine, CDisplayViewPage::componentUrl(file), QQmlComponent::PreferSynchronous);
    OpenModelPopup(theApp, component, model);
}

// The boat, when its position is known.
bool BoatPosition(double& lat, double& lon) {
    const COverlayGPSPosition& p = COverlayGPSPosition::theLatestPosition;
    if (!p.HasPosition()) return false;
    lat = p.lat;
    lon = p.lon;
    return true;
}

}  // namespace

// ---- finding objects again

COverlayMark* COverlayRef::Mark() const {
    if (kind != kMark || !g_mark_manager) return nullptr;
    for (const auto& m : g_mark_manager->Marks())
        if (m.get() == object && !m->isDeleted()) return m.get();
    return nullptr;
}

COverlayRoute* COverlayRef::Route() const {
    if (kind != kRoute || !g_mark_manager) return nullptr;
    for (const auto& r : g_mark_manager->Routes())
        if (r.get() == object && !r->isDeleted()) return r.get();
    return nullptr;
}

COverlayTrack* COverlayRef::Track() const {
    if (kind != kTrack || !g_track_manager) return nullptr;
    for (const auto& t : g_track_manager->GetTracks())
        if (t.get() == object && !t->isDeleted()) return t.get();
    return nullptr;
}

CSyncable* COverlayRef::Syncable() const {
    switch (kind) {
        case kMark:
            return Mark();
        case kRoute:
            return Route();
        case kTrack:
            return Track();
    }
    return nullptr;
}

// ---- actions on one object

namespace {

// Passage readiness for a route: every chart along its corridor fetched at full detail,
// then a plain account of what is on the device, with a rough map of each chart's
// corridor ('#' on the device, 'x' still missing).
void PreparePassage(const NV_HWND& hwnd, const COverlayRoute& route) {
    if (!p_chart_list || route.size() < 2) return;
    CPolyline line;
    std::set<std::string> paths;
    std::vector<const CChartOutline*> here;
    for (size_t i = 0; i < route.size(); ++i) {
        const COverlayMark* p = route.Waypoint(i);
        line.Add(p->getLon(), p->getLat());
        // The charts under the route: looked up at its points and along each leg.
        const COverlayMark* next = i + 1 < route.size() ? route.Waypoint(i + 1) : nullptr;
        constexpr int kSteps = 40;
        for (int k = 0; k < (next ? kSteps : 1); ++k) {
            const double f = double(k) / kSteps;
            const double lat = next ? p->getLat() + f * (next->getLat() - p->getLat()) : p->getLat();
            const double lon = next ? p->getLon() + f * (next->getLon() - p->getLon()) : p->getLon();
            here.clear();
            p_chart_list->ChartsAt(lat, lon, here);
            for (const CChartOutline* o : here)
                if (o && !o->path.empty()) paths.insert(o->path);
        }
    }
    const std::string name = route.getName();
    const std::vector<CChoice> widths = {{"1 NM", "", false}, {"2 NM", "", false}, {"5 NM", "", false}, {"10 NM", "", false}};
    ChooseFromList(hwnd, "Corridor width", widths, [hwnd, line, paths, name](int choice) {
        static const double kWidths[] = {1, 2, 5, 10};
        if (choice < 0 || choice > 3) return;
        auto progress = std::make_shared<CProgressDialogData>("Preparing for passage");
        ShowProgressDialog(hwnd, progress);
        auto* preparer = new CPassagePreparer(std::vector<std::string>(paths.begin(), paths.end()), line,
                                              kWidths[choice], progress, true);
        preparer->Start([preparer, progress, name](const CPassageReport& report) {
            progress->SetDone();
            std::string text = report.summary + "\n\nEach chart's corridor, north up: # on this device, x missing.\n";
            for (const CPassageChartReport& c : report.charts) {
                text += "\n" + (c.title.empty() ? c.path : c.title) + ": " + std::to_string(c.present) + " of " +
                        std::to_string(c.needed) + " parts on this device";
                if (c.missing > 0) text += ", " + std::to_string(c.missing) + " missing";
                text += "\n";
                for (int r = 0; r < c.rows; ++r) {
                    std::string row;
                    for (int k = 0; k < c.cols; ++k) row += ".#x"[c.cells[size_t(r) * size_t(c.cols) + size_t(k)]];
                    text += row + "\n";
                }
            }
            if (report.charts.empty()) text += "\nNo chart on this device covers the route.\n";
            OpenPopup("TextPage.qml", new CTextPageModel(QString::fromStdString("Passage: " + name),
                                                         QString::fromStdString(text)));
            // Not from inside its own callback.
            QTimer::singleShot(0, [preparer] { delete preparer; });
        });
    });
}

}  // namespace

namespace NOverlayActions {

const char* KindName(COverlayRef::Kind kind) {
    switch (kind) {
        case COverlayRef::kMark:
            return "mark";
        case COverlayRef::kRoute:
            return "route";
        case COverlayRef::kTrack:
            return "track";
    }
    return "";
}

std::vector<Entry> MenuFor(const NV_HWND& hwnd, const COverlayRef& ref) {
    std::vector<Entry> entries;
    if (!ref.Alive()) return entries;
    if (COverlayMark* mark = ref.Mark()) {
        if (mark->isNavigatingToMark())
            entries.push_back({"Stop navigation", "", [] { g_mark_manager->CancelNavigation(); }});
        else
            entries.push_back({"Go To", "", [ref] {
                                   if (COverlayMark* m = ref.Mark()) g_mark_manager->SetGoto(m);
                               }});
    } else if (COverlayRoute* route = ref.Route()) {
        if (route->isFollowed()) {
            entries.push_back({"Stop navigation", "", [] { g_mark_manager->CancelNavigation(); }});
        } else if (route->size() >= 1) {
            entries.push_back({"Follow Route", "", [ref] {
                                   if (COverlayRoute* r = ref.Route()) g_mark_manager->SetFollowRoute(r);
                               }});
            entries.push_back({"Reverse and Follow", "", [ref] {
                                   COverlayRoute* r = ref.Route();
                                   if (!r) return;
                                   r->ReverseWaypoints();
                                   g_mark_manager->SetRoutesChanged();
                                   g_mark_manager->SetFollowRoute(r);
                               }});
        }
        if (route->size() >= 2 && p_chart_list)
            entries.push_back({"Prepare for passage", "", [hwnd, ref] {
                                   if (COverlayRoute* r = ref.Route()) PreparePassage(hwnd, *r);
                               }});
    } else if (COverlayTrack* track = ref.Track()) {
        if (g_track_manager->IsRecordingInto(track))
            entries.push_back({"Stop recording", "stop_recording.svg", [] { g_track_manager->stopTrackRecording(); }});
    }
    entries.push_back({"Show on map", "", [ref] { ShowOnMap(ref); }});
    entries.push_back({"Edit", "", [hwnd, ref] { Edit(hwnd, ref); }});
    entries.push_back({"Export GPX", "", [hwnd, ref] { ExportGpx(hwnd, {ref}); }});
    entries.push_back({"Delete", "red_x.svg", [hwnd, ref] { AskAndDelete(hwnd, ref); }});
    return entries;
}

void ShowMenu(const NV_HWND& hwnd, const COverlayRef& ref) {
    CSyncable* object = ref.Syncable();
    if (!object) return;
    auto entries = std::make_shared<std::vector<Entry>>(MenuFor(hwnd, ref));
    std::vector<CChoice> choices;
    for (const Entry& e : *entries) choices.push_back({e.text, e.icon, false});
    ChooseFromList(hwnd, object->getName().empty() ? std::string("Overlay") : object->getName(), choices,
                   [entries](int index) {
                       if (index >= 0 && size_t(index) < entries->size()) (*entries)[size_t(index)].action();
                   });
}

void AskAndDelete(const NV_HWND& hwnd, const COverlayRef& ref) {
    CSyncable* object = ref.Syncable();
    if (!object) return;
    MessageBoxYesNo(hwnd, "Delete", std::string("Delete the ") + KindName(ref.kind) + " " + Quoted(object->getName()) + "?",
                    [ref] {
                        // The object may have gone while the question was open.
                        if (COverlayMark* m = ref.Mark()) {
                            g_mark_manager->DeleteMark(m);
                            g_mark_manager->SaveIfNeeded();
                        } else if (COverlayRoute* r = ref.Route()) {
                            g_mark_manager->DeleteRoute(r);
                            g_mark_manager->SaveIfNeeded();
                        } else if (COverlayTrack* t = ref.Track()) {
                            g_track_manager->DeleteTrack(t);
                            g_track_manager->SaveIfNeeded();
                        }
                    });
}

bool ExportGpx(const NV_HWND& hwnd, const std::vector<COverlayRef>& refs) {
    std::vector<const CSyncable*> objects;
    for (const COverlayRef& r : refs)
        if (const CSyncable* s = r.Syncable()) objects.push_back(s);
    if (objects.empty()) return false;
    std::string name = objects.size() == 1 ? objects.front()->getName() : std::string("Overlays");
    // Only characters every file system takes.
    std::string safe;
    for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    if (safe.empty()) safe = "Overlay";
    const std::string dir = getTempDirectory();
    createPath(dir);
    const std::string path = dir + "/" + safe + ".gpx";
    std::string error;
    if (!ExportGPX(path, objects, &error)) {
        MessageBoxOK(hwnd, "Problem", "Could not write the GPX file: " + (error.empty() ? path : error));
        return false;
    }
    OfferFileToSave(hwnd, path, safe + ".gpx", CFileFilter{"GPX files", {"gpx"}});
    return true;
}

bool BoundsOf(const COverlayRef& ref, CBounds& bounds) {
    CSyncable* object = ref.Syncable();
    if (!object || !object->getLonLatBounds(bounds) || !bounds.IsValid()) return false;
    // A point (or a very short line) is shown with some water round it.
    constexpr double kMargin = 0.005;
    if (bounds.xmax - bounds.xmin < kMargin) {
        bounds.xmin -= kMargin;
        bounds.xmax += kMargin;
    }
    if (bounds.ymax - bounds.ymin < kMargin) {
        bounds.ymin -= kMargin;
        bounds.ymax += kMargin;
    }
    return true;
}

void ShowOnMap(const COverlayRef& ref) {
    CBounds bounds;
    if (theApp && BoundsOf(ref, bounds)) theApp->ShowAreaOnTheMap(bounds);
}

void Edit(const NV_HWND&, const COverlayRef& ref) {
    if (!ref.Alive()) return;
    OpenPopup("OverlayEditor.qml", new COverlayEditModel(ref));
}

void SetVisible(const COverlayRef& ref, bool visible) {
    if (COverlayMark* m = ref.Mark()) {
        m->setVisible(visible);
        g_mark_manager->SetMarksChanged();
        m->Dispatch(COverlayObject::UPDATE_CHANGED);
    } else if (COverlayRoute* r = ref.Route()) {
        r->setVisible(visible);
        g_mark_manager->SetRoutesChanged();
        r->Dispatch(COverlayObject::UPDATE_CHANGED);
    } else if (COverlayTrack* t = ref.Track()) {
        t->SetVisible(visible);
        g_track_manager->TrackChanged(t);
    }
}

}  // namespace NOverlayActions

// ---- editors

namespace {
const char* const kColorChoices[] = {"#ffdc0000", "#ff0000c8", "#ff008c3c", "#ffff8c00", "#ff8c00c8",
                                     "#ff000000", "#ffffffff", "#ff00a0c8"};
}

COverlayEditModel::COverlayEditModel(const COverlayRef& ref, QObject* parent) : QObject(parent), m_ref(ref) {
    if (COverlayMark* m = ref.Mark()) LoadMark(*m);
    if (COverlayRoute* r = ref.Route()) LoadRoute(*r);
    if (COverlayTrack* t = ref.Track()) LoadTrack(*t);
}

COverlayEditModel::COverlayEditModel(COverlayMark& mark, QObject* parent) : QObject(parent), m_templateMark(&mark) {
    m_ref.kind = COverlayRef::kMark;
    LoadMark(mark);
    m_title = QStringLiteral("New marks");
}

COverlayEditModel::COverlayEditModel(COverlayRoute& route, QObject* parent)
    : QObject(parent), m_templateRoute(&route) {
    m_ref.kind = COverlayRef::kRoute;
    LoadRoute(route);
    m_title = QStringLiteral("New routes");
}

COverlayEditModel::COverlayEditModel(COverlayTrack& track, QObject* parent)
    : QObject(parent), m_templateTrack(&track) {
    m_ref.kind = COverlayRef::kTrack;
    LoadTrack(track);
    m_title = QStringLiteral("New tracks");
}

QString COverlayEditModel::kind() const {
    return QString::fromLatin1(NOverlayActions::KindName(m_ref.kind));
}

COverlayMark* COverlayEditModel::TargetMark() const {
    return m_templateMark ? m_templateMark : m_ref.Mark();
}
COverlayRoute* COverlayEditModel::TargetRoute() const {
    return m_templateRoute ? m_templateRoute : m_ref.Route();
}
COverlayTrack* COverlayEditModel::TargetTrack() const {
    return m_templateTrack ? m_templateTrack : m_ref.Track();
}

void COverlayEditModel::LoadMark(COverlayMark& mark) {
    m_title = QStringLiteral("Mark");
    m_name = QString::fromStdString(mark.getName());
    m_notes = QString::fromStdString(mark.getDescription());
    m_hasColor = mark.getColor().a > 0;
    m_color = m_hasColor ? ToQColor(mark.getColor()) : QColor(220, 0, 0);
    m_icon = QString::fromStdString(mark.getIcon());
    if (mark.isAnchorAlarm()) {
        m_alarmType = kAnchor;
        m_alarmRadius = mark.getInnerRadius();
    } else if (mark.hasAlarm()) {
        m_alarmType = kProximity;
        m_alarmRadius = mark.getAlarmRadius();
    }
}

void COverlayEditModel::LoadRoute(COverlayRoute& route) {
    m_title = QStringLiteral("Route");
    m_name = QString::fromStdString(route.getName());
    m_notes = QString::fromStdString(route.getDescription());
    m_color = ToQColor(route.getLineColor());
    m_width = route.getLineWidth();
    m_pattern = route.getLinePattern();
    for (const auto& wp : route.Waypoints()) {
        std::string pos;
        CDefaultUnits::u.FormatPosition(wp->getLat(), wp->getLon(), pos);
        m_waypoints.append(QVariantMap{{QStringLiteral("name"), QString::fromStdString(wp->getName())},
                                       {QStringLiteral("position"), QString::fromStdString(pos)}});
    }
    if (route.size() >= 2) {
        std::string len;
        CDefaultUnits::u.FormatDistance(route.getTotalLengthMeters(), len);
        m_stats.append(QVariantMap{{QStringLiteral("label"), QStringLiteral("Length")},
                                   {QStringLiteral("value"), QString::fromStdString(len)}});
    }
}

void COverlayEditModel::LoadTrack(COverlayTrack& track) {
    m_title = QStringLiteral("Track");
    m_name = QString::fromStdString(track.getName());
    m_notes = QString::fromStdString(track.getDescription());
    m_color = ToQColor(track.getLineColor());
    m_width = track.getLineWidth();
    m_pattern = track.getLineStyle();
    if (track.isTrivial()) return;
    auto add = [this](const char* label, const std::string& value) {
        m_stats.append(QVariantMap{{QStringLiteral("label"), QString::fromLatin1(label)},
                                   {QStringLiteral("value"), QString::fromStdString(value)}});
    };
    std::string s;
    CDefaultUnits::u.FormatDistance(track.getTotalDistance(), s);
    add("Distance", s);
    if (track.hasTiming()) {
        const double moving = track.getMovingTime();
        const double elapsed = track.getElapsedTime();
        add("Start", CUnits::FormatDate(track.getTimeOfStart()) + " " + CUnits::Get24hTime(track.getTimeOfStart()));
        add("Moving time", CUnits::FormatElapsedTime(moving));
        add("Elapsed time", CUnits::FormatElapsedTime(elapsed));
        constexpr double kKnotsPerMs = 1.0 / CTrackManager::kMsPerKnot;
        if (moving > 0) {
            CDefaultUnits::u.FormatSpeed(track.getTotalDistance() / moving * kKnotsPerMs, s);
            add("Average speed (moving)", s);
        }
        if (elapsed > 0) {
            CDefaultUnits::u.FormatSpeed(track.getTotalDistance() / elapsed * kKnotsPerMs, s);
            add("Average speed (overall)", s);
        }
        // Too few points give no trustworthy top speed: none is shown rather than 0.
        if (track.getMaxSpeed() > 0) {
            CDefaultUnits::u.FormatSpeed(track.getMaxSpeed() * kKnotsPerMs, s);
            add("Maximum speed", s);
        }
    }
    double ascent = 0, descent = 0, minAlt = 0, maxAlt = 0;
    if (track.getAltitudeMetrics(ascent, descent, minAlt, maxAlt)) {
        CDefaultUnits::u.FormatDepth(ascent, s);
        add("Ascent", s);
        CDefaultUnits::u.FormatDepth(descent, s);
        add("Descent", s);
    }
    add("Points", std::to_string(track.getTotalPoints()));
}

QStringList COverlayEditModel::patternNames() const {
    QStringList names;
    for (int i = 0; i < COverlayRoute::kPatternCount; ++i) names << QString::fromLatin1(COverlayRoute::PatternName(i));
    return names;
}

QVariantList COverlayEditModel::icons() const {
    QVariantList list;
    if (m_ref.kind != COverlayRef::kMark) return list;
    CIconManager& icons = CIconManager::Instance();
    for (const std::string& name : icons.iconNames()) {
        const CIconManager::IconInfo* info = icons.find(name);
        QString url;
        if (info && !info->path.empty())
            url = info->path[0] == ':' ? QStringLiteral("qrc") + QString::fromStdString(info->path)
                                       : QUrl::fromLocalFile(QString::fromStdString(info->path)).toString();
        list.append(QVariantMap{{QStringLiteral("name"), QString::fromStdString(name)}, {QStringLiteral("url"), url}});
    }
    return list;
}

QStringList COverlayEditModel::colorChoices() const {
    QStringList list;
    for (const char* c : kColorChoices) list << QString::fromLatin1(c);
    return list;
}

bool COverlayEditModel::apply() {
    const std::string name = m_name.trimmed().toStdString();
    const std::string notes = m_notes.toStdString();
    const int pattern = std::clamp(m_pattern, 0, COverlayRoute::kPatternCount - 1);
    // Widths beyond these are not lines any more.
    const float width = float(std::clamp(m_width, 0.5, 20.0));
    if (COverlayMark* mark = TargetMark()) {
        if (!name.empty() || m_templateMark) mark->setName(name);
        mark->setDescription(notes);
        mark->SetIcon(m_icon.toStdString(), m_hasColor ? FromQColor(m_color) : GraphicsColor{0, 0, 0, 0});
        const float r = float(std::clamp(m_alarmRadius, 0.0, 100000.0));
        if (m_alarmType == kProximity && r > 0)
            mark->SetAlarm(0, r);
        else if (m_alarmType == kAnchor && r > 0)
            mark->SetAlarm(r, AnchorOuterRadius(r));
        else
            mark->SetAlarm(0, 0);
        if (m_templateMark) {
            g_mark_manager->SetMarksChanged();
            return true;
        }
        mark->SetModifiedNow();
        g_mark_manager->SetMarksChanged();
        mark->Dispatch(COverlayObject::UPDATE_CHANGED);
        g_mark_manager->SaveIfNeeded();
        return true;
    }
    if (COverlayRoute* route = TargetRoute()) {
        if (!name.empty() || m_templateRoute) route->setName(name);
        route->setDescription(notes);
        route->SetLineStyle(FromQColor(m_color), width, pattern);
        g_mark_manager->SetRoutesChanged();
        if (m_templateRoute) return true;
        route->SetModifiedNow();
        route->Dispatch(COverlayObject::UPDATE_CHANGED);
        g_mark_manager->SaveIfNeeded();
        return true;
    }
    if (COverlayTrack* track = TargetTrack()) {
        if (!name.empty() || m_templateTrack) track->setName(name);
        track->setDescription(notes);
        track->SetLineStyle(FromQColor(m_color), width, pattern);
        if (m_templateTrack) {
            g_track_manager->SetChanged();
            return true;
        }
        track->SetModifiedNow();
        g_track_manager->TrackChanged(track);
        g_track_manager->SaveIfNeeded();
        return true;
    }
    return false;
}

// ---- the user interface of marks, routes and tracks

COverlaysUi::COverlaysUi() {
    g_instance = this;
    CMarkManager::SetUi(this);
    COverlayTrack::SetUi(this);
}

COverlaysUi::~COverlaysUi() {
    if (CQuickChartView::TapCapture() == this) CQuickChartView::SetTapCapture(nullptr);
    if (CMarkManager::Ui() == this) CMarkManager::SetUi(nullptr);
    if (COverlayTrack::Ui() == this) COverlayTrack::SetUi(nullptr);
    if (g_instance == this) g_instance = nullptr;
}

COverlaysUi* COverlaysUi::Instance() {
    return g_instance;
}

std::string COverlaysUi::MarkStatusText(const COverlayMark& mark, double fromLat, double fromLon) {
    std::string text = mark.getName();
    if (!mark.HasPosition() || std::abs(fromLat) > 90) return text;
    const CSimpleGrid grid(fromLat, fromLon);
    double x, y;
    grid.ToGrid(mark.getLat(), mark.getLon(), x, y);
    std::string d, b;
    CDefaultUnits::u.FormatDistance(std::hypot(x, y), d);
    double bearing = std::atan2(x, y) * 180.0 / M_PI;
    if (bearing < 0) bearing += 360.0;
    CDefaultUnits::u.FormatBearing(bearing, b);
    return text + ", " + d + ", " + b;
}

bool COverlaysUi::MarkTapped(CQuickChartView*, COverlayMark& mark) {
    double lat = 999, lon = 999;
    BoatPosition(lat, lon);
    SetStatusMessage(MarkStatusText(mark, lat, lon));
    return true;
}

bool COverlaysUi::RouteTapped(CQuickChartView*, COverlayRoute& route, const DblPoint&) {
    std::string len;
    CDefaultUnits::u.FormatDistance(route.getTotalLengthMeters(), len);
    SetStatusMessage("Route: " + route.getName() + ", " + len);
    return true;
}

bool COverlaysUi::TrackTapped(CQuickChartView*, CTrackSection& section, const DblPoint&) {
    if (COverlayTrack* track = section.Track()) SetStatusMessage(track->getSummaryLabel());
    return true;
}

void COverlaysUi::ShowObjectMenu(const NV_HWND& hwnd, COverlayObject& object) {
    if (auto* mark = dynamic_cast<COverlayMark*>(&object)) {
        if (COverlayRoute* route = mark->getRoute())
            NOverlayActions::ShowMenu(hwnd, COverlayRef::Of(*route));
        else
            NOverlayActions::ShowMenu(hwnd, COverlayRef::Of(*mark));
    } else if (auto* route = dynamic_cast<COverlayRoute*>(&object)) {
        NOverlayActions::ShowMenu(hwnd, COverlayRef::Of(*route));
    }
}

void COverlaysUi::ShowTrackMenu(const NV_HWND& hwnd, COverlayTrack& track) {
    NOverlayActions::ShowMenu(hwnd, COverlayRef::Of(track));
}

void COverlaysUi::EditDefaultMark(const NV_HWND&) {
    if (g_mark_manager) OpenPopup("OverlayEditor.qml", new COverlayEditModel(g_mark_manager->DefaultMark()));
}

void COverlaysUi::EditDefaultRoute(const NV_HWND&) {
    if (g_mark_manager) OpenPopup("OverlayEditor.qml", new COverlayEditModel(g_mark_manager->DefaultRoute()));
}

void COverlaysUi::EditDefaultTrack(const NV_HWND&) {
    if (g_track_manager) OpenPopup("OverlayEditor.qml", new COverlayEditModel(g_track_manager->DefaultTrack()));
}

COverlayRoute* COverlaysUi::RouteBeingBuilt() const {
    // Looked for by address only: the route may have been deleted and freed meanwhile.
    return m_building ? COverlayRef{COverlayRef::kRoute, m_building}.Route() : nullptr;
}

void COverlaysUi::StartRouteBuilding(const NV_HWND&, COverlayRoute& route) {
    // Whatever the Done button was finishing (another route too) is finished first.
    SetDoneButtonCallback([this] { EndRouteBuilding(); });
    m_building = &route;
    CQuickChartView::SetTapCapture(this);
    SetStatusMessage("Tap the map to add the points of " + route.getName() + ". Tap Done when it is finished.");
}

bool COverlaysUi::MapTapped(CQuickChartView&, double lat, double lon) {
    COverlayRoute* route = RouteBeingBuilt();
    if (!route) {
        // Deleted while it was being built.
        m_building = nullptr;
        CQuickChartView::SetTapCapture(nullptr);
        ClearDoneButtonCallback();
        return false;
    }
    COverlayRoute::BuildScope building;
    route->AddWaypoint(lat, lon);
    g_mark_manager->SetRoutesChanged();
    route->Dispatch(COverlayObject::UPDATE_CHANGED);
    std::string len;
    CDefaultUnits::u.FormatDistance(route->getTotalLengthMeters(), len);
    SetStatusMessage(route->getName() + ": " + std::to_string(route->size()) + " points, " + len);
    return true;
}

void COverlaysUi::EndRouteBuilding() {
    COverlayRoute* route = RouteBeingBuilt();
    m_building = nullptr;
    if (CQuickChartView::TapCapture() == this) CQuickChartView::SetTapCapture(nullptr);
    if (!route) return;
    if (route->size() < 2) {
        g_mark_manager->DeleteRoute(route);
        SetStatusMessage("A route needs at least two points; none was made.");
    } else {
        ClearStatusMessage();
    }
    g_mark_manager->SaveIfNeeded();
    // Called from the Done button's own callback: it is cleared there, not here.
}

std::vector<NOverlayActions::Entry> COverlaysUi::OverlaysMenu(const NV_HWND& hwnd) {
    std::vector<NOverlayActions::Entry> entries;
    entries.push_back({"List Overlays", "list_overlays.svg", [] {
                           if (theApp) theApp->showOverlaysList(theApp);
                       }});
    if (CQuickChartView::CanCreateMarks())
        entries.push_back({"Add New Mark", "add_mark.svg", [] {
                               CDisplayViewQuickChart* map = theApp ? theApp->FindLargestMapItem(true) : nullptr;
                               if (map && map->View()) {
                                   map->View()->CreateNewMark();
                                   return;
                               }
                               double lat, lon;
                               if (g_mark_manager && BoatPosition(lat, lon))
                                   g_mark_manager->CreateNewMark(nullptr, lat, lon);
                           }});
    if (CQuickChartView::CanCreateRoutes())
        entries.push_back({"Add New Route", "add_route.svg", [] {
                               CDisplayViewQuickChart* map = theApp ? theApp->FindLargestMapItem(true) : nullptr;
                               if (map && map->View()) map->View()->CreateNewRoute();
                           }});
    if (g_track_manager) {
        if (g_track_manager->IsRecording())
            entries.push_back({"Stop recording", "stop_recording.svg", [] { g_track_manager->stopTrackRecording(); }});
        else
            entries.push_back({"Record Track", "record.svg", [] { g_track_manager->startTrackRecording(); }});
    }
    if (CQuickChartView::CanFindPlaces())
        entries.push_back({"Search", "find_place.svg", [] {
                               CDisplayViewQuickChart* map = theApp ? theApp->FindLargestMapItem(true) : nullptr;
                               if (map) map->GetAssocAndFindPlace(map->Hwnd());
                           }});
    if (the_CAISTargetManager && CDlg_AIS_settings::Available())
        entries.push_back({"AIS Targets", "ais_targets.svg", [] {
                               // The ships heard, most dangerous first; a row centres the map on its ship.
                               auto* list = new CAisTargetList();
                               QObject::connect(list, &CAisTargetList::centreRequested, list, [](double lat, double lon) {
                                   constexpr double kHalfSpan = 0.02;  // degrees: a few miles around the ship
                                   if (theApp)
                                       theApp->ShowAreaOnTheMap(
                                           CBounds(lon - kHalfSpan, lon + kHalfSpan, lat - kHalfSpan, lat + kHalfSpan));
                               });
                               OpenPopup("AisTargetList.qml", list);
                           }});
    entries.push_back({"Import", "import.svg", [hwnd] {
                           PickFileToOpen(hwnd, "Import", CFileFilter{"GPX and CSV files", {"gpx", "csv"}},
                                          [](const std::string& path) {
                                              if (path.empty() || !theApp) return;
                                              theApp->processCommandLine({QString(), QString::fromLocal8Bit(path.c_str())});
                                          });
                       }});
    entries.push_back({"Alarm Log", "alarm_log.svg", [] {
                           const std::string path = g_mark_manager ? g_mark_manager->AlarmLog().Path() : std::string();
                           OpenPopup("TextPage.qml", new CTextPageModel(QStringLiteral("Alarm Log"),
                                                                        QString::fromStdString(AlarmLogText(path))));
                       }});
    return entries;
}

std::string COverlaysUi::AlarmLogText(const std::string& path, size_t maxLines) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
        // The newest are what matter; a log of years is cut to its end.
        if (lines.size() > 2 * maxLines) lines.erase(lines.begin(), lines.end() - std::ptrdiff_t(maxLines));
    }
    if (lines.size() > maxLines) lines.erase(lines.begin(), lines.end() - std::ptrdiff_t(maxLines));
    if (lines.empty()) return "No alarm has been raised yet.";
    std::string text;
    // Newest first.
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) text += *it + "\n";
    return text;
}

void COverlaysUi::AskAboutDamagedFiles() {
    std::vector<std::string> names;
    if (g_mark_manager && g_mark_manager->HasDamagedFile()) names.push_back("marks or routes");
    if (g_track_manager && g_track_manager->HasDamagedFile()) names.push_back("tracks");
    if (names.empty()) return;
    std::string what = names[0];
    if (names.size() > 1) what += " and " + names[1];
    MessageBoxYesNo(NV_HWND(), "Damaged file",
                    "The " + what +
                        " file could not be read completely. Put the damaged file aside (it is kept with the "
                        "ending \".damaged\") and go on with what could be read?\nWith No, the file stays as it "
                        "is and changes are not saved to it.",
                    [] {
                        bool ok = true;
                        if (g_mark_manager && g_mark_manager->HasDamagedFile())
                            ok = g_mark_manager->ReplaceDamagedFiles() && g_mark_manager->SaveIfNeeded() && ok;
                        if (g_track_manager && g_track_manager->HasDamagedFile())
                            ok = g_track_manager->ReplaceDamagedFile() && g_track_manager->SaveIfNeeded() && ok;
                        if (!ok) MessageBoxOK(NV_HWND(), "Problem", "The damaged file could not be put aside.");
                    });
}

// ---- the Overlays button a page may hold

namespace {

class OverlaysButtonSettings : public CDisplayView::CItemSettings {
public:
    using CItemSettings::CItemSettings;
    CDisplayView::CItem* CreateItem(CDisplayView::IWindow&) override {
        auto* button = new CDisplayView::CItemButton(*this);
        button->SetLabel("Overlays");
        button->SetIcon("overlays.svg", 24);
        button->clicked = [](CDisplayView::CItemButton&) {
            if (theApp) theApp->onOverlaysButtonClicked(nullptr);
        };
        return button;
    }
};

class OverlaysButtonType : public CItemSettingsTypeOf<OverlaysButtonSettings> {
public:
    using CItemSettingsTypeOf::CItemSettingsTypeOf;
    bool FeatureAvailable() const override { return COverlaysUi::Instance() != nullptr && g_mark_manager != nullptr; }
};

constexpr int kOverlaysButtonType = 122;
OverlaysButtonType g_overlaysButton("Toolbar: Overlays Button", kOverlaysButtonType, 7, 100, 70);

}  // namespace
