#pragma once
// Finds the package in an installer file and checks that it is whole, before
// anything of it is used. Shared by the stub (on its own file) and the packer.
//
// The package ends where the file ends, or, in a signed installer, where the
// certificate table begins that the PE header names and that ends the file.
// The 8-byte trailer lies right before that end; in a signed file made by
// other means than the packer, up to 7 zero bytes of the signing tool's
// alignment may lie between trailer and table.

#include <cstdint>
#include <string>

#include "platform/Platform.h"

namespace package {

// The archive's end record is its last 38 bytes and carries exactly this
// 16-byte comment: the prefix and the CRC-32 of every archive byte before the
// end record as 8 upper-case hexadecimal digits.
constexpr char kIntegrityPrefix[] = "KXCRC32=";
constexpr uint32_t kIntegrityPrefixLength = 8;
constexpr uint32_t kIntegrityCommentLength = 16;
constexpr uint32_t kIntegrityRecordSize = 22 + kIntegrityCommentLength;

// Where a PE file keeps its certificate table, and the header fields that
// describe it.
struct CertificateTable {
    int64_t start = 0;             // file offset of the table
    int64_t size = 0;
    int64_t directoryEntryAt = 0;  // file offset of the 8-byte data directory entry
    int64_t checksumAt = 0;        // file offset of the optional header's checksum
};

// True when file is a PE image whose certificate table ends the file.
bool FindCertificateTable(platform::FileHandle file, int64_t fileSize, CertificateTable* table);

struct PackageLocation {
    int64_t fileSize = 0;
    bool isSigned = false;        // a certificate table ends the file
    bool isSolid = false;         // the archive is an .xz stream of the ZIP archive, then its record
    int64_t archiveStart = 0;
    int64_t archiveLength = 0;
    bool hasIntegrityRecord = false;
    uint32_t expectedCrc = 0;     // of the first coveredLength archive bytes
    int64_t coveredLength = 0;
    int64_t ArchiveEnd() const { return archiveStart + archiveLength; }
    // A solid archive's .xz stream: every byte its integrity record covers.
    int64_t StreamLength() const { return coveredLength; }
};

// Locates the package and checks its structure: a trailer whose length is
// positive and fits the file, an archive that begins with a local header (or
// is empty), an end record that ends the archive, a central directory inside
// the archive whose every header can be read and points inside it, and a
// well-formed integrity record when there is one. A solid archive instead
// begins with the .xz magic, its stream ends with the footer magic, and its
// integrity record, which it must have, is well-formed. False, with a short
// lower-case reason, when there is no whole package.
bool LocatePackage(platform::FileHandle file, PackageLocation* location, std::string* reason);

// The same structural checks of a ZIP archive for a file whose first length
// bytes are the archive alone, without stub or trailer: a solid package's
// decompressed copy.
bool CheckPlainArchive(platform::FileHandle file, int64_t length, PackageLocation* location, std::string* reason);

// Recognises the integrity record by the archive's last 38 bytes alone.
// Returns false only for a record whose prefix matches but whose digits are
// not 8 upper-case hexadecimal digits; *present tells whether there is one.
bool ReadIntegrityRecord(const unsigned char* lastBytes, bool* present, uint32_t* crc);
// The same for the 16-byte comment alone (a solid archive's record).
bool ReadIntegrityComment(const unsigned char* comment, bool* present, uint32_t* crc);

// Reads the bytes the integrity record covers and compares their CRC-32.
// True when there is no record, or it matches.
bool CheckIntegrity(platform::FileHandle file, const PackageLocation& location, std::string* reason);

}  // namespace package
