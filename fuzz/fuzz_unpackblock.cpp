// SPDX-License-Identifier: GPL-3.0-or-later
// Tile records straight from the input: no byte outside `avail` may be touched, nothing
// outside 64*rows output bytes may be written, and every pixel must be set.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "charts/codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int rows = 64 >> (data[0] % 7);
    // A heap copy of exactly the record, so ASan sees any read past it.
    std::vector<uint8_t> rec(data + 1, data + size);
    std::vector<uint8_t> out(static_cast<size_t>(64 * rows));
    UnpackBlock(rec.data(), rec.size(), out.data(), rows);
    if (!rec.empty() && rec[0] == 0) {
        std::vector<uint8_t> body(rec.begin() + 1, rec.end());
        CHuffmanEncoding::decode(body.data(), body.size(), out.data(), 64 * rows);
    }
    if (!rec.empty() && rec[0] >= 129) ReadBlock_bitmap(rec.data(), rec.size(), rows, out.data());
    return 0;
}
