// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A mark manager of its own in a fresh folder, a recording user interface, metric units,
// and positions fed the way the GPS feed publishes them.

#include <QTemporaryDir>

#include <GeographicLib/Geodesic.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/pubsub.h"
#include "overlays/markmanager.h"
#include "support/recording_ui.h"
#include "units/units.h"

// Collects every publication of T.
template <class T>
struct Published : Listener<T> {
    void OnUpdate(T& v) override { values.push_back(v); }
    std::vector<T> values;
};

class MarkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        auto& s = CMarkManager::settings;
        s.notifications = false;
        s.auto_reverse = false;
        s.cross_track_alarm = 0;
        s.arrival_radius = 0;
        s.default_mark_icon = "Dot";
        s.default_wp_icon = "Waypoint";
        m_savedUnits = CDefaultUnits::u.get_unit_family();
        CDefaultUnits::u.set_unit_family(CUnits::e_km);
        manager = std::make_unique<CMarkManager>();
        manager->SetDirectory(Dir());
        ASSERT_EQ(g_mark_manager, manager.get());
    }
    void TearDown() override {
        manager.reset();
        CDefaultUnits::u.set_unit_family(m_savedUnits);
        CDataSource::SetReplayClock(0);
    }

    std::string Dir() const { return m_dir.path().toStdString(); }

    // A fix at (lat, lon) moving at `knots` on `course` degrees.
    void Fix(double lat, double lon, double knots = 0, double course = 0) {
        CDataGPSPosition p;
        p.SetLatLon(lat, lon);
        p.fix_status = FIX_GPS;
        p.fix_time = CDataSource::Now();
        p.speed = float(knots);
        p.course = float(course);
        p.course_vec.SetDegrees(float(course));
        Listener<CDataGPSPosition>::Publish(p);
    }

    // The point `metres` away from (lat, lon) on `bearing`, on the ellipsoid.
    static void Offset(double lat, double lon, double bearing, double metres, double& outLat, double& outLon) {
        GeographicLib::Geodesic::WGS84().Direct(lat, lon, bearing, metres, outLat, outLon);
    }
    void FixAt(double lat, double lon, double bearing, double metres, double knots = 0, double course = 0) {
        double la, lo;
        Offset(lat, lon, bearing, metres, la, lo);
        Fix(la, lo, knots, course);
    }

    COverlayMark* Mark(const std::string& name, double lat, double lon, float inner = 0, float radius = 0) {
        auto m = std::make_unique<COverlayMark>();
        m->setName(name);
        m->SetPosition(lat, lon);
        m->SetAlarm(inner, radius);
        return manager->AddMark(std::move(m));
    }
    COverlayRoute* Route(const std::string& name, const std::vector<std::pair<double, double>>& points) {
        auto r = std::make_unique<COverlayRoute>();
        r->setName(name);
        for (const auto& p : points) r->AddWaypoint(p.first, p.second);
        return manager->AddRoute(std::move(r));
    }

    RecordingUi ui;
    std::unique_ptr<CMarkManager> manager;

private:
    QTemporaryDir m_dir;
    CUnits::e_dist_units m_savedUnits = CUnits::e_nautical_miles;
};
