// SPDX-License-Identifier: GPL-3.0-or-later
#include "overlays/xmlnode.h"

#include <QStringDecoder>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/uiservices.h"

struct CXMLnode::SearchState {
    // Each entry: a node and the index of its next child to visit; kSelf means the node
    // itself has not been looked at yet.
    static constexpr size_t kSelf = std::numeric_limits<size_t>::max();
    std::vector<std::pair<const CXMLnode*, size_t>> stack;
};

CXMLnode::CXMLnode() = default;
CXMLnode::CXMLnode(std::string tag) : m_name(std::move(tag)) {}
CXMLnode::~CXMLnode() = default;

namespace {

constexpr size_t kReportStep = 1 << 20;  // progress is reported every megabyte

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool SameNoCase(const char* a, size_t na, const char* b, size_t nb) {
    if (na != nb) return false;
    for (size_t i = 0; i < na; ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// A character reference's code point ("#65", "#x41"); 0 when it is not a usable one.
uint32_t CharacterReference(const char* p, const char* e) {
    if (p >= e || *p != '#') return 0;
    ++p;
    int base = 10;
    if (p < e && (*p == 'x' || *p == 'X')) {
        base = 16;
        ++p;
    }
    if (p >= e || e - p > 8) return 0;
    uint32_t v = 0;
    const auto r = std::from_chars(p, e, v, base);
    if (r.ec != std::errc() || r.ptr != e) return 0;
    if (v == 0 || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    return v;
}

// Text with the predefined entities and character references decoded; anything else
// that looks like an entity is kept as it stands.
void AppendDecoded(std::string& out, const char* p, const char* e) {
    while (p < e) {
        const char* amp = static_cast<const char*>(std::memchr(p, '&', size_t(e - p)));
        if (!amp) {
            out.append(p, size_t(e - p));
            return;
        }
        out.append(p, size_t(amp - p));
        const size_t look = std::min<size_t>(size_t(e - amp), 12);
        const char* semi = static_cast<const char*>(std::memchr(amp, ';', look));
        if (!semi) {
            out += '&';
            p = amp + 1;
            continue;
        }
        const char* n = amp + 1;
        const size_t len = size_t(semi - n);
        char c = 0;
        if (len == 3 && std::memcmp(n, "amp", 3) == 0)
            c = '&';
        else if (len == 2 && std::memcmp(n, "lt", 2) == 0)
            c = '<';
        else if (len == 2 && std::memcmp(n, "gt", 2) == 0)
            c = '>';
        else if (len == 4 && std::memcmp(n, "quot", 4) == 0)
            c = '"';
        else if (len == 4 && std::memcmp(n, "apos", 4) == 0)
            c = '\'';
        if (c) {
            out += c;
        } else if (const uint32_t cp = CharacterReference(n, semi)) {
            AppendUtf8(out, cp);
        } else {
            out.append(amp, size_t(semi + 1 - amp));
        }
        p = semi + 1;
    }
}

const char* Find(const char* p, const char* e, const char* what) {
    const size_t n = std::strlen(what);
    while (p < e) {
        const char* c = static_cast<const char*>(std::memchr(p, what[0], size_t(e - p)));
        if (!c || size_t(e - c) < n) return nullptr;
        if (std::memcmp(c, what, n) == 0) return c;
        p = c + 1;
    }
    return nullptr;
}

bool StartsWith(const char* p, const char* e, const char* what) {
    const size_t n = std::strlen(what);
    return size_t(e - p) >= n && std::memcmp(p, what, n) == 0;
}

// Windows-1252 (a superset of ISO 8859-1 in practice) to UTF-8, for files that say so.
std::string FromWindows1252(const char* p, size_t n) {
    static const uint16_t k80[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                     0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::string out;
    out.reserve(n + n / 8);
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c < 0x80)
            out += char(c);
        else if (c < 0xA0)
            AppendUtf8(out, k80[c - 0x80]);
        else
            AppendUtf8(out, c);
    }
    return out;
}

// The encoding named by an XML declaration at the start, lower-cased; empty when none.
std::string DeclaredEncoding(const char* p, size_t n) {
    if (n < 6 || std::memcmp(p, "<?xml", 5) != 0) return {};
    const char* e = p + std::min<size_t>(n, 200);
    const char* end = Find(p, e, "?>");
    if (!end) return {};
    const char* at = Find(p, end, "encoding");
    if (!at) return {};
    at += 8;
    while (at < end && (IsBlank(*at) || *at == '=')) ++at;
    if (at >= end || (*at != '"' && *at != '\'')) return {};
    const char q = *at++;
    std::string enc;
    while (at < end && *at != q) enc += Lower(*at++);
    return enc;
}

class Parser {
public:
    Parser(const char* data, size_t size, CXMLnode::Status& status, CProgressDialogData* progress)
        : m_begin(data), m_p(data), m_end(data + size), m_status(status), m_progress(progress) {}

    std::unique_ptr<CXMLnode> Run() {
        auto root = std::make_unique<CXMLnode>();
        m_stack.push_back(root.get());
        size_t nextReport = kReportStep;
        while (m_p < m_end) {
            if (m_progress && size_t(m_p - m_begin) >= nextReport) {
                m_progress->SetProgress(0.2 + 0.7 * double(m_p - m_begin) / double(m_end - m_begin));
                if (m_progress->IsCancelled()) {
                    m_status.error = "The import was cancelled.";
                    return nullptr;
                }
                nextReport = size_t(m_p - m_begin) + kReportStep;
            }
            if (!Step()) break;
        }
        if (m_status.warning.empty() && m_stack.size() > 1)
            m_status.warning = "The file ends before all its elements are closed; it may be cut short.";
        return root;
    }

private:
    CXMLnode* Current() const { return m_stack.back(); }
    // Text belongs to an element until its first child; the text between children is
    // layout, and the root has none.
    bool TakesText() const { return m_stack.size() > 1 && !Current()->HasChildren(); }

    void CutShort() {
        if (m_status.warning.empty()) m_status.warning = "The file ends in the middle of an element; it may be cut short.";
    }

    // One piece of the document: text and the markup that follows it. False at the end.
    bool Step() {
        const char* lt = static_cast<const char*>(std::memchr(m_p, '<', size_t(m_end - m_p)));
        const char* textEnd = lt ? lt : m_end;
        if (textEnd > m_p && TakesText()) AppendDecoded(Current()->MutableContents(), m_p, textEnd);
        if (!lt) return false;
        m_p = lt;
        if (StartsWith(m_p, m_end, "<!--")) return Skip(m_p + 4, "-->");
        if (StartsWith(m_p, m_end, "<![CDATA[")) {
            const char* from = m_p + 9;
            const char* close = Find(from, m_end, "]]>");
            if (TakesText()) Current()->AppendContents(from, size_t((close ? close : m_end) - from));
            if (!close) {
                CutShort();
                return false;
            }
            m_p = close + 3;
            return true;
        }
        if (StartsWith(m_p, m_end, "<?")) return Skip(m_p + 2, "?>");
        if (StartsWith(m_p, m_end, "<!")) return SkipDeclaration();
        if (StartsWith(m_p, m_end, "</")) return CloseTag();
        return OpenTag();
    }

    bool Skip(const char* from, const char* terminator) {
        const char* close = Find(from, m_end, terminator);
        if (!close) {
            CutShort();
            return false;
        }
        m_p = close + std::strlen(terminator);
        return true;
    }

    // "<!DOCTYPE ...>" and the like, with an internal subset in brackets. Nothing in it
    // is used: in particular no entity it declares is ever expanded.
    bool SkipDeclaration() {
        int depth = 0;
        for (const char* q = m_p + 2; q < m_end; ++q) {
            if (*q == '[')
                ++depth;
            else if (*q == ']' && depth > 0)
                --depth;
            else if (*q == '>' && depth == 0) {
                m_p = q + 1;
                return true;
            }
        }
        CutShort();
        return false;
    }

    bool CloseTag() {
        const char* q = m_p + 2;
        const char* nameEnd = q;
        while (nameEnd < m_end && !IsBlank(*nameEnd) && *nameEnd != '>' && *nameEnd != '<') ++nameEnd;
        const char* gt = nameEnd;
        while (gt < m_end && *gt != '>' && *gt != '<') ++gt;
        if (gt >= m_end) {
            CutShort();
            return false;
        }
        if (*gt == '<') {  // "</name" without its ">": the next tag starts here
            m_p = gt;
        } else {
            m_p = gt + 1;
        }
        // Close the nearest open element of that name, and every element left open inside
        // it; a closing tag that matches nothing open is ignored.
        for (size_t i = m_stack.size(); i-- > 1;) {
            const std::string& n = m_stack[i]->Name();
            if (SameNoCase(n.data(), n.size(), q, size_t(nameEnd - q))) {
                m_stack.resize(i);
                break;
            }
        }
        return true;
    }

    bool OpenTag() {
        const char* q = m_p + 1;
        while (q < m_end && !IsBlank(*q) && *q != '[' && *q != '<' && *q != '>' && *q != '/') ++q;
        if (q == m_p + 1) {
            // "<" that starts no tag: it is text.
            if (TakesText()) Current()->AppendContents("<", 1);
            ++m_p;
            return true;
        }
        if (m_elements >= CXMLnode::kMaxElements) {
            m_status.warning = "The file holds more elements than Navora reads from one file (" +
                               std::to_string(CXMLnode::kMaxElements) + "); only the part before them was read.";
            return false;
        }
        CXMLnode* parent = Current();
        CXMLnode* node = parent->AddChild(std::string(m_p + 1, q));
        ++m_elements;
        bool selfClosing = false;
        for (;;) {
            while (q < m_end && IsBlank(*q)) ++q;
            if (q >= m_end) {
                DropLastChild(parent);
                CutShort();
                return false;
            }
            const char c = *q;
            if (c == '>') {
                ++q;
                break;
            }
            if (c == '/') {
                if (q + 1 < m_end && q[1] == '>') {
                    q += 2;
                    selfClosing = true;
                    break;
                }
                ++q;
                continue;
            }
            if (c == '<') break;  // the tag was never finished: the next one starts here
            const char* an = q;
            while (q < m_end && !IsBlank(*q) && *q != '=' && *q != '>' && *q != '/' && *q != '<') ++q;
            if (q == an) {  // a stray character (a quote, "="): skip it
                ++q;
                continue;
            }
            const char* anEnd = q;
            while (q < m_end && IsBlank(*q)) ++q;
            std::string value;
            if (q < m_end && *q == '=') {
                ++q;
                while (q < m_end && IsBlank(*q)) ++q;
                if (q < m_end && (*q == '"' || *q == '\'')) {
                    const char* close = static_cast<const char*>(std::memchr(q + 1, *q, size_t(m_end - q - 1)));
                    if (!close) {
                        DropLastChild(parent);
                        CutShort();
                        return false;
                    }
                    AppendDecoded(value, q + 1, close);
                    q = close + 1;
                } else {
                    const char* vs = q;
                    while (q < m_end && !IsBlank(*q) && *q != '>' && *q != '<') ++q;
                    if (q > vs && q[-1] == '/' && q < m_end && *q == '>') --q;  // a="1"/>
                    AppendDecoded(value, vs, q);
                }
            }
            if (node->Attributes().size() < CXMLnode::kMaxAttributes) node->AddAttribute(std::string(an, anEnd), std::move(value));
        }
        m_p = q;
        if (!selfClosing) {
            if (int(m_stack.size()) > CXMLnode::kMaxDepth) {
                m_status.warning = "The file nests its elements more than " + std::to_string(CXMLnode::kMaxDepth) +
                                   " deep; only the part before that was read.";
                return false;
            }
            m_stack.push_back(node);
        }
        return true;
    }

    static void DropLastChild(CXMLnode* parent) { parent->RemoveLastChild(); }

    const char* m_begin;
    const char* m_p;
    const char* m_end;
    CXMLnode::Status& m_status;
    CProgressDialogData* m_progress;
    std::vector<CXMLnode*> m_stack;
    size_t m_elements = 0;
};

}  // namespace

// ---- reading

std::unique_ptr<CXMLnode> CXMLnode::ParseBuffer(const char* data, size_t size, Status* status,
                                                CProgressDialogData* progress) {
    Status local;
    Status& st = status ? *status : local;
    st = Status();
    if (!data) size = 0;
    // Byte-order marks and 8-bit encodings: everything is read as UTF-8.
    std::string converted;
    if (size >= 2 && ((uint8_t(data[0]) == 0xFF && uint8_t(data[1]) == 0xFE) ||
                      (uint8_t(data[0]) == 0xFE && uint8_t(data[1]) == 0xFF))) {
        QStringDecoder decoder(uint8_t(data[0]) == 0xFF ? QStringConverter::Utf16LE : QStringConverter::Utf16BE);
        const QString text = decoder(QByteArrayView(data + 2, qsizetype(size - 2)));
        converted = text.toStdString();
        data = converted.data();
        size = converted.size();
    } else if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0) {
        data += 3;
        size -= 3;
    } else {
        const std::string enc = DeclaredEncoding(data, size);
        if (enc == "iso-8859-1" || enc == "iso8859-1" || enc == "latin1" || enc == "latin-1" ||
            enc == "windows-1252" || enc == "cp1252") {
            converted = FromWindows1252(data, size);
            data = converted.data();
            size = converted.size();
        }
    }
    Parser parser(data, size, st, progress);
    return parser.Run();
}

bool ReadImportFile(const std::string& path, std::string& data, std::string& error, CProgressDialogData* progress) {
    data.clear();
    // Non-blocking, so that a named pipe handed over as a file cannot hang the reader.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = "The file cannot be opened: " + std::string(std::strerror(errno)) + ".";
        return false;
    }
    struct FdCloser {
        int fd;
        ~FdCloser() { ::close(fd); }
    } closer{fd};
    struct stat sb {};
    if (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode)) {
        error = "This is not a file that can be imported.";
        return false;
    }
    if (sb.st_size > CXMLnode::kMaxFileBytes) {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "The file is too large to import (%.1f MB); Navora imports files of up to %lld MB.",
                      double(sb.st_size) / (1 << 20), CXMLnode::kMaxFileBytes >> 20);
        error = buf;
        return false;
    }
    // The size is taken once; a file that grows meanwhile is read up to that size only.
    data.resize(size_t(sb.st_size));
    size_t got = 0;
    while (got < data.size()) {
        const size_t want = std::min<size_t>(data.size() - got, 4 << 20);
        const ssize_t n = ::read(fd, data.data() + got, want);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "The file cannot be read: " + std::string(std::strerror(errno)) + ".";
            data.clear();
            return false;
        }
        if (n == 0) break;
        got += size_t(n);
        if (progress) {
            // Reading is the first fifth of the work, parsing most of the rest.
            progress->SetProgress(0.2 * double(got) / double(data.size()));
            if (progress->IsCancelled()) {
                error = "The import was cancelled.";
                data.clear();
                return false;
            }
        }
    }
    data.resize(got);
    return true;
}

std::unique_ptr<CXMLnode> CXMLnode::ParseFile(const std::string& path, Status* status, CProgressDialogData* progress) {
    Status local;
    Status& st = status ? *status : local;
    st = Status();
    std::string data;
    if (!ReadImportFile(path, data, st.error, progress)) return nullptr;
    return ParseBuffer(data.data(), data.size(), &st, progress);
}

bool IsValidUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* e = p + text.size();
    while (p < e) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (!n || size_t(e - p) < n) return false;
        for (size_t i = 1; i < n; ++i)
            if ((p[i] & 0xC0) != 0x80) return false;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F) || (c == 0xF0 && p[1] < 0x90) ||
            (c == 0xF4 && p[1] > 0x8F))
            return false;
        p += n;
    }
    return true;
}

std::string LegacyTextToUtf8(const std::string& text) {
    if (IsValidUtf8(text)) return text;
    return FromWindows1252(text.data(), text.size());
}

// ---- the tree

CXMLnode* CXMLnode::AddChild(std::string tag) {
    m_children.push_back(std::make_unique<CXMLnode>(std::move(tag)));
    return m_children.back().get();
}

void CXMLnode::RemoveLastChild() {
    if (!m_children.empty()) m_children.pop_back();
}

void CXMLnode::AddAttribute(std::string name, std::string value) {
    m_attributes.push_back({std::move(name), std::move(value)});
}

bool XMLNameMatches(const std::string& nodeName, const char* wanted) {
    const size_t wn = std::strlen(wanted);
    const char* n = nodeName.data();
    size_t nn = nodeName.size();
    if (!std::memchr(wanted, ':', wn)) {
        const size_t colon = nodeName.rfind(':');
        if (colon != std::string::npos) {
            n += colon + 1;
            nn -= colon + 1;
        }
    }
    return SameNoCase(n, nn, wanted, wn);
}

bool CXMLnode::Is(const char* name) const {
    return XMLNameMatches(m_name, name);
}

const CXMLnode* CXMLnode::FindChild(const char* name) const {
    size_t it = 0;
    return FindChild(name, it);
}

const CXMLnode* CXMLnode::FindChild(const char* name, size_t& iterator) const {
    while (iterator < m_children.size()) {
        const CXMLnode* c = m_children[iterator++].get();
        if (c->Is(name)) return c;
    }
    return nullptr;
}

void CXMLnode::StartFindRecursive() const {
    if (!m_search) m_search = std::make_unique<SearchState>();
    m_search->stack.clear();
    m_search->stack.emplace_back(this, SearchState::kSelf);
}

const CXMLnode* CXMLnode::FindNextRecursive(const char* name) const {
    if (!m_search) StartFindRecursive();
    auto& stack = m_search->stack;
    while (!stack.empty()) {
        const CXMLnode* n = stack.back().first;
        size_t& next = stack.back().second;
        if (next == SearchState::kSelf) {
            next = 0;
            if (n->Is(name)) return n;
            continue;
        }
        if (next < n->m_children.size()) {
            const CXMLnode* child = n->m_children[next++].get();
            stack.emplace_back(child, SearchState::kSelf);
            continue;
        }
        stack.pop_back();
    }
    return nullptr;
}

const std::string* CXMLnode::FindAttribute(const char* name) const {
    const size_t wn = std::strlen(name);
    for (const Attribute& a : m_attributes)
        if (SameNoCase(a.name.data(), a.name.size(), name, wn)) return &a.value;
    return nullptr;
}

double CXMLnode::FindAttributeDbl(const char* name, double def) const {
    const std::string* v = FindAttribute(name);
    double d;
    return (v && ParseXmlNumber(*v, d)) ? d : def;
}

int CXMLnode::FindAttributeInt(const char* name, int def) const {
    const std::string* v = FindAttribute(name);
    long long i;
    if (!v || !ParseXmlInt(*v, i) || i < std::numeric_limits<int>::min() || i > std::numeric_limits<int>::max())
        return def;
    return int(i);
}

void CXMLnode::GetChildContents(std::string& out) const {
    if (m_children.empty()) out += m_contents;
    for (const auto& c : m_children) c->GetChildContents(out);
}

bool CXMLnode::FindChildGetContents(const char* name, std::string& out) const {
    const CXMLnode* c = FindChild(name);
    if (!c) return false;
    std::string text;
    c->GetChildContents(text);
    // Pretty-printed files put the text on a line of its own.
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    out = text.substr(b, e - b);
    return true;
}

bool CXMLnode::FindChildGetContents(const char* name, double& out) const {
    std::string text;
    if (!FindChildGetContents(name, text)) return false;
    double d;
    if (ParseXmlNumber(text, d)) out = d;
    return true;
}

bool CXMLnode::FindChildGetContents(const char* name, float& out) const {
    double d = out;
    if (!FindChildGetContents(name, d)) return false;
    if (std::fabs(d) <= double(std::numeric_limits<float>::max())) out = float(d);
    return true;
}

namespace {
template <class T>
bool IntegerContents(const CXMLnode& node, const char* name, T& out) {
    std::string text;
    if (!node.FindChildGetContents(name, text)) return false;
    long long v;
    if (!ParseXmlInt(text, v)) {
        double d;
        if (!ParseXmlNumber(text, d) || std::fabs(d) > 9e18) return true;
        v = static_cast<long long>(d);
    }
    if (v >= std::numeric_limits<T>::min() && v <= std::numeric_limits<T>::max()) out = T(v);
    return true;
}
}  // namespace

bool CXMLnode::FindChildGetContents(const char* name, int& out) const {
    return IntegerContents(*this, name, out);
}

bool CXMLnode::FindChildGetContents(const char* name, short& out) const {
    return IntegerContents(*this, name, out);
}

// ---- numbers

bool ParseXmlNumber(const char* b, const char* e, double& out) {
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    if (b < e && *b == '+') ++b;
    if (b >= e) return false;
    double v = 0;
    const auto r = std::from_chars(b, e, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool ParseXmlNumber(const std::string& text, double& out) {
    return ParseXmlNumber(text.data(), text.data() + text.size(), out);
}

bool ParseXmlInt(const std::string& text, long long& out) {
    const char* b = text.data();
    const char* e = b + text.size();
    while (b < e && IsBlank(*b)) ++b;
    while (e > b && IsBlank(e[-1])) --e;
    if (b < e && *b == '+') ++b;
    if (b >= e) return false;
    long long v = 0;
    const auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e) return false;
    out = v;
    return true;
}

// ---- times

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

void CivilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = int(yy + (m <= 2));
}

// Like "%d": blanks, an optional sign, digits.
bool ReadField(const char*& p, long& v) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    long n = 0;
    int digits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++digits > 9) return false;
        n = n * 10 + (*p++ - '0');
    }
    v = negative ? -n : n;
    return true;
}

}  // namespace

double parse_time(const char* text) {
    if (!text) return 0;
    long f[6];
    const char* p = text;
    static const char kSeparators[5] = {'-', '-', 'T', ':', ':'};
    for (int i = 0; i < 6; ++i) {
        if (!ReadField(p, f[i])) return 0;
        if (i < 5) {
            const char s = *p;
            const bool ok = s == kSeparators[i] || (kSeparators[i] == 'T' && (s == 't' || s == ' '));
            if (!ok) return 0;
            ++p;
        }
    }
    if (f[0] < 1 || f[0] > 9999 || f[1] < 1 || f[1] > 12 || f[2] < 1 || f[2] > 31 || f[3] < 0 || f[3] > 24 ||
        f[4] < 0 || f[4] > 59 || f[5] < 0 || f[5] > 60)
        return 0;
    // Track points arrive by the thousand with the same date.
    struct DayCache {
        long y = 0, m = 0, d = 0;
        long long days = 0;
    };
    thread_local DayCache cache;
    if (cache.y != f[0] || cache.m != f[1] || cache.d != f[2]) {
        cache.y = f[0];
        cache.m = f[1];
        cache.d = f[2];
        cache.days = DaysFromCivil(f[0], unsigned(f[1]), unsigned(f[2]));
    }
    return double(cache.days) * 86400.0 + double(f[3] * 3600 + f[4] * 60 + f[5]);
}

void format_time(double seconds, std::string& out) {
    // Years 1 to 9999 are what the format can hold.
    constexpr double kFirst = -62135596800.0, kLast = 253402300799.0;
    if (!std::isfinite(seconds)) seconds = 0;
    seconds = std::min(std::max(std::floor(seconds), kFirst), kLast);
    const long long s = static_cast<long long>(seconds);
    long long days = s / 86400;
    long long rem = s % 86400;
    if (rem < 0) {
        rem += 86400;
        --days;
    }
    int y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02dZ", y, m, d, int(rem / 3600), int(rem / 60 % 60),
                  int(rem % 60));
    out = buf;
}

std::string format_time(double seconds) {
    std::string s;
    format_time(seconds, s);
    return s;
}
