// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real nginx on loopback for tests and benchmarks: a generated configuration on a free
// port, with its own prefix, logs and temporary folders in a private folder, optionally
// with TLS from a test certificate authority. It runs as a child process and is stopped
// when the object goes away.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A certificate authority and a server certificate for 127.0.0.1 and localhost, made with
// openssl in `dir`: ca.pem, server.pem, server.key.
bool MakeTestCertificates(const QString& dir, QString* error);

// A free TCP port on 127.0.0.1 at the time of asking.
int FreeLoopbackPort();

class NginxServer {
public:
    struct Options {
        bool tls = false;
        QString limitRate;  // nginx "limit_rate" per connection, e.g. "2m"; empty: none
    };

    // Serves the files under `root`. Check Running() (and Error()) afterwards.
    explicit NginxServer(const QString& root, Options options);
    explicit NginxServer(const QString& root) : NginxServer(root, Options{}) {}
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    bool Running() const { return m_running; }
    const QString& Error() const { return m_error; }
    int Port() const { return m_port; }
    bool Tls() const { return m_options.tls; }
    // "http://127.0.0.1:PORT" or "https://…".
    QString BaseUrl() const;
    // The certificate authority's PEM file (TLS only).
    QString CaFile() const { return m_prefix.path() + QStringLiteral("/ca.pem"); }

    // One line per finished request: "METHOD URI ARGS STATUS RANGE BYTES" ("-" for an
    // empty field). nginx writes a line just after the response, so a client can see the
    // answer first: this waits until the log has been still for `quietMs`.
    QStringList AccessLog(int quietMs = 150) const;
    void Stop();

private:
    bool Start();

    QString m_root;
    Options m_options;
    QTemporaryDir m_prefix;
    std::unique_ptr<QProcess> m_process;
    int m_port = 0;
    bool m_running = false;
    QString m_error;
};
