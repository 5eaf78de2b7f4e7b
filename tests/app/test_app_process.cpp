// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the real program, offscreen, in a private data directory, the way a user's
// desktop would: a first instance, a second one carrying a file, signals, a hard kill.
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include "app_process_support.h"
#include "charts/qct_writer.h"

namespace {

using AppProcessTest = NavoraProcessTest;

const QByteArray kReady = "devicePixelRatio: ";
const QByteArray kCrashMessage = "Problem: Last time the app closed, it did not properly shut down";

// A small chart of one colour over the given box.
QString WriteChart(const QString& path, double north, double south, double west, double east) {
    CQctWriter w;
    std::vector<uint8_t> idx(256 * 256, 0);
    EXPECT_TRUE(w.SetIndexedImage(256, 256, idx, {0x3366CC}));
    EXPECT_TRUE(w.SetGeorefFromCorners(north, south, west, east));
    w.Meta().map_type = QStringLiteral("Topo");
    EXPECT_TRUE(w.WriteSingleFile(path.toStdString()));
    return path;
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

TEST_F(AppProcessTest, ChartsArriveFromTheCommandLineALinkAndASecondInstance) {
    const QString a = WriteChart(m_home.path() + QStringLiteral("/alpha.qct"), 51, 50, -2, -1);
    const QString b = WriteChart(m_home.path() + QStringLiteral("/bravo.qct"), 41, 40, 10, 11);
    const QString c = WriteChart(m_home.path() + QStringLiteral("/charlie.qct"), -33, -34, 150, 151);

    QByteArray out;
    auto first = Start({QStringLiteral("-profile"), QStringLiteral("c1"), a});
    ASSERT_TRUE(WaitForOutput(*first, out, "First complete chart frame on screen after")) << out.constData();
    EXPECT_TRUE(WaitForOutput(*first, out, "Opened chart: " + a.toUtf8())) << out.constData();

    // A link handed over by a second instance, and then a plain path.
    for (const QString& arg : {QStringLiteral("file://") + b, c}) {
        auto second = Start({QStringLiteral("-profile"), QStringLiteral("c1"), arg});
        ASSERT_TRUE(second->waitForFinished(15000));
        EXPECT_EQ(second->exitCode(), 0);
        const QString path = arg.startsWith(QStringLiteral("file://")) ? arg.mid(7) : arg;
        EXPECT_TRUE(WaitForOutput(*first, out, "Opened chart: " + path.toUtf8())) << out.constData();
    }
    EXPECT_FALSE(out.contains("cannot be imported")) << out.constData();
    Stop(*first, out);
    // The map's stored view names the last chart: it was really shown, not only logged.
    EXPECT_TRUE(ReadFile(DataDir(QStringLiteral("c1")) + QStringLiteral("/0.dvqc")).contains(c.toUtf8()));
    for (const QString& chart : {a, b, c}) EXPECT_TRUE(QFile::exists(chart));
}

TEST_F(AppProcessTest, SecondInstanceForwardsItsFilesToTheFirst) {
    QByteArray out1;
    auto first = Start({QStringLiteral("-profile"), QStringLiteral("t1")});
    ASSERT_TRUE(WaitForOutput(*first, out1, kReady)) << out1.constData();
    EXPECT_TRUE(QFile::exists(DataDir(QStringLiteral("t1")) + QStringLiteral("/Navora.ini")));

    const QString gpx = m_home.path() + QStringLiteral("/x.gpx");
    {
        QFile f(gpx);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<gpx version=\"1.1\"><wpt lat=\"50.5\" lon=\"-2.5\"><name>Forwarded</name></wpt></gpx>");
    }
    auto second = Start({QStringLiteral("-profile"), QStringLiteral("t1"), gpx});
    ASSERT_TRUE(second->waitForFinished(15000));
    const QByteArray out2 = second->readAll();
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(out2.contains("App already running.")) << out2.constData();
    EXPECT_FALSE(out2.contains(kReady)) << "the second instance must not bring up a window";

    EXPECT_TRUE(WaitForOutput(*first, out1, "Command line: " + gpx.toUtf8())) << out1.constData();
    EXPECT_TRUE(WaitForOutput(*first, out1, "Imported 1 mark.")) << out1.constData();

    // Another profile is another instance.
    QByteArray out3;
    auto other = Start({QStringLiteral("-profile"), QStringLiteral("t2")});
    EXPECT_TRUE(WaitForOutput(*other, out3, kReady)) << out3.constData();
    Stop(*other, out3);

    Stop(*first, out1);
    EXPECT_FALSE(QFile::exists(DataDir(QStringLiteral("t1")) + QStringLiteral("/app.crash")));
}

TEST_F(AppProcessTest, KilledRunIsReportedOnceAndItsSocketDoesNotBlockTheNextStart) {
    QByteArray out;
    auto run1 = Start({QStringLiteral("-profile"), QStringLiteral("k")});
    ASSERT_TRUE(WaitForOutput(*run1, out, kReady)) << out.constData();
    EXPECT_FALSE(out.contains(kCrashMessage));
    run1->kill();  // SIGKILL: no chance to clean up the marker or the socket
    run1->waitForFinished(10000);
    ASSERT_TRUE(QFile::exists(DataDir(QStringLiteral("k")) + QStringLiteral("/app.crash")));

    QByteArray out2;
    auto run2 = Start({QStringLiteral("-profile"), QStringLiteral("k")});
    EXPECT_TRUE(WaitForOutput(*run2, out2, kCrashMessage)) << out2.constData();
    QThread::msleep(300);
    out2 += run2->readAll();
    EXPECT_EQ(out2.count(kCrashMessage), 1);
    Stop(*run2, out2);

    QByteArray out3;
    auto run3 = Start({QStringLiteral("-profile"), QStringLiteral("k")});
    ASSERT_TRUE(WaitForOutput(*run3, out3, kReady)) << out3.constData();
    QThread::msleep(500);  // the message would come with the first page, 100 ms after start
    Stop(*run3, out3);
    EXPECT_FALSE(out3.contains(kCrashMessage)) << out3.constData();
}
