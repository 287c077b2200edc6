#pragma once
// The installer file, shared by the stub (which reads it) and the packer
// (which writes it):
//
//   +----------------------+  offset 0
//   | installer stub (PE)  |  length recorded nowhere
//   +----------------------+
//   | zero padding         |  the packer pads so the whole file's length is
//   |                      |  a multiple of 8 (a later signature then starts
//   |                      |  right after the trailer)
//   +----------------------+  S - 8 - L
//   | ZIP archive          |  L bytes, read back through the end record
//   +----------------------+  S - 8
//   | L, 64-bit LE         |  package trailer
//   +----------------------+  S
//
// The archive is found by the trailer alone. The padding belongs to the stub
// part: the reader locates the archive from its own end record.
//
// A solid package has the same frame, but its L bytes are one .xz stream
// whose content is the ZIP archive, followed by the integrity record:
//
//   +----------------------+  S - 8 - L
//   | .xz stream           |  L - 16 bytes: FD 37 7A 58 5A 00 ... 59 5A
//   +----------------------+  S - 8 - 16
//   | KXCRC32=XXXXXXXX     |  CRC-32 of the stream's bytes, upper-case hex
//   +----------------------+  S - 8
//
// The stub tells the two apart by the archive's first bytes, and decompresses
// a solid one into its archive copy, which is then read like a plain archive.

#include <cstdint>

namespace package {

constexpr uint32_t kTrailerSize = 8;
constexpr uint32_t kFileAlignment = 8;

// Control items are the archive items whose names begin with this literal
// folder name (compared case-sensitively); every other item is payload.
constexpr char kControlFolder[] = "%KXInstall%";
constexpr uint32_t kControlFolderLength = 11;

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndRecordSignature = 0x06054b50;

// An .xz stream begins with these 6 bytes and ends with "YZ".
constexpr unsigned char kXzMagic[6] = {0xFD, 0x37, 0x7A, 0x58, 0x5A, 0x00};
constexpr uint32_t kXzMagicSize = 6;
constexpr unsigned char kXzFooterMagic[2] = {0x59, 0x5A};
// Stream header and stream footer.
constexpr uint32_t kXzFrameSize = 12 + 12;

constexpr uint32_t kLocalHeaderSize = 30;
constexpr uint32_t kCentralHeaderSize = 46;
constexpr uint32_t kEndRecordSize = 22;

inline uint16_t ReadLe16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t ReadLe64(const unsigned char* p) {
    return static_cast<uint64_t>(ReadLe32(p)) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}
inline void WriteLe64(unsigned char* p, uint64_t value) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace package
