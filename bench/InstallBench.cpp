// Times installers from the Windows side, for tools/run-bench.
//
//   kx_install_bench install INSTALLER
//       Starts one of our installers whose package opens on the folder page,
//       clicks Next, then Install, then Done. Times process launch to the
//       first wizard page (copy-out and control-folder extraction), with
//       when the extraction dialog showed and when the archive copy was
//       complete on the way, and the click on Install to the finished page,
//       and reads the installer's memory on the first page and on the
//       finished page (its peak working set, and the working set then).
//   kx_install_bench run PROGRAM [ARGUMENT...]
//       Starts PROGRAM with the arguments as given (not quoted: NSIS wants
//       /D=... bare), times launch to exit and reads its peak memory on the
//       way (0 when it ended before the first reading).
//
// Each run prints one line "kxbench key=value ...", times in milliseconds.
// Exit code 0 when the program ran to its end with exit code 0, 1 otherwise.

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "Driver.h"

using namespace e2e;

namespace {

constexpr int kNextButton = 1000;
constexpr DWORD kPollMs = 2;
constexpr DWORD kQuestionCheckMs = 250;
constexpr DWORD kMemoryPollMs = 10;
// Installing 50,000 files under Wine takes minutes; a hang still ends.
constexpr DWORD kLongWaitMs = 30 * 60 * 1000;

const char kFolderPage[] = " - Installation Directory";
const char kSummaryPage[] = " - Summary";
const char kFinishedPage[] = " - Installation finished";

double NowMs() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// GetWindowText reads another process's caption from the window manager's
// copy, without a message to the installer: polling it costs the installer
// nothing.
bool CaptionEndsWith(HWND window, const char* suffix) {
    char caption[512] = {};
    const int length = GetWindowTextA(window, caption, sizeof caption);
    const int suffixLength = static_cast<int>(std::strlen(suffix));
    return length >= suffixLength && std::strcmp(caption + length - suffixLength, suffix) == 0;
}

// Reports what went wrong, with the caption the wizard showed; returns the
// exit code of a failed run.
int Fail(const char* what, HWND wizard) {
    char caption[512] = {};
    if (wizard != nullptr) GetWindowTextA(wizard, caption, sizeof caption);
    std::printf("kxbench error=\"%s\" caption=\"%s\"\n", what, caption);
    return 1;
}

// Polls every kPollMs until the visible wizard shows the page; looks for a
// message box (an unexpected question) only now and then, as that costs more.
// onPoll, when given, runs at every look.
HWND WaitForPage(const Installer& installer, HWND wizard, const char* page, DWORD timeoutMs,
                 const std::function<void()>& onPoll = nullptr) {
    const double start = NowMs();
    double lastQuestionCheck = start;
    for (;;) {
        if (onPoll) onPoll();
        if (wizard == nullptr) wizard = installer.FindDialog(DialogKind::kWizard);
        if (wizard != nullptr && CaptionEndsWith(wizard, page)) return wizard;
        const double now = NowMs();
        if (now - lastQuestionCheck >= kQuestionCheckMs) {
            lastQuestionCheck = now;
            if (installer.FindDialog(DialogKind::kMessageBox) != nullptr) return nullptr;
        }
        if (installer.HasExited() || now - start >= timeoutMs) return nullptr;
        Sleep(kPollMs);
    }
}

// The archive length from the installer's trailer (its last 8 bytes), or 0.
uint64_t ArchiveLength(const std::string& installerPath) {
    HANDLE file = CreateFileA(installerPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    unsigned char trailer[8] = {};
    DWORD got = 0;
    const bool ok = SetFilePointer(file, -8, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                    ReadFile(file, trailer, sizeof trailer, &got, nullptr) && got == sizeof trailer;
    CloseHandle(file);
    uint64_t length = 0;
    for (int i = 7; ok && i >= 0; --i) length = length << 8 | trailer[i];
    return length;
}

uint64_t FileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// When the start-up's steps were first seen, in ms from launch; -1 for a
// step that passed between two looks.
struct StartUpSteps {
    std::string copyPath;  // known once the run has made its workspace
    uint64_t archiveLength = 0;
    double launched = 0;
    double extractionDialog = -1;  // the extraction dialog shows
    double copied = -1;            // the archive copy has all its bytes

    void Look(const Installer& installer) {
        const double now = NowMs() - launched;
        if (extractionDialog < 0 && installer.FindDialog(DialogKind::kExtraction) != nullptr) extractionDialog = now;
        if (copyPath.empty() && !WorkspacePath().empty()) copyPath = WorkspacePath() + "\\tempfile.tmp";
        if (copied < 0 && archiveLength > 0 && FileSize(copyPath) == archiveLength) copied = now;
    }
};

// SIZE_T is 64 bits in a 64-bit build, where unsigned long has 32.
unsigned long long Bytes(SIZE_T size) { return size; }

struct Memory {
    SIZE_T workingSet = 0;
    SIZE_T peakWorkingSet = 0;
    SIZE_T peakPagefile = 0;  // under Wine 8 the current private bytes, not a peak
    SIZE_T peakPrivate = 0;   // the most private bytes seen by the polls
};

bool ReadMemory(HANDLE process, Memory* memory) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return false;
    memory->workingSet = counters.WorkingSetSize;
    memory->peakWorkingSet = counters.PeakWorkingSetSize;
    memory->peakPagefile = counters.PeakPagefileUsage;
    return true;
}

bool ReadMemory(HWND window, Memory* memory) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return false;
    const bool ok = ReadMemory(process, memory);
    CloseHandle(process);
    return ok;
}

// Clicks Done once the finished page's button says so; true when the
// installer then ends with exit code 0.
bool Finish(Installer& installer, HWND wizard) {
    if (!WaitUntil([&] { return ControlText(wizard, kNextButton) == "Done"; })) return false;
    Click(wizard, kNextButton);
    DWORD exitCode = 1;
    return installer.WaitForExit(&exitCode) && exitCode == 0;
}

int RunInstaller(const std::string& path) {
    Installer installer;
    StartUpSteps steps;
    steps.archiveLength = ArchiveLength(path);
    steps.launched = NowMs();
    if (!installer.Start(path)) return Fail("cannot start the installer", nullptr);
    HWND wizard = WaitForPage(installer, nullptr, kFolderPage, kLongWaitMs, [&] { steps.Look(installer); });
    const double firstPage = NowMs();
    if (wizard == nullptr) return Fail("no folder page", installer.FindDialog(DialogKind::kWizard));
    Memory onFirstPage;
    if (!ReadMemory(wizard, &onFirstPage)) return Fail("cannot read the installer's memory", wizard);

    Click(wizard, kNextButton);
    if (WaitForPage(installer, wizard, kSummaryPage, kWaitMs) == nullptr) return Fail("no summary page", wizard);
    if (!WaitUntil([&] { return ControlText(wizard, kNextButton) == "Install"; })) {
        return Fail("no Install button", wizard);
    }
    const double installClicked = NowMs();
    Click(wizard, kNextButton);
    if (WaitForPage(installer, wizard, kFinishedPage, kLongWaitMs) == nullptr) {
        return Fail("no finished page (a question on the way?)", wizard);
    }
    const double finished = NowMs();

    Memory memory;
    if (!ReadMemory(wizard, &memory)) return Fail("cannot read the installer's memory", wizard);
    if (!Finish(installer, wizard)) return Fail("Done did not end the installer with exit code 0", wizard);
    std::printf("kxbench launch_ms=%.1f dialog_ms=%.1f copied_ms=%.1f install_ms=%.1f peak_working_set=%llu "
                "peak_pagefile=%llu first_page_peak=%llu first_page_working_set=%llu finished_working_set=%llu\n",
                firstPage - steps.launched, steps.extractionDialog, steps.copied, finished - installClicked,
                Bytes(memory.peakWorkingSet), Bytes(memory.peakPagefile), Bytes(onFirstPage.peakWorkingSet),
                Bytes(onFirstPage.workingSet), Bytes(memory.workingSet));
    return 0;
}

// Waits for the process to end, reading its memory every
// kMemoryPollMs: a peak only grows, so the last reading before the end is
// the process's peak, give or take what its last moments added.
bool WaitReadingMemory(HANDLE process, DWORD timeoutMs, Memory* memory) {
    const double start = NowMs();
    for (;;) {
        if (WaitForSingleObject(process, kMemoryPollMs) == WAIT_OBJECT_0) return true;
        Memory now;
        if (ReadMemory(process, &now)) {
            now.peakPrivate = std::max(memory->peakPrivate, now.peakPagefile);
            *memory = now;
        }
        if (NowMs() - start >= timeoutMs) return false;
    }
}

int RunProgram(int argc, char** argv) {
    std::string commandLine = std::string("\"") + argv[2] + "\"";
    for (int i = 3; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    const double launched = NowMs();
    if (!CreateProcessA(argv[2], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return Fail("cannot start the program", nullptr);
    }
    Memory memory;
    const bool ended = WaitReadingMemory(process.hProcess, kLongWaitMs, &memory);
    const double endedAt = NowMs();
    DWORD exitCode = 1;
    if (!ended) (void)TerminateProcess(process.hProcess, 1);  // only the one started here
    (void)GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (!ended) return Fail("the program did not end in time", nullptr);
    if (exitCode != 0) {
        std::printf("kxbench error=\"exit code %lu\"\n", static_cast<unsigned long>(exitCode));
        return 1;
    }
    std::printf("kxbench run_ms=%.1f peak_working_set=%llu peak_pagefile=%llu peak_private=%llu\n",
                endedAt - launched, Bytes(memory.peakWorkingSet), Bytes(memory.peakPagefile),
                Bytes(memory.peakPrivate));
    return 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kx_install_bench install INSTALLER\n"
                 "       kx_install_bench run PROGRAM [ARGUMENT...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "install") == 0) return RunInstaller(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0) return RunProgram(argc, argv);
    return Usage();
}
