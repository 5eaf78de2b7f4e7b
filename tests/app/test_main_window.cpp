// SPDX-License-Identifier: GPL-3.0-or-later
// The main window as a new user first sees it, grabbed from the real program: a chart
// where the map is, the toolbar along the bottom, and the same chart and place after a
// restart.
#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include "app_process_support.h"

namespace {

const QByteArray kFirstFrame = "First complete chart frame on screen after";

// The built-in charts' paper colours.
const QColor kSea(0xCF, 0xE6, 0xF5);
const QColor kShallow(0xB4, 0xD7, 0xF0);
const QColor kLand(0xF3, 0xE3, 0xAE);

bool Near(QRgb p, const QColor& c, int tolerance = 14) {
    return std::abs(qRed(p) - c.red()) <= tolerance && std::abs(qGreen(p) - c.green()) <= tolerance &&
           std::abs(qBlue(p) - c.blue()) <= tolerance;
}

class MainWindowTest : public NavoraProcessTest {
protected:
    void SetUp() override {
        NavoraProcessTest::SetUp();
        if (!QDir(QStringLiteral(NAVORA_BINARY_DIR "/builtin")).exists())
            GTEST_SKIP() << "the built-in charts were not made (no npm)";
    }

    // Runs the program until its first complete chart frame, grabs the window and ends.
    QByteArray RunUntilFirstFrame(const QStringList& args, QImage* shot = nullptr) {
        const QString png = m_home.path() + QStringLiteral("/shot.png");
        QFile::remove(png);
        QProcess p;
        QProcessEnvironment env = Env();
        env.insert(QStringLiteral("NAVORA_SCREENSHOT"), png);
        env.insert(QStringLiteral("NAVORA_EXIT_AFTER_SCREENSHOT"), QStringLiteral("1"));
        env.insert(QStringLiteral("NAVORA_BUILTIN_CHARTS"), QStringLiteral(NAVORA_BINARY_DIR "/builtin"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(NAVORA_APP_BINARY), args);
        EXPECT_TRUE(p.waitForStarted(10000));
        if (!p.waitForFinished(90000)) p.kill();
        const QByteArray out = p.readAll();
        EXPECT_EQ(p.exitCode(), 0) << out.constData();
        if (shot) *shot = QImage(png).convertToFormat(QImage::Format_RGB32);
        return out;
    }
};

}  // namespace

TEST_F(MainWindowTest, FirstStartShowsABuiltInChartAboveTheToolbar) {
    QImage shot;
    const QByteArray out = RunUntilFirstFrame({QStringLiteral("-profile"), QStringLiteral("fresh")}, &shot);
    ASSERT_TRUE(out.contains(kFirstFrame)) << out.constData();
    EXPECT_TRUE(out.contains("/builtin/")) << out.constData();
    ASSERT_FALSE(shot.isNull());
    ASSERT_GE(shot.height(), 400);

    // The map fills the area above the toolbar: mostly chart paper, sea and land.
    const int mapBottom = shot.height() - 80;
    long sea = 0, land = 0, total = 0;
    for (int y = 0; y < mapBottom; y += 2) {
        for (int x = 0; x < shot.width(); x += 2) {
            const QRgb p = shot.pixel(x, y);
            sea += Near(p, kSea) || Near(p, kShallow);
            land += Near(p, kLand);
            ++total;
        }
    }
    EXPECT_GT(sea, total / 5) << "sea " << sea << " of " << total;
    EXPECT_GT(land, total / 200) << "land " << land << " of " << total;

    // The toolbar: a dark band along the bottom edge.
    long dark = 0, row = 0;
    for (int x = 0; x < shot.width(); ++x) {
        const QRgb p = shot.pixel(x, shot.height() - 10);
        dark += qGray(p) < 90;
        ++row;
    }
    EXPECT_GT(dark, row * 3 / 4);
}

TEST_F(MainWindowTest, RestartReturnsToTheSameChartAndPlace) {
    // A link puts the map over the English Channel; the next plain start shows it again.
    const QByteArray first = RunUntilFirstFrame(
        {QStringLiteral("-profile"), QStringLiteral("again"), QStringLiteral("navlink://view?lat=50.3&lon=-2.5&scale=1e-5")});
    ASSERT_TRUE(first.contains(kFirstFrame)) << first.constData();
    EXPECT_TRUE(QFile::exists(DataDir(QStringLiteral("again")) + QStringLiteral("/0.dvqc")));

    // A mark link on the next start: the mark is made, kept, and the map stays there.
    const QByteArray second = RunUntilFirstFrame(
        {QStringLiteral("-profile"), QStringLiteral("again"),
         QStringLiteral("navlink://mark?lat=50.31&lon=-2.49&name=Buoy%20A&color=ff0000&category=Racing")});
    const int at = second.indexOf(kFirstFrame);
    ASSERT_GE(at, 0) << second.constData();
    const QByteArray line = second.mid(at, second.indexOf('\n', at) - at);
    EXPECT_TRUE(line.contains("english_channel.qct")) << line.constData();
    QFile marks(DataDir(QStringLiteral("again")) + QStringLiteral("/marks.nvtf"));
    ASSERT_TRUE(marks.open(QIODevice::ReadOnly));
    const QByteArray stored = marks.readAll();
    EXPECT_TRUE(stored.contains("Buoy A"));
    EXPECT_TRUE(stored.contains("Racing"));
}
