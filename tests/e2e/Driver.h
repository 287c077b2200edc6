#pragma once
// Works a running installer from outside, as a user would: finds its dialogs
// by process, reads control texts and visibility, clicks buttons, types into
// the folder field, answers message boxes and takes screenshots. Plain Win32,
// so it runs under Wine beside the installer. Every wait is bounded: nothing
// here blocks longer than the timeout it is given.

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Longest wait for anything the installer is expected to do.
constexpr DWORD kWaitMs = 20000;

// The installer's top-level dialogs, told apart by the controls they carry.
enum class DialogKind {
    kExtraction,  // progress bar 1022 and Cancel 1000
    kWizard,      // folder field 1007
    kProgress,    // separate progress window: status 1020 and Cancel 1002
    kMessageBox,  // message text 0xFFFF and an OK, Yes, No or Retry button
    kOther,
};

// Moves the calling thread to a new desktop of its own; Installer::Start
// then runs installers there too. Under Wine a desktop takes its display
// from the first program that uses it, so a Wine program started without a
// display just before would leave the default desktop unable to show any
// window. Call before the thread creates a window. False on failure.
bool UsePrivateDesktop(const std::string& name);

// One installer process started by the driver. The destructor ends it if it
// still runs, so a failed test never leaves an installer behind.
class Installer {
public:
    Installer() = default;
    ~Installer();
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Runs the program with these arguments. False when it cannot be started.
    bool Start(const std::string& path, const std::string& arguments = std::string());
    // Whether any top-level window of the process is visible now.
    bool ShowsAnyWindow() const;
    bool HasExited() const;
    // Waits for the end of the process; false on timeout (exitCode untouched).
    bool WaitForExit(DWORD* exitCode, DWORD timeoutMs = kWaitMs);
    // Ends the process at once (only the one this driver started).
    void Kill();
    DWORD ProcessId() const;

    // Top-level dialogs (class "#32770") of the process, visible or not.
    std::vector<HWND> Dialogs() const;
    // The first visible dialog of that kind, or null.
    HWND FindDialog(DialogKind kind) const;
    // Waits for a visible dialog of that kind; null on timeout or when the
    // process ends first. pollMs is the pause between two looks.
    HWND WaitForDialog(DialogKind kind, DWORD timeoutMs = kWaitMs, DWORD pollMs = 10) const;

private:
    PROCESS_INFORMATION process_{};
};

DialogKind KindOf(HWND dialog);

// A visible dialog of any process on this desktop whose caption reads
// exactly caption and that has the control (the uninstaller's copy is a
// process of its own); null on timeout.
HWND WaitForDialogCaptioned(const std::string& caption, int controlId, DWORD timeoutMs = kWaitMs);
// Ends every process that shows a dialog with this caption, so that a
// failed test leaves none behind.
void EndProcessesCaptioned(const std::string& caption);
DWORD ProcessOf(HWND window);

// Texts go through WM_GETTEXT / WM_SETTEXT with a bounded send, so a hung
// installer gives an empty text instead of a hung test. Texts and paths are
// UTF-8, passed to and from the system's wide calls.
std::string WindowText(HWND window);
std::string ControlText(HWND dialog, int id);
bool SetControlText(HWND dialog, int id, const std::string& text);
bool HasControl(HWND dialog, int id);
bool ControlVisible(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
bool SetChecked(HWND dialog, int id, bool checked);

// Posts WM_COMMAND with wParam = id, as a click on that button does. Posted,
// not sent: the click may open a modal message box.
void Click(HWND dialog, int id);
// Posts WM_CLOSE, as the close box or Alt+F4 does.
void Close(HWND window);

// Polls condition every pollMs until it holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs, DWORD pollMs = 10);
// Waits for the window's caption to read exactly caption.
bool WaitForCaption(HWND window, const std::string& caption, DWORD timeoutMs = kWaitMs);

// The message text of a message box (its static control 0xFFFF).
std::string MessageText(HWND messageBox);

// The user's temporary folder with its trailing backslash.
std::string TempFolder();
// The installers' workspaces in it: every folder whose name begins with
// "kxsetup-", each a full path.
std::vector<std::string> Workspaces();
// The one workspace there is; empty when there is none, or more than one.
std::string WorkspacePath();
// Removes every workspace; true when none is left.
bool RemoveWorkspaces();
bool PathExists(const std::string& path);
// Removes a folder with everything below it; true when it is gone.
bool RemoveTree(const std::string& path);

// A file's whole content; false when it cannot be read.
bool ReadFileBytes(const std::string& path, std::string* bytes);
// Creates or replaces a file with exactly these bytes.
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Whether two files exist and hold the same bytes. Reads in chunks, so
// large files are fine.
bool SameContent(const std::string& path, const std::string& otherPath);

// A shell folder of the user (CSIDL_DESKTOPDIRECTORY, CSIDL_PROGRAMS, ...)
// as the shell names it, without a trailing backslash; empty on failure.
std::string SpecialFolder(int csidl);
// What a .lnk file points to. False when it cannot be loaded.
bool ReadShellLink(const std::string& linkPath, std::string* target, std::string* workingFolder);

// One registry value: its type and raw data, as stored.
struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;
};
// False when the key or the value is missing.
bool ReadRegistryValue(HKEY root, const std::string& key, const std::string& name, RegistryValue* value);
// A REG_SZ value read through the wide calls, as UTF-8.
bool ReadRegistryText(HKEY root, const std::string& key, const std::string& name, std::string* text);
bool RegistryKeyExists(HKEY root, const std::string& key);
// Deletes a key without subkeys; true when it is gone.
bool DeleteRegistryKey(HKEY root, const std::string& key);

// The position of a progress bar, or -1 when it cannot be read.
int ProgressPosition(HWND dialog, int id);

// Saves what the screen shows of window (the whole screen for null) as a
// 24-bit BMP file. False when capturing or writing fails.
bool SaveScreenshot(HWND window, const std::string& bmpPath);

}  // namespace e2e
