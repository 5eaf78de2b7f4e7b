// SPDX-License-Identifier: GPL-3.0-or-later
#include "units/unitsettingsmodel.h"

namespace {
CUnits& U() {
    return CDefaultUnits::u;
}
}  // namespace

CUnitSettingsModel::CUnitSettingsModel(QObject* parent) : QObject(parent) {}

int CUnitSettingsModel::family() const {
    return int(U().dist_units);
}
int CUnitSettingsModel::speed() const {
    return U().speed_units;
}
int CUnitSettingsModel::depth() const {
    return U().depth_units;
}
int CUnitSettingsModel::bearings() const {
    return U().bearing_mode;
}
int CUnitSettingsModel::temperature() const {
    return U().temperature_unit;
}

QString CUnitSettingsModel::positionFormat() const {
    return U().posfmt ? QString::fromUtf8(U().posfmt->name) : QString();
}

int CUnitSettingsModel::positionFormatIndex() const {
    return positionFormatChoices().indexOf(positionFormat());
}

void CUnitSettingsModel::setFamily(int f) {
    if (f < 0 || f >= CUnits::kFamilyCount || f == family()) return;
    U().set_unit_family(CUnits::e_dist_units(f));
    CDefaultUnits::Changed();
}

void CUnitSettingsModel::setSpeed(int v) {
    if (v < 0 || v >= CUnits::kSpeedUnitCount || v == speed()) return;
    U().speed_units = v;
    CDefaultUnits::Changed();
}

void CUnitSettingsModel::setDepth(int v) {
    if (v < 0 || v >= CUnits::kDepthUnitCount || v == depth()) return;
    U().depth_units = v;
    CDefaultUnits::Changed();
}

void CUnitSettingsModel::setBearings(int v) {
    if ((v != 0 && v != 1) || v == bearings()) return;
    U().bearing_mode = v;
    // Magnetic bearings need a current variation, not whatever was stored last.
    U().ChangedBearingUnits();
    CDefaultUnits::Changed();
}

void CUnitSettingsModel::setTemperature(int v) {
    if ((v != 0 && v != 1) || v == temperature()) return;
    U().temperature_unit = v;
    CDefaultUnits::Changed();
}

void CUnitSettingsModel::setPositionFormat(const QString& name) {
    const CUnits::PositionFormatType* f = CUnits::PositionFormatType::Find(name.toStdString());
    if (!f || f == U().posfmt) return;
    U().posfmt = f;
    CDefaultUnits::Changed();
}

void CUnitSettingsModel::setPositionFormatIndex(int index) {
    const QStringList names = positionFormatChoices();
    if (index >= 0 && index < names.size()) setPositionFormat(names[index]);
}

QStringList CUnitSettingsModel::familyChoices() const {
    QStringList l;
    for (int i = 0; i < CUnits::kFamilyCount; ++i) l << QString::fromUtf8(CUnits::FamilyName(i));
    return l;
}

QStringList CUnitSettingsModel::speedChoices() const {
    QStringList l;
    for (int i = 0; i < CUnits::kSpeedUnitCount; ++i) l << QString::fromUtf8(CUnits::SpeedUnitName(i));
    return l;
}

QStringList CUnitSettingsModel::depthChoices() const {
    QStringList l;
    for (int i = 0; i < CUnits::kDepthUnitCount; ++i) l << QString::fromUtf8(CUnits::DepthUnitName(i));
    return l;
}

QStringList CUnitSettingsModel::bearingChoices() const {
    return {QStringLiteral("True (\u00B0T)"), QStringLiteral("Magnetic (\u00B0M)")};
}

QStringList CUnitSettingsModel::temperatureChoices() const {
    return {QStringLiteral("\u00B0C"), QStringLiteral("\u00B0F")};
}

QStringList CUnitSettingsModel::positionFormatChoices() const {
    QStringList l;
    for (const CUnits::PositionFormatType* f : CUnits::PositionFormatType::All()) l << QString::fromUtf8(f->name);
    return l;
}

void CUnitSettingsModel::OnUpdate(CUnits& units) {
    if (&units == &CDefaultUnits::u) Q_EMIT unitsChanged();
}
