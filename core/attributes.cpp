// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/attributes.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/apppaths.h"

namespace {

const std::string& EmptyString() {
    static const std::string empty;
    return empty;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsTrimmed(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsTrimmed(s[b])) ++b;
    while (e > b && IsTrimmed(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// "%i": optional sign, then "0x" hexadecimal, leading-zero octal or decimal. Values
// beyond 32 bits wrap like the C conversion does for "0xffffffff" (giving -1), so a
// value written with "0x%x" always reads back.
bool ParseInt(const std::string& s, int& out) {
    const char* p = s.c_str();
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
    if (*p == 0) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, 0);
    if (end == p) return false;
    if (errno == ERANGE) {
        // Too large even for 64 bits: try unsigned for huge hexadecimal, else refuse.
        errno = 0;
        const unsigned long long u = std::strtoull(p, &end, 0);
        if (errno == ERANGE) return false;
        out = int(uint32_t(u));
        return true;
    }
    out = int(uint32_t(static_cast<unsigned long long>(v)));
    return true;
}

}  // namespace

// ---- readers ----

const std::string& CAttributes::Get(const std::string& key) const {
    auto it = m_map.find(key);
    return it == m_map.end() ? EmptyString() : it->second;
}

std::string CAttributes::GetStr(const std::string& key, const std::string& def) const {
    auto it = m_map.find(key);
    return it == m_map.end() ? def : it->second;
}

bool CAttributes::GetIfPresent(const std::string& key, std::string& out) const {
    auto it = m_map.find(key);
    if (it == m_map.end()) return false;
    out = it->second;
    return true;
}

bool CAttributes::Has(const std::string& key) const {
    auto it = m_map.find(key);
    return it != m_map.end() && !it->second.empty();
}

int CAttributes::GetInt(const std::string& key, int def) const {
    auto it = m_map.find(key);
    if (it == m_map.end()) return def;
    int v = def;
    return ParseInt(it->second, v) ? v : def;
}

int CAttributes::GetNumberedInt(const std::string& key, int i, int def) const {
    return GetInt(NumberedKey(key, i), def);
}

bool CAttributes::GetBool(const std::string& key) const {
    const std::string& v = Get(key);
    return !v.empty() && (v[0] == 'T' || v[0] == 't' || v[0] == '1');
}

double CAttributes::GetDecimal(const std::string& key, double def) const {
    auto it = m_map.find(key);
    if (it == m_map.end()) return def;
    const std::string& s = it->second;
    size_t b = 0;
    while (b < s.size() && (s[b] == ' ' || s[b] == '\t')) ++b;
    if (b < s.size() && s[b] == '+') ++b;
    double v = def;
    // from_chars never looks at the C locale, unlike "%lf".
    const auto r = std::from_chars(s.data() + b, s.data() + s.size(), v);
    return r.ec == std::errc() ? v : def;
}

int CAttributes::GetData(const std::string& key, void* buf, int maxlen) const {
    auto it = m_map.find(key);
    if (it == m_map.end() || !buf || maxlen <= 0) return 0;
    const std::string& s = it->second;
    const size_t n = std::min(s.size() / 2, size_t(maxlen));
    auto* out = static_cast<unsigned char*>(buf);
    for (size_t i = 0; i < n; ++i) {
        const int hi = HexDigit(s[2 * i]);
        const int lo = HexDigit(s[2 * i + 1]);
        if (hi < 0 || lo < 0) return int(i);
        out[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return int(n);
}

const std::string& CAttributes::GetNumbered(const std::string& key, int i) const {
    return Get(NumberedKey(key, i));
}

// ---- writers ----

void CAttributes::Set(const std::string& key, const std::string& value) {
    m_map[key] = value;
}

void CAttributes::SetInt(const std::string& key, int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", unsigned(value));
    m_map[key] = buf;
}

void CAttributes::SetIntD(const std::string& key, int value) {
    m_map[key] = std::to_string(value);
}

void CAttributes::SetDecimal(const std::string& key, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%#.10g", value);
    // The decimal separator is the only locale-dependent part of "%g"; the file form
    // always uses ".".
    const char* dp = std::localeconv()->decimal_point;
    if (dp && dp[0] && !(dp[0] == '.' && dp[1] == 0)) {
        std::string s = buf;
        const size_t p = s.find(dp);
        if (p != std::string::npos) s.replace(p, std::strlen(dp), ".");
        m_map[key] = s;
        return;
    }
    m_map[key] = buf;
}

void CAttributes::SetData(const std::string& key, const void* buf, int len) {
    static const char kHex[] = "0123456789abcdef";
    std::string s;
    if (buf && len > 0) {
        const auto* in = static_cast<const unsigned char*>(buf);
        s.resize(size_t(len) * 2);
        for (int i = 0; i < len; ++i) {
            s[2 * i] = kHex[in[i] >> 4];
            s[2 * i + 1] = kHex[in[i] & 15];
        }
    }
    m_map[key] = std::move(s);
}

void CAttributes::SetNumbered(const std::string& key, int i, const std::string& value) {
    m_map[NumberedKey(key, i)] = value;
}

void CAttributes::SetNumberedInt(const std::string& key, int i, int value) {
    SetInt(NumberedKey(key, i), value);
}

void CAttributes::Add(const CAttributes& other) {
    for (const auto& [k, v] : other.m_map) {
        if (!k.empty() && !v.empty()) m_map[k] = v;
    }
}

void CAttributes::Clear(const std::string& key) {
    m_map.erase(key);
}

void CAttributes::TrimAllSpaces() {
    for (auto& kv : m_map) kv.second = Trim(kv.second);
}

std::string CAttributes::NumberedKey(const std::string& key, int i) {
    return key + "[" + std::to_string(i) + "]";
}

// ---- text forms ----

std::string CAttributes::Escape(const std::string& s) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size());
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::strchr("$-_.!*'()", c) != nullptr) {
            out += ch;
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string CAttributes::Unescape(const std::string& s) {
    std::string out;
    out.reserve(s.size());
    const size_t n = s.size();
    for (size_t i = 0; i < n; ++i) {
        const char c = s[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= n) break;  // a "%" among the last two characters ends the value
            const int hi = HexDigit(s[i + 1]);
            const int lo = HexDigit(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
            } else {
                out.append(s, i, 3);
            }
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

void CAttributes::AddString(const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t amp = text.find('&', start);
        if (amp == std::string::npos) amp = text.size();
        const size_t eq = text.find('=', start);
        if (eq != std::string::npos && eq < amp) {
            std::string key = Trim(text.substr(start, eq - start));
            std::string value = Trim(text.substr(eq + 1, amp - eq - 1));
            if (!key.empty() && !value.empty()) Set(key, Unescape(value));
        }
        start = amp + 1;
    }
}

bool CAttributes::AddFile(const std::string& path) {
    std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!f) return false;
    constexpr size_t kMaxLine = 1000000;
    std::string line;
    char buf[65536];
    bool tooLong = false;
    auto flush = [&]() {
        size_t b = 0;
        while (b < line.size() && (line[b] == ' ' || line[b] == '\t')) ++b;
        if (b < line.size() && line[b] != '#') AddString(line);
        line.clear();
    };
    for (;;) {
        const size_t n = std::fread(buf, 1, sizeof buf, f.get());
        if (n == 0) break;
        for (size_t i = 0; i < n; ++i) {
            const char c = buf[i];
            if (c == '\n') {
                flush();
            } else if (c != '\r' && c != 0) {
                if (line.size() >= kMaxLine) {
                    tooLong = true;
                    break;
                }
                line += c;
            }
        }
        if (tooLong) break;
    }
    if (!tooLong) flush();
    return true;
}

std::string CAttributes::ToText() const {
    std::string out;
    for (const auto& [k, v] : m_map) {
        if (k.empty() || v.empty()) continue;
        if (!out.empty()) out += '\n';
        out += k;
        out += '=';
        out += v;
    }
    return out;
}

std::string CAttributes::ToString() const {
    std::string out;
    for (const auto& [k, v] : m_map) {
        if (k.empty() || v.empty()) continue;
        if (!out.empty()) out += '&';
        out += k;
        out += '=';
        out += Escape(v);
    }
    return out;
}

bool CAttributes::ToFile(const std::string& path) const {
    if (path.empty()) return false;
    createPath(path);
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f) return false;
    bool ok = true;
    for (const auto& [k, v] : m_map) {
        if (k.empty() || v.empty()) continue;
        const std::string esc = Escape(v);
        if (std::fprintf(f, "%s=%s\n", k.c_str(), esc.c_str()) < 0) {
            ok = false;
            break;
        }
    }
    if (std::fflush(f) != 0 || std::ferror(f)) ok = false;
    if (std::fclose(f) != 0) ok = false;
    if (ok && ReplaceFile(tmp, path)) return true;
    std::remove(tmp.c_str());
    return false;
}
