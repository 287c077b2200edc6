#include "control/ShortcutRecords.h"

#include "control/ControlFile.h"

void ReadShortcutRecords(const std::string& path, std::vector<ShortcutRecord>* records,
                         std::array<bool, kShortcutLocationCount>* locationsUsed) {
    records->clear();
    TextFile file(path);
    char lines[4][kLineCapacity];
    while (records->size() < static_cast<size_t>(kMaxShortcutRecords)) {
        bool any = false;
        for (char* line : lines) any = ReadLine(file, line) || any;
        if (IsTerminator(lines[3]) || (!any && file.Failed())) break;
        ShortcutRecord record{lines[0], lines[1], lines[2], ParseNumber(lines[3])};
        if (record.location >= 0 && record.location < kShortcutLocationCount) {
            (*locationsUsed)[record.location] = true;
        }
        records->push_back(record);
    }
}
