// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The GPS data published to every consumer of the position (map, track recording, AIS,
// goto, instrument pages). These are plain data types with the small computations that
// belong to the data itself; the object that fills them from sentences and platform
// positions lives in navdata/. Everything here runs on the GUI thread.

#include <array>
#include <cstdint>
#include <deque>

#include "core/geometry.h"
#include "core/serializable.h"

// Fix status of a position. Values are stored in files and compared numerically, so the
// numbers are fixed.
enum GpsFixStatus : int {
    FIX_NONE = 0,
    FIX_GPS = 1,
    FIX_DIFFERENTIAL = 2,
    FIX_SIMULATED = 3,
    FIX_ESTIMATED = 4,
    FIX_RTK = 5,
    FIX_PPS = 6,
    FIX_MANUAL = 7,
};

// The status a GGA fix quality gives; qualities outside the table (negative or above 8)
// leave `current` unchanged.
int FixStatusFromGGAQuality(int quality, int current);

// A direction as a unit vector: x east (sine), y north (cosine). Zero when there is none.
struct UnitVector {
    float x = 0;
    float y = 0;
    void SetDegrees(float degrees);
    void Clear() { x = y = 0; }
};

// Speeds with their times over a sliding window; keeps minimum and maximum of the window.
class MinMaxRange {
public:
    explicit MinMaxRange(double window_seconds = 300.0) : m_window(window_seconds) {}

    // Adds a sample and forgets those older than the window before `time`.
    void Add(float value, double time);
    void Reset() { m_samples.clear(); }
    bool IsEmpty() const { return m_samples.empty(); }
    size_t Count() const { return m_samples.size(); }
    double Window() const { return m_window; }
    // 0 when empty.
    float Min() const;
    float Max() const;

private:
    struct Sample {
        double time;
        float value;
    };
    double m_window;
    std::deque<Sample> m_samples;
};

class CDataSpeedDirection {
public:
    static constexpr float kNoDirection = 999.0f;  // any direction >= 900 means none
    static constexpr float kNoneThreshold = 900.0f;

    enum direction_mode : int {
        DIR_NONE = 0,
        DIR_COMPASS = 1,
        DIR_AVERAGED = 2,
        DIR_COURSE = 3,
    };

    // The damped compass heading.
    struct CompassDamping {
        float heading = kNoDirection;
        UnitVector vec;
        float time_const = -1.0f;  // negative: take default_time_const at the next Set
        float time_const_recip = 0.0f;
        double last_time = 0;

        // Heading in 0..360, time in seconds. A heading arriving within one time constant
        // of the previous moves the damped value part of the way (along the short way
        // round); a later one, or the first, replaces it.
        void Set(float new_heading, double time);
        void Clear();

        // "compass_damping_time_const" of the position settings; bound by the owner.
        static inline float default_time_const = 0.0f;
    };

    // Whether a slowly moving boat without a compass may steer by the averaged direction
    // ("use_averaged_direction" of the position settings; bound by the owner).
    static inline bool use_averaged_direction = false;

    // GPS speed over ground and course over ground.
    float speed = 0;   // knots
    float course = 0;  // degrees
    UnitVector course_vec;

    // Averaged from the position history.
    float avg_speed = 0;                 // knots
    float avg_direction = kNoDirection;  // degrees
    UnitVector avg_vec;

    CompassDamping compass;

    UnitVector best_vec;
    int best_mode = DIR_NONE;

    MinMaxRange speed_range{300.0};

    // Stores course and speed; reported speeds of 0.1 knot or less are noise and become 0.
    void SetCourseSpeed(float new_course, float new_speed);
    // A heading of 900 or more clears it; anything else is brought into 0..360 (one turn
    // at most) and damped.
    void SetCompassHeading(float heading, double time);

    void evaluate_best_direction();
    void invalid_direction();
    // Speed and direction of the best mode; 0 and 999 when there is none.
    float get_speed() const;
    float get_heading() const;
    // Whether the GPS velocity differs noticeably from the averaged one (a turn or a
    // change of speed); only meaningful while moving on course over ground.
    bool hasChangedCourseSpd() const;
};

class CDataAltitude {
public:
    static constexpr double kNoAltitude = -9999.0;

    enum mode_e : int {
        ALT_BAROMETRIC = 1,
        ALT_GPS = 2,
        ALT_BLEND = 3,
        ALT_TERRAIN = 4,
    };

    double altitude = kNoAltitude;  // metres
    int mode = ALT_GPS;             // a mode_e; other values give no altitude
    double filtered_offset = 0;     // GPS minus barometric (GPS-only mode: the filtered GPS altitude)
    double user_offset = 0;
    double gps_time_const = 10.0;  // seconds
    double gps_time_const_recip = 0.1;
    double last_sample_time = 0;
    double ref_pressure = 0;        // 0 = not yet taken
    double last_baro_altitude = 0;  // 0 = not known
    double last_gps_altitude = kNoAltitude;
    double pressure_smoothing_time = 5.0;  // seconds
    double pressure_smoothing_recip = 0.2;

    // One sample: GPS altitude (metres), pressure (0 = none) and its time.
    void Set(double gpsAltitude, double pressure, double time);
    void SetAltitudeSettings(double userOffset, mode_e newMode, double gpsTimeConst, double pressureSmoothingTime);
    // Barometric altitude relative to the reference pressure, smoothed; remembers it.
    double altitudeFromPressure(double pressure, double dt);
    bool HasAltitude() const { return altitude > kNoAltitude; }

    // Declares the stored fields in a section of the position's file. After reading, the
    // reciprocals are recomputed and modes needing a barometer fall back to GPS only
    // when `hasBarometer` is false.
    bool DeclareAltitude(CSerializable::Section& s, bool hasBarometer);

    // The reciprocal of a time constant; 0 for constants of 0.01 s or less.
    static double Reciprocal(double timeConst);
};

class CDataGPSPosition : public CDataSpeedDirection, public CDataAltitude {
public:
    static constexpr double kNoLatLon = 999.0;

    double lat = kNoLatLon;  // degrees; above 90 = no position yet
    double lon = kNoLatLon;
    double fix_time = 0;  // seconds since the epoch
    float hdop = 99.0f;   // the location service stores its accuracy in metres here
    int fix_status = FIX_NONE;
    CSimpleGrid grid;  // centred on the position

    bool HasPosition() const { return lat <= 90.0 && lat >= -90.0; }
    bool HasFix() const { return fix_status != FIX_NONE; }
    // Stores the position and re-centres the grid on it.
    void SetLatLon(double newLat, double newLon);
};

class CDataGPSSatelliteSignals {
public:
    static constexpr int kMaxSatellites = 24;

    struct Satellite {
        uint8_t number = 0;  // 0 = empty entry
        uint8_t signal = 0;  // signal to noise, dB
        bool in_use = false;
        uint8_t elevation = 0;  // degrees
        uint16_t azimuth = 0;   // degrees
    };

    std::array<Satellite, kMaxSatellites> satellites{};
    int sats_in_view = 0;
    int sats_in_use = 0;

    void ClearSatellites() { satellites.fill(Satellite{}); }
    int CountEntries() const;
};
