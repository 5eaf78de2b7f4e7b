// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/serializable.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/apppaths.h"

// Object files are little-endian; values are copied as their in-memory bytes, which is
// right on every platform we build for.
static_assert(sizeof(float) == 4 && sizeof(double) == 8, "IEEE-754 sizes expected");

CSerializable::Type* CSerializable::Type::list = nullptr;

CSerializable::Type::Type(uint32_t typeId) : id(typeId), next(list) {
    list = this;
}

// ---- IOStream ----

CSerializable::IOStream::IOStream(const std::string& path, bool writing, const NV_HWND& hwnd)
    : m_hwnd(hwnd), m_baseDir(DirectoryOf(path)) {
    FILE* f = std::fopen(path.c_str(), writing ? "wb" : "rb");
    if (writing)
        m_out = f;
    else
        m_in = f;
    if (!f) {
        m_failed = true;
        return;
    }
    if (!writing) {
        constexpr long long kMemoryLimit = 64LL * 1024 * 1024;
        const long long size = FileSize(path);
        if (size >= 0 && size <= kMemoryLimit) {
            m_rbuf.resize(size_t(size));
            if (size == 0 || std::fread(m_rbuf.data(), 1, size_t(size), f) == size_t(size)) {
                m_inMemory = true;
            } else {
                std::vector<unsigned char>().swap(m_rbuf);
                std::rewind(f);
            }
        }
    }
}

CSerializable::IOStream::~IOStream() {
    Close();
}

bool CSerializable::IOStream::Close() {
    bool ok = !m_failed;
    if (m_out) {
        if (ok && m_size > 0 && std::fwrite(m_wbuf.data(), 1, size_t(m_size), m_out) != size_t(m_size)) ok = false;
        std::vector<unsigned char>().swap(m_wbuf);
        if (std::fflush(m_out) != 0 || std::ferror(m_out)) ok = false;
        if (std::fclose(m_out) != 0) ok = false;
        m_out = nullptr;
    }
    if (m_in) {
        std::fclose(m_in);
        m_in = nullptr;
        std::vector<unsigned char>().swap(m_rbuf);
        m_inMemory = false;
    }
    if (!ok) m_failed = true;
    return ok;
}

void CSerializable::IOStream::Fail() {
    m_failed = true;
    if (m_in) std::fclose(m_in);
    if (m_out) std::fclose(m_out);
    m_in = nullptr;
    m_out = nullptr;
    std::vector<unsigned char>().swap(m_wbuf);
    std::vector<unsigned char>().swap(m_rbuf);
    m_inMemory = false;
}

bool CSerializable::IOStream::Read(void* buf, size_t n) {
    if (!m_in) return false;
    if (n == 0) return true;
    if (m_inMemory) {
        const size_t avail = m_pos < 0 || size_t(m_pos) >= m_rbuf.size() ? 0 : m_rbuf.size() - size_t(m_pos);
        const size_t got = std::min(n, avail);
        if (got) std::memcpy(buf, m_rbuf.data() + m_pos, got);
        m_pos += static_cast<long long>(got);
        return got == n;
    }
    const size_t got = std::fread(buf, 1, n, m_in);
    m_pos += static_cast<long long>(got);
    return got == n;
}

bool CSerializable::IOStream::Write(const void* buf, size_t n) {
    if (!m_out) return false;
    if (n == 0) return true;
    const size_t end = size_t(m_pos) + n;
    if (end > m_wbuf.size()) {
        try {
            m_wbuf.resize(std::max(end, m_wbuf.size() * 2));
        } catch (const std::bad_alloc&) {
            Fail();
            return false;
        }
    }
    std::memcpy(m_wbuf.data() + m_pos, buf, n);
    m_pos += static_cast<long long>(n);
    m_size = std::max(m_size, m_pos);
    return true;
}

bool CSerializable::IOStream::ReadU32(uint32_t& v) {
    unsigned char b[4];
    if (!Read(b, 4)) return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool CSerializable::IOStream::WriteU32(uint32_t v) {
    const unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    return Write(b, 4);
}

bool CSerializable::IOStream::Seek(long long pos) {
    FILE* f = m_in ? m_in : m_out;
    if (!f || pos < 0) return false;
    if (pos == m_pos) return true;
    if (m_out) {
        // In memory: anywhere up to what was written.
        if (pos > m_size) return false;
        m_pos = pos;
        return true;
    }
    if (m_inMemory) {
        // As on a file, a position past the end is reached, and reading there fails.
        m_pos = pos;
        return true;
    }
    if (fseeko(f, static_cast<off_t>(pos), SEEK_SET) != 0) {
        Fail();
        return false;
    }
    m_pos = pos;
    return true;
}

bool CSerializable::IOStream::SeekToEnd() {
    return m_out ? Seek(m_size) : false;
}

// ---- Section ----

CSerializable::Section::Section(IOStream& s) : m_stream(s) {
    m_start = s.Position();
    m_end = m_start;
    if (s.IsWriting()) {
        const unsigned char placeholder[5] = {0, 0, 0, 0, 0};
        m_open = s.Write(placeholder, 5);
        return;
    }
    if (!s.IsReading()) return;
    unsigned char marker = 0;
    if (!s.Read(&marker, 1) || marker != kSectionMarker) {
        // Not a section: it is empty, and the byte belongs to whoever reads next.
        s.Seek(m_start);
        m_open = true;
        return;
    }
    uint32_t length = 0;
    if (!s.ReadU32(length) || length == 0 || length > kMaxSectionLength) {
        s.Fail();
        return;
    }
    // A length shorter than the header itself still ends after the header: the reader
    // never moves backwards over bytes it has consumed.
    m_end = m_start + std::max<long long>(length, 5);
    m_open = true;
}

CSerializable::Section::~Section() {
    if (!m_open || !m_stream.IsOpen()) return;
    if (m_stream.IsWriting()) {
        const long long length = m_stream.Position() - m_start;
        if (length > 0xFFFFFFFFLL) {
            m_stream.Fail();
            return;
        }
        if (!m_stream.Seek(m_start)) return;
        const unsigned char marker = kSectionMarker;
        if (m_stream.Write(&marker, 1) && m_stream.WriteU32(uint32_t(length))) m_stream.SeekToEnd();
    } else {
        m_stream.Seek(m_end);
    }
}

bool CSerializable::Section::AtEnd() const {
    return !m_stream.IsReading() || m_stream.Position() >= m_end;
}

bool CSerializable::Section::Begin(bool& atEnd) {
    atEnd = false;
    if (!m_open || !m_stream.IsOpen()) return false;
    if (m_stream.IsReading()) atEnd = m_stream.Position() >= m_end;
    return true;
}

bool CSerializable::Section::declare_fblock(void* buf, int size) {
    bool atEnd;
    if (!Begin(atEnd) || size < 0) return false;
    if (atEnd) return true;
    if (m_stream.IsWriting()) return m_stream.Write(buf, size_t(size));
    return m_stream.Read(buf, size_t(size));
}

bool CSerializable::Section::declare_vblock(void* buf, int maxsize) {
    bool atEnd;
    if (!Begin(atEnd) || maxsize < 0) return false;
    if (atEnd) return true;
    if (m_stream.IsWriting()) return m_stream.WriteU32(uint32_t(maxsize)) && m_stream.Write(buf, size_t(maxsize));
    uint32_t n = 0;
    if (!m_stream.ReadU32(n)) return false;
    // A block reaching past its section cannot have been written by us.
    if (m_stream.Position() + static_cast<long long>(n) > m_end) return false;
    const size_t take = std::min<size_t>(n, size_t(maxsize));
    if (!m_stream.Read(buf, take)) return false;
    return m_stream.Skip(static_cast<long long>(n) - static_cast<long long>(take));
}

bool CSerializable::Section::declare_array(void* buf, int elemsize, int count) {
    bool atEnd;
    if (!Begin(atEnd) || elemsize < 0 || count < 0) return false;
    if (atEnd) return true;
    auto* bytes = static_cast<unsigned char*>(buf);
    if (m_stream.IsWriting()) {
        return m_stream.WriteU32(uint32_t(elemsize)) && m_stream.Write(buf, size_t(elemsize) * size_t(count));
    }
    uint32_t stored = 0;
    if (!m_stream.ReadU32(stored)) return false;
    const long long remaining = m_end - m_stream.Position();
    if (stored != 0 && static_cast<long long>(count) > remaining / static_cast<long long>(stored)) return false;
    const size_t take = std::min<size_t>(stored, size_t(elemsize));
    for (int i = 0; i < count; ++i) {
        if (!m_stream.Read(bytes + size_t(i) * size_t(elemsize), take)) return false;
        if (stored > take && !m_stream.Skip(static_cast<long long>(stored - take))) return false;
    }
    return true;
}

bool CSerializable::Section::declare(std::string& s) {
    bool atEnd;
    if (!Begin(atEnd)) return false;
    if (atEnd) return true;
    if (m_stream.IsWriting()) {
        if (s.size() > 0xFFFFFFFFu) return false;
        return m_stream.WriteU32(uint32_t(s.size())) && m_stream.Write(s.data(), s.size());
    }
    uint32_t n = 0;
    if (!m_stream.ReadU32(n) || n > kMaxStringLength) return false;
    // Read in bounded pieces so that a lying length on a short file costs nothing.
    std::string out;
    char chunk[4096];
    while (n > 0) {
        const size_t take = std::min<size_t>(n, sizeof chunk);
        if (!m_stream.Read(chunk, take)) return false;
        out.append(chunk, take);
        n -= uint32_t(take);
    }
    s = std::move(out);
    return true;
}

namespace {
bool IsAbsolutePath(const std::string& p) {
    return p.size() > 1 && (p[0] == '/' || p[1] == ':');
}
}  // namespace

bool CSerializable::Section::declarefilename(std::string& path) {
    if (m_stream.IsWriting()) {
        const std::string& base = m_stream.BaseDirectory();
        std::string stored = path;
        if (!base.empty() && stored.compare(0, base.size(), base) == 0) stored.erase(0, base.size());
        return declare(stored);
    }
    std::string read = path;
    bool atEnd;
    if (!Begin(atEnd)) return false;
    if (atEnd) return true;
    if (!declare(read)) return false;
    if (!read.empty() && !IsAbsolutePath(read)) read = m_stream.BaseDirectory() + read;
    path = std::move(read);
    return true;
}

bool CSerializable::Section::declarecolor(GraphicsColor& c) {
    float f[4];
    if (m_stream.IsWriting()) {
        c.GetFloats(f[0], f[1], f[2], f[3]);
        return declare_fblock(f, sizeof f);
    }
    bool atEnd;
    if (!Begin(atEnd)) return false;
    if (atEnd) return true;
    if (!declare_fblock(f, sizeof f)) return false;
    c.SetFloats(f[0], f[1], f[2], f[3]);
    return true;
}

bool CSerializable::Section::declaremagic(int magic) {
    bool atEnd;
    if (!Begin(atEnd)) return false;
    if (atEnd) return true;
    if (m_stream.IsWriting()) return m_stream.WriteU32(uint32_t(magic));
    uint32_t v = 0;
    return m_stream.ReadU32(v) && v == uint32_t(magic);
}

// ---- lists ----

bool serializable_detail::ReadListCount(CSerializable::Section& s, uint32_t& count) {
    return s.Stream().ReadU32(count) && count <= CSerializable::kMaxListCount;
}

bool serializable_detail::WriteListCount(CSerializable::Section& s, uint32_t count) {
    return s.Stream().WriteU32(count);
}

// ---- polymorphic objects ----

bool CSerializable::WritePolymorphic(IOStream& s) {
    if (!s.IsWriting()) return false;
    const long long headerPos = s.Position();
    if (!s.WriteU32(GetTypeId()) || !s.WriteU32(0)) return false;
    if (!Serialize(s) || !s.IsWriting()) return false;
    const long long length = s.Position() - headerPos - 8;
    if (length > 0xFFFFFFFFLL) return false;
    return s.Seek(headerPos + 4) && s.WriteU32(uint32_t(length)) && s.SeekToEnd();
}

CSerializable* CSerializable::ReadPolymorphic(IOStream& s) {
    uint32_t id = 0, length = 0;
    if (!s.ReadU32(id) || !s.ReadU32(length) || length < 1) return nullptr;
    const long long end = s.Position() + length;
    std::unique_ptr<CSerializable> obj;
    for (const Type* t = Type::list; t; t = t->next) {
        if (t->id == id) {
            obj.reset(t->Create());
            break;
        }
    }
    if (obj && !obj->Serialize(s)) obj.reset();
    if (s.IsOpen() && s.Position() != end) s.Seek(end);
    return obj.release();
}

// ---- whole files ----

bool CSerializable::WriteFile(const std::string& path, const NV_HWND& hwnd, int magic) {
    if (path.empty()) return false;
    createPath(path);
    const std::string tmp = path + ".tmp";
    bool ok;
    {
        OutStream out(tmp, hwnd);
        // Relative file names are relative to the final file, not the temporary one.
        out.SetBaseDirectory(DirectoryOf(path));
        ok = out.IsWriting() && out.WriteU32(kFileMagic);
        if (ok && magic != 0) {
            Section sec(out);
            ok = sec.declaremagic(magic);
        }
        ok = ok && Serialize(out);
        ok = out.Close() && ok;
    }
    if (ok && ReplaceFile(tmp, path)) return true;
    std::remove(tmp.c_str());
    return false;
}

bool CSerializable::WriteFile(const char* path, const NV_HWND& hwnd, int magic) {
    return path && WriteFile(std::string(path), hwnd, magic);
}

bool CSerializable::ReadFile(const std::string& path, const NV_HWND& hwnd, int magic) {
    InStream in(path, hwnd);
    uint32_t fileMagic = 0;
    if (!in.ReadU32(fileMagic) || fileMagic != kFileMagic) return false;
    if (magic != 0) {
        Section sec(in);
        if (sec.AtEnd() || !sec.declaremagic(magic)) return false;
    }
    return Serialize(in);
}

bool CSerializable::ReadFile(const char* path, const NV_HWND& hwnd, int magic) {
    return path && ReadFile(std::string(path), hwnd, magic);
}

uint32_t CSerializable::readMagic(const std::string& path) {
    InStream in(path);
    uint32_t fileMagic = 0;
    if (!in.ReadU32(fileMagic) || fileMagic != kFileMagic) return 0;
    Section sec(in);
    uint32_t v = 0;
    if (sec.AtEnd() || !in.ReadU32(v)) return 0;
    return sec.End() == in.Position() ? v : 0;
}
