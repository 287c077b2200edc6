#include <windows.h>
#include <commctrl.h>

#include "platform/Platform.h"
#include "platform/WideText.h"
#include "common/CommandLine.h"
#include "common/Elevation.h"
#include "startup/ControlFiles.h"
#include "startup/ExtractionDialog.h"
#include "common/LibrarySearch.h"
#include "startup/PackageLoader.h"
#include "startup/SilentRun.h"
#include "common/ExitCodes.h"
#include "common/Log.h"
#include "state/TheInstaller.h"
#include "state/Workspace.h"
#include "wizard/BackgroundWindow.h"
#include "wizard/PageController.h"
#include "wizard/WizardDialog.h"

InstallerState theInstaller;

namespace {

constexpr DWORD kStopPollMilliseconds = 100;
constexpr char kStartFailureCaption[] = "Installer";
constexpr char kAnotherRunningText[] =
    "Another installation is already running.\n\nWait for it to finish, then start this installer again.";
constexpr char kDamagedInstallerText[] = "This installer is damaged or incomplete.\n\nPlease download it again.";

DWORD WINAPI LoaderThread(void*) {
    const std::string installer = platform::GetModuleFilePath();
    CopyProgress progress;
    progress.setRange = PostExtractionRange;
    progress.setPosition = PostExtractionPosition;
    const CopyResult copied = CopyArchiveOut(theInstaller, installer, ArchiveCopyPath(), progress);
    if (copied == CopyResult::Cancelled) return 0;
    if (copied != CopyResult::Copied) {
        // Nothing of a damaged package is used: no wizard with defaults.
        (copied == CopyResult::Damaged ? theInstaller.packageDamaged : theInstaller.workspaceUnwritable)
            .store(true, std::memory_order_relaxed);
        theInstaller.loadingComplete.store(true, std::memory_order_release);
        NotifyLoadingComplete();
        return 0;
    }
    if (!ExtractControlFolder(theInstaller, ArchiveCopyPath(), WorkspaceBase())) return 0;
    LogEvent("payload: " + std::to_string(theInstaller.payloadItemCount) + " items, " +
             std::to_string(theInstaller.payloadBytes) + " bytes");
    // With fullscreen.txt the background runs here until the process ends;
    // its opening completes the loading.
    if (LoadControlFiles(theInstaller, WorkspaceBase())) {
        RunBackgroundWindow(NotifyLoadingComplete);
    } else {
        NotifyLoadingComplete();
    }
    return 0;
}

// After a cancel, the loader stops at its next check and closes its files.
// A cancel it can no longer see (loading was already past its last check)
// must not keep us waiting: loading complete, or the thread gone, ends the wait.
void WaitForLoaderToStop(HANDLE loader) {
    for (;;) {
        if (theInstaller.loaderStopped.load(std::memory_order_acquire)) return;
        if (theInstaller.loadingComplete.load(std::memory_order_acquire)) return;
        if (loader == nullptr || WaitForSingleObject(loader, 0) == WAIT_OBJECT_0) return;
        Sleep(kStopPollMilliseconds);
    }
}

// Without its dialog, loading still has to finish before the wizard may
// read what it loaded.
void WaitForLoading(HANDLE loader) {
    while (!theInstaller.loadingComplete.load(std::memory_order_acquire)) {
        if (WaitForSingleObject(loader, kStopPollMilliseconds) == WAIT_OBJECT_0) return;
    }
}

// One installation at a time for each temporary folder, that is for each
// user: the run that holds this mutex goes on. The name stands for the
// temporary folder (letter case aside) in the session's namespace; a run
// that was killed leaves the mutex abandoned, which the next run takes over.
// Null when another run holds it.
HANDLE ClaimInstallation() {
    std::wstring path = Widen(platform::GetTempFolder());
    if (!path.empty()) CharUpperBuffW(&path[0], static_cast<DWORD>(path.size()));
    uint32_t hash = 2166136261u;  // FNV-1a over the UTF-16 units
    for (const wchar_t c : path) hash = (hash ^ static_cast<uint16_t>(c)) * 16777619u;
    wchar_t name[64];
    wsprintfW(name, L"Local\\KXInstall-run-%08lX-%lu", static_cast<unsigned long>(hash),
              static_cast<unsigned long>(path.size()));
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr) return INVALID_HANDLE_VALUE;  // no mutex to be had: go on unguarded
    const DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) return mutex;
    CloseHandle(mutex);
    return nullptr;
}

// Tells why the installer cannot start; the exit code says it too.
int ReportStartFailure() {
    std::string text = kDamagedInstallerText;
    if (theInstaller.workspaceUnwritable.load(std::memory_order_relaxed)) {
        text = "The installer could not write to the temporary folder " + platform::GetTempFolder() +
               ".\n\nMake room there, then start the installer again.";
    }
    MessageBoxW(nullptr, Widen(text).c_str(), Widen(kStartFailureCaption).c_str(), MB_OK | MB_ICONERROR);
    return kExitCouldNotStart;
}

// The wizard's text box class. Loading its library takes as long as the
// extraction dialog's start, so it is loaded beside it; the wizard waits.
DWORD WINAPI LoadRichEditLibrary(void*) {
    (void)LoadSystemLibrary(L"RichEd32.dll");
    return 0;
}

void WaitForRichEdit(HANDLE loading) {
    if (loading == nullptr) {
        (void)LoadRichEditLibrary(nullptr);  // no thread: here and now
        return;
    }
    WaitForSingleObject(loading, INFINITE);
}

// The wizard's run, from the extraction dialog to the last page.
int RunWithWindows() {
    if (!CreateWorkspace()) {
        LogEvent("error: no workspace could be made in the temporary folder " + platform::GetTempFolder());
        theInstaller.workspaceUnwritable = true;
        return ReportStartFailure();
    }
    LogEvent("workspace: " + WorkspacePath());
    HANDLE richEdit = CreateThread(nullptr, 0, LoadRichEditLibrary, nullptr, 0, nullptr);
    HANDLE loader = CreateThread(nullptr, 0, LoaderThread, nullptr, 0, nullptr);
    if (loader == nullptr) theInstaller.cancelLoading = true;  // nothing can be loaded: leave at once
    if (loader != nullptr && !RunExtractionDialog()) WaitForLoading(loader);
    int exitCode = kExitFinished;
    if (theInstaller.cancelLoading.load(std::memory_order_acquire)) {
        WaitForLoaderToStop(loader);
    } else if (theInstaller.packageDamaged.load(std::memory_order_acquire) ||
               theInstaller.workspaceUnwritable.load(std::memory_order_acquire)) {
        exitCode = ReportStartFailure();
    } else {
        WaitForRichEdit(richEdit);
        if (theInstaller.startAfterFolderPage) {
            theInstaller.currentPage = theInstaller.shortcutsDefined ? kPageShortcuts : kPageSummary;
        }
        RunWizardDialog();
        // Closed on the finished page rather than left with Done.
        if (theInstaller.currentPage == kPageFinished) exitCode = FinishedExitCode(theInstaller);
        if (theInstaller.elevatedExitCode >= 0) exitCode = theInstaller.elevatedExitCode;
    }
    RemoveWorkspace();
    if (richEdit != nullptr) CloseHandle(richEdit);
    return exitCode;
}

void StartLog(const CommandLine& line, const std::string& arguments) {
    // A run started again elevated writes on in the first run's log.
    if (line.logPath.empty() || !OpenLog(line.logPath, line.elevatedRun)) return;  // without a log the run goes on
    LogEvent("KXInstall " KX_VERSION " started: " + platform::GetModuleFilePath());
    LogEvent("command line: " + arguments);
}

int Ended(int exitCode) {
    LogEvent("exit code " + std::to_string(exitCode));
    CloseLog();
    return exitCode;
}

void ShowSwitchesBox(const std::string& text, UINT icon) {
    MessageBoxW(nullptr, Widen(text).c_str(), Widen(kStartFailureCaption).c_str(), MB_OK | icon);
}

constexpr int kGoOn = -1;

std::string SwitchName(ScopeSwitch given) { return given == ScopeSwitch::AllUsers ? "/ALLUSERS" : "/CURRENTUSER"; }

// Decides who the package is installed for, before anything is copied out.
// kGoOn to go on in this process, else the exit code to end with: a switch
// the package does not allow, a refused prompt, or the elevated run's.
int PlanThisRun(const CommandLine& line, const std::string& arguments) {
    InstallerState& state = theInstaller;
    state.scopeSetting = ReadScopeSetting(platform::GetModuleFilePath());
    state.rights = platform::QueryProcessRights();
    state.logPath = line.logPath;
    if (state.scopeSetting == ScopeSetting::Invalid) LogEvent("scope.txt names no scope the installer knows: not used");
    const ScopeSwitch given = line.elevatedForAllUsers ? ScopeSwitch::AllUsers : line.scope;
    const ScopePlan plan = PlanScope(state.scopeSetting, given, state.rights);
    if (plan.refused) {
        LogEvent("error: unknown switch " + SwitchName(given));
        if (!line.silent) ShowSwitchesBox(UnknownSwitchText(SwitchName(given)), MB_ICONERROR);
        return kExitCouldNotStart;
    }
    state.scope = plan.scope;
    state.scopeDecided = given != ScopeSwitch::None || line.silent;
    state.startAfterFolderPage = line.elevatedForAllUsers;
    LogEvent("scope: " + (plan.scope == Scope::Legacy ? std::string("none") : ScopeName(plan.scope)));
    // Where the folder page leaves the choice to the user, it asks first.
    if (!plan.relaunch || line.elevatedRun || ScopeIsChosenOnPage(state)) return kGoOn;
    int exitCode = kExitCouldNotStart;
    const platform::ElevatedRun run = RelaunchElevated(kElevatedSwitch, arguments, line.logPath, &exitCode);
    if (run == platform::ElevatedRun::Finished) return exitCode;
    // Without a prompt to be had, a package without a scope goes on as
    // for a user without the rights.
    if (run == platform::ElevatedRun::Failed && plan.scope == Scope::Legacy) return kGoOn;
    if (!line.silent) ShowSwitchesBox(RightsRefusedText(false), MB_ICONERROR);
    return kExitCouldNotStart;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    RestrictLibrarySearch();
    const std::string arguments = Narrow(commandLine);
    const CommandLine line = ParseCommandLine(arguments);
    StartLog(line, arguments);
    if (!line.unknown.empty()) {
        LogEvent("error: unknown switch " + line.unknown);
        if (!line.silent) ShowSwitchesBox(UnknownSwitchText(line.unknown), MB_ICONERROR);
        return Ended(kExitCouldNotStart);
    }
    if (line.help) {
        if (!line.silent) ShowSwitchesBox(SwitchesText(), MB_ICONINFORMATION);
        return Ended(kExitFinished);
    }
    const int planned = PlanThisRun(line, arguments);
    if (planned != kGoOn) return Ended(planned);
    theInstaller.instance = instance;
    theInstaller.presetFolder = line.folder;
    // A run that the folder page started holds no claim: the run that
    // started it holds it, and waits for it.
    HANDLE claim = line.elevatedForAllUsers ? INVALID_HANDLE_VALUE : ClaimInstallation();
    if (claim == nullptr) {
        LogEvent("error: another installation is already running");
        if (!line.silent) {
            MessageBoxW(nullptr, Widen(kAnotherRunningText).c_str(), Widen(kStartFailureCaption).c_str(),
                        MB_OK | MB_ICONEXCLAMATION);
        }
        return Ended(kExitAnotherRunning);
    }
    int exitCode = kExitFinished;
    if (line.silent) {
        exitCode = RunSilently();
    } else {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);  // the progress bars' class
        exitCode = RunWithWindows();
    }
    if (claim != INVALID_HANDLE_VALUE) {
        ReleaseMutex(claim);
        CloseHandle(claim);
    }
    return Ended(exitCode);
}
