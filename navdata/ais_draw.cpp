// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing AIS targets: a triangle along the heading (upright without one), the velocity
// vector and range rings the boat's own position uses, and the recorded track.

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "charts/georef.h"
#include "navdata/ais.h"

namespace {

// The triangle along a heading, in drawing units from the position.
constexpr double kTip = 19.6;
constexpr double kBack = 8.4;
constexpr double kHalfWidth = 8.0;
// The upright triangle of a target without a heading; class B ones are smaller.
constexpr double kUpright = 8.0;
constexpr double kClassBScale = 0.8;

QColor FromArgb(uint32_t argb) {
    return QColor(int((argb >> 16) & 0xFF), int((argb >> 8) & 0xFF), int(argb & 0xFF), int(argb >> 24));
}

}  // namespace

void CAISTarget::Map(CMapping& mapping, const CPolynomialProjection& projection) const {
    const auto& gps = COverlayGPSPosition::settings;
    MapMovingTarget(mapping, projection, gps.show_vector, gps.vector_scale, gps.range_ring_radius);
    if (mapping.points.empty()) return;
    mapping.kind = CMapping::HIT_POINTS;
    mapping.count = 1;
    if (m_trail.empty() || !CAISTargetManager::settings.record_tracks) return;
    mapping.points.reserve(kMappedPoints + m_trail.size());
    for (size_t i = 0; i < m_trail.size(); ++i) {
        const DblPoint& p = m_trail[(m_trailHead + i) % m_trail.size()];
        FPoint xy;
        if (projection.latlong_to_xy(p.y, p.x, xy)) mapping.points.emplace_back(xy.x, xy.y);
    }
    mapping.set_bounds();
}

void CAISTarget::Draw(QPainter* painter, CMapping& mapping) const {
    if (!painter || mapping.screen.size() < kMappedPoints || mapping.points.size() < kMappedPoints) return;
    if (IsPlaceholder(mapping, kPositionPoint)) return;
    const double u = DrawUnit(painter);
    const QColor fill = FromArgb(colour);
    const QPointF c(mapping.screen[kPositionPoint].x, mapping.screen[kPositionPoint].y);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (mapping.screen.size() > kMappedPoints) {
        // The recorded track, ending at the target.
        painter->setPen(QPen(fill, 1.0 * u));
        QPointF last = c;
        for (size_t i = mapping.screen.size() - 1; i >= size_t(kMappedPoints); --i) {
            const QPointF p(mapping.screen[i].x, mapping.screen[i].y);
            painter->drawLine(last, p);
            last = p;
        }
    }
    DrawVector(painter, mapping, fill, u);
    const int rings = COverlayGPSPosition::settings.num_range_rings;
    if (CAISTargetManager::settings.show_ais_range_ring && speed > 1.0f) DrawRangeRings(painter, mapping, fill, rings, u);

    QPointF triangle[3];
    double dx = 0, dy = 0;
    if (compass.heading < CDataSpeedDirection::kNoneThreshold && HeadingOnScreen(mapping, dx, dy)) {
        const QPointF along(dx, dy);
        const QPointF side(-dy * kHalfWidth * u, dx * kHalfWidth * u);
        const QPointF back = c - along * (kBack * u);
        triangle[0] = c + along * (kTip * u);
        triangle[1] = back + side;
        triangle[2] = back - side;
    } else {
        const double s = kUpright * u * (IsClassB() ? kClassBScale : 1.0);
        triangle[0] = QPointF(c.x(), c.y() - s);
        triangle[1] = QPointF(c.x() + s, c.y() + s);
        triangle[2] = QPointF(c.x() - s, c.y() + s);
    }
    painter->setPen(QPen(Qt::black, (IsSelected() ? 3.0 : 1.0) * u));
    painter->setBrush(fill);
    painter->drawPolygon(triangle, 3);
    painter->restore();
}
