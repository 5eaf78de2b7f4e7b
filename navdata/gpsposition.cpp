// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/gpsposition.h"

#include "overlays/trackmanager.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QPaintDevice>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "charts/georef.h"
#include "core/apppaths.h"
#include "navdata/dataconnection.h"
#include "navdata/platform_sensors.h"
#include "units/units.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kMetresPerNm = 1852.0;
// Metres covered in one minute at one knot.
constexpr double kMetresPerKnotMinute = 30.866666666666667;
constexpr double kHeadingPointMetres = 100.0;
constexpr double kIconHalfSize = 16.0;
constexpr double kTriangleLength = 16.0;
constexpr double kTriangleHalfBase = 6.956521987915039;

bool IsSimulated(const CNMEASentence& s) {
    return s.source && s.source->IsSimulation();
}

// The dispatch timestamp of the record type being published.
template <class T>
double DispatchTime() {
    CDataSource* src = Listener<T>::pDatasource;
    return src ? src->Timestamp() : CDataSource::Now();
}

uint8_t ClampByte(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Compass calibration

std::string CompassCalibration::ToString() const {
    std::string out;
    char buf[32];
    for (int i = 0; i < 12; ++i) {
        std::snprintf(buf, sizeof buf, "%f,", double(corrections[i]));
        out += buf;
    }
    return out;
}

bool CompassCalibration::FromString(const std::string& text) {
    std::array<float, 12> v{};
    const char* p = text.c_str();
    for (int i = 0; i < 12; ++i) {
        char* end = nullptr;
        const double d = std::strtod(p, &end);
        if (end == p || !std::isfinite(d) || std::fabs(d) > 360.0) return false;
        v[i] = float(d);
        p = end;
        while (*p == ' ') ++p;
        if (i < 11) {
            if (*p != ',') return false;
            ++p;
        }
    }
    for (int i = 0; i < 12; ++i) corrections[i] = v[i];
    corrections[12] = corrections[0];
    return true;
}

float CompassCalibration::Adjust(float heading) const {
    double h = heading;
    if (!std::isfinite(h)) return heading;
    h = std::fmod(h, 360.0);
    if (h < 0) h += 360.0;
    const int i = std::min(11, int(std::floor(h / 30.0)));
    const double r = h - 30.0 * i;
    return float(h + ((30.0 - r) * corrections[i] + r * corrections[i + 1]) / 30.0);
}

// ---------------------------------------------------------------------------------------
// Moving targets

double COverlayMovingTarget::DrawUnit(const QPainter* painter) {
    return painter && painter->device() ? std::max(0.5, painter->device()->logicalDpiX() / 96.0) : 1.0;
}

void COverlayMovingTarget::MapMovingTarget(CMapping& mapping, const CPolynomialProjection& projection,
                                           bool showVector, double minutes, double ringRadius) const {
    mapping.clear();
    if (!HasPosition()) return;
    auto project = [&](double la, double lo) {
        FPoint p;
        if (!projection.latlong_to_xy(la, lo, p)) return DblPoint(0, 0);
        return DblPoint(p.x, p.y);
    };
    auto along = [&](double east, double north) {
        double la = 0, lo = 0;
        grid.FromGrid(east, north, la, lo);
        return project(la, lo);
    };
    mapping.points.reserve(kMappedPoints);
    mapping.points.push_back(project(lat, lon));
    DblPoint vectorEnd(0, 0);
    const float spd = get_speed();
    if (spd > 0.2f && showVector && best_mode != DIR_NONE && std::isfinite(minutes)) {
        const double metres = double(spd) * minutes * kMetresPerKnotMinute;
        vectorEnd = along(best_vec.x * metres, best_vec.y * metres);
    }
    mapping.points.push_back(vectorEnd);
    mapping.points.push_back(along(std::isfinite(ringRadius) ? ringRadius : 0, 0));
    mapping.points.push_back(along(compass.vec.x * kHeadingPointMetres, compass.vec.y * kHeadingPointMetres));
    mapping.count = 1;
    mapping.set_bounds();
}

bool COverlayMovingTarget::IsPlaceholder(const CMapping& mapping, int point) {
    const DblPoint& p = mapping.points[size_t(point)];
    return p.x == 0 && p.y == 0;
}

void COverlayMovingTarget::DrawVector(QPainter* painter, const CMapping& mapping, const QColor& color,
                                      double unit) {
    if (IsPlaceholder(mapping, kVectorEndPoint)) return;
    const QPointF centre(mapping.screen[kPositionPoint].x, mapping.screen[kPositionPoint].y);
    const QPointF end(mapping.screen[kVectorEndPoint].x, mapping.screen[kVectorEndPoint].y);
    // Square caps and separate straight lines keep the painter on its quick path for wide
    // antialiased lines; round caps and joins go through the general stroker, many times
    // slower once there are a few thousand targets on the chart.
    QPen pen(color, 2.0 * unit);
    pen.setCapStyle(Qt::SquareCap);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    const QPointF d = end - centre;
    const double len = std::hypot(d.x(), d.y());
    if (len > 0) {
        const QPointF n = d / len;
        const QPointF perp(-n.y(), n.x());
        const double headLen = 10.0 * unit;
        const double headHalf = 5.0 * unit;
        const QLineF lines[3] = {QLineF(centre, end), QLineF(end - n * headLen + perp * headHalf, end),
                                 QLineF(end - n * headLen - perp * headHalf, end)};
        painter->drawLines(lines, 3);
    } else {
        painter->drawLine(centre, end);
    }
}

void COverlayMovingTarget::DrawRangeRings(QPainter* painter, const CMapping& mapping, const QColor& color,
                                          int rings, double unit) {
    if (rings <= 0 || IsPlaceholder(mapping, kRingPoint)) return;
    const QPointF centre(mapping.screen[kPositionPoint].x, mapping.screen[kPositionPoint].y);
    const double r = std::hypot(mapping.screen[kRingPoint].x - centre.x(), mapping.screen[kRingPoint].y - centre.y());
    // Rings wider than any screen only cost time.
    rings = std::min(rings, 100);
    painter->setPen(QPen(color, 1.0 * unit));
    painter->setBrush(Qt::NoBrush);
    for (int k = 1; k <= rings && r * k < 1e5; ++k) painter->drawEllipse(centre, r * k, r * k);
}

bool COverlayMovingTarget::HeadingOnScreen(const CMapping& mapping, double& dx, double& dy) {
    if (IsPlaceholder(mapping, kHeadingPoint) || IsPlaceholder(mapping, kPositionPoint)) return false;
    dx = mapping.screen[kHeadingPoint].x - mapping.screen[kPositionPoint].x;
    dy = mapping.screen[kHeadingPoint].y - mapping.screen[kPositionPoint].y;
    const double len = std::hypot(dx, dy);
    if (!(len > 0) || !std::isfinite(len)) return false;
    dx /= len;
    dy /= len;
    return true;
}

// ---------------------------------------------------------------------------------------
// Settings

void COverlayGPSPosition::Persistant::DeclareData() {
    Declare("vector_scale", vector_scale);
    Declare("gc_color2", gc_color2);
    Declare("averaging_time", averaging_time);
    Declare("show_heading", show_heading);
    Declare("show_vector", show_vector);
    Declare("record_in_background_mode", record_in_background_mode);
    Declare("use_averaged_direction", use_averaged_direction);
    Declare("screen_keep_alive", screen_keep_alive);
    Declare("showOnLockScreen", showOnLockScreen);
    Declare("compass_damping_time_const", compass_damping_time_const);
    Declare("range_ring_radius", range_ring_radius);
    Declare("num_range_rings", num_range_rings);
    std::string cal = calibration.ToString();
    Declare("compass_calibration", cal);
    if (!IsSaving()) calibration.FromString(cal);
}

COverlayGPSPosition::Persistant COverlayGPSPosition::settings;
COverlayGPSPosition COverlayGPSPosition::theLatestPosition;
std::unique_ptr<CFeedRMC_to_GPSPosition> CFeedRMC_to_GPSPosition::s_instance;

// ---------------------------------------------------------------------------------------
// The position

COverlayGPSPosition::COverlayGPSPosition()
    : COverlayMovingTarget(LAYER_GPS_POSITION, OBJECT_GPS_POSITION), CHeartbeat::Counter(kStaleTicks) {}

COverlayGPSPosition::~COverlayGPSPosition() {
    // Listeners still see the whole object here.
    Dispatch(UPDATE_DESTROYED);
}

void COverlayGPSPosition::set_latlon(double newLat, double newLon) {
    SetLatLon(newLat, newLon);
    // Terrain heights need the elevation service, which this build does not have; the
    // terrain mode is not offered, and a stored one shows no altitude.
    if (mode == ALT_TERRAIN) altitude = kNoAltitude;
}

void COverlayGPSPosition::set_course(float newCourse, float newSpeed) {
    if (!std::isfinite(newCourse)) newCourse = 0;
    if (!std::isfinite(newSpeed) || newSpeed < 0) newSpeed = 0;
    SetCourseSpeed(newCourse, newSpeed);
}

void COverlayGPSPosition::set_heading(float heading, double time) {
    CompassDamping::default_time_const = settings.compass_damping_time_const;
    SetCompassHeading(heading, time);
    DispatchHeadingUpdate();
}

void COverlayGPSPosition::SetColor(const GraphicsColor& color) {
    settings.gc_color2 = color;
    settings.SetChanged();
    // The track being recorded is drawn in the boat's colour.
    if (g_track_manager) g_track_manager->SetPositionColor(color);
    Dispatch(UPDATE_MOVED);
}

void COverlayGPSPosition::DispatchPositionUpdate() {
    Restart();
    use_averaged_direction = settings.use_averaged_direction;
    if (fix_status != FIX_NONE) {
        if (fix_time >= last_accepted_time + 0.9) {
            last_accepted_time = fix_time;
            if (!COverlayObject::EditingToolActive()) CDefaultUnits::u.SetBearingLocation(lat, lon, fix_time);
            if (fix_time > next_averaging_time && hdop < kMaxHdopForAveraging) {
                GetAverageSpeed();
                UpdateOdometer();
            }
        } else if (fix_time < last_accepted_time) {
            // The clock went backwards (a replay rewound, or a receiver's own time took
            // over from the local clock a GGA-only start used): the history belongs to
            // another time line, and averaging would wait for it to come round again.
            reset_history();
        }
        evaluate_best_direction();
    } else {
        invalid_direction();
    }
    Listener<CDataGPSPosition>::Publish(*this);
    Listener<CDataSpeedDirection>::Publish(*this);
    Dispatch(UPDATE_CHANGED);
}

void COverlayGPSPosition::DispatchHeadingUpdate() {
    use_averaged_direction = settings.use_averaged_direction;
    evaluate_best_direction();
    Listener<CDataSpeedDirection>::Publish(*this);
    Dispatch(UPDATE_MOVED);
}

void COverlayGPSPosition::reset_history() {
    last_accepted_time = 0;
    next_averaging_time = 0;
    history_head = 0;
    history_count = 0;
    leg_time = 0;
    odo_leg = 0;
    speed_range.Reset();
    // Averages of the old history would stand until the new one is long enough.
    avg_speed = 0;
    avg_direction = kNoDirection;
    avg_vec.Clear();
}

void COverlayGPSPosition::OnUpdate(CDataSourceChange& change) {
    switch (change.kind) {
        case CDataSourceChange::kSimulationStarted:
            if (!m_simulating) {
                m_odoBeforeSimulation = odo_total;
                m_simulating = true;
            }
            reset_history();
            return;
        case CDataSourceChange::kSimulationRewound:
            reset_history();
            return;
        case CDataSourceChange::kClosed:
            break;
    }
    if (m_simulating) {
        odo_total = m_odoBeforeSimulation;
        m_simulating = false;
    } else if (leg_time > 0) {
        odo_total += odo_leg;
    }
    reset_history();
    position_source = nullptr;
    fix_status = FIX_NONE;
    altitude = kNoAltitude;
    last_sample_time = 0;
    invalid_direction();
    ClearSatellites();
    sats_in_use = 0;
    sats_in_view = 0;
    Listener<CDataGPSPosition>::Publish(*this);
    Listener<CDataSpeedDirection>::Publish(*this);
    Listener<CDataGPSSatelliteSignals>::Publish(*this);
    Dispatch(UPDATE_MOVED);
}

void COverlayGPSPosition::GetAverageSpeed() {
    const double A = settings.averaging_time;
    next_averaging_time = fix_time + A / 10.0;
    const double oldestAllowed = fix_time - 1.5 * A;
    while (history_count > 0) {
        const int oldest = (history_head - history_count + kHistorySize) % kHistorySize;
        if (history[oldest].time >= oldestAllowed) break;
        --history_count;
    }
    if (history_count > 0) {
        const Sample& s = history[(history_head - history_count + kHistorySize) % kHistorySize];
        const double hours = (fix_time - s.time) / 3600.0;
        if (hours > 0) {
            double x = 0, y = 0;
            grid.ToGrid(s.lat, s.lon, x, y);
            const double vx = x / -kMetresPerNm / hours;
            const double vy = y / -kMetresPerNm / hours;
            const double v = std::hypot(vx, vy);
            avg_speed = float(v);
            if (v < 200.0) speed_range.Add(avg_speed, fix_time);
            if (v > 0.1) {
                avg_vec.x = float(vx / v);
                avg_vec.y = float(vy / v);
                double dir = std::atan2(vx, vy) / kDegToRad;
                if (dir < 0) dir += 360.0;
                avg_direction = float(dir);
            } else {
                avg_direction = kNoDirection;
                avg_vec.Clear();
            }
        }
    }
    history[history_head] = Sample{lat, lon, fix_time};
    history_head = (history_head + 1) % kHistorySize;
    history_count = std::min(history_count + 1, kHistorySize);
}

void COverlayGPSPosition::UpdateOdometer() {
    if (leg_time == 0) {
        leg_lat = lat;
        leg_lon = lon;
        leg_time = fix_time;
        odo_leg = 0;
        return;
    }
    odo_leg = grid.Distance(leg_lat, leg_lon, lat, lon);
    const double elapsed = fix_time - leg_time;
    if ((elapsed > 60.0 && avg_speed > 1.0f) || (elapsed > 10.0 && hasChangedCourseSpd())) {
        odo_total += odo_leg;
        odo_leg = 0;
        leg_lat = lat;
        leg_lon = lon;
        leg_time = fix_time;
    }
}

void COverlayGPSPosition::OnHeartbeat() {
    Stale();
}

void COverlayGPSPosition::Stale() {
    if (fix_status == FIX_NONE) return;
    fix_status = FIX_NONE;
    altitude = kNoAltitude;
    last_sample_time = 0;
    invalid_direction();
    Listener<CDataGPSPosition>::Publish(*this);
    Dispatch(UPDATE_MOVED);
}

// ---------------------------------------------------------------------------------------
// Drawing

void COverlayGPSPosition::Map(CMapping& mapping, const CPolynomialProjection& projection) const {
    MapMovingTarget(mapping, projection, settings.show_vector, settings.vector_scale, settings.range_ring_radius);
    mapping.kind = CMapping::HIT_NEVER;
}

const QImage& COverlayGPSPosition::Icon(int size, bool fix) const {
    const GraphicsColor c = fix ? settings.gc_color2 : GraphicsColor{128, 128, 128, 255};
    const uint32_t key = (uint32_t(c.a) << 24) | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b;
    if (!m_icon.isNull() && m_iconSize == size && m_iconKey == key) return m_icon;
    m_iconSize = size;
    m_iconKey = key;
    QImageReader reader(QStringLiteral(":/gps_icon1.svg"));
    reader.setScaledSize(QSize(size, size));
    QImage img = reader.read();
    if (img.isNull()) {
        // Without the icon resource (tools, tests) a plain ring stands in.
        img = QImage(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, std::max(2.0, size / 8.0)));
        p.setBrush(Qt::NoBrush);
        const double m = size / 8.0;
        p.drawEllipse(QRectF(m, m, size - 2 * m, size - 2 * m));
        p.setBrush(Qt::black);
        p.drawEllipse(QRectF(size * 0.4, size * 0.4, size * 0.2, size * 0.2));
    }
    img = img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    {
        // Keep the drawing's shape and take the colour: fill through its alpha.
        QPainter p(&img);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(img.rect(), QColor(c.r, c.g, c.b, c.a));
    }
    m_icon = img;
    return m_icon;
}

void COverlayGPSPosition::Draw(QPainter* painter, CMapping& mapping) const {
    if (!painter || mapping.screen.size() < kMappedPoints || mapping.points.size() < kMappedPoints) return;
    const double u = DrawUnit(painter);
    const bool fix = HasFix();
    const GraphicsColor gc = fix ? settings.gc_color2 : GraphicsColor{128, 128, 128, 255};
    const QColor color(gc.r, gc.g, gc.b, gc.a);
    const QPointF centre(mapping.screen[kPositionPoint].x, mapping.screen[kPositionPoint].y);
    const double half = kIconHalfSize * u;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    double dx = 0, dy = 0;
    if (best_mode == DIR_COMPASS && settings.show_heading && HeadingOnScreen(mapping, dx, dy)) {
        const QPointF base = centre + QPointF(dx, dy) * (0.8 * half);
        const QPointF apex = base + QPointF(dx, dy) * (kTriangleLength * u);
        const QPointF side(-dy * kTriangleHalfBase * u, dx * kTriangleHalfBase * u);
        QPainterPath tri;
        tri.moveTo(apex);
        tri.lineTo(base + side);
        tri.lineTo(base - side);
        tri.closeSubpath();
        painter->fillPath(tri, color);
    } else {
        DrawVector(painter, mapping, color, u);
    }
    DrawRangeRings(painter, mapping, color, settings.num_range_rings, u);

    const int size = std::max(4, int(std::lround(2 * half)));
    const QImage& icon = Icon(size, fix);
    painter->drawImage(QPointF(centre.x() - icon.width() / 2.0, centre.y() - icon.height() / 2.0), icon);
    painter->restore();
}

// ---------------------------------------------------------------------------------------
// Storage

bool COverlayGPSPosition::Serialize(IOStream& s) {
    // Read into copies first so that a damaged file leaves the position as it was.
    double sLat = lat, sLon = lon, sTime = fix_time, sOdo = m_simulating ? m_odoBeforeSimulation : odo_total;
    CDataAltitude alt = *this;
    Section sec(s);
    bool ok = sec.declare_value(sLat);
    ok = sec.declare_value(sLon) && ok;
    ok = sec.declare_value(sTime) && ok;
    {
        Section altSec(s);
        ok = alt.DeclareAltitude(altSec, HasBarometer()) && ok;
    }
    ok = sec.declare_value(sOdo) && ok;
    if (!ok || s.HasFailed()) return false;
    if (s.IsReading()) {
        const bool sane = std::isfinite(sLat) && std::isfinite(sLon) && std::isfinite(sTime) && std::isfinite(sOdo) &&
                          std::isfinite(alt.gps_time_const) && std::isfinite(alt.filtered_offset) &&
                          std::isfinite(alt.user_offset) && std::isfinite(alt.ref_pressure) &&
                          ((std::fabs(sLat) <= 90.0 && std::fabs(sLon) <= 360.0) || sLat == kNoLatLon);
        if (!sane) return false;
        if (sLat != kNoLatLon) set_latlon(sLat, sLon);
        fix_time = sTime;
        odo_total = sOdo >= 0 ? sOdo : 0;
        m_odoBeforeSimulation = odo_total;
        static_cast<CDataAltitude&>(*this) = alt;
        // An old position is no fix.
        fix_status = FIX_NONE;
        altitude = kNoAltitude;
    }
    return true;
}

bool LoadLatestPosition(const std::string& appDir) {
    const std::string path = appDir + COverlayGPSPosition::kFileName;
    if (!FileExists(path)) return true;
    return COverlayGPSPosition::theLatestPosition.ReadFile(path, {}, int(COverlayGPSPosition::kFileMagic));
}

bool SaveLatestPosition(const std::string& appDir) {
    const std::string path = appDir + COverlayGPSPosition::kFileName;
    return COverlayGPSPosition::theLatestPosition.WriteFile(path, {}, int(COverlayGPSPosition::kFileMagic));
}

// ---------------------------------------------------------------------------------------
// The feed

CFeedRMC_to_GPSPosition::CFeedRMC_to_GPSPosition(COverlayGPSPosition& target) : m_pos(target) {}

void CFeedRMC_to_GPSPosition::Start() {
    if (!s_instance) s_instance = std::make_unique<CFeedRMC_to_GPSPosition>();
}

void CFeedRMC_to_GPSPosition::Stop() {
    s_instance.reset();
}

bool CFeedRMC_to_GPSPosition::check_talker(char talker, char& accepted) const {
    if (talker == accepted) return true;
    if (talker == 'N') {
        accepted = 'N';
        return true;
    }
    if (m_pos.HasFix()) {
        if (talker == 'P') {
            if (accepted == 'N') return false;
            accepted = 'P';
            return true;
        }
        if (accepted == 'N' || accepted == 'P') return false;
    }
    accepted = talker;
    return true;
}

void CFeedRMC_to_GPSPosition::OnUpdate(CNMEA_GPS::RMC& rmc) {
    if (!check_talker(rmc.talker, rmc_talker)) return;
    m_pos.fix_time = rmc.time;
    if (rmc.latitude == 0 && rmc.longitude == 0) return;
    if (!std::isfinite(rmc.latitude) || !std::isfinite(rmc.longitude) || std::fabs(rmc.latitude) > 90.0 ||
        std::fabs(rmc.longitude) > 180.0)
        return;
    m_pos.position_source = this;
    m_pos.set_latlon(rmc.latitude, rmc.longitude);
    m_pos.set_course(rmc.course, rmc.speed);
    if (rmc.valid) {
        if (IsSimulated(rmc))
            m_pos.fix_status = FIX_SIMULATED;
        else if (m_pos.fix_status == FIX_NONE || m_pos.fix_status == FIX_SIMULATED)
            m_pos.fix_status = FIX_GPS;
    } else {
        m_pos.fix_status = FIX_NONE;
    }
    m_pos.DispatchPositionUpdate();
    rmc_seen = true;
}

void CFeedRMC_to_GPSPosition::OnUpdate(CNMEA_GPS::GGA& gga) {
    const double now = DispatchTime<CNMEA_GPS::GGA>();
    if (std::isfinite(gga.altitude)) m_pos.CDataAltitude::Set(gga.altitude, GetBarometricPressure(), now);
    m_pos.hdop = gga.hdop;
    m_pos.sats_in_use = gga.satellites;
    int status = FixStatusFromGGAQuality(gga.quality, m_pos.fix_status);
    if (status != FIX_NONE && IsSimulated(gga)) status = FIX_SIMULATED;
    m_pos.fix_status = status;
    if (!rmc_seen && !(gga.latitude == 0 && gga.longitude == 0) && std::isfinite(gga.latitude) &&
        std::isfinite(gga.longitude) && std::fabs(gga.latitude) <= 90.0 && std::fabs(gga.longitude) <= 180.0) {
        m_pos.position_source = this;
        m_pos.set_latlon(gga.latitude, gga.longitude);
        m_pos.fix_time = now;
        m_pos.DispatchPositionUpdate();
    }
    gga_seen = true;
}

void CFeedRMC_to_GPSPosition::OnUpdate(CNMEA_GPS::VTG& vtg) {
    if (!rmc_seen) m_pos.set_course(vtg.course, vtg.speed);
}

void CFeedRMC_to_GPSPosition::OnUpdate(CNMEA_GPS::GSA& gsa) {
    int inUse = 0;
    for (int i = 0; i < 12; ++i) {
        gsa_satellites[i] = gsa.satellites[i];
        if (gsa.satellites[i] != 0) ++inUse;
    }
    m_pos.sats_in_use = inUse;
}

void CFeedRMC_to_GPSPosition::OnUpdate(CNMEA_GPS::GSV& gsv) {
    if (!check_talker(gsv.talker, gsv_talker)) return;
    m_pos.sats_in_view = std::max(0, gsv.in_view);
    if (gsv.message_number == 1) m_pos.ClearSatellites();
    if (gsv.message_number >= 1) {
        for (int j = 0; j < 4; ++j) {
            const auto& in = gsv.satellites[j];
            const long index = 4L * (gsv.message_number - 1) + j;
            if (in.prn == 0 || index >= CDataGPSSatelliteSignals::kMaxSatellites) continue;
            auto& out = m_pos.satellites[size_t(index)];
            out.number = ClampByte(in.prn);
            out.signal = ClampByte(in.snr);
            out.elevation = ClampByte(in.elevation);
            out.azimuth = uint16_t(std::clamp(in.azimuth, 0, 65535));
            out.in_use = in.prn > 0 && std::find(std::begin(gsa_satellites), std::end(gsa_satellites),
                                                 ClampByte(in.prn)) != std::end(gsa_satellites);
        }
    }
    if (gsv.message_number == gsv.messages) Listener<CDataGPSSatelliteSignals>::Publish(m_pos);
}

void CFeedRMC_to_GPSPosition::OnUpdate(CDataSourceChange& change) {
    if (change.kind == CDataSourceChange::kSimulationRewound) return;  // the same input again
    rmc_talker = 0;
    gsv_talker = 0;
    rmc_seen = false;
    gga_seen = false;
    std::fill(std::begin(gsa_satellites), std::end(gsa_satellites), uint8_t(0));
}

void CFeedRMC_to_GPSPosition::OnUpdate(CNMEA_Instruments::HDG& hdg) {
    if (!std::isfinite(hdg.heading) || hdg.heading >= CDataSpeedDirection::kNoneThreshold) {
        m_pos.set_heading(CDataSpeedDirection::kNoDirection, DispatchTime<CNMEA_Instruments::HDG>());
        return;
    }
    // The user's table corrects the sensor for its deviation; the variation then turns the
    // magnetic heading into a true one.
    const float magnetic = COverlayGPSPosition::settings.calibration.Adjust(hdg.heading);
    const float variation = CDefaultUnits::u.magnetic_variation;
    // 999 until a variation has been computed: use the sensor heading as it is.
    const float v = (std::isfinite(variation) && std::fabs(variation) < 900.0f) ? variation : 0.0f;
    m_pos.set_heading(magnetic + v, DispatchTime<CNMEA_Instruments::HDG>());
}
