// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The "GPS Position" settings page: how the boat is drawn and how its heading, averages
// and altitude are worked out. Every change is applied and saved at once. GUI thread.

#include <QColor>
#include <QObject>
#include <QStringList>
#include <QVariantList>

class CDlg_gps_position_settings : public QObject {
    Q_OBJECT
    Q_PROPERTY(double vectorMinutes READ vectorMinutes WRITE setVectorMinutes NOTIFY settingsChanged)
    Q_PROPERTY(bool showVector READ showVector WRITE setShowVector NOTIFY settingsChanged)
    Q_PROPERTY(bool showHeading READ showHeading WRITE setShowHeading NOTIFY settingsChanged)
    Q_PROPERTY(double averagingSeconds READ averagingSeconds WRITE setAveragingSeconds NOTIFY settingsChanged)
    Q_PROPERTY(int rangeRings READ rangeRings WRITE setRangeRings NOTIFY settingsChanged)
    Q_PROPERTY(QStringList ringRadiusChoices READ ringRadiusChoices NOTIFY settingsChanged)
    Q_PROPERTY(int ringRadiusIndex READ ringRadiusIndex WRITE setRingRadiusIndex NOTIFY settingsChanged)
    Q_PROPERTY(double headingDamping READ headingDamping WRITE setHeadingDamping NOTIFY settingsChanged)
    Q_PROPERTY(QVariantList compassCorrections READ compassCorrections NOTIFY settingsChanged)
    Q_PROPERTY(QColor iconColour READ iconColour WRITE setIconColour NOTIFY settingsChanged)
    Q_PROPERTY(bool keepScreenOn READ keepScreenOn WRITE setKeepScreenOn NOTIFY settingsChanged)
    Q_PROPERTY(QStringList altitudeChoices READ altitudeChoices CONSTANT)
    Q_PROPERTY(int altitudeIndex READ altitudeIndex WRITE setAltitudeIndex NOTIFY settingsChanged)

public:
    static constexpr const char* kPageName = "GPS Position";
    // Ring spacings offered, in metres (shown in the user's units).
    static const std::vector<double>& RingRadii();

    explicit CDlg_gps_position_settings(QObject* parent = nullptr);

    double vectorMinutes() const;
    void setVectorMinutes(double minutes);
    bool showVector() const;
    void setShowVector(bool on);
    bool showHeading() const;
    void setShowHeading(bool on);
    double averagingSeconds() const;
    void setAveragingSeconds(double seconds);
    int rangeRings() const;
    void setRangeRings(int count);
    QStringList ringRadiusChoices() const;
    int ringRadiusIndex() const;
    void setRingRadiusIndex(int index);
    double headingDamping() const;
    void setHeadingDamping(double seconds);
    QVariantList compassCorrections() const;
    // Degrees added to the compass heading at heading index*30; clamped to +-45.
    Q_INVOKABLE void setCompassCorrection(int index, double degrees);
    QColor iconColour() const;
    void setIconColour(const QColor& colour);
    bool keepScreenOn() const;
    void setKeepScreenOn(bool on);
    // Only the altitude sources this device can give: barometric ones need a barometer,
    // terrain heights need the elevation service.
    QStringList altitudeChoices() const;
    int altitudeIndex() const;
    void setAltitudeIndex(int index);

    // Applies "keep the screen on" (at start and whenever it changes).
    static void ApplyKeepScreenOn();

Q_SIGNALS:
    void settingsChanged();

private:
    std::vector<int> AltitudeModes() const;
    void Saved();
};
