// SPDX-License-Identifier: GPL-3.0-or-later
// Track sections on the chart: mapping, drawing and taps.

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

#include "charts/georef.h"
#include "core/display_metrics.h"
#include "overlays/track.h"

namespace {

Qt::PenStyle PenStyleOf(int pattern) {
    switch (pattern) {
        case 1:
            return Qt::DashLine;
        case 2:
            return Qt::DotLine;
        case 3:
            return Qt::DashDotLine;
        case 4:
            return Qt::DashDotDotLine;
        default:
            return Qt::SolidLine;
    }
}

bool IsPlaceholder(const DblPoint& p) {
    return p.x == 0 && p.y == 0;
}

// Points closer than this to the last one drawn add nothing a viewer could see; a long
// track seen whole is mostly such points.
constexpr double kMinScreenStep2 = 0.8 * 0.8;

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
    const QPen pen(QColor(c.r, c.g, c.b, c.a), std::max(1.0, double(m_track->getLineWidth()) * res),
                   PenStyleOf(m_track->getLineStyle()), Qt::RoundCap, Qt::RoundJoin);
    if (painter->pen() != pen) painter->setPen(pen);
    if (painter->brush().style() != Qt::NoBrush) painter->setBrush(Qt::NoBrush);

    // Pieces of line between unmapped points, without the points that would not show.
    QPolygonF piece;
    piece.reserve(int(mapping.screen.size()));
    auto flush = [&]() {
        if (piece.size() >= 2) painter->drawPolyline(piece);
        piece.clear();
    };
    const size_t n = mapping.screen.size();
    for (size_t i = 0; i < n; ++i) {
        if (IsPlaceholder(mapping.points[i])) {
            flush();
            continue;
        }
        const QPointF q(mapping.screen[i].x, mapping.screen[i].y);
        if (!piece.isEmpty() && i + 1 < n) {
            const QPointF d = q - piece.back();
            if (d.x() * d.x() + d.y() * d.y() < kMinScreenStep2) continue;
        }
        piece << q;
    }
    flush();
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
