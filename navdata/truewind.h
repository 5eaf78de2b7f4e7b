// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The true wind: the wind over the water as a sailor reads it. Taken from the wind
// instrument when it sends it (MWV with reference "T", or MWD), else computed from the
// apparent wind and the boat's speed, through the water when a log sends it and over the
// ground otherwise. The direction needs a heading: the compass when one talks, else the
// course over ground while moving.
//
// GUI thread only, like the publications it listens to. Freshness is counted in
// heartbeat pulses, so that a replay with its own pulses behaves as live.

#include <memory>

#include "core/pubsub.h"
#include "navdata/nmea_records.h"
#include "overlays/gpsdata.h"

// Published to Listener<CDataTrueWind> with every wind sentence that yields it.
struct CDataTrueWind {
    static constexpr float kNone = 999.0f;
    enum Origin {
        kMeasured,         // sent by the instrument
        kFromWaterSpeed,   // apparent wind and speed through the water
        kFromGroundSpeed,  // apparent wind and speed over the ground
    };
    float angle = kNone;      // off the bow, -180..180, starboard positive; kNone when unknown
    float speed = 0;          // knots
    float direction = kNone;  // degrees true, where it blows from; kNone without a heading
    Origin origin = kMeasured;

    bool HasAngle() const { return angle < 900.0f; }
    bool HasDirection() const { return direction < 900.0f; }
};

// Turns wind, boat speed and heading into CDataTrueWind. One instance serves everybody
// who needs the true wind; it exists while somebody holds it.
class CFeedTrueWind : public Listener<CNMEA_Instruments::MWV>,
                      public Listener<CNMEA_Instruments::MWD>,
                      public Listener<CNMEA_Instruments::VHW>,
                      public Listener<CDataSpeedDirection>,
                      public Listener<CDataGPSPosition> {
public:
    // Readings older than this (10 s of heartbeat) are not used.
    static constexpr unsigned long long kFreshPulses = 100;
    // Course over ground stands in for a heading only above this speed (knots).
    static constexpr float kMinSpeedForCourse = 0.3f;

    static std::shared_ptr<CFeedTrueWind> Acquire();

    void OnUpdate(CNMEA_Instruments::MWV& mwv) override;
    void OnUpdate(CNMEA_Instruments::MWD& mwd) override;
    void OnUpdate(CNMEA_Instruments::VHW& vhw) override;
    void OnUpdate(CDataSpeedDirection& direction) override;
    void OnUpdate(CDataGPSPosition& position) override;

    // The true wind of an apparent wind (angle off the bow, speed) on a boat moving ahead
    // at `boatSpeed`; direction and origin are left to the caller.
    static CDataTrueWind FromApparent(double angle, double speed, double boatSpeed);

private:
    // The heading the wind angle is measured from; kNone when unknown.
    float Heading() const;
    bool Fresh(unsigned long long pulse) const;
    void Publish(CDataTrueWind& wind);

    float m_compass = CDataTrueWind::kNone;
    double m_compassTime = -1;
    unsigned long long m_compassPulse = 0;
    bool m_hasCompass = false;
    bool m_fix = false;
    float m_sog = 0, m_cog = 0;
    unsigned long long m_positionPulse = 0;
    float m_stw = 0;
    unsigned long long m_stwPulse = 0;
    bool m_hasStw = false;
    unsigned long long m_measuredPulse = 0;
    bool m_hasMeasured = false;
};
