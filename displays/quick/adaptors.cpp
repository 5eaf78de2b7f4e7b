// SPDX-License-Identifier: GPL-3.0-or-later
#include "displays/quick/adaptors.h"

#include <QPainter>
#include <QQmlEngine>
#include <QTimer>

#include "displays/quick/displayviewpage.h"

namespace quick_adaptor {

void Move(QQuickItem& q, double x, double y, double w, double h) {
    q.setX(x);
    q.setY(y);
    q.setWidth(w);
    q.setHeight(h);
}

void GetSize(const QQuickItem& q, double& w, double& h) {
    w = q.width();
    h = q.height();
}

void GetXY(const QQuickItem& q, double& x, double& y) {
    x = q.x();
    y = q.y();
}

void SetLayer(QQuickItem& q, int layer) {
    q.setZ(layer);
}

void Destroy(QQuickItem& q) {
    q.setVisible(false);
    q.setParentItem(nullptr);
    q.setParent(nullptr);
    q.deleteLater();
}

}  // namespace quick_adaptor

// ---- CViewAdaptor_q ----

CViewAdaptor_q::CViewAdaptor_q(QQuickItem* parent) : QQuickItem(parent) {
    setClip(true);
}

void CViewAdaptor_q::Invalidate() {
    update();
    Q_EMIT invalidated();
}

// ---- CPaintAdaptor_q ----

CPaintAdaptor_q::CPaintAdaptor_q(QQuickItem* parent) : QQuickPaintedItem(parent) {
    setAntialiasing(true);
}

void CPaintAdaptor_q::paint(QPainter* painter) {
    if (m_item && painter) m_item->Draw(*painter, width(), height());
}

// ---- CTextViewAdaptor ----

CTextViewAdaptor::CTextViewAdaptor(QQuickItem* parent) : QQuickItem(parent) {}

void CTextViewAdaptor::setDisplayItem(CDisplayView::CItem* item) {
    m_item = item;
    Invalidate();
}

void CTextViewAdaptor::Invalidate() {
    QString title, value, units;
    bool multiline = false;
    if (auto* text = dynamic_cast<CDisplayView::CItemText*>(m_item)) {
        title = QString::fromStdString(text->Title());
        value = QString::fromStdString(text->Value());
        units = QString::fromStdString(text->Units());
    } else if (auto* lines = dynamic_cast<CDisplayView::CItemMultilineText*>(m_item)) {
        value = QString::fromStdString(lines->Text());
        multiline = true;
    }
    if (title == m_title && value == m_value && units == m_units && multiline == m_multiline) return;
    m_title = title;
    m_value = value;
    m_units = units;
    m_multiline = multiline;
    Q_EMIT textChanged();
}

// ---- CButtonAdaptor_q ----

CButtonAdaptor_q::CButtonAdaptor_q(QQuickItem* parent) : QQuickItem(parent) {}

void CButtonAdaptor_q::setDisplayItem(CDisplayView::CItem* item) {
    m_item = item;
    Invalidate();
}

void CButtonAdaptor_q::Invalidate() {
    auto* b = dynamic_cast<CDisplayView::CItemButton*>(m_item);
    if (!b) return;
    m_label = QString::fromStdString(b->Label());
    m_icon = QString::fromStdString(b->Icon());
    m_color = b->LabelColor();
    m_iconSize = b->IconSize();
    m_enabled = b->Enabled();
    Q_EMIT buttonChanged();
}

void CButtonAdaptor_q::clicked() {
    // Clicks while arranging belong to the layout editor, not to the button.
    if (!m_item || !m_enabled) return;
    if (CDisplayView* page = m_item->Page(); page && page->isArranging()) return;
    m_item->onClicked();
}
