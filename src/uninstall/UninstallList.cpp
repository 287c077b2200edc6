#include "uninstall/UninstallList.h"

#include <cstdio>
#include <cstring>

#include "text/TextEncoding.h"
#include "common/PathText.h"
#include "platform/Platform.h"

namespace {

const char kEndMarker[] = "||||";

// The whole file, or false when it cannot be read or is too large to be a list.
bool ReadListBytes(const std::string& path, std::string* bytes) {
    std::FILE* file = platform::OpenStream(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    bool fits = true;
    for (size_t got; fits && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        fits = bytes->size() + got <= kLargestUninstallList;
        if (fits) bytes->append(chunk, got);
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    return fits && !failed;
}

// Lines ended by CR LF (a bare LF also ends one); no empty line after the last.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

}  // namespace

bool ReadUninstallList(const std::string& path, UninstallList* list) {
    std::string bytes;
    if (!ReadListBytes(path, &bytes)) return false;
    // The installer writes the list in UTF-8 only with the mark; an ANSI
    // list may look like UTF-8 by chance and must not be read as such.
    const bool utf8 = bytes.compare(0, kUtf8MarkLength, kUtf8Mark) == 0;
    const std::string text = utf8 ? bytes.substr(kUtf8MarkLength) : platform::AnsiToUtf8(bytes);
    std::vector<std::string> lines = SplitLines(text);
    if (lines.empty() || lines[0].empty()) return false;
    *list = UninstallList();
    list->product = lines[0];
    size_t itemsStart = 1;
    const std::string scopePrefix = "scope=";
    if (lines.size() > 1 && lines[1].compare(0, scopePrefix.size(), scopePrefix) == 0) {
        list->scope = ScopeFromName(lines[1].substr(scopePrefix.size()));
        itemsStart = 2;
    }
    size_t itemsEnd = lines.size();
    if (lines.back() == kEndMarker) {
        if (lines.size() < itemsStart + 3) return false;
        list->complete = true;
        list->copyPath = lines[lines.size() - 3];
        list->installPath = lines[lines.size() - 2];
        if (!IsPlainAbsolutePath(list->installPath) || WithBackslashes(list->installPath).back() != '\\') return false;
        itemsEnd = lines.size() - 3;
    }
    list->items.assign(lines.begin() + static_cast<std::ptrdiff_t>(itemsStart), lines.begin() + static_cast<std::ptrdiff_t>(itemsEnd));
    return true;
}

std::string ListDamagedText(const std::string& listPath) {
    std::string folder = FolderOf(listPath);
    if (!folder.empty()) folder.pop_back();
    return "The uninstall list " + listPath + " is missing or damaged, so " + LastComponent(folder) +
           " can't be removed automatically.";
}
