// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the real program, offscreen, in a private data directory, the way a user's
// desktop would: a first instance, a second one carrying a file, signals, a hard kill.
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include "app_process_support.h"

namespace {

using AppProcessTest = NavoraProcessTest;

const QByteArray kReady = "devicePixelRatio: ";
const QByteArray kCrashMessage = "Problem: Last time the app closed, it did not properly shut down";

}  // namespace

TEST_F(AppProcessTest, SecondInstanceForwardsItsFilesToTheFirst) {
    QByteArray out1;
    auto first = Start({QStringLiteral("-profile"), QStringLiteral("t1")});
    ASSERT_TRUE(WaitForOutput(*first, out1, kReady)) << out1.constData();
    EXPECT_TRUE(QFile::exists(DataDir(QStringLiteral("t1")) + QStringLiteral("/Navora.ini")));

    const QString gpx = m_home.path() + QStringLiteral("/x.gpx");
    {
        QFile f(gpx);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<gpx/>");
    }
    auto second = Start({QStringLiteral("-profile"), QStringLiteral("t1"), gpx});
    ASSERT_TRUE(second->waitForFinished(15000));
    const QByteArray out2 = second->readAll();
    EXPECT_EQ(second->exitCode(), 0);
    EXPECT_TRUE(out2.contains("App already running.")) << out2.constData();
    EXPECT_FALSE(out2.contains(kReady)) << "the second instance must not bring up a window";

    EXPECT_TRUE(WaitForOutput(*first, out1, "Command line: " + gpx.toUtf8())) << out1.constData();
    EXPECT_TRUE(WaitForOutput(*first, out1, "Failed to import file: " + gpx.toUtf8())) << out1.constData();

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
