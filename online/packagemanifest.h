// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Map package manifests (".nvpkg"): a server, a remote folder, a name, and for every file
// of the package its relative name, its size and one checksum per mebibyte block.
//
// The manifest is a flat binary stream (core/typeserializer.h):
//   magic 0x319E8613, server, remote folder, package name (strings), total size (8 bytes),
//   file count (4), then per file: name (string), size (8), ceil(size / 2^20) checksums (4).
// Everything read from a manifest is treated as hostile: names must be plain relative
// paths inside the package folder, sizes are bounded, and a damaged stream is an error.

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class CTypeSerializer;

inline constexpr int kPackageMagic = 0x319E8613;
inline constexpr long long kPackageBlockSize = 1 << 20;
// No file of a package is larger than this (1 PiB); larger sizes mean a damaged manifest.
inline constexpr long long kPackageMaxFileSize = 1LL << 50;

// The sum of all bytes, wrapping at 2^32.
uint32_t PackageBlockChecksum(const void* data, size_t n);
// What a block that cannot be read locally counts as (no real block of 1 MiB sums to it).
inline constexpr uint32_t kUnreadableBlock = 0xFFFFFFFFu;
// Checksum of the local block at `offset`, `length` bytes long, read through `buffer`
// (at least `length` bytes); kUnreadableBlock when it cannot be read whole.
uint32_t LocalBlockChecksum(int fd, long long offset, int length, unsigned char* buffer);

// A package's relative file name is usable when it stays inside the package folder.
bool IsSafePackageFileName(const std::string& name);
// "/folder/" from "folder", "/folder" or "folder/".
std::string NormalisePackageFolder(const std::string& folder);
// "1.5 MB", "12 bytes": sizes as the user reads them.
std::string FormatFileSize(long long bytes);

struct CPackageHeader {
    std::string server;
    std::string folder;  // normalised: "/" in front and at the end
    std::string name;
    long long totalSize = 0;
    uint32_t fileCount = 0;
};

// Reads a manifest progressively: the header at once, then one file record and its
// checksums at a time, so that large packages start at once.
class CPackageManifestReader {
public:
    explicit CPackageManifestReader(const std::string& path);
    // Reads from bytes already in memory (tests, fuzzing).
    static std::unique_ptr<CPackageManifestReader> FromBytes(std::string bytes);
    ~CPackageManifestReader();

    // Reads and checks the header; false (with Error()) for a missing file, a wrong magic
    // or a damaged header.
    bool Open();
    const CPackageHeader& Header() const { return m_header; }

    // Moves to the next file record (skipping the checksums of the current one). False at
    // the end of the list or on damage (Failed() tells which).
    bool NextFile(std::string& name, long long& size);
    // The next block checksum of the current file; false when it has none left or the
    // stream is damaged.
    bool NextChecksum(uint32_t& checksum);
    long long ChecksumsLeft() const { return m_checksumsLeft; }
    uint32_t FilesRead() const { return m_filesRead; }

    bool Failed() const { return !m_error.empty(); }
    const std::string& Error() const { return m_error; }

private:
    CPackageManifestReader() = default;
    bool Fail(const std::string& error);

    std::string m_path;
    std::unique_ptr<CTypeSerializer> m_in;
    CPackageHeader m_header;
    bool m_open = false;
    uint32_t m_filesRead = 0;
    long long m_checksumsLeft = 0;
    std::string m_error;
};

// One file of a package as the publisher has it.
struct CPackageSource {
    std::string name;       // relative name in the package ("charts/a.qct")
    std::string localPath;  // where its bytes are now
};

struct CPackageMakeStats {
    int files = 0;
    long long blocks = 0;
    long long bytes = 0;
};

// Writes a manifest for `files` (through ".tmp"); the checksums come from the local files.
bool WritePackageManifest(const std::string& path, const std::string& server, const std::string& folder,
                          const std::string& name, const std::vector<CPackageSource>& files, CPackageMakeStats* stats,
                          std::string* error);

// The package name, or "" when the file is missing or is no package.
std::string GetPackageName(const std::string& manifestPath);
// Full local paths (manifest folder + "/" + name) of the package's files; only those whose
// extension is `extension` (without the dot, any case) when one is given. False for a
// missing file, a wrong magic or a damaged manifest.
bool GetPackageContents(const std::string& manifestPath, std::vector<std::string>& out,
                        const std::string& extension = {});

struct CPackageFile {
    std::string name;  // relative, as in the manifest
    long long size = 0;
};
bool GetPackageFiles(const std::string& manifestPath, std::vector<CPackageFile>& out);
// The local folders the package's files occupy (the manifest folder and every folder
// below it that holds a file), without a trailing "/".
bool GetPackageContentFolders(const std::string& manifestPath, std::set<std::string>& out);
// Bytes still needed on the device to complete the package (what its files lack of their
// full size in allocated space); -1 when the manifest cannot be read.
long long EstimateNeededSpaceForPackage(const std::string& manifestPath);
// The folder a manifest installs into: its own folder, with "/".
std::string PackageLocalFolder(const std::string& manifestPath);
// Free bytes on the device holding `folder`; -1 when unknown.
long long FreeSpaceOnDevice(const std::string& folder);
