// SPDX-License-Identifier: GPL-3.0-or-later
// Track read-outs: the statistics of the active track (distance, moving, elapsed and
// stopped time, average and maximum speed, ascent and descent) and the recording buttons.
// They follow the track manager's publications; while recording, every position updates
// them, whether or not it became a point.

#include <algorithm>
#include <cmath>
#include <functional>

#include "displays/readouts.h"
#include "overlays/trackmanager.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

constexpr double kKnotsPerMs = 1.0 / CTrackManager::kMsPerKnot;

// What the text items show, taken from the manager at each publication.
struct TrackSnapshot {
    bool has = false;  // an active track with at least one point
    double distance = 0;  // metres
    double moving = 0;    // seconds
    double elapsed = 0;   // seconds
    double maxSpeed = 0;  // metres per second
    bool altitudes = false;
    double ascent = 0, descent = 0;  // metres
};

TrackSnapshot TakeTrack(bool withAltitude) {
    TrackSnapshot s;
    if (!g_track_manager) return s;
    COverlayTrack* t = g_track_manager->GetActiveTrack();
    const CTrackPoint* first = t ? t->FirstPoint() : nullptr;
    if (!first) return s;
    s.has = true;
    s.distance = t->getTotalDistance();
    s.moving = t->getMovingTime();
    s.maxSpeed = t->getMaxSpeed();
    // While recording, time goes on between points (a boat at anchor records none).
    double end = t->LastPoint()->time;
    if (t->isRecording()) end = std::max(end, g_track_manager->LatestPositionTime());
    s.elapsed = first->time > 0 && end > first->time ? end - first->time : 0;
    if (withAltitude) {
        double lo, hi;
        s.altitudes = t->getAltitudeMetrics(s.ascent, s.descent, lo, hi);
    }
    return s;
}

using TrackFormatter = bool (*)(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units);

bool FormatDistance(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units) {
    units = CUnits::DistanceUnitName(u.dist_units);
    if (!s.has) return false;
    u.FormatDistance(s.distance, value, units);
    return true;
}

bool FormatTime(double seconds, bool has, std::string& value, std::string& units) {
    units = "h:m:s";
    if (!has) return false;
    value = CUnits::FormatElapsedTime(std::max(0.0, seconds));
    return true;
}

bool FormatMoving(const CUnits&, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatTime(s.moving, s.has, value, units);
}

bool FormatElapsed(const CUnits&, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatTime(s.elapsed, s.has, value, units);
}

bool FormatStopped(const CUnits&, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatTime(s.elapsed - s.moving, s.has, value, units);
}

bool FormatSpeed(const CUnits& u, double metresPerSecond, bool has, std::string& value, std::string& units) {
    units = CUnits::SpeedUnitName(u.speed_units);
    if (!has || !std::isfinite(metresPerSecond)) return false;
    u.FormatSpeedValue(metresPerSecond * kKnotsPerMs, value);
    return true;
}

bool FormatAverageMoving(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatSpeed(u, s.moving > 0 ? s.distance / s.moving : 0, s.has && s.moving > 0, value, units);
}

bool FormatAverageOverall(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatSpeed(u, s.elapsed > 0 ? s.distance / s.elapsed : 0, s.has && s.elapsed > 0, value, units);
}

bool FormatMaxSpeed(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatSpeed(u, s.maxSpeed, s.has, value, units);
}

bool FormatHeight(const CUnits& u, double metres, bool has, std::string& value, std::string& units) {
    // Heights go with the depth unit's system, as the GPS altitude does.
    const bool inMetres = u.dist_units == CUnits::e_km || u.depth_units == 1;
    units = inMetres ? "m" : "ft";
    if (!has) return false;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", metres * (inMetres ? 1.0 : double(CUnits::DistanceFactor(CUnits::e_feet))));
    value = buf;
    return true;
}

bool FormatAscent(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatHeight(u, s.ascent, s.altitudes, value, units);
}

bool FormatDescent(const CUnits& u, const TrackSnapshot& s, std::string& value, std::string& units) {
    return FormatHeight(u, s.descent, s.altitudes, value, units);
}

class CTrackReadout : public CTextReadout {
public:
    CTrackReadout(CItemSettings& s, TrackFormatter formatter, bool altitude)
        : CTextReadout(s), m_formatter(formatter), m_altitude(altitude), m_tracks([this](CTrackManager&) {
              m_snap = TakeTrack(m_altitude);
              Refresh();
          }) {}

    void Start() override {
        m_snap = TakeTrack(m_altitude);
        Refresh();
    }

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override {
        return m_formatter && m_formatter(u, m_snap, value, units);
    }

private:
    TrackFormatter m_formatter;
    bool m_altitude;
    TrackSnapshot m_snap;
    CHook<CTrackManager> m_tracks;
};

// Record Track / Stop recording.
class CLoggingButton : public CDisplayView::CItemButton {
public:
    explicit CLoggingButton(CItemSettings& s) : CItemButton(s), m_tracks([this](CTrackManager&) { Update(); }) {
        clicked = [](CItemButton&) {
            if (g_track_manager) g_track_manager->ToggleTrackRecording();
        };
        Update();
    }

private:
    void Update() {
        const bool recording = g_track_manager && g_track_manager->IsRecording();
        SetLabel(recording ? "Stop recording" : "Record Track");
        SetIcon(recording ? "stop_recording.svg" : "record.svg");
        if (Enabled() != (g_track_manager != nullptr)) SetEnabled(g_track_manager != nullptr);
    }
    CHook<CTrackManager> m_tracks;
};

// Pause the track being recorded, or resume the last one where the boat is now.
class CResumeButton : public CDisplayView::CItemButton {
public:
    explicit CResumeButton(CItemSettings& s) : CItemButton(s), m_tracks([this](CTrackManager&) { Update(); }) {
        clicked = [](CItemButton&) {
            if (g_track_manager) g_track_manager->ResumeOrPauseRecording();
        };
        Update();
    }

private:
    void Update() {
        COverlayTrack* t = g_track_manager ? g_track_manager->GetActiveTrack() : nullptr;
        const bool recording = t && t->isRecording();
        SetLabel(recording ? "Pause" : "Resume");
        const bool can = g_track_manager != nullptr && (recording || t != nullptr);
        if (Enabled() != can) SetEnabled(can);
    }
    CHook<CTrackManager> m_tracks;
};

// The stored part of a track item: nothing beyond the common item settings.
class CTrackItemSettings : public CItemSettings {
public:
    using CItemSettings::CItemSettings;
    CItem* CreateItem(CDisplayView::IWindow& pageWindow) override;
};

// A track item type: offered, and shown, only while there is a track manager to act on
// and report from.
class CTrackItemType : public CItemSettingsTypeOf<CTrackItemSettings> {
public:
    CTrackItemType(const char* name, int id, int layer, int width, int height, ItemFactory make)
        : CItemSettingsTypeOf<CTrackItemSettings>(name, id, layer, width, height), factory(make) {}
    bool FeatureAvailable() const override { return g_track_manager != nullptr; }
    ItemFactory factory;
};

CItem* CTrackItemSettings::CreateItem(CDisplayView::IWindow& pageWindow) {
    const auto* type = dynamic_cast<const CTrackItemType*>(Type());
    if (!type || !type->factory) return CItemSettings::CreateItem(pageWindow);
    CItem* item = type->factory(*this);
    // Virtual calls reach the finished item only now.
    if (auto* text = dynamic_cast<CTextReadout*>(item)) text->Start();
    return item;
}

template <TrackFormatter F, bool Altitude = false>
CItem* MakeTrack(CItemSettings& s) {
    return new CTrackReadout(s, F, Altitude);
}
template <class T>
CItem* Make(CItemSettings& s) {
    return new T(s);
}

CTrackItemType t50("Track: Logging Button", 50, 5, 200, 100, Make<CLoggingButton>);
CTrackItemType t51("Track: Distance travelled", 51, 5, 200, 100, MakeTrack<FormatDistance>);
CTrackItemType t52("Track: Moving Time", 52, 5, 200, 100, MakeTrack<FormatMoving>);
CTrackItemType t53("Track: Elapsed Time", 53, 5, 200, 100, MakeTrack<FormatElapsed>);
CTrackItemType t54("Track: Time not moving", 54, 5, 200, 100, MakeTrack<FormatStopped>);
CTrackItemType t55("Track: Avg Moving Speed", 55, 5, 200, 100, MakeTrack<FormatAverageMoving>);
CTrackItemType t56("Track: Max Speed", 56, 5, 200, 100, MakeTrack<FormatMaxSpeed>);
CTrackItemType t117("Track: Resume Button", 117, 5, 200, 100, Make<CResumeButton>);
CTrackItemType t128("Track: Average Speed Overall", 128, 5, 200, 100, MakeTrack<FormatAverageOverall>);
CTrackItemType t130("Track: Ascent", 130, 5, 200, 100, MakeTrack<FormatAscent, true>);
CTrackItemType t131("Track: Descent", 131, 5, 200, 100, MakeTrack<FormatDescent, true>);

}  // namespace

void detail::LinkTrackItems() {}

}  // namespace NReadouts
