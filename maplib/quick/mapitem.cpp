// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/quick/mapitem.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QDebug>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "core/apppaths.h"
#include "core/display_metrics.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/chartlist.h"
#include "maplib/quick/maplist.h"
#include "maplib/quick/mappainters.h"
#include "maplib/quick/mapsettings.h"
#include "navdata/dataconnection.h"
#include "navdata/gpsposition.h"
#include "units/units.h"

namespace {

// Device pixels per device-independent pixel, never zero.
double Ratio() {
    return graphicsResolution > 0 ? graphicsResolution : 1.0;
}

QColor ToQColor(const GraphicsColor& c) {
    return QColor(c.r, c.g, c.b, c.a);
}

// Every live map item, for closeAllMaps / reopenAllMaps.
std::set<CDisplayViewQuickChart*>& LiveItems() {
    static std::set<CDisplayViewQuickChart*> items;
    return items;
}

// The user-interface component is made once per engine and kept by it.
QQmlComponent* MapComponent(QQmlEngine* engine) {
    static std::map<QQmlEngine*, QPointer<QQmlComponent>> components;
    QPointer<QQmlComponent>& slot = components[engine];
    if (!slot) {
        slot = new QQmlComponent(engine, CDisplayViewPage::componentUrl(CDisplayViewQuickChart::kComponentFile),
                                 QQmlComponent::PreferSynchronous, engine);
        if (slot->isError()) qWarning().noquote() << slot->errorString();
    }
    return slot;
}

// The highlight mark: the "Dotx2" icon tinted, or two rings drawn here when the
// resources do not have it.
QImage MakeHighlightIcon() {
    const int size = int(std::lround(24 * Ratio()));
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    const QColor tint(0xE0, 0x20, 0xA0);
    QImage svg(QStringLiteral(":/Dotx2.svg"));
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    if (!svg.isNull()) {
        p.drawImage(QRectF(0, 0, size, size), svg);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(icon.rect(), tint);
    } else {
        p.setPen(QPen(tint, size / 10.0));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(size * 0.1, size * 0.1, size * 0.8, size * 0.8));
        p.setBrush(tint);
        p.drawEllipse(QRectF(size * 0.35, size * 0.35, size * 0.3, size * 0.3));
    }
    return icon;
}

}  // namespace

// ---- the page item ----


CDisplayView::CItem* CDisplayViewQuickChart::ItemSettings::CreateItem(CDisplayView::IWindow&) {
    return new CDisplayViewQuickChart(*this);
}

CDisplayViewQuickChart::CDisplayViewQuickChart(CDisplayView::CItemSettings& settings)
    : CItemDraw(settings), CHeartbeat::Counter(1) {
    LiveItems().insert(this);
}

CDisplayViewQuickChart::~CDisplayViewQuickChart() {
    LiveItems().erase(this);
    closeMap();
    if (m_quick) m_quick->setMapItem(nullptr);
    // The base class releases the window item.
}

CDisplayViewQuickChart* CDisplayViewQuickChart::FromItem(CDisplayView::CItem* item) {
    return dynamic_cast<CDisplayViewQuickChart*>(item);
}

CQuickChartView* CDisplayViewQuickChart::View() {
    if (!m_view) {
        m_view = std::make_unique<CQuickChartView>(Hwnd());
        m_view->SetRepaintCallback([this] {
            if (m_quick) m_quick->RequestFrame();
        });
        if (m_quick) m_quick->UpdateScreenRect();
    }
    return m_view.get();
}

CDVI_QuickChart_Window* CDisplayViewQuickChart::QuickWindow() const {
    return m_quick;
}

NV_HWND CDisplayViewQuickChart::Hwnd() const {
    if (m_quick) return NV_HWND(m_quick);
    if (CDisplayView* page = Page()) return page->Hwnd();
    return NV_HWND();
}

void CDisplayViewQuickChart::CreateAdaptor(CDisplayView::IWindow& pageWindow) {
    auto* parentItem = qobject_cast<QQuickItem*>(pageWindow.UiObject());
    CDVI_QuickChart_Window* window = nullptr;
    if (parentItem) {
        if (QQmlEngine* engine = qmlEngine(parentItem)) {
            QQmlComponent* component = MapComponent(engine);
            if (component && component->isReady()) {
                QObject* obj = component->create(engine->rootContext());
                window = qobject_cast<CDVI_QuickChart_Window*>(obj);
                if (!window) delete obj;
            }
        }
        // Without the component the map still shows and answers the toolbar, only
        // without gestures.
        if (!window) window = new CDVI_QuickChart_Window();
        QQmlEngine::setObjectOwnership(window, QQmlEngine::CppOwnership);
        window->setParent(parentItem);
        window->setParentItem(parentItem);
        window->setMapItem(this);
        m_quick = window;
    }
    SetWindow(window);
    openMap();
}

void CDisplayViewQuickChart::WindowGone(CDVI_QuickChart_Window* window) {
    if (m_quick == window) m_quick = nullptr;
}

void CDisplayViewQuickChart::PrepareFrame(double w, double h) {
    if (!m_view) return;
    m_view->setScreenRect(0, 0, w, h);
    m_view->PrepareFrame();
}

void CDisplayViewQuickChart::Draw(QPainter& painter, double w, double h) {
    if (m_view) m_view->onDraw(&painter, 0, 0, w, h);
}

std::string CDisplayViewQuickChart::StateFilePath() const {
    char name[32];
    std::snprintf(name, sizeof name, kStateFileFormat, std::max(Settings().index, 0));
    return getAppDirectory() + name;
}

void CDisplayViewQuickChart::openMap() {
    m_view.reset();
    CQuickChartView* view = View();
    const std::string path = StateFilePath();
    if (FileExists(path)) view->ReadFile(path);
    if (m_quick) m_quick->UpdateScreenRect();
    view->OnUpdate(static_cast<CDataGPSPosition&>(COverlayGPSPosition::theLatestPosition));
    if (view->IsOpen() || view->IsOpening() || !m_quick) return;
    // A new map with nowhere to be: no stored view and no position yet. A receiver that
    // is connected gets a moment to deliver its first fix (which opens the chart there);
    // otherwise the map opens at the default place at once rather than stay blank.
    const CDataConnection* c = CDataConnection::theConnection;
    const bool fixMayCome = c && c->TypeId() != CDataConnection::kLocationService &&
                            c->TypeId() != CDataConnection::kNone;
    QTimer::singleShot(fixMayCome ? kFirstFixWaitMs : 0, m_quick, [this] {
        if (!m_view || m_view->IsOpen() || m_view->IsOpening()) return;
        const auto& s = CQuickChartView::settings();
        m_view->GotoBestMap(Hwnd(), s.app_default_lat, s.app_default_lon, CQuickChartView::kDefaultViewScale,
                            [](bool) {});
    });
}

void CDisplayViewQuickChart::closeMap() {
    if (!m_view) return;
    // Items without an index of their own borrow the state of index 0 and must not
    // overwrite it.
    if (Settings().index >= 0) m_view->WriteFile(StateFilePath());
    m_view.reset();
}

void CDisplayViewQuickChart::openMapFile(const std::string& path) {
    CQuickChartView* view = View();
    view->LockOnToGPS(Hwnd(), false);
    view->onOpen(Hwnd(), path, false, [view, path](bool ok) {
        if (!ok) return;
        // A chart opened from outside the map folders joins the catalogue for this run, so
        // the map list shows it and zooming can come back to it.
        if (CChartList* list = view->ChartList()) list->FindFile(path);
        qInfo().noquote() << "Opened chart:" << QString::fromLocal8Bit(path.c_str());
    });
}

void CDisplayViewQuickChart::openNewMap(const std::string& path) {
    CQuickChartView* view = View();
    if (path.empty()) {
        view->RestoreCurrentMapView();
    } else {
        view->onOpen(Hwnd(), path, true, [](bool) {});
    }
}

void CDisplayViewQuickChart::closeAllMaps() {
    for (CDisplayViewQuickChart* item : LiveItems()) {
        if (!item->m_view) continue;
        item->m_closedPath = item->m_view->IsOpen() ? item->m_view->CurrentPath() : std::string();
        if (item->m_view->IsOpen()) item->m_view->GetCurrentMapView();
        item->m_view->Close();
    }
}

void CDisplayViewQuickChart::reopenAllMaps() {
    for (CDisplayViewQuickChart* item : LiveItems()) {
        if (!item->m_view || item->m_view->IsOpen() || item->m_view->IsOpening()) continue;
        const std::string path = std::exchange(item->m_closedPath, std::string());
        if (!path.empty() && FileExists(path)) {
            item->m_view->onOpen(item->Hwnd(), path, false, [](bool) {});
        } else {
            // The chart went away while closed: the best one for the same place.
            item->m_view->RestoreCurrentMapView();
        }
    }
}

bool CDisplayViewQuickChart::ShowAreaOnTheMap(const CBounds& bounds) {
    if (!bounds.IsValid()) return false;
    View()->GotoLocation(bounds);
    return true;
}

void CDisplayViewQuickChart::GetCurrentlyViewedLocation(double& lat, double& lon) {
    lat = lon = kNoLocation;
    if (m_view && !m_view->GetCenterLatLon(lat, lon)) lat = lon = kNoLocation;
}

void CDisplayViewQuickChart::GetAssocAndFindPlace(const NV_HWND& window) {
    CQuickChartView* view = View();
    double lat, lon;
    GetCurrentlyViewedLocation(lat, lon);
    view->GetAssocFile(window, "nvi", [window, lat, lon](bool ok, const std::string& file) {
        ShowPage(window, IMapControllable::FindPlaceRequest(ok ? file : std::string(), lat, lon));
    });
}

void CDisplayViewQuickChart::OnHeartbeat() {
    if (!m_view) return;
    m_view->onTimer();
    if (m_quick) {
        m_quick->onChangedScale();
        m_quick->CheckGpsLock();
        m_quick->CheckLoading();
    }
}

void CDisplayViewQuickChart::addEditMenus(CActionSheetMenu& menu, const NV_HWND& hwnd) {
    menu.add("Map Settings", [hwnd] { CDlg_map_settings::Show(hwnd); });
}

namespace {
CItemSettingsTypeOf<CDisplayViewQuickChart::ItemSettings> g_mapType("Maps:2D Map", CDisplayViewQuickChart::kTypeId, 2,
                                                                    400, 400);
IMapControllable::Registrar g_mapControllable(CDisplayViewQuickChart::kTypeId);
}  // namespace

// ---- the QtQuick item ----

CDVI_QuickChart_Window::CDVI_QuickChart_Window(QQuickItem* parent) : CPaintAdaptor_q(parent) {
    setFlag(ItemIsFocusScope, true);
    setActiveFocusOnTab(true);
    m_scaleBarColor = ToQColor(CQuickChartView::settings().scale_bar_color);
}

CDVI_QuickChart_Window::~CDVI_QuickChart_Window() {
    if (m_mapItem) m_mapItem->WindowGone(this);
}

void CDVI_QuickChart_Window::setMapItem(CDisplayViewQuickChart* item) {
    m_mapItem = item;
    setDisplayItem(item);
    RequestFrame();
}

void CDVI_QuickChart_Window::Detach() {
    if (m_mapItem) m_mapItem->WindowGone(this);
    m_mapItem = nullptr;
    CPaintAdaptor_q::Detach();
}

CQuickChartView* CDVI_QuickChart_Window::view() const {
    return m_mapItem ? m_mapItem->ExistingView() : nullptr;
}

void CDVI_QuickChart_Window::TakeFocus() {
    forceActiveFocus(Qt::MouseFocusReason);
}

bool CDVI_QuickChart_Window::Arranging() const {
    CDisplayView* page = m_mapItem ? m_mapItem->Page() : nullptr;
    return page && page->isArranging();
}

void CDVI_QuickChart_Window::RequestFrame() {
    polish();
    update();
}

void CDVI_QuickChart_Window::Invalidate() {
    RequestFrame();
}

void CDVI_QuickChart_Window::updatePolish() {
    PrepareFrame();
}

void CDVI_QuickChart_Window::PrepareFrame() {
    m_highlightAt.reset();
    if (!m_mapItem) return;
    const double r = Ratio();
    const double w = width() * r, h = height() * r;
    m_mapItem->PrepareFrame(w, h);
    const CGlobalLatLongHighlight& hl = CGlobalLatLongHighlight::Current();
    CQuickChartView* v = view();
    double sx, sy;
    if (v && hl.IsActive() && !m_highlightIcon.isNull() && v->LatLongToScreen(hl.lat, hl.lon, sx, sy) && sx >= 0 &&
        sy >= 0 && sx < w && sy < h) {
        m_highlightAt = QPointF(sx - m_highlightIcon.width() / 2.0, sy - m_highlightIcon.height() / 2.0);
    }
}

void CDVI_QuickChart_Window::paint(QPainter* painter) {
    // The scene graph's thread under the threaded render loop: draw what PrepareFrame made.
    if (!painter || !m_mapItem) return;
    const double r = Ratio();
    painter->save();
    painter->scale(1.0 / r, 1.0 / r);
    m_mapItem->Draw(*painter, width() * r, height() * r);
    if (m_highlightAt) painter->drawImage(*m_highlightAt, m_highlightIcon);
    painter->restore();

    // A threaded scene graph paints while the GUI thread waits; the signal belongs there.
    if (QThread::currentThread() == thread()) {
        CheckGpsLock();
    } else {
        QMetaObject::invokeMethod(this, &CDVI_QuickChart_Window::CheckGpsLock, Qt::QueuedConnection);
    }
}

void CDVI_QuickChart_Window::UpdateScreenRect() {
    CQuickChartView* v = view();
    const double r = Ratio();
    if (v && width() > 0 && height() > 0) v->setScreenRect(0, 0, width() * r, height() * r);
}

void CDVI_QuickChart_Window::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    CPaintAdaptor_q::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        UpdateScreenRect();
        RequestFrame();
    }
}

void CDVI_QuickChart_Window::CheckGpsLock() {
    CQuickChartView* v = view();
    const bool locked = v && v->IsGPSLocked();
    if (locked == m_gpsLockedOn) return;
    m_gpsLockedOn = locked;
    Q_EMIT gpsLockedOnChanged();
}

void CDVI_QuickChart_Window::CheckLoading() {
    CQuickChartView* v = view();
    const bool loading = v && v->IsOpen() && v->isLoading();
    if (loading == m_loading) return;
    m_loading = loading;
    Q_EMIT loadingChanged();
}

void CDVI_QuickChart_Window::setScaleBarWidth(double w) {
    if (w == m_scaleBarWidth) return;
    m_scaleBarWidth = w;
    Q_EMIT scaleBarChanged();
}

void CDVI_QuickChart_Window::setScaleBarText(const QString& text) {
    if (text == m_scaleBarText) return;
    m_scaleBarText = text;
    Q_EMIT scaleBarChanged();
}

void CDVI_QuickChart_Window::onChangedScale() {
    const CQuickChartView::Settings& st = CQuickChartView::settings();
    const QColor colour = ToQColor(st.scale_bar_color);
    if (colour != m_scaleBarColor) {
        m_scaleBarColor = colour;
        Q_EMIT scaleBarChanged();
    }
    CQuickChartView* v = view();
    const double s = (st.show_scale_bar && v) ? v->getDisplayedScale() * Ratio() : 0.0;
    if (st.show_scale_bar && v) {
        const bool differs = (s == 0 || m_lastScale == 0)
                                 ? s != m_lastScale
                                 : (s > m_lastScale * kScaleChangeThreshold || s * kScaleChangeThreshold < m_lastScale);
        if (!differs) return;
        m_lastScale = s;
        if (s > 0) {
            const double maxWidth = std::min(kScaleBarWidthFraction * width(), kScaleBarMaxWidth);
            std::string text;
            const int barWidth = CDefaultUnits::u.format_scale(s * kMetresPerNauticalMile, text, int(maxWidth));
            m_scaleBarWidth = barWidth;
            m_scaleBarText = barWidth > 0 ? QString::fromStdString(text) : QString();
            Q_EMIT scaleBarChanged();
            return;
        }
    }
    // Bar off, or no scale to show: forget the last scale so that it comes back at once.
    m_lastScale = 0;
    if (m_scaleBarWidth != 0) {
        m_scaleBarWidth = 0;
        m_scaleBarText.clear();
        Q_EMIT scaleBarChanged();
    }
}

void CDVI_QuickChart_Window::OnUpdate(CGlobalLatLongHighlight& highlight) {
    if (highlight.lat < -90) {
        m_highlightIcon = QImage();
    } else if (m_highlightIcon.isNull()) {
        m_highlightIcon = MakeHighlightIcon();
    }
    RequestFrame();
}

// ---- input ----

namespace {
// One finger or mouse button presses at a time: a press held this long without moving is
// a long press, which does what a right click does (an object's menu, or the maps here).
constexpr qint64 kLongPressMs = 600;
QElapsedTimer g_pressClock;
bool IsLongPress() {
    return g_pressClock.isValid() && g_pressClock.elapsed() >= kLongPressMs;
}
}  // namespace

bool CDVI_QuickChart_Window::onPressed(int button, double mouse_x, double mouse_y) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return true;
    const double r = Ratio();
    const double x = mouse_x * r, y = mouse_y * r;
    m_pressed = true;
    m_moved = false;
    m_pressPoint = FPoint(x, y);
    g_pressClock.start();
    switch (button) {
        case 1:
            v->onMouseDown(x, y);
            break;
        case 2:
        case 32:
            v->rightMouseDown(x, y);
            break;
        case 4:
            v->centerMouseDown(x, y);
            break;
        default:
            break;
    }
    return true;
}

void CDVI_QuickChart_Window::onMouseDragged(double x, double y) {
    CQuickChartView* v = view();
    if (!v) return;
    const double r = Ratio();
    const FPoint p(x * r, y * r);
    const double dx = p.x - m_pressPoint.x, dy = p.y - m_pressPoint.y;
    if (m_pressed && dx * dx + dy * dy > graphicsClickPrecisionSq) m_moved = true;
    CQuickChartView::IOverlayTool* tool = CQuickChartView::OverlayTool();
    if (v->PressTarget() && tool && tool->isUsingView(v)) {
        // The press landed on the selected object: dragging moves the object, not the map.
        if (m_moved) {
            if (auto* input = dynamic_cast<IMapItemToolInput*>(tool)) {
                const FPoint anchor = input->AnchorPoint();
                input->onDragFromAnchor(p.x - anchor.x, p.y - anchor.y);
            }
        }
        return;
    }
    v->onSingleTouchMove(p.x, p.y);
}

void CDVI_QuickChart_Window::onReleased(int button, double, double) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    v->ClearPressed();
    const bool tap = m_pressed && !m_moved;
    m_pressed = false;
    if (button == 1 && tap) {
        if (IsLongPress())
            v->rightMouseDown(m_pressPoint.x, m_pressPoint.y);
        else
            v->onTap(v->ZoomPoint().x, v->ZoomPoint().y, graphicsClickPrecisionSq);
    }
    v->onMouseUp();
}

void CDVI_QuickChart_Window::onMouseWheel(float delta, double x, double y) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    const double r = Ratio();
    // Half a notch (a fine touchpad step) is no zoom at all.
    v->SmoothZoomAtPoint(int(delta), x * r, y * r);
}

void CDVI_QuickChart_Window::onScrollGesture(QPointF delta, bool inverted) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    const double f = inverted ? Ratio() : -Ratio();
    v->DoScroll(delta.x() * f, delta.y() * f);
}

void CDVI_QuickChart_Window::onSingleTouchDown(double x, double y) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    const double r = Ratio();
    m_pressed = true;
    m_moved = false;
    m_pressPoint = FPoint(x * r, y * r);
    g_pressClock.start();
    v->onSingleTouchDown(x * r, y * r);
}

void CDVI_QuickChart_Window::onSingleTouchMove(double x, double y) {
    CQuickChartView* v = view();
    if (!v) return;
    const double r = Ratio();
    const double dx = x * r - m_pressPoint.x, dy = y * r - m_pressPoint.y;
    if (m_pressed && dx * dx + dy * dy > graphicsTouchPrecisionSq) m_moved = true;
    v->onSingleTouchMove(x * r, y * r);
}

void CDVI_QuickChart_Window::onSingleTouchUp() {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    v->ClearPressed();
    const bool tap = m_pressed && !m_moved && !v->HasMoved();
    m_pressed = false;
    if (tap) {
        if (IsLongPress())
            v->rightMouseDown(m_pressPoint.x, m_pressPoint.y);
        else
            v->onTap(v->ZoomPoint().x, v->ZoomPoint().y, graphicsTouchPrecisionSq);
    }
    v->onMouseUp();
}

void CDVI_QuickChart_Window::onPinchBegin(double x, double y, double dsq) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    const double r = Ratio();
    m_moved = true;  // a pinch is never a tap
    v->onPinchBegin(x * r, y * r, dsq);
}

void CDVI_QuickChart_Window::onPinchMove(double x, double y, double dsq) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    const double r = Ratio();
    v->onPinchMove(x * r, y * r, dsq);
}

void CDVI_QuickChart_Window::onPinchEnd() {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    m_pressed = false;
    v->onPinchEnd();
}

void CDVI_QuickChart_Window::onClickZoom(int delta) {
    if (CQuickChartView* v = view()) v->SmoothZoom(delta);
}

void CDVI_QuickChart_Window::onClickedMaps(QQuickItem* item) {
    if (!view() || !m_mapItem) return;
    CDisplayViewQuickChart* mapItem = m_mapItem;
    QPointer<CDVI_QuickChart_Window> self(this);
    // "Nearest" sorts by the distance from what the map shows.
    std::optional<DblPoint> centre;
    double lat, lon;
    if (view()->GetCenterLatLon(lat, lon)) centre = DblPoint(lon, lat);
    CDlg_map_list::Show(
        item ? item : this,
        [self, mapItem](const std::string& path) {
            // The map item may have gone with its page while the list was open.
            if (self && self->m_mapItem == mapItem) mapItem->openNewMap(path);
        },
        centre);
}

void CDVI_QuickChart_Window::onClickedAddMark() {
    if (CQuickChartView* v = view()) v->CreateNewMark();
}

void CDVI_QuickChart_Window::onClickedLockGPS() {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v) return;
    v->LockOnToGPS(m_mapItem->Hwnd(), true);
    // Announced even when it was locked already: the button shows the press either way.
    m_gpsLockedOn = v->IsGPSLocked();
    Q_EMIT gpsLockedOnChanged();
}

bool CDVI_QuickChart_Window::onKeyPressed(int key) {
    TakeFocus();
    CQuickChartView* v = view();
    if (!v || Arranging()) return false;
    const double step = kKeyScrollStep * Ratio();
    auto* toolInput = dynamic_cast<IMapItemToolInput*>(CQuickChartView::OverlayTool());
    switch (key) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Select:
            if (!DoneButtonIsActive()) return false;
            InvokeDoneButtonCallback();
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            return toolInput && toolInput->OnDeleteKeyPressed();
        case Qt::Key_Insert:
        case Qt::Key_N:
            return toolInput && toolInput->OnInsertKeyPressed();
        case Qt::Key_Home:
        case Qt::Key_G:
            v->LockOnToGPS(m_mapItem->Hwnd(), true);
            CheckGpsLock();
            return true;
        case Qt::Key_Left:
            v->DoScroll(step, 0);
            return true;
        case Qt::Key_Up:
            v->DoScroll(0, step);
            return true;
        case Qt::Key_Right:
            v->DoScroll(-step, 0);
            return true;
        case Qt::Key_Down:
            v->DoScroll(0, -step);
            return true;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
        case Qt::Key_VolumeUp:
            v->SmoothZoom(-1);
            return true;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
        case Qt::Key_VolumeDown:
            v->SmoothZoom(1);
            return true;
        case Qt::Key_I:
            v->ChangeMapScale(-1);
            return true;
        case Qt::Key_O:
            v->ChangeMapScale(1);
            return true;
        default:
            return false;
    }
}

// ---- toolbar buttons ----

namespace {

// A button that acts on the map item under it.
class MapButtonSettings : public CDisplayView::CItemSettings {
public:
    struct Kind {
        const char* label;
        const char* icon;
        std::function<void(CDisplayViewQuickChart& map, CQuickChartView& view, const NV_HWND& hwnd)> act;
    };

    using CItemSettings::CItemSettings;
    CDisplayView::CItem* CreateItem(CDisplayView::IWindow&) override;
    static const Kind* KindOf(int typeId);
};

// The map item covering the button's top-left cell.
CDisplayViewQuickChart* MapUnder(CDisplayView::CItemButton& button) {
    CDisplayView* page = button.Page();
    if (!page) return nullptr;
    const CDisplayView::CItemSettings& s = button.Settings();
    return CDisplayViewQuickChart::FromItem(page->findItemAt({CDisplayViewQuickChart::kTypeId}, s.row, s.col));
}

const std::map<int, MapButtonSettings::Kind>& Kinds() {
    using V = CQuickChartView;
    using Id = MapItemTypeId;
    static const std::map<int, MapButtonSettings::Kind> kinds = {
        {Id::kZoomIn, {"Zoom In", "zoom_in.svg", [](auto&, V& v, auto&) { v.SmoothZoom(-1); }}},
        {Id::kZoomOut, {"Zoom Out", "zoom_out.svg", [](auto&, V& v, auto&) { v.SmoothZoom(1); }}},
        {Id::kSearch,
         {"Search", "find_place.svg", [](CDisplayViewQuickChart& m, V&, auto& h) { m.GetAssocAndFindPlace(h); }}},
        {Id::kAddMark, {"Add Mark", "add_mark.svg", [](auto&, V& v, auto&) { v.CreateNewMark(); }}},
        {Id::kAddRoute, {"Add Route", "add_route.svg", [](auto&, V& v, auto&) { v.CreateNewRoute(); }}},
        {Id::kLockScreen, {"Lock Screen", "lock_brass.svg", nullptr}},
        {Id::kScaleIn, {"Scale In", "scale_in.svg", [](auto&, V& v, auto&) { v.ChangeMapScale(-1); }}},
        {Id::kScaleOut, {"Scale Out", "scale_out.svg", [](auto&, V& v, auto&) { v.ChangeMapScale(1); }}},
        {Id::kQuit, {"Quit", "red_x.svg", nullptr}},
    };
    return kinds;
}

const MapButtonSettings::Kind* MapButtonSettings::KindOf(int typeId) {
    auto it = Kinds().find(typeId);
    return it == Kinds().end() ? nullptr : &it->second;
}

CDisplayView::CItem* MapButtonSettings::CreateItem(CDisplayView::IWindow&) {
    const Kind* kind = KindOf(TypeId());
    auto* button = new CDisplayView::CItemButton(*this);
    if (!kind) return button;
    button->SetLabel(kind->label);
    button->SetIcon(kind->icon, 24);
    const int type = TypeId();
    button->clicked = [type](CDisplayView::CItemButton& b) {
        if (type == MapItemTypeId::kLockScreen) {
            LockScreen();
            return;
        }
        if (type == MapItemTypeId::kQuit) {
            // Not from inside the click handler: the button and its page go away with the loop.
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
            return;
        }
        const Kind* k = KindOf(type);
        CDisplayViewQuickChart* map = MapUnder(b);
        if (!k || !k->act || !map) return;
        if (CQuickChartView* view = map->View()) k->act(*map, *view, map->Hwnd());
    };
    return button;
}

// A button is offered, and shown, only while the feature it starts is there.
class ButtonType : public CItemSettingsTypeOf<MapButtonSettings> {
public:
    using CItemSettingsTypeOf::CItemSettingsTypeOf;
    bool FeatureAvailable() const override {
        switch (typeId) {
            case MapItemTypeId::kSearch:
                return CQuickChartView::CanFindPlaces();
            case MapItemTypeId::kAddMark:
                return CQuickChartView::CanCreateMarks();
            case MapItemTypeId::kAddRoute:
                return CQuickChartView::CanCreateRoutes();
            default:
                return true;
        }
    }
};
ButtonType g_zoomIn("Toolbar: Zoom In", MapItemTypeId::kZoomIn, 7, 70, 50);
ButtonType g_zoomOut("Toolbar: Zoom Out", MapItemTypeId::kZoomOut, 7, 70, 50);
ButtonType g_search("Toolbar: Search", MapItemTypeId::kSearch, 7, 70, 50);
ButtonType g_addMark("Toolbar: Add Mark", MapItemTypeId::kAddMark, 7, 70, 50);
ButtonType g_addRoute("Toolbar: Add Route", MapItemTypeId::kAddRoute, 7, 70, 50);
ButtonType g_lockScreen("Toolbar: Lock Screen", MapItemTypeId::kLockScreen, 7, 70, 50);
ButtonType g_scaleIn("Toolbar:Scale In", MapItemTypeId::kScaleIn, 7, 70, 50);
ButtonType g_scaleOut("Toolbar:Scale Out", MapItemTypeId::kScaleOut, 7, 70, 50);
ButtonType g_quit("Toolbar: Quit", MapItemTypeId::kQuit, 7, 70, 50);

}  // namespace
