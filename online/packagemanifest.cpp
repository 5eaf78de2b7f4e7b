// SPDX-License-Identifier: GPL-3.0-or-later
#include "online/packagemanifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/apppaths.h"
#include "core/typeserializer.h"

uint32_t PackageBlockChecksum(const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint64_t sum = 0;
    size_t i = 0;
#if defined(__SSE2__)
    // Sums of absolute differences against zero add 16 bytes per instruction into two
    // 64-bit lanes; the checksum is bounded by reading, not by adding.
    __m128i acc = _mm_setzero_si128();
    const __m128i zero = _mm_setzero_si128();
    for (; i + 64 <= n; i += 64) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 48));
        acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_add_epi64(_mm_sad_epu8(a, zero), _mm_sad_epu8(b, zero)),
                                               _mm_add_epi64(_mm_sad_epu8(c, zero), _mm_sad_epu8(d, zero))));
    }
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    sum = lanes[0] + lanes[1];
#endif
    for (; i < n; ++i) sum += p[i];
    return static_cast<uint32_t>(sum);
}

uint32_t LocalBlockChecksum(int fd, long long offset, int length, unsigned char* buffer) {
    if (fd < 0 || length < 0) return kUnreadableBlock;
    int got = 0;
    while (got < length) {
        const ssize_t n = ::pread(fd, buffer + got, static_cast<size_t>(length - got), offset + got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return kUnreadableBlock;
        got += static_cast<int>(n);
    }
    return PackageBlockChecksum(buffer, static_cast<size_t>(length));
}

bool IsSafePackageFileName(const std::string& name) {
    if (name.empty() || name.size() > 4000 || name.front() == '/') return false;
    size_t start = 0;
    while (start <= name.size()) {
        const size_t slash = name.find('/', start);
        const std::string part = name.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (part.empty() || part == "." || part == "..") return false;
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    for (const char c : name) {
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20) return false;
    }
    return true;
}

std::string NormalisePackageFolder(const std::string& folder) {
    std::string f = folder;
    if (f.empty() || f.front() != '/') f.insert(0, "/");
    if (f.back() != '/') f.push_back('/');
    return f;
}

std::string FormatFileSize(long long bytes) {
    char text[64];
    const double b = static_cast<double>(bytes);
    if (bytes < 1024)
        std::snprintf(text, sizeof text, "%lld bytes", bytes);
    else if (bytes < (1LL << 20))
        std::snprintf(text, sizeof text, "%.1f KB", b / 1024.0);
    else if (bytes < (1LL << 30))
        std::snprintf(text, sizeof text, "%.1f MB", b / 1048576.0);
    else
        std::snprintf(text, sizeof text, "%.2f GB", b / 1073741824.0);
    return text;
}

// ---- reading ----

namespace {

bool ReadU32(CTypeSerializer& in, uint32_t& v) {
    unsigned char b[4];
    if (!in.declare(b, 4)) return false;
    v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool ReadI64(CTypeSerializer& in, long long& v) {
    unsigned char b[8];
    if (!in.declare(b, 8)) return false;
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = u << 8 | b[i];
    v = static_cast<long long>(u);
    return true;
}

bool WriteU32(CTypeSerializer& out, uint32_t v) {
    unsigned char b[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                          static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    return out.declare(b, 4);
}

bool WriteI64(CTypeSerializer& out, long long v) {
    unsigned char b[8];
    auto u = static_cast<uint64_t>(v);
    for (unsigned char& c : b) {
        c = static_cast<unsigned char>(u);
        u >>= 8;
    }
    return out.declare(b, 8);
}

long long BlocksOf(long long size) {
    return (size + kPackageBlockSize - 1) / kPackageBlockSize;
}

}  // namespace

CPackageManifestReader::CPackageManifestReader(const std::string& path)
    : m_path(path), m_in(std::make_unique<CTypeFileIn>(path)) {}

std::unique_ptr<CPackageManifestReader> CPackageManifestReader::FromBytes(std::string bytes) {
    std::unique_ptr<CPackageManifestReader> r(new CPackageManifestReader());
    r->m_path = "(memory)";
    r->m_in = std::make_unique<CTypeMemoryIn>(std::move(bytes));
    return r;
}

CPackageManifestReader::~CPackageManifestReader() = default;

bool CPackageManifestReader::Fail(const std::string& error) {
    if (m_error.empty()) m_error = error;
    return false;
}

bool CPackageManifestReader::Open() {
    if (!m_in || !m_in->ok) return Fail("Cannot open " + m_path);
    if (!m_in->declaremagic(kPackageMagic)) return Fail(m_path + " is not a map package");
    uint32_t count = 0;
    if (!m_in->get(m_header.server) || !m_in->get(m_header.folder) || !m_in->get(m_header.name) ||
        !ReadI64(*m_in, m_header.totalSize) || !ReadU32(*m_in, count))
        return Fail("The map package " + m_path + " is damaged");
    if (m_header.totalSize < 0) return Fail("The map package " + m_path + " is damaged");
    m_header.fileCount = count;
    m_header.folder = NormalisePackageFolder(m_header.folder);
    m_open = true;
    return true;
}

bool CPackageManifestReader::NextFile(std::string& name, long long& size) {
    if (!m_open || Failed()) return false;
    uint32_t skip = 0;
    while (m_checksumsLeft > 0) {
        if (!ReadU32(*m_in, skip)) return Fail("The map package " + m_path + " is damaged (it ends early)");
        --m_checksumsLeft;
    }
    if (m_filesRead >= m_header.fileCount) return false;
    if (!m_in->get(name) || !ReadI64(*m_in, size))
        return Fail("The map package " + m_path + " is damaged (it ends early)");
    if (!IsSafePackageFileName(name)) return Fail("The map package " + m_path + " names an unusable file \"" + name + "\"");
    if (size < 0 || size > kPackageMaxFileSize)
        return Fail("The map package " + m_path + " gives an impossible size for \"" + name + "\"");
    ++m_filesRead;
    m_checksumsLeft = BlocksOf(size);
    return true;
}

bool CPackageManifestReader::NextChecksum(uint32_t& checksum) {
    if (!m_open || Failed() || m_checksumsLeft <= 0) return false;
    if (!ReadU32(*m_in, checksum)) return Fail("The map package " + m_path + " is damaged (it ends early)");
    --m_checksumsLeft;
    return true;
}

// ---- writing ----

bool WritePackageManifest(const std::string& path, const std::string& server, const std::string& folder,
                          const std::string& name, const std::vector<CPackageSource>& files, CPackageMakeStats* stats,
                          std::string* error) {
    auto fail = [error](const std::string& e) {
        if (error) *error = e;
        return false;
    };
    long long total = 0;
    std::vector<long long> sizes;
    for (const CPackageSource& f : files) {
        if (!IsSafePackageFileName(f.name)) return fail("Unusable file name in a package: \"" + f.name + "\"");
        const long long size = FileSize(f.localPath);
        if (size < 0) return fail("Cannot read " + f.localPath);
        sizes.push_back(size);
        total += size;
    }
    const std::string tmp = path + ".tmp";
    CPackageMakeStats made;
    {
        CTypeFileOut out(tmp);
        std::string s = server, fo = NormalisePackageFolder(folder), n = name;
        bool ok = out.declaremagic(kPackageMagic) && out.put(s) && out.put(fo) && out.put(n) && WriteI64(out, total) &&
                  WriteU32(out, static_cast<uint32_t>(files.size()));
        std::vector<unsigned char> buffer(kPackageBlockSize);
        for (size_t i = 0; ok && i < files.size(); ++i) {
            ok = out.put(files[i].name) && WriteI64(out, sizes[i]);
            const int fd = ::open(files[i].localPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) {
                out.Close();
                ::unlink(tmp.c_str());
                return fail("Cannot read " + files[i].localPath + ": " + std::strerror(errno));
            }
            for (long long off = 0; ok && off < sizes[i]; off += kPackageBlockSize) {
                const int len = static_cast<int>(std::min(kPackageBlockSize, sizes[i] - off));
                const uint32_t sum = LocalBlockChecksum(fd, off, len, buffer.data());
                if (sum == kUnreadableBlock) {
                    ::close(fd);
                    out.Close();
                    ::unlink(tmp.c_str());
                    return fail("Cannot read " + files[i].localPath + " (did it change while the package was made?)");
                }
                ok = WriteU32(out, sum);
                ++made.blocks;
            }
            ::close(fd);
            ++made.files;
        }
        made.bytes = total;
        if (!out.Close() || !ok) {
            ::unlink(tmp.c_str());
            return fail("Cannot write " + tmp);
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return fail("Cannot replace " + path + ": " + std::strerror(errno));
    }
    if (stats) *stats = made;
    return true;
}

// ---- queries ----

std::string PackageLocalFolder(const std::string& manifestPath) {
    const std::string dir = DirectoryOf(manifestPath);
    return dir.empty() ? std::string("./") : dir;
}

namespace {

// Walks the file records; `each` receives the relative name and size.
template <class F>
bool WalkPackage(const std::string& manifestPath, F each) {
    CPackageManifestReader reader(manifestPath);
    if (!reader.Open()) return false;
    std::string name;
    long long size = 0;
    while (reader.NextFile(name, size)) each(name, size);
    return !reader.Failed();
}

}  // namespace

std::string GetPackageName(const std::string& manifestPath) {
    CPackageManifestReader reader(manifestPath);
    return reader.Open() ? reader.Header().name : std::string();
}

bool GetPackageContents(const std::string& manifestPath, std::vector<std::string>& out, const std::string& extension) {
    std::string ext = extension;
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    // The folder without its "/": contents are folder + "/" + name.
    std::string folder = PackageLocalFolder(manifestPath);
    folder.pop_back();
    std::vector<std::string> found;
    const bool ok = WalkPackage(manifestPath, [&](const std::string& name, long long) {
        if (ext.empty() || FileExtension(name) == ext) found.push_back(folder + "/" + name);
    });
    if (!ok) return false;
    out.insert(out.end(), found.begin(), found.end());
    return true;
}

bool GetPackageFiles(const std::string& manifestPath, std::vector<CPackageFile>& out) {
    std::vector<CPackageFile> found;
    if (!WalkPackage(manifestPath, [&](const std::string& name, long long size) { found.push_back({name, size}); }))
        return false;
    out.insert(out.end(), found.begin(), found.end());
    return true;
}

bool GetPackageContentFolders(const std::string& manifestPath, std::set<std::string>& out) {
    std::string folder = PackageLocalFolder(manifestPath);
    folder.pop_back();
    std::set<std::string> found{folder};
    const bool ok = WalkPackage(manifestPath, [&](const std::string& name, long long) {
        for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
            found.insert(folder + "/" + name.substr(0, slash));
    });
    if (!ok) return false;
    out.insert(found.begin(), found.end());
    return true;
}

long long EstimateNeededSpaceForPackage(const std::string& manifestPath) {
    const std::string folder = PackageLocalFolder(manifestPath);
    long long needed = 0;
    const bool ok = WalkPackage(manifestPath, [&](const std::string& name, long long size) {
        struct stat st {};
        long long have = 0;
        // Allocated space, not the apparent size: an interrupted installation leaves
        // files with holes where blocks are still missing.
        if (::stat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            have = std::min<long long>(static_cast<long long>(st.st_blocks) * 512, static_cast<long long>(st.st_size));
        needed += std::max(0LL, size - have);
    });
    return ok ? needed : -1;
}

long long FreeSpaceOnDevice(const std::string& folder) {
    struct statvfs s {};
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &s) != 0) return -1;
    return static_cast<long long>(s.f_bavail) * static_cast<long long>(s.f_frsize);
}
