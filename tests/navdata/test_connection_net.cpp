// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUdpSocket>

#include <memory>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "navdata/dataconnection_net.h"
#include "navdata/network_name.h"
#include "navdata/gpsposition.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include "tests/support/recording_ui.h"
#include "test_connection_support.h"

using conntest::Numbered;
using conntest::WaitFor;

namespace {

// A loopback server the TCP connection dials; keeps every client it accepted.
class LoopbackServer {
public:
    LoopbackServer() { EXPECT_TRUE(server.listen(QHostAddress(QHostAddress::LocalHost), 0)); }
    int Port() const { return server.serverPort(); }
    QTcpSocket* WaitForClient(size_t n) {
        WaitFor([&]() {
            while (server.hasPendingConnections()) clients.push_back(server.nextPendingConnection());
            return clients.size() >= n;
        });
        return clients.size() >= n ? clients[n - 1] : nullptr;
    }
    QTcpServer server;
    std::vector<QTcpSocket*> clients;  // owned by the server
};

class TcpSettingsGuard {
public:
    TcpSettingsGuard() : m_saved(CTCPIPConnection::settings.ip_address), m_port(CTCPIPConnection::settings.port) {}
    ~TcpSettingsGuard() {
        CTCPIPConnection::Setup(m_saved, m_port, false);
        setNetworkNameProviderForTesting(nullptr);
    }

private:
    std::string m_saved;
    int m_port;
};

// Opens the configured TCP connection the way the application does and waits for the server.
QTcpSocket* ConnectTcp(LoopbackServer& server, size_t n = 1) {
    CTCPIPConnection::Setup("127.0.0.1", server.Port(), false);
    CDataConnection::settings.gps_connection_type = CDataConnection::kTcp;
    CDataConnection::CreateConnection();
    return server.WaitForClient(n);
}

// Pulses the heartbeat n times, letting the event loop run after each as the
// application's would.
void Pulses(int n) {
    for (int i = 0; i < n; ++i) {
        CHeartbeat::Pulse();
        QCoreApplication::processEvents();
    }
}

// Waits out a pending retry so that it cannot fire in a later test.
void EndRetries() {
    CDataConnection::AppWasDestroyed();
    for (int i = 0; i < CTCPIPConnection::kReconnectPulses; ++i) CHeartbeat::Pulse();
    CDataConnection::AppWasDestroyed();
}

TEST(TcpConnection, BurstBeyondTheLimitIsCutAtTwoHundredLines) {
    conntest::SettingsGuard guard;
    TcpSettingsGuard tcpGuard;
    LoopbackServer server;
    conntest::RawRecorder received;
    QTcpSocket* peer = ConnectTcp(server);
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(WaitFor([]() { return CDataConnection::theConnection != nullptr; }));

    std::string burst;
    for (int i = 0; i < 250; ++i) burst += Numbered(i) + "\r\n";
    peer->write(burst.data(), static_cast<qint64>(burst.size()));
    peer->flush();
    // Let the whole burst reach the client's kernel buffer before its event loop runs,
    // so that it arrives as one read event.
    QThread::msleep(200);
    WaitFor([&]() { return received.lines.size() >= 200; });
    WaitFor([]() { return false; }, 200);  // nothing more may follow
    ASSERT_EQ(received.lines.size(), 200u);
    EXPECT_EQ(received.lines.front(), Numbered(0));
    EXPECT_EQ(received.lines.back(), Numbered(199));

    // The discarded rest does not poison the next event.
    const std::string next = Numbered(1000) + "\r\n";
    peer->write(next.data(), static_cast<qint64>(next.size()));
    ASSERT_TRUE(WaitFor([&]() { return received.lines.size() == 201; }));
    EXPECT_EQ(received.lines.back(), Numbered(1000));
}

TEST(TcpConnection, DroppedConnectionRetriesAfterTenSecondsOfHeartbeat) {
    conntest::SettingsGuard guard;
    TcpSettingsGuard tcpGuard;
    RecordingUi ui;
    LoopbackServer server;
    QTcpSocket* peer = ConnectTcp(server);
    ASSERT_NE(peer, nullptr);
    COverlayGPSPosition::theLatestPosition.fix_status = FIX_GPS;

    peer->disconnectFromHost();
    ASSERT_TRUE(WaitFor([]() { return CDataConnection::theConnection == nullptr; }));
    ASSERT_FALSE(ui.status.empty());
    EXPECT_EQ(ui.status.back(), "TCP Disconnected");
    EXPECT_EQ(COverlayGPSPosition::theLatestPosition.fix_status, FIX_NONE);
    ASSERT_TRUE(CTCPIPConnection::ReconnectPending());

    for (int i = 0; i < CTCPIPConnection::kReconnectPulses - 1; ++i) CHeartbeat::Pulse();
    EXPECT_EQ(CDataConnection::theConnection, nullptr) << "retried before 10 seconds";
    CHeartbeat::Pulse();
    ASSERT_NE(CDataConnection::theConnection, nullptr);
    EXPECT_FALSE(CTCPIPConnection::ReconnectPending());
    ASSERT_NE(server.WaitForClient(2), nullptr);

    // With the server gone the retries go on.
    server.server.close();
    for (QTcpSocket* c : server.clients) c->abort();
    ASSERT_TRUE(WaitFor([]() { return CTCPIPConnection::ReconnectPending(); }));
    EXPECT_EQ(CDataConnection::theConnection, nullptr);
    for (int i = 0; i < CTCPIPConnection::kReconnectPulses; ++i) CHeartbeat::Pulse();
    ASSERT_TRUE(WaitFor([]() { return CTCPIPConnection::ReconnectPending(); }));
    EXPECT_EQ(ui.status.back().rfind("TCP Error: ", 0), 0u) << ui.status.back();
    EndRetries();
}

TEST(TcpConnection, PeerThatFallsSilentCountsAsDropped) {
    conntest::SettingsGuard guard;
    TcpSettingsGuard tcpGuard;
    RecordingUi ui;
    LoopbackServer server;
    conntest::RawRecorder received;
    QTcpSocket* peer = ConnectTcp(server);
    ASSERT_NE(peer, nullptr);
    WaitFor([]() { return false; }, 50);  // the client side sees its connection complete

    // Data restarts the count: 14.9 s of silence, a sentence, 14.9 s more.
    Pulses(CTCPIPConnection::kSilenceTimeoutPulses - 1);
    const std::string line = Numbered(1) + "\r\n";
    peer->write(line.data(), qint64(line.size()));
    ASSERT_TRUE(WaitFor([&]() { return received.lines.size() == 1; }));
    Pulses(CTCPIPConnection::kSilenceTimeoutPulses - 1);
    ASSERT_NE(CDataConnection::theConnection, nullptr);

    Pulses(1);
    ASSERT_TRUE(WaitFor([]() { return CDataConnection::theConnection == nullptr; }));
    EXPECT_EQ(ui.status.back(), "TCP Disconnected");
    EXPECT_TRUE(CTCPIPConnection::ReconnectPending());
    EndRetries();
}

// A loopback listener whose accept queue is full: the kernel drops every further
// connection request, so a connect to it neither completes nor fails.
class FullListener {
public:
    FullListener() {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (::bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listener, 0) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length) != 0)
            return;
        port = ntohs(a.sin_port);
        m_filler = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(m_filler, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) port = 0;  // fills the queue
    }
    ~FullListener() {
        if (m_filler >= 0) ::close(m_filler);
        if (m_listener >= 0) ::close(m_listener);
    }
    int port = 0;

private:
    int m_listener = -1;
    int m_filler = -1;
};

TEST(TcpConnection, ConnectThatNeverCompletesCountsAsDropped) {
    conntest::SettingsGuard guard;
    TcpSettingsGuard tcpGuard;
    RecordingUi ui;
    FullListener listener;
    ASSERT_NE(listener.port, 0);
    CTCPIPConnection::Setup("127.0.0.1", listener.port, false);
    CDataConnection::settings.gps_connection_type = CDataConnection::kTcp;
    CDataConnection::CreateConnection();
    WaitFor([]() { return false; }, 300);
    ASSERT_NE(CDataConnection::theConnection, nullptr) << "the connect is expected to hang, not fail";
    Pulses(CTCPIPConnection::kConnectTimeoutPulses - 1);
    ASSERT_NE(CDataConnection::theConnection, nullptr);
    EXPECT_FALSE(CTCPIPConnection::ReconnectPending());

    Pulses(1);
    ASSERT_TRUE(WaitFor([]() { return CDataConnection::theConnection == nullptr; }));
    EXPECT_EQ(ui.status.back(), "TCP Disconnected");
    EXPECT_TRUE(CTCPIPConnection::ReconnectPending());
    EndRetries();
}

TEST(TcpConnection, WritesAllowedSentencesButNeverWhatItReceivedAndNothingWithoutRules) {
    conntest::SettingsGuard guard;
    TcpSettingsGuard tcpGuard;
    LoopbackServer server;
    conntest::RawRecorder received;
    auto generate = [](const char* text) {
        CNMEA_Raw generated;
        std::snprintf(generated.text, sizeof generated.text, "%s", text);
        generated.AddChecksumAndDispatch();
    };
    // No rules: not even the autopilot sentence goes out.
    QTcpSocket* silent = ConnectTcp(server, 1);
    ASSERT_NE(silent, nullptr);
    generate("$ECRMB,A,0.1,L,X,WP1");
    WaitFor([]() { return false; }, 150);
    EXPECT_EQ(silent->bytesAvailable(), 0);

    CDataConnection::settings.output_filters = {"Allow"};
    QTcpSocket* peer = ConnectTcp(server, 2);
    ASSERT_NE(peer, nullptr);
    const std::string in = Sentence("GPRMB,in") + "\r\n";
    peer->write(in.data(), static_cast<qint64>(in.size()));
    ASSERT_TRUE(WaitFor([&]() { return received.lines.size() == 1; }));
    generate("$ECRMB,out");
    ASSERT_TRUE(WaitFor([&]() { return peer->bytesAvailable() > 0; }));
    WaitFor([]() { return false; }, 100);
    EXPECT_EQ(peer->readAll().toStdString(), Sentence("ECRMB,out") + "\r\n");
}

TEST(TcpConnection, RestrictedToAnotherNetworkDoesNotDial) {
    conntest::SettingsGuard guard;
    TcpSettingsGuard tcpGuard;
    RecordingUi ui;
    LoopbackServer server;
    setNetworkNameProviderForTesting([]() { return std::string("Marina"); });
    CTCPIPConnection::Setup("127.0.0.1", server.Port(), false);
    CTCPIPConnection::settings.network = "Boat";
    CDataConnection::settings.gps_connection_type = CDataConnection::kTcp;
    CDataConnection::CreateConnection();
    ASSERT_NE(CDataConnection::theConnection, nullptr);
    EXPECT_EQ(CDataConnection::theConnection->StatusMessage(), "TCP connection set up for Boat");
    EXPECT_EQ(ui.status.back(), "TCP connection set up for Boat");
    WaitFor([]() { return false; }, 150);
    EXPECT_FALSE(server.server.hasPendingConnections());

    // On the named network it dials.
    CTCPIPConnection::settings.network = "Marina";
    CDataConnection::CreateConnection();
    EXPECT_NE(server.WaitForClient(1), nullptr);
}

// UDP ---------------------------------------------------------------------------------

class UdpFixture : public ::testing::Test {
protected:
    void SetUp() override {
        m_savedPort = CUDPConnection::settings.port;
        CUDPConnection::Setup(0);  // any free port
        CDataConnection::settings.gps_connection_type = CDataConnection::kUdp;
        CDataConnection::CreateConnection();
        auto* udp = dynamic_cast<CUDPConnection*>(CDataConnection::theConnection);
        ASSERT_NE(udp, nullptr);
        port = static_cast<quint16>(udp->BoundPort());
        ASSERT_NE(port, 0);
    }
    void TearDown() override { CUDPConnection::Setup(m_savedPort); }
    void Send(const std::string& data) {
        sender.writeDatagram(data.data(), static_cast<qint64>(data.size()), QHostAddress(QHostAddress::LocalHost), port);
    }

    conntest::SettingsGuard guard;
    conntest::RawRecorder received;
    QUdpSocket sender;
    quint16 port = 0;

private:
    int m_savedPort = 0;
};

TEST_F(UdpFixture, SentenceSplitAcrossDatagramsIsJoined) {
    const std::string s = Sentence("GPTST,split,in,two");
    Send(s.substr(0, 10));
    WaitFor([]() { return false; }, 100);
    EXPECT_TRUE(received.lines.empty());
    Send(s.substr(10) + "\r\n" + Numbered(1) + "\r\n");
    ASSERT_TRUE(WaitFor([&]() { return received.lines.size() == 2; }));
    EXPECT_EQ(received.lines[0], s);
    EXPECT_EQ(received.lines[1], Numbered(1));
}

TEST_F(UdpFixture, OverlongLineIsDroppedAndTheNextDatagramReadsNormally) {
    Send(std::string(300, 'z'));
    WaitFor([]() { return false; }, 100);
    Send("\r\n" + Numbered(7) + "\r\n");
    ASSERT_TRUE(WaitFor([&]() { return !received.lines.empty(); }));
    WaitFor([]() { return false; }, 100);
    ASSERT_EQ(received.lines.size(), 1u);
    EXPECT_EQ(received.lines[0], Numbered(7));
}

TEST_F(UdpFixture, BindFailureIsReported) {
    // A second listener on a port bound without sharing cannot bind.
    QUdpSocket exclusive;
    ASSERT_TRUE(exclusive.bind(QHostAddress::Any, 0, QAbstractSocket::DontShareAddress));
    CUDPConnection::Setup(exclusive.localPort());
    CUDPConnection c;
    EXPECT_FALSE(c.Open());
    EXPECT_EQ(c.StatusMessage().rfind("Socket bind failed: ", 0), 0u) << c.StatusMessage();
}

}  // namespace
