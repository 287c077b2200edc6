#pragma once
// What "build --uninstaller" adds to a package, in the archive only (the
// package folder is never changed): kxuninst.exe as the payload item
// uninstall.exe, its line in fileinfo.txt, uninstall.txt naming it, and an
// uninstall_info.txt with the quiet uninstall command when the package has
// none.

#include <string>
#include <vector>

#include "PackageTree.h"

namespace kxpack {

constexpr char kUninstallerItem[] = "uninstall.exe";
constexpr char kUninstallerProgram[] = "kxuninst.exe";

// Why the package cannot take the uninstaller: it has its own uninstall.txt,
// or a payload file uninstall.exe. Each message names the stored item.
struct UninstallerConflict {
    std::string item;
    std::string message;
};
std::vector<UninstallerConflict> FindUninstallerConflicts(const std::vector<PackageEntry>& entries);

// fileinfo.txt's text with the uninstaller's line before its terminator
// (at its end when it has none), in the file's own line ends.
std::string WithUninstallerLine(const std::string& fileInfo);

// Adds the entries to a package without conflicts; the generated files are
// written into scratchFolder. False with a message in *error.
bool AddUninstaller(std::vector<PackageEntry>* entries, const std::string& program, const std::string& scratchFolder,
                    std::string* error);

}  // namespace kxpack
