// Feeds arbitrary macros.txt and control-file contents to the control-file
// reader and the macro expander, checking the limits they promise: lines of
// at most 259 characters, whole texts within their capacity, and an expanded
// file that is either unchanged or below the expansion buffer's size.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control/ControlFile.h"
#include "control/MacroExpander.h"
#include "platform/Platform.h"

namespace {

const std::string& Scratch() {
    static const std::string folder = [] {
        // TMPDIR may point at a memory file system: the targets write files each run.
        const char* temp = std::getenv("TMPDIR");
        std::string path = std::string(temp != nullptr && *temp != 0 ? temp : "/tmp") +
                           "/kx-fuzz-control-" + std::to_string(getpid());
        platform::CreateFolder(path.c_str());
        return path + "/";
    }();
    return folder;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return;
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

void ReadAllLines(const std::string& path) {
    TextFile file(path);
    char line[kLineCapacity];
    for (int i = 0; i < 100000 && ReadLine(file, line); ++i) {
        Check(std::strlen(line) < kLineCapacity, "line within 259 characters");
        (void)ParseNumber(line);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string macros = input.ConsumeRandomLengthString(4096);
    const std::string installPath = input.ConsumeRandomLengthString(300);
    const std::string content = input.ConsumeRemainingBytesAsString();
    const std::string macrosPath = Scratch() + "macros.txt";
    const std::string controlPath = Scratch() + "control.txt";
    WriteFile(macrosPath, macros);
    WriteFile(controlPath, content);

    MacroTable table;
    LoadMacroTable(table, macrosPath);
    Check(table.records.size() <= static_cast<size_t>(kMaxMacroRecords), "table within capacity");
    ExpandMacrosInFile(table, controlPath, installPath);

    int64_t expandedSize = 0;
    Check(QueryFileStatus(controlPath, &expandedSize), "expanded file still there");
    if (content.size() >= kLargestExpansion) {
        Check(expandedSize == static_cast<int64_t>(content.size()), "a file too large to expand is unchanged");
    }
    ReadAllLines(controlPath);

    char small[kUninstallTextCapacity + 1];
    std::memset(small, 0, sizeof small);
    small[kUninstallTextCapacity] = 'G';
    ReadWholeFile(controlPath, small, kUninstallTextCapacity);
    Check(small[kUninstallTextCapacity] == 'G' && std::strlen(small) < kUninstallTextCapacity, "whole text bounded");
    return 0;
}
