#include "common/RemoveFolderTree.h"

#include <vector>

#include "platform/Platform.h"

namespace {

constexpr size_t kPathCapacity = platform::kPathByteCapacity;

bool RemoveEntry(const std::string& full, const platform::FolderEntry& entry) {
    const bool isFolder = (entry.attributes & platform::kAttributeDirectory) != 0;
    if (entry.isLink) {
        return isFolder ? platform::RemoveFolder(full.c_str()) : platform::RemoveFile(full.c_str());
    }
    if (isFolder) return RemoveFolderTree(full);
    if (entry.attributes & platform::kAttributeReadOnly) {
        const uint32_t writable = entry.attributes & ~platform::kAttributeReadOnly;
        (void)platform::WriteAttributes(full.c_str(), writable ? writable : platform::kAttributeNormal);  // delete tells
    }
    return platform::RemoveFile(full.c_str());
}

}  // namespace

bool RemoveFolderTree(const std::string& folder) {
    if (folder.empty() || folder.size() >= kPathCapacity) return false;
    // Looked at before it is listed: a folder that is a link is removed as
    // a link, so what it points to is never emptied, even when the link was
    // put in the folder's place after its parent was listed.
    const uint32_t attributes = platform::ReadAttributes(folder.c_str());
    if (attributes == platform::kNoAttributes) return false;
    if (attributes & platform::kAttributeReparsePoint) {
        return (attributes & platform::kAttributeDirectory) ? platform::RemoveFolder(folder.c_str())
                                                           : platform::RemoveFile(folder.c_str());
    }
    if (!(attributes & platform::kAttributeDirectory)) return false;
    std::vector<platform::FolderEntry> entries;
    if (!platform::ListFolder(folder.c_str(), &entries)) return false;
    for (const platform::FolderEntry& entry : entries) {
        const std::string full = folder + "\\" + entry.name;
        if (full.size() >= kPathCapacity || !RemoveEntry(full, entry)) return false;
    }
    return platform::RemoveFolder(folder.c_str());
}
