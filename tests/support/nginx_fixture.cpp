// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/nginx_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool RunTool(const QString& program, const QStringList& args, const QString& dir, QString* error) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        if (error) *error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

bool WriteText(const QString& path, const QString& text) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(text.toUtf8()) == text.toUtf8().size();
}

bool CanConnect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

}  // namespace

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = 0;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

bool MakeTestCertificates(const QString& dir, QString* error) {
    const QString openssl = QStandardPaths::findExecutable(QStringLiteral("openssl"));
    if (openssl.isEmpty()) {
        if (error) *error = QStringLiteral("openssl is not installed (scripts/setup.sh installs it)");
        return false;
    }
    const QStringList ec = {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                            QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    if (!WriteText(dir + QStringLiteral("/ext.cnf"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n"
                                  "keyUsage=digitalSignature\nextendedKeyUsage=serverAuth\n")))
        return false;
    return RunTool(openssl,
                   QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ec +
                       QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"), QStringLiteral("-out"),
                                   QStringLiteral("ca.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=Navora Test CA")},
                   dir, error) &&
           RunTool(openssl,
                   QStringList{QStringLiteral("req")} + ec +
                       QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
                                   QStringLiteral("server.csr"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")},
                   dir, error) &&
           RunTool(openssl,
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), QStringLiteral("server.csr"),
                    QStringLiteral("-CA"), QStringLiteral("ca.pem"), QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-out"), QStringLiteral("server.pem"),
                    QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), QStringLiteral("ext.cnf")},
                   dir, error);
}

NginxServer::NginxServer(const QString& root, Options options) : m_root(root), m_options(std::move(options)) {
    // The port is free when asked but may be taken before nginx binds it: try again then.
    for (int attempt = 0; attempt < 3 && !m_running; ++attempt) m_running = Start();
}

NginxServer::~NginxServer() {
    Stop();
}

QString NginxServer::BaseUrl() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(m_options.tls ? QStringLiteral("https") : QStringLiteral("http")).arg(m_port);
}

bool NginxServer::Start() {
    const QString nginx = QStandardPaths::findExecutable(
        QStringLiteral("nginx"), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/bin")});
    if (nginx.isEmpty()) {
        m_error = QStringLiteral("nginx is not installed (scripts/setup.sh installs it)");
        return false;
    }
    const QString p = m_prefix.path();
    if (m_options.tls && !QFile::exists(p + QStringLiteral("/server.pem")) && !MakeTestCertificates(p, &m_error))
        return false;
    QDir().mkpath(p + QStringLiteral("/tmp"));
    QDir().mkpath(p + QStringLiteral("/logs"));
    m_port = FreeLoopbackPort();
    QString tls;
    if (m_options.tls)
        tls = QStringLiteral("    ssl_certificate %1/server.pem;\n    ssl_certificate_key %1/server.key;\n").arg(p);
    const QString conf =
        QStringLiteral(
            "daemon off;\nmaster_process off;\nworker_processes 1;\npid %1/nginx.pid;\nerror_log %1/error.log warn;\n"
            "events { worker_connections 512; }\n"
            "http {\n"
            "  log_format plain '$request_method $uri $args $status $http_range $body_bytes_sent';\n"
            "  access_log %1/access.log plain;\n"
            "  client_body_temp_path %1/tmp/body;\n  proxy_temp_path %1/tmp/proxy;\n"
            "  fastcgi_temp_path %1/tmp/fastcgi;\n  uwsgi_temp_path %1/tmp/uwsgi;\n  scgi_temp_path %1/tmp/scgi;\n"
            "  types { }\n  default_type application/octet-stream;\n"
            "  sendfile on;\n  keepalive_requests 1000000;\n"
            "  server {\n    listen 127.0.0.1:%2%3;\n%4    root %5;\n%6  }\n"
            "}\n")
            .arg(p)
            .arg(m_port)
            .arg(m_options.tls ? QStringLiteral(" ssl") : QString())
            .arg(tls)
            .arg(m_root)
            .arg(m_options.limitRate.isEmpty() ? QString() : QStringLiteral("    limit_rate %1;\n").arg(m_options.limitRate));
    if (!WriteText(p + QStringLiteral("/nginx.conf"), conf)) {
        m_error = QStringLiteral("cannot write the nginx configuration");
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(nginx, {QStringLiteral("-p"), p, QStringLiteral("-c"), p + QStringLiteral("/nginx.conf"),
                             QStringLiteral("-e"), p + QStringLiteral("/error.log")});
    if (!m_process->waitForStarted(5000)) {
        m_error = QStringLiteral("nginx did not start: ") + m_process->errorString();
        return false;
    }
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 5000) {
        if (m_process->state() != QProcess::Running) break;
        if (CanConnect(m_port)) return true;
        QThread::msleep(10);
    }
    QFile log(p + QStringLiteral("/error.log"));
    log.open(QIODevice::ReadOnly);
    m_error = QStringLiteral("nginx is not serving: ") + QString::fromLocal8Bit(log.readAll());
    Stop();
    return false;
}

void NginxServer::Stop() {
    if (!m_process) return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
    m_running = false;
}

QStringList NginxServer::AccessLog(int quietMs) const {
    const QString path = m_prefix.path() + QStringLiteral("/access.log");
    QElapsedTimer total, still;
    total.start();
    still.start();
    qint64 size = QFileInfo(path).size();
    while (still.elapsed() < quietMs && total.elapsed() < 5000) {
        QThread::msleep(10);
        const qint64 now = QFileInfo(path).size();
        if (now != size) {
            size = now;
            still.restart();
        }
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
