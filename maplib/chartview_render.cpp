// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/chartview_render.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QThread>

#include <cmath>

#include "core/apppaths.h"
#include "maplib/chartlist.h"
#include "maplib/chartview.h"

namespace {

// Runs the event loop until `done` says so or the time is up.
template <class Pred>
bool RunUntil(Pred done, QElapsedTimer& clock, int timeoutMs) {
    while (!done()) {
        if (clock.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace

bool RenderChartView(const RenderViewRequest& request, RenderViewResult& result, std::string& error) {
    if (request.width <= 0 || request.height <= 0 || request.width > 16384 || request.height > 16384) {
        error = "the size must be between 1x1 and 16384x16384";
        return false;
    }
    if (!DirectoryExists(request.chartsDir)) {
        error = "no such folder: " + request.chartsDir;
        return false;
    }
    if (!std::isfinite(request.lat) || !std::isfinite(request.lon) || std::fabs(request.lat) > 90.0 ||
        std::fabs(request.lon) > 360.0) {
        error = "the position is out of range";
        return false;
    }
    if (!std::isfinite(request.scale) || request.scale < 0) {
        error = "the scale must be a positive number";
        return false;
    }
    if (request.hasZoom &&
        (request.zoom < CQuickChartView::kMinZoom || request.zoom > CQuickChartView::kDefaultMaxZoom)) {
        error = "the zoom level must be between -2 and 3";
        return false;
    }

    // Exactly the charts of the folder: no built-in charts, no user folders.
    CChartList list({request.chartsDir}, std::string());
    if (list.size() == 0) {
        error = "no usable charts in " + request.chartsDir;
        return false;
    }
    // Automatic download exactly when asked for: offline renders never touch the network.
    CQuickChartView::settings().automatic_download = request.online;
    CQuickChartView::AutomaticDownloadChanged();
    CQuickChartView view;
    view.SetChartList(&list);
    view.setScreenRect(0, 0, request.width, request.height);

    QElapsedTimer clock;
    clock.start();
    bool finished = false, opened = false;
    view.GotoBestMap(NV_HWND(), request.lat, request.lon, request.scale, [&](bool ok) {
        finished = true;
        opened = ok;
    });
    if (!RunUntil([&] { return finished; }, clock, request.timeoutMs) || !opened || !view.IsOpen()) {
        error = "no chart in the folder covers the position";
        return false;
    }
    if (request.hasZoom) {
        const FPoint c = view.ScreenCentre();
        view.ZoomToLevel(request.zoom, c.x, c.y);
    }

    result.chartPath = view.CurrentPath();
    result.image = QImage(request.width, request.height, QImage::Format_RGB32);
    // Each frame asks for the squares still missing; between frames the workers decode.
    RunUntil(
        [&] {
            view.onTimer();
            result.image.fill(Qt::white);
            QPainter painter(&result.image);
            result.complete = view.onDraw(&painter, 0, 0, request.width, request.height);
            const CCachedQuickChart::CWebWorker* web = request.online ? view.WebWorker() : nullptr;
            if (!web || !result.complete) return result.complete;
            // The frame counts once nothing is on its way or waiting to be asked for.
            result.chunksFetched = web->ChunksFetched();
            result.bytesFetched = web->BytesReceived();
            const bool settled = !view.isLoading() && web->NeededChunks().empty();
            // Stopped for failures, or the last download failed and nothing else is coming:
            // the missing data is asked for again only when the view is read again.
            result.downloadStopped = web->Stopped() || (settled && web->ErrorsInARow() > 0);
            if (result.downloadStopped) return true;
            return settled && !view.LastFrameWaitsForData();
        },
        clock, request.timeoutMs);
    if (result.downloadStopped) result.complete = false;
    result.zoom = view.ZoomLevel();
    result.displayedScale = view.getDisplayedScale();
    return true;
}
