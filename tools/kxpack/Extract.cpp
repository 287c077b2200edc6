// kxpack extract: every item into one folder, never outside it.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Commands.h"

namespace kxpack {
namespace {

// The reader joins a relative target to its own base folder and works in
// 260-byte paths, so targets are made absolute here and checked whole.
std::string AbsoluteFolder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (folder[0] == '/') return folder;
    char current[4096];
    if (getcwd(current, sizeof current) == nullptr) return folder;
    return std::string(current) + "/" + folder;
}

// Extracts one described item under folder; false after a message on stderr.
bool ExtractEntry(ArchiveHandle archive, const ArchiveEntry& entry, const std::string& folder) {
    if (!IsSafeRelativeName(entry.name)) {
        std::fprintf(stderr, "kxpack: warning: skipped '%s': not a safe name to write under %s\n", entry.name,
                     folder.c_str());
        return false;
    }
    const std::string target = folder + "/" + entry.name;
    if (target.size() >= static_cast<size_t>(kArchiveNameCapacity)) {
        std::fprintf(stderr, "kxpack: %s: path of %zu characters is too long for the reader\n", target.c_str(),
                     target.size());
        return false;
    }
    const ArchiveResult result = ExtractArchiveItem(archive, entry.index, target.c_str());
    if (result != ArchiveResult::Ok) {
        std::fprintf(stderr, "kxpack: %s: %s\n", target.c_str(), DescribeArchiveResult(result));
        return false;
    }
    return true;
}

}  // namespace

int RunExtract(const Arguments& args) {
    if (args.size() != 2) return UsageError("extract takes FILE and DIR");
    if (args[1].empty()) return UsageError("extract: DIR is empty");
    const std::string folder = AbsoluteFolder(args[1]);
    int32_t count = 0;
    ArchivePtr archive = OpenPackageForReading(args[0], &count);
    if (!archive) return kExitFailure;
    int failed = 0;
    for (int32_t i = 0; i < count; ++i) {
        ArchiveEntry entry;
        const ArchiveResult result = GetArchiveItem(archive.get(), i, &entry);
        if (result != ArchiveResult::Ok) {
            std::fprintf(stderr, "kxpack: item %d: %s\n", static_cast<int>(i), DescribeArchiveResult(result));
            ++failed;
        } else if (!ExtractEntry(archive.get(), entry, folder)) {
            ++failed;
        }
    }
    if (failed > 0) std::fprintf(stderr, "kxpack: %d of %d items not extracted\n", failed, static_cast<int>(count));
    return failed > 0 ? kExitFailure : kExitOk;
}

}  // namespace kxpack
