// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void CBounds::Add(double x, double y) {
    xmin = std::min(xmin, x);
    xmax = std::max(xmax, x);
    ymin = std::min(ymin, y);
    ymax = std::max(ymax, y);
}

void CBounds::Add(const CBounds& b) {
    if (!b.IsValid()) return;
    Add(b.xmin, b.ymin);
    Add(b.xmax, b.ymax);
}

bool CBounds::Intersects(const CBounds& b) const {
    return IsValid() && b.IsValid() && b.xmin <= xmax && b.xmax >= xmin && b.ymin <= ymax && b.ymax >= ymin;
}

bool CPolyline::doesContain(double x, double y) const {
    const size_t n = vertices.size();
    if (n < 3) return false;
    int winding = 0;
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
        const Vertex& a = vertices[j];
        const Vertex& b = vertices[i];
        if (a.y <= y) {
            if (b.y > y) {
                const double cross = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
                if (cross > 0) ++winding;
            }
        } else if (b.y <= y) {
            const double cross = (b.x - a.x) * (y - a.y) - (x - a.x) * (b.y - a.y);
            if (cross < 0) --winding;
        }
    }
    return winding != 0;
}

CBounds CPolyline::GetBounds() const {
    CBounds b;
    for (const Vertex& v : vertices) b.Add(v.x, v.y);
    return b;
}

namespace {

double Orient(const Vertex& a, const Vertex& b, const Vertex& c) {
    return (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
}

// Proper or touching intersection of segments ab and cd.
bool SegmentsCross(const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d) {
    const double d1 = Orient(c, d, a), d2 = Orient(c, d, b);
    const double d3 = Orient(a, b, c), d4 = Orient(a, b, d);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
    auto onSeg = [](const Vertex& p, const Vertex& q, const Vertex& r) {
        return std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) && std::min(p.y, q.y) <= r.y &&
               r.y <= std::max(p.y, q.y);
    };
    if (d1 == 0 && onSeg(c, d, a)) return true;
    if (d2 == 0 && onSeg(c, d, b)) return true;
    if (d3 == 0 && onSeg(a, b, c)) return true;
    if (d4 == 0 && onSeg(a, b, d)) return true;
    return false;
}

bool AnyEdgesCross(const CPolygon& p, const CPolygon& q) {
    const size_t n = p.size(), m = q.size();
    if (n < 2 || m < 2) return false;
    for (size_t i = 0, pi = n - 1; i < n; pi = i++)
        for (size_t j = 0, pj = m - 1; j < m; pj = j++)
            if (SegmentsCross(p[pi], p[i], q[pj], q[j])) return true;
    return false;
}

}  // namespace

bool CPolygon::Overlaps(const CPolygon& other) const {
    if (size() < 3 || other.size() < 3) return false;
    if (!GetBounds().Intersects(other.GetBounds())) return false;
    if (AnyEdgesCross(*this, other)) return true;
    // No edges cross: either one lies inside the other or they are apart.
    return doesContain(other[0].x, other[0].y) || other.doesContain(vertices[0].x, vertices[0].y);
}

bool CPolygon::Encloses(const CPolygon& other) const {
    if (size() < 3 || other.empty()) return false;
    for (const Vertex& v : other.vertices)
        if (!doesContain(v.x, v.y)) return false;
    return other.size() < 2 || !AnyEdgesCross(*this, other);
}

bool CPolygon::Encloses(const CBounds& b) const {
    return b.IsValid() && Encloses(FromBounds(b));
}

bool CPolygon::Overlaps(const CBounds& b) const {
    return b.IsValid() && Overlaps(FromBounds(b));
}

CPolygon CPolygon::FromBounds(const CBounds& b) {
    CPolygon p;
    p.Add(b.xmin, b.ymin);
    p.Add(b.xmax, b.ymin);
    p.Add(b.xmax, b.ymax);
    p.Add(b.xmin, b.ymax);
    return p;
}

double CPolygon::Area() const {
    double a = 0;
    const size_t n = vertices.size();
    for (size_t i = 0, j = n ? n - 1 : 0; i < n; j = i++)
        a += vertices[j].x * vertices[i].y - vertices[i].x * vertices[j].y;
    return a / 2;
}

// WGS84 series for the length of a degree; accurate to centimetres.
double CSimpleGrid::MetresPerDegreeLatAt(double lat) {
    const double p = lat * M_PI / 180.0;
    return 111132.92 - 559.82 * std::cos(2 * p) + 1.175 * std::cos(4 * p) - 0.0023 * std::cos(6 * p);
}

double CSimpleGrid::MetresPerDegreeLonAt(double lat) {
    const double p = lat * M_PI / 180.0;
    return 111412.84 * std::cos(p) - 93.5 * std::cos(3 * p) + 0.118 * std::cos(5 * p);
}

void CSimpleGrid::SetOrigin(double lat0, double lon0) {
    m_lat0 = lat0;
    m_lon0 = lon0;
    m_mPerDegLat = MetresPerDegreeLatAt(lat0);
    m_mPerDegLon = MetresPerDegreeLonAt(lat0);
    m_scaleLat = lat0;
}

void CSimpleGrid::FollowOrigin(double lat0, double lon0, double tolerance) {
    if (!(std::abs(lat0 - m_scaleLat) <= tolerance)) {
        SetOrigin(lat0, lon0);
        return;
    }
    m_lat0 = lat0;
    m_lon0 = lon0;
}

void CSimpleGrid::ToGrid(double lat, double lon, double& x, double& y) const {
    double dlon = lon - m_lon0;
    if (dlon > 180)
        dlon -= 360;
    else if (dlon < -180)
        dlon += 360;
    x = dlon * m_mPerDegLon;
    y = (lat - m_lat0) * m_mPerDegLat;
}

void CSimpleGrid::FromGrid(double x, double y, double& lat, double& lon) const {
    lat = m_lat0 + y / m_mPerDegLat;
    lon = m_lon0 + (m_mPerDegLon != 0 ? x / m_mPerDegLon : 0);
    if (lon > 180)
        lon -= 360;
    else if (lon < -180)
        lon += 360;
}

double CSimpleGrid::Distance(double lat1, double lon1, double lat2, double lon2) const {
    double x1, y1, x2, y2;
    ToGrid(lat1, lon1, x1, y1);
    ToGrid(lat2, lon2, x2, y2);
    return std::hypot(x2 - x1, y2 - y1);
}

std::string GraphicsColor::ToString() const {
    char buf[16];
    std::snprintf(buf, sizeof buf, "#%02X%02X%02X%02X", a, r, g, b);
    return buf;
}

bool GraphicsColor::FromString(const std::string& s) {
    if (s.empty() || s[0] != '#') return false;
    int d[8];
    const size_t n = s.size() - 1;
    if (n != 3 && n != 4 && n != 6 && n != 8) return false;
    for (size_t i = 0; i < n; ++i) {
        const char c = s[i + 1];
        if (c >= '0' && c <= '9')
            d[i] = c - '0';
        else if (c >= 'a' && c <= 'f')
            d[i] = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d[i] = c - 'A' + 10;
        else
            return false;
    }
    switch (n) {
        case 3:
            *this = GraphicsColor(d[0] * 16, d[1] * 16, d[2] * 16, 255);
            break;
        case 4:
            *this = GraphicsColor(d[1] * 16, d[2] * 16, d[3] * 16, d[0] * 16);
            break;
        case 6:
            *this = GraphicsColor(d[0] * 16 + d[1], d[2] * 16 + d[3], d[4] * 16 + d[5], 255);
            break;
        case 8:
            *this = GraphicsColor(d[2] * 16 + d[3], d[4] * 16 + d[5], d[6] * 16 + d[7], d[0] * 16 + d[1]);
            break;
    }
    return true;
}

namespace {
uint8_t ToByte(float f) {
    if (!(f > 0)) return 0;  // also catches NaN
    if (f >= 1) return 255;
    return uint8_t(std::lround(f * 255.0f));
}
}  // namespace

void GraphicsColor::SetFloats(float red, float green, float blue, float alpha) {
    r = ToByte(red);
    g = ToByte(green);
    b = ToByte(blue);
    a = ToByte(alpha);
}

void GraphicsColor::GetFloats(float& red, float& green, float& blue, float& alpha) const {
    red = r / 255.0f;
    green = g / 255.0f;
    blue = b / 255.0f;
    alpha = a / 255.0f;
}
