// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Positions from the platform's location service (Qt Positioning), written straight into
// the GPS position object; satellites in use fill the satellite table.

#include <QGeoPositionInfo>
#include <QGeoPositionInfoSource>
#include <QGeoSatelliteInfo>
#include <QObject>

#include <QList>

#include "navdata/dataconnection.h"

class QGeoSatelliteInfoSource;
class CDataGPSPosition;
class CDataGPSSatelliteSignals;

class CLocationServiceConnection : public QObject, public CDataConnection {
    Q_OBJECT
public:
    static constexpr double kKnotsPerMetrePerSecond = 1.94384449;
    static constexpr double kWorstAccuracy = 30.0;  // metres; worse is no fix
    static constexpr double kMaxGap = 5.0;          // seconds between fixes before the fix counts as lost
    static constexpr int kSatelliteIntervalMs = 10000;

    CLocationServiceConnection();
    ~CLocationServiceConnection() override;

    bool Open() override;
    void Close() override;
    void ContinueWhilePaused() override;
    void resumeFromBackground() override;

    // Writes one platform update into the position (everything but publishing it).
    // Returns false when the coordinate is invalid and the position was left alone
    // apart from its status.
    static bool ApplyPositionInfo(const QGeoPositionInfo& info, CDataGPSPosition& position, double pressure);
    // Fills the satellite table from the satellites in use.
    static void ApplySatellitesInUse(const QList<QGeoSatelliteInfo>& satellites, CDataGPSSatelliteSignals& table);
    // The status text of a position source error; empty for "no error".
    static std::string ErrorText(QGeoPositionInfoSource::Error error);

    // Handles a platform update as if the source had sent it.
    void PositionUpdated(const QGeoPositionInfo& info);

private:
    void onError(QGeoPositionInfoSource::Error error);
    void onSatellitesInUse(const QList<QGeoSatelliteInfo>& satellites);
    void onSatellitesInView(const QList<QGeoSatelliteInfo>& satellites);

    QGeoPositionInfoSource* m_source = nullptr;      // owned through QObject parenthood
    QGeoSatelliteInfoSource* m_satellites = nullptr;  // likewise
    bool m_showingStatus = false;
};
