// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Tile and chunk codecs of QCT charts. Decoders produce palette indices in stored-row
// order (a tile's rows 6-bit bit-reversed, a chunk's rows 10-bit bit-reversed), so a
// sub-sampled level is just a shorter prefix: callers ask for fewer rows or pixels and
// the decoders do proportionally less work.
//
// Every decoder is bounds-checked: the caller says how many input bytes (or words) are
// readable, and nothing outside the given buffers is ever read or written. Missing input
// bytes of a tile decode as zero; a chunk that runs out of words fails.

#include <cstddef>
#include <cstdint>
#include <vector>

// Decodes one tile record (type byte + body) into 64*rows palette indices (stored-row order).
// `avail` = bytes readable from `data` (a corrupt tile never reads past it; missing bytes decode as 0).
// `rows` is clamped to 0..64.
void UnpackBlock(const uint8_t* data, size_t avail, uint8_t* out, int rows);
// b0 >= 129 cases (pixel packing and solid).
void ReadBlock_bitmap(const uint8_t* data, size_t avail, int rows, uint8_t* out);

// Bit reversal of the low `bits` bits of v (rev6 for tile rows, rev10 for chunk rows).
inline unsigned BitReverse(unsigned v, int bits) {
    unsigned r = 0;
    for (int i = 0; i < bits; ++i) {
        r = (r << 1) | (v & 1u);
        v >>= 1;
    }
    return r;
}

class CHuffmanEncoding {
public:
    // type-0 body (tree then bits) -> `pixels` indices; returns pointer after the bits used
    // (nullptr on corrupt input: a tree running off the data or a branch jumping out of it).
    // Pixels that could not be decoded are left as 0.
    static const uint8_t* decode(const uint8_t* data, size_t avail, uint8_t* out, int pixels);
    // chunk data: `count` u32 words; returns non-null position after the last word read on
    // success, nullptr on failure.
    static const uint32_t* decode_run(const uint32_t* words, int count, uint8_t* out, int pixels);

    // Writes a type-0 body (tree then bits) for `count` pixels (values must be below 128)
    // and returns its end. `out` must hold at least encode_bound(count) bytes.
    static uint8_t* encode(const uint8_t* pixels, int count, uint8_t* out);
    static size_t encode_bound(int count) { return static_cast<size_t>(count) + 640; }
    // Writes chunk data words for `count` pixels (values below 128); returns the length in
    // words, -1 if it does not fit into `capacity_words`.
    static int encode_run(const uint8_t* pixels, int count, uint32_t* out, int capacity_words);
    // As above, and for each i < nmarks reports in mark_words[i] how many words (tree
    // included) a decoder needs to produce the first marks[i] pixels. Marks must lie in 1..count.
    static int encode_run(const uint8_t* pixels, int count, uint32_t* out, int capacity_words, const int* marks,
                          int nmarks, int* mark_words);

    // --- Building blocks of the canonical encoders, public so that tests can pin them. ---

    // A code tree node: a leaf (symbol >= 0) or a branch with two children.
    struct Node {
        int symbol = -1;  // >= 0 for a leaf
        int zero = -1;    // child index taken on bit 0
        int one = -1;     // child index taken on bit 1
        uint64_t weight = 0;
    };
    struct Tree {
        std::vector<Node> nodes;
        int root = -1;  // -1: no symbols at all
    };
    // Builds the canonical tree from a histogram indexed by symbol: leaves in ascending
    // symbol order, merge the two smallest (first of equal weights), 1-subtree = smallest.
    static Tree build_tree(const uint64_t* histogram, int symbols);
    // Code of every symbol (bits LSB first = branch taken at depth i) and its length.
    // A code is at most 64 bits long for any input that fits in memory (the depth grows
    // only with the Fibonacci growth of weights); build_codes reports false otherwise.
    static bool build_codes(const Tree& tree, std::vector<uint64_t>& codes, std::vector<uint8_t>& lengths);
    // Serialises the tree as tile node bytes (near/far branch bytes).
    static void encode_output_tree(const Tree& tree, int node, std::vector<uint8_t>& out);
    // Serialises the tree as 16-bit chunk entries (branch = -size of 0-subtree, leaf = symbol).
    static void encode_output_tree_run(const Tree& tree, int node, std::vector<int16_t>& out);

    // One run of the chunk code: symbol = class << 8 | colour, and the extra bits.
    struct RunSymbol {
        uint16_t symbol;
        uint8_t extra_bits;  // 0, 2, 4 or 8
        uint8_t extra;       // run length minus the class base
        int length;          // pixels of the run
    };
    // Cuts pixels into runs of one colour of at most 277 pixels.
    static std::vector<RunSymbol> run_length_encode(const uint8_t* pixels, int count);
    // Symbol for a run of `run` pixels (1..277) of `colour`.
    static RunSymbol get_symbol(int colour, int run);
};
