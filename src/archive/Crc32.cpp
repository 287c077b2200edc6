#include "archive/Crc32.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define KX_CRC32_FOLDING 1
#endif

namespace {

constexpr size_t kFoldBlock = 128;

struct CrcTable {
    uint32_t entries[256];
};

constexpr CrcTable MakeCrcTable() {
    CrcTable table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.entries[i] = c;
    }
    return table;
}

// Made by the compiler: read-only data, and no first use for two threads
// to race over.
constexpr CrcTable kCrcTable = MakeCrcTable();

// A byte at a time: for the few bytes the folding leaves, and for
// processors without carry-less multiplication.
uint32_t TableCrc32(uint32_t crc, const unsigned char* data, size_t size) {
    crc = ~crc;
    for (; size > 0; --size) crc = kCrcTable.entries[(crc ^ *data++) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

#ifdef KX_CRC32_FOLDING

bool ProcessorCanFold() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
    return (ecx & bit_PCLMUL) != 0 && (edx & bit_SSE2) != 0;
}

// 512-bit carry-less multiplication, and a system that saves the 512-bit
// registers (XCR0: SSE, AVX, opmask and both halves of the ZMM state).
bool ProcessorCanFoldWide() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0) return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
    if ((ebx & bit_AVX512F) == 0 || (ecx & bit_VPCLMULQDQ) == 0) return false;
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    constexpr unsigned kZmmState = 0xE6;
    return (low & kZmmState) == kZmmState;
}

// Folding constants of the reflected polynomial 0xEDB88320, each a power of
// x modulo P, bit-reflected over 33 bits: x^(1024+32) and x^(1024-32) fold
// eight lanes 1024 bits ahead, x^(128+32) and x^(128-32) fold one lane into
// the next, x^64 takes 64 bits to 32; then P itself and the Barrett constant
// floor(x^64 / P).
constexpr long long kFold8Low = 0x1e88ef372LL;
constexpr long long kFold8High = 0x14a7fe880LL;
constexpr long long kFold1Low = 0x1751997d0LL;
constexpr long long kFold1High = 0x0ccaa009eLL;
constexpr long long kFold64 = 0x163cd6124LL;
constexpr long long kPolynomial = 0x1db710641LL;
constexpr long long kBarrett = 0x1f7011641LL;
constexpr int kLanes = 8;
// Four 512-bit accumulators, 2048 bits ahead; then one into the next, 512 bits ahead.
constexpr long long kFold16Low = 0x11542778aLL;
constexpr long long kFold16High = 0x1322d1430LL;
constexpr long long kFold4Low = 0x154442bd4LL;
constexpr long long kFold4High = 0x1c6e41596LL;
constexpr size_t kWideBlock = 256;

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i value, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(value, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(value, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse2"))) __m128i ReduceLanes(const __m128i* lane, int count);
__attribute__((target("pclmul,sse2"))) uint32_t ReduceTo32(__m128i x);

// The folding functions keep vectors on their stack, which a 32-bit Windows
// thread does not keep 16-byte aligned: they align their own frames.
#define KX_OWN_ALIGNED_FRAME __attribute__((force_align_arg_pointer))

// The raw (not inverted) CRC state over size bytes, size a multiple of the
// block of eight 16-byte lanes.
KX_OWN_ALIGNED_FRAME __attribute__((target("pclmul,sse2"))) uint32_t FoldedCrc32(uint32_t state, const unsigned char* data, size_t size) {
    const __m128i* in = reinterpret_cast<const __m128i*>(data);
    __m128i lane[kLanes];
    for (int i = 0; i < kLanes; ++i) lane[i] = _mm_loadu_si128(in + i);
    lane[0] = _mm_xor_si128(lane[0], _mm_cvtsi32_si128(static_cast<int>(state)));
    const __m128i fold8 = _mm_set_epi64x(kFold8High, kFold8Low);
    for (size_t done = kFoldBlock; done < size; done += kFoldBlock) {
        in += kLanes;
        for (int i = 0; i < kLanes; ++i) lane[i] = Fold(lane[i], fold8, _mm_loadu_si128(in + i));
    }
    return ReduceTo32(ReduceLanes(lane, kLanes));
}

__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i FoldWide(__m512i value, __m512i constants, __m512i next) {
    const __m512i low = _mm512_clmulepi64_epi128(value, constants, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(value, constants, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96);  // three-way exclusive or
}

// The same with four 512-bit accumulators, size a multiple of 256 bytes.
KX_OWN_ALIGNED_FRAME __attribute__((target("avx512f,vpclmulqdq,pclmul"))) uint32_t WideFoldedCrc32(uint32_t state,
                                                                               const unsigned char* data,
                                                                               size_t size) {
    __m512i acc[4];
    for (int i = 0; i < 4; ++i) acc[i] = _mm512_loadu_si512(data + 64 * i);
    acc[0] = _mm512_xor_si512(acc[0], _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(state))));
    const __m512i fold16 = _mm512_set_epi64(kFold16High, kFold16Low, kFold16High, kFold16Low, kFold16High, kFold16Low,
                                            kFold16High, kFold16Low);
    for (size_t done = kWideBlock; done < size; done += kWideBlock) {
        data += kWideBlock;
        for (int i = 0; i < 4; ++i) acc[i] = FoldWide(acc[i], fold16, _mm512_loadu_si512(data + 64 * i));
    }
    const __m512i fold4 =
        _mm512_set_epi64(kFold4High, kFold4Low, kFold4High, kFold4Low, kFold4High, kFold4Low, kFold4High, kFold4Low);
    __m512i x = FoldWide(acc[0], fold4, acc[1]);
    x = FoldWide(x, fold4, acc[2]);
    x = FoldWide(x, fold4, acc[3]);
    __m128i lane[4];
    _mm512_storeu_si512(lane, x);
    return ReduceTo32(ReduceLanes(lane, 4));
}

// Folds lanes of consecutive 16-byte positions into one, 128 bits at a time.
__attribute__((target("pclmul,sse2"))) __m128i ReduceLanes(const __m128i* lane, int count) {
    const __m128i fold1 = _mm_set_epi64x(kFold1High, kFold1Low);
    __m128i x = lane[0];
    for (int i = 1; i < count; ++i) x = Fold(x, fold1, lane[i]);
    return x;
}

// 128 bits to the 32-bit remainder.
__attribute__((target("pclmul,sse2"))) uint32_t ReduceTo32(__m128i x) {
    const __m128i fold1 = _mm_set_epi64x(kFold1High, kFold1Low);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    // 128 bits to 64.
    x = _mm_xor_si128(_mm_clmulepi64_si128(x, fold1, 0x10), _mm_srli_si128(x, 8));
    // 64 bits to 32.
    const __m128i fold64 = _mm_set_epi64x(0, kFold64);
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), fold64, 0x00), _mm_srli_si128(x, 4));
    // Barrett reduction to the remainder.
    const __m128i barrett = _mm_set_epi64x(kBarrett, kPolynomial);
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

const bool kCanFold = ProcessorCanFold();
const bool kCanFoldWide = kCanFold && ProcessorCanFoldWide();

#endif

}  // namespace

bool Crc32UsesFolding() {
#ifdef KX_CRC32_FOLDING
    return kCanFold;
#else
    return false;
#endif
}

uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
#ifdef KX_CRC32_FOLDING
    if (kCanFoldWide && size >= kWideBlock) {
        const size_t folded = size - size % kWideBlock;
        crc = ~WideFoldedCrc32(~crc, bytes, folded);
        bytes += folded;
        size -= folded;
    }
    if (kCanFold && size >= kFoldBlock) {
        const size_t folded = size - size % kFoldBlock;
        crc = ~FoldedCrc32(~crc, bytes, folded);
        bytes += folded;
        size -= folded;
    }
#endif
    return TableCrc32(crc, bytes, size);
}
