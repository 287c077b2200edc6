#pragma once
// Control files the packer makes for the archive (never in the package
// folder): written to the build's scratch folder and packed from there.

#include <cstdint>
#include <string>
#include <vector>

#include "PackageTree.h"
#include "archive/PackageFormat.h"

namespace kxpack {

// Inline, so that it is made before any constant built from it in a file
// that includes this header.
inline const std::string kControlPrefix = std::string(package::kControlFolder) + "/";

PackageEntry* FindEntry(std::vector<PackageEntry>* entries, const std::string& name);
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error);
// A file entry packed from path.
PackageEntry MadeEntry(const std::string& name, const std::string& path, int64_t size, int64_t modified);
// The control folder's own entry, when the package has none.
void AddControlFolder(std::vector<PackageEntry>* entries);
// Writes text to the scratch folder and packs it as the control file name,
// in place of the package's own when it has one. False with a message.
bool PutControlFile(std::vector<PackageEntry>* entries, const std::string& name, const std::string& text,
                    const std::string& scratchFolder, std::string* error);

// fileinfo.txt for a package without one: every payload file in archive
// order, "name|%install path%\" with "\" separators, then "////".
std::string FileInfoFor(const std::vector<PackageEntry>& entries);

}  // namespace kxpack
