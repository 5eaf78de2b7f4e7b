// SPDX-License-Identifier: GPL-3.0-or-later
#include <QQmlEngine>
#include <QQuickItem>

#include "app/appmodel.h"

// Every type of the user interface's module, com.navora.nv 1.0, under its class name.
void RegisterQmlTypes() {
    static bool done = false;
    if (done) return;
    done = true;
    const char* uri = "com.navora.nv";
    qmlRegisterType<CNavoraAppModel>(uri, 1, 0, "CNavoraAppModel");
}
