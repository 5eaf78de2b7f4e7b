// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pixel <-> geographic mapping of a chart: two pairs of cubic polynomials, one pair per
// direction, as the chart header stores them.

#include "core/geometry.h"

// The 40 coefficients exactly as stored: x(lat, lon), y(lat, lon), lat(x, y), lon(x, y),
// ten each, for the cubic c0 + c1 a + c2 b + c3 a^2 + c4 ab + c5 b^2 + c6 a^3 + c7 a^2 b
// + c8 a b^2 + c9 b^3.
struct Geo_ref_coeff_t {
    double forward[2][10] = {};  // x and y in (latitude, longitude)
    double inverse[2][10] = {};  // latitude and longitude in (x, y)

    // Evaluates the two cubics c[0] and c[1] at (a, b).
    static void polynomial(double a, double b, double& out1, double& out2, const double c[2][10]);

    // Inverse cubics followed by one refinement step through the forward ones, which removes
    // most of the disagreement between the two fits.
    void xy_to_latlong(double x, double y, double& lat, double& lon) const;
    // Forward cubics after moving the longitude to within 180 degrees of `centre_lon`.
    void latlong_to_xy(double lat, double lon, double& x, double& y, double centre_lon) const;
    // Length of one pixel at (x, y) in minutes of latitude, i.e. nautical miles.
    double get_scale(double x, double y) const;

    // Moves `lon` by 360 degrees when it lies more than 180 degrees from `centre_lon`.
    static double wrap(double lon, double centre_lon);

    // Loads from 40 little-endian doubles (320 bytes) as found in the header.
    void LoadFromBytes(const unsigned char* bytes);
};

// A self-contained copy of a chart's mapping that views and painters can keep without
// holding the chart open. Cheap to copy.
class CPolynomialProjection {
public:
    bool valid = false;
    double forward[2][10] = {};
    double inverse[2][10] = {};
    double dlat = 0;  // datum shift, added to every pixel-to-geographic result
    double dlon = 0;
    double centre_lon = 0;
    int width = 0;  // image size in pixels
    int height = 0;

    void init(const double fwd[2][10], const double inv[2][10], int w, int h, double shift_lat, double shift_lon);

    void xy_to_latlong(double x, double y, double& lat, double& lon) const;
    void latlong_to_xy(double lat, double lon, double& x, double& y) const;
    // False and (-1, -1) when the pixel is absurdly far away (beyond about 2e9).
    bool latlong_to_xy(double lat, double lon, FPoint& p) const;
    // Always stores the truncated pixel; true only when it lies inside the image.
    bool latlong_to_xy_clipped(double lat, double lon, POINT& p) const;
    double get_scale(double x, double y) const;

private:
    Geo_ref_coeff_t coeffs() const;
};

// Truncates toward zero into `p` when both coordinates are small enough for an int pixel
// (x^2 and y^2 below 4e18); otherwise (-1, -1) and false. NaN counts as too large.
bool PixelToPOINT(double x, double y, POINT& p);
