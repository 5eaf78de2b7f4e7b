// SPDX-License-Identifier: GPL-3.0-or-later
// The guide shipped inside the program: every chapter and picture is really there, and
// the screens that ask for help land in the chapter about them.
#include <QFile>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "app/userguide.h"

TEST(UserGuide, EveryChapterAndPictureIsShippedAndScreensFindTheirChapter) {
    const auto& chapters = CUserGuide::Chapters();
    ASSERT_FALSE(chapters.empty());
    const QRegularExpression image(QStringLiteral(R"(!\[[^\]]*\]\((qrc:/[^)]+)\))"));
    for (int i = 0; i < int(chapters.size()); ++i) {
        const QString text = CUserGuide::ChapterText(i);
        ASSERT_FALSE(text.isEmpty()) << chapters[size_t(i)].tag;
        EXPECT_TRUE(text.startsWith(QStringLiteral("# "))) << "the licence line is not shown";
        for (auto m = image.globalMatch(text); m.hasNext();) {
            const QString path = m.next().captured(1).mid(3);  // qrc:/x -> :/x
            EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
        }
    }
    auto chapterOf = [&](const char* tag) { return std::string(chapters[size_t(CUserGuide::ChapterForTag(tag))].tag); };
    EXPECT_EQ(chapterOf("layout"), "pages");
    EXPECT_EQ(chapterOf("GPS Connection"), "gps");
    EXPECT_EQ(chapterOf("GPS Position"), "gps");
    EXPECT_EQ(chapterOf("Map Options"), "charts");
    EXPECT_EQ(chapterOf("Units"), "units");
    EXPECT_EQ(chapterOf("no such screen"), "start");

    CUserGuide guide;
    guide.openLink(QStringLiteral("help:data"));
    EXPECT_EQ(chapters[size_t(guide.current())].tag, std::string("data"));
    EXPECT_TRUE(guide.text().startsWith(QStringLiteral("# Your data")));
}
