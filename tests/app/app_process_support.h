// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the real program offscreen in a private home: its own data, cache, configuration
// and runtime folders, and no session bus.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>


class NavoraProcessTest : public ::testing::Test {
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
