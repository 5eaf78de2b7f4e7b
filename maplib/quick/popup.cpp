// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/quick/popup.h"

#include <QDebug>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QVariant>

QObject* OpenModelPopup(QQuickItem* anchor, QQmlComponent& component, QObject* model) {
    QQmlEngine* engine = anchor ? qmlEngine(anchor) : nullptr;
    if (!engine || !anchor->window() || !component.isReady()) {
        delete model;
        return nullptr;
    }
    QQmlContext* context = qmlContext(anchor);
    QObject* popup = component.createWithInitialProperties(
        {{QStringLiteral("model"), QVariant::fromValue<QObject*>(model)},
         {QStringLiteral("parent"), QVariant::fromValue<QObject*>(anchor->window()->contentItem())}},
        context ? context : engine->rootContext());
    if (!popup) {
        qWarning().noquote() << component.errorString();
        delete model;
        return nullptr;
    }
    // Closing destroys it from QML.
    QQmlEngine::setObjectOwnership(popup, QQmlEngine::JavaScriptOwnership);
    popup->setParent(anchor->window());
    model->setParent(popup);
    QMetaObject::invokeMethod(popup, "open");
    return popup;
}
