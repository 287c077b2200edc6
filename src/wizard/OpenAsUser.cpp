#include "wizard/OpenAsUser.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlobj.h>

#include "platform/Platform.h"
#include "platform/Win32Handles.h"
#include "platform/WideText.h"

namespace {

// Owns a BSTR.
class BString {
public:
    explicit BString(const std::wstring& text) : text_(SysAllocString(text.c_str())) {}
    ~BString() { SysFreeString(text_); }
    BString(const BString&) = delete;
    BString& operator=(const BString&) = delete;
    BSTR Get() const { return text_; }

private:
    BSTR text_;
};

// The desktop's shell object, reached through the shell window that runs
// it: it belongs to Explorer, which runs as the signed-in user.
bool FindDesktopShell(ComPtr<IShellDispatch2>* shell) {
    ComPtr<IShellWindows> windows;
    if (FAILED(CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Receive()))) {
        return false;
    }
    VARIANT empty;
    VariantInit(&empty);
    long window = 0;
    ComPtr<IDispatch> desktop;
    if (windows->FindWindowSW(&empty, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                              reinterpret_cast<IDispatch**>(desktop.Receive())) != S_OK ||
        !desktop) {
        return false;
    }
    ComPtr<IServiceProvider> provider;
    ComPtr<IShellBrowser> browser;
    ComPtr<IShellView> view;
    ComPtr<IDispatch> background;
    ComPtr<IShellFolderViewDual> folderView;
    ComPtr<IDispatch> application;
    return SUCCEEDED(desktop->QueryInterface(IID_IServiceProvider, provider.Receive())) &&
           SUCCEEDED(provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Receive())) &&
           SUCCEEDED(browser->QueryActiveShellView(reinterpret_cast<IShellView**>(view.Receive()))) &&
           SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Receive())) &&
           SUCCEEDED(background->QueryInterface(IID_IShellFolderViewDual, folderView.Receive())) &&
           SUCCEEDED(folderView->get_Application(reinterpret_cast<IDispatch**>(application.Receive()))) &&
           SUCCEEDED(application->QueryInterface(IID_IShellDispatch2, shell->Receive()));
}

bool OpenThroughUserShell(const std::string& target) {
    const HRESULT initialised = CoInitialize(nullptr);
    bool opened = false;
    {
        ComPtr<IShellDispatch2> shell;
        if (FindDesktopShell(&shell)) {
            BString file(Widen(target));
            VARIANT none;
            VariantInit(&none);
            VARIANT show;
            VariantInit(&show);
            show.vt = VT_I4;
            show.lVal = SW_SHOWNORMAL;
            opened = SUCCEEDED(shell->ShellExecute(file.Get(), none, none, none, show));
        }
    }
    if (SUCCEEDED(initialised)) CoUninitialize();
    return opened;
}

}  // namespace

OpenedThrough OpenAsSignedInUser(const std::string& target) {
    if (platform::IsProcessElevated() && OpenThroughUserShell(target)) return OpenedThrough::UserShell;
    ShellExecuteW(nullptr, nullptr, Widen(target).c_str(), L"", L"", SW_SHOW);  // a target that won't open is let go
    return OpenedThrough::ThisProcess;
}
