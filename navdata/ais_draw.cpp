// SPDX-License-Identifier: GPL-3.0-or-later
// Drawing AIS targets: a triangle along the heading (upright without one), the velocity
// vector and range rings the boat's own position uses, and the recorded track.

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>

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

// Headings on screen are drawn in steps of this many degrees (invisible at this size).
constexpr int kHeadingStep = 2;
constexpr int kUprightKey = 511;
// Past this many pictures the cache starts again, so odd colours cannot make it grow.
constexpr size_t kMaxSprites = 1024;

// The triangle of one colour, direction, size and outline, drawn once and then copied:
// a painter fills and outlines an antialiased polygon many times slower than it copies a
// small picture, and a busy sea has thousands of targets on the chart. GUI thread only.
struct Sprite {
    QImage image;
    QPointF origin;  // where the target's position lies in the picture
};

const Sprite& TriangleSprite(uint32_t argb, int direction, bool classB, bool selected, double u) {
    static std::unordered_map<uint64_t, Sprite> cache;
    const int unitKey = std::clamp(int(std::lround(u * 16)), 0, 255);
    const uint64_t key = (uint64_t(argb) << 32) | (uint64_t(unitKey) << 16) | (uint64_t(direction) << 2) |
                         (uint64_t(classB) << 1) | uint64_t(selected);
    if (auto it = cache.find(key); it != cache.end()) return it->second;
    if (cache.size() >= kMaxSprites) cache.clear();

    const double outline = (selected ? 3.0 : 1.0) * u;
    QPointF triangle[3];
    if (direction != kUprightKey) {
        const double a = direction * kHeadingStep * M_PI / 180.0;  // clockwise from up
        const QPointF along(std::sin(a), -std::cos(a));
        const QPointF side(-along.y() * kHalfWidth * u, along.x() * kHalfWidth * u);
        const QPointF back = -along * (kBack * u);
        triangle[0] = along * (kTip * u);
        triangle[1] = back + side;
        triangle[2] = back - side;
    } else {
        const double s = kUpright * u * (classB ? kClassBScale : 1.0);
        triangle[0] = QPointF(0, -s);
        triangle[1] = QPointF(s, s);
        triangle[2] = QPointF(-s, s);
    }
    // Only as large as the triangle and its outline: copying is by the pixel.
    const double margin = outline + 1;
    double left = 0, top = 0, right = 0, bottom = 0;
    for (const QPointF& q : triangle) {
        left = std::min(left, q.x());
        top = std::min(top, q.y());
        right = std::max(right, q.x());
        bottom = std::max(bottom, q.y());
    }
    const int x0 = int(std::floor(left - margin)), y0 = int(std::floor(top - margin));
    const int x1 = int(std::ceil(right + margin)), y1 = int(std::ceil(bottom + margin));
    Sprite sprite;
    sprite.image = QImage(x1 - x0, y1 - y0, QImage::Format_ARGB32_Premultiplied);
    sprite.image.fill(Qt::transparent);
    sprite.origin = QPointF(-x0, -y0);
    for (QPointF& q : triangle) q += sprite.origin;
    QPainter p(&sprite.image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, outline));
    p.setBrush(FromArgb(argb));
    p.drawPolygon(triangle, 3);
    p.end();
    return cache.emplace(key, std::move(sprite)).first->second;
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

    // Lines without antialiasing: an antialiased line costs several times as much, and a
    // busy sea has thousands of vectors on the chart. The triangles are smooth pictures.
    // No save and restore either: only the hint is put back, and the pen and brush are
    // left as they are, so that the next target of the same colour changes nothing.
    const bool antialiased = painter->testRenderHint(QPainter::Antialiasing);
    if (antialiased) painter->setRenderHint(QPainter::Antialiasing, false);
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

    int direction = kUprightKey;
    double dx = 0, dy = 0;
    if (compass.heading < CDataSpeedDirection::kNoneThreshold && HeadingOnScreen(mapping, dx, dy)) {
        const double degrees = std::atan2(dx, -dy) * 180.0 / M_PI;  // clockwise from up
        direction = int(std::lround((degrees < 0 ? degrees + 360.0 : degrees) / kHeadingStep)) % (360 / kHeadingStep);
    }
    const Sprite& sprite = TriangleSprite(colour, direction, IsClassB(), IsSelected(), u);
    painter->drawImage(QPointF(std::round(c.x() - sprite.origin.x()), std::round(c.y() - sprite.origin.y())),
                       sprite.image);
    if (antialiased) painter->setRenderHint(QPainter::Antialiasing, true);
}
