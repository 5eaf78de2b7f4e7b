// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The map on a display page, in two halves:
//
// - CDisplayViewQuickChart is the page item. It owns the chart view, ticks it with the
//   heartbeat, keeps its state in "<app dir>/<index>.dvqc" while the page is not shown,
//   and is what the application model and the toolbar buttons act on.
// - CDVI_QuickChart_Window is its QtQuick item, made from "DVI_QuickChart.qml". It turns
//   gestures, wheel and keys into view operations (device-independent coordinates in,
//   device pixels to the view), paints the view, and publishes the scale bar and the GPS
//   lock state to the user interface.
//
// The toolbar buttons that act on the map beneath them live in the same source file.
// Everything here runs on the GUI thread except the window's paint(), which only draws
// the frame prepared in the polish step (QtQuick calls it on the scene graph's thread
// when the render loop is threaded).

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/heartbeat.h"
#include "core/pubsub.h"
#include "displays/displayview.h"
#include "displays/quick/adaptors.h"
#include "maplib/chartview.h"
#include "maplib/mapcontrollable.h"
#include "overlays/highlight.h"

class CDVI_QuickChart_Window;
class QQuickItem;

// Type ids of the map's page items, as page files store them.
struct MapItemTypeId {
    static constexpr int kMap = 111;
    static constexpr int kZoomIn = 123;
    static constexpr int kZoomOut = 124;
    static constexpr int kSearch = 125;
    static constexpr int kAddMark = 126;
    static constexpr int kAddRoute = 127;
    static constexpr int kLockScreen = 129;
    static constexpr int kScaleIn = 135;
    static constexpr int kScaleOut = 136;
    static constexpr int kQuit = 138;
};

class CDisplayViewQuickChart : public CDisplayView::CItemDraw, public CHeartbeat::Counter, public IMapControllable {
public:
    static constexpr int kTypeId = MapItemTypeId::kMap;
    static constexpr const char* kComponentFile = "DVI_QuickChart.qml";
    static constexpr const char* kStateFileFormat = "/%d.dvqc";
    // How long a new map without a stored view waits for a connected receiver's first fix.
    static constexpr int kFirstFixWaitMs = 1500;

    class ItemSettings : public CDisplayView::CItemSettings {
    public:
        using CItemSettings::CItemSettings;
        CDisplayView::CItem* CreateItem(CDisplayView::IWindow& pageWindow) override;
    };

    explicit CDisplayViewQuickChart(CDisplayView::CItemSettings& settings);
    ~CDisplayViewQuickChart() override;

    // The map item behind a live item, or null when it is something else.
    static CDisplayViewQuickChart* FromItem(CDisplayView::CItem* item);

    // The chart view, created (without state) when there is none.
    CQuickChartView* View();
    CQuickChartView* ExistingView() const { return m_view.get(); }
    CDVI_QuickChart_Window* QuickWindow() const;
    // The handle dialogs of this map are anchored at.
    NV_HWND Hwnd() const;

    // Makes the QtQuick item and opens the map.
    void CreateAdaptor(CDisplayView::IWindow& pageWindow) override;
    // GUI thread, before each frame: the view takes the item's size (device pixels) and
    // makes the frame that Draw paints.
    void PrepareFrame(double w, double h);
    // Called by the window's paint with a painter already in device pixels; paints only.
    void Draw(QPainter& painter, double w, double h) override;

    // View with its stored state and the latest GPS position.
    void openMap();
    // Stores the view state (items with an index) and deletes the view.
    void closeMap();
    // Shows a chart file in this map; the GPS lock is released.
    void openMapFile(const std::string& path);
    // A chart chosen from the map list: opened keeping the view; an empty path returns
    // to the last view.
    void openNewMap(const std::string& path);
    // The state file of this item: items with a negative index share the file of index 0.
    std::string StateFilePath() const;

    // Every live map item lets go of its chart (files about to be deleted or replaced)
    // and opens it again afterwards.
    static void closeAllMaps();
    static void reopenAllMaps();

    // IMapControllable
    bool ShowAreaOnTheMap(const CBounds& bounds) override;
    void GetCurrentlyViewedLocation(double& lat, double& lon) override;
    void GetAssocAndFindPlace(const NV_HWND& window) override;

    void OnHeartbeat() override;
    void addEditMenus(CActionSheetMenu& menu, const NV_HWND& hwnd) override;

private:
    friend class CDVI_QuickChart_Window;
    void WindowGone(CDVI_QuickChart_Window* window);

    std::unique_ptr<CQuickChartView> m_view;
    CDVI_QuickChart_Window* m_quick = nullptr;  // also the item's window, released through it
    std::string m_closedPath;                   // chart shown before closeAllMaps
};

// What an overlay editing tool offers the map item beyond what the chart view needs:
// dragging the selected object and the delete and insert keys. A tool installed with
// CQuickChartView::SetOverlayTool may also implement this.
class IMapItemToolInput {
public:
    virtual ~IMapItemToolInput() = default;
    // Where the tool's handle is on screen, device pixels.
    virtual FPoint AnchorPoint() const = 0;
    // The pointer, dragged after a press on the selected object, is (dx, dy) device
    // pixels away from the anchor point.
    virtual void onDragFromAnchor(double dx, double dy) = 0;
    virtual bool OnDeleteKeyPressed() = 0;
    virtual bool OnInsertKeyPressed() = 0;
};

class CDVI_QuickChart_Window : public CPaintAdaptor_q, private Listener<CGlobalLatLongHighlight> {
    Q_OBJECT
    Q_PROPERTY(bool gpsLockedOn READ gpsLockedOn NOTIFY gpsLockedOnChanged)
    Q_PROPERTY(double scaleBarWidth READ scaleBarWidth WRITE setScaleBarWidth NOTIFY scaleBarChanged)
    Q_PROPERTY(QString scaleBarText READ scaleBarText WRITE setScaleBarText NOTIFY scaleBarChanged)
    Q_PROPERTY(QColor scaleBarColor READ scaleBarColor NOTIFY scaleBarChanged)
    // Chart data for the view is still on its way (chunks from the chart server).
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)

public:
    static constexpr double kScaleBarMaxWidth = 250.0;
    static constexpr double kScaleBarWidthFraction = 0.4;
    static constexpr double kScaleChangeThreshold = 1.001;
    static constexpr double kKeyScrollStep = 100.0;
    static constexpr double kMetresPerNauticalMile = 1852.0;

    explicit CDVI_QuickChart_Window(QQuickItem* parent = nullptr);
    ~CDVI_QuickChart_Window() override;

    void setMapItem(CDisplayViewQuickChart* item);
    CDisplayViewQuickChart* mapItem() const { return m_mapItem; }
    void Detach() override;
    void Invalidate() override;
    // Paints the frame the last PrepareFrame made (on the scene graph's thread when the
    // render loop is threaded).
    void paint(QPainter* painter) override;
    // GUI thread: schedules PrepareFrame before the next frame, and the frame.
    void RequestFrame();
    // GUI thread: the view makes the frame paint() will draw (QtQuick's polish step).
    void PrepareFrame();

    bool gpsLockedOn() const { return m_gpsLockedOn; }
    bool loading() const { return m_loading; }
    double scaleBarWidth() const { return m_scaleBarWidth; }
    void setScaleBarWidth(double w);
    QString scaleBarText() const { return m_scaleBarText; }
    void setScaleBarText(const QString& text);
    QColor scaleBarColor() const { return m_scaleBarColor; }
    bool HasHighlightIcon() const { return !m_highlightIcon.isNull(); }

    // Recomputes the scale bar from the view's scale (at every heartbeat).
    void onChangedScale();
    // Emits gpsLockedOnChanged when the view's lock differs from what was published.
    void CheckGpsLock();
    // Emits loadingChanged when the view starts or stops waiting for chart data.
    void CheckLoading();
    // Gives the view the item's size in device pixels.
    void UpdateScreenRect();

public Q_SLOTS:
    bool onPressed(int button, double mouse_x, double mouse_y);
    void onReleased(int button, double mouse_x, double mouse_y);
    void onMouseDragged(double x, double y);
    void onMouseWheel(float delta, double x, double y);
    void onScrollGesture(QPointF delta, bool inverted);
    void onSingleTouchDown(double x, double y);
    void onSingleTouchMove(double x, double y);
    void onSingleTouchUp();
    void onPinchBegin(double x, double y, double dsq);
    void onPinchMove(double x, double y, double dsq);
    void onPinchEnd();
    void onClickZoom(int delta);
    void onClickedMaps(QQuickItem* item);
    void onClickedAddMark();
    void onClickedLockGPS();
    bool onKeyPressed(int key);

Q_SIGNALS:
    void gpsLockedOnChanged();
    void loadingChanged();
    void scaleBarChanged();

protected:
    // The view learns its size before the first paint (restoring a view, fitting an area).
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void updatePolish() override;

private:
    void OnUpdate(CGlobalLatLongHighlight& highlight) override;
    CQuickChartView* view() const;
    void TakeFocus();
    bool Arranging() const;

    QPointer<QQuickItem> m_mapsAnchor;
    CDisplayViewQuickChart* m_mapItem = nullptr;
    bool m_gpsLockedOn = false;
    bool m_loading = false;
    double m_scaleBarWidth = 0;
    QString m_scaleBarText;
    QColor m_scaleBarColor;
    double m_lastScale = 0;
    QImage m_highlightIcon;
    std::optional<QPointF> m_highlightAt;  // where paint() draws the icon
    // The press as this item sees it (the view keeps its own for panning).
    bool m_pressed = false;
    bool m_moved = false;
    FPoint m_pressPoint;
};

