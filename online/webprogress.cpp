// SPDX-License-Identifier: GPL-3.0-or-later
#include "online/webprogress.h"

#include <QTimer>

#include "core/apppaths.h"
#include "online/webclient.h"

std::shared_ptr<CWebProgressDialogData> GetFileProgressDlg(const NV_HWND& parent, CWebServer_NB* server,
                                                           const std::string& remotePath,
                                                           const std::string& localPath, const std::string& title,
                                                           std::function<void(bool)> done) {
    auto data = std::make_shared<CWebProgressDialogData>(title.empty() ? "Downloading " + FileNameOf(localPath) : title);
    ShowProgressDialog(parent, data);
    server->SetProgressCallback([data](long long received, long long total) { data->SetBytes(received, total); });
    // The dialog only raises a flag; the transfer looks at it ten times a second.
    auto* poll = new QTimer(server);
    poll->setInterval(100);
    QObject::connect(poll, &QTimer::timeout, server, [server, data] {
        if (data->IsCancelled()) server->Cancel();
    });
    poll->start();
    server->GetFile(remotePath, localPath, [server, poll, data, done = std::move(done)](int result) {
        poll->deleteLater();
        server->SetProgressCallback({});
        data->SetDone();
        if (done) done(result == 1);
    });
    return data;
}
