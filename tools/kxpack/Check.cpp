// kxpack check: the control-file mistakes that the installer passes over
// without a word, one "FILE:LINE: message" per line on stdout.
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "Commands.h"
#include "PackageCheck.h"
#include "PackageTree.h"
#include "archive/PackageFormat.h"

namespace kxpack {
namespace {

// A private folder for the extracted control items, removed with them.
class ScratchFolder {
public:
    bool Create() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/kxpack-check-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) return false;
        std::error_code ignored;  // the reader needs absolute targets; a relative one fails there
        path_ = std::filesystem::absolute(pattern, ignored).string();
        return true;
    }
    ~ScratchFolder() {
        std::error_code ignored;  // a leftover temporary folder is harmless
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

bool IsControlName(const char* name) {
    return std::string(name).compare(0, package::kControlFolderLength, package::kControlFolder) == 0;
}

// Writes one control item under folder as the installer's loader would.
bool ExtractControlItem(ArchiveHandle archive, const ArchiveEntry& entry, const std::string& folder) {
    if (!IsSafeRelativeName(entry.name)) {
        std::fprintf(stderr, "kxpack: warning: skipped '%s': not a safe name to write\n", entry.name);
        return true;
    }
    const std::string target = folder + "/" + entry.name;
    if (target.size() >= static_cast<size_t>(kArchiveNameCapacity)) {
        std::fprintf(stderr, "kxpack: %s: path of %zu characters is too long for the reader; set TMPDIR shorter\n",
                     target.c_str(), target.size());
        return false;
    }
    const ArchiveResult result = ExtractArchiveItem(archive, entry.index, target.c_str());
    if (result == ArchiveResult::Ok) return true;
    std::fprintf(stderr, "kxpack: %s: %s\n", entry.name, DescribeArchiveResult(result));
    return false;
}

// Extracts the control items of an installer or ZIP into folder and lists
// the payload; false after a message on stderr.
bool ReadArchiveContents(const std::string& path, const std::string& folder, PackageContents* contents) {
    int32_t count = 0;
    ArchivePtr archive = OpenPackageForReading(path, &count);
    if (!archive) return false;
    contents->root = folder;
    for (int32_t i = 0; i < count; ++i) {
        ArchiveEntry entry;
        const ArchiveResult result = GetArchiveItem(archive.get(), i, &entry);
        if (result != ArchiveResult::Ok) {
            std::fprintf(stderr, "kxpack: %s: item %d: %s\n", path.c_str(), static_cast<int>(i),
                         DescribeArchiveResult(result));
            return false;
        }
        if (!IsControlName(entry.name)) {
            contents->payloadItems.push_back(entry.name);
            continue;
        }
        if (!ExtractControlItem(archive.get(), entry, folder)) return false;
        contents->controlItems.push_back(entry.name);
    }
    return true;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int CheckAndPrint(const PackageContents& contents) {
    const std::vector<Finding> findings = CheckPackage(contents);
    bool faults = false;
    for (const Finding& finding : findings) {
        std::printf("%s\n", FormatFinding(finding).c_str());
        faults = faults || !finding.hint;
    }
    return faults ? kExitFailure : kExitOk;
}

}  // namespace

int RunCheck(const Arguments& args) {
    Arguments inputs;
    bool addsUninstaller = false;
    for (const std::string& arg : args) {
        if (arg == "--uninstaller") {
            addsUninstaller = true;
        } else {
            inputs.push_back(arg);
        }
    }
    if (inputs.size() != 1) return UsageError("check takes exactly one PACKAGE_DIR or FILE");
    const std::string& input = inputs[0];
    if (input.empty()) return UsageError("check: PACKAGE_DIR or FILE is empty");
    if (input[0] == '-') return UsageError("check: unknown option '" + input + "'");
    if (IsFolder(input)) {
        std::vector<PackageEntry> entries;
        std::string error;
        if (!CollectPackageEntries(input, &entries, &error)) {
            std::fprintf(stderr, "kxpack: %s\n", error.c_str());
            return kExitFailure;
        }
        PackageContents contents = ContentsOfFolder(input, entries);
        contents.addsUninstaller = addsUninstaller;
        return CheckAndPrint(contents);
    }
    if (addsUninstaller) return UsageError("check: --uninstaller applies to a PACKAGE_DIR, not to a built FILE");
    ScratchFolder scratch;
    if (!scratch.Create()) {
        std::perror("kxpack: cannot create a temporary folder");
        return kExitFailure;
    }
    PackageContents contents;
    if (!ReadArchiveContents(input, scratch.Path(), &contents)) return kExitFailure;
    return CheckAndPrint(contents);
}

}  // namespace kxpack
