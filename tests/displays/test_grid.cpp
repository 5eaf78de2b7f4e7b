// SPDX-License-Identifier: GPL-3.0-or-later
// Cell geometry, placement and editing of items on one page.
#include <QtGlobal>

#include <gtest/gtest.h>

#include <algorithm>

#include "fake_window.h"
#include "tests/support/recording_ui.h"

using Settings = CDisplayView::CItemSettings;
using Type = CDisplayView::CItemSettingsType;

namespace {

// A page of the default 640 x 320 set (25 rows, 51 columns) inside a set.
struct PageFixture : ::testing::Test {
    void SetUp() override {
        set.width = 640;
        set.height = 320;
        page = set.AddNewPage();
    }
    Settings* Add(int type, int row, int col, int rows, int cols, int layer = 0) {
        return page->AddItem(Type::findType(type), row, col, rows, cols, layer);
    }
    CDisplayViewPageSet set;
    CDisplayView* page = nullptr;
};

bool Overlap(const Settings& a, const Settings& b) {
    const RECT x = a.CellRect(), y = b.CellRect();
    return x.left < y.right && y.left < x.right && x.top < y.bottom && y.top < x.bottom;
}

void ExpectInside(const CDisplayView& page, const Settings& s) {
    const auto& a = page.Arrangement();
    EXPECT_GE(s.row, 0);
    EXPECT_GE(s.col, 0);
    EXPECT_GE(s.height, 1);
    EXPECT_GE(s.width, 1);
    EXPECT_LE(s.row + s.height, a.rows);
    EXPECT_LE(s.col + s.width, a.cols);
}

}  // namespace

TEST(DisplayGrid, CellGeometryWithInsetsAndEdges) {
    CDisplayView::CItemArrangement a;
    a.rows = 10;
    a.cols = 20;
    a.margin = 2;
    a.SetInsets(10, 20, 30, 40);
    a.Resized(440, 560);  // usable 400 x 500: cells 20 x 50
    EXPECT_DOUBLE_EQ(a.cellWidth, 20);
    EXPECT_DOUBLE_EQ(a.cellHeight, 50);

    int row, col;
    a.XY_to_cell(10, 20, row, col);  // the first usable point
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
    a.XY_to_cell(29.999, 69.999, row, col);  // just before the next cell
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
    a.XY_to_cell(30, 70, row, col);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(col, 1);
    // Inside the insets and far outside the page: clamped into the grid, no overflow.
    a.XY_to_cell(0, 0, row, col);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
    a.XY_to_cell(439, 559, row, col);
    EXPECT_EQ(row, 9);
    EXPECT_EQ(col, 19);
    a.XY_to_cell(1e300, -1e300, row, col);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 19);

    Settings s(42);
    s.row = 1;
    s.col = 2;
    s.height = 3;
    s.width = 4;
    const FRect r = a.GetItemRect(s);
    EXPECT_DOUBLE_EQ(r.left, 2 * 20 + 2 + 10);
    EXPECT_DOUBLE_EQ(r.top, 1 * 50 + 2 + 20);
    EXPECT_DOUBLE_EQ(r.Width(), 4 * 20 - 4);
    EXPECT_DOUBLE_EQ(r.Height(), 3 * 50 - 4);

    // An item covering the whole grid that touches the screen edges fills the view,
    // insets included; one that does not stays inside the safe area.
    Settings all(111);
    all.height = 10;
    all.width = 20;
    const FRect edge = a.GetItemRect(all, true);
    EXPECT_DOUBLE_EQ(edge.left, 0);
    EXPECT_DOUBLE_EQ(edge.top, 0);
    EXPECT_DOUBLE_EQ(edge.right, 440);
    EXPECT_DOUBLE_EQ(edge.bottom, 560);
    const FRect inner = a.GetItemRect(all, false);
    EXPECT_DOUBLE_EQ(inner.left, 12);
    EXPECT_DOUBLE_EQ(inner.bottom, 560 - 40 - 2);

    a.XY_to_nearest_cell_boundary(439, 559, row, col);
    EXPECT_EQ(row, 10);
    EXPECT_EQ(col, 20);
}

TEST(DisplayGrid, ZeroSizedViewDoesNotDivideByZero) {
    CDisplayView::CItemArrangement a;
    a.Resized(0, 0);
    int row = -1, col = -1;
    a.XY_to_cell(50, 50, row, col);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(col, 0);
}

TEST(DisplayGrid, GridFollowsReferenceSizeAndScalesItems) {
    CDisplayViewPageSet set;
    set.width = 640;
    set.height = 320;
    CDisplayView* page = set.AddNewPage();
    EXPECT_EQ(page->Arrangement().rows, 25);
    EXPECT_EQ(page->Arrangement().cols, 51);

    Settings* s = page->AddItem(Type::findType(42), 10, 20, 5, 10);
    Settings* tiny = page->AddItem(Type::findType(41), 0, 0, 1, 1);
    // Half the size: 12 rows (floor 12.8), 25 columns (floor 25.6).
    set.width = 320;
    set.height = 160;
    page->AdjustCellsForScreen();
    EXPECT_EQ(page->Arrangement().rows, 12);
    EXPECT_EQ(page->Arrangement().cols, 25);
    EXPECT_EQ(s->row, int(10 * 12.0 / 25 + 0.5));
    EXPECT_EQ(s->col, int(20 * 25.0 / 51 + 0.5));
    EXPECT_EQ(s->height, int(5 * 12.0 / 25 + 0.5));
    EXPECT_EQ(s->width, int(10 * 25.0 / 51 + 0.5));
    EXPECT_EQ(tiny->height, 1);  // 0.48 rounds to 0 but an item keeps a cell
    EXPECT_EQ(tiny->width, 1);

    // Reference sizes too small for a grid leave it alone.
    set.width = 50;
    page->AdjustCellsForScreen();
    EXPECT_EQ(page->Arrangement().cols, 25);
}

TEST_F(PageFixture, DefaultSizeComesFromTheTypeInHundredthsOfAnInch) {
    // The map is 400 x 400 hundredths: 32 columns... clamped to the grid's 25 rows.
    Settings* map = page->AddItem(Type::findType(111));
    EXPECT_EQ(map->width, 32);
    EXPECT_EQ(map->height, 25);
    EXPECT_EQ(map->layer, 2);
    Settings* zoom = page->AddItem(Type::findType(123));  // 70 x 50: 6 x 4 cells, layer 7
    EXPECT_EQ(zoom->width, 6);
    EXPECT_EQ(zoom->height, 4);
    EXPECT_EQ(zoom->layer, 7);
}

TEST_F(PageFixture, FindSpaceAvoidsSameLayerOnly) {
    Settings* big = Add(42, 0, 0, 25, 30, 5);
    Settings* other = Add(41, 0, 0, 10, 10, 5);
    // The free area is columns 30..50 of the same layer.
    EXPECT_TRUE(page->Arrangement().findSpaceForItem(*other));
    EXPECT_FALSE(Overlap(*big, *other));
    EXPECT_GE(other->col, 30);
    ExpectInside(*page, *other);

    // A different layer may lie over the big item.
    Settings* front = Add(22, 3, 3, 5, 5, 7);
    EXPECT_TRUE(page->Arrangement().findSpaceForItem(*front));
    EXPECT_EQ(front->row, 0);
    EXPECT_EQ(front->col, 0);

    // No free place: it still ends up inside the grid, where it covers the least.
    Settings* huge = Add(23, 0, 0, 25, 40, 5);
    EXPECT_FALSE(page->Arrangement().findSpaceForItem(*huge));
    ExpectInside(*page, *huge);
    EXPECT_EQ(huge->col, 11);  // as far right as it fits: only 19 columns of the big one covered
}

TEST_F(PageFixture, AddWithoutPlacePutsItemInFreeSpace) {
    Add(42, 0, 0, 25, 25, 5);
    Settings* s = page->AddItem(Type::findType(41), -1, -1, 5, 5, 5);
    EXPECT_GE(s->col, 25);
    ExpectInside(*page, *s);
}

TEST_F(PageFixture, DraggingMovesAndResizesInWholeCellsInsideThePage) {
    FakePageWindow window(510, 250);  // 10 x 10 pixel cells
    page->Attach(window, {});
    Settings* s = Add(42, 5, 5, 4, 6, 5);
    page->SetArranging(true);

    // Press inside (not the corner) and drag to a point 3.7 cells right and 2.2 down:
    // the item moves by the cells crossed, never by fractions.
    page->onMouseDown(55, 55);
    EXPECT_EQ(page->SelectedItem(), s);
    page->onMouseDragged(55 + 37, 55 + 22);
    EXPECT_EQ(s->col, 9);
    EXPECT_EQ(s->row, 7);
    // The adaptor follows the cells while dragging.
    FakeAdaptor* ad = window.AdaptorOf(*page, s);
    ASSERT_NE(ad, nullptr);
    EXPECT_DOUBLE_EQ(ad->x, 9 * 10 + 2);
    // Far beyond the bottom-right: stops at the edge, size unchanged.
    page->onMouseDragged(5000, 5000);
    page->onMouseUp(5000, 5000);
    EXPECT_EQ(s->row, 25 - 4);
    EXPECT_EQ(s->col, 51 - 6);
    EXPECT_EQ(s->height, 4);
    EXPECT_EQ(s->width, 6);
    EXPECT_TRUE(page->IsChanged());

    // Beyond the top-left.
    page->onMouseDown(s->col * 10 + 1, s->row * 10 + 1);
    page->onMouseDragged(-5000, -5000);
    page->onMouseUp(-5000, -5000);
    EXPECT_EQ(s->row, 0);
    EXPECT_EQ(s->col, 0);

    // The bottom-right cell resizes; never below one cell nor past the page.
    page->onMouseDown(5 * 10 + 5, 3 * 10 + 5);
    page->onMouseDragged(-1000, -1000);
    EXPECT_EQ(s->height, 1);
    EXPECT_EQ(s->width, 1);
    EXPECT_EQ(s->row, 0);
    page->onMouseDragged(99999, 99999);
    page->onMouseUp(99999, 99999);
    EXPECT_EQ(s->height, 25);
    EXPECT_EQ(s->width, 51);
    ExpectInside(*page, *s);
    page->DetachFromWindow();
    EXPECT_TRUE(window.live.empty());
}

TEST_F(PageFixture, LockedItemsAndOutsideArrangingDoNotMove) {
    FakePageWindow window(510, 250);
    page->Attach(window, {});
    Settings* s = Add(42, 5, 5, 4, 6, 5);
    page->onMouseDown(55, 55);  // not arranging: nothing happens
    page->onMouseDragged(200, 200);
    EXPECT_EQ(s->row, 5);
    EXPECT_EQ(page->SelectedItem(), nullptr);

    page->SetArranging(true);
    s->locked = true;
    page->onMouseDown(55, 55);
    page->onMouseDragged(200, 200);
    page->onMouseUp(200, 200);
    EXPECT_EQ(s->row, 5);
    EXPECT_EQ(s->col, 5);
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Right));
    EXPECT_EQ(s->col, 5);
    page->DetachFromWindow();
}

TEST_F(PageFixture, KeysMoveResizeAndRemoveTheSelection) {
    Settings* s = Add(42, 0, 0, 2, 2, 5);
    EXPECT_FALSE(page->onKeyPressed(Qt::Key_Right));  // not arranging
    page->SetArranging(true);
    page->SelectItem(s);
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Left));  // already at the edge
    EXPECT_EQ(s->col, 0);
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Down));
    EXPECT_EQ(s->row, 1);
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Right, true));
    EXPECT_EQ(s->width, 3);
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Up, true));
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Up, true));
    EXPECT_EQ(s->height, 1);
    EXPECT_TRUE(page->onKeyPressed(Qt::Key_Delete));
    EXPECT_TRUE(page->Arrangement().settings.empty());
    EXPECT_EQ(page->SelectedItem(), nullptr);
}

TEST_F(PageFixture, PlacingAnItemMovesCoveredItemsOfItsLayerWhenThereIsRoom) {
    FakePageWindow window(510, 250);
    page->Attach(window, {});
    Settings* a = Add(42, 0, 0, 5, 5, 5);
    Settings* b = Add(41, 0, 20, 5, 5, 5);
    Settings* c = Add(22, 0, 10, 5, 5, 4);  // another layer: may stay under
    page->SetArranging(true);
    page->onMouseDown(205, 5);  // b
    page->onMouseDragged(25, 5);
    page->onMouseUp(25, 5);
    EXPECT_EQ(b->col, 2);
    EXPECT_FALSE(Overlap(*a, *b));
    EXPECT_EQ(c->col, 10);
    ExpectInside(*page, *a);
    // The moved item's adaptor went with it.
    FakeAdaptor* ad = window.AdaptorOf(*page, a);
    ASSERT_NE(ad, nullptr);
    EXPECT_DOUBLE_EQ(ad->x, a->col * 10 + 2);
    page->DetachFromWindow();
}

TEST_F(PageFixture, PressCyclesAndLayersDecideWhatIsFront) {
    Settings* back = Add(111, 0, 0, 25, 51, 2);
    Settings* front = Add(123, 0, 0, 4, 6, 7);
    EXPECT_EQ(page->NextItemAt(1, 1, nullptr), front);
    EXPECT_EQ(page->NextItemAt(1, 1, front), back);
    EXPECT_EQ(page->NextItemAt(1, 1, back), front);
    EXPECT_EQ(page->NextItemAt(20, 40, nullptr), back);

    FakePageWindow window(510, 250);
    page->Attach(window, {});
    EXPECT_EQ(window.AdaptorOf(*page, front)->layer, 7);
    page->Arrangement().AdjustLayer(*front, 12);
    EXPECT_EQ(front->layer, 9);
    EXPECT_EQ(window.AdaptorOf(*page, front)->layer, 9);
    EXPECT_EQ(page->findItemAt({111}, 1, 1)->Settings().TypeId(), 111);
    EXPECT_EQ(page->findItemAt({}, 1, 1)->Settings().TypeId(), 123);
    EXPECT_EQ(page->findItemAt({42}, 1, 1), nullptr);
    page->DetachFromWindow();
}

TEST_F(PageFixture, ItemMenuOffersLockAndLayer) {
    Settings* s = Add(42, 2, 2, 4, 4, 5);
    RecordingUi ui;

    // Outside arranging the menu holds only what the item itself offers.
    EXPECT_EQ(page->BuildItemMenu(3, 3)->find("Lock"), nullptr);

    page->SetArranging(true);
    auto menu = page->BuildItemMenu(3, 3);
    EXPECT_EQ(menu->title, "GPS: Speed over Ground");
    ASSERT_NE(menu->find("Layer: 5"), nullptr);
    ASSERT_TRUE(menu->choose("Lock"));
    EXPECT_TRUE(s->locked);
    menu = page->BuildItemMenu(3, 3);
    ASSERT_TRUE(menu->choose("Unlock"));
    EXPECT_FALSE(s->locked);

    // The layer sub-menu is shown as a list; picking "8" moves the item.
    ui.chooser = [](const std::string& title, const std::vector<std::string>& entries) {
        const auto it = std::find(entries.begin(), entries.end(), "8");
        return title == "Layer" && it != entries.end() ? int(it - entries.begin()) : -1;
    };
    ASSERT_TRUE(menu->choose("Layer: 5"));
    ASSERT_EQ(ui.lists.size(), 1u);
    EXPECT_EQ(s->layer, 8);
    EXPECT_NE(page->BuildItemMenu(3, 3)->find("Layer: 8"), nullptr);

    // Adding from the type menu at a free cell puts the item there.
    auto types = page->BuildDataTypeMenu(20, 40);
    const auto* gps = types->find("GPS");
    ASSERT_NE(gps, nullptr);
    ASSERT_TRUE(gps->submenu->choose("Course over Ground"));
    ASSERT_EQ(page->Arrangement().settings.size(), 2u);
    Settings* added = page->Arrangement().settings.back().get();
    EXPECT_EQ(added->TypeId(), 41);
    ExpectInside(*page, *added);

    // A menu still open when its item goes away must do nothing.
    auto stale = page->BuildItemMenu(3, 3);
    page->RemoveItem(s);
    EXPECT_TRUE(stale->choose("Lock"));
    EXPECT_TRUE(stale->choose("Remove Item"));
    EXPECT_EQ(page->Arrangement().settings.size(), 1u);
}

TEST_F(PageFixture, AttachCreatesAndDetachDestroysAdaptors) {
    Add(111, 0, 0, 25, 51, 2);
    Add(42, 0, 0, 5, 5, 5);
    Add(9999, 0, 0, 5, 5, 5);  // unknown type: nothing added
    EXPECT_EQ(page->Arrangement().settings.size(), 2u);
    FakePageWindow window(510, 250);
    page->Attach(window, {});
    EXPECT_EQ(window.live.size(), 2u);
    // Placeholder items show "---".
    auto* text =
        dynamic_cast<CDisplayView::CItemText*>(page->Arrangement().FindItem(page->Arrangement().settings.back().get()));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Value(), "---");
    EXPECT_EQ(text->Title(), "Speed over Ground");
    page->RemoveItem(page->Arrangement().settings.back().get());
    EXPECT_EQ(window.live.size(), 1u);
    page->DetachFromWindow();
    EXPECT_TRUE(window.live.empty());
    EXPECT_EQ(page->Window(), nullptr);
}
