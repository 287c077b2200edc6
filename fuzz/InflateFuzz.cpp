// The inflater against the host's zlib. The first byte chooses: odd, the
// rest is any bytes as a raw deflate stream, and our verdict and output must
// be zlib's; even, the rest is contents that zlib compresses (level and
// strategy from that byte) and our decoder must give them back whole.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/Inflater.h"

namespace {

constexpr uint32_t kMaxOutput = 4u << 20;  // bombs beyond this prove nothing

struct Source {
    const uint8_t* data;
    size_t size;
    size_t at;
    uint32_t piece;
};

int64_t Read(void* context, unsigned char* buffer, uint32_t size) {
    Source* s = static_cast<Source*>(context);
    const size_t n = std::min<size_t>({size, s->piece, s->size - s->at});
    std::memcpy(buffer, s->data + s->at, n);
    s->at += n;
    return static_cast<int64_t>(n);
}

bool Keep(void* context, const unsigned char* data, uint32_t size) {
    static_cast<std::vector<uint8_t>*>(context)->insert(static_cast<std::vector<uint8_t>*>(context)->end(), data,
                                                       data + size);
    return true;
}

// Our output, and whether the stream ended within kMaxOutput.
bool Ours(const uint8_t* data, size_t size, std::vector<uint8_t>* out, InflateResult* result) {
    static InflaterPointer inflater = NewInflater();
    Source source{data, size, 0, static_cast<uint32_t>(1 + size % 997)};
    uint32_t produced = 0;
    *result = Inflate(inflater.get(), InflateInput{Read, &source}, InflateOutput{Keep, out}, kMaxOutput, &produced);
    if (*result == InflateResult::Ok && produced != out->size()) std::abort();
    return *result == InflateResult::Ok && produced < kMaxOutput;
}

// zlib's: true when the stream ends within kMaxOutput; false when damaged or cut.
bool Zlib(const uint8_t* data, size_t size, std::vector<uint8_t>* out, bool* capped) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) std::abort();
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    std::vector<uint8_t> piece(65536);
    int status = Z_OK;
    while (status == Z_OK && out->size() < kMaxOutput) {
        z.next_out = piece.data();
        z.avail_out = static_cast<uInt>(piece.size());
        status = inflate(&z, Z_NO_FLUSH);
        out->insert(out->end(), piece.begin(), piece.end() - z.avail_out);
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    *capped = status == Z_OK && out->size() >= kMaxOutput;
    inflateEnd(&z);
    return status == Z_STREAM_END && out->size() < kMaxOutput;
}

std::vector<uint8_t> Compress(const uint8_t* data, size_t size, uint8_t choice) {
    const int level = (choice >> 1) % 10;
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    const int strategy = strategies[(choice >> 5) % 5];
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, strategy) != Z_OK) std::abort();
    std::vector<uint8_t> out(deflateBound(&z, size) + 16);
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t choice = data[0];
    ++data;
    --size;
    std::vector<uint8_t> ours;
    InflateResult result = InflateResult::Ok;
    if ((choice & 1) == 0) {
        const std::vector<uint8_t> stream = Compress(data, size, choice);
        if (!Ours(stream.data(), stream.size(), &ours, &result)) std::abort();
        if (ours.size() != size || (size > 0 && std::memcmp(ours.data(), data, size) != 0)) std::abort();
        return 0;
    }
    const bool oursEnded = Ours(data, size, &ours, &result);
    std::vector<uint8_t> reference;
    bool capped = false;
    const bool zlibEnded = Zlib(data, size, &reference, &capped);
    if (capped || (result == InflateResult::Ok && !oursEnded)) return 0;  // a bomb: past what is compared
    if (oursEnded != zlibEnded) std::abort();
    if (oursEnded && ours != reference) std::abort();
    if (!oursEnded && result != InflateResult::Damaged) std::abort();
    return 0;
}
