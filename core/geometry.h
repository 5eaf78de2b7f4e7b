// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Plain geometry shared by every subsystem. Geographic values use x = longitude and
// y = latitude; chart pixels are integers with y growing downwards.

struct FPoint {
    double x = 0;
    double y = 0;
    FPoint() = default;
    FPoint(double x_, double y_) : x(x_), y(y_) {}
    bool operator==(const FPoint& o) const { return x == o.x && y == o.y; }
};

// x = longitude, y = latitude.
struct DblPoint {
    double x = 0;
    double y = 0;
    DblPoint() = default;
    DblPoint(double x_, double y_) : x(x_), y(y_) {}
    bool operator==(const DblPoint& o) const { return x == o.x && y == o.y; }
};

struct Vertex {
    double x = 0;
    double y = 0;
    Vertex() = default;
    Vertex(double x_, double y_) : x(x_), y(y_) {}
    bool operator==(const Vertex& o) const { return x == o.x && y == o.y; }
};

struct FRect {
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    FRect() = default;
    FRect(double l, double t, double r, double b) : left(l), top(t), right(r), bottom(b) {}
    double Width() const { return right - left; }
    double Height() const { return bottom - top; }
    // Half-open on the far edges so that adjacent rectangles never both claim a point.
    bool HitTest(double x, double y) const { return left <= x && x < right && top <= y && y < bottom; }
    bool HitTest(const FPoint& p) const { return HitTest(p.x, p.y); }
};

struct POINT {
    int x = 0;
    int y = 0;
    POINT() = default;
    POINT(int x_, int y_) : x(x_), y(y_) {}
    bool operator==(const POINT& o) const { return x == o.x && y == o.y; }
};

struct RECT {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    RECT() = default;
    RECT(int l, int t, int r, int b) : left(l), top(t), right(r), bottom(b) {}
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const RECT& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// An axis-aligned box; for geographic areas x is longitude and y latitude.
class CBounds {
public:
    static constexpr double kEmptyMin = 1e300;
    static constexpr double kEmptyMax = -1e300;

    double xmin = kEmptyMin;
    double xmax = kEmptyMax;
    double ymin = kEmptyMin;
    double ymax = kEmptyMax;

    CBounds() = default;
    CBounds(double x0, double x1, double y0, double y1) : xmin(x0), xmax(x1), ymin(y0), ymax(y1) {}

    void SetEmpty() { *this = CBounds(); }
    bool IsValid() const { return xmax >= xmin && ymax >= ymin; }
    bool IsEmpty() const { return !IsValid(); }
    void Add(double x, double y);
    void Add(const CBounds& b);
    bool Contains(double x, double y) const { return x >= xmin && x <= xmax && y >= ymin && y <= ymax; }
    bool Intersects(const CBounds& b) const;
    double Width() const { return xmax - xmin; }
    double Height() const { return ymax - ymin; }
};

class CPolyline {
public:
    std::vector<Vertex> vertices;

    CPolyline() = default;
    explicit CPolyline(std::vector<Vertex> v) : vertices(std::move(v)) {}

    void Add(double x, double y) { vertices.emplace_back(x, y); }
    void Clear() { vertices.clear(); }
    size_t size() const { return vertices.size(); }
    bool empty() const { return vertices.empty(); }
    const Vertex& operator[](size_t i) const { return vertices[i]; }
    Vertex& operator[](size_t i) { return vertices[i]; }

    // Point in the area closed by the vertices, by the sum of signed crossings of the
    // horizontal line through the point. Needs at least three vertices.
    bool doesContain(double x, double y) const;
    CBounds GetBounds() const;
};

// A closed polygon (the last vertex joins the first).
class CPolygon : public CPolyline {
public:
    CPolygon() = default;
    explicit CPolygon(std::vector<Vertex> v) : CPolyline(std::move(v)) {}

    // True when the two polygons share any area or any edge crosses.
    bool Overlaps(const CPolygon& other) const;
    // True when every vertex of `other` lies inside this polygon and no edges cross.
    bool Encloses(const CPolygon& other) const;
    bool Encloses(const CBounds& b) const;
    bool Overlaps(const CBounds& b) const;
    static CPolygon FromBounds(const CBounds& b);
    double Area() const;  // signed shoelace area, in squared units
};

// A local flat grid in metres around an origin: good enough for distances of a few
// hundred kilometres along routes and tracks, far cheaper than geodesics.
class CSimpleGrid {
public:
    CSimpleGrid() = default;
    CSimpleGrid(double lat0, double lon0) { SetOrigin(lat0, lon0); }

    void SetOrigin(double lat0, double lon0);
    // As SetOrigin, but keeps the scale while the latitude stays within `tolerance` degrees
    // of where it was worked out (0.01 degrees changes it by a few parts in a million):
    // for origins that follow a moving ship on every report.
    void FollowOrigin(double lat0, double lon0, double tolerance = 0.01);
    double OriginLat() const { return m_lat0; }
    double OriginLon() const { return m_lon0; }
    double MetresPerDegreeLat() const { return m_mPerDegLat; }
    double MetresPerDegreeLon() const { return m_mPerDegLon; }

    // Metres east (x) and north (y) of the origin.
    void ToGrid(double lat, double lon, double& x, double& y) const;
    void FromGrid(double x, double y, double& lat, double& lon) const;
    double Distance(double lat1, double lon1, double lat2, double lon2) const;

    static double MetresPerDegreeLatAt(double lat);
    static double MetresPerDegreeLonAt(double lat);

private:
    double m_lat0 = 0;
    double m_lon0 = 0;
    double m_mPerDegLat = 111132.954;
    double m_mPerDegLon = 111319.488;
    double m_scaleLat = 0;  // the latitude the scale was worked out for
};

// A colour with alpha; components 0..255.
struct GraphicsColor {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    uint8_t a = 255;

    GraphicsColor() = default;
    GraphicsColor(int red, int green, int blue, int alpha = 255)
        : r(uint8_t(red)), g(uint8_t(green)), b(uint8_t(blue)), a(uint8_t(alpha)) {}

    bool operator==(const GraphicsColor& o) const { return r == o.r && g == o.g && b == o.b && a == o.a; }
    bool operator!=(const GraphicsColor& o) const { return !(*this == o); }

    // "#AARRGGBB", upper-case.
    std::string ToString() const;
    // Accepts "#RGB", "#ARGB", "#RRGGBB" and "#AARRGGBB"; anything else leaves the colour
    // unchanged and returns false.
    bool FromString(const std::string& s);
    // Components as floats 0..1, the form object files store.
    void SetFloats(float red, float green, float blue, float alpha);
    void GetFloats(float& red, float& green, float& blue, float& alpha) const;
    uint32_t ToArgb() const { return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b; }
};
