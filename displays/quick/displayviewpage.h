// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The QtQuick item that shows one display page. It is the page's window: it makes the
// adaptors of the page's items (its children), gives the page its size and safe-area
// insets, and while the page is being arranged takes every pointer press and key for
// the page, showing the selection box, the hint and the arranging buttons from
// "qrc:/com/navora/nv/ArrangeOverlay.qml". GUI thread only.

#include <QPointer>
#include <QQuickItem>
#include <QRectF>
#include <QUrl>

#include "displays/displayview.h"

class QQmlComponent;

class CDisplayViewPage : public QQuickItem, public CDisplayView::IWindow {
    Q_OBJECT
    Q_PROPERTY(bool arranging READ arranging NOTIFY arrangingChanged)
    Q_PROPERTY(bool hasSelection READ hasSelection NOTIFY arrangingChanged)
    Q_PROPERTY(QRectF selectionRect READ selectionRect NOTIFY arrangingChanged)
    Q_PROPERTY(bool selectionLocked READ selectionLocked NOTIFY arrangingChanged)
    Q_PROPERTY(QString hintText READ hintText NOTIFY arrangingChanged)
    Q_PROPERTY(QRectF gridRect READ gridRect NOTIFY arrangingChanged)
    Q_PROPERTY(int gridRows READ gridRows NOTIFY arrangingChanged)
    Q_PROPERTY(int gridColumns READ gridColumns NOTIFY arrangingChanged)
    Q_PROPERTY(QString pageName READ pageName NOTIFY pageChanged)
    Q_PROPERTY(bool hasPage READ hasPage NOTIFY pageChanged)

public:
    explicit CDisplayViewPage(QQuickItem* parent = nullptr);
    ~CDisplayViewPage() override;

    CDisplayView* page() const { return m_page; }
    bool hasPage() const { return m_page != nullptr; }
    bool arranging() const { return m_page && m_page->isArranging(); }
    bool hasSelection() const { return arranging() && m_page->SelectedItem(); }
    QRectF selectionRect() const;
    bool selectionLocked() const { return hasSelection() && m_page->SelectedItem()->locked; }
    QString hintText() const;
    QRectF gridRect() const;
    int gridRows() const { return m_page ? m_page->Arrangement().rows : 0; }
    int gridColumns() const { return m_page ? m_page->Arrangement().cols : 0; }
    QString pageName() const { return m_page ? QString::fromStdString(m_page->getPageName()) : QString(); }

    // The safe-area insets of the screen (device-independent pixels).
    Q_INVOKABLE void setSafeAreaInsets(double left, double top, double right, double bottom);
    // Where the QML components live ("qrc:/com/navora/nv/" in the application).
    static void setComponentBase(const QUrl& base);
    static QUrl componentUrl(const char* file);

    // CDisplayView::IWindow
    void Move(double x, double y, double w, double h) override;
    void SetSize(double w, double h) override;
    void GetSize(double& w, double& h) const override;
    void GetXY(double& x, double& y) const override;
    void SetLayer(int layer) override { setZ(layer); }
    void show(bool visible) override { setVisible(visible); }
    void Invalidate() override { update(); }
    void Detach() override;
    void Destroy() override {}
    void GetSafeAreaInsets(double& left, double& top, double& right, double& bottom) const override;
    IWindow* CreateViewAdaptor(CDisplayView::CItem& item) override;
    IWindow* CreatePaintAdaptor(CDisplayView::CItem& item) override;
    IWindow* CreateTextAdaptor(CDisplayView::CItem& item) override;
    IWindow* CreateButtonAdaptor(CDisplayView::CItem& item) override;
    void ArrangingChanged() override;
    void PageAttached(CDisplayView* page) override;
    QObject* UiObject() override { return this; }

public Q_SLOTS:
    // Arranging buttons.
    void showItemMenu();
    void showAddItemMenu();
    void finishArranging();

Q_SIGNALS:
    void arrangingChanged();
    void pageChanged();
    // The user left arranging mode (the layout has been saved).
    void arrangingFinished();

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void touchEvent(QTouchEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool childMouseEventFilter(QQuickItem* item, QEvent* e) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    // Components are created once per engine, on first use, and owned by the engine.
    QQuickItem* CreateFromComponent(const char* file);
    void UpdateOverlay();
    bool HandlePointer(QEvent* e, QQuickItem* from);

    CDisplayView* m_page = nullptr;
    double m_insets[4] = {0, 0, 0, 0};
    bool m_wasArranging = false;
    QPointer<QQuickItem> m_overlay;
};
