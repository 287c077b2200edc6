// The inflater against zlib, in every build: zlib writes the streams, and
// zlib's own inflate is the judge of what a damaged one should give.

#include <algorithm>
#include <cstring>
#include <random>

#include "TestSupport.h"
#include "archive/Inflater.h"

namespace {

// Hands out the stream `piece` bytes at a time, or fails when told.
struct PieceSource {
    const Bytes* data;
    size_t at = 0;
    uint32_t piece = 65536;
    bool failAfterFirst = false;
    int reads = 0;
};

int64_t ReadPiece(void* context, unsigned char* buffer, uint32_t size) {
    PieceSource* s = static_cast<PieceSource*>(context);
    if (s->failAfterFirst && s->reads++ > 0) return -1;
    const size_t n = std::min<size_t>({size, s->piece, s->data->size() - s->at});
    if (n > 0) std::memcpy(buffer, s->data->data() + s->at, n);
    s->at += n;
    return static_cast<int64_t>(n);
}

struct Collected {
    Bytes bytes;
    bool refuse = false;
};

bool Collect(void* context, const unsigned char* data, uint32_t size) {
    Collected* c = static_cast<Collected*>(context);
    if (c->refuse) return false;
    c->bytes.insert(c->bytes.end(), data, data + size);
    return true;
}

struct Outcome {
    InflateResult result;
    Bytes output;
};

Outcome Ours(const Bytes& stream, uint32_t outputSize = 1u << 24, uint32_t piece = 65536) {
    static InflaterPointer inflater = NewInflater();  // reused, as the reader reuses it
    PieceSource source{&stream};
    source.piece = piece;
    Collected collected;
    uint32_t produced = 0;
    const InflateResult result =
        Inflate(inflater.get(), InflateInput{ReadPiece, &source}, InflateOutput{Collect, &collected}, outputSize, &produced);
    if (result == InflateResult::Ok) {
        EXPECT_EQ(produced, collected.bytes.size());
    }
    return {result, collected.bytes};
}

// zlib's verdict: the output when the stream ends properly, else nothing.
bool Reference(const Bytes& stream, Bytes* output) {
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
    output->clear();
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    unsigned char buffer[16384];
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        output->insert(output->end(), buffer, buffer + (sizeof buffer - z.avail_out));
        if (status == Z_BUF_ERROR && z.avail_in == 0) break;  // the data ended first
    }
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

Bytes Deflate(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY, size_t flushEvery = 0) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 9, strategy), Z_OK);
    Bytes out(deflateBound(&z, data.size()) + 64 + (flushEvery ? 16 * (data.size() / flushEvery + 1) : 0));
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    size_t at = 0;
    do {
        const size_t n = flushEvery ? std::min(flushEvery, data.size() - at) : data.size() - at;
        z.next_in = const_cast<Bytef*>(data.data() + at);
        z.avail_in = static_cast<uInt>(n);
        at += n;
        const int flush = at == data.size() ? Z_FINISH : (at / flushEvery) % 2 ? Z_FULL_FLUSH : Z_SYNC_FLUSH;
        deflate(&z, flush);
    } while (at < data.size());
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

Bytes Text(size_t size) {
    Bytes data;
    std::mt19937 random(7);
    while (data.size() < size) {
        const std::string word = "item" + std::to_string(random() % 500) + (random() % 9 ? " " : "\r\n");
        data.insert(data.end(), word.begin(), word.end());
    }
    data.resize(size);
    return data;
}

Bytes Noise(size_t size, uint32_t seed) {
    Bytes data(size);
    std::mt19937 random(seed);
    for (auto& b : data) b = static_cast<unsigned char>(random());
    return data;
}

// Far matches across the window's slides, runs of one byte (distance 1),
// and stretches that do not compress.
Bytes Mixed(size_t size) {
    Bytes data;
    const Bytes noise = Noise(40000, 3);
    const Bytes text = Text(30000);
    while (data.size() < size) {
        data.insert(data.end(), noise.begin(), noise.end());
        data.insert(data.end(), 700, static_cast<unsigned char>(data.size()));
        data.insert(data.end(), text.begin(), text.end());
    }
    data.resize(size);
    return data;
}

}  // namespace

TEST(Inflater, DecodesWhatZlibWritesAtEveryLevelAndStrategy) {
    const Bytes inputs[] = {Bytes(), Bytes{0x41}, Text(5000), Noise(70000, 1), Mixed(300000)};
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED};
    for (const Bytes& data : inputs) {
        for (int level : {0, 1, 6, 9}) {
            for (int strategy : strategies) {
                const Outcome got = Ours(Deflate(data, level, strategy));
                ASSERT_EQ(got.result, InflateResult::Ok) << data.size() << " " << level << " " << strategy;
                ASSERT_TRUE(got.output == data) << data.size() << " " << level << " " << strategy;
            }
        }
        // Many blocks, stored empty ones among them (the flushes).
        const Outcome flushed = Ours(Deflate(data, 6, Z_DEFAULT_STRATEGY, 1000));
        EXPECT_EQ(flushed.result, InflateResult::Ok);
        EXPECT_TRUE(flushed.output == data) << data.size();
    }
}

TEST(Inflater, TakesItsInputInAnyPieces) {
    const Bytes data = Mixed(120000);
    for (int level : {0, 9}) {
        const Bytes stream = Deflate(data, level);
        for (uint32_t piece : {1u, 3u, 4093u}) {
            const Outcome got = Ours(stream, 1u << 24, piece);
            EXPECT_EQ(got.result, InflateResult::Ok) << piece;
            EXPECT_TRUE(got.output == data) << piece;
        }
    }
}

TEST(Inflater, StopsAtTheOutputWanted) {
    const Bytes data = Mixed(200000);
    for (int level : {0, 6}) {
        const Bytes stream = Deflate(data, level);
        for (uint32_t wanted : {0u, 1u, 99999u, 131330u}) {
            const Outcome got = Ours(stream, wanted);
            EXPECT_EQ(got.result, InflateResult::Ok);
            EXPECT_TRUE(got.output == Bytes(data.begin(), data.begin() + wanted)) << level << " " << wanted;
        }
        // More wanted than there is: the stream's end is where it stops.
        EXPECT_EQ(Ours(stream, 300000).output.size(), data.size());
    }
}

// Every cut and every flipped bit of small streams: the same verdict as
// zlib's, and where both decode, the same bytes.
TEST(Inflater, JudgesDamageAsZlibDoes) {
    const Bytes streams[] = {Deflate(Text(600), 9), Deflate(Text(300), 6, Z_FIXED), Deflate(Noise(200, 5), 0),
                             Deflate(Mixed(2000), 1, Z_RLE)};
    int damaged = 0;
    for (const Bytes& stream : streams) {
        std::vector<Bytes> variants;
        for (size_t cut = 0; cut < stream.size(); ++cut) variants.emplace_back(stream.begin(), stream.begin() + cut);
        for (size_t bit = 0; bit < stream.size() * 8; ++bit) {
            Bytes flipped = stream;
            flipped[bit / 8] ^= static_cast<unsigned char>(1u << (bit % 8));
            variants.push_back(flipped);
        }
        for (const Bytes& variant : variants) {
            Bytes expected;
            const bool zlibDecodes = Reference(variant, &expected);
            const Outcome got = Ours(variant);
            ASSERT_EQ(got.result == InflateResult::Ok, zlibDecodes) << variant.size();
            if (zlibDecodes) {
                ASSERT_TRUE(got.output == expected);
            } else {
                ++damaged;
                EXPECT_EQ(got.result, InflateResult::Damaged);
            }
        }
    }
    EXPECT_GT(damaged, 1000);  // the variants did reach the checks
}

// Bits as deflate packs them: values low bit first, Huffman codes high bit first.
struct BitWriter {
    Bytes bytes;
    uint32_t used = 0;
    void Put(uint32_t value, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i, ++used) {
            if (used % 8 == 0) bytes.push_back(0);
            bytes.back() |= static_cast<unsigned char>(((value >> i) & 1) << (used % 8));
        }
    }
    void PutCode(uint32_t code, uint32_t length) {
        for (uint32_t i = length; i-- > 0;) Put(code >> i, 1);
    }
};

// A fixed-code block: 'a', then a match of 3 at the given distance symbol.
Bytes FixedBlockWithMatch(uint32_t distanceSymbol) {
    BitWriter w;
    w.Put(1, 1);  // final
    w.Put(1, 2);  // fixed code
    w.PutCode(0x30 + 'a', 8);
    w.PutCode(1, 7);  // length symbol 257: 3 bytes
    w.PutCode(distanceSymbol, 5);
    w.PutCode(0, 7);  // end of block
    return w.bytes;
}

TEST(Inflater, HandMadeFaults) {
    EXPECT_TRUE(Ours(FixedBlockWithMatch(0)).output == ToBytes("aaaa"));
    // Distance 2 when one byte is out: before the stream began.
    const Bytes tooFarBack = FixedBlockWithMatch(1);
    Bytes expected;
    EXPECT_FALSE(Reference(tooFarBack, &expected));
    EXPECT_EQ(Ours(tooFarBack).result, InflateResult::Damaged);
    // Distance symbols 30 and 31 have fixed codes but no meaning.
    EXPECT_EQ(Ours(FixedBlockWithMatch(30)).result, InflateResult::Damaged);

    const Bytes reservedType = {0x07, 0x00};  // final, type 11
    EXPECT_EQ(Ours(reservedType).result, InflateResult::Damaged);

    const Bytes storedBadLength = {0x01, 0x05, 0x00, 0xFA, 0xFE, 'h', 'e', 'l', 'l', 'o'};  // NLEN not ~LEN
    EXPECT_EQ(Ours(storedBadLength).result, InflateResult::Damaged);
    const Bytes stored = {0x01, 0x05, 0x00, 0xFA, 0xFF, 'h', 'e', 'l', 'l', 'o'};
    EXPECT_TRUE(Ours(stored).output == ToBytes("hello"));
    EXPECT_EQ(Ours(Bytes(stored.begin(), stored.end() - 1)).result, InflateResult::Damaged);
}

TEST(Inflater, ReportsReadAndWriteFailures) {
    const Bytes data = Mixed(300000);
    const Bytes stream = Deflate(data, 6);
    InflaterPointer inflater = NewInflater();
    uint32_t produced = 0;

    PieceSource failing{&stream};
    failing.piece = 1000;
    failing.failAfterFirst = true;
    Collected collected;
    EXPECT_EQ(Inflate(inflater.get(), InflateInput{ReadPiece, &failing}, InflateOutput{Collect, &collected}, 300000,
                      &produced),
              InflateResult::ReadFailed);

    PieceSource source{&stream};
    Collected refusing;
    refusing.refuse = true;
    EXPECT_EQ(Inflate(inflater.get(), InflateInput{ReadPiece, &source}, InflateOutput{Collect, &refusing}, 300000,
                      &produced),
              InflateResult::WriteFailed);

    // The same inflater decodes the next item whole after both.
    PieceSource again{&stream};
    Collected whole;
    EXPECT_EQ(Inflate(inflater.get(), InflateInput{ReadPiece, &again}, InflateOutput{Collect, &whole}, 300000, &produced),
              InflateResult::Ok);
    EXPECT_TRUE(whole.bytes == data);
}
