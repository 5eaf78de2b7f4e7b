// SPDX-License-Identifier: GPL-3.0-or-later
#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "core/apppaths.h"

// Every suite runs inside a headless Qt application whose data directory is a fresh
// temporary folder, so no test touches the developer's own settings. A platform named in
// QT_QPA_PLATFORM is kept (the QtQuick tests also run on X with a threaded render loop).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("NavoraTests"));
    QCoreApplication::setApplicationName(QStringLiteral("default"));
    QTemporaryDir dataDir;
    setAppDirectoryForTesting(dataDir.path().toStdString());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
