// SPDX-License-Identifier: GPL-3.0-or-later
// Speed dials: speed over ground (the speedometer) and speed through the water (the boat
// speed dial) on a round dial, with the number below the hub.

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

#include "displays/readouts.h"
#include "navdata/gpsposition.h"
#include "navdata/nmea_records.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

constexpr double kPi = 3.14159265358979323846;

class CSpeedDial : public CDisplayView::CItemDraw, public CReading {
public:
    explicit CSpeedDial(CItemSettings& s)
        : CItemDraw(s), m_units([this](CUnits&) {
              if (Window()) Window()->Invalidate();
          }) {}

    // The speed shown and the fastest of the last minutes, in knots; false for none.
    virtual bool Reading(double& knots, double& highest) const = 0;
    bool HasReading() const override {
        double a = 0, b = 0;
        return Reading(a, b);
    }

    void Draw(QPainter& p, double w, double h) override {
        const double size = std::min(w, h);
        if (!(size > 4)) return;
        const CUnits& u = CDefaultUnits::u;
        const double factor = CUnits::SpeedFactor(u.speed_units);
        double knots = 0, fastest = 0;
        const bool has = Reading(knots, fastest) && std::isfinite(knots);
        const double speed = has ? knots * factor : 0.0;
        // The scale follows the fastest speed of the last minutes, so that the needle
        // does not jump between scales with every gust.
        const double highest = std::max(speed, has ? fastest * factor : 0.0);
        const double full = SpeedometerScale(highest);

        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(w / 2, h / 2);
        const double r = size / 2 - 2;

        p.setPen(QPen(QColor(60, 60, 60), std::max(1.0, r * 0.03)));
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(QPointF(0, 0), r, r);

        // Ticks: ten steps, labels at every other one.
        QFont font = p.font();
        font.setPixelSize(std::max(6, int(r * 0.14)));
        p.setFont(font);
        for (int i = 0; i <= 10; ++i) {
            const double a = SpeedometerNeedleAngle(full * i / 10.0, full) * kPi / 180.0;
            const double c = std::cos(a), s = -std::sin(a);
            const bool major = i % 2 == 0;
            const double inner = r * (major ? 0.78 : 0.85);
            p.setPen(QPen(QColor(30, 30, 30), std::max(1.0, r * (major ? 0.03 : 0.015))));
            p.drawLine(QPointF(c * inner, s * inner), QPointF(c * r * 0.93, s * r * 0.93));
            if (major) {
                const double lr = r * 0.62;
                const QRectF box(c * lr - r * 0.2, s * lr - r * 0.1, r * 0.4, r * 0.2);
                p.drawText(box, Qt::AlignCenter, QString::number(full * i / 10.0, 'g', 4));
            }
        }

        // The reading and its unit.
        std::string value = kNoValue;
        if (has) u.FormatSpeedValue(knots, value);
        font.setPixelSize(std::max(7, int(r * 0.22)));
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(20, 20, 20));
        p.drawText(QRectF(-r * 0.6, r * 0.28, r * 1.2, r * 0.3), Qt::AlignCenter, QString::fromStdString(value));
        font.setPixelSize(std::max(6, int(r * 0.13)));
        font.setBold(false);
        p.setFont(font);
        p.drawText(QRectF(-r * 0.6, r * 0.58, r * 1.2, r * 0.2), Qt::AlignCenter,
                   QString::fromUtf8(CUnits::SpeedUnitName(u.speed_units)));

        if (has) {
            const double a = SpeedometerNeedleAngle(speed, full) * kPi / 180.0;
            const double c = std::cos(a), s = -std::sin(a);
            QPainterPath needle;
            const double base = r * 0.05;
            needle.moveTo(c * r * 0.88, s * r * 0.88);
            needle.lineTo(-s * base, c * base);
            needle.lineTo(-c * r * 0.12, -s * r * 0.12);
            needle.lineTo(s * base, -c * base);
            needle.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(200, 0, 0));
            p.drawPath(needle);
        }
        p.setBrush(QColor(40, 40, 40));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(0, 0), r * 0.06, r * 0.06);
        p.restore();
    }

protected:
    void Redraw() {
        if (Window()) Window()->Invalidate();
    }

private:
    CHook<CUnits> m_units;
};

class CSpeedometer : public CSpeedDial {
public:
    explicit CSpeedometer(CItemSettings& s)
        : CSpeedDial(s), m_snap(TakeSnapshot(GpsSource())), m_position([this](CDataGPSPosition& p) {
              m_snap = TakeSnapshot(p);
              Redraw();
          }) {}

    bool Reading(double& knots, double& highest) const override {
        knots = m_snap.speed;
        highest = m_snap.max_speed;
        return m_snap.fix;
    }

private:
    GpsSnapshot m_snap;
    CHook<CDataGPSPosition> m_position;
};

// Speed through the water from the log; blank like the other instruments when the log
// falls silent.
class CBoatSpeedDial : public CSpeedDial {
public:
    explicit CBoatSpeedDial(CItemSettings& s)
        : CSpeedDial(s),
          m_stale(kInstrumentStaleTicks,
                  [this] {
                      if (!m_has) return;
                      m_has = false;
                      Redraw();
                  }),
          m_log([this](CNMEA_Instruments::VHW& r) {
              if (!r.speed_valid || !std::isfinite(r.speed)) return;
              m_speed = r.speed;
              m_range.Add(r.speed, CHeartbeat::PulseCount() * (CHeartbeat::kPulseMs / 1000.0));
              m_has = true;
              m_stale.Restart();
              Redraw();
          }) {}

    bool Reading(double& knots, double& highest) const override {
        knots = m_speed;
        highest = m_range.Max();
        return m_has;
    }

private:
    double m_speed = 0;
    bool m_has = false;
    MinMaxRange m_range{300.0};
    CCountdown m_stale;
    CHook<CNMEA_Instruments::VHW> m_log;
};

template <class T>
CItem* Make(CItemSettings& s) {
    return new T(s);
}

CReadoutType t101("Instruments:Dials:Boat speed", 101, 4, 200, 200, Make<CBoatSpeedDial>);
CReadoutType t102("GPS:Speedometer", 102, 4, 200, 200, Make<CSpeedometer>);

}  // namespace

void detail::LinkSpeedDials() {}

}  // namespace NReadouts
