// The fuzz input chooses contents and one of the packer's options (preset,
// dictionary size, x86 filter or not, check, one block or many); liblzma
// compresses, and our decoder must give the contents back exactly, in
// pieces of sizes the input also chooses.
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <map>
#include <utility>
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

// liblzma's stream of contents. The single-threaded encoders are kept from
// run to run, one for each dictionary size and match finder: liblzma reuses
// its tables while those stay the same, where a fresh encoder maps and
// clears megabytes each run. flushEvery > 0 ends a block every so many
// bytes (blocks without sizes in their headers, as the packer's one is).
// (liblzma 5.4's multi-threaded encoder, whose blocks carry their sizes,
// overruns its buffer when reused with another block size: that one is
// made afresh.)
Bytes CompressReusing(const Bytes& contents, const xztest::XzOptions& options, size_t flushEvery) {
    if (options.blockSize != 0) return xztest::Compress(contents, options);
    // Never destroyed: they live as long as the process.
    static auto& encoders = *new std::map<std::pair<uint32_t, int>, lzma_stream>;
    lzma_options_lzma lzma2{};
    if (lzma_lzma_preset(&lzma2, options.preset)) return {};
    lzma2.dict_size = options.dictionary;
    lzma_options_bcj bcj{};
    bcj.start_offset = options.x86Start;
    lzma_filter filters[3];
    int n = 0;
    if (options.x86) filters[n++] = {LZMA_FILTER_X86, options.x86Start != 0 ? &bcj : nullptr};
    filters[n++] = {LZMA_FILTER_LZMA2, &lzma2};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    const auto key = std::make_pair(options.dictionary, static_cast<int>(lzma2.mf));
    auto found = encoders.find(key);
    if (found == encoders.end()) found = encoders.emplace(key, lzma_stream(LZMA_STREAM_INIT)).first;
    lzma_stream& s = found->second;
    lzma_ret ret = lzma_stream_encoder(&s, filters, options.check);
    if (ret != LZMA_OK) return {};
    Bytes out(lzma_stream_buffer_bound(contents.size()) + 4096 + (flushEvery ? 96 * (contents.size() / flushEvery) : 0));
    s.next_out = out.data();
    s.avail_out = out.size();
    size_t at = 0;
    do {
        const size_t piece = flushEvery ? std::min(flushEvery, contents.size() - at) : contents.size() - at;
        s.next_in = contents.data() + at;
        s.avail_in = piece;
        at += piece;
        const bool last = at == contents.size();
        ret = lzma_code(&s, last ? LZMA_FINISH : LZMA_FULL_FLUSH);
        if (ret != LZMA_STREAM_END || s.avail_in != 0) return {};  // a flush done also ends so
    } while (at < contents.size());
    out.resize(out.size() - s.avail_out);
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
    // The largest dictionaries cost the encoder most: 64 MiB one run in 64,
    // 8 MiB one in 32.
    const uint32_t d = (data[1] & 0x0F) << 2 | (data[3] & 3);
    options.dictionary = kDictionaries[d == 0 ? 5 : (d < 3 ? 4 : d % 4)];
    options.x86 = (data[1] & 0x10) != 0;
    options.x86Start = (data[1] & 0x20) != 0 ? uint32_t(data[2]) << 4 : 0;
    options.check = kChecks[(data[1] >> 6) & 3];
    // Many blocks: one run in eight ends them by flushes, one in 64 has the
    // threaded encoder write their sizes too.
    const bool manyBlocks = (data[2] & 7) == 1;
    options.blockSize = manyBlocks && (data[3] & 0x38) == 0 ? 100 + data[3] * 61u : 0;
    const size_t flushEvery = manyBlocks ? 100 + data[3] * 61u : 0;
    const Bytes contents = Contents(data + 4, size - 4);
    const Bytes stream = CompressReusing(contents, options, flushEvery);
    if (stream.empty()) std::abort();  // liblzma refused options the packer may use
    const size_t inPiece = 1 + data[3] % 97 * (data[2] >> 1);
    const size_t outPiece = 1 + data[2] * 131u;
    const xztest::Decoded decoded = xztest::DecodeXz(stream, inPiece, outPiece);
    if (decoded.status != xz::XzStatus::streamEnd || decoded.out != contents) std::abort();
    return 0;
}
