// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A track manager of its own in a fresh folder, a recording user interface, and positions
// published the way the GPS feed publishes them.

#include <QTemporaryDir>

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "core/pubsub.h"
#include "overlays/trackmanager.h"
#include "support/recording_ui.h"

// A place `north` and `east` metres from (lat, lon), along geodesics.
inline void Offset(double lat, double lon, double north, double east, double& outLat, double& outLon) {
    const auto& g = GeographicLib::Geodesic::WGS84();
    const double dist = std::hypot(north, east);
    const double azi = std::atan2(east, north) * 180.0 / M_PI;
    g.Direct(lat, lon, azi, dist, outLat, outLon);
}

inline double Geodesic(const CTrackPoint& a, const CTrackPoint& b) {
    double s = 0;
    GeographicLib::Geodesic::WGS84().Inverse(a.lat, a.lon, b.lat, b.lon, s);
    return s;
}

class TrackTest : public ::testing::Test {
protected:
    static constexpr double kLat = 50.5, kLon = -2.9;
    static constexpr double kT0 = 1781431200.0;  // 14 June 2026 10:00 UTC

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CTrackManager::settings.doRecordTrack = true;
        manager = std::make_unique<CTrackManager>();
        manager->SetDirectory(Dir());
        ASSERT_EQ(g_track_manager, manager.get());
    }
    void TearDown() override {
        manager.reset();
        CTrackManager::settings.doRecordTrack = false;
    }

    std::string Dir() const { return m_dir.path().toStdString(); }

    // The program ends (a crash when `save` is false: nothing is written on the way out)
    // and starts again on the same folder.
    void Restart(bool save) {
        if (save) {
            ASSERT_TRUE(manager->SaveIfNeeded());
        }
        manager.reset();
        manager = std::make_unique<CTrackManager>();
        manager->SetDirectory(Dir());
        manager->LoadFromFile();
    }

    // A fix moving at `knots` on `course`. A steady one agrees with the averaged velocity
    // (no change of course or speed); one that is not has just turned 90 degrees.
    static CDataGPSPosition MakeFix(double lat, double lon, double t, double knots, double course, bool steady) {
        CDataGPSPosition p;
        p.SetLatLon(lat, lon);
        p.fix_time = t;
        p.fix_status = FIX_GPS;
        p.SetCourseSpeed(float(course), float(knots));
        p.best_mode = CDataSpeedDirection::DIR_COURSE;
        p.avg_speed = float(knots);
        p.avg_direction = float(steady ? course : std::fmod(course + 90.0, 360.0));
        p.avg_vec.SetDegrees(p.avg_direction);
        return p;
    }
    void Feed(double lat, double lon, double t, double knots = 5, double course = 0, bool steady = false) {
        CDataGPSPosition p = MakeFix(lat, lon, t, knots, course, steady);
        Listener<CDataGPSPosition>::Publish(p);
    }
    // Northward at `metresPerStep` every `secondsPerStep`, `n` positions from `start`.
    void SailNorth(int n, double metresPerStep, double secondsPerStep, bool steady, double start = kT0,
                   double lat0 = kLat) {
        for (int i = 0; i < n; ++i) {
            double lat, lon;
            Offset(lat0, kLon, i * metresPerStep, 0, lat, lon);
            const double knots = metresPerStep / secondsPerStep / CTrackManager::kMsPerKnot;
            Feed(lat, lon, start + i * secondsPerStep, knots, 0, steady);
        }
    }

    COverlayTrack* Active() { return manager->GetActiveTrack(); }
    size_t Points() { return Active() ? Active()->getTotalPoints() : 0; }

    RecordingUi ui;
    std::unique_ptr<CTrackManager> manager;

private:
    QTemporaryDir m_dir;
};
