// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include "core/uiservices.h"

// How the chart catalogue gets files from the network: the files that belong to a chart
// (such as its place-name index) and newer manifests of installed map packages.
class IChartFetcher {
public:
    // Success, the path actually written (a name other than the target's means the file
    // came gzip-compressed) and, on failure, the server's message.
    using FetchDone = std::function<void(bool ok, const std::string& downloaded, const std::string& message)>;

    virtual ~IChartFetcher() = default;
    // Fetches the associated file of `type` for the chart at `chart_path` towards `target`.
    virtual void FetchAssocFile(const NV_HWND& window, const std::string& type, const std::string& chart_key,
                                const std::string& target, FetchDone done) = 0;
    // Asks the package server for `server_path` and installs the package again when the
    // manifest there differs from `local_path`; `done` gets whether the check succeeded.
    virtual void UpdatePackage(const NV_HWND& window, const std::string& server_path, const std::string& local_path,
                               std::function<void(bool ok)> done) = 0;
};

// The fetcher of the online services: associated files from the data server as
// "/assoc/<chart key>.<type>.gz", package manifests from the package server.
IChartFetcher& OnlineChartFetcher();
