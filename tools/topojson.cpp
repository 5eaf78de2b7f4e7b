// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/topojson.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace {

// Natural Earth at its finest is a few megabytes; anything far beyond that is not chart data.
constexpr qint64 kMaxFileBytes = 256 * 1024 * 1024;
constexpr int kMaxDepth = 16;

bool Fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

// A finite number, or false.
bool Number(const QJsonValue& v, double& out) {
    if (!v.isDouble()) return false;
    out = v.toDouble();
    return std::isfinite(out);
}

}  // namespace

bool CTopoJson::Load(const QString& path, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return Fail(error, QStringLiteral("cannot read \"%1\"").arg(path));
    if (f.size() > kMaxFileBytes) return Fail(error, QStringLiteral("\"%1\" is too large for TopoJSON").arg(path));
    const QByteArray bytes = f.readAll();
    if (!Parse(bytes, error)) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, *error);
        return false;
    }
    return true;
}

bool CTopoJson::Parse(const QByteArray& json, QString* error) {
    m_arcs.clear();
    m_objects = QJsonObject();
    QJsonParseError perr{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &perr);
    if (doc.isNull())
        return Fail(error, QStringLiteral("not JSON (%1 at byte %2)").arg(perr.errorString()).arg(perr.offset));
    const QJsonObject top = doc.object();
    if (top.value(QLatin1String("type")).toString() != QLatin1String("Topology"))
        return Fail(error, QStringLiteral("not a TopoJSON topology (type is not \"Topology\")"));

    bool quantised = false;
    double sx = 1, sy = 1, tx = 0, ty = 0;
    const QJsonValue tv = top.value(QLatin1String("transform"));
    if (!tv.isUndefined() && !tv.isNull()) {
        const QJsonArray scale = tv.toObject().value(QLatin1String("scale")).toArray();
        const QJsonArray translate = tv.toObject().value(QLatin1String("translate")).toArray();
        if (scale.size() != 2 || translate.size() != 2 || !Number(scale[0], sx) || !Number(scale[1], sy) ||
            !Number(translate[0], tx) || !Number(translate[1], ty))
            return Fail(error, QStringLiteral("the transform needs two scale and two translate numbers"));
        quantised = true;
    }

    const QJsonValue arcs_value = top.value(QLatin1String("arcs"));
    if (!arcs_value.isArray()) return Fail(error, QStringLiteral("the topology has no \"arcs\" array"));
    const QJsonArray arcs = arcs_value.toArray();
    m_arcs.reserve(static_cast<size_t>(arcs.size()));
    for (qsizetype i = 0; i < arcs.size(); ++i) {
        const QJsonArray positions = arcs[i].toArray();
        if (positions.isEmpty()) return Fail(error, QStringLiteral("arc %1 has no positions").arg(i));
        Ring ring;
        ring.reserve(static_cast<size_t>(positions.size()));
        double x = 0, y = 0;  // running sums of the deltas
        for (const QJsonValue& pv : positions) {
            const QJsonArray p = pv.toArray();
            double a = 0, b = 0;
            if (p.size() < 2 || !Number(p[0], a) || !Number(p[1], b))
                return Fail(error, QStringLiteral("arc %1 has a position that is not two numbers").arg(i));
            if (quantised) {
                x += a;
                y += b;
                ring.emplace_back(x * sx + tx, y * sy + ty);
            } else {
                ring.emplace_back(a, b);
            }
        }
        m_arcs.push_back(std::move(ring));
    }

    const QJsonValue objects = top.value(QLatin1String("objects"));
    if (!objects.isObject()) return Fail(error, QStringLiteral("the topology has no \"objects\""));
    m_objects = objects.toObject();
    return true;
}

bool CTopoJson::ArcList(const QJsonValue& v, std::vector<int>& out, QString* error) const {
    if (!v.isArray()) return Fail(error, QStringLiteral("a ring is not a list of arc indices"));
    for (const QJsonValue& e : v.toArray()) {
        double d = 0;
        if (!Number(e, d) || d != std::floor(d) || d < -static_cast<double>(m_arcs.size()) ||
            d >= static_cast<double>(m_arcs.size()))
            return Fail(error, QStringLiteral("arc index %1 is not one of the %2 arcs")
                                   .arg(e.toVariant().toString())
                                   .arg(m_arcs.size()));
        out.push_back(static_cast<int>(d));
    }
    return true;
}

bool CTopoJson::Stitch(const std::vector<int>& indices, Ring& out, QString* error) const {
    out.clear();
    const int n = ArcCount();
    for (int index : indices) {
        const bool reversed = index < 0;
        const int a = reversed ? ~index : index;
        if (a < 0 || a >= n) return Fail(error, QStringLiteral("arc index %1 is out of range").arg(index));
        const Ring& arc = m_arcs[static_cast<size_t>(a)];
        // Consecutive arcs meet at a shared point; keep it once.
        const size_t skip = out.empty() ? 0 : 1;
        if (reversed) {
            for (size_t k = arc.size() - skip; k-- > 0;) out.push_back(arc[k]);
        } else {
            out.insert(out.end(), arc.begin() + static_cast<std::ptrdiff_t>(std::min(skip, arc.size())), arc.end());
        }
    }
    return true;
}

void CTopoJson::MakePlanar(Ring& ring, bool closed) {
    if (ring.empty()) return;
    double lat_sum = ring.front().y();
    for (size_t i = 1; i < ring.size(); ++i) {
        double x = ring[i].x();
        const double prev = ring[i - 1].x();
        while (x - prev > 180) x -= 360;
        while (x - prev < -180) x += 360;
        ring[i].setX(x);
        lat_sum += ring[i].y();
    }
    if (!closed || ring.size() < 3) return;
    const double turn = ring.back().x() - ring.front().x();
    if (std::abs(turn) < 180) return;
    // Once round a pole: the end is a whole turn away from the start. Close the ring along
    // the pole on the ring's side of the equator.
    const double pole = lat_sum >= 0 ? 90.0 : -90.0;
    const QPointF start = ring.front(), end = ring.back();
    ring.emplace_back(end.x(), pole);
    ring.emplace_back(start.x(), pole);
    ring.push_back(start);
}

bool CTopoJson::DecodePolygon(const QJsonValue& rings, Feature& f, QString* error) const {
    if (!rings.isArray()) return Fail(error, QStringLiteral("a polygon is not a list of rings"));
    Polygon poly;
    for (const QJsonValue& r : rings.toArray()) {
        std::vector<int> indices;
        if (!ArcList(r, indices, error)) return false;
        f.arcs.insert(f.arcs.end(), indices.begin(), indices.end());
        Ring ring;
        if (!Stitch(indices, ring, error)) return false;
        if (ring.size() < 3) continue;  // no area to fill
        MakePlanar(ring, true);
        poly.rings.push_back(std::move(ring));
    }
    if (poly.rings.empty()) return true;
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (const QPointF& p : poly.rings.front()) {
        x0 = std::min(x0, p.x());
        x1 = std::max(x1, p.x());
        y0 = std::min(y0, p.y());
        y1 = std::max(y1, p.y());
    }
    poly.bounds = QRectF(QPointF(x0, y0), QPointF(x1, y1));
    f.polygons.push_back(std::move(poly));
    return true;
}

bool CTopoJson::DecodeGeometry(const QJsonObject& g, int depth, std::vector<Feature>& out, QString* error) const {
    if (depth > kMaxDepth) return Fail(error, QStringLiteral("geometry collections are nested too deeply"));
    const QString type = g.value(QLatin1String("type")).toString();
    if (type == QLatin1String("GeometryCollection")) {
        const QJsonValue geometries = g.value(QLatin1String("geometries"));
        if (!geometries.isArray()) return Fail(error, QStringLiteral("a GeometryCollection has no \"geometries\""));
        for (const QJsonValue& child : geometries.toArray()) {
            if (!child.isObject()) return Fail(error, QStringLiteral("a geometry is not an object"));
            if (!DecodeGeometry(child.toObject(), depth + 1, out, error)) return false;
        }
        return true;
    }

    // Every other geometry is one feature.
    Feature f;
    const QJsonValue id = g.value(QLatin1String("id"));
    f.id = id.isDouble() ? QString::number(id.toDouble()) : id.toString();
    f.name = g.value(QLatin1String("properties")).toObject().value(QLatin1String("name")).toString();
    const QJsonValue arcs = g.value(QLatin1String("arcs"));
    if (type == QLatin1String("Polygon")) {
        if (!DecodePolygon(arcs, f, error)) return false;
    } else if (type == QLatin1String("MultiPolygon")) {
        if (!arcs.isArray()) return Fail(error, QStringLiteral("a MultiPolygon has no list of polygons"));
        for (const QJsonValue& p : arcs.toArray())
            if (!DecodePolygon(p, f, error)) return false;
    } else if (type == QLatin1String("LineString") || type == QLatin1String("MultiLineString")) {
        QJsonArray parts;
        if (type == QLatin1String("LineString"))
            parts.append(arcs);
        else
            parts = arcs.toArray();
        for (const QJsonValue& part : parts) {
            std::vector<int> indices;
            if (!ArcList(part, indices, error)) return false;
            f.arcs.insert(f.arcs.end(), indices.begin(), indices.end());
            Ring line;
            if (!Stitch(indices, line, error)) return false;
            MakePlanar(line, false);
            if (line.size() >= 2) f.lines.push_back(std::move(line));
        }
    } else if (type.isEmpty() && g.value(QLatin1String("type")).isNull()) {
        // A null geometry: a feature without shape. Nothing to draw.
    } else if (type != QLatin1String("Point") && type != QLatin1String("MultiPoint")) {
        return Fail(error, QStringLiteral("unknown geometry type \"%1\"").arg(type));
    }
    for (int& a : f.arcs) a = a < 0 ? ~a : a;
    out.push_back(std::move(f));
    return true;
}

bool CTopoJson::Features(const QString& object, std::vector<Feature>& out, QString* error) const {
    out.clear();
    const QJsonValue v = m_objects.value(object);
    if (!v.isObject()) return Fail(error, QStringLiteral("the topology has no object \"%1\"").arg(object));
    return DecodeGeometry(v.toObject(), 0, out, error);
}

bool CTopoJson::InteriorMesh(const QString& object, std::vector<Ring>& out, QString* error) const {
    out.clear();
    std::vector<Feature> features;
    if (!Features(object, features, error)) return false;
    // How many different features use each arc.
    std::vector<int> users(m_arcs.size(), 0);
    for (Feature& f : features) {
        std::sort(f.arcs.begin(), f.arcs.end());
        f.arcs.erase(std::unique(f.arcs.begin(), f.arcs.end()), f.arcs.end());
        for (int a : f.arcs) ++users[static_cast<size_t>(a)];
    }
    for (size_t a = 0; a < users.size(); ++a)
        if (users[a] >= 2 && m_arcs[a].size() >= 2) out.push_back(m_arcs[a]);
    return true;
}
