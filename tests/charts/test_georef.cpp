// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include "charts/georef.h"

namespace {

// A projection over lon w..e, lat n..s, exact inverses, `px` pixels per degree.
CPolynomialProjection Linear(double north, double west, double px, int w, int h, double dlat = 0, double dlon = 0) {
    double f[2][10] = {}, g[2][10] = {};
    f[0][0] = -west * px;
    f[0][2] = px;
    f[1][0] = north * px;
    f[1][1] = -px;
    g[0][0] = north;
    g[0][2] = -1 / px;
    g[1][0] = west;
    g[1][1] = 1 / px;
    CPolynomialProjection p;
    p.init(f, g, w, h, dlat, dlon);
    return p;
}

TEST(Georef, ExactInversesRoundTripAndScale) {
    const auto p = Linear(51, -2, 1000, 2000, 1000);
    for (double x : {0.0, 17.25, 1999.0})
        for (double y : {0.0, 500.5, 999.0}) {
            double lat, lon, x2, y2;
            p.xy_to_latlong(x, y, lat, lon);
            p.latlong_to_xy(lat, lon, x2, y2);
            EXPECT_NEAR(x2, x, 1e-9);
            EXPECT_NEAR(y2, y, 1e-9);
        }
    // 1/1000 degree of latitude per pixel = 0.06 minutes = 0.06 NM.
    EXPECT_NEAR(p.get_scale(100, 100), 0.06, 1e-12);
}

TEST(Georef, NonlinearRefinementIsOneNewtonStep) {
    Geo_ref_coeff_t c;
    // x = 100 lon + 0.5 lon^2, y = -100 lat; inverse fit only to first order.
    c.forward[0][2] = 100;
    c.forward[0][5] = 0.5;
    c.forward[1][1] = -100;
    c.inverse[0][2] = -0.01;
    c.inverse[1][1] = 0.01;
    const double x = 300, y = -200;
    double lat, lon;
    c.xy_to_latlong(x, y, lat, lon);
    // By hand: first guess lon 3, lat 2; forward gives x' = 304.5, y' = -200; refined input
    // (295.5, -200) -> lon 2.955, lat 2.
    EXPECT_DOUBLE_EQ(lon, 2.955);
    EXPECT_DOUBLE_EQ(lat, 2.0);
    // The refinement improves on the first guess but is not exact.
    double x2, y2;
    c.latlong_to_xy(lat, lon, x2, y2, 0);
    EXPECT_LT(std::fabs(x2 - x), 4.5);
    EXPECT_GT(std::fabs(x2 - x), 1e-6);
    // Scale uses the latitude cubic's gradient: d lat/dx = 0, d lat/dy = -0.01.
    EXPECT_NEAR(c.get_scale(5, 5), 0.6, 1e-12);
}

TEST(Georef, LongitudesAreKeptNearTheCentre) {
    // Centred at 179.5 E: -179 is 181 E.
    auto east = Linear(0, 179, 100, 100, 100);
    EXPECT_DOUBLE_EQ(east.centre_lon, 179.5);
    double x, y;
    east.latlong_to_xy(-0.5, -179, x, y);
    EXPECT_NEAR(x, 200, 1e-9);
    // Centred at -179.5: 179 is -181.
    auto west = Linear(0, -180, 100, 100, 100);
    EXPECT_DOUBLE_EQ(west.centre_lon, -179.5);
    west.latlong_to_xy(-0.5, 179, x, y);
    EXPECT_NEAR(x, -100, 1e-9);
    // Exactly 180 degrees away is not moved.
    EXPECT_DOUBLE_EQ(Geo_ref_coeff_t::wrap(-0.5, 179.5), -0.5);
    EXPECT_DOUBLE_EQ(Geo_ref_coeff_t::wrap(-0.6, 179.5), 359.4);
    EXPECT_DOUBLE_EQ(Geo_ref_coeff_t::wrap(NAN, 0) != Geo_ref_coeff_t::wrap(NAN, 0), true);
}

TEST(Georef, PointConversionsRefuseFarAndClipToTheImage) {
    auto p = Linear(0, 0, 1e9, 100, 50);  // 1e9 px per degree: 3 degrees is 3e9 px
    FPoint fp;
    EXPECT_FALSE(p.latlong_to_xy(0, 3, fp));
    EXPECT_EQ(fp, FPoint(-1, -1));
    POINT pt;
    double x, y;
    p.latlong_to_xy(0, 3, x, y);
    EXPECT_FALSE(PixelToPOINT(x, y, pt));
    EXPECT_EQ(pt, POINT(-1, -1));
    EXPECT_FALSE(PixelToPOINT(NAN, 0, pt));
    EXPECT_TRUE(PixelToPOINT(-1.9e9, 12.9, pt));
    EXPECT_EQ(pt, POINT(-1900000000, 12));

    auto q = Linear(0, 0, 100, 100, 50);
    EXPECT_TRUE(q.latlong_to_xy_clipped(-0.1, -0.005, pt));  // x = -0.5 truncates to 0
    EXPECT_EQ(pt, POINT(0, 10));
    EXPECT_FALSE(q.latlong_to_xy_clipped(-0.1, 1.0, pt));  // x = width
    EXPECT_EQ(pt, POINT(100, 10));
    EXPECT_FALSE(q.latlong_to_xy_clipped(-0.1, 1e30, pt));  // clamped, never undefined
}

TEST(Georef, DatumShiftMovesEveryPixel) {
    const auto plain = Linear(51, -2, 1000, 2000, 1000);
    const auto shifted = Linear(51, -2, 1000, 2000, 1000, 0.001, -0.002);
    double lat0, lon0, lat1, lon1;
    plain.xy_to_latlong(123, 456, lat0, lon0);
    shifted.xy_to_latlong(123, 456, lat1, lon1);
    EXPECT_NEAR(lat1 - lat0, 0.001, 1e-12);
    EXPECT_NEAR(lon1 - lon0, -0.002, 1e-12);
    double x, y;
    shifted.latlong_to_xy(lat1, lon1, x, y);
    EXPECT_NEAR(x, 123, 1e-7);
    EXPECT_NEAR(y, 456, 1e-7);
}

}  // namespace
