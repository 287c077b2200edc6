#include "XzTestSupport.h"

#include <algorithm>
#include <random>

namespace xztest {

Bytes Compress(const Bytes& data, const XzOptions& options) {
    lzma_options_lzma lzma2{};
    if (lzma_lzma_preset(&lzma2, options.preset)) return {};
    if (options.dictionary != 0) lzma2.dict_size = options.dictionary;
    lzma_options_bcj bcj{};
    bcj.start_offset = options.x86Start;
    lzma_filter filters[3];
    int n = 0;
    if (options.x86) filters[n++] = {LZMA_FILTER_X86, options.x86Start != 0 ? &bcj : nullptr};
    filters[n++] = {LZMA_FILTER_LZMA2, &lzma2};
    filters[n] = {LZMA_VLI_UNKNOWN, nullptr};
    lzma_stream s = LZMA_STREAM_INIT;
    lzma_ret ret;
    if (options.blockSize != 0) {
        lzma_mt mt{};
        mt.threads = 1;
        mt.block_size = options.blockSize;
        mt.filters = filters;
        mt.check = options.check;
        ret = lzma_stream_encoder_mt(&s, &mt);
    } else {
        ret = lzma_stream_encoder(&s, filters, options.check);
    }
    if (ret != LZMA_OK) return {};
    // Each block adds its header, padding, check and index record to the
    // bound of one block: room for them when the blocks are small.
    const size_t blocks = options.blockSize != 0 ? data.size() / options.blockSize + 1 : 1;
    Bytes out(lzma_stream_buffer_bound(data.size()) + 4096 + blocks * 128);
    s.next_in = data.data();
    s.avail_in = data.size();
    s.next_out = out.data();
    s.avail_out = out.size();
    ret = lzma_code(&s, LZMA_FINISH);
    out.resize(out.size() - s.avail_out);
    lzma_end(&s);
    if (ret != LZMA_STREAM_END) return {};
    return out;
}

bool ReferenceDecode(const Bytes& stream, Bytes* out, uint64_t memoryLimit) {
    out->clear();
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&s, memoryLimit, LZMA_TELL_UNSUPPORTED_CHECK | LZMA_TELL_NO_CHECK) != LZMA_OK) return false;
    s.next_in = stream.data();
    s.avail_in = stream.size();
    uint8_t piece[65536];
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK || ret == LZMA_NO_CHECK) {
        s.next_out = piece;
        s.avail_out = sizeof piece;
        ret = lzma_code(&s, LZMA_FINISH);
        out->insert(out->end(), piece, piece + (sizeof piece - s.avail_out));
    }
    const bool whole = ret == LZMA_STREAM_END && s.avail_in == 0;
    lzma_end(&s);
    return whole;
}

Decoded DecodeXz(const Bytes& stream, size_t inPiece, size_t outPiece, uint32_t maxDictionary) {
    xz::XzDecoder decoder(maxDictionary);
    return DecodeXz(decoder, stream, inPiece, outPiece);
}

Decoded DecodeXz(xz::XzDecoder& decoder, const Bytes& stream, size_t inPiece, size_t outPiece) {
    Decoded result;
    decoder.Restart();
    std::vector<uint8_t> room(outPiece);
    size_t pos = 0;
    int idle = 0;
    while (true) {
        const size_t give = std::min(inPiece, stream.size() - pos);
        size_t consumed = 0, produced = 0;
        result.status = decoder.Decode(stream.data() + pos, give, &consumed, room.data(), room.size(), &produced);
        pos += consumed;
        result.out.insert(result.out.end(), room.begin(), room.begin() + static_cast<ptrdiff_t>(produced));
        // Whatever follows the stream's end is given too: it must be refused.
        if (result.status == xz::XzStatus::streamEnd && pos < stream.size()) continue;
        if (result.status != xz::XzStatus::needMore) return result;
        // With input and room given, a decoder that takes and gives nothing
        // needs more than there is: the stream is cut short.
        idle = consumed == 0 && produced == 0 ? idle + 1 : 0;
        if (idle > 0 && pos == stream.size()) {
            result.cutShort = true;
            return result;
        }
        if (idle > 1) return result;
    }
}

Bytes MixedData(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"install ", "package ", "folder ", "file ", "the ", "of ", "registry ",
                                         "shortcut ", "\r\n", "0x7f3a, ", "{ return ", "}\n"};
    std::mt19937 random(seed);
    Bytes data;
    data.reserve(size);
    while (data.size() < size) {
        const uint32_t kind = random() % 4;
        if (kind == 0) {
            for (int i = 0; i < 40; ++i) {
                const char* word = kWords[random() % 12];
                data.insert(data.end(), word, word + std::char_traits<char>::length(word));
            }
        } else if (kind == 1) {
            for (int i = 0; i < 300; ++i) data.push_back(static_cast<uint8_t>(random() % 16));
        } else if (kind == 2 && data.size() > 16) {
            // A repeat from near or far back.
            const size_t distance = 1 + random() % std::min<size_t>(data.size(), random() % 2 ? 64 : 1u << 22);
            const size_t length = 2 + random() % 300;
            for (size_t i = 0; i < length; ++i) data.push_back(data[data.size() - distance]);
        } else {
            for (int i = 0; i < 64; ++i) data.push_back(static_cast<uint8_t>(random()));
        }
    }
    data.resize(size);
    return data;
}

Bytes X86LikeData(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes data;
    data.reserve(size + 8);
    while (data.size() < size) {
        const uint32_t kind = random() % 8;
        if (kind < 3) {
            // CALL or JMP rel32 with a target near by, forward or back.
            data.push_back(kind == 0 ? 0xE9 : 0xE8);
            const int32_t target = static_cast<int32_t>(random() % 200000) - 100000;
            for (int i = 0; i < 4; ++i) data.push_back(static_cast<uint8_t>(static_cast<uint32_t>(target) >> (8 * i)));
        } else if (kind < 5) {
            static const uint8_t kCode[] = {0x55, 0x8B, 0xEC, 0x83, 0xEC, 0x10, 0x89, 0x45, 0xFC, 0x8B, 0x45, 0x08, 0xC3};
            data.insert(data.end(), kCode, kCode + sizeof kCode);
        } else {
            data.push_back(static_cast<uint8_t>(random()));
            if (kind == 7) data.push_back(0xE8);  // an opcode byte right before another
        }
    }
    data.resize(size);
    return data;
}

Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes data(size);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    return data;
}

}  // namespace xztest
