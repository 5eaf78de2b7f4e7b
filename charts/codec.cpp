// SPDX-License-Identifier: GPL-3.0-or-later
#include "charts/codec.h"

#include <algorithm>
#include <cstring>

namespace {

// Byte `i` of a record, 0 when it lies beyond what the caller said is readable.
inline uint8_t ByteAt(const uint8_t* data, size_t avail, size_t i) {
    return i < avail ? data[i] : 0;
}

// Smallest k with 2^k >= n (0 for n <= 1).
inline int BitsFor(int n) {
    int k = 0;
    while ((1 << k) < n) ++k;
    return k;
}

// Fills `len` bytes with `value`. Short runs are the common case in chart tiles, so when the
// buffer has room they are written as two unaligned 8-byte stores instead of a memset call.
inline void FillRun(uint8_t* out, int len, int room, uint8_t value) {
    if (len <= 16 && room >= 16) {
        const uint64_t pattern = 0x0101010101010101ull * value;
        std::memcpy(out, &pattern, 8);
        std::memcpy(out + 8, &pattern, 8);
    } else {
        std::memset(out, value, static_cast<size_t>(len));
    }
}

void UnpackRunLength(const uint8_t* data, size_t avail, int npix, uint8_t* out) {
    const int b0 = data[0];
    const int k = BitsFor(b0);
    const unsigned mask = (1u << k) - 1;
    // A corrupt byte may select a sub-palette slot beyond b0: it reads the record bytes that
    // follow the sub-palette, exactly as a direct lookup into the record would.
    uint8_t sub[128];
    for (unsigned i = 0; i <= mask; ++i) sub[i] = ByteAt(data, avail, 1 + i);
    size_t pos = 1 + static_cast<size_t>(b0);
    int done = 0;
    while (done < npix && pos < avail) {
        const unsigned c = data[pos++];
        int len = static_cast<int>(c >> k);
        if (len == 0) continue;
        const int room = npix - done;
        if (len > room) len = room;
        FillRun(out + done, len, room, sub[c & mask]);
        done += len;
    }
    // Missing run bytes decode as 0: zero-length runs, so the rest stays index 0.
    if (done < npix) std::memset(out + done, 0, static_cast<size_t>(npix - done));
}

template <int K>
void UnpackPackedWords(const uint8_t* words, size_t nwords, const uint8_t* sub, int npix, uint8_t* out) {
    constexpr int kPer = 32 / K;
    constexpr uint32_t kMask = (1u << K) - 1;
    const int full = npix / kPer;  // words whose every pixel is wanted
    const uint8_t* p = words;
    uint8_t* o = out;
    for (int w = 0; w < full; ++w, p += 4, o += kPer) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        for (int j = 0; j < kPer; ++j) o[j] = sub[(v >> (j * K)) & kMask];
    }
    const int rest = npix - full * kPer;
    if (rest > 0 && static_cast<size_t>(full) < nwords) {
        uint32_t v;
        std::memcpy(&v, p, 4);
        for (int j = 0; j < rest; ++j) o[j] = sub[(v >> (j * K)) & kMask];
    }
}

// --- Huffman tiles -----------------------------------------------------------------------

// Trees written by an encoder span at most ~505 bytes; anything reaching further is decoded
// by the plain walk, which needs no per-node bookkeeping.
constexpr int kTreeWindow = 1024;
constexpr int kTileTableBits = 10;

struct BitReader {
    const uint8_t* d;
    size_t avail;
    size_t pos = 0;  // next byte to load
    uint64_t buf = 0;
    int cnt = 0;

    BitReader(const uint8_t* data, size_t n) : d(data), avail(n) {}
    // Tops the buffer up to at least 57 bits; bytes beyond `avail` load as 0.
    inline void Refill() {
        if (pos + 8 <= avail) {
            uint64_t v;
            std::memcpy(&v, d + pos, 8);
            buf |= v << cnt;
            pos += static_cast<size_t>((63 - cnt) >> 3);
            cnt |= 56;
        } else {
            while (cnt <= 56) {
                buf |= static_cast<uint64_t>(ByteAt(d, avail, pos)) << cnt;
                ++pos;
                cnt += 8;
            }
        }
    }
    size_t BitsConsumed() const { return pos * 8 - static_cast<size_t>(cnt); }
};

// Parses the node at `pos`; false when it runs off the data or jumps backwards.
inline bool TileNode(const uint8_t* data, size_t avail, size_t pos, size_t& zero, size_t& one) {
    if (pos >= avail) return false;
    const uint8_t b = data[pos];
    if (b < 128) return true;
    if (b > 128) {
        zero = pos + 1;
        one = pos + 1 + (256u - b);
        return true;
    }
    if (pos + 2 >= avail) return false;
    const int16_t v = static_cast<int16_t>(data[pos + 1] | (data[pos + 2] << 8));
    if (v >= 0) return false;  // a far branch always points forward
    zero = pos + 3;
    one = pos + 3 + static_cast<size_t>(-static_cast<int>(v));
    return true;
}

// Plain bit-by-bit walk: used when a (corrupt) tree lies outside the table window.
const uint8_t* DecodeTileWalk(const uint8_t* data, size_t avail, size_t bits_start, uint8_t* out, int pixels) {
    BitReader br(data + bits_start, bits_start < avail ? avail - bits_start : 0);
    for (int i = 0; i < pixels; ++i) {
        size_t node = 0, zero = 0, one = 0;
        for (;;) {
            if (!TileNode(data, avail, node, zero, one)) {
                std::memset(out + i, 0, static_cast<size_t>(pixels - i));
                return nullptr;
            }
            if (data[node] < 128) break;
            if (br.cnt == 0) br.Refill();
            const bool bit = br.buf & 1;
            br.buf >>= 1;
            --br.cnt;
            node = bit ? one : zero;
        }
        out[i] = data[node];
    }
    const size_t used = (br.BitsConsumed() + 7) / 8;
    if (bits_start + used > avail) return nullptr;
    return data + bits_start + used;
}

}  // namespace

void ReadBlock_bitmap(const uint8_t* data, size_t avail, int rows, uint8_t* out) {
    rows = std::clamp(rows, 0, 64);
    const int npix = 64 * rows;
    if (npix == 0) return;
    const int b0 = ByteAt(data, avail, 0);
    if (b0 == 255 || b0 < 129) {
        std::memset(out, b0 == 255 ? ByteAt(data, avail, 1) : 0, static_cast<size_t>(npix));
        return;
    }
    const int n = 256 - b0;
    const int k = BitsFor(n);
    const int per = 32 / k;
    uint8_t sub[128];
    for (int i = 0; i < (1 << k); ++i) sub[i] = ByteAt(data, avail, 1 + static_cast<size_t>(i));
    const size_t nwords = static_cast<size_t>((npix + per - 1) / per);
    const size_t start = 1 + static_cast<size_t>(n);
    // A truncated record is decoded from a zero-padded copy so the fast loops stay unchecked.
    uint8_t padded[4 * 1024];
    const uint8_t* words = data + start;
    if (start + 4 * nwords > avail) {
        std::memset(padded, 0, 4 * nwords);
        if (start < avail) std::memcpy(padded, data + start, avail - start);
        words = padded;
    }
    switch (k) {
        case 1:
            UnpackPackedWords<1>(words, nwords, sub, npix, out);
            break;
        case 2:
            UnpackPackedWords<2>(words, nwords, sub, npix, out);
            break;
        case 3:
            UnpackPackedWords<3>(words, nwords, sub, npix, out);
            break;
        case 4:
            UnpackPackedWords<4>(words, nwords, sub, npix, out);
            break;
        case 5:
            UnpackPackedWords<5>(words, nwords, sub, npix, out);
            break;
        case 6:
            UnpackPackedWords<6>(words, nwords, sub, npix, out);
            break;
        default:
            UnpackPackedWords<7>(words, nwords, sub, npix, out);
            break;
    }
}

void UnpackBlock(const uint8_t* data, size_t avail, uint8_t* out, int rows) {
    rows = std::clamp(rows, 0, 64);
    const int npix = 64 * rows;
    if (npix == 0) return;
    if (avail == 0) {
        std::memset(out, 0, static_cast<size_t>(npix));
        return;
    }
    const int b0 = data[0];
    if (b0 == 0) {
        CHuffmanEncoding::decode(data + 1, avail - 1, out, npix);
    } else if (b0 < 128) {
        UnpackRunLength(data, avail, npix, out);
    } else if (b0 == 128) {
        std::memset(out, ByteAt(data, avail, 3), static_cast<size_t>(npix));
    } else {
        ReadBlock_bitmap(data, avail, rows, out);
    }
}

const uint8_t* CHuffmanEncoding::decode(const uint8_t* data, size_t avail, uint8_t* out, int pixels) {
    if (pixels < 0) pixels = 0;
    // Reachable nodes, addressed by their byte position inside the window. Jumps only go
    // forward, so the reachable part is a DAG and position order is a topological order.
    uint8_t reach[kTreeWindow];
    uint16_t zero_of[kTreeWindow], one_of[kTreeWindow];
    uint8_t height[kTreeWindow];
    bool in_window = true;
    size_t last = 0;  // highest reachable position
    std::memset(reach, 0, sizeof(reach));
    reach[0] = 1;
    for (size_t pos = 0; pos <= last && in_window; ++pos) {
        if (!reach[pos]) continue;
        size_t z = 0, o = 0;
        if (!TileNode(data, avail, pos, z, o)) {
            std::memset(out, 0, static_cast<size_t>(pixels));
            return nullptr;
        }
        if (data[pos] < 128) continue;
        if (o >= static_cast<size_t>(kTreeWindow)) {
            in_window = false;
            break;
        }
        reach[z] = reach[o] = 1;
        zero_of[pos] = static_cast<uint16_t>(z);
        one_of[pos] = static_cast<uint16_t>(o);
        last = std::max(last, o);
    }
    // The bit data starts after the leaf reached by always taking the 1-branch.
    size_t tail = 0;
    {
        size_t z = 0, o = 0;
        for (;;) {
            if (!TileNode(data, avail, tail, z, o)) {
                std::memset(out, 0, static_cast<size_t>(pixels));
                return nullptr;
            }
            if (data[tail] < 128) break;
            tail = o;
        }
    }
    const size_t bits_start = tail + 1;
    if (data[0] < 128) {  // one-colour tile: no bits at all
        std::memset(out, data[0], static_cast<size_t>(pixels));
        return data + bits_start;
    }
    if (!in_window) return DecodeTileWalk(data, avail, bits_start, out, pixels);

    for (size_t pos = last + 1; pos-- > 0;) {
        if (!reach[pos]) continue;
        height[pos] =
            data[pos] < 128
                ? 0
                : static_cast<uint8_t>(std::min(255, 1 + std::max<int>(height[zero_of[pos]], height[one_of[pos]])));
    }
    const int bits = std::min<int>(height[0], kTileTableBits);
    // Table entry: bit 15 set = continue the walk at node (entry & 0x3FF) after `bits` bits;
    // otherwise low byte = palette index, high byte = code length.
    uint16_t table[1 << kTileTableBits];
    {
        struct Item {
            uint16_t pos;
            uint8_t depth;
            uint16_t code;
        };
        Item stack[2 * kTileTableBits + 2];
        int sp = 0;
        stack[sp++] = {0, 0, 0};
        while (sp > 0) {
            const Item it = stack[--sp];
            const uint8_t b = data[it.pos];
            if (b < 128 || it.depth == bits) {
                const uint16_t e =
                    b < 128 ? static_cast<uint16_t>(b | (it.depth << 8)) : static_cast<uint16_t>(0x8000 | it.pos);
                for (int f = it.code; f < (1 << bits); f += (1 << it.depth)) table[f] = e;
                continue;
            }
            const uint8_t d = static_cast<uint8_t>(it.depth + 1);
            stack[sp++] = {one_of[it.pos], d, static_cast<uint16_t>(it.code | (1u << it.depth))};
            stack[sp++] = {zero_of[it.pos], d, it.code};
        }
    }

    BitReader br(data + bits_start, bits_start < avail ? avail - bits_start : 0);
    const uint64_t mask = (1ull << bits) - 1;
    for (int i = 0; i < pixels; ++i) {
        if (br.cnt < kTileTableBits) br.Refill();
        const uint16_t e = table[br.buf & mask];
        if (!(e & 0x8000)) {
            const int len = e >> 8;
            br.buf >>= len;
            br.cnt -= len;
            out[i] = static_cast<uint8_t>(e);
            continue;
        }
        br.buf >>= bits;
        br.cnt -= bits;
        size_t node = e & 0x3FF;
        while (data[node] >= 128) {
            if (br.cnt == 0) br.Refill();
            const bool bit = br.buf & 1;
            br.buf >>= 1;
            --br.cnt;
            node = bit ? one_of[node] : zero_of[node];
        }
        out[i] = data[node];
    }
    const size_t used = (br.BitsConsumed() + 7) / 8;
    if (bits_start + used > avail) return nullptr;
    return data + bits_start + used;
}

// --- Run-length Huffman chunks -------------------------------------------------------------

namespace {

constexpr int kRunBase[4] = {1, 2, 6, 22};
constexpr int kRunExtra[4] = {0, 2, 4, 8};
constexpr int kChunkTableBits = 11;
constexpr int kMaxCount = 10000000;

// Table entry kinds (top two bits).
constexpr uint32_t kRunFull = 0u << 30;    // colour, run length and total bits resolved
constexpr uint32_t kRunSymbol = 1u << 30;  // leaf found; extra bits still to read
constexpr uint32_t kRunNode = 2u << 30;    // continue the walk at an entry index
constexpr uint32_t kRunBad = 3u << 30;     // the walk leaves the tree

inline uint32_t FullEntry(unsigned colour, unsigned length, unsigned nbits) {
    return kRunFull | colour | (length << 7) | (nbits << 16);
}
inline uint32_t SymbolEntry(unsigned colour, unsigned cls, unsigned depth) {
    return kRunSymbol | colour | (cls << 21) | (depth << 16);
}

struct WordReader {
    const uint32_t* w;
    int count;
    int next;  // next word to load
    uint64_t buf = 0;
    int cnt = 0;
    inline void Refill() {
        while (cnt <= 32 && next < count) {
            buf |= static_cast<uint64_t>(w[next++]) << cnt;
            cnt += 32;
        }
    }
    // Reads n (<= 32) bits; false when they lie beyond the data.
    inline bool Take(int n, uint32_t& v) {
        if (cnt < n) {
            Refill();
            if (cnt < n) return false;
        }
        v = static_cast<uint32_t>(buf & ((1ull << n) - 1));
        buf >>= n;
        cnt -= n;
        return true;
    }
};

inline uint32_t ReverseBits(uint32_t v, int n) {
    uint32_t r = 0;
    for (int i = 0; i < n; ++i) {
        r = (r << 1) | (v & 1u);
        v >>= 1;
    }
    return r;
}

}  // namespace

const uint32_t* CHuffmanEncoding::decode_run(const uint32_t* words, int count, uint8_t* out, int pixels) {
    if (count < 1 || count > kMaxCount || pixels < 1 || pixels > kMaxCount) return nullptr;
    const uint32_t t = words[0];
    if (t >= static_cast<uint32_t>(count) || t < 2) return nullptr;
    // Tree entries are 16-bit values inside the 32-bit words; read through bytes so the
    // words are never accessed as another type.
    const auto* bytes = reinterpret_cast<const unsigned char*>(words);
    auto entry = [bytes](int i) -> int {
        int16_t v;
        std::memcpy(&v, bytes + 2 * static_cast<size_t>(i), 2);
        return v;
    };
    const int end = static_cast<int>(2 * t);  // entries 2 .. end-1 form the tree
    auto child = [&](int i, int bit) -> int {
        const int v = entry(i);
        return bit ? i + 1 - v : i + 1;
    };
    auto inside = [&](int i) { return i >= 2 && i < end; };

    // Height of the root, bounded by the table size (walk at most kChunkTableBits levels).
    // The table is filled by enumerating all paths of up to `bits` branches from the root.
    struct Item {
        int pos;
        int depth;
        uint32_t code;
    };
    int bits = 0;
    {
        Item stack[2 * kChunkTableBits + 2];
        int sp = 0;
        stack[sp++] = {2, 0, 0};
        while (sp > 0) {
            const Item it = stack[--sp];
            if (!inside(it.pos) || entry(it.pos) >= 0) continue;
            bits = std::max(bits, it.depth + 1);
            if (bits >= kChunkTableBits) break;
            stack[sp++] = {child(it.pos, 1), it.depth + 1, 0};
            stack[sp++] = {child(it.pos, 0), it.depth + 1, 0};
        }
        bits = std::min(bits, kChunkTableBits);
    }
    uint32_t table[1 << kChunkTableBits];
    {
        Item stack[2 * kChunkTableBits + 2];
        int sp = 0;
        stack[sp++] = {2, 0, 0};
        while (sp > 0) {
            const Item it = stack[--sp];
            const int step = 1 << it.depth;
            if (!inside(it.pos)) {
                for (int f = static_cast<int>(it.code); f < (1 << bits); f += step) table[f] = kRunBad;
                continue;
            }
            const int v = entry(it.pos);
            if (v >= 0) {
                const unsigned colour = static_cast<unsigned>(v) & 127u;
                const unsigned cls = (static_cast<unsigned>(v) >> 8) & 3u;
                const int extra = kRunExtra[cls];
                for (int f = static_cast<int>(it.code); f < (1 << bits); f += step) {
                    if (it.depth + extra <= bits) {
                        const uint32_t raw = (static_cast<uint32_t>(f) >> it.depth) & ((1u << extra) - 1);
                        const unsigned len = static_cast<unsigned>(kRunBase[cls]) + ReverseBits(raw, extra);
                        table[f] = FullEntry(colour, len, static_cast<unsigned>(it.depth + extra));
                    } else {
                        table[f] = SymbolEntry(colour, cls, static_cast<unsigned>(it.depth));
                    }
                }
                continue;
            }
            if (it.depth == bits) {
                for (int f = static_cast<int>(it.code); f < (1 << bits); f += step)
                    table[f] = kRunNode | static_cast<uint32_t>(it.pos);
                continue;
            }
            stack[sp++] = {child(it.pos, 1), it.depth + 1, it.code | (1u << it.depth)};
            stack[sp++] = {child(it.pos, 0), it.depth + 1, it.code};
        }
    }

    WordReader br{words, count, static_cast<int>(t)};
    const uint64_t mask = (1ull << bits) - 1;
    int done = 0;
    while (done < pixels) {
        if (br.cnt < 32) br.Refill();
        const uint32_t e = table[br.buf & mask];
        unsigned colour, len;
        int nbits;
        switch (e & (3u << 30)) {
            case kRunFull:
                colour = e & 127u;
                len = (e >> 7) & 511u;
                nbits = static_cast<int>((e >> 16) & 31u);
                if (nbits > br.cnt) return nullptr;
                br.buf >>= nbits;
                br.cnt -= nbits;
                break;
            case kRunSymbol: {
                const unsigned cls = (e >> 21) & 3u;
                nbits = static_cast<int>((e >> 16) & 31u);
                if (nbits > br.cnt) return nullptr;
                br.buf >>= nbits;
                br.cnt -= nbits;
                uint32_t raw = 0;
                if (!br.Take(kRunExtra[cls], raw)) return nullptr;
                colour = e & 127u;
                len = static_cast<unsigned>(kRunBase[cls]) + ReverseBits(raw, kRunExtra[cls]);
                break;
            }
            case kRunNode: {
                if (bits > br.cnt) return nullptr;
                br.buf >>= bits;
                br.cnt -= bits;
                int node = static_cast<int>(e & 0x3FFFFFFFu);
                while (entry(node) < 0) {
                    uint32_t bit = 0;
                    if (!br.Take(1, bit)) return nullptr;
                    node = child(node, static_cast<int>(bit));
                    if (!inside(node)) return nullptr;
                }
                const unsigned v = static_cast<unsigned>(entry(node));
                const unsigned cls = (v >> 8) & 3u;
                uint32_t raw = 0;
                if (!br.Take(kRunExtra[cls], raw)) return nullptr;
                colour = v & 127u;
                len = static_cast<unsigned>(kRunBase[cls]) + ReverseBits(raw, kRunExtra[cls]);
                break;
            }
            default:
                return nullptr;
        }
        const int room = pixels - done;
        const int n = std::min(static_cast<int>(len), room);
        FillRun(out + done, n, room, static_cast<uint8_t>(colour));
        done += n;
    }
    const long long consumed = static_cast<long long>(br.next - static_cast<int>(t)) * 32 - br.cnt;
    return words + t + (consumed + 31) / 32;
}

// --- Encoders --------------------------------------------------------------------------------

CHuffmanEncoding::Tree CHuffmanEncoding::build_tree(const uint64_t* histogram, int symbols) {
    Tree tree;
    std::vector<int> list;
    for (int s = 0; s < symbols; ++s) {
        if (histogram[s] == 0) continue;
        Node leaf;
        leaf.symbol = s;
        leaf.weight = histogram[s];
        list.push_back(static_cast<int>(tree.nodes.size()));
        tree.nodes.push_back(leaf);
    }
    if (list.empty()) return tree;
    while (list.size() > 1) {
        size_t smallest = 0;
        for (size_t i = 1; i < list.size(); ++i)
            if (tree.nodes[list[i]].weight < tree.nodes[list[smallest]].weight) smallest = i;
        size_t second = smallest == 0 ? 1 : 0;
        for (size_t i = 0; i < list.size(); ++i) {
            if (i == smallest) continue;
            if (tree.nodes[list[i]].weight < tree.nodes[list[second]].weight) second = i;
        }
        Node branch;
        branch.zero = list[second];
        branch.one = list[smallest];
        branch.weight = tree.nodes[list[second]].weight + tree.nodes[list[smallest]].weight;
        list[smallest] = static_cast<int>(tree.nodes.size());
        tree.nodes.push_back(branch);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(second));
    }
    tree.root = list.front();
    return tree;
}

bool CHuffmanEncoding::build_codes(const Tree& tree, std::vector<uint64_t>& codes, std::vector<uint8_t>& lengths) {
    int max_symbol = -1;
    for (const Node& n : tree.nodes) max_symbol = std::max(max_symbol, n.symbol);
    codes.assign(static_cast<size_t>(max_symbol + 1), 0);
    lengths.assign(static_cast<size_t>(max_symbol + 1), 0);
    if (tree.root < 0) return true;
    struct Item {
        int node;
        int depth;
        uint64_t code;
    };
    std::vector<Item> stack{{tree.root, 0, 0}};
    while (!stack.empty()) {
        const Item it = stack.back();
        stack.pop_back();
        const Node& n = tree.nodes[static_cast<size_t>(it.node)];
        if (n.symbol >= 0) {
            codes[static_cast<size_t>(n.symbol)] = it.code;
            lengths[static_cast<size_t>(n.symbol)] = static_cast<uint8_t>(it.depth);
            continue;
        }
        if (it.depth >= 64) return false;
        stack.push_back({n.zero, it.depth + 1, it.code});
        stack.push_back({n.one, it.depth + 1, it.code | (1ull << it.depth)});
    }
    return true;
}

void CHuffmanEncoding::encode_output_tree(const Tree& tree, int node, std::vector<uint8_t>& out) {
    const Node& n = tree.nodes[static_cast<size_t>(node)];
    if (n.symbol >= 0) {
        out.push_back(static_cast<uint8_t>(n.symbol));
        return;
    }
    std::vector<uint8_t> zero;
    encode_output_tree(tree, n.zero, zero);
    const size_t size = zero.size();
    if (size <= 127) {
        out.push_back(static_cast<uint8_t>(256 - size));
    } else {
        const uint16_t v = static_cast<uint16_t>(-static_cast<int>(size));
        out.push_back(128);
        out.push_back(static_cast<uint8_t>(v & 0xFF));
        out.push_back(static_cast<uint8_t>(v >> 8));
    }
    out.insert(out.end(), zero.begin(), zero.end());
    encode_output_tree(tree, n.one, out);
}

void CHuffmanEncoding::encode_output_tree_run(const Tree& tree, int node, std::vector<int16_t>& out) {
    const Node& n = tree.nodes[static_cast<size_t>(node)];
    if (n.symbol >= 0) {
        out.push_back(static_cast<int16_t>(n.symbol));
        return;
    }
    const size_t at = out.size();
    out.push_back(0);
    encode_output_tree_run(tree, n.zero, out);
    out[at] = static_cast<int16_t>(-static_cast<int>(out.size() - at - 1));
    encode_output_tree_run(tree, n.one, out);
}

namespace {

// Appends bits least significant first into a byte stream.
struct ByteBitWriter {
    uint8_t* out;
    uint64_t acc = 0;
    int cnt = 0;
    void Put(uint64_t code, int len) {
        while (len > 0) {
            const int take = std::min(len, 32);
            acc |= (code & ((1ull << take) - 1)) << cnt;
            cnt += take;
            code >>= take;
            len -= take;
            while (cnt >= 8) {
                *out++ = static_cast<uint8_t>(acc);
                acc >>= 8;
                cnt -= 8;
            }
        }
    }
    uint8_t* Finish() {
        if (cnt > 0) *out++ = static_cast<uint8_t>(acc);
        acc = 0;
        cnt = 0;
        return out;
    }
};

}  // namespace

uint8_t* CHuffmanEncoding::encode(const uint8_t* pixels, int count, uint8_t* out) {
    uint64_t hist[128] = {};
    for (int i = 0; i < count; ++i) ++hist[pixels[i] & 127];
    const Tree tree = build_tree(hist, 128);
    if (tree.root < 0) {
        *out++ = 0;  // nothing to encode: a lone leaf
        return out;
    }
    std::vector<uint8_t> bytes;
    encode_output_tree(tree, tree.root, bytes);
    std::memcpy(out, bytes.data(), bytes.size());
    out += bytes.size();
    std::vector<uint64_t> codes;
    std::vector<uint8_t> lengths;
    build_codes(tree, codes, lengths);
    ByteBitWriter bw{out};
    for (int i = 0; i < count; ++i) {
        const uint8_t s = pixels[i] & 127;
        bw.Put(codes[s], lengths[s]);
    }
    return bw.Finish();
}

CHuffmanEncoding::RunSymbol CHuffmanEncoding::get_symbol(int colour, int run) {
    run = std::clamp(run, 1, 277);
    int cls = 0;
    if (run >= 22) {
        cls = 3;
    } else if (run >= 6) {
        cls = 2;
    } else if (run >= 2) {
        cls = 1;
    }
    RunSymbol s;
    s.symbol = static_cast<uint16_t>((cls << 8) | (colour & 127));
    s.extra_bits = static_cast<uint8_t>(kRunExtra[cls]);
    s.extra = static_cast<uint8_t>(run - kRunBase[cls]);
    s.length = run;
    return s;
}

std::vector<CHuffmanEncoding::RunSymbol> CHuffmanEncoding::run_length_encode(const uint8_t* pixels, int count) {
    std::vector<RunSymbol> runs;
    int i = 0;
    while (i < count) {
        const uint8_t c = pixels[i];
        int j = i + 1;
        while (j < count && pixels[j] == c && j - i < 277) ++j;
        runs.push_back(get_symbol(c, j - i));
        i = j;
    }
    return runs;
}

int CHuffmanEncoding::encode_run(const uint8_t* pixels, int count, uint32_t* out, int capacity_words) {
    return encode_run(pixels, count, out, capacity_words, nullptr, 0, nullptr);
}

int CHuffmanEncoding::encode_run(const uint8_t* pixels, int count, uint32_t* out, int capacity_words, const int* marks,
                                 int nmarks, int* mark_words) {
    const std::vector<RunSymbol> runs = run_length_encode(pixels, count);
    uint64_t hist[1024] = {};
    for (const RunSymbol& r : runs) ++hist[r.symbol];
    const Tree tree = build_tree(hist, 1024);
    std::vector<int16_t> entries;
    if (tree.root >= 0) {
        encode_output_tree_run(tree, tree.root, entries);
    } else {
        entries.push_back(0);
    }
    const int t = 1 + static_cast<int>((entries.size() + 1) / 2);
    if (t > capacity_words) return -1;
    std::memset(out, 0, static_cast<size_t>(t) * 4);
    out[0] = static_cast<uint32_t>(t);
    std::memcpy(reinterpret_cast<uint8_t*>(out) + 4, entries.data(), entries.size() * 2);

    std::vector<uint64_t> codes;
    std::vector<uint8_t> lengths;
    if (!build_codes(tree, codes, lengths)) return -1;

    // Bit end of every run, so prefix lengths can be found for the marks afterwards.
    std::vector<uint64_t> run_end_bit;
    if (nmarks > 0) run_end_bit.reserve(runs.size());
    int w = t;
    uint64_t acc = 0;
    int cnt = 0;
    uint64_t total_bits = 0;
    auto put = [&](uint64_t code, int len) -> bool {
        total_bits += static_cast<uint64_t>(len);
        while (len > 0) {
            const int take = std::min(len, 32);
            acc |= (code & ((1ull << take) - 1)) << cnt;
            cnt += take;
            code >>= take;
            len -= take;
            if (cnt >= 32) {
                if (w >= capacity_words) return false;
                out[w++] = static_cast<uint32_t>(acc);
                acc >>= 32;
                cnt -= 32;
            }
        }
        return true;
    };
    for (const RunSymbol& r : runs) {
        if (!put(codes[r.symbol], lengths[r.symbol])) return -1;
        if (r.extra_bits && !put(ReverseBits(r.extra, r.extra_bits), r.extra_bits)) return -1;
        if (nmarks > 0) run_end_bit.push_back(total_bits);
    }
    if (cnt > 0) {
        if (w >= capacity_words) return -1;
        out[w++] = static_cast<uint32_t>(acc);
    }
    if (nmarks > 0) {
        std::vector<int64_t> run_end_pixel;
        run_end_pixel.reserve(runs.size());
        int64_t p = 0;
        for (const RunSymbol& r : runs) run_end_pixel.push_back(p += r.length);
        for (int m = 0; m < nmarks; ++m) {
            // The run that produces pixel marks[m]-1 is the first whose end passes it.
            const auto it = std::lower_bound(run_end_pixel.begin(), run_end_pixel.end(), marks[m]);
            const size_t idx =
                it == run_end_pixel.end() ? runs.size() - 1 : static_cast<size_t>(it - run_end_pixel.begin());
            const uint64_t bitend = runs.empty() ? 0 : run_end_bit[idx];
            mark_words[m] = t + static_cast<int>((bitend + 31) / 32);
        }
    }
    return w;
}
