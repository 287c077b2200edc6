#pragma once
#include <string>

// Removes folder and everything below it. Read-only files are deleted too.
// A junction or symbolic link, whether inside or folder itself, is removed
// itself, never followed, so nothing outside the tree is touched. Stops at
// the first entry that cannot be removed and returns false; what was
// removed before stays removed. A file given as folder is not removed.
bool RemoveFolderTree(const std::string& folder);
