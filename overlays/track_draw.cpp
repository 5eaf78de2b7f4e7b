// SPDX-License-Identifier: GPL-3.0-or-later
// Track sections on the chart: mapping, drawing and taps.

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>
#include <vector>

#include "charts/georef.h"
#include "core/display_metrics.h"
#include "overlays/linestyle.h"
#include "overlays/track.h"

namespace {

// The least screen step worth drawing, in pixels squared.
constexpr double kMinScreenStep2 = 0.8 * 0.8;
// Sections whose drawn steps average less than this many pixels are drawn as hairlines,
// with steps of at least kScribbleMinStep2 (squared pixels).
constexpr double kScribbleStep = 4.0;
constexpr double kScribbleMinStep2 = 3.0 * 3.0;

// Drops points nearer than sqrt(min2) to the last one kept; the last point stays.
void Thin(QPolygonF& line, double min2) {
    if (line.size() < 3) return;
    int kept = 1;
    for (int i = 1; i < line.size(); ++i) {
        const QPointF d = line[i] - line[kept - 1];
        if (i + 1 < line.size() && d.x() * d.x() + d.y() * d.y() < min2) continue;
        line[kept++] = line[i];
    }
    line.resize(kept);
}

}  // namespace

void CTrackSection::Map(CMapping& mapping, const CPolynomialProjection& projection) const {
    mapping.clear();
    mapping.points.reserve(size_t(m_count));
    for (int i = 0; i < m_count; ++i) {
        FPoint p;
        if (!projection.latlong_to_xy(m_points[size_t(i)].lat, m_points[size_t(i)].lon, p)) {
            mapping.points.emplace_back(0, 0);
            continue;
        }
        // (0, 0) stands for "unmapped"; a point that really lands there moves a hair.
        if (p.x == 0 && p.y == 0) p.x = 1e-9;
        mapping.points.emplace_back(p.x, p.y);
    }
    mapping.kind = CMapping::HIT_POLYLINE;
    mapping.count = int(mapping.points.size());
    mapping.set_bounds();
}

void CTrackSection::Draw(QPainter* painter, CMapping& mapping) const {
    if (!painter || !m_track || mapping.screen.size() < 2 || mapping.screen.size() != mapping.points.size()) return;
    const GraphicsColor& c = m_track->getLineColor();
    const double res = graphicsResolution > 0 ? graphicsResolution : 1.0;
    const double width = std::max(1.0, double(m_track->getLineWidth()) * res);
    // Points closer than a line width to the last one drawn change nothing a viewer could
    // see; a long track seen whole is mostly such points.
    const double minStep2 = std::max(kMinScreenStep2, width * width);

    // Pieces of line between unmapped points, without the points that would not show.
    std::vector<QPolygonF> pieces(1);
    double length = 0;
    size_t segments = 0;
    const size_t n = mapping.screen.size();
    for (size_t i = 0; i < n; ++i) {
        if (IsPlaceholder(mapping.points[i])) {
            if (!pieces.back().isEmpty()) pieces.emplace_back();
            continue;
        }
        const QPointF q(mapping.screen[i].x, mapping.screen[i].y);
        QPolygonF& piece = pieces.back();
        if (!piece.isEmpty()) {
            const QPointF d = q - piece.back();
            const double d2 = d.x() * d.x() + d.y() * d.y();
            if (d2 < minStep2 && i + 1 < n) continue;
            length += std::sqrt(d2);
            ++segments;
        }
        piece << q;
    }
    if (segments == 0) return;
    // Zoomed far out a track is a scribble of steps a few pixels long. Stroking each at
    // full width costs some fifty times what a hairline does and shows little more, so
    // such a section is drawn as a hairline (two side by side for a wide line).
    const bool scribble = length < kScribbleStep * double(segments);
    QPen pen(QColor(c.r, c.g, c.b, c.a), scribble ? 0.0 : width, PenStyleOf(m_track->getLineStyle()), Qt::RoundCap,
             Qt::RoundJoin);
    if (scribble) pen.setCosmetic(true);
    if (painter->pen() != pen) painter->setPen(pen);
    if (painter->brush().style() != Qt::NoBrush) painter->setBrush(Qt::NoBrush);
    for (QPolygonF& piece : pieces) {
        if (scribble) Thin(piece, kScribbleMinStep2);
        if (piece.size() < 2) continue;
        painter->drawPolyline(piece);
        if (scribble && width >= 2.5) {
            piece.translate(0.7, 0.7);
            painter->drawPolyline(piece);
        }
    }
}

bool CTrackSection::onTap(CQuickChartView* view, const FPoint& /*screen*/, const DblPoint& image) {
    if (!m_track) return false;
    if (ITrackUi* ui = COverlayTrack::Ui()) return ui->TrackTapped(view, *this, image);
    SetStatusMessage(m_track->getSummaryLabel());
    return true;
}

void CTrackSection::onMenuDown(NV_HWND hwnd) {
    if (m_track && COverlayTrack::Ui()) COverlayTrack::Ui()->ShowTrackMenu(hwnd, *m_track);
}
