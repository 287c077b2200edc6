// Any bytes as an .xz stream. Besides the sanitizers' checks, a differential
// check against the host's liblzma: whatever liblzma decodes in full as one
// stream with its checks verified, our decoder must decode to the same bytes
// and end well.
#include <lzma.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/XzDecoder.h"

namespace {

// Small enough to keep runs quick; bombs that expand beyond it prove nothing.
constexpr uint32_t kMaxDictionary = 1u << 20;
constexpr size_t kMaxOutput = 8u << 20;

struct Result {
    bool whole = false;  // decoded to the end
    bool tooLarge = false;
    bool capped = false;  // stopped at kMaxOutput
    std::vector<uint8_t> out;
};

// In and out pieces of sizes chosen from the input's length, so that the
// same stream is also cut at other places by mutations that change it.
Result DecodeOurs(const uint8_t* data, size_t size) {
    Result r;
    xz::XzDecoder decoder(kMaxDictionary);
    const size_t inPiece = 1 + (size * 2654435761u >> 7) % 5000;
    const size_t outPiece = 1 + (size * 40503u >> 3) % 70000;
    std::vector<uint8_t> piece(outPiece);
    size_t pos = 0;
    while (r.out.size() <= kMaxOutput) {
        size_t consumed = 0, produced = 0;
        const size_t give = std::min(inPiece, size - pos);
        const xz::XzStatus status = decoder.Decode(data + pos, give, &consumed, piece.data(), piece.size(), &produced);
        if (consumed > give || produced > piece.size()) std::abort();
        pos += consumed;
        r.out.insert(r.out.end(), piece.begin(), piece.begin() + static_cast<ptrdiff_t>(produced));
        if (status == xz::XzStatus::streamEnd && pos == size) {
            r.whole = true;
            return r;
        }
        if (status == xz::XzStatus::tooLarge) r.tooLarge = true;
        if (status != xz::XzStatus::needMore && status != xz::XzStatus::streamEnd) return r;
        if (consumed == 0 && produced == 0 && pos == size) return r;
    }
    r.capped = true;
    return r;
}

Result DecodeLiblzma(const uint8_t* data, size_t size) {
    Result r;
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&s, UINT64_MAX, LZMA_TELL_UNSUPPORTED_CHECK) != LZMA_OK) return r;
    s.next_in = data;
    s.avail_in = size;
    uint8_t piece[65536];
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK && r.out.size() <= kMaxOutput) {
        s.next_out = piece;
        s.avail_out = sizeof piece;
        ret = lzma_code(&s, LZMA_FINISH);
        r.out.insert(r.out.end(), piece, piece + (sizeof piece - s.avail_out));
    }
    r.capped = ret == LZMA_OK;
    r.whole = ret == LZMA_STREAM_END && s.avail_in == 0;
    lzma_end(&s);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Result ours = DecodeOurs(data, size);
    if (ours.tooLarge || ours.capped) return 0;
    const Result reference = DecodeLiblzma(data, size);
    if (reference.capped || !reference.whole) return 0;
    if (!ours.whole || ours.out != reference.out) std::abort();
    return 0;
}
