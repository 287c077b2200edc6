#include "startup/ControlFiles.h"

#include "control/ControlFile.h"
#include "archive/PackageFormat.h"
#include "control/MacroExpander.h"
#include "common/Log.h"
#include "install/Installation.h"
#include "platform/Platform.h"

namespace {

constexpr int kFullscreenLines = 27;

struct Workspace {
    std::string folder;  // the control folder in the workspace, with its separator
    std::string File(const char* name) const { return folder + name; }
};

// Expands a text file that carries product wording, then reads it whole.
bool ExpandAndReadText(InstallerState& state, const std::string& path, std::string* text) {
    ExpandMacrosInFile(state.macroTable, path, std::string());
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return false;
    *text = ReadWholeText(path, kWholeTextCapacity);
    return true;
}

void ReadDefaultFolder(InstallerState& state, const std::string& path) {
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return;
    char line[kLineCapacity];
    {
        TextFile raw(path);
        ReadLine(raw, line);
        state.defaultFolderTemplate = line;
        ReadLine(raw, line);
        state.preferredFolderTemplate = line;
    }
    ExpandMacrosInFile(state.macroTable, path, std::string());
    TextFile file(path);
    ReadLine(file, line);
    state.defaultFolder = line;
    ReadLine(file, line);
    state.preferredFolder = line;
}

// Where an earlier version is installed, the new one goes by default, unless
// the package installs side by side (side_by_side.txt).
void ReadPreviousFolder(InstallerState& state, const std::string& sideBySidePath) {
    int64_t size = 0;
    if (QueryFileStatus(sideBySidePath, &size)) return;
    if (!FindPreviousInstallFolder(ProductName(state.macroTable), &state.previousFolder)) return;
    LogEvent("an earlier installation is in " + state.previousFolder + ": the folder page starts there");
}

// The loader only learns which locations occur; the worker reads the whole
// records again, expanded, at install time.
void ReadShortcutLocations(InstallerState& state, const std::string& path) {
    int64_t size = 0;
    state.shortcutsDefined = QueryFileStatus(path, &size);
    if (!state.shortcutsDefined) return;
    ReadShortcutRecords(path, &state.shortcutTable, &state.shortcutLocationUsed);
    state.shortcutCount = static_cast<int32_t>(state.shortcutTable.size());
}

void ReadInstallerSettings(InstallerState& state, const std::string& path) {
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return;
    TextFile file(path);
    char line[kLineCapacity];
    ReadLine(file, line);
    state.progressBarIndex = ParseNumber(line);
    ReadLine(file, line);
    state.separateProgressWindow = ParseSwitch(line);
}

void ReadFullscreenSettings(InstallerState& state, const std::string& path) {
    ExpandMacrosInFile(state.macroTable, path, std::string());
    TextFile file(path);
    char lines[kFullscreenLines][kLineCapacity];
    for (char* line : lines) ReadLine(file, line);
    auto number = [&lines](int lineNumber) { return ParseNumber(lines[lineNumber - 1]); };
    auto colour = [&number](int firstLine) {
        return ColourFromNumbers(number(firstLine), number(firstLine + 1), number(firstLine + 2));
    };
    state.backgroundText = lines[0];
    state.borderlessBackground = std::string(lines[1]) == "without";
    state.backgroundWidth = number(3);
    state.backgroundHeight = number(4);
    platform::FontDescription& font = state.backgroundFontSpec;
    font.face = lines[4];
    font.pointSize = number(6);
    font.weight = number(7);
    font.italic = number(8);
    font.underline = number(9);
    font.strikeOut = number(10);
    font.characterSet = number(11);
    state.textFormat = static_cast<uint32_t>(number(12));
    state.gradientEnabled = ParseSwitch(lines[12]);
    state.shadowEnabled = ParseSwitch(lines[13]);
    state.shadowOffset = number(15);
    state.textColour = colour(16);
    state.shadowColour = colour(19);
    state.backgroundColour = colour(22);
    state.gradientEndColour = colour(25);
    state.backgroundFont = platform::CreateScreenFont(font);
}

}  // namespace

Colour ColourFromNumbers(int32_t red, int32_t green, int32_t blue) {
    return (static_cast<uint32_t>(red) & 0xFF) | ((static_cast<uint32_t>(green) & 0xFF) << 8) |
           ((static_cast<uint32_t>(blue) & 0xFF) << 16);
}

bool LoadControlFiles(InstallerState& state, const std::string& workspaceBase) {
    const Workspace workspace{workspaceBase + package::kControlFolder + "\\"};
    int64_t size = 0;
    if (QueryFileStatus(workspace.File("font"), &size)) {
        (void)platform::RegisterFontFile(workspace.File("font").c_str());  // a bad font just isn't used
    }
    LoadMacroTable(state.macroTable, workspace.File("macros.txt"));
    state.macroTable.programFilesFolder = FoldersFor(state.scope).programFiles;
    ExpandAndReadText(state, workspace.File("wt.txt"), &state.welcomeText);
    std::string title;
    ExpandAndReadText(state, workspace.File("tt.txt"), &title);
    SetTitleText(state, title);
    ExpandAndReadText(state, workspace.File("license.txt"), &state.licenseText);
    ReadDefaultFolder(state, workspace.File("def_install.txt"));
    ReadPreviousFolder(state, workspace.File("side_by_side.txt"));
    ReadShortcutLocations(state, workspace.File("shortcuts.txt"));
    ReadInstallerSettings(state, workspace.File("installer_settings.txt"));
    if (!QueryFileStatus(workspace.File("fullscreen.txt"), &size)) {
        state.loadingComplete.store(true, std::memory_order_release);
        return false;
    }
    ReadFullscreenSettings(state, workspace.File("fullscreen.txt"));
    return true;
}
