// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The web client: every transfer of the application goes through these small
// non-blocking classes and one shared QNetworkAccessManager.
//
// GUI thread only. A request never blocks; its completion callback always runs later
// from the event loop (also when the request could not start or was cancelled), never
// inside the call that started it, so a caller may start the next request on the same
// object from the callback, or delete the object there.

#include <QByteArray>
#include <QObject>

#include <functional>
#include <string>
#include <vector>

#include "core/typeserializer.h"
#include "core/uiservices.h"
#include "online/onlinesettings.h"

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

// The process's one manager, created on first use (owned by the application object).
QNetworkAccessManager* getGlobalNetworkAccessManager();

// The version the client announces in its user-agent string.
inline constexpr const char* kWebClientVersion = "2.0.1";
// Builds the user-agent string: "[brand.]NVA/2.0.1-<os type>/<os version>". Calling it
// again replaces the stored string.
void SetWebUserAgentBrand(const std::string& brand);
// The user-agent string, built without a brand when nobody set one.
const std::string& GetWebUserAgent();

// One server connection: whole files, sizes and byte ranges, one request at a time,
// reused for consecutive requests.
class CWebServer_NB : public QObject {
    Q_OBJECT
public:
    using Callback = std::function<void(int result)>;
    using SizeCallback = std::function<void(long long size)>;
    using ProgressCallback = std::function<void(long long received, long long total)>;

    // `followRedirects`: whether 3xx answers are followed (never from https to http).
    CWebServer_NB(const std::string& host, bool followRedirects, bool useHttps, int port = 0);
    explicit CWebServer_NB(const CServerAddress& server, bool followRedirects = true);
    // Aborts and releases a pending request without calling back; a half-written ".tmp"
    // file is removed.
    ~CWebServer_NB() override;

    // Port 0 keeps the scheme's default.
    void SetServer(const std::string& host, bool useHttps, int port = 0);
    void SetServer(const CServerAddress& server);
    CServerAddress Server() const { return m_server; }

    // Downloads a whole file through `localPath` + ".tmp", which replaces `localPath` only
    // when the transfer succeeded. A "?" in `remotePath` starts the URL query. Calls back
    // with 1 on success, 0 on failure or cancel, -1 when the request could not start.
    void GetFile(const std::string& remotePath, const std::string& localPath, Callback done);
    // A HEAD request: calls back with the Content-Length, or -1.
    void GetSizeOnly(const std::string& remotePath, SizeCallback done);
    // Bytes offset … offset+length-1 into `destination` (which must stay valid until the
    // callback). Calls back with the number of bytes received, or -1.
    void ReadPartialFileSlice_NB(const std::string& remotePath, long long offset, int length, void* destination,
                                 Callback done);
    // Aborts the pending request; it calls back with 0 (file) or -1 (size, range) and an
    // empty error text.
    void Cancel();

    // Receives the transfer progress of the following requests.
    void SetProgressCallback(ProgressCallback progress) { m_progress = std::move(progress); }

    bool IsBusy() const { return m_kind != Kind::None || m_deliveries > 0; }
    bool WasCancelled() const { return m_cancelled; }
    // Why the last request failed, for the caller's message; empty after a cancel.
    const std::string& ErrorText() const { return m_error; }

    // The URL a remote path maps to on this server (query after the first "?").
    QUrl UrlFor(const std::string& remotePath) const;

private:
    enum class Kind { None, File, Size, Range };

    bool Begin(Kind kind);
    QNetworkRequest MakeRequest(const std::string& remotePath, bool* ok);
    void Attach(QNetworkReply* reply);
    QNetworkReply* Detach();
    void FailToStart(const std::string& error);

    void OnReadyRead();
    void OnFinished();
    // Take the bytes that arrived; false when the request must end now (a failure, or a
    // range read that has all it asked for).
    bool OnFileData(QNetworkReply* reply);
    bool OnRangeData(QNetworkReply* reply);
    bool CheckRangeAnswer(QNetworkReply* reply);
    bool SkipErrorPage(QNetworkReply* reply);
    // Ends the request at once (own checks failed or enough bytes arrived).
    void AbortInternally();
    // Closes the temporary file; keeps it as the local file only when `keep`.
    bool CloseTmp(bool keep);
    std::string ReplyError(QNetworkReply* reply) const;
    // Calls back from the event loop with `result` and makes the object free again.
    void Deliver(long long result);

    CServerAddress m_server;
    bool m_followRedirects = true;
    Kind m_kind = Kind::None;
    QNetworkReply* m_reply = nullptr;
    std::string m_error;
    bool m_cancelled = false;
    bool m_failed = false;
    bool m_doneEarly = false;      // a range read that had all its bytes and stopped the rest
    bool m_answerChecked = false;  // status and Content-Range of a range reply
    bool m_errorPage = false;      // a range reply with an error status: its body is skipped
    qint64 m_errorPageBytes = 0;
    static constexpr qint64 kMaxErrorPage = 1 << 20;
    int m_deliveries = 0;          // callbacks waiting in the event loop

    // Whole-file download.
    std::string m_localPath;
    std::string m_tmpPath;
    int m_fd = -1;
    std::vector<char> m_copy;

    // Range read.
    char* m_dest = nullptr;
    long long m_offset = 0;
    int m_length = 0;
    long long m_remaining = 0;

    Callback m_done;
    SizeCallback m_sizeDone;
    ProgressCallback m_progress;
};

// A range read over a server file stored as slices of 2^31 bytes: slice 0 has the file's
// own path, slice n the path with ".n" appended.
class CWebServer_NB_sliced : public CWebServer_NB {
    Q_OBJECT
public:
    using CWebServer_NB::CWebServer_NB;
    static constexpr long long kSliceSize = 1LL << 31;

    // Calls back with the total bytes read (`length` when complete), or -1 when a part
    // failed or answered with a count outside 1 … its length.
    void ReadSlices(const std::string& path, long long offset, int length, void* destination, Callback done);
    static std::string SlicePath(const std::string& path, long long index);

private:
    void ReadNextSlice();

    std::string m_path;
    long long m_sliceOffset = 0;  // position in the whole file
    int m_left = 0;
    int m_read = 0;
    char* m_sliceDest = nullptr;
    Callback m_slicesDone;
};

// One binary request/response exchange with a server-side program: the request body is
// written with the flat binary stream operations, posted, and the response is read back
// the same way. Create it with new: it deletes itself after its last callback (unless
// that callback started another exchange on it).
class CWebBinaryCGI_NB : public QObject, public CTypeSerializer {
    Q_OBJECT
public:
    using Callback = std::function<void(CWebBinaryCGI_NB* exchange, bool success)>;
    static constexpr int kMaxPut = 1000000;
    static constexpr int kMaxResponse = 64 << 20;

    CWebBinaryCGI_NB(const std::string& host, const std::string& path, bool useHttps, bool followRedirects = true,
                     int port = 0);
    ~CWebBinaryCGI_NB() override;

    // Appends to the request body; a null pointer or more than 1,000,000 bytes adds nothing.
    bool put_data(const void* buf, size_t n) override;
    // The next n bytes of the response; false, copying nothing, when fewer remain.
    bool get_data(void* buf, size_t n) override;

    void Send(Callback done);
    // Makes the whole local file the request body and sends it.
    void SendFile(const std::string& localPath, std::function<void(bool)> done);
    void ShowBusyDlg(const NV_HWND&) {}

    bool IsDone() const { return m_replyDone; }
    const std::string& ErrorText() const { return m_error; }
    const QByteArray& Body() const { return m_body; }

private:
    void OnFinished();

    CServerAddress m_server;
    std::string m_path;
    bool m_followRedirects;
    QByteArray m_body;
    qsizetype m_readPos = 0;
    bool m_started = false;
    bool m_replyDone = false;
    bool m_success = false;
    bool m_tooLarge = false;
    int m_generation = 0;
    std::string m_error;
    QNetworkReply* m_reply = nullptr;
    Callback m_done;
};
