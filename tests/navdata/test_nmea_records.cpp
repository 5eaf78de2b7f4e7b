// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include <cmath>
#include <string>

#include "navdata/nmea_records.h"
#include "nmea_test_support.h"

using namespace CNMEA_Instruments;

namespace {

TEST(NmeaRecords, RmcValidityTalkerTimeAndVariation) {
    bool valid = false;
    char talker = 0;
    double lat = 0, lon = 0, time = 0;
    float speed = 0, course = 0, variation = 0;
    Catch<CNMEA_GPS::RMC> rmc([&](CNMEA_GPS::RMC& r) {
        valid = r.valid;
        talker = r.talker;
        lat = r.latitude;
        lon = r.longitude;
        time = r.time;
        speed = r.speed;
        course = r.course;
        variation = r.variation;
    });
    ASSERT_TRUE(Feed(Sentence("GNRMC,123519.5,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,E,")));
    EXPECT_TRUE(valid);
    EXPECT_EQ(talker, 'N');
    EXPECT_NEAR(lat, -48.1173, 1e-9);
    EXPECT_NEAR(lon, -11.516666667, 1e-9);
    EXPECT_DOUBLE_EQ(time, 3920186119.5);  // two-digit years are this century: 2094-03-23 12:35:19.5
    EXPECT_FLOAT_EQ(speed, 22.4f);
    EXPECT_FLOAT_EQ(course, 84.4f);
    EXPECT_FLOAT_EQ(variation, -3.1f);  // east is negative

    // Status V is rescued only by a mode indicator that says the fix is usable.
    ASSERT_TRUE(Feed(Sentence("GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,A")));
    EXPECT_TRUE(valid);
    EXPECT_EQ(talker, 'P');
    EXPECT_FLOAT_EQ(variation, 3.1f);
    ASSERT_TRUE(Feed(Sentence("GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,N")));
    EXPECT_FALSE(valid);
    ASSERT_TRUE(Feed(Sentence("GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W,")));
    EXPECT_FALSE(valid);
    // An empty receiver still publishes (invalid) rather than being dropped.
    ASSERT_TRUE(Feed("$GPRMC,,V,,,,,,,,,,N*53"));
    EXPECT_FALSE(valid);
    EXPECT_EQ(lat, 0.0);
    EXPECT_EQ(time, 0.0);
    EXPECT_EQ(rmc.count, 5);
}

TEST(NmeaRecords, GgaVtgGsaGsvFields) {
    Catch<CNMEA_GPS::GGA> gga([](CNMEA_GPS::GGA& r) {
        EXPECT_EQ(r.talker, 'L');
        EXPECT_EQ(r.quality, 2);
        EXPECT_NEAR(r.latitude, 44.435230000, 1e-9);
        EXPECT_NEAR(r.longitude, -71.675893333, 1e-9);
        EXPECT_EQ(r.satellites, 10);
        EXPECT_FLOAT_EQ(r.hdop, 0.9f);
        EXPECT_FLOAT_EQ(r.altitude, 267.9f);
    });
    EXPECT_TRUE(Feed(Sentence("GLGGA,194104,4426.1138,N,07140.5536,W,2,10,0.9,267.9,M,,,,")));

    Catch<CNMEA_GPS::VTG> vtg([](CNMEA_GPS::VTG& r) {
        EXPECT_FLOAT_EQ(r.course, 77.5f);
        EXPECT_FLOAT_EQ(r.speed, 5.2f);  // knots, not the km/h field
    });
    EXPECT_TRUE(Feed("$INVTG,77.5,T,93.3,M,5.2,N,9.7,K*5B"));

    Catch<CNMEA_GPS::GSA> gsa([](CNMEA_GPS::GSA& r) {
        EXPECT_EQ(r.talker, 'N');
        EXPECT_EQ(r.mode, 'A');
        EXPECT_EQ(r.fix_type, 2);
        EXPECT_EQ(r.satellites[0], 19);
        EXPECT_EQ(r.satellites[1], 27);
        for (int i = 2; i < 12; ++i) EXPECT_EQ(r.satellites[i], 0) << i;
        EXPECT_FLOAT_EQ(r.pdop, 2.1f);
        EXPECT_FLOAT_EQ(r.hdop, 1.8f);
        EXPECT_FLOAT_EQ(r.vdop, 0.9f);
    });
    EXPECT_TRUE(Feed("$GNGSA,A,2,19,27,,,,,,,,,,,02.1,01.8,00.9*13"));

    int gsvCalls = 0;
    Catch<CNMEA_GPS::GSV> gsv([&](CNMEA_GPS::GSV& r) {
        ++gsvCalls;
        EXPECT_EQ(r.messages, 3);
        if (gsvCalls == 1) {
            EXPECT_EQ(r.message_number, 1);
            EXPECT_EQ(r.in_view, 11);
            EXPECT_EQ(r.satellites[3].prn, 8);
            EXPECT_EQ(r.satellites[3].azimuth, 359);  // wider than a byte
            EXPECT_EQ(r.satellites[3].elevation, 3);
            EXPECT_EQ(r.satellites[3].snr, 0);
        } else {
            // A last message with fewer satellites leaves the other blocks empty.
            EXPECT_EQ(r.satellites[0].prn, 22);
            EXPECT_EQ(r.satellites[0].snr, 42);
            EXPECT_EQ(r.satellites[1].prn, 0);
            EXPECT_EQ(r.satellites[3].azimuth, 0);
        }
    });
    EXPECT_TRUE(Feed(Sentence("GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,08,03,359,")));
    EXPECT_TRUE(Feed(Sentence("GPGSV,3,3,11,22,42,067,42")));
    EXPECT_EQ(gsvCalls, 2);
}

TEST(NmeaRecords, WindAcceptsOnlyValidReferencesAndConvertsUnits) {
    float speed = -1, angle = -1;
    int reference = -1;
    Catch<MWV> mwv([&](MWV& r) {
        speed = r.speed;
        angle = r.angle;
        reference = r.reference;
    });
    EXPECT_TRUE(Feed(Sentence("WIMWV,45,R,10,M,A")));
    EXPECT_NEAR(speed, 10 * 3600.0 / 1852.0, 1e-4);
    EXPECT_FLOAT_EQ(angle, 45.0f);
    EXPECT_EQ(reference, MWV::kApparent);
    EXPECT_TRUE(Feed(Sentence("WIMWV,96.6,T,10,K,A")));
    EXPECT_NEAR(speed, 5.399568, 1e-4);
    EXPECT_EQ(reference, MWV::kTrue);
    EXPECT_TRUE(Feed(Sentence("WIMWV,96.6,T,11.507795,S,A")));
    EXPECT_NEAR(speed, 10.0, 1e-4);
    EXPECT_TRUE(Feed(Sentence("WIMWV,96.6,T,11.2,N,A")));
    EXPECT_FLOAT_EQ(speed, 11.2f);
    EXPECT_EQ(mwv.count, 4);
    EXPECT_FALSE(Feed(Sentence("WIMWV,45,X,10,M,A")));
    EXPECT_FALSE(Feed(Sentence("WIMWV,45,R,10,M,V")));
    EXPECT_FALSE(Feed(Sentence("WIMWV,45,R,10,M,")));
    EXPECT_EQ(mwv.count, 4);

    Catch<MWD> mwd([](MWD& r) {
        EXPECT_FLOAT_EQ(r.direction, 328.2f);
        EXPECT_FLOAT_EQ(r.speed, 11.2f);
    });
    EXPECT_TRUE(Feed("$WIMWD,328.2,T,326.8,M,11.2,N,5.8,M*61"));
    EXPECT_FALSE(Feed(Sentence("WIMWD,328.2,M,326.8,M,11.2,N,5.8,M")));
    EXPECT_FALSE(Feed(Sentence("WIMWD,328.2,T,326.8,M,11.2,K,5.8,M")));
    EXPECT_EQ(mwd.count, 1);
}

TEST(NmeaRecords, BoatInstrumentsAcceptRejectRules) {
    Catch<VHW> vhw;
    EXPECT_TRUE(Feed(Sentence("SDVHW,,T,231.0,M,5.6,N,10.4,K")));
    EXPECT_TRUE(vhw.last->speed_valid && vhw.last->heading_valid);
    EXPECT_FLOAT_EQ(vhw.last->speed, 5.6f);
    EXPECT_FLOAT_EQ(vhw.last->heading, 231.0f);
    EXPECT_TRUE(Feed(Sentence("SDVHW,,T,,,4.0,N,,")));
    EXPECT_TRUE(vhw.last->speed_valid);
    EXPECT_FALSE(vhw.last->heading_valid);
    EXPECT_FALSE(Feed(Sentence("SDVHW,,T,,,,,,")));
    EXPECT_EQ(vhw.count, 2);

    Catch<HDG> hdg;
    EXPECT_TRUE(Feed(Sentence("SDHDG,229.8,2.0,W,1.3,E")));
    EXPECT_FLOAT_EQ(hdg.last->heading, 229.8f);
    EXPECT_FLOAT_EQ(hdg.last->deviation, -2.0f);
    EXPECT_FLOAT_EQ(hdg.last->variation, 1.3f);
    EXPECT_TRUE(Feed(Sentence("SDHDG,229.8,,,1.3,W")));
    EXPECT_FLOAT_EQ(hdg.last->variation, -1.3f);

    Catch<DPT> dpt;
    EXPECT_TRUE(Feed(Sentence("SDDPT,5.3,-0.5")));
    EXPECT_FLOAT_EQ(dpt.last->depth, 5.3f);
    EXPECT_FLOAT_EQ(dpt.last->offset_waterline, 0.0f);
    EXPECT_FLOAT_EQ(dpt.last->offset_keel, 0.5f);
    EXPECT_TRUE(Feed(Sentence("SDDPT,5.4,0.4,")));
    EXPECT_FLOAT_EQ(dpt.last->offset_waterline, 0.4f);
    EXPECT_FLOAT_EQ(dpt.last->offset_keel, 0.0f);

    Catch<DBT> dbt;
    EXPECT_TRUE(Feed("$SDDBT,18.0,f,5.4,M,3.0,F*3D"));
    EXPECT_FLOAT_EQ(dbt.last->depth, 5.4f);
    EXPECT_FALSE(Feed(Sentence("SDDBT,18.0,f,,,3.0,F")));  // feet only: no metres
    EXPECT_EQ(dbt.count, 1);

    Catch<MTW> mtw;
    EXPECT_TRUE(Feed("$INMTW,17.9,C*1B"));
    EXPECT_FLOAT_EQ(mtw.last->temperature, 17.9f);
    EXPECT_FALSE(Feed(Sentence("INMTW,64.2,F")));
    EXPECT_EQ(mtw.count, 1);

    Catch<RPM> rpm;
    EXPECT_TRUE(Feed("$IIRPM,E,1,2418.2,10.5,A*5F"));
    EXPECT_TRUE(Feed("$IIRPM,S,2,1800.0,0.0,A*7A"));
    EXPECT_TRUE(Feed(Sentence("IIRPM,E,3,999,0,A")));  // accepted, stored nowhere
    EXPECT_FLOAT_EQ(rpm.last->engine1, 2418.2f);
    EXPECT_FLOAT_EQ(rpm.last->engine2, 1800.0f);
    EXPECT_FALSE(Feed(Sentence("IIRPM,E,1,500,0,V")));
    EXPECT_EQ(rpm.count, 3);
    EXPECT_FLOAT_EQ(rpm.last->engine1, 2418.2f);

    Catch<XDR> xdr;
    EXPECT_TRUE(Feed("$IIXDR,C,,C,AIRTEMP,A,-1.0,D,HEEL,A,2.9,D,TRIM,P,,B,BARO,A,-3.9,D,RUDDER*29"));
    ASSERT_EQ(xdr.last->count, 2);
    EXPECT_EQ(xdr.last->measurements[0].type, 'C');
    EXPECT_STREQ(xdr.last->measurements[0].name, "AIRTEMP");
    EXPECT_EQ(xdr.last->measurements[1].type, 'A');
    EXPECT_DOUBLE_EQ(xdr.last->measurements[1].value, -1.0);
    EXPECT_STREQ(xdr.last->measurements[1].name, "HEEL");
    EXPECT_TRUE(Feed(Sentence("HCXDR,A,12.5,D," + std::string(60, 'N'))));
    EXPECT_EQ(xdr.last->count, 1);
    EXPECT_EQ(std::string(xdr.last->measurements[0].name), std::string(XDR::kNameSize - 1, 'N'));
}

TEST(NmeaRecords, RudderAverageRunsInThePooledRecord) {
    Catch<RSA> rsa;
    EXPECT_TRUE(Feed("$IIRSA,10.5,A,,V*4D"));
    // The first valid angle of a new record is the average itself.
    EXPECT_FLOAT_EQ(rsa.last->average, 10.5f);
    EXPECT_FALSE(Feed("$RIRSA,10.0,V*12"));
    EXPECT_FLOAT_EQ(rsa.last->angle, 10.5f);
    EXPECT_TRUE(Feed(Sentence("IIRSA,-20,A")));
    EXPECT_NEAR(rsa.last->average, 0.0115 * -20 + 0.9885 * 10.5, 1e-4);
    EXPECT_FLOAT_EQ(rsa.last->angle, -20.0f);
    EXPECT_EQ(rsa.count, 2);
}

TEST(NmeaRecords, StartTimerAndLineSentences) {
    Catch<NMEA_PNVI::SetStartTimer> timer;
    Catch<NMEA_PNVI::SetStartLine> line;
    EXPECT_TRUE(Feed(Sentence("PNVI,SetStartTimer,1700000000,2")));
    EXPECT_DOUBLE_EQ(timer.last->start_time, 1700000000.0);
    EXPECT_EQ(timer.last->state, 2);
    EXPECT_TRUE(Feed(Sentence("PNVI,SetStartLine,50.123456,-1.234567,50.2,-1.3")));
    EXPECT_DOUBLE_EQ(line.last->left_latitude, 50.123456);
    EXPECT_DOUBLE_EQ(line.last->left_longitude, -1.234567);
    EXPECT_DOUBLE_EQ(line.last->right_latitude, 50.2);
    EXPECT_DOUBLE_EQ(line.last->right_longitude, -1.3);
}

// The collected DSC/DSE samples: the sentences are fed in file order and checked
// against the decoded values written in the sample table.
TEST(NmeaRecords, DscAndDseSamples) {
    QFile file(QStringLiteral(NAVORA_TEST_DATA_DIR "/navdata/dsc_dse_rsa_rpm_samples.tsv"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    int dscSeen = 0, badChecksums = 0;
    Catch<CNMEA_DSC::DSC> dsc([&](CNMEA_DSC::DSC&) { ++dscSeen; });
    Catch<CNMEA_DSC::DSE> dse;
    while (!file.atEnd()) {
        const QStringList cols = QString::fromUtf8(file.readLine()).split(QLatin1Char('\t'));
        if (cols.size() < 3 || !cols[0].startsWith(QLatin1Char('$'))) continue;
        const std::string sentence = cols[0].toStdString();
        const bool ok = cols[1] == QLatin1String("ok");
        const bool published = Feed(sentence);
        if (!ok) {
            EXPECT_FALSE(published) << sentence;
            ++badChecksums;
        }
    }
    EXPECT_EQ(badChecksums, 1);
    EXPECT_GE(dscSeen, 30);

    Feed("$CDDSC,12,3380400790,12,06,00,1423108312,2019,,,S,E*6A");
    const CNMEA_DSC::DSC& d = *dsc.last;
    EXPECT_EQ(d.format, 12);
    EXPECT_EQ(d.mmsi, 338040079u);
    EXPECT_EQ(d.category, 12);
    EXPECT_EQ(d.nature, 6);
    EXPECT_EQ(d.quadrant, 1);
    EXPECT_NEAR(d.latitude, 42.516667, 1e-6);
    EXPECT_NEAR(d.longitude, -83.2, 1e-6);
    EXPECT_EQ(d.time, 2019);
    EXPECT_TRUE(d.expansion);

    Feed("$CDDSE,1,1,A,3380400790,00,45894494*1B");
    const CNMEA_DSC::DSE& e = *dse.last;
    EXPECT_EQ(e.total, 1);
    EXPECT_EQ(e.number, 1);
    EXPECT_EQ(e.query, 'A');
    EXPECT_EQ(e.mmsi, 338040079u);
    EXPECT_EQ(e.flags, CNMEA_DSC::DSE::kEnhancedPosition);
    EXPECT_EQ(e.latitude_digits, 4589);
    EXPECT_EQ(e.longitude_digits, 4494);
    // Refined as a consumer does it: the table's 42.524315, -83.207490.
    EXPECT_NEAR(d.latitude + e.latitude_digits / 600000.0, 42.524315, 1e-6);
    EXPECT_NEAR(d.longitude - e.longitude_digits / 600000.0, -83.207490, 1e-6);

    Feed("$CDDSC,12,3380400790,12,06,00,3423108312,2019,,,S,E*68");
    EXPECT_NEAR(dsc.last->latitude, -42.516667, 1e-6);
    EXPECT_NEAR(dsc.last->longitude, -83.2, 1e-6);
    for (const char* bad : {"$CDDSC,12,3380400790,12,06,00,12345,2019,,,S,E*56",
                            "$CDDSC,12,3380400790,12,06,00,14231083129,2019,,,S,E*53",
                            "$CDDSC,12,3380400790,12,06,00,X1423108312,2019,,,S,E*32"}) {
        Feed(bad);
        EXPECT_EQ(dsc.last->latitude, -999) << bad;
        EXPECT_EQ(dsc.last->longitude, -999) << bad;
    }
    Feed("$CDDSC,12,338040079,,07,,,,,,*65");  // nine digits without the trailing 0
    EXPECT_EQ(dsc.last->mmsi, 338040079u);
    EXPECT_FALSE(dsc.last->expansion);
    Feed("$CDDSC,16,0031600010,12,112,00,1423108312,2019,3162009110,12,,*47");
    EXPECT_EQ(dsc.last->mmsi, 3160001u);
    EXPECT_EQ(dsc.last->field8, 316200911u);

    Feed(Sentence("CDDSE,2,2,R,3380400790,03,2345,02,0123,,"));
    EXPECT_EQ(dse.last->flags, CNMEA_DSC::DSE::kCourse | CNMEA_DSC::DSE::kSpeed);
    EXPECT_FLOAT_EQ(dse.last->course, 234.5f);
    EXPECT_FLOAT_EQ(dse.last->speed, 12.3f);
}

TEST(NmeaRecords, AisFragmentsAndDecodedFields) {
    Catch<CNEMA_AIS::VDM> vdm;
    ASSERT_TRUE(Feed("!AIVDM,1,1,,A,15RTgt0PAso;90TKcjM8h6g208CQ,0*4A"));
    const CNEMA_AIS::VDM& a = *vdm.last;
    EXPECT_EQ(a.message_type, 1);
    EXPECT_EQ(a.mmsi, 371798000u);
    EXPECT_EQ(a.channel, 'A');
    EXPECT_NEAR(a.speed, 12.3, 1e-4);
    EXPECT_NEAR(a.longitude, -123.395383333, 1e-7);
    EXPECT_NEAR(a.latitude, 48.381633333, 1e-7);
    EXPECT_NEAR(a.course, 224.0, 1e-4);
    EXPECT_EQ(a.heading, 215);
    EXPECT_EQ(a.second, 33);
    EXPECT_FALSE(a.rate_of_turn_valid);  // -127: turning fast, no figure

    ASSERT_TRUE(Feed("!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C"));
    EXPECT_EQ(vdm.last->message_type, 0);  // incomplete
    ASSERT_TRUE(Feed("!AIVDM,2,2,1,A,88888888880,2*25"));
    const CNEMA_AIS::VDM& s = *vdm.last;
    EXPECT_EQ(s.message_type, 5);
    EXPECT_EQ(s.mmsi, 351759000u);
    EXPECT_EQ(s.imo, 9134270u);
    EXPECT_STREQ(s.callsign, "3FOF8");
    EXPECT_STREQ(s.name, "EVER DIADEM");
    EXPECT_STREQ(s.destination, "NEW YORK");
    EXPECT_EQ(s.ship_type, 70);
    EXPECT_STREQ(s.ship_type_text, "Cargo ship");
    EXPECT_EQ(s.to_bow, 225);
    EXPECT_EQ(s.to_stern, 70);
    EXPECT_EQ(s.to_port, 1);
    EXPECT_EQ(s.to_starboard, 31);
    EXPECT_EQ(s.eta_month, 5);
    EXPECT_EQ(s.eta_day, 15);
    EXPECT_NEAR(s.draught, 12.2, 1e-4);

    // A fragment out of sequence is refused and publishes nothing.
    const int before = vdm.count;
    EXPECT_FALSE(Feed("!AIVDM,2,2,1,A,88888888880,2*25"));
    EXPECT_EQ(vdm.count, before);

    char text[32];
    CNEMA_AIS::CAIS_Sentence::decode_type(37, text);
    EXPECT_STREQ(text, "Pleasure craft");
    CNEMA_AIS::CAIS_Sentence::decode_type(82, text);
    EXPECT_STREQ(text, "Tanker:Haz B");
    CNEMA_AIS::CAIS_Sentence::decode_type(200, text);
    EXPECT_STREQ(text, "Type 200");

    // A payload longer than the stream holds is cut, not written past the end.
    const std::string huge = Sentence("AIVDM,1,1,,B," + std::string(190, 'w') + ",0", '!');
    EXPECT_TRUE(Feed(huge));
}

}  // namespace

namespace {

// Every registered type gets hostile field contents: wrong shapes, huge numbers, many or
// no fields, long fields. Nothing may read or write outside the line (the sanitizer
// build checks that), and the dispatcher must come back every time.
TEST(NmeaRecords, HostileFieldsAreHarmlessForEveryType) {
    Catch<CNMEA_GPS::RMC> rmc;
    Catch<CNMEA_GPS::GGA> gga;
    Catch<CNMEA_GPS::VTG> vtg;
    Catch<CNMEA_GPS::GSA> gsa;
    Catch<CNMEA_GPS::GSV> gsv;
    Catch<MWV> mwv;
    Catch<MWD> mwd;
    Catch<VHW> vhw;
    Catch<HDG> hdg;
    Catch<DPT> dpt;
    Catch<DBT> dbt;
    Catch<MTW> mtw;
    Catch<RSA> rsa;
    Catch<RPM> rpm;
    Catch<XDR> xdr;
    Catch<CNEMA_AIS::VDM> vdm;
    Catch<CNEMA_AIS::VDO> vdo;
    Catch<CNMEA_DSC::DSC> dsc;
    Catch<CNMEA_DSC::DSE> dse;
    Catch<NMEA_PNVI::SetStartTimer> timer;
    Catch<NMEA_PNVI::SetStartLine> line;

    const char* const addresses[] = {"GPRMC", "GPGGA", "GPVTG", "GPGSA", "GPGSV", "WIMWV", "WIMWD",
                                     "VWVHW", "HCHDG", "SDDPT", "SDDBT", "YXMTW", "IIRSA", "IIRPM",
                                     "IIXDR", "AIVDM", "AIVDO", "CDDSC", "CDDSE", "PNVI,SetStartTimer",
                                     "PNVI,SetStartLine"};
    const std::string values[] = {"",
                                  "-",
                                  ".",
                                  "1e999",
                                  "-99999999999999999999",
                                  "0000.",
                                  "12345.678",
                                  "9999.9999",
                                  "A",
                                  "E",
                                  std::string(150, '9'),
                                  std::string(150, 'w'),
                                  "\x7f\x80\xff"};
    uint32_t seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int dispatched = 0;
    for (const char* address : addresses) {
        for (int round = 0; round < 300; ++round) {
            std::string body = address;
            const int fields = static_cast<int>(next() % 25);
            for (int i = 0; i < fields; ++i) body += "," + values[next() % (sizeof values / sizeof values[0])];
            if (body.size() > 300) body.resize(300);
            Feed(Sentence(body, address[0] == 'A' ? '!' : '$'));
            ++dispatched;
        }
    }
    EXPECT_EQ(dispatched, 21 * 300);
    EXPECT_GT(rmc.count + gga.count + xdr.count + dsc.count + vdm.count, 0);
}

}  // namespace
