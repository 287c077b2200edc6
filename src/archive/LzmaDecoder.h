#pragma once
// LZMA2 decoding: the chunk layer, the LZMA symbol decoder and its range
// decoder, and the dictionary as a circular window the data is decoded into
// and copied out of. Push style: it takes what input and output room each
// call gives, keeps its place, and never needs more memory than the window
// and one chunk's compressed bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace xz {

enum class LzmaResult { ok, end, damaged };  // ok: call again with more input or more output room

// Bytes decoded since the last dictionary reset, of which the last `full` are
// within reach of a match.
struct FreeMemory {
    void operator()(uint8_t* p) const { std::free(p); }
};
struct Window {
    // From malloc, which says when it has no memory: the nothrow new of the
    // C++ library would bring its whole exception runtime into the stub.
    std::unique_ptr<uint8_t[], FreeMemory> buffer;
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

// Bytes one symbol may read at most (one per decoded bit), and then some:
// the chunk buffer's zeroed tail, so that a damaged chunk is caught after
// the symbol that ran past its end rather than inside it.
constexpr uint32_t kReadPastEnd = 64;

// The probabilities LZMA needs with lc literal and lp position bits.
uint32_t LzmaProbabilityCount(uint32_t lc, uint32_t lp);

// Decodes symbols into the window until its position reaches limit (the
// window's data before it all copied out). Damaged when the chunk's bytes,
// which end at inEnd, run out first or a symbol is invalid.
LzmaResult DecodeSymbols(LzmaState& s, uint16_t* probabilities, Window& w, uint32_t limit, const uint8_t* inEnd);

class Lzma2Decoder {
public:
    Lzma2Decoder();
    // Starts a block with a window of windowSize bytes (its dictionary size,
    // or less when the block is known to be smaller): no match may reach
    // further back. The window's memory is kept for later blocks. False when
    // it cannot be allocated.
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
