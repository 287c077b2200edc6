#include "control/MacroExpander.h"

#include <cstring>

#include "control/ControlFile.h"
#include "platform/Platform.h"

namespace {

struct BuiltIn {
    const char* text;
    int folderId;  // 0 for "%install path%"
};
const BuiltIn kBuiltIns[] = {
    {"%program files%", platform::kFolderProgramFiles},
    {"%windows%", platform::kFolderWindows},
    {"%system%", platform::kFolderSystem},
    {"%install path%", 0},
};

bool RootFromName(const std::string& name, platform::RegistryRoot* root) {
    static const struct {
        const char* name;
        platform::RegistryRoot root;
    } kRoots[] = {
        {"HKEY_CLASSES_ROOT", platform::RegistryRoot::ClassesRoot},
        {"HKEY_CURRENT_USER", platform::RegistryRoot::CurrentUser},
        {"HKEY_LOCAL_MACHINE", platform::RegistryRoot::LocalMachine},
        {"HKEY_USERS", platform::RegistryRoot::Users},
        {"HKEY_CURRENT_CONFIG", platform::RegistryRoot::CurrentConfig},
    };
    for (const auto& known : kRoots) {
        if (name == known.name) {
            *root = known.root;
            return true;
        }
    }
    return false;
}

bool IsRegistryMacro(const MacroRecord& record) { return !record.subKey.empty() || !record.valueName.empty(); }

// The value is read afresh for every occurrence; anything unreadable is empty.
std::string MacroValue(const MacroRecord& record) {
    if (!IsRegistryMacro(record)) return record.value;
    platform::RegistryRoot root;
    std::string value;
    if (!RootFromName(record.value, &root)) return std::string();
    if (!platform::ReadRegistryString(root, record.subKey, record.valueName, &value)) return std::string();
    return value;
}

std::string BuiltInValue(const BuiltIn& builtIn, const std::string& installPath) {
    if (builtIn.folderId != 0) return platform::GetSpecialFolderPath(builtIn.folderId);
    if (!installPath.empty() && installPath.back() == '\\') return installPath.substr(0, installPath.size() - 1);
    return installPath;
}

bool StartsWithAt(const std::string& text, size_t position, const std::string& word) {
    return !word.empty() && text.compare(position, word.size(), word) == 0;
}

// Replaces length characters at position by value unless the text would
// outgrow the expansion buffer. Moves position behind what now stands there.
bool Replace(std::string& text, size_t* position, size_t length, const std::string& value) {
    if (text.size() - length + value.size() >= static_cast<size_t>(kExpansionCapacity)) return false;
    text.replace(*position, length, value);
    *position += value.size();
    return true;
}

// Always UTF-8 with the mark: the expanded copy is read by the installer
// alone, and an install folder may hold characters of any language.
bool WriteText(const std::string& path, const std::string& text) {
    std::FILE* file = platform::OpenStream(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(kUtf8Mark, 1, kUtf8MarkLength, file) == kUtf8MarkLength;
    for (char c : text) {
        if (c == '\n') ok = ok && std::fputc('\r', file) != EOF;
        ok = ok && std::fputc(c, file) != EOF;
    }
    return std::fclose(file) == 0 && ok;
}

}  // namespace

void LoadMacroTable(MacroTable& table, const std::string& path) {
    table.records.clear();
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return;
    TextFile file(path);
    char lines[4][kLineCapacity];
    while (static_cast<int>(table.records.size()) < kMaxMacroRecords) {
        bool any = false;
        for (char* line : lines) any = ReadLine(file, line) || any;
        if (IsTerminator(lines[3]) || (!any && file.Failed())) break;
        table.records.push_back(MacroRecord{lines[0], lines[1], lines[2], lines[3]});
    }
}

std::string ProductName(const MacroTable& table) {
    return table.records.empty() ? std::string() : table.records.back().value;
}

std::string ExpandMacros(const MacroTable& table, const std::string& input, const std::string& installPath) {
    std::string text = input;
    for (size_t position = text.find('%'); position != std::string::npos; position = text.find('%', position)) {
        bool replaced = false;
        for (const BuiltIn& builtIn : kBuiltIns) {
            const size_t length = std::strlen(builtIn.text);
            if (text.compare(position, length, builtIn.text) != 0) continue;
            replaced = Replace(text, &position, length, BuiltInValue(builtIn, installPath));
            break;
        }
        for (const MacroRecord& record : table.records) {
            if (!StartsWithAt(text, position, record.name)) continue;
            replaced = Replace(text, &position, record.name.size(), MacroValue(record)) || replaced;
        }
        if (!replaced) position += 1;
    }
    return text;
}

void ExpandMacrosInFile(const MacroTable& table, const std::string& path, const std::string& installPath) {
    int64_t size = 0;
    if (!QueryFileStatus(path, &size) || size >= kExpansionCapacity) return;
    // In UTF-8 an ANSI byte may take three.
    const std::string text = ReadWholeText(path, kExpansionCapacity * 3 + 1);
    (void)WriteText(path, ExpandMacros(table, text, installPath));  // a failed write leaves the text unexpanded
}
