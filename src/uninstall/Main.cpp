// kxuninst: removes what an installation placed, as its uninstall list
// names it. A program cannot remove its own file while it runs, so the one
// started from the install folder (the original) copies itself to a folder
// of its own under the temporary folder and hands over: the copy asks,
// removes and reports its exit code through a pipe; the original ends with
// that code, and the copy then removes the original's file and the folders
// that became empty.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/PathText.h"
#include "platform/Platform.h"
#include "platform/WideText.h"
#include "common/CommandLine.h"
#include "common/Elevation.h"
#include "common/LibrarySearch.h"
#include "common/PrivateFolder.h"
#include "common/ExitCodes.h"
#include "common/Log.h"
#include "common/Rollback.h"
#include "uninstall/Removal.h"
#include "uninstall/RemovalDialog.h"

namespace {

constexpr char kCopySwitch[] = "/KXCOPY=";
constexpr char kPlainCaption[] = "Uninstall";
constexpr char kCopyName[] = "kxuninst.exe";
constexpr DWORD kOriginalEndWaitMs = 30000;
constexpr char kCopyFolderPrefix[] = "kxuninst-";

// How this process was started: by the user (or a tool), or by the
// original as its copy.
struct Invocation {
    bool isCopy = false;
    HANDLE original = nullptr;  // the original's process, to wait for its end
    HANDLE result = nullptr;    // the pipe the exit code goes back through
    std::string originalPath;
    std::string arguments;      // the user's own
};

// The copy's command line: /KXCOPY=<process>,<pipe> "<original>" <arguments>.
Invocation ReadInvocation(const std::string& commandLine) {
    Invocation invocation;
    invocation.arguments = commandLine;
    if (commandLine.compare(0, sizeof kCopySwitch - 1, kCopySwitch) != 0) return invocation;
    const char* at = commandLine.c_str() + sizeof kCopySwitch - 1;
    char* end = nullptr;
    const unsigned long long process = std::strtoull(at, &end, 10);
    if (*end != ',') return invocation;
    const unsigned long long pipe = std::strtoull(end + 1, &end, 10);
    if (end[0] != ' ' || end[1] != '"') return invocation;
    const size_t pathStart = static_cast<size_t>(end + 2 - commandLine.c_str());
    const size_t pathEnd = commandLine.find('"', pathStart);
    if (pathEnd == std::string::npos) return invocation;
    invocation.isCopy = true;
    invocation.original = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(process));
    invocation.result = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(pipe));
    invocation.originalPath = commandLine.substr(pathStart, pathEnd - pathStart);
    invocation.arguments = commandLine.substr(std::min(commandLine.size(), pathEnd + 2));
    return invocation;
}

void ShowBox(const std::string& text, const std::string& caption, UINT style) {
    MessageBoxW(nullptr, Widen(text).c_str(), Widen(caption).c_str(), style);
}

// A new folder of this run under the temporary folder, protected when the
// uninstaller runs elevated, since the copy is started from it with the
// same rights; empty when none could be made.
std::string MakeCopyFolder() { return CreatePrivateFolder(platform::GetTempFolder(), kCopyFolderPrefix); }

std::string HandleText(HANDLE handle) { return std::to_string(reinterpret_cast<uintptr_t>(handle)); }

// Starts the copy and waits for its exit code. -1 when no copy could be
// started: the original then does the work itself.
int RunFromCopy(const Invocation& invocation, const std::string& logPath) {
    const std::string self = platform::GetModuleFilePath();
    const std::string folder = MakeCopyFolder();
    const std::string copy = folder + "\\" + kCopyName;
    if (folder.empty() || !platform::CopyFileReplacing(self.c_str(), copy.c_str())) {
        LogEvent("error: no copy of the uninstaller could be made in " + platform::GetTempFolder());
        if (!folder.empty()) (void)platform::RemoveFolder(folder.c_str());
        return -1;
    }
    // Held open, shared for reading only, until the copy runs: nobody can
    // write it or put another file in its place meanwhile.
    platform::UniqueFile heldCopy(platform::OpenFileForReading(copy.c_str()));
    if (!heldCopy.IsOpen()) {
        LogEvent("error: the copy of the uninstaller could not be held open: " +
                 platform::ErrorMessage(platform::LastErrorCode()));
        (void)platform::RemoveFile(copy.c_str());
        (void)platform::RemoveFolder(folder.c_str());
        return -1;
    }
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    HANDLE originalProcess = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &originalProcess, SYNCHRONIZE, TRUE, 0);
    std::wstring command = Widen("\"" + copy + "\" " + kCopySwitch + HandleText(originalProcess) + "," +
                                 HandleText(writeEnd) + " \"" + self + "\" " + invocation.arguments);
    LogEvent("continuing from " + copy);
    CloseLog();  // the copy writes on in the same log
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    const BOOL started = CreateProcessW(Widen(copy).c_str(), &command[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(writeEnd);
    heldCopy.Reset();
    if (originalProcess != nullptr) CloseHandle(originalProcess);
    if (!started) {
        CloseHandle(readEnd);
        if (!logPath.empty()) (void)OpenLog(logPath, true);
        LogEvent("error: the copy could not be started: " + platform::ErrorMessage(platform::LastErrorCode()));
        (void)platform::RemoveFile(copy.c_str());
        (void)platform::RemoveFolder(folder.c_str());
        return -1;
    }
    CloseHandle(process.hThread);
    // Blocks until the copy writes its code, or ends without writing one.
    DWORD exitCode = kExitCouldNotStart;
    DWORD got = 0;
    if (!ReadFile(readEnd, &exitCode, sizeof exitCode, &got, nullptr) || got != sizeof exitCode) {
        WaitForSingleObject(process.hProcess, INFINITE);
        if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = kExitCouldNotStart;
    }
    CloseHandle(readEnd);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}

void Report(const Invocation& invocation, int exitCode) {
    if (invocation.result == nullptr) return;
    const DWORD code = static_cast<DWORD>(exitCode);
    DWORD written = 0;
    (void)WriteFile(invocation.result, &code, sizeof code, &written, nullptr);
    CloseHandle(invocation.result);
}

class SilentRemovalView : public RemovalView {
public:
    void SetProgressRange(int32_t) override {}
    void ShowProgress(int32_t, const std::string&) override {}
    // Nobody to ask: keep the file, remove the rest, and say so in the exit code.
    FailureAnswer AskAboutFailure(const std::string&) override { return FailureAnswer::Ignore; }
};

// The copy removes itself where the system lets it: at the next start, which
// needs an administrator.
void ScheduleOwnRemoval() {
    const std::wstring self = Widen(platform::GetModuleFilePath());
    const std::wstring folder = Widen(FolderOf(platform::GetModuleFilePath()));
    const bool scheduled = MoveFileExW(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) &&
                           MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    LogEvent(scheduled ? "this copy goes at the next start" : "this copy stays in the temporary folder");
}

// An installation killed in folder left its journal there: what it changed
// is put back before the list is read. False when that could not be done.
bool RecoverEarlierInstallation(const std::string& folder, bool silent) {
    std::vector<std::string> log;
    const EarlierRun earlier = RecoverEarlierRun(folder, &log);
    for (const std::string& line : log) LogEvent(line);
    const std::string text = EarlierRunText(earlier, folder);
    if (text.empty()) return true;
    LogEvent(earlier == EarlierRun::PutBack ? text : "error: " + text);
    if (!silent) ShowBox(text, kPlainCaption, MB_OK | MB_ICONINFORMATION);
    return earlier == EarlierRun::PutBack;
}

// The removal proper, in the copy (or, without one, in the original).
int Uninstall(const Invocation& invocation, bool silent) {
    Removal removal;
    removal.uninstallerPath = invocation.isCopy ? invocation.originalPath : platform::GetModuleFilePath();
    const std::string listPath = FolderOf(removal.uninstallerPath) + "uninstall.ini";
    UninstallList& list = removal.list;
    bool recovered = RecoverEarlierInstallation(FolderOf(removal.uninstallerPath), silent);
    bool readable = recovered && ReadUninstallList(listPath, &list);
    // The journal lies beside the install folder's list, which may be above ours.
    if (readable && list.complete && !SamePath(list.installPath, FolderOf(removal.uninstallerPath))) {
        recovered = RecoverEarlierInstallation(list.installPath, silent);
        readable = recovered && ReadUninstallList(listPath, &list);
    }
    if (!recovered) {
        Report(invocation, kExitCouldNotStart);
        return kExitCouldNotStart;
    }
    if (readable && !list.complete) readable = FindInstallLocation(list.product, removal.uninstallerPath, &list.installPath);
    if (!readable) {
        LogEvent("error: the uninstall list " + listPath + " is missing or damaged");
        if (!silent) ShowBox(ListDamagedText(listPath), kPlainCaption, MB_OK | MB_ICONERROR);
        Report(invocation, kExitCouldNotStart);
        return kExitCouldNotStart;
    }
    const std::string caption = list.product + " Uninstall";
    if (!silent && MessageBoxW(nullptr, Widen(ConfirmationText(list.product)).c_str(), Widen(caption).c_str(),
                               MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND) != IDYES) {
        LogEvent("the user kept " + list.product);
        Report(invocation, kExitFinished);
        return kExitFinished;
    }
    SilentRemovalView silentView;
    const RemovalOutcome outcome = silent ? RemoveProduct(removal, silentView) : RunRemovalDialog(removal, caption);
    const int exitCode = RemovalExitCode(outcome, removal);
    Report(invocation, exitCode);
    if (outcome == RemovalOutcome::Stopped) return exitCode;
    if (invocation.original != nullptr) {
        if (WaitForSingleObject(invocation.original, kOriginalEndWaitMs) != WAIT_OBJECT_0) {
            LogEvent("error: the uninstaller " + removal.uninstallerPath + " did not end");
        }
        CloseHandle(invocation.original);
    }
    RemoveUninstallerAndFolders(removal);
    if (!silent) {
        ShowBox(RemovedText(list.product, removal.itemsLeft), caption,
                MB_OK | MB_SETFOREGROUND | (removal.itemsLeft.empty() ? MB_ICONINFORMATION : MB_ICONWARNING));
    }
    return exitCode;
}

int Ended(int exitCode) {
    LogEvent("exit code " + std::to_string(exitCode));
    CloseLog();
    return exitCode;
}

// The original of a machine install (or of one without a scope, run by an
// administrator) starts itself again elevated, before anything else, as
// the installer does; -1 to go on in this process.
int RelaunchForScope(const CommandLine& line, const std::string& arguments) {
    UninstallList list;
    if (line.elevatedRun || !ReadUninstallList(FolderOf(platform::GetModuleFilePath()) + "uninstall.ini", &list)) {
        return -1;  // an unreadable list is reported by the removal itself
    }
    if (!NeedsElevation(list.scope, platform::QueryProcessRights())) return -1;
    int exitCode = kExitCouldNotStart;
    const platform::ElevatedRun run = RelaunchElevated(kElevatedSwitch, arguments, line.logPath, &exitCode);
    if (run == platform::ElevatedRun::Finished) return exitCode;
    if (run == platform::ElevatedRun::Failed && list.scope == Scope::Legacy) return -1;
    if (!line.silent) {
        ShowBox("Removing " + list.product + " needs administrator rights, which were not given.", kPlainCaption,
                MB_OK | MB_ICONERROR);
    }
    return kExitCouldNotStart;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    RestrictLibrarySearch();
    const Invocation invocation = ReadInvocation(Narrow(commandLine));
    const CommandLine line = ParseCommandLine(invocation.arguments);
    if (!line.logPath.empty()) (void)OpenLog(line.logPath, invocation.isCopy || line.elevatedRun);
    if (invocation.isCopy) {
        // Out of the install folder, which is to be removed.
        SetCurrentDirectoryW(Widen(FolderOf(platform::GetModuleFilePath())).c_str());
        LogEvent("copy of the uninstaller running for " + invocation.originalPath);
    } else {
        LogEvent("KXInstall uninstaller " KX_VERSION " started: " + platform::GetModuleFilePath());
        LogEvent("command line: " + invocation.arguments);
    }
    // /D= means nothing here: no folder is chosen.
    std::string unknown = !line.unknown.empty() ? line.unknown : (!line.folder.empty() ? "/D=" + line.folder : "");
    if (unknown.empty() && line.scope != ScopeSwitch::None) {
        unknown = line.scope == ScopeSwitch::AllUsers ? "/ALLUSERS" : "/CURRENTUSER";
    }
    if (!unknown.empty()) {
        LogEvent("error: unknown switch " + unknown);
        if (!line.silent) ShowBox(UnknownUninstallSwitchText(unknown), kPlainCaption, MB_OK | MB_ICONERROR);
        Report(invocation, kExitCouldNotStart);
        return Ended(kExitCouldNotStart);
    }
    if (line.help) {
        if (!line.silent) ShowBox(UninstallSwitchesText(), kPlainCaption, MB_OK | MB_ICONINFORMATION);
        Report(invocation, kExitFinished);
        return Ended(kExitFinished);
    }
    if (!invocation.isCopy) {
        const int elevatedExitCode = RelaunchForScope(line, invocation.arguments);
        if (elevatedExitCode >= 0) return Ended(elevatedExitCode);
        const int copyExitCode = RunFromCopy(invocation, line.logPath);
        if (copyExitCode >= 0) return copyExitCode;
    }
    const int exitCode = Uninstall(invocation, line.silent);
    if (invocation.isCopy) ScheduleOwnRemoval();
    return Ended(exitCode);
}
