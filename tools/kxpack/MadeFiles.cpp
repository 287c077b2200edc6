#include "MadeFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace kxpack {

namespace {

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool ok = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (file != nullptr && std::fclose(file) != 0) ok = false;
    if (!ok) *error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

}  // namespace

PackageEntry* FindEntry(std::vector<PackageEntry>* entries, const std::string& name) {
    for (PackageEntry& entry : *entries) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    char chunk[65536];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes->append(chunk, got);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) *error = "cannot read " + path;
    return !failed;
}

PackageEntry MadeEntry(const std::string& name, const std::string& path, int64_t size, int64_t modified) {
    PackageEntry entry;
    entry.name = name;
    entry.path = path;
    entry.isControl = name.compare(0, kControlPrefix.size(), kControlPrefix) == 0;
    entry.mode = S_IFREG | 0644;
    entry.size = size;
    entry.modified = modified;
    return entry;
}

void AddControlFolder(std::vector<PackageEntry>* entries) {
    if (FindEntry(entries, kControlPrefix) != nullptr) return;
    PackageEntry control;
    control.name = kControlPrefix;
    control.isFolder = true;
    control.isControl = true;
    control.mode = S_IFDIR | 0755;
    control.modified = std::time(nullptr);
    entries->push_back(control);
}

bool PutControlFile(std::vector<PackageEntry>* entries, const std::string& name, const std::string& text,
                    const std::string& scratchFolder, std::string* error) {
    const std::string path = scratchFolder + "/" + name;
    if (!WriteWholeFile(path, text, error)) return false;
    const std::string stored = kControlPrefix + name;
    if (PackageEntry* existing = FindEntry(entries, stored)) {
        existing->path = path;
        existing->size = static_cast<int64_t>(text.size());
        return true;
    }
    entries->push_back(MadeEntry(stored, path, static_cast<int64_t>(text.size()), std::time(nullptr)));
    return true;
}

std::string FileInfoFor(const std::vector<PackageEntry>& entries) {
    std::string text;
    for (const PackageEntry& entry : entries) {
        if (entry.isControl || entry.isFolder) continue;
        std::string name = entry.name;
        std::replace(name.begin(), name.end(), '/', '\\');
        text += name + "|%install path%\\\r\n";
    }
    return text + "////\r\n";
}

}  // namespace kxpack
