// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// AIS targets: the ships, aircraft, aids to navigation and beacons heard on the AIS
// receiver, kept by MMSI. Each target is an overlay drawn on the chart; the manager
// works out the closest point of approach of every target against the own ship, raises
// collision alerts and warnings, turns a man-overboard beacon into a mark to steer to,
// and forgets targets that fall silent.
//
// GUI thread only: sentences are dispatched, the heartbeat pulses and the map draws
// there.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "navdata/gpsposition.h"
#include "navdata/mmsi_index.h"
#include "navdata/nmea_records.h"

class CAISTargetManager;

class CAISTarget : public COverlayMovingTarget {
public:
    static constexpr float kNoCPA = 10000000000.0f;
    static constexpr int kNoHeading = 511;
    // Last message types the manager sets itself.
    static constexpr uint8_t kTypeLostContact = 254;
    static constexpr uint8_t kTypeRemoved = 255;
    // A recorded track keeps this many positions, the oldest dropped first.
    static constexpr size_t kTrailPoints = 120;

    // Kinds of target.
    static constexpr const char* kClassA = "Class A";
    static constexpr const char* kClassB = "Class B";
    static constexpr const char* kAircraft = "Aircraft";
    static constexpr const char* kAidToNavigation = "Aid to Navigation";
    static constexpr const char* kManOverboard = "Man Overboard";
    static constexpr const char* kEpirb = "EPIRB";
    static constexpr const char* kSart = "Search and Rescue Transponder";
    static constexpr const char* kInstant = "Instant";

    CAISTarget(CAISTargetManager& manager, uint32_t mmsi);
    ~CAISTarget() override;

    // Identity.
    uint32_t mmsi = 0;
    char mmsi_text[12] = {};
    char name[21] = {};
    char callsign[8] = {};
    char ship_type[CNEMA_AIS::CAIS_Sentence::kTextSize + 1] = {};
    const char* kind = "";    // one of the kinds above; empty until a message says
    const char* status = "";  // navigation status text, "n/a" or "Lost contact"
    std::string description;  // several lines, shown on tap

    // Reported state (position, speed, course and heading live in the base).
    uint16_t to_bow = 0, to_stern = 0;
    uint8_t to_port = 0, to_starboard = 0;
    uint8_t nav_status = 0;
    uint8_t last_type = 0;
    int reported_heading = kNoHeading;  // as sent; 511 = none
    float rate_of_turn = 0;             // degrees a minute
    bool rate_of_turn_valid = false;
    int altitude = 0;  // aircraft, metres
    double last_time = 0;

    // Drawing colour (ARGB) and the colour of the target's own state, which collision
    // warnings override.
    uint32_t colour = 0xFFFFFFFF;
    uint32_t base_colour = 0xFFFFFFFF;

    // Against the own ship.
    float range = 0;    // metres
    float bearing = 0;  // degrees
    float tcpa = 0;     // seconds
    float cpa = kNoCPA;
    bool alerting = false;

    // The kind a beacon's MMSI gives: 970 search-and-rescue transponder, 972 man
    // overboard, 974 EPIRB; null for any other MMSI.
    static const char* BeaconKind(const char* mmsiText);

    bool HasKind() const { return kind[0] != '\0'; }
    bool IsClassB() const { return kind == kClassB; }
    bool HasCPA() const { return cpa < kNoCPA; }
    bool IsLost() const { return last_type == kTypeLostContact; }
    // Approaching within twice the alarm time and twice the alarm distance.
    bool isCollisionThreat() const;
    // The distance within which this target alarms (class B targets have their own).
    double AlarmDistance() const;

    // After a position report: no position above 90 degrees; otherwise the grid follows,
    // a target without a heading points along its course once it makes way, and the
    // direction becomes the course over ground.
    void OnUpdatedPosition(double time);

    // Overlay.
    void Map(CMapping& mapping, const CPolynomialProjection& projection) const override;
    void Draw(QPainter* painter, CMapping& mapping) const override;
    // Stations that never said what they are (base stations, senders of binary messages)
    // are kept for their time of last message only.
    bool isVisible() const override { return HasKind(); }
    bool onTap(CQuickChartView* view, const FPoint& screen, const DblPoint& image) override;

    bool IsSelected() const;
    // What a tap shows on the status line.
    std::string TapMessage() const;
    // Positions recorded while "record_tracks" is on (at most kTrailPoints).
    size_t TrailSize() const { return m_trail.size(); }

private:
    friend class CAISTargetManager;
    void RecordTrail();

    CAISTargetManager& m_manager;
    std::vector<DblPoint> m_trail;  // (lon, lat): a ring of kTrailPoints once full
    size_t m_trailHead = 0;         // the oldest point once the ring is full
    bool m_notified = false;  // a notification of this target is showing
    // The texts of its alert, kept so that repeating it costs no allocation.
    std::string m_alertTitle;
    std::string m_alertText;
};

class CAISTargetManager : public Listener<CNEMA_AIS::VDM>,
                          public Listener<CNEMA_AIS::VDO>,
                          public Listener<CDataGPSPosition>,
                          public CHeartbeat::Counter {
public:
    static constexpr int kExpiryTicks = 1200;  // checked every 120 s
    static constexpr double kLostContactSeconds = 366.0;
    static constexpr double kRemoveSeconds = 600.0;
    static constexpr double kManOverboardRange = 10000.0;  // metres
    static constexpr double kManOverboardGotoRange = 500.0;
    static constexpr double kKnotsToMetresPerSecond = 0.5144445;

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CAISTargetManager") {}
        void DeclareData() override;

        float alarm_distance = 300.0f;       // metres
        float cpa_classB_distance = 100.0f;  // metres
        float alarm_time = 1200.0f;          // seconds
        float min_closing_velocity_knots = 1.0f;
        bool alarm_beep = true;
        bool record_tracks = false;
        bool show_ais_range_ring = false;
        bool enable_settings = false;  // a target has been seen: the settings page shows
    };
    static Persistant settings;

    // `own` is the position the own ship's AIS transponder (VDO) fills when no GPS does.
    explicit CAISTargetManager(COverlayGPSPosition& own = COverlayGPSPosition::theLatestPosition);
    ~CAISTargetManager() override;
    CAISTargetManager(const CAISTargetManager&) = delete;
    CAISTargetManager& operator=(const CAISTargetManager&) = delete;

    // The application's manager (also the_CAISTargetManager), to which a TCP connection
    // hands the target list it fetched.
    static void Start();
    static void Stop();

    void OnUpdate(CNEMA_AIS::VDM& vdm) override;
    void OnUpdate(CNEMA_AIS::VDO& vdo) override;
    void OnUpdate(CDataGPSPosition& position) override;
    void OnHeartbeat() override;

    // Range, bearing, CPA and TCPA of one target, and its alarm, warning or man-overboard
    // mark. `reported` is true when the target itself just reported (notifications are
    // repeated then, with the new figures); checks run for the own ship's moves only
    // start or end an alert.
    void detect_collision(CAISTarget& target, bool reported = true);
    // The target list a chart plotter hands out on connecting (XML with "Target" elements
    // of "MMSI", "Name", "CallSign" and "VesselTypeString"). False with `error` when the
    // file cannot be read or is not such a list; what was read before an error is kept.
    bool ReadInstantTargets(const std::string& file, std::string* error = nullptr);

    const std::map<uint32_t, std::unique_ptr<CAISTarget>>& Targets() const { return m_targets; }
    CAISTarget* Find(uint32_t mmsi) const;
    // Targets that have a kind (those drawn and listed).
    size_t Count() const;
    // The target with the smallest CPA still ahead (TCPA > 0); null when none.
    const CAISTarget* ClosestApproach() const;
    bool HasOwnPosition() const { return m_ownKnown; }
    double OwnLat() const { return m_grid.OriginLat(); }
    double OwnLon() const { return m_grid.OriginLon(); }

    void Select(CAISTarget* target);
    void ClearSelection() { Select(nullptr); }
    CAISTarget* Selected() const { return m_selected; }

    // Sends `action` for every target to one listener (a view that starts).
    void GetUpdatesForAll(COverlayObject::update_action action, Listener<COverlayObject>& listener);

private:
    friend class CAISTarget;
    CAISTarget& FindOrInsert(uint32_t mmsi);
    void Publish(CAISTarget& target, COverlayObject::update_action action);
    // Shows the target's alert with the texts in m_alertTitle and m_alertText.
    void Alert(CAISTarget& target, bool reported);
    void CancelAlert(CAISTarget& target);
    void ManOverboard(CAISTarget& target, bool reported);
    void EnableSettings();
    void Remove(std::map<uint32_t, std::unique_ptr<CAISTarget>>::iterator it);

    COverlayGPSPosition& m_own;
    std::map<uint32_t, std::unique_ptr<CAISTarget>> m_targets;
    // Finding a target is the first step of every message: a flat hash beside the ordered map.
    CMmsiIndex<CAISTarget> m_index;
    CSimpleGrid m_grid;     // centred on the own ship
    double m_ownVx = 0;     // own velocity, metres a second east
    double m_ownVy = 0;     // and north
    bool m_ownKnown = false;
    CAISTarget* m_selected = nullptr;
};

// The application's manager; null before start-up creates it.
extern CAISTargetManager* the_CAISTargetManager;

// The colour of a navigation status (ARGB) and its text.
uint32_t AisStatusColour(int status);
const char* AisStatusText(int status);
