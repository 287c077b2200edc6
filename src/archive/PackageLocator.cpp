#include "archive/PackageLocator.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/Crc32.h"
#include "archive/PackageFormat.h"

namespace package {
namespace {

constexpr uint32_t kPeHeaderOffsetField = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kPe32Magic = 0x10b;
constexpr uint16_t kPe32PlusMagic = 0x20b;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kChecksumField = 64;  // in the optional header, both kinds
constexpr uint32_t kMaxAlignmentPadding = 7;
constexpr uint32_t kEndSearchWindow = 65535 + kEndRecordSize;
constexpr uint32_t kDirectoryBufferSize = 65536;
constexpr uint32_t kCrcBufferSize = 1 << 20;
constexpr uint16_t kNameCapacity = 260;

bool ReadExactly(platform::FileHandle file, int64_t offset, void* buffer, uint32_t size) {
    return offset >= 0 && platform::ReadFileAt(file, offset, buffer, size) == static_cast<int64_t>(size);
}

// Reads a file region front to back through one fixed buffer.
class SequentialReader {
public:
    SequentialReader(platform::FileHandle file, int64_t end) : file_(file), end_(end), buffer_(new unsigned char[kDirectoryBufferSize]) {}
    // Copies size bytes at offset; false when they are not all before end.
    bool Read(int64_t offset, unsigned char* out, uint32_t size) {
        if (offset < 0 || size > kDirectoryBufferSize || offset + size > end_) return false;
        if (offset < bufferStart_ || offset + size > bufferStart_ + bufferLength_) {
            const uint32_t length = static_cast<uint32_t>(std::min<int64_t>(kDirectoryBufferSize, end_ - offset));
            if (!ReadExactly(file_, offset, buffer_.get(), length)) return false;
            bufferStart_ = offset;
            bufferLength_ = length;
        }
        std::memcpy(out, buffer_.get() + (offset - bufferStart_), size);
        return true;
    }

private:
    platform::FileHandle file_;
    int64_t end_;
    std::unique_ptr<unsigned char[]> buffer_;
    int64_t bufferStart_ = 0;
    int64_t bufferLength_ = 0;
};

int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

struct EndRecord {
    int64_t at = 0;  // file offset
    uint16_t entryCount = 0;
    uint32_t directorySize = 0;
    uint32_t directoryOffset = 0;
};

// The end record whose comment reaches exactly to the archive's end.
bool FindEndRecord(platform::FileHandle file, const PackageLocation& where, EndRecord* record) {
    const uint32_t window = static_cast<uint32_t>(std::min<int64_t>(where.archiveLength, kEndSearchWindow));
    std::unique_ptr<unsigned char[]> tail(new unsigned char[window]);
    const int64_t tailStart = where.ArchiveEnd() - window;
    if (!ReadExactly(file, tailStart, tail.get(), window)) return false;
    for (int64_t at = static_cast<int64_t>(window) - kEndRecordSize; at >= 0; --at) {
        const unsigned char* r = tail.get() + at;
        if (ReadLe32(r) != kEndRecordSignature) continue;
        if (at + kEndRecordSize + ReadLe16(r + 20) != window) continue;
        if (ReadLe16(r + 4) != 0 || ReadLe16(r + 6) != 0 || ReadLe16(r + 8) != ReadLe16(r + 10)) return false;
        record->at = tailStart + at;
        record->entryCount = ReadLe16(r + 10);
        record->directorySize = ReadLe32(r + 12);
        record->directoryOffset = ReadLe32(r + 16);
        return true;
    }
    return false;
}

// Walks every central header: each must lie inside the directory and name a
// local header that lies inside the archive, before the directory.
bool CheckDirectory(platform::FileHandle file, const PackageLocation& where, const EndRecord& end,
                    std::string* reason) {
    const int64_t directoryEnd = end.at - where.archiveStart;
    const int64_t directoryStart = directoryEnd - end.directorySize;
    // Offsets count from the archive's start, or from a point further in
    // when other bytes were put in front of the archive after it was written.
    const int64_t bytesBefore = directoryStart - end.directoryOffset;
    if (directoryStart < 0 || bytesBefore < 0) {
        *reason = "the archive's central directory lies outside the archive";
        return false;
    }
    SequentialReader reader(file, end.at);
    int64_t at = where.archiveStart + directoryStart;
    for (uint32_t i = 0; i < end.entryCount; ++i) {
        unsigned char h[kCentralHeaderSize];
        if (!reader.Read(at, h, sizeof h) || ReadLe32(h) != kCentralHeaderSignature) {
            *reason = "the archive's central directory holds fewer entries than its end record counts";
            return false;
        }
        const uint16_t nameLength = ReadLe16(h + 28);
        const int64_t localHeader = static_cast<int64_t>(ReadLe32(h + 42)) + bytesBefore;
        at += kCentralHeaderSize + nameLength + ReadLe16(h + 30) + ReadLe16(h + 32);
        if (nameLength >= kNameCapacity || at > end.at) {
            *reason = "a central directory entry of the archive is damaged";
            return false;
        }
        if (localHeader + kLocalHeaderSize > directoryStart) {
            *reason = "a central directory entry points outside the archive";
            return false;
        }
    }
    return true;
}

// The structure of the ZIP archive that where describes; signature is its
// first four bytes.
bool CheckZipArchive(platform::FileHandle file, uint32_t signature, PackageLocation* where, std::string* reason) {
    const int64_t length = where->archiveLength;
    EndRecord end;
    if (!FindEndRecord(file, *where, &end)) {
        *reason = "the archive has no valid end record";
        return false;
    }
    const bool empty = end.entryCount == 0 && signature == kEndRecordSignature;
    if (signature != kLocalHeaderSignature && !empty) {
        *reason = "the archive does not begin with a ZIP header";
        return false;
    }
    if (!CheckDirectory(file, *where, end, reason)) return false;
    unsigned char last[kIntegrityRecordSize] = {};
    if (length >= kIntegrityRecordSize &&
        !ReadExactly(file, where->ArchiveEnd() - kIntegrityRecordSize, last, sizeof last)) {
        *reason = "the archive cannot be read";
        return false;
    }
    if (!ReadIntegrityRecord(last, &where->hasIntegrityRecord, &where->expectedCrc)) {
        *reason = "the archive's integrity record is malformed";
        return false;
    }
    where->coveredLength = where->hasIntegrityRecord ? length - kIntegrityRecordSize : 0;
    return true;
}

// A solid archive: the .xz magic (already seen), the stream's footer magic
// and the integrity record right after the stream, which covers all of it.
// The stream's inside is checked by its decoder.
bool CheckSolidArchive(platform::FileHandle file, PackageLocation* where, std::string* reason) {
    if (where->archiveLength < kXzFrameSize + kIntegrityCommentLength) {
        *reason = "the solid archive is too short";
        return false;
    }
    unsigned char tail[2 + kIntegrityCommentLength];
    if (!ReadExactly(file, where->ArchiveEnd() - sizeof tail, tail, sizeof tail)) {
        *reason = "the archive cannot be read";
        return false;
    }
    if (std::memcmp(tail, kXzFooterMagic, sizeof kXzFooterMagic) != 0) {
        *reason = "the solid archive's stream does not end where its integrity record begins";
        return false;
    }
    bool present = false;
    if (!ReadIntegrityComment(tail + 2, &present, &where->expectedCrc) || !present) {
        *reason = "the solid archive's integrity record is missing or malformed";
        return false;
    }
    where->isSolid = true;
    where->hasIntegrityRecord = true;
    where->coveredLength = where->archiveLength - kIntegrityCommentLength;
    return true;
}

// Checks the archive that a trailer ending at packageEnd describes.
bool CheckCandidate(platform::FileHandle file, int64_t packageEnd, PackageLocation* where, std::string* reason) {
    const int64_t trailerAt = packageEnd - kTrailerSize;
    unsigned char trailer[kTrailerSize];
    if (trailerAt < 0 || !ReadExactly(file, trailerAt, trailer, sizeof trailer)) {
        *reason = "the file is too short to hold a package";
        return false;
    }
    const int64_t length = static_cast<int64_t>(ReadLe64(trailer));
    if (length == 0) {
        *reason = "no package is appended";
        return false;
    }
    if (length < 0 || length > trailerAt) {
        *reason = "the package trailer claims more bytes than the file holds";
        return false;
    }
    where->archiveStart = trailerAt - length;
    where->archiveLength = length;
    where->isSolid = false;
    unsigned char first[kXzMagicSize];
    if (length < kEndRecordSize || !ReadExactly(file, where->archiveStart, first, sizeof first)) {
        *reason = "the archive is too short";
        return false;
    }
    if (std::memcmp(first, kXzMagic, kXzMagicSize) == 0) return CheckSolidArchive(file, where, reason);
    return CheckZipArchive(file, ReadLe32(first), where, reason);
}

}  // namespace

bool FindCertificateTable(platform::FileHandle file, int64_t fileSize, CertificateTable* table) {
    unsigned char dos[kPeHeaderOffsetField + 4];
    if (!ReadExactly(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    const int64_t peAt = ReadLe32(dos + kPeHeaderOffsetField);
    // Signature, COFF header, and the optional header up to the end of the
    // certificate table's directory entry of a PE32+ image.
    unsigned char pe[4 + kCoffHeaderSize + 112 + 8 * (kCertificateDirectory + 1)] = {};
    const int64_t available = std::min<int64_t>(sizeof pe, fileSize - peAt);
    if (available < 4 + kCoffHeaderSize + 2 || !ReadExactly(file, peAt, pe, static_cast<uint32_t>(available))) {
        return false;
    }
    if (ReadLe32(pe) != kPeSignature) return false;
    const uint32_t optionalSize = ReadLe16(pe + 4 + 16);
    const unsigned char* optional = pe + 4 + kCoffHeaderSize;
    const uint16_t magic = ReadLe16(optional);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) return false;
    const uint32_t countAt = magic == kPe32Magic ? 92 : 108;
    const uint32_t entryAt = countAt + 4 + 8 * kCertificateDirectory;
    if (optionalSize < entryAt + 8 || 4 + kCoffHeaderSize + entryAt + 8 > available) return false;
    if (ReadLe32(optional + countAt) <= kCertificateDirectory) return false;
    const int64_t start = ReadLe32(optional + entryAt);
    const int64_t size = ReadLe32(optional + entryAt + 4);
    if (start == 0 || size == 0 || start + size != fileSize) return false;
    table->start = start;
    table->size = size;
    table->directoryEntryAt = peAt + 4 + kCoffHeaderSize + entryAt;
    table->checksumAt = peAt + 4 + kCoffHeaderSize + kChecksumField;
    return true;
}

bool ReadIntegrityRecord(const unsigned char* lastBytes, bool* present, uint32_t* crc) {
    *present = false;
    *crc = 0;
    if (ReadLe32(lastBytes) != kEndRecordSignature || ReadLe16(lastBytes + 20) != kIntegrityCommentLength) return true;
    return ReadIntegrityComment(lastBytes + kEndRecordSize, present, crc);
}

bool ReadIntegrityComment(const unsigned char* comment, bool* present, uint32_t* crc) {
    *present = false;
    *crc = 0;
    if (std::memcmp(comment, kIntegrityPrefix, kIntegrityPrefixLength) != 0) return true;
    uint32_t value = 0;
    for (uint32_t i = kIntegrityPrefixLength; i < kIntegrityCommentLength; ++i) {
        const int digit = HexDigitValue(comment[i]);
        if (digit < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    *present = true;
    *crc = value;
    return true;
}

bool LocatePackage(platform::FileHandle file, PackageLocation* location, std::string* reason) {
    *location = PackageLocation();
    location->fileSize = platform::GetFileSize(file);
    if (location->fileSize < 0) {
        *reason = "the file cannot be read";
        return false;
    }
    CertificateTable table;
    location->isSigned = FindCertificateTable(file, location->fileSize, &table);
    const int64_t end = location->isSigned ? table.start : location->fileSize;
    // The first reason is the one that counts: the aligned position is the
    // packer's own, the others only a signing tool's padding.
    std::string firstReason;
    const uint32_t candidates = location->isSigned ? kMaxAlignmentPadding + 1 : 1;
    for (uint32_t padding = 0; padding < candidates; ++padding) {
        unsigned char padByte = 0;
        if (padding > 0 && (!ReadExactly(file, end - padding, &padByte, 1) || padByte != 0)) break;
        std::string candidateReason;
        if (CheckCandidate(file, end - padding, location, &candidateReason)) return true;
        if (firstReason.empty()) firstReason = candidateReason;
    }
    *reason = firstReason;
    return false;
}

bool CheckPlainArchive(platform::FileHandle file, int64_t length, PackageLocation* location, std::string* reason) {
    *location = PackageLocation();
    location->fileSize = length;
    location->archiveLength = length;
    unsigned char first[4];
    if (length < kEndRecordSize || !ReadExactly(file, 0, first, sizeof first)) {
        *reason = "the archive is too short";
        return false;
    }
    return CheckZipArchive(file, ReadLe32(first), location, reason);
}

bool CheckIntegrity(platform::FileHandle file, const PackageLocation& location, std::string* reason) {
    if (!location.hasIntegrityRecord) return true;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kCrcBufferSize]);
    uint32_t crc = 0;
    for (int64_t done = 0; done < location.coveredLength;) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<int64_t>(kCrcBufferSize, location.coveredLength - done));
        if (!ReadExactly(file, location.archiveStart + done, buffer.get(), chunk)) {
            *reason = "the archive cannot be read";
            return false;
        }
        crc = UpdateCrc32(crc, buffer.get(), chunk);
        done += chunk;
    }
    if (crc != location.expectedCrc) {
        *reason = "the archive's bytes do not match its integrity record";
        return false;
    }
    return true;
}

}  // namespace package
