// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A route: an ordered list of waypoints (marks it owns) with a line style and optional
// area alarms (geofence: alarm outside the area the route encloses; exclusion zone:
// alarm inside it). Legs are measured on a local flat grid built on demand.
//
// GUI thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "overlays/overlaymark.h"
#include "overlays/overlayobject.h"
#include "overlays/syncable.h"

class COverlayRoute : public COverlayObject, public CSyncable {
public:
    static constexpr uint32_t kTypeId = 40;
    static constexpr double kMinLegMetres = 5.0;
    static constexpr int kPatternCount = 5;

    // One leg, from the previous waypoint to `to`, in the route's grid.
    struct segment {
        COverlayMark* to = nullptr;
        double dx = 0, dy = 0;  // unit direction
        double sx = 0, sy = 0;  // start, metres
        double ex = 0, ey = 0;  // end, metres
        double length = 0;      // metres; 0 for a leg of 5 m or less (not valid)
        double d2 = 0;          // squared distance of the position from the leg's line
        bool alongside = false;
        bool valid() const { return length > 0; }
        // Whether (x, y) is alongside this leg (past the bisector at its start, made of
        // this direction and the previous leg's), and its squared distance from the line.
        bool compute(double x, double y, const segment* previous);
    };

    // What FindNearestLeg found.
    struct NearestLeg {
        COverlayMark* from = nullptr;  // null when the first waypoint is the target
        COverlayMark* to = nullptr;    // null when the route has no waypoint
        COverlayMark* next = nullptr;  // the waypoint after `to`
        int toIndex = -1;
        double remaining = 0;  // metres of route after `to`
    };

    COverlayRoute();
    ~COverlayRoute() override;

    // Overlay object.
    void Map(CMapping& mapping, const CPolynomialProjection& projection) const override;
    void Draw(QPainter* painter, CMapping& mapping) const override;
    bool isVisible() const override { return isVisibleFlag() && !isDeleted(); }
    bool onTap(CQuickChartView* view, const FPoint& screen, const DblPoint& image) override;
    void onMenuDown(NV_HWND hwnd) override;

    // Stored object.
    uint32_t GetTypeId() const override { return kTypeId; }
    bool Serialize(IOStream& s) override;
    bool getLonLatBounds(CBounds& bounds) const override;
    std::string getSubText(const CSimpleGrid& grid) const override;
    bool WriteGPX(FILE* file) const override;
    // The "extensions" block with the line style that routes and tracks carry.
    static bool WriteGPXLineStyle(FILE* file, const GraphicsColor& color, float width, int pattern);

    // Tells the listeners about the route and every waypoint.
    void Dispatch(update_action action);

    // Waypoints.
    const std::vector<std::unique_ptr<COverlayMark>>& Waypoints() const { return m_points; }
    size_t size() const { return m_points.size(); }
    COverlayMark* Waypoint(size_t i) const { return i < m_points.size() ? m_points[i].get() : nullptr; }
    int IndexOf(const COverlayMark* mark) const;
    // Appends a new waypoint at the position, named and styled from the waypoint template.
    COverlayMark* AddWaypoint(double lat, double lon);
    // Inserts `mark` after `after` (at the front for null), taking ownership.
    COverlayMark* InsertWPAfter(std::unique_ptr<COverlayMark> mark, const COverlayMark* after);
    // Removes and destroys the waypoint; false when it is not one of ours.
    bool DeleteWaypoint(COverlayMark* mark);
    bool deleteJustAddedWaypoint();
    void ReverseWaypoints();
    // Cuts the route at `mark`: the waypoints from it on move to a new route (which
    // starts with a copy of `mark`). Null when nothing can be split off.
    std::unique_ptr<COverlayRoute> SplitRoute(COverlayMark* mark);
    // Appends the waypoints of `other` (which is left empty).
    void JoinRoute(COverlayRoute& other);
    void SetAllWaypointsLike(const COverlayMark& mark);
    // Names the waypoint from the template ("%R" = this route's name, "#" = the number of
    // waypoints) and gives it the default waypoint icon and colour.
    void setDefaultWPnameAndIcon(COverlayMark& mark) const;
    // "First - Last" from the end waypoints' names.
    void SetNameFromEndWaypoints();

    // Legs.
    void InitSegments();
    void ClearSegments();
    const std::vector<segment>& Segments() {
        InitSegments();
        return m_segments;
    }
    const CSimpleGrid& Grid() const { return m_grid; }
    double getTotalLengthMeters();
    double getDistanceUpToWaypoint(const COverlayMark* mark);
    // Metres of route after the waypoint with index `i`.
    double getRemainingAfter(int i);
    COverlayMark* getWaypointBefore(const COverlayMark* mark) const;
    COverlayMark* getWaypointAfter(const COverlayMark* mark) const;
    // The leg a boat at (lat, lon) moving with velocity (vx east, vy north; any unit) is
    // on. Targets before waypoint index `minTarget` are not considered.
    NearestLeg FindNearestLeg(double lat, double lon, double vx, double vy, int minTarget = 0);
    // Longitude/latitude vertices of the waypoints.
    CPolyline GetVertices() const;
    // Whether (lat, lon) lies in the area the route encloses (needs three waypoints).
    bool Contains(double lat, double lon);

    // Style.
    const GraphicsColor& getLineColor() const { return m_lineColor; }
    float getLineWidth() const { return m_lineWidth; }
    int getLinePattern() const { return m_linePattern; }
    void SetLineStyle(const GraphicsColor& color, float width, int pattern);
    static const char* PatternName(int pattern);
    // The pattern index for a name (case-insensitive); -1 when unknown.
    static int PatternFromName(const std::string& name);

    // Alarms and following.
    bool isGeofence() const { return m_geofence; }
    bool isExclusionZone() const { return m_exclusion; }
    void SetAreaAlarms(bool geofence, bool exclusion);
    bool hasAreaAlarm() const { return m_geofence || m_exclusion; }
    bool isAreaAlarmActive() const { return m_areaAlarmActive; }
    void setAreaAlarmActive(bool active) { m_areaAlarmActive = active; }
    bool isFollowed() const { return m_follow; }
    void setFollow(bool follow) { m_follow = follow; }

    // The waypoint being navigated to, when this route is followed.
    COverlayMark* ActiveTarget() const;

    // Set while a route is being built by tapping points: new marks then take the
    // waypoint template.
    static bool isBuilding() { return s_building > 0; }
    class BuildScope {
    public:
        BuildScope() { ++s_building; }
        ~BuildScope() { --s_building; }
        BuildScope(const BuildScope&) = delete;
        BuildScope& operator=(const BuildScope&) = delete;
    };

private:
    void Changed();  // the waypoints or their positions changed

    std::vector<std::unique_ptr<COverlayMark>> m_points;
    GraphicsColor m_lineColor{0, 0, 0, 255};
    float m_lineWidth = 2.0f;
    int m_linePattern = 0;
    bool m_geofence = false;
    bool m_exclusion = false;
    bool m_areaAlarmActive = false;
    bool m_follow = false;

    std::vector<segment> m_segments;
    bool m_segmentsValid = false;
    double m_totalLength = 0;
    CSimpleGrid m_grid;
    // The enclosed area, cached for the alarm checks.
    CPolyline m_area;
    CBounds m_areaBounds;
    bool m_areaValid = false;

    static inline int s_building = 0;
    static CSerializable::TypeOf<COverlayRoute> s_type;
};
