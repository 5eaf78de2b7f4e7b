// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The World Magnetic Model: a degree-12 spherical-harmonic model of the main
// geomagnetic field with a linear secular variation, read from the published
// coefficient file. Only what the bearing display needs is exposed.

#include <string>
#include <vector>

struct WMM_MagneticModel {
    double epoch = 0;
    std::string modelName;  // at most 20 characters
    int nMax = 0;
    int nMaxSecVar = 0;
    std::vector<double> mainG, mainH, secVarG, secVarH;  // indexed n(n+1)/2 + m
};

struct WMM_Ellipsoid {
    double a = 0, b = 0, fla = 0, epssq = 0, eps = 0, re = 0;
};

struct WMM_Geodetic {
    double lambda = 0;  // longitude, degrees
    double phi = 0;     // geodetic latitude, degrees
    double heightKm = 0;
};

struct WMM_Spherical {
    double lambda = 0;  // longitude, degrees
    double phig = 0;    // geocentric latitude, degrees
    double r = 0;       // distance from the centre, km
};

struct WMM_GeoMagneticElements {
    double decl = 0, incl = 0, F = 0, H = 0, X = 0, Y = 0, Z = 0, gv = 0;
};

constexpr int kWmmMaxDegree = 12;
constexpr int kWmmNumTerms = (kWmmMaxDegree + 1) * (kWmmMaxDegree + 2) / 2;  // 91

void WMM_SetDefaults(WMM_Ellipsoid& ellip);
// Reads a coefficient file (a real path or a Qt resource path such as ":/WMM_COF").
// Returns false, with the reason in `error`, for a missing or malformed file.
bool WMM_readMagneticModel(const std::string& path, WMM_MagneticModel& model, std::string* error = nullptr);
void WMM_GeodeticToSpherical(const WMM_Ellipsoid& ellip, const WMM_Geodetic& geo, WMM_Spherical& sph);
void WMM_TimelyModifyMagneticModel(double decimalYear, const WMM_MagneticModel& in, WMM_MagneticModel& out);
void WMM_Geomag(const WMM_Ellipsoid& ellip, const WMM_Spherical& sph, const WMM_Geodetic& geo,
                const WMM_MagneticModel& model, WMM_GeoMagneticElements& out);
// Declination less the grid convergence (beyond 55 degrees: less or plus the longitude).
double WMM_CalculateGridVariation(const WMM_Geodetic& geo, const WMM_GeoMagneticElements& el);

// Seconds since 1970 to the model's decimal year. The divisor is deliberately not the
// length of a calendar year: stored variations were computed this way and must agree.
double WMM_TimeToDecimalYear(double seconds);

// The field at a position (height in metres above the ellipsoid) and decimal year.
bool WMM_ComputeElements(const std::string& cofPath, double lat, double lon, double heightMetres, double decimalYear,
                         WMM_GeoMagneticElements& out);

// Declination in degrees, east positive, for a time in seconds since 1970; 0.0 when the
// coefficient file cannot be read.
float get_magnetic_declination(const std::string& cofPath, double lat, double lon, double heightMetres, double time);
