// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/ais_encode.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace NAisEncode {

namespace {

class Writer {
public:
    void Put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) m_bits += ((value >> i) & 1) ? '1' : '0';
    }
    void PutSigned(long long value, int bits) {
        Put(static_cast<uint32_t>(value & ((1LL << bits) - 1)), bits);
    }
    // Six-bit text, padded with "@" (0).
    void PutText(const std::string& text, int chars) {
        for (int i = 0; i < chars; ++i) {
            int c = i < int(text.size()) ? static_cast<unsigned char>(text[size_t(i)]) : '@';
            if (c >= 'a' && c <= 'z') c -= 32;
            if (c < 32 || c > 95) c = '?';
            Put(static_cast<uint32_t>(c >= 64 ? c - 64 : c), 6);
        }
    }
    void Header(int type, uint32_t mmsi) {
        Put(uint32_t(type), 6);
        Put(0, 2);  // repeat indicator
        Put(mmsi, 30);
    }
    void Position(double lat, double lon) {
        PutSigned(std::llround(lon * 600000.0), 28);
        PutSigned(std::llround(lat * 600000.0), 27);
    }
    void Speed(double knots) { Put(knots < 0 ? 1023u : uint32_t(std::min(1022LL, std::llround(knots * 10))), 10); }
    void Course(double degrees) { Put(degrees < 0 ? 3600u : uint32_t(std::llround(degrees * 10)) % 3600u, 12); }
    void Dimensions(int bow, int stern, int port, int starboard) {
        Put(uint32_t(bow), 9);
        Put(uint32_t(stern), 9);
        Put(uint32_t(port), 6);
        Put(uint32_t(starboard), 6);
    }
    std::string Take() { return std::move(m_bits); }

private:
    std::string m_bits;
};

}  // namespace

std::string Bits(const PositionA& m) {
    Writer w;
    w.Header(m.type, m.mmsi);
    w.Put(uint32_t(m.status), 4);
    w.PutSigned(m.rot_raw, 8);
    w.Speed(m.speed);
    w.Put(m.accuracy ? 1 : 0, 1);
    w.Position(m.lat, m.lon);
    w.Course(m.course);
    w.Put(uint32_t(m.heading), 9);
    w.Put(uint32_t(m.second), 6);
    w.Put(0, 2);   // manoeuvre
    w.Put(0, 3);   // spare
    w.Put(0, 1);   // RAIM
    w.Put(0, 19);  // radio status
    return w.Take();
}

std::string Bits(const StaticA& m) {
    Writer w;
    w.Header(5, m.mmsi);
    w.Put(0, 2);  // AIS version
    w.Put(m.imo, 30);
    w.PutText(m.callsign, 7);
    w.PutText(m.name, 20);
    w.Put(uint32_t(m.ship_type), 8);
    w.Dimensions(m.to_bow, m.to_stern, m.to_port, m.to_starboard);
    w.Put(1, 4);  // position fixing device: GPS
    w.Put(uint32_t(m.eta_month), 4);
    w.Put(uint32_t(m.eta_day), 5);
    w.Put(uint32_t(m.eta_hour), 5);
    w.Put(uint32_t(m.eta_minute), 6);
    w.Put(uint32_t(std::llround(m.draught * 10)), 8);
    w.PutText(m.destination, 20);
    w.Put(0, 1);  // DTE
    w.Put(0, 1);  // spare
    return w.Take();
}

std::string Bits(const PositionB& m) {
    Writer w;
    w.Header(m.extended ? 19 : 18, m.mmsi);
    w.Put(0, 8);  // reserved
    w.Speed(m.speed);
    w.Put(0, 1);  // accuracy
    w.Position(m.lat, m.lon);
    w.Course(m.course);
    w.Put(uint32_t(m.heading), 9);
    w.Put(uint32_t(m.second), 6);
    if (!m.extended) {
        w.Put(0, 2);   // regional
        w.Put(1, 1);   // carrier-sense unit
        w.Put(0, 5);   // display, DSC, band, message 22, assigned
        w.Put(0, 1);   // RAIM
        w.Put(0, 20);  // radio status
        return w.Take();
    }
    w.Put(0, 4);  // regional
    w.PutText(m.name, 20);
    w.Put(uint32_t(m.ship_type), 8);
    w.Dimensions(m.to_bow, m.to_stern, m.to_port, m.to_starboard);
    w.Put(1, 4);  // position fixing device
    w.Put(0, 3);  // RAIM, DTE, assigned
    w.Put(0, 4);  // spare
    return w.Take();
}

std::string Bits(const StaticB& m) {
    Writer w;
    w.Header(24, m.mmsi);
    w.Put(uint32_t(m.part), 2);
    if (m.part == 0) {
        w.PutText(m.name, 20);
        w.Put(0, 8);  // spare
        return w.Take();
    }
    w.Put(uint32_t(m.ship_type), 8);
    w.PutText(m.vendor, 7);
    w.PutText(m.callsign, 7);
    w.Dimensions(m.to_bow, m.to_stern, m.to_port, m.to_starboard);
    w.Put(0, 6);  // spare
    return w.Take();
}

std::string Bits(const AidToNavigation& m) {
    Writer w;
    w.Header(21, m.mmsi);
    w.Put(uint32_t(m.aid_type), 5);
    w.PutText(m.name, 20);
    w.Put(0, 1);  // accuracy
    w.Position(m.lat, m.lon);
    w.Dimensions(m.to_bow, m.to_stern, m.to_port, m.to_starboard);
    w.Put(1, 4);   // position fixing device
    w.Put(60, 6);  // second: not available
    w.Put(0, 1);   // off position
    w.Put(0, 8);   // regional
    w.Put(0, 4);   // RAIM, virtual, assigned, spare
    return w.Take();
}

std::string Bits(const Aircraft& m) {
    Writer w;
    w.Header(9, m.mmsi);
    w.Put(uint32_t(m.altitude), 12);
    w.Put(uint32_t(m.speed), 10);
    w.Put(0, 1);
    w.Position(m.lat, m.lon);
    w.Course(m.course);
    w.Put(uint32_t(m.second), 6);
    w.Put(0, 8);   // regional
    w.Put(0, 1);   // DTE
    w.Put(0, 3);   // spare
    w.Put(0, 2);   // assigned, RAIM
    w.Put(0, 20);  // radio status
    return w.Take();
}

std::vector<std::string> Sentences(const std::string& bits, char channel, int sequence, const char* talker) {
    std::string payload;
    for (size_t i = 0; i < bits.size(); i += 6) {
        int v = 0;
        for (size_t k = 0; k < 6; ++k) v = (v << 1) | ((i + k < bits.size() && bits[i + k] == '1') ? 1 : 0);
        payload += char(v < 40 ? v + 48 : v + 56);
    }
    const int fill = int(payload.size() * 6 - bits.size());
    constexpr size_t kMaxPayload = 60;
    const size_t count = payload.empty() ? 1 : (payload.size() + kMaxPayload - 1) / kMaxPayload;
    std::vector<std::string> out;
    for (size_t n = 0; n < count; ++n) {
        const bool last = n + 1 == count;
        std::string body = std::string(talker) + "," + std::to_string(count) + "," + std::to_string(n + 1) + ",";
        if (count > 1) body += std::to_string(sequence % 10);
        body += ",";
        body += channel;
        body += "," + payload.substr(n * kMaxPayload, kMaxPayload) + "," + std::to_string(last ? fill : 0);
        unsigned sum = 0;
        for (char c : body) sum ^= static_cast<unsigned char>(c);
        char tail[8];
        std::snprintf(tail, sizeof tail, "*%02X", sum);
        out.push_back("!" + body + tail);
    }
    return out;
}

}  // namespace NAisEncode
