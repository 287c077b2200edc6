#include "startup/ExtractionDialog.h"

#include <windows.h>
#include <commctrl.h>

#include <atomic>

#include "resources/ResourceIds.h"
#include "state/TheInstaller.h"
#include "platform/WideText.h"

namespace {

// The copy may announce its size before the dialog exists; the dialog
// applies it when it opens.
std::atomic<int32_t> copyRangeMegabytes{0};

constexpr UINT kLoadingCompleteMessage = WM_APP + 1;
constexpr UINT_PTR kPollTimer = 1;  // in case a notice was missed
constexpr UINT kPollMilliseconds = 100;

void OnInitDialog(HWND dialog) {
    theInstaller.extractionDialog = dialog;
    SetWindowTextW(dialog, Widen(TitleText(theInstaller)).c_str());
    SendDlgItemMessageW(dialog, IDC_EXTRACTION_PROGRESS, PBM_SETRANGE32, 0, copyRangeMegabytes.load());
    SetTimer(dialog, kPollTimer, kPollMilliseconds, nullptr);
    // Loading may have ended before there was a dialog to tell.
    if (theInstaller.loadingComplete.load(std::memory_order_acquire)) EndDialog(dialog, 0);
}

void Cancel(HWND dialog) {
    theInstaller.cancelLoading.store(true, std::memory_order_release);
    EndDialog(dialog, 0);
}

void OnTimer(HWND dialog) {
    if (theInstaller.loadingComplete.load(std::memory_order_acquire)) EndDialog(dialog, 0);
}

INT_PTR CALLBACK ExtractionDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(dialog); break;
    case WM_COMMAND:
        if (wParam == IDC_EXTRACTION_CANCEL) Cancel(dialog);
        break;
    case WM_CLOSE: Cancel(dialog); break;  // closing the window is a cancel, never a hand-over
    case WM_TIMER:
    case kLoadingCompleteMessage: OnTimer(dialog); break;
    case WM_DESTROY: theInstaller.extractionDialog = nullptr; break;
    }
    return FALSE;
}

// Posted, never sent: the copy must not wait while the main thread is busy
// opening its first window, and a message that arrives after the dialog has
// gone is dropped with it.
void PostToBar(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND dialog = static_cast<HWND>(theInstaller.extractionDialog.load());
    if (dialog == nullptr) return;
    HWND bar = GetDlgItem(dialog, IDC_EXTRACTION_PROGRESS);
    if (bar != nullptr) PostMessageW(bar, message, wParam, lParam);
}

}  // namespace

bool RunExtractionDialog() {
    return DialogBoxParamW(static_cast<HINSTANCE>(theInstaller.instance), MAKEINTRESOURCEW(IDD_EXTRACTION), nullptr,
                           ExtractionDialogProc, 0) != -1;
}

void PostExtractionRange(int32_t megabytes) {
    copyRangeMegabytes = megabytes;
    PostToBar(PBM_SETRANGE32, 0, static_cast<LPARAM>(megabytes));
}

void PostExtractionPosition(int32_t megabytes) { PostToBar(PBM_SETPOS, static_cast<WPARAM>(megabytes), 0); }

void NotifyLoadingComplete() {
    HWND dialog = static_cast<HWND>(theInstaller.extractionDialog.load());
    if (dialog != nullptr) PostMessageW(dialog, kLoadingCompleteMessage, 0, 0);
}
