// SPDX-License-Identifier: GPL-3.0-or-later
// Read-out items fed by real sentences: values and units with the user's units, a change
// of units, blanking before data and when data goes stale, the clocks, satellites, wind
// and the other instruments, and the speedometer.

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/heartbeat.h"
#include "displays/readouts.h"
#include "fake_window.h"
#include "navdata/gpsposition.h"
#include "navdata/nmea_sentence.h"
#include "units/units.h"

namespace {

using Type = CDisplayView::CItemSettingsType;
using Settings = CDisplayView::CItemSettings;
using Text = CDisplayView::CItemText;

// "$" + body + "*hh" dispatched as a receiver would deliver it.
bool Feed(const std::string& body) {
    std::vector<char> buf(body.size() + 8, '\0');
    buf[0] = '$';
    std::copy(body.begin(), body.end(), buf.begin() + 1);
    CNMEASentence::compute_checksum(buf.data());
    return CNMEASentence::DispatchSentence(buf.data(), nullptr);
}

void Pulses(int n) {
    for (int i = 0; i < n; ++i) CHeartbeat::Pulse();
}

// A GPS position and feed of the test's own, the position the read-outs watch, and the
// statute units a new user starts with (restored afterwards).
struct Readouts : ::testing::Test {
    std::unique_ptr<COverlayGPSPosition> pos = std::make_unique<COverlayGPSPosition>();
    std::unique_ptr<CFeedRMC_to_GPSPosition> feed = std::make_unique<CFeedRMC_to_GPSPosition>(*pos);
    CUnits savedUnits = CDefaultUnits::u;
    FakePageWindow window{400, 400};

    struct Shown {
        std::unique_ptr<Settings> settings;
        std::unique_ptr<CDisplayView::CItem> item;
    };
    std::vector<Shown> shown;

    Readouts() {
        NReadouts::RegisterItemTypes();
        NReadouts::SetGpsSource(pos.get());
        CUnits& u = CDefaultUnits::u;
        u.set_unit_family(CUnits::e_miles);
        u.depth_units = 0;
        u.temperature_unit = 1;
        u.bearing_mode = 0;
        u.posfmt = CUnits::PositionFormatType::Find("Deg,Min");
    }
    ~Readouts() override {
        shown.clear();  // items before the position they watch
        NReadouts::SetGpsSource(nullptr);
        CDefaultUnits::u = savedUnits;
    }

    // The live item of type `id`, with an adaptor, as a page would show it.
    CDisplayView::CItem* Make(int id) {
        const Type* t = Type::findType(id);
        EXPECT_NE(t, nullptr) << id;
        if (!t) return nullptr;
        Shown s;
        s.settings.reset(t->NewSettings());
        s.item.reset(s.settings->CreateItem(window));
        s.item->CreateAdaptor(window);
        shown.push_back(std::move(s));
        return shown.back().item.get();
    }
    Text* MakeText(int id) {
        auto* t = dynamic_cast<Text*>(Make(id));
        EXPECT_NE(t, nullptr) << id;
        return t;
    }

    void UnitsChanged() { CDefaultUnits::Changed(); }

    // 50 deg 33' N, 3 deg W (Lyme Bay), 6 knots on 245, 13:45:07 UTC on 14 June 2026.
    void GoodFix(const char* hms = "134507.00") {
        Feed("GPGGA," + std::string(hms) + ",5033.000,N,00300.000,W,1,07,0.9,12.4,M,49.9,M,,");
        Feed("GPRMC," + std::string(hms) + ",A,5033.000,N,00300.000,W,6.0,245.0,140626,,,A");
    }
};

// ---------------------------------------------------------------------------------------

// The read-out types the program registers (not placeholders, not other items).
std::vector<const Type*> ReadoutTypes() {
    std::vector<const Type*> out;
    for (const Type* t : Type::All()) {
        if (dynamic_cast<const NReadouts::CReadoutType*>(t)) out.push_back(t);
    }
    return out;
}

TEST_F(Readouts, EveryReadoutReplacesItsPlaceholderWithTheSameNameLayerAndSize) {
    const auto types = ReadoutTypes();
    ASSERT_FALSE(types.empty());
    for (const Type* real : types) {
        EXPECT_FALSE(real->IsPlaceholder()) << real->name;
        const Type* placeholder = nullptr;
        for (const Type* t = Type::head; t; t = t->nextType) {
            if (t->typeId == real->typeId && t->IsPlaceholder()) placeholder = t;
        }
        ASSERT_NE(placeholder, nullptr) << real->name;
        EXPECT_STREQ(real->name, placeholder->name);
        EXPECT_EQ(real->defaultLayer, placeholder->defaultLayer) << real->name;
        EXPECT_EQ(real->defaultWidth, placeholder->defaultWidth) << real->name;
        EXPECT_EQ(real->defaultHeight, placeholder->defaultHeight) << real->name;
    }
}

// A real chartplotter's log (GPS, wind, log, depth, compass) and, for the sensors it
// does not have, sentences of other devices: every read-out the program offers must show
// a value from it.
TEST_F(Readouts, EveryReadoutShowsDataFromAReplayedLog) {
    std::vector<std::pair<const Type*, NReadouts::CReading*>> items;
    for (const Type* t : ReadoutTypes()) {
        auto* reading = dynamic_cast<NReadouts::CReading*>(Make(t->typeId));
        ASSERT_NE(reading, nullptr) << t->name;
        items.emplace_back(t, reading);
    }
    std::ifstream log(NAVORA_TEST_DATA_DIR "/navdata/bundg_zeus_9.log");
    ASSERT_TRUE(log);
    for (std::string line; std::getline(log, line);) {
        std::vector<char> buf(line.begin(), line.end());
        buf.push_back('\0');
        CNMEASentence::DispatchSentence(buf.data(), nullptr);
    }
    Feed("INMTW,17.9,C");
    Feed("IIRSA,10.5,A,,V");
    Feed("IIRPM,E,1,2418.2,10.5,A");
    Feed("IIXDR,A,-12.0,D,MAST,P,1.0132,B,BARO");
    for (const auto& [type, reading] : items) EXPECT_TRUE(reading->HasReading()) << type->name;
}

TEST_F(Readouts, GpsItemsBlankUntilAFixThenShowTheFixInTheUsersUnits) {
    Text* cog = MakeText(41);
    Text* sog = MakeText(42);
    Text* posn = MakeText(43);
    Text* hdop = MakeText(44);
    Text* alt = MakeText(45);
    Text* odo = MakeText(118);
    for (Text* t : {cog, sog, posn, hdop, alt, odo}) EXPECT_EQ(t->Value(), "---") << t->Title();
    EXPECT_EQ(sog->Title(), "Speed over Ground");
    EXPECT_EQ(sog->Units(), "mph") << "the label is there before the value";

    auto* sogWindow = static_cast<FakeAdaptor*>(sog->Window());
    const int before = sogWindow->invalidated;
    GoodFix();
    EXPECT_GT(sogWindow->invalidated, before) << "the item redraws when the position is published";

    EXPECT_EQ(sog->Value(), "6.9");  // 6 kn in mph
    EXPECT_EQ(cog->Value(), "245");
    EXPECT_EQ(cog->Units(), "\u00B0T");
    EXPECT_EQ(posn->Value(), "50\u00B033.000'N, 3\u00B000.000'W");
    EXPECT_EQ(posn->Units(), "Deg,Min");
    EXPECT_EQ(hdop->Value(), "0.9");
    EXPECT_EQ(alt->Value(), "41");  // 12.4 m in feet
    EXPECT_EQ(alt->Units(), "ft");
    EXPECT_EQ(odo->Value(), "0.00");
    EXPECT_EQ(odo->Units(), "ft");  // short distances in the small unit

    // A boat at rest has no course.
    Feed("GPRMC,134508.00,A,5033.000,N,00300.000,W,0.05,245.0,140626,,,A");
    EXPECT_EQ(cog->Value(), "---");
    EXPECT_EQ(sog->Value(), "0.00");
}

TEST_F(Readouts, ChangingUnitsReformatsAtOnce) {
    Text* sog = MakeText(42);
    Text* cog = MakeText(41);
    Text* alt = MakeText(45);
    Text* posn = MakeText(43);
    GoodFix();

    CUnits& u = CDefaultUnits::u;
    u.set_unit_family(CUnits::e_km);
    u.bearing_mode = 1;
    u.magnetic_variation = -2.0f;  // 2 degrees west
    u.posfmt = CUnits::PositionFormatType::Find("Degrees");
    UnitsChanged();
    EXPECT_EQ(sog->Value(), "11.1");
    EXPECT_EQ(sog->Units(), "km/h");
    EXPECT_EQ(cog->Value(), "247");
    EXPECT_EQ(cog->Units(), "\u00B0M");
    EXPECT_EQ(alt->Value(), "12");
    EXPECT_EQ(alt->Units(), "m");
    EXPECT_EQ(posn->Value(), "50.55000\u00B0N,  3.00000\u00B0W");

    // A grid that does not reach the position shows nothing rather than a wrong place.
    u.posfmt = CUnits::PositionFormatType::Find("Irish Grid");
    ASSERT_NE(u.posfmt, nullptr);
    Feed("GPRMC,134509.00,A,0100.000,S,10000.000,E,6.0,245.0,140626,,,A");
    EXPECT_EQ(posn->Value(), "---");
}

TEST_F(Readouts, GpsItemsGoBlankWithTheStalePositionButTheOdometerStays) {
    Text* sog = MakeText(42);
    Text* time = MakeText(68);
    Text* odo = MakeText(118);
    GoodFix();
    ASSERT_EQ(sog->Value(), "6.9");
    Pulses(COverlayGPSPosition::kStaleTicks - 1);
    EXPECT_EQ(sog->Value(), "6.9");
    Pulses(1);
    EXPECT_EQ(sog->Value(), "---");
    EXPECT_EQ(time->Value(), "---");
    EXPECT_EQ(odo->Value(), "0.00");

    // An item shown afterwards starts from the position as it is now.
    GoodFix("134600.00");
    Text* late = MakeText(42);
    EXPECT_EQ(late->Value(), "6.9");
}

TEST_F(Readouts, ClocksShowTheFixTimeInLocalTime) {
    Text* time24 = MakeText(68);
    Text* time12 = MakeText(46);
    GoodFix();
    // 2026-06-14 13:45:07 UTC; the hour depends on the machine's zone, the rest not.
    const std::time_t t = 1781444707;
    std::tm local{};
    localtime_r(&t, &local);
    char expect24[16], expect12[16];
    std::snprintf(expect24, sizeof expect24, "%02d:%02d:07", local.tm_hour, local.tm_min);
    const int h12 = local.tm_hour % 12 == 0 ? 12 : local.tm_hour % 12;
    std::snprintf(expect12, sizeof expect12, "%d:%02d%s", h12, local.tm_min, local.tm_hour < 12 ? "am" : "pm");
    EXPECT_EQ(time24->Value(), expect24);
    EXPECT_EQ(time12->Value(), expect12);
    EXPECT_EQ(time24->Units(), "");

    Feed("GPRMC,000000.00,A,5033.000,N,00300.000,W,6.0,245.0,150626,,,A");
    const std::time_t midnight = 1781481600;  // 2026-06-15 00:00:00 UTC
    localtime_r(&midnight, &local);
    std::snprintf(expect24, sizeof expect24, "%02d:%02d:00", local.tm_hour, local.tm_min);
    EXPECT_EQ(time24->Value(), expect24);
    EXPECT_EQ(NReadouts::Format24hTimeWithSeconds(1e300), "");
}

TEST_F(Readouts, SatellitesCountFromGsaAndGsvAndSurviveASearchingReceiver) {
    Text* sats = MakeText(76);
    EXPECT_EQ(sats->Value(), "---");
    GoodFix();
    EXPECT_EQ(sats->Value(), "7") << "GGA's count alone, before any table";
    Feed("GPGSA,A,3,02,05,12,15,19,24,25,,,,,,1.6,0.9,1.3");
    Feed("GPGSV,2,1,08,02,45,120,40,05,30,200,35,12,10,300,20,15,05,010,22");
    Feed("GPGSV,2,2,08,19,60,090,44,24,15,250,30,25,33,044,38,29,02,330,");
    EXPECT_EQ(sats->Value(), "7/8");
    EXPECT_EQ(sats->Units(), "in use/view");

    // No fix, but tables keep coming: the receiver is searching, the counts stay.
    for (int second = 0; second < 3; ++second) {
        Feed("GPRMC,134508.00,V,5033.000,N,00300.000,W,6.0,245.0,140626,,,N");
        Feed("GPGSV,1,1,09,02,45,120,40,05,30,200,35,12,10,300,20");
        Pulses(NReadouts::kSatelliteTableTicks - 1);
        EXPECT_EQ(sats->Value(), "7/9") << second;
    }

    // The receiver falls silent: the counts go.
    Pulses(1);
    EXPECT_EQ(sats->Value(), "---");
}

TEST_F(Readouts, CompassHeadingIsAnInstrumentWithItsOwnTimeout) {
    Text* hdg = MakeText(47);
    EXPECT_EQ(hdg->Value(), "---");
    CDefaultUnits::u.bearing_mode = 1;  // the sensor's own (magnetic) heading, whatever the variation
    UnitsChanged();
    Feed("HCHDG,100.0,,,2.0,E");
    EXPECT_EQ(hdg->Value(), "100");
    EXPECT_EQ(hdg->Units(), "\u00B0M");

    // Fixes publish the direction too, but they do not make an old heading fresh.
    Pulses(NReadouts::kInstrumentStaleTicks - 1);
    GoodFix();
    EXPECT_EQ(hdg->Value(), "100");
    Pulses(1);
    EXPECT_EQ(hdg->Value(), "---");

    Feed("HCHDG,900.0,,,2.0,E");  // "no heading"
    EXPECT_EQ(hdg->Value(), "---");
}

TEST_F(Readouts, ApparentWindFollowsTheReferenceField) {
    CDefaultUnits::u.set_unit_family(CUnits::e_nautical_miles);
    UnitsChanged();
    Text* awa = MakeText(34);
    Text* aws = MakeText(35);
    auto* dial = dynamic_cast<NReadouts::CReading*>(Make(100));
    Feed("WIMWV,45.0,R,10.0,M,A");
    EXPECT_EQ(awa->Value(), "45");
    EXPECT_EQ(awa->Units(), "\u00B0 stbd");
    EXPECT_EQ(aws->Value(), "19.4");  // 10 m/s
    EXPECT_EQ(aws->Units(), "kts");
    EXPECT_TRUE(dial->HasReading());
    Feed("WIMWV,315.0,R,12.0,N,A");
    EXPECT_EQ(awa->Value(), "45");
    EXPECT_EQ(awa->Units(), "\u00B0 port");
    // True wind, an invalid sentence or an unknown reference is not the apparent wind.
    Feed("WIMWV,90.0,T,15.0,N,A");
    Feed("WIMWV,10.0,R,3.0,N,V");
    Feed("WIMWV,10.0,X,3.0,N,A");
    EXPECT_EQ(awa->Value(), "45");
    EXPECT_EQ(aws->Value(), "12.0");
}

TEST_F(Readouts, TrueWindIsTheWindOverTheWater) {
    CDefaultUnits::u.set_unit_family(CUnits::e_nautical_miles);
    UnitsChanged();
    Text* twd = MakeText(86);
    Text* tws = MakeText(87);
    Text* range = MakeText(112);
    Text* gust = MakeText(113);
    auto* dial = dynamic_cast<NReadouts::CReading*>(Make(99));

    // Apparent wind alone: without the boat's speed there is no true wind.
    Feed("WIMWV,90.0,R,10.0,N,A");
    EXPECT_EQ(tws->Value(), "---");
    // 10 knots apparent on the beam at 5 knots through the water: 11.2 knots from
    // 116.6 degrees off the bow; heading 100 makes it blow from 217.
    Feed("VWVHW,,T,,M,5.0,N,,");
    Feed("HCHDG,100.0,,,,");
    Feed("WIMWV,90.0,R,10.0,N,A");
    EXPECT_EQ(tws->Value(), "11.2");
    EXPECT_EQ(twd->Value(), "217");
    EXPECT_TRUE(dial->HasReading());
    // A fair tide (6 knots over the ground) does not blow: the log's speed counts.
    GoodFix();
    Feed("WIMWV,90.0,R,10.0,N,A");
    EXPECT_EQ(tws->Value(), "11.2");
    Feed("WIMWV,90.0,R,14.0,N,A");
    EXPECT_EQ(gust->Value(), "14.9");
    EXPECT_EQ(range->Value(), "11.2-14.9");

    // The log and the compass fall silent: speed and course over the ground stand in.
    Pulses(NReadouts::kInstrumentStaleTicks);
    EXPECT_EQ(range->Value(), "---");
    GoodFix("134600.00");
    Feed("WIMWV,90.0,R,10.0,N,A");
    EXPECT_EQ(tws->Value(), "11.7");
    EXPECT_EQ(twd->Value(), "006");  // 245 + 121

    // An instrument that sends the true wind is believed over any computation.
    Feed("WIMWV,30.0,T,8.0,N,A");
    Feed("WIMWV,90.0,R,10.0,N,A");
    EXPECT_EQ(tws->Value(), "8.0");
    EXPECT_EQ(twd->Value(), "275");
    Feed("WIMWD,200.0,T,198.0,M,14.0,N,7.2,M");
    EXPECT_EQ(twd->Value(), "200");
    EXPECT_EQ(tws->Value(), "14.0");
}

TEST_F(Readouts, InstrumentsBlankAfterTenSecondsWithoutTheirSentence) {
    Text* awa = MakeText(34);
    Text* depth = MakeText(36);
    Feed("WIMWV,30.0,R,10.0,N,A");
    Feed("SDDPT,4.2,0.5");
    Pulses(NReadouts::kInstrumentStaleTicks - 1);
    EXPECT_EQ(awa->Value(), "30");
    Feed("SDDPT,4.2,0.5");  // the sounder keeps talking, the wind instrument not
    Pulses(1);
    EXPECT_EQ(awa->Value(), "---");
    EXPECT_NE(depth->Value(), "---");
    Feed("WIMWV,31.0,R,10.0,N,A");
    EXPECT_EQ(awa->Value(), "31");
}

TEST_F(Readouts, BoatInstrumentsTakeTheirSentences) {
    CUnits& u = CDefaultUnits::u;
    u.set_unit_family(CUnits::e_nautical_miles);
    u.depth_units = 1;  // metres
    u.temperature_unit = 0;
    UnitsChanged();
    Text* speed = MakeText(33);
    Text* depth = MakeText(36);
    Text* temp = MakeText(78);
    Text* rudder = MakeText(80);
    Text* avgRudder = MakeText(81);
    Text* rpm = MakeText(82);
    Text* mast = MakeText(94);
    Text* baro = MakeText(95);

    Feed("VWVHW,,T,,M,5.5,N,10.2,K");
    EXPECT_EQ(speed->Value(), "5.5");
    Feed("VWVHW,,T,,M,,,,");  // no valid speed: the old one stands until it is stale
    EXPECT_EQ(speed->Value(), "5.5");

    Feed("SDDPT,4.2,0.5");  // to the waterline: depth of water
    EXPECT_EQ(depth->Value(), "4.7");
    EXPECT_EQ(depth->Units(), "m");
    Feed("SDDPT,4.2,-1.0");  // to the keel: water under the keel
    EXPECT_EQ(depth->Value(), "3.2");
    Feed("SDDBT,26.2,f,8.0,M,4.4,F");
    EXPECT_EQ(depth->Value(), "8.0");
    Feed("SDDPT,0.0,0.5");  // bottom lost: not a depth of 0.5 m
    EXPECT_EQ(depth->Value(), "8.0");
    u.depth_units = 0;
    UnitsChanged();
    EXPECT_EQ(depth->Value(), "26");
    EXPECT_EQ(depth->Units(), "ft");

    Feed("YXMTW,18.5,C");
    EXPECT_EQ(temp->Value(), "18.5");
    EXPECT_EQ(temp->Units(), "\u00B0C");
    u.temperature_unit = 1;
    UnitsChanged();
    EXPECT_EQ(temp->Value(), "65.3");

    Feed("IIRSA,5.0,A,,");
    EXPECT_EQ(rudder->Value(), "5.0");
    EXPECT_EQ(rudder->Units(), "\u00B0 stbd");
    Feed("IIRSA,-3.0,A,,");
    EXPECT_EQ(rudder->Value(), "3.0");
    EXPECT_EQ(rudder->Units(), "\u00B0 port");
    // The average moves slowly towards the new angle.
    EXPECT_EQ(avgRudder->Units(), "\u00B0 stbd");
    EXPECT_NE(avgRudder->Value(), "---");

    Feed("ERRPM,E,1,2200,10.5,A");
    EXPECT_EQ(rpm->Value(), "2200");
    EXPECT_EQ(rpm->Units(), "rpm");

    Feed("IIXDR,A,-12.0,D,MAST,P,1.0132,B,Barometer");
    EXPECT_EQ(mast->Value(), "12");
    EXPECT_EQ(mast->Units(), "\u00B0 port");
    EXPECT_EQ(baro->Value(), "1013.2");
    EXPECT_EQ(baro->Units(), "hPa");
    // Heel is an angle too, but not the mast; pressure in pascals reads the same.
    Feed("IIXDR,A,20.0,D,HEEL,P,101500,P,BARO");
    EXPECT_EQ(mast->Value(), "12");
    EXPECT_EQ(baro->Value(), "1015.0");
}

TEST_F(Readouts, ItemsOnAPageUpdateLiveAndLetGoWhenThePageCloses) {
    CDisplayView page;
    Settings* s = page.AddItem(Type::findType(42), 0, 0, 2, 4);
    ASSERT_NE(s, nullptr);
    FakePageWindow pageWindow(400, 200);
    page.Attach(pageWindow, {});
    auto* text = dynamic_cast<Text*>(page.Arrangement().FindItem(s));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Value(), "---");
    GoodFix();
    EXPECT_EQ(text->Value(), "6.9");
    page.DetachFromWindow();
    EXPECT_TRUE(pageWindow.live.empty());
    GoodFix("134510.00");  // nobody left listening through the destroyed item
}

TEST_F(Readouts, SpeedometerScaleAndNeedle) {
    EXPECT_EQ(NReadouts::SpeedometerScale(0), 10);
    EXPECT_EQ(NReadouts::SpeedometerScale(6.9), 10);
    EXPECT_EQ(NReadouts::SpeedometerScale(10.01), 15);
    EXPECT_EQ(NReadouts::SpeedometerScale(1e9), 1000);
    EXPECT_DOUBLE_EQ(NReadouts::SpeedometerNeedleAngle(0, 10), 225);
    EXPECT_DOUBLE_EQ(NReadouts::SpeedometerNeedleAngle(5, 10), 90);
    EXPECT_DOUBLE_EQ(NReadouts::SpeedometerNeedleAngle(12, 10), -45);
    EXPECT_DOUBLE_EQ(NReadouts::SpeedometerNeedleAngle(-1, 10), 225);

    CDisplayView::CItem* dial = Make(102);
    auto redPixels = [&] {
        QImage img(200, 200, QImage::Format_ARGB32);
        img.fill(Qt::white);
        QPainter p(&img);
        dial->Draw(p, 200, 200);
        p.end();
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                if (c.red() > 150 && c.green() < 60 && c.blue() < 60) ++n;
            }
        return n;
    };
    EXPECT_EQ(redPixels(), 0) << "no needle without a fix";
    auto* adaptor = static_cast<FakeAdaptor*>(dial->Window());
    const int before = adaptor->invalidated;
    GoodFix();
    EXPECT_GT(adaptor->invalidated, before);
    EXPECT_GT(redPixels(), 50);
    // Degenerate sizes draw nothing and do not fail.
    QImage tiny(2, 2, QImage::Format_ARGB32);
    QPainter p(&tiny);
    dial->Draw(p, 0, -5);
}

}  // namespace
