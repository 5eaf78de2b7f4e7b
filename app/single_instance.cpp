// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace {
// Frame: u32 length (big-endian, QDataStream's default) then the bytes. Messages larger
// than this are refused: a command line never needs more.
constexpr quint32 kMaxMessage = 1 << 20;
}  // namespace

QString CSingleInstance::ServerNameFor(const QString& profile) {
    const QByteArray key = QByteArray("navora:") + QByteArray::number(uint(::getuid())) + ':' + profile.toUtf8();
    const QString name =
        QStringLiteral("navora-") +
        QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    // The user's runtime directory is private to the user, so no one else can send us
    // command lines. Without one, fall back to the shared socket directory.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : runtime + QLatin1Char('/') + name;
}

CSingleInstance::CSingleInstance(const QString& profile, QObject* parent)
    : QObject(parent), m_serverName(ServerNameFor(profile)) {
    if (tryListen()) {
        m_primary = true;
        return;
    }
    // Someone holds the name. If it answers, it is a live primary; if not, the socket
    // file is a leftover from a process that died, and we take its place.
    QLocalSocket probe;
    probe.connectToServer(m_serverName);
    if (probe.waitForConnected(500)) {
        probe.abort();
        m_primary = false;
        return;
    }
    QLocalServer::removeServer(m_serverName);
    m_primary = tryListen();
    // Could not listen even after cleaning up: behave as a lone primary without
    // forwarding rather than refusing to start.
    if (!m_primary) m_primary = true;
}

CSingleInstance::~CSingleInstance() {
    if (m_server) m_server->close();
}

bool CSingleInstance::tryListen() {
    auto* server = new QLocalServer(this);
    // No socket options: with access options Qt creates the socket elsewhere and renames
    // it into place, which would silently replace a running primary's socket.
    if (!server->listen(m_serverName)) {
        delete server;
        return false;
    }
    m_server = server;
    connect(m_server, &QLocalServer::newConnection, this, &CSingleInstance::onNewConnection);
    return true;
}

void CSingleInstance::onNewConnection() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        const quint32 id = m_nextInstanceId++;
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        // Reads may arrive in pieces; collect until the framed message is complete.
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, id] {
            const QByteArray all = socket->peek(socket->bytesAvailable());
            if (all.size() < 4) return;
            QDataStream in(all);
            quint32 len = 0;
            in >> len;
            if (len > kMaxMessage) {
                socket->abort();
                return;
            }
            if (quint32(all.size()) < 4 + len) return;
            socket->read(4);
            const QByteArray message = socket->read(len);
            socket->write("ok", 2);
            socket->flush();
            Q_EMIT receivedMessage(id, message);
        });
    }
}

bool CSingleInstance::sendMessage(const QByteArray& message, int timeoutMs) {
    if (m_primary || quint32(message.size()) > kMaxMessage) return false;
    QLocalSocket socket;
    socket.connectToServer(m_serverName);
    if (!socket.waitForConnected(timeoutMs)) return false;
    QByteArray frame;
    {
        QDataStream out(&frame, QIODevice::WriteOnly);
        out << quint32(message.size());
    }
    frame.append(message);
    socket.write(frame);
    if (!socket.waitForBytesWritten(timeoutMs)) return false;
    // The acknowledgement tells us the primary took the whole message before we go.
    socket.waitForReadyRead(timeoutMs);
    socket.disconnectFromServer();
    return true;
}
