// zlib's inflate refers to zlib's own CRC-32 and Adler-32. The shipped
// programs give it ours instead: the same values, and zlib's tables of
// several kilobytes stay out of the stub. Linked into the Windows programs
// only; the host tools keep the system's zlib whole.
#include <zlib.h>

#include "archive/Crc32.h"

extern "C" {

uLong ZEXPORT crc32(uLong crc, const Bytef* buf, uInt len) {
    if (buf == Z_NULL) return 0;  // zlib's way of asking for the start value
    return UpdateCrc32(static_cast<uint32_t>(crc), buf, len);
}

uLong ZEXPORT adler32(uLong adler, const Bytef* buf, uInt len) {
    constexpr uint32_t kBase = 65521;
    constexpr uInt kMostBeforeModulo = 5552;  // the sums cannot overflow 32 bits before this
    if (buf == Z_NULL) return 1;
    uint32_t a = static_cast<uint32_t>(adler) & 0xFFFF;
    uint32_t b = (static_cast<uint32_t>(adler) >> 16) & 0xFFFF;
    while (len > 0) {
        uInt n = len < kMostBeforeModulo ? len : kMostBeforeModulo;
        len -= n;
        while (n-- > 0) {
            a += *buf++;
            b += a;
        }
        a %= kBase;
        b %= kBase;
    }
    return (b << 16) | a;
}

}  // extern "C"
