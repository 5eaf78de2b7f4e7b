// SPDX-License-Identifier: GPL-3.0-or-later
// One page: showing it, editing it, its menus and its storage.
#include "displays/displayview.h"

#include <Qt>

#include <algorithm>
#include <cmath>
#include <cstring>

using CItemSettings = CDisplayView::CItemSettings;
using CItemSettingsType = CDisplayView::CItemSettingsType;
using CItem = CDisplayView::CItem;

CDisplayView::CDisplayView() : m_arrangement(std::make_unique<CItemArrangement>()) {
    m_arrangement->view = this;
}

CDisplayView::~CDisplayView() {
    DetachFromWindow();
    m_arrangement.reset();
}

bool CDisplayView::Serialize(IOStream& s) {
    {
        Section sec(s);
        if (s.IsReading() && sec.AtEnd()) return false;
        if (s.IsWriting()) UpdateSignature();
        if (!sec.declare(name) || !sec.declare_fblock(m_signature, int(sizeof m_signature))) return false;
    }
    if (s.IsReading()) {
        DetachFromWindow();
        m_selected = nullptr;
    }
    m_arrangement->view = this;
    if (!m_arrangement->Serialize(s)) return false;
    // What the page holds decides its signature, whatever the file said.
    if (s.IsReading()) UpdateSignature();
    return true;
}

double CDisplayView::Resolution() const {
    if (m_pageSet && m_pageSet->Owner()) return m_pageSet->Owner()->Resolution();
    return 96.0;
}

// ---- showing ----

bool CDisplayView::Attach(IWindow& window, const NV_HWND& hwnd) {
    if (m_window == &window) return true;
    DetachFromWindow();
    m_window = &window;
    m_hwnd = hwnd;
    double w = 0, h = 0, l = 0, t = 0, r = 0, b = 0;
    window.GetSize(w, h);
    window.GetSafeAreaInsets(l, t, r, b);
    m_arrangement->SetInsets(l, t, r, b);
    m_arrangement->Resized(w, h);
    window.PageAttached(this);
    m_arrangement->CreateItems(*this, window);
    window.ArrangingChanged();
    return true;
}

void CDisplayView::DetachFromWindow() {
    if (!m_window) return;
    m_drag = DragMode::None;
    m_arrangement->DestroyItems();
    IWindow* w = m_window;
    m_window = nullptr;
    m_hwnd = NV_HWND();
    if (m_arranging) {
        m_arranging = false;
        m_selected = nullptr;
    }
    w->PageAttached(nullptr);
    w->ArrangingChanged();
}

bool CDisplayView::Resized(bool allowPageSetChange) {
    if (!m_window) return false;
    double w = 0, h = 0;
    m_window->GetSize(w, h);
    CDisplayViewArrangementSet* owner = m_pageSet ? m_pageSet->Owner() : nullptr;
    if (allowPageSetChange && owner && !m_arranging && w > 0 && h > 0) {
        const int hw = owner->ToHundredths(int(std::lround(w)));
        const int hh = owner->ToHundredths(int(std::lround(h)));
        if (owner->setBestPagesetForWindowSize(hw, hh)) {
            CDisplayView* now = owner->getCurrentPage();
            if (now && now != this) {
                IWindow* win = m_window;
                const NV_HWND hwnd = m_hwnd;
                DetachFromWindow();
                now->Attach(*win, hwnd);
                return true;
            }
        }
    }
    double l = 0, t = 0, r = 0, b = 0;
    m_window->GetSafeAreaInsets(l, t, r, b);
    m_arrangement->SetInsets(l, t, r, b);
    m_arrangement->Resized(w, h);
    m_arrangement->PositionAll();
    if (m_selected) m_selectedRect = m_arrangement->GetItemRect(*m_selected);
    m_window->ArrangingChanged();
    return false;
}

bool CDisplayView::isCurrentPage() const {
    return m_pageSet && m_pageSet->getCurrentPage() == this && m_pageSet->Owner() &&
           m_pageSet->Owner()->getPageSet() == m_pageSet;
}

// ---- editing ----

CItemSettings* CDisplayView::AddItem(const CItemSettingsType* type, int row, int col, int rows, int cols, int layer) {
    if (!type) return nullptr;
    std::unique_ptr<CItemSettings> s(type->NewSettings());
    if (!s) return nullptr;
    CItemArrangement& a = *m_arrangement;
    // Default sizes are hundredths of an inch; the grid has 8 cells per inch of the
    // page set's reference size.
    const int refW = m_pageSet ? m_pageSet->width : 640;
    const int refH = m_pageSet ? m_pageSet->height : 320;
    if (rows <= 0) rows = int(std::lround(double(type->defaultHeight) * a.rows / std::max(1, refH)));
    if (cols <= 0) cols = int(std::lround(double(type->defaultWidth) * a.cols / std::max(1, refW)));
    s->height = std::max(1, rows);
    s->width = std::max(1, cols);
    s->layer = std::clamp(layer > 0 ? layer : type->defaultLayer, CItemSettings::kMinLayer, CItemSettings::kMaxLayer);
    const bool placeGiven = row >= 0 && col >= 0;
    s->row = std::max(0, row);
    s->col = std::max(0, col);
    CItemSettings* added = a.AddItem(std::move(s));
    if (!placeGiven) a.findSpaceForItem(*added);
    if (m_window) {
        std::unique_ptr<CItem> item(added->CreateItem(*m_window));
        if (item) {
            item->CreateAdaptor(*m_window);
            if (IWindow* w = item->Window()) w->show(CItemArrangement::ShowsItem(*added, m_arranging));
            a.PositionItem(*item);
            a.items[added] = std::move(item);
        }
    }
    if (m_pageSet) m_pageSet->ReIndexItemsOfType(added->TypeId());
    MarkChanged();
    return added;
}

void CDisplayView::RemoveItem(CItemSettings* s) {
    if (!s) return;
    if (m_selected == s) SelectItem(nullptr);
    const int type = s->TypeId();
    m_arrangement->RemoveItem(s);
    if (m_pageSet) m_pageSet->ReIndexItemsOfType(type);
    MarkChanged();
}

void CDisplayView::SelectItem(CItemSettings* s) {
    m_selected = s;
    m_selectedRect = s ? m_arrangement->GetItemRect(*s) : FRect();
    NotifyArranging();
}

void CDisplayView::SetArranging(bool arranging) {
    if (m_arranging == arranging) return;
    m_arranging = arranging;
    m_drag = DragMode::None;
    if (!arranging) m_selected = nullptr;
    m_arrangement->ShowItems(arranging);
    NotifyArranging();
}

void CDisplayView::NotifyArranging() {
    if (m_window) m_window->ArrangingChanged();
}

void CDisplayView::MarkChanged() {
    m_changed = true;
    UpdateSignature();
}

void CDisplayView::UpdateSignature() {
    m_arrangement->Get5LargestItems(m_signature);
}

void CDisplayView::SaveIfNeeded() {
    if (m_pageSet && m_pageSet->Owner()) m_pageSet->Owner()->save_layout_if_changed();
}

void CDisplayView::AdjustCellsForScreen() {
    if (!m_pageSet) return;
    m_arrangement->AdjustCellsForScreen(m_pageSet->width, m_pageSet->height);
}

// ---- lookup ----

bool CDisplayView::Holds(const CItemSettings* s) const {
    for (auto& own : m_arrangement->settings)
        if (own.get() == s) return true;
    return false;
}

CItem* CDisplayView::ItemFor(const CItemSettings* s) const {
    return m_arrangement->FindItem(s);
}

CItemSettings* CDisplayView::NextItemAt(int row, int col, CItemSettings* after) const {
    // Front to back: higher layers first, later-added first within a layer (drawn last).
    std::vector<CItemSettings*> here;
    const auto& all = m_arrangement->settings;
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        const RECT r = (*it)->CellRect();
        if (row >= r.top && row < r.bottom && col >= r.left && col < r.right) here.push_back(it->get());
    }
    std::stable_sort(here.begin(), here.end(), [](auto* a, auto* b) { return a->layer > b->layer; });
    if (here.empty()) return nullptr;
    auto pos = std::find(here.begin(), here.end(), after);
    if (pos == here.end() || ++pos == here.end()) return here.front();
    return *pos;
}

CItem* CDisplayView::findItemAt(const std::set<int>& types, int row, int col) const {
    CItem* best = nullptr;
    for (auto& s : m_arrangement->settings) {
        if (!types.empty() && !types.count(s->TypeId())) continue;
        const RECT r = s->CellRect();
        if (row < r.top || row >= r.bottom || col < r.left || col >= r.right) continue;
        CItem* item = ItemFor(s.get());
        if (item && (!best || s->layer >= best->Settings().layer)) best = item;
    }
    return best;
}

void CDisplayView::forAllItemsOfType(int type, const std::function<void(CItem*)>& fn) const {
    std::vector<CItem*> found;
    for (auto& s : m_arrangement->settings) {
        if (s->TypeId() != type) continue;
        if (CItem* item = ItemFor(s.get())) found.push_back(item);
    }
    for (CItem* item : found) fn(item);
}

CItemSettings* CDisplayView::FindLargestSettingsOfTypes(const std::set<int>& types) const {
    CItemSettings* best = nullptr;
    for (auto& s : m_arrangement->settings) {
        if (!types.count(s->TypeId())) continue;
        if (!best || s->Area() > best->Area()) best = s.get();
    }
    return best;
}

CItem* CDisplayView::FindLargestItemOfTypes(const std::set<int>& types, int& area) const {
    CItem* best = nullptr;
    area = 0;
    for (auto& s : m_arrangement->settings) {
        if (!types.count(s->TypeId())) continue;
        CItem* item = ItemFor(s.get());
        if (item && s->Area() > area) {
            best = item;
            area = s->Area();
        }
    }
    return best;
}

bool CDisplayView::compareSignature(const int* sig) const {
    return sig && std::memcmp(sig, m_signature, sizeof m_signature) == 0;
}

std::string CDisplayView::getPageName() const {
    if (!name.empty()) return name;
    const auto bySize = m_arrangement->GetItemTypesBySize();
    if (bySize.empty()) return "Empty page";
    // The largest items name the page; small ones only add " etc".
    std::string out;
    std::set<int> named;
    size_t used = 0;
    for (CItemSettings* s : bySize) {
        if (named.size() >= 3) break;
        ++used;
        if (!named.insert(s->TypeId()).second) continue;
        const CItemSettingsType* t = s->Type();
        if (!out.empty()) out += ", ";
        out += t ? t->ItemName() : s->TypeName();
    }
    if (used < bySize.size()) out += " etc";
    return out;
}

// ---- pointer input while arranging ----

void CDisplayView::onMouseDown(double x, double y) {
    if (!m_arranging) return;
    int row, col;
    m_arrangement->XY_to_cell(x, y, row, col);
    // Pressing the selected item again keeps it (so it can be dragged); elsewhere picks
    // the frontmost item there.
    CItemSettings* hit = nullptr;
    if (m_selected) {
        const RECT r = m_selected->CellRect();
        if (row >= r.top && row < r.bottom && col >= r.left && col < r.right) hit = m_selected;
    }
    if (!hit) hit = NextItemAt(row, col, nullptr);
    SelectItem(hit);
    m_drag = DragMode::None;
    if (!hit || hit->locked) return;
    m_pressRow = row;
    m_pressCol = col;
    m_origRow = hit->row;
    m_origCol = hit->col;
    m_origHeight = hit->height;
    m_origWidth = hit->width;
    // The bottom-right cell is the resize handle (for items larger than one cell).
    const bool corner = row == hit->row + hit->height - 1 && col == hit->col + hit->width - 1;
    m_drag = corner && hit->Area() > 1 ? DragMode::Resize : DragMode::Move;
}

void CDisplayView::PlaceSelectedAt(int row, int col, int height, int width) {
    if (!m_selected) return;
    CItemSettings& s = *m_selected;
    s.height = height;
    s.width = width;
    s.row = row;
    s.col = col;
    m_arrangement->ClampToGrid(s);
    if (CItem* item = ItemFor(&s)) m_arrangement->PositionItem(*item);
    m_selectedRect = m_arrangement->GetItemRect(s);
    NotifyArranging();
}

void CDisplayView::onMouseDragged(double x, double y) {
    if (!m_arranging || !m_selected || m_drag == DragMode::None) return;
    int row, col;
    m_arrangement->XY_to_cell(x, y, row, col);
    const int dr = row - m_pressRow, dc = col - m_pressCol;
    const CItemArrangement& a = *m_arrangement;
    if (m_drag == DragMode::Move) {
        PlaceSelectedAt(std::clamp(m_origRow + dr, 0, a.rows - m_origHeight),
                        std::clamp(m_origCol + dc, 0, a.cols - m_origWidth), m_origHeight, m_origWidth);
    } else {
        PlaceSelectedAt(m_origRow, m_origCol, std::clamp(m_origHeight + dr, 1, a.rows - m_origRow),
                        std::clamp(m_origWidth + dc, 1, a.cols - m_origCol));
    }
}

void CDisplayView::onMouseUp(double x, double y) {
    if (!m_arranging) return;
    const DragMode mode = m_drag;
    m_drag = DragMode::None;
    if (!m_selected || mode == DragMode::None) return;
    onMouseDragged(x, y);
    CItemSettings& s = *m_selected;
    if (s.row == m_origRow && s.col == m_origCol && s.height == m_origHeight && s.width == m_origWidth) return;
    m_arrangement->AdjustLayoutAroundtem(s);
    MarkChanged();
    NotifyArranging();
}

void CDisplayView::rightMouseDown(double x, double y) {
    int row, col;
    m_arrangement->XY_to_cell(x, y, row, col);
    rightMouseDownOnRowCol(row, col);
}

bool CDisplayView::onKeyPressed(int key, bool shift) {
    if (!m_arranging) return false;
    if (key == Qt::Key_Escape) {
        if (m_selected) {
            SelectItem(nullptr);
            return true;
        }
        return false;
    }
    if (!m_selected) return false;
    if (key == Qt::Key_Delete || key == Qt::Key_Backspace) {
        RemoveItem(m_selected);
        return true;
    }
    int dr = 0, dc = 0;
    switch (key) {
        case Qt::Key_Left:
            dc = -1;
            break;
        case Qt::Key_Right:
            dc = 1;
            break;
        case Qt::Key_Up:
            dr = -1;
            break;
        case Qt::Key_Down:
            dr = 1;
            break;
        default:
            return false;
    }
    if (m_selected->locked) return true;
    CItemSettings& s = *m_selected;
    const CItemArrangement& a = *m_arrangement;
    m_origRow = s.row;
    m_origCol = s.col;
    m_origHeight = s.height;
    m_origWidth = s.width;
    if (shift) {
        PlaceSelectedAt(s.row, s.col, std::clamp(s.height + dr, 1, a.rows - s.row),
                        std::clamp(s.width + dc, 1, a.cols - s.col));
    } else {
        PlaceSelectedAt(std::clamp(s.row + dr, 0, a.rows - s.height), std::clamp(s.col + dc, 0, a.cols - s.width),
                        s.height, s.width);
    }
    if (s.row != m_origRow || s.col != m_origCol || s.height != m_origHeight || s.width != m_origWidth) {
        m_arrangement->AdjustLayoutAroundtem(s);
        MarkChanged();
    }
    return true;
}

// ---- menus ----

std::shared_ptr<CActionSheetMenu> CDisplayView::BuildDataTypeMenu(int row, int col) {
    auto menu = std::make_shared<CActionSheetMenu>("Add Item");
    std::map<std::string, CActionSheetMenu*> groups;
    for (const CItemSettingsType* t : CItemSettingsType::All()) {
        if (!t->IsOffered()) continue;
        std::string group = t->Category();
        if (group.empty()) group = "Other";
        CActionSheetMenu*& sub = groups[group];
        if (!sub) sub = &menu->addSubmenu(group, group + ":");
        const int id = t->typeId;
        sub->add(t->ItemName(), [this, id, row, col] {
            const CItemSettingsType* type = CItemSettingsType::findType(id);
            CItemSettings* s = AddItem(type, row, col);
            if (!s) return;
            // Put it at the cell asked for when that is free in its layer, else anywhere free.
            bool clear = true;
            for (auto& other : m_arrangement->settings) {
                if (other.get() == s || other->layer != s->layer) continue;
                const RECT a = other->CellRect(), b = s->CellRect();
                if (a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom) clear = false;
            }
            if (!clear) m_arrangement->findSpaceForItem(*s);
            if (m_arranging) SelectItem(s);
        });
    }
    return menu;
}

std::shared_ptr<CActionSheetMenu> CDisplayView::BuildItemMenu(int row, int col) {
    CItemSettings* s = m_arranging && m_selected ? m_selected : NextItemAt(row, col, nullptr);
    if (m_arranging && s && m_selected) {
        const RECT r = s->CellRect();
        if (row < r.top || row >= r.bottom || col < r.left || col >= r.right) s = NextItemAt(row, col, nullptr);
    }
    auto menu = std::make_shared<CActionSheetMenu>(s ? s->TypeName() : std::string("Page"));
    CItem* item = s ? ItemFor(s) : nullptr;
    if (item) item->addMenus(*menu, m_hwnd);
    if (!m_arranging) return menu;
    if (s) {
        if (item) item->addEditMenus(*menu, m_hwnd);
        menu->add(s->locked ? "Unlock" : "Lock", [this, s] {
            if (!Holds(s)) return;
            s->locked = !s->locked;
            MarkChanged();
            NotifyArranging();
        });
        char text[32];
        std::snprintf(text, sizeof text, "Layer: %d", s->layer);
        CActionSheetMenu& layers = menu->addSubmenu(text, "Layer");
        for (int l = CItemSettings::kMinLayer; l <= CItemSettings::kMaxLayer; ++l) {
            auto& e = layers.add(std::to_string(l), [this, s, l] {
                if (!Holds(s)) return;
                m_arrangement->AdjustLayer(*s, l);
                MarkChanged();
                NotifyArranging();
            });
            e.checked = l == s->layer;
        }
        // Another item under this one can only be reached by cycling.
        CItemSettings* under = NextItemAt(row, col, s);
        if (under && under != s)
            menu->add("Select Item Below", [this, under] {
                if (Holds(under)) SelectItem(under);
            });
        menu->add("Remove Item", [this, s] {
            if (Holds(s)) RemoveItem(s);
        });
    }
    menu->add("Add Item", [this, row, col] { showDataTypeMenu(row, col); });
    return menu;
}

void CDisplayView::showDataTypeMenu(int row, int col) {
    ShowActionSheet(m_hwnd, BuildDataTypeMenu(row, col));
}

void CDisplayView::rightMouseDownOnRowCol(int row, int col) {
    auto menu = BuildItemMenu(row, col);
    if (!menu->empty()) ShowActionSheet(m_hwnd, menu);
}
