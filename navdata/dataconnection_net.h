// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Network connections: a TCP client that retries every 10 seconds after a failure, and
// a UDP listener. Both run on the GUI thread from socket signals; the TCP client also
// watches the heartbeat, because a peer that vanishes without closing (a gateway
// switched off) sends no signal at all.

#include <QObject>

#include <memory>
#include <string>

#include "core/heartbeat.h"
#include "navdata/dataconnection.h"

class QTcpSocket;
class QUdpSocket;
class QNetworkAccessManager;

class CTCPIPConnection : public QObject, public CDataConnection, public CHeartbeat::Counter {
    Q_OBJECT
public:
    // Heartbeat pulses between a failure and the next attempt (10 seconds).
    static constexpr int kReconnectPulses = 100;
    // A connection attempt that has not completed after 10 seconds, or a connected peer
    // that has sent nothing for 15, counts as dropped.
    static constexpr int kConnectTimeoutPulses = 100;
    static constexpr int kSilenceTimeoutPulses = 150;
    static constexpr int kInstantPort = 39150;
    static constexpr int kTargetsPort = 39151;

    CTCPIPConnection();
    ~CTCPIPConnection() override;

    void Configure(const NV_HWND& parent, const std::function<void(bool)>& done) override;
    bool Open() override;
    void Close() override;
    bool Output(const char* text) override;
    void OnHeartbeat() override;

    // Stores the server; also lifts any restriction to one network.
    static void Setup(const std::string& address, int port, bool instant);

    // Whether a new attempt is waiting, and the pulses until it happens.
    static bool ReconnectPending();
    static int ReconnectPulsesLeft();

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CTCPIPConnection") {}
        void DeclareData() override {
            Declare("ip_address", ip_address);
            Declare("port", port);
            Declare("network", network);
            Declare("instant_acquisition", instant_acquisition);
        }
        std::string ip_address = "192.168.15.1";
        int port = 39150;
        std::string network;
        bool instant_acquisition = false;
    };
    static Persistant settings;

private:
    void onReadyRead();
    void onConnected();
    void onError();
    void onDisconnected();
    void Failed();
    void FetchTargets();

    std::unique_ptr<QTcpSocket> m_socket;
    std::unique_ptr<QNetworkAccessManager> m_http;
    std::string m_targetsFile;
    int m_quietPulses = 0;  // since the attempt began or the last bytes came
    bool m_failed = false;
};

class CUDPConnection : public QObject, public CDataConnection {
    Q_OBJECT
public:
    CUDPConnection();
    ~CUDPConnection() override;

    void Configure(const NV_HWND& parent, const std::function<void(bool)>& done) override;
    bool Open() override;
    void Close() override;

    // Stores the local port; also lifts any restriction to one network.
    static void Setup(int port);
    // The port actually bound (useful when the setting is 0); 0 when not bound.
    int BoundPort() const;

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("CUDPConnection") {}
        void DeclareData() override {
            Declare("port", port);
            Declare("network", network);
        }
        int port = 2000;
        std::string network;
    };
    static Persistant settings;

private:
    void onReadyRead();

    std::unique_ptr<QUdpSocket> m_socket;
};
