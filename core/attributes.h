// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// An ordered string-to-string map with text forms: "key=value" lines (settings files)
// or a URL-query string "k1=v1&k2=v2" with escaped values (links, requests).
// Numbers are written and parsed independently of the C locale.

#include <map>
#include <string>

class CAttributes {
public:
    using Map = std::map<std::string, std::string>;

    // Readers. Absent keys give the default.
    const std::string& Get(const std::string& key) const;
    std::string GetStr(const std::string& key, const std::string& def) const;
    // True (and `out` set, even to an empty value) when the key exists.
    bool GetIfPresent(const std::string& key, std::string& out) const;
    // True when the key exists with a non-empty value.
    bool Has(const std::string& key) const;
    // Decimal, "0x" hexadecimal or leading-zero octal; an unparsable value gives `def`.
    int GetInt(const std::string& key, int def) const;
    int GetNumberedInt(const std::string& key, int i, int def = 0) const;
    // True when the value starts with "T", "t" or "1".
    bool GetBool(const std::string& key) const;
    double GetDecimal(const std::string& key, double def) const;
    // Decodes hexadecimal pairs into `buf`; returns the number of bytes decoded.
    int GetData(const std::string& key, void* buf, int maxlen) const;
    const std::string& GetNumbered(const std::string& key, int i) const;

    // Writers.
    void Set(const std::string& key, const std::string& value);
    void SetInt(const std::string& key, int value);   // "0x%x"
    void SetIntD(const std::string& key, int value);  // "%d"
    void SetDecimal(const std::string& key, double value);
    void SetData(const std::string& key, const void* buf, int len);
    void SetNumbered(const std::string& key, int i, const std::string& value);
    void SetNumberedInt(const std::string& key, int i, int value);
    // Copies every pair whose key and value are both non-empty, overwriting.
    void Add(const CAttributes& other);
    void Clear(const std::string& key);
    void TrimAllSpaces();

    // Text forms.
    void AddString(const std::string& text);
    // False when the file cannot be opened.
    bool AddFile(const std::string& path);
    std::string ToText() const;
    std::string ToString() const;
    // Writes "<path>.tmp" and renames it over `path`, so a failed write leaves the old
    // file as it was. False on any error.
    bool ToFile(const std::string& path) const;

    const Map& Pairs() const { return m_map; }
    size_t Size() const { return m_map.size(); }
    bool IsEmpty() const { return m_map.empty(); }

    static std::string NumberedKey(const std::string& key, int i);
    static std::string Escape(const std::string& s);
    static std::string Unescape(const std::string& s);

private:
    Map m_map;
};
