// Runs an installer with a fake rich-edit library planted beside it and
// checks that the installer never loads it. Run with Wine told to prefer a
// planted library wherever the search finds one (riched32=n,b), so a search
// that looked in the installer's folder would load it.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Window {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindProcessWindow(HWND window, LPARAM parameter) {
    Window* wanted = reinterpret_cast<Window*>(parameter);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != wanted->process || !IsWindowVisible(window)) return TRUE;
    wanted->found = window;
    return FALSE;
}

HWND WaitForWindow(DWORD process, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 100) {
        Window wanted = {process, nullptr};
        EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&wanted));
        if (wanted.found != nullptr) return wanted.found;
        Sleep(100);
    }
    return nullptr;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

int Fail(const char* message) {
    std::printf("FAILED: %s\n", message);
    return 1;
}

}  // namespace

// Arguments: installer, planted library, scratch folder.
int main(int argc, char** argv) {
    if (argc != 4) return Fail("usage: planted-library-test INSTALLER LIBRARY FOLDER");
    const std::string folder = argv[3];
    const std::string installer = folder + "\\setup.exe";
    const std::string library = folder + "\\RichEd32.dll";
    const std::string marker = folder + "\\planted-library-loaded.txt";
    CreateDirectoryA(folder.c_str(), nullptr);
    DeleteFileA(marker.c_str());
    if (!CopyFileA(argv[1], installer.c_str(), FALSE) || !CopyFileA(argv[2], library.c_str(), FALSE)) {
        return Fail("could not set up the folder");
    }

    // The library does leave its marker when it is loaded.
    HMODULE direct = LoadLibraryA(library.c_str());
    if (direct == nullptr || !Exists(marker)) return Fail("the planted library does not work as a probe");
    FreeLibrary(direct);
    DeleteFileA(marker.c_str());

    STARTUPINFOA startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + installer + "\"";
    if (!CreateProcessA(installer.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process)) {
        return Fail("could not start the installer");
    }
    // The rich-edit library is loaded before any window opens. Then close
    // whichever window is up (the extraction dialog or the wizard) until the
    // installer has ended.
    HWND window = WaitForWindow(process.dwProcessId, 30000);
    const bool sawWindow = window != nullptr;
    for (int attempt = 0; window != nullptr && attempt < 20; ++attempt) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(process.hProcess, 1000) == WAIT_OBJECT_0) break;
        window = WaitForWindow(process.dwProcessId, 5000);
    }
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        return Fail("the installer did not end when its window was closed");
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!sawWindow) return Fail("the installer showed no window");
    if (Exists(marker)) return Fail("the installer loaded the library planted beside it");
    std::printf("planted library was not loaded\n");
    return 0;
}
