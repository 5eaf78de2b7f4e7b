// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool basemap-render: draws a chart-like picture of a TopoJSON land/country set in
// the equirectangular projection, so that qct-make's linear georeferencing from the four
// corners places every pixel exactly. The built-in charts are made this way at build time.

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/tool_command.h"
#include "tools/topojson.h"

namespace {

// A small palette: the chart writer keeps at most 127 colours, and flat areas of few
// colours also encode into much smaller tiles.
const QColor kSea(0xCF, 0xE6, 0xF5);
const QColor kShallow(0xB4, 0xD7, 0xF0);  // a band along the coast
const QColor kLand(0xF3, 0xE3, 0xAE);
const QColor kCoast(0x4A, 0x3F, 0x2A);
const QColor kBorder(0xA0, 0x5A, 0x9C);
const QColor kGraticule(0x6C, 0x8C, 0xAE);
const QColor kInk(0x1E, 0x2A, 0x3A);
const QColor kPaper(0xFF, 0xFC, 0xF2);

int Error(const QString& text) {
    std::fprintf(stderr, "basemap-render: %s\n", text.toLocal8Bit().constData());
    return 1;
}

struct Frame {
    double north, south, west, east;  // east > west, possibly beyond 180
    int width, height;
    double X(double lon) const { return (lon - west) * width / (east - west); }
    double Y(double lat) const { return (north - lat) * height / (north - south); }
    double PixelsPerDegreeX() const { return width / (east - west); }
    double PixelsPerDegreeY() const { return height / (north - south); }
};

// Unwrapped data runs from about -540 to 540 degrees (a ring round a pole spans a whole
// turn); each copy shifted by a turn is drawn where it can show.
std::vector<double> LongitudeShifts(const Frame& f) {
    std::vector<double> shifts;
    for (double k : {-720.0, -360.0, 0.0, 360.0, 720.0})
        if (f.west < 540 + k && f.east > -540 + k) shifts.push_back(k);
    return shifts;
}

bool Overlaps(const QRectF& lonlat, double shift, const Frame& f, double margin_deg) {
    return lonlat.right() + shift >= f.west - margin_deg && lonlat.left() + shift <= f.east + margin_deg &&
           lonlat.bottom() >= f.south - margin_deg && lonlat.top() <= f.north + margin_deg;
}

void AddRing(QPainterPath& path, const CTopoJson::Ring& ring, double shift, const Frame& f, bool close) {
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(ring.size()));
    for (const QPointF& p : ring) poly.append(QPointF(f.X(p.x() + shift), f.Y(p.y())));
    path.addPolygon(poly);
    if (close) path.closeSubpath();
}

// All polygons of an object that can show on the chart, in pixels.
QPainterPath PolygonPath(const std::vector<CTopoJson::Feature>& features, const Frame& f) {
    QPainterPath path;
    path.setFillRule(Qt::OddEvenFill);  // holes whatever their winding; islands in lakes fill again
    const double margin = 0.5;
    for (double shift : LongitudeShifts(f))
        for (const CTopoJson::Feature& feature : features)
            for (const CTopoJson::Polygon& poly : feature.polygons) {
                if (!Overlaps(poly.bounds, shift, f, margin)) continue;
                for (const CTopoJson::Ring& ring : poly.rings) AddRing(path, ring, shift, f, true);
            }
    return path;
}

QPainterPath LinePath(const std::vector<CTopoJson::Ring>& lines, const Frame& f) {
    QPainterPath path;
    for (double shift : LongitudeShifts(f))
        for (const CTopoJson::Ring& line : lines) {
            double x0 = 1e300, x1 = -1e300, y0 = 1e300, y1 = -1e300;
            for (const QPointF& p : line) {
                x0 = std::min(x0, p.x());
                x1 = std::max(x1, p.x());
                y0 = std::min(y0, p.y());
                y1 = std::max(y1, p.y());
            }
            if (Overlaps(QRectF(QPointF(x0, y0), QPointF(x1, y1)), shift, f, 0.5)) AddRing(path, line, shift, f, false);
        }
    return path;
}

// Graticule interval in minutes of arc: lines about `min_px` pixels apart or more.
int GraticuleMinutes(const Frame& f, double min_px) {
    static const int kSteps[] = {1, 2, 5, 10, 15, 20, 30, 60, 120, 300, 600, 900, 1800, 3600};
    const double px_per_minute = std::min(f.PixelsPerDegreeX(), f.PixelsPerDegreeY()) / 60.0;
    for (int s : kSteps)
        if (s * px_per_minute >= min_px) return s;
    return 3600;
}

// "40°N", "31°30'W", "0°", "180°".
QString AngleLabel(long long minutes, bool latitude) {
    if (!latitude) {
        // Bring into -180..180 degrees.
        minutes %= 21600;
        if (minutes > 10800) minutes -= 21600;
        if (minutes < -10800) minutes += 21600;
    }
    const long long a = minutes < 0 ? -minutes : minutes;
    QString text = QString::number(a / 60) + QChar(0x00B0);
    if (a % 60) text += QStringLiteral("%1'").arg(a % 60, 2, 10, QLatin1Char('0'));
    if (a != 0 && !(a == 10800 && !latitude))
        text += latitude ? (minutes > 0 ? QLatin1Char('N') : QLatin1Char('S'))
                         : (minutes > 0 ? QLatin1Char('E') : QLatin1Char('W'));
    return text;
}

// Text on a small paper-coloured box, so that it reads over land, sea and lines alike.
void Label(QPainter& p, const QString& text, QPointF anchor, Qt::Alignment align) {
    const QFontMetricsF fm(p.font());
    const QSizeF size(fm.horizontalAdvance(text) + 4, fm.height());
    QPointF tl = anchor;
    if (align & Qt::AlignRight) tl.rx() -= size.width();
    if (align & Qt::AlignHCenter) tl.rx() -= size.width() / 2;
    if (align & Qt::AlignBottom) tl.ry() -= size.height();
    if (align & Qt::AlignVCenter) tl.ry() -= size.height() / 2;
    const QRectF box(tl, size);
    p.fillRect(box, kPaper);
    p.setPen(kInk);
    p.drawText(box, Qt::AlignCenter, text);
}

// True when a rectangle of the picture shows only water and graticule: a label placed there
// hides no coast.
bool OnlyWater(const QImage& img, const QRectF& r) {
    const QRect box = r.toAlignedRect().intersected(img.rect());
    const QRgb water[] = {kSea.rgb(), kShallow.rgb(), kGraticule.rgb()};
    for (int y = box.top(); y <= box.bottom(); y += 2)
        for (int x = box.left(); x <= box.right(); x += 2) {
            const QRgb v = img.pixel(x, y);
            if (std::find(std::begin(water), std::end(water), v) == std::end(water)) return false;
        }
    return true;
}

void DrawGraticule(QPainter& p, const QImage& img, const Frame& f) {
    const int step = GraticuleMinutes(f, 120);
    const auto first = [step](double deg) { return static_cast<long long>(std::ceil(deg * 60 / step - 1e-9)) * step; };
    std::vector<long long> lons, lats;
    for (long long m = first(f.west); m <= f.east * 60 + 1e-9; m += step) lons.push_back(m);
    for (long long m = first(f.south); m <= f.north * 60 + 1e-9; m += step) lats.push_back(m);

    // Crisp one-pixel lines: antialiasing would smear them over two pixels.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(kGraticule, 1));
    std::vector<int> xs, ys;
    for (long long m : lons) {
        const int x = static_cast<int>(std::floor(f.X(m / 60.0)));
        xs.push_back(x);
        if (x > 0 && x < f.width) p.drawLine(x, 0, x, f.height - 1);
    }
    for (long long m : lats) {
        const int y = static_cast<int>(std::floor(f.Y(m / 60.0)));
        ys.push_back(y);
        if (y > 0 && y < f.height) p.drawLine(0, y, f.width - 1, y);
    }

    p.setRenderHint(QPainter::TextAntialiasing, true);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    p.setFont(font);
    // At every other crossing at sea: latitude above the parallel, longitude below it, both
    // just east of the meridian, so that a label is never far away wherever the view is.
    for (size_t i = 0; i < lons.size(); ++i)
        for (size_t j = 0; j < lats.size(); ++j) {
            if ((i + j) % 2) continue;
            const QPointF at(xs[i] + 3, ys[j]);
            if (at.x() < 40 || at.x() > f.width - 80 || at.y() < 40 || at.y() > f.height - 40) continue;
            const QFontMetricsF fm(font);
            const double w = std::max(fm.horizontalAdvance(AngleLabel(lats[j], true)),
                                      fm.horizontalAdvance(AngleLabel(lons[i], false))) +
                             4;
            if (!OnlyWater(img, QRectF(at.x(), at.y() - fm.height() - 1, w, 2 * fm.height() + 3))) continue;
            Label(p, AngleLabel(lats[j], true), at - QPointF(0, 1), Qt::AlignLeft | Qt::AlignBottom);
            Label(p, AngleLabel(lons[i], false), at + QPointF(0, 2), Qt::AlignLeft | Qt::AlignTop);
        }
    // And along the edges, as on a paper chart's border.
    for (size_t i = 0; i < lons.size(); ++i) {
        if (xs[i] < 30 || xs[i] > f.width - 30) continue;
        Label(p, AngleLabel(lons[i], false), QPointF(xs[i], 2), Qt::AlignHCenter | Qt::AlignTop);
        Label(p, AngleLabel(lons[i], false), QPointF(xs[i], f.height - 2), Qt::AlignHCenter | Qt::AlignBottom);
    }
    for (size_t j = 0; j < lats.size(); ++j) {
        if (ys[j] < 20 || ys[j] > f.height - 20) continue;
        Label(p, AngleLabel(lats[j], true), QPointF(2, ys[j]), Qt::AlignLeft | Qt::AlignVCenter);
        Label(p, AngleLabel(lats[j], true), QPointF(f.width - 2, ys[j]), Qt::AlignRight | Qt::AlignVCenter);
    }
}

// The corner whose box holds the most sea, so that the title hides as little land as it can.
QPoint TitleCorner(const QImage& img, QSize box) {
    const QRgb sea = kSea.rgb(), shallow = kShallow.rgb();
    const int margin = 30;
    const QPoint corners[] = {
        {margin, margin},
        {img.width() - box.width() - margin, margin},
        {margin, img.height() - box.height() - margin},
        {img.width() - box.width() - margin, img.height() - box.height() - margin},
    };
    QPoint best = corners[0];
    long best_count = -1;
    for (const QPoint& c : corners) {
        long count = 0;
        for (int y = std::max(0, c.y()); y < std::min(img.height(), c.y() + box.height()); y += 4)
            for (int x = std::max(0, c.x()); x < std::min(img.width(), c.x() + box.width()); x += 4) {
                const QRgb v = img.pixel(x, y) & 0xFFFFFF;
                if (v == (sea & 0xFFFFFF) || v == (shallow & 0xFFFFFF)) ++count;
            }
        if (count > best_count) {
            best_count = count;
            best = c;
        }
    }
    return best;
}

// Length of one degree of latitude in nautical miles is 60; a bar of a round length.
double ScaleBarMiles(double px_per_nm, double max_px) {
    static const double kMiles[] = {1, 2, 5, 10, 20, 50, 100, 200, 500, 1000, 2000};
    double best = kMiles[0];
    for (double m : kMiles)
        if (m * px_per_nm <= max_px) best = m;
    return best;
}

void DrawTitleBlock(QPainter& p, const QImage& img, const Frame& f, const QString& title, const QStringList& notes) {
    QFont title_font(QStringLiteral("DejaVu Sans"));
    title_font.setPixelSize(18);
    title_font.setBold(true);
    QFont note_font(QStringLiteral("DejaVu Sans"));
    note_font.setPixelSize(11);
    const QFontMetrics tm(title_font), nm(note_font);
    int w = tm.horizontalAdvance(title);
    for (const QString& n : notes) w = std::max(w, nm.horizontalAdvance(n));
    const int pad = 10;
    const int bar_h = 26;
    w = std::max(w, 200) + 2 * pad;
    const int h = pad + tm.height() + 4 + nm.height() * static_cast<int>(notes.size()) + 6 + bar_h + pad;
    const QRect box(TitleCorner(img, QSize(w, h)), QSize(w, h));

    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(box, kPaper);
    p.setPen(QPen(kInk, 2));
    p.drawRect(box.adjusted(1, 1, -1, -1));
    p.setFont(title_font);
    int y = box.top() + pad;
    p.drawText(QRect(box.left() + pad, y, w - 2 * pad, tm.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    y += tm.height() + 4;
    p.setFont(note_font);
    for (const QString& n : notes) {
        p.drawText(QRect(box.left() + pad, y, w - 2 * pad, nm.height()), Qt::AlignLeft | Qt::AlignVCenter, n);
        y += nm.height();
    }
    y += 6;
    // Scale bar for the middle latitude of the chart (the scale changes with latitude in
    // this projection, so only there is it true).
    const double mid = (f.north + f.south) / 2;
    const double px_per_nm = f.PixelsPerDegreeX() / (60.0 * std::max(0.01, std::cos(mid * M_PI / 180)));
    const double miles = ScaleBarMiles(px_per_nm, w - 2 * pad - 20);
    const int bar = static_cast<int>(std::lround(miles * px_per_nm));
    const int x0 = box.left() + pad;
    const int segments = 4;
    for (int s = 0; s < segments; ++s) {
        const QRect seg(x0 + s * bar / segments, y, bar / segments, 5);
        p.fillRect(seg, s % 2 ? kPaper : kInk);
    }
    p.setPen(QPen(kInk, 1));
    p.drawRect(QRect(x0, y, bar, 5));
    p.drawText(QRect(x0, y + 7, w - 2 * pad, nm.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("%1 nautical miles at %2").arg(miles).arg(AngleLabel(std::lround(mid * 60), true)));
}

int RunBasemapRender(const QStringList& arguments) {
    ToolArgs args(arguments);
    bool has_out = false, has_n = false, has_s = false, has_w = false, has_e = false, has_wd = false, has_ht = false,
         has_layers = false;
    const QString out = args.TakeOption(QStringLiteral("-o"), &has_out);
    const QString north = args.TakeOption(QStringLiteral("--north"), &has_n);
    const QString south = args.TakeOption(QStringLiteral("--south"), &has_s);
    const QString west = args.TakeOption(QStringLiteral("--west"), &has_w);
    const QString east = args.TakeOption(QStringLiteral("--east"), &has_e);
    const QString width = args.TakeOption(QStringLiteral("--width"), &has_wd);
    const QString height = args.TakeOption(QStringLiteral("--height"), &has_ht);
    const QString title = args.TakeOption(QStringLiteral("--title"));
    const QString layers_text = args.TakeOption(QStringLiteral("--layers"), &has_layers);
    if (args.HasError()) return Error(args.Error());
    if (args.Rest().size() != 1)
        return Error(QStringLiteral("give exactly one TopoJSON file (see navora-tool --help)"));
    const QString input = args.Rest().front();
    if (input.startsWith(QLatin1String("--"))) return Error(QStringLiteral("unknown option %1").arg(input));
    if (!has_out || out.isEmpty()) return Error(QStringLiteral("-o OUT.png is required"));
    if (!(has_n && has_s && has_w && has_e && has_wd && has_ht))
        return Error(QStringLiteral("--north, --south, --west, --east, --width and --height are required"));

    Frame f{};
    if (!ParseDouble(north, f.north) || !ParseDouble(south, f.south) || !ParseDouble(west, f.west) ||
        !ParseDouble(east, f.east))
        return Error(QStringLiteral("corner coordinates must be numbers"));
    if (!std::isfinite(f.north) || !std::isfinite(f.south) || f.north <= f.south || f.north > 90 || f.south < -90)
        return Error(QStringLiteral("north must lie above south, within -90..90"));
    if (!std::isfinite(f.west) || !std::isfinite(f.east) || f.west < -180 || f.west > 180 || f.east < -180 ||
        f.east > 180)
        return Error(QStringLiteral("west and east must lie within -180..180"));
    if (f.east <= f.west) f.east += 360;  // across the 180 degree meridian
    if (!ParseInt(width, f.width) || !ParseInt(height, f.height) || f.width < 16 || f.height < 16 || f.width > 32768 ||
        f.height > 32768 || static_cast<long long>(f.width) * f.height > 256LL * 1024 * 1024)
        return Error(QStringLiteral("--width and --height must be 16..32768 pixels (256 megapixels at most)"));

    QSet<QString> layers;
    const QStringList known = {QStringLiteral("land"), QStringLiteral("borders"), QStringLiteral("graticule")};
    if (has_layers) {
        for (const QString& l : layers_text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!known.contains(l.trimmed()))
                return Error(QStringLiteral("unknown layer \"%1\" (known: %2)").arg(l, known.join(QLatin1Char(','))));
            layers.insert(l.trimmed());
        }
    } else {
        layers = QSet<QString>(known.begin(), known.end());
    }

    CTopoJson topo;
    QString error;
    if (!topo.Load(input, &error)) return Error(error);
    // world-atlas names its objects "land" and "countries"; any other topology can still be
    // drawn as land from its first object.
    const QString land_object = topo.HasObject(QStringLiteral("land"))        ? QStringLiteral("land")
                                : topo.HasObject(QStringLiteral("countries")) ? QStringLiteral("countries")
                                                                              : topo.ObjectNames().value(0);
    std::vector<CTopoJson::Feature> land;
    if (layers.contains(QStringLiteral("land")) && !land_object.isEmpty() && !topo.Features(land_object, land, &error))
        return Error(error);
    std::vector<CTopoJson::Ring> borders;
    if (layers.contains(QStringLiteral("borders")) && topo.HasObject(QStringLiteral("countries")) &&
        !topo.InteriorMesh(QStringLiteral("countries"), borders, &error))
        return Error(error);

    QImage img(f.width, f.height, QImage::Format_RGB32);
    if (img.isNull()) return Error(QStringLiteral("not enough memory for a %1x%2 image").arg(f.width).arg(f.height));
    img.fill(kSea);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing, true);
        const QPainterPath land_path = PolygonPath(land, f);
        if (!land.empty()) {
            // The shallow band first; the land then covers its inner half. Drawn without
            // antialiasing: a wide antialiased stroke of a whole coastline costs seconds,
            // and the band's edge is a faint one anyway.
            p.setRenderHint(QPainter::Antialiasing, false);
            p.strokePath(land_path, QPen(kShallow, 7, Qt::SolidLine, Qt::FlatCap, Qt::BevelJoin));
            p.setRenderHint(QPainter::Antialiasing, true);
            p.fillPath(land_path, kLand);
        }
        // Thin lines with cosmetic pens: Qt draws those as lines rather than as outlines of
        // strokes, dozens of times faster over long coastlines.
        if (!borders.empty()) {
            QPen pen(kBorder, 1, Qt::CustomDashLine, Qt::FlatCap, Qt::BevelJoin);
            pen.setCosmetic(true);
            pen.setDashPattern({5, 3});
            p.strokePath(LinePath(borders, f), pen);
        }
        if (!land.empty()) {
            QPen pen(kCoast, 1);
            pen.setCosmetic(true);
            p.strokePath(land_path, pen);
        }
        if (layers.contains(QStringLiteral("graticule"))) DrawGraticule(p, img, f);
        if (!title.isEmpty()) {
            const QStringList notes = {
                QStringLiteral("Coastlines and borders: Natural Earth (public domain)"),
                QStringLiteral("Equirectangular projection, WGS84"),
                QStringLiteral("Not for navigation"),
            };
            DrawTitleBlock(p, img, f, title, notes);
        }
    }
    // Low compression: the picture is read once, right away, by qct-make.
    if (!img.save(out, "PNG", 80)) return Error(QStringLiteral("cannot write \"%1\"").arg(out));
    std::printf("%s: %dx%d pixels, %zu land features, %zu border lines\n", out.toLocal8Bit().constData(), f.width,
                f.height, land.size(), borders.size());
    return 0;
}

const ToolCommandRegistry::Registrar kBasemapRender(ToolCommand{
    "basemap-render",
    "TOPOJSON -o OUT.png --north N --south S --west W --east E --width PX --height PX [--title T] "
    "[--layers land,borders,graticule]",
    "Draws land, borders and a graticule from TopoJSON as an equirectangular chart picture.",
    RunBasemapRender,
});

}  // namespace
