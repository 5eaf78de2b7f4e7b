// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool qct-make: turns an image into a QCT chart (single-file or chunked).

#include <QFile>
#include <QImage>
#include <QRegularExpression>

#include <cstdio>

#include "charts/qct_writer.h"
#include "tools/tool_command.h"

namespace {

int Error(const QString& text) {
    std::fprintf(stderr, "qct-make: %s\n", text.toLocal8Bit().constData());
    return 1;
}

bool ReadCoefficients(const QString& path, std::array<double, 40>& out, QString& error) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read coefficient file \"%1\"").arg(path);
        return false;
    }
    const QStringList items =
        QString::fromUtf8(f.readAll()).split(QRegularExpression(QStringLiteral("[\\s,;]+")), Qt::SkipEmptyParts);
    if (items.size() != 40) {
        error = QStringLiteral("\"%1\" holds %2 numbers, 40 are needed").arg(path).arg(items.size());
        return false;
    }
    for (int i = 0; i < 40; ++i) {
        if (!ParseDouble(items[i], out[static_cast<size_t>(i)])) {
            error = QStringLiteral("\"%1\" is not a number (coefficient %2)").arg(items[i]).arg(i);
            return false;
        }
    }
    return true;
}

bool ParseOutline(const QString& text, std::vector<std::pair<double, double>>& out, QString& error) {
    for (const QString& point : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList ll = point.split(QLatin1Char(','));
        double lat = 0, lon = 0;
        if (ll.size() != 2 || !ParseDouble(ll[0], lat) || !ParseDouble(ll[1], lon) || lat < -90 || lat > 90 ||
            lon < -540 || lon > 540) {
            error = QStringLiteral("bad outline point \"%1\" (want lat,lon)").arg(point);
            return false;
        }
        out.emplace_back(lat, lon);
    }
    if (out.empty()) {
        error = QStringLiteral("the outline has no points");
        return false;
    }
    return true;
}

int RunQctMake(const QStringList& arguments) {
    ToolArgs args(arguments);
    bool has_out = false;
    const QString out = args.TakeOption(QStringLiteral("-o"), &has_out);
    const bool chunked = args.TakeFlag(QStringLiteral("--chunked"));
    struct TextOption {
        const char* name;
        QString QctMetadata::*field;
    };
    const TextOption texts[] = {
        {"--title", &QctMetadata::title},
        {"--name", &QctMetadata::name},
        {"--id", &QctMetadata::identifier},
        {"--edition", &QctMetadata::edition},
        {"--revision", &QctMetadata::revision},
        {"--copyright", &QctMetadata::copyright},
        {"--scale-text", &QctMetadata::scale_text},
        {"--map-type", &QctMetadata::map_type},
        {"--depth-units", &QctMetadata::depth_units},
        {"--height-units", &QctMetadata::height_units},
    };
    QctMetadata meta;
    for (const TextOption& t : texts) meta.*(t.field) = args.TakeOption(QLatin1String(t.name));
    bool has_flags = false;
    const QString flags = args.TakeOption(QStringLiteral("--flags"), &has_flags);
    bool has_n = false, has_s = false, has_w = false, has_e = false, has_coeffs = false, has_shift = false,
         has_outline = false;
    const QString north = args.TakeOption(QStringLiteral("--north"), &has_n);
    const QString south = args.TakeOption(QStringLiteral("--south"), &has_s);
    const QString west = args.TakeOption(QStringLiteral("--west"), &has_w);
    const QString east = args.TakeOption(QStringLiteral("--east"), &has_e);
    const QString coeffs = args.TakeOption(QStringLiteral("--coeffs"), &has_coeffs);
    const QStringList shift = args.TakeOption(QStringLiteral("--datum-shift"), 2, &has_shift);
    const QString outline = args.TakeOption(QStringLiteral("--outline"), &has_outline);
    if (args.HasError()) return Error(args.Error());
    if (args.Rest().size() != 1) return Error(QStringLiteral("give exactly one image file (see navora-tool --help)"));
    if (!has_out || out.isEmpty()) return Error(QStringLiteral("-o OUT.qct is required"));
    const QString image_path = args.Rest().front();
    if (image_path.startsWith(QLatin1String("--"))) return Error(QStringLiteral("unknown option %1").arg(image_path));

    if (has_flags) {
        bool ok = false;
        meta.flags = flags.toUInt(&ok, 0);
        if (!ok) return Error(QStringLiteral("--flags wants a number, not \"%1\"").arg(flags));
    }
    if (has_shift) {
        meta.has_datum_shift = true;
        if (!ParseDouble(shift[0], meta.datum_shift_lat) || !ParseDouble(shift[1], meta.datum_shift_lon))
            return Error(QStringLiteral("--datum-shift wants two numbers"));
    }
    QString error;
    if (has_outline && !ParseOutline(outline, meta.outline, error)) return Error(error);
    meta.source_file = image_path.section(QLatin1Char('/'), -1);

    const QImage image(image_path);
    if (image.isNull()) return Error(QStringLiteral("cannot read image \"%1\"").arg(image_path));
    CQctWriter writer;
    if (!writer.SetImage(image)) return Error(QString::fromStdString(writer.Error()));
    writer.Meta() = meta;

    const bool corners = has_n || has_s || has_w || has_e;
    if (corners && has_coeffs) return Error(QStringLiteral("give either the four corners or --coeffs, not both"));
    if (corners) {
        if (!(has_n && has_s && has_w && has_e))
            return Error(QStringLiteral("--north, --south, --west and --east go together"));
        double n = 0, s = 0, w = 0, e = 0;
        if (!ParseDouble(north, n) || !ParseDouble(south, s) || !ParseDouble(west, w) || !ParseDouble(east, e))
            return Error(QStringLiteral("corner coordinates must be numbers"));
        if (!writer.SetGeorefFromCorners(n, s, w, e)) return Error(QString::fromStdString(writer.Error()));
    } else if (has_coeffs) {
        std::array<double, 40> c{};
        if (!ReadCoefficients(coeffs, c, error)) return Error(error);
        writer.SetGeoref(c);
    } else {
        return Error(QStringLiteral("georeferencing needed: --north/--south/--west/--east or --coeffs FILE"));
    }

    std::string werr;
    const std::string path = out.toStdString();
    const bool ok = chunked ? writer.WriteChunked(path, &werr) : writer.WriteSingleFile(path, &werr);
    if (!ok) return Error(QString::fromStdString(werr));
    std::printf("%s: %dx%d pixels, %dx%d tiles, %d colours, %s\n", path.c_str(), image.width(), image.height(),
                writer.TilesWide(), writer.TilesHigh(), static_cast<int>(writer.Palette().size()),
                chunked ? "chunked (with .qc3 directory)" : "single file");
    return 0;
}

const ToolCommandRegistry::Registrar kQctMake(ToolCommand{
    "qct-make",
    "IMAGE.png -o OUT.qct [--chunked] [--title T] [--name N] [--id I] [--edition E] [--revision R] "
    "[--copyright C] [--scale-text S] [--map-type M] [--depth-units D] [--height-units H] [--flags N] "
    "[--north LAT --south LAT --west LON --east LON | --coeffs FILE(40 numbers)] [--datum-shift DLAT DLON] "
    "[--outline \"lat,lon;lat,lon;...\"]",
    "Makes a QCT chart from an image (quantised to 127 colours), single-file or chunked.",
    RunQctMake,
});

}  // namespace
