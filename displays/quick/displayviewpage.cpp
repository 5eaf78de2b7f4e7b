// SPDX-License-Identifier: GPL-3.0-or-later
#include "displays/quick/displayviewpage.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QTouchEvent>

#include <map>

#include "displays/quick/adaptors.h"

namespace {
QUrl& ComponentBase() {
    static QUrl base(QStringLiteral("qrc:/com/navora/nv/"));
    return base;
}

// One component per engine and file, created on first use.
QQmlComponent* SharedComponent(QQmlEngine* engine, const char* file) {
    static std::map<std::pair<QQmlEngine*, std::string>, QPointer<QQmlComponent>> components;
    auto& slot = components[{engine, file}];
    if (!slot) {
        slot =
            new QQmlComponent(engine, CDisplayViewPage::componentUrl(file), QQmlComponent::PreferSynchronous, engine);
        if (slot->isError()) qWarning().noquote() << slot->errorString();
    }
    return slot;
}
}  // namespace

CDisplayViewPage::CDisplayViewPage(QQuickItem* parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, false);
    setAcceptedMouseButtons(Qt::AllButtons);
    setAcceptTouchEvents(true);
    setFiltersChildMouseEvents(true);
    setActiveFocusOnTab(true);
}

CDisplayViewPage::~CDisplayViewPage() {
    // The page outlives its window; it must not keep adaptors that are about to go.
    if (m_page) m_page->DetachFromWindow();
}

void CDisplayViewPage::setComponentBase(const QUrl& base) {
    ComponentBase() = base;
}

QUrl CDisplayViewPage::componentUrl(const char* file) {
    return ComponentBase().resolved(QUrl(QString::fromUtf8(file)));
}

// ---- window ----

void CDisplayViewPage::Move(double x, double y, double w, double h) {
    quick_adaptor::Move(*this, x, y, w, h);
}

void CDisplayViewPage::SetSize(double w, double h) {
    setWidth(w);
    setHeight(h);
}

void CDisplayViewPage::GetSize(double& w, double& h) const {
    w = width();
    h = height();
}

void CDisplayViewPage::GetXY(double& x, double& y) const {
    x = this->x();
    y = this->y();
}

void CDisplayViewPage::Detach() {
    if (m_page) m_page->DetachFromWindow();
}

void CDisplayViewPage::setSafeAreaInsets(double left, double top, double right, double bottom) {
    m_insets[0] = left;
    m_insets[1] = top;
    m_insets[2] = right;
    m_insets[3] = bottom;
}

void CDisplayViewPage::GetSafeAreaInsets(double& left, double& top, double& right, double& bottom) const {
    left = m_insets[0];
    top = m_insets[1];
    right = m_insets[2];
    bottom = m_insets[3];
}

QQuickItem* CDisplayViewPage::CreateFromComponent(const char* file) {
    QQmlEngine* engine = qmlEngine(this);
    if (!engine) return nullptr;
    QQmlComponent* component = SharedComponent(engine, file);
    if (!component || !component->isReady()) return nullptr;
    QQmlContext* context = qmlContext(this);
    QObject* obj = component->create(context ? context : engine->rootContext());
    auto* item = qobject_cast<QQuickItem*>(obj);
    if (!item) {
        delete obj;
        return nullptr;
    }
    QQmlEngine::setObjectOwnership(item, QQmlEngine::CppOwnership);
    item->setParentItem(this);
    return item;
}

CDisplayView::IWindow* CDisplayViewPage::CreateViewAdaptor(CDisplayView::CItem& item) {
    auto* a = new CViewAdaptor_q(this);
    a->setDisplayItem(&item);
    return a;
}

CDisplayView::IWindow* CDisplayViewPage::CreatePaintAdaptor(CDisplayView::CItem& item) {
    auto* a = new CPaintAdaptor_q(this);
    a->setDisplayItem(&item);
    return a;
}

CDisplayView::IWindow* CDisplayViewPage::CreateTextAdaptor(CDisplayView::CItem& item) {
    auto* a = qobject_cast<CTextViewAdaptor*>(CreateFromComponent("DisplayViewTextItem.qml"));
    // Without the component (no engine) the adaptor still carries the texts.
    if (!a) a = new CTextViewAdaptor(this);
    a->setDisplayItem(&item);
    return a;
}

CDisplayView::IWindow* CDisplayViewPage::CreateButtonAdaptor(CDisplayView::CItem& item) {
    auto* a = qobject_cast<CButtonAdaptor_q*>(CreateFromComponent("DisplayViewButtonItem.qml"));
    if (!a) a = new CButtonAdaptor_q(this);
    a->setDisplayItem(&item);
    return a;
}

void CDisplayViewPage::PageAttached(CDisplayView* page) {
    if (m_page == page) return;
    m_page = page;
    Q_EMIT pageChanged();
}

void CDisplayViewPage::ArrangingChanged() {
    const bool now = arranging();
    UpdateOverlay();
    if (now) setFocus(true);
    Q_EMIT arrangingChanged();
    if (m_wasArranging && !now) Q_EMIT arrangingFinished();
    m_wasArranging = now;
}

void CDisplayViewPage::UpdateOverlay() {
    if (arranging() && !m_overlay) {
        m_overlay = CreateFromComponent("ArrangeOverlay.qml");
        if (m_overlay) {
            m_overlay->setProperty("page", QVariant::fromValue<QObject*>(this));
            m_overlay->setZ(1000);
        }
    } else if (!arranging() && m_overlay) {
        quick_adaptor::Destroy(*m_overlay);
        m_overlay = nullptr;
    }
    if (m_overlay) {
        m_overlay->setWidth(width());
        m_overlay->setHeight(height());
    }
}

// ---- what the overlay shows ----

QRectF CDisplayViewPage::selectionRect() const {
    if (!hasSelection()) return {};
    const FRect& r = m_page->SelectedRect();
    return QRectF(r.left, r.top, r.Width(), r.Height());
}

QString CDisplayViewPage::hintText() const {
    if (!arranging()) return {};
    if (!hasSelection()) return tr("Tap an item to select it, or add a new one");
    if (selectionLocked()) return tr("This item is locked: unlock it in its menu to move it");
    return tr("Drag to move; drag the bottom-right corner to resize");
}

QRectF CDisplayViewPage::gridRect() const {
    if (!m_page) return {};
    const auto& a = m_page->Arrangement();
    return QRectF(a.insetLeft, a.insetTop, a.cellWidth * a.cols, a.cellHeight * a.rows);
}

// ---- arranging buttons ----

void CDisplayViewPage::showItemMenu() {
    if (!m_page) return;
    int row = 0, col = 0;
    if (CDisplayView::CItemSettings* s = m_page->SelectedItem()) {
        row = s->row;
        col = s->col;
    }
    m_page->rightMouseDownOnRowCol(row, col);
}

void CDisplayViewPage::showAddItemMenu() {
    if (m_page) m_page->showDataTypeMenu(0, 0);
}

void CDisplayViewPage::finishArranging() {
    if (!m_page) return;
    CDisplayViewPageSet* set = m_page->PageSet();
    if (set && set->Owner()) {
        set->Owner()->EndEditLayout();
    } else {
        m_page->SetArranging(false);
    }
}

// ---- input while arranging ----

bool CDisplayViewPage::HandlePointer(QEvent* e, QQuickItem* from) {
    if (!arranging()) return false;
    auto* me = dynamic_cast<QMouseEvent*>(e);
    if (!me) return false;
    // The overlay's own buttons work as usual.
    if (m_overlay && from && (from == m_overlay || m_overlay->isAncestorOf(from))) return false;
    const QPointF p = from ? from->mapToItem(this, me->position()) : me->position();
    switch (e->type()) {
        case QEvent::MouseButtonPress:
            setFocus(true);
            if (me->button() == Qt::RightButton) {
                m_page->rightMouseDown(p.x(), p.y());
            } else {
                m_page->onMouseDown(p.x(), p.y());
            }
            return true;
        case QEvent::MouseMove:
            m_page->onMouseDragged(p.x(), p.y());
            return true;
        case QEvent::MouseButtonRelease:
            m_page->onMouseUp(p.x(), p.y());
            return true;
        case QEvent::MouseButtonDblClick: {
            int row, col;
            m_page->Arrangement().XY_to_cell(p.x(), p.y(), row, col);
            m_page->rightMouseDownOnRowCol(row, col);
            return true;
        }
        default:
            return false;
    }
}

bool CDisplayViewPage::childMouseEventFilter(QQuickItem* item, QEvent* e) {
    return HandlePointer(e, item) || QQuickItem::childMouseEventFilter(item, e);
}

void CDisplayViewPage::mousePressEvent(QMouseEvent* e) {
    if (!HandlePointer(e, nullptr)) e->ignore();
}

void CDisplayViewPage::mouseMoveEvent(QMouseEvent* e) {
    if (!HandlePointer(e, nullptr)) e->ignore();
}

void CDisplayViewPage::mouseReleaseEvent(QMouseEvent* e) {
    if (!HandlePointer(e, nullptr)) e->ignore();
}

void CDisplayViewPage::touchEvent(QTouchEvent* e) {
    // Touches reach the arranging code as synthesised mouse events.
    e->ignore();
}

void CDisplayViewPage::keyPressEvent(QKeyEvent* e) {
    if (m_page && m_page->onKeyPressed(e->key(), e->modifiers() & Qt::ShiftModifier)) {
        e->accept();
        return;
    }
    QQuickItem::keyPressEvent(e);
}

void CDisplayViewPage::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (m_overlay) {
        m_overlay->setWidth(width());
        m_overlay->setHeight(height());
    }
}
