// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/overlay_list_model.h"

#include <QColor>
#include <QDebug>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QTimer>
#include <QUrl>

#include <algorithm>

#include "app/appmodel.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/quick/popup.h"
#include "navdata/gpsposition.h"
#include "overlays/iconmanager.h"
#include "overlays/trackmanager.h"
#include "units/units.h"

namespace {

std::string IconUrl(const std::string& name) {
    const CIconManager::IconInfo* info = CIconManager::Instance().find(name);
    if (!info || info->path.empty()) return {};
    if (info->path[0] == ':') return "qrc" + info->path;
    return QUrl::fromLocalFile(QString::fromStdString(info->path)).toString().toStdString();
}

std::string Distance(double metres) {
    std::string s;
    CDefaultUnits::u.FormatDistance(metres, s);
    return s;
}

}  // namespace

COverlayListModel::COverlayListModel(QObject* parent) : QObject(parent) {
    refresh();
}

COverlayListModel::~COverlayListModel() = default;

void COverlayListModel::refresh() {
    m_refreshPending = false;
    // Selections survive a refresh; everything else is read again.
    std::vector<const void*> selected;
    for (const Row& r : m_rows)
        if (r.selected) selected.push_back(r.ref.object);
    auto wasSelected = [&](const void* p) { return std::find(selected.begin(), selected.end(), p) != selected.end(); };

    const COverlayGPSPosition& boat = COverlayGPSPosition::theLatestPosition;
    const bool haveBoat = boat.HasPosition();
    m_rows.clear();
    if (g_mark_manager) {
        for (const auto& m : g_mark_manager->Marks()) {
            if (m->isDeleted()) continue;
            Row row;
            row.ref = COverlayRef::Of(*m);
            row.section = "Marks";
            row.name = m->getName();
            if (haveBoat && m->HasPosition())
                row.detail = Distance(CSimpleGrid(boat.lat, boat.lon).Distance(boat.lat, boat.lon, m->getLat(), m->getLon()));
            else
                CDefaultUnits::u.FormatPosition(m->getLat(), m->getLon(), row.detail);
            row.icon = IconUrl(m->getIcon());
            row.color = m->getColor();
            row.visible = m->isVisibleFlag();
            row.active = m->isNavigatingToMark();
            row.selected = wasSelected(m.get());
            m_rows.push_back(std::move(row));
        }
        for (const auto& r : g_mark_manager->Routes()) {
            if (r->isDeleted()) continue;
            Row row;
            row.ref = COverlayRef::Of(*r);
            row.section = "Routes";
            row.name = r->getName();
            row.detail = Distance(r->getTotalLengthMeters()) + ", " + std::to_string(r->size()) + " points";
            row.color = r->getLineColor();
            row.visible = r->isVisibleFlag();
            row.active = r->isFollowed();
            row.selected = wasSelected(r.get());
            m_rows.push_back(std::move(row));
        }
    }
    if (g_track_manager) {
        for (const auto& t : g_track_manager->GetTracks()) {
            if (t->isDeleted()) continue;
            Row row;
            row.ref = COverlayRef::Of(*t);
            row.section = "Tracks";
            row.name = t->getName();
            row.detail = Distance(t->getTotalDistance());
            if (t->hasTiming()) row.detail += ", " + CUnits::FormatDate(t->getTimeOfStart());
            row.color = t->getLineColor();
            row.visible = t->isVisibleFlag();
            row.active = g_track_manager->IsRecordingInto(t.get());
            row.selected = wasSelected(t.get());
            m_rows.push_back(std::move(row));
        }
    }
    Q_EMIT listChanged();
}

QVariantList COverlayListModel::rows() const {
    QVariantList list;
    for (const Row& r : m_rows) {
        const QColor c(r.color.r, r.color.g, r.color.b, r.color.a > 0 ? 255 : 0);
        list.append(QVariantMap{
            {QStringLiteral("kind"), QString::fromLatin1(NOverlayActions::KindName(r.ref.kind))},
            {QStringLiteral("section"), QString::fromStdString(r.section)},
            {QStringLiteral("name"), QString::fromStdString(r.name)},
            {QStringLiteral("detail"), QString::fromStdString(r.detail)},
            {QStringLiteral("icon"), QString::fromStdString(r.icon)},
            {QStringLiteral("color"), c},
            {QStringLiteral("visible"), r.visible},
            {QStringLiteral("active"), r.active},
            {QStringLiteral("selected"), r.selected},
        });
    }
    return list;
}

int COverlayListModel::selectedCount() const {
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) { return r.selected; }));
}

void COverlayListModel::setVisible(int row, bool visible) {
    if (!Valid(row)) return;
    NOverlayActions::SetVisible(m_rows[size_t(row)].ref, visible);
    refresh();
}

void COverlayListModel::setSelected(int row, bool selected) {
    if (!Valid(row) || m_rows[size_t(row)].selected == selected) return;
    m_rows[size_t(row)].selected = selected;
    Q_EMIT listChanged();
}

void COverlayListModel::showOnMap(int row) {
    if (!Valid(row)) return;
    NOverlayActions::ShowOnMap(m_rows[size_t(row)].ref);
    Q_EMIT closeRequested();
}

void COverlayListModel::showMenu(int row) {
    if (!Valid(row)) return;
    NOverlayActions::ShowMenu(m_hwnd, m_rows[size_t(row)].ref);
}

void COverlayListModel::exportSelected() {
    std::vector<COverlayRef> refs;
    for (const Row& r : m_rows)
        if (r.selected) refs.push_back(r.ref);
    NOverlayActions::ExportGpx(m_hwnd, refs);
}

void COverlayListModel::ScheduleRefresh() {
    if (m_refreshPending) return;
    m_refreshPending = true;
    // Many objects change at once (an import, a route's waypoints): one refresh for all.
    QTimer::singleShot(0, this, [this] {
        if (m_refreshPending) refresh();
    });
}

void COverlayListModel::OnUpdate(COverlayObject& object) {
    // The boat moves every second; only our own objects change the list.
    if ((g_mark_manager && g_mark_manager->Owns(&object)) || dynamic_cast<CTrackSection*>(&object)) ScheduleRefresh();
}

void COverlayListModel::OnUpdate(CTrackManager&) {
    ScheduleRefresh();
}

QObject* COverlayListModel::Show(QQuickItem* anchor) {
    QQmlEngine* engine = anchor ? qmlEngine(anchor) : nullptr;
    if (!engine || !anchor->window()) return nullptr;
    QQmlComponent component(engine, CDisplayViewPage::componentUrl("OverlayList.qml"), QQmlComponent::PreferSynchronous);
    if (!component.isReady()) {
        qWarning().noquote() << component.errorString();
        return nullptr;
    }
    auto* model = new COverlayListModel();
    model->SetHwnd(NV_HWND(anchor));
    return OpenModelPopup(anchor, component, model);
}
