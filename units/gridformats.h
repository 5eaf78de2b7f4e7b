// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Position formats on projected grids. Each one works on WGS84 positions and does its
// own datum change; positions outside a grid's area are refused rather than printed
// with misleading numbers.

#include "units/geodesy.h"
#include "units/units.h"

// "UTM on WGS84": zone and hemisphere letter, e.g. "30N 699568E 5709428N".
class CUnitsPositionUTM84 : public CUnits::PositionFormatType {
public:
    CUnitsPositionUTM84() : CUnitsPositionUTM84("UTM on WGS84", false) {}
    bool format(double lat, double lon, std::string& text) const override;
    bool scan(const char* text, double& lat, double& lon) const override;

    // Zone 1..60 of a longitude (plain 6-degree zones).
    static int ZoneOf(double lon);
    // Latitude band letter (8 degrees from 80S, clamped at both ends).
    static char BandOf(double lat);
    // WGS84 to zone coordinates; false outside 80S..84N.
    static bool ToUTM(double lat, double lon, int& zone, bool& north, double& E, double& N);
    static bool FromUTM(int zone, bool north, double E, double N, double& lat, double& lon);

protected:
    CUnitsPositionUTM84(const char* name, bool bands) : PositionFormatType(name), m_bands(bands) {}

private:
    bool m_bands;
};

// "UTM/WGS84 bands": as UTM with the latitude band letter, e.g. "30U 699568E 5709428N".
class CUnitsPositionUTM84bands : public CUnitsPositionUTM84 {
public:
    CUnitsPositionUTM84bands() : CUnitsPositionUTM84("UTM/WGS84 bands", true) {}
};

// "British National Grid", e.g. "TQ 30270 79641".
class CUnitsOSGB : public CUnits::PositionFormatType {
public:
    CUnitsOSGB() : PositionFormatType("British National Grid") {}
    bool format(double lat, double lon, std::string& text) const override;
    bool scan(const char* text, double& lat, double& lon) const override;

    static bool ToGrid(double lat, double lon, double& E, double& N);
    static bool FromGrid(double E, double N, double& lat, double& lon);
    // Reads a lettered reference into easting/northing in metres.
    static bool ParseReference(const char* text, double& E, double& N);
};

// "Irish Grid", e.g. "O 15901 34671".
class CUnitsIrishGrid : public CUnits::PositionFormatType {
public:
    CUnitsIrishGrid() : PositionFormatType("Irish Grid") {}
    bool format(double lat, double lon, std::string& text) const override;
    bool scan(const char* text, double& lat, double& lon) const override;

    static bool ToGrid(double lat, double lon, double& E, double& N);
    static bool FromGrid(double E, double N, double& lat, double& lon);
    static bool ParseReference(const char* text, double& E, double& N);
};

// "MGRS", through GeographicLib (UTM/UPS with the Norway and Svalbard zones).
class CUnitsMGRS : public CUnits::PositionFormatType {
public:
    CUnitsMGRS() : PositionFormatType("MGRS") {}
    bool format(double lat, double lon, std::string& text) const override;
    bool scan(const char* text, double& lat, double& lon) const override;
};

// "NZTM": New Zealand Transverse Mercator, "easting northing".
class CUnitsNZTM : public CUnits::PositionFormatType {
public:
    CUnitsNZTM() : PositionFormatType("NZTM") {}
    bool format(double lat, double lon, std::string& text) const override;
    bool scan(const char* text, double& lat, double& lon) const override;

    static bool ToGrid(double lat, double lon, double& E, double& N);
    static bool FromGrid(double E, double N, double& lat, double& lon);
};
