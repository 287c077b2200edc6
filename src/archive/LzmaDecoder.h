#pragma once
// LZMA2 decoding: the chunk layer, the LZMA symbol decoder and its range
// decoder, and the dictionary as a circular window the data is decoded into
// and copied out of. Push style: it takes what input and output room each
// call gives, keeps its place, and never needs more memory than the window
// and one chunk's compressed bytes.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace xz {

enum class LzmaResult { ok, end, damaged };  // ok: call again with more input or more output room

// Bytes decoded since the last dictionary reset, of which the last `full` are
// within reach of a match.
struct Window {
    std::unique_ptr<uint8_t[]> buffer;
    uint32_t capacity = 0;  // bytes allocated
    uint32_t size = 0;      // bytes in use for this block, at most capacity
    uint32_t pos = 0;       // where the next byte goes
    uint32_t full = 0;      // bytes that hold data, at most size
    uint32_t flushed = 0;   // bytes before pos already copied out
};

// Everything the LZMA symbol decoder carries from one call to the next.
struct LzmaState {
    uint32_t range = 0;
    uint32_t code = 0;
    const uint8_t* in = nullptr;  // into the chunk buffer
    uint32_t state = 0;
    uint32_t rep[4] = {0, 0, 0, 0};
    uint32_t processed = 0;  // bytes since the dictionary reset, for the position bits
    uint32_t pendingLength = 0;  // bytes of a match the window had no room for yet
    uint32_t lc = 0, lp = 0, pb = 0;
};

class Lzma2Decoder {
public:
    Lzma2Decoder();
    // Starts a block whose dictionary holds dictionarySize bytes, of which
    // only windowSize (not more) are kept. False when the window cannot be
    // allocated.
    bool StartBlock(uint32_t windowSize);
    // Consumes compressed bytes and writes decoded ones. end once the end
    // marker was read and everything was written out.
    LzmaResult Decode(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                      size_t* produced);

private:
    enum class Stage { control, header, copy, gather, decode, finished };
    LzmaResult TakeControl(uint8_t control);
    LzmaResult TakeHeader();
    LzmaResult StartLzmaChunk();
    LzmaResult DecodeChunk(size_t outRoom);
    void CopyUncompressed(const uint8_t* in, size_t size);
    size_t Flush(uint8_t* out, size_t outSize);
    void ResetDictionary();
    void ResetState();

    Window window_;
    LzmaState lzma_;
    std::unique_ptr<uint16_t[]> probabilities_;
    std::unique_ptr<uint8_t[]> chunk_;  // one chunk's compressed bytes, and a zeroed tail to read past
    Stage stage_ = Stage::control;
    uint8_t control_ = 0;
    uint8_t header_[5] = {};
    uint32_t headerSize_ = 0, headerHave_ = 0;
    uint32_t unpackedLeft_ = 0;
    uint32_t packedSize_ = 0, packedHave_ = 0;
    bool needDictionaryReset_ = true;
    bool needProperties_ = true;
};

}  // namespace xz
