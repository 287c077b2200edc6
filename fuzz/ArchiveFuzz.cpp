// Feeds arbitrary bytes to the archive reader as an archive file and
// extracts every item under an output folder, as the loader does. Besides
// the sanitizers' checks it verifies that nothing appeared beside that folder.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/ArchiveReader.h"
#include "platform/Platform.h"
#include "common/RemoveFolderTree.h"

namespace {

constexpr int32_t kMaxItems = 64;

std::string ScratchFolder() {
    static const std::string folder = [] {
        // TMPDIR may point at a memory file system: the targets write files each run.
        const char* temp = std::getenv("TMPDIR");
        std::string path = std::string(temp != nullptr && *temp != 0 ? temp : "/tmp") +
                           "/kx-fuzz-archive-" + std::to_string(getpid());
        platform::CreateFolder(path.c_str());
        return path;
    }();
    return folder;
}

void CheckNothingEscaped(const std::string& scratch) {
    std::vector<platform::FolderEntry> entries;
    platform::ListFolder(scratch.c_str(), &entries);
    for (const platform::FolderEntry& entry : entries) {
        if (entry.name != "in.zip" && entry.name != "out") {
            std::fprintf(stderr, "an item was written outside its folder: %s\n", entry.name.c_str());
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string scratch = ScratchFolder();
    const std::string archivePath = scratch + "/in.zip";
    const std::string out = scratch + "/out/";
    std::FILE* file = std::fopen(archivePath.c_str(), "wb");
    if (file == nullptr) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    ArchiveHandle archive = OpenArchive(archivePath.c_str());
    ArchiveEntry entry;
    GetArchiveItem(archive, -1, &entry);
    const int32_t count = entry.index < kMaxItems ? entry.index : kMaxItems;
    for (int32_t i = 0; i < count; ++i) {
        // As the loader does: the directory's description first, then the item.
        GetArchiveItemFromDirectory(archive, i, &entry);
        GetArchiveItem(archive, i, &entry);
        ExtractArchiveItem(archive, i, (out + entry.name).c_str());
    }
    if (archive != nullptr) CloseArchive(archive);
    CheckNothingEscaped(scratch);
    RemoveFolderTree(scratch + "/out");
    return 0;
}
