// SPDX-License-Identifier: GPL-3.0-or-later
// Boat instrument read-outs fed from their sentences: wind, boat speed, depth, water
// temperature, rudder, engine, mast rotation and barometric pressure, and the true wind
// with its gusts and range.

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "displays/readouts.h"
#include "core/heartbeat.h"
#include "navdata/nmea_records.h"
#include "navdata/truewind.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;
namespace I = CNMEA_Instruments;

constexpr double kGustSeconds = 60.0;
constexpr double kRangeSeconds = 300.0;

// Wind statistics run on the heartbeat's clock, so that a replay with its own pulses
// behaves as live.
double HeartbeatSeconds() {
    return double(CHeartbeat::PulseCount()) * CHeartbeat::kPulseMs / 1000.0;
}

std::string Printf1(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// ---- formatters (readings: knots, metres, degrees, Celsius, rpm, hectopascals)

bool SpeedText(const CUnits& u, double knots, std::string& value, std::string& units) {
    units = CUnits::SpeedUnitName(u.speed_units);
    u.FormatSpeedValue(knots, value);
    return true;
}

bool DepthText(const CUnits& u, double metres, std::string& value, std::string& units) {
    units = CUnits::DepthUnitName(u.depth_units);
    u.FormatDepthValue(metres, value);
    return true;
}

bool TemperatureText(const CUnits& u, double celsius, std::string& value, std::string& units) {
    units = u.GetTemperatureUnit();
    u.FormatTemperatureValue(celsius, value);
    return true;
}

bool BearingText(const CUnits& u, double degrees, std::string& value, std::string& units) {
    u.GetBearingUnit(units);
    u.FormatBearingValue(degrees, value);
    return !value.empty();
}

bool WindAngleText(const CUnits&, double degrees, std::string& value, std::string& units) {
    FormatSideAngle(degrees, "%.0f", value, units);
    return !value.empty();
}

bool RudderText(const CUnits&, double degrees, std::string& value, std::string& units) {
    FormatSideAngle(degrees, "%.1f", value, units);
    return !value.empty();
}

bool RpmText(const CUnits&, double rpm, std::string& value, std::string& units) {
    units = "rpm";
    value = Printf1("%.0f", rpm);
    return true;
}

bool PressureText(const CUnits&, double hPa, std::string& value, std::string& units) {
    units = "hPa";
    value = Printf1("%.1f", hPa);
    return true;
}

// ---- transducers

bool NameHas(const char* name, const char* word) {
    std::string n;
    for (const char* p = name; *p; ++p) n += char(std::toupper(static_cast<unsigned char>(*p)));
    return n.find(word) != std::string::npos;
}

// Angular transducers also report heel, trim and the rudder; a mast rotation sensor is the
// angle that is none of those.
bool IsMastRotation(const I::XDR::Measurement& m) {
    if (m.type != 'A') return false;
    for (const char* other : {"ROLL", "HEEL", "PITCH", "PTCH", "TRIM", "YAW", "RUDDER"}) {
        if (NameHas(m.name, other)) return false;
    }
    return true;
}

// The unit letter of a quadruple is not kept, so the size of a barometric value tells
// its unit: about 1 for bars, about 1000 for hectopascals, about 100000 for pascals.
bool BarometricHectopascals(const I::XDR::Measurement& m, double& hPa) {
    if (m.type != 'P' || !std::isfinite(m.value) || !(m.value > 0)) return false;
    if (m.value < 10)
        hPa = m.value * 1000.0;
    else if (m.value > 10000)
        hPa = m.value / 100.0;
    else
        hPa = m.value;
    return true;
}

template <class Pick>
bool FromXdr(const I::XDR& r, double& v, Pick pick) {
    const int n = r.count < 0 ? 0 : (r.count > 2 ? 2 : r.count);
    for (int i = 0; i < n; ++i) {
        if (pick(r.measurements[i], v)) return true;
    }
    return false;
}

// ---- the items

CItem* MakeBoatSpeed(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, SpeedText);
    item->Listen<I::VHW>([](I::VHW& r, double& v) {
        v = r.speed;
        return r.speed_valid;
    });
    return item;
}

// Apparent wind comes in MWV sentences referenced to the bow ("R"); true wind in those
// marked "T" (still an angle off the bow) or in MWD (a direction over the ground).
CItem* MakeApparentWindAngle(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, WindAngleText);
    item->Listen<I::MWV>([](I::MWV& r, double& v) {
        v = r.angle;
        return r.reference == I::MWV::kApparent;
    });
    return item;
}

CItem* MakeApparentWindSpeed(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, SpeedText);
    item->Listen<I::MWV>([](I::MWV& r, double& v) {
        v = r.speed;
        return r.reference == I::MWV::kApparent;
    });
    return item;
}

// True wind: measured by the instrument or computed from the apparent wind (see
// CFeedTrueWind); one feed serves every item that shows it.
template <class Take>
CItem* MakeTrueWind(CItemSettings& s, InstrumentFormatter formatter, Take take) {
    auto* item = new CInstrumentReadout(s, std::move(formatter));
    item->Keep(CFeedTrueWind::Acquire());
    item->Listen<CDataTrueWind>(take);
    return item;
}

CItem* MakeTrueWindDirection(CItemSettings& s) {
    return MakeTrueWind(s, BearingText, [](CDataTrueWind& w, double& v) {
        v = w.direction;
        return w.HasDirection();
    });
}

CItem* MakeTrueWindSpeed(CItemSettings& s) {
    return MakeTrueWind(s, SpeedText, [](CDataTrueWind& w, double& v) {
        v = w.speed;
        return true;
    });
}

// The strongest true wind of the last minute.
CItem* MakeTrueWindGust(CItemSettings& s) {
    auto range = std::make_shared<MinMaxRange>(kGustSeconds);
    return MakeTrueWind(s, SpeedText, [range](CDataTrueWind& w, double& v) {
        range->Add(w.speed, HeartbeatSeconds());
        v = range->Max();
        return true;
    });
}

// The lightest and strongest true wind of the last five minutes, "12.1-15.3".
class CTrueWindRange : public CTextReadout {
public:
    explicit CTrueWindRange(CItemSettings& s)
        : CTextReadout(s),
          m_feed(CFeedTrueWind::Acquire()),
          m_stale(kInstrumentStaleTicks,
                  [this] {
                      if (m_range.IsEmpty()) return;
                      m_range.Reset();
                      Refresh();
                  }),
          m_wind([this](CDataTrueWind& w) {
              if (!std::isfinite(w.speed)) return;
              m_range.Add(w.speed, HeartbeatSeconds());
              m_stale.Restart();
              Refresh();
          }) {}

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override {
        units = CUnits::SpeedUnitName(u.speed_units);
        if (m_range.IsEmpty()) return false;
        std::string low, high;
        u.FormatSpeedValue(m_range.Min(), low);
        u.FormatSpeedValue(m_range.Max(), high);
        value = low + "-" + high;
        return true;
    }

private:
    std::shared_ptr<CFeedTrueWind> m_feed;
    MinMaxRange m_range{kRangeSeconds};
    CCountdown m_stale;
    CHook<CDataTrueWind> m_wind;
};

CItem* MakeTrueWindRange(CItemSettings& s) {
    return new CTrueWindRange(s);
}

// Depth of water: DPT's depth with its transducer offset (to the waterline, or up to
// the keel), else DBT's depth below the transducer. A depth of 0 is a lost bottom.
CItem* MakeDepth(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, DepthText);
    item->Listen<I::DPT>([](I::DPT& r, double& v) {
        v = double(r.depth) + r.offset_waterline - r.offset_keel;
        return r.depth > 0;
    });
    item->Listen<I::DBT>([](I::DBT& r, double& v) {
        v = r.depth;
        return r.depth > 0;
    });
    return item;
}

CItem* MakeWaterTemperature(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, TemperatureText);
    item->Listen<I::MTW>([](I::MTW& r, double& v) {
        v = r.temperature;
        return true;
    });
    return item;
}

CItem* MakeRudder(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, RudderText);
    item->Listen<I::RSA>([](I::RSA& r, double& v) {
        v = r.angle;
        return true;
    });
    return item;
}

CItem* MakeAverageRudder(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, RudderText);
    item->Listen<I::RSA>([](I::RSA& r, double& v) {
        v = r.average;
        return true;
    });
    return item;
}

CItem* MakeEngineRpm(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, RpmText);
    item->Listen<I::RPM>([](I::RPM& r, double& v) {
        v = r.engine1;
        return true;
    });
    return item;
}

CItem* MakeMastRotation(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, WindAngleText);
    item->Listen<I::XDR>([](I::XDR& r, double& v) {
        return FromXdr(r, v, [](const I::XDR::Measurement& m, double& out) {
            if (!IsMastRotation(m)) return false;
            out = m.value;
            return true;
        });
    });
    return item;
}

CItem* MakeBarometricPressure(CItemSettings& s) {
    auto* item = new CInstrumentReadout(s, PressureText);
    item->Listen<I::XDR>([](I::XDR& r, double& v) { return FromXdr(r, v, BarometricHectopascals); });
    return item;
}

// Names, identifiers, layers and sizes as the placeholders have them.
CReadoutType t33("Instruments:Boat Speed", 33, 5, 200, 100, MakeBoatSpeed);
CReadoutType t34("Instruments:Apparent Wind Angle", 34, 5, 200, 100, MakeApparentWindAngle);
CReadoutType t35("Instruments:Apparent Wind Speed", 35, 5, 200, 100, MakeApparentWindSpeed);
CReadoutType t36("Instruments:Depth of water", 36, 5, 200, 100, MakeDepth);
CReadoutType t78("Instruments:Water Temperature", 78, 5, 200, 100, MakeWaterTemperature);
CReadoutType t80("Instruments:Rudder Angle", 80, 5, 200, 100, MakeRudder);
CReadoutType t81("Instruments:Average Rudder Angle", 81, 5, 200, 100, MakeAverageRudder);
CReadoutType t82("Instruments:Engine RPM", 82, 5, 200, 100, MakeEngineRpm);
CReadoutType t86("Instruments:True Wind Direction", 86, 5, 200, 100, MakeTrueWindDirection);
CReadoutType t87("Instruments:True Wind Speed", 87, 5, 200, 100, MakeTrueWindSpeed);
CReadoutType t94("Instruments:Mast Rotation Angle", 94, 5, 200, 100, MakeMastRotation);
CReadoutType t95("Sensors:Barometric Pressure", 95, 5, 200, 100, MakeBarometricPressure);
CReadoutType t112("Instruments:True Wind Range", 112, 5, 200, 100, MakeTrueWindRange);
CReadoutType t113("Instruments:True Wind Gust", 113, 5, 200, 100, MakeTrueWindGust);

}  // namespace

void detail::LinkInstrumentItems() {}

}  // namespace NReadouts
