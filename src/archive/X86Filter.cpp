#include "archive/X86Filter.h"

namespace xz {
namespace {

// The high byte of an address a near branch plausibly has: 0x00 or 0xFF.
inline bool IsNearHighByte(uint8_t b) { return b == 0x00 || b == 0xFF; }

}  // namespace

void X86Filter::Start(uint32_t startOffset) {
    position_ = startOffset;
    previousMask_ = 0;
    previousPosition_ = startOffset - 5;
}

size_t X86Filter::Convert(uint8_t* data, size_t size) {
    // Which masks of recent opcode bytes still allow a conversion, and which
    // byte of the address each mask tests.
    static constexpr bool kAllowed[8] = {true, true, true, false, true, false, false, false};
    static constexpr uint32_t kTestedByte[8] = {0, 1, 2, 2, 3, 3, 3, 3};
    if (size < 5) return 0;
    if (position_ - previousPosition_ > 5) previousPosition_ = position_ - 5;
    const size_t limit = size - 5;
    uint32_t mask = previousMask_;
    size_t i = 0;
    while (i <= limit) {
        if ((data[i] & 0xFE) != 0xE8) {  // neither E8 nor E9
            ++i;
            continue;
        }
        const uint32_t here = position_ + static_cast<uint32_t>(i);
        const uint32_t gap = here - previousPosition_;
        previousPosition_ = here;
        if (gap > 5) {
            mask = 0;
        } else {
            for (uint32_t k = 0; k < gap; ++k) mask = (mask & 0x77) << 1;
        }
        uint8_t high = data[i + 4];
        if (IsNearHighByte(high) && kAllowed[(mask >> 1) & 7] && (mask >> 1) < 0x10) {
            uint32_t source = uint32_t(high) << 24 | uint32_t(data[i + 3]) << 16 | uint32_t(data[i + 2]) << 8 | data[i + 1];
            uint32_t target;
            while (true) {
                target = source - (here + 5);
                if (mask == 0) break;
                const uint32_t shift = 24 - kTestedByte[mask >> 1] * 8;
                if (!IsNearHighByte(static_cast<uint8_t>(target >> shift))) break;
                source = target ^ ((1u << (shift + 8)) - 1);
            }
            data[i + 4] = static_cast<uint8_t>(~(((target >> 24) & 1) - 1));
            data[i + 3] = static_cast<uint8_t>(target >> 16);
            data[i + 2] = static_cast<uint8_t>(target >> 8);
            data[i + 1] = static_cast<uint8_t>(target);
            i += 5;
            mask = 0;
        } else {
            ++i;
            mask |= 1;
            if (IsNearHighByte(high)) mask |= 0x10;
        }
    }
    previousMask_ = mask;
    position_ += static_cast<uint32_t>(i);
    return i;
}

}  // namespace xz
