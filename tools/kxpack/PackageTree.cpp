#include "PackageTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "archive/ArchiveReader.h"
#include "archive/PackageFormat.h"
#include "text/TextEncoding.h"

namespace kxpack {
namespace {

std::string SystemError(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

// Names of a folder's entries without "." and "..", in no particular order.
bool ReadFolderNames(const std::string& folder, std::vector<std::string>* names, std::string* error) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        *error = SystemError("cannot open folder", folder);
        return false;
    }
    errno = 0;
    while (const dirent* item = readdir(dir)) {
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0) {
            names->push_back(item->d_name);
        }
    }
    const int readError = errno;
    closedir(dir);
    if (readError != 0) {
        errno = readError;
        *error = SystemError("cannot list folder", folder);
        return false;
    }
    return true;
}

bool IsControlName(const std::string& name) {
    return name.compare(0, package::kControlFolderLength, package::kControlFolder) == 0;
}

bool CollectBelow(const std::string& folder, const std::string& prefix, std::vector<PackageEntry>* entries,
                  std::string* error) {
    std::vector<std::string> names;
    if (!ReadFolderNames(folder, &names, error)) return false;
    for (const std::string& name : names) {
        PackageEntry entry;
        entry.path = folder + "/" + name;
        struct stat info {};
        if (lstat(entry.path.c_str(), &info) != 0) {
            *error = SystemError("cannot read", entry.path);
            return false;
        }
        if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            *error = "not a regular file or folder (links and special files cannot be packed): " + entry.path;
            return false;
        }
        entry.isFolder = S_ISDIR(info.st_mode);
        entry.name = prefix + name + (entry.isFolder ? "/" : "");
        entry.isControl = IsControlName(entry.name);
        entry.mode = static_cast<uint32_t>(info.st_mode);
        entry.size = entry.isFolder ? 0 : static_cast<int64_t>(info.st_size);
        entry.modified = static_cast<int64_t>(info.st_mtime);
        entries->push_back(entry);
        if (entry.isFolder && !CollectBelow(entry.path, entry.name, entries, error)) return false;
    }
    return true;
}

bool ComesFirst(const PackageEntry& a, const PackageEntry& b) {
    if (a.isControl != b.isControl) return a.isControl;
    return a.name < b.name;  // std::string compares bytes as unsigned char
}

}  // namespace

bool CollectPackageEntries(const std::string& packageDir, std::vector<PackageEntry>* entries,
                           std::string* error) {
    struct stat info {};
    if (stat(packageDir.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = "package folder not found: " + packageDir;
        return false;
    }
    entries->clear();
    if (!CollectBelow(packageDir, "", entries, error)) return false;
    SortPackageEntries(entries);
    return true;
}

void SortPackageEntries(std::vector<PackageEntry>* entries) {
    std::sort(entries->begin(), entries->end(), ComesFirst);
}

bool CheckPackageEntries(const std::vector<PackageEntry>& entries, std::string* error) {
    for (const PackageEntry& entry : entries) {
        // A UTF-8 name is stored flagged as such and read back with a limit
        // in characters; any other is stored as it is and counted in bytes.
        const size_t length = IsValidUtf8(entry.name) ? CountUtf8Characters(entry.name) : entry.name.size();
        if (length > static_cast<size_t>(kArchiveNameCharacters)) {
            *error = "name longer than " + std::to_string(kArchiveNameCharacters) + " characters: " + entry.name;
            return false;
        }
        if (entry.name.find('\\') != std::string::npos) {
            *error = "name holds a backslash, which the installer reads as a folder separator: " + entry.name;
            return false;
        }
        if (!IsSafeRelativeName(entry.name.c_str())) {
            *error = "name the installer would refuse to write on Windows: " + entry.name;
            return false;
        }
        if (entry.size > INT32_MAX) {
            *error = "file of 2 GiB or more (the installer's archive has 32-bit sizes): " + entry.path;
            return false;
        }
    }
    return true;
}

}  // namespace kxpack
