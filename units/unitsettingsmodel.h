// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The "Units" settings page's view of CDefaultUnits::u. Every property has one change
// signal, unitsChanged, which also fires when the units change from elsewhere (another
// page, settings loaded), because the model listens to Listener<CUnits>.
// GUI thread only, like the units themselves.

#include <QObject>
#include <QString>
#include <QStringList>

#include "core/pubsub.h"
#include "units/units.h"

class CUnitSettingsModel : public QObject, public Listener<CUnits> {
    Q_OBJECT
    Q_PROPERTY(int family READ family WRITE setFamily NOTIFY unitsChanged)
    Q_PROPERTY(int speed READ speed WRITE setSpeed NOTIFY unitsChanged)
    Q_PROPERTY(int depth READ depth WRITE setDepth NOTIFY unitsChanged)
    Q_PROPERTY(int bearings READ bearings WRITE setBearings NOTIFY unitsChanged)
    Q_PROPERTY(int temperature READ temperature WRITE setTemperature NOTIFY unitsChanged)
    Q_PROPERTY(QString positionFormat READ positionFormat WRITE setPositionFormat NOTIFY unitsChanged)
    Q_PROPERTY(int positionFormatIndex READ positionFormatIndex WRITE setPositionFormatIndex NOTIFY unitsChanged)
    Q_PROPERTY(QStringList familyChoices READ familyChoices CONSTANT)
    Q_PROPERTY(QStringList speedChoices READ speedChoices CONSTANT)
    Q_PROPERTY(QStringList depthChoices READ depthChoices CONSTANT)
    Q_PROPERTY(QStringList bearingChoices READ bearingChoices CONSTANT)
    Q_PROPERTY(QStringList temperatureChoices READ temperatureChoices CONSTANT)
    Q_PROPERTY(QStringList positionFormatChoices READ positionFormatChoices CONSTANT)
    Q_PROPERTY(QString title READ title CONSTANT)

public:
    explicit CUnitSettingsModel(QObject* parent = nullptr);

    int family() const;
    int speed() const;
    int depth() const;
    int bearings() const;
    int temperature() const;
    QString positionFormat() const;
    int positionFormatIndex() const;

    // Out-of-range values are ignored.
    void setFamily(int family);
    void setSpeed(int speed);
    void setDepth(int depth);
    void setBearings(int mode);
    void setTemperature(int unit);
    void setPositionFormat(const QString& name);
    void setPositionFormatIndex(int index);

    QStringList familyChoices() const;
    QStringList speedChoices() const;
    QStringList depthChoices() const;
    QStringList bearingChoices() const;
    QStringList temperatureChoices() const;
    QStringList positionFormatChoices() const;
    QString title() const { return QString::fromLatin1(CUnits::settingsType.name); }

    void OnUpdate(CUnits& units) override;

Q_SIGNALS:
    void unitsChanged();
};
