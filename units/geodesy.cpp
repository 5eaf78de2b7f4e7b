// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/geodesy.h"

#include <cmath>

void ellipsoid::init(double semiMajor, double semiMinor) {
    a = semiMajor;
    b = semiMinor;
    e2 = (a * a - b * b) / (a * a);
    n = (a - b) / (a + b);
    r = (a + b) / 2;
}

void ellipsoid::init(double semiMajor, double semiMinor, double lat) {
    init(semiMajor, semiMinor);
    set_lat(lat);
}

void ellipsoid::set_lat(double lat) {
    const double s = std::sin(lat * kDegToRad);
    r = a / std::sqrt(1 - e2 * s * s);
}

void ellipsoid::lat_long_to_XYZ(double lat, double lon, double& X, double& Y, double& Z) const {
    const double phi = lat * kDegToRad;
    const double lam = lon * kDegToRad;
    X = r * std::cos(phi) * std::cos(lam);
    Y = r * std::cos(phi) * std::sin(lam);
    Z = (1 - e2) * r * std::sin(phi);
}

void ellipsoid::XYZ_to_lat_long(double X, double Y, double Z, double& lat, double& lon) const {
    const double p = std::hypot(X, Y);
    const double phi = std::atan2(Z + e2 * r * std::sin(std::atan2(Z, (1 - e2) * p)), p);
    lat = phi * kRadToDeg;
    lon = std::atan2(Y, X) * kRadToDeg;
}

void Helmert::init(double tx_, double ty_, double tz_, double rx_, double ry_, double rz_, double s_) {
    tx = tx_;
    ty = ty_;
    tz = tz_;
    rx = rx_;
    ry = ry_;
    rz = rz_;
    s = s_;
}

void Helmert::init_WGS84_to_OSGB36() {
    init(-446.448, 125.157, -542.06, -7.281901490265223e-07, -1.1974897923405526e-06, -4.082616008623398e-06,
         1.0000204894);
}

void Helmert::init_OSGB36_to_WGS84() {
    init(446.448, -125.157, 542.06, 7.281901490265223e-07, 1.1974897923405526e-06, 4.082616008623398e-06, 0.9999795106);
}

void Helmert::init_WGS84_to_Irish() {
    init(-482.53, 130.596, -564.557, 5.05175855716136e-06, 1.037501277574406e-06, 3.0591743278011687e-06, 0.99999185);
}

void Helmert::init_Irish_to_WGS84() {
    init(482.53, -130.596, 564.557, -5.05175855716136e-06, -1.037501277574406e-06, -3.0591743278011687e-06, 1.00000815);
}

void Helmert::transform(double& X, double& Y, double& Z) const {
    const double x = X, y = Y, z = Z;
    X = tx + s * x - rz * y + ry * z;
    Y = ty + rz * x + s * y - rx * z;
    Z = tz - ry * x + rx * y + s * z;
}

void utm_proj::init(double semiMajor, double semiMinor, double falseNorthing, double falseEasting, double scale,
                    double latOrigin, double lonOrigin) {
    ellipsoid::init(semiMajor, semiMinor);
    N0 = falseNorthing;
    E0 = falseEasting;
    F0 = scale;
    lat0 = latOrigin * kDegToRad;
    lon0 = lonOrigin * kDegToRad;
}

void utm_proj::init_OSGB() {
    init(6377563.396, 6356256.91, -100000, 400000, 0.9996012717, 49, -2);
}
void utm_proj::init_NAD27() {
    init(6378206.4, 6356583.8, 0, 500000, 0.9996, 0, 0);
}
void utm_proj::init_WGS84() {
    init(6378137.0, 6356752.3141, 0, 500000, 0.9996, 0, 0);
}
void utm_proj::init_Irish() {
    init(6377340.189, 6356034.447938534, 250000, 200000, 1.000035, 53.5, -8);
}
void utm_proj::init_NZTM() {
    init(6378137.0, 6356752.3141, 10000000, 1600000, 0.9996, 0, 173);
}

double utm_proj::marc(double bF0, double n, double lat0, double lat) {
    const double n2 = n * n, n3 = n2 * n;
    const double d = lat - lat0, s = lat + lat0;
    return bF0 * ((1 + n + 1.25 * n2 + 1.25 * n3) * d - (3 * n + 3 * n2 + 21.0 / 8 * n3) * std::sin(d) * std::cos(s) +
                  (15.0 / 8 * n2 + 15.0 / 8 * n3) * std::sin(2 * d) * std::cos(2 * s) -
                  35.0 / 24 * n3 * std::sin(3 * d) * std::cos(3 * s));
}

void utm_proj::lat_lon_to_E_N(double lat, double lon, double& E, double& N) const {
    const double phi = lat * kDegToRad;
    const double sinp = std::sin(phi), cosp = std::cos(phi), tanp = std::tan(phi);
    const double t2 = tanp * tanp, t4 = t2 * t2;
    const double aF0 = a * F0, bF0 = b * F0;
    const double w = 1 - e2 * sinp * sinp;
    const double nu = aF0 / std::sqrt(w);
    const double rho = aF0 * (1 - e2) * std::pow(w, -1.5);
    const double eta2 = nu / rho - 1;
    const double M = marc(bF0, n, lat0, phi);
    const double c3 = cosp * cosp * cosp, c5 = c3 * cosp * cosp;

    const double I = M + N0;
    const double II = nu / 2 * sinp * cosp;
    const double III = nu / 24 * sinp * c3 * (5 - t2 + 9 * eta2);
    const double IIIA = nu / 720 * sinp * c5 * (61 - 58 * t2 + t4);
    const double IV = nu * cosp;
    const double V = nu / 6 * c3 * (nu / rho - t2);
    const double VI = nu / 120 * c5 * (5 - 18 * t2 + t4 + 14 * eta2 - 58 * t2 * eta2);

    const double P = lon * kDegToRad - lon0;
    const double P2 = P * P;
    N = I + P2 * (II + P2 * (III + P2 * IIIA));
    E = E0 + P * (IV + P2 * (V + P2 * VI));
}

bool utm_proj::E_N_to_lat_lon(double E, double N, double& lat, double& lon) const {
    if (!std::isfinite(E) || !std::isfinite(N)) return false;
    const double aF0 = a * F0, bF0 = b * F0;
    double phi = (N - N0) / aF0 + lat0;
    double M = marc(bF0, n, lat0, phi);
    // Converges in a handful of steps anywhere on the ellipsoid; the cap only guards
    // against input far outside the projection.
    for (int i = 0; std::fabs(N - N0 - M) > 1e-7; ++i) {
        if (i >= 100) return false;
        phi += (N - N0 - M) / aF0;
        M = marc(bF0, n, lat0, phi);
    }
    const double sinp = std::sin(phi), cosp = std::cos(phi), tanp = std::tan(phi);
    const double t2 = tanp * tanp, t4 = t2 * t2, t6 = t4 * t2;
    const double w = 1 - e2 * sinp * sinp;
    const double nu = aF0 / std::sqrt(w);
    const double rho = aF0 * (1 - e2) * std::pow(w, -1.5);
    const double eta2 = nu / rho - 1;
    const double secp = 1 / cosp;
    const double nu3 = nu * nu * nu, nu5 = nu3 * nu * nu, nu7 = nu5 * nu * nu;

    const double VII = tanp / (2 * rho * nu);
    const double VIII = tanp / (24 * rho * nu3) * (5 + 3 * t2 + eta2 - 9 * t2 * eta2);
    const double IX = tanp / (720 * rho * nu5) * (61 + 90 * t2 + 45 * t4);
    const double X = secp / nu;
    const double XI = secp / (6 * nu3) * (nu / rho + 2 * t2);
    const double XII = secp / (120 * nu5) * (5 + 28 * t2 + 24 * t4);
    const double XIIA = secp / (5040 * nu7) * (61 + 662 * t2 + 1320 * t4 + 720 * t6);

    const double d = E - E0, d2 = d * d;
    const double phiOut = phi - d2 * (VII - d2 * (VIII - d2 * IX));
    const double lamOut = lon0 + d * (X - d2 * (XI - d2 * (XII - d2 * XIIA)));
    lat = phiOut * kRadToDeg;
    lon = lamOut * kRadToDeg;
    return std::isfinite(lat) && std::isfinite(lon);
}

void ConvertDatum(const ellipsoid& from, const Helmert& shift, const ellipsoid& to, double lat, double lon,
                  double& outLat, double& outLon) {
    ellipsoid src = from;
    src.set_lat(lat);
    double X, Y, Z;
    src.lat_long_to_XYZ(lat, lon, X, Y, Z);
    shift.transform(X, Y, Z);
    ellipsoid dst = to;
    dst.set_lat(lat);
    dst.XYZ_to_lat_long(X, Y, Z, outLat, outLon);
}
