#include "archive/LzmaDecoder.h"

#include <algorithm>
#include <cstring>

namespace xz {
namespace {

constexpr uint32_t kMaxChunkPacked = 1u << 16;
constexpr uint16_t kProbabilityStart = 1u << 10;

}  // namespace

Lzma2Decoder::Lzma2Decoder()
    : probabilities_(new uint16_t[LzmaProbabilityCount(4, 0)]), chunk_(new uint8_t[kMaxChunkPacked + kReadPastEnd]) {}

bool Lzma2Decoder::StartBlock(uint32_t windowSize) {
    if (window_.capacity < windowSize) {
        window_.buffer.reset();
        window_.capacity = 0;
        window_.buffer.reset(static_cast<uint8_t*>(std::malloc(windowSize)));
        if (!window_.buffer) return false;
        window_.capacity = windowSize;
    }
    window_.size = windowSize;
    ResetDictionary();
    stage_ = Stage::control;
    needDictionaryReset_ = true;
    needProperties_ = true;
    return true;
}

void Lzma2Decoder::ResetDictionary() {
    window_.pos = 0;
    window_.full = 0;
    window_.flushed = 0;
    lzma_.processed = 0;
}

void Lzma2Decoder::ResetState() {
    const uint32_t count = LzmaProbabilityCount(lzma_.lc, lzma_.lp);
    std::fill(probabilities_.get(), probabilities_.get() + count, kProbabilityStart);
    lzma_.state = 0;
    lzma_.rep[0] = lzma_.rep[1] = lzma_.rep[2] = lzma_.rep[3] = 0;
    lzma_.pendingLength = 0;
}

// The control byte starts a chunk: 0 ends the data, 1 and 2 are stored
// chunks (1 with a dictionary reset), 0x80 and above LZMA chunks, bits 5-6
// saying what they reset (nothing, the state, also the properties, also the
// dictionary).
LzmaResult Lzma2Decoder::TakeControl(uint8_t control) {
    if (control == 0x00) {
        stage_ = Stage::finished;
        return LzmaResult::end;
    }
    if (control >= 0xE0 || control == 0x01) {
        ResetDictionary();
        needDictionaryReset_ = false;
        needProperties_ = true;  // a fresh dictionary starts from a fresh state
    } else if (needDictionaryReset_ || (control > 0x02 && control < 0x80)) {
        return LzmaResult::damaged;
    }
    if (control >= 0x80 && control < 0xC0 && needProperties_) return LzmaResult::damaged;
    control_ = control;
    headerSize_ = control < 0x80 ? 2 : (control >= 0xC0 ? 5 : 4);
    headerHave_ = 0;
    stage_ = Stage::header;
    return LzmaResult::ok;
}

LzmaResult Lzma2Decoder::TakeHeader() {
    unpackedLeft_ = (uint32_t(header_[0]) << 8 | header_[1]) + 1;
    if (control_ < 0x80) {
        stage_ = Stage::copy;
        return LzmaResult::ok;
    }
    unpackedLeft_ += uint32_t(control_ & 0x1F) << 16;
    packedSize_ = (uint32_t(header_[2]) << 8 | header_[3]) + 1;
    packedHave_ = 0;
    if (control_ >= 0xC0) {
        uint32_t properties = header_[4];
        if (properties >= 9 * 5 * 5) return LzmaResult::damaged;
        lzma_.lc = properties % 9;
        properties /= 9;
        lzma_.lp = properties % 5;
        lzma_.pb = properties / 5;
        if (lzma_.lc + lzma_.lp > 4) return LzmaResult::damaged;
        needProperties_ = false;
    }
    if (control_ >= 0xA0) ResetState();
    // The range decoder starts with a zero byte and four bytes of code.
    if (packedSize_ < 5) return LzmaResult::damaged;
    stage_ = Stage::gather;
    return LzmaResult::ok;
}

LzmaResult Lzma2Decoder::StartLzmaChunk() {
    const uint8_t* in = chunk_.get();
    std::memset(chunk_.get() + packedSize_, 0, kReadPastEnd);
    if (in[0] != 0) return LzmaResult::damaged;
    lzma_.code = uint32_t(in[1]) << 24 | uint32_t(in[2]) << 16 | uint32_t(in[3]) << 8 | in[4];
    lzma_.range = 0xFFFFFFFFu;
    lzma_.in = in + 5;
    if (lzma_.code == lzma_.range) return LzmaResult::damaged;
    stage_ = Stage::decode;
    return LzmaResult::ok;
}

// Decodes as much of the chunk as the window and the output room take. A
// chunk ends exactly where its sizes say: on a symbol boundary, with every
// compressed byte used and the range decoder's code at zero.
LzmaResult Lzma2Decoder::DecodeChunk(size_t outRoom) {
    if (window_.pos == window_.size) window_.pos = window_.flushed = 0;
    uint32_t limit = window_.size;
    if (limit - window_.pos > outRoom) limit = window_.pos + static_cast<uint32_t>(outRoom);
    if (limit - window_.pos > unpackedLeft_) limit = window_.pos + unpackedLeft_;
    const uint32_t before = window_.pos;
    const uint8_t* inEnd = chunk_.get() + packedSize_;
    if (DecodeSymbols(lzma_, probabilities_.get(), window_, limit, inEnd) != LzmaResult::ok) return LzmaResult::damaged;
    unpackedLeft_ -= window_.pos - before;
    if (unpackedLeft_ > 0) return LzmaResult::ok;
    if (lzma_.pendingLength > 0 || lzma_.in != inEnd || lzma_.code != 0) return LzmaResult::damaged;
    stage_ = Stage::control;
    return LzmaResult::ok;
}

void Lzma2Decoder::CopyUncompressed(const uint8_t* in, size_t size) {
    std::memcpy(window_.buffer.get() + window_.pos, in, size);
    const uint32_t n = static_cast<uint32_t>(size);
    window_.pos += n;
    window_.full = std::min(window_.size, window_.full + n);
    lzma_.processed += n;
    unpackedLeft_ -= n;
    if (unpackedLeft_ == 0) stage_ = Stage::control;
}

size_t Lzma2Decoder::Flush(uint8_t* out, size_t outSize) {
    const size_t n = std::min<size_t>(outSize, window_.pos - window_.flushed);
    std::memcpy(out, window_.buffer.get() + window_.flushed, n);
    window_.flushed += static_cast<uint32_t>(n);
    return n;
}

LzmaResult Lzma2Decoder::Decode(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                                size_t* produced) {
    size_t inPos = 0, outPos = 0;
    LzmaResult result = LzmaResult::ok;
    while (result == LzmaResult::ok) {
        outPos += Flush(out + outPos, outSize - outPos);
        if (window_.flushed != window_.pos) break;
        const size_t inLeft = inSize - inPos;
        if (stage_ == Stage::control) {
            if (inLeft == 0) break;
            result = TakeControl(in[inPos++]);
        } else if (stage_ == Stage::header) {
            if (inLeft == 0) break;
            header_[headerHave_++] = in[inPos++];
            if (headerHave_ == headerSize_) result = TakeHeader();
        } else if (stage_ == Stage::copy) {
            if (window_.pos == window_.size) window_.pos = window_.flushed = 0;
            const size_t n = std::min({inLeft, size_t(unpackedLeft_), size_t(window_.size - window_.pos), outSize - outPos});
            if (n == 0) break;
            CopyUncompressed(in + inPos, n);
            inPos += n;
        } else if (stage_ == Stage::gather) {
            const size_t n = std::min(inLeft, size_t(packedSize_ - packedHave_));
            if (n == 0) break;
            std::memcpy(chunk_.get() + packedHave_, in + inPos, n);
            packedHave_ += static_cast<uint32_t>(n);
            inPos += n;
            if (packedHave_ == packedSize_) result = StartLzmaChunk();
        } else if (stage_ == Stage::decode) {
            if (outPos == outSize) break;
            result = DecodeChunk(outSize - outPos);
        } else {
            result = LzmaResult::end;
        }
    }
    *consumed = inPos;
    *produced = outPos;
    return result;
}

}  // namespace xz
