#include "install/InstallWorker.h"

#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include "install/Installation.h"
#include "install/ShellLink.h"
#include "platform/Win32Handles.h"
#include "resources/ResourceIds.h"
#include "common/ExitCodes.h"
#include "common/Log.h"
#include "state/TheInstaller.h"
#include "state/Workspace.h"
#include "platform/WideText.h"

namespace {

constexpr DWORD kProgressWindowPollMilliseconds = 50;
// Nobody reads a status line or sees a bar move faster than this; a message
// per file to the window's thread would cost more than placing a small file,
// and would tie the pace to how fast that thread repaints.
constexpr DWORD kStatusIntervalMilliseconds = 50;

// The worker's side of the windows: every control is reached by messages to
// the thread that owns it.
class Win32InstallView : public InstallView {
public:
    ~Win32InstallView() override { Flush(); }

    std::string InstallFolderText() override {
        wchar_t text[260] = {};
        GetDlgItemTextW(Wizard(), IDC_FOLDER, text, 260);
        return Narrow(text);
    }

    void UseReportingWindow() override {
        reporting_ = Wizard();
        if (!theInstaller.separateProgressWindow) return;
        while (theInstaller.progressDialog.load() == nullptr) Sleep(kProgressWindowPollMilliseconds);
        reporting_ = static_cast<HWND>(theInstaller.progressDialog.load());
        ShowWindow(GetDlgItem(reporting_, SelectedProgressBar(theInstaller)), SW_SHOWNORMAL);
    }

    void SetStatus(const std::string& text) override {
        pendingStatus_ = text;
        statusPending_ = true;
        FlushWhenDue();
    }

    void SetProgressRange(int32_t maximum) override {
        SendDlgItemMessageW(reporting_, SelectedProgressBar(theInstaller), PBM_SETRANGE32, 0, maximum);
    }

    void SetProgressPosition(int32_t position) override {
        pendingPosition_ = position;
        FlushWhenDue();
    }

    OverwriteAnswer AskOverwrite(const std::string& question) override {
        Flush();  // the question is about the file the status names
        const int answer = MessageBoxW(reporting_, Widen(question).c_str(), Widen(TitleText(theInstaller)).c_str(),
                                       MB_YESNOCANCEL | MB_ICONEXCLAMATION);
        if (answer == IDYES) return OverwriteAnswer::Yes;
        if (answer == IDNO) return OverwriteAnswer::No;
        return OverwriteAnswer::Cancel;
    }

    FailureAnswer AskAboutFailure(const std::string& message) override {
        Flush();
        const int answer = MessageBoxW(reporting_, Widen(message).c_str(), Widen(TitleText(theInstaller)).c_str(),
                                       MB_ABORTRETRYIGNORE | MB_ICONERROR);
        if (answer == IDRETRY) return FailureAnswer::Retry;
        if (answer == IDIGNORE) return FailureAnswer::Ignore;
        return FailureAnswer::Abort;
    }

    bool IsLocationTicked(int32_t location) override {
        static const int kBoxes[] = {IDC_DESKTOP, IDC_START_MENU, IDC_QUICK_LAUNCH};
        return SendDlgItemMessageW(Wizard(), kBoxes[location], BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    bool CreateShellLink(const std::string& target, const std::string& workingFolder,
                         const std::string& linkPath) override {
        return SaveShellLink(target, workingFolder, linkPath);
    }

    void NotifyFolderCreated(const std::string& folder) override { NotifyShellOfFolder(folder); }

    void Tell(const std::string& text) override {
        Flush();
        MessageBoxW(reporting_, Widen(text).c_str(), Widen(TitleText(theInstaller)).c_str(), MB_OK | MB_ICONINFORMATION);
    }

private:
    static HWND Wizard() { return static_cast<HWND>(theInstaller.wizardWindow); }

    void FlushWhenDue() {
        if (GetTickCount() - lastShownTime_ >= kStatusIntervalMilliseconds) Flush();
    }

    // Shows the latest status and position. The position is posted: the
    // bar catches up without the worker waiting for it.
    void Flush() {
        if (reporting_ == nullptr) return;
        if (statusPending_) SetDlgItemTextW(reporting_, IDC_STATUS, Widen(pendingStatus_).c_str());
        if (pendingPosition_ >= 0) {
            PostMessageW(GetDlgItem(reporting_, SelectedProgressBar(theInstaller)), PBM_SETPOS, pendingPosition_, 0);
        }
        statusPending_ = false;
        pendingPosition_ = -1;
        lastShownTime_ = GetTickCount();
    }

    HWND reporting_ = nullptr;
    std::string pendingStatus_;
    bool statusPending_ = false;
    int32_t pendingPosition_ = -1;
    DWORD lastShownTime_ = 0;
};

}  // namespace

DWORD WINAPI InstallWorker(void*) {
    (void)CoInitialize(nullptr);
    InstallOutcome outcome;
    {
        Win32InstallView view;  // shows its last status as it goes
        outcome = RunInstallation(theInstaller, view);
    }
    CoUninitialize();
    if (outcome != InstallOutcome::Finished) {
        // Undone and told already.
        RemoveWorkspace();
        const int exitCode = InstallExitCode(outcome);
        LogEvent("exit code " + std::to_string(exitCode));
        CloseLog();
        ExitProcess(static_cast<UINT>(exitCode));
    }
    PostMessageW(static_cast<HWND>(theInstaller.wizardWindow), kInstallFinishedMessage, 0, 0);
    return 0;
}
