// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A small, forgiving XML reader for overlay files (GPX), and the time texts they carry.
//
// The reader builds a tree of CXMLnode from the whole document. It is meant for files
// that other programs wrote, sometimes badly, and for files that are not XML at all: it
// never trusts the input. Closing tags that do not match are recovered from, an element
// left open at the end of the file keeps what it had, and the limits below stop a file
// from making the reader use unbounded memory or stack. Reading may run on any thread;
// the tree belongs to whoever holds it.
//
// Element names compare case-insensitively, and a name asked for without a namespace
// prefix matches any prefix: FindChild("fill") finds "xstyle:fill" and "gpx_style:fill".

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CProgressDialogData;

class CXMLnode {
public:
    // Files larger than this are refused before anything is read.
    static constexpr long long kMaxFileBytes = 256LL << 20;
    // Deeper nesting stops the reading there (GPX needs five levels).
    static constexpr int kMaxDepth = 256;
    // More elements than this stop the reading there (a 200,000-point track has 600,000).
    static constexpr size_t kMaxElements = 12'000'000;
    // Attributes beyond this many on one element are skipped.
    static constexpr size_t kMaxAttributes = 64;

    struct Attribute {
        std::string name;
        std::string value;
    };

    // How reading went. `error` is set when there is no tree at all; `warning` when the
    // tree holds only part of the file (it ended early, or a limit was reached).
    struct Status {
        std::string error;
        std::string warning;
    };

    CXMLnode();
    explicit CXMLnode(std::string tag);
    ~CXMLnode();
    CXMLnode(const CXMLnode&) = delete;
    CXMLnode& operator=(const CXMLnode&) = delete;

    // The whole file as a tree under a nameless root node; null when the file cannot be
    // read (missing, not a regular file, too large, cancelled). With `progress`, the
    // bytes read and parsed are reported and its cancel flag is obeyed.
    static std::unique_ptr<CXMLnode> ParseFile(const std::string& path, Status* status = nullptr,
                                               CProgressDialogData* progress = nullptr);
    // The same for a document in memory (any bytes at all).
    static std::unique_ptr<CXMLnode> ParseBuffer(const char* data, size_t size, Status* status = nullptr,
                                                 CProgressDialogData* progress = nullptr);

    const std::string& Name() const { return m_name; }
    const std::string& Contents() const { return m_contents; }
    const std::vector<Attribute>& Attributes() const { return m_attributes; }
    bool HasChildren() const { return !m_children.empty(); }
    const std::vector<std::unique_ptr<CXMLnode>>& Children() const { return m_children; }

    // Whether this element is called `name` (see the matching rule above).
    bool Is(const char* name) const;

    // The first child called `name`, or null.
    const CXMLnode* FindChild(const char* name) const;
    // The next child called `name` after the one `iterator` points at; start with 0.
    const CXMLnode* FindChild(const char* name, size_t& iterator) const;
    // Depth-first search of the whole subtree (this node included), one match per call.
    void StartFindRecursive() const;
    const CXMLnode* FindNextRecursive(const char* name) const;

    // The value of an attribute (entities decoded), or null.
    const std::string* FindAttribute(const char* name) const;
    // Finite numbers only; anything else gives the default.
    double FindAttributeDbl(const char* name, double def) const;
    int FindAttributeInt(const char* name, int def) const;

    // This node's text when it has no children, then that of every child in order.
    void GetChildContents(std::string& out) const;
    // The text of the first child called `name`; true when that child exists (a number
    // that does not parse leaves `out` alone).
    bool FindChildGetContents(const char* name, std::string& out) const;
    bool FindChildGetContents(const char* name, double& out) const;
    bool FindChildGetContents(const char* name, float& out) const;
    bool FindChildGetContents(const char* name, int& out) const;
    bool FindChildGetContents(const char* name, short& out) const;

    // Building (the reader, and tests).
    CXMLnode* AddChild(std::string tag);
    void AddAttribute(std::string name, std::string value);
    void RemoveLastChild();
    void AppendContents(const char* text, size_t n) { m_contents.append(text, n); }
    std::string& MutableContents() { return m_contents; }

private:
    struct SearchState;

    std::string m_name;
    std::vector<Attribute> m_attributes;
    std::string m_contents;
    std::vector<std::unique_ptr<CXMLnode>> m_children;
    mutable std::unique_ptr<SearchState> m_search;
};

// Case-insensitive name match; a wanted name without ":" ignores the node's prefix.
bool XMLNameMatches(const std::string& nodeName, const char* wanted);

// "%d-%d-%dT%d:%d:%d" (year, month, day, hour, minute, second) as seconds since the
// Unix epoch, read as UTC; a fraction of a second and any zone suffix are ignored. Fewer
// than six fields, or a field out of its range, give 0.
double parse_time(const char* text);
inline double parse_time(const std::string& text) {
    return parse_time(text.c_str());
}
// UTC as "%04d-%02d-%02dT%02d:%02d:%02dZ" (whole seconds).
void format_time(double seconds, std::string& out);
std::string format_time(double seconds);

// Reads a whole file that is to be imported: a regular file of at most
// CXMLnode::kMaxFileBytes. False with `error` set (in words for the user) otherwise, or
// when `progress` is cancelled.
bool ReadImportFile(const std::string& path, std::string& data, std::string& error,
                    CProgressDialogData* progress = nullptr);
// Whether the bytes are UTF-8; text that is not is taken as Windows-1252 (which old
// programs wrote) and converted.
bool IsValidUtf8(const std::string& text);
std::string LegacyTextToUtf8(const std::string& text);

// Numbers in the one form files use, whatever the C locale says (a German desktop must
// not write "51,5"). Parsing accepts leading and trailing blanks and a leading "+", and
// rejects anything that is not a finite number.
bool ParseXmlNumber(const char* begin, const char* end, double& out);
bool ParseXmlNumber(const std::string& text, double& out);
bool ParseXmlInt(const std::string& text, long long& out);
