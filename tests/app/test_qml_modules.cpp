// SPDX-License-Identifier: GPL-3.0-or-later
// Every QML module the user interface needs at run time is installed. A missing one does
// not fail the build: it shows up as a dialog that cannot open (the file dialog's own
// implementation needs the folder-list model) or as a blank window.
#include <QByteArray>
#include <QQmlComponent>
#include <QQmlEngine>

#include <gtest/gtest.h>

#include <memory>

TEST(QmlModules, EveryModuleTheInterfaceImportsLoads) {
    QQmlEngine engine;
    for (const char* import :
         {"QtQuick", "QtQuick.Controls", "QtQuick.Layouts", "QtQuick.Window", "QtQuick.Dialogs",
          "Qt.labs.folderlistmodel"}) {
        QQmlComponent c(&engine);
        c.setData(QByteArray("import QtQml\nimport ") + import + "\nQtObject {}\n", QUrl());
        EXPECT_TRUE(c.isReady()) << import << ": " << c.errorString().toStdString();
        std::unique_ptr<QObject> o(c.create());
        EXPECT_NE(o, nullptr) << import;
    }
}
