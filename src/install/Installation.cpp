#include "install/Installation.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "archive/ArchiveReader.h"
#include "archive/PackageFormat.h"
#include "control/ControlFile.h"
#include "control/MacroExpander.h"
#include "platform/Platform.h"
#include "startup/ControlFiles.h"
#include "state/Workspace.h"

namespace {

constexpr uint32_t kCancelPollMilliseconds = 100;
constexpr size_t kPathCapacity = 260;
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
    int32_t handled = 0;
};

std::string WithTrailingBackslash(const std::string& folder) {
    return (!folder.empty() && folder.back() == '\\') ? folder : folder + "\\";
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
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

// Extracts to a partial file beside the destination and renames it into
// place, so a file being replaced is never left half-written: on any
// failure the old file stays and the partial one goes.
void PlaceItem(Run& run, int32_t index, const std::string& destination) {
    ArchiveEntry entry;
    const bool folder = GetArchiveItem(run.archive, index, &entry) == ArchiveResult::Ok &&
                        (entry.attributes & platform::kAttributeDirectory);
    const std::string partial = destination + kPartialSuffix;
    if (folder || partial.size() >= kPathCapacity) {
        (void)ExtractArchiveItem(run.archive, index, destination.c_str());
        return;
    }
    const ArchiveResult result = ExtractArchiveItem(run.archive, index, partial.c_str());
    if (result == ArchiveResult::Ok && platform::MoveFileReplacing(partial.c_str(), destination.c_str())) return;
    if (platform::PathExists(partial.c_str())) {
        (void)platform::WriteAttributes(partial.c_str(), platform::kAttributeNormal);
        (void)platform::RemoveFile(partial.c_str());
    }
}

// Handles one line: false when the user cancelled in the overwrite question.
bool PlaceLine(Run& run, const std::string& line) {
    const size_t bar = line.find('|');
    const std::string name = bar == std::string::npos ? line : line.substr(0, bar);
    const std::string folder = bar == std::string::npos ? line : line.substr(bar + 1);
    const auto found = run.payloadIndex.find(name);
    // A line without a destination folder places nothing rather than
    // writing relative to wherever the process happens to be.
    if (found == run.payloadIndex.end() || folder.empty()) return true;
    const std::string destination = WithTrailingBackslash(folder) + name;
    run.view.SetStatus(InstallingStatus(destination));
    bool place = true;
    if (platform::PathExists(destination.c_str())) {
        const OverwriteAnswer answer = run.view.AskOverwrite("The file named " + name +
                                                             " already exists at the selected location.\n"
                                                             "Do you wish to replace it?");
        if (answer == OverwriteAnswer::Cancel) return false;
        place = answer == OverwriteAnswer::Yes;
    }
    if (place) {
        PlaceItem(run, found->second, destination);
        AppendLine(run.listPath, destination);
    }
    run.handled += 1;
    run.view.SetProgressPosition(run.handled);
    run.state.progressPosition = run.handled;
    return true;
}

// Places what fileinfo.txt names, line by line up to its terminator or its
// end. False when the installation was cancelled.
bool PlaceFiles(Run& run, const std::string& fileInfoPath) {
    TextFile file(fileInfoPath);
    char line[kLineCapacity];
    while (ReadLine(file, line)) {
        if (CancelConfirmed(run.state)) return false;
        if (!PlaceLine(run, line)) return false;
        if (IsTerminator(line)) break;
    }
    return true;
}

void CreateShortcuts(Run& run) {
    const std::string path = ControlFilePath("shortcuts.txt");
    int64_t size = 0;
    if (!QueryFileStatus(path, &size)) return;
    ExpandMacrosInFile(run.state.macroTable, path, run.folderText);
    ReadShortcutRecords(run.state, path);
    for (const ShortcutRecord& record : run.state.shortcutTable) {
        if (record.location < 0 || record.location > 2 || !run.view.IsLocationTicked(record.location)) continue;
        std::string createdFolder;
        run.view.SetStatus("Creating shortcuts...\n");
        const std::string linkPath = ResolveShortcutFolder(record, &createdFolder, run.view) + "\\" + record.name + ".lnk";
        run.view.CreateShellLink(record.target, FolderOf(record.target), linkPath);
        AppendLine(run.listPath, createdFolder);
        AppendLine(run.listPath, linkPath);
    }
}

bool SamePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const char x = (a[i] == '/') ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(a[i])));
        const char y = (b[i] == '/') ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(b[i])));
        if (x != y) return false;
    }
    return true;
}

void WriteUninstallEntry(const std::string& product, const std::string& uninstaller) {
    // An empty name would put the values on the Uninstall key itself.
    if (product.empty()) return;
    const std::string key = kUninstallKey + product;
    const auto root = platform::RegistryRoot::LocalMachine;
    (void)platform::WriteRegistryString(root, key, "DisplayName", product + " (remove only)");
    (void)platform::WriteRegistryString(root, key, "UninstallString", "\"" + uninstaller + "\"");
    (void)platform::WriteRegistryDword(root, key, "NoModify", 1);
    (void)platform::WriteRegistryDword(root, key, "NoRepair", 1);
}

void RegisterUninstaller(Run& run) {
    const std::string path = ControlFilePath("uninstall.txt");
    ExpandMacrosInFile(run.state.macroTable, path, run.folderText);
    int64_t size = 0;
    char uninstaller[kUninstallTextCapacity] = {};
    // Without an uninstaller, or with a path too long to hold, the list has
    // no reader: it is removed and nothing is registered.
    if (!QueryFileStatus(path, &size) || !ReadWholeFile(path, uninstaller, sizeof uninstaller)) {
        (void)platform::RemoveFile(run.listPath.c_str());
        return;
    }
    const std::string copyPath = FolderOf(uninstaller) + "uninstall.ini";
    if (!SamePath(copyPath, run.listPath)) (void)platform::CopyFileReplacing(run.listPath.c_str(), copyPath.c_str());
    AppendLine(run.listPath, copyPath);
    AppendLine(run.listPath, run.installPath);
    AppendLine(run.listPath, "||||");
    WriteUninstallEntry(ProductName(run.state.macroTable), uninstaller);
}

void StartUninstallList(Run& run) {
    (void)platform::RemoveFile(run.listPath.c_str());
    AppendLine(run.listPath, ProductName(run.state.macroTable));
}

}  // namespace

InstallOutcome RunInstallation(InstallerState& state, InstallView& view) {
    Run run{state, view};
    run.folderText = view.InstallFolderText();
    run.installPath = WithTrailingBackslash(run.folderText);
    run.listPath = run.installPath + "uninstall.ini";
    view.UseReportingWindow();
    // The whole chain, so the uninstall list can be written from the start.
    CreateFolderChain(run.installPath);
    StartUninstallList(run);

    run.archive = OpenArchive(ArchiveCopyPath().c_str());
    BuildPayloadIndex(run);
    const std::string fileInfo = ControlFilePath("fileinfo.txt");
    ExpandMacrosInFile(state.macroTable, fileInfo, run.folderText);
    view.SetProgressRange(state.payloadItemCount);
    int64_t size = 0;
    const bool placed = !QueryFileStatus(fileInfo, &size) || PlaceFiles(run, fileInfo);
    if (run.archive != nullptr) CloseArchive(run.archive);
    if (!placed) return InstallOutcome::Aborted;

    CreateShortcuts(run);
    RegisterUninstaller(run);
    return InstallOutcome::Finished;
}

void AppendLine(const std::string& path, const std::string& text) {
    std::FILE* file = platform::OpenStream(path.c_str(), "ab");
    if (file == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fwrite("\r\n", 1, 2, file);
    std::fclose(file);
}

void CreateFolderChain(const std::string& folder) {
    std::string path = folder;
    while (!path.empty() && (path.back() == '\\' || path.back() == '/')) path.pop_back();
    if (path.empty() || path.size() >= kPathCapacity || platform::PathExists(path.c_str())) return;
    const size_t parent = path.find_last_of("/\\");
    if (parent != std::string::npos && parent > 0) CreateFolderChain(path.substr(0, parent));
    (void)platform::CreateFolder(path.c_str());
}

std::string InstallingStatus(const std::string& destination) {
    const std::string head = "Installing\n";
    const std::string tail = "...";
    const size_t room = kPathCapacity - 1 - head.size() - tail.size();
    if (destination.size() <= room) return head + destination + tail;
    const std::string ellipsis = "...";
    const size_t keep = room - ellipsis.size();
    const size_t front = keep / 3;
    return head + destination.substr(0, front) + ellipsis + destination.substr(destination.size() - (keep - front)) +
           tail;
}

std::string ResolveShortcutFolder(const ShortcutRecord& record, std::string* createdFolder, InstallView& view) {
    switch (record.location) {
    case 0: return platform::GetSpecialFolderPath(platform::kFolderDesktopDirectory);
    case 1: {
        const std::string folder = platform::GetSpecialFolderPath(platform::kFolderPrograms) + "\\" + record.group;
        CreateFolderChain(folder);
        *createdFolder += folder;
        view.NotifyFolderCreated(folder);
        return folder;
    }
    default:
        // The quick-launch bar has no groups: a group given there is not
        // used, so the shortcut still lands where the bar shows it.
        return platform::GetSpecialFolderPath(platform::kFolderAppData) +
               "\\Microsoft\\Internet Explorer\\Quick Launch";
    }
}
