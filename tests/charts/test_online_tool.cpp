// SPDX-License-Identifier: GPL-3.0-or-later
// The online chart commands of navora-tool end to end, against nginx over TLS with a test
// authority: a chart whose chunk store is an empty file fills in through
// `render-view --online` until the frame equals the complete chart's, and `qct-download`
// reports what it fetched.
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "charts/qct.h"
#include "online/online_test_util.h"
#include "online_chart_util.h"
#include "support/nginx_fixture.h"

namespace {

struct ToolRun {
    int exit_code = -1;
    QJsonObject json;  // the last line of stdout
    QString err;
};

// With `serve`, the event loop runs while the tool does, for a server in this process.
ToolRun RunTool(const QStringList& args, bool serve = false) {
    QProcess p;
    p.start(QStringLiteral(NAVORA_TOOL_PATH), args);
    ToolRun r;
    const bool finished = serve ? WaitUntil([&] { return p.state() == QProcess::NotRunning; }, 120000)
                                : p.waitForFinished(120000);
    if (!finished) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("navora-tool did not finish");
        return r;
    }
    r.exit_code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    r.json = QJsonDocument::fromJson(lines.last()).object();
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

TEST(OnlineTool, EmptyChunkStoreFillsInUntilTheFrameEqualsTheFullChart) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    onlinetest::ChartSet set;
    ASSERT_TRUE(onlinetest::MakeChartSet(dir.path(), "Harbour", 3000, 2000, set));
    {
        QFile empty(dir.path() + "/local/Harbour.qc3");
        ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    }
    NginxServer nginx(dir.path() + "/server", NginxServer::Options{true, {}});
    ASSERT_TRUE(nginx.Running()) << nginx.Error().toStdString();
    const QStringList online = {"--online", "--server", nginx.BaseUrl(), "--ca-file", nginx.CaFile()};
    auto render = [&](const QString& charts, const QString& out, const QStringList& extra) {
        return RunTool(QStringList{"render-view", "--charts", charts, "--lat", "50.5", "--lon", "-1.5", "--zoom", "0",
                                   "--size", "700x500", "-o", out} +
                       extra);
    };

    const ToolRun ref = render(dir.path() + "/full", dir.path() + "/ref.png", {});
    ASSERT_EQ(ref.exit_code, 0) << ref.err.toStdString();
    // Offline, the empty store shows nothing of the chart and fetches nothing.
    render(dir.path() + "/local", dir.path() + "/offline.png", {});
    EXPECT_EQ(QFileInfo(dir.path() + "/local/Harbour.qc3").size(), 0);
    EXPECT_NE(QImage(dir.path() + "/offline.png"), QImage(dir.path() + "/ref.png"));

    const ToolRun got = render(dir.path() + "/local", dir.path() + "/online.png", online);
    ASSERT_EQ(got.exit_code, 0) << got.err.toStdString();
    EXPECT_TRUE(got.json["complete"].toBool());
    EXPECT_GT(got.json["chunks_fetched"].toInt(), 0);
    EXPECT_GT(got.json["bytes_fetched"].toDouble(), 10000);
    const QImage a(dir.path() + "/ref.png"), b(dir.path() + "/online.png");
    ASSERT_FALSE(a.isNull());
    EXPECT_EQ(a, b) << "the fetched frame differs from the complete chart's";

    // A diagonal corridor: every chunk it touches (four, though no chunk centre lies within
    // its width), two of them already fetched for the view; then the rest of the chart.
    const QStringList server = {"--server", nginx.BaseUrl(), "--ca-file", nginx.CaFile()};
    ToolRun bulk = RunTool(QStringList{"qct-download", set.local, "--route", "50.9,-1.9;50.1,-1.1", "--width-nm", "1"} +
                           server);
    ASSERT_EQ(bulk.exit_code, 0) << bulk.err.toStdString();
    EXPECT_TRUE(bulk.json["complete"].toBool());
    EXPECT_EQ(bulk.json["chunks"].toInt(), 4);
    EXPECT_EQ(bulk.json["present"].toInt(), 2);
    EXPECT_EQ(bulk.json["downloaded"].toInt(), 2);
    EXPECT_GT(bulk.json["bytes"].toDouble(), 10000);
    EXPECT_NE(bulk.err.indexOf("progress"), -1);
    bulk = RunTool(QStringList{"qct-download", set.local, "--whole"} + server);
    ASSERT_EQ(bulk.exit_code, 0) << bulk.err.toStdString();
    EXPECT_EQ(bulk.json["chunks"].toInt(), 6);
    EXPECT_EQ(bulk.json["present"].toInt(), 4);
    EXPECT_EQ(bulk.json["downloaded"].toInt(), 2);
    EXPECT_EQ(bulk.json["failed"].toInt(), 0);
    EXPECT_TRUE(CQuickChart::appearsFullyDownloaded(set.local.toStdString()));

    // Bad arguments and a server that is not there: a usage error, then a plain failure.
    EXPECT_EQ(RunTool({"qct-download", set.local, "--whole", "--area", "1,0,0,1"}).exit_code, 2);
    EXPECT_EQ(RunTool({"qct-download", set.local, "--route", "50,-1"}).exit_code, 2);
    QFile::remove(dir.path() + "/local/Harbour.qc3");
    const ToolRun none = RunTool({"qct-download", set.local, "--whole", "--server",
                                  "http://127.0.0.1:" + QString::number(FreeLoopbackPort())});
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_FALSE(none.json["complete"].toBool());
    EXPECT_NE(none.err.indexOf("Failed to download chunkfile header"), -1) << none.err.toStdString();
}

// The view's chunks never come (the server resets every chunk request): the renderer's
// worker stops after a few failures and render-view gives up at once instead of waiting,
// reporting the frame incomplete.
TEST(OnlineTool, RenderViewGivesUpWhenTheServerFailsEveryChunk) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    onlinetest::ChartSet set;
    ASSERT_TRUE(onlinetest::MakeChartSet(dir.path(), "Harbour", 1500, 1000, set));
    const QByteArray store = ReadBytes(set.server);
    HostileServer hostile([&](QTcpSocket* s, const HostileServer::Request& rq) {
        const auto m = QRegularExpression(R"(bytes=(\d+)-(\d+))").match(QString::fromLatin1(rq.Header("Range")));
        if (!m.hasMatch() || rq.head.contains(".redir.txt")) {
            s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        const long long a = m.captured(1).toLongLong(), b = std::min<long long>(m.captured(2).toLongLong(), store.size() - 1);
        if (a >= 40 + 8 * 2) return s->abort();  // past the header and the offset table
        const QByteArray body = store.mid(a, b - a + 1);
        s->write("HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(a) + "-" +
                 QByteArray::number(b) + "/" + QByteArray::number(store.size()) + "\r\nContent-Length: " +
                 QByteArray::number(body.size()) + "\r\n\r\n" + body);
    });
    QElapsedTimer clock;
    clock.start();
    const ToolRun r = RunTool({"render-view", "--charts", dir.path() + "/local", "--lat", "50.5", "--lon", "-1.5",
                               "--zoom", "0", "--size", "400x300", "-o", dir.path() + "/out.png", "--online",
                               "--server", "http://127.0.0.1:" + QString::number(hostile.Port())},
                              true);
    EXPECT_EQ(r.exit_code, 1) << r.err.toStdString() << QJsonDocument(r.json).toJson().toStdString();
    EXPECT_FALSE(r.json["complete"].toBool());
    EXPECT_EQ(r.json["chunks_fetched"].toInt(), 0);
    EXPECT_LT(clock.elapsed(), 30000);
    EXPECT_GE(hostile.requests.size(), 4u);
}

}  // namespace
