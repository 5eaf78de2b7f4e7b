// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Writes QCT charts: the single-file variant and the chunked variant with its companion
// chunk directory. Used by navora-tool to make charts and by tests to make exactly the
// charts they need (forced encodings, partial or missing chunks, refused versions).
//
// Typical use:
//   CQctWriter w;
//   w.SetIndexedImage(width, height, indices, palette);   // or SetImage(QImage)
//   w.SetGeorefFromCorners(north, south, west, east);
//   w.Meta().title = "Test";
//   std::string err;
//   if (!w.WriteSingleFile("/tmp/a.qct", &err)) ...

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// How tiles of the single-file variant are encoded.
enum class TileEncoding {
    Auto,         // the smallest of the four encodings, per tile
    Solid,        // type 255 (only possible for one-colour tiles; others fall back to Auto)
    RunLength,    // types 1-127 (a tile with all 128 colours falls back to Huffman)
    PixelPacked,  // types 129-254 (likewise; a one-colour tile gets two equal slots)
    Huffman,      // type 0
};

struct QctMetadata {
    // Texts are written as Latin-1 (characters outside it become '?'). Empty = pointer 0.
    QString title, name, identifier, edition, revision, copyright, scale_text;
    QString map_type, depth_units, height_units, source_file;
    QString extra_text;  // the extended-data text at +24
    QString online_url;  // when non-empty an online-data block pointing at it is written
    uint32_t flags = 0;
    uint32_t magic = 0x1423D5FF;
    // Low 24 bits: revision; the high byte is set by the variant being written unless
    // `keep_version_high_byte` is true (to make refused files).
    uint32_t version = 0x00000004;
    bool keep_version_high_byte = false;
    // Writes a tile index of zeros (a "catalog header" without image data), tiles omitted.
    bool zero_tile_index = false;
    std::vector<std::pair<double, double>> outline;  // (latitude, longitude)
    bool has_datum_shift = false;
    double datum_shift_lat = 0.0, datum_shift_lon = 0.0;
};

// What to write for one chunk of a chunked chart.
struct ChunkPlan {
    enum Kind {
        Complete,  // all data words
        Partial,   // only the words of levels >= `finest_level` (present = size[finest_level])
        Blank,     // offset -1
        Absent,    // offset 0
    };
    Kind kind = Complete;
    int finest_level = 0;        // for Partial, 0..9
    int present_words = -1;      // >= 0 overrides `present` (and how many words are stored)
    bool corrupt_check = false;  // writes wrong check bytes
};

// The encoded data of one 1024 x 1024 chunk.
struct EncodedChunk {
    std::vector<uint32_t> words;
    std::array<int32_t, 10> size{};
    std::array<uint8_t, 10> check{};
};

class CQctWriter {
public:
    CQctWriter();

    // Quantises an RGB image to at most `max_colours` (<= 127) palette colours and builds a
    // matching interpolation matrix. False (and Error()) when the image is empty.
    bool SetImage(const QImage& image, int max_colours = 127);
    // Palette-indexed image (row-major, width*height indices < 128) and palette entries
    // as 0x00RRGGBB (at most 128). The interpolation matrix is built from the palette.
    bool SetIndexedImage(int width, int height, std::vector<uint8_t> indices, std::vector<uint32_t> palette);
    // Overrides the 128x128 matrix (must be 16384 bytes).
    void SetInterpolationMatrix(std::vector<uint8_t> matrix);

    // Georeferencing: 40 coefficients as stored, or a linear fit in which pixel (0, 0) is the
    // north-west corner and pixel (width, height) of the source image the south-east one
    // (padding lies beyond). The forward and inverse blocks are exact inverses. Call after
    // setting the image.
    void SetGeoref(const std::array<double, 40>& coeffs) { m_coeffs = coeffs; }
    bool SetGeorefFromCorners(double north, double south, double west, double east);
    const std::array<double, 40>& Georef() const { return m_coeffs; }

    QctMetadata& Meta() { return m_meta; }

    void ForceEncoding(TileEncoding enc) { m_encoding = enc; }
    // Replaces the encoded bytes of one tile (single-file variant), e.g. to make corrupt tiles.
    void SetRawTile(int tx, int ty, std::vector<uint8_t> bytes);
    // Chunk choice for the chunked variant; default: every chunk complete.
    void SetChunkPlan(std::function<ChunkPlan(int cx, int cy)> plan) { m_chunk_plan = std::move(plan); }

    bool WriteSingleFile(const std::string& path, std::string* error = nullptr);
    // Writes `path` (version high byte 0x01) and the chunk directory "<path without
    // extension>.qc3/" with slice file "0".
    bool WriteChunked(const std::string& path, std::string* error = nullptr);

    int TilesWide() const { return m_tw; }
    int TilesHigh() const { return m_th; }
    // The padded image (64*TilesWide x 64*TilesHigh indices, row-major). Padding repeats
    // the last column and row of the source image.
    const std::vector<uint8_t>& Indices() const { return m_indices; }
    const std::vector<uint32_t>& Palette() const { return m_palette; }
    const std::vector<uint8_t>& InterpolationMatrix() const { return m_matrix; }
    const std::string& Error() const { return m_error; }

    // Encodes one tile given in image row order (64x64 indices) into a tile record.
    static std::vector<uint8_t> EncodeTile(const uint8_t* tile, TileEncoding enc);
    // Encodes one chunk given in image row order (1024x1024 indices): words, level sizes, checks.
    static EncodedChunk EncodeChunk(const uint8_t* chunk);
    // Checksum byte of the first `n` words, as the chunk header carries it.
    static uint8_t ChunkChecksum(const uint32_t* words, int n);
    // Builds the matrix: entry (i, j) = nearest palette colour to the average of i and j.
    static std::vector<uint8_t> BuildInterpolationMatrix(const std::vector<uint32_t>& palette);

private:
    bool Fail(std::string* error, const std::string& text);
    std::vector<uint8_t> BuildHeader(uint32_t variant_high_byte, uint32_t tile_index_bytes, std::vector<uint8_t>& tail,
                                     uint32_t tail_base) const;
    void PadImage(int width, int height, const std::vector<uint8_t>& src);

    int m_width = 0, m_height = 0;  // source image, before padding
    int m_tw = 0, m_th = 0;
    std::vector<uint8_t> m_indices;
    std::vector<uint32_t> m_palette;
    std::vector<uint8_t> m_matrix;
    std::array<double, 40> m_coeffs{};
    QctMetadata m_meta;
    TileEncoding m_encoding = TileEncoding::Auto;
    static int RawTileKey(int tx, int ty) { return ty * 65536 + tx; }
    std::vector<std::pair<int, std::vector<uint8_t>>> m_raw_tiles;  // by RawTileKey
    std::function<ChunkPlan(int, int)> m_chunk_plan;
    std::string m_error;
};
