// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Digital selective calls relayed by the VHF radio. A call ("DSC") may announce an
// expansion ("DSE") with a finer position, course and speed; the manager collects both
// per calling station and publishes the station once the call is complete. CDSC_to_Mark
// puts a mark where the caller is; a distress call also raises a notification and, when
// close, makes the mark the goto target.
//
// GUI thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/pubsub.h"
#include "navdata/nmea_records.h"

class COverlayGPSPosition;

struct CDSCTarget {
    static constexpr int kNotDistress = -1;

    uint32_t mmsi = 0;
    double lat = -999;  // degrees; -999 when the call gave no position
    double lon = -999;
    float course = 0;
    float speed = 0;
    double time = 0;  // when the call arrived, seconds since the epoch
    int quadrant = 0;
    int nature = kNotDistress;  // nature of distress, or kNotDistress

    bool HasPosition() const { return lat >= -90 && lat <= 90 && lon >= -180 && lon <= 180; }
    bool IsDistress() const { return nature >= 0; }
    // "Fire", "Flooding", …, "Distress code %d" beyond the known codes.
    static std::string NatureText(int nature);
};

class CDSCTargetManager : public Listener<CNMEA_DSC::DSC>, public Listener<CNMEA_DSC::DSE> {
public:
    CDSCTargetManager();
    ~CDSCTargetManager() override;
    CDSCTargetManager(const CDSCTargetManager&) = delete;
    CDSCTargetManager& operator=(const CDSCTargetManager&) = delete;

    void OnUpdate(CNMEA_DSC::DSC& dsc) override;
    void OnUpdate(CNMEA_DSC::DSE& dse) override;
    // Publishes the station to Listener<CDSCTarget>; the call is no longer pending.
    void Dispatch(uint32_t mmsi);

    const std::map<uint32_t, CDSCTarget>& Targets() const { return m_targets; }
    // Calls that wait for their expansion.
    int Pending() const { return m_pending; }

private:
    std::map<uint32_t, CDSCTarget> m_targets;
    std::map<uint32_t, bool> m_awaiting;  // MMSI -> an expansion is still to come
    int m_pending = 0;
};

// Turns every published call into the mark "DSC:<MMSI>".
class CDSC_to_Mark : public Listener<CDSCTarget> {
public:
    static constexpr double kGotoRange = 500.0;  // metres

    // `own` gives the distance to the caller (the application's position by default).
    explicit CDSC_to_Mark(const COverlayGPSPosition* own = nullptr);
    void OnUpdate(CDSCTarget& target) override;

    // The application's manager and mark maker (created once at start-up).
    static void Start();
    static void Stop();

private:
    const COverlayGPSPosition* m_own;
};
