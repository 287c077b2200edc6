#pragma once
// Windows paths as text: the rules that keep the uninstaller's removals
// inside what the installation made. Paths are UTF-8; "/" and "\" both
// separate folders. Letter case is folded for ASCII letters only: the
// paths compared come from one installer's own texts.

#include <string>

// The path with "\" between folders.
std::string WithBackslashes(std::string path);
// "X:\..." or "\\server\share\...": no relative, drive-relative or device
// path, no "." or ".." component (nor one of dots and blanks alone, which
// the system reads as such), no stream name after a ":".
bool IsPlainAbsolutePath(const std::string& path);
// Whether path lies below folder (which ends with "\"), letter case aside.
bool LiesInside(const std::string& path, const std::string& folder);
// The same path, letter case and separators aside.
bool SamePath(const std::string& a, const std::string& b);
// The path as SamePath compares it: a key for sets of paths.
std::string FoldedPath(std::string path);
// The folder part of a path, up to and with its last "\"; empty without one.
std::string FolderOf(const std::string& path);
// The part after the last "\".
std::string LastComponent(const std::string& path);
