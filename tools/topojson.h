// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small TopoJSON reader for the vector data the built-in charts are drawn from.
//
// TopoJSON stores every boundary once, as an "arc", and builds polygons from lists of arc
// indices; an index i < 0 means arc ~i walked backwards. With a "transform", arc positions
// are quantised integers, delta-encoded along each arc. The reader decodes all arcs to
// absolute (longitude, latitude) up front, then assembles rings on request.
//
// Input is treated as hostile: bad structure, out-of-range arc indices, non-finite numbers
// and excessive nesting give an error text, never a crash.

#include <QByteArray>
#include <QJsonObject>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <vector>

class CTopoJson {
public:
    // x = longitude, y = latitude.
    using Ring = std::vector<QPointF>;
    // The first ring is the exterior, any further rings are holes. Polygon rings and lines
    // come out planar (see MakePlanar), so their longitudes may run beyond +-180.
    struct Polygon {
        std::vector<Ring> rings;
        QRectF bounds;  // of the exterior ring
    };
    struct Feature {
        QString id;
        QString name;  // properties.name when present
        std::vector<Polygon> polygons;
        std::vector<Ring> lines;  // LineString / MultiLineString parts
        std::vector<int> arcs;    // every arc index used (non-negative, possibly repeated)
    };

    bool Parse(const QByteArray& json, QString* error);
    bool Load(const QString& path, QString* error);

    QStringList ObjectNames() const { return m_objects.keys(); }
    bool HasObject(const QString& name) const { return m_objects.contains(name); }
    // Flattens the named object (nested GeometryCollections included) into features.
    bool Features(const QString& object, std::vector<Feature>& out, QString* error) const;
    // Arcs of the named object that lie between two different features (land borders
    // between countries, say), as polylines. Arcs used by one feature only are left out.
    bool InteriorMesh(const QString& object, std::vector<Ring>& out, QString* error) const;

    int ArcCount() const { return static_cast<int>(m_arcs.size()); }
    const Ring& Arc(int i) const { return m_arcs[static_cast<size_t>(i)]; }
    // Joins arcs into one ring or line, dropping the point each arc shares with the previous one.
    bool Stitch(const std::vector<int>& indices, Ring& out, QString* error) const;

    // Makes a ring or line drawable on a flat longitude/latitude plane. The data is
    // spherical: a ring may cross the 180 degree meridian or go round a pole (Antarctica).
    // Longitudes are unwrapped so that consecutive points lie less than 180 degrees apart
    // (a crossing ring runs on past 180 instead of jumping across the map), and a closed
    // ring that goes once round a pole is closed along that pole.
    static void MakePlanar(Ring& ring, bool closed);

private:
    bool DecodeGeometry(const QJsonObject& g, int depth, std::vector<Feature>& out, QString* error) const;
    bool DecodePolygon(const QJsonValue& rings, Feature& f, QString* error) const;
    bool ArcList(const QJsonValue& v, std::vector<int>& out, QString* error) const;

    std::vector<Ring> m_arcs;
    QJsonObject m_objects;
};
