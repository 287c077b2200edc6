#pragma once
// The wizard's seven pages: which controls each shows, what the two buttons
// say, which pages are skipped, the install-folder check and the summary.
// Runs on the thread that owns the wizard window and reaches the window only
// through WizardView, so it can be driven without one.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "state/InstallerState.h"

enum WizardPage : int32_t {
    kPageWelcome = 0,
    kPageLicense = 1,
    kPageFolder = 2,
    kPageShortcuts = 3,
    kPageSummary = 4,
    kPageInstalling = 5,
    kPageFinished = 6,
};

// What the page controller needs from the wizard window. Positions are in
// pixels at 96 dots per inch, in client coordinates.
class WizardView {
public:
    virtual ~WizardView() = default;
    virtual void ShowControl(int id, bool visible) = 0;
    virtual void PlaceControl(int id, int x, int y, int width, int height) = 0;  // also shows it
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual std::string ControlText(int id) = 0;  // at most 259 characters
    virtual bool IsChecked(int id) = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual void ShowWarning(const std::string& text) = 0;  // OK box with the title as caption
    virtual void ShowPageImages(int32_t page) = 0;
    // Free bytes available to the user below root; false when unknown.
    virtual bool FreeBytes(const std::string& root, uint64_t* bytes) = 0;
    // Whether a file can be created where the folder is (or would be created).
    virtual bool CanWriteTo(const std::string& folder) = 0;
    virtual void EndWizard() = 0;
    // Starts the slideshow and the install worker; with a separate progress
    // window, returns only once that window has closed.
    virtual void StartInstallation() = 0;
    virtual void CloseProgressWindow() = 0;
    // Shows the wizard again, repaints and brings it to the front.
    virtual void RevealFinishedPage() = 0;
    // "Done": the closing question, the file to open, the end of the process.
    virtual void FinishInstaller() = 0;
    // Hands the installation for all users into folder over to a run with
    // administrator rights and waits for it: its exit code, or -1 when it
    // did not run (the prompt was refused).
    virtual int RunForAllUsers(const std::string&) { return -1; }
};

const char* PageName(int32_t page);
// "Title - Page name", also with an empty title.
std::string PageCaption(const std::string& title, int32_t page);

void ShowCurrentPage(InstallerState& state, WizardView& view);
void OnNextButton(InstallerState& state, WizardView& view);
void OnPreviousButton(InstallerState& state, WizardView& view);
// The install worker has finished: the finished page is set up once.
void OnInstallationFinished(InstallerState& state, WizardView& view);

// Asks whether to cancel the installation; the worker waits while the
// question is open and stops when the answer is yes.
void ConfirmCancel(InstallerState& state, const std::function<bool(const std::string& question)>& askYesNo);

// The install-folder page: label 1032 follows the folder field.
void UpdateDiskSpace(InstallerState& state, WizardView& view);
void OnFolderTimer(InstallerState& state, WizardView& view);
// False (after its warning) when the folder text is too short or the drive
// has no room for the payload.
bool CheckInstallFolder(InstallerState& state, WizardView& view);

// Creates and removes an empty file of a new name in the folder's nearest
// existing ancestor: true when that worked. Creates nothing else and leaves
// nothing behind.
bool CanCreateFileIn(const std::string& folder);

// The folder the folder field starts with: /D=, else an earlier version's,
// else def_install.txt's.
std::string StartingFolder(const InstallerState& state);

// Whether the folder page offers "all users" and "just for me": an Either
// package that no switch decided.
bool ScopeIsChosenOnPage(const InstallerState& state);
// def_install.txt's folder with "%program files%" as scope has it.
std::string ProposedFolder(InstallerState& state, Scope scope);
// A click on one of the two choices: the scope follows, and so does the
// folder field unless the user typed a folder of their own.
void OnScopeChoice(InstallerState& state, WizardView& view);

// The finished page's text: the plain one, or the items that were not
// installed (five at most, then how many more).
std::string FinishedText(const std::vector<std::string>& missingItems);
// 0, or 3 when some items were not installed.
int FinishedExitCode(const InstallerState& state);

// The "Summary" page's text.
std::string BuildSummary(const InstallerState& state, const std::string& folder, bool startMenu, bool desktop,
                         bool quickLaunch);
