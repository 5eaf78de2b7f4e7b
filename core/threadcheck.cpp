// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/threadcheck.h"

#include <QCoreApplication>
#include <QThread>

bool NvIsGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void NvAssertGuiThread(const char* function) {
    if (!NvIsGuiThread()) qFatal("%s must run on the GUI thread", function);
}
