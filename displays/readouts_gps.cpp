// SPDX-License-Identifier: GPL-3.0-or-later
// GPS read-outs: course, speed, position, accuracy, altitude, time, averages, odometer,
// satellites and the compass heading.

#include <cmath>
#include <cstdio>

#include "displays/readouts.h"
#include "navdata/gpsposition.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

std::string Printf1(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// ---- formatters

bool FormatCourse(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    u.GetBearingUnit(units);
    // Standing still, a receiver's course is noise.
    if (!s.fix || !(s.speed > 0)) return false;
    u.FormatBearingValue(s.course, value);
    return true;
}

bool FormatSpeed(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    units = CUnits::SpeedUnitName(u.speed_units);
    if (!s.fix || !std::isfinite(s.speed)) return false;
    u.FormatSpeedValue(s.speed, value);
    return true;
}

bool FormatPosition(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    units = u.posfmt ? u.posfmt->name : "";
    if (!s.fix) return false;
    // A grid that does not cover the position shows nothing rather than a wrong place.
    return u.FormatPosition(s.lat, s.lon, value);
}

bool FormatAccuracy(const CUnits&, const GpsSnapshot& s, std::string& value, std::string& units) {
    units = "HDOP";
    if (!s.fix || !(s.hdop > 0) || s.hdop >= 99.0f) return false;
    value = Printf1("%.1f", s.hdop);
    return true;
}

bool FormatAltitude(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    // Heights go with the depth unit's system: metres for a metric user, feet otherwise.
    const bool metres = u.dist_units == CUnits::e_km || u.depth_units == 1;
    units = metres ? "m" : "ft";
    if (!s.fix || !(s.altitude > CDataAltitude::kNoAltitude) || !std::isfinite(s.altitude)) return false;
    value = Printf1("%.0f", s.altitude * (metres ? 1.0 : double(CUnits::DistanceFactor(CUnits::e_feet))));
    return true;
}

bool FormatTime(const CUnits&, const GpsSnapshot& s, std::string& value, std::string& units) {
    units.clear();
    if (!s.fix || !(s.fix_time > 0)) return false;
    value = CUnits::FormatTimeOfDay(s.fix_time);
    return true;
}

bool Format24h(const CUnits&, const GpsSnapshot& s, std::string& value, std::string& units) {
    units.clear();
    if (!s.fix || !(s.fix_time > 0)) return false;
    value = Format24hTimeWithSeconds(s.fix_time);
    return true;
}

bool FormatAverageCourse(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    u.GetBearingUnit(units);
    if (!s.fix || !(s.avg_direction < CDataSpeedDirection::kNoneThreshold)) return false;
    u.FormatBearingValue(s.avg_direction, value);
    return true;
}

bool FormatAverageSpeed(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    units = CUnits::SpeedUnitName(u.speed_units);
    if (!s.fix || !std::isfinite(s.avg_speed)) return false;
    u.FormatSpeedValue(s.avg_speed, value);
    return true;
}

// The distance run is a total, not a measurement: it stays on show when the fix is
// lost, and is blank only until the GPS position has been seen.
bool FormatOdometer(const CUnits& u, const GpsSnapshot& s, std::string& value, std::string& units) {
    units = CUnits::DistanceUnitName(u.dist_units);
    if (!(s.odometer >= 0)) return false;
    u.FormatDistance(s.odometer, value, units);
    return true;
}

// ---- items with their own rules

// Satellites in use / in view. The counts come with satellite tables and with fixes;
// they go blank when neither has come for kSatelliteTableTicks, so a searching receiver
// (tables, no fix) keeps them and a silent one loses them.
class CSatellitesReadout : public CTextReadout {
public:
    explicit CSatellitesReadout(CItemSettings& s)
        : CTextReadout(s),
          m_stale(kSatelliteTableTicks,
                  [this] {
                      if (!m_has) return;
                      m_has = false;
                      Refresh();
                  }),
          m_position([this](CDataGPSPosition& p) {
              if (OnPosition(TakeSnapshot(p))) Refresh();
          }),
          m_table([this](CDataGPSSatelliteSignals& t) {
              Show(t.sats_in_use, t.sats_in_view);
              Refresh();
          }) {}

    void Start() override {
        OnPosition(TakeSnapshot(GpsSource()));
        Refresh();
    }

protected:
    bool Format(const CUnits&, std::string& value, std::string& units) const override {
        units = "in use/view";
        if (!m_has) return false;
        char buf[32];
        if (m_inView >= m_inUse)
            std::snprintf(buf, sizeof buf, "%d/%d", m_inUse, m_inView);
        else
            std::snprintf(buf, sizeof buf, "%d", m_inUse);
        value = buf;
        return true;
    }

private:
    bool OnPosition(const GpsSnapshot& s) {
        if (!s.sats_known || !s.fix) return false;
        Show(s.sats_in_use, s.sats_in_view);
        return true;
    }
    void Show(int inUse, int inView) {
        m_inUse = inUse;
        m_inView = inView;
        m_has = true;
        m_stale.Restart();
    }

    int m_inUse = 0, m_inView = 0;
    bool m_has = false;
    CCountdown m_stale;
    CHook<CDataGPSPosition> m_position;
    CHook<CDataGPSSatelliteSignals> m_table;
};

// The damped compass heading. A compass is an instrument of its own: it goes blank
// after the instrument timeout, whatever the GPS does.
class CHeadingReadout : public CTextReadout {
public:
    explicit CHeadingReadout(CItemSettings& s)
        : CTextReadout(s),
          m_stale(kInstrumentStaleTicks,
                  [this] {
                      if (!m_has) return;
                      m_has = false;
                      Refresh();
                  }),
          m_direction([this](CDataSpeedDirection& d) {
              if (Take(d)) Refresh();
          }) {}

    void Start() override {
        Take(GpsSource());
        Refresh();
    }

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override {
        u.GetBearingUnit(units);
        if (!m_has) return false;
        u.FormatBearingValue(m_heading, value);
        return true;
    }

private:
    // True when something changed. Positions publish the direction too, with the same
    // heading time: only a new heading time counts as a fresh reading.
    bool Take(const CDataSpeedDirection& d) {
        const float h = d.compass.heading;
        if (!(h < CDataSpeedDirection::kNoneThreshold) || !std::isfinite(h)) {
            const bool changed = m_has;
            m_has = false;
            return changed;
        }
        if (m_has && d.compass.last_time == m_time && h == m_heading) return false;
        const bool fresh = !m_has || d.compass.last_time != m_time;
        m_heading = h;
        m_time = d.compass.last_time;
        m_has = true;
        if (fresh) m_stale.Restart();
        return true;
    }

    float m_heading = 0;
    double m_time = -1;
    bool m_has = false;
    CCountdown m_stale;
    CHook<CDataSpeedDirection> m_direction;
};

template <GpsFormatter F>
CItem* MakeGps(CItemSettings& s) {
    return new CGpsReadout(s, F);
}
template <class T>
CItem* Make(CItemSettings& s) {
    return new T(s);
}

// Names, identifiers, layers and sizes as the placeholders have them.
CReadoutType t41("GPS: Course over Ground", 41, 5, 200, 100, MakeGps<FormatCourse>);
CReadoutType t42("GPS: Speed over Ground", 42, 5, 200, 100, MakeGps<FormatSpeed>);
CReadoutType t43("GPS: Position", 43, 5, 200, 100, MakeGps<FormatPosition>);
CReadoutType t44("GPS: Accuracy", 44, 5, 200, 100, MakeGps<FormatAccuracy>);
CReadoutType t45("GPS: Altitude", 45, 5, 200, 100, MakeGps<FormatAltitude>);
CReadoutType t46("GPS: Time", 46, 5, 200, 100, MakeGps<FormatTime>);
CReadoutType t47("Sensors:Compass Heading", 47, 5, 200, 100, Make<CHeadingReadout>);
CReadoutType t48("GPS: Average Course", 48, 5, 200, 100, MakeGps<FormatAverageCourse>);
CReadoutType t49("GPS: Average Speed", 49, 5, 200, 100, MakeGps<FormatAverageSpeed>);
CReadoutType t68("GPS: 24h Time with seconds", 68, 5, 200, 100, MakeGps<Format24h>);
CReadoutType t76("GPS: Satellites", 76, 5, 200, 100, Make<CSatellitesReadout>);
CReadoutType t118("GPS: Odometer", 118, 5, 200, 100, MakeGps<FormatOdometer>);

}  // namespace

void detail::LinkGpsItems() {}

}  // namespace NReadouts
