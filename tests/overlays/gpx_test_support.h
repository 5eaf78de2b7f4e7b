// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An empty store (mark and track managers in a fresh folder), files written from text,
// and imports into the store.

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "overlays/gpximport.h"
#include "overlays/iconmanager.h"
#include "overlays/markmanager.h"
#include "overlays/trackmanager.h"
#include "support/recording_ui.h"

class GpxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CMarkManager::settings.default_mark_icon = "Dot";
        CMarkManager::settings.default_wp_icon = "Waypoint";
        CIconManager::setIconFolderForTesting(Path("Icons"));
        CTrackManager::settings.doRecordTrack = false;
        marks = std::make_unique<CMarkManager>();
        marks->SetDirectory(Dir());
        tracks = std::make_unique<CTrackManager>();
        tracks->SetDirectory(Dir());
        tracks->SetJournalEnabled(false);
    }
    void TearDown() override {
        tracks.reset();
        marks.reset();
        CIconManager::setIconFolderForTesting({});
    }

    std::string Dir() const { return m_dir.path().toStdString(); }
    std::string Path(const std::string& name) const { return Dir() + "/" + name; }

    std::string Write(const std::string& name, const std::string& text) const {
        QFile f(QString::fromStdString(Path(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text.data(), qint64(text.size()));
        return Path(name);
    }
    static std::string Read(const std::string& path) {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
    }
    static std::string Data(const std::string& name) { return std::string(NAVORA_TEST_DATA_DIR) + "/gpx/" + name; }

    // Imports a GPX document given as text.
    COverlayImportResult ImportText(const std::string& gpx, const std::string& name = "in.gpx") {
        COverlayImportResult r;
        ImportOverlayFile(Write(name, gpx), r);
        return r;
    }
    static std::string Gpx(const std::string& body) {
        return "<?xml version=\"1.0\"?>\n<gpx version=\"1.1\" xmlns=\"http://www.topografix.com/GPX/1/1\">\n" + body +
               "</gpx>\n";
    }

    size_t LiveMarks() const {
        size_t n = 0;
        for (const auto& m : marks->Marks()) n += m->isDeleted() ? 0 : 1;
        return n;
    }

    RecordingUi ui;
    std::unique_ptr<CMarkManager> marks;
    std::unique_ptr<CTrackManager> tracks;

private:
    QTemporaryDir m_dir;
};
