#pragma once
// Lint of a package's control files. The installer never reports a mistake
// in them: a bad line reads as empty text, 0 or false, an unknown macro stays
// in the text, an unmatched file name places nothing. This check reads the
// files with the installer's own readers and says where that would happen.

#include <string>
#include <vector>

#include "PackageTree.h"

namespace kxpack {

// What the check looks at. Control files are read from root + "/" + their
// stored name; payload names come from the package's listing.
struct PackageContents {
    std::string root;                       // the folder that holds "%KXInstall%"
    std::vector<std::string> controlItems;  // stored names beginning with "%KXInstall%"
    std::vector<std::string> payloadItems;  // stored names: '/' between folders, folders end in '/'
    bool addsUninstaller = false;           // built with --uninstaller: see Uninstaller.h
};

struct Finding {
    std::string file;  // stored name of the control item, e.g. "%KXInstall%/tt.txt"
    int line = 1;      // 1-based; whole-file findings name line 1
    std::string message;
    bool hint = false;  // told, but no fault: the check still passes
};

// Every finding, ordered by file and line; empty for a clean package.
std::vector<Finding> CheckPackage(const PackageContents& contents);

// "FILE:LINE: message", the form compilers use, so editors can jump to it.
std::string FormatFinding(const Finding& finding);

// The contents of a package folder whose entries CollectPackageEntries listed.
PackageContents ContentsOfFolder(const std::string& packageDir, const std::vector<PackageEntry>& entries);

}  // namespace kxpack
