// SPDX-License-Identifier: GPL-3.0-or-later
// The parsed records, checked through their field list: each case is a sentence and
// every field it must publish (nothing more), or nothing at all when it is refused.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "navdata/nmea_dump.h"
#include "navdata/nmea_records.h"
#include "nmea_test_support.h"

namespace {

struct Got {
    std::string name;
    CNMEAField::Kind kind;
    double number;
    std::string text;
};

// Everything one dispatched line published, through the records' field lists.
class Published : CNMEAFieldVisitor {
public:
    explicit Published(const std::string& line) {
        std::vector<std::unique_ptr<CNMEASentenceType::Subscription>> all;
        for (CNMEASentenceType* t = CNMEASentenceType::First(); t; t = t->Next())
            all.push_back(t->Subscribe([this](CNMEASentence& r) {
                ++records;
                r.Fields(*this);
            }));
        Feed(line);
    }
    int records = 0;
    std::vector<Got> fields;

private:
    void Field(const char* name, const CNMEAField& v) override {
        std::string text;
        if (v.kind == CNMEAField::kText) text = v.Text();
        for (int i = 0; v.kind == CNMEAField::kIdList && i < v.count; ++i) {
            if (!v.ids[i]) continue;
            text += (text.empty() ? "" : " ") + std::to_string(v.ids[i]);
        }
        fields.push_back({name, v.kind, v.number, text});
    }
};

// `expected` is "name=value;..." in list order. Doubles must agree to 1e-8, floats to
// their precision, integers and texts exactly.
void Expect(const std::string& body, const std::string& expected, char start = '$') {
    SCOPED_TRACE(body);
    const Published p(Sentence(body, start));
    if (expected.empty()) {
        EXPECT_EQ(p.records, 0);
        return;
    }
    ASSERT_EQ(p.records, 1);
    size_t i = 0, from = 0;
    while (from < expected.size()) {
        size_t end = expected.find(';', from);
        if (end == std::string::npos) end = expected.size();
        const std::string item = expected.substr(from, end - from);
        from = end + 1;
        const size_t eq = item.find('=');
        ASSERT_LT(i, p.fields.size()) << "missing " << item;
        const Got& g = p.fields[i++];
        EXPECT_EQ(g.name, item.substr(0, eq));
        const std::string want = item.substr(eq + 1);
        if (g.kind == CNMEAField::kText || g.kind == CNMEAField::kIdList) {
            EXPECT_EQ(g.text, want) << g.name;
        } else {
            const double w = std::strtod(want.c_str(), nullptr);
            const double tolerance =
                g.kind == CNMEAField::kFloat ? 1e-6 * std::max(1.0, std::fabs(w)) : std::max(1e-8, 1e-15 * std::fabs(w));
            EXPECT_NEAR(g.number, w, tolerance) << g.name;
        }
    }
    EXPECT_EQ(i, p.fields.size()) << "more fields than expected";
}

TEST(NmeaRecords, GpsSentences) {
    // Two-digit years are this century (2094-03-23 12:35:19.5); east variation is negative.
    Expect("GNRMC,123519.5,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,E,",
           "valid=1;lat=-48.1173;lon=-11.516666667;time=3920186119.5;speed=22.4;course=84.4;variation=-3.1");
    // Status V is rescued only by a mode indicator that says the fix is usable.
    Expect("GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A",
           "valid=1;lat=48.1173;lon=11.516666667;time=3920186119;speed=22.4;course=84.4;variation=3.1");
    Expect("GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,N",
           "valid=0;lat=48.1173;lon=11.516666667;time=3920186119;speed=22.4;course=84.4;variation=3.1");
    // An empty receiver still publishes (invalid) rather than being dropped.
    Expect("GPRMC,,V,,,,,,,,,,N", "valid=0;lat=0;lon=0;time=0;speed=0;course=0;variation=0");
    Expect("GLGGA,194104,4426.1138,N,07140.5536,W,2,10,0.9,267.9,M,,,,",
           "quality=2;lat=44.43523;lon=-71.675893333;altitude=267.9;hdop=0.9;satellites=10");
    Expect("INVTG,77.5,T,93.3,M,5.2,N,9.7,K", "course=77.5;speed=5.2");  // knots, not km/h
    Expect("GNGSA,A,2,19,27,,,,,,,,,,,02.1,01.8,00.9",
           "mode=A;fix=2;satellites=19 27;pdop=2.1;hdop=1.8;vdop=0.9");
    Expect("GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,08,03,359,",
           "messages=3;number=1;in_view=11;prn1=3;el1=3;az1=111;snr1=0;prn2=4;el2=15;az2=270;snr2=0;"
           "prn3=6;el3=1;az3=10;snr3=0;prn4=8;el4=3;az4=359;snr4=0");
    // A last message with fewer satellites lists only those.
    Expect("GPGSV,3,3,11,22,42,067,42", "messages=3;number=3;in_view=11;prn1=22;el1=42;az1=67;snr1=42");
}

TEST(NmeaRecords, InstrumentSentencesAcceptOnlyWhatTheySay) {
    Expect("WIMWV,45,R,10,M,A", "angle=45;speed=19.438445;reference=R");  // metres per second
    Expect("WIMWV,96.6,T,10,K,A", "angle=96.6;speed=5.399568;reference=T");
    Expect("WIMWV,96.6,T,11.507795,S,A", "angle=96.6;speed=10;reference=T");
    Expect("WIMWV,96.6,T,11.2,N,A", "angle=96.6;speed=11.2;reference=T");
    Expect("WIMWV,45,X,10,M,A", "");
    Expect("WIMWV,45,R,10,M,V", "");
    Expect("WIMWD,328.2,T,326.8,M,11.2,N,5.8,M", "direction=328.2;speed=11.2");
    Expect("WIMWD,328.2,M,326.8,M,11.2,N,5.8,M", "");
    Expect("WIMWD,328.2,T,326.8,M,11.2,K,5.8,M", "");
    Expect("SDVHW,,T,231.0,M,5.6,N,10.4,K", "speed=5.6;heading=231");
    Expect("SDVHW,,T,,,4.0,N,,", "speed=4");
    Expect("SDVHW,,T,,,,,,", "");
    Expect("SDHDG,229.8,2.0,W,1.3,E", "heading=229.8;deviation=-2;variation=1.3");
    Expect("SDHDG,229.8,,,1.3,W", "heading=229.8;deviation=0;variation=-1.3");
    Expect("SDDPT,5.3,-0.5", "depth=5.3;offset_waterline=0;offset_keel=0.5");
    Expect("SDDPT,5.4,0.4,", "depth=5.4;offset_waterline=0.4;offset_keel=0");
    Expect("SDDBT,18.0,f,5.4,M,3.0,F", "depth=5.4");
    Expect("SDDBT,18.0,f,,,3.0,F", "");  // feet only
    Expect("INMTW,17.9,C", "temperature=17.9");
    Expect("INMTW,64.2,F", "");
    // Each engine keeps its value in the pooled record; engine 3 is accepted, stored nowhere.
    Expect("IIRPM,E,1,2418.2,10.5,A", "engine1=2418.2;engine2=0");
    Expect("IIRPM,S,2,1800.0,0.0,A", "engine1=2418.2;engine2=1800");
    Expect("IIRPM,E,3,999,0,A", "engine1=2418.2;engine2=1800");
    Expect("IIRPM,E,1,500,0,V", "");
    Expect("IIXDR,C,,C,AIRTEMP,A,-1.0,D,HEEL,A,2.9,D,TRIM,P,,B,BARO,A,-3.9,D,RUDDER",
           "type1=C;value1=0;name1=AIRTEMP;type2=A;value2=-1;name2=HEEL");
    Expect("HCXDR,A,12.5,D," + std::string(60, 'N'),
           "type1=A;value1=12.5;name1=" + std::string(CNMEA_Instruments::XDR::kNameSize - 1, 'N'));
    Expect("PNVI,SetStartTimer,1700000000,2", "start=1700000000;state=2");
    Expect("PNVI,SetStartLine,50.123456,-1.234567,50.2,-1.3",
           "left_lat=50.123456;left_lon=-1.234567;right_lat=50.2;right_lon=-1.3");
}

TEST(NmeaRecords, RudderAverageRunsInThePooledRecord) {
    Catch<CNMEA_Instruments::RSA> rsa;
    EXPECT_TRUE(Feed("$IIRSA,10.5,A,,V*4D"));
    EXPECT_FLOAT_EQ(rsa.last->average, 10.5f) << "a new record starts at the first angle";
    EXPECT_FALSE(Feed("$RIRSA,10.0,V*12"));
    EXPECT_TRUE(Feed(Sentence("IIRSA,-20,A")));
    EXPECT_NEAR(rsa.last->average, 0.0115 * -20 + 0.9885 * 10.5, 1e-4);
    EXPECT_FLOAT_EQ(rsa.last->angle, -20.0f);
}

// Distress calls from real radios (the sample collection in tests/data/navdata).
TEST(NmeaRecords, DistressCallsAndTheirExpansion) {
    const char* const call = "format=12;mmsi=338040079;category=12;nature=6;";
    Expect("CDDSC,12,3380400790,12,06,00,1423108312,2019,,,S,E",
           std::string(call) + "lat=42.516666667;lon=-83.2;time=2019;expansion=1");
    Expect("CDDSC,12,3380400790,12,06,00,3423108312,2019,,,S,E",
           std::string(call) + "lat=-42.516666667;lon=-83.2;time=2019;expansion=1");
    // A position field of the wrong shape is no position.
    for (const char* pos : {"12345", "14231083129", "X1423108312"})
        Expect(std::string("CDDSC,12,3380400790,12,06,00,") + pos + ",2019,,,S,E",
               std::string(call) + "lat=-999;lon=-999;time=2019;expansion=1");
    // Nine digits without the trailing 0; a relayed call names the casualty in field 8.
    Expect("CDDSC,12,338040079,,07,,,,,,",
           "format=12;mmsi=338040079;category=0;nature=7;lat=-999;lon=-999;time=0;expansion=0");
    Catch<CNMEA_DSC::DSC> dsc;
    Feed("$CDDSC,16,0031600010,12,112,00,1423108312,2019,3162009110,12,,*47");
    EXPECT_EQ(dsc.last->mmsi, 3160001u);
    EXPECT_EQ(dsc.last->field8, 316200911u);

    Expect("CDDSE,1,1,A,3380400790,00,45894494", "total=1;number=1;mmsi=338040079;lat_digits=4589;lon_digits=4494");
    Expect("CDDSE,2,2,R,3380400790,03,2345,02,0123,,", "total=2;number=2;mmsi=338040079;course=234.5;speed=12.3");
    // The refinement a consumer applies gives the position the sample table states.
    EXPECT_NEAR(42.516666667 + 4589 / 600000.0, 42.524315, 1e-6);
}

TEST(NmeaRecords, AisFragmentsAndDecodedFields) {
    Expect("AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0",
           "channel=A;msg=1;mmsi=371798000;lat=48.381633333;lon=-123.395383333;speed=12.3;course=224;heading=215;"
           "status=0",
           '!');
    Catch<CNEMA_AIS::VDM> vdm;
    ASSERT_TRUE(Feed("!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C"));
    EXPECT_EQ(vdm.last->message_type, 0) << "incomplete";
    ASSERT_TRUE(Feed("!AIVDM,2,2,1,A,88888888880,2*25"));
    const CNEMA_AIS::VDM& s = *vdm.last;
    EXPECT_EQ(s.message_type, 5);
    EXPECT_EQ(s.mmsi, 351759000u);
    EXPECT_EQ(s.imo, 9134270u);
    EXPECT_STREQ(s.callsign, "3FOF8");
    EXPECT_STREQ(s.name, "EVER DIADEM");
    EXPECT_STREQ(s.destination, "NEW YORK");
    EXPECT_STREQ(s.ship_type_text, "Cargo ship");
    EXPECT_EQ(s.to_bow + s.to_stern, 295);
    EXPECT_EQ(s.to_port + s.to_starboard, 32);
    EXPECT_EQ(s.eta_month * 100 + s.eta_day, 515);
    EXPECT_NEAR(s.draught, 12.2, 1e-4);
    // A fragment out of sequence is refused and publishes nothing.
    const int before = vdm.count;
    EXPECT_FALSE(Feed("!AIVDM,2,2,1,A,88888888880,2*25"));
    EXPECT_EQ(vdm.count, before);

    char text[32];
    CNEMA_AIS::CAIS_Sentence::decode_type(82, text);
    EXPECT_STREQ(text, "Tanker:Haz B");
    CNEMA_AIS::CAIS_Sentence::decode_type(200, text);
    EXPECT_STREQ(text, "Type 200");
}

// Every registered type gets hostile field contents: wrong shapes, huge numbers, many or
// no fields, long fields. Nothing may read or write outside the line (the sanitizer build
// checks that), and every published record must list finite or printable fields.
TEST(NmeaRecords, HostileFieldsAreHarmlessForEveryType) {
    std::vector<std::string> out;
    auto printers = CNMEADump::StartAll([&](const std::string& line) { out.push_back(line); });
    const std::string values[] = {"", "-", ".", "1e999", "-99999999999999999999", "0000.", "12345.678", "9999.9999",
                                  "A", "E", std::string(150, '9'), std::string(150, 'w'), "\x7f\x80\xff"};
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (CNMEASentenceType* t = CNMEASentenceType::First(); t; t = t->Next()) {
        const std::string address = t->Offset() == 3 ? std::string("XX") + t->Pattern() : t->Pattern();
        for (int round = 0; round < 300; ++round) {
            std::string body = address;
            const int fields = int(next() % 25);
            for (int i = 0; i < fields; ++i) body += "," + values[next() % std::size(values)];
            if (body.size() > 300) body.resize(300);
            Feed(Sentence(body, address.compare(2, 2, "VD") == 0 ? '!' : '$'));
        }
    }
    ASSERT_FALSE(out.empty());
    for (const std::string& line : out) {
        QJsonParseError error;
        QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    }
}

// nmea-dump prints the same lists: one JSON object per published record, in order, our
// own sentences without a talker, texts escaped.
TEST(NmeaDump, OneJsonObjectPerPublishedRecordInOrder) {
    std::vector<std::string> lines;
    auto printers = CNMEADump::StartAll([&](const std::string& line) { lines.push_back(line); });
    for (const std::string& s : {std::string("$INRMC,194101,A,4426.1130,N,07140.5596,W,5.2,77.3,160906,15.8,W*60"),
                                 std::string("$GPHDT,123.4,T*31"), Sentence("IIXDR,C,1,C,AIR\"TEMP\\"),
                                 std::string("$INMTW,17.9,F*1E"), Sentence("PNVI,SetStartTimer,1700000000,2")}) {
        std::vector<char> buf(s.begin(), s.end());
        buf.push_back('\0');
        CNMEADump::Dispatch(buf.data());
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "{\"type\": \"RMC\", \"talker\": \"IN\", \"valid\": true, \"lat\": 44.43521667, \"lon\": -71.67599333, "
              "\"time\": 1158435661, \"speed\": 5.2, \"course\": 77.3, \"variation\": 15.8}");
    const QJsonObject xdr = QJsonDocument::fromJson(QByteArray::fromStdString(lines[1])).object();
    EXPECT_EQ(xdr.value("name1").toString(), QStringLiteral("AIR\"TEMP\\"));
    const QJsonObject timer = QJsonDocument::fromJson(QByteArray::fromStdString(lines[2])).object();
    EXPECT_EQ(timer.value("type").toString(), QStringLiteral("PNVI,SetStartTimer"));
    EXPECT_FALSE(timer.contains("talker"));
}

}  // namespace
