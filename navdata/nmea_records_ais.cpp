// SPDX-License-Identifier: GPL-3.0-or-later
// AIS sentences: fragments are armoured six-bit payloads collected into a bit stream per
// message, then decoded by message type.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "navdata/nmea_records.h"

extern const int g_nmea_records_ais_anchor;
const int g_nmea_records_ais_anchor = 0;

namespace {

CNMEASentenceTypeOf<CNEMA_AIS::VDM> s_vdm(3, "VDM");
CNMEASentenceTypeOf<CNEMA_AIS::VDO> s_vdo(3, "VDO");

// Bits of one message. The decoder reads the stream `g_current` points at.
struct BitStream {
    // Eight bytes more than the bits need, so that a field is read with one 64-bit load.
    uint8_t bytes[CNEMA_AIS::CAIS_Sentence::kMaxBits / 8 + 8] = {};
    int count = 0;
};

// A message of several fragments being collected. Its fragments carry the same sentence
// kind (VDM or VDO), sequential identifier, channel and count, and come in order; keeping
// a few of these apart lets a receiver interleave two messages (channel A and B, or
// own-ship and others) without one spoiling the other.
struct Assembly {
    BitStream bits;
    bool busy = false;
    const CNMEASentenceType* kind = nullptr;
    char sequence = 0;
    char channel = 0;
    int total = 0;
    int last_fragment = 0;
    unsigned long long used = 0;  // when last added to, for reuse of the oldest
};

constexpr int kAssemblies = 4;
// GUI thread only, like every record.
Assembly g_assemblies[kAssemblies];
BitStream g_single;
BitStream* g_current = &g_single;
unsigned long long g_fragmentClock = 0;

// Appends an armoured payload, six bits a character, a byte at a time. Payloads that
// would run past the end of the stream go character by character and stop there.
void AppendPayload(BitStream& s, const char* payload) {
    const size_t chars = std::strlen(payload);
    if (s.count + int(chars) * 6 > CNEMA_AIS::CAIS_Sentence::kMaxBits) {
        for (size_t i = 0; i < chars; ++i)
            CNEMA_AIS::CAIS_Sentence::append_sixbits(
                CNEMA_AIS::CAIS_Sentence::decode_sixbit(static_cast<unsigned char>(payload[i])));
        return;
    }
    auto sixbits = [payload](size_t i) {
        const int c = static_cast<unsigned char>(payload[i]);
        return uint32_t(((c < 89) ? (c + 80) : (c + 72)) & 63);
    };
    int index = s.count >> 3;
    int held = s.count & 7;  // bits of the last byte already in use
    size_t i = 0;
    if (held == 0) {
        // On a byte boundary (every first fragment): four characters make three bytes.
        for (; i + 4 <= chars; i += 4) {
            const uint32_t v = (sixbits(i) << 18) | (sixbits(i + 1) << 12) | (sixbits(i + 2) << 6) | sixbits(i + 3);
            s.bytes[index] = uint8_t(v >> 16);
            s.bytes[index + 1] = uint8_t(v >> 8);
            s.bytes[index + 2] = uint8_t(v);
            index += 3;
        }
    }
    uint32_t acc = held ? uint32_t(s.bytes[index]) >> (8 - held) : 0;
    for (; i < chars; ++i) {
        acc = (acc << 6) | sixbits(i);
        held += 6;
        if (held >= 8) {
            held -= 8;
            s.bytes[index++] = uint8_t(acc >> held);
            acc &= (1u << held) - 1;
        }
    }
    if (held > 0) s.bytes[index] = uint8_t(acc << (8 - held));
    s.count += int(chars) * 6;
}

Assembly* FindAssembly(const CNMEASentenceType* kind, char sequence, char channel, int total) {
    for (Assembly& a : g_assemblies)
        if (a.busy && a.kind == kind && a.sequence == sequence && a.channel == channel && a.total == total) return &a;
    return nullptr;
}

Assembly* OldestAssembly() {
    Assembly* oldest = &g_assemblies[0];
    for (Assembly& a : g_assemblies) {
        if (!a.busy) return &a;
        if (a.used < oldest->used) oldest = &a;
    }
    return oldest;
}

}  // namespace

int CNEMA_AIS::CAIS_Sentence::decode_sixbit(int c) {
    return ((c < 89) ? (c + 80) : (c + 72)) & 63;
}

void CNEMA_AIS::CAIS_Sentence::append_sixbits(int value) {
    BitStream& s = *g_current;
    if (s.count + 6 <= kMaxBits) {
        // The six bits land in the 16-bit window of the byte where they start.
        const int index = s.count >> 3;
        const int shift = s.count & 7;
        unsigned window = (unsigned(s.bytes[index]) << 8) | s.bytes[index + 1];
        const unsigned mask = 0xFC00u >> shift;
        window = (window & ~mask) | ((unsigned(value & 63) << 10) >> shift);
        s.bytes[index] = uint8_t(window >> 8);
        s.bytes[index + 1] = uint8_t(window);
        s.count += 6;
        return;
    }
    for (int bit = 5; bit >= 0; --bit) {
        if (s.count >= kMaxBits) return;
        const int index = s.count >> 3;
        const uint8_t mask = static_cast<uint8_t>(0x80 >> (s.count & 7));
        if ((value >> bit) & 1) {
            s.bytes[index] |= mask;
        } else {
            s.bytes[index] &= static_cast<uint8_t>(~mask);
        }
        ++s.count;
    }
}

uint32_t CNEMA_AIS::CAIS_Sentence::fetch_bits(int& position, int count) {
    const BitStream& s = *g_current;
    if (count > 0 && count <= 32 && position >= 0 && position + count <= s.count) {
        // Every bit lies within the message: one big-endian 64-bit window holds them.
        const uint8_t* p = s.bytes + (position >> 3);
        uint64_t window = 0;
        for (int i = 0; i < 8; ++i) window = (window << 8) | p[i];
        const uint32_t value = uint32_t((window << (position & 7)) >> (64 - count));
        position += count;
        return value;
    }
    // Bits past the end of a short message read as 0.
    uint32_t value = 0;
    for (int i = 0; i < count; ++i, ++position) {
        int bit = 0;
        if (position >= 0 && position < s.count) bit = (s.bytes[position >> 3] >> (7 - (position & 7))) & 1;
        value = (value << 1) | static_cast<uint32_t>(bit);
    }
    return value;
}

int32_t CNEMA_AIS::CAIS_Sentence::fetch_bits_signed(int& position, int count) {
    const uint32_t raw = fetch_bits(position, count);
    if (count <= 0 || count >= 32) return static_cast<int32_t>(raw);
    const uint32_t sign = 1u << (count - 1);
    if (raw & sign) return static_cast<int32_t>(raw) - static_cast<int32_t>(sign << 1);
    return static_cast<int32_t>(raw);
}

void CNEMA_AIS::CAIS_Sentence::fetch_string(char* out, int& position, int bits) {
    // "@" (0) ends a text; what follows it is padding, whatever a sender put there.
    const int chars = bits / 6;
    int n = 0;
    bool ended = false;
    for (int i = 0; i < chars; ++i) {
        int c = static_cast<int>(fetch_bits(position, 6));
        if (c == 0) ended = true;
        if (ended) continue;
        if (c < 32) c += 64;
        out[n++] = static_cast<char>(c);
    }
    while (n > 0 && out[n - 1] == ' ') --n;
    out[n] = '\0';
}

void CNEMA_AIS::CAIS_Sentence::decode_type(unsigned char type, char* out) {
    static const char* const kTens3[] = {"Fishing",  "Towing",  "Big Towing",     "Dredging", "Diving",
                                         "Military", "Sailing", "Pleasure craft", "Type 38",  "Type 39"};
    static const char* const kTens5[] = {"Pilot",           "Search and rescue", "Tug",     "Tender",  "Anti-pollution",
                                         "Law enforcement", "Type 56",           "Type 57", "Medical", "Type 59"};
    static const char* const kWords[] = {"Unknown",        "1",          "WIG",    "",    "HSC", "",
                                         "Passenger ship", "Cargo ship", "Tanker", "Ship"};
    static const char* const kHazard[] = {"", ":Haz A", ":Haz B", ":Haz C", ":Haz D", "", "", "", "", ""};
    if (type > 99) {
        std::snprintf(out, kTextSize + 1, "Type %d", type);
        return;
    }
    const int d = type / 10;
    const int u = type % 10;
    if (d == 3) {
        std::snprintf(out, kTextSize + 1, "%s", kTens3[u]);
    } else if (d == 5) {
        std::snprintf(out, kTextSize + 1, "%s", kTens5[u]);
    } else {
        std::snprintf(out, kTextSize + 1, "%s%s", kWords[d], kHazard[u]);
    }
}

bool CNEMA_AIS::CAIS_Sentence::Init(char* text) {
    char* f[6];
    SplitArgs(text, 6, f);
    const long count = std::strtol(f[1], nullptr, 10);
    const long number = std::strtol(f[2], nullptr, 10);
    // A message has at most nine fragments; other counts are not AIS.
    if (count < 1 || count > 9 || number < 1 || number > count) return false;
    channel = f[4][0];
    message_type = 0;
    if (count == 1) {
        g_current = &g_single;
        g_single.count = 0;
    } else {
        const char sequence = f[3][0];
        Assembly* a = FindAssembly(type, sequence, channel, int(count));
        if (number == 1) {
            // A new first fragment drops whatever the same sender left unfinished.
            if (!a) a = OldestAssembly();
            a->busy = true;
            a->kind = type;
            a->sequence = sequence;
            a->channel = channel;
            a->total = int(count);
            a->bits.count = 0;
        } else if (!a || number != a->last_fragment + 1) {
            if (a) a->busy = false;  // out of sequence: the message is lost
            return false;
        }
        a->last_fragment = int(number);
        a->used = ++g_fragmentClock;
        g_current = &a->bits;
        if (number == count) a->busy = false;  // complete: the slot is free again
    }
    AppendPayload(*g_current, f[5]);
    if (number != count) return true;  // listeners ignore type 0
    DecodeMessage();
    return true;
}

void CNEMA_AIS::CAIS_Sentence::DecodeMessage() {
    int pos = 0;
    message_type = static_cast<uint8_t>(fetch_bits(pos, 6));
    pos += 2;  // repeat indicator
    mmsi = fetch_bits(pos, 30);
    auto position = [this, &pos]() {
        longitude = fetch_bits_signed(pos, 28) / 600000.0;
        latitude = fetch_bits_signed(pos, 27) / 600000.0;
    };
    auto speedTenths = [this, &pos]() {
        speed = static_cast<float>(fetch_bits(pos, 10)) * 0.1f;
        if (speed > 100) speed = 0;
    };
    auto dimensions = [this, &pos]() {
        to_bow = static_cast<int>(fetch_bits(pos, 9));
        to_stern = static_cast<int>(fetch_bits(pos, 9));
        to_port = static_cast<int>(fetch_bits(pos, 6));
        to_starboard = static_cast<int>(fetch_bits(pos, 6));
    };
    auto shipType = [this, &pos]() {
        ship_type = static_cast<uint8_t>(fetch_bits(pos, 8));
        decode_type(ship_type, ship_type_text);
    };
    switch (message_type) {
        case 1:
        case 2:
        case 3: {
            nav_status = static_cast<uint8_t>(fetch_bits(pos, 4));
            const int rot = fetch_bits_signed(pos, 8);
            double r = rot / 4.733;
            r *= r;
            if (rot < 0) r = -r;
            rate_of_turn_valid = r < 720 && r > -720;
            rate_of_turn = rate_of_turn_valid ? static_cast<float>(r) : 0.0f;
            speedTenths();
            pos += 1;  // accuracy
            position();
            course = static_cast<float>(fetch_bits(pos, 12)) * 0.1f;
            heading = static_cast<int>(fetch_bits(pos, 9));
            second = static_cast<int>(fetch_bits(pos, 6));
            break;
        }
        case 4:
        case 11:
            year = static_cast<int>(fetch_bits(pos, 14));
            month = static_cast<int>(fetch_bits(pos, 4));
            day = static_cast<int>(fetch_bits(pos, 5));
            hour = static_cast<int>(fetch_bits(pos, 5));
            minute = static_cast<int>(fetch_bits(pos, 6));
            second = static_cast<int>(fetch_bits(pos, 6));
            pos += 1;
            position();
            break;
        case 5:
            pos += 2;  // AIS version
            imo = fetch_bits(pos, 30);
            fetch_string(callsign, pos, 42);
            fetch_string(name, pos, 120);
            shipType();
            dimensions();
            pos += 4;  // position device
            eta_month = static_cast<int>(fetch_bits(pos, 4));
            eta_day = static_cast<int>(fetch_bits(pos, 5));
            eta_hour = static_cast<int>(fetch_bits(pos, 5));
            eta_minute = static_cast<int>(fetch_bits(pos, 6));
            draught = static_cast<float>(fetch_bits(pos, 8)) * 0.1f;
            fetch_string(destination, pos, 120);
            break;
        case 9:
            altitude = static_cast<int>(fetch_bits(pos, 12));
            speed = static_cast<float>(fetch_bits(pos, 10));
            pos += 1;
            position();
            course = static_cast<float>(fetch_bits(pos, 12)) * 0.1f;
            second = static_cast<int>(fetch_bits(pos, 6));
            break;
        case 18:
        case 19:
            pos += 8;  // reserved
            speedTenths();
            pos += 1;
            position();
            course = static_cast<float>(fetch_bits(pos, 12)) * 0.1f;
            heading = static_cast<int>(fetch_bits(pos, 9));
            second = static_cast<int>(fetch_bits(pos, 6));
            if (message_type == 19) {
                pos += 4;
                fetch_string(name, pos, 120);
                shipType();
                dimensions();
            }
            break;
        case 21:
            aid_type = static_cast<int>(fetch_bits(pos, 5));
            fetch_string(name, pos, 120);
            pos += 1;
            position();
            pos += 9;
            to_bow = static_cast<int>(fetch_bits(pos, 9));
            break;
        case 24:
            part_number = static_cast<int>(fetch_bits(pos, 2));
            if (part_number == 0) {
                fetch_string(name, pos, 120);
            } else if (part_number == 1) {
                shipType();
                fetch_string(vendor, pos, 42);
                fetch_string(callsign, pos, 42);
                dimensions();
            }
            break;
        default:
            break;
    }
}

void CNEMA_AIS::CAIS_Sentence::Fields(CNMEAFieldVisitor& v) const {
    v.Field("channel", channel);
    v.Field("msg", int(message_type));
    if (message_type == 0) return;  // a fragment of a longer message
    v.Field("mmsi", unsigned(mmsi));
    switch (message_type) {
        case 1:
        case 2:
        case 3:
        case 9:
        case 18:
        case 19:
            v.Field("lat", latitude);
            v.Field("lon", longitude);
            v.Field("speed", speed);
            v.Field("course", course);
            if (message_type != 9) v.Field("heading", heading);
            if (message_type <= 3) v.Field("status", int(nav_status));
            if (message_type == 19) v.Field("name", name);
            break;
        case 4:
        case 11:
        case 21:
            v.Field("lat", latitude);
            v.Field("lon", longitude);
            if (message_type == 21) v.Field("name", name);
            break;
        case 5:
            v.Field("name", name);
            v.Field("callsign", callsign);
            v.Field("shiptype", ship_type_text);
            v.Field("destination", destination);
            v.Field("draught", draught);
            break;
        case 24:
            v.Field("part", part_number);
            if (part_number == 0) v.Field("name", name);
            if (part_number == 1) {
                v.Field("callsign", callsign);
                v.Field("shiptype", ship_type_text);
            }
            break;
        default:
            break;
    }
}
