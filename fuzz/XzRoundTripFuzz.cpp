// The fuzz input chooses contents and one of the packer's options (preset,
// dictionary size, x86 filter or not, check, one block or many); liblzma
// compresses, and our decoder must give the contents back exactly, in
// pieces of sizes the input also chooses.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "XzTestSupport.h"

namespace {

using xztest::Bytes;

// The contents: the input's bytes, with copies of earlier stretches mixed
// in so that matches near and far occur.
Bytes Contents(const uint8_t* data, size_t size) {
    Bytes out;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t b = data[i];
        if (b == 0xFD && i + 3 < size && !out.empty()) {
            const size_t distance = 1 + ((size_t(data[i + 1]) << 8 | data[i + 2]) % out.size());
            const size_t length = 2 + data[i + 3] * 4u;
            for (size_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
            i += 3;
        } else {
            out.push_back(b);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    static const uint32_t kDictionaries[] = {4u << 10, 8u << 10, 64u << 10, 1u << 20, 8u << 20, 64u << 20};
    static const lzma_check kChecks[] = {LZMA_CHECK_NONE, LZMA_CHECK_CRC32, LZMA_CHECK_CRC64, LZMA_CHECK_SHA256};
    xztest::XzOptions options;
    options.preset = data[0] % 10;
    if (data[0] & 0x80) options.preset |= LZMA_PRESET_EXTREME;
    // The largest dictionaries cost the encoder most: one run in sixteen.
    const uint32_t d = data[1] & 0x0F;
    options.dictionary = kDictionaries[d == 0 ? 5 : (d == 1 ? 4 : d % 4)];
    options.x86 = (data[1] & 0x10) != 0;
    options.x86Start = (data[1] & 0x20) != 0 ? uint32_t(data[2]) << 4 : 0;
    options.check = kChecks[(data[1] >> 6) & 3];
    options.blockSize = (data[2] & 1) != 0 ? 100 + data[3] * 61u : 0;
    const Bytes contents = Contents(data + 4, size - 4);
    const Bytes stream = xztest::Compress(contents, options);
    if (stream.empty()) std::abort();  // liblzma refused options the packer may use
    const size_t inPiece = 1 + data[3] % 97 * (data[2] >> 1);
    const size_t outPiece = 1 + data[2] * 131u;
    const xztest::Decoded decoded = xztest::DecodeXz(stream, inPiece, outPiece);
    if (decoded.status != xz::XzStatus::streamEnd || decoded.out != contents) std::abort();
    return 0;
}
