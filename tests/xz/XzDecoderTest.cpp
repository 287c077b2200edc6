// The decoder against the host's liblzma: every option the packer may write,
// in every piece size, and damaged streams of every kind.

#include <gtest/gtest.h>

#include <random>

#include "XzTestSupport.h"

namespace {

using namespace xztest;
using xz::XzStatus;

void ExpectDecodesTo(const Bytes& stream, const Bytes& data, size_t inPiece = SIZE_MAX, size_t outPiece = 1 << 16) {
    ASSERT_FALSE(stream.empty());
    const Decoded decoded = DecodeXz(stream, inPiece, outPiece);
    ASSERT_EQ(XzStatus::streamEnd, decoded.status) << "pieces " << inPiece << "/" << outPiece;
    ASSERT_EQ(data.size(), decoded.out.size());
    EXPECT_TRUE(data == decoded.out);
}

// --- valid streams: ours gives what liblzma was given ---

TEST(XzDecoder, DecodesEmptyAndOneByteStreamsWithEveryCheck) {
    for (lzma_check check : {LZMA_CHECK_NONE, LZMA_CHECK_CRC32, LZMA_CHECK_CRC64, LZMA_CHECK_SHA256}) {
        XzOptions options;
        options.check = check;
        ExpectDecodesTo(Compress({}, options), {});
        ExpectDecodesTo(Compress({'x'}, options), {'x'});
        options.blockSize = 1 << 20;  // an empty stream with the sizes in its block headers
        ExpectDecodesTo(Compress({'y'}, options), {'y'});
    }
}

TEST(XzDecoder, DecodesEveryPresetAndTheExtremeOnes) {
    const Bytes data = MixedData(300000, 1);
    const lzma_check checks[] = {LZMA_CHECK_NONE, LZMA_CHECK_CRC32, LZMA_CHECK_CRC64, LZMA_CHECK_SHA256};
    int i = 0;
    for (uint32_t preset : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 9u | LZMA_PRESET_EXTREME, 0u | LZMA_PRESET_EXTREME}) {
        XzOptions options;
        options.preset = preset;
        options.check = checks[i++ % 4];
        SCOPED_TRACE("preset " + std::to_string(preset) + ", check " + std::to_string(options.check));
        ExpectDecodesTo(Compress(data, options), data);
    }
}

// Small dictionaries wrap their window many times over the data.
TEST(XzDecoder, DecodesEveryDictionarySizeFrom4KiBTo64MiB) {
    const Bytes data = MixedData(3 << 20, 2);
    for (uint32_t dictionary : {4u << 10, 6u << 10, 64u << 10, 1u << 20, 3u << 20, 8u << 20, 64u << 20}) {
        XzOptions options;
        options.preset = 6;
        options.dictionary = dictionary;
        SCOPED_TRACE("dictionary " + std::to_string(dictionary));
        ExpectDecodesTo(Compress(data, options), data);
    }
    // A dictionary larger than a block of known size gets a window of the block's size.
    XzOptions options;
    options.dictionary = 64u << 20;
    options.blockSize = 100000;
    ExpectDecodesTo(Compress(data, options), data);
}

TEST(XzDecoder, DecodesTheX86FilterWithAndWithoutStartOffset) {
    const Bytes code = X86LikeData(400000, 3);
    for (uint32_t start : {0u, 16u, 0x401000u, 0xFFFFFFF0u}) {
        XzOptions options;
        options.x86 = true;
        options.x86Start = start;
        options.preset = 9 | LZMA_PRESET_EXTREME;
        const Bytes stream = Compress(code, options);
        SCOPED_TRACE("start " + std::to_string(start));
        ExpectDecodesTo(stream, code);
        ExpectDecodesTo(stream, code, 7, 1);  // every instruction split across calls somewhere
        ExpectDecodesTo(stream, code, 4093, 5);
    }
    XzOptions options;
    options.x86 = true;
    options.blockSize = 30000;  // the filter starts again in every block
    ExpectDecodesTo(Compress(code, options), code);
    ExpectDecodesTo(Compress({0xE8, 1, 2}, options), Bytes{0xE8, 1, 2});  // shorter than an instruction
}

TEST(XzDecoder, DecodesStreamsOfManyBlocks) {
    const Bytes data = MixedData(1 << 20, 4);
    for (uint64_t blockSize : {uint64_t(100), uint64_t(1000), uint64_t(65536), uint64_t(300001)}) {
        XzOptions options;
        options.preset = 1;
        options.blockSize = blockSize;
        options.check = LZMA_CHECK_CRC32;
        const Bytes part(data.begin(), data.begin() + (blockSize == 100 ? 30000 : data.size()));
        SCOPED_TRACE("block size " + std::to_string(blockSize));
        ExpectDecodesTo(Compress(part, options), part);
    }
}

// Incompressible data is stored in uncompressed chunks, between LZMA chunks
// where the data turns compressible.
TEST(XzDecoder, DecodesUncompressedChunks) {
    Bytes data = RandomBytes(3 << 20, 5);
    const Bytes text = MixedData(1 << 20, 6);
    data.insert(data.begin() + (1 << 20), text.begin(), text.end());
    for (uint32_t dictionary : {4u << 10, 8u << 20}) {
        XzOptions options;
        options.dictionary = dictionary;
        options.x86 = dictionary == 4096;
        ExpectDecodesTo(Compress(data, options), data);
    }
}

TEST(XzDecoder, DecodesInAnyPieceSizes) {
    const Bytes data = MixedData(200000, 7);
    XzOptions options;
    options.blockSize = 50000;
    options.check = LZMA_CHECK_SHA256;
    const Bytes stream = Compress(data, options);
    for (size_t inPiece : {size_t(1), size_t(2), size_t(31), size_t(4096), SIZE_MAX}) {
        for (size_t outPiece : {size_t(1), size_t(3), size_t(4097), size_t(1) << 20}) {
            ExpectDecodesTo(stream, data, inPiece, outPiece);
        }
    }
}

// --- damaged streams ---

TEST(XzDecoder, StreamCutShortAnywhereNeverEnds) {
    XzOptions options;
    options.blockSize = 700;
    options.check = LZMA_CHECK_CRC32;
    const Bytes stream = Compress(MixedData(2000, 8), options);
    for (size_t size = 0; size < stream.size(); ++size) {
        const Bytes cut(stream.begin(), stream.begin() + static_cast<ptrdiff_t>(size));
        EXPECT_EQ(XzStatus::needMore, DecodeXz(cut, SIZE_MAX).status) << "cut at " << size;
        EXPECT_EQ(XzStatus::needMore, DecodeXz(cut, 3, 5).status) << "cut at " << size;
    }
}

// Every byte of a CRC64 stream is covered by a check, so no flipped bit
// can go through: it is found damaged, or (a size made larger) the stream
// waits for bytes that are not there, which a caller holding the whole
// stream reports as damaged.
TEST(XzDecoder, EveryFlippedBitIsDamaged) {
    for (bool x86 : {false, true}) {
        XzOptions options;
        options.x86 = x86;
        options.blockSize = x86 ? 0 : 5000;
        const Bytes stream = Compress(x86 ? X86LikeData(12000, 9) : MixedData(12000, 9), options);
        std::mt19937 random(10);
        for (int i = 0; i < 2500; ++i) {
            Bytes flipped = stream;
            const size_t at = random() % flipped.size();
            flipped[at] ^= static_cast<uint8_t>(1u << (random() % 8));
            EXPECT_EQ(XzStatus::damaged, DecodeXz(flipped).Whole()) << "bit flipped at " << at;
        }
    }
}

TEST(XzDecoder, RandomBytesAfterAValidHeaderAreDamagedOrWaitForMore) {
    const Bytes stream = Compress(MixedData(5000, 11), {});
    for (uint32_t seed = 0; seed < 300; ++seed) {
        Bytes mangled(stream.begin(), stream.begin() + 12 + seed % 40);
        const Bytes noise = RandomBytes(2000, seed);
        mangled.insert(mangled.end(), noise.begin(), noise.end());
        const XzStatus status = DecodeXz(mangled).status;
        EXPECT_TRUE(status == XzStatus::damaged || status == XzStatus::needMore) << "seed " << seed;
    }
}

TEST(XzDecoder, DictionaryOverTheLimitIsTooLargeBeforeAnyAllocation) {
    XzOptions options;
    options.dictionary = 64u << 20;
    const Bytes stream = Compress(MixedData(1000, 12), options);
    EXPECT_EQ(XzStatus::tooLarge, DecodeXz(stream, SIZE_MAX, 1 << 16, (64u << 20) - 1).status);
    EXPECT_EQ(XzStatus::streamEnd, DecodeXz(stream, SIZE_MAX, 1 << 16, 64u << 20).status);
    // The largest the format allows (4 GiB - 1): the block header's dictionary byte set to 40.
    Bytes largest = stream;
    const size_t header = 12;
    ASSERT_EQ(0x21, largest[header + 2]);
    largest[header + 4] = 40;
    const uint32_t crc = lzma_crc32(largest.data() + header, (largest[header] + 1) * 4 - 4, 0);
    for (int i = 0; i < 4; ++i) largest[header + (largest[header] + 1) * 4 - 4 + i] = static_cast<uint8_t>(crc >> (8 * i));
    EXPECT_EQ(XzStatus::tooLarge, DecodeXz(largest).status);
}

TEST(XzDecoder, AnythingAfterTheStreamIsDamaged) {
    const Bytes stream = Compress(MixedData(1000, 13), {});
    for (const Bytes& tail : {Bytes{0}, Bytes{0, 0, 0, 0}, Bytes{'x'}, stream}) {
        Bytes longer = stream;
        longer.insert(longer.end(), tail.begin(), tail.end());
        EXPECT_EQ(XzStatus::damaged, DecodeXz(longer).status);
        EXPECT_EQ(XzStatus::damaged, DecodeXz(longer, 1, 1).status);
    }
    // And a decoder that has ended refuses more.
    xz::XzDecoder decoder(xz::kMaxSolidDictionary);
    Bytes out(4096);
    size_t consumed = 0, produced = 0;
    ASSERT_EQ(XzStatus::streamEnd, decoder.Decode(stream.data(), stream.size(), &consumed, out.data(), out.size(), &produced));
    const uint8_t more = 0;
    EXPECT_EQ(XzStatus::damaged, decoder.Decode(&more, 1, &consumed, out.data(), out.size(), &produced));
}

// One decoder restarted for stream after stream, whatever the last one did:
// each decodes as with a new decoder, the window kept or grown as it needs.
TEST(XzDecoder, RestartedDecoderDecodesEachStreamAfresh) {
    XzOptions x86;
    x86.x86 = true;
    x86.check = LZMA_CHECK_SHA256;
    x86.dictionary = 4u << 10;
    XzOptions many;
    many.blockSize = 3000;
    many.check = LZMA_CHECK_CRC32;
    many.dictionary = 1u << 20;
    const Bytes code = X86LikeData(20000, 3), mixed = MixedData(20000, 4);
    const Bytes first = Compress(code, x86), second = Compress(mixed, many), third = Compress(mixed, {});
    ASSERT_FALSE(first.empty() || second.empty() || third.empty());
    Bytes cut(second.begin(), second.begin() + static_cast<ptrdiff_t>(second.size() / 2));
    Bytes flipped = third;
    flipped[flipped.size() / 2] ^= 0x10;

    xz::XzDecoder decoder(xz::kMaxSolidDictionary);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(code, DecodeXz(decoder, first, 7, 333).out);
        EXPECT_TRUE(DecodeXz(decoder, cut, SIZE_MAX, 1 << 16).cutShort);  // left midway through a block
        const Decoded manyBlocks = DecodeXz(decoder, second, 1000, 1 << 16);
        EXPECT_EQ(XzStatus::streamEnd, manyBlocks.status);
        EXPECT_EQ(mixed, manyBlocks.out);
        EXPECT_EQ(XzStatus::damaged, DecodeXz(decoder, flipped, SIZE_MAX, 1 << 16).status);
        const Decoded oneBlock = DecodeXz(decoder, third, SIZE_MAX, 4096);
        EXPECT_EQ(XzStatus::streamEnd, oneBlock.status);
        EXPECT_EQ(mixed, oneBlock.out);
    }
}

}  // namespace
