// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/overlayobject.h"

#include <QTransform>
#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "core/pubsub.h"
#include "core/threadcheck.h"

namespace {

// Numbers of live objects. The numbers are handed out round-robin so that a number is
// not reused straight after its object died: a view that has not yet processed the
// destruction must not mistake a new object for the old one.
struct OrderNumbers {
    std::unordered_set<uint32_t> live;
    uint32_t next = 1;

    uint32_t Take() {
        // The 28-bit space is far larger than any set of overlays a device can hold,
        // so this loop ends after a step or two in practice.
        for (;;) {
            const uint32_t n = next;
            next = (next + 1) & COverlayObject::kNumberMask;
            if (live.insert(n).second) return n;
        }
    }
};

OrderNumbers& Numbers() {
    static OrderNumbers numbers;
    return numbers;
}

double Dist2(double ax, double ay, double bx, double by) {
    const double dx = ax - bx;
    const double dy = ay - by;
    return dx * dx + dy * dy;
}

// Squared distance from (x, y) to the segment a-b.
double SegmentDist2(double x, double y, const DblPoint& a, const DblPoint& b) {
    const double vx = b.x - a.x;
    const double vy = b.y - a.y;
    const double len2 = vx * vx + vy * vy;
    if (len2 <= 0) return Dist2(x, y, a.x, a.y);
    double t = ((x - a.x) * vx + (y - a.y) * vy) / len2;
    t = std::clamp(t, 0.0, 1.0);
    return Dist2(x, y, a.x + t * vx, a.y + t * vy);
}

bool IsPlaceholder(const DblPoint& p) {
    return p.x == 0 && p.y == 0;
}

// Whether the polyline passes strictly nearer than sqrt(r2) to (x, y). Points whose image
// point is an unmapped placeholder are not part of the line: a leg to or from one would
// run to wherever the image origin happens to be on screen.
bool pointIsNearerThan(const std::vector<DblPoint>& line, const std::vector<DblPoint>& image, double x, double y,
                       double r2) {
    const bool checkImage = image.size() == line.size();
    auto usable = [&](size_t i) { return !checkImage || !IsPlaceholder(image[i]); };
    if (line.size() == 1) return usable(0) && Dist2(x, y, line[0].x, line[0].y) < r2;
    for (size_t i = 1; i < line.size(); ++i) {
        if (usable(i - 1) && usable(i) && SegmentDist2(x, y, line[i - 1], line[i]) < r2) return true;
    }
    return false;
}

}  // namespace

FRect COverlayObject::CViewParams::ImageToScreen(const FRect& r) const {
    const FPoint a = ImageToScreen(r.left, r.top);
    const FPoint b = ImageToScreen(r.right, r.bottom);
    return FRect(a.x, a.y, b.x, b.y);
}

FRect COverlayObject::CViewParams::ScreenToImage(const FRect& r) const {
    const DblPoint a = ScreenToImage(r.left, r.top);
    const DblPoint b = ScreenToImage(r.right, r.bottom);
    return FRect(a.x, a.y, b.x, b.y);
}

void COverlayObject::CViewParams::ApplyDelta(double& dx, double& dy) {
    if (!(scale > 0) || !std::isfinite(scale)) {
        dx = dy = 0;
        return;
    }
    const double oldX = offset_x;
    const double oldY = offset_y;
    if (mode < 1) {
        offset_x = std::round(offset_x - dx / scale);
        offset_y = std::round(offset_y - dy / scale);
    } else {
        offset_x = std::round(offset_x * scale - dx) / scale;
        offset_y = std::round(offset_y * scale - dy) / scale;
    }
    dx = (oldX - offset_x) * scale;
    dy = (oldY - offset_y) * scale;
}

void COverlayObject::CViewParams::AdjustOffset(double sx, double sy, double ix, double iy) {
    if (!(scale > 0) || !std::isfinite(scale)) return;
    if (mode < 1) {
        offset_x = std::round(ix - sx / scale);
        offset_y = std::round(iy - sy / scale);
    } else {
        offset_x = std::round(ix * scale - sx) / scale;
        offset_y = std::round(iy * scale - sy) / scale;
    }
}

void COverlayObject::CMapping::clear() {
    points.clear();
    screen.clear();
    kind = HIT_NEVER;
    count = 0;
    bounds = FRect(kNoBound, kNoBound, kNoBound, kNoBound);
}

void COverlayObject::CMapping::set_bounds() {
    bounds = FRect(kNoBound, kNoBound, -kNoBound, -kNoBound);
    for (const DblPoint& p : points) {
        if (IsPlaceholder(p)) continue;
        bounds.left = std::min(bounds.left, p.x);
        bounds.right = std::max(bounds.right, p.x);
        bounds.top = std::min(bounds.top, p.y);
        bounds.bottom = std::max(bounds.bottom, p.y);
    }
}

bool COverlayObject::CMapping::Overlaps(const FRect& r) const {
    // Closed on every edge: a single point has a zero-size box and must still count.
    return bounds.left <= r.right && bounds.right >= r.left && bounds.top <= r.bottom && bounds.bottom >= r.top;
}

bool COverlayObject::CMapping::map_to_screen(const CViewParams& view) {
    if (!points.empty() && Overlaps(view.visible)) {
        screen.resize(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            const FPoint s = view.ImageToScreen(points[i].x, points[i].y);
            screen[i] = DblPoint(s.x, s.y);
        }
        if (object) object->MapToScreen(*this);
        return true;
    }
    // Stale screen points from an earlier view must not be drawn or hit.
    screen.clear();
    return kind == HIT_ALWAYS;
}

bool COverlayObject::CMapping::map_to_screen(const QTransform& transform, const FRect& visible) {
    if (!points.empty() && Overlaps(visible)) {
        screen.resize(points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            qreal sx = 0;
            qreal sy = 0;
            transform.map(points[i].x, points[i].y, &sx, &sy);
            screen[i] = DblPoint(sx, sy);
        }
        if (object) object->MapToScreen(*this);
        return true;
    }
    screen.clear();
    return kind == HIT_ALWAYS;
}

bool COverlayObject::CMapping::HitTest_mapped(double x, double y, double r2) const {
    switch (kind) {
        case HIT_POLYLINE:
            return pointIsNearerThan(screen, points, x, y, r2);
        case HIT_ALWAYS:
            return true;
        case HIT_POINTS: {
            const size_t n = std::min(screen.size(), size_t(std::max(count, 0)));
            const bool checkImage = points.size() == screen.size();
            for (size_t i = 0; i < n; ++i) {
                if (checkImage && IsPlaceholder(points[i])) continue;
                if (Dist2(x, y, screen[i].x, screen[i].y) < r2) return true;
            }
            return false;
        }
        default:
            return false;
    }
}

COverlayObject::COverlayObject(unsigned layer, object_type type)
    : m_orderKey(((layer & 0xFu) << kLayerShift) | Numbers().Take()), m_type(type) {}

COverlayObject::~COverlayObject() {
    Dispatch(UPDATE_DESTROYED);
    Numbers().live.erase(m_orderKey & kNumberMask);
}

void COverlayObject::Dispatch(update_action action) {
    NV_ASSERT_GUI_THREAD();
    if (m_state == UPDATE_DESTROYED) return;
    m_state = action;
    Listener<COverlayObject>::Publish(*this);
}

namespace {
bool g_editingToolActive = false;
}  // namespace

bool COverlayObject::EditingToolActive() {
    return g_editingToolActive;
}

void COverlayObject::SetEditingToolActive(bool active) {
    g_editingToolActive = active;
}

size_t COverlayObject::LiveObjectCount() {
    return Numbers().live.size();
}
