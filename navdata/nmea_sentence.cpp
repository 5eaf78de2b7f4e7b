// SPDX-License-Identifier: GPL-3.0-or-later
#include "navdata/nmea_sentence.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

// The record types and the feeds that write sentences register themselves from their
// own translation units. A static library only links an object file that something
// refers to, so the dispatcher refers to one anchor in each of them; otherwise a
// program that only calls DispatchSentence would find an empty registry.
extern const int g_nmea_records_anchor;
extern const int g_nmea_records_ais_anchor;
extern const int g_feed_autopilot_anchor;
// External linkage keeps the compiler from dropping the references.
extern const int* const g_nmea_record_anchors[];
const int* const g_nmea_record_anchors[] = {&g_nmea_records_anchor, &g_nmea_records_ais_anchor,
                                            &g_feed_autopilot_anchor};

namespace {

CNMEASentenceType* g_firstType = nullptr;  // constant-initialised: safe before any registration

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;  // lower case and anything else count as 0, as receivers we met expect
}

// Reads up to `width` characters as an integer with strtol semantics, stopping at the
// end of the text. Advances p past what was consumed (never past the terminator).
long LeadingNumber(const char*& p, int width) {
    char buf[8];
    int n = 0;
    while (n < width && p[n] != '\0') {
        buf[n] = p[n];
        ++n;
    }
    buf[n] = '\0';
    p += n;
    return std::strtol(buf, nullptr, 10);
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

double ParseLatLon(char** fields, int dotIndex, char negative) {
    const char* value = fields[0];
    for (int i = 0; i < dotIndex; ++i) {
        if (value[i] == '\0') return 0;
    }
    if (value[dotIndex] != '.') return 0;
    const int degreeDigits = dotIndex - 2;
    const char* p = value;
    const long degrees = LeadingNumber(p, degreeDigits);
    const double minutes = std::strtod(value + degreeDigits, nullptr);
    double result = static_cast<double>(degrees) + minutes * 0.016666666666666666;
    if (fields[1][0] == negative) result = -result;
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Helpers

bool CNMEASentence::check_checksum(const char* text) {
    if (!text || text[0] == '\0') return false;
    unsigned char sum = 0;
    const char* p = text + 1;
    for (; *p != '*'; ++p) {
        if (*p == '\0') return false;  // no checksum at all
        sum ^= static_cast<unsigned char>(*p);
    }
    // Both digits must be present; reading past a terminator would leave the buffer.
    if (p[1] == '\0' || p[2] == '\0') return false;
    const int expected = HexDigit(p[1]) * 16 + HexDigit(p[2]);
    return sum == expected;
}

void CNMEASentence::compute_checksum(char* text) {
    static const char kHex[] = "0123456789ABCDEF";
    unsigned char sum = 0;
    char* p = text;
    if (*p != '\0') {
        for (++p; *p != '\0'; ++p) sum ^= static_cast<unsigned char>(*p);
    }
    p[0] = '*';
    p[1] = kHex[sum >> 4];
    p[2] = kHex[sum & 15];
    p[3] = '\0';
}

void CNMEASentence::SplitArgs(char* text, int count, char** fields) {
    char* p = text;
    for (int i = 0; i < count; ++i) {
        fields[i] = p;
        while (*p != '\0' && *p != ',' && *p != '*') ++p;
        if (*p == ',') {
            *p++ = '\0';
        } else if (*p == '*') {
            *p = '\0';  // stays on the terminator: every later field reads as empty
        }
    }
}

double CNMEASentence::GetLat(char** fields) {
    return ParseLatLon(fields, 4, 'S');
}

double CNMEASentence::GetLon(char** fields) {
    return ParseLatLon(fields, 5, 'W');
}

double CNMEASentence::GetUTC(const char* field) {
    if (!field || field[0] == '\0') return 0;
    const char* p = field;
    const long hours = LeadingNumber(p, 2);
    const long minutes = LeadingNumber(p, 2);
    const double seconds = *p ? std::strtod(p, nullptr) : 0.0;
    return static_cast<double>(hours * 3600 + minutes * 60) + seconds;
}

double CNMEASentence::GetDate(const char* field) {
    // One cache for every caller: a receiver repeats the same date for a whole day.
    static long s_key = 0;
    static double s_result = 0;
    if (!field) return 0;
    const long key = std::strtol(field, nullptr, 10);
    if (key == s_key) return s_result;
    s_key = key;
    s_result = 0;
    if (field[0] == '\0') return 0;
    const char* p = field;
    const long day = LeadingNumber(p, 2);
    const long month = LeadingNumber(p, 2);
    long year = *p ? std::strtol(p, nullptr, 10) : 0;
    if (year < 100) {
        year += 2000;
    } else if (year < 200) {
        year += 1900;  // years counted from 1900
    }
    // An impossible date reads as "no date" rather than as some other day.
    if (day < 1 || day > 31 || month < 1 || month > 12 || year < 0 || year > 100000) return 0;
    const long long days = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    s_result = static_cast<double>(days) * 86400.0;
    return s_result;
}

void CNMEASentence::strncpy_to_TCHAR(char* dst, const char* src, int size) {
    if (!dst || size <= 0) return;
    int i = 0;
    if (src) {
        for (; i < size - 1 && src[i] != '\0'; ++i) dst[i] = src[i];
    }
    for (; i < size; ++i) dst[i] = '\0';
}

// ---------------------------------------------------------------------------------------
// Dispatch

bool CNMEASentence::DispatchSentence(char* text, CDataConnection* from) {
    if (!text) return false;
    while (*text != '\0' && *text != '$' && *text != '!') ++text;
    if (*text == '\0') return false;
    if (!check_checksum(text)) return false;

    CNMEA_Raw raw;
    raw.text[0] = '\0';
    if (Listener<CNMEA_Raw>::pDatasource) {
        raw.source = from;
        raw.Init(text);  // before parsing: Init below splits the text in place
    }

    bool result = false;
    CNMEASentenceType* type = CNMEASentenceType::FindType(text);
    if (type && type->Source()) {
        CNMEASentence* record = type->GetInstance();
        ++record->use_count;
        record->source = from;
        result = record->Init(text);
        // A listener may have gone while parsing; test the source again.
        if (result && type->Source()) type->Source()->Dispatch(record);
        if (--record->use_count == 0) type->Release(record);
    }

    // An over-long line leaves no raw text: there is nothing a device could be sent.
    if (raw.source && raw.text[0] != '\0') {
        if (CDataSource* rawSource = Listener<CNMEA_Raw>::pDatasource) rawSource->Dispatch(&raw);
        return true;
    }
    return result;
}

// ---------------------------------------------------------------------------------------
// Registry

CNMEASentenceType::CNMEASentenceType(int offset, const char* pattern, CDataSource** source)
    : m_next(g_firstType),
      m_offset(offset),
      m_pattern(pattern),
      m_patternLength(std::strlen(pattern)),
      m_source(source) {
    g_firstType = this;
}

CNMEASentenceType::~CNMEASentenceType() {
    FreePool();
    for (CNMEASentenceType** link = &g_firstType; *link; link = &(*link)->m_next) {
        if (*link == this) {
            *link = m_next;
            break;
        }
    }
}

CNMEASentenceType* CNMEASentenceType::First() {
    return g_firstType;
}

bool CNMEASentenceType::Matches(const char* text) const {
    for (int i = 0; i < m_offset; ++i) {
        if (text[i] == '\0') return false;
    }
    const char* p = text + m_offset;
    return p[0] == m_pattern[0] && std::strncmp(p, m_pattern, m_patternLength) == 0;
}

CNMEASentenceType* CNMEASentenceType::FindType(const char* text) {
    if (!text) return nullptr;
    for (CNMEASentenceType* type = g_firstType; type; type = type->m_next) {
        if (type->Matches(text)) return type;
    }
    return nullptr;
}

CNMEASentence* CNMEASentenceType::GetInstance() {
    CNMEASentence* record = m_pool;
    if (record) {
        m_pool = record->pool_next;
        record->pool_next = nullptr;
    } else {
        record = NewInstance();
    }
    record->type = this;
    return record;
}

void CNMEASentenceType::Release(CNMEASentence* record) {
    record->pool_next = m_pool;
    m_pool = record;
}

void CNMEASentenceType::FreePool() {
    while (m_pool) {
        CNMEASentence* next = m_pool->pool_next;
        delete m_pool;
        m_pool = next;
    }
}

// ---------------------------------------------------------------------------------------
// Raw sentences

bool CNMEA_Raw::Init(const char* sentence) {
    const size_t length = sentence ? std::strlen(sentence) : 0;
    if (!sentence || length > kBufferSize - 3) {
        text[0] = '\0';
        return false;
    }
    std::memcpy(text, sentence, length);
    text[length] = '\r';
    text[length + 1] = '\n';
    text[length + 2] = '\0';
    return true;
}

bool CNMEA_Raw::Matches(int offset, const char* pattern) const {
    if (offset < 0 || offset >= kBufferSize) return false;
    for (int i = 0; i < offset; ++i) {
        if (text[i] == '\0') return false;
    }
    const size_t length = std::strlen(pattern);
    if (length > static_cast<size_t>(kBufferSize - offset)) return false;
    return std::strncmp(text + offset, pattern, length) == 0;
}

bool CNMEA_Raw::AddChecksumAndDispatch() {
    // Room for "*hh\r\n" and the terminator.
    const size_t length = strnlen(text, kBufferSize);
    if (length > kBufferSize - 6) return false;
    CNMEASentence::compute_checksum(text);
    const size_t withSum = length + 3;
    text[withSum] = '\r';
    text[withSum + 1] = '\n';
    text[withSum + 2] = '\0';
    if (CDataSource* rawSource = Listener<CNMEA_Raw>::pDatasource) rawSource->Dispatch(this);
    return true;
}

// ---------------------------------------------------------------------------------------
// Output filters

void CNMEA_rule::init(const char* line) {
    verdict = false;
    pattern[0] = '\0';
    if (!line) return;
    const char* p = line;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') return;
    verdict = (*p == 'A' || *p == 'a');
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
    int n = 0;
    while (n < 6 && p[n] != '\0' && p[n] != '*') {
        pattern[n] = p[n];
        ++n;
    }
    pattern[n] = '\0';
}

void CNMEA_rule::apply(const char* text, bool& current) const {
    if (current == verdict) return;
    if (pattern[0] != '\0') {
        if (!text || text[0] == '\0') return;
        const char* t = text + 1;
        for (int i = 0; pattern[i] != '\0'; ++i) {
            if (t[i] == '\0') return;  // a shorter text never matches, not even '?'
            if (pattern[i] != '?' && pattern[i] != t[i]) return;
        }
    }
    current = verdict;
}

void CNMEA_filter::add(const char* line) {
    CNMEA_rule rule;
    rule.init(line);
    m_rules.push_back(rule);
}

void CNMEA_filter::apply(const char* text, bool& verdict) const {
    for (const CNMEA_rule& rule : m_rules) rule.apply(text, verdict);
}
