// SPDX-License-Identifier: GPL-3.0-or-later
// Chunk data words straight from the input, decoded for a pixel count taken from the first
// bytes. A successful decode must report a position inside the words it was given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "charts/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t want;
    std::memcpy(&want, data, 4);
    const int pixels = 1 + static_cast<int>(want % 0x20000);
    const size_t nwords = (size - 4) / 4;
    std::vector<uint32_t> words(nwords);
    if (nwords) std::memcpy(words.data(), data + 4, nwords * 4);
    std::vector<uint8_t> out(static_cast<size_t>(pixels));
    const uint32_t* end = CHuffmanEncoding::decode_run(words.data(), static_cast<int>(nwords), out.data(), pixels);
    if (end && (end < words.data() + 1 || end > words.data() + nwords)) std::abort();
    return 0;
}
