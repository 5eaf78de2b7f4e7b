// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The one GPS position of the application and the feed that fills it from parsed
// sentences. The position is at once published data (position, speed and direction,
// altitude, satellites), an overlay drawn over the chart, a heartbeat counter that
// notices a silent receiver, and a stored object remembered between runs.
//
// GUI thread only: sentences are dispatched, the heartbeat pulses and the map draws there.

#include <QImage>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/heartbeat.h"
#include "core/persistantdata.h"
#include "core/pubsub.h"
#include "core/serializable.h"
#include "navdata/dataconnection.h"
#include "navdata/nmea_records.h"
#include "overlays/gpsdata.h"
#include "overlays/overlayobject.h"

class QColor;

// Something that moves on the map and carries a GPS-like position: the boat itself and
// every AIS target. It maps the points both draw from and draws what they share, the
// velocity vector and the range rings, so that a ship's vector reads like the boat's.
class COverlayMovingTarget : public CDataGPSPosition, public COverlayObject {
public:
    // The image points of a moving target's mapping, in this order. A point that has
    // nothing to show is the (0, 0) placeholder.
    enum MappedPoint : int {
        kPositionPoint = 0,
        kVectorEndPoint = 1,  // where the target will be after the vector's minutes
        kRingPoint = 2,       // one ring radius east of the position
        kHeadingPoint = 3,    // 100 m along the compass heading
        kMappedPoints = 4,
    };

    COverlayMovingTarget(unsigned layer, object_type type) : COverlayObject(layer, type) {}

    // Drawing units per device pixel: drawings keep their size on dense screens.
    static double DrawUnit(const QPainter* painter);

protected:
    // Fills the four points. The vector end exists only when `showVector`, a direction
    // is known and the speed is above 0.2 knots; it lies `minutes` of travel ahead along
    // the best direction.
    void MapMovingTarget(CMapping& mapping, const CPolynomialProjection& projection, bool showVector,
                         double minutes, double ringRadius) const;
    static bool IsPlaceholder(const CMapping& mapping, int point);
    // The line to the vector end with a three-point head.
    static void DrawVector(QPainter* painter, const CMapping& mapping, const QColor& color, double unit);
    // `rings` circles spaced by the ring radius; rings wider than any screen are left out.
    static void DrawRangeRings(QPainter* painter, const CMapping& mapping, const QColor& color, int rings,
                               double unit);
    // The heading as a unit screen direction (charts may be rotated); false when there is
    // no heading or it cannot be mapped.
    static bool HeadingOnScreen(const CMapping& mapping, double& dx, double& dy);
};

// Twelve compass corrections at 0, 30, ..., 330 degrees, interpolated linearly.
class CompassCalibration {
public:
    CompassCalibration() { corrections.fill(0.0f); }
    // "%f," for each of the twelve values.
    std::string ToString() const;
    // Twelve comma-separated numbers; anything else leaves the corrections unchanged.
    bool FromString(const std::string& text);
    float Adjust(float heading) const;

    std::array<float, 13> corrections;  // the last repeats the first (360 degrees)
};

class COverlayGPSPosition : public COverlayMovingTarget,
                            public CDataGPSSatelliteSignals,
                            public CHeartbeat::Counter,
                            public CSerializable,
                            public Listener<CDataSourceChange> {
public:
    static constexpr uint32_t kFileMagic = 0x23592A83;
    static constexpr const char* kFileName = "/gpsdata.nvtf";
    static constexpr int kStaleTicks = 50;  // 5 s of heartbeat
    static constexpr int kHistorySize = 10;
    static constexpr float kMaxHdopForAveraging = 15.0f;

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("COverlayGPSPosition") {}
        void DeclareData() override;

        float vector_scale = 6.0f;  // minutes of travel
        GraphicsColor gc_color2{220, 0, 0, 255};
        double averaging_time = 60.0;  // seconds
        bool show_heading = true;
        bool show_vector = true;
        int record_in_background_mode = 0;
        bool use_averaged_direction = false;
        bool screen_keep_alive = false;
        bool showOnLockScreen = false;
        float compass_damping_time_const = 2.0f;  // seconds
        float range_ring_radius = 1852.0f;        // metres
        int num_range_rings = 0;
        CompassCalibration calibration;
    };
    static Persistant settings;

    static COverlayGPSPosition theLatestPosition;


    COverlayGPSPosition();
    ~COverlayGPSPosition() override;

    // Stores the position and re-centres the grid; in terrain mode the altitude follows.
    void set_latlon(double newLat, double newLon);
    void set_course(float newCourse, float newSpeed);
    // Damps and publishes a compass heading; 900 or more clears it.
    void set_heading(float heading, double time);
    void SetColor(const GraphicsColor& color);

    void DispatchPositionUpdate();
    void DispatchHeadingUpdate();
    // Forgets what averaging and the odometer learned (a simulation starts or rewinds).
    void reset_history();
    // A new input must not inherit this one's history: a simulation's distance is not the
    // boat's (the odometer goes back to where it was when the simulation started), the
    // leg of a real source is added before it ends, and the fix and satellites go.
    void OnUpdate(CDataSourceChange& change) override;
    void GetAverageSpeed();
    void UpdateOdometer();
    void OnHeartbeat() override;

    // Overlay.
    void Map(CMapping& mapping, const CPolynomialProjection& projection) const override;
    void Draw(QPainter* painter, CMapping& mapping) const override;

    // Stored object.
    bool Serialize(IOStream& s) override;

    // Odometer.
    double odo_total = 0;  // metres
    double odo_leg = 0;
    double leg_lat = 0;
    double leg_lon = 0;
    double leg_time = 0;  // 0 = no leg started

    // Averaging history.
    struct Sample {
        double lat = 0;
        double lon = 0;
        double time = 0;
    };
    std::array<Sample, kHistorySize> history{};
    int history_head = 0;  // where the next sample goes
    int history_count = 0;
    double next_averaging_time = 0;
    double last_accepted_time = 0;

    // The feed or connection that set the position (the location service records itself);
    // null once the input that set it has ended. Only compared, never followed.
    const void* position_source = nullptr;

private:
    // The odometer total when a simulation started; what is stored while one plays.
    double m_odoBeforeSimulation = 0;
    bool m_simulating = false;

    void Stale();
    const QImage& Icon(int size, bool fix) const;

    mutable QImage m_icon;
    mutable int m_iconSize = 0;
    mutable uint32_t m_iconKey = 0;
};

// The stored position lives in the application directory; a missing file is not an error.
bool LoadLatestPosition(const std::string& appDir);
bool SaveLatestPosition(const std::string& appDir);

// Turns RMC, GGA, VTG, GSA, GSV and HDG records into the GPS position. What it learned
// about the talkers and the kinds of sentence the input sends is forgotten when the input
// changes.
class CFeedRMC_to_GPSPosition : public Listener<CDataSourceChange>,
                                public Listener<CNMEA_GPS::RMC>,
                                public Listener<CNMEA_GPS::GGA>,
                                public Listener<CNMEA_GPS::VTG>,
                                public Listener<CNMEA_GPS::GSA>,
                                public Listener<CNMEA_GPS::GSV>,
                                public Listener<CNMEA_Instruments::HDG> {
public:
    explicit CFeedRMC_to_GPSPosition(COverlayGPSPosition& target = COverlayGPSPosition::theLatestPosition);

    void OnUpdate(CNMEA_GPS::RMC& rmc) override;
    void OnUpdate(CNMEA_GPS::GGA& gga) override;
    void OnUpdate(CNMEA_GPS::VTG& vtg) override;
    void OnUpdate(CNMEA_GPS::GSA& gsa) override;
    void OnUpdate(CNMEA_GPS::GSV& gsv) override;
    void OnUpdate(CNMEA_Instruments::HDG& hdg) override;
    void OnUpdate(CDataSourceChange& change) override;

    // Whether sentences of `talker` are taken, given the one accepted so far: combined
    // systems beat GPS, GPS beats any other single system, and a lost fix lets any in.
    bool check_talker(char talker, char& accepted) const;

    // The one feed of the application.
    static void Start();
    static void Stop();
    static CFeedRMC_to_GPSPosition* Instance() { return s_instance.get(); }

    char rmc_talker = 0;
    char gsv_talker = 0;
    bool rmc_seen = false;
    bool gga_seen = false;
    uint8_t gsa_satellites[12] = {};

private:
    COverlayGPSPosition& m_pos;
    static std::unique_ptr<CFeedRMC_to_GPSPosition> s_instance;
};
