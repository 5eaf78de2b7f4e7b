// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/track.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "overlays/overlayroute.h"
#include "overlays/trackmanager.h"
#include "overlays/xmlnode.h"
#include "overlays/xmlwrite.h"
#include "units/units.h"

namespace {

constexpr double kDegToRad = M_PI / 180.0;
constexpr double kKnotsPerMs = 1.0 / 0.5144444444444445;

// Squared distance from (px, py) to the segment (ax, ay)-(bx, by).
double SegmentDist2(double px, double py, double ax, double ay, double bx, double by) {
    const double vx = bx - ax, vy = by - ay;
    const double len2 = vx * vx + vy * vy;
    double t = len2 > 0 ? ((px - ax) * vx + (py - ay) * vy) / len2 : 0.0;
    t = std::clamp(t, 0.0, 1.0);
    const double dx = px - (ax + t * vx), dy = py - (ay + t * vy);
    return dx * dx + dy * dy;
}

bool Timed(const CTrackPoint& a, const CTrackPoint& b) {
    return a.time > 0 && b.time > 0;
}

// Compacts `n` points in place and returns how many are left. Triples (a, b, c) are
// taken stepping by two along the survivors; b goes when every point originally between
// a and c (those dropped in earlier passes too) lies within `tolerance` of the line a-c,
// so passes never let the line wander further than the tolerance from any point.
int CompactRun(CTrackPoint* pts, int n, const CSimpleGrid& grid, double tolerance) {
    if (n < 3 || !(tolerance > 0)) return n;
    std::vector<double> x(static_cast<size_t>(n)), y(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) grid.ToGrid(pts[i].lat, pts[i].lon, x[size_t(i)], y[size_t(i)]);
    const double tol2 = tolerance * tolerance;
    std::vector<int> alive(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) alive[size_t(i)] = i;
    for (;;) {
        std::vector<int> next;
        next.reserve(alive.size());
        bool removed = false;
        size_t k = 0;
        for (; k + 2 < alive.size(); k += 2) {
            const int a = alive[k], b = alive[k + 1], c = alive[k + 2];
            bool fits = true;
            for (int j = a + 1; j < c && fits; ++j)
                fits = SegmentDist2(x[size_t(j)], y[size_t(j)], x[size_t(a)], y[size_t(a)], x[size_t(c)],
                                    y[size_t(c)]) <= tol2;
            next.push_back(a);
            if (fits)
                removed = true;
            else
                next.push_back(b);
        }
        for (; k < alive.size(); ++k) next.push_back(alive[k]);
        alive.swap(next);
        if (!removed) break;
    }
    const int m = int(alive.size());
    for (int i = 0; i < m; ++i) pts[i] = pts[alive[size_t(i)]];
    return m;
}

// Sections of up to 64 points over `points`, each after the first starting with the
// previous one's last point.
COverlayTrack::Sections BuildSections(const std::vector<CTrackPoint>& points, COverlayTrack* owner) {
    COverlayTrack::Sections out;
    size_t i = 0;
    while (i < points.size()) {
        auto sec = std::make_unique<CTrackSection>(owner);
        if (!out.empty()) sec->addPoint(out.back()->Last(), false);
        while (i < points.size() && !sec->full()) sec->addPoint(points[i++], false);
        out.push_back(std::move(sec));
    }
    return out;
}

std::string DateText(double t) {
    return t > 0 ? CUnits::FormatDate(t) : std::string();
}

}  // namespace

double TrackStepDistance(const CTrackPoint& a, const CTrackPoint& b) {
    // The ellipsoid's metres per degree at the middle latitude, from one cosine: the
    // multiple-angle terms of the series are polynomials in it.
    const double c = std::cos(0.5 * (a.lat + b.lat) * kDegToRad);
    const double c2 = 2 * c * c - 1;
    const double c3 = c * (4 * c * c - 3);
    const double c4 = 2 * c2 * c2 - 1;
    const double c5 = c * (16 * c * c * c * c - 20 * c * c + 5);
    const double c6 = 2 * c3 * c3 - 1;
    const double mLat = 111132.92 - 559.82 * c2 + 1.175 * c4 - 0.0023 * c6;
    const double mLon = 111412.84 * c - 93.5 * c3 + 0.118 * c5;
    double dlon = b.lon - a.lon;
    if (dlon > 180)
        dlon -= 360;
    else if (dlon < -180)
        dlon += 360;
    const double dx = dlon * mLon, dy = (b.lat - a.lat) * mLat;
    return std::sqrt(dx * dx + dy * dy);
}

// ---------------------------------------------------------------------------------------
// Sections

CTrackSection::CTrackSection(COverlayTrack* track)
    : COverlayObject(LAYER_TRACK_SECTION, OBJECT_TRACK_SECTION), m_track(track) {}

CTrackSection::~CTrackSection() {
    // Listeners still see the whole section here.
    Dispatch(UPDATE_DESTROYED);
}

bool CTrackSection::isVisible() const {
    return m_count >= 2 && m_track && m_track->isVisibleFlag() && !m_track->isDeleted();
}

bool CTrackSection::addPoint(const CTrackPoint& point, bool dispatch) {
    if (full()) return false;
    m_points[size_t(m_count++)] = point;
    InvalidateStats();
    if (dispatch) Dispatch(UPDATE_CHANGED);
    return true;
}

void CTrackSection::SetPoints(const CTrackPoint* points, int count) {
    m_count = std::clamp(count, 0, kMaxPoints);
    if (m_count > 0) std::memmove(m_points.data(), points, sizeof(CTrackPoint) * size_t(m_count));
    InvalidateStats();
}

void CTrackSection::InvalidateStats() {
    m_distance = m_movingTime = m_maxSpeed = -1.0;
}

bool CTrackSection::Serialize(IOStream& s) {
    Section sec(s);
    int32_t count = m_count;
    if (!sec.declare_value(count)) return false;
    if (count < 0 || count > kMaxPoints) return false;
    if (!sec.declare_array(m_points.data(), int(sizeof(CTrackPoint)), count)) return false;
    if (sec.IsReading()) {
        // Positions nobody could have recorded make the record unusable; odd times and
        // heights are only forgotten.
        for (int i = 0; i < count; ++i) {
            CTrackPoint& p = m_points[size_t(i)];
            if (!std::isfinite(p.lat) || !std::isfinite(p.lon) || std::fabs(p.lat) > 90.0 || std::fabs(p.lon) > 360.0)
                return false;
            if (!std::isfinite(p.time) || p.time < 0) p.time = 0;
            if (!std::isfinite(p.altitude)) p.altitude = CTrackPoint::kNoAltitude;
            p.padding = 0;
        }
        m_count = count;
        InvalidateStats();
    }
    return true;
}

double CTrackSection::getDistance() {
    double moving, maxSpeed;
    return getStats(moving, maxSpeed);
}

double CTrackSection::getStats(double& movingTime, double& maxSpeed) {
    if (m_distance < 0) {
        double distance = 0, moving = 0, fastest = 0, smoothed = 0;
        for (int i = 1; i < m_count; ++i) {
            const CTrackPoint& a = m_points[size_t(i - 1)];
            const CTrackPoint& b = m_points[size_t(i)];
            const double d = TrackStepDistance(a, b);
            distance += d;
            const double dt = b.time - a.time;
            if (!Timed(a, b) || !(dt > COverlayTrack::kMinStepTime)) continue;
            const double speed = d / dt;
            if (speed > COverlayTrack::kMovingSpeed) moving += dt;
            // A jump of the fix shows as one step far faster than those before it.
            if (speed < COverlayTrack::kSpikeFactor * smoothed && speed > fastest) fastest = speed;
            smoothed = 0.5 * speed + 0.5 * smoothed;
        }
        m_distance = distance;
        m_movingTime = moving;
        m_maxSpeed = fastest;
    }
    movingTime = m_movingTime;
    maxSpeed = m_maxSpeed;
    return m_distance;
}

double CTrackSection::SpeedAtPoint(int index) const {
    if (index < 0 || index >= m_count || m_count < 2) return 0;
    const int a = std::max(0, index - 1), b = std::min(m_count - 1, index + 1);
    double d = 0;
    for (int i = a + 1; i <= b; ++i) d += TrackStepDistance(m_points[size_t(i - 1)], m_points[size_t(i)]);
    const CTrackPoint& pa = m_points[size_t(a)];
    const CTrackPoint& pb = m_points[size_t(b)];
    const double dt = pb.time - pa.time;
    if (!Timed(pa, pb) || !(dt > COverlayTrack::kMinStepTime)) return 0;
    return d / dt;
}

bool CTrackSection::CompactData(const CSimpleGrid& grid, double tolerance) {
    const int n = CompactRun(m_points.data(), m_count, grid, tolerance);
    if (n == m_count) return false;
    m_count = n;
    InvalidateStats();
    return true;
}

bool CTrackSection::splitSection(int index, CTrackSection& section) {
    if (index < 0 || index >= m_count - 1 || !section.empty()) return false;
    section.SetPoints(m_points.data() + index, m_count - index);
    m_count = index + 1;
    InvalidateStats();
    return true;
}

void CTrackSection::repackageSections(std::vector<std::unique_ptr<CTrackSection>>& list, COverlayTrack* owner) {
    std::vector<CTrackPoint> points;
    for (const auto& sec : list) {
        int first = 0;
        if (!points.empty() && !sec->empty() && sec->Point(0).SamePlaceAndTime(points.back())) first = 1;
        for (int i = first; i < sec->size(); ++i) points.push_back(sec->Point(i));
    }
    list = BuildSections(points, owner);
}

int CTrackSection::FindClosestPoint(const CSimpleGrid& grid, double x, double y, double& d2) const {
    int best = -1;
    d2 = std::numeric_limits<double>::infinity();
    for (int i = 0; i < m_count; ++i) {
        double px, py;
        grid.ToGrid(m_points[size_t(i)].lat, m_points[size_t(i)].lon, px, py);
        const double d = (px - x) * (px - x) + (py - y) * (py - y);
        if (d < d2) {
            d2 = d;
            best = i;
        }
    }
    return best;
}

bool CTrackSection::ExpandLonLatBounds(CBounds& bounds) const {
    for (int i = 0; i < m_count; ++i) bounds.Add(m_points[size_t(i)].lon, m_points[size_t(i)].lat);
    return m_count > 0;
}

// ---------------------------------------------------------------------------------------
// Tracks

COverlayTrack::COverlayTrack() = default;

COverlayTrack::~COverlayTrack() {
    // The sections tell the views they are gone while the track is still whole.
    m_sections.clear();
}

void COverlayTrack::Changed() {
    m_altitudeCache.valid = false;
    if (m_owner) m_owner->SetChanged();
}

void COverlayTrack::EnsureGrid(const CTrackPoint& p) const {
    if (m_hasGrid) return;
    m_grid.SetOrigin(p.lat, p.lon);
    m_hasGrid = true;
}

const CSimpleGrid& COverlayTrack::Grid() const {
    if (const CTrackPoint* p = FirstPoint()) EnsureGrid(*p);
    return m_grid;
}

const char* COverlayTrack::PatternName(int pattern) {
    return COverlayRoute::PatternName(pattern);
}

void COverlayTrack::CopyStyleFrom(const COverlayTrack& other) {
    m_lineColor = other.m_lineColor;
    m_lineWidth = other.m_lineWidth;
    m_lineStyle = other.m_lineStyle;
    m_category = other.m_category;
}

void COverlayTrack::SetLineStyle(const GraphicsColor& color, float width, int pattern) {
    m_lineColor = color;
    m_lineWidth = std::isfinite(width) ? std::clamp(width, 0.5f, 50.0f) : 2.0f;
    m_lineStyle = (pattern >= 0 && pattern < kPatternCount) ? pattern : 0;
    SetModifiedNow();
    Dispatch(COverlayObject::UPDATE_MOVED);
    Changed();
}

void COverlayTrack::SetVisible(bool visible) {
    setVisible(visible);
    Dispatch(COverlayObject::UPDATE_CHANGED);
    Changed();
}

void COverlayTrack::Dispatch(COverlayObject::update_action action) {
    for (auto& sec : m_sections) sec->Dispatch(action);
}

bool COverlayTrack::addPoint(const CTrackPoint& point, bool dispatch) {
    Changed();
    if (point.time > m_modified) m_modified = point.time;
    EnsureGrid(point);
    bool started = false;
    if (m_sections.empty()) {
        m_sections.push_back(std::make_unique<CTrackSection>(this));
        started = true;
    } else if (m_sections.back()->full()) {
        auto next = std::make_unique<CTrackSection>(this);
        next->addPoint(m_sections.back()->Last(), false);
        m_sections.push_back(std::move(next));
        started = true;
    }
    m_sections.back()->addPoint(point, dispatch);
    return started;
}

size_t COverlayTrack::getTotalPoints() const {
    size_t n = 0;
    for (size_t s = 0; s < m_sections.size(); ++s) {
        const int c = m_sections[s]->size();
        n += size_t(s == 0 ? c : std::max(0, c - 1));
    }
    return n;
}

const CTrackPoint* COverlayTrack::FirstPoint() const {
    for (const auto& sec : m_sections)
        if (!sec->empty()) return &sec->Point(0);
    return nullptr;
}

const CTrackPoint* COverlayTrack::LastPoint() const {
    for (auto it = m_sections.rbegin(); it != m_sections.rend(); ++it)
        if (!(*it)->empty()) return &(*it)->Last();
    return nullptr;
}

std::vector<CTrackPoint> COverlayTrack::AllPoints() const {
    std::vector<CTrackPoint> out;
    out.reserve(getTotalPoints());
    ForEachPoint([&](const CTrackSection&, int, const CTrackPoint& p) { out.push_back(p); });
    return out;
}

void COverlayTrack::SetPoints(const std::vector<CTrackPoint>& points) {
    m_sections = BuildSections(points, this);
    m_hasGrid = false;
    if (!points.empty()) {
        EnsureGrid(points.front());
        if (points.back().time > m_modified) m_modified = points.back().time;
    }
    ResetRunningStats();
    if (m_owner) Dispatch(COverlayObject::UPDATE_CHANGED);
    Changed();
}

void COverlayTrack::ClearPoints() {
    m_sections.clear();
    m_hasGrid = false;
    ResetRunningStats();
    Changed();
}

// ---- statistics

double COverlayTrack::getStats(double& movingTime, double& maxSpeed) {
    double distance = 0;
    movingTime = 0;
    maxSpeed = 0;
    for (auto& sec : m_sections) {
        double m, s;
        distance += sec->getStats(m, s);
        movingTime += m;
        maxSpeed = std::max(maxSpeed, s);
    }
    return distance;
}

CTrackStats COverlayTrack::StoredStats() {
    CTrackStats st;
    st.distance = getStats(st.moving, st.maxSpeed);
    return st;
}

void COverlayTrack::ResetRunningStats() {
    m_totalDistance = m_movingTime = m_maxSpeed = 0;
}

void COverlayTrack::AddRunningStep(double distance, double dt, double speed) {
    if (m_totalDistance == 0) m_totalDistance = getStats(m_movingTime, m_maxSpeed);
    m_totalDistance += distance;
    if (speed > kMovingSpeed) {
        m_movingTime += dt;
        m_maxSpeed = std::max(m_maxSpeed, speed);
    }
}

double COverlayTrack::getTotalDistance() {
    if (m_totalDistance == 0) m_totalDistance = getStats(m_movingTime, m_maxSpeed);
    return m_totalDistance;
}

double COverlayTrack::getMovingTime() {
    getTotalDistance();
    return m_movingTime;
}

double COverlayTrack::getMaxSpeed() {
    getTotalDistance();
    return m_maxSpeed;
}

double COverlayTrack::getTimeOfStart() const {
    const CTrackPoint* p = FirstPoint();
    return p ? p->time : 0;
}

bool COverlayTrack::hasTiming() const {
    const CTrackPoint* a = FirstPoint();
    const CTrackPoint* b = LastPoint();
    return a && b && a->time > 0 && b->time > a->time;
}

double COverlayTrack::getElapsedTime() const {
    return hasTiming() ? LastPoint()->time - FirstPoint()->time : 0;
}

double COverlayTrack::getStoppedTime() {
    return std::max(0.0, getElapsedTime() - getMovingTime());
}

bool COverlayTrack::hasAltitude() const {
    bool any = false;
    ForEachPoint([&](const CTrackSection&, int, const CTrackPoint& p) { any = any || p.HasAltitude(); });
    return any;
}

bool COverlayTrack::getAltitudeMetrics(double& ascent, double& descent, double& minAlt, double& maxAlt) const {
    // Read-outs ask at every position: a long track is walked once per change only.
    AltitudeCache& c = m_altitudeCache;
    if (!c.valid) {
        c.any = ComputeAltitudeMetrics(c.ascent, c.descent, c.minAlt, c.maxAlt);
        c.valid = true;
    }
    ascent = c.ascent;
    descent = c.descent;
    minAlt = c.minAlt;
    maxAlt = c.maxAlt;
    return c.any;
}

bool COverlayTrack::ComputeAltitudeMetrics(double& ascent, double& descent, double& minAlt, double& maxAlt) const {
    ascent = descent = 0;
    minAlt = std::numeric_limits<double>::infinity();
    maxAlt = -minAlt;
    bool any = false;
    double reference = 0;
    ForEachPoint([&](const CTrackSection&, int, const CTrackPoint& p) {
        if (!p.HasAltitude()) return;
        const double a = p.altitude;
        minAlt = std::min(minAlt, a);
        maxAlt = std::max(maxAlt, a);
        if (!any) {
            any = true;
            reference = a;
            return;
        }
        // Only a change beyond the dead band counts, and then all of it.
        const double change = a - reference;
        if (change >= kAltitudeDeadband) {
            ascent += change;
            reference = a;
        } else if (change <= -kAltitudeDeadband) {
            descent -= change;
            reference = a;
        }
    });
    if (!any) minAlt = maxAlt = 0;
    return any;
}

void COverlayTrack::getAltitudeProfile(std::vector<CTrackProfileSample>& samples, int bins) const {
    samples.clear();
    if (bins < 2) return;
    double total = 0;
    for (const auto& sec : m_sections)
        for (int i = 1; i < sec->size(); ++i) total += TrackStepDistance(sec->Point(i - 1), sec->Point(i));
    if (!(total > 0)) return;
    const double bin = total / (bins - 1);
    double distance = 0, boundary = 0, sum = 0;
    int count = 0;
    for (const auto& sec : m_sections) {
        if (sec->size() < 2) continue;
        for (int i = 0; i < sec->size(); ++i) {
            if (i > 0) distance += TrackStepDistance(sec->Point(i - 1), sec->Point(i));
            const float a = sec->Point(i).altitude;
            if (a == 0.0f || !(a > -9998.0f)) continue;
            sum += a;
            ++count;
            if (distance >= boundary) {
                samples.push_back({sec.get(), i, distance, float(sum / count)});
                sum = 0;
                count = 0;
                boundary = distance + bin;
            }
        }
    }
}

void COverlayTrack::getSpeedProfile(std::vector<CTrackProfileSample>& samples, int bins) const {
    samples.clear();
    const CTrackPoint* first = FirstPoint();
    if (bins < 2 || !first) return;
    double total = 0;
    for (const auto& sec : m_sections)
        for (int i = 1; i < sec->size(); ++i) total += TrackStepDistance(sec->Point(i - 1), sec->Point(i));
    if (!(total > 0)) return;
    const double bin = total / (bins - 1);
    double distance = 0, boundary = bin;
    double lastDistance = 0, lastTime = first->time;
    for (const auto& sec : m_sections) {
        for (int i = 1; i < sec->size(); ++i) {
            distance += TrackStepDistance(sec->Point(i - 1), sec->Point(i));
            const double t = sec->Point(i).time;
            if (distance < boundary || !(t > 0) || !(lastTime > 0) || t - lastTime < 10.0) continue;
            samples.push_back({sec.get(), i, distance, float((distance - lastDistance) / (t - lastTime))});
            lastDistance = distance;
            lastTime = t;
            boundary = distance + bin;
        }
    }
}

double COverlayTrack::getDistanceUpTo(const CTrackSection& section, int index) const {
    double d = 0;
    for (const auto& sec : m_sections) {
        const int n = sec.get() == &section ? std::min(index + 1, sec->size()) : sec->size();
        for (int i = 1; i < n; ++i) d += TrackStepDistance(sec->Point(i - 1), sec->Point(i));
        if (sec.get() == &section) break;
    }
    return d;
}

std::string COverlayTrack::getPopupLabel(const CTrackSection& section, int index) const {
    if (index < 0 || index >= section.size()) return {};
    std::string text;
    const CTrackPoint& p = section.Point(index);
    if (p.time > 0) text = CUnits::FormatDate(p.time) + " " + CUnits::FormatTimeOfDay(p.time);
    const double speed = section.SpeedAtPoint(index);
    if (speed > 0) {
        std::string s;
        CDefaultUnits::u.FormatSpeed(speed * kKnotsPerMs, s);
        if (!text.empty()) text += "\n";
        text += s;
    }
    return text;
}

std::string COverlayTrack::getTapLabel(const CTrackSection& section, int index) const {
    std::string text = "Track: " + m_name;
    const std::string date = DateText(getTimeOfStart() > 0 ? getTimeOfStart() : m_created);
    if (!date.empty()) text += " (" + date + ")";
    std::string d;
    CDefaultUnits::u.FormatDistance(getDistanceUpTo(section, index), d);
    text += "\nDistance: " + d;
    const std::string popup = getPopupLabel(section, index);
    if (!popup.empty()) text += "\n" + popup;
    return text;
}

std::string COverlayTrack::getSummaryLabel() {
    std::string text = "Track: " + m_name;
    const std::string date = DateText(getTimeOfStart() > 0 ? getTimeOfStart() : m_created);
    if (!date.empty()) text += " (" + date + ")";
    std::string d;
    CDefaultUnits::u.FormatDistance(getTotalDistance(), d);
    text += "\nDistance: " + d;
    if (hasTiming()) {
        text += "\nMoving time: " + CUnits::FormatElapsedTime(getMovingTime());
        text += "\nElapsed time: " + CUnits::FormatElapsedTime(getElapsedTime());
    }
    return text;
}

// ---- editing

void COverlayTrack::CompactData(double tolerance) {
    if (m_sections.empty() || !(tolerance > 0)) return;
    const CSimpleGrid& grid = Grid();
    bool changed = false;
    for (auto& sec : m_sections) changed = sec->CompactData(grid, tolerance) || changed;
    if (!changed) return;
    CTrackSection::repackageSections(m_sections, this);
    ResetRunningStats();
    if (m_owner) Dispatch(COverlayObject::UPDATE_CHANGED);
    Changed();
}

std::unique_ptr<COverlayTrack> COverlayTrack::SplitTrack(const CTrackSection* section, int index) {
    size_t k = 0;
    while (k < m_sections.size() && m_sections[k].get() != section) ++k;
    if (k == m_sections.size() || index < 0 || index >= section->size()) return nullptr;
    // This track must keep a line, and the new one get one.
    if (k == 0 && index == 0) return nullptr;
    CTrackSection& sec = *m_sections[k];
    auto rest = std::make_unique<COverlayTrack>();
    rest->CopyStyleFrom(*this);
    rest->m_name = m_name;
    rest->m_description = m_description;
    size_t firstMoved = k + 1;
    if (index < sec.size() - 1) {
        auto tail = std::make_unique<CTrackSection>(rest.get());
        sec.splitSection(index, *tail);
        rest->m_sections.push_back(std::move(tail));
    }
    for (size_t i = firstMoved; i < m_sections.size(); ++i) {
        m_sections[i]->SetTrack(rest.get());
        rest->m_sections.push_back(std::move(m_sections[i]));
    }
    m_sections.resize(firstMoved);
    if (rest->getTotalPoints() < 2) {
        // Nothing but the shared point would move: undo.
        JoinTrack(*rest);
        return nullptr;
    }
    CTrackSection::repackageSections(rest->m_sections, rest.get());
    if (const CTrackPoint* p = rest->FirstPoint()) rest->m_created = p->time > 0 ? p->time : m_created;
    rest->m_modified = m_modified;
    ResetRunningStats();
    if (m_owner) Dispatch(COverlayObject::UPDATE_CHANGED);
    SetModifiedNow();
    Changed();
    return rest;
}

void COverlayTrack::JoinTrack(COverlayTrack& other) {
    if (&other == this) return;
    const CTrackPoint* last = LastPoint();
    const CTrackPoint tail = last ? *last : CTrackPoint();
    const bool hadLast = last != nullptr;
    bool first = true;
    other.ForEachPoint([&](const CTrackSection&, int, const CTrackPoint& p) {
        if (first && hadLast && p.SamePlaceAndTime(tail)) {
            first = false;
            return;
        }
        first = false;
        addPoint(p, false);
    });
    other.ClearPoints();
    ResetRunningStats();
    if (m_owner) Dispatch(COverlayObject::UPDATE_CHANGED);
    Changed();
}

bool COverlayTrack::TrackToRoute(double tolerance, COverlayRoute& route) const {
    std::vector<CTrackPoint> pts = AllPoints();
    if (pts.size() < 2) return false;
    const int n = CompactRun(pts.data(), int(pts.size()), Grid(), tolerance);
    for (int i = 0; i < n; ++i) route.AddWaypoint(pts[size_t(i)].lat, pts[size_t(i)].lon);
    route.setName(m_name);
    return true;
}

double COverlayTrack::FindClosestPoint(double lat, double lon, const CTrackSection*& section, int& index) const {
    section = nullptr;
    index = -1;
    if (!FirstPoint()) return -1;
    const CSimpleGrid& grid = Grid();
    double x, y;
    grid.ToGrid(lat, lon, x, y);
    double best = std::numeric_limits<double>::infinity();
    for (const auto& sec : m_sections) {
        double d2;
        const int i = sec->FindClosestPoint(grid, x, y, d2);
        if (i >= 0 && d2 < best) {
            best = d2;
            section = sec.get();
            index = i;
        }
    }
    return section ? std::sqrt(best) : -1;
}

// ---- state

bool COverlayTrack::isRecording() const {
    return m_owner && m_owner->IsRecordingInto(this);
}

bool COverlayTrack::sameData(const COverlayTrack& other) const {
    if (!sameSyncableData(other) || getTotalPoints() != other.getTotalPoints()) return false;
    const CTrackPoint *a = FirstPoint(), *b = other.FirstPoint();
    const CTrackPoint *c = LastPoint(), *d = other.LastPoint();
    if (!a || !b) return !a && !b;
    return a->SamePlaceAndTime(*b) && c->SamePlaceAndTime(*d);
}

// ---- stored form

bool COverlayTrack::Serialize(IOStream& s) {
    Section sec(s);
    int32_t style = m_lineStyle;
    bool ok = sec.declare(m_name) && sec.declarecolor(m_lineColor) && sec.declare_value(m_lineWidth) &&
              CSerializableDeclareStatic(sec, m_sections) && sec.declare(m_description) && sec.declare_value(style);
    if (ok && (sec.IsWriting() || !sec.AtEnd())) ok = SerializeSyncable(s);
    ok = ok && sec.declare(m_category);
    if (sec.IsReading()) {
        m_altitudeCache.valid = false;
        m_lineStyle = (style >= 0 && style < kPatternCount) ? style : 0;
        if (!std::isfinite(m_lineWidth) || m_lineWidth < 0.5f || m_lineWidth > 50.0f) m_lineWidth = 2.0f;
        // Empty sections carry nothing and would break the shared end points.
        m_sections.erase(std::remove_if(m_sections.begin(), m_sections.end(), [](const auto& p) { return p->empty(); }),
                         m_sections.end());
        for (auto& p : m_sections) p->SetTrack(this);
        m_hasGrid = false;
        ResetRunningStats();
        if (const CTrackPoint* p = FirstPoint()) {
            if (p->time > 0) m_created = p->time;
        }
    }
    return ok;
}

bool COverlayTrack::getLonLatBounds(CBounds& bounds) const {
    bool any = false;
    for (const auto& sec : m_sections) any = sec->ExpandLonLatBounds(bounds) || any;
    return any;
}

std::string COverlayTrack::getSubText(const CSimpleGrid&) const {
    auto* self = const_cast<COverlayTrack*>(this);
    std::string d;
    CDefaultUnits::u.FormatDistance(self->getTotalDistance(), d);
    const std::string date = DateText(getTimeOfStart());
    std::string text = date.empty() ? d : date + ", " + d;
    if (hasTiming()) text += ", " + CUnits::FormatElapsedTimeHoursMins(getElapsedTime());
    return text;
}

bool COverlayTrack::WriteGPX(FILE* f) const {
    bool ok = std::fputs("<trk>\n", f) >= 0;
    ok = XMLwrite_tag(f, "name", m_name) && ok;
    if (!m_description.empty()) ok = XMLwrite_tag(f, "desc", m_description) && ok;
    if (!isDoNotSync()) ok = XMLwrite_tag(f, "src", const_cast<COverlayTrack*>(this)->GetObjectIDstr()) && ok;
    if (!m_category.empty()) ok = XMLwrite_tag(f, "type", m_category) && ok;
    ok = COverlayRoute::WriteGPXLineStyle(f, m_lineColor, m_lineWidth, m_lineStyle) && ok;
    ok = std::fputs("<trkseg>\n", f) >= 0 && ok;
    // Long tracks are the bulk of most exports: points are formatted into one buffer
    // that goes out in large pieces.
    std::string buf;
    buf.reserve(80 << 10);
    std::string when;
    bool first = true;
    ForEachPoint([&](const CTrackSection&, int, const CTrackPoint& p) {
        if (!(std::fabs(p.lat) <= 90) || !std::isfinite(p.lon)) return;
        AppendPointTag(buf, "trkpt", p.lat, p.lon);
        if (p.altitude != 0.0f && p.altitude > -9998.0f && std::isfinite(p.altitude)) {
            buf += "<ele>";
            AppendFixed(buf, double(p.altitude), 1);
            buf += "</ele>";
        }
        const double t = p.time > 0 ? p.time : (first ? m_created : 0);
        if (t > 0) {
            format_time(t, when);
            buf += "<time>";
            buf += when;
            buf += "</time>";
        }
        buf += "</trkpt>\n";
        first = false;
        if (buf.size() >= (64 << 10)) {
            ok = std::fwrite(buf.data(), 1, buf.size(), f) == buf.size() && ok;
            buf.clear();
        }
    });
    if (!buf.empty()) ok = std::fwrite(buf.data(), 1, buf.size(), f) == buf.size() && ok;
    ok = std::fputs("</trkseg>\n", f) >= 0 && ok;
    return std::fputs("</trk>\n", f) >= 0 && ok;
}
