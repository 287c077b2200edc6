#include "uninstall/RemovalDialog.h"

#include <windows.h>
#include <commctrl.h>

#include "platform/WideText.h"
#include "uninstall/UninstallResources.h"

namespace {

constexpr UINT kRemovalEndedMessage = WM_APP + 1;
// The user sees no more than about this often; fewer messages keep a long
// list from waiting on the window.
constexpr DWORD kProgressIntervalMs = 50;

class DialogRemovalView : public RemovalView {
public:
    DialogRemovalView(HWND dialog, const std::string& caption) : dialog_(dialog), caption_(Widen(caption)) {}

    void SetProgressRange(int32_t maximum) override {
        SendDlgItemMessageW(dialog_, IDC_REMOVAL_PROGRESS, PBM_SETRANGE32, 0, maximum);
    }
    void ShowProgress(int32_t position, const std::string& path) override {
        const DWORD now = GetTickCount();
        if (shownOnce_ && now - lastShown_ < kProgressIntervalMs) return;
        shownOnce_ = true;
        lastShown_ = now;
        SetDlgItemTextW(dialog_, IDC_REMOVAL_PATH, Widen(path).c_str());
        PostMessageW(GetDlgItem(dialog_, IDC_REMOVAL_PROGRESS), PBM_SETPOS, position, 0);
    }
    FailureAnswer AskAboutFailure(const std::string& message) override {
        const int answer =
            MessageBoxW(dialog_, Widen(message).c_str(), caption_.c_str(), MB_ABORTRETRYIGNORE | MB_ICONERROR);
        if (answer == IDRETRY) return FailureAnswer::Retry;
        if (answer == IDIGNORE) return FailureAnswer::Ignore;
        return FailureAnswer::Abort;
    }

private:
    HWND dialog_;
    std::wstring caption_;
    bool shownOnce_ = false;
    DWORD lastShown_ = 0;
};

struct DialogRun {
    Removal& removal;
    std::string caption;
    HWND dialog = nullptr;
    RemovalOutcome outcome = RemovalOutcome::Stopped;
};

DWORD WINAPI RemovalThread(void* parameter) {
    DialogRun& run = *static_cast<DialogRun*>(parameter);
    DialogRemovalView view(run.dialog, run.caption);
    run.outcome = RemoveProduct(run.removal, view);
    PostMessageW(run.dialog, kRemovalEndedMessage, 0, 0);
    return 0;
}

INT_PTR CALLBACK RemovalDialogProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG: {
        DialogRun& run = *reinterpret_cast<DialogRun*>(lParam);
        run.dialog = dialog;
        SetWindowTextW(dialog, Widen(run.caption).c_str());
        HANDLE worker = CreateThread(nullptr, 0, RemovalThread, &run, 0, nullptr);
        if (worker == nullptr) {
            EndDialog(dialog, 0);  // nothing was removed: the outcome stays Stopped
        } else {
            CloseHandle(worker);
        }
        return TRUE;
    }
    case kRemovalEndedMessage: EndDialog(dialog, 0); return TRUE;
    case WM_CLOSE: return TRUE;  // a removal half done is worse than one that runs to its end
    }
    return FALSE;
}

}  // namespace

RemovalOutcome RunRemovalDialog(Removal& removal, const std::string& caption) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    DialogRun run{removal, caption};
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_REMOVAL), nullptr, RemovalDialogProc,
                    reinterpret_cast<LPARAM>(&run));
    return run.outcome;
}
