// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/chartview.h"

#include <QPainter>
#include <QVariant>

#include <algorithm>
#include <cmath>

#include "core/apppaths.h"
#include "core/display_metrics.h"
#include "core/heartbeat.h"
#include "core/threadcheck.h"
#include "maplib/chartlist.h"
#include "overlays/markmanager.h"
#include "overlays/overlaysource.h"
#include "overlays/track.h"
#include "maplib/chartoutline.h"

const char* const CQuickChartView::kZoomHintText =
    "To view additional maps, tap the Maps button, then \"Kartova Store\".\n\n"
    "Sign-in or Create an Account when prompted.";
const char* const CQuickChartView::kMapsAtCursorTitle = "Maps at cursor";


namespace {

CQuickChartView::IOverlayTool* g_tool = nullptr;

bool ValidLatLon(double lat, double lon) {
    return std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= 90.0;
}

// Scale of a chart pixel carried to zoom level z: doubled for every level out, halved
// for every level in.
double ScaleAtLevel(double scale, int z) {
    return std::ldexp(scale, z);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Settings

CQuickChartView::Settings::Settings() : PersistantData("CQuickChartView") {}

void CQuickChartView::Settings::DeclareData() {
    Declare("full_screen", full_screen);
    Declare("change_scale_by_zooming", change_scale_by_zooming);
    Declare("show_scale_bar", show_scale_bar);
    Declare("scale_bar_color", scale_bar_color);
    Declare("automatic_download", automatic_download);
    Declare("app_name", app_name);
    Declare("app_icon", app_icon);
    Declare("app_website", app_website);
    Declare("dms_hide", dms_hide);
    Declare("timeOfLastZoomHint", timeOfLastZoomHint);
    if (!IsSaving()) {
        Declare("app_default_lat", app_default_lat);
        Declare("app_default_lon", app_default_lon);
    }
}

CQuickChartView::Settings& CQuickChartView::settings() {
    static Settings s;
    return s;
}

namespace {
// Registered before start-up loads the settings.
const CQuickChartView::Settings& g_settings_registration = CQuickChartView::settings();
}  // namespace


void CQuickChartView::SetOverlayTool(IOverlayTool* tool) {
    g_tool = tool;
}
CQuickChartView::IOverlayTool* CQuickChartView::OverlayTool() {
    return g_tool;
}

namespace {
CQuickChartView::ITapCapture* g_tapCapture = nullptr;
}

void CQuickChartView::SetTapCapture(ITapCapture* capture) {
    g_tapCapture = capture;
}

CQuickChartView::ITapCapture* CQuickChartView::TapCapture() {
    return g_tapCapture;
}

// ---------------------------------------------------------------------------------------
// Construction

namespace {
// Every live view, for settings that apply to all of them at once (GUI thread).
std::set<CQuickChartView*>& LiveViews() {
    static std::set<CQuickChartView*> views;
    return views;
}
}  // namespace

void CQuickChartView::AutomaticDownloadChanged() {
    for (CQuickChartView* view : LiveViews()) view->SetAutomaticDownload(settings().automatic_download);
}

CQuickChartView::CQuickChartView(const NV_HWND& window) : CCachedQuickChart(window), m_window(window) {
    LiveViews().insert(this);
    SetAutomaticDownload(settings().automatic_download);
    SetZoomLevel(1);
    m_vp.visible = FRect(-kVisibleMargin, -kVisibleMargin, kVisibleMargin, kVisibleMargin);
    // The objects that exist already (marks, tracks, targets) are mapped from the start.
    IOverlaySource::ReportAll(*this);
}

CQuickChartView::~CQuickChartView() {
    LiveViews().erase(this);
    if (g_tool && g_tool->isUsingView(this)) g_tool->Deselect();
    CCachedQuickChart::Close();
}

CChartList* CQuickChartView::ChartList() const {
    return m_chartList ? m_chartList : p_chart_list;
}

double CQuickChartView::Now() const {
    return m_clock ? m_clock() : CHeartbeat::Timestamp();
}

void CQuickChartView::Repaint() {
    if (m_repaint) m_repaint();
}

const std::string& CQuickChartView::CurrentPath() const {
    static const std::string none;
    if (Chart()) return Chart()->Path();
    return m_opening ? m_openingPath : none;
}

// ---------------------------------------------------------------------------------------
// Mapping

double CQuickChartView::ZoomFactor(int z) {
    if (z >= 0) return z >= 9 ? 0.0 : double(256 >> z) / 256.0;
    return z <= -8 ? 0.0 : double(256 << -z) / 256.0;
}

void CQuickChartView::SetZoomLevel(int z) {
    m_vp.mode = z;
    m_vp.scale = ZoomFactor(z);
}

FPoint CQuickChartView::ScreenCentre() const {
    return FPoint((m_screen.left + m_screen.right) / 2, (m_screen.top + m_screen.bottom) / 2);
}

bool CQuickChartView::OnScreen(const FPoint& p) const {
    return m_screen.HitTest(p);
}

bool CQuickChartView::ScreenTolatlong(double sx, double sy, double& lat, double& lon) const {
    if (!m_proj.valid) return false;
    const DblPoint i = m_vp.ScreenToImage(sx, sy);
    m_proj.xy_to_latlong(i.x, i.y, lat, lon);
    return std::isfinite(lat) && std::isfinite(lon);
}

bool CQuickChartView::LatLongToScreen(double lat, double lon, double& sx, double& sy) const {
    if (!m_proj.valid) return false;
    FPoint p;
    if (!m_proj.latlong_to_xy(lat, lon, p)) return false;
    const FPoint s = m_vp.ImageToScreen(p.x, p.y);
    sx = s.x;
    sy = s.y;
    return true;
}

bool CQuickChartView::GetCenterLatLon(double& lat, double& lon) const {
    if (!IsOpen() && !m_opening) return false;
    const FPoint c = ScreenCentre();
    return ScreenTolatlong(c.x, c.y, lat, lon);
}

bool CQuickChartView::GetCenterAreaOfView(CBounds& bounds) const {
    bounds.SetEmpty();
    const double qw = m_screen.Width() / 4, qh = m_screen.Height() / 4;
    const double xs[2] = {m_screen.left + qw, m_screen.right - qw};
    const double ys[2] = {m_screen.top + qh, m_screen.bottom - qh};
    for (double x : xs) {
        for (double y : ys) {
            double lat, lon;
            if (!ScreenTolatlong(x, y, lat, lon)) return false;
            bounds.Add(lon, lat);
        }
    }
    return true;
}

bool CQuickChartView::GetLatestGPSLatLon(double& lat, double& lon) const {
    lat = m_gpsLat;
    lon = m_gpsLon;
    return m_gpsLat <= 90.0;
}

double CQuickChartView::getDisplayedScale() const {
    if (!IsOpen() || m_opening || m_drawScale <= 0) return 0;
    const FPoint c = ScreenCentre();
    const DblPoint i = m_vp.ScreenToImage(c.x, c.y);
    return ScaleAtLevel(getScaleAt(i.x, i.y), m_vp.mode) / m_drawScale;
}

void CQuickChartView::moved_screen() {
    Repaint();
    FRect v = m_vp.ScreenToImage(m_screen);
    v.left -= kVisibleMargin;
    v.top -= kVisibleMargin;
    v.right += kVisibleMargin;
    v.bottom += kVisibleMargin;
    m_vp.visible = v;
    for (auto& entry : m_mappings) entry.second.move_screen();
}

void CQuickChartView::MapObject(COverlayObject::CMapping& mapping) {
    mapping.clear();
    if (!m_proj.valid || !mapping.object) return;
    mapping.object->Map(mapping, m_proj);
    // Objects may leave the box to us.
    const FRect& b = mapping.bounds;
    if (b.left == COverlayObject::CMapping::kNoBound && b.right == COverlayObject::CMapping::kNoBound)
        mapping.set_bounds();
}

void CQuickChartView::changed_projection() {
    for (auto& entry : m_mappings) MapObject(entry.second);
}

// ---------------------------------------------------------------------------------------
// Screen, panning and zooming

void CQuickChartView::setScreenRect(double x, double y, double w, double h) {
    NV_ASSERT_GUI_THREAD();
    const FRect r(x, y, x + w, y + h);
    if (r.left == m_screen.left && r.top == m_screen.top && r.right == m_screen.right && r.bottom == m_screen.bottom)
        return;
    const FRect old = m_screen;
    const FPoint oldCentre = ScreenCentre();
    m_screen = r;
    const FPoint centre = ScreenCentre();
    if (!m_opening) {
        if (m_gpsLocked && m_gpsLat <= 90.0) {
            auto fraction = [](double p, double lo, double size) {
                const double f = size > 0 ? (p - lo) / size : 0.5;
                return (f > 0 && f < 1) ? f : 0.5;
            };
            const double fx = fraction(m_lockPoint.x, old.left, old.Width());
            const double fy = fraction(m_lockPoint.y, old.top, old.Height());
            m_lockPoint = FPoint(std::round(r.left + fx * r.Width()), std::round(r.top + fy * r.Height()));
            GotoLocation(m_window, false, m_gpsLat, m_gpsLon);
        } else {
            const DblPoint i = m_vp.ScreenToImage(oldCentre.x, oldCentre.y);
            m_vp.AdjustOffset(centre.x, centre.y, i.x, i.y);
            if (!OnScreen(m_lockPoint)) m_lockPoint = centre;
        }
    }
    moved_screen();
}

FPoint CQuickChartView::DoScroll(double dx, double dy) {
    NV_ASSERT_GUI_THREAD();
    // Shorten the delta to whole pixels here, rounding the delta itself, so that moving
    // left and moving right by the same amount always move by the same number of pixels.
    if (m_vp.mode < 1) {
        const double f = m_vp.scale;
        dx = f > 0 ? std::round(dx / f) * f : 0;
        dy = f > 0 ? std::round(dy / f) * f : 0;
    } else {
        dx = std::round(dx);
        dy = std::round(dy);
    }
    // Far beyond any chart there is nothing to see, and the renderer's pixel arithmetic
    // must stay within int: refuse to wander off that far.
    const double limit = kMaxOffset * m_vp.scale;
    if (!std::isfinite(dx) || !std::isfinite(dy) || std::fabs(m_vp.offset_x * m_vp.scale - dx) > limit ||
        std::fabs(m_vp.offset_y * m_vp.scale - dy) > limit) {
        dx = dy = 0;
    }
    m_vp.ApplyDelta(dx, dy);
    if (m_gpsLocked) {
        m_lockPoint.x += dx;
        m_lockPoint.y += dy;
        if (!OnScreen(m_lockPoint)) m_gpsLocked = false;
    }
    moved_screen();
    if (g_tool && g_tool->isUsingView(this) && (dx != 0 || dy != 0)) g_tool->MoveCentre(dx, dy);
    return FPoint(dx, dy);
}

bool CQuickChartView::DoZoom(int step) {
    NV_ASSERT_GUI_THREAD();
    const int z = m_vp.mode + step;
    if (step == 0 || z < kMinZoom || z > m_maxZoom) return false;
    const DblPoint i = m_vp.ScreenToImage(m_zoomPoint.x, m_zoomPoint.y);
    const DblPoint lock = m_vp.ScreenToImage(m_lockPoint.x, m_lockPoint.y);
    SetZoomLevel(z);
    m_vp.AdjustOffset(m_zoomPoint.x, m_zoomPoint.y, i.x, i.y);
    if (m_gpsLocked) {
        m_lockPoint = m_vp.ImageToScreen(lock.x, lock.y);
        if (!OnScreen(m_lockPoint)) m_gpsLocked = false;
    }
    moved_screen();
    return true;
}

bool CQuickChartView::ZoomToLevel(int z, double x, double y) {
    NV_ASSERT_GUI_THREAD();
    m_zoomPoint = FPoint(x, y);
    const int start = m_vp.mode;
    const int step = z < start ? -1 : 1;
    while (m_vp.mode != z && DoZoom(step)) {
    }
    return m_vp.mode != start;
}

void CQuickChartView::onSingleTouchDown(double x, double y) {
    NV_ASSERT_GUI_THREAD();
    if (g_tool) g_tool->UsingView(this);
    m_animating = true;
    m_pressed = true;
    m_moved = false;
    m_lastMoveTime = Now();
    m_fling = FPoint();
    m_flingCarry = FPoint();
    m_moveAccum = FPoint();
    m_zoomPoint = FPoint(x, y);
    m_pressPoint = FPoint(x, y);
}

void CQuickChartView::onSingleTouchMove(double x, double y) {
    NV_ASSERT_GUI_THREAD();
    if (!m_pressed) return;
    const double px = x - m_pressPoint.x, py = y - m_pressPoint.y;
    if (px * px + py * py > graphicsTouchPrecisionSq) m_moved = true;
    const double dx = x - m_zoomPoint.x, dy = y - m_zoomPoint.y;
    m_moveAccum.x += dx;
    m_moveAccum.y += dy;
    const double now = Now();
    const double elapsed = now - m_lastMoveTime;
    if (elapsed >= 0.1) {
        // Velocity over the whole interval since the last sample, not just the last
        // event, so that frequent small events still give the true speed.
        m_fling = FPoint(m_moveAccum.x * 0.1 / elapsed, m_moveAccum.y * 0.1 / elapsed);
        m_moveAccum = FPoint();
        m_lastMoveTime = now;
    }
    const FPoint applied = DoScroll(dx, dy);
    m_zoomPoint.x += applied.x;
    m_zoomPoint.y += applied.y;
}

void CQuickChartView::onTimer() {
    NV_ASSERT_GUI_THREAD();
    if (m_animating && !m_pressed) {
        m_fling.x *= 0.9;
        m_fling.y *= 0.9;
        if (m_drawScale < 1.0) {
            m_drawScale = std::min(1.0, m_drawScale + 0.25);
        } else if (m_drawScale > 1.0) {
            m_drawScale = std::max(1.0, m_drawScale - 0.25);
        }
        if (std::fabs(m_fling.x) < 1.0 && std::fabs(m_fling.y) < 1.0 && m_drawScale == 1.0) m_animating = false;
        const double dx = m_fling.x + m_flingCarry.x, dy = m_fling.y + m_flingCarry.y;
        if (dx != 0 || dy != 0) {
            const FPoint applied = DoScroll(dx, dy);
            m_flingCarry = FPoint(dx - applied.x, dy - applied.y);
        }
        if (!m_animating) {
            m_fling = FPoint();
            m_flingCarry = FPoint();
        }
        Repaint();
    }
    const bool fresh = TimerCallback();
    PrepareFrame();
    if (fresh) Repaint();
}

void CQuickChartView::SmoothZoom(int step) {
    NV_ASSERT_GUI_THREAD();
    FPoint p = ScreenCentre();
    if (m_gpsLocked && OnScreen(m_lockPoint)) {
        p = m_lockPoint;
    } else {
        m_refPoint = p;
    }
    SmoothZoomAtPoint(step, p.x, p.y);
}

void CQuickChartView::OpenOffered(const CChartOutline* outline) {
    GetCurrentMapView();
    onOpen(m_window, outline->path, false, nullptr);
}

void CQuickChartView::SetViewPositionAt(const FPoint& p) {
    m_refPoint = p;
    double lat, lon;
    if (ScreenTolatlong(p.x, p.y, lat, lon)) {
        m_viewLat = lat;
        m_viewLon = lon;
    }
}

void CQuickChartView::SmoothZoomAtPoint(int step, double x, double y) {
    NV_ASSERT_GUI_THREAD();
    m_pressed = false;
    m_animating = true;
    m_zoomPoint = FPoint(x, y);
    m_pinchStart = 0;
    if (step == 0) return;
    const bool in = step < 0;
    const int z = m_vp.mode;
    bool tryLevel = true;  // whether the plain level change of the last rule applies
    if (settings().change_scale_by_zooming) {
        SetViewPositionAt(m_zoomPoint);
        CChartList* list = ChartList();
        const CChartOutline* offered = nullptr;
        const double scale = getQCTScaleAtCenter();
        if (in) {
            if (z >= 0) {
                if (DoZoom(-1)) m_drawScale *= 0.75;
                tryLevel = false;
            } else if (list && IsOpen()) {
                offered = list->ScaleIn(m_viewLat, m_viewLon, scale);
            }
        } else {
            if (z < m_maxZoom - 1) {
                if (DoZoom(1)) m_drawScale *= 1.5;
                tryLevel = false;
            } else if (list && IsOpen()) {
                offered = list->ScaleOut(m_viewLat, m_viewLon, scale);
            }
        }
        if (offered) {
            OpenOffered(offered);
            Repaint();
            return;
        }
        if (tryLevel && list && list->size() == 1 && z == kMinZoom) {
            if (in) {
                ShowZoomHintIfAppropriate();
            } else if (DoZoom(1)) {
                m_drawScale *= 1.5;
            }
            tryLevel = false;
        }
    }
    if (tryLevel) {
        if (in && z >= kMinZoom + 1) {
            if (DoZoom(-1)) m_drawScale *= 0.75;
        } else if (!in && z < m_maxZoom) {
            if (DoZoom(1)) m_drawScale *= 1.5;
        }
    }
    Repaint();
}

bool CQuickChartView::ChangeMapScale(int direction) {
    NV_ASSERT_GUI_THREAD();
    if (direction == 0) return false;
    SetViewPositionAt(ScreenCentre());
    CChartList* list = ChartList();
    if (!list || !IsOpen() || m_viewLat > 90.0) return false;
    const double scale = getQCTScaleAtCenter();
    const CChartOutline* offered =
        direction > 0 ? list->ScaleOut(m_viewLat, m_viewLon, scale) : list->ScaleIn(m_viewLat, m_viewLon, scale);
    if (!offered) return false;
    OpenOffered(offered);
    return true;
}

void CQuickChartView::onPinchBegin(double x, double y, double distance) {
    NV_ASSERT_GUI_THREAD();
    onSingleTouchDown(x, y);
    m_pinchStart = distance >= 1.0 ? int(std::min(distance, 2e9)) : 0;
    m_pinchBaseScale = 1.0;
}

void CQuickChartView::onPinchMove(double x, double y, double distance) {
    NV_ASSERT_GUI_THREAD();
    if (m_pinchStart <= 0) {
        onPinchBegin(x, y, distance);
        return;
    }
    onSingleTouchMove(x, y);
    if (!(distance >= 0)) distance = 0;
    m_drawScale = m_pinchBaseScale * std::sqrt(distance / m_pinchStart);
    while (m_drawScale > 1.75 && m_vp.mode >= kMinZoom + 1) {
        m_drawScale /= 2;
        m_pinchBaseScale /= 2;
        DoZoom(-1);
    }
    Repaint();
}

void CQuickChartView::onPinchEnd() {
    NV_ASSERT_GUI_THREAD();
    m_pressed = false;
    m_pinchStart = 0;
    if (settings().change_scale_by_zooming) {
        SetViewPositionAt(m_zoomPoint);
        CChartList* list = ChartList();
        const int z = m_vp.mode;
        const CChartOutline* offered = nullptr;
        if (list && IsOpen() && m_viewLat <= 90.0) {
            const double scale = getQCTScaleAtCenter();
            if (m_drawScale < 0.7 && z >= m_maxZoom - 1) {
                offered = list->ScaleOut(m_viewLat, m_viewLon, scale);
            } else if (m_drawScale > 1.75 && z < 0) {
                offered = list->ScaleIn(m_viewLat, m_viewLon, scale);
            }
        }
        if (offered) {
            OpenOffered(offered);
        } else if (list && list->size() == 1 && z == kMinZoom && m_drawScale > 1.75) {
            ShowZoomHintIfAppropriate();
        }
    }
    if (m_drawScale > 1.0) {
        while (m_drawScale > 1.01 && m_vp.mode >= kMinZoom + 1) {
            m_drawScale /= 2;
            DoZoom(-1);
        }
        m_drawScale = std::min(m_drawScale, 2.0);
    } else if (m_drawScale < 0.99) {
        while (m_drawScale < 0.99 && m_vp.mode < m_maxZoom) {
            m_drawScale *= 2;
            DoZoom(1);
        }
        m_drawScale = std::max(m_drawScale, 0.5);
    }
    Repaint();
}

bool CQuickChartView::ShowZoomHintIfAppropriate() {
    NV_ASSERT_GUI_THREAD();
    Settings& s = settings();
    const double now = Now();
    if (now - s.timeOfLastZoomHint < kZoomHintInterval && now >= s.timeOfLastZoomHint) return false;
    s.timeOfLastZoomHint = now;
    s.SetChanged();
    PersistantData::SaveAll();
    MessageBoxHint(m_window, kZoomHintText);
    return true;
}

// ---------------------------------------------------------------------------------------
// Recording and restoring the view

void CQuickChartView::GetCurrentMapView() {
    NV_ASSERT_GUI_THREAD();
    if (!IsOpen() && !m_opening) return;
    if (!m_proj.valid) return;
    const FPoint ref = OnScreen(m_refPoint) ? m_refPoint : ScreenCentre();
    const DblPoint i = m_vp.ScreenToImage(ref.x, ref.y);
    double lat, lon;
    m_proj.xy_to_latlong(i.x, i.y, lat, lon);
    if (!ValidLatLon(lat, lon)) return;
    m_viewLat = lat;
    m_viewLon = lon;
    m_viewScale = ScaleAtLevel(m_proj.get_scale(i.x, i.y), m_vp.mode);
}

void CQuickChartView::SetCurrentMapView() {
    NV_ASSERT_GUI_THREAD();
    if (!m_proj.valid) return;
    if (!OnScreen(m_refPoint)) m_refPoint = ScreenCentre();
    FPoint px;
    const bool usable = m_viewLat < 90.0 && ValidLatLon(m_viewLat, m_viewLon) &&
                        m_proj.latlong_to_xy(m_viewLat, m_viewLon, px) && px.x >= 0 && px.y >= 0 &&
                        px.x < m_proj.width && px.y < m_proj.height;
    if (usable) {
        int z = 0;
        if (m_viewScale != 0) {
            m_fling = FPoint();
            m_flingCarry = FPoint();
            double r = m_proj.get_scale(px.x, px.y) / m_viewScale;
            if (!(r > 0) || !std::isfinite(r)) r = 1.0;
            if (r > 1.5) {
                z = (r / 2 <= 1.5) ? -1 : -2;
            } else if (r < 0.75) {
                while (r < 0.75 && z < m_maxZoom) {
                    ++z;
                    r *= 2;
                }
            }
        }
        SetZoomLevel(z);
        m_vp.AdjustOffset(m_refPoint.x, m_refPoint.y, px.x, px.y);
    } else {
        SetZoomLevel(m_maxZoom - 1);
        m_refPoint = ScreenCentre();
        m_vp.AdjustOffset(m_refPoint.x, m_refPoint.y, m_proj.width / 2, m_proj.height / 2);
    }
    moved_screen();
}

void CQuickChartView::RestoreCurrentMapView() {
    NV_ASSERT_GUI_THREAD();
    if (Chart() || m_viewLat > 90.0) return;
    GotoBestMap(m_window, m_viewLat, m_viewLon, m_viewScale, nullptr);
}

// ---------------------------------------------------------------------------------------
// Opening and closing

void CQuickChartView::onOpen(const NV_HWND& window, const std::string& path, bool keepView,
                             std::function<void(bool)> done) {
    NV_ASSERT_GUI_THREAD();
    const NV_HWND w = window.IsEmpty() ? m_window : window;
    if (Chart() && Chart()->Path() == path) {
        SetCurrentMapView();
        Repaint();
        if (done) done(true);
        return;
    }
    if (keepView) GetCurrentMapView();
    CCachedQuickChart::Close();
    m_opening = true;
    m_openingPath = path;
    m_drawScale = 1.0;
    m_animating = false;
    SetAutomaticDownload(settings().automatic_download);
    // The renderer drops the callback when the view is destroyed or opens something else
    // first, so `this` is alive whenever it runs.
    Open(w, path.c_str(), [this, done](bool ok) { open_qct_callback(ok, done); });
}

void CQuickChartView::open_qct_callback(bool ok, const std::function<void(bool)>& done) {
    CQuickChart* chart = Chart();
    if (ok && chart && chart->IsOpen()) {
        m_opening = false;
        m_proj = chart->GetProjection();
        changed_projection();
        m_maxZoom = (chart->Flags() & kFlagReducedZoom) ? 2 : 3;
        if (m_vp.mode > m_maxZoom) SetZoomLevel(m_maxZoom);
        SetCurrentMapView();
        Repaint();
        m_lastGoodPath = chart->Path();
        if (m_gpsLocked && m_gpsLat <= 90.0 && !CurrentChartDoesContain(m_gpsLat, m_gpsLon)) m_gpsLocked = false;
        if (done) done(true);
        return;
    }
    m_opening = false;
    const std::string failed = m_openingPath;
    // The reader has told the user why. The file stays where the user put it; the
    // catalogue just stops offering it, so the map does not keep stumbling over it.
    CChartList* list = ChartList();
    if (list) list->MarkUnreadable(failed);
    if (!failed.empty()) SetStatusMessage("Cannot open the map \"" + FileNameOf(failed) + "\"");
    if (!m_lastGoodPath.empty() && failed != m_lastGoodPath && FileExists(m_lastGoodPath)) {
        // The view recorded before the switch is restored on the chart we came from.
        onOpen(m_window, m_lastGoodPath, false, nullptr);
    } else if (list && m_viewLat <= 90.0) {
        // Nothing to go back to: the best readable chart for the stored view, if any.
        if (const CChartOutline* other = list->FindBestChart(m_viewLat, m_viewLon, m_viewScale))
            if (other->path != failed) onOpen(m_window, other->path, false, nullptr);
    }
    if (done) done(false);
}

void CQuickChartView::Close() {
    NV_ASSERT_GUI_THREAD();
    CCachedQuickChart::Close();
    m_opening = false;
    Repaint();
}

void CQuickChartView::CloseAndReOpenCurrentMap() {
    NV_ASSERT_GUI_THREAD();
    const std::string path = CurrentPath();
    if (path.empty()) return;
    GetCurrentMapView();
    CCachedQuickChart::Close();
    onOpen(m_window, path, false, nullptr);
}

void CQuickChartView::GetAssocFile(const NV_HWND& window, const std::string& type,
                                   std::function<void(bool, const std::string&)> done) {
    NV_ASSERT_GUI_THREAD();
    const std::string path = CurrentPath();
    if (path.empty()) {
        if (done) done(false, std::string());
        return;
    }
    if (CChartList* list = ChartList()) {
        list->getAssocFile(window.IsEmpty() ? m_window : window, type, path, std::move(done));
    } else if (done) {
        done(false, std::string());
    }
}

// ---------------------------------------------------------------------------------------
// Going to places

void CQuickChartView::GotoBestMap(const NV_HWND& window, double lat, double lon, double scale,
                                  std::function<void(bool)> done) {
    NV_ASSERT_GUI_THREAD();
    if (!std::isfinite(lat) || !std::isfinite(lon) || std::fabs(lat) > 90.0 || std::fabs(lon) > 400.0 ||
        (lat == 0 && lon == 0)) {
        if (done) done(false);
        return;
    }
    m_viewLat = lat;
    m_viewLon = lon;
    m_viewScale = std::isfinite(scale) && scale > 0 ? scale : 0;
    const NV_HWND w = window.IsEmpty() ? m_window : window;
    CChartList* list = ChartList();
    const CChartOutline* best = list ? list->FindBestChart(lat, lon, m_viewScale, false) : nullptr;
    if (best && !best->path.empty()) {
        onOpen(w, best->path, false, std::move(done));
    } else if (done) {
        done(false);
    }
}

void CQuickChartView::GotoLocation(const NV_HWND& window, bool centre, double lat, double lon) {
    NV_ASSERT_GUI_THREAD();
    if (m_opening || !(lat <= 90.0) || !ValidLatLon(lat, lon)) return;
    FPoint px;
    if (IsOpen() && CurrentChartDoesContain(lat, lon) && m_proj.valid && m_proj.latlong_to_xy(lat, lon, px)) {
        if (centre) {
            m_gpsLocked = false;
            m_refPoint = m_zoomPoint = ScreenCentre();
            SetZoomLevel(0);
            m_vp.AdjustOffset(m_refPoint.x, m_refPoint.y, px.x, px.y);
        } else {
            if (!OnScreen(m_lockPoint)) m_lockPoint = ScreenCentre();
            m_vp.AdjustOffset(m_lockPoint.x, m_lockPoint.y, px.x, px.y);
        }
        moved_screen();
        return;
    }
    GetCurrentMapView();
    if (m_gpsLocked && OnScreen(m_lockPoint)) m_refPoint = m_lockPoint;
    GotoBestMap(window, lat, lon, m_viewScale, nullptr);
}

double CQuickChartView::FitScale(const CBounds& bounds, double w, double h) {
    if (!bounds.IsValid()) return 0;
    const CSimpleGrid grid((bounds.ymin + bounds.ymax) / 2, (bounds.xmin + bounds.xmax) / 2);
    // Latitude spans the screen's height and longitude its width.
    double metresPerPixel = 0;
    if (h > 0) metresPerPixel = std::max(metresPerPixel, bounds.Height() * grid.MetresPerDegreeLat() / h);
    if (w > 0) metresPerPixel = std::max(metresPerPixel, bounds.Width() * grid.MetresPerDegreeLon() / w);
    return metresPerPixel * (1.5 / 1852.0);
}

void CQuickChartView::GotoLocation(const CBounds& bounds) {
    NV_ASSERT_GUI_THREAD();
    if (!bounds.IsValid()) return;
    double w = m_screen.Width(), h = m_screen.Height();
    if (QObject* item = m_window.item.data()) {
        const QVariant iw = item->property("width"), ih = item->property("height");
        const QVariant ratio = item->property("devicePixelRatio");
        const double r = ratio.isValid() && ratio.toDouble() > 0 ? ratio.toDouble() : 1.0;
        if (iw.isValid() && ih.isValid() && iw.toDouble() > 0 && ih.toDouble() > 0) {
            w = std::trunc(iw.toDouble() * r);
            h = std::trunc(ih.toDouble() * r);
        }
    }
    setScreenRect(0, 0, std::trunc(w), std::trunc(h));
    m_refPoint = ScreenCentre();
    m_gpsLocked = false;
    GotoBestMap(m_window, (bounds.ymin + bounds.ymax) / 2, (bounds.xmin + bounds.xmax) / 2,
                FitScale(bounds, m_screen.Width(), m_screen.Height()), nullptr);
}

// ---------------------------------------------------------------------------------------
// GPS

void CQuickChartView::LockOnToGPS(const NV_HWND& window, bool lock) {
    NV_ASSERT_GUI_THREAD();
    m_gpsLocked = lock;
    if (!lock) return;
    m_fling = FPoint();
    m_flingCarry = FPoint();
    m_refPoint = m_lockPoint = ScreenCentre();
    if (m_gpsLat <= 90.0) GotoLocation(window, false, m_gpsLat, m_gpsLon);
}

void CQuickChartView::OnUpdate(CDataGPSPosition& position) {
    NV_ASSERT_GUI_THREAD();
    m_gpsLat = position.lat;
    m_gpsLon = position.lon;
    if (!ValidLatLon(position.lat, position.lon)) return;
    if (!Chart() && !m_opening) {
        double lat = position.lat, lon = position.lon;
        if (std::fabs(lat) + std::fabs(lon) < 0.001) {
            lat = settings().app_default_lat;
            lon = settings().app_default_lon;
        }
        m_viewLat = lat;
        m_viewLon = lon;
        m_viewScale = 0;
        CChartList* list = ChartList();
        const CChartOutline* best = nullptr;
        if (list && lon <= 360.0) best = list->FindBestChart(lat, lon, 0, false);
        if (!best && list) {
            const double dlat = settings().app_default_lat, dlon = settings().app_default_lon;
            best = list->FindBestChart(dlat, dlon, kDefaultViewScale, false);
            if (best) {
                m_gpsLocked = false;
                m_viewLat = dlat;
                m_viewLon = dlon;
                m_viewScale = kDefaultViewScale;
            }
        }
        if (best && !best->path.empty()) onOpen(m_window, best->path, false, nullptr);
        return;
    }
    if (IsOpen() && m_gpsLocked) GotoLocation(m_window, false, position.lat, position.lon);
}

bool CQuickChartView::CanCreateMarks() {
    return g_mark_manager != nullptr;
}

bool CQuickChartView::CanCreateRoutes() {
    return g_mark_manager != nullptr && CMarkManager::Ui() != nullptr;
}

void CQuickChartView::CreateNewMark() {
    NV_ASSERT_GUI_THREAD();
    if (!g_mark_manager) return;
    // At the boat while following it, else at the centre of the map.
    const bool atGps = m_gpsLocked && m_lockPoint == m_refPoint;
    if (atGps) {
        if (m_gpsLat < 90.0) g_mark_manager->CreateNewMark(this, m_gpsLat, m_gpsLon);
        return;
    }
    double lat, lon;
    if (GetCenterLatLon(lat, lon) && lat < 90.0) g_mark_manager->CreateNewMark(this, lat, lon);
}

void CQuickChartView::CreateNewRoute() {
    NV_ASSERT_GUI_THREAD();
    if (CanCreateRoutes()) g_mark_manager->CreateNewRoute(m_window);
}

// ---------------------------------------------------------------------------------------
// Overlays

const COverlayObject::CMapping* CQuickChartView::MappingOf(const COverlayObject* object) const {
    if (!object) return nullptr;
    auto it = m_mappings.find(object->OrderKey());
    return it != m_mappings.end() && it->second.object == object ? &it->second : nullptr;
}

void CQuickChartView::OnUpdate(COverlayObject& object) {
    NV_ASSERT_GUI_THREAD();
    const uint32_t key = object.OrderKey();
    if (object.UpdateState() == COverlayObject::UPDATE_DESTROYED) {
        auto it = m_mappings.find(key);
        if (it != m_mappings.end() && it->second.object == &object) m_mappings.erase(it);
        if (m_pressTarget == &object) m_pressTarget = nullptr;
        Repaint();
        return;
    }
    if (!object.isVisible()) {
        m_mappings.erase(key);
        if (m_pressTarget == &object) m_pressTarget = nullptr;
        Repaint();
        return;
    }
    auto it = m_mappings.find(key);
    if (it == m_mappings.end()) it = m_mappings.emplace(key, COverlayObject::CMapping(&object)).first;
    it->second.object = &object;
    MapObject(it->second);
    Repaint();
}

bool CQuickChartView::IsHit(COverlayObject::CMapping& mapping, double x, double y, double r2) {
    return mapping.Overlaps(m_vp.visible) && mapping.map_to_screen(m_vp) && mapping.HitTest_mapped(x, y, r2);
}

COverlayObject::CMapping* CQuickChartView::SelectedMapping() {
    if (!g_tool) return nullptr;
    const COverlayObject* selected = g_tool->GetSelectedObject();
    if (!selected) return nullptr;
    auto it = m_mappings.find(selected->OrderKey());
    return it != m_mappings.end() && it->second.object == selected ? &it->second : nullptr;
}

void CQuickChartView::onMouseDown(double x, double y) {
    NV_ASSERT_GUI_THREAD();
    m_zoomPoint = m_pressPoint = FPoint(x, y);
    m_pressed = true;
    m_pressTarget = nullptr;
    if (g_tool) g_tool->UsingView(this);
    const DblPoint image = m_vp.ScreenToImage(x, y);
    if (COverlayObject::CMapping* sel = SelectedMapping()) {
        if (IsHit(*sel, x, y, graphicsClickPrecisionSq)) {
            m_pressTarget = sel->object;
            return;
        }
    }
    for (auto it = m_mappings.rbegin(); it != m_mappings.rend(); ++it) {
        COverlayObject::CMapping& m = it->second;
        if (IsHit(m, x, y, graphicsClickPrecisionSq) && m.object->onMouseDown(this, FPoint(x, y), image)) {
            m_pressTarget = m.object;
            return;
        }
    }
    onSingleTouchDown(x, y);
}

void CQuickChartView::onMouseUp() {
    NV_ASSERT_GUI_THREAD();
    m_pressed = false;
    COverlayObject* target = m_pressTarget;
    m_pressTarget = nullptr;
    if (target) target->onMouseUp(this);
}

void CQuickChartView::centerMouseDown(double x, double y) {
    NV_ASSERT_GUI_THREAD();
    // The middle button drags the chart, whatever lies under it.
    onSingleTouchDown(x, y);
}

bool CQuickChartView::onTap(double x, double y, double radius2) {
    NV_ASSERT_GUI_THREAD();
    if (!IsOpen() && !m_opening) return false;
    if (g_tapCapture) {
        double lat, lon;
        if (ScreenTolatlong(x, y, lat, lon) && g_tapCapture->MapTapped(*this, lat, lon)) return true;
    }
    const FPoint screen(x, y);
    const DblPoint image = m_vp.ScreenToImage(x, y);
    // Each object is asked at most once, in this order: with a selected object under
    // the finger, those below it and then from the top down to it (so that repeated taps
    // walk down the stack and wrap round); otherwise the press target, then from the top.
    // A handler may add or remove objects, so the walk goes by key, not by iterator.
    auto tryKey = [&](uint32_t key) {
        auto it = m_mappings.find(key);
        if (it == m_mappings.end()) return false;
        COverlayObject::CMapping& m = it->second;
        return IsHit(m, x, y, radius2) && m.object->onTap(this, screen, image);
    };
    // Keys strictly below `upper` from the top down, stopping before `lower` (exclusive)
    // when `bounded` is set, and passing over `skip`.
    auto walkDown = [&](uint64_t upper, bool bounded, uint32_t lower, uint32_t skip, bool hasSkip) {
        for (;;) {
            auto it = m_mappings.lower_bound(uint32_t(std::min<uint64_t>(upper, 0xFFFFFFFFull)));
            if (upper > 0xFFFFFFFFull) it = m_mappings.end();
            if (it == m_mappings.begin()) return false;
            --it;
            const uint32_t key = it->first;
            if (bounded && key <= lower) return false;
            upper = key;
            if (hasSkip && key == skip) continue;
            if (tryKey(key)) return true;
        }
    };
    const uint64_t top = 0x100000000ull;
    COverlayObject::CMapping* sel = SelectedMapping();
    if (sel && IsHit(*sel, x, y, radius2)) {
        const uint32_t selKey = sel->object->OrderKey();
        if (walkDown(selKey, false, 0, 0, false)) return true;
        if (walkDown(top, true, selKey, 0, false)) return true;
        if (tryKey(selKey)) return true;
    } else if (m_pressTarget) {
        const uint32_t pressKey = m_pressTarget->OrderKey();
        if (tryKey(pressKey)) return true;
        if (walkDown(top, false, 0, pressKey, true)) return true;
    } else if (walkDown(top, false, 0, 0, false)) {
        return true;
    }
    if (g_tool) g_tool->Deselect();
    double lat, lon;
    if (!IsOpen() || !ScreenTolatlong(x, y, lat, lon) || CurrentChartDoesContain(lat, lon)) return false;
    CChartList* list = ChartList();
    const CChartOutline* best = list ? list->FindBestChart(lat, lon, getQCTScaleAtCenter(), false) : nullptr;
    if (!best || best->path.empty() || best->path == CurrentPath()) return false;
    onOpen(m_window, best->path, true, nullptr);
    return true;
}

void CQuickChartView::rightMouseDown(double x, double y) {
    NV_ASSERT_GUI_THREAD();
    if (g_tool) g_tool->UsingView(this);
    const DblPoint image = m_vp.ScreenToImage(x, y);
    for (auto it = m_mappings.rbegin(); it != m_mappings.rend(); ++it) {
        COverlayObject::CMapping& m = it->second;
        if (!IsHit(m, x, y, graphicsClickPrecisionSq)) continue;
        if (m.object->onRightClick(this, FPoint(x, y), image)) return;
        // The user's own marks, routes and tracks have a menu (go to, edit, delete, ...).
        if ((g_mark_manager && g_mark_manager->Owns(m.object)) || dynamic_cast<CTrackSection*>(m.object)) {
            m.object->onMenuDown(NV_HWND(m_window.item.data(), QPointF(x, y)));
            return;
        }
    }
    double lat, lon;
    if (ScreenTolatlong(x, y, lat, lon)) ShowMapsAtCursor(lat, lon);
}

void CQuickChartView::ShowMapsAtCursor(double lat, double lon) {
    CChartList* list = ChartList();
    if (!list) return;
    std::vector<const CChartOutline*> charts;
    list->ChartsAt(lat, lon, charts);
    if (charts.empty()) return;
    std::vector<std::string> paths, items;
    for (const CChartOutline* c : charts) {
        paths.push_back(c->path);
        // A name and its scale as printed on paper charts (a printed pixel taken as
        // 0.254 mm), enough to tell a detailed chart from an overview.
        std::string text = c->name;
        const double ratio = c->scale * 1852.0 / 0.000254;
        if (ratio >= 1 && ratio < 1e12) {
            std::string digits = std::to_string(static_cast<long long>(ratio + 0.5));
            for (int i = int(digits.size()) - 3; i > 0; i -= 3) digits.insert(size_t(i), ",");
            text += " (1:" + digits + ")";
        }
        items.push_back(text);
    }
    // The view may be gone by the time the user picks.
    ChooseFromList(m_window, kMapsAtCursorTitle, items, [alive = std::weak_ptr<int>(m_lifetime), this, paths](int index) {
        if (alive.expired() || index < 0 || size_t(index) >= paths.size()) return;
        onOpen(m_window, paths[size_t(index)], true, nullptr);
    });
}

// ---------------------------------------------------------------------------------------
// Drawing

void CQuickChartView::PrepareFrame() {
    NV_ASSERT_GUI_THREAD();
    FrameState f;
    if (IsOpen() && !m_opening) {
        FRect rect = m_screen;
        const double ds = m_drawScale;
        f.drawScale = ds != 1.0 && ds > 0 && std::isfinite(ds) ? ds : 1.0;
        f.zoomPoint = m_zoomPoint;
        if (f.drawScale != 1.0) {
            // The area that the scaled picture must cover, on whole pixels so that the
            // chart's squares still start on whole zoomed pixels.
            const FPoint& z = m_zoomPoint;
            rect = FRect(std::floor(z.x + (rect.left - z.x) / ds), std::floor(z.y + (rect.top - z.y) / ds),
                         std::ceil(z.x + (rect.right - z.x) / ds), std::ceil(z.y + (rect.bottom - z.y) / ds));
        }
        const DblPoint origin = m_vp.ScreenToImage(rect.left, rect.top);
        f.prepared = true;
        f.rect = rect;
        f.origin = FPoint(origin.x, origin.y);
        f.zoom = m_vp.mode;
        Update(f.rect, f.origin, f.zoom);
        f.complete = LastFrameComplete();
        for (auto& entry : m_mappings) {
            if (f.overlays.size() >= size_t(kMaxOverlaysPerFrame)) break;
            COverlayObject::CMapping& m = entry.second;
            if (m.map_to_screen(m_vp)) f.overlays.emplace_back(entry.first, m.object);
        }
        if (g_tool && g_tool->isUsingView(this) && g_tool->GetSelectedObject()) {
            if (SelectedMapping()) {
                f.toolDecorations = true;
            } else {
                g_tool->Deselect();
            }
        }
    } else {
        Update(FRect(), FPoint(), 0);  // lets go of the frame of a chart that closed
    }
    std::lock_guard<std::mutex> lock(m_frameMutex);
    m_frame = std::move(f);
}

bool CQuickChartView::onDraw(QPainter* painter, double x, double y, double w, double h) {
    if (!painter || !(w > 0) || !(h > 0) || w > 65536 || h > 65536) return false;
    std::lock_guard<std::mutex> lock(m_frameMutex);
    const FrameState& f = m_frame;
    if (!f.prepared) {
        painter->fillRect(QRectF(x, y, w, h), Qt::white);
        return false;
    }
    painter->save();
    if (f.drawScale != 1.0) {
        painter->translate(f.zoomPoint.x, f.zoomPoint.y);
        painter->scale(f.drawScale, f.drawScale);
        painter->translate(-f.zoomPoint.x, -f.zoomPoint.y);
    }
    bool flag = false;
    Draw(painter, f.rect, f.origin, f.zoom, flag);
    for (const auto& [key, object] : f.overlays) {
        auto it = m_mappings.find(key);
        if (it != m_mappings.end() && it->second.object == object) object->Draw(painter, it->second);
    }
    if (f.toolDecorations && g_tool) {
        if (COverlayObject::CMapping* sel = SelectedMapping()) g_tool->onDraw(painter, *sel);
    }
    painter->restore();
    return f.complete;
}

// ---------------------------------------------------------------------------------------
// Stored state

bool CQuickChartView::Serialize(IOStream& s) {
    NV_ASSERT_GUI_THREAD();
    if (s.IsWriting()) GetCurrentMapView();
    std::string path = s.IsWriting() ? CurrentPath() : std::string();
    if (s.IsWriting() && path.empty()) path = m_lastGoodPath;
    double lat = m_viewLat, lon = m_viewLon, scale = m_viewScale;
    bool locked = m_gpsLocked;
    double lockX = m_lockPoint.x, lockY = m_lockPoint.y;
    double right = m_screen.right, bottom = m_screen.bottom;
    bool ok;
    {
        Section sec(s);
        ok = sec.declaremagic(int(kStateMagic));
        ok = ok && sec.declarefilename(path);
        ok = ok && sec.declare_value(lat);
        ok = ok && sec.declare_value(lon);
        ok = ok && sec.declare_value(scale);
        ok = ok && sec.declare_value(locked);
        ok = ok && sec.declare_value(lockX);
        ok = ok && sec.declare_value(lockY);
        ok = ok && sec.declare(m_secondFile);
        ok = ok && sec.declare_value(right);
        ok = ok && sec.declare_value(bottom);
    }
    if (!s.IsReading() || !ok) return ok;

    // Stored numbers are not trusted: anything impossible leaves the default.
    if (std::isfinite(lat) && std::isfinite(lon) && std::fabs(lat) <= kNoPosition && std::fabs(lon) <= kNoPosition) {
        m_viewLat = lat;
        m_viewLon = lon;
    }
    m_viewScale = std::isfinite(scale) && scale > 0 && scale < 1e6 ? scale : 0;
    m_gpsLocked = locked;
    if (std::isfinite(lockX) && std::isfinite(lockY)) m_lockPoint = FPoint(lockX, lockY);
    if (std::isfinite(right) && std::isfinite(bottom) && right > 0 && bottom > 0 && right < 1e5 && bottom < 1e5)
        setScreenRect(0, 0, right, bottom);
    m_refPoint = ScreenCentre();
    if (!path.empty() && FileExists(path)) {
        onOpen(m_window, path, false, nullptr);
    } else if (m_viewLat < 90.0) {
        CChartList* list = ChartList();
        const CChartOutline* best = list ? list->FindBestChart(m_viewLat, m_viewLon, m_viewScale, false) : nullptr;
        if (best && !best->path.empty()) onOpen(m_window, best->path, false, nullptr);
    }
    return true;
}
