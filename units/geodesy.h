// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small geodesy kit for the national grids: an ellipsoid with Cartesian conversion,
// a seven-parameter Helmert datum shift and the Ordnance Survey form of the transverse
// Mercator projection. Angles are degrees at every interface and radians inside.

constexpr double kDegToRad = 0.017453292519943278;
constexpr double kRadToDeg = 57.29577951308238;

struct ellipsoid {
    double a = 0;   // semi-major axis (m)
    double b = 0;   // semi-minor axis (m)
    double e2 = 0;  // first eccentricity squared
    double n = 0;   // third flattening
    double r = 0;   // working radius: mean radius after init, prime-vertical radius after set_lat

    void init(double semiMajor, double semiMinor);
    void init(double semiMajor, double semiMinor, double lat);
    // Sets the working radius to the prime-vertical radius at `lat`, which the Cartesian
    // conversions below use (heights are taken as zero).
    void set_lat(double lat);
    void lat_long_to_XYZ(double lat, double lon, double& X, double& Y, double& Z) const;
    void XYZ_to_lat_long(double X, double Y, double Z, double& lat, double& lon) const;
};

// Position-vector convention; rotations in radians, s is a factor (1 + ppm / 1e6).
struct Helmert {
    double tx = 0, ty = 0, tz = 0;
    double rx = 0, ry = 0, rz = 0;
    double s = 1;

    void init(double tx_, double ty_, double tz_, double rx_, double ry_, double rz_, double s_);
    void init_WGS84_to_OSGB36();
    void init_OSGB36_to_WGS84();
    void init_WGS84_to_Irish();
    void init_Irish_to_WGS84();
    void transform(double& X, double& Y, double& Z) const;
};

struct utm_proj : ellipsoid {
    double N0 = 0;    // false northing (m)
    double E0 = 0;    // false easting (m)
    double F0 = 1;    // scale on the central meridian
    double lat0 = 0;  // latitude of true origin (radians)
    double lon0 = 0;  // central meridian (radians)

    void init(double semiMajor, double semiMinor, double falseNorthing, double falseEasting, double scale,
              double latOrigin, double lonOrigin);
    void init_OSGB();
    void init_NAD27();
    void init_WGS84();
    void init_Irish();
    void init_NZTM();
    void set_central_meridian(double lon) { lon0 = lon * kDegToRad; }
    // Standard 6-degree UTM zone 1..60.
    void set_zone(int zone) { set_central_meridian(zone * 6.0 - 183.0); }

    // Meridional arc from lat0 to lat (radians), scaled by bF0.
    static double marc(double bF0, double n, double lat0, double lat);
    void lat_lon_to_E_N(double lat, double lon, double& E, double& N) const;
    // Returns false for input that does not converge (not finite).
    bool E_N_to_lat_lon(double E, double N, double& lat, double& lon) const;
};

// Moves a position from one datum to another through Cartesian coordinates: the source
// latitude serves as the approximation for the target's prime-vertical radius.
void ConvertDatum(const ellipsoid& from, const Helmert& shift, const ellipsoid& to, double lat, double lon,
                  double& outLat, double& outLon);
