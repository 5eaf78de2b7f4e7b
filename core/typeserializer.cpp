// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/typeserializer.h"

#include <algorithm>
#include <cstring>
#include <vector>

bool CTypeSerializer::Write(const void* buf, size_t size) {
    if (!ok) return false;
    if (size == 0) return true;
    if (!put_data(buf, size)) {
        ok = false;
        return false;
    }
    count += static_cast<long long>(size);
    return true;
}

bool CTypeSerializer::ReadBytes(void* buf, size_t size) {
    if (!ok) return false;
    if (size == 0) return true;
    if (!get_data(buf, size)) {
        ok = false;
        return false;
    }
    count += static_cast<long long>(size);
    return true;
}

bool CTypeSerializer::Skip(size_t size) {
    char chunk[1024];
    while (size > 0) {
        const size_t n = std::min(size, sizeof chunk);
        if (!ReadBytes(chunk, n)) return false;
        size -= n;
    }
    return true;
}

namespace {
void PutU32(unsigned char* b, uint32_t v) {
    b[0] = static_cast<unsigned char>(v);
    b[1] = static_cast<unsigned char>(v >> 8);
    b[2] = static_cast<unsigned char>(v >> 16);
    b[3] = static_cast<unsigned char>(v >> 24);
}
uint32_t GetU32(const unsigned char* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
}  // namespace

bool CTypeSerializer::declaremagic(int magic) {
    unsigned char b[4];
    if (mode == kWrite) {
        PutU32(b, uint32_t(magic));
        return Write(b, 4);
    }
    if (mode == kRead) return ReadBytes(b, 4) && GetU32(b) == uint32_t(magic);
    return ok;
}

bool CTypeSerializer::declare(void* buf, int size) {
    if (size < 0) return false;
    if (mode == kWrite) return Write(buf, size_t(size));
    if (mode == kRead) return ReadBytes(buf, size_t(size));
    return ok;
}

bool CTypeSerializer::declare(std::string& s) {
    if (mode == kWrite) return put(s);
    if (mode == kRead) return get(s);
    return ok;
}

bool CTypeSerializer::declaresize(void* buf, int& size) {
    if (mode == kWrite) return putsize(buf, size);
    if (mode == kRead) return getsize(buf, size);
    return ok;
}

bool CTypeSerializer::put(const std::string& s) {
    if (s.size() > 0xFFFFFFFFu) {
        ok = false;
        return false;
    }
    unsigned char b[4];
    PutU32(b, uint32_t(s.size()));
    if (!Write(b, 4)) return false;
    if (!wide) return Write(s.data(), s.size());
    // Each byte as a 16-bit unit holding its sign-extended value.
    std::vector<unsigned char> units(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        const auto u = static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(s[i])));
        units[2 * i] = static_cast<unsigned char>(u);
        units[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
    return Write(units.data(), units.size());
}

bool CTypeSerializer::get(std::string& s) {
    unsigned char b[4];
    if (!ReadBytes(b, 4)) return false;
    const uint32_t n = GetU32(b);
    if (n > kMaxStringChars) {
        ok = false;
        return false;
    }
    std::string out(n, '\0');
    if (!wide) {
        if (!ReadBytes(out.data(), n)) return false;
    } else {
        std::vector<unsigned char> units(size_t(n) * 2);
        if (!ReadBytes(units.data(), units.size())) return false;
        for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<char>(units[2 * i]);
    }
    s = std::move(out);
    return true;
}

bool CTypeSerializer::putsize(const void* buf, int size) {
    if (size < 0) {
        ok = false;
        return false;
    }
    unsigned char b[4];
    PutU32(b, uint32_t(size));
    return Write(b, 4) && Write(buf, size_t(size));
}

bool CTypeSerializer::getsize(void* buf, int& size) {
    unsigned char b[4];
    if (!ReadBytes(b, 4)) return false;
    const auto stored = static_cast<int32_t>(GetU32(b));
    if (stored < 0 || stored > kMaxSizedBlock || size < 0) {
        ok = false;
        return false;
    }
    if (stored <= size) {
        if (!ReadBytes(buf, size_t(stored))) return false;
        size = stored;
        return true;
    }
    return ReadBytes(buf, size_t(size)) && Skip(size_t(stored - size));
}

bool CTypeSerializer::getstr(char* dst, int len) {
    std::string s;
    if (!get(s)) return false;
    if (dst && len > 0) {
        const size_t n = std::min(s.size(), size_t(len));
        std::memcpy(dst, s.data(), n);
        if (n < size_t(len)) dst[n] = 0;
        dst[len - 1] = 0;
    }
    return true;
}

// ---- files ----

CTypeFileOut::CTypeFileOut(const std::string& path) {
    m_file = std::fopen(path.c_str(), "wb");
    mode = kWrite;
    ok = m_file != nullptr;
    wide = true;
}

CTypeFileOut::~CTypeFileOut() {
    Close();
}

bool CTypeFileOut::Close() {
    if (!m_file) return ok;
    if (std::fflush(m_file) != 0 || std::ferror(m_file)) ok = false;
    if (std::fclose(m_file) != 0) ok = false;
    m_file = nullptr;
    return ok;
}

bool CTypeFileOut::put_data(const void* buf, size_t size) {
    return m_file && std::fwrite(buf, 1, size, m_file) == size;
}

bool CTypeFileOut::get_data(void*, size_t) {
    return false;
}

CTypeFileIn::CTypeFileIn(const std::string& path) {
    m_file = std::fopen(path.c_str(), "rb");
    mode = kRead;
    ok = m_file != nullptr;
    wide = true;
}

CTypeFileIn::~CTypeFileIn() {
    Close();
}

void CTypeFileIn::Close() {
    if (m_file) std::fclose(m_file);
    m_file = nullptr;
}

bool CTypeFileIn::put_data(const void*, size_t) {
    return false;
}

bool CTypeFileIn::get_data(void* buf, size_t size) {
    return m_file && std::fread(buf, 1, size, m_file) == size;
}

// ---- memory ----

CTypeMemoryOut::CTypeMemoryOut() {
    mode = kWrite;
    ok = true;
    wide = true;
}

bool CTypeMemoryOut::put_data(const void* buf, size_t size) {
    m_data.append(static_cast<const char*>(buf), size);
    return true;
}

bool CTypeMemoryOut::get_data(void*, size_t) {
    return false;
}

CTypeMemoryIn::CTypeMemoryIn(std::string data) : m_data(std::move(data)) {
    mode = kRead;
    ok = true;
    wide = true;
}

bool CTypeMemoryIn::put_data(const void*, size_t) {
    return false;
}

bool CTypeMemoryIn::get_data(void* buf, size_t size) {
    if (size > m_data.size() - m_pos) {
        m_pos = m_data.size();
        return false;
    }
    std::memcpy(buf, m_data.data() + m_pos, size);
    m_pos += size;
    return true;
}
