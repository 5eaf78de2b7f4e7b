// SPDX-License-Identifier: GPL-3.0-or-later
// Mark icons: the built-in set, tinting, user icons, and removing unused ones without
// touching anything else in the folder.

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "overlays/iconmanager.h"

namespace {

class IconTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        CIconManager::setIconFolderForTesting(Folder());
    }
    void TearDown() override { CIconManager::setIconFolderForTesting({}); }
    std::string Folder() const { return m_dir.filePath(QStringLiteral("Icons")).toStdString(); }
    QString Path(const QString& name) const { return QString::fromStdString(Folder()) + "/" + name; }
    static void Png(const QString& path, QColor colour) {
        QImage img(16, 16, QImage::Format_ARGB32);
        img.fill(colour);
        ASSERT_TRUE(img.save(path, "PNG"));
    }
    static void Touch(const QString& path) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
    }
    QTemporaryDir m_dir;
};

TEST_F(IconTest, BuiltInIconsDrawAndColourisableOnesTakeTheMarkColour) {
    CIconManager& icons = CIconManager::Instance();
    const auto names = CIconManager::builtinNames();
    ASSERT_GE(names.size(), 34u);
    EXPECT_EQ(names[6], "Anchor");  // legacy icon numbers index this list
    EXPECT_EQ(names[12], "MOB");
    EXPECT_EQ(names[31], "Water");
    EXPECT_EQ(names[16], "Tinydot");  // names are the normalised ones marks store
    EXPECT_TRUE(icons.hasIcon("TinyDot"));
    for (const std::string& n : names) {
        FPoint hot;
        const QImage& img = icons.GetIcon(n, GraphicsColor(), hot, 24);
        if (n == "None") {
            EXPECT_TRUE(img.isNull());
            continue;
        }
        EXPECT_FALSE(img.isNull()) << n;
    }
    FPoint hot;
    const QImage red = icons.GetIcon("Dot", GraphicsColor(255, 0, 0, 255), hot, 32);
    EXPECT_EQ(hot.x, 16);
    const QColor c = red.pixelColor(16, 16);
    EXPECT_GT(c.red(), 200);
    EXPECT_LT(c.green(), 40);
    EXPECT_LT(c.blue(), 40);
    EXPECT_TRUE(icons.isColorized("Dot"));
    EXPECT_FALSE(icons.isColorized("Anchor"));
    // A pin stands on its point.
    icons.GetIcon("Pin", GraphicsColor(), hot, 32);
    EXPECT_EQ(hot.y, 32);
    // Not colourisable: the mark colour leaves it as drawn.
    const QImage a = icons.GetIcon("Fuel", GraphicsColor(0, 255, 0, 255), hot, 32);
    const QImage b = icons.GetIcon("Fuel", GraphicsColor(), hot, 32);
    EXPECT_EQ(a, b);
}

TEST_F(IconTest, UserIconsAreImportedUnderTheirNormalisedName) {
    CIconManager& icons = CIconManager::Instance();
    const QString src = m_dir.filePath(QStringLiteral("my buoy_c.png"));
    Png(src, Qt::white);
    std::string error;
    EXPECT_EQ(icons.importCustomIcon(src.toStdString(), &error), "My_buoy") << error;
    EXPECT_TRUE(QFile::exists(Path("My_buoy_c.png")));
    EXPECT_TRUE(icons.isColorized("My_buoy"));
    FPoint hot;
    const QImage tinted = icons.GetIcon("My_buoy", GraphicsColor(0, 0, 255, 255), hot, 16);
    EXPECT_EQ(tinted.pixelColor(8, 8).blue(), 255);
    EXPECT_EQ(tinted.pixelColor(8, 8).red(), 0);

    const QString text = m_dir.filePath(QStringLiteral("evil.txt"));
    Touch(text);
    EXPECT_EQ(icons.importCustomIcon(text.toStdString(), &error), "");
    EXPECT_FALSE(error.empty());
    const QString fake = m_dir.filePath(QStringLiteral("fake.png"));
    Touch(fake);
    EXPECT_EQ(icons.importCustomIcon(fake.toStdString(), &error), "");
    EXPECT_EQ(icons.getCustomIconSet(), std::vector<std::string>{"My_buoy"});
}

TEST_F(IconTest, DeletingUnusedIconsTouchesOnlyIconFilesOfUnusedIcons) {
    QDir().mkpath(QString::fromStdString(Folder()) + "/sub");
    Png(Path("Used.png"), Qt::red);
    Png(Path("Unused.png"), Qt::red);
    Png(Path("Unused@2x.png"), Qt::red);
    Touch(Path("Unused.txt"));
    Touch(Path("readme.txt"));
    Touch(Path("notes.doc"));
    Png(Path("sub/Other.png"), Qt::red);
    const QString outside = m_dir.filePath(QStringLiteral("Outside.png"));
    Png(outside, Qt::red);
    ASSERT_TRUE(QFile::link(outside, Path("Linked.png")));

    EXPECT_EQ(CIconManager::Instance().deleteUnusedIcons({"Used"}), 1);
    EXPECT_TRUE(QFile::exists(Path("Used.png")));
    EXPECT_FALSE(QFile::exists(Path("Unused.png")));
    EXPECT_FALSE(QFile::exists(Path("Unused@2x.png")));
    EXPECT_FALSE(QFile::exists(Path("Unused.txt")));
    EXPECT_TRUE(QFile::exists(Path("readme.txt")));
    EXPECT_TRUE(QFile::exists(Path("notes.doc")));
    EXPECT_TRUE(QFile::exists(Path("sub/Other.png")));
    EXPECT_TRUE(QFile::exists(outside));
    EXPECT_TRUE(QFileInfo(Path("Linked.png")).isSymLink());
}

}  // namespace
