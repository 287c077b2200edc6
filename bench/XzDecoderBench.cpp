// The .xz decoder against the host's liblzma on the same stream, in the same
// run: the files named on the command line (up to a size cap) are joined,
// compressed by liblzma as the packer does, then decoded by both in turns,
// each into a 1 MiB output piece, and every byte checked against the input.
//   kx_xz_bench REPS PRESET(0-9, e for extreme) X86(0/1) LIST
// LIST names the files, one a line.

#include <lzma.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/XzDecoder.h"
#include "archive/XzFile.h"
#include "BenchTiming.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
constexpr size_t kCap = 170000000;  // about the real payload's size
constexpr size_t kPiece = 1u << 20;

Bytes JoinFiles(const char* list) {
    Bytes data;
    std::FILE* names = std::fopen(list, "r");
    if (names == nullptr) return data;
    char name[4096];
    while (data.size() < kCap && std::fgets(name, sizeof name, names) != nullptr) {
        name[std::strcspn(name, "\n")] = 0;
        std::FILE* f = std::fopen(name, "rb");
        if (f == nullptr) continue;
        uint8_t chunk[65536];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;) data.insert(data.end(), chunk, chunk + got);
        std::fclose(f);
    }
    std::fclose(names);
    if (data.size() > kCap) data.resize(kCap);
    return data;
}

Bytes Compress(const Bytes& data, uint32_t preset, bool x86) {
    lzma_options_lzma lzma2{};
    lzma_lzma_preset(&lzma2, preset);
    lzma2.dict_size = std::min<uint32_t>(lzma2.dict_size, xz::kMaxSolidDictionary);
    lzma_filter filters[3] = {{LZMA_FILTER_X86, nullptr}, {LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes out(lzma_stream_buffer_bound(data.size()));
    size_t outPos = 0;
    if (lzma_stream_buffer_encode(x86 ? filters : filters + 1, LZMA_CHECK_CRC64, nullptr, data.data(), data.size(),
                                  out.data(), &outPos, out.size()) != LZMA_OK)
        return {};
    out.resize(outPos);
    return out;
}

Timing DecodeOurs(const Bytes& stream, const Bytes& original) {
    const Stopwatch watch;
    xz::XzDecoder decoder(xz::kMaxSolidDictionary);
    std::vector<uint8_t> piece(kPiece);
    size_t in = 0, out = 0;
    while (true) {
        size_t consumed = 0, produced = 0;
        const xz::XzStatus status =
            decoder.Decode(stream.data() + in, stream.size() - in, &consumed, piece.data(), piece.size(), &produced);
        in += consumed;
        if (out + produced > original.size() || std::memcmp(piece.data(), original.data() + out, produced) != 0) return {};
        out += produced;
        if (status == xz::XzStatus::streamEnd) break;
        if (status != xz::XzStatus::needMore || (consumed == 0 && produced == 0)) return {};
    }
    return watch.Stop(out == original.size());
}

Timing DecodeLiblzma(const Bytes& stream, const Bytes& original) {
    const Stopwatch watch;
    lzma_stream s = LZMA_STREAM_INIT;
    if (lzma_stream_decoder(&s, UINT64_MAX, 0) != LZMA_OK) return {};
    std::vector<uint8_t> piece(kPiece);
    s.next_in = stream.data();
    s.avail_in = stream.size();
    size_t out = 0;
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
        s.next_out = piece.data();
        s.avail_out = piece.size();
        ret = lzma_code(&s, LZMA_FINISH);
        const size_t produced = piece.size() - s.avail_out;
        if (out + produced > original.size() || std::memcmp(piece.data(), original.data() + out, produced) != 0) ret = LZMA_DATA_ERROR;
        out += produced;
    }
    lzma_end(&s);
    return watch.Stop(ret == LZMA_STREAM_END && out == original.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: kx_xz_bench REPS PRESET X86 LIST\n");
        return 2;
    }
    const int reps = std::max(1, std::atoi(argv[1]));
    const std::string presetText = argv[2];
    uint32_t preset = static_cast<uint32_t>(std::atoi(presetText.c_str()));
    if (presetText.find('e') != std::string::npos) preset |= LZMA_PRESET_EXTREME;
    const bool x86 = std::atoi(argv[3]) != 0;
    const Bytes data = JoinFiles(argv[4]);
    if (data.empty()) {
        std::fprintf(stderr, "kx_xz_bench: no data in the files %s names\n", argv[4]);
        return 1;
    }
    const auto began = Clock::now();
    const Bytes stream = Compress(data, preset, x86);
    if (stream.empty()) {
        std::fprintf(stderr, "kx_xz_bench: liblzma could not compress the data\n");
        return 1;
    }
    std::printf("  %zu bytes of input, %zu compressed (xz preset %s%s, CRC64), compressed in %.1f s\n", data.size(),
                stream.size(), presetText.c_str(), x86 ? ", x86 filter" : "",
                std::chrono::duration<double>(Clock::now() - began).count());
    std::vector<double> oursWall, oursCpu, theirsWall, theirsCpu;
    for (int i = 0; i < reps; ++i) {
        const Timing ours = DecodeOurs(stream, data);
        const Timing theirs = DecodeLiblzma(stream, data);
        if (ours.wall < 0 || theirs.wall < 0) {
            std::fprintf(stderr, "kx_xz_bench: a decoder did not give the input back (ours %s, liblzma %s)\n",
                         ours.wall < 0 ? "wrong" : "right", theirs.wall < 0 ? "wrong" : "right");
            return 1;
        }
        oursWall.push_back(ours.wall);
        oursCpu.push_back(ours.cpu);
        theirsWall.push_back(theirs.wall);
        theirsCpu.push_back(theirs.cpu);
    }
    const double mb = data.size() / 1e6;
    const double a = Median(oursWall), b = Median(theirsWall), ac = Median(oursCpu), bc = Median(theirsCpu);
    std::printf("  %-10s %8.0f ms wall %6.1f MB/s, %8.0f ms processor %6.1f MB/s\n", "ours", a * 1000, mb / a, ac * 1000, mb / ac);
    std::printf("  %-10s %8.0f ms wall %6.1f MB/s, %8.0f ms processor %6.1f MB/s   (liblzma %s)\n", "liblzma", b * 1000,
                mb / b, bc * 1000, mb / bc, lzma_version_string());
    std::printf("  ours against liblzma: %.2f wall, %.2f processor (medians of %d alternating runs)\n", a / b, ac / bc, reps);
    return 0;
}
