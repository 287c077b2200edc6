#include "uninstall/Removal.h"

#include <algorithm>

#include "common/PathText.h"
#include "platform/Platform.h"
#include "common/ExitCodes.h"
#include "common/Log.h"

namespace {

const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const char kEntryItem[] = "the entry in the list of installed programs";
constexpr size_t kItemsShown = 5;
// UninstallString holds a quoted path of at most 32,767 characters.
constexpr size_t kCommandCapacity = 32770;
// The system may hold an ended program's file for a moment after its end.
constexpr int kUninstallerRemovalTries = 50;
constexpr uint32_t kUninstallerRetryMilliseconds = 100;

const platform::RegistryRoot kEntryRoots[] = {platform::RegistryRoot::LocalMachine,
                                              platform::RegistryRoot::CurrentUser};

bool IsShortcut(const std::string& path) {
    const std::string ending = ".lnk";
    return path.size() > ending.size() && SamePath(path.substr(path.size() - ending.size()), ending);
}

bool IsRealFolder(uint32_t attributes) {
    return attributes != platform::kNoAttributes && (attributes & platform::kAttributeDirectory) &&
           !(attributes & platform::kAttributeReparsePoint);
}

// The folders between the install folder and path, deepest first, without
// either end.
std::vector<std::string> FoldersBetween(const std::string& installPath, const std::string& path) {
    std::vector<std::string> folders;
    for (std::string folder = FolderOf(path); folder.size() > installPath.size(); ) {
        folder.pop_back();
        folders.push_back(folder);
        folder = FolderOf(folder);
    }
    return folders;
}

// A folder on the way that is a junction or symbolic link would lead the
// removal out of the install folder.
bool LiesBehindLink(const std::string& installPath, const std::string& path) {
    for (const std::string& folder : FoldersBetween(installPath, path)) {
        const uint32_t attributes = platform::ReadAttributes(folder.c_str());
        if (attributes != platform::kNoAttributes && (attributes & platform::kAttributeReparsePoint)) return true;
    }
    return false;
}

bool IsStartMenuGroup(const std::string& folder) {
    for (const int id : {platform::kFolderPrograms, platform::kFolderCommonPrograms}) {
        const std::string programs = platform::GetSpecialFolderPath(id);
        if (!programs.empty() && LiesInside(folder, WithBackslashes(programs) + "\\")) return true;
    }
    return false;
}

// Clears the read-only attribute first; a link's own attributes are left,
// since setting them could reach its target.
bool RemoveOneFile(const std::string& path) {
    const uint32_t attributes = platform::ReadAttributes(path.c_str());
    if (attributes == platform::kNoAttributes) return true;
    if ((attributes & platform::kAttributeReadOnly) && !(attributes & platform::kAttributeReparsePoint)) {
        const uint32_t cleared = attributes & ~platform::kAttributeReadOnly;
        (void)platform::WriteAttributes(path.c_str(), cleared == 0 ? platform::kAttributeNormal : cleared);
    }
    return platform::RemoveFile(path.c_str());
}

struct Run {
    Removal& removal;
    RemovalView& view;
    std::string installPath;  // with "\" separators, ending with "\"
};

void NoteFoldersOf(Run& run, const std::string& path) {
    if (!LiesInside(path, run.installPath)) return;
    for (const std::string& folder : FoldersBetween(run.installPath, path)) run.removal.folders.push_back(folder);
}

// Removes the file until it is gone, kept or the user stops; false to stop.
bool RemoveAskingOnFailure(Run& run, const std::string& path) {
    for (;;) {
        if (RemoveOneFile(path)) {
            LogEvent("removed " + path);
            return true;
        }
        const std::string reason = platform::ErrorMessage(platform::LastErrorCode());
        LogEvent("error: " + path + " could not be removed: " + reason);
        switch (run.view.AskAboutFailure(RemovalFailureText(path, reason))) {
        case FailureAnswer::Retry: LogEvent("retry " + path); continue;
        case FailureAnswer::Ignore:
            LogEvent("kept " + path);
            run.removal.itemsLeft.push_back(path);
            return true;
        case FailureAnswer::Abort: LogEvent("abort at " + path); return false;
        }
    }
}

// One line of the list; false to stop.
bool RemoveListedPath(Run& run, const std::string& line) {
    const std::string path = WithBackslashes(line);
    if (!IsPlainAbsolutePath(path)) {
        LogEvent("skipped " + line + ": not a plain absolute path");
        return true;
    }
    const bool inside = LiesInside(path, run.installPath);
    if (inside && LiesBehindLink(run.installPath, path)) {
        LogEvent("skipped " + path + ": it lies behind a junction or symbolic link");
        return true;
    }
    const uint32_t attributes = platform::ReadAttributes(path.c_str());
    if (IsRealFolder(attributes)) {
        if (inside || IsStartMenuGroup(path)) {
            run.removal.folders.push_back(path);
        } else {
            LogEvent("skipped folder " + path + ": outside the install folder and the start menu");
        }
        return true;
    }
    if (!inside && !IsShortcut(path)) {
        LogEvent("skipped " + path + ": outside the install folder");
        return true;
    }
    NoteFoldersOf(run, path);
    if (attributes == platform::kNoAttributes) {
        LogEvent("already gone: " + path);
        return true;
    }
    if (SamePath(path, WithBackslashes(run.removal.uninstallerPath))) return true;  // removed last
    return RemoveAskingOnFailure(run, path);
}

// The list in the install folder and the copy beside the uninstaller.
void RemoveLists(Run& run) {
    std::vector<std::string> lists = {run.installPath + "uninstall.ini",
                                      FolderOf(WithBackslashes(run.removal.uninstallerPath)) + "uninstall.ini"};
    if (run.removal.list.complete) lists.push_back(WithBackslashes(run.removal.list.copyPath));
    for (const std::string& list : lists) {
        if (!IsPlainAbsolutePath(list) || platform::ReadAttributes(list.c_str()) == platform::kNoAttributes) continue;
        if (!SamePath(LastComponent(list), "uninstall.ini")) continue;
        if (RemoveOneFile(list)) {
            LogEvent("removed " + list);
        } else if (std::find(run.removal.itemsLeft.begin(), run.removal.itemsLeft.end(), list) ==
                   run.removal.itemsLeft.end()) {
            run.removal.itemsLeft.push_back(list);
        }
    }
}

bool NamesUninstaller(const std::string& command, const std::string& uninstallerPath) {
    const std::string unquoted =
        command.size() >= 2 && command.front() == '"' && command.back() == '"' ? command.substr(1, command.size() - 2)
                                                                               : command;
    return !uninstallerPath.empty() && SamePath(unquoted, uninstallerPath);
}

// Only the product's keys that name this uninstaller: another installation
// of a product of the same name keeps its entry.
void RemoveEntries(Run& run) {
    const std::string& product = run.removal.list.product;
    const std::string key = kUninstallKey + product;
    for (const platform::RegistryRoot root : kEntryRoots) {
        std::string command;
        if (!platform::ReadRegistryString(root, key, "UninstallString", &command, kCommandCapacity)) continue;
        const std::string where = root == platform::RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\";
        if (!NamesUninstaller(command, run.removal.uninstallerPath)) {
            LogEvent("kept registry " + where + key + ": it names " + command);
            continue;
        }
        if (platform::DeleteRegistryKey(root, key)) {
            LogEvent("removed registry " + where + key);
        } else {
            LogEvent("error: registry " + where + key + " could not be removed");
            run.removal.itemsLeft.push_back(kEntryItem);
        }
    }
}

// The list's install path with "\" separators and one trailing "\".
std::string InstallFolderOf(const UninstallList& list) {
    std::string folder = WithBackslashes(list.installPath);
    if (!folder.empty() && folder.back() != '\\') folder += '\\';
    return folder;
}

size_t Depth(const std::string& folder) { return static_cast<size_t>(std::count(folder.begin(), folder.end(), '\\')); }

}  // namespace

bool FindInstallLocation(const std::string& product, const std::string& uninstallerPath, std::string* installPath) {
    const std::string key = kUninstallKey + product;
    for (const platform::RegistryRoot root : kEntryRoots) {
        std::string command;
        std::string location;
        if (!platform::ReadRegistryString(root, key, "UninstallString", &command, kCommandCapacity) ||
            !NamesUninstaller(command, uninstallerPath) ||
            !platform::ReadRegistryString(root, key, "InstallLocation", &location, kCommandCapacity)) {
            continue;
        }
        location = WithBackslashes(location);
        if (!location.empty() && location.back() != '\\') location += '\\';
        if (!IsPlainAbsolutePath(location)) continue;
        *installPath = location;
        return true;
    }
    return false;
}

RemovalOutcome RemoveProduct(Removal& removal, RemovalView& view) {
    Run run{removal, view, InstallFolderOf(removal.list)};
    LogEvent("removing " + removal.list.product + " from " + run.installPath);
    const std::vector<std::string>& items = removal.list.items;
    view.SetProgressRange(static_cast<int32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        view.ShowProgress(static_cast<int32_t>(i + 1), items[i]);
        if (!items[i].empty() && !RemoveListedPath(run, items[i])) return RemovalOutcome::Stopped;
    }
    RemoveLists(run);
    RemoveEntries(run);
    removal.folders.push_back(run.installPath.substr(0, run.installPath.size() - 1));
    return RemovalOutcome::Removed;
}

void RemoveUninstallerAndFolders(Removal& removal) {
    const std::string installPath = InstallFolderOf(removal.list);
    const std::string uninstaller = WithBackslashes(removal.uninstallerPath);
    if (LiesInside(uninstaller, installPath) && platform::ReadAttributes(uninstaller.c_str()) != platform::kNoAttributes) {
        bool removed = false;
        for (int attempt = 0; attempt < kUninstallerRemovalTries && !removed; ++attempt) {
            if (attempt > 0) platform::SleepMilliseconds(kUninstallerRetryMilliseconds);
            removed = RemoveOneFile(uninstaller);
        }
        LogEvent(removed ? "removed " + uninstaller : "error: " + uninstaller + " could not be removed");
        if (!removed) removal.itemsLeft.push_back(uninstaller);
    }
    std::vector<std::string>& folders = removal.folders;
    std::sort(folders.begin(), folders.end(), [](const std::string& a, const std::string& b) {
        return Depth(a) != Depth(b) ? Depth(a) > Depth(b) : a < b;
    });
    folders.erase(std::unique(folders.begin(), folders.end(), SamePath), folders.end());
    for (const std::string& folder : folders) {
        // A folder that turned into a link since is left, and so is its target.
        if (!IsRealFolder(platform::ReadAttributes(folder.c_str()))) continue;
        if (platform::RemoveFolder(folder.c_str())) LogEvent("removed folder " + folder);
    }
}

int RemovalExitCode(RemovalOutcome outcome, const Removal& removal) {
    if (outcome == RemovalOutcome::Stopped) return kExitStoppedOnError;
    return removal.itemsLeft.empty() ? kExitFinished : kExitItemsMissing;
}

std::string RemovalFailureText(const std::string& path, const std::string& reason) {
    return "The file " + path + " could not be removed:\n" + reason +
           "\n\nClick Retry to try again, Ignore to skip this file, or Abort to stop the removal.";
}

std::string ConfirmationText(const std::string& product) {
    return "Do you want to remove " + product + " and all of its components?";
}

std::string RemovedText(const std::string& product, const std::vector<std::string>& itemsLeft) {
    if (itemsLeft.empty()) return product + " was removed from your computer.";
    std::string text = product + " was removed, but these items could not be removed:\n";
    const size_t shown = std::min(itemsLeft.size(), kItemsShown);
    for (size_t i = 0; i < shown; ++i) text += itemsLeft[i] + (i + 1 < shown ? "\n" : "");
    if (itemsLeft.size() > shown) text += "\nand " + std::to_string(itemsLeft.size() - shown) + " more";
    return text;
}

std::string UninstallSwitchesText() {
    return "/S\tRemove silently: no question, no window.\n"
           "/LOG=<file>\tWrite a log of the removal to this file.\n"
           "/? or /HELP\tShow this text.\n"
           "\n"
           "Exit codes:\n"
           "0\tthe product was removed, or the user chose to keep it\n"
           "1\tthe uninstaller could not start: its uninstall list is missing or damaged\n"
           "2\tthe removal stopped on an error\n"
           "3\tthe product was removed, but some items could not be removed";
}

std::string UnknownUninstallSwitchText(const std::string& argument) {
    return "Unknown switch: " + argument + "\n\nThe uninstaller knows these switches:\n" + UninstallSwitchesText();
}
