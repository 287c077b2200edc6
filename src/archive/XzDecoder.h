#pragma once
// A streaming decoder of one .xz stream whose blocks use LZMA2, alone or
// after the x86 branch filter, with any of the None, CRC32, CRC64 and
// SHA-256 checks. Every check the format carries is verified: the stream
// header and footer, each block header and its sizes, each block's check,
// and the index against the blocks actually decoded.
//
// Memory: the dictionary (never more than the limit given) and small fixed
// buffers; nothing else is allocated from what the input says.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "archive/Sha256.h"
#include "archive/X86Filter.h"

namespace xz {

class Lzma2Decoder;
enum class LzmaResult;

// tooLarge: a block asks for a dictionary over the limit (or one that could
// not be allocated).
enum class XzStatus { needMore, streamEnd, damaged, tooLarge };

// What a decoder knows of the stream it is decoding: all that starts afresh
// with each stream.
struct XzStreamState {
    enum class Stage { streamHeader, blockStart, blockHeader, blockData, blockPadding, blockCheck, index, streamFooter, done };
    enum class IndexField { count, unpadded, uncompressed, padding, crc };

    Stage stage_ = Stage::streamHeader;
    XzStatus failure_ = XzStatus::needMore;  // once failed, the failure

    // Fields gathered before they are parsed: headers, footer, check.
    uint8_t fixed_[1024];
    size_t need_ = 12, have_ = 0;

    uint8_t streamFlags_[2] = {};
    uint32_t checkType_ = 0;
    uint32_t checkSize_ = 0;
    uint32_t crc32_ = 0;
    uint64_t crc64_ = 0;
    Sha256 sha256_;

    // The block being decoded.
    uint32_t blockHeaderSize_ = 0;
    uint64_t declaredCompressed_ = 0, declaredUncompressed_ = 0;  // ~0: not given
    uint64_t compressed_ = 0, uncompressed_ = 0;
    uint32_t padding_ = 0;
    uint64_t declaredCompressedLimit_ = 0;
    bool x86_ = false;
    X86Filter filter_;
    uint8_t filtered_[4096];
    size_t filteredStart_ = 0, filteredReady_ = 0, filteredEnd_ = 0;
    bool lzmaEnded_ = false;

    // The index, against the blocks as decoded: their count and a CRC32 of
    // their sizes, the same over the index records. (Each block's data has
    // its own check; this finds an index that does not fit the blocks.)
    uint64_t blocks_ = 0;
    uint32_t blockSizes_ = 0;
    uint32_t indexSizes_ = 0;
    uint64_t recordsLeft_ = 0;
    uint64_t recordUnpadded_ = 0;
    IndexField indexField_ = IndexField::count;
    uint64_t vliValue_ = 0;
    uint32_t vliBytes_ = 0;
    uint64_t indexSize_ = 0;
    uint32_t indexCrc_ = 0;
};

class XzDecoder : private XzStreamState {
public:
    explicit XzDecoder(uint32_t maxDictionary);  // bytes
    ~XzDecoder();
    XzDecoder(const XzDecoder&) = delete;
    XzDecoder& operator=(const XzDecoder&) = delete;

    // Consumes from in and writes to out; *consumed and *produced say how
    // much. Call again with more input or more output room until streamEnd
    // or a failure; after a failure every call fails the same way. Input
    // after the stream's end is damaged.
    XzStatus Decode(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                    size_t* produced);
    // Starts on a new stream, as a new decoder would, but keeps the
    // dictionary's memory for the next stream's blocks.
    void Restart();

private:
    XzStatus TakeByte(uint8_t b);
    XzStatus TakeStreamHeader();
    XzStatus TakeBlockHeader();
    XzStatus TakeFilters(const uint8_t* header, size_t end, size_t pos, int filters);
    XzStatus StartBlock(uint32_t dictionarySize);
    XzStatus DecodeBlockData(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                             size_t* produced);
    LzmaResult DecodeFiltered(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                              size_t* produced);
    XzStatus EndBlockData();
    XzStatus TakeBlockCheck();
    XzStatus TakeIndexByte(uint8_t b);
    XzStatus TakeIndexField(uint64_t value);
    XzStatus TakeStreamFooter();
    void UpdateCheck(const uint8_t* data, size_t size);

    const uint32_t maxDictionary_;
    std::unique_ptr<Lzma2Decoder> lzma2_;
};

}  // namespace xz
