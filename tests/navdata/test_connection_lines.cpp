// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>

#include <string>
#include <vector>

#include "navdata/dataconnection.h"
#include "test_connection_support.h"

namespace {

// Chunks as a socket or port would deliver them in one read event; remembers what a
// burst made it throw away.
class Chunks : public CDataConnection::ByteSource {
public:
    Chunks(std::vector<std::string> chunks, bool discards = true) : m_chunks(std::move(chunks)), m_discards(discards) {}
    long long Read(char* buffer, long long size) override {
        if (m_next == m_chunks.size()) return -1;
        const std::string& c = m_chunks[m_next++];
        EXPECT_LE(static_cast<long long>(c.size()), size);
        std::copy(c.begin(), c.end(), buffer);
        return static_cast<long long>(c.size());
    }
    bool DiscardRest() override {
        if (!m_discards) return false;
        const bool any = m_next < m_chunks.size();
        m_next = m_chunks.size();
        return any;
    }

private:
    std::vector<std::string> m_chunks;
    size_t m_next = 0;
    bool m_discards;
};

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
    // One read event over these chunks.
    void Event(std::vector<std::string> chunks, int limit = kNetworkLineLimit, bool countAccepted = false,
               bool discards = true) {
        Chunks source(std::move(chunks), discards);
        ReadEvent(source, limit, countAccepted);
    }

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
    sink.Event({fits + "\n"});
    ASSERT_EQ(sink.lines, std::vector<std::string>{fits});

    // 200 characters: the 200th does not fit and reading stops there; the rest of the
    // chunk waits for the next event, which reads it before anything new.
    sink.Event({std::string(200, 'b') + "\r\n$NEXT\r\n", "$LATER\n"});
    EXPECT_EQ(sink.lines.size(), 1u);
    sink.Event({"$NEW\n"});
    EXPECT_EQ(sink.lines, (std::vector<std::string>{fits, "", "$NEXT", "$NEW"}));
    CDataConnection::stopDebug();

    const std::string log = ReadAll(CDataConnection::DebugLogPath());
    EXPECT_NE(log.find(fits + "\n"), std::string::npos);
    EXPECT_NE(log.find("Error: Data not NMEA format.\n"), std::string::npos);
    EXPECT_NE(log.find("$NEXT\n"), std::string::npos);
}

TEST(ConnectionLines, CarriageReturnsAreNeverStoredAndLinesSpanReads) {
    LineSink sink;
    sink.Event({"$A,1\r\n$B,2\n$C,\r3\r", "\r\n$D,"});  // a line split across two reads
    sink.Event({"4\n"});                             // and across two events
    EXPECT_EQ(sink.lines, (std::vector<std::string>{"$A,1", "$B,2", "$C,3", "$D,4"}));
    // CRs do not count towards the 199 characters.
    sink.lines.clear();
    std::string crHeavy;
    for (int i = 0; i < 199; ++i) crHeavy += "x\r";
    sink.Event({crHeavy + "\n"});
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0].size(), 199u);
}

TEST(ConnectionLines, BurstsAreCutAtTheLineLimitOfOneEvent) {
    std::string burst;
    for (int i = 0; i < 250; ++i) burst += "$L" + std::to_string(i) + "\r\n";
    const std::string half = burst.substr(0, burst.size() / 2), rest = burst.substr(burst.size() / 2);

    // Network: 200 lines, counted across the reads of one event; the rest is dropped.
    LineSink net;
    net.Event({half, rest, "$DROPPED\n"});
    ASSERT_EQ(net.lines.size(), 200u);
    EXPECT_EQ(net.lines.back(), "$L199");
    net.Event({"$NEXT\n"});
    EXPECT_EQ(net.lines.back(), "$NEXT") << "a new event starts a new count";

    // Serial counts only accepted lines, and drops only the rest of the chunk it was in.
    LineSink serial;
    serial.accept = false;
    serial.Event({burst}, CDataConnection::kSerialLineLimit, true, false);
    EXPECT_EQ(serial.lines.size(), 250u) << "rejected garbage does not use the budget up";
    serial.accept = true;
    serial.lines.clear();
    serial.Event({burst, "$KEPT\n"}, CDataConnection::kSerialLineLimit, true, false);
    ASSERT_EQ(serial.lines.size(), 100u);
    serial.Event({"$NEXT\n"}, CDataConnection::kSerialLineLimit, true, false);
    EXPECT_EQ(serial.lines.back(), "$NEXT");
}

TEST(ConnectionOutput, FilterDecidesAndReceivedSentencesAreNeverEchoed) {
    LineSink a;
    LineSink b;
    CNMEA_Raw raw;
    std::snprintf(raw.text, sizeof raw.text, "%s\r\n", Sentence("GPRMC,1").c_str());

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
    std::snprintf(raw.text, sizeof raw.text, "%s\r\n", Sentence("GPGSV,1").c_str());
    Listener<CNMEA_Raw>::Publish(raw);
    EXPECT_EQ(a.written.size(), 1u);
    EXPECT_EQ(b.written.size(), 3u);
}

}  // namespace
