// SPDX-License-Identifier: GPL-3.0-or-later
#include "online/onlinesettings.h"

#include <QDebug>
#include <QHostAddress>
#include <QString>

#include <algorithm>
#include <cctype>

COnlineSettings::Persistant COnlineSettings::settings;

void COnlineSettings::Persistant::DeclareData() {
    Declare("chart_scheme", chart_scheme);
    Declare("chart_host", chart_host);
    Declare("chart_port", chart_port);
    Declare("package_scheme", package_scheme);
    Declare("package_host", package_host);
    Declare("package_port", package_port);
    Declare("data_scheme", data_scheme);
    Declare("data_host", data_host);
    Declare("data_port", data_port);
    Declare("ca_file", ca_file);
    Declare("transfer_timeout_ms", transfer_timeout_ms);
}

namespace {

bool IsHostName(const std::string& host) {
    if (host.empty() || host.size() > 253) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
    });
}

bool IsIpv6(const std::string& host) {
    if (host.find(':') == std::string::npos) return false;
    QHostAddress a;
    return a.setAddress(QString::fromStdString(host)) && a.protocol() == QAbstractSocket::IPv6Protocol;
}

struct Fields {
    std::string* scheme;
    std::string* host;
    int* port;
};

Fields FieldsOf(COnlineSettings::Server which) {
    auto& s = COnlineSettings::settings;
    switch (which) {
        case COnlineSettings::kChartServer: return {&s.chart_scheme, &s.chart_host, &s.chart_port};
        case COnlineSettings::kPackageServer: return {&s.package_scheme, &s.package_host, &s.package_port};
        case COnlineSettings::kDataServer: break;
    }
    return {&s.data_scheme, &s.data_host, &s.data_port};
}

}  // namespace

bool CServerAddress::IsValid() const {
    return port >= 0 && port <= 65535 && (IsHostName(host) || IsIpv6(host));
}

std::string CServerAddress::ToString() const {
    std::string s = secure ? "https://" : "http://";
    s += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port) s += ":" + std::to_string(port);
    return s;
}

bool CServerAddress::Parse(const std::string& text, bool defaultSecure, CServerAddress& out) {
    CServerAddress a;
    a.secure = defaultSecure;
    std::string rest = text;
    if (rest.rfind("https://", 0) == 0) {
        a.secure = true;
        rest.erase(0, 8);
    } else if (rest.rfind("http://", 0) == 0) {
        a.secure = false;
        rest.erase(0, 7);
    }
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    std::string portText;
    if (!rest.empty() && rest.front() == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos) return false;
        a.host = rest.substr(1, close - 1);
        if (close + 1 < rest.size()) {
            if (rest[close + 1] != ':') return false;
            portText = rest.substr(close + 2);
            if (portText.empty()) return false;
        }
        if (!IsIpv6(a.host)) return false;
    } else {
        const auto colon = rest.find(':');
        a.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            portText = rest.substr(colon + 1);
            if (portText.empty()) return false;
        }
    }
    if (!portText.empty()) {
        if (portText.size() > 5 || !std::all_of(portText.begin(), portText.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
        a.port = std::stoi(portText);
        if (a.port < 1 || a.port > 65535) return false;
    }
    if (!a.IsValid()) return false;
    out = a;
    return true;
}

CServerAddress COnlineSettings::DefaultServer(Server which) {
    CServerAddress a;
    a.secure = true;
    switch (which) {
        case kChartServer: a.host = "charts.navora.example.org"; break;
        case kPackageServer: a.host = "packages.navora.example.org"; break;
        case kDataServer: a.host = "data.navora.example.org"; break;
    }
    return a;
}

CServerAddress COnlineSettings::GetServer(Server which) {
    const Fields f = FieldsOf(which);
    CServerAddress a;
    a.secure = *f.scheme != "http";
    a.host = *f.host;
    a.port = *f.port;
    if ((*f.scheme == "http" || *f.scheme == "https") && a.IsValid()) return a;
    const CServerAddress d = DefaultServer(which);
    qWarning().noquote() << QStringLiteral("The server setting \"%1://%2:%3\" is unusable; using %4")
                                .arg(QString::fromStdString(*f.scheme), QString::fromStdString(*f.host))
                                .arg(*f.port)
                                .arg(QString::fromStdString(d.ToString()));
    return d;
}

void COnlineSettings::SetServer(Server which, const CServerAddress& address) {
    const Fields f = FieldsOf(which);
    *f.scheme = address.secure ? "https" : "http";
    *f.host = address.host;
    *f.port = address.port;
    settings.SetChanged();
}

std::string COnlineSettings::ExtraCaFile() {
    return settings.ca_file;
}

void COnlineSettings::SetExtraCaFile(const std::string& path) {
    settings.ca_file = path;
    settings.SetChanged();
}

int COnlineSettings::TransferTimeoutMs() {
    return std::clamp(settings.transfer_timeout_ms, 100, 600000);
}

void COnlineSettings::SetTransferTimeoutMs(int ms) {
    settings.transfer_timeout_ms = std::clamp(ms, 100, 600000);
    settings.SetChanged();
}
