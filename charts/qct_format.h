// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The geometry of QCT charts in one place: tile and chunk sizes, where each header field
// lies, and the chunk keys. The reader, the writer, the renderer and the catalogue all
// take their numbers from here.

#include <cstdint>

namespace qct {

// Image data comes in square tiles of palette indices, and (chunked charts) in square
// chunks of 16 x 16 tiles.
constexpr int kTileShift = 6;
constexpr int kTileSide = 1 << kTileShift;  // 64 pixels
constexpr int kTileBytes = kTileSide * kTileSide;
constexpr int kChunkShift = 10;
constexpr int kChunkSide = 1 << kChunkShift;  // 1024 pixels
constexpr int kTilesPerChunkSide = kChunkSide / kTileSide;
constexpr int kChunkBytes = kChunkSide * kChunkSide;

// Palette entries that pixels use, and the colour-mixing matrix (one byte per pair).
constexpr int kPaletteColours = 128;
constexpr int kPaletteEntries = 256;  // stored; the upper half is never used
constexpr int kMatrixBytes = kPaletteColours * kPaletteColours;

// Byte offsets of the header fields. "String" fields hold a pointer to Latin-1 text.
namespace header {
constexpr uint32_t kMagic = 0x00;
constexpr uint32_t kVersion = 0x04;
constexpr uint32_t kTilesWide = 0x08;
constexpr uint32_t kTilesHigh = 0x0C;
constexpr uint32_t kTitle = 0x10;        // string
constexpr uint32_t kName = 0x14;         // string
constexpr uint32_t kIdentifier = 0x18;   // string
constexpr uint32_t kEdition = 0x1C;      // string
constexpr uint32_t kRevision = 0x20;     // string
constexpr uint32_t kCopyright = 0x28;    // string
constexpr uint32_t kScaleText = 0x2C;    // string
constexpr uint32_t kDepthUnits = 0x34;   // string
constexpr uint32_t kHeightUnits = 0x38;  // string
constexpr uint32_t kFlags = 0x40;
constexpr uint32_t kSourceFile = 0x44;    // string
constexpr uint32_t kExtendedData = 0x54;  // pointer to the extended data block
constexpr uint32_t kOutlineCount = 0x58;
constexpr uint32_t kOutline = 0x5C;  // pointer to (latitude, longitude) doubles
constexpr uint32_t kGeoref = 0x60;   // 40 doubles
constexpr uint32_t kPalette = 0x1A0;
constexpr uint32_t kMatrix = 0x5A0;
constexpr uint32_t kTileIndex = 0x45A0;       // single-file charts: one u32 per tile
constexpr uint32_t kSize = kTileIndex;        // everything up to the tile index
constexpr uint32_t kCatalogBytes = kPalette;  // what the catalogue reads without opening
}  // namespace header

// Offsets inside the extended data block.
namespace extended {
constexpr uint32_t kMapType = 0;      // string
constexpr uint32_t kDatumShift = 4;   // pointer to two doubles
constexpr uint32_t kExtraText = 24;   // string
constexpr uint32_t kOnlineData = 28;  // pointer to the online-data block
constexpr uint32_t kSize = 32;
}  // namespace extended

// The companion chunk file: a header, a table of one i64 per chunk (row by row), then
// the chunks, each a header and its data words.
namespace chunkfile {
constexpr uint32_t kMagic = 0x484DF282;
constexpr uint32_t kColumns = 12;  // u32 in the file header
constexpr uint32_t kRows = 16;     // u32 in the file header
constexpr int64_t kHeaderBytes = 40;
constexpr int64_t kOffsetTable = kHeaderBytes;
constexpr int64_t kOffsetEntryBytes = 8;
constexpr int kLevels = 10;             // detail levels 0 (full) .. 9
constexpr uint32_t kChunkPresent = 40;  // u32 in a chunk header: words stored
constexpr uint32_t kChunkChecks = 44;   // kLevels check bytes
constexpr int kChunkHeaderBytes = 76;
}  // namespace chunkfile

// A chunk's place in the chart, with the two ways it is packed into one number.
struct ChunkKey {
    static constexpr int kMaxIndex = 0xFFFF;  // rows and columns that fit the packings

    int row = 0;
    int column = 0;

    constexpr bool Packable() const { return row >= 0 && column >= 0 && row <= kMaxIndex && column <= kMaxIndex; }
    // row << 16 | column: the chunk cache and finished downloads; sorts top rows first.
    constexpr uint32_t RowMajor() const { return uint32_t(row) << 16 | uint32_t(column); }
    // column << 16 | row: the order in which chunks are downloaded.
    constexpr uint32_t ColumnMajor() const { return uint32_t(column) << 16 | uint32_t(row); }
    static constexpr ChunkKey FromRowMajor(uint32_t key) { return {int(key >> 16), int(key & 0xFFFF)}; }
    static constexpr ChunkKey FromColumnMajor(uint32_t key) { return {int(key & 0xFFFF), int(key >> 16)}; }
};

}  // namespace qct
