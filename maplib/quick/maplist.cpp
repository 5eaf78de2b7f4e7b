// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/quick/maplist.h"

#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <map>

#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "displays/quick/displayviewpage.h"
#include "maplib/chartlist.h"
#include "maplib/quick/popup.h"

namespace {

bool IsUnder(const std::string& path, const std::string& dir) {
    if (dir.empty() || path.size() <= dir.size()) return false;
    if (path.compare(0, dir.size(), dir) != 0) return false;
    return dir.back() == '/' || path[dir.size()] == '/';
}

// Folder groups in the order the list shows them.
int FolderRank(const std::string& folder) {
    if (folder == CDlg_map_list::kBuiltIn) return 0;
    if (folder == CDlg_map_list::kInternal) return 1;
    return 2;
}

std::string TypeName(const CChartOutline& o) {
    return o.type.empty() ? std::string(CDlg_map_list::kNoType) : o.type;
}

bool TypeShown(const std::string& type) {
    return CSelectMapTypes::Settings().show.count(type) != 0;
}

}  // namespace

CDlg_map_list::CDlg_map_list(QObject* parent) : QObject(parent) {
    refresh();
}

CDlg_map_list::~CDlg_map_list() = default;

void CDlg_map_list::SetChartList(CChartList* list) {
    m_list = list;
    refresh();
}

void CDlg_map_list::SetReference(double lat, double lon) {
    if (lat >= -90 && lat <= 90 && std::abs(lon) <= 400) {
        m_reference = DblPoint(lon, lat);
    } else {
        m_reference.reset();
    }
    refresh();
}

CChartList* CDlg_map_list::List() const {
    return m_list ? m_list : p_chart_list;
}

void CDlg_map_list::OnUpdate(CChartList& list) {
    if (&list == List()) refresh();
}

std::string CDlg_map_list::FolderOf(const CChartOutline& outline, const CChartList& list) {
    if (list.BuiltinChart() == &outline || IsUnder(outline.path, getBuiltinChartsDirectory())) return kBuiltIn;
    if (IsUnder(outline.path, getAppDirectory())) return kInternal;
    return kDocuments;
}

void CDlg_map_list::refresh() {
    m_rows.clear();
    if (CChartList* list = List()) {
        // type -> folder -> charts
        std::map<std::string, std::map<std::string, std::vector<const CChartOutline*>>> groups;
        for (const CChartOutline& o : *list) groups[TypeName(o)][FolderOf(o, *list)].push_back(&o);
        const DblPoint* ref = m_reference ? &*m_reference : nullptr;
        for (auto& [type, folders] : groups) {
            const bool shown = TypeShown(type);
            m_rows.push_back({Row::kTypeHeader, type, type, {}, {}, 0, shown});
            std::vector<std::pair<std::string, std::vector<const CChartOutline*>>*> ordered;
            std::vector<std::string> names;
            for (auto& f : folders) names.push_back(f.first);
            std::sort(names.begin(), names.end(),
                      [](const std::string& a, const std::string& b) { return FolderRank(a) < FolderRank(b); });
            for (const std::string& folder : names) {
                std::vector<const CChartOutline*>& charts = folders[folder];
                CChartOutline::CSortedPointer::Sort(charts, ref);
                m_rows.push_back({Row::kFolderHeader, folder, type, folder, {}, 0, shown});
                for (const CChartOutline* o : charts) {
                    m_rows.push_back({Row::kChart, o->name.empty() ? o->path : o->name, type, folder, o->path,
                                      o->scale, shown, o->unreadable});
                }
            }
        }
    }
    Q_EMIT listChanged();
    Q_EMIT typesChanged();
}

QVariantList CDlg_map_list::rows() const {
    QVariantList out;
    out.reserve(int(m_rows.size()));
    for (const Row& r : m_rows) {
        QVariantMap m;
        m.insert(QStringLiteral("kind"), int(r.kind));
        m.insert(QStringLiteral("text"), QString::fromStdString(r.text));
        m.insert(QStringLiteral("type"), QString::fromStdString(r.type));
        m.insert(QStringLiteral("folder"), QString::fromStdString(r.folder));
        m.insert(QStringLiteral("path"), QString::fromStdString(r.path));
        m.insert(QStringLiteral("shown"), r.shown);
        // 1:N as printed on paper charts: one chart pixel is `scale` nautical miles, and
        // a printed pixel is taken as 0.254 mm.
        const double ratio = r.scale * 1852.0 / 0.000254;
        QString scale = r.kind == Row::kChart && r.scale > 0 ? QStringLiteral("1:%L1").arg(qlonglong(ratio + 0.5))
                                                             : QString();
        if (r.unreadable) scale += tr(" (cannot be opened)");
        m.insert(QStringLiteral("scaleText"), scale);
        m.insert(QStringLiteral("unreadable"), r.unreadable);
        out.push_back(m);
    }
    return out;
}

int CDlg_map_list::chartCount() const {
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const Row& r) { return r.kind == Row::kChart; }));
}

int CDlg_map_list::sortOrder() const {
    return CChartOutline::CSortedPointer::SortOrder();
}

void CDlg_map_list::setSortOrder(int order) {
    order = std::clamp(order, 0, 2);
    if (order == sortOrder()) return;
    CChartOutline::CSortedPointer::SetSortOrder(order, reverseSort());
    PersistantData::SaveAll();
    refresh();
}

bool CDlg_map_list::reverseSort() const {
    return CChartOutline::CSortedPointer::Reversed();
}

void CDlg_map_list::setReverseSort(bool reverse) {
    if (reverse == reverseSort()) return;
    CChartOutline::CSortedPointer::SetSortOrder(sortOrder(), reverse);
    PersistantData::SaveAll();
    refresh();
}

QStringList CDlg_map_list::sortChoices() const {
    return {tr("Name"), tr("Scale"), tr("Nearest")};
}

std::vector<CDlg_map_list::TypeEntry> CDlg_map_list::Types() const {
    std::map<std::string, TypeEntry> types;
    // Types chosen earlier stay switchable even when no chart of theirs is installed.
    for (const std::string& t : CSelectMapTypes::Settings().show) types[t] = {t, 0, true};
    if (CChartList* list = List()) {
        for (const CChartOutline& o : *list) {
            TypeEntry& e = types[TypeName(o)];
            e.name = TypeName(o);
            e.shown = TypeShown(e.name);
            ++e.charts;
        }
    }
    std::vector<TypeEntry> out;
    for (auto& t : types) out.push_back(t.second);
    return out;
}

QVariantList CDlg_map_list::mapTypes() const {
    QVariantList out;
    for (const TypeEntry& t : Types()) {
        QVariantMap m;
        m.insert(QStringLiteral("name"), QString::fromStdString(t.name));
        m.insert(QStringLiteral("charts"), t.charts);
        m.insert(QStringLiteral("shown"), t.shown);
        out.push_back(m);
    }
    return out;
}

void CDlg_map_list::setTypeShown(const QString& type, bool shown) {
    CSelectMapTypes& s = CSelectMapTypes::Settings();
    const std::string t = type.toStdString();
    if (t.empty() || (s.show.count(t) != 0) == shown) return;
    if (shown) {
        s.show.insert(t);
    } else {
        s.show.erase(t);
    }
    s.SetChanged();
    PersistantData::SaveAll();
    refresh();
}

bool CDlg_map_list::openRow(int row) {
    if (row < 0 || row >= int(m_rows.size()) || m_rows[size_t(row)].kind != Row::kChart) return false;
    openPath(QString::fromStdString(m_rows[size_t(row)].path));
    return true;
}

void CDlg_map_list::openPath(const QString& path) {
    const std::string p = path.toStdString();
    if (onOpen) onOpen(p);
    Q_EMIT chartOpened(path);
}

void CDlg_map_list::openLastView() {
    openPath(QString());
}

bool CDlg_map_list::deleteRow(int row) {
    if (row < 0 || row >= int(m_rows.size()) || m_rows[size_t(row)].kind != Row::kChart) return false;
    const Row r = m_rows[size_t(row)];
    if (r.folder == kBuiltIn) {
        // They belong to the installation (often read-only) and come back with it anyway.
        MessageBoxOK(m_hwnd, "Delete Map", "The built-in maps come with Navora and cannot be deleted.");
        return false;
    }
    QPointer<CDlg_map_list> self(this);
    MessageBoxYesNo(m_hwnd, "Delete Map", "Delete the map \"" + r.text + "\"? Its file is removed from this device.",
                    [self, path = r.path] {
                        if (self) self->DeletePath(path);
                    });
    return true;
}

void CDlg_map_list::DeletePath(const std::string& path) {
    CChartList* list = List();
    if (!list) return;
    const CChartOutline* outline = nullptr;
    for (const CChartOutline& o : *list) {
        if (o.path == path) {
            outline = &o;
            break;
        }
    }
    // Gone meanwhile (a refresh, another list): nothing to delete.
    if (!outline) {
        refresh();
        return;
    }
    const std::string name = outline->name.empty() ? path : outline->name;
    if (!list->RemoveAndDeleteChart(outline)) {
        MessageBoxOK(m_hwnd, "Problem", "The map \"" + name + "\" could not be deleted.");
    }
    refresh();
}

QObject* CDlg_map_list::Show(QQuickItem* anchor, std::function<void(const std::string&)> onOpen,
                             std::optional<DblPoint> reference) {
    QQmlEngine* engine = anchor ? qmlEngine(anchor) : nullptr;
    if (!engine || !anchor->window()) return nullptr;
    QQmlComponent component(engine, CDisplayViewPage::componentUrl("MapList.qml"), QQmlComponent::PreferSynchronous);
    if (!component.isReady()) {
        qWarning().noquote() << component.errorString();
        return nullptr;
    }
    auto* model = new CDlg_map_list();
    model->onOpen = std::move(onOpen);
    model->SetHwnd(NV_HWND(anchor));
    if (reference) model->SetReference(reference->y, reference->x);
    return OpenModelPopup(anchor, component, model);
}
