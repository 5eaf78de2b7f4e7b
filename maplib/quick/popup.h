// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Map dialogs are QtQuick Controls popups made from a component with the engine of the
// item they belong to, shown over that item's window. GUI thread only.

class QObject;
class QQmlComponent;
class QQuickItem;

// Instantiates `component` (ready) with `model` as its "model" property and the window's
// content item as its parent, and opens it. The popup takes `model`; it destroys itself
// from QML when closed. Null (and `model` deleted) when it cannot be made.
QObject* OpenModelPopup(QQuickItem* anchor, QQmlComponent& component, QObject* model);
