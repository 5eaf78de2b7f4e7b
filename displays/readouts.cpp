// SPDX-License-Identifier: GPL-3.0-or-later
// What the read-out items share: their settings and factory, the text read-out bases,
// the snapshot of a position, and small formatting helpers.

#include "displays/readouts.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "navdata/gpsposition.h"

namespace NReadouts {

void RegisterItemTypes() {
    detail::LinkGpsItems();
    detail::LinkInstrumentItems();
    detail::LinkSpeedDials();
    detail::LinkWindDials();
    detail::LinkGotoItems();
    detail::LinkTrackItems();
    detail::LinkAisItems();
}

namespace {
COverlayGPSPosition* g_source = nullptr;
}  // namespace

COverlayGPSPosition& GpsSource() {
    return g_source ? *g_source : COverlayGPSPosition::theLatestPosition;
}

void SetGpsSource(COverlayGPSPosition* position) {
    g_source = position;
}

// ---- settings and factory

CDisplayView::CItem* CReadoutSettings::CreateItem(CDisplayView::IWindow& pageWindow) {
    const auto* type = dynamic_cast<const CReadoutType*>(Type());
    if (!type || !type->factory) return CItemSettings::CreateItem(pageWindow);
    CDisplayView::CItem* item = type->factory(*this);
    // Virtual calls reach the finished item only now.
    if (auto* text = dynamic_cast<CTextReadout*>(item)) text->Start();
    return item;
}

// ---- text read-outs

CTextReadout::CTextReadout(CDisplayView::CItemSettings& settings)
    : CItemText(settings), m_units([this](CUnits&) { Refresh(); }) {}

void CTextReadout::Refresh() {
    std::string value, units;
    if (!Format(CDefaultUnits::u, value, units) || value.empty()) value = kNoValue;
    const CDisplayView::CItemSettingsType* type = Settings().Type();
    SetTitleUnits(type ? type->ItemName() : Settings().TypeName(), units);
    SetValue(value);
}

GpsSnapshot TakeSnapshot(const CDataGPSPosition& p) {
    GpsSnapshot s;
    s.fix = p.HasFix() && p.HasPosition();
    s.lat = p.lat;
    s.lon = p.lon;
    s.fix_time = p.fix_time;
    s.hdop = p.hdop;
    s.speed = p.speed;
    s.course = p.course;
    s.avg_speed = p.avg_speed;
    s.avg_direction = p.avg_direction;
    s.max_speed = p.speed_range.Max();
    s.altitude = p.altitude;
    // The odometer and the satellite counts belong to the GPS position object, not to
    // the published position type: read them only when it is that object.
    const COverlayGPSPosition& source = GpsSource();
    if (&p == static_cast<const CDataGPSPosition*>(&source)) {
        if (source.HasPosition()) s.odometer = source.odo_total + source.odo_leg;
        s.sats_in_use = source.sats_in_use;
        s.sats_in_view = source.sats_in_view;
        s.sats_known = true;
    }
    return s;
}

CGpsReadout::CGpsReadout(CDisplayView::CItemSettings& settings, GpsFormatter formatter)
    : CTextReadout(settings), m_formatter(formatter), m_position([this](CDataGPSPosition& p) {
          m_snap = TakeSnapshot(p);
          Refresh();
      }) {}

void CGpsReadout::Start() {
    m_snap = TakeSnapshot(GpsSource());
    Refresh();
}

bool CGpsReadout::Format(const CUnits& u, std::string& value, std::string& units) const {
    return m_formatter && m_formatter(u, m_snap, value, units);
}

CInstrumentReadout::CInstrumentReadout(CDisplayView::CItemSettings& settings, InstrumentFormatter formatter)
    : CTextReadout(settings), m_formatter(std::move(formatter)), m_stale(kInstrumentStaleTicks, [this] {
          if (!m_has) return;
          m_has = false;
          Refresh();
      }) {}

void CInstrumentReadout::Accept(double reading) {
    if (!std::isfinite(reading)) return;
    m_reading = reading;
    m_has = true;
    m_stale.Restart();
    Refresh();
}

bool CInstrumentReadout::Format(const CUnits& u, std::string& value, std::string& units) const {
    // Called with has = false as well, for the units label.
    const bool ok = m_formatter && m_formatter(u, m_reading, value, units);
    return m_has && ok;
}

// ---- helpers

void FormatSideAngle(double degrees, const char* valueFormat, std::string& value, std::string& units) {
    value.clear();
    units = "\u00B0";
    if (!std::isfinite(degrees)) return;
    double a = std::fmod(degrees, 360.0);
    if (a > 180.0) a -= 360.0;
    if (a <= -180.0) a += 360.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, valueFormat, std::fabs(a));
    value = buf;
    // Whatever rounds to dead ahead or astern has no side.
    const double shown = std::strtod(buf, nullptr);
    if (shown == 0.0 || shown == 180.0) return;
    units += a > 0 ? " stbd" : " port";
}

std::string Format24hTimeWithSeconds(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13) return {};
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(qint64(std::floor(seconds)) * 1000, Qt::LocalTime);
    if (!t.isValid()) return {};
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.time().hour(), t.time().minute(), t.time().second());
    return buf;
}

double SpeedometerScale(double highest) {
    static constexpr double kSteps[] = {10, 15, 20, 30, 40, 50, 80, 100, 150, 200, 300, 500, 1000};
    if (!std::isfinite(highest)) return kSteps[0];
    for (double s : kSteps) {
        if (highest <= s) return s;
    }
    return kSteps[std::size(kSteps) - 1];
}

double SpeedometerNeedleAngle(double value, double fullScale) {
    double f = (fullScale > 0 && std::isfinite(value)) ? value / fullScale : 0.0;
    f = std::clamp(f, 0.0, 1.0);
    return 225.0 - 270.0 * f;
}

}  // namespace NReadouts
