// SPDX-License-Identifier: GPL-3.0-or-later
#include "online/webclient.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::string g_userAgent;

// The request's view of the extra trusted authorities: read once per file version.
bool SslConfigurationFor(QSslConfiguration& out, std::string& error) {
    static std::string s_path;
    static QDateTime s_modified;
    static QSslConfiguration s_config;
    static std::string s_applied;
    const std::string path = COnlineSettings::ExtraCaFile();
    if (path != s_applied) {
        // Open connections keep the trust they were made with: a new choice needs new ones.
        getGlobalNetworkAccessManager()->clearConnectionCache();
        s_applied = path;
    }
    if (path.empty()) {
        out = QSslConfiguration::defaultConfiguration();
        return true;
    }
    const QFileInfo info(QString::fromStdString(path));
    if (path == s_path && info.lastModified() == s_modified && !s_config.isNull()) {
        out = s_config;
        return true;
    }
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(info.filePath(), QSsl::Pem);
    if (certs.isEmpty()) {
        error = "No certificate could be read from the trusted certificate file \"" + path + "\"";
        return false;
    }
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setCaCertificates(QSslConfiguration::systemCaCertificates() + certs);
    s_path = path;
    s_modified = info.lastModified();
    s_config = config;
    out = config;
    return true;
}

// The request every client sends: user agent, stall timeout, redirects and trust.
bool PrepareRequest(QNetworkRequest& request, bool secure, bool followRedirects, std::string& error) {
    request.setRawHeader("User-Agent", QByteArray::fromStdString(GetWebUserAgent()));
    request.setTransferTimeout(COnlineSettings::TransferTimeoutMs());
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         followRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                                         : QNetworkRequest::ManualRedirectPolicy);
    if (secure) {
        QSslConfiguration config;
        if (!SslConfigurationFor(config, error)) return false;
        request.setSslConfiguration(config);
    }
    return true;
}

QUrl MakeUrl(const CServerAddress& server, std::string path, const std::string* query) {
    if (path.empty() || path.front() != '/') path.insert(0, "/");
    QUrl url;
    url.setScheme(server.secure ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(QString::fromStdString(server.host));
    if (server.port > 0) url.setPort(server.port);
    // Remote names are literal: a "%" or "#" in a file name is a character, not syntax.
    url.setPath(QString::fromStdString(path), QUrl::DecodedMode);
    if (query) url.setQuery(QString::fromStdString(*query));
    return url;
}

std::string ErrorOfReply(QNetworkReply* reply, const CServerAddress& server) {
    const auto code = reply->error();
    if (code == QNetworkReply::OperationCanceledError || code == QNetworkReply::TimeoutError)
        return "No data from " + server.host + " for " +
               QString::number(COnlineSettings::TransferTimeoutMs() / 1000.0).toStdString() + " s: the transfer timed out";
    return reply->errorString().toStdString();
}

long long FreeSpaceOf(const std::string& path) {
    struct statvfs s {};
    std::string dir = path.substr(0, path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    if (dir.empty()) dir = ".";
    if (::statvfs(dir.c_str(), &s) != 0) return -1;
    return static_cast<long long>(s.f_bavail) * static_cast<long long>(s.f_frsize);
}

bool WriteAll(int fd, const char* data, qint64 n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, static_cast<size_t>(n));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = ENOSPC;
            return false;
        }
        data += w;
        n -= w;
    }
    return true;
}

}  // namespace

namespace {
QPointer<QNetworkAccessManager> g_manager;

// Ends the manager's network thread while the application object still exists: closing
// its last TLS connections needs it.
void DeleteGlobalNetworkAccessManager() {
    delete g_manager.data();
}
}  // namespace

QNetworkAccessManager* getGlobalNetworkAccessManager() {
    QPointer<QNetworkAccessManager>& manager = g_manager;
    if (!manager) {
        manager = new QNetworkAccessManager(QCoreApplication::instance());
        manager->setTransferTimeout(COnlineSettings::kDefaultTransferTimeoutMs);
        qAddPostRoutine(DeleteGlobalNetworkAccessManager);
    }
    return manager;
}

void SetWebUserAgentBrand(const std::string& brand) {
    std::string ua = brand.empty() ? std::string() : brand + ".";
    ua += "NVA/";
    ua += kWebClientVersion;
    ua += "-" + QSysInfo::productType().toStdString() + "/" + QSysInfo::productVersion().toStdString();
    g_userAgent = ua;
}

const std::string& GetWebUserAgent() {
    if (g_userAgent.empty()) SetWebUserAgentBrand({});
    return g_userAgent;
}

// ---- CWebServer_NB ----

CWebServer_NB::CWebServer_NB(const std::string& host, bool followRedirects, bool useHttps, int port)
    : m_followRedirects(followRedirects) {
    SetServer(host, useHttps, port);
}

CWebServer_NB::CWebServer_NB(const CServerAddress& server, bool followRedirects)
    : m_server(server), m_followRedirects(followRedirects) {}

CWebServer_NB::~CWebServer_NB() {
    if (m_reply) {
        QNetworkReply* r = Detach();
        if (!r->isFinished()) r->abort();
        r->deleteLater();
    }
    CloseTmp(false);
}

void CWebServer_NB::SetServer(const std::string& host, bool useHttps, int port) {
    m_server.host = host;
    m_server.secure = useHttps;
    if (port != 0) m_server.port = port;
}

void CWebServer_NB::SetServer(const CServerAddress& server) {
    m_server = server;
}

QUrl CWebServer_NB::UrlFor(const std::string& remotePath) const {
    const auto q = remotePath.find('?');
    if (q == std::string::npos) return MakeUrl(m_server, remotePath, nullptr);
    const std::string query = remotePath.substr(q + 1);
    return MakeUrl(m_server, remotePath.substr(0, q), &query);
}

bool CWebServer_NB::Begin(Kind kind) {
    if (IsBusy()) return false;
    m_kind = kind;
    m_error.clear();
    m_cancelled = m_failed = m_doneEarly = m_answerChecked = m_errorPage = false;
    m_errorPageBytes = 0;
    return true;
}

QNetworkRequest CWebServer_NB::MakeRequest(const std::string& remotePath, bool* ok) {
    // Only whole-file requests carry a query; sizes and ranges name files literally.
    const QUrl url = m_kind == Kind::File ? UrlFor(remotePath) : MakeUrl(m_server, remotePath, nullptr);
    QNetworkRequest request(url);
    *ok = false;
    if (!m_server.IsValid() || !url.isValid()) {
        m_error = "Invalid server address \"" + m_server.ToString() + "\"";
        return request;
    }
    *ok = PrepareRequest(request, m_server.secure, m_followRedirects, m_error);
    return request;
}

void CWebServer_NB::Attach(QNetworkReply* reply) {
    m_reply = reply;
    connect(reply, &QNetworkReply::readyRead, this, &CWebServer_NB::OnReadyRead);
    connect(reply, &QNetworkReply::finished, this, &CWebServer_NB::OnFinished);
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (m_progress && !m_errorPage) m_progress(received, total);
    });
}

QNetworkReply* CWebServer_NB::Detach() {
    QNetworkReply* r = m_reply;
    m_reply = nullptr;
    if (r) disconnect(r, nullptr, this, nullptr);
    return r;
}

void CWebServer_NB::FailToStart(const std::string& error) {
    m_error = error;
    m_failed = true;
    Deliver(-1);
}

void CWebServer_NB::GetFile(const std::string& remotePath, const std::string& localPath, Callback done) {
    if (!Begin(Kind::File)) {
        QTimer::singleShot(0, this, [done] { done(-1); });
        return;
    }
    m_done = std::move(done);
    m_localPath = localPath;
    m_tmpPath = localPath + ".tmp";
    m_fd = ::open(m_tmpPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (m_fd < 0) {
        FailToStart("Could not open tmp file for writing: " + m_tmpPath);
        return;
    }
    bool ok = false;
    QNetworkRequest request = MakeRequest(remotePath, &ok);
    if (!ok) {
        CloseTmp(false);
        FailToStart(m_error);
        return;
    }
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    QNetworkReply* reply = getGlobalNetworkAccessManager()->get(request);
    if (!reply) {
        CloseTmp(false);
        FailToStart("Request failed");
        return;
    }
    m_copy.assign(8192, 0);
    Attach(reply);
}

void CWebServer_NB::GetSizeOnly(const std::string& remotePath, SizeCallback done) {
    if (!Begin(Kind::Size)) {
        QTimer::singleShot(0, this, [done] { done(-1); });
        return;
    }
    m_sizeDone = std::move(done);
    bool ok = false;
    QNetworkRequest request = MakeRequest(remotePath, &ok);
    if (!ok) {
        FailToStart(m_error);
        return;
    }
    request.setAttribute(QNetworkRequest::HttpPipeliningAllowedAttribute, true);
    QNetworkReply* reply = getGlobalNetworkAccessManager()->head(request);
    if (!reply) {
        FailToStart("Request failed");
        return;
    }
    Attach(reply);
}

void CWebServer_NB::ReadPartialFileSlice_NB(const std::string& remotePath, long long offset, int length,
                                            void* destination, Callback done) {
    if (!Begin(Kind::Range)) {
        QTimer::singleShot(0, this, [done] { done(-1); });
        return;
    }
    m_done = std::move(done);
    m_dest = static_cast<char*>(destination);
    m_offset = offset;
    m_length = length;
    m_remaining = length;
    if (length <= 0 || offset < 0 || !destination) {
        FailToStart("Request failed: empty byte range");
        return;
    }
    bool ok = false;
    QNetworkRequest request = MakeRequest(remotePath, &ok);
    if (!ok) {
        FailToStart(m_error);
        return;
    }
    const long long last = offset + length - 1;
    request.setRawHeader("Range", QByteArray("bytes=") + QByteArray::number(offset) + '-' + QByteArray::number(last));
    // The reply of a known, bounded size goes into one buffer instead of a chunk per read.
    request.setAttribute(QNetworkRequest::MaximumDownloadBufferSizeAttribute, static_cast<qint64>(length));
    QNetworkReply* reply = getGlobalNetworkAccessManager()->get(request);
    if (!reply) {
        FailToStart("Request failed");
        return;
    }
    Attach(reply);
}

void CWebServer_NB::Cancel() {
    if (!m_reply) return;
    m_cancelled = true;
    m_error.clear();
    AbortInternally();
}

void CWebServer_NB::AbortInternally() {
    QNetworkReply* r = Detach();
    if (!r->isFinished()) r->abort();
    m_reply = r;  // let OnFinished see the ended reply
    OnFinished();
}

std::string CWebServer_NB::ReplyError(QNetworkReply* reply) const {
    return ErrorOfReply(reply, m_server);
}

void CWebServer_NB::OnReadyRead() {
    if (!m_reply) return;
    const bool go_on = m_kind == Kind::File ? OnFileData(m_reply) : m_kind == Kind::Range ? OnRangeData(m_reply) : true;
    if (!go_on) AbortInternally();
}

bool CWebServer_NB::OnFileData(QNetworkReply* reply) {
    if (reply->error() != QNetworkReply::NoError) return true;  // an error page: the end tells why
    if (!m_answerChecked) {
        m_answerChecked = true;
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        m_errorPage = status >= 400;
        if (status >= 300 && status < 400) {
            // Only reached when redirects are not followed: the page is not the file.
            m_error = "The server moved the file elsewhere (HTTP status " + std::to_string(status) + ")";
            m_failed = true;
            return false;
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        const long long free = FreeSpaceOf(m_tmpPath);
        if (!m_errorPage && length.isValid() && free >= 0 && length.toLongLong() > free) {
            m_error = "The file is larger (" + std::to_string(length.toLongLong()) + " bytes) than the free space (" +
                      std::to_string(free) + " bytes) for " + m_localPath;
            m_failed = true;
            return false;
        }
    }
    if (m_errorPage) return SkipErrorPage(reply);
    while (reply->bytesAvailable() > 0) {
        const qint64 n = reply->read(m_copy.data(), static_cast<qint64>(m_copy.size()));
        if (n <= 0) break;
        if (!WriteAll(m_fd, m_copy.data(), n)) {
            m_error = "Write error: errno " + std::to_string(errno);
            m_failed = true;
            return false;
        }
    }
    return true;
}

bool CWebServer_NB::CheckRangeAnswer(QNetworkReply* reply) {
    m_answerChecked = true;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status == 206) {
        // "bytes FIRST-LAST/TOTAL": the bytes must start where we asked.
        const QByteArray range = reply->rawHeader("Content-Range").trimmed();
        bool ok = false;
        long long first = -1;
        if (range.startsWith("bytes ")) {
            const qsizetype dash = range.indexOf('-');
            if (dash > 6) first = range.mid(6, dash - 6).trimmed().toLongLong(&ok);
        }
        if (ok && first == m_offset) return true;
        m_error = "The server answered with another byte range (\"" + range.left(80).toStdString() + "\")";
    } else if (status == 200) {
        if (m_offset == 0) return true;  // the whole file from its start: the first bytes are the ones asked for
        m_error = "The server does not support byte ranges";
    } else if (status >= 400) {
        // Not found, not satisfiable, …: the end of the reply carries the server's reason.
        m_errorPage = true;
        return true;
    } else {
        m_error = "Unexpected answer from the server (HTTP status " + std::to_string(status) + ")";
    }
    m_failed = true;
    return false;
}

bool CWebServer_NB::SkipErrorPage(QNetworkReply* reply) {
    // The page's text is of no use here (the end of the reply says why), but it must not pile up.
    m_errorPageBytes += reply->skip(reply->bytesAvailable());
    if (m_errorPageBytes <= kMaxErrorPage) return true;
    m_error = "The server's error answer is too long";
    m_failed = true;
    return false;
}

bool CWebServer_NB::OnRangeData(QNetworkReply* reply) {
    if (reply->error() != QNetworkReply::NoError) return true;  // an error page: the end tells why
    if (!m_answerChecked && !CheckRangeAnswer(reply)) return false;
    if (m_errorPage) return SkipErrorPage(reply);
    while (reply->bytesAvailable() > 0) {
        if (m_remaining == 0) {
            // All asked bytes are here and the server keeps sending: stop it.
            m_doneEarly = true;
            return false;
        }
        const qint64 n = reply->read(m_dest, std::min<qint64>(reply->bytesAvailable(), m_remaining));
        if (n <= 0) break;
        m_dest += n;
        m_remaining -= n;
    }
    return true;
}

void CWebServer_NB::OnFinished() {
    QNetworkReply* r = Detach();
    if (!r) return;
    r->deleteLater();
    const bool netError = r->error() != QNetworkReply::NoError;
    if (m_cancelled) {
        m_error.clear();
        m_failed = true;
    }
    switch (m_kind) {
        case Kind::File: {
            if (!m_failed && netError) {
                m_failed = true;
                m_error += ReplyError(r);
            }
            if (!m_failed) OnFileData(r);  // bytes that arrived with the end
            const bool ok = !m_failed && CloseTmp(true);
            if (!ok) CloseTmp(false);
            Deliver(ok ? 1 : 0);
            return;
        }
        case Kind::Size: {
            long long size = -1;
            if (!m_failed && netError) {
                m_failed = true;
                m_error = ReplyError(r);
            } else if (!m_failed) {
                const QVariant length = r->header(QNetworkRequest::ContentLengthHeader);
                const int status = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                if (status < 200 || status >= 300) {
                    m_error = "Unexpected answer from the server (HTTP status " + std::to_string(status) + ")";
                    m_failed = true;
                } else if (length.isValid() && length.toLongLong() >= 0) {
                    size = length.toLongLong();
                } else {
                    m_error = "The server did not give the size";
                    m_failed = true;
                }
            }
            Deliver(size);
            return;
        }
        case Kind::Range: {
            if (m_doneEarly) {
                Deliver(m_length);
                return;
            }
            if (!m_failed && netError) {
                m_failed = true;
                m_error = ReplyError(r);
            }
            if (!m_failed) OnRangeData(r);  // bytes that arrived with the end
            if (m_doneEarly) {
                Deliver(m_length);
                return;
            }
            Deliver(m_failed ? -1 : m_length - m_remaining);
            return;
        }
        case Kind::None: return;
    }
}

bool CWebServer_NB::CloseTmp(bool keep) {
    if (m_fd < 0) return false;
    const bool closed = ::close(m_fd) == 0;
    m_fd = -1;
    if (keep && !closed) m_error = "Write error: errno " + std::to_string(errno);
    if (keep && closed) {
        if (::rename(m_tmpPath.c_str(), m_localPath.c_str()) == 0) return true;
        m_error = "Could not replace " + m_localPath + ": " + std::strerror(errno);
    }
    ::unlink(m_tmpPath.c_str());
    return false;
}

void CWebServer_NB::Deliver(long long result) {
    const Kind kind = m_kind;
    m_kind = Kind::None;
    Callback done = std::move(m_done);
    SizeCallback sizeDone = std::move(m_sizeDone);
    m_done = nullptr;
    m_sizeDone = nullptr;
    ++m_deliveries;
    QTimer::singleShot(0, this, [this, kind, done = std::move(done), sizeDone = std::move(sizeDone), result] {
        --m_deliveries;
        if (kind == Kind::Size) {
            if (sizeDone) sizeDone(result);
        } else if (done) {
            done(static_cast<int>(result));
        }
    });
}

// ---- CWebServer_NB_sliced ----

std::string CWebServer_NB_sliced::SlicePath(const std::string& path, long long index) {
    return index == 0 ? path : path + "." + std::to_string(index);
}

void CWebServer_NB_sliced::ReadSlices(const std::string& path, long long offset, int length, void* destination,
                                      Callback done) {
    if (IsBusy()) {
        QTimer::singleShot(0, this, [done] { done(-1); });
        return;
    }
    m_path = path;
    m_sliceOffset = offset;
    m_left = length;
    m_read = 0;
    m_sliceDest = static_cast<char*>(destination);
    m_slicesDone = std::move(done);
    ReadNextSlice();
}

void CWebServer_NB_sliced::ReadNextSlice() {
    const long long index = m_sliceOffset / kSliceSize;
    const long long within = m_sliceOffset % kSliceSize;
    const int part = within + m_left > kSliceSize ? static_cast<int>(kSliceSize - within) : m_left;
    ReadPartialFileSlice_NB(SlicePath(m_path, index), within, part, m_sliceDest, [this, part](int n) {
        if (n == part && n > 0 && m_left > n) {
            m_read += n;
            m_left -= n;
            m_sliceDest += n;
            m_sliceOffset += n;
            ReadNextSlice();
            return;
        }
        Callback done = std::move(m_slicesDone);
        m_slicesDone = nullptr;
        const int total = n < 1 || n > part ? -1 : m_read + n;
        if (done) done(total);
    });
}

// ---- CWebBinaryCGI_NB ----

CWebBinaryCGI_NB::CWebBinaryCGI_NB(const std::string& host, const std::string& path, bool useHttps,
                                   bool followRedirects, int port)
    : m_path(path), m_followRedirects(followRedirects) {
    m_server.host = host;
    m_server.secure = useHttps;
    m_server.port = port;
    mode = kWrite;
    ok = true;
    wide = true;
}

CWebBinaryCGI_NB::~CWebBinaryCGI_NB() {
    if (m_reply) {
        QNetworkReply* r = m_reply;
        m_reply = nullptr;
        disconnect(r, nullptr, this, nullptr);
        if (!r->isFinished()) r->abort();
        r->deleteLater();
    }
}

bool CWebBinaryCGI_NB::put_data(const void* buf, size_t n) {
    if (!buf || n > static_cast<size_t>(kMaxPut)) return false;
    if (m_replyDone) {
        // The first write after a reply starts the next request's body.
        m_body.clear();
        m_readPos = 0;
        m_replyDone = false;
        mode = kWrite;
        ok = true;
    }
    m_body.append(static_cast<const char*>(buf), static_cast<qsizetype>(n));
    return true;
}

bool CWebBinaryCGI_NB::get_data(void* buf, size_t n) {
    if (n > static_cast<size_t>(m_body.size() - m_readPos)) return false;
    if (n) std::memcpy(buf, m_body.constData() + m_readPos, n);
    m_readPos += static_cast<qsizetype>(n);
    return true;
}

void CWebBinaryCGI_NB::Send(Callback done) {
    QNetworkAccessManager* manager = getGlobalNetworkAccessManager();
    m_done = std::move(done);
    ++m_generation;
    m_started = true;
    m_replyDone = false;
    m_success = false;
    m_tooLarge = false;
    m_error.clear();

    std::string path = m_path, query;
    const auto q = path.find('?');
    if (q != std::string::npos) {
        query = path.substr(q + 1);
        path.resize(q);
    }
    const QUrl url = MakeUrl(m_server, path, q == std::string::npos ? nullptr : &query);
    QNetworkRequest request(url);
    bool ready = m_server.IsValid() && url.isValid();
    if (!ready) m_error = "Invalid server address \"" + m_server.ToString() + "\"";
    if (ready) ready = PrepareRequest(request, m_server.secure, m_followRedirects, m_error);
    if (ready) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/binary"));
        m_reply = manager->post(request, m_body);
        if (!m_reply) m_error = "Request failed";
    }
    if (!m_reply) {
        QTimer::singleShot(0, this, &CWebBinaryCGI_NB::OnFinished);
        return;
    }
    connect(m_reply, &QNetworkReply::finished, this, &CWebBinaryCGI_NB::OnFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if ((received > kMaxResponse || total > kMaxResponse) && m_reply) {
            m_tooLarge = true;
            m_reply->abort();  // finishes the exchange through OnFinished
        }
    });
}

void CWebBinaryCGI_NB::SendFile(const std::string& localPath, std::function<void(bool)> done) {
    QFile file(QString::fromStdString(localPath));
    m_body.clear();
    m_readPos = 0;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxResponse) {
        m_error = "Cannot read " + localPath;
        QTimer::singleShot(0, this, [this, done] {
            done(false);
            deleteLater();
        });
        return;
    }
    m_body = file.readAll();
    Send([done](CWebBinaryCGI_NB*, bool success) { done(success); });
}

void CWebBinaryCGI_NB::OnFinished() {
    QNetworkReply* r = m_reply;
    m_reply = nullptr;
    m_replyDone = true;
    if (r) {
        disconnect(r, nullptr, this, nullptr);
        r->deleteLater();
        m_success = r->error() == QNetworkReply::NoError && !m_tooLarge;
        if (m_tooLarge)
            m_error = "The server's reply is larger than " + std::to_string(kMaxResponse) + " bytes";
        else if (!m_success)
            m_error = ErrorOfReply(r, m_server);
        m_body = m_success ? r->readAll() : QByteArray();
    } else {
        m_success = false;
        m_body.clear();
    }
    if (!m_success) m_body.append('\0');
    m_readPos = 0;
    mode = kRead;
    ok = true;
    const int generation = m_generation;
    Callback done = m_done;
    if (done) done(this, m_success);
    if (m_generation == generation) deleteLater();
}
