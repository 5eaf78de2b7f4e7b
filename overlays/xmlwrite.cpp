// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/xmlwrite.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

// Length of the valid UTF-8 sequence at p (1..4) holding an XML character, 0 when the
// bytes there are not one.
size_t ValidSequence(const unsigned char* p, const unsigned char* e) {
    const unsigned c = p[0];
    if (c < 0x80) return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') ? 1 : 0;
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (size_t(e - p) < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Overlong forms, surrogates, and the two non-characters XML excludes.
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return n;
}

bool IsCleanText(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* e = p + text.size();
    while (p < e) {
        if (*p >= 0x20 && *p < 0x80) {
            ++p;
            continue;
        }
        const size_t n = ValidSequence(p, e);
        if (!n) return false;
        p += n;
    }
    return true;
}

}  // namespace

std::string XMLclean_text(const std::string& text) {
    if (IsCleanText(text)) return text;
    std::string out;
    out.reserve(text.size() + 8);
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* e = p + text.size();
    while (p < e) {
        const size_t n = ValidSequence(p, e);
        if (n) {
            out.append(reinterpret_cast<const char*>(p), n);
            p += n;
        } else {
            if (*p >= 0x80) out += "\xEF\xBF\xBD";  // a control character is simply dropped
            ++p;
        }
    }
    return out;
}

bool XMLneeds_cdata(const std::string& text) {
    return text.find_first_of("<>&\n\r") != std::string::npos;
}

bool XMLwrite_tag(FILE* f, const char* tag, const std::string& raw) {
    const std::string text = XMLclean_text(raw);
    if (XMLneeds_cdata(text)) {
        // "]]>" cannot stand inside one section: it is split across two.
        std::string safe;
        safe.reserve(text.size() + 16);
        for (size_t i = 0; i < text.size(); ++i) {
            if (text.compare(i, 3, "]]>") == 0) {
                safe += "]]]]><![CDATA[>";
                i += 2;
            } else {
                safe += text[i];
            }
        }
        return std::fprintf(f, "<%s><![CDATA[%s]]></%s>\n", tag, safe.c_str(), tag) > 0;
    }
    return std::fprintf(f, "<%s>%s</%s>\n", tag, text.c_str(), tag) > 0;
}

bool write_xml_tag(FILE* f, const char* tag, const char* text) {
    if (!text) return true;
    return XMLwrite_tag(f, tag, text);
}

std::string XML_encode_ampersand(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

std::string XML_decode_ampersand(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 5, "&amp;") == 0) {
            out += '&';
            i += 4;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string XMLattribute_text(const std::string& raw) {
    const std::string text = XMLclean_text(raw);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '"': out += "&quot;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
            case '\t': out += "&#9;"; break;
            default: out += c;
        }
    }
    return out;
}

void AppendFixed(std::string& out, double value, int decimals) {
    if (!std::isfinite(value)) value = 0;
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) {
        out += '0';
        return;
    }
    // "-0.0" reads badly and means nothing more than "0.0".
    if (buf[0] == '-') {
        bool zero = true;
        for (const char* p = buf + 1; p < r.ptr && zero; ++p) zero = *p == '0' || *p == '.';
        if (zero) {
            out.append(buf + 1, r.ptr);
            return;
        }
    }
    out.append(buf, r.ptr);
}

std::string FormatFixed(double value, int decimals) {
    std::string s;
    AppendFixed(s, value, decimals);
    return s;
}

double NormalizedLongitude(double lon) {
    if (!std::isfinite(lon)) return 0;
    if (lon < -180 || lon >= 180) {
        lon = std::fmod(lon + 180.0, 360.0);
        if (lon < 0) lon += 360.0;
        lon -= 180.0;
    }
    // Written with ten decimals, a hair under 180 would read as 180, which GPX excludes.
    if (lon >= 180.0 - 0.5e-10) lon = -180.0;
    return lon;
}

void AppendPointTag(std::string& out, const char* name, double lat, double lon) {
    out += '<';
    out += name;
    out += " lat=\"";
    AppendFixed(out, lat, 10);
    out += "\" lon=\"";
    AppendFixed(out, NormalizedLongitude(lon), 10);
    out += "\">";
}
