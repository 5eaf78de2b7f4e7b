// SPDX-License-Identifier: GPL-3.0-or-later
// Map packages: the manifest format and its queries, installation from a real nginx,
// failures, and an installation killed half-way and resumed by the real tool.
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "core/typeserializer.h"
#include "online/mappackage.h"
#include "online/packagemanifest.h"
#include "online_test_util.h"
#include "support/nginx_fixture.h"
#include "support/recording_ui.h"

namespace {

constexpr int kMiB = 1 << 20;

struct Record {
    std::string name;
    long long size;
    std::vector<uint32_t> sums;
};

// A manifest written field by field, so that tests can say things the writer never would.
QByteArray ManifestBytes(const std::string& server, const std::string& folder, const std::string& name,
                         const std::vector<Record>& files) {
    CTypeMemoryOut out;
    auto u32 = [&](uint32_t v) { out.declare(&v, 4); };
    auto i64 = [&](long long v) { out.declare(&v, 8); };
    std::string s = server, f = folder, n = name;
    out.declaremagic(kPackageMagic);
    out.put(s), out.put(f), out.put(n);
    long long total = 0;
    for (const Record& r : files) total += std::max(0LL, r.size);
    i64(total);
    u32(uint32_t(files.size()));
    for (const Record& r : files) {
        std::string fn = r.name;
        out.put(fn);
        i64(r.size);
        for (uint32_t c : r.sums) u32(c);
    }
    return QByteArray::fromStdString(out.Data());
}

std::vector<CPackageSource> SourcesUnder(const QString& dir, const QStringList& names) {
    std::vector<CPackageSource> out;
    for (const QString& n : names) out.push_back({n.toStdString(), (dir + "/" + n).toStdString()});
    return out;
}

class CountingReopener : public IChartReopener {
public:
    CountingReopener() { SetChartReopener(this); }
    ~CountingReopener() override { SetChartReopener(nullptr); }
    void CloseAllCharts() override {}
    void ReopenAllCharts() override { ++count; }
    int count = 0;
};

CPackageInstallResult Install(const std::string& manifest) {
    CPackageInstallResult result;
    bool done = false;
    InstallMapPackage(NV_HWND(), manifest, [&](const CPackageInstallResult& r) {
        result = r;
        done = true;
    });
    EXPECT_TRUE(WaitUntil([&] { return done; }, 60000));
    return result;
}

TEST(PackageManifest, RecordsTheFilesWithAChecksumPerMebibyte) {
    QTemporaryDir src, dest;
    QDir().mkpath(src.path() + "/sub/deep");
    const QByteArray two = TestBytes(kMiB + 1, 2);
    ASSERT_TRUE(WriteBytes(src.path() + "/empty.txt", {}));
    ASSERT_TRUE(WriteBytes(src.path() + "/two.bin", two));
    ASSERT_TRUE(WriteBytes(src.path() + "/sub/deep/c.QCT", TestBytes(1000, 3)));
    const std::string manifest = (dest.path() + "/set.nvpkg").toStdString();
    CPackageMakeStats stats;
    std::string error;
    ASSERT_TRUE(WritePackageManifest(manifest, "example.org", "maps", "Test set",
                                     SourcesUnder(src.path(), {"empty.txt", "sub/deep/c.QCT", "two.bin"}), &stats, &error))
        << error;
    EXPECT_EQ(stats.blocks, 3);
    EXPECT_FALSE(QFile::exists(QString::fromStdString(manifest + ".tmp")));

    CPackageManifestReader reader(manifest);
    ASSERT_TRUE(reader.Open()) << reader.Error();
    EXPECT_EQ(reader.Header().folder, "/maps/");
    EXPECT_EQ(reader.Header().totalSize, kMiB + 1 + 1000);
    std::string name;
    long long size = 0;
    uint32_t sum = 0;
    ASSERT_TRUE(reader.NextFile(name, size));
    EXPECT_EQ(name, "empty.txt");
    EXPECT_FALSE(reader.NextChecksum(sum)) << "a file of 0 bytes has no checksum";
    ASSERT_TRUE(reader.NextFile(name, size));  // c.QCT: its checksum is skipped
    ASSERT_TRUE(reader.NextFile(name, size));
    EXPECT_EQ(size, kMiB + 1);
    ASSERT_TRUE(reader.NextChecksum(sum));
    uint32_t expected = 0;
    for (int i = 0; i < kMiB; ++i) expected += static_cast<unsigned char>(two[i]);
    EXPECT_EQ(sum, expected);
    ASSERT_TRUE(reader.NextChecksum(sum));
    EXPECT_EQ(sum, static_cast<unsigned char>(two[kMiB]));
    EXPECT_FALSE(reader.NextChecksum(sum));
    EXPECT_FALSE(reader.NextFile(name, size));
    EXPECT_FALSE(reader.Failed());

    const std::string folder = dest.path().toStdString();
    EXPECT_EQ(GetPackageName(manifest), "Test set");
    std::vector<std::string> charts, all;
    ASSERT_TRUE(GetPackageContents(manifest, charts, "qct"));
    EXPECT_EQ(charts, std::vector<std::string>{folder + "/sub/deep/c.QCT"});
    ASSERT_TRUE(GetPackageContents(manifest, all));
    EXPECT_EQ(all.size(), 3u);
    std::set<std::string> folders;
    ASSERT_TRUE(GetPackageContentFolders(manifest, folders));
    EXPECT_EQ(folders, (std::set<std::string>{folder, folder + "/sub", folder + "/sub/deep"}));
    EXPECT_EQ(EstimateNeededSpaceForPackage(manifest), kMiB + 1 + 1000);
}

TEST(PackageManifest, DamagedOrHostileManifestsAreRefused) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/bad.nvpkg";
    std::vector<std::string> out;

    ASSERT_TRUE(WriteBytes(path, QByteArray("\x14\x86\x9E\x31 not a package")));
    EXPECT_EQ(GetPackageName(path.toStdString()), "");
    EXPECT_FALSE(GetPackageContents(path.toStdString(), out));
    EXPECT_EQ(EstimateNeededSpaceForPackage(path.toStdString()), -1);
    EXPECT_EQ(GetPackageName((dir.path() + "/missing.nvpkg").toStdString()), "");

    // Names that would leave the package folder, and impossible sizes.
    for (const char* name : {"../escape", "/etc/passwd", "a//b", "a/./b", "a/../../b", "", "back\\slash"}) {
        SCOPED_TRACE(name);
        auto r = CPackageManifestReader::FromBytes(ManifestBytes("h", "f", "n", {{name, 1, {0}}}).toStdString());
        ASSERT_TRUE(r->Open()) << r->Error();
        std::string n;
        long long s = 0;
        EXPECT_FALSE(r->NextFile(n, s));
        EXPECT_TRUE(r->Failed());
    }
    for (long long size : {-1LL, 1LL << 60}) {
        auto r = CPackageManifestReader::FromBytes(ManifestBytes("h", "f", "n", {{"x", size, {}}}).toStdString());
        ASSERT_TRUE(r->Open());
        std::string n;
        long long s = 0;
        EXPECT_FALSE(r->NextFile(n, s));
        EXPECT_NE(r->Error().find("impossible size"), std::string::npos) << r->Error();
    }
    // A manifest cut short in the checksums of its second file.
    const QByteArray whole = ManifestBytes("h", "f", "n", {{"a", 10, {1}}, {"b", 3 * kMiB, {1, 2, 3}}});
    ASSERT_TRUE(WriteBytes(path, whole.left(whole.size() - 6)));
    EXPECT_FALSE(GetPackageContents(path.toStdString(), out));
    EXPECT_TRUE(out.empty());
}

// ---- installing from nginx ----

class PackageInstall : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        QDir().mkpath(root.path() + "/pkg/sub");
        a = TestBytes(3 * kMiB + kMiB / 2, 10);
        b = TestBytes(kMiB + 1, 11);
        ASSERT_TRUE(WriteBytes(root.path() + "/pkg/a.bin", a));
        ASSERT_TRUE(WriteBytes(root.path() + "/pkg/sub/b.bin", b));
        ASSERT_TRUE(WriteBytes(root.path() + "/pkg/empty.txt", {}));
        server = std::make_unique<NginxServer>(root.path(), NginxServer::Options{GetParam(), {}});
        ASSERT_TRUE(server->Running()) << server->Error().toStdString();
        COnlineSettings::SetExtraCaFile(GetParam() ? server->CaFile().toStdString() : std::string());
        manifest = (dest.path() + "/maps.nvpkg").toStdString();
        std::string error;
        ASSERT_TRUE(WritePackageManifest(manifest, server->BaseUrl().toStdString(), "pkg", "Maps",
                                         SourcesUnder(root.path() + "/pkg", {"a.bin", "empty.txt", "sub/b.bin"}), nullptr,
                                         &error))
            << error;
    }
    void TearDown() override { COnlineSettings::SetExtraCaFile({}); }
    QString Local(const QString& name) const { return dest.path() + "/" + name; }

    QTemporaryDir root, dest;
    QByteArray a, b;
    std::unique_ptr<NginxServer> server;
    std::string manifest;
    RecordingUi ui;
    CountingReopener reopener;
};

TEST_P(PackageInstall, FetchesOnlyTheBlocksThatAreMissingOrDamaged) {
    CPackageInstallResult r = Install(manifest);
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.files, 3);
    EXPECT_EQ(r.blocks, 6);
    EXPECT_EQ(r.fetched, 6);
    EXPECT_EQ(r.bytes, a.size() + b.size());
    EXPECT_EQ(ReadBytes(Local("a.bin")), a);
    EXPECT_EQ(ReadBytes(Local("sub/b.bin")), b);
    EXPECT_TRUE(QFileInfo(Local("empty.txt")).isFile());
    EXPECT_EQ(reopener.count, 1);
    ASSERT_EQ(ui.progress.size(), 1u);
    EXPECT_EQ(ui.progress[0]->Title(), "Downloading Maps");
    EXPECT_EQ(ui.progress[0]->BytesDone(), a.size() + b.size());
    EXPECT_TRUE(ui.progress[0]->IsDone());

    // Complete: one local read per block and no request.
    const qsizetype requests = server->AccessLog().size();
    r = Install(manifest);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.fetched, 0);
    EXPECT_EQ(r.skipped, 6);
    EXPECT_EQ(server->AccessLog().size(), requests);

    // One damaged block, a stale tail and a lost empty file.
    {
        QFile f(Local("a.bin"));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.seek(2 * kMiB + 77);
        f.write("X");
    }
    {
        QFile f(Local("sub/b.bin"));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("stale tail");
    }
    QFile::remove(Local("empty.txt"));
    r = Install(manifest);
    ASSERT_TRUE(r.ok) << r.errors;
    EXPECT_EQ(r.fetched, 1);
    EXPECT_EQ(r.skipped, 5);
    const QStringList log = server->AccessLog();
    ASSERT_EQ(log.size(), requests + 1);
    EXPECT_EQ(log.back(), QStringLiteral("GET /pkg/a.bin - 206 bytes=%1-%2 %3").arg(2 * kMiB).arg(3 * kMiB - 1).arg(kMiB));
    EXPECT_EQ(ReadBytes(Local("a.bin")), a);
    EXPECT_EQ(ReadBytes(Local("sub/b.bin")), b);
    EXPECT_TRUE(QFileInfo(Local("empty.txt")).isFile());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_P(PackageInstall, AServerCopyThatDiffersFailsAndRemovesOnlyWhatThisRunMade) {
    // The served file changed after the manifest was made.
    ASSERT_TRUE(WriteBytes(root.path() + "/pkg/sub/b.bin", TestBytes(kMiB + 1, 99)));
    QDir().mkpath(dest.path() + "/sub");
    const CPackageInstallResult r = Install(manifest);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.errors.find("The server's copy of sub/b.bin does not match the package"), std::string::npos) << r.errors;
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_EQ(ui.messages.back().title, "Problem");
    EXPECT_EQ(ui.messages.back().text, r.errors);
    EXPECT_FALSE(QFile::exists(Local("sub/b.bin")));
    EXPECT_EQ(reopener.count, 1);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, PackageInstall, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "https" : "http"; });

TEST(PackageInstallRefusals, WhatTheUserOwnsIsNeverRemoved) {
    RecordingUi ui;
    QTemporaryDir dest;
    // Every request stalls, so that all blocks are in flight when the user cancels.
    COnlineSettings::SetTransferTimeoutMs(60000);
    HostileServer stall([](QTcpSocket*, const auto&) {});
    const QString server = QStringLiteral("127.0.0.1:%1").arg(stall.Port());
    const std::string manifest = (dest.path() + "/p.nvpkg").toStdString();
    ASSERT_TRUE(WriteBytes(QString::fromStdString(manifest),
                           ManifestBytes(server.toStdString(), "/p/", "P",
                                         {{"new1.bin", 10, {1}}, {"mine.bin", 10, {2}}, {"new2.bin", 10, {3}}})));
    ASSERT_TRUE(WriteBytes(dest.path() + "/mine.bin", "the user's"));

    auto progress = std::make_shared<CWebProgressDialogData>("P");
    CPackageInstallResult result;
    bool done = false;
    auto* download = new CMapPackageDownload(manifest, progress, [&](const CPackageInstallResult& r) {
        result = r;
        done = true;
    });
    download->Start();
    ASSERT_TRUE(WaitUntil([&] { return stall.requests.size() == 3; }));
    progress->Cancel();
    ASSERT_TRUE(WaitUntil([&] { return done; }));
    COnlineSettings::SetTransferTimeoutMs(COnlineSettings::kDefaultTransferTimeoutMs);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(QFile::exists(dest.path() + "/new1.bin"));
    EXPECT_FALSE(QFile::exists(dest.path() + "/new2.bin"));
    EXPECT_EQ(ReadBytes(dest.path() + "/mine.bin"), QByteArray("the user's"));
    EXPECT_EQ(result.kept, std::vector<std::string>{(dest.path() + "/mine.bin").toStdString()});
    EXPECT_NE(result.errors.find("mine.bin was there before this installation and was kept as it is"), std::string::npos)
        << result.errors;

    // A folder where a package file belongs is not removed either.
    QDir().mkpath(dest.path() + "/new1.bin/user-things");
    const CPackageInstallResult r = Install(manifest);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.errors.rfind("Failed to open local file: Is a directory", 0), 0u) << r.errors;
    EXPECT_TRUE(QDir(dest.path() + "/new1.bin/user-things").exists());
}

TEST(PackageInstallRefusals, TheUserIsAskedWhenTheSpaceIsShortAndCanSayNo) {
    RecordingUi ui;
    ui.answer = 1;  // " No "
    QTemporaryDir dest;
    const long long huge = 1LL << 41;
    if (FreeSpaceOnDevice(dest.path().toStdString()) >= huge) GTEST_SKIP() << "this device has more than 2 TiB free";
    const std::string manifest = (dest.path() + "/huge.nvpkg").toStdString();
    ASSERT_TRUE(WriteBytes(QString::fromStdString(manifest),
                           ManifestBytes("127.0.0.1:9", "/h/", "Huge", {{"all.bin", huge, std::vector<uint32_t>(huge / kMiB)}})));
    const CPackageInstallResult r = Install(manifest);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].title, "Not enough space");
    EXPECT_EQ(ui.messages[0].buttons, (std::vector<std::string>{"  Yes  ", " No "}));
    const std::string& text = ui.messages[0].text;
    EXPECT_EQ(text.rfind("The package \"Huge\" will take up 2048.00 GB, but the device has only ", 0), 0u) << text;
    EXPECT_NE(text.find(" available.\n\nWould you like to continue?"), std::string::npos) << text;
    EXPECT_FALSE(QFile::exists(dest.path() + "/all.bin"));

    ui.Clear();
    ASSERT_TRUE(WriteBytes(QString::fromStdString(manifest), "junk"));
    EXPECT_FALSE(Install(manifest).ok);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Error opening NV Package");
}

// ---- interrupted and resumed by the real tool ----

QJsonObject RunTool(const QStringList& args, int* exitCode) {
    QProcess p;
    p.start(QStringLiteral(NAVORA_TOOL_PATH), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    *exitCode = p.exitCode();
    const QList<QByteArray> lines = p.readAllStandardOutput().trimmed().split('\n');
    return QJsonDocument::fromJson(lines.back()).object();
}

TEST(PackageInstallResume, AKilledInstallationResumesWithOnlyTheMissingBlocks) {
    QTemporaryDir root, dest;
    QDir().mkpath(root.path() + "/pkg");
    const QByteArray one = TestBytes(8 * kMiB, 21), two = TestBytes(6 * kMiB + 100, 22), three = TestBytes(kMiB / 2, 23);
    ASSERT_TRUE(WriteBytes(root.path() + "/pkg/one.bin", one));
    ASSERT_TRUE(WriteBytes(root.path() + "/pkg/two.bin", two));
    ASSERT_TRUE(WriteBytes(root.path() + "/pkg/three.bin", three));
    // Slow enough to be caught half-way: nginx lets each request have one second's worth at
    // once and then holds it to the rate, so a block takes about a second.
    NginxServer server(root.path(), NginxServer::Options{false, "512k"});
    ASSERT_TRUE(server.Running()) << server.Error().toStdString();
    const QString manifest = root.path() + "/charts.nvpkg";
    int code = -1;
    RunTool({"package-make", root.path() + "/pkg", "-o", manifest, "--server",
             QStringLiteral("127.0.0.1:%1").arg(server.Port()), "--folder", "pkg", "--name", "Charts"},
            &code);
    ASSERT_EQ(code, 0);
    const QStringList install = {"package-install", manifest, "--dest", dest.path()};

    // Killed once a third of the bytes are written (its progress lines say so).
    QProcess first;
    first.start(QStringLiteral(NAVORA_TOOL_PATH), install);
    QByteArray progress;
    static const QRegularExpression written(QStringLiteral("progress \\S+ (\\d+)/"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            progress += first.readAllStandardError();
            auto m = written.globalMatch(QString::fromLatin1(progress));
            long long done = 0;
            while (m.hasNext()) done = m.next().captured(1).toLongLong();
            return done >= 5 * kMiB || first.state() == QProcess::NotRunning;
        },
        30000));
    first.kill();  // SIGKILL: no chance to tidy up
    first.waitForFinished(5000);
    // Requests cut off by the kill are logged when nginx notices.
    const qsizetype settled = server.AccessLog(500).size();

    const std::string placed = (dest.path() + "/charts.nvpkg").toStdString();
    CPackageManifestReader reader(placed);
    ASSERT_TRUE(reader.Open());
    int missing = 0, blocks = 0;
    std::string name;
    long long size = 0;
    std::vector<unsigned char> buffer(kMiB);
    while (reader.NextFile(name, size)) {
        const int fd = ::open((dest.path().toStdString() + "/" + name).c_str(), O_RDONLY);
        uint32_t sum = 0;
        for (long long off = 0; reader.NextChecksum(sum); off += kMiB, ++blocks)
            missing += LocalBlockChecksum(fd, off, int(std::min<long long>(kMiB, size - off)), buffer.data()) != sum;
        if (fd >= 0) ::close(fd);
    }
    ASSERT_EQ(blocks, 16);
    ASSERT_GT(missing, 0) << "the installation finished before it could be interrupted:\n" << progress.toStdString();
    ASSERT_LT(missing, 16);

    QJsonObject o = RunTool(install, &code);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(o["ok"].toBool());
    EXPECT_EQ(o["files"].toInt(), 3);
    EXPECT_EQ(o["blocks"].toInt(), 16);
    EXPECT_EQ(o["fetched"].toInt(), missing);
    EXPECT_EQ(o["skipped"].toInt(), 16 - missing);
    EXPECT_EQ(server.AccessLog().size(), settled + missing);
    EXPECT_EQ(ReadBytes(dest.path() + "/one.bin"), one);
    EXPECT_EQ(ReadBytes(dest.path() + "/two.bin"), two);
    EXPECT_EQ(ReadBytes(dest.path() + "/three.bin"), three);

    o = RunTool(install, &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(o["fetched"].toInt(), 0);
    EXPECT_EQ(o["skipped"].toInt(), 16);
    EXPECT_EQ(server.AccessLog().size(), settled + missing);
}

}  // namespace
