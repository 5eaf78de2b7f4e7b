// SPDX-License-Identifier: GPL-3.0-or-later
// The cell grid of a page: geometry, placement and storage of its items.
#include <algorithm>
#include <climits>
#include <cmath>

#include "displays/displayview.h"

using CItemArrangement = CDisplayView::CItemArrangement;
using CItemSettings = CDisplayView::CItemSettings;
using CItem = CDisplayView::CItem;

namespace {
// Items that fail to read are skipped, so a file cut short inside the item list would
// otherwise read as a page with items missing. The list's last byte must be there.
bool SectionIsComplete(CSerializable::Section& sec) {
    CSerializable::IOStream& s = sec.Stream();
    const long long pos = s.Position();
    char last = 0;
    if (sec.End() <= pos) return true;
    const bool ok = s.Seek(sec.End() - 1) && s.Read(&last, 1);
    return s.Seek(pos) && ok;
}
}  // namespace

CItemArrangement::CItemArrangement() {
    Recompute();
}

CItemArrangement::~CItemArrangement() {
    DestroyItems();
}

bool CItemArrangement::Serialize(IOStream& s) {
    {
        Section sec(s);
        if (s.IsReading() && sec.AtEnd()) return false;
        if (!sec.declare_value(rows) || !sec.declare_value(cols) || !sec.declare_value(margin)) return false;
        if (s.IsReading()) {
            // A grid nobody could have made is a damaged file, not something to lay out.
            if (rows < 1 || cols < 1 || rows > 10000 || cols > 10000 || margin < 0 || margin > 1000) return false;
        }
    }
    Section sec(s);
    if (s.IsWriting()) {
        uint32_t count = uint32_t(settings.size());
        if (!sec.declare_value(count)) return false;
        for (auto& item : settings) {
            if (!item->WritePolymorphic(s)) return false;
        }
        return true;
    }
    if (sec.AtEnd() || !SectionIsComplete(sec)) return false;
    DestroyItems();
    settings.clear();
    uint32_t count = 0;
    if (!sec.declare_value(count) || count > kMaxItems) return false;
    for (uint32_t i = 0; i < count; ++i) {
        // Every stored item takes bytes; a count larger than what the section holds is
        // caught here rather than by building empty objects.
        if (!s.IsOpen() || s.Position() >= sec.End()) return false;
        std::unique_ptr<CSerializable> obj(CSerializable::ReadPolymorphic(s));
        if (!s.IsOpen()) return false;
        auto* item = dynamic_cast<CItemSettings*>(obj.get());
        if (!item) continue;  // a type this program does not know: skipped
        obj.release();
        std::unique_ptr<CItemSettings> owned(item);
        ClampToGrid(*owned);
        owned->page = view;
        settings.push_back(std::move(owned));
    }
    return true;
}

// ---- geometry ----

void CItemArrangement::Recompute() {
    const double w = viewWidth - insetLeft - insetRight;
    const double h = viewHeight - insetTop - insetBottom;
    cellWidth = cols > 0 ? std::max(0.0, w) / cols : 0;
    cellHeight = rows > 0 ? std::max(0.0, h) / rows : 0;
}

void CItemArrangement::Resized(double w, double h) {
    viewWidth = std::max(0.0, w);
    viewHeight = std::max(0.0, h);
    Recompute();
}

void CItemArrangement::SetInsets(double left, double top, double right, double bottom) {
    insetLeft = std::max(0.0, left);
    insetTop = std::max(0.0, top);
    insetRight = std::max(0.0, right);
    insetBottom = std::max(0.0, bottom);
    Recompute();
}

void CItemArrangement::XY_to_cell(double x, double y, int& row, int& col) const {
    const double r = cellHeight > 0 ? std::floor((y - insetTop) / cellHeight) : 0;
    const double c = cellWidth > 0 ? std::floor((x - insetLeft) / cellWidth) : 0;
    // Clamp in floating point first: a point far outside must not overflow an int.
    row = int(std::clamp(r, 0.0, double(std::max(0, rows - 1))));
    col = int(std::clamp(c, 0.0, double(std::max(0, cols - 1))));
}

void CItemArrangement::XY_to_nearest_cell_boundary(double x, double y, int& row, int& col) const {
    const double r = cellHeight > 0 ? std::floor((y - insetTop) / cellHeight + 0.5) : 0;
    const double c = cellWidth > 0 ? std::floor((x - insetLeft) / cellWidth + 0.5) : 0;
    row = int(std::clamp(r, 0.0, double(rows)));
    col = int(std::clamp(c, 0.0, double(cols)));
}

FRect CItemArrangement::GetItemRect(const CItemSettings& s, bool touchesEdges) const {
    FRect r;
    r.left = s.col * cellWidth + margin + insetLeft;
    r.top = s.row * cellHeight + margin + insetTop;
    r.right = r.left + s.width * cellWidth - 2 * margin;
    r.bottom = r.top + s.height * cellHeight - 2 * margin;
    if (touchesEdges) {
        if (s.col == 0) r.left = 0;
        if (s.row == 0) r.top = 0;
        if (s.col + s.width >= cols) r.right = viewWidth;
        if (s.row + s.height >= rows) r.bottom = viewHeight;
    }
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

void CItemArrangement::PositionItem(CItem& item) {
    item.SetRect(GetItemRect(item.Settings(), item.touchesEdges));
}

void CItemArrangement::PositionAll() {
    for (auto& entry : items) PositionItem(*entry.second);
}

// ---- live items ----

void CItemArrangement::CreateItems(CDisplayView& v, IWindow& window) {
    DestroyItems();
    view = &v;
    for (auto& s : settings) {
        s->page = &v;
        std::unique_ptr<CItem> item(s->CreateItem(window));
        if (!item) continue;
        item->CreateAdaptor(window);
        if (IWindow* w = item->Window()) w->show(ShowsItem(*s, v.isArranging()));
        PositionItem(*item);
        items[s.get()] = std::move(item);
    }
}

bool CItemArrangement::ShowsItem(const CItemSettings& s, bool arranging) {
    const CItemSettingsType* type = s.Type();
    return arranging || !type || type->FeatureAvailable();
}

void CItemArrangement::ShowItems(bool arranging) {
    for (auto& [s, item] : items)
        if (IWindow* w = item ? item->Window() : nullptr) w->show(ShowsItem(*s, arranging));
}

void CItemArrangement::DestroyItems() {
    // Items may look at their page while going; take them out of the map first.
    auto gone = std::move(items);
    items.clear();
    gone.clear();
}

CItem* CItemArrangement::FindItem(const CItemSettings* s) const {
    auto it = items.find(s);
    return it == items.end() ? nullptr : it->second.get();
}

// ---- settings ----

CItemSettings* CItemArrangement::AddItem(std::unique_ptr<CItemSettings> s) {
    if (!s) return nullptr;
    ClampToGrid(*s);
    s->page = view;
    settings.push_back(std::move(s));
    return settings.back().get();
}

void CItemArrangement::RemoveItem(CItemSettings* s) {
    auto it = items.find(s);
    if (it != items.end()) {
        std::unique_ptr<CItem> item = std::move(it->second);
        items.erase(it);
        item->onItemRemoved();
    }
    settings.erase(std::remove_if(settings.begin(), settings.end(), [s](auto& p) { return p.get() == s; }),
                   settings.end());
}

void CItemArrangement::ClampToGrid(CItemSettings& s) const {
    s.height = std::clamp(s.height, 1, std::max(1, rows));
    s.width = std::clamp(s.width, 1, std::max(1, cols));
    s.row = std::clamp(s.row, 0, std::max(0, rows - s.height));
    s.col = std::clamp(s.col, 0, std::max(0, cols - s.width));
}

bool CItemArrangement::findSpaceForItem(CItemSettings& s) {
    ClampToGrid(s);
    // Cells taken by the other items of the same layer; other layers may overlap.
    std::vector<int> used(size_t(rows) * size_t(cols), 0);
    for (auto& other : settings) {
        if (other.get() == &s || other->layer != s.layer) continue;
        const RECT r = other->CellRect();
        for (int y = std::max(0, r.top); y < std::min(rows, r.bottom); ++y)
            for (int x = std::max(0, r.left); x < std::min(cols, r.right); ++x) used[size_t(y) * cols + x] = 1;
    }
    // Summed-area table: the number of used cells in any rectangle in constant time.
    std::vector<int> sum(size_t(rows + 1) * size_t(cols + 1), 0);
    const int stride = cols + 1;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            sum[size_t(y + 1) * stride + x + 1] = used[size_t(y) * cols + x] + sum[size_t(y) * stride + x + 1] +
                                                  sum[size_t(y + 1) * stride + x] - sum[size_t(y) * stride + x];
    auto taken = [&](int top, int left) {
        const int bottom = top + s.height, right = left + s.width;
        return sum[size_t(bottom) * stride + right] - sum[size_t(top) * stride + right] -
               sum[size_t(bottom) * stride + left] + sum[size_t(top) * stride + left];
    };
    // Top to bottom, left to right; the first free place wins, else the least covered.
    int bestRow = s.row, bestCol = s.col, bestTaken = INT_MAX;
    for (int y = 0; y + s.height <= rows; ++y) {
        for (int x = 0; x + s.width <= cols; ++x) {
            const int t = taken(y, x);
            if (t < bestTaken) {
                bestTaken = t;
                bestRow = y;
                bestCol = x;
                if (t == 0) break;
            }
        }
        if (bestTaken == 0) break;
    }
    s.row = bestRow;
    s.col = bestCol;
    if (CItem* item = FindItem(&s)) PositionItem(*item);
    return bestTaken == 0;
}

void CItemArrangement::AdjustLayoutAroundtem(CItemSettings& placed) {
    ClampToGrid(placed);
    const RECT pr = placed.CellRect();
    for (auto& other : settings) {
        if (other.get() == &placed || other->layer != placed.layer) continue;
        const RECT r = other->CellRect();
        const bool overlap = r.left < pr.right && pr.left < r.right && r.top < pr.bottom && pr.top < r.bottom;
        if (!overlap) continue;
        // Move it only if it then sits clear; otherwise leave it where the user had it.
        const int oldRow = other->row, oldCol = other->col;
        if (!findSpaceForItem(*other)) {
            other->row = oldRow;
            other->col = oldCol;
        }
        if (CItem* item = FindItem(other.get())) PositionItem(*item);
    }
}

void CItemArrangement::AdjustLayer(CItemSettings& s, int layer) {
    s.layer = std::clamp(layer, CItemSettings::kMinLayer, CItemSettings::kMaxLayer);
    if (CItem* item = FindItem(&s)) {
        if (IWindow* w = item->Window()) w->SetLayer(s.layer);
    }
}

std::vector<CItemSettings*> CItemArrangement::GetItemTypesBySize() const {
    std::vector<CItemSettings*> out;
    for (auto& s : settings) out.push_back(s.get());
    std::stable_sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->Area() > b->Area(); });
    return out;
}

void CItemArrangement::Get5LargestItems(int* sig) const {
    const auto bySize = GetItemTypesBySize();
    for (int i = 0; i < CDisplayView::kSignatureSize; ++i) sig[i] = size_t(i) < bySize.size() ? bySize[i]->TypeId() : 0;
}

bool CItemArrangement::Matches(const CItemArrangement& other) const {
    if (settings.size() != other.settings.size()) return false;
    auto key = [](const CItemSettings& s) { return std::vector<int>{s.TypeId(), s.row, s.col, s.height, s.width}; };
    std::vector<std::vector<int>> a, b;
    for (auto& s : settings) a.push_back(key(*s));
    for (auto& s : other.settings) b.push_back(key(*s));
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

void CItemArrangement::AdjustCellsForScreen(int refWidth, int refHeight) {
    if (refWidth < 51 || refHeight < 51) return;
    const int newRows = int(std::floor(refHeight * 0.08));
    const int newCols = int(std::floor(refWidth * 0.08));
    if (newRows == rows && newCols == cols) return;
    const double fr = rows > 0 ? double(newRows) / rows : 1.0;
    const double fc = cols > 0 ? double(newCols) / cols : 1.0;
    auto scale = [](int v, double f) { return int(v * f + 0.5); };
    for (auto& s : settings) {
        s->row = scale(s->row, fr);
        s->height = std::max(1, scale(s->height, fr));
        s->col = scale(s->col, fc);
        s->width = std::max(1, scale(s->width, fc));
    }
    rows = newRows;
    cols = newCols;
    for (auto& s : settings) ClampToGrid(*s);
    Recompute();
    PositionAll();
}
