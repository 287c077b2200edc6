#include "install/ShellLink.h"

#include <windows.h>
#include <shlobj.h>

#include "platform/Win32Handles.h"
#include "platform/WideText.h"

bool SaveShellLink(const std::string& target, const std::string& workingFolder, const std::string& linkPath) {
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.Receive()))) {
        return false;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.Receive()))) return false;
    link->SetPath(Widen(target).c_str());
    link->SetWorkingDirectory(Widen(workingFolder).c_str());
    link->SetDescription(L"");
    return SUCCEEDED(file->Save(WidePath(linkPath).c_str(), TRUE));
}

void NotifyShellOfFolder(const std::string& folder) {
    SHChangeNotify(SHCNE_MKDIR, SHCNF_PATHW | SHCNF_FLUSH, Widen(folder).c_str(), nullptr);
}
