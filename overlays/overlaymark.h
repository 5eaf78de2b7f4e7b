// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A mark: a named point with an icon, a colour and an optional alarm. Stand-alone marks
// belong to the mark manager; a mark that belongs to a route is one of its waypoints
// (object type OBJECT_WAYPOINT) and carries no synchronisation identity of its own.
//
// GUI thread only.

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/serializable.h"
#include "overlays/overlayobject.h"
#include "overlays/syncable.h"

class COverlayRoute;

class COverlayMark : public COverlayObject, public CSyncable {
public:
    static constexpr uint32_t kTypeId = 20;
    static constexpr double kUnset = 999.0;

    // A new mark takes the default mark's link, colour, icon, alarm radii and flags (the
    // waypoint template's while a route is being built or read).
    COverlayMark();
    // A mark that copies no template (the templates themselves).
    struct Bare {};
    explicit COverlayMark(Bare);
    ~COverlayMark() override;

    // Overlay object.
    void Map(CMapping& mapping, const CPolynomialProjection& projection) const override;
    void Draw(QPainter* painter, CMapping& mapping) const override;
    bool isVisible() const override;
    bool onTap(CQuickChartView* view, const FPoint& screen, const DblPoint& image) override;
    void onMenuDown(NV_HWND hwnd) override;

    // Stored object.
    uint32_t GetTypeId() const override { return kTypeId; }
    bool Serialize(IOStream& s) override;
    bool getLonLatBounds(CBounds& bounds) const override;
    std::string getSubText(const CSimpleGrid& grid) const override;
    bool WriteGPX(FILE* file) const override;
    // The elements inside "wpt" or "rtept".
    bool WriteGPXContents(FILE* file) const;
    // Whether the place can be written to GPX (a latitude GPX accepts).
    bool HasGPXPosition() const;

    // Copies what a new mark takes from a template.
    void CopyTemplate(const COverlayMark& t);

    double getLat() const { return m_lat; }
    double getLon() const { return m_lon; }
    bool HasPosition() const { return m_lat < 90.5 && m_lat > -90.5 && m_lon < 400 && m_lon > -400; }
    void SetPosition(double lat, double lon);

    const std::string& getLink() const { return m_link; }
    void setLink(const std::string& link) { m_link = link; }
    const std::string& getIcon() const { return m_icon; }
    const GraphicsColor& getColor() const { return m_color; }
    // Sets icon (normalised) and colour; an invalid colour (alpha 0) keeps the icon's own.
    void SetIcon(const std::string& name, const GraphicsColor& color);
    // Makes sure the icon's picture is known (drops cached pictures of the icon).
    void LoadIcon();

    float getInnerRadius() const { return m_innerRadius; }
    float getAlarmRadius() const { return m_alarmRadius; }
    // Proximity alarm: inner 0, alarm radius r. Anchor alarm: inner r, alarm radius the
    // distance beyond which the anchor is thought to have dragged. Both 0: no alarm.
    void SetAlarm(float innerRadius, float alarmRadius);
    bool hasAlarm() const { return m_alarmRadius > 0; }
    bool isAnchorAlarm() const { return m_alarmRadius > 0 && m_innerRadius > 0; }
    bool isAlarmActive() const { return m_alarmActive; }
    void setAlarmActive(bool active) { m_alarmActive = active; }

    bool isNavigatingToMark() const { return m_navTarget; }
    void setNavTarget(bool target) { m_navTarget = target; }

    COverlayRoute* getRoute() const { return m_route; }
    bool isWaypoint() const { return m_route != nullptr; }
    // Joins a route (as its waypoint) or leaves it (null).
    void SetRoute(COverlayRoute* route);

    // Same position, name, description, icon, colour, link and alarm.
    bool sameData(const COverlayMark& other) const;
    // Back to an empty mark: no position (999), no name, no alarm, icon "None".
    void ClearData();

    // Set while a route reads its waypoints: they take the waypoint template and are
    // read without synchronisation sections.
    static bool readingWaypoints() { return s_readingWaypoints; }
    class WaypointScope {
    public:
        WaypointScope() : m_old(s_readingWaypoints) { s_readingWaypoints = true; }
        ~WaypointScope() { s_readingWaypoints = m_old; }
        WaypointScope(const WaypointScope&) = delete;
        WaypointScope& operator=(const WaypointScope&) = delete;

    private:
        bool m_old;
    };

private:
    double m_lat = kUnset;
    double m_lon = kUnset;
    std::string m_link;
    COverlayRoute* m_route = nullptr;
    bool m_navTarget = false;
    bool m_alarmActive = false;
    GraphicsColor m_color{0, 0, 0, 0};
    std::string m_icon = "None";
    float m_innerRadius = 0;
    float m_alarmRadius = 0;

    static inline bool s_readingWaypoints = false;
    static CSerializable::TypeOf<COverlayMark> s_type;
};
