// kx_dll_start: starts and ends at once, like "kx_floor start", but imports
// the system libraries the installer imports, under its manifest, so the
// bench shows what loading them costs before the installer's first
// instruction runs.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <olectl.h>
#include <shlobj.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    // Never true when the bench starts it; the calls keep the imports.
    if (commandLine != nullptr && commandLine[0] == '!') {
        InitCommonControls();                                             // comctl32
        GetStockObject(WHITE_BRUSH);                                      // gdi32
        GetDesktopWindow();                                               // user32
        CoInitialize(nullptr);                                            // ole32
        SysFreeString(nullptr);                                           // oleaut32
        SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, 0, nullptr);    // shell32
        RegCloseKey(HKEY_CURRENT_USER);                                   // advapi32
    }
    return 0;
}
