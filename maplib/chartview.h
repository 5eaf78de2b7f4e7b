// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The non-visual model of one map on screen: which chart is open, which part of it is
// shown at which zoom level, how screen points map to chart pixels and to latitude and
// longitude, how gestures pan and zoom, when zooming switches to a more or less detailed
// chart of the catalogue, how the view follows the GPS position, and which overlay object
// a tap or press lands on.
//
// Everything here runs on the GUI thread except onDraw. The owner (the map item) feeds
// input in device pixels, calls onTimer at every heartbeat, PrepareFrame before each
// frame it paints and onDraw from its paint, and repaints when the view asks through the
// repaint callback. Decoded chart squares arrive from the renderer's worker threads and
// are picked up by PrepareFrame.
//
// onDraw only paints what PrepareFrame made, and may run on QtQuick's scene-graph thread.
// It still reads the overlay objects as it draws them; QtQuick calls paint while the GUI
// thread waits in the scene graph's synchronisation step, so nothing changes them
// meanwhile.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "charts/cached_chart.h"
#include "charts/georef.h"
#include "core/geometry.h"
#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "core/serializable.h"
#include "core/uiservices.h"
#include "overlays/gpsdata.h"
#include "overlays/overlayobject.h"

class CChartList;
class CChartOutline;
class QPainter;

class CQuickChartView : public CSerializable,
                        private CCachedQuickChart,
                        public Listener<CDataGPSPosition>,
                        public Listener<COverlayObject> {
public:
    static constexpr uint32_t kStateMagic = 0x8E5672CE;
    static constexpr double kNoPosition = 999.0;
    static constexpr int kMinZoom = -2;
    static constexpr int kDefaultMaxZoom = 3;
    static constexpr double kZoomHintInterval = 172800.0;  // 48 hours
    static constexpr int kMaxOverlaysPerFrame = 20000;
    static constexpr double kVisibleMargin = 50.0;         // image pixels around the screen that still count as visible
    static constexpr uint32_t kFlagReducedZoom = 1u << 6;  // header flag: one zoom-out level fewer
    static constexpr double kMaxOffset = 1e8;              // image pixels the view may stray from the origin
    static constexpr double kDefaultViewScale = 0.18274;   // scale of the fallback view when nothing covers a fix
    static const char* const kZoomHintText;
    static const char* const kMapsAtCursorTitle;

    // Settings shared by all views, stored under "CQuickChartView".
    class Settings : public PersistantData {
    public:
        Settings();
        void DeclareData() override;

        bool full_screen = false;
        bool change_scale_by_zooming = true;
        bool show_scale_bar = true;
        GraphicsColor scale_bar_color{0xFF, 0xBB, 0x33, 0xA0};
        bool automatic_download = true;
        std::string app_name = "Navora for All";
        std::string app_icon;
        std::string app_website = "https://navora.example.org";
        std::set<std::string> dms_hide;
        double timeOfLastZoomHint = 0;
        // Read from the settings file, never written back: a distribution can set them.
        double app_default_lat = 43.04144;
        double app_default_lon = -31.7395;
    };
    static Settings& settings();
    // Applies a changed "automatic_download" to every live view at once.
    static void AutomaticDownloadChanged();

    // The overlay editing tool as the view sees it. The tool subsystem installs one with
    // SetOverlayTool; without one, nothing is ever selected.
    class IOverlayTool {
    public:
        virtual ~IOverlayTool() = default;
        virtual bool isUsingView(const CQuickChartView* view) const = 0;
        // The tool now works in `view` (it lets go of an object selected in another view).
        virtual void UsingView(CQuickChartView* view) = 0;
        virtual COverlayObject* GetSelectedObject() const = 0;
        virtual void Deselect() = 0;
        // The view panned by (dx, dy) screen pixels: the tool's centre point follows.
        virtual void MoveCentre(double dx, double dy) = 0;
        // Decorations of the selected object, drawn after all overlays.
        virtual void onDraw(QPainter* painter, COverlayObject::CMapping& mapping) = 0;
    };
    static void SetOverlayTool(IOverlayTool* tool);
    static IOverlayTool* OverlayTool();

    // Takes taps on the map before the overlays do while it is installed (a route being
    // built by tapping its points). True when the tap was used.
    class ITapCapture {
    public:
        virtual ~ITapCapture() = default;
        virtual bool MapTapped(CQuickChartView& view, double lat, double lon) = 0;
    };
    static void SetTapCapture(ITapCapture* capture);
    static ITapCapture* TapCapture();



    explicit CQuickChartView(const NV_HWND& window = NV_HWND());
    ~CQuickChartView() override;
    CQuickChartView(const CQuickChartView&) = delete;
    CQuickChartView& operator=(const CQuickChartView&) = delete;

    // The owner's repaint request.
    void SetRepaintCallback(std::function<void()> repaint) { m_repaint = std::move(repaint); }
    // The catalogue the view chooses charts from; the global one when none is set.
    void SetChartList(CChartList* list) { m_chartList = list; }
    CChartList* ChartList() const;
    // Seconds; the heartbeat clock unless replaced (tests).
    void SetClock(std::function<double()> clock) { m_clock = std::move(clock); }
    const NV_HWND& Window() const { return m_window; }

    // ---- Mapping ----
    // 2^-z in the exact form the renderer uses.
    static double ZoomFactor(int z);
    bool ScreenTolatlong(double sx, double sy, double& lat, double& lon) const;
    bool LatLongToScreen(double lat, double lon, double& sx, double& sy) const;
    bool GetCenterLatLon(double& lat, double& lon) const;
    bool GetCenterAreaOfView(CBounds& bounds) const;
    bool GetLatestGPSLatLon(double& lat, double& lon) const;
    double getDisplayedScale() const;

    // ---- Input from the map item, device pixels ----
    void setScreenRect(double x, double y, double w, double h);
    // GUI thread: makes the frame that onDraw paints from the view as it is now. The chart
    // renderer collects finished squares, places those in view and asks for the rest; the
    // overlays are mapped to the screen.
    void PrepareFrame();
    // Paints the frame PrepareFrame made for the screen rectangle; (x, y, w, h) is the
    // area filled white when there is no chart. True when every square was drawn at full
    // detail.
    bool onDraw(QPainter* painter, double x, double y, double w, double h);
    void onMouseDown(double x, double y);
    // Release of a press or touch: the press target gets its release and is forgotten.
    void onMouseUp();
    void rightMouseDown(double x, double y);
    void centerMouseDown(double x, double y);
    void onSingleTouchDown(double x, double y);
    void onSingleTouchMove(double x, double y);
    void onPinchBegin(double x, double y, double distance);
    void onPinchMove(double x, double y, double distance);
    void onPinchEnd();
    bool onTap(double x, double y, double radius2);
    // Pans by the delta, shortened to whole pixels; returns the movement made.
    FPoint DoScroll(double dx, double dy);
    void SmoothZoom(int step);
    void SmoothZoomAtPoint(int step, double x, double y);
    // One level in (step < 0) or out (step > 0) about the zoom point; false outside the levels.
    bool DoZoom(int step);
    // Zooms about (x, y) straight to level z, as far as the levels allow; true when it changed.
    bool ZoomToLevel(int z, double x, double y);
    void onTimer();
    void ClearPressed() { m_pressed = false; }

    // ---- Commands ----
    bool ChangeMapScale(int direction);
    void LockOnToGPS(const NV_HWND& window, bool lock);
    void CreateNewMark();
    void CreateNewRoute();
    // Whether marks can be made here (a mark manager runs), and routes built by tapping
    // (the user interface for it is installed): their buttons hide otherwise.
    static bool CanCreateMarks();
    static bool CanCreateRoutes();
    // Whether a place search is available for the Search button.
    static bool CanFindPlaces() { return false; }
    void GotoBestMap(const NV_HWND& window, double lat, double lon, double scale, std::function<void(bool)> done);
    void GotoLocation(const NV_HWND& window, bool centre, double lat, double lon);
    void GotoLocation(const CBounds& bounds);
    void onOpen(const NV_HWND& window, const std::string& path, bool keepView, std::function<void(bool)> done);
    void Close();
    void CloseAndReOpenCurrentMap();
    void GetCurrentMapView();
    void SetCurrentMapView();
    void RestoreCurrentMapView();
    void GetAssocFile(const NV_HWND& window, const std::string& type,
                      std::function<void(bool, const std::string&)> done);
    bool ShowZoomHintIfAppropriate();
    // The view scale that shows the whole area on a screen of w x h pixels, with margin.
    static double FitScale(const CBounds& bounds, double w, double h);

    bool Serialize(IOStream& s) override;
    void OnUpdate(CDataGPSPosition& position) override;
    void OnUpdate(COverlayObject& object) override;

    // ---- State ----
    using CCachedQuickChart::AutomaticDownload;
    using CCachedQuickChart::Chart;
    using CCachedQuickChart::CurrentChartDoesContain;
    using CCachedQuickChart::getQCTScaleAtCenter;
    using CCachedQuickChart::getScaleAt;
    using CCachedQuickChart::InvalidateAllDibs;
    using CCachedQuickChart::isLoading;
    using CCachedQuickChart::IsOpen;
    using CCachedQuickChart::LastFrameComplete;
    using CCachedQuickChart::LastFrameWaitsForData;
    using CCachedQuickChart::WebWorker;

    int ZoomLevel() const { return m_vp.mode; }
    int MaxZoomLevel() const { return m_maxZoom; }
    const COverlayObject::CViewParams& ViewParams() const { return m_vp; }
    const FRect& ScreenRect() const { return m_screen; }
    FPoint ScreenCentre() const;
    const FPoint& ReferencePoint() const { return m_refPoint; }
    const FPoint& LockPoint() const { return m_lockPoint; }
    const FPoint& ZoomPoint() const { return m_zoomPoint; }
    const FPoint& PressPoint() const { return m_pressPoint; }
    const FPoint& FlingVelocity() const { return m_fling; }
    double DrawScale() const { return m_drawScale; }
    bool IsAnimating() const { return m_animating; }
    bool IsPressed() const { return m_pressed; }
    bool HasMoved() const { return m_moved; }
    bool IsOpening() const { return m_opening; }
    bool IsGPSLocked() const { return m_gpsLocked; }
    bool IsPinching() const { return m_pinchStart != 0; }
    double ViewLat() const { return m_viewLat; }
    double ViewLon() const { return m_viewLon; }
    double ViewScale() const { return m_viewScale; }
    const std::string& CurrentPath() const;
    const std::string& OpeningPath() const { return m_openingPath; }
    const std::string& LastGoodPath() const { return m_lastGoodPath; }
    const std::string& SecondFileName() const { return m_secondFile; }
    void SetSecondFileName(const std::string& name) { m_secondFile = name; }
    const CPolynomialProjection& Projection() const { return m_proj; }
    COverlayObject* PressTarget() const { return m_pressTarget; }
    size_t MappingCount() const { return m_mappings.size(); }
    const COverlayObject::CMapping* MappingOf(const COverlayObject* object) const;

private:
    void Repaint();
    double Now() const;
    void SetZoomLevel(int z);
    void moved_screen();
    void changed_projection();
    void MapObject(COverlayObject::CMapping& mapping);
    void open_qct_callback(bool ok, const std::function<void(bool)>& done);
    void OpenOffered(const CChartOutline* outline);
    void KeepLockPointOnScreen();
    bool OnScreen(const FPoint& p) const;
    void SetViewPositionAt(const FPoint& p);
    void ShowMapsAtCursor(double lat, double lon);
    bool IsHit(COverlayObject::CMapping& mapping, double x, double y, double r2);
    // The mapping of the tool's selected object, when the tool works here and shows it.
    COverlayObject::CMapping* SelectedMapping();
    FPoint ToolRelevantPoint() const;

    // What onDraw paints, as PrepareFrame left it.
    struct FrameState {
        bool prepared = false;  // a chart is open and the frame was made for it
        FRect rect;             // the chart's area before the draw scale
        FPoint origin;          // image pixel at the rect's top-left corner
        int zoom = 0;
        double drawScale = 1.0;
        FPoint zoomPoint;
        bool complete = false;
        std::vector<std::pair<uint32_t, const COverlayObject*>> overlays;  // mapped to the screen, by key
        bool toolDecorations = false;
    };

    // Declaration order follows the state the view keeps.
    std::string m_secondFile;
    NV_HWND m_window;
    bool m_animating = false;
    double m_viewLat = kNoPosition;
    double m_viewLon = kNoPosition;
    double m_viewScale = 0;
    FPoint m_zoomPoint;
    FPoint m_pressPoint;
    double m_drawScale = 1.0;
    double m_pinchBaseScale = 1.0;
    int m_pinchStart = 0;
    bool m_opening = false;
    bool m_pressed = false;
    bool m_moved = false;
    double m_lastMoveTime = 0;
    FPoint m_fling;
    double m_gpsLat = kNoPosition;
    double m_gpsLon = kNoPosition;
    CPolynomialProjection m_proj;
    std::map<uint32_t, COverlayObject::CMapping> m_mappings;
    COverlayObject* m_pressTarget = nullptr;
    COverlayObject::CViewParams m_vp;
    FRect m_screen{0, 0, 2, 2};
    FPoint m_refPoint{-1, -1};
    FPoint m_lockPoint{-1, -1};
    std::string m_openingPath;
    std::string m_lastGoodPath;
    int m_maxZoom = kDefaultMaxZoom;
    bool m_gpsLocked = false;

    mutable std::mutex m_frameMutex;
    FrameState m_frame;  // under m_frameMutex

    FPoint m_flingCarry;  // part of the fling not yet applied because of whole-pixel rounding
    FPoint m_moveAccum;   // touch movement since the last velocity sample
    CChartList* m_chartList = nullptr;
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);  // weak references see the view go
    std::function<void()> m_repaint;
    std::function<double()> m_clock;
};
