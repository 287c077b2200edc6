// Streams built field by field around hand-made or liblzma's raw LZMA2 data:
// the chunk rules, and the cross-checks between headers, blocks and index.

#include <gtest/gtest.h>

#include "XzTestSupport.h"

namespace {

using namespace xztest;
using xz::XzStatus;

void PutLe32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void PutVli(Bytes& out, uint64_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

struct StreamParts {
    Bytes lzma2;             // the block's data
    Bytes content;           // what it decodes to, for the check and the index
    uint8_t dictionary = 0;  // the LZMA2 dictionary byte: 4 KiB
    bool sizesInHeader = false;
    uint64_t headerUncompressed = ~uint64_t(0);  // when given: this instead of the real size
    uint64_t indexUncompressed = ~uint64_t(0);   // likewise in the index
    uint64_t indexCount = 1;
};

// One stream of one block with a CRC32 check.
Bytes BuildStream(const StreamParts& parts) {
    Bytes out = {0xFD, '7', 'z', 'X', 'Z', 0x00, 0x00, 0x01};
    PutLe32(out, lzma_crc32(out.data() + 6, 2, 0));
    Bytes header = {0, static_cast<uint8_t>(parts.sizesInHeader ? 0xC0 : 0x00)};
    if (parts.sizesInHeader) {
        PutVli(header, parts.lzma2.size());
        PutVli(header, parts.headerUncompressed != ~uint64_t(0) ? parts.headerUncompressed : parts.content.size());
    }
    header.insert(header.end(), {0x21, 0x01, parts.dictionary});
    while (header.size() % 4 != 0) header.push_back(0);
    header[0] = static_cast<uint8_t>(header.size() / 4);  // (size + 4) / 4 - 1
    PutLe32(header, lzma_crc32(header.data(), header.size(), 0));
    out.insert(out.end(), header.begin(), header.end());
    out.insert(out.end(), parts.lzma2.begin(), parts.lzma2.end());
    while ((out.size() - 12 - header.size()) % 4 != 0) out.push_back(0);
    PutLe32(out, lzma_crc32(parts.content.data(), parts.content.size(), 0));
    Bytes index = {0x00};
    PutVli(index, parts.indexCount);
    for (uint64_t i = 0; i < parts.indexCount; ++i) {
        PutVli(index, header.size() + parts.lzma2.size() + 4);
        PutVli(index, parts.indexUncompressed != ~uint64_t(0) ? parts.indexUncompressed : parts.content.size());
    }
    while (index.size() % 4 != 0) index.push_back(0);
    PutLe32(index, lzma_crc32(index.data(), index.size(), 0));
    out.insert(out.end(), index.begin(), index.end());
    Bytes footer;
    PutLe32(footer, static_cast<uint32_t>(index.size() / 4 - 1));
    footer.insert(footer.end(), {0x00, 0x01});
    PutLe32(out, lzma_crc32(footer.data(), footer.size(), 0));
    out.insert(out.end(), footer.begin(), footer.end());
    out.insert(out.end(), {'Y', 'Z'});
    return out;
}

// liblzma's raw LZMA2 data of content with the given literal and position bits.
Bytes RawLzma2(const Bytes& content, uint32_t lc, uint32_t lp) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 6);
    options.dict_size = 4096;
    options.lc = lc;
    options.lp = lp;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes out(content.size() + 1024);
    size_t outPos = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, content.data(), content.size(), out.data(), &outPos, out.size()) != LZMA_OK)
        return {};
    out.resize(outPos);
    return out;
}

// Ours and liblzma agree on a hand-built stream: both decode it to content,
// or neither does.
void ExpectBothAgree(const Bytes& stream, bool valid, const Bytes& content = {}) {
    Bytes reference;
    EXPECT_EQ(valid, ReferenceDecode(stream, &reference)) << "liblzma disagrees with the test";
    const Decoded ours = DecodeXz(stream);
    if (valid) {
        EXPECT_EQ(XzStatus::streamEnd, ours.status);
        EXPECT_TRUE(content == ours.out);
    } else {
        EXPECT_EQ(XzStatus::damaged, ours.status);
    }
}

TEST(XzStream, StoredChunksNeedADictionaryResetFirst) {
    ExpectBothAgree(BuildStream({{0x01, 0x00, 0x02, 'a', 'b', 'c', 0x00}, {'a', 'b', 'c'}}), true, {'a', 'b', 'c'});
    ExpectBothAgree(BuildStream({{0x01, 0x00, 0x00, 'a', 0x02, 0x00, 0x00, 'b', 0x00}, {'a', 'b'}}), true, {'a', 'b'});
    ExpectBothAgree(BuildStream({{0x02, 0x00, 0x02, 'a', 'b', 'c', 0x00}, {'a', 'b', 'c'}}), false);
    ExpectBothAgree(BuildStream({{0x00}, {}}), true, {});  // no chunk at all
    for (uint8_t control : {uint8_t(0x03), uint8_t(0x40), uint8_t(0x7F)}) {
        ExpectBothAgree(BuildStream({{0x01, 0x00, 0x00, 'a', control, 0x00, 0x00, 'b', 0x00}, {'a', 'b'}}), false);
    }
    // The data's end marker missing, or the chunk shorter than it says.
    ExpectBothAgree(BuildStream({{0x01, 0x00, 0x02, 'a', 'b', 'c'}, {'a', 'b', 'c'}}), false);
    ExpectBothAgree(BuildStream({{0x01, 0x00, 0x03, 'a', 'b', 'c', 0x00}, {'a', 'b', 'c'}}), false);
}

TEST(XzStream, LzmaChunksNeedPropertiesWithinBounds) {
    const Bytes content = MixedData(3000, 21);
    for (uint32_t lp : {0u, 2u, 4u}) {
        const Bytes raw = RawLzma2(content, 4 - lp, lp);
        ASSERT_GE(raw.size(), 6u);
        ASSERT_EQ(0xE0, raw[0] & 0xE0);  // the first chunk resets everything and carries the properties
        ExpectBothAgree(BuildStream({raw, content}), true, content);
        Bytes tooMany = raw;
        tooMany[5] = static_cast<uint8_t>(tooMany[5] + 1);  // lc + lp = 5
        EXPECT_EQ(XzStatus::damaged, DecodeXz(BuildStream({tooMany, content})).status);
        Bytes outOfRange = raw;
        outOfRange[5] = 225;
        EXPECT_EQ(XzStatus::damaged, DecodeXz(BuildStream({outOfRange, content})).status);
        // A first chunk that resets only the state, or nothing.
        for (uint8_t reset : {uint8_t(0x80), uint8_t(0xA0), uint8_t(0xC0)}) {
            Bytes noReset = raw;
            noReset[0] = static_cast<uint8_t>(reset | (raw[0] & 0x1F));
            EXPECT_EQ(XzStatus::damaged, DecodeXz(BuildStream({noReset, content})).status);
        }
    }
    // After a stored chunk's dictionary reset, an LZMA chunk without properties.
    Bytes stored = {0x01, 0x00, 0x00, 'a', 0x80, 0x00, 0x00, 0x00, 0x04, 0, 0, 0, 0, 0, 0x00};
    ExpectBothAgree(BuildStream({stored, {'a', 0}}), false);
}

TEST(XzStream, SizesInTheBlockHeaderMustMatchTheData) {
    const Bytes content = MixedData(5000, 22);
    const Bytes raw = RawLzma2(content, 3, 0);
    StreamParts parts{raw, content};
    parts.sizesInHeader = true;
    ExpectBothAgree(BuildStream(parts), true, content);
    parts.headerUncompressed = content.size() - 1;
    ExpectBothAgree(BuildStream(parts), false);
    parts.headerUncompressed = content.size() + 1;
    ExpectBothAgree(BuildStream(parts), false);
}

TEST(XzStream, TheIndexMustListTheBlocksAsDecoded) {
    const Bytes content = MixedData(5000, 23);
    StreamParts parts{RawLzma2(content, 3, 0), content};
    ExpectBothAgree(BuildStream(parts), true, content);
    parts.indexUncompressed = content.size() + 1;
    ExpectBothAgree(BuildStream(parts), false);
    parts.indexUncompressed = ~uint64_t(0);
    parts.indexCount = 2;
    ExpectBothAgree(BuildStream(parts), false);
}

TEST(XzStream, HeaderFieldsOutsideTheFormatAreDamaged) {
    const Bytes content = {'k', 'x'};
    const Bytes good = BuildStream({{0x01, 0x00, 0x01, 'k', 'x', 0x00}, content});
    ExpectBothAgree(good, true, content);
    // A check type this decoder cannot verify (CRC32's flags changed, CRC fixed).
    Bytes unknownCheck = good;
    unknownCheck[7] = 0x02;
    const uint32_t crc = lzma_crc32(unknownCheck.data() + 6, 2, 0);
    for (int i = 0; i < 4; ++i) unknownCheck[8 + i] = static_cast<uint8_t>(crc >> (8 * i));
    EXPECT_EQ(XzStatus::damaged, DecodeXz(unknownCheck).status);
    // A dictionary byte over 40.
    StreamParts parts{{0x01, 0x00, 0x01, 'k', 'x', 0x00}, content};
    parts.dictionary = 41;
    ExpectBothAgree(BuildStream(parts), false);
    // Not a stream at all.
    EXPECT_EQ(XzStatus::damaged, DecodeXz(Bytes(64, 'A')).status);
}

}  // namespace
