// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The parsed sentence records. Each is published to Listener<Record> when a sentence of
// its type arrives and somebody listens; records are pooled and reused, so a field that
// a sentence does not set keeps the value of an earlier sentence of the same type.
// Units: angles degrees, speeds knots, depths metres, unless a field says otherwise.

#include <cstdint>

#include "navdata/nmea_sentence.h"

namespace CNMEA_GPS {

// $--RMC,hhmmss.ss,A,llll.ll,a,yyyyy.yy,a,x.x,x.x,ddmmyy,x.x,a,m*hh
//        1         2 3       4 5        6 7   8   9      10  11 12
struct RMC : CNMEASentence {
    char talker = 0;  // second character of the talker ('P' GPS, 'N' combined, ...)
    bool valid = false;
    double latitude = 0;
    double longitude = 0;
    double time = 0;  // seconds since the epoch; the day is 0 when the date is empty
    float speed = 0;
    float course = 0;
    float variation = 0;  // east negative
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--GGA,hhmmss.ss,llll.ll,a,yyyyy.yy,a,q,nn,h.h,alt,M,geoid,M,age,ref*hh
//        1         2       3 4        5 6 7  8   9   10 ...
struct GGA : CNMEASentence {
    char talker = 0;
    int quality = 0;
    double latitude = 0;
    double longitude = 0;
    float altitude = 0;  // metres
    float hdop = 0;
    int satellites = 0;  // in use
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--VTG,course,T,course,M,speed,N,speed,K,mode*hh
//        1      2 3      4 5     6 ...
struct VTG : CNMEASentence {
    char talker = 0;
    float course = 0;  // true
    float speed = 0;   // knots
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--GSA,mode,fix,sv1..sv12,pdop,hdop,vdop*hh
//        1    2   3..14     15   16   17
struct GSA : CNMEASentence {
    char talker = 0;
    char mode = 0;
    uint8_t fix_type = 0;
    uint8_t satellites[12] = {};  // 0 = empty slot
    float pdop = 0;
    float hdop = 0;
    float vdop = 0;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--GSV,messages,number,in_view,{prn,elevation,azimuth,snr}x4*hh
//        1        2      3       4..19
struct GSV : CNMEASentence {
    struct Satellite {
        int prn = 0;
        int elevation = 0;
        int azimuth = 0;
        int snr = 0;
    };
    char talker = 0;
    int messages = 0;
    int message_number = 0;
    int in_view = 0;
    Satellite satellites[4];
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

}  // namespace CNMEA_GPS

namespace CNMEA_Instruments {

// $--MWV,angle,R|T,speed,unit(K|M|N|S),A|V*hh
struct MWV : CNMEASentence {
    enum { kApparent = 0, kTrue = 1 };
    float angle = 0;
    float speed = 0;    // knots, whatever unit the sentence used
    int reference = 0;  // kApparent or kTrue
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--MWD,dir,T,dir,M,knots,N,m/s,M*hh
struct MWD : CNMEASentence {
    float direction = 0;  // true
    float speed = 0;      // knots
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--VHW,heading,T,heading,M,knots,N,km/h,K*hh
struct VHW : CNMEASentence {
    bool speed_valid = false;
    float speed = 0;  // through the water
    bool heading_valid = false;
    float heading = 0;  // magnetic
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--HDG,heading,deviation,E|W,variation,E|W*hh
struct HDG : CNMEASentence {
    float heading = 0;    // sensor heading
    float deviation = 0;  // west negative
    float variation = 0;  // west negative
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--DPT,depth,offset[,range]*hh; a positive offset is to the waterline, negative to the keel.
struct DPT : CNMEASentence {
    float depth = 0;  // below the transducer
    float offset_waterline = 0;
    float offset_keel = 0;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--DBT,feet,f,metres,M,fathoms,F*hh
struct DBT : CNMEASentence {
    float depth = 0;  // below the transducer
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--MTW,temperature,C*hh
struct MTW : CNMEASentence {
    float temperature = 0;  // Celsius
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--RSA,starboard,A|V,port,A|V*hh. The record is reused, so the average runs across
// sentences; a new record starts it at the first angle.
struct RSA : CNMEASentence {
    float angle = 0;
    float average = 0;
    float factor = 0;
    void Update(float value);
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--RPM,S|E,engine,rpm,pitch,A|V*hh
struct RPM : CNMEASentence {
    float engine1 = 0;
    float engine2 = 0;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--XDR,type,value,unit,name[,type,value,unit,name]*hh
struct XDR : CNMEASentence {
    static constexpr int kNameSize = 32;
    struct Measurement {
        char type = 0;
        double value = 0;
        char name[kNameSize] = {};
    };
    int count = 0;  // 1 or 2 quadruples in the last sentence
    Measurement measurements[2];
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

}  // namespace CNMEA_Instruments

namespace CNEMA_AIS {

// !--VDM,count,number,sequence,channel,payload,fill*hh. The fragments of a message are
// collected in order (a few messages may be under way at once, told apart by sentence,
// sequential identifier and channel); a message is decoded at its last fragment, and the
// earlier fragments are published with message type 0. A fragment out of order is
// refused and drops its message.
struct CAIS_Sentence : CNMEASentence {
    static constexpr int kTextSize = 24;
    static constexpr int kMaxBits = 992;

    char channel = 0;
    uint8_t message_type = 0;  // 0 while a multi-fragment message is incomplete
    uint32_t mmsi = 0;

    // Position reports (types 1-3, 9, 18, 19; position also in 4, 11, 21).
    uint8_t nav_status = 0;
    float rate_of_turn = 0;  // degrees per minute
    bool rate_of_turn_valid = false;
    float speed = 0;
    double latitude = 0;
    double longitude = 0;
    float course = 0;
    int heading = 511;  // 511 = none
    int second = 0;
    int altitude = 0;  // type 9, metres

    // Base station / UTC response (types 4, 11).
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;

    // Static data (types 5, 19, 21, 24).
    uint32_t imo = 0;
    char callsign[8] = {};
    char name[21] = {};
    char vendor[8] = {};
    uint8_t ship_type = 0;
    char ship_type_text[kTextSize + 1] = {};
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
    int eta_month = 0, eta_day = 0, eta_hour = 0, eta_minute = 0;
    float draught = 0;  // metres
    char destination[21] = {};
    int aid_type = 0;
    int part_number = 0;  // type 24

    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;

    static int decode_sixbit(int c);
    static void append_sixbits(int value);
    static uint32_t fetch_bits(int& position, int count);
    static int32_t fetch_bits_signed(int& position, int count);
    static void fetch_string(char* out, int& position, int bits);
    static void decode_type(unsigned char type, char* out);

private:
    void DecodeMessage();
};

struct VDM : CAIS_Sentence {};
struct VDO : CAIS_Sentence {};

}  // namespace CNEMA_AIS

namespace CNMEA_DSC {

// $--DSC,format,address,category,nature|tc1,tc2,position,time,field8,field9,ack,E*hh
struct DSC : CNMEASentence {
    int format = 0;  // 12 = distress
    uint32_t mmsi = 0;
    uint8_t category = 0;
    uint8_t nature = 0;  // nature of distress or first telecommand
    uint8_t telecommand2 = 0;
    double latitude = -999;
    double longitude = -999;
    int quadrant = 0;
    int time = 0;         // hhmm
    uint32_t field8 = 0;  // a relayed call carries the casualty's MMSI here
    char field9 = 0;
    bool expansion = false;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $--DSE,total,number,Q|R|A,address,code,data[,code,data]*hh
struct DSE : CNMEASentence {
    enum { kEnhancedPosition = 1, kCourse = 2, kSpeed = 4 };
    int total = 0;
    int number = 0;
    char query = 0;
    uint32_t mmsi = 0;
    int flags = 0;
    int latitude_digits = 0;   // 1/10000 minute, added to the call's position
    int longitude_digits = 0;  // 1/10000 minute
    float course = 0;
    float speed = 0;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// Reads an address field: ten digits ending in "0" are a nine-digit MMSI.
uint32_t ParseMMSI(const char* field);

}  // namespace CNMEA_DSC

namespace NMEA_PNVI {

// $PNVI,SetStartTimer,start,state*hh
struct SetStartTimer : CNMEASentence {
    double start_time = 0;
    int state = 0;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $PNVI,SetStartLine,left_lat,left_lon,right_lat,right_lon*hh
struct SetStartLine : CNMEASentence {
    double left_latitude = 0;
    double left_longitude = 0;
    double right_latitude = 0;
    double right_longitude = 0;
    bool Init(char* text) override;
    void Fields(CNMEAFieldVisitor& v) const override;
};

// $PNVI,ACKALLALERTS*hh
struct AcknowledgeNotifications : CNMEASentence {
    bool Init(char* text) override;
};

}  // namespace NMEA_PNVI
