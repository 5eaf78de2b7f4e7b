// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/wmm.h"

#include <QDebug>
#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

// A static library's resources are dropped by the linker unless something refers to
// them; this reference keeps the embedded coefficient file in every program.
static void EnsureEmbeddedModel() {
    static const bool done = [] {
        Q_INIT_RESOURCE(units);
        return true;
    }();
    (void)done;
}

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180.0;

inline int Index(int n, int m) {
    return n * (n + 1) / 2 + m;
}

void WMM_Error(const char* text) {
    qWarning("%s", text);
}

struct HarmonicVariables {
    double relativeRadiusPower[kWmmMaxDegree + 1];
    double cosMLambda[kWmmMaxDegree + 1];
    double sinMLambda[kWmmMaxDegree + 1];
};

struct LegendreFunction {
    double pcup[kWmmNumTerms];
    double dpcup[kWmmNumTerms];
};

void ComputeSphericalHarmonicVariables(const WMM_Ellipsoid& ellip, const WMM_Spherical& sph, int nMax,
                                       HarmonicVariables& v) {
    const double cosLambda = std::cos(kRad * sph.lambda);
    const double sinLambda = std::sin(kRad * sph.lambda);
    v.relativeRadiusPower[0] = (ellip.re / sph.r) * (ellip.re / sph.r);
    for (int n = 1; n <= nMax; ++n) v.relativeRadiusPower[n] = v.relativeRadiusPower[n - 1] * (ellip.re / sph.r);
    v.cosMLambda[0] = 1.0;
    v.sinMLambda[0] = 0.0;
    v.cosMLambda[1] = cosLambda;
    v.sinMLambda[1] = sinLambda;
    for (int m = 2; m <= nMax; ++m) {
        v.cosMLambda[m] = v.cosMLambda[m - 1] * cosLambda - v.sinMLambda[m - 1] * sinLambda;
        v.sinMLambda[m] = v.cosMLambda[m - 1] * sinLambda + v.sinMLambda[m - 1] * cosLambda;
    }
}

// Schmidt semi-normalised associated Legendre functions of sin(geocentric latitude) and
// their derivatives with respect to latitude, by the usual recursions.
void PcupLow(LegendreFunction& lf, double x, int nMax) {
    double schmidt[kWmmNumTerms];
    const double z = std::sqrt((1.0 - x) * (1.0 + x));
    lf.pcup[0] = 1.0;
    lf.dpcup[0] = 0.0;
    for (int n = 1; n <= nMax; ++n) {
        for (int m = 0; m <= n; ++m) {
            const int idx = Index(n, m);
            if (n == m) {
                const int i1 = Index(n - 1, m - 1);
                lf.pcup[idx] = z * lf.pcup[i1];
                lf.dpcup[idx] = z * lf.dpcup[i1] + x * lf.pcup[i1];
            } else if (n == 1 && m == 0) {
                const int i1 = Index(n - 1, m);
                lf.pcup[idx] = x * lf.pcup[i1];
                lf.dpcup[idx] = x * lf.dpcup[i1] - z * lf.pcup[i1];
            } else {
                const int i2 = Index(n - 1, m);
                if (m > n - 2) {
                    lf.pcup[idx] = x * lf.pcup[i2];
                    lf.dpcup[idx] = x * lf.dpcup[i2] - z * lf.pcup[i2];
                } else {
                    const int i1 = Index(n - 2, m);
                    const double k = (double((n - 1) * (n - 1)) - double(m * m)) / double((2 * n - 1) * (2 * n - 3));
                    lf.pcup[idx] = x * lf.pcup[i2] - k * lf.pcup[i1];
                    lf.dpcup[idx] = x * lf.dpcup[i2] - z * lf.pcup[i2] - k * lf.dpcup[i1];
                }
            }
        }
    }
    schmidt[0] = 1.0;
    for (int n = 1; n <= nMax; ++n) {
        schmidt[Index(n, 0)] = schmidt[Index(n - 1, 0)] * double(2 * n - 1) / double(n);
        for (int m = 1; m <= n; ++m) {
            schmidt[Index(n, m)] =
                schmidt[Index(n, m - 1)] * std::sqrt(double((n - m + 1) * (m == 1 ? 2 : 1)) / double(n + m));
        }
    }
    for (int n = 1; n <= nMax; ++n) {
        for (int m = 0; m <= n; ++m) {
            const int idx = Index(n, m);
            lf.pcup[idx] *= schmidt[idx];
            lf.dpcup[idx] *= -schmidt[idx];
        }
    }
}

// At the geographic poles By's division by cos(latitude) breaks down; this evaluates the
// m = 1 terms that survive there directly.
double SummationSpecialBy(const WMM_MagneticModel& model, const HarmonicVariables& v, const WMM_Spherical& sph) {
    double pcupS[kWmmMaxDegree + 1];
    pcupS[0] = 1.0;
    double schmidt1 = 1.0;
    double by = 0.0;
    const double sinPhi = std::sin(kRad * sph.phig);
    for (int n = 1; n <= model.nMax; ++n) {
        const int idx = Index(n, 1);
        const double schmidt2 = schmidt1 * double(2 * n - 1) / double(n);
        const double schmidt3 = schmidt2 * std::sqrt(double(n * 2) / double(n + 1));
        schmidt1 = schmidt2;
        if (n == 1) {
            pcupS[n] = pcupS[n - 1];
        } else {
            const double k = (double((n - 1) * (n - 1)) - 1.0) / double((2 * n - 1) * (2 * n - 3));
            pcupS[n] = sinPhi * pcupS[n - 1] - k * pcupS[n - 2];
        }
        by += v.relativeRadiusPower[n] * (model.mainG[idx] * v.sinMLambda[1] - model.mainH[idx] * v.cosMLambda[1]) *
              pcupS[n] * schmidt3;
    }
    return by;
}

}  // namespace

void WMM_SetDefaults(WMM_Ellipsoid& ellip) {
    ellip.a = 6378.137;
    ellip.b = 6356.7523142;
    ellip.fla = 1 / 298.257223563;
    ellip.eps = std::sqrt(1 - (ellip.b * ellip.b) / (ellip.a * ellip.a));
    ellip.epssq = ellip.eps * ellip.eps;
    ellip.re = 6371.2;
}

bool WMM_readMagneticModel(const std::string& path, WMM_MagneticModel& model, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return false;
    };
    if (!path.empty() && path[0] == ':') EnsureEmbeddedModel();
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        WMM_Error("\nError opening WMM.COF\n.");
        return fail("cannot open " + path);
    }
    model.nMax = kWmmMaxDegree;
    model.nMaxSecVar = kWmmMaxDegree;
    model.mainG.assign(kWmmNumTerms, 0.0);
    model.mainH.assign(kWmmNumTerms, 0.0);
    model.secVarG.assign(kWmmNumTerms, 0.0);
    model.secVarH.assign(kWmmNumTerms, 0.0);

    // Lines are at most 80 characters in the published layout; longer ones are read in
    // pieces, which then fail to parse and reject the file.
    char line[81];
    bool haveHeader = false;
    int rows = 0;
    bool ended = false;
    while (!ended) {
        const qint64 got = file.readLine(line, sizeof line);
        if (got <= 0) break;
        if (!haveHeader) {
            double epoch = 0;
            char name[32] = {};
            if (std::sscanf(line, "%lf%31s", &epoch, name) < 1 || !std::isfinite(epoch)) {
                return fail("the first line does not hold the model epoch");
            }
            model.epoch = epoch;
            model.modelName.assign(name, strnlen(name, 20));
            haveHeader = true;
            continue;
        }
        if (std::strncmp(line, "9999", 4) == 0) {
            ended = true;
            break;
        }
        // Degree and order are read as numbers too: scanf's %d is undefined for the
        // out-of-range values a damaged file may hold.
        double nd = 0, md = 0;
        double g = 0, h = 0, gd = 0, hd = 0;
        const int fields = std::sscanf(line, "%lf%lf%lf%lf%lf%lf", &nd, &md, &g, &h, &gd, &hd);
        const bool integral =
            nd == std::floor(nd) && md == std::floor(md) && std::fabs(nd) < 100 && std::fabs(md) < 100;
        const int n = integral ? int(nd) : -1, m = integral ? int(md) : -1;
        if (fields <= 0) {
            // Blank lines are harmless.
            bool blank = true;
            for (const char* p = line; *p; ++p) blank = blank && (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n');
            if (blank) continue;
        }
        const bool finite = std::isfinite(g) && std::isfinite(h) && std::isfinite(gd) && std::isfinite(hd);
        if (fields != 6 || !finite || n < 1 || n > kWmmMaxDegree || m < 0 || m > n) {
            return fail("malformed coefficient line " + std::to_string(rows + 2));
        }
        const int idx = Index(n, m);
        model.mainG[idx] = g;
        model.mainH[idx] = h;
        model.secVarG[idx] = gd;
        model.secVarH[idx] = hd;
        ++rows;
    }
    if (!haveHeader) return fail("empty coefficient file");
    if (rows == 0) return fail("no coefficients in the file");
    return true;
}

void WMM_GeodeticToSpherical(const WMM_Ellipsoid& ellip, const WMM_Geodetic& geo, WMM_Spherical& sph) {
    const double cosLat = std::cos(kRad * geo.phi);
    const double sinLat = std::sin(kRad * geo.phi);
    const double rc = ellip.a / std::sqrt(1.0 - ellip.epssq * sinLat * sinLat);
    const double xp = (rc + geo.heightKm) * cosLat;
    const double zp = (rc * (1.0 - ellip.epssq) + geo.heightKm) * sinLat;
    sph.r = std::sqrt(xp * xp + zp * zp);
    sph.phig = std::asin(zp / sph.r) / kRad;
    sph.lambda = geo.lambda;
}

void WMM_TimelyModifyMagneticModel(double decimalYear, const WMM_MagneticModel& in, WMM_MagneticModel& out) {
    out = in;
    const double dt = decimalYear - in.epoch;
    for (int n = 1; n <= in.nMax; ++n) {
        for (int m = 0; m <= n; ++m) {
            const int idx = Index(n, m);
            if (n <= in.nMaxSecVar) {
                out.mainG[idx] = in.mainG[idx] + dt * in.secVarG[idx];
                out.mainH[idx] = in.mainH[idx] + dt * in.secVarH[idx];
            }
        }
    }
}

void WMM_Geomag(const WMM_Ellipsoid& ellip, const WMM_Spherical& sph, const WMM_Geodetic& geo,
                const WMM_MagneticModel& model, WMM_GeoMagneticElements& out) {
    const int nMax = std::min(model.nMax, kWmmMaxDegree);
    HarmonicVariables v;
    ComputeSphericalHarmonicVariables(ellip, sph, nMax, v);
    LegendreFunction lf;
    PcupLow(lf, std::sin(kRad * sph.phig), nMax);

    double bx = 0, by = 0, bz = 0;
    for (int n = 1; n <= nMax; ++n) {
        for (int m = 0; m <= n; ++m) {
            const int idx = Index(n, m);
            const double gc = model.mainG[idx] * v.cosMLambda[m] + model.mainH[idx] * v.sinMLambda[m];
            bz -= v.relativeRadiusPower[n] * gc * double(n + 1) * lf.pcup[idx];
            by += v.relativeRadiusPower[n] * (model.mainG[idx] * v.sinMLambda[m] - model.mainH[idx] * v.cosMLambda[m]) *
                  double(m) * lf.pcup[idx];
            bx -= v.relativeRadiusPower[n] * gc * lf.dpcup[idx];
        }
    }
    const double cosPhi = std::cos(kRad * sph.phig);
    if (std::fabs(cosPhi) > 1.0e-10) {
        by /= cosPhi;
    } else {
        by = SummationSpecialBy(model, v, sph);
    }

    // From the geocentric to the geodetic frame.
    const double psi = kRad * (sph.phig - geo.phi);
    out.Z = bx * std::sin(psi) + bz * std::cos(psi);
    out.X = bx * std::cos(psi) - bz * std::sin(psi);
    out.Y = by;
    out.H = std::sqrt(out.X * out.X + out.Y * out.Y);
    out.F = std::sqrt(out.H * out.H + out.Z * out.Z);
    out.decl = std::atan2(out.Y, out.X) / kRad;
    out.incl = std::atan2(out.Z, out.H) / kRad;
    out.gv = WMM_CalculateGridVariation(geo, out);
}

double WMM_CalculateGridVariation(const WMM_Geodetic& geo, const WMM_GeoMagneticElements& el) {
    double lon = std::fmod(geo.lambda + 180.0, 360.0);
    if (lon < 0) lon += 360.0;
    const double lambda = lon - 180.0;  // 240 east is 120 west
    if (geo.phi >= 55.0) return el.decl - lambda;
    if (geo.phi <= -55.0) return el.decl + lambda;
    // Convergence of the meridians in the position's 6-degree UTM zone.
    const int zone = std::min(60, int(lon / 6.0) + 1);
    const double dl = kRad * (lambda - (zone * 6.0 - 183.0));
    const double convergence = std::atan(std::tan(dl) * std::sin(kRad * geo.phi)) / kRad;
    return el.decl - convergence;
}

double WMM_TimeToDecimalYear(double seconds) {
    return seconds / 31471200.0 + 1970.0;
}

bool WMM_ComputeElements(const std::string& cofPath, double lat, double lon, double heightMetres, double decimalYear,
                         WMM_GeoMagneticElements& out) {
    if (!std::isfinite(lat) || !std::isfinite(lon) || !std::isfinite(heightMetres) || !std::isfinite(decimalYear)) {
        return false;
    }
    WMM_Ellipsoid ellip;
    WMM_SetDefaults(ellip);
    WMM_MagneticModel model;
    if (!WMM_readMagneticModel(cofPath, model)) return false;
    WMM_Geodetic geo;
    geo.phi = std::max(-90.0, std::min(90.0, lat));
    geo.lambda = lon;
    geo.heightKm = heightMetres / 1000.0;
    WMM_Spherical sph;
    WMM_GeodeticToSpherical(ellip, geo, sph);
    WMM_MagneticModel timed;
    WMM_TimelyModifyMagneticModel(decimalYear, model, timed);
    WMM_Geomag(ellip, sph, geo, timed, out);
    return std::isfinite(out.decl);
}

float get_magnetic_declination(const std::string& cofPath, double lat, double lon, double heightMetres, double time) {
    WMM_GeoMagneticElements el;
    if (!WMM_ComputeElements(cofPath, lat, lon, heightMetres, WMM_TimeToDecimalYear(time), el)) return 0.0f;
    return float(el.decl);
}
