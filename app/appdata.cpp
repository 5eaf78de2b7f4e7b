// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDebug>

#include <memory>

#include "app/appmodel.h"
#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "displays/displayview.h"
#include "maplib/chartlist.h"
#include "navdata/gpsposition.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"

namespace {
std::unique_ptr<CChartList> g_chartList;
std::unique_ptr<CMarkManager> g_marks;
std::unique_ptr<CTrackManager> g_tracks;
}

// Loads what the subsystems keep between runs. A missing file is never an error (first
// start).
bool load_app_data() {
    if (!g_chartList) {
        g_chartList = std::make_unique<CChartList>();
        p_chart_list = g_chartList.get();
    }
    if (!g_marks) {
        g_marks = std::make_unique<CMarkManager>();
        g_marks->SetDirectory(getAppDirectory());
        g_marks->LoadFromFile();
    }
    if (!g_tracks) {
        g_tracks = std::make_unique<CTrackManager>();
        g_tracks->SetDirectory(getAppDirectory());
        // A journal left by a crash is replayed here, before any new point is recorded.
        g_tracks->LoadFromFile();
        g_tracks->SetPositionColor(COverlayGPSPosition::settings.gc_color2);
    }
    LoadLatestPosition(getAppDirectory());
    return true;
}

// Saves everything that changed. Called at shutdown, when the application becomes
// inactive and whenever a subsystem changed one of its settings.
bool save_all_app_data() {
    if (g_mark_manager) g_mark_manager->SaveIfNeeded();
    if (g_track_manager) g_track_manager->SaveIfNeeded();
    SaveLatestPosition(getAppDirectory());
    PersistantData::SaveAll();
    if (CDisplayViewArrangementSet* layout = GetActiveArrangementSet()) layout->save_layout_if_changed();
    return true;
}

// After the last save: the managers go while the application object, the heartbeat and
// the registries they belong to still exist, rather than among the program's exit handlers.
void release_app_data() {
    g_tracks.reset();
    g_marks.reset();
    p_chart_list = nullptr;
    g_chartList.reset();
}
