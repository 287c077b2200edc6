#pragma once
// Writes a package's entries into a ZIP file with libzip.

#include <string>
#include <vector>

#include "PackageTree.h"

namespace kxpack {

// How the payload files are kept: deflated one by one (a plain package), or
// stored, for the solid package's stream to compress together.
enum class PayloadMethod { Deflate, Store };

// Creates a new ZIP at zipPath (which must not exist) holding entries in
// their order: control files deflated, payload files as payloadMethod says,
// folders stored. Each entry carries its
// modified time twice, as local DOS time and as a "UT" extended timestamp
// (modification time only, in the local and the central header), and UNIX
// external attributes (st_mode << 16), so the reader sees folders and
// read-only files. Nothing else of the host (owner, other times) is stored.
// The end record's comment is the integrity record: "KXCRC32=" and the
// CRC-32 of every byte before the end record, in upper-case hexadecimal.
// False with a message in *error; a partly written zipPath is removed.
bool WriteArchive(const std::vector<PackageEntry>& entries, const std::string& zipPath, PayloadMethod payloadMethod,
                  std::string* error);

}  // namespace kxpack
