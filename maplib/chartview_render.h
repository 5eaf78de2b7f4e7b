// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Renders one frame of a chart view off screen, choosing the chart from a catalogue of
// exactly the charts under one folder the way the application would. Used by the
// command-line tool and by tests that check chart choice and drawing end to end.
//
// GUI thread (it runs the event loop while waiting for the renderer).

#include <QImage>

#include <string>

struct RenderViewRequest {
    std::string chartsDir;
    double lat = 999;
    double lon = 999;
    double scale = 0;      // wanted scale (nautical miles per pixel); 0 = the most detailed chart
    bool hasZoom = false;  // when set, the frame is shown at `zoom` instead of the level the scale gives
    int zoom = 0;
    int width = 0;
    int height = 0;
    int timeoutMs = 60000;  // for the renderer to finish every square
    // Fetch missing chunk data from the chunk server (automatic download) and wait until
    // the downloads the view asked for have finished.
    bool online = false;
};

struct RenderViewResult {
    QImage image;
    std::string chartPath;  // the chart the view chose
    int zoom = 0;
    double displayedScale = 0;
    bool complete = false;  // every square drawn at full detail before the timeout
    // With `online`: what the downloads brought, and whether they stopped for failures.
    int chunksFetched = 0;
    long long bytesFetched = 0;
    bool downloadStopped = false;
};

// False with `error` set when nothing could be drawn (no chart covers the place, bad size...).
bool RenderChartView(const RenderViewRequest& request, RenderViewResult& result, std::string& error);
