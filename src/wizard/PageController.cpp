#include "wizard/PageController.h"

#include <algorithm>
#include <cstdio>

#include "text/TextEncoding.h"
#include "platform/Platform.h"
#include "resources/ResourceIds.h"
#include "common/Elevation.h"
#include "common/ExitCodes.h"
#include "install/Installation.h"
#include "wizard/EndOfInstall.h"

namespace {

const char* const kPageNames[] = {"Welcome",  "License Agreement", "Installation Directory", "Shortcuts",
                                  "Summary",  "Installing...",     "Installation finished"};

const char kFinishedText[] = "Installation finished!\n\nClick done to exit.";
constexpr size_t kMissingItemsShown = 5;
constexpr int64_t kMegabyte = 1048576;

void PlaceTextBox(WizardView& view) { view.PlaceControl(IDC_TEXT, 114, 40, 306, 143); }

// Moves to another page in place of this one and shows it instead.
void ShowInstead(InstallerState& state, WizardView& view, int32_t page) {
    state.currentPage = page;
    ShowCurrentPage(state, view);
}

void ShowShortcutBoxes(InstallerState& state, WizardView& view, bool onShortcutPage) {
    const bool show = onShortcutPage && state.shortcutsDefined;
    view.ShowControl(IDC_START_MENU, show && state.shortcutLocationUsed[1]);
    view.ShowControl(IDC_DESKTOP, show && state.shortcutLocationUsed[0]);
    view.ShowControl(IDC_QUICK_LAUNCH, show && state.shortcutLocationUsed[2]);
}

void ShowScopeChoice(InstallerState& state, WizardView& view, bool onFolderPage) {
    const bool show = onFolderPage && ScopeIsChosenOnPage(state);
    view.ShowControl(IDC_ALL_USERS, show);
    view.ShowControl(IDC_JUST_FOR_ME, show);
}

// Next on the folder page of an install for all users without the rights
// for it: a run with them takes over. False to stay on the page.
bool HandOverForAllUsers(InstallerState& state, WizardView& view) {
    if (!ScopeIsChosenOnPage(state) || !NeedsElevation(state.scope, state.rights)) return true;
    const int exitCode = view.RunForAllUsers(view.ControlText(IDC_FOLDER));
    if (exitCode < 0) {
        view.ShowWarning(RightsRefusedText(true));
        return false;
    }
    state.elevatedExitCode = exitCode;
    state.currentPage = -1;
    view.EndWizard();
    return false;
}

void ShowSummary(InstallerState& state, WizardView& view) {
    const std::string summary =
        BuildSummary(state, view.ControlText(IDC_FOLDER), view.IsChecked(IDC_START_MENU), view.IsChecked(IDC_DESKTOP),
                     view.IsChecked(IDC_QUICK_LAUNCH));
    view.SetControlText(IDC_SUMMARY, summary);
    view.ShowControl(IDC_SUMMARY, true);
    view.SetControlText(IDC_NEXT, "Install");
}

void SetUpFinishedPage(InstallerState& state, WizardView& view) {
    LoadEndOfInstallSettings(state, view.ControlText(IDC_FOLDER));
    view.SetControlText(IDC_SUMMARY, FinishedText(state.missingItems));
    view.ShowControl(IDC_SUMMARY, true);
    view.ShowControl(IDC_NEXT, true);
    view.SetControlText(IDC_NEXT, "Done");
    view.RevealFinishedPage();
}

}  // namespace

const char* PageName(int32_t page) { return (page >= 0 && page <= kPageFinished) ? kPageNames[page] : ""; }

std::string StartingFolder(const InstallerState& state) {
    if (!state.presetFolder.empty()) return state.presetFolder;
    if (!state.previousFolder.empty()) return state.previousFolder;
    return state.preferredFolder.empty() ? state.defaultFolder : state.preferredFolder;
}

bool ScopeIsChosenOnPage(const InstallerState& state) {
    return state.scopeSetting == ScopeSetting::Either && !state.scopeDecided;
}

std::string ProposedFolder(InstallerState& state, Scope scope) {
    // The table is the wizard thread's until the installation starts.
    const int programFiles = state.macroTable.programFilesFolder;
    state.macroTable.programFilesFolder = FoldersFor(scope).programFiles;
    std::string folder = ExpandMacros(state.macroTable, state.preferredFolderTemplate, std::string());
    if (folder.empty()) folder = ExpandMacros(state.macroTable, state.defaultFolderTemplate, std::string());
    state.macroTable.programFilesFolder = programFiles;
    return folder;
}

void OnScopeChoice(InstallerState& state, WizardView& view) {
    if (!ScopeIsChosenOnPage(state)) return;
    const Scope chosen = view.IsChecked(IDC_ALL_USERS) ? Scope::Machine : Scope::User;
    if (chosen == state.scope) return;
    if (view.ControlText(IDC_FOLDER) == ProposedFolder(state, state.scope)) {
        view.SetControlText(IDC_FOLDER, ProposedFolder(state, chosen));
    }
    state.scope = chosen;
    state.macroTable.programFilesFolder = FoldersFor(chosen).programFiles;
}

std::string FinishedText(const std::vector<std::string>& missingItems) {
    if (missingItems.empty()) return kFinishedText;
    std::string text = "Installation finished, but these items were not installed:\n";
    const size_t shown = std::min(missingItems.size(), kMissingItemsShown);
    for (size_t i = 0; i < shown; ++i) text += missingItems[i] + "\n";
    if (missingItems.size() > shown) text += "and " + std::to_string(missingItems.size() - shown) + " more\n";
    return text + "\nClick done to exit.";
}

int FinishedExitCode(const InstallerState& state) {
    return state.missingItems.empty() ? kExitFinished : kExitItemsMissing;
}

std::string PageCaption(const std::string& title, int32_t page) { return title + " - " + PageName(page); }

void ShowCurrentPage(InstallerState& state, WizardView& view) {
    // The page is fixed for this call: a nested call (a skip, or the finished
    // page arriving while the progress window runs) sets up its own page.
    const int32_t page = state.currentPage;
    if (page < 0) {
        view.EndWizard();
        return;
    }
    view.ShowControl(IDC_CREDIT, false);
    view.ShowPageImages(page);
    view.SetCaption(PageCaption(TitleText(state), page));
    if (page <= kPageSummary) {
        view.PlaceControl(IDC_NEXT, 340, 199, 80, 23);
        view.PlaceControl(IDC_PREVIOUS, 11, 199, 80, 23);
    }

    if (page == kPageWelcome) {
        if (state.welcomeText.empty()) return ShowInstead(state, view, state.movingForward ? kPageLicense : -1);
        view.SetControlText(IDC_TEXT, state.welcomeText);
        PlaceTextBox(view);
        view.ShowControl(IDC_BROWSE, false);
        view.ShowControl(IDC_FOLDER, false);
        view.ShowControl(IDC_FOLDER_PROMPT, false);
        view.SetControlText(IDC_NEXT, "Next");
        view.SetControlText(IDC_PREVIOUS, "Exit");
    }
    if (page == kPageLicense) {
        if (state.licenseText.empty()) return ShowInstead(state, view, state.movingForward ? kPageFolder : kPageWelcome);
        PlaceTextBox(view);
        view.SetControlText(IDC_TEXT, state.licenseText);
        view.ShowControl(IDC_LICENSE_PROMPT, true);
        view.ShowControl(IDC_TEXT, true);
        view.SetControlText(IDC_NEXT, "I Agree");
        view.SetControlText(IDC_PREVIOUS, state.welcomeText.empty() ? "Exit" : "I Disagree");
    } else {
        view.ShowControl(IDC_LICENSE_PROMPT, false);
    }
    if (page == kPageFolder) {
        const bool earlierPages = !state.licenseText.empty() || !state.welcomeText.empty();
        view.SetControlText(IDC_PREVIOUS, earlierPages ? "Previous" : "Exit");
        view.ShowControl(IDC_SUMMARY, false);
        view.ShowControl(IDC_TEXT, false);
        for (int id : {IDC_BROWSE, IDC_FOLDER, IDC_FOLDER_PROMPT, IDC_DISK_SPACE}) view.ShowControl(id, true);
        view.SetControlText(IDC_NEXT, "Next");
    } else {
        for (int id : {IDC_BROWSE, IDC_FOLDER, IDC_FOLDER_PROMPT, IDC_DISK_SPACE}) view.ShowControl(id, false);
    }
    if (page == kPageShortcuts || page == kPageSummary) {
        if (!CheckInstallFolder(state, view)) return ShowInstead(state, view, kPageFolder);
        view.SetControlText(IDC_PREVIOUS, "Previous");
    }
    if (page == kPageShortcuts && state.shortcutsDefined) view.SetControlText(IDC_NEXT, "Next");
    ShowShortcutBoxes(state, view, page == kPageShortcuts);
    ShowScopeChoice(state, view, page == kPageFolder);
    if (page == kPageSummary) {
        ShowSummary(state, view);
    } else {
        view.ShowControl(IDC_SUMMARY, false);
    }
    if (page == kPageInstalling) {
        view.ShowControl(IDC_STATUS, true);
        view.ShowControl(SelectedProgressBar(state), true);
        view.ShowControl(IDC_CANCEL, true);
        view.ShowControl(IDC_PREVIOUS, false);
        view.ShowControl(IDC_NEXT, false);
        view.StartInstallation();
        return;
    }
    view.ShowControl(IDC_STATUS, false);
    view.ShowControl(SelectedProgressBar(state), false);
    view.ShowControl(IDC_CANCEL, false);
    if (page == kPageFinished) {
        view.ShowControl(IDC_PREVIOUS, false);
        SetUpFinishedPage(state, view);
    }
}

void OnNextButton(InstallerState& state, WizardView& view) {
    const int32_t page = state.currentPage;
    if (page == kPageInstalling) return;  // the button is hidden while files are placed
    if (page == kPageFinished) {
        view.FinishInstaller();
        return;
    }
    if (page == kPageFolder && !HandOverForAllUsers(state, view)) return;
    int32_t next = page + 1;
    if (!state.shortcutsDefined && next == kPageShortcuts) next = kPageSummary;
    state.currentPage = next;
    state.movingForward = true;
    ShowCurrentPage(state, view);
}

void OnPreviousButton(InstallerState& state, WizardView& view) {
    const int32_t page = state.currentPage;
    if (page >= kPageInstalling) return;  // hidden from the installing page on
    int32_t previous = page - 1;
    if (!state.shortcutsDefined && previous == kPageShortcuts) previous = kPageFolder;
    state.currentPage = previous;
    state.movingForward = false;
    ShowCurrentPage(state, view);
}

void OnInstallationFinished(InstallerState& state, WizardView& view) {
    view.CloseProgressWindow();
    if (state.currentPage != kPageInstalling) return;  // set up once only
    state.currentPage = kPageFinished;
    ShowCurrentPage(state, view);
}

void ConfirmCancel(InstallerState& state, const std::function<bool(const std::string& question)>& askYesNo) {
    state.cancelPromptOpen = true;
    if (askYesNo("Are you sure you wish to cancel the installation?")) state.cancelRequested = true;
    state.cancelPromptOpen = false;
}

void UpdateDiskSpace(InstallerState& state, WizardView& view) {
    const std::string folder = view.ControlText(IDC_FOLDER);
    uint64_t freeBytes = 0;
    if (!view.FreeBytes(FirstCharacters(folder, 2), &freeBytes)) freeBytes = 0;
    const uint64_t megabytes = freeBytes / kMegabyte;
    state.availableMegabytes = megabytes > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(megabytes);
    view.SetControlText(IDC_DISK_SPACE, "Disk space needed: " + std::to_string(static_cast<unsigned>(state.neededMegabytes)) +
                                            " MB\nAvailable disk space: " +
                                            std::to_string(static_cast<unsigned>(state.availableMegabytes)) + " MB");
}

void OnFolderTimer(InstallerState& state, WizardView& view) {
    const std::string folder = view.ControlText(IDC_FOLDER);
    if (folder == state.lastFolderText) return;
    UpdateDiskSpace(state, view);
    state.lastFolderText = folder;
}

bool CheckInstallFolder(InstallerState& state, WizardView& view) {
    const std::string folder = view.ControlText(IDC_FOLDER);
    UpdateDiskSpace(state, view);
    if (CountUtf8Characters(folder) < 2) {
        view.ShowWarning("You have to enter a valid install path before continuing.");
        return false;
    }
    if (state.neededMegabytes >= state.availableMegabytes) {
        view.ShowWarning(std::string("There isn't enough free disk space on drive ") + FirstCharacters(folder, 1) +
                         ".\nPlease free some disk space and try again.");
        return false;
    }
    if (!view.CanWriteTo(folder)) {
        view.ShowWarning("You can't write to the folder " + folder +
                         ".\nChoose another folder, or start the installer as an administrator.");
        return false;
    }
    return true;
}

bool CanCreateFileIn(const std::string& folder) {
    std::string existing = folder;
    while (!existing.empty() && (existing.back() == '\\' || existing.back() == '/')) existing.pop_back();
    while (!existing.empty()) {
        const uint32_t attributes = platform::ReadAttributes(existing.c_str());
        if (attributes != platform::kNoAttributes && (attributes & platform::kAttributeDirectory)) break;
        const size_t separator = existing.find_last_of("\\/");
        existing = separator == std::string::npos ? std::string() : existing.substr(0, separator);
    }
    if (existing.empty()) return false;
    // A name no file has: a clock reading, tried a few times.
    const uint64_t stamp = platform::ClockReading();
    constexpr int kAttempts = 8;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string probe = existing + "\\kxinstall-write-test-" + std::to_string(stamp + attempt) + ".tmp";
        if (platform::PathExists(probe.c_str())) continue;
        const platform::FileHandle file = platform::CreateNewFile(probe.c_str());
        if (file == platform::kNoFile) return false;
        platform::CloseFile(file);
        return platform::RemoveFile(probe.c_str());
    }
    return false;
}

std::string BuildSummary(const InstallerState& state, const std::string& folder, bool startMenu, bool desktop,
                         bool quickLaunch) {
    std::string summary = "The files will be installed to:\n" + FirstCharacters(folder, 259);
    if (!state.shortcutsDefined) return summary;
    summary += "\n\nShortcuts to create:\n";
    const size_t before = summary.size();
    if (startMenu && state.shortcutLocationUsed[1]) summary += "- In the start menu.\n";
    if (desktop && state.shortcutLocationUsed[0]) summary += "- On the desktop.\n";
    if (quickLaunch && state.shortcutLocationUsed[2]) summary += "- On the quick start-menu.\n";
    if (summary.size() == before) summary += "None.";
    return summary;
}
