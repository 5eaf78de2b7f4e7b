// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The QtQuick side of display items: each live item owns one of these adaptors, a
// QtQuick item parented to the page item that implements the page framework's window
// interface. GUI thread only.

#include <QColor>
#include <QPointer>
#include <QQuickItem>
#include <QQuickPaintedItem>
#include <QString>

#include "displays/displayview.h"

// Geometry shared by every adaptor.
namespace quick_adaptor {
void Move(QQuickItem& q, double x, double y, double w, double h);
void GetSize(const QQuickItem& q, double& w, double& h);
void GetXY(const QQuickItem& q, double& x, double& y);
void SetLayer(QQuickItem& q, int layer);
// Unparents the item and deletes it once control returns to the event loop (it may be
// inside one of its own signal handlers).
void Destroy(QQuickItem& q);
}  // namespace quick_adaptor

#define NV_QUICK_WINDOW_OPS                                      \
    void Move(double x, double y, double w, double h) override { \
        quick_adaptor::Move(*this, x, y, w, h);                  \
    }                                                            \
    void SetSize(double w, double h) override {                  \
        setWidth(w);                                             \
        setHeight(h);                                            \
    }                                                            \
    void GetSize(double& w, double& h) const override {          \
        quick_adaptor::GetSize(*this, w, h);                     \
    }                                                            \
    void GetXY(double& x, double& y) const override {            \
        quick_adaptor::GetXY(*this, x, y);                       \
    }                                                            \
    void SetLayer(int layer) override {                          \
        quick_adaptor::SetLayer(*this, layer);                   \
    }                                                            \
    void show(bool visible) override {                           \
        setVisible(visible);                                     \
    }                                                            \
    void Destroy() override {                                    \
        quick_adaptor::Destroy(*this);                           \
    }                                                            \
    QObject* UiObject() override {                               \
        return this;                                             \
    }

// A plain container: the item puts its own user interface inside (map, 3-D view).
class CViewAdaptor_q : public QQuickItem, public CDisplayView::IWindow {
    Q_OBJECT
public:
    explicit CViewAdaptor_q(QQuickItem* parent = nullptr);
    NV_QUICK_WINDOW_OPS
    void Invalidate() override;
    void Detach() override { m_item = nullptr; }
    void setDisplayItem(CDisplayView::CItem* item) { m_item = item; }
    CDisplayView::CItem* displayItem() const { return m_item; }

Q_SIGNALS:
    void invalidated();

private:
    CDisplayView::CItem* m_item = nullptr;
};

// Painted by the item: paint() hands the painter and the size to the item's Draw.
class CPaintAdaptor_q : public QQuickPaintedItem, public CDisplayView::IWindow {
    Q_OBJECT
public:
    explicit CPaintAdaptor_q(QQuickItem* parent = nullptr);
    NV_QUICK_WINDOW_OPS
    void Invalidate() override { update(); }
    void Detach() override { m_item = nullptr; }
    void paint(QPainter* painter) override;
    void setDisplayItem(CDisplayView::CItem* item) { m_item = item; }
    CDisplayView::CItem* displayItem() const { return m_item; }

private:
    CDisplayView::CItem* m_item = nullptr;
};

// A text read-out: title, value and units (or several lines), shown by
// "qrc:/com/navora/nv/DisplayViewTextItem.qml" whose root is this type.
class CTextViewAdaptor : public QQuickItem, public CDisplayView::IWindow {
    Q_OBJECT
    Q_PROPERTY(QString title READ title NOTIFY textChanged)
    Q_PROPERTY(QString value READ value NOTIFY textChanged)
    Q_PROPERTY(QString units READ units NOTIFY textChanged)
    Q_PROPERTY(bool multiline READ multiline NOTIFY textChanged)
public:
    explicit CTextViewAdaptor(QQuickItem* parent = nullptr);
    NV_QUICK_WINDOW_OPS
    void Invalidate() override;
    void Detach() override { m_item = nullptr; }
    void setDisplayItem(CDisplayView::CItem* item);

    QString title() const { return m_title; }
    QString value() const { return m_value; }
    QString units() const { return m_units; }
    bool multiline() const { return m_multiline; }

Q_SIGNALS:
    void textChanged();

private:
    CDisplayView::CItem* m_item = nullptr;
    QString m_title, m_value, m_units;
    bool m_multiline = false;
};

// A button, shown by "qrc:/com/navora/nv/DisplayViewButtonItem.qml" whose root is this type.
class CButtonAdaptor_q : public QQuickItem, public CDisplayView::IWindow {
    Q_OBJECT
    Q_PROPERTY(QString label READ label NOTIFY buttonChanged)
    Q_PROPERTY(QColor labelColor READ labelColor NOTIFY buttonChanged)
    Q_PROPERTY(QString icon READ icon NOTIFY buttonChanged)
    Q_PROPERTY(int iconSize READ iconSize NOTIFY buttonChanged)
    Q_PROPERTY(bool buttonEnabled READ buttonEnabled NOTIFY buttonChanged)
public:
    explicit CButtonAdaptor_q(QQuickItem* parent = nullptr);
    NV_QUICK_WINDOW_OPS
    void Invalidate() override;
    void Detach() override { m_item = nullptr; }
    void setDisplayItem(CDisplayView::CItem* item);

    QString label() const { return m_label; }
    QColor labelColor() const { return m_color; }
    QString icon() const { return m_icon; }
    int iconSize() const { return m_iconSize; }
    bool buttonEnabled() const { return m_enabled; }

public Q_SLOTS:
    void clicked();

Q_SIGNALS:
    void buttonChanged();

private:
    CDisplayView::CItem* m_item = nullptr;
    QString m_label, m_icon;
    QColor m_color = Qt::black;
    int m_iconSize = 24;
    bool m_enabled = true;
};

