#pragma once
// Streams for the decoder's tests, made by the host's liblzma with the
// options the packer may use, and the decoder driven over them in pieces.

#include <lzma.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/XzDecoder.h"
#include "archive/XzFile.h"

namespace xztest {

using Bytes = std::vector<uint8_t>;

struct XzOptions {
    uint32_t preset = 6;        // 0..9, LZMA_PRESET_EXTREME may be or-ed in
    uint32_t dictionary = 0;    // 0: the preset's
    bool x86 = false;
    uint32_t x86Start = 0;      // the x86 filter's start offset (0: no property)
    lzma_check check = LZMA_CHECK_CRC64;
    uint64_t blockSize = 0;     // 0: one block without sizes in its header
};

// liblzma's .xz stream of data.
Bytes Compress(const Bytes& data, const XzOptions& options);

// liblzma's own reading of one stream: true with the bytes when it decodes
// in full with every check verified and nothing after the stream.
bool ReferenceDecode(const Bytes& stream, Bytes* out, uint64_t memoryLimit = UINT64_MAX);

struct Decoded {
    xz::XzStatus status = xz::XzStatus::needMore;
    Bytes out;
    bool cutShort = false;  // needMore with every byte given: the stream ends too early
    // What a caller that holds the whole stream makes of it.
    xz::XzStatus Whole() const { return cutShort ? xz::XzStatus::damaged : status; }
};
// Our decoder over stream, given inPiece bytes and outPiece bytes of room at
// a time, and anything after the stream's end. needMore when the input ran
// out before the stream's end.
Decoded DecodeXz(const Bytes& stream, size_t inPiece = SIZE_MAX, size_t outPiece = 1 << 16,
                 uint32_t maxDictionary = xz::kMaxSolidDictionary);
// The same with a decoder already made, restarted first.
Decoded DecodeXz(xz::XzDecoder& decoder, const Bytes& stream, size_t inPiece, size_t outPiece);

// Text-like and binary runs with repeats at short and long distances.
Bytes MixedData(size_t size, uint32_t seed);
// Bytes that look like x86 code: calls and jumps with near targets.
Bytes X86LikeData(size_t size, uint32_t seed);
Bytes RandomBytes(size_t size, uint32_t seed);

}  // namespace xztest
