// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool gpx-convert: a GPX or CSV file through the real importer into an empty
// store, and everything in the store out through the real GPX writers. Users convert
// old CSV collections with it; tests check the importer and the writers together.

#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <string>

#include "core/apppaths.h"
#include "overlays/gpximport.h"
#include "overlays/gpxoutput.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"
#include "tools/replay_harness.h"
#include "tools/tool_command.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "navora-tool gpx-convert: %s\n", message.c_str());
    return 1;
}

int Run(const QStringList& arguments) {
    ToolArgs args(arguments);
    bool haveOut = false;
    const QString out = args.TakeOption(QStringLiteral("-o"), &haveOut);
    bool haveCategory = false;
    const QString category = args.TakeOption(QStringLiteral("--category"), &haveCategory);
    if (args.HasError()) return Fail(args.Error().toStdString());
    if (!haveOut || out.isEmpty() || args.Rest().size() != 1)
        return Fail("usage: gpx-convert IN.(gpx|csv) -o OUT.gpx [--category NAME]");
    const std::string in = args.Rest().front().toStdString();

    // An empty store of its own: nothing of the user's profile is read or written.
    QTemporaryDir store;
    if (!store.isValid()) return Fail("no temporary folder for the store");
    const std::string dir = store.path().toStdString();
    setAppDirectoryForTesting(dir);
    CIconManager::setIconFolderForTesting(dir + "/Icons");
    CMarkManager marks;
    marks.SetDirectory(dir);
    CTrackManager tracks;
    tracks.SetDirectory(dir);
    tracks.SetJournalEnabled(false);

    COverlayImportResult result;
    bool ok;
    {
        std::unique_ptr<CImportCategoryOverride> scope;
        if (haveCategory) scope = std::make_unique<CImportCategoryOverride>(category.toStdString());
        ok = ImportOverlayFile(in, result);
    }
    if (!ok) return Fail(in + ": " + result.error);
    if (!result.error.empty()) std::fprintf(stderr, "navora-tool gpx-convert: %s: %s\n", in.c_str(), result.error.c_str());

    std::string error;
    if (!ExportAllGPX(out.toStdString(), &error)) return Fail(error);

    size_t nMarks = 0, nRoutes = 0, nRoutePoints = 0, nTracks = 0, nTrackPoints = 0;
    for (const auto& m : marks.Marks())
        if (!m->isDeleted()) ++nMarks;
    for (const auto& r : marks.Routes()) {
        if (r->isDeleted()) continue;
        ++nRoutes;
        nRoutePoints += r->size();
    }
    for (const auto& t : tracks.GetTracks()) {
        if (t->isDeleted()) continue;
        ++nTracks;
        nTrackPoints += t->getTotalPoints();
    }
    CEventLine line;
    line.Add("marks", nMarks).Add("routes", nRoutes).Add("route_points", nRoutePoints);
    line.Add("tracks", nTracks).Add("track_points", nTrackPoints);
    std::printf("%s\n", line.Finish().c_str());
    return 0;
}

ToolCommandRegistry::Registrar registrar({"gpx-convert", "IN.(gpx|csv) -o OUT.gpx [--category NAME]",
                                          "imports a GPX or CSV file into an empty store and writes it all as GPX 1.1",
                                          Run, false});

}  // namespace
