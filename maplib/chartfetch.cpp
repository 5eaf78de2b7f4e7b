// SPDX-License-Identifier: GPL-3.0-or-later
#include "maplib/chartfetch.h"

#include <QFile>
#include <cstdio>

#include "online/mappackage.h"
#include "online/onlinesettings.h"
#include "online/webclient.h"
#include "online/webprogress.h"

namespace {

bool SameBytes(const std::string& a, const std::string& b) {
    QFile fa(QString::fromLocal8Bit(a.c_str())), fb(QString::fromLocal8Bit(b.c_str()));
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly)) return false;
    return fa.size() == fb.size() && fa.readAll() == fb.readAll();
}

class COnlineChartFetcher : public IChartFetcher {
public:
    void FetchAssocFile(const NV_HWND& window, const std::string& type, const std::string& chart_key,
                        const std::string& target, FetchDone done) override {
        // The client lives until its transfer has called back; it goes once that call returns.
        auto* server = new CWebServer_NB(COnlineSettings::GetServer(COnlineSettings::kDataServer));
        const std::string local = target + ".gz";
        GetFileProgressDlg(window, server, "/assoc/" + chart_key + "." + type + ".gz", local,
                           "Downloading the " + type + " file", [server, local, done](bool ok) {
                               const std::string error = server->ErrorText();
                               server->deleteLater();
                               done(ok, ok ? local : std::string(), ok ? std::string() : error);
                           });
    }

    void UpdatePackage(const NV_HWND& window, const std::string& server_path, const std::string& local_path,
                       std::function<void(bool ok)> done) override {
        auto* server = new CWebServer_NB(COnlineSettings::GetServer(COnlineSettings::kPackageServer));
        const std::string fresh = local_path + ".new";
        server->GetFile(server_path, fresh, [server, window, fresh, local_path, done](int result) {
            server->deleteLater();
            if (result != 1) return done(false);
            if (SameBytes(fresh, local_path)) {
                std::remove(fresh.c_str());
                return done(true);
            }
            // A newer manifest: it takes the place of the installed one (both are ours, in
            // the download folder) and the install fetches only the blocks that changed.
            if (std::rename(fresh.c_str(), local_path.c_str()) != 0) {
                std::remove(fresh.c_str());
                return done(false);
            }
            DownloadMapPackage(window, local_path, done);
        });
    }
};

}  // namespace

IChartFetcher& OnlineChartFetcher() {
    static COnlineChartFetcher fetcher;
    return fetcher;
}
