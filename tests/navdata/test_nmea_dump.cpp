// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <string>
#include <vector>

#include "navdata/nmea_dump.h"
#include "nmea_test_support.h"

namespace {

std::vector<std::string> DumpLines(const std::vector<std::string>& sentences) {
    std::vector<std::string> out;
    auto printers = CNMEADump::StartAll([&](const std::string& line) { out.push_back(line); });
    for (const std::string& s : sentences) {
        std::vector<char> buf(s.begin(), s.end());
        buf.push_back('\0');
        CNMEADump::Dispatch(buf.data());
    }
    return out;
}

TEST(NmeaDump, OneValidJsonObjectPerPublishedRecordInOrder) {
    const auto lines = DumpLines({
        "$INRMC,194101,A,4426.1130,N,07140.5596,W,5.2,77.3,160906,15.8,W*60",
        "$GPHDT,123.4,T*31",  // not parsed: no line
        Sentence("IIXDR,C,1,C,AIR\"TEMP\\"),
        "$INMTW,17.9,F*1E",  // rejected: no line
        "!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A",
        Sentence("PNVI,SetStartTimer,1700000000,2"),
    });
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0],
              "{\"type\": \"RMC\", \"talker\": \"IN\", \"valid\": true, \"lat\": 44.43521667, \"lon\": -71.67599333, "
              "\"time\": 1158435661, \"speed\": 5.2, \"course\": 77.3, \"variation\": 15.8}");
    for (const std::string& line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
        EXPECT_TRUE(doc.isObject()) << line;
    }
    const QJsonObject xdr = QJsonDocument::fromJson(QByteArray::fromStdString(lines[1])).object();
    EXPECT_EQ(xdr.value("name1").toString(), QStringLiteral("AIR\"TEMP\\"));
    const QJsonObject ais = QJsonDocument::fromJson(QByteArray::fromStdString(lines[2])).object();
    EXPECT_EQ(ais.value("type").toString(), QStringLiteral("VDM"));
    EXPECT_EQ(ais.value("mmsi").toInt(), 371798000);
    // Our own sentences have no talker.
    const QJsonObject timer = QJsonDocument::fromJson(QByteArray::fromStdString(lines[3])).object();
    EXPECT_EQ(timer.value("type").toString(), QStringLiteral("PNVI,SetStartTimer"));
    EXPECT_FALSE(timer.contains("talker"));
}

}  // namespace
