// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>

#include <string>
#include <vector>

#include "navdata/dataconnection.h"
#include "test_connection_support.h"

namespace {

// A connection that records the lines it assembles instead of parsing them.
class LineSink : public CDataConnection {
public:
    bool Open() override {
        notOpen = false;
        return true;
    }
    bool DispatchLine(char* line) override {
        lines.emplace_back(line);
        return accept;
    }
    bool Output(const char* text) override {
        written.emplace_back(text);
        return true;
    }
    Assembly Feed(const std::string& data, int limit = 0, bool countAccepted = false, int linesSoFar = 0) {
        return AssembleLines(data.data(), data.size(), linesSoFar, limit, countAccepted);
    }
    using CDataConnection::Stop;

    bool accept = true;
    std::vector<std::string> lines;
    std::vector<std::string> written;
};

std::string ReadAll(const std::string& path) {
    QFile f(QString::fromStdString(path));
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll().toStdString();
}

TEST(ConnectionLines, LongestLineFitsAndOneMoreIsDroppedWithoutLosingTheNext) {
    LineSink sink;
    CDataConnection::startDebug();
    const std::string fits(199, 'a');
    auto r = sink.Feed(fits + "\n");
    EXPECT_EQ(r.stop, LineSink::Stop::kNone);
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0], fits);

    // 200 characters: the 200th does not fit; reading stops right after it, so the
    // caller keeps the rest for the next read event.
    const std::string input = std::string(200, 'b') + "\r\n$NEXT\r\n";
    r = sink.Feed(input);
    EXPECT_EQ(r.stop, LineSink::Stop::kOverflow);
    EXPECT_EQ(r.consumed, 200u);
    EXPECT_EQ(sink.lines.size(), 1u);
    // The next event delivers the rest: only an empty remainder line, then the next line.
    r = sink.Feed(input.substr(r.consumed));
    EXPECT_EQ(r.stop, LineSink::Stop::kNone);
    ASSERT_EQ(sink.lines.size(), 3u);
    EXPECT_EQ(sink.lines[1], "");
    EXPECT_EQ(sink.lines[2], "$NEXT");
    CDataConnection::stopDebug();

    const std::string log = ReadAll(CDataConnection::DebugLogPath());
    EXPECT_NE(log.find(fits + "\n"), std::string::npos);
    EXPECT_NE(log.find("Error: Data not NMEA format.\n"), std::string::npos);
    EXPECT_NE(log.find("$NEXT\n"), std::string::npos);
}

TEST(ConnectionLines, CarriageReturnsAreNeverStoredAndLinesSpanReads) {
    LineSink sink;
    sink.Feed("$A,1\r\n$B,2\n$C,\r3\r");
    sink.Feed("\r\n$D,");  // a line split across two reads
    sink.Feed("4\n");
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"$A,1", "$B,2", "$C,3", "$D,4"}));
    // CRs do not count towards the 199 characters.
    sink.lines.clear();
    std::string crHeavy;
    for (int i = 0; i < 199; ++i) crHeavy += "x\r";
    auto r = sink.Feed(crHeavy + "\n");
    EXPECT_EQ(r.stop, LineSink::Stop::kNone);
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].size(), 199u);
}

TEST(ConnectionLines, LineLimitStopsAfterTheLimitAndCountsAcrossReads) {
    LineSink sink;
    std::string burst;
    for (int i = 0; i < 250; ++i) burst += "$L" + std::to_string(i) + "\r\n";
    auto r = sink.Feed(burst, CDataConnection::kNetworkLineLimit);
    EXPECT_EQ(r.stop, LineSink::Stop::kLineLimit);
    EXPECT_EQ(r.lines, 200);
    ASSERT_EQ(sink.lines.size(), 200u);
    EXPECT_EQ(sink.lines.back(), "$L199");
    EXPECT_LT(r.consumed, burst.size());

    // A second read in the same event carries the count on.
    sink.lines.clear();
    r = sink.Feed("$X\n$Y\n$Z\n", 200, false, 198);
    EXPECT_EQ(r.stop, LineSink::Stop::kLineLimit);
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"$X", "$Y"}));

    // Serial counts only accepted lines: rejected garbage does not use the budget up.
    sink.lines.clear();
    sink.accept = false;
    r = sink.Feed(burst, CDataConnection::kSerialLineLimit, true);
    EXPECT_EQ(r.stop, LineSink::Stop::kNone);
    EXPECT_EQ(sink.lines.size(), 250u);
    sink.accept = true;
    sink.lines.clear();
    r = sink.Feed(burst, CDataConnection::kSerialLineLimit, true);
    EXPECT_EQ(r.stop, LineSink::Stop::kLineLimit);
    EXPECT_EQ(sink.lines.size(), 100u);
}

TEST(ConnectionOutput, FilterDecidesAndReceivedSentencesAreNeverEchoed) {
    LineSink a;
    LineSink b;
    CNMEA_Raw raw;
    std::snprintf(raw.text, sizeof raw.text, "%s\r\n", conntest::Sentence("GPRMC,1").c_str());

    // No rules: nothing is written, whoever sent it.
    Listener<CNMEA_Raw>::Publish(raw);
    EXPECT_TRUE(a.written.empty());

    a.OutputFilter().add("Allow GP");
    a.OutputFilter().add("Deny GPGSV");
    b.OutputFilter().add("Allow");
    raw.source = &a;
    Listener<CNMEA_Raw>::Publish(raw);
    EXPECT_TRUE(a.written.empty()) << "echoed back to its own connection";
    ASSERT_EQ(b.written.size(), 1u);
    EXPECT_EQ(b.written[0], raw.text);

    raw.source = nullptr;  // generated here
    Listener<CNMEA_Raw>::Publish(raw);
    ASSERT_EQ(a.written.size(), 1u);
    std::snprintf(raw.text, sizeof raw.text, "%s\r\n", conntest::Sentence("GPGSV,1").c_str());
    Listener<CNMEA_Raw>::Publish(raw);
    EXPECT_EQ(a.written.size(), 1u);
    EXPECT_EQ(b.written.size(), 3u);
}

}  // namespace
