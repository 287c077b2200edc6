#pragma once
// The solid package: the ZIP archive compressed as one .xz stream, followed
// by its integrity record (see archive/PackageFormat.h). Written with the
// host's liblzma.

#include <string>
#include <vector>

#include "PackageTree.h"

namespace kxpack {

// The entries in the order a solid archive stores them: control entries and
// folders as they come, then the payload files, executables first, each
// group by extension and then by name, so that similar files lie close
// together in the stream. Placement follows fileinfo.txt, not this order.
std::vector<PackageEntry> SolidOrder(const std::vector<PackageEntry>& entries);

// True when the file at path is a Windows executable for x86 or x64, whose
// branch targets the x86 filter makes easier to compress.
bool IsX86Executable(const std::string& path);

// The dictionary for an archive of zipSize bytes: the smallest power of two
// that holds it, from 4 KiB up to the stub's limit, so that the stub
// allocates no more than the package needs.
uint32_t SolidDictionarySize(int64_t zipSize);

// Compresses the ZIP archive at zipPath into the new file solidPath: LZMA2,
// preset 9 extreme, the x86 branch filter in front, CRC-64 checks, then
// "KXCRC32=" and the CRC-32 of the stream in upper-case hexadecimal. The same
// archive gives the same bytes. False with a message in *error.
bool WriteSolidArchive(const std::string& zipPath, const std::string& solidPath, std::string* error);

}  // namespace kxpack
