// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "navdata/nmea_records.h"
#include "navdata/nmea_sentence.h"
#include "nmea_test_support.h"

namespace {

const char* const kRmc = "$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A*59";

TEST(NmeaChecksum, AcceptsOnlyMatchingUpperCaseDigits) {
    EXPECT_TRUE(CNMEASentence::check_checksum(kRmc));
    EXPECT_FALSE(
        CNMEASentence::check_checksum("$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A*58"));
    // Without a checksum, or with the digits cut off, a line is never trusted.
    EXPECT_FALSE(CNMEASentence::check_checksum("$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A"));
    EXPECT_FALSE(CNMEASentence::check_checksum("$GPRMC,000231.42,A*"));
    EXPECT_FALSE(CNMEASentence::check_checksum("$GPRMC,000231.42,A*4"));
    EXPECT_FALSE(CNMEASentence::check_checksum(""));

    // Lower-case hex digits count as 0: a sum of 0x3A passes only as "3A"; a sum of
    // 0x30 happens to pass as "3a" too.
    EXPECT_TRUE(CNMEASentence::check_checksum("$GPXDR,A,5,C,T*3A"));
    EXPECT_FALSE(CNMEASentence::check_checksum("$GPXDR,A,5,C,T*3a"));
    EXPECT_TRUE(CNMEASentence::check_checksum("$GPXDR,A,168,C,T*30"));
    EXPECT_TRUE(CNMEASentence::check_checksum("$GPXDR,A,168,C,T*3a"));
}

TEST(NmeaChecksum, ComputeAppendsUpperCaseAndHandlesBareStart) {
    char buf[80] = "$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A";
    CNMEASentence::compute_checksum(buf);
    EXPECT_STREQ(buf, kRmc);
    char upper[32] = "$GPXDR,A,5,C,T";
    CNMEASentence::compute_checksum(upper);
    EXPECT_STREQ(upper, "$GPXDR,A,5,C,T*3A");
    char bare[8] = "$";
    CNMEASentence::compute_checksum(bare);
    EXPECT_STREQ(bare, "$*00");
}

TEST(NmeaSplit, EmptyAndMissingTrailingFieldsReadEmpty) {
    char text[] = "$GPXDR,A,,C*1F";
    char* f[6];
    CNMEASentence::SplitArgs(text, 6, f);
    EXPECT_STREQ(f[0], "$GPXDR");
    EXPECT_STREQ(f[1], "A");
    EXPECT_STREQ(f[2], "");
    EXPECT_STREQ(f[3], "C");
    // Neither the checksum nor anything past it leaks into fields.
    EXPECT_STREQ(f[4], "");
    EXPECT_STREQ(f[5], "");

    char trailing[] = "$GPAAA,1,";
    CNMEASentence::SplitArgs(trailing, 4, f);
    EXPECT_STREQ(f[1], "1");
    EXPECT_STREQ(f[2], "");
    EXPECT_STREQ(f[3], "");

    char commas[] = ",,,";
    CNMEASentence::SplitArgs(commas, 5, f);
    for (int i = 0; i < 5; ++i) EXPECT_STREQ(f[i], "") << i;

    // Copies into fixed fields always end inside them.
    char dst[6];
    std::memset(dst, 'x', sizeof dst);
    CNMEASentence::strncpy_to_TCHAR(dst, "ABCDEFGH", sizeof dst);
    EXPECT_STREQ(dst, "ABCDE");
}

TEST(NmeaPosition, LatitudeAndLongitudeShapes) {
    auto read = [](double (*get)(char**), const char* value, const char* hemi) {
        char v[32], h[4];
        std::strcpy(v, value);
        std::strcpy(h, hemi);
        char* f[2] = {v, h};
        return get(f);
    };
    auto lat = [&](const char* v, const char* h) { return read(&CNMEASentence::GetLat, v, h); };
    auto lon = [&](const char* v, const char* h) { return read(&CNMEASentence::GetLon, v, h); };
    EXPECT_NEAR(lat("5130.5000", "N"), 51.508333333, 1e-9);
    EXPECT_NEAR(lat("5130.5", "S"), -51.508333333, 1e-9);
    EXPECT_EQ(lat("513.05", "N"), 0.0);  // dot in the wrong place
    EXPECT_EQ(lat("", "N"), 0.0);
    EXPECT_EQ(lat("51", "N"), 0.0);  // shorter than the dot position
    EXPECT_NEAR(lat("4134.49821229", "N"), 41.574970205, 1e-9);  // many decimals in the minutes
    EXPECT_NEAR(lon("17959.9999", "W"), -179.999998333, 1e-9);
    EXPECT_EQ(lon("0022.0016", "E"), 0.0);  // a latitude-shaped longitude
}

TEST(NmeaTime, TimeOfDayAndDatesAcrossCenturiesWithCache) {
    EXPECT_EQ(CNMEASentence::GetUTC(""), 0.0);
    EXPECT_NEAR(CNMEASentence::GetUTC("000231.42"), 151.42, 1e-9);
    EXPECT_NEAR(CNMEASentence::GetUTC("235959"), 86399.0, 1e-9);
    EXPECT_NEAR(CNMEASentence::GetUTC("12"), 43200.0, 1e-9);  // truncated field: no overrun

    EXPECT_EQ(CNMEASentence::GetDate("010203"), 1044057600.0);  // 1 Feb 2003
    EXPECT_EQ(CNMEASentence::GetDate("311299"), 4102358400.0);  // 31 Dec 2099
    EXPECT_EQ(CNMEASentence::GetDate("0101100"), 946684800.0);  // years counted from 1900
    EXPECT_EQ(CNMEASentence::GetDate("31121999"), 946598400.0);
    // A receiver past a week rollover sends year -1: it reads as 1999.
    EXPECT_EQ(CNMEASentence::GetDate("2208-1"), 935280000.0);
    EXPECT_EQ(CNMEASentence::GetDate(""), 0.0);
    // The cache answers a repeated date, and a different date afterwards is fresh.
    EXPECT_EQ(CNMEASentence::GetDate("220899"), CNMEASentence::GetDate("220899"));
    EXPECT_EQ(CNMEASentence::GetDate("220899") - CNMEASentence::GetDate("210899"), 86400.0);
    EXPECT_EQ(CNMEASentence::GetDate("010203"), 1044057600.0);
    // Impossible dates read as no date, never as a neighbouring day.
    EXPECT_EQ(CNMEASentence::GetDate("321399"), 0.0);
    EXPECT_EQ(CNMEASentence::GetDate("99999999999999999999"), 0.0);
}

TEST(NmeaDispatch, ChecksAndSkipsLeadingGarbage) {
    Catch<CNMEA_GPS::RMC> rmc;
    EXPECT_TRUE(Feed(std::string("\x01garbage ") + kRmc));
    EXPECT_EQ(rmc.count, 1);
    EXPECT_FALSE(Feed("no start character"));
    EXPECT_FALSE(Feed("$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A"));
    EXPECT_FALSE(Feed("$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A*5A"));
    EXPECT_FALSE(Feed(""));
    EXPECT_EQ(rmc.count, 1);
}

TEST(NmeaDispatch, PoolsReuseRecordsAndKeepThemAcrossSentences) {
    std::vector<CNMEA_GPS::VTG*> seen;
    Catch<CNMEA_GPS::VTG> vtg([&](CNMEA_GPS::VTG& r) { seen.push_back(&r); });
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(Feed(Sentence("GPVTG,77.5,T,93.3,M,5.2,N,9.7,K")));
    ASSERT_EQ(seen.size(), 5u);
    for (auto* r : seen) EXPECT_EQ(r, seen[0]);

    // A listener that dispatches another sentence of the same type while the first
    // record is in use gets a second record; the first is not overwritten under it.
    int depth = 0;
    float outer = 0;
    Catch<CNMEA_GPS::VTG> nested([&](CNMEA_GPS::VTG& r) {
        if (depth++ == 0) {
            Feed(Sentence("GPVTG,10.0,T,,M,1.0,N,,K"));
            outer = r.course;
        }
    });
    ASSERT_TRUE(Feed(Sentence("GPVTG,200.0,T,,M,2.0,N,,K")));
    EXPECT_FLOAT_EQ(outer, 200.0f);
}

TEST(NmeaDispatch, UnlistenedTypesAreForwardedRawButNotParsed) {
    std::vector<std::string> raw;
    Catch<CNMEA_Raw> rawListener([&](CNMEA_Raw& r) { raw.emplace_back(r.text); });
    const std::string hdt = Sentence("HEHDT,123.4,T");
    // Nobody listens to RMC here: the line still reaches the outputs, with its line end.
    EXPECT_TRUE(Feed(kRmc, FakeConnection()));
    EXPECT_TRUE(Feed(hdt, FakeConnection()));
    ASSERT_EQ(raw.size(), 2u);
    EXPECT_EQ(raw[0], std::string(kRmc) + "\r\n");
    EXPECT_EQ(raw[1], hdt + "\r\n");

    // A record whose content is rejected is not published, yet its text goes out.
    Catch<CNMEA_Instruments::MTW> mtw;
    EXPECT_TRUE(Feed(Sentence("INMTW,17.9,F"), FakeConnection()));
    EXPECT_EQ(mtw.count, 0);
    EXPECT_EQ(raw.size(), 3u);
    // Without a source connection nothing is forwarded, and the result is the parse.
    EXPECT_FALSE(Feed(Sentence("INMTW,17.9,F")));
    EXPECT_TRUE(Feed(Sentence("INMTW,17.9,C")));
    EXPECT_EQ(raw.size(), 3u);
    EXPECT_EQ(mtw.count, 1);
    // Nobody listens to HDT at all and there is no connection: nothing happened.
    EXPECT_FALSE(Feed(hdt));

    // A line too long for the raw buffer still parses, but is not forwarded.
    const std::string longLine = Sentence("INMTW,17.9,C," + std::string(200, '0'));
    EXPECT_TRUE(Feed(longLine, FakeConnection()));
    EXPECT_EQ(mtw.count, 2);
    EXPECT_EQ(raw.size(), 3u);
}

TEST(NmeaDispatch, TypesMatchAfterTheTalkerOrRightAfterTheStart) {
    Catch<NMEA_PNVI::SetStartLine> line;
    Catch<NMEA_PNVI::AcknowledgeNotifications> ack;
    Catch<CNMEA_GPS::GGA> gga;
    EXPECT_TRUE(Feed(Sentence("PNVI,SetStartLine,1,2,3,4")));
    EXPECT_TRUE(Feed(Sentence("PNVI,ACKALLALERTS")));
    EXPECT_EQ(line.count, 1);
    EXPECT_EQ(ack.count, 1);
    // Any talker, but the pattern must be at its place; short lines are harmless.
    EXPECT_TRUE(Feed(Sentence("XXGGA,1")));
    EXPECT_FALSE(Feed(Sentence("GGA,1")));
    EXPECT_FALSE(Feed(Sentence("G")));
    EXPECT_FALSE(Feed(Sentence("")));
    EXPECT_EQ(gga.count, 1);
    EXPECT_EQ(CNMEASentenceType::FindType("$GPGSV,1"), CNMEASentenceType::FindType("$GLGSV,"));
    EXPECT_EQ(CNMEASentenceType::FindType("$GPHDT,1"), nullptr);
    ASSERT_NE(CNMEASentenceType::FindType("$PNVI,SetStartTimer,1,1"), nullptr);
    EXPECT_STREQ(CNMEASentenceType::FindType("$PNVI,SetStartTimer,1,1")->Pattern(), "PNVI,SetStartTimer");
}

TEST(NmeaRaw, GeneratedSentencesGetChecksumAndLineEnd) {
    std::vector<std::string> raw;
    Catch<CNMEA_Raw> rawListener([&](CNMEA_Raw& r) {
        raw.emplace_back(r.text);
        EXPECT_EQ(r.source, nullptr);
    });
    CNMEA_Raw out;
    std::strcpy(out.text, "$GPRMC,000231.42,A,4829.0005,N,00022.0016,E,0.16,212.28,220899,,,A");
    EXPECT_TRUE(out.AddChecksumAndDispatch());
    ASSERT_EQ(raw.size(), 1u);
    EXPECT_EQ(raw[0], std::string(kRmc) + "\r\n");

    // 194 characters fit exactly; 195 are dropped.
    CNMEA_Raw fits;
    std::string text = "$" + std::string(193, 'A');
    std::strcpy(fits.text, text.c_str());
    EXPECT_TRUE(fits.AddChecksumAndDispatch());
    EXPECT_EQ(raw.back().size(), 199u);
    CNMEA_Raw tooLong;
    text += "A";
    std::strcpy(tooLong.text, text.c_str());
    EXPECT_FALSE(tooLong.AddChecksumAndDispatch());
    EXPECT_EQ(raw.size(), 2u);

    CNMEA_Raw received;
    EXPECT_TRUE(received.Init(kRmc));
    EXPECT_TRUE(received.Matches(3, "RMC"));
    EXPECT_TRUE(received.Matches(1, "GPRMC"));
    EXPECT_FALSE(received.Matches(3, "GGA"));
    EXPECT_FALSE(received.Matches(190, "RMC"));
    EXPECT_FALSE(received.Init(std::string(198, 'A').c_str()));
    EXPECT_STREQ(received.text, "");
    EXPECT_TRUE(received.Init(std::string(197, 'A').c_str()));
}

TEST(NmeaFilter, RulesParseAndTheLastDisagreeingMatchDecides) {
    CNMEA_rule rule;
    rule.init("  Allow GPRMC");
    EXPECT_TRUE(rule.verdict);
    EXPECT_STREQ(rule.pattern, "GPRMC");
    rule.init("deny GPGSVXYZ*12");
    EXPECT_FALSE(rule.verdict);
    EXPECT_STREQ(rule.pattern, "GPGSVX");  // at most 6 characters
    rule.init("allow GP*");
    EXPECT_STREQ(rule.pattern, "GP");
    rule.init("");
    EXPECT_FALSE(rule.verdict);
    EXPECT_STREQ(rule.pattern, "");
    rule.init("A");
    EXPECT_TRUE(rule.verdict);
    EXPECT_STREQ(rule.pattern, "");

    CNMEA_filter filter;
    auto verdict = [&](const char* text) {
        bool v = false;
        filter.apply(text, v);
        return v;
    };
    EXPECT_FALSE(verdict("$GPRMC,1"));  // no rules: nothing is written
    filter.add("Allow GP");
    filter.add("Deny GPGSV");
    EXPECT_TRUE(verdict("$GPRMC,1"));
    EXPECT_FALSE(verdict("$GPGSV,1"));
    EXPECT_FALSE(verdict("$IIMWV,1"));
    filter.add("Allow ??MWV");
    filter.add("Allow AIVD");
    EXPECT_TRUE(verdict("$IIMWV,1"));
    EXPECT_TRUE(verdict("!AIVDM,1"));  // the pattern starts after the first character
    EXPECT_TRUE(verdict("!AIVD"));     // a text exactly as long as the pattern matches
    EXPECT_FALSE(verdict("!AIV"));     // a shorter one never does, not even for "?"

    CNMEA_filter any;
    any.add("Allow ??????");
    bool v = false;
    any.apply("$GPRMC", v);
    EXPECT_FALSE(v);
    any.apply("$GPRMC,", v);
    EXPECT_TRUE(v);
    CNMEA_filter all;
    all.add("Allow");
    v = false;
    all.apply("", v);
    EXPECT_TRUE(v);  // an empty pattern matches every sentence
}

}  // namespace
