#include "Uninstaller.h"

#include "MadeFiles.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "archive/PackageFormat.h"

namespace kxpack {
namespace {

const char kUninstallerLine[] = "uninstall.exe|%install path%\\";
const char kUninstallText[] = "%install path%\\uninstall.exe";
// Lines 1 to 4 (version, publisher, icon, web page) are the package's to give.
const char kUninstallInfo[] = "\r\n\r\n\r\n\r\n\"%install path%\\uninstall.exe\" /S\r\n";

bool SameNameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace

std::vector<UninstallerConflict> FindUninstallerConflicts(const std::vector<PackageEntry>& entries) {
    std::vector<UninstallerConflict> conflicts;
    for (const PackageEntry& entry : entries) {
        if (entry.name == kControlPrefix + "uninstall.txt") {
            conflicts.push_back({entry.name, "the package names its own uninstaller here, and --uninstaller writes "
                                             "this file: remove it, or build without --uninstaller"});
        } else if (!entry.isControl && SameNameIgnoringCase(entry.name, kUninstallerItem)) {
            conflicts.push_back({entry.name, "a payload file of this name would take the place of the uninstaller "
                                             "that --uninstaller adds: rename it, or build without --uninstaller"});
        }
    }
    return conflicts;
}

std::string WithUninstallerLine(const std::string& fileInfo) {
    const std::string lineEnd =
        (fileInfo.find("\r\n") != std::string::npos || fileInfo.find('\n') == std::string::npos) ? "\r\n" : "\n";
    const std::string line = kUninstallerLine + lineEnd;
    // Lines start after the byte order mark and after every LF.
    size_t start = fileInfo.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start < fileInfo.size()) {
        if (fileInfo[start] == '/') return fileInfo.substr(0, start) + line + fileInfo.substr(start);
        const size_t end = fileInfo.find('\n', start);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const bool needsBreak = !fileInfo.empty() && fileInfo.back() != '\n';
    return fileInfo + (needsBreak ? lineEnd : "") + line;
}

bool AddUninstaller(std::vector<PackageEntry>* entries, const std::string& program, const std::string& scratchFolder,
                    std::string* error) {
    struct stat info {};
    if (stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = "uninstaller not found: " + program;
        return false;
    }
    AddControlFolder(entries);
    std::string fileInfo = "////\r\n";  // for a package without one
    if (const PackageEntry* existing = FindEntry(entries, kControlPrefix + "fileinfo.txt")) {
        fileInfo.clear();
        if (!ReadWholeFile(existing->path, &fileInfo, error)) return false;
    }
    if (!PutControlFile(entries, "fileinfo.txt", WithUninstallerLine(fileInfo), scratchFolder, error) ||
        !PutControlFile(entries, "uninstall.txt", kUninstallText, scratchFolder, error)) {
        return false;
    }
    if (FindEntry(entries, kControlPrefix + "uninstall_info.txt") == nullptr &&
        !PutControlFile(entries, "uninstall_info.txt", kUninstallInfo, scratchFolder, error)) {
        return false;
    }
    entries->push_back(MadeEntry(kUninstallerItem, program, static_cast<int64_t>(info.st_size),
                                 static_cast<int64_t>(info.st_mtime)));
    SortPackageEntries(entries);
    return true;
}

}  // namespace kxpack
