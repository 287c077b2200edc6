#include "wizard/WizardDialog.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>

#include "install/InstallWorker.h"
#include "resources/ResourceIds.h"
#include "common/Elevation.h"
#include "common/Log.h"
#include "state/TheInstaller.h"
#include "state/Workspace.h"
#include "wizard/PageController.h"
#include "wizard/OpenAsUser.h"
#include "wizard/PageImages.h"
#include "wizard/Pictures.h"
#include "wizard/ProgressDialog.h"
#include "wizard/Slideshow.h"
#include "platform/WideText.h"

namespace {

constexpr UINT_PTR kFolderTimer = 1;
constexpr UINT kFolderTimerMilliseconds = 100;
constexpr DWORD kRepaintPauseMilliseconds = 200;

// Page positions are pixels of the wizard's font at 96 dots per inch, whose
// dialog base units are 6 by 13 pixels. Scaling by the base units the font
// really has keeps them in step with the dialog at any DPI and font.
constexpr int kDesignBaseX = 6;
constexpr int kDesignBaseY = 13;

RECT ScaleRect(HWND dialog, int x, int y, int width, int height) {
    RECT units = {0, 0, 4, 8};
    MapDialogRect(dialog, &units);
    const int baseX = units.right > 0 ? units.right : kDesignBaseX;
    const int baseY = units.bottom > 0 ? units.bottom : kDesignBaseY;
    RECT scaled;
    scaled.left = MulDiv(x, baseX, kDesignBaseX);
    scaled.top = MulDiv(y, baseY, kDesignBaseY);
    scaled.right = scaled.left + MulDiv(width, baseX, kDesignBaseX);
    scaled.bottom = scaled.top + MulDiv(height, baseY, kDesignBaseY);
    return scaled;
}

class Win32WizardView : public WizardView {
public:
    explicit Win32WizardView(HWND dialog) : dialog_(dialog) {}

    void ShowControl(int id, bool visible) override { ShowWindow(GetDlgItem(dialog_, id), visible ? SW_SHOW : SW_HIDE); }

    void PlaceControl(int id, int x, int y, int width, int height) override {
        const RECT place = ScaleRect(dialog_, x, y, width, height);
        SetWindowPos(GetDlgItem(dialog_, id), nullptr, place.left, place.top, place.right - place.left,
                     place.bottom - place.top, SWP_NOZORDER | SWP_SHOWWINDOW);
    }

    void SetControlText(int id, const std::string& text) override { SetDlgItemTextW(dialog_, id, Widen(text).c_str()); }

    std::string ControlText(int id) override {
        wchar_t text[260] = {};
        GetDlgItemTextW(dialog_, id, text, 260);
        return Narrow(text);
    }

    bool IsChecked(int id) override { return SendDlgItemMessageW(dialog_, id, BM_GETCHECK, 0, 0) == BST_CHECKED; }

    void SetCaption(const std::string& caption) override { SetWindowTextW(dialog_, Widen(caption).c_str()); }

    void ShowWarning(const std::string& text) override {
        LogEvent("warning: " + text);
        MessageBoxW(dialog_, Widen(text).c_str(), Widen(TitleText(theInstaller)).c_str(), MB_OK | MB_ICONEXCLAMATION);
    }

    void ShowPageImages(int32_t page) override {
        InstallerState& state = theInstaller;
        LoadPictureFromFile(state, LogoPathForPage(state, page), &state.logoPicture);
        // The slideshow thread changes the same picture: both go through the lock.
        ShowBackgroundRecord(state, FindBackgroundRecord(state, page + 1, 0), page);
        if (state.backgroundWindow != nullptr) {
            InvalidateRect(static_cast<HWND>(state.backgroundWindow), nullptr, FALSE);
        }
        InvalidateRect(dialog_, nullptr, FALSE);
    }

    bool FreeBytes(const std::string& root, uint64_t* bytes) override { return platform::GetFreeBytes(root, bytes); }

    bool CanWriteTo(const std::string& folder) override { return CanCreateFileIn(folder); }

    void EndWizard() override { EndDialog(dialog_, 0); }

    void StartInstallation() override {
        CloseHandle(CreateThread(nullptr, 0, BackgroundSlideshow, nullptr, 0, nullptr));
        CloseHandle(CreateThread(nullptr, 0, InstallWorker, nullptr, 0, nullptr));
        if (theInstaller.separateProgressWindow) RunProgressDialog();
    }

    void CloseProgressWindow() override {
        HWND progress = static_cast<HWND>(theInstaller.progressDialog.load());
        if (progress != nullptr) EndDialog(progress, 0);
    }

    void RevealFinishedPage() override {
        ShowWindow(dialog_, SW_SHOWNORMAL);
        if (theInstaller.backgroundWindow != nullptr) {
            InvalidateRect(static_cast<HWND>(theInstaller.backgroundWindow), nullptr, FALSE);
        }
        Sleep(kRepaintPauseMilliseconds);
        InvalidateRect(dialog_, nullptr, FALSE);
        SetForegroundWindow(dialog_);
    }

    void FinishInstaller() override {
        const InstallerState& state = theInstaller;
        bool open = true;
        if (!state.eoiMessage.empty()) {
            const UINT buttons = state.eoiAskYesNo ? MB_YESNO : MB_OK;
            const int answer = MessageBoxW(dialog_, Widen(state.eoiMessage).c_str(), Widen(TitleText(state)).c_str(),
                                           buttons | MB_ICONEXCLAMATION);
            open = !state.eoiAskYesNo || answer == IDYES;
        }
        if (open && !state.eoiTarget.empty()) {
            const OpenedThrough through = OpenAsSignedInUser(state.eoiTarget);
            LogEvent("opened " + state.eoiTarget +
                     (through == OpenedThrough::UserShell ? " through the signed-in user's shell" : " from the installer"));
        }
        RemoveWorkspace();
        const int exitCode = FinishedExitCode(state);
        LogEvent("exit code " + std::to_string(exitCode));
        CloseLog();
        std::exit(exitCode);
    }

    int RunForAllUsers(const std::string& folder) override {
        const std::string& log = theInstaller.logPath;
        const std::string arguments = (log.empty() ? "" : "/LOG=\"" + log + "\" ") + "/D=" + folder;
        // The elevated run shows its own wizard, and background, meanwhile.
        HWND shown = theInstaller.backgroundWindow != nullptr ? static_cast<HWND>(theInstaller.backgroundWindow) : dialog_;
        ShowWindow(shown, SW_HIDE);
        int exitCode = -1;
        const std::string marker = std::string(kElevatedSwitch) + "=ALLUSERS";
        if (RelaunchElevated(marker, arguments, log, &exitCode) == platform::ElevatedRun::Finished) return exitCode;
        ShowWindow(shown, SW_SHOW);
        return -1;
    }

private:
    HWND dialog_;
};

void OnInitDialog(HWND dialog) {
    InstallerState& state = theInstaller;
    state.wizardWindow = dialog;
    SetDlgItemTextW(dialog, IDC_FOLDER, Widen(StartingFolder(state)).c_str());
    for (int box : {IDC_DESKTOP, IDC_START_MENU, IDC_QUICK_LAUNCH}) CheckDlgButton(dialog, box, BST_CHECKED);
    CheckDlgButton(dialog, state.scope == Scope::User ? IDC_JUST_FOR_ME : IDC_ALL_USERS, BST_CHECKED);
    HICON icon = LoadIconW(static_cast<HINSTANCE>(state.instance), MAKEINTRESOURCEW(IDI_SETUP));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    Win32WizardView view(dialog);
    ShowCurrentPage(state, view);
    if (state.backgroundWindow != nullptr) {
        SetParent(dialog, static_cast<HWND>(state.backgroundWindow));
        SetWindowLongW(dialog, GWL_STYLE, WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU);
        SetWindowPos(dialog, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
        InvalidateRect(dialog, nullptr, TRUE);
    }
    SetTimer(dialog, kFolderTimer, kFolderTimerMilliseconds, nullptr);
}

void OnPaint(HWND dialog) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(dialog, &paint);
    RECT client;
    GetClientRect(dialog, &client);
    const RECT logo = ScaleRect(dialog, 11, 13, 100, 170);
    RenderPicture(theInstaller, &theInstaller.logoPicture, dc, logo, client);
    EndPaint(dialog, &paint);
}

void BrowseForFolder(HWND dialog) {
    (void)CoInitialize(nullptr);
    BROWSEINFOW browse = {};
    browse.hwndOwner = dialog;
    browse.lpszTitle = L"Please select an install folder.";
    browse.ulFlags = BIF_NEWDIALOGSTYLE;
    if (LPITEMIDLIST chosen = SHBrowseForFolderW(&browse)) {
        wchar_t path[MAX_PATH] = {};
        if (SHGetPathFromIDListW(chosen, path)) SetDlgItemTextW(dialog, IDC_FOLDER, path);
        CoTaskMemFree(chosen);
    }
    CoUninitialize();
}

bool AskToCancel(HWND owner, const std::string& question) {
    return MessageBoxW(owner, Widen(question).c_str(), Widen(TitleText(theInstaller)).c_str(),
                       MB_YESNO | MB_ICONEXCLAMATION) == IDYES;
}

void OnCommand(HWND dialog, WPARAM command) {
    Win32WizardView view(dialog);
    switch (command) {
    case IDC_NEXT: OnNextButton(theInstaller, view); break;
    case IDC_PREVIOUS: OnPreviousButton(theInstaller, view); break;
    case IDC_BROWSE: BrowseForFolder(dialog); break;
    case IDC_ALL_USERS:
    case IDC_JUST_FOR_ME: OnScopeChoice(theInstaller, view); break;
    case IDC_CANCEL: ConfirmCancel(dialog); break;
    }
}

// Closing the window while files are placed asks the cancel question
// instead of leaving the worker running without a window.
void OnClose(HWND dialog) {
    if (theInstaller.currentPage == kPageInstalling) {
        ConfirmCancel(dialog);
        return;
    }
    EndDialog(dialog, 0);
}

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); break;
    case WM_PAINT: OnPaint(dialog); break;
    case WM_TIMER: {
        Win32WizardView view(dialog);
        OnFolderTimer(theInstaller, view);
        break;
    }
    case WM_COMMAND: OnCommand(dialog, wParam); break;
    case WM_CLOSE: OnClose(dialog); break;
    case kInstallFinishedMessage: {
        Win32WizardView view(dialog);
        OnInstallationFinished(theInstaller, view);
        break;
    }
    }
    return FALSE;
}

}  // namespace

void ConfirmCancel(HWND owner) {
    ConfirmCancel(theInstaller, [owner](const std::string& question) { return AskToCancel(owner, question); });
}

void RunWizardDialog() {
    DialogBoxParamW(static_cast<HINSTANCE>(theInstaller.instance), MAKEINTRESOURCEW(IDD_WIZARD), nullptr,
                    WizardDialogProc, 0);
}
