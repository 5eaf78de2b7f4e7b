// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/dataconnection_net.h"

#include "navdata/ais.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>
#include <QUrl>

#include <cstdio>
#include <cstring>

#include "core/apppaths.h"
#include "core/heartbeat.h"
#include "navdata/network_name.h"

CTCPIPConnection::Persistant CTCPIPConnection::settings;
CUDPConnection::Persistant CUDPConnection::settings;

namespace {

// Counts down the pulses to the next TCP attempt. Pulse-driven rather than a QTimer so
// that the wait follows the application's heartbeat (and a test's own pulses).
class ReconnectTimer : public CHeartbeat::Counter {
public:
    ReconnectTimer() : Counter(1) {}
    void Arm() {
        m_armed = true;
        SetPeriod(CTCPIPConnection::kReconnectPulses, true);
    }
    bool Armed() const { return m_armed; }
    void OnHeartbeat() override {
        if (!m_armed) return;
        m_armed = false;
        if (!CDataConnection::theConnection) CDataConnection::AppWasResumed();
    }

private:
    bool m_armed = false;
};

ReconnectTimer& Reconnect() {
    static ReconnectTimer timer;
    return timer;
}

// The network restriction holds when a network is named and we are on another one.
bool WrongNetwork(const std::string& network) { return !network.empty() && network != getCurrentNetworkName(); }

}  // namespace

// ---------------------------------------------------------------------------------------
// TCP client

CTCPIPConnection::CTCPIPConnection() : Counter(1) {}

CTCPIPConnection::~CTCPIPConnection() { CTCPIPConnection::Close(); }

void CTCPIPConnection::Setup(const std::string& address, int port, bool instant) {
    settings.ip_address = address;
    settings.port = port;
    settings.instant_acquisition = instant;
    settings.network.clear();
    settings.SetChanged();
}

bool CTCPIPConnection::ReconnectPending() { return Reconnect().Armed(); }

int CTCPIPConnection::ReconnectPulsesLeft() { return Reconnect().Armed() ? Reconnect().Remaining() : 0; }

void CTCPIPConnection::Configure(const NV_HWND& parent, const std::function<void(bool)>& done) {
    ShowPage(parent, {"TcpSetup", {}}, done);
}

bool CTCPIPConnection::Open() {
    if (WrongNetwork(settings.network)) {
        SetStatus("TCP connection set up for " + settings.network);
        return false;
    }
    if (settings.instant_acquisition && settings.port == kInstantPort) {
        char name[64];
        std::snprintf(name, sizeof name, "/targets%p.txt", static_cast<void*>(this));
        m_targetsFile = getTempDirectory() + name;
        QFile::remove(QString::fromStdString(m_targetsFile));
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    m_socket = std::make_unique<QTcpSocket>();
    connect(m_socket.get(), &QTcpSocket::readyRead, this, &CTCPIPConnection::onReadyRead);
    connect(m_socket.get(), &QTcpSocket::connected, this, &CTCPIPConnection::onConnected);
    connect(m_socket.get(), &QTcpSocket::disconnected, this, &CTCPIPConnection::onDisconnected);
    connect(m_socket.get(), &QTcpSocket::errorOccurred, this, &CTCPIPConnection::onError);
    m_quietPulses = 0;
    m_socket->connectToHost(QString::fromStdString(settings.ip_address), static_cast<quint16>(settings.port),
                            QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    notOpen = false;
    return true;
}

void CTCPIPConnection::Close() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket.reset();
    }
    m_http.reset();
}

bool CTCPIPConnection::Output(const char* text) {
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) return false;
    const qint64 length = static_cast<qint64>(std::strlen(text));
    if (m_socket->write(text, length) < length) {
        SetStatus("Output failed");
        return false;
    }
    DebugLog(text);
    return true;
}

void CTCPIPConnection::onConnected() {
    m_quietPulses = 0;
    if (!m_targetsFile.empty()) FetchTargets();
}

void CTCPIPConnection::FetchTargets() {
    m_http = std::make_unique<QNetworkAccessManager>();
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QString::fromStdString(settings.ip_address));
    url.setPort(kTargetsPort);
    url.setPath(QStringLiteral("/targets/getTargets"));
    QNetworkReply* reply = m_http->get(QNetworkRequest(url));
    const std::string path = m_targetsFile;
    connect(reply, &QNetworkReply::finished, this, [reply, path]() {
        reply->deleteLater();
        if (reply->error() != QNetworkReply::NoError) return;
        QFile file(QString::fromStdString(path));
        if (!file.open(QIODevice::WriteOnly)) return;
        const QByteArray body = reply->readAll();
        const bool written = file.write(body) == body.size();
        file.close();
        if (written && FileExists(path) && the_CAISTargetManager) the_CAISTargetManager->ReadInstantTargets(path);
        QFile::remove(QString::fromStdString(path));
    });
}

void CTCPIPConnection::onReadyRead() {
    if (!m_socket) return;
    m_quietPulses = 0;
    DeviceSource source(*m_socket, true);
    ReadEvent(source, kNetworkLineLimit, false);
}

void CTCPIPConnection::OnHeartbeat() {
    if (!m_socket || m_failed) return;
    const bool connected = m_socket->state() == QAbstractSocket::ConnectedState;
    if (++m_quietPulses < (connected ? kSilenceTimeoutPulses : kConnectTimeoutPulses)) return;
    SetStatus("TCP Disconnected");
    Failed();
}

void CTCPIPConnection::onError() {
    if (!m_socket) return;
    char text[64];
    std::snprintf(text, sizeof text, "TCP Error: %d", static_cast<int>(m_socket->error()));
    SetStatus(text);
    Failed();
}

void CTCPIPConnection::onDisconnected() {
    SetStatus("TCP Disconnected");
    Failed();
}

void CTCPIPConnection::Failed() {
    ShowStatus();
    if (m_failed) return;  // an error is usually followed by the disconnection
    m_failed = true;
    // Deleting the connection inside its own socket's signal is not safe; do it from the
    // event loop, then wait for the next attempt.
    QPointer<CTCPIPConnection> self(this);
    QTimer::singleShot(0, [self]() {
        // The user may have chosen another connection meanwhile; leave that one alone.
        if (!self || CDataConnection::theConnection != self.data()) return;
        // Ending the connection also tells the position that the fix is gone.
        CDataConnection::AppWasDestroyed();
        Reconnect().Arm();
    });
}

// ---------------------------------------------------------------------------------------
// UDP listener

CUDPConnection::CUDPConnection() = default;

CUDPConnection::~CUDPConnection() { CUDPConnection::Close(); }

void CUDPConnection::Setup(int port) {
    settings.port = port;
    settings.network.clear();
    settings.SetChanged();
}

void CUDPConnection::Configure(const NV_HWND& parent, const std::function<void(bool)>& done) {
    ShowPage(parent, {"UdpSetup", {}}, done);
}

bool CUDPConnection::Open() {
    notOpen = false;
    if (WrongNetwork(settings.network)) {
        SetStatus("UDP connection not opened because current network is not " + settings.network);
        return false;
    }
    m_socket = std::make_unique<QUdpSocket>();
    if (!m_socket->bind(QHostAddress::Any, static_cast<quint16>(settings.port), QAbstractSocket::ShareAddress)) {
        SetStatus("Socket bind failed: " + m_socket->errorString().toStdString());
        m_socket.reset();
        return false;
    }
    connect(m_socket.get(), &QUdpSocket::readyRead, this, &CUDPConnection::onReadyRead);
    return true;
}

void CUDPConnection::Close() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->close();
        m_socket.reset();
    }
}

int CUDPConnection::BoundPort() const { return m_socket ? m_socket->localPort() : 0; }

namespace {

// The datagrams waiting on a socket, one chunk each; a burst drops all of them.
class DatagramSource final : public CDataConnection::ByteSource {
public:
    explicit DatagramSource(QUdpSocket& socket) : m_socket(socket) {}
    long long Read(char* buffer, long long size) override {
        if (!m_socket.hasPendingDatagrams()) return -1;
        return m_socket.readDatagram(buffer, size);
    }
    bool DiscardRest() override {
        bool any = false;
        while (m_socket.hasPendingDatagrams()) {
            m_socket.readDatagram(nullptr, 0);
            any = true;
        }
        return any;
    }

private:
    QUdpSocket& m_socket;
};

}  // namespace

void CUDPConnection::onReadyRead() {
    if (!m_socket) return;
    DatagramSource source(*m_socket);
    ReadEvent(source, kNetworkLineLimit, false);
}
