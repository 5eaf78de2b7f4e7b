// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Recorded tracks. A track is a list of sections of at most 64 points; consecutive
// sections share their end points (each section after the first starts with a copy of
// the previous one's last point), so that the drawn line has no gaps while every
// section is mapped, clipped, drawn and hit-tested on its own. Long tracks therefore
// cost the chart view only the sections in sight.
//
// Statistics are cached per section and dropped when the section changes; the track
// also keeps running totals (distance, moving time, maximum speed) that recording
// updates point by point.
//
// GUI thread only.

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "core/geometry.h"
#include "overlays/overlayobject.h"
#include "overlays/syncable.h"

class COverlayRoute;
class COverlayTrack;
class CTrackManager;

// One recorded position. Stored as 32 raw little-endian bytes.
struct CTrackPoint {
    static constexpr float kNoAltitude = -9999.0f;

    double lat = 0;   // degrees
    double lon = 0;   // degrees
    double time = 0;  // seconds since the epoch; 0 when unknown
    float altitude = kNoAltitude;  // metres
    uint32_t padding = 0;

    CTrackPoint() = default;
    CTrackPoint(double lat_, double lon_, double time_, float alt = kNoAltitude)
        : lat(lat_), lon(lon_), time(time_), altitude(alt) {}

    // Receivers report 0 when they have no height, so 0 counts as none as well.
    bool HasAltitude() const { return altitude > -9998.0f && altitude != 0.0f && altitude == altitude; }
    bool SamePlaceAndTime(const CTrackPoint& o) const { return lat == o.lat && lon == o.lon && time == o.time; }
};
static_assert(sizeof(CTrackPoint) == 32, "track points are stored as 32-byte records");
static_assert(std::is_trivially_copyable<CTrackPoint>::value, "track points are copied as raw bytes");

// Metres from `a` to `b`. The grid gives the place; the scales are the ellipsoid's at the
// step's own latitude, so a track far north or south of the grid's origin is measured as
// truly as one beside it.
double TrackStepDistance(const CTrackPoint& a, const CTrackPoint& b);

// A point of a track's speed or altitude profile.
struct CTrackProfileSample {
    const class CTrackSection* section = nullptr;
    int index = 0;          // of the point within the section
    double distance = 0;    // metres along the track
    float value = 0;        // metres (altitude) or metres per second (speed)
};

// What the statistics of a stretch of points add up to.
struct CTrackStats {
    double distance = 0;  // metres
    double moving = 0;    // seconds spent faster than kMovingSpeed
    double maxSpeed = 0;  // metres per second, spikes filtered out
};

class CTrackSection : public COverlayObject, public CSerializable {
public:
    static constexpr int kMaxPoints = 64;

    explicit CTrackSection(COverlayTrack* track = nullptr);
    ~CTrackSection() override;

    // Overlay object.
    void Map(CMapping& mapping, const CPolynomialProjection& projection) const override;
    void Draw(QPainter* painter, CMapping& mapping) const override;
    bool isVisible() const override;
    bool onTap(CQuickChartView* view, const FPoint& screen, const DblPoint& image) override;
    void onMenuDown(NV_HWND hwnd) override;

    // Stored form: the point count (at most 64) and the points.
    bool Serialize(IOStream& s) override;

    COverlayTrack* Track() const { return m_track; }
    void SetTrack(COverlayTrack* track) { m_track = track; }

    int size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    bool full() const { return m_count >= kMaxPoints; }
    const CTrackPoint& Point(int i) const { return m_points[size_t(i)]; }
    const CTrackPoint* begin() const { return m_points.data(); }
    const CTrackPoint* end() const { return m_points.data() + m_count; }
    const CTrackPoint& Last() const { return m_points[size_t(m_count - 1)]; }

    // Appends; false when the section is full. Dispatches "changed" when asked to.
    bool addPoint(const CTrackPoint& point, bool dispatch);
    // Replaces the points (at most 64 are taken) and drops the cached statistics.
    void SetPoints(const CTrackPoint* points, int count);

    // Steps are measured with TrackStepDistance, which needs no grid.
    double getDistance();
    // Distance (returned), moving time and the spike-filtered maximum speed, cached.
    double getStats(double& movingTime, double& maxSpeed);
    // Metres per second around point `index` (from its neighbours); 0 when unknown.
    double SpeedAtPoint(int index) const;
    // Drops points that lie within `tolerance` metres of the line their neighbours make;
    // true when something was dropped. The end points always stay.
    bool CompactData(const CSimpleGrid& grid, double tolerance);
    // Moves the points from `index` on into `section` (empty), the point at `index` being
    // in both. False when there is nothing to split off.
    bool splitSection(int index, CTrackSection& section);
    // Packs the points of consecutive sections into as few full sections as they fill,
    // keeping the shared end points. The new sections belong to `owner`.
    static void repackageSections(std::vector<std::unique_ptr<CTrackSection>>& list, COverlayTrack* owner);
    // The point nearest to (x, y) in grid metres: its index, and the squared distance.
    int FindClosestPoint(const CSimpleGrid& grid, double x, double y, double& d2) const;
    bool ExpandLonLatBounds(CBounds& bounds) const;

    void InvalidateStats();

private:
    COverlayTrack* m_track;
    // Cached statistics; negative = not computed.
    double m_distance = -1.0;
    double m_movingTime = -1.0;
    double m_maxSpeed = -1.0;
    int m_count = 0;
    std::array<CTrackPoint, kMaxPoints> m_points{};
};

// What the user interface does with tracks. The application installs one
// (COverlayTrack::SetUi); without it a tap shows the track's summary on the status line.
class ITrackUi {
public:
    virtual ~ITrackUi() = default;
    // A tap on a track's line: select it for scrubbing along it.
    virtual bool TrackTapped(CQuickChartView* view, CTrackSection& section, const DblPoint& image) = 0;
    // The long press / context menu of a track.
    virtual void ShowTrackMenu(const NV_HWND& hwnd, COverlayTrack& track) = 0;
    virtual void EditDefaultTrack(const NV_HWND& hwnd) = 0;
};

class COverlayTrack : public CSyncable {
public:
    static constexpr uint32_t kTypeId = 119;
    static constexpr int kPatternCount = 5;
    // Faster than this (1 mph) counts as moving.
    static constexpr double kMovingSpeed = 0.447;
    // A step is a spike when its speed exceeds the smoothed speed by this factor.
    static constexpr double kSpikeFactor = 1.25;
    // Steps shorter than this carry no usable speed.
    static constexpr double kMinStepTime = 0.1;
    // Climbs and descents smaller than this are receiver noise, not hills.
    static constexpr double kAltitudeDeadband = 3.0;

    using Sections = std::vector<std::unique_ptr<CTrackSection>>;

    COverlayTrack();
    ~COverlayTrack() override;
    COverlayTrack(const COverlayTrack&) = delete;
    COverlayTrack& operator=(const COverlayTrack&) = delete;

    static void SetUi(ITrackUi* ui) { s_ui = ui; }
    static ITrackUi* Ui() { return s_ui; }

    // Stored object.
    uint32_t GetTypeId() const override { return kTypeId; }
    bool Serialize(IOStream& s) override;
    bool getLonLatBounds(CBounds& bounds) const override;
    std::string getSubText(const CSimpleGrid& grid) const override;
    bool WriteGPX(FILE* file) const override;

    // The manager whose changed flag edits set (null for a template or a loose track).
    CTrackManager* Owner() const { return m_owner; }
    void SetOwner(CTrackManager* owner) { m_owner = owner; }

    // Colour, width and pattern (and category) of `other`.
    void CopyStyleFrom(const COverlayTrack& other);
    const GraphicsColor& getLineColor() const { return m_lineColor; }
    float getLineWidth() const { return m_lineWidth; }
    int getLineStyle() const { return m_lineStyle; }
    void SetLineStyle(const GraphicsColor& color, float width, int pattern);
    // Showing and hiding redraws every section.
    void SetVisible(bool visible);
    // Tells the views about every section.
    void Dispatch(COverlayObject::update_action action);

    // ---- points
    const Sections& getSections() const { return m_sections; }
    size_t getSectionCount() const { return m_sections.size(); }
    // Appends to the last section, or to a new one starting with a copy of the previous
    // section's last point when that is full. Returns true when a section was started.
    bool addPoint(const CTrackPoint& point, bool dispatch);
    // Points counting each shared end point once.
    size_t getTotalPoints() const;
    const CTrackPoint* FirstPoint() const;
    const CTrackPoint* LastPoint() const;
    // Calls fn(section, index, point) for every point in order, shared end points once.
    template <class Fn>
    void ForEachPoint(Fn&& fn) const {
        for (size_t s = 0; s < m_sections.size(); ++s) {
            const CTrackSection& sec = *m_sections[s];
            for (int i = (s == 0 ? 0 : 1); i < sec.size(); ++i) fn(sec, i, sec.Point(i));
        }
    }
    std::vector<CTrackPoint> AllPoints() const;

    // ---- statistics
    // Distance of the stored points (returned), moving time and filtered maximum speed.
    double getStats(double& movingTime, double& maxSpeed);
    CTrackStats StoredStats();
    // The running totals; recomputed from the points when none are held.
    double getTotalDistance();
    double getMovingTime();
    double getMaxSpeed();
    double getElapsedTime() const;
    double getStoppedTime();
    double getTimeOfStart() const;
    bool hasTiming() const;
    bool hasAltitude() const;
    // Total climb and descent (metres, noise below kAltitudeDeadband ignored) and the
    // lowest and highest altitude; false without altitudes.
    bool getAltitudeMetrics(double& ascent, double& descent, double& minAlt, double& maxAlt) const;
    // Profiles binned for `bins` samples along the distance.
    void getSpeedProfile(std::vector<CTrackProfileSample>& samples, int bins) const;
    void getAltitudeProfile(std::vector<CTrackProfileSample>& samples, int bins) const;
    // Time and speed at a point, one per line, in the user's units.
    std::string getPopupLabel(const CTrackSection& section, int index) const;
    // "Track: <name> (<date>)", the distance along the track up to the point and the
    // point's time and speed.
    std::string getTapLabel(const CTrackSection& section, int index) const;
    // "Track: <name> (<date>)" with the distance and the moving and elapsed times.
    std::string getSummaryLabel();
    double getDistanceUpTo(const CTrackSection& section, int index) const;

    // Running totals, as recording keeps them.
    void AddRunningStep(double distance, double dt, double speed);
    void ResetRunningStats();
    bool HasRunningStats() const { return m_totalDistance > 0; }

    // ---- editing
    // Drops points within `tolerance` metres of the line through their neighbours.
    void CompactData(double tolerance);
    // Cuts the track at a point: the points from it on move to a new track (returned,
    // styled like this one) and the point stays in both. Null when nothing would move.
    std::unique_ptr<COverlayTrack> SplitTrack(const CTrackSection* section, int index);
    // Appends the points of `other`, which is left empty.
    void JoinTrack(COverlayTrack& other);
    // Waypoints at the corners of the track (points within `tolerance` metres of the
    // line are left out); false when the track has fewer than two points.
    bool TrackToRoute(double tolerance, COverlayRoute& route) const;
    // The point nearest to the place: section, index and distance in metres (-1 without
    // points).
    double FindClosestPoint(double lat, double lon, const CTrackSection*& section, int& index) const;
    // Replaces all points (imports); the sections are rebuilt.
    void SetPoints(const std::vector<CTrackPoint>& points);
    void ClearPoints();

    // ---- state
    bool isClosed() const { return m_closed; }
    void setClosed(bool closed) { m_closed = closed; }
    bool isRecording() const;
    // Too few points to be a line.
    bool isTrivial() const { return getTotalPoints() < 2; }
    bool sameData(const COverlayTrack& other) const;
    // The grid distances are measured in; its origin is the first point.
    const CSimpleGrid& Grid() const;

    static const char* PatternName(int pattern);

private:
    struct AltitudeCache {
        bool valid = false;
        bool any = false;
        double ascent = 0, descent = 0, minAlt = 0, maxAlt = 0;
    };

    // Every change of the points passes here.
    void Changed();
    void EnsureGrid(const CTrackPoint& p) const;
    bool ComputeAltitudeMetrics(double& ascent, double& descent, double& minAlt, double& maxAlt) const;

    CTrackManager* m_owner = nullptr;
    bool m_closed = false;
    Sections m_sections;
    GraphicsColor m_lineColor{0, 0, 0, 255};
    float m_lineWidth = 2.0f;
    int m_lineStyle = 0;
    // Running statistics; a distance of 0 means "not computed yet".
    double m_totalDistance = 0;
    double m_movingTime = 0;
    double m_maxSpeed = 0;
    mutable CSimpleGrid m_grid;
    mutable bool m_hasGrid = false;
    mutable AltitudeCache m_altitudeCache;

    static inline ITrackUi* s_ui = nullptr;
};
