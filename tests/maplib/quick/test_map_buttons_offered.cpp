// SPDX-License-Identifier: GPL-3.0-or-later
// Buttons whose feature is missing are neither offered nor shown (except to be moved or
// removed while arranging), and the Add Item menu lists only types that compute something.
#include <gtest/gtest.h>

#include "displays/displayview.h"
#include "maplib/chartview.h"
#include "tests/displays/fake_window.h"

namespace {

std::vector<std::string> Entries(const CActionSheetMenu* menu) {
    std::vector<std::string> out;
    if (menu)
        for (const auto& e : menu->entries) out.push_back(e.text);
    return out;
}

TEST(AddItemMenu, OffersOnlyWorkingTypesAndHidesButtonsWithoutTheirFeature) {
    ASSERT_FALSE(CQuickChartView::CanFindPlaces());
    const bool marks = CQuickChartView::CanCreateMarks();

    CDisplayView page;
    auto menu = page.BuildDataTypeMenu(0, 0);
    for (const auto& group : menu->entries) {
        ASSERT_TRUE(group.submenu);
        for (const auto& e : group.submenu->entries) {
            const std::string full = group.text + ":" + e.text;
            bool found = false;
            for (const auto* t : CDisplayView::CItemSettingsType::All()) {
                if (t->Category() != group.text || t->ItemName() != e.text) continue;
                found = true;
                EXPECT_FALSE(t->IsPlaceholder()) << full << " computes nothing yet";
                EXPECT_TRUE(t->FeatureAvailable()) << full;
            }
            EXPECT_TRUE(found) << full;
        }
    }
    const auto toolbar = Entries(menu->find("Toolbar") ? menu->find("Toolbar")->submenu.get() : nullptr);
    EXPECT_NE(std::find(toolbar.begin(), toolbar.end(), "Zoom In"), toolbar.end());
    EXPECT_EQ(std::find(toolbar.begin(), toolbar.end(), "Search"), toolbar.end());
    EXPECT_EQ(std::find(toolbar.begin(), toolbar.end(), "Add Mark") != toolbar.end(), marks);

    // A layout that already holds the Search button keeps it, hidden until arranging.
    FakePageWindow window(640, 320);
    CDisplayView::CItemSettings* zoom = page.AddItem(CDisplayView::CItemSettingsType::findType(123), 0, 0, 4, 5);
    CDisplayView::CItemSettings* search = page.AddItem(CDisplayView::CItemSettingsType::findType(125), 4, 0, 4, 5);
    ASSERT_TRUE(zoom && search);
    ASSERT_TRUE(page.Attach(window, NV_HWND()));
    EXPECT_TRUE(window.AdaptorOf(page, zoom)->visible);
    EXPECT_FALSE(window.AdaptorOf(page, search)->visible);
    page.SetArranging(true);
    EXPECT_TRUE(window.AdaptorOf(page, search)->visible);
    page.SetArranging(false);
    EXPECT_FALSE(window.AdaptorOf(page, search)->visible);
    page.DetachFromWindow();
}

}  // namespace
