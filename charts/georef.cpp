// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/georef.h"

#include <cmath>
#include <cstring>

void Geo_ref_coeff_t::polynomial(double a, double b, double& out1, double& out2, const double c[2][10]) {
    const double a2 = a * a, ab = a * b, b2 = b * b;
    const double a3 = a2 * a, a2b = a2 * b, ab2 = a * b2, b3 = b2 * b;
    const double* p = c[0];
    out1 = p[0] + p[1] * a + p[2] * b + p[3] * a2 + p[4] * ab + p[5] * b2 + p[6] * a3 + p[7] * a2b + p[8] * ab2 +
           p[9] * b3;
    p = c[1];
    out2 = p[0] + p[1] * a + p[2] * b + p[3] * a2 + p[4] * ab + p[5] * b2 + p[6] * a3 + p[7] * a2b + p[8] * ab2 +
           p[9] * b3;
}

void Geo_ref_coeff_t::xy_to_latlong(double x, double y, double& lat, double& lon) const {
    double lat1, lon1, x1, y1;
    polynomial(x, y, lat1, lon1, inverse);
    polynomial(lat1, lon1, x1, y1, forward);
    polynomial(2 * x - x1, 2 * y - y1, lat, lon, inverse);
}

double Geo_ref_coeff_t::wrap(double lon, double centre_lon) {
    const double d = lon - centre_lon;
    if (d * d > 32400.0) lon += d < 0 ? 360.0 : -360.0;
    return lon;
}

void Geo_ref_coeff_t::latlong_to_xy(double lat, double lon, double& x, double& y, double centre_lon) const {
    polynomial(lat, wrap(lon, centre_lon), x, y, forward);
}

double Geo_ref_coeff_t::get_scale(double x, double y) const {
    const double* g = inverse[0];
    const double dx = g[1] + 2 * g[3] * x + g[4] * y + 3 * g[6] * x * x + 2 * g[7] * x * y + g[8] * y * y;
    const double dy = g[2] + g[4] * x + 2 * g[5] * y + g[7] * x * x + 2 * g[8] * x * y + 3 * g[9] * y * y;
    return 60.0 * std::sqrt(dx * dx + dy * dy);
}

void Geo_ref_coeff_t::LoadFromBytes(const unsigned char* bytes) {
    // The file is little-endian like every platform this runs on; copying bytes avoids
    // unaligned double loads.
    double all[40];
    std::memcpy(all, bytes, sizeof all);
    std::memcpy(forward, all, sizeof forward);
    std::memcpy(inverse, all + 20, sizeof inverse);
}

bool PixelToPOINT(double x, double y, POINT& p) {
    if (x * x < 4e18 && y * y < 4e18) {
        // |x| < 2e9 < 2^31, so the conversion is defined.
        p = POINT(static_cast<int>(x), static_cast<int>(y));
        return true;
    }
    p = POINT(-1, -1);
    return false;
}

void CPolynomialProjection::init(const double fwd[2][10], const double inv[2][10], int w, int h, double shift_lat,
                                 double shift_lon) {
    std::memcpy(forward, fwd, sizeof forward);
    std::memcpy(inverse, inv, sizeof inverse);
    width = w;
    height = h;
    dlat = shift_lat;
    dlon = shift_lon;
    valid = true;
    double lat;
    centre_lon = 0;
    xy_to_latlong(w / 2, h / 2, lat, centre_lon);
}

Geo_ref_coeff_t CPolynomialProjection::coeffs() const {
    Geo_ref_coeff_t c;
    std::memcpy(c.forward, forward, sizeof forward);
    std::memcpy(c.inverse, inverse, sizeof inverse);
    return c;
}

void CPolynomialProjection::xy_to_latlong(double x, double y, double& lat, double& lon) const {
    coeffs().xy_to_latlong(x, y, lat, lon);
    lat += dlat;
    lon += dlon;
}

void CPolynomialProjection::latlong_to_xy(double lat, double lon, double& x, double& y) const {
    const double lon1 = Geo_ref_coeff_t::wrap(lon - dlon, centre_lon);
    Geo_ref_coeff_t::polynomial(lat - dlat, lon1, x, y, forward);
}

bool CPolynomialProjection::latlong_to_xy(double lat, double lon, FPoint& p) const {
    double x, y;
    latlong_to_xy(lat, lon, x, y);
    if (x * x < 4e18 && y * y < 4e18) {
        p = FPoint(static_cast<float>(x), static_cast<float>(y));
        return true;
    }
    p = FPoint(-1, -1);
    return false;
}

bool CPolynomialProjection::latlong_to_xy_clipped(double lat, double lon, POINT& p) const {
    double x, y;
    latlong_to_xy(lat, lon, x, y);
    // Out-of-range values are clamped before truncation so that the conversion is defined;
    // such points are outside the image anyway.
    auto trunc = [](double v) -> int {
        if (!(v > -2e9)) return v != v ? -1 : -2000000000;
        if (v > 2e9) return 2000000000;
        return static_cast<int>(v);
    };
    p = POINT(trunc(x), trunc(y));
    return p.x >= 0 && p.x < width && p.y >= 0 && p.y < height;
}

double CPolynomialProjection::get_scale(double x, double y) const { return coeffs().get_scale(x, y); }
