// SPDX-License-Identifier: GPL-3.0-or-later
// The display pages of the main window: which page shows where, sliding between pages,
// the pages menu and editing the layout.
#include <QQuickWindow>
#include <QScreen>

#include <utility>

#include "app/appmodel.h"
#include "core/display_metrics.h"
#include "core/uiservices.h"
#include "displays/displayview.h"

CDisplayViewPage* CNavoraAppModel::currentPageItem() const {
    return m_currentItem;
}

bool CNavoraAppModel::hasPages() const {
    const CDisplayViewPageSet* set = m_layout ? m_layout->getPageSet() : nullptr;
    return set && set->pages.size() > 1;
}

bool CNavoraAppModel::userIsArrangingLayout() const {
    return m_layout && m_layout->isArranging();
}

void CNavoraAppModel::attachCurrentPageToItem(CDisplayViewPage* item_current, CDisplayViewPage* alt_item) {
    m_currentItem = item_current;
    m_altItem = alt_item;
    if (QQuickWindow* w = item_current ? item_current->window() : nullptr) {
        if (QScreen* s = w->screen()) {
            SetGraphicsResolution(s->devicePixelRatio());
            // Screens that do not know their size report nonsense; a page set must still
            // come out at a sensible number of cells.
            const double pdpi = s->physicalDotsPerInch();
            m_physicalDpi = (pdpi >= 50 && pdpi <= 600) ? pdpi : 96.0;
        }
    }
    m_layout->SetResolution(m_physicalDpi);
    for (CDisplayViewPage* item : {item_current, alt_item}) {
        if (!item) continue;
        connect(item, &CDisplayViewPage::arrangingFinished, this, [this] {
            m_layout->save_layout_if_changed();
            startInactivityTimeout();
            Q_EMIT pagesChanged();
            Q_EMIT mapItemChanged();
        });
    }
    widthOrHeightChanged();
}

void CNavoraAppModel::detachItem(CDisplayViewPage* item) {
    // The item a slide left behind: its page now shows in the other item.
    if (!item || item == m_currentItem) return;
    if (CDisplayView* p = item->page()) {
        if (p->Window() == item) p->DetachFromWindow();
    }
    item->setVisible(false);
}

void CNavoraAppModel::widthOrHeightChanged() {
    // Resizes come in bursts while a window is dragged; do the work once they settle.
    if (m_resizePending) return;
    m_resizePending = true;
    QTimer::singleShot(100, this, &CNavoraAppModel::doResize);
}

void CNavoraAppModel::applyInsets(CDisplayViewPage* item) {
    // A desktop window has no notches or rounded corners to keep clear of.
    if (item) item->setSafeAreaInsets(0, 0, 0, 0);
}

void CNavoraAppModel::attachPage(CDisplayViewPage* item, CDisplayView* page) {
    if (!item || !page) return;
    if (CDisplayView* shown = item->page(); shown && shown != page) shown->DetachFromWindow();
    applyInsets(item);
    page->Attach(*item, NV_HWND(item));
    page->Resized(false);
}

void CNavoraAppModel::doResize() {
    m_resizePending = false;
    if (!m_currentItem) return;
    const double w = m_currentItem->width() * 100.0 / m_physicalDpi;
    const double h = m_currentItem->height() * 100.0 / m_physicalDpi;
    if (!m_pageAttached) {
        if (w <= 0 || h <= 0) return;
        m_layout->setBestPagesetForWindowSize(int(w), int(h));
        if (CDisplayViewPageSet* set = m_layout->getPageSet()) set->checkCurrentPage();
        attachPage(m_currentItem, m_layout->getCurrentPage());
        m_pageAttached = true;
        m_landscape = w > h;
        onChangedCurrentPage();
        onActivityCommandAttached();
        return;
    }
    m_landscape = w > h;
    applyInsets(m_currentItem);
    if (CDisplayView* p = m_currentItem->page()) {
        if (p->Resized(true)) onChangedCurrentPage();
    }
}

void CNavoraAppModel::onChangedCurrentPage() {
    Q_EMIT pagesChanged();
    Q_EMIT mapItemChanged();
    // Remembers which page is shown, so the next start opens on it.
    m_layout->save_layout_if_changed();
}

void CNavoraAppModel::slideTo(CDisplayView* page, int direction) {
    if (!page || !m_currentItem) return;
    if (!m_altItem || m_currentItem->page() == page) {
        attachPage(m_currentItem, page);
        onChangedCurrentPage();
        return;
    }
    CDisplayViewPage* old = m_currentItem;
    CDisplayViewPage* next = m_altItem;
    next->setSize(old->size());
    next->setX(direction * old->width());
    next->setY(0);
    next->setVisible(true);
    attachPage(next, page);
    m_currentItem = next;
    m_altItem = old;
    next->forceActiveFocus();
    Q_EMIT transition(old, next, direction);
    onChangedCurrentPage();
}

void CNavoraAppModel::nextPage() {
    if (!hasPages() || userIsArrangingLayout()) return;
    slideTo(m_layout->getPageSet()->nextPage(), 1);
}

void CNavoraAppModel::previousPage() {
    if (!hasPages() || userIsArrangingLayout()) return;
    slideTo(m_layout->getPageSet()->previousPage(), -1);
}

void CNavoraAppModel::transitionToPage(CDisplayView* page) {
    CDisplayViewPageSet* set = page ? page->PageSet() : nullptr;
    if (!set || page == m_layout->getCurrentPage()) return;
    const int from = set->IndexOf(m_layout->getCurrentPage());
    m_layout->setPageset(set);
    set->setPage(page);
    slideTo(page, set->IndexOf(page) >= from ? 1 : -1);
}

void CNavoraAppModel::EditLayout() {
    if (!m_currentItem || !m_currentItem->page()) return;
    m_layout->saveBackupLayout();
    stopInactivityTimeout();
    m_layout->EditLayout(NV_HWND(m_currentItem.data()));
    m_currentItem->forceActiveFocus();
}

void CNavoraAppModel::onPagesButton(QQuickItem*) {
    CDisplayViewPageSet* set = m_layout->getPageSet();
    if (!set) return;
    std::vector<MenuEntry> entries;
    for (const auto& page : set->pages) {
        CDisplayView* p = page.get();
        QString name = QString::fromStdString(p->getPageName());
        if (name.isEmpty()) name = tr("Empty page");
        if (p == set->getCurrentPage()) name = QStringLiteral("✓ ") + name;
        entries.push_back({name, QString(), [this, p] {
                               if (m_layout->getPageSet() && m_layout->getPageSet()->IndexOf(p) >= 0)
                                   transitionToPage(p);
                           }});
    }
    entries.push_back({tr("Add a Page"), QStringLiteral("qrc:/plus.svg"), [this] {
                           CDisplayViewPageSet* s = m_layout->getPageSet();
                           if (!s) return;
                           CDisplayView* p = s->AddNewPage();
                           m_layout->MarkChanged();
                           transitionToPage(p);
                           EditLayout();
                       }});
    if (set->pages.size() > 1) {
        entries.push_back({tr("Remove This Page"), QStringLiteral("qrc:/red_x.svg"), [this] {
                               MessageBoxYesNo(NV_HWND(this), "Remove Page",
                                               "Remove the page \"" +
                                                   (m_layout->getCurrentPage()
                                                        ? m_layout->getCurrentPage()->getPageName()
                                                        : std::string()) +
                                                   "\" and everything on it?",
                                               [this] {
                                                   CDisplayViewPageSet* s = m_layout->getPageSet();
                                                   if (!s || s->pages.size() < 2) return;
                                                   CDisplayView* gone = s->getCurrentPage();
                                                   slideTo(s->nextPage(), 1);
                                                   s->RemovePageAt(s->IndexOf(gone));
                                                   m_layout->MarkChanged();
                                                   onChangedCurrentPage();
                                               });
                           }});
    }
    showMenu(tr("Pages"), std::move(entries));
}
