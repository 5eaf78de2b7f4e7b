// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The owner of every mark and route. It loads and saves them (marks.nvtf, routes.nvtf),
// names new ones from templates, finds them by position or text, navigates towards a
// mark or along a route (publishing CDataGotoMark), and raises the proximity, anchor,
// geofence, exclusion-zone and cross-track alarms from GPS positions. While an anchor
// alarm is set it also watches for the loss of the GPS fix. Every alarm raised or
// cleared is appended to the alarm log of the profile folder.
//
// GUI thread only: positions arrive through the data-source dispatch, the heartbeat
// pulses and every edit happen there.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "overlays/gotomark.h"
#include "overlays/gpsdata.h"
#include "overlays/overlaymark.h"
#include "overlays/overlayroute.h"
#include "overlays/overlaysource.h"

class CQuickChartView;

// What the user interface does for marks and routes. The application installs one
// (CMarkManager::SetUi); without it, taps on marks are not handled and the editors do
// nothing, which is what tools and tests want.
class IMarkUi {
public:
    virtual ~IMarkUi() = default;
    // A tap on a mark or a waypoint: select it, show its name, distance and bearing.
    virtual bool MarkTapped(CQuickChartView* view, COverlayMark& mark) = 0;
    // A tap on a route's line.
    virtual bool RouteTapped(CQuickChartView* view, COverlayRoute& route, const DblPoint& image) = 0;
    // The long press / context menu of a mark, waypoint or route.
    virtual void ShowObjectMenu(const NV_HWND& hwnd, COverlayObject& object) = 0;
    virtual void EditDefaultMark(const NV_HWND& hwnd) = 0;
    virtual void EditDefaultRoute(const NV_HWND& hwnd) = 0;
    // A new, empty route was created: let the user add points by tapping the map.
    virtual void StartRouteBuilding(const NV_HWND& hwnd, COverlayRoute& route) = 0;
};

// Appends alarm events to a plain text file, one line each:
// "<UTC time> raised|cleared <title>: <text> at <lat>, <lon>".
class CAlarmLog {
public:
    static constexpr const char* kFileName = "alarms.log";
    void SetPath(const std::string& path) { m_path = path; }
    const std::string& Path() const { return m_path; }
    // False when the line could not be written (the alarm itself still shows).
    bool Append(double time, bool raised, const std::string& title, const std::string& text, double lat,
                double lon) const;
    static std::string FormatLine(double time, bool raised, const std::string& title, const std::string& text,
                                  double lat, double lon);

private:
    std::string m_path;
};

class CMarkManager : public Listener<CDataGPSPosition>, public Listener<COverlayObject>, public CHeartbeat::Counter, public IOverlaySource {
public:
    static constexpr uint32_t kMarksMagic = 0xCA2EAF82;
    static constexpr uint32_t kRoutesMagic = 0xDA2EAF93;
    static constexpr const char* kMarksFile = "marks.nvtf";
    static constexpr const char* kRoutesFile = "routes.nvtf";
    // The notification of the cross-track alarm and of the loss of the GPS fix.
    static constexpr const char* kCrossTrackId = "1269130";
    static constexpr const char* kGpsLostId = "1269131";
    static constexpr double kGpsLostSeconds = 30.0;

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CMarkManager") {}
        void DeclareData() override;

        bool route_create_hint = false;
        bool route_hint = false;
        bool optimize_route_tip = false;
        std::string default_mark_icon = "Dot";
        std::string default_wp_icon = "Waypoint";
        GraphicsColor default_mark_color2{220, 0, 0, 255};
        GraphicsColor default_wp_color2{0, 0, 200, 255};
        bool notifications = false;
        int sync_mode = 0;
        bool auto_reverse = false;
        float horiz_speed = 5.0f;  // knots
        float ascent_sec_per_meter = 0;
        float descent_sec_per_meter = 0;
        float cross_track_alarm = 0;  // metres; 0 = off
        // Metres from a waypoint of the followed route within which it counts as reached
        // and the next leg starts; 0 leaves the switch to the legs' bisectors alone.
        float arrival_radius = 0;
    };
    static Persistant settings;

    CMarkManager();
    ~CMarkManager() override;
    CMarkManager(const CMarkManager&) = delete;
    CMarkManager& operator=(const CMarkManager&) = delete;

    static void SetUi(IMarkUi* ui);
    static IMarkUi* Ui();

    // ---- files
    // The folder of marks.nvtf, routes.nvtf and the alarm log (default: the application
    // directory).
    void SetDirectory(const std::string& dir);
    const std::string& Directory() const { return m_dir; }
    std::string MarksPath() const { return m_dir + "/" + kMarksFile; }
    std::string RoutesPath() const { return m_dir + "/" + kRoutesFile; }
    CAlarmLog& AlarmLog() { return m_alarmLog; }
    // Reads both files. A missing file is an empty list. A damaged one is reported to the
    // user, what could be read is kept, and the file is left as it is: it is not
    // overwritten until ReplaceDamagedFiles() (the user's choice) or a later load reads it.
    bool LoadFromFile();
    bool SaveIfNeeded();
    bool HasDamagedFile() const { return m_marksDamaged || m_routesDamaged; }
    // Keeps a damaged file as "<name>.damaged" (numbered when taken) and lets saving
    // write new files.
    bool ReplaceDamagedFiles();
    void SetMarksChanged() { m_marksChanged = true; }
    void SetRoutesChanged() { m_routesChanged = true; }
    bool MarksChanged() const { return m_marksChanged; }
    bool RoutesChanged() const { return m_routesChanged; }

    // ---- objects
    const std::vector<std::unique_ptr<COverlayMark>>& Marks() const { return m_marks; }
    const std::vector<std::unique_ptr<COverlayRoute>>& Routes() const { return m_routes; }
    COverlayMark& DefaultMark() { return *m_defaultMark; }
    COverlayRoute& DefaultRoute() { return *m_defaultRoute; }
    COverlayMark& WaypointTemplate() { return *m_wpTemplate; }

    // A new mark from the default mark at the position, named from its template; with a
    // view, the mark is tapped in it so that it is selected for editing.
    COverlayMark* CreateNewMark(CQuickChartView* view, double lat, double lon);
    // Takes a mark made elsewhere (importers, AIS, DSC); it is dispatched and saved.
    COverlayMark* AddMark(std::unique_ptr<COverlayMark> mark);
    // A new empty route from the default route; the user interface then lets the user
    // tap its points.
    COverlayRoute* CreateNewRoute(const NV_HWND& hwnd);
    COverlayRoute* CreateRouteStartingAt(double lat, double lon, const std::string& name, CQuickChartView* view);
    COverlayRoute* AddRoute(std::unique_ptr<COverlayRoute> route);
    // Deleting keeps a tombstone (hidden) for the online account; undeleting brings it
    // back. Navigation towards the object stops, and its alarm is cancelled.
    void DeleteMark(COverlayMark* mark);
    void UndeleteMark(COverlayMark* mark);
    void DeleteRoute(COverlayRoute* route);
    void UndeleteRoute(COverlayRoute* route);
    // A waypoint is about to leave its route: navigation moves on if it was the target.
    void WaypointRemoving(COverlayMark* waypoint);
    // Destroys every mark and route (not tombstones: they are gone).
    void ClearAll();

    COverlayMark* FindMark(const std::string& name) const;
    // Whether a live object with the same data is already there (imports).
    bool alreadyHave(const COverlayMark& mark) const;
    bool alreadyHave(const COverlayRoute& route) const;
    // Live objects whose name or description contains the text (case-insensitive; every
    // object for an empty text). Return false from fn to stop.
    void ForEachMatchingMark(const std::string& text, const std::function<bool(COverlayMark&)>& fn) const;
    void ForEachMatchingRoute(const std::string& text, const std::function<bool(COverlayRoute&)>& fn) const;
    // The n nearest visible marks (and waypoints of visible routes) / routes, nearest first.
    void FindNearestVisibleMarks(double lat, double lon, size_t n, std::vector<COverlayMark*>& list) const;
    void FindNearestVisibleRoutes(double lat, double lon, size_t n, std::vector<COverlayRoute*>& list) const;
    // A live route whose first (last) waypoint lies within `tolerance` metres.
    COverlayRoute* FindRouteStartingAt(double lat, double lon, double tolerance) const;
    COverlayRoute* FindRouteEndingAt(double lat, double lon, double tolerance) const;
    // The route that owns a waypoint or is the object; null for anything else.
    COverlayRoute* RouteOf(const COverlayObject* object) const;
    // Whether the object is one of ours (a live or deleted mark, route or waypoint).
    bool Owns(const COverlayObject* object) const;

    // ---- names
    std::string DefaultMarkName(const std::string& tmpl) const;
    std::string DefaultMarkName() const { return DefaultMarkName(m_defaultMark->getName()); }
    std::string DefaultRouteName() const;
    // Expands date and time fields ("%<Qt format>%", "%%" for "%") for `time` (0 = now,
    // local time), then replaces the last "#" by one more than the largest number that
    // follows the text before it in any of `names`.
    static std::string GetNameFromTemplate(const std::string& tmpl, const std::vector<const std::string*>& names,
                                           double time = 0);
    static std::string ExpandDateFields(const std::string& tmpl, double time);
    // The last "#" replaced by n, or n appended without one.
    static std::string NumberedName(const std::string& tmpl, int n);

    // ---- navigation
    void SetGoto(COverlayMark* mark);
    void SetFollowRoute(COverlayRoute* route);
    void CancelNavigation();
    COverlayMark* Target() const { return m_target; }
    COverlayRoute* FollowedRoute() const { return m_follow; }
    const CDataGotoMark& GotoData() const { return m_goto; }

    void EditDefaultMark(const NV_HWND& hwnd);
    void EditDefaultRoute(const NV_HWND& hwnd);
    // Sends `action` for every live mark and route to one listener (a view that starts).
    void GetUpdatesForAll(COverlayObject::update_action action, Listener<COverlayObject>& listener);
    void ReportAllObjects(Listener<COverlayObject>& listener) override {
        GetUpdatesForAll(COverlayObject::UPDATE_CHANGED, listener);
    }

    void OnUpdate(CDataGPSPosition& position) override;
    void OnUpdate(COverlayObject& object) override;
    void OnHeartbeat() override;

    // ---- icons
    std::set<std::string> IconsInUse() const;
    int deleteUnusedIcons();

    // Takes the settings that templates and alarms depend on (after loading settings).
    void ApplySettings();

private:
    struct Fix {
        bool valid = false;
        double lat = 0, lon = 0;
        double speed = 0;   // knots
        double course = CDataGotoMark::kNoDirection;
        double vx = 0, vy = 0;  // unit course vector (east, north); 0 when not moving
        double time = 0;
    };

    bool ReadMarks();
    bool ReadRoutes();
    void AfterRead();
    void ReportDamaged(const std::string& path);

    // Navigation.
    void Navigate();
    void ChangeTarget(COverlayMark* mark);
    void NavigateFrom(double lat, double lon);
    void ComputeAndPublish();
    void PublishCancelled();

    // Alarms.
    void CheckAlarms();
    void RebuildAlarmCache();
    void Raise(const std::string& id, const std::string& title, const std::string& text);
    void Clear(const std::string& id, const std::string& text = {});
    void CancelAllAlarms();
    void ClearObjectAlarm(COverlayObject* object);
    bool AnchorArmed();

    std::string m_dir;
    CAlarmLog m_alarmLog;
    std::vector<std::unique_ptr<COverlayMark>> m_marks;
    std::vector<std::unique_ptr<COverlayRoute>> m_routes;
    std::unique_ptr<COverlayMark> m_defaultMark;
    std::unique_ptr<COverlayRoute> m_defaultRoute;
    std::unique_ptr<COverlayMark> m_wpTemplate;
    bool m_marksChanged = false;
    bool m_routesChanged = false;
    bool m_marksDamaged = false;
    bool m_routesDamaged = false;
    int m_quiet = 0;  // inside loads: dispatches do not mark the files changed

    // Navigation state.
    COverlayMark* m_target = nullptr;
    COverlayRoute* m_follow = nullptr;
    CDataGotoMark m_goto;
    CSimpleGrid m_navGrid;  // origin at the target
    double m_legX = 0, m_legY = 0, m_legLength = 0;  // start of the leg relative to the target
    double m_normX = 0, m_normY = 0;
    int m_minTarget = 0;  // waypoints before this index were reached (arrival radius)
    Fix m_fix;

    // Alarm state.
    std::vector<COverlayMark*> m_alarmMarks;
    std::vector<COverlayRoute*> m_alarmRoutes;
    bool m_alarmCacheValid = false;
    bool m_xteAlarmActive = false;
    bool m_gpsLostActive = false;
    double m_lastFixTime = 0;
    double m_anchorArmedSince = 0;
    std::map<std::string, std::string> m_activeAlarms;  // id -> title of each shown, cancelled once

    static inline IMarkUi* s_ui = nullptr;
};

// The one mark manager of the application (null before start-up creates it).
extern CMarkManager* g_mark_manager;
