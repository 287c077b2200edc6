#include "archive/Inflater.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr uint32_t kHistory = 32768;  // the farthest a match reaches back
constexpr uint32_t kSpan = 65536;     // bytes decoded between hand-outs
constexpr uint32_t kLongestMatch = 258;
constexpr uint32_t kCopySlack = 8;  // a match is copied eight bytes at a time
constexpr uint32_t kInputSize = 65536;
constexpr int kLongestCode = 15;

// The fixed code gives lengths to literal/length symbols 286 and 287 and to
// distances 30 and 31, which no data may use; a block's own code has fewer.
constexpr int kLiteralSymbols = 288;
constexpr int kDistanceSymbols = 32;
constexpr int kMostLiteralLengths = 286;
constexpr int kMostDistances = 30;
constexpr int kLengthSymbols = 29;
constexpr uint32_t kEndOfBlock = 256;

// A table entry holds a symbol in its low 16 bits and its code's length
// above them. In the first level, the entry for a code longer than the
// index holds instead where its subtable starts and how many more bits
// index it, with kLink set. Zero: no code begins with these bits (the gaps
// an incomplete code leaves).
constexpr uint32_t kLink = 1u << 31;
constexpr int kLiteralIndexBits = 10;
constexpr int kDistanceIndexBits = 8;
constexpr int kLengthCodeIndexBits = 7;  // code-length codes are at most 7 bits: one level

// The first level and, at most, a full subtable for every symbol.
constexpr size_t kLiteralTableSize = (1u << kLiteralIndexBits) + kLiteralSymbols * (1u << (kLongestCode - kLiteralIndexBits));
constexpr size_t kDistanceTableSize =
    (1u << kDistanceIndexBits) + kDistanceSymbols * (1u << (kLongestCode - kDistanceIndexBits));

constexpr uint16_t kLengthBase[kLengthSymbols] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                  31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[kLengthSymbols] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[kMostDistances] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                                    1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[kMostDistances] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code lengths' own code.
constexpr uint8_t kLengthCodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

}  // namespace

struct Inflater {
    // The history, the span decoded since the last hand-out, and room for the
    // match that crosses the span's end.
    unsigned char window[kHistory + kSpan + kLongestMatch + kCopySlack];
    unsigned char input[kInputSize];
    uint32_t literals[kLiteralTableSize];
    uint32_t distances[kDistanceTableSize];
    uint32_t lengthCodes[1u << kLengthCodeIndexBits];
};

void InflaterDeleter::operator()(Inflater* inflater) const { std::free(inflater); }

// From malloc, which says when it has no memory: the nothrow new of the C++
// library would bring its whole exception runtime into the stub.
InflaterPointer NewInflater() { return InflaterPointer(static_cast<Inflater*>(std::malloc(sizeof(Inflater)))); }

namespace {

// The bits not yet used, lowest first as deflate packs them. Past the end of
// the data it reads zero bytes, counted, so that decoding stays simple; a
// stream that uses any of them is damaged.
struct Bits {
    uint32_t buffer = 0;
    uint32_t count = 0;
    const unsigned char* next = nullptr;
    const unsigned char* end = nullptr;
    uint32_t padding = 0;
    bool ended = false;
    bool readFailed = false;
    Inflater* inflater = nullptr;
    const InflateInput* input = nullptr;
};

uint32_t NextByteSlowly(Bits& b) {
    if (!b.ended) {
        const int64_t got = b.input->read(b.input->context, b.inflater->input, kInputSize);
        if (got > 0) {
            b.next = b.inflater->input;
            b.end = b.next + (got < kInputSize ? got : kInputSize);
            return *b.next++;
        }
        b.ended = true;
        b.readFailed = got < 0;
    }
    ++b.padding;
    return 0;
}

// At least 25 bits in the buffer: a literal/length code and its extra bits,
// or a distance code.
inline void Refill(Bits& b) {
    while (b.count <= 24) {
        const uint32_t byte = b.next < b.end ? *b.next++ : NextByteSlowly(b);
        b.buffer |= byte << b.count;
        b.count += 8;
    }
}

// Whether bits from beyond the data's end have been used.
inline bool UsedPadding(const Bits& b) { return b.padding != 0 && b.padding * 8 > b.count; }

inline uint32_t Take(Bits& b, uint32_t n) {
    const uint32_t value = b.buffer & ((1u << n) - 1);
    b.buffer >>= n;
    b.count -= n;
    return value;
}

inline uint32_t EntryLength(uint32_t entry) { return entry >> 16; }
inline uint32_t EntrySymbol(uint32_t entry) { return entry & 0xFFFF; }

// Decodes one symbol (the buffer holds at least kLongestCode bits). An entry
// of length 0 means the bits are no code.
inline uint32_t Decode(Bits& b, const uint32_t* table, uint32_t indexBits) {
    uint32_t entry = table[b.buffer & ((1u << indexBits) - 1)];
    if (entry & kLink) {
        const uint32_t width = (entry >> 16) & 0xFF;
        entry = table[(entry & 0xFFFF) + ((b.buffer >> indexBits) & ((1u << width) - 1))];
    }
    const uint32_t length = EntryLength(entry);
    b.buffer >>= length;
    b.count -= length;
    return entry;
}

uint32_t Reversed(uint32_t code, uint32_t length) {
    uint32_t result = 0;
    for (uint32_t i = 0; i < length; ++i) {
        result = (result << 1) | (code & 1);
        code >>= 1;
    }
    return result;
}

// Fills table from the code lengths of count symbols. False for a code that
// is over-subscribed, or incomplete where that is not allowed: only a lone
// one-bit code, or none at all, since a block may use a single distance or
// none.
bool BuildTable(const uint8_t* lengths, int count, uint32_t indexBits, uint32_t* table, bool incompleteAllowed) {
    uint32_t perLength[kLongestCode + 1] = {};
    for (int i = 0; i < count; ++i) ++perLength[lengths[i]];
    perLength[0] = 0;
    uint32_t longest = 0;
    for (uint32_t length = 1; length <= kLongestCode; ++length) {
        if (perLength[length] != 0) longest = length;
    }
    const uint32_t firstSize = 1u << indexBits;
    std::memset(table, 0, firstSize * sizeof(uint32_t));
    if (longest == 0) return incompleteAllowed;

    int32_t left = 1;
    for (uint32_t length = 1; length <= kLongestCode; ++length) {
        left = left * 2 - static_cast<int32_t>(perLength[length]);
        if (left < 0) return false;
    }
    if (left > 0 && !(incompleteAllowed && longest == 1)) return false;

    uint32_t nextCode[kLongestCode + 1] = {};
    for (uint32_t length = 1, code = 0; length <= kLongestCode; ++length) {
        code = (code + perLength[length - 1]) << 1;
        nextCode[length] = code;
    }
    const uint32_t subWidth = longest > indexBits ? longest - indexBits : 0;
    uint32_t used = firstSize;
    for (int symbol = 0; symbol < count; ++symbol) {
        const uint32_t length = lengths[symbol];
        if (length == 0) continue;
        const uint32_t bits = Reversed(nextCode[length]++, length);
        const uint32_t entry = length << 16 | static_cast<uint32_t>(symbol);
        if (length <= indexBits) {
            for (uint32_t i = bits; i < firstSize; i += 1u << length) table[i] = entry;
            continue;
        }
        // A prefix code: no shorter code shares these first bits, so the slot
        // is empty or already this prefix's link.
        uint32_t& link = table[bits & (firstSize - 1)];
        if (link == 0) {
            link = kLink | subWidth << 16 | used;
            std::memset(table + used, 0, (size_t(1) << subWidth) * sizeof(uint32_t));
            used += 1u << subWidth;
        }
        uint32_t* sub = table + (link & 0xFFFF);
        for (uint32_t i = bits >> indexBits; i < (1u << subWidth); i += 1u << (length - indexBits)) sub[i] = entry;
    }
    return true;
}

void BuildFixedTables(Inflater* f) {
    uint8_t lengths[kLiteralSymbols + kDistanceSymbols];
    std::memset(lengths, 8, 144);
    std::memset(lengths + 144, 9, 112);
    std::memset(lengths + 256, 7, 24);
    std::memset(lengths + 280, 8, 8);
    std::memset(lengths + kLiteralSymbols, 5, kDistanceSymbols);
    BuildTable(lengths, kLiteralSymbols, kLiteralIndexBits, f->literals, true);
    BuildTable(lengths + kLiteralSymbols, kDistanceSymbols, kDistanceIndexBits, f->distances, true);
}

bool ReadDynamicTables(Bits& b, Inflater* f) {
    Refill(b);
    const int literalCount = static_cast<int>(Take(b, 5)) + 257;
    const int distanceCount = static_cast<int>(Take(b, 5)) + 1;
    const int lengthCodeCount = static_cast<int>(Take(b, 4)) + 4;
    if (literalCount > kMostLiteralLengths || distanceCount > kMostDistances) return false;

    uint8_t codeLengths[19] = {};
    for (int i = 0; i < lengthCodeCount; ++i) {
        Refill(b);
        codeLengths[kLengthCodeOrder[i]] = static_cast<uint8_t>(Take(b, 3));
    }
    if (!BuildTable(codeLengths, 19, kLengthCodeIndexBits, f->lengthCodes, false)) return false;

    uint8_t lengths[kMostLiteralLengths + kMostDistances] = {};
    const int total = literalCount + distanceCount;
    for (int i = 0; i < total;) {
        Refill(b);
        if (UsedPadding(b)) return false;
        const uint32_t symbol = EntrySymbol(Decode(b, f->lengthCodes, kLengthCodeIndexBits));
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        uint8_t repeated = 0;
        int times = 0;
        if (symbol == 16) {
            if (i == 0) return false;  // nothing to repeat
            repeated = lengths[i - 1];
            times = 3 + static_cast<int>(Take(b, 2));
        } else if (symbol == 17) {
            times = 3 + static_cast<int>(Take(b, 3));
        } else {
            times = 11 + static_cast<int>(Take(b, 7));
        }
        if (times > total - i) return false;
        std::memset(lengths + i, repeated, static_cast<size_t>(times));
        i += times;
    }
    if (lengths[kEndOfBlock] == 0) return false;  // a block that could never end
    return BuildTable(lengths, literalCount, kLiteralIndexBits, f->literals, true) &&
           BuildTable(lengths + literalCount, distanceCount, kDistanceIndexBits, f->distances, true);
}

// Where decoded bytes go: window[0, pos) holds the latest output, of which
// window[flushed, pos) is not handed out yet.
struct Output {
    unsigned char* window = nullptr;
    uint32_t pos = 0;
    uint32_t flushed = 0;
    uint64_t before = 0;  // output bytes that came before window[0]
    uint32_t left = 0;    // bytes still wanted
    const InflateOutput* sink = nullptr;
};

bool HandOut(Output& o) {
    if (o.pos > o.flushed && !o.sink->write(o.sink->context, o.window + o.flushed, o.pos - o.flushed)) return false;
    o.flushed = o.pos;
    return true;
}

// Hands out the span once it is full, keeping the history for later matches.
bool HandOutWhenFull(Output& o) {
    if (o.pos < kHistory + kSpan) return true;
    if (!HandOut(o)) return false;
    std::memmove(o.window, o.window + o.pos - kHistory, kHistory);
    o.before += o.pos - kHistory;
    o.pos = o.flushed = kHistory;
    return true;
}

InflateResult Failure(const Bits& b) { return b.readFailed ? InflateResult::ReadFailed : InflateResult::Damaged; }

InflateResult CopyStoredBlock(Bits& b, Output& o) {
    Take(b, b.count & 7);  // to the byte boundary; the buffer then holds whole bytes
    Refill(b);
    const uint32_t length = Take(b, 16);
    Refill(b);
    const uint32_t complement = Take(b, 16);
    if (UsedPadding(b) || length != (~complement & 0xFFFF)) return Failure(b);

    uint32_t remaining = length < o.left ? length : o.left;
    o.left -= remaining;
    while (remaining > 0) {
        uint32_t room = kHistory + kSpan - o.pos;
        if (room > remaining) room = remaining;
        remaining -= room;
        while (room > 0 && b.count >= 8) {
            o.window[o.pos++] = static_cast<unsigned char>(Take(b, 8));
            --room;
        }
        while (room > 0) {
            if (b.next == b.end) {
                o.window[o.pos++] = static_cast<unsigned char>(NextByteSlowly(b));
                --room;
                if (b.padding != 0) return Failure(b);
                continue;
            }
            uint32_t piece = static_cast<uint32_t>(b.end - b.next);
            if (piece > room) piece = room;
            std::memcpy(o.window + o.pos, b.next, piece);
            b.next += piece;
            o.pos += piece;
            room -= piece;
        }
        if (UsedPadding(b)) return Failure(b);
        if (!HandOutWhenFull(o)) return InflateResult::WriteFailed;
    }
    return InflateResult::Ok;
}

// A match's bytes may overlap the bytes they repeat, so a near one is copied
// a byte at a time; a far one eight bytes at a time, which may write up to
// seven bytes past its end, into room the window keeps for it.
inline void CopyMatch(unsigned char* to, uint32_t distance, uint32_t length) {
    const unsigned char* from = to - distance;
    if (distance >= kCopySlack) {
        for (uint32_t i = 0; i < length; i += kCopySlack) std::memcpy(to + i, from + i, kCopySlack);
    } else {
        for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
    }
}

InflateResult DecodeBlock(Bits& b, Output& o, const Inflater* f) {
    for (;;) {
        Refill(b);
        if (UsedPadding(b)) return Failure(b);
        const uint32_t entry = Decode(b, f->literals, kLiteralIndexBits);
        if (EntryLength(entry) == 0) return InflateResult::Damaged;
        uint32_t symbol = EntrySymbol(entry);
        if (symbol < 256) {
            o.window[o.pos++] = static_cast<unsigned char>(symbol);
            --o.left;
        } else if (symbol == kEndOfBlock) {
            return InflateResult::Ok;
        } else {
            symbol -= 257;
            if (symbol >= kLengthSymbols) return InflateResult::Damaged;
            uint32_t length = kLengthBase[symbol] + Take(b, kLengthExtra[symbol]);
            Refill(b);
            const uint32_t distanceEntry = Decode(b, f->distances, kDistanceIndexBits);
            const uint32_t distanceSymbol = EntrySymbol(distanceEntry);
            if (EntryLength(distanceEntry) == 0 || distanceSymbol >= kMostDistances) return InflateResult::Damaged;
            Refill(b);
            const uint32_t distance = kDistanceBase[distanceSymbol] + Take(b, kDistanceExtra[distanceSymbol]);
            if (UsedPadding(b)) return Failure(b);
            if (distance > o.before + o.pos) return InflateResult::Damaged;  // before the stream began
            if (length > o.left) length = o.left;
            CopyMatch(o.window + o.pos, distance, length);
            o.pos += length;
            o.left -= length;
        }
        if (o.left == 0) return InflateResult::Ok;
        if (!HandOutWhenFull(o)) return InflateResult::WriteFailed;
    }
}

}  // namespace

InflateResult Inflate(Inflater* inflater, const InflateInput& input, const InflateOutput& output, uint32_t outputSize,
                      uint32_t* produced) {
    *produced = 0;
    Bits b;
    b.inflater = inflater;
    b.input = &input;
    Output o;
    o.window = inflater->window;
    o.left = outputSize;
    o.sink = &output;

    bool lastBlock = false;
    while (!lastBlock && o.left > 0) {
        Refill(b);
        lastBlock = Take(b, 1) != 0;
        const uint32_t type = Take(b, 2);
        InflateResult result = InflateResult::Damaged;
        if (type == 0) {
            result = CopyStoredBlock(b, o);
        } else if (type == 1) {
            BuildFixedTables(inflater);
            result = DecodeBlock(b, o, inflater);
        } else if (type == 2) {
            if (!ReadDynamicTables(b, inflater)) return Failure(b);
            result = DecodeBlock(b, o, inflater);
        }
        if (result == InflateResult::Damaged) return Failure(b);
        if (result != InflateResult::Ok) return result;
    }
    if (!HandOut(o)) return InflateResult::WriteFailed;
    if (UsedPadding(b)) return Failure(b);
    *produced = outputSize - o.left;
    return InflateResult::Ok;
}
