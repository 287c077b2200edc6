#include "PackageCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>

#include "MadeFiles.h"
#include "Uninstaller.h"
#include "archive/PackageFormat.h"
#include "common/Scope.h"
#include "control/ControlFile.h"
#include "control/MacroExpander.h"

namespace kxpack {
namespace {

constexpr size_t kLongestLine = kLineCharacters;
constexpr size_t kGroupLines = 4;
constexpr size_t kSettingsLines = 2;     // def_install.txt, installer_settings.txt
constexpr size_t kFullscreenLines = 27;
constexpr size_t kPlacementLines = 3;
constexpr size_t kUninstallInfoLines = 5;  // version, publisher, icon, web page, quiet command
// The loader reads each line of a picture's placement file into room for
// 4 characters; the rest of a longer line is skipped.
constexpr size_t kPlacementLineCharacters = 4;
constexpr size_t kLongestMacroName = 32;  // characters between the percent signs
constexpr int32_t kShortcutLocations = 3;  // 0 desktop, 1 start menu, 2 quick launch

const size_t kFullscreenNumberLines[] = {3,  4,  6,  7,  8,  9,  10, 11, 12, 15, 16,
                                         17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27};
const size_t kFullscreenSwitchLines[] = {13, 14};

// The expander's built-in macros, in the order it tries them.
const char* const kBuiltInMacros[] = {"%program files%", "%windows%", "%system%", "%install path%"};

struct WholeText {
    const char* name;
    int capacity;
};
const WholeText kWholeTexts[] = {
    {"wt.txt", kWholeTextCapacity},
    {"tt.txt", kWholeTextCapacity},
    {"license.txt", kWholeTextCapacity},
    {"uninstall.txt", kUninstallTextCapacity},
    {"eoi_file.txt", kEndOfInstallTextCapacity},
    {"eoi_message.txt", kEndOfInstallTextCapacity},
    {"eoi_buttons.txt", kEndOfInstallTextCapacity},
};

const std::string kBackgroundPrefix = kControlPrefix + "bgimg/";

// One control file as the installer's text mode reads it.
struct ControlText {
    std::string item;                // stored name
    int64_t size = 0;                // bytes on disk
    TextEncoding encoding = TextEncoding::Ansi;
    std::vector<std::string> lines;  // CR LF read as LF; a final line break adds no empty line
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsMacroNameCharacter(char c) { return IsLetter(c) || IsDigit(c) || c == ' ' || c == '_' || c == '.' || c == '-'; }

std::string ToLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Split with the core's text stream, so CR LF and lone CR read as they do
// in the installer, but without its line limit, so long lines can be measured.
std::vector<std::string> ReadTextLines(const std::string& path, TextEncoding* encoding) {
    TextFile file(path);
    *encoding = file.Encoding();
    std::vector<std::string> lines;
    std::string line;
    for (int c = file.Get(); c != EOF; c = file.Get()) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

// A digit after optional blanks and an optional sign: ParseNumber reads 0
// both for "0" and for a line without a number, so that is told apart here.
bool HoldsNumber(const std::string& line) {
    size_t i = line.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos) return false;
    if (line[i] == '+' || line[i] == '-') ++i;
    return i < line.size() && IsDigit(line[i]);
}

// Length of the macro-like word that starts at position (a '%'), percent
// signs included; 0 when the text there does not look like a macro.
size_t MacroLikeLength(const std::string& line, size_t position) {
    const size_t first = position + 1;
    if (first >= line.size() || !IsLetter(line[first])) return 0;
    size_t length = 0;
    while (first + length < line.size() && length < kLongestMacroName && IsMacroNameCharacter(line[first + length])) {
        ++length;
    }
    const size_t close = first + length;
    return close < line.size() && line[close] == '%' ? length + 2 : 0;
}

// How many characters from position the expander replaces, trying the
// built-ins first, then every record in table order, each behind the last
// replacement; 0 when nothing defined starts there.
size_t DefinedMacroLength(const MacroTable& table, const std::string& line, size_t position) {
    size_t at = position;
    for (const char* builtIn : kBuiltInMacros) {
        const size_t length = std::strlen(builtIn);
        if (line.compare(at, length, builtIn) == 0) {
            at += length;
            break;
        }
    }
    for (const MacroRecord& record : table.records) {
        if (!record.name.empty() && line.compare(at, record.name.size(), record.name) == 0) at += record.name.size();
    }
    return at - position;
}

// A defined macro that differs from word only in letter case, else empty.
std::string SameNameOtherCase(const MacroTable& table, const std::string& word) {
    const std::string lower = ToLower(word);
    for (const char* builtIn : kBuiltInMacros) {
        if (ToLower(builtIn) == lower) return builtIn;
    }
    for (const MacroRecord& record : table.records) {
        if (ToLower(record.name) == lower) return record.name;
    }
    return std::string();
}

// A hint for a fileinfo.txt name that matches no payload item, or empty.
std::string PayloadNameHint(const std::string& name, const std::set<std::string>& payload) {
    std::string withBackslashes = name;
    std::replace(withBackslashes.begin(), withBackslashes.end(), '/', '\\');
    if (withBackslashes != name && payload.count(withBackslashes) == 1) return "; write \"\\\" between folders";
    const std::string lower = ToLower(withBackslashes);
    for (const std::string& item : payload) {
        if (ToLower(item) == lower) return "; names match letter case: did you mean " + Quoted(item) + "?";
    }
    return std::string();
}

// Index of the first line of the closing group (the first group of four
// whose fourth line begins with "/"); the line count when there is none.
size_t FindClosingGroup(const std::vector<std::string>& lines) {
    for (size_t first = 0; first + kGroupLines <= lines.size(); first += kGroupLines) {
        if (IsTerminator(lines[first + kGroupLines - 1].c_str())) return first;
    }
    return lines.size();
}

bool IsBackgroundPicture(const std::string& item) {
    return item.compare(0, kBackgroundPrefix.size(), kBackgroundPrefix) == 0 && !EndsWith(item, ".txt");
}

class Checker {
public:
    explicit Checker(const PackageContents& contents) : contents_(contents) {}
    std::vector<Finding> Run();

private:
    bool Load(const std::string& item, ControlText* file) const;
    void Add(const ControlText& file, size_t line, const std::string& message);
    void AddHint(const ControlText& file, size_t line, const std::string& message);
    static size_t LastLine(const ControlText& file) { return std::max<size_t>(1, file.lines.size()); }

    void CheckMacroTable();
    void CheckWholeText(const WholeText& text);
    void CheckDefaultFolder();
    void CheckShortcuts();
    void CheckInstallerSettings();
    void CheckFullscreen();
    void CheckFileInfo();
    void CheckPlacementFiles();
    void CheckEncodings();
    void CheckUninstallInfo();
    void CheckUninstallerConflicts();
    void CheckScope();

    void CheckLineLengths(const ControlText& file, size_t linesRead);
    size_t CheckListEnd(const ControlText& file);
    size_t CheckGroupEnd(const ControlText& file);
    void CheckNothingAfter(const ControlText& file, size_t firstUnread, size_t endLine);
    bool CheckNumberLine(const ControlText& file, size_t line);
    void CheckSwitchLine(const ControlText& file, size_t line);
    void CheckLocationLine(const ControlText& file, size_t line);
    void CheckQuickLaunchGroup(const ControlText& file, size_t groupLine);
    void CheckPlacedName(const ControlText& file, size_t line, const std::set<std::string>& payload);
    void CheckMacroUses(const ControlText& file);
    void ReportUnknownMacro(const ControlText& file, size_t line, const std::string& word);

    const PackageContents& contents_;
    MacroTable macros_;
    std::vector<Finding> findings_;
};

std::vector<Finding> Checker::Run() {
    LoadMacroTable(macros_, contents_.root + "/" + kControlPrefix + "macros.txt");
    CheckMacroTable();
    for (const WholeText& text : kWholeTexts) CheckWholeText(text);
    CheckDefaultFolder();
    CheckShortcuts();
    CheckInstallerSettings();
    CheckFullscreen();
    CheckFileInfo();
    CheckPlacementFiles();
    CheckEncodings();
    CheckUninstallInfo();
    CheckUninstallerConflicts();
    CheckScope();
    std::stable_sort(findings_.begin(), findings_.end(), [](const Finding& a, const Finding& b) {
        return a.file != b.file ? a.file < b.file : a.line < b.line;
    });
    return findings_;
}

// False for a file that the installer would skip: missing, or not a file.
bool Checker::Load(const std::string& item, ControlText* file) const {
    const std::string path = contents_.root + "/" + item;
    if (!QueryFileStatus(path, &file->size)) return false;
    file->item = item;
    file->lines = ReadTextLines(path, &file->encoding);
    return true;
}

void Checker::Add(const ControlText& file, size_t line, const std::string& message) {
    findings_.push_back(Finding{file.item, static_cast<int>(line), message});
}

void Checker::AddHint(const ControlText& file, size_t line, const std::string& message) {
    findings_.push_back(Finding{file.item, static_cast<int>(line), message, true});
}

void Checker::CheckMacroTable() {
    ControlText file;
    if (!Load(kControlPrefix + "macros.txt", &file)) return;
    CheckLineLengths(file, CheckGroupEnd(file) + kGroupLines);
}

void Checker::CheckWholeText(const WholeText& text) {
    ControlText file;
    if (!Load(kControlPrefix + text.name, &file)) return;
    if (file.size >= text.capacity) {
        Add(file, 1, "file of " + std::to_string(file.size) + " bytes: this text must stay under " +
                         std::to_string(text.capacity) + " bytes; the installer reads at most " +
                         std::to_string(text.capacity - 1) + " characters of it");
    }
    CheckMacroUses(file);
}

void Checker::CheckDefaultFolder() {
    ControlText file;
    if (!Load(kControlPrefix + "def_install.txt", &file)) return;
    CheckLineLengths(file, kSettingsLines);
    CheckMacroUses(file);
}

void Checker::CheckShortcuts() {
    ControlText file;
    if (!Load(kControlPrefix + "shortcuts.txt", &file)) return;
    const size_t recordLines = CheckGroupEnd(file);
    CheckLineLengths(file, recordLines + kGroupLines);
    for (size_t first = 0; first + kGroupLines <= recordLines; first += kGroupLines) {
        CheckLocationLine(file, first + kGroupLines);
        CheckQuickLaunchGroup(file, first + 1);
    }
    CheckMacroUses(file);
}

void Checker::CheckInstallerSettings() {
    ControlText file;
    if (!Load(kControlPrefix + "installer_settings.txt", &file)) return;
    CheckLineLengths(file, kSettingsLines);
    CheckNumberLine(file, 1);
    CheckSwitchLine(file, 2);
}

void Checker::CheckFullscreen() {
    ControlText file;
    if (!Load(kControlPrefix + "fullscreen.txt", &file)) return;
    CheckLineLengths(file, kFullscreenLines);
    const size_t count = file.lines.size();
    // One finding for a short file rather than one per missing setting.
    if (count < kFullscreenLines) {
        Add(file, LastLine(file), "the file has " + std::to_string(count) + " of the " +
                                      std::to_string(kFullscreenLines) +
                                      " lines the installer reads; the missing settings read as empty, 0 or false");
    }
    for (size_t line : kFullscreenNumberLines) {
        if (line <= count) CheckNumberLine(file, line);
    }
    for (size_t line : kFullscreenSwitchLines) {
        if (line <= count) CheckSwitchLine(file, line);
    }
    CheckMacroUses(file);
}

void Checker::CheckFileInfo() {
    ControlText file;
    if (!Load(kControlPrefix + "fileinfo.txt", &file)) return;
    const size_t end = CheckListEnd(file);
    CheckLineLengths(file, end + 1);
    // The installer compares each name with the item's name, '/' read as '\'.
    std::set<std::string> payload;
    for (std::string name : contents_.payloadItems) {
        std::replace(name.begin(), name.end(), '/', '\\');
        payload.insert(name);
    }
    if (contents_.addsUninstaller) payload.insert(kUninstallerItem);
    for (size_t i = 0; i < end; ++i) CheckPlacedName(file, i + 1, payload);
    CheckMacroUses(file);
}

void Checker::CheckPlacementFiles() {
    const std::set<std::string> items(contents_.controlItems.begin(), contents_.controlItems.end());
    for (const std::string& item : items) {
        ControlText file;
        if (!IsBackgroundPicture(item) || !Load(item + ".txt", &file)) continue;
        for (size_t i = 0; i < std::min(kPlacementLines, file.lines.size()); ++i) {
            const std::string& line = file.lines[i];
            if (line.size() <= kPlacementLineCharacters) continue;
            Add(file, i + 1,
                "line of " + std::to_string(line.size()) + " characters: the installer reads only its first " +
                    std::to_string(kPlacementLineCharacters) + ", " + Quoted(line.substr(0, kPlacementLineCharacters)));
        }
        for (size_t line = 1; line <= kPlacementLines; ++line) CheckNumberLine(file, line);
    }
}

// Text files that are neither ASCII nor UTF-8 are read in the installing
// system's code page: their other characters depend on that system.
void Checker::CheckEncodings() {
    for (const std::string& item : contents_.controlItems) {
        if (!EndsWith(ToLower(item), ".txt")) continue;
        ControlText file;
        if (!Load(item, &file) || file.encoding != TextEncoding::Ansi) continue;
        const bool ascii = std::all_of(file.lines.begin(), file.lines.end(), [](const std::string& line) {
            return std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        });
        if (ascii) continue;
        findings_.push_back(Finding{item, 1,
                                    "not UTF-8: its non-ASCII characters are read in the installing system's code "
                                    "page and show differently on systems of other languages; save it as UTF-8",
                                    true});
    }
}

void Checker::CheckUninstallInfo() {
    ControlText file;
    if (!Load(kControlPrefix + "uninstall_info.txt", &file)) return;
    CheckLineLengths(file, kUninstallInfoLines);
    if (file.lines.size() > kUninstallInfoLines) {
        Add(file, kUninstallInfoLines + 1, "the installer reads " + std::to_string(kUninstallInfoLines) +
                                               " lines of this file; the rest is not used");
    }
    int64_t size = 0;
    if (!contents_.addsUninstaller && !QueryFileStatus(contents_.root + "/" + kControlPrefix + "uninstall.txt", &size)) {
        Add(file, 1, "without uninstall.txt (or build --uninstaller) nothing is registered, so these values are not "
                     "written");
    }
    CheckMacroUses(file);
}

void Checker::CheckScope() {
    ControlText file;
    if (!Load(kControlPrefix + "scope.txt", &file)) return;
    const std::string word = file.lines.empty() ? std::string() : file.lines[0];
    if (ScopeSettingFromText(word) == ScopeSetting::Invalid) {
        Add(file, 1, "the scope is " + Quoted(word) + ", not user, machine or either; the installer reads it as no "
                     "scope and installs as a package without scope.txt does");
    }
}

void Checker::CheckUninstallerConflicts() {
    if (!contents_.addsUninstaller) return;
    std::vector<PackageEntry> entries;
    for (const std::string& item : contents_.controlItems) {
        entries.push_back(PackageEntry{item, "", false, true});
    }
    for (const std::string& item : contents_.payloadItems) entries.push_back(PackageEntry{item, "", false, false});
    for (const UninstallerConflict& conflict : FindUninstallerConflicts(entries)) {
        findings_.push_back(Finding{conflict.item, 1, conflict.message});
    }
}

void Checker::CheckLineLengths(const ControlText& file, size_t linesRead) {
    for (size_t i = 0; i < std::min(linesRead, file.lines.size()); ++i) {
        // The installer counts a UTF-8 file's characters, an ANSI file's bytes.
        const size_t length =
            file.encoding == TextEncoding::Utf8 ? CountUtf8Characters(file.lines[i]) : file.lines[i].size();
        if (length <= kLongestLine) continue;
        Add(file, i + 1, "line of " + std::to_string(length) + " characters: the installer keeps the first " +
                             std::to_string(kLongestLine) + " and reads every later line of this file as empty");
    }
}

// Checks the end of a list of one-line records; returns the index of its
// terminator line, or the line count when it has none.
size_t Checker::CheckListEnd(const ControlText& file) {
    for (size_t i = 0; i < file.lines.size(); ++i) {
        if (!IsTerminator(file.lines[i].c_str())) continue;
        CheckNothingAfter(file, i + 1, i + 1);
        return i;
    }
    Add(file, LastLine(file),
        "the list has no end line: it must end with a line beginning with \"/\", written \"////\"");
    return file.lines.size();
}

// Checks the end of a list of four-line groups; returns the index of the
// closing group's first line, or the line count when there is none.
size_t Checker::CheckGroupEnd(const ControlText& file) {
    const size_t closing = FindClosingGroup(file.lines);
    if (closing == file.lines.size()) {
        Add(file, LastLine(file),
            "the list has no closing group: it must end with four lines \"////\" (a group of four whose fourth "
            "line begins with \"/\")");
        return closing;
    }
    const size_t lastLine = closing + kGroupLines;
    for (size_t i = closing; i + 1 < lastLine; ++i) {
        if (IsTerminator(file.lines[i].c_str())) continue;
        Add(file, i + 1, "this line falls into the closing group (lines " + std::to_string(closing + 1) + " to " +
                             std::to_string(lastLine) + ") and is dropped with it; a record above is probably " +
                             "short of its four lines");
        break;
    }
    CheckNothingAfter(file, lastLine, lastLine);
    return closing;
}

// Blank lines and leftover "/" lines after the end are harmless; text is
// a sign that the end came too early.
void Checker::CheckNothingAfter(const ControlText& file, size_t firstUnread, size_t endLine) {
    for (size_t i = firstUnread; i < file.lines.size(); ++i) {
        if (file.lines[i].empty() || IsTerminator(file.lines[i].c_str())) continue;
        Add(file, i + 1, "the list ended at line " + std::to_string(endLine) + ", so this line is never read");
        return;
    }
}

bool Checker::CheckNumberLine(const ControlText& file, size_t line) {
    if (line > file.lines.size()) {
        Add(file, line, "a number is expected but the file ends before this line; the installer reads 0");
        return false;
    }
    const std::string& text = file.lines[line - 1];
    if (HoldsNumber(text)) return true;
    Add(file, line, Quoted(text) + " holds no number; the installer reads 0");
    return false;
}

void Checker::CheckSwitchLine(const ControlText& file, size_t line) {
    if (line > file.lines.size()) {
        Add(file, line,
            "\"true\" or \"false\" is expected but the file ends before this line; the installer reads false");
        return;
    }
    const std::string& text = file.lines[line - 1];
    if (text == "true" || text == "false") return;
    Add(file, line, Quoted(text) + " is neither \"true\" nor \"false\"; the installer reads " +
                        (ParseSwitch(text.c_str()) ? "true" : "false") + " (a first letter \"t\" means true)");
}

void Checker::CheckLocationLine(const ControlText& file, size_t line) {
    if (!CheckNumberLine(file, line)) return;
    const int32_t location = ParseNumber(file.lines[line - 1].c_str());
    if (location >= 0 && location < kShortcutLocations) return;
    Add(file, line, "location " + std::to_string(location) +
                        " is none of 0 (desktop), 1 (start menu), 2 (quick launch); this record makes no shortcut");
}

// The quick-launch bar has no folders of its own: the installer puts the
// shortcut in the bar's folder and does not use the group.
void Checker::CheckQuickLaunchGroup(const ControlText& file, size_t groupLine) {
    const size_t locationLine = groupLine + kGroupLines - 1;
    if (locationLine > file.lines.size() || file.lines[groupLine - 1].empty()) return;
    if (ParseNumber(file.lines[locationLine - 1].c_str()) != 2) return;
    AddHint(file, groupLine, "the group " + Quoted(file.lines[groupLine - 1]) +
                                 " is not used for a quick launch shortcut (location 2), which goes in the bar itself");
}

void Checker::CheckPlacedName(const ControlText& file, size_t line, const std::set<std::string>& payload) {
    const std::string& text = file.lines[line - 1];
    const std::string name = text.substr(0, text.find('|'));  // a line without '|' is all name
    if (payload.count(name) == 1) return;
    Add(file, line,
        Quoted(name) + " matches no payload item, so this line places nothing" + PayloadNameHint(name, payload));
}

void Checker::CheckMacroUses(const ControlText& file) {
    for (size_t i = 0; i < file.lines.size(); ++i) {
        const std::string& line = file.lines[i];
        for (size_t position = line.find('%'); position != std::string::npos;) {
            size_t next = position + 1;
            if (const size_t defined = DefinedMacroLength(macros_, line, position)) {
                next = position + defined;
            } else if (const size_t length = MacroLikeLength(line, position)) {
                ReportUnknownMacro(file, i + 1, line.substr(position, length));
                next = position + length;
            }
            position = line.find('%', next);
        }
    }
}

void Checker::ReportUnknownMacro(const ControlText& file, size_t line, const std::string& word) {
    std::string message = word + " is neither built in nor defined in macros.txt, so it stays in the text as written";
    const std::string other = SameNameOtherCase(macros_, word);
    if (!other.empty()) message += "; macro names match letter case: did you mean " + other + "?";
    Add(file, line, message);
}

}  // namespace

std::vector<Finding> CheckPackage(const PackageContents& contents) { return Checker(contents).Run(); }

std::string FormatFinding(const Finding& finding) {
    return finding.file + ":" + std::to_string(finding.line) + ": " + (finding.hint ? "hint: " : "") + finding.message;
}

PackageContents ContentsOfFolder(const std::string& packageDir, const std::vector<PackageEntry>& entries) {
    PackageContents contents;
    contents.root = packageDir;
    for (const PackageEntry& entry : entries) {
        (entry.isControl ? contents.controlItems : contents.payloadItems).push_back(entry.name);
    }
    return contents;
}

}  // namespace kxpack
