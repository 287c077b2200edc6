#pragma once
// The uninstall list that the installer leaves beside the uninstaller, as
// the uninstaller reads it back. Plain code: no window, no registry.

#include <string>
#include <vector>

#include "common/Scope.h"

struct UninstallList {
    std::string product;             // line 1
    // Line 2 "scope=user" or "scope=machine" where the package has a scope;
    // a list without it is from a package without one.
    Scope scope = Scope::Legacy;
    std::vector<std::string> items;  // placed files and folders, shortcut folders and links; may be empty
    // The closing lines. Only the list in the install folder has them; the
    // copy beside an uninstaller in a sub-folder ends after the shortcuts.
    bool complete = false;
    std::string copyPath;     // the list beside the uninstaller
    std::string installPath;  // ends with "\"
};

// The list's longest size: far above what 100,000 long paths need.
constexpr size_t kLargestUninstallList = 64u * 1024 * 1024;

// Reads the list at path: in UTF-8 when it starts with the byte order mark,
// else in the system's ANSI code page. False when it is missing, too large,
// has no product name, or its closing lines do not hold an install path.
bool ReadUninstallList(const std::string& path, UninstallList* list);

// What the user is told when the list cannot be read.
std::string ListDamagedText(const std::string& listPath);
