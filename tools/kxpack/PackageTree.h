#pragma once
// The files and folders of a package folder, as the packer stores them.

#include <cstdint>
#include <string>
#include <vector>

namespace kxpack {

struct PackageEntry {
    std::string name;        // stored name: "/" separators, folders end in "/"
    std::string path;        // where the packer reads the file
    bool isFolder = false;
    bool isControl = false;  // under the control folder: the installer reads it itself
    uint32_t mode = 0;       // st_mode: file type and permission bits
    int64_t size = 0;        // bytes; 0 for folders
    int64_t modified = 0;    // seconds since 1970-01-01 UTC
};

// Lists everything below packageDir (not packageDir itself): control entries
// first, then payload, each group in byte order of name, so a folder comes
// before its contents. Links and special files are refused: the installer
// could not recreate them. False, with a message in *error, on any failure.
bool CollectPackageEntries(const std::string& packageDir, std::vector<PackageEntry>* entries,
                           std::string* error);

// Puts entries in the order CollectPackageEntries gives them.
void SortPackageEntries(std::vector<PackageEntry>* entries);

// True when every entry can be stored in the installer's archive and placed
// by the installer: short enough names without "\" that stay inside the
// install folder on Windows, and sizes the reader's 32-bit fields can hold.
// False with a message naming the first offending entry otherwise.
bool CheckPackageEntries(const std::vector<PackageEntry>& entries, std::string* error);

}  // namespace kxpack
