// SPDX-License-Identifier: GPL-3.0-or-later
// Navigation read-outs: range, bearing, turn, cross-track error, times and speeds made
// good towards the target and along the followed route, the arrow, and the button that
// drops a mark at the boat.

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/heartbeat.h"
#include "core/uiservices.h"
#include "displays/readouts.h"
#include "displays/readouts_goto.h"
#include "navdata/gpsposition.h"
#include "overlays/markmanager.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

constexpr double kPi = 3.14159265358979323846;
constexpr double kKnotsPerMetrePerSecond = 1.94384449;

std::string Printf1(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// The direction of the leg being sailed; the bearing to the target without a leg.
double LegBearing(const CDataGotoMark& g) {
    if (g.leg_length > 0) return std::fmod(std::atan2(g.leg_x, g.leg_y) * 180 / kPi + 360, 360);
    return g.bearing;
}

bool Moving(const CDataGotoMark& g) {
    return g.course < CDataGotoMark::kNoDirection && g.speed > 0;
}

// Seconds to cover `metres` at the speed made good along the leg; 0 when not closing.
double TimeAtVmg(const CDataGotoMark& g, double metres) {
    return g.vmg_leg < 0.1 ? 0 : metres / (g.vmg_leg / kKnotsPerMetrePerSecond);
}

void DistanceUnit(const CUnits& u, std::string& units) {
    units = CUnits::DistanceUnitName(u.dist_units);
}

}  // namespace

// ---- formatters (also used by the tests)

bool FormatGotoValue(int type, const CUnits& u, const CDataGotoMark& g, std::string& value, std::string& units) {
    value.clear();
    units.clear();
    switch (type) {
        case kGotoDistance:
            DistanceUnit(u, units);
            if (!g.HasRange()) return false;
            u.FormatDistance(g.range, value, units);
            return true;
        case kGotoBearing:
            u.GetBearingUnit(units);
            if (!g.HasRange()) return false;
            u.FormatBearingValue(g.bearing, value);
            return true;
        case kGotoTurnAngle:
            units = "\u00B0";
            if (!g.HasRange() || !Moving(g)) return false;
            FormatSideAngle(g.bearing - g.course, "%.0f", value, units);
            return true;
        case kGotoCrossTrack: {
            DistanceUnit(u, units);
            if (!g.HasRange()) return false;
            u.FormatDistance(std::fabs(g.cross_track_error), value, units);
            // The side of the leg the boat is on, as the autopilot sentence says it.
            if (g.cross_track_error > 0) units += " R";
            if (g.cross_track_error < 0) units += " L";
            return true;
        }
        case kGotoTimeToNext:
            units = "h:m:s";
            if (!g.HasRange() || g.time_to_next <= 0) return false;
            value = CUnits::FormatElapsedTime(g.time_to_next);
            return true;
        case kGotoEtaNext:
            units = "ETA";
            if (!g.HasRange() || g.time_to_next <= 0) return false;
            value = CUnits::Get24hTime(g.time + g.time_to_next);
            return !value.empty();
        case kGotoDistToEnd:
            DistanceUnit(u, units);
            if (!g.HasRange()) return false;
            u.FormatDistance(g.DistanceToEnd(), value, units);
            return true;
        case kGotoTimeToEnd: {
            units = "h:m:s";
            const double t = g.HasRange() ? TimeAtVmg(g, g.DistanceToEnd()) : 0;
            if (t <= 0) return false;
            value = CUnits::FormatElapsedTime(t);
            return true;
        }
        case kGotoEtaEnd: {
            units = "ETA";
            const double t = g.HasRange() ? TimeAtVmg(g, g.DistanceToEnd()) : 0;
            if (t <= 0) return false;
            value = CUnits::Get24hTime(g.time + t);
            return !value.empty();
        }
        case kGotoVmgLeg:
        case kGotoVmgMark:
            units = CUnits::SpeedUnitName(u.speed_units);
            if (!g.HasRange()) return false;
            u.FormatSpeedValue(type == kGotoVmgLeg ? g.vmg_leg : g.vmg_mark, value);
            return true;
        case kGotoTurnAfterMark:
            units = "\u00B0";
            if (!g.HasTarget() || g.next_leg_bearing >= CDataGotoMark::kNoDirection) return false;
            FormatSideAngle(g.next_leg_bearing - LegBearing(g), "%.0f", value, units);
            return true;
        case kGotoWaypointName:
            if (!g.HasTarget()) return false;
            value = g.name;
            if (g.route_id != 0 && g.route_points > 0)
                units = Printf1("%.0f", g.route_leg + 1) + " of " + Printf1("%.0f", g.route_points);
            return true;
        case kGotoComingUp:
            if (!g.HasTarget() || g.route_id == 0) return false;
            value = g.next_name.empty() ? "End of route" : g.next_name;
            units = "next";
            return true;
        case kGotoPercentAlong: {
            units = "%";
            if (!g.HasRange() || !(g.route_length > 0)) return false;
            const double done = std::clamp((g.route_length - g.DistanceToEnd()) / g.route_length, 0.0, 1.0);
            value = Printf1("%.0f", done * 100);
            return true;
        }
        default:
            return false;
    }
}

namespace {

// The navigation values as last published (the manager's, for an item shown later).
CDataGotoMark CurrentGoto() {
    return g_mark_manager ? g_mark_manager->GotoData() : CDataGotoMark();
}

class CGotoReadout : public CTextReadout {
public:
    CGotoReadout(CItemSettings& s, int type)
        : CTextReadout(s), m_type(type), m_goto([this](CDataGotoMark& g) {
              m_g = g;
              Refresh();
          }),
          m_position([this](CDataGPSPosition& p) {
              // A silent receiver leaves the values of its last fix: blank them.
              const bool fix = p.HasFix() && p.HasPosition();
              if (fix == m_fix) return;
              m_fix = fix;
              Refresh();
          }) {}

    void Start() override {
        m_g = CurrentGoto();
        const COverlayGPSPosition& p = GpsSource();
        m_fix = p.HasFix() && p.HasPosition();
        Refresh();
    }

protected:
    bool Format(const CUnits& u, std::string& value, std::string& units) const override {
        const bool ok = FormatGotoValue(m_type, u, m_g, value, units);
        // Names stay; values that depend on where the boat is need a fix.
        if (m_type == kGotoWaypointName || m_type == kGotoComingUp) return ok;
        return ok && m_fix;
    }

private:
    int m_type;
    CDataGotoMark m_g;
    bool m_fix = false;
    CHook<CDataGotoMark> m_goto;
    CHook<CDataGPSPosition> m_position;
};

// An arrow pointing at the target relative to the boat's course (north up when the boat
// is not moving), with the range under it.
class CGotoArrow : public CDisplayView::CItemDraw {
public:
    explicit CGotoArrow(CItemSettings& s)
        : CItemDraw(s), m_g(CurrentGoto()), m_goto([this](CDataGotoMark& g) {
              m_g = g;
              if (Window()) Window()->Invalidate();
          }),
          m_units([this](CUnits&) {
              if (Window()) Window()->Invalidate();
          }) {}

    void Draw(QPainter& p, double w, double h) override {
        const double size = std::min(w, h * 0.8);
        if (!(size > 8)) return;
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        QFont font = p.font();
        font.setPixelSize(std::max(8, int(std::min(w, h) * 0.12)));
        p.setFont(font);
        if (!m_g.HasRange()) {
            p.setPen(QColor(120, 120, 120));
            p.drawText(QRectF(0, 0, w, h), Qt::AlignCenter, QStringLiteral("No target"));
            p.restore();
            return;
        }
        const double angle = Moving(m_g) ? m_g.bearing - m_g.course : m_g.bearing;
        p.translate(w / 2, h * 0.42);
        p.rotate(angle);
        const double r = size * 0.38;
        QPainterPath arrow;
        arrow.moveTo(0, -r);
        arrow.lineTo(r * 0.55, r * 0.1);
        arrow.lineTo(r * 0.2, r * 0.1);
        arrow.lineTo(r * 0.2, r);
        arrow.lineTo(-r * 0.2, r);
        arrow.lineTo(-r * 0.2, r * 0.1);
        arrow.lineTo(-r * 0.55, r * 0.1);
        arrow.closeSubpath();
        p.setPen(QPen(QColor(30, 30, 30), std::max(1.0, r * 0.04)));
        p.setBrush(QColor(200, 0, 200));
        p.drawPath(arrow);
        p.resetTransform();
        std::string value, units;
        FormatGotoValue(kGotoDistance, CDefaultUnits::u, m_g, value, units);
        p.setPen(QColor(20, 20, 20));
        p.drawText(QRectF(0, h * 0.8, w, h * 0.2), Qt::AlignCenter,
                   QString::fromStdString(m_g.name + "  " + value + " " + units));
        p.restore();
    }

private:
    CDataGotoMark m_g;
    CHook<CDataGotoMark> m_goto;
    CHook<CUnits> m_units;
};

// Drops a mark at the boat's position, named from the default mark's template.
class CDropMarkButton : public CDisplayView::CItemButton {
public:
    explicit CDropMarkButton(CItemSettings& s)
        : CItemButton(s), m_position([this](CDataGPSPosition& p) { Update(p); }) {
        SetLabel("Drop Mark");
        SetIcon("add_mark.svg");
        clicked = [](CItemButton&) { DropMarkAtBoat(); };
        Update(GpsSource());
    }

private:
    void Update(const CDataGPSPosition& p) {
        const bool can = p.HasPosition() && g_mark_manager != nullptr;
        if (can != Enabled()) SetEnabled(can);
    }
    CHook<CDataGPSPosition> m_position;
};

template <int Type>
CItem* MakeGoto(CItemSettings& s) {
    return new CGotoReadout(s, Type);
}
template <class T>
CItem* Make(CItemSettings& s) {
    return new T(s);
}

// The stored part of a navigation item: nothing beyond the common item settings.
class CGotoSettings : public CItemSettings {
public:
    using CItemSettings::CItemSettings;
    CItem* CreateItem(CDisplayView::IWindow& pageWindow) override;
};

// A navigation item type. Navigation needs the mark manager: until the application runs
// one, these types are neither offered nor shown.
class CGotoType : public CItemSettingsTypeOf<CGotoSettings> {
public:
    CGotoType(const char* name, int id, int layer, int width, int height, ItemFactory make)
        : CItemSettingsTypeOf<CGotoSettings>(name, id, layer, width, height), factory(make) {}
    bool FeatureAvailable() const override { return g_mark_manager != nullptr; }
    ItemFactory factory;
};

CItem* CGotoSettings::CreateItem(CDisplayView::IWindow& pageWindow) {
    const auto* type = dynamic_cast<const CGotoType*>(Type());
    if (!type || !type->factory) return CItemSettings::CreateItem(pageWindow);
    CItem* item = type->factory(*this);
    // Virtual calls reach the finished item only now.
    if (auto* text = dynamic_cast<CTextReadout*>(item)) text->Start();
    return item;
}

CGotoType t22("Goto:Distance", kGotoDistance, 5, 200, 100, MakeGoto<kGotoDistance>);
CGotoType t23("Goto:Bearing", kGotoBearing, 5, 200, 100, MakeGoto<kGotoBearing>);
CGotoType t24("Goto:Turn Angle", kGotoTurnAngle, 5, 200, 100, MakeGoto<kGotoTurnAngle>);
CGotoType t25("Goto:CrossTrack", kGotoCrossTrack, 5, 200, 100, MakeGoto<kGotoCrossTrack>);
CGotoType t26("Goto:Arrow", 26, 4, 300, 300, Make<CGotoArrow>);
CGotoType t57("Goto:Time to Next WP", kGotoTimeToNext, 5, 200, 100, MakeGoto<kGotoTimeToNext>);
CGotoType t58("Goto:ETA Next WP", kGotoEtaNext, 5, 200, 100, MakeGoto<kGotoEtaNext>);
CGotoType t59("Goto:Dist to Route End", kGotoDistToEnd, 5, 200, 100, MakeGoto<kGotoDistToEnd>);
CGotoType t60("Goto:Time to Route End", kGotoTimeToEnd, 5, 200, 100, MakeGoto<kGotoTimeToEnd>);
CGotoType t61("Goto:ETA End of Route", kGotoEtaEnd, 5, 200, 100, MakeGoto<kGotoEtaEnd>);
CGotoType t62("Goto:VMG Parallel to Leg", kGotoVmgLeg, 5, 200, 100, MakeGoto<kGotoVmgLeg>);
CGotoType t63("Goto:VMG Towards Mark", kGotoVmgMark, 5, 200, 100, MakeGoto<kGotoVmgMark>);
CGotoType t64("Goto:Turn after Mark", kGotoTurnAfterMark, 5, 200, 100, MakeGoto<kGotoTurnAfterMark>);
CGotoType t66("Goto:Waypoint name", kGotoWaypointName, 5, 200, 100, MakeGoto<kGotoWaypointName>);
CGotoType t97("Goto:Coming Up", kGotoComingUp, 5, 200, 100, MakeGoto<kGotoComingUp>);
CGotoType t103("GPS: Drop Mark Button", 103, 7, 100, 70, Make<CDropMarkButton>);
CGotoType t114("Goto:% Along Route", kGotoPercentAlong, 5, 200, 100, MakeGoto<kGotoPercentAlong>);

}  // namespace

COverlayMark* DropMarkAtBoat() {
    const COverlayGPSPosition& p = GpsSource();
    if (!g_mark_manager || !p.HasPosition()) {
        SetStatusMessage("No GPS position to drop a mark at");
        return nullptr;
    }
    COverlayMark* mark = g_mark_manager->CreateNewMark(nullptr, p.lat, p.lon);
    if (mark) {
        g_mark_manager->SaveIfNeeded();
        SetStatusMessage("Dropped " + mark->getName());
    }
    return mark;
}

void detail::LinkGotoItems() {}

}  // namespace NReadouts
