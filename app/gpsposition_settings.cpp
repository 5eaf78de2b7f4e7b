// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/gpsposition_settings.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDebug>

#include <algorithm>
#include <cmath>

#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "navdata/gpsposition.h"
#include "navdata/platform_sensors.h"
#include "units/units.h"

namespace {
COverlayGPSPosition::Persistant& S() {
    return COverlayGPSPosition::settings;
}

bool Finite(double v) {
    return std::isfinite(v);
}
}  // namespace

const std::vector<double>& CDlg_gps_position_settings::RingRadii() {
    static const std::vector<double> radii = {50, 100, 185.2, 250, 463, 500, 926, 1000, 1852, 3704, 5000, 9260};
    return radii;
}

CDlg_gps_position_settings::CDlg_gps_position_settings(QObject* parent) : QObject(parent) {}

void CDlg_gps_position_settings::Saved() {
    S().SetChanged();
    PersistantData::SaveAll();
    COverlayGPSPosition::theLatestPosition.Dispatch(COverlayObject::UPDATE_MOVED);
    Q_EMIT settingsChanged();
}

double CDlg_gps_position_settings::vectorMinutes() const {
    return S().vector_scale;
}
void CDlg_gps_position_settings::setVectorMinutes(double minutes) {
    if (!Finite(minutes)) return;
    const float v = float(std::clamp(minutes, 0.5, 120.0));
    if (v == S().vector_scale) return;
    S().vector_scale = v;
    Saved();
}

bool CDlg_gps_position_settings::showVector() const {
    return S().show_vector;
}
void CDlg_gps_position_settings::setShowVector(bool on) {
    if (on == S().show_vector) return;
    S().show_vector = on;
    Saved();
}

bool CDlg_gps_position_settings::showHeading() const {
    return S().show_heading;
}
void CDlg_gps_position_settings::setShowHeading(bool on) {
    if (on == S().show_heading) return;
    S().show_heading = on;
    Saved();
}

double CDlg_gps_position_settings::averagingSeconds() const {
    return S().averaging_time;
}
void CDlg_gps_position_settings::setAveragingSeconds(double seconds) {
    if (!Finite(seconds)) return;
    seconds = std::clamp(seconds, 5.0, 3600.0);
    if (seconds == S().averaging_time) return;
    S().averaging_time = seconds;
    Saved();
}

int CDlg_gps_position_settings::rangeRings() const {
    return S().num_range_rings;
}
void CDlg_gps_position_settings::setRangeRings(int count) {
    count = std::clamp(count, 0, 10);
    if (count == S().num_range_rings) return;
    S().num_range_rings = count;
    Saved();
}

QStringList CDlg_gps_position_settings::ringRadiusChoices() const {
    QStringList out;
    for (double r : RingRadii()) {
        std::string text;
        CDefaultUnits::u.FormatDistance(r, text);
        out << QString::fromStdString(text);
    }
    return out;
}
int CDlg_gps_position_settings::ringRadiusIndex() const {
    const auto& radii = RingRadii();
    size_t best = 0;
    for (size_t i = 1; i < radii.size(); ++i)
        if (std::fabs(radii[i] - S().range_ring_radius) < std::fabs(radii[best] - S().range_ring_radius)) best = i;
    return int(best);
}
void CDlg_gps_position_settings::setRingRadiusIndex(int index) {
    if (index < 0 || index >= int(RingRadii().size())) return;
    const float r = float(RingRadii()[size_t(index)]);
    if (r == S().range_ring_radius) return;
    S().range_ring_radius = r;
    Saved();
}

double CDlg_gps_position_settings::headingDamping() const {
    return S().compass_damping_time_const;
}
void CDlg_gps_position_settings::setHeadingDamping(double seconds) {
    if (!Finite(seconds)) return;
    const float v = float(std::clamp(seconds, 0.0, 30.0));
    if (v == S().compass_damping_time_const) return;
    S().compass_damping_time_const = v;
    Saved();
}

QVariantList CDlg_gps_position_settings::compassCorrections() const {
    QVariantList out;
    for (int i = 0; i < 12; ++i) out << double(S().calibration.corrections[size_t(i)]);
    return out;
}
void CDlg_gps_position_settings::setCompassCorrection(int index, double degrees) {
    if (index < 0 || index >= 12 || !Finite(degrees)) return;
    const float v = float(std::clamp(degrees, -45.0, 45.0));
    auto& c = S().calibration.corrections;
    if (c[size_t(index)] == v) return;
    c[size_t(index)] = v;
    c[12] = c[0];  // 360 degrees is 0 degrees
    Saved();
}

QColor CDlg_gps_position_settings::iconColour() const {
    const GraphicsColor& c = S().gc_color2;
    return QColor(c.r, c.g, c.b, c.a);
}
void CDlg_gps_position_settings::setIconColour(const QColor& colour) {
    if (!colour.isValid()) return;
    const GraphicsColor c(uint8_t(colour.red()), uint8_t(colour.green()), uint8_t(colour.blue()), 255);
    if (c == S().gc_color2) return;
    COverlayGPSPosition::theLatestPosition.SetColor(c);
    Saved();
}

bool CDlg_gps_position_settings::keepScreenOn() const {
    return S().screen_keep_alive;
}
void CDlg_gps_position_settings::setKeepScreenOn(bool on) {
    if (on == S().screen_keep_alive) return;
    S().screen_keep_alive = on;
    Saved();
    ApplyKeepScreenOn();
}

std::vector<int> CDlg_gps_position_settings::AltitudeModes() const {
    std::vector<int> modes = {CDataAltitude::ALT_GPS};
    if (HasBarometer()) {
        modes.push_back(CDataAltitude::ALT_BAROMETRIC);
        modes.push_back(CDataAltitude::ALT_BLEND);
    }
    return modes;
}

QStringList CDlg_gps_position_settings::altitudeChoices() const {
    QStringList out;
    for (int m : AltitudeModes()) {
        switch (m) {
            case CDataAltitude::ALT_GPS:
                out << tr("From the GPS");
                break;
            case CDataAltitude::ALT_BAROMETRIC:
                out << tr("Barometric");
                break;
            case CDataAltitude::ALT_BLEND:
                out << tr("GPS and barometer");
                break;
        }
    }
    return out;
}
int CDlg_gps_position_settings::altitudeIndex() const {
    const auto modes = AltitudeModes();
    const CDataAltitude& alt = COverlayGPSPosition::theLatestPosition;
    const auto it = std::find(modes.begin(), modes.end(), alt.mode);
    return it == modes.end() ? 0 : int(it - modes.begin());
}
void CDlg_gps_position_settings::setAltitudeIndex(int index) {
    const auto modes = AltitudeModes();
    if (index < 0 || index >= int(modes.size())) return;
    CDataAltitude& alt = COverlayGPSPosition::theLatestPosition;
    if (alt.mode == modes[size_t(index)]) return;
    alt.SetAltitudeSettings(alt.user_offset, CDataAltitude::mode_e(modes[size_t(index)]), alt.gps_time_const,
                            alt.pressure_smoothing_time);
    // The altitude source is kept with the position.
    SaveLatestPosition(getAppDirectory());
    Q_EMIT settingsChanged();
}

// Desktop sessions blank the screen after a few idle minutes; on a chart plotter that is
// the moment the boat is steered by the screen. The freedesktop screen-saver service
// takes an inhibition that lasts until it is released or the program ends.
void CDlg_gps_position_settings::ApplyKeepScreenOn() {
    static uint cookie = 0;
    const bool want = S().screen_keep_alive;
    if (want == (cookie != 0)) return;
    QDBusInterface saver(QStringLiteral("org.freedesktop.ScreenSaver"), QStringLiteral("/org/freedesktop/ScreenSaver"),
                         QStringLiteral("org.freedesktop.ScreenSaver"), QDBusConnection::sessionBus());
    if (!saver.isValid()) {
        if (want) qInfo() << "Keeping the screen on is not possible: no screen-saver service on the session bus.";
        cookie = 0;
        return;
    }
    if (want) {
        const QDBusReply<uint> reply =
            saver.call(QStringLiteral("Inhibit"), QStringLiteral("Navora"), QStringLiteral("Navigating"));
        cookie = reply.isValid() ? reply.value() : 0;
    } else {
        saver.call(QStringLiteral("UnInhibit"), cookie);
        cookie = 0;
    }
}
