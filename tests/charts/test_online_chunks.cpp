// SPDX-License-Identifier: GPL-3.0-or-later
// Chunk data from a chunk server: a real nginx on loopback (plain and TLS) serving the
// server copy of a chart's chunk file, and a hostile server of our own.
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "charts/qct.h"
#include "charts/qct_download.h"
#include "charts/qct_passage.h"
#include "online/online_test_util.h"
#include "online/onlinesettings.h"
#include "online/webclient.h"
#include "online_chart_util.h"
#include "support/nginx_fixture.h"
#include "support/recording_ui.h"

namespace {

using ChunkHeader = CQuickChart::CChunkFile::ChunkHeader;
constexpr int kW = 3000, kH = 2000;  // 3 x 2 chunks

CServerAddress Loopback(int port, bool tls) {
    return CServerAddress{tls, "127.0.0.1", port};
}

// Holds a chart from the shared-open table for the length of a test.
struct Chart {
    CQuickChart3* c3 = nullptr;
    explicit Chart(const QString& path) {
        bool called = false;
        CQuickChart* chart = nullptr;
        CQuickChart::Create(NV_HWND(), path.toStdString(), [&](CQuickChart* c, bool ok) {
            chart = ok ? c : nullptr;
            called = true;
        });
        WaitUntil([&] { return called; });
        c3 = dynamic_cast<CQuickChart3*>(chart);
    }
    ~Chart() {
        if (c3) c3->Destroy();
    }
    CQuickChart::CChunkFile& File() { return *c3->ChunkFile(); }
};

CChunkDownloadReport RunBulk(const std::function<void(CQuickChart3::BulkDone)>& start) {
    CChunkDownloadReport report;
    bool done = false;
    start([&](const CChunkDownloadReport& r) {
        report = r;
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done; }, 60000)) << "the download never ended";
    return report;
}

// Pixels of a rectangle of two charts are identical.
bool SamePixels(CQuickChart* a, CQuickChart* b, int x, int y, int w, int h) {
    std::vector<unsigned> pa(size_t(w) * h), pb(size_t(w) * h);
    const int ra = a->ReadRectRGB(x, y, w, h, w, 0, pa.data(), nullptr);
    const int rb = b->ReadRectRGB(x, y, w, h, w, 0, pb.data(), nullptr);
    return ra == 0 && rb == 0 && pa == pb;
}

// Nothing half-fetched is reachable: each stored chunk offers only words that pass the
// checksum of the finest level it claims (but for a chunk the test stored damaged).
void ExpectOnlyWholeLevels(CQuickChart::CChunkFile& f, int skip_row = -1, int skip_column = -1) {
    for (int r = 0; r < f.Rows(); ++r)
        for (int c = 0; c < f.Columns(); ++c) {
            if (r == skip_row && c == skip_column) continue;
            const int64_t at = f.ReadOffset(r, c);
            if (at == 0 || at == -1) continue;
            ChunkHeader h;
            ASSERT_TRUE(f.ReadChunkHeader(at, h) && h.is_good()) << r << "," << c;
            const int level = h.level_present();
            if (level < 0) continue;
            std::vector<uint32_t> words(size_t(h.size[level]));
            ASSERT_EQ(f.File().LockedRead(at + 76, words.data(), words.size() * 4), (long long)(words.size() * 4));
            EXPECT_TRUE(CQuickChart::CChunkFile::CheckChecksum(h, level, words.data())) << r << "," << c;
        }
}

TEST(ChunkLocation, UrlsRedirectTextsAndForbiddenCharacters) {
    const CServerAddress def{true, "chunks.example.org", 0};
    CChunkServerLocation loc;
    bool host = true;
    ASSERT_TRUE(qct_download::LocationFromUrl("", "/maps/Harbour.qct", def, loc, host));
    EXPECT_FALSE(host);
    EXPECT_EQ(loc.server.host, "chunks.example.org");
    EXPECT_EQ(loc.path, "/mapchunks/Harbour.qc3");
    ASSERT_TRUE(qct_download::LocationFromUrl("http://mirror.example.net/data/h.qc3", "/m/H.qct", def, loc, host));
    EXPECT_TRUE(host);
    EXPECT_FALSE(loc.server.secure);
    EXPECT_EQ(loc.server.host, "mirror.example.net");
    EXPECT_EQ(loc.path, "/data/h.qc3");
    ASSERT_TRUE(qct_download::LocationFromUrl("https://mirror.example.net", "/m/H.qct", def, loc, host));
    EXPECT_TRUE(loc.server.secure);
    EXPECT_EQ(loc.path, "/mapchunks/H.qc3");
    EXPECT_FALSE(qct_download::LocationFromUrl("https://m.example.net/a b.qc3", "/m/H.qct", def, loc, host));
    EXPECT_FALSE(qct_download::LocationFromUrl("https://m.example.net:8080/x.qc3", "/m/H.qct", def, loc, host));
    EXPECT_FALSE(qct_download::LocationFromUrl("/x.qc3?a=1", "/m/H.qct", def, loc, host));

    EXPECT_EQ(qct_download::ParseRedirect("mirror-2.example.org   \n", 24), "mirror-2.example.org");
    EXPECT_EQ(qct_download::ParseRedirect("mirror.example.org/chunks\n", 26), "");
    EXPECT_EQ(qct_download::ParseRedirect(" \n", 2), "");
}

// ---------------------------------------------------------------------------------------
// Against nginx

class OnlineChunks : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(onlinetest::MakeChartSet(dir.path(), "Harbour", kW, kH, set, ServerPlan(), LocalPlan()));
        server = std::make_unique<NginxServer>(dir.path() + "/server", NginxServer::Options{GetParam(), {}});
        ASSERT_TRUE(server->Running()) << server->Error().toStdString();
        COnlineSettings::SetExtraCaFile(GetParam() ? server->CaFile().toStdString() : std::string());
        COnlineSettings::SetServer(COnlineSettings::kChartServer, Loopback(server->Port(), GetParam()));
        COnlineSettings::SetTransferTimeoutMs(COnlineSettings::kDefaultTransferTimeoutMs);
    }
    virtual std::function<ChunkPlan(int, int)> ServerPlan() {
        // One blank chunk on the server.
        return [](int cx, int cy) {
            ChunkPlan p;
            if (cx == 2 && cy == 1) p.kind = ChunkPlan::Blank;
            return p;
        };
    }
    virtual std::function<ChunkPlan(int, int)> LocalPlan() { return {}; }

    // Range requests for chunk data (beyond the header and the offset table).
    QStringList ChunkRequests() {
        QStringList out;
        for (const QString& line : server->AccessLog()) {
            const auto m = QRegularExpression(R"(bytes=(\d+)-)").match(line);
            if (m.hasMatch() && m.captured(1).toLongLong() >= 40 + 8 * 6) out << line;
        }
        return out;
    }

    QTemporaryDir dir;
    onlinetest::ChartSet set;
    std::unique_ptr<NginxServer> server;
    RecordingUi ui;
};

TEST_P(OnlineChunks, BulkAreaRouteAndWholeFillTheChunkStore) {
    Chart ref(set.reference), local(set.local);
    ASSERT_TRUE(ref.c3 && local.c3);
    EXPECT_FALSE(local.File().HasHeader());

    // An area inside the north-west chunk: that chunk alone, with the header fetched first.
    double lat = 0, lon = 0, lat2 = 0, lon2 = 0;
    local.c3->xy_to_latlong(100, 100, lat, lon);
    local.c3->xy_to_latlong(900, 900, lat2, lon2);
    CPolygon area = CPolygon::FromBounds(CBounds(lon, lon2, lat2, lat));
    auto progress = std::make_shared<CProgressDialogData>();
    CChunkDownloadReport r = RunBulk([&](auto done) { local.c3->DownloadPolygon(area, progress, done); });
    EXPECT_TRUE(r.complete) << r.message;
    EXPECT_EQ(r.chunks, 1);
    EXPECT_EQ(r.downloaded, 1);
    EXPECT_GT(r.bytes, 4000);
    EXPECT_TRUE(progress->IsDone());
    EXPECT_TRUE(local.File().ChunkIsFullyDownloaded(0, 0));
    EXPECT_EQ(local.File().ReadOffset(0, 1), 0);
    EXPECT_TRUE(SamePixels(ref.c3, local.c3, 0, 0, 1024, 1024));

    // A route along the southern row: the chunks whose centres lie near it.
    CPolyline route;
    local.c3->xy_to_latlong(0, 1536, lat, lon);
    route.Add(lon, lat);
    local.c3->xy_to_latlong(2900, 1536, lat, lon);
    route.Add(lon, lat);
    r = RunBulk([&](auto done) { local.c3->DownloadRoute(route, 0.05, progress, done); });
    EXPECT_TRUE(r.complete) << r.message;
    EXPECT_EQ(r.chunks, 3);
    EXPECT_EQ(r.blank, 1);
    EXPECT_EQ(r.downloaded, 2);
    EXPECT_EQ(local.File().ReadOffset(1, 2), -1);  // blank on the server: no data fetched
    EXPECT_FALSE(local.File().ChunkIsFullyDownloaded(0, 1));

    // The whole chart: only what is still missing, then it is complete and equals the
    // reference; a second whole download asks for no chunk at all.
    r = RunBulk([&](auto done) { local.c3->DownloadWholeMap(progress, done); });
    EXPECT_TRUE(r.complete) << r.message;
    EXPECT_EQ(r.chunks, 6);
    EXPECT_EQ(r.present, 4);
    EXPECT_EQ(r.downloaded, 2);
    EXPECT_TRUE(local.File().appearsFullyDownloaded());
    EXPECT_TRUE(CQuickChart::appearsFullyDownloaded(set.local.toStdString()));
    local.c3->invalidate_read_cache();
    EXPECT_TRUE(SamePixels(ref.c3, local.c3, 0, 0, kW, 1024));
    EXPECT_TRUE(SamePixels(ref.c3, local.c3, 0, 1024, 2048, kH - 1024));  // all but the blank chunk
    const int before = int(ChunkRequests().size());
    r = RunBulk([&](auto done) { local.c3->DownloadWholeMap(progress, done); });
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(r.downloaded, 0);
    EXPECT_EQ(int(ChunkRequests().size()), before);
    EXPECT_TRUE(ui.messages.empty());

    // The size estimate comes from the server's own chunk headers.
    long long estimate = -2;
    local.c3->estimate_whole_map_size([&](long long bytes) { estimate = bytes; });
    ASSERT_TRUE(WaitUntil([&] { return estimate != -2; }));
    const long long store = QFileInfo(set.server).size();
    EXPECT_GT(estimate, store / 2);
    EXPECT_LT(estimate, store * 2);
}


// Passage readiness over the device's charts: what is missing before, the corridor fetched
// at full detail, and a stretch of the route that no chart covers.
TEST_P(OnlineChunks, PassageReadinessAlongARoute) {
    auto run = [&](CPolyline route, bool download) {
        CPassagePreparer preparer({set.local.toStdString()}, std::move(route), 0.5, nullptr, download);
        CPassageReport report;
        bool done = false;
        preparer.Start([&](const CPassageReport& r) {
            report = r;
            done = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return done; }, 60000));
        return report;
    };
    CPolyline route;  // along the southern chunk row, inside the chart
    route.Add(-1.9, 50.2);
    route.Add(-1.1, 50.2);

    CPassageReport r = run(route, false);
    ASSERT_EQ(r.charts.size(), 1u);
    EXPECT_EQ(r.needed, 3);
    EXPECT_EQ(r.missing, 3);
    EXPECT_FALSE(r.ready);
    EXPECT_NE(r.summary.find("3 of 3"), std::string::npos) << r.summary;
    EXPECT_EQ(r.charts[0].missing_areas.size(), 1u);  // one row: one merged outline

    r = run(route, true);
    EXPECT_TRUE(r.ready) << r.summary;
    EXPECT_EQ(r.present, 3);
    EXPECT_EQ(r.charts[0].download.downloaded, 2);  // the third is blank on the server
    EXPECT_EQ(r.route_samples_offline, r.route_samples);
    for (int c = 0; c < r.charts[0].cols; ++c)
        EXPECT_EQ(r.charts[0].cells[size_t((1 - r.charts[0].r0) * r.charts[0].cols + c)], 1);
    Chart local(set.local);
    EXPECT_FALSE(local.File().ChunkIsFullyDownloaded(0, 0));  // outside the corridor

    route.Add(-0.6, 50.2);  // on beyond the chart's eastern edge
    r = run(route, false);
    EXPECT_FALSE(r.ready);
    EXPECT_EQ(r.missing, 0);
    ASSERT_EQ(r.uncovered.size(), 1u);
    EXPECT_NEAR(r.uncovered[0].second.x, -0.6, 0.01);
    EXPECT_NE(r.summary.find("covered by no chart"), std::string::npos) << r.summary;
}

INSTANTIATE_TEST_SUITE_P(HttpAndHttps, OnlineChunks, ::testing::Values(false, true));

// The device already holds coarse levels of two chunks; one of them was stored damaged.
class PartialChunks : public OnlineChunks {
protected:
    std::function<ChunkPlan(int, int)> ServerPlan() override { return {}; }
    std::function<ChunkPlan(int, int)> LocalPlan() override {
        return [](int cx, int cy) {
            ChunkPlan p;
            p.kind = cy == 0 && cx < 2 ? ChunkPlan::Partial : ChunkPlan::Absent;
            p.finest_level = 3;
            p.corrupt_check = cx == 1;
            return p;
        };
    }
};

TEST_P(PartialChunks, ExtensionsWidenToTwoThousandWordsAndBadChecksumsAreFetchedAfresh) {
    Chart ref(set.reference), local(set.local);
    ASSERT_TRUE(ref.c3 && local.c3);
    const EncodedChunk enc = onlinetest::EncodeChunkOf(kW, kH, 0, 0);
    ASSERT_GT(enc.size[0] - enc.size[3], 2000);
    auto fetch = [&](int row, int column, int wanted, int& level) {
        auto web = std::make_shared<CWebServer_NB_sliced>(Loopback(server->Port(), GetParam()));
        auto c = std::make_shared<DownloadChunk_context>();
        c->row = row;
        c->column = column;
        c->wanted = wanted;
        bool done = false, ok = false;
        local.c3->GetRedirectedDownloadPath([&](const CChunkServerLocation& l) { c->location = l; });
        EXPECT_TRUE(WaitUntil([&] { return c->location.IsValid(); }));
        c->web = web;
        c->done = [&](bool success, int lev) {
            ok = success;
            level = lev;
            done = true;
        };
        local.File().DownloadChunk(c);
        EXPECT_TRUE(WaitUntil([&] { return done; }));
        return ok;
    };

    // Level 2 wanted: the request takes finer levels along until it asks for 2000 words
    // or reaches level 0.
    int expect = 2, need = enc.size[2] - enc.size[3];
    while (need < 2000 && expect > 0) need = enc.size[--expect] - enc.size[3];
    int level = -1;
    ASSERT_TRUE(fetch(0, 0, 2, level));
    EXPECT_EQ(level, expect);
    const QStringList chunks = ChunkRequests();
    ASSERT_EQ(chunks.size(), 1) << chunks.join("\n").toStdString();
    const auto m = QRegularExpression(R"(bytes=(\d+)-(\d+))").match(chunks[0]);
    ASSERT_TRUE(m.hasMatch());
    EXPECT_EQ(m.captured(2).toLongLong() - m.captured(1).toLongLong() + 1, 4LL * need);
    EXPECT_TRUE(SamePixels(ref.c3, local.c3, 0, 0, 1024, 1024) || level > 0);
    ExpectOnlyWholeLevels(local.File(), 0, 1);

    // The damaged chunk fails its checksum: it is forgotten, not shown, and the next
    // request fetches it whole from the server.
    EXPECT_FALSE(fetch(0, 1, 0, level));
    EXPECT_EQ(local.File().ReadOffset(0, 1), 0);
    ASSERT_TRUE(fetch(0, 1, 0, level));
    EXPECT_EQ(level, 0);
    local.c3->invalidate_read_cache();
    EXPECT_TRUE(SamePixels(ref.c3, local.c3, 1024, 0, 1024, 1024));
    ExpectOnlyWholeLevels(local.File());
}

INSTANTIATE_TEST_SUITE_P(Http, PartialChunks, ::testing::Values(false));

// The default server's redirect file names another host; a text with a slash in it is
// ignored and the default server, whose magic is right, is used.
TEST(ChunkRedirect, RedirectFileThenMagicDecides) {
    QTemporaryDir dir;
    onlinetest::ChartSet set;
    ASSERT_TRUE(onlinetest::MakeChartSet(dir.path(), "Harbour", 1500, 1000, set));
    NginxServer nginx(dir.path() + "/server");
    ASSERT_TRUE(nginx.Running()) << nginx.Error().toStdString();
    COnlineSettings::SetExtraCaFile({});
    COnlineSettings::SetServer(COnlineSettings::kChartServer, Loopback(nginx.Port(), false));
    auto resolve = [&](const QString& redirect) {
        if (!redirect.isNull()) {
            EXPECT_TRUE(WriteBytes(set.server + ".redir.txt", redirect.toUtf8()));
        }
        Chart local(set.local);
        CChunkServerLocation found;
        bool done = false;
        local.c3->GetRedirectedDownloadPath([&](const CChunkServerLocation& l) {
            found = l;
            done = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return done; }));
        return found;
    };
    CChunkServerLocation l = resolve("localhost  \n");
    EXPECT_EQ(l.server.host, "localhost");
    EXPECT_EQ(l.server.port, nginx.Port());
    EXPECT_EQ(l.path, "/mapchunks/Harbour.qc3");
    EXPECT_EQ(resolve("localhost/elsewhere\n").server.host, "127.0.0.1");
    // A named host without the file: the default server still serves it.
    EXPECT_EQ(resolve("nothing-here.invalid").server.host, "127.0.0.1");
    // No copy on the default server either: no location at all.
    ASSERT_TRUE(QFile::remove(set.server));
    EXPECT_FALSE(resolve("localhost").IsValid());
}

// ---------------------------------------------------------------------------------------
// Against a hostile server

enum class Hostile { WrongMagic, Garbage, Short, Reset, Stall, HugeLength };

class HostileChunks : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileChunks, NoCrashNoHangNothingPartialAndAPlainMessage) {
    QTemporaryDir dir;
    onlinetest::ChartSet set;
    ASSERT_TRUE(onlinetest::MakeChartSet(dir.path(), "Harbour", 1500, 1000, set));
    const QByteArray store = ReadBytes(set.server);
    const Hostile mode = GetParam();
    const long long table_end = 40 + 8 * 2;  // 2 x 1 chunks
    HostileServer hostile([&](QTcpSocket* s, const HostileServer::Request& rq) {
        const auto m = QRegularExpression(R"(bytes=(\d+)-(\d+))").match(QString::fromLatin1(rq.Header("Range")));
        if (!m.hasMatch() || rq.head.contains(".redir.txt")) {
            s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        const long long a = m.captured(1).toLongLong(), b = std::min<long long>(m.captured(2).toLongLong(), store.size() - 1);
        QByteArray body = store.mid(a, b - a + 1);
        const bool chunk = a >= table_end;
        QByteArray head = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + QByteArray::number(a) + "-" +
                          QByteArray::number(b) + "/" + QByteArray::number(store.size()) + "\r\n";
        if (mode == Hostile::WrongMagic && a == 0) body[0] = char(body[0] ^ 0x55);
        if (chunk && mode == Hostile::Garbage) body = TestBytes(body.size(), uint32_t(a));
        if (chunk && mode == Hostile::Reset) return s->abort();
        if (chunk && mode == Hostile::Stall) return;
        if (chunk && mode == Hostile::Short) {
            s->write(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body.left(50));
            return s->disconnectFromHost();
        }
        if (chunk && mode == Hostile::HugeLength) {
            s->write("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999\r\n\r\n" + TestBytes(65536, 3));
            return;
        }
        s->write(head + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    });
    COnlineSettings::SetExtraCaFile({});
    COnlineSettings::SetServer(COnlineSettings::kChartServer, Loopback(hostile.Port(), false));
    COnlineSettings::SetTransferTimeoutMs(300);
    RecordingUi ui;
    {
        Chart local(set.local);
        ASSERT_TRUE(local.c3);
        CChunkDownloadReport r = RunBulk([&](auto done) { local.c3->DownloadWholeMap(nullptr, done); });
        EXPECT_FALSE(r.complete);
        const std::string want = mode == Hostile::WrongMagic ? "Failed to download chunkfile header" : "Download failed. ";
        EXPECT_EQ(r.message.substr(0, want.size()), want);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_EQ(ui.messages[0].text, r.message);
        if (mode != Hostile::WrongMagic) {
            EXPECT_GT(r.message.size(), want.size());  // and says why
            ASSERT_TRUE(local.File().HasHeader());
            ExpectOnlyWholeLevels(local.File());
            for (int c = 0; c < 2; ++c) EXPECT_FALSE(local.File().ChunkIsFullyDownloaded(0, c));
        } else {
            EXPECT_FALSE(local.File().HasHeader());
        }
    }
    COnlineSettings::SetTransferTimeoutMs(COnlineSettings::kDefaultTransferTimeoutMs);
}

INSTANTIATE_TEST_SUITE_P(Modes, HostileChunks,
                         ::testing::Values(Hostile::WrongMagic, Hostile::Garbage, Hostile::Short, Hostile::Reset,
                                           Hostile::Stall, Hostile::HugeLength));

}  // namespace
