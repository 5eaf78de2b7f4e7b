// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the online services live. The chart-chunk server, the package server and the
// data server are settings, so a user can point the application at a mirror of their
// own; an extra certificate authority can be trusted for such a mirror (or for a test
// server) without touching the system's store.
//
// GUI thread only, like every settings object.

#include <string>

#include "core/persistantdata.h"

// One server: scheme ("http" or "https"), host and port (0: the scheme's default).
struct CServerAddress {
    bool secure = true;
    std::string host;
    int port = 0;

    bool IsValid() const;
    // "https://host:port" (the port only when set).
    std::string ToString() const;
    // Accepts "host", "host:port", "http://host[:port]" and "https://host[:port]"; a
    // trailing "/" is allowed. Without a scheme, `defaultSecure` decides. IPv6 addresses
    // go in brackets ("[::1]:8080"). False, leaving `out` alone, for anything else.
    static bool Parse(const std::string& text, bool defaultSecure, CServerAddress& out);
};

class COnlineSettings {
public:
    enum Server { kChartServer, kPackageServer, kDataServer };

    // The configured server, or the built-in default when the stored one is unusable
    // (a warning goes to the debug output then).
    static CServerAddress GetServer(Server which);
    static void SetServer(Server which, const CServerAddress& address);
    static CServerAddress DefaultServer(Server which);

    // A PEM file of certificate authorities trusted in addition to the system's; empty
    // for none.
    static std::string ExtraCaFile();
    static void SetExtraCaFile(const std::string& path);

    // How long a transfer may stall before it fails, in milliseconds (100 … 600000).
    static int TransferTimeoutMs();
    static void SetTransferTimeoutMs(int ms);
    static constexpr int kDefaultTransferTimeoutMs = 4000;

    class Persistant : public PersistantData {
    public:
        Persistant() : PersistantData("COnlineServers") {}
        void DeclareData() override;

        std::string chart_scheme = "https";
        std::string chart_host = "charts.navora.example.org";
        int chart_port = 0;
        std::string package_scheme = "https";
        std::string package_host = "packages.navora.example.org";
        int package_port = 0;
        std::string data_scheme = "https";
        std::string data_host = "data.navora.example.org";
        int data_port = 0;
        std::string ca_file;
        int transfer_timeout_ms = kDefaultTransferTimeoutMs;
    };
    static Persistant settings;
};
