// SPDX-License-Identifier: GPL-3.0-or-later
// Online commands: fetch files, sizes and byte ranges with the web client; make and
// install map packages with the real installer. JSON on stdout, progress on stderr.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrl>

#include <cstdio>
#include <memory>

#include "core/apppaths.h"
#include "online/mappackage.h"
#include "online/packagemanifest.h"
#include "online/webclient.h"
#include "online/webprogress.h"
#include "tools/tool_command.h"

namespace {

// The tool has no dialogs: messages go to stderr, questions get the answer given on the
// command line, and progress is printed a few times a second.
class ConsoleUi : public IUiServices {
public:
    explicit ConsoleUi(bool answerYes) : m_answer(answerYes ? 0 : 1) {
        SetUiServices(this);
        m_ticker.setInterval(250);
        QObject::connect(&m_ticker, &QTimer::timeout, [this] { PrintProgress(false); });
    }
    ~ConsoleUi() override { SetUiServices(nullptr); }
    void ShowMessage(const NV_HWND&, const std::string& title, const std::string& text,
                     const std::vector<std::string>& buttons, std::function<void(int)> done) override {
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
        const int answer = buttons.size() > 1 ? m_answer : 0;
        if (buttons.size() > 1) std::fprintf(stderr, "(answered \"%s\")\n", buttons[size_t(answer)].c_str());
        if (done) done(answer);
    }
    void SetStatusMessage(const std::string&) override {}
    void ShowSystemNotification(const std::string&, const std::string&, const std::string&) override {}
    void CancelSystemNotification(const std::string&) override {}
    void ShowProgress(const NV_HWND&, std::shared_ptr<CProgressDialogData> data) override {
        m_progress = std::move(data);
        m_ticker.start();
    }
    void PrintProgress(bool last) {
        if (!m_progress) return;
        std::fprintf(stderr, "progress %.1f%% %lld/%lld bytes\n", m_progress->Progress() * 100.0,
                     m_progress->BytesDone(), m_progress->BytesTotal());
        std::fflush(stderr);
        if (last || m_progress->IsDone()) m_ticker.stop();
    }

private:
    int m_answer;
    QTimer m_ticker;
    std::shared_ptr<CProgressDialogData> m_progress;
};

void PrintJson(const QJsonObject& o) {
    std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    std::fflush(stdout);
}

// Options every online command shares.
bool TakeCommonOptions(ToolArgs& a) {
    bool present = false;
    const QString ca = a.TakeOption(QStringLiteral("--ca-file"), &present);
    if (present) COnlineSettings::SetExtraCaFile(QFileInfo(ca).absoluteFilePath().toStdString());
    const QString timeout = a.TakeOption(QStringLiteral("--timeout-ms"), &present);
    if (present) {
        int ms = 0;
        if (!ParseInt(timeout, ms) || ms < 100) {
            std::fprintf(stderr, "--timeout-ms needs a number of milliseconds (at least 100)\n");
            return false;
        }
        COnlineSettings::SetTransferTimeoutMs(ms);
    }
    return true;
}

template <class Done>
void RunUntil(Done& done) {
    while (!done) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// Writes bytes through ".tmp" so that a failure leaves any old file alone.
bool WriteWhole(const QString& path, const char* data, qint64 n) {
    QFile f(path + QStringLiteral(".tmp"));
    if (!f.open(QIODevice::WriteOnly) || f.write(data, n) != n || !f.flush()) {
        f.remove();
        return false;
    }
    f.close();
    return ReplaceFile((path + QStringLiteral(".tmp")).toStdString(), path.toStdString());
}

int Fetch(const QStringList& args) {
    ToolArgs a(args);
    bool present = false, hasRange = false;
    const QString out = a.TakeOption(QStringLiteral("-o"), &present);
    const QString range = a.TakeOption(QStringLiteral("--range"), &hasRange);
    const bool sizeOnly = a.TakeFlag(QStringLiteral("--size"));
    const bool sliced = a.TakeFlag(QStringLiteral("--sliced"));
    if (!TakeCommonOptions(a)) return 2;
    if (a.HasError() || a.Rest().size() != 1 || (!sizeOnly && out.isEmpty())) {
        std::fprintf(stderr,
                     "usage: fetch URL (-o FILE [--range A-B [--sliced]] | --size) [--ca-file PEM] [--timeout-ms N]\n");
        return 2;
    }
    const QUrl url(a.Rest().front(), QUrl::StrictMode);
    CServerAddress server;
    server.secure = url.scheme() == QLatin1String("https");
    server.host = url.host().toStdString();
    server.port = url.port(0);
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && !server.secure) || !server.IsValid()) {
        std::fprintf(stderr, "fetch: \"%s\" is not an http:// or https:// address\n", qPrintable(a.Rest().front()));
        return 2;
    }
    std::string remote = url.path(QUrl::FullyDecoded).toStdString();
    if (url.hasQuery() && !hasRange && !sizeOnly) remote += "?" + url.query().toStdString();

    ConsoleUi ui(false);
    CWebServer_NB_sliced web(server);
    QJsonObject o;
    bool done = false;
    if (sizeOnly) {
        long long size = -1;
        web.GetSizeOnly(remote, [&](long long s) {
            size = s;
            done = true;
        });
        RunUntil(done);
        o["ok"] = size >= 0;
        o["size"] = size;
    } else if (hasRange) {
        const QStringList ab = range.split(QLatin1Char('-'));
        bool okA = false, okB = false;
        const long long first = ab.size() == 2 ? ab[0].toLongLong(&okA) : -1;
        const long long last = ab.size() == 2 ? ab[1].toLongLong(&okB) : -1;
        if (!okA || !okB || first < 0 || last < first || last - first >= (64LL << 20)) {
            std::fprintf(stderr, "fetch: --range needs FIRST-LAST (inclusive, at most 64 MiB)\n");
            return 2;
        }
        std::vector<char> buffer(size_t(last - first + 1));
        int received = -1;
        auto take = [&](int n) {
            received = n;
            done = true;
        };
        if (sliced)
            web.ReadSlices(remote, first, int(buffer.size()), buffer.data(), take);
        else
            web.ReadPartialFileSlice_NB(remote, first, int(buffer.size()), buffer.data(), take);
        RunUntil(done);
        o["ok"] = received >= 0 && WriteWhole(out, buffer.data(), std::max(received, 0));
        o["bytes"] = received;
    } else {
        bool ok = false;
        GetFileProgressDlg(NV_HWND(), &web, remote, QFileInfo(out).absoluteFilePath().toStdString(), {}, [&](bool r) {
            ok = r;
            done = true;
        });
        RunUntil(done);
        ui.PrintProgress(true);
        o["ok"] = ok;
        o["bytes"] = ok ? static_cast<qint64>(FileSize(QFileInfo(out).absoluteFilePath().toStdString())) : 0;
    }
    if (!web.ErrorText().empty()) o["error"] = QString::fromStdString(web.ErrorText());
    PrintJson(o);
    return o["ok"].toBool() ? 0 : 1;
}

int PackageMake(const QStringList& args) {
    ToolArgs a(args);
    bool hasOut = false, hasServer = false, hasFolder = false, hasName = false;
    const QString out = a.TakeOption(QStringLiteral("-o"), &hasOut);
    const QString server = a.TakeOption(QStringLiteral("--server"), &hasServer);
    const QString folder = a.TakeOption(QStringLiteral("--folder"), &hasFolder);
    const QString name = a.TakeOption(QStringLiteral("--name"), &hasName);
    if (a.HasError() || a.Rest().size() != 1 || !hasOut || !hasServer || !hasFolder || !hasName) {
        std::fprintf(stderr, "usage: package-make DIR -o NAME.nvpkg --server HOST[:PORT] --folder REMOTE --name TEXT\n");
        return 2;
    }
    CServerAddress check;
    if (!CServerAddress::Parse(server.toStdString(), false, check)) {
        std::fprintf(stderr, "package-make: \"%s\" is not a server (HOST, HOST:PORT or http[s]://HOST[:PORT])\n",
                     qPrintable(server));
        return 2;
    }
    const QDir dir(a.Rest().front());
    if (!dir.exists()) {
        std::fprintf(stderr, "package-make: no folder \"%s\"\n", qPrintable(a.Rest().front()));
        return 2;
    }
    const QString outPath = QFileInfo(out).absoluteFilePath();
    std::vector<CPackageSource> files;
    QDirIterator it(dir.absolutePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QFileInfo(it.next()).absoluteFilePath();
        if (path == outPath || path == outPath + QStringLiteral(".tmp")) continue;  // the manifest itself
        files.push_back({dir.relativeFilePath(path).toStdString(), path.toStdString()});
    }
    std::sort(files.begin(), files.end(),
              [](const CPackageSource& x, const CPackageSource& y) { return x.name < y.name; });
    CPackageMakeStats stats;
    std::string error;
    if (!WritePackageManifest(outPath.toStdString(), server.toStdString(), folder.toStdString(), name.toStdString(),
                              files, &stats, &error)) {
        std::fprintf(stderr, "package-make: %s\n", error.c_str());
        return 1;
    }
    QJsonObject o;
    o["manifest"] = outPath;
    o["files"] = stats.files;
    o["blocks"] = stats.blocks;
    o["bytes"] = stats.bytes;
    PrintJson(o);
    return 0;
}

// Places the manifest in `dest`. An older manifest of the same package there is replaced
// (that is what installing an update means); any other file of that name is left alone.
bool PlaceManifest(const QString& manifest, const QString& dest, QString& placed) {
    if (!QDir().mkpath(dest)) {
        std::fprintf(stderr, "package-install: cannot make the folder \"%s\"\n", qPrintable(dest));
        return false;
    }
    placed = QDir(dest).absoluteFilePath(QFileInfo(manifest).fileName());
    if (QFileInfo(placed) == QFileInfo(manifest)) return true;
    if (QFileInfo::exists(placed)) {
        const std::string there = GetPackageName(placed.toStdString());
        if (there.empty() || there != GetPackageName(manifest.toStdString())) {
            std::fprintf(stderr,
                         "package-install: \"%s\" exists and is not a manifest of this package; it was left alone\n",
                         qPrintable(placed));
            return false;
        }
    }
    if (!CopyFile(manifest.toStdString(), placed.toStdString())) {
        std::fprintf(stderr, "package-install: cannot copy the manifest to \"%s\"\n", qPrintable(placed));
        return false;
    }
    return true;
}

int PackageInstall(const QStringList& args) {
    ToolArgs a(args);
    bool hasDest = false;
    const QString dest = a.TakeOption(QStringLiteral("--dest"), &hasDest);
    const bool yes = a.TakeFlag(QStringLiteral("--yes"));
    if (!TakeCommonOptions(a)) return 2;
    if (a.HasError() || a.Rest().size() != 1) {
        std::fprintf(stderr,
                     "usage: package-install MANIFEST.nvpkg [--dest DIR] [--ca-file PEM] [--timeout-ms N] [--yes]\n");
        return 2;
    }
    QString manifest = QFileInfo(a.Rest().front()).absoluteFilePath();
    if (hasDest) {
        QString placed;
        if (!PlaceManifest(manifest, QFileInfo(dest).absoluteFilePath(), placed)) return 1;
        manifest = placed;
    }

    ConsoleUi ui(yes);
    CPackageInstallResult result;
    bool done = false;
    InstallMapPackage(NV_HWND(), manifest.toStdString(), [&](const CPackageInstallResult& r) {
        result = r;
        done = true;
    });
    RunUntil(done);
    ui.PrintProgress(true);
    QJsonObject o;
    o["files"] = result.files;
    o["blocks"] = result.blocks;
    o["fetched"] = result.fetched;
    o["skipped"] = result.skipped;
    o["bytes"] = result.bytes;
    o["ok"] = result.ok;
    if (!result.errors.empty()) {
        QJsonArray errors;
        for (const QString& line : QString::fromStdString(result.errors).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            errors.append(line);
        o["errors"] = errors;
    }
    PrintJson(o);
    return result.ok ? 0 : 1;
}

const ToolCommandRegistry::Registrar kFetch({"fetch",
                                             "URL (-o FILE [--range A-B [--sliced]] | --size) [--ca-file PEM] "
                                             "[--timeout-ms N]",
                                             "fetch a file, a byte range or a size with the web client", Fetch});
const ToolCommandRegistry::Registrar kPackageMake({"package-make",
                                                   "DIR -o NAME.nvpkg --server HOST[:PORT] --folder REMOTE --name TEXT",
                                                   "write a map package manifest for every file under DIR",
                                                   PackageMake});
const ToolCommandRegistry::Registrar kPackageInstall({"package-install",
                                                      "MANIFEST.nvpkg [--dest DIR] [--ca-file PEM] [--timeout-ms N] "
                                                      "[--yes]",
                                                      "install a map package (resumes; only missing blocks are fetched)",
                                                      PackageInstall});

}  // namespace
