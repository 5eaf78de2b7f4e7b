// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool commands for positions and magnetic variation.

#include <QDate>
#include <QDateTime>
#include <QTimeZone>

#include <cstdio>
#include <string>

#include "tools/tool_command.h"
#include "units/units.h"
#include "units/wmm.h"

namespace {

int Fail(const char* cmd, const std::string& message) {
    std::fprintf(stderr, "navora-tool %s: %s\n", cmd, message.c_str());
    return 1;
}

int PosFormat(const QStringList& argv) {
    ToolArgs args(argv);
    bool haveFormat = false;
    const QString format = args.TakeOption(QStringLiteral("--format"), &haveFormat);
    if (args.HasError()) return Fail("pos-format", args.Error().toStdString());
    double lat, lon;
    if (args.Rest().size() != 2 || !ParseDouble(args.Rest()[0], lat) || !ParseDouble(args.Rest()[1], lon)) {
        return Fail("pos-format", "expected LAT LON in decimal degrees");
    }
    if (lat < -90 || lat > 90 || lon < -360 || lon > 360) return Fail("pos-format", "position out of range");
    if (haveFormat) {
        const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find(format.toStdString());
        if (!f) return Fail("pos-format", "unknown format '" + format.toStdString() + "'");
        std::string text;
        if (!f->format(lat, lon, text)) return Fail("pos-format", "the position is outside " + std::string(f->name));
        std::printf("%s\n", text.c_str());
        return 0;
    }
    for (const CUnits::PositionFormatType* f : CUnits::PositionFormatType::All()) {
        std::string text;
        if (!f->format(lat, lon, text)) text = "(outside this grid)";
        std::printf("%s: %s\n", f->name, text.c_str());
    }
    return 0;
}

int PosParse(const QStringList& argv) {
    ToolArgs args(argv);
    bool haveFormat = false;
    const QString format = args.TakeOption(QStringLiteral("--format"), &haveFormat);
    if (args.HasError()) return Fail("pos-parse", args.Error().toStdString());
    if (!haveFormat) return Fail("pos-parse", "--format NAME is required");
    if (args.Rest().isEmpty()) return Fail("pos-parse", "expected the position text");
    const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find(format.toStdString());
    if (!f) return Fail("pos-parse", "unknown format '" + format.toStdString() + "'");
    // The text may arrive as one argument or split by the shell.
    const std::string text = args.Rest().join(QLatin1Char(' ')).toStdString();
    double lat = 0, lon = 0;
    if (!f->scan(text.c_str(), lat, lon)) {
        return Fail("pos-parse", "'" + text + "' is not a valid " + std::string(f->name) + " position");
    }
    std::printf("%.9f %.9f\n", lat, lon);
    return 0;
}

int MagVar(const QStringList& argv) {
    ToolArgs args(argv);
    bool haveDate = false, haveYear = false, haveHeight = false;
    const QString date = args.TakeOption(QStringLiteral("--date"), &haveDate);
    const QString year = args.TakeOption(QStringLiteral("--year"), &haveYear);
    const QString height = args.TakeOption(QStringLiteral("--height"), &haveHeight);
    if (args.HasError()) return Fail("magvar", args.Error().toStdString());
    double lat, lon;
    if (args.Rest().size() != 2 || !ParseDouble(args.Rest()[0], lat) || !ParseDouble(args.Rest()[1], lon)) {
        return Fail("magvar", "expected LAT LON in decimal degrees");
    }
    if (lat < -90 || lat > 90 || lon < -360 || lon > 360) return Fail("magvar", "position out of range");
    if (haveDate && haveYear) return Fail("magvar", "give either --date or --year, not both");
    double metres = 0;
    if (haveHeight && !ParseDouble(height, metres)) return Fail("magvar", "--height needs a number of metres");

    double decimalYear;
    if (haveYear) {
        if (!ParseDouble(year, decimalYear) || decimalYear < 1900 || decimalYear > 2100) {
            return Fail("magvar", "--year needs a decimal year such as 2026.5");
        }
    } else {
        double seconds = double(QDateTime::currentSecsSinceEpoch());
        if (haveDate) {
            const QDate d = QDate::fromString(date, Qt::ISODate);
            if (!d.isValid()) return Fail("magvar", "--date needs YYYY-MM-DD");
            seconds = double(QDateTime(d, QTime(0, 0), QTimeZone::utc()).toSecsSinceEpoch());
        }
        decimalYear = WMM_TimeToDecimalYear(seconds);
    }
    WMM_GeoMagneticElements el;
    if (!WMM_ComputeElements(CUnits::MagneticModelPath(), lat, lon, metres, decimalYear, el)) {
        return Fail("magvar", "the magnetic model could not be read");
    }
    std::printf("%.4f\n", el.decl);
    return 0;
}

const ToolCommandRegistry::Registrar s_posFormat({"pos-format", "LAT LON [--format NAME]",
                                                  "Writes a position in one format, or in all of them", PosFormat});
const ToolCommandRegistry::Registrar s_posParse({"pos-parse", "TEXT --format NAME",
                                                 "Reads a position and prints decimal latitude and longitude",
                                                 PosParse});
const ToolCommandRegistry::Registrar s_magVar({"magvar", "LAT LON [--date YYYY-MM-DD | --year YEAR] [--height M]",
                                               "Prints the magnetic variation in degrees, east positive", MagVar});

}  // namespace
