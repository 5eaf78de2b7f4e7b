// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/ais_models.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/persistantdata.h"
#include "navdata/ais.h"
#include "units/units.h"

namespace {

CAISTargetManager::Persistant& S() {
    return CAISTargetManager::settings;
}

// The choice nearest to a stored value (values typed into the settings file need not be
// one of the choices).
int Nearest(const std::vector<double>& choices, double value) {
    int best = 0;
    for (int i = 1; i < int(choices.size()); ++i)
        if (std::fabs(choices[size_t(i)] - value) < std::fabs(choices[size_t(best)] - value)) best = i;
    return best;
}

bool ValidIndex(const std::vector<double>& choices, int index) {
    return index >= 0 && index < int(choices.size());
}

QString Distance(double metres) {
    std::string text;
    CDefaultUnits::u.FormatDistance(metres, text);
    return QString::fromStdString(text);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Settings page

const std::vector<double>& CDlg_AIS_settings::AlarmDistances() {
    static const std::vector<double> v = {100, 185.2, 200, 300, 463, 500, 926, 1000, 1852, 3704};
    return v;
}

const std::vector<double>& CDlg_AIS_settings::ClassBDistances() {
    static const std::vector<double> v = {50, 100, 185.2, 200, 300, 463, 500, 926};
    return v;
}

const std::vector<double>& CDlg_AIS_settings::ClosingSpeeds() {
    static const std::vector<double> v = {0.5, 1, 2, 3, 5, 10};
    return v;
}

bool CDlg_AIS_settings::Available() {
    return S().enable_settings;
}

CDlg_AIS_settings::CDlg_AIS_settings(QObject* parent) : QObject(parent) {}

void CDlg_AIS_settings::Saved() {
    S().SetChanged();
    PersistantData::SaveAll();
    // Colours, rings and tracks follow at once on the map.
    if (the_CAISTargetManager)
        for (const auto& entry : the_CAISTargetManager->Targets())
            if (entry.second->HasKind()) entry.second->Dispatch(COverlayObject::UPDATE_MOVED);
    Q_EMIT settingsChanged();
}

QStringList CDlg_AIS_settings::alarmDistanceChoices() const {
    QStringList out;
    for (double m : AlarmDistances()) out << Distance(m);
    return out;
}
int CDlg_AIS_settings::alarmDistanceIndex() const {
    return Nearest(AlarmDistances(), S().alarm_distance);
}
void CDlg_AIS_settings::setAlarmDistanceIndex(int index) {
    if (!ValidIndex(AlarmDistances(), index) || index == alarmDistanceIndex()) return;
    S().alarm_distance = float(AlarmDistances()[size_t(index)]);
    Saved();
}

QStringList CDlg_AIS_settings::classBDistanceChoices() const {
    QStringList out;
    for (double m : ClassBDistances()) out << Distance(m);
    return out;
}
int CDlg_AIS_settings::classBDistanceIndex() const {
    return Nearest(ClassBDistances(), S().cpa_classB_distance);
}
void CDlg_AIS_settings::setClassBDistanceIndex(int index) {
    if (!ValidIndex(ClassBDistances(), index) || index == classBDistanceIndex()) return;
    S().cpa_classB_distance = float(ClassBDistances()[size_t(index)]);
    Saved();
}

int CDlg_AIS_settings::alarmMinutes() const {
    return int(std::lround(std::clamp(double(S().alarm_time) / 60.0, double(kMinAlarmMinutes),
                                      double(kMaxAlarmMinutes))));
}
void CDlg_AIS_settings::setAlarmMinutes(int minutes) {
    minutes = std::clamp(minutes, kMinAlarmMinutes, kMaxAlarmMinutes);
    if (float(minutes * 60) == S().alarm_time) return;
    S().alarm_time = float(minutes * 60);
    Saved();
}

QStringList CDlg_AIS_settings::closingSpeedChoices() const {
    QStringList out;
    for (double knots : ClosingSpeeds()) {
        std::string text;
        CDefaultUnits::u.FormatSpeed(knots, text);
        out << QString::fromStdString(text);
    }
    return out;
}
int CDlg_AIS_settings::closingSpeedIndex() const {
    return Nearest(ClosingSpeeds(), S().min_closing_velocity_knots);
}
void CDlg_AIS_settings::setClosingSpeedIndex(int index) {
    if (!ValidIndex(ClosingSpeeds(), index) || index == closingSpeedIndex()) return;
    S().min_closing_velocity_knots = float(ClosingSpeeds()[size_t(index)]);
    Saved();
}

bool CDlg_AIS_settings::beep() const {
    return S().alarm_beep;
}
void CDlg_AIS_settings::setBeep(bool on) {
    if (on == S().alarm_beep) return;
    S().alarm_beep = on;
    Saved();
}

bool CDlg_AIS_settings::rangeRing() const {
    return S().show_ais_range_ring;
}
void CDlg_AIS_settings::setRangeRing(bool on) {
    if (on == S().show_ais_range_ring) return;
    S().show_ais_range_ring = on;
    Saved();
}

bool CDlg_AIS_settings::recordTracks() const {
    return S().record_tracks;
}
void CDlg_AIS_settings::setRecordTracks(bool on) {
    if (on == S().record_tracks) return;
    S().record_tracks = on;
    Saved();
}

// ---------------------------------------------------------------------------------------
// Target list

CAisTargetList::CAisTargetList(CAISTargetManager* manager, QObject* parent)
    : QAbstractListModel(parent), m_manager(manager) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CAisTargetList::refresh);
    refresh();
}

CAisTargetList::~CAisTargetList() = default;

CAISTargetManager* CAisTargetList::Manager() const {
    return m_manager ? m_manager : the_CAISTargetManager;
}

void CAisTargetList::OnUpdate(CAISTarget&) {
    Schedule();
}

void CAisTargetList::OnUpdate(CDataGPSPosition&) {
    Schedule();
}

void CAisTargetList::Schedule() {
    // Targets report many times a second in a busy harbour; the list need not.
    if (!m_timer.isActive()) m_timer.start();
}

void CAisTargetList::refresh() {
    std::vector<Row> rows;
    if (const CAISTargetManager* manager = Manager()) {
        const bool measured = manager->HasOwnPosition();
        for (const auto& entry : manager->Targets()) {
            const CAISTarget& t = *entry.second;
            if (!t.HasKind()) continue;
            Row r;
            r.mmsi = t.mmsi;
            r.name = QString::fromUtf8(t.name);
            r.kind = QString::fromUtf8(t.kind);
            r.colour = QColor::fromRgba(t.colour);
            r.alerting = t.alerting;
            const bool placed = measured && t.HasPosition();
            if (placed) {
                r.range = Distance(t.range);
                std::string bearing;
                CDefaultUnits::u.FormatBearing(t.bearing, bearing);
                r.bearing = QString::fromStdString(bearing);
            }
            if (placed && t.HasCPA() && t.tcpa > 0) {
                r.cpa = Distance(t.cpa);
                const int seconds = int(std::lround(t.tcpa));
                char buf[32];
                std::snprintf(buf, sizeof buf, "%d:%02d", seconds / 60, seconds % 60);
                r.tcpa = QString::fromLatin1(buf);
            }
            if (t.alerting) {
                r.rank = 0;
                r.order = t.tcpa;
            } else if (placed && t.isCollisionThreat()) {
                r.rank = 1;
                r.order = t.tcpa;
            } else {
                r.rank = 2;
                r.order = placed ? t.range : 1e12;
            }
            rows.push_back(std::move(r));
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.rank != b.rank ? a.rank < b.rank : a.order < b.order;
    });
    const bool countChanges = rows.size() != m_rows.size();
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
    if (countChanges) Q_EMIT countChanged();
}

int CAisTargetList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant CAisTargetList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= int(m_rows.size())) return {};
    const Row& r = m_rows[size_t(index.row())];
    switch (role) {
        case NameRole:
            return r.name;
        case MmsiRole:
            return QString::number(r.mmsi);
        case KindRole:
            return r.kind;
        case RangeRole:
            return r.range;
        case BearingRole:
            return r.bearing;
        case CpaRole:
            return r.cpa;
        case TcpaRole:
            return r.tcpa;
        case ColourRole:
            return r.colour;
        case AlertingRole:
            return r.alerting;
        default:
            return {};
    }
}

QHash<int, QByteArray> CAisTargetList::roleNames() const {
    return {{NameRole, "name"},   {MmsiRole, "mmsi"}, {KindRole, "kind"},     {RangeRole, "range"},
            {BearingRole, "bearing"}, {CpaRole, "cpa"}, {TcpaRole, "tcpa"}, {ColourRole, "colour"},
            {AlertingRole, "alerting"}};
}

uint32_t CAisTargetList::MmsiAt(int row) const {
    return row >= 0 && row < int(m_rows.size()) ? m_rows[size_t(row)].mmsi : 0;
}

void CAisTargetList::activate(int row) {
    CAISTargetManager* manager = Manager();
    if (!manager) return;
    CAISTarget* t = manager->Find(MmsiAt(row));
    if (!t) return;
    manager->Select(t);
    if (t->HasPosition()) Q_EMIT centreRequested(t->lat, t->lon);
}
