#include "control/MacroExpander.h"

#include <algorithm>
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

std::string BuiltInValue(const MacroTable& table, const BuiltIn& builtIn, const std::string& installPath) {
    if (builtIn.folderId == platform::kFolderProgramFiles && table.programFilesFolder != 0) {
        return platform::GetSpecialFolderPath(table.programFilesFolder);
    }
    if (builtIn.folderId != 0) return platform::GetSpecialFolderPath(builtIn.folderId);
    if (!installPath.empty() && installPath.back() == '\\') return installPath.substr(0, installPath.size() - 1);
    return installPath;
}

bool StartsWithAt(const std::string& text, size_t position, const std::string& word) {
    return !word.empty() && text.compare(position, word.size(), word) == 0;
}

// One pass over the input: what was inserted is behind the scan and never
// looked at again, so the output is only ever appended to.
struct Expansion {
    const std::string& input;
    size_t position = 0;  // in input
    std::string output;

    // Puts value in place of the next length characters, unless the whole
    // text would outgrow the largest expansion.
    bool Replace(size_t length, const std::string& value) {
        const size_t rest = input.size() - position - length;
        if (output.size() + value.size() + rest >= kLargestExpansion) return false;
        output += value;
        position += length;
        return true;
    }
};

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
    Expansion expansion{input};
    expansion.output.reserve(std::max(kExpansionStart, input.size()));
    for (;;) {
        const size_t next = input.find('%', expansion.position);
        expansion.output.append(input, expansion.position, next == std::string::npos ? std::string::npos : next - expansion.position);
        if (next == std::string::npos) break;
        expansion.position = next;
        bool replaced = false;
        for (const BuiltIn& builtIn : kBuiltIns) {
            const size_t length = std::strlen(builtIn.text);
            if (input.compare(expansion.position, length, builtIn.text) != 0) continue;
            replaced = expansion.Replace(length, BuiltInValue(table, builtIn, installPath));
            break;
        }
        // Every record is tried where the scan stands, each after the one before.
        for (const MacroRecord& record : table.records) {
            if (!StartsWithAt(input, expansion.position, record.name)) continue;
            replaced = expansion.Replace(record.name.size(), MacroValue(record)) || replaced;
        }
        if (!replaced) expansion.output += input[expansion.position++];
    }
    return expansion.output;
}

void ExpandMacrosInFile(const MacroTable& table, const std::string& path, const std::string& installPath) {
    int64_t size = 0;
    if (!QueryFileStatus(path, &size) || size >= static_cast<int64_t>(kLargestExpansion)) return;
    // In UTF-8 an ANSI byte may take three.
    const std::string text = ReadWholeText(path, static_cast<int>(size * 3 + 1));
    (void)WriteText(path, ExpandMacros(table, text, installPath));  // a failed write leaves the text unexpanded
}
