#include "archive/XzDecoder.h"

#include <algorithm>
#include <cstring>

#include "archive/Crc32.h"
#include "archive/Crc64.h"
#include "archive/LzmaDecoder.h"

namespace xz {
namespace {

constexpr uint8_t kHeaderMagic[6] = {0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr uint8_t kFooterMagic[2] = {'Y', 'Z'};
constexpr size_t kStreamHeaderSize = 12;
constexpr uint64_t kVliMax = ~uint64_t(0) >> 1;
constexpr uint64_t kNotGiven = ~uint64_t(0);
constexpr uint64_t kFilterX86 = 0x04;
constexpr uint64_t kFilterLzma2 = 0x21;
constexpr uint32_t kMinWindow = 4096;

uint32_t ReadLe32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }

// The check's size, or -1 for a check this decoder cannot verify.
int CheckSize(uint32_t type) {
    switch (type) {
        case 0x00: return 0;
        case 0x01: return 4;
        case 0x04: return 8;
        case 0x0A: return 32;
        default: return -1;
    }
}

// A variable-length integer: seven bits a byte, low first, at most nine
// bytes, no needless zero byte at the end. False when malformed or past end.
bool ReadVli(const uint8_t* data, size_t end, size_t* pos, uint64_t* value) {
    *value = 0;
    for (uint32_t i = 0; i < 9; ++i) {
        if (*pos >= end) return false;
        const uint8_t b = data[(*pos)++];
        *value |= uint64_t(b & 0x7F) << (7 * i);
        if ((b & 0x80) == 0) return b != 0 || i == 0;
    }
    return false;
}

void PutLe64(uint8_t* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

XzDecoder::XzDecoder(uint32_t maxDictionary) : maxDictionary_(maxDictionary), lzma2_(new Lzma2Decoder) {}

XzDecoder::~XzDecoder() = default;

void XzDecoder::Restart() { static_cast<XzStreamState&>(*this) = XzStreamState(); }

XzStatus XzDecoder::Decode(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                           size_t* produced) {
    size_t inPos = 0, outPos = 0;
    XzStatus status = failure_;
    while (status == XzStatus::needMore) {
        if (stage_ == Stage::done) {
            status = inPos < inSize ? XzStatus::damaged : XzStatus::streamEnd;
        } else if (stage_ == Stage::blockData) {
            size_t c = 0, p = 0;
            status = DecodeBlockData(in + inPos, inSize - inPos, &c, out + outPos, outSize - outPos, &p);
            inPos += c;
            outPos += p;
            if (status == XzStatus::needMore && stage_ == Stage::blockData && c == 0 && p == 0) break;
        } else if (inPos < inSize) {
            status = TakeByte(in[inPos++]);
        } else {
            break;
        }
    }
    if (status == XzStatus::damaged || status == XzStatus::tooLarge) failure_ = status;
    *consumed = inPos;
    *produced = outPos;
    return status;
}

// Every byte outside the blocks' data: headers, padding, checks, the index.
XzStatus XzDecoder::TakeByte(uint8_t b) {
    switch (stage_) {
        case Stage::blockStart:
            if (b == 0x00) {  // the index indicator
                stage_ = Stage::index;
                return TakeIndexByte(b);
            }
            blockHeaderSize_ = (uint32_t(b) + 1) * 4;
            stage_ = Stage::blockHeader;
            need_ = blockHeaderSize_;
            fixed_[0] = b;
            have_ = 1;
            return XzStatus::needMore;
        case Stage::blockPadding:
            if (b != 0) return XzStatus::damaged;
            if ((compressed_ + ++padding_) % 4 != 0) return XzStatus::needMore;
            if (checkSize_ == 0) return TakeBlockCheck();
            stage_ = Stage::blockCheck;
            return XzStatus::needMore;
        case Stage::index:
            return TakeIndexByte(b);
        default:
            break;
    }
    fixed_[have_++] = b;
    if (have_ < need_) return XzStatus::needMore;
    switch (stage_) {
        case Stage::streamHeader: return TakeStreamHeader();
        case Stage::blockHeader: return TakeBlockHeader();
        case Stage::blockCheck: return TakeBlockCheck();
        case Stage::streamFooter: return TakeStreamFooter();
        default: return XzStatus::damaged;
    }
}

XzStatus XzDecoder::TakeStreamHeader() {
    if (std::memcmp(fixed_, kHeaderMagic, sizeof kHeaderMagic) != 0) return XzStatus::damaged;
    if (UpdateCrc32(0, fixed_ + 6, 2) != ReadLe32(fixed_ + 8)) return XzStatus::damaged;
    if (fixed_[6] != 0 || (fixed_[7] & 0xF0) != 0) return XzStatus::damaged;
    const int size = CheckSize(fixed_[7]);
    if (size < 0) return XzStatus::damaged;  // a check we could not verify
    streamFlags_[0] = fixed_[6];
    streamFlags_[1] = fixed_[7];
    checkType_ = fixed_[7];
    checkSize_ = static_cast<uint32_t>(size);
    stage_ = Stage::blockStart;
    return XzStatus::needMore;
}

// Size byte, flags, the sizes when given, the filter chain, zero padding
// and the header's CRC32.
XzStatus XzDecoder::TakeBlockHeader() {
    const size_t end = blockHeaderSize_ - 4;
    if (UpdateCrc32(0, fixed_, end) != ReadLe32(fixed_ + end)) return XzStatus::damaged;
    const uint8_t flags = fixed_[1];
    if ((flags & 0x3C) != 0) return XzStatus::damaged;
    size_t pos = 2;
    declaredCompressed_ = declaredUncompressed_ = kNotGiven;
    // The unpadded size (header, data, check) must stay a valid size.
    declaredCompressedLimit_ = kVliMax - blockHeaderSize_ - checkSize_;
    if ((flags & 0x40) != 0) {
        if (!ReadVli(fixed_, end, &pos, &declaredCompressed_)) return XzStatus::damaged;
        if (declaredCompressed_ == 0 || declaredCompressed_ > declaredCompressedLimit_) return XzStatus::damaged;
        declaredCompressedLimit_ = declaredCompressed_;
    }
    if ((flags & 0x80) != 0 && !ReadVli(fixed_, end, &pos, &declaredUncompressed_)) return XzStatus::damaged;
    return TakeFilters(fixed_, end, pos, (flags & 3) + 1);
}

// LZMA2 alone, or x86 then LZMA2.
XzStatus XzDecoder::TakeFilters(const uint8_t* header, size_t end, size_t pos, int filters) {
    uint32_t dictionarySize = 0;
    x86_ = false;
    uint32_t startOffset = 0;
    for (int i = 0; i < filters; ++i) {
        uint64_t id = 0, propertiesSize = 0;
        if (!ReadVli(header, end, &pos, &id) || !ReadVli(header, end, &pos, &propertiesSize)) return XzStatus::damaged;
        if (propertiesSize > end - pos) return XzStatus::damaged;
        const uint8_t* properties = header + pos;
        pos += static_cast<size_t>(propertiesSize);
        const bool last = i == filters - 1;
        if (id == kFilterLzma2 && last && propertiesSize == 1) {
            const uint8_t d = properties[0];
            if (d > 40) return XzStatus::damaged;
            dictionarySize = d == 40 ? 0xFFFFFFFFu : (2u | (d & 1u)) << (d / 2 + 11);
        } else if (id == kFilterX86 && i == 0 && !last && (propertiesSize == 0 || propertiesSize == 4)) {
            x86_ = true;
            if (propertiesSize == 4) startOffset = ReadLe32(properties);
        } else {
            return XzStatus::damaged;  // a filter or chain we do not decode
        }
    }
    for (; pos < end; ++pos) {
        if (header[pos] != 0) return XzStatus::damaged;
    }
    if (x86_) filter_.Start(startOffset);
    return StartBlock(dictionarySize);
}

XzStatus XzDecoder::StartBlock(uint32_t dictionarySize) {
    if (dictionarySize > maxDictionary_) return XzStatus::tooLarge;
    // No match reaches further back than the block's start: a block of known
    // small size needs no more window than its size.
    uint32_t window = dictionarySize;
    if (declaredUncompressed_ != kNotGiven && declaredUncompressed_ < window)
        window = std::max<uint32_t>(kMinWindow, static_cast<uint32_t>(declaredUncompressed_));
    if (!lzma2_->StartBlock(window)) return XzStatus::tooLarge;
    compressed_ = uncompressed_ = 0;
    filteredStart_ = filteredReady_ = filteredEnd_ = 0;
    lzmaEnded_ = false;
    crc32_ = 0;
    crc64_ = 0;
    sha256_.Reset();
    stage_ = Stage::blockData;
    return XzStatus::needMore;
}

XzStatus XzDecoder::DecodeBlockData(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                                    size_t* produced) {
    const LzmaResult result = x86_ ? DecodeFiltered(in, inSize, consumed, out, outSize, produced)
                                   : lzma2_->Decode(in, inSize, consumed, out, outSize, produced);
    compressed_ += *consumed;
    uncompressed_ += *produced;
    UpdateCheck(out, *produced);
    if (result == LzmaResult::damaged || compressed_ > declaredCompressedLimit_ ||
        (declaredUncompressed_ != kNotGiven && uncompressed_ > declaredUncompressed_) || uncompressed_ > kVliMax)
        return XzStatus::damaged;
    return result == LzmaResult::end ? EndBlockData() : XzStatus::needMore;
}

// The x86 filter works on a buffer of its own: it holds back the last bytes
// of each piece, which may start an instruction that continues in the next.
LzmaResult XzDecoder::DecodeFiltered(const uint8_t* in, size_t inSize, size_t* consumed, uint8_t* out, size_t outSize,
                                     size_t* produced) {
    *consumed = *produced = 0;
    while (true) {
        const size_t n = std::min(filteredReady_ - filteredStart_, outSize - *produced);
        std::memcpy(out + *produced, filtered_ + filteredStart_, n);
        filteredStart_ += n;
        *produced += n;
        if (filteredStart_ < filteredReady_) return LzmaResult::ok;
        if (lzmaEnded_) {
            if (filteredStart_ == filteredEnd_) return LzmaResult::end;
            filteredReady_ = filteredEnd_;  // the last bytes stay as they are
            continue;
        }
        std::memmove(filtered_, filtered_ + filteredStart_, filteredEnd_ - filteredStart_);
        filteredEnd_ -= filteredStart_;
        filteredStart_ = filteredReady_ = 0;
        size_t c = 0, p = 0;
        const LzmaResult result =
            lzma2_->Decode(in + *consumed, inSize - *consumed, &c, filtered_ + filteredEnd_, sizeof filtered_ - filteredEnd_, &p);
        *consumed += c;
        filteredEnd_ += p;
        if (result == LzmaResult::damaged) return result;
        lzmaEnded_ = result == LzmaResult::end;
        filteredReady_ = filter_.Convert(filtered_, filteredEnd_);
        if (!lzmaEnded_ && p == 0) return LzmaResult::ok;
    }
}

XzStatus XzDecoder::EndBlockData() {
    if (declaredCompressed_ != kNotGiven && compressed_ != declaredCompressed_) return XzStatus::damaged;
    if (declaredUncompressed_ != kNotGiven && uncompressed_ != declaredUncompressed_) return XzStatus::damaged;
    stage_ = compressed_ % 4 != 0 ? Stage::blockPadding : (checkSize_ > 0 ? Stage::blockCheck : Stage::blockStart);
    need_ = checkSize_;
    have_ = 0;
    padding_ = 0;
    return stage_ == Stage::blockStart ? TakeBlockCheck() : XzStatus::needMore;
}

void XzDecoder::UpdateCheck(const uint8_t* data, size_t size) {
    if (size == 0) return;
    if (checkType_ == 0x01) crc32_ = UpdateCrc32(crc32_, data, size);
    else if (checkType_ == 0x04) crc64_ = UpdateCrc64(crc64_, data, size);
    else if (checkType_ == 0x0A) sha256_.Update(data, size);
}

// The check just read (none for a stream without) against the data, then
// the block's sizes into the digest the index is held against.
XzStatus XzDecoder::TakeBlockCheck() {
    uint8_t expected[32];
    if (checkType_ == 0x01) {
        for (int i = 0; i < 4; ++i) expected[i] = static_cast<uint8_t>(crc32_ >> (8 * i));
    } else if (checkType_ == 0x04) {
        PutLe64(expected, crc64_);
    } else if (checkType_ == 0x0A) {
        sha256_.Finish(expected);
    }
    if (std::memcmp(expected, fixed_, checkSize_) != 0) return XzStatus::damaged;
    uint8_t record[16];
    PutLe64(record, blockHeaderSize_ + compressed_ + checkSize_);
    PutLe64(record + 8, uncompressed_);
    blockSizes_ = UpdateCrc32(blockSizes_, record, sizeof record);
    ++blocks_;
    stage_ = Stage::blockStart;
    return XzStatus::needMore;
}

// The index: indicator, record count, the records (unpadded and
// uncompressed size of each block), zero padding to four bytes, CRC32.
XzStatus XzDecoder::TakeIndexByte(uint8_t b) {
    ++indexSize_;
    if (indexField_ == IndexField::crc) {
        fixed_[have_++] = b;
        if (have_ < 4) return XzStatus::needMore;
        if (ReadLe32(fixed_) != indexCrc_) return XzStatus::damaged;
        if (blockSizes_ != indexSizes_) return XzStatus::damaged;
        stage_ = Stage::streamFooter;
        need_ = kStreamHeaderSize;
        have_ = 0;
        return XzStatus::needMore;
    }
    indexCrc_ = UpdateCrc32(indexCrc_, &b, 1);
    if (indexSize_ == 1) return XzStatus::needMore;  // the indicator
    if (indexField_ == IndexField::padding) {
        if (b != 0) return XzStatus::damaged;
        if (indexSize_ % 4 == 0) {
            indexField_ = IndexField::crc;
            have_ = 0;
        }
        return XzStatus::needMore;
    }
    if (vliBytes_ == 9) return XzStatus::damaged;
    vliValue_ |= uint64_t(b & 0x7F) << (7 * vliBytes_++);
    if ((b & 0x80) != 0) return vliBytes_ < 9 ? XzStatus::needMore : XzStatus::damaged;
    if (b == 0 && vliBytes_ > 1) return XzStatus::damaged;
    const uint64_t value = vliValue_;
    vliValue_ = 0;
    vliBytes_ = 0;
    return TakeIndexField(value);
}

XzStatus XzDecoder::TakeIndexField(uint64_t value) {
    switch (indexField_) {
        case IndexField::count:
            if (value != blocks_) return XzStatus::damaged;
            recordsLeft_ = value;
            indexField_ = IndexField::unpadded;
            break;
        case IndexField::unpadded:
            if (value < 5 || value > (kVliMax & ~uint64_t(3))) return XzStatus::damaged;
            recordUnpadded_ = value;
            indexField_ = IndexField::uncompressed;
            break;
        default: {
            if (value > kVliMax) return XzStatus::damaged;
            uint8_t record[16];
            PutLe64(record, recordUnpadded_);
            PutLe64(record + 8, value);
            indexSizes_ = UpdateCrc32(indexSizes_, record, sizeof record);
            --recordsLeft_;
            indexField_ = IndexField::unpadded;
            break;
        }
    }
    if (indexField_ == IndexField::unpadded && recordsLeft_ == 0) {
        indexField_ = indexSize_ % 4 == 0 ? IndexField::crc : IndexField::padding;
        have_ = 0;
    }
    return XzStatus::needMore;
}

// CRC32 of the backward size and flags, the backward size (the index's size
// in four-byte units, minus one), the flags as in the header, "YZ".
XzStatus XzDecoder::TakeStreamFooter() {
    if (UpdateCrc32(0, fixed_ + 4, 6) != ReadLe32(fixed_)) return XzStatus::damaged;
    const uint64_t backwardSize = (uint64_t(ReadLe32(fixed_ + 4)) + 1) * 4;
    if (backwardSize != indexSize_) return XzStatus::damaged;
    if (std::memcmp(fixed_ + 8, streamFlags_, 2) != 0 || std::memcmp(fixed_ + 10, kFooterMagic, 2) != 0)
        return XzStatus::damaged;
    stage_ = Stage::done;
    return XzStatus::needMore;
}

}  // namespace xz
