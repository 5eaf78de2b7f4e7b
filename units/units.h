// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Every number shown to the user goes through CUnits: distances, speeds, depths,
// temperatures, bearings, times and positions. CDefaultUnits::u is the user's choice,
// kept in the settings file; a display may hold its own copy.

#include <string>
#include <vector>

#include "core/persistantdata.h"

class CUnits {
public:
    // Indices into the distance table. The first three double as the unit families.
    enum e_dist_units { e_miles = 0, e_nautical_miles = 1, e_km = 2, e_metres = 3, e_feet = 4, e_yards = 5 };
    static constexpr int kDistanceUnitCount = 6;
    static constexpr int kSpeedUnitCount = 4;
    static constexpr int kDepthUnitCount = 3;
    static constexpr int kFamilyCount = 3;

    // A way of writing and reading positions. Formats register themselves in a global
    // list when constructed so that settings can name them and typed text can be read
    // with the same object that wrote it.
    class PositionFormatType {
    public:
        explicit PositionFormatType(const char* name);
        PositionFormatType(const PositionFormatType&) = delete;
        PositionFormatType& operator=(const PositionFormatType&) = delete;
        virtual ~PositionFormatType() = default;

        // False when the position cannot be expressed in this format (outside a grid).
        virtual bool format(double lat, double lon, std::string& text) const = 0;
        // False when the text does not parse or is out of range; lat/lon untouched then.
        virtual bool scan(const char* text, double& lat, double& lon) const = 0;

        const char* name;
        const PositionFormatType* next;

        static const PositionFormatType* head;
        static const PositionFormatType* Find(const std::string& name);
        // Registered formats in the order they were registered.
        static std::vector<const PositionFormatType*> All();
    };

    class PosFmtLatLon : public PositionFormatType {
    public:
        PosFmtLatLon(const char* name, int style) : PositionFormatType(name), style(style) {}
        bool format(double lat, double lon, std::string& text) const override;
        bool scan(const char* text, double& lat, double& lon) const override;
        const int style;
    };
    class PosFmtDeg : public PosFmtLatLon {
    public:
        PosFmtDeg() : PosFmtLatLon("Degrees", 0) {}
    };
    class PosFmtDegMin : public PosFmtLatLon {
    public:
        PosFmtDegMin() : PosFmtLatLon("Deg,Min", 1) {}
    };
    class PosFmtDMS : public PosFmtLatLon {
    public:
        PosFmtDMS() : PosFmtLatLon("Deg,Min,Sec", 2) {}
    };

    // Descriptor of the "Units" settings page; the page itself is CUnitSettingsModel
    // with its QML view.
    struct CUnitSettingsType {
        const char* name = "Units";
        int order = 60;
    };
    static const CUnitSettingsType settingsType;

    CUnits();  // copies the user's position format and distance, speed and depth units

    // Position format.
    const PositionFormatType* posfmt;
    // Units.
    e_dist_units dist_units;
    e_dist_units small_dist_units;
    int speed_units;
    int depth_units;
    int bearing_mode;      // 0 true, 1 magnetic
    int temperature_unit;  // 0 Celsius, 1 Fahrenheit
    // Magnetic variation and where/when it was computed (999 = never).
    float magnetic_variation;
    double bearing_lat;
    double bearing_lon;
    double bearing_time;

    // Distances (input metres).
    void FormatDistance(double metres, std::string& value, std::string& unit) const;
    void FormatDistance(double metres, std::string& text) const;
    void FormatDistanceValue(double metres, std::string& text) const;
    // Scale bar: the largest 1, 2 or 5 x 10^n distance in the user's units whose bar is at
    // most maxWidth pixels long, given the ground length of one pixel in metres. Returns
    // the bar width in pixels (0 when no bar fits) and the label in `text`.
    int format_scale(double metresPerPixel, std::string& text, int maxWidth, double* barMetres = nullptr) const;
    // Speeds (input knots).
    void FormatSpeed(double knots, std::string& text) const;
    void FormatSpeedValue(double knots, std::string& text) const;
    // Depths (input metres; -9999 or less is unknown).
    void FormatDepth(double metres, std::string& text) const;
    void FormatDepthValue(double metres, std::string& text) const;
    // Temperatures (input Celsius).
    const char* GetTemperatureUnit() const;
    void FormatTemperatureValue(double celsius, std::string& text) const;
    // Bearings (input degrees true; above 900 is unknown and prints nothing).
    void FormatBearing(double degrees, std::string& text) const;
    void FormatBearingValue(double degrees, std::string& text) const;
    void GetBearingUnit(std::string& text) const;
    // Recomputes the magnetic variation when the position has moved by a degree or more.
    // Returns true when it was recomputed.
    bool SetBearingLocation(double lat, double lon, double time);
    // Forces the variation to be recomputed (at the last location, now).
    void ChangedBearingUnits();

    void set_unit_family(e_dist_units family);
    e_dist_units get_unit_family() const { return dist_units; }

    // Positions in the chosen format; false when the format cannot express it.
    bool FormatPosition(double lat, double lon, std::string& text) const;
    bool ScanPosition(const char* text, double& lat, double& lon) const;

    // Times.
    static std::string FormatElapsedTime(double seconds);
    static std::string FormatElapsedTimeHoursMins(double seconds);
    static std::string FormatTimeOfDay(double seconds);  // local, 12-hour clock
    static std::string Get24hTime(double seconds);       // local, "HH:MM"
    static std::string FormatDate(double seconds);       // local date

    // Tables.
    static const char* DistanceUnitName(int index);
    static float DistanceFactor(int index);  // per metre
    static const char* SpeedUnitName(int index);
    static float SpeedFactor(int index);  // per knot
    static const char* DepthUnitName(int index);
    static float DepthFactor(int index);  // per metre
    static const char* FamilyName(int family);
    // The small-distance unit that goes with a family.
    static e_dist_units SmallUnitOf(int family);

    // Where the magnetic model's coefficients are read from (the embedded resource unless
    // a test or tool points elsewhere).
    static void SetMagneticModelPath(const std::string& path);
    static std::string MagneticModelPath();

    // Appends "lat, lon" in style 0 (degrees), 1 (deg, min), 2 (deg, min, sec) or
    // 3 (signed degrees without hemisphere letters).
    static void appendPosition(std::string& text, double lat, double lon, int style);
    // Reads degrees, minutes and seconds from text; returns the last letter found
    // (upper case) or 0; value is 999 when no number was found.
    static char scan_deg_min_sec(const char* text, double& value);

private:
    friend class CDefaultUnits;
    struct DefaultTag {};
    explicit CUnits(DefaultTag);
};

// The user's units and the settings object that stores them.
class CDefaultUnits {
public:
    static CUnits u;
    // Marks the stored settings changed and tells every Listener<CUnits>.
    static void Changed();
    // Marks the settings changed without notification (variation updates).
    static void MarkChanged();
    // Makes stored values usable: out-of-range indices fall back to the defaults and the
    // small-distance unit follows the family.
    static void AfterLoad();

    // The settings object, keys "CDefaultUnits:units", ":speed", ":posnfmt", ...
    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CDefaultUnits") {}
        void DeclareData() override;
    };
    static Persistant settings;
};
