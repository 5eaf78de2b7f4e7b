// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing the page set for a window and the page within it.
#include <gtest/gtest.h>

#include "fake_window.h"
#include "units/units.h"

using Type = CDisplayView::CItemSettingsType;

namespace {

CDisplayViewPageSet* AddSet(CDisplayViewArrangementSet& a, int w, int h) {
    a.pageSets.push_back(std::make_unique<CDisplayViewPageSet>(&a));
    CDisplayViewPageSet* s = a.pageSets.back().get();
    s->width = w;
    s->height = h;
    return s;
}

CDisplayView* PageWith(CDisplayViewPageSet* set, std::initializer_list<int> types) {
    CDisplayView* p = set->AddNewPage();
    int row = 0;
    int size = 10;
    for (int t : types) {
        // Earlier types get larger items, so they lead the signature.
        p->AddItem(Type::findType(t), row, 0, size, size);
        row += 1;
        size = std::max(1, size - 2);
    }
    return p;
}

}  // namespace

TEST(DisplayPageSets, OrientationDoublesTheDifferenceAndHysteresisHolds) {
    CDisplayViewArrangementSet a;
    CDisplayViewPageSet* land = AddSet(a, 640, 320);
    CDisplayViewPageSet* port = AddSet(a, 320, 640);
    EXPECT_EQ(land->SizeDifference(1280, 640), 960);
    EXPECT_EQ(port->SizeDifference(1280, 640), 1920);  // other orientation: doubled
    // Square windows count as portrait (width < height is false for both, so no doubling
    // against a landscape set).
    EXPECT_EQ(land->SizeDifference(500, 500), 140 + 180);

    EXPECT_TRUE(a.setBestPagesetForWindowSize(1280, 640));  // no current set yet
    EXPECT_EQ(a.getPageSet(), land);
    // Rotating: the portrait set fits far better, so it takes over.
    EXPECT_TRUE(a.setBestPagesetForWindowSize(640, 1280));
    EXPECT_EQ(a.getPageSet(), port);

    // Hysteresis: a set 20 or fewer units better does not take over; 21 does.
    CDisplayViewArrangementSet b;
    CDisplayViewPageSet* cur = AddSet(b, 600, 300);
    CDisplayViewPageSet* other = AddSet(b, 700, 300);
    b.setPageset(cur);
    // Window 660 wide: cur differs by 60, other by 40: only 20 better.
    EXPECT_FALSE(b.setBestPagesetForWindowSize(660, 300));
    EXPECT_EQ(b.getPageSet(), cur);
    // 661: cur 61, other 39: 22 better.
    EXPECT_TRUE(b.setBestPagesetForWindowSize(661, 300));
    EXPECT_EQ(b.getPageSet(), other);
    // And back needs the same margin the other way.
    EXPECT_FALSE(b.setBestPagesetForWindowSize(640, 300));
    EXPECT_EQ(b.getPageSet(), other);
}

TEST(DisplayPageSets, NoPageSetCreatesOneOfTheWindowSize) {
    CDisplayViewArrangementSet a;
    EXPECT_TRUE(a.setBestPagesetForWindowSize(1000, 600));
    ASSERT_EQ(a.pageSets.size(), 1u);
    EXPECT_EQ(a.getPageSet()->width, 1000);
    EXPECT_EQ(a.getPageSet()->height, 600);
    ASSERT_NE(a.getCurrentPage(), nullptr);
    EXPECT_EQ(a.getCurrentPage()->Arrangement().rows, 48);
    EXPECT_EQ(a.getCurrentPage()->Arrangement().cols, 80);
}

TEST(DisplayPageSets, NewSetShowsPageMostLikeTheCurrentOne) {
    CDisplayViewArrangementSet a;
    CDisplayViewPageSet* land = AddSet(a, 640, 320);
    CDisplayViewPageSet* port = AddSet(a, 320, 640);
    PageWith(land, {111});
    CDisplayView* instruments = PageWith(land, {42, 41, 22});
    PageWith(port, {111, 123});
    CDisplayView* portInstruments = PageWith(port, {22, 42, 43});
    PageWith(port, {42});
    a.setPageset(land);
    land->setPage(instruments);

    // The page is shown in a window; switching sets moves the window to the new page.
    FakePageWindow window(640, 320);
    a.resolution = 100;
    instruments->Attach(window, {});
    window.w = 320;
    window.h = 640;
    EXPECT_TRUE(instruments->Resized(true));
    EXPECT_EQ(a.getPageSet(), port);
    EXPECT_EQ(a.getCurrentPage(), portInstruments);  // two types in common
    EXPECT_EQ(instruments->Window(), nullptr);
    EXPECT_EQ(portInstruments->Window(), &window);
    EXPECT_EQ(window.live.size(), 3u);
    // A resize that keeps the set just lays the page out again.
    window.w = 330;
    EXPECT_FALSE(portInstruments->Resized(true));
    EXPECT_EQ(portInstruments->Window(), &window);
    portInstruments->DetachFromWindow();
    EXPECT_TRUE(window.live.empty());
}

TEST(DisplayPageSets, PagesWrapAndRemovalKeepsACurrentPage) {
    CDisplayViewPageSet set;
    CDisplayView* p1 = set.AddNewPage();
    CDisplayView* p2 = set.AddNewPage();
    CDisplayView* p3 = set.AddNewPage();
    EXPECT_EQ(set.getCurrentPage(), p1);
    EXPECT_EQ(set.nextPage(), p2);
    EXPECT_EQ(set.nextPage(), p3);
    EXPECT_EQ(set.nextPage(), p1);
    EXPECT_EQ(set.previousPage(), p3);
    set.RemoveCurrentPage();
    EXPECT_EQ(set.pages.size(), 2u);
    EXPECT_EQ(set.getCurrentPage(), p2);
    set.RemovePageAt(7);  // out of range: nothing
    set.RemoveCurrentPage();
    set.RemoveCurrentPage();
    EXPECT_TRUE(set.pages.empty());
    EXPECT_EQ(set.getCurrentPage(), nullptr);
    set.checkCurrentPage();  // an empty set gets a page again
    EXPECT_NE(set.getCurrentPage(), nullptr);
    EXPECT_EQ(set.previousPage(), set.getCurrentPage());
}

TEST(DisplayPageSets, ItemIndexesCountPerTypeAcrossPages) {
    CDisplayViewPageSet set;
    CDisplayView* p1 = PageWith(&set, {111, 42});
    CDisplayView* p2 = PageWith(&set, {111});
    auto& s1 = p1->Arrangement().settings;
    auto& s2 = p2->Arrangement().settings;
    EXPECT_EQ(s1[0]->index, 0);
    EXPECT_EQ(s1[1]->index, 0);
    EXPECT_EQ(s2[0]->index, 1);
    set.RemovePageAt(0);
    EXPECT_EQ(set.pages.front()->Arrangement().settings[0]->index, 0);
}

TEST(DisplayPageSets, NamesOfScreensAndPages) {
    CDisplayViewPageSet set;
    set.width = 1000;
    set.height = 500;
    const CUnits::e_dist_units family = CDefaultUnits::u.get_unit_family();
    CDefaultUnits::u.set_unit_family(CUnits::e_km);
    EXPECT_EQ(set.getScreenName(), "25.5cm w x 12.8cm h");
    CDefaultUnits::u.set_unit_family(CUnits::e_nautical_miles);
    EXPECT_EQ(set.getScreenName(), "10.0\" w x 5.0\" h");
    CDefaultUnits::u.set_unit_family(family);
    set.name = "Tablet";
    EXPECT_EQ(set.getScreenName(), "Tablet");

    CDisplayView* p = PageWith(&set, {111, 42, 41, 22});
    EXPECT_EQ(p->getPageName(), "2D Map, Speed over Ground, Course over Ground etc");
    CDisplayView* one = PageWith(&set, {111});
    EXPECT_EQ(one->getPageName(), "2D Map");
    EXPECT_EQ(CDisplayView::CItemSettingsType::getNameOfType(4242), "type-4242");
}

TEST(DisplayPageSets, LargestItemOfTypes) {
    CDisplayViewPageSet set;
    CDisplayView* p = set.AddNewPage();
    p->AddItem(Type::findType(111), 0, 0, 5, 5);
    p->AddItem(Type::findType(111), 5, 5, 10, 10);
    p->AddItem(Type::findType(116), 0, 20, 20, 20);
    int area = -1;
    EXPECT_EQ(p->FindLargestItemOfTypes({111}, area), nullptr);  // not shown: no live items
    EXPECT_EQ(p->FindLargestSettingsOfTypes({111})->Area(), 100);
    FakePageWindow window(510, 250);
    p->Attach(window, {});
    CDisplayView::CItem* item = p->FindLargestItemOfTypes({111}, area);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(area, 100);
    EXPECT_EQ(p->FindLargestItemOfTypes({111, 116}, area)->Settings().TypeId(), 116);
    EXPECT_EQ(p->FindLargestItemOfTypes({42}, area), nullptr);
    EXPECT_EQ(area, 0);
    int count = 0;
    p->forAllItemsOfType(111, [&](CDisplayView::CItem*) { ++count; });
    EXPECT_EQ(count, 2);
    p->DetachFromWindow();
}

TEST(DefaultLayout, UprightScreensGetTheirOwnPagesAndEveryItemFits) {
    CDisplayViewArrangementSet a;
    CDisplayViewArrangementSet::BuildDefaultLayout(a);
    // A laptop (1280 x 800 at 96 dpi) and a phone held upright (360 x 640 at 96 dpi).
    const CDisplayViewPageSet* wide = a.FindBestFitPageSet(1333, 833);
    const CDisplayViewPageSet* tall = a.FindBestFitPageSet(375, 666);
    ASSERT_TRUE(wide && tall);
    EXPECT_GT(wide->width, wide->height);
    EXPECT_LT(tall->width, tall->height);
    for (const CDisplayViewPageSet* set : {wide, tall}) {
        ASSERT_EQ(set->pages.size(), 3u);
        // Each set starts on a map that fills the page.
        const CDisplayView::CItemArrangement& first = set->pages.front()->Arrangement();
        const CDisplayView::CItemSettings* map = set->pages.front()->FindLargestSettingsOfTypes({111});
        ASSERT_NE(map, nullptr);
        EXPECT_EQ(map->Area(), first.rows * first.cols);
        for (const auto& page : set->pages) {
            const CDisplayView::CItemArrangement& ar = page->Arrangement();
            for (const auto& s : ar.settings) {
                CDisplayView::CItemSettings clamped = *s;
                ar.ClampToGrid(clamped);
                EXPECT_EQ(clamped.CellRect(), s->CellRect()) << s->TypeName() << " on " << page->getPageName();
            }
        }
    }
}
