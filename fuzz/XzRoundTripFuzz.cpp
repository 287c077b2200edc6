// The fuzz input chooses contents and one of the packer's options (preset,
// dictionary size, x86 filter or not, check, one block or many); liblzma
// compresses, and our decoder must give the contents back exactly, in
// pieces of sizes the input also chooses.
#include <cstdint>
#include <algorithm>
#include <iterator>
#include <cstdlib>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "XzTestSupport.h"

namespace {

using xztest::Bytes;

// The contents: the input's bytes, with copies of earlier stretches mixed
// in so that matches near and far occur; at most about 4 MiB.
Bytes Contents(const uint8_t* data, size_t size) {
    const size_t kMaxContents = 4u << 20;
    Bytes out;
    for (size_t i = 0; i < size && out.size() < kMaxContents; ++i) {
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

// The encoders are kept from run to run, one for each dictionary size,
// match finder and filter chain: liblzma reuses its tables while those stay
// the same, where a fresh encoder maps and clears megabytes each run. Never
// destroyed: they live as long as the process.
using KeptEncoders = std::map<std::tuple<uint32_t, int, bool>, lzma_stream>;

// The packer's filters for options (LZMA2 at their preset and dictionary,
// after the x86 filter when asked) and the kept encoder for them. Made in
// place: the chain points into the options beside it.
struct PackerEncoder {
    lzma_options_lzma lzma2{};
    lzma_options_bcj bcj{};
    lzma_filter filters[3]{};
    lzma_stream* stream = nullptr;

    PackerEncoder(const PackerEncoder&) = delete;
    PackerEncoder(KeptEncoders& encoders, const xztest::XzOptions& options) {
        if (lzma_lzma_preset(&lzma2, options.preset)) return;  // no such preset: stream stays null
        lzma2.dict_size = options.dictionary;
        bcj.start_offset = options.x86Start;
        int n = 0;
        if (options.x86) filters[n++] = {LZMA_FILTER_X86, options.x86Start != 0 ? &bcj : nullptr};
        filters[n++] = {LZMA_FILTER_LZMA2, &lzma2};
        filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
        const auto key = std::make_tuple(lzma2.dict_size, static_cast<int>(lzma2.mf), options.x86);
        auto found = encoders.find(key);
        if (found == encoders.end()) found = encoders.emplace(key, lzma_stream(LZMA_STREAM_INIT)).first;
        stream = &found->second;
    }
};

// liblzma's stream of contents, in one block or, with flushEvery > 0, a
// block every so many bytes; either way without sizes in the block headers,
// as the packer writes them.
Bytes CompressStream(const Bytes& contents, const xztest::XzOptions& options, size_t flushEvery) {
    static auto& encoders = *new KeptEncoders;
    PackerEncoder encoder(encoders, options);
    if (!encoder.stream) return {};
    lzma_stream& s = *encoder.stream;
    lzma_ret ret = lzma_stream_encoder(&s, encoder.filters, options.check);
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

// A stream of blocks whose headers carry their sizes, as a multi-threaded
// encoder writes them, built a block at a time with a kept block encoder
// (liblzma's threaded one starts threads and fresh tables every run).
Bytes CompressSizedBlocks(const Bytes& contents, const xztest::XzOptions& options, size_t blockSize) {
    static auto& encoders = *new KeptEncoders;
    PackerEncoder encoder(encoders, options);
    if (!encoder.stream) return {};
    lzma_stream& s = *encoder.stream;
    lzma_stream_flags flags{};
    flags.check = options.check;
    Bytes out(LZMA_STREAM_HEADER_SIZE);
    if (lzma_stream_header_encode(&flags, out.data()) != LZMA_OK) return {};
    std::unique_ptr<lzma_index, void (*)(lzma_index*)> index(lzma_index_init(nullptr),
                                                             [](lzma_index* i) { lzma_index_end(i, nullptr); });
    if (!index) return {};
    Bytes data;
    for (size_t at = 0; at < contents.size();) {
        const size_t piece = std::min(blockSize, contents.size() - at);
        lzma_block block{};
        block.check = options.check;
        block.filters = encoder.filters;
        block.compressed_size = block.uncompressed_size = LZMA_VLI_UNKNOWN;
        if (lzma_block_header_size(&block) != LZMA_OK || lzma_block_encoder(&s, &block) != LZMA_OK) return {};
        data.resize(lzma_block_buffer_bound(piece));
        s.next_in = contents.data() + at;
        s.avail_in = piece;
        s.next_out = data.data();
        s.avail_out = data.size();
        if (lzma_code(&s, LZMA_FINISH) != LZMA_STREAM_END) return {};
        at += piece;
        // The sizes are known now: the header that carries them.
        uint8_t header[LZMA_BLOCK_HEADER_SIZE_MAX];
        if (lzma_block_header_size(&block) != LZMA_OK || lzma_block_header_encode(&block, header) != LZMA_OK) return {};
        out.insert(out.end(), header, header + block.header_size);
        out.insert(out.end(), data.begin(), data.end() - static_cast<ptrdiff_t>(s.avail_out));
        if (lzma_index_append(index.get(), nullptr, lzma_block_unpadded_size(&block), block.uncompressed_size) != LZMA_OK)
            return {};
    }
    size_t at = out.size();
    out.resize(at + lzma_index_size(index.get()) + LZMA_STREAM_HEADER_SIZE);
    if (lzma_index_buffer_encode(index.get(), out.data(), &at, out.size()) != LZMA_OK) return {};
    flags.backward_size = lzma_index_size(index.get());
    if (lzma_stream_footer_encode(&flags, out.data() + at) != LZMA_OK) return {};
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
    const Bytes contents = Contents(data + 4, size - 4);
    // Many blocks one run in eight: ended by flushes, or one run in 64 with
    // their sizes in their headers. At most 8 of them, as each one starts
    // the encoder's tables afresh; and each starts a fresh dictionary, so
    // the smallest size that holds a block stands for the larger ones (they
    // would change nothing in it but the size its header declares).
    const bool manyBlocks = (data[2] & 7) == 1;
    Bytes stream;
    if (manyBlocks) {
        const size_t blockSize = std::max<size_t>(100 + data[3] * 61u, contents.size() / 8 + 1);
        size_t k = 0;
        while (k + 1 < std::size(kDictionaries) && kDictionaries[k] < blockSize) ++k;
        options.dictionary = std::min(options.dictionary, kDictionaries[k]);
        stream = (data[3] & 0x38) == 0 ? CompressSizedBlocks(contents, options, blockSize)
                                       : CompressStream(contents, options, blockSize);
    } else {
        stream = CompressStream(contents, options, 0);
    }
    if (stream.empty()) std::abort();  // liblzma refused options the packer may use
    // Pieces from one byte up, but at most about 1,024 of each per run: the
    // calls, more than the bytes, cost the time under the sanitizers.
    const size_t inPiece = std::max<size_t>(1 + data[3] % 97 * (data[2] >> 1), stream.size() / 1024);
    const size_t outPiece = std::max<size_t>(1 + data[2] * 131u, contents.size() / 1024);
    // One decoder for every run, restarted each time: a fresh one would map
    // and poison its window afresh under the sanitizer.
    static auto& decoder = *new xz::XzDecoder(xz::kMaxSolidDictionary);
    const xztest::Decoded decoded = xztest::DecodeXz(decoder, stream, inPiece, outPiece);
    if (decoded.status != xz::XzStatus::streamEnd || decoded.out != contents) std::abort();
    return 0;
}
