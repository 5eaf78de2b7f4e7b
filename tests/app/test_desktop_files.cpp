// SPDX-License-Identifier: GPL-3.0-or-later
// What `cmake --install` puts on a system, checked with the validators the desktop and
// the software centres use.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>

namespace {

QString SourceFile(const char* rel) {
    return QDir(QStringLiteral(NAVORA_SOURCE_DIR)).filePath(QString::fromLatin1(rel));
}

// Runs a tool that may be missing on a developer's machine; (-1, "") when it is.
std::pair<int, QString> RunTool(const QString& program, const QStringList& args) {
    if (QStandardPaths::findExecutable(program).isEmpty()) return {-1, {}};
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(120000)) return {-2, QStringLiteral("timed out")};
    return {p.exitCode(), QString::fromLocal8Bit(p.readAll())};
}

}  // namespace

TEST(DesktopIntegration, LauncherAndMetadataPassTheValidators) {
    const auto desktop = RunTool(QStringLiteral("desktop-file-validate"),
                             {SourceFile("data/desktop/app.navora.Navora.desktop")});
    if (desktop.first != -1) {
        EXPECT_EQ(desktop.first, 0) << desktop.second.toStdString();
    }
    const auto meta = RunTool(QStringLiteral("appstreamcli"),
                          {QStringLiteral("validate"), QStringLiteral("--no-net"),
                           SourceFile("data/desktop/app.navora.Navora.metainfo.xml")});
    if (meta.first == -1) GTEST_SKIP() << "appstreamcli is not installed";
    EXPECT_EQ(meta.first, 0) << meta.second.toStdString();
}

TEST(DesktopIntegration, LauncherOpensChartsPackagesGpxAndLinks) {
    QFile file(SourceFile("data/desktop/app.navora.Navora.desktop"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    std::map<QString, QString> keys;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int eq = line.indexOf('=');
        if (eq > 0) keys[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1));
    }
    // %U: several files or links in one go, handed to the running window.
    EXPECT_TRUE(keys[QStringLiteral("Exec")].endsWith(QStringLiteral("%U")));
    const QStringList mime = keys[QStringLiteral("MimeType")].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const char* type : {"application/x-navora-qct", "application/x-navora-package", "application/x-navora-page",
                             "application/x-navora-layout", "application/gpx+xml", "x-scheme-handler/navlink"})
        EXPECT_TRUE(mime.contains(QLatin1String(type))) << type;
    // Our own types must be declared, or the desktop never hands such files to us.
    QFile types(SourceFile("data/desktop/navora-mime.xml"));
    ASSERT_TRUE(types.open(QIODevice::ReadOnly));
    const QByteArray declared = types.readAll();
    for (const QString& type : mime) {
        if (type.startsWith(QLatin1String("application/x-navora"))) {
            EXPECT_TRUE(declared.contains("type=\"" + type.toUtf8() + "\"")) << type.toStdString();
        }
    }
    EXPECT_EQ(keys[QStringLiteral("Icon")], QStringLiteral("app.navora.Navora"));
}

TEST(DesktopIntegration, InstallPutsEverythingWhereTheDesktopLooks) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const auto install = RunTool(QStringLiteral("cmake"), {QStringLiteral("--install"), QStringLiteral(NAVORA_BINARY_DIR),
                                                       QStringLiteral("--prefix"), prefix.path()});
    ASSERT_NE(install.first, -1) << "cmake is not on the PATH";
    ASSERT_EQ(install.first, 0) << install.second.toStdString();
    const QDir root(prefix.path());
    for (const char* rel :
         {"bin/navora", "bin/navora-tool", "share/applications/app.navora.Navora.desktop", "share/metainfo/app.navora.Navora.metainfo.xml",
          "share/mime/packages/app.navora.Navora.xml", "share/icons/hicolor/scalable/apps/app.navora.Navora.svg",
          "share/icons/hicolor/256x256/apps/app.navora.Navora.png"})
        EXPECT_TRUE(QFile::exists(root.filePath(QString::fromLatin1(rel)))) << rel;
    // The installed tool runs and lists its commands.
    const auto help = RunTool(root.filePath(QStringLiteral("bin/navora-tool")), {QStringLiteral("--help")});
    EXPECT_EQ(help.first, 0);
    EXPECT_TRUE(help.second.contains(QStringLiteral("qct-info"))) << help.second.toStdString();
    // The installed program finds its charts and the demo trip relative to itself.
    if (QDir(QStringLiteral(NAVORA_BINARY_DIR "/builtin")).exists()) {
        EXPECT_FALSE(QDir(root.filePath(QStringLiteral("share/navora/builtin")))
                         .entryList({QStringLiteral("*.qct")}, QDir::Files)
                         .isEmpty());
    }
    if (QFile::exists(QStringLiteral(NAVORA_BINARY_DIR "/demo/demo_sail.nmea"))) {
        EXPECT_TRUE(QFile::exists(root.filePath(QStringLiteral("share/navora/demo/demo_sail.nmea"))));
    }
}
