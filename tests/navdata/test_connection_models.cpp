// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "navdata/connection_models.h"
#include "navdata/dataconnection_net.h"
#include "navdata/dataconnection_serial.h"
#include "navdata/network_name.h"
#include "test_connection_support.h"

namespace {

TEST(ConnectionModels, SetupPagesRefuseUnusableValuesAndStoreGoodOnes) {
    conntest::SettingsGuard guard;
    const auto savedTcp = CTCPIPConnection::settings.ip_address;
    const int savedTcpPort = CTCPIPConnection::settings.port;
    const int savedUdp = CUDPConnection::settings.port;
    const auto savedDevice = CSerialConnection::settings.device;
    const int savedBaud = CSerialConnection::settings.baud;
    setNetworkNameProviderForTesting([]() { return std::string("Marina"); });

    CDlg_tcp_setup tcp;
    EXPECT_EQ(tcp.currentNetwork(), "Marina");
    tcp.setProperty("address", QStringLiteral("10.0.0.5"));
    tcp.setProperty("port", 70000);
    EXPECT_FALSE(tcp.apply());
    EXPECT_FALSE(tcp.error().isEmpty());
    tcp.setProperty("port", 10110);
    tcp.setProperty("onlyOnThisNetwork", true);
    ASSERT_TRUE(tcp.apply());
    EXPECT_EQ(CTCPIPConnection::settings.ip_address, "10.0.0.5");
    EXPECT_EQ(CTCPIPConnection::settings.port, 10110);
    EXPECT_EQ(CTCPIPConnection::settings.network, "Marina");

    CDlg_udp_setup udp;
    udp.setProperty("port", 0);
    EXPECT_FALSE(udp.apply());
    udp.setProperty("port", 10110);
    ASSERT_TRUE(udp.apply());
    EXPECT_EQ(CUDPConnection::settings.port, 10110);
    EXPECT_TRUE(CUDPConnection::settings.network.empty());

    // Unknown network: the restriction cannot be honoured, so it is refused.
    setNetworkNameProviderForTesting([]() { return std::string(); });
    CDlg_udp_setup offline;
    offline.setProperty("onlyOnThisNetwork", true);
    EXPECT_FALSE(offline.apply());

    CDlg_serial_setup serial;
    EXPECT_EQ(serial.baudRates().size(), 7);
    serial.setDevice(QStringLiteral("/dev/nonexistent-nv"));
    serial.setBaud(1234);
    EXPECT_FALSE(serial.apply()) << "a rate the dialog does not offer";
    serial.setBaud(38400);
    EXPECT_TRUE(serial.apply());
    EXPECT_EQ(CSerialConnection::settings.baud, 38400);
    EXPECT_NE(serial.problem().indexOf(QStringLiteral("does not exist")), -1);

    CDlg_output_rules rules;
    rules.setProperty("text", QStringLiteral("  Allow ECRMB \n\n Deny GPGSV\n"));
    rules.apply();
    EXPECT_EQ(CDataConnection::settings.output_filters, (std::vector<std::string>{"Allow ECRMB", "Deny GPGSV"}));

    setNetworkNameProviderForTesting(nullptr);
    CTCPIPConnection::Setup(savedTcp, savedTcpPort, false);
    CUDPConnection::Setup(savedUdp);
    CSerialConnection::Setup(savedDevice, savedBaud);
}

}  // namespace
