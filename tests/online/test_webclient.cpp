// SPDX-License-Identifier: GPL-3.0-or-later
// The web client against a real nginx on loopback (plain and TLS) and against a hostile
// server of our own.
#include <QDir>
#include <QPointer>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "online/onlinesettings.h"
#include "online/webclient.h"
#include "online/webprogress.h"
#include "online_test_util.h"
#include "support/nginx_fixture.h"
#include "support/recording_ui.h"

namespace {

constexpr long long k2G = 1LL << 31;

// Writes `data` at `offset` of a (sparse) file of `size` bytes.
bool MakeSparse(const QString& path, long long size, long long offset, const QByteArray& data) {
    const int fd = ::open(path.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    const bool ok = ::ftruncate(fd, size) == 0 && ::pwrite(fd, data.constData(), size_t(data.size()), offset) == data.size();
    ::close(fd);
    return ok;
}

struct Served {
    QTemporaryDir root;
    QByteArray small = TestBytes(300000, 1);
    std::unique_ptr<NginxServer> http, https;
};
Served* g_served = nullptr;

class WebClientNginx : public ::testing::TestWithParam<bool> {
public:
    static void SetUpTestSuite() {
        g_served = new Served;
        const QString r = g_served->root.path();
        QDir().mkpath(r + "/dir with space");
        ASSERT_TRUE(WriteBytes(r + "/small.bin", g_served->small));
        ASSERT_TRUE(WriteBytes(r + "/dir with space/odd#name%41.bin", "literal"));
        // Past 2^31 in one file, and the same place in a file stored as 2^31-byte slices.
        ASSERT_TRUE(MakeSparse(r + "/big.bin", k2G + 4096, k2G + 5, "far-marker"));
        ASSERT_TRUE(MakeSparse(r + "/sliced.qc3", k2G, k2G - 10, "tail-of-0:"));
        ASSERT_TRUE(WriteBytes(r + "/sliced.qc3.1", "head-of-slice-1:0123456789"));
        g_served->http = std::make_unique<NginxServer>(r);
        g_served->https = std::make_unique<NginxServer>(r, NginxServer::Options{true, {}});
    }
    static void TearDownTestSuite() {
        delete g_served;
        g_served = nullptr;
    }

protected:
    void SetUp() override {
        NginxServer& s = Server();
        ASSERT_TRUE(s.Running()) << s.Error().toStdString();
        COnlineSettings::SetExtraCaFile(s.Tls() ? s.CaFile().toStdString() : std::string());
        COnlineSettings::SetTransferTimeoutMs(COnlineSettings::kDefaultTransferTimeoutMs);
    }
    static NginxServer& Server() { return GetParam() ? *g_served->https : *g_served->http; }
    static CServerAddress Address() {
        CServerAddress a;
        a.secure = GetParam();
        a.host = "127.0.0.1";
        a.port = Server().Port();
        return a;
    }
    QTemporaryDir local;
};

int Fetch(CWebServer_NB& web, const std::string& remote, const std::string& local) {
    int result = 99;
    web.GetFile(remote, local, [&](int r) { result = r; });
    EXPECT_TRUE(WaitUntil([&] { return result != 99; }));
    return result;
}

int Range(CWebServer_NB& web, const std::string& remote, long long offset, int length, char* dest) {
    int result = 99;
    web.ReadPartialFileSlice_NB(remote, offset, length, dest, [&](int r) { result = r; });
    EXPECT_TRUE(WaitUntil([&] { return result != 99; }));
    return result;
}

long long Size(CWebServer_NB& web, const std::string& remote) {
    long long result = 99;
    web.GetSizeOnly(remote, [&](long long r) { result = r; });
    EXPECT_TRUE(WaitUntil([&] { return result != 99; }));
    return result;
}

TEST_P(WebClientNginx, WholeFilesSizesAndRangesOnOneConnectionObject) {
    CWebServer_NB web(Address());
    const std::string out = (local.path() + "/small.bin").toStdString();
    ASSERT_EQ(Fetch(web, "/small.bin?edition=7&x=y", out), 1) << web.ErrorText();
    EXPECT_EQ(ReadBytes(QString::fromStdString(out)), g_served->small);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(out + ".tmp")));
    EXPECT_TRUE(Server().AccessLog().contains("GET /small.bin edition=7&x=y 200 - 300000"));

    // Names are literal: a space, "#" and "%41" are characters of the file name.
    ASSERT_EQ(Fetch(web, "/dir with space/odd#name%41.bin", out), 1) << web.ErrorText();
    EXPECT_EQ(ReadBytes(QString::fromStdString(out)), QByteArray("literal"));

    EXPECT_EQ(Size(web, "/small.bin"), 300000);
    EXPECT_EQ(Size(web, "/big.bin"), k2G + 4096);
    EXPECT_EQ(Size(web, "/absent.bin"), -1);
    EXPECT_NE(web.ErrorText().find("Not Found"), std::string::npos) << web.ErrorText();

    char buf[64] = {};
    EXPECT_EQ(Range(web, "/small.bin", 1000, 40, buf), 40);
    EXPECT_EQ(QByteArray(buf, 40), g_served->small.mid(1000, 40));
    EXPECT_EQ(Range(web, "/small.bin", 0, 16, buf), 16);
    EXPECT_EQ(QByteArray(buf, 16), g_served->small.left(16));
    // A range past the end is answered with what there is.
    EXPECT_EQ(Range(web, "/small.bin", 300000 - 10, 64, buf), 10);
    EXPECT_EQ(QByteArray(buf, 10), g_served->small.right(10));
    // Offsets beyond 2^31 travel whole.
    EXPECT_EQ(Range(web, "/big.bin", k2G + 5, 10, buf), 10);
    EXPECT_EQ(QByteArray(buf, 10), QByteArray("far-marker"));
    EXPECT_TRUE(Server().AccessLog().contains(QStringLiteral("GET /big.bin - 206 bytes=%1-%2 10").arg(k2G + 5).arg(k2G + 14)));
    EXPECT_EQ(Range(web, "/absent.bin", 0, 10, buf), -1);
}

TEST_P(WebClientNginx, AFailedDownloadLeavesTheLocalFileAlone) {
    CWebServer_NB web(Address());
    const QString out = local.path() + "/kept.bin";
    ASSERT_TRUE(WriteBytes(out, "the user's own bytes"));
    EXPECT_EQ(Fetch(web, "/absent.bin", out.toStdString()), 0);
    EXPECT_NE(web.ErrorText().find("Not Found"), std::string::npos) << web.ErrorText();
    EXPECT_EQ(ReadBytes(out), QByteArray("the user's own bytes"));
    EXPECT_FALSE(QFile::exists(out + ".tmp"));

    const std::string nowhere = (local.path() + "/no/such/folder/x.bin").toStdString();
    EXPECT_EQ(Fetch(web, "/small.bin", nowhere), -1);
    EXPECT_EQ(web.ErrorText(), "Could not open tmp file for writing: " + nowhere + ".tmp");
    EXPECT_FALSE(QDir(local.path() + "/no").exists());
}

TEST_P(WebClientNginx, ASlicedReadCrossesTheSliceBoundary) {
    CWebServer_NB_sliced web(Address());
    char buf[30] = {};
    int result = 99;
    web.ReadSlices("/sliced.qc3", k2G - 10, 30, buf, [&](int r) { result = r; });
    ASSERT_TRUE(WaitUntil([&] { return result != 99; }));
    EXPECT_EQ(result, 30) << web.ErrorText();
    EXPECT_EQ(QByteArray(buf, 30), QByteArray("tail-of-0:head-of-slice-1:0123"));
    const QStringList log = Server().AccessLog();
    EXPECT_TRUE(log.contains(QStringLiteral("GET /sliced.qc3 - 206 bytes=%1-%2 10").arg(k2G - 10).arg(k2G - 1)));
    EXPECT_TRUE(log.contains("GET /sliced.qc3.1 - 206 bytes=0-19 20"));

    // A missing later slice fails the whole read.
    result = 99;
    web.ReadSlices("/small.bin", k2G - 4, 8, buf, [&](int r) { result = r; });
    ASSERT_TRUE(WaitUntil([&] { return result != 99; }));
    EXPECT_EQ(result, -1);
}

TEST_P(WebClientNginx, TheProgressDialogSeesTheBytes) {
    RecordingUi ui;
    CWebServer_NB web(Address());
    bool ok = false, called = false;
    auto data = GetFileProgressDlg(NV_HWND(), &web, "/small.bin", (local.path() + "/p.bin").toStdString(), {},
                                   [&](bool r) { ok = r, called = true; });
    ASSERT_TRUE(WaitUntil([&] { return called; }));
    EXPECT_TRUE(ok);
    ASSERT_EQ(ui.progress.size(), 1u);
    EXPECT_EQ(ui.progress[0]->Title(), "Downloading p.bin");
    EXPECT_EQ(data->BytesDone(), 300000);
    EXPECT_EQ(data->BytesTotal(), 300000);
    EXPECT_TRUE(data->IsDone());
}

TEST(WebClientTls, AnUntrustedCertificateIsRefusedWithItsReason) {
    QTemporaryDir root;
    ASSERT_TRUE(WriteBytes(root.path() + "/f.bin", "secret"));
    NginxServer server(root.path(), NginxServer::Options{true, {}});
    ASSERT_TRUE(server.Running()) << server.Error().toStdString();
    CServerAddress a{true, "127.0.0.1", server.Port()};
    COnlineSettings::SetExtraCaFile({});
    CWebServer_NB web(a);
    char buf[8];
    EXPECT_EQ(Range(web, "/f.bin", 0, 6, buf), -1);
    EXPECT_NE(web.ErrorText().find("SSL"), std::string::npos) << web.ErrorText();

    COnlineSettings::SetExtraCaFile(root.path().toStdString() + "/f.bin");  // no certificate in it
    EXPECT_EQ(Range(web, "/f.bin", 0, 6, buf), -1);
    EXPECT_NE(web.ErrorText().find("No certificate could be read"), std::string::npos) << web.ErrorText();

    COnlineSettings::SetExtraCaFile(server.CaFile().toStdString());
    EXPECT_EQ(Range(web, "/f.bin", 0, 6, buf), 6) << web.ErrorText();
    COnlineSettings::SetExtraCaFile({});
}

TEST(OnlineSettings, ServerAddressesParseStrictlyAndUnusableSettingsFallBack) {
    CServerAddress a;
    ASSERT_TRUE(CServerAddress::Parse("mirror.example.net:8443/", true, a));
    EXPECT_EQ(a.ToString(), "https://mirror.example.net:8443");
    ASSERT_TRUE(CServerAddress::Parse("http://[::1]:81", true, a));
    EXPECT_EQ(a.ToString(), "http://[::1]:81");
    for (const char* bad : {"", "host:", "host:0", "host:70000", "host:12a", "ftp://host", "a b", "[::1", "[zz]:1", "x/y"})
        EXPECT_FALSE(CServerAddress::Parse(bad, true, a)) << bad;

    const CServerAddress before = COnlineSettings::GetServer(COnlineSettings::kChartServer);
    COnlineSettings::SetServer(COnlineSettings::kChartServer, {false, "127.0.0.1", 8080});
    EXPECT_EQ(COnlineSettings::GetServer(COnlineSettings::kChartServer).ToString(), "http://127.0.0.1:8080");
    COnlineSettings::settings.chart_scheme = "gopher";
    EXPECT_EQ(COnlineSettings::GetServer(COnlineSettings::kChartServer).ToString(),
              COnlineSettings::DefaultServer(COnlineSettings::kChartServer).ToString());
    COnlineSettings::SetServer(COnlineSettings::kChartServer, before);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, WebClientNginx, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "https" : "http"; });

// ---- a hostile server ----

class WebClientHostile : public ::testing::Test {
protected:
    void SetUp() override { COnlineSettings::SetTransferTimeoutMs(300); }
    void TearDown() override { COnlineSettings::SetTransferTimeoutMs(COnlineSettings::kDefaultTransferTimeoutMs); }
    static CServerAddress At(const HostileServer& s) { return {false, "127.0.0.1", s.Port()}; }
    QTemporaryDir local;
};

void Send(QTcpSocket* s, const QByteArray& bytes) {
    s->write(bytes);
    s->flush();
}

TEST_F(WebClientHostile, BrokenAnswersFailCleanlyWithAReason) {
    struct Case {
        const char* what;
        HostileServer::Answer answer;
        const char* reason;  // part of the error text
    };
    const std::vector<Case> cases = {
        {"short reply",
         [](QTcpSocket* s, const auto&) {
             Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
             s->disconnectFromHost();
         },
         "closed"},
        {"garbage", [](QTcpSocket* s, const auto&) { Send(s, QByteArray(5000, '\x97') + "\r\n\r\n"); s->disconnectFromHost(); },
         ""},
        {"reset", [](QTcpSocket* s, const auto&) { s->abort(); }, ""},
        {"silence", [](QTcpSocket*, const auto&) {}, "timed out"},
        {"stall after the head",
         [](QTcpSocket* s, const auto&) { Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"); }, "timed out"},
        {"not found",
         [](QTcpSocket* s, const auto&) { Send(s, "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"); },
         "Not Found"},
        {"huge length",
         [](QTcpSocket* s, const auto&) {
             Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 999999999999999999\r\n\r\nabc");
         },
         "free space"},
    };
    const QString out = local.path() + "/f.bin";
    ASSERT_TRUE(WriteBytes(out, "old"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostileServer server(c.answer);
        CWebServer_NB web(At(server));
        EXPECT_EQ(Fetch(web, "/f.bin", out.toStdString()), 0);
        EXPECT_FALSE(web.ErrorText().empty());
        EXPECT_NE(web.ErrorText().find(c.reason), std::string::npos) << web.ErrorText();
        EXPECT_EQ(ReadBytes(out), QByteArray("old"));
        EXPECT_FALSE(QFile::exists(out + ".tmp"));
        // A size is only what the head claims; without a usable head there is none.
        const std::string what = c.what;
        const bool headUsable = what == "short reply" || what == "stall after the head" || what == "huge length";
        EXPECT_EQ(Size(web, "/f.bin") >= 0, headUsable);
    }
}

TEST_F(WebClientHostile, RangeAnswersAreCheckedBeforeTheyAreUsed) {
    auto answer = std::make_shared<QByteArray>();
    HostileServer server([answer](QTcpSocket* s, const auto&) { Send(s, *answer); });
    CWebServer_NB web(At(server));
    char buf[8] = {};

    // A server that ignores the range would hand over the file's first bytes.
    *answer = "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\nABCDEFGHIJKLMNOP";
    EXPECT_EQ(Range(web, "/f", 4, 8, buf), -1);
    EXPECT_EQ(web.ErrorText(), "The server does not support byte ranges");
    EXPECT_EQ(Range(web, "/f", 0, 8, buf), 8) << "from the start the first bytes are the right ones";
    EXPECT_EQ(QByteArray(buf, 8), QByteArray("ABCDEFGH"));

    *answer = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 0-7/16\r\nContent-Length: 8\r\n\r\nabcdefgh";
    EXPECT_EQ(Range(web, "/f", 4, 8, buf), -1);
    EXPECT_NE(web.ErrorText().find("another byte range"), std::string::npos) << web.ErrorText();

    // More than asked (here: an endless claim) ends the request once the bytes are in.
    *answer = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes 4-11/99999999999\r\n"
              "Content-Length: 99999999999\r\n\r\n" + QByteArray(70000, 'z');
    EXPECT_EQ(Range(web, "/f", 4, 8, buf), 8) << web.ErrorText();
    EXPECT_EQ(QByteArray(buf, 8), QByteArray(8, 'z'));
}

TEST_F(WebClientHostile, CancelEndsARequestWithoutAnErrorText) {
    HostileServer server([](QTcpSocket* s, const auto&) { Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nab"); });
    CWebServer_NB web(At(server));
    const QString out = local.path() + "/c.bin";
    int result = 99;
    web.GetFile("/c.bin", out.toStdString(), [&](int r) { result = r; });
    ASSERT_TRUE(WaitUntil([&] { return !server.requests.empty(); }));
    web.Cancel();
    EXPECT_EQ(result, 99) << "the callback comes from the event loop, not from inside Cancel";
    ASSERT_TRUE(WaitUntil([&] { return result != 99; }));
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(web.ErrorText().empty()) << web.ErrorText();
    EXPECT_TRUE(web.WasCancelled());
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_FALSE(QFile::exists(out + ".tmp"));

    // A destroyed client never calls back.
    bool called = false;
    auto doomed = std::make_unique<CWebServer_NB>(At(server));
    char buf[4];
    doomed->ReadPartialFileSlice_NB("/x", 0, 4, buf, [&](int) { called = true; });
    doomed.reset();
    WaitUntil([] { return false; }, 100);
    EXPECT_FALSE(called);
}

TEST_F(WebClientHostile, BinaryExchangesCarryTheirHeadersAndBodies) {
    HostileServer server([](QTcpSocket* s, const HostileServer::Request& r) {
        QByteArray reply = r.body;
        std::reverse(reply.begin(), reply.end());
        Send(s, "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(reply.size()) + "\r\n\r\n" + reply);
    });
    SetWebUserAgentBrand("Acme");
    QPointer<CWebBinaryCGI_NB> cgi = new CWebBinaryCGI_NB("127.0.0.1", "/cgi/echo?v=2", false, true, server.Port());
    std::string hello = "hello";
    EXPECT_TRUE(cgi->put(hello));
    const std::vector<char> tooBig(CWebBinaryCGI_NB::kMaxPut + 1, 'x');
    const uint32_t n = 7;
    EXPECT_TRUE(cgi->declare(const_cast<uint32_t*>(&n), 4));
    EXPECT_FALSE(cgi->put_data(tooBig.data(), tooBig.size()));
    EXPECT_FALSE(cgi->put_data(nullptr, 4));

    bool success = false, called = false;
    QByteArray answer;
    cgi->Send([&](CWebBinaryCGI_NB* x, bool ok) {
        success = ok, called = true;
        char b[18];
        EXPECT_TRUE(x->get_data(b, 18));
        EXPECT_FALSE(x->get_data(b, 1));
        answer = QByteArray(b, 18);
    });
    ASSERT_TRUE(WaitUntil([&] { return called; }));
    EXPECT_TRUE(success);
    ASSERT_EQ(server.requests.size(), 1u);
    const auto& r = server.requests[0];
    EXPECT_TRUE(r.head.startsWith("POST /cgi/echo?v=2 HTTP/1.1"));
    EXPECT_EQ(r.Header("Content-Type"), QByteArray("application/binary"));
    EXPECT_EQ(r.Header("User-Agent").toStdString(), "Acme.NVA/2.0.1-" + QSysInfo::productType().toStdString() + "/" +
                                                         QSysInfo::productVersion().toStdString());
    // The body is the string (length, then wide characters) and the number, and nothing
    // of the refused block; the echo sends it back reversed.
    EXPECT_EQ(r.body, QByteArray("\x05\0\0\0h\0e\0l\0l\0o\0\x07\0\0\0", 18));
    QByteArray reversed = r.body;
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(answer, reversed);
    ASSERT_TRUE(WaitUntil([&] { return cgi.isNull(); })) << "the exchange deletes itself after its callback";
    SetWebUserAgentBrand({});
}

TEST_F(WebClientHostile, AFailedBinaryExchangeAnswersWithOneZeroByte) {
    HostileServer server([](QTcpSocket*, const auto&) {});  // never answers
    auto* cgi = new CWebBinaryCGI_NB("127.0.0.1", "/cgi", false, true, server.Port());
    bool called = false, success = true;
    char zero = 1, more = 0;
    cgi->Send([&](CWebBinaryCGI_NB* x, bool ok) {
        called = true, success = ok;
        EXPECT_TRUE(x->get_data(&zero, 1));
        EXPECT_FALSE(x->get_data(&more, 1));
        EXPECT_NE(x->ErrorText().find("timed out"), std::string::npos) << x->ErrorText();
    });
    ASSERT_TRUE(WaitUntil([&] { return called; }));
    EXPECT_FALSE(success);
    EXPECT_EQ(zero, 0);
}

}  // namespace
