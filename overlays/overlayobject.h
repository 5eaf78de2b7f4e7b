// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Everything drawn over the chart (marks, routes, track sections, AIS targets, the GPS
// position). The chart view keeps one CMapping per object, re-maps it when the chart or
// the object changes, moves it to screen coordinates when the view moves, hit-tests and
// draws through it, and never knows the concrete class.
//
// GUI thread only: objects are created, changed, dispatched and destroyed there, and
// listeners run synchronously inside Dispatch.

#include <cstdint>
#include <vector>

#include "core/geometry.h"
#include "core/uiservices.h"

class CPolynomialProjection;
class CQuickChartView;  // the view passes itself to the input handlers; only pointers travel here
class QPainter;
class QTransform;

class COverlayObject {
public:
    enum object_type : int {
        OBJECT_MARK = 0,
        OBJECT_ROUTE = 1,
        OBJECT_TRACK_SECTION = 2,
        OBJECT_AIS_TARGET = 3,
        OBJECT_GPS_POSITION = 4,
        OBJECT_WAYPOINT = 5,  // a mark that belongs to a route
    };

    enum update_action : int {
        UPDATE_NONE = 0,
        UPDATE_CHANGED = 1,    // content or visibility changed
        UPDATE_MOVED = 2,      // moved or restyled: redraw
        UPDATE_DESTROYED = 3,  // sent once, by the destructor
        UPDATE_LIST_ACTION = 4,
    };

    // Drawing order, lowest first: the GPS position ends on top of everything.
    enum layer_e : unsigned {
        LAYER_ROUTE = 2,
        LAYER_TRACK_SECTION = 4,
        LAYER_MARK = 6,
        LAYER_AIS_TARGET = 10,
        LAYER_GPS_POSITION = 12,
    };

    static constexpr unsigned kLayerShift = 28;
    static constexpr uint32_t kNumberMask = (1u << kLayerShift) - 1;

    // The transform from chart image pixels to screen pixels of one view.
    class CViewParams {
    public:
        // The view's zoom level. Below 1 the offset stays on whole image pixels (the chart is
        // magnified or drawn 1:1); otherwise on whole screen pixels, so that reduced charts
        // land on pixel boundaries and do not shimmer while panning.
        int mode = 0;
        double scale = 1.0;   // screen pixels per image pixel
        double offset_x = 0;  // image coordinates of the screen origin
        double offset_y = 0;
        FRect visible;  // the image rectangle in view

        FPoint ImageToScreen(double ix, double iy) const {
            return FPoint((ix - offset_x) * scale, (iy - offset_y) * scale);
        }
        DblPoint ScreenToImage(double sx, double sy) const {
            return DblPoint(sx / scale + offset_x, sy / scale + offset_y);
        }
        FRect ImageToScreen(const FRect& r) const;
        FRect ScreenToImage(const FRect& r) const;

        // Moves the offset by the screen delta (dx, dy), keeping it on whole pixels as the
        // mode wants. On return dx and dy hold the movement actually made, in screen
        // pixels; the caller carries the difference to the next delta so that slow drags
        // still move. A non-positive scale moves nothing.
        void ApplyDelta(double& dx, double& dy);
        // Places image point (ix, iy) at screen point (sx, sy), rounded as the mode wants.
        void AdjustOffset(double sx, double sy, double ix, double iy);
    };

    // One object as one view sees it. Owned by the view.
    class CMapping {
    public:
        enum hit_kind : int {
            HIT_NEVER = 0,
            HIT_POINTS = 1,
            HIT_POLYLINE = 2,
            HIT_ALWAYS = 4,
        };
        // Bounds of an empty mapping: far outside any chart, so it never overlaps a view.
        static constexpr double kNoBound = 2147483647.0;

        explicit CMapping(COverlayObject* obj = nullptr) : object(obj) { clear(); }

        COverlayObject* object;
        FRect bounds;                  // of the image points
        std::vector<DblPoint> points;  // image coordinates; (0, 0) marks an unmapped placeholder
        std::vector<DblPoint> screen;  // screen coordinates, parallel to points once mapped
        int kind = HIT_NEVER;
        int count = 0;  // leading points that take part in a point hit test

        void clear();
        // Bounding box of the image points, ignoring (0, 0) placeholders. Without any real
        // point the box is inverted (empty) and overlaps nothing.
        void set_bounds();
        // True when the object should be drawn: its points were moved to the screen (and
        // the object's MapToScreen hook ran), or it is always hit.
        bool map_to_screen(const CViewParams& view);
        // The same through an arbitrary transform, against the given image rectangle.
        bool map_to_screen(const QTransform& transform, const FRect& visible);
        void move_screen() { screen.clear(); }
        // Whether screen point (x, y) hits the object within squared distance r2. Points
        // standing for unmapped placeholders never hit, nor do lines to them.
        bool HitTest_mapped(double x, double y, double r2) const;

        bool Overlaps(const FRect& r) const;
    };

    COverlayObject(unsigned layer, object_type type);
    COverlayObject(const COverlayObject&) = delete;
    COverlayObject& operator=(const COverlayObject&) = delete;
    // Tells the listeners the object is gone, unless a derived destructor already did
    // (which is the better place: there the listener still sees the whole object).
    virtual ~COverlayObject();

    virtual void Map(CMapping& mapping, const CPolynomialProjection& projection) const = 0;
    virtual void MapToScreen(CMapping& /*mapping*/) const {}
    virtual void Draw(QPainter* painter, CMapping& mapping) const = 0;
    virtual bool isVisible() const { return true; }
    // Input handlers receive the screen point and the image point; true = handled.
    virtual bool onTap(CQuickChartView* /*view*/, const FPoint& /*screen*/, const DblPoint& /*image*/) { return false; }
    virtual bool onMouseDown(CQuickChartView* /*view*/, const FPoint& /*screen*/, const DblPoint& /*image*/) {
        return false;
    }
    virtual bool onMouseMove(CQuickChartView* /*view*/, const FPoint& /*screen*/, const DblPoint& /*image*/) {
        return false;
    }
    virtual void onMouseUp(CQuickChartView* /*view*/) {}
    virtual void onMenuDown(NV_HWND /*hwnd*/) {}
    virtual bool onRightClick(CQuickChartView* /*view*/, const FPoint& /*screen*/, const DblPoint& /*image*/) {
        return false;
    }

    // Notifies every Listener<COverlayObject> of a change. Once the object has been
    // dispatched as destroyed, nothing more is sent.
    void Dispatch(update_action action);

    // Layer in the top 4 bits, a number unique among live objects in the low 28.
    uint32_t OrderKey() const { return m_orderKey; }
    unsigned Layer() const { return m_orderKey >> kLayerShift; }
    object_type ObjectType() const { return m_type; }
    // The last action dispatched (UPDATE_NONE before the first).
    update_action UpdateState() const { return m_state; }
    bool IsDestroyed() const { return m_state == UPDATE_DESTROYED; }

    static size_t LiveObjectCount();

    // Whether an editing tool holds an object on some map (set by the tool). While it does,
    // the units' reference location stays where the user works instead of following the
    // boat.
    static bool EditingToolActive();
    static void SetEditingToolActive(bool active);

protected:
    // A mark becomes a waypoint when a route takes it (and a stand-alone mark again when
    // it leaves the route).
    void SetObjectType(object_type type) { m_type = type; }

private:
    uint32_t m_orderKey;
    object_type m_type;
    update_action m_state = UPDATE_NONE;
};
