// SPDX-License-Identifier: GPL-3.0-or-later
// The item-type registry, item settings and the live item kinds.
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>

#include "displays/displayview.h"

using CItemSettingsType = CDisplayView::CItemSettingsType;
using CItemSettings = CDisplayView::CItemSettings;
using CItem = CDisplayView::CItem;

// ---- registry ----

CItemSettingsType* CItemSettingsType::head = nullptr;

CItemSettingsType::CItemSettingsType(const char* name_, int id, int layer, int w, int h, uint8_t flags_)
    : CSerializable::Type(uint32_t(id)),
      name(name_),
      typeId(id),
      defaultLayer(layer),
      defaultWidth(w),
      defaultHeight(h),
      flags(flags_),
      nextType(head) {
    head = this;
}

CItemSettingsType::~CItemSettingsType() {
    for (CItemSettingsType** p = &head; *p; p = &(*p)->nextType) {
        if (*p == this) {
            *p = nextType;
            break;
        }
    }
}

CSerializable* CItemSettingsType::Create() const {
    // Two registrations (placeholder and real) may share the identifier; whichever the
    // object reader meets first, the real one builds the settings.
    const CItemSettingsType* t = findType(typeId);
    return t ? t->NewSettings() : nullptr;
}

const CItemSettingsType* CItemSettingsType::findType(int id) {
    const CItemSettingsType* found = nullptr;
    for (const CItemSettingsType* t = head; t; t = t->nextType) {
        if (t->typeId != id) continue;
        if (!t->IsPlaceholder()) return t;
        if (!found) found = t;
    }
    return found;
}

std::string CItemSettingsType::getNameOfType(int id) {
    if (const CItemSettingsType* t = findType(id)) return t->name;
    char buf[32];
    std::snprintf(buf, sizeof buf, "type-%d", id);
    return buf;
}

std::string CItemSettingsType::Category() const {
    const std::string n = name;
    const size_t colon = n.find(':');
    return colon == std::string::npos ? std::string() : n.substr(0, colon);
}

std::string CItemSettingsType::ItemName() const {
    std::string n = name;
    const size_t colon = n.find(':');
    if (colon != std::string::npos) n.erase(0, colon + 1);
    n.erase(0, n.find_first_not_of(' '));
    return n;
}

std::vector<const CItemSettingsType*> CItemSettingsType::All() {
    std::vector<const CItemSettingsType*> out;
    std::set<int> seen;
    for (const CItemSettingsType* t = head; t; t = t->nextType) {
        if (seen.insert(t->typeId).second) out.push_back(findType(t->typeId));
    }
    std::sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->typeId < b->typeId; });
    return out;
}

// ---- settings ----

CItemSettings::CItemSettings(int typeId) : m_typeId(typeId) {
    if (const CItemSettingsType* t = CItemSettingsType::findType(typeId)) layer = t->defaultLayer;
}

bool CItemSettings::Serialize(IOStream& s) {
    Section sec(s);
    // Older readers know only the layer relative to 5; newer ones read the plain layer
    // after the option byte.
    int olderLayer = layer - 5;
    int storedLayer = layer;
    if (s.IsReading()) storedLayer = 0;
    bool ok = sec.declare_value(row) && sec.declare_value(col) && sec.declare_value(height) &&
              sec.declare_value(width) && sec.declare_value(olderLayer) && sec.declare_value(option) &&
              sec.declare_value(storedLayer) && sec.declare_value(locked);
    if (!ok) return false;
    if (s.IsReading()) {
        const int l = storedLayer == 0 ? olderLayer + 5 : storedLayer;
        layer = std::clamp(l, kMinLayer, kMaxLayer);
        // Nonsense sizes from a damaged file become something the grid can hold.
        if (height < 1) height = 1;
        if (width < 1) width = 1;
        if (row < 0) row = 0;
        if (col < 0) col = 0;
    }
    return true;
}

CItem* CItemSettings::CreateItem(IWindow&) {
    // A type whose data the program does not have yet: show what it is, and no value.
    auto* item = new CDisplayView::CItemText(*this);
    const CItemSettingsType* t = Type();
    item->SetTitleUnits(t ? t->ItemName() : TypeName(), std::string());
    item->SetValue("---");
    return item;
}

// ---- live items ----

CItem::CItem(CItemSettings& settings) : m_settings(settings) {}

CItem::~CItem() {
    SetWindow(nullptr);
}

void CItem::SetWindow(IWindow* w) {
    if (m_window == w) return;
    if (m_window) {
        m_window->Detach();
        m_window->Destroy();
    }
    m_window = w;
}

void CItem::CreateAdaptor(IWindow& pageWindow) {
    SetWindow(pageWindow.CreateViewAdaptor(*this));
}

void CItem::SetRect(const FRect& r) {
    m_rect = r;
    if (m_window) {
        m_window->Move(r.left, r.top, r.Width(), r.Height());
        m_window->SetLayer(m_settings.layer);
    }
}

bool CItem::hitTest(int x, int y) const {
    return m_rect.HitTest(x, y);
}

bool CItem::overlapsWith(const RECT& cells) const {
    const RECT r = m_settings.CellRect();
    return r.left < cells.right && cells.left < r.right && r.top < cells.bottom && cells.top < r.bottom;
}

void CItem::ItemWasModified() {
    if (CDisplayView* p = Page()) p->MarkChanged();
}

void CDisplayView::CItemText::CreateAdaptor(IWindow& pageWindow) {
    SetWindow(pageWindow.CreateTextAdaptor(*this));
}

void CDisplayView::CItemText::SetTitleUnits(const std::string& title, const std::string& units) {
    if (title == m_title && units == m_units) return;
    m_title = title;
    m_units = units;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemText::SetValue(const std::string& value) {
    if (value == m_value) return;
    m_value = value;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemMultilineText::CreateAdaptor(IWindow& pageWindow) {
    SetWindow(pageWindow.CreateTextAdaptor(*this));
}

void CDisplayView::CItemMultilineText::SetText(const std::string& text) {
    if (text == m_text) return;
    m_text = text;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemDraw::CreateAdaptor(IWindow& pageWindow) {
    SetWindow(pageWindow.CreatePaintAdaptor(*this));
}

void CDisplayView::CItemButton::CreateAdaptor(IWindow& pageWindow) {
    SetWindow(pageWindow.CreateButtonAdaptor(*this));
}

void CDisplayView::CItemButton::SetLabel(const std::string& label) {
    m_label = label;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemButton::SetLabelColor(const QColor& c) {
    m_color = c;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemButton::SetIcon(const std::string& icon, int size) {
    m_icon = icon;
    m_iconSize = size;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemButton::SetEnabled(bool enabled) {
    m_enabled = enabled;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemStaticImage::SetImagePath(const std::string& path) {
    m_path = path;
    if (Window()) Window()->Invalidate();
}

void CDisplayView::CItemStaticImage::Draw(QPainter& p, double w, double h) {
    QImage img(QString::fromStdString(m_path));
    if (img.isNull() || w <= 0 || h <= 0) return;
    // Fit inside the item keeping the picture's shape.
    const double scale = std::min(w / img.width(), h / img.height());
    const double dw = img.width() * scale, dh = img.height() * scale;
    p.drawImage(QRectF((w - dw) / 2, (h - dh) / 2, dw, dh), img);
}

void CDisplayView::CItem3D::CreateAdaptor(IWindow& pageWindow) {
    SetWindow(pageWindow.CreateViewAdaptor(*this));
}

// ---- the item types ----
//
// Every type the layout files may hold. These registrations give each identifier its
// name, default layer and default size; the code that computes an item's value registers
// the same identifier again (without kPlaceholder) and takes over.

namespace {
using Placeholder = CItemSettingsTypeOf<CItemSettings>;
constexpr uint8_t P = CItemSettingsType::kPlaceholder;

#define NV_ITEM(var, id, name) Placeholder var(name, id, 5, 200, 100, P)
#define NV_ITEM_SIZED(var, id, name, layer, w, h) Placeholder var(name, id, layer, w, h, P)

NV_ITEM(t22, 22, "Goto:Distance");
NV_ITEM(t23, 23, "Goto:Bearing");
NV_ITEM(t24, 24, "Goto:Turn Angle");
NV_ITEM(t25, 25, "Goto:CrossTrack");
NV_ITEM_SIZED(t26, 26, "Goto:Arrow", 4, 300, 300);
NV_ITEM(t33, 33, "Instruments:Boat Speed");
NV_ITEM(t34, 34, "Instruments:Apparent Wind Angle");
NV_ITEM(t35, 35, "Instruments:Apparent Wind Speed");
NV_ITEM(t36, 36, "Instruments:Depth of water");
NV_ITEM(t41, 41, "GPS: Course over Ground");
NV_ITEM(t42, 42, "GPS: Speed over Ground");
NV_ITEM(t43, 43, "GPS: Position");
NV_ITEM(t44, 44, "GPS: Accuracy");
NV_ITEM(t45, 45, "GPS: Altitude");
NV_ITEM(t46, 46, "GPS: Time");
NV_ITEM(t47, 47, "Sensors:Compass Heading");
NV_ITEM(t48, 48, "GPS: Average Course");
NV_ITEM(t49, 49, "GPS: Average Speed");
NV_ITEM(t50, 50, "Track: Logging Button");
NV_ITEM(t51, 51, "Track: Distance travelled");
NV_ITEM(t52, 52, "Track: Moving Time");
NV_ITEM(t53, 53, "Track: Elapsed Time");
NV_ITEM(t54, 54, "Track: Time not moving");
NV_ITEM(t55, 55, "Track: Avg Moving Speed");
NV_ITEM(t56, 56, "Track: Max Speed");
NV_ITEM(t57, 57, "Goto:Time to Next WP");
NV_ITEM(t58, 58, "Goto:ETA Next WP");
NV_ITEM(t59, 59, "Goto:Dist to Route End");
NV_ITEM(t60, 60, "Goto:Time to Route End");
NV_ITEM(t61, 61, "Goto:ETA End of Route");
NV_ITEM(t62, 62, "Goto:VMG Parallel to Leg");
NV_ITEM(t63, 63, "Goto:VMG Towards Mark");
NV_ITEM(t64, 64, "Goto:Turn after Mark");
NV_ITEM_SIZED(t65, 65, "Other:Logo", 2, 200, 100);
NV_ITEM(t66, 66, "Goto:Waypoint name");
NV_ITEM(t68, 68, "GPS: 24h Time with seconds");
NV_ITEM(t69, 69, "Other:Hint To change data");
NV_ITEM(t76, 76, "GPS: Satellites");
NV_ITEM(t78, 78, "Instruments:Water Temperature");
NV_ITEM(t80, 80, "Instruments:Rudder Angle");
NV_ITEM(t81, 81, "Instruments:Average Rudder Angle");
NV_ITEM(t82, 82, "Instruments:Engine RPM");
NV_ITEM(t84, 84, "Instruments:Timer:Time to start");
NV_ITEM(t86, 86, "Instruments:True Wind Direction");
NV_ITEM(t87, 87, "Instruments:True Wind Speed");
NV_ITEM(t88, 88, "Other:Blank");
NV_ITEM(t89, 89, "Instruments:Timer:Distance to line");
NV_ITEM(t90, 90, "Instruments:Timer:ETA Early/Late at Start");
NV_ITEM(t91, 91, "Instruments:Timer:Ping Start Line Right Mark");
NV_ITEM(t92, 92, "Instruments:Timer:Ping Start Line Left Mark");
NV_ITEM(t93, 93, "Instruments:Timer:Start countdown sequence");
NV_ITEM(t94, 94, "Instruments:Mast Rotation Angle");
NV_ITEM(t95, 95, "Sensors:Barometric Pressure");
NV_ITEM(t97, 97, "Goto:Coming Up");
NV_ITEM_SIZED(t99, 99, "Instruments:Dials:True Wind", 4, 200, 200);
NV_ITEM_SIZED(t100, 100, "Instruments:Dials:App Wind", 4, 200, 200);
NV_ITEM_SIZED(t101, 101, "Instruments:Dials:Boat speed", 4, 200, 200);
NV_ITEM_SIZED(t102, 102, "GPS:Speedometer", 4, 200, 200);
NV_ITEM_SIZED(t103, 103, "GPS: Drop Mark Button", 7, 100, 70);
NV_ITEM(t105, 105, "Instruments:Axis:True Wind Dir vs Axis");
NV_ITEM(t106, 106, "Instruments:Axis:Heading vs Axis");
NV_ITEM(t107, 107, "Instruments:Timer:Start Line Bias vs Axis");
NV_ITEM(t108, 108, "Instruments:Timer:Start-Line Bias vs True Wind");
NV_ITEM(t109, 109, "Instruments:Axis:Axis");
NV_ITEM(t110, 110, "Instruments:Axis:COG vs Axis");
NV_ITEM_SIZED(t111, 111, "Maps:2D Map", 2, 400, 400);
NV_ITEM(t112, 112, "Instruments:True Wind Range");
NV_ITEM(t113, 113, "Instruments:True Wind Gust");
NV_ITEM(t114, 114, "Goto:% Along Route");
NV_ITEM_SIZED(t116, 116, "Maps:3D Map", 3, 288, 288);
NV_ITEM(t117, 117, "Track: Resume Button");
NV_ITEM(t118, 118, "GPS: Odometer");
NV_ITEM_SIZED(t120, 120, "Other:Background Image", 1, 200, 200);
NV_ITEM(t121, 121, "Other:Battery Level");
NV_ITEM_SIZED(t122, 122, "Toolbar: Overlays Button", 7, 100, 70);
NV_ITEM_SIZED(t123, 123, "Toolbar: Zoom In", 7, 70, 50);
NV_ITEM_SIZED(t124, 124, "Toolbar: Zoom Out", 7, 70, 50);
NV_ITEM_SIZED(t125, 125, "Toolbar: Search", 7, 70, 50);
NV_ITEM_SIZED(t126, 126, "Toolbar: Add Mark", 7, 70, 50);
NV_ITEM_SIZED(t127, 127, "Toolbar: Add Route", 7, 70, 50);
NV_ITEM(t128, 128, "Track: Average Speed Overall");
NV_ITEM_SIZED(t129, 129, "Toolbar: Lock Screen", 7, 70, 50);
NV_ITEM(t130, 130, "Track: Ascent");
NV_ITEM(t131, 131, "Track: Descent");
NV_ITEM(t132, 132, "Other:Static Text");
NV_ITEM_SIZED(t133, 133, "Other:Profile", 6, 600, 250);
NV_ITEM(t134, 134, "Instruments:Axis:VMG along Axis");
NV_ITEM_SIZED(t135, 135, "Toolbar:Scale In", 7, 70, 50);
NV_ITEM_SIZED(t136, 136, "Toolbar:Scale Out", 7, 70, 50);
NV_ITEM_SIZED(t138, 138, "Toolbar: Quit", 7, 70, 50);

#undef NV_ITEM
#undef NV_ITEM_SIZED
}  // namespace
