// SPDX-License-Identifier: GPL-3.0-or-later
// Map package manifests straight from the input: reading must stop at the end of the
// bytes, never trust a count, and only ever hand out names that stay inside the package.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "online/packagemanifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto reader = CPackageManifestReader::FromBytes(std::string(reinterpret_cast<const char*>(data), size));
    if (!reader->Open()) return 0;
    std::string name;
    long long fileSize = 0;
    uint32_t checksum = 0;
    bool skip = false;
    while (reader->NextFile(name, fileSize)) {
        if (!IsSafePackageFileName(name) || fileSize < 0 || fileSize > kPackageMaxFileSize) std::abort();
        // Alternate between reading the checksums and letting the next record skip them.
        if ((skip = !skip))
            while (reader->NextChecksum(checksum)) {
            }
    }
    return 0;
}
