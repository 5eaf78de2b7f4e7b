// SPDX-License-Identifier: GPL-3.0-or-later
// Wind dials: the wind angle off the bow on a round dial with the bow at the top, the
// close-hauled sectors in red (port) and green (starboard), and the wind speed below
// the hub. One shows the apparent wind, the other the true wind.

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <memory>

#include "displays/readouts.h"
#include "navdata/nmea_records.h"
#include "navdata/truewind.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

constexpr double kPi = 3.14159265358979323846;

// A point at `radius` in the direction `degrees` off the bow (clockwise, bow up).
QPointF AtAngle(double degrees, double radius) {
    const double a = degrees * kPi / 180.0;
    return QPointF(std::sin(a) * radius, -std::cos(a) * radius);
}

class CWindDial : public CDisplayView::CItemDraw, public CReading {
public:
    CWindDial(CItemSettings& s, const char* label)
        : CItemDraw(s),
          m_label(label),
          m_stale(kInstrumentStaleTicks,
                  [this] {
                      if (!m_has) return;
                      m_has = false;
                      Redraw();
                  }),
          m_units([this](CUnits&) { Redraw(); }) {}

    bool HasReading() const override { return m_has; }

    void Draw(QPainter& p, double w, double h) override {
        const double size = std::min(w, h);
        if (!(size > 4)) return;
        const double r = size / 2 - 2;
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(w / 2, h / 2);

        p.setPen(QPen(QColor(60, 60, 60), std::max(1.0, r * 0.03)));
        p.setBrush(QColor(250, 250, 250));
        p.drawEllipse(QPointF(0, 0), r, r);

        // Close hauled: 20 to 60 degrees either side of the bow.
        const QRectF arc(-r * 0.9, -r * 0.9, r * 1.8, r * 1.8);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(210, 30, 30), std::max(2.0, r * 0.08), Qt::SolidLine, Qt::FlatCap));
        p.drawArc(arc, (90 + 20) * 16, 40 * 16);
        p.setPen(QPen(QColor(20, 160, 40), std::max(2.0, r * 0.08), Qt::SolidLine, Qt::FlatCap));
        p.drawArc(arc, (90 - 60) * 16, 40 * 16);

        QFont font = p.font();
        font.setPixelSize(std::max(6, int(r * 0.12)));
        p.setFont(font);
        for (int a = 0; a < 360; a += 10) {
            const bool major = a % 30 == 0;
            p.setPen(QPen(QColor(30, 30, 30), std::max(1.0, r * (major ? 0.03 : 0.015))));
            p.drawLine(AtAngle(a, r * (major ? 0.8 : 0.86)), AtAngle(a, r * 0.95));
            if (major && a % 60 == 0) {
                const QPointF c = AtAngle(a, r * 0.66);
                const int shown = a > 180 ? 360 - a : a;
                p.drawText(QRectF(c.x() - r * 0.2, c.y() - r * 0.1, r * 0.4, r * 0.2), Qt::AlignCenter,
                           QString::number(shown));
            }
        }

        const CUnits& u = CDefaultUnits::u;
        std::string value = kNoValue;
        if (m_has) u.FormatSpeedValue(m_speed, value);
        font.setPixelSize(std::max(7, int(r * 0.2)));
        font.setBold(true);
        p.setFont(font);
        p.setPen(QColor(20, 20, 20));
        p.drawText(QRectF(-r * 0.6, r * 0.22, r * 1.2, r * 0.28), Qt::AlignCenter, QString::fromStdString(value));
        font.setPixelSize(std::max(6, int(r * 0.12)));
        font.setBold(false);
        p.setFont(font);
        p.drawText(QRectF(-r * 0.6, r * 0.5, r * 1.2, r * 0.18), Qt::AlignCenter,
                   QString::fromUtf8(m_label) + QLatin1Char(' ') + QString::fromUtf8(CUnits::SpeedUnitName(u.speed_units)));

        if (m_has) {
            QPainterPath needle;
            needle.moveTo(AtAngle(m_angle, r * 0.9));
            needle.lineTo(AtAngle(m_angle + 90, r * 0.05));
            needle.lineTo(AtAngle(m_angle + 180, r * 0.15));
            needle.lineTo(AtAngle(m_angle - 90, r * 0.05));
            needle.closeSubpath();
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(20, 60, 200));
            p.drawPath(needle);
        }
        p.setBrush(QColor(40, 40, 40));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(0, 0), r * 0.06, r * 0.06);
        p.restore();
    }

protected:
    void Show(double angle, double knots) {
        if (!std::isfinite(angle) || !std::isfinite(knots)) return;
        m_angle = angle;
        m_speed = knots;
        m_has = true;
        m_stale.Restart();
        Redraw();
    }
    void Redraw() {
        if (Window()) Window()->Invalidate();
    }

private:
    const char* m_label;
    double m_angle = 0, m_speed = 0;
    bool m_has = false;
    CCountdown m_stale;
    CHook<CUnits> m_units;
};

class CApparentWindDial : public CWindDial {
public:
    explicit CApparentWindDial(CItemSettings& s)
        : CWindDial(s, "App"), m_wind([this](CNMEA_Instruments::MWV& r) {
              if (r.reference == CNMEA_Instruments::MWV::kApparent) Show(r.angle, r.speed);
          }) {}

private:
    CHook<CNMEA_Instruments::MWV> m_wind;
};

class CTrueWindDial : public CWindDial {
public:
    explicit CTrueWindDial(CItemSettings& s)
        : CWindDial(s, "True"), m_feed(CFeedTrueWind::Acquire()), m_wind([this](CDataTrueWind& w) {
              if (w.HasAngle()) Show(w.angle, w.speed);
          }) {}

private:
    std::shared_ptr<CFeedTrueWind> m_feed;
    CHook<CDataTrueWind> m_wind;
};

template <class T>
CItem* Make(CItemSettings& s) {
    return new T(s);
}

CReadoutType t99("Instruments:Dials:True Wind", 99, 4, 200, 200, Make<CTrueWindDial>);
CReadoutType t100("Instruments:Dials:App Wind", 100, 4, 200, 200, Make<CApparentWindDial>);

}  // namespace

void detail::LinkWindDials() {}

}  // namespace NReadouts
