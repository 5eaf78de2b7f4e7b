// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Models behind the AIS pages: the "AIS Settings" page and the list of targets. Qt Core
// only; the pages bind to the properties and call the invokables. GUI thread.

#include <QAbstractListModel>
#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <vector>

#include "core/pubsub.h"

class CAISTarget;
class CAISTargetManager;
class CDataGPSPosition;

// The "AIS Settings" page. Every change is applied and saved at once. Distances and
// speeds are offered as choices in the user's units.
class CDlg_AIS_settings : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList alarmDistanceChoices READ alarmDistanceChoices CONSTANT)
    Q_PROPERTY(int alarmDistanceIndex READ alarmDistanceIndex WRITE setAlarmDistanceIndex NOTIFY settingsChanged)
    Q_PROPERTY(QStringList classBDistanceChoices READ classBDistanceChoices CONSTANT)
    Q_PROPERTY(int classBDistanceIndex READ classBDistanceIndex WRITE setClassBDistanceIndex NOTIFY settingsChanged)
    Q_PROPERTY(int alarmMinutes READ alarmMinutes WRITE setAlarmMinutes NOTIFY settingsChanged)
    Q_PROPERTY(QStringList closingSpeedChoices READ closingSpeedChoices CONSTANT)
    Q_PROPERTY(int closingSpeedIndex READ closingSpeedIndex WRITE setClosingSpeedIndex NOTIFY settingsChanged)
    Q_PROPERTY(bool beep READ beep WRITE setBeep NOTIFY settingsChanged)
    Q_PROPERTY(bool rangeRing READ rangeRing WRITE setRangeRing NOTIFY settingsChanged)
    Q_PROPERTY(bool recordTracks READ recordTracks WRITE setRecordTracks NOTIFY settingsChanged)

public:
    static constexpr const char* kPageName = "AIS Settings";
    static constexpr int kMinAlarmMinutes = 1;
    static constexpr int kMaxAlarmMinutes = 60;

    // The values the choices stand for: metres, metres, knots.
    static const std::vector<double>& AlarmDistances();
    static const std::vector<double>& ClassBDistances();
    static const std::vector<double>& ClosingSpeeds();
    // Whether the page is offered: once a target has been seen.
    static bool Available();

    explicit CDlg_AIS_settings(QObject* parent = nullptr);

    QStringList alarmDistanceChoices() const;
    int alarmDistanceIndex() const;
    void setAlarmDistanceIndex(int index);
    QStringList classBDistanceChoices() const;
    int classBDistanceIndex() const;
    void setClassBDistanceIndex(int index);
    int alarmMinutes() const;
    void setAlarmMinutes(int minutes);
    QStringList closingSpeedChoices() const;
    int closingSpeedIndex() const;
    void setClosingSpeedIndex(int index);
    bool beep() const;
    void setBeep(bool on);
    bool rangeRing() const;
    void setRangeRing(bool on);
    bool recordTracks() const;
    void setRecordTracks(bool on);

Q_SIGNALS:
    void settingsChanged();

private:
    void Saved();
};

// The targets in range, most dangerous first: alerting targets, then those approaching
// within twice the alarm limits (soonest first), then the rest by range. Rows follow the
// manager, at most once a second. Activating a row selects the target and asks for the
// map to centre on it.
class CAisTargetList : public QAbstractListModel, private Listener<CAISTarget>, private Listener<CDataGPSPosition> {
    Q_OBJECT
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        MmsiRole,
        KindRole,
        RangeRole,
        BearingRole,
        CpaRole,
        TcpaRole,
        ColourRole,
        AlertingRole,
    };

    // Lists the targets of `manager` (the application's when null).
    explicit CAisTargetList(CAISTargetManager* manager = nullptr, QObject* parent = nullptr);
    ~CAisTargetList() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;
    int count() const { return int(m_rows.size()); }

    // Rebuilds the rows now.
    Q_INVOKABLE void refresh();
    // Selects the target of the row on the map and emits centreRequested.
    Q_INVOKABLE void activate(int row);

    // The MMSI of a row (0 when out of range), for tests and callers.
    uint32_t MmsiAt(int row) const;

Q_SIGNALS:
    void countChanged();
    // The map should centre on this position (the target of an activated row).
    void centreRequested(double lat, double lon);

private:
    struct Row {
        uint32_t mmsi = 0;
        QString name, kind, range, bearing, cpa, tcpa;
        QColor colour;
        bool alerting = false;
        int rank = 0;        // 0 alerting, 1 threat, 2 other
        double order = 0;    // within the rank
    };
    void OnUpdate(CAISTarget& target) override;
    void OnUpdate(CDataGPSPosition& position) override;
    void Schedule();
    CAISTargetManager* Manager() const;

    CAISTargetManager* m_manager;
    std::vector<Row> m_rows;
    QTimer m_timer;
};
