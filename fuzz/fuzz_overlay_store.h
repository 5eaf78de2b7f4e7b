// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The store the overlay-file fuzzers import into: mark and track managers in a folder of
// their own that nothing is ever saved to, and the checks every import must pass.

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/apppaths.h"
#include "overlays/gpximport.h"
#include "overlays/gpxoutput.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"
#include "overlays/xmlnode.h"

class FuzzOverlayStore {
public:
    static void Create(int* argc, char*** argv) {
        static QCoreApplication app(*argc, *argv);
        static FuzzOverlayStore store;
        s_instance = &store;
    }
    static FuzzOverlayStore& Instance() { return *s_instance; }

    // Every imported mark has a place GPX can carry, the store holds no more than was
    // counted (objects of a file that share an id are one object), and the export reads
    // back with one "wpt" per mark.
    void CheckAndClear(const COverlayImportResult& result) {
        size_t marks = 0, points = 0;
        for (const auto& m : m_marks->Marks()) {
            if (!m->HasPosition() || std::fabs(m->getLat()) > 90) std::abort();
            ++marks;
        }
        for (const auto& t : m_tracks->GetTracks()) points += t->getTotalPoints();
        if (marks > size_t(result.marks) || m_marks->Routes().size() > size_t(result.routes) ||
            m_tracks->GetTracks().size() > size_t(result.tracks) || points > size_t(result.track_points))
            std::abort();
        if (result.Objects() > 0) {
            if (!ExportAllGPX(m_out)) std::abort();
            const auto back = CXMLnode::ParseFile(m_out);
            if (!back) std::abort();
            back->StartFindRecursive();
            size_t wpts = 0;
            while (back->FindNextRecursive("wpt")) ++wpts;
            if (wpts != marks) std::abort();
        }
        m_marks->ClearAll();
        m_tracks->ClearAll();
    }

private:
    FuzzOverlayStore() {
        const std::string dir = m_dir.path().toStdString();
        setAppDirectoryForTesting(dir);
        CIconManager::setIconFolderForTesting(dir + "/Icons");
        m_marks = std::make_unique<CMarkManager>();
        m_marks->SetDirectory(dir);
        m_tracks = std::make_unique<CTrackManager>();
        m_tracks->SetDirectory(dir);
        m_tracks->SetReadOnly(true);
        m_tracks->SetJournalEnabled(false);
        m_out = dir + "/out.gpx";
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CMarkManager> m_marks;
    std::unique_ptr<CTrackManager> m_tracks;
    std::string m_out;
    static inline FuzzOverlayStore* s_instance = nullptr;
};
