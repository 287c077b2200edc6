#include "archive/LzmaDecoder.h"

#include <algorithm>
#include <cstring>

// The LZMA symbol decoder: built for speed (see CMakeLists.txt), the rest of
// the chunk layer for size.

namespace xz {
namespace {

constexpr uint32_t kTop = 1u << 24;
constexpr uint32_t kProbabilityBits = 11;
constexpr uint32_t kMoveBits = 5;
constexpr uint32_t kStates = 12;
constexpr uint32_t kLiteralStates = 7;  // states below this follow a literal
constexpr uint32_t kMatchMinLength = 2;
constexpr uint32_t kEndPosModelIndex = 14;
constexpr uint32_t kFullDistances = 128;
constexpr uint32_t kAlignBits = 4;

// The probabilities, one flat array.
constexpr uint32_t kIsMatch = 0;
constexpr uint32_t kIsRep = kIsMatch + kStates * 16;
constexpr uint32_t kIsRepG0 = kIsRep + kStates;
constexpr uint32_t kIsRepG1 = kIsRepG0 + kStates;
constexpr uint32_t kIsRepG2 = kIsRepG1 + kStates;
constexpr uint32_t kIsRep0Long = kIsRepG2 + kStates;
constexpr uint32_t kPosSlot = kIsRep0Long + kStates * 16;
constexpr uint32_t kSpecialPos = kPosSlot + 4 * 64;
constexpr uint32_t kAlign = kSpecialPos + 1 + kFullDistances - kEndPosModelIndex;
constexpr uint32_t kMatchLength = kAlign + (1u << kAlignBits);
constexpr uint32_t kLengthProbabilities = 2 + 16 * 8 + 16 * 8 + 256;
constexpr uint32_t kRepLength = kMatchLength + kLengthProbabilities;
constexpr uint32_t kLiteral = kRepLength + kLengthProbabilities;
constexpr uint32_t kLiteralCoder = 0x300;
// Inside one length coder.
constexpr uint32_t kChoice = 0, kChoice2 = 1, kLow = 2, kMid = kLow + 16 * 8, kHigh = kMid + 16 * 8;

// Inlined even where the compiler would not: the symbol loop is hot.
#define KX_HOT inline __attribute__((always_inline))

// The range decoder, kept in locals while symbols are decoded.
struct RangeDecoder {
    uint32_t range;
    uint32_t code;
    const uint8_t* in;

    KX_HOT void Normalize() {
        if (range < kTop) {
            range <<= 8;
            code = (code << 8) | *in++;
        }
    }
    KX_HOT uint32_t Bit(uint16_t* probability) {
        const uint32_t p = *probability;
        const uint32_t bound = (range >> kProbabilityBits) * p;
        uint32_t bit;
        if (code < bound) {
            range = bound;
            *probability = static_cast<uint16_t>(p + (((1u << kProbabilityBits) - p) >> kMoveBits));
            bit = 0;
        } else {
            range -= bound;
            code -= bound;
            *probability = static_cast<uint16_t>(p - (p >> kMoveBits));
            bit = 1;
        }
        Normalize();
        return bit;
    }
    // A bit tree of `bits` levels, most significant bit first.
    KX_HOT uint32_t Tree(uint16_t* probabilities, uint32_t bits) {
        uint32_t symbol = 1;
        for (uint32_t i = 0; i < bits; ++i) symbol = (symbol << 1) | Bit(probabilities + symbol);
        return symbol - (1u << bits);
    }
    // The same, least significant bit first.
    KX_HOT uint32_t ReverseTree(uint16_t* probabilities, uint32_t bits) {
        uint32_t symbol = 1, result = 0;
        for (uint32_t i = 0; i < bits; ++i) {
            const uint32_t bit = Bit(probabilities + symbol);
            symbol = (symbol << 1) | bit;
            result |= bit << i;
        }
        return result;
    }
    KX_HOT uint32_t Direct(uint32_t bits) {
        uint32_t result = 0;
        do {
            range >>= 1;
            const uint32_t bit = code >= range ? 1 : 0;
            code -= range & (0u - bit);
            result = (result << 1) | bit;
            Normalize();
        } while (--bits != 0);
        return result;
    }
    KX_HOT uint32_t Length(uint16_t* p, uint32_t posState) {
        if (Bit(p + kChoice) == 0) return Tree(p + kLow + posState * 8, 3);
        if (Bit(p + kChoice2) == 0) return 8 + Tree(p + kMid + posState * 8, 3);
        return 16 + Tree(p + kHigh, 8);
    }
};

inline uint32_t NextStateAfterLiteral(uint32_t state) { return state < 4 ? 0 : (state < 10 ? state - 3 : state - 6); }

// The distance (minus one) of a simple match of the given length code.
inline uint32_t DecodeDistance(RangeDecoder& rc, uint16_t* probabilities, uint32_t lengthCode) {
    const uint32_t lengthState = lengthCode < 3 ? lengthCode : 3;
    const uint32_t slot = rc.Tree(probabilities + kPosSlot + lengthState * 64, 6);
    if (slot < 4) return slot;
    const uint32_t directBits = (slot >> 1) - 1;
    uint32_t distance = (2 | (slot & 1)) << directBits;
    if (slot < kEndPosModelIndex) return distance + rc.ReverseTree(probabilities + kSpecialPos + distance - slot, directBits);
    distance += rc.Direct(directBits - kAlignBits) << kAlignBits;
    return distance + rc.ReverseTree(probabilities + kAlign, kAlignBits);
}

// Copies length bytes from distance + 1 back, within the window's size.
inline void CopyMatch(uint8_t* dict, uint32_t size, uint32_t& pos, uint32_t distance, uint32_t length) {
    uint32_t from = distance < pos ? pos - distance - 1 : size + pos - distance - 1;
    while (length > 0) {
        const uint32_t run = std::min(length, size - from);
        uint8_t* to = dict + pos;
        const uint8_t* source = dict + from;
        if (distance >= run && run > 16) {
            std::memmove(to, source, run);  // a source wrapped round may lie just ahead
        } else {
            for (uint32_t i = 0; i < run; ++i) to[i] = source[i];  // forward: overlapping runs repeat
        }
        pos += run;
        length -= run;
        from += run;
        if (from == size) from = 0;
    }
}

}  // namespace

uint32_t LzmaProbabilityCount(uint32_t lc, uint32_t lp) { return kLiteral + (kLiteralCoder << (lc + lp)); }

LzmaResult DecodeSymbols(LzmaState& s, uint16_t* probabilities, Window& w, uint32_t limit, const uint8_t* inEnd) {
    RangeDecoder rc{s.range, s.code, s.in};
    uint8_t* const dict = w.buffer.get();
    const uint32_t size = w.size;
    uint32_t pos = w.pos, full = w.full, processed = s.processed, state = s.state;
    uint32_t rep0 = s.rep[0], rep1 = s.rep[1], rep2 = s.rep[2], rep3 = s.rep[3];
    const uint32_t lc = s.lc, lpMask = (1u << s.lp) - 1, pbMask = (1u << s.pb) - 1;
    LzmaResult result = LzmaResult::ok;
    uint32_t pending = s.pendingLength;
    if (pending > 0) {
        const uint32_t run = std::min(pending, limit - pos);
        CopyMatch(dict, size, pos, rep0, run);
        pending -= run;
        processed += run;
        full = std::min(size, full + run);
    }
    while (pos < limit) {
        if (rc.in > inEnd) {
            result = LzmaResult::damaged;
            break;
        }
        const uint32_t posState = processed & pbMask;
        if (rc.Bit(probabilities + kIsMatch + state * 16 + posState) == 0) {
            const uint32_t previous = pos > 0 ? dict[pos - 1] : (full > 0 ? dict[size - 1] : 0);
            uint16_t* literal =
                probabilities + kLiteral + kLiteralCoder * (((processed & lpMask) << lc) + (previous >> (8 - lc)));
            uint32_t symbol = 1;
            if (state >= kLiteralStates) {
                uint32_t match = dict[rep0 < pos ? pos - rep0 - 1 : size + pos - rep0 - 1];
                do {
                    const uint32_t matchBit = (match >> 7) & 1;
                    match <<= 1;
                    const uint32_t bit = rc.Bit(literal + ((1 + matchBit) << 8) + symbol);
                    symbol = (symbol << 1) | bit;
                    if (bit != matchBit) break;
                } while (symbol < 0x100);
            }
            while (symbol < 0x100) symbol = (symbol << 1) | rc.Bit(literal + symbol);
            dict[pos++] = static_cast<uint8_t>(symbol);
            ++processed;
            state = NextStateAfterLiteral(state);
        } else {
            uint32_t length;
            if (rc.Bit(probabilities + kIsRep + state) == 0) {
                length = rc.Length(probabilities + kMatchLength, posState);
                const uint32_t distance = DecodeDistance(rc, probabilities, length);
                // The end marker (distance 0xFFFFFFFF) has no place in LZMA2.
                if (distance >= full) {
                    result = LzmaResult::damaged;
                    break;
                }
                rep3 = rep2;
                rep2 = rep1;
                rep1 = rep0;
                rep0 = distance;
                state = state < kLiteralStates ? 7 : 10;
            } else {
                if (full == 0) {
                    result = LzmaResult::damaged;
                    break;
                }
                if (rc.Bit(probabilities + kIsRepG0 + state) == 0) {
                    if (rc.Bit(probabilities + kIsRep0Long + state * 16 + posState) == 0) {
                        state = state < kLiteralStates ? 9 : 11;
                        dict[pos] = dict[rep0 < pos ? pos - rep0 - 1 : size + pos - rep0 - 1];
                        ++pos;
                        ++processed;
                        if (full < size) ++full;
                        continue;
                    }
                } else {
                    uint32_t distance;
                    if (rc.Bit(probabilities + kIsRepG1 + state) == 0) {
                        distance = rep1;
                    } else {
                        if (rc.Bit(probabilities + kIsRepG2 + state) == 0) {
                            distance = rep2;
                        } else {
                            distance = rep3;
                            rep3 = rep2;
                        }
                        rep2 = rep1;
                    }
                    rep1 = rep0;
                    rep0 = distance;
                }
                length = rc.Length(probabilities + kRepLength, posState);
                state = state < kLiteralStates ? 8 : 11;
            }
            length += kMatchMinLength;
            const uint32_t run = std::min(length, limit - pos);
            CopyMatch(dict, size, pos, rep0, run);
            pending = length - run;
            processed += run;
            full = std::min(size, full + run);
            continue;
        }
        if (full < size) ++full;
    }
    w.pos = pos;
    w.full = full;
    s.range = rc.range;
    s.code = rc.code;
    s.in = rc.in;
    s.processed = processed;
    s.state = state;
    s.rep[0] = rep0;
    s.rep[1] = rep1;
    s.rep[2] = rep2;
    s.rep[3] = rep3;
    s.pendingLength = pending;
    return result;
}


}  // namespace xz
