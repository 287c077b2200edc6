// Shows where the installer's install phase spends its time, file by file,
// without touching the installer: the core calls it makes per file, added
// one at a time, then its own install worker. tools/run-bench runs every
// step into a fresh install folder and prints the cost each step adds.
//
//   kx_install_steps STEP INSTALLER
//
// Steps, each doing all that the one before does:
//   extract   ExtractArchiveItem straight to the destination (the reader:
//             folder checks, create, inflate with CRC, file times)
//   partial   extract to "<destination>.kxpart", then MoveFileReplacing
//   check     PathExists(destination) first, the overwrite check
//   list      AppendLine of the destination to the uninstall list
//   silent    RunInstallation itself with a view that shows nothing: adds
//             reading fileinfo.txt, the payload index, the status texts
//   installation  the installer's own InstallWorker thread and view,
//             reporting to the wizard dialog (the installer's template on
//             its installing page), which the main thread owns and serves,
//             timed to the worker's "finished" message
//
// Loading (copy-out, control files) happens before the clock starts, and so
// does the payload index for the first four steps; the loader's steps are
// timed on their own. Prints "kxbench step=S files=N copy_ms=..
// control_folder_ms=.. control_files_ms=.. ms=T"; exit code 0 when every
// file was placed.

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ArchiveReader.h"
#include "archive/PackageFormat.h"
#include "install/InstallWorker.h"
#include "control/MacroExpander.h"
#include "text/TextEncoding.h"
#include "install/Installation.h"
#include "platform/Platform.h"
#include "resources/ResourceIds.h"
#include "startup/ControlFiles.h"
#include "startup/PackageLoader.h"
#include "common/RemoveFolderTree.h"
#include "common/Rollback.h"
#include "state/TheInstaller.h"
#include "state/Workspace.h"
#include "wizard/PageController.h"

// The installer's one state record, which its install worker reads.
InstallerState theInstaller;

namespace {

const char kPartialSuffix[] = ".kxpart";
const char kInstallFolder[] = "C:\\bench\\out";

enum class Step { Extract, Partial, Check, List, Journal, Silent, Installation };

struct StepName {
    const char* name;
    Step step;
};

const StepName kSteps[] = {
    {"extract", Step::Extract}, {"partial", Step::Partial}, {"check", Step::Check},
    {"list", Step::List},       {"journal", Step::Journal}, {"silent", Step::Silent},
    {"installation", Step::Installation},
};

double NowMs() {
    static LARGE_INTEGER frequency = {};
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Line {
    std::string name;
    std::string destination;
};

// fileinfo.txt as the installer reads it: name|folder up to "////".
std::vector<Line> ReadFileInfo(const std::string& path) {
    std::vector<Line> lines;
    std::ifstream in(path);
    std::string text;
    while (std::getline(in, text)) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        if (text.compare(0, kUtf8MarkLength, kUtf8Mark) == 0) text.erase(0, kUtf8MarkLength);  // an expanded file has it
        if (text.compare(0, 4, "////") == 0) break;
        const size_t bar = text.find('|');
        if (bar == std::string::npos) continue;
        std::string folder = text.substr(bar + 1);
        if (!folder.empty() && folder.back() != '\\') folder += '\\';
        lines.push_back({text.substr(0, bar), folder + text.substr(0, bar)});
    }
    return lines;
}

int32_t CountPlaced(const std::vector<Line>& lines) {
    int32_t placed = 0;
    for (const Line& line : lines) placed += platform::PathExists(line.destination.c_str()) ? 1 : 0;
    return placed;
}

// ------------------------------------------------------------ the ladder

std::unordered_map<std::string, int32_t> PayloadIndex(ArchiveHandle archive) {
    std::unordered_map<std::string, int32_t> index;
    ArchiveEntry entry;
    (void)GetArchiveItem(archive, -1, &entry);  // no archive: no items
    const int32_t count = entry.index;
    for (int32_t i = 0; i < count; ++i) {
        if (GetArchiveItem(archive, i, &entry) != ArchiveResult::Ok) continue;
        if (std::strncmp(entry.name, package::kControlFolder, package::kControlFolderLength) == 0) continue;
        std::string name = entry.name;
        for (char& c : name) {
            if (c == '/') c = '\\';
        }
        index.emplace(name, i);
    }
    return index;
}

bool PlaceOne(Step step, ArchiveHandle archive, int32_t item, const Line& line, const std::string& listPath,
              Journal& journal) {
    if (step >= Step::Check && platform::PathExists(line.destination.c_str())) return false;  // must be fresh
    if (step >= Step::Journal && !journal.NewFile(line.destination)) return false;
    bool placed = false;
    if (step == Step::Extract) {
        placed = ExtractArchiveItem(archive, item, line.destination.c_str()) == ArchiveResult::Ok;
    } else {
        const std::string partial = line.destination + kPartialSuffix;
        placed = ExtractArchiveItem(archive, item, partial.c_str()) == ArchiveResult::Ok &&
                 platform::MoveFileReplacing(partial.c_str(), line.destination.c_str());
    }
    if (step >= Step::List) AppendLine(listPath, line.destination);
    return placed;
}

// Returns the number of files placed.
int32_t RunLadder(Step step, const std::vector<Line>& lines) {
    ArchiveHandle archive = OpenHeldArchive(ArchiveCopyPath().c_str());
    if (archive == nullptr) return 0;
    const std::unordered_map<std::string, int32_t> index = PayloadIndex(archive);
    const std::string listPath = std::string(kInstallFolder) + "\\uninstall.ini";
    CreateFolderChain(kInstallFolder);
    int32_t placed = 0;
    const double start = NowMs();
    Journal journal;
    if (step >= Step::Journal && !journal.Start(JournalPathIn(kInstallFolder), kInstallFolder)) return 0;
    for (const Line& line : lines) {
        const auto found = index.find(line.name);
        if (found != index.end() && PlaceOne(step, archive, found->second, line, listPath, journal)) placed += 1;
    }
    journal.Close();
    const double elapsed = NowMs() - start;
    if (step >= Step::Journal) (void)platform::RemoveFile(JournalPathIn(kInstallFolder).c_str());
    CloseArchive(archive);
    std::printf("ms=%.1f\n", elapsed);
    return placed;
}

// ------------------------------------------------------------ RunInstallation

// A view that shows nothing: what RunInstallation costs without a window.
class SilentView : public InstallView {
public:
    std::string InstallFolderText() override { return kInstallFolder; }
    void UseReportingWindow() override {}
    void SetStatus(const std::string&) override {}
    void SetProgressRange(int32_t) override {}
    void SetProgressPosition(int32_t) override {}
    OverwriteAnswer AskOverwrite(const std::string&) override { return OverwriteAnswer::Cancel; }
    FailureAnswer AskAboutFailure(const std::string&) override { return FailureAnswer::Abort; }
    bool IsLocationTicked(int32_t) override { return false; }
    bool CreateShellLink(const std::string&, const std::string&, const std::string&) override { return true; }
    void NotifyFolderCreated(const std::string&) override {}
    void Tell(const std::string&) override {}
};

int32_t RunSilent(const std::vector<Line>& lines) {
    SilentView view;
    const double start = NowMs();
    const InstallOutcome outcome = RunInstallation(theInstaller, view);
    std::printf("ms=%.1f\n", NowMs() - start);
    return outcome == InstallOutcome::Finished ? CountPlaced(lines) : 0;
}

// ------------------------------------------------------------ the install worker

double workerFinishedAt = 0;  // written by the main thread only

INT_PTR CALLBACK WizardProcedure(HWND dialog, UINT message, WPARAM, LPARAM) {
    if (message != kInstallFinishedMessage) return FALSE;
    workerFinishedAt = NowMs();
    DestroyWindow(dialog);
    PostQuitMessage(0);
    return TRUE;
}

// The wizard from the installer's resources, as its installing page shows it.
HWND OpenInstallingPage() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    (void)LoadLibraryA("RichEd32.dll");  // the template's text box class
    HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_WIZARD), nullptr,
                                     WizardProcedure, 0);
    if (dialog == nullptr) return nullptr;
    SetDlgItemTextA(dialog, IDC_FOLDER, kInstallFolder);  // the worker reads the folder from here
    for (int id : {IDC_NEXT, IDC_PREVIOUS, IDC_TEXT, IDC_FOLDER, IDC_BROWSE, IDC_FOLDER_PROMPT, IDC_SUMMARY,
                   IDC_DESKTOP, IDC_START_MENU, IDC_QUICK_LAUNCH, IDC_CREDIT, IDC_DISK_SPACE}) {
        ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
    }
    for (int id : {IDC_STATUS, SelectedProgressBar(theInstaller), IDC_CANCEL}) {
        ShowWindow(GetDlgItem(dialog, id), SW_SHOW);
    }
    SetWindowTextA(dialog, "KX Bench - Installing...");
    ShowWindow(dialog, SW_SHOWNORMAL);
    return dialog;
}

void RunMessageLoop(HWND dialog) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// As in the installer: the main thread serves the wizard while the worker
// thread places the files and posts "finished" to it.
int32_t RunInstallWorker(const std::vector<Line>& lines) {
    HWND dialog = OpenInstallingPage();
    if (dialog == nullptr) return 0;
    theInstaller.wizardWindow = dialog;
    const double start = NowMs();
    HANDLE worker = CreateThread(nullptr, 0, InstallWorker, nullptr, 0, nullptr);
    if (worker == nullptr) return 0;
    RunMessageLoop(dialog);
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
    std::printf("ms=%.1f\n", workerFinishedAt - start);
    return CountPlaced(lines);
}

// ------------------------------------------------------------ main

// How long the loader's steps took, in ms.
struct LoadTimes {
    double copy = 0;
    double controlFolder = 0;
    double controlFiles = 0;
};

// The loader's work, as the installer's loader thread does it, timed.
bool Load(InstallerState& state, const std::string& installer, LoadTimes* times) {
    if (!CreateWorkspace()) return false;
    const std::string temp = WorkspaceBase();
    const double start = NowMs();
    if (CopyArchiveOut(state, installer, ArchiveCopyPath(), CopyProgress()) != CopyResult::Copied) return false;
    const double copied = NowMs();
    if (!ExtractControlFolder(state, ArchiveCopyPath(), temp)) return false;
    const double extracted = NowMs();
    (void)LoadControlFiles(state, temp);  // false only says there is no full-screen window to open
    times->copy = copied - start;
    times->controlFolder = extracted - copied;
    times->controlFiles = NowMs() - extracted;
    return true;
}

bool ParseStep(const char* text, Step* step) {
    for (const StepName& known : kSteps) {
        if (std::strcmp(text, known.name) != 0) continue;
        *step = known.step;
        return true;
    }
    return false;
}

int32_t RunStep(Step step, const std::vector<Line>& lines) {
    if (step == Step::Silent) return RunSilent(lines);
    if (step == Step::Installation) return RunInstallWorker(lines);
    return RunLadder(step, lines);
}

}  // namespace

int main(int argc, char** argv) {
    Step step = Step::Extract;
    if (argc != 3 || !ParseStep(argv[1], &step)) {
        std::fprintf(stderr, "usage: kx_install_steps extract|partial|check|list|journal|silent|installation INSTALLER\n");
        return 2;
    }
    theInstaller.instance = GetModuleHandleA(nullptr);
    LoadTimes loaded;
    if (!Load(theInstaller, argv[2], &loaded)) return 1;
    // The list says "%install path%\" as kxpack wrote it; the steps below
    // the installer's own read it expanded.
    ExpandMacrosInFile(theInstaller.macroTable, ControlFilePath("fileinfo.txt"), kInstallFolder);
    const std::vector<Line> lines = ReadFileInfo(ControlFilePath("fileinfo.txt"));
    if (CountPlaced(lines) != 0) {
        // A file in place would make the installer ask about overwriting it.
        std::printf("kxbench error=\"the install folder is not empty\"\n");
        return 1;
    }
    std::printf("kxbench step=%s files=%zu copy_ms=%.1f control_folder_ms=%.1f control_files_ms=%.1f ", argv[1],
                lines.size(), loaded.copy, loaded.controlFolder, loaded.controlFiles);
    const int32_t placed = RunStep(step, lines);
    RemoveWorkspace();
    if (placed != static_cast<int32_t>(lines.size())) {
        std::printf("kxbench error=\"placed %d of %zu files\"\n", placed, lines.size());
        return 1;
    }
    return 0;
}
