// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Shared by the online tests: waiting on the event loop, test files, and a hostile HTTP
// server on loopback that answers the way a broken or malicious server would.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Runs the event loop until `done` or the guard time runs out (a hang then fails the
// test instead of blocking the suite).
inline bool WaitUntil(const std::function<bool()>& done, int guardMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > guardMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    }
    return true;
}

// Reproducible bytes that differ from block to block.
inline QByteArray TestBytes(qint64 n, uint32_t seed) {
    QByteArray b(n, Qt::Uninitialized);
    uint32_t x = seed * 2654435761u + 1;
    for (qint64 i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<char>(x);
    }
    return b;
}

inline bool WriteBytes(const QString& path, const QByteArray& data) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

inline QByteArray ReadBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Answers every request with `answer`, given the request head and body. The answer may
// write, close, abort or keep silent; the connection stays open until it is closed.
class HostileServer {
public:
    struct Request {
        QByteArray head;
        QByteArray body;
        QByteArray Header(const QByteArray& name) const {
            for (const QByteArray& line : head.split('\n')) {
                const int colon = line.indexOf(':');
                if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower()) return line.mid(colon + 1).trimmed();
            }
            return {};
        }
    };
    using Answer = std::function<void(QTcpSocket*, const Request&)>;

    explicit HostileServer(Answer answer) : m_answer(std::move(answer)) {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                m_sockets.emplace_back(s);
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(s, &QTcpSocket::readyRead, [this, s, buffer] {
                    buffer->append(s->readAll());
                    const int end = buffer->indexOf("\r\n\r\n");
                    if (end < 0) return;
                    Request r;
                    r.head = buffer->left(end);
                    const qint64 length = r.Header("Content-Length").toLongLong();
                    if (buffer->size() < end + 4 + length) return;
                    r.body = buffer->mid(end + 4, length);
                    buffer->remove(0, end + 4 + static_cast<int>(length));
                    requests.push_back(r);
                    m_answer(s, r);
                });
            }
        });
    }
    int Port() const { return m_server.serverPort(); }

    std::vector<Request> requests;

private:
    Answer m_answer;
    QTcpServer m_server;
    std::vector<std::unique_ptr<QTcpSocket>> m_sockets;
};
