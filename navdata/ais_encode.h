// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Our own AIS encoder: builds messages bit by bit as ITU-R M.1371 lays them out and
// armours them into "!AIVDM" sentences. It makes the demo traffic, the drills, test
// cases and benchmark logs; the decoder in nmea_records_ais.cpp reads them back.
//
// Values are in engineering units; the sentinels a transponder sends for "not
// available" are the defaults (or, for speed and course, any negative value).

#include <cstdint>
#include <string>
#include <vector>

namespace NAisEncode {

// Types 1, 2 and 3.
struct PositionA {
    int type = 1;
    uint32_t mmsi = 0;
    int status = 15;       // 15 = not defined
    int rot_raw = -128;    // signed 8 bits as sent; -128 = not available
    double speed = -1;     // knots; negative = not available (1023)
    bool accuracy = false;
    double lat = 91;       // degrees; 91 = not available
    double lon = 181;
    double course = -1;    // degrees; negative = not available (3600)
    int heading = 511;     // 511 = not available
    int second = 60;       // 60 = not available
};

// Type 5 (two sentences).
struct StaticA {
    uint32_t mmsi = 0;
    uint32_t imo = 0;
    std::string callsign;  // 7 characters at most
    std::string name;      // 20
    int ship_type = 0;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
    int eta_month = 0, eta_day = 0, eta_hour = 24, eta_minute = 60;
    double draught = 0;        // metres
    std::string destination;   // 20
};

// Types 18 (and 19 with `extended`).
struct PositionB {
    uint32_t mmsi = 0;
    double speed = -1;
    double lat = 91;
    double lon = 181;
    double course = -1;
    int heading = 511;
    int second = 60;
    bool extended = false;  // type 19: also name, ship type and size
    std::string name;
    int ship_type = 0;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
};

// Type 24, part A (name) or part B (type, vendor, call sign, size).
struct StaticB {
    uint32_t mmsi = 0;
    int part = 0;
    std::string name;
    int ship_type = 0;
    std::string vendor;
    std::string callsign;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
};

// Type 21.
struct AidToNavigation {
    uint32_t mmsi = 0;
    int aid_type = 0;
    std::string name;
    double lat = 91;
    double lon = 181;
    int to_bow = 0, to_stern = 0, to_port = 0, to_starboard = 0;
};

// Type 9.
struct Aircraft {
    uint32_t mmsi = 0;
    int altitude = 4095;  // metres; 4095 = not available
    int speed = 1023;     // knots
    double lat = 91;
    double lon = 181;
    double course = -1;
    int second = 60;
};

// A message as bits ('0' and '1' characters), then as sentences.
std::string Bits(const PositionA& m);
std::string Bits(const StaticA& m);
std::string Bits(const PositionB& m);
std::string Bits(const StaticB& m);
std::string Bits(const AidToNavigation& m);
std::string Bits(const Aircraft& m);

// Armours the bits into one or more "!<talker>,count,number,sequence,channel,payload,fill"
// sentences with their checksums (no line ends). Payloads are cut at 60 characters so
// that no sentence is longer than 82 characters with its line end; a message that needs
// more than one sentence carries `sequence` (0-9).
std::vector<std::string> Sentences(const std::string& bits, char channel = 'A', int sequence = 0,
                                   const char* talker = "AIVDM");

template <class M>
std::vector<std::string> Encode(const M& message, char channel = 'A', int sequence = 0,
                                const char* talker = "AIVDM") {
    return Sentences(Bits(message), channel, sequence, talker);
}

}  // namespace NAisEncode
