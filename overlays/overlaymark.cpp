// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/overlaymark.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <ctime>

#include "charts/georef.h"
#include "core/display_metrics.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/overlayroute.h"
#include "overlays/xmlnode.h"
#include "overlays/xmlwrite.h"
#include "units/units.h"

CSerializable::TypeOf<COverlayMark> COverlayMark::s_type(COverlayMark::kTypeId);

namespace {

bool Finite(double v) {
    return std::isfinite(v);
}

// The pixel of a geographic point, or (0, 0) (the unmapped placeholder) when the chart
// cannot express it.
DblPoint Project(const CPolynomialProjection& projection, double lat, double lon) {
    FPoint p;
    if (!projection.latlong_to_xy(lat, lon, p)) return DblPoint(0, 0);
    if (p.x == 0 && p.y == 0) p.x = 1e-9;  // a real point exactly at the origin is not a placeholder
    return DblPoint(p.x, p.y);
}

}  // namespace

COverlayMark::COverlayMark() : COverlayMark(Bare{}) {
    if (!g_mark_manager) return;
    const bool waypoint = s_readingWaypoints || COverlayRoute::isBuilding();
    CopyTemplate(waypoint ? g_mark_manager->WaypointTemplate() : g_mark_manager->DefaultMark());
}

COverlayMark::COverlayMark(Bare) : COverlayObject(LAYER_MARK, OBJECT_MARK) {}

COverlayMark::~COverlayMark() {
    // Listeners still see the whole mark here.
    Dispatch(UPDATE_DESTROYED);
}

void COverlayMark::CopyTemplate(const COverlayMark& t) {
    m_link = t.m_link;
    m_color = t.m_color;
    m_icon = t.m_icon;
    m_innerRadius = t.m_innerRadius;
    m_alarmRadius = t.m_alarmRadius;
    m_locked = t.m_locked;
    m_doNotSync = t.m_doNotSync;
}

void COverlayMark::SetPosition(double lat, double lon) {
    if (!Finite(lat) || !Finite(lon)) return;
    m_lat = lat;
    m_lon = lon;
    if (m_route) m_route->ClearSegments();
}

void COverlayMark::SetIcon(const std::string& name, const GraphicsColor& color) {
    m_icon = CIconManager::to_file_name(name);
    if (m_icon.empty()) m_icon = CIconManager::kNone;
    m_color = color;
}

void COverlayMark::LoadIcon() {
    CIconManager::Instance().initMap();
}

void COverlayMark::SetAlarm(float innerRadius, float alarmRadius) {
    if (!std::isfinite(innerRadius) || innerRadius < 0) innerRadius = 0;
    if (!std::isfinite(alarmRadius) || alarmRadius < 0) alarmRadius = 0;
    m_innerRadius = alarmRadius > 0 ? innerRadius : 0;
    m_alarmRadius = alarmRadius;
}

void COverlayMark::SetRoute(COverlayRoute* route) {
    m_route = route;
    SetObjectType(route ? OBJECT_WAYPOINT : OBJECT_MARK);
}

bool COverlayMark::isVisible() const {
    if (isDeleted() || !isVisibleFlag()) return false;
    return !m_route || m_route->isVisible();
}

bool COverlayMark::sameData(const COverlayMark& o) const {
    return m_lat == o.m_lat && m_lon == o.m_lon && m_name == o.m_name && m_description == o.m_description &&
           m_icon == o.m_icon && m_color == o.m_color && m_link == o.m_link && m_innerRadius == o.m_innerRadius &&
           m_alarmRadius == o.m_alarmRadius;
}

void COverlayMark::ClearData() {
    m_lat = m_lon = kUnset;
    m_name.clear();
    m_description.clear();
    m_category.clear();
    m_link.clear();
    m_icon = CIconManager::kNone;
    m_color = GraphicsColor(0, 0, 0, 0);
    m_innerRadius = m_alarmRadius = 0;
    m_navTarget = false;
    m_alarmActive = false;
}

bool COverlayMark::onTap(CQuickChartView* view, const FPoint&, const DblPoint&) {
    IMarkUi* ui = CMarkManager::Ui();
    return ui && ui->MarkTapped(view, *this);
}

void COverlayMark::onMenuDown(NV_HWND hwnd) {
    if (IMarkUi* ui = CMarkManager::Ui()) ui->ShowObjectMenu(hwnd, *this);
}

// ---- stored form

bool COverlayMark::Serialize(IOStream& s) {
    Section sec(s);
    const bool reading = sec.IsReading();
    // A waypoint's identity is its route's: it carries no synchronisation section.
    const bool asWaypoint = reading ? s_readingWaypoints : m_route != nullptr;
    double created = m_created;
    uint8_t target = m_navTarget ? 1 : 0;
    uint8_t locked = isLocked() ? 1 : 0;
    bool ok = sec.declare(m_name) && sec.declare_value(m_lat) && sec.declare_value(m_lon) &&
              sec.declare_value(created) && sec.declare(m_link) && sec.declare(m_description) &&
              sec.declare_value(target) && sec.declare_value(locked) && sec.declare(m_icon) &&
              sec.declarecolor(m_color) && sec.declare_value(m_innerRadius) && sec.declare_value(m_alarmRadius);
    if (!ok) return false;
    if (reading) m_locked = locked ? CHECK_SET : CHECK_CLEAR;
    if (!asWaypoint && (!reading || !sec.AtEnd())) ok = SerializeSyncable(s);
    ok = ok && sec.declare(m_category);
    if (reading) {
        m_navTarget = target != 0;
        m_icon = CIconManager::to_file_name(m_icon);
        if (m_icon.empty()) m_icon = CIconManager::kNone;
        if (Finite(created) && created != 0 && created < m_created) m_created = created;
        // Numbers from a damaged or hostile file must not reach the drawing and alarm code.
        if (!Finite(m_lat) || !Finite(m_lon) || std::fabs(m_lat) > 999 || std::fabs(m_lon) > 999)
            m_lat = m_lon = kUnset;
        SetAlarm(m_innerRadius, m_alarmRadius);
    }
    return ok;
}

bool COverlayMark::getLonLatBounds(CBounds& bounds) const {
    if (!HasPosition()) return false;
    bounds.Add(m_lon, m_lat);
    return true;
}

std::string COverlayMark::getSubText(const CSimpleGrid& grid) const {
    std::string text;
    if (!HasPosition()) return text;
    CDefaultUnits::u.FormatPosition(m_lat, m_lon, text);
    // With a grid centred on the user's position, say how far away the mark is.
    if (grid.OriginLat() != 0 || grid.OriginLon() != 0) {
        std::string d;
        CDefaultUnits::u.FormatDistance(grid.Distance(grid.OriginLat(), grid.OriginLon(), m_lat, m_lon), d);
        text = d + (text.empty() ? "" : "  " + text);
    }
    return text;
}

bool COverlayMark::WriteGPXContents(FILE* f) const {
    bool ok = true;
    if (!m_name.empty()) ok = XMLwrite_tag(f, "name", m_name) && ok;
    if (!m_description.empty()) ok = XMLwrite_tag(f, "desc", m_description) && ok;
    if (!m_route && !isDoNotSync()) {
        // The identity is assigned on first use; doing so here is no change of content.
        ok = XMLwrite_tag(f, "src", const_cast<COverlayMark*>(this)->GetObjectIDstr()) && ok;
    }
    if (!m_link.empty()) ok = std::fprintf(f, "<link href=\"%s\"></link>\n", XMLattribute_text(m_link).c_str()) > 0 && ok;
    if (m_icon != CIconManager::kNone && !m_icon.empty()) ok = XMLwrite_tag(f, "sym", m_icon) && ok;
    if (!m_category.empty()) ok = XMLwrite_tag(f, "type", m_category) && ok;
    const bool colorized = m_color.a > 0 && CIconManager::Instance().isColorized(m_icon);
    if (colorized || m_alarmRadius > 0) {
        ok = std::fputs("<extensions>\n", f) >= 0 && ok;
        if (colorized)
            ok = std::fprintf(f, "<xstyle:fill><xstyle:color>%02x%02x%02x</xstyle:color></xstyle:fill>\n", m_color.r,
                              m_color.g, m_color.b) > 0 &&
                 ok;
        if (m_alarmRadius > 0) {
            // An anchor alarm travels as a negative distance: its inner radius.
            const double p = m_innerRadius > 0 ? -double(m_innerRadius) : double(m_alarmRadius);
            ok = std::fprintf(f,
                              "<xgarmin:WaypointExtension><xgarmin:Proximity>%s</xgarmin:Proximity>"
                              "</xgarmin:WaypointExtension>\n",
                              FormatFixed(p, 1).c_str()) > 0 &&
                 ok;
        }
        ok = std::fputs("</extensions>\n", f) >= 0 && ok;
    }
    return ok;
}

bool COverlayMark::HasGPXPosition() const {
    return HasPosition() && std::fabs(m_lat) <= 90;
}

bool COverlayMark::WriteGPX(FILE* f) const {
    // A mark without a place has no GPX form.
    if (!HasGPXPosition()) return true;
    std::string head;
    AppendPointTag(head, "wpt", m_lat, m_lon);
    head += '\n';
    bool ok = std::fputs(head.c_str(), f) >= 0;
    if (m_created != 0) ok = XMLwrite_tag(f, "time", format_time(m_created)) && ok;
    ok = WriteGPXContents(f) && ok;
    return std::fputs("</wpt>\n", f) >= 0 && ok;
}

// ---- drawing

void COverlayMark::Map(CMapping& mapping, const CPolynomialProjection& projection) const {
    mapping.clear();
    if (!HasPosition()) return;
    mapping.points.push_back(Project(projection, m_lat, m_lon));
    // Points on the alarm circles, so that drawing knows their radius in pixels.
    if (m_alarmRadius > 0) {
        const CSimpleGrid grid(m_lat, m_lon);
        double la, lo;
        grid.FromGrid(m_alarmRadius, 0, la, lo);
        mapping.points.push_back(Project(projection, la, lo));
        if (m_innerRadius > 0) {
            grid.FromGrid(m_innerRadius, 0, la, lo);
            mapping.points.push_back(Project(projection, la, lo));
        }
    }
    mapping.kind = CMapping::HIT_POINTS;
    mapping.count = 1;
    mapping.set_bounds();
}

void COverlayMark::Draw(QPainter* painter, CMapping& mapping) const {
    if (!painter || mapping.screen.empty()) return;
    if (mapping.points[0].x == 0 && mapping.points[0].y == 0) return;
    const double res = graphicsResolution > 0 ? graphicsResolution : 1.0;
    const QPointF at(mapping.screen[0].x, mapping.screen[0].y);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    auto radiusOf = [&](size_t i) {
        if (mapping.screen.size() <= i) return 0.0;
        return std::hypot(mapping.screen[i].x - at.x(), mapping.screen[i].y - at.y());
    };
    if (m_alarmRadius > 0) {
        const QColor ring = m_alarmActive ? QColor(230, 0, 0) : QColor(200, 60, 0, 200);
        QPen pen(ring, 1.5 * res, Qt::DashLine);
        painter->setPen(pen);
        painter->setBrush(m_alarmActive ? QColor(230, 0, 0, 40) : QColor(0, 0, 0, 0));
        const double r = radiusOf(1);
        if (r > 3 && r < 100000) painter->drawEllipse(at, r, r);
        const double ri = radiusOf(2);
        if (m_innerRadius > 0 && ri > 3 && ri < 100000) {
            painter->setBrush(Qt::NoBrush);
            painter->setPen(QPen(QColor(0, 90, 200), 1.5 * res, Qt::DotLine));
            painter->drawEllipse(at, ri, ri);
        }
    }

    const int size = int(std::lround(24 * res));
    FPoint hot;
    const QImage& icon = CIconManager::Instance().GetIcon(m_icon, m_color, hot, size);
    double right = 4 * res;
    if (!icon.isNull()) {
        painter->drawImage(QPointF(at.x() - hot.x, at.y() - hot.y), icon);
        right = icon.width() - hot.x + 2 * res;
    } else {
        const QColor c = m_color.a > 0 ? QColor(m_color.r, m_color.g, m_color.b) : QColor(30, 30, 30);
        painter->setPen(QPen(Qt::white, 1.0 * res));
        painter->setBrush(c);
        painter->drawEllipse(at, 3.5 * res, 3.5 * res);
    }
    if (m_navTarget) {
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(QColor(200, 0, 200), 2.5 * res));
        painter->drawEllipse(at, 16 * res, 16 * res);
    }
    if (!m_name.empty()) {
        QFont font = painter->font();
        font.setPixelSize(std::max(8, int(std::lround(12 * res))));
        font.setBold(m_navTarget);
        painter->setFont(font);
        const QString text = QString::fromStdString(m_name);
        const QPointF base(at.x() + right, at.y() + font.pixelSize() * 0.35);
        // A light halo keeps the name readable over any chart.
        QPainterPath path;
        path.addText(base, font, text);
        painter->setPen(QPen(QColor(255, 255, 255, 210), 3 * res, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(path);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor(20, 20, 20));
        painter->drawPath(path);
    }
    painter->restore();
}
