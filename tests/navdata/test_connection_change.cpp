// SPDX-License-Identifier: GPL-3.0-or-later
// Changing the connection as a user does: the demo simulation first, then a real receiver
// over UDP, then a GGA-only receiver. What the boat's position, averages and odometer
// show (and what is saved) must come from the boat, never from the previous source.

#include <gtest/gtest.h>

#include <QFile>
#include <QHostAddress>
#include <QTemporaryDir>
#include <QUdpSocket>

#include <cmath>
#include <string>
#include <vector>

#include "navdata/dataconnection_net.h"
#include "navdata/dataconnection_sim.h"
#include "navdata/gpsposition.h"
#include "test_connection_support.h"

using conntest::WaitFor;

namespace {

struct Fix {
    double lat, lon;
};

double Metres(const Fix& a, const Fix& b) {
    const double k = 3.14159265358979323846 / 180.0;
    const double dlat = (b.lat - a.lat) * k, dlon = (b.lon - a.lon) * k;
    const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                     std::cos(a.lat * k) * std::cos(b.lat * k) * std::sin(dlon / 2) * std::sin(dlon / 2);
    return 2 * 6371008.8 * std::asin(std::sqrt(h));
}

// The sentences of a log, and the fixes of its valid RMC or GGA lines in "ddmm.mmm" form.
std::vector<std::string> LogLines(const char* name, const char* fixType, std::vector<Fix>* fixes) {
    QFile file(QStringLiteral(NAVORA_TEST_DATA_DIR "/navdata/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    std::vector<std::string> lines;
    while (!file.atEnd()) {
        const std::string line = file.readLine().trimmed().toStdString();
        if (line.empty() || line[0] == '#') continue;
        lines.push_back(line);
        const QList<QByteArray> f = QByteArray::fromStdString(line).split(',');
        const bool rmc = std::string(fixType) == "RMC";
        const int latField = rmc ? 3 : 2;
        if (!f[0].endsWith(fixType) || f.size() < latField + 4 || f[latField].isEmpty()) continue;
        if (rmc ? f[2] != "A" : f[6] == "0") continue;
        auto degrees = [](const QByteArray& v, int degreeDigits, bool negative) {
            const double d = v.left(degreeDigits).toDouble() + v.mid(degreeDigits).toDouble() / 60.0;
            return negative ? -d : d;
        };
        fixes->push_back({degrees(f[latField], 2, f[latField + 1] == "S"),
                          degrees(f[latField + 2], 3, f[latField + 3] == "W")});
    }
    return lines;
}

// Sends lines to a local UDP port in datagrams of a few lines, as a multiplexer would.
void SendOverUdp(const std::vector<std::string>& lines, quint16 port) {
    QUdpSocket sender;
    std::string datagram;
    auto flush = [&]() {
        if (datagram.empty()) return;
        sender.writeDatagram(datagram.data(), qint64(datagram.size()), QHostAddress(QHostAddress::LocalHost), port);
        datagram.clear();
        WaitFor([]() { return false; }, 2);  // let the connection read it
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        datagram += lines[i] + "\r\n";
        if (i % 40 == 39) flush();
    }
    flush();
}

// Opens a UDP connection on a free local port, as choosing it in the menu does.
quint16 OpenUdp() {
    CUDPConnection::Setup(0);
    CDataConnection::onConnectionSelected(NV_HWND(), CDataConnection::CConnectionType::Find(CDataConnection::kUdp),
                                          [](bool) {});
    auto* udp = dynamic_cast<CUDPConnection*>(CDataConnection::theConnection);
    return udp ? quint16(udp->BoundPort()) : 0;
}

TEST(ConnectionChange, SimulationThenRealReceiversKeepTheBoatsDataSane) {
    conntest::SettingsGuard guard;
    const int savedUdpPort = CUDPConnection::settings.port;
    const std::string savedSim = CNMEASimulation::settings.filename;
    COverlayGPSPosition& gps = COverlayGPSPosition::theLatestPosition;
    CFeedRMC_to_GPSPosition::Start();
    gps.odo_total = 1000.0;  // what the boat has run before today
    QTemporaryDir store;

    // The demo sail in Lyme Bay, five minutes of it.
    ASSERT_TRUE(CNMEASimulation::Setup(NAVORA_SOURCE_DIR "/data/demo/demo_sail.nmea"));
    CDataConnection::settings.gps_connection_type = CDataConnection::kSimulation;
    CDataConnection::CreateConnection();
    auto* sim = dynamic_cast<CNMEASimulation*>(CDataConnection::theConnection);
    ASSERT_NE(sim, nullptr);
    for (int second = 0; second < 300; ++second) sim->PlayPeriod();
    EXPECT_EQ(gps.fix_status, FIX_SIMULATED);
    EXPECT_GT(gps.odo_total + gps.odo_leg, 1000.0 + 300.0) << "the simulation drives the odometer while it plays";
    EXPECT_GT(gps.avg_speed, 3.0f);
    ASSERT_TRUE(SaveLatestPosition(store.path().toStdString()));
    const double simulatedTotal = gps.odo_total;
    gps.odo_total = 0;
    ASSERT_TRUE(LoadLatestPosition(store.path().toStdString()));
    EXPECT_DOUBLE_EQ(gps.odo_total, 1000.0) << "a simulation's distance is never stored as the boat's";
    gps.odo_total = simulatedTotal;

    // A real chartplotter on the IJsselmeer, 600 km away, over UDP.
    std::vector<Fix> real;
    const std::vector<std::string> zeus = LogLines("bundg_zeus_9.log", "RMC", &real);
    ASSERT_GT(real.size(), 100u);
    const quint16 port = OpenUdp();
    ASSERT_NE(port, 0);
    EXPECT_EQ(gps.fix_status, FIX_NONE) << "the simulated fix ends with the simulation";
    EXPECT_DOUBLE_EQ(gps.odo_total, 1000.0);
    SendOverUdp(zeus, port);
    ASSERT_TRUE(WaitFor([&]() { return std::fabs(gps.lat - real.back().lat) < 1e-6; }));
    EXPECT_EQ(gps.fix_status, FIX_GPS);
    double path = 0;
    for (size_t i = 1; i < real.size(); ++i) path += Metres(real[i - 1], real[i]);
    // Legs are measured from one averaging fix to another, so a few metres at either end
    // may be missing; thousands of kilometres may not be there.
    EXPECT_NEAR(gps.odo_total + gps.odo_leg - 1000.0, path, 0.1 * path);
    EXPECT_NEAR(gps.avg_speed, 5.6, 0.4) << "averages from the real boat alone";
    EXPECT_NEAR(gps.avg_direction, 232.0, 8.0);

    // A GGA-only receiver after one that sent RMC still moves the boat.
    std::vector<Fix> hemi;
    const std::vector<std::string> gga = LogLines("hemi.log", "GGA", &hemi);
    ASSERT_FALSE(hemi.empty());
    const double beforeHemi = gps.odo_total + gps.odo_leg;
    CDataConnection::AppWasDestroyed();
    EXPECT_NEAR(gps.odo_total, beforeHemi, 1e-9) << "the last leg of a real source counts";
    SendOverUdp(gga, OpenUdp());
    ASSERT_TRUE(WaitFor([&]() { return std::fabs(gps.lat - hemi.back().lat) < 1e-6; }));
    EXPECT_NEAR(gps.lon, hemi.back().lon, 1e-6);

    CDataConnection::AppWasDestroyed();
    ASSERT_TRUE(SaveLatestPosition(store.path().toStdString()));
    gps.odo_total = 0;
    ASSERT_TRUE(LoadLatestPosition(store.path().toStdString()));
    EXPECT_NEAR(gps.odo_total, 1000.0 + path, 0.1 * path);

    CFeedRMC_to_GPSPosition::Stop();
    CUDPConnection::Setup(savedUdpPort);
    CNMEASimulation::Setup(savedSim);
    gps.odo_total = 0;
}

}  // namespace
