#include "startup/SilentRun.h"

#include <windows.h>

#include "install/Installation.h"
#include "install/ShellLink.h"
#include "platform/Platform.h"
#include "startup/ControlFiles.h"
#include "startup/PackageLoader.h"
#include "common/ExitCodes.h"
#include "common/Log.h"
#include "state/TheInstaller.h"
#include "state/Workspace.h"
#include "wizard/PageController.h"

namespace {

// The folder page without a window: the field holds the folder, and a
// warning is logged instead of shown.
class SilentWizardView : public WizardView {
public:
    explicit SilentWizardView(const std::string& folder) : folder_(folder) {}

    std::string ControlText(int) override { return folder_; }
    void ShowWarning(const std::string& text) override { LogEvent("folder check failed: " + text); }
    bool FreeBytes(const std::string& root, uint64_t* bytes) override { return platform::GetFreeBytes(root, bytes); }
    bool CanWriteTo(const std::string& folder) override { return CanCreateFileIn(folder); }

    void ShowControl(int, bool) override {}
    void PlaceControl(int, int, int, int, int) override {}
    void SetControlText(int, const std::string&) override {}
    bool IsChecked(int) override { return true; }
    void SetCaption(const std::string&) override {}
    void ShowPageImages(int32_t) override {}
    void EndWizard() override {}
    void StartInstallation() override {}
    void CloseProgressWindow() override {}
    void RevealFinishedPage() override {}
    void FinishInstaller() override {}

private:
    std::string folder_;
};

// The wizard's defaults for every question: every shortcut location the
// package uses, an existing file replaced, a failed file the end.
class SilentInstallView : public InstallView {
public:
    explicit SilentInstallView(const std::string& folder) : folder_(folder) {}

    std::string InstallFolderText() override { return folder_; }
    void UseReportingWindow() override {}
    void SetStatus(const std::string&) override {}
    void SetProgressRange(int32_t) override {}
    void SetProgressPosition(int32_t) override {}
    OverwriteAnswer AskOverwrite(const std::string&) override { return OverwriteAnswer::Yes; }
    FailureAnswer AskAboutFailure(const std::string&) override { return FailureAnswer::Abort; }
    bool IsLocationTicked(int32_t) override { return true; }
    bool CreateShellLink(const std::string& target, const std::string& workingFolder,
                         const std::string& linkPath) override {
        return SaveShellLink(target, workingFolder, linkPath);
    }
    void NotifyFolderCreated(const std::string& folder) override { NotifyShellOfFolder(folder); }
    void Tell(const std::string&) override {}  // the log has it

private:
    std::string folder_;
};

int LoadPackage() {
    if (!CreateWorkspace()) {
        LogEvent("error: no workspace could be made in the temporary folder " + platform::GetTempFolder() + ": " +
                 platform::ErrorMessage(platform::LastErrorCode()));
        return kExitCouldNotStart;
    }
    LogEvent("workspace: " + WorkspacePath());
    const CopyResult copied =
        CopyArchiveOut(theInstaller, platform::GetModuleFilePath(), ArchiveCopyPath(), CopyProgress());
    if (copied == CopyResult::Damaged) {
        LogEvent("error: the installer is damaged or incomplete");
        return kExitCouldNotStart;
    }
    if (copied != CopyResult::Copied) {
        LogEvent("error: the temporary folder " + platform::GetTempFolder() + " cannot be written");
        return kExitCouldNotStart;
    }
    (void)ExtractControlFolder(theInstaller, ArchiveCopyPath(), WorkspaceBase());
    LogEvent("payload: " + std::to_string(theInstaller.payloadItemCount) + " items, " +
             std::to_string(theInstaller.payloadBytes) + " bytes");
    // A background window is never shown: only its settings are read.
    (void)LoadControlFiles(theInstaller, WorkspaceBase());
    return kExitFinished;
}

int Install() {
    const std::string folder = StartingFolder(theInstaller);
    LogEvent("install folder: " + folder);
    SilentWizardView folderPage(folder);
    if (!CheckInstallFolder(theInstaller, folderPage)) return kExitStoppedOnError;
    LogEvent("folder checks passed");
    (void)CoInitialize(nullptr);
    SilentInstallView view(folder);
    const InstallOutcome outcome = RunInstallation(theInstaller, view);
    CoUninitialize();
    if (outcome != InstallOutcome::Finished) return InstallExitCode(outcome);
    return FinishedExitCode(theInstaller);
}

}  // namespace

int RunSilently() {
    int exitCode = LoadPackage();
    if (exitCode == kExitFinished) exitCode = Install();
    RemoveWorkspace();
    return exitCode;
}
