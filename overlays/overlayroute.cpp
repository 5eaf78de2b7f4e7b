// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/overlayroute.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

#include "charts/georef.h"
#include "core/display_metrics.h"
#include "overlays/linestyle.h"
#include "overlays/xmlwrite.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "units/units.h"

CSerializable::TypeOf<COverlayRoute> COverlayRoute::s_type(COverlayRoute::kTypeId);

namespace {

const char* const kPatternNames[COverlayRoute::kPatternCount] = {"Solid", "Dash", "Dot", "DashDot", "DashDotDot"};


}  // namespace

// ---- legs

bool COverlayRoute::segment::compute(double x, double y, const segment* previous) {
    double bx = dx, by = dy;
    if (previous && previous->valid()) {
        bx += previous->dx;
        by += previous->dy;
    }
    // Past the bisector at the leg's start, on the side the leg runs to.
    const double along = (ex - sx) * bx + (ey - sy) * by;
    const double side = bx * (sx - x) + by * (sy - y);
    alongside = along * side <= 0;
    const double cross = (sx - x) * dy - (sy - y) * dx;
    d2 = cross * cross;
    return alongside;
}

COverlayRoute::COverlayRoute() : COverlayObject(LAYER_ROUTE, OBJECT_ROUTE) {
    if (!g_mark_manager) return;
    const COverlayRoute& t = g_mark_manager->DefaultRoute();
    m_lineColor = t.m_lineColor;
    m_lineWidth = t.m_lineWidth;
    m_linePattern = t.m_linePattern;
    m_doNotSync = t.m_doNotSync;
}

COverlayRoute::~COverlayRoute() {
    // Listeners see the route whole, then each waypoint goes while the route still exists.
    COverlayObject::Dispatch(UPDATE_DESTROYED);
    m_points.clear();
}

void COverlayRoute::Dispatch(update_action action) {
    COverlayObject::Dispatch(action);
    for (auto& wp : m_points) wp->Dispatch(action);
}

void COverlayRoute::Changed() {
    ClearSegments();
}

void COverlayRoute::ClearSegments() {
    m_segmentsValid = false;
    m_areaValid = false;
    m_segments.clear();
}

void COverlayRoute::InitSegments() {
    if (m_segmentsValid) return;
    m_segments.clear();
    m_totalLength = 0;
    m_segmentsValid = true;
    if (m_points.empty()) return;
    m_grid.SetOrigin(m_points[0]->getLat(), m_points[0]->getLon());
    m_segments.reserve(m_points.size());
    for (size_t i = 1; i < m_points.size(); ++i) {
        segment s;
        s.to = m_points[i].get();
        m_grid.ToGrid(m_points[i - 1]->getLat(), m_points[i - 1]->getLon(), s.sx, s.sy);
        m_grid.ToGrid(m_points[i]->getLat(), m_points[i]->getLon(), s.ex, s.ey);
        const double len = std::hypot(s.ex - s.sx, s.ey - s.sy);
        if (len > kMinLegMetres && std::isfinite(len)) {
            s.length = len;
            s.dx = (s.ex - s.sx) / len;
            s.dy = (s.ey - s.sy) / len;
            m_totalLength += len;
        }
        m_segments.push_back(s);
    }
}

double COverlayRoute::getTotalLengthMeters() {
    InitSegments();
    return m_totalLength;
}

double COverlayRoute::getDistanceUpToWaypoint(const COverlayMark* mark) {
    const int k = IndexOf(mark);
    if (k < 0) return 0;
    InitSegments();
    double d = 0;
    for (int i = 0; i < k && i < int(m_segments.size()); ++i) d += m_segments[size_t(i)].length;
    return d;
}

double COverlayRoute::getRemainingAfter(int index) {
    InitSegments();
    double d = 0;
    // Segment i leads to waypoint i + 1.
    for (size_t i = size_t(std::max(index, 0)); i < m_segments.size(); ++i) d += m_segments[i].length;
    return d;
}

COverlayRoute::NearestLeg COverlayRoute::FindNearestLeg(double lat, double lon, double vx, double vy, int minTarget) {
    NearestLeg r;
    InitSegments();
    if (m_points.empty()) return r;
    double x, y;
    m_grid.ToGrid(lat, lon, x, y);
    double best = std::numeric_limits<double>::infinity();
    if (minTarget <= 0) {
        // The first waypoint is the grid's origin.
        best = x * x + y * y;
        r.to = m_points[0].get();
        r.toIndex = 0;
        r.next = Waypoint(1);
        r.remaining = m_totalLength;
    }
    // Which legs the position is alongside: past the bisector at the leg's start.
    const segment* previous = nullptr;
    for (segment& s : m_segments) {
        if (!s.valid()) continue;
        s.compute(x, y, previous);
        previous = &s;
    }
    double after = m_totalLength;  // metres of route after the end of the leg looked at
    for (size_t i = 0; i < m_segments.size(); ++i) {
        segment& s = m_segments[i];
        after -= s.length;
        if (!s.valid() || !s.alongside || int(i) + 1 < minTarget) continue;
        // Past the start of the next leg the position has left this one: where legs run
        // on in a straight line, both lines pass through the boat and only this tells
        // them apart.
        const segment* next = nullptr;
        for (size_t j = i + 1; j < m_segments.size() && !next; ++j)
            if (m_segments[j].valid()) next = &m_segments[j];
        if (next && next->alongside) continue;
        double v = s.d2;
        // Going the wrong way along a leg makes it a poor match.
        if (vx * s.dx + vy * s.dy < 0) v = 4 * v + 900;
        if (v < best) {
            best = v;
            r.from = m_points[i].get();
            r.to = m_points[i + 1].get();
            r.toIndex = int(i) + 1;
            r.next = Waypoint(i + 2);
            r.remaining = std::max(0.0, after);
        }
    }
    return r;
}

CPolyline COverlayRoute::GetVertices() const {
    CPolyline line;
    line.vertices.reserve(m_points.size());
    for (const auto& wp : m_points) line.Add(wp->getLon(), wp->getLat());
    return line;
}

bool COverlayRoute::Contains(double lat, double lon) {
    if (!m_areaValid) {
        m_area = GetVertices();
        m_areaBounds = m_area.GetBounds();
        m_areaValid = true;
    }
    if (m_area.size() < 3 || !m_areaBounds.Contains(lon, lat)) return false;
    return m_area.doesContain(lon, lat);
}

// ---- waypoints

int COverlayRoute::IndexOf(const COverlayMark* mark) const {
    for (size_t i = 0; i < m_points.size(); ++i)
        if (m_points[i].get() == mark) return int(i);
    return -1;
}

COverlayMark* COverlayRoute::AddWaypoint(double lat, double lon) {
    std::unique_ptr<COverlayMark> wp;
    {
        BuildScope building;  // the waypoint takes the waypoint template
        wp = std::make_unique<COverlayMark>();
    }
    wp->SetPosition(lat, lon);
    COverlayMark* raw = wp.get();
    InsertWPAfter(std::move(wp), m_points.empty() ? nullptr : m_points.back().get());
    setDefaultWPnameAndIcon(*raw);
    return raw;
}

COverlayMark* COverlayRoute::InsertWPAfter(std::unique_ptr<COverlayMark> mark, const COverlayMark* after) {
    if (!mark) return nullptr;
    const int k = after ? IndexOf(after) : -1;
    COverlayMark* raw = mark.get();
    raw->SetRoute(this);
    m_points.insert(m_points.begin() + (k + 1), std::move(mark));
    Changed();
    return raw;
}

bool COverlayRoute::DeleteWaypoint(COverlayMark* mark) {
    const int k = IndexOf(mark);
    if (k < 0) return false;
    if (g_mark_manager) g_mark_manager->WaypointRemoving(mark);
    auto owned = std::move(m_points[size_t(k)]);
    m_points.erase(m_points.begin() + k);
    Changed();
    owned.reset();  // tells the listeners it is gone
    return true;
}

bool COverlayRoute::deleteJustAddedWaypoint() {
    if (m_points.empty()) return false;
    return DeleteWaypoint(m_points.back().get());
}

void COverlayRoute::ReverseWaypoints() {
    std::reverse(m_points.begin(), m_points.end());
    Changed();
}

std::unique_ptr<COverlayRoute> COverlayRoute::SplitRoute(COverlayMark* mark) {
    const int k = IndexOf(mark);
    if (k <= 0 || k >= int(m_points.size()) - 1) return nullptr;
    auto other = std::make_unique<COverlayRoute>();
    other->SetLineStyle(m_lineColor, m_lineWidth, m_linePattern);
    other->m_category = m_category;
    other->m_name = m_name + " (2)";
    // The split point ends this route and starts the other.
    auto copy = std::make_unique<COverlayMark>(COverlayMark::Bare{});
    copy->CopyTemplate(*mark);
    copy->setName(mark->getName());
    copy->setDescription(mark->getDescription());
    copy->SetPosition(mark->getLat(), mark->getLon());
    other->InsertWPAfter(std::move(copy), nullptr);
    for (size_t i = size_t(k) + 1; i < m_points.size(); ++i) {
        if (g_mark_manager) g_mark_manager->WaypointRemoving(m_points[i].get());
        m_points[i]->SetRoute(other.get());
        other->m_points.push_back(std::move(m_points[i]));
    }
    m_points.resize(size_t(k) + 1);
    Changed();
    other->Changed();
    return other;
}

void COverlayRoute::JoinRoute(COverlayRoute& other) {
    if (&other == this) return;
    for (auto& wp : other.m_points) {
        if (g_mark_manager) g_mark_manager->WaypointRemoving(wp.get());
        wp->SetRoute(this);
        m_points.push_back(std::move(wp));
    }
    other.m_points.clear();
    other.Changed();
    Changed();
}

void COverlayRoute::SetAllWaypointsLike(const COverlayMark& mark) {
    for (auto& wp : m_points) wp->SetIcon(mark.getIcon(), mark.getColor());
}

void COverlayRoute::setDefaultWPnameAndIcon(COverlayMark& mark) const {
    std::string tmpl = g_mark_manager ? g_mark_manager->WaypointTemplate().getName() : std::string("%RP#");
    const size_t r = tmpl.find("%R");
    if (r != std::string::npos) tmpl.replace(r, 2, m_name);
    mark.setName(CMarkManager::NumberedName(tmpl, int(m_points.size())));
    mark.SetIcon(CMarkManager::settings.default_wp_icon, CMarkManager::settings.default_wp_color2);
}

void COverlayRoute::SetNameFromEndWaypoints() {
    if (m_points.size() < 2) return;
    const std::string& a = m_points.front()->getName();
    const std::string& b = m_points.back()->getName();
    if (a.empty() || b.empty()) return;
    m_name = a + " - " + b;
}

COverlayMark* COverlayRoute::getWaypointBefore(const COverlayMark* mark) const {
    const int k = IndexOf(mark);
    return k > 0 ? m_points[size_t(k) - 1].get() : nullptr;
}

COverlayMark* COverlayRoute::getWaypointAfter(const COverlayMark* mark) const {
    const int k = IndexOf(mark);
    return k >= 0 ? Waypoint(size_t(k) + 1) : nullptr;
}

COverlayMark* COverlayRoute::ActiveTarget() const {
    if (!m_follow) return nullptr;
    for (const auto& wp : m_points)
        if (wp->isNavigatingToMark()) return wp.get();
    return nullptr;
}

// ---- style

void COverlayRoute::SetLineStyle(const GraphicsColor& color, float width, int pattern) {
    m_lineColor = color;
    m_lineWidth = std::isfinite(width) ? std::clamp(width, 0.5f, 50.0f) : 2.0f;
    m_linePattern = (pattern >= 0 && pattern < kPatternCount) ? pattern : 0;
}

const char* COverlayRoute::PatternName(int pattern) {
    return kPatternNames[(pattern >= 0 && pattern < kPatternCount) ? pattern : 0];
}

int COverlayRoute::PatternFromName(const std::string& name) {
    for (int i = 0; i < kPatternCount; ++i) {
        const std::string& p = kPatternNames[i];
        if (p.size() != name.size()) continue;
        bool same = true;
        for (size_t j = 0; j < p.size() && same; ++j) same = std::tolower((unsigned char)p[j]) == std::tolower((unsigned char)name[j]);
        if (same) return i;
    }
    return -1;
}

void COverlayRoute::SetAreaAlarms(bool geofence, bool exclusion) {
    m_geofence = geofence;
    m_exclusion = exclusion;
}

bool COverlayRoute::onTap(CQuickChartView* view, const FPoint&, const DblPoint& image) {
    IMarkUi* ui = CMarkManager::Ui();
    return ui && ui->RouteTapped(view, *this, image);
}

void COverlayRoute::onMenuDown(NV_HWND hwnd) {
    if (IMarkUi* ui = CMarkManager::Ui()) ui->ShowObjectMenu(hwnd, *this);
}

// ---- stored form

bool COverlayRoute::Serialize(IOStream& s) {
    Section sec(s);
    const bool reading = sec.IsReading();
    bool ok = sec.declare(m_name);
    {
        Section style(s);
        ok = ok && style.declarecolor(m_lineColor) && style.declare_value(m_lineWidth) &&
             style.declare_value(m_linePattern);
    }
    {
        COverlayMark::WaypointScope waypoints;
        ok = ok && CSerializableDeclareStatic(sec, m_points);
    }
    ok = ok && sec.declare(m_description);
    uint8_t follow = m_follow ? 1 : 0;
    ok = ok && sec.declare_value(follow);
    if (ok && (!reading || !sec.AtEnd())) ok = SerializeSyncable(s);
    ok = ok && sec.declare(m_category);
    uint8_t geofence = m_geofence ? 1 : 0;
    uint8_t exclusion = m_exclusion ? 1 : 0;
    ok = ok && sec.declare_value(geofence) && sec.declare_value(exclusion);
    if (reading) {
        m_follow = follow != 0;
        m_geofence = geofence != 0;
        m_exclusion = exclusion != 0;
        SetLineStyle(m_lineColor, m_lineWidth, m_linePattern);
        for (auto& wp : m_points) wp->SetRoute(this);
        if (!m_points.empty()) {
            const double first = m_points.front()->getCreatedTime();
            if (first != 0 && first < m_created) m_created = first;
        }
        Changed();
    }
    return ok;
}

bool COverlayRoute::getLonLatBounds(CBounds& bounds) const {
    bool any = false;
    for (const auto& wp : m_points) any = wp->getLonLatBounds(bounds) || any;
    return any;
}

std::string COverlayRoute::getSubText(const CSimpleGrid&) const {
    std::string d;
    CDefaultUnits::u.FormatDistance(const_cast<COverlayRoute*>(this)->getTotalLengthMeters(), d);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%zu points, ", m_points.size());
    return buf + d;
}

bool COverlayRoute::WriteGPX(FILE* f) const {
    bool ok = std::fputs("<rte>\n", f) >= 0;
    ok = XMLwrite_tag(f, "name", m_name) && ok;
    if (!m_description.empty()) ok = XMLwrite_tag(f, "desc", m_description) && ok;
    if (!isDoNotSync()) ok = XMLwrite_tag(f, "src", const_cast<COverlayRoute*>(this)->GetObjectIDstr()) && ok;
    if (!m_category.empty()) ok = XMLwrite_tag(f, "type", m_category) && ok;
    ok = WriteGPXLineStyle(f, m_lineColor, m_lineWidth, m_linePattern) && ok;
    for (const auto& wp : m_points) {
        if (!wp->HasGPXPosition()) continue;
        std::string head;
        AppendPointTag(head, "rtept", wp->getLat(), wp->getLon());
        head += '\n';
        ok = std::fputs(head.c_str(), f) >= 0 && ok;
        ok = wp->WriteGPXContents(f) && ok;
        ok = std::fputs("</rtept>\n", f) >= 0 && ok;
    }
    return std::fputs("</rte>\n", f) >= 0 && ok;
}

bool COverlayRoute::WriteGPXLineStyle(FILE* f, const GraphicsColor& color, float width, int pattern) {
    return std::fprintf(f,
                        "<extensions> <xstyle:line>\n<xstyle:color>%02x%02x%02x</xstyle:color>\n"
                        "<xstyle:opacity>%s</xstyle:opacity>\n<xstyle:width>%s</xstyle:width>\n"
                        "<xstyle:pattern>%s</xstyle:pattern>\n</xstyle:line> </extensions>\n",
                        color.r, color.g, color.b, FormatFixed(color.a / 255.0, 2).c_str(),
                        FormatFixed(std::isfinite(width) ? width : 2.0, 2).c_str(), PatternName(pattern)) > 0;
}

// ---- drawing

void COverlayRoute::Map(CMapping& mapping, const CPolynomialProjection& projection) const {
    mapping.clear();
    mapping.points.reserve(m_points.size());
    for (const auto& wp : m_points) {
        FPoint p;
        if (!wp->HasPosition() || !projection.latlong_to_xy(wp->getLat(), wp->getLon(), p)) {
            mapping.points.emplace_back(0, 0);
            continue;
        }
        if (p.x == 0 && p.y == 0) p.x = 1e-9;
        mapping.points.emplace_back(p.x, p.y);
    }
    mapping.kind = CMapping::HIT_POLYLINE;
    mapping.count = int(mapping.points.size());
    mapping.set_bounds();
}

void COverlayRoute::Draw(QPainter* painter, CMapping& mapping) const {
    if (!painter || mapping.screen.size() < 2 || mapping.screen.size() != mapping.points.size()) return;
    const double res = graphicsResolution > 0 ? graphicsResolution : 1.0;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // Pieces of line between unmapped points.
    std::vector<QPolygonF> pieces(1);
    for (size_t i = 0; i < mapping.screen.size(); ++i) {
        if (IsPlaceholder(mapping.points[i])) {
            if (!pieces.back().isEmpty()) pieces.emplace_back();
            continue;
        }
        pieces.back() << QPointF(mapping.screen[i].x, mapping.screen[i].y);
    }

    if (hasAreaAlarm() && pieces.size() == 1 && pieces[0].size() >= 3) {
        const QColor fill = m_exclusion ? QColor(230, 0, 0, m_areaAlarmActive ? 70 : 35)
                                        : QColor(0, 160, 60, m_areaAlarmActive ? 70 : 30);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawPolygon(pieces[0], Qt::OddEvenFill);
    }

    const QColor line(m_lineColor.r, m_lineColor.g, m_lineColor.b, m_lineColor.a);
    QPen pen(line, std::max(1.0, double(m_lineWidth) * res), PenStyleOf(m_linePattern), Qt::RoundCap, Qt::RoundJoin);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    for (const QPolygonF& piece : pieces)
        if (piece.size() >= 2) painter->drawPolyline(piece);

    // The leg being sailed stands out.
    if (const COverlayMark* target = ActiveTarget()) {
        const int k = IndexOf(target);
        if (k > 0 && !IsPlaceholder(mapping.points[size_t(k)]) && !IsPlaceholder(mapping.points[size_t(k) - 1])) {
            QPen leg(QColor(200, 0, 200, 200), std::max(3.0, double(m_lineWidth) * res + 3 * res), Qt::SolidLine,
                     Qt::RoundCap);
            painter->setPen(leg);
            painter->drawLine(QPointF(mapping.screen[size_t(k) - 1].x, mapping.screen[size_t(k) - 1].y),
                              QPointF(mapping.screen[size_t(k)].x, mapping.screen[size_t(k)].y));
        }
    }
    painter->restore();
}
