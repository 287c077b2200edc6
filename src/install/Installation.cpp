#include "install/Installation.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/PackageFormat.h"
#include "resources/ResourceIds.h"
#include "control/ControlFile.h"
#include "control/MacroExpander.h"
#include "text/TextEncoding.h"
#include "common/PathText.h"
#include "platform/Platform.h"
#include "control/ShortcutRecords.h"
#include "common/ExitCodes.h"
#include "common/Log.h"
#include "common/Rollback.h"
#include "state/Workspace.h"
#include "uninstall/UninstallList.h"

namespace {

constexpr uint32_t kCancelPollMilliseconds = 100;
constexpr size_t kPathCapacity = platform::kPathByteCapacity;
constexpr size_t kStatusCapacity = 260;  // the status line: 259 characters
const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kPartialSuffix[] = ".kxpart";

struct Run {
    InstallerState& state;
    InstallView& view;
    std::string folderText;   // the field as the user left it
    std::string installPath;  // the same with a trailing backslash
    std::string listPath;     // the uninstall list
    ArchiveHandle archive = nullptr;
    // Payload items by name with "\" between folders: the first in archive
    // order for each name. Built once, so placing n files costs O(n).
    std::unordered_map<std::string, int32_t> payloadIndex;
    // Folders made or found this run: each is tested once, not per file.
    std::unordered_set<std::string> knownFolders;
    int32_t handled = 0;
    int64_t placedBytes = 0;  // the placed files' sizes, for the entry's estimate
    bool listInUtf8 = false;  // see AddToList
    // Open for the whole run and flushed after every line, so that a run
    // that is killed still leaves the list of what it placed.
    std::FILE* list = nullptr;
    bool listFailed = false;  // a line could not be written: the run is undone
    std::unordered_set<std::string> listed;  // the lines so far, as FoldedPath keys
    // What an earlier version's list names, for the one list of every version.
    std::vector<std::string> earlierItems;
    // Every change is written here before it is made.
    Journal journal;

    ~Run() { CloseList(); }
    void CloseList() {
        if (list != nullptr) std::fclose(list);
        list = nullptr;
    }
};

std::string WithTrailingBackslash(const std::string& folder) {
    return (!folder.empty() && folder.back() == '\\') ? folder : folder + "\\";
}

void WriteLine(std::FILE* file, const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), file);
    std::fwrite("\r\n", 1, 2, file);
}

// Rewrites the list so far from the ANSI code page into UTF-8 with the mark,
// through a partial file, so the list is never left half-converted.
void ConvertListToUtf8(const std::string& listPath) {
    std::string bytes;
    if (std::FILE* file = platform::OpenStream(listPath.c_str(), "rb")) {
        char chunk[4096];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
        std::fclose(file);
    }
    const std::string partial = listPath + kPartialSuffix;
    const std::string converted = std::string(kUtf8Mark) + platform::AnsiToUtf8(bytes);
    std::FILE* out = platform::OpenStream(partial.c_str(), "wb");
    if (out == nullptr) return;
    const bool written = std::fwrite(converted.data(), 1, converted.size(), out) == converted.size();
    if (std::fclose(out) == 0 && written && platform::MoveFileReplacing(partial.c_str(), listPath.c_str())) return;
    (void)platform::RemoveFile(partial.c_str());
}

// The uninstall list is in the ANSI code page while every line fits it, so
// an uninstaller that reads it that way goes on working; the first line
// that does not fit turns the whole list into UTF-8 with the mark.
void AddToList(Run& run, const std::string& line) {
    std::string ansi;
    if (!run.listInUtf8 && !platform::Utf8ToAnsi(line, &ansi)) {
        run.CloseList();
        ConvertListToUtf8(run.listPath);
        run.listInUtf8 = true;
    }
    if (run.list == nullptr) run.list = platform::OpenStream(run.listPath.c_str(), "ab");
    if (run.list == nullptr) {
        run.listFailed = true;
        return;
    }
    WriteLine(run.list, run.listInUtf8 ? line : ansi);
    if (std::fflush(run.list) != 0 || std::ferror(run.list) != 0) run.listFailed = true;
    run.listed.insert(FoldedPath(line));
}

void BuildPayloadIndex(Run& run) {
    ArchiveEntry entry;
    (void)GetArchiveItem(run.archive, -1, &entry);  // no archive: no items
    const int32_t count = entry.index;
    run.payloadIndex.reserve(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        if (GetArchiveItem(run.archive, i, &entry) != ArchiveResult::Ok) continue;
        if (std::strncmp(entry.name, package::kControlFolder, package::kControlFolderLength) == 0) continue;
        std::string name = entry.name;
        for (char& c : name) {
            if (c == '/') c = '\\';
        }
        run.payloadIndex.emplace(name, i);  // a later item of the same name never wins
    }
}

// Waits while the cancel question is open; true when the user confirmed it.
bool CancelConfirmed(InstallerState& state) {
    while (state.cancelPromptOpen) platform::SleepMilliseconds(kCancelPollMilliseconds);
    return state.cancelRequested;
}

const char kDamagedItemReason[] = "The installer's copy of this file is damaged.";

std::string SystemReason() { return platform::ErrorMessage(platform::LastErrorCode()); }

// Failures of the item's data, as opposed to failures to write it out.
bool IsDamagedItem(ArchiveResult result) {
    return result != ArchiveResult::Ok && result != ArchiveResult::FileOpenFailed &&
           result != ArchiveResult::WriteFailed;
}

std::string PartialPathFor(const std::string& destination) { return destination + kPartialSuffix; }

void RemovePartial(const std::string& partial) {
    if (!platform::PathExists(partial.c_str())) return;
    (void)platform::WriteAttributes(partial.c_str(), platform::kAttributeNormal);
    (void)platform::RemoveFile(partial.c_str());
}

// CreateFolderChain, with each folder it makes written to the journal first.
bool CreateRecordedFolderChain(Run& run, const std::string& folder) {
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    if (path.empty() || platform::PathExists(path.c_str())) return true;
    if (path.size() >= kPathCapacity) return false;
    const size_t parent = path.find_last_of("/\\");
    if (parent != std::string::npos && parent > 0 && !CreateRecordedFolderChain(run, path.substr(0, parent))) {
        return false;
    }
    return run.journal.NewFolder(path) && platform::CreateFolder(path.c_str());
}

bool EnsureFolder(Run& run, const std::string& folder) {
    if (run.knownFolders.count(folder) != 0) return true;
    if (!CreateRecordedFolderChain(run, folder)) return false;
    run.knownFolders.insert(folder);
    return true;
}

std::string AccessDeniedReason() { return platform::ErrorMessage(platform::AccessDeniedErrorCode()); }

// Chooses where the old file goes while a new one takes its place and
// writes that to the journal, before anything of the new file is written:
// the record also covers the partial file beside it. Read-only files and
// folders are never replaced, whoever runs us.
std::string RecordAside(Run& run, const std::string& path, std::string* aside) {
    const uint32_t attributes = platform::ReadAttributes(path.c_str());
    if (attributes != platform::kNoAttributes &&
        (attributes & (platform::kAttributeReadOnly | platform::kAttributeDirectory))) {
        return AccessDeniedReason();
    }
    *aside = AsideNameFor(path);
    return run.journal.KeptFile(path, *aside) ? std::string() : SystemReason();
}

// Renames the old file aside, journalled, so that it can come back whole.
std::string KeepAside(Run& run, const std::string& path, std::string* aside) {
    const std::string reason = RecordAside(run, path, aside);
    if (!reason.empty()) return reason;
    return platform::RenameFile(path.c_str(), aside->c_str()) ? std::string() : SystemReason();
}

// Before a file is written whole at path: an existing one is renamed aside
// (its name in *aside), else the new file is written to the journal. False
// when neither could be done, and then nothing may be written.
bool PrepareToWrite(Run& run, const std::string& path, std::string* aside) {
    if (platform::PathExists(path.c_str())) return KeepAside(run, path, aside).empty();
    return run.journal.NewFile(path);
}

// Puts the old file back at once after a replacement that failed, so that
// Retry and Ignore see it as it was.
void PutBackAside(const std::string& path, const std::string& aside) {
    if (platform::PathExists(path.c_str())) {
        (void)platform::WriteAttributes(path.c_str(), platform::kAttributeNormal);
        (void)platform::RemoveFile(path.c_str());
    }
    (void)platform::MoveFileReplacing(aside.c_str(), path.c_str());  // the journal still covers a failure
}

// Extracts to a partial file, renames the old file aside and the partial
// one into its place, so a file being replaced is never left half-written
// and can be put back: on any failure the old file stays and the partial one
// goes. Where nothing exists yet there is nothing to keep, and the file is
// written in place; on a failure what was written goes. Every change is in
// the journal before it is made. Returns why the item could not be placed,
// empty when it was.
std::string PlaceItem(Run& run, int32_t index, const std::string& destination, bool replacing) {
    ArchiveEntry entry;
    if (GetArchiveItem(run.archive, index, &entry) != ArchiveResult::Ok) return kDamagedItemReason;
    if (destination.size() >= kPathCapacity) return platform::ErrorMessage(platform::PathTooLongErrorCode());
    if (entry.attributes & platform::kAttributeDirectory) {
        return CreateRecordedFolderChain(run, destination) ? std::string() : SystemReason();
    }
    const std::string folder = FolderOf(destination);
    if (!EnsureFolder(run, folder)) return SystemReason();
    const std::string partial = replacing ? PartialPathFor(destination) : destination;
    if (replacing) RemovePartial(partial);  // left by a run that was killed
    if (!replacing && !run.journal.NewFile(destination)) return SystemReason();
    std::string aside;
    if (replacing) {
        const std::string refused = RecordAside(run, destination, &aside);
        if (!refused.empty()) return refused;
    }
    // Where nothing existed, nothing that turns up meanwhile is written over.
    const ArchiveResult result = replacing ? ExtractArchiveItem(run.archive, index, partial.c_str())
                                           : ExtractArchiveItemToNewFile(run.archive, index, partial.c_str());
    std::string reason;
    if (result != ArchiveResult::Ok) {
        reason = IsDamagedItem(result) ? kDamagedItemReason : SystemReason();
    } else if (replacing) {
        if (!platform::RenameFile(destination.c_str(), aside.c_str())) reason = SystemReason();
        if (reason.empty() && !platform::RenameFile(partial.c_str(), destination.c_str())) {
            reason = SystemReason();
            PutBackAside(destination, aside);
        }
    }
    if (!reason.empty()) run.knownFolders.erase(folder);  // it may be gone: the next try tests it again
    // What a failed new file left is ours; a file that turned up there is not.
    if (!reason.empty() && (replacing || result != ArchiveResult::FileOpenFailed)) RemovePartial(partial);
    if (reason.empty()) run.placedBytes += entry.uncompressedSize;
    return reason;
}

enum class LineEnd { Next, Cancelled, Stopped };

// Places the item until it is placed, skipped or the user stops. existed
// is what the overwrite check found; a retry looks again, since the user
// may have changed the destination meanwhile.
LineEnd PlaceAskingOnFailure(Run& run, int32_t index, const std::string& destination, bool existed) {
    for (;; existed = platform::PathExists(destination.c_str())) {
        const std::string reason = PlaceItem(run, index, destination, existed);
        if (reason.empty()) {
            LogEvent((existed ? "replaced " : "placed ") + destination);
            AddToList(run, destination);
            return LineEnd::Next;
        }
        LogEvent("error: " + destination + " could not be installed: " + reason);
        switch (run.view.AskAboutFailure(PlacementFailureText(destination, reason))) {
        case FailureAnswer::Retry: LogEvent("retry " + destination); continue;
        case FailureAnswer::Ignore:
            LogEvent("skipped " + destination);
            run.state.missingItems.push_back(destination);
            return LineEnd::Next;
        case FailureAnswer::Abort: LogEvent("abort at " + destination); return LineEnd::Stopped;
        }
    }
}

LineEnd PlaceLine(Run& run, const std::string& line) {
    const size_t bar = line.find('|');
    const std::string name = bar == std::string::npos ? line : line.substr(0, bar);
    const std::string folder = bar == std::string::npos ? line : line.substr(bar + 1);
    const auto found = run.payloadIndex.find(name);
    // A line without a destination folder places nothing rather than
    // writing relative to wherever the process happens to be.
    if (found == run.payloadIndex.end() || folder.empty()) return LineEnd::Next;
    const std::string destination = WithTrailingBackslash(folder) + name;
    run.view.SetStatus(InstallingStatus(destination));
    bool place = true;
    const bool existed = platform::PathExists(destination.c_str());
    if (existed) {
        const OverwriteAnswer answer = run.view.AskOverwrite("The file named " + name +
                                                             " already exists at the selected location.\n"
                                                             "Do you wish to replace it?");
        if (answer == OverwriteAnswer::Cancel) {
            LogEvent("cancelled at " + destination);
            return LineEnd::Cancelled;
        }
        place = answer == OverwriteAnswer::Yes;
        if (!place) LogEvent("kept " + destination);
    }
    if (place && PlaceAskingOnFailure(run, found->second, destination, existed) == LineEnd::Stopped) {
        return LineEnd::Stopped;
    }
    run.handled += 1;
    run.view.SetProgressPosition(run.handled);
    run.state.progressPosition = run.handled;
    return LineEnd::Next;
}

// Places what fileinfo.txt names, line by line up to its terminator or its
// end.
InstallOutcome PlaceFiles(Run& run, const std::string& fileInfoPath) {
    TextFile file(fileInfoPath);
    char line[kLineCapacity];
    while (ReadLine(file, line)) {
        if (CancelConfirmed(run.state)) return InstallOutcome::Aborted;
        const LineEnd end = PlaceLine(run, line);
        if (end == LineEnd::Cancelled) return InstallOutcome::Aborted;
        if (end == LineEnd::Stopped) return InstallOutcome::Stopped;
        if (IsTerminator(line)) break;
    }
    return InstallOutcome::Finished;
}

// The folder a shortcut of this location goes into. For the start menu the
// group folder is created and added to createdFolder. The scope chooses the
// user's folders or the common ones.
std::string ResolveShortcutFolder(Run& run, const ShortcutRecord& record, std::string* createdFolder) {
    const ScopeFolders folders = FoldersFor(run.state.scope);
    switch (record.location) {
    case 0: return platform::GetSpecialFolderPath(folders.desktop);
    case 1: {
        const std::string folder = platform::GetSpecialFolderPath(folders.programs) + "\\" + record.group;
        (void)CreateRecordedFolderChain(run, folder);  // a failure shows as the shortcut that could not be saved
        *createdFolder += folder;
        run.view.NotifyFolderCreated(folder);
        return folder;
    }
    default: {
        // The quick-launch bar has no groups: a group given there is not
        // used, so the shortcut still lands where the bar shows it. A new
        // profile may not have the folder yet; it is the shell's, not the
        // product's, so it is made but never listed for removal.
        const std::string folder = platform::GetSpecialFolderPath(platform::kFolderAppData) +
                                   "\\Microsoft\\Internet Explorer\\Quick Launch";
        (void)CreateRecordedFolderChain(run, folder);
        return folder;
    }
    }
}

// An existing link of that name is renamed aside first, so that it comes
// back if the run is undone.
bool SaveRecordedLink(Run& run, const ShortcutRecord& record, const std::string& linkPath) {
    std::string aside;
    if (!PrepareToWrite(run, linkPath, &aside)) return false;
    if (run.view.CreateShellLink(record.target, FolderOf(record.target), linkPath)) return true;
    if (!aside.empty()) PutBackAside(linkPath, aside);
    return false;
}

void CreateShortcuts(Run& run) {
    const std::string path = ControlFilePath("shortcuts.txt");
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return;
    ExpandMacrosInFile(run.state.macroTable, path, run.folderText);
    ReadShortcutRecords(path, &run.state.shortcutTable, &run.state.shortcutLocationUsed);
    run.state.shortcutCount = static_cast<int32_t>(run.state.shortcutTable.size());
    for (const ShortcutRecord& record : run.state.shortcutTable) {
        if (record.location < 0 || record.location > 2 || !run.view.IsLocationTicked(record.location)) continue;
        std::string createdFolder;
        run.view.SetStatus("Creating shortcuts...\n");
        const std::string linkPath = ResolveShortcutFolder(run, record, &createdFolder) + "\\" + record.name + ".lnk";
        AddToList(run, createdFolder);
        if (SaveRecordedLink(run, record, linkPath)) {
            LogEvent("shortcut " + linkPath + " to " + record.target);
            AddToList(run, linkPath);
        } else {
            LogEvent("error: the shortcut " + linkPath + " could not be saved");
            run.state.missingItems.push_back("the shortcut " + linkPath);
        }
    }
}

// The entry's values beyond its name and command: what the list of
// installed programs shows and deployment tools look for.
struct EntryDetails {
    std::string installLocation;
    uint32_t estimatedKilobytes = 0;
    // uninstall_info.txt, line by line; an empty line writes no value.
    std::vector<std::pair<std::string, std::string>> infoValues;
};

const char* const kInfoValueNames[] = {"DisplayVersion", "Publisher", "DisplayIcon", "URLInfoAbout",
                                       "QuietUninstallString"};

bool WriteUninstallValues(platform::RegistryRoot root, const std::string& key, const std::string& product,
                          const std::string& uninstaller, const EntryDetails& details) {
    const std::string where = (root == platform::RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\") + key;
    bool written = platform::WriteRegistryString(root, key, "DisplayName", product + " (remove only)") &&
                   platform::WriteRegistryString(root, key, "UninstallString", "\"" + uninstaller + "\"") &&
                   platform::WriteRegistryDword(root, key, "NoModify", 1) &&
                   platform::WriteRegistryDword(root, key, "NoRepair", 1) &&
                   platform::WriteRegistryString(root, key, "InstallLocation", details.installLocation) &&
                   platform::WriteRegistryDword(root, key, "EstimatedSize", details.estimatedKilobytes);
    std::string logged = "DisplayName=\"" + product + " (remove only)\", UninstallString=\"\\\"" + uninstaller +
                         "\\\"\", NoModify=1, NoRepair=1, InstallLocation=\"" + details.installLocation +
                         "\", EstimatedSize=" + std::to_string(details.estimatedKilobytes);
    for (const auto& value : details.infoValues) {
        written = written && platform::WriteRegistryString(root, key, value.first, value.second);
        logged += ", " + value.first + "=\"" + value.second + "\"";
    }
    LogEvent(written ? "registry " + where + ": " + logged : "error: registry " + where + " could not be written");
    return written;
}

// The key's values as they are go to the journal before any is written.
bool WriteRecordedValues(Run& run, platform::RegistryRoot root, const std::string& key, const std::string& product,
                         const std::string& uninstaller, const EntryDetails& details) {
    if (!run.journal.RegistryKey(root, key)) {
        LogEvent("error: the registry key " + key + " could not be written to the journal");
        return false;
    }
    return WriteUninstallValues(root, key, product, uninstaller, details);
}

// For every user where we may, else for the one running us: the list of
// installed programs shows both. False when neither could be written. A
// package with a scope writes where its scope says, and only there.
bool WriteUninstallEntry(Run& run, const std::string& product, const std::string& uninstaller,
                         const EntryDetails& details) {
    // An empty name would put the values on the Uninstall key itself.
    if (product.empty()) return true;
    const std::string key = kUninstallKey + product;
    const Scope scope = run.state.scope;
    if (scope != Scope::Legacy) {
        return WriteRecordedValues(run, FoldersFor(scope).root, key, product, uninstaller, details);
    }
    return WriteRecordedValues(run, platform::RegistryRoot::LocalMachine, key, product, uninstaller, details) ||
           WriteRecordedValues(run, platform::RegistryRoot::CurrentUser, key, product, uninstaller, details);
}

EntryDetails DescribeEntry(Run& run) {
    EntryDetails details;
    details.installLocation = run.installPath;
    // Whole kibibytes, rounded up, as the list of installed programs counts.
    const int64_t kilobytes = (run.placedBytes + 1023) / 1024;
    details.estimatedKilobytes = static_cast<uint32_t>(std::min<int64_t>(kilobytes, UINT32_MAX));
    const std::string path = ControlFilePath("uninstall_info.txt");
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return details;
    ExpandMacrosInFile(run.state.macroTable, path, run.folderText);
    TextFile file(path);
    char line[kLineCapacity];
    for (const char* name : kInfoValueNames) {
        ReadLine(file, line);
        if (line[0] != '\0') details.infoValues.emplace_back(name, line);
    }
    return details;
}

// The lines of an earlier version's list that this run did not write again
// and that still exist, so the uninstaller removes what every version placed.
void CarryEarlierItems(Run& run) {
    for (const std::string& item : run.earlierItems) {
        if (run.listed.count(FoldedPath(item)) != 0 || !platform::PathExists(item.c_str())) continue;
        LogEvent("kept in the uninstall list from the earlier version: " + item);
        AddToList(run, item);
    }
}

// The list's copy beside the uninstaller, with the copy it replaces renamed
// aside first.
bool CopyListBesideUninstaller(Run& run, const std::string& copyPath) {
    std::string aside;
    if (!PrepareToWrite(run, copyPath, &aside)) return false;
    std::fflush(run.list);
    return platform::CopyFileReplacing(run.listPath.c_str(), copyPath.c_str());
}

// False when the list or the entry could not be written: the run is undone.
bool RegisterUninstaller(Run& run) {
    const std::string path = ControlFilePath("uninstall.txt");
    ExpandMacrosInFile(run.state.macroTable, path, run.folderText);
    int64_t size = 0;
    char uninstaller[kUninstallTextCapacity] = {};
    // Without an uninstaller, or with a path too long to hold, the list has
    // no reader: it is removed and nothing is registered.
    if (!QueryFileStatus(path, &size) || !ReadWholeFile(path, uninstaller, sizeof uninstaller)) {
        run.CloseList();
        (void)platform::RemoveFile(run.listPath.c_str());
        return true;
    }
    CarryEarlierItems(run);
    const std::string copyPath = FolderOf(uninstaller) + "uninstall.ini";
    if (!SamePath(copyPath, run.listPath) && !CopyListBesideUninstaller(run, copyPath)) {
        LogEvent("error: the uninstall list could not be copied to " + copyPath);
        return false;
    }
    AddToList(run, copyPath);
    AddToList(run, run.installPath);
    AddToList(run, "||||");
    if (run.listFailed) {
        LogEvent("error: the uninstall list " + run.listPath + " could not be written");
        return false;
    }
    if (!WriteUninstallEntry(run, ProductName(run.state.macroTable), uninstaller, DescribeEntry(run))) return false;
    LogEvent("uninstall list " + run.listPath);
    return true;
}

// An earlier version's list of the same product: its items, and its copy
// beside an uninstaller elsewhere, are carried into the new list.
void ReadEarlierList(Run& run) {
    UninstallList earlier;
    if (!ReadUninstallList(run.listPath, &earlier) || earlier.product != ProductName(run.state.macroTable)) return;
    run.earlierItems = earlier.items;
    if (earlier.complete && !SamePath(earlier.copyPath, run.listPath)) run.earlierItems.push_back(earlier.copyPath);
}

// The earlier list is renamed aside rather than removed, so that it comes
// back if the run is undone.
bool StartUninstallList(Run& run) {
    run.CloseList();
    ReadEarlierList(run);
    std::string aside;
    if (!PrepareToWrite(run, run.listPath, &aside)) return false;
    run.listInUtf8 = false;
    AddToList(run, ProductName(run.state.macroTable));
    if (run.state.scope != Scope::Legacy) AddToList(run, "scope=" + ScopeName(run.state.scope));
    return !run.listFailed;
}

// The install folder and the folders above it that do not exist yet,
// nearest the root first.
std::vector<std::string> MissingFolders(const std::string& folder) {
    std::vector<std::string> missing;
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    while (!path.empty() && !platform::PathExists(path.c_str())) {
        missing.insert(missing.begin(), path);
        const size_t parent = path.find_last_of("/\\");
        if (parent == std::string::npos || parent == 0) break;
        path = path.substr(0, parent);
    }
    return missing;
}

// Makes the install folder and starts the journal in it. The folders made
// for it are written to the journal just after, as the journal cannot be
// there before its folder is; a run killed in between leaves them empty.
bool StartJournal(Run& run) {
    const std::vector<std::string> missing = MissingFolders(run.installPath);
    CreateFolderChain(run.installPath);
    const bool started = run.journal.Start(JournalPathIn(run.installPath), run.installPath);
    for (const std::string& folder : missing) {
        if (started && run.journal.NewFolder(folder)) continue;
        for (auto made = missing.rbegin(); made != missing.rend(); ++made) (void)platform::RemoveFolder(made->c_str());
        LogEvent("error: the journal " + JournalPathIn(run.installPath) + " could not be written: " + SystemReason());
        return false;
    }
    if (!started) {
        LogEvent("error: the journal " + JournalPathIn(run.installPath) + " could not be made: " + SystemReason());
    }
    return started;
}

void LogLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) LogEvent(line);
}

// A journal an earlier, killed run left in the install folder is undone
// before anything else; false when it could not be, and the user was told.
bool RecoverEarlierInstallation(Run& run) {
    std::vector<std::string> log;
    const EarlierRun earlier = RecoverEarlierRun(run.installPath, &log);
    LogLines(log);
    const std::string text = EarlierRunText(earlier, run.installPath);
    if (text.empty()) return true;
    LogEvent(earlier == EarlierRun::PutBack ? text : "error: " + text);
    run.view.Tell(text);
    return earlier == EarlierRun::PutBack;
}

// Undoes the run from its journal and tells the user.
InstallOutcome UndoRun(Run& run, InstallOutcome outcome) {
    run.CloseList();
    if (run.archive != nullptr) CloseArchive(run.archive);
    run.archive = nullptr;
    const std::string path = run.journal.Path();
    run.journal.Close();
    std::vector<std::string> log;
    const EarlierRun undone = path.empty() ? EarlierRun::PutBack : UndoJournal(path, &log);
    LogLines(log);
    run.state.everythingPutBack = undone == EarlierRun::PutBack;
    const std::string text = UndoneRunText(outcome, run.state.everythingPutBack, run.installPath);
    LogEvent(text);
    run.view.Tell(text);
    return outcome;
}

}  // namespace

InstallOutcome RunInstallation(InstallerState& state, InstallView& view) {
    Run run{state, view};
    run.folderText = view.InstallFolderText();
    LogEvent("installing into " + run.folderText);
    run.installPath = WithTrailingBackslash(run.folderText);
    run.listPath = run.installPath + "uninstall.ini";
    view.UseReportingWindow();
    if (!RecoverEarlierInstallation(run)) return InstallOutcome::Refused;
    // The whole chain, so the journal and the uninstall list can be written
    // from the start.
    if (!StartJournal(run)) return UndoRun(run, InstallOutcome::Stopped);
    if (!StartUninstallList(run)) {
        LogEvent("error: the uninstall list " + run.listPath + " could not be written");
        return UndoRun(run, InstallOutcome::Stopped);
    }

    run.archive = OpenHeldArchive(ArchiveCopyPath().c_str());
    BuildPayloadIndex(run);
    const std::string fileInfo = ControlFilePath("fileinfo.txt");
    ExpandMacrosInFile(state.macroTable, fileInfo, run.folderText);
    view.SetProgressRange(state.payloadItemCount);
    int64_t size = 0;
    const InstallOutcome placed =
        QueryFileStatus(fileInfo, &size) ? PlaceFiles(run, fileInfo) : InstallOutcome::Finished;
    if (placed != InstallOutcome::Finished) return UndoRun(run, placed);
    if (run.archive != nullptr) CloseArchive(run.archive);
    run.archive = nullptr;

    CreateShortcuts(run);
    if (!RegisterUninstaller(run)) return UndoRun(run, InstallOutcome::Stopped);
    run.CloseList();
    std::vector<std::string> log;
    CompleteJournal(run.journal, &log);
    LogLines(log);
    return InstallOutcome::Finished;
}

std::string UndoneRunText(InstallOutcome outcome, bool everythingPutBack, const std::string& installPath) {
    const char* what = outcome == InstallOutcome::Aborted ? "cancelled" : "stopped";
    if (everythingPutBack) return std::string("The installation was ") + what + ". Nothing was changed.";
    std::string folder = installPath;
    if (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return std::string("The installation was ") + what + ", and not everything it changed could be put back. " +
           "The next installation into " + folder + " tries again.";
}

bool FindPreviousInstallFolder(const std::string& product, std::string* folder) {
    if (product.empty()) return false;
    // The user's own entry can be written without rights: an elevated run
    // does not let it choose where files go.
    const bool elevated = platform::IsProcessElevated();
    for (const auto root : {platform::RegistryRoot::LocalMachine, platform::RegistryRoot::CurrentUser}) {
        if (elevated && root == platform::RegistryRoot::CurrentUser) continue;
        std::string location;
        if (!platform::ReadRegistryString(root, kUninstallKey + product, "InstallLocation", &location, kPathCapacity)) {
            continue;
        }
        while (location.size() > 3 && (location.back() == '\\' || location.back() == '/')) location.pop_back();
        if (location.empty() || !IsPlainAbsolutePath(location) || !platform::PathExists(location.c_str())) continue;
        *folder = location;
        return true;
    }
    return false;
}

int InstallExitCode(InstallOutcome outcome) {
    if (outcome == InstallOutcome::Aborted) return kExitCancelled;
    return kExitStoppedOnError;
}

void AppendLine(const std::string& path, const std::string& text) {
    std::FILE* file = platform::OpenStream(path.c_str(), "ab");
    if (file == nullptr) return;
    WriteLine(file, text);
    std::fclose(file);
}

bool CreateFolderChain(const std::string& folder) {
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    if (path.empty() || platform::PathExists(path.c_str())) return true;
    if (path.size() >= kPathCapacity) return false;
    const size_t parent = path.find_last_of("/\\");
    if (parent != std::string::npos && parent > 0 && !CreateFolderChain(path.substr(0, parent))) return false;
    return platform::CreateFolder(path.c_str());
}

std::string PlacementFailureText(const std::string& destination, const std::string& reason) {
    return "The file " + destination + " could not be installed:\n" + reason +
           "\n\nClick Retry to try again, Ignore to skip this file, or Abort to stop the installation.";
}

std::string InstallingStatus(const std::string& destination) {
    const std::string head = "Installing\n";
    const std::string tail = "...";
    const size_t room = kStatusCapacity - 1 - head.size() - tail.size();
    if (CountUtf8Characters(destination) <= room) return head + destination + tail;
    const std::string ellipsis = "...";
    const size_t keep = room - ellipsis.size();
    const size_t front = keep / 3;
    return head + FirstCharacters(destination, front) + ellipsis + LastCharacters(destination, keep - front) + tail;
}

int SelectedProgressBar(const InstallerState& state) {
    return state.progressBarIndex == 1 ? IDC_PROGRESS_SMOOTH : IDC_PROGRESS_PLAIN;
}
