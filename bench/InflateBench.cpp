// The inflater against zlib's on the same streams, in the same run: each file
// named on the command line (up to a size cap) deflated alone at level 9, as
// a plain package holds it, then decoded by both in turns into 64 KiB pieces,
// every byte checked. One inflater each for all the files, as the reader has.
//   kx_inflate_bench REPS LIST
// LIST names the files, one a line.

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/Inflater.h"
#include "BenchTiming.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kCap = 170000000;  // about the real payload's size
constexpr uint32_t kPiece = 65536;

struct Item {
    Bytes original;
    Bytes stream;
};

Bytes ReadWhole(const char* name) {
    Bytes data;
    std::FILE* f = std::fopen(name, "rb");
    if (f == nullptr) return data;
    unsigned char chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;) data.insert(data.end(), chunk, chunk + got);
    std::fclose(f);
    return data;
}

Bytes Deflate(const Bytes& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    Bytes out(deflateBound(&z, data.size()) + 16);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const bool done = deflate(&z, Z_FINISH) == Z_STREAM_END;
    out.resize(done ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

std::vector<Item> LoadItems(const char* list, size_t* total, size_t* compressed) {
    std::vector<Item> items;
    *total = *compressed = 0;
    std::FILE* names = std::fopen(list, "r");
    if (names == nullptr) return items;
    char name[4096];
    while (*total < kCap && std::fgets(name, sizeof name, names) != nullptr) {
        name[std::strcspn(name, "\r\n")] = 0;
        Item item;
        item.original = ReadWhole(name);
        if (item.original.empty()) continue;
        item.stream = Deflate(item.original);
        *total += item.original.size();
        *compressed += item.stream.size();
        items.push_back(std::move(item));
    }
    std::fclose(names);
    return items;
}

struct Check {
    const Bytes* original;
    size_t at;
    bool same;
};

struct Source {
    const Bytes* stream;
    size_t at;
};

int64_t ReadPiece(void* context, unsigned char* buffer, uint32_t size) {
    Source* s = static_cast<Source*>(context);
    const size_t n = std::min<size_t>({size, kPiece, s->stream->size() - s->at});
    std::memcpy(buffer, s->stream->data() + s->at, n);
    s->at += n;
    return static_cast<int64_t>(n);
}

bool Compare(void* context, const unsigned char* data, uint32_t size) {
    Check* c = static_cast<Check*>(context);
    c->same = c->same && c->at + size <= c->original->size() && std::memcmp(c->original->data() + c->at, data, size) == 0;
    c->at += size;
    return true;
}

Timing DecodeOurs(const std::vector<Item>& items) {
    const Stopwatch watch;
    InflaterPointer inflater = NewInflater();
    bool right = inflater != nullptr;
    for (const Item& item : items) {
        Source source{&item.stream, 0};
        Check check{&item.original, 0, true};
        uint32_t produced = 0;
        const InflateResult result = Inflate(inflater.get(), InflateInput{ReadPiece, &source},
                                             InflateOutput{Compare, &check}, static_cast<uint32_t>(item.original.size()),
                                             &produced);
        right = right && result == InflateResult::Ok && check.same && produced == item.original.size();
    }
    return watch.Stop(right);
}

Timing DecodeZlib(const std::vector<Item>& items) {
    const Stopwatch watch;
    z_stream z{};
    bool right = inflateInit2(&z, -MAX_WBITS) == Z_OK;
    std::vector<unsigned char> piece(kPiece);
    for (const Item& item : items) {
        inflateReset(&z);
        Check check{&item.original, 0, true};
        z.next_in = const_cast<Bytef*>(item.stream.data());
        z.avail_in = 0;
        size_t fed = 0;
        int status = Z_OK;
        while (status == Z_OK) {
            if (z.avail_in == 0) {  // as the reader fed zlib: a piece at a time
                const size_t n = std::min<size_t>(kPiece, item.stream.size() - fed);
                z.next_in = const_cast<Bytef*>(item.stream.data() + fed);
                z.avail_in = static_cast<uInt>(n);
                fed += n;
            }
            z.next_out = piece.data();
            z.avail_out = kPiece;
            status = inflate(&z, Z_SYNC_FLUSH);
            Compare(&check, piece.data(), kPiece - z.avail_out);
        }
        right = right && status == Z_STREAM_END && check.same && check.at == item.original.size();
    }
    inflateEnd(&z);
    return watch.Stop(right);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: kx_inflate_bench REPS LIST\n");
        return 2;
    }
    const int reps = std::max(1, std::atoi(argv[1]));
    size_t total = 0, compressed = 0;
    const std::vector<Item> items = LoadItems(argv[2], &total, &compressed);
    if (items.empty()) {
        std::fprintf(stderr, "kx_inflate_bench: no data in the files %s names\n", argv[2]);
        return 1;
    }
    std::printf("  %zu files, %zu bytes, deflated one by one at level 9 to %zu\n", items.size(), total, compressed);
    std::vector<double> oursWall, oursCpu, zlibWall, zlibCpu;
    for (int i = 0; i < reps; ++i) {
        const Timing ours = DecodeOurs(items);
        const Timing zlib = DecodeZlib(items);
        if (ours.wall < 0 || zlib.wall < 0) {
            std::fprintf(stderr, "kx_inflate_bench: %s gave other bytes than the originals\n", ours.wall < 0 ? "ours" : "zlib");
            return 1;
        }
        oursWall.push_back(ours.wall);
        oursCpu.push_back(ours.cpu);
        zlibWall.push_back(zlib.wall);
        zlibCpu.push_back(zlib.cpu);
        std::printf("  run %d: ours %.3f s (cpu %.3f), zlib %.3f s (cpu %.3f)\n", i + 1, ours.wall, ours.cpu, zlib.wall,
                    zlib.cpu);
    }
    const double ow = Median(oursWall), oc = Median(oursCpu), zw = Median(zlibWall), zc = Median(zlibCpu);
    std::printf("  medians of %d: ours %.3f s = %.0f MB/s (cpu %.3f s), zlib %.3f s = %.0f MB/s (cpu %.3f s); "
                "ours/zlib time %.2f (cpu %.2f)\n",
                reps, ow, total / ow / 1e6, oc, zw, total / zw / 1e6, zc, ow / zw, oc / zc);
    return 0;
}
