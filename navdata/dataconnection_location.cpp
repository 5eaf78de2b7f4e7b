// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/dataconnection_location.h"

#include <QGeoSatelliteInfoSource>

#include <algorithm>

#include "navdata/gpsposition.h"
#include "navdata/platform_sensors.h"

CLocationServiceConnection::CLocationServiceConnection() = default;

CLocationServiceConnection::~CLocationServiceConnection() { CLocationServiceConnection::Close(); }

bool CLocationServiceConnection::Open() {
    m_source = QGeoPositionInfoSource::createDefaultSource(this);
    if (!m_source) {
        SetStatus("Unable to connect to position info source");
        return false;
    }
    connect(m_source, &QGeoPositionInfoSource::positionUpdated, this, &CLocationServiceConnection::PositionUpdated);
    connect(m_source, &QGeoPositionInfoSource::errorOccurred, this, &CLocationServiceConnection::onError);
    const QGeoPositionInfo last = m_source->lastKnownPosition();
    if (last.isValid()) PositionUpdated(last);
    if (!(m_source->supportedPositioningMethods() & QGeoPositionInfoSource::SatellitePositioningMethods)) {
        SetStatus("Location service may not be using Satellite Positioning");
        m_showingStatus = true;
    }
    notOpen = true;  // until the first update arrives
    m_source->startUpdates();

    m_satellites = QGeoSatelliteInfoSource::createDefaultSource(this);
    if (m_satellites) {
        m_satellites->setUpdateInterval(kSatelliteIntervalMs);
        connect(m_satellites, &QGeoSatelliteInfoSource::satellitesInUseUpdated, this,
                &CLocationServiceConnection::onSatellitesInUse);
        connect(m_satellites, &QGeoSatelliteInfoSource::satellitesInViewUpdated, this,
                &CLocationServiceConnection::onSatellitesInView);
        m_satellites->startUpdates();
    }
    return true;
}

void CLocationServiceConnection::Close() {
    if (m_source) {
        m_source->disconnect(this);
        m_source->stopUpdates();
        m_source->deleteLater();
        m_source = nullptr;
    }
    if (m_satellites) {
        m_satellites->disconnect(this);
        m_satellites->stopUpdates();
        m_satellites->deleteLater();
        m_satellites = nullptr;
    }
}

void CLocationServiceConnection::ContinueWhilePaused() {
    const int mode = COverlayGPSPosition::theLatestPosition.mode;
    if (mode != CDataAltitude::ALT_BAROMETRIC && mode != CDataAltitude::ALT_BLEND) StopBarometer();
}

void CLocationServiceConnection::resumeFromBackground() {
    if (m_source) m_source->startUpdates();
}

bool CLocationServiceConnection::ApplyPositionInfo(const QGeoPositionInfo& info, CDataGPSPosition& p,
                                                   double pressure) {
    const double previousFixTime = p.fix_time;
    p.fix_status = FIX_NONE;
    const QGeoCoordinate c = info.coordinate();
    if (!c.isValid()) return false;

    p.SetLatLon(c.latitude(), c.longitude());
    p.fix_time = static_cast<double>(info.timestamp().toMSecsSinceEpoch()) / 1000.0;
    if (c.type() == QGeoCoordinate::Coordinate3D) {
        p.Set(c.altitude(), pressure, p.fix_time);
        p.fix_status = FIX_GPS;
    }
    if (info.hasAttribute(QGeoPositionInfo::GroundSpeed)) {
        const double speed = info.attribute(QGeoPositionInfo::GroundSpeed) * kKnotsPerMetrePerSecond;
        if (info.hasAttribute(QGeoPositionInfo::Direction)) {
            p.SetCourseSpeed(static_cast<float>(info.attribute(QGeoPositionInfo::Direction)),
                             static_cast<float>(speed));
        } else {
            p.SetCourseSpeed(0, 0);
        }
        p.fix_status = FIX_GPS;
    } else {
        p.SetCourseSpeed(0, 0);
    }
    if (info.hasAttribute(QGeoPositionInfo::HorizontalAccuracy)) {
        const double accuracy = info.attribute(QGeoPositionInfo::HorizontalAccuracy);
        p.hdop = static_cast<float>(accuracy);
        if (accuracy > kWorstAccuracy) p.fix_status = FIX_NONE;
    } else {
        p.hdop = 0;
    }
    if (p.fix_time - previousFixTime > kMaxGap) {
        p.fix_status = FIX_NONE;
        p.altitude = CDataAltitude::kNoAltitude;
    }
    return true;
}

void CLocationServiceConnection::PositionUpdated(const QGeoPositionInfo& info) {
    COverlayGPSPosition& p = COverlayGPSPosition::theLatestPosition;
    if (ApplyPositionInfo(info, p, GetBarometricPressure())) {
        notOpen = false;
        if (m_showingStatus) {
            m_showingStatus = false;
            statusMessage.clear();
            ClearStatusMessage();
        }
        p.position_source = static_cast<const CDataConnection*>(this);
    }
    p.DispatchPositionUpdate();
}

void CLocationServiceConnection::ApplySatellitesInUse(const QList<QGeoSatelliteInfo>& satellites,
                                                      CDataGPSSatelliteSignals& table) {
    table.sats_in_use = static_cast<int>(satellites.size());
    table.ClearSatellites();
    const int n = std::min<int>(static_cast<int>(satellites.size()), CDataGPSSatelliteSignals::kMaxSatellites);
    auto byte = [](double v) { return static_cast<uint8_t>(std::clamp(v, 0.0, 255.0)); };
    for (int i = 0; i < n; ++i) {
        const QGeoSatelliteInfo& s = satellites[i];
        auto& e = table.satellites[static_cast<size_t>(i)];
        e.number = byte(s.satelliteIdentifier());
        e.signal = byte(s.signalStrength());
        e.in_use = true;
        if (s.hasAttribute(QGeoSatelliteInfo::Elevation)) e.elevation = byte(s.attribute(QGeoSatelliteInfo::Elevation));
        if (s.hasAttribute(QGeoSatelliteInfo::Azimuth))
            e.azimuth = static_cast<uint16_t>(std::clamp(s.attribute(QGeoSatelliteInfo::Azimuth), 0.0, 65535.0));
    }
}

void CLocationServiceConnection::onSatellitesInUse(const QList<QGeoSatelliteInfo>& satellites) {
    COverlayGPSPosition& p = COverlayGPSPosition::theLatestPosition;
    ApplySatellitesInUse(satellites, p);
    Listener<CDataGPSSatelliteSignals>::Publish(p);
}

void CLocationServiceConnection::onSatellitesInView(const QList<QGeoSatelliteInfo>& satellites) {
    COverlayGPSPosition::theLatestPosition.sats_in_view = static_cast<int>(satellites.size());
}

std::string CLocationServiceConnection::ErrorText(QGeoPositionInfoSource::Error error) {
    switch (error) {
        case QGeoPositionInfoSource::AccessError:
            return "Cannot access position info due to Location Permission settings";
        case QGeoPositionInfoSource::ClosedError:
            return "The Location service was turned off";
        case QGeoPositionInfoSource::UnknownSourceError:
            return "The location service encountered an unknown error";
        case QGeoPositionInfoSource::UpdateTimeoutError:
            return "The location service is unable to provide regular updates";
        case QGeoPositionInfoSource::NoError:
            break;
    }
    return {};
}

void CLocationServiceConnection::onError(QGeoPositionInfoSource::Error error) {
    SetStatus(ErrorText(error));
    m_showingStatus = !statusMessage.empty();
    SetStatusMessage(statusMessage);
}
