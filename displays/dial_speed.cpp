// SPDX-License-Identifier: GPL-3.0-or-later
// The speedometer: speed over ground on a round dial, with the number below the hub.

#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

#include "displays/readouts.h"
#include "navdata/gpsposition.h"

namespace NReadouts {

namespace {

using CItem = CDisplayView::CItem;
using CItemSettings = CDisplayView::CItemSettings;

constexpr double kPi = 3.14159265358979323846;

class CSpeedometer : public CDisplayView::CItemDraw {
public:
    explicit CSpeedometer(CItemSettings& s)
        : CItemDraw(s),
          m_snap(TakeSnapshot(GpsSource())),
          m_position([this](CDataGPSPosition& p) {
              m_snap = TakeSnapshot(p);
              if (Window()) Window()->Invalidate();
          }),
          m_units([this](CUnits&) {
              if (Window()) Window()->Invalidate();
          }) {}

    void Draw(QPainter& p, double w, double h) override {
        const double size = std::min(w, h);
        if (!(size > 4)) return;
        const CUnits& u = CDefaultUnits::u;
        const double factor = CUnits::SpeedFactor(u.speed_units);
        const bool has = m_snap.fix && std::isfinite(m_snap.speed);
        const double speed = has ? m_snap.speed * factor : 0.0;
        // The scale follows the fastest speed of the last minutes, so that the needle
        // does not jump between scales with every gust.
        const double highest = std::max(speed, has ? double(m_snap.max_speed) * factor : 0.0);
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
        if (has) u.FormatSpeedValue(m_snap.speed, value);
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

    bool HasReading() const { return m_snap.fix; }

private:
    GpsSnapshot m_snap;
    CHook<CDataGPSPosition> m_position;
    CHook<CUnits> m_units;
};

CItem* MakeSpeedometer(CItemSettings& s) {
    return new CSpeedometer(s);
}

CReadoutType t102("GPS:Speedometer", 102, 4, 200, 200, MakeSpeedometer);

}  // namespace

void detail::LinkDialItems() {}

}  // namespace NReadouts
