#pragma once
// shortcuts.txt: groups of four lines, each group one shortcut.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

constexpr int kMaxShortcutRecords = 98304;
constexpr int kShortcutLocationCount = 3;  // 0 desktop, 1 start menu, 2 quick launch
constexpr int32_t kQuickLaunchLocation = 2;

struct ShortcutRecord {
    std::string group;
    std::string name;
    std::string target;
    int32_t location = 0;
};

// Reads the records of the file at path into records (replacing what it
// held), setting the flag of every location that occurs (flags are never
// cleared). The list ends at a group whose fourth line begins with "/", at
// the end of the file or at kMaxShortcutRecords.
void ReadShortcutRecords(const std::string& path, std::vector<ShortcutRecord>* records,
                         std::array<bool, kShortcutLocationCount>* locationsUsed);
