// SPDX-License-Identifier: GPL-3.0-or-later
// The QtQuick page item: adaptors made from the QML components, their geometry and
// lifetime, buttons, and input while arranging.
#include <QCoreApplication>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include "displays/quick/adaptors.h"
#include "displays/quick/displayviewpage.h"
#include "qml/navora_qml_module.h"

namespace {

int g_clicks = 0;

class ButtonSettings : public CDisplayView::CItemSettings {
public:
    using CItemSettings::CItemSettings;
    CDisplayView::CItem* CreateItem(CDisplayView::IWindow&) override {
        auto* b = new CDisplayView::CItemButton(*this);
        b->SetLabel("Press");
        b->SetIcon("zoom_in.svg", 24);
        b->clicked = [](CDisplayView::CItemButton&) { ++g_clicks; };
        return b;
    }
};
CItemSettingsTypeOf<ButtonSettings> g_buttonType("Test:Button", 9001, 7, 70, 50,
                                                 CDisplayView::CItemSettingsType::kHidden);

template <class T>
std::vector<T*> ChildrenOf(QQuickItem* item) {
    std::vector<T*> out;
    for (QQuickItem* c : item->childItems())
        if (auto* t = qobject_cast<T*>(c)) out.push_back(t);
    return out;
}

struct PageItem : ::testing::Test {
    void SetUp() override {
        static bool registered = false;
        if (!registered) {
            qml_register_types_com_navora_nv();
            registered = true;
        }
        QQmlComponent c(&engine);
        c.setData("import com.navora.nv 1.0\nCDisplayViewPage { width: 510; height: 250 }", QUrl());
        item.reset(qobject_cast<CDisplayViewPage*>(c.create()));
        ASSERT_TRUE(item) << c.errorString().toStdString();
        set.width = 640;
        set.height = 320;
        page = set.AddNewPage();
        text = page->AddItem(CDisplayView::CItemSettingsType::findType(42), 2, 3, 4, 5);
        button = page->AddItem(&g_buttonType, 10, 10, 4, 6);
    }
    void TearDown() override {
        item.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    void Mouse(QEvent::Type type, double x, double y, Qt::MouseButton b = Qt::LeftButton) {
        QMouseEvent e(type, QPointF(x, y), QPointF(x, y), b, type == QEvent::MouseButtonRelease ? Qt::NoButton : b,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(item.get(), &e);
    }

    QQmlEngine engine;
    std::unique_ptr<CDisplayViewPage> item;
    CDisplayViewPageSet set;
    CDisplayView* page = nullptr;
    CDisplayView::CItemSettings* text = nullptr;
    CDisplayView::CItemSettings* button = nullptr;
};

}  // namespace

TEST_F(PageItem, AdaptorsComeFromTheComponentsAndFollowTheCells) {
    page->Attach(*item, NV_HWND(item.get()));
    EXPECT_TRUE(item->hasPage());
    auto texts = ChildrenOf<CTextViewAdaptor>(item.get());
    ASSERT_EQ(texts.size(), 1u);
    CTextViewAdaptor* t = texts[0];
    EXPECT_EQ(t->title(), QStringLiteral("Speed over Ground"));
    EXPECT_EQ(t->value(), QStringLiteral("---"));
    EXPECT_FALSE(t->childItems().isEmpty());  // built from DisplayViewTextItem.qml
    // 10 x 10 pixel cells, margin 2.
    EXPECT_DOUBLE_EQ(t->x(), 3 * 10 + 2);
    EXPECT_DOUBLE_EQ(t->y(), 2 * 10 + 2);
    EXPECT_DOUBLE_EQ(t->width(), 5 * 10 - 4);
    EXPECT_DOUBLE_EQ(t->height(), 4 * 10 - 4);
    EXPECT_EQ(t->z(), 5);

    // Text set later reaches the adaptor.
    auto* live = dynamic_cast<CDisplayView::CItemText*>(page->Arrangement().FindItem(text));
    ASSERT_NE(live, nullptr);
    live->SetValue("6.2");
    EXPECT_EQ(t->value(), QStringLiteral("6.2"));

    // A resize re-lays the items out.
    item->setSize(QSizeF(1020, 500));
    page->Resized(false);
    EXPECT_DOUBLE_EQ(t->x(), 3 * 20 + 2);

    page->DetachFromWindow();
    EXPECT_FALSE(item->hasPage());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(ChildrenOf<CTextViewAdaptor>(item.get()).empty());
    EXPECT_TRUE(ChildrenOf<CButtonAdaptor_q>(item.get()).empty());
}

TEST_F(PageItem, ButtonsClickOnlyOutsideArranging) {
    page->Attach(*item, NV_HWND(item.get()));
    auto buttons = ChildrenOf<CButtonAdaptor_q>(item.get());
    ASSERT_EQ(buttons.size(), 1u);
    EXPECT_EQ(buttons[0]->label(), QStringLiteral("Press"));
    EXPECT_EQ(buttons[0]->icon(), QStringLiteral("zoom_in.svg"));
    g_clicks = 0;
    buttons[0]->clicked();
    EXPECT_EQ(g_clicks, 1);
    page->SetArranging(true);
    buttons[0]->clicked();
    EXPECT_EQ(g_clicks, 1);
    page->DetachFromWindow();
}

TEST_F(PageItem, ArrangingTakesThePointerAndShowsTheOverlay) {
    page->Attach(*item, NV_HWND(item.get()));
    // Not arranging: presses are left for the items underneath.
    Mouse(QEvent::MouseButtonPress, 35, 25);
    EXPECT_EQ(page->SelectedItem(), nullptr);

    int finished = 0;
    QObject::connect(item.get(), &CDisplayViewPage::arrangingFinished, [&] { ++finished; });
    page->SetArranging(true);
    EXPECT_TRUE(item->arranging());
    bool overlay = false;
    for (QQuickItem* c : item->childItems()) overlay |= c->z() >= 1000;
    EXPECT_TRUE(overlay);

    Mouse(QEvent::MouseButtonPress, 35, 25);
    EXPECT_EQ(page->SelectedItem(), text);
    EXPECT_TRUE(item->hasSelection());
    Mouse(QEvent::MouseMove, 75, 45);
    Mouse(QEvent::MouseButtonRelease, 75, 45);
    EXPECT_EQ(text->col, 7);
    EXPECT_EQ(text->row, 4);
    EXPECT_DOUBLE_EQ(item->selectionRect().x(), 7 * 10 + 2);
    auto texts = ChildrenOf<CTextViewAdaptor>(item.get());
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_DOUBLE_EQ(texts[0]->x(), 7 * 10 + 2);

    item->finishArranging();
    EXPECT_FALSE(item->arranging());
    EXPECT_EQ(finished, 1);
    page->DetachFromWindow();
}

TEST_F(PageItem, DestroyingThePageItemDetachesThePage) {
    page->Attach(*item, NV_HWND(item.get()));
    item.reset();
    EXPECT_EQ(page->Window(), nullptr);
    EXPECT_TRUE(page->Arrangement().items.empty());
}
