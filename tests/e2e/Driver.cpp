#include "Driver.h"
#include "platform/WideText.h"

#include "platform/Win32Handles.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstring>

namespace e2e {
namespace {

constexpr UINT kSendTimeoutMs = 5000;
// Controls that tell the installer's dialogs apart.
constexpr int kFolderFieldId = 1007;     // wizard
constexpr int kMessageTextId = 0xFFFF;   // message box text
constexpr int kStatusId = 1020;          // separate progress window
constexpr int kProgressCancelId = 1002;  // separate progress window
constexpr int kExtractionBarId = 1022;   // extraction dialog
constexpr int kExtractionCancelId = 1000;

std::string desktopName;  // empty: installers start on the driver's own desktop

// Sends a message to another process's window without hanging on it.
bool SendBounded(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result) {
    DWORD_PTR scratch = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs,
                               result ? result : &scratch) != 0;
}

bool IsDialogClass(HWND window) {
    char name[32] = {};
    return GetClassNameA(window, name, sizeof name) > 0 && lstrcmpA(name, "#32770") == 0;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND>* found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsDialogClass(window)) search->found->push_back(window);
    return TRUE;
}

BOOL CALLBACK FindVisibleWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) return TRUE;
    search->found->push_back(window);
    return FALSE;
}

// Dialogs of every process on this desktop.
BOOL CALLBACK CollectAnyDialog(HWND window, LPARAM param) {
    if (IsDialogClass(window)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

bool WriteAll(HANDLE file, const void* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

// Writes a bottom-up 24-bit DIB as a BMP file.
bool WriteBmp(const std::string& path, int width, int height, const void* pixels, DWORD pixelBytes) {
    BITMAPFILEHEADER fileHeader = {};
    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = pixelBytes;
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof fileHeader + sizeof info;
    fileHeader.bfSize = fileHeader.bfOffBits + pixelBytes;

    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool ok = WriteAll(file, &fileHeader, sizeof fileHeader) && WriteAll(file, &info, sizeof info) &&
                    WriteAll(file, pixels, pixelBytes);
    CloseHandle(file);
    if (!ok) (void)DeleteFileW(WidePath(path).c_str());  // no half-written picture
    return ok;
}

// Closes a file handle when it goes out of scope.
class FileHandle {
public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE Get() const { return handle_; }
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Shares every right: the installer holds its archive copy open for writing,
// and a test reads it beside that handle.
HANDLE OpenForReading(const std::string& path) {
    return CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Reads up to size bytes; false on a read error. *got is 0 at the end.
bool ReadChunk(HANDLE file, char* buffer, DWORD size, DWORD* got) {
    *got = 0;
    return ReadFile(file, buffer, size, got, nullptr) != 0;
}

// COM for the calling thread while it lives.
class ComScope {
public:
    ComScope() : initialised_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (initialised_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool initialised_;
};

}  // namespace

bool UsePrivateDesktop(const std::string& name) {
    HDESK desktop = CreateDesktopA(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) return false;
    desktopName = name;  // the desktop stays open until the process ends
    return true;
}

Installer::~Installer() { Kill(); }

bool Installer::Start(const std::string& path, const std::string& arguments) {
    Kill();
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    if (!desktopName.empty()) startup.lpDesktop = &desktopName[0];
    std::string commandLine = "\"" + path + "\"" + (arguments.empty() ? "" : " " + arguments);
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process_)) {
        process_ = PROCESS_INFORMATION{};
        return false;
    }
    return true;
}

bool Installer::HasExited() const {
    return process_.hProcess == nullptr || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
}

bool Installer::WaitForExit(DWORD* exitCode, DWORD timeoutMs) {
    if (process_.hProcess == nullptr) return false;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.hProcess, &code)) return false;
    if (exitCode) *exitCode = code;
    return true;
}

void Installer::Kill() {
    if (process_.hProcess == nullptr) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        (void)TerminateProcess(process_.hProcess, 1);  // a leftover installer would spoil the next test
        (void)WaitForSingleObject(process_.hProcess, kWaitMs);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    process_ = PROCESS_INFORMATION{};
}

bool Installer::ShowsAnyWindow() const {
    std::vector<HWND> found;
    if (process_.hProcess == nullptr) return false;
    DialogSearch search = {process_.dwProcessId, &found};
    EnumWindows(FindVisibleWindow, reinterpret_cast<LPARAM>(&search));
    return !found.empty();
}

std::vector<HWND> Installer::Dialogs() const {
    std::vector<HWND> found;
    if (process_.hProcess == nullptr) return found;
    DialogSearch search = {process_.dwProcessId, &found};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return found;
}

HWND Installer::FindDialog(DialogKind kind) const {
    for (HWND dialog : Dialogs()) {
        if (IsWindowVisible(dialog) && KindOf(dialog) == kind) return dialog;
    }
    return nullptr;
}

HWND Installer::WaitForDialog(DialogKind kind, DWORD timeoutMs, DWORD pollMs) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindDialog(kind);
            return found != nullptr || HasExited();
        },
        timeoutMs, pollMs);
    return found;
}

HWND WaitForDialogCaptioned(const std::string& caption, int controlId, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitUntil([&] {
        std::vector<HWND> dialogs;
        EnumWindows(CollectAnyDialog, reinterpret_cast<LPARAM>(&dialogs));
        for (HWND dialog : dialogs) {
            if (IsWindowVisible(dialog) && WindowText(dialog) == caption && HasControl(dialog, controlId)) found = dialog;
        }
        return found != nullptr;
    }, timeoutMs);
    return found;
}

void EndProcessesCaptioned(const std::string& caption) {
    std::vector<HWND> dialogs;
    EnumWindows(CollectAnyDialog, reinterpret_cast<LPARAM>(&dialogs));
    for (HWND dialog : dialogs) {
        if (WindowText(dialog) != caption) continue;
        DWORD processId = 0;
        GetWindowThreadProcessId(dialog, &processId);
        if (processId == GetCurrentProcessId()) continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
        if (process == nullptr) continue;
        (void)TerminateProcess(process, 1);
        (void)WaitForSingleObject(process, kWaitMs);
        CloseHandle(process);
    }
}

DWORD ProcessOf(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

DWORD Installer::ProcessId() const { return process_.dwProcessId; }

DialogKind KindOf(HWND dialog) {
    if (HasControl(dialog, kFolderFieldId)) return DialogKind::kWizard;
    if (HasControl(dialog, kMessageTextId) &&
        (HasControl(dialog, IDOK) || HasControl(dialog, IDYES) || HasControl(dialog, IDNO) ||
         HasControl(dialog, IDRETRY))) {
        return DialogKind::kMessageBox;
    }
    if (HasControl(dialog, kStatusId) && HasControl(dialog, kProgressCancelId)) return DialogKind::kProgress;
    if (HasControl(dialog, kExtractionBarId) && HasControl(dialog, kExtractionCancelId)) return DialogKind::kExtraction;
    return DialogKind::kOther;
}

std::string WindowText(HWND window) {
    if (window == nullptr) return std::string();
    constexpr size_t kCapacity = 4096;
    wchar_t buffer[kCapacity] = {};
    DWORD_PTR length = 0;
    if (!SendBounded(window, WM_GETTEXT, kCapacity, reinterpret_cast<LPARAM>(buffer), &length)) {
        return std::string();
    }
    return Narrow(buffer, length < kCapacity ? length : kCapacity - 1);
}

std::string ControlText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool SetControlText(HWND dialog, int id, const std::string& text) {
    HWND control = GetDlgItem(dialog, id);
    DWORD_PTR result = 0;
    const std::wstring wide = Widen(text);
    return control && SendBounded(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), &result) &&
           result == TRUE;
}

bool HasControl(HWND dialog, int id) { return GetDlgItem(dialog, id) != nullptr; }

bool ControlVisible(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr && IsWindowVisible(control);
}

bool IsChecked(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    DWORD_PTR state = 0;
    return control && SendBounded(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

bool SetChecked(HWND dialog, int id, bool checked) {
    HWND control = GetDlgItem(dialog, id);
    return control && SendBounded(control, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0, nullptr);
}

void Click(HWND dialog, int id) {
    (void)PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));  // a lost click shows as a failed wait
}

void Close(HWND window) { (void)PostMessageA(window, WM_CLOSE, 0, 0); }

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD pollMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(pollMs);
    }
}

bool WaitForCaption(HWND window, const std::string& caption, DWORD timeoutMs) {
    return WaitUntil([&] { return WindowText(window) == caption; }, timeoutMs);
}

std::string MessageText(HWND messageBox) { return ControlText(messageBox, kMessageTextId); }

std::string TempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return std::string();
    return Narrow(buffer, length);
}

std::vector<std::string> Workspaces() {
    std::vector<std::string> found;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(WidePath(TempFolder() + "kxsetup-*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found.push_back(TempFolder() + Narrow(entry.cFileName));
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return found;
}

std::string WorkspacePath() {
    const std::vector<std::string> found = Workspaces();
    return found.size() == 1 ? found[0] : std::string();
}

bool RemoveWorkspaces() {
    bool removed = true;
    for (const std::string& folder : Workspaces()) removed = RemoveTree(folder) && removed;
    return removed && Workspaces().empty();
}

bool PathExists(const std::string& path) {
    return GetFileAttributesW(WidePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveTree(const std::string& path) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW(WidePath(path + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = Narrow(found.cFileName);
            if (name == "." || name == "..") continue;
            const std::string full = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                (void)RemoveTree(full);  // what stays is reported by the check below
            } else {
                (void)SetFileAttributesW(WidePath(full).c_str(), FILE_ATTRIBUTE_NORMAL);
                (void)DeleteFileW(WidePath(full).c_str());
            }
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    (void)RemoveDirectoryW(WidePath(path).c_str());
    return !PathExists(path);
}

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    FileHandle file(OpenForReading(path));
    if (!file.IsOpen()) return false;
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    do {
        if (!ReadChunk(file.Get(), buffer, sizeof buffer, &got)) return false;
        bytes->append(buffer, got);
    } while (got > 0);
    return true;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
    FileHandle file(
        CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsOpen() && WriteAll(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()));
}

bool SameContent(const std::string& path, const std::string& otherPath) {
    FileHandle one(OpenForReading(path));
    FileHandle other(OpenForReading(otherPath));
    if (!one.IsOpen() || !other.IsOpen()) return false;
    constexpr DWORD kChunk = 1 << 20;
    std::vector<char> a(kChunk);
    std::vector<char> b(kChunk);
    for (;;) {
        DWORD gotA = 0;
        DWORD gotB = 0;
        if (!ReadChunk(one.Get(), a.data(), kChunk, &gotA) || !ReadChunk(other.Get(), b.data(), kChunk, &gotB)) {
            return false;
        }
        if (gotA != gotB || std::memcmp(a.data(), b.data(), gotA) != 0) return false;
        if (gotA == 0) return true;
    }
}

std::string SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, path, csidl, FALSE)) return std::string();
    return Narrow(path);
}

bool ReadShellLink(const std::string& linkPath, std::string* target, std::string* workingFolder) {
    ComScope com;
    ComPtr<IShellLinkW> link;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.Receive()))) {
        return false;
    }
    ComPtr<IPersistFile> file;
    if (FAILED(link->QueryInterface(IID_IPersistFile, file.Receive()))) return false;
    if (FAILED(file->Load(WidePath(linkPath).c_str(), STGM_READ))) return false;
    wchar_t text[MAX_PATH] = {};
    if (FAILED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) return false;
    *target = Narrow(text);
    // The item list names the target in Unicode; the plain path of a link
    // may be kept in the ANSI code page only.
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(link->GetIDList(&items)) && items != nullptr) {
        wchar_t listed[MAX_PATH] = {};
        if (SHGetPathFromIDListW(items, listed)) *target = Narrow(listed);
        CoTaskMemFree(items);
    }
    text[0] = L'\0';
    if (FAILED(link->GetWorkingDirectory(text, MAX_PATH))) return false;
    *workingFolder = Narrow(text);
    return true;
}

bool ReadRegistryValue(HKEY root, const std::string& key, const std::string& name, RegistryValue* value) {
    RegKey opened;
    if (RegOpenKeyExW(root, Widen(key).c_str(), 0, KEY_QUERY_VALUE, opened.Receive()) != ERROR_SUCCESS) return false;
    BYTE data[1024] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS) return false;
    value->type = type;
    value->data.assign(reinterpret_cast<const char*>(data), size);
    return true;
}

bool ReadRegistryText(HKEY root, const std::string& key, const std::string& name, std::string* text) {
    RegKey opened;
    if (RegOpenKeyExW(root, Widen(key).c_str(), 0, KEY_QUERY_VALUE, opened.Receive()) != ERROR_SUCCESS) return false;
    wchar_t data[1024] = {};
    DWORD size = sizeof data - sizeof data[0];
    DWORD type = REG_NONE;
    if (RegQueryValueExW(opened.Get(), Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    *text = Narrow(data);
    return true;
}

bool RegistryKeyExists(HKEY root, const std::string& key) {
    RegKey opened;
    return RegOpenKeyExW(root, Widen(key).c_str(), 0, KEY_QUERY_VALUE, opened.Receive()) == ERROR_SUCCESS;
}

bool DeleteRegistryKey(HKEY root, const std::string& key) {
    (void)RegDeleteKeyW(root, Widen(key).c_str());  // a key that was not there is fine
    return !RegistryKeyExists(root, key);
}

int ProgressPosition(HWND dialog, int id) {
    HWND bar = GetDlgItem(dialog, id);
    DWORD_PTR position = 0;
    if (bar == nullptr || !SendBounded(bar, PBM_GETPOS, 0, 0, &position)) return -1;
    return static_cast<int>(position);
}

bool SaveScreenshot(HWND window, const std::string& bmpPath) {
    RECT area = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    if (window != nullptr && !GetWindowRect(window, &area)) return false;
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as a BMP file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD pixelBytes = stride * static_cast<DWORD>(height);

    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return false;
    HDC memory = CreateCompatibleDC(screen);
    void* pixels = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    bool ok = memory != nullptr && bitmap != nullptr;
    if (ok) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY | CAPTUREBLT) != 0;
        GdiFlush();
        SelectObject(memory, previous);
    }
    if (ok) ok = WriteBmp(bmpPath, width, height, pixels, pixelBytes);
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace e2e
