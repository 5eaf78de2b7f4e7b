// SPDX-License-Identifier: GPL-3.0-or-later
// Starts the real program, offscreen, in a private data directory, the way a user's
// desktop would: a first instance, a second one carrying a file, signals, a hard kill.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

class AppProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_home.isValid());
        QDir(m_home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(m_home.path() + QStringLiteral("/run"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QProcessEnvironment Env() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path() + QStringLiteral("/cache"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path() + QStringLiteral("/run"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        // Qt's own caches are not ours to judge here.
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        return env;
    }

    QString DataDir(const QString& profile) const { return m_home.path() + QStringLiteral("/data/Navora/") + profile; }

    std::unique_ptr<QProcess> Start(const QStringList& args) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(Env());
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral(NAVORA_APP_BINARY), args);
        EXPECT_TRUE(p->waitForStarted(10000));
        return p;
    }

    // Waits until the process has printed `text` (or the time runs out).
    static bool WaitForOutput(QProcess& p, QByteArray& seen, const QByteArray& text, int ms = 30000) {
        QElapsedTimer t;
        t.start();
        while (!seen.contains(text) && t.elapsed() < ms && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(200);
            seen += p.readAll();
        }
        seen += p.readAll();
        return seen.contains(text);
    }

    static void Stop(QProcess& p, QByteArray& seen) {
        p.terminate();  // SIGTERM: the orderly path
        EXPECT_TRUE(p.waitForFinished(30000));
        seen += p.readAll();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 0);
    }

    QTemporaryDir m_home;
};

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
