// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "navdata/feed_autopilot.h"
#include "nmea_test_support.h"

namespace {

CDataGotoMark Goto(uint64_t id, const char* name) {
    CDataGotoMark g;
    g.target_id = id;
    g.name = name;
    g.latitude = 50.5;
    g.longitude = -1.25;
    g.range = 2 * 1852.0;
    g.bearing = 36.87;
    g.cross_track_error = -185.2;
    g.unit_x = 0.6;
    g.unit_y = 0.8;
    return g;
}

struct RawLog : Catch<CNMEA_Raw> {
    RawLog() : Catch<CNMEA_Raw>([this](CNMEA_Raw& r) { lines.emplace_back(r.text); }) {}
    std::vector<std::string> lines;
};

TEST(NmeaFeeds, AutopilotSentenceFromPublishedGotoValues) {
    CDataGPSPosition position;
    position.fix_status = FIX_GPS;
    position.speed = 6;
    position.course_vec.x = 0;
    position.course_vec.y = 1;
    CFeed_AutopilotRMB::SetPosition(&position);

    RawLog raw;
    CDataGotoMark g = Goto(1, "Buoy #12-North");
    Listener<CDataGotoMark>::Publish(g);
    ASSERT_EQ(raw.lines.size(), 1u);
    EXPECT_EQ(raw.lines[0], "$ECRMB,A,0.10000,L,X,BUOY12,50.5000000,N,1.2500000,W,2.00000,36.9,4.80,V,A*37\r\n");
    EXPECT_TRUE(CNMEASentence::check_checksum(raw.lines[0].c_str()));

    // Same target: no arrival. Another mark: arrival once, new name.
    Listener<CDataGotoMark>::Publish(g);
    CDataGotoMark next = Goto(2, "wp 7");
    next.cross_track_error = 0;
    Listener<CDataGotoMark>::Publish(next);
    Listener<CDataGotoMark>::Publish(next);
    ASSERT_EQ(raw.lines.size(), 4u);
    EXPECT_NE(raw.lines[1].find(",V,A*"), std::string::npos) << raw.lines[1];
    EXPECT_NE(raw.lines[2].find("$ECRMB,A,0.00000,R,X,WP7,"), std::string::npos) << raw.lines[2];
    EXPECT_NE(raw.lines[2].find(",A,A*"), std::string::npos) << raw.lines[2];
    EXPECT_NE(raw.lines[3].find(",V,A*"), std::string::npos) << raw.lines[3];

    // No target: nothing written, and the next target is a fresh start, not a leg change.
    CDataGotoMark none;
    Listener<CDataGotoMark>::Publish(none);
    EXPECT_EQ(raw.lines.size(), 4u);
    CDataGotoMark third = Goto(3, "");
    third.latitude = -10;
    third.longitude = 170;
    position.fix_status = FIX_NONE;
    Listener<CDataGotoMark>::Publish(third);
    ASSERT_EQ(raw.lines.size(), 5u);
    EXPECT_NE(raw.lines[4].find(",X,,10.0000000,S,170.0000000,E,"), std::string::npos) << raw.lines[4];
    EXPECT_NE(raw.lines[4].find(",0.00,V,A*"), std::string::npos) << raw.lines[4];  // no fix: no closing speed
    CFeed_AutopilotRMB::SetPosition(nullptr);
}

TEST(NmeaFeeds, AutopilotForgetsTheTargetWhileNobodyListensToOutputs) {
    {
        RawLog raw;
        CDataGotoMark a = Goto(11, "A");
        Listener<CDataGotoMark>::Publish(a);
        EXPECT_EQ(raw.lines.size(), 1u);
    }
    CDataGotoMark b = Goto(12, "B");
    Listener<CDataGotoMark>::Publish(b);  // not written: no outputs
    RawLog raw;
    Listener<CDataGotoMark>::Publish(b);
    ASSERT_EQ(raw.lines.size(), 1u);
    EXPECT_NE(raw.lines[0].find(",V,A*"), std::string::npos) << raw.lines[0];
}

TEST(NmeaFeeds, DestinationIdentifier) {
    EXPECT_EQ(CFeed_AutopilotRMB::DestinationId("Buoy #12-North"), "BUOY12");
    EXPECT_EQ(CFeed_AutopilotRMB::DestinationId("  a.b "), "AB");
    EXPECT_EQ(CFeed_AutopilotRMB::DestinationId("Øresund 3"), "RESUND");
    EXPECT_EQ(CFeed_AutopilotRMB::DestinationId(""), "");
}

TEST(NmeaFeeds, StartLineAndTimerAreSharedWithoutEcho) {
    RawLog raw;
    std::vector<CDataStartLine> lines;
    std::vector<CDataStartTimer> timers;
    Catch<CDataStartLine> lineListener([&](CDataStartLine& l) { lines.push_back(l); });
    Catch<CDataStartTimer> timerListener([&](CDataStartTimer& t) { timers.push_back(t); });

    CDataStartLine local{50.1, -1.2, 50.101, -1.199};
    Listener<CDataStartLine>::Publish(local);
    CDataStartTimer timer{1700000000.4, 1};
    Listener<CDataStartTimer>::Publish(timer);
    ASSERT_EQ(raw.lines.size(), 2u);
    EXPECT_EQ(raw.lines[0], "$PNVI,SetStartLine,50.100000,-1.200000,50.101000,-1.199000*03\r\n");
    EXPECT_EQ(raw.lines[1], "$PNVI,SetStartTimer,1700000000,1*5F\r\n");

    // A line with an unset end is not sent.
    CDataStartLine unset{0, -1.2, 50.101, -1.199};
    Listener<CDataStartLine>::Publish(unset);
    EXPECT_EQ(raw.lines.size(), 2u);

    // What another boat sends is applied locally and not sent back.
    lines.clear();
    timers.clear();
    EXPECT_TRUE(Feed("$PNVI,SetStartLine,50.100000,-1.200000,50.101000,-1.199000*03"));
    EXPECT_TRUE(Feed("$PNVI,SetStartTimer,1700000000,1*5F"));
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(timers.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].right_longitude, -1.199);
    EXPECT_DOUBLE_EQ(timers[0].start_time, 1700000000.0);
    EXPECT_EQ(timers[0].state, 1);
    EXPECT_EQ(raw.lines.size(), 2u);
    EXPECT_FALSE(Feed_StartInfo::Instance().IsApplyingReceived());

    // Round trip: what is written parses back to the same values.
    lines.clear();
    std::string sent = raw.lines[0].substr(0, raw.lines[0].size() - 2);
    EXPECT_TRUE(Feed(sent));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_DOUBLE_EQ(lines[0].left_latitude, 50.1);
}

}  // namespace
