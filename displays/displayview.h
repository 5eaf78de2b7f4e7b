// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Pages of display items laid out on a grid of cells.
//
// A CDisplayView is one page; its CItemArrangement holds the item settings (what is on
// the page and where, in whole cells) and, while the page is shown, the live items. The
// live items never draw into the window themselves: each one owns an adaptor, a
// user-interface object implementing IWindow, which the page's own window creates.
// Nothing here knows QtQuick; the adaptors live in displays/quick.
//
// Everything runs on the GUI thread.

#include <QColor>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "core/serializable.h"
#include "core/uiservices.h"
#include "displays/actionsheet.h"

class QPainter;
class CDisplayViewPageSet;
class CDisplayViewArrangementSet;

class CDisplayView : public CSerializable {
public:
    class IWindow;
    class CItem;
    class CItemSettings;
    class CItemSettingsType;
    class CItemArrangement;
    class CItemText;
    class CItemMultilineText;
    class CItemDraw;
    class CItemButton;
    class CItemStaticImage;
    class CItem3D;

    static constexpr int kSignatureSize = 5;

    CDisplayView();
    ~CDisplayView() override;
    CDisplayView(const CDisplayView&) = delete;
    CDisplayView& operator=(const CDisplayView&) = delete;

    bool Serialize(IOStream& s) override;

    // Showing the page. Attaching creates the live items and their adaptors; detaching
    // destroys them (their settings stay).
    bool Attach(IWindow& window, const NV_HWND& hwnd);
    void DetachFromWindow();
    IWindow* Window() const { return m_window; }
    const NV_HWND& Hwnd() const { return m_hwnd; }
    // Re-lays the items out for the window's present size. With `allowPageSetChange`,
    // first lets the arrangement set pick the page set for that size; true when that
    // replaced this page in its window by another one.
    bool Resized(bool allowPageSetChange);

    // Editing.
    CItemSettings* AddItem(const CItemSettingsType* type, int row = -1, int col = -1, int rows = 0, int cols = 0,
                           int layer = 0);
    void RemoveItem(CItemSettings* settings);
    void SelectItem(CItemSettings* settings);
    CItemSettings* SelectedItem() const { return m_selected; }
    const FRect& SelectedRect() const { return m_selectedRect; }
    bool isArranging() const { return m_arranging; }
    void SetArranging(bool arranging);
    bool isCurrentPage() const;

    // Lookup. Cells are (row, column).
    // The next item (in front-to-back order) covering the cell after `after`, wrapping;
    // the frontmost when `after` is null or not at the cell.
    CItemSettings* NextItemAt(int row, int col, CItemSettings* after) const;
    // The frontmost live item of one of `types` (any type when empty) covering the cell.
    CItem* findItemAt(const std::set<int>& types, int row, int col) const;
    void forAllItemsOfType(int type, const std::function<void(CItem*)>& fn) const;
    // The live item of one of `types` with the largest area; `area` receives its area in
    // cells (0 and null when there is none).
    CItem* FindLargestItemOfTypes(const std::set<int>& types, int& area) const;
    // Settings-level variant, usable while the page is not shown.
    CItemSettings* FindLargestSettingsOfTypes(const std::set<int>& types) const;
    bool compareSignature(const int* sig) const;
    const int* Signature() const { return m_signature; }
    void UpdateSignature();
    std::string getPageName() const;

    void AdjustCellsForScreen();
    void SaveIfNeeded();
    void MarkChanged();
    bool IsChanged() const { return m_changed; }
    void ClearChanged() { m_changed = false; }

    // Pointer and keyboard input while arranging (page coordinates, device-independent).
    void onMouseDown(double x, double y);
    void onMouseDragged(double x, double y);
    void onMouseUp(double x, double y);
    void rightMouseDown(double x, double y);
    // Qt key codes; true when the key was used.
    bool onKeyPressed(int key, bool shift = false);

    // Menus: the item types to add at a cell, and the menu of the item at a cell.
    std::shared_ptr<CActionSheetMenu> BuildDataTypeMenu(int row, int col);
    std::shared_ptr<CActionSheetMenu> BuildItemMenu(int row, int col);
    void showDataTypeMenu(int row, int col);
    void rightMouseDownOnRowCol(int row, int col);

    // Whether `s` is still one of this page's items (menus outlive edits).
    bool Holds(const CItemSettings* s) const;

    CItemArrangement& Arrangement() { return *m_arrangement; }
    const CItemArrangement& Arrangement() const { return *m_arrangement; }
    CDisplayViewPageSet* PageSet() const { return m_pageSet; }
    void SetPageSet(CDisplayViewPageSet* set) { m_pageSet = set; }
    // Pixels per inch of the window (from the arrangement set when there is one).
    double Resolution() const;

    std::string name;

private:
    enum class DragMode { None, Move, Resize };
    void NotifyArranging();
    void PlaceSelectedAt(int row, int col, int height, int width);
    CItem* ItemFor(const CItemSettings* s) const;

    int m_signature[kSignatureSize] = {0, 0, 0, 0, 0};
    std::unique_ptr<CItemArrangement> m_arrangement;
    IWindow* m_window = nullptr;
    NV_HWND m_hwnd;
    CDisplayViewPageSet* m_pageSet = nullptr;
    CItemSettings* m_selected = nullptr;
    FRect m_selectedRect;
    bool m_arranging = false;
    bool m_changed = false;

    // The drag in progress while arranging.
    DragMode m_drag = DragMode::None;
    int m_pressRow = 0, m_pressCol = 0;
    int m_origRow = 0, m_origCol = 0, m_origHeight = 0, m_origWidth = 0;
};

// The window interface. The page's own window implements the geometry queries and the
// adaptor factories; each adaptor implements the geometry operations for its item.
// Coordinates are device-independent pixels of the page.
class CDisplayView::IWindow {
public:
    virtual ~IWindow() = default;

    virtual void Move(double x, double y, double w, double h) = 0;
    virtual void SetSize(double w, double h) = 0;
    virtual void GetSize(double& w, double& h) const = 0;
    virtual void GetXY(double& x, double& y) const = 0;
    virtual void SetLayer(int layer) = 0;
    virtual void show(bool visible) = 0;
    // The item's content changed: draw it again.
    virtual void Invalidate() = 0;
    // The item is going away: forget it (no further calls into it).
    virtual void Detach() = 0;
    // Deletes the adaptor; the caller never touches it again.
    virtual void Destroy() = 0;

    // Page windows: the screen's safe-area insets.
    virtual void GetSafeAreaInsets(double& left, double& top, double& right, double& bottom) const {
        left = top = right = bottom = 0;
    }
    // Page windows: adaptors for the page's items (null where the window makes none).
    virtual IWindow* CreateViewAdaptor(CItem&) { return nullptr; }
    virtual IWindow* CreatePaintAdaptor(CItem&) { return nullptr; }
    virtual IWindow* CreateTextAdaptor(CItem&) { return nullptr; }
    virtual IWindow* CreateButtonAdaptor(CItem&) { return nullptr; }
    // Page windows: arranging mode, the selection or its rectangle changed.
    virtual void ArrangingChanged() {}
    // Page windows: the page now shown (null when it was detached).
    virtual void PageAttached(CDisplayView*) {}
    // The user-interface object behind the window, for anchoring dialogs.
    virtual QObject* UiObject() { return nullptr; }
};

// A registered item type. Types register at static initialisation; a type registered as
// a placeholder (kPlaceholder) gives way to a real registration of the same identifier,
// whatever the order of initialisation.
class CDisplayView::CItemSettingsType : public CSerializable::Type {
public:
    static constexpr uint8_t kPlaceholder = 0x80;
    // Not offered in the "add item" menu.
    static constexpr uint8_t kHidden = 0x01;

    CItemSettingsType(const char* name, int id, int defaultLayer, int defaultWidth, int defaultHeight,
                      uint8_t flags = 0);
    ~CItemSettingsType() override;

    // New settings of this type with its defaults (position and size still unset).
    virtual CItemSettings* NewSettings() const = 0;
    // The object reader's factory: always the winning registration for the identifier.
    CSerializable* Create() const final;

    std::string Category() const;  // before the colon
    std::string ItemName() const;  // after the colon, without leading spaces
    bool IsPlaceholder() const { return (flags & kPlaceholder) != 0; }
    // False while the feature behind the type is missing from this run (a button whose
    // action has nothing to act on): such items are hidden and not offered.
    virtual bool FeatureAvailable() const { return true; }
    // Listed in the "Add Item" menu: computes something real and can do it now.
    bool IsOffered() const { return !IsPlaceholder() && !(flags & kHidden) && FeatureAvailable(); }

    const char* name;
    int typeId;
    int defaultLayer;
    int defaultWidth;   // hundredths of an inch
    int defaultHeight;  // hundredths of an inch
    uint8_t flags;
    CItemSettingsType* nextType;

    static CItemSettingsType* head;
    static const CItemSettingsType* findType(int id);
    static std::string getNameOfType(int id);
    // Every identifier once (the winning registration), in identifier order.
    static std::vector<const CItemSettingsType*> All();
};

template <class Settings>
class CItemSettingsTypeOf : public CDisplayView::CItemSettingsType {
public:
    using CItemSettingsType::CItemSettingsType;
    CDisplayView::CItemSettings* NewSettings() const override { return new Settings(typeId); }
};

// The stored part of one item. Its type identifier is also its object-file type, so
// pages store items polymorphically. Derived settings call this Serialize first and then
// store their own fields in a section of their own.
class CDisplayView::CItemSettings : public CSerializable {
public:
    static constexpr int kMinLayer = 1;
    static constexpr int kMaxLayer = 9;

    explicit CItemSettings(int typeId = 0);
    uint32_t GetTypeId() const override { return uint32_t(m_typeId); }
    int TypeId() const { return m_typeId; }
    const CItemSettingsType* Type() const { return CItemSettingsType::findType(m_typeId); }
    std::string TypeName() const { return CItemSettingsType::getNameOfType(m_typeId); }

    bool Serialize(IOStream& s) override;
    // Builds the live item; the default shows the type's name over "---".
    virtual CItem* CreateItem(IWindow& pageWindow);
    // The position of this item among the items of its type (files named after it).
    virtual void SetIndex(int i) { index = i; }

    // The cells covered: left = column, top = row, right and bottom exclusive.
    RECT CellRect() const { return RECT(col, row, col + width, row + height); }
    int Area() const { return width * height; }

    int row = 0;
    int col = 0;
    int height = 1;  // rows
    int width = 1;   // columns
    int layer = 5;   // 1..9, higher in front
    bool option = false;
    bool locked = false;  // not moved or resized while arranging
    int index = -1;
    CDisplayView* page = nullptr;  // set while the settings belong to a page

private:
    int m_typeId;
};

// A live item: exists while its page is shown.
class CDisplayView::CItem {
public:
    explicit CItem(CItemSettings& settings);
    virtual ~CItem();
    CItem(const CItem&) = delete;
    CItem& operator=(const CItem&) = delete;

    // Makes the item's adaptor through the page's window (a kind-specific factory).
    virtual void CreateAdaptor(IWindow& pageWindow);

    CItemSettings& Settings() const { return m_settings; }
    CDisplayView* Page() const { return m_settings.page; }
    IWindow* Window() const { return m_window; }
    // Takes ownership of `w` (released through Destroy()).
    void SetWindow(IWindow* w);
    // The item's rectangle on the page, as last positioned.
    const FRect& Rect() const { return m_rect; }
    virtual void SetRect(const FRect& r);

    virtual void addMenus(CActionSheetMenu&, const NV_HWND&) {}
    virtual void addEditMenus(CActionSheetMenu&, const NV_HWND&) {}
    virtual void onItemRemoved() {}
    virtual void onRightClick(int, int) {}
    virtual bool hitTest(int x, int y) const;
    virtual bool overlapsWith(const RECT& cells) const;
    // Settings changed through the item (its menus): mark the page for saving.
    virtual void ItemWasModified();
    // Called by the adaptor when the user clicks it (buttons).
    virtual void onClicked() {}
    // Called by painting adaptors.
    virtual void Draw(QPainter&, double /*w*/, double /*h*/) {}

    // Items that reach the screen edges are stretched to them and get the screen's
    // safe-area insets.
    bool touchesEdges = false;

private:
    CItemSettings& m_settings;
    IWindow* m_window = nullptr;
    FRect m_rect;
};

class CDisplayView::CItemText : public CItem {
public:
    using CItem::CItem;
    void CreateAdaptor(IWindow& pageWindow) override;
    void SetTitleUnits(const std::string& title, const std::string& units);
    void SetValue(const std::string& value);
    const std::string& Title() const { return m_title; }
    const std::string& Units() const { return m_units; }
    const std::string& Value() const { return m_value; }

private:
    std::string m_title, m_units, m_value;
};

class CDisplayView::CItemMultilineText : public CItem {
public:
    using CItem::CItem;
    void CreateAdaptor(IWindow& pageWindow) override;
    void SetText(const std::string& text);
    const std::string& Text() const { return m_text; }

private:
    std::string m_text;
};

// Painted by the item itself through a painting adaptor.
class CDisplayView::CItemDraw : public CItem {
public:
    using CItem::CItem;
    void CreateAdaptor(IWindow& pageWindow) override;
};

class CDisplayView::CItemButton : public CItem {
public:
    using CItem::CItem;
    void CreateAdaptor(IWindow& pageWindow) override;
    void SetLabel(const std::string& label);
    void SetLabelColor(const QColor& c);
    void SetIcon(const std::string& icon, int size = 24);
    void SetEnabled(bool enabled);
    const std::string& Label() const { return m_label; }
    const QColor& LabelColor() const { return m_color; }
    const std::string& Icon() const { return m_icon; }
    int IconSize() const { return m_iconSize; }
    bool Enabled() const { return m_enabled; }
    // What a click does (set by the type that makes the button).
    std::function<void(CItemButton&)> clicked;
    void onClicked() override {
        if (clicked) clicked(*this);
    }

private:
    std::string m_label, m_icon;
    QColor m_color = Qt::black;
    int m_iconSize = 24;
    bool m_enabled = true;
};

class CDisplayView::CItemStaticImage : public CItemDraw {
public:
    using CItemDraw::CItemDraw;
    void SetImagePath(const std::string& path);
    const std::string& ImagePath() const { return m_path; }
    void Draw(QPainter& p, double w, double h) override;

private:
    std::string m_path;
};

// A plain container the item fills with its own user interface (the 3-D view).
class CDisplayView::CItem3D : public CItem {
public:
    using CItem::CItem;
    void CreateAdaptor(IWindow& pageWindow) override;
};

// The cell grid of one page and its items.
class CDisplayView::CItemArrangement : public CSerializable {
public:
    static constexpr uint32_t kMaxItems = 10000000;

    CItemArrangement();
    ~CItemArrangement() override;

    bool Serialize(IOStream& s) override;

    // Geometry.
    void Resized(double w, double h);
    void SetInsets(double left, double top, double right, double bottom);
    void XY_to_cell(double x, double y, int& row, int& col) const;
    // The grid line nearest the point (0..rows, 0..cols).
    void XY_to_nearest_cell_boundary(double x, double y, int& row, int& col) const;
    FRect GetItemRect(const CItemSettings& s, bool touchesEdges = false) const;
    void PositionItem(CItem& item);
    void PositionAll();

    // Live items.
    void CreateItems(CDisplayView& view, IWindow& window);
    void DestroyItems();
    // Items whose feature is missing are hidden, except while the user arranges the page
    // (so they can still be moved or removed).
    void ShowItems(bool arranging);
    static bool ShowsItem(const CItemSettings& s, bool arranging);
    CItem* FindItem(const CItemSettings* s) const;

    // Settings.
    CItemSettings* AddItem(std::unique_ptr<CItemSettings> s);
    void RemoveItem(CItemSettings* s);
    // Puts the item where no other item of its layer is; true when such a place exists.
    // Otherwise it goes where it overlaps the fewest cells of that layer.
    bool findSpaceForItem(CItemSettings& s);
    bool findSpaceForItem(CItem* item) { return item && findSpaceForItem(item->Settings()); }
    // After `placed` was put down: other items of its layer that it now covers move to
    // free places when there are some.
    void AdjustLayoutAroundtem(CItemSettings& placed);
    void AdjustLayoutAroundtem(CItem* item) {
        if (item) AdjustLayoutAroundtem(item->Settings());
    }
    void AdjustLayer(CItemSettings& s, int layer);
    void AdjustLayer(CItem& item, int layer) { AdjustLayer(item.Settings(), layer); }
    // Keeps an item inside the grid: at least one cell, never past an edge.
    void ClampToGrid(CItemSettings& s) const;
    void Get5LargestItems(int* sig) const;
    // Item settings from the largest to the smallest (ties: earlier first).
    std::vector<CItemSettings*> GetItemTypesBySize() const;
    // The same items (types) in the same cells.
    bool Matches(const CItemArrangement& other) const;
    // Rescales the grid to 8 cells per inch of the reference size.
    void AdjustCellsForScreen(int refWidth, int refHeight);

    int rows = 25;
    int cols = 51;
    int margin = 2;
    double cellWidth = 0;
    double cellHeight = 0;
    double viewWidth = 0;
    double viewHeight = 0;
    double insetLeft = 0, insetTop = 0, insetRight = 0, insetBottom = 0;
    std::vector<std::unique_ptr<CItemSettings>> settings;
    std::map<const CItemSettings*, std::unique_ptr<CItem>> items;
    CDisplayView* view = nullptr;

private:
    void Recompute();
};

// Pages for one screen size.
class CDisplayViewPageSet : public CSerializable {
public:
    static constexpr uint32_t kMagic = 0x1D85823C;
    static constexpr uint32_t kMaxPages = 100;

    explicit CDisplayViewPageSet(CDisplayViewArrangementSet* owner = nullptr);
    ~CDisplayViewPageSet() override;

    bool Serialize(IOStream& s) override;

    CDisplayView* getCurrentPage() const { return m_current; }
    void setPage(CDisplayView* page);
    // Makes the following (preceding) page current, wrapping, and returns it.
    CDisplayView* nextPage();
    CDisplayView* previousPage();
    // Makes sure there is a page and a current page.
    void checkCurrentPage();
    CDisplayView* AddNewPage();
    CDisplayView* AppendPage(std::unique_ptr<CDisplayView> page);
    void RemoveCurrentPage();
    void RemovePageAt(int index);
    int IndexOf(const CDisplayView* page) const;
    CDisplayView* FindPageMatching(const CDisplayView& page) const;
    CDisplayView* bestPageForSignature(const int* sig) const;
    void setBestPageForSignature(const int* sig);
    int SizeDifference(int w, int h) const;
    void AdjustPagesForScreen();
    void ReIndexItems();
    void ReIndexItemsOfType(int type);
    std::string getScreenName() const;

    void MarkChanged() { changed = true; }
    CDisplayViewArrangementSet* Owner() const { return m_owner; }
    void SetOwner(CDisplayViewArrangementSet* o) { m_owner = o; }

    std::vector<std::unique_ptr<CDisplayView>> pages;
    std::string name;
    int width = 640;   // hundredths of an inch
    int height = 320;  // hundredths of an inch
    bool changed = false;

private:
    CDisplayViewArrangementSet* m_owner;
    CDisplayView* m_current = nullptr;
};

// The whole layout: every page set, the current one, and the layout files.
class CDisplayViewArrangementSet : public CSerializable {
public:
    static constexpr uint32_t kMagic = 0x8D85923F;
    static constexpr int kLayoutFileMagic = 0x47F8FB82;
    static constexpr int kPageFileMagic = 0x71831AB9;
    static constexpr uint32_t kMaxPageSets = 25;
    // A new page set must fit the window better than the current one by more than this.
    static constexpr int kPageSetHysteresis = 20;

    CDisplayViewArrangementSet();
    ~CDisplayViewArrangementSet() override;
    CDisplayViewArrangementSet(const CDisplayViewArrangementSet&) = delete;
    CDisplayViewArrangementSet& operator=(const CDisplayViewArrangementSet&) = delete;

    bool Serialize(IOStream& s) override;

    CDisplayViewPageSet* getPageSet() const { return m_current; }
    void setPageset(CDisplayViewPageSet* set);
    CDisplayView* getCurrentPage() const { return m_current ? m_current->getCurrentPage() : nullptr; }
    // Sizes in hundredths of an inch.
    CDisplayViewPageSet* FindBestFitPageSet(int w, int h) const;
    // True when the current page set changed (its page most like the old one is current).
    bool setBestPagesetForWindowSize(int w, int h);
    CDisplayViewPageSet* AddNewArrangement(int w, int h);
    void RemoveArrangement(CDisplayViewPageSet* set);

    // Files. Window sizes here are pixels, converted with the resolution.
    bool LoadFile(const std::string& path, int w, int h);
    bool ReadFileWithMagic(const std::string& path);
    bool WriteFileWithMagic(const std::string& path);
    bool save_layout_if_changed();
    bool saveBackupLayout();
    bool loadInitialLayout(int w = 0, int h = 0);
    bool restoreDefaultLayout(int w, int h);
    bool revertToSavedLayout(int w, int h);
    // Enters arranging mode on the current page (the hint the first time).
    void EditLayout(const NV_HWND& hwnd);
    void EndEditLayout();
    bool isArranging() const;
    void getCurrentPageSignature(int* sig) const;
    // Moves the page sets of `other` to the end of this layout (at most the limit).
    void splicePagesets(CDisplayViewArrangementSet& other);
    void clear();

    // Shows `page` in the window that shows the current page, making it current.
    void ShowPage(CDisplayView* page);
    // Reads one page file into the current page set (unless a matching page exists),
    // shows it and saves the layout. On failure the user sees why and nothing changes.
    bool ImportPageFile(const NV_HWND& hwnd, const std::string& path, std::string& reason);
    // A page to a ".dvpage" file.
    static bool ExportPage(CDisplayView& page, const std::string& path);

    bool AnythingChanged() const;
    void MarkChanged() { changed = true; }
    double Resolution() const { return resolution; }
    void SetResolution(double ppi) {
        if (ppi > 1) resolution = ppi;
    }
    int ToHundredths(int pixels) const { return int(double(pixels) * 100.0 / resolution); }

    static std::string LayoutFilePath();
    static std::string BackupFilePath();
    static std::string CurrentPageFilePath();
    static bool ReadSignatureFile(const std::string& path, int* sig);
    static bool WriteSignatureFile(const std::string& path, const int* sig);
    // Builds the layout first shown to a new user into `set` (what the shipped default
    // layout file holds).
    static void BuildDefaultLayout(CDisplayViewArrangementSet& set);

    std::vector<std::unique_ptr<CDisplayViewPageSet>> pageSets;
    int restoreSignature[CDisplayView::kSignatureSize] = {0, 0, 0, 0, 0};
    bool changed = false;
    double resolution = 96.0;  // pixels per inch

private:
    CDisplayViewPageSet* m_current = nullptr;
};

// The arrangement set the application shows; file imports go to it.
void SetActiveArrangementSet(CDisplayViewArrangementSet* set);
CDisplayViewArrangementSet* GetActiveArrangementSet();
// The importer for "dvpage" and "pstf" files.
bool ImportDisplayPagesFile(const NV_HWND& hwnd, const std::string& path, CBounds& bounds, std::string& reason);
// Whether the first-time editing hint was shown.
bool LayoutHintShown();
void SetLayoutHintShown(bool shown);
