#include "wizard/ProgressDialog.h"

#include <windows.h>

#include "resources/ResourceIds.h"
#include "state/TheInstaller.h"
#include "wizard/WizardDialog.h"

namespace {

// Centred across, three quarters down the screen.
void PlaceLowerMiddle(HWND dialog) {
    RECT frame;
    GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    const int x = static_cast<int>(GetSystemMetrics(SM_CXSCREEN) * 0.5 - width * 0.5);
    const int y = static_cast<int>(GetSystemMetrics(SM_CYSCREEN) * 0.75 - height * 0.5);
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

void OnInitDialog(HWND dialog) {
    theInstaller.progressDialog = dialog;
    SetWindowTextW(dialog, L"Loading installer...");
    PlaceLowerMiddle(dialog);
    ShowWindow(static_cast<HWND>(theInstaller.wizardWindow), SW_HIDE);
    if (theInstaller.backgroundWindow != nullptr) SetParent(dialog, static_cast<HWND>(theInstaller.backgroundWindow));
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); break;
    case WM_COMMAND:
        if (wParam == IDC_CANCEL) ConfirmCancel(dialog);
        break;
    // Closing the window asks the cancel question: ending it would leave the
    // worker running with no window shown.
    case WM_CLOSE: ConfirmCancel(dialog); break;
    case WM_DESTROY: theInstaller.progressDialog = nullptr; break;
    }
    return FALSE;
}

}  // namespace

void RunProgressDialog() {
    DialogBoxParamW(static_cast<HINSTANCE>(theInstaller.instance), MAKEINTRESOURCEW(IDD_PROGRESS), nullptr,
                    ProgressDialogProc, 0);
}
