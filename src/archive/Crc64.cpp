#include "archive/Crc64.h"

#include <cstdlib>

namespace {

constexpr uint64_t kPolynomial = 0xC96C5795D7870F42ull;

// Four tables, so that the loop takes four bytes a step: table[k][b] is the
// remainder of byte b followed by k zero bytes. Allocated and filled on
// first use: the Windows build would otherwise carry them, zeros and all,
// in its file (the stub's size counts).
using Table = uint64_t[4][256];
Table* tables = nullptr;

const Table& FilledTable() {
    // Only the decoding thread calls this.
    if (tables != nullptr) return *tables;
    Table* filled = static_cast<Table*>(std::malloc(sizeof(Table)));
    if (filled == nullptr) std::abort();
    Table& table = *filled;
    for (uint32_t b = 0; b < 256; ++b) {
        uint64_t crc = b;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? kPolynomial : 0);
        table[0][b] = crc;
    }
    for (int k = 1; k < 4; ++k) {
        for (uint32_t b = 0; b < 256; ++b) table[k][b] = (table[k - 1][b] >> 8) ^ table[0][table[k - 1][b] & 0xFF];
    }
    tables = filled;
    return table;
}

}  // namespace

uint64_t UpdateCrc64(uint64_t crc, const void* data, size_t size) {
    const uint64_t(*t)[256] = FilledTable();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (; size >= 4; size -= 4, p += 4) {
        const uint32_t word = static_cast<uint32_t>(crc) ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 |
                                                            uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
        crc = (crc >> 32) ^ t[3][word & 0xFF] ^ t[2][(word >> 8) & 0xFF] ^ t[1][(word >> 16) & 0xFF] ^ t[0][word >> 24];
    }
    for (; size > 0; --size, ++p) crc = (crc >> 8) ^ t[0][(crc ^ *p) & 0xFF];
    return ~crc;
}
