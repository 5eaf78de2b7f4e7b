// SPDX-License-Identifier: GPL-3.0-or-later
// Chunked charts and the chunk server: bulk downloads of an area, a route corridor or a
// whole chart, and the passage check over every chart of a folder. JSON on stdout,
// progress and messages on stderr.
#include <QCoreApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "charts/qct.h"
#include "charts/qct_download.h"
#include "charts/qct_passage.h"
#include "online/onlinesettings.h"
#include "tools/tool_command.h"

namespace {

void PrintJson(const QJsonObject& o) {
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// --server URL and --ca-file PEM: the chunk server and an extra trusted authority.
bool TakeServerOptions(ToolArgs& a, const char* command) {
    bool present = false;
    const QString server = a.TakeOption(QStringLiteral("--server"), &present);
    if (present) {
        CServerAddress address;
        if (!CServerAddress::Parse(server.toStdString(), true, address)) {
            std::fprintf(stderr, "%s: --server takes http[s]://HOST[:PORT]\n", command);
            return false;
        }
        COnlineSettings::SetServer(COnlineSettings::kChartServer, address);
    }
    const QString ca = a.TakeOption(QStringLiteral("--ca-file"), &present);
    if (present) COnlineSettings::SetExtraCaFile(QFileInfo(ca).absoluteFilePath().toStdString());
    return true;
}

// "LAT,LON;LAT,LON;…" as longitude/latitude vertices.
bool ParseRoute(const QString& text, CPolyline& route) {
    for (const QString& point : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList ll = point.split(QLatin1Char(','));
        double lat = 0, lon = 0;
        if (ll.size() != 2 || !ParseDouble(ll[0].trimmed(), lat) || !ParseDouble(ll[1].trimmed(), lon) ||
            std::fabs(lat) > 90 || std::fabs(lon) > 360)
            return false;
        route.Add(lon, lat);
    }
    return !route.empty();
}

// Prints the progress a few times a second while the event loop runs.
class ProgressTicker {
public:
    explicit ProgressTicker(std::shared_ptr<CProgressDialogData> p) : m_progress(std::move(p)) {
        m_timer.setInterval(250);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Print(); });
        m_timer.start();
    }
    ~ProgressTicker() { Print(); }  // where it ended, however quickly

private:
    void Print() {
        std::fprintf(stderr, "progress %.1f%% %lld bytes\n", m_progress->Progress() * 100.0, m_progress->BytesDone());
        std::fflush(stderr);
    }

    std::shared_ptr<CProgressDialogData> m_progress;
    QTimer m_timer;
};

template <class Flag>
void RunUntil(const Flag& done) {
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
}

int RunQctDownload(const QStringList& argv) {
    ToolArgs a(argv);
    bool hasArea = false, hasRoute = false, hasWidth = false;
    const bool whole = a.TakeFlag(QStringLiteral("--whole"));
    const QString area = a.TakeOption(QStringLiteral("--area"), &hasArea);
    const QString routeText = a.TakeOption(QStringLiteral("--route"), &hasRoute);
    const QString width = a.TakeOption(QStringLiteral("--width-nm"), &hasWidth);
    if (!TakeServerOptions(a, "qct-download")) return 2;
    if (a.HasError() || a.Rest().size() != 1 || int(whole) + int(hasArea) + int(hasRoute) != 1 ||
        hasRoute != hasWidth) {
        std::fprintf(stderr, "usage: qct-download CHART.qct (--whole | --area N,S,W,E | --route \"LAT,LON;…\" "
                             "--width-nm D) [--server URL] [--ca-file PEM]\n");
        return 2;
    }
    CPolygon polygon;
    CPolyline route;
    double width_nm = 0;
    if (hasArea) {
        const QStringList nswe = area.split(QLatin1Char(','));
        double n = 0, s = 0, w = 0, e = 0;
        if (nswe.size() != 4 || !ParseDouble(nswe[0], n) || !ParseDouble(nswe[1], s) || !ParseDouble(nswe[2], w) ||
            !ParseDouble(nswe[3], e) || n <= s || e <= w) {
            std::fprintf(stderr, "qct-download: --area takes NORTH,SOUTH,WEST,EAST in degrees\n");
            return 2;
        }
        polygon = CPolygon::FromBounds(CBounds(w, e, s, n));
    }
    if (hasRoute && (!ParseRoute(routeText, route) || !ParseDouble(width, width_nm) || !(width_nm > 0))) {
        std::fprintf(stderr, "qct-download: --route takes \"LAT,LON;LAT,LON;…\" and --width-nm a positive number\n");
        return 2;
    }

    const std::string path = QFileInfo(a.Rest().front()).absoluteFilePath().toStdString();
    CQuickChart* chart = nullptr;
    bool opened = false, ok = false;
    CQuickChart::Create(NV_HWND(), path, [&](CQuickChart* c, bool success) {
        chart = c;
        ok = success;
        opened = true;
    });
    RunUntil(opened);
    auto* c3 = dynamic_cast<CQuickChart3*>(chart);
    if (!ok || !c3) {
        std::fprintf(stderr, "qct-download: %s is not a chunked chart that can be opened\n", path.c_str());
        if (chart) chart->Destroy();
        return 1;
    }
    auto progress = std::make_shared<CProgressDialogData>("Downloading " + c3->GetTitle());
    ProgressTicker ticker(progress);
    CChunkDownloadReport report;
    bool finished = false;
    auto done = [&](const CChunkDownloadReport& r) {
        report = r;
        finished = true;
    };
    if (whole)
        c3->DownloadWholeMap(progress, done);
    else if (hasArea)
        c3->DownloadPolygon(polygon, progress, done);
    else {
        // Every chunk any part of which lies in the corridor.
        CPolyline pixels;
        double distance = 0;
        if (!CorridorPixels(c3, route, width_nm, pixels, distance)) pixels.Clear();
        c3->DownloadRouteInPixels(pixels, distance, progress, done);
    }
    RunUntil(finished);
    chart->Destroy();
    if (!report.message.empty()) std::fprintf(stderr, "qct-download: %s\n", report.message.c_str());
    QJsonObject o;
    o["chunks"] = report.chunks;
    o["present"] = report.present;
    o["downloaded"] = report.downloaded;
    o["blank"] = report.blank;
    o["failed"] = report.failed;
    o["bytes"] = double(report.bytes);
    o["complete"] = report.complete;
    PrintJson(o);
    return report.complete ? 0 : 1;
}

int RunPassageCheck(const QStringList& argv) {
    ToolArgs a(argv);
    bool hasDir = false, hasRoute = false, hasWidth = false;
    const QString dir = a.TakeOption(QStringLiteral("--charts"), &hasDir);
    const QString routeText = a.TakeOption(QStringLiteral("--route"), &hasRoute);
    const QString width = a.TakeOption(QStringLiteral("--width-nm"), &hasWidth);
    const bool noDownload = a.TakeFlag(QStringLiteral("--no-download"));
    if (!TakeServerOptions(a, "passage-check")) return 2;
    CPolyline route;
    double width_nm = 0;
    if (a.HasError() || !a.Rest().isEmpty() || !hasDir || !hasRoute || !hasWidth || !ParseRoute(routeText, route) ||
        !ParseDouble(width, width_nm) || !(width_nm > 0)) {
        std::fprintf(stderr, "usage: passage-check --charts DIR --route \"LAT,LON;…\" --width-nm D [--no-download] "
                             "[--server URL] [--ca-file PEM]\n");
        return 2;
    }
    std::vector<std::string> paths;
    QDirIterator it(dir, {QStringLiteral("*.qct"), QStringLiteral("*.QCT")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) paths.push_back(QFileInfo(it.next()).absoluteFilePath().toStdString());
    std::sort(paths.begin(), paths.end());

    auto progress = std::make_shared<CProgressDialogData>("Preparing for passage");
    ProgressTicker ticker(progress);
    CPassagePreparer preparer(paths, route, width_nm, progress, !noDownload);
    CPassageReport report;
    bool finished = false;
    preparer.Start([&](const CPassageReport& r) {
        report = r;
        finished = true;
    });
    RunUntil(finished);

    QJsonArray charts;
    for (const CPassageChartReport& c : report.charts) {
        QJsonObject o;
        o["path"] = QString::fromStdString(c.path);
        o["title"] = QString::fromStdString(c.title);
        o["chunked"] = c.chunked;
        o["needed"] = c.needed;
        o["present"] = c.present;
        o["missing"] = c.missing;
        o["downloaded"] = c.download.downloaded;
        o["bytes"] = double(c.download.bytes);
        QJsonArray grid;
        for (int r = 0; r < c.rows; ++r) {
            QString line;
            for (int k = 0; k < c.cols; ++k) line += QLatin1Char(".#x"[c.cells[size_t(r) * size_t(c.cols) + size_t(k)]]);
            grid.append(line);
        }
        o["grid_origin"] = QJsonArray{c.r0, c.c0};
        o["grid"] = grid;  // "." outside the corridor, "#" on the device, "x" missing
        o["missing_areas"] = int(c.missing_areas.size());
        charts.append(o);
    }
    QJsonArray gaps;
    for (const auto& [from, to] : report.uncovered)
        gaps.append(QJsonArray{QJsonArray{from.y, from.x}, QJsonArray{to.y, to.x}});
    QJsonObject o;
    o["charts"] = charts;
    o["needed"] = report.needed;
    o["present"] = report.present;
    o["missing"] = report.missing;
    o["route_samples"] = report.route_samples;
    o["route_samples_offline"] = report.route_samples_offline;
    o["uncovered"] = gaps;
    o["ready"] = report.ready;
    o["summary"] = QString::fromStdString(report.summary);
    PrintJson(o);
    return report.ready ? 0 : 1;
}

ToolCommandRegistry::Registrar regQctDownload(
    {"qct-download",
     "CHART.qct (--whole | --area N,S,W,E | --route \"LAT,LON;…\" --width-nm D) [--server URL] [--ca-file PEM]",
     "Downloads the chunks of a chunked chart for an area, a route corridor or the whole chart", RunQctDownload,
     false});

ToolCommandRegistry::Registrar regPassageCheck(
    {"passage-check",
     "--charts DIR --route \"LAT,LON;…\" --width-nm D [--no-download] [--server URL] [--ca-file PEM]",
     "Downloads every chart's chunks along a route corridor and reports what is available offline",
     RunPassageCheck, false});

}  // namespace
