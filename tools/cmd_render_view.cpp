// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool render-view: one frame of the map as the application would show it.

#include <QJsonDocument>
#include <QFileInfo>
#include <QJsonObject>

#include <cstdio>
#include <string>

#include "maplib/chartview_render.h"
#include "online/onlinesettings.h"
#include "tools/tool_command.h"

namespace {

int RunRenderView(const QStringList& argv) {
    ToolArgs args(argv);
    bool hasScale = false, hasZoom = false, hasLat = false, hasLon = false, hasSize = false, hasOut = false,
         hasDir = false;
    const QString dir = args.TakeOption(QStringLiteral("--charts"), &hasDir);
    const QString lat = args.TakeOption(QStringLiteral("--lat"), &hasLat);
    const QString lon = args.TakeOption(QStringLiteral("--lon"), &hasLon);
    const QString scale = args.TakeOption(QStringLiteral("--scale"), &hasScale);
    const QString zoom = args.TakeOption(QStringLiteral("--zoom"), &hasZoom);
    const QString size = args.TakeOption(QStringLiteral("--size"), &hasSize);
    const QString out = args.TakeOption(QStringLiteral("-o"), &hasOut);
    const bool online = args.TakeFlag(QStringLiteral("--online"));
    bool hasServer = false, hasCa = false;
    const QString server = args.TakeOption(QStringLiteral("--server"), &hasServer);
    const QString ca = args.TakeOption(QStringLiteral("--ca-file"), &hasCa);
    if ((hasServer || hasCa) && !online) {
        std::fprintf(stderr, "render-view: --server and --ca-file go with --online\n");
        return 2;
    }
    if (hasServer) {
        CServerAddress address;
        if (!CServerAddress::Parse(server.toStdString(), true, address)) {
            std::fprintf(stderr, "render-view: --server takes http[s]://HOST[:PORT]\n");
            return 2;
        }
        COnlineSettings::SetServer(COnlineSettings::kChartServer, address);
    }
    if (hasCa) COnlineSettings::SetExtraCaFile(QFileInfo(ca).absoluteFilePath().toStdString());
    if (args.HasError()) {
        std::fprintf(stderr, "render-view: %s\n", qPrintable(args.Error()));
        return 2;
    }
    if (!args.Rest().isEmpty()) {
        std::fprintf(stderr, "render-view: unexpected argument \"%s\"\n", qPrintable(args.Rest().front()));
        return 2;
    }
    if (!hasDir || !hasLat || !hasLon || !hasSize || !hasOut) {
        std::fprintf(stderr, "render-view: --charts, --lat, --lon, --size and -o are required\n");
        return 2;
    }
    if (hasScale && hasZoom) {
        std::fprintf(stderr, "render-view: give --scale or --zoom, not both\n");
        return 2;
    }

    RenderViewRequest request;
    request.chartsDir = dir.toStdString();
    request.online = online;
    if (!ParseDouble(lat, request.lat) || !ParseDouble(lon, request.lon)) {
        std::fprintf(stderr, "render-view: --lat and --lon take numbers in degrees\n");
        return 2;
    }
    if (hasScale && (!ParseDouble(scale, request.scale) || !(request.scale > 0))) {
        std::fprintf(stderr, "render-view: --scale takes a positive number (nautical miles per pixel)\n");
        return 2;
    }
    if (hasZoom) {
        if (!ParseInt(zoom, request.zoom)) {
            std::fprintf(stderr, "render-view: --zoom takes a whole number from -2 to 3\n");
            return 2;
        }
        request.hasZoom = true;
    }
    const QStringList wh = size.split(QLatin1Char('x'));
    if (wh.size() != 2 || !ParseInt(wh[0], request.width) || !ParseInt(wh[1], request.height)) {
        std::fprintf(stderr, "render-view: --size takes WIDTHxHEIGHT\n");
        return 2;
    }

    RenderViewResult result;
    std::string error;
    if (!RenderChartView(request, result, error)) {
        std::fprintf(stderr, "render-view: %s\n", error.c_str());
        return 1;
    }
    if (!result.image.save(out, "PNG")) {
        std::fprintf(stderr, "render-view: cannot write %s\n", qPrintable(out));
        return 1;
    }
    QJsonObject line;
    line[QStringLiteral("chart")] = QString::fromStdString(result.chartPath);
    line[QStringLiteral("zoom")] = result.zoom;
    line[QStringLiteral("scale_nm_per_pixel")] = result.displayedScale;
    line[QStringLiteral("complete")] = result.complete;  // false: the renderer timed out or downloads failed
    if (online) {
        line[QStringLiteral("chunks_fetched")] = result.chunksFetched;
        line[QStringLiteral("bytes_fetched")] = double(result.bytesFetched);
    }
    std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
    return result.complete ? 0 : 1;
}

ToolCommandRegistry::Registrar regRenderView(
    {"render-view", "--charts DIR --lat LAT --lon LON [--scale S | --zoom Z] --size WxH -o OUT.png [--online [--server URL] "
     "[--ca-file PEM]]",
     "Renders the map as the app would: the best chart of DIR for the place and scale", RunRenderView});

}  // namespace
