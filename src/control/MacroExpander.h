#pragma once
// Macros written between percent signs in control files: four built-ins and
// the package's own, plain or read from the registry at expansion time.

#include <cstdint>
#include <string>
#include <vector>

constexpr int kMaxMacroRecords = 1024;
// The expanded text starts with this much room and grows with the file; a
// replacement that would take it past the largest size is not made.
constexpr size_t kExpansionStart = 131072;
constexpr size_t kLargestExpansion = 64u * 1024 * 1024;

struct MacroRecord {
    std::string name;       // as written in the text, percent signs included
    std::string value;      // the text, or for a registry macro the root's name
    std::string subKey;     // registry macros only
    std::string valueName;  // registry macros only; empty reads the default value
};

// Records in the order of macros.txt, which is the order they are tried in.
// Filled once by the loader, read-only afterwards.
struct MacroTable {
    std::vector<MacroRecord> records;  // at most kMaxMacroRecords
    // The shell folder "%program files%" stands for; 0 for the system's
    // Program Files. A per-user install sets it to the user's own.
    int programFilesFolder = 0;
};

// Reads macros.txt: groups of four lines, ending at the first group whose
// fourth line begins with "/", at the end of the file, or at the table's
// capacity. A missing file leaves the table empty.
void LoadMacroTable(MacroTable& table, const std::string& path);

// The name the product is registered under: the value of the last record,
// as stored; empty for an empty table.
std::string ProductName(const MacroTable& table);

// Rewrites the file at path with its macros replaced in one pass; inserted
// values are never rescanned. installPath is the value of "%install path%"
// (one trailing backslash removed). A missing file is not created. A file of
// kLargestExpansion bytes or more is left as it is, and a replacement that
// would grow the text to that size is not made, so nothing is ever cut off.
void ExpandMacrosInFile(const MacroTable& table, const std::string& path, const std::string& installPath);

// Expands text in memory by the same rules.
std::string ExpandMacros(const MacroTable& table, const std::string& text, const std::string& installPath);
