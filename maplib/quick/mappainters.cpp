// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/quick/mappainters.h"

#include "overlays/overlaysource.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "core/apppaths.h"
#include "core/display_metrics.h"
#include "maplib/chartlist.h"
#include "maplib/chartview.h"

namespace {

double Ratio() {
    return graphicsResolution > 0 ? graphicsResolution : 1.0;
}

// The offset snapped down to a multiple of the factor.
double Snap(double v, double factor) {
    if (!(factor > 0) || !std::isfinite(v)) return 0;
    return std::floor(v / factor) * factor;
}

// Chart pixels beyond which an offset is nonsense (a broken projection or state file).
constexpr double kMaxOffset = 1e8;

double ClampOffset(double v) {
    if (!std::isfinite(v)) return 0;
    return std::clamp(v, -kMaxOffset, kMaxOffset);
}

int LevelOf(double factor) {
    return int(std::lround(std::log2(factor)));
}

}  // namespace

// ---- MapImagePainter ----

MapImagePainter::MapImagePainter(QQuickItem* parent) : QQuickPaintedItem(parent) {
    m_timer.setTimerType(Qt::CoarseTimer);
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { onTimer(); });
}

MapImagePainter::~MapImagePainter() {
    m_timer.stop();
    m_chart.Close();
}

void MapImagePainter::setZoomFactor() {
    m_factor = std::ldexp(1.0, m_level);
}

FPoint MapImagePainter::DrawOrigin() const {
    return FPoint(Snap(m_offset.x(), m_factor), Snap(m_offset.y(), m_factor));
}

void MapImagePainter::Refresh() {
    polish();
    update();
}

void MapImagePainter::updatePolish() {
    PrepareFrame();
}

void MapImagePainter::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    Refresh();
}

void MapImagePainter::PrepareFrame() {
    m_chart.Update(FRect(0, 0, width(), height()), DrawOrigin(), m_level);
}

void MapImagePainter::paint(QPainter* painter) {
    if (!painter || !m_chart.IsOpen()) return;
    const FRect rect(0, 0, width(), height());
    bool flag = false;
    m_chart.Draw(painter, rect, DrawOrigin(), m_level, flag);
}

void MapImagePainter::openMap(const std::string& path, std::function<void(bool)> done) {
    m_chart.Close();
    std::weak_ptr<bool> alive = m_alive;
    m_chart.Open(NV_HWND(this), path.c_str(), [this, alive, done = std::move(done)](bool ok) {
        if (alive.expired()) return;
        if (ok) m_timer.start();
        Refresh();
        Q_EMIT openChanged();
        Q_EMIT opened(ok);
        if (done) done(ok);
    });
}

void MapImagePainter::openMap(const QString& path) {
    openMap(path.toStdString(), nullptr);
}

void MapImagePainter::closeMap() {
    m_timer.stop();
    m_chart.Close();
    Refresh();
    Q_EMIT openChanged();
}

void MapImagePainter::setOffset(const QPointF& offset) {
    const QPointF o(ClampOffset(offset.x()), ClampOffset(offset.y()));
    if (o == m_offset) return;
    m_offset = o;
    Refresh();
    Q_EMIT viewChanged();
}

void MapImagePainter::setZoomLevel(int level) {
    level = std::clamp(level, kMinLevel, kMaxLevel);
    if (level == m_level) return;
    m_level = level;
    setZoomFactor();
    Refresh();
    Q_EMIT viewChanged();
}

void MapImagePainter::onTimer() {
    const bool fresh = m_chart.TimerCallback();
    PrepareFrame();
    if (fresh) update();
}

// ---- MapImagePainter2 ----

MapImagePainter2::MapImagePainter2(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setOpaquePainting(true);
    setFillColor(m_fill);
    m_timer.setTimerType(Qt::CoarseTimer);
    m_timer.setInterval(kTimerMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { onTimer(); });
}

MapImagePainter2::~MapImagePainter2() {
    m_timer.stop();
    m_chart.Close();
}

void MapImagePainter2::setOpaquePainting(bool on) {
    m_opaque = on;
    QQuickPaintedItem::setOpaquePainting(on);
    Refresh();
}

void MapImagePainter2::setFillColor(const QColor& c) {
    m_fill = c;
    QQuickPaintedItem::setFillColor(c);
    Refresh();
}

FPoint MapImagePainter2::DrawOrigin() const {
    return FPoint(Snap(m_offset.x(), m_factor), Snap(m_offset.y(), m_factor));
}

void MapImagePainter2::Refresh() {
    polish();
    update();
}

void MapImagePainter2::updatePolish() {
    PrepareFrame();
}

void MapImagePainter2::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickPaintedItem::geometryChange(newGeometry, oldGeometry);
    Refresh();
}

void MapImagePainter2::PrepareFrame() {
    const double r = Ratio();
    m_chart.Update(FRect(0, 0, width() * r, height() * r), DrawOrigin(), m_level);
}

void MapImagePainter2::paint(QPainter* painter) {
    if (!painter || !m_chart.IsOpen()) return;
    const double r = Ratio();
    painter->save();
    painter->scale(1.0 / r, 1.0 / r);
    const FRect rect(0, 0, width() * r, height() * r);
    bool flag = false;
    m_chart.Draw(painter, rect, DrawOrigin(), m_level, flag);
    painter->restore();
}

void MapImagePainter2::setOffset(const QPointF& offset) {
    const QPointF o(ClampOffset(offset.x()), ClampOffset(offset.y()));
    if (o == m_offset) return;
    m_offset = o;
    Refresh();
    Q_EMIT viewChanged();
}

void MapImagePainter2::SetView(double lat, double lon, double scale) {
    m_lat = lat;
    m_lon = lon;
    m_scale = std::isfinite(scale) && scale > 0 ? scale : 0;
    Q_EMIT viewChanged();
}

void MapImagePainter2::openMap(const std::string& path, std::function<void(bool)> done) {
    m_chart.Close();
    std::weak_ptr<bool> alive = m_alive;
    m_chart.Open(NV_HWND(this), path.c_str(), [this, alive, path, done = std::move(done)](bool ok) {
        if (alive.expired()) return;
        if (ok) {
            m_path = path;
            SetCurrentMapView();
            m_timer.start();
        }
        Refresh();
        Q_EMIT openChanged();
        Q_EMIT opened(ok);
        if (done) done(ok);
    });
}

void MapImagePainter2::closeMap() {
    m_timer.stop();
    m_chart.Close();
    m_proj = CPolynomialProjection();
    Refresh();
    Q_EMIT openChanged();
}

void MapImagePainter2::OpenBestMap() {
    CChartList* list = p_chart_list;
    const CChartOutline* best = list ? list->FindBestChart(m_lat, m_lon, m_scale, false) : nullptr;
    if (best && !best->path.empty()) {
        openMap(best->path, nullptr);
        return;
    }
    // No chart covers the place on this device.
    Q_EMIT opened(false);
}

void MapImagePainter2::SetCurrentMapView() {
    CQuickChart* chart = m_chart.Chart();
    if (!chart) return;
    m_proj = chart->GetProjection();
    Q_EMIT projChanged(m_proj);
    const double r = Ratio();
    const QPointF centre(width() * r / 2, height() * r / 2);
    if (m_proj.valid && m_lat <= 90 && m_lat >= -90) {
        double x, y;
        m_proj.latlong_to_xy(m_lat, m_lon, x, y);
        const double chartScale = m_proj.get_scale(x, y);
        if (m_scale > 0 && chartScale > 0 && std::isfinite(chartScale)) {
            const double level = std::clamp(LevelOf(m_scale / chartScale), LevelOf(kMinFactor), LevelOf(kMaxFactor));
            m_factor = std::ldexp(1.0, int(level));
            m_level = int(level);
        }
        // The stored position is at the item's top-left (where it was recorded).
        setOffset(QPointF(x, y));
    } else {
        m_factor = 1.0;
        m_level = 0;
        setOffset(QPointF(m_proj.width / 2 - centre.x(), m_proj.height / 2 - centre.y()));
    }
    Refresh();
    Q_EMIT viewChanged();
}

void MapImagePainter2::GetCurrentMapView() {
    CQuickChart* chart = m_chart.Chart();
    if (!chart || !m_proj.valid) return;
    m_path = chart->Path();
    m_proj.xy_to_latlong(m_offset.x(), m_offset.y(), m_lat, m_lon);
    m_scale = m_proj.get_scale(m_offset.x(), m_offset.y()) * m_factor;
    Q_EMIT viewChanged();
}

void MapImagePainter2::ZoomAbout(double newFactor, QPointF point) {
    newFactor = std::clamp(newFactor, kMinFactor, kMaxFactor);
    if (newFactor == m_factor) return;
    const double r = Ratio();
    // The chart point under `point` stays there.
    const double ix = m_offset.x() + point.x() * r * m_factor;
    const double iy = m_offset.y() + point.y() * r * m_factor;
    m_factor = newFactor;
    m_level = LevelOf(newFactor);
    setOffset(QPointF(ix - point.x() * r * m_factor, iy - point.y() * r * m_factor));
    Refresh();
    Q_EMIT viewChanged();
}

void MapImagePainter2::increaseZoomLevel(QPointF point) {
    ZoomAbout(m_factor * 2, point);
}

void MapImagePainter2::decreaseZoomLevel(QPointF point) {
    ZoomAbout(m_factor / 2, point);
}

void MapImagePainter2::DoScroll(QPointF delta) {
    const double k = Ratio() * m_factor;
    setOffset(QPointF(m_offset.x() - delta.x() * k, m_offset.y() - delta.y() * k));
}

void MapImagePainter2::moveToLatLong(double lat, double lon, QPointF point) {
    if (!m_proj.valid || !(lat >= -90 && lat <= 90) || !std::isfinite(lon)) return;
    double x, y;
    m_proj.latlong_to_xy(lat, lon, x, y);
    const double k = Ratio() * m_factor;
    setOffset(QPointF(x - point.x() * k, y - point.y() * k));
}

bool MapImagePainter2::Serialize(IOStream& s) {
    if (s.IsWriting()) GetCurrentMapView();
    std::string path = m_path;
    double lat = m_lat, lon = m_lon, scale = m_scale;
    bool ok;
    {
        Section sec(s);
        ok = sec.declaremagic(int(kStateMagic)) && sec.declarefilename(path) && sec.declare_value(lat) &&
             sec.declare_value(lon) && sec.declare_value(scale);
    }
    if (!s.IsReading() || !ok) return ok;
    // Nonsense numbers from a damaged file mean "no position".
    if (!std::isfinite(lat) || !std::isfinite(lon) || lat < -90 || lat > 90) lat = lon = kNoPosition;
    if (!std::isfinite(scale) || scale < 0) scale = 0;
    m_path = path;
    m_lat = lat;
    m_lon = lon;
    m_scale = scale;
    Q_EMIT viewChanged();
    return true;
}

void MapImagePainter2::onTimer() {
    const bool fresh = m_chart.TimerCallback();
    PrepareFrame();
    if (fresh) update();
}

// ---- OverlayPainter ----

OverlayPainter::OverlayPainter(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
    IOverlaySource::ReportAll(*this);
}

OverlayPainter::~OverlayPainter() = default;

void OverlayPainter::Remap(COverlayObject::CMapping& mapping) const {
    mapping.clear();
    if (m_proj.valid && mapping.object) mapping.object->Map(mapping, m_proj);
    mapping.set_bounds();
    mapping.move_screen();
}

void OverlayPainter::OnUpdate(COverlayObject& object) {
    switch (object.ObjectType()) {
        case COverlayObject::OBJECT_MARK:
        case COverlayObject::OBJECT_ROUTE:
        case COverlayObject::OBJECT_TRACK_SECTION:
            break;
        default:
            return;  // moving targets have their own layers
    }
    const uint32_t key = object.OrderKey();
    if (object.IsDestroyed() || object.UpdateState() == COverlayObject::UPDATE_DESTROYED) {
        m_mappings.erase(key);
        update();
        return;
    }
    auto it = m_mappings.find(key);
    if (it == m_mappings.end()) it = m_mappings.emplace(key, COverlayObject::CMapping(&object)).first;
    it->second.object = &object;
    Remap(it->second);
    update();
}

void OverlayPainter::setProj(CPolynomialProjection proj) {
    m_proj = proj;
    for (auto& entry : m_mappings) Remap(entry.second);
    update();
}

void OverlayPainter::setTransform(QTransform transform) {
    m_transform = transform;
    for (auto& entry : m_mappings) entry.second.move_screen();
    update();
}

void OverlayPainter::setBounds(CBounds imBounds) {
    if (imBounds.IsValid()) {
        m_visible = FRect(imBounds.xmin, imBounds.ymin, imBounds.xmax, imBounds.ymax);
    } else {
        m_visible = FRect(-1e9, -1e9, 1e9, 1e9);
    }
    for (auto& entry : m_mappings) entry.second.move_screen();
    update();
}

void OverlayPainter::paint(QPainter* painter) {
    m_lastDrawn = 0;
    if (!painter || !m_proj.valid) return;
    const double r = Ratio();
    painter->save();
    painter->scale(1.0 / r, 1.0 / r);
    const QTransform toDevice = m_transform * QTransform::fromScale(r, r);
    for (auto& entry : m_mappings) {
        if (m_lastDrawn >= kMaxPerFrame) break;
        COverlayObject::CMapping& m = entry.second;
        if (!m.object || !m.object->isVisible()) continue;
        m.move_screen();
        if (!m.map_to_screen(toDevice, m_visible)) continue;
        m.object->Draw(painter, m);
        ++m_lastDrawn;
    }
    painter->restore();
}
