// SPDX-License-Identifier: GPL-3.0-or-later
// navora-tool gpx-convert: files of other programs and a legacy CSV file through the
// real importer and writers, converted twice to the same counts and points.

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

namespace {

struct Converted {
    int exitCode = -1;
    std::string out, err;
};

Converted Convert(const QString& in, const QString& out) {
    QProcess p;
    p.start(QStringLiteral(NAVORA_TOOL_PATH), {QStringLiteral("gpx-convert"), in, QStringLiteral("-o"), out});
    Converted c;
    if (!p.waitForFinished(60000)) return c;
    c.exitCode = p.exitCode();
    c.out = p.readAllStandardOutput().toStdString();
    c.err = p.readAllStandardError().toStdString();
    return c;
}

QString Data(const char* name) {
    return QStringLiteral(NAVORA_TEST_DATA_DIR "/gpx/") + QString::fromLatin1(name);
}

}  // namespace

TEST(GpxConvert, ConvertsOtherProgramsFilesAndItsOwnOutputToTheSameCounts) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const bool xmllint = !QStandardPaths::findExecutable(QStringLiteral("xmllint")).isEmpty();
    struct Case {
        const char* file;
        const char* counts;
    };
    for (const Case& c : {
             Case{"planner_route.gpx", R"({"marks": 3, "routes": 1, "route_points": 5, "tracks": 0, "track_points": 0})"},
             Case{"handheld_tracklog.gpx",
                  R"({"marks": 2, "routes": 0, "route_points": 0, "tracks": 1, "track_points": 104})"},
             Case{"gpx10_mixed.gpx", R"({"marks": 3, "routes": 1, "route_points": 3, "tracks": 1, "track_points": 6})"},
             Case{"legacy_overlays.csv",
                  R"({"marks": 7, "routes": 1, "route_points": 3, "tracks": 1, "track_points": 4})"},
         }) {
        const QString once = dir.filePath(QStringLiteral("once.gpx")), twice = dir.filePath(QStringLiteral("twice.gpx"));
        const Converted a = Convert(Data(c.file), once);
        ASSERT_EQ(a.exitCode, 0) << c.file << ": " << a.err;
        EXPECT_EQ(a.out, std::string(c.counts) + "\n") << c.file;
        // Its own output converts to the same objects.
        const Converted b = Convert(once, twice);
        ASSERT_EQ(b.exitCode, 0) << c.file << ": " << b.err;
        EXPECT_EQ(b.out, a.out) << c.file;
        EXPECT_TRUE(b.err.empty()) << b.err;
        if (xmllint) {
            QProcess v;
            v.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--nonet"),
                                                QStringLiteral("--schema"), Data("schema/navora_gpx.xsd"), once});
            ASSERT_TRUE(v.waitForFinished(60000));
            EXPECT_EQ(v.exitCode(), 0) << c.file << ": " << v.readAllStandardError().constData();
        }
    }

    const Converted missing = Convert(dir.filePath(QStringLiteral("none.gpx")), dir.filePath(QStringLiteral("x.gpx")));
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("The file cannot be opened: No such file or directory."), std::string::npos)
        << missing.err;
    EXPECT_TRUE(missing.out.empty());
}
