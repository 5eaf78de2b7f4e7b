// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/nmea_records.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

extern const int g_nmea_records_anchor;
const int g_nmea_records_anchor = 0;

namespace {

// Numbers read as C does: an empty or unreadable field is 0.
// Beyond the range of a float the conversion itself would be undefined.
float ToFloat(double v) {
    if (v > FLT_MAX) return HUGE_VALF;
    if (v < -FLT_MAX) return -HUGE_VALF;
    return static_cast<float>(v);
}
float Float(const char* field) {
    return ToFloat(std::strtod(field, nullptr));
}
double Double(const char* field) {
    return std::strtod(field, nullptr);
}
long Long(const char* field) {
    return std::strtol(field, nullptr, 10);
}
int Int(const char* field) {
    const long v = Long(field);
    if (v > 2147483647L) return 2147483647;
    if (v < -2147483647L) return -2147483647;
    return static_cast<int>(v);
}
uint8_t Byte(const char* field) {
    return static_cast<uint8_t>(Long(field) & 0xFF);
}
bool Is(const char* field, char c) {
    return field[0] == c && field[1] == '\0';
}
char Talker(const char* address) {
    return address[0] && address[1] ? address[2] : 0;
}

// The modes of an RMC that say the fix is usable even when the status says "V": some
// receivers only fill the mode indicator.
bool UsableMode(const char* mode) {
    switch (mode[0]) {
        case 'A':  // autonomous
        case 'D':  // differential
        case 'P':  // precise
        case 'R':  // RTK
        case 'F':  // float RTK
            return true;
        default:
            return false;
    }
}

// Standard sentences: the pattern follows "$" and the two-character talker.
CNMEASentenceTypeOf<CNMEA_GPS::RMC> s_rmc(3, "RMC");
CNMEASentenceTypeOf<CNMEA_GPS::GGA> s_gga(3, "GGA");
CNMEASentenceTypeOf<CNMEA_GPS::VTG> s_vtg(3, "VTG");
CNMEASentenceTypeOf<CNMEA_GPS::GSA> s_gsa(3, "GSA");
CNMEASentenceTypeOf<CNMEA_GPS::GSV> s_gsv(3, "GSV");
CNMEASentenceTypeOf<CNMEA_Instruments::MWV> s_mwv(3, "MWV");
CNMEASentenceTypeOf<CNMEA_Instruments::MWD> s_mwd(3, "MWD");
CNMEASentenceTypeOf<CNMEA_Instruments::VHW> s_vhw(3, "VHW");
CNMEASentenceTypeOf<CNMEA_Instruments::HDG> s_hdg(3, "HDG");
CNMEASentenceTypeOf<CNMEA_Instruments::DPT> s_dpt(3, "DPT");
CNMEASentenceTypeOf<CNMEA_Instruments::DBT> s_dbt(3, "DBT");
CNMEASentenceTypeOf<CNMEA_Instruments::MTW> s_mtw(3, "MTW");
CNMEASentenceTypeOf<CNMEA_Instruments::RSA> s_rsa(3, "RSA");
CNMEASentenceTypeOf<CNMEA_Instruments::RPM> s_rpm(3, "RPM");
CNMEASentenceTypeOf<CNMEA_Instruments::XDR> s_xdr(3, "XDR");
CNMEASentenceTypeOf<CNMEA_DSC::DSC> s_dsc(3, "DSC");
CNMEASentenceTypeOf<CNMEA_DSC::DSE> s_dse(3, "DSE");
// Our own sentences, matched right after "$".
CNMEASentenceTypeOf<NMEA_PNVI::SetStartTimer> s_startTimer(1, "PNVI,SetStartTimer");
CNMEASentenceTypeOf<NMEA_PNVI::SetStartLine> s_startLine(1, "PNVI,SetStartLine");
CNMEASentenceTypeOf<NMEA_PNVI::AcknowledgeNotifications> s_ackAlerts(1, "PNVI,ACKALLALERTS");

}  // namespace

// ---------------------------------------------------------------------------------------
// GPS

bool CNMEA_GPS::RMC::Init(char* text) {
    char* f[13];
    SplitArgs(text, 13, f);
    talker = Talker(f[0]);
    valid = Is(f[2], 'A') || UsableMode(f[12]);
    latitude = GetLat(f + 3);
    longitude = GetLon(f + 5);
    time = GetDate(f[9]) + GetUTC(f[1]);
    speed = Float(f[7]);
    course = Float(f[8]);
    variation = Float(f[10]);
    if (Is(f[11], 'E')) variation = -variation;
    return true;
}

void CNMEA_GPS::RMC::Fields(CNMEAFieldVisitor& v) const {
    v.Field("valid", valid);
    v.Field("lat", latitude);
    v.Field("lon", longitude);
    v.Field("time", time);
    v.Field("speed", speed);
    v.Field("course", course);
    v.Field("variation", variation);
}

bool CNMEA_GPS::GGA::Init(char* text) {
    char* f[14];
    SplitArgs(text, 14, f);
    talker = Talker(f[0]);
    quality = Int(f[6]);
    latitude = GetLat(f + 2);
    longitude = GetLon(f + 4);
    satellites = Int(f[7]);
    hdop = Float(f[8]);
    altitude = Float(f[9]);
    return true;
}

void CNMEA_GPS::GGA::Fields(CNMEAFieldVisitor& v) const {
    v.Field("quality", quality);
    v.Field("lat", latitude);
    v.Field("lon", longitude);
    v.Field("altitude", altitude);
    v.Field("hdop", hdop);
    v.Field("satellites", satellites);
}

bool CNMEA_GPS::VTG::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    talker = Talker(f[0]);
    course = Float(f[1]);
    speed = Float(f[5]);
    return true;
}

void CNMEA_GPS::VTG::Fields(CNMEAFieldVisitor& v) const {
    v.Field("course", course);
    v.Field("speed", speed);
}

bool CNMEA_GPS::GSA::Init(char* text) {
    char* f[18];
    SplitArgs(text, 18, f);
    talker = Talker(f[0]);
    mode = f[1][0];
    fix_type = Byte(f[2]);
    for (int i = 0; i < 12; ++i) satellites[i] = Byte(f[3 + i]);
    pdop = Float(f[15]);
    hdop = Float(f[16]);
    vdop = Float(f[17]);
    return true;
}

void CNMEA_GPS::GSA::Fields(CNMEAFieldVisitor& v) const {
    v.Field("mode", mode);
    v.Field("fix", int(fix_type));
    v.Field("satellites", CNMEAField(satellites, 12));
    v.Field("pdop", pdop);
    v.Field("hdop", hdop);
    v.Field("vdop", vdop);
}

bool CNMEA_GPS::GSV::Init(char* text) {
    char* f[20];
    SplitArgs(text, 20, f);
    talker = Talker(f[0]);
    messages = Int(f[1]);
    message_number = Int(f[2]);
    in_view = Int(f[3]);
    for (int j = 0; j < 4; ++j) {
        Satellite& s = satellites[j];
        s.prn = Int(f[4 + 4 * j]);
        s.elevation = Int(f[5 + 4 * j]);
        s.azimuth = Int(f[6 + 4 * j]);
        s.snr = Int(f[7 + 4 * j]);
    }
    return true;
}

void CNMEA_GPS::GSV::Fields(CNMEAFieldVisitor& v) const {
    static const char* const kNames[4][4] = {{"prn1", "el1", "az1", "snr1"},
                                             {"prn2", "el2", "az2", "snr2"},
                                             {"prn3", "el3", "az3", "snr3"},
                                             {"prn4", "el4", "az4", "snr4"}};
    v.Field("messages", messages);
    v.Field("number", message_number);
    v.Field("in_view", in_view);
    for (int i = 0; i < 4; ++i) {
        if (!satellites[i].prn) continue;
        v.Field(kNames[i][0], satellites[i].prn);
        v.Field(kNames[i][1], satellites[i].elevation);
        v.Field(kNames[i][2], satellites[i].azimuth);
        v.Field(kNames[i][3], satellites[i].snr);
    }
}

// ---------------------------------------------------------------------------------------
// Instruments

bool CNMEA_Instruments::MWV::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    if (!Is(f[5], 'A')) return false;
    if (Is(f[2], 'R')) {
        reference = kApparent;
    } else if (Is(f[2], 'T')) {
        reference = kTrue;
    } else {
        return false;
    }
    angle = Float(f[1]);
    float value = Float(f[3]);
    switch (f[4][0]) {
        case 'K':
            value *= 0.5399568f;
            break;
        case 'S':
            value /= 1.1507795f;  // statute miles per hour
            break;
        case 'M':
            value = ToFloat(value * 3600.0 / 1852.0);
            break;
        default:
            break;
    }
    speed = value;
    return true;
}

void CNMEA_Instruments::MWV::Fields(CNMEAFieldVisitor& v) const {
    v.Field("angle", angle);
    v.Field("speed", speed);
    v.Field("reference", reference == kTrue ? "T" : "R");
}

bool CNMEA_Instruments::MWD::Init(char* text) {
    char* f[8];
    SplitArgs(text, 8, f);
    if (!Is(f[2], 'T') || !Is(f[6], 'N')) return false;
    direction = Float(f[1]);
    speed = Float(f[5]);
    return true;
}

void CNMEA_Instruments::MWD::Fields(CNMEAFieldVisitor& v) const {
    v.Field("direction", direction);
    v.Field("speed", speed);
}

bool CNMEA_Instruments::VHW::Init(char* text) {
    char* f[7];
    SplitArgs(text, 7, f);
    speed_valid = Is(f[6], 'N');
    if (speed_valid) speed = Float(f[5]);
    heading_valid = Is(f[4], 'M');
    if (heading_valid) heading = Float(f[3]);
    return speed_valid || heading_valid;
}

void CNMEA_Instruments::VHW::Fields(CNMEAFieldVisitor& v) const {
    if (speed_valid) v.Field("speed", speed);
    if (heading_valid) v.Field("heading", heading);
}

bool CNMEA_Instruments::HDG::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    heading = Float(f[1]);
    deviation = Float(f[2]);
    if (Is(f[3], 'W')) deviation = -deviation;
    variation = Float(f[4]);
    if (Is(f[5], 'W')) variation = -variation;
    return true;
}

void CNMEA_Instruments::HDG::Fields(CNMEAFieldVisitor& v) const {
    v.Field("heading", heading);
    v.Field("deviation", deviation);
    v.Field("variation", variation);
}

bool CNMEA_Instruments::DPT::Init(char* text) {
    char* f[3];
    SplitArgs(text, 3, f);
    depth = Float(f[1]);
    const float offset = Float(f[2]);
    offset_waterline = offset >= 0 ? offset : 0.0f;
    offset_keel = offset < 0 ? -offset : 0.0f;
    return true;
}

void CNMEA_Instruments::DPT::Fields(CNMEAFieldVisitor& v) const {
    v.Field("depth", depth);
    v.Field("offset_waterline", offset_waterline);
    v.Field("offset_keel", offset_keel);
}

bool CNMEA_Instruments::DBT::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    if (!Is(f[4], 'M')) return false;
    depth = Float(f[3]);
    return true;
}

void CNMEA_Instruments::DBT::Fields(CNMEAFieldVisitor& v) const {
    v.Field("depth", depth);
}

bool CNMEA_Instruments::MTW::Init(char* text) {
    char* f[3];
    SplitArgs(text, 3, f);
    if (!Is(f[2], 'C')) return false;
    temperature = Float(f[1]);
    return true;
}

void CNMEA_Instruments::MTW::Fields(CNMEAFieldVisitor& v) const {
    v.Field("temperature", temperature);
}

void CNMEA_Instruments::RSA::Update(float value) {
    average = (1.0f - factor) * value + factor * average;
    factor = 0.9885f;
    angle = value;
}

bool CNMEA_Instruments::RSA::Init(char* text) {
    char* f[3];
    SplitArgs(text, 3, f);
    if (!Is(f[2], 'A')) return false;
    Update(Float(f[1]));
    return true;
}

void CNMEA_Instruments::RSA::Fields(CNMEAFieldVisitor& v) const {
    v.Field("angle", angle);
    v.Field("average", average);
}

bool CNMEA_Instruments::RPM::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    if (!Is(f[5], 'A')) return false;
    const long engine = Long(f[2]);
    if (engine == 0 || engine == 1) {
        engine1 = Float(f[3]);
    } else if (engine == 2) {
        engine2 = Float(f[3]);
    }
    return true;
}

void CNMEA_Instruments::RPM::Fields(CNMEAFieldVisitor& v) const {
    v.Field("engine1", engine1);
    v.Field("engine2", engine2);
}

bool CNMEA_Instruments::XDR::Init(char* text) {
    char* f[10];
    SplitArgs(text, 10, f);
    count = 1;
    measurements[0].type = f[1][0];
    measurements[0].value = Double(f[2]);
    strncpy_to_TCHAR(measurements[0].name, f[4], kNameSize);
    if (f[5][0] != '\0') {
        count = 2;
        measurements[1].type = f[5][0];
        measurements[1].value = Double(f[6]);
        strncpy_to_TCHAR(measurements[1].name, f[8], kNameSize);
    }
    return true;
}

void CNMEA_Instruments::XDR::Fields(CNMEAFieldVisitor& v) const {
    static const char* const kNames[2][3] = {{"type1", "value1", "name1"}, {"type2", "value2", "name2"}};
    for (int i = 0; i < count && i < 2; ++i) {
        v.Field(kNames[i][0], measurements[i].type);
        v.Field(kNames[i][1], measurements[i].value);
        v.Field(kNames[i][2], measurements[i].name);
    }
}

// ---------------------------------------------------------------------------------------
// DSC

uint32_t CNMEA_DSC::ParseMMSI(const char* field) {
    const size_t length = std::strlen(field);
    char digits[16];
    CNMEASentence::strncpy_to_TCHAR(digits, field, sizeof digits);
    if (length == 10 && field[9] == '0') digits[9] = '\0';
    const unsigned long long value = std::strtoull(digits, nullptr, 10);
    return value > 0xFFFFFFFFull ? 0u : static_cast<uint32_t>(value);
}

bool CNMEA_DSC::DSC::Init(char* text) {
    char* f[12];
    SplitArgs(text, 12, f);
    format = Int(f[1]);
    mmsi = ParseMMSI(f[2]);
    category = Byte(f[3]);
    nature = Byte(f[4]);
    telecommand2 = Byte(f[5]);
    const char* pos = f[6];
    bool tenDigits = std::strlen(pos) == 10;
    for (int i = 0; tenDigits && i < 10; ++i) tenDigits = pos[i] >= '0' && pos[i] <= '9';
    if (tenDigits) {
        auto number = [pos](int from, int count) {
            int v = 0;
            for (int i = from; i < from + count; ++i) v = v * 10 + (pos[i] - '0');
            return v;
        };
        quadrant = number(0, 1);
        latitude = number(1, 2) + number(3, 2) / 60.0;
        longitude = number(5, 3) + number(8, 2) / 60.0;
        if (quadrant & 1) longitude = -longitude;
        if (quadrant & 2) latitude = -latitude;
    } else {
        quadrant = 0;
        latitude = -999;
        longitude = -999;
    }
    time = Int(f[7]);
    field8 = ParseMMSI(f[8]);
    field9 = f[9][0];
    // Radios put the expansion mark after the acknowledgement character; accept it in
    // either of the last two fields.
    expansion = Is(f[11], 'E') || Is(f[10], 'E');
    return true;
}

void CNMEA_DSC::DSC::Fields(CNMEAFieldVisitor& v) const {
    v.Field("format", format);
    v.Field("mmsi", unsigned(mmsi));
    v.Field("category", int(category));
    v.Field("nature", int(nature));
    v.Field("lat", latitude);
    v.Field("lon", longitude);
    v.Field("time", time);
    v.Field("expansion", expansion);
}

bool CNMEA_DSC::DSE::Init(char* text) {
    char* f[13];
    SplitArgs(text, 13, f);
    total = Int(f[1]);
    number = Int(f[2]);
    query = f[3][0];
    mmsi = ParseMMSI(f[4]);
    flags = 0;
    for (int pair = 0; pair < 4; ++pair) {
        const char* code = f[5 + 2 * pair];
        if (code[0] == '\0') break;
        const char* data = f[6 + 2 * pair];
        switch (Int(code)) {
            case 0: {
                char lat[5];
                CNMEASentence::strncpy_to_TCHAR(lat, data, sizeof lat);
                latitude_digits = Int(lat);
                longitude_digits = std::strlen(data) > 4 ? Int(data + 4) : 0;
                flags |= kEnhancedPosition;
                break;
            }
            case 3:
                course = ToFloat(Double(data) / 10.0);
                flags |= kCourse;
                break;
            case 2:
                speed = ToFloat(Double(data) / 10.0);
                flags |= kSpeed;
                break;
            default:
                break;
        }
    }
    return true;
}

void CNMEA_DSC::DSE::Fields(CNMEAFieldVisitor& v) const {
    v.Field("total", total);
    v.Field("number", number);
    v.Field("mmsi", unsigned(mmsi));
    if (flags & kEnhancedPosition) {
        v.Field("lat_digits", latitude_digits);
        v.Field("lon_digits", longitude_digits);
    }
    if (flags & kCourse) v.Field("course", course);
    if (flags & kSpeed) v.Field("speed", speed);
}

// ---------------------------------------------------------------------------------------
// Our own sentences

bool NMEA_PNVI::SetStartTimer::Init(char* text) {
    char* f[4];
    SplitArgs(text, 4, f);
    start_time = Double(f[2]);
    state = Int(f[3]);
    return true;
}

void NMEA_PNVI::SetStartTimer::Fields(CNMEAFieldVisitor& v) const {
    v.Field("start", start_time);
    v.Field("state", state);
}

bool NMEA_PNVI::SetStartLine::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    left_latitude = Double(f[2]);
    left_longitude = Double(f[3]);
    right_latitude = Double(f[4]);
    right_longitude = Double(f[5]);
    return true;
}

void NMEA_PNVI::SetStartLine::Fields(CNMEAFieldVisitor& v) const {
    v.Field("left_lat", left_latitude);
    v.Field("left_lon", left_longitude);
    v.Field("right_lat", right_latitude);
    v.Field("right_lon", right_longitude);
}

bool NMEA_PNVI::AcknowledgeNotifications::Init(char*) {
    return true;
}
